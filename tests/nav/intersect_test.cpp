// Segment tests against each shape kind, the box test, and the segment
// search with its pruning and the person's own subtree left out.
#include <cmath>

#include "nav/nav.h"
#include "tests/nav/navtest.h"
#include "tests/render/rendertest.h"

namespace {

class Intersect : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    zvNavInstallHooks();
    zvSceneHooks().programDirectory = qmtest::sourceDataDir;
  }
  // Casts start -> start + dir at the object carrying a leaf below name.
  int cast(const char* name, std::initializer_list<float> s, std::initializer_list<float> d, float* t,
           ZvLeaf** leaf = nullptr, int* part = nullptr, float known = -1) {
    float start[3], end[3];
    int i = 0;
    for (float v : s) start[i++] = v;
    i = 0;
    for (float v : d) end[i] = start[i] + v, ++i;
    *t = known;
    return zvIntersectLineAndLeafObj(start, end, t, leafObj(named(name)), leaf, part, point);
  }
  // The person's search along start -> end: what it meets, at distance d
  // and point (d stays as given when nothing is met).
  ZvObj* search(const float start[3], const float end[3], float known = -1) {
    ZvObj* hit = nullptr;
    d = known;
    return zvFindZvObjByPerson(world, start, end, &d, &hit, &leafHit, &part, point) ? hit : nullptr;
  }
  float point[3] = {0, 0, 0}, d = -1, t = -1;
  ZvLeaf *leafHit = nullptr, *leaf = nullptr;
  int part = -1;
};

TEST_F(Intersect, SphereNearSideInsideAndBehind) {
  ASSERT_READ("DEF S Separator { Translation { translation 0 0 -5 } Sphere { radius 1 } }");
  ASSERT_EQ(cast("S", {0, 0, 0}, {0, 0, -1}, &t), 1);
  EXPECT_NEAR(t, 4, 1e-4);
  EXPECT_NEAR(point[2], -4, 1e-4);
  // From the centre the far side is met.
  ASSERT_EQ(cast("S", {0, 0, -5}, {0, 0, -1}, &t), 1);
  EXPECT_NEAR(t, 1, 1e-4);
  EXPECT_EQ(cast("S", {0, 0, 0}, {0, 0, 1}, &t), 0) << "behind the start";
  EXPECT_EQ(cast("S", {0, 0, 0}, {0, 0, -1}, &t, nullptr, nullptr, 3.5f), 0) << "farther than known";
  EXPECT_EQ(cast("S", {0, 2, 0}, {0, 0, -1}, &t), 0);
  // A segment is a ray: a short one still reaches.
  ASSERT_EQ(cast("S", {0, 0, 0}, {0, 0, -0.5f}, &t), 1);
  EXPECT_NEAR(t, 8, 1e-3);
}

