// tasks.cpp — timed tasks: each world's list in expiry order, the wake-up
// that runs the due ones on every frame-timer tick, and the clock they read.
//
// world->timeouts is the head of the list, in the order tasks run; read it,
// but link nothing into it by hand: every task also sits in an index of
// its world (the last task of each expiry, and the tasks of each object),
// so that adding a task and re-arming one after it ran do not walk the
// whole list, and deleting an object does not either.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/scriptpriv.h"
#include "www/www.h"

namespace {

// A task that falls behind catches up this many runs in one wake-up at
// most; then it is re-armed from now, so one stall cannot hold the frame.
constexpr int kCatchUpRuns = 10;

uint64_t realClock() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
ZvScriptClock scriptClock = realClock;

struct Task {
  ZvTimeOutHandlerList record;  // first: the record's address is the task's
  Task* prev;                   // in the world's list
  Task* objPrev;
  Task* objNext;
  uint64_t expiry;  // ms on the script clock
  uint64_t born;    // the wake-up it was added in, 0 outside any
  uint64_t ranIn;   // the wake-up of its last run, and how often it ran there
  int runs;
  bool linked;
  bool cancelled;  // removed while off the list (running or held back)
};

Task* taskOf(ZvTimeOutHandlerList* record) { return reinterpret_cast<Task*>(record); }
Task* nextOf(Task* t) { return taskOf(t->record.next); }

struct WorldTasks {
  std::map<uint64_t, Task*> lastOf;  // the last task of each expiry in the list
  std::unordered_map<ZvObj*, Task*> byObject;  // each object's tasks, newest first
  int count = 0;  // tasks in the list
  uint64_t wakeUps = 0;
  bool waking = false;
  bool gone = false;  // the world's tasks were deleted while it woke
};
std::unordered_map<ZvWorld*, WorldTasks*> worlds;

WorldTasks* tasksOf(ZvWorld* world, bool make) {
  auto it = worlds.find(world);
  if (it != worlds.end()) {
    WorldTasks* w = it->second;
    // An empty list with tasks in the index: a world deleted without our
    // hooks, and another made at its address. Its tasks are lost with it.
    if (!world->timeouts && w->count && !w->waking) {
      w->lastOf.clear();
      w->byObject.clear();
      w->count = 0;
    }
    return w;
  }
  if (!make) return nullptr;
  auto* w = new WorldTasks;
  worlds.emplace(world, w);
  return w;
}

void setExpiry(Task* t, uint64_t expiry) {
  t->expiry = expiry;
  t->record.seconds = uint32_t(expiry / 1000);
  t->record.milliseconds = uint32_t(expiry % 1000);
}

// Before the head when it expires strictly earlier; otherwise after the
// head, before the first task that does not expire earlier. So among
// equal expiries the newest comes first, except that the head stays.
void linkTask(ZvWorld* world, WorldTasks* w, Task* t) {
  Task* head = taskOf(world->timeouts);
  Task* pred = nullptr;
  if (head && t->expiry >= head->expiry) {
    auto it = w->lastOf.lower_bound(t->expiry);
    pred = it == w->lastOf.begin() ? head : std::prev(it)->second;
  }
  Task* next = pred ? nextOf(pred) : head;
  t->prev = pred;
  t->record.next = next ? &next->record : nullptr;
  if (next) next->prev = t;
  if (pred)
    pred->record.next = &t->record;
  else
    world->timeouts = &t->record;
  if (!next || next->expiry != t->expiry) w->lastOf[t->expiry] = t;
  t->linked = true;
  ++w->count;
}

void unlinkTask(ZvWorld* world, WorldTasks* w, Task* t) {
  Task* next = nextOf(t);
  auto it = w->lastOf.find(t->expiry);
  if (it != w->lastOf.end() && it->second == t) {
    if (t->prev && t->prev->expiry == t->expiry)
      it->second = t->prev;
    else
      w->lastOf.erase(it);
  }
  if (t->prev)
    t->prev->record.next = t->record.next;
  else
    world->timeouts = t->record.next;
  if (next) next->prev = t->prev;
  t->prev = nullptr;
  t->record.next = nullptr;
  t->linked = false;
  --w->count;
}

void addToObject(WorldTasks* w, Task* t) {
  Task*& first = w->byObject[t->record.object];
  t->objPrev = nullptr;
  t->objNext = first;
  if (first) first->objPrev = t;
  first = t;
}

void removeFromObject(WorldTasks* w, Task* t) {
  if (t->objPrev) {
    t->objPrev->objNext = t->objNext;
  } else {
    auto it = w->byObject.find(t->record.object);
    if (it != w->byObject.end()) {
      if (t->objNext)
        it->second = t->objNext;
      else
        w->byObject.erase(it);
    }
  }
  if (t->objNext) t->objNext->objPrev = t->objPrev;
  t->objPrev = t->objNext = nullptr;
}

void freeTask(Task* t) {
  zvScriptForgetHandle(&t->record);
  zvFree(t->record.userData);
  zvFree(t->record.function);
  zvFree(t);
}

// Off the list and out of the object's tasks, then freed; a task that is
// running or held back by a wake-up is only marked, and that wake-up frees it.
void dropTask(ZvWorld* world, WorldTasks* w, Task* t) {
  removeFromObject(w, t);
  if (t->linked) {
    unlinkTask(world, w, t);
    freeTask(t);
  } else {
    t->cancelled = true;
  }
}

void deleteAll(ZvWorld* world, WorldTasks* w) {
  w->byObject.clear();
  while (Task* t = taskOf(world->timeouts)) {
    unlinkTask(world, w, t);
    freeTask(t);
  }
  world->timeouts = nullptr;
}

Task* addTask(ZvObj* object, const char* file, uint32_t interval, int scriptType, const char* function,
              ZvNativeRoutine routine, const char* userData, int taskType) {
  if (!object || !object->world) {
    zvWarning("zvAddTimeOutHandler: world is NULL");
    return nullptr;
  }
  if (!userData) {
    zvWarning("zvAddTimeOutHandler: user_data = NULL");
    return nullptr;
  }
  ZvWorld* world = object->world;
  auto* t = static_cast<Task*>(zvMalloc(sizeof(Task)));
  if (!t) {
    zvError("zvAddTimeOutHandler: can't allocate memory for ZvTimeOutHandlerList");
    return nullptr;
  }
  t->record.object = object;
  t->record.scriptType = scriptType;
  t->record.taskType = taskType;
  t->record.cycle = interval;
  // The program's own routines name no script file.
  if (scriptType != ZV_SCRIPT_C) {
    t->record.file = zvRegisterAndEvalScriptFile(world, file, scriptType);
    if (!t->record.file) {
      zvWarning("zvAddTimeOutHandler: zvRegisterAndEvalScriptFile error %s", file ? file : "");
      zvFree(t);
      return nullptr;
    }
  }
  t->record.userData = zvStrdup(userData);
  if (!t->record.userData) {
    zvError("zvAddTimeOutHandler: can't allocate memory for user_data");
    freeTask(t);
    return nullptr;
  }
  switch (scriptType) {
    case ZV_SCRIPT_PYTHON:
    case ZV_SCRIPT_TCL:
      t->record.function = zvStrdup(function ? function : "");
      if (!t->record.function) {
        zvError("zvAddTimeOutHandler: can't allocate memory for function");
        freeTask(t);
        return nullptr;
      }
      break;
    case ZV_SCRIPT_C:
      if (taskType == ZV_TASK_SPORADIC || taskType == ZV_TASK_PERIODIC) t->record.routine = routine;
      break;
    case ZV_SCRIPT_INLINE:
      zvWarning("zvAddTimeOutHandler: inline script type is not supported");
      break;
    default:
      zvWarning("zvAddTimeOutHandler: unknown script type");
      freeTask(t);
      return nullptr;
  }
  WorldTasks* w = tasksOf(world, true);
  setExpiry(t, zvScriptNow() + interval);
  // A task added by a task that is running waits for the next wake-up,
  // even when already due: tasks that add tasks cannot hold the frame.
  t->born = w->waking ? w->wakeUps : 0;
  linkTask(world, w, t);
  addToObject(w, t);
  return t;
}

}  // namespace

