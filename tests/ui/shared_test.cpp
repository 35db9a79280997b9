// What the user brings into shared worlds: the chat line, the avatar list
// and its previews, the preferences; and on a display (skipped without
// one) the chat window and the avatar and preferences dialogs.
#include <gtest/gtest.h>
#include <tcl.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/settings.h"
#include "platform/tkpriv.h"
#include "platform/window.h"
#include "ui/ui.h"

namespace {

namespace fs = std::filesystem;

std::string dataDir() {
  const char* d = std::getenv("QUILLMOOR_DATA_DIR");
  return d ? d : "";
}

// A settings file of the test's own, so the user's is never touched.
class SharedSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qm-shared-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    zvSetSettingsPath((dir + "/quillmoor.ini").c_str());
    zvChooseAvatar("person.wrl");
  }
  void TearDown() override {
    zvSetSettingsPath(nullptr);
    zvChatHooks() = ZvChatHooks{};
    zvChooseAvatar("person.wrl");
    fs::remove_all(dir);
  }
  std::string dir;
};

TEST(ChatLine, FitsOneMessageAndKeepsCharactersWhole) {
  EXPECT_EQ(zvChatEntryLimit(""), 170);
  EXPECT_EQ(zvChatEntryLimit(std::string(31, 'n').c_str()), 139);
  EXPECT_EQ(zvChatEntryLimit(std::string(200, 'n').c_str()), 0);
  char line[ZV_CHAT_MAX_LINE + 1];
  EXPECT_EQ(zvChatMakeLine("kim", "hello", line, sizeof line), 10);
  EXPECT_STREQ(line, "kim: hello");
  EXPECT_EQ(zvChatMakeLine("kim", "", line, sizeof line), -1);
  EXPECT_EQ(zvChatMakeLine("kim", "hello", line, 5), -1);
  // "é" is two bytes: 85 of them after "ab: " end at byte 174, one too
  // many, so the last one goes whole.
  std::string accents;
  for (int i = 0; i < 85; ++i) accents += "\xc3\xa9";
  int n = zvChatMakeLine("ab", accents.c_str(), line, sizeof line);
  EXPECT_EQ(n, 172);
  EXPECT_EQ(std::strlen(line), 172u);
  EXPECT_EQ(std::string(line + 168), "\xc3\xa9\xc3\xa9");
}

TEST_F(SharedSettings, AvatarListHoldsOnlyOurFilesThatAreThere) {
  ASSERT_FALSE(dataDir().empty());
  ZvAvatarList list;
  ASSERT_EQ(zvListAvatars(dataDir().c_str(), &list), zvAvatarCount());
  EXPECT_GE(zvAvatarCount(), 4);
  EXPECT_EQ(list.selected, 0);
  EXPECT_STREQ(zvAvatarAt(list.rows[0])->file, "person.wrl");
  for (int i = 0; i < zvAvatarCount(); ++i) {
    // Every avatar we ship comes with its picture.
    const ZvAvatarInfo* a = zvAvatarAt(i);
    EXPECT_TRUE(fs::exists(dataDir() + "/" + a->preview)) << a->preview;
  }
  EXPECT_EQ(zvAvatarAt(zvAvatarCount()), nullptr);

  // Another directory: a file of ours, a stranger, and a directory that
  // bears one of our names.
  std::ofstream(dir + "/boy.wrl") << "#VRML V1.0 ascii\n";
  std::ofstream(dir + "/stranger.wrl") << "#VRML V1.0 ascii\n";
  fs::create_directory(dir + "/girl.wrl");
  ASSERT_EQ(zvListAvatars(dir.c_str(), &list), 1);
  EXPECT_STREQ(zvAvatarAt(list.rows[0])->file, "boy.wrl");
  EXPECT_EQ(list.selected, -1);  // the person is not there
  EXPECT_EQ(zvAvatarListSelect(&list, 1), -1);
  EXPECT_EQ(zvAvatarListSelect(&list, 0), 0);
  EXPECT_EQ(zvListAvatars(nullptr, &list), -1);

  EXPECT_STREQ(zvChosenAvatar(), "person.wrl");
  EXPECT_EQ(zvChooseAvatar("stranger.wrl"), -1);
  EXPECT_EQ(zvChooseAvatar("../../etc/passwd"), -1);
  EXPECT_EQ(zvChooseAvatar("http://example.org/girl.wrl"), -1);
  EXPECT_STREQ(zvChosenAvatar(), "person.wrl");
  EXPECT_EQ(zvChooseAvatar("robot.wrl"), 0);
  ASSERT_EQ(zvListAvatars(dataDir().c_str(), &list), zvAvatarCount());
  EXPECT_STREQ(zvAvatarAt(list.rows[list.selected])->file, "robot.wrl");
}

