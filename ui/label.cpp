// label.cpp — labels over the view. They are not windows: one list holds
// them, each frame re-places those that follow their objects and paints
// them into the camera image before it is shown.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "nav/nav.h"
#include "render/render.h"
#include "ui/ui.h"

namespace {

ZvLabel* labels;
int labelsVisible = 1;
int hoverOn = 1;
int showNames, showComments, noBackground;
ZvTextFont* hoverFont;
ZvTextFont* textFont;  // "FixedSys", light grey: lines sent for avatars
ZvLabelClock clockSource;
ZvLabelProjector projector;

void steadyNow(int32_t* seconds, int32_t* millis) {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  *seconds = int32_t(ms / 1000);
  *millis = int32_t(ms % 1000);
}

void now(int32_t* seconds, int32_t* milliseconds) {
  (clockSource ? clockSource : steadyNow)(seconds, milliseconds);
}

int project(ZvWorld* world, const float point[3], int* x, int* y, int* visible) {
  if (projector) return projector(world, point, x, y, visible);
  return zvRenderProjectPoint(world, point, x, y, visible);
}

// The striped background: every other row of the label's rectangle, from
// the top of the view, ORed with the background colour.
void paintStripes(RwImage* image, const ZvLabel* label) {
  uint32_t c = label->font->background;
  const uint8_t rgb[3] = {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
  for (int y = std::max(label->y, 0); y < label->y + label->height && y < image->height; ++y) {
    if (y & 1) continue;
    uint8_t* row = image->pixels + size_t(y) * size_t(image->stride);
    for (int x = std::max(label->x, 0); x < label->x + label->width && x < image->width; ++x)
      for (int i = 0; i < 3; ++i) row[4 * x + i] |= rgb[i];
  }
}

void drawLabel(RwImage* image, const ZvLabel* label) {
  const ZvTextFont* font = label->font;
  if (!font || !label->text) return;
  if ((font->flags & ZV_FONT_STRIPED) && !noBackground) paintStripes(image, label);
  int y = label->y;
  for (ZvTextParagraph* p = label->text->first; p; p = p->next)
    for (ZvTextLine* line = p->lines; line; line = line->next) {
      const char* text = p->text + line->start;
      if (font->flags & ZV_FONT_SHADOW) zvFontDrawText(font, image, label->x + 1, y + 1, text, line->drawn, 0);
      zvFontDrawText(font, image, label->x, y, text, line->drawn, font->textColor);
      y += line->height;
    }
}

// Worlds kept in the cache keep their labels; only the painted world's own
// are drawn over it.
void paintOverlay(ZvWorld* world, RwImage* image) {
  zvUpdateLabels();
  if (!image || !image->pixels || image->stride < 4 * image->width) return;
  for (ZvLabel* label = labels; label; label = label->next)
    if (label->placed && !(label->flags & ZV_LABEL_HIDDEN) && (!label->object || label->object->world == world))
      drawLabel(image, label);
}

}  // namespace

ZvLabel* zvNewLabel(ZvObj* object, ZvLeaf* leaf, ZvTextFont* font, int kind) {
  auto* label = static_cast<ZvLabel*>(zvMalloc(sizeof(ZvLabel)));
  if (!label) return nullptr;
  label->text = zvNewTextBlock(font);
  if (!label->text) {
    zvFree(label);
    return nullptr;
  }
  zvTextSetWidth(label->text, ZV_LABEL_WIDTH, 100);
  zvTextSetEscapes(label->text, 1);
  label->font = font;
  label->kind = kind;
  label->object = object;
  label->leaf = leaf;
  label->x = label->y = -1;
  if (!labelsVisible) label->flags |= ZV_LABEL_HIDDEN;
  label->next = labels;
  if (labels) labels->previous = label;
  labels = label;
  return label;
}

void zvDeleteLabel(ZvLabel* label) {
  if (!label) return;
  if (label->previous)
    label->previous->next = label->next;
  else if (labels == label)
    labels = label->next;
  if (label->next) label->next->previous = label->previous;
  zvDeleteTextBlock(label->text);
  zvFree(label);
}

void zvDeleteAllLabels(void) {
  while (labels) zvDeleteLabel(labels);
}

void zvDeleteObjectLabels(ZvObj* object) {
  for (ZvLabel* label = labels; label;) {
    ZvLabel* next = label->next;
    if (label->object == object) zvDeleteLabel(label);
    label = next;
  }
}

ZvLabel* zvFindLabel(ZvObj* object, int kind) {
  for (ZvLabel* label = labels; label; label = label->next)
    if (label->object == object && (kind == 0 || label->kind == kind)) return label;
  return nullptr;
}

ZvLabel* zvFirstLabel(void) { return labels; }

int zvSetLabelText(ZvLabel* label, const char* text) {
  if (!label || !text) return -1;
  zvTextClear(label->text);
  if (zvTextAddParagraph(label->text, text) != 0) return -1;
  label->width = zvTextWidest(label->text);
  label->height = zvTextHeight(label->text);
  return 0;
}

void zvSetLabelPoint(ZvLabel* label, const float point[3]) {
  if (label && point) std::memcpy(label->point, point, sizeof label->point);
}
void zvSetLabelAnchor(ZvLabel* label, int mode) {
  if (label) label->anchor = mode;
}
void zvSetLabelFlags(ZvLabel* label, uint32_t bits) {
  if (label) label->flags |= bits;
}
void zvClearLabelFlags(ZvLabel* label, uint32_t bits) {
  if (label) label->flags &= ~bits;
}

void zvSetLabelTime(ZvLabel* label, int milliseconds) {
  if (!label) return;
  if (milliseconds < 0) milliseconds = 0;
  int32_t s, ms;
  now(&s, &ms);
  int64_t total = int64_t(ms) + milliseconds;
  label->expirySeconds = int32_t(s + total / 1000);
  label->expiryMilliseconds = int32_t(total % 1000);
  label->flags |= ZV_LABEL_TIMED;
}

void zvLabelCorner(int ax, int ay, int width, int height, int clamp, int viewWidth, int viewHeight, int* x, int* y) {
  int cx = ax - width / 2, cy = ay - height;
  if (clamp) {
    if (cx + width + 4 >= viewWidth) cx = viewWidth - width - 8;
    if (cy + height + 2 >= viewHeight) cy = viewHeight - height - 6;
    if (cx < 0) cx = 0;
    if (cy < 0) cy = 0;
  }
  *x = cx;
  *y = cy;
}

int zvPlaceLabel(ZvLabel* label) {
  if (!label) return -1;
  float point[3];
  if (label->anchor == ZV_ANCHOR_POINT) {
    std::memcpy(point, label->point, sizeof point);
  } else if (label->anchor >= ZV_ANCHOR_CENTRE && label->anchor <= ZV_ANCHOR_BOTTOM) {
    ZvObj* object = label->object;
    if (!object) return -1;
    const float* lo = object->cubeMin;
    const float* hi = object->cubeMax;
    float own[3] = {(lo[0] + hi[0]) * 0.5f,
                    label->anchor == ZV_ANCHOR_CENTRE ? (lo[1] + hi[1]) * 0.5f
                    : label->anchor == ZV_ANCHOR_TOP  ? hi[1]
                                                      : lo[1],
                    (lo[2] + hi[2]) * 0.5f};
    zvTransformPoint(zvGetObjectWRT(object), own, point);
  } else {
    zvWarning("zvPlaceLabel : unknown anchor mode %d", int(label->anchor));
    return -1;
  }
  ZvWorld* world = label->object ? label->object->world : zvGetCurrentWorld();
  int ax = 0, ay = 0, visible = 0;
  if (!world || project(world, point, &ax, &ay, &visible) != 0 || !visible) {
    label->placed = 0;
    return 1;
  }
  int viewWidth, viewHeight;
  zvRenderGetViewSize(&viewWidth, &viewHeight);
  int x, y;
  zvLabelCorner(ax, ay, label->width, label->height, label->anchor == ZV_ANCHOR_POINT, viewWidth, viewHeight, &x, &y);
  if (label->placed && x == label->x && y == label->y) return 0;
  if ((label->flags & ZV_LABEL_ONE_PLACE) && label->placed) {
    zvDeleteLabel(label);
    return 2;
  }
  // The next frame paints it at its new place.
  label->x = x;
  label->y = y;
  label->placed = 1;
  return 0;
}

void zvUpdateLabels(void) {
  int32_t s, ms;
  now(&s, &ms);
  for (ZvLabel* label = labels; label;) {
    ZvLabel* next = label->next;
    bool expired = (label->flags & ZV_LABEL_TIMED) &&
                   (s > label->expirySeconds || (s == label->expirySeconds && ms >= label->expiryMilliseconds));
    if (expired)
      zvDeleteLabel(label);
    else if (!(label->flags & ZV_LABEL_HIDDEN) && (label->flags & (ZV_LABEL_FOLLOWS | ZV_LABEL_ONE_PLACE)))
      zvPlaceLabel(label);
    label = next;
  }
}

void zvDrawLabels(RwImage* image) {
  if (!image || !image->pixels || image->stride < 4 * image->width) return;
  for (ZvLabel* label = labels; label; label = label->next)
    if (label->placed && !(label->flags & ZV_LABEL_HIDDEN)) drawLabel(image, label);
}

void zvShowLabels(void) {
  labelsVisible = 1;
  for (ZvLabel* label = labels; label; label = label->next) label->flags &= ~uint32_t(ZV_LABEL_HIDDEN);
}

void zvHideLabels(void) {
  labelsVisible = 0;
  for (ZvLabel* label = labels; label; label = label->next) label->flags |= ZV_LABEL_HIDDEN;
}

int zvLabelsVisible(void) { return labelsVisible; }

void zvSetHoverLabels(int on) { hoverOn = on ? 1 : 0; }
int zvHoverLabelsOn(void) { return hoverOn; }

ZvObj* zvHoverLabelSource(ZvObj* hit, int names, int comments, const char** text) {
  *text = nullptr;
  if (!hit) return nullptr;
  bool byName = !comments && names;
  for (ZvObj* o = hit; o; o = o->parent) {
    const char* s = o->strings[byName ? ZV_STR_NAME : ZV_STR_COMMENT];
    if (s && *s) {
      *text = s;
      return o;
    }
  }
  return nullptr;
}

void zvLabelPointerMotion(ZvWorld* world, int x, int y) {
  if (!hoverOn || !world) return;
  ZvPickResult hit{};
  if (zvPickupZvShape(world, x, y, &hit) != ZV_OK || !hit.object) return;
  const char* text = nullptr;
  ZvObj* owner = zvHoverLabelSource(hit.object, showNames, showComments, &text);
  if (!owner) return;
  if (!hoverFont) hoverFont = zvNewFont("ARIAL Italic", 16, 0x808080, 0xffffff, ZV_FONT_SHADOW);
  if (!hoverFont) return;
  if (ZvLabel* label = zvFindLabel(owner, ZV_LABEL_HOVER)) {
    ZvTextParagraph* p = label->text->first;
    if (p && std::strcmp(p->text, text) == 0) return;  // not renewed
    if (zvSetLabelText(label, text) != 0) {
      zvDeleteLabel(label);
      return;
    }
    zvSetLabelTime(label, ZV_HOVER_TIME);
    zvPlaceLabel(label);
    return;
  }
  ZvLabel* label = zvNewLabel(owner, nullptr, hoverFont, ZV_LABEL_HOVER);
  if (!label) return;
  if (zvSetLabelText(label, text) != 0) {
    zvDeleteLabel(label);
    return;
  }
  zvSetLabelPoint(label, hit.point);
  zvSetLabelAnchor(label, ZV_ANCHOR_POINT);
  zvSetLabelFlags(label, ZV_LABEL_FOLLOWS);
  zvSetLabelTime(label, ZV_HOVER_TIME);
  zvPlaceLabel(label);
}

int zvShowTextLabel(ZvObj* object, const char* text) {
  if (!object || !text) return -1;
  if (ZvLabel* label = zvFindLabel(object, ZV_LABEL_TEXT)) {
    ZvTextParagraph* p = label->text->first;
    if (p && std::strcmp(p->text, text) == 0) return 0;  // a repeat does not restart it
    if (zvSetLabelText(label, text) != 0) {
      zvDeleteLabel(label);
      return -1;
    }
    zvClearLabelFlags(label, ZV_LABEL_HIDDEN);
    zvSetLabelTime(label, ZV_TEXT_REPLACED_TIME);
    zvPlaceLabel(label);
    return 0;
  }
  if (!textFont) textFont = zvNewFont("FixedSys", 12, 0x000000, 0xc0c0c0, 0);
  if (!textFont) return -1;
  ZvLabel* label = zvNewLabel(object, nullptr, textFont, ZV_LABEL_TEXT);
  if (!label) return -1;
  if (zvSetLabelText(label, text) != 0) {
    zvDeleteLabel(label);
    return -1;
  }
  zvSetLabelAnchor(label, ZV_ANCHOR_TOP);
  zvSetLabelFlags(label, ZV_LABEL_FOLLOWS);
  zvSetLabelTime(label, ZV_TEXT_NEW_TIME);
  zvPlaceLabel(label);
  return 0;
}

void zvSetLabelClock(ZvLabelClock clock) { clockSource = clock; }
void zvSetLabelProjector(ZvLabelProjector p) { projector = p; }

void zvInstallLabels(int names, int comments, int scouter) {
  showNames = names;
  showComments = comments;
  noBackground = scouter;
  zvRenderSetOverlayPainter(paintOverlay);
  zvSceneHooks().destroyObjLabels = zvDeleteObjectLabels;
}

void zvUninstallLabels(void) {
  zvRenderSetOverlayPainter(nullptr);
  zvSceneHooks().destroyObjLabels = nullptr;
  zvDeleteAllLabels();
  zvDeleteFont(hoverFont);
  hoverFont = nullptr;
  zvDeleteFont(textFont);
  textFont = nullptr;
}
