// input.cpp — the view's left button, pointer motion and keys become the
// world's interaction events, the held-key table and the pad's drawn state.
//
// A press starts a PICK. Holding it for a second, or moving it more than a
// few pixels, turns it into a GRAB followed by DRAGs, and letting go ends
// with a RELEASE; a short still click delivers the PICK when the button
// comes up. When nothing under the press wants grab events, the drag steers
// instead, and the pad shows the direction. Apart from all that, the button
// itself is reported: LEFT_BUTTON_DOWN to what lies under the press and
// LEFT_BUTTON_UP to what lies under the release, so that a world can
// react to the press at once rather than when the click is complete.
#include "shell/input.h"

#include <cstring>
#include <initializer_list>

#include "platform/window.h"

namespace {

const uint32_t kGrabDelay = 1000;  // ms a still press takes to become a grab
const int64_t kDragThreshold = 5;  // pixels, each direction

ZvInputHooks hooks;
ZvPointerState pointer;
int navigationOff;  // the navigation's drag handling is off for this press
uint8_t keyStates[256];
// Keys held by the pad's buttons, apart from the keyboard's, so that
// letting go of one never lets go of the other.
uint8_t padHeld[256];

// Keys without a slot of their own share this one, so they still record
// as held without disturbing a real key.
const int kSpareKey = 0xFF;

// X keysyms the window layer has no names for.
const uint32_t kKeyMetaL = 0xffe7, kKeyMetaR = 0xffe8;
const uint32_t kKeyAltL = 0xffe9, kKeyAltR = 0xffea;
const uint32_t kKeyF1 = 0xffbe;

int64_t absolute(int64_t v) { return v < 0 ? -v : v; }
int sign(int64_t v) { return (v > 0) - (v < 0); }

void showPad(int id, int pressed) {
  if (hooks.showPadButton) hooks.showPadButton(id, pressed);
}

ZvObj* findAncestor(ZvObj* o, uint32_t mask) {
  for (; o; o = o->parent)
    if (o->eventMask & mask) return o;
  return nullptr;
}

ZvObj* findAnchor(ZvObj* o) {
  for (; o; o = o->parent)
    if (zvGetObjExtension(o, zvWWWAnchor)) return o;
  return nullptr;
}

void findHandlerObjects(void) {
  pointer.pickObject = findAncestor(pointer.picked, ZV_EVENT_PICK);
  pointer.anchorObject = findAnchor(pointer.picked);
  pointer.grabObject = findAncestor(pointer.picked, ZV_EVENT_GRAB_MASK);
}

void repick(void) {
  ZvObj* object = nullptr;
  float point[3] = {0, 0, 0};
  ZvLeaf* part = nullptr;
  if (hooks.pick && hooks.pick(pointer.x, pointer.y, &object, point, &part) == 0 && object) {
    pointer.picked = object;
    std::memcpy(pointer.point, point, sizeof point);
    pointer.part = part;
  } else {
    // The leaf of an earlier hit may be gone by now; events must not carry it.
    pointer.picked = nullptr;
    pointer.part = nullptr;
  }
}

void chooseCursor(void) {
  int kind = ZV_CURSOR_ARROW;
  if (pointer.buttonDown && pointer.grabObject && pointer.target)
    kind = ZV_CURSOR_DRAG;
  else if (pointer.pickObject)
    kind = ZV_CURSOR_PICK;
  else if (pointer.anchorObject)
    kind = ZV_CURSOR_URL;
  else if (pointer.grabObject)
    kind = ZV_CURSOR_GRAB;
  if (kind == pointer.cursor) return;
  pointer.cursor = kind;
  if (hooks.setCursor) hooks.setCursor(kind);
}

uint32_t eventModifiers(uint32_t state) {
  uint32_t m = 0;
  if (state & ZV_MOD_SHIFT) m |= ZV_EVENT_SHIFT;
  if (state & ZV_MOD_CONTROL) m |= ZV_EVENT_CONTROL;
  if (state & ZV_MOD_ALT) m |= ZV_EVENT_ALT;
  return m;
}

void buildEventAt(ZvEvent* e, uint32_t type, uint32_t state, uint32_t time, uint32_t key, const float point[3],
                  ZvLeaf* part) {
  std::memset(e, 0, sizeof *e);
  e->type = type;
  e->point2[0] = static_cast<float>(pointer.x);
  e->point2[1] = static_cast<float>(pointer.y);
  e->modifiers = eventModifiers(state);
  e->seconds = time / 1000;
  e->milliseconds = time % 1000;
  e->key = key;
  std::memcpy(e->point3, point, sizeof e->point3);
  e->part = part;
}

void buildEvent(ZvEvent* e, uint32_t type, uint32_t state, uint32_t time, uint32_t key) {
  buildEventAt(e, type, state, time, key, pointer.point, pointer.part);
}

// Shows a change of one steering direction on its pair of pad buttons.
void showSteer(int* current, int wanted, int negativeId, int positiveId) {
  if (*current == wanted) return;
  *current = wanted;
  if (wanted < 0) {
    showPad(negativeId, 1);
    showPad(positiveId, 0);
  } else if (wanted > 0) {
    showPad(positiveId, 1);
    showPad(negativeId, 0);
  } else {
    showPad(negativeId, 0);
    showPad(positiveId, 0);
  }
}

void showDragDirection(void) {
  int64_t dx = int64_t{pointer.x} - pointer.pressX;
  int64_t dy = int64_t{pointer.y} - pointer.pressY;
  int horizontal = sign(dx), vertical = sign(dy);
  // A mostly sideways drag keeps its slight vertical lean only while that
  // lean is small, and a mostly vertical one drops a slight sideways lean.
  if (absolute(dy) <= absolute(dx)) {
    if (absolute(dy) > kDragThreshold) vertical = 0;
  } else if (absolute(dx) < kDragThreshold) {
    horizontal = 0;
  }
  showSteer(&pointer.steerY, vertical, ZV_PAD_FORWARD, ZV_PAD_BACKWARD);
  showSteer(&pointer.steerX, horizontal, ZV_PAD_TURN_LEFT, ZV_PAD_TURN_RIGHT);
}

void releaseSteering(void) {
  showPad(ZV_PAD_TURN_LEFT, 0);
  showPad(ZV_PAD_FORWARD, 0);
  showPad(ZV_PAD_BACKWARD, 0);
  showPad(ZV_PAD_TURN_RIGHT, 0);
  pointer.steerX = pointer.steerY = 0;
}

void deliver(ZvObj* target, ZvEvent* e) {
  if (hooks.deliver) hooks.deliver(target, e);
}

void dispatch(void) {
  ZvEvent* e = &pointer.event;
  if (e->type == ZV_EVENT_PICK) {
    // Control-click is the navigation's; it must not follow links either.
    if ((e->modifiers & ZV_EVENT_CONTROL) || !pointer.target) return;
    deliver(pointer.target, e);
    if (pointer.anchorObject && hooks.anchorUrl && hooks.openUrl) {
      const char* url = hooks.anchorUrl(pointer.anchorObject);
      if (url && *url) hooks.openUrl(url);
    }
  } else if (pointer.grabObject && pointer.target) {
    deliver(pointer.target, e);
  } else if (e->type == ZV_EVENT_RELEASE) {
    releaseSteering();
  } else if (!(e->modifiers & ZV_EVENT_ALT)) {
    showDragDirection();
  }
}

// A still press held long enough is a grab.
void promoteHeldPick(uint32_t time) {
  if (pointer.event.type == ZV_EVENT_PICK && time - pointer.pressTime >= kGrabDelay) {
    pointer.event.type = ZV_EVENT_GRAB;
    dispatch();
  }
}

void setNavigationPointer(int on) {
  if (navigationOff == !on) return;
  navigationOff = !on;
  if (hooks.navPointer) hooks.navPointer(on);
}

void press(int x, int y, uint32_t state, uint32_t time) {
  pointer.x = pointer.pressX = x;
  pointer.y = pointer.pressY = y;
  pointer.buttonDown = 1;
  pointer.pressTime = time;
  buildEvent(&pointer.event, ZV_EVENT_PICK, state, time, 0);
  repick();
  pointer.target = pointer.picked;
  findHandlerObjects();
  chooseCursor();
  setNavigationPointer(!((state & ZV_MOD_ALT) || pointer.grabObject));
  if (pointer.picked) {
    ZvEvent e;
    buildEvent(&e, ZV_EVENT_LEFT_BUTTON_DOWN, state, time, 0);
    deliver(pointer.picked, &e);
  }
}

// The button's own release goes to what is under it now, picked apart
// from the pointer state: the press's pick stays what the click is about.
void deliverButtonUp(int x, int y, uint32_t state, uint32_t time) {
  ZvObj* object = nullptr;
  float point[3] = {0, 0, 0};
  ZvLeaf* part = nullptr;
  if (!hooks.pick || hooks.pick(x, y, &object, point, &part) != 0 || !object) return;
  ZvEvent e;
  buildEventAt(&e, ZV_EVENT_LEFT_BUTTON_UP, state, time, 0, point, part);
  deliver(object, &e);
}

void move(int x, int y, uint32_t state, uint32_t time) {
  pointer.x = x;
  pointer.y = y;
  repick();
  if (!pointer.buttonDown) findHandlerObjects();
  chooseCursor();
  if (!pointer.buttonDown) return;

  promoteHeldPick(time);
  uint32_t type = pointer.event.type;
  if (type != ZV_EVENT_PICK && type != ZV_EVENT_GRAB) {
    if (pointer.event.point2[0] != static_cast<float>(x) || pointer.event.point2[1] != static_cast<float>(y)) {
      buildEvent(&pointer.event, ZV_EVENT_DRAG, state, time, 0);
      dispatch();
    }
    return;
  }
  if (absolute(int64_t{x} - pointer.pressX) > kDragThreshold ||
      absolute(int64_t{y} - pointer.pressY) > kDragThreshold) {
    if (type == ZV_EVENT_PICK) {
      pointer.event.type = ZV_EVENT_GRAB;
      dispatch();
    }
    buildEvent(&pointer.event, ZV_EVENT_DRAG, state, time, 0);
    dispatch();
  }
}

void release(int x, int y, uint32_t state, uint32_t time) {
  if (!pointer.buttonDown) return;  // a press we never saw
  pointer.x = x;
  pointer.y = y;
  deliverButtonUp(x, y, state, time);
  if (pointer.event.type != ZV_EVENT_PICK) {
    buildEvent(&pointer.event, ZV_EVENT_RELEASE, state, time, 0);
  } else if (time - pointer.pressTime >= kGrabDelay) {
    pointer.event.type = ZV_EVENT_GRAB;
    dispatch();
    buildEvent(&pointer.event, ZV_EVENT_RELEASE, state, time, 0);
  }
  dispatch();
  pointer.buttonDown = 0;
  setNavigationPointer(1);
  chooseCursor();
}

int virtualKey(uint32_t keysym) {
  switch (keysym) {
    case ZV_KEY_LEFT: case ZV_KEY_KP_LEFT: return ZV_VK_LEFT;
    case ZV_KEY_UP: case ZV_KEY_KP_UP: return ZV_VK_UP;
    case ZV_KEY_RIGHT: case ZV_KEY_KP_RIGHT: return ZV_VK_RIGHT;
    case ZV_KEY_DOWN: case ZV_KEY_KP_DOWN: return ZV_VK_DOWN;
    case ZV_KEY_SHIFT_L: case ZV_KEY_SHIFT_R: return ZV_VK_SHIFT;
    case ZV_KEY_CONTROL_L: case ZV_KEY_CONTROL_R: return ZV_VK_CONTROL;
    case kKeyMetaL: case kKeyMetaR:
    case kKeyAltL: case kKeyAltR: return ZV_VK_ALT;
    case ZV_KEY_ESCAPE: return ZV_VK_ESCAPE;
  }
  if (keysym >= 'a' && keysym <= 'z') return static_cast<int>(keysym - 'a' + 'A');
  if ((keysym >= 'A' && keysym <= 'Z') || (keysym >= '0' && keysym <= '9')) return static_cast<int>(keysym);
  if (keysym >= kKeyF1 && keysym < kKeyF1 + 12) return static_cast<int>(0x70 + keysym - kKeyF1);
  return kSpareKey;
}

uint32_t keyCode(int vk) {
  switch (vk) {
    case ZV_VK_UP: return ZV_KEYCODE_UP;
    case ZV_VK_DOWN: return ZV_KEYCODE_DOWN;
    case ZV_VK_LEFT: return ZV_KEYCODE_LEFT;
    case ZV_VK_RIGHT: return ZV_KEYCODE_RIGHT;
    case ZV_VK_ESCAPE: return ZV_KEYCODE_ESCAPE;
    case ZV_VK_ALT: return ZV_KEYCODE_ALT;
  }
  return ZV_KEYCODE_OTHER;
}

void holdKey(int vk) {
  keyStates[vk] = static_cast<uint8_t>((keyStates[vk] | 0x80) ^ 0x01);
}

void letKeyGo(int vk) { keyStates[vk] &= 0x7F; }

void showArrowPressed(int vk, uint32_t state) {
  int shift = (state & ZV_MOD_SHIFT) || zvKeyDown(ZV_VK_SHIFT);
  switch (vk) {
    case ZV_VK_LEFT: showPad(shift ? ZV_PAD_SLIDE_LEFT : ZV_PAD_TURN_LEFT, 1); break;
    case ZV_VK_UP: showPad(ZV_PAD_FORWARD, 1); break;
    case ZV_VK_RIGHT: showPad(shift ? ZV_PAD_SLIDE_RIGHT : ZV_PAD_TURN_RIGHT, 1); break;
    case ZV_VK_DOWN: showPad(ZV_PAD_BACKWARD, 1); break;
  }
}

// Shift may have changed while the arrow was held, so both of its buttons go.
void showArrowReleased(int vk) {
  switch (vk) {
    case ZV_VK_LEFT: showPad(ZV_PAD_TURN_LEFT, 0); showPad(ZV_PAD_SLIDE_LEFT, 0); break;
    case ZV_VK_UP: showPad(ZV_PAD_FORWARD, 0); break;
    case ZV_VK_RIGHT: showPad(ZV_PAD_SLIDE_RIGHT, 0); showPad(ZV_PAD_TURN_RIGHT, 0); break;
    case ZV_VK_DOWN: showPad(ZV_PAD_BACKWARD, 0); break;
  }
}

}  // namespace

