// pick.cpp — picking on the CPU: a ray through a window point against the
// triangles of every switched-on clump. Each clump keeps its triangles and
// their box in a cache keyed on its geometry version, so repeated picks
// only transform the ray and skip clumps whose box it misses.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "rwlib/cpupriv.h"

namespace {

struct PickCache {
  bool built = false;
  uint32_t version = 0;
  float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  std::vector<float> triangles;           // nine floats a triangle
  std::vector<const RwPolygon*> owners;   // one a triangle
};

std::unordered_map<const RwClump*, PickCache> gCaches;

const PickCache& cacheOf(const RwClump* clump) {
  PickCache& cache = gCaches[clump];
  if (cache.built && cache.version == clump->geometryVersion) return cache;
  cache.triangles.clear();
  cache.owners.clear();
  std::vector<uint32_t> tri;
  bool first = true;
  for (const RwPolygon& p : clump->polygons) {
    rwTriangulate(clump, &p, tri);
    for (size_t t = 0; t + 2 < tri.size(); t += 3) {
      for (int k = 0; k < 3; ++k) {
        const RwV3d& v = clump->vertices[clump->corners[p.first + tri[t + size_t(k)]]].p;
        const float c[3] = {v.x, v.y, v.z};
        for (int a = 0; a < 3; ++a) {
          cache.triangles.push_back(c[a]);
          cache.lo[a] = first ? c[a] : std::min(cache.lo[a], c[a]);
          cache.hi[a] = first ? c[a] : std::max(cache.hi[a], c[a]);
        }
        first = false;
      }
      cache.owners.push_back(&p);
    }
  }
  cache.built = true;
  cache.version = clump->geometryVersion;
  return cache;
}

struct Ray {
  double o[3], d[3];
};

// Whether the ray meets the box at some parameter in [0, limit].
bool hitsBox(const Ray& r, const float lo[3], const float hi[3], double limit) {
  double t0 = 0.0, t1 = limit;
  for (int a = 0; a < 3; ++a) {
    if (r.d[a] == 0.0) {
      if (r.o[a] < lo[a] || r.o[a] > hi[a]) return false;
      continue;
    }
    double inv = 1.0 / r.d[a];
    double ta = (lo[a] - r.o[a]) * inv, tb = (hi[a] - r.o[a]) * inv;
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1 * (1.0 + 1e-9) + 1e-12) return false;
  }
  return true;
}

// Moller-Trumbore, either side facing.
bool hitsTriangle(const Ray& r, const float* v, double* t) {
  double e1[3], e2[3], p[3], s[3], q[3];
  for (int a = 0; a < 3; ++a) {
    e1[a] = double(v[3 + a]) - v[a];
    e2[a] = double(v[6 + a]) - v[a];
  }
  p[0] = r.d[1] * e2[2] - r.d[2] * e2[1];
  p[1] = r.d[2] * e2[0] - r.d[0] * e2[2];
  p[2] = r.d[0] * e2[1] - r.d[1] * e2[0];
  double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
  if (det == 0.0 || !std::isfinite(det)) return false;
  double inv = 1.0 / det;
  for (int a = 0; a < 3; ++a) s[a] = r.o[a] - v[a];
  double u = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
  if (u < 0.0 || u > 1.0) return false;
  q[0] = s[1] * e1[2] - s[2] * e1[1];
  q[1] = s[2] * e1[0] - s[0] * e1[2];
  q[2] = s[0] * e1[1] - s[1] * e1[0];
  double w = (r.d[0] * q[0] + r.d[1] * q[1] + r.d[2] * q[2]) * inv;
  if (w < 0.0 || u + w > 1.0) return false;
  *t = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
  return *t > 0.0;
}

struct Search {
  RwV3d origin, direction;  // world, direction unit
  double best;              // nearest parameter so far: world units
  const RwPolygon* hit = nullptr;
};

struct Pending {
  const RwClump* clump;
  RwMatrix parentLTM;
};

// The local ray is the world ray through the inverse LTM: an affine map
// keeps the parameter, so t stays a world distance along the ray. The tree
// is walked with a stack of its own: worlds nest deeper than a call stack
// likes.
void visit(const RwClump* top, Search& s, std::vector<Pending>& stack) {
  stack.clear();
  stack.push_back({top, {}});
  rwIdentityMatrix(&stack.back().parentLTM);
  while (!stack.empty()) {
    Pending item = stack.back();
    stack.pop_back();
    const RwClump* clump = item.clump;
    if (clump->on != RW_ON) continue;
    RwMatrix ltm, inverse;
    rwMultiplyMatrix(&clump->matrix, &item.parentLTM, &ltm);
    if (!clump->polygons.empty() && rwInvertAffine(ltm, inverse)) {
      RwV3d o = s.origin, d = s.direction;
      rwTransformPoint(&o, &inverse);
      rwTransformVector(&d, &inverse);
      Ray r{{o.x, o.y, o.z}, {d.x, d.y, d.z}};
      const PickCache& cache = cacheOf(clump);
      // Each copy is the same triangles with the ray moved the other way.
      size_t copies = clump->instances.empty() ? 1 : clump->instances.size();
      for (size_t k = 0; k < copies && !cache.owners.empty(); ++k) {
        Ray copy = r;
        if (!clump->instances.empty()) {
          const RwV3d& at = clump->instances[k];
          copy.o[0] -= at.x, copy.o[1] -= at.y, copy.o[2] -= at.z;
        }
        if (!hitsBox(copy, cache.lo, cache.hi, s.best)) continue;
        for (size_t i = 0; i < cache.owners.size(); ++i) {
          double t;
          if (hitsTriangle(copy, &cache.triangles[i * 9], &t) && t < s.best) {
            s.best = t;
            s.hit = cache.owners[i];
          }
        }
      }
    }
    for (const RwClump* child : clump->children) stack.push_back({child, ltm});
  }
}

}  // namespace

void rwPickForgetClump(const RwClump* clump) { gCaches.erase(clump); }

int rwPickScene(RwScene* scene, int x, int y, RwCamera* camera, RwPickRecord* out) {
  if (!scene || !camera || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  Search s;
  if (!rwGetCameraRay(camera, x, y, &s.origin, &s.direction)) return 0;
  s.best = HUGE_VAL;
  try {
    std::vector<Pending> stack;
    for (const RwClump* clump : scene->clumps) visit(clump, s, stack);
  } catch (const std::bad_alloc&) {
    gCaches.clear();
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  rwSetError(RW_E_NONE);
  if (!s.hit) return 0;
  RwV3d point{float(s.origin.x + s.best * s.direction.x), float(s.origin.y + s.best * s.direction.y),
              float(s.origin.z + s.best * s.direction.z)};
  RwV3d eye;
  rwGetCameraPosition(camera, &eye);
  RwV3d diff;
  rwSubtractVector(&point, &eye, &diff);
  out->clump = s.hit->clump;
  out->polygon = const_cast<RwPolygon*>(s.hit);
  out->point = point;
  out->distance = rwLength(&diff);
  return 1;
}
