// The GL side drawn headless: pixels of tiny scenes read back from the
// camera image. The camera sits at the origin looking along world +z, so
// screen-right is world -x; quads stand at z = 10.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "rwlib/rwpriv.h"

namespace {

constexpr int kW = 64, kH = 48;
using Pixel = std::array<int, 4>;

struct Quad {
  float x0, y0, x1, y1, z;
};

// A quad at depth z whose normal points back at the camera (world -z)
// unless `away`. Unlit unless a test adds lights: ambient 1, scene ambient 1.
RwPolygon* addQuad(RwClump* clump, Quad q, float r, float g, float b, bool away = false) {
  int32_t base = rwGetClumpVertexCount(clump);
  rwAddVertexToClump(clump, q.x0, q.y0, q.z);
  rwAddVertexToClump(clump, q.x0, q.y1, q.z);
  rwAddVertexToClump(clump, q.x1, q.y1, q.z);
  rwAddVertexToClump(clump, q.x1, q.y0, q.z);
  int32_t toward[4] = {base + 1, base + 2, base + 3, base + 4}, back[4] = {base + 4, base + 3, base + 2, base + 1};
  RwPolygon* p = rwAddPolygonToClump(clump, 4, away ? back : toward);
  EXPECT_NE(p, nullptr);
  rwSetPolygonSurface(p, 1, 0, 0);
  rwSetPolygonColor(p, r, g, b);
  return p;
}

void aim(RwLight* light, RwV3d v) { rwSetLightVector(light, &v); }

// Corner i + 1 of the clump's first quad takes uv[i].
void setUVs(RwClump* clump, const float (&uv)[4][2]) {
  for (int i = 0; i < 4; ++i) rwSetVertexUV(clump, i + 1, uv[i][0], uv[i][1]);
}

// Replaces the clump's transform by a scale and then a move along z.
void scaleClump(RwClump* clump, float x, float y, float z, float moveZ = 0) {
  RwMatrix* m = rwPushScratchMatrix();
  rwScaleMatrix(m, x, y, z, RW_REPLACE);
  rwTranslateMatrix(m, 0, 0, moveZ, RW_POSTCONCAT);
  rwTransformClump(clump, m, RW_REPLACE);
  rwPopScratchMatrix();
}

class RwGl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { open_ = rwOpen("EGL") != 0; }
  static void TearDownTestSuite() {
    if (open_) rwClose();
  }

  void SetUp() override {
    if (!open_) GTEST_SKIP() << "no GL context here";
    scene = rwCreateScene();
    camera = rwCreateCamera(kW, kH, 0);
    ASSERT_TRUE(scene && camera);
    rwSetCameraBackColor(camera, 0, 0, 1);
    rwSetSceneAmbient(scene, 1.0f);
  }
  void TearDown() override {
    if (camera) rwDestroyCamera(camera);
    if (scene) rwDestroyScene(scene);
  }

  RwClump* addClump(Quad q, float r, float g, float b, bool away = false) {
    RwClump* clump = rwCreateClump(4, 1);
    last = addQuad(clump, q, r, g, b, away);
    rwAddClumpToScene(scene, clump);
    return clump;
  }

  void render() {
    ASSERT_TRUE(rwBeginCameraUpdate(camera, nullptr));
    ASSERT_TRUE(rwClearCameraViewport(camera));
    ASSERT_TRUE(rwRenderScene(scene));
    ASSERT_TRUE(rwEndCameraUpdate(camera));
  }
  Pixel at(int x, int y) {
    RwImage* image = rwGetCameraImage(camera);
    const uint8_t* p = image->pixels + y * image->stride + x * 4;
    return {p[0], p[1], p[2], p[3]};
  }
  bool isBack(int x, int y) { return near(at(x, y), {0, 0, 255, 255}); }
  static bool near(Pixel a, Pixel b, int tolerance = 3) {
    for (int i = 0; i < 3; ++i)
      if (std::abs(a[i] - b[i]) > tolerance) return false;
    return true;
  }

  static bool open_;
  RwScene* scene = nullptr;
  RwCamera* camera = nullptr;
  RwPolygon* last = nullptr;
};

bool RwGl::open_ = false;

#define EXPECT_PIXEL_NEAR(x, y, r, g, b, tolerance)                                                  \
  EXPECT_TRUE(near(at(x, y), {r, g, b, 255}, tolerance)) << "at " << x << "," << y << ": " << at(x, y)[0] \
                                                         << " " << at(x, y)[1] << " " << at(x, y)[2]
#define EXPECT_PIXEL(x, y, r, g, b) EXPECT_PIXEL_NEAR(x, y, r, g, b, 3)

TEST_F(RwGl, ReportsRendererAndClearsToBackground) {
  EXPECT_STRNE(rwGetRendererName(), "");
  rwSetCameraBackColor(camera, 0.5f, 0.25f, 1.0f);
  render();
  RwImage* image = rwGetCameraImage(camera);
  ASSERT_TRUE(image->width == kW && image->height == kH && image->stride == kW * 4);
  EXPECT_PIXEL(0, 0, 128, 64, 255);
  EXPECT_PIXEL(kW - 1, kH - 1, 128, 64, 255);
}

