// hooks.cpp — where the layers below reach behaviour: the scene model
// deleting objects and worlds, the reader attaching scripts, handlers and
// tasks, the writer writing them back, collisions, and Tcl files that come
// out of archives.
#include "nav/nav.h"
#include "script/scriptpriv.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

// ---------------------------------------------------------------------------
// Scene model

void deleteObjHandlers(ZvObj* object) {
  zvDeleteAllEventHandlers(object);
  // The object is going (or emptied): a script holding its number finds nothing.
  zvScriptForgetObjHandles(object);
}

void deleteWorldTasks(ZvWorld* world) {
  zvDeleteWorldTimeOutHandlers(world);
  zvScriptWorldGone(world);
}

int scriptInit(ZvWorld* world) { return zvScriptInit(world, ZV_SCRIPT_TCL); }
int scriptDelete(ZvWorld* world) { return zvScriptExit(world, ZV_SCRIPT_TCL); }

// ---------------------------------------------------------------------------
// Reader

// Scripts the reader runs (Script nodes, script files, CREATE_NOTIFY) run
// while it holds objects it has not finished, the one being made among
// them; deleting any object then could pull one from under it.
int readerCalls = 0;
struct InReader {
  InReader() { ++readerCalls; }
  ~InReader() { --readerCalls; }
};

int scriptEval(ZvWorld* world, const char* procedure, int scriptKind) {
  if (scriptKind != ZV_SCRIPT_TCL) return ZV_FAIL;  // the one language there is an engine for
  InReader in;
  return zvScriptTclEvalStr(world, procedure);
}

// The reader has registered the file in the world being read, under its
// name made absolute against the file naming it; its URL finds that entry.
int addEventHandler(ZvObj* object, const ZvHandlerDesc* d) {
  InReader in;
  return zvAddEventHandler(object, d->file ? zvGetUrl(d->file) : nullptr, d->mask, d->scriptKind, d->function,
                           d->userData, d->actionObject);
}

int callEventHandler(ZvObj* object, uint32_t eventType) {
  InReader in;
  ZvEvent event;
  zvInitEvent(&event, eventType);
  return zvCallEventHandler(object, &event);
}

int addTimeOutHandler(ZvObj* object, const ZvHandlerDesc* d, int periodic) {
  InReader in;
  ZvTimeOutHandlerList* task =
      zvAddTimeOutHandler(object, d->file ? zvGetUrl(d->file) : nullptr, uint32_t(d->millisecond < 0 ? 0 : d->millisecond),
                          d->scriptKind, d->function, d->userData, periodic ? ZV_TASK_PERIODIC : ZV_TASK_SPORADIC);
  return task ? ZV_OK : ZV_FAIL;
}

// ---------------------------------------------------------------------------
// Writer

void eachHandler(ZvObj* object, ZvDumpHandlerSink sink, void* arg) {
  for (ZvEventHandlerList* h = object->handlers; h; h = h->next) {
    ZvDumpHandler d{};
    d.file = h->file;
    d.eventMask = h->mask;
    d.userData = h->userData;
    d.function = h->scriptType == ZV_SCRIPT_C ? nullptr : h->function;
    d.scriptType = h->scriptType;
    d.actionObject = h->actionObject;
    sink(&d, arg);
  }
}

struct TaskVisit {
  ZvDumpTaskSink sink;
  void* arg;
};

void visitTask(ZvTimeOutHandlerList* t, void* arg) {
  auto* v = static_cast<TaskVisit*>(arg);
  ZvDumpTask d{};
  d.taskType = t->taskType;
  d.file = t->file;
  d.millisecond = long(t->cycle);
  d.userData = t->userData;
  d.function = t->scriptType == ZV_SCRIPT_C ? nullptr : t->function;
  d.scriptType = t->scriptType;
  v->sink(&d, v->arg);
}

void eachTask(ZvObj* object, ZvDumpTaskSink sink, void* arg) {
  TaskVisit v{sink, arg};
  zvScriptEachObjTask(object, visitTask, &v);
}

// A Script node keeps no language of its own: scripts are Tcl.
int scriptTypeOf(ZvObj*, const ZvScript*) { return ZV_SCRIPT_TCL; }

// ---------------------------------------------------------------------------
// Navigation: what the object ran into is the part of its event.
int collisionEvent(ZvObj* object, ZvObj* other) {
  ZvEvent event;
  zvInitEvent(&event, ZV_EVENT_COLLISION);
  event.part = other ? other->leaf : nullptr;
  return zvCallEventHandler(object, &event);
}

// ---------------------------------------------------------------------------
// Archives: a Tcl member runs in the world as it comes out. It is entered
// under its local file, marked as run, so that a handler naming it later
// (by its name in the archive, whose entry holds the same local file) does
// not run it a second time.
int runArchiveScript(ZvWorld* world, const char* file) {
  if (!world || !file) return ZV_FAIL;
  ZvScriptContext* context = zvScriptContextOf(world);
  ZvUrlHash* entry = zvNewUrlHashEntry(world->urlTable, file, file, ZV_TYPE_TCL);
  if (!context || !entry) return ZV_FAIL;
  if (context->evaluated.count(entry)) return ZV_OK;
  context->evaluated.insert(entry);
  if (zvScriptTclEvalFile(world, file) == ZV_OK) return ZV_OK;
  context->evaluated.erase(entry);
  return ZV_FAIL;
}

}  // namespace

int zvScriptInReader(void) { return readerCalls > 0; }

void zvScriptInstallHooks(void) {
  ZvSceneHooks& scene = zvSceneHooks();
  scene.deleteObjTasks = zvDeleteObjTimeOutHandlers;
  scene.deleteObjHandlers = deleteObjHandlers;
  scene.deleteWorldTasks = deleteWorldTasks;
  scene.initWorldEvents = zvScriptInitWorldTasks;
  scene.scriptInit = scriptInit;
  scene.scriptDelete = scriptDelete;

  ZvReaderHooks& reader = zvReaderHooks();
  reader.scriptEval = scriptEval;
  reader.addEventHandler = addEventHandler;
  reader.callEventHandler = callEventHandler;
  reader.addTimeOutHandler = addTimeOutHandler;

  ZvDumpHooks& dump = zvDumpHooks();
  dump.eachHandler = eachHandler;
  dump.eachTask = eachTask;
  dump.scriptTypeOf = scriptTypeOf;

  zvNavHooks().collisionEvent = collisionEvent;
  zvWwwSetScriptRunner(runArchiveScript);
}