TEST_F(SharedSettings, PreviewsKeepTheirShapeAndBrokenOnesAreRefused) {
  const int width = ZV_AVATAR_PREVIEW_WIDTH;
  std::vector<uint8_t> out(size_t(width) * 100 * 4);
  int height = -1;
  std::string person = dataDir() + "/person.png";
  ASSERT_EQ(zvLoadAvatarPreview(person.c_str(), width, 100, out.data(), &height), 0);
  EXPECT_EQ(height, width * 3 / 4);  // drawn at 4:3
  int lit = 0;
  for (size_t i = 0; i < out.size(); i += 4) lit += out[i] + out[i + 1] + out[i + 2] > 60;
  EXPECT_GT(lit, 100) << "the figure shows in its picture";
  // Too tall for the row: cut, not squeezed.
  ASSERT_EQ(zvLoadAvatarPreview(person.c_str(), width, 40, out.data(), &height), 0);
  EXPECT_EQ(height, 40);

  std::string bytes;
  {
    std::ifstream in(person, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(dir + "/cut.png", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::ofstream(dir + "/noise.png", std::ios::binary) << std::string(5000, '\x7f');
  std::ofstream(dir + "/empty.png", std::ios::binary);
  for (const char* name : {"/cut.png", "/noise.png", "/empty.png", "/absent.png"}) {
    EXPECT_EQ(zvLoadAvatarPreview((dir + name).c_str(), width, 100, out.data(), &height), -1) << name;
    EXPECT_EQ(height, 0);
  }
  EXPECT_EQ(zvLoadAvatarPreview(dir.c_str(), width, 100, out.data(), &height), -1);  // a directory
  EXPECT_EQ(zvLoadAvatarPreview(person.c_str(), 0, 100, out.data(), &height), -1);
}

TEST_F(SharedSettings, PreferencesReadAndWriteTheSevenSettings) {
  ZvPreferences p;
  ASSERT_EQ(zvReadPreferences(&p), 0);
  EXPECT_EQ(p.sound + p.walkingSound + p.multiUser + p.loadTexture, 4);
  EXPECT_STREQ(p.socksHost, "");
  EXPECT_STREQ(p.socksPort, "");
  EXPECT_STREQ(p.nickName, "(nik)");

  p.walkingSound = 0;
  p.loadTexture = 7;  // any non-zero is yes
  std::strcpy(p.socksHost, "proxy.lan");
  std::strcpy(p.socksPort, "1080");
  // A record from anywhere: no terminators, a line break.
  std::memset(p.nickName, 'z', sizeof p.nickName);
  p.nickName[3] = '\n';
  ASSERT_EQ(zvWritePreferences(&p), 0);
  zvForgetSettings();
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_WALKING_SOUND), 0);
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_TEXTURE), 1);
  ZvPreferences back;
  ASSERT_EQ(zvReadPreferences(&back), 0);
  EXPECT_STREQ(back.socksHost, "proxy.lan");
  EXPECT_STREQ(back.socksPort, "1080");
  EXPECT_EQ(std::string(back.nickName), std::string(30, 'z'));
  char name[ZV_USER_NAME_SIZE];
  ASSERT_GE(zvGetUserName(name, sizeof name), 0);
  EXPECT_STREQ(name, back.nickName);
  EXPECT_EQ(zvWritePreferences(nullptr), -1);
}

