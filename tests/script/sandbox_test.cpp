// Hostile scripts: every way out of the sandbox fails with a message, and
// the interpreter goes on working after each attempt.
#include <sys/stat.h>

#include <chrono>

#include "tests/script/scripttest.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::useDataDirectory();
    zvScriptInstallHooks();
    char pattern[] = "/tmp/qm-sandbox-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    users = home + "/usrfiles";
    zvSetScriptUserDirectory(users.c_str());
    ASSERT_NE(zvGetScriptUserDirectory(), nullptr);
    std::ofstream(home + "/secret.txt") << "secret";
    world = zvNewWorld(("file://" + home + "/worlds/w.wrl").c_str());
    ASSERT_NE(world, nullptr);
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void TearDown() override {
    zvSetScriptTimeLimit(1000);
    zvDeleteWorld(world);
    std::string command = "rm -rf '" + home + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text, true); }
  void expectAlive() { EXPECT_EQ(eval("expr {6 * 7}"), "42"); }
  qmtest::RecordingSink sink;
  std::string home, users;
  ZvWorld* world = nullptr;
};

TEST_F(SandboxTest, ReadsOutsideTheAllowedPlacesFail) {
  for (const std::string& name : std::initializer_list<std::string>{
           "/etc/passwd", home + "/secret.txt", users + "/../secret.txt", "../secret.txt", ".."}) {
    EXPECT_EQ(eval("open {" + name + "}").rfind("error: can't open", 0), 0u) << name;
    EXPECT_EQ(eval("source {" + name + "}").rfind("error: can't source", 0), 0u) << name;
  }
  EXPECT_EQ(eval("source /etc/profile").rfind("error: can't source", 0), 0u);
  // A link inside the user files is judged by where it leads.
  ASSERT_EQ(symlink((home + "/secret.txt").c_str(), (users + "/link").c_str()), 0);
  EXPECT_EQ(eval("open link").rfind("error: can't open link", 0), 0u);
  EXPECT_EQ(eval("open link w").rfind("error: can't open link", 0), 0u);
  ASSERT_EQ(symlink((home + "/new.txt").c_str(), (users + "/dangling").c_str()), 0);
  EXPECT_NE(eval("open dangling w").rfind("error:", 0), std::string::npos);
  EXPECT_NE(access((home + "/new.txt").c_str(), F_OK), 0);  // nothing created through the link
  ASSERT_EQ(symlink(home.c_str(), (users + "/up").c_str()), 0);
  EXPECT_EQ(eval("open up/secret.txt").rfind("error: can't open", 0), 0u);
  expectAlive();
}

TEST_F(SandboxTest, WritesLandInTheUserFilesOnly) {
  EXPECT_EQ(eval("set f [open note.txt w]; puts $f hello; close $f"), "");
  EXPECT_EQ(slurp(users + "/note.txt"), "hello\n");
  EXPECT_EQ(eval("set f [open note.txt]; set t [read $f]; close $f; set t"), "hello\n");
  EXPECT_EQ(eval("set f [open {WRONLY CREAT} {WRONLY CREAT}]; close $f"), "");  // a plain name, any mode
  EXPECT_EQ(eval("open " + home + "/out.txt w"), "error: can't create " + home + "/out.txt from zvbrowser.\n");
  EXPECT_EQ(eval("open sub/out.txt a"), "error: can't create sub/out.txt from zvbrowser.\n");
  EXPECT_EQ(eval("open c:out.txt r+"), "error: can't create c:out.txt from zvbrowser.\n");
  EXPECT_EQ(eval("open /tmp/x {WRONLY CREAT}"), "error: Posix access mode not support.\n");
  EXPECT_NE(access((home + "/out.txt").c_str(), F_OK), 0);
  // A name with a slash reads inside the user files and the data directory.
  mkdir((users + "/sub").c_str(), 0700);
  std::ofstream(users + "/sub/in.txt") << "in";
  EXPECT_EQ(eval("set f [open sub/in.txt]; set t [read $f]; close $f; set t"), "in");
  EXPECT_EQ(eval("set f [open " + std::string(zvGetScriptDataDirectory()) + "/zvinit.tcl]; close $f"), "");
  EXPECT_EQ(eval("file delete note.txt").rfind("error:", 0), 0u);
  EXPECT_EQ(eval("file rename note.txt x").rfind("error:", 0), 0u);
  EXPECT_EQ(eval("file mkdir d").rfind("error:", 0), 0u);
  EXPECT_EQ(access((users + "/note.txt").c_str(), F_OK), 0);
  expectAlive();
}

TEST_F(SandboxTest, NoProgramsSocketsLibrariesOrInterpreters) {
  EXPECT_EQ(eval("open {|sh -c {touch " + home + "/pwned}}").rfind("error: can't open |sh", 0), 0u);
  for (const char* mode : {"r", "w", "r+"})
    EXPECT_EQ(eval(std::string("open |sh ") + mode).rfind("error:", 0), 0u) << mode;
  EXPECT_NE(access((home + "/pwned").c_str(), F_OK), 0);
  for (const char* attempt : {"exec ls", "socket localhost 80", "load libc.so.6", "interp create x",
                              "interp eval {} {exec ls}", "cd /", "pwd", "glob /*", "encoding system",
                              "file link x /etc/passwd", "file copy /etc/passwd x"})
    EXPECT_EQ(eval(attempt).rfind("error:", 0), 0u) << attempt;
  EXPECT_EQ(eval("interp issafe"), "1");
  expectAlive();
}

