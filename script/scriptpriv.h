// scriptpriv.h — what the pieces of the script layer share: the world's
// script context and the way commands are declared, read their arguments
// and answer.
#pragma once

#include <tcl.h>

#include <string>
#include <unordered_set>

#include "script/script.h"

// The world's script context (world->script).
struct ZvScriptContext {
  Tcl_Interp* interp;
  int32_t tkSlice;  // ms; 0 while Tk is not started for this world
  int32_t reserved[3];  // other languages; all zero
  ZvWorld* world;
  int tkStarted;
  int tkShown;
  // Script files already evaluated in this interpreter (URL-table entries).
  std::unordered_set<const ZvUrlHash*> evaluated;
};
ZvScriptContext* zvScriptContextOf(ZvWorld* world);  // made on demand; null when it cannot be
Tcl_Interp* zvScriptInterpOf(ZvWorld* world);          // the same, its interpreter

// ---------------------------------------------------------------------------
// Commands. Each is declared once with its usage text and argument counts
// (the words after the name); the core checks the count, answers zvHelp's
// usage request, catches a world that is gone, and runs the handler.
struct ZvScriptCall {
  Tcl_Interp* interp;
  ZvWorld* world;  // the interpreter's world
  const char* name;  // argv[0]
  int argc;
  const char** argv;

  // Arguments: a handle of a kind, or null after setting the command's
  // bad-handle result ("%s:bad ZvObj[%s]" and its kin).
  ZvObj* obj(int i);
  ZvEvent* event(int i);
  ZvLeaf* leaf(int i);  // "%s:bad Parts or ZvObj[%s]"
  ZvTimeOutHandlerList* task(int i);
  ZvMFColor* colors(int i);
  // Numbers read as the design reads them (%ld, %f); 0 and the value, or
  // -1 with the result set.
  int integer(int i, long* out);
  int real(int i, float* out);

  // Answers: TCL_OK with the result set, or TCL_ERROR with a message.
  int ok();                     // empty result
  int ok(long value);           // "%ld"
  int ok(const char* text);
  int fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes a Tcl variable named by argument i; TCL_ERROR with Tcl's own
  // message when it cannot be set.
  int setVar(int i, const char* value);
  int setVar(int i, long value);
  int setVarFloat(int i, double value);  // "%f"
};
typedef int (*ZvScriptCommandHandler)(ZvScriptCall& call);

struct ZvScriptCommand {
  const char* name;
  const char* usage;  // printed after the name
  int16_t minArgs, maxArgs;  // words after the name; maxArgs -1: no upper bound
  ZvScriptCommandHandler run;
};

// The command groups, each ending with an entry whose name is null. Table
// order is registration order; a later name replaces an earlier one.
extern const ZvScriptCommand zvScriptCoreCommands[];     // messages, zvHelp, zvtkInit
extern const ZvScriptCommand zvScriptEventCommands[];    // handlers, tasks, event fields
extern const ZvScriptCommand zvScriptObjectCommands[];   // objects, transforms, names, values, switches
extern const ZvScriptCommand zvScriptMaterialCommands[]; // materials and colour arrays
extern const ZvScriptCommand zvScriptWorldCommands[];    // camera, navigation, time, reading objects
// Names whose implementation another part provides (zvScriptProvideCommand).
extern const ZvScriptCommand zvScriptProvidedCommands[];

// Every command, in registration order (for zvHelp and the tests).
int zvScriptCommandCount(void);
const ZvScriptCommand* zvScriptCommandAt(int index);
const ZvScriptCommand* zvScriptFindCommand(const char* name);

// The usage switch: on while zvHelp asks a command for its usage.
int zvScriptUsageSwitch(void);

// Writes to the debugger output in the form "%s(): %s\n" (class
// "message"): the Messages window's log.
void zvScriptDebugOutput(const char* routine, const char* text);

// An object is going away: its handle and those of its leaves die.
void zvScriptForgetObjHandles(ZvObj* object);
size_t zvScriptHandleCount(void);  // live handles, for the tests

// Pieces the engine calls at the edges of an interpreter's life.
// Takes away what a world's script must not reach, beyond what a safe
// interpreter already hides, and adds the sandboxed open, source and exit.
void zvScriptHardenInterp(Tcl_Interp* interp);
// The world's Tk windows go with it.
void zvScriptTkShutdown(ZvScriptContext* context);
// A new world interpreter: a safe child of the layer's own trusted parent.
Tcl_Interp* zvScriptNewInterp(void);
// Arms the time limit from now, unless an evaluation is running in the
// interpreter: a running script never gets more time.
void zvScriptArmLimits(Tcl_Interp* interp);
// Sets the time limit of an evaluation that starts now; the sandbox also
// watches, on the way, how much memory the evaluation takes.
void zvScriptSetDeadline(Tcl_Interp* interp, const Tcl_Time& until);
// Arms every world interpreter that is not evaluating (before the loop
// serves an event, so that callbacks start with the whole limit).
void zvScriptRearmIdle(void);
// A directory whose files every world's script may read (Tk's library).
void zvScriptAllowReads(const char* directory);
// Runs a command the safe interpreter hides (wm, toplevel), result in interp.
int zvScriptInvokeHidden(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
Tcl_Interp* zvScriptParentInterp(void);
const char* zvScriptInterpPath(Tcl_Interp* interp);  // its name in the parent
// Tk: the zvtkInit command, and hiding every window of a world's Tk.
int zvScriptTkInitCommand(ZvScriptCall& call);
void zvScriptTkHideAll(ZvScriptContext* context);
void zvScriptNoteTkStarted(ZvScriptContext* context);
void zvScriptSetUsageSwitch(int on);
const char* zvGetScriptDataDirectory(void);
// The handler of every entry of zvScriptProvidedCommands: runs what
// another part provided under the command's name, or fails "not available".
int zvScriptRunProvided(ZvScriptCall& call);

// Milliseconds on the real clock, whatever clock the tasks read: what
// bounds how long one wake-up or one world event may run scripts.
uint64_t zvScriptRealNow(void);

// Whether a script is running for the reader (a Script node, a script
// file, CREATE_NOTIFY): objects must not be deleted then.
int zvScriptInReader(void);

// Between the events and the tasks and their hooks: a world being cleared
// stops a world dispatch in progress on it, a new world starts with no
// tasks, and the writer visits an object's tasks in list order.
void zvScriptWorldGone(ZvWorld* world);
void zvScriptInitWorldTasks(ZvWorld* world);
void zvScriptEachObjTask(ZvObj* object, void (*visit)(ZvTimeOutHandlerList* task, void* arg), void* arg);
