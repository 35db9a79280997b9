// dialog.cpp — the ViewBookmark dialog: every bookmark as a row with its
// snapshot at 80 x 60 and its title beside it, the world's name above the
// position; Delete, Undo, OK and Cancel. We paint the rows ourselves into
// the picture of a log view, so the list looks the same everywhere; the
// list itself is the window-free model of listmodel.cpp.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bookmark/bookmark.h"
#include "platform/notify.h"
#include "platform/window.h"
#include "ui/ui.h"

namespace {

enum {
  kWidth = 420,
  kHeight = 440,
  kMargin = 10,
  kRow = 64,  // a snapshot and its border
  kTextX = ZV_BOOKMARK_THUMB_WIDTH + 12,
  kButtonWidth = 80,
  kButtonHeight = 28,
  kBelowList = 50,
  kCancel = 9999,  // the pop-up's own button is Cancel
};
const uint32_t kHighlight = 0x000080;

struct Dialog {
  ZvPlatformPopup* popup;
  ZvPlatformLogView* view;
  ZvBookmarkList list;
  std::vector<std::vector<uint8_t>> thumbs;  // by bookmark index; empty: none
  ZvTextFont* font;
  ZvRowCanvas rows;
  int done;  // 0 while open, then ZV_BOOKMARK_OK or kCancel
};
Dialog* dialog;

// The canvas, told how many rows the list has now (Delete and Undo change it).
ZvRowCanvas* rows(Dialog* d) {
  d->rows.count = d->list.count;
  return &d->rows;
}

void paintRow(Dialog* d, int position, int y0) {
  bool selected = position == d->list.selected;
  zvRowsFill(&d->rows, 0, y0, d->rows.width, kRow, selected ? kHighlight : 0x000000);
  int index = d->list.items[position];
  if (index >= 0 && index < int(d->thumbs.size()) && !d->thumbs[index].empty())
    zvRowsBlit(&d->rows, 4, y0 + 2, d->thumbs[index].data(), ZV_BOOKMARK_THUMB_WIDTH, ZV_BOOKMARK_THUMB_HEIGHT);
  ZvBookmark* b = zvGetBookmarkByIndex(index, nullptr);
  if (d->font && b && b->title) {
    RwImage image = zvRowsImage(&d->rows);
    // The world's name, then its position on a line of its own.
    const char* title = b->title;
    const char* paren = std::strchr(title, '(');
    int first = paren ? int(paren - title) : int(std::strlen(title));
    int line = d->font->lineHeight;
    int y = y0 + (kRow - 2 * line) / 2;
    zvFontDrawText(d->font, &image, kTextX, y, title, first, 0xffffff);
    if (paren) zvFontDrawText(d->font, &image, kTextX, y + line, paren, int(std::strlen(paren)), 0xffffff);
  }
  if (selected) zvRowsFocus(&d->rows, y0);
}

void paint(void* user) {
  auto* d = static_cast<Dialog*>(user);
  ZvRowCanvas* r = rows(d);
  if (zvRowsBegin(r) != 0) return;
  for (int p = r->top, y = 0; p < r->count && y < r->height; ++p, y += kRow) paintRow(d, p, y);
  zvPlatformShowLogImage(d->view, r->pixels, r->width, r->height, r->width * 4);
  zvPlatformSetLogScroll(d->view, r->count, r->top, zvRowsPerPage(r));
  zvPlatformEnablePopupCommand(d->popup, ZV_BOOKMARK_DELETE, d->list.selected >= 0);
  zvPlatformEnablePopupCommand(d->popup, ZV_BOOKMARK_UNDO, d->list.undoCount > 0);
}

void scroll(void* user, int kind, double amount) {
  auto* d = static_cast<Dialog*>(user);
  if (zvRowsScroll(rows(d), kind, amount) == 0) zvPlatformRequestLogPaint(d->view);
}

void resizeArea(void* user, int width, int height) {
  auto* d = static_cast<Dialog*>(user);
  zvRowsResize(rows(d), width, height);
  zvRowsShow(&d->rows, d->list.selected);
  zvPlatformRequestLogPaint(d->view);
}

void click(void* user, int, int y) {
  auto* d = static_cast<Dialog*>(user);
  int row = zvRowsAt(rows(d), y);
  if (row >= 0 && zvBookmarkListSelect(&d->list, row) == 0) zvPlatformRequestLogPaint(d->view);
}

void layOut(Dialog* d, int width, int height) {
  int listWidth = std::max(width - 2 * kMargin, 1), listHeight = std::max(height - kMargin - kBelowList, 1);
  zvPlatformPlaceLogView(d->view, kMargin, kMargin, listWidth, listHeight);
  int y = std::max(height - kBelowList + (kBelowList - kButtonHeight) / 2, 0);
  int step = std::max((width - 2 * kMargin) / 4, int(kButtonWidth));
  int x = kMargin + (step - kButtonWidth) / 2;
  zvPlatformPlacePopupCommand(d->popup, ZV_BOOKMARK_DELETE, x, y, kButtonWidth, kButtonHeight);
  zvPlatformPlacePopupCommand(d->popup, ZV_BOOKMARK_UNDO, x + step, y, kButtonWidth, kButtonHeight);
  zvPlatformPlacePopupCommand(d->popup, ZV_BOOKMARK_OK, x + 2 * step, y, kButtonWidth, kButtonHeight);
  zvPlatformPlacePopupButton(d->popup, x + 3 * step, y, kButtonWidth, kButtonHeight);
}

void resizePopup(void* user, int width, int height) { layOut(static_cast<Dialog*>(user), width, height); }

void cancel(void* user) { static_cast<Dialog*>(user)->done = kCancel; }

void command(void* user, int id) {
  auto* d = static_cast<Dialog*>(user);
  switch (id) {
    case ZV_BOOKMARK_DELETE:
      zvBookmarkListDelete(&d->list);
      break;
    case ZV_BOOKMARK_UNDO:
      zvBookmarkListUndo(&d->list);
      break;
    case ZV_BOOKMARK_OK:
      d->done = ZV_BOOKMARK_OK;
      return;
    default:
      return;
  }
  zvRowsShow(rows(d), d->list.selected);
  zvPlatformRequestLogPaint(d->view);
}

void closeDialog(Dialog* d) {
  if (d->popup) zvPlatformSetPopupModal(d->popup, 0);
  zvPlatformCloseLogView(d->view);
  zvPlatformClosePopup(d->popup);
  zvDeleteFont(d->font);
  zvFreeBookmarkList(&d->list);
  zvRowsFree(&d->rows);
  delete d;
}

}  // namespace

