// Log windows: the scroll model without a window (following the end, the
// capacity, the scroll actions, re-wrapping, painting from the top line),
// and on a real display (skipped without one) the window's own reports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/tkpriv.h"
#include "platform/window.h"
#include "tests/support/testsupport.h"
#include "ui/ui.h"

#include <X11/Xlib.h>  // last: its macros clash with the test framework's names

namespace {

class LogViewTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    font = zvNewLogFont();
    ASSERT_NE(font, nullptr) << "no font installed";
    line = font->lineHeight;
    ASSERT_EQ(zvInitLogView(&view, font, 100, 1000, 5 * line + line / 2), 0);
    ASSERT_EQ(view.linesPerPage, 5);
  }
  void TearDown() override {
    zvFreeLogView(&view);
    zvDeleteFont(font);
    SceneTest::TearDown();
  }
  void append(int count, const char* text = "message") {
    for (int i = 0; i < count; ++i) ASSERT_EQ(zvLogViewAppend(&view, text), 0);
  }
  ZvTextFont* font = nullptr;
  ZvLogView view{};
  int line = 0;
};

TEST_F(LogViewTest, FollowsTheEndOnlyWhileItWasInView) {
  append(5);
  EXPECT_EQ(view.topLine, 0);  // the page is full, nothing below it yet
  append(1);
  EXPECT_EQ(view.topLine, 1);
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_LINE_UP, 0), 1);
  append(1);  // the last line was below the page: the view stays
  EXPECT_EQ(view.topLine, 0);
  zvLogViewScroll(&view, ZV_LOG_THUMB, 2);
  append(1, "a\nb\nc\nd\ne");  // 6 was in view, 11 falls below: down by the 5 added
  EXPECT_EQ(view.topLine, 7);
  EXPECT_EQ(zvTextLastLine(view.text), 11);

  zvLogViewClear(&view);
  EXPECT_EQ(view.topLine, 0);
  EXPECT_EQ(zvTextLineCount(view.text), 0);
  append(1, "1\n2\n3\n4\n5\n6\n7\n8");  // an empty log shows a long first paragraph from its start
  EXPECT_EQ(view.topLine, 0);
}

TEST_F(LogViewTest, CapacityDropsTheFirstAndMovesTheRange) {
  append(101);
  EXPECT_EQ(view.firstLine, 1);
  EXPECT_EQ(view.topLine, 96);
  int maximum = -1, position = -1;
  zvLogViewScrollRange(&view, &maximum, &position);
  EXPECT_EQ(maximum, 100);
  EXPECT_EQ(position, 95);
  zvLogViewScroll(&view, ZV_LOG_TOP, 0);
  append(1);  // the top line went with the first paragraph
  EXPECT_EQ(view.firstLine, 2);
  EXPECT_EQ(view.topLine, 2);

  // Numbered again from 0 past the limit, the view still follows the end.
  zvFreeLogView(&view);
  ASSERT_EQ(zvInitLogView(&view, font, 3, 1000, 2 * line), 0);
  append(ZV_TEXT_RENUMBER_AT + 10);
  EXPECT_LT(view.firstLine, 100);
  EXPECT_EQ(view.firstLine, zvTextFirstLine(view.text));
  EXPECT_EQ(view.topLine, zvTextLastLine(view.text) - 1);
}

TEST_F(LogViewTest, ScrollActionsClampToTheLines) {
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_BOTTOM, 0), 0);  // empty: nowhere to go
  append(20);
  zvLogViewScroll(&view, ZV_LOG_TOP, 0);
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_LINE_UP, 0), 0);
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_PAGE_DOWN, 0), 1);
  EXPECT_EQ(view.topLine, 5);
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_LINE_DOWN, 0), 1);
  EXPECT_EQ(view.topLine, 6);
  for (int i = 0; i < 10; ++i) zvLogViewScroll(&view, ZV_LOG_PAGE_DOWN, 0);
  EXPECT_EQ(view.topLine, 19);
  EXPECT_EQ(zvLogViewScroll(&view, ZV_LOG_PAGE_UP, 0), 1);
  EXPECT_EQ(view.topLine, 14);
  zvLogViewScroll(&view, ZV_LOG_THUMB, 7);
  EXPECT_EQ(view.topLine, 7);
  zvLogViewScroll(&view, ZV_LOG_THUMB, 1000);
  EXPECT_EQ(view.topLine, 19);
  zvLogViewScroll(&view, ZV_LOG_THUMB, -5);
  EXPECT_EQ(view.topLine, 0);
  EXPECT_EQ(zvLogViewScroll(&view, 99, 0), -1);
}

