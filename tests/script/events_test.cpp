// Event handlers: where an event goes, in what order handlers run, what
// removing one takes away, handlers that change handlers while they run,
// script files, and the reader and writer going through the hooks.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/script/scripttest.h"

namespace {

struct Ran {
  std::string who;
  ZvObj* object;
};
std::vector<Ran> ran;

int note(ZvObj* o, ZvEvent*, const char* who) {
  ran.push_back({who, o});
  return 0;
}
// Handlers with one function are equal whatever else they hold.
int note2(ZvObj* o, ZvEvent* e, const char* who) { return note(o, e, who); }

class EventsTest : public qmtest::ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    ran.clear();
  }
  int send(ZvObj* o, uint32_t type) {
    ZvEvent e;
    zvInitEvent(&e, type);
    return zvCallEventHandler(o, &e);
  }
};

TEST_F(EventsTest, EventsClimbToTheNearestHandlerButNotificationsDoNot) {
  ZvObj* parent = make();
  ZvObj* child = make(parent);
  ASSERT_EQ(zvAddNativeEventHandler(parent, ZV_EVENT_LEFT_BUTTON_DOWN | ZV_EVENT_CREATE_NOTIFY, note, "p"), 0);
  EXPECT_EQ(send(child, ZV_EVENT_LEFT_BUTTON_DOWN), 0);
  ASSERT_EQ(ran.size(), 1u);
  EXPECT_EQ(ran[0].who, "p");
  EXPECT_EQ(ran[0].object, parent);
  ran.clear();
  EXPECT_EQ(send(child, ZV_EVENT_CREATE_NOTIFY), 0);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(send(parent, ZV_EVENT_CREATE_NOTIFY), 0);
  EXPECT_EQ(ran.size(), 1u);
}

TEST_F(EventsTest, HandlersOfOneObjectRunOldestFirstAndStopTheClimb) {
  ZvObj* parent = make();
  ZvObj* child = make(parent);
  ASSERT_EQ(zvAddNativeEventHandler(parent, ZV_EVENT_PICK, note, "parent"), 0);
  ASSERT_EQ(zvAddNativeEventHandler(child, ZV_EVENT_PICK, note, "first"), 0);
  ASSERT_EQ(zvAddNativeEventHandler(child, ZV_EVENT_PICK | ZV_EVENT_GRAB, note2, "second"), 0);
  EXPECT_EQ(zvAddNativeEventHandler(child, ZV_EVENT_DRAG, note, "other"), -1);
  send(child, ZV_EVENT_PICK);
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(ran[0].who, "first");
  EXPECT_EQ(ran[1].who, "second");
}

TEST_F(EventsTest, RemovingBitsKeepsTheOthersAndTheWorldListsAgree) {
  ZvObj* o = make();
  ASSERT_EQ(zvAddNativeEventHandler(o, ZV_EVENT_FRAME | ZV_EVENT_KEY_DOWN, note, "h"), 0);
  ASSERT_EQ(world->frame.count, 1);
  // A bit it never had is not given to it (an exclusive or would).
  ASSERT_EQ(zvRemoveNativeEventHandler(o, ZV_EVENT_FRAME | ZV_EVENT_WORLD_IN, note, "h"), 0);
  EXPECT_EQ(o->eventMask, uint32_t(ZV_EVENT_KEY_DOWN));
  EXPECT_EQ(world->frame.count, 0);
  EXPECT_EQ(world->worldIn.count, 0);
  ASSERT_NE(o->handlers, nullptr);
  send(o, ZV_EVENT_KEY_DOWN);
  EXPECT_EQ(ran.size(), 1u);
  ASSERT_EQ(zvRemoveNativeEventHandler(o, ZV_EVENT_KEY_DOWN, note, "h"), 0);
  EXPECT_EQ(o->handlers, nullptr);
  EXPECT_EQ(o->eventMask, 0u);
  EXPECT_EQ(zvRemoveNativeEventHandler(o, ZV_EVENT_KEY_DOWN, note, "h"), -1);
  EXPECT_EQ(zvRemoveEventHandler(o, nullptr, 1, ZV_SCRIPT_TCL, "f", nullptr, nullptr), -1);
  EXPECT_TRUE(sink.hasText("zvRemoveEventHandler: user_data = NULL"));
}