// Screen-right is the camera's -x and the top row comes first.
TEST_F(RwGl, ScreenRightIsCameraMinusXAndTopRowFirst) {
  addClump({-3, 1, -1, 3, 10}, 1, 0, 0);  // right and up
  render();
  // x_ndc = 2 / 10 = 0.2, y_ndc = 2 / 10 / 0.75
  int x = int(kW * 0.6f), y = int(kH * (0.5f - 0.5f * 0.2f / 0.75f));
  EXPECT_PIXEL(x, y, 255, 0, 0);
  EXPECT_TRUE(isBack(kW - 1 - x, y));
  EXPECT_TRUE(isBack(x, kH - 1 - y));
  EXPECT_TRUE(isBack(kW / 2 - 2, kH / 2 + 2));
}

TEST_F(RwGl, ParallelViewWindowIsTheFullWidth) {
  rwSetCameraProjection(camera, RW_PARALLEL);
  rwSetCameraViewwindow(camera, 8, 6);
  addClump({-2.5f, -0.5f, -1.5f, 0.5f, 10}, 0, 1, 0);
  render();
  EXPECT_PIXEL(kW * 3 / 4, kH / 2, 0, 255, 0);  // x_ndc = 2 / 4
  EXPECT_TRUE(isBack(kW / 4, kH / 2));
}

// Every pixel centre a ray picks the quad through is drawn, and no other.
TEST_F(RwGl, PickingAgreesWithThePicture) {
  addClump({-2.3f, -1.7f, 1.9f, 2.1f, 10}, 1, 1, 0);
  render();
  int mismatches = 0, drawn = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      RwPickRecord hit;
      bool picked = rwPickScene(scene, x, y, camera, &hit) == 1;
      drawn += !isBack(x, y);
      if (picked == isBack(x, y)) ++mismatches;
    }
  }
  EXPECT_GT(drawn, 120);
  EXPECT_LE(mismatches, 2);
}

TEST_F(RwGl, FrontOnlyPolygonsHideTheirBacks) {
  addClump({0.5f, -1, 2.5f, 1, 10}, 1, 0, 0);  // screen left, facing us
  rwSetPolygonDrawMode(last, RW_DRAW_FRONT);
  addClump({-2.5f, -1, -0.5f, 1, 10}, 1, 0, 0, true);  // screen right, facing away
  rwSetPolygonDrawMode(last, RW_DRAW_FRONT);
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 255, 0, 0);
  EXPECT_TRUE(isBack(kW / 2 + 4, kH / 2));

  rwSetPolygonDrawMode(last, RW_DRAW_BOTH);
  render();
  EXPECT_PIXEL(kW / 2 + 4, kH / 2, 255, 0, 0);
}

// Lit = colour × (ambient × scene ambient + diffuse × n·l × light), clamped.
TEST_F(RwGl, DirectionalLightsLightTheFacesTheyReach) {
  rwSetSceneAmbient(scene, 0.2f);
  addClump({0.5f, -1, 2.5f, 1, 10}, 0.5f, 0.5f, 0.5f);
  RwPolygon* facing = last;
  rwSetPolygonSurface(facing, 1, 0.5f, 0);
  addClump({-2.5f, -1, -0.5f, 1, 10}, 0.5f, 0.5f, 0.5f, true);  // its back towards us
  rwSetPolygonSurface(last, 1, 0.5f, 0);
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 26, 26, 26);  // no lights: ambient only

  RwLight* light = rwCreateLight(RW_DIRECTIONAL, 0, 0, 1, 1.0f);  // travels away from us
  rwAddLightToScene(scene, light);
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 89, 89, 89);  // 0.5 × (0.2 + 0.5)
  // A two-sided polygon is lit on the side that faces us.
  EXPECT_PIXEL(kW / 2 + 4, kH / 2, 89, 89, 89);

  aim(light, {-1, 0, 0});  // grazing both quads
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 26, 26, 26);
  rwSetLightColor(light, 1, 0, 0);
  aim(light, {-1, 0, 1});  // n·l = 0.707, red only
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 71, 26, 26);
  rwSetLightState(light, RW_OFF);
  render();
  EXPECT_PIXEL(kW / 2 - 4, kH / 2, 26, 26, 26);

  // Head-on, a highlight adds up to the specular share of the light, on
  // either side.
  aim(light, {0, 0, 1});
  rwSetLightColor(light, 1, 1, 1);
  rwSetLightState(light, RW_ON);
  rwSetPolygonSurface(facing, 1, 0.5f, 0.5f);
  rwSetPolygonSurface(last, 1, 0.5f, 0.5f);
  render();
  for (int x : {kW / 2 - 4, kW / 2 + 4}) {
    EXPECT_GT(at(x, kH / 2)[0], 89 + 90) << x;
    EXPECT_LT(at(x, kH / 2)[0], 89 + 135) << x;
  }
}

