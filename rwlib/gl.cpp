// gl.cpp — placeholder GL side until the real one lands: no context, every
// frame fails, nothing to forget.
#include "rwlib/rwpriv.h"

bool rwGpuOpen(void) { return false; }
void rwGpuClose(void) {}
bool rwGpuIsOpen(void) { return false; }
const char* rwGpuRendererName(void) { return "none"; }
bool rwGpuBeginCamera(RwCamera*) { return false; }
bool rwGpuClearCamera(RwCamera*) { return false; }
bool rwGpuRenderScene(RwScene*, RwCamera*) { return false; }
bool rwGpuEndCamera(RwCamera*) { return false; }
void rwGpuForgetClump(RwClump*) {}
void rwGpuForgetScene(RwScene*) {}
void rwGpuForgetRaster(RwRaster*) {}
void rwGpuForgetTexture(RwTexture*) {}
void rwGpuForgetCamera(RwCamera*) {}
