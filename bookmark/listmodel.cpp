// listmodel.cpp — the ViewBookmark dialog's list without its window. Deletes
// only move entries onto the undo stack; nothing happens to the bookmarks
// until OK, which replays the deletions in the order they were made: each
// entry's list position was taken in the list as it stood then, so
// removing by position replays them exactly.
#include "bookmark/bookmark.h"

int zvInitBookmarkList(ZvBookmarkList* list) {
  if (!list) return ZV_FAIL;
  *list = ZvBookmarkList{};
  int count = zvGetBookmarkNum() + 1;
  list->selected = -1;
  if (count <= 0) return ZV_OK;
  list->items = static_cast<int32_t*>(zvMalloc(sizeof(int32_t) * size_t(count)));
  list->undo = static_cast<ZvBookmarkUndo*>(zvMalloc(sizeof(ZvBookmarkUndo) * size_t(count)));
  if (!list->items || !list->undo) {
    zvFreeBookmarkList(list);
    return ZV_NOMEM;
  }
  for (int i = 0; i < count; ++i) list->items[i] = i;
  list->count = list->capacity = count;
  list->selected = 0;
  return ZV_OK;
}

void zvFreeBookmarkList(ZvBookmarkList* list) {
  if (!list) return;
  zvFree(list->items);
  zvFree(list->undo);
  *list = ZvBookmarkList{};
  list->selected = -1;
}

int zvBookmarkListSelect(ZvBookmarkList* list, int position) {
  if (!list || position < 0 || position >= list->count) return ZV_FAIL;
  list->selected = position;
  return ZV_OK;
}

int zvBookmarkListDelete(ZvBookmarkList* list) {
  if (!list || list->selected < 0 || list->selected >= list->count || list->undoCount >= list->capacity)
    return ZV_FAIL;
  int at = list->selected;
  list->undo[list->undoCount++] = ZvBookmarkUndo{at, list->items[at]};
  for (int i = at; i + 1 < list->count; ++i) list->items[i] = list->items[i + 1];
  --list->count;
  // The entry that moved into the place, or the one before at the end.
  list->selected = list->count == 0 ? -1 : at < list->count ? at : list->count - 1;
  return ZV_OK;
}

int zvBookmarkListUndo(ZvBookmarkList* list) {
  if (!list || list->undoCount <= 0) return ZV_FAIL;
  ZvBookmarkUndo entry = list->undo[--list->undoCount];
  int at = entry.position < 0 ? 0 : entry.position > list->count ? list->count : entry.position;
  for (int i = list->count; i > at; --i) list->items[i] = list->items[i - 1];
  list->items[at] = entry.data;
  ++list->count;
  list->selected = at;
  return ZV_OK;
}

int zvBookmarkListApply(ZvBookmarkList* list) {
  if (!list) return 0;
  int removed = 0;
  for (int i = 0; i < list->undoCount; ++i) {
    int position = list->undo[i].position;
    int before = zvGetBookmarkNum() + 1;
    if (zvRemoveBookmark(position) != 0) break;
    zvRemoveBookmarkSnapshot(position, before);
    ++removed;
  }
  list->undoCount = 0;
  return removed;
}
