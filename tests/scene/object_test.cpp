#include <vector>

#include "tests/support/testsupport.h"

namespace {

using Objs = std::vector<ZvObj*>;

class ObjectTest : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    ASSERT_EQ(zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS), ZV_OK);
  }
  ZvObj* kid(ZvObj* parent) { return make(nullptr, parent); }
  static Objs children(ZvObj* o) {
    Objs out;
    ZvObjList* cursor = o->children;
    while (ZvObj* c = zvNextChild(&cursor)) out.push_back(c);
    return out;
  }
};

TEST_F(ObjectTest, NewObjectsNumberTheLocalRangeUntilItIsExhausted) {
  ZvObj* root = make();
  EXPECT_EQ(root->index, -1);
  EXPECT_EQ(root->flags, uint32_t(ZV_OBJ_NOT_QUEUED | ZV_OBJ_COLLISION | ZV_OBJ_SOLID | ZV_OBJ_GRASP |
                                  ZV_OBJ_VISIBLE | ZV_OBJ_TOP));
  EXPECT_EQ(zvGetObjById(world, -10000), root);
  EXPECT_EQ(kid(root)->id, -9999);
  for (int i = 2; i < 10000; ++i) ASSERT_NE(kid(root), nullptr);
  // Past the range objects are still made, without an identifier, and the
  // world says so once.
  ZvObj* extra = kid(root);
  ZvObj* more = kid(root);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->id, 0);
  EXPECT_EQ(more->id, 0);
  EXPECT_EQ(world->objectCount, 10002);
  EXPECT_EQ(zvGetObjById(world, -1)->id, -1);
  int said = 0;
  for (const auto& r : sink.reports()) said += r.text.find("are used up") != std::string::npos;
  EXPECT_EQ(said, 1);
}

TEST_F(ObjectTest, EachWorldKeepsItsOwnRanges) {
  ZvObj* mine = make();
  EXPECT_EQ(mine->id, -10000);
  // Another world is read meanwhile and numbers its own objects from the
  // start of its range...
  ZvWorld* other = zvNewWorld("file:///other.wrl");
  ASSERT_EQ(zvSetWorldIdCounter(other, -10000, -1, ZV_ID_MODE_ALWAYS), ZV_OK);
  ASSERT_EQ(zvPushWorldIdCounter(other, -20000, -10001, ZV_ID_MODE_ALWAYS), ZV_OK);
  ZvObj* theirs = nullptr;
  ASSERT_EQ(zvNewZvObj(other, &theirs, 1), ZV_OK);
  EXPECT_EQ(theirs->id, -20000);
  zvAddTopObject(theirs, nullptr);
  // ...and the first world, extended later, goes on where it was, with no
  // inline range of the other world on top of its own.
  ZvObj* later = nullptr;
  ASSERT_EQ(zvNewZvObj(world, &later, 1), ZV_OK);
  EXPECT_EQ(later->id, -9999);
  EXPECT_EQ(zvAddChild(mine, later), ZV_OK);
  EXPECT_EQ(zvGetObjById(other, -9999), nullptr);
  EXPECT_EQ(zvDeleteWorld(other), ZV_OK);
}

TEST_F(ObjectTest, RangesStackAndUnstack) {
  ZvObj *local = make(), *o = nullptr;
  ASSERT_EQ(zvPushIdCounter(-20000, -19999, ZV_ID_MODE_ALWAYS), ZV_OK);  // inline 1
  EXPECT_EQ(kid(local)->id, -20000);
  EXPECT_EQ(kid(local)->id, -19999);
  EXPECT_EQ(kid(local)->id, 0);  // the inline's range is used up
  ASSERT_EQ(zvPushIdCounter(0, 0, ZV_ID_MODE_ALWAYS), ZV_OK);  // inline without a number
  EXPECT_EQ(kid(local)->id, 0);
  ASSERT_EQ(zvPushIdCounter(5, 9, ZV_ID_MODE_ON_REQUEST), ZV_OK);  // server range
  ASSERT_EQ(zvNewZvObj(world, &o, 0), ZV_OK);
  EXPECT_EQ(o->id, 0);
  EXPECT_EQ(zvAddChild(local, o), ZV_OK);
  EXPECT_EQ(kid(local)->id, 5);
  ASSERT_EQ(zvPushIdCounter(1, 2, 0), ZV_OK);  // fifth and last slot
  EXPECT_EQ(zvPushIdCounter(1, 2, 0), ZV_FAIL);  // a sixth is refused and changes nothing
  EXPECT_EQ(zvGetIdCounterTop(), 4);
  EXPECT_EQ(zvPushIdCounter(3, 2, 0), ZV_FAIL);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(zvPopIdCounter(), ZV_OK);
  EXPECT_EQ(zvPopIdCounter(), ZV_FAIL);
  EXPECT_EQ(kid(local)->id, -9999);  // the local range went on where it was
  // A range ending at the largest identifier runs out without wrapping.
  ASSERT_EQ(zvPushIdCounter(INT32_MAX - 1, INT32_MAX, ZV_ID_MODE_ALWAYS), ZV_OK);
  kid(local);
  EXPECT_EQ(kid(local)->id, INT32_MAX);
  EXPECT_EQ(kid(local)->id, 0);
  EXPECT_EQ(kid(local)->id, 0);
}