TEST_F(LogViewTest, ResizeRewrapsAndKeepsTheTopParagraph) {
  int advance = zvFontTextWidth(font, "x", 1);
  zvLogViewResize(&view, 5 * advance + advance / 2, 3 * line);
  EXPECT_EQ(view.linesPerPage, 3);
  append(1, "xxxxxxxxxx");  // two lines of five
  append(1, "yy");
  append(1, "zz");
  ASSERT_EQ(zvTextLineCount(view.text), 4);
  zvLogViewScroll(&view, ZV_LOG_THUMB, 2);  // "yy" at the top
  zvLogViewResize(&view, 100 * advance, 2 * line + 1);
  EXPECT_EQ(zvTextLineCount(view.text), 3);
  EXPECT_EQ(view.topLine, 1);
  EXPECT_EQ(view.linesPerPage, 2);
  zvLogViewResize(&view, 100 * advance, 0);
  EXPECT_EQ(view.linesPerPage, 1);  // a page always holds the line at its top
}

TEST_F(LogViewTest, CoalescingShowsARunOfOneTextOnceWithItsCount) {
  auto lastText = [&] { return std::string(view.text->last->text); };
  append(2, "plain");  // off by default: every text is a line
  EXPECT_EQ(zvTextLineCount(view.text), 2);
  zvLogViewSetCoalesce(&view, 1);
  append(120, "texture missing");
  EXPECT_EQ(zvTextLineCount(view.text), 3);
  EXPECT_EQ(view.text->paragraphCount, 3);
  EXPECT_EQ(lastText(), "texture missing (\xc3\x97" "120)");
  append(1, "texture missing (\xc3\x97" "120)");  // what is shown is not what came
  append(1, "other");
  append(1, "texture missing");  // a new run starts without a count
  EXPECT_EQ(lastText(), "texture missing");
  EXPECT_EQ(zvTextLineCount(view.text), 6);
  EXPECT_EQ(view.topLine, 1);

  // A count that no longer fits the line wraps, and the view follows it.
  const char* text = "a rather long warning";
  zvLogViewResize(&view, zvFontTextWidth(font, text, int(std::strlen(text))) + 2, view.height);
  zvLogViewScroll(&view, ZV_LOG_BOTTOM, 0);
  for (int i = 0; i < 4; ++i) zvLogViewScroll(&view, ZV_LOG_LINE_UP, 0);  // the last line at the foot of the page
  append(1, text);
  int last = zvTextLastLine(view.text);
  EXPECT_EQ(view.topLine, last - 4);
  append(1, text);
  EXPECT_EQ(zvTextLastLine(view.text), last + 1);
  EXPECT_EQ(view.topLine, last - 3) << "the wrapped count must stay in view";
  EXPECT_EQ(view.text->last->lineCount, 2);
  int widest = zvTextWidest(view.text);
  EXPECT_LE(widest, view.width);

  zvLogViewClear(&view);  // "Close": the run is forgotten with the lines
  append(1, text);
  EXPECT_EQ(lastText(), text);
  EXPECT_EQ(zvTextReplaceLast(nullptr, "x"), -1);
  zvTextClear(view.text);
  EXPECT_EQ(zvTextReplaceLast(view.text, "x"), -1) << "an empty block has no newest paragraph";
}

TEST_F(LogViewTest, PaintsFromTheTopLineDown) {
  std::vector<uint8_t> pixels(size_t(200) * 8 * line * 4);
  RwImage image{200, 8 * line, 200 * 4, pixels.data()};
  // Whether any pixel in the band of the given line differs from black.
  auto inked = [&](int band) {
    for (int y = band * line; y < (band + 1) * line; ++y)
      for (int x = 0; x < image.width; ++x)
        if (pixels[size_t(y) * image.stride + 4 * x] != 0) return true;
    return false;
  };
  append(1, "");
  append(6, "MMMM");
  zvLogViewScroll(&view, ZV_LOG_TOP, 0);
  zvLogViewPaint(&view, &image);
  EXPECT_FALSE(inked(0));
  EXPECT_TRUE(inked(1));
  EXPECT_TRUE(inked(4));
  EXPECT_TRUE(inked(5));   // cut by the client height
  EXPECT_FALSE(inked(6));  // below it, though the image goes on
  EXPECT_EQ(pixels[3], 0xff);
  zvLogViewScroll(&view, ZV_LOG_BOTTOM, 0);
  zvLogViewPaint(&view, &image);
  EXPECT_TRUE(inked(0));
  EXPECT_FALSE(inked(1));
}

// Serves events until done() or the time is up.
template <typename Done>
bool serveUntil(Done done, int milliseconds = 2000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done() && std::chrono::steady_clock::now() < end) zvPlatformDoOneEvent(0);
  return done();
}

