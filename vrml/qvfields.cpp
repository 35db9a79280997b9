// qvfields.cpp — reading field values, and the per-class field tables.
#include "vrml/qvfields.h"

#include <cctype>
#include <cstring>
#include <type_traits>

#include "vrml/qvnodes.h"

bool QvEnumEntry::lookup(const std::string& name, int32_t* value) const {
  for (const auto& [n, v] : values)
    if (n == name) {
      *value = v;
      return true;
    }
  return false;
}

bool QvField::isTypeName(const std::string& name) {
  static const char* const kTypes[] = {"MFColor", "MFFloat", "MFLong", "MFVec2f", "MFVec3f", "SFBitMask",
                                       "SFBool",  "SFColor", "SFEnum", "SFFloat", "SFImage", "SFLong",
                                       "SFMatrix", "SFRotation", "SFString", "SFVec2f", "SFVec3f"};
  for (const char* t : kTypes)
    if (name == t) return true;
  return false;
}

bool QvField::read(QvInput* in, const char* name) {
  isDefault_ = false;
  QvInput::Mark m = in->mark();
  char c;
  if (in->read(c) && c == '~') {
    ignored_ = true;
    isDefault_ = true;
    return true;
  }
  in->reset(m);
  if (!readValue(in)) {
    QvReadError(QV_ERR_NONE, in, "Couldn't read value for field \"%s\"", name);
    return false;
  }
  read_ = true;
  m = in->mark();
  if (in->read(c) && c == '~')
    ignored_ = true;
  else
    in->reset(m);
  return true;
}

bool QvSFBool::readValue(QvInput* in) {
  int32_t v;
  QvInput::Mark m = in->mark();
  if (in->readInt32(v)) {
    if (v != 0 && v != 1) {
      QvReadError(QV_ERR_NONE, in, "Illegal value for QvSFBool: %d (must be 0 or 1)", v);
      return false;
    }
    value = v;
    return true;
  }
  in->reset(m);
  std::string word;
  if (!in->readName(word, true)) return false;
  if (word == "TRUE") {
    value = 1;
    return true;
  }
  if (word == "FALSE") {
    value = 0;
    return true;
  }
  QvReadError(QV_ERR_NONE, in, "Unknown value (\"%s\") for QvSFBool (must be TRUE or FALSE)", word.c_str());
  return false;
}

bool QvSFLong::readValue(QvInput* in) { return in->readInt32(value); }
bool QvSFFloat::readValue(QvInput* in) { return in->readFloat(value); }
bool QvSFVec2f::readValue(QvInput* in) { return in->readFloat(value[0]) && in->readFloat(value[1]); }
bool QvSFVec3f::readValue(QvInput* in) {
  return in->readFloat(value[0]) && in->readFloat(value[1]) && in->readFloat(value[2]);
}
bool QvSFRotation::readValue(QvInput* in) {
  return in->readFloat(axis[0]) && in->readFloat(axis[1]) && in->readFloat(axis[2]) && in->readFloat(angle);
}
bool QvSFMatrix::readValue(QvInput* in) {
  for (auto& row : value)
    for (float& x : row)
      if (!in->readFloat(x)) return false;
  return true;
}

bool QvSFString::readValue(QvInput* in) {
  lines.clear();
  if (acceptList) {
    QvInput::Mark m = in->mark();
    char c;
    if (in->read(c) && c == '[') {
      // A list of strings: each becomes a line of the text.
      value.clear();
      for (;;) {
        QvInput::Mark item = in->mark();
        if (!in->read(c)) return false;
        if (c == ']') break;
        if (c == ',') continue;
        in->reset(item);
        std::string s;
        if (!in->readString(s)) return false;
        lines.push_back(s);
      }
      for (size_t i = 0; i < lines.size(); ++i) {
        if (i) value += '\n';
        value += lines[i];
      }
      return true;
    }
    in->reset(m);
  }
  return in->readString(value);
}

