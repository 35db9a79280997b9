// core.cpp — the commands every script has whatever the world holds:
// messages, zvHelp and zvtkInit (tk.cpp).
#include <cstring>
#include <string>

#include "script/scriptpriv.h"

namespace {

// The four message commands only show the text: a script's zvError must
// never end the program or mark the run as failed.
int message(ZvScriptCall& call) {
  std::string text;
  for (int i = 1; i < call.argc; ++i) {
    if (i > 1) text += ' ';
    text += call.argv[i];
  }
  zvMessage("%s", text.c_str());
  return call.ok();
}

int help(ZvScriptCall& call) {
  int count = zvScriptCommandCount();
  if (call.argc < 2) {
    for (int i = 0; i < count; ++i) zvScriptDebugOutput("zvTclHelp", zvScriptCommandAt(i)->name);
    return call.ok();
  }
  for (int i = 0; i < count; ++i) {
    const ZvScriptCommand* c = zvScriptCommandAt(i);
    char line[512];
    std::snprintf(line, sizeof line, "%s  %s\n", c->name, c->usage);
    zvScriptDebugOutput("zvTclFunc", line);
    if (std::strcmp(c->name, call.argv[1]) != 0) continue;
    zvScriptSetUsageSwitch(1);
    int code = Tcl_Eval(call.interp, c->name);
    zvScriptSetUsageSwitch(0);
    return code;
  }
  return call.ok();
}

}  // namespace

extern const ZvScriptCommand zvScriptCoreCommands[] = {
    {"zvMessageDlg", "message", 0, -1, message},
    {"zvMessage", "message", 0, -1, message},
    {"zvError", "message", 0, -1, message},
    {"zvWarning", "message", 0, -1, message},
    {"zvHelp", "[command]", 0, 1, help},
    {"zvtkInit", "[slice]", 0, 1, zvScriptTkInitCommand},
    {nullptr, nullptr, 0, 0, nullptr},
};
