// lights.cpp — the library's lights and cameras for light and camera leaves.
#include <cmath>

#include "render/renderpriv.h"

namespace {

int buildLight(ZvObj* object, int leafType, int kind, const char* who) {
  if (!object || !object->leaf || object->leaf->type != leafType) return ZV_FAIL;
  auto* leaf = static_cast<ZvLight*>(object->leaf);
  RwLight* light = kind == RW_DIRECTIONAL ? rwCreateLight(kind, 0, 0, -1, 1.0f) : rwCreateLight(kind, 0, 0, 0, 1.0f);
  if (!light) return zvRenderError(who, "cannot create light");
  int r = ZV_OK;
  if (kind == RW_SPOT) {
    // The leaf's cut-off is the whole angle in radians; the library's cone
    // angle is the half angle in degrees.
    float cut = static_cast<ZvSpotLight*>(leaf)->cutOffAngle;
    if (!rwSetLightConeAngle(light, cut / float(M_PI) * 90.0f)) r = zvRenderError(who, "cannot set light cone angle");
  }
  if (r == ZV_OK &&
      !rwSetLightColor(light, leaf->intensity * leaf->color.r, leaf->intensity * leaf->color.g,
                       leaf->intensity * leaf->color.b))
    r = zvRenderError(who, "cannot set light color");
  if (r == ZV_OK && !rwSetLightState(light, leaf->on == 1 ? RW_ON : RW_OFF))
    r = zvRenderError(who, "cannot set light state");
  if (r != ZV_OK) {
    rwDestroyLight(light);
    return r;
  }
  return zvRwSetLight(leaf, light);
}

// The view window of a perspective camera: a height angle past a half turn
// has a negative tangent, which gets the widest window instead.
void perspectiveWindow(float heightAngle, float* w, float* h) {
  float t = std::tan(heightAngle / 2);
  if (t < 0) t = 768.0f;
  *w = t * 1.3333334f;
  *h = t;
}

int buildCamera(ZvObj* object, int leafType, const char* who) {
  if (!object || !object->leaf || object->leaf->type != leafType) return ZV_FAIL;
  auto* leaf = static_cast<ZvCamera*>(object->leaf);
  RwCamera* camera = rwCreateCamera(1024, 768, 0);
  if (!camera) return zvRenderError(who, "cannot create camera");
  bool ortho = leafType == ZV_LEAF_ORTHOGRAPHIC_CAMERA;
  float w, h;
  if (ortho) {
    w = leaf->height * 1.3333334f;
    h = leaf->height;
  } else {
    perspectiveWindow(leaf->height, &w, &h);
  }
  int r = ZV_OK;
  if (!rwSetCameraProjection(camera, ortho ? RW_PARALLEL : RW_PERSPECTIVE))
    r = zvRenderError(who, "cannot set camera projection");
  else if (!rwSetCameraViewwindow(camera, w, h))
    r = zvRenderError(who, "cannot set view window");
  if (r != ZV_OK) {
    rwDestroyCamera(camera);
    return r;
  }
  return zvRwSetCamera(leaf, camera);
}

}  // namespace

int zvRwSetPointLight(ZvObj* object) {
  return buildLight(object, ZV_LEAF_POINT_LIGHT, RW_POINT, "zvRwSetPointLight()");
}

int zvRwSetSpotLight(ZvObj* object) { return buildLight(object, ZV_LEAF_SPOT_LIGHT, RW_SPOT, "zvRwSetSpotLight()"); }

int zvRwSetDirectionalLight(ZvObj* object) {
  return buildLight(object, ZV_LEAF_DIRECTIONAL_LIGHT, RW_DIRECTIONAL, "zvRwSetDirectionalLight()");
}

int zvRwSetLight(ZvLeaf* leaf, RwLight* light) {
  const char* who = "zvRwSetLight()";
  ZvRenderingStruct* rs = zvRenderStructOfObj(leaf->owner);
  if (!rs || !rs->scene || !rwAddLightToScene(rs->scene, light)) {
    rwDestroyLight(light);
    return zvRenderError(who, "cannot add light to scene");
  }
  leaf->rendering = light;
  if (!rwSetLightData(light, leaf)) return zvRenderError(who, "cannot set data to light");
  return zvRenderTransformZvLight(leaf);
}

int zvRwSetOrthographicCamera(ZvObj* object) {
  return buildCamera(object, ZV_LEAF_ORTHOGRAPHIC_CAMERA, "zvRwSetOrthographicCamera()");
}

int zvRwSetPerspectiveCamera(ZvObj* object) {
  return buildCamera(object, ZV_LEAF_PERSPECTIVE_CAMERA, "zvRwSetPerspectiveCamera()");
}

int zvRwSetCamera(ZvLeaf* leaf, RwCamera* camera) {
  const char* who = "zvRwSetCamera()";
  ZvWorld* world = leaf->owner ? leaf->owner->world : nullptr;
  // Owned by the leaf from here on, so that every failure below leaves it
  // where destruction finds it.
  leaf->rendering = camera;
  if (world) {
    const ZvSFColor& bg = world->background;
    if (!rwSetCameraBackColor(camera, bg.r, bg.g, bg.b)) return zvRenderError(who, "cannot set background color");
    if (const char* file = zvRenderLocalFile(world->backgroundTexture))
      if (RwRaster* raster = rwReadRaster(file, 18)) {
        rwSetCameraBackdrop(camera, raster);
        rwDestroyRaster(raster);  // the camera holds its own reference
      }
  }
  if (!zvRenderApplyViewSize(camera)) return zvRenderError(who, "cannot set viewport");
  if (!rwSetCameraData(camera, leaf)) return zvRenderError(who, "cannot set data to camera");
  return zvRenderTransformZvCamera(leaf, camera);
}
