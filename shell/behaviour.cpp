// behaviour.cpp — the shell's side of the worlds' scripts: which hooks each
// mode installs, the events the shell itself sends (world in and out, the
// frame, interaction), the wake-up of timed tasks, and the headless run
// of a world on a simulated clock.
//
// Scripts may open nested loops (Tcl's update and vwait, a dialog), and a
// nested loop may fire the frame timer or deliver input again; so the shell
// never starts a script while one of its own is running, and whatever
// would take the world away meanwhile waits until the outer script is done.
#include <vector>

#include "media/media.h"
#include "scene/scene.h"
#include "script/script.h"
#include "shell/input.h"
#include "shell/shell.h"
#include "www/www.h"

namespace {

int depth;  // scripts of ours running, nested
// Objects an event is still to reach; a handler may delete any of them.
std::vector<ZvObj*> pending;
void (*scriptDeleteHandlers)(ZvObj*);

struct Running {
  Running() { ++depth; }
  ~Running() { --depth; }
};

void forgetDeleted(ZvObj* object) {
  zvInputForgetObject(object);
  for (ZvObj*& o : pending)
    if (o == object) o = nullptr;
  if (scriptDeleteHandlers) scriptDeleteHandlers(object);
}

// A world's own object is what it may delete; the pointer and the list of
// objects an event is still to reach must hear of it first.
void watchDeletions(void) {
  ZvSceneHooks& hooks = zvSceneHooks();
  if (hooks.deleteObjHandlers == forgetDeleted) return;
  scriptDeleteHandlers = hooks.deleteObjHandlers;
  hooks.deleteObjHandlers = forgetDeleted;
}

uint64_t simulatedNow;
uint64_t simulatedClock(void) { return simulatedNow; }

}  // namespace

void zvInstallBehaviour(void) {
  zvScriptInstallHooks();
  watchDeletions();
}

void zvInstallRecordedBehaviour(void) {
  zvScriptInstallHooks();
  watchDeletions();
  zvRecordHandlersOnly();
}

// Attached without the script file (which would be evaluated), then given
// the file's entry to be written with.
int zvRecordHandler(ZvObj* object, ZvUrlHash* file, uint32_t mask, int scriptType, const char* function,
                    const char* userData, const char* actionObject) {
  ZvEventHandlerList* before = object->handlers;
  int r = zvAddEventHandler(object, nullptr, mask, scriptType, function, userData, actionObject);
  if (r == 0 && object->handlers && object->handlers != before) object->handlers->file = file;
  return r;
}

int zvRecordTask(ZvObj* object, ZvUrlHash* file, uint32_t interval, int scriptType, const char* function,
                 const char* userData, int periodic) {
  ZvTimeOutHandlerList* task = zvAddTimeOutHandler(object, nullptr, interval, scriptType, function, userData,
                                                   periodic ? ZV_TASK_PERIODIC : ZV_TASK_SPORADIC);
  if (!task) return -1;
  task->file = file;
  return 0;
}

int zvBehaviourBusy(void) { return depth > 0; }

int zvSendWorldEvent(ZvWorld* world, uint32_t type) {
  if (!world || depth > 0) return 0;
  Running running;
  ZvEvent event;
  zvInitEvent(&event, type);
  return zvCallWorldEventHandler(world, &event);
}

int zvWakeWorldTasks(ZvWorld* world) {
  if (!world || depth > 0) return 0;
  Running running;
  return zvWakeUpTask(world);
}

void zvDeliverInteraction(ZvWorld* world, ZvObj* target, ZvEvent* event) {
  if (!world || depth > 0) return;
  Running running;
  if (target) {
    zvCallEventHandler(target, event);
    return;
  }
  // A key has no object of its own: it goes to what lies under the
  // pointer when that takes keys, else to every object of the world that
  // has a handler for it (collected first: handlers may change the tree).
  uint32_t bit = event->type;
  if (const ZvPointerState* p = zvPointerState(); p->picked) {
    for (ZvObj* o = p->picked; o; o = o->parent)
      if (o->eventMask & bit) {
        zvCallEventHandler(p->picked, event);
        return;
      }
  }
  pending.clear();
  std::vector<ZvObj*> walk;
  for (ZvTopObjList* t = world->topObjects; t; t = t->next)
    if (t->object) walk.push_back(t->object);
  while (!walk.empty()) {
    ZvObj* o = walk.back();
    walk.pop_back();
    if (o->eventMask & bit) pending.push_back(o);
    for (ZvObjList* c = o->children; c; c = c->next)
      if (c->object) walk.push_back(c->object);
  }
  // forgetDeleted() empties the slot of one an earlier handler deleted.
  for (size_t i = 0; i < pending.size(); ++i)
    if (pending[i]) zvCallEventHandler(pending[i], event);
  pending.clear();
}

void zvShowWorldBehaviour(ZvWorld* world) {
  zvTkResume(world);
  zvRestartTasks(world);
  zvSendWorldEvent(world, ZV_EVENT_WORLD_IN);
}

void zvLeaveWorldBehaviour(ZvWorld* world) {
  zvSendWorldEvent(world, ZV_EVENT_WORLD_OUT);
  zvTkSuspend(world);
}

void zvUseSimulatedClock(uint64_t start) {
  simulatedNow = start;
  zvSetScriptClock(simulatedClock);
}

void zvRunWorldFor(ZvWorld* world, int ms) {
  // The frame period the window starts with; a headless run draws nothing
  // in between, so the period never adapts and every run is the same.
  zvSendWorldEvent(world, ZV_EVENT_WORLD_IN);
  for (int t = ZV_FRAME_INTERVAL_START; t <= ms; t += ZV_FRAME_INTERVAL_START) {
    simulatedNow += ZV_FRAME_INTERVAL_START;
    zvWakeWorldTasks(world);
    zvSoundUpdate(world);
    zvSendWorldEvent(world, ZV_EVENT_FRAME);
  }
}
