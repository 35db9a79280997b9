// scene.cpp — scenes: the top-level clumps and the lights drawn together.
#include <algorithm>
#include <cmath>
#include <new>

#include "rwlib/cpupriv.h"

RwScene* rwCreateScene(void) {
  auto* scene = new (std::nothrow) RwScene();
  if (!scene) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  scene->ambient = 1.0f;
  return scene;
}

int rwDestroyScene(RwScene* scene) {
  if (!scene) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  rwGpuForgetScene(scene);
  rwClearTouched(scene);
  // Each destroy takes the clump out of the list, so always take the last.
  while (!scene->clumps.empty()) rwDestroyClump(scene->clumps.back());
  while (!scene->lights.empty()) rwDestroyLight(scene->lights.back());
  delete scene;
  return 1;
}

int rwAddClumpToScene(RwScene* scene, RwClump* clump) {
  if (!scene || !clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->scene == scene && !clump->parent) return 1;
  if (clump->parent) rwRemoveChildFromClump(clump);
  if (clump->scene) rwRemoveClumpFromScene(clump);
  try {
    scene->clumps.push_back(clump);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  clump->scene = scene;
  rwTouch(clump, RW_TOUCH_TREE);
  return 1;
}

int rwRemoveClumpFromScene(RwClump* clump) {
  if (!clump || !clump->scene) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwScene* scene = clump->scene;
  rwTouch(clump, RW_TOUCH_TREE);  // while it still reaches the scene
  auto it = std::find(scene->clumps.begin(), scene->clumps.end(), clump);
  if (it != scene->clumps.end()) scene->clumps.erase(it);
  clump->scene = nullptr;
  return 1;
}

int rwAddLightToScene(RwScene* scene, RwLight* light) {
  if (!scene || !light) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (light->scene == scene) return 1;
  try {
    scene->lights.reserve(scene->lights.size() + 1);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  if (RwScene* old = light->scene) {
    old->lights.erase(std::find(old->lights.begin(), old->lights.end(), light));
    ++old->version;
  }
  scene->lights.push_back(light);
  light->scene = scene;
  ++scene->version;
  return 1;
}

int rwSetSceneAmbient(RwScene* scene, float intensity) {
  if (!scene || !std::isfinite(intensity)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  scene->ambient = intensity;
  ++scene->version;
  return 1;
}

int rwRenderScene(RwScene* scene) {
  if (!scene) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (rwLibState() == RW_LIB_CLOSED) {
    rwSetError(RW_E_NOTOPEN);
    return 0;
  }
  RwCamera* camera = rwUpdatingCamera();
  if (!camera) {
    rwSetError(RW_E_STATE);
    return 0;
  }
  rwSetError(RW_E_NONE);  // so that the GL side's own NOMEM can be told apart
  if (rwLibState() == RW_LIB_GPU && !rwGpuRenderScene(scene, camera)) {
    if (rwGetError() != RW_E_NOMEM) rwSetError(RW_E_DEVICE);
    return 0;
  }
  return 1;
}

int rwPrepareScene(RwScene* scene) {
  if (!scene) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (rwLibState() == RW_LIB_GPU && rwGpuOpening()) rwGpuPrepareScene(scene);
  return 1;
}

int rwGetSceneClumpCount(const RwScene* scene) {
  if (!scene) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return int(scene->clumps.size());
}
