// notify.cpp — pop-ups and log views over Tk. A pop-up is a toplevel with a
// button; a log view is a sunken frame holding a canvas that shows one photo
// image and a scroll bar beside it. Both are laid out with place, so the
// caller decides every rectangle. Tk may destroy either behind our back (the
// main window going takes all its children along); the records notice it
// through DestroyNotify and then only answer failure.
#include <tcl.h>
#include <tk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/notify.h"
#include "platform/tkpriv.h"
#include "platform/window.h"

struct ZvPlatformPopup {
  Tcl_Interp* interp;
  Tk_Window tkwin;  // null once Tk destroyed it
  std::string path, command;
  ZvPopupCallbacks callbacks;
  int shown;
  int width, height;
};

struct ZvPlatformLogView {
  Tcl_Interp* interp;
  Tk_Window frame, area, scroll;  // each null once Tk destroyed it
  Tk_PhotoHandle photo;
  std::string path, command, image;
  ZvLogViewCallbacks callbacks;
  int photoWidth, photoHeight;
  int areaWidth, areaHeight;
  int paintPending;
};

namespace {

const int kBorder = 1;  // the log view's sunken frame
int serial;

std::string number(int n) { return std::to_string(n); }

// ---------------------------------------------------------------------------
// Pop-ups

int popupCloseCommand(ClientData data, Tcl_Interp*, int objc, Tcl_Obj* const objv[]) {
  auto* p = static_cast<ZvPlatformPopup*>(data);
  int id = 0;
  if (objc == 2) {
    if (Tcl_GetIntFromObj(nullptr, objv[1], &id) == TCL_OK && p->callbacks.command)
      p->callbacks.command(p->callbacks.user, id);
    return TCL_OK;
  }
  if (p->callbacks.close)
    p->callbacks.close(p->callbacks.user);
  else
    zvPlatformHidePopup(p);
  return TCL_OK;
}

void popupEvent(ClientData data, XEvent* ev) {
  auto* p = static_cast<ZvPlatformPopup*>(data);
  if (ev->type == DestroyNotify) {
    p->tkwin = nullptr;
    p->shown = 0;
    return;
  }
  if (ev->type != ConfigureNotify) return;
  int w = ev->xconfigure.width, h = ev->xconfigure.height;
  if (w == p->width && h == p->height) return;
  p->width = w;
  p->height = h;
  if (p->callbacks.resize) p->callbacks.resize(p->callbacks.user, w, h);
}

// ---------------------------------------------------------------------------
// Log views

void handleScroll(ZvPlatformLogView* v, int kind, double amount) {
  if (v->callbacks.scroll) v->callbacks.scroll(v->callbacks.user, kind, amount);
}

// The words a scroll bar's -command adds: "scroll N units|pages",
// "moveto F"; and ours for the keys, "top" and "bottom".
int runScrollWords(ZvPlatformLogView* v, int count, const char* const* words) {
  if (count == 1 && std::strcmp(words[0], "top") == 0) {
    handleScroll(v, ZV_SCROLL_TOP, 0);
    return 0;
  }
  if (count == 1 && std::strcmp(words[0], "bottom") == 0) {
    handleScroll(v, ZV_SCROLL_BOTTOM, 0);
    return 0;
  }
  char* end = nullptr;
  if (count == 3 && std::strcmp(words[0], "click") == 0) {
    long x = std::strtol(words[1], &end, 10);
    if (end == words[1] || *end) return -1;
    long y = std::strtol(words[2], &end, 10);
    if (end == words[2] || *end) return -1;
    if (v->callbacks.click) v->callbacks.click(v->callbacks.user, int(std::clamp(x, -100000L, 100000L)),
                                               int(std::clamp(y, -100000L, 100000L)));
    return 0;
  }
  if (count == 2 && std::strcmp(words[0], "moveto") == 0) {
    double f = std::strtod(words[1], &end);
    if (end == words[1] || *end || !std::isfinite(f)) return -1;
    handleScroll(v, ZV_SCROLL_MOVETO, std::clamp(f, 0.0, 1.0));
    return 0;
  }
  if (count == 3 && std::strcmp(words[0], "scroll") == 0) {
    long n = std::strtol(words[1], &end, 10);
    if (end == words[1] || *end) return -1;
    n = std::clamp(n, -1000000L, 1000000L);
    if (std::strcmp(words[2], "units") == 0)
      handleScroll(v, ZV_SCROLL_UNITS, double(n));
    else if (std::strcmp(words[2], "pages") == 0)
      handleScroll(v, ZV_SCROLL_PAGES, double(n));
    else
      return -1;
    return 0;
  }
  return -1;
}

int logScrollCommand(ClientData data, Tcl_Interp*, int objc, Tcl_Obj* const objv[]) {
  const char* words[3];
  if (objc < 2 || objc > 4) return TCL_OK;
  for (int i = 1; i < objc; ++i) words[i - 1] = Tcl_GetString(objv[i]);
  runScrollWords(static_cast<ZvPlatformLogView*>(data), objc - 1, words);
  return TCL_OK;
}

void logFrameEvent(ClientData data, XEvent* ev) {
  if (ev->type == DestroyNotify) static_cast<ZvPlatformLogView*>(data)->frame = nullptr;
}

void logScrollEvent(ClientData data, XEvent* ev) {
  if (ev->type == DestroyNotify) static_cast<ZvPlatformLogView*>(data)->scroll = nullptr;
}

void logAreaEvent(ClientData data, XEvent* ev) {
  auto* v = static_cast<ZvPlatformLogView*>(data);
  if (ev->type == DestroyNotify) {
    v->area = nullptr;
    return;
  }
  if (ev->type != ConfigureNotify) return;
  int w = ev->xconfigure.width, h = ev->xconfigure.height;
  // Tk says 1 x 1 until it has laid the window out.
  if (w <= 1 || h <= 1 || (w == v->areaWidth && h == v->areaHeight)) return;
  v->areaWidth = w;
  v->areaHeight = h;
  if (v->callbacks.resize) v->callbacks.resize(v->callbacks.user, w, h);
}

void paintWhenIdle(ClientData data) {
  auto* v = static_cast<ZvPlatformLogView*>(data);
  v->paintPending = 0;
  if (v->frame && v->callbacks.paint) v->callbacks.paint(v->callbacks.user);
}

bool tkAlive(Tcl_Interp* interp) { return interp && Tk_MainWindow(interp) != nullptr; }

}  // namespace

