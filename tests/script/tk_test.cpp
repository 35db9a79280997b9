// Tk for a world's scripts, on an X server of the test's own (skipped
// without Xvfb): windows that follow the world, bindings that cannot run
// away, and exit that only hides.
#include <gtest/gtest.h>  // before X11's None
#include <signal.h>
#include <sys/wait.h>
#include <tk.h>

#include <chrono>
#include <thread>

#include "tests/script/scripttest.h"

namespace {

pid_t xvfb = 0;

void stopXvfb() {
  if (xvfb > 0) kill(xvfb, SIGTERM), waitpid(xvfb, nullptr, 0);
}

// A display for Tk: the one we run under, else a private Xvfb.
bool haveDisplay() {
  static int state = -1;
  if (state >= 0) return state == 1;
  state = 0;
  if (const char* d = std::getenv("DISPLAY"); d && *d) return (state = 1);
  int fds[2];
  if (pipe(fds) != 0) return false;
  xvfb = fork();
  if (xvfb == 0) {
    dup2(fds[1], 3);
    freopen("/dev/null", "w", stderr);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24", (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  char number[16] = {};
  ssize_t n = xvfb > 0 ? read(fds[0], number, sizeof number - 1) : -1;
  close(fds[0]);
  if (n <= 0) return false;
  std::atexit(stopXvfb);
  setenv("DISPLAY", (":" + std::string(number, size_t(n) - (number[n - 1] == '\n'))).c_str(), 1);
  return (state = 1);
}

void serve(int milliseconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end)
    if (!Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

class TkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveDisplay()) GTEST_SKIP() << "no display and no Xvfb";
    zvScriptInstallHooks();  // a world's interpreter and windows go with it
    qmtest::useDataDirectory();
    world = zvNewWorld("file:///tmp/tk.wrl");
    ASSERT_NE(world, nullptr);
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
    ASSERT_EQ(zvScriptTclEvalStr(world, "zvtkInit 40"), 0) << sink.dump();
    ASSERT_EQ(zvScriptTkSlice(world), 40) << sink.dump();
  }
  void TearDown() override {
    zvSetScriptTimeLimit(1000);
    if (world) zvDeleteWorld(world);
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text, true); }
  qmtest::RecordingSink sink;
  ZvWorld* world = nullptr;
};

TEST_F(TkTest, WindowsFollowTheWorldAndGoWithIt) {
  EXPECT_TRUE(zvScriptTkActive());
  EXPECT_EQ(eval("wm state ."), "withdrawn");
  EXPECT_EQ(eval("toplevel .t; label .t.l -text hello; pack .t.l; wm title .t Door"), "");
  serve(200);
  EXPECT_EQ(eval("winfo ismapped .t"), "1");
  EXPECT_EQ(zvTkSuspend(world), 0) << sink.dump();
  serve(100);
  EXPECT_EQ(eval("winfo ismapped .t"), "0");
  EXPECT_EQ(zvTkResume(world), 0);
  serve(200);
  EXPECT_EQ(eval("winfo ismapped .t"), "1");
  // A script that replaces the procedure still loses its windows when left.
  EXPECT_EQ(eval("proc zvTkSuspend {} {}"), "");
  zvTkSuspend(world);
  serve(100);
  EXPECT_EQ(eval("winfo ismapped .t"), "0");
  zvTkResume(world);
  // exit hides, and the interpreter goes on.
  EXPECT_EQ(eval("wm deiconify .t; wm deiconify ."), "");
  serve(200);
  EXPECT_EQ(zvScriptTclEvalStr(world, "exit"), -1);
  serve(100);
  EXPECT_EQ(eval("list [winfo ismapped .] [winfo ismapped .t]"), "0 0");
  int windows = Tk_GetNumMainWindows();
  zvDeleteWorld(world);
  world = nullptr;
  EXPECT_EQ(Tk_GetNumMainWindows(), windows - 1);
  EXPECT_FALSE(zvScriptTkActive());
}

TEST_F(TkTest, WhatSafeTkHidesStaysHidden) {
  for (const char* attempt : {"wm attributes . -fullscreen 1", "wm overrideredirect . 1", "wm command .",
                              "toplevel .x -use 0x1", "toplevel .x -scr :0", "grab .", "send x y",
                              "clipboard get", "selection get", "tkwait window .", "bell",
                              "wm protocol . WM_DELETE_WINDOW {}"})
    EXPECT_EQ(eval(attempt).rfind("error:", 0), 0u) << attempt;
  EXPECT_EQ(eval("toplevel .ok -class Dialog; wm title .ok fine"), "");
}

// Clicks a button as a user would: the events go through the loop.
void click(Tcl_Interp* interp, const std::string& button) {
  std::string s = "event generate " + button + " <Enter> -when tail; event generate " + button +
                  " <ButtonPress-1> -x 3 -y 3 -when tail; event generate " + button +
                  " <ButtonRelease-1> -x 3 -y 3 -when tail";
  Tcl_Eval(interp, s.c_str());
}

TEST_F(TkTest, BindingsRunUnderTheLimit) {
  zvSetScriptTimeLimit(150);
  EXPECT_EQ(eval("toplevel .t; button .t.ok -text ok -command {incr clicks}; "
                 "button .t.spin -text spin -command {while 1 {}}; pack .t.ok .t.spin; set clicks 0"),
            "0");
  serve(200);
  // Long after the last evaluation's deadline, a click still runs whole.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  click(zvScriptInterpOf(world), ".t.ok");
  serve(100);
  EXPECT_EQ(eval("set clicks"), "1") << sink.dump();
  // A runaway button is stopped, with a message, and the loop goes on.
  sink.clear();
  auto start = std::chrono::steady_clock::now();
  click(zvScriptInterpOf(world), ".t.spin");
  serve(400);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(sink.hasText("ran past its limit of 150 ms")) << sink.dump();
  click(zvScriptInterpOf(world), ".t.ok");
  serve(100);
  EXPECT_EQ(eval("set clicks"), "2") << sink.dump();
}

}  // namespace
