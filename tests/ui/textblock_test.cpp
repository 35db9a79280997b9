// Fonts found by Windows face names, and text blocks: line ends, escapes,
// breaking at the wrap width without word wrapping, the paragraph
// capacity and line numbering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/testsupport.h"
#include "ui/ui.h"

namespace {

class TextBlockTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    mono = zvNewFont("Courier New", 16, 0, 0xffffff, 0);
    ASSERT_NE(mono, nullptr) << "no monospace font installed";
    advance = zvFontTextWidth(mono, "x", 1);
    ASSERT_GT(advance, 0);
    block = zvNewTextBlock(mono);
    ASSERT_NE(block, nullptr);
  }
  void TearDown() override {
    zvDeleteTextBlock(block);
    zvDeleteFont(mono);
    SceneTest::TearDown();
  }
  // Every line from the first, as drawn; as many as the block counts.
  std::vector<std::string> lines() {
    std::vector<std::string> out;
    for (int n = zvTextFirstLine(block); zvTextLineCount(block) && n <= zvTextLastLine(block); ++n)
      out.push_back(lineText(n));
    EXPECT_EQ(int(out.size()), zvTextLineCount(block));
    return out;
  }
  std::string lineText(int number) {
    ZvTextParagraph* p = nullptr;
    ZvTextLine* l = nullptr;
    if (zvTextFindLine(block, number, &p, &l) != 0) return "<none>";
    return std::string(p->text + l->start, size_t(l->drawn));
  }
  ZvTextFont* mono = nullptr;
  ZvTextBlock* block = nullptr;
  int advance = 0;
};

TEST_F(TextBlockTest, FacesMapToMonospaceOrProportional) {
  EXPECT_EQ(zvFontTextWidth(mono, "iiii", 4), zvFontTextWidth(mono, "MMMM", 4));
  ZvTextFont* sans = zvNewFont("ARIAL Italic", 16, 0, 0, 0);
  ASSERT_NE(sans, nullptr);
  EXPECT_LT(zvFontTextWidth(sans, "iiii", 4), zvFontTextWidth(sans, "MMMM", 4));
  EXPECT_GE(sans->lineHeight, 16);
  zvDeleteFont(sans);
  EXPECT_EQ(zvNewFont("SYSTEM", 0, 0, 0, 0), nullptr);
  EXPECT_EQ(zvNewFont("SYSTEM", 100000, 0, 0, 0), nullptr);
}

TEST_F(TextBlockTest, LineEndsAndEscapes) {
  ASSERT_EQ(zvTextAddParagraph(block, "ab\n\ncd"), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"ab", "", "cd"}));
  EXPECT_EQ(zvTextHeight(block), 3 * mono->lineHeight);
  EXPECT_EQ(zvTextWidest(block), 2 * advance);

  zvTextClear(block);
  ASSERT_EQ(zvTextAddParagraph(block, "a\\nb"), 0);  // escapes off: shown as they are
  EXPECT_EQ(lines(), std::vector<std::string>{"a\\nb"});
  zvTextClear(block);
  zvTextSetEscapes(block, 1);
  ASSERT_EQ(zvTextAddParagraph(block, "a\\nb\\x"), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"a", "b\\x"}));

  zvTextClear(block);
  ASSERT_EQ(zvTextAddParagraph(block, "a\r\nb\tc"), 0);  // CR LF is one end; a tab is a blank
  EXPECT_EQ(lines(), (std::vector<std::string>{"a", "b c"}));
}

TEST_F(TextBlockTest, BreaksAtTheWrapWidthInsideWords) {
  ASSERT_EQ(zvTextSetWidth(block, 5 * advance + advance / 2, 10), 0);
  ASSERT_EQ(zvTextAddParagraph(block, "ab cdefghijkl"), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"ab cd", "efghi", "jkl"}));
  EXPECT_EQ(zvTextWidest(block), 5 * advance);

  // Re-wrapping lays every paragraph out again.
  ASSERT_EQ(zvTextSetWidth(block, 100 * advance, 10), 0);
  EXPECT_EQ(zvTextLineCount(block), 1);
  EXPECT_EQ(zvTextWidest(block), 13 * advance);

  // A wrap narrower than one character still moves on, a character a line,
  // and never splits a multibyte character.
  ASSERT_EQ(zvTextSetWidth(block, 0, 10), 0);
  zvTextClear(block);
  ASSERT_EQ(zvTextAddParagraph(block, "\xc3\xa9\xc3\xa9z"), 0);
  EXPECT_EQ(lines(), (std::vector<std::string>{"\xc3\xa9", "\xc3\xa9", "z"}));
}

TEST_F(TextBlockTest, CapacityDropsTheOldestAndKeepsNumbering) {
  ASSERT_EQ(zvTextSetWidth(block, 1000, 3), 0);
  for (const char* text : {"one", "two\nlines", "three", "four", "five"}) ASSERT_EQ(zvTextAddParagraph(block, text), 0);
  EXPECT_EQ(block->paragraphCount, 3);
  EXPECT_EQ(zvTextFirstLine(block), 3);  // one, two, lines gone
  EXPECT_EQ(zvTextLastLine(block), 5);
  EXPECT_EQ(lineText(2), "<none>");
  EXPECT_EQ(lineText(3), "three");
  EXPECT_EQ(lineText(5), "five");
  EXPECT_EQ(zvTextHeight(block), 3 * mono->lineHeight);

  zvTextClear(block);
  EXPECT_EQ(zvTextLastLine(block), 0);
  ASSERT_EQ(zvTextSetWidth(block, 1000, 1), 0);
  for (int i = 0; i <= ZV_TEXT_RENUMBER_AT + 1; ++i) ASSERT_EQ(zvTextAddParagraph(block, "x"), 0);
  EXPECT_EQ(zvTextFirstLine(block), 0);  // numbered again once past the limit
  EXPECT_EQ(lineText(zvTextFirstLine(block)), "x");
  EXPECT_EQ(zvTextLineCount(block), 1);
}

}  // namespace
