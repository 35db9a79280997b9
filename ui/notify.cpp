// notify.cpp — the "Messages" window: warnings and messages of the whole
// program in a log window, the latest hundred kept. The first text shows
// the window; "Close" hides it and forgets what it held. A run of one
// message shows once, with its count.
#include <algorithm>

#include "platform/notify.h"
#include "ui/ui.h"

namespace {

enum {
  kWidth = 480,
  kHeight = 280,
  kMargin = 10,       // around the log, left, top and right
  kBelowLog = 50,     // what the log leaves of the client height
  kButtonGap = 15,    // between the log and the button
  kButtonWidth = 50,
  kButtonHeight = 30,
};

ZvPlatformPopup* popup;
ZvLogWindow* messageLog;
// A report raised while a message is being added must not add itself.
int appending;

void layOut(int width, int height) {
  int logWidth = std::max(width - 2 * kMargin, 1), logHeight = std::max(height - kBelowLog, 1);
  zvLogPlace(messageLog, kMargin, kMargin, logWidth, logHeight);
  // Kept whole inside a window made too short for the gap.
  int buttonY = std::min(kMargin + logHeight + kButtonGap, height - kButtonHeight);
  zvPlatformPlacePopupButton(popup, (width - kButtonWidth) / 2, std::max(buttonY, 0), kButtonWidth, kButtonHeight);
}

void resizeMessages(void*, int width, int height) { layOut(width, height); }

void closeMessages(void*) {
  zvNotifyHide();
  zvLogClear(messageLog);
}

}  // namespace

int zvNotifyCreate(ZvPlatformWindow* main) {
  if (popup) return 0;
  ZvPopupCallbacks callbacks{closeMessages, resizeMessages, nullptr, nullptr};
  popup = zvPlatformOpenPopup(main, "zvNotify", "Messages", kWidth, kHeight, "Close", &callbacks);
  if (!popup) return -1;
  messageLog = zvNewLogWindow(main, popup, ZV_NOTIFY_CAPACITY);
  if (!messageLog) {
    zvNotifyDestroy();
    return -1;
  }
  // One warning repeated for every face of a world would push everything
  // else out of the hundred lines kept.
  zvLogViewSetCoalesce(&messageLog->view, 1);
  layOut(kWidth, kHeight);
  return 0;
}

void zvNotifyDestroy(void) {
  zvDeleteLogWindow(messageLog);
  messageLog = nullptr;
  zvPlatformClosePopup(popup);
  popup = nullptr;
}

void zvNotifyAppend(const char* text) {
  if (!popup || !messageLog || !text || appending) return;
  appending = 1;
  zvNotifyShow();
  zvLogAppend(messageLog, text);
  appending = 0;
}

void zvNotifyShow(void) { zvPlatformShowPopup(popup); }
void zvNotifyHide(void) { zvPlatformHidePopup(popup); }
int zvNotifyShown(void) { return zvPlatformPopupShown(popup); }
int zvNotifyLineCount(void) { return messageLog ? zvTextLineCount(messageLog->view.text) : 0; }
