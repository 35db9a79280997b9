// model.cpp — the modelling brackets, the current transform (CTM), the
// sticky surface state and the primitives that emit polygons through them.
#include <algorithm>
#include <cmath>
#include <vector>

#include "rwlib/cpupriv.h"

namespace {

constexpr int kMaxSegments = 4096;
constexpr int kMaxSubdivisions = 1024;

RwSurfaceState gSurface = {0.3f, 0.7f, 0.0f, {1.0f, 1.0f, 1.0f}, 1.0f, RW_FACET, RW_SOLID};
bool gModelling = false;
RwMatrix gCTM = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
std::vector<RwClump*> gOpen;  // clumps begun and not yet ended, innermost last

int bad(int code = RW_E_BADPARAM) {
  rwSetError(code);
  return 0;
}

// Places what a primitive emits: points through the CTM, normals through
// its inverse transpose so that they stay perpendicular under scale.
struct Emitter {
  RwClump* clump;
  RwMatrix normalMatrix;

  Emitter() : clump(gOpen.back()) {
    RwMatrix inverse;
    if (rwInvertMatrix(&gCTM, &inverse)) {
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) normalMatrix.m[r][c] = inverse.m[c][r];
    } else {
      normalMatrix = gCTM;
    }
    rwSetError(RW_E_NONE);
  }

  int32_t vertex(RwV3d p, RwV3d n, float u, float v) {
    rwTransformPoint(&p, &gCTM);
    rwTransformVector(&n, &normalMatrix);
    rwNormalize(&n);
    int32_t index = rwAddVertexToClump(clump, p.x, p.y, p.z);
    if (!index) return 0;
    RwVertex& vx = clump->vertices[size_t(index) - 1];
    vx.n = n;
    vx.hasNormal = 1;
    vx.u = u;
    vx.v = v;
    vx.hasUV = 1;
    return index;
  }

  bool polygon(std::initializer_list<int32_t> corners) {
    return polygon(std::vector<int32_t>(corners));
  }
  bool polygon(const std::vector<int32_t>& corners) {
    return rwAddPolygonToClump(clump, int(corners.size()), corners.data()) != nullptr;
  }
};

bool canEmit() {
  if (gOpen.empty()) {
    rwSetError(RW_E_STATE);
    return false;
  }
  return true;
}

// Points around the y axis start at -z and turn counter-clockwise seen
// from above, as texture coordinates wrap around a solid of revolution.
RwV3d around(double angle) { return RwV3d{float(-std::sin(angle)), 0.0f, float(-std::cos(angle))}; }

// The side of a frustum; a zero radius at either end closes to a point.
int emitSide(float height, float bottom, float top, int segments) {
  if (!std::isfinite(height) || !std::isfinite(bottom) || !std::isfinite(top) || !(height > 0.0f) ||
      bottom < 0.0f || top < 0.0f || (bottom == 0.0f && top == 0.0f))
    return bad();
  if (!canEmit()) return 0;
  segments = std::clamp(segments, 3, kMaxSegments);
  Emitter e;
  auto normalAt = [&](double angle) {
    RwV3d d = around(angle);
    RwV3d n{d.x * height, bottom - top, d.z * height};
    rwNormalize(&n);
    return n;
  };
  for (int i = 0; i < segments; ++i) {
    double a0 = 2.0 * M_PI * i / segments, a1 = 2.0 * M_PI * (i + 1) / segments;
    float u0 = float(i) / segments, u1 = float(i + 1) / segments;
    RwV3d d0 = around(a0), d1 = around(a1);
    RwV3d n0 = normalAt(a0), n1 = normalAt(a1), nm = normalAt(0.5 * (a0 + a1));
    auto at = [](RwV3d d, float r, float y) { return RwV3d{d.x * r, y, d.z * r}; };
    std::vector<int32_t> corners;
    if (bottom > 0.0f) {
      corners.push_back(e.vertex(at(d0, bottom, 0.0f), n0, u0, 0.0f));
      corners.push_back(e.vertex(at(d1, bottom, 0.0f), n1, u1, 0.0f));
    } else {
      corners.push_back(e.vertex(RwV3d{0.0f, 0.0f, 0.0f}, nm, 0.5f * (u0 + u1), 0.0f));
    }
    if (top > 0.0f) {
      corners.push_back(e.vertex(at(d1, top, height), n1, u1, 1.0f));
      corners.push_back(e.vertex(at(d0, top, height), n0, u0, 1.0f));
    } else {
      corners.push_back(e.vertex(RwV3d{0.0f, height, 0.0f}, nm, 0.5f * (u0 + u1), 1.0f));
    }
    if (std::find(corners.begin(), corners.end(), 0) != corners.end() || !e.polygon(corners)) return 0;
  }
  return 1;
}

}  // namespace

