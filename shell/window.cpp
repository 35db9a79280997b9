// window.cpp — the browser in its window: one main window whose view shows
// the current world, one frame timer that wakes the world's tasks, sends it
// FRAME, moves the person and draws, and the private messages that open
// worlds. Everything runs on the one loop of the platform layer; the view
// state says what the view is doing and keeps a nested loop from
// re-entering a load, and a message that would take the world away while
// one of its scripts runs waits for the script to end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "media/media.h"
#include "nav/nav.h"
#include "net/net.h"
#include "platform/window.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "script/script.h"
#include "shell/input.h"
#include "shell/shell.h"
#include "shell/windowpriv.h"
#include "ui/ui.h"
#include "www/www.h"

namespace {

enum ViewState {
  kWaiting = ZV_VIEW_WAITING,
  kFetching = ZV_VIEW_FETCHING,
  kParsing = ZV_VIEW_PARSING,
  kCreated = ZV_VIEW_CREATED,
  kRunning = ZV_VIEW_RUNNING,
  kTicking = ZV_VIEW_TICKING,
};

// Private messages to the main window.
enum Message {
  kOpenFile = 0,     // a: the file or file: URL to open
  kStartFetch = 1,
  kOpenUrl = 3,      // the URL waiting in Shell::pendingUrl
  kFlash = 5,        // a: the colour, 0xRRGGBB
  kLoadError = 6,
  kClose = 16,
  kGoBack = 20,
  kGoForward = 21,
  kReload = 22,
  kDocument = 23,    // a: a Delivery the link handed over
  kFetchFailed = 24, // a: the reason (owned), or null when nothing is to be said
};

// A document the link delivered, on its way through the message queue.
struct Delivery {
  std::string local;
  std::string url;
};

// How a remote world's fetch came about decides its history entry once it
// arrives: a new visit appends one, Reload keeps the current one, and a
// move along the history has already made its entry current.
enum FetchMode { kFetchVisit = 0, kFetchReload = 1, kFetchHistory = 2 };

const char kTitle[] = "Quillmoor";
const char kWaitingText[] = "Waiting for world to be loaded...";
const char kLoadingText[] = "Now Loading...";
enum { kStartWidth = 512, kStartHeight = 384, kViewMaxWidth = 1024, kViewMaxHeight = 768 };
// The frame flashes three times, a quarter of a second each way.
enum { kFlashCount = 3, kFlashStep = 250 };
const char kOneFile[] = "One file at a time please.";

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
  ZvCommandLine* words;
  std::string pendingUrl;  // typed or clicked, opened by kOpenUrl
  // A bookmark's viewpoint in the world of viewpointUrl, taken by the next
  // world shown if it is that one, dropped otherwise.
  std::string viewpointUrl;
  ZvTransform viewpoint;
  int flashCount;
  uint32_t flashNext, flashColor;
  int fatalShown;  // one "Fatal Error" box per process
  std::string anchorText;  // the last resolved anchor URL
  uint32_t delivered;  // interaction events handed to the seam
  // The world just read, until its first frame is drawn: the renderer
  // makes some of its structures then, and they count against the cache.
  ZvWorld* measuring;
  size_t heapBefore;  // zvHeapBytesInUse() when the load began
  // Messages that arrived while a script ran (from a nested loop inside
  // it); the next tick outside any script replays them in order.
  std::vector<std::pair<int, intptr_t>> held;
  // The remote world asked for and not yet here.
  struct {
    bool active;
    std::string url;
    int mode;
    ZvHistoryEntry* before;  // the entry to go back to if it fails
    ZvWorld* previous;       // the world shown when it began
  } fetch;
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
  zvUpdateCommands();
}

// Words are the process's arguments, which outlive every message.
void postOpen(const char* word) { zvPlatformPostMessage(kOpenFile, reinterpret_cast<intptr_t>(word), 0); }

