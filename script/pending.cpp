// pending.cpp — command groups and interpreter pieces still to be written;
// each moves to its own file when it is.
#include "script/scriptpriv.h"

extern const ZvScriptCommand zvScriptMaterialCommands[] = {{nullptr, nullptr, 0, 0, nullptr}};
extern const ZvScriptCommand zvScriptWorldCommands[] = {{nullptr, nullptr, 0, 0, nullptr}};
