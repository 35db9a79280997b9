// Object values: typed names, text forms, read-only values, reuse of freed
// cells and the failure paths, each of which must leave nothing behind.
#include <string>
#include <vector>

#include "tests/support/testsupport.h"

namespace {

class ObjValueTest : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    obj = make();
  }
  // Names of the cells in list order; "-" for a free cell.
  std::vector<std::string> cells() const {
    std::vector<std::string> names;
    for (auto* v = static_cast<ZvObjValue*>(zvGetObjExtension(obj, zvObjectValue)); v; v = v->next)
      names.push_back(v->name ? v->name : "-");
    return names;
  }
  ZvObj* obj = nullptr;
};

TEST_F(ObjValueTest, OneNameMayExistOncePerTypeAndReadOnlyValuesKeepTheirValue) {
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_FLOAT, "speed", "1.5", 1), "1.500000");
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_STRING, "speed", "fast", 1), "fast");
  EXPECT_EQ(zvNewObjValue(obj, ZV_VALUE_STRING, "speed", "slow", 1), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewObjValue:[speed] already exists."));
  EXPECT_EQ(zvDeleteObjValue(obj, ZV_VALUE_FLOAT, "speed"), ZV_OK);
  EXPECT_STREQ(zvGetObjValue(obj, ZV_VALUE_STRING, "speed"), "fast");
  EXPECT_EQ(zvGetObjValue(obj, ZV_VALUE_FLOAT, "speed"), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "can't find variable[speed]."));
  EXPECT_EQ(zvGetObjValue(obj, ZV_VALUE_STRING, "spee"), nullptr);
  ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_INT, "fixed", "5", 0), nullptr);
  EXPECT_EQ(zvSetObjValue(obj, ZV_VALUE_INT, "fixed", "6"), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "_zvSetObjValue:[fixed] permision denied."));
  EXPECT_STREQ(zvGetObjValue(obj, ZV_VALUE_INT, "fixed"), "5");
}

TEST_F(ObjValueTest, TextFormsFollowTheTypeAndStringsStopAt255) {
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_LONG, "l", "-42", 1), "-42");
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_INT, "i", "7 apples", 1), "7");
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_FLOAT, "f", "0.25", 1), "0.250000");
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_STRING, "s", nullptr, 1), "");
  EXPECT_STREQ(zvNewObjValue(obj, ZV_VALUE_INT, "missing", nullptr, 1), "");
  EXPECT_STREQ(zvSetObjValue(obj, ZV_VALUE_INT, "missing", "12"), "12");

  const std::string longest(255, 'x');
  EXPECT_EQ(zvSetObjValue(obj, ZV_VALUE_STRING, "s", longest.c_str()), longest);
  EXPECT_EQ(zvSetObjValue(obj, ZV_VALUE_STRING, "s", (longest + "y").c_str()), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "_zvObjValueStr2Ptr: string variable length too long."));
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvSetObjValue:[s] can't alloc."));
  EXPECT_EQ(zvGetObjValue(obj, ZV_VALUE_STRING, "s"), longest);
  // A new value whose text is refused does not stay behind half-made.
  EXPECT_EQ(zvNewObjValue(obj, ZV_VALUE_STRING, "t", (longest + "y").c_str(), 1), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewValue:[t] can't alloc."));
  EXPECT_EQ(zvGetObjValue(obj, ZV_VALUE_STRING, "t"), nullptr);
}

TEST_F(ObjValueTest, FreedCellsAreReusedExceptTheLastOne) {
  for (const char* n : {"a", "b", "c"}) ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_INT, n, "1", 1), nullptr);
  ASSERT_EQ(zvDeleteObjValue(obj, ZV_VALUE_INT, "a"), ZV_OK);
  ASSERT_EQ(zvDeleteObjValue(obj, ZV_VALUE_INT, "c"), ZV_OK);
  ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_INT, "d", "1", 1), nullptr);
  EXPECT_EQ(cells(), (std::vector<std::string>{"d", "b", "-"}));
  ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_INT, "e", "1", 1), nullptr);
  ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_INT, "f", "1", 1), nullptr);
  EXPECT_EQ(cells(), (std::vector<std::string>{"d", "b", "f", "e"}));
  zvDeleteAllObjValue(obj);
  EXPECT_EQ(obj->extensions, nullptr);
}

TEST_F(ObjValueTest, RunningOutOfMemoryAnywhereLeavesNoBlockBehind) {
  ASSERT_NE(zvNewObjValue(obj, ZV_VALUE_STRING, "old", "x", 1), nullptr);
  // A first value takes four blocks (name, cell, extension, text): fail at
  // each in turn. The set after it always finds the allocator failing.
  for (long n = 0; n < 4; ++n) {
    ZvObj* fresh = make();
    memory.failAfter(n);
    EXPECT_EQ(zvNewObjValue(fresh, ZV_VALUE_STRING, "v", "text", 1), nullptr) << n;
    EXPECT_EQ(zvSetObjValue(obj, ZV_VALUE_STRING, "old", "new"), nullptr) << n;
    memory.failAfter(-1);
    EXPECT_STREQ(zvGetObjValue(obj, ZV_VALUE_STRING, "old"), "x") << n;
    EXPECT_EQ(zvDeleteZvObj(fresh), ZV_OK);
  }
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewValue:[zvRegisterObjExtension] fail."));
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvSetObjValue:[old] can't alloc."));
}

}  // namespace