// ---------------------------------------------------------------------------
// Pop-ups

ZvPlatformPopup* zvPlatformOpenPopup(ZvPlatformWindow* main, const char* className, const char* title, int width,
                                     int height, const char* buttonText, const ZvPopupCallbacks* callbacks) {
  Tcl_Interp* interp = zvPlatformWindowInterp(main);
  if (!interp || width < 100 || height < 80 || width > 4096 || height > 4096) return nullptr;
  auto* p = new ZvPlatformPopup{};
  p->interp = interp;
  if (callbacks) p->callbacks = *callbacks;
  p->width = width;
  p->height = height;
  int n = ++serial;
  p->path = ".popup" + number(n);
  p->command = "qmPopupClose" + number(n);
  Tcl_CreateObjCommand(interp, p->command.c_str(), popupCloseCommand, p, nullptr);
  const std::string& path = p->path;
  bool ok = zvPlatformEvalWords(interp, {"toplevel", path, "-class", className ? className : "Popup"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"wm", "withdraw", path}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"wm", "title", path, title ? title : ""}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"wm", "geometry", path, number(width) + "x" + number(height)}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"wm", "protocol", path, "WM_DELETE_WINDOW", p->command}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"button", path + ".button", "-text", buttonText ? buttonText : "",
                                         "-command", p->command}) == TCL_OK;
  if (ok) {
    p->tkwin = Tk_NameToWindow(interp, path.c_str(), Tk_MainWindow(interp));
    ok = p->tkwin != nullptr;
  }
  if (!ok) {
    zvPlatformClosePopup(p);
    return nullptr;
  }
  Tk_CreateEventHandler(p->tkwin, StructureNotifyMask, popupEvent, p);
  return p;
}