TEST_F(SharedSettings, ChatWithoutItsWindowGoesNowhere) {
  EXPECT_EQ(zvChatAppend("kim: hello"), -1);
  EXPECT_EQ(zvChatEnter("hello"), -1);
  EXPECT_EQ(zvChatEnter(""), 0);
  EXPECT_EQ(zvChatShown(), 0);
}

// ---------------------------------------------------------------------------
// On a display

std::vector<std::string> sent;
int worldShown = 1;
int closeRequests;
int sendLine(const char* line) {
  sent.push_back(line);
  return 0;
}
int hasWorld() { return worldShown; }
void closeRequested() { ++closeRequests; }

// Runs what a user would do once the dialog's loop has started.
std::function<void()> userAction;
void runUserAction(void*) {
  if (userAction) userAction();
}

std::string evalIn(ZvPlatformWindow* main, const std::string& script) {
  Tcl_Interp* interp = zvPlatformWindowInterp(main);
  if (Tcl_Eval(interp, script.c_str()) != TCL_OK) return "error: " + std::string(Tcl_GetStringResult(interp));
  return Tcl_GetStringResult(interp);
}

class SharedWindows : public SharedSettings {
 protected:
  void SetUp() override {
    SharedSettings::SetUp();
    if (!zvPlatformHasDisplay()) GTEST_SKIP() << "no display";
    main = zvPlatformOpenWindow("shared test", 200, 100, nullptr);
    ASSERT_NE(main, nullptr) << zvPlatformWindowError();
  }
  void TearDown() override {
    zvChatDestroy();
    if (main) zvPlatformCloseWindow(main);
    SharedSettings::TearDown();
  }
  int runDialog(const std::function<int()>& open, std::function<void()> action) {
    userAction = std::move(action);
    ZvPlatformTimer timer{runUserAction, nullptr, nullptr};
    zvPlatformArmTimer(&timer, 100);
    int result = open();
    zvPlatformDisarmTimer(&timer);
    userAction = nullptr;
    return result;
  }
  ZvPlatformWindow* main = nullptr;
};

TEST_F(SharedWindows, ChatLogsAndSendsAnEnteredLineOnce) {
  zvSetUserName("kim");
  ASSERT_EQ(zvChatCreate(main), 0);
  ZvChatHooks& hooks = zvChatHooks();
  hooks.sendLine = sendLine;
  hooks.hasWorld = hasWorld;
  hooks.closeRequested = closeRequested;
  sent.clear();
  worldShown = 1;
  closeRequests = 0;
  EXPECT_EQ(zvChatShown(), 0);
  EXPECT_EQ(zvChatToggle(), 1);
  ZvPlatformPopup* popup = zvChatPopup();
  ASSERT_NE(popup, nullptr);

  // The entry takes what the name leaves, no more.
  std::string tooLong(200, 'x');
  EXPECT_EQ(zvPlatformSetPopupEntry(popup, ZV_CHAT_ENTRY, tooLong.c_str()), zvChatEntryLimit("kim"));
  ASSERT_EQ(zvPlatformSetPopupEntry(popup, ZV_CHAT_ENTRY, "hello there"), 11);
  ASSERT_EQ(zvPlatformPressPopupCommand(popup, ZV_CHAT_ENTRY), 0);  // Return
  ASSERT_EQ(sent, std::vector<std::string>{"kim: hello there"});
  EXPECT_EQ(zvChatLineCount(), 1);
  char left[64];
  EXPECT_EQ(zvPlatformGetPopupEntry(popup, ZV_CHAT_ENTRY, left, sizeof left), 0);

  // Others' lines are logged, not sent; an empty entry says nothing.
  EXPECT_EQ(zvChatAppend("lee: hi kim"), 0);
  ASSERT_EQ(zvPlatformPressPopupCommand(popup, ZV_CHAT_ENTRY), 0);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(zvChatLineCount(), 2);

  // No world: the line stays in the entry for later.
  worldShown = 0;
  zvPlatformSetPopupEntry(popup, ZV_CHAT_ENTRY, "anyone?");
  zvPlatformPressPopupCommand(popup, ZV_CHAT_ENTRY);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(zvPlatformGetPopupEntry(popup, ZV_CHAT_ENTRY, left, sizeof left), 7);

  // The log keeps the latest lines only.
  for (int i = 0; i < ZV_CHAT_CAPACITY + 50; ++i) zvChatAppend(("line " + std::to_string(i)).c_str());
  EXPECT_EQ(zvChatLineCount(), ZV_CHAT_CAPACITY);

  // The close box goes through the main window's command.
  evalIn(main, "foreach t [winfo children .] { if {[winfo class $t] eq {zvChatFrame}} { "
               "eval [wm protocol $t WM_DELETE_WINDOW] } }");
  EXPECT_EQ(closeRequests, 1);
  EXPECT_EQ(zvChatToggle(), 0);
  while (zvPlatformDoOneEvent(0)) {
  }
}

