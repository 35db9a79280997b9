// The world cache in a long session, through the browser's own window and
// load path (skipped without a display; CTest runs it again on an X server
// of its own): sixty worlds opened one after another under a small budget
// keep the cache within it, the world on show is never the one let go, and
// Back to a world that was let go reads it again without touching the
// history.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/window.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "tests/shell/runprogram.h"
#include "www/www.h"

namespace {

enum { kWorlds = 60, kBudgetMb = 30, kBacks = 12 };

// A grid of quads whose size changes from world to world, so that the
// worlds weigh differently and several, not all, fit the budget.
std::string gridWorld(int n) {
  std::string text = "#VRML V1.0 ascii\nSeparator {\n Coordinate3 { point [\n";
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) text += "  " + std::to_string(x) + " " + std::to_string(y) + " 0,\n";
  text += " ] }\n IndexedFaceSet { coordIndex [\n";
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      int a = y * (n + 1) + x;
      text += "  " + std::to_string(a) + "," + std::to_string(a + 1) + "," + std::to_string(a + n + 2) + "," +
              std::to_string(a + n + 1) + ",-1,\n";
    }
  return text + " ] }\n}\n";
}

struct Session {
  std::vector<std::string> urls;  // the worlds' file URLs, in the order opened
  int opened = 0;                 // worlds shown so far
  int backs = 0;
  int backsToEvicted = 0;
  int reloadedRight = 0;          // Backs to a world let go that showed it again
  size_t budget = 0, peak = 0;
  int mostHeld = 0;
  std::vector<std::string> problems;
  std::chrono::steady_clock::time_point deadline;
  ZvPlatformTimer timer{};
  bool waitingForBack = false;
  std::string backUrl;
};

Session session;

bool showing(const std::string& url) {
  ZvWorld* w = zvShellWorld();
  return w && w->url && url == w->url && zvShellViewState() == ZV_VIEW_RUNNING;
}

int historyLength() {
  ZvHistoryEntry* e = zvGetCurrentHistoryEntry();
  while (zvPrevHistoryEntry(e)) e = zvPrevHistoryEntry(e);
  int n = 0;
  for (; e; e = zvNextHistoryEntry(e)) ++n;
  return n;
}

void finish() {
  zvPlatformDisarmTimer(&session.timer);
  zvShellClose();
}

// Every few milliseconds: the cache must hold the world on show and stay
// within the budget; then the session moves on by one step.
void drive(void*) {
  Session& s = session;
  zvPlatformArmTimer(&s.timer, 5);
  if (std::chrono::steady_clock::now() > s.deadline) {
    s.problems.push_back("the session did not finish in time after " + std::to_string(s.opened) + " worlds");
    return finish();
  }
  size_t held = zvWorldCacheBytes();
  s.peak = std::max(s.peak, held);
  s.mostHeld = std::max(s.mostHeld, zvWorldCacheCount());
  if (held > s.budget)
    s.problems.push_back("the cache holds " + std::to_string(held) + " bytes, over its budget");
  if (ZvWorld* w = zvShellWorld(); w && zvGetCachedWorld(w->url) != w)
    s.problems.push_back(std::string("the world on show left the cache: ") + w->url);
  if (!s.problems.empty()) return finish();

  if (s.opened < kWorlds) {
    if (!showing(s.urls[s.opened - 1])) return;  // still loading
    zvShellPostOpenUrl(zvFileUrlToPath(s.urls[s.opened].c_str()));
    ++s.opened;
    return;
  }
  if (s.waitingForBack) {
    if (!showing(s.backUrl)) return;
    s.waitingForBack = false;
    ++s.reloadedRight;
  }
  if (!showing(s.urls[kWorlds - 1 - s.backs])) {
    if (s.backs == 0) return;  // the last world is still loading
    s.problems.push_back("Back did not show " + s.urls[kWorlds - 1 - s.backs]);
    return finish();
  }
  if (historyLength() != kWorlds) {
    s.problems.push_back("Back changed the history: " + std::to_string(historyLength()) + " entries");
    return finish();
  }
  if (s.backs == kBacks) return finish();
  ++s.backs;
  std::string target = s.urls[kWorlds - 1 - s.backs];
  bool evicted = zvGetCachedWorld(target.c_str()) == nullptr;
  zvShellGoBack();
  if (evicted) {
    ++s.backsToEvicted;
    s.waitingForBack = true;
    s.backUrl = target;
  }
}

class WorldCache : public qmtest::ProgramTest {
 protected:
  WorldCache() : ProgramTest("worldcache") {}
  void SetUp() override {
    if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
    ProgramTest::SetUp();
    for (const char* var : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      std::string d = (dir / var).string();
      mkdir(d.c_str(), 0700);
      setenv(var, d.c_str(), 1);
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
  session.budget = size_t(kBudgetMb) << 20;
  session.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  session.timer = ZvPlatformTimer{drive, nullptr, nullptr};
  zvPlatformInitEvents();
  zvPlatformArmTimer(&session.timer, 5);

  ZvCommandLine words{};
  zvSetCommandLineWords(0, nullptr, &words);
  // The first world comes from the command line, the rest as typed into
  // the location bar.
  std::string first = zvFileUrlToPath(session.urls[0].c_str());
  session.opened = 1;
  ZvShellOptions options{};
  options.firstWorld = first.c_str();
  options.cacheMegabytes = kBudgetMb;
  ASSERT_EQ(zvRunWindow(&words, &options), 0);
  zvPlatformDisarmTimer(&session.timer);

  for (const std::string& p : session.problems) ADD_FAILURE() << p;
  EXPECT_EQ(session.opened, kWorlds);
  EXPECT_EQ(session.backs, kBacks);
  std::printf("worlds held at most %d, peak %zu of %zu bytes\n", session.mostHeld, session.peak, session.budget);
  EXPECT_GT(session.mostHeld, 1) << "the budget should hold a few of these worlds";
  EXPECT_LT(session.mostHeld, 20) << "the worlds were not weighed: the cache kept them all";
  EXPECT_GT(session.backsToEvicted, 0) << "no Back led to a world that had been let go";
  EXPECT_EQ(session.reloadedRight, session.backsToEvicted);
  EXPECT_EQ(zvWorldCacheCount(), 0) << "closing the window deletes every world";
}

}  // namespace
