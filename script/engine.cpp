// engine.cpp — each world's Tcl interpreter: making it safe, declaring our
// commands in it, and every evaluation under the same guard.
//
// The guard is what lets the browser run scripts it did not write: a time
// limit on the real clock and a nesting limit around every evaluation, and
// a handler call built as a list of words so that nothing a user, a world
// or a peer wrote is ever substituted as script text.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/scriptpriv.h"

namespace {

int timeLimitMs = 1000;
constexpr int kRecursionLimit = 200;
std::string userDirectory;  // empty: the XDG default, decided on first use
std::string dataDirectory;
int usageSwitch = 0;
int tkWorlds = 0;  // worlds whose scripts started Tk

std::unordered_map<std::string, ZvScriptCommandProc>& provided() {
  static auto* map = new std::unordered_map<std::string, ZvScriptCommandProc>;
  return *map;
}

const char kWorldKey[] = "quillmoor-world";

ZvWorld* worldOf(Tcl_Interp* interp) {
  return static_cast<ZvWorld*>(Tcl_GetAssocData(interp, kWorldKey, nullptr));
}

// Arms the limits for an evaluation that starts now. Tcl checks them at
// command boundaries, so a loop of any kind stops within the limit. An
// evaluation nested in a running one (a handler run by a command of the
// script) shares its deadline.
void armLimits(Tcl_Interp* interp) {
  if (Tcl_InterpActive(interp)) return;
  Tcl_Time until;
  Tcl_GetTime(&until);
  long ms = timeLimitMs > 0 ? timeLimitMs : 1000;
  until.sec += ms / 1000;
  until.usec += (ms % 1000) * 1000;
  if (until.usec >= 1000000) {
    until.sec += 1;
    until.usec -= 1000000;
  }
  zvScriptSetDeadline(interp, until);
}

// The text of what went wrong, as the start-up script's zvTclerror shows it.
void reportError(Tcl_Interp* interp, const char* routine, const char* text, int code) {
  std::string result = Tcl_GetStringResult(interp);
  char head[256];
  std::snprintf(head, sizeof head, "%s:[", routine);
  std::string message = head;
  message.append(text ? text : "");
  char tail[64];
  if (result.empty()) {
    std::snprintf(tail, sizeof tail, "]ret=[%d]unknown Tcl error", code);
    message += tail;
  } else {
    std::snprintf(tail, sizeof tail, "]ret=[%d]\n", code);
    message += tail;
    message += result;
  }
  // The limit's own handler said that a script was stopped; the
  // interpreter refuses everything until the limit is set again.
  armLimits(interp);
  Tcl_Obj* words[2] = {Tcl_NewStringObj("zvTclerror", -1), Tcl_NewStringObj(message.c_str(), int(message.size()))};
  for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
  if (Tcl_EvalObjv(interp, 2, words, TCL_EVAL_GLOBAL) != TCL_OK) zvMessage("%s", message.c_str());
  for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
  Tcl_ResetResult(interp);
}

// After an evaluation: 0 and the answer (1 for an empty result, else its
// integer value), or -1 after reporting.
int convertResult(Tcl_Interp* interp, int code, const char* routine, const char* text, int* answer) {
  if (code != TCL_OK && code != TCL_RETURN) {
    if (answer) *answer = 0;
    reportError(interp, routine, text, code);
    return -1;
  }
  if (answer) {
    const char* r = Tcl_GetStringResult(interp);
    *answer = *r ? int(std::strtol(r, nullptr, 10)) : 1;
  }
  return 0;
}

int runCommand(ClientData data, Tcl_Interp* interp, int argc, const char** argv) {
  const auto* command = static_cast<const ZvScriptCommand*>(data);
  if (usageSwitch) {
    char line[512];
    std::snprintf(line, sizeof line, "%s:Usage : %s %s\n", command->name, command->name, command->usage);
    zvScriptDebugOutput("zvTclError", line);
    Tcl_ResetResult(interp);
    return TCL_OK;
  }
  int words = argc - 1;
  if (words < command->minArgs || (command->maxArgs >= 0 && words > command->maxArgs)) {
    char line[512];
    std::snprintf(line, sizeof line, "%s:wrong args:%s %s\n", command->name, command->name, command->usage);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(line, -1));
    return TCL_ERROR;
  }
  ZvScriptCall call{interp, worldOf(interp), argv[0], argc, argv};
  return command->run(call);
}

