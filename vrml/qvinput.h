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
  bool get(char& c);
  bool read(char& c);
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

  // Skips white space and comments; false at end of input.
  bool skipWhiteSpace();
  // True when node text is left (a letter before the end, past comments).
  int isDataInFile() const;

  // DEF names seen in this input.
  QvNode* findReference(const std::string& name) const;
  void addReference(const std::string& name, QvNode* node);

  ZvUrlHash* urlEntry = nullptr;  // this file in the world's URL table
  long nodeCount = 0;             // nodes made from this input so far

 private:
  bool checkHeader();
  const char* scanNumber(bool real);
  bool readInteger(long long& x);
  int lastErrno_ = 0;

  std::string name_;
  char* data_ = nullptr;  // owned copy of the file
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  long line_ = 1;
  float version_ = 1.0f;
  bool headerChecked_ = false;
  bool headerValid_ = true;
  bool ok_ = false;
  std::unordered_map<std::string, QvNode*> references_;
};

// Read errors: formatted, wrapped with the file name and line, and shown
// once (an exact repeat of the previous one is dropped). The class becomes
// the last error code; class 0 is shown, others are only recorded.
void QvReadError(int cls, const QvInput* in, const char* format, ...) __attribute__((format(printf, 3, 4)));
void QvDebugError(const char* method, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The caller's text, then "<tag> : Occurred at line %ld", for a node that
// traversal found wanting; an exact repeat is dropped.
void QvLineMessage(const char* text, const char* tag, long line);
int QvGetLastError(void);
void QvClearLastError(void);
// Called by the parse entry points before a file is read.
void QvResetCurrentFile(const char* fileName);
