// sandbox.cpp — what a world's script may reach, beyond what a Tcl safe
// interpreter already takes away.
//
// Every world's interpreter is a safe child of one trusted parent that only
// this file uses: Tk will start in a safe interpreter only when a parent
// lets it, and the parent is how the program itself calls the commands it
// hid from the script.
//
// The rules a script lives by:
// - no exec, socket, load, cd, interp (but "interp issafe"), no file
//   commands that change or inspect the file system (the safe interpreter's
//   hidden "file" subcommands stay hidden, also inside the user files);
// - open: the design's sandboxed open, stricter: plain names live in the
//   user-files directory; other names are read only, and only inside the
//   user-files directory, the program's data directory, Tk's own library or
//   the files the world fetched; no pipes; "..", and symbolic links are
//   judged where they really lead. source reads by the same rule;
// - no waiting inside a script: vwait, tkwait and update (but "update
//   idletasks", which does nothing here) are refused, after MS sleeps at
//   most 10 ms; "after MS script" and "after idle script" run later under
//   a fresh time limit of their own;
// - exit hides the world's Tk windows and stops the script, never the
//   program.
//
// Time limits: a limit is always armed on every world interpreter, so no
// evaluation, whoever starts it (the engine, after, Tk bindings, file
// events), runs longer than the limit after the last arming. A deadline
// that passes while nothing runs is simply moved on; the event loop moves
// the deadlines of idle interpreters before it serves an event, so a
// callback starts with the whole limit. A running evaluation is never given
// more time, which is what stops a script from stretching its own limit by
// re-entering the loop.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "script/scriptpriv.h"
#include "www/www.h"

