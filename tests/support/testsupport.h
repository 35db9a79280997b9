// What every scene test needs: a sink that records the reports, an allocator
// that can be told to fail, a fixture that installs both and fails the test on
// any leaked block, and a world to hang objects on.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/scene.h"

namespace qmtest {

struct Report {
  int cls;
  std::string text;
  int first;
};

// Records every report while alive; restores the stderr sink afterwards.
class RecordingSink {
 public:
  RecordingSink();
  ~RecordingSink();
  const std::vector<Report>& reports() const { return reports_; }
  bool has(int cls, const std::string& text) const;  // some report of cls contains text
  bool hasText(const std::string& text) const;       // of any class
  int count(int cls) const;
  void clear() { reports_.clear(); }
  std::string dump() const;
  std::string last() const { return reports_.empty() ? "" : reports_.back().text; }

 private:
  static void sink(int cls, const char* text, int first, void* user);
  std::vector<Report> reports_;
};

// Counts live blocks; fails every allocation after `failAfter` successes
// (-1: never fails).
class CountingAllocator {
 public:
  CountingAllocator();
  ~CountingAllocator();
  void failAfter(long n) { failAfter_ = n; }
  long live() const { return live_; }
  long allocations() const { return allocations_; }

 private:
  static void* alloc(size_t size, void* user);
  static void* realloc(void* ptr, size_t size, void* user);
  static void free(void* ptr, void* user);
  bool shouldFail();
  long failAfter_ = -1, live_ = 0, allocations_ = 0;
};

// Resets the debug flags, identifier ranges, current world and hooks.
class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  RecordingSink sink;
  CountingAllocator memory;
};

// A world that is deleted, with every object on it, at the end.
class TreeFixture : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    world = zvNewWorld("w.wrl");
    ASSERT_NE(world, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    SceneTest::TearDown();
  }
  // A new object (asking for an identifier) under parent, or a new top object.
  ZvObj* make(ZvLeaf* leaf = nullptr, ZvObj* parent = nullptr, const char* name = nullptr) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_OK);
    if (!o) return nullptr;
    EXPECT_EQ(parent ? zvAddChild(parent, o) : zvAddTopObject(o, "w.wrl"), ZV_OK);
    if (name) zvNameObject(o, name);
    if (leaf) {
      EXPECT_EQ(zvAttachLeaf(o, leaf), ZV_OK);
    }
    return o;
  }
  ZvWorld* world = nullptr;
};

}  // namespace qmtest
