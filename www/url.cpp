// url.cpp — the current base URL, relative URL resolution and the
// conversions between file: URLs and paths.
#include <strings.h>

#include <cstring>
#include <string>

#include "www/www.h"

namespace {

std::string baseUrl;

// Where the path of base starts: the '/' after "scheme://host", the first
// '/' after "scheme:", or 0 for an absolute path. -1 when base has none, so
// that a walk over it may run to its first character.
long pathRoot(const std::string& base) {
  if (zvUrlScheme(base.c_str()) == ZV_SCHEME_NONE) return base.empty() || base[0] != '/' ? -1 : 0;
  size_t p = base.find(':') + 1;
  if (base.compare(p, 2, "//") == 0) {
    size_t slash = base.find('/', p + 2);
    return slash == std::string::npos ? long(base.size()) : long(slash);
  }
  return p < base.size() && base[p] == '/' ? long(p) : -1;
}

bool resolve(const char* baseText, const char* url, std::string& out) {
  if (zvUrlScheme(url) != ZV_SCHEME_NONE) {
    out = url;
    return true;
  }
  std::string base = baseText;
  long root = pathRoot(base);
  // "scheme://host" alone: its path is "/".
  if (root == long(base.size())) base += '/';
  if (url[0] == '/') {
    if (zvUrlScheme(base.c_str()) == ZV_SCHEME_NONE) {
      out = url;  // against a plain path, "/..." is already absolute
      return true;
    }
    if (url[1] == '/') {  // "//host/x" keeps only the scheme
      out = base.substr(0, base.find(':') + 1) + url;
      return true;
    }
    if (root < 0) return false;
    out = base.substr(0, size_t(root)) + url;
    return true;
  }
  int groups = 0;
  while (std::strncmp(url + 3 * groups, "../", 3) == 0) ++groups;
  // Each "../" uses up one '/' of the base, walking back from its end; the
  // path's root slash may end the walk but never be climbed over.
  const char* rest = url;
  for (long i = long(base.size()) - 1; i >= 0; --i) {
    if (base[i] != '/') continue;
    if (groups == 0) {
      out = base.substr(0, size_t(i) + 1) + rest;
      return true;
    }
    if (i <= root) break;
    --groups;
    rest += 3;
  }
  return false;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void zvWwwSetBaseUrl(const char* url) { baseUrl = url ? url : ""; }
const char* zvWwwGetBaseUrl(void) { return baseUrl.c_str(); }

const char* zvDdeParseAnchor(const char* base, const char* url) {
  static std::string result;
  if (!url) return nullptr;
  if (!base) base = "";
  if (!resolve(base, url, result)) {
    std::string text = std::string("absolute : ") + base + ", relative : " + url + "\n";
    zvWarning("zvDdeParseAnchor: %s", text.c_str());
    return nullptr;
  }
  return result.c_str();
}

int zvResolveUrl(const char* base, const char* url, char* out, size_t size) {
  const char* r = zvDdeParseAnchor(base, url);
  if (!r || !out || std::strlen(r) >= size) return ZV_FAIL;
  std::memcpy(out, r, std::strlen(r) + 1);
  return ZV_OK;
}

// file:///p, file://localhost/p and file:/p all name /p. "%00" is left as
// it is: a decoded NUL would silently cut the path short.
const char* zvFileUrlToPath(const char* url) {
  static std::string path;
  if (!url || zvUrlScheme(url) != ZV_SCHEME_FILE) return nullptr;
  const char* p = url + 5;
  if (std::strncmp(p, "//", 2) == 0) {
    // Only this machine's files are ours to read: an empty host or
    // "localhost"; a file on another host is not the local file of the
    // same name.
    const char* host = p + 2;
    p = std::strchr(host, '/');
    if (!p) return nullptr;
    size_t hostLength = size_t(p - host);
    if (hostLength != 0 && !(hostLength == 9 && strncasecmp(host, "localhost", 9) == 0)) return nullptr;
  }
  path.clear();
  for (; *p; ++p) {
    int hi, lo;
    if (*p == '%' && (hi = hexValue(p[1])) >= 0 && (lo = hexValue(p[2])) >= 0 && (hi | lo) != 0) {
      path += char(hi * 16 + lo);
      p += 2;
    } else {
      path += *p;
    }
  }
  return path.c_str();
}

// Paths here have no drive letters, so ':' and '|' stay what they are; what
// a URL cannot carry as itself is escaped, so that the way back through
// zvFileUrlToPath gives the same path.
const char* zvPathToFileUrl(const char* path) {
  static std::string url;
  if (!path) return nullptr;
  static const char kHex[] = "0123456789ABCDEF";
  url = path[0] == '/' ? "file://" : "file:///";
  for (const char* p = path; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c <= 0x20 || c >= 0x7f || std::strchr("%#?\"<>\\^`{|}", c)) {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    } else {
      url += char(c);
    }
  }
  return url.c_str();
}
