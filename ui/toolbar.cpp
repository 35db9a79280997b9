// toolbar.cpp — picture-button bars. A press takes the pointer (the
// platform's button keeps it until the release), shows the pressed picture
// and, for buttons that report presses, sends the press at once; moving
// off and back on shows and reports the change; letting go over the button
// sends the command. The pad's buttons report presses, so that holding one
// holds its arrow key.
#include "ui/toolbar.h"

#include <algorithm>

#include "platform/window.h"
#include "ui/ui.h"

namespace {

struct ButtonLink {
  ZvToolBar* bar;
  int id;
};

// Each platform button carries its bar and identifier back to us.
std::vector<ButtonLink*> links;

void onButton(void* user, ZvPlatformButton*, int kind, int inside) {
  auto* link = static_cast<ButtonLink*>(user);
  zvToolBarButtonEvent(link->bar, link->id, kind, inside);
}

void paint(ZvToolBarButton* b) {
  if (!b->window || b->state < 0 || b->state >= int(b->pictures.size())) return;
  const ZvToolPicture& p = b->pictures[b->state];
  const std::vector<uint8_t>& pixels = b->pressed && !p.pressed.empty() ? p.pressed : p.normal;
  if (pixels.empty()) return;
  zvPlatformShowButtonPicture(b->window, pixels.data(), b->width, b->height, 4 * b->width);
}

void send(ZvToolBar* bar, int id, int press) {
  if (bar->command) bar->command(bar->user, id, press);
}

// The bar's size follows its buttons, each at its offset from the end of
// the one before.
void measure(ZvToolBar* bar) {
  int across = 0, along = 0;
  for (const ZvToolBarButton& b : bar->buttons) {
    if (bar->column) {
      across = std::max(across, b.x + b.width);
      along += b.y + b.height;
    } else {
      across = std::max(across, b.y + b.height);
      along += b.x + b.width;
    }
  }
  bar->width = bar->innerX + (bar->column ? across : along);
  bar->height = bar->innerY + (bar->column ? along : across);
}

}  // namespace

ZvToolBar* zvCreateToolBar(ZvPlatformWindow* parent, ZvToolBarCommand command, void* user) {
  auto* bar = new ZvToolBar{};
  bar->command = command;
  bar->user = user;
  bar->column = 1;
  if (parent) {
    bar->window = zvPlatformNewPanel(parent);
    if (!bar->window) {
      delete bar;
      return nullptr;
    }
  }
  return bar;
}

void zvDestroyToolBar(ZvToolBar* bar) {
  if (!bar) return;
  links.erase(std::remove_if(links.begin(), links.end(),
                             [bar](ButtonLink* l) {
                               if (l->bar != bar) return false;
                               delete l;
                               return true;
                             }),
              links.end());
  zvPlatformDeletePanel(bar->window);
  delete bar;
}

ZvToolBarButton* zvToolBarFind(ZvToolBar* bar, int id) {
  if (!bar) return nullptr;
  for (ZvToolBarButton& b : bar->buttons)
    if (b.id == id) return &b;
  return nullptr;
}

int zvToolBarAddButton(ZvToolBar* bar, int id, int x, int y, int width, int height) {
  if (!bar || zvToolBarFind(bar, id) || width < 1 || height < 1 || width > 256 || height > 256) return -1;
  ZvToolBarButton b{};
  b.id = id;
  b.x = x;
  b.y = y;
  b.width = width;
  b.height = height;
  if (bar->window) {
    auto* link = new ButtonLink{bar, id};
    b.window = zvPlatformNewButton(bar->window, width, height, onButton, link);
    if (!b.window) {
      delete link;
      return -1;
    }
    links.push_back(link);
  }
  bar->buttons.push_back(std::move(b));
  return 0;
}

int zvToolBarAddPicture(ZvToolBar* bar, int id, const char* normal, const char* pressed) {
  ZvToolBarButton* b = zvToolBarFind(bar, id);
  if (!b || !normal) return -1;
  ZvToolPicture picture;
  auto draw = [b](const char* name, std::vector<uint8_t>* out) {
    out->assign(size_t(4) * b->width * b->height, 0);
    return zvDrawButtonPicture(name, out->data(), b->width, b->height, 4 * b->width) == 0;
  };
  if (!draw(normal, &picture.normal)) return -1;
  if (pressed && !draw(pressed, &picture.pressed)) picture.pressed.clear();
  b->pictures.push_back(std::move(picture));
  if (b->pictures.size() == 1) paint(b);
  return 0;
}

