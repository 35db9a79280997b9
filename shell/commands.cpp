// commands.cpp — the menu bar, the command column at the right, the
// navigation pad at the bottom, and the one handler every menu item,
// button and script command goes through. What a command may do depends
// on the view state, the history and the world shown; the enabling is
// redone after every change of those.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "nav/nav.h"
#include "platform/window.h"
#include "scene/scene.h"
#include "shell/input.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "ui/toolbar.h"
#include "ui/ui.h"

namespace {

struct Commands {
  ZvPlatformWindow* window;
  ZvToolBar* bar;  // the column at the right
  ZvToolBar* pad;  // the navigation pad
  int menus[7];
  int autoImages;
  int autoSounds;
  std::string lastUrl;
  int chatShown;
  int askedWidth, askedHeight;  // the 4:3 size last asked for, until seen
};

Commands commands;
ZvCommandHooks commandHooks;

enum { kUrlMax = 256, kFrame = 3, kViewLeft = 15, kGap = 6, kBarWidth = 355 };

struct ButtonSpec {
  int id;
  const char* pictures[5];  // normal, pressed per state: (0) 1 2 (3 missing) 4 5
};
// Each row: state 0 normal and pressed, state 1 disabled, state 2 on.
const ButtonSpec kMainButtons[] = {
    {ZV_CMD_BACK, {"BAK1", "BAK2", "BAK3", nullptr, nullptr}},
    {ZV_CMD_FORWARD, {"FWD1", "FWD2", "FWD3", nullptr, nullptr}},
    {ZV_CMD_HOME, {"HOM1", "HOM2", "HOM3", nullptr, nullptr}},
    {ZV_CMD_UNDO, {"UND1", "UND2", "UND3", nullptr, nullptr}},
    {ZV_CMD_ADD_BOOKMARK, {"BMK1", "BMK2", "BMK3", nullptr, nullptr}},
    {ZV_CMD_LABELS, {"SCT1", "SCT2", "SCT3", "SCT4", "SCT5"}},
    {ZV_CMD_JUMPING_EYE, {"JMP1", "JMP2", "JMP3", "JMP4", "JMP5"}},
    {ZV_CMD_STOP, {"STP1", "STP2", "STP3", nullptr, nullptr}},
};
struct PadSpec {
  int id;
  const char* normal;
  const char* pressed;
};
const PadSpec kPadButtons[] = {
    {130, "LT1", "LT3"}, {131, "LW1", "LW3"}, {132, "FW1", "FW3"},
    {133, "BK1", "BK3"}, {134, "RW1", "RW3"}, {135, "RT1", "RT3"},
};

void onBarCommand(void*, int id, int press) { zvMenuExec(id, press); }

ZvToolBar* buildMainBar(ZvPlatformWindow* window) {
  ZvToolBar* bar = zvCreateToolBar(window, onBarCommand, nullptr);
  if (!bar) return nullptr;
  for (const ButtonSpec& b : kMainButtons) {
    zvToolBarAddButton(bar, b.id, 3, 8, 41, 34);
    zvToolBarAddPicture(bar, b.id, b.pictures[0], b.pictures[1]);
    zvToolBarAddPicture(bar, b.id, b.pictures[2], nullptr);
    if (b.pictures[3]) zvToolBarAddPicture(bar, b.id, b.pictures[3], b.pictures[4]);
  }
  zvToolBarSetLayout(bar, 3, 3, 3, 8, 1, ZV_DOCK_RIGHT);
  return bar;
}

ZvToolBar* buildPad(ZvPlatformWindow* window) {
  ZvToolBar* pad = zvCreateToolBar(window, onBarCommand, nullptr);
  if (!pad) return nullptr;
  for (const PadSpec& b : kPadButtons) {
    zvToolBarAddButton(pad, b.id, 3, 3, 20, 15);
    zvToolBarAddPicture(pad, b.id, b.normal, b.pressed);
    zvToolBarSetReportPresses(pad, b.id, 1);
  }
  zvToolBarSetLayout(pad, 76, 3, 3, 6, 1, ZV_DOCK_BOTTOM);
  return pad;
}

void addItem(int menu, const char* label, int id, int kind = ZV_MENU_COMMAND) {
  zvPlatformAddMenuItem(commands.window, commands.menus[menu], label, id, kind);
}

void buildMenus(ZvPlatformWindow* w) {
  const char* titles[] = {"&File", "&Go", "&View", "&Bookmark", "&Avatar", "&Options", "&Help"};
  for (int i = 0; i < 7; ++i) commands.menus[i] = zvPlatformAddMenu(w, titles[i]);
  addItem(0, "&Open File...", ZV_CMD_OPEN_FILE);
  addItem(0, "Open &URL...", ZV_CMD_OPEN_URL);
  addItem(0, "E&xit", ZV_CMD_EXIT);
  addItem(1, "&Stop loading", ZV_CMD_STOP);
  addItem(1, "&Backward", ZV_CMD_BACK);
  addItem(1, "&Forward", ZV_CMD_FORWARD);
  addItem(2, "&Reload", ZV_CMD_RELOAD);
  addItem(2, "&Jumping Eye", ZV_CMD_JUMPING_EYE, ZV_MENU_CHECK);
  addItem(2, "Head &Light", ZV_CMD_HEAD_LIGHT, ZV_MENU_CHECK);
  addItem(2, "&Chat", ZV_CMD_CHAT, ZV_MENU_CHECK);
  addItem(2, nullptr, 0, ZV_MENU_SEPARATOR);
  addItem(2, "&Preferences...", ZV_CMD_PREFERENCES);
  addItem(3, "&Add bookmark", ZV_CMD_ADD_BOOKMARK);
  addItem(3, "&View Bookmark", ZV_CMD_VIEW_BOOKMARK);
  addItem(3, nullptr, 0, ZV_MENU_SEPARATOR);
  addItem(4, "&View Avatar", ZV_CMD_VIEW_AVATAR);
  addItem(5, "&Auto Load Images", ZV_CMD_AUTO_IMAGES, ZV_MENU_CHECK);
  addItem(5, "&Auto Load Sounds", ZV_CMD_AUTO_SOUNDS, ZV_MENU_CHECK);
  addItem(6, "&About...", ZV_CMD_ABOUT);
}

int barWidth(const ZvToolBar* bar) { return bar ? bar->width : 0; }
int barHeight(const ZvToolBar* bar) { return bar ? bar->height : 0; }

int locationHeight() {
  int label = 0, height = 0;
  zvPlatformLocationBarSize(commands.window, &label, &height);
  return height > 0 ? height : 15;
}

// The view's rectangle in a client area of the given size.
void viewRect(int width, int height, int* x, int* y, int* w, int* h) {
  *x = kViewLeft;
  *y = locationHeight() + kGap;
  *w = width - kViewLeft - kGap - barWidth(commands.bar);
  *h = height - *y - kGap - barHeight(commands.pad);
}

void openDialogUrl() {
  char text[kUrlMax + 1];
  // Preset to the last URL asked for, else the world's own.
  ZvWorld* world = zvShellWorld();
  if (commands.lastUrl.empty() && world && world->url) commands.lastUrl = world->url;
  zvShellSetModalBox(1);
  int ok = zvPlatformAskText(commands.window, "Open URL", "URL:", commands.lastUrl.c_str(), text, sizeof text);
  zvShellSetModalBox(0);
  if (!ok) return;
  std::string url = text;
  while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.pop_back();
  size_t start = url.find_first_not_of(" \t");
  if (start == std::string::npos) return;
  commands.lastUrl = url.substr(start);
  zvShellPostOpenUrl(commands.lastUrl.c_str());
}

void openDialogFile() {
  char path[kUrlMax];
  zvShellSetModalBox(1);
  int ok = zvPlatformAskOpenFile(commands.window, path, sizeof path);
  zvShellSetModalBox(0);
  if (ok) zvShellPostOpenUrl(path);
}

void about() {
  char text[512];
  std::snprintf(text, sizeof text,
                "Quillmoor %s\nA browser for VRML 1.0 worlds.\n\n"
                "This software is based in part on the work of the Independent JPEG Group.",
                zvVersion());
  zvShellSetModalBox(1);
  zvPlatformMessageBox(commands.window, "About Quillmoor", text, ZV_BOX_INFO);
  zvShellSetModalBox(0);
}

ZvNavigation* shownNavigation() {
  ZvWorld* world = zvShellWorld();
  return world && zvShellViewState() >= ZV_VIEW_RUNNING ? zvGetNavigation(world) : nullptr;
}

void setButton(int id, int state) {
  if (commands.bar) zvToolBarSetState(commands.bar, id, state);
}

}  // namespace

