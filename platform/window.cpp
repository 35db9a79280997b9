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
#include <map>
#include <string>
#include <vector>

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
  int clientWidth, clientHeight;
  int laidOut;
  int dropReady;
  // Menus and their items by command identifier.
  int menuCount;
  struct Item {
    std::string menu;
    int kind;
    int enabled, checked;
  };
  std::map<int, Item> items;
  int serial;  // names panels and buttons
  std::map<int, ZvPlatformButton*> buttons;
  std::vector<ZvPlatformPanel*> panels;
};

struct ZvPlatformPanel {
  ZvPlatformWindow* window;
  std::string path;
  std::vector<ZvPlatformButton*> buttons;
};

struct ZvPlatformButton {
  ZvPlatformPanel* panel;
  int serial;
  std::string path, image;
  int width, height;
  ZvButtonProc proc;
  void* user;
  Tk_PhotoHandle photo;
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

int menuCommand(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  int id = 0, press = 1;
  if (objc < 2 || Tcl_GetIntFromObj(interp, objv[1], &id) != TCL_OK) return TCL_ERROR;
  if (objc > 2 && Tcl_GetIntFromObj(interp, objv[2], &press) != TCL_OK) return TCL_ERROR;
  // Tk flips a check item's mark itself; the shell decides what it shows.
  auto it = w->items.find(id);
  if (it != w->items.end() && it->second.kind == ZV_MENU_CHECK)
    Tcl_SetVar2(interp, "qmCheck", std::to_string(id).c_str(), it->second.checked ? "1" : "0", TCL_GLOBAL_ONLY);
  if (w->callbacks.command) w->callbacks.command(w->callbacks.user, id, press);
  return TCL_OK;
}

// qmButton SERIAL KIND X Y from a picture button's bindings.
int buttonCommand(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  int serial = 0, kind = 0, x = 0, y = 0;
  if (objc != 5 || Tcl_GetIntFromObj(interp, objv[1], &serial) != TCL_OK ||
      Tcl_GetIntFromObj(interp, objv[2], &kind) != TCL_OK || Tcl_GetIntFromObj(interp, objv[3], &x) != TCL_OK ||
      Tcl_GetIntFromObj(interp, objv[4], &y) != TCL_OK)
    return TCL_ERROR;
  auto it = w->buttons.find(serial);
  if (it == w->buttons.end() || !it->second->proc) return TCL_OK;
  ZvPlatformButton* b = it->second;
  int inside = x >= 0 && y >= 0 && x < b->width && y < b->height;
  b->proc(b->user, b, kind, inside);
  return TCL_OK;
}

// tkdnd hands the dropped names as one list; the drop is taken as a copy.
int dropCommand(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (objc != 2) return TCL_ERROR;
  int count = 0;
  Tcl_Obj** names = nullptr;
  if (Tcl_ListObjGetElements(interp, objv[1], &count, &names) != TCL_OK) return TCL_ERROR;
  std::vector<std::string> paths;
  for (int i = 0; i < count && i < 64; ++i) paths.push_back(Tcl_GetString(names[i]));
  std::vector<const char*> list;
  for (auto& p : paths) list.push_back(p.c_str());
  // At most 64 names are handed on; a drop that big is "several" anyway.
  if (w->callbacks.drop && !list.empty()) w->callbacks.drop(w->callbacks.user, int(list.size()), list.data());
  Tcl_SetResult(interp, const_cast<char*>("copy"), TCL_STATIC);
  return TCL_OK;
}

// The two dialogs are small enough to be Tcl procedures: a line of text
// under a prompt with OK and Cancel, modal over the main window.
const char kDialogScript[] = R"TCL(
proc qmAskText {title prompt initial} {
  set d .qmask
  catch {destroy $d}
  toplevel $d -class Dialog
  wm title $d $title
  wm transient $d .
  wm resizable $d 0 0
  label $d.prompt -text $prompt -anchor w
  entry $d.text -width 48
  $d.text insert 0 $initial
  $d.text selection range 0 end
  frame $d.buttons
  button $d.buttons.ok -text OK -width 8 -default active -command {set ::qmAskDone 1}
  button $d.buttons.cancel -text Cancel -width 8 -command {set ::qmAskDone 0}
  pack $d.buttons.ok $d.buttons.cancel -side left -padx 6
  pack $d.prompt -side top -fill x -padx 10 -pady {10 2}
  pack $d.text -side top -fill x -padx 10
  pack $d.buttons -side top -pady 10
  bind $d <Return> {set ::qmAskDone 1}
  bind $d <KP_Enter> {set ::qmAskDone 1}
  bind $d <Escape> {set ::qmAskDone 0}
  wm protocol $d WM_DELETE_WINDOW {set ::qmAskDone 0}
  set ::qmAskDone -1
  focus $d.text
  catch {grab $d}
  vwait ::qmAskDone
  set text [$d.text get]
  set done $::qmAskDone
  catch {grab release $d}
  destroy $d
  focus .view
  if {$done == 1} {return [list 1 $text]}
  return [list 0 {}]
}
)TCL";

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

