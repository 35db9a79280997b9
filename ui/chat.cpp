// chat.cpp — the chat window: a log window of the lines said in a shared
// world, and under it the entry where the user says the next one. A line
// the user enters is "name: text", logged here and handed to the client,
// which sends it as text for the user's avatar; lines from the others come
// back through zvChatAppend. One line must fit one message, so the entry
// takes only as many characters as the user's name leaves.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/notify.h"
#include "platform/settings.h"
#include "ui/ui.h"

namespace {

enum {
  kMargin = 5,
  kBelowLog = 35,  // what the log leaves of the client height
  kEntryHeight = 20,
};

ZvChatHooks hooks;
ZvPlatformPopup* popup;
ZvLogWindow* chatLog;

void layOut(int width, int height) {
  int logWidth = std::max(width - 2 * kMargin, 1), logHeight = std::max(height - kBelowLog, 1);
  zvLogPlace(chatLog, kMargin, kMargin, logWidth, logHeight);
  zvPlatformPlacePopupCommand(popup, ZV_CHAT_ENTRY, kMargin, kMargin + logHeight + kMargin, logWidth, kEntryHeight);
}

void userName(char* out, int size) {
  if (zvGetUserName(out, size) < 0) *out = '\0';
}

void resizeChat(void*, int width, int height) { layOut(width, height); }

void closeChat(void*) {
  if (hooks.closeRequested)
    hooks.closeRequested();
  else
    zvChatHide();
}

void entered(void*, int id) {
  if (id != ZV_CHAT_ENTRY || !popup) return;
  char text[4 * ZV_CHAT_MAX_LINE + 1];
  if (zvPlatformGetPopupEntry(popup, ZV_CHAT_ENTRY, text, sizeof text) <= 0) return;
  if (zvChatEnter(text) > 0) zvPlatformSetPopupEntry(popup, ZV_CHAT_ENTRY, "");
}

}  // namespace

ZvChatHooks& zvChatHooks(void) { return hooks; }

int zvChatEntryLimit(const char* name) {
  int length = name ? int(std::strlen(name)) : 0;
  return std::max(ZV_CHAT_MAX_LINE - length - 3, 0);
}

int zvChatMakeLine(const char* name, const char* text, char* out, int size) {
  if (!text || !*text || !out || size < 1) return -1;
  std::string line = std::string(name ? name : "") + ": " + text;
  size_t n = std::min(line.size(), size_t(ZV_CHAT_MAX_LINE));
  // A character cut in two would reach the others as garbage.
  while (n > 0 && n < line.size() && (static_cast<unsigned char>(line[n]) & 0xc0) == 0x80) --n;
  if (n + 1 > size_t(size)) return -1;
  std::memcpy(out, line.data(), n);
  out[n] = '\0';
  return int(n);
}

int zvChatCreate(ZvPlatformWindow* main) {
  // An existing window is replaced, as a second start-up would.
  zvChatDestroy();
  ZvPopupCallbacks callbacks{closeChat, resizeChat, nullptr, entered};
  popup = zvPlatformOpenPopup(main, "zvChatFrame", "Chat", ZV_CHAT_WIDTH, ZV_CHAT_HEIGHT, "", &callbacks);
  if (!popup) return -1;
  chatLog = zvNewLogWindow(main, popup, ZV_CHAT_CAPACITY);
  char name[ZV_USER_NAME_SIZE];
  userName(name, sizeof name);
  if (!chatLog || zvPlatformAddPopupEntry(popup, ZV_CHAT_ENTRY, zvChatEntryLimit(name), 0xffffff, 0x000000) != 0) {
    zvChatDestroy();
    return -1;
  }
  layOut(ZV_CHAT_WIDTH, ZV_CHAT_HEIGHT);
  return 0;
}

void zvChatDestroy(void) {
  zvDeleteLogWindow(chatLog);
  chatLog = nullptr;
  zvPlatformClosePopup(popup);
  popup = nullptr;
}

int zvChatShow(void) {
  if (!popup) return -1;
  // The name may have changed in the preferences since.
  char name[ZV_USER_NAME_SIZE];
  userName(name, sizeof name);
  zvPlatformSetPopupEntryLimit(popup, ZV_CHAT_ENTRY, zvChatEntryLimit(name));
  if (zvPlatformShowPopup(popup) != 0) return -1;
  zvPlatformFocusPopupControl(popup, ZV_CHAT_ENTRY);
  return 0;
}

int zvChatHide(void) { return zvPlatformHidePopup(popup); }
int zvChatShown(void) { return zvPlatformPopupShown(popup); }

int zvChatToggle(void) {
  if (zvChatShown())
    zvChatHide();
  else
    zvChatShow();
  return zvChatShown();
}

int zvChatAppend(const char* line) {
  if (!popup || !chatLog || !line) return -1;
  return zvLogAppend(chatLog, line);
}

int zvChatEnter(const char* text) {
  if (!text || !*text) return 0;
  if (!popup || !chatLog || (hooks.hasWorld && !hooks.hasWorld())) return -1;
  char name[ZV_USER_NAME_SIZE];
  userName(name, sizeof name);
  char line[ZV_CHAT_MAX_LINE + 1];
  int length = zvChatMakeLine(name, text, line, sizeof line);
  if (length < 0) return -1;
  // Logged once, here: the line is never labelled over our own avatar.
  zvChatAppend(line);
  if (hooks.sendLine) hooks.sendLine(line);
  return length;
}

int zvChatLineCount(void) { return chatLog ? zvTextLineCount(chatLog->view.text) : 0; }
ZvPlatformPopup* zvChatPopup(void) { return popup; }
