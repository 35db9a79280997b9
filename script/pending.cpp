// pending.cpp — command groups and interpreter pieces still to be written;
// each moves to its own file when it is.
#include "script/scriptpriv.h"

extern const ZvScriptCommand zvScriptEventCommands[] = {{nullptr, nullptr, 0, 0, nullptr}};
extern const ZvScriptCommand zvScriptObjectCommands[] = {{nullptr, nullptr, 0, 0, nullptr}};
extern const ZvScriptCommand zvScriptProvidedCommands[] = {{nullptr, nullptr, 0, 0, nullptr}};

void zvScriptHardenInterp(Tcl_Interp*) {}
void zvScriptTkShutdown(ZvScriptContext*) {}
