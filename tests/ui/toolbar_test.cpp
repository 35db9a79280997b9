// Picture-button bars without windows: where the bars and their buttons
// land, and what pressing, dragging off and letting go report.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/window.h"
#include "ui/toolbar.h"

namespace {

std::vector<std::pair<int, int>> reports;
void record(void*, int id, int press) { reports.emplace_back(id, press); }

struct Bars : ::testing::Test {
  void SetUp() override { reports.clear(); }
  void TearDown() override {
    zvDestroyToolBar(column);
    zvDestroyToolBar(pad);
  }
  // The browser's two bars: eight 41 x 34 buttons in a column at the
  // right, six 20 x 15 pad buttons in a row at the bottom.
  void build() {
    column = zvCreateToolBar(nullptr, record, nullptr);
    for (int id = 110; id < 118; ++id) ASSERT_EQ(zvToolBarAddButton(column, id, 3, 8, 41, 34), 0);
    zvToolBarSetLayout(column, 3, 3, 3, 8, 1, ZV_DOCK_RIGHT);
    pad = zvCreateToolBar(nullptr, record, nullptr);
    for (int id = 130; id <= 135; ++id) {
      ASSERT_EQ(zvToolBarAddButton(pad, id, 3, 3, 20, 15), 0);
      zvToolBarSetReportPresses(pad, id, 1);
    }
    zvToolBarSetLayout(pad, 76, 3, 3, 6, 1, ZV_DOCK_BOTTOM);
  }
  ZvToolBar* column = nullptr;
  ZvToolBar* pad = nullptr;
};

TEST_F(Bars, SizeAndDockingFollowTheButtons) {
  build();
  EXPECT_EQ(std::pair(column->width, column->height), std::pair(3 + 3 + 41, 8 + 8 * (8 + 34)));
  EXPECT_EQ(std::pair(pad->width, pad->height), std::pair(3 + 6 * (3 + 20), 6 + 3 + 15));

  zvToolBarLayout(column, 600, 450);
  zvToolBarLayout(pad, 600, 450);
  EXPECT_EQ(std::pair(column->placedX, column->placedY), std::pair(600 - column->width, 450 / 2 - column->height / 2));
  EXPECT_EQ(std::pair(pad->placedX, pad->placedY), std::pair(300 - pad->width / 2, 450 - pad->height));
  // Each button at its offset from the end of the one before.
  EXPECT_EQ(zvToolBarFind(column, 110)->placedY, 8);
  EXPECT_EQ(zvToolBarFind(column, 111)->placedY, 8 + 34 + 8);
  EXPECT_EQ(zvToolBarFind(pad, 131)->placedX, 3 + 20 + 3);

  // Too narrow to centre: the pad keeps its left margin; too low for the
  // column: it keeps its top margin.
  zvToolBarLayout(pad, 200, 100);
  EXPECT_EQ(pad->placedX, 76);
  zvToolBarLayout(column, 200, 100);
  EXPECT_EQ(column->placedY, 3);
}

TEST_F(Bars, OrdinaryButtonsActOnlyWhenLetGoOverThemselves) {
  build();
  zvToolBarButtonEvent(column, 111, ZV_BUTTON_PRESS, 1);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(zvToolBarPressed(column, 111), 1);
  zvToolBarButtonEvent(column, 111, ZV_BUTTON_MOTION, 0);
  EXPECT_EQ(zvToolBarPressed(column, 111), 0) << "off the button it shows raised";
  zvToolBarButtonEvent(column, 111, ZV_BUTTON_MOTION, 1);
  zvToolBarButtonEvent(column, 111, ZV_BUTTON_RELEASE, 1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], std::make_pair(111, 0));

  reports.clear();
  zvToolBarButtonEvent(column, 112, ZV_BUTTON_PRESS, 1);
  zvToolBarButtonEvent(column, 112, ZV_BUTTON_MOTION, 0);
  zvToolBarButtonEvent(column, 112, ZV_BUTTON_RELEASE, 0);
  EXPECT_TRUE(reports.empty()) << "let go elsewhere: nothing";
  EXPECT_EQ(zvToolBarPressed(column, 112), 0);
}

TEST_F(Bars, PadButtonsReportEveryChange) {
  build();
  zvToolBarButtonEvent(pad, 131, ZV_BUTTON_PRESS, 1);
  zvToolBarButtonEvent(pad, 131, ZV_BUTTON_MOTION, 1);  // no change, no report
  zvToolBarButtonEvent(pad, 131, ZV_BUTTON_MOTION, 0);
  zvToolBarButtonEvent(pad, 131, ZV_BUTTON_MOTION, 1);
  zvToolBarButtonEvent(pad, 131, ZV_BUTTON_RELEASE, 1);
  std::vector<std::pair<int, int>> want = {{131, 1}, {131, 0}, {131, 1}, {131, 0}};
  EXPECT_EQ(reports, want);

  // Dragged off and let go there: released once, not twice.
  reports.clear();
  zvToolBarButtonEvent(pad, 132, ZV_BUTTON_PRESS, 1);
  zvToolBarButtonEvent(pad, 132, ZV_BUTTON_MOTION, 0);
  zvToolBarButtonEvent(pad, 132, ZV_BUTTON_RELEASE, 0);
  want = {{132, 1}, {132, 0}};
  EXPECT_EQ(reports, want);
}

TEST_F(Bars, StatesNeedTheirPictures) {
  build();
  EXPECT_EQ(zvToolBarSetState(column, 110, 1), -1) << "no pictures yet";
  ASSERT_EQ(zvToolBarAddPicture(column, 110, "BAK1", "BAK2"), 0);
  ASSERT_EQ(zvToolBarAddPicture(column, 110, "BAK3", nullptr), 0);
  EXPECT_EQ(zvToolBarSetState(column, 110, 1), 0);
  EXPECT_EQ(zvToolBarState(column, 110), 1);
  EXPECT_EQ(zvToolBarSetState(column, 110, 2), -1);
  EXPECT_EQ(zvToolBarAddPicture(column, 110, "NOPE", nullptr), -1);
  EXPECT_EQ(zvToolBarAddButton(column, 110, 0, 0, 10, 10), -1) << "identifiers are unique";
  EXPECT_EQ(zvToolBarState(column, 999), -1);
}

}  // namespace
