// Labels: where they go in the view, when they expire, which text a hover
// label takes, and what drawing one does to the picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/render.h"
#include "tests/support/testsupport.h"
#include "ui/ui.h"

namespace {

int32_t clockSeconds, clockMillis;
void testClock(int32_t* s, int32_t* ms) {
  *s = clockSeconds;
  *ms = clockMillis;
}
// The point's x and y are the view position; z < 0 is behind the camera.
int testProjector(ZvWorld*, const float p[3], int* x, int* y, int* visible) {
  *x = int(p[0]);
  *y = int(p[1]);
  *visible = p[2] >= 0;
  return 0;
}

class LabelTest : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    zvSetLabelClock(testClock);
    zvSetLabelProjector(testProjector);
    zvRenderSetViewSize(200, 100);
    zvSceneHooks().destroyObjLabels = zvDeleteObjectLabels;
    clockSeconds = 100;
    clockMillis = 900;
    font = zvNewFont("FixedSys", 12, 0xc0c0c0, 0xffffff, 0);
    ASSERT_NE(font, nullptr);
  }
  void TearDown() override {
    zvDeleteAllLabels();
    zvShowLabels();
    zvDeleteFont(font);
    zvSetLabelClock(nullptr);
    zvSetLabelProjector(nullptr);
    TreeFixture::TearDown();
  }
  ZvLabel* pointLabel(ZvObj* o, float x, float y, const char* text = "hello") {
    ZvLabel* label = zvNewLabel(o, nullptr, font, ZV_LABEL_HOVER);
    EXPECT_NE(label, nullptr);
    EXPECT_EQ(zvSetLabelText(label, text), 0);
    float p[3] = {x, y, 1};
    zvSetLabelPoint(label, p);
    zvSetLabelAnchor(label, ZV_ANCHOR_POINT);
    return label;
  }
  ZvTextFont* font = nullptr;
};

TEST_F(LabelTest, CornerIsPulledIntoTheViewOnlyForPointAnchors) {
  // A 40 x 10 label in a 200 x 100 view: {x, y, point anchor, corner x, corner y}.
  const int rows[][5] = {{100, 50, 1, 80, 40},
                         {190, 99, 1, 200 - 40 - 8, 100 - 10 - 6},  // right and bottom edges
                         {5, 3, 1, 0, 0},
                         {190, 3, 0, 170, -7}};
  for (const auto& r : rows) {
    int x, y;
    zvLabelCorner(r[0], r[1], 40, 10, r[2], 200, 100, &x, &y);
    EXPECT_EQ(x, r[3]) << r[0] << "," << r[1];
    EXPECT_EQ(y, r[4]) << r[0] << "," << r[1];
  }
}

TEST_F(LabelTest, PlacingFollowsTheProjection) {
  ZvObj* o = make();
  ZvLabel* label = pointLabel(o, 195, 50);
  ASSERT_GT(label->width, 0);
  EXPECT_EQ(label->height, font->lineHeight);
  EXPECT_EQ(zvPlaceLabel(label), 0);
  EXPECT_EQ(label->placed, 1);
  EXPECT_EQ(std::pair(label->x, label->y), std::pair(200 - label->width - 8, 50 - label->height));
  float behind[3] = {10, 10, -1};
  zvSetLabelPoint(label, behind);
  EXPECT_EQ(zvPlaceLabel(label), 1);
  EXPECT_EQ(label->placed, 0);

  // Anchored to the top of the object's cube, through its world transform.
  ZvLabel* top = zvNewLabel(o, nullptr, font, ZV_LABEL_TEXT);
  ASSERT_EQ(zvSetLabelText(top, "hi"), 0);
  float lo[3] = {10, 20, 1}, hi[3] = {30, 60, 3};
  std::memcpy(o->cubeMin, lo, sizeof lo);
  std::memcpy(o->cubeMax, hi, sizeof hi);
  zvSetLabelAnchor(top, ZV_ANCHOR_TOP);
  EXPECT_EQ(zvPlaceLabel(top), 0);
  EXPECT_EQ(std::pair(top->x, top->y), std::pair(20 - top->width / 2, 60 - top->height));
  zvSetLabelAnchor(top, 7);
  EXPECT_EQ(zvPlaceLabel(top), -1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "anchor"));

  // A one-place label is destroyed rather than moved.
  zvSetLabelAnchor(top, ZV_ANCHOR_CENTRE);
  zvSetLabelFlags(top, ZV_LABEL_ONE_PLACE);
  EXPECT_EQ(zvPlaceLabel(top), 2);
  EXPECT_EQ(zvFindLabel(o, ZV_LABEL_TEXT), nullptr);
  EXPECT_EQ(zvFindLabel(o, 0), label);
}