namespace {

const char kWorldKey[] = "quillmoor-world";  // set by the engine
constexpr int kLongestSleepMs = 10;
constexpr size_t kMostPendingAfters = 1000;
// Memory: an evaluation that takes more than this from the heap is stopped.
// It is looked at every few milliseconds, at command boundaries; a value
// that keeps doubling is stopped long before Tcl's own largest value,
// whose overflow ends the program.
constexpr size_t kMostHeapGrowth = size_t(256) << 20;
constexpr long kTickUs = 5000;

struct Sandbox;
struct After {
  Sandbox* box;
  long id;
  Tcl_Obj* script;
  Tcl_TimerToken timer;  // null for an idle callback
};

struct Sandbox {
  Tcl_Interp* interp;
  std::string path;  // its name in the parent
  std::map<long, After*> afters;
  long nextAfter = 0;
  Tcl_Time deadline{};  // of the evaluation running or last armed
  size_t heapAtStart = 0;  // at the evaluation's first tick; 0 before it
};

std::unordered_map<Tcl_Interp*, Sandbox*>& sandboxes() {
  static auto* map = new std::unordered_map<Tcl_Interp*, Sandbox*>;
  return *map;
}
std::vector<std::string>& readableDirectories() {
  static auto* list = new std::vector<std::string>;
  return *list;
}

Tcl_Interp* parentInterp() {
  static Tcl_Interp* parent = nullptr;
  if (!parent) parent = Tcl_CreateInterp();
  return parent;
}

Sandbox* boxOf(Tcl_Interp* interp) {
  auto it = sandboxes().find(interp);
  return it == sandboxes().end() ? nullptr : it->second;
}

int refuse(Tcl_Interp* interp, const char* text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
  return TCL_ERROR;
}

// ---------------------------------------------------------------------------
// Reporting what went wrong outside the engine's own evaluations.

void report(Tcl_Interp* interp, const char* routine, const char* text, const char* result) {
  std::string message = std::string(routine) + ":[" + (text ? text : "") + "]ret=[1]\n" + (result ? result : "");
  if (Tcl_LimitExceeded(interp) && !Tcl_InterpActive(interp)) zvScriptArmLimits(interp);
  Tcl_Obj* words[2] = {Tcl_NewStringObj("zvTclerror", -1), Tcl_NewStringObj(message.c_str(), int(message.size()))};
  for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
  Tcl_Obj* saved = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(saved);
  if (Tcl_EvalObjv(interp, 2, words, TCL_EVAL_GLOBAL) != TCL_OK) zvMessage("%s", message.c_str());
  Tcl_SetObjResult(interp, saved);
  Tcl_DecrRefCount(saved);
  for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
}

// The handler of background errors (Tk bindings, file events).
int backgroundError(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  if (objc < 2) return TCL_OK;
  std::string result = Tcl_GetString(objv[1]);
  if (objc > 2) {
    Tcl_Obj* key = Tcl_NewStringObj("-errorinfo", -1);
    Tcl_Obj* info = nullptr;
    Tcl_IncrRefCount(key);
    if (Tcl_DictObjGet(nullptr, objv[2], key, &info) == TCL_OK && info) result = Tcl_GetString(info);
    Tcl_DecrRefCount(key);
  }
  report(interp, "background", "", result.c_str());
  Tcl_ResetResult(interp);
  return TCL_OK;
}

// ---------------------------------------------------------------------------
// Limits

void noSetup(ClientData, int) {}
void rearmBeforeEvents(ClientData, int) { zvScriptRearmIdle(); }

// ---------------------------------------------------------------------------
// after

void runAfter(ClientData data);
void runIdle(ClientData data) { runAfter(data); }

void runAfter(ClientData data) {
  auto* a = static_cast<After*>(data);
  Sandbox* box = a->box;
  box->afters.erase(a->id);
  Tcl_Interp* interp = box->interp;
  Tcl_Preserve(interp);
  // Inside a running evaluation (a loop nested in one of our commands) the
  // callback is part of it and shares its deadline.
  if (!Tcl_InterpActive(interp)) zvScriptArmLimits(interp);
  int code = Tcl_EvalObjEx(interp, a->script, TCL_EVAL_GLOBAL);
  if (code != TCL_OK && code != TCL_RETURN && !Tcl_InterpDeleted(interp))
    report(interp, "after", Tcl_GetString(a->script), Tcl_GetStringResult(interp));
  Tcl_ResetResult(interp);
  Tcl_Release(interp);
  Tcl_DecrRefCount(a->script);
  delete a;
}

void cancelAfter(Sandbox* box, std::map<long, After*>::iterator it) {
  After* a = it->second;
  box->afters.erase(it);
  if (a->timer)
    Tcl_DeleteTimerHandler(a->timer);
  else
    Tcl_CancelIdleCall(runIdle, a);
  Tcl_DecrRefCount(a->script);
  delete a;
}

size_t heapInUse() { return zvPlatformHeapBytesInUse(); }

bool before(const Tcl_Time& a, const Tcl_Time& b) { return a.sec < b.sec || (a.sec == b.sec && a.usec < b.usec); }

// The Tcl limit is the next tick or the deadline, whichever comes first.
void setTick(Sandbox* box) {
  Tcl_Time tick;
  Tcl_GetTime(&tick);
  tick.usec += kTickUs;
  if (tick.usec >= 1000000) {
    tick.sec += 1;
    tick.usec -= 1000000;
  }
  Tcl_LimitSetTime(box->interp, before(tick, box->deadline) ? &tick : &box->deadline);
}

void onTimeLimit(ClientData data, Tcl_Interp* interp) {
  if (!Tcl_InterpActive(interp)) {
    // The deadline of an evaluation long finished: nothing to stop.
    zvScriptArmLimits(interp);
    return;
  }
  auto* box = static_cast<Sandbox*>(data);
  Tcl_Time now;
  Tcl_GetTime(&now);
  if (before(now, box->deadline)) {
    // Measured from the first tick: most evaluations end before it, and
    // reading the heap's figures is not free.
    size_t heap = heapInUse();
    if (!box->heapAtStart) box->heapAtStart = heap;
    if (heap < box->heapAtStart || heap - box->heapAtStart < kMostHeapGrowth) {
      setTick(box);
      return;
    }
    zvMessage("A script took more than %zu MB of memory and was stopped.", kMostHeapGrowth >> 20);
    // Left at the tick that passed, the limit stops the evaluation.
  } else {
    zvMessage("A script ran past its limit of %d ms and was stopped.", zvGetScriptTimeLimit());
  }
  // What it left to run later goes too: a runaway that re-schedules itself
  // would otherwise hold the browser for a limit at every turn.
  while (!box->afters.empty()) cancelAfter(box, box->afters.begin());
}

Tcl_Obj* scriptOf(int objc, Tcl_Obj* const objv[], int first) {
  return objc - first == 1 ? objv[first] : Tcl_ConcatObj(objc - first, objv + first);
}

int afterCommand(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  auto* box = static_cast<Sandbox*>(data);
  if (objc < 2) return refuse(interp, "wrong # args: should be \"after option ?arg ...?\"");
  const char* what = Tcl_GetString(objv[1]);
  if (std::strcmp(what, "cancel") == 0) {
    if (objc < 3) return refuse(interp, "wrong # args: should be \"after cancel id|command\"");
    Tcl_Obj* script = scriptOf(objc, objv, 2);
    Tcl_IncrRefCount(script);
    std::string text = Tcl_GetString(script);
    Tcl_DecrRefCount(script);
    for (auto it = box->afters.begin(); it != box->afters.end(); ++it) {
      std::string id = "after#" + std::to_string(it->first);
      if (text == id || text == Tcl_GetString(it->second->script)) {
        cancelAfter(box, it);
        break;
      }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  if (std::strcmp(what, "info") == 0) {
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    if (objc == 2) {
      for (auto& [id, a] : box->afters)
        Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(("after#" + std::to_string(id)).c_str(), -1));
    } else {
      const char* id = Tcl_GetString(objv[2]);
      long n = std::strncmp(id, "after#", 6) == 0 ? std::strtol(id + 6, nullptr, 10) : -1;
      auto it = box->afters.find(n);
      if (it == box->afters.end()) {
        Tcl_DecrRefCount(list);
        return refuse(interp, "event doesn't exist");
      }
      Tcl_ListObjAppendElement(nullptr, list, it->second->script);
      Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(it->second->timer ? "timer" : "idle", -1));
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
  }
  bool idle = std::strcmp(what, "idle") == 0;
  int ms = 0;
  if (!idle && Tcl_GetIntFromObj(interp, objv[1], &ms) != TCL_OK) return TCL_ERROR;
  if (ms < 0) ms = 0;
  if (!idle && objc == 2) {
    if (ms > kLongestSleepMs)
      return refuse(interp, "after: a world's script may not wait; give after a script to run later");
    Tcl_Sleep(ms);
    return TCL_OK;
  }
  if (objc < 3) return refuse(interp, "wrong # args: should be \"after idle script ?script ...?\"");
  if (box->afters.size() >= kMostPendingAfters) return refuse(interp, "after: too many callbacks waiting");
  auto* a = new After{box, ++box->nextAfter, scriptOf(objc, objv, 2), nullptr};
  Tcl_IncrRefCount(a->script);
  if (idle)
    Tcl_DoWhenIdle(runIdle, a);
  else
    a->timer = Tcl_CreateTimerHandler(ms, runAfter, a);
  box->afters.emplace(a->id, a);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(("after#" + std::to_string(a->id)).c_str(), -1));
  return TCL_OK;
}

// ---------------------------------------------------------------------------
// Waiting, exit, interp

int refuseWait(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const objv[]) {
  std::string text = std::string(Tcl_GetString(objv[0])) + ": a world's script cannot wait for events";
  return refuse(interp, text.c_str());
}

int updateCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  // Tk's own scripts ask for idle tasks to settle sizes; the browser's loop
  // does that soon enough, and running it here would run other scripts.
  if (objc == 2 && std::strcmp(Tcl_GetString(objv[1]), "idletasks") == 0) return TCL_OK;
  return refuse(interp, "update: a world's script cannot run the event loop");
}

