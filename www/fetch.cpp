// fetch.cpp — turning a URL into a usable local file. Local files (plain
// paths and file: URLs) are read where they are, unless the document they
// are named from came from the network; everything else goes to the remote
// fetcher (the link, link.cpp).
#include <sys/stat.h>

#include <string>

#include "www/wwwpriv.h"

namespace {

ZvWwwFetcher remoteFetcher = nullptr;

}  // namespace

ZvWwwFetcher zvWwwSetFetcher(ZvWwwFetcher fetcher) {
  ZvWwwFetcher before = remoteFetcher;
  remoteFetcher = fetcher;
  return before;
}

namespace www {

bool fetchUrl(const char* url, std::string& local, int& type, bool& produced) {
  if (!url) return false;
  const char* resolved = zvDdeParseAnchor(zvWwwGetBaseUrl(), url);
  if (!resolved) return false;
  std::string absolute = resolved;
  int scheme = zvUrlScheme(absolute.c_str());
  std::string source;
  int flag;
  if (scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE) {
    // A world from the network never reads this disk, whatever it names.
    int baseScheme = zvUrlScheme(zvWwwGetBaseUrl());
    if (baseScheme != ZV_SCHEME_FILE && baseScheme != ZV_SCHEME_NONE) {
      zvMessage("%s : a world from the network may not read local files", absolute.c_str());
      return false;
    }
    const char* path = scheme == ZV_SCHEME_FILE ? zvFileUrlToPath(absolute.c_str()) : absolute.c_str();
    struct stat st;
    if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    source = path;
    flag = ZV_SCHEME_FILE;  // the user's own file, whichever way it was named
  } else {
    if (!remoteFetcher) {
      zvWarning("zvWwwFetch: no fetcher for %s", absolute.c_str());
      return false;
    }
    char downloaded[ZV_WWW_PATH_MAX] = "";
    if (remoteFetcher(absolute.c_str(), zvSuffixToType(absolute.c_str()), downloaded, sizeof downloaded) != ZV_OK ||
        !downloaded[0])
      return false;
    source = downloaded;
    flag = ZV_SCHEME_HTTP;  // a download of ours, whatever its scheme
  }
  char usable[ZV_WWW_PATH_MAX];
  if (zvPreProcessFile(flag, source.c_str(), usable, sizeof usable, ZV_TYPE_VRML) != ZV_OK) return false;
  local = usable;
  type = zvFileToType(usable);
  produced = local != source;
  return true;
}

}  // namespace www

const char* zvWwwFetch(ZvUrlHash* entry) {
  static std::string result;
  int type = ZV_TYPE_OTHER;
  bool produced = false;
  if (!entry || !www::fetchUrl(entry->url, result, type, produced)) return nullptr;
  entry->type = type;
  return result.c_str();
}
