// lib.cpp — opening and closing the library, its last error, and the change
// marks every clump operation leaves for the GL side.
#include <cstring>

#include "rwlib/cpupriv.h"

namespace {

int gError = RW_E_NONE;
int gState = RW_LIB_CLOSED;
RwCamera* gUpdating = nullptr;

}  // namespace

void rwSetError(int code) { gError = code; }
int rwGetError(void) { return gError; }
int rwLibState(void) { return gState; }
RwCamera* rwUpdatingCamera(void) { return gUpdating; }
void rwSetUpdatingCamera(RwCamera* camera) { gUpdating = camera; }

namespace {

int openOn(const char* device, bool background) {
  if (!device) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  bool gpu = !std::strcmp(device, "MSWindows") || !std::strcmp(device, "EGL");
  if (!gpu && std::strcmp(device, "Null")) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  int want = gpu ? RW_LIB_GPU : RW_LIB_NULL;
  if (gState == want) return 1;  // a second open of the same device is harmless
  if (gState != RW_LIB_CLOSED) {
    rwSetError(RW_E_STATE);
    return 0;
  }
  rwSetError(RW_E_NONE);  // so that the GL side's own NOMEM can be told apart
  if (gpu && !(background ? rwGpuOpenInBackground() : rwGpuOpen())) {
    if (rwGetError() != RW_E_NOMEM) rwSetError(RW_E_DEVICE);
    return 0;
  }
  gState = want;
  return 1;
}

}  // namespace

int rwOpen(const char* device) {
  if (!openOn(device, false)) return 0;
  if (rwWaitDevice()) return 1;  // an open begun in the background may still fail
  int error = rwGetError();
  rwClose();
  rwSetError(error);
  return 0;
}

int rwOpenInBackground(const char* device) { return openOn(device, true); }

int rwWaitDevice(void) {
  if (gState == RW_LIB_CLOSED) {
    rwSetError(RW_E_NOTOPEN);
    return 0;
  }
  if (gState == RW_LIB_GPU && !rwGpuAwait()) {
    if (rwGetError() != RW_E_NOMEM) rwSetError(RW_E_DEVICE);
    return 0;
  }
  return 1;
}

int rwClose(void) {
  if (gState == RW_LIB_CLOSED) {
    rwSetError(RW_E_NOTOPEN);
    return 0;
  }
  if (gUpdating) gUpdating->updating = 0;
  gUpdating = nullptr;
  if (gState == RW_LIB_GPU) rwGpuClose();
  gState = RW_LIB_CLOSED;
  return 1;
}

int rwGetDeviceInfo(int item, void* buffer, int size) {
  if (item != RW_INFO_OVERLAY_DEVICE || !buffer || size < 4) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  int32_t value = 0;
  std::memcpy(buffer, &value, 4);
  return 1;
}

const char* rwGetRendererName(void) {
  if (gState == RW_LIB_GPU) return rwGpuRendererName();
  if (gState == RW_LIB_NULL) return "Null";
  return "";
}

void rwTouch(RwClump* clump, unsigned what) {
  if (!clump) return;
  if (what & RW_TOUCH_GEOMETRY) {
    ++clump->geometryVersion;
    clump->normalsValid = false;
    clump->boundsValid = false;
  }
  if (what & RW_TOUCH_TRANSFORM) ++clump->transformVersion;
  const RwClump* top = clump;
  while (top->parent) top = top->parent;
  RwScene* scene = top->scene;
  if (!scene) return;
  ++scene->version;
  if (scene->treeChanged) return;  // everything is looked at anyway
  // Past this many, walking the tree once costs less than the list.
  constexpr size_t kMaxTouched = 4096;
  if ((what & RW_TOUCH_TREE) || (!clump->queuedIn && scene->touched.size() >= kMaxTouched)) {
    rwClearTouched(scene);
    scene->treeChanged = true;
    return;
  }
  if (clump->queuedIn == scene) {
    clump->touched |= what;
    return;
  }
  if (clump->queuedIn) {  // still listed where it was before it moved here
    rwClearTouched(clump->queuedIn);
    clump->queuedIn->treeChanged = true;
  }
  try {
    scene->touched.push_back(clump);
  } catch (const std::bad_alloc&) {
    rwClearTouched(scene);
    scene->treeChanged = true;
    return;
  }
  clump->queuedIn = scene;
  clump->touched = what;
}

void rwClearTouched(RwScene* scene) {
  for (RwClump* clump : scene->touched)
    if (clump) clump->queuedIn = nullptr, clump->touched = 0;
  scene->touched.clear();
}
