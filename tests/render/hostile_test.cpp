// Worlds that try to break the bridge, and the lives of built worlds: what
// a failed or destroyed build must not leave behind, cameras chosen by a
// Switch, levels of detail with more ranges than anyone needs.
#include <chrono>
#include <cstring>
#include <string>

#include "tests/render/rendertest.h"

namespace {

TEST_F(RenderTest, FailedBuildUnregistersItsTexture) {
  writeBmp(dir / "tex.bmp", 4, 4, 128, 128, 128);
  // u spans 40 repeats: the face cannot be mapped and the face set fails
  // after its texture was read.
  ASSERT_EQ(read("Texture2 { filename \"tex.bmp\" }\n"
                 "DEF F Separator { Coordinate3 { point [0 0 0, 1 0 0, 1 1 0] }\n"
                 "  TextureCoordinate2 { point [0 0, 40 0, 0 1] }\n"
                 "  IndexedFaceSet { coordIndex [0, 1, 2] textureCoordIndex [0, 1, 2] } }"),
            ZV_FAIL);
  EXPECT_TRUE(sink.hasText("impossible to mapping texture for u range"));
  ZvLeaf* face = leafObj(named("F"))->leaf;
  EXPECT_EQ(face->rendering, nullptr);
  const char* local = static_cast<ZvShape*>(face)->texture.texture->local_filename;
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(rwFindNamedTexture(local), nullptr);
}

TEST_F(RenderTest, FaceSetWithoutAreaLeavesNothingInTheScene) {
  ASSERT_READ("DEF F Separator { Coordinate3 { point [0 0 0, 1 0 0] } IndexedFaceSet { coordIndex [0, 1] } }\n"
              "DEF S Sphere { }");
  int before = rwGetSceneClumpCount(rs()->scene);
  ASSERT_EQ(zvDeleteZvObj(named("F")), ZV_OK);
  EXPECT_EQ(rwGetSceneClumpCount(rs()->scene), before);
  EXPECT_EQ(before, 1);
}

TEST_F(RenderTest, CameraChosenByASwitchDrawsTheFrame) {
  ASSERT_READ("DEF CS Switch { whichChild 1 DEF A PerspectiveCamera { } DEF B OrthographicCamera { } }\n"
              "Sphere { }");
  // Constructing the switch switched its camera on, which made it active.
  ASSERT_EQ(zvGetActiveCameraID(world), 3);
  EXPECT_EQ(zvRenderGetActiveRwCamera(world), named("B")->leaf->rendering);
  EXPECT_EQ(zvRenderSetCameraViewport(world, 0, 0, 64, 48), ZV_OK);
  EXPECT_EQ(zvRenderShowWorld(world), ZV_OK) << sink.dump();
  int x, y, visible;
  const float ahead[3] = {0, 0, -5};
  ASSERT_EQ(zvRenderProjectPoint(world, ahead, &x, &y, &visible), ZV_OK);
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(x, 32);
}

// The two cost checks below separate linear from quadratic work by a factor
// of twenty or more in an optimised build; instrumented builds run slower.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr double kSlowBuild = 10;
#else
constexpr double kSlowBuild = 1;
#endif

// Every range passed walks the children once, not once per range.
TEST_F(RenderTest, LevelOfDetailWithManyRangesIsCheap) {
  const int n = 40000;
  std::string lod = "DEF LOD LOD { range [";
  for (int i = 0; i < n; ++i) lod += "1,";
  lod += "]\n";
  for (int i = 0; i <= n; ++i) lod += "DirectionalLight { on FALSE }\n";
  lod += "}\n";
  ASSERT_READ(lod);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(zvRenderEvaluateLOD(world, rs()->defaultCamera), ZV_OK);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0 * kSlowBuild);
  EXPECT_EQ(*static_cast<int32_t*>(zvGetObjExtension(named("LOD"), zvSwitchWhichChild)), n);
}

// Queuing a moved object costs the same however many were moved before it.
TEST_F(RenderTest, ManyMovedObjectsQueueCheaply) {
  // More objects than a file may hold: made here, under one group.
  ASSERT_READ("DEF G Separator { DirectionalLight { } DirectionalLight { } }");
  const int n = 100000;
  ASSERT_EQ(zvSetIdCounter(-10 * n, -1, ZV_ID_MODE_ALWAYS), ZV_OK);
  ZvObj* group = named("G");
  std::vector<ZvObj*> moved;
  for (int i = 0; i < n; ++i) {
    ZvObj* o = nullptr;
    ASSERT_EQ(zvNewZvObj(world, &o, 0), ZV_OK);
    ASSERT_EQ(zvAddChild(group, o), ZV_OK);
    moved.push_back(o);
  }
  const float up[3] = {0, 1, 0};
  auto start = std::chrono::steady_clock::now();
  for (ZvObj* o : moved) ASSERT_EQ(zvObjectTranslate(o, up, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 1.5 * kSlowBuild);
  int queued = 0;
  for (ZvTransferNode* t = rs()->transferred; t; t = t->next) ++queued;
  EXPECT_EQ(queued, n);
  ASSERT_EQ(zvRenderShowWorld(world), ZV_OK) << sink.dump();
  for (ZvObj* o : moved) ASSERT_TRUE(o->flags & ZV_OBJ_NOT_QUEUED);
}

// A device the library does not know is refused with the viewer's message.
TEST_F(RenderTest, UnknownDeviceIsRefusedWithItsMessage) {
  sink.clear();
  EXPECT_EQ(zvRenderInitViewerOn("NoSuchDevice"), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRenderInitViewer : Error opening the rendering library")) << sink.dump();
}

}  // namespace