void zvPlatformClosePopup(ZvPlatformPopup* p) {
  if (!p) return;
  if (p->tkwin) {
    Tk_DeleteEventHandler(p->tkwin, StructureNotifyMask, popupEvent, p);
    zvPlatformEvalWords(p->interp, {"destroy", p->path});
  } else if (tkAlive(p->interp)) {
    zvPlatformEvalWords(p->interp, {"destroy", p->path});  // half built
  }
  Tcl_DeleteCommand(p->interp, p->command.c_str());
  delete p;
}

int zvPlatformShowPopup(ZvPlatformPopup* p) {
  if (!p || !p->tkwin) return -1;
  // Deiconified every time: the user may have minimised it meanwhile.
  if (zvPlatformEvalWords(p->interp, {"wm", "deiconify", p->path}) != TCL_OK) return -1;
  p->shown = 1;
  return 0;
}

int zvPlatformHidePopup(ZvPlatformPopup* p) {
  if (!p || !p->tkwin) return -1;
  if (zvPlatformEvalWords(p->interp, {"wm", "withdraw", p->path}) != TCL_OK) return -1;
  p->shown = 0;
  return 0;
}

int zvPlatformPopupShown(const ZvPlatformPopup* p) { return p && p->tkwin && p->shown; }

void zvPlatformGetPopupSize(const ZvPlatformPopup* p, int* width, int* height) {
  if (width) *width = p ? p->width : 0;
  if (height) *height = p ? p->height : 0;
}

int zvPlatformPlacePopupButton(ZvPlatformPopup* p, int x, int y, int width, int height) {
  if (!p || !p->tkwin) return -1;
  bool ok = zvPlatformEvalWords(p->interp, {"place", p->path + ".button", "-x", number(x), "-y", number(y), "-width",
                                            number(std::max(width, 1)), "-height", number(std::max(height, 1))}) ==
            TCL_OK;
  return ok ? 0 : -1;
}

int zvPlatformPressPopupButton(ZvPlatformPopup* p) {
  if (!p || !p->tkwin) return -1;
  return zvPlatformEvalWords(p->interp, {p->path + ".button", "invoke"}) == TCL_OK ? 0 : -1;
}

namespace {
std::string commandPath(const ZvPlatformPopup* p, int id) { return p->path + ".command" + number(id); }
}  // namespace

int zvPlatformAddPopupCommand(ZvPlatformPopup* p, int id, const char* text) {
  if (!p || !p->tkwin || id < 0 || id > 9999) return -1;
  return zvPlatformEvalWords(p->interp, {"button", commandPath(p, id), "-text", text ? text : "", "-command",
                                         p->command + " " + number(id)}) == TCL_OK
             ? 0
             : -1;
}

int zvPlatformPlacePopupCommand(ZvPlatformPopup* p, int id, int x, int y, int width, int height) {
  if (!p || !p->tkwin) return -1;
  return zvPlatformEvalWords(p->interp, {"place", commandPath(p, id), "-x", number(x), "-y", number(y), "-width",
                                         number(std::max(width, 1)), "-height", number(std::max(height, 1))}) ==
                 TCL_OK
             ? 0
             : -1;
}

int zvPlatformEnablePopupCommand(ZvPlatformPopup* p, int id, int enabled) {
  if (!p || !p->tkwin) return -1;
  return zvPlatformEvalWords(p->interp, {commandPath(p, id), "configure", "-state", enabled ? "normal" : "disabled"}) ==
                 TCL_OK
             ? 0
             : -1;
}

