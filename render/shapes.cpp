// shapes.cpp — clumps for the modelled shapes: cones, cylinders, spheres,
// line sets (a thin cylinder per segment) and point sets (a small sphere per
// point), and the finish every shape clump gets.
#include <cmath>

#include "render/renderpriv.h"

namespace {

constexpr int kSegments = 10;
constexpr float kThin = 0.05f;  // radius of line segments and points
constexpr int kThinSegments = 6;

}  // namespace

int zvRenderFinishShape(ZvLeaf* leaf, RwClump* clump, const char* who, const RwMatrix* matrix, bool texture,
                        const char* addFailure) {
  ZvObj* object = leaf->owner;
  ZvRenderingStruct* rs = zvRenderStructOfObj(object);
  int r = ZV_OK;
  if (zvRenderHidden(object)) rwSetClumpState(clump, RW_OFF);
  leaf->rendering = clump;
  if (!rwSetClumpTag(clump, zvRenderLeafPosition(leaf)))
    r = zvRenderError(who, "cannot set tag to clump");
  else if (!rwSetClumpData(clump, object))
    r = zvRenderError(who, "cannot set data to clump");
  else if (matrix ? !rwTransformClump(clump, matrix, RW_REPLACE) : zvRenderTransformZvShape(leaf) != ZV_OK)
    r = matrix ? zvRenderError(who, "cannot transform clump") : ZV_FAIL;
  else if (zvRenderSetMaterial(leaf) != ZV_OK)
    r = ZV_FAIL;
  else if (texture && zvRenderSetObjTexture(object) != ZV_OK)
    r = ZV_FAIL;
  else if (!rs || !rs->scene || !rwAddClumpToScene(rs->scene, clump))
    r = zvRenderError(who, addFailure);
  if (r != ZV_OK) {
    rwDestroyClump(clump);
    leaf->rendering = nullptr;
    // Destruction will not come this way: give back what texturing read.
    zvRenderDestroyLeafTexture(leaf);
  }
  return r;
}

// ---------------------------------------------------------------------------
// Cones and cylinders: one clump per part, placed by one matrix.

namespace {

RwClump* conePart(ZvLeaf* leaf, const char* who) {
  if (leaf->type == ZV_LEAF_CONE_SIDE) {
    auto* s = static_cast<ZvConeSide*>(leaf);
    return zvRenderModel(who, 0, -s->height / 2, 0, [&] {
      return zvRenderCheck(rwCone(s->height, s->bottomRadius, kSegments), who, "cannot create cone");
    });
  }
  auto* c = static_cast<ZvCircle*>(leaf);
  return zvRenderModel(who, 0, 0, 0, [&] {
    return zvRenderCheck(rwDisc(-c->height / 2, -c->radius, kSegments), who, "cannot create disc");
  });
}

RwClump* cylinderPart(ZvLeaf* leaf, const char* who) {
  if (leaf->type == ZV_LEAF_CYLINDER_SIDE) {
    auto* s = static_cast<ZvCylinderSide*>(leaf);
    return zvRenderModel(who, 0, -s->height / 2, 0, [&] {
      return zvRenderCheck(rwCylinder(s->height, s->bottomRadius, s->topRadius, kSegments), who, "cannot create cylinder");
    });
  }
  auto* c = static_cast<ZvCircle*>(leaf);
  float offset = leaf->type == ZV_LEAF_CYLINDER_TOP ? c->height / 2 : -c->height / 2;
  float radius = leaf->type == ZV_LEAF_CYLINDER_TOP ? c->radius : -c->radius;
  return zvRenderModel(who, 0, 0, 0, [&] {
    return zvRenderCheck(rwDisc(offset, radius, kSegments), who, "cannot create disc");
  });
}

int buildParts(ZvObj* object, const char* who, bool cone) {
  ZvScratchWRT m(object, who, true);
  if (!m.ok()) return ZV_FAIL;
  for (ZvLeaf* leaf = object->leaf; leaf; leaf = leaf->next) {
    bool ours = cone ? (leaf->type == ZV_LEAF_CONE_SIDE || leaf->type == ZV_LEAF_CONE_BOTTOM)
                     : (leaf->type >= ZV_LEAF_CYLINDER_SIDE && leaf->type <= ZV_LEAF_CYLINDER_TOP);
    if (!ours) return zvRenderError(who, "invalid leaf type");
    RwClump* clump = cone ? conePart(leaf, who) : cylinderPart(leaf, who);
    if (!clump) return ZV_FAIL;
    if (zvRenderFinishShape(leaf, clump, who, m.matrix(), false, "cannot add polyline to the world") != ZV_OK)
      return ZV_FAIL;
  }
  if (zvRenderSetObjTexture(object) != ZV_OK) return ZV_FAIL;
  return m.pop() ? ZV_OK : ZV_FAIL;
}

}  // namespace

