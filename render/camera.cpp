// camera.cpp — reading and changing the renderer's cameras and lights from
// the model: viewports and view windows, clipping, directions, projecting a
// point to the window, and the light and camera attributes scripts set.
#include <cmath>

#include "render/renderpriv.h"
#include "www/www.h"

namespace {

// The renderer camera of a camera object, or null after a message.
RwCamera* cameraOfObj(ZvObj* object, const char* who) {
  if (!object || !zvIsCameraLeaf(object->leaf)) {
    zvRenderError(who, "specified obj is not a camera");
    return nullptr;
  }
  auto* camera = static_cast<RwCamera*>(object->leaf->rendering);
  if (!camera) zvRenderError(who, "cannot find the specified camera");
  return camera;
}

RwCamera* activeCamera(ZvWorld* world, const char* who) {
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  if (!camera) zvRenderError(who, "cannot get active camera");
  return camera;
}

int viewport(RwCamera* camera, int* x, int* y, int* w, int* h, const char* who) {
  if (!camera) return ZV_FAIL;
  int v[4];
  if (!rwGetCameraViewport(camera, &v[0], &v[1], &v[2], &v[3])) return zvRenderError(who, "cannot get camera's viewport");
  if (x) *x = v[0];
  if (y) *y = v[1];
  if (w) *w = v[2];
  if (h) *h = v[3];
  return ZV_OK;
}

int viewWindow(RwCamera* camera, float* w, float* h, const char* who) {
  if (!camera) return ZV_FAIL;
  float v[2];
  if (!rwGetCameraViewwindow(camera, &v[0], &v[1])) return zvRenderError(who, "cannot get camera's view window");
  if (w) *w = v[0];
  if (h) *h = v[1];
  return ZV_OK;
}

// The library answers clipping distances as floats; a camera it does not
// know answers a negative one.
int clipping(RwCamera* camera, bool nearPlane, float* out, const char* who) {
  if (!camera) return ZV_FAIL;
  float d = nearPlane ? rwGetCameraNearClipping(camera) : rwGetCameraFarClipping(camera);
  if (!(d >= 0))
    return zvRenderError(who, nearPlane ? "cannot get camera's near clipping" : "cannot get camera's far clipping");
  if (out) *out = d;
  return ZV_OK;
}

int direction(RwCamera* camera, bool lookAt, float xyz[3], const char* who) {
  if (!camera) return ZV_FAIL;
  RwV3d v;
  if (!(lookAt ? rwGetCameraLookAt(camera, &v) : rwGetCameraLookUp(camera, &v)))
    return zvRenderError(who, lookAt ? "cannot get camera's \"Look At\" vector" : "cannot get camera's \"Look Up\" vector");
  if (xyz) {
    xyz[0] = v.x;
    xyz[1] = v.y;
    xyz[2] = v.z;
  }
  return ZV_OK;
}

}  // namespace

int zvRenderSetCameraViewport(ZvWorld* world, int x, int y, int width, int height) {
  const char* who = "zvRenderSetCameraViewport";
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  if (!camera) return zvRenderError(who, "cannot get a camera");
  if (!rwSetCameraViewport(camera, x, y, width, height)) return zvRenderError(who, "cannot set viewport");
  return ZV_OK;
}

#define QM_CAMERA_GETTERS(Name, Call, ...)                                                   \
  int zvRenderGetCamera##Name(ZvObj* object, __VA_ARGS__) {                                \
    const char* who = "zvRenderGetCamera" #Name;                                            \
    RwCamera* camera = cameraOfObj(object, who);                                            \
    return Call;                                                                             \
  }                                                                                          \
  int zvRenderGetActiveCamera##Name(ZvWorld* world, __VA_ARGS__) {                          \
    const char* who = "zvRenderGetActiveCamera" #Name;                                      \
    RwCamera* camera = activeCamera(world, who);                                            \
    return Call;                                                                             \
  }
