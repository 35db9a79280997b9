// construct.cpp — building and destroying the renderer objects of an object
// subtree, progressive display while a world arrives, and the switches that
// show and hide parts of it.
#include <sys/time.h>

#include "render/renderpriv.h"

namespace {

// Worlds nest at most a few hundred levels deep when read; anything deeper
// was made by a script and is refused rather than allowed to exhaust the
// stack of the recursive walk below.
constexpr int kMaxDepth = 4096;

bool progressive = false;
long nextRepaintSec = 0, nextRepaintMsec = 0;
ZvRenderRepaint repaintHook = nullptr;

void now(long* sec, long* msec) {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  *sec = tv.tv_sec;
  *msec = tv.tv_usec / 1000;
}

void scheduleRepaint(void) {
  long sec, msec;
  now(&sec, &msec);
  msec += 500;
  nextRepaintSec = sec + msec / 1000;
  nextRepaintMsec = msec % 1000;
}

void repaintIfDue(ZvWorld* world) {
  if (!progressive) return;
  long sec, msec;
  now(&sec, &msec);
  if (sec < nextRepaintSec || (sec == nextRepaintSec && msec < nextRepaintMsec)) return;
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (repaintHook && rs) repaintHook(world, rs->window);
  scheduleRepaint();
}

int childCount(const ZvObj* o) {
  int n = 0;
  for (ZvObjList* c = o->children; c; c = c->next) ++n;
  return n;
}

bool isSwitch(const ZvObj* o) { return o->nodeType == ZV_NODE_SWITCH; }
bool isLOD(const ZvObj* o) { return o->nodeType == ZV_NODE_LOD; }

struct Walk {
  bool person;
  const char* who;
};

int constructLeaf(ZvObj* object, const Walk& walk) {
  int type = object->leaf->type;
  if (walk.person && ((type >= ZV_LEAF_TEXT && type <= ZV_LEAF_SPHERE) || type == ZV_LEAF_SOUND)) return ZV_OK;
  switch (type) {
    case ZV_LEAF_TEXT: return zvRwSetAsciiText(object);
    case ZV_LEAF_CONE_SIDE:
    case ZV_LEAF_CONE_BOTTOM: return zvRwSetCone(object);
    case ZV_LEAF_CYLINDER_SIDE:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP: return zvRwSetCylinder(object);
    case ZV_LEAF_FACE: return zvRwSetFace(object);
    case ZV_LEAF_LINE_SET: return zvRwSetLine(object);
    case ZV_LEAF_POINT_SET: return zvRwSetPointSet(object);
    case ZV_LEAF_SPHERE: return zvRwSetSphere(object);
    case ZV_LEAF_POINT_LIGHT: return zvRwSetPointLight(object);
    case ZV_LEAF_SPOT_LIGHT: return zvRwSetSpotLight(object);
    case ZV_LEAF_DIRECTIONAL_LIGHT: return zvRwSetDirectionalLight(object);
    case ZV_LEAF_ORTHOGRAPHIC_CAMERA: return zvRwSetOrthographicCamera(object);
    case ZV_LEAF_PERSPECTIVE_CAMERA: return zvRwSetPerspectiveCamera(object);
    case ZV_LEAF_CIRCLE:
    case ZV_LEAF_SOUND: return ZV_OK;
    default: return zvRenderError(walk.who, "invalid leaf type");
  }
}

int construct(ZvObj* object, const Walk& walk, int depth) {
  if (!object) return ZV_FAIL;
  if (depth > kMaxDepth) return zvRenderError(walk.who, "object tree too deep");
  repaintIfDue(object->world);
  if (zvGetObjExtension(object, zvRenderBoundingBox)) {
    // The marker follows the object: built again where it now is.
    if (zvRenderDeleteBoundingBoxInViewer(object) != ZV_OK || zvRenderSetBoundingBoxInViewer(object) != ZV_OK)
      return ZV_FAIL;
  }
  if (isSwitch(object)) {
    auto* which = static_cast<int32_t*>(zvGetObjExtension(object, zvSwitchWhichChild));
    if (!which) return ZV_OK;
    int i = 0, result = ZV_OK;
    for (ZvObjList* c = object->children; c; c = c->next, ++i) {
      if (!c->object) continue;
      if (construct(c->object, walk, depth + 1) != ZV_OK) result = ZV_FAIL;
      zvRenderSetObjState(c->object, *which == -3 || *which == i ? 1 : 0);
    }
    return result;
  }
  // A part that cannot be built costs itself: its siblings are still built
  // and the failure is passed up once the walk is done.
  if (isLOD(object)) {
    int result = ZV_OK;
    for (ZvObjList* c = object->children; c; c = c->next)
      if (c->object && construct(c->object, walk, depth + 1) != ZV_OK) result = ZV_FAIL;
    auto* lod = static_cast<ZvLOD*>(zvGetObjExtension(object, zvLODNode));
    if (lod && lod->rangeCount != childCount(object) - 1)
      zvRenderWarning(walk.who, "number of LOD range or children is wrong");
    return result;
  }
  if (object->children) {
    int result = ZV_OK;
    for (ZvObjList* c = object->children; c; c = c->next)
      if (c->object && construct(c->object, walk, depth + 1) != ZV_OK) result = ZV_FAIL;
    return result;
  }
  if (object->leaf) return constructLeaf(object, walk) == ZV_OK ? ZV_OK : ZV_FAIL;
  return ZV_OK;
}

// Whether child i of a switch or level of detail is the one its parent
// shows: switching a group back on must not bring up the children that an
// inner switch or level of detail keeps hidden.
bool chosenChild(ZvObj* parent, int i) {
  auto* which = static_cast<int32_t*>(zvGetObjExtension(parent, zvSwitchWhichChild));
  if (!which) return isLOD(parent);  // a level of detail not yet evaluated shows all
  return *which == -3 || *which == i;
}

int setState(ZvObj* object, int on, int depth) {
  if (depth > kMaxDepth) return zvRenderError("zvRenderSetObjState", "object tree too deep");
  if (isSwitch(object) || isLOD(object)) {
    if (on == 1)
      object->flags |= ZV_OBJ_VISIBLE;
    else
      object->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  }
  if (!object->leaf) {
    bool chooses = isSwitch(object) || isLOD(object);
    int i = 0, result = ZV_OK;
    for (ZvObjList* c = object->children; c; c = c->next, ++i) {
      if (!c->object) continue;
      int childOn = on == 1 && (!chooses || chosenChild(object, i)) ? 1 : 0;
      if (setState(c->object, childOn, depth + 1) != ZV_OK) result = ZV_FAIL;
    }
    return result;
  }
  if (zvIsShapeLeaf(object->leaf)) return zvRenderSetShapeState(object, on);
  if (zvIsLightLeaf(object->leaf)) return zvRenderSetLightState(object, on);
  if (zvIsCameraLeaf(object->leaf)) {
    if (on != 1 || !object->world || !object->world->cameras) return ZV_OK;
    for (ZvCameraList* e = object->world->cameras->entries; e; e = e->next)
      if (e->camera == object || (object->parent && e->camera == object->parent))
        return zvSetActiveCameraID(object->world, e->id);
    return ZV_OK;
  }
  return ZV_OK;
}

int destroyLeaves(ZvObj* object) {
  const char* who = "zvRenderDestroyPartInViewer";
  bool facesGone = false;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    if (!leaf->rendering) continue;
    if (zvIsCameraLeaf(leaf)) {
      if (!rwDestroyCamera(static_cast<RwCamera*>(leaf->rendering))) return zvRenderError(who, "cannot destroy camera");
    } else if (zvIsLightLeaf(leaf)) {
      if (!rwDestroyLight(static_cast<RwLight*>(leaf->rendering))) return zvRenderError(who, "cannot destroy light");
    } else if (zvIsShapeLeaf(leaf)) {
      // The faces of an object share one clump: it goes with the first, and
      // the other faces' polygons went with it, so they are not looked at.
      if (leaf->type != ZV_LEAF_FACE || !facesGone) {
        if (!rwDestroyClump(zvRenderGetLeafClump(leaf))) return zvRenderError(who, "cannot destroy shape");
        facesGone = leaf->type == ZV_LEAF_FACE;
      }
      leaf->rendering = nullptr;
      if (zvRenderDestroyLeafTexture(leaf) != ZV_OK) return ZV_FAIL;
    }
    leaf->rendering = nullptr;
  }
  return ZV_OK;
}

}  // namespace

