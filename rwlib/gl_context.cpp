// gl_context.cpp — the one GL context the library renders with: an EGL
// context with no window system, OpenGL 3.3 core, made current once and kept
// until the library closes. Cameras render into framebuffers of their own, so
// the context never needs a real surface.
//
// Displays are tried from the most to the least headless: Mesa's surfaceless
// platform, the first EGL device, then the default display with a 1x1
// pbuffer for drivers that insist on a surface.
//
// Loading the driver is the slowest thing the program does before its first
// picture (Mesa's software rasteriser brings LLVM), so the context can also
// be made on a thread of its own while the caller reads a world; the first
// entry that needs it waits for that thread and takes the context over.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "rwlib/gl_priv.h"

RwGlEntries gl;

namespace {

struct Context {
  bool open;
  EGLDisplay display;
  EGLContext context;
  EGLSurface surface;
  std::string renderer;
  bool software;  // llvmpipe or softpipe
  GLint maxTextureSize;
  GLint maxRenderbufferSize;
  RwGlRecord* records;  // every live record, newest first
};

Context ctx = {false, EGL_NO_DISPLAY, EGL_NO_CONTEXT, EGL_NO_SURFACE, {}, false, 0, 0, nullptr};

// An open under way on another thread. Only the thread that started it
// looks at pending; the worker's results are read after the join.
struct Opening {
  std::thread worker;
  bool pending = false;
  bool ok = false;
  bool outOfMemory = false;
};

Opening opening;

bool hasExtension(const char* list, const char* name) {
  if (!list) return false;
  size_t length = strlen(name);
  for (const char* p = list; (p = strstr(p, name)) != nullptr; p += length) {
    bool starts = p == list || p[-1] == ' ';
    bool ends = p[length] == '\0' || p[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

bool loadEntries() {
  bool complete = true;
#define RW_GL_LOAD(type, name)                                              \
  gl.name = reinterpret_cast<type>(eglGetProcAddress("gl" #name));        \
  if (!gl.name) complete = false;
  RW_GL_ENTRIES(RW_GL_LOAD)
#undef RW_GL_LOAD
  return complete;
}

void releaseContext(EGLDisplay display, EGLContext context, EGLSurface surface) {
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (surface != EGL_NO_SURFACE) eglDestroySurface(display, surface);
  if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
}

void giveUpDisplay(EGLDisplay display, EGLContext context, EGLSurface surface) {
  releaseContext(display, context, surface);
  eglTerminate(display);
}

// Brings up a 3.3 core context on an EGL display and makes it current.
bool startDisplay(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY) return false;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) return false;
  if (!eglBindAPI(EGL_OPENGL_API)) {
    eglTerminate(display);
    return false;
  }
  // Pbuffer-capable configs first, so the surface fallback has one to use;
  // surfaceless displays may offer configs with no surface type at all.
  EGLConfig config = nullptr;
  EGLint found = 0;
  for (EGLint surfaceType : {EGLint(EGL_PBUFFER_BIT), EGLint(EGL_DONT_CARE)}) {
    const EGLint attribs[] = {EGL_SURFACE_TYPE, surfaceType,
                              EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                              EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                              EGL_NONE};
    if (eglChooseConfig(display, attribs, &config, 1, &found) && found > 0) break;
    found = 0;
  }
  if (found < 1) {
    eglTerminate(display);
    return false;
  }
  const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3,
                                   EGL_CONTEXT_MINOR_VERSION, 3,
                                   EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                   EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                   EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
  if (context == EGL_NO_CONTEXT) {
    eglTerminate(display);
    return false;
  }
  EGLSurface surface = EGL_NO_SURFACE;
  bool current = false;
  if (hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context"))
    current = eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
  if (!current) {
    const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
    if (surface != EGL_NO_SURFACE) current = eglMakeCurrent(display, surface, surface, context);
  }
  if (!current || !loadEntries()) {
    giveUpDisplay(display, context, surface);
    return false;
  }
  ctx.display = display;
  ctx.context = context;
  ctx.surface = surface;
  return true;
}

bool startAnyDisplay() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay && hasExtension(client, "EGL_MESA_platform_surfaceless") &&
      startDisplay(getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)))
    return true;
  auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(
      eglGetProcAddress("eglQueryDevicesEXT"));
  if (getPlatformDisplay && queryDevices && hasExtension(client, "EGL_EXT_platform_device")) {
    EGLDeviceEXT device = nullptr;
    EGLint count = 0;
    if (queryDevices(1, &device, &count) && count > 0 &&
        startDisplay(getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr)))
      return true;
  }
  return startDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY));
}

