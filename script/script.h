// script.h — behaviour: event handlers and timed tasks on objects, and the
// Tcl interpreter in which each world's scripts run.
//
// Everything here runs on the GUI thread. Handlers and tasks may add or
// remove handlers and tasks while they run: dispatch works on copies, and
// a wake-up takes each task off the list before running it.
//
// Scripts come with worlds, and worlds come from the web, so a world's
// interpreter is a Tcl safe interpreter with our commands added: no exec,
// sockets, loading or interpreters; file access only inside the user-files
// directory (and reads of the world's own fetched files and the program's
// data directory); every evaluation under a time and a recursion limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene.h"

struct ZvUrlHash;

enum { ZV_TASK_SPORADIC = 0, ZV_TASK_PERIODIC = 1 };

// A routine of the program itself (script type 4). A periodic task whose
// routine answers 0 keeps running; any other answer ends it.
typedef int (*ZvNativeRoutine)(ZvObj* object, ZvEvent* event, const char* userData);

struct ZvEventHandlerList {
  ZvEventHandlerList* next;
  int32_t scriptType;
  uint32_t mask;  // the bits this handler still wants
  char* userData;  // owned, never null
  char* function;  // owned, script types 0 to 2
  ZvNativeRoutine routine;  // script type 4
  ZvUrlHash* file;  // the script file's entry in the world's URL table
  char* actionObject;  // owned, null for none (an empty one is stored as none)
};

struct ZvTimeOutHandlerList {
  ZvTimeOutHandlerList* next;
  ZvObj* object;
  int32_t scriptType;
  char* userData;  // owned, never null
  char* function;  // owned, script types 0 and 1
  ZvNativeRoutine routine;  // script type 4
  uint32_t seconds, milliseconds;  // expiry on the script clock
  uint32_t cycle;  // milliseconds
  int32_t taskType;  // ZV_TASK_*
  ZvUrlHash* file;
};

// ---------------------------------------------------------------------------
// The clock tasks and events read: milliseconds. The real one is the
// monotonic clock; tests and --screenshot --after put their own in.
typedef uint64_t (*ZvScriptClock)(void);
ZvScriptClock zvSetScriptClock(ZvScriptClock clock);  // null: the real one; answers the previous
uint64_t zvScriptNow(void);

// ---------------------------------------------------------------------------
// Event handlers. file: the script file's URL (null or "" for none),
// resolved against the world's URL. 0, -1 or -5.
int zvAddEventHandler(ZvObj* object, const char* file, uint32_t mask, int scriptType, const char* function,
                      const char* userData, const char* actionObject);
int zvRemoveEventHandler(ZvObj* object, const char* file, uint32_t mask, int scriptType, const char* function,
                         const char* userData, const char* actionObject);
// The program's own handlers (script type 4).
int zvAddNativeEventHandler(ZvObj* object, uint32_t mask, ZvNativeRoutine routine, const char* userData);
int zvRemoveNativeEventHandler(ZvObj* object, uint32_t mask, ZvNativeRoutine routine, const char* userData);
// Every handler of the object, when its contents are cleared.
void zvDeleteAllEventHandlers(ZvObj* object);
// Runs the handlers for the event on the object, or on its nearest
// ancestor that has some. 0, or -1 when a handler failed.
int zvCallEventHandler(ZvObj* object, ZvEvent* event);
// The event to every object of the world's WORLD_IN, WORLD_OUT and FRAME
// arrays, in that order, until one answers nonzero.
int zvCallWorldEventHandler(ZvWorld* world, ZvEvent* event);
// A fresh event of a type, stamped with the script clock.
void zvInitEvent(ZvEvent* event, uint32_t type);

// ---------------------------------------------------------------------------
// Timed tasks. interval in milliseconds; taskType ZV_TASK_*.
ZvTimeOutHandlerList* zvAddTimeOutHandler(ZvObj* object, const char* file, uint32_t interval, int scriptType,
                                          const char* function, const char* userData, int taskType);
ZvTimeOutHandlerList* zvAddNativeTimeOutHandler(ZvObj* object, uint32_t interval, ZvNativeRoutine routine,
                                                const char* userData, int taskType);