void zvRenderSetRepaint(ZvRenderRepaint repaint) { repaintHook = repaint; }

void zvRenderBeginProgressiveDisplay(void) {
  progressive = true;
  scheduleRepaint();
}

void zvRenderEndProgressiveDisplay(void) { progressive = false; }

int zvRenderConstructPartInViewer(ZvObj* object) {
  return construct(object, Walk{false, "zvRenderConstructPartInViewer"}, 0);
}

int zvRenderConstructPersonInViewer(ZvObj* object) {
  return construct(object, Walk{true, "zvRenderConstructPersonInViewer"}, 0);
}

int zvRenderDestroyPartInViewer(ZvObj* object) {
  if (!object) return ZV_FAIL;
  int result = ZV_OK;
  zvRenderWalk(object, [&](ZvObj* o) {
    if (destroyLeaves(o) != ZV_OK ||
        (zvGetObjExtension(o, zvRenderBoundingBox) && zvRenderDeleteBoundingBoxInViewer(o) != ZV_OK)) {
      result = ZV_FAIL;
      return false;
    }
    zvRenderForgetPendingTexturesOf(o);
    return true;
  });
  return result;
}

RwClump* zvRenderGetLeafClump(ZvLeaf* leaf) {
  if (!leaf || !leaf->rendering || !zvIsShapeLeaf(leaf)) return nullptr;
  if (leaf->type == ZV_LEAF_FACE) return rwGetPolygonClump(static_cast<RwPolygon*>(leaf->rendering));
  return static_cast<RwClump*>(leaf->rendering);
}

