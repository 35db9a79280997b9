// window.cpp — the browser in its window: one main window whose view shows
// the current world, one frame timer that moves the person and draws, and
// the private messages that open worlds. Everything runs on the one loop of
// the platform layer; the view state says what the view is doing and keeps
// a nested loop from re-entering a load.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "nav/nav.h"
#include "platform/window.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "shell/shell.h"
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

void leaveWorld() {
  if (!shell.world) return;
  ZvWorld* world = shell.world;
  shell.world = nullptr;
  if (shell.viewState == kRunning) shell.viewState = kWaiting;
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
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

void showWorld(ZvWorld* world) {
  shell.world = world;
  zvSetCurrentWorld(world);
  zvPlatformSetWindowTitle(shell.window, world->title && *world->title ? world->title : kTitle);
  int width, height;
  zvPlatformGetViewSize(shell.window, &width, &height);
  zvRenderSetViewSize(width, height);
  if (zvRenderConstructWorldInViewer(world) != ZV_OK) zvWarning("%s : not all of it was built", world->url);
  zvRenderResume(world);
  zvRenderSetWindow(world, shell.window, &shell.dc);
  setViewport(width, height);
  shell.viewState = kRunning;
}

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
  if (zvAddPersonToWorld(world) != ZV_OK || zvAdjustPersonToActiveCamera(world->person) != ZV_OK) {
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
    enterWaiting();
    return ZV_FAIL;
  }
  showWorld(world);
  return ZV_OK;
}

void openWorld(const char* name) {
  if (shell.viewState == kParsing || !name) return;
  std::string path = localPath(name);
  if (path.empty()) {
    std::fprintf(stderr, "quillmoor: %s: only local files can be opened\n", name);
    if (!shell.world) enterWaiting();
  } else {
    loadWorld(path.c_str());
  }
  // Further worlds named on the command line follow one after the other.
  if (const char* next = zvNextCommandLineWord(shell.words)) postOpen(next);
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
void onKey(void*, int down, uint32_t keysym, uint32_t) {
  uint8_t bit;
  int slot = heldSlot(keysym, &bit);
  if (slot >= 0) {
    if (down)
      shell.held[slot] |= bit;
    else
      shell.held[slot] &= uint8_t(~bit);
  }
  if (down && keysym == ZV_KEY_ESCAPE && shell.viewState == kRunning && hooks.jump) hooks.jump();
}

void onPointer(void*, int kind, int x, int y, int button, uint32_t state) {
  if (shell.viewState == kRunning && hooks.pointer) hooks.pointer(kind, x, y, button, state);
}

void onResize(void*, int width, int height) {
  if (shell.viewState == kRunning || shell.viewState == kTicking)
    setViewport(width, height);
  else
    zvRenderSetViewSize(width, height);
}

void shutDown() {
  leaveWorld();
  zvPlatformDisarmTimer(&shell.timer);
  zvPlatformSetMessageHandler(nullptr, nullptr);
  zvRenderCloseViewer();
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

  ZvWindowCallbacks callbacks{onKey, onPointer, onResize, nullptr};
  shell.window = zvPlatformOpenWindow(kTitle, kStartWidth, kStartHeight, &callbacks);
  if (!shell.window) {
    std::fprintf(stderr, "quillmoor: cannot open the window: %s\n", zvPlatformWindowError());
    zvRenderCloseViewer();
    return 1;
  }
  zvRenderSetViewSize(kStartWidth, kStartHeight);
  zvPlatformSetMessageHandler(onMessage, nullptr);
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
