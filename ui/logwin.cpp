// logwin.cpp — log windows: the latest lines of a text block in a child
// window that we paint ourselves, with a scroll bar over the block's lines.
// Line numbers are the block's own, so they keep counting up as old
// paragraphs leave; the view remembers the top line by number and the
// first line to know where the range starts.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/notify.h"
#include "ui/ui.h"

namespace {

enum { kMaxSide = 4096 };

int lastLineOf(const ZvLogView* v) { return v->text->lineCount > 0 ? zvTextLastLine(v->text) : v->firstLine; }

void clampTop(ZvLogView* v) { v->topLine = std::clamp(v->topLine, v->firstLine, lastLineOf(v)); }

void countPage(ZvLogView* v) {
  int lineHeight = v->text->font ? std::max(v->text->font->lineHeight, 1) : 1;
  v->linesPerPage = std::max(v->height / lineHeight, 1);
}

void fillImage(RwImage* image, uint32_t color) {
  const uint8_t pixel[4] = {uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color), 0xff};
  for (int y = 0; y < image->height; ++y) {
    uint8_t* row = image->pixels + size_t(y) * size_t(image->stride);
    for (int x = 0; x < image->width; ++x) std::copy(pixel, pixel + 4, row + 4 * x);
  }
}

// The newest line comes again: its count goes up in place. The count may
// wrap onto a line of its own, which the view follows as it would a new one.
int repeatLast(ZvLogView* v) {
  ZvTextBlock* b = v->text;
  int oldLast = zvTextLastLine(b);
  bool lastVisible = oldLast >= v->topLine && oldLast < v->topLine + v->linesPerPage;
  std::string shown = std::string(v->lastText) + " (\xc3\x97" + std::to_string(v->repeats + 1) + ")";
  if (zvTextReplaceLast(b, shown.c_str()) != 0) return -1;
  ++v->repeats;
  int newLast = zvTextLastLine(b);
  if (lastVisible && newLast >= v->topLine + v->linesPerPage) v->topLine += newLast - oldLast;
  clampTop(v);
  return 0;
}

// ---------------------------------------------------------------------------
// The window

bool sizeImage(ZvLogWindow* log) {
  int w = std::clamp(int(log->view.width), 1, int(kMaxSide));
  int h = std::clamp(int(log->view.height), 1, int(kMaxSide));
  if (log->image.pixels && log->image.width == w && log->image.height == h) return true;
  zvFree(log->image.pixels);
  log->image = RwImage{};
  auto* pixels = static_cast<uint8_t*>(zvMalloc(size_t(w) * size_t(h) * 4));
  if (!pixels) return false;
  log->image = RwImage{w, h, 4 * w, pixels};
  return true;
}

void paintWindow(void* user) {
  auto* log = static_cast<ZvLogWindow*>(user);
  if (!sizeImage(log)) return;
  zvLogViewPaint(&log->view, &log->image);
  zvPlatformShowLogImage(log->window, log->image.pixels, log->image.width, log->image.height, log->image.stride);
  int maximum = 0, position = 0;
  zvLogViewScrollRange(&log->view, &maximum, &position);
  zvPlatformSetLogScroll(log->window, maximum, position, log->view.linesPerPage);
}

void resizeWindow(void* user, int width, int height) { zvLogResize(static_cast<ZvLogWindow*>(user), width, height); }

void scrollWindow(void* user, int kind, double amount) {
  auto* log = static_cast<ZvLogWindow*>(user);
  ZvLogView* v = &log->view;
  int moved = 0;
  if (kind == ZV_SCROLL_UNITS || kind == ZV_SCROLL_PAGES) {
    // More steps than lines cannot move the view further.
    double limit = double(v->text->lineCount) + 1;
    long steps = std::lround(std::isfinite(amount) ? std::clamp(amount, -limit, limit) : 0.0);
    int action = kind == ZV_SCROLL_UNITS ? (steps < 0 ? ZV_LOG_LINE_UP : ZV_LOG_LINE_DOWN)
                                         : (steps < 0 ? ZV_LOG_PAGE_UP : ZV_LOG_PAGE_DOWN);
    for (long i = std::labs(steps); i > 0; --i) moved |= zvLogViewScroll(v, action, 0) == 1;
  } else if (kind == ZV_SCROLL_MOVETO) {
    double f = std::isfinite(amount) ? std::clamp(amount, 0.0, 1.0) : 0.0;
    moved = zvLogViewScroll(v, ZV_LOG_THUMB, int(std::lround(f * v->text->lineCount))) == 1;
  } else if (kind == ZV_SCROLL_TOP) {
    moved = zvLogViewScroll(v, ZV_LOG_TOP, 0) == 1;
  } else if (kind == ZV_SCROLL_BOTTOM) {
    moved = zvLogViewScroll(v, ZV_LOG_BOTTOM, 0) == 1;
  }
  if (moved) zvPlatformRequestLogPaint(log->window);
}

}  // namespace