namespace {
// Marks the back-side copy a non-solid setting adds, so that a later solid
// setting finds it among the clump's other children (segments, points,
// glyphs), whose tags are all small and non-negative.
constexpr int32_t kBackSideTag = INT32_MIN;
}  // namespace

ZvLeaf* zvRenderGetClumpLeaf(ZvObj* object, RwClump* clump) {
  if (!object || !clump) return nullptr;
  // A back-side copy is drawn, and picked, for the clump it copies.
  if (rwGetClumpTag(clump) == kBackSideTag) clump = rwGetClumpParent(clump);
  int32_t n = clump ? rwGetClumpTag(clump) : 0;
  if (n <= 0) return nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next)
    if (--n == 0) return leaf;
  return nullptr;
}

int zvRenderSetShapeState(ZvObj* object, int on) {
  const char* who = "zvRenderSetShapeState";
  if (!object || !zvIsShapeLeaf(object->leaf)) return zvRenderError(who, "not a shape object");
  RwClump* last = nullptr;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    RwClump* clump = zvRenderGetLeafClump(leaf);
    if (!clump || clump == last) continue;
    last = clump;
    if (!rwSetClumpState(clump, on == 1 ? RW_ON : RW_OFF)) zvRenderWarning(who, "cannot set clump state");
  }
  if (on == 1)
    object->flags |= ZV_OBJ_VISIBLE;
  else
    object->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  return ZV_OK;
}

