// The headless modes take URLs: a world from a web server of the tests'
// own draws the same picture as its copy on this disk, failures cost a
// message and the next world is still read, and a world from the network
// reaches no file of this disk, its scripts included.
#include <fstream>
#include <iterator>
#include <string>

#include "tests/shell/runprogram.h"
#include "tests/support/webserver.h"

namespace {

class Web : public qmtest::ProgramTest {
 protected:
  Web() : ProgramTest("web") {}
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(server().up());
    // Short limits, so the servers that stall cost seconds, not minutes.
    setenv("QUILLMOOR_FETCH_LIMITS", "2:2:1048576", 1);
  }
  void TearDown() override {
    unsetenv("QUILLMOOR_FETCH_LIMITS");
    ProgramTest::TearDown();
  }
  static qmtest::WebServer& server() {
    static qmtest::WebServer instance;
    return instance;
  }
  static std::string bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string local(const std::string& name) const { return std::string(QUILLMOOR_SOURCE_DIR) + "/tests/data/web/" + name; }
};

TEST_F(Web, ARemoteWorldDrawsAsItsLocalCopyWithInlineTexturesAndScript) {
  std::string remote = (dir / "remote.png").string(), here = (dir / "local.png").string();
  auto a = qmtest::runProgram("--screenshot " + remote + " --size 160x120 --after 0 " + server().url("files/world.wrl"));
  auto b = qmtest::runProgram("--screenshot " + here + " --size 160x120 --after 0 " + local("world.wrl"));
  ASSERT_EQ(a.status, 0) << a.out;
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(bytes(remote), bytes(here)) << a.out;
  // Through a redirect and gzip on the way, the same again.
  auto c = qmtest::runProgram("--screenshot " + remote + " --size 160x120 --after 0 " +
                              server().url("redirect/2/world.wrl"));
  ASSERT_EQ(c.status, 0) << c.out;
  EXPECT_EQ(bytes(remote), bytes(here));
  auto check = qmtest::runProgram("--check " + server().url("gzip/world.wrl"));
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_NE(check.out.find("1 inlines; textures 2 found, 0 missing"), std::string::npos) << check.out;
  // Nothing fetched outlives the run.
  std::error_code ec;
  for (auto& f : std::filesystem::recursive_directory_iterator(dir / "quillmoor", ec))
    EXPECT_FALSE(f.is_regular_file()) << f.path();
}

TEST_F(Web, EachFailingServerCostsItsMessageAndTheNextWorldIsRead) {
  auto r = qmtest::runProgram("--check " + server().url("404") + " " + server().url("loop") + " " +
                              server().url("silent") + " " + server().url("huge") + " " +
                              server().url("truncated/world.wrl") + " " + server().url("garbage") + " " +
                              server().url("files/world.wrl"));
  EXPECT_EQ(r.status, 1) << r.out;
  for (const char* said : {"/404 : the server answered 404", "/loop : too many redirects",
                           "/silent : the server stopped answering", "/huge : larger than 1024 KB",
                           "remaining to read", "HTTP/0.9"})
    EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;
  EXPECT_NE(r.out.find("files/world.wrl: 10 objects"), std::string::npos) << r.out;
  auto missing = qmtest::runProgram("--screenshot " + (dir / "x.png").string() + " " + server().url("404"));
  EXPECT_EQ(missing.status, 1) << missing.out;
}

TEST_F(Web, ARemoteWorldReadsNoLocalFileNorDoItsScripts) {
  auto r = qmtest::runProgram("--check " + server().url("files/hostile.wrl"));
  EXPECT_NE(r.out.find("file:///etc/passwd : a world from the network may not read local files"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("0 inlines; textures 0 found, 1 missing"), std::string::npos) << r.out;
  auto s = qmtest::runProgram("--screenshot " + (dir / "s.png").string() + " --size 80x60 " +
                              server().url("files/sandbox.wrl"));
  EXPECT_EQ(s.status, 0) << s.out;
  // What the world fetched its script reads; this disk it does not.
  EXPECT_NE(s.out.find("fetched: # Turns what the handler sits on red"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("refused: can't open /etc/hostname"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("refused: zvWwwLoadFile:[file:///etc/hostname] is a local file"), std::string::npos) << s.out;
  EXPECT_EQ(s.out.find("read a local file"), std::string::npos) << s.out;
}

TEST_F(Web, WriteTakesAUrlAndKeepsItsLinksAsURLs) {
  std::string out = (dir / "out.wrl").string();
  auto r = qmtest::runProgram("--write " + out + " " + server().url("files/world.wrl"));
  ASSERT_EQ(r.status, 0) << r.out;
  std::string text = bytes(out);
  EXPECT_NE(text.find("name \"" + server().url("files/parts/box.wrl") + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("name \"" + server().url("files/world.wrl") + "\""), std::string::npos) << text;
}

}  // namespace
