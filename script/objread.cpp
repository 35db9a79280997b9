// objread.cpp — objects that a world's script reads from a file or from
// text, and which files it may name for that.
//
// A world from the network runs its scripts on the user's machine, so a
// script's file name is never simply opened: a URL goes through retrieval
// against the world's own URL, and a local name is read only when it lies
// in the user files, the program's data, among the files the world itself
// fetched, or (for a world that is a local file) below its own directory.
// Names are compared after symbolic links and ".." are resolved, so neither
// leads out.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script/objcmdspriv.h"
#include "vrml/vrml.h"
#include "www/www.h"

// From the layer's own header, which cannot be included beside the
// reader's (both name the script kinds).
const char* zvGetScriptUserDirectory(void);
const char* zvGetScriptDataDirectory(void);

namespace {

const char kHeader[] = "#VRML V1.0 ascii";

// Objects being read for a script. What they bring may run scripts of its
// own, and one of those adding objects again would enter the reader, whose
// state is one per process, in the middle of a read.
int reading = 0;

std::string canonical(const char* path) {
  if (!path || !*path) return "";
  char* real = realpath(path, nullptr);
  if (!real) return "";
  std::string result = real;
  std::free(real);
  return result;
}

bool inside(const std::string& file, const char* directory) {
  std::string dir = canonical(directory);
  if (dir.empty() || file.size() <= dir.size()) return false;
  if (dir == "/") return true;
  return file.compare(0, dir.size(), dir) == 0 && file[dir.size()] == '/';
}

bool remoteScheme(const char* url) {
  int scheme = zvUrlScheme(url);
  return scheme == ZV_SCHEME_HTTP || scheme == ZV_SCHEME_OTHER;
}

// The directory of the world's own file when it is a local one, else empty.
std::string localWorldDirectory(const ZvWorld* world) {
  if (!world || !world->url || !*world->url) return "";
  int scheme = zvUrlScheme(world->url);
  std::string path;
  if (scheme == ZV_SCHEME_FILE) {
    const char* p = zvFileUrlToPath(world->url);
    if (p) path = p;
  } else if (scheme == ZV_SCHEME_NONE && world->url[0] == '/') {
    path = world->url;
  }
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return canonical(slash == 0 ? "/" : path.substr(0, slash).c_str());
}

int countTop(const ZvWorld* world) {
  int n = 0;
  for (ZvTopObjList* t = world->topObjects; t; t = t->next) ++n;
  return n;
}

int countChildren(const ZvObj* parent) {
  int n = 0;
  for (ZvObjList* c = parent->children; c; c = c->next) ++n;
  return n;
}

// Reads a local file that has been allowed, and builds what came of it in
// the renderer: a world not yet built gets everything when it is.
int readLocal(ZvWorld* world, ZvObj* parent, const char* path, ZvObj** first) {
  if (access(path, R_OK) != 0) return ZV_OBJREAD_UNREADABLE;
  if (reading) {
    zvMessage("A script may not add objects while objects are being added.");
    return ZV_OBJREAD_REFUSED;
  }
  struct Guard {
    Guard() { ++reading; }
    ~Guard() { --reading; }
  } guard;
  int before = parent ? countChildren(parent) : countTop(world);
  int r;
  if (parent) {
    r = zvParseVRMLAddToObj(path, parent, first);
  } else {
    // The reader adds to the current world; the script's world need not be
    // the one shown.
    ZvWorld* shown = zvGetCurrentWorld();
    zvSetCurrentWorld(world);
    r = zvParseVRMLAddToWorld(path, first);
    zvSetCurrentWorld(shown);
  }
  if (r != 0) return ZV_OBJREAD_PARSE;
  ZvSceneHooks& hooks = zvSceneHooks();
  if (world->viewer && hooks.renderConstructObj) {
    int i = 0;
    if (parent) {
      for (ZvObjList* c = parent->children; c; c = c->next)
        if (i++ >= before && c->object) hooks.renderConstructObj(c->object);
    } else {
      for (ZvTopObjList* t = world->topObjects; t; t = t->next)
        if (i++ >= before && t->object) hooks.renderConstructObj(t->object);
    }
  }
  return ZV_OBJREAD_OK;
}

}  // namespace

