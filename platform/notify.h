// notify.h — windows beside the main one, in its interpreter: pop-ups (a
// top-level window with one button, for the messages window) and log views
// (a child that shows a picture the caller paints, with a vertical scroll
// bar). The caller lays the children out and paints them; this layer only
// reports what the user did. Like window.h, nothing Tcl or Tk shows here.
#pragma once

#include <cstdint>

struct ZvPlatformWindow;
struct ZvPlatformPopup;
struct ZvPlatformLogView;

// ---------------------------------------------------------------------------
// Pop-ups
struct ZvPopupCallbacks {
  // The button was pressed or the window manager closed the window; the
  // window itself stays until zvPlatformClosePopup.
  void (*close)(void* user);
  void (*resize)(void* user, int width, int height);  // client size
  void* user;
  // One of the buttons added with zvPlatformAddPopupCommand was pressed.
  void (*command)(void* user, int id);
};

// Created withdrawn, with its own window class (so that it is never taken
// for the main window), a caption and a sizing frame, and a button showing
// buttonText placed by zvPlatformPlacePopupButton. Null when it cannot be
// built.
ZvPlatformPopup* zvPlatformOpenPopup(ZvPlatformWindow* main, const char* className, const char* title, int width,
                                     int height, const char* buttonText, const ZvPopupCallbacks* callbacks);
void zvPlatformClosePopup(ZvPlatformPopup* popup);
// Maps the window where it was, at the size it had; withdraws it.
int zvPlatformShowPopup(ZvPlatformPopup* popup);
int zvPlatformHidePopup(ZvPlatformPopup* popup);
int zvPlatformPopupShown(const ZvPlatformPopup* popup);  // 1 while mapped
// The client size last set or reported.
void zvPlatformGetPopupSize(const ZvPlatformPopup* popup, int* width, int* height);
int zvPlatformPlacePopupButton(ZvPlatformPopup* popup, int x, int y, int width, int height);
// Presses the button as a click would (for tests and the keyboard).
int zvPlatformPressPopupButton(ZvPlatformPopup* popup);
// Further buttons, known by an identifier of the caller's (0 to 9999).
int zvPlatformAddPopupCommand(ZvPlatformPopup* popup, int id, const char* text);
int zvPlatformPlacePopupCommand(ZvPlatformPopup* popup, int id, int x, int y, int width, int height);
int zvPlatformEnablePopupCommand(ZvPlatformPopup* popup, int id, int enabled);
int zvPlatformPressPopupCommand(ZvPlatformPopup* popup, int id);
// Other controls, known by identifiers from the same range as the buttons
// and placed, enabled and pressed with the same calls: a text, a check box
// and a one-line entry. Return in an entry (or pressing it) reports its
// identifier to the command callback, as a button would.
int zvPlatformAddPopupLabel(ZvPlatformPopup* popup, int id, const char* text);
int zvPlatformAddPopupCheck(ZvPlatformPopup* popup, int id, const char* text);
int zvPlatformSetPopupCheck(ZvPlatformPopup* popup, int id, int on);
int zvPlatformPopupCheck(const ZvPlatformPopup* popup, int id);  // 1, 0, or -1
// An entry that takes at most maxCharacters characters (typed or pasted),
// drawn in the colours given (0xRRGGBB) with a frame of the text's colour.
int zvPlatformAddPopupEntry(ZvPlatformPopup* popup, int id, int maxCharacters, uint32_t text, uint32_t background);
int zvPlatformSetPopupEntryLimit(ZvPlatformPopup* popup, int id, int maxCharacters);
// Sets the entry's text (cut to its limit) or copies it out (at most size
// - 1 bytes, cut at a character boundary); the length copied, or -1.
int zvPlatformSetPopupEntry(ZvPlatformPopup* popup, int id, const char* text);
int zvPlatformGetPopupEntry(const ZvPlatformPopup* popup, int id, char* out, int size);
// Gives the keyboard to the control.
int zvPlatformFocusPopupControl(ZvPlatformPopup* popup, int id);
// A dialog: the main window takes no input while the pop-up is up.
int zvPlatformSetPopupModal(ZvPlatformPopup* popup, int on);
// Moves the pop-up just above the main window, kept inside the screen.
int zvPlatformPlacePopupAbove(ZvPlatformPopup* popup);

// ---------------------------------------------------------------------------
// Log views: a sunken border around a drawing area and a scroll bar.
enum ZvScrollKind {
  ZV_SCROLL_UNITS = 1,   // amount: lines, negative up
  ZV_SCROLL_PAGES = 2,   // amount: pages, negative up
  ZV_SCROLL_MOVETO = 3,  // amount: the thumb's top as a fraction of the range
  ZV_SCROLL_TOP = 4,
  ZV_SCROLL_BOTTOM = 5,
};
struct ZvLogViewCallbacks {
  void (*scroll)(void* user, int kind, double amount);
  void (*resize)(void* user, int width, int height);  // the drawing area
  // Asked for by zvPlatformRequestLogPaint, once the loop is idle.
  void (*paint)(void* user);
  void* user;
  // The left button pressed in the drawing area, at (x, y) of it.
  void (*click)(void* user, int x, int y);
};

// A child of the pop-up (null: of the main window), placed at (x, y) with
// its border at width x height.
ZvPlatformLogView* zvPlatformOpenLogView(ZvPlatformWindow* main, ZvPlatformPopup* parent, int x, int y, int width,
                                         int height, const ZvLogViewCallbacks* callbacks);
void zvPlatformCloseLogView(ZvPlatformLogView* view);
int zvPlatformPlaceLogView(ZvPlatformLogView* view, int x, int y, int width, int height);
// The drawing area that an outer size leaves inside the border and beside
// the scroll bar.
void zvPlatformLogViewArea(const ZvPlatformLogView* view, int width, int height, int* areaWidth, int* areaHeight);
// Paints come together: many requests before the loop is idle make one.
void zvPlatformRequestLogPaint(ZvPlatformLogView* view);
// Shows an RGBA picture (top row first) at the drawing area's top left.
int zvPlatformShowLogImage(ZvPlatformLogView* view, const uint8_t* rgba, int width, int height, int stride);
// The scroll bar over a range 0..maximum with the page's top at position.
int zvPlatformSetLogScroll(ZvPlatformLogView* view, int maximum, int position, int page);
// Runs a scroll command as the scroll bar would send it ("scroll -1 units",
// "moveto 0.5", "top", "bottom"), or a click as the area sends it
// ("click X Y"); -1 when it means nothing.
int zvPlatformLogViewCommand(ZvPlatformLogView* view, const char* command);
