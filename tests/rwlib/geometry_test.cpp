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
  // An L of area 3, starting at its reflex corner so a fan would spill out.
  RwPolygon* l = polygonOf(c, {{1, 1}, {1, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 1}});
  std::vector<uint32_t> tri;
  rwTriangulate(c, l, tri);
  bool flipped;
  EXPECT_EQ(tri.size(), 12u);
  EXPECT_NEAR(coveredArea(c, l, tri, &flipped), 3.0, 1e-6);
  EXPECT_FALSE(flipped);

  // The same L wound the other way (facing -z) in a clump seen from behind.
  RwPolygon* back = polygonOf(c, {{2, 1}, {2, 0}, {0, 0}, {0, 2}, {1, 2}, {1, 1}});
  rwTriangulate(c, back, tri);
  EXPECT_NEAR(coveredArea(c, back, tri, &flipped), 3.0, 1e-6);
  EXPECT_FALSE(flipped);

  // A comb: a bar of seven units and four unit teeth.
  RwPolygon* comb = polygonOf(c, {{0, 0}, {7, 0}, {7, 2}, {6, 2}, {6, 1}, {5, 1}, {5, 2}, {4, 2}, {4, 1},
                                  {3, 1}, {3, 2}, {2, 2}, {2, 1}, {1, 1}, {1, 2}, {0, 2}});
  rwTriangulate(c, comb, tri);
  EXPECT_NEAR(coveredArea(c, comb, tri, &flipped), 7.0 + 4.0, 1e-6);
  EXPECT_FALSE(flipped);
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

  // A 20000-corner star-ish (concave) polygon must come back quickly.
  std::vector<std::pair<float, float>> star;
  for (int i = 0; i < 20000; ++i) {
    double a = 2 * M_PI * i / 20000, r = (i & 1) ? 1.0 : 0.8;
    star.push_back({float(r * std::cos(a)), float(r * std::sin(a))});
  }
  RwPolygon* big = polygonOf(c, star);
  auto t0 = std::chrono::steady_clock::now();
  rwTriangulate(c, big, tri);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 500.0);
  EXPECT_EQ(tri.size(), 3u * (20000 - 2));
  // A 900-corner concave one still goes through ear clipping within budget.
  star.resize(0);
  for (int i = 0; i < 900; ++i) {
    double a = 2 * M_PI * i / 900, r = (i & 1) ? 1.0 : 0.5;
    star.push_back({float(r * std::cos(a)), float(r * std::sin(a))});
  }
  RwPolygon* mid = polygonOf(c, star);
  t0 = std::chrono::steady_clock::now();
  rwTriangulate(c, mid, tri);
  ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 500.0);
  double exact = 0.0;
  for (int i = 0; i < 900; ++i) {
    auto [x0, y0] = star[i];
    auto [x1, y1] = star[(i + 1) % 900];
    exact += 0.5 * (double(x0) * y1 - double(x1) * y0);
  }
  EXPECT_NEAR(coveredArea(c, mid, tri, &flipped), exact, 1e-3);
  EXPECT_FALSE(flipped);
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
