// The per-frame walk: key repeat, head tilt, drag speeds and footsteps, the
// hop, gravity and collision; picking through the library; collision events.
#include <cmath>
#include <algorithm>
#include <array>
#include <map>

#include "nav/nav.h"
#include "tests/nav/navtest.h"
#include "tests/render/rendertest.h"

namespace {

ZvNavKeys held{};
std::map<std::string, int> sounds;
std::vector<std::array<int, 3>> messages;

// The ambient sounds now playing, by name in order.
std::string playing() {
  std::string out;
  for (const auto& [name, on] : sounds)
    if (on) out += (out.empty() ? "" : " ") + name;
  return out;
}

class Navigate : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    zvNavInstallHooks();
    zvSceneHooks().programDirectory = qmtest::sourceDataDir;
    held = ZvNavKeys{};
    sounds.clear();
    messages.clear();
    zvNavHooks() = ZvNavHooks{};
    zvNavSetKeyReader([](ZvNavKeys* k) { *k = held; });
    zvNavHooks().ambientSound = [](ZvWorld*, const char* name, int play) { sounds[name] = play; };
    zvNavHooks().postMainMessage = [](int m, int a, int b) { messages.push_back({m, a, b}); };
  }
  void TearDown() override {
    zvNavHooks() = ZvNavHooks{};
    RenderTest::TearDown();
  }
  // A world with the person standing at the origin, facing +z.
  ZvNavigation* enter(const std::string& body, bool gravity, bool collision) {
    EXPECT_EQ(read(body), ZV_OK) << sink.dump();
    EXPECT_EQ(zvAddPersonToWorld(world), ZV_OK) << sink.dump();
    EXPECT_EQ(zvNavInit(), ZV_OK);
    ZvNavigation* nav = zvGetNavigation(world);
    nav->gravity = gravity;
    nav->collision = collision;
    return nav;
  }
  const float* at() { return zvGetObjectWRT(world->person)->m[3]; }
  const float* eye() { return zvGetObjectWRT(zvGetPersonCamera(world))->m[3]; }
};

TEST_F(Navigate, HeldArrowSpeedsUpToFiveFromThe25thFrame) {
  ZvNavigation* nav = enter("Info { }", false, false);
  held.up = 1;
  float last = 0;
  for (int frame = 1; frame <= 30; ++frame) {
    ASSERT_EQ(zvNavStep(), ZV_OK);
    float z = at()[2], moved = z - last;
    last = z;
    int want = frame < 25 ? std::max(1, frame <= 5 ? 1 : frame / 5) : 5;
    EXPECT_NEAR(moved, nav->step * float(want), 1e-4) << "frame " << frame;
    if (frame == 24) {
      EXPECT_LT(moved, nav->step * 5 - 1e-3);
    }
  }
  held = ZvNavKeys{};
  zvNavStep();
  held.up = 1;
  float before = at()[2];
  zvNavStep();
  EXPECT_NEAR(at()[2] - before, nav->step, 1e-4) << "letting go starts the count again";
}

TEST_F(Navigate, ShiftUpTiltsTheHeadToEightyAndNoFurther) {
  ZvNavigation* nav = enter("Info { }", false, false);
  held.up = held.shift = 1;
  for (int i = 0; i < 60; ++i) zvNavStep();
  EXPECT_EQ(nav->pitch, -80);
  // Looking up: the eye's viewing direction (-z) rises by sin 80.
  const ZvTransform* cam = zvGetObjectWRT(zvGetPersonCamera(world));
  EXPECT_NEAR(-cam->m[2][1], std::sin(80 * 0.017453292f), 1e-4);
  EXPECT_NEAR(at()[2], 0, 1e-6) << "Shift with Up does not walk";
  // Walking on levels the head again, by 0.8 a frame until within 5.
  held = ZvNavKeys{};
  held.up = 1;
  zvNavStep();
  EXPECT_NEAR(nav->pitch, -64, 1e-3);
  for (int i = 0; i < 20; ++i) zvNavStep();
  EXPECT_EQ(nav->pitch, 0);
}