// Every error ends the program: the first shows the "Fatal Error" box,
// then the view goes back to waiting and the window closes.
void windowReport(int cls, const char* text, int, void*) {
  if (cls == ZV_DEBUG_ERROR) {
    std::fprintf(stderr, "Fatal Error: %s\n", text);
    if (!shell.fatalShown && shell.window && zvPlatformWindowExists(shell.window)) {
      shell.fatalShown = 1;
      shell.modalBox = 1;
      zvPlatformMessageBox(shell.window, "Fatal Error", text, ZV_BOX_ERROR);
      shell.modalBox = 0;
    }
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
  // Told while it is still the current world, so its scripts still see it.
  zvLeaveWorldBehaviour(world);
  // The server's objects go before the world is put away in the cache.
  zvSharedWorldLeft();
  shell.world = nullptr;
  shell.measuring = nullptr;
  if (shell.viewState == kRunning) shell.viewState = kWaiting;
  // What the pointer held belongs to the world being left.
  zvResetPointerState();
  zvRenderSuspend(world);
  zvSetCurrentWorld(nullptr);
}

// A plain path or a file: URL as a path; empty when the name is something
// that has to be fetched.
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

void stopFlash();

// Charges the world with what the heap grew by since before (more, on top
// of what it costs already), and lets go of older worlds if the cache is
// over its budget now.
void chargeWorld(ZvWorld* world, size_t before, bool more) {
  size_t now = zvHeapBytesInUse();
  size_t grown = now > before ? now - before : 0;
  size_t bytes = more ? zvCachedWorldSize(world) + grown : std::max(grown, sizeof(ZvWorld));
  zvSetCachedWorldSize(world, bytes);
  zvTrimWorldCache(world);
}

void showWorld(ZvWorld* world) {
  stopFlash();
  shell.world = world;
  zvSetCurrentWorld(world);
  zvTouchCachedWorld(world);
  zvWwwSetBaseUrl(world->url);
  zvPlatformSetWindowTitle(shell.window, world->title && *world->title ? world->title : kTitle);
  zvPlatformSetLocation(shell.window, world->url);
  int width, height;
  zvPlatformGetViewSize(shell.window, &width, &height);
  zvRenderSetViewSize(width, height);
  // A world from the cache is still built; building it again would lose
  // nothing but time.
  if (!world->viewer) {
    // Textures wait until the world is built; without "Auto Load Images"
    // the world is shown without them.
    zvVFresetPendingTextures();
    if (zvRenderConstructWorldInViewer(world) != ZV_OK) zvMessage("%s : not all of it was built", world->url);
    if (!zvAutoLoadImages()) zvVFresetPendingTextures();
    zvVFloadAllPendingTextures();
    // The first view is framed once the world is built: text has a size
    // only once it is laid out.
    if (world->person && zvAdjustPersonToActiveCamera(world->person) != ZV_OK)
      zvMessage("%s : the person stays where it was added", world->url);
  }
  if (!shell.viewpointUrl.empty()) {
    if (world->url && shell.viewpointUrl == world->url && world->person &&
        zvPlacePerson(world->person, &shell.viewpoint) != ZV_OK)
      zvMessage("%s : the person stays where it was", world->url);
    shell.viewpointUrl.clear();
  }
  zvRenderResume(world);
  zvRenderSetWindow(world, shell.window, &shell.dc);
  setViewport(width, height);
  // A world shown again takes up its tasks from now, not from when it was left.
  zvShowWorldBehaviour(world);
  shell.viewState = kRunning;
  zvSharedWorldShown(world);
  zvUpdateCommands();
}

// Reads the world into the current history entry; it joins the cache only
// once it can be shown.
int loadWorld(const char* path, ZvHistoryEntry* before, const char* url = nullptr, ZvWorld* previous = nullptr) {
  if (!previous) previous = shell.world;
  leaveWorld();
  shell.heapBefore = zvHeapBytesInUse();
  shell.viewState = kCreated;
  showText(kLoadingText);
  zvPlatformFlushWindow(shell.window);
  shell.viewState = kParsing;
  zvUpdateCommands();
  // The renderer builds the world once it has its person, below, so that a
  // shape that cannot be built costs its own picture, not the whole world.
  ZvSceneHooks& sceneHooks = zvSceneHooks();
  auto construct = sceneHooks.renderConstructWorld;
  sceneHooks.renderConstructWorld = nullptr;
  ZvWorld* world = url ? zvReadWorldFileAs(path, url, nullptr) : zvReadWorldFile(path, nullptr);
  sceneHooks.renderConstructWorld = construct;
  // A world that cannot be shown leaves the one before it on the screen.
  auto keepPrevious = [&] {
    if (previous && previous->url && zvGetCachedWorld(previous->url) == previous) {
      if (before) zvSetCurrentHistoryEntry(before);
      showWorld(previous);
    } else {
      enterWaiting();
    }
  };
  if (!world) {
    std::fprintf(stderr, "quillmoor: %s: not read\n", path);
    zvMessage("%s : cannot be read as a world", url ? url : path);
    if (url) std::remove(path);
    keepPrevious();
    return ZV_FAIL;
  }
  if (zvAddPersonToWorld(world) != ZV_OK || zvAddWorldToCache(world) != 0) {
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
    keepPrevious();
    return ZV_FAIL;
  }
  zvSetHistoryLoaded(zvGetCurrentHistoryEntry(), 1);
  showWorld(world);
  chargeWorld(world, shell.heapBefore, false);
  shell.measuring = world;
  return ZV_OK;
}

void showProgress(long done, long total) {
  if (shell.viewState != kFetching || !shell.fetch.active) return;
  char text[64];
  if (total > 0)
    std::snprintf(text, sizeof text, "  [%ld%%]", std::min(100L, done * 100 / total));
  else
    std::snprintf(text, sizeof text, "  [%ld KB]", done >> 10);
  zvPlatformSetLocation(shell.window, (shell.fetch.url.substr(0, 200) + text).c_str());
}

// The link's news arrives through the queue, like any other message.
void linkStartFetch() { zvPlatformPostMessage(kStartFetch, 0, 0); }
void linkDocument(const char* local, const char* url) {
  zvPlatformPostMessage(kDocument, reinterpret_cast<intptr_t>(new Delivery{local, url}), 0);
}
void linkLoadError(const char* reason) {
  zvPlatformPostMessage(kFetchFailed, reinterpret_cast<intptr_t>(reason ? new std::string(reason) : nullptr), 0);
}

// A remote world not in the cache is asked of the link; it arrives as a
// kDocument (or a kFetchFailed) and gets its history entry then.
void fetchWorld(const std::string& url, int mode, ZvHistoryEntry* before) {
  shell.fetch.active = true;
  shell.fetch.url = url;
  shell.fetch.mode = mode;
  shell.fetch.before = before;
  shell.fetch.previous = shell.world;
  if (zvOpenUrl(url.c_str()) != ZV_OK) {
    shell.fetch.active = false;
    zvMessage("%s : cannot be fetched", url.c_str());
    if (mode == kFetchHistory && before) zvSetCurrentHistoryEntry(before);
    if (!shell.world) enterWaiting();
  }
}

void openRemote(const char* name) {
  std::string url = name;
  bool reuse = zvGetHistoryReuse();
  zvSetHistoryReuse(0);
  if (ZvWorld* world = zvGetCachedWorld(url.c_str()); world && !reuse) {
    ZvHistoryEntry* entry = zvAddHistoryEntry(url.c_str());
    if (!entry) return;
    zvSetCurrentHistoryEntry(entry);
    leaveWorld();
    zvSetHistoryLoaded(entry, 1);
    showWorld(world);
    return;
  }
  // One world on its way at a time; Stop ends the one that is.
  if (shell.fetch.active) {
    zvMessage("%s : another world is on its way; stop it first", url.c_str());
    return;
  }
  fetchWorld(url, reuse ? kFetchReload : kFetchVisit, zvGetCurrentHistoryEntry());
}

void fetchArrived(Delivery* d) {
  std::string local = d->local, url = d->url;
  delete d;
  // Only the world asked for is opened; anything else (a late answer to a
  // fetch that was stopped) is dropped.
  if (!shell.fetch.active || shell.fetch.url != url) {
    std::remove(local.c_str());
    return;
  }
  int mode = shell.fetch.mode;
  ZvHistoryEntry* before = shell.fetch.before;
  ZvWorld* previous = shell.world ? shell.world : shell.fetch.previous;
  shell.fetch.active = false;
  ZvHistoryEntry* entry = zvGetCurrentHistoryEntry();
  if (mode == kFetchVisit || !entry) entry = zvAddHistoryEntry(url.c_str());
  if (!entry) {
    std::remove(local.c_str());
    return;
  }
  zvSetCurrentHistoryEntry(entry);
  // A world of the same URL already held (reloaded) goes for the new one.
  if (ZvWorld* old = zvGetCachedWorld(url.c_str())) {
    if (old == previous) previous = nullptr;
    if (old == shell.world) leaveWorld();
    zvRemoveCachedWorld(old);
  }
  loadWorld(local.c_str(), entry == before ? nullptr : before, url.c_str(), previous);
}

// The fetch ended without a world: the one shown before comes back, with
// the reason in the Messages window.
void fetchFailed(std::string* reason) {
  if (reason) {
    std::fprintf(stderr, "quillmoor: %s\n", reason->c_str());
    zvMessage("%s", reason->c_str());
    delete reason;
  }
  if (!shell.fetch.active) return;
  shell.fetch.active = false;
  if (shell.fetch.mode == kFetchHistory && shell.fetch.before) zvSetCurrentHistoryEntry(shell.fetch.before);
  if (shell.viewState != kFetching) return;
  ZvWorld* previous = shell.fetch.previous;
  if (previous && previous->url && zvGetCachedWorld(previous->url) == previous) {
    if (shell.fetch.mode == kFetchReload) zvSetHistoryLoaded(zvGetCurrentHistoryEntry(), 1);
    showWorld(previous);
  } else {
    enterWaiting();
    if (ZvHistoryEntry* e = zvGetCurrentHistoryEntry()) zvPlatformSetLocation(shell.window, e->url);
  }
}

void startFetching() {
  if (shell.viewState == kParsing || shell.viewState == kFetching) return;
  if (!shell.fetch.active) return;
  if (shell.world) shell.fetch.previous = shell.world;
  leaveWorld();
  shell.viewState = kFetching;
  zvPlatformSetLocation(shell.window, shell.fetch.url.c_str());
  zvUpdateCommands();
}

// A file that is not there (or not a plain file) is a world for the
// message it will cost; a FIFO must not hang the window.
bool looksLikeWorld(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;
  struct stat st;
  unsigned char head[5] = {};
  ssize_t n = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, head, sizeof head) : -1;
  close(fd);
  if (n < 0) return true;
  return (n == 5 && std::memcmp(head, "#VRML", 5) == 0) || (n >= 2 && head[0] == 0x1f && head[1] == 0x8b);
}

