// qvinput.cpp — reading VRML text: the header line, white space and
// comments, strings, names and numbers; and the read-error post.
#include "vrml/qvinput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "scene/scene.h"
#include "vrml/qvnodes.h"

namespace {

constexpr const char kHeader[] = "#VRML V1.0 ascii";
// A gzip stream may not unpack to more than this; a bomb is a failure.
constexpr size_t kMaxInflated = size_t(512) << 20;

int lastError = QV_ERR_NONE;
char lastMessage[400];
char lastLineMessage[400];
std::string currentFile;

inline bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
// Steps over blanks, counting newlines. Indentation makes long runs, which
// are taken sixteen bytes at a time.
const char* skipBlanks(const char* p, const char* end, long& line) {
#ifdef __SSE2__
  const __m128i nine = _mm_set1_epi8(9), four = _mm_set1_epi8(4), space = _mm_set1_epi8(' '),
                newline = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i t = _mm_sub_epi8(x, nine);  // '\t' .. '\r' become 0 .. 4
    __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(x, space), _mm_cmpeq_epi8(_mm_min_epu8(t, four), t));
    unsigned other = ~unsigned(_mm_movemask_epi8(blank)) & 0xffffu;
    unsigned nl = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, newline)));
    if (other) {
      unsigned k = unsigned(__builtin_ctz(other));
      for (nl &= (1u << k) - 1; nl; nl &= nl - 1) ++line;
      return p + k;
    }
    for (; nl; nl &= nl - 1) ++line;
    p += 16;
  }
#endif
  while (p < end && isSpace(*p)) {
    line += *p == '\n';
    ++p;
  }
  return p;
}

inline bool isIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

// Carriage returns never reach the parser, so CR LF and LF read alike.
// Works in place; answers the new length.
size_t dropCarriageReturns(char* buf, size_t n) {
  char* cr = static_cast<char*>(std::memchr(buf, '\r', n));
  if (!cr) return n;
  size_t k = size_t(cr - buf);
  for (size_t i = k; i < n; ++i)
    if (buf[i] != '\r') buf[k++] = buf[i];
  return k;
}

// The whole file in one malloc'd buffer with room for a terminating zero,
// which the scanners rely on; read straight from the descriptor, as the
// size is known.
char* slurp(int fd, size_t size, size_t* outLen) {
  size_t cap = size + 4096;  // and a little more, for a file that grows meanwhile
  char* buf = static_cast<char*>(std::malloc(cap + 1));
  size_t len = 0;
  while (buf) {
    ssize_t got = read(fd, buf + len, cap - len);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::free(buf);
      return nullptr;
    }
    if (got == 0) break;
    len += size_t(got);
    if (len < cap) continue;
    char* bigger = static_cast<char*>(std::realloc(buf, cap * 2 + 1));
    if (!bigger) {
      std::free(buf);
      return nullptr;
    }
    buf = bigger;
    cap *= 2;
  }
  *outLen = len;
  return buf;
}

// The stream through zlib, a piece at a time; null on corrupt input or a stream
// that would unpack past the limit.
char* inflateWithZlib(const unsigned char* src, size_t n, size_t* outLen) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) return nullptr;
  size_t cap = n * 4 + 4096, len = 0;
  char* out = static_cast<char*>(std::malloc(cap + 1));
  z.next_in = const_cast<unsigned char*>(src);
  z.avail_in = unsigned(n);
  int r = Z_OK;
  while (out) {
    if (len == cap) {
      if (cap >= kMaxInflated) break;
      size_t grown = cap * 2 > kMaxInflated ? kMaxInflated : cap * 2;
      char* bigger = static_cast<char*>(std::realloc(out, grown + 1));
      if (!bigger) break;
      out = bigger;
      cap = grown;
    }
    z.next_out = reinterpret_cast<unsigned char*>(out + len);
    z.avail_out = unsigned(cap - len);
    r = inflate(&z, Z_NO_FLUSH);
    len = cap - z.avail_out;
    if (r == Z_STREAM_END) break;
    if (r != Z_OK && r != Z_BUF_ERROR) break;
    if (r == Z_BUF_ERROR && z.avail_in == 0) break;  // truncated
  }
  inflateEnd(&z);
  if (r != Z_STREAM_END) {
    std::free(out);
    return nullptr;
  }
  *outLen = len;
  return out;
}

