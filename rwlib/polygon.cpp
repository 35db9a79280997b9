// polygon.cpp — a polygon's surface, texture and corners.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "rwlib/cpupriv.h"

namespace {

int bad() {
  rwSetError(RW_E_BADPARAM);
  return 0;
}

int touched(RwPolygon* polygon) {
  rwTouch(polygon->clump, RW_TOUCH_GEOMETRY);
  return 1;
}

}  // namespace

int rwSetPolygonSurface(RwPolygon* p, float ambient, float diffuse, float specular) {
  if (!p || !std::isfinite(ambient) || !std::isfinite(diffuse) || !std::isfinite(specular)) return bad();
  p->ambient = ambient;
  p->diffuse = diffuse;
  p->specular = specular;
  return touched(p);
}

int rwSetPolygonColor(RwPolygon* p, float r, float g, float b) {
  if (!p || !std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) return bad();
  p->color[0] = r;
  p->color[1] = g;
  p->color[2] = b;
  return touched(p);
}

int rwSetPolygonOpacity(RwPolygon* p, float opacity) {
  if (!p || !std::isfinite(opacity)) return bad();
  p->opacity = std::clamp(opacity, 0.0f, 1.0f);
  return touched(p);
}

int rwSetPolygonLightSampling(RwPolygon* p, int sampling) {
  if (!p || (sampling != RW_FACET && sampling != RW_VERTEX)) return bad();
  p->lightSampling = int16_t(sampling);
  return touched(p);
}

int rwSetPolygonGeometrySampling(RwPolygon* p, int sampling) {
  if (!p || (sampling != RW_SOLID && sampling != RW_WIREFRAME)) return bad();
  p->geometrySampling = int16_t(sampling);
  return touched(p);
}

int rwSetPolygonDrawMode(RwPolygon* p, int mode) {
  if (!p || (mode != RW_DRAW_FRONT && mode != RW_DRAW_BOTH)) return bad();
  p->drawMode = int16_t(mode);
  return touched(p);
}

int rwGetPolygonDrawMode(const RwPolygon* p) {
  if (!p) return bad();
  return p->drawMode;
}

int rwSetPolygonTexture(RwPolygon* p, RwTexture* texture) {
  if (!p) return bad();
  if (texture == p->texture) return 1;
  if (texture) ++texture->refs;  // before the release: the old one may hold the last path to it
  if (p->texture) rwReleaseTexture(p->texture);
  p->texture = texture;
  return touched(p);
}

RwTexture* rwGetPolygonTexture(const RwPolygon* p) {
  if (!p) {
    bad();
    return nullptr;
  }
  return p->texture;
}

int rwSetPolygonUV(RwPolygon* p, int count, const float* uv) {
  if (!p || !uv || count < 0 || uint32_t(count) != p->count) return bad();
  for (int i = 0; i < 2 * count; ++i)
    if (!std::isfinite(uv[i])) return bad();
  std::copy(uv, uv + 2 * count, p->clump->cornerUV.begin() + 2 * std::ptrdiff_t(p->first));
  p->hasUV = 1;
  return touched(p);
}

int rwSetPolygonData(RwPolygon* p, void* data) {
  if (!p) return bad();
  p->data = data;
  return 1;
}

void* rwGetPolygonData(const RwPolygon* p) {
  if (!p) {
    bad();
    return nullptr;
  }
  return p->data;
}

int rwSetPolygonTag(RwPolygon* p, int32_t tag) {
  if (!p) return bad();
  p->tag = tag;
  return 1;
}

int32_t rwGetPolygonTag(const RwPolygon* p) {
  if (!p) return bad();
  return p->tag;
}

RwClump* rwGetPolygonClump(const RwPolygon* p) {
  if (!p) {
    bad();
    return nullptr;
  }
  return p->clump;
}

int rwGetPolygonNormal(const RwPolygon* p, RwV3d* out) {
  if (!p || !out) return bad();
  *out = p->normal;
  return 1;
}

int rwGetPolygonVertexCount(const RwPolygon* p) {
  if (!p) return bad();
  return int(p->count);
}

int rwGetPolygonVertices(const RwPolygon* p, int32_t* out, int max) {
  if (!p || !out || max < 0) return bad();
  int n = std::min(max, int(p->count));
  for (int i = 0; i < n; ++i) out[i] = int32_t(p->clump->corners[p->first + uint32_t(i)] + 1);
  return n;
}

int rwGetPolygonSurface(const RwPolygon* p, RwSurfaceState* out) {
  if (!p || !out) return bad();
  out->ambient = p->ambient;
  out->diffuse = p->diffuse;
  out->specular = p->specular;
  for (int i = 0; i < 3; ++i) out->color[i] = p->color[i];
  out->opacity = p->opacity;
  out->lightSampling = p->lightSampling;
  out->geometrySampling = p->geometrySampling;
  return 1;
}

int rwFlipPolygon(RwPolygon* p) {
  if (!p) return bad();
  RwClump* c = p->clump;
  std::reverse(c->corners.begin() + p->first, c->corners.begin() + p->first + p->count);
  float* uv = c->cornerUV.data() + 2 * size_t(p->first);
  for (uint32_t i = 0, j = p->count - 1; i < j; ++i, --j) {
    std::swap(uv[2 * i], uv[2 * j]);
    std::swap(uv[2 * i + 1], uv[2 * j + 1]);
  }
  p->normal = RwV3d{-p->normal.x, -p->normal.y, -p->normal.z};
  return touched(p);
}
