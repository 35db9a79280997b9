// window.cpp — the main window over Tcl/Tk 8.6. The view is a canvas with
// two items: a photo image that takes each finished frame, and a text item
// centred for the view's messages; only one of them shows at a time. Keys
// and pointer events are taken at the X level, so that auto-repeat can be
// told from a real second press.
#include <tcl.h>
#include <tk.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/tkpriv.h"
#include "platform/window.h"

struct ZvPlatformWindow {
  Tcl_Interp* interp;
  Tk_Window main;
  Tk_Window view;
  Tk_PhotoHandle photo;
  ZvWindowCallbacks callbacks;
  int width, height;
  int showingFrame;
  int photoWidth, photoHeight, photoX, photoY;
  // A key release waiting to learn whether auto-repeat made it.
  int releaseHeld;
  unsigned releaseKeycode;
  Time releaseTime;
  uint32_t releaseKeysym, releaseState;
  Tcl_TimerToken releaseTimer;
  // Which key codes are down, with the keysym each went down as.
  uint32_t down[256];
  int cursor;
};

namespace {

enum { kLocationMax = 256 };
const char kBarFont[] = "{Courier New} -14";

// Return in the location bar hands what was typed to the shell.
int locationCommand(ClientData data, Tcl_Interp*, int objc, Tcl_Obj* const objv[]) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (objc != 2 || !w->callbacks.location) return TCL_OK;
  std::string text = Tcl_GetString(objv[1]);
  if (text.size() > kLocationMax) text.resize(kLocationMax);
  w->callbacks.location(w->callbacks.user, text.c_str());
  return TCL_OK;
}

// How long a key release waits for an auto-repeat press; well under what
// anyone can hold a key for.
const int kRepeatWait = 25;

std::string lastError;
ZvMessageProc messageProc;
void* messageUser;
int quitAsked;

struct Message {
  Tcl_Event header;  // first: Tcl frees the whole record
  int code;
  intptr_t a, b;
};


void deliverKey(ZvPlatformWindow* w, int down, uint32_t keysym, uint32_t state) {
  if (w->callbacks.key) w->callbacks.key(w->callbacks.user, down, keysym, state);
}

void flushRelease(ClientData data) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (!w->releaseHeld) return;
  w->releaseHeld = 0;
  deliverKey(w, 0, w->releaseKeysym, w->releaseState);
}

// The press that auto-repeat pairs with a release can reach us a little
// after it; it may then sit in Xlib's buffer, not yet in Tcl's queue. If it
// is the next event, it cancels the release when it comes.
void idleRelease(ClientData data) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (!w->releaseHeld || !w->main) return;
  Display* display = Tk_Display(w->main);
  if (XEventsQueued(display, QueuedAfterReading) > 0) {
    XEvent next;
    XPeekEvent(display, &next);
    if (next.type == KeyPress && (next.xkey.keycode & 0xff) == w->releaseKeycode && next.xkey.time == w->releaseTime)
      return;
  }
  flushRelease(w);
}

// Waits first, then for the queue to be empty, so that a press already
// queued behind the timer is served before the release is judged.
void releaseTimerFired(ClientData data) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  w->releaseTimer = nullptr;
  Tcl_DoWhenIdle(idleRelease, w);
}

void cancelRelease(ZvPlatformWindow* w) {
  if (w->releaseTimer) Tcl_DeleteTimerHandler(w->releaseTimer);
  w->releaseTimer = nullptr;
  Tcl_CancelIdleCall(idleRelease, w);
}

