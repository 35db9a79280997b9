// Materials, textures and the pending-texture queue; and frames drawn on the
// software rasteriser.
#include <cmath>
#include <cstring>

#include "tests/render/rendertest.h"

namespace {

TEST_F(RenderTest, MaterialFromTheLeafMaterial) {
  ZvSFColor ambient[2] = {{0.2f, 0.2f, 0.2f}, {0, 0, 0}};
  ZvSFColor diffuse[2] = {{1, 0, 0}, {0, 0.5f, 0.25f}};
  ZvSFColor black = {0, 0, 0};
  float transparency[1] = {0.25f};
  ZvMaterial m{};
  m.ambient = {2, ambient};
  m.diffuse = {2, diffuse};
  m.specular = {1, &black};
  m.emissive = {1, &black};
  m.transparency = {1, transparency};
  ZvRenderMaterial out{};
  EXPECT_EQ(zvRwCalcMaterial(&out, &m, 0), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("max element number of material attributes is set to zero"));
  m.maxElement = 2;
  // Index 5 of two elements is element 1: colour scaled so its largest part is 1.
  ASSERT_EQ(zvRwCalcMaterial(&out, &m, 5), ZV_OK);
  EXPECT_FLOAT_EQ(out.color[0], 0);
  EXPECT_FLOAT_EQ(out.color[1], 1);
  EXPECT_FLOAT_EQ(out.color[2], 0.5f);
  EXPECT_FLOAT_EQ(out.diffuse, 0.75f * 0.25f);
  EXPECT_FLOAT_EQ(out.opacity, 0.75f);  // the last transparency
  ASSERT_EQ(zvRwCalcMaterial(&out, &m, 0), ZV_OK);
  EXPECT_FLOAT_EQ(out.ambient, 0.6f * 0.25f);
  EXPECT_FLOAT_EQ(out.color[0], 1);
  EXPECT_NEAR(out.color[1], 0.2f / 1.2f, 1e-6);
  // All black: no division, a black colour.
  ZvSFColor none[1] = {{0, 0, 0}};
  m.ambient = m.diffuse = {1, none};
  ASSERT_EQ(zvRwCalcMaterial(&out, &m, 1), ZV_OK);
  EXPECT_EQ(out.color[0] + out.color[1] + out.color[2], 0.0f);
  // The mean of two entries.
  m.diffuse = {2, diffuse};
  ASSERT_EQ(zvRwCalcMeanMaterial(&out, &m, 0, 2), ZV_OK);
  EXPECT_FLOAT_EQ(out.diffuse, (1.0f + 0.75f) / 2 * 0.25f);
  EXPECT_EQ(zvRwCalcMeanMaterial(&out, &m, 0, 0), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("the number of vertex is zero"));
}

TEST_F(RenderTest, TexturizeLimitsTheRepeats) {
  RwClump* c = rwCreateClump(4, 1);
  ASSERT_NE(c, nullptr);
  for (int i = 0; i < 4; ++i) rwAddVertexToClump(c, float(i & 1), float(i >> 1), 0);
  const int32_t corners[4] = {1, 2, 4, 3};
  RwPolygon* p = rwAddPolygonToClump(c, 4, corners);
  ASSERT_NE(p, nullptr);
  ZvSFVec2f wide[4] = {{-0.5f, 0}, {31.2f, 0}, {31.2f, 1}, {-0.5f, 1}};
  EXPECT_EQ(zvRwTexturizePolygon(p, 4, wide), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRwTexturizePolygon : It is impossible to mapping texture for u range."));
  ZvSFVec2f fits[4] = {{0, 0}, {32, 0}, {32, 1}, {0, 1}};
  EXPECT_EQ(zvRwTexturizePolygon(p, 4, fits), ZV_OK);
  ZvSFVec2f tall[4] = {{0, -1}, {1, -1}, {1, 40}, {0, 40}};
  EXPECT_EQ(zvRwTexturizePolygon(p, 4, tall), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("for v range."));
  ZvSFVec2f nan[4] = {{NAN, 0}, {1, 0}, {1, 1}, {0, 1}};
  EXPECT_EQ(zvRwTexturizePolygon(p, 4, nan), ZV_FAIL);
  rwDestroyClump(c);
}

TEST_F(RenderTest, PendingTexturesQueueAndLoad) {
  writeBmp(dir / "tex.bmp", 4, 4, 255, 0, 0);
  zvVFresetPendingTextures();
  ASSERT_READ("Texture2 { filename \"tex.bmp\" } DEF S Sphere { } DEF C Cube { }");
  ASSERT_EQ(zvVFpendingTextureCount(), 2);
  // The objects outlive the structure here, but not the world's deletion:
  // nothing may be left queued to texture them later.
  ASSERT_EQ(zvRenderDestroyWorldInViewer(world), ZV_OK);
  EXPECT_EQ(zvVFpendingTextureCount(), 0);
  ASSERT_EQ(zvRenderConstructWorldInViewer(world), ZV_OK) << sink.dump();
  EXPECT_EQ(zvVFpendingTextureCount(), 2);  // queued again, once each
  RwClump* sphere = clumpOf(named("S"));
  auto firstPolygon = [](RwClump* c) {
    RwPolygon* found = nullptr;
    rwForAllPolygonsInClump(
        c, [](RwPolygon* p, void* out) { return *static_cast<RwPolygon**>(out) = p, 0; }, &found);
    return found;
  };
  EXPECT_EQ(rwGetPolygonTexture(firstPolygon(sphere)), nullptr);
  ASSERT_EQ(zvVFloadAllPendingTextures(), ZV_OK) << sink.dump();
  EXPECT_EQ(zvVFpendingTextureCount(), 0);
  RwTexture* t = rwGetPolygonTexture(firstPolygon(sphere));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(rwGetPolygonTexture(static_cast<RwPolygon*>(named("C")->leaf->rendering)), t);
  const char* local = static_cast<ZvShape*>(named("S")->leaf)->texture.texture->local_filename;
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(rwFindNamedTexture(local), t);
  // Destroying a textured object unregisters its texture.
  ASSERT_EQ(zvDeleteZvObj(named("S")), ZV_OK);
  EXPECT_EQ(rwFindNamedTexture(local), nullptr);
  // The queue is bounded, and a destroyed object leaves it.
  zvVFresetPendingTextures();
  ZvObj* c = named("C");
  for (int i = 0; i < ZV_PENDING_TEXTURES; ++i) ASSERT_EQ(zvVFaddPendingTextures(c), ZV_OK);
  EXPECT_EQ(zvVFaddPendingTextures(c), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("cannot add pending textures"));
  ASSERT_EQ(zvDeleteZvObj(c), ZV_OK);
  EXPECT_EQ(zvVFpendingTextureCount(), 0);
}

TEST_F(RenderTest, MissingTextureFileDrawsUntextured) {
  ASSERT_READ("Texture2 { filename \"missing.bmp\" } DEF S Sphere { }");
  EXPECT_EQ(sink.count(ZV_DEBUG_ERROR), 0) << sink.dump();
}

TEST_F(RenderTest, FaceDefaultCoordinatesAndTransformApplyOnce) {
  writeBmp(dir / "tex.bmp", 2, 2, 0, 255, 0);
  ASSERT_READ("Texture2 { filename \"tex.bmp\" }\n"
              "DEF F Separator { Coordinate3 { point [0 0 0, 4 0 0, 4 2 0, 0 2 0] }\n"
              "  TextureCoordinate2 { point [0 0] } IndexedFaceSet { coordIndex [0, 1, 2, 3] textureCoordIndex [0, 0, 0, 0] } }");
  auto* face = static_cast<ZvFace*>(leafObj(named("F"))->leaf);
  ASSERT_EQ(face->texture.uvCount, 4);
  // All (0, 0): the default runs u along x (the longest) and v along y,
  // v scaled by 2 / 4.
  EXPECT_FLOAT_EQ(face->texture.uv[1].x, 1.0f);
  EXPECT_FLOAT_EQ(face->texture.uv[2].y, 0.5f);
  EXPECT_NE(rwGetPolygonTexture(static_cast<RwPolygon*>(face->rendering)), nullptr);
  // A transform is baked into the coordinates once and then forgotten.
  float shift[6] = {1, 0, 0, 1, 0.5f, 0};
  std::memcpy(face->texture.transform, shift, sizeof shift);
  ASSERT_EQ(zvRwSetFaceTexture(face), ZV_OK);
  EXPECT_FLOAT_EQ(face->texture.uv[1].x, 1.5f);
  EXPECT_FLOAT_EQ(face->texture.transform[4], 0.0f);
  ASSERT_EQ(zvRwSetFaceTexture(face), ZV_OK);
  EXPECT_FLOAT_EQ(face->texture.uv[1].x, 1.5f);
  // Coordinates that disagree with the vertices cannot take the default.
  for (int i = 0; i < 4; ++i) face->texture.uv[i] = {0, 0};
  face->texture.uvCount = 3;
  EXPECT_EQ(zvRwSetFaceTexture(face), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRwSetFaceTexture : cannot set default UV."));
  face->texture.uvCount = 4;
}

TEST_F(RenderTest, BackdropRasterOfTheWorldAndOfCameras) {
  writeBmp(dir / "sky.bmp", 16, 8, 0, 0, 255);
  ASSERT_READ("DEF BackgroundImage Info { string \"sky.bmp\" }\nDEF P PerspectiveCamera { }");
  RwRaster* sky = rs()->backdrop;
  ASSERT_NE(sky, nullptr);
  EXPECT_EQ(rwGetRasterHeight(sky), 8);
  EXPECT_EQ(rs()->renderingEnabled, 1);
  // A camera of the world reads a raster of its own.
  auto* camera = static_cast<RwCamera*>(named("P")->leaf->rendering);
  RwRaster* own = rwGetCameraBackdrop(camera);
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, sky);
  // Resuming again keeps the raster already read from the same image.
  ASSERT_EQ(zvRenderSuspend(world), ZV_OK);
  EXPECT_EQ(rs()->renderingEnabled, 0);
  ASSERT_EQ(zvRenderResume(world), ZV_OK);
  EXPECT_EQ(rs()->backdrop, sky);
  // Each frame puts the world's backdrop on the camera it draws through.
  ASSERT_EQ(zvRenderShowWorld(world), ZV_OK) << sink.dump();
  EXPECT_EQ(rwGetCameraBackdrop(rs()->defaultCamera), sky);
  ASSERT_EQ(zvSetCameraAttribute(named("P"), zvCameraAttrBackgroundTexture, nullptr), ZV_OK);
  EXPECT_EQ(rwGetCameraBackdrop(camera), nullptr);
  EXPECT_EQ(world->backgroundTexture, nullptr);
  ASSERT_EQ(zvRenderShowWorld(world), ZV_OK);
  EXPECT_EQ(rwGetCameraBackdrop(rs()->defaultCamera), nullptr);
}

// Frames on Mesa's software rasteriser; skipped where no EGL can be had.
class RenderFrameTest : public RenderTest {
 protected:
  const char* device() override { return "EGL"; }
  void SetUp() override {
    if (!rwOpen("EGL")) GTEST_SKIP() << "no EGL here";
    rwClose();
    RenderTest::SetUp();
  }
};

int painted = 0;

TEST_F(RenderFrameTest, DrawsTheWorldThroughItsCamera) {
  ASSERT_READ("DEF BackgroundColor Info { string \"0 0 1\" }\n"
              "DirectionalLight { direction 0 0 1 }\n"
              "Material { diffuseColor 1 1 1 } Cube { width 4 height 4 depth 4 }");
  ASSERT_EQ(zvRenderSetCameraViewport(world, 0, 0, 64, 48), ZV_OK);
  painted = 0;
  zvRenderSetOverlayPainter([](ZvWorld*, RwImage* image) { painted += image != nullptr; });
  int32_t overlayDevice = -1;
  rwGetDeviceInfo(RW_INFO_OVERLAY_DEVICE, &overlayDevice, sizeof overlayDevice);
  ASSERT_EQ(zvRenderShowWorld(world), ZV_OK) << sink.dump();
  zvRenderSetOverlayPainter(nullptr);
  EXPECT_EQ(painted, overlayDevice == 0 ? 1 : 0);
  RwImage* image = rwGetCameraImage(rs()->defaultCamera);
  ASSERT_NE(image, nullptr);
  ASSERT_GE(image->width, 64);
  auto pixel = [&](int x, int y) { return image->pixels + size_t(y) * size_t(image->stride) + size_t(x) * 4; };
  // The cube's lit white face in the middle, the blue background around it.
  const uint8_t* centre = pixel(32, 24);
  EXPECT_GT(centre[0], 120);
  EXPECT_NEAR(centre[0], centre[2], 8);
  const uint8_t* corner = pixel(1, 1);
  EXPECT_LT(corner[0], 60);
  EXPECT_GT(corner[2], 200);
}

}  // namespace