// A world already in the cache is shown as it was left; any other is read.
// Either way the visit is one more history entry, unless a reload takes
// the current one.
void openUrl(const char* name) {
  if (zvIsRemoteUrl(name)) return openRemote(name);
  std::string path = localPath(name);
  if (path.empty()) {
    zvMessage("%s : cannot be opened", name);
    if (!shell.world) enterWaiting();
    return;
  }
  // Pages and pictures on this disk are the web browser's: by their name,
  // or, when the name says nothing we know, by their first bytes.
  int type = zvSuffixToType(path.c_str());
  bool world = type == ZV_TYPE_VRML || type == ZV_TYPE_GZIP || (type == ZV_TYPE_OTHER && looksLikeWorld(path));
  if (!world) {
    zvWwwShowInBrowser(zvPathToFileUrl(path.c_str()));
    return;
  }
  std::string url = worldUrl(path);
  ZvHistoryEntry* before = zvGetCurrentHistoryEntry();
  ZvHistoryEntry* entry = before;
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
    loadWorld(path.c_str(), entry == before ? nullptr : before);
  }
}

void openWorld(const char* name) {
  if (shell.viewState == kParsing || !name) return;
  zvWwwClearStop();
  openUrl(name);
  // Further worlds named on the command line follow one after the other.
  if (const char* next = zvNextCommandLineWord(shell.words)) postOpen(next);
}