TEST(LogWindowTest, PaintsScrollsAndReportsItsArea) {
  if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
  ZvPlatformWindow* main = zvPlatformOpenWindow("log test", 200, 100, nullptr);
  ASSERT_NE(main, nullptr) << zvPlatformWindowError();
  int closed = 0;
  ZvPopupCallbacks callbacks{[](void* user) { ++*static_cast<int*>(user); }, nullptr, &closed, nullptr};
  ZvPlatformPopup* popup = zvPlatformOpenPopup(main, "zvLogTest", "Log", 480, 280, "Close", &callbacks);
  ASSERT_NE(popup, nullptr);
  ZvLogWindow* log = zvNewLogWindow(main, popup, 10);
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(zvLogPlace(log, 10, 10, 460, 230), 0);
  int width = log->view.width, height = log->view.height;
  EXPECT_LT(width, 460 - 2);  // the border and the scroll bar
  EXPECT_EQ(height, 230 - 2);
  for (int i = 0; i < 30; ++i) zvLogAppend(log, ("line " + std::to_string(i)).c_str());
  EXPECT_EQ(zvTextLineCount(log->view.text), 10);
  zvPlatformShowPopup(popup);
  ASSERT_TRUE(serveUntil([&] { return log->image.pixels != nullptr; }));
  EXPECT_EQ(log->image.width, width);
  serveUntil([] { return false; }, 300);  // Tk's own layout agrees with ours
  EXPECT_EQ(std::pair(log->view.width, log->view.height), std::pair(width, height));

  zvPlatformLogViewCommand(log->window, "top");
  EXPECT_EQ(log->view.topLine, log->view.firstLine);
  EXPECT_EQ(zvPlatformLogViewCommand(log->window, "scroll 2 units"), 0);
  EXPECT_EQ(log->view.topLine, log->view.firstLine + 2);
  zvPlatformLogViewCommand(log->window, "moveto 0.5");
  EXPECT_EQ(log->view.topLine, log->view.firstLine + 5);
  zvPlatformLogViewCommand(log->window, "bottom");
  EXPECT_EQ(log->view.topLine, zvTextLastLine(log->view.text));
  EXPECT_EQ(zvPlatformLogViewCommand(log->window, "scroll 1 lines"), -1);
  EXPECT_EQ(zvPlatformLogViewCommand(log->window, "moveto nan"), -1);
  EXPECT_EQ(zvPlatformPressPopupButton(popup), 0);
  EXPECT_EQ(closed, 1);

  zvPlatformClosePopup(popup);  // takes the log's window along
  EXPECT_EQ(zvLogAppend(log, "after"), 0);
  zvDeleteLogWindow(log);
  zvPlatformCloseWindow(main);
}

// A window manager or another client may destroy our windows under us. A
// redraw Tk had already queued then makes its pixmap against a window the
// server no longer has and frees it after: none of the errors that brings
// may end the program.
TEST(LogWindowTest, OutlivesItsWindowDestroyedFromOutside) {
  if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
  ZvPlatformWindow* main = zvPlatformOpenWindow("log test", 200, 100, nullptr);
  ASSERT_NE(main, nullptr) << zvPlatformWindowError();
  ZvPlatformPopup* popup = zvPlatformOpenPopup(main, "zvLogTest", "Log", 480, 280, "Close", nullptr);
  ASSERT_NE(popup, nullptr);
  ZvLogWindow* log = zvNewLogWindow(main, popup, 10);
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(zvLogPlace(log, 10, 10, 460, 230), 0);
  zvLogAppend(log, "line");
  ASSERT_EQ(zvPlatformPlacePopupButton(popup, 10, 245, 80, 25), 0);
  zvPlatformShowPopup(popup);
  ASSERT_TRUE(serveUntil([&] { return log->image.pixels != nullptr; }));

  Tcl_Interp* interp = zvPlatformWindowInterp(main);
  ASSERT_EQ(Tcl_Eval(interp, "set popup [lsearch -inline -glob [winfo children .] .popup*]; winfo id $popup"), TCL_OK);
  Window inner = std::stoul(Tcl_GetStringResult(interp), nullptr, 0), root = 0, frame = 0, *children = nullptr;
  unsigned count = 0;
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  // The frame Tk wraps a toplevel in, as a window manager would see it.
  ASSERT_TRUE(XQueryTree(other, inner, &root, &frame, &children, &count));
  XFree(children);
  XDestroyWindow(other, frame);
  XSync(other, False);
  XCloseDisplay(other);
  // Redrawn before Tk has heard of it, then the errors fetched.
  EXPECT_EQ(Tcl_Eval(interp, "$popup.button configure -text again; update idletasks; update"), TCL_OK);
  EXPECT_TRUE(serveUntil([&] { return !zvPlatformPopupShown(popup); })) << "Tk never heard the popup went";
  EXPECT_TRUE(zvPlatformWindowExists(main));
  EXPECT_EQ(zvLogAppend(log, "after"), 0);
  zvDeleteLogWindow(log);
  zvPlatformClosePopup(popup);
  zvPlatformCloseWindow(main);
}

}  // namespace
