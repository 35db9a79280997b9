// bookmark.h — personal bookmarks: one list of places inside worlds (a
// world's URL, a title and the camera's world transform when it was taken),
// kept in "landmark.htm" with a snapshot "markNN.bmp" of the view beside
// it, both in $XDG_DATA_HOME/quillmoor/. The file is an HTML definition
// list, so a web browser shows it as a page of links; it is read at
// start-up as hostile input and written through a temporary file.
//
// Depends on the scene model (records, allocator, reports), the navigation
// (placing the person), the renderer (the view's last frame), image/ (BMP
// files), ui/ (fonts) and platform/ (the dialog's window). The shell fills
// the hooks: opening another world is its business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "rwlib/rwlib.h"
#include "scene/scene.h"

enum {
  ZV_BOOKMARK_LINE_MAX = 511,  // characters of one line of the file, newline included
  ZV_BOOKMARK_MAX = 999,       // bookmarks kept; the file's further lines are ignored
  ZV_BOOKMARK_MENU_MAX = 99,   // the menu lists the first ones (commands 1 to 99)
  ZV_BOOKMARK_THUMB_WIDTH = 80,
  ZV_BOOKMARK_THUMB_HEIGHT = 60,
};

struct ZvBookmark {
  ZvBookmark* next;  // null at the tail
  char* title;       // owned
  char* url;         // owned
  // The camera's world transform: rotation row by row, then translation
  // (a ZvTransform laid flat).
  float location[12];
};

// ---------------------------------------------------------------------------
// The list
ZvBookmark* zvReadBookmark(void);  // from the bookmark file; the head, or null
// Reads lines from an open file into the list (what zvReadBookmark does
// once the file is open); the head.
ZvBookmark* zvReadBookmarkFrom(FILE* in);
int zvSaveBookmark(void);             // the whole list; 0, or -1 with the old file kept
const char* zvAddBookmark(ZvWorld* world);  // the new bookmark's title, or null
int zvSetBookmark(ZvBookmark* record, ZvWorld* world, ZvObj* camera);  // 0 or -1
ZvBookmark* zvGetBookmarkByIndex(int index, ZvBookmark** previous);
int zvJumpToBookmark(int index);  // 0 or -1
int zvRemoveBookmark(int index);  // 0 or -1
int zvGetBookmarkNum(void);       // index of the last bookmark; -1 when empty
void zvDeleteBookmark(ZvBookmark* record);
void zvDeleteAllBookmarks(void);

// The transform a bookmark holds.
void zvBookmarkTransform(const ZvBookmark* record, ZvTransform* out);
// One line of the file for a record, newline included, at most
// ZV_BOOKMARK_LINE_MAX characters: quotes and line breaks in the URL are
// escaped, the title's markup characters too, and a title that would make
// the line too long is shortened. -1 when the URL alone is too long.
int zvFormatBookmarkLine(const ZvBookmark* record, char* out, size_t size);

// ---------------------------------------------------------------------------
// Files
// The directory of landmark.htm and the snapshots: set (tests), else
// $XDG_DATA_HOME/quillmoor, else ~/.local/share/quillmoor. Null restores
// the default.
void zvSetBookmarkDirectory(const char* directory);
const char* zvBookmarkDirectory(void);
const char* zvBookmarkFilePath(void);
int zvMakeBookmarkDirectory(void);  // parents included; 0 or -1
// "<directory>/markNN.bmp"; -1 when it does not fit.
int zvBookmarkSnapshotPath(int index, char* out, size_t size);
// Writes a picture (RGBA, top row first) as the 24-bit BMP file of
// bookmark index, through a temporary file. 0 or -1.
int zvWriteBookmarkSnapshot(int index, const RwImage* image);
// The world's last drawn frame as bookmark index's snapshot; without one,
// a stale file of that number is removed so no other place's picture
// stands for it. 0 or -1.
int zvSaveBookmarkSnapshot(ZvWorld* world, int index);
// After bookmark index was removed from a list that had count entries:
// its snapshot goes and each later one moves one number down. The number
// of files that could not be renamed.
int zvRemoveBookmarkSnapshot(int index, int count);
// A snapshot scaled to ZV_BOOKMARK_THUMB_WIDTH x ZV_BOOKMARK_THUMB_HEIGHT
// RGBA (stride 4 x width) into out; -1 when there is none or it cannot be read.
int zvLoadBookmarkThumb(int index, uint8_t* out);

// ---------------------------------------------------------------------------
// What the list needs from the shell; each may stay null.
struct ZvBookmarkHooks {
  // Opens url and, once its world is shown, places the person at viewpoint.
  void (*openUrlAt)(const char* url, const ZvTransform* viewpoint);
};
ZvBookmarkHooks& zvBookmarkHooks(void);

// ---------------------------------------------------------------------------
// The ViewBookmark dialog's list, without a window: the list positions hold
// bookmark indices; Delete takes the selected one out onto an undo stack,
// Undo puts the last one back, OK removes the bookmarks in the order they
// were deleted and renumbers the snapshots.
struct ZvBookmarkUndo {
  int32_t position;  // in the list when it was deleted
  int32_t data;      // its bookmark index
};
struct ZvBookmarkList {
  int32_t* items;  // count entries, capacity entries allocated
  int32_t count, capacity;
  int32_t selected;  // -1 when the list is empty
  ZvBookmarkUndo* undo;  // capacity entries allocated
  int32_t undoCount;
};
int zvInitBookmarkList(ZvBookmarkList* list);  // every bookmark, the first selected; -5
void zvFreeBookmarkList(ZvBookmarkList* list);
int zvBookmarkListSelect(ZvBookmarkList* list, int position);  // -1 outside the list
int zvBookmarkListDelete(ZvBookmarkList* list);  // -1 when nothing is selected
int zvBookmarkListUndo(ZvBookmarkList* list);    // -1 when nothing was deleted
// The deletions applied; how many bookmarks were removed.
int zvBookmarkListApply(ZvBookmarkList* list);

// The dialog over the main window, modal: 1 when OK changed the list (the
// menu then wants rebuilding), 0 otherwise, -1 when it cannot be shown.
struct ZvPlatformWindow;
int zvViewBookmarkDialog(ZvPlatformWindow* main);
// The open dialog's window, null when none is open (for tests and keys).
struct ZvPlatformPopup;
ZvPlatformPopup* zvBookmarkDialogPopup(void);
enum { ZV_BOOKMARK_DELETE = 2010, ZV_BOOKMARK_UNDO = 2020, ZV_BOOKMARK_OK = 1 };
