// toolbar.h — the browser's picture-button bars: the column of command
// buttons docked at the right of the main window and the small navigation
// pad docked at the bottom. A button reports to one command entry, the
// same one menu items use, with its identifier and whether it was pressed
// (1) or let go (0). The layout and the press behaviour are plain code;
// the windows are the platform's panels and picture buttons, and a bar
// made without a window (tests) keeps its arithmetic and its reports.
#pragma once

#include <cstdint>
#include <vector>

struct ZvPlatformWindow;
struct ZvPlatformPanel;
struct ZvPlatformButton;

enum ZvDock { ZV_DOCK_TOP = 0, ZV_DOCK_BOTTOM = 1, ZV_DOCK_LEFT = 2, ZV_DOCK_RIGHT = 3 };
enum ZvButtonState { ZV_BUTTON_NORMAL = 0, ZV_BUTTON_DISABLED = 1, ZV_BUTTON_ON = 2 };

struct ZvToolPicture {
  std::vector<uint8_t> normal;   // RGBA at the button's size
  std::vector<uint8_t> pressed;  // empty: the normal one serves
};

struct ZvToolBarButton {
  int32_t id;
  int32_t x, y;  // offset from the end of the previous button
  int32_t width, height;
  ZvPlatformButton* window;
  int32_t reportPresses;
  int32_t mouseHeld;
  int32_t pressed;
  int32_t state;  // index into pictures
  std::vector<ZvToolPicture> pictures;
  int32_t placedX, placedY;  // inside the bar, after layout
};

typedef void (*ZvToolBarCommand)(void* user, int id, int press);

struct ZvToolBar {
  int32_t left, top;  // margins
  int32_t column;     // 1: buttons one under another
  int32_t width, height;
  int32_t innerX, innerY;
  ZvPlatformPanel* window;
  int32_t centred;
  int32_t dock;
  std::vector<ZvToolBarButton> buttons;
  ZvToolBarCommand command;
  void* user;
  int32_t placedX, placedY;  // in the parent's client area
};

// A bar in the main window (null window: no windows, arithmetic only).
ZvToolBar* zvCreateToolBar(ZvPlatformWindow* parent, ZvToolBarCommand command, void* user);
void zvDestroyToolBar(ZvToolBar* bar);
int zvToolBarAddButton(ZvToolBar* bar, int id, int x, int y, int width, int height);
// Appends a picture pair drawn from the named pictures; pressed may be null.
int zvToolBarAddPicture(ZvToolBar* bar, int id, const char* normal, const char* pressed);
int zvToolBarSetReportPresses(ZvToolBar* bar, int id, int flag);
int zvToolBarSetLayout(ZvToolBar* bar, int left, int top, int innerX, int innerY, int centred, int dock);
// Selects the state's pictures and repaints; -1 for an unknown button or a
// state without pictures.
int zvToolBarSetState(ZvToolBar* bar, int id, int state);
int zvToolBarState(const ZvToolBar* bar, int id);  // -1 unknown
// Draws a button pressed or not without any command (input shows the
// drag direction and the arrow keys this way).
int zvToolBarShowPressed(ZvToolBar* bar, int id, int pressed);
int zvToolBarPressed(const ZvToolBar* bar, int id);
// Places the buttons in the bar and the bar in a client area of the given
// size; called on every resize of the main window.
void zvToolBarLayout(ZvToolBar* bar, int clientWidth, int clientHeight);
// The left button on a button: kind as ZV_BUTTON_PRESS / MOTION / RELEASE
// of platform/window.h, inside whether the pointer is over the button.
void zvToolBarButtonEvent(ZvToolBar* bar, int id, int kind, int inside);
ZvToolBarButton* zvToolBarFind(ZvToolBar* bar, int id);
