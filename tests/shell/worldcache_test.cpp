// The world cache through the browser's own window and load path (skipped
// without a display; CTest runs it on an X server of its own): sixty worlds
// opened one after another under a small budget keep the cache within it,
// the world on show is never let go, and Back to a world that was let go
// reads it again without changing the history.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/window.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "tests/shell/runprogram.h"
#include "www/www.h"

namespace {

enum { kWorlds = 60, kBudgetMb = 30, kBacks = 12 };

// A grid of n x n quads: the worlds weigh 7 to 10 MB, so a few fit.
std::string gridWorld(int n) {
  std::string points, faces;
  for (int i = 0; i < (n + 1) * (n + 1); ++i)
    points += std::to_string(i % (n + 1)) + " " + std::to_string(i / (n + 1)) + " 0,\n";
  for (int a = 0; a < n * (n + 1); ++a)
    if (a % (n + 1) < n)
      faces += std::to_string(a) + "," + std::to_string(a + 1) + "," + std::to_string(a + n + 2) + "," +
               std::to_string(a + n + 1) + ",-1,\n";
  return "#VRML V1.0 ascii\nSeparator { Coordinate3 { point [" + points + "] } IndexedFaceSet { coordIndex [" +
         faces + "] } }\n";
}

struct Session {
  std::vector<std::string> urls;
  int opened = 1, backs = 0, backsToLostWorlds = 0, mostHeld = 0;
  std::vector<std::string> problems;
  std::chrono::steady_clock::time_point deadline;
  ZvPlatformTimer timer{};
} session;

bool showing(const std::string& url) {
  ZvWorld* w = zvShellWorld();
  return w && w->url && url == w->url && zvShellViewState() == ZV_VIEW_RUNNING;
}

int historyLength() {
  int n = 0;
  for (ZvHistoryEntry* e = zvGetCurrentHistoryEntry(); e; e = zvPrevHistoryEntry(e)) ++n;
  for (ZvHistoryEntry* e = zvNextHistoryEntry(zvGetCurrentHistoryEntry()); e; e = zvNextHistoryEntry(e)) ++n;
  return n;
}

void stop(const std::string& problem) {
  if (!problem.empty()) session.problems.push_back(problem);
  zvPlatformDisarmTimer(&session.timer);
  zvShellClose();
}

// Every few milliseconds: check the cache, then take the next step once the
// world asked for is on show (loads and Back run to the end before that).
void drive(void*) {
  Session& s = session;
  zvPlatformArmTimer(&s.timer, 5);
  if (std::chrono::steady_clock::now() > s.deadline) return stop("timed out at " + std::to_string(s.opened));
  s.mostHeld = std::max(s.mostHeld, zvWorldCacheCount());
  if (zvWorldCacheBytes() > size_t(kBudgetMb) << 20)
    return stop("the cache holds " + std::to_string(zvWorldCacheBytes()) + " bytes");
  if (ZvWorld* w = zvShellWorld(); w && zvGetCachedWorld(w->url) != w) return stop("the world on show was let go");
  const std::string& expected = s.urls[s.opened < kWorlds ? s.opened - 1 : kWorlds - 1 - s.backs];
  if (!showing(expected)) {
    if (s.backs > 0) stop("Back did not show " + expected);
    return;
  }
  if (s.opened < kWorlds) return zvShellPostOpenUrl(zvFileUrlToPath(s.urls[s.opened++].c_str()));
  if (historyLength() != kWorlds) return stop("the history changed");
  if (s.backs == kBacks) return stop("");
  if (!zvGetCachedWorld(s.urls[kWorlds - 2 - s.backs].c_str())) ++s.backsToLostWorlds;
  ++s.backs;
  zvShellGoBack();
}

class WorldCache : public qmtest::ProgramTest {
 protected:
  WorldCache() : ProgramTest("worldcache") {}
  void SetUp() override {
    if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
    ProgramTest::SetUp();
    for (const char* var : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      mkdir((dir / var).c_str(), 0700);
      setenv(var, (dir / var).c_str(), 1);
    }
  }
};

TEST_F(WorldCache, SixtyWorldsStayWithinTheBudgetAndBackReadsALostWorldAgain) {
  session = Session{};
  for (int i = 0; i < kWorlds; ++i) {
    std::string path = (dir / ("w" + std::to_string(i) + ".wrl")).string();
    std::ofstream(path) << gridWorld(30 + (i % 4) * 12);
    session.urls.push_back(zvPathToFileUrl(path.c_str()));
  }
  session.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  session.timer = ZvPlatformTimer{drive, nullptr, nullptr};
  zvPlatformInitEvents();
  zvPlatformArmTimer(&session.timer, 5);
  // The first world comes from the command line, the rest as if typed into
  // the location bar.
  std::string first = zvFileUrlToPath(session.urls[0].c_str());
  ZvCommandLine words{};
  zvSetCommandLineWords(0, nullptr, &words);
  ZvShellOptions options{};
  options.firstWorld = first.c_str();
  options.cacheMegabytes = kBudgetMb;
  ASSERT_EQ(zvRunWindow(&words, &options), 0);

  for (const std::string& p : session.problems) ADD_FAILURE() << p;
  EXPECT_EQ(session.backs, kBacks);
  EXPECT_GT(session.mostHeld, 1) << "a few of these worlds fit the budget";
  EXPECT_LT(session.mostHeld, kWorlds / 2) << "the worlds were not weighed";
  EXPECT_GT(session.backsToLostWorlds, 0);
}

}  // namespace