int exitCommand(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const*) {
  auto* world = static_cast<ZvWorld*>(Tcl_GetAssocData(interp, kWorldKey, nullptr));
  auto* context = world ? static_cast<ZvScriptContext*>(world->script) : nullptr;
  if (context && context->tkStarted) zvScriptTkHideAll(context);
  return refuse(interp, "exit: a world's script cannot end the browser; the script stops here");
}

// interp: only "issafe" and aliases from this interpreter to itself, which
// Tk's own scripts use.
int interpCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  const char* what = objc > 1 ? Tcl_GetString(objv[1]) : "";
  if (objc == 2 && std::strcmp(what, "issafe") == 0) {
    Tcl_SetObjResult(interp, Tcl_NewIntObj(1));
    return TCL_OK;
  }
  if (std::strcmp(what, "alias") == 0 && objc >= 4 && !*Tcl_GetString(objv[2]) &&
      (objc == 4 || !*Tcl_GetString(objv[4])))
    return zvScriptInvokeHidden(interp, objc, objv);
  return refuse(interp, "interp: a world's script cannot make or reach other interpreters");
}

// file: only the subcommands that work on names, never on the disk (the
// rest stay hidden, in the user files too).
int fileCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  static const char* const allowed[] = {"dirname", "extension", "join", "pathtype",
                                        "rootname", "separator", "split", "tail"};
  if (objc < 2) return refuse(interp, "wrong # args: should be \"file subcommand ?arg ...?\"");
  const char* what = Tcl_GetString(objv[1]);
  bool ok = false;
  for (const char* a : allowed) ok = ok || std::strcmp(a, what) == 0;
  if (!ok) {
    std::string text = std::string("file ") + what + ": not available to a world's script";
    return refuse(interp, text.c_str());
  }
  // A leading ~ would be looked up as a user's home directory.
  for (int i = 2; i < objc; ++i)
    if (Tcl_GetString(objv[i])[0] == '~') return refuse(interp, "file: names starting with ~ are not allowed");
  return zvScriptInvokeHidden(interp, objc, objv);
}