ZvCommandHooks& zvCommandHooks(void) { return commandHooks; }

int zvAddBookmarkMenuItem(const char* title, int id) {
  if (!commands.window || id < 1 || id >= 100) return -1;
  return zvPlatformAddMenuItem(commands.window, commands.menus[3], title, id, ZV_MENU_COMMAND);
}
int zvAutoLoadImages(void) { return commands.autoImages; }

int zvJumpingEyeOn(void) {
  ZvNavigation* nav = shownNavigation();
  return nav && nav->jumpMode;
}

int zvCreateCommands(ZvPlatformWindow* window) {
  commands = Commands{};
  commands.window = window;
  commands.autoImages = 1;
  buildMenus(window);
  commands.bar = buildMainBar(window);
  commands.pad = buildPad(window);
  zvPlatformCheckMenuItem(window, ZV_CMD_AUTO_IMAGES, 1);
  int maxWidth, maxHeight;
  zvClientSizeForView(1024, 768, &maxWidth, &maxHeight);
  zvPlatformSetMaxClientSize(window, maxWidth, maxHeight);
  zvUpdateCommands();
  return commands.bar && commands.pad ? 0 : -1;
}

void zvDestroyCommands(void) {
  zvDestroyToolBar(commands.bar);
  zvDestroyToolBar(commands.pad);
  commands = Commands{};
}

