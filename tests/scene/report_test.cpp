#include "tests/support/testsupport.h"

namespace {

class ReportTest : public qmtest::SceneTest {};

TEST_F(ReportTest, TheClassTableGatesWarningsAndDebugButNotMessages) {
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  zvWarning("hidden %d", 1);
  zvMessage("shown %s", "always");
  zvDebug(ZV_DEBUG_RW, "rw off");
  ASSERT_EQ(zvSetDebugFlagByName("rwdebug", 1), ZV_OK);
  zvDebug(ZV_DEBUG_RW, "rw %s", "on");
  ASSERT_EQ(sink.reports().size(), 2u) << sink.dump();
  EXPECT_EQ(sink.reports()[0].text, "shown always");
  EXPECT_EQ(sink.reports()[1].text, "rw on");
  EXPECT_EQ(sink.reports()[1].cls, ZV_DEBUG_RW);

  zvResetDebugFlags();
  EXPECT_EQ(zvGetDebugFlag(99), 0);
  EXPECT_EQ(zvSetDebugFlag(99, 1), ZV_FAIL);
  EXPECT_EQ(zvSetDebugFlagByName("Warning", 0), ZV_FAIL);  // case matters
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_WARNING), 1);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_RW), 0);
  EXPECT_STREQ(zvDebugClassName(ZV_DEBUG_AUTH), "authdebug");
  EXPECT_EQ(zvDebugClassName(0), nullptr);
}

TEST_F(ReportTest, ErrorsMarkTheRunFailedAndOnlyTheFirstIsFatalBox) {
  EXPECT_FALSE(zvReportFailed());
  zvError("first %d\n", 1);
  zvError("second");
  ASSERT_EQ(sink.count(ZV_DEBUG_ERROR), 2);
  EXPECT_EQ(sink.reports()[0].text, "first 1");  // trailing newline dropped
  EXPECT_EQ(sink.reports()[0].first, 1);
  EXPECT_EQ(sink.reports()[1].first, 0);
  EXPECT_TRUE(zvReportFailed());
  // With the class off an error is not reported and does not end the run.
  zvClearReportFailed();
  zvSetDebugFlag(ZV_DEBUG_ERROR, 0);
  zvError("quiet");
  EXPECT_EQ(sink.count(ZV_DEBUG_ERROR), 2);
  EXPECT_FALSE(zvReportFailed());
}

TEST_F(ReportTest, HelpersLongTextsAndZeroSizedAllocations) {
  zvMessageSD("Undefined ZV leaf", 12);
  zvErrorSS("zvThing:", "broken");
  zvMessage("%s", std::string(20000, 'x').c_str());  // truncated, not overrun
  ASSERT_EQ(sink.reports().size(), 3u);
  EXPECT_EQ(sink.reports()[0].text, "Undefined ZV leaf 12");
  EXPECT_EQ(sink.reports()[1].text, "zvThing: broken");
  EXPECT_GE(sink.reports()[2].text.size(), 8000u);
  EXPECT_LT(sink.reports()[2].text.size(), 8192u);

  EXPECT_EQ(zvMalloc(0), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvMalloc: arguemnt size is 0 value."));
  auto* p = static_cast<unsigned char*>(zvRealloc(nullptr, 16));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(zvRealloc(p, 0), nullptr);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvRealloc: argument size is 0 value."));
  zvFree(p);
  zvFree(nullptr);
  EXPECT_EQ(zvStrdup(nullptr), nullptr);
}

}  // namespace
