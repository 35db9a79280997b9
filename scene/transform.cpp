// transform.cpp — local and world transforms of objects. The world transform
// is a cache: every change invalidates the descendants at once and the next
// read recomputes lazily up the first valid ancestor.
#include <cmath>
#include <cstring>

#include "scene/scene.h"
#include "scene/walkstack.h"

void zvTransformIdentity(ZvTransform* t) {
  if (!t) return;
  std::memset(t, 0, sizeof *t);
  t->m[0][0] = t->m[1][1] = t->m[2][2] = 1.0f;
}

void zvTransformVector(const ZvTransform* t, const float in[3], float out[3]) {
  float r[3];
  for (int c = 0; c < 3; ++c) r[c] = in[0] * t->m[0][c] + in[1] * t->m[1][c] + in[2] * t->m[2][c];
  std::memcpy(out, r, sizeof r);
}

void zvTransformPoint(const ZvTransform* t, const float in[3], float out[3]) {
  float r[3];
  zvTransformVector(t, in, r);
  for (int c = 0; c < 3; ++c) out[c] = r[c] + t->m[3][c];
}

void zvTransformCompose(ZvTransform* out, const ZvTransform* a, const ZvTransform* b) {
  // Each axis of b is carried into a's frame; so is b's origin.
  ZvTransform r;
  for (int i = 0; i < 3; ++i) zvTransformVector(a, b->m[i], r.m[i]);
  zvTransformPoint(a, b->m[3], r.m[3]);
  *out = r;
}

void zvTransformInvert(ZvTransform* out, const ZvTransform* t) {
  ZvTransform r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = t->m[j][i];
  float neg[3] = {-t->m[3][0], -t->m[3][1], -t->m[3][2]};
  zvTransformVector(&r, neg, r.m[3]);
  *out = r;
}

const ZvTransform* zvGetObjectLRT(const ZvObj* object) { return object ? &object->lrt : nullptr; }

int zvTransformInvertAffine(ZvTransform* out, const ZvTransform* t) {
  const float(*m)[3] = t->m;
  double c00 = double(m[1][1]) * m[2][2] - double(m[1][2]) * m[2][1];
  double c01 = double(m[1][2]) * m[2][0] - double(m[1][0]) * m[2][2];
  double c02 = double(m[1][0]) * m[2][1] - double(m[1][1]) * m[2][0];
  double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (!(std::fabs(det) > 1e-30) || !std::isfinite(det)) return ZV_FAIL;
  double inv[3][3] = {
      {c00 / det, (double(m[0][2]) * m[2][1] - double(m[0][1]) * m[2][2]) / det,
       (double(m[0][1]) * m[1][2] - double(m[0][2]) * m[1][1]) / det},
      {c01 / det, (double(m[0][0]) * m[2][2] - double(m[0][2]) * m[2][0]) / det,
       (double(m[0][2]) * m[1][0] - double(m[0][0]) * m[1][2]) / det},
      {c02 / det, (double(m[0][1]) * m[2][0] - double(m[0][0]) * m[2][1]) / det,
       (double(m[0][0]) * m[1][1] - double(m[0][1]) * m[1][0]) / det},
  };
  // Row vectors: p' = p M + T, so p = (p' - T) M^-1.
  ZvTransform r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = float(inv[i][j]);
  for (int j = 0; j < 3; ++j)
    r.m[3][j] = float(-(m[3][0] * inv[0][j] + m[3][1] * inv[1][j] + m[3][2] * inv[2][j]));
  *out = r;
  return ZV_OK;
}