void postOpenUrl(const std::string& url) {
  shell.pendingUrl = url;
  zvPlatformPostMessage(kOpenUrl, 0, 0);
}

// Back and Forward move along the history without changing it; an entry
// whose world is no longer cached (the cache let it go, or it failed to
// load) is read again from its URL.
void goHistory(ZvHistoryEntry* entry) {
  if (!entry || shell.viewState == kParsing) return;
  if (shell.fetch.active) {
    zvMessage("%s : another world is on its way; stop it first", shell.fetch.url.c_str());
    return;
  }
  ZvHistoryEntry* before = zvGetCurrentHistoryEntry();
  if (ZvWorld* world = zvGetCachedWorld(entry->url)) {
    leaveWorld();
    zvSetCurrentHistoryEntry(entry);
    showWorld(world);
    return;
  }
  if (zvIsRemoteUrl(entry->url)) {
    zvWwwClearStop();
    zvSetCurrentHistoryEntry(entry);
    fetchWorld(entry->url, kFetchHistory, before);
    return;
  }
  leaveWorld();
  zvSetCurrentHistoryEntry(entry);
  std::string path = localPath(entry->url);
  if (!path.empty() && loadWorld(path.c_str(), nullptr) == ZV_OK) return;
  enterWaiting();
  zvPlatformSetLocation(shell.window, entry->url);
}

