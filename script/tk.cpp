// tk.cpp — Tk for a world's scripts, started when a script asks (zvtkInit).
//
// The world's interpreter is a safe one, so Tk starts in its safe form:
// the commands that reach beyond the world's own windows (wm, toplevel,
// grab, send, clipboard, selection, bell, menu) stay hidden. Scripts get
// back the parts of wm and toplevel that only touch their own windows.
// The main window "." starts withdrawn, closing it only withdraws it, and
// exit hides every window of the world. The windows are hidden when the
// world is left, shown when it returns, and destroyed with the world.
#include <tk.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "script/scriptpriv.h"

namespace {

int refuse(Tcl_Interp* interp, const std::string& text) {
  Tcl_SetObjResult(interp, Tcl_NewStringObj(text.c_str(), int(text.size())));
  return TCL_ERROR;
}

int invokeHidden(Tcl_Interp* interp, std::initializer_list<const char*> words) {
  Tcl_Obj* objv[8] = {};
  int n = 0;
  for (const char* w : words) {
    objv[n] = Tcl_NewStringObj(w, -1);
    Tcl_IncrRefCount(objv[n++]);
  }
  int code = zvScriptInvokeHidden(interp, n, objv);
  for (int i = 0; i < n; ++i) Tcl_DecrRefCount(objv[i]);
  return code;
}

bool hasTkScript(const std::string& directory) {
  return !directory.empty() && access((directory + "/tk.tcl").c_str(), R_OK) == 0;
}

// Where Tk's own scripts are: as the library says it was installed, else
// the usual places.
std::string tkLibrary(Tcl_Interp* interp) {
  if (const char* env = std::getenv("TK_LIBRARY"); env && hasTkScript(env)) return env;
  if (Tcl_Eval(interp, "::tk::pkgconfig get scriptdir,runtime") == TCL_OK) {
    std::string d = Tcl_GetStringResult(interp);
    Tcl_ResetResult(interp);
    if (hasTkScript(d)) return d;
  }
  Tcl_ResetResult(interp);
  for (const char* d : {"/usr/share/tcltk/tk" TK_VERSION, "/usr/lib/tk" TK_VERSION, "/usr/share/tk" TK_VERSION,
                        "/usr/local/lib/tk" TK_VERSION})
    if (hasTkScript(d)) return d;
  return std::string();
}

// Called by Tk's start-up in place of its own library search.
int tkInitCommand(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const*) {
  Tcl_DeleteCommand(interp, "tkInit");
  std::string library = tkLibrary(interp);
  if (library.empty()) return refuse(interp, "zvtkInit: Tk's library scripts cannot be found");
  zvScriptAllowReads(library.c_str());
  if (!Tcl_SetVar(interp, "tk_library", library.c_str(), TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG)) return TCL_ERROR;
  return Tcl_EvalFile(interp, (library + "/tk.tcl").c_str());
}

// wm, for the world's own windows only: no full screen, no windows above
// all others, no stealing the window manager's decorations, no icons read
// from files; and "." keeps closing as withdrawing.
int wmCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  static const char* const allowed[] = {"aspect", "deiconify", "focusmodel", "geometry", "group",
                                        "iconify", "iconname", "maxsize", "minsize", "positionfrom",
                                        "protocol", "resizable", "sizefrom", "stackorder", "state",
                                        "title", "transient", "withdraw"};
  if (objc < 3) return refuse(interp, "wrong # args: should be \"wm option window ?arg ...?\"");
  const char* option = Tcl_GetString(objv[1]);
  bool ok = false;
  for (const char* a : allowed) ok = ok || std::strcmp(a, option) == 0;
  if (!ok) return refuse(interp, std::string("wm ") + option + ": not available to a world's script");
  if (std::strcmp(option, "protocol") == 0 && std::strcmp(Tcl_GetString(objv[2]), ".") == 0 && objc > 4)
    return refuse(interp, "wm protocol: the main window's protocol is the browser's");
  return zvScriptInvokeHidden(interp, objc, objv);
}

// toplevel, but never inside another program's window or on another screen.
int toplevelCommand(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
  for (int i = 2; i < objc; i += 2) {
    const char* option = Tcl_GetString(objv[i]);
    size_t length = std::strlen(option);
    // Tk takes any unique abbreviation of an option.
    for (const char* bad : {"-use", "-screen", "-container"})
      if (length >= 2 && std::strncmp(bad, option, length) == 0)
        return refuse(interp, std::string("toplevel ") + bad + ": not available to a world's script");
  }
  return zvScriptInvokeHidden(interp, objc, objv);
}