// A mirroring transform keeps a polygon's front where its normal points,
// whether the clump is baked into the shared batch or drawn on its own.
TEST_F(RwGl, MirroredClumpsKeepTheirFronts) {
  RwClump* baked = addClump({-2.5f, -1, -0.5f, 1, 10}, 1, 0, 0);
  rwSetPolygonDrawMode(last, RW_DRAW_FRONT);
  RwClump* own = addClump({0.5f, -1, 2.5f, 1, 10}, 0, 1, 0);
  rwSetPolygonDrawMode(last, RW_DRAW_FRONT);
  rwRemoveHint(own, RW_HINT_BATCHED);
  scaleClump(own, -1, 1, 1);  // each to the other side of the screen
  scaleClump(baked, -1, 1, 1);
  for (int frame = 0; frame < 3; ++frame) {
    render();
    EXPECT_PIXEL(kW / 2 - 4, kH / 2, 255, 0, 0) << frame;
    EXPECT_PIXEL(kW / 2 + 4, kH / 2, 0, 255, 0) << frame;
  }
}

// Views that cannot be drawn fail the frame (the setters refuse them, so
// the record is set by hand); shapes flattened to nothing draw nothing.
TEST_F(RwGl, DegenerateViewsAndShapesFailCleanly) {
  scaleClump(addClump({-1, -1, 1, 1, 10}, 1, 0, 0), 1, 0, 1);
  render();
  EXPECT_TRUE(isBack(kW / 2, kH / 2));

  camera->ww = std::nanf("");
  ASSERT_TRUE(rwBeginCameraUpdate(camera, nullptr));
  ASSERT_TRUE(rwClearCameraViewport(camera));
  EXPECT_FALSE(rwRenderScene(scene));
  EXPECT_TRUE(rwEndCameraUpdate(camera));
  EXPECT_TRUE(isBack(kW / 2, kH / 2));
}

// A world's stray polygon out at 1e30 (or near the largest float) must not
// drag the clip planes past everything else in the frame.
TEST_F(RwGl, FarAwayGeometryLeavesTheNearSceneDrawn) {
  addClump({-1, -1, 1, 1, 10}, 1, 0, 0);
  RwClump* stray = addClump({-1e30f, -1e30f, 1e30f, 1e30f, 1e30f}, 0, 1, 0);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 0, 0);
  rwDestroyClump(stray);
  addClump({1, 1, 2, 2, 3e38f}, 0, 1, 0);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 0, 0);
}

// Whether a clump's transform is too flat to draw is judged alike by the
// picture and the pick, whatever its overall scale or its distance.
TEST_F(RwGl, TinyHugeAndThinClumpsAreDrawnAndPickedAlike) {
  struct Case {
    Quad quad;
    float scale[3];
    float z;
    bool seen;
  } cases[] = {
      {{-1e11f, -1e11f, 1e11f, 1e11f, 1e12f}, {1e-11f, 1e-11f, 1e-11f}, 0, true},
      {{-1e-13f, -1e-13f, 1e-13f, 1e-13f, 1e-12f}, {1e13f, 1e13f, 1e13f}, 0, true},
      {{-1e-13f, -1e-13f, 1e-13f, 1e-13f, 1e-12f}, {-1e13f, 1e13f, 1e13f}, 0, true},
      {{-1000, -1000, 1000, 1000, 0}, {1, 1, 1e-9f}, 5000, true},
      // Flattened to nothing along one axis: neither, even where the flat
      // shape would face the camera.
      {{-1, -1, 1, 1, 0}, {1, 1, 0}, 10, false},
      {{-1, -1, 1, 1, 10}, {0, 1, 1}, 0, false},
  };
  for (const Case& c : cases) {
    RwClump* clump = addClump(c.quad, 1, 0, 0);
    scaleClump(clump, c.scale[0], c.scale[1], c.scale[2], c.z);
    render();
    RwPickRecord hit;
    bool picked = rwPickScene(scene, kW / 2, kH / 2, camera, &hit) == 1;
    EXPECT_EQ(!isBack(kW / 2, kH / 2), c.seen) << c.scale[0] << " " << c.scale[2];
    EXPECT_EQ(picked, c.seen) << c.scale[0] << " " << c.scale[2];
    EXPECT_TRUE(!c.seen || at(kW / 2, kH / 2)[0] > 240) << c.scale[0];
    rwDestroyClump(clump);
  }
}

TEST_F(RwGl, PointAndSpotLightsReachWhatTheyFace) {
  rwSetSceneAmbient(scene, 0.0f);
  addClump({-1, -1, 1, 1, 10}, 1, 1, 1);
  rwSetPolygonSurface(last, 0, 1, 0);
  RwLight* spot = rwCreateLight(RW_SPOT, 0, 0, 0, 1.0f);
  rwAddLightToScene(scene, spot);
  aim(spot, {0, 0, 1});
  rwSetLightConeAngle(spot, 20);
  render();
  EXPECT_GT(at(kW / 2, kH / 2)[0], 240);
  aim(spot, {1, 0, 0});
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 0, 0, 0);

  RwLight* point = rwCreateLight(RW_POINT, 0, 0, 20, 1.0f);  // behind the quad
  rwAddLightToScene(scene, point);
  rwSetPolygonDrawMode(last, RW_DRAW_FRONT);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 0, 0, 0);
  const RwV3d front = {0, 0, 0};
  rwSetLightPosition(point, &front);
  render();
  EXPECT_GT(at(kW / 2, kH / 2)[0], 240);
}

