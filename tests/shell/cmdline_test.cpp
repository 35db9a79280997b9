#include <gtest/gtest.h>

#include <string>

#include "scene/scene.h"
#include "shell/shell.h"

namespace {

struct Parsed {
  std::string buffer;
  ZvCommandLine table{};
  ZvShellOptions options{};
};

void parse(Parsed& p, const char* line) {
  zvResetDebugFlags();
  p.buffer = line;
  zvSplitCommandLine(p.buffer.data(), &p.table);
  zvReadCommandLineOptions(&p.table, &p.options);
}

TEST(CommandLine, SplitsInPlaceAndKeepsSlotZeroEmpty) {
  std::string line = "  -dname\tworld.wrl   next.wrl ";
  ZvCommandLine t;
  EXPECT_EQ(zvSplitCommandLine(line.data(), &t), 3);
  EXPECT_EQ(t.words[0], nullptr);
  EXPECT_STREQ(t.words[1], "-dname");
  EXPECT_STREQ(t.words[2], "world.wrl");
  EXPECT_STREQ(t.words[3], "next.wrl");
  EXPECT_EQ(t.words[1], line.data() + 2);  // in place, not copied
}

TEST(CommandLine, AtMostThirtyOneWords) {
  std::string line;
  for (int i = 0; i < 40; ++i) line += "w" + std::to_string(i) + " ";
  ZvCommandLine t;
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  EXPECT_EQ(zvSplitCommandLine(line.data(), &t), 31);
  EXPECT_STREQ(t.words[31], "w30");
}

TEST(CommandLine, DflagsSwitchesClassesUpToTheNextOption) {
  Parsed p;
  parse(p, "-dflags rwdebug qvdebug -dname a.wrl b.wrl");
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_RW), 1);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_QV), 1);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_TK), 0);
  EXPECT_EQ(p.options.showNames, 1);
  EXPECT_STREQ(p.options.firstWorld, "a.wrl");
  EXPECT_STREQ(zvNextCommandLineWord(&p.table), "b.wrl");
  EXPECT_EQ(zvNextCommandLineWord(&p.table), nullptr);
}

TEST(CommandLine, DflagsLastOrUnknownChangesNothing) {
  Parsed p;
  parse(p, "-dframerate -dflags");
  EXPECT_EQ(p.options.frameRateReport, 1);
  EXPECT_EQ(p.options.firstWorld, nullptr);
  for (int c = ZV_DEBUG_ZV; c <= ZV_DEBUG_AUTH; ++c) EXPECT_EQ(zvGetDebugFlag(c), 0);
  // Every word up to the next option is a class name, so a world named
  // right after the classes is taken as one (and, unknown, changes nothing).
  Parsed q;
  parse(q, "-dflags nosuchclass world.wrl");
  EXPECT_EQ(q.options.firstWorld, nullptr);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_WARNING), 1);
}

TEST(CommandLine, UnknownDashWordIsAWorldAndStopsOptions) {
  Parsed p;
  parse(p, "-dcomment -strange.wrl -dname");
  EXPECT_EQ(p.options.showComments, 1);
  EXPECT_STREQ(p.options.firstWorld, "-strange.wrl");
  EXPECT_EQ(p.options.showNames, 0);  // reading stopped at the world
  EXPECT_STREQ(zvNextCommandLineWord(&p.table), "-dname");
}

TEST(CommandLine, LongOptionsComeFirst) {
  const char* argv1[] = {"quillmoor", "--version", "x.wrl"};
  ZvLaunch l;
  zvParseLongOptions(3, const_cast<char**>(argv1), &l);
  EXPECT_EQ(l.mode, ZV_LAUNCH_VERSION);
  EXPECT_EQ(l.firstWord, 2);
  // A word we do not know is left for the word table: a world's name.
  const char* argv2[] = {"quillmoor", "--help", "--bogus.wrl"};
  zvParseLongOptions(3, const_cast<char**>(argv2), &l);
  EXPECT_EQ(l.error, nullptr);
  EXPECT_EQ(l.mode, ZV_LAUNCH_HELP);
  EXPECT_EQ(l.firstWord, 2);
  const char* argv3[] = {"quillmoor", "--", "--odd-name.wrl"};
  zvParseLongOptions(3, const_cast<char**>(argv3), &l);
  EXPECT_EQ(l.error, nullptr);
  EXPECT_EQ(l.firstWord, 2);
}

int order[16];
int ran = 0;
void first() { order[ran++] = 1; }
void second() { order[ran++] = 2; }

TEST(ExitHandlers, RunLastFirstAndHoldAtMostTen) {
  zvClearExitHandlers();
  ASSERT_EQ(zvAddExitHandler(first), 0);
  ASSERT_EQ(zvAddExitHandler(second), 0);
  for (int i = 2; i < 10; ++i) ASSERT_EQ(zvAddExitHandler(first), 0);
  EXPECT_EQ(zvAddExitHandler(second), -1);
  ran = 0;
  zvExit();
  ASSERT_EQ(ran, 10);
  EXPECT_EQ(order[8], 2);
  EXPECT_EQ(order[9], 1);
  zvExit();  // nothing left to run
  EXPECT_EQ(ran, 10);
}

}  // namespace
