#include "tests/support/testsupport.h"

#include <cstdlib>

namespace qmtest {

RecordingSink::RecordingSink() { zvSetReportSink(&RecordingSink::sink, this); }
RecordingSink::~RecordingSink() { zvSetReportSink(nullptr, nullptr); }

void RecordingSink::sink(int cls, const char* text, int first, void* user) {
  static_cast<RecordingSink*>(user)->reports_.push_back({cls, text ? text : "", first});
}

bool RecordingSink::has(int cls, const std::string& text) const {
  for (const Report& r : reports_)
    if (r.cls == cls && r.text.find(text) != std::string::npos) return true;
  return false;
}

bool RecordingSink::hasText(const std::string& text) const {
  for (const Report& r : reports_)
    if (r.text.find(text) != std::string::npos) return true;
  return false;
}

int RecordingSink::count(int cls) const {
  int n = 0;
  for (const Report& r : reports_) n += r.cls == cls;
  return n;
}

std::string RecordingSink::dump() const {
  std::string out;
  for (const Report& r : reports_) out += std::to_string(r.cls) + ": " + r.text + "\n";
  return out;
}

// Each block carries a header in front so that realloc can find the start.
namespace {
constexpr size_t kHeader = alignof(std::max_align_t);
}

CountingAllocator::CountingAllocator() {
  ZvAllocator a{&CountingAllocator::alloc, &CountingAllocator::realloc, &CountingAllocator::free, this};
  zvSetAllocator(&a);
}
CountingAllocator::~CountingAllocator() { zvSetAllocator(nullptr); }

bool CountingAllocator::shouldFail() {
  if (failAfter_ < 0) return false;
  if (failAfter_ == 0) return true;
  --failAfter_;
  return false;
}

void* CountingAllocator::alloc(size_t size, void* user) {
  auto* self = static_cast<CountingAllocator*>(user);
  if (self->shouldFail()) return nullptr;
  void* p = std::malloc(size + kHeader);
  if (!p) return nullptr;
  ++self->live_;
  ++self->allocations_;
  return static_cast<char*>(p) + kHeader;
}

void* CountingAllocator::realloc(void* ptr, size_t size, void* user) {
  auto* self = static_cast<CountingAllocator*>(user);
  if (self->shouldFail()) return nullptr;
  void* p = std::realloc(static_cast<char*>(ptr) - kHeader, size + kHeader);
  if (!p) return nullptr;
  ++self->allocations_;
  return static_cast<char*>(p) + kHeader;
}

void CountingAllocator::free(void* ptr, void* user) {
  --static_cast<CountingAllocator*>(user)->live_;
  std::free(static_cast<char*>(ptr) - kHeader);
}

void SceneTest::SetUp() {
  zvResetDebugFlags();
  zvClearReportFailed();
  zvResetIdCounters();
  zvSetCurrentWorld(nullptr);
  zvSceneHooks() = ZvSceneHooks{};
}

void SceneTest::TearDown() {
  zvSetCurrentWorld(nullptr);
  zvSceneHooks() = ZvSceneHooks{};
  EXPECT_EQ(memory.live(), 0) << "blocks still allocated at the end of the test";
}

}  // namespace qmtest