int zvToolBarSetReportPresses(ZvToolBar* bar, int id, int flag) {
  ZvToolBarButton* b = zvToolBarFind(bar, id);
  if (!b) return -1;
  b->reportPresses = flag != 0;
  return 0;
}

int zvToolBarSetLayout(ZvToolBar* bar, int left, int top, int innerX, int innerY, int centred, int dock) {
  if (!bar || dock < ZV_DOCK_TOP || dock > ZV_DOCK_RIGHT) return -1;
  bar->left = left;
  bar->top = top;
  bar->innerX = innerX;
  bar->innerY = innerY;
  bar->centred = centred != 0;
  bar->dock = dock;
  bar->column = dock == ZV_DOCK_LEFT || dock == ZV_DOCK_RIGHT;
  measure(bar);
  return 0;
}

int zvToolBarSetState(ZvToolBar* bar, int id, int state) {
  ZvToolBarButton* b = zvToolBarFind(bar, id);
  if (!b || state < 0 || state >= int(b->pictures.size())) return -1;
  if (b->state == state) return 0;
  b->state = state;
  paint(b);
  return 0;
}

int zvToolBarState(const ZvToolBar* bar, int id) {
  const ZvToolBarButton* b = zvToolBarFind(const_cast<ZvToolBar*>(bar), id);
  return b ? b->state : -1;
}

int zvToolBarShowPressed(ZvToolBar* bar, int id, int pressed) {
  ZvToolBarButton* b = zvToolBarFind(bar, id);
  if (!b) return -1;
  pressed = pressed != 0;
  if (b->pressed != pressed) {
    b->pressed = pressed;
    paint(b);
  }
  return 0;
}

int zvToolBarPressed(const ZvToolBar* bar, int id) {
  const ZvToolBarButton* b = zvToolBarFind(const_cast<ZvToolBar*>(bar), id);
  return b ? b->pressed : -1;
}

void zvToolBarLayout(ZvToolBar* bar, int clientWidth, int clientHeight) {
  if (!bar) return;
  measure(bar);
  // The inner margins are what is left after the last button.
  int x = 0, y = 0;
  for (ZvToolBarButton& b : bar->buttons) {
    if (bar->column) {
      y += b.y;
      b.placedX = x + b.x;
      b.placedY = y;
      y += b.height;
    } else {
      x += b.x;
      b.placedX = x;
      b.placedY = y + b.y;
      x += b.width;
    }
    if (b.window) zvPlatformPlaceButton(b.window, b.placedX, b.placedY);
  }
  // Centred along the docking edge unless that would cross the margin.
  if (bar->dock == ZV_DOCK_TOP || bar->dock == ZV_DOCK_BOTTOM) {
    int centre = clientWidth / 2 - bar->width / 2;
    bar->placedX = bar->centred && centre >= bar->left ? centre : bar->left;
    bar->placedY = bar->dock == ZV_DOCK_TOP ? bar->top : clientHeight - bar->height;
  } else {
    int centre = clientHeight / 2 - bar->height / 2;
    bar->placedY = bar->centred && centre >= bar->top ? centre : bar->top;
    bar->placedX = bar->dock == ZV_DOCK_LEFT ? bar->left : clientWidth - bar->width;
  }
  if (bar->window) zvPlatformPlacePanel(bar->window, bar->placedX, bar->placedY, bar->width, bar->height);
}

void zvToolBarButtonEvent(ZvToolBar* bar, int id, int kind, int inside) {
  ZvToolBarButton* b = zvToolBarFind(bar, id);
  if (!b) return;
  switch (kind) {
    case ZV_BUTTON_PRESS:
      b->mouseHeld = 1;
      zvToolBarShowPressed(bar, id, 1);
      if (b->reportPresses) send(bar, id, 1);
      break;
    case ZV_BUTTON_MOTION:
      if (!b->mouseHeld || b->pressed == (inside != 0)) break;
      zvToolBarShowPressed(bar, id, inside);
      if (b->reportPresses) send(bar, id, inside != 0);
      break;
    case ZV_BUTTON_RELEASE: {
      if (!b->mouseHeld) break;
      b->mouseHeld = 0;
      int wasPressed = b->pressed;
      zvToolBarShowPressed(bar, id, 0);
      // A pad button held down is let go wherever the pointer is; an
      // ordinary button acts only when released over itself.
      if (inside || (b->reportPresses && wasPressed)) send(bar, id, 0);
      break;
    }
    default:
      break;
  }
}