// ---------------------------------------------------------------------------
// The clock

ZvScriptClock zvSetScriptClock(ZvScriptClock clock) {
  ZvScriptClock before = scriptClock;
  scriptClock = clock ? clock : realClock;
  return before;
}

uint64_t zvScriptNow(void) { return scriptClock(); }
uint64_t zvScriptRealNow(void) { return realClock(); }

// ---------------------------------------------------------------------------
// Adding and removing

ZvTimeOutHandlerList* zvAddTimeOutHandler(ZvObj* object, const char* file, uint32_t interval, int scriptType,
                                          const char* function, const char* userData, int taskType) {
  // A routine's address can only come from the program itself.
  if (scriptType == ZV_SCRIPT_C) {
    zvWarning("zvAddTimeOutHandler: unknown script type");
    return nullptr;
  }
  Task* t = addTask(object, file, interval, scriptType, function, nullptr, userData, taskType);
  return t ? &t->record : nullptr;
}

ZvTimeOutHandlerList* zvAddNativeTimeOutHandler(ZvObj* object, uint32_t interval, ZvNativeRoutine routine,
                                                const char* userData, int taskType) {
  Task* t = addTask(object, nullptr, interval, ZV_SCRIPT_C, nullptr, routine, userData, taskType);
  return t ? &t->record : nullptr;
}

