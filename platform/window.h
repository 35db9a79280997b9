// window.h — the browser's window and its event loop, over Tcl/Tk 8.6: one
// main window with a view area that shows frames or a line of text, the
// view's keys and pointer handed to the shell's callbacks, a frame timer,
// our own posted messages, the single-instance lock and the service that
// takes documents from later starts. Nothing above this
// layer sees a Tcl, Tk or X11 type.
#pragma once

#include <cstddef>
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
  // A menu item chosen (press 1), or a picture button pressed (1) or let
  // go (0): every command goes through this one entry.
  void (*command)(void* user, int id, int press);
  // The main window's client area changed size: lay out its parts.
  void (*layout)(void* user, int width, int height);
  // Files dropped on the window: count names, each a local path.
  void (*drop)(void* user, int count, const char* const* paths);
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
// Shows the window if it was iconified and puts it above the others (as far
// as the window manager lets it).
int zvPlatformRaiseWindow(ZvPlatformWindow* window);
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

// Places the view (inside its frame) and the location bar in the main
// window's client area. The frame is border pixels wide around the view.
int zvPlatformPlaceView(ZvPlatformWindow* window, int x, int y, int width, int height, int border);
int zvPlatformPlaceLocationBar(ZvPlatformWindow* window, int x, int y, int width, int height);
// The width of the location bar's label and the bar's natural height.
void zvPlatformLocationBarSize(const ZvPlatformWindow* window, int* labelWidth, int* height);
// The client size the window starts at (before the first layout) and the
// largest it may be resized to.
int zvPlatformSetClientSize(ZvPlatformWindow* window, int width, int height);
int zvPlatformSetMaxClientSize(ZvPlatformWindow* window, int width, int height);
void zvPlatformGetClientSize(const ZvPlatformWindow* window, int* width, int* height);
// The colour (0xRRGGBB) of the frame around the view.
int zvPlatformSetViewFrameColor(ZvPlatformWindow* window, uint32_t rgb);
// Whether Shift is held as the pointer last reported it anywhere.
int zvPlatformShiftHeld(const ZvPlatformWindow* window);

// ---------------------------------------------------------------------------
// The menu bar. Labels mark their keyboard letter with "&" ("&File").
// Items are known by their command identifier; choosing one calls the
// command callback with (id, 1).
enum ZvMenuItemKind { ZV_MENU_COMMAND = 0, ZV_MENU_CHECK = 1, ZV_MENU_SEPARATOR = 2 };
// The new menu's index, or -1.
int zvPlatformAddMenu(ZvPlatformWindow* window, const char* label);
int zvPlatformAddMenuItem(ZvPlatformWindow* window, int menu, const char* label, int id, int kind);
// Removes an item by identifier (for lists that are rebuilt).
int zvPlatformRemoveMenuItem(ZvPlatformWindow* window, int id);
int zvPlatformEnableMenuItem(ZvPlatformWindow* window, int id, int enabled);
int zvPlatformCheckMenuItem(ZvPlatformWindow* window, int id, int checked);
// -1 for an unknown item, else 0 or 1.
int zvPlatformMenuItemEnabled(const ZvPlatformWindow* window, int id);
int zvPlatformMenuItemChecked(const ZvPlatformWindow* window, int id);

// ---------------------------------------------------------------------------
// Panels and picture buttons: a panel is a black child area of the main
// window; a picture button is a child of a panel that shows an RGBA
// picture and reports the left button: press, motion while held and
// release, each with whether the pointer is inside it. The button keeps
// the pointer between its press and release.
struct ZvPlatformPanel;
struct ZvPlatformButton;
enum ZvButtonEventKind { ZV_BUTTON_PRESS = 1, ZV_BUTTON_MOTION = 2, ZV_BUTTON_RELEASE = 3 };
typedef void (*ZvButtonProc)(void* user, ZvPlatformButton* button, int kind, int inside);
ZvPlatformPanel* zvPlatformNewPanel(ZvPlatformWindow* window);
void zvPlatformDeletePanel(ZvPlatformPanel* panel);
int zvPlatformPlacePanel(ZvPlatformPanel* panel, int x, int y, int width, int height);
ZvPlatformButton* zvPlatformNewButton(ZvPlatformPanel* panel, int width, int height, ZvButtonProc proc, void* user);
int zvPlatformPlaceButton(ZvPlatformButton* button, int x, int y);
int zvPlatformShowButtonPicture(ZvPlatformButton* button, const uint8_t* rgba, int width, int height, int stride);

// ---------------------------------------------------------------------------
// Modal boxes and dialogs; each runs a nested loop until answered.
enum ZvBoxIcon { ZV_BOX_INFO = 0, ZV_BOX_WARNING = 1, ZV_BOX_ERROR = 2 };
void zvPlatformMessageBox(ZvPlatformWindow* window, const char* title, const char* text, int icon);
// A file to open among "VRML Files (*.wrl)": 1 with its path in out (at
// most size - 1 bytes), 0 when cancelled or too long.
int zvPlatformAskOpenFile(ZvPlatformWindow* window, char* out, int size);
// One line of text under a prompt, preset to initial: 1 on OK with the
// text (cut at size - 1 bytes), 0 when cancelled.
int zvPlatformAskText(ZvPlatformWindow* window, const char* title, const char* prompt, const char* initial,
                      char* out, int size);

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

// Descriptor watches: proc runs from the loop when fd is readable or
// writable (mask of ZV_FD_*), with the conditions that hold. One watch per
// descriptor; watching again replaces it, a mask of 0 ends it.
enum { ZV_FD_READ = 1, ZV_FD_WRITE = 2 };
typedef void (*ZvFdProc)(void* user, int fd, int ready);
void zvPlatformWatchFd(int fd, int mask, ZvFdProc proc, void* user);

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
// Whether the loop has been told to end (the main window went, or quit).
int zvPlatformLoopEnding(void);

// ---------------------------------------------------------------------------
// Single instance: takes the lock file in the runtime directory
// ($XDG_RUNTIME_DIR, else /tmp/quillmoor-$UID/) and holds it until the
// process ends. The descriptor; -1 when another process holds it, -2 when
// the lock file cannot be made at all.
int zvPlatformTakeInstanceLock(void);
// The file the lock is taken on (static).
const char* zvPlatformLockPath(void);

// ---------------------------------------------------------------------------
// The "Quillmoor" service: the browser holding the lock takes documents
// (a URL or an absolute path, one at a time) from later starts over a Unix
// socket beside the lock, from the same user only. The procedure runs from
// the loop, once for each document taken.
enum { ZV_SERVICE_MAX_DOCUMENT = 2048 };
typedef void (*ZvServiceProc)(void* user, const char* document);
// 0 when listening, -1 when the socket cannot be made.
int zvPlatformServeDocuments(ZvServiceProc proc, void* user);
// Stops listening and removes the socket (nothing when not listening).
void zvPlatformStopServing(void);
// Hands a document to the browser that listens: 0 when it took it, -1 when
// none listens, -2 when the document is refused (by us or by it), -3 when
// it was sent whole but no answer came in ten seconds (the browser is busy
// and reads it when it is free).
int zvPlatformSendDocument(const char* document);
// Whether a document may be sent: 1 to ZV_SERVICE_MAX_DOCUMENT bytes and
// no control characters.
int zvPlatformServiceDocumentOk(const char* document, size_t length);
// Where the socket is (static).
const char* zvPlatformServicePath(void);
