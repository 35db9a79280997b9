// The view's button, motion and keys turned into interaction events, the
// held-key table and the pad's drawn state, driven through recording hooks.
#include "shell/input.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"
#include "tests/support/testsupport.h"

namespace {

struct Delivered {
  uint32_t type;
  ZvObj* target;
  ZvEvent event;
};
using Pad = std::pair<int, int>;

std::vector<Delivered> delivered;
std::vector<Delivered> buttons;  // LEFT_BUTTON_DOWN and _UP, apart from the design's events
std::vector<Pad> pads;
std::vector<int> cursors, navCalls;
std::vector<std::string> opened;
int hops;
ZvObj* under;  // what the pick finds left of x = 1000; nothing to the right
const char* anchorText;

int pickAt(int x, int y, ZvObj** object, float point[3], ZvLeaf** part) {
  if (!under || x >= 1000) return -1;
  *object = under;
  point[0] = float(x), point[1] = float(y), point[2] = 7;
  *part = under->leaf;
  return 0;
}

class Input : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    delivered.clear(), buttons.clear(), pads.clear(), cursors.clear(), navCalls.clear(), opened.clear();
    hops = 0, under = nullptr, anchorText = "http://host/next.wrl";
    zvResetPointerState();
    zvClearKeyStates();
    ZvInputHooks& h = zvInputHooks();
    h.pick = pickAt;
    h.setCursor = [](int kind) { cursors.push_back(kind); };
    h.showPadButton = [](int id, int on) { pads.push_back({id, on}); };
    h.deliver = [](ZvObj* t, ZvEvent* e) {
      bool button = e->type == ZV_EVENT_LEFT_BUTTON_DOWN || e->type == ZV_EVENT_LEFT_BUTTON_UP;
      (button ? buttons : delivered).push_back({e->type, t, *e});
    };
    h.openUrl = [](const char* url) { opened.push_back(url); };
    h.anchorUrl = [](ZvObj*) { return anchorText; };
    h.navPointer = [](int on) { navCalls.push_back(on); };
    h.hop = [] { ++hops; };
  }
  void TearDown() override {
    zvResetPointerState();
    zvInputHooks() = ZvInputHooks{};
    TreeFixture::TearDown();
  }
  // An object under a parent whose handler mask is given; the child is what the pick hits.
  ZvObj* childOf(uint32_t parentMask, bool anchor = false) {
    ZvObj* parent = make();
    parent->eventMask = parentMask;
    if (anchor) zvRegisterObjExtension(parent, zvWWWAnchor, &anchorText);
    ZvObj* child = make(zvNewSphereLeaf(), parent);
    under = child;
    return child;
  }
  static std::vector<uint32_t> types() {
    std::vector<uint32_t> out;
    for (const Delivered& d : delivered) out.push_back(d.type);
    return out;
  }
  static void press(int x, int y, uint32_t t, uint32_t state = 0) { zvMouseInput(ZV_POINTER_PRESS, x, y, state, t); }
  static void move(int x, int y, uint32_t t, uint32_t state = 0) { zvMouseInput(ZV_POINTER_MOTION, x, y, state, t); }
  static void release(int x, int y, uint32_t t, uint32_t state = 0) { zvMouseInput(ZV_POINTER_RELEASE, x, y, state, t); }
};

TEST_F(Input, AStillShortClickDeliversOnePickAtTheReleaseToThePickedObject) {
  ZvObj* child = childOf(ZV_EVENT_PICK);
  move(20, 30, 12000);
  press(20, 30, 12345, ZV_MOD_SHIFT | ZV_MOD_ALT);
  move(23, 28, 12500);  // inside the drag threshold
  EXPECT_TRUE(delivered.empty());
  release(23, 28, 13300);
  ASSERT_EQ(types(), std::vector<uint32_t>{ZV_EVENT_PICK});
  const ZvEvent& e = delivered[0].event;
  EXPECT_EQ(delivered[0].target, child);  // the handler's object is the dispatcher's business
  EXPECT_EQ(e.point2[0], 20.0f);
  EXPECT_EQ(e.point2[1], 30.0f);
  EXPECT_EQ(e.point3[2], 7.0f);
  EXPECT_EQ(e.part, child->leaf);
  EXPECT_EQ(e.modifiers, uint32_t{ZV_EVENT_SHIFT | ZV_EVENT_ALT});
  EXPECT_EQ(e.seconds, 12u);
  EXPECT_EQ(e.milliseconds, 345u);
  EXPECT_EQ(navCalls, (std::vector<int>{0, 1}));  // Alt gives the press to us
  EXPECT_TRUE(opened.empty());
  release(23, 28, 14000);  // no press to end
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(pads.empty());
  EXPECT_EQ(navCalls.size(), 2u);
}

