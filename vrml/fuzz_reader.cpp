// fuzz_reader.cpp — libFuzzer entry: any bytes as a VRML file, read into a
// world through the same path as a file, then the world deleted. A crash,
// a hang or a leak is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {
void quiet(int, const char*, int, void*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    zvSetReportSink(quiet, nullptr);
    zvWwwInstallHooks();
    zvVrmlInstallHooks();
    return true;
  }();
  (void)ready;
  std::string text(reinterpret_cast<const char*>(data), size);
  ZvWorld* world = zvNewWorld("file:///fuzz/world.wrl");
  if (!world) return 0;
  zvSetCurrentWorld(world);
  zvSetIdCounter(-10000, -1, ZV_ID_MODE_ALWAYS);
  zvParseVRMLString(text.c_str(), "file:///fuzz/world.wrl", world);
  zvComputeWorldBoundingBox(world);
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  zvClearReportFailed();
  return 0;
}
