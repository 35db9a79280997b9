#include <cstring>

#include "tests/support/testsupport.h"

namespace {

// +90 degrees about y: x goes to -z, z goes to +x.
const ZvTransform kTurn = {{{0, 0, -1}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0}}};

void expectRow(const float* row, float x, float y, float z) {
  EXPECT_NEAR(row[0], x, 1e-5f);
  EXPECT_NEAR(row[1], y, 1e-5f);
  EXPECT_NEAR(row[2], z, 1e-5f);
}

class TransformTest : public qmtest::TreeFixture {
 protected:
  ZvObj* below(ZvObj* parent) { return make(nullptr, parent); }
};

TEST_F(TransformTest, ComposeAppliesRightOperandFirst) {
  ZvTransform move;
  zvTransformIdentity(&move);
  move.m[3][0] = 2;  // translate +2 in x
  ZvTransform a, b;
  zvTransformCompose(&a, &kTurn, &move);  // move, then turn: (2,0,0) -> (0,0,-2)
  zvTransformCompose(&b, &move, &kTurn);  // turn, then move
  float origin[3] = {0, 0, 0}, x[3] = {1, 0, 0}, p[3];
  zvTransformPoint(&a, origin, p);
  expectRow(p, 0, 0, -2);
  zvTransformPoint(&b, origin, p);
  expectRow(p, 2, 0, 0);
  zvTransformPoint(&b, x, p);
  expectRow(p, 2, 0, -1);
  ZvTransform inv, back;
  zvTransformInvert(&inv, &a);
  zvTransformCompose(&back, &inv, &a);
  for (int r = 0; r < 4; ++r) expectRow(back.m[r], r == 0, r == 1, r == 2);
}