void zvClientSizeForView(int viewWidth, int viewHeight, int* width, int* height) {
  int barW = commands.bar ? commands.bar->width : 47, padH = commands.pad ? commands.pad->height : 24;
  *width = kViewLeft + viewWidth + kGap + barW;
  *height = locationHeight() + kGap + viewHeight + kGap + padH;
  // The column of buttons must fit beside the view.
  int barH = commands.bar ? commands.bar->height + 2 * commands.bar->top : 0;
  *height = std::max(*height, barH);
}

int zvLayoutMainWindow(int width, int height) {
  if (!commands.window) return 0;
  zvToolBarLayout(commands.bar, width, height);
  zvToolBarLayout(commands.pad, width, height);
  int label = 0, barH = 0;
  zvPlatformLocationBarSize(commands.window, &label, &barH);
  int barW = std::min(int(kBarWidth), width);
  zvPlatformPlaceLocationBar(commands.window, std::max(0, width / 2 - barW / 2), 0, barW, barH > 0 ? barH : 15);
  int x, y, w, h;
  viewRect(width, height, &x, &y, &w, &h);
  w = std::clamp(w, 1, 1024);
  h = std::clamp(h, 1, 768);
  // A size the user gives keeps the view at 4:3, unless Shift is held;
  // the size asked for here is taken as it comes.
  bool asked = width == commands.askedWidth && height == commands.askedHeight;
  commands.askedWidth = commands.askedHeight = 0;
  if (!asked && w > 1 && h > 1 && !zvPlatformShiftHeld(commands.window)) {
    int newWidth = width, newHeight = height;
    if (3 * w <= 4 * h)
      newHeight -= h - 3 * w / 4;
    else
      newWidth -= w - 4 * h / 3;
    if (newWidth != width || newHeight != height) {
      commands.askedWidth = newWidth;
      commands.askedHeight = newHeight;
      zvPlatformSetClientSize(commands.window, newWidth, newHeight);
    }
  }
  zvPlatformPlaceView(commands.window, x, y, w, h, kFrame);
  return commands.askedWidth != 0;
}

