// batch.cpp — the headless modes: read worlds and report (--check), read a
// world and write it out again (--write). They run the same load path as
// the window, without a person or a renderer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "image/image.h"
#include "media/media.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "vrml/vrml.h"
#include "www/www.h"

void zvPrintReport(int cls, const char* text, int first, void*) {
  if (cls == ZV_DEBUG_ERROR)
    std::printf(first ? "Fatal Error: %s\n" : "Error: %s\n", text);
  else
    std::printf("%s\n", text);
  std::fflush(stdout);
}

namespace {

const char* const kLeafNames[23] = {nullptr,  "text",   "cone side", "cone bottom", "cylinder side", "cylinder bottom",
                                    "cylinder top", "circle", "face", "line set", "point set", "sphere",
                                    nullptr,  nullptr,  "point light", "spot light", "directional light", nullptr,
                                    nullptr,  "orthographic camera", "perspective camera", nullptr, "sound"};

std::string absolutePath(const char* path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  return ec ? std::string(path) : p.lexically_normal().string();
}

}  // namespace

void zvInstallSubsystems(void) {
  zvWwwInstallHooks();
  zvVrmlInstallHooks();
  zvWwwSetImageConverter(zvConvertImageFile);
  if (zvWwwStartLink() != ZV_OK) {
    zvMessage("worlds on the network cannot be fetched");
    return;
  }
  // What was fetched ahead and never asked for goes with the process.
  static bool registered = false;
  if (!registered) registered = std::atexit(zvWwwShutdownLink) == 0 && std::at_quick_exit(zvWwwShutdownLink) == 0;
}

int zvIsRemoteUrl(const char* name) {
  int scheme = name ? zvUrlScheme(name) : -1;
  return scheme == ZV_SCHEME_HTTP || scheme == ZV_SCHEME_OTHER;
}

namespace {

int recordHandler(ZvObj* object, const ZvHandlerDesc* d) {
  return zvRecordHandler(object, d->file, d->mask, d->scriptKind, d->function, d->userData, d->actionObject);
}

int recordTask(ZvObj* object, const ZvHandlerDesc* d, int periodic) {
  return zvRecordTask(object, d->file, d->millisecond > 0 ? uint32_t(d->millisecond) : 0, d->scriptKind, d->function,
                      d->userData, periodic);
}

}  // namespace

// Script nodes are not evaluated and nothing hears CREATE_NOTIFY.
void zvRecordHandlersOnly(void) {
  ZvReaderHooks& reader = zvReaderHooks();
  reader.scriptEval = nullptr;
  reader.callEventHandler = nullptr;
  reader.addEventHandler = recordHandler;
  reader.addTimeOutHandler = recordTask;
}

// A world named by a URL is fetched first, through the same link as the
// window's; it is then read from its cache file under its URL.
ZvWorld* zvReadWorldFile(const char* path, double* ms) {
  if (!path || !zvIsRemoteUrl(path)) return zvReadWorldFileAs(path, nullptr, ms);
  auto t0 = std::chrono::steady_clock::now();
  char local[ZV_WWW_PATH_MAX];
  zvWwwSetBaseUrl(nullptr);
  if (zvWwwLinkFetch(path, ZV_TYPE_VRML, local, sizeof local) != ZV_OK) return nullptr;
  double readMs = 0;
  ZvWorld* world = zvReadWorldFileAs(local, path, &readMs);
  if (!world) std::remove(local);
  if (ms) *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  return world;
}

ZvWorld* zvReadWorldFileAs(const char* path, const char* url, double* ms) {
  auto t0 = std::chrono::steady_clock::now();
  std::string abs = absolutePath(path);
  const char* fileUrl = url ? url : zvPathToFileUrl(abs.c_str());
  std::string worldUrl = fileUrl ? fileUrl : abs;
  ZvWorld* world = zvNewWorld(worldUrl.c_str());
  if (!world) return nullptr;
  zvSetCurrentWorld(world);
  zvWwwSetBaseUrl(worldUrl.c_str());
  // A fetched world's own file is one of its fetched files: its table
  // owns it, and its scripts may read it.
  if (url && world->urlTable) zvNewUrlHashEntry(world->urlTable, url, abs.c_str(), ZV_TYPE_VRML);
  int r = zvConstructWorld(abs.c_str(), world);
  if (ms) *ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  if (r != ZV_OK) {
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
    return nullptr;
  }
  zvComputeWorldBoundingBox(world);
  return world;
}

int zvRunCheck(int count, char** worlds) {
  zvSetReportSink(zvPrintReport, nullptr);
  zvInstallSubsystems();
  // A character is part of what a world holds; reading one plays nothing.
  zvMediaInstallCharacters();
  bool allRead = true;
  for (int i = 0; i < count; ++i) {
    double ms = 0;
    ZvWorld* world = zvReadWorldFile(worlds[i], &ms);
    if (!world) {
      std::printf("check: %s: not read (%.1f ms)\n", worlds[i], ms);
      allRead = false;
      continue;
    }
    ZvWorldSummary s;
    zvSummarizeWorld(world, &s);
    std::string leaves;
    for (int t = 1; t < 23; ++t)
      if (s.leaves[t] && kLeafNames[t]) {
        if (!leaves.empty()) leaves += ", ";
        leaves += std::to_string(s.leaves[t]) + " " + kLeafNames[t];
      }
    std::printf("check: %s: %d objects; leaves: %s; %d cameras, %d lights, %d inlines; textures %d found, %d missing; read %.1f ms\n",
                worlds[i], s.objects, leaves.empty() ? "none" : leaves.c_str(), s.cameras, s.lights, s.inlines,
                s.texturesFound, s.texturesMissing, ms);
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
  }
  zvSetReportSink(nullptr, nullptr);
  if (zvReportFailed()) return 2;
  return allRead ? 0 : 1;
}

int zvRunWrite(const char* output, const char* path) {
  zvSetReportSink(zvPrintReport, nullptr);
  zvInstallSubsystems();
  zvInstallRecordedBehaviour();
  ZvWorld* world = zvReadWorldFile(path, nullptr);
  int status = 1;
  if (!world) {
    std::printf("write: %s: not read\n", path);
  } else {
    status = zvDumpWorld(world, output) == ZV_OK ? 0 : 1;
    if (status) std::printf("write: %s: could not be written in full\n", output);
    zvSetCurrentWorld(nullptr);
    zvDeleteWorld(world);
  }
  zvSetReportSink(nullptr, nullptr);
  return zvReportFailed() ? 2 : status;
}
