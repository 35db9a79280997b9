// qvfields.h — field values of parsed nodes: one class per VRML field type,
// and the per-class table that finds a field by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vrml/qvinput.h"

class QvNode;

// Name/value pairs of one enumeration (or bit-mask) type.
struct QvEnumEntry {
  const char* typeName;
  std::vector<std::pair<std::string, int32_t>> values;
  bool lookup(const std::string& name, int32_t* value) const;
};

class QvField {
 public:
  virtual ~QvField() = default;
  // Reads one value with its ignore marker ("~").
  bool read(QvInput* in, const char* name);
  virtual bool readValue(QvInput* in) = 0;
  bool isDefault() const { return isDefault_; }
  bool isIgnored() const { return ignored_; }
  bool wasRead() const { return read_; }
  // Field type names a node may declare in "fields [ ... ]".
  static bool isTypeName(const std::string& name);

 private:
  bool isDefault_ = true;
  bool ignored_ = false;
  bool read_ = false;
};

class QvSFBool : public QvField {
 public:
  bool readValue(QvInput* in) override;
  int32_t value = 0;
};
class QvSFLong : public QvField {
 public:
  bool readValue(QvInput* in) override;
  int32_t value = 0;
};
class QvSFFloat : public QvField {
 public:
  bool readValue(QvInput* in) override;
  float value = 0;
};
class QvSFVec2f : public QvField {
 public:
  bool readValue(QvInput* in) override;
  float value[2] = {0, 0};
};
class QvSFVec3f : public QvField {
 public:
  bool readValue(QvInput* in) override;
  float value[3] = {0, 0, 0};
};
class QvSFColor : public QvSFVec3f {};
class QvSFRotation : public QvField {
 public:
  bool readValue(QvInput* in) override;
  float axis[3] = {0, 0, 1};
  float angle = 0;
};
class QvSFMatrix : public QvField {
 public:
  bool readValue(QvInput* in) override;
  float value[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};
class QvSFString : public QvField {
 public:
  bool readValue(QvInput* in) override;
  std::string value;
  // Every string of a bracketed list, when the file gave one (AsciiText).
  std::vector<std::string> lines;
  bool acceptList = false;
};
class QvSFEnum : public QvField {
 public:
  bool readValue(QvInput* in) override;
  int32_t value = 0;
  const QvEnumEntry* table = nullptr;
};
class QvSFBitMask : public QvField {
 public:
  bool readValue(QvInput* in) override;
  int32_t value = 0;
  const QvEnumEntry* table = nullptr;
};
class QvSFImage : public QvField {
 public:
  bool readValue(QvInput* in) override;
  uint16_t width = 0, height = 0;
  int32_t components = 0;
  std::vector<unsigned char> pixels;
};

// Multiple values: the element type, and how to read one.
template <typename T>
class QvMField : public QvField {
 public:
  bool readValue(QvInput* in) override;
  int num() const { return int(values.size()); }
  std::vector<T> values;

 protected:
  virtual bool read1Value(QvInput* in, T& v) = 0;
};
struct QvVec2 { float v[2]; };
struct QvVec3 { float v[3]; };
class QvMFLong : public QvMField<int32_t> {
 protected:
  bool read1Value(QvInput* in, int32_t& v) override { return in->readInt32(v); }
};
class QvMFFloat : public QvMField<float> {
 protected:
  bool read1Value(QvInput* in, float& v) override { return in->readFloat(v); }
};
class QvMFVec2f : public QvMField<QvVec2> {
 protected:
  bool read1Value(QvInput* in, QvVec2& v) override { return in->readFloat(v.v[0]) && in->readFloat(v.v[1]); }
};
class QvMFVec3f : public QvMField<QvVec3> {
 protected:
  bool read1Value(QvInput* in, QvVec3& v) override {
    return in->readFloat(v.v[0]) && in->readFloat(v.v[1]) && in->readFloat(v.v[2]);
  }
};
class QvMFColor : public QvMFVec3f {};

// The fields of one node class, by name, as offsets from the node; built
// from the first instance and shared by all.
class QvFieldData {
 public:
  void addField(QvNode* node, const char* name, QvField* field);
  int getNumFields() const { return int(fields_.size()); }
  const char* getFieldName(int i) const { return fields_[size_t(i)].name; }
  QvField* getField(const QvNode* node, int i) const;
  int findField(const std::string& name) const;
  // Reads "name value" pairs. Group nodes stop at the first word that is
  // not one of their fields and give it back.
  bool read(QvInput* in, QvNode* node, bool errorOnUnknownField) const;
  // "fields [ type name, ... ]" of a node that is not built in.
  static bool readFieldTypes(QvInput* in);

 private:
  struct Entry {
    const char* name;
    ptrdiff_t offset;
  };
  std::vector<Entry> fields_;
};
