// viewer.cpp — opening and closing the rendering library, and the life of a
// world's rendering structure: its scene, default camera, window, backdrop
// and the suspend/resume bracket around building and destroying.
#include <cstdio>
#include <unordered_map>

#include "render/renderpriv.h"
#include "www/www.h"

namespace {

int viewWidth = 640, viewHeight = 480;

// Which background reference each structure's backdrop was read from, so
// that resuming after every object built or destroyed does not read the
// image file again.
std::unordered_map<const ZvRenderingStruct*, const ZvUrlHash*> backdropSource;

// Runs before the world's URL table goes (exit handlers run last registered
// first, and the table's was registered when the world was made): the
// renderer objects are taken down while the texture references that name
// them are still there to read.
void destroyOnExit(ZvWorld* world) { zvRenderDestroyWorldInViewer(world); }

void registerExit(ZvWorld* world) {
  for (int i = 0; i < world->exitHandlerCount; ++i)
    if (world->exitHandlers[i] == destroyOnExit) return;
  if (zvAddWorldExitHandler(world, destroyOnExit) != ZV_OK)
    zvRenderWarning("zvRwInitRWStruct", "cannot register the viewer's exit handler");
}

// A bounding-box marker lives in the scene and goes with it; forget the
// object's reference to it.
void forgetMarker(ZvObj* o) {
  if (zvGetObjExtension(o, zvRenderBoundingBox)) zvRemoveObjExtension(o, zvRenderBoundingBox);
}

// Before the scene goes: cameras are not scene members and must be
// destroyed one by one; every other handle only has to be cleared, so that
// no leaf keeps pointing into the destroyed scene. Re-arms the transfer bit,
// since the list that cleared it goes with the structure.
void releaseHandles(ZvWorld* world) {
  auto release = [](ZvLeaf* leaf) {
    if (!leaf->rendering) return;
    if (zvIsCameraLeaf(leaf))
      rwDestroyCamera(static_cast<RwCamera*>(leaf->rendering));
    else if (zvIsShapeLeaf(leaf))
      zvRenderDestroyLeafTexture(leaf);
    leaf->rendering = nullptr;
  };
  for (ZvTopObjList* c = world->topObjects; c; c = c->next)
    zvRenderWalk(c->object, [&](ZvObj* o) {
      for (ZvLeaf* leaf = o->leaf; leaf; leaf = leaf->next) release(leaf);
      forgetMarker(o);
      o->flags |= ZV_OBJ_NOT_QUEUED;
      return true;
    });
  // Records whose objects are gone may still name what was built for them.
  for (ZvLeaf* leaf = world->keptLeaves; leaf; leaf = leaf->next) release(leaf);
  if (world->cameras)
    for (ZvLeaf* leaf = world->cameras->kept; leaf; leaf = leaf->next) release(leaf);
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared helpers

// What the bridge cannot build comes from the world it is given: a shape
// too big for the library, a material without entries. It costs that
// piece, said in the Messages window, never the program; only failing to
// open the library at all is the program's own fault.
int zvRenderError(const char* who, const char* what) {
  zvMessage("%s : %s", who, what);
  return ZV_FAIL;
}

namespace {

int fatal(const char* who, const char* what) {
  zvError("%s : %s", who, what);
  return ZV_FAIL;
}

}  // namespace

int zvRenderWarning(const char* who, const char* what) {
  zvWarning("%s : %s", who, what);
  return ZV_FAIL;
}

ZvRenderingStruct* zvRenderGetStruct(ZvWorld* world) {
  return world ? static_cast<ZvRenderingStruct*>(world->viewer) : nullptr;
}

ZvRenderingStruct* zvRenderStructOfObj(const ZvObj* object) {
  return object ? zvRenderGetStruct(object->world) : nullptr;
}

const char* zvRenderLocalFile(ZvUrlHash* entry) {
  if (!entry) return nullptr;
  if (entry->local_filename) return entry->local_filename;
  return zvGetLocalFile(entry);
}

int32_t zvRenderLeafPosition(const ZvLeaf* leaf) {
  if (!leaf || !leaf->owner) return 1;
  int32_t n = 1;
  for (ZvLeaf* l = leaf->owner->leaf; l && l != leaf; l = l->next) ++n;
  return n;
}

int zvRenderApplyViewSize(RwCamera* camera) {
  return rwSetCameraViewport(camera, 0, 0, viewWidth, viewHeight);
}

void zvRenderSetViewSize(int width, int height) {
  if (width > 0) viewWidth = width;
  if (height > 0) viewHeight = height;
}

void zvRenderGetViewSize(int* width, int* height) {
  if (width) *width = viewWidth;
  if (height) *height = viewHeight;
}

// ---------------------------------------------------------------------------
// Library

int zvRenderInitViewerOn(const char* device) {
  if (rwOpen(device)) return ZV_OK;
  if (rwGetError() == RW_E_NOMEM) {
    fatal("zvRenderInitViewer", "Insufficient memory to open the rendering library");
    return ZV_NOMEM;
  }
  return fatal("zvRenderInitViewer", "Error opening the rendering library");
}

void zvRenderStartViewer(void) {
  // A failure here is met again, and reported, by zvRenderInitViewer.
  rwOpenInBackground("MSWindows");
}

void zvRenderPrepareWorld(ZvWorld* world) {
  ZvRenderingStruct* rs = world ? zvRenderGetStruct(world) : nullptr;
  if (rs && rs->scene) rwPrepareScene(rs->scene);
}

int zvRenderInitViewer(void) { return zvRenderInitViewerOn("MSWindows"); }

int zvRenderCloseViewer(void) {
  rwClose();
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Per world

int zvRwInitRWStruct(ZvWorld* world) {
  auto* rs = static_cast<ZvRenderingStruct*>(zvMalloc(sizeof(ZvRenderingStruct)));
  if (!rs) {
    zvRenderError("zvRwInitRWStruct", "cannot allocate memory");
    return ZV_NOMEM;
  }
  world->viewer = rs;
  registerExit(world);
  return ZV_OK;
}

int zvRwSetDefaultCamera(ZvWorld* world) {
  const char* who = "zvRwSetDefaultCamera";
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_FAIL;
  RwCamera* camera = rwCreateCamera(1024, 768, 0);
  if (!camera) return zvRenderError(who, "cannot create camera");
  // Stored at once, so that a later failing step leaves nothing unowned.
  rs->defaultCamera = camera;
  const ZvSFColor& bg = world->background;
  if (!rwSetCameraBackColor(camera, bg.r, bg.g, bg.b)) return zvRenderError(who, "cannot set background color");
  if (world->backgroundTexture && rs->backdrop) rwSetCameraBackdrop(camera, rs->backdrop);
  if (!rwSetCameraViewwindow(camera, 1.0f, 0.75f)) return zvRenderError(who, "cannot set view window");
  if (!zvRenderApplyViewSize(camera)) return zvRenderError(who, "cannot set viewport");
  if (!rwMoveCamera(camera, 0.0f, 0.0f, -10.0f)) return zvRenderError(who, "cannot move camera");
  return ZV_OK;
}

int zvRwSetScene(ZvWorld* world) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_FAIL;
  rs->scene = rwCreateScene();
  if (!rs->scene) return zvRenderError("zvRwSetScene", "cannot create scene");
  // Every top object is tried: one that fails leaves the rest of the world.
  int result = ZV_OK;
  for (ZvTopObjList* c = world->topObjects; c; c = c->next) {
    ZvObj* o = c->object;
    if (!o) continue;
    int r = o == world->person ? zvRenderConstructPersonInViewer(o) : zvRenderConstructPartInViewer(o);
    if (r != ZV_OK) result = ZV_FAIL;
  }
  return result;
}

int zvRenderConstructWorldInViewer(ZvWorld* world) {
  if (!world) return ZV_FAIL;
  if (world->viewer && zvRenderDestroyWorldInViewer(world) != ZV_OK) return ZV_FAIL;
  int r = zvRwInitRWStruct(world);
  if (r == ZV_OK) r = zvRwSetDefaultCamera(world);
  if (r == ZV_OK) r = zvRwSetScene(world);
  return r;
}

int zvRenderDestroyWorldInViewer(ZvWorld* world) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_OK;
  const char* who = "zvRenderDestroyWorldInViewer";
  int result = ZV_OK;
  world->counters[0]++;
  zvRenderKeptMaterial() = ZvRenderKeptMaterial{};
  releaseHandles(world);
  zvRenderForgetPendingTexturesOfWorld(world);
  if (rs->scene && !rwDestroyScene(rs->scene)) result = zvRenderError(who, "cannot destroy rendering structure");
  if (rs->backdrop) rwDestroyRaster(rs->backdrop);
  if (rs->defaultCamera && !rwDestroyCamera(rs->defaultCamera)) result = zvRenderError(who, "cannot destroy camera");
  while (ZvTransferNode* n = rs->transferred) {
    rs->transferred = n->next;
    zvFree(n);
  }
  backdropSource.erase(rs);
  zvFree(rs);
  world->viewer = nullptr;
  return result;
}

int zvRenderBeforeIncrementalLoading(ZvWorld* world) {
  if (!world) return ZV_FAIL;
  if (world->viewer && zvRenderDestroyWorldInViewer(world) != ZV_OK) return ZV_FAIL;
  int r = zvRwInitRWStruct(world);
  if (r == ZV_OK) r = zvRwSetDefaultCamera(world);
  if (r != ZV_OK) return r;
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  rs->scene = rwCreateScene();
  if (!rs->scene) return zvRenderError("zvRenderBeforeIncrementalLoading", "cannot create scene");
  return ZV_OK;
}

int zvRenderSetWindow(ZvWorld* world, void* window, RwDeviceContext* deviceContext) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_FAIL;
  rs->window = window;
  rs->deviceContext = deviceContext;
  return ZV_OK;
}

int zvRenderSuspend(ZvWorld* world) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_FAIL;
  rs->renderingEnabled = 0;
  return ZV_OK;
}

int zvRenderResume(ZvWorld* world) {
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  if (!rs) return ZV_FAIL;
  // A missing or unreadable image keeps what we had: the world still draws.
  bool current = rs->backdrop && backdropSource[rs] == world->backgroundTexture;
  if (!current)
    if (const char* file = zvRenderLocalFile(world->backgroundTexture))
      if (RwRaster* raster = rwReadRaster(file, 18)) {
        if (rs->backdrop) rwDestroyRaster(rs->backdrop);
        rs->backdrop = raster;
        backdropSource[rs] = world->backgroundTexture;
      }
  rs->renderingEnabled = 1;
  return ZV_OK;
}
