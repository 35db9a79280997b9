// Every command of the table: it exists in a world's interpreter, zvHelp
// prints its usage, a wrong count answers the usage, and a command whose
// first word is a handle refuses a bad one. Then the event commands and the
// start-up script's version rule.
#include <cstring>

#include "tests/script/scripttest.h"

namespace {

class CommandsTest : public qmtest::ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    object = make();
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void TearDown() override {
    qmtest::useDataDirectory();
    ScriptTest::TearDown();
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text, true); }
  ZvObj* object = nullptr;
};

// The kind of handle a usage text starts with, as its command reads it.
const char* badHandleWord(const char* usage) {
  if (!std::strncmp(usage, "ZvObj", 5)) return "ZvObj";
  if (!std::strncmp(usage, "ZvEvent", 7)) return "ZvEvent";
  if (!std::strncmp(usage, "ZvMFColor", 9)) return "ZvMFColor";
  if (!std::strncmp(usage, "Parts", 5)) return "Parts or ZvObj";
  return nullptr;
}

TEST_F(CommandsTest, EveryCommandExistsPrintsItsUsageAndRefusesBadHandles) {
  int count = zvScriptCommandCount();
  ASSERT_GT(count, 60);
  EXPECT_EQ(zvScriptCommandAt(count), nullptr);
  for (int i = 0; i < count; ++i) {
    const ZvScriptCommand* c = zvScriptCommandAt(i);
    SCOPED_TRACE(c->name);
    EXPECT_EQ(zvScriptFindCommand(c->name), c);
    EXPECT_EQ(eval(std::string("info commands ") + c->name), c->name);
    sink.clear();
    EXPECT_EQ(eval(std::string("zvHelp ") + c->name), "");
    EXPECT_TRUE(sink.hasText(std::string(c->name) + ":Usage : " + c->name + " " + c->usage)) << sink.dump();
    if (c->maxArgs >= 0) {
      std::string words = c->name;
      for (int k = 0; k <= c->maxArgs; ++k) words += " 0";
      EXPECT_EQ(eval(words), std::string("error: ") + c->name + ":wrong args:" + c->name + " " + c->usage + "\n");
    }
    const char* kind = badHandleWord(c->usage);
    if (!kind || c->minArgs < 1) continue;
    std::string words = std::string(c->name) + " 12a";
    for (int k = 1; k < c->minArgs; ++k) words += " 1";
    EXPECT_EQ(eval(words), std::string("error: ") + c->name + ":bad " + kind + "[12a]");
  }
  // The provided ones say what is missing until their part is there.
  long h = zvScriptHandleOf(object, ZV_HANDLE_OBJ);
  EXPECT_EQ(eval("zvPlay3DMovie " + std::to_string(h)), "error: zvPlay3DMovie: not available");
  EXPECT_EQ(eval("zvSuspendAllSound"), "error: zvSuspendAllSound: not available");
  auto previous = zvScriptProvideCommand("zvGetUserName", [](ZvWorld*, int, const char* const*, std::string* r) {
    *r = "guest";
    return 0;
  });
  EXPECT_EQ(eval("zvGetUserName"), "guest");
  zvScriptProvideCommand("zvGetUserName", previous);
}

TEST_F(CommandsTest, HandlersAndTasksFromScripts) {
  std::string o = std::to_string(zvScriptHandleOf(object, ZV_HANDLE_OBJ));
  ASSERT_EQ(eval("proc onClick {o e d} { global seen x y z u v s ms; set seen [list [zvGetEventType $e] [zvGetEventObj $e] "
                 "[zvGetEventKey $e] [zvGetEventModifier $e] $d]; zvGetEventPoint $e x y z; "
                 "zvGetEvent2DPoint $e u v; zvGetEventTime $e s ms; zvGetEventPart $e }\n"
                 "proc tick {o args} { global ticks; incr ticks; return 1 }"),
            "");
  EXPECT_EQ(eval("zvAddEventHandler " + o + " $zvLeftButtonDown $zvScriptTcl {} onClick {a [b]} {}"), "0");
  ZvEvent event{};
  event.type = ZV_EVENT_LEFT_BUTTON_DOWN;
  event.key = 7;
  event.modifiers = ZV_EVENT_SHIFT;
  event.point3[1] = 2.5f;
  event.point2[0] = 10;
  event.seconds = 12;
  event.milliseconds = 345;
  EXPECT_EQ(zvCallEventHandler(object, &event), 0) << sink.dump();
  EXPECT_EQ(eval("set seen"), "16 " + o + " 7 1 {a [b]}");
  EXPECT_EQ(eval("list $y $u $s $ms"), "2.500000 10.000000 12 345");
  // Removing the only bit removes the handler.
  EXPECT_EQ(eval("zvRemoveEventHandler " + o + " 0x10 1 {} onClick {a [b]} {}"), "0");
  EXPECT_EQ(eval("set seen {}"), "");
  EXPECT_EQ(zvCallEventHandler(object, &event), 0);
  EXPECT_EQ(eval("set seen"), "");
  // The program's own script type is not a script's to give.
  EXPECT_EQ(eval("zvAddEventHandler " + o + " 16 4 {} onClick d {}"), "error: zvSetEventHandler: unknown script type");
  EXPECT_EQ(eval("zvAddTimeOutHandler " + o + " 10 4 {} tick d 0"), "error: zvAddTimeOutHandler: unknown script type");
  // A task's handle lives as long as the task.
  std::string task = eval("zvAddTimeOutHandler " + o + " 0 $zvScriptTcl {} tick d $zvTaskSporadic");
  ASSERT_EQ(task.find("error"), std::string::npos) << task;
  EXPECT_EQ(zvCountTasks(world), 1);
  EXPECT_EQ(eval("zvRemoveTimeOutHandler " + o + " " + task), "");
  EXPECT_EQ(zvCountTasks(world), 0);
  EXPECT_EQ(eval("zvRemoveTimeOutHandler " + o + " " + task),
            "error: zvRemoveTimeOutHandler:bad TimeOutHandle[" + task + "]");
  task = eval("zvAddTimeOutHandler " + o + " 0 1 {} tick d 0");
  EXPECT_EQ(zvWakeUpTask(world), 0);  // runs and frees it
  EXPECT_EQ(eval("set ticks"), "1");
  EXPECT_EQ(eval("zvRemoveTimeOutHandler " + o + " " + task),
            "error: zvRemoveTimeOutHandler:bad TimeOutHandle[" + task + "]");
}

TEST_F(CommandsTest, TheStartUpScriptMustBeRecent) {
  EXPECT_EQ(eval("expr {$zvVersion >= 1.04}"), "1");
  EXPECT_EQ(eval("list $zvTrue $zvFalse $zvEvent(FRAME) $zvObjAttrVisible $zvCoordParent"), "1 0 16384 12 2");
  zvSetScriptDataDirectory(dir.c_str());
  for (const char* body : {"set zvVersion 1.03\nproc zvTclerror {m} {zvMessage $m}\n", "set zvTrue 1\n"}) {
    file("zvinit.tcl", body);
    ZvWorld* old = zvNewWorld("file:///tmp/old.wrl");
    sink.clear();
    EXPECT_NE(zvScriptInterpOf(old), nullptr);
    EXPECT_TRUE(sink.hasText(dir.string() + "/zvinit.tcl is old version.")) << body << sink.dump();
    zvDeleteWorld(old);
  }
}

}  // namespace
