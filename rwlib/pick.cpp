// pick.cpp — picking on the CPU.
#include "rwlib/cpupriv.h"

void rwPickForgetClump(const RwClump*) {}
