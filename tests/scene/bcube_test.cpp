// Bounding cubes: each leaf kind, the union over children in the parent's
// frame, and the invalidation walk after a move.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tests/support/testsupport.h"

namespace {

using Cube = std::vector<float>;

class BoundingCubeTest : public qmtest::TreeFixture {
 protected:
  static ZvFace* face(std::vector<ZvSFVec3f> points) {
    ZvFace* f = zvNewFaceLeaf();
    f->vertexCount = static_cast<int32_t>(points.size());
    f->vertices = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f) * points.size()));
    for (size_t i = 0; i < points.size(); ++i) f->vertices[i] = points[i];
    return f;
  }
  // {min x, y, z, max x, y, z}, rounded to 1e-4 so that hand-computed
  // numbers compare; empty when there is no cube.
  static Cube cube(ZvObj* o, bool parentFrame = false) {
    float mn[3], mx[3];
    int r = parentFrame ? zvGetObjParentBoundingCube(o, mn, mx) : zvGetObjBoundingCube(o, mn, mx);
    if (r != ZV_OK) return {};
    Cube c = {mn[0], mn[1], mn[2], mx[0], mx[1], mx[2]};
    for (float& v : c) v = std::round(v * 1e4f) / 1e4f;
    return c;
  }
};

TEST_F(BoundingCubeTest, EachLeafKindHasItsOwnShape) {
  ZvSphere* sphere = zvNewSphereLeaf();
  sphere->radius = 2;
  EXPECT_EQ(cube(make(sphere)), (Cube{-2, -2, -2, 2, 2, 2}));
  EXPECT_EQ(cube(make(zvNewCone(ZV_PART_ALL, 1, 4))), (Cube{-1, -2, -1, 1, 2, 1}));
  EXPECT_EQ(cube(make(zvNewCone(ZV_PART_BOTTOM, 1, 4))), (Cube{-1, -2, -1, 1, -2, 1}));
  EXPECT_EQ(cube(make(zvNewCylinder(ZV_PART_SIDES, 1, 3, 2))), (Cube{-3, -1, -3, 3, 1, 3}));
  EXPECT_EQ(cube(make(zvNewCylinder(ZV_PART_TOP, 1, 3, 2))), (Cube{-1, 1, -1, 1, 1, 1}));
  EXPECT_EQ(cube(make(zvNewCylinder(ZV_PART_TOP | ZV_PART_BOTTOM, 1, 3, 2))), (Cube{-3, -1, -3, 3, 1, 3}));
  ZvFace* faces = face({{0, 0, 0}, {1, 2, 0}});
  faces->next = face({{-1, 0, 5}});
  EXPECT_EQ(cube(make(faces)), (Cube{-1, 0, 0, 1, 2, 5}));
  // The scale applies to both corners of a leaf's cube.
  ZvObj* scaled = make(zvNewSphereLeaf());
  scaled->bcubeScale[0] = 3;
  EXPECT_EQ(cube(scaled), (Cube{-3, -1, -1, 3, 1, 1}));
  EXPECT_TRUE(sink.reports().empty());

  EXPECT_EQ(cube(make(zvNewPointLight())), Cube{});
  EXPECT_TRUE(sink.reports().empty());
  ZvObj* noPoints = make(zvNewPointSetLeaf());
  EXPECT_EQ(cube(noPoints), Cube{});
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvSetPointSetBoundingCube: obj has 0 vertex"));
  EXPECT_EQ(noPoints->flags & (ZV_OBJ_HAS_CUBE | ZV_OBJ_CUBE_VALID), uint32_t(ZV_OBJ_CUBE_VALID));
  EXPECT_EQ(cube(make(zvNewTextLeaf())), Cube{});
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvSetAsciiTextBoundingCube: not supported"));
  EXPECT_EQ(cube(make(zvNewCircleLeaf(ZV_LEAF_CIRCLE, 1, 1))), Cube{});
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "_zvSetLeafBoundingCube: unknwon leaf type: 7"));
  ZvLeaf* mixed = zvNewCone(ZV_PART_SIDES, 1, 1);
  mixed->next = zvNewSphereLeaf();
  EXPECT_EQ(cube(make(mixed)), Cube{});
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvSetConeBoundingCube: wrong leaf type"));
}

