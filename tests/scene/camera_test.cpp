// The camera table: identifiers, the active camera, and who frees camera
// leaves once a table exists.
#include "tests/support/testsupport.h"

namespace {

// Not the shared tree fixture: that one frees camera leaves itself, which
// is the table's job here.
class CameraTableTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    world = zvNewWorld("cam.wrl");
    ASSERT_NE(world, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    SceneTest::TearDown();  // fails on any camera record left behind
  }
  ZvObj* make(ZvLeaf* leaf, ZvObj* parent = nullptr, int type = ZV_NODE_NONE) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(world, &o, 0), ZV_OK);
    EXPECT_EQ(parent ? zvAddChild(parent, o) : zvAddTopObject(o, nullptr), ZV_OK);
    if (leaf) {
      EXPECT_EQ(zvAttachLeaf(o, leaf), ZV_OK);
    }
    o->nodeType = type;
    return o;
  }
  ZvObj* camera(ZvObj* parent = nullptr) { return make(zvNewPerspectiveCameraLeaf(), parent); }
  int entries() {
    int n = 0;
    for (ZvCameraList* e = world->cameras ? world->cameras->entries : nullptr; e; e = e->next) ++n;
    return n;
  }
  ZvWorld* world = nullptr;
};

TEST_F(CameraTableTest, TableIsMadeOnceAndAnsweredOnlyWhenPresent) {
  EXPECT_EQ(zvSetCameraTableToWorld(nullptr), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "pointer to world is NULL"));
  EXPECT_EQ(zvGetActiveCameraID(world), ZV_FAIL);
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);
  EXPECT_EQ(zvSetActiveCameraID(world, 2), ZV_FAIL);
  EXPECT_EQ(zvDeleteCameraFromCameraTable(world, 2), ZV_FAIL);
  EXPECT_EQ(zvFreeCameraTable(world), ZV_FAIL);
  EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 6);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvFreeCameraTable : there is no camera table"));

  memory.failAfter(0);
  EXPECT_EQ(zvSetCameraTableToWorld(world), ZV_NOMEM);
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "cannot allocate memory"));
  ASSERT_EQ(zvSetCameraTableToWorld(world), ZV_OK);
  EXPECT_EQ(zvGetActiveCameraID(world), 1);
  EXPECT_EQ(entries(), 0);
  EXPECT_EQ(zvSetCameraTableToWorld(world), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "camera table is already exists"));
  // Only the identifiers in use read back as stored.
  world->cameras->activeId = 5;
  EXPECT_EQ(zvGetActiveCameraID(world), 0);
  world->cameras->activeId = -1;
  EXPECT_EQ(zvGetActiveCameraID(world), 0);
}

TEST_F(CameraTableTest, RegisteringReplacesByIdentifierOrAppends) {
  ZvObj* person = camera();
  ZvObj* first = camera();
  ZvObj* second = camera();
  EXPECT_EQ(zvReginsterToCameraTable(nullptr, 3), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "NULL obj or pointer to world is NULL"));
  ASSERT_EQ(zvReginsterToCameraTable(first, 3), ZV_OK);  // makes the table
  ASSERT_EQ(zvReginsterToCameraTable(person, 2), ZV_OK);
  ASSERT_EQ(zvReginsterToCameraTable(second, 3), ZV_OK);
  EXPECT_EQ(entries(), 2);
  EXPECT_EQ(zvGetCameraFromCameraTable(world, 3), second);
  EXPECT_EQ(zvGetCameraFromCameraTable(world, 2), person);
  EXPECT_EQ(zvGetCameraFromCameraTable(world, 1), nullptr);  // the default camera has no entry

  EXPECT_EQ(zvSetActiveCameraID(world, 1), ZV_FAIL);
  ASSERT_EQ(zvSetActiveCameraID(world, 2), ZV_OK);
  EXPECT_EQ(zvGetActiveCamera(world), person);

  memory.failAfter(0);
  EXPECT_EQ(zvReginsterToCameraTable(first, 0), ZV_NOMEM);
  EXPECT_EQ(zvReginsterToCameraTable(first, 3), ZV_OK);  // a replacement needs no memory
  memory.failAfter(-1);
  EXPECT_EQ(entries(), 2);

  EXPECT_EQ(zvDeleteCameraFromCameraTable(world, 4), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "specified camera is not found"));
  ASSERT_EQ(zvDeleteCameraFromCameraTable(world, 2), ZV_OK);
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);  // still 2, now without an entry
  EXPECT_EQ(zvGetCameraFromCameraTable(world, 3), first);
}

TEST_F(CameraTableTest, ActiveEntryThatIsNoCameraGivesTheChosenChild) {
  ZvObj* group = make(nullptr, nullptr, ZV_NODE_LOD);
  ZvObj* near = camera(group);
  ZvObj* far = camera(group);
  ASSERT_EQ(zvReginsterToCameraTable(group, 3), ZV_OK);
  ASSERT_EQ(zvSetActiveCameraID(world, 3), ZV_OK);
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);  // no which-child value yet
  auto* which = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
  *which = 1;
  ASSERT_EQ(zvRegisterObjExtension(group, zvSwitchWhichChild, which), ZV_OK);
  EXPECT_EQ(zvGetActiveCamera(world), far);
  *which = -3;
  EXPECT_EQ(zvGetActiveCamera(world), near);
  *which = 2;
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);
  *which = 0;
  group->nodeType = ZV_NODE_SWITCH;
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);
}

TEST_F(CameraTableTest, DeletedObjectsLeaveTheTableAndItFreesTheirCameraLeaves) {
  ZvObj* rig = make(nullptr);
  ZvObj* held = camera(rig);
  ZvCamera* leaf = static_cast<ZvCamera*>(held->leaf);
  camera();  // never registered: freed with the world all the same
  ASSERT_EQ(zvReginsterToCameraTable(held, 2), ZV_OK);
  ASSERT_EQ(zvSetActiveCameraID(world, 2), ZV_OK);

  ASSERT_EQ(zvDeleteZvObj(rig), ZV_OK);
  EXPECT_EQ(entries(), 0);
  EXPECT_EQ(zvGetActiveCamera(world), nullptr);
  ASSERT_EQ(world->cameras->kept, leaf);  // the record lives on, unowned
  EXPECT_EQ(leaf->owner, nullptr);
  EXPECT_FLOAT_EQ(leaf->focalDistance, 5.0f);

  // A bare chain with no object keeps its camera out of every table.
  ZvCamera* loose = zvNewOrthographicCameraLeaf();
  EXPECT_EQ(zvDeleteLeaf(loose), nullptr);
  EXPECT_EQ(world->cameras->kept, leaf);
  zvFree(loose);

  // Clearing the world frees the table and what it kept; the fixture checks
  // that no block is left once the world itself is gone.
  ASSERT_EQ(zvClearWorld(world), ZV_OK);
  EXPECT_EQ(world->cameras, nullptr);
  ASSERT_EQ(zvReginsterToCameraTable(camera(), 3), ZV_OK);
}

}  // namespace
