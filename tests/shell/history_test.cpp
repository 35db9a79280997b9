// The history list and the world cache behind Back, Forward and Reload.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "shell/shell.h"

namespace {

class History : public ::testing::Test {
 protected:
  void SetUp() override { zvClearHistory(); }
  void TearDown() override {
    zvClearHistory();
    zvClearWorldCache();
  }
  static ZvHistoryEntry* visit(const char* url) {
    ZvHistoryEntry* e = zvAddHistoryEntry(url);
    zvSetCurrentHistoryEntry(e);
    return e;
  }
  // Every URL from the head to the tail, read through the public links.
  static std::vector<std::string> urls() {
    ZvHistoryEntry* e = zvGetCurrentHistoryEntry();
    while (zvPrevHistoryEntry(e)) e = zvPrevHistoryEntry(e);
    std::vector<std::string> out;
    for (; e; e = zvNextHistoryEntry(e)) out.push_back(e->url);
    return out;
  }
};

TEST_F(History, VisitsAppendAndBackForwardWalkWithoutChangingTheList) {
  ZvHistoryEntry* a = visit("file:///a.wrl");
  EXPECT_EQ(zvPrevHistoryEntry(a), nullptr);  // Back disabled on the first entry
  ZvHistoryEntry* b = visit("file:///b.wrl");
  ZvHistoryEntry* c = visit("file:///c.wrl");
  EXPECT_EQ(zvPrevHistoryEntry(c), b);
  EXPECT_EQ(zvNextHistoryEntry(a), b);
  zvSetCurrentHistoryEntry(zvPrevHistoryEntry(zvGetCurrentHistoryEntry()));
  zvSetCurrentHistoryEntry(zvNextHistoryEntry(zvGetCurrentHistoryEntry()));
  EXPECT_EQ(zvGetCurrentHistoryEntry(), c);
  EXPECT_EQ((std::vector<std::string>{"file:///a.wrl", "file:///b.wrl", "file:///c.wrl"}), urls());
  EXPECT_EQ(zvNextHistoryEntry(nullptr), nullptr);
  EXPECT_EQ(zvPrevHistoryEntry(nullptr), nullptr);
}

TEST_F(History, ANewVisitAfterGoingBackForgetsTheForwardEntries) {
  ZvHistoryEntry* a = visit("A");
  visit("B");
  visit("C");
  zvSetCurrentHistoryEntry(a);  // Back twice
  ZvHistoryEntry* d = visit("D");
  EXPECT_EQ((std::vector<std::string>{"A", "D"}), urls());
  EXPECT_EQ(zvNextHistoryEntry(d), nullptr);  // Forward disabled
  EXPECT_EQ(zvPrevHistoryEntry(d), a);        // Back enabled
  // The same URL twice is two visits.
  visit("D");
  EXPECT_EQ((std::vector<std::string>{"A", "D", "D"}), urls());
  EXPECT_EQ(zvAddHistoryEntry(nullptr), nullptr);
  // Clearing forgets the entries and the reuse flag with them.
  zvSetHistoryReuse(1);
  zvClearHistory();
  EXPECT_EQ(zvGetHistoryReuse(), 0);
  EXPECT_EQ(zvGetCurrentHistoryEntry(), nullptr);
}

TEST_F(History, CachedWorldsStayLoadedUntilRemoved) {
  ZvWorld* a = zvNewWorld("file:///w/a.wrl");
  ZvWorld* upper = zvNewWorld("file:///w/A.wrl");
  ASSERT_TRUE(a && upper);
  ZvObj* object = nullptr;
  ASSERT_EQ(zvNewZvObj(a, &object, 0), 0);
  ASSERT_EQ(zvAddTopObject(object, "a.wrl"), 0);
  ASSERT_EQ(zvAddWorldToCache(a), 0);
  ASSERT_EQ(zvAddWorldToCache(upper), 0);
  // A hit hands back the very world, contents and all; case matters.
  EXPECT_EQ(zvGetCachedWorld("file:///w/a.wrl"), a);
  EXPECT_EQ(zvGetCachedWorld("file:///w/A.wrl"), upper);
  EXPECT_EQ(zvGetCachedWorld("file:///w/a.wrl"), a);
  EXPECT_EQ(a->objectCount, 1);
  EXPECT_EQ(zvGetCachedWorld("file:///w/b.wrl"), nullptr);
  EXPECT_EQ(zvGetCachedWorld(nullptr), nullptr);
  // Removing deletes the world; a second removal finds nothing.
  EXPECT_EQ(zvRemoveCachedWorld(upper), 0);
  EXPECT_EQ(zvGetCachedWorld("file:///w/A.wrl"), nullptr);
  EXPECT_EQ(zvGetCachedWorld("file:///w/a.wrl"), a);
  ZvWorld other{};
  other.url = const_cast<char*>("file:///w/b.wrl");
  EXPECT_EQ(zvRemoveCachedWorld(&other), -1);
  EXPECT_EQ(zvRemoveCachedWorld(nullptr), -1);
}

TEST_F(History, TheNewestOfTwoWorldsWithOneUrlIsFoundFirst) {
  ZvWorld* older = zvNewWorld("file:///same.wrl");
  ZvWorld* newer = zvNewWorld("file:///same.wrl");
  ASSERT_TRUE(older && newer);
  zvAddWorldToCache(older);
  zvAddWorldToCache(newer);
  EXPECT_EQ(zvGetCachedWorld("file:///same.wrl"), newer);
  EXPECT_EQ(zvRemoveCachedWorld(older), 0);  // by URL: the newest goes
  EXPECT_EQ(zvGetCachedWorld("file:///same.wrl"), older);
}

TEST_F(History, TheBudgetLetsTheLeastRecentlyShownGoButNeverTheWorldOnShow) {
  zvSetWorldCacheBudget(100);
  std::vector<ZvWorld*> w;
  for (const char* url : {"file:///a", "file:///b", "file:///c", "file:///d"}) {
    w.push_back(zvNewWorld(url));
    ASSERT_EQ(zvAddWorldToCache(w.back()), 0);
    ASSERT_EQ(zvSetCachedWorldSize(w.back(), 40), 0);
  }
  EXPECT_EQ(zvWorldCacheBytes(), 160u);
  EXPECT_EQ(zvCachedWorldSize(w[2]), 40u);
  // a was shown again after the others: b, the least recently shown, goes
  // first, then c; d is on show and a was kept.
  zvTouchCachedWorld(w[0]);
  zvSetCurrentWorld(w[3]);
  EXPECT_EQ(zvTrimWorldCache(w[0]), 2);
  EXPECT_EQ(zvGetCachedWorld("file:///b"), nullptr);
  EXPECT_EQ(zvGetCachedWorld("file:///c"), nullptr);
  EXPECT_EQ(zvGetCachedWorld("file:///a"), w[0]);
  EXPECT_EQ(zvGetCachedWorld("file:///d"), w[3]);
  EXPECT_EQ(zvWorldCacheBytes(), 80u);
  EXPECT_EQ(zvWorldCacheCount(), 2);
  // One world bigger than the whole budget stays while it is on show.
  ASSERT_EQ(zvSetCachedWorldSize(w[3], 500), 0);
  EXPECT_EQ(zvTrimWorldCache(w[3]), 1);
  EXPECT_EQ(zvGetCachedWorld("file:///d"), w[3]);
  EXPECT_EQ(zvWorldCacheBytes(), 500u);
  zvSetCurrentWorld(nullptr);
  EXPECT_EQ(zvTrimWorldCache(nullptr), 1);
  EXPECT_EQ(zvWorldCacheBytes(), 0u);
  zvSetWorldCacheBudget(0);
}

TEST(WorldCacheHeap, TheFigureWorldsAreWeighedWithFollowsAllocations) {
  size_t before = zvHeapBytesInUse();
  void* block = std::malloc(8 << 20);
  static_cast<char*>(block)[0] = 1;
  EXPECT_GE(zvHeapBytesInUse(), before + (8 << 20));
  std::free(block);
}

}  // namespace
