#include <vector>

#include "tests/support/testsupport.h"

namespace {

class ObjectTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    qmtest::SceneTest::SetUp();
    world = zvNewWorld("file:///w.wrl");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS), ZV_OK);
  }
  void TearDown() override {
    EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    qmtest::SceneTest::TearDown();
  }
  ZvObj* make(ZvObj* parent = nullptr, const char* name = nullptr) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_OK);
    if (!o) return nullptr;
    if (name) zvNameObject(o, name);
    if (parent)
      EXPECT_EQ(zvAddChild(parent, o), ZV_OK);
    else
      EXPECT_EQ(zvAddTopObject(o, "w.wrl"), ZV_OK);
    return o;
  }
  static std::vector<ZvObj*> children(ZvObj* o) {
    std::vector<ZvObj*> out;
    ZvObjList* cursor = o->children;
    while (ZvObj* c = zvNextChild(&cursor)) out.push_back(c);
    return out;
  }
  ZvWorld* world = nullptr;
};

TEST_F(ObjectTest, NewObjectStartsAsDescribed) {
  ZvObj* o = make();
  EXPECT_EQ(o->id, -10000);
  EXPECT_EQ(o->index, -1);
  EXPECT_EQ(o->flags, uint32_t(ZV_OBJ_NOT_QUEUED | ZV_OBJ_COLLISION | ZV_OBJ_SOLID | ZV_OBJ_GRASP | ZV_OBJ_VISIBLE | ZV_OBJ_TOP));
  EXPECT_EQ(o->bcubeScale[1], 1.0f);
  EXPECT_EQ(o->lrt.m[2][2], 1.0f);
  EXPECT_EQ(world->objectCount, 1);
  EXPECT_EQ(world->topObjectCount, 1);
  EXPECT_EQ(zvGetObjById(world, -10000), o);
  EXPECT_EQ(make()->id, -9999);
}

TEST_F(ObjectTest, LocalRangeIsExhaustedAtTenThousandAndOne) {
  ZvObj* root = make();
  for (int i = 1; i < 10000; ++i) ASSERT_NE(make(root), nullptr);
  EXPECT_EQ(world->objectCount, 10000);
  ZvObj* extra = reinterpret_cast<ZvObj*>(1);
  EXPECT_EQ(zvNewZvObj(world, &extra, 1), ZV_NOID);
  EXPECT_EQ(extra, nullptr);
  EXPECT_EQ(world->objectCount, 10000);
  EXPECT_EQ(zvGetObjById(world, -1)->id, -1);
}

TEST_F(ObjectTest, RangesStackAndUnstack) {
  ZvObj* local = make();
  ASSERT_EQ(zvPushIdCounter(-20000, -19999, ZV_ID_MODE_ALWAYS), ZV_OK);  // inline 1
  EXPECT_EQ(make(local)->id, -20000);
  EXPECT_EQ(make(local)->id, -19999);
  ZvObj* o = nullptr;
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOID);
  ASSERT_EQ(zvPushIdCounter(0, 0, ZV_ID_MODE_ALWAYS), ZV_OK);  // inline without a number
  EXPECT_EQ(make(local)->id, 0);
  ASSERT_EQ(zvPushIdCounter(5, 9, ZV_ID_MODE_ON_REQUEST), ZV_OK);  // server range
  ZvObj* unasked = nullptr;
  ASSERT_EQ(zvNewZvObj(world, &unasked, 0), ZV_OK);
  EXPECT_EQ(unasked->id, 0);
  EXPECT_EQ(zvAddChild(local, unasked), ZV_OK);
  EXPECT_EQ(make(local)->id, 5);
  ASSERT_EQ(zvPushIdCounter(1, 2, 0), ZV_OK);  // fifth and last slot
  EXPECT_EQ(zvGetIdCounterTop(), 4);
  EXPECT_EQ(zvPushIdCounter(1, 2, 0), ZV_FAIL);  // a sixth is refused...
  EXPECT_EQ(zvGetIdCounterTop(), 4);              // ...and changes nothing
  EXPECT_EQ(zvPushIdCounter(3, 2, 0), ZV_FAIL);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(zvPopIdCounter(), ZV_OK);
  EXPECT_EQ(zvPopIdCounter(), ZV_FAIL);
  EXPECT_EQ(make(local)->id, -9999);  // the local range went on where it was
}

