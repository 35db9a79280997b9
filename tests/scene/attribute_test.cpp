// Attributes by number: object flags and strings, the light and camera
// tables, and the renderer's right to refuse a change before the leaf sees it.
#include "tests/support/testsupport.h"

namespace {

class AttributeTest : public qmtest::TreeFixture {};

int refuse(ZvObj*, int, void*) { return -1; }
int accept(ZvObj*, int, void*) { return 0; }
int refuseFlag(ZvObj*, int) { return -1; }
float lookedAt[3];
int recordLookAt(ZvObj*, const float xyz[3]) { return lookedAt[2] = xyz[2], 0; }

float asFloat(void* answer, int i = 0) { return static_cast<float*>(answer)[i]; }
int32_t asWord(void* answer) { return *static_cast<int32_t*>(answer); }

TEST_F(AttributeTest, ObjectAttributesChangeOnlyWhatTheyName) {
  ZvObj* o = make(zvNewSphereLeaf());
  const struct { int number; uint32_t bit; } flags[] = {
      {8, ZV_OBJ_HAS_CUBE}, {9, ZV_OBJ_CUBE_VALID}, {10, ZV_OBJ_PCUBE_VALID}, {11, ZV_OBJ_WRT_VALID},
      {13, ZV_OBJ_GRASP}, {15, ZV_OBJ_COLLISION}, {16, ZV_OBJ_MOBILE}, {12, ZV_OBJ_VISIBLE}, {14, ZV_OBJ_SOLID}};
  void* answer = nullptr;
  for (const auto& f : flags) {
    for (int32_t word : {3, 2}) {  // only the lowest bit counts
      uint32_t before = o->flags;
      EXPECT_EQ(zvSetObjAttribute(o, f.number, &word), ZV_OK);
      EXPECT_EQ(o->flags, (word & 1) ? (before | f.bit) : (before & ~f.bit)) << f.number;
      ASSERT_EQ(zvGetObjAttribute(o, f.number, &answer), ZV_OK);
      EXPECT_EQ(asWord(answer), word & 1) << f.number;
    }
  }
  ASSERT_EQ(zvSetObjAttribute(o, 3, const_cast<char*>("Switch")), ZV_OK);
  EXPECT_EQ(o->nodeType, ZV_NODE_SWITCH);
  char name[] = "lamp";
  ASSERT_EQ(zvSetObjAttribute(o, 4, name), ZV_OK);
  ASSERT_EQ(zvGetObjAttribute(o, 4, &answer), ZV_OK);
  EXPECT_STREQ(static_cast<char*>(answer), "lamp");
  memory.failAfter(0);
  EXPECT_EQ(zvSetObjAttribute(o, 6, name), ZV_FAIL);
  memory.failAfter(-1);
  EXPECT_EQ(sink.last(), "zvSetObjAttrbute:ZvStrdup Failed.");
  sink.clear();
  EXPECT_EQ(zvSetObjAttribute(o, 2, name), ZV_FAIL);
  EXPECT_EQ(zvGetObjAttribute(o, 17, &answer), ZV_FAIL);
  EXPECT_TRUE(sink.reports().empty());

  int32_t on = 1;
  zvSceneHooks().renderSetVisible = refuseFlag;
  EXPECT_EQ(zvSetObjAttribute(o, 12, &on), ZV_FAIL);
  EXPECT_FALSE(o->flags & ZV_OBJ_VISIBLE);  // the renderer said no
}

TEST_F(AttributeTest, LightTablesTellWrongNamesFromUnsupportedOnes) {
  ZvObj* point = make(zvNewPointLight());
  ZvSpotLight* spotLeaf = zvNewSpotLight();
  ZvObj* spot = make(spotLeaf);
  ZvObj* directional = make(zvNewDirectionalLight());
  void* answer = nullptr;
  float f = 0.5f;
  EXPECT_EQ(zvGetLightAttribute(point, ZV_LIGHT_DROP_OFF_RATE, &answer), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetLightAttribute : wrong attribute name");
  EXPECT_EQ(zvGetLightAttribute(spot, ZV_LIGHT_LOCATION, &answer), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetLightAttribute : not not supported yet");
  EXPECT_EQ(zvSetLightAttribute(directional, ZV_LIGHT_LOCATION, &f), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetLightAttribute : wrong attribute name");
  EXPECT_EQ(zvSetLightAttribute(directional, ZV_LIGHT_DIRECTION, &f), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetLightAttribute : not not supported yet");
  EXPECT_EQ(zvSetLightAttribute(make(zvNewPerspectiveCameraLeaf()), ZV_LIGHT_ON, &f), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetLightAttribute : not a light object");

  zvSceneHooks().renderSetLightAttribute = refuse;
  EXPECT_EQ(zvSetLightAttribute(spot, ZV_LIGHT_CUT_OFF_ANGLE, &f), ZV_FAIL);
  EXPECT_FLOAT_EQ(spotLeaf->cutOffAngle, 0.785398f);
  zvSceneHooks().renderSetLightAttribute = accept;
  EXPECT_EQ(zvSetLightAttribute(spot, ZV_LIGHT_CUT_OFF_ANGLE, &f), ZV_OK);
  ASSERT_EQ(zvGetLightAttribute(spot, ZV_LIGHT_CUT_OFF_ANGLE, &answer), ZV_OK);
  EXPECT_FLOAT_EQ(asFloat(answer), 0.5f);
}

TEST_F(AttributeTest, CameraAttributesFollowTheCameraKind) {
  ZvCamera* perspective = zvNewPerspectiveCameraLeaf();
  ZvObj* cam = make(perspective);
  ZvObj* ortho = make(zvNewOrthographicCameraLeaf());
  void* answer = nullptr;
  EXPECT_EQ(zvGetCameraAttribute(cam, zvCameraAttrHeight, &answer), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetCameraAttribute : wrong attribute name");
  ASSERT_EQ(zvGetCameraAttribute(ortho, zvCameraAttrHeight, &answer), ZV_OK);
  EXPECT_FLOAT_EQ(asFloat(answer), 2.0f);

  float h = 3.0f;
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrHeight, &h), ZV_FAIL);
  EXPECT_EQ(sink.last(), "ONLY OrthographicCamera can cange zvCameraAttrHeight, sorry.");
  EXPECT_FLOAT_EQ(perspective->height, 0.785398f);
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrFocalDistance, &h), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvSetCameraAttribute : not supported yet");
  zvSceneHooks().renderSetCameraAttribute = refuse;
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrHeightAngle, &h), ZV_FAIL);
  EXPECT_FLOAT_EQ(perspective->height, 0.785398f);
  zvSceneHooks().renderSetCameraAttribute = accept;
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrHeightAngle, &h), ZV_OK);
  EXPECT_FLOAT_EQ(perspective->height, 3.0f);