// Reads the current world again from its file, in the same history entry.
void reloadWorld() {
  if (shell.viewState != kRunning || !shell.world) return;
  std::string url = shell.world->url ? shell.world->url : "";
  ZvWorld* world = zvGetCachedWorld(url.c_str());
  if (!world) return;
  zvWwwClearStop();
  // A remote world stays until its new copy is here: a failed fetch
  // leaves it shown.
  if (zvIsRemoteUrl(url.c_str())) {
    zvSetHistoryReuse(1);
    openUrl(url.c_str());
    return;
  }
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
    // A world from the network links to nothing on this disk.
    if (zvIsRemoteUrl(base) && !zvIsRemoteUrl(out)) {
      zvMessage("%s : a world from the network may not open local files", out);
      return std::string();
    }
    return out;
  }
  return std::string();
}

// The input layer's view of the world: what lies under a point.
int pickAt(int x, int y, ZvObj** object, float point[3], ZvLeaf** part) {
  ZvPickResult result{};
  if (!shell.world || shell.viewState != kRunning || zvPickupZvShape(shell.world, x, y, &result) != ZV_OK ||
      !result.object)
    return -1;
  *object = result.object;
  std::memcpy(point, result.point, sizeof result.point);
  *part = result.leaf;
  return 0;
}

const char* anchorOf(ZvObj* anchor) {
  shell.anchorText = anchorUrl(anchor);
  return shell.anchorText.empty() ? nullptr : shell.anchorText.c_str();
}

void setCursor(int kind) { zvPlatformSetViewCursor(shell.window, kind); }

// The world's handlers take the event first; then a click on a plain
// object (no pick handler, no anchor) with the jumping eye on carries the
// eye to it, to the point picked at the press.
void deliverEvent(ZvObj* target, ZvEvent* event) {
  ++shell.delivered;
  if (!shell.world || shell.viewState != kRunning) return;
  zvDeliverInteraction(shell.world, target, event);
  if (event->type != ZV_EVENT_PICK || !target || !shell.world) return;
  const ZvPointerState* pointer = zvPointerState();
  // A handler may have deleted what was clicked: then there is nowhere to go.
  if (!pointer->target || pointer->anchorObject || pointer->pickObject) return;
  if (ZvNavigation* nav = zvGetNavigation(shell.world); nav && nav->jumpMode)
    zvNavApproach(shell.world->person, pointer->point);
}

void navPointer(int on) {
  if (on)
    zvNavPointerHandlingOn();
  else
    zvNavPointerHandlingOff();
}

void hop() {
  if (shell.viewState == kRunning && hooks.jump) hooks.jump();
}

void flashFrame(uint32_t rgb) {
  shell.flashCount = kFlashCount;
  shell.flashNext = nowMs() + kFlashStep;
  shell.flashColor = rgb;
  zvPlatformSetViewFrameColor(shell.window, rgb);
}

void stopFlash() {
  if (!shell.flashCount) return;
  shell.flashCount = 0;
  zvPlatformSetViewFrameColor(shell.window, 0);
}

// Flash, plain, flash, plain: the count's parity picks the colour.
void stepFlash(uint32_t now) {
  if (shell.flashCount <= 0 || int32_t(now - shell.flashNext) < 0) return;
  shell.flashNext = now + kFlashStep;
  --shell.flashCount;
  zvPlatformSetViewFrameColor(shell.window, shell.flashCount % 2 ? shell.flashColor : 0);
}

