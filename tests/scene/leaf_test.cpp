// Leaves: the builders, ownership on delete, chains on objects and the
// searches over them.
#include <vector>

#include "tests/support/testsupport.h"

namespace {

class LeafTest : public qmtest::SceneTest {
 protected:
  void TearDown() override {
    zvDeleteZvObj(top);
    zvDeleteWorld(world);
    SceneTest::TearDown();
  }
  // The world comes with the first object only, so that tests of bare
  // leaves can count every live block as their own.
  ZvObj* child(ZvObj* parent) {
    if (!world) world = zvNewWorld("leaf.wrl");
    ZvObj* o = nullptr;
    zvNewZvObj(world, &o, 0);
    if (parent) zvAddChild(parent, o);
    return o;
  }
  ZvWorld* world = nullptr;
  ZvObj* top = nullptr;  // deleted with its subtree at the end
};

// The types along a chain, which is then deleted.
std::vector<int> consume(ZvLeaf* chain) {
  std::vector<int> out;
  for (ZvLeaf* l = chain; l; l = l->next) out.push_back(l->type);
  if (chain) zvDeleteAllLeaf(chain);
  return out;
}

std::vector<ZvLeaf*> handedOver;
void record(ZvLeaf* leaf) { handedOver.push_back(leaf); }

TEST_F(LeafTest, HolesInTheTypeNumberingHaveNoSizeAndNoShape) {
  for (int hole : {12, 13, 17, 18, 21}) EXPECT_EQ(zvLeafSize(hole), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_MESSAGE, "Undefined ZV leaf 21"));
  EXPECT_EQ(zvNewShape(12), nullptr);
  EXPECT_EQ(zvNewShape(ZV_LEAF_POINT_LIGHT), nullptr);  // its record is smaller than a shape
  EXPECT_EQ(zvNewCircleLeaf(ZV_LEAF_SPHERE, 1, 1), nullptr);
}

TEST_F(LeafTest, BuildersChainExactlyTheRequestedParts) {
  using V = std::vector<int>;
  EXPECT_EQ(consume(zvNewCylinder(ZV_PART_ALL, 2, 3, 4)), (V{4, 6, 5}));
  EXPECT_EQ(consume(zvNewCylinder(ZV_PART_SIDES | ZV_PART_TOP | ZV_PART_BOTTOM, 2, 3, 4)),
            (V{4, 6, 5}));
  EXPECT_EQ(consume(zvNewCylinder(ZV_PART_BOTTOM | ZV_PART_TOP, 2, 3, 4)), (V{6, 5}));
  EXPECT_EQ(consume(zvNewCone(ZV_PART_SIDES | ZV_PART_BOTTOM, 3, 4)), (V{2, 3}));
  EXPECT_EQ(zvNewCone(ZV_PART_TOP, 3, 4), nullptr);
  // Each closing circle takes the radius of its own end.
  ZvLeaf* ends = zvNewCylinder(ZV_PART_TOP | ZV_PART_BOTTOM, 2, 3, 4);
  EXPECT_EQ(static_cast<ZvCircle*>(ends)->radius, 2);
  EXPECT_EQ(static_cast<ZvCircle*>(ends->next)->radius, 3);
  zvDeleteAllLeaf(ends);
}

TEST_F(LeafTest, BuildersUndoPartialChainsWhenMemoryRunsOut) {
  // One block per leaf: failing the n-th allocation leaves n-1 leaves made.
  for (int fail = 0; fail < 3; ++fail) {
    memory.failAfter(fail);
    EXPECT_EQ(zvNewCylinder(ZV_PART_ALL, 1, 1, 1), nullptr) << fail;
    memory.failAfter(fail % 2);
    EXPECT_EQ(zvNewCone(ZV_PART_ALL, 1, 1), nullptr) << fail;
    EXPECT_EQ(memory.live(), 0) << fail;
  }
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewShape: zvMalloc failed\n 5"));
}

