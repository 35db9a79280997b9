// qvinput.h — the lowest layer of the reader: the input (header check,
// comments, tokens, numbers, putback) over a file held in memory, and the
// read-error reporting shared by every reader class.
//
// The whole file is read into one buffer first: tokens are then slices of
// it, and putting a token back is moving the cursor, which is what makes
// reading fast.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ZvUrlHash;
class QvNode;

// Last read-error code: 0 none (also every ordinary error), 2 unknown node
// type, 3 end of file.
enum { QV_ERR_NONE = 0, QV_ERR_UNKNOWN_NODE = 2, QV_ERR_EOF = 3 };

class QvInput {
 public:
  // Reads the whole file; ok() is false when it cannot be read.
  QvInput(const char* fileName);
  // Reads from text in memory (additions from strings, tests).
  QvInput(const char* name, std::string_view text);
  ~QvInput();
  QvInput(const QvInput&) = delete;
  QvInput& operator=(const QvInput&) = delete;

  bool ok() const { return ok_; }
  const char* getCurFileName() const { return name_.c_str(); }
  long getLineNum() const { return line_; }
  float getVersion() const { return version_; }
  bool headerValid() const { return headerValid_; }
  bool eof() const { return pos_ >= end_; }

  // Single characters. read() skips white space and comments first.
  bool get(char& c) {
    if (ready_ && pos_ < end_) {
      c = *pos_++;
      line_ += c == '\n';
      return true;
    }
    return getSlow(c);
  }
  bool read(char& c) { return skipWhiteSpace() && get(c); }
  void putBack(char c);

  // A position to come back to: putting back a token is resetting to the
  // mark taken before it.
  struct Mark {
    const char* pos;
    long line;
  };
  Mark mark() const { return {pos_, line_}; }
  void reset(const Mark& m) {
    pos_ = m.pos;
    line_ = m.line;
  }

  // Tokens.
  bool readString(std::string& s);                    // quoted or bare
  bool readName(std::string& s, bool validIdent);     // empty: no name
  bool readInt32(int32_t& v);
  bool readUInt32(uint32_t& v);
  bool readInt16(int16_t& v);
  bool readUInt16(uint16_t& v);
  bool readFloat(float& v);
  bool readDouble(double& v);
  // The plain stretch of a bracketed integer list, from the first element
  // on: decimal numbers of at most nine digits, commas and blanks. Stops
  // before anything else (a comment, another form of number, an error) for
  // the general reader to take over: kListClosed past the closing bracket,
  // kListAtElement before an element, kListAfterComma just past a comma.
  enum { kListClosed, kListAtElement, kListAfterComma };
  int readPlainInt32List(std::vector<int32_t>& out);
  // The same for lists of floats and of two or three floats an element
  // (T is float, QvVec2 or QvVec3): numbers with at most a fraction, as the
  // quick conversion of readDouble takes them, blanks and commas.
  template <typename T>
  int readPlainFloatList(std::vector<T>& out);

