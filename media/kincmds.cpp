// kincmds.cpp — the character commands of world scripts, and the one call
// that connects characters to the reader, the scene and the scripts.
//
// Scripts name files as URLs of their world. A world from the network gets
// only files from the network; a local world only files below its own
// folder.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "media/kinpriv.h"
#include "media/media.h"
#include "script/script.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

std::string canonical(const char* path) {
  char* real = realpath(path, nullptr);
  if (!real) return "";
  std::string result = real;
  std::free(real);
  return result;
}

bool isLocal(const char* url) {
  int scheme = zvUrlScheme(url);
  return scheme == ZV_SCHEME_FILE || scheme == ZV_SCHEME_NONE;
}

std::string pathOf(const std::string& url) {
  if (zvUrlScheme(url.c_str()) == ZV_SCHEME_FILE) {
    const char* p = zvFileUrlToPath(url.c_str());
    return p ? p : "";
  }
  return url;
}

// The absolute URL of a file a script names, or false with the reason.
bool scriptUrl(ZvWorld* world, const char* name, std::string& url, std::string* result) {
  const char* base = world->url && *world->url ? world->url : nullptr;
  url = name;
  if (base && zvUrlScheme(name) == ZV_SCHEME_NONE) {
    char resolved[ZV_WWW_PATH_MAX];
    if (zvResolveUrl(base, name, resolved, sizeof resolved) != 0) {
      *result = std::string("cannot resolve ") + name;
      return false;
    }
    url = resolved;
  }
  if (!isLocal(url.c_str())) return true;
  bool allowed = false;
  if (base && isLocal(base)) {
    std::string world = pathOf(base);
    size_t slash = world.rfind('/');
    std::string folder = slash == std::string::npos ? "" : canonical(slash == 0 ? "/" : world.substr(0, slash).c_str());
    std::string file = canonical(pathOf(url).c_str());
    allowed = !folder.empty() && !file.empty() && file.size() > folder.size() &&
              file.compare(0, folder.size(), folder) == 0 && (folder == "/" || file[folder.size()] == '/');
  }
  if (!allowed) {
    zvMessage("A script of %s may not read %s.", base ? base : "this world", name);
    *result = std::string("may not read ") + name;
  }
  return allowed;
}

ZvObj* objectArg(ZvWorld* world, const char* text) {
  auto* object = static_cast<ZvObj*>(zvScriptHandleRecord(text, ZV_HANDLE_OBJ));
  return object && object->world == world ? object : nullptr;
}

int badObject(const char* command, const char* text, std::string* result) {
  *result = std::string(command) + ":bad ZvObj[" + text + "]";
  return -1;
}

// A new character joins the world's top objects and, once the world is
// built, the renderer.
int publish(ZvWorld* world, ZvObj* character, const std::string& url, const char* variable, std::string* result) {
  if (zvAddTopObject(character, url.c_str()) != ZV_OK) {
    zvDeleteZvObj(character);
    *result = "cannot add the character to the world";
    return -1;
  }
  ZvSceneHooks& hooks = zvSceneHooks();
  if (world->viewer && hooks.renderConstructObj) hooks.renderConstructObj(character);
  std::string handle = std::to_string(zvScriptHandleOf(character, ZV_HANDLE_OBJ));
  if (zvScriptSetVariable(world, variable, handle.c_str(), result) != 0) return -1;
  *result = handle;
  return 0;
}