bool QvSFEnum::readValue(QvInput* in) {
  std::string name;
  if (!in->readName(name, true) || name.empty()) return false;
  if (!table || !table->lookup(name, &value)) {
    QvReadError(QV_ERR_NONE, in, "Unknown QvSFEnum enumeration value \"%s\"", name.c_str());
    return false;
  }
  return true;
}

bool QvSFBitMask::readValue(QvInput* in) {
  value = 0;
  char c;
  QvInput::Mark m = in->mark();
  if (!in->read(c)) return false;
  if (c != '(') {
    in->reset(m);
    std::string name;
    if (!in->readName(name, true) || name.empty()) return false;
    int32_t bit;
    if (!table || !table->lookup(name, &bit)) {
      QvReadError(QV_ERR_NONE, in, "Unknown QvSFBitMask bit mask value \"%s\"", name.c_str());
      return false;
    }
    value = bit;
    return true;
  }
  for (;;) {
    std::string name;
    if (!in->readName(name, true)) {
      QvReadError(QV_ERR_NONE, in, "EOF reached before '%c' in QvSFBitMask value", ')');
      return false;
    }
    if (!name.empty()) {
      int32_t bit;
      if (table && table->lookup(name, &bit))
        value |= bit;
      else
        QvReadError(QV_ERR_NONE, in, "Unknown QvSFBitMask bit mask value \"%s\"", name.c_str());
    }
    if (!in->read(c)) {
      QvReadError(QV_ERR_NONE, in, "EOF reached before '%c' in QvSFBitMask value", ')');
      return false;
    }
    if (c == ')') return true;
    if (c != '|') {
      QvReadError(QV_ERR_NONE, in, "Expected '%c' or '%c', got '%c' in QvSFBitMask value", '|', ')', c);
      return false;
    }
  }
}

bool QvSFImage::readValue(QvInput* in) {
  if (!in->readUInt16(width) || !in->readUInt16(height) || !in->readInt32(components)) return false;
  pixels.clear();
  if (components < 0 || components > 4) return false;
  size_t count = size_t(width) * height;
  // The pixels are read one by one, so a lying header costs nothing until
  // the values are really there.
  for (size_t i = 0; i < count; ++i) {
    uint32_t px;
    if (!in->readUInt32(px)) return false;
    for (int j = 0; j < components; ++j) pixels.push_back(static_cast<unsigned char>(px >> ((components - j - 1) * 8)));
  }
  return true;
}

namespace {

// One element of each list type, without the virtual call: the lists of a
// large world hold millions of numbers.
inline bool readElement(QvInput* in, int32_t& v) { return in->readInt32(v); }
inline bool readElement(QvInput* in, float& v) { return in->readFloat(v); }
inline bool readElement(QvInput* in, QvVec2& v) { return in->readFloat(v.v[0]) && in->readFloat(v.v[1]); }
inline bool readElement(QvInput* in, QvVec3& v) {
  return in->readFloat(v.v[0]) && in->readFloat(v.v[1]) && in->readFloat(v.v[2]);
}

}  // namespace

