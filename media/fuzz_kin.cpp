// fuzz_kin.cpp — libFuzzer entry: any bytes as a character file, read,
// built as a stick figure in a world, stepped both ways past both ends and
// set to a few frames, then the world deleted. A crash, a hang or a leak
// is a finding.
#include <cstddef>
#include <cstdint>

#include "media/kinpriv.h"
#include "media/media.h"

namespace {
void quiet(int, const char*, int, void*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    zvSetReportSink(quiet, nullptr);
    zvKinInstallHooks();
    return true;
  }();
  (void)ready;
  ZvKinBody* body = zvKinParse(reinterpret_cast<const char*>(data), size);
  if (!body) return 0;
  ZvWorld* world = zvNewWorld("file:///fuzz/world.wrl");
  if (!world) {
    zvKinFreeBody(body);
    return 0;
  }
  ZvObj* character = nullptr;
  if (zvKinBuild(world, body, nullptr, &character) == ZV_OK) {
    zvAddTopObject(character, "fuzz.wkn");
    for (int i = 0; i < 3; ++i) zvKinNextFrame(character);
    for (int i = 0; i < 5; ++i) zvKinPrevFrame(character);
    zvKinSetFrame(character, -1);
    zvKinSetFrame(character, 0);
    zvKinSetFrame(character, 1 << 30);
    zvGetObjectWRT(character);
  }
  zvDeleteWorld(world);
  zvClearReportFailed();
  return 0;
}