const RwSurfaceState* rwCurrentSurface(void) { return &gSurface; }

int rwModelBegin(void) {
  if (gModelling) return bad(RW_E_STATE);
  gModelling = true;
  rwIdentityMatrix(&gCTM);
  return 1;
}

// Clumps still open at the end were never handed to anyone: they go.
int rwModelEnd(void) {
  if (!gModelling) return bad(RW_E_STATE);
  gModelling = false;
  if (gOpen.empty()) return 1;
  RwClump* outer = gOpen.front();
  gOpen.clear();
  rwDestroyClump(outer);  // the inner ones are its descendants
  return bad(RW_E_STATE);
}

int rwClumpBegin(void) {
  RwClump* clump = rwCreateClump(0, 0);
  if (!clump) return 0;
  try {
    gOpen.push_back(clump);
  } catch (const std::bad_alloc&) {
    rwDestroyClump(clump);
    return bad(RW_E_NOMEM);
  }
  // A nested clump hangs under its parent at once, so ending the outer
  // clump early (or the model) cannot lose it.
  if (gOpen.size() > 1 && !rwAddChildToClump(gOpen[gOpen.size() - 2], clump)) {
    gOpen.pop_back();
    rwDestroyClump(clump);
    return 0;
  }
  return 1;
}

RwClump* rwClumpEnd(void) {
  if (gOpen.empty()) {
    bad(RW_E_STATE);
    return nullptr;
  }
  RwClump* clump = gOpen.back();
  gOpen.pop_back();
  return clump;
}

int rwIdentityCTM(void) { return rwIdentityMatrix(&gCTM); }

int rwTranslateCTM(float x, float y, float z) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return bad();
  return rwTranslateMatrix(&gCTM, x, y, z, RW_PRECONCAT);
}

int rwRotateCTM(float ax, float ay, float az, float degrees) {
  return rwRotateMatrix(&gCTM, ax, ay, az, degrees, RW_PRECONCAT);
}

int rwSetSurface(float ambient, float diffuse, float specular) {
  if (!std::isfinite(ambient) || !std::isfinite(diffuse) || !std::isfinite(specular)) return bad();
  gSurface.ambient = ambient;
  gSurface.diffuse = diffuse;
  gSurface.specular = specular;
  return 1;
}

int rwSetSurfaceColor(float r, float g, float b) {
  if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) return bad();
  gSurface.color[0] = r;
  gSurface.color[1] = g;
  gSurface.color[2] = b;
  return 1;
}

int rwSetSurfaceOpacity(float opacity) {
  if (!std::isfinite(opacity)) return bad();
  gSurface.opacity = std::clamp(opacity, 0.0f, 1.0f);
  return 1;
}

int rwSetSurfaceLightSampling(int sampling) {
  if (sampling != RW_FACET && sampling != RW_VERTEX) return bad();
  gSurface.lightSampling = sampling;
  return 1;
}

int rwSetSurfaceGeometrySampling(int sampling) {
  if (sampling != RW_SOLID && sampling != RW_WIREFRAME) return bad();
  gSurface.geometrySampling = sampling;
  return 1;
}

int rwGetSurfaceState(RwSurfaceState* out) {
  if (!out) return bad();
  *out = gSurface;
  return 1;
}

