// window.cpp — the browser in its window: one main window whose view shows
// the current world, one frame timer that moves the person and draws, and
// the private messages that open worlds. Everything runs on the one loop of
// the platform layer; the view state says what the view is doing and keeps
// a nested loop from re-entering a load.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "nav/nav.h"
#include "platform/window.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "www/www.h"

namespace {

enum ViewState {
  kWaiting = 1,
  kFetching = 2,
  kParsing = 3,
  kCreated = 4,
  kRunning = 10,
  kTicking = 11,
};

// Private messages to the main window.
enum Message {
  kOpenFile = 0,     // a: the file or file: URL to open
  kStartFetch = 1,
  kOpenUrl = 3,      // the URL waiting in Shell::pendingUrl
  kLoadError = 6,
  kClose = 16,
};

const char kTitle[] = "Quillmoor";
const char kWaitingText[] = "Waiting for world to be loaded...";
const char kLoadingText[] = "Now Loading...";
enum { kStartWidth = 640, kStartHeight = 480, kViewMaxWidth = 1024, kViewMaxHeight = 768 };

struct Shell {
  ZvPlatformWindow* window;
  ZvPlatformTimer timer;
  int viewState;
  int modalBox;  // set while a message box is up: no world work then
  ZvWorld* world;
  RwDeviceContext dc;
  uint32_t interval;
  int resetPending;
  uint32_t previousEnd;
  int frameRateReport;
  int fetchTicks;
  int errorPosted;
  uint8_t held[ZV_HELD_KEYS];  // bit 1: the main key, bit 2: its twin
  ZvCommandLine* words;
  std::string pendingUrl;  // typed or clicked, opened by kOpenUrl
  // The left-button press in the view: where, and the anchor under it.
  int pressX, pressY;
  std::string pressAnchor;
};

Shell shell;
ZvShellHooks hooks;

uint32_t nowMs() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void showText(const char* text) { zvPlatformShowViewText(shell.window, text); }

void enterWaiting() {
  shell.viewState = kWaiting;
  showText(kWaitingText);
  zvPlatformSetWindowTitle(shell.window, kTitle);
}

// Words are the process's arguments, which outlive every message.
void postOpen(const char* word) { zvPlatformPostMessage(kOpenFile, reinterpret_cast<intptr_t>(word), 0); }

// Errors end the program, as the window's "Fatal Error" box would: the view
// goes back to waiting and the window closes.
void windowReport(int cls, const char* text, int first, void*) {
  if (cls == ZV_DEBUG_ERROR) {
    std::fprintf(stderr, first ? "Fatal Error: %s\n" : "Error: %s\n", text);
    if (!shell.errorPosted) {
      shell.errorPosted = 1;
      zvPlatformPostMessage(kLoadError, 0, 0);
      zvPlatformPostMessage(kClose, 0, 0);
    }
  } else {
    std::fprintf(stderr, "%s\n", text);
    if (cls == ZV_DEBUG_WARNING || cls == ZV_DEBUG_MESSAGE) zvNotifyAppend(text);
  }
}

int deliverFrame(RwDeviceContext*, const RwImage* image, int x, int y) {
  if (!image || !image->pixels) return 0;
  return zvPlatformShowFrame(shell.window, image->pixels, image->width, image->height, image->stride, x, y);
}

void setViewport(int width, int height) {
  zvRenderSetViewSize(width, height);
  if (shell.world)
    zvRenderSetCameraViewport(shell.world, 0, 0, std::clamp(width, 1, int(kViewMaxWidth)),
                              std::clamp(height, 1, int(kViewMaxHeight)));
}

// The world stays loaded in the cache; it only stops drawing.
void leaveWorld() {
  if (!shell.world) return;
  ZvWorld* world = shell.world;
  shell.world = nullptr;
  if (shell.viewState == kRunning) shell.viewState = kWaiting;
  zvRenderSuspend(world);
  zvSetCurrentWorld(nullptr);
}

// Only local files so far: a plain path or a file: URL. Empty when the
// name is something that would have to be fetched.
std::string localPath(const char* name) {
  switch (zvUrlScheme(name)) {
    case ZV_SCHEME_FILE: {
      const char* path = zvFileUrlToPath(name);
      return path ? std::string(path) : std::string();
    }
    case ZV_SCHEME_NONE:
      return name;
    default:
      return std::string();
  }
}

// The URL a local name's world is cached under: what the reader gives the
// world it makes from that file.
std::string worldUrl(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  std::string abs = ec ? path : p.lexically_normal().string();
  const char* url = zvPathToFileUrl(abs.c_str());
  return url ? std::string(url) : abs;
}

void showWorld(ZvWorld* world) {
  shell.world = world;
  zvSetCurrentWorld(world);
  zvWwwSetBaseUrl(world->url);
  zvPlatformSetWindowTitle(shell.window, world->title && *world->title ? world->title : kTitle);
  zvPlatformSetLocation(shell.window, world->url);
  int width, height;
  zvPlatformGetViewSize(shell.window, &width, &height);
  zvRenderSetViewSize(width, height);
  // A world from the cache is still built; building it again would lose
  // nothing but time.
  if (!world->viewer && zvRenderConstructWorldInViewer(world) != ZV_OK)
    zvWarning("%s : not all of it was built", world->url);
  zvRenderResume(world);
  zvRenderSetWindow(world, shell.window, &shell.dc);
  setViewport(width, height);
  shell.viewState = kRunning;
}

// Reads the world into the current history entry; it joins the cache only
// once it can be shown.
int loadWorld(const char* path) {
  leaveWorld();
  shell.viewState = kCreated;
  showText(kLoadingText);
  zvPlatformFlushWindow(shell.window);
  shell.viewState = kParsing;
  // The renderer builds the world once it has its person, below, so that a
  // shape that cannot be built costs its own picture, not the whole world.
  ZvSceneHooks& sceneHooks = zvSceneHooks();
  auto construct = sceneHooks.renderConstructWorld;
  sceneHooks.renderConstructWorld = nullptr;
  ZvWorld* world = zvReadWorldFile(path, nullptr);
  sceneHooks.renderConstructWorld = construct;
  if (!world) {
    std::fprintf(stderr, "quillmoor: %s: not read\n", path);
    enterWaiting();
    return ZV_FAIL;
  }
  if (zvAddPersonToWorld(world) != ZV_OK || zvAdjustPersonToActiveCamera(world->person) != ZV_OK ||
      zvAddWorldToCache(world) != 0) {
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
    enterWaiting();
    return ZV_FAIL;
  }
  zvSetHistoryLoaded(zvGetCurrentHistoryEntry(), 1);
  showWorld(world);
  return ZV_OK;
}

// A world already in the cache is shown as it was left; any other is read.
// Either way the visit is one more history entry, unless a reload takes
// the current one.
void openUrl(const char* name) {
  std::string path = localPath(name);
  if (path.empty()) {
    std::fprintf(stderr, "quillmoor: %s: only local files can be opened\n", name);
    if (!shell.world) enterWaiting();
    return;
  }
  std::string url = worldUrl(path);
  ZvHistoryEntry* entry = zvGetCurrentHistoryEntry();
  if (!zvGetHistoryReuse() || !entry) entry = zvAddHistoryEntry(url.c_str());
  zvSetHistoryReuse(0);
  if (!entry) {
    std::fprintf(stderr, "quillmoor: %s: out of memory\n", name);
    return;
  }
  zvSetCurrentHistoryEntry(entry);
  if (ZvWorld* world = zvGetCachedWorld(url.c_str())) {
    leaveWorld();
    zvSetHistoryLoaded(entry, 1);
    showWorld(world);
  } else {
    loadWorld(path.c_str());
  }
}

void openWorld(const char* name) {
  if (shell.viewState == kParsing || !name) return;
  openUrl(name);
  // Further worlds named on the command line follow one after the other.
  if (const char* next = zvNextCommandLineWord(shell.words)) postOpen(next);
}

void postOpenUrl(const std::string& url) {
  shell.pendingUrl = url;
  zvPlatformPostMessage(kOpenUrl, 0, 0);
}

// Back and Forward move along the history without changing it; an entry
// whose world is no longer cached shows no world until another is opened.
void goHistory(ZvHistoryEntry* entry) {
  if (!entry || shell.viewState == kParsing) return;
  leaveWorld();
  zvSetCurrentHistoryEntry(entry);
  if (ZvWorld* world = zvGetCachedWorld(entry->url)) {
    showWorld(world);
  } else {
    enterWaiting();
    zvPlatformSetLocation(shell.window, entry->url);
  }
}

// Reads the current world again from its file, in the same history entry.
void reloadWorld() {
  if (shell.viewState != kRunning || !shell.world) return;
  std::string url = shell.world->url ? shell.world->url : "";
  ZvWorld* world = zvGetCachedWorld(url.c_str());
  if (!world) return;
  leaveWorld();
  zvRemoveCachedWorld(world);
  enterWaiting();
  zvSetHistoryReuse(1);
  openUrl(url.c_str());
}

// The anchor an object lies in, itself or its nearest ancestor, resolved
// against the world's URL; empty when there is none.
std::string anchorUrl(ZvObj* object) {
  for (ZvObj* o = object; o; o = o->parent) {
    auto* entry = static_cast<ZvUrlHash*>(zvGetObjExtension(o, zvWWWAnchor));
    if (!entry) continue;
    if (!entry->url || !*entry->url) return std::string();
    const char* base = o->world && o->world->url ? o->world->url : zvWwwGetBaseUrl();
    char out[ZV_WWW_PATH_MAX];
    if (zvResolveUrl(base, entry->url, out, sizeof out) != 0) return std::string();
    return out;
  }
  return std::string();
}

ZvObj* pickObject(int x, int y) {
  ZvPickResult result{};
  if (!shell.world || zvPickupZvShape(shell.world, x, y, &result) != ZV_OK) return nullptr;
  return result.object;
}

// What a click at the point would do, shown by the pointer's shape.
int cursorKind(ZvObj* object) {
  const uint32_t kPick = 0x10000, kGrab = 0x68000;
  for (ZvObj* o = object; o; o = o->parent)
    if (o->eventMask & kPick) return ZV_CURSOR_PICK;
  if (!anchorUrl(object).empty()) return ZV_CURSOR_URL;
  for (ZvObj* o = object; o; o = o->parent)
    if (o->eventMask & kGrab) return ZV_CURSOR_GRAB;
  return ZV_CURSOR_ARROW;
}

void renderFrame() {
  ZvWorld* world = shell.world;
  if (!world || !world->viewer) return;
  uint32_t start = nowMs();
  zvRenderShowWorld(world);
  uint32_t end = nowMs();
  uint32_t render = end - start, other = start - shell.previousEnd, total = end - shell.previousEnd;
  // No world script runs Tk yet, so there is no time slice to leave it.
  shell.resetPending = zvAdaptFrameInterval(&shell.interval, render, 0);
  if (shell.frameRateReport) {
    char line[256];
    zvFormatFrameRate(line, sizeof line, render, other, total, shell.resetPending, shell.interval);
    std::fputs(line, stderr);
  }
  shell.previousEnd = end;
}

void tick(void*) {
  // Armed first, so the period runs from the start of this frame and a
  // changed interval takes effect with the next one.
  zvPlatformArmTimer(&shell.timer, int(shell.interval));
  shell.resetPending = 0;
  if (shell.viewState == kRunning) {
    shell.viewState = kTicking;
    // The world's timed tasks and ambient sounds will run here.
    shell.viewState = kRunning;
  }
  if (shell.modalBox) return;
  if (shell.viewState == kRunning) {
    if (hooks.navStep) hooks.navStep();
    renderFrame();
  } else if (shell.viewState == kFetching) {
    char text[32];
    std::snprintf(text, sizeof text, "Loading %d", shell.fetchTicks++);
    showText(text);
  }
}

void onMessage(void*, int code, intptr_t a, intptr_t) {
  switch (code) {
    case kOpenFile:
      openWorld(reinterpret_cast<const char*>(a));
      break;
    case kOpenUrl:
      if (shell.viewState != kParsing && !shell.pendingUrl.empty()) {
        std::string url = std::move(shell.pendingUrl);
        shell.pendingUrl.clear();
        openUrl(url.c_str());
      }
      break;
    case kStartFetch:
      shell.viewState = kFetching;
      break;
    case kLoadError:
      std::fprintf(stderr, "Quillmoor: Load Error\n");
      leaveWorld();
      enterWaiting();
      break;
    case kClose:
      zvPlatformDestroyWindow(shell.window);
      break;
    default:
      break;
  }
}

int heldSlot(uint32_t keysym, uint8_t* bit) {
  *bit = 1;
  switch (keysym) {
    case ZV_KEY_KP_UP: *bit = 2; [[fallthrough]];
    case ZV_KEY_UP: return ZV_HELD_UP;
    case ZV_KEY_KP_DOWN: *bit = 2; [[fallthrough]];
    case ZV_KEY_DOWN: return ZV_HELD_DOWN;
    case ZV_KEY_KP_LEFT: *bit = 2; [[fallthrough]];
    case ZV_KEY_LEFT: return ZV_HELD_LEFT;
    case ZV_KEY_KP_RIGHT: *bit = 2; [[fallthrough]];
    case ZV_KEY_RIGHT: return ZV_HELD_RIGHT;
    case ZV_KEY_SHIFT_R: *bit = 2; [[fallthrough]];
    case ZV_KEY_SHIFT_L: return ZV_HELD_SHIFT;
    case ZV_KEY_CONTROL_R: *bit = 2; [[fallthrough]];
    case ZV_KEY_CONTROL_L: return ZV_HELD_CONTROL;
    default: return -1;
  }
}

// The table follows the keys in every state, so a key let go while a world
// loads is not left held; only what keys do waits for a running world.
void onKey(void*, int down, uint32_t keysym, uint32_t state) {
  uint8_t bit;
  int slot = heldSlot(keysym, &bit);
  // Alt with an arrow moves along the history rather than the person.
  bool alt = (state & ZV_MOD_ALT) != 0;
  if (down && shell.viewState != kParsing) {
    if (keysym == ZV_KEY_BROWSER_BACK || (alt && keysym == ZV_KEY_LEFT))
      return goHistory(zvPrevHistoryEntry(zvGetCurrentHistoryEntry()));
    if (keysym == ZV_KEY_BROWSER_FORWARD || (alt && keysym == ZV_KEY_RIGHT))
      return goHistory(zvNextHistoryEntry(zvGetCurrentHistoryEntry()));
    if (keysym == ZV_KEY_BROWSER_RELOAD || keysym == ZV_KEY_F5) return reloadWorld();
  }
  if (slot >= 0) {
    if (down)
      shell.held[slot] |= bit;
    else
      shell.held[slot] &= uint8_t(~bit);
  }
  if (down && keysym == ZV_KEY_ESCAPE && shell.viewState == kRunning && hooks.jump) hooks.jump();
}

// A click (press and release within a few pixels, without Control) on an
// object inside an anchor follows the anchor; the navigation sees every
// pointer event as before.
void onPointer(void*, int kind, int x, int y, int button, uint32_t state) {
  if (shell.viewState != kRunning) return;
  if (hooks.pointer) hooks.pointer(kind, x, y, button, state);
  if (shell.viewState != kRunning) return;
  if (kind == ZV_POINTER_MOTION) zvLabelPointerMotion(shell.world, x, y);
  const int kSlack = 5;
  switch (kind) {
    case ZV_POINTER_PRESS:
      if (button != 1) break;
      shell.pressX = x;
      shell.pressY = y;
      shell.pressAnchor = (state & ZV_MOD_CONTROL) ? std::string() : anchorUrl(pickObject(x, y));
      break;
    case ZV_POINTER_RELEASE:
      if (button != 1) break;
      if (!shell.pressAnchor.empty() && std::abs(x - shell.pressX) <= kSlack && std::abs(y - shell.pressY) <= kSlack &&
          !(state & ZV_MOD_CONTROL))
        postOpenUrl(shell.pressAnchor);
      shell.pressAnchor.clear();
      break;
    case ZV_POINTER_MOTION:
      // While a drag steers, the pointer keeps the shape it had.
      if (!(state & (ZV_MOD_BUTTON1 | ZV_MOD_BUTTON2 | ZV_MOD_BUTTON3)))
        zvPlatformSetViewCursor(shell.window, cursorKind(pickObject(x, y)));
      break;
  }
}

void onLocation(void*, const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  std::string url = text;
  while (!url.empty() && (url.back() == ' ' || url.back() == '\t')) url.pop_back();
  if (!url.empty()) postOpenUrl(url);
}

void onResize(void*, int width, int height) {
  if (shell.viewState == kRunning || shell.viewState == kTicking)
    setViewport(width, height);
  else
    zvRenderSetViewSize(width, height);
}

void shutDown() {
  leaveWorld();
  zvClearWorldCache();
  zvClearHistory();
  zvPlatformDisarmTimer(&shell.timer);
  zvPlatformSetMessageHandler(nullptr, nullptr);
  zvRenderCloseViewer();
  zvUninstallLabels();
  zvNotifyDestroy();
  zvPlatformCloseWindow(shell.window);
  shell.window = nullptr;
}

}  // namespace