TEST_F(Input, AHeldPressOnAGrabObjectBecomesAGrab) {
  ZvObj* child = childOf(ZV_EVENT_GRAB);
  press(50, 50, 0);
  release(50, 50, 1500);
  EXPECT_EQ(types(), (std::vector<uint32_t>{ZV_EVENT_GRAB, ZV_EVENT_RELEASE}));
  EXPECT_EQ(delivered[1].target, child);
  EXPECT_EQ(delivered[1].event.seconds, 1u);
  EXPECT_EQ(navCalls, (std::vector<int>{0, 1}));

  delivered.clear();
  press(50, 50, 2000);
  move(51, 50, 2999);
  EXPECT_TRUE(delivered.empty());
  move(51, 50, 3000);  // the hold turns into a grab on the next motion
  EXPECT_EQ(types(), std::vector<uint32_t>{ZV_EVENT_GRAB});
  release(51, 50, 3100);
  EXPECT_EQ(types(), (std::vector<uint32_t>{ZV_EVENT_GRAB, ZV_EVENT_RELEASE}));
}

TEST_F(Input, MovingAGrabObjectDragsOncePerNewPoint) {
  ZvObj* child = childOf(ZV_EVENT_DRAG);
  press(100, 100, 0);
  EXPECT_EQ(zvPointerState()->cursor, ZV_CURSOR_DRAG);
  move(105, 95, 10);  // exactly at the threshold: still a pick
  EXPECT_TRUE(delivered.empty());
  move(106, 100, 20);
  move(106, 100, 30);  // same point: nothing
  move(101, 100, 40);  // back near the press, but a new point
  move(2000, 100, 50);  // off the object, still the same target
  release(2000, 100, 60);
  EXPECT_EQ(types(), (std::vector<uint32_t>{ZV_EVENT_GRAB, ZV_EVENT_DRAG, ZV_EVENT_DRAG, ZV_EVENT_DRAG,
                                            ZV_EVENT_RELEASE}));
  for (const Delivered& d : delivered) EXPECT_EQ(d.target, child);
  EXPECT_EQ(delivered[2].event.point2[0], 101.0f);
  EXPECT_TRUE(pads.empty());  // the grab object took the drag, not the pad
  EXPECT_EQ(zvPointerState()->buttonDown, 0);
}

TEST_F(Input, AnchorsOpenOnAPlainClickOnly) {
  ZvObj* child = childOf(ZV_EVENT_PICK, true);
  press(10, 10, 0, ZV_MOD_CONTROL);
  release(10, 10, 100, ZV_MOD_CONTROL);
  EXPECT_TRUE(delivered.empty());
  EXPECT_TRUE(opened.empty());

  press(10, 10, 200);
  release(10, 10, 300);
  ASSERT_EQ(types(), std::vector<uint32_t>{ZV_EVENT_PICK});
  EXPECT_EQ(delivered[0].target, child);
  EXPECT_EQ(opened, std::vector<std::string>{"http://host/next.wrl"});

  anchorText = "";  // an anchor without a URL goes nowhere
  press(10, 10, 400);
  release(10, 10, 500);
  EXPECT_EQ(opened.size(), 1u);
}