void renderFrame() {
  ZvWorld* world = shell.world;
  if (!world) return;
  zvSendWorldEvent(world, ZV_EVENT_FRAME);
  if (world != shell.world || !world->viewer) return;
  bool first = shell.measuring == world;
  size_t heapBefore = first ? zvHeapBytesInUse() : 0;
  uint32_t start = nowMs();
  zvRenderShowWorld(world);
  uint32_t end = nowMs();
  if (first) {
    shell.measuring = nullptr;
    chargeWorld(world, heapBefore, true);
  }
  uint32_t render = end - start, other = start - shell.previousEnd, total = end - shell.previousEnd;
  // Once the world's scripts started Tk, every frame leaves it a slice.
  shell.resetPending = zvAdaptFrameInterval(&shell.interval, render, uint32_t(std::max(0, zvScriptTkSlice(world))));
  if (shell.frameRateReport) {
    char line[256];
    zvFormatFrameRate(line, sizeof line, render, other, total, shell.resetPending, shell.interval);
    std::fputs(line, stderr);
  }
  shell.previousEnd = end;
}

void onMessage(void*, int code, intptr_t a, intptr_t);

void tick(void*) {
  // Armed first, so the period runs from the start of this frame and a
  // changed interval takes effect with the next one.
  zvPlatformArmTimer(&shell.timer, int(shell.interval));
  shell.resetPending = 0;
  stepFlash(nowMs());
  // A fetch waiting in its nested loop: the world is half read, or its
  // script is inside the fetch; neither may go on. Only the count moves.
  if (zvWwwFetchWaiting()) {
    if (shell.viewState == kFetching || shell.viewState == kParsing) {
      char text[32];
      std::snprintf(text, sizeof text, "Loading %d", shell.fetchTicks++);
      if (shell.viewState == kFetching) showText(text);
    }
    return;
  }
  if (!shell.held.empty() && !zvBehaviourBusy()) {
    std::vector<std::pair<int, intptr_t>> held;
    held.swap(shell.held);
    for (auto [code, a] : held) onMessage(nullptr, code, a, 0);
    if (!shell.window || !zvPlatformWindowExists(shell.window)) return;
  }
  if (shell.viewState == kRunning) {
    shell.viewState = kTicking;
    // A box up means a nested loop: the world and its sounds wait for it.
    if (!shell.modalBox) {
      zvWakeWorldTasks(shell.world);
      zvSoundUpdate(shell.world);
    }
    if (shell.viewState == kTicking) shell.viewState = kRunning;
  }
  if (shell.modalBox) return;
  if (shell.viewState == kRunning) {
    if (hooks.navStep) hooks.navStep();
    zvUpdateCommands();  // the jumping eye may have changed with the world
    renderFrame();
  } else if (shell.viewState == kFetching) {
    char text[32];
    std::snprintf(text, sizeof text, "Loading %d", shell.fetchTicks++);
    showText(text);
  }
}

// What changes or closes the world shown must not run under one of its
// scripts; it is held until the script is done.
bool holdWhileBusy(int code, intptr_t a) {
  switch (code) {
    case kOpenFile: case kOpenUrl: case kLoadError: case kClose: case kGoBack: case kGoForward: case kReload:
    case kDocument: case kFetchFailed: case kStartFetch:
      break;
    default:
      return false;
  }
  // The window closing ends a fetch's wait; the close itself comes after.
  if (code == kClose && zvWwwFetchWaiting()) zvWwwCancelProgress();
  if (!zvBehaviourBusy() && !zvWwwFetchWaiting()) return false;
  shell.held.push_back({code, a});
  return true;
}

void onMessage(void*, int code, intptr_t a, intptr_t) {
  if (holdWhileBusy(code, a)) return;
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
      startFetching();
      break;
    case kDocument:
      fetchArrived(reinterpret_cast<Delivery*>(a));
      break;
    case kFetchFailed:
      fetchFailed(reinterpret_cast<std::string*>(a));
      break;
    case kFlash:
      flashFrame(uint32_t(a));
      break;
    case kLoadError:
      std::fprintf(stderr, "Quillmoor: Load Error\n");
      leaveWorld();
      enterWaiting();
      shell.modalBox = 1;
      zvPlatformMessageBox(shell.window, kTitle, "Load Error", ZV_BOX_WARNING);
      shell.modalBox = 0;
      break;
    case kClose:
      zvPlatformDestroyWindow(shell.window);
      break;
    case kGoBack:
      goHistory(zvPrevHistoryEntry(zvGetCurrentHistoryEntry()));
      break;
    case kGoForward:
      goHistory(zvNextHistoryEntry(zvGetCurrentHistoryEntry()));
      break;
    case kReload:
      reloadWorld();
      break;
    default:
      break;
  }
  if (zvPlatformWindowExists(shell.window)) zvUpdateCommands();
}