  // Skips white space and comments; false at end of input. Most calls find
  // a token at once, so that case is decided here.
  bool skipWhiteSpace() {
    if (ready_) {
      const char* p = pos_ + (*pos_ == ' ');  // the file ends in a zero
      if (p < end_ && !isBlankOrComment(*p)) {
        pos_ = p;
        return true;
      }
    }
    return skipWhiteSpaceSlow();
  }
  // Takes c when it is the very next character.
  bool takeIf(char c) {
    if (pos_ < end_ && *pos_ == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Past white space and comments, the next character; false at the end
  // of the input (a comment left open there is no error here).
  bool peekText(char& c);
  // True when node text is left (a letter before the end, past comments).
  int isDataInFile() const;

  // DEF names seen in this input.
  QvNode* findReference(const std::string& name) const;
  void addReference(const std::string& name, QvNode* node);

  ZvUrlHash* urlEntry = nullptr;  // this file in the world's URL table
  long nodeCount = 0;             // nodes made from this input so far

 private:
  // A plain stretch's step from one element past its comma to the next.
  int stepPastElement(const char* s, long l, const char** p, long* line, int* state);
  static bool isBlankOrComment(char c) {
    return c == ' ' || c == '#' || (c >= '\t' && c <= '\r');
  }
  bool checkHeader();
  bool getSlow(char& c);
  bool skipWhiteSpaceSlow();
  const char* scanNumber(bool real);
  bool readInteger(long long& x);
  bool readIntegerSlow(long long& x);
  void reportInt32Range() const;
  bool readDoubleSlow(const char* end, double& v);
  // The powers of ten that a double holds exactly.
  static constexpr double kExact10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  int lastErrno_ = 0;

  std::string name_;
  char* data_ = nullptr;  // owned copy of the file
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  long line_ = 1;
  float version_ = 1.0f;
  bool headerChecked_ = false;
  bool headerValid_ = true;
  bool ready_ = false;  // header checked and valid: the fast paths may run
  bool ok_ = false;
  std::unordered_map<std::string, QvNode*> references_;
};

// Read errors: formatted, wrapped with the file name and line, and shown
// once (an exact repeat of the previous one is dropped). The class becomes
// the last error code; class 0 is shown, others are only recorded.
// Numbers are most of a world's text, so their common forms are read here,
// where the list readers can inline them. The buffer ends in a zero, which
// stops every scan without a bounds check.

inline bool QvInput::readInteger(long long& x) {
  if (!skipWhiteSpace()) return false;
  const char* p = pos_;
  bool neg = *p == '-';
  p += *p == '-' || *p == '+';
  const char* q = p;
  unsigned long long v = 0;  // wraps harmlessly past 19 digits: those go the long way
  while (unsigned(*q - '0') < 10) v = v * 10 + unsigned(*q++ - '0');
  size_t n = size_t(q - p);
  // A leading zero means octal, an x hexadecimal: those take the long way.
  if (n - 1 > 17 || (*p == '0' && n > 1) || *q == 'x' || *q == 'X') return readIntegerSlow(x);
  x = neg ? -(long long)v : (long long)v;
  lastErrno_ = 0;
  pos_ = q;
  return true;
}

inline bool QvInput::readInt32(int32_t& v) {
  long long x;
  if (!readInteger(x)) return false;
  if (lastErrno_ || x < INT32_MIN || x > int64_t(UINT32_MAX)) reportInt32Range();
  v = int32_t(uint32_t(x));
  return true;
}

// Scanned and converted in one pass. When the digits fit in 53 bits and the
// power of ten is exact, one multiplication or division rounds correctly,
// so the value is the one the full conversion gives; anything else (many
// digits, large exponents) takes the full conversion.
// The sign, digits and fraction of a decimal number at p, as one integer
// of whole + frac digits; end is the first character after them.
struct QvMantissa {
  uint64_t digits;
  size_t whole, frac;
  bool negative;
  const char* end;
};
__attribute__((always_inline)) inline QvMantissa qvScanMantissa(const char* p) {
  QvMantissa r{0, 0, 0, *p == '-', nullptr};
  p += *p == '-' || *p == '+';
  const char* q = p;
  while (unsigned(*q - '0') < 10) r.digits = r.digits * 10 + unsigned(*q++ - '0');
  r.whole = size_t(q - p);
  if (*q == '.') {
    const char* f = ++q;
    while (unsigned(*q - '0') < 10) r.digits = r.digits * 10 + unsigned(*q++ - '0');
    r.frac = size_t(q - f);
  }
  r.end = q;
  return r;
}

inline bool QvInput::readDouble(double& v) {
  if (!skipWhiteSpace()) return false;
  const QvMantissa n = qvScanMantissa(pos_);
  const bool neg = n.negative;
  const uint64_t m = n.digits;
  const size_t whole = n.whole, frac = n.frac;
  const char* q = n.end;
  if (whole + frac == 0) return false;
  long exp = 0;
  if (*q == 'e' || *q == 'E') {
    const char* e = q + 1;
    bool eneg = *e == '-';
    e += *e == '-' || *e == '+';
    const char* d = e;
    for (; unsigned(*e - '0') < 10; ++e)
      if (exp < 100000) exp = exp * 10 + (*e - '0');
    if (e == d) return false;  // an exponent marker needs digits
    if (eneg) exp = -exp;
    q = e;
  }
  long e10 = exp - long(frac);
  if (whole + frac > 19 || m > (uint64_t(1) << 53) || e10 < -22 || e10 > 22) return readDoubleSlow(q, v);
  double d = double(m);
  d = e10 < 0 ? d / kExact10[-e10] : d * kExact10[e10];
  v = neg ? -d : d;
  pos_ = q;
  return true;
}

inline bool QvInput::readFloat(float& v) {
  double d;
  if (!readDouble(d)) return false;
  v = float(d);
  return true;
}

void QvReadError(int cls, const QvInput* in, const char* format, ...) __attribute__((format(printf, 3, 4)));
void QvDebugError(const char* method, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The caller's text, then "<tag> : Occurred at line %ld", for a node that
// traversal found wanting; an exact repeat is dropped.
void QvLineMessage(const char* text, const char* tag, long line);
int QvGetLastError(void);
void QvClearLastError(void);
// Called by the parse entry points before a file is read.
void QvResetCurrentFile(const char* fileName);