// X auto-repeat sends a release and a press with one time stamp for a key
// still held. A release is therefore held back until the next key event or
// for a moment after it; a press that pairs with it cancels both.
void keyEvent(ZvPlatformWindow* w, XKeyEvent* ev) {
  unsigned code = ev->keycode & 0xff;
  if (ev->type == KeyPress) {
    if (w->releaseHeld && w->releaseKeycode == code && w->releaseTime == ev->time) {
      w->releaseHeld = 0;
      w->down[code] = w->releaseKeysym ? w->releaseKeysym : 0xffffff;  // still down
      cancelRelease(w);
      return;
    }
    if (w->releaseHeld) {
      cancelRelease(w);
      flushRelease(w);
    }
    if (w->down[code]) return;  // repeats without releases
    char text[8];
    KeySym keysym = NoSymbol;
    XLookupString(ev, text, sizeof text, &keysym, nullptr);
    w->down[code] = uint32_t(keysym) ? uint32_t(keysym) : 0xffffff;
    deliverKey(w, 1, uint32_t(keysym), ev->state);
    return;
  }
  if (!w->down[code]) return;  // went down before we had the focus
  if (w->releaseHeld) {
    cancelRelease(w);
    flushRelease(w);
  }
  w->releaseHeld = 1;
  w->releaseKeycode = code;
  w->releaseTime = ev->time;
  w->releaseKeysym = w->down[code] == 0xffffff ? 0 : w->down[code];
  w->releaseState = ev->state;
  w->down[code] = 0;
  w->releaseTimer = Tcl_CreateTimerHandler(kRepeatWait, releaseTimerFired, w);
}

// Keys released while another window has the focus are never reported:
// losing the focus lets go of everything.
void releaseAllKeys(ZvPlatformWindow* w) {
  if (w->releaseHeld) {
    cancelRelease(w);
    flushRelease(w);
  }
  for (uint32_t& k : w->down)
    if (k) {
      uint32_t keysym = k == 0xffffff ? 0 : k;
      k = 0;
      deliverKey(w, 0, keysym, 0);
    }
}

void centreText(ZvPlatformWindow* w) {
  zvPlatformEvalWords(w->interp,
            {".view", "coords", "message", std::to_string(w->width / 2), std::to_string(w->height / 2)});
}

void viewEvent(ClientData data, XEvent* ev) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  const ZvWindowCallbacks& cb = w->callbacks;
  switch (ev->type) {
    case KeyPress:
    case KeyRelease:
      keyEvent(w, &ev->xkey);
      break;
    case ButtonPress:
    case ButtonRelease:
      if (cb.pointer)
        cb.pointer(cb.user, ev->type == ButtonPress ? ZV_POINTER_PRESS : ZV_POINTER_RELEASE, ev->xbutton.x,
                   ev->xbutton.y, int(ev->xbutton.button), ev->xbutton.state);
      break;
    case MotionNotify:
      if (cb.pointer) cb.pointer(cb.user, ZV_POINTER_MOTION, ev->xmotion.x, ev->xmotion.y, 0, ev->xmotion.state);
      break;
    case FocusOut:
      if (ev->xfocus.detail != NotifyInferior) releaseAllKeys(w);
      break;
    case ConfigureNotify:
      if (ev->xconfigure.width == w->width && ev->xconfigure.height == w->height) break;
      w->width = ev->xconfigure.width;
      w->height = ev->xconfigure.height;
      centreText(w);
      if (cb.resize) cb.resize(cb.user, w->width, w->height);
      break;
    default:
      break;
  }
}

void mainEvent(ClientData data, XEvent* ev) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (ev->type == DestroyNotify) {
    cancelRelease(w);
    w->main = nullptr;
    w->view = nullptr;
  }
}

int serveMessage(Tcl_Event* event, int flags) {
  if (!(flags & TCL_WINDOW_EVENTS)) return 0;  // keep it for a full pass
  auto* m = reinterpret_cast<Message*>(event);
  if (messageProc) messageProc(messageUser, m->code, m->a, m->b);
  return 1;
}

// Something outside may destroy our windows (a window manager's kill, a
// test's xdotool); Tk then still unmaps and frees them, and the default X
// handler would end the process over it.
int ignoreGoneWindow(ClientData, XErrorEvent*) { return 0; }