// The navigation's collision alert asks for a red flash (a Windows colour:
// red in the low byte).
void navMainMessage(int message, int, int colour) {
  if (message != 1024 + kFlash) return;
  uint32_t c = uint32_t(colour);
  zvPlatformPostMessage(kFlash, intptr_t(((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff)), 0);
}

// Keys reach the input layer in every state, so a key let go while a
// world loads is not left held; history keys act first.
void onKey(void*, int down, uint32_t keysym, uint32_t state) {
  // Alt with an arrow moves along the history rather than the person.
  bool alt = (state & ZV_MOD_ALT) != 0;
  if (down && shell.viewState != kParsing) {
    if (keysym == ZV_KEY_BROWSER_BACK || (alt && keysym == ZV_KEY_LEFT)) return zvShellGoBack();
    if (keysym == ZV_KEY_BROWSER_FORWARD || (alt && keysym == ZV_KEY_RIGHT)) return zvShellGoForward();
    if (keysym == ZV_KEY_BROWSER_RELOAD || keysym == ZV_KEY_F5) return zvShellReload();
  }
  zvKeyInput(down, keysym, state, nowMs());
}

// The left button and the motion go to the input layer first, which may
// take the press from the navigation's drag (a grab, or Alt held).
void onPointer(void*, int kind, int x, int y, int button, uint32_t state) {
  if (shell.viewState != kRunning || zvWwwFetchWaiting()) return;
  if (kind == ZV_POINTER_MOTION || button == 1) zvMouseInput(kind, x, y, state, nowMs());
  if (shell.viewState != kRunning) return;
  if (hooks.pointer) hooks.pointer(kind, x, y, button, state);
  if (shell.viewState == kRunning && kind == ZV_POINTER_MOTION) zvLabelPointerMotion(shell.world, x, y);
}

void onCommand(void*, int id, int press) { zvMenuExec(id, press); }

void onLayout(void*, int width, int height) { zvLayoutMainWindow(width, height); }

// Exactly one dropped file is opened.
void onDrop(void*, int count, const char* const* paths) {
  if (count != 1) {
    zvWarning("%s", kOneFile);
    return;
  }
  if (std::strlen(paths[0]) < 256)
    postOpenUrl(paths[0]);
  else
    zvMessage("%.200s... : the name is too long to open", paths[0]);
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
  zvServeHandOvers(0);
  zvVideoClose();
  zvVideoHooks().window = nullptr;
  leaveWorld();
  zvWwwLinkHooks() = ZvWwwLinkHooks{};
  zvWwwShutdownLink();
  for (auto [code, a] : shell.held) {
    if (code == kDocument) delete reinterpret_cast<Delivery*>(a);
    if (code == kFetchFailed) delete reinterpret_cast<std::string*>(a);
  }
  shell.held.clear();
  zvDestroyCommands();
  zvClearWorldCache();
  zvClearHistory();
  zvPlatformDisarmTimer(&shell.timer);
  zvPlatformSetMessageHandler(nullptr, nullptr);
  zvRenderCloseViewer();
  zvUninstallLabels();
  zvDisconnectSharedWindows();
  zvNotifyDestroy();
  zvPlatformCloseWindow(shell.window);
  shell.window = nullptr;
}

}  // namespace

ZvShellHooks* zvShellHooks(void) { return &hooks; }

ZvPlatformWindow* zvShellWindow(void) { return shell.window; }
int zvShellViewState(void) { return shell.viewState; }
ZvWorld* zvShellWorld(void) { return shell.world; }
void zvShellPostOpenUrl(const char* url) {
  if (url && *url) postOpenUrl(url);
}
int zvShellFetching(void) { return shell.viewState == kFetching || shell.fetch.active || zvWwwFetchWaiting() ? 1 : 0; }
void zvShellStop(void) { zvWwwCancelProgress(); }
void zvShellPostOpenUrlAt(const char* url, const ZvTransform* viewpoint) {
  if (!url || !*url || !viewpoint) return;
  postOpenUrl(url);
  shell.viewpointUrl = url;
  shell.viewpoint = *viewpoint;
}
void zvShellGoBack(void) { onMessage(nullptr, kGoBack, 0, 0); }
void zvShellGoForward(void) { onMessage(nullptr, kGoForward, 0, 0); }
void zvShellReload(void) { onMessage(nullptr, kReload, 0, 0); }
void zvShellClose(void) { zvPlatformPostMessage(kClose, 0, 0); }
void zvShellFlashFrame(uint32_t rgb) { zvPlatformPostMessage(kFlash, intptr_t(rgb & 0xffffff), 0); }
void zvShellSetModalBox(int on) { shell.modalBox = on; }

