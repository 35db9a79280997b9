// rows.cpp — the list the bookmark and avatar dialogs draw: rows of equal
// height in a picture of our own, so it looks the same on every desktop.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/notify.h"
#include "ui/ui.h"

int zvRowsPerPage(const ZvRowCanvas* r) { return std::max(r->height / std::max(r->rowHeight, 1), 1); }

void zvRowsClampTop(ZvRowCanvas* r) { r->top = std::clamp(r->top, 0, std::max(r->count - zvRowsPerPage(r), 0)); }

void zvRowsShow(ZvRowCanvas* r, int row) {
  if (row < 0) return;
  if (row < r->top) r->top = row;
  if (row >= r->top + zvRowsPerPage(r)) r->top = row - zvRowsPerPage(r) + 1;
  zvRowsClampTop(r);
}

int zvRowsScroll(ZvRowCanvas* r, int kind, double amount) {
  switch (kind) {
    case ZV_SCROLL_UNITS: r->top += int(amount); break;
    case ZV_SCROLL_PAGES: r->top += int(amount) * zvRowsPerPage(r); break;
    case ZV_SCROLL_MOVETO: r->top = int(amount * r->count); break;
    case ZV_SCROLL_TOP: r->top = 0; break;
    case ZV_SCROLL_BOTTOM: r->top = r->count; break;
    default: return -1;
  }
  zvRowsClampTop(r);
  return 0;
}

void zvRowsResize(ZvRowCanvas* r, int width, int height) {
  r->width = std::clamp(width, 1, 4096);
  r->height = std::clamp(height, 1, 4096);
  zvRowsClampTop(r);
}

int zvRowsAt(const ZvRowCanvas* r, int y) {
  if (y < 0) return -1;
  int row = r->top + y / std::max(r->rowHeight, 1);
  return row < r->count ? row : -1;
}

int zvRowsBegin(ZvRowCanvas* r) {
  if (r->width < 1 || r->height < 1) return -1;
  std::free(r->pixels);
  r->pixels = static_cast<uint8_t*>(std::calloc(size_t(r->width) * r->height, 4));
  if (!r->pixels) return -1;
  zvRowsFill(r, 0, 0, r->width, r->height, 0x000000);
  return 0;
}

void zvRowsFill(ZvRowCanvas* r, int x0, int y0, int w, int h, uint32_t rgb) {
  if (!r->pixels) return;
  for (int y = std::max(y0, 0); y < std::min(y0 + h, r->height); ++y)
    for (int x = std::max(x0, 0); x < std::min(x0 + w, r->width); ++x) {
      uint8_t* p = &r->pixels[(size_t(y) * r->width + x) * 4];
      p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb), p[3] = 0xff;
    }
}

void zvRowsBlit(ZvRowCanvas* r, int x0, int y0, const uint8_t* rgba, int w, int h) {
  if (!r->pixels || !rgba) return;
  int xa = std::max(x0, 0), xb = std::min(x0 + w, r->width);
  if (xa >= xb) return;
  for (int y = std::max(y0, 0); y < std::min(y0 + h, r->height); ++y)
    std::memcpy(&r->pixels[(size_t(y) * r->width + xa) * 4], rgba + (size_t(y - y0) * w + (xa - x0)) * 4,
                size_t(xb - xa) * 4);
}

void zvRowsFocus(ZvRowCanvas* r, int y0) {
  for (int x = 1; x < r->width - 1; x += 2)
    zvRowsFill(r, x, y0, 1, 1, 0xffffff), zvRowsFill(r, x, y0 + r->rowHeight - 1, 1, 1, 0xffffff);
  for (int y = y0; y < y0 + r->rowHeight; y += 2)
    zvRowsFill(r, 0, y, 1, 1, 0xffffff), zvRowsFill(r, r->width - 1, y, 1, 1, 0xffffff);
}

RwImage zvRowsImage(ZvRowCanvas* r) { return RwImage{r->width, r->height, r->width * 4, r->pixels}; }

void zvRowsFree(ZvRowCanvas* r) {
  std::free(r->pixels);
  r->pixels = nullptr;
}
