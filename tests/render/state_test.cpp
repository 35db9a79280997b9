// Showing and hiding, levels of detail, moved objects, attributes, the
// bounding-box marker and projecting points.
#include <cmath>

#include "tests/render/rendertest.h"

namespace {

TEST_F(RenderTest, SwitchShowsItsChoice) {
  ASSERT_READ("DEF ALL Switch { whichChild -3 DEF A0 Sphere { } DEF A1 Cube { } }\n"
              "DEF ONE Switch { whichChild 1 DEF B0 Sphere { } DEF B1 Cube { } DEF B2 Cone { } }\n"
              "DEF NONE Switch { whichChild 5 DEF C0 Sphere { } DEF C1 Cube { } }\n");
  EXPECT_EQ(onOff({"A0", "A1", "B0", "B1", "B2", "C0", "C1"}), "xx.x...");
  EXPECT_FALSE(named("B2")->flags & ZV_OBJ_VISIBLE);
  // The model's switch setter goes through the bridge.
  ASSERT_EQ(zvSetSwitchObjByNo(named("ONE"), 2), ZV_OK);
  EXPECT_EQ(onOff({"B0", "B1", "B2"}), "..x");
  // Hiding and showing a group keeps an inner switch's choice.
  ASSERT_READ("DEF G Group { DEF S Switch { whichChild 0 DEF D0 Sphere { } DEF D1 Sphere { } } }");
  ASSERT_EQ(zvRenderSetObjState(named("G"), 0), ZV_OK);
  EXPECT_EQ(onOff({"D0", "D1"}), "..");
  ASSERT_EQ(zvRenderSetObjState(named("G"), 1), ZV_OK);
  EXPECT_EQ(onOff({"D0", "D1"}), "x.");
}

TEST_F(RenderTest, LevelOfDetailByDistance) {
  ASSERT_READ("DEF LOD LOD { range [10, 20] center 0 0 0 DEF N Sphere { } DEF M Cube { } DEF F Cone { } }\n"
              "DEF BAD LOD { range [5] Sphere { } Sphere { } Sphere { } }\n");
  EXPECT_TRUE(sink.hasText("number of LOD range or children is wrong"));
  RwCamera* camera = rs()->defaultCamera;
  // The choice, with the camera at z (or where it stands, for NAN).
  auto choiceAt = [&](float z) {
    EXPECT_TRUE(std::isnan(z) || rwSetCameraPosition(camera, 0, 0, z));
    EXPECT_EQ(zvRenderEvaluateLOD(world, camera), ZV_OK);
    return *static_cast<int32_t*>(zvGetObjExtension(named("LOD"), zvSwitchWhichChild));
  };
  // The default camera stands at z = -10 looking along +z: exactly the
  // first range away, which keeps the nearer child.
  EXPECT_EQ(choiceAt(NAN), 0);
  EXPECT_EQ(onOff({"N", "M", "F"}), "x..");
  EXPECT_EQ(choiceAt(-15), 1);
  EXPECT_EQ(onOff({"N", "M", "F"}), ".x.");
  EXPECT_EQ(choiceAt(-100), 2);
  EXPECT_EQ(onOff({"N", "M", "F"}), "..x");
  EXPECT_EQ(choiceAt(1), 2) << "behind the viewer the choice stays whatever the distance";
  // Built again, the level of detail shows only the child it chose, though
  // the choice itself does not change.
  ASSERT_EQ(zvRenderDestroyPartInViewer(named("LOD")), ZV_OK);
  ASSERT_EQ(zvRenderConstructPartInViewer(named("LOD")), ZV_OK);
  EXPECT_EQ(choiceAt(NAN), 2);
  EXPECT_EQ(onOff({"N", "M", "F"}), "..x");
}

TEST_F(RenderTest, MovedObjectsQueueOncePerArmedSubtree) {
  ASSERT_READ("DEF P Separator { DEF C Separator { DEF S Sphere { } } }");
  ZvObj *p = named("P"), *c = named("C"), *s = named("S");
  auto queued = [&] {
    int n = 0;
    for (ZvTransferNode* t = rs()->transferred; t; t = t->next) ++n;
    return n;
  };
  const float right[3] = {1, 0, 0}, up[3] = {0, 2, 0};
  ASSERT_EQ(zvObjectTranslate(c, right, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  EXPECT_EQ(queued(), 1);
  EXPECT_FALSE(s->flags & ZV_OBJ_NOT_QUEUED);
  ASSERT_EQ(zvObjectTranslate(c, right, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  EXPECT_EQ(queued(), 1);
  ASSERT_EQ(zvObjectTranslate(p, up, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  EXPECT_EQ(queued(), 2);
  // Nothing moved in the renderer until the frame.
  RwMatrix m;
  ASSERT_TRUE(rwGetClumpLTM(clumpOf(s), &m));
  EXPECT_NEAR(m.m[3][0], 0, 1e-5);
  ASSERT_EQ(zvRenderShowWorld(world), ZV_OK) << sink.dump();
  EXPECT_EQ(queued(), 0);
  ASSERT_TRUE(rwGetClumpLTM(clumpOf(s), &m));
  EXPECT_NEAR(m.m[3][0], 2, 1e-5);
  EXPECT_NEAR(m.m[3][1], 2, 1e-5);
  for (ZvObj* o : {p, c, s}) EXPECT_TRUE(o->flags & ZV_OBJ_NOT_QUEUED);
  // A queued object that is deleted leaves the list.
  ASSERT_EQ(zvObjectTranslate(c, right, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  ASSERT_EQ(zvDeleteZvObj(c), ZV_OK);
  EXPECT_EQ(queued(), 0);
}

TEST_F(RenderTest, LightAttributes) {
  ASSERT_READ("DEF P PointLight { }\nDEF D DirectionalLight { }\nDEF S SpotLight { }\nDEF B Sphere { }");
  int32_t off = 0;
  float half = 0.5f, red[3] = {1, 0, 0}, angle = 0.5f;
  ASSERT_EQ(zvSetLightAttribute(named("P"), ZV_LIGHT_ON, &off), ZV_OK);
  EXPECT_EQ(rwGetLightState(static_cast<RwLight*>(named("P")->leaf->rendering)), RW_OFF);
  EXPECT_EQ(static_cast<ZvLight*>(named("P")->leaf)->on, 0);
  EXPECT_EQ(zvRenderSetLightAttribute(named("P"), ZV_LIGHT_INTENSITY, &half), ZV_OK);
  EXPECT_EQ(zvRenderSetLightAttribute(named("D"), ZV_LIGHT_COLOR, red), ZV_OK);
  EXPECT_EQ(zvRenderSetLightAttribute(named("S"), ZV_LIGHT_CUT_OFF_ANGLE, &angle), ZV_OK);
  EXPECT_EQ(zvRenderSetLightAttribute(named("S"), ZV_LIGHT_DROP_OFF_RATE, &angle), ZV_OK);
  // Positions and directions come through transforms only.
  EXPECT_EQ(zvRenderSetLightAttribute(named("P"), ZV_LIGHT_LOCATION, red), ZV_FAIL);
  EXPECT_EQ(zvRenderSetLightAttribute(named("D"), ZV_LIGHT_DIRECTION, red), ZV_FAIL);
  sink.clear();
  EXPECT_EQ(zvRenderSetLightAttribute(named("P"), ZV_LIGHT_DIRECTION, red), ZV_FAIL);
  EXPECT_EQ(zvRenderSetLightAttribute(named("D"), ZV_LIGHT_LOCATION, red), ZV_FAIL);
  EXPECT_EQ(zvRenderSetLightAttribute(named("P"), ZV_LIGHT_CUT_OFF_ANGLE, &angle), ZV_FAIL);
  // Said, not fatal: a script's wrong request costs only itself.
  EXPECT_EQ(sink.count(ZV_DEBUG_MESSAGE), 3);
  EXPECT_EQ(sink.count(ZV_DEBUG_ERROR), 0);
  EXPECT_TRUE(sink.hasText("zvRenderSetLightAttribute : wrong attribute name"));
  EXPECT_EQ(zvRenderSetLightAttribute(named("B"), ZV_LIGHT_ON, &off), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("not a light object"));
}

TEST_F(RenderTest, CameraAttributes) {
  ASSERT_READ("DEF O OrthographicCamera { height 2 }\nDEF P PerspectiveCamera { }\nDEF G Group { }");
  float w, h, angle = 1.0f, height = 6.0f, grey[3] = {0.5f, 0.5f, 0.5f};
  // The height angle of an orthographic camera is refused and changes nothing.
  EXPECT_EQ(zvSetCameraAttribute(named("O"), zvCameraAttrHeightAngle, &angle), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("ONLY PerspectiveCamera can cange zvCameraAttrHeightAngle, sorry."));
  ASSERT_EQ(zvRenderGetCameraViewWindow(named("O"), &w, &h), ZV_OK);
  EXPECT_FLOAT_EQ(h, 2.0f);
  EXPECT_FLOAT_EQ(static_cast<ZvCamera*>(named("O")->leaf)->height, 2.0f);
  ASSERT_EQ(zvSetCameraAttribute(named("O"), zvCameraAttrHeight, &height), ZV_OK);
  ASSERT_EQ(zvRenderGetCameraViewWindow(named("O"), &w, &h), ZV_OK);
  EXPECT_FLOAT_EQ(h, 6.0f);
  EXPECT_FLOAT_EQ(w, 6.0f * 1.3333334f);
  EXPECT_EQ(zvRenderSetCameraAttribute(named("P"), zvCameraAttrHeight, &height), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("ONLY OrthographicCamera can cange zvCameraAttrHeight, sorry."));
  ASSERT_EQ(zvRenderSetCameraAttribute(named("P"), zvCameraAttrHeightAngle, &angle), ZV_OK);
  ASSERT_EQ(zvRenderGetCameraViewWindow(named("P"), &w, &h), ZV_OK);
  EXPECT_NEAR(h, std::tan(0.5f), 1e-6);
  EXPECT_EQ(zvRenderSetCameraAttribute(named("P"), zvCameraAttrBackgroundColor, grey), ZV_OK);
  EXPECT_EQ(zvRenderSetCameraAttribute(named("P"), zvCameraAttrFocalDistance, &angle), ZV_FAIL);
  EXPECT_EQ(zvRenderSetCameraAttribute(named("P"), 9, &angle), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRenderSetCameraAttribute : wrong attribute name(9)"));
  // A backdrop that cannot be read is an error; none takes it away.
  EXPECT_EQ(zvRenderSetCameraAttribute(named("P"), zvCameraAttrBackgroundTexture, nullptr), ZV_OK);
  EXPECT_EQ(rwGetCameraBackdrop(static_cast<RwCamera*>(named("P")->leaf->rendering)), nullptr);
  EXPECT_EQ(zvRenderSetCameraAttribute(named("G"), zvCameraAttrHeight, &height), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("not a leaf object"));
}

TEST_F(RenderTest, BoundingBoxMarkerOfAFlatObject) {
  ASSERT_READ("DEF T Transform { translation 5 0 0 }\n"
              "DEF F Separator { Coordinate3 { point [0 0 0, 2 0 0, 2 1 0] } IndexedFaceSet { coordIndex [0, 1, 2] } }");
  ZvObj* o = leafObj(named("F"));
  ASSERT_EQ(zvRenderSetBoundingBoxInViewer(o), ZV_OK);
  auto* box = static_cast<RwClump*>(zvGetObjExtension(o, zvRenderBoundingBox));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(rwGetClumpData(box), o);
  EXPECT_EQ(rwGetClumpVertexCount(box), 16);
  EXPECT_EQ(rwGetClumpPolygonCount(box), 24);
  EXPECT_EQ(rwGetClumpScene(box), rs()->scene);
  // Corners 1 and 2 differ in z only, 5 and 1 in x only: the outer box is
  // 0.01 thick along the flat axis.
  RwV3d v1, v2, v5, v9;
  ASSERT_TRUE(rwGetClumpVertex(box, 1, &v1) && rwGetClumpVertex(box, 2, &v2) && rwGetClumpVertex(box, 5, &v5));
  EXPECT_NEAR(v2.z - v1.z, 0.01f, 1e-6);
  EXPECT_NEAR(v5.x - v1.x, 2.0f, 1e-6);
  ASSERT_TRUE(rwGetClumpVertex(box, 9, &v9));  // the inner box, 0.04 smaller
  EXPECT_NEAR(v9.x - v1.x, 0.02f, 1e-6);
  // Centred on the cube, in the object's world frame.
  RwMatrix m;
  ASSERT_TRUE(rwGetClumpLTM(box, &m));
  const float* cubeMin = o->cubeMin;
  EXPECT_NEAR(m.m[3][0], zvGetObjectWRT(o)->m[3][0] + cubeMin[0] + 1.0f, 1e-5);
  // The modelling state is left as the marker found it.
  RwSurfaceState s{};
  ASSERT_TRUE(rwGetSurfaceState(&s));
  EXPECT_NE(s.geometrySampling, RW_WIREFRAME);
  // A second set keeps the one marker; the model's release takes it away.
  ASSERT_EQ(zvRenderSetBoundingBoxInViewer(o), ZV_OK);
  EXPECT_EQ(zvGetObjExtension(o, zvRenderBoundingBox), box);
  ASSERT_EQ(zvRenderDeleteBoundingBoxInViewer(o), ZV_OK);
  EXPECT_EQ(zvGetObjExtension(o, zvRenderBoundingBox), nullptr);
}

TEST_F(RenderTest, ProjectPointThroughTheActiveCamera) {
  ASSERT_READ("DEF P PerspectiveCamera { position 0 0 0 }");
  ASSERT_EQ(zvSetActiveCameraID(world, 3), ZV_OK);
  ASSERT_EQ(zvRenderSetCameraViewport(world, 0, 0, 200, 100), ZV_OK);
  int x = -1, y = -1, visible = -1;
  const float ahead[3] = {0, 0, -0.5f}, close[3] = {0, 0, -0.4f};
  ASSERT_EQ(zvRenderProjectPoint(world, ahead, &x, &y, &visible), ZV_OK);
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  ASSERT_EQ(zvRenderProjectPoint(world, close, &x, &y, &visible), ZV_OK);
  EXPECT_EQ(visible, 0);
  // To the right and up on screen; far outside the window is not visible.
  float w, h;
  ASSERT_EQ(zvRenderGetActiveCameraViewWindow(world, &w, &h), ZV_OK);
  const float right[3] = {w * 0.501f, h * 0.501f, -1}, outside[3] = {w * 3, 0, -1};
  ASSERT_EQ(zvRenderProjectPoint(world, right, &x, &y, &visible), ZV_OK);
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(x, 150);
  EXPECT_EQ(y, 25);
  ASSERT_EQ(zvRenderProjectPoint(world, outside, &x, &y, &visible), ZV_OK);
  EXPECT_EQ(visible, 0);
  // Far past any float sum, the point stays in range.
  const float far[3] = {3e38f, -3e38f, -1};
  ASSERT_EQ(zvRenderProjectPoint(world, far, &x, &y, &visible), ZV_OK);
  EXPECT_TRUE(visible == 0 && x > 0 && y > 0) << x << "," << y;
  // The renderer's camera looks where the model's does (along world -z).
  float at[3];
  ASSERT_EQ(zvRenderGetActiveCameraLookAt(world, at), ZV_OK);
  EXPECT_NEAR(at[2], -1, 1e-5);
}

}  // namespace