ZvInputHooks& zvInputHooks(void) { return hooks; }

void zvMouseInput(int kind, int x, int y, uint32_t state, uint32_t time) {
  switch (kind) {
    case ZV_POINTER_PRESS: press(x, y, state, time); break;
    case ZV_POINTER_MOTION: move(x, y, state, time); break;
    case ZV_POINTER_RELEASE: release(x, y, state, time); break;
  }
}

void zvKeyInput(int down, uint32_t keysym, uint32_t state, uint32_t time) {
  int vk = virtualKey(keysym);
  ZvEvent e;
  if (down) {
    repick();
    if (!pointer.buttonDown) findHandlerObjects();
    chooseCursor();
    holdKey(vk);
    showArrowPressed(vk, state);
    buildEvent(&e, ZV_EVENT_KEY_DOWN, state, time, keyCode(vk));
    // A key event has no object of its own: the null target is the world.
    deliver(nullptr, &e);
    if (e.key == ZV_KEYCODE_ESCAPE && hooks.hop) hooks.hop();
  } else {
    letKeyGo(vk);
    showArrowReleased(vk);
    chooseCursor();
    buildEvent(&e, ZV_EVENT_KEY_UP, state, time, keyCode(vk));
    deliver(nullptr, &e);
  }
}

void zvPadButtonInput(int id, int pressed) {
  int keys[2] = {0, 0};
  switch (id) {
    case ZV_PAD_TURN_LEFT: keys[0] = ZV_VK_LEFT; break;
    case ZV_PAD_SLIDE_LEFT: keys[0] = ZV_VK_SHIFT; keys[1] = ZV_VK_LEFT; break;
    case ZV_PAD_FORWARD: keys[0] = ZV_VK_UP; break;
    case ZV_PAD_BACKWARD: keys[0] = ZV_VK_DOWN; break;
    case ZV_PAD_SLIDE_RIGHT: keys[0] = ZV_VK_SHIFT; keys[1] = ZV_VK_RIGHT; break;
    case ZV_PAD_TURN_RIGHT: keys[0] = ZV_VK_RIGHT; break;
    default: return;
  }
  for (int vk : keys) {
    if (!vk) continue;
    if (pressed) {
      if (!padHeld[vk]) keyStates[vk] ^= 0x01;
      padHeld[vk] = 1;
    } else {
      padHeld[vk] = 0;
    }
  }
}

void zvClearKeyStates(void) {
  std::memset(keyStates, 0, sizeof keyStates);
  std::memset(padHeld, 0, sizeof padHeld);
}

uint8_t zvKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey >= 256) return 0;
  return padHeld[virtualKey] ? uint8_t(keyStates[virtualKey] | 0x80) : keyStates[virtualKey];
}

int zvKeyDown(int virtualKey) { return (zvKeyState(virtualKey) & 0x80) != 0; }

const ZvPointerState* zvPointerState(void) { return &pointer; }

void zvInputForgetObject(ZvObj* object) {
  if (!object) return;
  for (ZvObj** held : {&pointer.picked, &pointer.target, &pointer.pickObject, &pointer.anchorObject,
                       &pointer.grabObject})
    if (*held == object) *held = nullptr;
  if (pointer.part && pointer.part->owner == object) pointer.part = nullptr;
  if (pointer.event.part && pointer.event.part->owner == object) pointer.event.part = nullptr;
}

void zvResetPointerState(void) {
  // A press cut short by a new world must not leave the navigation deaf.
  setNavigationPointer(1);
  if (pointer.steerX || pointer.steerY) releaseSteering();
  std::memset(&pointer, 0, sizeof pointer);
}