// Fixed state every frame relies on; whatever changes it puts it back.
void setDefaultState() {
  gl.Enable(GL_DEPTH_TEST);
  gl.DepthFunc(GL_LEQUAL);
  gl.FrontFace(GL_CCW);
  gl.CullFace(GL_BACK);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

// The whole of an open, on whichever thread runs it: the context is left
// current there.
bool openHere() {
  if (!startAnyDisplay()) return false;
  const char* renderer = reinterpret_cast<const char*>(gl.GetString(GL_RENDERER));
  ctx.renderer = renderer ? renderer : "unknown";
  ctx.software = ctx.renderer.find("llvmpipe") != std::string::npos || ctx.renderer.find("softpipe") != std::string::npos;
  gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &ctx.maxTextureSize);
  gl.GetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &ctx.maxRenderbufferSize);
  if (!rwGlCreatePrograms()) {
    giveUpDisplay(ctx.display, ctx.context, ctx.surface);
    ctx.display = EGL_NO_DISPLAY;
    ctx.context = EGL_NO_CONTEXT;
    ctx.surface = EGL_NO_SURFACE;
    return false;
  }
  setDefaultState();
  return true;
}

}  // namespace

bool rwGpuOpen(void) {
  if (opening.pending) return rwGpuAwait();
  if (ctx.open) return true;
  ctx.open = openHere();
  return ctx.open;
}

bool rwGpuOpenInBackground(void) {
  if (ctx.open || opening.pending) return true;
  opening.ok = opening.outOfMemory = false;
  try {
    opening.worker = std::thread([] {
      try {
        opening.ok = openHere();
      } catch (const std::bad_alloc&) {
        opening.outOfMemory = true;
      }
      // A context is current to one thread at a time: let this one go so
      // the waiting thread can take it.
      if (opening.ok) eglMakeCurrent(ctx.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      eglReleaseThread();
    });
  } catch (const std::system_error&) {
    return rwGpuOpen();  // no thread to spare: open here and now
  }
  opening.pending = true;
  return true;
}

bool rwGpuOpening(void) { return opening.pending; }

bool rwGpuAwait(void) {
  if (!opening.pending) return ctx.open;
  opening.worker.join();
  opening.pending = false;
  if (opening.ok && !eglMakeCurrent(ctx.display, ctx.surface, ctx.surface, ctx.context)) {
    rwGlPrograms = RwGlPrograms{};  // went with the context
    giveUpDisplay(ctx.display, ctx.context, ctx.surface);
    ctx.display = EGL_NO_DISPLAY;
    ctx.context = EGL_NO_CONTEXT;
    ctx.surface = EGL_NO_SURFACE;
    opening.ok = false;
  }
  if (opening.outOfMemory) rwSetError(RW_E_NOMEM);
  ctx.open = opening.ok;
  return ctx.open;
}

void rwGpuClose(void) {
  if (!rwGpuAwait()) return;
  while (ctx.records) {
    RwGlRecord* record = ctx.records;
    switch (record->kind) {
      case RW_GL_CAMERA: rwGlReleaseCamera(record); break;
      case RW_GL_RASTER: rwGlReleaseRaster(record); break;
      case RW_GL_TEXTURE: rwGlReleaseTexture(record); break;
      case RW_GL_SCENE: rwGlReleaseScene(record); break;
      default: rwGlUntrackRecord(record); break;  // unreachable: every kind is above
    }
  }
  rwGlDeletePrograms();
  // The display stays initialised: terminating it unloads the driver, which
  // strands what Mesa keeps for the life of the process (leak checkers see
  // it lost), and a later open finds the driver already loaded.
  releaseContext(ctx.display, ctx.context, ctx.surface);
  eglReleaseThread();
  ctx.display = EGL_NO_DISPLAY;
  ctx.context = EGL_NO_CONTEXT;
  ctx.surface = EGL_NO_SURFACE;
  ctx.renderer.clear();
  ctx.open = false;
}

bool rwGpuIsOpen(void) { return rwGpuAwait(); }

const char* rwGpuRendererName(void) { return rwGpuAwait() ? ctx.renderer.c_str() : "none"; }

bool rwGlOutOfMemory(void) {
  bool out = false;
  for (int i = 0; i < 16; ++i) {  // a lost context can answer errors forever
    GLenum error = gl.GetError();
    if (error == GL_NO_ERROR) break;
    if (error == GL_OUT_OF_MEMORY) out = true;
  }
  return out;
}

int rwGlMaxTextureSize(void) { return ctx.maxTextureSize; }

bool rwGlSoftwareRenderer(void) { return ctx.software; }
int rwGlMaxRenderbufferSize(void) { return ctx.maxRenderbufferSize; }

void rwGlTrackRecord(RwGlRecord* record, int kind, void** slot) {
  record->kind = kind;
  record->slot = slot;
  record->prev = nullptr;
  record->next = ctx.records;
  if (ctx.records) ctx.records->prev = record;
  ctx.records = record;
  *slot = static_cast<void*>(record);
}

void rwGlUntrackRecord(RwGlRecord* record) {
  if (record->prev) record->prev->next = record->next;
  else ctx.records = record->next;
  if (record->next) record->next->prev = record->prev;
  record->prev = record->next = nullptr;
  if (record->slot) *record->slot = nullptr;
  record->slot = nullptr;
}
