// notify.h — a second top-level window beside the main one, for text that
// piles up (the messages window): a scrolling read-only text with a
// "Close" button under it. Like window.h, nothing Tcl or Tk shows here.
#pragma once

struct ZvPlatformWindow;
struct ZvPlatformTextWindow;

// Created withdrawn, in the main window's interpreter, with its own window
// class (so that it is never taken for the main window). onClose runs when
// "Close" is pressed or the window manager closes it; the window itself is
// only hidden. Null when it cannot be built.
ZvPlatformTextWindow* zvPlatformOpenTextWindow(ZvPlatformWindow* main, const char* className, const char* title,
                                               int width, int height, void (*onClose)(void* user), void* user);
void zvPlatformCloseTextWindow(ZvPlatformTextWindow* window);
// Appends one logical line; the view follows it when the end was in view.
int zvPlatformTextAppend(ZvPlatformTextWindow* window, const char* text);
// Drops the first count logical lines.
int zvPlatformTextDropFirst(ZvPlatformTextWindow* window, int count);
int zvPlatformTextClear(ZvPlatformTextWindow* window);
// Maps the window where it was, at the size it had; withdraws it.
int zvPlatformTextShow(ZvPlatformTextWindow* window);
int zvPlatformTextHide(ZvPlatformTextWindow* window);
// 1 while mapped.
int zvPlatformTextShown(const ZvPlatformTextWindow* window);
// The number of logical lines it holds.
int zvPlatformTextLineCount(const ZvPlatformTextWindow* window);