// Unpacks the first gzip member of a stream held in memory; null on corrupt
// input or a stream that would unpack past the limit. The whole-buffer
// decoder is given room for the size the trailer claims (a hint only: the
// trailer is as hostile as the rest) and more room while it asks for it.
char* inflateAll(const unsigned char* src, size_t n, size_t* outLen) {
  if (n < 18) return nullptr;  // header and trailer alone take this much
  // A header checksum is left to zlib, which checks it; the fast decoder
  // would skip it and accept what zlib refuses.
  if (src[3] & 0x02) return inflateWithZlib(src, n, outLen);
  size_t claimed = size_t(src[n - 4]) | size_t(src[n - 3]) << 8 | size_t(src[n - 2]) << 16 | size_t(src[n - 1]) << 24;
  // Deflate packs at best about a thousand to one.
  size_t cap = std::max(claimed, n * 4 + 4096);
  cap = std::min({cap, n * 1032 + 4096, kMaxInflated});
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  if (!d) return nullptr;
  char* out = nullptr;
  for (;;) {
    char* bigger = static_cast<char*>(std::realloc(out, cap + 1));
    if (!bigger) break;
    out = bigger;
    size_t used = 0, len = 0;
    libdeflate_result r = libdeflate_gzip_decompress_ex(d, src, n, out, cap, &used, &len);
    if (r == LIBDEFLATE_SUCCESS) {
      libdeflate_free_decompressor(d);
      *outLen = len;
      return out;
    }
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE || cap >= kMaxInflated) break;
    cap = cap * 2 > kMaxInflated ? kMaxInflated : cap * 2;
  }
  libdeflate_free_decompressor(d);
  std::free(out);
  return nullptr;
}

}  // namespace

QvInput::QvInput(const char* fileName) {
  name_ = fileName ? fileName : "";
  if (!fileName) {
    QvDebugError("QvInput::QvInput", "argument pointer to filename is null.");
    return;
  }
  int fd = open(fileName, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // Only a regular file of sane size is a world: a name that leads to a
  // device or a pipe must not be read for ever.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (off_t(1) << 30)) {
    close(fd);
    zvMessage("%s: %s", fileName, "not a regular file, or too large to be a world.");
    return;
  }
  size_t len = 0;
  char* raw = slurp(fd, size_t(st.st_size), &len);
  close(fd);
  if (!raw) return;
  if (len >= 2 && static_cast<unsigned char>(raw[0]) == 0x1f && static_cast<unsigned char>(raw[1]) == 0x8b) {
    data_ = inflateAll(reinterpret_cast<const unsigned char*>(raw), len, &len);
    std::free(raw);
    if (!data_) {
      zvMessage("%s: %s", fileName, "the compressed file is corrupt or too large.");
      return;
    }
  } else {
    data_ = raw;
  }
  len = dropCarriageReturns(data_, len);
  data_[len] = '\0';
  if (!data_) return;
  pos_ = data_;
  end_ = data_ + len;
  ok_ = true;
}

QvInput::QvInput(const char* name, std::string_view text) : name_(name ? name : "") {
  data_ = static_cast<char*>(std::malloc(text.size() + 1));
  if (!data_) return;
  std::memcpy(data_, text.data(), text.size());
  size_t len = dropCarriageReturns(data_, text.size());
  data_[len] = '\0';
  pos_ = data_;
  end_ = data_ + len;
  ok_ = true;
}