TEST_F(ObjectTest, AssignIdRehashes) {
  ZvObj* a = make();
  ZvObj* b = make();
  ASSERT_EQ(zvObjAssignId(a, 42), ZV_OK);
  EXPECT_EQ(zvGetObjById(world, -10000), nullptr);
  EXPECT_EQ(zvGetObjById(world, 42), a);
  // Two objects may share an identifier; deleting one keeps the other's entry.
  ASSERT_EQ(zvObjAssignId(b, 42), ZV_OK);
  EXPECT_EQ(zvDeleteZvObj(a), ZV_OK);
  EXPECT_EQ(zvGetObjById(world, 42), b);
  ZvObj loose{};
  EXPECT_EQ(zvObjAssignId(&loose, 1), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvObjAssignId: world or object structure is wrong."));
}

TEST_F(ObjectTest, CutAndRelinkKeepsTheSubtree) {
  ZvObj* a = make(nullptr, "a");
  ZvObj* b = make(a, "b");
  ZvObj* c = make(b, "c");
  ZvObj* d = make(a, "d");
  ASSERT_EQ(zvCutZvObj(b), ZV_OK);
  EXPECT_EQ(children(a), std::vector<ZvObj*>{d});
  EXPECT_EQ(b->parent, nullptr);
  EXPECT_EQ(children(b), std::vector<ZvObj*>{c});
  ASSERT_EQ(zvAddChild(d, b), ZV_OK);
  EXPECT_EQ(b->parent, d);
  // Appending after a cut of the last child must not lose the new cell.
  ASSERT_EQ(zvCutZvObj(d), ZV_OK);
  ZvObj* e = make(a, "e");
  EXPECT_EQ(children(a), std::vector<ZvObj*>{e});
  ASSERT_EQ(zvAddTopObject(d, "w.wrl"), ZV_OK);
  EXPECT_EQ(world->topObjectCount, 2);
  EXPECT_EQ(world->objectCount, 5);
}

TEST_F(ObjectTest, AnObjectLivesInOneListAndNeverBelowItself) {
  ZvObj* a = make();
  ZvObj* b = make(a);
  ZvObj* c = make(b);
  ZvObj* other = make();
  EXPECT_EQ(zvAddChild(other, c), ZV_FAIL);   // still b's child
  EXPECT_EQ(zvAddChild(other, a), ZV_FAIL);   // still a top object
  EXPECT_EQ(zvAddTopObject(b, "w.wrl"), ZV_FAIL);
  ASSERT_EQ(zvCutZvObj(a), ZV_OK);
  EXPECT_EQ(zvAddChild(c, a), ZV_FAIL);  // its own grandchild
  EXPECT_EQ(zvAddChild(a, a), ZV_FAIL);
  ASSERT_EQ(zvAddChild(other, a), ZV_OK);
  EXPECT_EQ(world->topObjectCount, 1);
}

TEST_F(ObjectTest, DeletedObjectsLeaveNoPointersInTheWorld) {
  ZvObj* holder = make();
  ZvObj* person = make(holder);
  ZvObj* lod = make(holder);
  world->person = person;
  zvAddZvObjToZvMFObj(&world->lods, lod);
  zvAddZvObjToZvMFObj(&world->frame, lod);
  zvAddZvObjToZvMFObj(&world->frame, holder);
  lod->nodeType = ZV_NODE_GROUP;  // a script may have changed it
  ASSERT_EQ(zvDeleteZvObj(holder), ZV_OK);
  EXPECT_EQ(world->person, nullptr);
  EXPECT_EQ(world->lods.count, 0);
  EXPECT_EQ(world->frame.count, 0);
}

TEST_F(ObjectTest, ARangeEndingAtTheLargestIdentifierRunsOutCleanly) {
  ASSERT_EQ(zvPushIdCounter(INT32_MAX - 1, INT32_MAX, ZV_ID_MODE_ALWAYS), ZV_OK);
  ZvObj* root = make();
  EXPECT_EQ(make(root)->id, INT32_MAX);
  ZvObj* o = nullptr;
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOID);
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOID);
}