TEST_F(LabelTest, ExpiryHidingAndObjectDeletion) {
  ZvObj* o = make();
  ZvLabel* label = pointLabel(o, 50, 50);
  zvSetLabelFlags(label, ZV_LABEL_FOLLOWS);
  zvSetLabelTime(label, 3250);  // milliseconds carried into seconds
  EXPECT_EQ(std::pair(label->expirySeconds, label->expiryMilliseconds), std::pair(104, 150));
  clockSeconds = 104;
  clockMillis = 149;
  zvUpdateLabels();
  ASSERT_EQ(zvFirstLabel(), label);
  EXPECT_EQ(label->placed, 1);  // followers are placed every frame
  clockMillis = 150;
  zvUpdateLabels();
  EXPECT_EQ(zvFirstLabel(), nullptr);

  zvHideLabels();
  ZvLabel* hidden = pointLabel(o, 50, 50);
  EXPECT_TRUE(hidden->flags & ZV_LABEL_HIDDEN);
  zvSetLabelFlags(hidden, ZV_LABEL_FOLLOWS);
  zvUpdateLabels();
  EXPECT_EQ(hidden->placed, 0);
  zvShowLabels();
  zvUpdateLabels();
  EXPECT_EQ(hidden->placed, 1);

  ZvObj* other = make();
  ZvLabel* kept = pointLabel(other, 5, 5);
  zvCutZvObj(o);
  zvDeleteZvObj(o);
  EXPECT_EQ(zvFirstLabel(), kept);
  EXPECT_EQ(kept->next, nullptr);
}

TEST_F(LabelTest, HoverTextComesFromTheNearestCarrier) {
  ZvObj* top = make();
  ZvObj* mid = make(nullptr, top, "middle");
  ZvObj* leafObj = make(nullptr, mid);
  const char* text = nullptr;
  EXPECT_EQ(zvHoverLabelSource(leafObj, 0, 0, &text), nullptr);  // no comment anywhere
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(zvHoverLabelSource(leafObj, 1, 0, &text), mid);
  EXPECT_STREQ(text, "middle");
  top->strings[ZV_STR_COMMENT] = zvStrdup("the top");
  EXPECT_EQ(zvHoverLabelSource(leafObj, 1, 1, &text), top);  // comments win over names
  EXPECT_STREQ(text, "the top");
}

TEST_F(LabelTest, DrawingTouchesOnlyTheLabelsRectangle) {
  const int W = 64, H = 32;
  std::vector<uint8_t> pixels(size_t(W * H * 4), 0);
  RwImage image{W, H, W * 4, pixels.data()};
  ZvObj* o = make();
  ZvLabel* label = pointLabel(o, 32, 28, "MW");
  ASSERT_EQ(zvPlaceLabel(label), 0);
  zvDrawLabels(&image);
  int inside = 0, outside = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      bool lit = pixels[size_t(y * W + x) * 4] != 0;
      bool in = x >= label->x && x < label->x + label->width + 1 && y >= label->y && y < label->y + label->height + 1;
      (in ? inside : outside) += lit;
    }
  EXPECT_GT(inside, 10);
  EXPECT_EQ(outside, 0);

  // A striped label ORs its background into every other row, text or not.
  std::fill(pixels.begin(), pixels.end(), 0);
  ZvTextFont* striped = zvNewFont("FixedSys", 12, 0x102030, 0x000000, ZV_FONT_STRIPED);
  ASSERT_NE(striped, nullptr);
  label->font = striped;
  zvDrawLabels(&image);
  int row = label->y + (label->y & 1);  // an even row inside the label
  const uint8_t* p = &pixels[size_t(row * W + label->x) * 4];
  EXPECT_EQ(p[0], 0x10);
  EXPECT_EQ(p[1], 0x20);
  EXPECT_EQ(p[2], 0x30);
  EXPECT_EQ(pixels[size_t((row + 1) * W + label->x) * 4 + 1], 0);
  zvDeleteAllLabels();
  zvDeleteFont(striped);

  // Hostile images draw nothing rather than write out of bounds.
  RwImage bad{W, H, 4, pixels.data()};
  pointLabel(o, 32, 28);
  zvPlaceLabel(zvFirstLabel());
  zvDrawLabels(&bad);
  zvDrawLabels(nullptr);
}

// A line sent for another user's avatar: a new label for 30 s over the
// object; a changed line replaces the text for 5 s; the same line again
// does not restart the label.
TEST_F(LabelTest, SentLinesLabelTheObjectAndARepeatDoesNotRestartIt) {
  ZvObj* avatar = make();
  ASSERT_EQ(zvShowTextLabel(avatar, "bob: hi"), 0);
  ZvLabel* label = zvFindLabel(avatar, ZV_LABEL_TEXT);
  ASSERT_NE(label, nullptr);
  EXPECT_STREQ(label->text->first->text, "bob: hi");
  EXPECT_EQ(label->expirySeconds, 100 + 30);
  EXPECT_EQ(label->anchor, ZV_ANCHOR_TOP);
  clockSeconds = 110;
  ASSERT_EQ(zvShowTextLabel(avatar, "bob: hi"), 0);
  EXPECT_EQ(zvFindLabel(avatar, ZV_LABEL_TEXT), label);
  EXPECT_EQ(label->expirySeconds, 130) << "a repeat restarted the label";
  ASSERT_EQ(zvShowTextLabel(avatar, "bob: bye"), 0);
  EXPECT_EQ(zvFindLabel(avatar, ZV_LABEL_TEXT), label);
  EXPECT_STREQ(label->text->first->text, "bob: bye");
  EXPECT_EQ(label->expirySeconds, 115);
  EXPECT_EQ(zvShowTextLabel(nullptr, "x"), -1);
  zvUninstallLabels();  // which frees the labels' font
}

}  // namespace
