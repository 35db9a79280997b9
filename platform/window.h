// window.h — the browser's window and its event loop, over Tcl/Tk 8.6: one
// main window with a view area that shows frames or a line of text, the
// view's keys and pointer handed to the shell's callbacks, a frame timer,
// our own posted messages, and the single-instance lock. Nothing above this
// layer sees a Tcl, Tk or X11 type.
#pragma once

#include <cstdint>

// Key symbols as the view reports them (X keysym values).
enum {
  ZV_KEY_ESCAPE = 0xff1b,
  ZV_KEY_LEFT = 0xff51,
  ZV_KEY_UP = 0xff52,
  ZV_KEY_RIGHT = 0xff53,
  ZV_KEY_DOWN = 0xff54,
  ZV_KEY_KP_LEFT = 0xff96,
  ZV_KEY_KP_UP = 0xff97,
  ZV_KEY_KP_RIGHT = 0xff98,
  ZV_KEY_KP_DOWN = 0xff99,
  ZV_KEY_SHIFT_L = 0xffe1,
  ZV_KEY_SHIFT_R = 0xffe2,
  ZV_KEY_CONTROL_L = 0xffe3,
  ZV_KEY_CONTROL_R = 0xffe4,
  ZV_KEY_F5 = 0xffc2,
  ZV_KEY_BROWSER_BACK = 0x1008ff26,
  ZV_KEY_BROWSER_FORWARD = 0x1008ff27,
  ZV_KEY_BROWSER_RELOAD = 0x1008ff73,
};
// Modifier and button state bits that come with every key and pointer event.
enum {
  ZV_MOD_SHIFT = 0x1,
  ZV_MOD_CONTROL = 0x4,
  ZV_MOD_ALT = 0x8,
  ZV_MOD_BUTTON1 = 0x100,
  ZV_MOD_BUTTON2 = 0x200,
  ZV_MOD_BUTTON3 = 0x400,
};
enum ZvPointerKind { ZV_POINTER_PRESS = 1, ZV_POINTER_RELEASE = 2, ZV_POINTER_MOTION = 3 };

// What the view reports, each callback optional. Coordinates are view
// pixels from the top left; button is 1..5, 0 for motion.
struct ZvWindowCallbacks {
  void (*key)(void* user, int down, uint32_t keysym, uint32_t state);
  void (*pointer)(void* user, int kind, int x, int y, int button, uint32_t state);
  void (*resize)(void* user, int width, int height);  // the view's client size
  void* user;
  // Return in the location bar: what was typed, at most 256 characters.
  void (*location)(void* user, const char* text);
};

struct ZvPlatformWindow;

// True when DISPLAY is set and an X server answers on it.
int zvPlatformHasDisplay(void);
// Creates the interpreter, Tk and the main window with a view of the given
// size, black, showing no text yet. Null (see zvPlatformWindowError) when
// Tk cannot start. One window per process.
ZvPlatformWindow* zvPlatformOpenWindow(const char* title, int width, int height, const ZvWindowCallbacks* callbacks);
// Why the last open failed ("" when it did not).
const char* zvPlatformWindowError(void);
// Destroys the window if it still stands and deletes the interpreter.
void zvPlatformCloseWindow(ZvPlatformWindow* window);
// Destroys the main window; the loop then ends.
void zvPlatformDestroyWindow(ZvPlatformWindow* window);
int zvPlatformWindowExists(const ZvPlatformWindow* window);
int zvPlatformSetWindowTitle(ZvPlatformWindow* window, const char* title);
void zvPlatformGetViewSize(const ZvPlatformWindow* window, int* width, int* height);
// Shows text centred in white on black in place of any frame.
int zvPlatformShowViewText(ZvPlatformWindow* window, const char* text);
// Shows an RGBA frame (top row first; stride in bytes) at (x, y) of the
// view, hiding the text. 1 when shown.
int zvPlatformShowFrame(ZvPlatformWindow* window, const uint8_t* rgba, int width, int height, int stride, int x,
                        int y);
// The location bar above the view: the text it shows (cut at 256
// characters).
int zvPlatformSetLocation(ZvPlatformWindow* window, const char* text);
// The pointer's shape over the view: what a click there would do.
enum ZvCursorKind { ZV_CURSOR_ARROW = 0, ZV_CURSOR_URL, ZV_CURSOR_PICK, ZV_CURSOR_GRAB, ZV_CURSOR_DRAG };
void zvPlatformSetViewCursor(ZvPlatformWindow* window, int kind);
// Brings the screen up to date now, for a view text that must be seen
// before a long piece of work.
void zvPlatformFlushWindow(ZvPlatformWindow* window);

// ---------------------------------------------------------------------------
// Timers: one shot each; arming an armed timer moves it. The record is the
// caller's and must outlive its arming.
typedef void (*ZvTimerProc)(void* user);
struct ZvPlatformTimer {
  ZvTimerProc proc;
  void* user;
  void* token;  // null while not armed
};
void zvPlatformArmTimer(ZvPlatformTimer* timer, int milliseconds);
void zvPlatformDisarmTimer(ZvPlatformTimer* timer);

// Posted messages: served by the loop after the events already waiting, in
// the order posted, by the one handler set here (none: dropped).
typedef void (*ZvMessageProc)(void* user, int code, intptr_t a, intptr_t b);
void zvPlatformSetMessageHandler(ZvMessageProc proc, void* user);
void zvPlatformPostMessage(int code, intptr_t a, intptr_t b);

// The loop. Prepares Tcl's event machinery (done by opening a window too).
void zvPlatformInitEvents(void);
// Serves one event, waiting for one when wait is set; 1 when one was served.
int zvPlatformDoOneEvent(int wait);
// Serves events until the main window is destroyed or zvPlatformQuitLoop.
void zvPlatformRunLoop(void);
void zvPlatformQuitLoop(void);

// ---------------------------------------------------------------------------
// Single instance: takes the lock file in the runtime directory
// ($XDG_RUNTIME_DIR, else /tmp/quillmoor-$UID/) and holds it until the
// process ends. The descriptor; -1 when another process holds it, -2 when
// the lock file cannot be made at all.
int zvPlatformTakeInstanceLock(void);
// The file the lock is taken on (static).
const char* zvPlatformLockPath(void);