template <typename T>
bool QvMField<T>::readValue(QvInput* in) {
  QvInput::Mark m = in->mark();
  char c;
  if (!in->read(c)) return false;
  if (c != '[') {
    in->reset(m);
    values.resize(1);
    return read1Value(in, values[0]);
  }
  values.clear();
  // The blanks before an element are skipped once: looking for the closing
  // bracket leaves the cursor past them when it is not there.
  auto closes = [&] {
    QvInput::Mark before = in->mark();
    if (in->skipWhiteSpace()) return in->takeIf(']');
    in->reset(before);
    return false;
  };
  if (closes()) return true;
  bool afterComma = false;
  int plain;
  if constexpr (std::is_same_v<T, int32_t>)
    plain = in->readPlainInt32List(values);
  else
    plain = in->readPlainFloatList(values);
  if (plain == QvInput::kListClosed) return true;
  afterComma = plain == QvInput::kListAfterComma;
  for (int n = int(values.size()) + 1;; ++n) {
    if (afterComma) {
      afterComma = false;
      if (closes()) return true;
    }
    T v{};
    if (!readElement(in, v)) {
      QvReadError(QV_ERR_NONE, in, "Couldn't read value %d of field", n);
      return false;
    }
    values.push_back(v);
    if (!in->read(c)) {
      QvReadError(QV_ERR_NONE, in, "Couldn't read value %d of field", n);
      return false;
    }
    if (c == ']') return true;
    if (c != ',') {
      QvReadError(QV_ERR_NONE, in, "Expected '%c' or '%c' but got '%c' while reading value %d", ',', ']', c, n);
      return false;
    }
    if (closes()) return true;  // a trailing comma
  }
}

template class QvMField<int32_t>;
template class QvMField<float>;
template class QvMField<QvVec2>;
template class QvMField<QvVec3>;

// ---------------------------------------------------------------------------

void QvFieldData::addField(QvNode* node, const char* name, QvField* field) {
  fields_.push_back({name, reinterpret_cast<char*>(field) - reinterpret_cast<char*>(node)});
}

QvField* QvFieldData::getField(const QvNode* node, int i) const {
  return reinterpret_cast<QvField*>(const_cast<char*>(reinterpret_cast<const char*>(node)) + fields_[size_t(i)].offset);
}

int QvFieldData::findField(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (name == fields_[i].name) return int(i);
  return -1;
}

namespace {

// After an unknown field: its values are skipped, up to the next word or
// the closing brace, so one field an old browser wrote does not cost the
// whole node.
void skipUnknownValue(QvInput* in) {
  for (;;) {
    QvInput::Mark m = in->mark();
    char c;
    if (!in->read(c)) return;
    if (c == '}' || std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      in->reset(m);
      return;
    }
    if (c == '"') {
      in->reset(m);
      std::string s;
      in->readString(s);
      continue;
    }
    if (c == '[' || c == '(') {
      int depth = 1;
      while (depth > 0 && in->get(c)) {
        if (c == '[' || c == '(')
          ++depth;
        else if (c == ']' || c == ')')
          --depth;
      }
      continue;
    }
    // a number or other punctuation: step over it
    while (in->get(c)) {
      if (std::isspace(static_cast<unsigned char>(c)) || c == '}' || c == '[' || c == '"') {
        in->putBack(c);
        break;
      }
    }
  }
}

}  // namespace

bool QvFieldData::read(QvInput* in, QvNode* node, bool errorOnUnknownField) const {
  if (fields_.empty() && !errorOnUnknownField) return true;
  for (;;) {
    QvInput::Mark m = in->mark();
    std::string name;
    if (!in->readName(name, true) || name.empty()) {
      in->reset(m);
      return true;
    }
    int i = findField(name);
    if (i < 0) {
      if (!errorOnUnknownField) {
        in->reset(m);
        return true;
      }
      QvReadError(QV_ERR_NONE, in, "Unknown field \"%s\"", name.c_str());
      skipUnknownValue(in);
      continue;
    }
    QvField* f = getField(node, i);
    if (!f->read(in, fields_[size_t(i)].name)) return false;
    node->addFieldInOrder(f);
  }
}

bool QvFieldData::readFieldTypes(QvInput* in) {
  char c;
  if (!in->read(c) || c != '[') return false;
  QvInput::Mark m = in->mark();
  if (in->read(c) && c == ']') return true;
  in->reset(m);
  for (;;) {
    std::string type, name;
    if (!in->readName(type, true) || type.empty() || !in->readName(name, true) || name.empty()) return false;
    if (!in->read(c)) return false;
    if (c == ']') return true;
    if (c != ',') return false;
    m = in->mark();
    if (in->read(c) && c == ']') return true;
    in->reset(m);
  }
}
