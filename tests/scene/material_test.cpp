// Materials: array reuse and replacement, the renderer update after a set,
// and the accessor family on leaves, objects and subtrees.
#include <vector>

#include "tests/support/testsupport.h"

namespace {

std::vector<ZvLeaf*> updated;
int updateAnswer = 0;
int recordUpdate(ZvLeaf* leaf) { return updated.push_back(leaf), updateAnswer; }

class MaterialTest : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    updated.clear();
    updateAnswer = 0;
  }
};

// n colours whose red parts are base, base+1, ...
struct Colors {
  explicit Colors(int n, float base = 0) : values(n) {
    for (int i = 0; i < n; ++i) values[i] = {base + i, 0.5f, 0.25f};
    record = {n, values.data()};
  }
  std::vector<ZvSFColor> values;
  ZvMFColor record;
};

TEST_F(MaterialTest, SameSizeReusesTheArrayOtherSizeReplacesIt) {
  ZvShape* leaf = zvNewSphereLeaf();
  Colors one(1), three(3, 10), threeAgain(3, 20);
  ASSERT_EQ(zvSetLeafDiffuse(leaf, &one.record), ZV_OK);
  long before = memory.allocations();
  ASSERT_EQ(zvSetLeafDiffuse(leaf, &three.record), ZV_OK);
  ASSERT_EQ(zvSetLeafDiffuse(leaf, &threeAgain.record), ZV_OK);
  EXPECT_EQ(memory.allocations(), before + 1);
  EXPECT_FLOAT_EQ(leaf->material.diffuse.values[2].r, 22);

  // Out of memory while replacing: the leaf keeps what it had.
  memory.failAfter(0);
  EXPECT_EQ(zvSetLeafMaterial(leaf, &one.record, ZV_MAT_DIFFUSE), ZV_FAIL);
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvSetLeafMaterialColor : zvMalloc Failure"));
  ASSERT_EQ(leaf->material.diffuse.count, 3);
  EXPECT_FLOAT_EQ(leaf->material.diffuse.values[0].r, 20);
  zvDeleteLeaf(leaf);

  // A new colour array that fails at the record or at its array leaves nothing.
  const long base = memory.live();
  for (int fail = 0; fail < 2; ++fail) {
    memory.failAfter(fail);
    EXPECT_EQ(zvNewZvMFColor(4), nullptr);
    EXPECT_EQ(memory.live(), base);
  }
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewZvMFColor: zvMalloc failed"));
}

