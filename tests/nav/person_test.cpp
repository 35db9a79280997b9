// The person: its eye camera, where it starts, and placing it at a viewpoint.
#include <cmath>
#include <cstring>
#include <string>

#include "nav/nav.h"
#include "tests/nav/navtest.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"

namespace {

class Person : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    zvVrmlInstallHooks();
    zvNavInstallHooks();
    zvSceneHooks().programDirectory = qmtest::sourceDataDir;
  }
  void TearDown() override {
    if (world) {
      zvSetCurrentWorld(nullptr);
      EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    }
    SceneTest::TearDown();
  }
  // Reads a world from text, in place of the last one, and adds the person to it.
  ZvObj* enter(const char* text) {
    if (world) {
      zvSetCurrentWorld(nullptr);
      EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    }
    world = zvNewWorld("file:///t.wrl");
    zvSetCurrentWorld(world);
    std::string file = std::string("#VRML V1.0 ascii\n") + text;
    EXPECT_EQ(zvParseVRMLString(file.c_str(), "file:///t.wrl", world), ZV_OK) << sink.dump();
    zvComputeWorldBoundingBox(world);
    EXPECT_EQ(zvAddPersonToWorld(world), ZV_OK) << sink.dump();
    return world->person;
  }
  static void expectNear(const float* got, std::initializer_list<float> want, float tolerance = 1e-3f) {
    int i = 0;
    for (float w : want) EXPECT_NEAR(got[i++], w, tolerance) << "component " << i - 1;
  }
  ZvWorld* world = nullptr;
};

TEST_F(Person, EyeCameraSitsOnTopAndIsActive) {
  ZvObj* person = enter("Separator { }\n");
  ASSERT_NE(person, nullptr);
  ZvObj* eye = zvGetPersonCamera(world);
  ASSERT_NE(eye, nullptr);
  EXPECT_EQ(eye->parent, person);
  EXPECT_STREQ(eye->strings[ZV_STR_LABEL], "PerspectiveCamera");
  EXPECT_EQ(zvGetActiveCameraID(world), ZV_PERSON_CAMERA);
  float min[3], max[3];
  ASSERT_EQ(zvGetObjBoundingCube(person, min, max), 0);
  // The figure stands on its origin, so the eye is its full height up.
  EXPECT_NEAR(min[1], 0, 1e-4f);
  const ZvTransform* lrt = zvGetObjectLRT(eye);
  expectNear(lrt->m[3], {0, max[1], -0.1f});
  // A half turn about y: the eye looks along the person's +z.
  expectNear(lrt->m[2], {0, 0, -1});
  // Walking steps are a fifth of the figure's height.
  ASSERT_EQ(zvNavInit(), ZV_OK);
  EXPECT_NEAR(zvGetNavigation(world)->step, (max[1] - min[1]) / 5, 1e-4f);
}

