// Cameras: which way they look, how window points become rays, and the frame
// bracket on the "Null" device.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "rwlib/rwlib.h"

namespace {

void expectNear(RwV3d a, RwV3d b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

struct Cam {
  RwCamera* c = rwCreateCamera(200, 100, 0);
  ~Cam() { rwDestroyCamera(c); }
};

// What a getter of the camera's gives back.
RwV3d get(int (*getter)(const RwCamera*, RwV3d*), RwCamera* c) {
  RwV3d v{};
  getter(c, &v);
  return v;
}

TEST(RwCamera, TiltMoveAndLookDirections) {
  Cam cam;
  ASSERT_NE(cam.c, nullptr);
  expectNear(get(rwGetCameraLookAt, cam.c), {0, 0, 1});
  expectNear(get(rwGetCameraLookUp, cam.c), {0, 1, 0});
  rwTiltCamera(cam.c, 30);
  EXPECT_LT(get(rwGetCameraLookAt, cam.c).y, -0.4f);  // positive tilt looks down
  rwTiltCamera(cam.c, 60);
  expectNear(get(rwGetCameraLookAt, cam.c), {0, -1, 0});
  expectNear(get(rwGetCameraLookUp, cam.c), {0, 0, 1});
  // Moving forward goes along the look-at, wherever that points.
  rwSetCameraPosition(cam.c, 1, 2, 3);
  rwMoveCamera(cam.c, 0, 0, 5);
  expectNear(get(rwGetCameraPosition, cam.c), {1, -3, 3});
}

TEST(RwCamera, TransformTakesScaleOutAndCombines) {
  Cam cam;
  RwMatrix m;
  rwIdentityMatrix(&m);
  rwScaleMatrix(&m, 3, 3, 3, RW_REPLACE);
  rwRotateMatrix(&m, 0, 1, 0, 90, RW_POSTCONCAT);
  rwTranslateMatrix(&m, 0, 0, 10, RW_POSTCONCAT);
  ASSERT_TRUE(rwTransformCamera(cam.c, &m, RW_REPLACE));
  RwMatrix got;
  rwGetCameraMatrix(cam.c, &got);
  for (int r = 0; r < 3; ++r) {
    RwV3d row{got.m[r][0], got.m[r][1], got.m[r][2]};
    EXPECT_NEAR(rwLength(&row), 1.0f, 1e-5f);
  }
  expectNear(get(rwGetCameraLookAt, cam.c), {1, 0, 0});
  expectNear(get(rwGetCameraPosition, cam.c), {0, 0, 10});
  // Postconcat moves in the world frame, preconcat in the camera's own.
  rwTranslateMatrix(&m, 0, 0, 1, RW_REPLACE);
  rwTransformCamera(cam.c, &m, RW_POSTCONCAT);
  expectNear(get(rwGetCameraPosition, cam.c), {0, 0, 11});
  rwTransformCamera(cam.c, &m, RW_PRECONCAT);
  expectNear(get(rwGetCameraPosition, cam.c), {1, 0, 11});
  rwScaleMatrix(&m, 1, 1, 0, RW_REPLACE);
  EXPECT_FALSE(rwTransformCamera(cam.c, &m, RW_REPLACE));
}

TEST(RwCamera, RayMappingMatchesScreenSides) {
  Cam cam;
  rwSetCameraViewport(cam.c, 10, 20, 100, 50);
  rwSetCameraViewwindow(cam.c, 1.0f, 0.5f);
  RwV3d o, d;
  // The centre of an even viewport lies between pixels: look half a pixel off.
  ASSERT_TRUE(rwGetCameraRay(cam.c, 10 + 50, 20 + 25, &o, &d));
  expectNear(o, {0, 0, 0});
  EXPECT_NEAR(d.x, -0.01f, 1e-3f);
  EXPECT_GT(d.z, 0.999f);
  // Screen-left is the camera's +x, screen-top its +y.
  rwGetCameraRay(cam.c, 10, 20, &o, &d);
  EXPECT_GT(d.x, 0.0f);
  EXPECT_GT(d.y, 0.0f);
  EXPECT_NEAR(d.x / d.z, 1.0f - 1.0f / 100, 1e-4f);
  EXPECT_NEAR(d.y / d.z, 0.5f * (1.0f - 1.0f / 50), 1e-4f);

  // Parallel: rays all along the look-at, from the camera plane.
  rwSetCameraProjection(cam.c, RW_PARALLEL);
  rwSetCameraViewwindow(cam.c, 4.0f, 2.0f);
  rwGetCameraRay(cam.c, 10, 20 + 49, &o, &d);
  expectNear(d, {0, 0, 1});
  EXPECT_NEAR(o.x, 2.0f * (1 - 1.0f / 100), 1e-4f);
  EXPECT_NEAR(o.y, -1.0f * (1 - 1.0f / 50), 1e-4f);
  EXPECT_EQ(o.z, 0.0f);
}

TEST(RwCamera, RefusesBadSizesAndWindows) {
  EXPECT_EQ(rwCreateCamera(0, 10, 0), nullptr);
  EXPECT_EQ(rwCreateCamera(10, 100000, 0), nullptr);
  Cam cam;
  EXPECT_FALSE(rwSetCameraViewport(cam.c, 0, 0, 201, 10));
  EXPECT_FALSE(rwSetCameraViewport(cam.c, 0, 0, 10, 0));
  EXPECT_FALSE(rwSetCameraViewwindow(cam.c, 0.0f, 1.0f));
  EXPECT_FALSE(rwSetCameraViewwindow(cam.c, NAN, 1.0f));
  EXPECT_FALSE(rwSetCameraViewwindow(cam.c, INFINITY, 1.0f));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
  ASSERT_TRUE(rwSetCameraViewport(cam.c, 5, 5, 20, 10));
  RwImage* img = rwGetCameraImage(cam.c);
  EXPECT_TRUE(img->width == 20 && img->height == 10 && img->stride == 80);
}

// Steps that are each finite but add up past the largest float are
// refused: a camera at infinity would leave nothing drawable in the frame.
TEST(RwCamera, PlacementsThatOverflowAreRefused) {
  Cam cam;
  ASSERT_TRUE(rwMoveCamera(cam.c, 0, 0, 3e38f));
  EXPECT_FALSE(rwMoveCamera(cam.c, 0, 0, 3e38f));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
  EXPECT_EQ(get(rwGetCameraPosition, cam.c).z, 3e38f);
  RwMatrix far;
  rwIdentityMatrix(&far);
  rwTranslateMatrix(&far, 3e38f, 0, 0, RW_REPLACE);
  rwSetCameraPosition(cam.c, 3e38f, 0, 0);
  EXPECT_FALSE(rwTransformCamera(cam.c, &far, RW_POSTCONCAT));
  EXPECT_FALSE(rwTransformCamera(cam.c, &far, RW_PRECONCAT));
  EXPECT_EQ(get(rwGetCameraPosition, cam.c).x, 3e38f);
}

int gShown = 0;
int showCounting(RwDeviceContext* dc, const RwImage* image, int x, int y) {
  ++gShown;
  EXPECT_TRUE(x == 3 && y == 4 && image->width == 8 && dc->user == &gShown);
  return 1;
}

TEST(RwCamera, NullDeviceFrameClearsToBackColour) {
  Cam cam;
  RwScene* scene = rwCreateScene();
  EXPECT_FALSE(rwBeginCameraUpdate(cam.c, nullptr));
  EXPECT_EQ(rwGetError(), RW_E_NOTOPEN);
  EXPECT_FALSE(rwRenderScene(scene));
  EXPECT_FALSE(rwOpen("Vulkan"));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
  ASSERT_TRUE(rwOpen("Null"));
  int32_t info = -1;
  ASSERT_TRUE(rwGetDeviceInfo(RW_INFO_OVERLAY_DEVICE, &info, 4));
  EXPECT_EQ(info, 0);

  rwSetCameraViewport(cam.c, 3, 4, 8, 6);
  rwSetCameraBackColor(cam.c, 1.0f, 0.5f, 0.0f);
  EXPECT_FALSE(rwRenderScene(scene));  // outside an update
  EXPECT_EQ(rwGetError(), RW_E_STATE);
  ASSERT_TRUE(rwBeginCameraUpdate(cam.c, nullptr));
  EXPECT_FALSE(rwBeginCameraUpdate(cam.c, nullptr));
  ASSERT_TRUE(rwClearCameraViewport(cam.c));
  EXPECT_TRUE(rwRenderScene(scene));
  ASSERT_TRUE(rwEndCameraUpdate(cam.c));
  RwImage* img = rwGetCameraImage(cam.c);
  const uint8_t* last = img->pixels + (img->height - 1) * img->stride + (img->width - 1) * 4;
  EXPECT_EQ(std::vector<uint8_t>(last, last + 4), (std::vector<uint8_t>{255, 128, 0, 255}));

  RwDeviceContext dc{showCounting, &gShown};
  EXPECT_TRUE(rwShowCameraImage(cam.c, &dc));
  EXPECT_EQ(gShown, 1);
  EXPECT_TRUE(rwShowCameraImage(cam.c, nullptr));
  rwDestroyScene(scene);
  EXPECT_TRUE(rwClose());
  EXPECT_FALSE(rwClose());
}

}  // namespace
