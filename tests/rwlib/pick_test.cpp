// Picking: nearest hit, switched-off clumps, children of moved parents,
// misses, and the time a pick takes on a scene of realistic size.
#include <gtest/gtest.h>

#include <cmath>

#include "rwlib/rwpriv.h"

namespace {

// A 2x2 quad centred on (cx, cy) in the plane z, facing -z (the camera).
RwClump* quad(float cx, float cy, float z) {
  RwClump* c = rwCreateClump(4, 1);
  rwAddVertexToClump(c, cx - 1, cy - 1, z);
  rwAddVertexToClump(c, cx - 1, cy + 1, z);
  rwAddVertexToClump(c, cx + 1, cy + 1, z);
  rwAddVertexToClump(c, cx + 1, cy - 1, z);
  const int32_t idx[4] = {1, 2, 3, 4};
  rwAddPolygonToClump(c, 4, idx);
  return c;
}

struct RwPick : ::testing::Test {
  RwScene* scene = rwCreateScene();
  RwCamera* camera = rwCreateCamera(101, 101, 0);
  ~RwPick() override {
    rwDestroyScene(scene);
    rwDestroyCamera(camera);
  }
};

// A clump with instances is hit at its copies and nowhere else.
TEST_F(RwPick, CopiesAreHitWhereTheyStand) {
  RwClump* c = quad(0, 0, 10);
  const RwV3d aside = {4, 0, 0};
  ASSERT_TRUE(rwAddClumpInstances(c, 1, &aside));
  rwAddClumpToScene(scene, c);
  RwPickRecord hit;
  EXPECT_FALSE(rwPickScene(scene, 50, 50, camera, &hit));  // where the polygon itself lies
  const RwV3d nearer[2] = {{0, 0, -4}, {0, 0, 2}};
  ASSERT_TRUE(rwAddClumpInstances(c, 2, nearer));
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_EQ(hit.clump, c);
  EXPECT_TRUE(std::fabs(hit.distance - 6) < 1e-4f && std::fabs(hit.point.z - 6) < 1e-4f) << hit.distance;
}

TEST_F(RwPick, NearestWinsAndSwitchedOffClumpsAreSkipped) {
  RwClump* far = quad(0, 0, 10);
  RwClump* near = quad(0, 0, 5);
  rwAddClumpToScene(scene, far);
  rwAddClumpToScene(scene, near);
  RwPickRecord hit;
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_EQ(hit.clump, near);
  EXPECT_EQ(hit.polygon, &near->polygons[0]);
  EXPECT_TRUE(std::fabs(hit.distance - 5) < 1e-4f && std::fabs(hit.point.z - 5) < 1e-4f) << hit.distance;

  rwSetClumpState(near, RW_OFF);
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_EQ(hit.clump, far);

  // Off through an ancestor counts too.
  RwClump* holder = rwCreateClump(0, 0);
  rwAddClumpToScene(scene, holder);
  rwAddChildToClump(holder, far);
  rwSetClumpState(holder, RW_OFF);
  EXPECT_FALSE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_EQ(rwGetError(), RW_E_NONE);
  rwSetClumpState(holder, RW_ON);
  EXPECT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));

  // Outside both quads: a miss, not a failure.
  EXPECT_FALSE(rwPickScene(scene, 0, 0, camera, &hit));
  EXPECT_EQ(rwGetError(), RW_E_NONE);
  EXPECT_FALSE(rwPickScene(nullptr, 0, 0, camera, &hit));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
}

TEST_F(RwPick, BackFacesAndWireFramesPickAndGeometryChangesAreSeen) {
  RwClump* c = quad(0, 0, 4);
  rwFlipPolygon(&c->polygons[0]);
  rwSetPolygonGeometrySampling(&c->polygons[0], RW_WIREFRAME);
  rwAddClumpToScene(scene, c);
  RwPickRecord hit;
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_NEAR(hit.distance, 4.0f, 1e-4f);
  // A polygon added after the first pick is found by the next one.
  rwAddVertexToClump(c, -1, -1, 2);
  rwAddVertexToClump(c, 1, -1, 2);
  rwAddVertexToClump(c, 0, 1, 2);
  const int32_t tri[3] = {5, 6, 7};
  RwPolygon* front = rwAddPolygonToClump(c, 3, tri);
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_EQ(hit.polygon, front);
  EXPECT_NEAR(hit.distance, 2.0f, 1e-4f);
}

