// treefixture.h — a world to hang test objects on. Every object made here is
// deleted with the world; light and camera leaves, which their objects do
// not own, are freed after it.
#pragma once

#include <vector>

#include "tests/support/testsupport.h"

namespace qmtest {

class TreeFixture : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    world = zvNewWorld("tree.wrl");
    ASSERT_NE(world, nullptr);
  }
  void TearDown() override {
    zvDeleteWorld(world);
    for (ZvLeaf* leaf : kept) zvFree(leaf);
    SceneTest::TearDown();
  }
  // A new object under parent, or a new top object when parent is null.
  ZvObj* make(ZvLeaf* leaf = nullptr, ZvObj* parent = nullptr, const char* name = nullptr) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(world, &o, 0), ZV_OK);
    EXPECT_EQ(parent ? zvAddChild(parent, o) : zvAddTopObject(o, nullptr), ZV_OK);
    if (name) o->strings[ZV_STR_NAME] = zvStrdup(name);
    if (leaf) {
      EXPECT_EQ(zvAttachLeaf(o, leaf), ZV_OK);
      if (!zvIsShapeLeaf(leaf)) kept.push_back(leaf);
    }
    return o;
  }
  ZvWorld* world = nullptr;
  std::vector<ZvLeaf*> kept;
};

}  // namespace qmtest
