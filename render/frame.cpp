// frame.cpp — one frame of a world: moved objects re-applied, levels of
// detail chosen, the backdrop turned with the camera, the scene drawn and
// shown; and the plan-view frames through a camera of the caller's.
#include <cmath>

#include "render/renderpriv.h"

namespace {

ZvRenderOverlayPainter overlayPainter = nullptr;

int retransform(ZvObj* root) {
  int result = ZV_OK;
  zvRenderWalk(root, [&](ZvObj* o) {
    o->flags |= ZV_OBJ_NOT_QUEUED;
    for (ZvLeaf* leaf = o->leaf; leaf; leaf = leaf->next) {
      if (!leaf->rendering) continue;
      int r = ZV_OK;
      if (zvIsShapeLeaf(leaf))
        r = zvRenderTransformZvShape(leaf);
      else if (zvIsLightLeaf(leaf))
        r = zvRenderTransformZvLight(leaf);
      else if (zvIsCameraLeaf(leaf))
        r = zvRenderTransformZvCamera(leaf, static_cast<RwCamera*>(leaf->rendering));
      if (r != ZV_OK) result = ZV_FAIL;
      // A face set's faces share the clump the first one placed.
      if (leaf->type == ZV_LEAF_FACE) break;
    }
    return true;
  });
  return result;
}

int transferMoved(ZvRenderingStruct* rs) {
  int result = ZV_OK;
  while (ZvTransferNode* n = rs->transferred) {
    rs->transferred = n->next;
    if (retransform(n->object) != ZV_OK) result = ZV_FAIL;
    zvFree(n);
  }
  return result;
}

void evaluateOne(ZvObj* o, const RwV3d& position, const RwV3d& lookAt) {
  auto* lod = static_cast<ZvLOD*>(zvGetObjExtension(o, zvLODNode));
  if (!(o->flags & ZV_OBJ_VISIBLE) || !lod || !o->children) return;
  RwV3d d{lod->center[0] - position.x, lod->center[1] - position.y, lod->center[2] - position.z};
  if (rwDotProduct(&lookAt, &d) < 0) return;  // behind the viewer: keep the choice
  float D = d.x * d.x + d.y * d.y + d.z * d.z;
  int i = 0;
  while (i < lod->rangeCount && lod->ranges && lod->ranges[i] * lod->ranges[i] < D) ++i;
  // This runs for every level of detail every frame: an unchanged choice
  // touches nothing. Children built again keep the state it gave them, as
  // it is kept on their objects.
  auto* stored = static_cast<int32_t*>(zvGetObjExtension(o, zvSwitchWhichChild));
  if (stored && *stored == i) return;
  if (!stored) {
    stored = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
    if (!stored) return;
    if (zvRegisterObjExtension(o, zvSwitchWhichChild, stored) != ZV_OK) {
      zvFree(stored);
      return;
    }
  }
  *stored = i;
  int k = 0;
  for (ZvObjList* c = o->children; c; c = c->next, ++k)
    if (c->object) zvRenderSetObjState(c->object, k == i ? 1 : 0);
}

// The frame sequence shared by the world's frames and the plan views.
int drawFrame(ZvWorld* world, ZvRenderingStruct* rs, RwCamera* camera, void* window, RwDeviceContext* dc,
              const char* who, bool overlays) {
  auto fail = [&](const char* what) { return zvRenderError(who, what); };
  if (!rwInvalidateCameraViewport(camera)) return fail("cannot invalidate camera viewport");
  if (!rwBeginCameraUpdate(camera, window)) return fail("cannot begin updating the current camera");
  // Once begun the update is always ended, so that the camera stays usable.
  int r = ZV_OK;
  if (!rwClearCameraViewport(camera))
    r = fail("cannot clear camera viewport");
  else if (!rwRenderScene(rs->scene))
    r = fail("cannot render scene");
  if (!rwEndCameraUpdate(camera)) return fail("cannot end updating the current camera");
  if (r != ZV_OK) return r;
  // Overlays go on after the update has ended: only then does the camera
  // image hold the finished picture (a GPU camera reads it back there).
  if (overlays && overlayPainter) {
    int32_t device = 1;
    if (rwGetDeviceInfo(RW_INFO_OVERLAY_DEVICE, &device, sizeof device) && device == 0)
      if (RwImage* image = rwGetCameraImage(camera)) overlayPainter(world, image);
  }
  if (dc && !rwShowCameraImage(camera, dc)) return fail("cannot show camera image");
  return ZV_OK;
}

}  // namespace

void zvRenderSetOverlayPainter(ZvRenderOverlayPainter painter) { overlayPainter = painter; }

ZvObj* zvRenderGetActiveCameraObj(ZvWorld* world) {
  if (!world || !world->cameras || zvGetActiveCameraID(world) == 1) return nullptr;
  if (ZvObj* camera = zvGetActiveCamera(world)) return camera;
  // A Switch of cameras is registered as the world's camera, and switching
  // one of them on makes it active: it stands for the camera it has chosen
  // (the first while it chooses all or none), as for the start viewpoint.
  ZvObj* entry = zvGetCameraFromCameraTable(world, zvGetActiveCameraID(world));
  if (!entry || entry->nodeType != ZV_NODE_SWITCH) return nullptr;
  auto* which = static_cast<int32_t*>(zvGetObjExtension(entry, zvSwitchWhichChild));
  int n = which && *which > 0 ? *which : 0;
  for (ZvObjList* c = entry->children; c; c = c->next, --n)
    if (n == 0) return c->object;
  return nullptr;
}

