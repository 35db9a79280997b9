// screenshot.cpp — --screenshot: the window's load path without a window.
// The world is read, the person added and placed, the world built in the
// renderer and one frame drawn through the active camera; the frame goes to
// a PNG file instead of the screen. The world's scripts run as in the
// window, on a clock of their own that moves only when --after says, so
// the same world gives the same picture every time.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/image.h"
#include "nav/nav.h"
#include "platform/platform.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "script/script.h"
#include "shell/shell.h"
#include "media/media.h"
#include "shell/windowpriv.h"

namespace {

struct Capture {
  RwDeviceContext dc;
  const char* path;
  int written;
};

int writeFrame(RwDeviceContext* dc, const RwImage* image, int, int) {
  auto* capture = reinterpret_cast<Capture*>(dc);
  if (!image || !image->pixels) return 0;
  capture->written =
      zvWritePng(capture->path, image->width, image->height, image->stride, image->pixels) == ZV_OK;
  return capture->written;
}

// Whether a path lies inside a directory (both absolute and normal).
bool inside(const std::filesystem::path& path, const std::filesystem::path& dir) {
  auto [d, p] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
  return d == dir.end();
}

}  // namespace

// The program's resources lie beside it, in ../share/quillmoor: so an
// installed program, a package unpacked anywhere, and the build tree (whose
// share/ sits beside shell/) each find their own. Only programs of the build
// tree that sit elsewhere in it (tests, benchmarks) fall back on the build
// tree's copy; an installed program never reads the build tree.
const char* zvDataDirectory(void) {
  static std::string dir;
  if (!dir.empty()) return dir.c_str();
  if (const char* env = std::getenv("QUILLMOOR_DATA_DIR"); env && *env) {
    dir = env;
  } else {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
      dir = QM_INSTALL_DATA_DIR;
    else if (inside(exe.lexically_normal(), std::filesystem::path(QM_BUILD_TREE).lexically_normal()) &&
             !std::filesystem::exists(exe.parent_path().parent_path() / "share/quillmoor/person.wrl", ec))
      dir = QM_BUILD_DATA_DIR;
    else
      dir = (exe.parent_path().parent_path() / "share/quillmoor").string();
  }
  if (dir.back() != '/') dir += '/';
  return dir.c_str();
}

int zvRunScreenshot(const char* output, int width, int height, const char* path, int afterMs, int leave) {
  zvSetReportSink(zvPrintReport, nullptr);
  zvInstallSubsystems();
  zvInstallBehaviour();
  zvMediaInstall();
  zvProvideShellScriptCommands(0);
  // Before reading: tasks made while reading take their start from it.
  zvUseSimulatedClock(0);
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
  // The driver loads while the world is read and built.
  zvRenderStartViewer();

  int status = 1;
  // The renderer joins after reading: the world is then built once, below,
  // and a shape that cannot be built costs its own picture, not the world.
  ZvWorld* world = zvReadWorldFile(path, nullptr);
  zvRenderInstallHooks();
  if (!world) {
    std::printf("screenshot: %s: not read\n", path);
  } else if (zvAddPersonToWorld(world) != ZV_OK) {
    std::printf("screenshot: %s: the person cannot be added\n", path);
  } else {
    zvRenderSetViewSize(width, height);
    Capture capture{{writeFrame, nullptr}, output, 0};
    if (zvRenderConstructWorldInViewer(world) != ZV_OK) std::printf("screenshot: %s: not all of it was built\n", path);
    // Placed once built: text has a size only once it is laid out.
    if (zvAdjustPersonToActiveCamera(world->person) != ZV_OK)
      std::printf("screenshot: %s: the person stays where it was added\n", path);
    zvRenderResume(world);
    zvRenderSetWindow(world, nullptr, &capture.dc);
    zvRenderSetCameraViewport(world, 0, 0, width, height);
    if (afterMs >= 0) zvRunWorldFor(world, afterMs);
    zvRenderPrepareWorld(world);
    if (zvRenderInitViewer() != ZV_OK)
      status = 2;  // reported: no device is the program's failure, not the world's
    else if (zvRenderShowWorld(world) == ZV_OK && capture.written)
      status = 0;
    else
      std::printf("screenshot: %s: no frame was drawn\n", path);
  }
  if (world) {
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);  // its scripts hear of it, its fetched files go
  }
  if (leave) zvPlatformQuickExit(zvReportFailed() ? 2 : status);
  zvRenderCloseViewer();
  zvSetScriptClock(nullptr);
  return zvReportFailed() ? 2 : status;
}
