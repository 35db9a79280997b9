// hooks.cpp — the bridge's entries in the scene model's hook table. The
// model calls these whenever it changes something the renderer shows; each
// construct or destroy runs between zvRenderSuspend and zvRenderResume so
// that window procedures know the structure is being changed. Objects of a
// world that has no rendering structure are left to the model alone.
#include "render/renderpriv.h"

namespace {

bool rendered(const ZvObj* object) { return zvRenderStructOfObj(object) != nullptr; }

int deleteObj(ZvObj* object) {
  if (!rendered(object)) return ZV_OK;
  zvRenderSuspend(object->world);
  int r = zvRenderDestroyPartInViewer(object);
  zvRenderResume(object->world);
  return r;
}

void forgetMovedObj(ZvWorld* world, ZvObj* object) { zvRenderForgetTransferedObj(world, object); }

int addMovedObj(ZvObj* object) { return rendered(object) ? zvRenderAddObjToTransferedObjList(object) : ZV_OK; }

int updateMaterial(ZvLeaf* leaf) { return leaf && leaf->rendering ? zvRenderSetMaterial(leaf) : ZV_OK; }

int setVisible(ZvObj* object, int visible) {
  if (!object) return ZV_FAIL;
  if (rendered(object)) return zvRenderSetObjState(object, visible ? 1 : 0);
  if (visible)
    object->flags |= ZV_OBJ_VISIBLE;
  else
    object->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  return ZV_OK;
}

int setSolid(ZvObj* object, int solid) {
  if (!object) return ZV_FAIL;
  if (rendered(object)) return zvRenderSetObjLeafMode(object, solid ? 1 : 0);
  if (solid)
    object->flags |= ZV_OBJ_SOLID;
  else
    object->flags &= ~uint32_t(ZV_OBJ_SOLID);
  return ZV_OK;
}

int setLightAttribute(ZvObj* object, int number, void* value) {
  return rendered(object) ? zvRenderSetLightAttribute(object, number, value) : ZV_OK;
}

int setCameraAttribute(ZvObj* object, int number, void* value) {
  if (rendered(object)) return zvRenderSetCameraAttribute(object, number, value);
  // Without a renderer the model stores the value; only a height of the
  // other camera kind is refused, in the words the renderer would use.
  const ZvLeaf* leaf = object ? object->leaf : nullptr;
  if (number == zvCameraAttrHeight && leaf && leaf->type != ZV_LEAF_ORTHOGRAPHIC_CAMERA) {
    zvWarning("ONLY OrthographicCamera can cange zvCameraAttrHeight, sorry.");
    return ZV_FAIL;
  }
  if (number == zvCameraAttrHeightAngle && leaf && leaf->type != ZV_LEAF_PERSPECTIVE_CAMERA) {
    zvWarning("ONLY PerspectiveCamera can cange zvCameraAttrHeightAngle, sorry.");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int removeBoundingBox(ZvObj* object) { return zvRenderDeleteBoundingBoxInViewer(object); }

int closeViewer(ZvWorld* world) { return zvRenderDestroyWorldInViewer(world); }

int constructWorld(ZvWorld* world) {
  int r = zvRenderConstructWorldInViewer(world);
  zvRenderResume(world);
  return r;
}

int constructObj(ZvObj* object) {
  if (!rendered(object)) return ZV_OK;
  ZvWorld* world = object->world;
  zvRenderSuspend(world);
  int r = object == world->person ? zvRenderConstructPersonInViewer(object) : zvRenderConstructPartInViewer(object);
  zvRenderResume(world);
  return r;
}

}  // namespace

void zvRenderInstallHooks(void) {
  ZvSceneHooks& h = zvSceneHooks();
  h.renderDeleteObj = deleteObj;
  h.renderForgetMovedObj = forgetMovedObj;
  h.renderAddMovedObj = addMovedObj;
  h.renderUpdateMaterial = updateMaterial;
  h.renderSetVisible = setVisible;
  h.renderSetSolid = setSolid;
  h.renderSetLightAttribute = setLightAttribute;
  h.renderSetCameraAttribute = setCameraAttribute;
  h.renderRemoveBoundingBox = removeBoundingBox;
  h.renderCloseViewer = closeViewer;
  h.renderConstructWorld = constructWorld;
  h.renderConstructObj = constructObj;
}