int runProvided(ZvScriptCall& call) {
  auto it = provided().find(call.name);
  if (it == provided().end() || !it->second) return call.fail("%s: not available", call.name);
  std::string result;
  int r = it->second(call.world, call.argc, call.argv, &result);
  Tcl_SetObjResult(call.interp, Tcl_NewStringObj(result.c_str(), int(result.size())));
  return r == 0 ? TCL_OK : TCL_ERROR;
}

const ZvScriptCommand* const kGroups[] = {
    zvScriptCoreCommands, zvScriptEventCommands, zvScriptObjectCommands, zvScriptMaterialCommands,
    zvScriptWorldCommands, zvScriptProvidedCommands,
};

std::vector<const ZvScriptCommand*>& allCommands() {
  static auto* all = [] {
    auto* v = new std::vector<const ZvScriptCommand*>;
    for (const ZvScriptCommand* group : kGroups)
      for (const ZvScriptCommand* c = group; c->name; ++c) v->push_back(c);
    return v;
  }();
  return *all;
}

Tcl_Interp* makeInterp(ZvWorld* world) {
  Tcl_Interp* interp = zvScriptNewInterp();
  if (!interp) return nullptr;
  Tcl_SetAssocData(interp, kWorldKey, nullptr, world);
  zvScriptHardenInterp(interp);
  Tcl_SetRecursionLimit(interp, kRecursionLimit);
  for (const ZvScriptCommand* c : allCommands())
    Tcl_CreateCommand(interp, c->name, runCommand, const_cast<ZvScriptCommand*>(c), nullptr);
  armLimits(interp);

  if (dataDirectory.empty() && zvSceneHooks().programDirectory) {
    const char* d = zvSceneHooks().programDirectory();
    if (d) dataDirectory = d;
  }
  std::string init = dataDirectory.empty() ? std::string("zvinit.tcl") : dataDirectory + "/zvinit.tcl";
  if (!Tcl_SetVar(interp, "zvInitfile", init.c_str(), TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG)) {
    zvMessage("error in zvScriptTclInit:%s.", Tcl_GetStringResult(interp));
    Tcl_DeleteInterp(interp);
    return nullptr;
  }
  // The start-up script is ours, so it is read by the program itself and
  // not through the sandboxed source.
  if (Tcl_EvalFile(interp, init.c_str()) != TCL_OK) {
    zvMessage("error in zvScriptTclInit:%s.", Tcl_GetStringResult(interp));
    Tcl_DeleteInterp(interp);
    return nullptr;
  }
  const char* version = Tcl_GetVar(interp, "zvVersion", TCL_GLOBAL_ONLY);
  if (!version || std::strtod(version, nullptr) < 1.04) zvMessage("%s is old version.", init.c_str());
  Tcl_ResetResult(interp);
  return interp;
}

}  // namespace

// ---------------------------------------------------------------------------
// Contexts

ZvScriptContext* zvScriptContextOf(ZvWorld* world) {
  if (!world) return nullptr;
  if (world->script) return static_cast<ZvScriptContext*>(world->script);
  auto* context = new (std::nothrow) ZvScriptContext{};
  if (!context) return nullptr;
  context->world = world;
  world->script = context;
  // A world whose start-up failed keeps a context without an interpreter,
  // so the failure is reported once, not at every handler.
  context->interp = makeInterp(world);
  return context;
}

Tcl_Interp* zvScriptInterpOf(ZvWorld* world) {
  ZvScriptContext* context = zvScriptContextOf(world);
  return context ? context->interp : nullptr;
}

int zvScriptInit(ZvWorld* world, int scriptType) {
  if (!world || scriptType != ZV_SCRIPT_TCL) return -1;
  // The interpreter is made when a script first needs it: most worlds have
  // none, and a world read for a check should not pay for one.
  return 0;
}

int zvScriptExit(ZvWorld* world, int scriptType) {
  if (!world || !world->script) return 0;
  if (scriptType != ZV_SCRIPT_TCL) return -1;
  auto* context = static_cast<ZvScriptContext*>(world->script);
  if (context->tkStarted) {
    zvScriptTkShutdown(context);
    --tkWorlds;
  }
  if (context->interp) {
    Tcl_DeleteAssocData(context->interp, kWorldKey);
    Tcl_DeleteInterp(context->interp);
    context->interp = nullptr;
  }
  if (context->reserved[0] || context->reserved[1] || context->reserved[2]) return 0;
  world->script = nullptr;
  delete context;
  return 0;
}