// ---------------------------------------------------------------------------
// Commands that make one large value in a single step, where no limit is
// looked at until it is made: string repeat, lrepeat, format's widths and
// binary format's counts. Sizes a world's script has no use for are refused.

constexpr Tcl_WideInt kLargestValue = Tcl_WideInt(64) << 20;  // characters or list elements

struct Original {
  Tcl_ObjCmdProc* proc;
  ClientData data;
  std::string shown;  // the command as a script writes it
};

// The count words of a format string: digits after % (width and
// precision) for format, after a field letter for binary format; * takes
// the next argument. False when one is too large.
bool countsFit(const char* format, bool binary, int objc, Tcl_Obj* const objv[], int next) {
  bool inField = false;
  for (const char* p = format; *p; ++p) {
    if (!binary && *p == '%') {
      inField = p[1] != '%';
      if (!inField) ++p;
      continue;
    }
    if (!binary && inField && std::strchr("diouxXcsfeEgGbaA", *p)) inField = false;
    if (binary || inField) {
      if (*p == '*' && !binary) {
        Tcl_WideInt n = 0;
        if (next < objc && Tcl_GetWideIntFromObj(nullptr, objv[next++], &n) == TCL_OK && (n > kLargestValue || n < -kLargestValue))
          return false;
      } else if (*p >= '0' && *p <= '9') {
        char* end = nullptr;
        unsigned long long n = std::strtoull(p, &end, 10);
        if (n > (unsigned long long)kLargestValue) return false;
        p = end - 1;
      }
    }
  }
  return true;
}

