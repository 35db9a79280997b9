// Triangulation and computed vertex normals.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "rwlib/rwpriv.h"

namespace {

RwPolygon* polygonOf(RwClump* c, const std::vector<std::pair<float, float>>& xy) {
  std::vector<int32_t> idx;
  for (auto [x, y] : xy) idx.push_back(rwAddVertexToClump(c, x, y, 0.0f));
  return rwAddPolygonToClump(c, int(idx.size()), idx.data());
}

// Sum of the triangles' areas, each signed by the polygon's normal, and
// whether any triangle is flipped against it.
double coveredArea(const RwClump* c, const RwPolygon* p, const std::vector<uint32_t>& tri, bool* flipped) {
  double sum = 0.0;
  *flipped = false;
  for (size_t t = 0; t + 2 < tri.size(); t += 3) {
    RwV3d v[3];
    for (int k = 0; k < 3; ++k) v[k] = c->vertices[c->corners[p->first + tri[t + k]]].p;
    RwV3d e1, e2, n;
    rwSubtractVector(&v[1], &v[0], &e1);
    rwSubtractVector(&v[2], &v[0], &e2);
    rwCrossProduct(&e1, &e2, &n);
    double a = 0.5 * rwDotProduct(&n, &p->normal);
    if (a < -1e-9) *flipped = true;
    sum += a;
  }
  return sum;
}

TEST(RwTriangulate, ConcaveShapesAreCoveredExactly) {
  RwClump* c = rwCreateClump(0, 0);
  // An L of area 3 starting at its reflex corner, so a fan would spill out;
  // the same L wound the other way (facing -z); a comb: a bar of seven units
  // and four unit teeth.
  const std::vector<std::pair<float, float>> shapes[] = {
      {{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}},
      {{2, 1}, {2, 0}, {0, 0}, {0, 2}, {1, 2}, {1, 1}},
      {{0, 0}, {7, 0}, {7, 2}, {6, 2}, {6, 1}, {5, 1}, {5, 2}, {4, 2}, {4, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}};
  const double areas[] = {3, 3, 7 + 4};
  std::vector<uint32_t> tri;
  for (int i = 0; i < 3; ++i) {
    RwPolygon* p = polygonOf(c, shapes[i]);
    rwTriangulate(c, p, tri);
    bool flipped;
    EXPECT_EQ(tri.size(), 3 * (shapes[i].size() - 2)) << i;
    EXPECT_NEAR(coveredArea(c, p, tri, &flipped), areas[i], 1e-6) << i;
    EXPECT_FALSE(flipped) << i;
  }
  rwDestroyClump(c);
}

TEST(RwTriangulate, DegenerateAndHugePolygons) {
  RwClump* c = rwCreateClump(0, 0);
  RwPolygon* line = polygonOf(c, {{0, 0}, {1, 0}, {2, 0}, {3, 0}});
  std::vector<uint32_t> tri;
  rwTriangulate(c, line, tri);
  EXPECT_TRUE(tri.empty());

  // A square with a doubled corner and a straight-through corner.
  RwPolygon* sq = polygonOf(c, {{0, 0}, {1, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
  rwTriangulate(c, sq, tri);
  bool flipped;
  EXPECT_NEAR(coveredArea(c, sq, tri, &flipped), 4.0, 1e-6);

  // Star-shaped (concave) polygons come back quickly: past the corner limit
  // as a fan, below it through ear clipping, which must cover them exactly.
  for (auto [n, inner, clipped] : {std::tuple{20000, 0.8, false}, {900, 0.5, true}}) {
    std::vector<std::pair<float, float>> star;
    for (int i = 0; i < n; ++i) {
      double a = 2 * M_PI * i / n, r = (i & 1) ? 1.0 : inner;
      star.push_back({float(r * std::cos(a)), float(r * std::sin(a))});
    }
    double exact = 0.0;
    for (int i = 0; i < n; ++i)
      exact += 0.5 * (double(star[i].first) * star[(i + 1) % n].second - double(star[(i + 1) % n].first) * star[i].second);
    RwPolygon* p = polygonOf(c, star);
    auto t0 = std::chrono::steady_clock::now();
    rwTriangulate(c, p, tri);
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took.count(), 500.0) << n;
    EXPECT_EQ(tri.size(), 3u * (n - 2)) << n;
    if (!clipped) continue;
    EXPECT_NEAR(coveredArea(c, p, tri, &flipped), exact, 1e-3);
    EXPECT_FALSE(flipped);
  }
  rwDestroyClump(c);
}

TEST(RwGeometry, VertexNormalsAverageAndExplicitOnesStay) {
  RwClump* c = rwCreateClump(0, 0);
  // Two squares meeting at a right angle along the x axis: one in the
  // floor (facing +y), one in a wall (facing +z).
  int32_t a = rwAddVertexToClump(c, 0, 0, 0), b = rwAddVertexToClump(c, 1, 0, 0);
  int32_t f1 = rwAddVertexToClump(c, 1, 0, -1), f2 = rwAddVertexToClump(c, 0, 0, -1);
  int32_t w1 = rwAddVertexToClump(c, 1, 1, 0), w2 = rwAddVertexToClump(c, 0, 1, 0);
  int32_t lone = rwAddVertexToClump(c, 5, 5, 5);
  const int32_t floor[4] = {a, b, f1, f2}, wall[4] = {a, b, w1, w2};
  rwAddPolygonToClump(c, 4, floor);
  rwAddPolygonToClump(c, 4, wall);
  ASSERT_NEAR(c->polygons[0].normal.y, 1.0f, 1e-6f);
  ASSERT_NEAR(c->polygons[1].normal.z, 1.0f, 1e-6f);
  rwSetVertexNormal(c, b, 0, 0, 2);
  rwUpdateVertexNormals(c);
  const float h = std::sqrt(0.5f);
  EXPECT_NEAR(c->vertices[a - 1].n.y, h, 1e-6f);
  EXPECT_NEAR(c->vertices[a - 1].n.z, h, 1e-6f);
  EXPECT_NEAR(c->vertices[b - 1].n.z, 1.0f, 1e-6f);  // explicit, normalised
  EXPECT_NEAR(c->vertices[f1 - 1].n.y, 1.0f, 1e-6f);
  EXPECT_EQ(rwLength(&c->vertices[lone - 1].n), 0.0f);
  EXPECT_TRUE(c->normalsValid);
  rwAddVertexToClump(c, 0, 0, 0);
  EXPECT_FALSE(c->normalsValid);
  rwDestroyClump(c);
}

}  // namespace