TEST_F(SandboxTest, NoWaitingAndNoEndingTheProgram) {
  EXPECT_EQ(eval("set x 0; vwait x"), "error: vwait: a world's script cannot wait for events");
  EXPECT_EQ(eval("update"), "error: update: a world's script cannot run the event loop");
  EXPECT_EQ(eval("update idletasks"), "");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(eval("after 5000").rfind("error: after: a world's script may not wait", 0), 0u);
  EXPECT_EQ(eval("after 2"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(eval("exit 3"), "error: exit: a world's script cannot end the browser; the script stops here");
  EXPECT_EQ(eval("set r [catch {exit} m]; set r"), "1");
  EXPECT_EQ(zvScriptTclEvalStr(world, "exit; set after 1"), -1);
  EXPECT_TRUE(sink.hasText("cannot end the browser")) << sink.dump();
  EXPECT_EQ(eval("info exists after"), "0");  // the evaluation stopped at exit
  expectAlive();
}

// Runs the loop until nothing is due or the time is up.
void serve(int milliseconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
}

TEST_F(SandboxTest, LaterCallbacksRunUnderTheirOwnLimit) {
  zvSetScriptTimeLimit(150);
  EXPECT_EQ(eval("set n 0; after 0 {incr n}; after idle {incr n}; set id [after 10000 {set never 1}]"), "after#3");
  EXPECT_EQ(eval("llength [after info]"), "3");
  EXPECT_EQ(eval("after cancel $id; llength [after info]"), "2");
  serve(50);
  EXPECT_EQ(eval("set n"), "2");
  // A runaway callback is stopped with a message; what it scheduled goes.
  sink.clear();
  EXPECT_EQ(eval("proc again {} { after 0 again; while 1 {} }; after 0 again"), "after#4");
  auto start = std::chrono::steady_clock::now();
  serve(600);
  EXPECT_TRUE(sink.hasText("ran past its limit of 150 ms")) << sink.dump();
  EXPECT_TRUE(sink.hasText("after:[again]")) << sink.dump();
  EXPECT_EQ(eval("after info"), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  // A deadline that passed while nothing ran stops nothing.
  serve(300);
  EXPECT_EQ(eval("after 0 {set late 1}"), "after#6");
  serve(20);
  EXPECT_EQ(eval("set late"), "1");
  expectAlive();
}

TEST_F(SandboxTest, RunawaysAndDeepRecursionStop) {
  zvSetScriptTimeLimit(100);
  EXPECT_EQ(zvScriptTclEvalStr(world, "while 1 {}"), -1);
  EXPECT_TRUE(sink.hasText("stopped")) << sink.dump();
  EXPECT_EQ(zvScriptTclEvalStr(world, "proc r {n} { r [incr n] }; r 0"), -1);
  EXPECT_TRUE(sink.hasText("too many nested evaluations")) << sink.dump();
  // A loop can neither catch its stop nor stretch its limit by re-entering.
  EXPECT_EQ(zvScriptTclEvalStr(world, "while 1 { catch { while 1 {} } }"), -1);
  EXPECT_EQ(zvScriptTclEvalStr(world, "while 1 { zvHelp zvHelp }"), -1);
  expectAlive();
}

TEST_F(SandboxTest, ForgedHandlesAreRefused) {
  ZvObj* object = nullptr;
  ASSERT_EQ(zvNewZvObj(world, &object, 1), 0);
  ASSERT_EQ(zvAddTopObject(object, nullptr), 0);
  long h = zvScriptHandleOf(object, ZV_HANDLE_OBJ);
  std::string ev = "zvGetEventType " + std::to_string(h);
  EXPECT_EQ(eval(ev), "error: zvGetEventType:bad ZvEvent[" + std::to_string(h) + "]");  // wrong kind
  EXPECT_EQ(eval("zvGetEventType 12a"), "error: zvGetEventType:bad ZvEvent[12a]");
  EXPECT_TRUE(sink.hasText("zvScriptStr2Ptr : bad pointer value[12a]"));
  EXPECT_EQ(eval("zvGetEventType 99999999"), "error: zvGetEventType:bad ZvEvent[99999999]");
  EXPECT_EQ(eval("zvRemoveTimeOutHandler " + std::to_string(h) + " " + std::to_string(h)),
            "error: zvRemoveTimeOutHandler:bad TimeOutHandle[" + std::to_string(h) + "]");
  zvScriptForgetObjHandles(object);  // stale
  EXPECT_EQ(eval("zvGetEventObj " + std::to_string(h)).rfind("error: zvGetEventObj:bad ZvEvent", 0), 0u);
  expectAlive();
}

}  // namespace
