// navlink.cpp — the window's keys and pointer steer the person: the frame
// timer runs the navigation step, the held-keys table is what it reads, a
// drag in the view steers, and Escape hops.
#include "nav/nav.h"
#include "platform/window.h"
#include "shell/input.h"
#include "shell/shell.h"

namespace {

// The key-state table, keyboard and pad together.
void readHeldKeys(ZvNavKeys* keys) {
  keys->up = zvKeyDown(ZV_VK_UP);
  keys->down = zvKeyDown(ZV_VK_DOWN);
  keys->left = zvKeyDown(ZV_VK_LEFT);
  keys->right = zvKeyDown(ZV_VK_RIGHT);
  keys->shift = zvKeyDown(ZV_VK_SHIFT);
  keys->control = zvKeyDown(ZV_VK_CONTROL);
}

void step(void) { zvNavStep(); }

void hop(void) {
  if (ZvWorld* world = zvGetCurrentWorld()) zvNavJump(world->person, 3.0f);
}

// The left button steers; the others are for picking, which comes with
// the interaction layer.
void pointer(int kind, int x, int y, int button, uint32_t state) {
  switch (kind) {
    case ZV_POINTER_PRESS:
      if (button == 1) zvNavButtonPress(x, y, (state & ZV_MOD_SHIFT) != 0, (state & ZV_MOD_CONTROL) != 0);
      break;
    case ZV_POINTER_MOTION:
      if (state & ZV_MOD_BUTTON1) zvNavPointerMotion(x, y);
      break;
    case ZV_POINTER_RELEASE:
      if (button == 1) zvNavButtonRelease();
      break;
  }
}

}  // namespace

void zvConnectNavigation(void) {
  zvNavSetKeyReader(readHeldKeys);
  ZvShellHooks* hooks = zvShellHooks();
  hooks->navStep = step;
  hooks->jump = hop;
  hooks->pointer = pointer;
}
