// The upcalls that reach scripts and the scene without a socket: what the
// application-specific message may call and how, switches, the master flag,
// and the script commands without a connection.
#include <cstdlib>
#include <string>
#include <vector>

#include "net/net.h"
#include "script/script.h"
#include "tests/support/testsupport.h"

namespace {

std::vector<std::string> shown;

class NetUpcalls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* data = std::getenv("QUILLMOOR_DATA_DIR")) zvSetScriptDataDirectory(data);
    shown.clear();
    zvNetInstall();
    zvNetHooks().chatShow = [](const char* line) { shown.push_back(line); };
    world = zvNewWorld("file:///tmp/upcalls.wrl");
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
    ASSERT_EQ(zvNewZvObj(world, &door, 0), ZV_OK);
    ASSERT_EQ(zvAddTopObject(door, "door.wrl"), ZV_OK);
    ASSERT_EQ(zvObjAssignId(door, 12), ZV_OK);
  }
  void TearDown() override {
    zvSetCurrentWorld(nullptr);
    zvScriptExit(world, ZV_SCRIPT_TCL);  // the world's interpreter, if a test made one
    zvDeleteWorld(world);
    zvNetHooks() = ZvNetHooks{};
  }
  int appl(const char* procedure, const char* argument) {
    uint8_t b[ZVCP_MAX_MESSAGE];
    int n = zvcpBuildAppl(b, sizeof b, 1, 2, 12, 0, procedure, argument);
    return zvNetDispatch(b, size_t(n));
  }
  qmtest::RecordingSink sink;
  ZvWorld* world = nullptr;
  ZvObj* door = nullptr;
};

// Only the world's own procedures with the prefix, called with the argument
// as one word that nothing substitutes.
TEST_F(NetUpcalls, ApplicationMessagesCallOnlyTheWorldsProcedures) {
  ASSERT_EQ(zvScriptTclEvalStr(world, "proc zvApplGreet {o e a} { zvChatDisplay $o \"got $a\" }\n"
                                      "proc greet {o e a} { zvChatDisplay $o \"unprefixed\" }"),
            0)
      << sink.dump();
  EXPECT_EQ(appl("zvApplGreet", "[zvChatDisplay 1 pwned] $x {"), 0) << sink.dump();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "got [zvChatDisplay 1 pwned] $x {");
  EXPECT_EQ(appl("greet", "x"), -1);            // no prefix
  EXPECT_EQ(appl("zvApplMissing", "x"), -1);    // not defined
  EXPECT_EQ(appl("zvChatDisplay", "x"), -1);    // a command, not the world's procedure
  EXPECT_EQ(appl("zvAppl*", "x"), -1);          // a pattern
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_TRUE(sink.hasText("is not a procedure of the world's"));
}

TEST_F(NetUpcalls, SwitchesMasterAndCommandsWithoutAConnection) {
  uint8_t b[ZVCP_MAX_MESSAGE];
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildMaster(b, sizeof b, 1, 2, 1))), 0);
  EXPECT_EQ(zvNetIsMaster(), 1);
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildMaster(b, sizeof b, 1, 2, 2))), ZVCP_E_RANGE);
  EXPECT_EQ(zvNetIsMaster(), 1);  // a value of 2 leaves it
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildMaster(b, sizeof b, 1, 2, 0))), 0);
  EXPECT_EQ(zvNetIsMaster(), 0);

  // Kinds the client only sends are refused on receipt; so is op 5.
  const float t[3] = {1, 2, 3};
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildTranslation(b, sizeof b, 1, 2, 12, t))), ZVCP_E_UNKNOWN);
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildEvent(b, sizeof b, 1, 2, 12, 5, "e"))), ZVCP_E_UNKNOWN);
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildText5(b, sizeof b, 1, 2, 1, 2, "e"))), ZVCP_E_UNKNOWN);
  // Objects that are not there, and identifiers beyond ours.
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildText(b, sizeof b, 1, 2, 99, "hi"))), -1);
  EXPECT_TRUE(sink.hasText("zvcpUpcallApplSendText: target object is not found."));
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildPosition(b, sizeof b, 1, 2, 99, t))), -1);
  EXPECT_TRUE(sink.hasText("zvcpUpcallSys2: object id=99 not found."));
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildAddObjects(b, sizeof b, 1, 2, 0x80000000u, 0, "http://h/a.wrl", nullptr))),
            ZVCP_E_RANGE);
  // A position from the server moves the object.
  EXPECT_EQ(zvNetDispatch(b, size_t(zvcpBuildPosition(b, sizeof b, 1, 2, 12, t))), 0);
  EXPECT_NEAR(zvGetObjectWRT(door)->m[3][2], 3.0f, 1e-3);

  // The script commands answer -1 without a connection rather than fail.
  std::string handle = std::to_string(zvScriptHandleOf(door, ZV_HANDLE_OBJ));
  std::string script = "set r [zvcpSendChatStr " + handle + " hi]; zvChatDisplay " + handle +
                       " \"$r [zvcpAmIMaster] [zvGetUserName]\"";
  ASSERT_EQ(zvScriptTclEvalStr(world, script.c_str()), 0) << sink.dump();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], std::string("-1 0 ") + zvNetSettings().userName);
}

}  // namespace