TEST_F(TransformTest, OwnAndParentCompositionDiffer) {
  ZvObj* o = make();
  ASSERT_EQ(zvObjectRotateTrans(o, &kTurn, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  const float step[3] = {1, 0, 0};
  ASSERT_EQ(zvObjectTranslate(o, step, ZV_COORD_OWN, ZV_TRANSFORM_COMPOSE), ZV_OK);
  expectRow(zvGetObjectWRT(o)->m[3], 0, 0, -1);  // along its own x, which is -z
  ASSERT_EQ(zvObjectTranslate(o, step, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  expectRow(zvGetObjectWRT(o)->m[3], 1, 0, -1);  // along the parent's x
  expectRow(zvGetObjectWRT(o)->m[0], 0, 0, -1);  // rotation unchanged
}

TEST_F(TransformTest, WorldTransformFollowsTheChainLazily) {
  ZvObj* a = make();
  ZvObj* b = below(a);
  ZvObj* c = below(b);
  const float up[3] = {0, 1, 0}, right[3] = {3, 0, 0};
  zvObjectTranslate(b, up, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  zvObjectTranslate(c, right, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  expectRow(zvGetObjectWRT(c)->m[3], 3, 1, 0);
  ZvTransform before = c->lrt;
  ASSERT_EQ(zvObjectRotateTrans(a, &kTurn, ZV_COORD_WORLD, ZV_TRANSFORM_SET), ZV_OK);
  EXPECT_FALSE(c->flags & ZV_OBJ_WRT_VALID);
  EXPECT_EQ(std::memcmp(&before, &c->lrt, sizeof before), 0);  // children keep their LRT
  expectRow(zvGetObjectWRT(c)->m[3], 0, 1, -3);
  EXPECT_TRUE(b->flags & ZV_OBJ_WRT_VALID);
  ASSERT_EQ(zvValidateChildWRT(a), ZV_OK);
}

TEST_F(TransformTest, SettingInWorldCoordinatesDerivesTheLocal) {
  ZvObj* a = make();
  ZvObj* b = below(a);
  const float t[3] = {5, 0, 0}, origin[3] = {0, 0, 0};
  zvObjectRotateTrans(a, &kTurn, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  zvObjectTranslate(a, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  // Place b at the world origin, keeping its world rotation.
  ASSERT_EQ(zvObjectTranslate(b, origin, ZV_COORD_WORLD, ZV_TRANSFORM_SET), ZV_OK);
  expectRow(zvGetObjectWRT(b)->m[3], 0, 0, 0);
  expectRow(zvGetObjectWRT(b)->m[0], 0, 0, -1);
  // a maps its own z to world +x, so world (-5,0,0) from a is a's -z.
  expectRow(b->lrt.m[3], 0, 0, -5);
  b->flags &= ~uint32_t(ZV_OBJ_WRT_VALID);
  expectRow(zvGetObjectWRT(b)->m[3], 0, 0, 0);
}

int queued = 0;

TEST_F(TransformTest, OnlyEffectiveChangesReachTheRenderer) {
  queued = 0;
  zvSceneHooks().renderAddMovedObj = [](ZvObj*) { return ++queued, 0; };
  ZvObj* o = make();
  const float t[3] = {1, 2, 3};
  zvObjectTranslate(o, t, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
  EXPECT_EQ(queued, 1);
  zvObjectTranslate(o, t, ZV_COORD_WORLD, ZV_TRANSFORM_SET);  // same values
  EXPECT_EQ(queued, 1);
  zvObjectRotateTrans(o, &o->lrt, ZV_COORD_PARENT, ZV_TRANSFORM_SET);  // always counts
  EXPECT_EQ(queued, 2);
  EXPECT_EQ(zvObjectRotateTrans(o, &o->lrt, 3, ZV_TRANSFORM_SET), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvObjectRotateTrans() : invalid coordinate system"));
  EXPECT_EQ(queued, 2);
  zvSceneHooks().renderAddMovedObj = [](ZvObj*) { return -1; };
  EXPECT_EQ(zvObjectTranslate(o, t, ZV_COORD_OWN, ZV_TRANSFORM_COMPOSE), ZV_FAIL);
}

TEST_F(TransformTest, NullChildEntryStopsTheWalk) {
  ZvObj* a = make();
  below(a);
  a->children->next = static_cast<ZvObjList*>(zvMalloc(sizeof(ZvObjList)));
  const float t[3] = {1, 0, 0};
  EXPECT_EQ(zvObjectTranslate(a, t, ZV_COORD_OWN, ZV_TRANSFORM_COMPOSE), ZV_NULL_CHILD);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvValidateChildWRT: child list contains NULL entry."));
  expectRow(a->lrt.m[3], 1, 0, 0);  // the object itself already changed
  EXPECT_EQ(zvValidateChildWRT(a), ZV_NULL_CHILD);
}

TEST_F(TransformTest, PointInBoxIncludesItsFaces) {
  ZvObj* o = make(zvNewSphereLeaf());  // radius 1
  const float t[3] = {10, 0, 0};
  zvObjectTranslate(o, t, ZV_COORD_WORLD, ZV_TRANSFORM_SET);
  const float inside[3] = {10.5f, 0, 0}, face[3] = {11, 0, 0}, outside[3] = {11.01f, 0, 0};
  EXPECT_EQ(zvIsPointInObjBox(inside, o), 1);
  EXPECT_EQ(zvIsPointInObjBox(face, o), 1);
  EXPECT_EQ(zvIsPointInObjBox(outside, o), 0);
  EXPECT_EQ(zvIsPointInObjBox(inside, make()), 0);  // no cube, no point
}

TEST_F(TransformTest, DeepChainsNeedNoRecursion) {
  ZvObj* root = make();
  ZvObj* last = root;
  const float t[3] = {0.5f, 0, 0};
  for (int i = 0; i < 20000; ++i) {
    last = below(last);
    zvObjectTranslate(last, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  }
  expectRow(zvGetObjectWRT(last)->m[3], 10000, 0, 0);
  zvObjectTranslate(root, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
  expectRow(zvGetObjectWRT(last)->m[3], 10000.5f, 0, 0);
  EXPECT_EQ(zvDeleteZvObj(root), ZV_OK);
}

}  // namespace