ZvShellHooks* zvShellHooks(void) { return &hooks; }

int zvShellKeyHeld(int key) { return key >= 0 && key < ZV_HELD_KEYS && shell.held[key] != 0; }

int zvRunWindow(ZvCommandLine* words, const ZvShellOptions* options) {
  // Only the window takes the lock: headless runs go beside an open browser.
  if (zvPlatformTakeInstanceLock() == -1) {
    std::fprintf(stderr, "Quillmoor is already running.\n");
    return 255;
  }
  if (!zvPlatformHasDisplay()) {
    std::fprintf(stderr, "quillmoor: no display to open a window on; try --screenshot OUT.png WORLD\n%s",
                 zvUsage());
    return 1;
  }
  shell = Shell{};
  zvClearWorldCache();
  zvClearHistory();
  shell.viewState = kWaiting;
  shell.interval = ZV_FRAME_INTERVAL_START;
  shell.frameRateReport = options ? options->frameRateReport : 0;
  shell.words = words;
  shell.dc = RwDeviceContext{deliverFrame, nullptr};
  shell.timer = ZvPlatformTimer{tick, nullptr, nullptr};
  std::memset(shell.held, 0, sizeof shell.held);

  zvSetReportSink(windowReport, nullptr);
  zvInstallSubsystems();
  zvNavInstallHooks();
  zvConnectNavigation();
  zvSceneHooks().programDirectory = zvDataDirectory;
  if (zvRenderInitViewer() != ZV_OK) {
    zvSetReportSink(nullptr, nullptr);
    zvError("zvInit() : fails to initialize viewer.");
    return 255;
  }
  zvRenderInstallHooks();
  zvInstallLabels(options ? options->showNames : 0, options ? options->showComments : 0,
                  options ? options->noLabelBackground : 0);

  ZvWindowCallbacks callbacks{onKey, onPointer, onResize, nullptr, onLocation};
  shell.window = zvPlatformOpenWindow(kTitle, kStartWidth, kStartHeight, &callbacks);
  if (!shell.window) {
    std::fprintf(stderr, "quillmoor: cannot open the window: %s\n", zvPlatformWindowError());
    zvRenderCloseViewer();
    return 1;
  }
  zvRenderSetViewSize(kStartWidth, kStartHeight);
  zvPlatformSetMessageHandler(onMessage, nullptr);
  zvNotifyCreate(shell.window);
  shell.previousEnd = nowMs();
  zvPlatformArmTimer(&shell.timer, int(shell.interval));
  if (options && options->firstWorld)
    postOpen(options->firstWorld);
  else
    enterWaiting();

  zvPlatformRunLoop();
  shutDown();
  return 0;
}