TEST_F(ObjectTest, DeleteRemovesSubtreeIdsAndCounts) {
  ZvObj* a = make(nullptr, "a");
  ZvObj* b = make(a, "b");
  ZvObj* c = make(b, "c");
  make(c, "deep");
  ZvObj* d = make(a, "d");
  int32_t cid = c->id;
  ASSERT_EQ(zvDeleteZvObj(b), ZV_OK);
  EXPECT_EQ(zvGetObjById(world, cid), nullptr);
  EXPECT_EQ(children(a), std::vector<ZvObj*>{d});
  EXPECT_EQ(world->objectCount, 2);
  EXPECT_EQ(zvDeleteZvObj(nullptr), ZV_OK);
  ASSERT_EQ(zvDeleteZvObj(a), ZV_OK);
  EXPECT_EQ(world->topObjects, nullptr);
  EXPECT_EQ(world->topObjectCount, 0);
  EXPECT_EQ(world->objectCount, 0);
}

TEST_F(ObjectTest, DeleteOfAnObjectItsParentDoesNotListIsRefused) {
  ZvObj* a = make();
  ZvObj* b = make(a);
  ZvObj* stray = make();
  ASSERT_EQ(zvCutZvObj(stray), ZV_OK);
  stray->parent = a;  // claims a parent that never adopted it
  EXPECT_EQ(zvDeleteZvObj(stray), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvDeleteZvObj: inconsistent object hierarchy."));
  EXPECT_EQ(children(a), std::vector<ZvObj*>{b});
  EXPECT_EQ(world->objectCount, 3);
  stray->parent = nullptr;
  EXPECT_EQ(zvDeleteZvObj(stray), ZV_OK);
}

// The hooks are how deletion reaches the renderer, behaviour and labels.
struct Calls {
  std::vector<ZvObj*> rendered, tasks, handlers, labels;
  int refuse = 0;
};
Calls* calls = nullptr;

TEST_F(ObjectTest, DeletionTellsTheLayersAbove) {
  Calls seen;
  calls = &seen;
  ZvSceneHooks& h = zvSceneHooks();
  h.renderDeleteObj = [](ZvObj* o) {
    calls->rendered.push_back(o);
    return calls->refuse;
  };
  h.deleteObjTasks = [](ZvWorld*, ZvObj* o) { calls->tasks.push_back(o); };
  h.deleteObjHandlers = [](ZvObj* o) { calls->handlers.push_back(o); };
  h.destroyObjLabels = [](ZvObj* o) { calls->labels.push_back(o); };
  ZvObj* a = make();
  ZvObj* b = make(a);
  ZvObj* c = make(a);
  seen.refuse = -1;
  EXPECT_EQ(zvDeleteZvObj(a), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDeleteZvObj: fail to delete RW structure."));
  EXPECT_EQ(world->objectCount, 3);
  EXPECT_EQ(zvCutZvObj(b), ZV_FAIL);
  EXPECT_EQ(children(a).size(), 2u);
  seen = Calls{};
  ASSERT_EQ(zvDeleteZvObj(a), ZV_OK);
  EXPECT_EQ(seen.rendered, std::vector<ZvObj*>{a});
  // Children first, in order, then the object itself.
  EXPECT_EQ(seen.tasks, (std::vector<ZvObj*>{b, c, a}));
  EXPECT_EQ(seen.handlers, seen.tasks);
  EXPECT_EQ(seen.labels, seen.tasks);
  calls = nullptr;
}

TEST_F(ObjectTest, ClearContentsKeepsTheObjectInTheTree) {
  ZvObj* a = make(nullptr, "a");
  ZvObj* b = make(a, "b");
  b->strings[ZV_STR_COMMENT] = zvStrdup("note");
  int32_t id = b->id;
  ASSERT_EQ(zvClearZvObjContents(b), ZV_OK);
  EXPECT_EQ(b->id, 0);
  EXPECT_EQ(zvGetObjById(world, id), nullptr);
  EXPECT_EQ(b->strings[ZV_STR_NAME], nullptr);
  EXPECT_EQ(b->strings[ZV_STR_COMMENT], nullptr);
  EXPECT_EQ(children(a), std::vector<ZvObj*>{b});
}

TEST_F(ObjectTest, OutOfMemoryCreatesNothingAndLeaksNothing) {
  ZvObj* a = make();
  int before = world->objectCount;
  memory.failAfter(0);
  ZvObj* o = nullptr;
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewZvObj: zvMalloc failed"));
  memory.failAfter(1);  // the object, not its hash entry
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewZvObj: zvNewHashEntry failed"));
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(world->objectCount, before);
  memory.failAfter(-1);
  // The identifiers of the failed attempts were given back.
  EXPECT_EQ(make()->id, a->id + 1);
  ZvObj* b = make();
  ASSERT_EQ(zvCutZvObj(b), ZV_OK);
  memory.failAfter(0);
  EXPECT_EQ(zvAddChild(a, b), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvAddChild: zvMalloc failed"));
  EXPECT_EQ(zvAddTopObject(b, "x.wrl"), ZV_NOMEM);
  memory.failAfter(1);  // the cell, not the file name
  EXPECT_EQ(zvAddTopObject(b, "x.wrl"), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvAddTopObject: can't allocate file name"));
  memory.failAfter(-1);
  EXPECT_EQ(zvDeleteZvObj(b), ZV_OK);
}

TEST_F(ObjectTest, SwitchShowsOneChildOrAll) {
  ZvObj* sw = make();
  sw->nodeType = ZV_NODE_SWITCH;
  ZvObj* kids[3];
  for (ZvObj*& k : kids) k = make(sw);
  EXPECT_EQ(zvGetSwitchObjNum(sw), 3);
  EXPECT_EQ(zvGetSwitchObjNo(sw), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjNo : no active object number"));
  ASSERT_EQ(zvSetSwitchObjByNo(sw, 1), ZV_OK);
  EXPECT_EQ(zvGetSwitchObjNo(sw), 1);
  EXPECT_FALSE(kids[0]->flags & ZV_OBJ_VISIBLE);
  EXPECT_TRUE(kids[1]->flags & ZV_OBJ_VISIBLE);
  ASSERT_EQ(zvSetSwitchObjByNo(sw, -3), ZV_OK);
  for (ZvObj* k : kids) EXPECT_TRUE(k->flags & ZV_OBJ_VISIBLE);
  // The current number again changes nothing, even if flags were touched.
  kids[2]->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  ASSERT_EQ(zvSetSwitchObjByNo(sw, -3), ZV_OK);
  EXPECT_FALSE(kids[2]->flags & ZV_OBJ_VISIBLE);
  ASSERT_EQ(zvSetSwitchObjByNo(sw, 7), ZV_OK);  // beyond the children: none shown
  for (ZvObj* k : kids) EXPECT_FALSE(k->flags & ZV_OBJ_VISIBLE);
  EXPECT_EQ(zvGetSwitchObjByNo(sw, 2), kids[2]);
  EXPECT_EQ(zvGetSwitchObjByNo(sw, 3), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjByNo : not such a object"));
  // A group around a switch passes the choice down; a hidden switch refuses.
  ZvObj* group = make();
  ZvObj* inner = make(group);
  inner->nodeType = ZV_NODE_SWITCH;
  ZvObj* x = make(inner);
  ZvObj* y = make(inner);
  ASSERT_EQ(zvSetSwitchObjByNo(group, 1), ZV_OK);
  EXPECT_FALSE(x->flags & ZV_OBJ_VISIBLE);
  EXPECT_TRUE(y->flags & ZV_OBJ_VISIBLE);
  inner->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  EXPECT_EQ(zvSetSwitchObjByNo(inner, 0), ZV_FAIL);
  EXPECT_EQ(zvSetSwitchObjByNo(x, 0), ZV_FAIL);  // no children
  EXPECT_EQ(zvGetSwitchObjNum(group), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjNum : not a switch object"));
  // When the renderer refuses, the flags stay as the picture shows them.
  inner->flags |= ZV_OBJ_VISIBLE;
  zvSceneHooks().renderSetVisible = [](ZvObj*, int) { return -1; };
  EXPECT_EQ(zvSetSwitchObjByNo(inner, 0), ZV_FAIL);
  EXPECT_FALSE(x->flags & ZV_OBJ_VISIBLE);
}

TEST_F(ObjectTest, VisibilityLooksThroughGroupsToTheirFirstShape) {
  ZvObj* group = make();
  ZvObj* shape = make(group);
  zvAttachLeaf(shape, zvNewSphereLeaf());
  EXPECT_EQ(zvIsVisible(group), 1);
  EXPECT_EQ(zvIsSolid(group), 1);
  shape->flags &= ~uint32_t(ZV_OBJ_VISIBLE | ZV_OBJ_SOLID);
  EXPECT_EQ(zvIsVisible(group), 0);
  EXPECT_EQ(zvIsSolid(group), 0);
  ZvObj* lamp = make();
  zvAttachLeaf(lamp, zvNewPointLight());
  EXPECT_EQ(zvIsVisible(lamp), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: not a shape object"));
  EXPECT_EQ(zvIsVisible(make()), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: not a leaf object"));
  EXPECT_EQ(zvIsVisible(nullptr), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: no object"));
  // Light records belong to the light tables; free ours by hand.
  ZvLeaf* light = lamp->leaf;
  lamp->leaf = nullptr;
  zvFree(light);
}

TEST_F(ObjectTest, CountedObjectArraysKeepOrder) {
  ZvMFObj list{};
  ZvObj* a = make();
  ZvObj* b = make();
  ZvObj* c = make();
  EXPECT_EQ(zvRemoveZvObjFromZvMFObj(&list, a), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvRemoveObjToZvMFObj: try to remove obj from empty zvMFobj"));
  for (ZvObj* o : {a, b, c}) ASSERT_EQ(zvAddZvObjToZvMFObj(&list, o), ZV_OK);
  ASSERT_EQ(zvRemoveZvObjFromZvMFObj(&list, b), ZV_OK);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.objects[0], a);
  EXPECT_EQ(list.objects[1], c);
  memory.failAfter(0);
  EXPECT_EQ(zvAddZvObjToZvMFObj(&list, b), ZV_FAIL);
  EXPECT_EQ(list.count, 2);
  memory.failAfter(-1);
  zvClearZvMFObj(&list);
}

TEST_F(ObjectTest, NodeTypeNames) {
  EXPECT_EQ(zvNodeTypeByName("Separator"), ZV_NODE_SEPARATOR);
  EXPECT_EQ(zvNodeTypeByName("KinJoint"), 38);
  EXPECT_EQ(zvNodeTypeByName("separator"), 0);
  EXPECT_EQ(zvNodeTypeByName(nullptr), 0);
  EXPECT_STREQ(zvNodeTypeName(1), "AmbientSound");
  EXPECT_STREQ(zvNodeTypeName(38), "KinJoint");
  EXPECT_EQ(zvNodeTypeName(0), nullptr);
  EXPECT_EQ(zvNodeTypeName(39), nullptr);
  for (int i = 1; i <= ZV_NODE_LAST; ++i) EXPECT_EQ(zvNodeTypeByName(zvNodeTypeName(i)), i);
}

}  // namespace
