// transform.cpp — world transforms into the renderer. Moved objects are
// queued (one entry per moved subtree root) and re-applied once per frame,
// not one by one as they change.
#include "render/renderpriv.h"

// ---------------------------------------------------------------------------
// Matrices

RwMatrix* zvRwGetObjectWRT(ZvObj* object, RwMatrix* matrix) {
  const ZvTransform* wrt = zvGetObjectWRT(object);
  if (!wrt || !matrix) return nullptr;
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 3; ++column)
      if (!rwSetMatrixElement(matrix, row, column, wrt->m[row][column])) {
        zvRenderError("zvRwGetObjectWRT", "cannot set matrix element");
        return nullptr;
      }
  return matrix;
}

namespace {

RwMatrix* drawnWRT(ZvObj* object, RwMatrix* matrix) {
  ZvTransform t;
  if (zvGetObjectDrawnWRT(object, &t) != ZV_OK) return nullptr;
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 3; ++column)
      if (!rwSetMatrixElement(matrix, row, column, t.m[row][column])) {
        zvRenderError("zvRwGetObjectWRT", "cannot set matrix element");
        return nullptr;
      }
  return matrix;
}

}  // namespace

ZvScratchWRT::ZvScratchWRT(ZvObj* object, const char* who, bool drawn) : who_(who) {
  RwMatrix* m = rwPushScratchMatrix();
  if (!m) {
    zvRenderError(who, "cannot push scratch matrix");
    return;
  }
  pushed_ = true;
  matrix_ = drawn ? drawnWRT(object, m) : zvRwGetObjectWRT(object, m);
}

ZvScratchWRT::~ZvScratchWRT() { pop(); }

bool ZvScratchWRT::pop() {
  if (!pushed_) return true;
  pushed_ = false;
  matrix_ = nullptr;
  if (rwPopScratchMatrix()) return true;
  zvRenderError(who_, "cannot pop scratch matrix");
  return false;
}

// ---------------------------------------------------------------------------
// Leaves

int zvRenderTransformZvShape(ZvLeaf* leaf) {
  const char* who = "zvRenderTransformZvShape";
  RwClump* clump = zvRenderGetLeafClump(leaf);
  if (!clump) return ZV_FAIL;
  ZvScratchWRT m(leaf->owner, who, true);
  if (!m.ok()) return ZV_FAIL;
  if (!rwTransformClump(clump, m.matrix(), RW_REPLACE)) return zvRenderError(who, "cannot transform clump");
  return m.pop() ? ZV_OK : ZV_FAIL;
}

int zvRenderTransformZvLight(ZvLeaf* leaf) {
  const char* who = "zvRenderTransformZvLight";
  auto* light = leaf ? static_cast<RwLight*>(leaf->rendering) : nullptr;
  if (!light || !zvIsLightLeaf(leaf)) return ZV_FAIL;
  ZvScratchWRT m(leaf->owner, who);
  if (!m.ok()) return ZV_FAIL;
  if (leaf->type == ZV_LEAF_POINT_LIGHT || leaf->type == ZV_LEAF_SPOT_LIGHT) {
    RwV3d p{0, 0, 0};
    if (!rwTransformPoint(&p, m.matrix())) return zvRenderError(who, "cannot transform point");
    if (!rwSetLightPosition(light, &p)) return zvRenderError(who, "cannot set light position");
  }
  if (leaf->type == ZV_LEAF_SPOT_LIGHT || leaf->type == ZV_LEAF_DIRECTIONAL_LIGHT) {
    RwV3d v{0, 0, -1};
    if (!rwTransformVector(&v, m.matrix())) return zvRenderError(who, "cannot transform vector");
    rwNormalize(&v);  // scaled objects would otherwise dim or brighten the light
    if (!rwSetLightVector(light, &v)) return zvRenderError(who, "cannot set light illumination vector");
  }
  return m.pop() ? ZV_OK : ZV_FAIL;
}

int zvRenderTransformZvCamera(ZvLeaf* leaf, RwCamera* camera) {
  const char* who = "zvRenderTransformZvCamera";
  if (!leaf || !camera) return ZV_FAIL;
  ZvScratchWRT m(leaf->owner, who);
  if (!m.ok()) return ZV_FAIL;
  // The model's cameras look along their own -z, the library's along +z
  // with screen-right along -x: half a turn about the camera's own y axis
  // maps one onto the other.
  if (!rwRotateMatrix(m.matrix(), 0, 1, 0, 180.0f, RW_PRECONCAT)) return zvRenderError(who, "cannot get rotate matrix");
  if (!rwTransformCamera(camera, m.matrix(), RW_REPLACE)) return zvRenderError(who, "cannot transform clump");
  return m.pop() ? ZV_OK : ZV_FAIL;
}

// ---------------------------------------------------------------------------
// The transferred-object list

int zvRenderAddObjToTransferedObjList(ZvObj* object) {
  if (!object) return ZV_FAIL;
  if (!(object->flags & ZV_OBJ_NOT_QUEUED)) return ZV_OK;
  ZvRenderingStruct* rs = zvRenderStructOfObj(object);
  if (!rs) {
    zvWarning("zvRenderAddObjToTransferedObjList : world->zvRenderingStruct is NULL.");
    return ZV_FAIL;
  }
  // An armed object is never in the list (queuing disarms it, and only the
  // frame that takes it out, or forgetting it, arms it again), so there is
  // no need to look for it; and the order in which the frame re-applies
  // the subtrees does not matter, so the node goes in front. A script that
  // moves thousands of objects a frame must not pay for each in each.
  auto* node = static_cast<ZvTransferNode*>(zvMalloc(sizeof(ZvTransferNode)));
  if (!node) {
    zvRenderError("zvRwAddObjToTransferedObjList", "cannot allocate memory");
    return ZV_NOMEM;
  }
  node->object = object;
  node->next = rs->transferred;
  rs->transferred = node;
  // Only after the node is in: a subtree without an entry must stay armed.
  zvRenderWalk(object, [](ZvObj* o) {
    o->flags &= ~uint32_t(ZV_OBJ_NOT_QUEUED);
    return true;
  });
  return ZV_OK;
}

void zvRenderForgetTransferedObj(ZvWorld* world, ZvObj* object) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs || !object) return;
  for (ZvTransferNode** link = &rs->transferred; *link;) {
    ZvTransferNode* n = *link;
    if (n->object == object) {
      *link = n->next;
      zvFree(n);
    } else {
      link = &n->next;
    }
  }
}
