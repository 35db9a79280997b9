// files.cpp — the cache directory and the names of the files made in it.
//
// A converted or decompressed copy is named after a hash of the full path
// of its source, so that two world.wrl.gz from different folders never meet,
// and is created exclusively, so that two worlds (or two running browsers)
// converting the same source each own their copy and may delete it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "www/wwwpriv.h"

namespace {

bool makeDirs(const std::string& dir) {
  for (size_t i = 1; i <= dir.size(); ++i) {
    if (i < dir.size() && dir[i] != '/') continue;
    std::string part = dir.substr(0, i);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string hashOfPath(const char* source) {
  std::string full;
  if (source[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) full = std::string(cwd) + "/";
  }
  full += source;
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : full) h = (h ^ c) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// $XDG_CACHE_HOME/quillmoor (an absolute XDG_CACHE_HOME only, as the XDG
// rules say), else ~/.cache/quillmoor; no trailing '/'.
bool cachePath(std::string& out) {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && xdg[0] == '/')
    out = std::string(xdg) + "/quillmoor";
  else if (home && home[0])
    out = std::string(home) + "/.cache/quillmoor";
  else
    return false;
  return true;
}

size_t limit = size_t(512) << 20;

// What realpath gives, asked of the kernel once: realpath looks up every
// leading part of the name again with a call of its own, and this is asked
// for every entry a world lets go of. Without /proc, realpath it is.
bool resolvedPath(const char* path, char out[PATH_MAX]) {
  int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return false;
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, out, PATH_MAX);
  close(fd);
  if (n > 0 && n < PATH_MAX && out[0] == '/') {
    out[n] = '\0';
    return true;
  }
  return realpath(path, out) != nullptr;
}

}  // namespace

namespace www {

bool cacheDir(std::string& out) {
  if (!cachePath(out)) {
    zvWarning("can not get temp directory");
    return false;
  }
  out += '/';
  if (!makeDirs(out)) {
    zvWarning("can not make temp directory");
    return false;
  }
  return true;
}

bool isInCache(const std::string& path) {
  std::string dir;
  if (!cachePath(dir)) return false;
  char realDir[PATH_MAX], realFile[PATH_MAX];
  if (!resolvedPath(dir.c_str(), realDir) || !resolvedPath(path.c_str(), realFile)) return false;
  size_t n = std::strlen(realDir);
  return std::strncmp(realFile, realDir, n) == 0 && realFile[n] == '/';
}

void removeIfOurs(const std::string& path) {
  if (!path.empty() && isInCache(path)) unlink(path.c_str());
}

// Asked of every entry a world lets go of: a comparison of names, which
// needs no directory made.
bool isArchiveMember(const std::string& path) {
  std::string cache;
  return cachePath(cache) && path.compare(0, cache.size() + 5, cache + "/lha/") == 0;
}

bool productParts(int local, const char* source, const char* who, std::string& dir,
                  std::string& hash, std::string& base) {
  const char* slash = std::strrchr(source, '/');
  base = slash ? slash + 1 : source;
  if (base.empty()) {
    zvWarning("%s: invalid filename", who);
    return false;
  }
  if (local == ZV_SCHEME_HTTP) {
    dir.assign(source, slash ? size_t(slash - source) + 1 : 0);
  } else if (!cacheDir(dir)) {
    zvWarning("%s: zvGetModuleDirName failed", who);
    return false;
  }
  hash = hashOfPath(source);
  // A product of a product (an inflated GIF on its way to BMP) carries one
  // hash, not two: the new one already stands for the whole path.
  size_t hex = 0;
  while (hex < base.size() && std::isxdigit(static_cast<unsigned char>(base[hex]))) ++hex;
  if (hex == 16 && base.size() > 17 && base[16] == '-') {
    size_t at = 17;
    while (at < base.size() && std::isdigit(static_cast<unsigned char>(base[at]))) ++at;
    base.erase(0, at > 17 && at < base.size() && base[at] == '-' ? at + 1 : 17);
  }
  return true;
}

bool convertedParts(int local, const char* source, int type, std::string& dir, std::string& hash,
                    std::string& base) {
  if (!productParts(local, source, "zvMakeFilenameFromMime", dir, hash, base)) return false;
  size_t dot = base.find('.', 1);
  if (dot != std::string::npos) base.resize(dot);
  base += zvTypeToSuffix(type);
  return true;
}

int reserveProduct(const std::string& dir, const std::string& hash, const std::string& base,
                   std::string& chosen) {
  chosen = dir + hash + "-" + base;
  int fd = open(chosen.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0 || errno != EEXIST) return fd;
  // Taken (another world holds a copy of the same file): a fresh name that
  // cannot collide, however many copies there are.
  std::string pattern = dir + hash + "-XXXXXX-" + base;
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  fd = mkstemps(buf.data(), int(base.size() + 1));
  if (fd >= 0) {
    fchmod(fd, 0644);
    chosen = buf.data();
  }
  return fd;
}

bool copyOut(const std::string& name, char* out, size_t size) {
  if (name.size() >= size) return false;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return true;
}

size_t sizeLimit() { return limit; }

}  // namespace www

size_t zvWwwSetSizeLimit(size_t bytes) {
  size_t before = limit;
  limit = bytes;
  return before;
}

int zvWwwGetCacheDir(char* out, size_t size) {
  std::string dir;
  if (!out || !www::cacheDir(dir) || !www::copyOut(dir, out, size)) return ZV_FAIL;
  return ZV_OK;
}

char* zvMakeFilenameFromMime(int local, const char* source, char* out, size_t size, int type) {
  if (!source || !out) return nullptr;
  std::string dir, hash, base;
  if (!www::convertedParts(local, source, type, dir, hash, base)) return nullptr;
  if (!www::copyOut(dir + hash + "-" + base, out, size)) {
    zvWarning("zvMakeFilenameFromMime: invalid filename");
    return nullptr;
  }
  return out;
}