RwCamera* zvRenderGetActiveRwCamera(ZvWorld* world) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return nullptr;
  // A world without a camera table has only the default camera.
  if (!world->cameras || zvGetActiveCameraID(world) == 1) return rs->defaultCamera;
  ZvObj* camera = zvRenderGetActiveCameraObj(world);
  if (!camera || !zvIsCameraLeaf(camera->leaf)) return nullptr;
  return static_cast<RwCamera*>(camera->leaf->rendering);
}

int zvRenderEvaluateLOD(ZvWorld* world, RwCamera* camera) {
  if (!world || world->lods.count == 0) return ZV_OK;
  RwV3d position, lookAt;
  if (!camera || !rwGetCameraPosition(camera, &position) || !rwGetCameraLookAt(camera, &lookAt))
    return zvRenderWarning("zvRenderEvaluateLOD", "cannot get camera position or look_at vector");
  // Switching children can make the world's list change under us (an object
  // deleted by a handler): walk by index, re-reading the count.
  for (int32_t i = 0; i < world->lods.count; ++i)
    if (ZvObj* o = world->lods.objects[i]) evaluateOne(o, position, lookAt);
  return ZV_OK;
}

int TrackBackdropToCamera(RwCamera* camera, RwRaster* backdrop) {
  const char* who = "TrackBackdropToCamera";
  if (!camera || !backdrop) return zvRenderWarning(who, "no camera or backdrop");
  int vx, vy, W, H;
  if (!rwGetCameraViewport(camera, &vx, &vy, &W, &H)) return zvRenderWarning(who, "cannot get camera viewport");
  float w, h;
  if (!rwGetCameraViewwindow(camera, &w, &h)) return zvRenderWarning(who, "cannot set camera viewwindow");
  float A = 2 * std::atan(w), B = 2 * std::atan(h);
  RwV3d L;
  if (!rwGetCameraLookAt(camera, &L)) return zvRenderWarning(who, "cannot get camera lookat");
  RwV3d N{L.x, 0, L.z};
  if (!rwNormalize(&N)) N = RwV3d{0, 0, 1};  // looking straight up or down
  float heading = std::acos(std::fmax(-1.0f, std::fmin(1.0f, N.z)));
  if (L.x < 0) heading = 6.2831855f - heading;
  int X = zvRenderTruncate(-(heading / A * float(W)));
  float pitch = std::acos(std::fmax(-1.0f, std::fmin(1.0f, rwDotProduct(&L, &N))));
  if (L.y < 0) pitch = -pitch;
  int Y = zvRenderTruncate(pitch / B * float(H));
  int R = rwGetRasterHeight(backdrop);
  if (R <= 0) return zvRenderWarning(who, "cannot get backdrop height");
  int top = (H - R) / 2 + Y, offsetY = 0, V = R;
  if (top < 0) {
    V = R + top;
    if (V < 0)
      V = 0, offsetY = Y;
    else
      offsetY = R - V;
    top = 0;
  }
  int result = ZV_OK;
  if (!rwSetCameraBackdropOffset(camera, X, offsetY)) result = zvRenderWarning(who, "cannot set camera backdrop offset");
  if (!rwSetCameraBackdropViewportRect(camera, 0, top, W, V))
    return zvRenderWarning(who, "cannot set camera viewport rectangle");
  return result;
}

int zvRenderShowWorld(ZvWorld* world) {
  const char* who = "zvRenderShowWorld";
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs || !rs->scene) return zvRenderError(who, "RenderingStruct is NULL");
  if (transferMoved(rs) != ZV_OK) return ZV_FAIL;
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  if (!camera) return zvRenderError(who, "cannot get active camera");
  zvRenderEvaluateLOD(world, camera);
  if (world->backgroundTexture && rs->backdrop) {
    rwSetCameraBackdrop(camera, rs->backdrop);
    TrackBackdropToCamera(camera, rs->backdrop);
  } else {
    rwSetCameraBackdrop(camera, nullptr);
  }
  return drawFrame(world, rs, camera, rs->window, rs->deviceContext, who, true);
}

// ---------------------------------------------------------------------------
// Plan views

RwCamera* zvAuthNewCamera(void) {
  RwCamera* camera = rwCreateCamera(1024, 768, 0);
  if (!camera) {
    zvError("zvAuthNewCamera() : cannot create camera");
    return nullptr;
  }
  const char* failure = !rwSetCameraProjection(camera, RW_PARALLEL) ? "zvAuthNewCamera() : cannot set camera projection"
                        : !rwMoveCamera(camera, 5, 100, 0)          ? "zvAuthNewCamera() : cannot move camera"
                        : !rwTiltCamera(camera, 90)                 ? "zvAuthNewCamera() : cannot tilt camera"
                                                                    : nullptr;
  if (failure) {
    zvError("%s", failure);
    rwDestroyCamera(camera);
    return nullptr;
  }
  return camera;
}

int zvAuthSetCameraViewport(RwCamera* camera, int x, int y, int width, int height) {
  if (!camera) return ZV_FAIL;
  if (!rwSetCameraViewport(camera, x, y, width, height)) return zvRenderError("zvAuthSetCameraViewport()", "cannot set viewport");
  if (!rwSetCameraViewwindow(camera, 20, 20)) return zvRenderError("zvAuthSetCameraViewport()", "cannot set view window");
  return ZV_OK;
}

int zvAuthShowWorld(ZvWorld* world, RwCamera* camera, void* window, RwDeviceContext* deviceContext) {
  if (!world) {
    zvError("zvAuthShowWorld() : pWorld is NULL!!");
    return ZV_FAIL;
  }
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs || !rs->scene) {
    zvError("zvAuthShowWorld() : RenderingStruct is NULL!!");
    return ZV_FAIL;
  }
  if (!camera) return ZV_FAIL;
  return drawFrame(world, rs, camera, window, deviceContext, "zvAuthShowWorld()", false);
}