// zvKinNew skin variable: the skin is a VRML file that names its character
// file in its Kinemation Info node; the reader hands it to the loader.
int kinNew(ZvWorld* world, int, const char* const* argv, std::string* result) {
  std::string url;
  if (!scriptUrl(world, argv[1], url, result)) return -1;
  std::string local = isLocal(url.c_str()) ? pathOf(url) : "";
  ZvUrlHash* entry = world->urlTable ? zvNewUrlHashEntry(world->urlTable, url.c_str(), nullptr, ZV_TYPE_OTHER) : nullptr;
  if (entry) {
    const char* file = zvGetLocalFile(entry);
    local = file ? file : "";
  }
  if (local.empty()) {
    *result = std::string("zvKinNew: cannot read ") + argv[1];
    return -1;
  }
  ZvObj* scratch = nullptr;
  if (zvNewZvObj(world, &scratch, 0) != ZV_OK) {
    *result = "zvKinNew: out of memory";
    return -1;
  }
  zvKinSetSkinUrlOverride(url.c_str());
  int r = zvParseVRMLInZvObj(local.c_str(), scratch);
  zvKinSetSkinUrlOverride(nullptr);
  ZvObj* character = nullptr;
  for (ZvObjList* c = scratch->children; c && !character; c = c->next)
    if (c->object && zvGetObjExtension(c->object, zvKinemationBody)) character = c->object;
  if (r != ZV_OK || !character) {
    zvDeleteZvObj(scratch);
    *result = std::string("zvKinNew: no character in ") + argv[1];
    return -1;
  }
  zvCutZvObj(character);
  zvDeleteZvObj(scratch);
  return publish(world, character, url, argv[2], result);
}

// zvDebugFunc zvKinNew file variable: a stick figure without a skin.
int debugFunc(ZvWorld* world, int argc, const char* const* argv, std::string* result) {
  if (std::strcmp(argv[1], "zvKinNew") != 0 || argc != 4) {
    *result = std::string("zvDebugFunc: unknown function ") + argv[1];
    return -1;
  }
  std::string url;
  if (!scriptUrl(world, argv[2], url, result)) return -1;
  ZvObj* character = nullptr;
  if (zvKinNew(world, url.c_str(), nullptr, &character) != ZV_OK) {
    *result = std::string("zvKinNew: no character in ") + argv[2];
    return -1;
  }
  return publish(world, character, url, argv[3], result);
}

int kinDelete(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(world, argv[1]);
  if (!object) return badObject(argv[0], argv[1], result);
  if (zvKinDelete(object) != ZV_OK) {
    *result = std::string(argv[0]) + ": not a character";
    return -1;
  }
  return 0;
}

int kinStep(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(world, argv[1]);
  if (!object) return badObject(argv[0], argv[1], result);
  bool forward = std::strcmp(argv[0], "zvKinNextPosture") == 0;
  if ((forward ? zvKinNextFrame(object) : zvKinPrevFrame(object)) != ZV_OK) {
    *result = std::string(argv[0]) + ": cannot step " + argv[1];
    return -1;
  }
  return 0;
}

int kinSetFrame(ZvWorld* world, int, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(world, argv[1]);
  if (!object) return badObject(argv[0], argv[1], result);
  char* end = nullptr;
  long frame = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end || frame < INT_MIN || frame > INT_MAX) {
    *result = std::string(argv[0]) + ": bad frame number[" + argv[2] + "]";
    return -1;
  }
  int r = zvKinSetFrame(object, int(frame));
  *result = std::to_string(r);
  return r == ZV_OK ? 0 : -1;
}

int kinGetFrame(ZvWorld* world, int argc, const char* const* argv, std::string* result) {
  ZvObj* object = objectArg(world, argv[1]);
  if (!object) return badObject(argv[0], argv[1], result);
  int current, count;
  if (zvKinGetFrame(object, &current, &count) != ZV_OK) {
    *result = std::string(argv[0]) + ": not a character";
    return -1;
  }
  if (zvScriptSetVariable(world, argv[2], std::to_string(current).c_str(), result) != 0) return -1;
  if (argc > 3 && zvScriptSetVariable(world, argv[3], std::to_string(count).c_str(), result) != 0) return -1;
  result->clear();
  return 0;
}

}  // namespace

void zvMediaInstallCharacters(void) {
  zvKinInstallHooks();
  zvScriptProvideCommand("zvKinNew", kinNew);
  zvScriptProvideCommand("zvKinDelete", kinDelete);
  zvScriptProvideCommand("zvKinNextPosture", kinStep);
  zvScriptProvideCommand("zvKinPrevPosture", kinStep);
  zvScriptProvideCommand("zvKinSetFrame", kinSetFrame);
  zvScriptProvideCommand("zvKinGetFrame", kinGetFrame);
  zvScriptProvideCommand("zvDebugFunc", debugFunc);
}