QvInput::~QvInput() {
  for (auto& [name, node] : references_)
    if (node) node->unref();
  std::free(data_);
}

bool QvInput::checkHeader() {
  headerChecked_ = true;
  // Anything but letters and digits may stand before the '#'.
  while (pos_ < end_ && *pos_ != '#' && !std::isalnum(static_cast<unsigned char>(*pos_))) {
    if (*pos_ == '\n') ++line_;
    ++pos_;
  }
  char buf[256];
  size_t n = 0;
  if (pos_ < end_ && *pos_ == '#') {
    bool overflow = false;
    while (pos_ < end_ && *pos_ != '\n') {
      if (n < sizeof buf - 1)
        buf[n++] = *pos_;
      else
        overflow = true;
      ++pos_;
    }
    if (pos_ < end_) {
      ++pos_;
      ++line_;
    }
    if (overflow) QvDebugError("QvInput::checkHeader", "256 buffer size is overflow.");
  }
  buf[n] = '\0';
  if (n > 0 && std::strcmp(buf, kHeader) == 0) {
    version_ = 1.0f;
    ready_ = true;
    return true;
  }
  version_ = 0.0f;
  headerValid_ = false;
  if (n == 0)
    QvReadError(QV_ERR_NONE, this, "File does not have a valid header string.\n\tNG:   %s\n\tOK:   %s",
                "The header string is not found.", kHeader);
  else
    QvReadError(QV_ERR_NONE, this, "File does not have a valid header string.\n\tNG:   %s\n\tOK:   %s", buf,
                kHeader);
  return false;
}

bool QvInput::getSlow(char& c) {
  if (!headerChecked_ && !checkHeader()) return false;
  if (!headerValid_) return false;
  if (pos_ >= end_) {
    lastError = QV_ERR_EOF;
    return false;
  }
  c = *pos_++;
  if (c == '\n') ++line_;
  return true;
}

void QvInput::putBack(char c) {
  if (pos_ > data_) {
    --pos_;
    if (c == '\n') --line_;
  }
}

bool QvInput::skipWhiteSpaceSlow() {
  if (!headerChecked_ && !checkHeader()) return false;
  if (!headerValid_) return false;
  for (;;) {
    pos_ = skipBlanks(pos_, end_, line_);
    if (pos_ < end_ && *pos_ == '#') {
      const char* nl = static_cast<const char*>(std::memchr(pos_, '\n', size_t(end_ - pos_)));
      if (!nl) {
        pos_ = end_;
        QvReadError(QV_ERR_NONE, this, "EOF reached before end of comment");
        lastError = QV_ERR_EOF;
        return false;
      }
      pos_ = nl + 1;
      ++line_;
      continue;
    }
    break;
  }
  if (pos_ >= end_) {
    lastError = QV_ERR_EOF;
    return false;
  }
  return true;
}

bool QvInput::peekText(char& c) {
  if (!ready_) return false;
  for (;;) {
    pos_ = skipBlanks(pos_, end_, line_);
    if (pos_ >= end_) return false;
    if (*pos_ != '#') break;
    const char* nl = static_cast<const char*>(std::memchr(pos_, '\n', size_t(end_ - pos_)));
    if (!nl) return false;
    pos_ = nl + 1;
    ++line_;
  }
  c = *pos_;
  return true;
}

bool QvInput::readString(std::string& s) {
  s.clear();
  if (!skipWhiteSpace()) return false;
  if (*pos_ != '"') {
    const char* start = pos_;
    while (pos_ < end_ && !isSpace(*pos_)) ++pos_;
    s.assign(start, size_t(pos_ - start));
    return true;
  }
  ++pos_;
  for (;;) {
    const char* start = pos_;
    while (pos_ < end_ && *pos_ != '"' && *pos_ != '\\' && *pos_ != '\n') ++pos_;
    s.append(start, size_t(pos_ - start));
    if (pos_ >= end_) return true;  // an unclosed string ends with the file
    char c = *pos_++;
    if (c == '"') return true;
    if (c == '\n') {
      ++line_;
      s += '\n';
    } else if (c == '\\') {
      if (pos_ < end_ && *pos_ == '"') {
        s += '"';
        ++pos_;
      } else {
        s += '\\';
      }
    }
  }
}

