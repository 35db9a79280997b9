// object.cpp — objects of the scene tree and the identifier ranges they draw
// from. Objects read from inlines and objects shared with a server take
// identifiers from ranges of their own, pushed on a small stack, so that
// they never collide with local ones.
#include <cstring>

#include "scene/camerapriv.h"
#include "scene/scene.h"
#include "scene/objectpriv.h"

namespace {

// Ranges of code that names no world: the world being read, or, before any
// world exists, a set of ranges of its own.
ZvIdRange looseRanges[ZV_ID_RANGES];
int32_t looseTop = 0;
ZvWorld* idWorld = nullptr;

ZvIdRange* rangesOf(ZvWorld* world) { return world ? world->idRanges : looseRanges; }
int32_t& topOf(ZvWorld* world) { return world ? world->idTop : looseTop; }

// The identifier for a new object of the world, 0 for none. A used-up range
// gives no identifier rather than no object: a world of more objects than
// its range holds keeps them all, findable by name and handle, with one
// warning for the whole world.
int32_t takeId(ZvWorld* world, int wantsId) {
  ZvIdRange& r = world->idRanges[world->idTop];
  if (r.mode == ZV_ID_MODE_ON_REQUEST && !wantsId) return 0;
  // A range of 0 to 0 hands out nothing. Testing next for 0 instead would
  // let the local range (-10000 to -1) run on past -1 with no identifiers.
  if (r.first == 0 && r.last == 0) return 0;
  if (r.first > r.next || r.next > r.last) {
    if (!world->idsUsedUp) {
      world->idsUsedUp = 1;
      zvMessage("zvNewZvObj: the identifiers from %d to %d are used up; later objects have none.", r.first, r.last);
    }
    return 0;
  }
  return int32_t(r.next++);
}

void giveBackId(ZvWorld* world, int32_t id) {
  ZvIdRange& r = world->idRanges[world->idTop];
  if (id != 0 && r.next == id + 1) r.next = id;
}

// Removes exactly this object's entry: shared objects may carry an
// identifier that another object of the world also has.
void unhashObj(ZvObj* object) {
  ZvWorld* world = object->world;
  if (!world || !world->idHash || object->id == 0) return;
  ZvHash* table = world->idHash;
  ZvHashEntry** link = &table->heads[zvIdHashFunc(&object->id, sizeof object->id, table->buckets) % table->buckets];
  for (; *link; link = &(*link)->next)
    if ((*link)->value == object) {
      ZvHashEntry* e = *link;
      *link = e->next;
      zvFree(e);  // the key copy lives in the entry's block
      return;
    }
}

// Unlinks the object from its parent's children or from the world's top
// objects. False when the parent does not list it.
bool unlinkObj(ZvObj* object) {
  if (ZvObj* parent = object->parent) {
    bool listed = false;
    for (ZvObjList* c = parent->children; c && !listed; c = c->next) listed = c->object == object;
    if (!listed) return false;
    // The parent's own cube still holds this child: leaving is a move.
    zvInvalidateBoundingCube(object);
    ZvObjList* prev = nullptr;
    for (ZvObjList* c = parent->children; c; prev = c, c = c->next)
      if (c->object == object) {
        (prev ? prev->next : parent->children) = c->next;
        if (parent->lastChild == c) parent->lastChild = prev;
        zvFree(c);
        object->parent = nullptr;
        return true;
      }
    return false;
  }
  // Only a top object is in the world's list; a detached one (the reader
  // drops thousands of flattened Separators) must not search it in vain.
  if (!(object->flags & ZV_OBJ_TOP)) return true;
  if (ZvWorld* world = object->world) {
    ZvTopObjList* prev = nullptr;
    for (ZvTopObjList* c = world->topObjects; c; prev = c, c = c->next)
      if (c->object == object) {
        (prev ? prev->next : world->topObjects) = c->next;
        if (world->lastTopObject == c) world->lastTopObject = prev;
        zvFree(c->file);
        zvFree(c);
        world->topObjectCount--;
        object->flags &= ~uint32_t(ZV_OBJ_TOP);
        return true;
      }
  }
  return true;  // a detached object has nothing to leave
}

// Through the renderer when there is one, so that flag and picture agree;
// a refusal there changes nothing.
int setVisibleFlag(ZvObj* object, int visible) {
  if (zvSceneHooks().renderSetVisible) return zvSceneHooks().renderSetVisible(object, visible) == 0 ? ZV_OK : ZV_FAIL;
  if (visible)
    object->flags |= ZV_OBJ_VISIBLE;
  else
    object->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  return ZV_OK;
}

// Drops every mention of the object from one of the world's arrays, quietly:
// most objects were never in it.
void forgetIn(ZvMFObj* array, ZvObj* object) {
  int kept = 0;
  for (int i = 0; i < array->count; ++i)
    if (array->objects[i] != object) array->objects[kept++] = array->objects[i];
  array->count = kept;
  if (kept == 0) zvClearZvMFObj(array);
}

int clearContents(ZvObj* object) {
  ZvSceneHooks& hooks = zvSceneHooks();
  ZvWorld* world = object->world;
  int result = ZV_OK;
  unhashObj(object);
  object->id = 0;
  if (hooks.deleteObjTasks) hooks.deleteObjTasks(world, object);
  if (world) {
    // Whatever its node type says now (scripts can change it), no list of
    // the world may keep a pointer to an object that is going away.
    forgetIn(&world->lods, object);
    forgetIn(&world->worldIn, object);
    forgetIn(&world->worldOut, object);
    forgetIn(&world->frame, object);
    zvForgetCameraObj(world, object);
    if (world->person == object) world->person = nullptr;
  }
  if (hooks.deleteObjHandlers) hooks.deleteObjHandlers(object);
  for (char*& s : object->strings) {
    zvFree(s);
    s = nullptr;
  }
  if (object->leaf) {
    zvDeleteAllLeaf(object->leaf);
    object->leaf = nullptr;
    object->flags &= ~uint32_t(ZV_OBJ_CUBE_VALID | ZV_OBJ_HAS_CUBE | ZV_OBJ_LEAF_BOX);
    zvInvalidateBoundingCube(object);
  }
  if (zvReleaseObjExtension(object) != ZV_OK) result = ZV_FAIL;
  if (hooks.destroyObjLabels) hooks.destroyObjLabels(object);
  if (world && world->viewer && !(object->flags & ZV_OBJ_NOT_QUEUED)) {
    if (hooks.renderForgetMovedObj) hooks.renderForgetMovedObj(world, object);
    object->flags |= ZV_OBJ_NOT_QUEUED;
  }
  return result;
}

// Deletes a detached subtree: children first, in order, each before its
// own contents. Walks down and back up without recursion, so the depth of
// the tree does not matter.
int deleteSubtree(ZvObj* root) {
  int result = ZV_OK;
  ZvObj* o = root;
  for (;;) {
    while (o->children) {
      ZvObj* child = o->children->object;
      if (!child) {  // a broken cell: drop it and go on with the others
        ZvObjList* c = o->children;
        o->children = c->next;
        zvFree(c);
        continue;
      }
      child->parent = o;  // the walk back up trusts this link
      o = child;
    }
    ZvObj* parent = o == root ? nullptr : o->parent;
    if (clearContents(o) != ZV_OK) result = ZV_FAIL;
    if (o->world) o->world->objectCount--;
    if (parent) {
      ZvObjList* c = parent->children;
      parent->children = c->next;
      if (parent->lastChild == c) parent->lastChild = nullptr;
      zvFree(c);
    }
    zvFree(o);
    if (!parent) return result;
    o = parent;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Identifier ranges

void zvUseIdRangesOf(ZvWorld* world) { idWorld = world; }

void zvForgetIdRangesOf(ZvWorld* world) {
  if (idWorld == world) idWorld = nullptr;
}

void zvResetWorldIdCounters(ZvWorld* world) {
  ZvIdRange* ranges = rangesOf(world);
  for (int i = 0; i < ZV_ID_RANGES; ++i) ranges[i] = {ZV_ID_MODE_ON_REQUEST, 0, 0, 0};
  topOf(world) = 0;
  if (world) world->idsUsedUp = 0;
}

int zvPushWorldIdCounter(ZvWorld* world, int32_t first, int32_t last, int mode) {
  int32_t& top = topOf(world);
  if (top + 1 >= ZV_ID_RANGES || last < first) return ZV_FAIL;
  rangesOf(world)[++top] = {mode, first, last, first};
  return ZV_OK;
}

int zvPopWorldIdCounter(ZvWorld* world) {
  int32_t& top = topOf(world);
  if (top == 0) return ZV_FAIL;
  --top;
  return ZV_OK;
}

int zvSetWorldIdCounter(ZvWorld* world, int32_t first, int32_t last, int mode) {
  if (last < first) return ZV_FAIL;
  rangesOf(world)[topOf(world)] = {mode, first, last, first};
  if (world) world->idsUsedUp = 0;
  return ZV_OK;
}

void zvResetIdCounters(void) { zvResetWorldIdCounters(idWorld); }
int zvPushIdCounter(int32_t first, int32_t last, int mode) { return zvPushWorldIdCounter(idWorld, first, last, mode); }
int zvPopIdCounter(void) { return zvPopWorldIdCounter(idWorld); }
int zvSetIdCounter(int32_t first, int32_t last, int mode) { return zvSetWorldIdCounter(idWorld, first, last, mode); }
int zvGetIdCounterTop(void) { return topOf(idWorld); }

// ---------------------------------------------------------------------------
// Objects

int zvNewZvObj(ZvWorld* world, ZvObj** out, int wantsId) {
  if (!out) return ZV_FAIL;
  *out = nullptr;
  if (!world) return ZV_FAIL;
  int32_t id = takeId(world, wantsId);
  ZvObj* o = static_cast<ZvObj*>(zvMalloc(sizeof(ZvObj)));
  if (!o) {
    giveBackId(world, id);
    zvError("zvNewZvObj: zvMalloc failed");
    return ZV_NOMEM;
  }
  o->id = id;
  o->world = world;
  zvTransformIdentity(&o->wrt);
  zvTransformIdentity(&o->lrt);
  o->bcubeScale[0] = o->bcubeScale[1] = o->bcubeScale[2] = 1.0f;
  o->index = -1;
  o->flags = ZV_OBJ_NOT_QUEUED | ZV_OBJ_COLLISION | ZV_OBJ_SOLID | ZV_OBJ_GRASP | ZV_OBJ_VISIBLE;
  if (id != 0 && world->idHash) {
    // Quiet: the hash reports its own failure; ours names the caller.
    if (zvNewHashEntry(world->idHash, &o->id, sizeof o->id, o) != ZV_OK) {
      zvFree(o);
      giveBackId(world, id);
      zvError("zvNewZvObj: zvNewHashEntry failed");
      return ZV_NOMEM;
    }
  }
  world->objectCount++;
  *out = o;
  return ZV_OK;
}

int zvAddChild(ZvObj* parent, ZvObj* child) {
  if (!parent || !child) return ZV_FAIL;
  // An object lives in one list only, and never below itself: either would
  // make the later walks free or visit it twice, or loop for ever.
  if (child->parent || (child->flags & ZV_OBJ_TOP) || child == parent) return ZV_FAIL;
  // Only an object with children can be above the parent; new objects from
  // the reader have none, so building a deep tree stays linear.
  if (child->children)
    for (ZvObj* a = parent; a; a = a->parent)
      if (a == child) return ZV_FAIL;
  ZvObjList* c = static_cast<ZvObjList*>(zvMalloc(sizeof(ZvObjList)));
  if (!c) {
    zvError("zvAddChild: zvMalloc failed\n");
    return ZV_NOMEM;
  }
  c->object = child;
  if (parent->lastChild)
    parent->lastChild->next = c;
  else {
    ZvObjList** link = &parent->children;  // lastChild may be unknown after a delete
    while (*link) link = &(*link)->next;
    *link = c;
  }
  parent->lastChild = c;
  child->parent = parent;
  zvInvalidateWRT(child);
  zvInvalidateBoundingCube(child);
  return ZV_OK;
}

int zvAddTopObject(ZvObj* object, const char* file) {
  if (!object || !object->world) return ZV_FAIL;
  if (object->parent || (object->flags & ZV_OBJ_TOP)) return ZV_FAIL;  // already linked
  ZvWorld* world = object->world;
  ZvTopObjList* c = static_cast<ZvTopObjList*>(zvMalloc(sizeof(ZvTopObjList)));
  if (!c) {
    zvError("zvAddTopObject: can't allocate zvTopObjList");
    return ZV_NOMEM;
  }
  if (file && !(c->file = zvStrdup(file))) {
    zvFree(c);
    zvError("zvAddTopObject: can't allocate file name");
    return ZV_NOMEM;
  }
  c->object = object;
  object->parent = nullptr;
  zvInvalidateWRT(object);
  if (world->lastTopObject)
    world->lastTopObject->next = c;
  else {
    ZvTopObjList** link = &world->topObjects;
    while (*link) link = &(*link)->next;
    *link = c;
  }
  world->lastTopObject = c;
  world->topObjectCount++;
  object->flags |= ZV_OBJ_TOP;
  return ZV_OK;
}

ZvObj* zvNextChild(ZvObjList** cursor) {
  if (!cursor || !*cursor) return nullptr;
  ZvObj* o = (*cursor)->object;
  *cursor = (*cursor)->next;
  return o;
}

ZvObj* zvNextTopObject(ZvTopObjList** cursor) {
  if (!cursor || !*cursor) return nullptr;
  ZvObj* o = (*cursor)->object;
  *cursor = (*cursor)->next;
  return o;
}

int zvObjAssignId(ZvObj* object, int32_t id) {
  if (!object || !object->world || !object->world->idHash) {
    zvWarning("zvObjAssignId: world or object structure is wrong.");
    return ZV_FAIL;
  }
  unhashObj(object);
  object->id = id;
  if (id != 0 && zvNewHashEntry(object->world->idHash, &object->id, sizeof object->id, object) != ZV_OK) {
    object->id = 0;
    zvWarning("zvObjAssignId: zvNewHashEntry failed.");
    return ZV_FAIL;
  }
  return ZV_OK;
}

ZvObj* zvGetObjById(ZvWorld* world, int32_t id) {
  if (!world || !world->idHash || id == 0) return nullptr;
  void* value = nullptr;
  if (zvLookupHash(world->idHash, &id, sizeof id, &value) != ZV_OK) return nullptr;
  return static_cast<ZvObj*>(value);
}

int zvCutZvObj(ZvObj* object) {
  if (!object) return ZV_FAIL;
  if (zvSceneHooks().renderDeleteObj && zvSceneHooks().renderDeleteObj(object) != 0) {
    zvWarning("zvCutZvObj: fail to delete RW structure.");
    return ZV_FAIL;
  }
  return unlinkObj(object) ? ZV_OK : ZV_FAIL;
}

int zvDeleteZvObjContents(ZvObj* object) {
  if (!object) return ZV_OK;
  unlinkObj(object);
  return deleteSubtree(object);
}

int zvDeleteZvObj(ZvObj* object) {
  if (!object) return ZV_OK;
  if (zvSceneHooks().renderDeleteObj && zvSceneHooks().renderDeleteObj(object) != 0) {
    zvWarning("zvDeleteZvObj: fail to delete RW structure.");
    return ZV_FAIL;
  }
  if (!unlinkObj(object)) {
    zvError("zvDeleteZvObj: inconsistent object hierarchy.\n");
    return ZV_FAIL;
  }
  return deleteSubtree(object);
}

int zvClearZvObjContents(ZvObj* object) {
  if (!object) return ZV_FAIL;
  if (zvSceneHooks().renderDeleteObj && zvSceneHooks().renderDeleteObj(object) != 0) {
    zvWarning("zvClearZvObjContents: fail to delete RW structure.");
    return ZV_FAIL;
  }
  return clearContents(object);
}

// ---------------------------------------------------------------------------
// Visibility, solidity and switches

int zvIsVisible(ZvObj* object) {
  if (!object) {
    zvWarning("zvIsVisible: no object");
    return 0;
  }
  // Down through first children, as a loop: trees may be very deep.
  for (;;) {
    if (object->nodeType == ZV_NODE_SWITCH || object->nodeType == ZV_NODE_LOD)
      return (object->flags & ZV_OBJ_VISIBLE) != 0;
    if (object->leaf) {
      if (!zvIsShapeLeaf(object->leaf)) {
        zvWarning("zvIsVisible: not a shape object");
        return 0;
      }
      return (object->flags & ZV_OBJ_VISIBLE) != 0;
    }
    if (!object->children || !object->children->object) {
      zvWarning("zvIsVisible: not a leaf object");
      return 0;
    }
    object = object->children->object;
  }
}

int zvIsSolid(ZvObj* object) {
  // Descends to the first child that answers, so a loop instead of
  // recursion keeps odd deep trees harmless.
  while (object) {
    if (object->leaf) {
      if (!zvIsShapeLeaf(object->leaf)) {
        zvWarning("zvIsSolid: not a shape object");
        return 0;
      }
      return (object->flags & ZV_OBJ_SOLID) != 0;
    }
    if (!object->children || !object->children->object) {
      zvWarning("zvIsSolid: not a leaf object");
      return 0;
    }
    object = object->children->object;
  }
  zvWarning("zvIsSolid: no object");
  return 0;
}

namespace {

bool isSwitchLike(const ZvObj* o) { return o->nodeType == ZV_NODE_SWITCH || o->nodeType == ZV_NODE_LOD; }

int childCount(const ZvObj* o) {
  int n = 0;
  for (ZvObjList* c = o->children; c; c = c->next) ++n;
  return n;
}

}  // namespace

int zvGetSwitchObjNum(ZvObj* object) {
  if (!object || !isSwitchLike(object)) {
    zvWarning("zvGetSwitchObjNum : not a switch object");
    return 0;
  }
  if (!object->children) {
    zvWarning("zvGetSwitchObjNum : no child object");
    return 0;
  }
  return childCount(object);
}

int zvGetSwitchObjNo(ZvObj* object) {
  if (!object || !isSwitchLike(object)) {
    zvWarning("zvGetSwitchObjNo : not a switch object");
    return 0;
  }
  if (!object->children) {
    zvWarning("zvGetSwitchObjNo : no child object");
    return 0;
  }
  auto* n = static_cast<int32_t*>(zvGetObjExtension(object, zvSwitchWhichChild));
  if (!n) {
    zvWarning("zvGetSwitchObjNo : no active object number");
    return 0;
  }
  return *n;
}

ZvObj* zvGetSwitchObjByNo(ZvObj* object, int n) {
  if (!object || !isSwitchLike(object)) {
    zvWarning("zvGetSwitchObjByNo : not a switch object");
    return nullptr;
  }
  if (!object->children) {
    zvWarning("zvGetSwitchObjByNo : no child object");
    return nullptr;
  }
  int i = 0;
  for (ZvObjList* c = object->children; c; c = c->next, ++i)
    if (i == n) return c->object;
  zvWarning("zvGetSwitchObjByNo : not such a object");
  return nullptr;
}

int zvSetSwitchObjByNo(ZvObj* object, int n) {
  // A group that wraps a switch passes the choice down to its first child.
  while (object && object->children && object->nodeType != ZV_NODE_SWITCH) object = object->children->object;
  if (!object || !object->children) return ZV_FAIL;
  if (!(object->flags & ZV_OBJ_VISIBLE)) return ZV_FAIL;
  auto* stored = static_cast<int32_t*>(zvGetObjExtension(object, zvSwitchWhichChild));
  if (stored && *stored == n) return ZV_OK;
  auto* choice = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
  if (!choice) {
    zvError("zvSetSwitchObjByNo: zvMalloc failed");
    return ZV_NOMEM;
  }
  if (stored) {
    zvRemoveObjExtension(object, zvSwitchWhichChild);
    zvFree(stored);
  }
  int i = 0, shown = ZV_OK;
  for (ZvObjList* c = object->children; c; c = c->next, ++i)
    if (c->object && setVisibleFlag(c->object, n == -3 || i == n) != ZV_OK) shown = ZV_FAIL;
  *choice = n;
  if (zvRegisterObjExtension(object, zvSwitchWhichChild, choice) != ZV_OK) {
    zvFree(choice);
    return ZV_NOMEM;
  }
  return shown;
}

// ---------------------------------------------------------------------------
// Counted arrays of objects

int zvAddZvObjToZvMFObj(ZvMFObj* array, ZvObj* object) {
  if (!array || !object) return ZV_FAIL;
  auto* grown = static_cast<ZvObj**>(zvRealloc(array->objects, sizeof(ZvObj*) * size_t(array->count + 1)));
  if (!grown) {
    zvWarning("zvAddZvObjToZvMFObj: can not allocate memory for sound node");
    return ZV_FAIL;
  }
  grown[array->count++] = object;
  array->objects = grown;
  return ZV_OK;
}

int zvRemoveZvObjFromZvMFObj(ZvMFObj* array, ZvObj* object) {
  if (!array) return ZV_FAIL;
  if (array->count <= 0) {
    zvWarning("zvRemoveObjToZvMFObj: try to remove obj from empty zvMFobj");
    return ZV_FAIL;
  }
  for (int i = 0; i < array->count; ++i)
    if (array->objects[i] == object) {
      std::memmove(&array->objects[i], &array->objects[i + 1], sizeof(ZvObj*) * size_t(array->count - i - 1));
      if (--array->count == 0) {
        zvFree(array->objects);
        array->objects = nullptr;
      }
      return ZV_OK;
    }
  return ZV_FAIL;
}

void zvClearZvMFObj(ZvMFObj* array) {
  if (!array) return;
  zvFree(array->objects);
  array->objects = nullptr;
  array->count = 0;
}