TEST_F(Navigate, DragSpeedsAndFootsteps) {
  ZvNavigation* nav = enter("Info { }", false, false);
  ASSERT_EQ(zvNavButtonPress(300, 200, 0, 0), ZV_OK);
  EXPECT_EQ(nav->dragMode, 1);
  zvNavPointerMotion(300, 100);
  EXPECT_FLOAT_EQ(nav->forwardSpeed, 1.0f);
  EXPECT_EQ(playing(), "man_middle");
  zvNavPointerMotion(150, 400);
  EXPECT_TRUE(nav->turnSpeed == 1.5f && nav->turnAngle == 4.5f && nav->forwardSpeed == -2.0f)
      << nav->turnSpeed << " " << nav->turnAngle << " " << nav->forwardSpeed;
  EXPECT_EQ(playing(), "man_fast man_turn");
  zvNavButtonRelease();
  EXPECT_EQ(nav->dragMode, 0);
  EXPECT_EQ(sounds["man_fast"], 0);
  // Shift: the drag tilts the head and stands still.
  zvNavButtonPress(0, 0, 1, 0);
  zvNavPointerMotion(0, 100);
  EXPECT_EQ(nav->dragMode, 3);
  EXPECT_FLOAT_EQ(nav->pitch, 3);
  EXPECT_EQ(nav->forwardSpeed, 0);
  // Taking the pointer away ends the drag; presses are ignored until it is back.
  EXPECT_EQ(zvNavPointerHandlingOff(), 0);
  EXPECT_EQ(nav->dragMode, 0);
  zvNavButtonPress(0, 0, 0, 0);
  EXPECT_EQ(nav->dragMode, 0);
  EXPECT_EQ(zvNavPointerHandlingOn(), 1);
}

TEST_F(Navigate, HopRisesStaysAndSinks) {
  ZvNavigation* nav = enter("Info { }", false, false);
  ASSERT_EQ(zvNavJump(world->person, 3.0f), ZV_OK);
  EXPECT_EQ(zvNavJump(world->person, 9.0f), ZV_FAIL) << "one animation at a time";
  const float want[10] = {0.75f, 1.5f, 2.25f, 3, 3, 3, 2.25f, 1.5f, 0.75f, 0};
  for (float w : want) {
    zvNavStep();
    EXPECT_NEAR(at()[1], w, 1e-5);
  }
  EXPECT_EQ(nav->animationMode, 0);
}

TEST_F(Navigate, GravityStandsTheEyeAboveTheFloor) {
  enter("Separator { Translation { translation 0 -3 0 } Cube { width 40 height 0.2 depth 40 } }", true, false);
  // Eye height: from the lowest point of the figure's cube up to the eye.
  float min[3], max[3];
  ASSERT_EQ(zvGetObjBoundingCube(world->person, min, max), 0);
  float height = eye()[1] - at()[1] - min[1];
  held.up = 1;
  zvNavStep();
  // The floor's top is at -2.9.
  EXPECT_NEAR(eye()[1], -2.9f + height, 1e-4);
  zvNavStep();
  EXPECT_NEAR(eye()[1], -2.9f + height, 1e-4) << "standing stays put";
}

TEST_F(Navigate, CollisionStopsShortOfAWall) {
  ZvNavigation* nav = enter("Separator { Translation { translation 0 1 3 } Cube { width 4 height 2 depth 0.2 } }",
                            false, true);
  nav->step = 1;
  held.up = 1;
  for (int i = 0; i < 5; ++i) zvNavStep();
  // The wall's near face is at z = 2.9.
  EXPECT_NEAR(at()[2], 2.8f, 1e-4);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(), (std::array<int, 3>{1029, 0, 255}));
}