namespace {

bool isScaled(const ZvObj* o) {
  return o->bcubeScale[0] != 1.0f || o->bcubeScale[1] != 1.0f || o->bcubeScale[2] != 1.0f;
}

// A Scale node scales its object about the object's own origin: with row
// vectors (p' = p M + T) that is S M, each axis row times its factor.
void scaleRows(ZvTransform* t, const float s[3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t->m[i][j] *= s[i];
}

// The parent's frame as its children see it: the world transform with the
// parent's own scale in front, since that scale applies to its subtree.
void composeWRT(ZvObj* o) {
  if (ZvObj* p = o->parent) {
    if (isScaled(p)) {
      ZvTransform frame = p->wrt;
      scaleRows(&frame, p->bcubeScale);
      zvTransformCompose(&o->wrt, &frame, &o->lrt);
    } else {
      zvTransformCompose(&o->wrt, &p->wrt, &o->lrt);
    }
  } else {
    o->wrt = o->lrt;
  }
  o->flags |= ZV_OBJ_WRT_VALID;
}

}  // namespace

int zvGetObjectDrawnWRT(ZvObj* object, ZvTransform* out) {
  const ZvTransform* wrt = zvGetObjectWRT(object);
  if (!wrt || !out) return ZV_FAIL;
  *out = *wrt;
  if (isScaled(object)) scaleRows(out, object->bcubeScale);
  return ZV_OK;
}

const ZvTransform* zvGetObjectWRT(ZvObj* object) {
  if (!object) return nullptr;
  if (object->flags & ZV_OBJ_WRT_VALID) return &object->wrt;
  // Without recursion, so that deep chains cannot exhaust the stack: gather
  // the stale ancestors, then compose downwards from the first valid one.
  ZvWalkStack<ZvObj*> stale;
  for (ZvObj* o = object; o && !(o->flags & ZV_OBJ_WRT_VALID); o = o->parent)
    if (!stale.push(o)) {
      // Out of memory: validate from the top one stale ancestor at a time.
      // Slow on deep chains, but it needs nothing.
      while (!(object->flags & ZV_OBJ_WRT_VALID)) {
        ZvObj* top = object;
        while (top->parent && !(top->parent->flags & ZV_OBJ_WRT_VALID)) top = top->parent;
        composeWRT(top);
      }
      return &object->wrt;
    }
  while (!stale.empty()) composeWRT(stale.pop());
  return &object->wrt;
}

namespace {

// Visits every descendant depth first, in child order, without recursion.
// A null entry in a child list stops the walk with -3.
template <typename Visit>
int forEachDescendant(ZvObj* object, Visit visit) {
  ZvWalkStack<ZvObjList*> pending;
  ZvObjList* cell = object->children;
  for (;;) {
    while (cell) {
      ZvObj* child = cell->object;
      if (!child) {
        zvWarning("zvValidateChildWRT: child list contains NULL entry.");
        return ZV_NULL_CHILD;
      }
      visit(child);
      if (child->children) {
        if (!pending.push(cell->next)) return ZV_NOMEM;
        cell = child->children;
      } else {
        cell = cell->next;
      }
    }
    if (pending.empty()) return ZV_OK;
    cell = pending.pop();
  }
}

int invalidateDescendants(ZvObj* object) {
  return forEachDescendant(object, [](ZvObj* o) { o->flags &= ~uint32_t(ZV_OBJ_WRT_VALID); });
}

}  // namespace

int zvInvalidateWRT(ZvObj* object) {
  if (!object) return ZV_FAIL;
  object->flags &= ~uint32_t(ZV_OBJ_WRT_VALID);
  return invalidateDescendants(object);
}

int zvValidateChildWRT(ZvObj* object) {
  if (!object) return ZV_FAIL;
  zvGetObjectWRT(object);
  // Parents are visited before their children, so each compose is one step.
  return forEachDescendant(object, [](ZvObj* o) { zvGetObjectWRT(o); });
}

int zvObjectRotateTrans(ZvObj* object, const ZvTransform* t, int system, int mode) {
  if (!object || !t) return ZV_FAIL;
  bool effective = true;
  switch (system) {
    case ZV_COORD_WORLD: {
      ZvTransform old = *zvGetObjectWRT(object);
      ZvTransform next;
      if (mode == ZV_TRANSFORM_SET)
        next = *t;
      else
        zvTransformCompose(&next, t, &old);
      effective = std::memcmp(&next, &old, sizeof next) != 0;
      if (object->parent) {
        ZvTransform frame, inv;
        zvGetObjectDrawnWRT(object->parent, &frame);
        if (zvTransformInvertAffine(&inv, &frame) != ZV_OK) {
          zvWarning("zvObjectRotateTrans() : parent transform cannot be inverted");
          return ZV_FAIL;
        }
        zvTransformCompose(&object->lrt, &inv, &next);
      } else {
        object->lrt = next;
      }
      object->wrt = next;
      object->flags |= ZV_OBJ_WRT_VALID;
      break;
    }
    case ZV_COORD_PARENT:
      if (mode == ZV_TRANSFORM_SET)
        object->lrt = *t;
      else
        zvTransformCompose(&object->lrt, t, &object->lrt);
      object->flags &= ~uint32_t(ZV_OBJ_WRT_VALID);
      break;
    case ZV_COORD_OWN:
      if (mode == ZV_TRANSFORM_SET)
        object->lrt = *t;
      else
        zvTransformCompose(&object->lrt, &object->lrt, t);
      object->flags &= ~uint32_t(ZV_OBJ_WRT_VALID);
      break;
    default:
      zvWarning("zvObjectRotateTrans() : invalid coordinate system");
      return ZV_FAIL;
  }
  zvInvalidateBoundingCube(object);
  int r = invalidateDescendants(object);
  if (r != ZV_OK) return r;
  if (effective && zvSceneHooks().renderAddMovedObj && zvSceneHooks().renderAddMovedObj(object) != 0)
    return ZV_FAIL;
  if (effective && zvSceneHooks().objectMoved) zvSceneHooks().objectMoved(object);
  return ZV_OK;
}

int zvObjectRotate(ZvObj* object, const float rotation[9], int system, int mode) {
  if (!object || !rotation) return ZV_FAIL;
  ZvTransform t;
  if (mode == ZV_TRANSFORM_SET)
    t = system == ZV_COORD_WORLD ? *zvGetObjectWRT(object) : object->lrt;
  else
    zvTransformIdentity(&t);
  std::memcpy(&t.m[0][0], rotation, 9 * sizeof(float));
  return zvObjectRotateTrans(object, &t, system, mode);
}

int zvObjectTranslate(ZvObj* object, const float translation[3], int system, int mode) {
  if (!object || !translation) return ZV_FAIL;
  ZvTransform t;
  if (mode == ZV_TRANSFORM_SET)
    t = system == ZV_COORD_WORLD ? *zvGetObjectWRT(object) : object->lrt;
  else
    zvTransformIdentity(&t);
  std::memcpy(t.m[3], translation, 3 * sizeof(float));
  return zvObjectRotateTrans(object, &t, system, mode);
}

int zvIsPointInObjBox(const float point[3], ZvObj* object) {
  if (!point || !object) return 0;
  float min[3], max[3];
  if (zvGetObjBoundingCube(object, min, max) != 0) return 0;
  ZvTransform inv;
  zvTransformInvert(&inv, zvGetObjectWRT(object));
  float p[3];
  zvTransformPoint(&inv, point, p);
  const float eps = 0.00001f;
  for (int i = 0; i < 3; ++i)
    if (!(min[i] - eps < p[i] && p[i] < max[i] + eps)) return 0;
  return 1;
}
