// The world around the objects as scripts see it: distance and touching,
// the person and its steering, cameras, view positions and the clock.
#include <cmath>
#include <ctime>
#include <regex>
#include <set>
#include <vector>

#include "nav/nav.h"
#include "tests/script/scripttest.h"
#include "tests/nav/navtest.h"
#include "tests/render/rendertest.h"

namespace {

ZvNavKeys held{};
int captureReleases = 0;
std::vector<std::pair<ZvObj*, ZvObj*>> collisions;

class WorldCommands : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    qmtest::useDataDirectory();
    zvSceneHooks().deleteObjHandlers = zvScriptForgetObjHandles;
    zvNavInstallHooks();
    zvSceneHooks().programDirectory = qmtest::sourceDataDir;
    held = ZvNavKeys{};
    captureReleases = 0;
    collisions.clear();
    zvNavHooks() = ZvNavHooks{};
    zvNavSetKeyReader([](ZvNavKeys* k) { *k = held; });
    zvNavHooks().releaseCapture = [] { ++captureReleases; };
    zvNavHooks().collisionEvent = [](ZvObj* o, ZvObj* other) {
      collisions.emplace_back(o, other);
      return 0;
    };
    ASSERT_EQ(read("DEF A Separator { Cube { } }\n"
                   "DEF B Separator { Translation { translation 3 4 0 } Cube { } }\n"
                   "DEF C Separator { Translation { translation 1 0 0 } Cube { } }\n"
                   "DEF View Separator { PerspectiveCamera { position 0 0 10 } }"),
              ZV_OK)
        << sink.dump();
    ASSERT_EQ(zvAddPersonToWorld(world), ZV_OK) << sink.dump();
    ASSERT_EQ(zvNavInit(), ZV_OK);
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void TearDown() override {
    zvScriptExit(world, ZV_SCRIPT_TCL);
    zvNavHooks() = ZvNavHooks{};
    RenderTest::TearDown();
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text); }
  std::string var(const char* name) { return qmtest::tclVar(world, name); }
  static std::string h(ZvObj* o) { return std::to_string(zvScriptHandleOf(o, ZV_HANDLE_OBJ)); }
  const float* at() { return zvGetObjectWRT(world->person)->m[3]; }
};

ZvObj* topOf(ZvObj* o) {
  while (o && o->parent) o = o->parent;
  return o;
}

TEST_F(WorldCommands, DistanceAndTouchingBetweenTopObjects) {
  std::string a = h(named("A")), b = h(named("B")), c = h(named("C"));
  // The cubes carry the translations; their groups stay at the origin.
  EXPECT_EQ(eval("zvCalcDistance " + h(leafObj(named("A"))) + " " + h(leafObj(named("B")))), "5.000000");
  EXPECT_EQ(eval("zvCalcDistance " + a + " " + b), "0.000000");

  ZvObj* cubeA = leafObj(named("A"));
  ZvObj* cubeC = leafObj(named("C"));
  for (ZvObj* o : {cubeA, cubeC, leafObj(named("B"))}) o->flags |= ZV_OBJ_SOLID;
  // Only the side asked for hears of it; ret says they touched either way.
  EXPECT_EQ(eval("zvIntersectZvTopObjAndZvTopObj " + a + " " + c + " $zvTrue $zvFalse hit"), "0");
  EXPECT_EQ(var("hit"), "1");
  ASSERT_EQ(collisions.size(), 1u);
  EXPECT_EQ(topOf(collisions[0].first), named("A"));
  EXPECT_EQ(topOf(collisions[0].second), named("C"));
  collisions.clear();
  EXPECT_EQ(eval("zvIntersectZvTopObjAndZvTopObj " + a + " " + c + " 0 0 hit"), "0");
  EXPECT_EQ(var("hit"), "1");
  EXPECT_TRUE(collisions.empty());
  EXPECT_EQ(eval("zvIntersectZvTopObjAndZvTopObj " + a + " " + b + " 1 1 hit"), "0");
  EXPECT_EQ(var("hit"), "0");
  // Against the world: C is the only one in reach.
  EXPECT_EQ(eval("zvIntersectZvTopObjAndZvWorld " + a + " 0 1 hit"), "0");
  EXPECT_EQ(var("hit"), "1");
  ASSERT_EQ(collisions.size(), 1u);
  EXPECT_EQ(topOf(collisions[0].first), named("C"));
  EXPECT_EQ(topOf(collisions[0].second), named("A"));
  EXPECT_EQ(eval("zvIntersectZvTopObjAndZvWorld " + h(cubeA) + " 1 1 hit"),
            "error: zvIntersectZvTopObjAndZvWorld:[" + h(cubeA) + "] is not a top object.");
}