// ---------------------------------------------------------------------------
// Evaluations

int zvScriptTclEvalFile(ZvWorld* world, const char* file) {
  Tcl_Interp* interp = zvScriptInterpOf(world);
  if (!interp || !file) return -1;
  std::string name = file;
  for (char& c : name)
    if (c == '\\') c = '/';
  armLimits(interp);
  int code = Tcl_EvalFile(interp, name.c_str());
  return convertResult(interp, code, "zvScriptTclEvalFile", name.c_str(), nullptr);
}

int zvScriptTclEvalStr(ZvWorld* world, const char* text) {
  Tcl_Interp* interp = zvScriptInterpOf(world);
  if (!interp || !text) return -1;
  armLimits(interp);
  int code = Tcl_EvalEx(interp, text, -1, TCL_EVAL_GLOBAL);
  return convertResult(interp, code, "zvScriptTclEvalStr", text, nullptr);
}

int zvScriptTclEvalFunction(ZvWorld* world, int isEvent, const char* function, ZvObj* object, ZvEvent* event,
                            const char* userData, int* answer) {
  if (answer) *answer = 0;
  Tcl_Interp* interp = zvScriptInterpOf(world);
  if (!interp || !function || !*function) return -1;
  Tcl_Obj* stack[16];
  Tcl_Obj** words = stack;
  int count = 0;
  std::vector<Tcl_Obj*> heap;
  auto add = [&](Tcl_Obj* w) {
    Tcl_IncrRefCount(w);
    if (count < 16) {
      stack[count++] = w;
    } else {
      if (heap.empty()) heap.assign(stack, stack + 16);
      heap.push_back(w);
      ++count;
    }
  };
  add(Tcl_NewStringObj(function, -1));
  add(Tcl_NewLongObj(zvScriptHandleOf(object, ZV_HANDLE_OBJ)));
  if (isEvent) {
    add(Tcl_NewLongObj(zvScriptHandleOf(event, ZV_HANDLE_EVENT)));
    add(Tcl_NewStringObj(userData ? userData : "", -1));
  } else if (userData && *userData) {
    // Pasted unquoted in the design, so scripts expect the words of the
    // user data as separate arguments: split as a list would be, never
    // substituted. Text that is not a well-formed list splits at blanks.
    int n = 0;
    const char** parts = nullptr;
    if (Tcl_SplitList(nullptr, userData, &n, &parts) == TCL_OK) {
      for (int i = 0; i < n; ++i) add(Tcl_NewStringObj(parts[i], -1));
      Tcl_Free(reinterpret_cast<char*>(parts));
    } else {
      const char* p = userData;
      while (*p) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') ++p;
        if (p > start) add(Tcl_NewStringObj(start, int(p - start)));
      }
    }
  }
  if (!heap.empty()) words = heap.data();
  armLimits(interp);
  int code = Tcl_EvalObjv(interp, count, words, TCL_EVAL_GLOBAL);
  int r = 0;
  if (code != TCL_OK && code != TCL_RETURN) {
    Tcl_Obj* command = Tcl_NewListObj(count, words);
    Tcl_IncrRefCount(command);
    r = convertResult(interp, code, "zvScriptTclEvalFunction", Tcl_GetString(command), answer);
    Tcl_DecrRefCount(command);
  } else {
    r = convertResult(interp, code, "zvScriptTclEvalFunction", function, answer);
  }
  for (int i = 0; i < count; ++i) Tcl_DecrRefCount(words[i]);
  // The event lives only for this call; a script that keeps its handle
  // finds nothing behind it later.
  if (isEvent) zvScriptForgetHandle(event);
  return r;
}

// ---------------------------------------------------------------------------
// Limits and directories

void zvScriptArmLimits(Tcl_Interp* interp) { armLimits(interp); }

void zvSetScriptTimeLimit(int milliseconds) { timeLimitMs = milliseconds > 0 ? milliseconds : 1000; }
int zvGetScriptTimeLimit(void) { return timeLimitMs; }

void zvSetScriptUserDirectory(const char* directory) { userDirectory = directory ? directory : ""; }

