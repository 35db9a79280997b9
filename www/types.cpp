// types.cpp — type codes from file names and MIME names, and URL schemes.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "www/www.h"

namespace {

struct SuffixRow {
  const char* suffix;
  int type;
};

// "wrz" (gzipped VRML, as other browsers name it) and "png" are ours.
const SuffixRow kSuffixes[] = {
    {"bmp", ZV_TYPE_BMP},  {"ras", ZV_TYPE_RAS},  {"avi", ZV_TYPE_AVI},  {"wav", ZV_TYPE_WAV},
    {"wrl", ZV_TYPE_VRML}, {"tcl", ZV_TYPE_TCL},  {"wkn", ZV_TYPE_KINEMATION},
    {"gif", ZV_TYPE_GIF},  {"jpeg", ZV_TYPE_JPEG}, {"jpe", ZV_TYPE_JPEG}, {"jpg", ZV_TYPE_JPEG},
    {"gz", ZV_TYPE_GZIP},  {"lzh", ZV_TYPE_LHA},  {"wrz", ZV_TYPE_GZIP}, {"png", ZV_TYPE_PNG},
};

// The inner suffix is compared exactly: world.WRL.gz is not a VRML name.
const SuffixRow kInner[] = {
    {"ras.", ZV_TYPE_RAS},   {"avi.", ZV_TYPE_AVI},  {"wav.", ZV_TYPE_WAV},  {"wrl.", ZV_TYPE_VRML},
    {"tcl.", ZV_TYPE_TCL},   {"wkn.", ZV_TYPE_KINEMATION}, {"gif.", ZV_TYPE_GIF},
    {"jpeg.", ZV_TYPE_JPEG}, {"jpe.", ZV_TYPE_JPEG}, {"jpg.", ZV_TYPE_JPEG}, {"png.", ZV_TYPE_PNG},
    {"gz.", ZV_TYPE_GZIP},
};

const char* const kMime[] = {
    "image/x-MS-bmp", "image/x-cmu-raster", "video/x-msvideo", "audio/x-wav",
    "x-world/x-vrml", "application/x-tcl", "application/x-kinemation", "image/jpeg",
    "image/gif", "application/x-compressed", "application/x-lha", nullptr,
    "image/png",
};
constexpr int kTypeCount = sizeof kMime / sizeof kMime[0];

const char* const kWrittenSuffix[kTypeCount] = {
    ".bmp", "", ".avi", ".wav", ".wrl", ".tcl", ".wkn", ".jpg", ".gif", "", "", "", ".png",
};

// Index 0 is never a dot: ".wrl" is a hidden file without a suffix.
long dotFromEnd(const char* name, int which) {
  for (long i = long(std::strlen(name)) - 1; i >= 1; --i)
    if (name[i] == '.' && --which == 0) return i;
  return -1;
}

}  // namespace

int zvSuffixToType(const char* name) {
  if (!name) return ZV_TYPE_OTHER;
  long dot = dotFromEnd(name, 1);
  if (dot < 0) return ZV_TYPE_OTHER;
  for (const SuffixRow& row : kSuffixes)
    if (strcasecmp(name + dot + 1, row.suffix) == 0) return row.type;
  return ZV_TYPE_OTHER;
}

int zvInnerSuffixToType(const char* name) {
  if (!name) return ZV_TYPE_OTHER;
  long dot = dotFromEnd(name, 2);
  if (dot < 0) return ZV_TYPE_OTHER;
  for (const SuffixRow& row : kInner)
    if (std::strncmp(name + dot + 1, row.suffix, std::strlen(row.suffix)) == 0) return row.type;
  return ZV_TYPE_OTHER;
}

const char* zvTypeToMimeName(const char* name) {
  if (!name) return nullptr;
  return kMime[zvSuffixToType(name)];
}

int zvMimeNameToType(const char* mime) {
  if (!mime) return ZV_TYPE_OTHER;
  for (int i = 0; i < kTypeCount; ++i)
    if (kMime[i] && std::strcmp(mime, kMime[i]) == 0) return i;
  return ZV_TYPE_OTHER;
}

const char* zvTypeToSuffix(int type) {
  return type >= 0 && type < kTypeCount ? kWrittenSuffix[type] : "";
}

// A head that cannot be a scheme (a '/' in it, say) means no scheme at all:
// on this system "/home/me/a:b.wrl" is a path, not a URL of scheme "/home/me/a".
int zvUrlScheme(const char* url) {
  if (!url) return -1;
  const char* colon = std::strchr(url, ':');
  if (!colon || colon == url || !std::isalpha(static_cast<unsigned char>(url[0])))
    return ZV_SCHEME_NONE;
  for (const char* p = url; p < colon; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return ZV_SCHEME_NONE;
  }
  size_t n = size_t(colon - url);
  if (n == 4 && strncasecmp(url, "file", 4) == 0) return ZV_SCHEME_FILE;
  if (n == 4 && strncasecmp(url, "http", 4) == 0) return ZV_SCHEME_HTTP;
  return ZV_SCHEME_OTHER;
}
