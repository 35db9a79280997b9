// collide.cpp — whether objects touch: their bounding cubes axis-aligned and
// as oriented boxes, a finer test against face sets, and the walks that turn
// touching solid objects into collision events.
#include "nav/navpriv.h"

using namespace zvnav;

namespace {

bool cubeOf(ZvObj* o, float min[3], float max[3]) { return o && zvGetObjBoundingCube(o, min, max) == 0; }

void corner(const float min[3], const float max[3], int k, float out[3]) {
  out[0] = (k & 1) ? max[0] : min[0];
  out[1] = (k & 2) ? max[1] : min[1];
  out[2] = (k & 4) ? max[2] : min[2];
}

bool insideBox(const float p[3], const float min[3], const float max[3]) {
  for (int i = 0; i < 3; ++i)
    if (!(p[i] > min[i] - kEps && p[i] < max[i] + kEps)) return false;
  return true;
}

// The twelve edges of a box by corner numbers: pairs differing in one bit.
constexpr int kEdges[12][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {0, 2}, {1, 3},
                               {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

// Box b (corners in world coordinates) against object a's cube.
bool cornersAgainst(ZvObj* a, const float corners[8][3]) {
  float min[3], max[3];
  if (!cubeOf(a, min, max)) return false;
  ZvTransform inv;
  if (!invertAffine(zvGetObjectWRT(a), &inv)) return false;
  for (int k = 0; k < 8; ++k) {
    float p[3];
    zvTransformPoint(&inv, corners[k], p);
    if (insideBox(p, min, max)) return true;
  }
  for (const auto& e : kEdges) {
    float t;
    // An edge counts only up to its far end.
    if (zvIntersectLineAndObjBox(corners[e[0]], corners[e[1]], a, &t, nullptr) && t <= 1 + kEps) return true;
  }
  return false;
}

bool worldCorners(ZvObj* o, float out[8][3]) {
  float min[3], max[3];
  if (!cubeOf(o, min, max)) return false;
  const ZvTransform* wrt = zvGetObjectWRT(o);
  for (int k = 0; k < 8; ++k) {
    float c[3];
    corner(min, max, k, c);
    zvTransformPoint(wrt, c, out[k]);
  }
  return true;
}

bool carriesFaces(const ZvObj* o) { return o->leaf && o->leaf->type == ZV_LEAF_FACE; }

// The first object's box corners against the faces of the second: a corner
// that lies behind every face plane... is too much to ask of open face
// sets, so a corner counts when the segment from it to the box centre
// crosses one of the faces, or the corner lies on one.
bool finerTest(ZvObj* a, ZvObj* b) {
  if (!carriesFaces(b)) return true;
  float corners[8][3], min[3], max[3];
  if (!worldCorners(a, corners) || !cubeOf(a, min, max)) return false;
  float centreLocal[3] = {(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, (min[2] + max[2]) / 2}, centre[3];
  zvTransformPoint(zvGetObjectWRT(a), centreLocal, centre);
  for (int k = 0; k < 8; ++k) {
    float d = -1;
    if (zvIntersectLineAndLeafObj(corners[k], centre, &d, b, nullptr, nullptr, nullptr) && d <= 1 + kEps) return true;
  }
  for (const auto& e : kEdges) {
    float d = -1;
    if (zvIntersectLineAndLeafObj(corners[e[0]], corners[e[1]], &d, b, nullptr, nullptr, nullptr) && d <= 1 + kEps)
      return true;
  }
  return false;
}

ZvObj* topOf(ZvObj* o) {
  while (o && o->parent) o = o->parent;
  return o;
}

// Deeper subtrees than this are made by scripts, not read; the walk gives up
// on them rather than exhaust the stack.
constexpr int kMaxDepth = 4096;

// One query's walk: whom to tell of a collision, whether any pair
// collided, and whether the walk must end.
struct Walk {
  int notifyA = 1, notifyB = 1;
  int collided = 0;
  bool stop = false;
};

// Walks x against y's subtree.
int walk(ZvObj* x, ZvObj* y, Walk* w, bool finer, int depth = 0) {
  if (!x || !y || w->stop || depth > kMaxDepth) return 0;
  if (y->flags & ZV_OBJ_COLLISION) {
    if (!zvIsObjBoxOverlap(x, y)) return 0;
    if (finer && !finerTest(x, y)) return 0;
  }
  if (y->children) {
    for (ZvObjList* c = y->children; c && !w->stop; c = c->next) {
      int v = walk(x, c->object, w, finer, depth + 1);
      if (v) return v;
    }
    return 0;
  }
  int collided = 0;
  int v = zvEvalCollisionObjs(x, y, w->notifyA, w->notifyB, &collided);
  if (collided) w->collided = 1;
  if (v || collided) w->stop = true;
  return v;
}

// Object a (itself when marked, then each child) against b's subtree.
int walkPair(ZvObj* a, ZvObj* b, Walk* w, bool finer) {
  if (a->flags & ZV_OBJ_COLLISION) {
    int v = walk(a, b, w, finer);
    if (v || w->stop) return v;
  }
  for (ZvObjList* c = a->children; c && !w->stop; c = c->next) {
    int v = walk(c->object, b, w, finer);
    if (v) return v;
  }
  return 0;
}

}  // namespace

int zvIsObjBoxOverlapAxisAligned(ZvObj* a, ZvObj* b) {
  float amin[3], amax[3], bmin[3], bmax[3];
  if (!a || !b || zvGetObjParentBoundingCube(a, amin, amax) != 0 || zvGetObjParentBoundingCube(b, bmin, bmax) != 0)
    return 0;
  for (int i = 0; i < 3; ++i)
    if (amax[i] + kEps <= bmin[i] || amin[i] - kEps >= bmax[i]) return 0;
  return 1;
}

int zvIsObjBoxOverlap(ZvObj* a, ZvObj* b) {
  float ca[8][3], cb[8][3];
  if (!worldCorners(a, ca) || !worldCorners(b, cb)) return 0;
  return cornersAgainst(a, cb) || cornersAgainst(b, ca);
}

int zvIsObjBoxOverlapBox(ZvObj* object, const float min[3], const float max[3]) {
  float corners[8][3];
  if (!min || !max || !worldCorners(object, corners)) return 0;
  for (int k = 0; k < 8; ++k)
    if (insideBox(corners[k], min, max)) return 1;
  // The given box's corners and edges against the object's cube.
  float given[8][3];
  for (int k = 0; k < 8; ++k) corner(min, max, k, given[k]);
  return cornersAgainst(object, given);
}

int zvEvalCollisionObjs(ZvObj* a, ZvObj* b, int notifyA, int notifyB, int* collided) {
  if (collided) *collided = 0;
  if (!a || !b || !(a->flags & ZV_OBJ_SOLID) || !(b->flags & ZV_OBJ_SOLID)) return 0;
  if (collided) *collided = 1;
  auto deliver = zvNavHooks().collisionEvent;
  if (!deliver) return 0;
  if (notifyA == 1) {
    int v = deliver(a, b);
    if (v) return v;
  }
  if (notifyB == 1) return deliver(b, a);
  return 0;
}

int zvCollisionObjAndWorldNotify(ZvObj* object, int notifyMe, int notifyOthers, int* collided) {
  if (collided) *collided = 0;
  if (!object || !object->world) return 0;
  if (object->parent) {
    zvWarning("sub object is specified as top_obj");
    return -1;
  }
  Walk w;
  w.notifyA = notifyMe, w.notifyB = notifyOthers;
  int v = 0;
  for (ZvTopObjList* t = object->world->topObjects; t && !w.stop && !v; t = t->next) {
    ZvObj* b = t->object;
    if (!b || b == object || !zvIsObjBoxOverlapAxisAligned(object, b)) continue;
    v = walkPair(object, b, &w, false);
  }
  if (collided) *collided = w.collided;
  return v;
}

int zvCollisionObjAndWorld(ZvObj* object) { return zvCollisionObjAndWorldNotify(object, 1, 1, nullptr); }

int zvCollisionObjAndObjNotify(ZvObj* me, ZvObj* you, int notifyMe, int notifyYou, int* collided) {
  if (collided) *collided = 0;
  if (!me || !you) return 0;
  if (me->parent) {
    zvWarning("sub object is specified as me");
    return -1;
  }
  if (you->parent) {
    zvWarning("sub object is specified as you");
    return -1;
  }
  if (me == you || !zvIsObjBoxOverlapAxisAligned(me, you)) return 0;
  Walk w;
  w.notifyA = notifyMe, w.notifyB = notifyYou;
  int v = walkPair(me, you, &w, false);
  if (collided) *collided = w.collided;
  return v;
}

int zvCollisionObjAndObj(ZvObj* me, ZvObj* you) { return zvCollisionObjAndObjNotify(me, you, 1, 1, nullptr); }

int zvCollisionSubObjAndWorld(ZvObj* sub) {
  if (!sub || !sub->world) return 0;
  if (!sub->parent) {
    zvWarning("sub object is specified as top_obj");
    return -1;
  }
  ZvObj* own = topOf(sub);
  Walk w;
  for (ZvTopObjList* t = sub->world->topObjects; t && !w.stop; t = t->next) {
    ZvObj* b = t->object;
    if (!b || b == own) continue;
    int v = walk(sub, b, &w, true);
    if (v) return v;
  }
  return 0;
}

int zvCollisionSubObjAndObj(ZvObj* sub, ZvObj* you) {
  if (!sub || !you) return 0;
  if (!sub->parent) {
    zvWarning("sub object is specified as top_obj");
    return -1;
  }
  if (you->parent) {
    zvWarning("sub object is specified as you");
    return -1;
  }
  if (topOf(sub) == you) return 0;
  Walk w;
  return walk(sub, you, &w, true);
}