// Vertex sampling follows the corners' normals; facet sampling ignores them.
TEST_F(RwGl, VertexSamplingShadesAcrossThePolygon) {
  rwSetSceneAmbient(scene, 0.0f);
  RwClump* clump = addClump({-2, -1, 2, 1, 10}, 1, 1, 1);
  rwSetPolygonSurface(last, 0, 1, 0);
  // Corners 1 and 2 are at world x = -2 (screen right): they face the light.
  for (int i = 1; i <= 4; ++i) rwSetVertexNormal(clump, i, i <= 2 ? 0 : 1, 0, i <= 2 ? -1 : 0);
  rwAddLightToScene(scene, rwCreateLight(RW_DIRECTIONAL, 0, 0, 1, 1.0f));
  render();
  EXPECT_NEAR(at(kW / 2 + 5, kH / 2)[0], at(kW / 2 - 5, kH / 2)[0], 3);
  rwSetPolygonLightSampling(last, RW_VERTEX);
  render();
  EXPECT_GT(at(kW / 2 + 5, kH / 2)[0], at(kW / 2 - 5, kH / 2)[0] + 40);
}

// Translucent polygons blend over whatever opaque polygon lies behind them,
// whichever was added first.
TEST_F(RwGl, OpacityBlendsAfterOpaqueGeometry) {
  addClump({-1, -1, 1, 1, 5}, 1, 0, 0);  // in front, added first
  rwSetPolygonOpacity(last, 0.5f);
  addClump({-4, -1, 0, 1, 10}, 0, 1, 0);  // behind, covering the screen-right half
  render();
  EXPECT_PIXEL(kW / 2 + 3, kH / 2, 128, 128, 0);
  EXPECT_PIXEL(kW / 2 - 3, kH / 2, 128, 0, 128);
}

// Overlapping translucent quads blend back to front whatever order they were
// built in, whether they share a clump, share the batch or not, and from
// either side: half red over (half green over blue) in front, and the other
// way round from behind.
TEST_F(RwGl, TranslucentPolygonsBlendBackToFront) {
  const Quad nearQuad = {-1, -1, 1, 1, 5}, farQuad = {-2, -2, 2, 2, 10};
  auto picture = [&](int layout, bool redFirst) {
    rwDestroyScene(scene);
    scene = rwCreateScene();
    RwClump* shared = layout == 0 ? rwCreateClump(8, 2) : nullptr;
    for (int i = 0; i < 2; ++i) {
      bool red = (i == 0) == redFirst;
      Quad q = red ? nearQuad : farQuad;
      if (shared) {
        last = addQuad(shared, q, red ? 1 : 0, red ? 0 : 1, 0);
      } else {
        RwClump* own = addClump(q, red ? 1 : 0, red ? 0 : 1, 0);
        if (layout == 2 && red) rwRemoveHint(own, RW_HINT_BATCHED);  // drawn from its own mesh
      }
      rwSetPolygonOpacity(last, 0.5f);
    }
    if (shared) rwAddClumpToScene(scene, shared);
    render();
    return at(kW / 2, kH / 2);
  };
  for (int layout = 0; layout < 3; ++layout) {
    for (bool redFirst : {true, false}) {
      Pixel p = picture(layout, redFirst);
      EXPECT_TRUE(near(p, {128, 64, 64, 255}, 4)) << "layout " << layout << " red first " << redFirst << ": "
                                                  << p[0] << " " << p[1] << " " << p[2];
    }
  }
  // From behind, the green quad is the near one. Nothing but the camera
  // changed, so the new order must come from the view alone.
  picture(2, true);
  RwMatrix* m = rwPushScratchMatrix();
  rwRotateMatrix(m, 0, 1, 0, 180, RW_REPLACE);
  rwTranslateMatrix(m, 0, 0, 15, RW_POSTCONCAT);
  rwTransformCamera(camera, m, RW_REPLACE);
  rwPopScratchMatrix();
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 64, 128, 64);
}

// Copies are drawn at their offsets, through the clump's own transform.
TEST_F(RwGl, InstancesDrawACopyAtEachOffset) {
  RwClump* c = addClump({-1, -1, 1, 1, 10}, 1, 0, 0);
  const RwV3d offsets[2] = {{2.5f, 0, 0}, {-2.5f, 0, 0}};
  ASSERT_TRUE(rwAddClumpInstances(c, 2, offsets));
  RwMatrix* m = rwPushScratchMatrix();
  rwTranslateMatrix(m, 0, 1, 0, RW_REPLACE);
  rwTransformClump(c, m, RW_REPLACE);
  rwPopScratchMatrix();
  render();
  // x = +-2.5 at z = 10 is +-0.25 of the half width; y = 1 is 0.1 / 0.75 up.
  int y = int(kH * (0.5f - 0.5f * 0.1f / 0.75f));
  EXPECT_PIXEL(kW / 2 - 8, y, 255, 0, 0);
  EXPECT_PIXEL(kW / 2 + 8, y, 255, 0, 0);
  EXPECT_TRUE(isBack(kW / 2, y));
}

