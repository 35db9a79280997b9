// The frame timer's period and its report.
#include <gtest/gtest.h>

#include <string>

#include "shell/shell.h"

namespace {

TEST(FrameInterval, FollowsTheRenderingTimeAndStaysWithinASecond) {
  uint32_t interval = ZV_FRAME_INTERVAL_START;
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 30, 0), 1);  // slower than the period
  EXPECT_EQ(interval, 40u);
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 5, 0), 1);  // faster: shrinks to fit
  EXPECT_EQ(interval, 15u);
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 5, 0), 0);  // unchanged: no re-arm
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 2000, 0), 1);
  EXPECT_EQ(interval, 1000u);
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 995, 0), 0);  // 1005 is not below 1000
  EXPECT_EQ(interval, 1000u);
  // The world's Tk slice is left free on top of the rendering.
  interval = 20;
  EXPECT_EQ(zvAdaptFrameInterval(&interval, 30, 90), 1);
  EXPECT_EQ(interval, 130u);
  EXPECT_EQ(zvAdaptFrameInterval(&interval, UINT32_MAX, UINT32_MAX), 1);  // no wrap-around
  EXPECT_EQ(interval, 1000u);
}

TEST(FrameInterval, ReportsEachFrameAndSurvivesAZeroTotal) {
  char line[256];
  zvFormatFrameRate(line, sizeof line, 12, 8, 20, 0, 20);
  EXPECT_STREQ(line, "Rendering   12 msec. Other    8 msec. Total 20 msec. (50.00 fps)\n");
  zvFormatFrameRate(line, sizeof line, 30, 0, 30, 1, 40);
  EXPECT_EQ(std::string(line),
            "Rendering   30 msec. Other    0 msec. Total 30 msec. (33.33 fps)\n"
            "timer interval will be reset to [40 ms]\n");
  zvFormatFrameRate(line, sizeof line, 0, 0, 0, 0, 20);
  EXPECT_NE(std::string(line).find("Total 0 msec."), std::string::npos);
  char small[16];
  zvFormatFrameRate(small, sizeof small, 30, 0, 30, 1, 40);  // cut short, still terminated
  EXPECT_EQ(std::string(small), "Rendering   30 ");
}

}  // namespace