TEST_F(SharedWindows, AvatarDialogTakesTheClickedRowOnOk) {
  // The third row, clicked in the list, then OK.
  auto pickThird = [this] {
    std::string clicked = evalIn(main,
                                 "foreach t [winfo children .] { if {[winfo class $t] eq {zvAvatar}} { "
                                 "foreach f [winfo children $t] { if {[winfo exists $f.area]} { "
                                 "event generate $f.area <ButtonPress-1> -x 40 -y 170; return $f.area } } } }");
    EXPECT_NE(clicked.find(".area"), std::string::npos) << clicked;
    zvPlatformPressPopupCommand(zvAvatarDialogPopup(), ZV_AVATAR_OK);
  };
  int changed = runDialog([this] { return zvViewAvatarDialog(main, dataDir().c_str()); }, pickThird);
  EXPECT_EQ(changed, 1);
  EXPECT_STREQ(zvChosenAvatar(), "girl.wrl");
  EXPECT_EQ(zvAvatarDialogPopup(), nullptr);
  // Cancel keeps the choice, whatever was clicked.
  changed = runDialog([this] { return zvViewAvatarDialog(main, dataDir().c_str()); },
                      [] { zvPlatformPressPopupButton(zvAvatarDialogPopup()); });
  EXPECT_EQ(changed, 0);
  EXPECT_STREQ(zvChosenAvatar(), "girl.wrl");
}

TEST_F(SharedWindows, PreferencesDialogSavesOnOkOnly) {
  zvSetSetting(ZV_SET_SOCKS_PORT, "1080");
  int shownPort = -1;
  auto edit = [&shownPort] {
    ZvPlatformPopup* p = zvPreferencesPopup();
    char port[16];
    shownPort = zvPlatformGetPopupEntry(p, ZV_PREF_SOCKS_PORT, port, sizeof port) == 4 && !std::strcmp(port, "1080");
    EXPECT_EQ(zvPlatformPopupCheck(p, ZV_PREF_MULTI_USER), 1);
    zvPlatformSetPopupCheck(p, ZV_PREF_MULTI_USER, 0);
    zvPlatformSetPopupEntry(p, ZV_PREF_SOCKS_HOST, std::string(300, 'h').c_str());
    zvPlatformSetPopupEntry(p, ZV_PREF_NICK_NAME, "tester");
  };
  int saved = runDialog([this] { return zvPreferencesDialog(main); },
                        [&] { edit(), zvPlatformPressPopupButton(zvPreferencesPopup()); });  // Cancel
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(shownPort, 1);
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_MULTI_USER), 1);
  char text[300];
  zvGetSetting(ZV_SET_NICK_NAME, text, sizeof text);
  EXPECT_STREQ(text, "(nik)");

  saved = runDialog([this] { return zvPreferencesDialog(main); },
                    [&] { edit(), zvPlatformPressPopupCommand(zvPreferencesPopup(), ZV_PREF_OK); });
  EXPECT_EQ(saved, 1);
  zvForgetSettings();  // from the file, not from what is held
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_MULTI_USER), 0);
  EXPECT_EQ(zvGetSetting(ZV_SET_SOCKS_HOST, text, sizeof text), 255);
  zvGetSetting(ZV_SET_NICK_NAME, text, sizeof text);
  EXPECT_STREQ(text, "tester");
  zvGetSetting(ZV_SET_SOCKS_PORT, text, sizeof text);
  EXPECT_STREQ(text, "1080");
}

}  // namespace