TEST_F(ObjectTest, AssignIdRehashes) {
  ZvObj *a = make(), *b = make();
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

TEST_F(ObjectTest, CutAndRelinkKeepOneListAndNoCycles) {
  ZvObj *a = make(), *b = kid(a), *mid = kid(b), *c = kid(mid), *d = kid(a), *other = make();
  EXPECT_EQ(zvAddChild(other, c), ZV_FAIL);  // still mid's child
  EXPECT_EQ(zvAddChild(d, other), ZV_FAIL);  // still a top object
  EXPECT_EQ(zvAddTopObject(b, "w.wrl"), ZV_FAIL);
  ASSERT_EQ(zvCutZvObj(b), ZV_OK);
  EXPECT_EQ(children(a), Objs{d});
  EXPECT_EQ(b->parent, nullptr);
  EXPECT_EQ(children(b), Objs{mid});
  EXPECT_EQ(zvAddChild(c, b), ZV_FAIL);  // its own grandchild
  EXPECT_EQ(zvAddChild(b, b), ZV_FAIL);
  ASSERT_EQ(zvAddChild(d, b), ZV_OK);
  EXPECT_EQ(b->parent, d);
  // Appending after a cut of the last child must not lose the new cell.
  ASSERT_EQ(zvCutZvObj(d), ZV_OK);
  ZvObj* e = kid(a);
  EXPECT_EQ(children(a), Objs{e});
  ASSERT_EQ(zvAddTopObject(d, "w.wrl"), ZV_OK);
  EXPECT_EQ(world->topObjectCount, 3);
  EXPECT_EQ(world->objectCount, 7);
}

TEST_F(ObjectTest, DeleteRemovesTheSubtreeAndEveryPointerToIt) {
  ZvObj *a = make(), *b = kid(a), *c = kid(b), *lod = kid(c), *d = kid(a);
  world->person = c;
  zvAddZvObjToZvMFObj(&world->lods, lod);
  zvAddZvObjToZvMFObj(&world->frame, lod);
  zvAddZvObjToZvMFObj(&world->frame, b);
  lod->nodeType = ZV_NODE_GROUP;  // a script may have changed it
  int32_t cid = c->id;
  ASSERT_EQ(zvDeleteZvObj(b), ZV_OK);
  EXPECT_EQ(zvGetObjById(world, cid), nullptr);
  EXPECT_EQ(children(a), Objs{d});
  EXPECT_EQ(world->objectCount, 2);
  EXPECT_EQ(world->person, nullptr);
  EXPECT_EQ(world->lods.count, 0);
  EXPECT_EQ(world->frame.count, 0);
  EXPECT_EQ(zvDeleteZvObj(nullptr), ZV_OK);
  // An object claiming a parent that never adopted it is refused.
  ZvObj* stray = make();
  ASSERT_EQ(zvCutZvObj(stray), ZV_OK);
  stray->parent = a;
  EXPECT_EQ(zvDeleteZvObj(stray), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvDeleteZvObj: inconsistent object hierarchy."));
  EXPECT_EQ(children(a), Objs{d});
  EXPECT_EQ(world->objectCount, 3);
  stray->parent = nullptr;
  EXPECT_EQ(zvDeleteZvObj(stray), ZV_OK);
  ASSERT_EQ(zvDeleteZvObj(a), ZV_OK);
  EXPECT_EQ(world->topObjects, nullptr);
  EXPECT_EQ(world->topObjectCount, 0);
  EXPECT_EQ(world->objectCount, 0);
}

struct Calls {
  Objs rendered, tasks, handlers, labels;
  int refuse = 0;
} calls;

TEST_F(ObjectTest, DeletionTellsTheLayersAbove) {
  ZvSceneHooks& h = zvSceneHooks();
  h.renderDeleteObj = [](ZvObj* o) { return calls.rendered.push_back(o), calls.refuse; };
  h.deleteObjTasks = [](ZvWorld*, ZvObj* o) { calls.tasks.push_back(o); };
  h.deleteObjHandlers = [](ZvObj* o) { calls.handlers.push_back(o); };
  h.destroyObjLabels = [](ZvObj* o) { calls.labels.push_back(o); };
  ZvObj *a = make(), *b = kid(a), *c = kid(a);
  calls = Calls{};
  calls.refuse = -1;
  EXPECT_EQ(zvDeleteZvObj(a), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDeleteZvObj: fail to delete RW structure."));
  EXPECT_EQ(world->objectCount, 3);
  EXPECT_EQ(zvCutZvObj(b), ZV_FAIL);
  EXPECT_EQ(children(a).size(), 2u);
  calls = Calls{};
  ASSERT_EQ(zvDeleteZvObj(a), ZV_OK);
  EXPECT_EQ(calls.rendered, Objs{a});
  EXPECT_EQ(calls.tasks, (Objs{b, c, a}));  // children first, in order
  EXPECT_EQ(calls.handlers, calls.tasks);
  EXPECT_EQ(calls.labels, calls.tasks);
}

TEST_F(ObjectTest, ClearContentsKeepsTheObjectInTheTree) {
  ZvObj *a = make(), *b = make(nullptr, a, "b");
  b->strings[ZV_STR_COMMENT] = zvStrdup("note");
  int32_t id = b->id;
  ASSERT_EQ(zvClearZvObjContents(b), ZV_OK);
  EXPECT_EQ(b->id, 0);
  EXPECT_EQ(zvGetObjById(world, id), nullptr);
  EXPECT_EQ(b->strings[ZV_STR_NAME], nullptr);
  EXPECT_EQ(b->strings[ZV_STR_COMMENT], nullptr);
  EXPECT_EQ(children(a), Objs{b});
}

TEST_F(ObjectTest, OutOfMemoryCreatesNothingAndLeaksNothing) {
  ZvObj *a = make(), *o = nullptr;
  memory.failAfter(0);
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewZvObj: zvMalloc failed"));
  memory.failAfter(1);  // the object, not its hash entry
  EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewZvObj: zvNewHashEntry failed"));
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(world->objectCount, 1);
  memory.failAfter(-1);
  EXPECT_EQ(make()->id, a->id + 1);  // the failed attempts gave their identifiers back
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

bool shown(const ZvObj* o) { return o->flags & ZV_OBJ_VISIBLE; }

TEST_F(ObjectTest, SwitchShowsOneChildOrAll) {
  ZvObj* sw = make();
  sw->nodeType = ZV_NODE_SWITCH;
  ZvObj* kids[3] = {kid(sw), kid(sw), kid(sw)};
  EXPECT_EQ(zvGetSwitchObjNum(sw), 3);
  EXPECT_EQ(zvGetSwitchObjNo(sw), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjNo : no active object number"));
  ASSERT_EQ(zvSetSwitchObjByNo(sw, 1), ZV_OK);
  EXPECT_EQ(zvGetSwitchObjNo(sw), 1);
  EXPECT_FALSE(shown(kids[0]));
  EXPECT_TRUE(shown(kids[1]));
  ASSERT_EQ(zvSetSwitchObjByNo(sw, -3), ZV_OK);
  for (ZvObj* k : kids) EXPECT_TRUE(shown(k));
  // The current number again changes nothing, even if flags were touched.
  kids[2]->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  ASSERT_EQ(zvSetSwitchObjByNo(sw, -3), ZV_OK);
  EXPECT_FALSE(shown(kids[2]));
  ASSERT_EQ(zvSetSwitchObjByNo(sw, 7), ZV_OK);  // beyond the children: none shown
  for (ZvObj* k : kids) EXPECT_FALSE(shown(k));
  EXPECT_EQ(zvGetSwitchObjByNo(sw, 2), kids[2]);
  EXPECT_EQ(zvGetSwitchObjByNo(sw, 3), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjByNo : not such a object"));
  // A group around a switch passes the choice down; a hidden switch refuses.
  ZvObj *group = make(), *inner = kid(group);
  inner->nodeType = ZV_NODE_SWITCH;
  ZvObj *x = kid(inner), *y = kid(inner);
  ASSERT_EQ(zvSetSwitchObjByNo(group, 1), ZV_OK);
  EXPECT_FALSE(shown(x));
  EXPECT_TRUE(shown(y));
  inner->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  EXPECT_EQ(zvSetSwitchObjByNo(inner, 0), ZV_FAIL);
  EXPECT_EQ(zvSetSwitchObjByNo(x, 0), ZV_FAIL);  // no children
  EXPECT_EQ(zvGetSwitchObjNum(group), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetSwitchObjNum : not a switch object"));
  // When the renderer refuses, the flags stay as the picture shows them.
  inner->flags |= ZV_OBJ_VISIBLE;
  zvSceneHooks().renderSetVisible = [](ZvObj*, int) { return -1; };
  EXPECT_EQ(zvSetSwitchObjByNo(inner, 0), ZV_FAIL);
  EXPECT_FALSE(shown(x));
}

TEST_F(ObjectTest, VisibilityLooksThroughGroupsToTheirFirstShape) {
  ZvObj *group = make(), *shape = make(zvNewSphereLeaf(), group);
  EXPECT_EQ(zvIsVisible(group), 1);
  EXPECT_EQ(zvIsSolid(group), 1);
  shape->flags &= ~uint32_t(ZV_OBJ_VISIBLE | ZV_OBJ_SOLID);
  EXPECT_EQ(zvIsVisible(group), 0);
  EXPECT_EQ(zvIsSolid(group), 0);
  EXPECT_EQ(zvIsVisible(make(zvNewPointLight())), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: not a shape object"));
  EXPECT_EQ(zvIsVisible(make()), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: not a leaf object"));
  EXPECT_EQ(zvIsVisible(nullptr), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvIsVisible: no object"));
}

TEST_F(ObjectTest, CountedObjectArraysKeepOrder) {
  ZvMFObj list{};
  ZvObj *a = make(), *b = make(), *c = make();
  EXPECT_EQ(zvRemoveZvObjFromZvMFObj(&list, a), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvRemoveObjToZvMFObj: try to remove obj from empty zvMFobj"));
  for (ZvObj* o : {a, b, c}) ASSERT_EQ(zvAddZvObjToZvMFObj(&list, o), ZV_OK);
  ASSERT_EQ(zvRemoveZvObjFromZvMFObj(&list, b), ZV_OK);
  EXPECT_EQ(Objs(list.objects, list.objects + list.count), (Objs{a, c}));
  memory.failAfter(0);
  EXPECT_EQ(zvAddZvObjToZvMFObj(&list, b), ZV_FAIL);
  memory.failAfter(-1);
  EXPECT_EQ(list.count, 2);
  zvClearZvMFObj(&list);
}

TEST_F(ObjectTest, NodeTypeNames) {
  EXPECT_EQ(zvNodeTypeByName("Separator"), ZV_NODE_SEPARATOR);
  EXPECT_EQ(zvNodeTypeByName("separator"), 0);
  EXPECT_EQ(zvNodeTypeByName(nullptr), 0);
  EXPECT_STREQ(zvNodeTypeName(1), "AmbientSound");
  EXPECT_STREQ(zvNodeTypeName(38), "KinJoint");
  EXPECT_EQ(zvNodeTypeName(0), nullptr);
  EXPECT_EQ(zvNodeTypeName(39), nullptr);
  for (int i = 1; i <= ZV_NODE_LAST; ++i) EXPECT_EQ(zvNodeTypeByName(zvNodeTypeName(i)), i);
}

}  // namespace