// Without a layout from the shell the bar sits on top and the view takes
// the rest.
void defaultLayout(ZvPlatformWindow* w, int width, int height) {
  int label = 0, bar = 0;
  zvPlatformLocationBarSize(w, &label, &bar);
  zvPlatformPlaceLocationBar(w, 0, 0, width, bar);
  zvPlatformPlaceView(w, 0, bar, width, height > bar ? height - bar : 1, 0);
}

void mainEvent(ClientData data, XEvent* ev) {
  auto* w = static_cast<ZvPlatformWindow*>(data);
  if (ev->type == ConfigureNotify && w->main) {
    int width = Tk_Width(w->main), height = Tk_Height(w->main);
    if (width == w->clientWidth && height == w->clientHeight && w->laidOut) return;
    w->clientWidth = width;
    w->clientHeight = height;
    w->laidOut = 1;
    if (w->callbacks.layout)
      w->callbacks.layout(w->callbacks.user, width, height);
    else
      defaultLayout(w, width, height);
    return;
  }
  if (ev->type == DestroyNotify) {
    cancelRelease(w);
    w->main = nullptr;
    w->view = nullptr;
    // The loop ends with our window, whatever other Tk main windows (a
    // world's scripts have their own) are still about.
    quitAsked = 1;
  }
}

int serveMessage(Tcl_Event* event, int flags) {
  if (!(flags & TCL_WINDOW_EVENTS)) return 0;  // keep it for a full pass
  auto* m = reinterpret_cast<Message*>(event);
  if (messageProc) messageProc(messageUser, m->code, m->a, m->b);
  return 1;
}

