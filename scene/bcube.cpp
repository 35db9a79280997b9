// bcube.cpp — axis-aligned bounding cubes, computed only when somebody asks
// (picking, collision, the world box) and cached in the object. A move
// invalidates just the chain of ancestors whose cubes depended on it.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "scene/scene.h"
#include "scene/walkstack.h"

namespace {

struct Box {
  float min[3], max[3];
  bool empty = true;

  void add(const float p[3]) {
    for (int i = 0; i < 3; ++i) {
      if (empty || p[i] < min[i]) min[i] = p[i];
      if (empty || p[i] > max[i]) max[i] = p[i];
    }
    empty = false;
  }
  void add(const ZvSFVec3f& v) {
    const float p[3] = {v.x, v.y, v.z};
    add(p);
  }
  void set(float x0, float y0, float z0, float x1, float y1, float z1) {
    const float a[3] = {x0, y0, z0}, b[3] = {x1, y1, z1};
    empty = true;
    add(a);
    add(b);
  }
};

bool coneCube(const ZvLeaf* first, Box* box) {
  bool side = false;
  float r = 0.0f, h = 0.0f;
  for (const ZvLeaf* leaf = first; leaf; leaf = leaf->next) {
    if (leaf->type == ZV_LEAF_CONE_SIDE) {
      const auto* s = static_cast<const ZvConeSide*>(leaf);
      side = true;
      r = std::max(r, s->bottomRadius);
      h = s->height;
    } else if (leaf->type == ZV_LEAF_CONE_BOTTOM) {
      const auto* c = static_cast<const ZvCircle*>(leaf);
      r = std::max(r, c->radius);
      h = c->height;
    } else {
      zvError("zvSetConeBoundingCube: wrong leaf type");
      return false;
    }
  }
  // A bottom disc alone is flat where the cone would stand.
  box->set(-r, -h / 2, -r, r, side ? h / 2 : -h / 2, r);
  return true;
}

bool cylinderCube(const ZvLeaf* first, Box* box) {
  bool side = false, top = false, bottom = false;
  float r = 0.0f, h = 0.0f;
  for (const ZvLeaf* leaf = first; leaf; leaf = leaf->next) {
    if (leaf->type == ZV_LEAF_CYLINDER_SIDE) {
      const auto* s = static_cast<const ZvCylinderSide*>(leaf);
      side = true;
      r = std::max({r, s->topRadius, s->bottomRadius});
      h = s->height;
    } else if (leaf->type == ZV_LEAF_CYLINDER_TOP || leaf->type == ZV_LEAF_CYLINDER_BOTTOM) {
      const auto* c = static_cast<const ZvCircle*>(leaf);
      (leaf->type == ZV_LEAF_CYLINDER_TOP ? top : bottom) = true;
      r = std::max(r, c->radius);
      h = c->height;
    } else {
      zvError("zvSetCylinderBoundingCube: wrong leaf type");
      return false;
    }
  }
  float low = -h / 2, high = h / 2;
  if (!side && !(top && bottom)) low = high = top ? h / 2 : -h / 2;
  box->set(-r, low, -r, r, high, r);
  return true;
}

bool faceCube(const ZvLeaf* first, Box* box) {
  for (const ZvLeaf* leaf = first; leaf; leaf = leaf->next) {
    if (leaf->type != ZV_LEAF_FACE) {
      zvWarning("zvSetFaceBoundingCube: ZvFace is linked to another type of a leaf\n");
      break;
    }
    const auto* face = static_cast<const ZvFace*>(leaf);
    for (int32_t i = 0; face->vertices && i < face->vertexCount; ++i) box->add(face->vertices[i]);
  }
  if (box->empty) {
    zvWarning("zvSetFaceBoundingCube: empty leaves");
    return false;
  }
  return true;
}

bool pointsCube(int32_t count, const ZvSFVec3f* points, Box* box) {
  for (int32_t i = 0; points && i < count; ++i) box->add(points[i]);
  if (box->empty) {
    zvWarning("zvSetPointSetBoundingCube: obj has 0 vertex");
    return false;
  }
  return true;
}

// The object's own cube from its first leaf; false when it has none.
bool leafCube(const ZvObj* object, Box* box) {
  const ZvLeaf* leaf = object->leaf;
  switch (leaf->type) {
    case ZV_LEAF_TEXT:
      zvWarning("zvSetAsciiTextBoundingCube: not supported");
      return false;
    case ZV_LEAF_CONE_SIDE:
    case ZV_LEAF_CONE_BOTTOM:
      return coneCube(leaf, box);
    case ZV_LEAF_CYLINDER_SIDE:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP:
      return cylinderCube(leaf, box);
    case ZV_LEAF_FACE:
      return faceCube(leaf, box);
    case ZV_LEAF_LINE_SET: {
      const auto* set = static_cast<const ZvLineSet*>(leaf);
      return pointsCube(set->pointCount, set->points, box);
    }
    case ZV_LEAF_POINT_SET: {
      const auto* set = static_cast<const ZvPointSet*>(leaf);
      return pointsCube(set->pointCount, set->points, box);
    }
    case ZV_LEAF_SPHERE: {
      float r = static_cast<const ZvSphere*>(leaf)->radius;
      box->set(-r, -r, -r, r, r, r);
      return true;
    }
    case ZV_LEAF_POINT_LIGHT:
    case ZV_LEAF_SPOT_LIGHT:
    case ZV_LEAF_DIRECTIONAL_LIGHT:
    case ZV_LEAF_ORTHOGRAPHIC_CAMERA:
    case ZV_LEAF_PERSPECTIVE_CAMERA:
    case ZV_LEAF_SOUND:
      return false;
    default:
      zvWarning("_zvSetLeafBoundingCube: unknwon leaf type: %d", leaf->type);
      return false;
  }
}

// The box around the eight corners of the own cube carried through the
// local transform, corner by corner.
void cornerBox(const ZvObj* object, Box* box) {
  for (int corner = 0; corner < 8; ++corner) {
    const float p[3] = {(corner & 1) ? object->cubeMax[0] : object->cubeMin[0],
                        (corner & 2) ? object->cubeMax[1] : object->cubeMin[1],
                        (corner & 4) ? object->cubeMax[2] : object->cubeMin[2]};
    float q[3];
    zvTransformPoint(&object->lrt, p, q);
    box->add(q);
  }
}

// The same box from the extents: a corner's coordinate is a sum of three
// products and the translation, added in the order zvTransformPoint adds
// them, and rounded addition never decreases when a term grows, so the
// least corner is the one that takes the lesser product on every axis and
// the result is the corners' bit for bit. That holds for finite values; a
// zero result is left to the corners too, since which zero the box keeps
// depends on the order they come in. False when the corners must decide.
bool extentBox(const ZvObj* object, Box* box) {
  const ZvTransform& t = object->lrt;
  for (int c = 0; c < 3; ++c) {
    float lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
      const float a = object->cubeMin[i] * t.m[i][c], b = object->cubeMax[i] * t.m[i][c];
      lo[i] = a < b ? a : b;
      hi[i] = a < b ? b : a;
    }
    const float low = lo[0] + lo[1] + lo[2] + t.m[3][c];
    const float high = hi[0] + hi[1] + hi[2] + t.m[3][c];
    // Comparisons with NaN are false, so a NaN anywhere fails this too.
    if (!(std::fabs(low) <= FLT_MAX && std::fabs(high) <= FLT_MAX) || low == 0 || high == 0) return false;
    box->min[c] = low;
    box->max[c] = high;
  }
  box->empty = false;
  return true;
}