ZvPlatformPopup* zvBookmarkDialogPopup(void) { return dialog ? dialog->popup : nullptr; }

int zvViewBookmarkDialog(ZvPlatformWindow* main) {
  if (dialog || !main) return -1;
  auto* d = new Dialog{};
  d->list.selected = -1;
  d->rows.rowHeight = kRow;
  ZvPopupCallbacks callbacks{cancel, resizePopup, d, command};
  d->popup = zvPlatformOpenPopup(main, "zvBookmark", "View Bookmark", kWidth, kHeight, "Cancel", &callbacks);
  ZvLogViewCallbacks viewCallbacks{scroll, resizeArea, paint, d, click};
  if (d->popup) d->view = zvPlatformOpenLogView(main, d->popup, kMargin, kMargin, 10, 10, &viewCallbacks);
  if (!d->popup || !d->view || zvInitBookmarkList(&d->list) != ZV_OK ||
      zvPlatformAddPopupCommand(d->popup, ZV_BOOKMARK_DELETE, "Delete") != 0 ||
      zvPlatformAddPopupCommand(d->popup, ZV_BOOKMARK_UNDO, "Undo") != 0 ||
      zvPlatformAddPopupCommand(d->popup, ZV_BOOKMARK_OK, "OK") != 0) {
    closeDialog(d);
    return -1;
  }
  d->font = zvNewLogFont();  // no font: the snapshots alone
  d->thumbs.resize(size_t(d->list.count));
  for (int i = 0; i < d->list.count; ++i) {
    d->thumbs[i].resize(size_t(ZV_BOOKMARK_THUMB_WIDTH) * ZV_BOOKMARK_THUMB_HEIGHT * 4);
    if (zvLoadBookmarkThumb(i, d->thumbs[i].data()) != 0) d->thumbs[i].clear();
  }
  layOut(d, kWidth, kHeight);
  zvPlatformLogViewArea(d->view, kWidth - 2 * kMargin, kHeight - kMargin - kBelowList, &d->rows.width, &d->rows.height);
  zvPlatformPlacePopupAbove(d->popup);
  zvPlatformShowPopup(d->popup);
  zvPlatformSetPopupModal(d->popup, 1);
  zvPlatformRequestLogPaint(d->view);
  dialog = d;
  // The main window going away ends the dialog as Cancel would.
  while (!d->done && zvPlatformWindowExists(main) && zvPlatformPopupShown(d->popup)) zvPlatformDoOneEvent(1);
  dialog = nullptr;
  int changed = d->done == ZV_BOOKMARK_OK && zvBookmarkListApply(&d->list) > 0;
  closeDialog(d);
  return changed;
}