// Something outside may destroy our windows (a window manager's kill, a
// test's xdotool). Tk then still unmaps and frees them, and a redraw it had
// queued before it heard makes its pixmap, GC and Render picture against
// the gone window and frees them after: a run of errors, each harmless,
// where the default X handler would end the process over the first. No X
// error is worth the user's session, so the few not of that kind are
// reported on standard error and otherwise treated the same.
int ignoreXError(ClientData, XErrorEvent* e) {
  static int reported = 0;
  bool goneWindow = e->error_code == BadWindow || e->error_code == BadDrawable || e->error_code == BadPixmap ||
                    e->error_code == BadGC || e->request_code >= 128;  // extensions draw on windows too
  if (!goneWindow && reported < 5) {
    char text[128] = "";
    XGetErrorText(e->display, e->error_code, text, sizeof text);
    std::fprintf(stderr, "quillmoor: X error ignored: %s (request %d)\n", text, e->request_code);
    ++reported;
  }
  return 0;
}

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
  Tcl_CreateObjCommand(interp, "qmCommand", menuCommand, w, nullptr);
  Tcl_CreateObjCommand(interp, "qmButton", buttonCommand, w, nullptr);
  Tcl_CreateObjCommand(interp, "qmDrop", dropCommand, w, nullptr);
  w->clientWidth = width;
  w->clientHeight = height;
  std::string ws = std::to_string(width), hs = std::to_string(height);
  // Everything in the main window is placed by the shell's layout, so the
  // window's size is its own and not what its parts ask for.
  bool ok = zvPlatformEvalWords(interp, {"wm", "title", ".", title ? title : ""}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".", "configure", "-background", "black", "-width", ws, "-height", hs}) ==
                TCL_OK &&
            zvPlatformEvalWords(interp, {"menu", ".menubar", "-tearoff", "0"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"image", "create", "photo", "qmFrame"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"frame", ".vframe", "-background", "black", "-borderwidth", "0",
                                         "-highlightthickness", "0"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"canvas", ".view", "-background", "black", "-highlightthickness", "0",
                                         "-borderwidth", "0", "-width", ws, "-height", hs}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".view", "create", "image", "0", "0", "-anchor", "nw", "-image", "qmFrame",
                                         "-state", "hidden", "-tags", "frame"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {".view", "create", "text", std::to_string(width / 2),
                                         std::to_string(height / 2), "-fill", "white", "-text", "", "-tags",
                                         "message"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"frame", ".bar", "-background", "black"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"label", ".bar.label", "-text", "Location:", "-font", kBarFont,
                                         "-foreground", "white", "-background", "black", "-borderwidth", "0",
                                         "-padx", "0", "-pady", "0"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"entry", ".bar.location", "-font", kBarFont, "-foreground", "white",
                                         "-background", "black", "-insertbackground", "white", "-relief", "flat",
                                         "-borderwidth", "0", "-highlightthickness", "1", "-highlightbackground",
                                         "#808080", "-highlightcolor", "#808080"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".bar.label", "-side", "left"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"pack", ".bar.location", "-side", "left", "-padx", "3 0", "-fill", "x",
                                         "-expand", "1"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"place", ".bar", "-x", "0", "-y", "0", "-width", ws}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"place", ".vframe", "-x", "0", "-y", "20", "-width", ws, "-height",
                                         std::to_string(height > 20 ? height - 20 : 1)}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"place", ".view", "-in", ".vframe", "-x", "0", "-y", "0", "-relwidth", "1",
                                         "-relheight", "1"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"raise", ".view"}) == TCL_OK &&
            // Return opens what was typed and gives the keys back to the view.
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<Return>",
                                         "qmLocation [.bar.location get]; focus .view; break"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<KP_Enter>",
                                         "qmLocation [.bar.location get]; focus .view; break"}) == TCL_OK &&
            // Control-A takes the whole text, so that typing replaces it.
            zvPlatformEvalWords(interp, {"bind", ".bar.location", "<Control-a>",
                                         "%W selection range 0 end; %W icursor end; break"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"bind", ".view", "<ButtonPress>", "focus .view"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"focus", ".view"}) == TCL_OK &&
            Tcl_Eval(interp, kDialogScript) == TCL_OK;
  // Dropping files needs the tkdnd package; without it the window simply
  // takes no drops.
  if (ok && Tcl_Eval(interp, "package require tkdnd") == TCL_OK) {
    if (Tcl_Eval(interp, "tkdnd::drop_target register . DND_Files; bind . <<Drop:DND_Files>> {qmDrop %D}") ==
        TCL_OK)
      w->dropReady = 1;
  }
  Tcl_ResetResult(interp);
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
  Tk_CreateErrorHandler(Tk_Display(w->main), -1, -1, -1, ignoreXError, nullptr);
  return w;
}

