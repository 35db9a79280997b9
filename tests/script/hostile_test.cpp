// A world's scripts as a hostile author writes them: what the sandbox's
// own suite does not reach — objects deleted under the reader, many
// handlers each within the limit, values made in one step, memory taken
// in a loop.
#include <chrono>

#include "script/objcmdspriv.h"
#include "tests/script/scripttest.h"

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class HostileTest : public qmtest::ScriptTest {
 protected:
  void TearDown() override {
    zvSetScriptTimeLimit(1000);
    ScriptTest::TearDown();
  }
  std::string eval(const char* text) {
    return zvScriptTclEvalStr(world, text) == 0 ? Tcl_GetStringResult(zvScriptInterpOf(world)) : "failed";
  }
};

// A CREATE_NOTIFY handler, a Script node and a script file's own text run
// while the reader holds objects it has not finished: deleting then would
// free one under it.
TEST_F(HostileTest, ScriptsTheReaderRunsCannotDeleteObjects) {
  file("t.tcl", "proc born {o e d} { global tried; incr tried; zvDelObj $o }\n");
  ASSERT_EQ(readWorld("w.wrl",
                      "#VRML V1.0 ascii\n"
                      "Separator { DEF A Separator { Cube { } }\n"
                      "DEF B Separator {\n"
                      " EventHandler { filename \"t.tcl\" function \"born\" eventType CREATE_NOTIFY"
                      " scriptType TCL userData \"\" }\n"
                      " Script { scriptType TCL procedure \"catch {zvDelObj [zvGetObjByName A]}\" }\n"
                      " Cube { } } }\n"),
            ZV_OK)
      << sink.dump();
  EXPECT_EQ(eval("set tried"), "1");
  EXPECT_TRUE(sink.hasText("may not delete objects while objects are being read")) << sink.dump();
  ASSERT_NE(zvGetObjByName("B"), nullptr);
  ASSERT_NE(zvGetObjByName("A"), nullptr);
  // Once read, the world's objects are the script's to delete.
  EXPECT_EQ(eval("zvDelObj [zvGetObjByName B]"), "");
  EXPECT_EQ(zvGetObjByName("B"), nullptr);
}

// A local world can have any local file entered in its table (a script
// fetching file:///etc/passwd); that makes it no file of the world's.
TEST_F(HostileTest, FetchingALocalFileDoesNotMakeItReadable) {
  std::string outside = (dir.parent_path() / ("qm-outside-" + std::to_string(::getpid()) + ".wrl")).string();
  std::ofstream(outside) << "#VRML V1.0 ascii\nDEF Stolen Separator { Cube { } }\n";
  ASSERT_NE(zvNewUrlHashEntry(world->urlTable, zvPathToFileUrl(outside.c_str()), outside.c_str(), ZV_TYPE_OTHER),
            nullptr);
  EXPECT_FALSE(zvScriptMayReadLocal(world, outside.c_str()));
  std::string beside = file("beside.wrl", "#VRML V1.0 ascii\nCube { }\n");
  EXPECT_TRUE(zvScriptMayReadLocal(world, beside.c_str()));
  std::remove(outside.c_str());
}

// Each handler and task stays within the limit, but together they would
// hold the browser for the sum: one turn stops after one limit.
TEST_F(HostileTest, ManyHandlersAndTasksShareOneLimitPerTurn) {
  zvSetScriptTimeLimit(60);
  file("busy.tcl",
       "proc busy {o args} { global ran; incr ran; set t [clock milliseconds]\n"
       "  while {[clock milliseconds] - $t < 15} {}; return 0 }\n");
  for (int i = 0; i < 20; ++i) {
    ZvObj* o = make();
    ASSERT_NE(zvAddTimeOutHandler(o, "busy.tcl", 0, ZV_SCRIPT_TCL, "busy", "", ZV_TASK_PERIODIC), nullptr);
    ASSERT_EQ(zvAddEventHandler(o, "busy.tcl", ZV_EVENT_FRAME, ZV_SCRIPT_TCL, "busy", "", ""), ZV_OK);
  }
  auto start = Clock::now();
  EXPECT_EQ(zvWakeUpTask(world), ZV_OK);
  EXPECT_LT(msSince(start), 200);
  EXPECT_TRUE(sink.hasText("The tasks of this world ran past 60 ms in one turn")) << sink.dump();
  int first = std::stoi(eval("set ran"));
  EXPECT_GE(first, 3);
  EXPECT_LT(first, 10);
  // The rest are still there, and their turn comes.
  EXPECT_EQ(zvCountTasks(world), 20);
  qmtest::fakeNow += 1;
  EXPECT_EQ(zvWakeUpTask(world), ZV_OK);
  EXPECT_GT(std::stoi(eval("set ran")), first);

  eval("set ran 0");
  ZvEvent event;
  zvInitEvent(&event, ZV_EVENT_FRAME);
  start = Clock::now();
  EXPECT_EQ(zvCallWorldEventHandler(world, &event), ZV_OK);
  EXPECT_LT(msSince(start), 200);
  EXPECT_LT(std::stoi(eval("set ran")), 10);
  EXPECT_TRUE(sink.hasText("The handlers of this world ran past 60 ms for one event")) << sink.dump();
}

// Tcl looks at its limits only between commands, and a value over its
// largest size ends the program: one command must not make a huge value,
// and a loop must not grow one for long.
TEST_F(HostileTest, HugeValuesAreRefusedAndHungryLoopsStop) {
  zvSetScriptTimeLimit(5000);
  auto start = Clock::now();
  for (const char* giant : {"string repeat x 1000000000", "string repeat [string repeat x 1000] 1000000",
                            "lrepeat 100000000 a", "format %*d 2000000000 1", "format %2000000000s x",
                            "format %.2000000000f 1", "binary format a2000000000 x", "binary format @3000000000"}) {
    std::string text = std::string("catch {") + giant + "} m; set m";
    EXPECT_NE(eval(text.c_str()).find("may not make a value that large"), std::string::npos) << giant;
  }
  EXPECT_LT(msSince(start), 2000);  // refused before any work, even on a busy machine
  EXPECT_EQ(eval("list [format {%5d|%-3s|%%|%.2f|%*d} 42 ab 3.14159 4 7] [string repeat ab 3] [lrepeat 2 x]"
                 " [binary format a3 abc] [string length [string repeat x 1000000]]"),
            "{   42|ab |%|3.14|   7} ababab {x x} abc 1000000");

  start = Clock::now();
  EXPECT_EQ(eval("set l {}; while 1 { lappend l [string repeat x 100000] }"), "failed");
  EXPECT_TRUE(sink.hasText("took more than 256 MB of memory and was stopped")) << sink.dump();
  EXPECT_EQ(eval("set x [string repeat x 1000000]; while 1 { append x $x }"), "failed");
  EXPECT_LT(msSince(start), 15000);
  EXPECT_EQ(eval("unset l x; expr {6 * 7}"), "42");
}

}  // namespace
