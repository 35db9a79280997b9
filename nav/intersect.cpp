// intersect.cpp — a segment against the leaves of one object: spheres,
// faces, cylinders and cones with their discs, line sets and point sets as
// the renderer draws them (thin tubes and small balls), and text by its box.
//
// Every test works in the leaf's own coordinates, where the shape has its
// simple form; the affine map keeps the parameter t of the segment, so the
// hit point is read back on the world segment itself.
#include <cstring>
#include <initializer_list>

#include "nav/navpriv.h"
#include "render/render.h"

using namespace zvnav;

namespace {

// The renderer's tubes and balls for line segments and points.
constexpr float kThin = 0.05f;

// Offers candidate t for leaf and part; true when it became the nearest.
bool offer(ZvLineProbe* probe, float t, ZvLeaf* leaf, int part) {
  if (!acceptable(t, probe->distance)) return false;
  probe->distance = t < 0 ? 0 : t;
  probe->leaf = leaf;
  probe->part = part;
  return true;
}

// The nearest acceptable root of a quadratic that also passes keep(t): the
// nearer root first, the farther when the nearer lies behind the start.
template <typename Keep>
bool nearestRoot(float a, float b, float c, float known, float* out, Keep&& keep) {
  float roots[2];
  int n = solveQuadratic(a, b, c, roots);
  for (int i = 0; i < n; ++i)
    if (acceptable(roots[i], known) && keep(roots[i])) {
      *out = roots[i];
      return true;
    }
  return false;
}

// ---------------------------------------------------------------------------
// Point in polygon, in the coordinate plane that the normal is least
// parallel to... as the face rules choose it.

struct Plane2 {
  int a, b;  // coordinate indices kept
};

Plane2 projectionFor(const float n[3]) {
  if (std::fabs(n[2]) > kEps) return {0, 1};  // drop z
  if (std::fabs(n[0]) > kEps) return {2, 1};  // drop x
  return {0, 2};                              // drop y
}

bool insidePolygon(const ZvSFVec3f* v, int count, const float point[3], Plane2 pl) {
  auto A = [&](int i) { return (&v[i].x)[pl.a]; };
  auto B = [&](int i) { return (&v[i].x)[pl.b]; };
  float ap = point[pl.a], bp = point[pl.b];
  int crossings = 0;
  for (int i = 0; i < count; ++i) {
    int j = (i + 1) % count;
    float a1 = A(i), b1 = B(i), a2 = A(j), b2 = B(j);
    float da = a2 - a1;
    if (std::fabs(da) < kEps) {
      // Parallel to b: only the on-edge test.
      if (std::fabs(ap - a1) < kEps && std::fmin(b1, b2) - kEps < bp && bp < std::fmax(b1, b2) + kEps) return true;
      continue;
    }
    float amin = std::fmin(a1, a2), amax = std::fmax(a1, a2);
    if (ap < amin - kEps || ap > amax + kEps) continue;
    float be = b1 + (ap - a1) * (b2 - b1) / da;
    if (std::fabs(be - bp) < kEps) return true;
    if (amin - kEps < ap && ap <= amax - kEps && be >= bp + kEps) ++crossings;
  }
  return crossings & 1;
}

// The first crossing of the line p + t d (t >= 0) with the polygon's
// outline, in the projection; the line lies in the polygon's plane.
bool crossOutline(const ZvSFVec3f* v, int count, const float p[3], const float d[3], Plane2 pl, float known,
                  float* out) {
  bool found = false;
  float pa = p[pl.a], pb = p[pl.b], da = d[pl.a], db = d[pl.b];
  for (int i = 0; i < count; ++i) {
    int j = (i + 1) % count;
    float ea = (&v[j].x)[pl.a] - (&v[i].x)[pl.a], eb = (&v[j].x)[pl.b] - (&v[i].x)[pl.b];
    float denom = da * eb - db * ea;
    if (std::fabs(denom) < 1e-12f) continue;
    float wa = (&v[i].x)[pl.a] - pa, wb = (&v[i].x)[pl.b] - pb;
    float t = (wa * eb - wb * ea) / denom;
    float s = (wa * db - wb * da) / denom;
    if (s < -kEps || s > 1 + kEps) continue;
    if (acceptable(t, found ? *out : known)) {
      *out = t;
      found = true;
    }
  }
  return found;
}

// The face's plane normal from its first usable vertex triple, kept in the
// leaf once found.
bool faceNormal(ZvFace* face, float n[3]) {
  if (face->orthoNormalValid) {
    n[0] = face->orthoNormal.x, n[1] = face->orthoNormal.y, n[2] = face->orthoNormal.z;
    return true;
  }
  int count = face->vertexCount;
  for (int i = 0; i < count; ++i) {
    const ZvSFVec3f &a = face->vertices[i], &b = face->vertices[(i + 1) % count], &c = face->vertices[(i + 2) % count];
    float u[3] = {b.x - a.x, b.y - a.y, b.z - a.z}, w[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
    cross(u, w, n);
    if (std::fabs(n[0]) > kEps || std::fabs(n[1]) > kEps || std::fabs(n[2]) > kEps) {
      face->orthoNormal = ZvSFVec3f{n[0], n[1], n[2]};
      face->orthoNormalValid = 1;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Surfaces of revolution about y in normalised coordinates (y from -1 to 1):
// the radius runs linearly from bottom at y = -1 to top at y = 1.

bool frustumSide(const float p[3], const float d[3], float bottom, float top, float known, float* out) {
  float alpha = (bottom + top) / 2, beta = (top - bottom) / 2;
  // x^2 + z^2 = (alpha + beta y)^2 along p + t d
  float r0 = alpha + beta * p[1], dr = beta * d[1];
  float a = d[0] * d[0] + d[2] * d[2] - dr * dr;
  float b = 2 * (p[0] * d[0] + p[2] * d[2] - r0 * dr);
  float c = p[0] * p[0] + p[2] * p[2] - r0 * r0;
  auto onSide = [&](float t) {
    float y = p[1] + t * d[1];
    return y >= -1 - kEps && y <= 1 + kEps && alpha + beta * y >= -kEps;
  };
  if (std::fabs(a) < 1e-12f) {
    // Parallel to a generator line of a cone: one crossing at most.
    if (std::fabs(b) < 1e-12f) return false;
    float t = -c / b;
    if (!acceptable(t, known) || !onSide(t)) return false;
    *out = t;
    return true;
  }
  // A level segment meets the side only between the discs.
  if (std::fabs(d[1]) < kEps && !(p[1] >= -1 + kEps && p[1] <= 1 - kEps)) return false;
  return nearestRoot(a, b, c, known, out, onSide);
}

bool disc(const float p[3], const float d[3], float planeY, float radius, float known, float* out) {
  float r2 = radius * radius + kEps;
  if (std::fabs(d[1]) >= kEps) {
    float t = (planeY - p[1]) / d[1];
    if (!acceptable(t, known)) return false;
    float x = p[0] + t * d[0], z = p[2] + t * d[2];
    if (x * x + z * z >= r2) return false;
    *out = t;
    return true;
  }
  if (std::fabs(p[1] - planeY) >= kEps) return false;
  if (p[0] * p[0] + p[2] * p[2] < r2) {
    if (!acceptable(0, known)) return false;
    *out = 0;
    return true;
  }
  float a = d[0] * d[0] + d[2] * d[2], b = 2 * (p[0] * d[0] + p[2] * d[2]),
        c = p[0] * p[0] + p[2] * p[2] - radius * radius;
  return nearestRoot(a, b, c, known, out, [](float) { return true; });
}

// The cylinder and cone tests share everything but the leaf kinds.
int revolution(ZvLineProbe* probe, ZvLeaf* first, bool cone) {
  const char* who = cone ? "zvIntersectLineAndConeLeaf: wrong leaf type"
                         : "zvIntersectLineAndCylinderLeaf: wrong leaf type";
  float height = 0;
  for (ZvLeaf* l = first; l; l = l->next) {
    if (l->type == ZV_LEAF_CONE_SIDE && cone) height = static_cast<ZvConeSide*>(l)->height;
    else if (l->type == ZV_LEAF_CYLINDER_SIDE && !cone) height = static_cast<ZvCylinderSide*>(l)->height;
    else if ((l->type == ZV_LEAF_CONE_BOTTOM && cone) ||
             (!cone && (l->type == ZV_LEAF_CYLINDER_BOTTOM || l->type == ZV_LEAF_CYLINDER_TOP)))
      height = static_cast<ZvCircle*>(l)->height;
    else {
      zvWarning("%s", who);
      return 0;
    }
    if (height > 0) break;
  }
  float half = height / 2;
  if (!(half > 0)) return 0;
  float p[3] = {probe->p[0], probe->p[1] / half, probe->p[2]};
  float q[3] = {probe->q[0], probe->q[1] / half, probe->q[2]};
  float d[3];
  sub(q, p, d);
  bool hit = false;
  for (ZvLeaf* l = first; l; l = l->next) {
    float t;
    bool found = false;
    switch (l->type) {
      case ZV_LEAF_CONE_SIDE:
        found = frustumSide(p, d, static_cast<ZvConeSide*>(l)->bottomRadius, 0, probe->distance, &t);
        break;
      case ZV_LEAF_CYLINDER_SIDE: {
        auto* s = static_cast<ZvCylinderSide*>(l);
        found = frustumSide(p, d, s->bottomRadius, s->topRadius, probe->distance, &t);
        break;
      }
      case ZV_LEAF_CONE_BOTTOM:
      case ZV_LEAF_CYLINDER_BOTTOM:
        found = disc(p, d, -1, static_cast<ZvCircle*>(l)->radius, probe->distance, &t);
        break;
      case ZV_LEAF_CYLINDER_TOP:
        found = disc(p, d, 1, static_cast<ZvCircle*>(l)->radius, probe->distance, &t);
        break;
      default:
        zvWarning("%s", who);
        return hit;
    }
    // The first part met keeps a tie: a rim belongs to the part before it.
    if (found && (probe->distance == -1.0f || t < probe->distance) && offer(probe, t, l, 0)) hit = true;
  }
  return hit;
}

// A tube of radius r around p0..p1 (no end caps).
bool tube(const float p[3], const float d[3], const float p0[3], const float p1[3], float r, float known, float* out) {
  float axis[3];
  sub(p1, p0, axis);
  float len = length(axis);
  if (!(len > 0)) return false;
  for (float& x : axis) x /= len;
  float w[3];
  sub(p, p0, w);
  float dd = dot(d, axis), wd = dot(w, axis);
  float dp[3], wp[3];
  for (int i = 0; i < 3; ++i) dp[i] = d[i] - dd * axis[i], wp[i] = w[i] - wd * axis[i];
  float a = dot(dp, dp), b = 2 * dot(dp, wp), c = dot(wp, wp) - r * r;
  if (a < 1e-12f) return false;  // along the tube: it is too thin to matter
  return nearestRoot(a, b, c, known, out, [&](float t) {
    float s = wd + t * dd;
    return s >= -kEps && s <= len + kEps;
  });
}

bool ball(const float p[3], const float d[3], const float centre[3], float r, float known, float* out) {
  float w[3];
  sub(p, centre, w);
  float a = dot(d, d), b = 2 * dot(w, d), c = dot(w, w) - r * r;
  if (std::fabs(a) < kEps) {
    if (std::fabs(c) < kEps && acceptable(0, known)) {
      *out = 0;
      return true;
    }
    return false;
  }
  return nearestRoot(a, b, c, known, out, [](float) { return true; });
}

}  // namespace

namespace zvnav {

int solveQuadratic(float a, float b, float c, float roots[2]) {
  if (std::fabs(a) < 1e-20f) return 0;
  double q = double(b) * b - 4.0 * double(a) * c;
  if (q <= -kEps) return 0;
  if (std::fabs(q) < kEps) {
    roots[0] = float(-b / (2.0 * a));
    return 1;
  }
  double s = std::sqrt(q);
  double r1 = (-b - s) / (2.0 * a), r2 = (-b + s) / (2.0 * a);
  roots[0] = float(r1 < r2 ? r1 : r2);
  roots[1] = float(r1 < r2 ? r2 : r1);
  return 2;
}

bool invertAffine(const ZvTransform* t, ZvTransform* out) {
  const float(*m)[3] = t->m;
  float c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  float c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  float c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  float det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (!(std::fabs(det) > 1e-20f) || !std::isfinite(det)) return false;
  float inv[3][3] = {
      {c00 / det, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det, (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det},
      {c01 / det, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det, (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det},
      {c02 / det, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det, (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det},
  };
  // Row vectors: p' = p M + T, so p = (p' - T) M^-1.
  ZvTransform r;
  std::memcpy(r.m, inv, sizeof inv);
  for (int j = 0; j < 3; ++j)
    r.m[3][j] = -(m[3][0] * inv[0][j] + m[3][1] * inv[1][j] + m[3][2] * inv[2][j]);
  *out = r;
  return true;
}

bool toLeafSpace(ZvObj* object, const float start[3], const float end[3], float p[3], float q[3]) {
  ZvTransform inv;
  if (!invertAffine(zvGetObjectWRT(object), &inv)) return false;
  zvTransformPoint(&inv, start, p);
  zvTransformPoint(&inv, end, q);
  for (int i = 0; i < 3; ++i) {
    float s = object->bcubeScale[i];
    if (!(std::fabs(s) > 1e-20f)) return false;
    p[i] /= s, q[i] /= s;
  }
  return true;
}

}  // namespace zvnav

// ---------------------------------------------------------------------------

int zvIntersectLineAndSphereLeaf(ZvLineProbe* probe, ZvLeaf* leaf) {
  float r = static_cast<ZvSphere*>(leaf)->radius;
  if (!(r > 0)) return 0;
  float p[3], d[3];
  for (int i = 0; i < 3; ++i) p[i] = probe->p[i] / r, d[i] = (probe->q[i] - probe->p[i]) / r;
  const float origin[3] = {0, 0, 0};
  float t;
  return ball(p, d, origin, 1, probe->distance, &t) && offer(probe, t, leaf, 0);
}

int zvIntersectLineAndFaceLeaf(ZvLineProbe* probe, ZvLeaf* first) {
  float d[3];
  sub(probe->q, probe->p, d);
  int hit = 0;
  for (ZvLeaf* l = first; l; l = l->next) {
    if (l->type != ZV_LEAF_FACE) {
      zvWarning("zvIntersectLineAndFaceLeaf: ZvFace is linked to another type of leaf");
      break;
    }
    auto* face = static_cast<ZvFace*>(l);
    // Faces of one or two corners are kept by the reader but have no area.
    if (face->vertexCount < 3 || !face->vertices) continue;
    if (face->normalBinding < 0 || face->normalBinding > 7) {
      zvWarning("zvIntersectLineAndFaceLeaf: wrong normal binding");
      continue;
    }
    float n[3];
    if (!faceNormal(face, n)) continue;
    const float v0[3] = {face->vertices[0].x, face->vertices[0].y, face->vertices[0].z};
    Plane2 pl = projectionFor(n);
    float e = dot(d, n);
    float w[3];
    sub(v0, probe->p, w);
    float t;
    if (std::fabs(e) < kEps) {
      if (std::fabs(dot(w, n)) >= kEps) continue;
      if (insidePolygon(face->vertices, face->vertexCount, probe->p, pl)) {
        t = 0;
      } else if (!crossOutline(face->vertices, face->vertexCount, probe->p, d, pl, probe->distance, &t)) {
        continue;
      }
    } else {
      t = dot(w, n) / e;
      if (!acceptable(t, probe->distance)) continue;
      float x[3];
      pointAt(probe->p, probe->q, t, x);
      if (!insidePolygon(face->vertices, face->vertexCount, x, pl)) continue;
    }
    if (offer(probe, t, l, 0)) hit = 1;
  }
  return hit;
}

int zvIntersectLineAndCylinderLeaf(ZvLineProbe* probe, ZvLeaf* leaf) { return revolution(probe, leaf, false); }
int zvIntersectLineAndConeLeaf(ZvLineProbe* probe, ZvLeaf* leaf) { return revolution(probe, leaf, true); }

int zvIntersectLineAndLineLeaf(ZvLineProbe* probe, ZvLeaf* first) {
  float d[3];
  sub(probe->q, probe->p, d);
  int hit = 0;
  for (ZvLeaf* l = first; l; l = l->next) {
    if (l->type != ZV_LEAF_LINE_SET) {
      zvWarning("zvIntersectLineAndLineLeaf: ZvLine is linked to another type of leaf");
      break;
    }
    auto* set = static_cast<ZvLineSet*>(l);
    if (!set->points) continue;
    // Segment i joins point i to point i + 1, as the renderer builds them.
    for (int32_t i = 0; i + 1 < set->pointCount; ++i) {
      float t;
      if (tube(probe->p, d, &set->points[i].x, &set->points[i + 1].x, kThin, probe->distance, &t) &&
          offer(probe, t, l, i))
        hit = 1;
    }
  }
  return hit;
}

int zvIntersectLineAndPointSetLeaf(ZvLineProbe* probe, ZvLeaf* leaf) {
  auto* set = static_cast<ZvPointSet*>(leaf);
  if (!set->points) return 0;
  float d[3];
  sub(probe->q, probe->p, d);
  int hit = 0;
  for (int32_t i = 0; i < set->pointCount; ++i) {
    float t;
    if (ball(probe->p, d, &set->points[i].x, kThin, probe->distance, &t) && offer(probe, t, leaf, i)) hit = 1;
  }
  return hit;
}

namespace {

// The glyphs' box in the text's own frame, from the clumps the renderer
// built: the model keeps no cube for text.
bool textBox(ZvLeaf* leaf, float min[3], float max[3]) {
  auto* clump = static_cast<RwClump*>(leaf->rendering);
  if (!clump) return false;
  bool any = false;
  for (RwClump* g = rwGetFirstChildClump(clump); g; g = rwGetNextSiblingClump(g)) {
    RwV3d lo, hi;
    RwMatrix m;
    if (!rwGetClumpBounds(g, &lo, &hi) || !rwGetClumpMatrix(g, &m)) continue;
    for (int k = 0; k < 8; ++k) {
      RwV3d c{k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z};
      rwTransformPoint(&c, &m);
      const float v[3] = {c.x, c.y, c.z};
      for (int i = 0; i < 3; ++i) {
        if (!any || v[i] < min[i]) min[i] = v[i];
        if (!any || v[i] > max[i]) max[i] = v[i];
      }
      any = true;
    }
  }
  return any;
}

// The slab test of a segment against an axis-aligned box; t of the nearest
// entry, 0 when the start lies inside.
bool boxHit(const float p[3], const float q[3], const float min[3], const float max[3], float known, float* out) {
  bool inside = true;
  for (int i = 0; i < 3; ++i)
    if (!(p[i] >= min[i] - kEps && p[i] <= max[i] + kEps)) inside = false;
  if (inside) {
    *out = 0;
    return true;
  }
  float d[3];
  sub(q, p, d);
  bool found = false;
  for (int axis = 0; axis < 3; ++axis) {
    if (std::fabs(d[axis]) < 1e-20f) continue;
    for (float plane : {min[axis], max[axis]}) {
      float t = (plane - p[axis]) / d[axis];
      if (!acceptable(t, found ? *out : known)) continue;
      bool within = true;
      for (int o = 0; o < 3 && within; ++o) {
        if (o == axis) continue;
        float x = p[o] + t * d[o];
        within = x >= min[o] - kEps && x <= max[o] + kEps;
      }
      if (within) {
        *out = t;
        found = true;
      }
    }
  }
  return found;
}

}  // namespace

int zvIntersectLineAndTextLeaf(ZvLineProbe* probe, ZvLeaf* leaf) {
  float min[3], max[3], t;
  if (!textBox(leaf, min, max)) return 0;
  return boxHit(probe->p, probe->q, min, max, probe->distance, &t) && offer(probe, t, leaf, 0);
}

int zvIntersectLineAndObjBox(const float start[3], const float end[3], ZvObj* object, float* t, float point[3]) {
  float min[3], max[3], p[3], q[3];
  if (!object || !start || !end || zvGetObjBoundingCube(object, min, max) != 0) return 0;
  ZvTransform inv;
  if (!invertAffine(zvGetObjectWRT(object), &inv)) return 0;
  zvTransformPoint(&inv, start, p);
  zvTransformPoint(&inv, end, q);
  float hit;
  if (!boxHit(p, q, min, max, -1, &hit)) return 0;
  if (hit < 0) hit = 0;
  if (t) *t = hit;
  if (point) pointAt(start, end, hit, point);
  return 1;
}

int zvIntersectLineAndLeafObj(const float start[3], const float end[3], float* distance, ZvObj* object,
                              ZvLeaf** leaf, int* part, float point[3]) {
  if (!object || !start || !end) return 0;
  if (!object->leaf) {
    zvWarning("zvIntersectLineAndLeafObj: not a shape object");
    return 0;
  }
  ZvLineProbe probe{start, end, {}, {}, distance ? *distance : -1.0f, nullptr, 0};
  if (probe.distance < 0) probe.distance = -1.0f;
  if (!toLeafSpace(object, start, end, probe.p, probe.q)) return 0;
  int hit = 0;
  ZvLeaf* first = object->leaf;
  switch (first->type) {
    case ZV_LEAF_TEXT: hit = zvIntersectLineAndTextLeaf(&probe, first); break;
    case ZV_LEAF_CONE_SIDE:
    case ZV_LEAF_CONE_BOTTOM: hit = zvIntersectLineAndConeLeaf(&probe, first); break;
    case ZV_LEAF_CYLINDER_SIDE:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP: hit = zvIntersectLineAndCylinderLeaf(&probe, first); break;
    case ZV_LEAF_FACE: hit = zvIntersectLineAndFaceLeaf(&probe, first); break;
    case ZV_LEAF_LINE_SET: hit = zvIntersectLineAndLineLeaf(&probe, first); break;
    case ZV_LEAF_POINT_SET: hit = zvIntersectLineAndPointSetLeaf(&probe, first); break;
    case ZV_LEAF_SPHERE: hit = zvIntersectLineAndSphereLeaf(&probe, first); break;
    case ZV_LEAF_POINT_LIGHT:
    case ZV_LEAF_SPOT_LIGHT:
    case ZV_LEAF_DIRECTIONAL_LIGHT:
    case ZV_LEAF_ORTHOGRAPHIC_CAMERA:
    case ZV_LEAF_PERSPECTIVE_CAMERA:
    case ZV_LEAF_SOUND: return 0;
    default: zvWarning("zvIntersectLineAndLeafObj: unknown leaf type"); return 0;
  }
  if (!hit) return 0;
  if (distance) *distance = probe.distance;
  if (leaf) *leaf = probe.leaf;
  if (part) *part = probe.part;
  if (point) pointAt(start, end, probe.distance, point);
  return 1;
}