// 0, or -1 when the task is not the object's.
int zvRemoveTimeOutHandler(ZvObj* object, ZvTimeOutHandlerList* task);
void zvDeleteObjTimeOutHandlers(ZvWorld* world, ZvObj* object);
void zvDeleteWorldTimeOutHandlers(ZvWorld* world);
// Runs every due task of the world; 0, or -1 when a script failed.
int zvWakeUpTask(ZvWorld* world);
// Every task re-armed from now (a world shown again), order kept.
void zvRestartTasks(ZvWorld* world);
int zvCountTasks(ZvWorld* world);

// Registers a script file in the world's URL table and evaluates it once
// per world; the entry, or null when the file has errors.
ZvUrlHash* zvRegisterAndEvalScriptFile(ZvWorld* world, const char* file, int scriptType);

// ---------------------------------------------------------------------------
// The script engine. One interpreter per world, made on first use.
int zvScriptInit(ZvWorld* world, int scriptType);  // 0, or -1
int zvScriptExit(ZvWorld* world, int scriptType);
// Evaluations in the world's interpreter: 0, or -1 after a reported error.
int zvScriptTclEvalFile(ZvWorld* world, const char* file);
int zvScriptTclEvalStr(ZvWorld* world, const char* text);
// Calls a handler or task procedure. For an event: function object event
// {userData} (user data one word); otherwise function object userData...
// (user data split as a Tcl list, never substituted). answer: 1 for an
// empty result, else the result's integer value (0 after an error).
int zvScriptTclEvalFunction(ZvWorld* world, int isEvent, const char* function, ZvObj* object, ZvEvent* event,
                            const char* userData, int* answer);
// Whether the world's scripts defined a procedure of this name (letters,
// digits and '_' only): what a peer may call is what the world itself wrote.
int zvScriptIsProcedure(ZvWorld* world, const char* name);
// Tk for a world's scripts: the time slice the frame timer leaves Tk
// (0 while Tk is not started), and hiding and showing its windows.
int zvScriptTkSlice(ZvWorld* world);
int zvTkSuspend(ZvWorld* world);
int zvTkResume(ZvWorld* world);
// Whether any world's Tk windows are open (the loop serves them).
int zvScriptTkActive(void);

// Limits for every evaluation: real time in milliseconds (1000 unless
// set, "-dscriptlimit") and nesting depth.
void zvSetScriptTimeLimit(int milliseconds);
int zvGetScriptTimeLimit(void);

// Directories: the user files scripts may write ($XDG_DATA_HOME/quillmoor/
// usrfiles unless set) and the program's data directory (zvinit.tcl).
void zvSetScriptUserDirectory(const char* directory);
const char* zvGetScriptUserDirectory(void);  // created on first use
void zvSetScriptDataDirectory(const char* directory);

// ---------------------------------------------------------------------------
// Handles: what scripts see of objects, events, leaves, tasks and colour
// arrays. Decimal numbers, each naming one live record of one kind; a
// record's handle dies with it and is never given out again.
enum {
  ZV_HANDLE_OBJ = 1,
  ZV_HANDLE_EVENT = 2,
  ZV_HANDLE_LEAF = 3,
  ZV_HANDLE_TASK = 4,
  ZV_HANDLE_COLORS = 5,
};
long zvScriptHandleOf(const void* record, int kind);  // 0 for null
void* zvScriptHandleRecord(const char* text, int kind);  // null when bad, stale or of another kind
void zvScriptForgetHandle(const void* record);

// ---------------------------------------------------------------------------
// Commands that other parts of the program provide (sound, movies,
// characters, remote fetch, shared worlds, history and menus). Until a part
// provides its commands, scripts calling them get "%s: not available".
// argv[0] is the command's name. 0 with the result, or nonzero with the
// error text in result.
typedef int (*ZvScriptCommandProc)(ZvWorld* world, int argc, const char* const* argv, std::string* result);
ZvScriptCommandProc zvScriptProvideCommand(const char* name, ZvScriptCommandProc proc);  // answers the previous
// For a provided command that writes into the caller's variables: sets the
// named variable where the running command would. 0, or -1 with Tcl's
// error text in error.
int zvScriptSetVariable(ZvWorld* world, const char* name, const char* value, std::string* error);
// Whether the world's scripts may read a local file (see objread.cpp): the
// rule other layers follow when a script names a file for them to open.
bool zvScriptMayReadLocal(ZvWorld* world, const char* path);

// Fills the scene, reader, writer, navigation and retrieval hooks with
// this layer's entries.
void zvScriptInstallHooks(void);