TEST_F(MaterialTest, EachAccessorReachesItsOwnArray) {
  ZvShape* leaf = zvNewSphereLeaf();
  ZvMaterial& m = leaf->material;
  Colors c1(1), c2(2), c3(3), c4(4);
  float f[6] = {};
  ZvMFFloat f5{5, f}, f6{6, f};
  ASSERT_EQ(zvSetLeafAmbient(leaf, &c1.record) | zvSetLeafDiffuse(leaf, &c2.record) |
                zvSetLeafSpecular(leaf, &c3.record) | zvSetLeafEmissive(leaf, &c4.record) |
                zvSetLeafShininess(leaf, &f5) | zvSetLeafTransparency(leaf, &f6),
            ZV_OK);
  EXPECT_EQ((std::vector<int>{m.ambient.count, m.diffuse.count, m.specular.count, m.emissive.count,
                              m.shininess.count, m.transparency.count, m.specularPower.count}),
            (std::vector<int>{1, 2, 3, 4, 5, 6, 0}));
  EXPECT_EQ(zvGetLeafTransparency(leaf), &m.transparency);
  EXPECT_EQ(zvGetLeafMaterial(leaf, 0), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGetLeafMaterial: attribute is invalid"));
  EXPECT_EQ(zvSetLeafMaterialFloat(leaf, &f5, ZV_MAT_DIFFUSE), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvSetLeafMaterialFloat: attribute is invalid"));
  zvDeleteLeaf(leaf);
}

TEST_F(MaterialTest, SetObjCoversAShapeChainAndAnswersTheRenderer) {
  ZvObj* shapes = make(zvNewCylinder(ZV_PART_ALL, 1, 1, 1));
  ZvObj* lit = make(zvNewPointLight());
  Colors c(1, 3);
  zvSceneHooks().renderUpdateMaterial = recordUpdate;
  EXPECT_EQ(zvSetObjEmissive(shapes, &c.record), ZV_OK);
  EXPECT_EQ(zvSetObjEmissive(lit, &c.record), ZV_OK);
  EXPECT_EQ(updated.size(), 3u);
  EXPECT_EQ(zvSetLeafEmissive(lit->leaf, &c.record), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvSetLeafMaterialColor: LeafType is invalid"));

  // A refused update ends the walk: the side has the new colours, the circles the old.
  updated.clear();
  updateAnswer = ZV_FAIL;
  Colors two(2);
  EXPECT_EQ(zvSetObjEmissive(shapes, &two.record), ZV_FAIL);
  EXPECT_EQ(updated.size(), 1u);
  EXPECT_EQ(static_cast<ZvShape*>(shapes->leaf)->material.emissive.count, 2);
  EXPECT_EQ(static_cast<ZvShape*>(shapes->leaf->next)->material.emissive.count, 1);
}

TEST_F(MaterialTest, SubtreeAccessorsGoDepthFirstInChildOrder) {
  ZvObj* top = make();
  ZvObj* first = make(zvNewPointLight(), top);
  ZvSphere* deep = zvNewSphereLeaf();
  make(deep, first);
  ZvSphere* later = zvNewSphereLeaf();
  make(later, top);
  EXPECT_EQ(zvGetObjDiffuse(first), nullptr);
  EXPECT_EQ(zvGetObjAllDiffuse(top), &deep->material.diffuse);

  float v = 0.75f;
  ZvMFFloat t{1, &v};
  EXPECT_EQ(zvSetObjAllTransparency(top, &t), ZV_OK);
  EXPECT_FLOAT_EQ(later->material.transparency.values[0], 0.75f);
  EXPECT_EQ(zvApplyObjAllMaterial(top), ZV_OK);  // no renderer: nothing to refuse
  zvSceneHooks().renderUpdateMaterial = recordUpdate;
  EXPECT_EQ(zvApplyObjAllMaterial(top), ZV_OK);
  EXPECT_EQ(updated, (std::vector<ZvLeaf*>{deep, later}));
  updated.clear();
  updateAnswer = ZV_FAIL;
  EXPECT_EQ(zvApplyObjAllMaterial(top), ZV_FAIL);
  EXPECT_EQ(updated, std::vector<ZvLeaf*>{deep});
}

// Faces made by the reader hold their six arrays in one block; a change
// must first give each its own, keeping every value, and leak nothing.
TEST_F(MaterialTest, PackedArraysSurviveAChangeAndTheirDelete) {
  ZvFace* face = zvNewFaceLeaf();
  ASSERT_EQ(zvPackLeafMaterial(face, 2), ZV_OK);
  face->material.emissive.values[1] = {0.5f, 0.25f, 0.125f};
  face->material.transparency.values[0] = 0.75f;
  make(face);
  memory.failAfter(0);
  Colors three(3, 7);
  EXPECT_EQ(zvSetLeafDiffuse(face, &three.record), ZV_NOMEM);  // unchanged, still packed
  EXPECT_TRUE(face->flags & ZV_LEAF_PACKED_MATERIAL);
  memory.failAfter(-1);
  ASSERT_EQ(zvSetLeafDiffuse(face, &three.record), ZV_OK);
  EXPECT_FALSE(face->flags & ZV_LEAF_PACKED_MATERIAL);
  EXPECT_EQ(face->material.diffuse.count, 3);
  EXPECT_FLOAT_EQ(face->material.diffuse.values[2].r, 9);
  EXPECT_FLOAT_EQ(face->material.emissive.values[1].b, 0.125f);
  EXPECT_FLOAT_EQ(face->material.transparency.values[0], 0.75f);
}

}  // namespace
