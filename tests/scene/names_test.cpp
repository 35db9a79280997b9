// Names: dotted paths from the world and from a root, the recursive search
// with its sibling rule, and names and comments inherited from parents.
#include "tests/support/testsupport.h"

namespace {

class NameTest : public qmtest::TreeFixture {};

TEST_F(NameTest, PathsTakeTheFirstMatchAtEachStepAndSkipSingleDots) {
  ZvObj* house = make(nullptr, nullptr, "house");
  ZvObj* door = make(nullptr, house, "door");
  ZvObj* handle = make(nullptr, door, "handle");
  make(nullptr, make(nullptr, house, "door"), "handle");
  make(nullptr, make(nullptr, nullptr, "house"), "window");

  EXPECT_EQ(zvGetObjByNameInWorld(world, "house.door.handle"), handle);
  EXPECT_EQ(zvGetObjByNameInWorld(world, ".house.door"), door);
  EXPECT_EQ(zvGetObjByNameInWorld(world, "house.door."), door);
  // Only the first "house" is a start: the second one's window is not found.
  EXPECT_EQ(zvGetObjByNameInWorld(world, "house.window"), nullptr);
  // The empty segment between two dots names nothing.
  EXPECT_EQ(zvGetObjByNameInWorld(world, "house..door"), nullptr);
  EXPECT_EQ(zvGetObjByPath(house, "door.handle"), handle);
  EXPECT_EQ(zvGetObjByPath(house, ""), house);
  EXPECT_EQ(zvGetObjByPath(house, "handle"), nullptr);  // children only, not deeper

  EXPECT_EQ(zvGetObjByName("house"), nullptr);  // no current world
  zvSetCurrentWorld(world);
  EXPECT_EQ(zvGetObjByName("house.door.handle"), handle);
}

TEST_F(NameTest, FindIsPreOrderAndAChildlessRootGoesOnToLaterSiblings) {
  ZvObj* root = make(nullptr, nullptr, "root");
  ZvObj* a = make(nullptr, root, "a");
  ZvObj* b = make(nullptr, root, "b");
  ZvObj* deep = make(nullptr, b, "t");
  ZvObj* c = make(nullptr, root, "t");
  ZvObj* lone = make(nullptr, nullptr, "lone");
  make(nullptr, nullptr, "other");

  EXPECT_EQ(zvFindObjByName(root, "root"), root);
  EXPECT_EQ(zvFindObjByName(root, "t"), deep);  // b's subtree comes before c
  EXPECT_EQ(zvFindObjByName(a, "t"), deep);     // a has no children: its later siblings
  EXPECT_EQ(zvFindObjByName(c, "t"), c);
  EXPECT_EQ(zvFindObjByName(c, "b"), nullptr);  // earlier siblings are not searched
  EXPECT_EQ(zvFindObjByName(b, "a"), nullptr);  // b has children: its subtree only
  EXPECT_EQ(zvFindObjByName(lone, "other"), nullptr);  // a childless top object tests itself only
}

TEST_F(NameTest, NamesAndCommentsComeFromTheNearestAncestorThatHasOne) {
  ZvObj* top = make(nullptr, nullptr, "top");
  ZvObj* mid = make(nullptr, top);
  ZvObj* low = make(nullptr, mid);
  top->strings[ZV_STR_COMMENT] = zvStrdup("a top comment");
  EXPECT_STREQ(zvGetObjName(low), "top");
  EXPECT_STREQ(zvGetObjComment(low), "a top comment");
  EXPECT_EQ(zvNameObject(mid, "mid"), mid->strings[ZV_STR_NAME]);  // the stored copy
  EXPECT_STREQ(zvGetObjName(low), "mid");

  // A rename that runs out of memory keeps the old name.
  memory.failAfter(0);
  EXPECT_EQ(zvNameObject(mid, "renamed"), nullptr);
  memory.failAfter(-1);
  EXPECT_STREQ(mid->strings[ZV_STR_NAME], "mid");
}

}  // namespace