  float color[3] = {0.5f, 0.25f, 1.0f};
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrBackgroundColor, color), ZV_OK);
  EXPECT_FLOAT_EQ(world->background.g, 0.25f);
  cam->world = nullptr;
  EXPECT_EQ(zvGetCameraAttribute(cam, zvCameraAttrBackgroundColor, &answer), ZV_FAIL);
  EXPECT_EQ(sink.last(), "zvGetCameraAttribute : cannot get a world");
  cam->world = world;
}

TEST_F(AttributeTest, CameraPlacementComesFromTheWorldTransform) {
  ZvObj* rig = make();
  ZvObj* cam = make(zvNewPerspectiveCameraLeaf(), rig);
  // The rig turns a quarter about y (x -> -z, z -> x) and stands at (1, 2, 3);
  // the camera sits two along its own z.
  ZvTransform turn = {{{0, 0, -1}, {0, 1, 0}, {1, 0, 0}, {1, 2, 3}}};
  ASSERT_EQ(zvObjectRotateTrans(rig, &turn, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  float at[3] = {0, 0, 2};
  ASSERT_EQ(zvObjectTranslate(cam, at, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  void* answer = nullptr;
  ASSERT_EQ(zvGetCameraAttribute(cam, zvCameraAttrPosition, &answer), ZV_OK);
  EXPECT_FLOAT_EQ(asFloat(answer, 0), 3.0f);
  ASSERT_EQ(zvGetCameraAttribute(cam, zvCameraAttrLookAt, &answer), ZV_OK);
  EXPECT_FLOAT_EQ(asFloat(answer, 0), 1.0f);

  float target[3] = {-4, 0, 8};
  ASSERT_EQ(zvSetCameraAttribute(cam, zvCameraAttrPosition, target), ZV_OK);
  EXPECT_FLOAT_EQ(zvGetObjectWRT(cam)->m[3][0], -4.0f);
  EXPECT_FLOAT_EQ(zvGetObjectWRT(cam)->m[2][0], 1.0f);  // still looking along world x

  float look[3] = {0, 0, -1};
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrLookAt, look), ZV_FAIL);  // nobody to turn it
  zvSceneHooks().cameraSetLookAt = recordLookAt;
  EXPECT_EQ(zvSetCameraAttribute(cam, zvCameraAttrLookAt, look), ZV_OK);
  EXPECT_FLOAT_EQ(lookedAt[2], -1.0f);
}

}  // namespace