TEST_F(RwPick, ChildOfATransformedParentIsHitWhereItIsInTheWorld) {
  RwClump* parent = rwCreateClump(0, 0);
  RwClump* child = quad(0, 0, 0);  // in its own xy plane
  rwAddChildToClump(parent, child);
  rwAddClumpToScene(scene, parent);
  RwMatrix m;
  rwScaleMatrix(&m, 3, 3, 3, RW_REPLACE);
  rwTranslateMatrix(&m, 0, 0, 10, RW_POSTCONCAT);
  rwTransformClump(parent, &m, RW_REPLACE);
  // The child sits 1 unit to the camera's left (+x) before the parent's scale.
  rwTranslateMatrix(&m, 1, 0, 0, RW_REPLACE);
  rwTransformClump(child, &m, RW_REPLACE);
  // Its quad spans x in [0, 6] in the world; a ray through the screen's
  // left half at x = 3, z = 10 has direction x/z = 0.3.
  RwV3d o, d;
  int px = -1;
  for (int x = 0; x < 101; ++x) {
    rwGetCameraRay(camera, x, 50, &o, &d);
    if (std::fabs(d.x / d.z - 0.3f) < 0.01f) px = x;
  }
  ASSERT_GE(px, 0);
  RwPickRecord hit;
  ASSERT_TRUE(rwPickScene(scene, px, 50, camera, &hit));
  EXPECT_EQ(hit.clump, child);
  EXPECT_NEAR(hit.point.z, 10.0f, 1e-4f);
  EXPECT_NEAR(hit.point.x, 3.0f, 0.15f);
  EXPECT_NEAR(hit.distance, rwLength(&hit.point), 1e-4f);
  // The screen's right half sees nothing.
  EXPECT_FALSE(rwPickScene(scene, 100 - px, 50, camera, &hit));
}

// A chain of clumps far deeper than a call stack holds is picked through
// and destroyed whole.
TEST_F(RwPick, DeepChainsArePickedAndDestroyed) {
  RwClump* top = quad(0, 0, 7);
  RwMatrix step;
  rwTranslateMatrix(&step, 0, 0, 1e-5f, RW_REPLACE);
  for (int i = 0; i < 200000; ++i) {  // built from the bottom, so each add is cheap
    RwClump* above = rwCreateClump(0, 0);
    ASSERT_TRUE(rwAddChildToClump(above, top));
    rwTransformClump(above, &step, RW_REPLACE);
    top = above;
  }
  rwAddClumpToScene(scene, top);
  RwPickRecord hit;
  ASSERT_TRUE(rwPickScene(scene, 50, 50, camera, &hit));
  EXPECT_NEAR(hit.distance, 9.0f, 0.01f);
  EXPECT_TRUE(rwDestroyClump(top));
  EXPECT_EQ(rwGetSceneClumpCount(scene), 0);
}

// How fast it goes is bench_render's business; here the caches must give
// the same answers as the first, uncached pick.
TEST_F(RwPick, CachedPicksAgreeAcrossManyClumps) {
  // 400 clumps of 50 quads in a grid in front of the camera.
  for (int i = 0; i < 400; ++i) {
    RwClump* c = rwCreateClump(200, 50);
    float cx = float(i % 20) * 3 - 30, cy = float(i / 20) * 3 - 30;
    for (int k = 0; k < 50; ++k) {
      float z = 20.0f + k;
      int32_t a = rwAddVertexToClump(c, cx, cy, z), b = rwAddVertexToClump(c, cx + 2, cy, z);
      int32_t e = rwAddVertexToClump(c, cx + 2, cy + 2, z), f = rwAddVertexToClump(c, cx, cy + 2, z);
      const int32_t idx[4] = {a, b, e, f};
      rwAddPolygonToClump(c, 4, idx);
    }
    rwAddClumpToScene(scene, c);
  }
  rwSetCameraViewwindow(camera, 1.5f, 1.5f);
  RwPickRecord first, again;
  int hits = 0;
  for (int i = 0; i < 60; ++i) {
    int x = (i * 7) % 101, y = (i * 13) % 101;
    int a = rwPickScene(scene, x, y, camera, &first);  // builds the caches on the first round
    int b = rwPickScene(scene, x, y, camera, &again);
    ASSERT_EQ(a, b);
    if (!a) continue;
    ++hits;
    EXPECT_EQ(first.polygon, again.polygon);
    // Rays fan out and pass between the quads: the hit must be the first
    // layer that has a quad where the ray crosses it.
    RwV3d origin, dir;
    ASSERT_TRUE(rwGetCameraRay(camera, x, y, &origin, &dir));
    float expected = -1;
    for (int k = 0; k < 50 && expected < 0; ++k) {
      float z = 20.0f + k, t = (z - origin.z) / dir.z;
      float qx = origin.x + dir.x * t + 30, qy = origin.y + dir.y * t + 30;
      bool inGrid = qx >= 0 && qy >= 0 && qx <= 59 && qy <= 59;
      if (inGrid && std::fmod(qx, 3.0f) <= 2.0f && std::fmod(qy, 3.0f) <= 2.0f) expected = z;
    }
    EXPECT_NEAR(first.point.z, expected, 1e-3f) << "at " << x << "," << y;
  }
  EXPECT_GT(hits, 10);
}

}  // namespace
