// Field values: single-value arrays, counted multi-values and string lists.
#include "tests/support/testsupport.h"

namespace {

class FieldTest : public qmtest::SceneTest {};

TEST_F(FieldTest, BadCountsAndSourcesMakeNothing) {
  EXPECT_EQ(zvGFnewSFColor(0), nullptr);
  EXPECT_EQ(zvGFnewSFVec3f(-4), nullptr);
  EXPECT_TRUE(sink.reports().empty()) << sink.dump();
  ZvMFFloat* f = zvGFnewMFFloat(0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->values, nullptr);
  zvGFdeleteMFFloat(f);

  ZvMFColor* dst = zvGFnewMFColor(1);
  ZvMFColor empty{0, nullptr}, hollow{3, nullptr};
  EXPECT_EQ(zvGFcopyMFColor(nullptr, dst), ZV_FAIL);
  EXPECT_EQ(zvGFcopyMFColor(dst, &empty), ZV_FAIL);
  EXPECT_EQ(zvGFcopyMFColor(dst, &hollow), ZV_FAIL);
  EXPECT_EQ(zvGFnewCopyMFColor(nullptr), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGFcopyMFColor: Invalid argument."));
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGFcopyMFColor: Invalid argument's pSrc."));
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvGFnewCopyMFColor: Invalid argument."));
  ZvMFColor* copy = zvGFnewCopyMFColor(dst);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->values, dst->values);
  zvGFdeleteMFColor(dst);
  zvGFdeleteMFColor(copy);
}

TEST_F(FieldTest, AllocationFailuresNameTheTypeAndTheRoutine) {
  memory.failAfter(0);
  EXPECT_EQ(zvGFnewSFColor(2), nullptr);
  EXPECT_EQ(zvGFnewMFString(), nullptr);
  memory.failAfter(1);  // the record, but not its array
  EXPECT_EQ(zvGFnewMFInt32(3), nullptr);
  memory.failAfter(-1);
  ASSERT_EQ(sink.reports().size(), 3u) << sink.dump();
  EXPECT_EQ(sink.count(ZV_DEBUG_MESSAGE), 3);
  EXPECT_EQ(sink.reports()[0].text, "zvGFnewSFColor: cannot allocate memory for ZvSFColor.");
  EXPECT_EQ(sink.reports()[1].text, "zvGFnewMFString: cannot allocate memory for ZvMFString.");
  EXPECT_EQ(sink.reports()[2].text, "zvGFnewMFInt32: cannot allocate memory for ZvMFInt32.");
  EXPECT_FALSE(zvReportFailed());  // not fatal, unlike leaves
}

TEST_F(FieldTest, CopyNeverShrinksTheDestination) {
  ZvMFVec3f *dst = zvGFnewMFVec3f(5), *src = zvGFnewMFVec3f(2), *big = zvGFnewMFVec3f(7);
  zvGFsetSFVec3f(&dst->values[4], -1, -1, -1);
  zvGFsetSFVec3f(&src->values[1], 1, 2, 3);
  zvGFsetSFVec3f(&big->values[6], 6, 6, 6);
  ZvSFVec3f* storage = dst->values;
  ASSERT_EQ(zvGFcopyMFVec3f(dst, src), ZV_OK);
  EXPECT_EQ(dst->count, 2);
  EXPECT_EQ(dst->values, storage);
  EXPECT_FLOAT_EQ(dst->values[1].z, 3);
  EXPECT_FLOAT_EQ(dst->values[4].x, -1);  // still there and untouched
  ASSERT_EQ(zvGFcopyMFVec3f(src, big), ZV_OK);
  EXPECT_EQ(src->count, 7);
  EXPECT_FLOAT_EQ(src->values[6].y, 6);
  // A copy that cannot grow leaves the destination as it was.
  memory.failAfter(0);
  EXPECT_EQ(zvGFcopyMFVec3f(dst, big), ZV_NOMEM);
  memory.failAfter(-1);
  EXPECT_EQ(dst->count, 2);
  for (ZvMFVec3f* v : {dst, src, big}) zvGFdeleteMFVec3f(v);
}

TEST_F(FieldTest, StringListsOwnWhatTheyAreGiven) {
  ZvMFString* list = zvGFnewMFString();
  ASSERT_NE(list, nullptr);
  for (const char* w : {"alpha", "beta", "gamma"}) zvGFaddMFString(list, zvStrdup(w));
  EXPECT_STREQ(list->values[2], "gamma");
  // A failed add keeps the list intact and leaves the string with the caller.
  char* extra = zvStrdup("delta");
  memory.failAfter(0);
  EXPECT_EQ(zvGFaddMFString(list, extra), ZV_NOMEM);
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_MESSAGE, "zvGFaddMFString: cannot allocate memory for strings of ZvMFString."));
  EXPECT_EQ(list->count, 3);
  zvFree(extra);
  zvGFdeleteMFString(list);  // the fixture checks that every string went with it
}

}  // namespace