ZvTextFont* zvNewLogFont(void) { return zvNewFont("SYSTEM", 12, 0x000000, 0xffffff, ZV_FONT_SHADOW); }

// ---------------------------------------------------------------------------
// The scroll model

int zvInitLogView(ZvLogView* v, ZvTextFont* font, int capacity, int width, int height) {
  if (!v) return -1;
  *v = ZvLogView{};
  if (!font) return -1;
  v->text = zvNewTextBlock(font);
  if (!v->text) return -1;
  v->capacity = std::max(capacity, 1);
  v->width = std::max(width, 0);
  v->height = std::max(height, 0);
  zvTextSetWidth(v->text, v->width, v->capacity);
  countPage(v);
  return 0;
}

void zvFreeLogView(ZvLogView* v) {
  if (!v) return;
  zvFree(v->lastText);
  zvDeleteTextBlock(v->text);
  *v = ZvLogView{};
}

void zvLogViewSetCoalesce(ZvLogView* v, int on) {
  if (!v) return;
  v->coalesce = on ? 1 : 0;
  zvFree(v->lastText);
  v->lastText = nullptr;
  v->repeats = 0;
}

int zvLogViewAppend(ZvLogView* v, const char* text) {
  if (!v || !v->text || !text) return -1;
  ZvTextBlock* b = v->text;
  if (v->coalesce && v->lastText && b->last && std::strcmp(text, v->lastText) == 0) return repeatLast(v);
  // An empty log has no last line in view: a first paragraph longer than a
  // page is shown from its start.
  bool hadLines = b->lineCount > 0;
  int oldLast = zvTextLastLine(b);
  bool lastVisible = hadLines && oldLast >= v->topLine && oldLast < v->topLine + v->linesPerPage;
  if (zvTextAddParagraph(b, text) != 0) return -1;
  int added = b->last->lineCount;
  int newLast = zvTextLastLine(b);
  // A block numbered again from 0 moves every number by the same amount.
  if (hadLines) v->topLine += (newLast - added) - oldLast;
  v->firstLine = b->firstLine;
  if (v->topLine < v->firstLine) v->topLine = v->firstLine;
  if (lastVisible && newLast >= v->topLine + v->linesPerPage) v->topLine += added;
  clampTop(v);
  if (v->coalesce) {
    zvFree(v->lastText);
    v->lastText = zvStrdup(text);  // without it, the next repeat is a line of its own
    v->repeats = 1;
  }
  return 0;
}

void zvLogViewClear(ZvLogView* v) {
  if (!v || !v->text) return;
  zvFree(v->lastText);
  v->lastText = nullptr;
  v->repeats = 0;
  zvTextClear(v->text);
  v->firstLine = 0;
  v->topLine = 0;
}

void zvLogViewResize(ZvLogView* v, int width, int height) {
  if (!v || !v->text) return;
  width = std::max(width, 0);
  height = std::max(height, 0);
  ZvTextParagraph* top = nullptr;
  int index = 0;
  if (zvTextFindLine(v->text, v->topLine, &top, nullptr) == 0) index = v->topLine - top->firstLine;
  if (width != v->width) zvTextSetWidth(v->text, width, v->capacity);
  v->width = width;
  v->height = height;
  countPage(v);
  v->firstLine = v->text->firstLine;
  if (top) v->topLine = top->firstLine + std::min(index, top->lineCount - 1);
  clampTop(v);
}