int zvRwSetCone(ZvObj* object) {
  if (!object || !object->leaf) return ZV_FAIL;
  return buildParts(object, "zvRwSetCone()", true);
}

int zvRwSetCylinder(ZvObj* object) {
  if (!object || !object->leaf) return ZV_FAIL;
  return buildParts(object, "zvRwSetCylinder()", false);
}

int zvRwSetSphere(ZvObj* object) {
  const char* who = "zvRwSetSphere()";
  if (!object || !object->leaf) return ZV_FAIL;
  auto* s = static_cast<ZvSphere*>(object->leaf);
  RwClump* clump = zvRenderModel(who, 0, 0, 0, [&] {
    return zvRenderCheck(rwSphere(s->radius, kSegments), who, "cannot create sphere");
  });
  if (!clump) return ZV_FAIL;
  return zvRenderFinishShape(s, clump, who, nullptr, true, "cannot add sphere to the world");
}

// ---------------------------------------------------------------------------
// Point sets

int zvRwSetPointSet(ZvObj* object) {
  const char* who = "zvRwSetPointSet()";
  if (!object || !object->leaf) return ZV_FAIL;
  auto* leaf = static_cast<ZvPointSet*>(object->leaf);
  RwClump* parent = rwCreateClump(0, 0);
  if (!parent) return zvRenderError(who, "cannot create clump");
  for (int32_t i = 0; i < leaf->pointCount && leaf->points; ++i) {
    const ZvSFVec3f& p = leaf->points[i];
    RwClump* point = zvRenderModel(who, p.x, p.y, p.z, [&] {
      return zvRenderCheck(rwSphere(kThin, kThinSegments), who, "cannot create point");
    });
    int r = point ? ZV_OK : ZV_FAIL;
    if (point && !rwSetClumpTag(point, i))
      r = zvRenderError(who, "cannot set tag to clump");
    else if (point && !rwSetClumpData(point, object))
      r = zvRenderError(who, "cannot set data to clump");
    else if (point && !rwAddChildToClump(parent, point))
      r = zvRenderError(who, "cannot add child to clump");
    if (r != ZV_OK) {
      if (point && rwGetClumpParent(point) != parent) rwDestroyClump(point);
      rwDestroyClump(parent);
      return ZV_FAIL;
    }
  }
  return zvRenderFinishShape(leaf, parent, who, nullptr, true, "cannot add point set to the world");
}

// ---------------------------------------------------------------------------
// Line sets

