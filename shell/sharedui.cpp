// sharedui.cpp — shared worlds in the main window: the chat window (Chat,
// 124), the avatar choice (View Avatar, 118) and the preferences
// (Preferences, 129); the user name taken from the login name on the first
// start; and the client joined to them: its settings filled from ours, the
// lines it receives shown in the chat log and over the avatars, the user's
// lines sent through it, a world's server joined when the world is shown
// and left when it is left.
#include <cstdio>

#include "media/media.h"
#include "net/net.h"
#include "platform/settings.h"
#include "platform/window.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "ui/ui.h"

namespace {

int toggleChat() { return zvChatToggle(); }

// The client reads its settings from a record of its own; ours change only
// at start-up and through the two dialogs.
void fillNetSettings() {
  ZvNetSettings& net = zvNetSettings();
  zvGetUserName(net.userName, sizeof net.userName);
  zvGetSetting(ZV_SET_SOCKS_HOST, net.socksHost, sizeof net.socksHost);
  zvGetSetting(ZV_SET_SOCKS_PORT, net.socksPort, sizeof net.socksPort);
  net.multiUser = zvGetSettingFlag(ZV_SET_MULTI_USER) == 1;
  std::snprintf(net.avatarUrl, sizeof net.avatarUrl, "%s", zvChosenAvatar());
}

void chatShow(const char* line) { zvChatAppend(line); }
void showLabel(ZvObj* object, const char* text, int) { zvShowTextLabel(object, text); }

// The window has logged the line; only the sending is left, as text for
// the user's own avatar.
int sendLine(const char* line) {
  ZvWorld* world = zvNetWorld();
  if (!world || !world->person || zvNetState() != ZV_NET_CONNECTED) return -1;
  return zvNetSendText(world->person, line) > 0 ? 0 : -1;
}

int viewAvatar() {
  zvShellSetModalBox(1);
  int changed = zvViewAvatarDialog(zvShellWindow(), zvDataDirectory());
  zvShellSetModalBox(0);
  fillNetSettings();
  return changed;
}

int preferences() {
  zvShellSetModalBox(1);
  int saved = zvPreferencesDialog(zvShellWindow());
  zvShellSetModalBox(0);
  if (const char* problem = zvSettingsProblem()) zvWarning("%s", problem);
  fillNetSettings();
  return saved;
}

int hasWorld() { return zvShellWorld() != nullptr; }

// The close box asks the main window, so that the check mark follows.
void chatCloseRequested() { zvMenuExec(ZV_CMD_CHAT, 1); }

}  // namespace

void zvConnectSharedWindows(void) {
  if (zvInitUserName() < 0) zvWarning("the user name cannot be set from the login name");
  if (const char* problem = zvSettingsProblem()) zvWarning("%s", problem);
  fillNetSettings();
  zvNetInstall();
  ZvNetHooks& net = zvNetHooks();
  net.chatShow = chatShow;
  net.showLabel = showLabel;
  net.kinStep = zvKinReceiveStep;
  ZvChatHooks& chat = zvChatHooks();
  chat.hasWorld = hasWorld;
  chat.closeRequested = chatCloseRequested;
  chat.sendLine = sendLine;
  ZvCommandHooks& hooks = zvCommandHooks();
  hooks.viewAvatar = viewAvatar;
  hooks.preferences = preferences;
  // Without its window the Chat command stays greyed.
  hooks.toggleChat = zvChatCreate(zvShellWindow()) == 0 ? toggleChat : nullptr;
  zvUpdateCommands();
}

void zvDisconnectSharedWindows(void) {
  zvVSCPExit();
  zvNetHooks() = ZvNetHooks{};
  zvChatHooks() = ZvChatHooks{};
  zvChatDestroy();
}

void zvSharedWorldShown(ZvWorld* world) {
  // Nothing when the world names no server or the user turned Multi User off.
  if (world && zvNetState() == ZV_NET_DISCONNECTED) zvNetConnect(world);
}

void zvSharedWorldLeft(void) { zvVSCPExit(); }
