// The dialogs' row list: scrolling stays in range, the row under a click,
// and drawing clipped to the area.
#include <gtest/gtest.h>

#include "platform/notify.h"
#include "ui/ui.h"

namespace {

TEST(RowCanvas, ScrollsWithinTheRowsAndFindsTheRowClicked) {
  ZvRowCanvas r{};
  r.rowHeight = 64;
  r.count = 10;
  zvRowsResize(&r, 200, 200);  // three whole rows a page
  EXPECT_EQ(zvRowsPerPage(&r), 3);
  EXPECT_EQ(zvRowsScroll(&r, ZV_SCROLL_BOTTOM, 0), 0);
  EXPECT_EQ(r.top, 7) << "the last page ends with the last row";
  EXPECT_EQ(zvRowsScroll(&r, ZV_SCROLL_PAGES, -5), 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(zvRowsScroll(&r, 99, 1), -1);
  zvRowsShow(&r, 5);
  EXPECT_EQ(r.top, 3) << "scrolled just enough for row 5 to be whole";
  EXPECT_EQ(zvRowsAt(&r, 130), 5);
  EXPECT_EQ(zvRowsAt(&r, -1), -1);
  r.count = 4;  // rows went while scrolled down
  EXPECT_EQ(zvRowsAt(&r, 130), -1);
  zvRowsClampTop(&r);
  EXPECT_EQ(r.top, 1);
}

TEST(RowCanvas, DrawingIsClippedToTheArea) {
  ZvRowCanvas r{};
  r.rowHeight = 10;
  zvRowsResize(&r, 4, 3);
  ASSERT_EQ(zvRowsBegin(&r), 0);
  const uint8_t red[4] = {255, 0, 0, 255};
  uint8_t picture[3 * 3 * 4];
  for (int i = 0; i < 9; ++i) std::copy(red, red + 4, picture + 4 * i);
  zvRowsBlit(&r, 2, -1, picture, 3, 3);  // hangs over the right and the top
  auto at = [&](int x, int y) { return r.pixels[(y * 4 + x) * 4]; };
  EXPECT_EQ(at(2, 0), 255);
  EXPECT_EQ(at(3, 1), 255);
  EXPECT_EQ(at(2, 2), 0) << "the picture's last row lands on row 1";
  EXPECT_EQ(at(1, 0), 0);
  zvRowsFill(&r, -5, -5, 100, 100, 0x00ff00);
  EXPECT_EQ(r.pixels[1], 255);
  EXPECT_EQ(r.pixels[(3 * 4 - 1) * 4 + 1], 255);
  zvRowsFree(&r);
  EXPECT_EQ(r.pixels, nullptr);
}

}  // namespace