TEST_F(Input, DraggingOnEmptySpaceShowsTheSteeringDirectionOnThePad) {
  struct Case {
    int dx, dy;
    std::vector<Pad> shown;
  } cases[] = {
      {-3, -40, {{132, 1}, {133, 0}}},                      // forward only
      {40, 3, {{133, 1}, {132, 0}, {135, 1}, {130, 0}}},    // backward and turn right
      {40, 10, {{135, 1}, {130, 0}}},                       // turn right only
      {-4, -40, {{132, 1}, {133, 0}}},
      {5, -40, {{132, 1}, {133, 0}, {135, 1}, {130, 0}}},
      {40, 5, {{133, 1}, {132, 0}, {135, 1}, {130, 0}}},
  };
  for (const Case& c : cases) {
    pads.clear();
    press(500, 500, 0);
    move(500 + c.dx, 500 + c.dy, 10);
    EXPECT_EQ(pads, c.shown) << c.dx << "," << c.dy;
    pads.clear();
    release(500 + c.dx, 500 + c.dy, 30);
    EXPECT_EQ(pads, (std::vector<Pad>{{130, 0}, {132, 0}, {133, 0}, {135, 0}}));
    EXPECT_EQ(zvPointerState()->steerX, 0);
  }
  EXPECT_TRUE(delivered.empty());
  EXPECT_TRUE(navCalls.empty());

  pads.clear();
  press(500, 500, 0);
  move(497, 460, 10);
  move(498, 450, 20);  // same direction: nothing new
  EXPECT_EQ(pads.size(), 2u);
  release(498, 450, 30);

  pads.clear();
  press(500, 500, 0, ZV_MOD_ALT);  // Alt-drag is nobody's steering
  move(540, 500, 10, ZV_MOD_ALT);
  EXPECT_TRUE(pads.empty());
  release(540, 500, 20, ZV_MOD_ALT);

  pads.clear();
  press(INT_MIN, INT_MIN, 0);  // coordinates far apart do not overflow
  move(INT_MAX, INT_MIN, 10);
  EXPECT_EQ(pads, (std::vector<Pad>{{135, 1}, {130, 0}}));
  release(INT_MAX, INT_MIN, 20);
}

TEST_F(Input, TheCursorFollowsWhatIsUnderThePointer) {
  ZvObj* pickable = childOf(ZV_EVENT_PICK, true);
  ZvObj* anchor = childOf(0, true);
  ZvObj* grab = childOf(ZV_EVENT_RELEASE);
  under = pickable, move(1, 1, 0);
  under = anchor, move(2, 1, 0);
  under = grab, move(3, 1, 0);
  move(4, 1, 0);  // unchanged kind: no call
  press(4, 1, 0);
  under = nullptr, move(4, 2, 0);  // held: the press's objects stay
  release(4, 2, 0);
  move(5, 2, 0);
  EXPECT_EQ(cursors, (std::vector<int>{ZV_CURSOR_PICK, ZV_CURSOR_URL, ZV_CURSOR_GRAB, ZV_CURSOR_DRAG,
                                       ZV_CURSOR_GRAB, ZV_CURSOR_ARROW}));
}

TEST_F(Input, KeysMarkTheTableShowThePadAndReachTheWorld) {
  zvKeyInput(1, ZV_KEY_LEFT, ZV_MOD_SHIFT, 5000);
  zvKeyInput(0, ZV_KEY_LEFT, ZV_MOD_SHIFT, 5100);
  zvKeyInput(1, ZV_KEY_KP_UP, 0, 5200);
  EXPECT_EQ(pads, (std::vector<Pad>{{131, 1}, {130, 0}, {131, 0}, {132, 1}}));
  EXPECT_EQ(zvKeyState(ZV_VK_LEFT), 0x01);
  EXPECT_EQ(zvKeyState(ZV_VK_UP), 0x81);
  zvKeyInput(0, ZV_KEY_UP, 0, 5300);
  zvKeyInput(1, ZV_KEY_UP, 0, 5400);
  EXPECT_EQ(zvKeyState(ZV_VK_UP), 0x80);  // bit 0 toggled back by the second press
  ASSERT_EQ(delivered.size(), 5u);
  EXPECT_EQ(delivered[0].target, nullptr);
  EXPECT_EQ(delivered[0].event.key, uint32_t{ZV_KEYCODE_LEFT});
  EXPECT_EQ(delivered[1].type, uint32_t{ZV_EVENT_KEY_UP});
  EXPECT_EQ(delivered[2].event.key, uint32_t{ZV_KEYCODE_UP});

  delivered.clear();
  zvKeyInput(1, 'q', 0, 0);
  zvKeyInput(1, 0xffbf, 0, 0);  // F2
  zvKeyInput(1, 0xffe9, 0, 0);  // Alt_L
  zvKeyInput(1, ZV_KEY_ESCAPE, 0, 0);
  EXPECT_TRUE(zvKeyDown('Q'));
  EXPECT_TRUE(zvKeyDown(0x71));
  EXPECT_TRUE(zvKeyDown(ZV_VK_ALT));
  EXPECT_EQ(delivered[0].event.key, uint32_t{ZV_KEYCODE_OTHER});
  EXPECT_EQ(delivered[2].event.key, uint32_t{ZV_KEYCODE_ALT});
  EXPECT_EQ(delivered[3].event.key, uint32_t{ZV_KEYCODE_ESCAPE});
  EXPECT_EQ(hops, 1);
  EXPECT_EQ(zvKeyState(-1), 0);
  EXPECT_EQ(zvKeyState(256), 0);
}