// The box a maker hands over with its faces stands for one walk over them:
// it is scaled like a walked one, and anything done to the leaves before
// the cube is asked for sends the cube back to the vertices.
TEST_F(BoundingCubeTest, AMakersBoxStandsInForTheWalkUntilTheLeavesChange) {
  const float lo[3] = {-1, 0, 0}, hi[3] = {1, 2, 5};
  ZvObj* o = make();
  o->bcubeScale[1] = 2;
  ASSERT_EQ(zvAttachFaceLeaves(o, face({{0, 0, 0}, {1, 2, 0}, {-1, 0, 5}}), lo, hi), ZV_OK);
  EXPECT_TRUE(o->flags & ZV_OBJ_LEAF_BOX);
  EXPECT_EQ(cube(o), (Cube{-1, 0, 0, 1, 4, 5}));
  EXPECT_FALSE(o->flags & ZV_OBJ_LEAF_BOX);  // taken once

  // An object that has leaves already takes no box: it would leave them out.
  const float tiny[3] = {0, 0, 0};
  ASSERT_EQ(zvAttachFaceLeaves(o, face({{3, 3, 3}}), tiny, tiny), ZV_OK);
  EXPECT_FALSE(o->flags & ZV_OBJ_LEAF_BOX);
  EXPECT_EQ(cube(o), (Cube{-1, 0, 0, 3, 6, 5}));

  // A leaf deleted before the cube is asked for drops the box.
  ZvObj* p = make();
  ZvFace* first = face({{9, 9, 9}});
  first->next = face({{0, 0, 0}, {1, 1, 1}});
  const float wide[3] = {0, 0, 0}, far[3] = {9, 9, 9};
  ASSERT_EQ(zvAttachFaceLeaves(p, first, wide, far), ZV_OK);
  p->leaf = zvDeleteLeaf(first);
  EXPECT_FALSE(p->flags & ZV_OBJ_LEAF_BOX);
  EXPECT_EQ(cube(p), (Cube{0, 0, 0, 1, 1, 1}));
  EXPECT_TRUE(sink.reports().empty());
}