int zvPlatformPressPopupCommand(ZvPlatformPopup* p, int id) {
  if (!p || !p->tkwin) return -1;
  // An entry is "pressed" by Return, which reports it as a button would.
  if (zvPlatformEvalWords(p->interp, {"winfo", "class", commandPath(p, id)}) == TCL_OK &&
      std::strcmp(Tcl_GetStringResult(p->interp), "Entry") == 0) {
    if (p->callbacks.command) p->callbacks.command(p->callbacks.user, id);
    return 0;
  }
  return zvPlatformEvalWords(p->interp, {commandPath(p, id), "invoke"}) == TCL_OK ? 0 : -1;
}

int zvPlatformSetPopupModal(ZvPlatformPopup* p, int on) {
  if (!p || !p->tkwin) return -1;
  if (!on) return zvPlatformEvalWords(p->interp, {"grab", "release", p->path}) == TCL_OK ? 0 : -1;
  zvPlatformEvalWords(p->interp, {"wm", "transient", p->path, "."});
  // The grab needs the window viewable; a window manager may take a moment.
  zvPlatformEvalWords(p->interp, {"update", "idletasks"});
  return zvPlatformEvalWords(p->interp, {"catch", "grab " + p->path}) == TCL_OK ? 0 : -1;
}

int zvPlatformPlacePopupAbove(ZvPlatformPopup* p) {
  if (!p || !p->tkwin) return -1;
  auto query = [p](const std::string& what, const std::string& window) {
    int value = 0;
    if (zvPlatformEvalWords(p->interp, {"winfo", what, window}) == TCL_OK)
      Tcl_GetIntFromObj(nullptr, Tcl_GetObjResult(p->interp), &value);
    return value;
  };
  int mainX = query("rootx", "."), mainY = query("rooty", ".");
  int screenWidth = query("screenwidth", "."), screenHeight = query("screenheight", ".");
  // A caption's worth above the main window's top, whole on the screen.
  int x = std::clamp(mainX, 0, std::max(screenWidth - p->width, 0));
  int y = std::clamp(mainY - p->height - 30, 0, std::max(screenHeight - p->height, 0));
  return zvPlatformEvalWords(p->interp, {"wm", "geometry", p->path, "+" + number(x) + "+" + number(y)}) == TCL_OK
             ? 0
             : -1;
}

// ---------------------------------------------------------------------------
// Log views