TEST_F(Intersect, FaceInsideEdgeAndOutside) {
  ASSERT_READ("DEF F Separator { Coordinate3 { point [ -1 0 -1, 1 0 -1, 1 0 1, -1 0 1 ] }"
              " IndexedFaceSet { coordIndex [ 0, 1, 2, 3, -1 ] } }");
  ASSERT_EQ(cast("F", {0.5f, 2, 0.5f}, {0, -1, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 2, 1e-5);
  EXPECT_EQ(leaf->type, ZV_LEAF_FACE);
  EXPECT_NEAR(point[1], 0, 1e-5);
  EXPECT_EQ(cast("F", {1, 2, 0}, {0, -1, 0}, &t), 1) << "on an edge counts";
  EXPECT_EQ(cast("F", {1.5f, 2, 0}, {0, -1, 0}, &t), 0);
  // A slanted ray reads its parameter, not its length.
  ASSERT_EQ(cast("F", {0, 1, 0}, {0.5f, -2, 0}, &t), 1);
  EXPECT_NEAR(t, 0.5f, 1e-5);
  EXPECT_NEAR(point[0], 0.25f, 1e-5);
  // In the plane: from outside the outline is crossed at its edge.
  ASSERT_EQ(cast("F", {-3, 0, 0}, {1, 0, 0}, &t), 1);
  EXPECT_NEAR(t, 2, 1e-4);
}

TEST_F(Intersect, CylinderDiscsAndSide) {
  ASSERT_READ("DEF C Cylinder { radius 1 height 2 }");
  ASSERT_EQ(cast("C", {0.5f, 5, 0}, {0, -1, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 4, 1e-4);
  EXPECT_EQ(leaf->type, ZV_LEAF_CYLINDER_TOP);
  ASSERT_EQ(cast("C", {0, -5, 0}, {0, 1, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 4, 1e-4);
  EXPECT_EQ(leaf->type, ZV_LEAF_CYLINDER_BOTTOM);
  ASSERT_EQ(cast("C", {5, 0.5f, 0}, {-1, 0, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 4, 1e-4);
  EXPECT_EQ(leaf->type, ZV_LEAF_CYLINDER_SIDE);
  EXPECT_EQ(cast("C", {5, 1.5f, 0}, {-1, 0, 0}, &t), 0) << "level and above the top";
  EXPECT_EQ(cast("C", {1.5f, 5, 0}, {0, -1, 0}, &t), 0) << "beside it";
}

TEST_F(Intersect, ConeNarrowsToItsApex) {
  ASSERT_READ("DEF K Cone { bottomRadius 1 height 2 }");
  // Halfway up the radius is a half.
  ASSERT_EQ(cast("K", {5, 0, 0}, {-1, 0, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 4.5f, 1e-4);
  EXPECT_EQ(leaf->type, ZV_LEAF_CONE_SIDE);
  ASSERT_EQ(cast("K", {0, 5, 0}, {0, -1, 0}, &t), 1);
  EXPECT_NEAR(t, 4, 1e-3) << "the apex";
  ASSERT_EQ(cast("K", {0.9f, -5, 0}, {0, 1, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 4, 1e-4);
  EXPECT_EQ(leaf->type, ZV_LEAF_CONE_BOTTOM);
  EXPECT_EQ(cast("K", {0.9f, 5, 0}, {0, -1, 0}, &t, &leaf), 1);
  EXPECT_NEAR(t, 5 - (1 - 2 * 0.9f), 1e-3) << "side where the radius is 0.9";
  EXPECT_EQ(cast("K", {0, 1.5f, 0}, {1, 0, 0}, &t), 0) << "above the apex the mirrored cone is no part of it";
}

TEST_F(Intersect, LineAndPointSetsGiveTheirIndex) {
  ASSERT_READ("DEF L Separator { Coordinate3 { point [ 0 0 0, 1 0 0, 1 1 0, 1 1 1 ] }"
              " IndexedLineSet { coordIndex [ 0, 1, 2, 3, -1 ] } }"
              "DEF P Separator { Translation { translation 0 0 -10 } Coordinate3 { point [ 0 0 0, 2 0 0, 4 0 0 ] }"
              " PointSet { } }");
  int part = -1;
  ASSERT_EQ(cast("L", {1, 0.5f, 5}, {0, 0, -1}, &t, nullptr, &part), 1);
  EXPECT_EQ(part, 1);
  EXPECT_NEAR(t, 5 - 0.05f, 1e-3);
  ASSERT_EQ(cast("P", {2, 0, 0}, {0, 0, -1}, &t, nullptr, &part), 1);
  EXPECT_EQ(part, 1);
  EXPECT_NEAR(t, 10 - 0.05f, 1e-3);
  EXPECT_EQ(cast("P", {3, 0, 0}, {0, 0, -1}, &t), 0) << "between the points";
}

TEST_F(Intersect, BoxFromInsideIsHitAtTheStart) {
  ASSERT_READ("DEF B Separator { Translation { translation 0 0 -5 } Cube { } }");
  ZvObj* b = leafObj(named("B"));
  float t = -1, p[3];
  const float inside[3] = {0.5f, 0.5f, -5.5f}, on[3] = {0.5f, 0.5f, -6.5f};
  ASSERT_EQ(zvIntersectLineAndObjBox(inside, on, b, &t, p), 1);
  EXPECT_EQ(t, 0);
  EXPECT_NEAR(p[2], -5.5f, 1e-6);
  const float out[3] = {0, 0, 0}, ahead[3] = {0, 0, -1};
  ASSERT_EQ(zvIntersectLineAndObjBox(out, ahead, b, &t, p), 1);
  EXPECT_NEAR(t, 4, 1e-5);
  const float aside[3] = {3, 0, 0}, aside2[3] = {3, 0, -1};
  EXPECT_EQ(zvIntersectLineAndObjBox(aside, aside2, b, &t, p), 0);
}

TEST_F(Intersect, SearchFindsTheNearestAndPrunesWhatLiesBehind) {
  ASSERT_READ("DEF Near Separator { Translation { translation 0 0 -4 } Cube { } }"
              "DEF Far Separator { Translation { translation 0 0 -9 } Cube { } }");
  // A face keeps its plane normal once a test has worked it out.
  for (const char* name : {"Near", "Far"})
    for (ZvLeaf* l = leafObj(named(name))->leaf; l; l = l->next) static_cast<ZvFace*>(l)->orthoNormalValid = 0;
  const float start[3] = {0, 0, 0}, end[3] = {0, 0, -1}, up[3] = {0, 1, 0};
  EXPECT_EQ(search(start, end), leafObj(named("Near")));
  EXPECT_NEAR(d, 3, 1e-5);
  EXPECT_NEAR(point[2], -3, 1e-5);
  ASSERT_NE(leafHit, nullptr);
  EXPECT_EQ(static_cast<ZvFace*>(leafHit)->orthoNormalValid, 1);
  // The far cube's box lay beyond the hit: none of its faces was looked at.
  for (ZvLeaf* l = leafObj(named("Far"))->leaf; l; l = l->next)
    EXPECT_EQ(static_cast<ZvFace*>(l)->orthoNormalValid, 0);
  // A known distance nearer than everything leaves it as it was.
  EXPECT_EQ(search(start, end, 2), nullptr);
  EXPECT_EQ(d, 2);
  EXPECT_EQ(search(start, up), nullptr);
  EXPECT_EQ(d, -1);
}

// A Scale carries its object's subtree with it, and the search meets the
// shapes where they are drawn: three times as large and as far.
TEST_F(Intersect, AScaledSubtreeIsHitWhereItIsDrawn) {
  ASSERT_READ("Scale { scaleFactor 3 3 3 }\nDEF Big Separator { Translation { translation 0 0 -2 } Sphere { } }");
  const float start[3] = {0, 0, 0}, ahead[3] = {0, 0, -1};
  ASSERT_NE(search(start, ahead), nullptr);
  EXPECT_NEAR(d, 3, 1e-3);
  EXPECT_NEAR(point[2], -3, 1e-3);
  const float high[3] = {0, 2.5f, 0}, highAhead[3] = {0, 2.5f, -1};
  ASSERT_NE(search(high, highAhead), nullptr);
  EXPECT_NEAR(point[2], -6 + std::sqrt(9 - 2.5f * 2.5f), 1e-3);
  const float wide[3] = {0, 3.2f, 0}, wideAhead[3] = {0, 3.2f, -1};
  EXPECT_EQ(search(wide, wideAhead), nullptr);
}

TEST_F(Intersect, ThePersonsOwnSubtreeIsNeverHit) {
  ASSERT_READ("DEF Wall Separator { Translation { translation 0 1 -6 } Cube { width 4 height 2 depth 0.2 } }");
  ASSERT_EQ(zvAddPersonToWorld(world), ZV_OK) << sink.dump();
  // From inside the figure, along its own body.
  const float start[3] = {0, 0.8f, 0}, end[3] = {0, 0.8f, -1};
  ZvObj* hit = nullptr;
  ASSERT_NE(zvFindZvObjByPerson(world, start, end, &d, &hit, nullptr, nullptr, nullptr), nullptr);  // outputs optional
  EXPECT_EQ(hit, leafObj(named("Wall")));
  EXPECT_NEAR(d, 5.9f, 1e-4);
  // The same search over every top object meets the figure first.
  ZvObjList* all = nullptr;
  ZvObjList cells[8];
  int n = 0;
  for (ZvTopObjList* t = world->topObjects; t && n < 8; t = t->next, ++n) cells[n] = ZvObjList{all, t->object}, all = &cells[n];
  d = -1;
  ASSERT_NE(zvFindZvObjByLine(all, start, end, &d, &hit, nullptr, nullptr, nullptr), nullptr);
  EXPECT_LT(d, 1);
  EXPECT_EQ(zvFindZvObjByPerson(nullptr, start, end, &d, &hit, nullptr, nullptr, nullptr), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvFindZvObjByPerson: world is NULL"));
}

}  // namespace