TEST_F(WorldCommands, CamerasSwitchOnlyToEntriesOfTheTable) {
  EXPECT_EQ(eval("zvGetPerson"), h(world->person));
  EXPECT_EQ(eval("zvGetActiveCamera"), "2");
  ASSERT_NE(zvGetCameraFromCameraTable(world, 3), nullptr) << "the world's own camera";
  EXPECT_EQ(eval("zvSetActiveCamera 3"), "");
  EXPECT_EQ(zvGetActiveCameraID(world), 3);
  EXPECT_EQ(eval("zvGetActiveCamera " + h(named("A"))), "3");
  EXPECT_EQ(eval("zvSetActiveCamera 1"), "error: zvSetActiveCamera:no camera[1]");
  EXPECT_EQ(eval("zvSetActiveCamera 9"), "error: zvSetActiveCamera:no camera[9]");
  EXPECT_EQ(zvGetActiveCameraID(world), 3);
  EXPECT_EQ(eval("zvSetActiveCamera 2; zvGetActiveCamera"), "2");
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 0) << sink.dump();
}

TEST_F(WorldCommands, ViewPositionsThroughTheActiveCamera) {
  const ZvTransform* eye = zvGetObjectWRT(zvGetPersonCamera(world));
  auto point = [&](float d) {
    std::string words;
    for (int i = 0; i < 3; ++i) words += " " + std::to_string(eye->m[3][i] - d * eye->m[2][i]);
    return words;
  };
  int vx, vy, w, hgt;
  ASSERT_EQ(zvRenderGetActiveCameraViewport(world, &vx, &vy, &w, &hgt), ZV_OK);
  EXPECT_EQ(eval("zv3DPosTo2DPos" + point(5) + " x y"), "1");
  EXPECT_NEAR(std::atoi(var("x").c_str()), vx + w / 2, 1);
  EXPECT_NEAR(std::atoi(var("y").c_str()), vy + hgt / 2, 1);
  // Too near the eye, or behind it: not in view, nothing written.
  EXPECT_EQ(eval("unset x y; zv3DPosTo2DPos" + point(0.4f) + " x y"), "0");
  EXPECT_EQ(eval("zv3DPosTo2DPos" + point(-5) + " x y"), "0");
  EXPECT_EQ(var("x"), "<unset>");
  EXPECT_EQ(eval("zv3DPosTo2DPos 1 a 3"), "error: zv3DPosTo2DPos:bad number[a]");
}

TEST_F(WorldCommands, NavigationOffHoldsUntilScriptsGiveItBack) {
  held.up = 1;
  float z0 = at()[2];
  zvNavStep();
  ASSERT_NE(at()[2], z0) << "the arrow walks";
  zvNavButtonPress(10, 10, 0, 0);
  ASSERT_EQ(zvGetNavigation(world)->dragMode, 1);

  EXPECT_EQ(eval("zvSetNavigation $zvFalse"), "");
  EXPECT_EQ(zvGetNavigation(world)->dragMode, 0) << "the drag ends";
  EXPECT_EQ(captureReleases, 1);
  // The input layer gives its own pointer switch back after every press;
  // that must not hand the steering back.
  zvNavPointerHandlingOff();
  zvNavPointerHandlingOn();
  zvNavButtonPress(10, 10, 0, 0);
  EXPECT_EQ(zvGetNavigation(world)->dragMode, 0);
  float z1 = at()[2];
  zvNavStep();
  EXPECT_EQ(at()[2], z1) << "keys do not walk while it is off";

  EXPECT_EQ(eval("zvSetNavigation $zvTrue"), "");
  zvNavStep();
  EXPECT_NE(at()[2], z1);
}

TEST_F(WorldCommands, ClockAndDice) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  EXPECT_EQ(eval("zvGetLocalTime s mi h d mo y wd yd dst"), "");
  EXPECT_EQ(var("y"), std::to_string(t.tm_year));
  EXPECT_EQ(var("mo"), std::to_string(t.tm_mon));
  int s = std::atoi(var("s").c_str()), yd = std::atoi(var("yd").c_str()), wd = std::atoi(var("wd").c_str());
  EXPECT_TRUE(s >= 0 && s <= 60 && yd >= 0 && yd <= 365 && wd >= 0 && wd <= 6);
  EXPECT_EQ(eval("zvGetLocalTime 1 2 3 4 5 6 7 8 9 10").rfind("error: zvGetLocalTime:wrong args", 0), 0u);

  std::string text = eval("zvGetCTime");
  EXPECT_TRUE(std::regex_match(text, std::regex(R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4})")))
      << text;

  std::set<long> seen;
  for (int i = 0; i < 200; ++i) {
    long v = std::atol(eval("zvRand").c_str());
    ASSERT_TRUE(v >= 0 && v <= 32767) << v;
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 150u);
}

}  // namespace