ZvPlatformLogView* zvPlatformOpenLogView(ZvPlatformWindow* main, ZvPlatformPopup* parent, int x, int y, int width,
                                         int height, const ZvLogViewCallbacks* callbacks) {
  Tcl_Interp* interp = zvPlatformWindowInterp(main);
  if (!interp || (parent && (!parent->tkwin || parent->interp != interp))) return nullptr;
  auto* v = new ZvPlatformLogView{};
  v->interp = interp;
  if (callbacks) v->callbacks = *callbacks;
  int n = ++serial;
  v->path = (parent ? parent->path : std::string()) + ".log" + number(n);
  v->command = "qmLogScroll" + number(n);
  v->image = "qmLogImage" + number(n);
  Tcl_CreateObjCommand(interp, v->command.c_str(), logScrollCommand, v, nullptr);
  const std::string& path = v->path;
  const std::string area = path + ".area", scroll = path + ".scroll", c = v->command;
  bool ok =
      zvPlatformEvalWords(interp, {"frame", path, "-borderwidth", number(kBorder), "-relief", "sunken"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"scrollbar", scroll, "-orient", "vertical", "-command", c}) == TCL_OK &&
      // Sized by the frame alone: asking for nothing keeps place in charge.
      zvPlatformEvalWords(interp, {"canvas", area, "-background", "black", "-highlightthickness", "0",
                                   "-borderwidth", "0", "-width", "1", "-height", "1"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"image", "create", "photo", v->image}) == TCL_OK &&
      zvPlatformEvalWords(interp, {area, "create", "image", "0", "0", "-anchor", "nw", "-image", v->image}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"pack", scroll, "-side", "right", "-fill", "y"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"pack", area, "-side", "left", "-fill", "both", "-expand", "1"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<ButtonPress-1>", "focus %W; " + c + " click %x %y"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Home>", c + " top"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<End>", c + " bottom"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Up>", c + " scroll -1 units"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Down>", c + " scroll 1 units"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Prior>", c + " scroll -1 pages"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Next>", c + " scroll 1 pages"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Button-4>", c + " scroll -3 units"}) == TCL_OK &&
      zvPlatformEvalWords(interp, {"bind", area, "<Button-5>", c + " scroll 3 units"}) == TCL_OK;
  if (ok) {
    Tk_Window top = Tk_MainWindow(interp);
    v->frame = Tk_NameToWindow(interp, path.c_str(), top);
    v->area = Tk_NameToWindow(interp, area.c_str(), top);
    v->scroll = Tk_NameToWindow(interp, scroll.c_str(), top);
    v->photo = Tk_FindPhoto(interp, v->image.c_str());
    ok = v->frame && v->area && v->scroll && v->photo;
  }
  if (ok) {
    Tk_CreateEventHandler(v->frame, StructureNotifyMask, logFrameEvent, v);
    Tk_CreateEventHandler(v->scroll, StructureNotifyMask, logScrollEvent, v);
    Tk_CreateEventHandler(v->area, StructureNotifyMask, logAreaEvent, v);
    ok = zvPlatformPlaceLogView(v, x, y, width, height) == 0;
  }
  if (!ok) {
    zvPlatformCloseLogView(v);
    return nullptr;
  }
  return v;
}

void zvPlatformCloseLogView(ZvPlatformLogView* v) {
  if (!v) return;
  if (v->paintPending) Tcl_CancelIdleCall(paintWhenIdle, v);
  if (v->area) Tk_DeleteEventHandler(v->area, StructureNotifyMask, logAreaEvent, v);
  if (v->scroll) Tk_DeleteEventHandler(v->scroll, StructureNotifyMask, logScrollEvent, v);
  if (v->frame) Tk_DeleteEventHandler(v->frame, StructureNotifyMask, logFrameEvent, v);
  // Images outlive windows, but not the main window: Tk deletes them all
  // with it.
  if (tkAlive(v->interp)) {
    zvPlatformEvalWords(v->interp, {"destroy", v->path});
    zvPlatformEvalWords(v->interp, {"image", "delete", v->image});
  }
  Tcl_DeleteCommand(v->interp, v->command.c_str());
  delete v;
}

int zvPlatformPlaceLogView(ZvPlatformLogView* v, int x, int y, int width, int height) {
  if (!v || !v->frame) return -1;
  bool ok = zvPlatformEvalWords(v->interp, {"place", v->path, "-x", number(x), "-y", number(y), "-width",
                                            number(std::max(width, 1)), "-height", number(std::max(height, 1))}) ==
            TCL_OK;
  return ok ? 0 : -1;
}

void zvPlatformLogViewArea(const ZvPlatformLogView* v, int width, int height, int* areaWidth, int* areaHeight) {
  int bar = v && v->scroll ? Tk_ReqWidth(v->scroll) : 0;
  if (areaWidth) *areaWidth = std::max(width - 2 * kBorder - bar, 0);
  if (areaHeight) *areaHeight = std::max(height - 2 * kBorder, 0);
}

void zvPlatformRequestLogPaint(ZvPlatformLogView* v) {
  if (!v || !v->frame || v->paintPending) return;
  v->paintPending = 1;
  Tcl_DoWhenIdle(paintWhenIdle, v);
}