TEST_F(Navigate, PickingGivesPointAndSegmentIndices) {
  ASSERT_READ("PerspectiveCamera { position 0 0 10 }"
              "DEF P Separator { Coordinate3 { point [ -1 0 0, 0 0 0, 1 0 0 ] } PointSet { } }"
              "DEF L Separator { Translation { translation 0 -1 0 }"
              " Coordinate3 { point [ -2 0 0, 0 0 0, 0 0.5 0 ] } IndexedLineSet { coordIndex [ 0, 1, 2, -1 ] } }");
  ASSERT_EQ(zvRenderConstructWorldInViewer(world), ZV_OK) << sink.dump();
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  ASSERT_NE(camera, nullptr);
  int x, y, visible;
  // The middle point, and a point on the first segment of the line set.
  const float pointAt[3] = {0, 0, 0}, segmentAt[3] = {-1, -1, 0};
  ZvPickResult r;
  ASSERT_EQ(zvRenderProjectPoint(world, pointAt, &x, &y, &visible), ZV_OK);
  ASSERT_EQ(zvPickupZvShape(world, x, y, &r), ZV_OK) << sink.dump();
  EXPECT_EQ(r.object, leafObj(named("P")));
  EXPECT_EQ(r.part, 1);
  EXPECT_NEAR(r.distance, 10 - 0.05f, 0.05f);
  EXPECT_EQ(r.normalValid, 1);
  ASSERT_EQ(zvRenderProjectPoint(world, segmentAt, &x, &y, &visible), ZV_OK);
  ASSERT_EQ(zvPickupZvShape(world, x, y, &r), ZV_OK) << sink.dump();
  EXPECT_EQ(r.object, leafObj(named("L")));
  EXPECT_EQ(r.leaf, r.object->leaf);
  EXPECT_EQ(r.part, 0);
  EXPECT_EQ(zvPickupZvShape(world, 2, 2, &r), ZV_PICK_NOTHING);
}

TEST_F(Navigate, OnlySolidObjectsCollide) {
  ASSERT_READ("DEF A Cube { } DEF B Separator { Translation { translation 1.5 0 0 } Cube { } }");
  ZvObj* a = leafObj(named("A"));
  ZvObj* b = leafObj(named("B"));
  static std::vector<std::pair<ZvObj*, ZvObj*>> events;
  events.clear();
  zvNavHooks().collisionEvent = [](ZvObj* o, ZvObj* other) {
    events.push_back({o, other});
    return 0;
  };
  EXPECT_EQ(zvIsObjBoxOverlap(a, b), 1);
  int collided = -1;
  a->flags &= ~uint32_t(ZV_OBJ_SOLID);
  b->flags &= ~uint32_t(ZV_OBJ_SOLID);
  a->flags |= ZV_OBJ_SOLID;
  EXPECT_EQ(zvEvalCollisionObjs(a, b, 1, 1, &collided), 0);
  EXPECT_EQ(collided, 0);
  EXPECT_TRUE(events.empty());
  b->flags |= ZV_OBJ_SOLID;
  EXPECT_EQ(zvEvalCollisionObjs(a, b, 1, 1, &collided), 0);
  EXPECT_EQ(collided, 1);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], std::make_pair(a, b));
  EXPECT_EQ(events[1], std::make_pair(b, a));
  // Touching exactly on a face still overlaps; a gap does not.
  const float min[3] = {1, -1, -1}, max[3] = {3, 1, 1}, apart[3] = {1.01f, -1, -1};
  EXPECT_EQ(zvIsObjBoxOverlapBox(a, min, max), 1);
  EXPECT_EQ(zvIsObjBoxOverlapBox(a, apart, max), 0);
  // The walk hands the first value a handler gives back.
  zvNavHooks().collisionEvent = [](ZvObj*, ZvObj*) { return 5; };
  ZvObj* top = named("A");
  ASSERT_EQ(top, a);
  top->flags |= ZV_OBJ_COLLISION;
  EXPECT_EQ(zvCollisionObjAndObj(top, named("B")), 5);
  b->flags &= ~uint32_t(ZV_OBJ_SOLID);
  EXPECT_EQ(zvCollisionObjAndObj(top, named("B")), 0);
  EXPECT_EQ(zvCollisionObjAndObj(top, b), -1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "sub object is specified as you"));
  EXPECT_EQ(zvCollisionSubObjAndWorld(a), -1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "sub object is specified as top_obj"));
}

}  // namespace