TEST_F(LeafTest, DeletingShapesFreesWhatTheyOwnAndTellsTheMediaModule) {
  handedOver.clear();
  zvSceneHooks().deleteLeafMedia = record;
  ZvText* text = zvNewTextLeaf();
  text->text = zvStrdup("two\nlines");
  text->texture.uvCount = 2;
  text->texture.uv = static_cast<ZvSFVec2f*>(zvMalloc(2 * sizeof(ZvSFVec2f)));
  ZvLineSet* lines = zvNewLineSetLeaf();
  lines->points = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f)));
  lines->indices = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
  ZvSFColor red{1, 0, 0};
  ZvMFColor reds{1, &red};
  ASSERT_EQ(zvSetLeafMaterialColor(lines, &reds, ZV_MAT_EMISSIVE), ZV_OK);
  text->next = lines;
  zvDeleteAllLeaf(text);  // the fixture checks that nothing is left
  EXPECT_EQ(handedOver, (std::vector<ZvLeaf*>{text, lines}));
}

TEST_F(LeafTest, DeletingAChainSparesWhatOtherModulesHold) {
  handedOver.clear();
  zvSceneHooks().deleteSoundLeaf = record;
  ZvLeaf* chain = zvNewCone(ZV_PART_SIDES, 1, 1);
  ZvCamera* camera = zvNewPerspectiveCameraLeaf();
  ZvLight* light = zvNewDirectionalLight();
  ZvSoundLeaf* sound = zvNewSoundLeaf();
  chain->next = camera;
  camera->next = light;
  light->next = sound;
  sound->next = zvNewSphereLeaf();
  zvDeleteAllLeaf(chain);
  EXPECT_EQ(memory.live(), 3);
  EXPECT_FLOAT_EQ(camera->focalDistance, 5.0f);  // the sanitiser guards the read
  EXPECT_EQ(light->type, ZV_LEAF_DIRECTIONAL_LIGHT);
  EXPECT_EQ(handedOver, std::vector<ZvLeaf*>{sound});
  zvSceneHooks().deleteSoundLeaf = nullptr;
  zvDeleteLeaf(sound);  // with no sound module the record is simply freed
  zvFree(camera);
  zvFree(light);
}

TEST_F(LeafTest, SearchesTakeOwnLeavesFirstThenChildrenDepthFirst) {
  top = child(nullptr);
  ZvObj* deep = child(child(top));
  ZvObj* second = child(top);
  ZvLeaf* face = zvNewFaceLeaf();
  ASSERT_EQ(zvAttachLeaf(top, face), ZV_OK);
  ASSERT_EQ(zvAttachLeaf(second, zvNewCone(ZV_PART_ALL, 1, 1)), ZV_OK);
  ASSERT_EQ(zvAttachLeaf(deep, zvNewCone(ZV_PART_BOTTOM, 1, 1)), ZV_OK);
  ASSERT_EQ(zvAttachLeaf(deep, zvNewSphereLeaf()), ZV_OK);
  EXPECT_EQ(deep->leaf->next->owner, deep);
  EXPECT_EQ(zvAttachLeaf(top, face), ZV_FAIL);  // twice would close a ring

  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_CONE_BOTTOM), deep->leaf);
  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_CONE_SIDE), second->leaf);
  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_SPOT_LIGHT), nullptr);
  // n counts within one object's chain; the subtree answers only when the
  // object's own chain is too short.
  EXPECT_EQ(zvGetNthLeaf(top, 0), face);
  EXPECT_EQ(zvGetNthLeaf(top, 1), deep->leaf->next);
  EXPECT_EQ(zvGetNthLeaf(top, 2), nullptr);
}

TEST_F(LeafTest, SearchesSurviveNestingDeeperThanTheThreadStack) {
  top = child(nullptr);
  ZvObj* o = top;
  for (int i = 0; i < 200000; ++i) o = child(o);
  zvAttachLeaf(o, zvNewSphereLeaf());
  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_SPHERE), o->leaf);
}

}  // namespace
