#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/scene.h"
#include "shell/shell.h"

namespace {

struct Parsed {
  explicit Parsed(const char* line) : buffer(line) {
    zvResetDebugFlags();
    zvSplitCommandLine(buffer.data(), &table);
    zvReadCommandLineOptions(&table, &options);
  }
  std::string buffer;
  ZvCommandLine table{};
  ZvShellOptions options{};
};

TEST(CommandLine, SplitsInPlaceIntoAtMostThirtyOneWords) {
  std::string line = "  -dname\tworld.wrl   next.wrl ";
  ZvCommandLine t;
  EXPECT_EQ(zvSplitCommandLine(line.data(), &t), 3);
  EXPECT_EQ(t.words[0], nullptr);
  EXPECT_EQ(t.words[1], line.data() + 2);  // in place, not copied
  EXPECT_STREQ(t.words[1], "-dname");
  EXPECT_STREQ(t.words[3], "next.wrl");
  line.clear();
  for (int i = 0; i < 40; ++i) line += "w" + std::to_string(i) + " ";
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  EXPECT_EQ(zvSplitCommandLine(line.data(), &t), 31);
  EXPECT_STREQ(t.words[31], "w30");
}

TEST(CommandLine, DflagsSwitchesTheClassesNamedUpToTheNextOption) {
  Parsed p("-dflags rwdebug qvdebug -dname a.wrl b.wrl");
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_RW), 1);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_QV), 1);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_TK), 0);
  EXPECT_EQ(p.options.showNames, 1);
  EXPECT_STREQ(p.options.firstWorld, "a.wrl");
  EXPECT_STREQ(zvNextCommandLineWord(&p.table), "b.wrl");
  EXPECT_EQ(zvNextCommandLineWord(&p.table), nullptr);

  Parsed last("-dframerate -dflags");  // nothing to switch
  EXPECT_EQ(last.options.frameRateReport, 1);
  EXPECT_EQ(last.options.firstWorld, nullptr);
  for (int c = ZV_DEBUG_ZV; c <= ZV_DEBUG_AUTH; ++c) EXPECT_EQ(zvGetDebugFlag(c), 0);
  // Every word up to the next option is a class name, so a world named right
  // after the classes is taken as one (and, unknown, changes nothing).
  Parsed unknown("-dflags nosuchclass world.wrl");
  EXPECT_EQ(unknown.options.firstWorld, nullptr);
  EXPECT_EQ(zvGetDebugFlag(ZV_DEBUG_WARNING), 1);
}

TEST(CommandLine, DcachembTakesAWholeNumberOfMegabytesOrLeavesTheWord) {
  Parsed p("-dcachemb 64 -dname a.wrl");
  EXPECT_EQ(p.options.cacheMegabytes, 64);
  EXPECT_STREQ(p.options.firstWorld, "a.wrl");
  for (const char* bad : {"-dcachemb w.wrl", "-dcachemb 0", "-dcachemb 12x", "-dcachemb -5", "-dcachemb 99999999999"}) {
    Parsed q(bad);
    EXPECT_EQ(q.options.cacheMegabytes, 0) << bad;
    EXPECT_NE(q.options.firstWorld, nullptr) << bad << ": the word is left as a world";
  }
}

TEST(CommandLine, DscriptlimitTakesMillisecondsOrLeavesTheWord) {
  Parsed p("-dscriptlimit 250 a.wrl");
  EXPECT_EQ(p.options.scriptLimit, 250);
  EXPECT_STREQ(p.options.firstWorld, "a.wrl");
  for (const char* bad : {"-dscriptlimit", "-dscriptlimit 0 a.wrl", "-dscriptlimit 5s a.wrl", "-dscriptlimit 3600001 a.wrl"}) {
    Parsed q(bad);
    EXPECT_EQ(q.options.scriptLimit, 0) << bad;
  }
}

TEST(CommandLine, UnknownDashWordIsAWorldAndStopsOptions) {
  Parsed p("-dcomment -strange.wrl -dname");
  EXPECT_EQ(p.options.showComments, 1);
  EXPECT_STREQ(p.options.firstWorld, "-strange.wrl");
  EXPECT_EQ(p.options.showNames, 0);  // reading stopped at the world
  EXPECT_STREQ(zvNextCommandLineWord(&p.table), "-dname");
}