int zvRemoveTimeOutHandler(ZvObj* object, ZvTimeOutHandlerList* task) {
  if (!object || !task || !object->world) return ZV_FAIL;
  WorldTasks* w = tasksOf(object->world, false);
  if (!w) return ZV_FAIL;
  auto it = w->byObject.find(object);
  if (it == w->byObject.end()) return ZV_FAIL;
  // Only addresses are compared until the task is found among the
  // object's: whatever was passed in is never read before that.
  for (Task* t = it->second; t; t = t->objNext) {
    if (&t->record != task) continue;
    dropTask(object->world, w, t);
    return ZV_OK;
  }
  return ZV_FAIL;
}

void zvDeleteObjTimeOutHandlers(ZvWorld* world, ZvObj* object) {
  if (!world || !object) return;
  WorldTasks* w = tasksOf(world, false);
  if (!w) return;
  auto it = w->byObject.find(object);
  if (it == w->byObject.end()) return;
  while (true) {
    it = w->byObject.find(object);
    if (it == w->byObject.end()) break;
    dropTask(world, w, it->second);
  }
}

void zvDeleteWorldTimeOutHandlers(ZvWorld* world) {
  if (!world) return;
  auto it = worlds.find(world);
  if (it == worlds.end()) {
    world->timeouts = nullptr;
    return;
  }
  WorldTasks* w = it->second;
  worlds.erase(it);
  deleteAll(world, w);
  // A wake-up in progress owns the task it runs and those it held back;
  // it frees them and the index when it sees the world's tasks gone.
  if (w->waking)
    w->gone = true;
  else
    delete w;
}

void zvScriptInitWorldTasks(ZvWorld* world) {
  if (!world) return;
  // A world made where a deleted one was must not inherit its index.
  auto it = worlds.find(world);
  if (it != worlds.end()) {
    if (it->second->waking)
      it->second->gone = true;
    else
      delete it->second;
    worlds.erase(it);
  }
  world->timeouts = nullptr;
}

int zvCountTasks(ZvWorld* world) {
  WorldTasks* w = world ? tasksOf(world, false) : nullptr;
  return w ? w->count : 0;
}

// ---------------------------------------------------------------------------
// Running