TEST_F(RwGl, WireframeDrawsEdgesOnly) {
  addClump({-2, -2, 2, 2, 10}, 1, 1, 0);
  rwSetPolygonGeometrySampling(last, RW_WIREFRAME);
  render();
  EXPECT_TRUE(isBack(kW / 2, kH / 2));
  int edge = 0;
  for (int x = 0; x < kW; ++x) edge += !isBack(x, kH / 2);
  EXPECT_GE(edge, 2);
  EXPECT_LE(edge, 6);
}

// Clumps switch on and off frame by frame without their batch rebuilt,
// children go with their parents, and unbatched clumps alike.
TEST_F(RwGl, SwitchedOffClumpsAndTheirChildrenAreNotDrawn) {
  RwClump* left = addClump({1, -1, 3, 1, 10}, 1, 0, 0);
  RwClump* middle = addClump({-1, -1, 1, 1, 10}, 0, 1, 0);
  RwClump* right = addClump({-3, -1, -1, 1, 10}, 1, 1, 0);
  RwClump* child = rwCreateClump(4, 1);
  addQuad(child, {-1, 1.5f, 1, 2.5f, 10}, 1, 1, 1);
  rwAddChildToClump(middle, child);
  rwRemoveHint(right, RW_HINT_BATCHED);
  const int xl = kW / 2 - 7, xm = kW / 2, xr = kW / 2 + 6, ychild = kH / 2 - 6;
  for (int frame = 0; frame < 30; ++frame) {
    bool on = frame % 3 != 1;
    rwSetClumpState(middle, on ? RW_ON : RW_OFF);
    rwSetClumpState(right, frame % 2 ? RW_ON : RW_OFF);
    render();
    EXPECT_PIXEL(xl, kH / 2, 255, 0, 0);
    EXPECT_EQ(isBack(xm, kH / 2), !on) << frame;
    EXPECT_EQ(isBack(xm, ychild), !on) << frame;
    EXPECT_EQ(isBack(xr, kH / 2), frame % 2 == 0) << frame;
  }
  rwSetClumpState(left, RW_OFF);
  render();
  EXPECT_TRUE(isBack(xl, kH / 2));
}

// Moving or changing a clump after it was drawn shows in the next frame,
// through the frames where it leaves and rejoins the shared batch.
TEST_F(RwGl, ChangesShowInTheNextFrame) {
  RwClump* mover = addClump({-1, -1, 1, 1, 10}, 1, 0, 0);
  RwPolygon* moverPolygon = last;
  addClump({1.5f, 1.5f, 2.5f, 2.5f, 10}, 0, 1, 0);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 0, 0);
  RwMatrix* m = rwPushScratchMatrix();
  const int nearX = kW / 2 + 6, farX = kW / 2 + 13;  // moved 2 or 4 to world -x
  for (int frame = 0; frame < 25; ++frame) {
    bool far = frame % 2;
    rwTranslateMatrix(m, far ? -4 : -2, 0, 0, RW_REPLACE);
    rwTransformClump(mover, m, RW_REPLACE);
    render();
    EXPECT_FALSE(isBack(far ? farX : nearX, kH / 2)) << frame;
    EXPECT_TRUE(isBack(far ? nearX : farX, kH / 2)) << frame;
    EXPECT_PIXEL(kW / 2 - 6, kH / 2 - 6, 0, 255, 0) << frame;
  }
  rwPopScratchMatrix();

  RwClump* still = addClump({1, -2.5f, 3, -1.5f, 10}, 1, 1, 1);
  RwPolygon* stillPolygon = last;
  for (int frame = 0; frame < 40; ++frame) {
    float shade = (frame / 7) % 2 ? 0.25f : 0.75f;
    if (frame % 7 == 0) {
      rwSetPolygonColor(stillPolygon, shade, shade, shade);
      rwSetPolygonColor(moverPolygon, 0, 0, shade);
    }
    render();
    int v = int(shade * 255.0f + 0.5f);
    EXPECT_PIXEL(kW / 2 - 6, kH / 2 + 6, v, v, v) << frame;
    EXPECT_PIXEL(nearX, kH / 2, 0, 0, v) << frame;
    EXPECT_PIXEL(kW / 2 - 6, kH / 2 - 6, 0, 255, 0) << frame;
  }
  rwDestroyClump(still);
  render();
  EXPECT_TRUE(isBack(kW / 2 - 6, kH / 2 + 6));
}