int removeSelfAddOther(ZvObj* o, ZvEvent*, const char*) {
  ran.push_back({"changer", o});
  zvRemoveNativeEventHandler(o, ZV_EVENT_PICK, removeSelfAddOther, "");
  zvAddNativeEventHandler(o, ZV_EVENT_PICK, note2, "late");
  return 0;
}
int deleteOwnObject(ZvObj* o, ZvEvent*, const char*) {
  ran.push_back({"deleter", o});
  zvDeleteZvObj(o);
  return 0;
}

TEST_F(EventsTest, HandlersMayChangeHandlersAndDeleteTheirObjectWhileTheyRun) {
  ZvObj* o = make();
  ASSERT_EQ(zvAddNativeEventHandler(o, ZV_EVENT_PICK, removeSelfAddOther, ""), 0);
  ASSERT_EQ(zvAddNativeEventHandler(o, ZV_EVENT_PICK, note, "kept"), 0);
  send(o, ZV_EVENT_PICK);
  // The copies taken at the start ran; the handler added meanwhile waits.
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(ran[1].who, "kept");
  ran.clear();
  send(o, ZV_EVENT_PICK);
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(ran[0].who, "kept");
  EXPECT_EQ(ran[1].who, "late");

  ZvObj* doomed = make();
  ASSERT_EQ(zvAddNativeEventHandler(doomed, ZV_EVENT_FRAME, deleteOwnObject, ""), 0);
  ASSERT_EQ(zvAddNativeEventHandler(doomed, ZV_EVENT_FRAME, note2, "after"), 0);
  ASSERT_NE(zvAddNativeTimeOutHandler(doomed, 10, note, "", ZV_TASK_PERIODIC), nullptr);
  ran.clear();
  ZvEvent e;
  zvInitEvent(&e, ZV_EVENT_FRAME);
  EXPECT_EQ(zvCallWorldEventHandler(world, &e), 0);
  ASSERT_EQ(ran.size(), 1u);  // the object went, and its other handler with it
  EXPECT_EQ(world->frame.count, 0);
  EXPECT_EQ(zvCountTasks(world), 0);
}

TEST_F(EventsTest, ProgramRoutinesCannotComeFromScripts) {
  ZvObj* o = make();
  EXPECT_EQ(zvAddEventHandler(o, nullptr, ZV_EVENT_PICK, ZV_SCRIPT_C, "0x1234", "", nullptr), -1);
  EXPECT_TRUE(sink.hasText("zvSetEventHandler: unknown script type"));
  EXPECT_EQ(zvAddEventHandler(o, nullptr, ZV_EVENT_PICK, ZV_SCRIPT_VB, "f", "", nullptr), -1);
  EXPECT_EQ(o->handlers, nullptr);
  EXPECT_EQ(zvAddEventHandler(o, nullptr, ZV_EVENT_PICK, ZV_SCRIPT_INLINE, "f", "", nullptr), 0);
  EXPECT_TRUE(sink.hasText("zvSetEventHandler: inline script type is not supported"));
}

TEST_F(EventsTest, TclHandlersRunAndTheirFailureEndsTheDispatch) {
  file("h.tcl",
       "proc click {o e d} { global got; set got [list $o $e $d]; return 0 }\n"
       "proc broken {o e d} { error boom }\n");
  ZvObj* o = make();
  ASSERT_EQ(zvAddEventHandler(o, "h.tcl", ZV_EVENT_PICK, ZV_SCRIPT_TCL, "click", "[x] $y", ""), 0) << sink.dump();
  EXPECT_EQ(send(o, ZV_EVENT_PICK), 0) << sink.dump();
  EXPECT_EQ(tcl("lindex $got 2"), "[x] $y") << sink.dump();
  EXPECT_EQ(tcl("lindex $got 0"), std::to_string(zvScriptHandleOf(o, ZV_HANDLE_OBJ)));
  ASSERT_EQ(zvAddEventHandler(o, "h.tcl", ZV_EVENT_GRAB, ZV_SCRIPT_TCL, "broken", "", ""), 0);
  EXPECT_EQ(send(o, ZV_EVENT_GRAB), -1);
}