int zvPlatformShowLogImage(ZvPlatformLogView* v, const uint8_t* rgba, int width, int height, int stride) {
  if (!v || !v->frame || !rgba || width < 1 || height < 1 || stride < 4 * width) return -1;
  if (width != v->photoWidth || height != v->photoHeight) {
    if (Tk_PhotoSetSize(v->interp, v->photo, width, height) != TCL_OK) return -1;
    v->photoWidth = width;
    v->photoHeight = height;
  }
  return zvPlatformPutPicture(v->interp, v->photo, rgba, width, height, stride) == TCL_OK ? 0 : -1;
}

int zvPlatformSetLogScroll(ZvPlatformLogView* v, int maximum, int position, int page) {
  if (!v || !v->scroll) return -1;
  double first = 0, last = 1;
  if (maximum > 0) {
    first = std::clamp(double(position) / maximum, 0.0, 1.0);
    last = std::clamp(double(position + std::max(page, 1)) / maximum, first, 1.0);
  }
  char a[32], b[32];
  std::snprintf(a, sizeof a, "%.6f", first);
  std::snprintf(b, sizeof b, "%.6f", last);
  return zvPlatformEvalWords(v->interp, {v->path + ".scroll", "set", a, b}) == TCL_OK ? 0 : -1;
}

int zvPlatformLogViewCommand(ZvPlatformLogView* v, const char* command) {
  if (!v || !command) return -1;
  std::string copy = command;
  const char* words[4];
  int count = 0;
  for (char* word = std::strtok(copy.data(), " "); word; word = std::strtok(nullptr, " ")) {
    if (count == 4) return -1;
    words[count++] = word;
  }
  return count > 0 && count <= 3 ? runScrollWords(v, count, words) : -1;
}

// ---------------------------------------------------------------------------
// Labels, check boxes and entries of a pop-up

namespace {

std::string colour(uint32_t rgb) {
  char text[16];
  std::snprintf(text, sizeof text, "#%06x", unsigned(rgb & 0xffffff));
  return text;
}

// The global variable a check box keeps its state in.
std::string checkVariable(const ZvPlatformPopup* p, int id) { return p->command + "_check" + number(id); }

// Characters, not bytes: Tk's limit counts characters.
std::string cutCharacters(const char* text, int count) {
  std::string out;
  for (const char* q = text; *q && count > 0; --count) {
    const char* start = q++;
    while ((static_cast<unsigned char>(*q) & 0xc0) == 0x80) ++q;
    out.append(start, q);
  }
  return out;
}

bool validId(const ZvPlatformPopup* p, int id) { return p && p->tkwin && id >= 0 && id <= 9999; }

}  // namespace

int zvPlatformAddPopupLabel(ZvPlatformPopup* p, int id, const char* text) {
  if (!validId(p, id)) return -1;
  return zvPlatformEvalWords(p->interp, {"label", commandPath(p, id), "-text", text ? text : "", "-anchor", "w"}) ==
                 TCL_OK
             ? 0
             : -1;
}

int zvPlatformAddPopupCheck(ZvPlatformPopup* p, int id, const char* text) {
  if (!validId(p, id)) return -1;
  std::string variable = checkVariable(p, id);
  Tcl_SetVar(p->interp, variable.c_str(), "0", TCL_GLOBAL_ONLY);
  return zvPlatformEvalWords(p->interp, {"checkbutton", commandPath(p, id), "-text", text ? text : "", "-variable",
                                         "::" + variable, "-onvalue", "1", "-offvalue", "0", "-anchor", "w"}) ==
                 TCL_OK
             ? 0
             : -1;
}

int zvPlatformSetPopupCheck(ZvPlatformPopup* p, int id, int on) {
  if (!validId(p, id)) return -1;
  return Tcl_SetVar(p->interp, checkVariable(p, id).c_str(), on ? "1" : "0", TCL_GLOBAL_ONLY) ? 0 : -1;
}