// The cube in the parent's frame: the box around the eight corners of the
// own cube carried through the local transform. Needs a valid own cube.
void settleParentCube(ZvObj* object) {
  if (object->flags & ZV_OBJ_HAS_CUBE) {
    Box box;
    if (!extentBox(object, &box)) {
      box.empty = true;
      cornerBox(object, &box);
    }
    std::memcpy(object->pcubeMin, box.min, sizeof box.min);
    std::memcpy(object->pcubeMax, box.max, sizeof box.max);
  }
  object->flags |= ZV_OBJ_PCUBE_VALID;
}

// Computes the own cube of an object whose children (if any) already have
// valid own cubes, then its cube in the parent's frame.
void settleOwnCube(ZvObj* object) {
  Box box;
  bool has = false;
  if (object->children) {
    ZvObjList* cursor = object->children;
    while (cursor) {
      ZvObj* child = zvNextChild(&cursor);
      if (!child) continue;
      if (!(child->flags & ZV_OBJ_PCUBE_VALID)) settleParentCube(child);
      if (!(child->flags & ZV_OBJ_HAS_CUBE)) continue;
      box.add(child->pcubeMin);
      box.add(child->pcubeMax);
    }
    has = !box.empty;
  } else if (object->flags & ZV_OBJ_LEAF_BOX) {
    // The maker's box of the leaves it just attached, taken once.
    std::memcpy(box.min, object->leafBoxMin, sizeof box.min);
    std::memcpy(box.max, object->leafBoxMax, sizeof box.max);
    box.empty = false;
    has = true;
  } else if (object->leaf) {
    has = leafCube(object, &box);
  }
  object->flags &= ~uint32_t(ZV_OBJ_LEAF_BOX);
  // A Scale applies to the object's whole subtree about its origin, so the
  // own cube is scaled whether it came from a leaf or from children.
  if (has) {
    for (int i = 0; i < 3; ++i) {
      float a = box.min[i] * object->bcubeScale[i], b = box.max[i] * object->bcubeScale[i];
      box.min[i] = std::min(a, b);
      box.max[i] = std::max(a, b);
    }
  }
  if (has) {
    std::memcpy(object->cubeMin, box.min, sizeof box.min);
    std::memcpy(object->cubeMax, box.max, sizeof box.max);
    object->flags |= ZV_OBJ_HAS_CUBE;
  } else {
    object->flags &= ~uint32_t(ZV_OBJ_HAS_CUBE);
  }
  object->flags |= ZV_OBJ_CUBE_VALID;
  settleParentCube(object);
}