int refuseTkwait(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const*) {
  return refuse(interp, "tkwait: a world's script cannot wait for events");
}

// Before Tk hands an X event to a binding, the idle interpreters get a
// fresh limit, so a binding's script starts with all of it.
int beforeXEvent(ClientData, XEvent*) {
  zvScriptRearmIdle();
  return 0;
}

}  // namespace

int zvScriptTkInitCommand(ZvScriptCall& call) {
  ZvScriptContext* context = zvScriptContextOf(call.world);
  if (!context || context->interp != call.interp) return call.fail("zvtkInit: no world");
  if (context->tkStarted) return call.ok();
  long slice = 90;
  if (call.argc > 1 && call.integer(1, &slice) != 0) return TCL_ERROR;
  if (slice < 1) slice = 1;
  if (slice > 1000) slice = 1000;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    zvWarning("zvtkInit: there is no display for Tk");
    return call.ok();
  }
  Tcl_Interp* interp = call.interp;
  // Tk asks the parent whether a safe interpreter may have Tk, and with
  // which options.
  Tcl_Interp* parent = zvScriptParentInterp();
  Tcl_Obj* options = Tcl_NewListObj(0, nullptr);
  for (const char* w : {"-name", "zvtkname", "-display", display})
    Tcl_ListObjAppendElement(nullptr, options, Tcl_NewStringObj(w, -1));
  Tcl_SetVar2Ex(parent, "zvTkOptions", nullptr, options, TCL_GLOBAL_ONLY);
  Tcl_Eval(parent, "namespace eval ::safe { proc TkInit {path} { return $::zvTkOptions } }");

  Tcl_CreateObjCommand(interp, "tkInit", tkInitCommand, nullptr, nullptr);
  int code = Tk_SafeInit(interp);
  Tcl_DeleteCommand(interp, "tkInit");
  if (code != TCL_OK) {
    std::string why = Tcl_GetStringResult(interp);
    zvWarning("zvtkInit: %s", why.c_str());
    // Half a Tk is no Tk: its main window, if any, goes now.
    Tk_Window main = Tk_MainWindow(interp);
    if (main) Tk_DestroyWindow(main);
    return call.ok();
  }
  static bool handlerSet = false;
  if (!handlerSet) {
    handlerSet = true;
    Tk_CreateGenericHandler(beforeXEvent, nullptr);
  }
  Tcl_CreateObjCommand(interp, "wm", wmCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "toplevel", toplevelCommand, nullptr, nullptr);
  Tcl_CreateObjCommand(interp, "tkwait", refuseTkwait, nullptr, nullptr);
  if (const char* geometry = Tcl_GetVar(interp, "geometry", TCL_GLOBAL_ONLY))
    invokeHidden(interp, {"wm", "geometry", ".", geometry});
  invokeHidden(interp, {"wm", "withdraw", "."});
  invokeHidden(interp, {"wm", "protocol", ".", "WM_DELETE_WINDOW", "wm withdraw ."});
  context->tkSlice = int32_t(slice);
  context->tkShown = 1;
  zvScriptNoteTkStarted(context);
  return call.ok();
}

void zvScriptTkHideAll(ZvScriptContext* context) {
  Tcl_Interp* interp = context ? context->interp : nullptr;
  if (!interp || !context->tkStarted) return;
  Tcl_Obj* saved = Tcl_GetObjResult(interp);
  Tcl_IncrRefCount(saved);
  if (invokeHidden(interp, {"wm", "stackorder", "."}) == TCL_OK) {
    Tcl_Obj* list = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(list);
    int n = 0;
    Tcl_Obj** windows = nullptr;
    if (Tcl_ListObjGetElements(nullptr, list, &n, &windows) == TCL_OK)
      for (int i = 0; i < n; ++i) invokeHidden(interp, {"wm", "withdraw", Tcl_GetString(windows[i])});
    Tcl_DecrRefCount(list);
  }
  Tcl_SetObjResult(interp, saved);
  Tcl_DecrRefCount(saved);
}

void zvScriptTkShutdown(ZvScriptContext* context) {
  Tcl_Interp* interp = context ? context->interp : nullptr;
  if (!interp) return;
  Tk_Window main = Tk_MainWindow(interp);
  if (main) Tk_DestroyWindow(main);
  Tcl_ResetResult(interp);
  context->tkShown = 0;
}