int cappedCommand(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  auto* original = static_cast<Original*>(data);
  const std::string& name = original->shown;
  bool fits = true;
  if (name == "string repeat" && objc == 3) {
    Tcl_WideInt count = 0;
    int length = 0;
    Tcl_GetStringFromObj(objv[1], &length);
    if (Tcl_GetWideIntFromObj(nullptr, objv[2], &count) == TCL_OK && count > 0)
      fits = count <= kLargestValue && Tcl_WideInt(length) * count <= kLargestValue;
  } else if (name == "lrepeat" && objc >= 2) {
    Tcl_WideInt count = 0;
    if (Tcl_GetWideIntFromObj(nullptr, objv[1], &count) == TCL_OK && count > 0)
      fits = count <= kLargestValue && Tcl_WideInt(objc - 2) * count <= kLargestValue;
  } else if ((name == "format" || name == "binary format") && objc >= 2) {  // FORMAT ?arg ...?
    fits = countsFit(Tcl_GetString(objv[1]), name == "binary format", objc, objv, 2);
  }
  if (!fits) return refuse(interp, (original->shown + ": a world's script may not make a value that large").c_str());
  return original->proc(original->data, interp, objc, objv);
}

void capCommand(Tcl_Interp* interp, const char* name, const char* shown) {
  Tcl_CmdInfo info;
  if (!Tcl_GetCommandInfo(interp, name, &info) || !info.objProc) return;
  static std::unordered_map<std::string, Original>* originals = new std::unordered_map<std::string, Original>;
  // The built-in commands are the same in every interpreter.
  Original& o = (*originals)[name];
  if (!o.proc) o = Original{info.objProc, info.objClientData, shown};
  Tcl_CreateObjCommand(interp, name, cappedCommand, &o, nullptr);
}

// ---------------------------------------------------------------------------
// Paths

// The real path of an existing file, or "".
std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool inside(const std::string& real, const std::string& root) {
  return !root.empty() && real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
         (root.back() == '/' || real[root.size()] == '/');
}