int zvRunWindow(ZvCommandLine* words, const ZvShellOptions* options) {
  // Only the window takes the lock: headless runs go beside an open browser.
  if (zvPlatformTakeInstanceLock() == -1) {
    // A document for the browser already open goes to its window.
    if (options && options->firstWorld && zvHandOverDocument(options->firstWorld) == 0) return 0;
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
  zvSetWorldCacheBudget(options && options->cacheMegabytes > 0 ? size_t(options->cacheMegabytes) << 20 : 0);
  if (options && options->scriptLimit > 0) zvSetScriptTimeLimit(options->scriptLimit);
  shell.dc = RwDeviceContext{deliverFrame, nullptr};
  shell.timer = ZvPlatformTimer{tick, nullptr, nullptr};
  zvClearKeyStates();
  zvResetPointerState();

  zvSetReportSink(windowReport, nullptr);
  zvInstallSubsystems();
  ZvWwwLinkHooks& link = zvWwwLinkHooks();
  link.startFetch = linkStartFetch;
  link.document = linkDocument;
  link.loadError = linkLoadError;
  link.progress = showProgress;
  zvInstallBehaviour();
  zvMediaInstall();
  zvInstallSharedWorlds();
  zvProvideShellScriptCommands(1);
  zvNavInstallHooks();
  zvConnectNavigation();
  zvNavHooks().postMainMessage = navMainMessage;
  ZvInputHooks& input = zvInputHooks();
  input = ZvInputHooks{};
  input.pick = pickAt;
  input.setCursor = setCursor;
  input.showPadButton = zvShowPadButton;
  input.deliver = deliverEvent;
  input.openUrl = zvShellPostOpenUrl;
  input.anchorUrl = anchorOf;
  input.navPointer = navPointer;
  input.hop = hop;
  zvSceneHooks().programDirectory = zvDataDirectory;
  // The driver loads while the labels' fonts and the window are made.
  zvRenderStartViewer();
  zvRenderInstallHooks();
  zvInstallLabels(options ? options->showNames : 0, options ? options->showComments : 0,
                  options ? options->noLabelBackground : 0);

  ZvWindowCallbacks callbacks{onKey, onPointer, onResize, nullptr, onLocation, onCommand, onLayout, onDrop};
  shell.window = zvPlatformOpenWindow(kTitle, kStartWidth, kStartHeight, &callbacks);
  if (!shell.window) {
    std::fprintf(stderr, "quillmoor: cannot open the window: %s\n", zvPlatformWindowError());
    zvUninstallLabels();
    zvRenderCloseViewer();
    return 1;
  }
  if (zvRenderInitViewer() != ZV_OK) {
    zvSetReportSink(nullptr, nullptr);
    zvError("zvInit() : fails to initialize viewer.");
    zvUninstallLabels();
    zvPlatformCloseWindow(shell.window);
    shell.window = nullptr;
    return 255;
  }
  // Videos play over the view and hide the labels meanwhile.
  zvVideoHooks().window = shell.window;
  zvVideoHooks().hideLabels = zvHideLabels;
  zvVideoHooks().showLabels = zvShowLabels;
  // The bars and the location bar take their room around the view.
  zvCreateCommands(shell.window);
  zvConnectBookmarks();
  zvConnectSharedWindows();
  int clientWidth, clientHeight;
  zvClientSizeForView(kStartWidth, kStartHeight, &clientWidth, &clientHeight);
  zvPlatformSetClientSize(shell.window, clientWidth, clientHeight);
  zvRenderSetViewSize(kStartWidth, kStartHeight);
  zvPlatformSetMessageHandler(onMessage, nullptr);
  zvNotifyCreate(shell.window);
  zvServeHandOvers(1);
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