TEST_F(BoundingCubeTest, AGroupHoldsItsChildrenAsPlacedInItsFrame) {
  ZvObj* group = make();
  ZvObj* flat = make(face({{0, 0, 0}, {2, 1, 0}}), group);
  // Turned about z by the 3-4-5 angle and lifted to z = 3: no corner pair
  // alone spans the turned box.
  ZvTransform turn = {{{0.6f, 0.8f, 0}, {-0.8f, 0.6f, 0}, {0, 0, 1}, {0, 0, 3}}};
  ASSERT_EQ(zvObjectRotateTrans(flat, &turn, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  ZvObj* ball = make(zvNewSphereLeaf(), group);
  float right[3] = {5, 0, 0};
  ASSERT_EQ(zvObjectTranslate(ball, right, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  make(zvNewPointLight(), group);  // no cube, adds nothing
  EXPECT_EQ(cube(flat, true), (Cube{-0.8f, 0, 3, 1.2f, 2.2f, 3}));
  EXPECT_EQ(cube(group), (Cube{-0.8f, -1, -1, 6, 2.2f, 3}));
  EXPECT_TRUE(sink.reports().empty());

  // A group's own scale applies to all it holds, as it is drawn.
  ZvObj* stretched = make();
  ZvObj* ball2 = make(zvNewSphereLeaf(), stretched);
  float up[3] = {0, 1, 0};
  ASSERT_EQ(zvObjectTranslate(ball2, up, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  stretched->bcubeScale[1] = 2;
  EXPECT_EQ(cube(stretched), (Cube{-1, 0, -1, 1, 4, 1}));
  EXPECT_NEAR(zvGetObjectWRT(ball2)->m[3][1], 2, 1e-6f);
  ZvObj* dark = make();  // children without cubes make none
  make(zvNewPointLight(), dark);
  EXPECT_EQ(cube(dark), Cube{});
}

TEST_F(BoundingCubeTest, AMoveInvalidatesTheAncestorsThatUsedTheOldPlace) {
  ZvObj* top = make();
  ZvObj* mid = make(nullptr, top);
  ZvObj* ball = make(zvNewSphereLeaf(), mid);
  ZvObj* other = make(zvNewSphereLeaf(), top);
  ASSERT_EQ(cube(top), (Cube{-1, -1, -1, 1, 1, 1}));
  const uint32_t both = ZV_OBJ_CUBE_VALID | ZV_OBJ_PCUBE_VALID;
  for (ZvObj* o : {top, mid, ball, other}) EXPECT_EQ(o->flags & both, both);

  float away[3] = {10, 0, 0};
  ASSERT_EQ(zvObjectTranslate(ball, away, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  EXPECT_EQ(ball->flags & both, uint32_t(ZV_OBJ_CUBE_VALID));  // its own shape did not change
  EXPECT_EQ(mid->flags & both, 0u);
  EXPECT_EQ(top->flags & both, 0u);
  EXPECT_EQ(other->flags & both, both);
  EXPECT_EQ(cube(top), (Cube{-1, -1, -1, 11, 1, 1}));

  // The walk stops at an ancestor whose own cube is already stale.
  int32_t stale = 0;
  ASSERT_EQ(zvSetObjAttribute(mid, 9, &stale), ZV_OK);
  ASSERT_EQ(zvObjectTranslate(ball, away, ZV_COORD_PARENT, ZV_TRANSFORM_COMPOSE), ZV_OK);
  EXPECT_EQ(mid->flags & both, uint32_t(ZV_OBJ_PCUBE_VALID));
  EXPECT_EQ(top->flags & both, both);
  EXPECT_EQ(cube(mid), (Cube{19, -1, -1, 21, 1, 1}));
}

// The parent-frame cube is taken from the extents where that gives the
// eight corners' box exactly; it must agree with the corners bit for bit,
// zeros' signs and non-finite transforms included.
TEST_F(BoundingCubeTest, TheParentFrameCubeIsTheCornersBoxBitForBit) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> any(-3, 3);
  const float inf = std::numeric_limits<float>::infinity();
  auto entry = [&](int kind) {
    switch (kind % 5) {
      case 0: return 0.0f;
      case 1: return -0.0f;
      case 2: return 1.0f;
      default: return any(random);
    }
  };
  for (int round = 0; round < 400; ++round) {
    ZvFace* f = face({{entry(round), entry(round / 5), any(random)}, {any(random), entry(round / 25), 0.0f}});
    ZvObj* o = make(f);
    for (int i = 0; i < 4; ++i)
      for (int c = 0; c < 3; ++c) o->lrt.m[i][c] = entry(int(random() % 7));
    if (round % 50 == 49) {
      // Infinities that meet with opposite signs at some corners only.
      f->vertices[0] = {-1, -2, 0};
      f->vertices[1] = {1, 2, 1};
      o->lrt.m[0][round % 3] = inf;
      o->lrt.m[1][round % 3] = round % 100 == 49 ? -inf : std::nanf("");
    }
    float own[2][3], parent[2][3];
    ASSERT_EQ(zvGetObjBoundingCube(o, own[0], own[1]), ZV_OK);
    ASSERT_EQ(zvGetObjParentBoundingCube(o, parent[0], parent[1]), ZV_OK);
    float expected[2][3];
    for (int corner = 0; corner < 8; ++corner) {
      const float p[3] = {own[(corner & 1) != 0][0], own[(corner & 2) != 0][1], own[(corner & 4) != 0][2]};
      float q[3];
      zvTransformPoint(&o->lrt, p, q);
      for (int c = 0; c < 3; ++c) {
        if (corner == 0 || q[c] < expected[0][c]) expected[0][c] = q[c];
        if (corner == 0 || q[c] > expected[1][c]) expected[1][c] = q[c];
      }
    }
    EXPECT_EQ(std::memcmp(parent, expected, sizeof parent), 0) << "round " << round;
  }
}

}  // namespace