std::string userRoot() {
  const char* d = zvGetScriptUserDirectory();
  return d ? realPath(d) : std::string();
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Whether a real path is one the world fetched: an entry of its URL table
// whose file lies in the download cache or beside the world's own file.
bool worldFile(Tcl_Interp* interp, const std::string& real) {
  auto* world = static_cast<ZvWorld*>(Tcl_GetAssocData(interp, kWorldKey, nullptr));
  if (!world || !world->urlTable) return false;
  std::vector<std::string> roots;
  char cache[PATH_MAX];
  if (zvWwwGetCacheDir(cache, sizeof cache) == 0) roots.push_back(realPath(cache));
  if (world->url) {
    const char* own = world->url[0] == '/' ? world->url : zvFileUrlToPath(world->url);
    if (own) roots.push_back(realPath(directoryOf(own)));
  }
  ZvUrlHashTable* table = world->urlTable;
  for (uint32_t b = 0; b < table->buckets; ++b)
    for (ZvUrlHash* e = table->heads[b]; e; e = e->next) {
      if (!e->local_filename || realPath(e->local_filename) != real) continue;
      for (const std::string& root : roots)
        if (inside(real, root)) return true;
    }
  return false;
}

bool mayRead(Tcl_Interp* interp, const std::string& real) {
  if (real.empty()) return false;
  if (inside(real, userRoot())) return true;
  const char* data = zvGetScriptDataDirectory();
  if (data && *data && inside(real, realPath(data))) return true;
  for (const std::string& d : readableDirectories())
    if (inside(real, d)) return true;
  return worldFile(interp, real);
}

bool hasPathCharacter(const char* name) { return std::strpbrk(name, "/|:\\") != nullptr; }

// The file a plain name stands for in the user-files directory, judged for
// writing: where it really leads must be inside. "" when it may not.
std::string userFile(const char* name) {
  std::string root = userRoot();
  if (root.empty()) return std::string();
  std::string full = root + "/" + name;
  struct stat st;
  if (lstat(full.c_str(), &st) == 0) {
    std::string real = realPath(full);
    return inside(real, root) ? real : std::string();
  }
  // A new file: its parent is the directory itself, already resolved.
  if (errno != ENOENT) return std::string();
  return full;
}

// The file a name stands for when read; relative names are taken in the
// user-files directory. "" when it may not be read.
std::string fileForReading(Tcl_Interp* interp, const char* name) {
  if (!*name || name[0] == '|') return std::string();
  std::string full;
  if (name[0] == '/') {
    full = name;
  } else {
    std::string root = userRoot();
    if (root.empty()) return std::string();
    full = root + "/" + name;
  }
  std::string real = realPath(full);
  return mayRead(interp, real) ? real : std::string();
}

// ---------------------------------------------------------------------------
// open and source

int openCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  if (objc < 2 || objc > 4) return refuse(interp, "wrong # args: should be \"open fileName ?access? ?permissions?\"");
  const char* name = Tcl_GetString(objv[1]);
  const char* mode = objc > 2 ? Tcl_GetString(objv[2]) : "r";
  int permissions = 0666;
  if (objc > 3 && Tcl_GetIntFromObj(interp, objv[3], &permissions) != TCL_OK) return TCL_ERROR;
  char text[PATH_MAX + 64];
  std::string path;
  if (!hasPathCharacter(name)) {
    // Read or written, a plain name is a file of the user-files directory.
    path = userFile(name);
    if (path.empty()) {
      std::snprintf(text, sizeof text, "can't open %s from zvbrowser.\n", name);
      return refuse(interp, text);
    }
  } else if (std::strpbrk(mode, "wa+")) {
    std::snprintf(text, sizeof text, "can't create %s from zvbrowser.\n", name);
    return refuse(interp, text);
  } else if (std::strpbrk(mode, "RWACENT")) {
    return refuse(interp, "Posix access mode not support.\n");
  } else {
    path = fileForReading(interp, name);
    if (path.empty()) {
      std::snprintf(text, sizeof text, "can't open %s from zvbrowser.\n", name);
      return refuse(interp, text);
    }
  }
  // Opened by name as a file, never as a command pipeline.
  Tcl_Channel channel = Tcl_OpenFileChannel(interp, path.c_str(), mode, permissions);
  if (!channel) return TCL_ERROR;
  Tcl_RegisterChannel(interp, channel);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(Tcl_GetChannelName(channel), -1));
  return TCL_OK;
}

int sourceCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  const char* encoding = nullptr;
  if (objc == 4 && std::strcmp(Tcl_GetString(objv[1]), "-encoding") == 0) {
    encoding = Tcl_GetString(objv[2]);
  } else if (objc != 2) {
    return refuse(interp, "wrong # args: should be \"source ?-encoding name? fileName\"");
  }
  const char* name = Tcl_GetString(objv[objc - 1]);
  std::string path = fileForReading(interp, name);
  if (path.empty()) {
    char text[PATH_MAX + 64];
    std::snprintf(text, sizeof text, "can't source %s from zvbrowser.\n", name);
    return refuse(interp, text);
  }
  Tcl_Obj* file = Tcl_NewStringObj(path.c_str(), int(path.size()));
  Tcl_IncrRefCount(file);
  int code = Tcl_FSEvalFileEx(interp, file, encoding);
  Tcl_DecrRefCount(file);
  return code;
}

void forget(ClientData data, Tcl_Interp* interp) {
  auto* box = static_cast<Sandbox*>(data);
  sandboxes().erase(interp);
  while (!box->afters.empty()) cancelAfter(box, box->afters.begin());
  delete box;
}

}  // namespace

Tcl_Interp* zvScriptNewInterp(void) {
  static long count = 0;
  std::string path = "world" + std::to_string(++count);
  Tcl_Interp* interp = Tcl_CreateSlave(parentInterp(), path.c_str(), 1);
  if (!interp) return nullptr;
  auto* box = new Sandbox{interp, path, {}, 0};
  sandboxes()[interp] = box;
  Tcl_CallWhenDeleted(interp, forget, box);
  return interp;
}