const char* zvGetScriptUserDirectory(void) {
  if (userDirectory.empty()) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') {
      userDirectory = std::string(xdg) + "/quillmoor/usrfiles";
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
      userDirectory = std::string(home) + "/.local/share/quillmoor/usrfiles";
    } else {
      return nullptr;
    }
  }
  // Made on demand, parents included.
  std::string path;
  for (size_t i = 1; i <= userDirectory.size(); ++i) {
    if (i == userDirectory.size() || userDirectory[i] == '/') {
      path = userDirectory.substr(0, i);
      if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
    }
  }
  return userDirectory.c_str();
}

void zvSetScriptDataDirectory(const char* directory) { dataDirectory = directory ? directory : ""; }
const char* zvGetScriptDataDirectory(void) { return dataDirectory.c_str(); }

// ---------------------------------------------------------------------------
// Tk

int zvScriptTkSlice(ZvWorld* world) {
  auto* context = world ? static_cast<ZvScriptContext*>(world->script) : nullptr;
  return context && context->tkStarted ? context->tkSlice : 0;
}

int zvScriptTkActive(void) { return tkWorlds > 0; }

void zvScriptNoteTkStarted(ZvScriptContext* context) {
  if (!context->tkStarted) {
    context->tkStarted = 1;
    ++tkWorlds;
  }
}

static int callTkProc(ZvWorld* world, const char* proc) {
  auto* context = world ? static_cast<ZvScriptContext*>(world->script) : nullptr;
  if (!context || !context->interp || !context->tkStarted) return 0;
  context->tkShown = std::strcmp(proc, "zvTkResume") == 0;
  int r = zvScriptTclEvalStr(world, proc);
  // A script may have replaced the procedure; a world that is left shows
  // nothing all the same.
  if (!context->tkShown) zvScriptTkHideAll(context);
  return r;
}
int zvTkSuspend(ZvWorld* world) { return callTkProc(world, "zvTkSuspend"); }
int zvTkResume(ZvWorld* world) { return callTkProc(world, "zvTkResume"); }

// ---------------------------------------------------------------------------
// Commands

ZvScriptCommandProc zvScriptProvideCommand(const char* name, ZvScriptCommandProc proc) {
  if (!name) return nullptr;
  ZvScriptCommandProc& slot = provided()[name];
  ZvScriptCommandProc previous = slot;
  slot = proc;
  return previous;
}

int zvScriptRunProvided(ZvScriptCall& call) { return runProvided(call); }

int zvScriptSetVariable(ZvWorld* world, const char* name, const char* value, std::string* error) {
  Tcl_Interp* interp = world && world->script ? zvScriptInterpOf(world) : nullptr;
  if (!interp || !name || !value) return -1;
  if (Tcl_SetVar(interp, name, value, TCL_LEAVE_ERR_MSG)) return 0;
  if (error) *error = Tcl_GetStringResult(interp);
  return -1;
}

