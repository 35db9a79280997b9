// pick.cpp — the shape under a window point: the rendering library picks a
// clump, and the clump's back-references lead to the object, its leaf and
// the part (segment or point) that was hit.
#include <vector>

#include "nav/navpriv.h"
#include "render/render.h"

using namespace zvnav;

namespace {

// Glyphs, back-side copies and a line set's own clump carry no object: the
// nearest ancestor that does is the object's clump.
RwClump* carrier(RwClump* clump) {
  while (clump && !rwGetClumpData(clump)) clump = rwGetClumpParent(clump);
  return clump;
}

bool isMarker(ZvObj* object, RwClump* clump) {
  return object && clump && zvGetObjExtension(object, zvRenderBoundingBox) == clump;
}

}  // namespace

int zvPickupZvShape(ZvWorld* world, int x, int y, ZvPickResult* result) {
  if (!result) return ZV_FAIL;
  *result = ZvPickResult{};
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  if (!rs || !rs->scene || !camera) {
    zvWarning("RwPickScene failed");
    return ZV_FAIL;
  }
  RwPickRecord record{};
  RwClump* owner = nullptr;
  ZvObj* object = nullptr;
  // A selected object's marker surrounds it: it is looked through, not hit.
  std::vector<RwClump*> hidden;
  int r = ZV_OK;
  for (;;) {
    if (!rwPickScene(rs->scene, x, y, camera, &record)) {
      if (rwGetError() == RW_E_NONE) {
        r = ZV_PICK_NOTHING;
      } else {
        zvWarning("RwPickScene failed");
        r = ZV_FAIL;
      }
      break;
    }
    owner = carrier(record.clump);
    object = owner ? static_cast<ZvObj*>(rwGetClumpData(owner)) : nullptr;
    if (!isMarker(object, owner) || hidden.size() >= 64) break;
    if (!rwSetClumpState(owner, RW_OFF)) {
      zvWarning("cannot set clump state");
      r = ZV_FAIL;
      break;
    }
    hidden.push_back(owner);
  }
  for (RwClump* c : hidden)
    if (!rwSetClumpState(c, RW_ON) && r == ZV_OK) {
      zvWarning("cannot set clump state");
      r = ZV_FAIL;
    }
  if (r != ZV_OK) return r;
  if (!object || !object->leaf || isMarker(object, owner)) {
    zvWarning("invalid shape is picked");
    return ZV_FAIL;
  }

  ZvLeaf* leaf = nullptr;
  int part = 0;
  switch (object->leaf->type) {
    case ZV_LEAF_TEXT:
    case ZV_LEAF_CONE_SIDE:
    case ZV_LEAF_CONE_BOTTOM:
    case ZV_LEAF_CYLINDER_SIDE:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP:
      leaf = zvRenderGetClumpLeaf(object, owner);
      break;
    case ZV_LEAF_SPHERE:
      leaf = object->leaf;
      break;
    case ZV_LEAF_FACE: {
      leaf = static_cast<ZvLeaf*>(rwGetPolygonData(record.polygon));
      if (!leaf || leaf->owner != object) leaf = object->leaf;  // a copy that kept no data
      break;
    }
    case ZV_LEAF_LINE_SET: {
      RwClump* set = rwGetClumpParent(owner);
      if (!set) {
        zvWarning("cannot get clump parent");
        return ZV_FAIL;
      }
      leaf = zvRenderGetClumpLeaf(object, set);
      part = rwGetClumpTag(owner);
      break;
    }
    case ZV_LEAF_POINT_SET:
      leaf = object->leaf;
      part = rwGetClumpTag(owner);
      break;
    default:
      zvWarning("invalid shape is picked");
      return ZV_FAIL;
  }
  if (!leaf) leaf = object->leaf;

  result->object = object;
  result->leaf = leaf;
  result->part = part;
  result->clump = owner;
  result->point[0] = record.point.x, result->point[1] = record.point.y, result->point[2] = record.point.z;
  RwV3d eye{};
  if (rwGetCameraPosition(camera, &eye)) {
    const float e[3] = {eye.x, eye.y, eye.z};
    float d[3];
    sub(result->point, e, d);
    result->distance = length(d);
  } else {
    result->distance = record.distance;
  }
  RwV3d n{};
  RwMatrix ltm;
  if (record.polygon && rwGetPolygonNormal(record.polygon, &n) && rwNormalize(&n) &&
      rwGetClumpLTM(record.clump, &ltm) && rwTransformVector(&n, &ltm) && rwNormalize(&n)) {
    result->normal[0] = n.x, result->normal[1] = n.y, result->normal[2] = n.z;
    result->normalValid = 1;
  }
  return ZV_OK;
}