int zvWakeUpTask(ZvWorld* world) {
  if (!world || !world->timeouts) return ZV_OK;
  WorldTasks* w = tasksOf(world, false);
  // A nested loop inside a task (a message box) ticks again: the outer
  // wake-up already has the due tasks in hand.
  if (!w || w->waking) return ZV_OK;
  const uint64_t now = zvScriptNow();
  const uint64_t wakeUp = ++w->wakeUps;
  w->waking = true;
  int result = ZV_OK;
  std::vector<Task*> held;  // due, but waiting for the next wake-up
  // Each run has the script limit, but a world with many due tasks must
  // not hold the browser for the sum of them: past one limit in all, the
  // rest wait for the next wake-up, in their order.
  const uint64_t started = zvScriptRealNow();
  while (!w->gone) {
    Task* t = taskOf(world->timeouts);
    if (!t || t->expiry > now) break;
    if (zvScriptRealNow() - started >= uint64_t(zvGetScriptTimeLimit())) {
      zvMessage("The tasks of this world ran past %d ms in one turn; the rest wait.", zvGetScriptTimeLimit());
      break;
    }
    unlinkTask(world, w, t);
    if (t->born == wakeUp || (t->ranIn == wakeUp && t->runs >= kCatchUpRuns)) {
      held.push_back(t);
      continue;
    }
    if (t->ranIn != wakeUp) {
      t->ranIn = wakeUp;
      t->runs = 0;
    }
    ++t->runs;
    ZvTimeOutHandlerList& r = t->record;
    ZvEvent event{};
    event.type = ZV_EVENT_TIME_OUT;
    event.seconds = uint32_t(now / 1000);
    event.milliseconds = uint32_t(now % 1000);
    event.object = r.object;
    int answer = 1;  // anything but 0 ends a periodic task
    bool keep = true, failed = false;
    switch (r.scriptType) {
      case ZV_SCRIPT_TCL:
        failed = zvScriptTclEvalFunction(world, 0, r.function, r.object, &event, r.userData, &answer) != ZV_OK;
        break;
      case ZV_SCRIPT_PYTHON:
      case ZV_SCRIPT_JAVA:
        zvWarning("zvWakeUpTask: no engine for script type %d", int(r.scriptType));
        failed = true;
        break;
      case ZV_SCRIPT_C:
        if (r.taskType == ZV_TASK_SPORADIC) {
          if (r.routine) r.routine(r.object, &event, r.userData);
        } else if (r.taskType == ZV_TASK_PERIODIC) {
          if (r.routine) answer = r.routine(r.object, &event, r.userData);
        } else {
          zvWarning("zvWakeUpTask: unknown task type for executing");
          keep = false;
        }
        break;
      case ZV_SCRIPT_INLINE:
        zvWarning("zvAddTimeOutHandler: inline script type is not supported");
        break;
      default:
        zvWarning("zvWakeUpTask: unknown script type");
        keep = false;
        break;
    }
    zvScriptForgetHandle(&event);
    if (w->gone || t->cancelled || failed || !keep) {
      if (!w->gone && !t->cancelled) removeFromObject(w, t);
      freeTask(t);
      if (failed) {
        result = ZV_FAIL;
        break;
      }
      continue;
    }
    if (r.taskType == ZV_TASK_PERIODIC && answer == 0) {
      uint64_t next = t->expiry + r.cycle;
      if (t->runs >= kCatchUpRuns && next <= now) next = now + r.cycle;
      setExpiry(t, next);
      linkTask(world, w, t);
      continue;
    }
    if (r.taskType != ZV_TASK_SPORADIC && r.taskType != ZV_TASK_PERIODIC)
      zvWarning("zvWakeUpTask: unknown task type for deleting");
    removeFromObject(w, t);
    freeTask(t);
  }
  for (Task* t : held) {
    if (w->gone || t->cancelled) {
      if (!w->gone && !t->cancelled) removeFromObject(w, t);
      freeTask(t);
    } else {
      linkTask(world, w, t);
    }
  }
  w->waking = false;
  if (w->gone) delete w;
  return result;
}

void zvRestartTasks(ZvWorld* world) {
  WorldTasks* w = world ? tasksOf(world, false) : nullptr;
  if (!w || w->waking) return;
  const uint64_t now = zvScriptNow();
  std::vector<Task*> order;
  order.reserve(size_t(w->count));
  for (Task* t = taskOf(world->timeouts); t; t = nextOf(t)) order.push_back(t);
  for (Task* t : order) setExpiry(t, now + t->record.cycle);
  // Re-armed from now, the tasks keep their order where it is still an
  // order of expiries; where it is not (a short cycle behind a long one),
  // the list is put back in expiry order, or the short one would wait for
  // the long one at every wake-up.
  std::stable_sort(order.begin(), order.end(), [](Task* a, Task* b) { return a->expiry < b->expiry; });
  w->lastOf.clear();
  Task* prev = nullptr;
  for (Task* t : order) {
    t->prev = prev;
    t->record.next = nullptr;
    if (prev)
      prev->record.next = &t->record;
    else
      world->timeouts = &t->record;
    w->lastOf[t->expiry] = t;  // the last one of each expiry wins
    prev = t;
  }
}

// The tasks of one object in list order, for the writer.
void zvScriptEachObjTask(ZvObj* object, void (*visit)(ZvTimeOutHandlerList* task, void* arg), void* arg) {
  if (!object || !object->world || !visit) return;
  WorldTasks* w = tasksOf(object->world, false);
  if (!w || !w->byObject.count(object)) return;
  for (Task* t = taskOf(object->world->timeouts); t; t = nextOf(t))
    if (t->record.object == object) visit(&t->record, arg);
}
