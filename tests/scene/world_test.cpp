#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/testsupport.h"

namespace {

class WorldTest : public qmtest::SceneTest {};
using WorldTreeTest = qmtest::TreeFixture;

std::vector<std::string> trace;

TEST_F(WorldTest, CreationAndDeletionRunTheHooksInOrder) {
  trace.clear();
  ZvSceneHooks& h = zvSceneHooks();
  h.newUrlTable = [](ZvWorld*) { return trace.push_back("url+"), 0; };
  h.deleteUrlTable = [](ZvWorld*) { trace.push_back("url-"); };
  h.scriptInit = [](ZvWorld* w) { w->script = w; return trace.push_back("script+"), 0; };
  h.scriptDelete = [](ZvWorld*) { return trace.push_back("script-"), 0; };
  h.deleteCameraTable = [](ZvWorld*) { trace.push_back("cameras-"); };
  h.deleteObjTasks = [](ZvWorld*, ZvObj*) { trace.push_back("obj-"); };
  ZvWorld* w = zvNewWorld("file:///a.wrl");
  ASSERT_NE(w, nullptr);
  zvAddWorldExitHandler(w, [](ZvWorld*) { trace.push_back("mine"); });
  ZvObj* o = nullptr;
  ASSERT_EQ(zvNewZvObj(w, &o, 0), ZV_OK);
  zvAddTopObject(o, "a.wrl");
  zvSetCurrentWorld(w);
  ASSERT_EQ(zvDeleteWorld(w), ZV_OK);
  EXPECT_EQ(zvGetCurrentWorld(), nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"url+", "script+", "mine", "url-", "obj-", "cameras-", "script-"}));
  EXPECT_EQ(zvDeleteWorld(nullptr), ZV_OK);
}

TEST_F(WorldTest, NewWorldResetsIdentifierRangesAndClearingKeepsTheTable) {
  zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS);
  zvPushIdCounter(-20000, -10001, ZV_ID_MODE_ALWAYS);
  ZvWorld* w = zvNewWorld("x");
  EXPECT_EQ(zvGetIdCounterTop(), 0);
  ZvObj* o = nullptr;
  ASSERT_EQ(zvNewZvObj(w, &o, 1), ZV_OK);
  EXPECT_EQ(o->id, 0);  // no range until the world is constructed
  zvAddTopObject(o, nullptr);
  ASSERT_EQ(zvClearWorld(w), ZV_OK);
  EXPECT_EQ(w->topObjects, nullptr);
  EXPECT_STREQ(w->url, "");
  EXPECT_NE(w->idHash, nullptr);
  EXPECT_EQ(zvDeleteWorld(w), ZV_OK);
}

TEST_F(WorldTest, OutOfMemoryAtEveryStepLeaksNothing) {
  for (long n = 0; n < 6; ++n) {
    memory.failAfter(n);
    ZvWorld* w = zvNewWorld("file:///oom.wrl");
    memory.failAfter(-1);
    if (w) {
      EXPECT_GE(n, 3);
      zvDeleteWorld(w);
    } else {
      EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewWorld() : can not allocate memory for ZvWorld."));
    }
    EXPECT_EQ(memory.live(), 0) << "failing after " << n;
  }
}

// A reader and a navigation stand-in. Each "file" adds one top object, with a
// camera child unless its name says otherwise; the camera leaves, which their
// objects do not own, are collected to be freed at the end.
std::vector<ZvLeaf*> cameras;
int addCamera(ZvObj* parent) {
  ZvObj* cam = nullptr;
  zvNewZvObj(parent->world, &cam, 0);
  zvAddChild(parent, cam);
  cameras.push_back(zvNewPerspectiveCameraLeaf());
  return zvAttachLeaf(cam, cameras.back());
}
int readFile(const char* file, ZvWorld* world) {
  ZvObj* top = nullptr;
  if (zvNewZvObj(world, &top, 0) != ZV_OK) return -1;
  zvAddTopObject(top, file);
  return std::string(file).find("nocamera") == std::string::npos ? addCamera(top) : 0;
}
std::string personDir;
ZvObj* registered = nullptr;

TEST_F(WorldTest, PersonIsReadFromTheProgramDirectoryAndGetsACamera) {
  struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("qm-person-" + std::to_string(::getpid()));
    TempDir() { std::filesystem::create_directories(path / "nocamera"); }
    ~TempDir() { std::filesystem::remove_all(path); }
  } dir;
  personDir = dir.path.string();
  cameras.clear();
  ZvSceneHooks& h = zvSceneHooks();
  h.programDirectory = [] { return personDir.c_str(); };
  h.readFile = readFile;
  h.registerPersonCamera = [](ZvObj* cam) { return registered = cam, 0; };
  ZvWorld* w = zvNewWorld("file:///p.wrl");
  EXPECT_EQ(zvAddPersonToWorld(w), ZV_FAIL);  // no person.wrl yet
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvAddPersonToWorld: can not read file"));
  std::ofstream(dir.path / "person.wrl") << "#VRML V1.0 ascii\n";
  registered = nullptr;
  ASSERT_EQ(zvAddPersonToWorld(w), ZV_OK);
  ASSERT_NE(w->person, nullptr);
  ASSERT_NE(registered, nullptr);
  EXPECT_EQ(registered->parent, w->person);
  // A person file without a camera gets one from navigation, or fails.
  personDir += "/nocamera";
  std::ofstream(personDir + "/person.wrl") << "#VRML V1.0 ascii\n";
  EXPECT_EQ(zvAddPersonToWorld(w), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "has no camera"));
  h.addCameraToPerson = addCamera;
  ASSERT_EQ(zvAddPersonToWorld(w), ZV_OK);
  EXPECT_EQ(registered->parent, w->person);
  h.programDirectory = nullptr;
  EXPECT_EQ(zvAddPersonToWorld(w), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetModuleFileName: error"));
  zvDeleteWorld(w);  // camera records go with the world
}

TEST_F(WorldTreeTest, BoundingBoxSpansTopObjectsButNotThePerson) {
  auto place = [&](float x, float radius) {
    ZvSphere* s = zvNewSphereLeaf();
    s->radius = radius;
    ZvObj* o = make(s);
    const float t[3] = {x, 0, 0};
    zvObjectTranslate(o, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
    return o;
  };
  place(-4, 1);
  place(6, 2);
  world->person = place(100, 1);
  zvComputeWorldBoundingBox(world);
  EXPECT_FLOAT_EQ(world->bboxMin[0], -5);
  EXPECT_FLOAT_EQ(world->bboxMax[0], 8);
  EXPECT_FLOAT_EQ(world->bboxMin[1], -2);
  EXPECT_FLOAT_EQ(world->bboxMax[2], 2);
}

}  // namespace
