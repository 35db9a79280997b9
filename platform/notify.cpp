// notify.cpp — top-level text windows over Tk: a read-only text widget with
// a scroll bar and a "Close" button centred under it, laid out by place so
// that resizing keeps the margins.
#include <tcl.h>
#include <tk.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "platform/notify.h"
#include "platform/tkpriv.h"
#include "platform/window.h"

Tcl_Interp* zvPlatformWindowInterp(ZvPlatformWindow* w);

struct ZvPlatformTextWindow {
  Tcl_Interp* interp;
  std::string path, command;
  void (*onClose)(void* user);
  void* user;
  int shown;
  int lines;
};

namespace {

int serial;


int closeCommand(ClientData data, Tcl_Interp*, int, Tcl_Obj* const*) {
  auto* w = static_cast<ZvPlatformTextWindow*>(data);
  if (w->onClose)
    w->onClose(w->user);
  else
    zvPlatformTextHide(w);
  return TCL_OK;
}

bool exists(const ZvPlatformTextWindow* w) {
  return w && w->interp && Tk_MainWindow(w->interp) &&
         Tk_NameToWindow(w->interp, w->path.c_str(), Tk_MainWindow(w->interp)) != nullptr;
}

// Whether the last line is in view, so that new lines are followed.
bool endInView(ZvPlatformTextWindow* w) {
  if (zvPlatformEvalWords(w->interp, {w->path + ".log", "yview"}) != TCL_OK) return true;
  const char* result = Tcl_GetStringResult(w->interp);
  char* end = nullptr;
  std::strtod(result, &end);
  return std::strtod(end, nullptr) >= 0.999;
}

}  // namespace

ZvPlatformTextWindow* zvPlatformOpenTextWindow(ZvPlatformWindow* main, const char* className, const char* title,
                                               int width, int height, void (*onClose)(void*), void* user) {
  Tcl_Interp* interp = zvPlatformWindowInterp(main);
  if (!interp || width < 100 || height < 80) return nullptr;
  auto* w = new ZvPlatformTextWindow{};
  w->interp = interp;
  w->onClose = onClose;
  w->user = user;
  int n = ++serial;
  w->path = ".text" + std::to_string(n);
  w->command = "qmTextClose" + std::to_string(n);
  Tcl_CreateObjCommand(interp, w->command.c_str(), closeCommand, w, nullptr);
  const std::string& p = w->path;
  bool ok = zvPlatformEvalWords(interp, {"toplevel", p, "-class", className ? className : "Text"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"wm", "withdraw", p}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"wm", "title", p, title ? title : ""}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"wm", "geometry", p, std::to_string(width) + "x" + std::to_string(height)}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"wm", "protocol", p, "WM_DELETE_WINDOW", w->command}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"frame", p + ".frame", "-borderwidth", "1", "-relief", "sunken"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"text", p + ".log", "-background", "black", "-foreground", "white", "-wrap", "char",
                          "-state", "disabled", "-borderwidth", "0", "-highlightthickness", "0",
                          "-yscrollcommand", p + ".scroll set"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"scrollbar", p + ".scroll", "-orient", "vertical", "-command", p + ".log yview"}) ==
                TCL_OK &&
           zvPlatformEvalWords(interp, {"pack", p + ".scroll", "-in", p + ".frame", "-side", "right", "-fill", "y"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"pack", p + ".log", "-in", p + ".frame", "-side", "left", "-fill", "both", "-expand",
                          "1"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"button", p + ".close", "-text", "Close", "-command", w->command}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"place", p + ".frame", "-x", "10", "-y", "10", "-relwidth", "1", "-width", "-20",
                          "-relheight", "1", "-height", "-50"}) == TCL_OK &&
           zvPlatformEvalWords(interp, {"place", p + ".close", "-relx", "0.5", "-rely", "1", "-y", "-35", "-anchor", "n",
                          "-width", "50", "-height", "30"}) == TCL_OK;
  if (!ok) {
    zvPlatformCloseTextWindow(w);
    return nullptr;
  }
  return w;
}

void zvPlatformCloseTextWindow(ZvPlatformTextWindow* w) {
  if (!w) return;
  if (exists(w))zvPlatformEvalWords(w->interp, {"destroy", w->path});
  if (Tk_MainWindow(w->interp)) Tcl_DeleteCommand(w->interp, w->command.c_str());
  delete w;
}

int zvPlatformTextAppend(ZvPlatformTextWindow* w, const char* text) {
  if (!exists(w) || !text) return -1;
  bool follow = endInView(w);
  std::string log = w->path + ".log";
  bool ok = zvPlatformEvalWords(w->interp, {log, "configure", "-state", "normal"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "insert", "end-1c", std::string(text) + "\n"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "configure", "-state", "disabled"}) == TCL_OK;
  if (!ok) return -1;
  w->lines++;
  for (const char* c = text; *c; ++c) w->lines += *c == '\n';
  if (follow)zvPlatformEvalWords(w->interp, {log, "see", "end"});
  return 0;
}

int zvPlatformTextDropFirst(ZvPlatformTextWindow* w, int count) {
  if (!exists(w) || count <= 0) return -1;
  if (count > w->lines) count = w->lines;
  std::string log = w->path + ".log";
  bool ok = zvPlatformEvalWords(w->interp, {log, "configure", "-state", "normal"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "delete", "1.0", std::to_string(count + 1) + ".0"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "configure", "-state", "disabled"}) == TCL_OK;
  if (!ok) return -1;
  w->lines -= count;
  return 0;
}

int zvPlatformTextClear(ZvPlatformTextWindow* w) {
  if (!exists(w)) return -1;
  std::string log = w->path + ".log";
  bool ok = zvPlatformEvalWords(w->interp, {log, "configure", "-state", "normal"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "delete", "1.0", "end"}) == TCL_OK &&
           zvPlatformEvalWords(w->interp, {log, "configure", "-state", "disabled"}) == TCL_OK;
  w->lines = 0;
  return ok ? 0 : -1;
}

int zvPlatformTextShow(ZvPlatformTextWindow* w) {
  if (!exists(w)) return -1;
  if (w->shown) return 0;
  if (zvPlatformEvalWords(w->interp, {"wm", "deiconify", w->path}) != TCL_OK) return -1;
  w->shown = 1;
  return 0;
}

int zvPlatformTextHide(ZvPlatformTextWindow* w) {
  if (!exists(w)) return -1;
  if (zvPlatformEvalWords(w->interp, {"wm", "withdraw", w->path}) != TCL_OK) return -1;
  w->shown = 0;
  return 0;
}

int zvPlatformTextShown(const ZvPlatformTextWindow* w) { return w && w->shown; }
int zvPlatformTextLineCount(const ZvPlatformTextWindow* w) { return w ? w->lines : 0; }
