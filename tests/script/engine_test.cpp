// The engine's guard: limits, words that are never substituted, handles
// that cannot be forged, and errors that reach the Messages window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "script/scriptpriv.h"
#include "tests/support/testsupport.h"

namespace {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* d = std::getenv("QUILLMOOR_DATA_DIR")) zvSetScriptDataDirectory(d);
    world = zvNewWorld("file:///tmp/engine.wrl");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(zvNewZvObj(world, &object, 1), 0);
    ASSERT_EQ(zvAddTopObject(object, nullptr), 0);
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void TearDown() override {
    zvSetScriptTimeLimit(1000);
    zvScriptExit(world, ZV_SCRIPT_TCL);
    zvDeleteWorld(world);
  }
  std::string eval(const char* text) {
    Tcl_Interp* interp = zvScriptInterpOf(world);
    int code = Tcl_Eval(interp, text);
    return std::string(code == TCL_OK ? "" : "error: ") + Tcl_GetStringResult(interp);
  }
  qmtest::RecordingSink sink;
  ZvWorld* world = nullptr;
  ZvObj* object = nullptr;
};

TEST_F(EngineTest, RunawayScriptsStopAndTheWorldGoesOn) {
  zvSetScriptTimeLimit(100);
  EXPECT_EQ(zvScriptTclEvalStr(world, "while 1 {}"), -1);
  EXPECT_TRUE(sink.hasText("stopped")) << sink.dump();
  EXPECT_EQ(zvScriptTclEvalStr(world, "proc f {n} { f [incr n] }; f 0"), -1);
  EXPECT_EQ(zvScriptTclEvalStr(world, "set x 1"), 0);  // the interpreter still works
}

TEST_F(EngineTest, UserDataIsNeverSubstituted) {
  ASSERT_EQ(zvScriptTclEvalStr(world, "proc ev {o e d} { global got; set got $d; return 0 }\n"
                                      "proc tk {o args} { global words; set words $args; return 0 }"),
            0);
  const char* hostile = "[exec rm -rf ~] $env(HOME) \"q\" {b";
  int answer = -1;
  ZvEvent event{};
  EXPECT_EQ(zvScriptTclEvalFunction(world, 1, "ev", object, &event, hostile, &answer), 0) << sink.dump();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(std::string(Tcl_GetVar(zvScriptInterpOf(world), "got", TCL_GLOBAL_ONLY)), hostile);
  // Tasks get the words as separate arguments, still unsubstituted.
  EXPECT_EQ(zvScriptTclEvalFunction(world, 0, "tk", object, nullptr, "a {b c} [d]", &answer), 0);
  EXPECT_EQ(eval("llength $words"), "3");
  EXPECT_EQ(eval("lindex $words 2"), "[d]");
  // The event's handle dies with the call.
  EXPECT_EQ(zvScriptHandleRecord(std::to_string(zvScriptHandleOf(&event, ZV_HANDLE_EVENT)).c_str(), ZV_HANDLE_OBJ),
            nullptr);
}

TEST_F(EngineTest, ResultsConvertAsHandlersExpect) {
  ASSERT_EQ(zvScriptTclEvalStr(world, "proc none {o args} {}\nproc zero {o args} { return 0 }\nproc bad {o args} { error boom }"),
            0);
  int answer = -1;
  EXPECT_EQ(zvScriptTclEvalFunction(world, 0, "none", object, nullptr, "", &answer), 0);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(zvScriptTclEvalFunction(world, 0, "zero", object, nullptr, "", &answer), 0);
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(zvScriptTclEvalFunction(world, 0, "bad", object, nullptr, "", &answer), -1);
  EXPECT_TRUE(sink.hasText("ret=[1]\nboom")) << sink.dump();
}

TEST_F(EngineTest, HandlesAreLiveRecordsOfOneKind) {
  long h = zvScriptHandleOf(object, ZV_HANDLE_OBJ);
  std::string text = std::to_string(h);
  EXPECT_EQ(zvScriptHandleOf(object, ZV_HANDLE_OBJ), h);  // stable, so scripts can compare
  EXPECT_EQ(zvScriptHandleRecord(text.c_str(), ZV_HANDLE_OBJ), object);
  EXPECT_EQ(zvScriptHandleRecord(text.c_str(), ZV_HANDLE_EVENT), nullptr);
  EXPECT_EQ(zvScriptHandleRecord((text + "a").c_str(), ZV_HANDLE_OBJ), nullptr);
  EXPECT_EQ(zvScriptHandleRecord("-1", ZV_HANDLE_OBJ), nullptr);
  EXPECT_EQ(zvScriptHandleRecord("99999999999999999999999", ZV_HANDLE_OBJ), nullptr);
  zvScriptForgetObjHandles(object);
  EXPECT_EQ(zvScriptHandleRecord(text.c_str(), ZV_HANDLE_OBJ), nullptr);
  EXPECT_NE(zvScriptHandleOf(object, ZV_HANDLE_OBJ), h);  // never given out again
}

TEST_F(EngineTest, CommandsCheckTheirWords) {
  EXPECT_EQ(eval("zvHelp a b"), "error: zvHelp:wrong args:zvHelp [command]\n");
  EXPECT_EQ(eval("zvMessage hello there"), "");
  EXPECT_TRUE(sink.hasText("hello there"));
  EXPECT_EQ(zvReportFailed(), 0);  // a script's zvError is only a message
  sink.clear();
  EXPECT_EQ(eval("zvHelp zvHelp"), "");
  EXPECT_TRUE(sink.hasText("zvHelp:Usage : zvHelp [command]")) << sink.dump();
  EXPECT_EQ(eval("exec ls"), "error: invalid command name \"exec\"");
}

}  // namespace
