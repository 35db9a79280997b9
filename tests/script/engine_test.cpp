// The engine's guard: words that are never substituted, handles that
// cannot be forged, and errors that reach the Messages window.
#include "tests/script/scripttest.h"

namespace {

class EngineTest : public qmtest::ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    object = make();
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text); }
  ZvObj* object = nullptr;
};

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

// A script's zvError is only a message: the program has not failed.
TEST_F(EngineTest, AScriptsMessageIsNoFailureOfTheProgram) {
  EXPECT_EQ(eval("zvMessage hello there"), "");
  EXPECT_TRUE(sink.hasText("hello there"));
  EXPECT_EQ(zvReportFailed(), 0);
}

}  // namespace