// A frame looks only at the touched clumps and their subtrees: a parent
// moved or switched off carries its batched child with it, a clump moved out
// of view and back with the camera still shows, and a frame with too many
// touched clumps to list still shows every change.
TEST_F(RwGl, FramesFollowTouchedClumpsAndTheirSubtrees) {
  RwClump* parent = rwCreateClump(0, 0);
  RwClump* child = rwCreateClump(4, 1);
  RwPolygon* childPolygon = addQuad(child, {-1, -1, 1, 1, 10}, 1, 0, 0);
  rwAddChildToClump(parent, child);
  rwAddClumpToScene(scene, parent);
  std::vector<RwPolygon*> far;
  for (int i = 0; i < 5000; ++i) {  // out of view, above the camera
    addClump({-1, 40, 1, 42, 10}, 1, 1, 1);
    far.push_back(last);
  }
  for (int i = 0; i < 12; ++i) render();  // settled into the shared mesh
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 0, 0);
  RwMatrix* m = rwPushScratchMatrix();
  const int nearX = kW / 2 + 6;  // two units to world -x
  rwTranslateMatrix(m, -2, 0, 0, RW_REPLACE);
  rwTransformClump(parent, m, RW_REPLACE);
  render();
  EXPECT_TRUE(isBack(kW / 2 - 3, kH / 2));
  EXPECT_PIXEL(nearX, kH / 2, 255, 0, 0);
  rwSetClumpState(parent, RW_OFF);
  rwSetPolygonColor(childPolygon, 0, 1, 0);
  render();
  EXPECT_TRUE(isBack(nearX, kH / 2));
  rwSetClumpState(parent, RW_ON);
  render();
  EXPECT_PIXEL(nearX, kH / 2, 0, 255, 0);
  rwTranslateMatrix(m, 0, 100, 0, RW_REPLACE);  // out of view
  rwTransformClump(parent, m, RW_REPLACE);
  render();
  EXPECT_TRUE(isBack(kW / 2, kH / 2));
  rwTranslateMatrix(m, 0, 0, 0, RW_REPLACE);  // and back
  rwTransformClump(parent, m, RW_REPLACE);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 0, 255, 0);
  rwPopScratchMatrix();
  for (RwPolygon* p : far) rwSetPolygonColor(p, 0, 0, 0);
  rwSetPolygonColor(childPolygon, 1, 1, 0);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 255, 0);
}

RwRaster* quadrants(int size, std::array<uint8_t, 4> tl, std::array<uint8_t, 4> tr,
                    std::array<uint8_t, 4> bl, std::array<uint8_t, 4> br) {
  std::vector<uint8_t> rgba;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const auto& c = y < size / 2 ? (x < size / 2 ? tl : tr) : (x < size / 2 ? bl : br);
      rgba.insert(rgba.end(), c.begin(), c.end());
    }
  return rwCreateRaster(size, size, rgba.data());
}

// v = 0 is the raster's top row; per-corner coordinates beat the vertices'.
TEST_F(RwGl, TexturesShowTheTopLeftTexelAtUVZero) {
  RwRaster* raster = quadrants(8, {255, 0, 0, 255}, {0, 255, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255});
  RwTexture* texture = rwCreateNamedTexture("gl-quadrants", raster);
  rwDestroyRaster(raster);
  ASSERT_NE(texture, nullptr);
  RwClump* clump = addClump({0.5f, -2, 4.5f, 2, 10}, 1, 1, 1);
  rwSetPolygonTexture(last, texture);
  // Corners 1..4 sit at the screen's bottom-right, top-right, top-left and
  // bottom-left; (0,0) goes top-left.
  setUVs(clump, {{1, 1}, {1, 0}, {0, 0}, {0, 1}});
  render();
  const int left = 21, right = 27, top = 21, bottom = 27;
  EXPECT_PIXEL(left, top, 255, 0, 0);
  EXPECT_PIXEL(right, top, 0, 255, 0);
  EXPECT_PIXEL(left, bottom, 255, 255, 255);
  EXPECT_PIXEL(right, bottom, 0, 0, 0);

  const float turned[8] = {0, 0, 0, 1, 1, 1, 1, 0};  // half a turn
  rwSetPolygonUV(last, 4, turned);
  rwSetPolygonColor(last, 1, 1, 0);  // the polygon colour tints the texels
  render();
  EXPECT_PIXEL(left, top, 0, 0, 0);
  EXPECT_PIXEL(right, top, 255, 255, 0);
  EXPECT_PIXEL(right, bottom, 255, 0, 0);
  rwDestroyTexture(texture);
}

// Far away, a fine checkerboard shows its average: every mipmap level is
// there (a texture missing one samples black) and averages the one above.
TEST_F(RwGl, MinifiedTexturesShowTheirAverage) {
  std::vector<uint8_t> rgba;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t v = (x + y) % 2 ? 255 : 0;
      rgba.insert(rgba.end(), {v, v, v, 255});
    }
  RwRaster* raster = rwCreateRaster(64, 64, rgba.data());
  RwTexture* texture = rwCreateNamedTexture("gl-checker", raster);
  rwDestroyRaster(raster);
  ASSERT_NE(texture, nullptr);
  RwClump* clump = addClump({-1, -1, 1, 1, 10}, 1, 1, 1);
  rwSetPolygonTexture(last, texture);
  setUVs(clump, {{1, 1}, {1, 0}, {0, 0}, {0, 1}});
  render();
  EXPECT_PIXEL_NEAR(kW / 2, kH / 2, 128, 128, 128, 12);
  rwDestroyTexture(texture);
}