TEST(CommandLine, LongOptionsComeFirstAndLeaveUnknownWordsToTheWordTable) {
  auto parse = [](std::vector<const char*> argv) {
    ZvLaunch l{-1, "stale", -1, "stale", -1, -1, -2};
    zvParseLongOptions(int(argv.size()), const_cast<char**>(argv.data()), &l);
    return l;
  };
  ZvLaunch l = parse({"quillmoor", "--version", "x.wrl"});
  EXPECT_EQ(l.mode, ZV_LAUNCH_VERSION);
  EXPECT_EQ(l.firstWord, 2);
  l = parse({"quillmoor", "--help", "--bogus.wrl"});
  EXPECT_EQ(l.error, nullptr);
  EXPECT_EQ(l.mode, ZV_LAUNCH_HELP);
  EXPECT_EQ(l.firstWord, 2);
  l = parse({"quillmoor", "--", "--odd-name.wrl"});
  EXPECT_EQ(l.error, nullptr);
  EXPECT_EQ(l.firstWord, 2);
  l = parse({"quillmoor", "--size", "320x200", "--screenshot", "o.png", "w.wrl"});
  EXPECT_EQ(l.mode, ZV_LAUNCH_SCREENSHOT);
  EXPECT_STREQ(l.output, "o.png");
  EXPECT_EQ(l.width, 320);
  EXPECT_EQ(l.height, 200);
  EXPECT_EQ(l.firstWord, 5);
  EXPECT_EQ(parse({"quillmoor", "--screenshot", "o.png", "w.wrl"}).width, 640);  // the default view
  // The view is never larger than the cameras are made for.
  for (const char* bad : {"1025x768", "1024x769", "0x10", "10x", "10x10x", "-5x5"})
    EXPECT_NE(parse({"quillmoor", "--size", bad, "w.wrl"}).error, nullptr) << bad;
  EXPECT_EQ(parse({"quillmoor", "--size", "1024x768", "w.wrl"}).error, nullptr);

  // --after goes anywhere among the picture's options, and only with them.
  l = parse({"quillmoor", "--after", "1500", "--screenshot", "o.png", "--size", "64x48", "w.wrl"});
  EXPECT_EQ(l.error, nullptr);
  EXPECT_EQ(l.afterMs, 1500);
  EXPECT_EQ(l.width, 64);
  EXPECT_EQ(l.firstWord, 7);
  EXPECT_EQ(parse({"quillmoor", "--screenshot", "o.png", "--after", "0", "w.wrl"}).afterMs, 0);
  EXPECT_EQ(parse({"quillmoor", "--screenshot", "o.png", "w.wrl"}).afterMs, -1);
  for (const char* bad : {"-1", "1e3", "", "3600001", "10ms"})
    EXPECT_NE(parse({"quillmoor", "--screenshot", "o.png", "--after", bad, "w.wrl"}).error, nullptr) << bad;
  EXPECT_NE(parse({"quillmoor", "--screenshot", "o.png", "--after"}).error, nullptr);
  EXPECT_STREQ(parse({"quillmoor", "--check", "--after", "10", "w.wrl"}).error, "--after");
}

int order[16];
int ran = 0;

TEST(ExitHandlers, RunLastFirstAndHoldAtMostTen) {
  zvClearExitHandlers();
  ASSERT_EQ(zvAddExitHandler([] { order[ran++] = 1; }), 0);
  ASSERT_EQ(zvAddExitHandler([] { order[ran++] = 2; }), 0);
  for (int i = 2; i < 10; ++i) ASSERT_EQ(zvAddExitHandler([] { order[ran++] = 1; }), 0);
  EXPECT_EQ(zvAddExitHandler([] { order[ran++] = 2; }), -1);
  ran = 0;
  zvExit();
  ASSERT_EQ(ran, 10);
  EXPECT_EQ(order[8], 2);
  EXPECT_EQ(order[9], 1);
  zvExit();  // nothing left to run
  EXPECT_EQ(ran, 10);
}

}  // namespace