bool QvInput::readName(std::string& s, bool validIdent) {
  if (!validIdent) return readString(s);
  s.clear();
  if (!skipWhiteSpace()) return false;
  if (!isIdentStart(*pos_)) return true;
  const char* start = pos_;
  while (pos_ < end_ && isIdentChar(*pos_)) ++pos_;
  size_t n = size_t(pos_ - start);
  if (n > 255) {
    QvDebugError("QvInput::read", "buffer 256 size is overflow.");
    n = 255;
    pos_ = start + n;  // the rest is read as what follows
  }
  s.assign(start, n);
  return true;
}

// Finds the end of the number at the cursor, by the grammar of integers
// (sign, 0x hexadecimal, 0 octal, decimal) or reals (sign, digits, point,
// digits, exponent); null when there is none. Nothing is copied: the
// converters read straight from the buffer.
const char* QvInput::scanNumber(bool real) {
  if (!skipWhiteSpace()) return nullptr;
  const char* p = pos_;
  if (p < end_ && (*p == '-' || *p == '+')) ++p;
  auto digits = [&](const char* q) {
    while (q < end_ && *q >= '0' && *q <= '9') ++q;
    return q;
  };
  if (!real) {
    if (p + 1 < end_ && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
      const char* h = p + 2;
      const char* q = h;
      while (q < end_ && std::isxdigit(static_cast<unsigned char>(*q))) ++q;
      return q == h ? nullptr : q;
    }
    const char* q = digits(p);
    return q == p ? nullptr : q;
  }
  const char* q = digits(p);
  bool before = q != p, after = false;
  if (q < end_ && *q == '.') {
    const char* f = q + 1;
    const char* r = digits(f);
    after = r != f;
    q = r;
  }
  if (!before && !after) return nullptr;
  if (q < end_ && (*q == 'e' || *q == 'E')) {
    const char* e = q + 1;
    if (e < end_ && (*e == '-' || *e == '+')) ++e;
    const char* r = digits(e);
    if (r == e) return nullptr;  // an exponent marker needs digits
    q = r;
  }
  return q;
}

// Octal, hexadecimal and overlong integers: the C library knows them.
namespace {

bool isPlainBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One number in the form readDouble converts on its quick path with no
// exponent, converted the same way; false, with nothing taken, for any
// other form.
__attribute__((always_inline)) inline bool takePlainReal(const char*& p, float& out, const double* exact10) {
  const QvMantissa n = qvScanMantissa(p);
  const size_t digits = n.whole + n.frac;
  if (digits == 0 || digits > 19 || n.digits > (uint64_t(1) << 53) || n.frac > 22 || *n.end == 'e' || *n.end == 'E')
    return false;
  double v = double(n.digits);
  if (n.frac) v /= exact10[n.frac];
  out = float(n.negative ? -v : v);
  p = n.end;
  return true;
}

float* componentsOf(float& v) { return &v; }
float* componentsOf(QvVec2& v) { return v.v; }
float* componentsOf(QvVec3& v) { return v.v; }

}  // namespace

// After an element of a plain stretch, at the comma or bracket s points to
// (line l): past the list (kListClosed, the cursor moved there), on to the
// next element (kListAtElement, p and line there), or back to the general
// reader (kListAfterComma, p and line just past the comma).
inline int QvInput::stepPastElement(const char* s, long l, const char** p, long* line, int* state) {
  if (*s == ']') {
    pos_ = s + 1;
    line_ = l;
    return kListClosed;
  }
  for (++s; isPlainBlank(*s); ++s) l += *s == '\n';
  *p = s;
  *line = l;
  *state = kListAfterComma;
  if (*s == ']') {  // a trailing comma
    pos_ = s + 1;
    line_ = l;
    return kListClosed;
  }
  if (*s == '#' || s >= end_) return kListAfterComma;
  *state = kListAtElement;
  return kListAtElement;
}