// A mask's brightness becomes opacity; only the current movie frame shows.
TEST_F(RwGl, MasksAndMovieFrames) {
  RwRaster* strip = quadrants(8, {255, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 255, 0, 255});
  RwTexture* texture = rwCreateNamedTexture("gl-strip", strip);
  rwDestroyRaster(strip);
  ASSERT_NE(texture, nullptr);
  ASSERT_TRUE(rwSetTextureFrameSize(texture, 8, 4));
  ASSERT_EQ(rwGetTextureFrameCount(texture), 2);
  RwClump* clump = addClump({-2, -2, 2, 2, 10}, 1, 1, 1);
  rwSetPolygonTexture(last, texture);
  setUVs(clump, {{0, 1}, {0, 0}, {1, 0}, {1, 1}});
  render();
  EXPECT_PIXEL(kW / 2, kH / 2 + 4, 255, 0, 0);  // the first frame fills the quad
  EXPECT_PIXEL(kW / 2, kH / 2 - 4, 255, 0, 0);
  rwTextureNextFrame(texture);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2 - 4, 0, 255, 0);

  RwRaster* mask = quadrants(8, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255});
  ASSERT_TRUE(rwSetTextureMask(texture, mask));
  rwDestroyRaster(mask);
  render();
  EXPECT_PIXEL(kW / 2 + 4, kH / 2, 0, 255, 0);  // screen-right is u < 0.5: white mask
  EXPECT_TRUE(isBack(kW / 2 - 4, kH / 2));
  rwDestroyTexture(texture);
}

// The backdrop is copied 1:1 from its offset, wrapping round horizontally.
TEST_F(RwGl, BackdropOffsetShiftsAndWraps) {
  constexpr int kRW = 10, kRH = 100;
  std::vector<uint8_t> rgba;
  for (int y = 0; y < kRH; ++y)
    for (int x = 0; x < kRW; ++x) rgba.insert(rgba.end(), {uint8_t(x * 20), uint8_t(y * 2), 7, 255});
  RwRaster* raster = rwCreateRaster(kRW, kRH, rgba.data());
  rwSetCameraBackdrop(camera, raster);
  rwDestroyRaster(raster);
  rwSetCameraBackdropViewportRect(camera, 0, 0, 0, 0);
  rwSetCameraBackdropOffset(camera, 3, 5);
  render();
  for (int x : {0, 1, 6, 7, 20, 63})
    for (int y : {0, 3, 47}) EXPECT_PIXEL(x, y, (x + 3) % kRW * 20, (y + 5) * 2, 7);

  // Inside a rect, texel (offset) lands on the rect's corner; above the
  // raster's first row nothing is drawn.
  rwSetCameraBackdropViewportRect(camera, 8, 4, 20, 30);
  rwSetCameraBackdropOffset(camera, -1, -2);
  render();
  EXPECT_PIXEL(8, 6, 9 * 20, 0, 7);
  EXPECT_PIXEL(27, 33, (27 - 8 - 1 + kRW) % kRW * 20, (33 - 4 - 2) * 2, 7);
  for (auto [x, y] : {std::pair{8, 5}, {7, 10}, {28, 10}, {10, 34}}) EXPECT_TRUE(isBack(x, y)) << x << "," << y;
}

// Records the GL side hung on clumps, scenes and cameras go with them and
// with the context; the next context starts afresh.
TEST_F(RwGl, ObjectsOutliveTheContextAndViewportsResize) {
  RwClump* clump = addClump({-1, -1, 1, 1, 10}, 1, 0, 0);
  RwClump* child = rwCreateClump(4, 1);
  addQuad(child, {-1, 1.5f, 1, 2.5f, 10}, 1, 1, 1);
  rwAddChildToClump(clump, child);
  render();
  rwRemoveClumpFromScene(clump);
  render();
  EXPECT_TRUE(isBack(kW / 2, kH / 2));
  rwAddClumpToScene(scene, clump);
  render();
  EXPECT_PIXEL(kW / 2, kH / 2, 255, 0, 0);

  RwScene* other = rwCreateScene();
  rwAddClumpToScene(other, clump);  // moves it
  render();
  EXPECT_TRUE(isBack(kW / 2, kH / 2));
  rwDestroyScene(other);

  addClump({-1, -1, 1, 1, 10}, 0, 1, 0);
  render();
  rwClose();
  ASSERT_TRUE(rwOpen("EGL"));
  ASSERT_TRUE(rwSetCameraViewport(camera, 0, 0, kW / 2, kH / 2));
  render();
  EXPECT_EQ(rwGetCameraImage(camera)->width, kW / 2);
  EXPECT_EQ(rwGetCameraImage(camera)->height, kH / 2);
  EXPECT_PIXEL(kW / 4, kH / 4, 0, 255, 0);
}