TEST_F(Person, StartsAtTheWorldsCamera) {
  ZvObj* person = enter("PerspectiveCamera { position 3 2 10 orientation 0 1 0 0.5 heightAngle 0.6 }\nCube { }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK) << sink.dump();
  ZvObj* eye = zvGetPersonCamera(world);
  const ZvTransform* wrt = zvGetObjectWRT(eye);
  expectNear(wrt->m[3], {3, 2, 10});
  // Its viewing direction is the world camera's: -z turned 0.5 about y.
  expectNear(wrt->m[2], {std::sin(0.5f), 0, std::cos(0.5f)});
  EXPECT_NEAR(static_cast<ZvCamera*>(eye->leaf)->height, 0.6f, 1e-6f);
  // The person stays upright and faces where the camera looks.
  const ZvTransform* body = zvGetObjectWRT(person);
  expectNear(body->m[1], {0, 1, 0});
  expectNear(body->m[2], {-std::sin(0.5f), 0, -std::cos(0.5f)});
  expectNear(world->home.m[3], {3, 2, 10});
}

// Without a camera the first view frames what can be seen: the whole world,
// a model far off the origin centred across and met at its own height, and
// copies that a Switch or a level of detail keeps hidden do not widen it.
TEST_F(Person, WithoutACameraTheFirstViewFramesWhatIsShown) {
  ZvObj* person = enter("Separator { Translation { translation 0 0 -5 } Cube { width 8 height 2 depth 2 } }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK) << sink.dump();
  const ZvTransform* wrt = zvGetObjectWRT(zvGetPersonCamera(world));
  // Half width 4, view window 1.333 wide at 45 degrees: z = 4*4/(2*w) + max z.
  float w = std::tan(0.7853982f / 2) * 1.3333334f;
  EXPECT_NEAR(wrt->m[3][2], 16 / (2 * w) - 4, 1e-3f);
  expectNear(wrt->m[2], {0, 0, 1});  // looking toward -z, at the box
  person = enter(
      "Separator { Translation { translation 500 300 -20 } Cube { width 8 height 2 depth 2 }\n"
      "  Switch { whichChild -1 Translation { translation 9000 0 0 } Cube { } }\n"
      "  LOD { range [ 10 ] Cube { } Separator { Translation { translation -9000 0 0 } Cube { } } } }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK) << sink.dump();
  wrt = zvGetObjectWRT(zvGetPersonCamera(world));
  expectNear(wrt->m[3], {500, 300, 16 / (2 * w) - 19});
  expectNear(world->home.m[3], {500, 300, 16 / (2 * w) - 19});

  // Words alone have a size too, and a Scale applies to a whole subtree.
  person = enter("AsciiText { string [ \"0123456789\", \"abc\" ] }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK);
  const float* eye = zvGetObjectWRT(zvGetPersonCamera(world))->m[3];
  EXPECT_GT(eye[0], 1.0f);  // centred on the text, which runs to +x
  EXPECT_GT(eye[2], 4.0f);  // and back far enough to see it whole
  person = enter("Scale { scaleFactor 3 3 3 }\n"
                 "Separator { Translation { translation 2 0 0 } Cube { width 2 height 2 depth 2 } }\n");
  float mn[3], mx[3];
  ASSERT_EQ(zvNavVisibleBounds(world, mn, mx), ZV_OK);
  expectNear(mn, {3, -3, -3});
  expectNear(mx, {9, 3, 3});
}

TEST_F(Person, HeadlightOnlyWhenTheWorldHasNoLight) {
  ZvObj* person = enter("Cube { }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK);
  auto* headlight = static_cast<ZvLight*>(zvFindLeafByType(person, ZV_LEAF_DIRECTIONAL_LIGHT));
  ASSERT_NE(headlight, nullptr) << "person.wrl brings a headlight";
  EXPECT_EQ(headlight->on, 1);
  person = enter("PointLight { }\nCube { }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK);
  headlight = static_cast<ZvLight*>(zvFindLeafByType(person, ZV_LEAF_DIRECTIONAL_LIGHT));
  EXPECT_EQ(headlight->on, 0);
  // The "Head Light" command switches it whatever the world brings.
  EXPECT_EQ(zvNavHeadLight(world), 0);
  ASSERT_EQ(zvNavSetHeadLight(world, 1), ZV_OK);
  EXPECT_EQ(headlight->on, 1);
  EXPECT_EQ(zvNavHeadLight(world), 1);
  EXPECT_EQ(zvNavHeadLight(nullptr), -1);
}

TEST_F(Person, HomeAndTheJumpingEyeMoveThePerson) {
  ZvObj* person = enter("Cube { }\n");
  ASSERT_EQ(zvAdjustPersonToActiveCamera(person), ZV_OK);
  float start[3];
  std::memcpy(start, zvGetObjectWRT(zvGetPersonCamera(world))->m[3], sizeof start);
  // Wander off and turn; Home puts the eye back where it began.
  const float away[3] = {7, 0, -3};
  zvObjectTranslate(person, away, ZV_COORD_WORLD, ZV_TRANSFORM_COMPOSE);
  ASSERT_EQ(zvNavGoHome(world), ZV_OK);
  expectNear(zvGetObjectWRT(zvGetPersonCamera(world))->m[3], {start[0], start[1], start[2]});

  // A click at the cube's face with the jumping eye: the approach stops
  // in front of the point rather than inside it, and comes nearer.
  const float face[3] = {0, 0, 1};
  ASSERT_EQ(zvNavApproach(person, face), ZV_OK);
  EXPECT_NE(zvNavApproach(person, face), ZV_OK) << "one animation at a time";
  for (int i = 0; i < 30; ++i) zvNavStep();
  const float* eye = zvGetObjectWRT(zvGetPersonCamera(world))->m[3];
  EXPECT_GT(eye[2], face[2]);
  EXPECT_LT(eye[2], start[2]);
  EXPECT_NEAR(eye[0], 0, 1e-3f);
}

TEST_F(Person, PlacingLookingStraightDownKeepsThePersonUpright) {
  ZvObj* person = enter("Cube { }\n");
  ZvTransform down;
  zvTransformIdentity(&down);
  // A camera tilted to look along -y: its -z axis is world -y, its top faces -z.
  const float rows[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
  std::memcpy(down.m, rows, sizeof rows);
  down.m[3][1] = 20;
  ASSERT_EQ(zvPlacePerson(person, &down), ZV_OK);
  const ZvTransform* body = zvGetObjectWRT(person);
  expectNear(body->m[1], {0, 1, 0});
  expectNear(body->m[2], {0, 0, -1});
  expectNear(zvGetObjectWRT(zvGetPersonCamera(world))->m[3], {0, 20, 0});
}

}  // namespace