int zvPlatformPopupCheck(const ZvPlatformPopup* p, int id) {
  if (!validId(p, id)) return -1;
  const char* value = Tcl_GetVar(p->interp, checkVariable(p, id).c_str(), TCL_GLOBAL_ONLY);
  return value ? std::strcmp(value, "1") == 0 : -1;
}

int zvPlatformAddPopupEntry(ZvPlatformPopup* p, int id, int maxCharacters, uint32_t text, uint32_t background) {
  if (!validId(p, id)) return -1;
  const std::string path = commandPath(p, id), fore = colour(text), back = colour(background);
  bool ok = zvPlatformEvalWords(p->interp, {"entry", path, "-foreground", fore, "-background", back,
                                            "-insertbackground", fore, "-relief", "flat", "-borderwidth", "0",
                                            "-highlightthickness", "1", "-highlightcolor", fore,
                                            "-highlightbackground", fore}) == TCL_OK &&
            zvPlatformEvalWords(p->interp, {"bind", path, "<Return>", p->command + " " + number(id)}) == TCL_OK &&
            zvPlatformEvalWords(p->interp, {"bind", path, "<KP_Enter>", p->command + " " + number(id)}) == TCL_OK &&
            zvPlatformEvalWords(p->interp, {"bind", path, "<Control-j>", p->command + " " + number(id)}) == TCL_OK;
  return ok ? zvPlatformSetPopupEntryLimit(p, id, maxCharacters) : -1;
}

int zvPlatformSetPopupEntryLimit(ZvPlatformPopup* p, int id, int maxCharacters) {
  if (!validId(p, id)) return -1;
  int limit = std::clamp(maxCharacters, 0, 100000);
  // %P is the text the edit would leave; Tk quotes it as one word.
  std::string check = "expr {[string length %P] <= " + number(limit) + "}";
  return zvPlatformEvalWords(p->interp, {commandPath(p, id), "configure", "-validate", "key", "-validatecommand",
                                         check}) == TCL_OK
             ? 0
             : -1;
}

int zvPlatformSetPopupEntry(ZvPlatformPopup* p, int id, const char* text) {
  if (!validId(p, id) || !text) return -1;
  const std::string path = commandPath(p, id);
  if (zvPlatformEvalWords(p->interp, {path, "cget", "-validatecommand"}) != TCL_OK) return -1;
  std::string check = Tcl_GetStringResult(p->interp);
  int limit = 100000;
  if (size_t at = check.find("<= "); at != std::string::npos) limit = std::atoi(check.c_str() + at + 3);
  std::string cut = cutCharacters(text, limit);
  // Our own edit is let through: the limit is kept by the cut.
  bool ok = zvPlatformEvalWords(p->interp, {path, "configure", "-validate", "none"}) == TCL_OK &&
            zvPlatformEvalWords(p->interp, {path, "delete", "0", "end"}) == TCL_OK &&
            zvPlatformEvalWords(p->interp, {path, "insert", "0", cut}) == TCL_OK;
  zvPlatformEvalWords(p->interp, {path, "configure", "-validate", "key"});
  return ok ? int(cut.size()) : -1;
}

int zvPlatformGetPopupEntry(const ZvPlatformPopup* p, int id, char* out, int size) {
  if (!validId(p, id) || !out || size < 1) return -1;
  if (zvPlatformEvalWords(p->interp, {commandPath(p, id), "get"}) != TCL_OK) return -1;
  std::string text = Tcl_GetStringResult(p->interp);
  size_t n = std::min(text.size(), size_t(size - 1));
  while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80) --n;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return int(n);
}

int zvPlatformFocusPopupControl(ZvPlatformPopup* p, int id) {
  if (!validId(p, id)) return -1;
  return zvPlatformEvalWords(p->interp, {"focus", commandPath(p, id)}) == TCL_OK ? 0 : -1;
}