TEST_F(EventsTest, ScriptFilesRunOnceEvenWhenTheReaderRegisteredThemFirst) {
  std::string counter = file("count.tcl", "global n; if {![info exists n]} {set n 0}; incr n\nproc f {o e d} {}\n");
  // The reader enters the file in the URL table before the handler is added.
  ZvUrlHash* early = zvWwwLoadFile(zvPathToFileUrl(counter.c_str()));
  ASSERT_NE(early, nullptr);
  ZvObj* o = make();
  ASSERT_EQ(zvAddEventHandler(o, zvGetUrl(early), ZV_EVENT_PICK, ZV_SCRIPT_TCL, "f", "a", ""), 0) << sink.dump();
  ASSERT_EQ(zvAddEventHandler(o, "count.tcl", ZV_EVENT_GRAB, ZV_SCRIPT_TCL, "g", "b", ""), 0);
  EXPECT_EQ(tcl("set n"), "1");
  EXPECT_EQ(o->handlers->file, early);
  EXPECT_EQ(o->handlers->next->file, early);

  // Unreadable: the handler stays, with a warning; broken: refused.
  EXPECT_EQ(zvAddEventHandler(o, "missing.tcl", ZV_EVENT_DRAG, ZV_SCRIPT_TCL, "h", "", ""), 0);
  EXPECT_TRUE(sink.hasText("Can not read script file. Maybe network is slow")) << sink.dump();
  file("bad.tcl", "proc {");
  EXPECT_EQ(zvAddEventHandler(o, "bad.tcl", ZV_EVENT_RELEASE, ZV_SCRIPT_TCL, "i", "", ""), -1);
  EXPECT_TRUE(sink.hasText("Script file has error:"));
  EXPECT_TRUE(sink.hasText("zvAddEventHandler: zvRegisterAndEvalScriptFile error"));
}

// The reader attaches handlers and tasks through the hooks, CREATE_NOTIFY
// reaches the new object, and the writer gives them back as nodes.
TEST_F(EventsTest, ReaderAttachesAndWriterWritesBack) {
  file("door.tcl", "proc born {o e d} { global born; incr born }\nproc tick {o args} { return 0 }\n");
  ASSERT_EQ(readWorld("door.wrl",
                      "#VRML V1.0 ascii\n"
                      "Separator {\n"
                      "EventHandler { filename \"door.tcl\" function \"born\" eventType ( CREATE_NOTIFY | PICK )"
                      " userData \"u\" scriptType TCL }\n"
                      "PeriodicTask { filename \"door.tcl\" function \"tick\" millisecond 250 userData \"v\""
                      " scriptType TCL }\n"
                      "DEF Door Separator { Cube { } } }\n"),
            ZV_OK)
      << sink.dump();
  ZvObj* door = zvGetObjByName("Door");
  ASSERT_NE(door, nullptr);
  ASSERT_NE(door->handlers, nullptr);
  EXPECT_EQ(door->eventMask, uint32_t(ZV_EVENT_CREATE_NOTIFY | ZV_EVENT_PICK));
  EXPECT_EQ(tcl("set born"), "1") << sink.dump();
  EXPECT_EQ(zvCountTasks(world), 1);

  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  ASSERT_EQ(zvDumpWorldToFile(world, out), 0);
  std::fclose(out);
  std::string written(text, size);
  std::free(text);
  EXPECT_NE(written.find("EventHandler{"), std::string::npos) << written;
  EXPECT_NE(written.find("CREATE_NOTIFY | PICK"), std::string::npos) << written;
  EXPECT_NE(written.find("PeriodicTask{"), std::string::npos) << written;
  EXPECT_NE(written.find("millisecond 250"), std::string::npos) << written;
  EXPECT_NE(written.find("door.tcl"), std::string::npos) << written;

  // Read back: the same handler and task, the script file not run again
  // in the new world's interpreter more than once.
  ASSERT_EQ(readWorld("again.wrl", written), ZV_OK) << sink.dump();
  door = zvGetObjByName("Door");
  ASSERT_NE(door, nullptr) << written;
  EXPECT_EQ(door->eventMask, uint32_t(ZV_EVENT_CREATE_NOTIFY | ZV_EVENT_PICK));
  EXPECT_EQ(tcl("set born"), "1");
  ASSERT_EQ(zvCountTasks(world), 1);
  EXPECT_EQ(world->timeouts->cycle, 250u);
  EXPECT_EQ(world->timeouts->object, door);
}

}  // namespace