void timerFired(ClientData data) {
  auto* t = static_cast<ZvPlatformTimer*>(data);
  t->token = nullptr;
  if (t->proc) t->proc(t->user);
}

}  // namespace

void zvPlatformInitEvents(void) {
  static bool done = false;
  if (done) return;
  done = true;
  Tcl_FindExecutable(nullptr);
}

int zvPlatformHasDisplay(void) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return 0;
  Display* display = XOpenDisplay(name);
  if (!display) return 0;
  XCloseDisplay(display);
  return 1;
}

const char* zvPlatformWindowError(void) { return lastError.c_str(); }

ZvPlatformWindow* zvPlatformOpenWindow(const char* title, int width, int height, const ZvWindowCallbacks* callbacks) {
  lastError.clear();
  zvPlatformInitEvents();
  if (width < 1 || height < 1 || width > 4096 || height > 4096) {
    lastError = "bad view size";
    return nullptr;
  }
  Tcl_Interp* interp = Tcl_CreateInterp();
  Tcl_SetVar(interp, "argv0", "quillmoor", TCL_GLOBAL_ONLY);
  Tcl_SetVar(interp, "argv", "-class Quillmoor", TCL_GLOBAL_ONLY);
  Tcl_SetVar(interp, "argc", "2", TCL_GLOBAL_ONLY);
  if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) {
    lastError = Tcl_GetStringResult(interp);
    Tcl_DeleteInterp(interp);
    return nullptr;
  }
  auto* w = new ZvPlatformWindow{};
  w->interp = interp;
  w->main = Tk_MainWindow(interp);
  w->width = width;
  w->height = height;
  if (callbacks) w->callbacks = *callbacks;
  Tcl_CreateObjCommand(interp, "qmLocation", locationCommand, w, nullptr);
  std::string ws = std::to_string(width), hs = std::to_string(height);
  bool ok = zvPlatformEvalWords(interp, {"wm", "title", ".", title ? title : ""}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".", "configure", "-background", "black"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"image", "create", "photo", "qmFrame"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"canvas", ".view", "-background", "black", "-highlightthickness", "0",
                               "-borderwidth", "0", "-width", ws, "-height", hs}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".view", "create", "image", "0", "0", "-anchor", "nw", "-image", "qmFrame",
                               "-state", "hidden", "-tags", "frame"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".view", "create", "text", std::to_string(width / 2), std::to_string(height / 2),
                               "-fill", "white", "-text", "", "-tags", "message"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"frame", ".bar", "-background", "black"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"label", ".bar.label", "-text", "Location:", "-font", kBarFont, "-foreground",
                               "white", "-background", "black", "-borderwidth", "0", "-padx", "0"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"entry", ".bar.location", "-font", kBarFont, "-width", "34", "-foreground", "white",
                               "-background", "black", "-insertbackground", "white", "-relief", "flat",
                               "-borderwidth", "0", "-highlightthickness", "1", "-highlightbackground",
                               "#808080", "-highlightcolor", "#808080"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".bar.label", "-side", "left"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".bar.location", "-side", "left", "-padx", "3 0"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".bar", "-side", "top"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".view", "-fill", "both", "-expand", "1"}) == TCL_OK &&
            // Return opens what was typed and gives the keys back to the view.
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<Return>",
                               "qmLocation [.bar.location get]; focus .view; break"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<KP_Enter>",
                               "qmLocation [.bar.location get]; focus .view; break"}) == TCL_OK &&
            // Control-A takes the whole text, so that typing replaces it.
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<Control-a>",
                               "%W selection range 0 end; %W icursor end; break"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"bind", ".view", "<ButtonPress>", "focus .view"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"focus", ".view"}) == TCL_OK;
  if (ok) {
    w->view = Tk_NameToWindow(interp, ".view", w->main);
    w->photo = Tk_FindPhoto(interp, "qmFrame");
    ok = w->view && w->photo;
  }
  if (!ok) {
    lastError = Tcl_GetStringResult(interp);
    if (lastError.empty()) lastError = "cannot build the view";
    zvPlatformCloseWindow(w);
    return nullptr;
  }
  Tk_CreateEventHandler(w->view,
                        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            FocusChangeMask | StructureNotifyMask,
                        viewEvent, w);
  Tk_CreateEventHandler(w->main, StructureNotifyMask, mainEvent, w);
  Tk_CreateErrorHandler(Tk_Display(w->main), BadWindow, -1, -1, ignoreGoneWindow, nullptr);
  Tk_CreateErrorHandler(Tk_Display(w->main), BadDrawable, -1, -1, ignoreGoneWindow, nullptr);
  return w;
}

