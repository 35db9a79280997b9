// scriptcmds.cpp — the script commands the window provides: moving along
// the history, the menu commands, and opening or fetching by URL.
//
// A script runs inside the world it would leave, so nothing here changes
// the world at once: opening, Back and Forward are posted (or held by the
// window until the script is done).
#include <cstdlib>
#include <cstring>
#include <string>

#include "scene/scene.h"
#include "script/script.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "www/www.h"

namespace {

// The menu commands a world's script may give: moving about and what is
// shown. Ending the program, and the commands that open dialogs or read
// files the user picks, are the user's alone.
bool scriptMayRun(long id) {
  switch (id) {
    case ZV_CMD_STOP: case ZV_CMD_FORWARD: case ZV_CMD_BACK: case ZV_CMD_HOME: case ZV_CMD_UNDO:
    case ZV_CMD_RELOAD: case ZV_CMD_JUMPING_EYE: case ZV_CMD_LABELS: case ZV_CMD_HEAD_LIGHT:
    case ZV_CMD_AUTO_IMAGES: case ZV_CMD_AUTO_SOUNDS:
      return true;
    default:
      return false;
  }
}

bool isFileUrl(const char* url) { return std::strncmp(url, "file:", 5) == 0; }
bool hasScheme(const char* url) {
  const char* colon = std::strchr(url, ':');
  const char* slash = std::strchr(url, '/');
  return colon && (!slash || colon < slash) && colon - url > 1;
}

// The absolute form of a script's URL against its world's. A world that
// did not come from this disk reaches no file of it.
bool resolveForWorld(ZvWorld* world, const char* url, std::string* out, std::string* error) {
  const char* base = world && world->url ? world->url : "";
  char resolved[4096];
  if (zvResolveUrl(base, url, resolved, sizeof resolved) != 0) {
    *error = std::string("[") + url + "] cannot be resolved";
    return false;
  }
  bool local = isFileUrl(resolved) || !hasScheme(resolved);
  bool worldLocal = !*base || isFileUrl(base) || !hasScheme(base);
  if (local && !worldLocal) {
    *error = std::string("[") + url + "] is a local file; this world came from the network";
    return false;
  }
  *out = resolved;
  return true;
}

int forwardPage(ZvWorld*, int, const char* const*, std::string*) {
  zvShellGoForward();
  return 0;
}

int backwardPage(ZvWorld*, int, const char* const*, std::string*) {
  zvShellGoBack();
  return 0;
}

int menuExec(ZvWorld*, int, const char* const* argv, std::string* result) {
  char* end = nullptr;
  long id = std::strtol(argv[1], &end, 10);
  if (end == argv[1] || *end || !scriptMayRun(id)) {
    *result = std::string(argv[0]) + ":" + argv[1] + " is not a command a script may give";
    return 1;
  }
  zvMenuExec(int(id), 1);  // as a chosen item
  return 0;
}

int openUrl(ZvWorld* world, int, const char* const* argv, std::string* result) {
  std::string url, error;
  if (!resolveForWorld(world, argv[1], &url, &error)) {
    *result = std::string(argv[0]) + ":" + error;
    return 1;
  }
  zvShellPostOpenUrl(url.c_str());
  return 0;
}

// Fetches into a local file of the world's table and answers its name.
int loadFile(ZvWorld* world, int, const char* const* argv, std::string* result) {
  std::string url, error;
  if (!resolveForWorld(world, argv[1], &url, &error)) {
    *result = std::string(argv[0]) + ":" + error;
    return 1;
  }
  ZvWorld* previous = zvGetCurrentWorld();
  zvSetCurrentWorld(world);
  ZvUrlHash* entry = zvWwwLoadFile(url.c_str());
  const char* local = entry ? zvGetLocalFile(entry) : nullptr;
  zvSetCurrentWorld(previous);
  if (!local) {
    *result = std::string(argv[0]) + ":[" + argv[1] + "] failed.";
    return 1;
  }
  *result = local;
  return 0;
}

}  // namespace

void zvProvideShellScriptCommands(int window) {
  zvScriptProvideCommand("zvWwwLoadFile", loadFile);
  zvScriptProvideCommand("zvWwwGetFile", loadFile);
  if (!window) return;
  zvScriptProvideCommand("zvForwardPage", forwardPage);
  zvScriptProvideCommand("zvBackwardPage", backwardPage);
  zvScriptProvideCommand("zvMenuExec", menuExec);
  zvScriptProvideCommand("zvWwwOpenUrl", openUrl);
  zvScriptProvideCommand("zvWwwOpenFile", openUrl);
}