void zvShowPadButton(int id, int pressed) {
  if (commands.pad) zvToolBarShowPressed(commands.pad, id, pressed);
}

int zvPadButtonShown(int id) { return commands.pad ? zvToolBarPressed(commands.pad, id) : -1; }

void zvMenuExec(int id, int press) {
  // Only the pad reports letting go; every other command acts once.
  if (id >= ZV_CMD_PAD_FIRST && id <= ZV_CMD_PAD_LAST) {
    zvPadButtonInput(id, press);
    return;
  }
  if (!press && commands.bar && zvToolBarFind(commands.bar, id) == nullptr) return;
  ZvWorld* world = zvShellWorld();
  int state = zvShellViewState();
  switch (id) {
    case ZV_CMD_OPEN_URL:
      if (state == ZV_VIEW_WAITING || state >= ZV_VIEW_RUNNING) openDialogUrl();
      break;
    case ZV_CMD_OPEN_FILE:
      if (state == ZV_VIEW_WAITING || state >= ZV_VIEW_RUNNING) openDialogFile();
      break;
    case ZV_CMD_STOP:
      // A fetch stops; reading a file that is here already is not interrupted.
      if (zvShellFetching()) zvShellStop();
      break;
    case ZV_CMD_EXIT:
      zvShellClose();
      break;
    case ZV_CMD_FORWARD:
      zvShellGoForward();
      break;
    case ZV_CMD_BACK:
      zvShellGoBack();
      break;
    case ZV_CMD_HOME:
      if (world && state >= ZV_VIEW_RUNNING) zvNavGoHome(world);
      break;
    case ZV_CMD_UNDO:
      if (world && commandHooks.undoMove) commandHooks.undoMove();
      break;
    case ZV_CMD_ADD_BOOKMARK:
      if (world && commandHooks.addBookmark) commandHooks.addBookmark();
      break;
    case ZV_CMD_REBUILD_BOOKMARKS:
      if (commandHooks.rebuildBookmarkItems) commandHooks.rebuildBookmarkItems();
      break;
    case ZV_CMD_AUTO_IMAGES:
      commands.autoImages = !commands.autoImages;
      break;
    case ZV_CMD_AUTO_SOUNDS:
      break;  // greyed: there is no sound to load yet
    case ZV_CMD_VIEW_AVATAR:
      if (commandHooks.viewAvatar) commandHooks.viewAvatar();
      break;
    case ZV_CMD_RELOAD:
      zvShellReload();
      break;
    case ZV_CMD_JUMPING_EYE:
      if (ZvNavigation* nav = shownNavigation()) nav->jumpMode = !nav->jumpMode;
      break;
    case ZV_CMD_LABELS:
      if (world) zvSetHoverLabels(!zvHoverLabelsOn());
      break;
    case ZV_CMD_HEAD_LIGHT:
      if (world && zvNavHeadLight(world) >= 0) zvNavSetHeadLight(world, !zvNavHeadLight(world));
      break;
    case ZV_CMD_CHAT:
      if (commandHooks.toggleChat) commands.chatShown = commandHooks.toggleChat() != 0;
      break;
    case ZV_CMD_VIEW_BOOKMARK:
      if (commandHooks.viewBookmarks) commandHooks.viewBookmarks();
      break;
    case ZV_CMD_PREFERENCES:
      if (commandHooks.preferences) commandHooks.preferences();
      break;
    case ZV_CMD_ABOUT:
      about();
      break;
    default:
      if (id >= 1 && id < 100 && commandHooks.jumpToBookmark) commandHooks.jumpToBookmark(id - 1);
      break;
  }
  zvUpdateCommands();
}

