// The menus and bars on a real display (skipped without one; CTest runs
// them again on an X server of its own): what is enabled follows the
// history and the subsystems present, options keep their check marks, the
// pad holds its keys, and the layout keeps the view at 4:3.
#include <gtest/gtest.h>
#include <tcl.h>

#include <cstdlib>
#include <string>

#include "platform/window.h"
#include "script/script.h"
#include "shell/input.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"

namespace {

int chatShown;
int toggleChat() { return chatShown = !chatShown; }

struct Commands : ::testing::Test {
  void SetUp() override {
    if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
    window = zvPlatformOpenWindow("commands test", 600, 460, nullptr);
    ASSERT_NE(window, nullptr) << zvPlatformWindowError();
    zvClearHistory();
    zvClearKeyStates();
    zvCommandHooks() = ZvCommandHooks{};
    ASSERT_EQ(zvCreateCommands(window), 0);
  }
  void TearDown() override {
    zvCommandHooks() = ZvCommandHooks{};
    zvDestroyCommands();
    zvClearHistory();
    zvPlatformCloseWindow(window);
  }
  int enabled(int id) { return zvPlatformMenuItemEnabled(window, id); }
  int checked(int id) { return zvPlatformMenuItemChecked(window, id); }
  ZvPlatformWindow* window = nullptr;
};

TEST_F(Commands, BackAndForwardFollowTheHistory) {
  EXPECT_EQ(enabled(ZV_CMD_BACK), 0);
  EXPECT_EQ(enabled(ZV_CMD_FORWARD), 0);
  ZvHistoryEntry* a = zvAddHistoryEntry("file:///a.wrl");
  zvSetCurrentHistoryEntry(a);
  ZvHistoryEntry* b = zvAddHistoryEntry("file:///b.wrl");
  zvSetCurrentHistoryEntry(b);
  zvUpdateCommands();
  EXPECT_EQ(enabled(ZV_CMD_BACK), 1);
  EXPECT_EQ(enabled(ZV_CMD_FORWARD), 0);
  zvSetCurrentHistoryEntry(a);
  zvUpdateCommands();
  EXPECT_EQ(enabled(ZV_CMD_BACK), 0);
  EXPECT_EQ(enabled(ZV_CMD_FORWARD), 1);
}

TEST_F(Commands, LaterSubsystemsStayGreyedUntilTheyArePresent) {
  for (int id : {ZV_CMD_CHAT, ZV_CMD_VIEW_AVATAR, ZV_CMD_PREFERENCES, ZV_CMD_VIEW_BOOKMARK, ZV_CMD_ADD_BOOKMARK,
                 ZV_CMD_AUTO_SOUNDS})
    EXPECT_EQ(enabled(id), 0) << id;
  chatShown = 0;
  zvCommandHooks().toggleChat = toggleChat;
  zvUpdateCommands();
  EXPECT_EQ(enabled(ZV_CMD_CHAT), 1);
  zvMenuExec(ZV_CMD_CHAT, 1);
  EXPECT_EQ(checked(ZV_CMD_CHAT), 1) << "the check mark follows the chat window";
  zvMenuExec(ZV_CMD_CHAT, 1);
  EXPECT_EQ(checked(ZV_CMD_CHAT), 0);

  // Auto Load Images starts on and toggles with its mark.
  EXPECT_EQ(checked(ZV_CMD_AUTO_IMAGES), 1);
  EXPECT_EQ(zvAutoLoadImages(), 1);
  zvMenuExec(ZV_CMD_AUTO_IMAGES, 1);
  EXPECT_EQ(checked(ZV_CMD_AUTO_IMAGES), 0);
  EXPECT_EQ(zvAutoLoadImages(), 0);
}

TEST_F(Commands, PadButtonsHoldTheirKeysAndShowPressed) {
  zvMenuExec(ZV_PAD_SLIDE_RIGHT, 1);
  EXPECT_TRUE(zvKeyDown(ZV_VK_RIGHT));
  zvMenuExec(ZV_PAD_SLIDE_RIGHT, 0);
  EXPECT_FALSE(zvKeyDown(ZV_VK_RIGHT));
  EXPECT_EQ(zvPadButtonShown(ZV_PAD_FORWARD), 0);
  zvShowPadButton(ZV_PAD_FORWARD, 1);
  EXPECT_EQ(zvPadButtonShown(ZV_PAD_FORWARD), 1);
  EXPECT_EQ(zvPadButtonShown(999), -1);
}

TEST_F(Commands, TheViewIsKeptAtFourByThree) {
  int width, height;
  zvClientSizeForView(512, 384, &width, &height);
  EXPECT_EQ(zvLayoutMainWindow(width, height), 0) << "already 4:3";
  EXPECT_EQ(zvLayoutMainWindow(width + 100, height), 1) << "too wide: a narrower size is asked for";
  zvClientSizeForView(640, 400, &width, &height);
  EXPECT_EQ(zvLayoutMainWindow(width, height), 1);
}

// A world's script gives the menu commands a world may give, and no other.
TEST_F(Commands, ScriptsGiveOnlyTheMenuCommandsAWorldMay) {
  if (const char* d = std::getenv("QUILLMOOR_DATA_DIR")) zvSetScriptDataDirectory(d);
  zvProvideShellScriptCommands(1);
  ZvWorld* world = zvNewWorld("file:///tmp/menus.wrl");
  ASSERT_NE(world, nullptr);
  auto eval = [&](const char* text) { return zvScriptTclEvalStr(world, text); };
  ASSERT_EQ(checked(ZV_CMD_AUTO_IMAGES), 1);
  EXPECT_EQ(eval("zvMenuExec 116"), 0);
  EXPECT_EQ(checked(ZV_CMD_AUTO_IMAGES), 0);
  EXPECT_EQ(eval("zvMenuExec 116"), 0);
  for (const char* refused : {"zvMenuExec 109", "zvMenuExec 102", "zvMenuExec 199", "zvMenuExec 116x"})
    EXPECT_EQ(eval(refused), -1) << refused << ": only the user may";
  EXPECT_EQ(zvPlatformWindowExists(window), 1);
  zvScriptExit(world, ZV_SCRIPT_TCL);
  zvDeleteWorld(world);
}

}  // namespace
