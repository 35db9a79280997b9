// testsupport.h — what every test of ours needs: a sink that records the
// reports, an allocator that can be told to fail, and a fixture that installs
// both and checks that nothing leaked.
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
  // True when some report of the class contains the text.
  bool has(int cls, const std::string& text) const;
  bool hasText(const std::string& text) const;
  int count(int cls) const;
  void clear() { reports_.clear(); }
  std::string dump() const;

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
  long failAfter_ = -1;
  long live_ = 0;
  long allocations_ = 0;
};

// Installs a recording sink and a counting allocator, resets the debug
// flags, identifier ranges and current world, and fails the test if any
// block is still live at the end.
class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  RecordingSink sink;
  CountingAllocator memory;
};

}  // namespace qmtest
