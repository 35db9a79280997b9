// light.cpp — lights. A change to a light marks its scene changed, so the
// GL side can tell that the lighting it set up is stale.
#include <algorithm>
#include <cmath>
#include <new>

#include "rwlib/cpupriv.h"

namespace {

bool finite3(float x, float y, float z) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

int changed(RwLight* light) {
  if (light->scene) ++light->scene->version;
  return 1;
}

}  // namespace

RwLight* rwCreateLight(int kind, float x, float y, float z, float brightness) {
  if ((kind != RW_DIRECTIONAL && kind != RW_POINT && kind != RW_SPOT) || !finite3(x, y, z) ||
      !std::isfinite(brightness)) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  auto* light = new (std::nothrow) RwLight();
  if (!light) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  light->kind = kind;
  light->vector = RwV3d{0.0f, 0.0f, 1.0f};
  if (kind == RW_DIRECTIONAL) {
    RwV3d v{x, y, z};
    if (rwNormalize(&v)) light->vector = v;
  } else {
    light->position = RwV3d{x, y, z};
  }
  light->brightness = brightness;
  light->color[0] = light->color[1] = light->color[2] = 1.0f;
  light->on = RW_ON;
  light->coneAngle = 45.0f;
  return light;
}

int rwDestroyLight(RwLight* light) {
  if (!light) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (RwScene* scene = light->scene) {
    auto it = std::find(scene->lights.begin(), scene->lights.end(), light);
    if (it != scene->lights.end()) scene->lights.erase(it);
    ++scene->version;
  }
  delete light;
  return 1;
}

int rwSetLightState(RwLight* light, int on) {
  if (!light || (on != RW_ON && on != RW_OFF)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->on = on;
  return changed(light);
}

int rwGetLightState(const RwLight* light) {
  if (!light) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return light->on;
}

int rwSetLightColor(RwLight* light, float r, float g, float b) {
  if (!light || !finite3(r, g, b)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->color[0] = r;
  light->color[1] = g;
  light->color[2] = b;
  return changed(light);
}

int rwSetLightPosition(RwLight* light, const RwV3d* position) {
  if (!light || !position || !finite3(position->x, position->y, position->z)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->position = *position;
  return changed(light);
}

int rwSetLightVector(RwLight* light, const RwV3d* direction) {
  if (!light || !direction || !finite3(direction->x, direction->y, direction->z)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwV3d v = *direction;
  if (!rwNormalize(&v)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->vector = v;
  return changed(light);
}

int rwSetLightConeAngle(RwLight* light, float degrees) {
  if (!light || !std::isfinite(degrees) || degrees < 0.0f) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->coneAngle = std::min(degrees, 180.0f);
  return changed(light);
}

int rwSetLightData(RwLight* light, void* data) {
  if (!light) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  light->data = data;
  return 1;
}

void* rwGetLightData(const RwLight* light) {
  if (!light) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  return light->data;
}