void zvPlatformCloseWindow(ZvPlatformWindow* w) {
  if (!w) return;
  cancelRelease(w);
  if (w->main) {
    Tk_DeleteEventHandler(w->main, StructureNotifyMask, mainEvent, w);
    if (w->view)
      Tk_DeleteEventHandler(w->view,
                            KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                FocusChangeMask | StructureNotifyMask,
                            viewEvent, w);
    Tk_DestroyWindow(w->main);
  }
  Tcl_DeleteInterp(w->interp);
  delete w;
}

void zvPlatformDestroyWindow(ZvPlatformWindow* w) {
  if (w && w->main) Tk_DestroyWindow(w->main);
}

int zvPlatformWindowExists(const ZvPlatformWindow* w) { return w && w->main; }

int zvPlatformSetWindowTitle(ZvPlatformWindow* w, const char* title) {
  if (!w || !w->main) return -1;
  return zvPlatformEvalWords(w->interp, {"wm", "title", ".", title ? title : ""}) == TCL_OK ? 0 : -1;
}

void zvPlatformGetViewSize(const ZvPlatformWindow* w, int* width, int* height) {
  if (width) *width = w ? w->width : 0;
  if (height) *height = w ? w->height : 0;
}

int zvPlatformShowViewText(ZvPlatformWindow* w, const char* text) {
  if (!w || !w->main) return -1;
  w->showingFrame = 0;
  bool ok = zvPlatformEvalWords(w->interp, {".view", "itemconfigure", "frame", "-state", "hidden"}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {".view", "itemconfigure", "message", "-text", text ? text : "", "-state",
                                  "normal"}) == TCL_OK;
  return ok ? 0 : -1;
}

int zvPlatformShowFrame(ZvPlatformWindow* w, const uint8_t* rgba, int width, int height, int stride, int x, int y) {
  if (!w || !w->main || !rgba || width < 1 || height < 1 || stride < 4 * width) return 0;
  if (width != w->photoWidth || height != w->photoHeight) {
    if (Tk_PhotoSetSize(w->interp, w->photo, width, height) != TCL_OK) return 0;
    w->photoWidth = width;
    w->photoHeight = height;
  }
  Tk_PhotoImageBlock block;
  block.pixelPtr = const_cast<unsigned char*>(rgba);
  block.width = width;
  block.height = height;
  block.pitch = stride;
  block.pixelSize = 4;
  block.offset[0] = 0;
  block.offset[1] = 1;
  block.offset[2] = 2;
  block.offset[3] = 4;  // past the pixel: every pixel opaque, whatever its alpha byte
  if (Tk_PhotoPutBlock(w->interp, w->photo, &block, 0, 0, width, height, TK_PHOTO_COMPOSITE_SET) != TCL_OK) return 0;
  if (x != w->photoX || y != w->photoY || !w->showingFrame) {
    zvPlatformEvalWords(w->interp, {".view", "coords", "frame", std::to_string(x), std::to_string(y)});
    w->photoX = x;
    w->photoY = y;
  }
  if (!w->showingFrame) {
    zvPlatformEvalWords(w->interp, {".view", "itemconfigure", "message", "-state", "hidden"});
    zvPlatformEvalWords(w->interp, {".view", "itemconfigure", "frame", "-state", "normal"});
    w->showingFrame = 1;
  }
  return 1;
}

