// sharedui.cpp — what the user brings into shared worlds, in the main
// window: the chat window (Chat, 124), the avatar choice (View Avatar, 118)
// and the preferences (Preferences, 129), and the user name taken from the
// login name on the first start.
#include "platform/settings.h"
#include "platform/window.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "ui/ui.h"

namespace {

int toggleChat() { return zvChatToggle(); }

int viewAvatar() {
  zvShellSetModalBox(1);
  int changed = zvViewAvatarDialog(zvShellWindow(), zvDataDirectory());
  zvShellSetModalBox(0);
  return changed;
}

int preferences() {
  zvShellSetModalBox(1);
  int saved = zvPreferencesDialog(zvShellWindow());
  zvShellSetModalBox(0);
  if (const char* problem = zvSettingsProblem()) zvWarning("%s", problem);
  return saved;
}

int hasWorld() { return zvShellWorld() != nullptr; }

// The close box asks the main window, so that the check mark follows.
void chatCloseRequested() { zvMenuExec(ZV_CMD_CHAT, 1); }

}  // namespace

void zvConnectSharedWindows(void) {
  if (zvInitUserName() < 0) zvWarning("the user name cannot be set from the login name");
  if (const char* problem = zvSettingsProblem()) zvWarning("%s", problem);
  ZvChatHooks& chat = zvChatHooks();
  chat.hasWorld = hasWorld;
  chat.closeRequested = chatCloseRequested;
  ZvCommandHooks& hooks = zvCommandHooks();
  hooks.viewAvatar = viewAvatar;
  hooks.preferences = preferences;
  // Without its window the Chat command stays greyed.
  hooks.toggleChat = zvChatCreate(zvShellWindow()) == 0 ? toggleChat : nullptr;
  zvUpdateCommands();
}

void zvDisconnectSharedWindows(void) {
  zvChatHooks() = ZvChatHooks{};
  zvChatDestroy();
}