void zvUpdateCommands(void) {
  ZvPlatformWindow* w = commands.window;
  if (!w) return;
  int state = zvShellViewState();
  ZvWorld* world = zvShellWorld();
  bool running = state == ZV_VIEW_RUNNING || state == ZV_VIEW_TICKING;
  ZvHistoryEntry* entry = zvGetCurrentHistoryEntry();
  bool back = zvPrevHistoryEntry(entry) != nullptr, forward = zvNextHistoryEntry(entry) != nullptr;
  zvPlatformEnableMenuItem(w, ZV_CMD_BACK, back);
  zvPlatformEnableMenuItem(w, ZV_CMD_FORWARD, forward);
  setButton(ZV_CMD_BACK, back ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  setButton(ZV_CMD_FORWARD, forward ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  bool opens = state == ZV_VIEW_WAITING || running;
  zvPlatformEnableMenuItem(w, ZV_CMD_OPEN_URL, opens);
  zvPlatformEnableMenuItem(w, ZV_CMD_OPEN_FILE, opens);
  setButton(ZV_CMD_HOME, world ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  setButton(ZV_CMD_UNDO, world && commandHooks.undoMove ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  bool marks = world && commandHooks.addBookmark;
  setButton(ZV_CMD_ADD_BOOKMARK, marks ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  zvPlatformEnableMenuItem(w, ZV_CMD_ADD_BOOKMARK, marks);
  zvPlatformEnableMenuItem(w, ZV_CMD_VIEW_BOOKMARK, commandHooks.viewBookmarks != nullptr);
  zvPlatformEnableMenuItem(w, ZV_CMD_RELOAD, running);
  bool stops = state == ZV_VIEW_PARSING || zvShellFetching();
  setButton(ZV_CMD_STOP, stops ? ZV_BUTTON_NORMAL : ZV_BUTTON_DISABLED);
  zvPlatformEnableMenuItem(w, ZV_CMD_STOP, stops);
  setButton(ZV_CMD_LABELS, !world ? ZV_BUTTON_DISABLED : zvHoverLabelsOn() ? ZV_BUTTON_ON : ZV_BUTTON_NORMAL);
  int jump = zvJumpingEyeOn();
  setButton(ZV_CMD_JUMPING_EYE, !world ? ZV_BUTTON_DISABLED : jump ? ZV_BUTTON_ON : ZV_BUTTON_NORMAL);
  zvPlatformEnableMenuItem(w, ZV_CMD_JUMPING_EYE, world != nullptr);
  zvPlatformCheckMenuItem(w, ZV_CMD_JUMPING_EYE, jump);
  int light = world ? zvNavHeadLight(world) : -1;
  zvPlatformEnableMenuItem(w, ZV_CMD_HEAD_LIGHT, light >= 0);
  zvPlatformCheckMenuItem(w, ZV_CMD_HEAD_LIGHT, light == 1);
  zvPlatformEnableMenuItem(w, ZV_CMD_CHAT, commandHooks.toggleChat != nullptr);
  zvPlatformCheckMenuItem(w, ZV_CMD_CHAT, commands.chatShown);
  zvPlatformEnableMenuItem(w, ZV_CMD_VIEW_AVATAR, commandHooks.viewAvatar != nullptr);
  zvPlatformEnableMenuItem(w, ZV_CMD_PREFERENCES, commandHooks.preferences != nullptr);
  zvPlatformCheckMenuItem(w, ZV_CMD_AUTO_IMAGES, commands.autoImages);
  zvPlatformEnableMenuItem(w, ZV_CMD_AUTO_SOUNDS, 0);
}