// Integer lists (coordIndex and its kin) are most of a world's numbers.
// Here they are read with the cursor and line count in registers and no
// putting back; every form this loop does not know is left, unconsumed, to
// the general reader, so that messages and leniency stay its own.
int QvInput::readPlainInt32List(std::vector<int32_t>& out) {
  if (!ready_) return kListAtElement;
  const char* p = pos_;
  long line = line_;
  int state = kListAtElement;
  for (;;) {
    const char* q = p;
    bool neg = *q == '-';
    q += *q == '-' || *q == '+';
    const char* d = q;
    uint32_t v = 0;
    while (unsigned(*q - '0') < 10 && q - d < 10) v = v * 10 + unsigned(*q++ - '0');
    size_t n = size_t(q - d);
    // Octal, hexadecimal and long numbers take the general way.
    if (n == 0 || n > 9 || (*d == '0' && n > 1) || *q == 'x' || *q == 'X') break;
    const char* s = q;
    long l = line;
    for (; isPlainBlank(*s); ++s) l += *s == '\n';
    if (*s != ',' && *s != ']') break;
    out.push_back(neg ? -int32_t(v) : int32_t(v));
    lastErrno_ = 0;
    int next = stepPastElement(s, l, &p, &line, &state);
    if (next == kListClosed) return kListClosed;
    if (next != kListAtElement) break;
  }
  pos_ = p;
  line_ = line;
  return state;
}


template <typename T>
int QvInput::readPlainFloatList(std::vector<T>& out) {
  if (!ready_) return kListAtElement;
  constexpr int k = sizeof(T) / sizeof(float);
  const char* p = pos_;
  long line = line_;
  int state = kListAtElement;
  for (;;) {
    T v{};
    float* c = componentsOf(v);
    const char* s = p;
    long l = line;
    int i = 0;
    for (; i < k; ++i) {
      if (i > 0) {
        // Numbers of an element stand apart by blanks alone here.
        if (!isPlainBlank(*s)) break;
        for (; isPlainBlank(*s); ++s) l += *s == '\n';
      }
      if (!takePlainReal(s, c[i], kExact10)) break;
    }
    if (i < k) break;
    for (; isPlainBlank(*s); ++s) l += *s == '\n';
    if (*s != ',' && *s != ']') break;
    out.push_back(v);
    int next = stepPastElement(s, l, &p, &line, &state);
    if (next == kListClosed) return kListClosed;
    if (next != kListAtElement) break;
  }
  pos_ = p;
  line_ = line;
  return state;
}

template int QvInput::readPlainFloatList(std::vector<float>&);
template int QvInput::readPlainFloatList(std::vector<QvVec2>&);
template int QvInput::readPlainFloatList(std::vector<QvVec3>&);

bool QvInput::readIntegerSlow(long long& x) {
  const char* e = scanNumber(false);
  if (!e) return false;
  char buf[128];
  size_t len = std::min<size_t>(size_t(e - pos_), sizeof buf - 1);
  std::memcpy(buf, pos_, len);
  buf[len] = '\0';
  errno = 0;
  x = std::strtoll(buf, nullptr, 0);
  lastErrno_ = errno;
  pos_ = e;
  return true;
}

void QvInput::reportInt32Range() const {
  QvDebugError("QvInput::readInteger", "strtol() returns %d error.", lastErrno_ ? lastErrno_ : ERANGE);
}

bool QvInput::readUInt32(uint32_t& v) {
  long long x;
  if (!readInteger(x)) return false;
  if (lastErrno_ || x > int64_t(UINT32_MAX))
    QvDebugError("QvInput::readUnsignedInteger", "strtoul() returns %d error.", lastErrno_ ? lastErrno_ : ERANGE);
  v = uint32_t(x);
  return true;
}