int zvPlatformSetLocation(ZvPlatformWindow* w, const char* text) {
  if (!w || !w->main) return -1;
  std::string t = text ? text : "";
  if (t.size() > kLocationMax) t.resize(kLocationMax);
  bool ok = zvPlatformEvalWords(w->interp, {".bar.location", "delete", "0", "end"}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {".bar.location", "insert", "0", t}) == TCL_OK;
  return ok ? 0 : -1;
}

void zvPlatformSetViewCursor(ZvPlatformWindow* w, int kind) {
  static const char* const names[] = {"", "hand2", "hand1", "fleur", "exchange"};
  if (!w || !w->main || kind < 0 || kind > ZV_CURSOR_DRAG || kind == w->cursor) return;
  if (zvPlatformEvalWords(w->interp, {".view", "configure", "-cursor", names[kind]}) == TCL_OK) w->cursor = kind;
}

void zvPlatformFlushWindow(ZvPlatformWindow* w) {
  if (!w || !w->main) return;
  while (Tcl_DoOneEvent(TCL_IDLE_EVENTS | TCL_DONT_WAIT)) {
  }
  XFlush(Tk_Display(w->main));
}

void zvPlatformArmTimer(ZvPlatformTimer* t, int milliseconds) {
  if (!t) return;
  zvPlatformInitEvents();
  if (t->token) Tcl_DeleteTimerHandler(static_cast<Tcl_TimerToken>(t->token));
  t->token = Tcl_CreateTimerHandler(milliseconds < 0 ? 0 : milliseconds, timerFired, t);
}

void zvPlatformDisarmTimer(ZvPlatformTimer* t) {
  if (!t || !t->token) return;
  Tcl_DeleteTimerHandler(static_cast<Tcl_TimerToken>(t->token));
  t->token = nullptr;
}

void zvPlatformSetMessageHandler(ZvMessageProc proc, void* user) {
  messageProc = proc;
  messageUser = user;
}

void zvPlatformPostMessage(int code, intptr_t a, intptr_t b) {
  zvPlatformInitEvents();
  auto* m = reinterpret_cast<Message*>(Tcl_Alloc(sizeof(Message)));
  m->header.proc = serveMessage;
  m->header.nextPtr = nullptr;
  m->code = code;
  m->a = a;
  m->b = b;
  Tcl_QueueEvent(&m->header, TCL_QUEUE_TAIL);
}

int zvPlatformDoOneEvent(int wait) {
  zvPlatformInitEvents();
  return Tcl_DoOneEvent(wait ? TCL_ALL_EVENTS : TCL_ALL_EVENTS | TCL_DONT_WAIT);
}

void zvPlatformRunLoop(void) {
  quitAsked = 0;
  while (!quitAsked && Tk_GetNumMainWindows() > 0) Tcl_DoOneEvent(TCL_ALL_EVENTS);
}

void zvPlatformQuitLoop(void) { quitAsked = 1; }

// Other top-level windows of the program live in the same interpreter.
Tcl_Interp* zvPlatformWindowInterp(ZvPlatformWindow* w) { return w && w->main ? w->interp : nullptr; }

int zvPlatformEvalWords(Tcl_Interp* interp, std::initializer_list<std::string> words) {
  Tcl_Obj* objs[24] = {};
  int n = 0;
  for (const std::string& w : words) {
    if (n == 24) break;
    objs[n] = Tcl_NewStringObj(w.data(), int(w.size()));
    Tcl_IncrRefCount(objs[n]);
    ++n;
  }
  int r = Tcl_EvalObjv(interp, n, objs, TCL_EVAL_GLOBAL);
  for (int i = 0; i < n; ++i) Tcl_DecrRefCount(objs[i]);
  return r;
}