int zvRenderSetLightState(ZvObj* object, int on) {
  const char* who = "zvRenderSetLightState";
  if (!object || !zvIsLightLeaf(object->leaf)) return zvRenderError(who, "not a light object");
  auto* leaf = static_cast<ZvLight*>(object->leaf);
  auto* light = static_cast<RwLight*>(leaf->rendering);
  if (!light) return zvRenderError(who, "cannot get RwLight");
  if (!rwSetLightState(light, on == 1 ? RW_ON : RW_OFF)) return zvRenderError(who, "cannot set light state");
  leaf->on = on;
  return ZV_OK;
}

int zvRenderSetObjState(ZvObj* object, int on) {
  if (!object) return ZV_FAIL;
  return setState(object, on, 0);
}

// ---------------------------------------------------------------------------
// Solid and two-sided shapes

namespace {

int setModeFn(RwPolygon* p, void* mode) {
  rwSetPolygonDrawMode(p, *static_cast<int*>(mode));
  return 1;
}

int flipFn(RwPolygon* p, void*) {
  rwFlipPolygon(p);
  rwSetPolygonDrawMode(p, RW_DRAW_FRONT);
  return 1;
}

void forTree(RwClump* clump, int (*fn)(RwPolygon*, void*), void* arg) {
  rwForAllPolygonsInClump(clump, fn, arg);
  for (RwClump* c = rwGetFirstChildClump(clump); c; c = rwGetNextSiblingClump(c)) forTree(c, fn, arg);
}

void destroyBackSide(RwClump* clump) {
  for (RwClump* c = rwGetFirstChildClump(clump); c;) {
    RwClump* next = rwGetNextSiblingClump(c);
    if (rwGetClumpTag(c) == kBackSideTag) rwDestroyClump(c);
    c = next;
  }
}

}  // namespace

int zvRwSetLeafMode(ZvLeaf* leaf, int solid) {
  const char* who = "zvRwSetLeafMode()";
  if (!leaf || !leaf->rendering || !zvIsShapeLeaf(leaf)) return ZV_FAIL;
  int mode = solid == 1 ? RW_DRAW_BOTH : RW_DRAW_FRONT;
  if (leaf->type == ZV_LEAF_FACE) {
    rwSetPolygonDrawMode(static_cast<RwPolygon*>(leaf->rendering), mode);
    return ZV_OK;
  }
  auto* clump = static_cast<RwClump*>(leaf->rendering);
  destroyBackSide(clump);
  forTree(clump, setModeFn, &mode);
  if (solid == 1) return ZV_OK;
  RwClump* back = rwDuplicateClump(clump);
  if (!back) return zvRenderError(who, "cannot duplicate clump");
  forTree(back, flipFn, nullptr);
  rwSetClumpTag(back, kBackSideTag);
  if (!rwAddChildToClump(clump, back)) {
    rwDestroyClump(back);
    return zvRenderError(who, "cannot add child to clump");
  }
  RwMatrix* m = rwPushScratchMatrix();
  if (!m) return zvRenderError(who, "cannot push scratch matrix");
  int result = ZV_OK;
  if (!rwIdentityMatrix(m))
    result = zvRenderError(who, "cannot get identity matrix");
  else if (!rwTransformClump(back, m, RW_REPLACE))
    result = zvRenderError(who, "cannot transform clump");
  if (!rwPopScratchMatrix()) result = zvRenderError(who, "cannot pop scratch matrix");
  return result;
}

int zvRenderSetObjLeafMode(ZvObj* object, int solid) {
  if (!object) return ZV_FAIL;
  int result = ZV_OK;
  zvRenderWalk(object, [&](ZvObj* o) {
    if (!zvIsShapeLeaf(o->leaf)) return true;
    for (ZvLeaf* leaf = o->leaf; leaf; leaf = leaf->next)
      if (leaf->rendering && zvRwSetLeafMode(leaf, solid) != ZV_OK) result = ZV_FAIL;
    if (solid == 1)
      o->flags |= ZV_OBJ_SOLID;
    else
      o->flags &= ~uint32_t(ZV_OBJ_SOLID);
    return true;
  });
  return result;
}