// Opens the device in the background, with a scene and a camera set up as
// the fixture's.
void openInBackground(RwScene** scene, RwCamera** camera) {
  ASSERT_TRUE(rwOpenInBackground("EGL"));
  *scene = rwCreateScene();
  *camera = rwCreateCamera(kW, kH, 0);
  ASSERT_TRUE(*scene && *camera);
  rwSetCameraBackColor(*camera, 0, 0, 1);
  rwSetSceneAmbient(*scene, 1.0f);
}

// The device comes up on its own thread while a scene is made and laid
// out; drawing waits for it and shows the scene as a plain open would, with
// what changed after the layout.
TEST(RwGlBackground, AScenePreparedWhileTheDeviceComesUpIsDrawnAsItIsNow) {
  for (bool recolour : {false, true}) {
    RwScene* scene;
    RwCamera* camera;
    ASSERT_NO_FATAL_FAILURE(openInBackground(&scene, &camera));
    RwClump* clump = rwCreateClump(4, 1);
    rwAddHint(clump, RW_HINT_BATCHED);  // so that it is laid out ahead
    RwPolygon* polygon = addQuad(clump, {-2, -2, 2, 2, 10}, 1, 0, 0);
    rwAddClumpToScene(scene, clump);
    EXPECT_TRUE(rwPrepareScene(scene));
    if (recolour) rwSetPolygonColor(polygon, 0, 1, 0);
    bool drawn = rwBeginCameraUpdate(camera, nullptr) && rwClearCameraViewport(camera) && rwRenderScene(scene) &&
                 rwEndCameraUpdate(camera);
    if (!drawn) {
      EXPECT_FALSE(rwWaitDevice());  // the one reason a frame may fail here
    } else {
      EXPECT_TRUE(rwWaitDevice());
      RwImage* image = rwGetCameraImage(camera);
      const uint8_t* centre = image->pixels + (kH / 2) * image->stride + (kW / 2) * 4;
      const uint8_t* corner = image->pixels;
      int r = recolour ? 0 : 255, g = recolour ? 255 : 0;
      EXPECT_TRUE(std::abs(centre[0] - r) < 15 && std::abs(centre[1] - g) < 15 && centre[2] < 15)
          << int(centre[0]) << " " << int(centre[1]) << " " << int(centre[2]);
      EXPECT_TRUE(corner[0] < 15 && corner[2] > 240);
    }
    rwDestroyCamera(camera);
    rwDestroyScene(scene);
    EXPECT_TRUE(rwClose());
  }

  // Closing before anything waited neither hangs nor leaves the library open.
  ASSERT_TRUE(rwOpenInBackground("EGL"));
  EXPECT_TRUE(rwClose());
  EXPECT_FALSE(rwWaitDevice());
  EXPECT_EQ(rwGetError(), RW_E_NOTOPEN);
}

// A change after the layout made ahead, or between two of them, leaves the
// frame drawing everything where it is now: the batched clump that moved
// off its laid-out place, and the unbatched one only the layout's walk saw.
TEST(RwGlBackground, ChangesAfterALayoutAheadAreDrawn) {
  if (!rwOpen("EGL")) GTEST_SKIP() << "no GL context here";
  rwClose();
  for (bool again : {false, true}) {
    RwScene* scene;
    RwCamera* camera;
    ASSERT_NO_FATAL_FAILURE(openInBackground(&scene, &camera));
    auto quad = [&](float x, float r, float g) {
      RwClump* clump = rwCreateClump(4, 1);
      addQuad(clump, {x - 1, -1, x + 1, 1, 10}, r, g, 0);
      rwAddClumpToScene(scene, clump);
      return clump;
    };
    RwClump* mover = quad(3, 1, 0);                 // screen left, batched
    rwRemoveHint(quad(-3, 0, 1), RW_HINT_BATCHED);  // screen right, on its own
    rwPrepareScene(scene);
    RwMatrix up;
    rwTranslateMatrix(&up, 0, 3, 0, RW_REPLACE);
    rwTransformClump(mover, &up, RW_REPLACE);
    if (again) rwPrepareScene(scene);
    ASSERT_TRUE(rwBeginCameraUpdate(camera, nullptr) && rwClearCameraViewport(camera) && rwRenderScene(scene) &&
                rwEndCameraUpdate(camera));
    RwImage* image = rwGetCameraImage(camera);
    auto rgb = [&](int x, int y) {
      const uint8_t* p = image->pixels + y * image->stride + x * 4;
      return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(rgb(41, 24), (std::array<int, 3>{0, 255, 0})) << "again " << again;  // the unbatched one
    EXPECT_EQ(rgb(22, 14), (std::array<int, 3>{255, 0, 0})) << "again " << again;  // the mover, moved
    EXPECT_EQ(rgb(22, 24), (std::array<int, 3>{0, 0, 255})) << "again " << again;  // not where it was
    rwDestroyCamera(camera);
    rwDestroyScene(scene);
    EXPECT_TRUE(rwClose());
  }
}

}  // namespace
