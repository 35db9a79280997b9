// lha.cpp — LHA archives named by a world's "Archive" Info node: unpacked
// through liblhasa into a fresh directory of the cache, each member entered
// into the current world's URL table under the name it has in the archive.
//
// An archive is hostile until read through: the headers are walked once
// before anything is written, and one unsafe member name (absolute, "..",
// a symbolic link) or a size beyond the limit refuses the whole archive. We
// choose every output path ourselves and check each member's CRC.
#include <fcntl.h>
#include <lhasa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "www/wwwpriv.h"

namespace {

constexpr long kMaxMembers = 10000;
constexpr size_t kMaxName = 1024;

int extractions = 0;
ZvWwwScriptRunner scriptRunner = nullptr;

uint32_t little(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The member's name exactly as its header stores it (directory from the
// extended headers, then the file name). liblhasa quietly drops ".." from
// the names it hands out; we want to see them, to refuse the archive.
bool storedName(const LHAFileHeader* header, std::string& out) {
  const uint8_t* d = header->raw_data;
  size_t n = header->raw_data_len;
  if (!d || n < 22) return false;
  int level = d[20];
  std::string file, dir;
  size_t ext = 0, next = 0;
  int sizeBytes = 2;
  if (level == 0 || level == 1) {
    size_t len = d[21];
    if (22 + len > n) return false;
    file.assign(reinterpret_cast<const char*>(d) + 22, len);
    if (level == 1) {
      ext = 22 + len + 3;  // after the CRC and the OS byte
      if (ext + 2 > n) return false;
      next = little(d + ext, 2);
      ext += 2;
    }
  } else if (level == 2) {
    if (n < 26) return false;
    next = little(d + 24, 2);
    ext = 26;
  } else if (level == 3) {
    if (n < 32) return false;
    sizeBytes = 4;
    next = little(d + 28, 4);
    ext = 32;
  } else {
    return false;
  }
  // Each extended header: its type, its data, the size of the one after it.
  for (int count = 0; next != 0; ++count) {
    if (count > 1000 || next < size_t(1 + sizeBytes) || next > n - ext) return false;
    std::string data(reinterpret_cast<const char*>(d) + ext + 1, next - 1 - sizeBytes);
    if (d[ext] == 0x01) file = data;
    if (d[ext] == 0x02) dir = data + "/";
    size_t size = next;
    next = little(d + ext + size - sizeBytes, sizeBytes);
    ext += size;
  }
  out = dir + file;
  for (char& c : out)
    if (c == '\\' || c == '\xff') c = '/';
  return true;
}

// Separators may be DOS backslashes; "." and empty components vanish. An
// absolute name, a ".." anywhere or nothing left at all is refused.
bool cleanName(std::string raw, std::string& name) {
  if (raw.empty() || raw.size() > kMaxName) return false;
  for (char c : raw)  // a name with control characters is no file name of ours
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  for (char& c : raw)
    if (c == '\\') c = '/';
  if (raw[0] == '/') return false;
  name.clear();
  size_t start = 0;
  while (start <= raw.size()) {
    size_t end = raw.find('/', start);
    if (end == std::string::npos) end = raw.size();
    std::string part = raw.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
    start = end + 1;
  }
  return !name.empty();
}

// Both the stored name and liblhasa's reading of it must be safe; the
// latter is what we extract to and enter into the table.
bool safeName(const LHAFileHeader* header, std::string& name) {
  std::string stored, ignored;
  if (header->symlink_target || !storedName(header, stored) || !cleanName(stored, ignored)) return false;
  return cleanName(std::string(header->path ? header->path : "") + (header->filename ? header->filename : ""), name);
}

bool isDirectory(const LHAFileHeader* header) {
  return std::strcmp(header->compress_method, LHA_COMPRESS_TYPE_DIR) == 0;
}

uint16_t crc16(uint16_t crc, const unsigned char* data, size_t n) {
  while (n--) {
    crc ^= *data++;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

struct Archive {
  LHAInputStream* stream = nullptr;
  LHAReader* reader = nullptr;
  explicit Archive(const std::string& path) {
    stream = lha_input_stream_from(const_cast<char*>(path.c_str()));
    reader = stream ? lha_reader_new(stream) : nullptr;
    if (reader) lha_reader_set_dir_policy(reader, LHA_READER_DIR_PLAIN);
  }
  ~Archive() {
    if (reader) lha_reader_free(reader);
    if (stream) lha_input_stream_free(stream);
  }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
};

enum ScanResult { kScanOk, kScanInvalid, kScanEmpty, kScanTooBig };

ScanResult scan(const std::string& path, long& files) {
  Archive archive(path);
  if (!archive.reader) return kScanInvalid;
  long headers = 0;
  size_t total = 0;
  files = 0;
  while (LHAFileHeader* header = lha_reader_next_file(archive.reader)) {
    std::string name;
    if (++headers > kMaxMembers || !safeName(header, name)) return kScanInvalid;
    if (isDirectory(header)) continue;
    if (header->length > www::sizeLimit() - total) return kScanTooBig;
    total += header->length;
    ++files;
  }
  if (headers == 0) return kScanInvalid;
  return files == 0 ? kScanEmpty : kScanOk;
}

// What was written, so that a failure takes all of it back.
struct Written {
  std::vector<std::string> files, dirs;
  void undo() {
    for (const std::string& f : files) unlink(f.c_str());
    for (auto d = dirs.rbegin(); d != dirs.rend(); ++d) rmdir(d->c_str());
  }
};

bool makeParents(const std::string& root, const std::string& name, bool whole, Written& written) {
  size_t end = whole ? name.size() : name.rfind('/');
  if (end == std::string::npos) return true;
  for (size_t i = 0; i <= end; ++i) {
    if (i < end && name[i] != '/') continue;
    std::string dir = root + name.substr(0, i);
    if (mkdir(dir.c_str(), 0700) == 0) {
      written.dirs.push_back(dir);
      continue;
    }
    struct stat st;
    if (errno != EEXIST || lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

// The member's bytes into root + name; null, or the message of the failure.
// budget is what the archive may still write; the headers were summed up
// before, but the file may have changed under us since.
const char* writeMember(LHAReader* reader, const LHAFileHeader* header, const std::string& path,
                        size_t& budget, Written& written) {
  if (header->length > budget) return "lack of disk space.";
  budget -= header->length;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return "file open error.";
  written.files.push_back(path);
  std::vector<unsigned char> buffer(1 << 16);
  size_t total = 0;
  uint16_t crc = 0;
  const char* failure = nullptr;
  for (;;) {
    size_t n = lha_reader_read(reader, buffer.data(), buffer.size());
    if (n == 0) break;
    total += n;
    if (total > header->length) {
      failure = "CRC error.";
      break;
    }
    crc = crc16(crc, buffer.data(), n);
    size_t done = 0;
    while (done < n) {
      ssize_t w = write(fd, buffer.data() + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += size_t(w);
    }
    if (done < n) {
      failure = "file write error.";
      break;
    }
  }
  if (close(fd) != 0 && !failure) failure = "file write error.";
  if (!failure && total != header->length) failure = "file read error.";
  if (!failure && crc != header->crc) failure = "CRC error.";
  return failure;
}

bool makeExtractionDir(std::string& dir) {
  std::string cache;
  if (!www::cacheDir(cache)) return false;
  std::string parent = cache + "lha/";
  if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return false;
  // A fresh directory every time, whatever earlier runs left behind.
  std::string pattern = parent + std::to_string(extractions++) + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return false;
  dir = std::string(buf.data()) + "/";
  return true;
}

void freeNames(char** names, long count) {
  if (!names) return;
  for (long i = 0; i < count; ++i) zvFree(names[i]);
  zvFree(names);
}

// Pass two: every regular member into dir, its name into names. 0, -1 after
// the report (everything written taken back), or -5.
int extractAll(const std::string& archivePath, const std::string& dir, char** names, long count,
               long& extracted) {
  Archive archive(archivePath);
  Written written;
  written.dirs.push_back(dir.substr(0, dir.size() - 1));
  const char* failure = archive.reader ? nullptr : "cannot open the arcive file.";
  int result = ZV_OK;
  size_t budget = www::sizeLimit();
  long headers = 0;
  extracted = 0;
  while (!failure) {
    LHAFileHeader* header = lha_reader_next_file(archive.reader);
    if (!header) break;
    std::string name;
    if (++headers > kMaxMembers || !safeName(header, name)) {
      failure = "header is broken.";
    } else if (!makeParents(dir, name, isDirectory(header), written)) {
      failure = "cannot make (sub)directory";
    } else if (!isDirectory(header)) {
      failure = writeMember(archive.reader, header, dir + name, budget, written);
      if (!failure && extracted < count) {
        names[extracted] = zvStrdup(name.c_str());
        if (!names[extracted]) {
          zvWarning("zvExtractLha: can not allocate menory");
          result = ZV_NOMEM;
          break;
        }
      }
      ++extracted;
    }
  }
  if (failure) zvWarning("zvExtractLha: %s", failure);
  if (failure || result != ZV_OK) {
    written.undo();
    return failure ? ZV_FAIL : result;
  }
  return ZV_OK;
}

}  // namespace

ZvWwwScriptRunner zvWwwSetScriptRunner(ZvWwwScriptRunner runner) {
  ZvWwwScriptRunner before = scriptRunner;
  scriptRunner = runner;
  return before;
}

int zvExtractLha(const char* url) {
  if (!url) {
    zvWarning("zvExtractLha: Invalid argument.");
    return ZV_FAIL;
  }
  ZvWorld* world = zvGetCurrentWorld();
  if (!world || !world->urlTable) {
    zvWarning("zvWwwLoadFile: world is NULL");
    return ZV_FAIL;
  }
  std::string archive;
  int type = ZV_TYPE_OTHER;
  bool produced = false;
  if (!www::fetchUrl(url, archive, type, produced)) {
    zvWarning("zvExtractLha: can not open file %s", url);
    return ZV_FAIL;
  }
  const char* resolved = zvDdeParseAnchor(zvWwwGetBaseUrl(), url);
  std::string archiveUrl = resolved ? resolved : "";
  bool downloaded = produced || (resolved && zvUrlScheme(resolved) == ZV_SCHEME_HTTP);

  long count = 0;
  switch (scan(archive, count)) {
    case kScanOk:
      break;
    case kScanInvalid:
      zvWarning("zvExtractLha: invalid LHA file %s", archive.c_str());
      if (downloaded) www::removeIfOurs(archive);
      return ZV_FAIL;
    case kScanEmpty:
      zvWarning("zvExtractLha: there is no file in %s", archive.c_str());
      if (downloaded) www::removeIfOurs(archive);
      return ZV_FAIL;
    case kScanTooBig:
      zvWarning("zvExtractLha: %s", "lack of disk space.");
      if (downloaded) www::removeIfOurs(archive);
      return ZV_FAIL;
  }
  auto** names = static_cast<char**>(zvMalloc(sizeof(char*) * size_t(count + 1)));
  if (!names) {
    zvWarning("zvExtractLha: can not allocate menory");
    if (downloaded) www::removeIfOurs(archive);
    return ZV_FAIL;
  }
  std::string dir;
  long extracted = 0;
  int r = ZV_FAIL;
  if (!makeExtractionDir(dir))
    zvWarning("zvExtractLha: %s", "cannot make (sub)directory");
  else
    r = extractAll(archive, dir, names, count, extracted);
  if (downloaded) www::removeIfOurs(archive);
  if (r != ZV_OK) {
    freeNames(names, count);
    return ZV_FAIL;
  }
  if (extracted != count) zvWarning("zvExtractLha: inconsistent number of file");

  int result = ZV_OK;
  // What members unpack to counts against the one budget of the archive:
  // a thousand small gzip members must not each get the whole limit.
  const size_t wholeLimit = www::sizeLimit();
  size_t left = wholeLimit;
  for (long i = 0; i < count && i < extracted; ++i) {
    std::string path = dir + names[i];
    struct stat st;
    if (stat(path.c_str(), &st) == 0) left -= std::min(left, size_t(st.st_size));
  }
  for (long i = 0; i < count && i < extracted; ++i) {
    std::string path = dir + names[i];
    char usable[ZV_WWW_PATH_MAX];
    zvWwwSetSizeLimit(left);
    int prepared = zvPreProcessFile(ZV_SCHEME_FILE, path.c_str(), usable, sizeof usable, ZV_TYPE_VRML);
    zvWwwSetSizeLimit(wholeLimit);
    if (prepared != ZV_OK) continue;
    struct stat made;
    if (path != usable && stat(usable, &made) == 0) left -= std::min(left, size_t(made.st_size));
    int memberType = zvFileToType(usable);
    if (memberType == ZV_TYPE_TCL && scriptRunner) {
      scriptRunner(world, usable);
      // A script may have replaced or dropped the world it ran in.
      if (zvGetCurrentWorld() != world) break;
    }
    if (!zvNewUrlHashEntry(world->urlTable, names[i], usable, memberType)) {
      if (path != usable) www::removeIfOurs(usable);
      result = ZV_FAIL;
      continue;
    }
    // The reader asks for names made absolute against the file that names
    // them, so the member is entered under that form too: beside the
    // archive, as the world's author would have had it.
    if (archiveUrl.empty()) continue;
    char absolute[ZV_WWW_PATH_MAX];
    if (zvResolveUrl(archiveUrl.c_str(), names[i], absolute, sizeof absolute) == ZV_OK &&
        !zvFindUrlHashEntry(world->urlTable, absolute))
      zvNewUrlHashEntry(world->urlTable, absolute, usable, memberType);
  }
  freeNames(names, count);
  return result;
}