bool zvScriptMayReadLocal(ZvWorld* world, const char* path) {
  std::string file = canonical(path);
  if (file.empty()) return false;
  if (inside(file, zvGetScriptUserDirectory()) || inside(file, zvGetScriptDataDirectory())) return true;
  std::string own = localWorldDirectory(world);
  if (!own.empty() && inside(file, own.c_str())) return true;
  // Files the world fetched from the network. A local world fetches local
  // files by any name (zvWwwLoadFile file:///etc/passwd): those count only
  // below its own directory, as above.
  ZvUrlHashTable* table = world ? world->urlTable : nullptr;
  if (!table) return false;
  for (uint32_t b = 0; b < table->buckets; ++b)
    for (ZvUrlHash* e = table->heads[b]; e; e = e->next)
      if (e->local_filename && remoteScheme(e->url) && canonical(e->local_filename) == file)
        return true;
  return false;
}

int zvScriptReadObjFile(ZvWorld* world, ZvObj* parent, const char* name, ZvObj** first) {
  *first = nullptr;
  if (!world || !name || !*name) return ZV_OBJREAD_UNREADABLE;
  std::string url = name;
  int scheme = zvUrlScheme(name);
  // Relative names are the world's URLs; with no URL to go by, a relative
  // name is a user file. An absolute path is a local file, for the checks
  // below.
  if (scheme == ZV_SCHEME_NONE && name[0] != '/') {
    if (world->url && *world->url) {
      char resolved[ZV_WWW_PATH_MAX];
      if (zvResolveUrl(world->url, name, resolved, sizeof resolved) != 0) return ZV_OBJREAD_UNREADABLE;
      url = resolved;
    } else {
      const char* users = zvGetScriptUserDirectory();
      if (!users) return ZV_OBJREAD_UNREADABLE;
      url = std::string(users) + "/" + name;
    }
    scheme = zvUrlScheme(url.c_str());
  }
  if (scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE) {
    const char* path = scheme == ZV_SCHEME_FILE ? zvFileUrlToPath(url.c_str()) : url.c_str();
    std::string local = path ? path : "";
    if (local.empty() || !zvScriptMayReadLocal(world, local.c_str())) {
      zvMessage("A script of %s may not read %s.", world->url ? world->url : "this world", name);
      return ZV_OBJREAD_REFUSED;
    }
    return readLocal(world, parent, local.c_str(), first);
  }
  // Through the world's URL table, so that a file fetched once serves again.
  ZvUrlHash* entry = zvNewUrlHashEntry(world->urlTable, url.c_str(), nullptr, ZV_TYPE_OTHER);
  const char* local = entry ? zvGetLocalFile(entry) : nullptr;
  if (!local) return ZV_OBJREAD_UNREADABLE;
  std::string copy = local;  // the next retrieval may reuse the buffer
  return readLocal(world, parent, copy.c_str(), first);
}

int zvScriptReadObjText(ZvWorld* world, ZvObj* parent, const char* text, ZvObj** first, std::string* file) {
  *first = nullptr;
  file->clear();
  if (!world || !text) return ZV_OBJREAD_UNREADABLE;
  char directory[ZV_WWW_PATH_MAX];
  if (zvWwwGetCacheDir(directory, sizeof directory) != 0) return ZV_OBJREAD_UNREADABLE;
  *file = std::string(directory) + "zvscriptXXXXXX.wrl";
  int fd = mkstemps(file->data(), 4);
  if (fd < 0) return ZV_OBJREAD_UNREADABLE;
  FILE* out = fdopen(fd, "w");
  if (!out) {
    close(fd);
    unlink(file->c_str());
    return ZV_OBJREAD_UNREADABLE;
  }
  // Scripts write the nodes alone; the reader wants the header first.
  bool written = true;
  if (std::strncmp(text, "#VRML", 5) != 0) written = std::fprintf(out, "%s\n", kHeader) > 0;
  size_t length = std::strlen(text);
  written = written && std::fwrite(text, 1, length, out) == length;
  written = (std::fclose(out) == 0) && written;
  int r = written ? readLocal(world, parent, file->c_str(), first) : ZV_OBJREAD_UNREADABLE;
  unlink(file->c_str());
  return r;
}