// Brings the own cube of the object up to date, children before parents,
// descending only into subtrees whose cubes are stale. False when the walk
// ran out of memory; what was settled so far stays valid.
bool ensureOwnCube(ZvObj* root) {
  if (root->flags & ZV_OBJ_CUBE_VALID) return true;
  struct Frame {
    ZvObj* object;
    ZvObjList* cursor;
  };
  ZvWalkStack<Frame> stack;
  if (!stack.push({root, root->children})) return false;
  while (!stack.empty()) {
    Frame& frame = stack.top();
    ZvObj* deeper = nullptr;
    while (frame.cursor && !deeper) {
      ZvObj* child = zvNextChild(&frame.cursor);
      if (!child || (child->flags & ZV_OBJ_CUBE_VALID)) continue;
      if (child->children)
        deeper = child;
      else
        settleOwnCube(child);
    }
    if (deeper) {
      if (!stack.push({deeper, deeper->children})) {
        zvWarning("zvGetObjBoundingCube: cannot allocate memory.");
        return false;
      }
      continue;
    }
    settleOwnCube(stack.pop().object);
  }
  return true;
}

void copyOut(const float from[3], float to[3]) {
  if (to) std::memcpy(to, from, 3 * sizeof(float));
}

}  // namespace

int zvGetObjBoundingCube(ZvObj* object, float min[3], float max[3]) {
  if (!object || !ensureOwnCube(object)) return ZV_FAIL;
  if (!(object->flags & ZV_OBJ_HAS_CUBE)) return ZV_FAIL;
  copyOut(object->cubeMin, min);
  copyOut(object->cubeMax, max);
  return ZV_OK;
}

int zvGetObjParentBoundingCube(ZvObj* object, float min[3], float max[3]) {
  if (!object || !ensureOwnCube(object)) return ZV_FAIL;
  if (!(object->flags & ZV_OBJ_PCUBE_VALID)) settleParentCube(object);
  if (!(object->flags & ZV_OBJ_HAS_CUBE)) return ZV_FAIL;
  copyOut(object->pcubeMin, min);
  copyOut(object->pcubeMax, max);
  return ZV_OK;
}

void zvInvalidateBoundingCube(ZvObj* object) {
  if (!object) return;
  object->flags &= ~uint32_t(ZV_OBJ_PCUBE_VALID);
  // An ancestor whose own cube is already stale cannot hold anything of
  // ours; one whose parent-frame cube was never derived was never used by
  // its own parent either. Either ends the walk.
  for (ZvObj* p = object->parent; p && (p->flags & ZV_OBJ_CUBE_VALID); p = p->parent) {
    p->flags &= ~uint32_t(ZV_OBJ_CUBE_VALID);
    if (!(p->flags & ZV_OBJ_PCUBE_VALID)) break;
    p->flags &= ~uint32_t(ZV_OBJ_PCUBE_VALID);
  }
}
