// windowpriv.h — what the main window's parts share inside the shell: the
// window itself, its view state and the moves between worlds, which the
// command handler and the input layer call.
#pragma once

#include <cstdint>

struct ZvPlatformWindow;
struct ZvWorld;
struct ZvTransform;

enum ZvViewState {
  ZV_VIEW_WAITING = 1,
  ZV_VIEW_FETCHING = 2,
  ZV_VIEW_PARSING = 3,
  ZV_VIEW_CREATED = 4,
  ZV_VIEW_RUNNING = 10,
  ZV_VIEW_TICKING = 11,
};

ZvPlatformWindow* zvShellWindow(void);
int zvShellViewState(void);
ZvWorld* zvShellWorld(void);  // the world shown, or null
// Posts the open of a URL or path, as the location bar does.
void zvShellPostOpenUrl(const char* url);
// Whether a document is being fetched (a world on its way, or a fetch the
// reader waits for); Stop cancels it.
int zvShellFetching(void);
void zvShellStop(void);
// The same, and once that world is shown the person stands at viewpoint
// (a bookmark's jump into another world).
void zvShellPostOpenUrlAt(const char* url, const ZvTransform* viewpoint);
void zvShellGoBack(void);
void zvShellGoForward(void);
void zvShellReload(void);
void zvShellClose(void);
// Frames the view in colour (0xRRGGBB) and back three times a second.
void zvShellFlashFrame(uint32_t rgb);
// Sets the modal-box flag for the time a box is up.
void zvShellSetModalBox(int on);
// The script commands the shell provides: fetching always, and with the
// window the history, menu and opening commands.
void zvProvideShellScriptCommands(int window);
// A later start's document for the window already open (handover.cpp): 0
// when the window took it. A plain path is made absolute here first.
int zvHandOverDocument(const char* word);
// The window takes (on) or stops taking documents from later starts.
int zvServeHandOvers(int on);

// ---------------------------------------------------------------------------
// Menus, both bars and the command handler (commands.cpp)
enum ZvCommandId {
  ZV_CMD_OPEN_URL = 101,
  ZV_CMD_OPEN_FILE = 102,
  ZV_CMD_STOP = 103,
  ZV_CMD_EXIT = 109,
  ZV_CMD_FORWARD = 110,
  ZV_CMD_BACK = 111,
  ZV_CMD_HOME = 112,
  ZV_CMD_UNDO = 113,
  ZV_CMD_ADD_BOOKMARK = 114,
  ZV_CMD_REBUILD_BOOKMARKS = 115,
  ZV_CMD_AUTO_IMAGES = 116,
  ZV_CMD_AUTO_SOUNDS = 117,
  ZV_CMD_VIEW_AVATAR = 118,
  ZV_CMD_RELOAD = 120,
  ZV_CMD_JUMPING_EYE = 121,
  ZV_CMD_LABELS = 122,
  ZV_CMD_HEAD_LIGHT = 123,
  ZV_CMD_CHAT = 124,
  ZV_CMD_VIEW_BOOKMARK = 125,
  ZV_CMD_PREFERENCES = 129,
  ZV_CMD_PAD_FIRST = 130,
  ZV_CMD_PAD_LAST = 135,
  ZV_CMD_ABOUT = 199,
};

// Builds the menu bar and both bars in the main window.
int zvCreateCommands(ZvPlatformWindow* window);
void zvDestroyCommands(void);
// Lays out the main window's client area: both bars, the location bar and
// the view. 1 when the view is kept at 4:3 by asking for another size.
int zvLayoutMainWindow(int width, int height);
// The client size that gives a view of the given size.
void zvClientSizeForView(int viewWidth, int viewHeight, int* width, int* height);
// The command entry of menus, buttons and scripts: press 1 for a chosen
// item or a pressed button, 0 for a button let go.
void zvMenuExec(int id, int press);
// Brings enabling, check marks and button states up to date.
void zvUpdateCommands(void);
// Draws a pad button pressed or not (the input layer's display).
void zvShowPadButton(int id, int pressed);
int zvPadButtonShown(int id);  // 1 pressed, 0 not, -1 unknown
// Options the commands switch.
int zvAutoLoadImages(void);
// Whether "Jumping Eye" is on for the world shown.
int zvJumpingEyeOn(void);
// Hooks for commands whose subsystems come later (bookmarks, chat, the
// avatar and preferences dialogs, undoing an object move); each may stay
// null, and the command is then greyed or does nothing.
struct ZvCommandHooks {
  int (*addBookmark)(void);
  int (*rebuildBookmarkItems)(void);  // the bookmark menu's items, anew
  int (*viewBookmarks)(void);
  int (*jumpToBookmark)(int index);
  int (*toggleChat)(void);  // answers whether the chat window is now shown
  int (*viewAvatar)(void);
  int (*preferences)(void);
  int (*undoMove)(void);  // 0 when an object was put back
};
ZvCommandHooks& zvCommandHooks(void);
// An item of the Bookmark menu, after the ones there (commands 1 to 99).
int zvAddBookmarkMenuItem(const char* title, int id);

// Bookmarks (bookmarks.cpp): reads the list, fills the bookmark hooks and
// the menu, and saves the list at exit.
void zvConnectBookmarks(void);
// Shared worlds (sharedui.cpp): the chat window, the avatar and preferences
// dialogs behind their commands, and the user name on the first start.
void zvConnectSharedWindows(void);
void zvDisconnectSharedWindows(void);
// A world shown joins the server it names; leaving it leaves the server.
void zvSharedWorldShown(ZvWorld* world);
void zvSharedWorldLeft(void);
