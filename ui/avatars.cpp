// avatars.cpp — the figures a user may walk a shared world as, and the
// ViewAvatar dialog that picks one: a row per avatar with its preview
// picture, painted by us into a log view like the bookmark list. Only our
// own files can be chosen, so the name announced to a server is always one
// the other browsers resolve in their own data directories.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "platform/notify.h"
#include "platform/window.h"
#include "ui/ui.h"

namespace {

const ZvAvatarInfo kAvatars[] = {
    {"person.wrl", "person.png", "Person"},
    {"boy.wrl", "boy.png", "Boy"},
    {"girl.wrl", "girl.png", "Girl"},
    {"robot.wrl", "robot.png", "Robot"},
};
const int kAvatarCount = int(sizeof kAvatars / sizeof kAvatars[0]);
static_assert(sizeof kAvatars / sizeof kAvatars[0] <= ZV_AVATAR_MAX);

std::string chosen = "person.wrl";

enum {
  kWidth = 300,
  kHeight = 420,
  kMargin = 10,
  kRow = 80,  // a preview and its border
  kPreviewHeight = kRow - 6,
  kTextX = ZV_AVATAR_PREVIEW_WIDTH + 16,
  kButtonWidth = 80,
  kButtonHeight = 28,
  kBelowList = 50,
  kCancel = 9999,
  kMaxPreviewFile = 4 << 20,
};
const uint32_t kHighlight = 0x000080;

struct Dialog {
  ZvPlatformPopup* popup;
  ZvPlatformLogView* view;
  ZvAvatarList list;
  std::vector<std::vector<uint8_t>> previews;  // by row; empty: none
  std::vector<int> previewHeights;
  ZvTextFont* font;
  ZvRowCanvas rows;
  int done;
};
Dialog* dialog;

bool readable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0;
}

ZvRowCanvas* rows(Dialog* d) {
  d->rows.count = d->list.count;
  return &d->rows;
}

void paintRow(Dialog* d, int row, int y0) {
  bool selected = row == d->list.selected;
  zvRowsFill(&d->rows, 0, y0, d->rows.width, kRow, selected ? kHighlight : 0x000000);
  const std::vector<uint8_t>& picture = d->previews[row];
  if (!picture.empty()) {
    int h = d->previewHeights[row];
    zvRowsBlit(&d->rows, 6, y0 + (kRow - h) / 2, picture.data(), ZV_AVATAR_PREVIEW_WIDTH, h);
  }
  const ZvAvatarInfo* a = zvAvatarAt(d->list.rows[row]);
  if (d->font && a) {
    RwImage image = zvRowsImage(&d->rows);
    int y = y0 + (kRow - d->font->lineHeight) / 2;
    zvFontDrawText(d->font, &image, kTextX, y, a->title, int(std::strlen(a->title)), 0xffffff);
  }
}

void paint(void* user) {
  auto* d = static_cast<Dialog*>(user);
  ZvRowCanvas* r = rows(d);
  if (zvRowsBegin(r) != 0) return;
  for (int row = r->top, y = 0; row < r->count && y < r->height; ++row, y += kRow) paintRow(d, row, y);
  zvPlatformShowLogImage(d->view, r->pixels, r->width, r->height, r->width * 4);
  zvPlatformSetLogScroll(d->view, r->count, r->top, zvRowsPerPage(r));
  zvPlatformEnablePopupCommand(d->popup, ZV_AVATAR_OK, d->list.selected >= 0);
}

void scroll(void* user, int kind, double amount) {
  auto* d = static_cast<Dialog*>(user);
  if (zvRowsScroll(rows(d), kind, amount) == 0) zvPlatformRequestLogPaint(d->view);
}

void resizeArea(void* user, int width, int height) {
  auto* d = static_cast<Dialog*>(user);
  zvRowsResize(rows(d), width, height);
  zvPlatformRequestLogPaint(d->view);
}

void click(void* user, int, int y) {
  auto* d = static_cast<Dialog*>(user);
  int row = zvRowsAt(rows(d), y);
  if (row >= 0 && zvAvatarListSelect(&d->list, row) == 0) zvPlatformRequestLogPaint(d->view);
}

void layOut(Dialog* d, int width, int height) {
  int listWidth = std::max(width - 2 * kMargin, 1), listHeight = std::max(height - kMargin - kBelowList, 1);
  zvPlatformPlaceLogView(d->view, kMargin, kMargin, listWidth, listHeight);
  int y = std::max(height - kBelowList + (kBelowList - kButtonHeight) / 2, 0);
  int step = std::max((width - 2 * kMargin) / 2, int(kButtonWidth));
  int x = kMargin + (step - kButtonWidth) / 2;
  zvPlatformPlacePopupCommand(d->popup, ZV_AVATAR_OK, x, y, kButtonWidth, kButtonHeight);
  zvPlatformPlacePopupButton(d->popup, x + step, y, kButtonWidth, kButtonHeight);
}

void resizePopup(void* user, int width, int height) { layOut(static_cast<Dialog*>(user), width, height); }
void cancel(void* user) { static_cast<Dialog*>(user)->done = kCancel; }
void command(void* user, int id) {
  if (id == ZV_AVATAR_OK) static_cast<Dialog*>(user)->done = ZV_AVATAR_OK;
}

void closeDialog(Dialog* d) {
  if (d->popup) zvPlatformSetPopupModal(d->popup, 0);
  zvPlatformCloseLogView(d->view);
  zvPlatformClosePopup(d->popup);
  zvDeleteFont(d->font);
  zvRowsFree(&d->rows);
  delete d;
}

}  // namespace