RwClump* zvRwSetLineSegment(ZvLineSet* leaf, int index) {
  const char* who = "zvRwSetLineSegment()";
  if (!leaf || !leaf->points || index < 0 || index + 1 >= leaf->pointCount) return nullptr;
  const ZvSFVec3f& p = leaf->points[index];
  const ZvSFVec3f& q = leaf->points[index + 1];
  RwV3d P{p.x, p.y, p.z}, Q{q.x, q.y, q.z}, d, up{0, 1, 0}, a;
  if (!rwSubtractVector(&Q, &P, &d)) {
    zvRenderError(who, "cannot subtract vector");
    return nullptr;
  }
  float length = rwLength(&d);
  if (length == 0.0f) {
    zvRenderError(who, "the length of the line is zero");
    return nullptr;
  }
  RwV3d u = d;
  if (!rwNormalize(&u)) {
    zvRenderError(who, "cannot normalize vector");
    return nullptr;
  }
  if (!rwCrossProduct(&up, &u, &a)) {
    zvRenderError(who, "cannot calculate cross product");
    return nullptr;
  }
  float s = rwLength(&a);
  s = s > 1.0f ? 1.0f : s < -1.0f ? -1.0f : s;
  float angle = std::asin(s) * 180.0f / float(M_PI);
  if (rwDotProduct(&up, &u) < 0) angle = 180.0f - angle;
  if (angle == 180.0f) a = RwV3d{1, 0, 0};
  RwClump* clump = zvRenderModel(who, P.x, P.y, P.z, [&] {
    if (angle != 0.0f && !zvRenderCheck(rwRotateCTM(a.x, a.y, a.z, angle), who, "cannot rotate CTM")) return false;
    return zvRenderCheck(rwCylinder(length, kThin, kThin, kThinSegments), who, "cannot create line");
  });
  if (!clump) return nullptr;
  const char* failure = !rwSetClumpTag(clump, index)                 ? "cannot set tag to clump"
                        : !rwSetClumpData(clump, leaf->owner)          ? "cannot set data to clump"
                                                                        : nullptr;
  if (failure) {
    zvRenderError(who, failure);
    rwDestroyClump(clump);
    return nullptr;
  }
  return clump;
}

int zvRwSetLine(ZvObj* object) {
  const char* who = "zvRwSetLine()";
  if (!object || !object->leaf) return ZV_FAIL;
  ZvRenderingStruct* rs = zvRenderStructOfObj(object);
  ZvScratchWRT m(object, who, true);
  if (!m.ok()) return ZV_FAIL;
  int32_t position = 0;
  for (ZvLeaf* l = object->leaf; l; l = l->next) {
    ++position;
    if (l->type != ZV_LEAF_LINE_SET) return zvRenderError(who, "invalid leaf type");
    auto* leaf = static_cast<ZvLineSet*>(l);
    RwClump* clump = rwCreateClump(0, 0);
    if (!clump) return zvRenderError(who, "cannot create clump");
    int r = ZV_OK;
    for (int32_t i = 0; i + 1 < leaf->pointCount && r == ZV_OK; ++i) {
      RwClump* segment = zvRwSetLineSegment(leaf, i);
      if (!segment) {
        r = ZV_FAIL;
      } else if (!rwAddChildToClump(clump, segment)) {
        rwDestroyClump(segment);
        r = zvRenderError(who, "cannot add child to clump");
      }
    }
    if (r == ZV_OK) {
      if (zvRenderHidden(object)) rwSetClumpState(clump, RW_OFF);
      leaf->rendering = clump;
      // Lines carry no object of their own: picking reads it from a segment.
      if (!rwSetClumpTag(clump, position))
        r = zvRenderError(who, "cannot set tag to clump");
      else if (!rwTransformClump(clump, m.matrix(), RW_REPLACE))
        r = zvRenderError(who, "cannot transform clump");
      else if (zvRenderSetMaterial(leaf) != ZV_OK)
        r = ZV_FAIL;
      else if (!rs || !rs->scene || !rwAddClumpToScene(rs->scene, clump))
        r = zvRenderError(who, "cannot add polyline to the world");
    }
    if (r != ZV_OK) {
      rwDestroyClump(clump);
      leaf->rendering = nullptr;
      return ZV_FAIL;
    }
  }
  if (zvRenderSetObjTexture(object) != ZV_OK) return ZV_FAIL;
  return m.pop() ? ZV_OK : ZV_FAIL;
}
