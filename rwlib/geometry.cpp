// geometry.cpp — polygon normals, triangulation, computed vertex normals and
// bounds: what both the GL side and picking derive from a clump.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "rwlib/cpupriv.h"

namespace {

// Beyond this many corners ear clipping costs more than a fan is wrong.
constexpr uint32_t kMaxEarCorners = 1000;
// Point-in-ear tests one polygon may spend before the rest becomes a fan.
constexpr size_t kEarBudget = 4u << 20;

const RwV3d& corner(const RwClump* c, const RwPolygon* p, uint32_t i) {
  return c->vertices[c->corners[p->first + i]].p;
}

struct P2 {
  double x, y;
};

double cross(P2 a, P2 b, P2 c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

// Inside or on the edge of the counter-clockwise triangle abc.
bool inTriangle(P2 p, P2 a, P2 b, P2 c) {
  return cross(a, b, p) >= 0.0 && cross(b, c, p) >= 0.0 && cross(c, a, p) >= 0.0;
}

void fan(const std::vector<uint32_t>& ring, std::vector<uint32_t>& out) {
  for (size_t i = 1; i + 1 < ring.size(); ++i) {
    out.push_back(ring[0]);
    out.push_back(ring[i]);
    out.push_back(ring[i + 1]);
  }
}

}  // namespace

RwV3d rwNewellNormal(const RwClump* clump, uint32_t first, uint32_t count) {
  double nx = 0.0, ny = 0.0, nz = 0.0;
  for (uint32_t i = 0; i < count; ++i) {
    const RwV3d& a = clump->vertices[clump->corners[first + i]].p;
    const RwV3d& b = clump->vertices[clump->corners[first + (i + 1) % count]].p;
    nx += (double(a.y) - b.y) * (double(a.z) + b.z);
    ny += (double(a.z) - b.z) * (double(a.x) + b.x);
    nz += (double(a.x) - b.x) * (double(a.y) + b.y);
  }
  return RwV3d{float(nx), float(ny), float(nz)};
}

void rwTriangulate(const RwClump* clump, const RwPolygon* polygon, std::vector<uint32_t>& out) {
  out.clear();
  if (!clump || !polygon || polygon->count < 3) return;
  const uint32_t n = polygon->count;
  if (n == 3) {
    if (polygon->normal.x == 0.0f && polygon->normal.y == 0.0f && polygon->normal.z == 0.0f) return;
    out = {0, 1, 2};
    return;
  }
  // Project onto the plane the normal points out of most, keeping the
  // polygon counter-clockwise in 2D.
  RwV3d nv = rwNewellNormal(clump, polygon->first, n);
  double ax = std::fabs(nv.x), ay = std::fabs(nv.y), az = std::fabs(nv.z);
  if (!(ax + ay + az > 0.0) || !std::isfinite(ax + ay + az)) return;
  std::vector<P2> pts(n);
  for (uint32_t i = 0; i < n; ++i) {
    const RwV3d& p = corner(clump, polygon, i);
    if (az >= ax && az >= ay)
      pts[i] = P2{p.x, nv.z > 0 ? double(p.y) : -double(p.y)};
    else if (ax >= ay)
      pts[i] = P2{p.y, nv.x > 0 ? double(p.z) : -double(p.z)};
    else
      pts[i] = P2{p.z, nv.y > 0 ? double(p.x) : -double(p.x)};
  }
  std::vector<uint32_t> ring(n);
  for (uint32_t i = 0; i < n; ++i) ring[i] = i;

  bool convex = true;
  for (uint32_t i = 0; i < n && convex; ++i)
    if (cross(pts[i], pts[(i + 1) % n], pts[(i + 2) % n]) < 0.0) convex = false;
  if (convex || n > kMaxEarCorners) {
    fan(ring, out);
    return;
  }

  // Ear clipping over a shrinking ring of corner offsets.
  size_t budget = kEarBudget;
  size_t i = 0, misses = 0;
  while (ring.size() > 3) {
    size_t m = ring.size();
    uint32_t a = ring[(i + m - 1) % m], b = ring[i % m], c = ring[(i + 1) % m];
    double turn = cross(pts[a], pts[b], pts[c]);
    bool ear = turn > 0.0;
    if (ear) {
      for (size_t k = 0; k < m && ear; ++k) {
        uint32_t q = ring[k];
        if (q == a || q == b || q == c) continue;
        const P2& pq = pts[q];
        bool sharesCorner = (pq.x == pts[a].x && pq.y == pts[a].y) || (pq.x == pts[b].x && pq.y == pts[b].y) ||
                            (pq.x == pts[c].x && pq.y == pts[c].y);
        if (!sharesCorner && inTriangle(pq, pts[a], pts[b], pts[c])) ear = false;
      }
      budget -= std::min(budget, m);
    }
    if (ear || turn == 0.0) {
      // A straight or doubled-back corner adds no area: it just goes.
      if (ear) {
        out.push_back(a);
        out.push_back(b);
        out.push_back(c);
      }
      size_t k = i % m;
      ring.erase(ring.begin() + std::ptrdiff_t(k));
      i = k == 0 ? m - 2 : k - 1;  // its neighbour may have become an ear
      misses = 0;
      continue;
    }
    ++i;
    if (++misses >= m || budget == 0) {
      // Self-intersecting or too costly: what is left becomes a fan.
      std::rotate(ring.begin(), ring.begin() + std::ptrdiff_t(i % m), ring.end());
      fan(ring, out);
      return;
    }
  }
  if (cross(pts[ring[0]], pts[ring[1]], pts[ring[2]]) > 0.0) out.insert(out.end(), ring.begin(), ring.end());
}

void rwUpdateVertexNormals(RwClump* clump) {
  if (!clump || clump->normalsValid) return;
  for (RwVertex& v : clump->vertices)
    if (!v.hasNormal) v.n = RwV3d{0.0f, 0.0f, 0.0f};
  // Larger polygons weigh more: Newell's vector is twice the area long.
  for (const RwPolygon& p : clump->polygons) {
    RwV3d w = rwNewellNormal(clump, p.first, p.count);
    for (uint32_t i = 0; i < p.count; ++i) {
      RwVertex& v = clump->vertices[clump->corners[p.first + i]];
      if (v.hasNormal) continue;
      v.n.x += w.x;
      v.n.y += w.y;
      v.n.z += w.z;
    }
  }
  for (RwVertex& v : clump->vertices)
    if (!v.hasNormal && !rwNormalize(&v.n)) v.n = RwV3d{0.0f, 0.0f, 0.0f};
  clump->normalsValid = true;
}

void rwUpdateBounds(RwClump* clump) {
  if (!clump || clump->boundsValid) return;
  if (clump->vertices.empty()) {
    clump->boundsMin = clump->boundsMax = RwV3d{0.0f, 0.0f, 0.0f};
  } else {
    RwV3d lo = clump->vertices[0].p, hi = lo;
    for (const RwVertex& v : clump->vertices) {
      lo = RwV3d{std::min(lo.x, v.p.x), std::min(lo.y, v.p.y), std::min(lo.z, v.p.z)};
      hi = RwV3d{std::max(hi.x, v.p.x), std::max(hi.y, v.p.y), std::max(hi.z, v.p.z)};
    }
    clump->boundsMin = lo;
    clump->boundsMax = hi;
  }
  clump->boundsValid = true;
}

bool rwInvertAffine(const RwMatrix& m, RwMatrix& out) {
  double a[3][3], length[3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) a[i][j] = m.m[i][j];
    length[i] = std::sqrt(a[i][0] * a[i][0] + a[i][1] * a[i][1] + a[i][2] * a[i][2]);
  }
  double c[3][3];  // cofactors, transposed: the adjugate
  c[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  c[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
  c[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  c[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  c[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
  c[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
  c[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  c[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
  c[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  double det = a[0][0] * c[0][0] + a[0][1] * c[1][0] + a[0][2] * c[2][0];
  // |det| never exceeds the product of the axes' lengths; far below it the
  // axes all but lie in one plane.
  double bound = length[0] * length[1] * length[2];
  if (!std::isfinite(det) || !std::isfinite(bound) || !(std::fabs(det) > 1e-9 * bound)) return false;
  RwMatrix o = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) o.m[i][j] = float(c[i][j] / det);
  // p = q * M  =>  q = (p - t) * R^-1
  for (int j = 0; j < 3; ++j)
    o.m[3][j] = float(-(m.m[3][0] * (c[0][j] / det) + m.m[3][1] * (c[1][j] / det) + m.m[3][2] * (c[2][j] / det)));
  o.m[3][3] = 1.0f;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j)
      if (!std::isfinite(o.m[i][j])) return false;  // beyond what a float holds
  out = o;
  return true;
}
