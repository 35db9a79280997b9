// The service that takes documents from later starts: a document sent is
// handed to the procedure once, whole; what is not one short clean line is
// answered "NO" and reaches nobody; a caller that says nothing is dropped;
// and the service goes on taking documents after all of it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace {

std::vector<std::string> taken;
void take(void*, const char* document) { taken.push_back(document); }

// Serves events until the future is ready or seconds have passed.
template <class T>
T serveFor(std::future<T>& f, int seconds = 3) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < end)
    zvPlatformDoOneEvent(0);
  return f.get();
}

int connectRaw() {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", zvPlatformServicePath());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

// Writes bytes as another process might (closing its side when asked) and
// reads what comes back until the browser closes.
std::string exchange(std::string bytes, bool closeAfter) {
  int fd = connectRaw();
  if (fd < 0) return "no connection";
  (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (closeAfter) ::shutdown(fd, SHUT_WR);
  std::string answer;
  char buf[16];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, size_t(n));
  ::close(fd);
  return answer;
}

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("qm-service-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved = old;
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    taken.clear();
  }
  void TearDown() override {
    zvPlatformStopServing();
    saved ? setenv("XDG_RUNTIME_DIR", saved->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  std::optional<std::string> saved;
};

TEST_F(Service, ADocumentSentReachesTheBrowserOnceAndTheSocketIsPrivateAndGoesWithIt) {
  EXPECT_EQ(zvPlatformSendDocument("/tmp/a.wrl"), -1) << "sent with no browser listening";
  // A socket left by a browser that ended without closing is taken over.
  { std::ofstream(dir / "quillmoor.sock") << "stale"; }
  ASSERT_EQ(zvPlatformServeDocuments(take, nullptr), 0);
  EXPECT_EQ(std::string(zvPlatformServicePath()), (dir / "quillmoor.sock").string());
  struct stat st;
  ASSERT_EQ(::lstat(zvPlatformServicePath(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u) << "others may connect";

  const std::string url = "http://example.org/a world/x.wrl?q=1#Entry";
  auto sent = std::async(std::launch::async, [&] { return zvPlatformSendDocument(url.c_str()); });
  EXPECT_EQ(serveFor(sent), 0);
  std::string longest(ZV_SERVICE_MAX_DOCUMENT, 'w');
  sent = std::async(std::launch::async, [&] { return zvPlatformSendDocument(longest.c_str()); });
  EXPECT_EQ(serveFor(sent), 0);
  while (zvPlatformDoOneEvent(0)) {
  }
  EXPECT_EQ(taken, (std::vector<std::string>{url, longest}));

  // Refused before anything is sent.
  EXPECT_EQ(zvPlatformSendDocument(""), -2);
  EXPECT_EQ(zvPlatformSendDocument((longest + "w").c_str()), -2);
  EXPECT_EQ(zvPlatformSendDocument("a\nb.wrl"), -2);

  zvPlatformStopServing();
  EXPECT_FALSE(std::filesystem::exists(dir / "quillmoor.sock"));
  EXPECT_EQ(zvPlatformSendDocument("/tmp/a.wrl"), -1);
}

TEST_F(Service, WhatIsNotOneShortCleanLineIsRefusedAndTheServiceGoesOn) {
  ASSERT_EQ(zvPlatformServeDocuments(take, nullptr), 0);
  struct Case {
    const char* what;
    std::string bytes;
    bool closeAfter;
  };
  const std::vector<Case> cases = {
      {"no newline before the end", "OPEN /tmp/a.wrl", true},
      {"an empty document", "OPEN \n", true},
      {"another verb", "SHUT /tmp/a.wrl\n", true},
      {"a control character", "OPEN /tmp/\x01.wrl\n", true},
      {"a NUL inside", std::string("OPEN /tmp/a\0b.wrl\n", 18), true},
      {"two documents", "OPEN /tmp/a.wrl\nOPEN /tmp/b.wrl\n", true},
      {"a document too long", "OPEN " + std::string(ZV_SERVICE_MAX_DOCUMENT + 1, 'x') + "\n", true},
      {"a flood without a newline, still open", std::string(1 << 16, 'x'), false},
      {"binary noise", std::string("\xff\xfe\x00\x80OPEN", 8), true},
      {"nothing at all", "", true},
  };
  for (const Case& c : cases) {
    auto answer = std::async(std::launch::async, exchange, c.bytes, c.closeAfter);
    EXPECT_EQ(serveFor(answer), "NO\n") << c.what;
  }
  EXPECT_TRUE(taken.empty()) << taken.front();

  // One that connects and says nothing is let go; it does not hold the
  // service up meanwhile.
  int silent = connectRaw();
  ASSERT_GE(silent, 0);
  auto sent = std::async(std::launch::async, [] { return zvPlatformSendDocument("file:///tmp/b.wrl"); });
  EXPECT_EQ(serveFor(sent), 0);
  auto dropped = std::async(std::launch::async, [silent, c = '\0']() mutable { return ::recv(silent, &c, 1, 0); });
  EXPECT_EQ(serveFor(dropped, 4), 0) << "the silent caller was not let go";
  ::close(silent);
  EXPECT_EQ(taken, (std::vector<std::string>{"file:///tmp/b.wrl"}));
}

}  // namespace
