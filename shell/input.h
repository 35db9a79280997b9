// input.h — the view's left button, pointer motion and keys turned into the
// world's interaction events (pick, grab, drag, release, key down and up,
// and the left button's own down and up),
// into the held-key table the navigation reads, and into the drawn state of
// the on-screen navigation buttons. Everything outside goes through the
// hooks, so the logic runs without a window and can be driven by tests.
#pragma once

#include <cstdint>

#include "scene/scene.h"

// The six navigation pad buttons and the held-key slots they stand for.
enum {
  ZV_PAD_TURN_LEFT = 130,
  ZV_PAD_SLIDE_LEFT = 131,
  ZV_PAD_FORWARD = 132,
  ZV_PAD_BACKWARD = 133,
  ZV_PAD_SLIDE_RIGHT = 134,
  ZV_PAD_TURN_RIGHT = 135,
};

// Virtual keys of the key-state table (256 entries; bit 7 down, bit 0
// toggled by every press).
enum {
  ZV_VK_SHIFT = 0x10,
  ZV_VK_CONTROL = 0x11,
  ZV_VK_ALT = 0x12,
  ZV_VK_ESCAPE = 0x1B,
  ZV_VK_LEFT = 0x25,
  ZV_VK_UP = 0x26,
  ZV_VK_RIGHT = 0x27,
  ZV_VK_DOWN = 0x28,
};

// What the input layer reaches outside itself; each may stay null.
struct ZvInputHooks {
  // The object under a view point in the current world: 0 and the object,
  // the world point and the leaf hit; nonzero for nothing.
  int (*pick)(int x, int y, ZvObj** object, float point[3], ZvLeaf** part);
  // The pointer's shape (ZV_CURSOR_* of platform/window.h: 0 arrow, 1 URL,
  // 2 pick, 3 grab, 4 drag).
  void (*setCursor)(int kind);
  // A pad button drawn pressed (1) or not (0).
  void (*showPadButton)(int id, int pressed);
  // Runs the object's handlers for the event (the behaviour layer); until
  // that exists the shell records the calls.
  void (*deliver)(ZvObj* target, ZvEvent* event);
  // Opens a URL as the location bar would, with no viewpoint.
  void (*openUrl)(const char* url);
  // The anchor's URL of an anchor object, resolved, or null when it has
  // none (or an empty one).
  const char* (*anchorUrl)(ZvObj* anchor);
  // Switches the navigation's own drag handling off (0) or on (1).
  void (*navPointer)(int on);
  // The person hops (Escape).
  void (*hop)(void);
};
ZvInputHooks& zvInputHooks(void);

// Pointer in the view, only while a world runs. kind: ZV_POINTER_PRESS,
// ZV_POINTER_RELEASE (left button only) or ZV_POINTER_MOTION; state:
// ZV_MOD_* bits; time in milliseconds of the program's clock.
void zvMouseInput(int kind, int x, int y, uint32_t state, uint32_t time);
// A key went down or up: keysym as the view reports it (ZV_KEY_*),
// state the modifier bits.
void zvKeyInput(int down, uint32_t keysym, uint32_t state, uint32_t time);
// A pad button pressed or let go with the mouse: holds or releases its
// keys in the table.
void zvPadButtonInput(int id, int pressed);

// The key-state table.
void zvClearKeyStates(void);
uint8_t zvKeyState(int virtualKey);
// Whether a virtual key is held (bit 7).
int zvKeyDown(int virtualKey);

// The pointer state, for tests and for the shell's cursor.
struct ZvPointerState {
  int x, y;            // current point
  int pressX, pressY;  // last left press
  int buttonDown;
  uint32_t pressTime;
  ZvObj* picked;  // at the last pick, or null
  float point[3];
  ZvLeaf* part;
  ZvObj* target;       // the picked object at the press
  ZvObj* pickObject;   // nearest ancestor-or-self with a PICK handler
  ZvObj* anchorObject; // nearest ancestor-or-self that is an anchor
  ZvObj* grabObject;   // nearest with GRAB, DRAG or RELEASE handlers
  int steerX, steerY;  // drag direction shown on the pad, -1 0 +1
  int cursor;
  ZvEvent event;  // the one being built
};
const ZvPointerState* zvPointerState(void);
void zvResetPointerState(void);
// An object is being deleted (a script may delete what the pointer holds):
// the pointer lets go of it and of its leaves.
void zvInputForgetObject(ZvObj* object);
