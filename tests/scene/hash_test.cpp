#include <cstring>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

class HashTest : public qmtest::SceneTest {
 protected:
  void TearDown() override {
    zvDeleteHash(table);
    SceneTest::TearDown();
  }
  // Every key lands in bucket 0, so chains are long and order is visible.
  static uint32_t collide(const void*, int32_t, uint32_t) { return 0; }
  ZvHash* table = nullptr;
  int values[8] = {0, 1, 2, 3, 4, 5, 6, 7};
};

TEST_F(HashTest, DuplicateKeysAreFoundAndRemovedInInsertionOrder) {
  ASSERT_EQ(zvNewHash(7, &table, collide), ZV_OK);
  ASSERT_EQ(zvNewHashEntry(table, "k", 1, &values[1]), ZV_OK);
  ASSERT_EQ(zvNewHashEntry(table, "kk", 2, &values[2]), ZV_OK);
  ASSERT_EQ(zvNewHashEntry(table, "k", 1, &values[3]), ZV_OK);
  void* v = nullptr;
  ASSERT_EQ(zvLookupHash(table, "k", 1, &v), ZV_OK);
  EXPECT_EQ(v, &values[1]);
  ASSERT_EQ(zvRemoveHashEntry(table, "k", 1), ZV_OK);
  ASSERT_EQ(zvLookupHash(table, "k", 1, &v), ZV_OK);
  EXPECT_EQ(v, &values[3]);
  // Keys are compared by length too: "k" is not a prefix match of "kk".
  ASSERT_EQ(zvLookupHash(table, "kk", 2, &v), ZV_OK);
  EXPECT_EQ(v, &values[2]);
  EXPECT_EQ(zvLookupHash(table, "kkk", 3, &v), ZV_FAIL);
  const void* key = nullptr;
  int32_t length = 0;
  ASSERT_EQ(zvFindHashKey(table, &values[2], &key, &length), ZV_OK);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::memcmp(key, "kk", 2), 0);
  EXPECT_EQ(zvFindHashKey(table, &values[1], &key, &length), ZV_FAIL);
}

TEST_F(HashTest, FilterRemovesKeepsAndStopsAsAnswered) {
  ASSERT_EQ(zvNewHash(1, &table, collide), ZV_OK);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(zvNewHashEntry(table, &i, sizeof i, &values[i]), ZV_OK);
  // Remove the odd ones, keep the even ones, and stop (removing it) at 5.
  EXPECT_EQ(zvFilterHash(table, [](void* value, void*) {
    int v = *static_cast<int*>(value);
    return v == 5 ? int(ZV_HASH_REMOVE_STOP) : v % 2 ? int(ZV_HASH_REMOVE) : int(ZV_HASH_KEEP);
  }, nullptr), ZV_FAIL);
  std::vector<int> left;
  zvForEachHash(table, [](void* value, void* arg) {
    return static_cast<std::vector<int>*>(arg)->push_back(*static_cast<int*>(value)), 1;
  }, &left);
  EXPECT_EQ(left, (std::vector<int>{0, 2, 4}));
  // An unknown answer stops at once and removes nothing.
  EXPECT_EQ(zvFilterHash(table, [](void*, void*) { return 9; }, nullptr), ZV_FAIL);
  int seen = 0;
  EXPECT_EQ(zvForEachHash(table, [](void*, void* n) { return ++*static_cast<int*>(n) == 2 ? 0 : 1; }, &seen),
            ZV_FAIL);
  EXPECT_EQ(seen, 2);
}

TEST_F(HashTest, IdentifiersHashIntoRangeWhateverTheirSignAndSpreadTheLocalRange) {
  for (int32_t id : {-46341, -46340, -10000, -1, 1, 46341, INT32_MIN, INT32_MAX})
    EXPECT_LT(zvIdHashFunc(&id, sizeof id, 500), 500u) << id;
  std::vector<int> load(500);
  for (int32_t id = -10000; id < 0; ++id) ++load[zvIdHashFunc(&id, sizeof id, 500)];
  for (int n : load) EXPECT_LE(n, 40);
}

TEST_F(HashTest, OutOfMemoryIsReportedAndLeaksNothing) {
  memory.failAfter(1);  // the table, not its buckets
  EXPECT_EQ(zvNewHash(10, &table, zvIdHashFunc), ZV_NOMEM);
  EXPECT_EQ(table, nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewHash: Memory Allocation Failed."));
  memory.failAfter(-1);
  ASSERT_EQ(zvNewHash(10, &table, zvIdHashFunc), ZV_OK);
  memory.failAfter(0);
  int32_t id = 5;
  EXPECT_EQ(zvNewHashEntry(table, &id, sizeof id, &values[0]), ZV_NOMEM);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewHashEntry: Memory Allocation Failed."));
  EXPECT_EQ(zvLookupHash(table, &id, sizeof id, nullptr), ZV_FAIL);
}

}  // namespace