TEST_F(Input, PadButtonsHoldTheirKeys) {
  zvPadButtonInput(ZV_PAD_SLIDE_LEFT, 1);
  EXPECT_TRUE(zvKeyDown(ZV_VK_SHIFT));
  EXPECT_TRUE(zvKeyDown(ZV_VK_LEFT));
  EXPECT_FALSE(zvKeyDown(ZV_VK_RIGHT));
  zvKeyInput(1, ZV_KEY_LEFT, 0, 0);  // Shift held on the pad counts as Shift
  EXPECT_EQ(pads.back(), Pad(131, 1));
  zvPadButtonInput(ZV_PAD_SLIDE_LEFT, 0);
  EXPECT_FALSE(zvKeyDown(ZV_VK_SHIFT));
  EXPECT_TRUE(zvKeyDown(ZV_VK_LEFT)) << "the key still held on the keyboard stays held";
  zvKeyInput(0, ZV_KEY_LEFT, 0, 0);
  EXPECT_FALSE(zvKeyDown(ZV_VK_LEFT));
  zvPadButtonInput(ZV_PAD_TURN_RIGHT, 1);
  zvPadButtonInput(999, 1);
  EXPECT_EQ(zvKeyState(ZV_VK_RIGHT), 0x81);
  EXPECT_EQ(zvKeyState(ZV_VK_SHIFT), 0x01);
}

TEST_F(Input, TheLeftButtonReachesWhatIsUnderThePressAndUnderTheRelease) {
  ZvObj* first = childOf(0);
  press(20, 30, 1000, ZV_MOD_CONTROL);
  ZvObj* second = childOf(0);
  move(40, 30, 1100);
  release(40, 30, 1200, ZV_MOD_CONTROL);
  press(2000, 30, 1300);  // over nothing: neither goes anywhere
  release(2000, 30, 1400);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0].type, uint32_t{ZV_EVENT_LEFT_BUTTON_DOWN});
  EXPECT_EQ(buttons[0].target, first);
  EXPECT_EQ(buttons[0].event.modifiers, uint32_t{ZV_EVENT_CONTROL});  // raw button: Control does not stop it
  EXPECT_EQ(buttons[1].type, uint32_t{ZV_EVENT_LEFT_BUTTON_UP});
  EXPECT_EQ(buttons[1].target, second);
  EXPECT_EQ(buttons[1].event.point3[0], 40.0f);  // picked at the release
  EXPECT_EQ(buttons[1].event.part, second->leaf);
  EXPECT_EQ(buttons[1].event.seconds, 1u);
  EXPECT_EQ(buttons[1].event.milliseconds, 200u);
}

// A handler may delete the object it was called for: the pointer lets go of
// it, so the rest of the click neither reaches it nor follows its anchor.
TEST_F(Input, AnObjectDeletedByAHandlerIsLetGo) {
  ZvObj* child = childOf(ZV_EVENT_PICK, true);
  zvInputHooks().deliver = [](ZvObj* t, ZvEvent* e) {
    delivered.push_back({e->type, t, *e});
    if (e->type == ZV_EVENT_LEFT_BUTTON_UP) zvInputForgetObject(t), zvInputForgetObject(t->parent);
  };
  press(10, 10, 0);
  release(10, 10, 100);
  EXPECT_EQ(types(), (std::vector<uint32_t>{ZV_EVENT_LEFT_BUTTON_DOWN, ZV_EVENT_LEFT_BUTTON_UP}));
  EXPECT_TRUE(opened.empty());
  const ZvPointerState* p = zvPointerState();
  EXPECT_EQ(p->picked, nullptr);
  EXPECT_EQ(p->target, nullptr);
  EXPECT_EQ(p->anchorObject, nullptr);
  EXPECT_EQ(p->part, nullptr);
  EXPECT_NE(child->leaf, nullptr);  // only forgotten: deleting is the scene's business
}

}  // namespace
