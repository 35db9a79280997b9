// overlay.cpp — the view's overlay: a frame placed over the view's frame
// with a label holding a photo image, both bound to the same click command.
#include <tcl.h>
#include <tk.h>
#include <X11/Xlib.h>

#include <string>

#include "platform/overlay.h"
#include "platform/tkpriv.h"
#include "platform/window.h"

struct ZvPlatformOverlay {
  Tcl_Interp* interp;
  Tk_Window frame;  // null once Tk destroyed it
  Tk_PhotoHandle photo;
  std::string path, image, command;
  ZvOverlayClick click;
  void* user;
  int photoWidth, photoHeight;
};

namespace {

int serial;

int clickCommand(ClientData data, Tcl_Interp*, int, Tcl_Obj* const*) {
  auto* o = static_cast<ZvPlatformOverlay*>(data);
  if (o->click) o->click(o->user);
  return TCL_OK;
}

void frameEvent(ClientData data, XEvent* ev) {
  if (ev->type == DestroyNotify) static_cast<ZvPlatformOverlay*>(data)->frame = nullptr;
}

}  // namespace

ZvPlatformOverlay* zvPlatformOpenOverlay(ZvPlatformWindow* window, ZvOverlayClick click, void* user) {
  Tcl_Interp* interp = zvPlatformWindowInterp(window);
  if (!interp || !Tk_NameToWindow(interp, ".vframe", Tk_MainWindow(interp))) {
    if (interp) Tcl_ResetResult(interp);
    return nullptr;
  }
  auto* o = new ZvPlatformOverlay{};
  o->interp = interp;
  o->click = click;
  o->user = user;
  std::string n = std::to_string(++serial);
  o->path = ".overlay" + n;
  o->image = "qmOverlay" + n;
  o->command = "qmOverlayClick" + n;
  Tcl_CreateObjCommand(interp, o->command.c_str(), clickCommand, o, nullptr);
  const std::string& p = o->path;
  bool ok = zvPlatformEvalWords(interp, {"image", "create", "photo", o->image}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"frame", p, "-background", "black", "-borderwidth", "0",
                                         "-highlightthickness", "0", "-cursor", "hand2"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"label", p + ".picture", "-image", o->image, "-borderwidth", "0",
                                         "-highlightthickness", "0", "-background", "black"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"place", p, "-in", ".vframe", "-x", "0", "-y", "0", "-relwidth", "1",
                                         "-relheight", "1"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"place", p + ".picture", "-relx", "0.5", "-rely", "0.5", "-anchor",
                                         "center"}) == TCL_OK &&
            zvPlatformEvalWords(interp, {"raise", p}) == TCL_OK;
  for (const char* event : {"<ButtonPress-1>", "<ButtonRelease-3>"})
    ok = ok && zvPlatformEvalWords(interp, {"bind", p, event, o->command}) == TCL_OK &&
         zvPlatformEvalWords(interp, {"bind", p + ".picture", event, o->command}) == TCL_OK;
  if (ok) {
    o->frame = Tk_NameToWindow(interp, p.c_str(), Tk_MainWindow(interp));
    o->photo = Tk_FindPhoto(interp, o->image.c_str());
    ok = o->frame && o->photo;
  }
  if (!ok) {
    o->frame = nullptr;
    zvPlatformCloseOverlay(o);
    return nullptr;
  }
  Tk_CreateEventHandler(o->frame, StructureNotifyMask, frameEvent, o);
  // Laid out now, so that the first picture knows the size it fills.
  Tcl_Eval(interp, "update idletasks");
  Tcl_ResetResult(interp);
  return o;
}

void zvPlatformCloseOverlay(ZvPlatformOverlay* o) {
  if (!o) return;
  Tcl_Interp* interp = o->interp;
  bool alive = Tk_MainWindow(interp) != nullptr;
  if (o->frame) {
    Tk_DeleteEventHandler(o->frame, StructureNotifyMask, frameEvent, o);
    if (alive) zvPlatformEvalWords(interp, {"destroy", o->path});
  }
  if (alive) zvPlatformEvalWords(interp, {"image", "delete", o->image});
  Tcl_DeleteCommand(interp, o->command.c_str());
  Tcl_ResetResult(interp);
  delete o;
}

void zvPlatformOverlaySize(const ZvPlatformOverlay* o, int* width, int* height) {
  int w = 0, h = 0;
  if (o && o->frame) {
    w = Tk_Width(o->frame);
    h = Tk_Height(o->frame);
  }
  if (width) *width = w;
  if (height) *height = h;
}

int zvPlatformShowOverlayPicture(ZvPlatformOverlay* o, const uint8_t* rgba, int width, int height, int stride) {
  if (!o || !o->frame || !rgba || width < 1 || height < 1 || stride < 4 * width) return -1;
  if (width != o->photoWidth || height != o->photoHeight) {
    if (Tk_PhotoSetSize(o->interp, o->photo, width, height) != TCL_OK) return -1;
    o->photoWidth = width;
    o->photoHeight = height;
  }
  return zvPlatformPutPicture(o->interp, o->photo, rgba, width, height, stride) == TCL_OK ? 0 : -1;
}
