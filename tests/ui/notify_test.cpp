// The "Messages" window on a real display (skipped without one): the first
// text shows it, the 101st message drops the first, a repeated message
// takes one line, and it goes quietly with the main window.
#include <gtest/gtest.h>

#include <string>

#include "platform/window.h"
#include "ui/ui.h"

namespace {

TEST(NotifyTest, ShowsOnTextAndKeepsTheLatestHundred) {
  if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
  ZvPlatformWindow* main = zvPlatformOpenWindow("notify test", 200, 100, nullptr);
  ASSERT_NE(main, nullptr) << zvPlatformWindowError();
  ASSERT_EQ(zvNotifyCreate(main), 0);
  EXPECT_EQ(zvNotifyShown(), 0);  // hidden until there is something to read
  zvNotifyAppend("first\r\nof two lines");
  EXPECT_EQ(zvNotifyShown(), 1);
  EXPECT_EQ(zvNotifyLineCount(), 2);
  for (int i = 1; i < ZV_NOTIFY_CAPACITY; ++i) zvNotifyAppend(("message " + std::to_string(i)).c_str());
  EXPECT_EQ(zvNotifyLineCount(), 101);
  zvNotifyAppend("the 101st");
  EXPECT_EQ(zvNotifyLineCount(), 100);  // both lines of the first went
  // One warning over and over takes one line, which counts the repeats.
  for (int i = 0; i < 300; ++i) zvNotifyAppend("cannot read the texture");
  EXPECT_EQ(zvNotifyLineCount(), 100);
  zvNotifyAppend("the 102nd");
  EXPECT_EQ(zvNotifyLineCount(), 100) << "the run left the window one line, not a hundred";
  zvNotifyHide();
  EXPECT_EQ(zvNotifyShown(), 0);
  zvNotifyAppend("again");
  EXPECT_EQ(zvNotifyShown(), 1);
  while (zvPlatformDoOneEvent(0)) {
  }
  // Closing the main window takes the messages window along, as when the
  // browser is closed with it open.
  zvPlatformDestroyWindow(main);
  zvNotifyAppend("while the window goes");
  EXPECT_EQ(zvNotifyShown(), 0);
  zvNotifyDestroy();
  zvNotifyAppend("after the window went");  // dropped quietly
  EXPECT_EQ(zvNotifyLineCount(), 0);
  zvPlatformCloseWindow(main);
}

}  // namespace
