// bookmarks.cpp — the bookmarks in the main window: the Bookmark menu lists
// them (commands 1 to 99 jump), Add bookmark takes one with a snapshot of
// the view, View Bookmark opens the dialog, and the list is saved after
// every change as well as at exit, so that the file and the snapshots'
// numbers never part ways, whatever ends the program.
#include <algorithm>
#include <string>

#include "bookmark/bookmark.h"
#include "platform/window.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"

namespace {

int menuItems;  // bookmark items in the menu now (commands 1 .. menuItems)
int adding;

int rebuildMenu() {
  ZvPlatformWindow* window = zvShellWindow();
  if (!window) return -1;
  for (int id = 1; id <= menuItems; ++id) zvPlatformRemoveMenuItem(window, id);
  menuItems = 0;
  int count = std::min(zvGetBookmarkNum() + 1, int(ZV_BOOKMARK_MENU_MAX));
  for (int i = 0; i < count; ++i) {
    ZvBookmark* b = zvGetBookmarkByIndex(i, nullptr);
    if (!b) break;
    // The title's first character is the item's letter: an "&" of the
    // title's own then stays as it is.
    std::string label = std::string("&") + (b->title ? b->title : "");
    if (zvAddBookmarkMenuItem(label.c_str(), i + 1) != 0) break;
    menuItems = i + 1;
  }
  return 0;
}

int addBookmark() {
  // Taking one is not re-entered, whatever a nested loop would allow.
  if (adding) return -1;
  ZvWorld* world = zvShellWorld();
  if (!world || zvShellViewState() < ZV_VIEW_RUNNING) return -1;
  adding = 1;
  int result = -1;
  if (const char* title = zvAddBookmark(world)) {
    int index = zvGetBookmarkNum();
    std::string label = std::string("&") + title;
    if (index == menuItems && index < ZV_BOOKMARK_MENU_MAX && zvAddBookmarkMenuItem(label.c_str(), index + 1) == 0)
      menuItems = index + 1;
    zvSaveBookmarkSnapshot(world, index);
    zvSaveBookmark();
    result = 0;
  }
  adding = 0;
  return result;
}

int viewBookmarks() {
  zvShellSetModalBox(1);
  int changed = zvViewBookmarkDialog(zvShellWindow());
  zvShellSetModalBox(0);
  if (changed == 1) {
    zvSaveBookmark();
    zvMenuExec(ZV_CMD_REBUILD_BOOKMARKS, 1);
  }
  return changed;
}

int jumpToBookmark(int index) {
  int state = zvShellViewState();
  if (state != ZV_VIEW_WAITING && state < ZV_VIEW_RUNNING) return -1;
  return zvJumpToBookmark(index);
}

void saveAtExit() {
  // Nothing changed since the last save unless a list was read and never
  // written; either way the file ends up as the list.
  zvSaveBookmark();
  zvDeleteAllBookmarks();
}

}  // namespace

void zvConnectBookmarks(void) {
  zvDeleteAllBookmarks();
  menuItems = 0;
  adding = 0;
  zvReadBookmark();
  zvBookmarkHooks().openUrlAt = zvShellPostOpenUrlAt;
  ZvCommandHooks& hooks = zvCommandHooks();
  hooks.addBookmark = addBookmark;
  hooks.rebuildBookmarkItems = rebuildMenu;
  hooks.viewBookmarks = viewBookmarks;
  hooks.jumpToBookmark = jumpToBookmark;
  zvAddExitHandler(saveAtExit);
  rebuildMenu();
  zvUpdateCommands();
}
