// The character commands of world scripts: a stick figure made, stepped
// and asked for its frame; a skinned one from its VRML file; files a world
// may not read; and the hall of figures pictured at two moments.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "media/media.h"
#include "tests/script/scripttest.h"

namespace {

namespace fs = std::filesystem;

// Two segments in a line, three frames; the elbow bends on the second.
const char* const kArm =
    "bgnbody name arm\n"
    "bgnsegment name upper scale 1 1 1 bgnsite name base xfm 0 0 0 0 0 0 endsite"
    " bgnsite name elbow xfm 0 -1 0 0 0 0 endsite endsegment\n"
    "bgnsegment name lower scale 1 1 1 bgnsite name base xfm 0 -1 0 0 0 0 endsite"
    " bgnsite name hand xfm 0 -2 0 0 0 0 endsite endsegment\n"
    "root upper.base xfm 0 1 0 0 0 0\n"
    "bgnjoint name elbow connect upper.elbow lower.base endjoint\nendbody\n"
    "bgncapture bgninput name arm file 9 filename arm endinput\n"
    "bgntarget object joint arm.elbow 0 0 7 endtarget endcapture\n"
    "0 1 0 0 0 0 0 0 0\n0 1 0 0 0 0 90 0 0\n0 1 0 0 0 0 0 0 0\n";

class KinemationCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::useDataDirectory();
    dir = fs::temp_directory_path() / ("qm-kin-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    write("arm.wkn", kArm);
    write("skin.wrl",
          "#VRML V1.0 ascii\nSeparator { DEF Kinemation Info { string \"arm.wkn\" }\n"
          "DEF upper Separator { Cube {} } DEF lower Separator { Sphere {} } }\n");
    zvWwwInstallHooks();
    zvMediaInstallCharacters();
    open(zvPathToFileUrl((dir / "world.wrl").c_str()));
  }
  void TearDown() override {
    close();
    fs::remove_all(dir);
  }
  void open(const char* url) {
    close();
    world = zvNewWorld(url);
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void close() {
    if (!world) return;
    zvScriptExit(world, ZV_SCRIPT_TCL);
    zvDeleteWorld(world);
    world = nullptr;
  }
  void write(const char* name, const char* text) { std::ofstream(dir / name, std::ios::binary) << text; }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text); }
  qmtest::RecordingSink sink;
  fs::path dir;
  ZvWorld* world = nullptr;
};

TEST_F(KinemationCommands, AStickFigureStepsWrapsAndTellsItsFrame) {
  std::string handle = eval("zvDebugFunc zvKinNew arm.wkn c");
  ASSERT_EQ(handle.find("error"), std::string::npos) << handle << sink.dump();
  EXPECT_EQ(eval("set c"), handle);
  ASSERT_NE(world->topObjects, nullptr);
  EXPECT_EQ(zvScriptHandleOf(world->topObjects->object, ZV_HANDLE_OBJ), std::stol(handle));
  EXPECT_EQ(eval("zvKinGetFrame $c cur max; list $cur $max"), "-1 3");
  EXPECT_EQ(eval("zvKinNextPosture $c; zvKinNextPosture $c; zvKinGetFrame $c cur; set cur"), "1");
  EXPECT_EQ(eval("zvKinPrevPosture $c; zvKinPrevPosture $c; zvKinGetFrame $c cur; set cur"), "2");
  EXPECT_EQ(eval("zvKinSetFrame $c 1; zvKinGetFrame $c cur; set cur"), "1");
  EXPECT_EQ(eval("zvKinSetFrame $c 3"), "error: -4");
  EXPECT_EQ(eval("zvKinSetFrame $c one"), "error: zvKinSetFrame: bad frame number[one]");
  EXPECT_EQ(eval("zvKinNextPosture 99999999"), "error: zvKinNextPosture:bad ZvObj[99999999]");
  EXPECT_EQ(eval("zvKinDelete $c"), "");
  EXPECT_NE(eval("zvKinNextPosture $c").find("error"), std::string::npos);
  EXPECT_NE(eval("zvKinGetFrame $c cur").find("error"), std::string::npos);
  EXPECT_EQ(eval("zvDebugFunc zvShowAll"), "error: zvDebugFunc: unknown function zvShowAll");
}

TEST_F(KinemationCommands, ASkinFileBringsItsCharacter) {
  std::string handle = eval("zvKinNew skin.wrl s");
  ASSERT_EQ(handle.find("error"), std::string::npos) << handle << sink.dump();
  auto* character = static_cast<ZvObj*>(zvScriptHandleRecord(handle.c_str(), ZV_HANDLE_OBJ));
  ASSERT_NE(character, nullptr);
  EXPECT_NE(zvGetObjExtension(character, zvKinemationBody), nullptr);
  EXPECT_TRUE(character->flags & ZV_OBJ_TOP);
  EXPECT_EQ(eval("zvKinNextPosture $s; zvKinNextPosture $s; zvKinGetFrame $s cur; set cur"), "1");
  // A VRML file that names no character is no character.
  write("plain.wrl", "#VRML V1.0 ascii\nSeparator { Cube {} }\n");
  EXPECT_EQ(eval("zvKinNew plain.wrl p"), "error: zvKinNew: no character in plain.wrl");
}

TEST_F(KinemationCommands, FilesOutsideTheWorldAreNotRead) {
  fs::create_directories(dir / "outside");
  write("outside/arm.wkn", kArm);
  fs::create_directories(dir / "inner");
  open(zvPathToFileUrl((dir / "inner/world.wrl").c_str()));
  sink.clear();
  EXPECT_NE(eval("zvDebugFunc zvKinNew ../outside/arm.wkn c").find("may not read"), std::string::npos);
  EXPECT_NE(eval(std::string("zvDebugFunc zvKinNew ") + (dir / "outside/arm.wkn").string() + " c").find("error"),
            std::string::npos);
  EXPECT_TRUE(sink.hasText("may not read")) << sink.dump();
  EXPECT_EQ(world->topObjects, nullptr);
  // From the network, no local file at all, by any name.
  open("http://example.invalid/hall/world.wrl");
  EXPECT_NE(eval(std::string("zvDebugFunc zvKinNew ") + zvPathToFileUrl((dir / "arm.wkn").c_str()) + " c")
                .find("may not read"),
            std::string::npos);
  EXPECT_NE(eval(std::string("zvKinNew file://") + (dir / "skin.wrl").string() + " c").find("may not read"),
            std::string::npos);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The hall of figures after two different times: the walker has moved.
TEST(KinemationPicture, TheWalkerMovesBetweenTwoMoments) {
  const char* source = std::getenv("QUILLMOOR_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  fs::path out = fs::temp_directory_path() / ("qm-kin-pictures-" + std::to_string(::getpid()));
  fs::create_directories(out);
  auto shoot = [&](int ms, const char* name) {
    std::string command = std::string("cd ") + source + "/worlds && LIBGL_ALWAYS_SOFTWARE=1 " QUILLMOOR_EXE +
                          " --screenshot " + (out / name).string() + " --size 240x180 --after " + std::to_string(ms) +
                          " figures.wrl >" + (out / "log").string() + " 2>&1";
    int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(out / "log");
    return readFile(out / name);
  };
  std::string early = shoot(160, "early.png");
  std::string again = shoot(160, "again.png");
  std::string later = shoot(800, "later.png");
  ASSERT_FALSE(early.empty());
  EXPECT_EQ(early, again) << "the same moment pictured twice differs";
  EXPECT_NE(early, later) << "nothing moved";
  fs::remove_all(out);
}

}  // namespace