int zvScriptCommandCount(void) { return int(allCommands().size()); }
const ZvScriptCommand* zvScriptCommandAt(int index) {
  auto& all = allCommands();
  return index >= 0 && size_t(index) < all.size() ? all[size_t(index)] : nullptr;
}
const ZvScriptCommand* zvScriptFindCommand(const char* name) {
  if (!name) return nullptr;
  for (const ZvScriptCommand* c : allCommands())
    if (std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}

int zvScriptUsageSwitch(void) { return usageSwitch; }
void zvScriptSetUsageSwitch(int on) { usageSwitch = on; }

void zvScriptDebugOutput(const char* routine, const char* text) {
  zvDebug(ZV_DEBUG_MESSAGE, "%s(): %s\n", routine, text);
}

// ---------------------------------------------------------------------------
// Reading arguments and answering

namespace {
int badHandle(ZvScriptCall& call, const char* what, int i) {
  const char* text = i < call.argc ? call.argv[i] : nullptr;
  // The design's reader of handles speaks first, then the command.
  if (!text)
    zvMessage("zvScriptStr2Ptr : bad pointer value[NULL]");
  else if (text[strspn(text, "0123456789")] != '\0' || !*text)
    zvMessage("zvScriptStr2Ptr : bad pointer value[%s]", text);
  return call.fail("%s:bad %s[%s]", call.name, what, text ? text : "");
}
}  // namespace

// Handles count up across worlds, so a script could name another world's
// object (one kept in the cache): that reads as a bad handle too.
ZvObj* ZvScriptCall::obj(int i) {
  auto* o = static_cast<ZvObj*>(zvScriptHandleRecord(i < argc ? argv[i] : nullptr, ZV_HANDLE_OBJ));
  if (o && world && o->world != world) o = nullptr;
  if (!o) badHandle(*this, "ZvObj", i);
  return o;
}
ZvEvent* ZvScriptCall::event(int i) {
  auto* e = static_cast<ZvEvent*>(zvScriptHandleRecord(i < argc ? argv[i] : nullptr, ZV_HANDLE_EVENT));
  if (!e) badHandle(*this, "ZvEvent", i);
  return e;
}
ZvLeaf* ZvScriptCall::leaf(int i) {
  auto* l = static_cast<ZvLeaf*>(zvScriptHandleRecord(i < argc ? argv[i] : nullptr, ZV_HANDLE_LEAF));
  if (l && world && (!l->owner || l->owner->world != world)) l = nullptr;
  if (!l) badHandle(*this, "Parts or ZvObj", i);
  return l;
}
ZvTimeOutHandlerList* ZvScriptCall::task(int i) {
  auto* t = static_cast<ZvTimeOutHandlerList*>(zvScriptHandleRecord(i < argc ? argv[i] : nullptr, ZV_HANDLE_TASK));
  if (!t) fail("%s:bad TimeOutHandle[%s]", name, i < argc ? argv[i] : "");
  return t;
}
ZvMFColor* ZvScriptCall::colors(int i) {
  auto* c = static_cast<ZvMFColor*>(zvScriptHandleRecord(i < argc ? argv[i] : nullptr, ZV_HANDLE_COLORS));
  if (!c) badHandle(*this, "ZvMFColor", i);
  return c;
}

int ZvScriptCall::integer(int i, long* out) {
  const char* text = i < argc ? argv[i] : nullptr;
  char* end = nullptr;
  errno = 0;
  long v = text ? std::strtol(text, &end, 0) : 0;
  if (!text || end == text || errno == ERANGE) {
    fail("%s:bad number[%s]", name, text ? text : "");
    return -1;
  }
  *out = v;
  return 0;
}

int ZvScriptCall::real(int i, float* out) {
  const char* text = i < argc ? argv[i] : nullptr;
  float v = 0;
  // %f as the design reads it: leading number, rest ignored.
  if (!text || std::sscanf(text, "%f", &v) != 1) {
    fail("%s:bad number[%s]", name, text ? text : "");
    return -1;
  }
  *out = v;
  return 0;
}

int ZvScriptCall::ok() {
  Tcl_ResetResult(interp);
  return TCL_OK;
}
int ZvScriptCall::ok(long value) {
  Tcl_SetObjResult(interp, Tcl_NewLongObj(value));
  return TCL_OK;
}
int ZvScriptCall::ok(const char* text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text ? text : "", -1));
  return TCL_OK;
}
int ZvScriptCall::fail(const char* format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
  return TCL_ERROR;
}
int ZvScriptCall::setVar(int i, const char* value) {
  if (i >= argc) return ok();
  if (!Tcl_SetVar(interp, argv[i], value, TCL_LEAVE_ERR_MSG)) return TCL_ERROR;
  return TCL_OK;
}
int ZvScriptCall::setVar(int i, long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  return setVar(i, text);
}
int ZvScriptCall::setVarFloat(int i, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return setVar(i, text);
}

int zvScriptIsProcedure(ZvWorld* world, const char* name) {
  if (!name || !*name) return 0;
  // Only plain names: "info procs" reads its argument as a pattern.
  for (const char* p = name; *p; ++p)
    if (!(std::isalnum(static_cast<unsigned char>(*p)) || *p == '_')) return 0;
  Tcl_Interp* interp = zvScriptInterpOf(world);
  if (!interp) return 0;
  Tcl_Obj* words[3] = {Tcl_NewStringObj("info", -1), Tcl_NewStringObj("procs", -1),
                       Tcl_NewStringObj((std::string("::") + name).c_str(), -1)};
  for (Tcl_Obj* w : words) Tcl_IncrRefCount(w);
  int found = Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL) == TCL_OK &&
              Tcl_GetCharLength(Tcl_GetObjResult(interp)) > 0;
  for (Tcl_Obj* w : words) Tcl_DecrRefCount(w);
  Tcl_ResetResult(interp);
  return found;
}
