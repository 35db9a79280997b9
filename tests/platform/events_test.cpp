// The loop's timers and posted messages, and the single-instance lock. None
// of these needs a display.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace {

std::vector<int> fired;

void record(void* user) { fired.push_back(int(reinterpret_cast<intptr_t>(user))); }

struct Posted {
  int code;
  intptr_t a, b;
};
std::vector<Posted> posted;
void onMessage(void*, int code, intptr_t a, intptr_t b) { posted.push_back({code, a, b}); }

// Serves events until pred holds or a second has passed.
template <class Pred>
void serveUntil(Pred pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!pred() && std::chrono::steady_clock::now() < end) zvPlatformDoOneEvent(0);
}

TEST(Events, TimersFireOnceInTimeOrderAndCanBeMovedOrDisarmed) {
  fired.clear();
  ZvPlatformTimer late{record, reinterpret_cast<void*>(2), nullptr};
  ZvPlatformTimer early{record, reinterpret_cast<void*>(1), nullptr};
  ZvPlatformTimer dropped{record, reinterpret_cast<void*>(3), nullptr};
  zvPlatformArmTimer(&late, 5);
  zvPlatformArmTimer(&late, 40);  // moved, not doubled
  zvPlatformArmTimer(&early, 10);
  zvPlatformArmTimer(&dropped, 15);
  zvPlatformDisarmTimer(&dropped);
  EXPECT_EQ(dropped.token, nullptr);
  serveUntil([] { return fired.size() >= 2; });
  ASSERT_EQ(fired, (std::vector<int>{1, 2}));
  EXPECT_EQ(late.token, nullptr);
  // A fired timer re-arms from inside its own procedure, as the frame timer does.
  static ZvPlatformTimer again;
  again = {[](void*) {
             fired.push_back(9);
             if (fired.size() < 5) zvPlatformArmTimer(&again, 1);
           },
           nullptr, nullptr};
  zvPlatformArmTimer(&again, 1);
  serveUntil([] { return fired.size() >= 5; });
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 9, 9, 9}));
  zvPlatformDoOneEvent(0);
  EXPECT_EQ(fired.size(), 5u);
}

TEST(Events, MessagesArriveInOrderWithTheirWordsAndWithoutAHandlerAreDropped) {
  posted.clear();
  zvPlatformSetMessageHandler(onMessage, nullptr);
  static const char word[] = "world.wrl";
  zvPlatformPostMessage(0, reinterpret_cast<intptr_t>(word), -7);
  zvPlatformPostMessage(6, 0, INTPTR_MAX);
  serveUntil([] { return posted.size() >= 2; });
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_TRUE(posted[0].code == 0 && posted[0].b == -7 && posted[1].code == 6 && posted[1].b == INTPTR_MAX);
  EXPECT_STREQ(reinterpret_cast<const char*>(posted[0].a), "world.wrl");
  zvPlatformSetMessageHandler(nullptr, nullptr);
  zvPlatformPostMessage(1, 0, 0);
  while (zvPlatformDoOneEvent(0)) {
  }
  EXPECT_EQ(posted.size(), 2u);
}

class Lock : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("qm-lock-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved = old;
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  void TearDown() override {
    saved ? setenv("XDG_RUNTIME_DIR", saved->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  std::optional<std::string> saved;
};

TEST_F(Lock, OneHolderAtATimeAndAnEndedHolderLetsGo) {
  EXPECT_EQ(std::string(zvPlatformLockPath()), (dir / "quillmoor.lock").string());
  int fd = zvPlatformTakeInstanceLock();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(zvPlatformTakeInstanceLock(), -1);
  ::close(fd);
  // A holder that dies without a word leaves nothing behind.
  pid_t child = ::fork();
  if (child == 0) {
    if (zvPlatformTakeInstanceLock() < 0) ::_exit(3);
    ::abort();
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child could not take the lock";
  EXPECT_GE(fd = zvPlatformTakeInstanceLock(), 0);
  ::close(fd);
}

TEST_F(Lock, WithoutARuntimeDirectoryTheLockIsInAPrivateTmpDirectory) {
  unsetenv("XDG_RUNTIME_DIR");
  std::string path = zvPlatformLockPath();
  EXPECT_EQ(path, "/tmp/quillmoor-" + std::to_string(::getuid()) + "/quillmoor.lock");
  auto perms = std::filesystem::status(std::filesystem::path(path).parent_path()).permissions();
  EXPECT_EQ(perms & std::filesystem::perms::all, std::filesystem::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", "relative/dir", 1);  // not a usable runtime directory
  EXPECT_EQ(std::string(zvPlatformLockPath()), path);
}

}  // namespace
