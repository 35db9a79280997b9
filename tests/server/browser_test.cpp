// The browser's own client code against the server: three `quillmoor
// --headless-client` processes in one world, driven through their standard
// input and read through the lines they print for what the server made
// happen to their scene.
#include "tests/server/serverkit.h"

#include <cstdlib>
#include <filesystem>

using namespace svtest;

namespace {

class Browser {
 public:
  ~Browser() { quit(); }
  bool start(int port, const std::string &user, const std::string &home) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      close(in[1]);
      close(out[0]);
      setenv("QUILLMOOR_USER", user.c_str(), 1);
      for (const char *v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        setenv(v, home.c_str(), 1);
      std::string server = "127.0.0.1:" + std::to_string(port);
      execl(QUILLMOOR_EXE, QUILLMOOR_EXE, "--headless-client", server.c_str(), (char *)nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    return pid_ > 0;
  }
  void say(const std::string &command) {
    std::string line = command + "\n";
    (void)!write(toChild_, line.data(), line.size());
  }
  // The first line (from those not yet taken) that starts with prefix,
  // within ms; empty when none came.
  std::string expect(const std::string &prefix, int ms = 5000) {
    int64_t end = nowMs() + ms;
    for (;;) {
      for (size_t i = 0; i < lines_.size(); i++) {
        if (lines_[i].compare(0, prefix.size(), prefix) == 0) {
          std::string found = lines_[i];
          lines_.erase(lines_.begin(), lines_.begin() + long(i) + 1);
          return found;
        }
      }
      int left = int(end - nowMs());
      if (left <= 0 || fromChild_ < 0) return "";
      pollfd p{fromChild_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) continue;
      char buf[4096];
      ssize_t k = read(fromChild_, buf, sizeof buf);
      if (k <= 0) {
        close(fromChild_);
        fromChild_ = -1;
        continue;
      }
      partial_.append(buf, size_t(k));
      size_t nl;
      while ((nl = partial_.find('\n')) != std::string::npos) {
        lines_.push_back(partial_.substr(0, nl));
        partial_.erase(0, nl + 1);
      }
    }
  }
  void quit() {
    if (pid_ <= 0) return;
    say("quit");
    close(toChild_);
    int status;
    for (int i = 0; i < 300 && waitpid(pid_, &status, WNOHANG) != pid_; i++) usleep(10000);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    if (fromChild_ >= 0) close(fromChild_);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1, fromChild_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
};

uint32_t idIn(const std::string &line) { return uint32_t(strtoul(line.c_str() + line.find(' ') + 1, nullptr, 10)); }

TEST(ServerBrowser, ThreeBrowsersMeet) {
  std::string home = (std::filesystem::temp_directory_path() / ("qm-server-browser-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(home);
  Server server;
  // A shared object the browser finds in its own data: the statue.
  ASSERT_TRUE(server.start({"--object", "person.wrl#statue"}));
  Browser a, b, c;
  ASSERT_TRUE(a.start(server.port, "alice", home));
  std::string mine = a.expect("myself ");
  ASSERT_FALSE(mine.empty());
  uint32_t alice = idIn(mine);
  EXPECT_EQ(a.expect("add 1 "), "add 1 person.wrl statue");
  EXPECT_EQ(a.expect("master "), "master 1");

  ASSERT_TRUE(b.start(server.port, "bob", home));
  uint32_t bob = idIn(b.expect("myself "));
  ASSERT_NE(bob, 0u);
  EXPECT_EQ(b.expect("add " + std::to_string(alice)), "add " + std::to_string(alice) + " person.wrl alice");
  EXPECT_EQ(a.expect("add " + std::to_string(bob)), "add " + std::to_string(bob) + " person.wrl bob");

  // Alice walks; bob's scene moves her avatar.
  a.say("move 1 2 3");
  std::string pos = b.expect("position " + std::to_string(alice));
  ASSERT_FALSE(pos.empty());
  float x, y, z;
  ASSERT_EQ(sscanf(pos.c_str() + pos.find(' ', 9), "%f %f %f", &x, &y, &z), 3);
  EXPECT_NEAR(x, 1, 1e-3);
  EXPECT_NEAR(z, 3, 1e-3);
  // Bob speaks; alice's chat window shows it.
  b.say("chat good evening");
  EXPECT_EQ(a.expect("chat "), "chat bob: good evening");
  // Bob moves the statue; alice's statue follows, and carol, who comes
  // later, finds it where bob left it.
  b.say("update 1 4 5 6");
  EXPECT_EQ(a.expect("moved 1 ").substr(0, 9), "moved 1 3");
  ASSERT_TRUE(c.start(server.port, "carol", home));
  EXPECT_FALSE(c.expect("myself ").empty());
  EXPECT_FALSE(c.expect("add " + std::to_string(bob)).empty());
  EXPECT_EQ(c.expect("moved 1 ").substr(0, 9), "moved 1 3");

  // Alice, the master, leaves: the others see her avatar go (put far below,
  // as it is no Switch) and bob is master; nobody is told to leave.
  a.quit();
  EXPECT_EQ(b.expect("master "), "master 1");
  EXPECT_NE(c.expect("position " + std::to_string(alice) + " 0 -29999"), "");
  EXPECT_EQ(c.expect("leave ", 300), "");
  // Bob leaves too: carol is master.
  b.quit();
  EXPECT_EQ(c.expect("master "), "master 1");
  c.quit();
  std::filesystem::remove_all(home);
}


TEST(ServerBrowser, BrowsersOnTwoServersMeet) {
  if (!redisServer()) GTEST_SKIP() << "no redis-server";
  std::string home = (std::filesystem::temp_directory_path() / ("qm-server-browser2-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(home);
  Redis redis;
  ASSERT_TRUE(redis.start());
  Server one, two;
  ASSERT_TRUE(one.start({"--redis", redis.address(), "--world", "5"}));
  ASSERT_TRUE(two.start({"--redis", redis.address(), "--world", "5"}));
  Browser a, b;
  ASSERT_TRUE(a.start(one.port, "alice", home));
  uint32_t alice = idIn(a.expect("myself "));
  ASSERT_TRUE(b.start(two.port, "bob", home));
  uint32_t bob = idIn(b.expect("myself "));
  ASSERT_NE(alice, bob);
  EXPECT_EQ(b.expect("add " + std::to_string(alice)), "add " + std::to_string(alice) + " person.wrl alice");
  EXPECT_EQ(a.expect("add " + std::to_string(bob)), "add " + std::to_string(bob) + " person.wrl bob");
  b.say("chat across");
  EXPECT_EQ(a.expect("chat "), "chat bob: across");
  a.say("move 0 0 7");
  EXPECT_NE(b.expect("position " + std::to_string(alice) + " 0 0 6.99"), "");
  a.quit();
  EXPECT_EQ(b.expect("master "), "master 1");
  b.quit();
  std::filesystem::remove_all(home);
}

}  // namespace