bool QvInput::readInt16(int16_t& v) {
  int32_t x;
  if (!readInt32(x)) return false;
  v = int16_t(x);
  return true;
}

bool QvInput::readUInt16(uint16_t& v) {
  uint32_t x;
  if (!readUInt32(x)) return false;
  v = uint16_t(x);
  return true;
}

bool QvInput::readDoubleSlow(const char* e, double& v) {
  const char* p = pos_ + (*pos_ == '+');
  auto r = std::from_chars(p, e, v);
  if (r.ec == std::errc::result_out_of_range) {
    QvDebugError("QvInput::readReal", "atof() returns %d error.", ERANGE);
    char buf[128];
    size_t n = std::min<size_t>(size_t(e - pos_), sizeof buf - 1);
    std::memcpy(buf, pos_, n);
    buf[n] = '\0';
    v = std::atof(buf);
  }
  pos_ = e;
  return true;
}

int QvInput::isDataInFile() const {
  // Past white space and comments, is a letter left?
  const char* p = pos_;
  while (p < end_) {
    char c = *p;
    if (c == '#') {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end_ - p)));
      if (!nl) return 0;
      p = nl + 1;
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c))) return 1;
    ++p;
  }
  return 0;
}

QvNode* QvInput::findReference(const std::string& name) const {
  auto it = references_.find(name);
  return it == references_.end() ? nullptr : it->second;
}

// The table holds its own reference: a DEF inside a node that later fails
// must not leave a USE pointing at freed memory.
void QvInput::addReference(const std::string& name, QvNode* node) {
  if (node) node->ref();
  QvNode*& slot = references_[name];
  if (slot) slot->unref();
  slot = node;
}

// ---------------------------------------------------------------------------
// Reporting

void QvReadError(int cls, const QvInput* in, const char* format, ...) {
  char text[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char where[64];
  std::snprintf(where, sizeof where, "\tOccurred at line %ld", in ? in->getLineNum() : 0L);
  char message[1024];
  std::snprintf(message, sizeof message, "VRML read error: %s\n\tfile: %s\n%s\n", text,
                in ? in->getCurFileName() : currentFile.c_str(), where);
  lastError = cls;
  // Only the first 399 characters are kept to compare with the next post.
  if (std::strncmp(message, lastMessage, sizeof lastMessage - 1) == 0) return;
  std::memcpy(lastMessage, message, sizeof lastMessage - 1);
  lastMessage[sizeof lastMessage - 1] = '\0';
  if (cls == QV_ERR_NONE) zvMessage("%s", message);
}

void QvDebugError(const char* method, const char* format, ...) {
  char text[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  zvWarning("VRML error in %s(): %s\n", method, text);
}

void QvLineMessage(const char* text, const char* tag, long line) {
  char tagged[400];
  std::snprintf(tagged, sizeof tagged, "           %s : Occurred at line %ld", tag ? tag : "", line);
  char whole[1024];
  std::snprintf(whole, sizeof whole, "%s\n%s\n", text ? text : "", tagged);
  if (std::strncmp(whole, lastLineMessage, sizeof lastLineMessage - 1) == 0) return;
  std::memcpy(lastLineMessage, whole, sizeof lastLineMessage - 1);
  lastLineMessage[sizeof lastLineMessage - 1] = '\0';
  zvWarning("%s", whole);
}

int QvGetLastError(void) { return lastError; }
void QvClearLastError(void) { lastError = QV_ERR_NONE; }

void QvResetCurrentFile(const char* fileName) {
  currentFile.assign(fileName ? fileName : "", 0, fileName ? std::min<size_t>(std::strlen(fileName), 255) : 0);
  lastError = QV_ERR_NONE;
  lastMessage[0] = '\0';
}