void zvPlatformCloseWindow(ZvPlatformWindow* w) {
  if (!w) return;
  cancelRelease(w);
  while (!w->panels.empty()) zvPlatformDeletePanel(w->panels.back());
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

int zvPlatformRaiseWindow(ZvPlatformWindow* w) {
  if (!w || !w->main) return -1;
  bool ok = zvPlatformEvalWords(w->interp, {"wm", "deiconify", "."}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {"raise", "."}) == TCL_OK;
  return ok ? 0 : -1;
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
  if (zvPlatformPutPicture(w->interp, w->photo, rgba, width, height, stride) != TCL_OK) return 0;
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

namespace {

struct FdWatch {
  ZvFdProc proc;
  void* user;
};
std::map<int, FdWatch> fdWatches;

void fdReady(ClientData data, int mask) {
  int fd = int(reinterpret_cast<intptr_t>(data));
  auto it = fdWatches.find(fd);
  if (it == fdWatches.end()) return;
  int ready = (mask & TCL_READABLE ? ZV_FD_READ : 0) | (mask & TCL_WRITABLE ? ZV_FD_WRITE : 0);
  FdWatch watch = it->second;  // the proc may end its own watch
  watch.proc(watch.user, fd, ready);
}

}  // namespace

void zvPlatformWatchFd(int fd, int mask, ZvFdProc proc, void* user) {
  if (fd < 0) return;
  zvPlatformInitEvents();
  if (!mask || !proc) {
    if (fdWatches.erase(fd)) Tcl_DeleteFileHandler(fd);
    return;
  }
  fdWatches[fd] = FdWatch{proc, user};
  Tcl_CreateFileHandler(fd, (mask & ZV_FD_READ ? TCL_READABLE : 0) | (mask & ZV_FD_WRITE ? TCL_WRITABLE : 0),
                        fdReady, reinterpret_cast<ClientData>(intptr_t(fd)));
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

int zvPlatformLoopEnding(void) { return quitAsked; }

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

// ---------------------------------------------------------------------------
// Layout

int zvPlatformPlaceView(ZvPlatformWindow* w, int x, int y, int width, int height, int border) {
  if (!w || !w->main || width < 1 || height < 1 || border < 0) return -1;
  std::string b = std::to_string(border);
  bool ok = zvPlatformEvalWords(w->interp, {"place", ".vframe", "-x", std::to_string(x - border), "-y",
                                            std::to_string(y - border), "-width", std::to_string(width + 2 * border),
                                            "-height", std::to_string(height + 2 * border)}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {"place", ".view", "-in", ".vframe", "-x", b, "-y", b, "-relwidth", "0",
                                            "-relheight", "0", "-width", std::to_string(width), "-height",
                                            std::to_string(height)}) == TCL_OK;
  return ok ? 0 : -1;
}

int zvPlatformPlaceLocationBar(ZvPlatformWindow* w, int x, int y, int width, int height) {
  if (!w || !w->main || width < 1 || height < 1) return -1;
  return zvPlatformEvalWords(w->interp, {"place", ".bar", "-x", std::to_string(x), "-y", std::to_string(y), "-width",
                                         std::to_string(width), "-height", std::to_string(height)}) == TCL_OK
             ? 0
             : -1;
}

void zvPlatformLocationBarSize(const ZvPlatformWindow* w, int* labelWidth, int* height) {
  int lw = 0, h = 0;
  if (w && w->main) {
    if (Tk_Window label = Tk_NameToWindow(w->interp, ".bar.label", w->main)) lw = Tk_ReqWidth(label);
    if (Tk_Window entry = Tk_NameToWindow(w->interp, ".bar.location", w->main)) h = Tk_ReqHeight(entry);
  }
  if (labelWidth) *labelWidth = lw;
  if (height) *height = h;
}

int zvPlatformSetClientSize(ZvPlatformWindow* w, int width, int height) {
  if (!w || !w->main || width < 1 || height < 1) return -1;
  bool ok = zvPlatformEvalWords(w->interp, {".", "configure", "-width", std::to_string(width), "-height",
                                            std::to_string(height)}) == TCL_OK;
  if (ok && Tk_IsMapped(w->main))
    ok = zvPlatformEvalWords(w->interp, {"wm", "geometry", ".",
                                         std::to_string(width) + "x" + std::to_string(height)}) == TCL_OK;
  return ok ? 0 : -1;
}

int zvPlatformSetMaxClientSize(ZvPlatformWindow* w, int width, int height) {
  if (!w || !w->main || width < 1 || height < 1) return -1;
  return zvPlatformEvalWords(w->interp, {"wm", "maxsize", ".", std::to_string(width), std::to_string(height)}) ==
                 TCL_OK
             ? 0
             : -1;
}

void zvPlatformGetClientSize(const ZvPlatformWindow* w, int* width, int* height) {
  if (width) *width = w ? w->clientWidth : 0;
  if (height) *height = w ? w->clientHeight : 0;
}

int zvPlatformSetViewFrameColor(ZvPlatformWindow* w, uint32_t rgb) {
  if (!w || !w->main) return -1;
  char colour[16];
  std::snprintf(colour, sizeof colour, "#%06x", unsigned(rgb & 0xffffff));
  return zvPlatformEvalWords(w->interp, {".vframe", "configure", "-background", colour}) == TCL_OK ? 0 : -1;
}

int zvPlatformShiftHeld(const ZvPlatformWindow* w) {
  if (!w || !w->main) return 0;
  Window root, child;
  int rx, ry, x, y;
  unsigned mask = 0;
  if (!XQueryPointer(Tk_Display(w->main), Tk_WindowId(w->main), &root, &child, &rx, &ry, &x, &y, &mask)) return 0;
  return (mask & ShiftMask) != 0;
}

// ---------------------------------------------------------------------------
// Menus

namespace {

// "&File" is "File" with its first letter marked.
void splitLabel(const char* label, std::string* text, int* underline) {
  text->clear();
  *underline = -1;
  for (const char* c = label ? label : ""; *c; ++c) {
    if (*c == '&' && c[1] && *underline < 0) {
      *underline = int(text->size());
      continue;
    }
    *text += *c;
  }
}

// The item's index in its menu, found by its command.
int itemIndex(ZvPlatformWindow* w, const std::string& menu, int id) {
  if (zvPlatformEvalWords(w->interp, {menu, "index", "end"}) != TCL_OK) return -1;
  int last = -1;
  if (Tcl_GetIntFromObj(nullptr, Tcl_GetObjResult(w->interp), &last) != TCL_OK) return -1;
  std::string want = "qmCommand " + std::to_string(id);
  for (int i = 0; i <= last; ++i) {
    if (zvPlatformEvalWords(w->interp, {menu, "type", std::to_string(i)}) != TCL_OK) continue;
    std::string type = Tcl_GetStringResult(w->interp);
    if (type == "separator" || type == "tearoff") continue;
    if (zvPlatformEvalWords(w->interp, {menu, "entrycget", std::to_string(i), "-command"}) != TCL_OK) continue;
    if (want == Tcl_GetStringResult(w->interp)) return i;
  }
  return -1;
}

}  // namespace

int zvPlatformAddMenu(ZvPlatformWindow* w, const char* label) {
  if (!w || !w->main) return -1;
  std::string text;
  int underline;
  splitLabel(label, &text, &underline);
  std::string path = ".menubar.m" + std::to_string(w->menuCount);
  bool ok = zvPlatformEvalWords(w->interp, {"menu", path, "-tearoff", "0"}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {".menubar", "add", "cascade", "-label", text, "-underline",
                                            std::to_string(underline), "-menu", path}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {".", "configure", "-menu", ".menubar"}) == TCL_OK;
  return ok ? w->menuCount++ : -1;
}

int zvPlatformAddMenuItem(ZvPlatformWindow* w, int menu, const char* label, int id, int kind) {
  if (!w || !w->main || menu < 0 || menu >= w->menuCount) return -1;
  std::string path = ".menubar.m" + std::to_string(menu);
  if (kind == ZV_MENU_SEPARATOR)
    return zvPlatformEvalWords(w->interp, {path, "add", "separator"}) == TCL_OK ? 0 : -1;
  if (w->items.count(id)) return -1;
  std::string text;
  int underline;
  splitLabel(label, &text, &underline);
  std::string command = "qmCommand " + std::to_string(id);
  int r;
  if (kind == ZV_MENU_CHECK) {
    std::string var = "qmCheck(" + std::to_string(id) + ")";
    Tcl_SetVar2(w->interp, "qmCheck", std::to_string(id).c_str(), "0", TCL_GLOBAL_ONLY);
    r = zvPlatformEvalWords(w->interp, {path, "add", "checkbutton", "-label", text, "-underline",
                                        std::to_string(underline), "-variable", var, "-command", command});
  } else {
    r = zvPlatformEvalWords(w->interp, {path, "add", "command", "-label", text, "-underline",
                                        std::to_string(underline), "-command", command});
  }
  if (r != TCL_OK) return -1;
  w->items[id] = ZvPlatformWindow::Item{path, kind, 1, 0};
  return 0;
}

int zvPlatformRemoveMenuItem(ZvPlatformWindow* w, int id) {
  if (!w || !w->main) return -1;
  auto it = w->items.find(id);
  if (it == w->items.end()) return -1;
  int index = itemIndex(w, it->second.menu, id);
  if (index >= 0) zvPlatformEvalWords(w->interp, {it->second.menu, "delete", std::to_string(index)});
  w->items.erase(it);
  return 0;
}

int zvPlatformEnableMenuItem(ZvPlatformWindow* w, int id, int enabled) {
  if (!w || !w->main) return -1;
  auto it = w->items.find(id);
  if (it == w->items.end()) return -1;
  enabled = enabled != 0;
  if (it->second.enabled == enabled) return 0;
  int index = itemIndex(w, it->second.menu, id);
  if (index < 0 || zvPlatformEvalWords(w->interp, {it->second.menu, "entryconfigure", std::to_string(index),
                                                   "-state", enabled ? "normal" : "disabled"}) != TCL_OK)
    return -1;
  it->second.enabled = enabled;
  return 0;
}

int zvPlatformCheckMenuItem(ZvPlatformWindow* w, int id, int checked) {
  if (!w || !w->main) return -1;
  auto it = w->items.find(id);
  if (it == w->items.end() || it->second.kind != ZV_MENU_CHECK) return -1;
  if (it->second.checked == (checked != 0)) return 0;
  it->second.checked = checked != 0;
  Tcl_SetVar2(w->interp, "qmCheck", std::to_string(id).c_str(), checked ? "1" : "0", TCL_GLOBAL_ONLY);
  return 0;
}

int zvPlatformMenuItemEnabled(const ZvPlatformWindow* w, int id) {
  if (!w) return -1;
  auto it = w->items.find(id);
  return it == w->items.end() ? -1 : it->second.enabled;
}

int zvPlatformMenuItemChecked(const ZvPlatformWindow* w, int id) {
  if (!w) return -1;
  auto it = w->items.find(id);
  return it == w->items.end() ? -1 : it->second.checked;
}

// ---------------------------------------------------------------------------
// Panels and picture buttons

ZvPlatformPanel* zvPlatformNewPanel(ZvPlatformWindow* w) {
  if (!w || !w->main) return nullptr;
  auto* p = new ZvPlatformPanel{};
  p->window = w;
  p->path = ".panel" + std::to_string(++w->serial);
  if (zvPlatformEvalWords(w->interp, {"frame", p->path, "-background", "black", "-borderwidth", "0",
                                      "-highlightthickness", "0"}) != TCL_OK) {
    delete p;
    return nullptr;
  }
  w->panels.push_back(p);
  return p;
}

void zvPlatformDeletePanel(ZvPlatformPanel* p) {
  if (!p) return;
  ZvPlatformWindow* w = p->window;
  for (ZvPlatformButton* b : p->buttons) {
    w->buttons.erase(b->serial);
    if (w->main) zvPlatformEvalWords(w->interp, {"image", "delete", b->image});
    delete b;
  }
  if (w->main) zvPlatformEvalWords(w->interp, {"destroy", p->path});
  for (auto it = w->panels.begin(); it != w->panels.end(); ++it)
    if (*it == p) {
      w->panels.erase(it);
      break;
    }
  delete p;
}

int zvPlatformPlacePanel(ZvPlatformPanel* p, int x, int y, int width, int height) {
  if (!p || !p->window->main || width < 1 || height < 1) return -1;
  return zvPlatformEvalWords(p->window->interp, {"place", p->path, "-x", std::to_string(x), "-y", std::to_string(y),
                                                 "-width", std::to_string(width), "-height",
                                                 std::to_string(height)}) == TCL_OK
             ? 0
             : -1;
}

ZvPlatformButton* zvPlatformNewButton(ZvPlatformPanel* p, int width, int height, ZvButtonProc proc, void* user) {
  if (!p || !p->window->main || width < 1 || height < 1 || width > 512 || height > 512) return nullptr;
  ZvPlatformWindow* w = p->window;
  auto* b = new ZvPlatformButton{};
  b->panel = p;
  b->serial = ++w->serial;
  b->width = width;
  b->height = height;
  b->proc = proc;
  b->user = user;
  std::string n = std::to_string(b->serial);
  b->path = p->path + ".b" + n;
  b->image = "qmButton" + n;
  bool ok = zvPlatformEvalWords(w->interp, {"image", "create", "photo", b->image, "-width", std::to_string(width),
                                            "-height", std::to_string(height)}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {"label", b->path, "-image", b->image, "-borderwidth", "0",
                                            "-highlightthickness", "0", "-padx", "0", "-pady", "0", "-background",
                                            "black"}) == TCL_OK &&
            zvPlatformEvalWords(w->interp, {"bind", b->path, "<ButtonPress-1>", "qmButton " + n + " 1 %x %y"}) ==
                TCL_OK &&
            zvPlatformEvalWords(w->interp, {"bind", b->path, "<B1-Motion>", "qmButton " + n + " 2 %x %y"}) ==
                TCL_OK &&
            zvPlatformEvalWords(w->interp, {"bind", b->path, "<ButtonRelease-1>", "qmButton " + n + " 3 %x %y"}) ==
                TCL_OK;
  b->photo = ok ? Tk_FindPhoto(w->interp, b->image.c_str()) : nullptr;
  if (!b->photo) {
    zvPlatformEvalWords(w->interp, {"destroy", b->path});
    zvPlatformEvalWords(w->interp, {"image", "delete", b->image});
    delete b;
    return nullptr;
  }
  p->buttons.push_back(b);
  w->buttons[b->serial] = b;
  return b;
}

int zvPlatformPlaceButton(ZvPlatformButton* b, int x, int y) {
  if (!b || !b->panel->window->main) return -1;
  return zvPlatformEvalWords(b->panel->window->interp, {"place", b->path, "-x", std::to_string(x), "-y",
                                                        std::to_string(y), "-width", std::to_string(b->width),
                                                        "-height", std::to_string(b->height)}) == TCL_OK
             ? 0
             : -1;
}

int zvPlatformShowButtonPicture(ZvPlatformButton* b, const uint8_t* rgba, int width, int height, int stride) {
  if (!b || !b->panel->window->main || !rgba || width < 1 || height < 1 || stride < 4 * width) return -1;
  int w = width < b->width ? width : b->width, h = height < b->height ? height : b->height;
  return zvPlatformPutPicture(b->panel->window->interp, b->photo, rgba, w, h, stride) == TCL_OK ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Boxes and dialogs

void zvPlatformMessageBox(ZvPlatformWindow* w, const char* title, const char* text, int icon) {
  if (!w || !w->main) return;
  const char* icons[] = {"info", "warning", "error"};
  zvPlatformEvalWords(w->interp, {"tk_messageBox", "-parent", ".", "-title", title ? title : "", "-message",
                                  text ? text : "", "-icon", icons[icon >= 0 && icon <= 2 ? icon : 0], "-type",
                                  "ok"});
  Tcl_ResetResult(w->interp);
}

int zvPlatformAskOpenFile(ZvPlatformWindow* w, char* out, int size) {
  if (!w || !w->main || !out || size < 2) return 0;
  if (zvPlatformEvalWords(w->interp, {"tk_getOpenFile", "-parent", ".", "-filetypes",
                                      "{{VRML Files} {.wrl}} {{All Files} *}", "-defaultextension", ".wrl"}) !=
      TCL_OK)
    return 0;
  std::string name = Tcl_GetStringResult(w->interp);
  Tcl_ResetResult(w->interp);
  if (name.empty() || int(name.size()) >= size) return 0;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return 1;
}

int zvPlatformAskText(ZvPlatformWindow* w, const char* title, const char* prompt, const char* initial, char* out,
                      int size) {
  if (!w || !w->main || !out || size < 1) return 0;
  if (zvPlatformEvalWords(w->interp, {"qmAskText", title ? title : "", prompt ? prompt : "", initial ? initial : ""}) !=
      TCL_OK)
    return 0;
  Tcl_Obj* result = Tcl_GetObjResult(w->interp);
  Tcl_Obj *flag = nullptr, *text = nullptr;
  int ok = 0;
  if (Tcl_ListObjIndex(w->interp, result, 0, &flag) == TCL_OK && flag &&
      Tcl_ListObjIndex(w->interp, result, 1, &text) == TCL_OK && text &&
      Tcl_GetIntFromObj(nullptr, flag, &ok) == TCL_OK && ok) {
    std::string t = Tcl_GetString(text);
    if (int(t.size()) >= size) t.resize(size - 1);
    std::memcpy(out, t.c_str(), t.size() + 1);
  } else {
    ok = 0;
  }
  Tcl_ResetResult(w->interp);
  return ok;
}

int zvPlatformPutPicture(Tcl_Interp* interp, Tk_PhotoHandle photo, const uint8_t* rgba, int width, int height,
                         int stride) {
  Tk_PhotoImageBlock block;
  block.pixelPtr = const_cast<unsigned char*>(rgba);
  block.width = width;
  block.height = height;
  block.pitch = stride;
  block.pixelSize = 4;
  block.offset[0] = 0;
  block.offset[1] = 1;
  block.offset[2] = 2;
  block.offset[3] = 4;  // past the pixel: no alpha channel
  return Tk_PhotoPutBlock(interp, photo, &block, 0, 0, width, height, TK_PHOTO_COMPOSITE_SET);
}