int zvLogViewScroll(ZvLogView* v, int action, int position) {
  if (!v || !v->text) return -1;
  int top = v->topLine;
  switch (action) {
    case ZV_LOG_LINE_UP: v->topLine -= 1; break;
    case ZV_LOG_LINE_DOWN: v->topLine += 1; break;
    case ZV_LOG_PAGE_UP: v->topLine -= v->linesPerPage; break;
    case ZV_LOG_PAGE_DOWN: v->topLine += v->linesPerPage; break;
    case ZV_LOG_THUMB: v->topLine = v->firstLine + std::clamp(position, 0, int(v->text->lineCount)); break;
    case ZV_LOG_TOP: v->topLine = v->firstLine; break;
    case ZV_LOG_BOTTOM: v->topLine = lastLineOf(v); break;
    default: return -1;
  }
  clampTop(v);
  return v->topLine != top ? 1 : 0;
}

void zvLogViewScrollRange(const ZvLogView* v, int* maximum, int* position) {
  if (maximum) *maximum = v && v->text ? v->text->lineCount : 0;
  if (position) *position = v ? v->topLine - v->firstLine : 0;
}

void zvLogViewPaint(const ZvLogView* v, RwImage* image) {
  if (!v || !v->text || !image || !image->pixels || image->stride < 4 * image->width) return;
  const ZvTextFont* font = v->text->font;
  fillImage(image, font ? font->background : 0);
  if (!font) return;
  ZvTextParagraph* p = nullptr;
  ZvTextLine* line = nullptr;
  if (zvTextFindLine(v->text, v->topLine, &p, &line) != 0) return;
  int bottom = std::min(int(v->height), int(image->height));
  for (int y = 0; p && y < bottom;) {
    const char* text = p->text + line->start;
    if (font->flags & ZV_FONT_SHADOW) zvFontDrawText(font, image, 1, y + 1, text, line->drawn, 0x000000);
    zvFontDrawText(font, image, 0, y, text, line->drawn, font->textColor);
    y += std::max(int(line->height), 1);
    line = line->next;
    if (!line) {
      p = p->next;
      line = p ? p->lines : nullptr;
      if (!line) break;
    }
  }
}

// ---------------------------------------------------------------------------
// The window

ZvLogWindow* zvNewLogWindow(ZvPlatformWindow* main, ZvPlatformPopup* parent, int capacity) {
  auto* log = static_cast<ZvLogWindow*>(zvMalloc(sizeof(ZvLogWindow)));
  if (!log) return nullptr;
  log->font = zvNewLogFont();
  if (zvInitLogView(&log->view, log->font, capacity, ZV_LOG_WIDTH, ZV_LOG_HEIGHT) != 0) {
    zvDeleteLogWindow(log);
    return nullptr;
  }
  ZvLogViewCallbacks callbacks{scrollWindow, resizeWindow, paintWindow, log, nullptr};
  log->window = zvPlatformOpenLogView(main, parent, 0, 0, ZV_LOG_WIDTH, ZV_LOG_HEIGHT, &callbacks);
  if (!log->window) {
    zvDeleteLogWindow(log);
    return nullptr;
  }
  int width, height;
  zvPlatformLogViewArea(log->window, ZV_LOG_WIDTH, ZV_LOG_HEIGHT, &width, &height);
  zvLogResize(log, width, height);
  zvPlatformRequestLogPaint(log->window);
  return log;
}

void zvDeleteLogWindow(ZvLogWindow* log) {
  if (!log) return;
  zvPlatformCloseLogView(log->window);
  zvFreeLogView(&log->view);
  zvDeleteFont(log->font);
  zvFree(log->image.pixels);
  zvFree(log);
}

int zvLogAppend(ZvLogWindow* log, const char* text) {
  if (!log || zvLogViewAppend(&log->view, text) != 0) return -1;
  zvPlatformRequestLogPaint(log->window);
  return 0;
}

void zvLogClear(ZvLogWindow* log) {
  if (!log) return;
  zvLogViewClear(&log->view);
  zvPlatformRequestLogPaint(log->window);
}

void zvLogResize(ZvLogWindow* log, int width, int height) {
  if (!log) return;
  width = std::clamp(width, 0, int(kMaxSide));
  height = std::clamp(height, 0, int(kMaxSide));
  if (width == log->view.width && height == log->view.height) return;
  zvLogViewResize(&log->view, width, height);
  zvPlatformRequestLogPaint(log->window);
}

int zvLogPlace(ZvLogWindow* log, int x, int y, int width, int height) {
  if (!log || zvPlatformPlaceLogView(log->window, x, y, width, height) != 0) return -1;
  int areaWidth, areaHeight;
  zvPlatformLogViewArea(log->window, width, height, &areaWidth, &areaHeight);
  zvLogResize(log, areaWidth, areaHeight);
  return 0;
}
