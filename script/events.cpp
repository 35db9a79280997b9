// events.cpp — event handlers on objects: adding, finding and removing
// them, the world's lists of objects that want WORLD_IN, WORLD_OUT and
// FRAME, and the dispatch that carries an event up to the nearest object
// with a handler for it. Also the registration of script files, which
// handlers and tasks share.
#include <cstring>
#include <string>
#include <vector>

#include "script/scriptpriv.h"
#include "www/www.h"

namespace {

constexpr uint32_t kWorldBits = ZV_EVENT_WORLD_IN | ZV_EVENT_WORLD_OUT | ZV_EVENT_FRAME;

// A dispatch in progress on an object, or a world dispatch on a world: if
// what it works on goes away under a handler, it stops instead of reading
// freed memory.
struct ObjFrame {
  ZvObj* object;
  bool gone;
};
struct WorldFrame {
  ZvWorld* world;
  bool gone;
};
std::vector<ObjFrame*> objFrames;
std::vector<WorldFrame*> worldFrames;

// The arrays keep one entry per handler; most objects are in none, so
// dropping an absent one is quiet.
void dropOne(ZvMFObj* array, ZvObj* object) {
  for (int i = 0; i < array->count; ++i) {
    if (array->objects[i] != object) continue;
    std::memmove(&array->objects[i], &array->objects[i + 1], sizeof(ZvObj*) * size_t(array->count - i - 1));
    if (--array->count == 0) zvClearZvMFObj(array);
    return;
  }
}

void dropFromWorldArrays(ZvObj* object, uint32_t bits) {
  ZvWorld* world = object->world;
  if (!world) return;
  if (bits & ZV_EVENT_WORLD_IN) dropOne(&world->worldIn, object);
  if (bits & ZV_EVENT_WORLD_OUT) dropOne(&world->worldOut, object);
  if (bits & ZV_EVENT_FRAME) dropOne(&world->frame, object);
}

void freeHandler(ZvEventHandlerList* h) {
  zvFree(h->userData);
  zvFree(h->function);
  zvFree(h->actionObject);
  zvFree(h);
}

void recomputeMask(ZvObj* object) {
  uint32_t mask = 0;
  for (ZvEventHandlerList* h = object->handlers; h; h = h->next) mask |= h->mask;
  object->eventMask = mask;
}

bool sameText(const char* a, const char* b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

// What a handler is compared by: a record, or a description of one.
struct HandlerKey {
  int32_t scriptType;
  uint32_t mask;
  const char* userData;
  const char* function;
  ZvNativeRoutine routine;
  const ZvUrlHash* file;
  const char* actionObject;  // null for none
};

bool handlerEq(const ZvEventHandlerList* h, const HandlerKey& k) {
  if (h->scriptType == ZV_SCRIPT_INLINE || k.scriptType == ZV_SCRIPT_INLINE) {
    zvWarning("zvEventHandlerEq: inline script type is not supported");
    return false;
  }
  for (int t : {h->scriptType, k.scriptType})
    if (t != ZV_SCRIPT_PYTHON && t != ZV_SCRIPT_TCL && t != ZV_SCRIPT_JAVA && t != ZV_SCRIPT_C) {
      zvWarning("zvEventHandlerEq: no such a script type %d", t);
      return false;
    }
  if (!sameText(h->actionObject, k.actionObject)) return false;
  bool hNative = h->scriptType == ZV_SCRIPT_C, kNative = k.scriptType == ZV_SCRIPT_C;
  if (hNative != kNative) return false;
  if (hNative ? h->routine != k.routine : !sameText(h->function, k.function)) return false;
  return (h->mask & k.mask) || h->scriptType == k.scriptType || h->file == k.file || sameText(h->userData, k.userData);
}

const char* actionOrNull(const char* actionObject) { return actionObject && *actionObject ? actionObject : nullptr; }

// The name a script file is registered under: relative names stand
// beside the world.
std::string resolveScriptName(ZvWorld* world, const char* file) {
  if (!file || !*file) return "";
  char absolute[4096];
  if (world->url && *world->url && zvUrlScheme(file) == ZV_SCHEME_NONE &&
      zvResolveUrl(world->url, file, absolute, sizeof absolute) == 0)
    return absolute;
  return file;
}

bool wasEvaluated(ZvScriptContext* context, const ZvUrlHash* entry) {
  return context && context->evaluated.count(entry);
}

int addHandler(ZvObj* object, const char* file, uint32_t mask, int scriptType,
               const char* function, ZvNativeRoutine routine, const char* userData, const char* actionObject) {
  if (!userData) {
    zvWarning("zvAddEventHandler: user_data = NULL");
    return ZV_FAIL;
  }
  if (!object) {
    zvWarning("zvAddEventHandler: object is NULL");
    return ZV_FAIL;
  }
  ZvWorld* world = object->world;
  ZvUrlHash* entry = nullptr;
  // The program's own routines name no script file.
  if (scriptType != ZV_SCRIPT_C) {
    entry = zvRegisterAndEvalScriptFile(world, file, scriptType);
    if (!entry) {
      zvWarning("zvAddEventHandler: zvRegisterAndEvalScriptFile error");
      return ZV_FAIL;
    }
  }
  HandlerKey key{scriptType, mask, userData, function, routine, entry, actionOrNull(actionObject)};
  for (ZvEventHandlerList* h = object->handlers; h; h = h->next)
    if (handlerEq(h, key)) return ZV_FAIL;

  auto* h = static_cast<ZvEventHandlerList*>(zvMalloc(sizeof(ZvEventHandlerList)));
  if (!h) {
    zvError("zvAddEventHandler: can not allocate memory\n");
    return ZV_NOMEM;
  }
  h->scriptType = scriptType;
  h->mask = mask;
  h->file = entry;
  h->userData = zvStrdup(userData);
  bool failed = !h->userData;
  if (key.actionObject) {
    h->actionObject = zvStrdup(key.actionObject);
    failed = failed || !h->actionObject;
  }
  switch (scriptType) {
    case ZV_SCRIPT_PYTHON:
    case ZV_SCRIPT_TCL:
    case ZV_SCRIPT_JAVA:
      h->function = zvStrdup(function ? function : "");
      failed = failed || !h->function;
      break;
    case ZV_SCRIPT_C:
      h->routine = routine;
      break;
    case ZV_SCRIPT_INLINE:
      zvWarning("zvSetEventHandler: inline script type is not supported");
      break;
    default:
      zvWarning("zvSetEventHandler: unknown script type");
      freeHandler(h);
      return ZV_FAIL;
  }
  if (failed) {
    zvWarning("zvSetEventHandler: can't allocate memory");
    freeHandler(h);
    return ZV_NOMEM;
  }
  if (mask & kWorldBits) {
    if (!world) {
      zvWarning("zvCacheZvObjHasEventHandlerToWorld: NULL world");
      freeHandler(h);
      return ZV_FAIL;
    }
    uint32_t added = 0;
    for (uint32_t bit : {uint32_t(ZV_EVENT_WORLD_IN), uint32_t(ZV_EVENT_WORLD_OUT), uint32_t(ZV_EVENT_FRAME)}) {
      if (!(mask & bit)) continue;
      ZvMFObj* array = bit == ZV_EVENT_WORLD_IN ? &world->worldIn : bit == ZV_EVENT_WORLD_OUT ? &world->worldOut : &world->frame;
      if (zvAddZvObjToZvMFObj(array, object) != ZV_OK) {
        dropFromWorldArrays(object, added);
        freeHandler(h);
        return ZV_NOMEM;
      }
      added |= bit;
    }
  }
  h->next = object->handlers;
  object->handlers = h;
  object->eventMask |= mask;
  return ZV_OK;
}

int removeHandler(ZvObj* object, const ZvUrlHash* entry, uint32_t mask, int scriptType, const char* function,
                  ZvNativeRoutine routine, const char* userData, const char* actionObject) {
  if (!userData) {
    zvWarning("zvRemoveEventHandler: user_data = NULL");
    return ZV_FAIL;
  }
  if (!object || !object->world) {
    zvWarning("zvRemoveEventHandler: world is NULL");
    return ZV_FAIL;
  }
  HandlerKey key{scriptType, mask, userData, function, routine, entry, actionOrNull(actionObject)};
  for (ZvEventHandlerList** link = &object->handlers; *link; link = &(*link)->next) {
    ZvEventHandlerList* h = *link;
    if (!handlerEq(h, key)) continue;
    // Only the bits the handler has are taken from it (and from the
    // world's arrays): clearing by exclusive or would give it the others.
    uint32_t cleared = h->mask & mask;
    dropFromWorldArrays(object, cleared);
    h->mask &= ~mask;
    if (h->mask == 0) {
      *link = h->next;
      freeHandler(h);
    }
    recomputeMask(object);
    return ZV_OK;
  }
  return ZV_FAIL;
}

// One handler's call, taken out of the object's list so that the handler
// may add or remove handlers (itself too) while it runs.
struct Call {
  int32_t scriptType;
  ZvNativeRoutine routine;
  std::string function;
  std::string userData;
};

int runCall(const Call& c, ZvObj* object, ZvEvent* event) {
  switch (c.scriptType) {
    case ZV_SCRIPT_TCL: {
      int answer = 0;
      return zvScriptTclEvalFunction(object->world, 1, c.function.c_str(), object, event, c.userData.c_str(), &answer);
    }
    case ZV_SCRIPT_PYTHON:
    case ZV_SCRIPT_JAVA:
      // Accepted for the worlds that name them, but there is no engine.
      zvWarning("zvCallEventHandler: no engine for script type %d", c.scriptType);
      return ZV_FAIL;
    case ZV_SCRIPT_C:
      if (c.routine) c.routine(object, event, c.userData.c_str());
      return ZV_OK;
    case ZV_SCRIPT_INLINE:
      zvWarning("zvCallEventHandler: inline script type is not supported");
      return ZV_OK;
    default:
      zvWarning("zvCallEventHandler: unknown script type");
      return ZV_OK;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Script files

namespace {

ZvUrlHash* registerEntry(ZvWorld* world, ZvUrlHash* entry, int scriptType) {
  if (!world || !entry) return nullptr;
  const char* url = zvGetUrl(entry);
  if (!url || !*url) return entry;
  ZvScriptContext* context = zvScriptContextOf(world);
  if (wasEvaluated(context, entry)) return entry;
  // A script unpacked from an archive ran when it came out, under the name
  // of its local file.
  if (entry->local_filename && wasEvaluated(context, zvFindUrlHashEntry(world->urlTable, entry->local_filename))) {
    context->evaluated.insert(entry);
    return entry;
  }
  const char* local = zvGetLocalFile(entry);
  if (!local) {
    zvWarning("Can not read script file. Maybe network is slow %s", url);
    // Tried once: every other handler naming it is not held up again.
    if (context) context->evaluated.insert(entry);
    return entry;
  }
  // Marked before it runs: a file whose script adds handlers naming the
  // file itself must not be evaluated again inside its own evaluation.
  if (context) context->evaluated.insert(entry);
  int r = scriptType == ZV_SCRIPT_TCL ? zvScriptTclEvalFile(world, local) : ZV_FAIL;
  if (r != ZV_OK) {
    zvWarning("Script file has error: %s", url);
    // The entry stays in the table (a handler made by the failed file may
    // hold it), but unmarked: the next handler naming it tries again.
    if (context) context->evaluated.erase(entry);
    return nullptr;
  }
  return entry;
}

}  // namespace

ZvUrlHash* zvRegisterAndEvalScriptFile(ZvWorld* world, const char* file, int scriptType) {
  if (!world) return nullptr;
  std::string name = resolveScriptName(world, file);
  ZvUrlHash* entry = zvFindUrlHashEntry(world->urlTable, name.c_str());
  if (!entry) entry = zvNewUrlHashEntry(world->urlTable, name.c_str(), nullptr, ZV_TYPE_OTHER);
  if (!entry) return nullptr;
  return registerEntry(world, entry, scriptType);
}

// ---------------------------------------------------------------------------
// Handlers

int zvAddEventHandler(ZvObj* object, const char* file, uint32_t mask, int scriptType, const char* function,
                      const char* userData, const char* actionObject) {
  // A routine's address can only come from the program itself.
  if (scriptType == ZV_SCRIPT_C) {
    zvWarning("zvSetEventHandler: unknown script type");
    return ZV_FAIL;
  }
  return addHandler(object, file, mask, scriptType, function, nullptr, userData, actionObject);
}

int zvRemoveEventHandler(ZvObj* object, const char* file, uint32_t mask, int scriptType, const char* function,
                         const char* userData, const char* actionObject) {
  const ZvUrlHash* entry = nullptr;
  if (object && object->world) {
    // Looked up, never fetched: removing must not run a script file.
    std::string name = resolveScriptName(object->world, file);
    entry = zvFindUrlHashEntry(object->world->urlTable, name.c_str());
  }
  return removeHandler(object, entry, mask, scriptType, function, nullptr, userData, actionObject);
}

int zvAddNativeEventHandler(ZvObj* object, uint32_t mask, ZvNativeRoutine routine, const char* userData) {
  return addHandler(object, nullptr, mask, ZV_SCRIPT_C, nullptr, routine, userData, nullptr);
}

int zvRemoveNativeEventHandler(ZvObj* object, uint32_t mask, ZvNativeRoutine routine, const char* userData) {
  return removeHandler(object, nullptr, mask, ZV_SCRIPT_C, nullptr, routine, userData, nullptr);
}

void zvDeleteAllEventHandlers(ZvObj* object) {
  if (!object) return;
  for (ObjFrame* f : objFrames)
    if (f->object == object) f->gone = true;
  while (ZvEventHandlerList* h = object->handlers) {
    object->handlers = h->next;
    dropFromWorldArrays(object, h->mask);
    freeHandler(h);
  }
  object->eventMask = 0;
}

// ---------------------------------------------------------------------------
// Dispatch

void zvInitEvent(ZvEvent* event, uint32_t type) {
  if (!event) return;
  *event = ZvEvent{};
  event->type = type;
  uint64_t now = zvScriptNow();
  event->seconds = uint32_t(now / 1000);
  event->milliseconds = uint32_t(now % 1000);
}

int zvCallEventHandler(ZvObj* object, ZvEvent* event) {
  if (!event) return ZV_FAIL;
  for (ZvObj* o = object; o; o = o->parent) {
    event->object = o;
    std::vector<Call> calls;
    if (event->type & o->eventMask) {
      for (ZvEventHandlerList* h = o->handlers; h; h = h->next)
        if (h->mask & event->type)
          calls.push_back(Call{h->scriptType, h->routine, h->function ? h->function : "", h->userData});
    }
    if (!calls.empty()) {
      ObjFrame frame{o, false};
      objFrames.push_back(&frame);
      int result = ZV_OK;
      // The list is newest first; the oldest handler runs first.
      for (auto c = calls.rbegin(); c != calls.rend() && !frame.gone; ++c) {
        if (runCall(*c, o, event) != ZV_OK) {
          result = ZV_FAIL;
          break;
        }
      }
      objFrames.pop_back();
      return result;
    }
    if (event->type & (ZV_EVENT_CREATE_NOTIFY | ZV_EVENT_DELETE_NOTIFY)) return ZV_OK;
  }
  return ZV_OK;
}

int zvCallWorldEventHandler(ZvWorld* world, ZvEvent* event) {
  if (!world || !event) return ZV_FAIL;
  WorldFrame frame{world, false};
  worldFrames.push_back(&frame);
  int result = ZV_OK;
  // As with tasks: many handlers, each within the limit, must not hold the
  // browser for the sum of them.
  const uint64_t started = zvScriptRealNow();
  bool late = false;
  // Indexes into the live arrays, not copies: a handler may delete objects
  // (the scene model takes them out of the arrays) or add handlers. What
  // was added during the pass waits for the next one.
  for (ZvMFObj* array : {&world->worldIn, &world->worldOut, &world->frame}) {
    int count = array->count;
    for (int i = 0; i < count && i < array->count && result == ZV_OK; ++i) {
      if (zvScriptRealNow() - started >= uint64_t(zvGetScriptTimeLimit())) {
        zvMessage("The handlers of this world ran past %d ms for one event; the rest miss it.",
                  zvGetScriptTimeLimit());
        late = true;
        break;
      }
      ZvObj* o = array->objects[i];
      result = zvCallEventHandler(o, event);
      if (frame.gone) break;
      // A handler that took its own object (or one before it) out of the
      // array moved the rest down by one.
      if (i < array->count && array->objects[i] != o) {
        --i;
        --count;
      }
    }
    if (late || frame.gone || result != ZV_OK) break;
  }
  worldFrames.pop_back();
  return result;
}

void zvScriptWorldGone(ZvWorld* world) {
  for (WorldFrame* f : worldFrames)
    if (f->world == world) f->gone = true;
}