int zvAvatarCount(void) { return kAvatarCount; }

const ZvAvatarInfo* zvAvatarAt(int index) { return index >= 0 && index < kAvatarCount ? &kAvatars[index] : nullptr; }

int zvListAvatars(const char* directory, ZvAvatarList* list) {
  if (!list) return -1;
  *list = ZvAvatarList{};
  list->selected = -1;
  if (!directory) return -1;
  for (int i = 0; i < kAvatarCount; ++i) {
    if (!readable(std::string(directory) + "/" + kAvatars[i].file)) continue;
    if (chosen == kAvatars[i].file) list->selected = list->count;
    list->rows[list->count++] = i;
  }
  return list->count;
}

int zvAvatarListSelect(ZvAvatarList* list, int row) {
  if (!list || row < 0 || row >= list->count) return -1;
  list->selected = row;
  return 0;
}

const char* zvChosenAvatar(void) { return chosen.c_str(); }

int zvChooseAvatar(const char* file) {
  if (!file) return -1;
  for (const ZvAvatarInfo& a : kAvatars)
    if (std::strcmp(a.file, file) == 0) {
      chosen = a.file;
      return 0;
    }
  return -1;
}

int zvLoadAvatarPreview(const char* path, int width, int maxHeight, uint8_t* out, int* height) {
  if (!path || !out || !height || width < 1 || maxHeight < 1 || width > 4096 || maxHeight > 4096) return -1;
  *height = 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  std::vector<uint8_t> bytes;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= kMaxPreviewFile) {
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    for (ssize_t n; got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0;)
      got += size_t(n);
    bytes.resize(got);
  }
  close(fd);
  ZvImage image{};
  if (bytes.empty() || zvDecodeImage(bytes.data(), bytes.size(), &image) != 0 || !image.pixels || image.width < 1 ||
      image.height < 1) {
    zvFreeImage(&image);
    return -1;
  }
  // The width is fixed and the aspect kept; a picture too tall for a row
  // loses its bottom rather than its shape.
  int64_t scaled = std::max<int64_t>(int64_t(image.height) * width / image.width, 1);
  int h = int(std::min<int64_t>(scaled, maxHeight));
  std::memset(out, 0, size_t(width) * size_t(maxHeight) * 4);
  for (int y = 0; y < h; ++y) {
    int sy = int(std::min<int64_t>(int64_t(y) * image.height / scaled, image.height - 1));
    for (int x = 0; x < width; ++x) {
      int sx = int(int64_t(x) * image.width / width);
      const uint8_t* p = image.pixels + (size_t(sy) * size_t(image.width) + size_t(sx)) * 4;
      uint8_t* q = out + (size_t(y) * width + x) * 4;
      // Drawn over black, as the list is.
      for (int c = 0; c < 3; ++c) q[c] = uint8_t(p[c] * p[3] / 255);
      q[3] = 0xff;
    }
  }
  *height = h;
  zvFreeImage(&image);
  return 0;
}

ZvPlatformPopup* zvAvatarDialogPopup(void) { return dialog ? dialog->popup : nullptr; }

int zvViewAvatarDialog(ZvPlatformWindow* main, const char* directory) {
  if (dialog || !main || !directory) return -1;
  auto* d = new Dialog{};
  d->rows.rowHeight = kRow;
  ZvPopupCallbacks callbacks{cancel, resizePopup, d, command};
  d->popup = zvPlatformOpenPopup(main, "zvAvatar", "View Avatar", kWidth, kHeight, "Cancel", &callbacks);
  ZvLogViewCallbacks viewCallbacks{scroll, resizeArea, paint, d, click};
  if (d->popup) d->view = zvPlatformOpenLogView(main, d->popup, kMargin, kMargin, 10, 10, &viewCallbacks);
  if (!d->popup || !d->view || zvListAvatars(directory, &d->list) < 0 ||
      zvPlatformAddPopupCommand(d->popup, ZV_AVATAR_OK, "OK") != 0) {
    closeDialog(d);
    return -1;
  }
  d->font = zvNewLogFont();  // no font: the pictures alone
  d->previews.resize(size_t(d->list.count));
  d->previewHeights.assign(size_t(d->list.count), 0);
  for (int r = 0; r < d->list.count; ++r) {
    d->previews[r].resize(size_t(ZV_AVATAR_PREVIEW_WIDTH) * kPreviewHeight * 4);
    std::string path = std::string(directory) + "/" + kAvatars[d->list.rows[r]].preview;
    if (zvLoadAvatarPreview(path.c_str(), ZV_AVATAR_PREVIEW_WIDTH, kPreviewHeight, d->previews[r].data(),
                            &d->previewHeights[r]) != 0)
      d->previews[r].clear();
  }
  layOut(d, kWidth, kHeight);
  zvPlatformLogViewArea(d->view, kWidth - 2 * kMargin, kHeight - kMargin - kBelowList, &d->rows.width, &d->rows.height);
  zvPlatformPlacePopupAbove(d->popup);
  zvPlatformShowPopup(d->popup);
  zvPlatformSetPopupModal(d->popup, 1);
  zvPlatformRequestLogPaint(d->view);
  dialog = d;
  while (!d->done && zvPlatformWindowExists(main) && zvPlatformPopupShown(d->popup)) zvPlatformDoOneEvent(1);
  dialog = nullptr;
  int changed = 0;
  if (d->done == ZV_AVATAR_OK && d->list.selected >= 0) {
    const char* file = kAvatars[d->list.rows[d->list.selected]].file;
    changed = chosen != file;
    zvChooseAvatar(file);
  }
  closeDialog(d);
  return changed;
}