QM_CAMERA_GETTERS(Viewport, viewport(camera, x, y, width, height, who), int* x, int* y, int* width, int* height)
QM_CAMERA_GETTERS(ViewWindow, viewWindow(camera, width, height, who), float* width, float* height)
QM_CAMERA_GETTERS(NearClipping, clipping(camera, true, distance, who), float* distance)
QM_CAMERA_GETTERS(FarClipping, clipping(camera, false, distance, who), float* distance)
QM_CAMERA_GETTERS(LookAt, direction(camera, true, xyz, who), float xyz[3])
QM_CAMERA_GETTERS(LookUp, direction(camera, false, xyz, who), float xyz[3])
#undef QM_CAMERA_GETTERS

int zvRenderProjectPoint(ZvWorld* world, const float point[3], int* x, int* y, int* visible) {
  const char* who = "zvRenderProjectPoint";
  if (!world || !point) return ZV_FAIL;
  RwCamera* camera = activeCamera(world, who);
  if (!camera) return ZV_FAIL;
  float p[3];
  ZvObj* object = zvRenderGetActiveCameraObj(world);
  if (object) {
    ZvTransform inverse;
    zvTransformInvert(&inverse, zvGetObjectWRT(object));
    zvTransformPoint(&inverse, point, p);
  } else {
    // The default camera has no object: its own matrix, then the half turn
    // that takes the library's camera frame to the model's (-z ahead).
    RwMatrix m, inverse;
    if (!rwGetCameraMatrix(camera, &m) || !rwInvertMatrix(&m, &inverse)) return zvRenderError(who, "cannot get camera matrix");
    RwV3d v{point[0], point[1], point[2]};
    rwTransformPoint(&v, &inverse);
    p[0] = -v.x;
    p[1] = v.y;
    p[2] = -v.z;
  }
  int vx, vy, W, H;
  float w, h;
  if (!rwGetCameraViewport(camera, &vx, &vy, &W, &H)) return zvRenderError(who, "cannot get camera's viewport");
  if (!rwGetCameraViewwindow(camera, &w, &h) || w == 0 || h == 0) return zvRenderError(who, "cannot get camera's view window");
  if (p[2] > -0.5f) {
    if (visible) *visible = 0;
    return ZV_OK;
  }
  int sx = zvRenderTruncate(p[0] / p[2] * float(W) * -0.5f / w) + W / 2 + vx;
  int sy = (vy + H / 2) - zvRenderTruncate(p[1] / p[2] * float(H) * -0.5f / h);
  if (x) *x = sx;
  if (y) *y = sy;
  if (visible) *visible = vx <= sx && sx <= vx + W && vy <= sy && sy <= vy + H ? 1 : 0;
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Attributes

int zvRenderSetLightAttribute(ZvObj* object, int code, void* value) {
  const char* who = "zvRenderSetLightAttribute";
  if (!object || !object->leaf) return zvRenderError(who, "not a leaf object");
  if (!zvIsLightLeaf(object->leaf)) return zvRenderError(who, "not a light object");
  auto* leaf = static_cast<ZvLight*>(object->leaf);
  auto* light = static_cast<RwLight*>(leaf->rendering);
  if (!light) return zvRenderError(who, "cannot get RwLight");
  if (!value) return ZV_FAIL;
  int last = leaf->type == ZV_LEAF_POINT_LIGHT ? 3 : leaf->type == ZV_LEAF_SPOT_LIGHT ? 6 : 4;
  if (leaf->type != ZV_LEAF_POINT_LIGHT && leaf->type != ZV_LEAF_SPOT_LIGHT && leaf->type != ZV_LEAF_DIRECTIONAL_LIGHT)
    return zvRenderError(who, "wrong light type");
  bool known = code >= 0 && code <= last && !(leaf->type == ZV_LEAF_DIRECTIONAL_LIGHT && code == 3);
  if (!known) return zvRenderError(who, "wrong attribute name");
  const float* f = static_cast<const float*>(value);
  switch (code) {
    case ZV_LIGHT_ON: return zvRenderSetObjState(object, *static_cast<const int32_t*>(value));
    case ZV_LIGHT_INTENSITY:
      if (!rwSetLightColor(light, leaf->color.r * f[0], leaf->color.g * f[0], leaf->color.b * f[0]))
        return zvRenderError(who, "cannot set light color");
      return ZV_OK;
    case ZV_LIGHT_COLOR:
      if (!rwSetLightColor(light, leaf->intensity * f[0], leaf->intensity * f[1], leaf->intensity * f[2]))
        return zvRenderError(who, "cannot set light color");
      return ZV_OK;
    case ZV_LIGHT_LOCATION:
    case ZV_LIGHT_DIRECTION: return ZV_FAIL;  // placed by transforms only
    case ZV_LIGHT_DROP_OFF_RATE: return ZV_OK;
    default:
      // Radians of the whole cone, as at build, to the library's half angle
      // in degrees.
      if (!rwSetLightConeAngle(light, f[0] / float(M_PI) * 90.0f))
        return zvRenderError(who, "cannot set light cut off angle");
      return ZV_OK;
  }
}

int zvRenderSetCameraAttribute(ZvObj* object, int code, void* value) {
  const char* who = "zvRenderSetCameraAttribute";
  if (!object || !object->leaf) return zvRenderError(who, "not a leaf object");
  if (!zvIsCameraLeaf(object->leaf)) return zvRenderError(who, "not a camera object");
  auto* leaf = static_cast<ZvCamera*>(object->leaf);
  auto* camera = static_cast<RwCamera*>(leaf->rendering);
  if (!camera) return zvRenderError(who, "cannot get RwCamera");
  const float* f = static_cast<const float*>(value);
  switch (code) {
    case zvCameraAttrPosition:
    case zvCameraAttrLookAt: return ZV_OK;  // they arrive through transforms
    case zvCameraAttrFocalDistance: return ZV_FAIL;
    case zvCameraAttrHeight:
      if (leaf->type != ZV_LEAF_ORTHOGRAPHIC_CAMERA)
        return zvRenderError(who, "ONLY OrthographicCamera can cange zvCameraAttrHeight, sorry.");
      if (!f || !rwSetCameraViewwindow(camera, f[0] * 1.3333334f, f[0])) return zvRenderError(who, "cannot set view window");
      return ZV_OK;
    case zvCameraAttrHeightAngle: {
      if (leaf->type != ZV_LEAF_PERSPECTIVE_CAMERA)
        return zvRenderError(who, "ONLY PerspectiveCamera can cange zvCameraAttrHeightAngle, sorry.");
      if (!f) return ZV_FAIL;
      float t = std::tan(f[0] / 2);
      if (t < 0) t = 768.0f;
      if (!rwSetCameraViewwindow(camera, t * 1.3333334f, t)) return zvRenderError(who, "cannot set view window");
      return ZV_OK;
    }
    case zvCameraAttrBackgroundColor:
      if (!object->world) return zvRenderError(who, "cannot get a world");
      if (!f || !rwSetCameraBackColor(camera, f[0], f[1], f[2]))
        return zvRenderError(who, "cannot set camera background color");
      return ZV_OK;
    case zvCameraAttrBackgroundTexture: {
      // The camera holds the only reference to its backdrop unless the
      // frame put the world's on it; dropping the camera's reference frees
      // its own and leaves the world's with the world.
      rwSetCameraBackdrop(camera, nullptr);
      if (!value) return ZV_OK;
      const char* file = zvRenderLocalFile(static_cast<ZvUrlHash*>(value));
      RwRaster* raster = file ? rwReadRaster(file, 18) : nullptr;
      if (!raster) return zvRenderError(who, "cannot set camera background texture");
      int ok = rwSetCameraBackdrop(camera, raster);
      rwDestroyRaster(raster);
      if (!ok) return zvRenderError(who, "cannot set camera background texture");
      return ZV_OK;
    }
    default:
      zvError("%s : %s(%d)", who, "wrong attribute name", code);
      return ZV_FAIL;
  }
}