void zvScriptHardenInterp(Tcl_Interp* interp) {
  Sandbox* box = boxOf(interp);
  if (!box) return;  // made elsewhere: nothing of ours to add
  static bool once = false;
  if (!once) {
    once = true;
    Tcl_CreateEventSource(noSetup, rearmBeforeEvents, nullptr);
  }
  Tcl_CreateObjCommand(interp, "zvBgerror", backgroundError, nullptr, nullptr);
  Tcl_Obj* words[4] = {Tcl_NewStringObj("interp", -1), Tcl_NewStringObj("bgerror", -1),
                       Tcl_NewStringObj(box->path.c_str(), -1), Tcl_NewStringObj("zvBgerror", -1)};
  for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
  Tcl_EvalObjv(parentInterp(), 4, words, TCL_EVAL_GLOBAL);
  for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);

  Tcl_HideCommand(interp, "interp", "interp");
  Tcl_CreateObjCommand(interp, "interp", interpCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "after", afterCommand, box, nullptr);
  Tcl_CreateObjCommand(interp, "vwait", refuseWait, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "update", updateCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "exit", exitCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "open", openCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "source", sourceCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "file", fileCommand, nullptr, nullptr);
  capCommand(interp, "::tcl::string::repeat", "string repeat");
  capCommand(interp, "::lrepeat", "lrepeat");
  capCommand(interp, "::format", "format");
  capCommand(interp, "::tcl::binary::format", "binary format");
  Tcl_LimitAddHandler(interp, TCL_LIMIT_TIME, onTimeLimit, box, nullptr);
  // Checked at every command, so that no loop gets far between two looks.
  Tcl_LimitSetGranularity(interp, TCL_LIMIT_TIME, 1);
}

void zvScriptSetDeadline(Tcl_Interp* interp, const Tcl_Time& until) {
  Sandbox* box = boxOf(interp);
  if (box) {
    box->deadline = until;
    box->heapAtStart = 0;
    setTick(box);
  } else {
    Tcl_Time copy = until;
    Tcl_LimitSetTime(interp, &copy);
  }
  Tcl_LimitTypeSet(interp, TCL_LIMIT_TIME);
}

void zvScriptRearmIdle(void) {
  for (auto& [interp, box] : sandboxes())
    if (!Tcl_InterpActive(interp) && !Tcl_InterpDeleted(interp)) zvScriptArmLimits(interp);
}

void zvScriptAllowReads(const char* directory) {
  std::string real = directory ? realPath(directory) : std::string();
  if (real.empty()) return;
  for (const std::string& d : readableDirectories())
    if (d == real) return;
  readableDirectories().push_back(real);
}

int zvScriptInvokeHidden(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  Sandbox* box = boxOf(interp);
  if (!box) return refuse(interp, "not a world's interpreter");
  std::vector<Tcl_Obj*> words;
  words.push_back(Tcl_NewStringObj("interp", -1));
  words.push_back(Tcl_NewStringObj("invokehidden", -1));
  words.push_back(Tcl_NewStringObj(box->path.c_str(), -1));
  for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
  for (int i = 0; i < objc; ++i) {
    Tcl_IncrRefCount(objv[i]);
    words.push_back(objv[i]);
  }
  Tcl_Interp* parent = parentInterp();
  int code = Tcl_EvalObjv(parent, int(words.size()), words.data(), TCL_EVAL_GLOBAL);
  Tcl_SetObjResult(interp, Tcl_GetObjResult(parent));
  Tcl_ResetResult(parent);
  for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
  return code;
}

Tcl_Interp* zvScriptParentInterp(void) { return parentInterp(); }
const char* zvScriptInterpPath(Tcl_Interp* interp) {
  Sandbox* box = boxOf(interp);
  return box ? box->path.c_str() : nullptr;
}
