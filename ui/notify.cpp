// notify.cpp — the "Messages" window: warnings and messages of the whole
// program, the latest hundred kept. The first text shows the window; "Close"
// hides it and forgets what it held.
#include <deque>
#include <string>

#include "platform/notify.h"
#include "ui/ui.h"

namespace {

ZvPlatformTextWindow* window;
std::deque<int> paragraphLines;  // logical lines of each message, oldest first

void closeMessages(void*) {
  // The "Close" button: hidden, and what it held is forgotten.
  zvNotifyHide();
  zvPlatformTextClear(window);
  paragraphLines.clear();
}

}  // namespace

int zvNotifyCreate(ZvPlatformWindow* main) {
  if (window) return 0;
  window = zvPlatformOpenTextWindow(main, "zvNotify", "Messages", 480, 280, closeMessages, nullptr);
  return window ? 0 : -1;
}

void zvNotifyDestroy(void) {
  zvPlatformCloseTextWindow(window);
  window = nullptr;
  paragraphLines.clear();
}

void zvNotifyAppend(const char* text) {
  if (!window || !text) return;
  // One message may hold several lines; CR LF and CR count as line ends.
  std::string s;
  int lines = 1;
  for (const char* p = text; *p; ++p) {
    if (*p == '\r' && p[1] == '\n') continue;
    char c = *p == '\r' ? '\n' : *p;
    if (c == '\n') ++lines;
    s += c;
  }
  zvNotifyShow();
  if (int(paragraphLines.size()) >= ZV_NOTIFY_CAPACITY) {
    zvPlatformTextDropFirst(window, paragraphLines.front());
    paragraphLines.pop_front();
  }
  if (zvPlatformTextAppend(window, s.c_str()) == 0) paragraphLines.push_back(lines);
}

void zvNotifyShow(void) { zvPlatformTextShow(window); }
void zvNotifyHide(void) { zvPlatformTextHide(window); }
int zvNotifyShown(void) { return zvPlatformTextShown(window); }
int zvNotifyLineCount(void) { return zvPlatformTextLineCount(window); }