int rwSetSurfaceState(const RwSurfaceState* s) {
  if (!s || (s->lightSampling != RW_FACET && s->lightSampling != RW_VERTEX) ||
      (s->geometrySampling != RW_SOLID && s->geometrySampling != RW_WIREFRAME))
    return bad();
  float values[7] = {s->ambient, s->diffuse, s->specular, s->color[0], s->color[1], s->color[2], s->opacity};
  for (float v : values)
    if (!std::isfinite(v)) return bad();
  gSurface = *s;
  gSurface.opacity = std::clamp(s->opacity, 0.0f, 1.0f);
  return 1;
}

int rwCone(float height, float radius, int segments) { return emitSide(height, radius, 0.0f, segments); }

int rwCylinder(float height, float bottomRadius, float topRadius, int segments) {
  return emitSide(height, bottomRadius, topRadius, segments);
}

int rwDisc(float offset, float radius, int segments) {
  if (!std::isfinite(offset) || !std::isfinite(radius) || radius == 0.0f) return bad();
  if (!canEmit()) return 0;
  segments = std::clamp(segments, 3, kMaxSegments);
  Emitter e;
  bool up = radius > 0.0f;
  float r = std::fabs(radius);
  RwV3d n{0.0f, up ? 1.0f : -1.0f, 0.0f};
  std::vector<int32_t> corners;
  for (int i = 0; i < segments; ++i) {
    // Counter-clockwise seen from the side it faces.
    double a = 2.0 * M_PI * (up ? i : segments - i) / segments;
    RwV3d d = around(a);
    // Seen from the side it faces, the picture is upright and not mirrored.
    float u = 0.5f + (up ? d.x : -d.x) * 0.5f, v = 0.5f - d.z * 0.5f;
    int32_t index = e.vertex(RwV3d{d.x * r, offset, d.z * r}, n, u, v);
    if (!index) return 0;
    corners.push_back(index);
  }
  return e.polygon(corners) ? 1 : 0;
}

int rwSphere(float radius, int subdivisions) {
  if (!std::isfinite(radius) || !(radius > 0.0f)) return bad();
  if (!canEmit()) return 0;
  int bands = std::clamp(subdivisions, 3, kMaxSubdivisions);
  int slices = 2 * bands;
  Emitter e;
  // Rows from the north pole down; each row has slices + 1 vertices so that
  // the seam carries both u = 0 and u = 1.
  std::vector<int32_t> rows(size_t(bands + 1) * size_t(slices + 1));
  for (int j = 0; j <= bands; ++j) {
    double phi = M_PI * j / bands;
    for (int i = 0; i <= slices; ++i) {
      double theta = 2.0 * M_PI * i / slices;
      RwV3d d = around(theta);
      // The poles are one point, but each slice has its own corner there.
      double s = (j == 0 || j == bands) ? 0.0 : std::sin(phi);
      double c = j == 0 ? 1.0 : j == bands ? -1.0 : std::cos(phi);
      RwV3d n{float(d.x * s), float(c), float(d.z * s)};
      int32_t index = e.vertex(RwV3d{n.x * radius, n.y * radius, n.z * radius}, n, float(i) / slices,
                               1.0f - float(j) / bands);
      if (!index) return 0;
      rows[size_t(j) * size_t(slices + 1) + size_t(i)] = index;
    }
  }
  auto at = [&](int j, int i) { return rows[size_t(j) * size_t(slices + 1) + size_t(i)]; };
  for (int j = 0; j < bands; ++j)
    for (int i = 0; i < slices; ++i) {
      bool ok;
      if (j == 0)
        ok = e.polygon({at(1, i), at(1, i + 1), at(0, i)});
      else if (j == bands - 1)
        ok = e.polygon({at(bands, i), at(j, i + 1), at(j, i)});
      else
        ok = e.polygon({at(j + 1, i), at(j + 1, i + 1), at(j, i + 1), at(j, i)});
      if (!ok) return 0;
    }
  return 1;
}
