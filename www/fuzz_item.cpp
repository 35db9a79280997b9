// fuzz_item.cpp — libFuzzer entry: any bytes as the item of a transaction
// from the web browser's side. Every field is read with buffers of every
// size the first byte picks, and the item goes through the alert and the
// progress topics as the link would take it. A crash, a read past the
// item or a leak is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scene/scene.h"
#include "www/www.h"

namespace {
void quiet(int, const char*, int, void*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    zvSetReportSink(quiet, nullptr);
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;
  size_t room = 1 + data[0] % 64;
  std::string item(reinterpret_cast<const char*>(data + 1), size - 1);
  char out[64];
  for (int n = 0; n < 8; ++n) zvDdeGetField(item.c_str(), n, out, room);
  std::string reply;
  zvDdeServe("WWW_Alert", item.c_str(), &reply);
  zvDdeServe("WWW_MakingProgress", item.c_str(), &reply);
  zvDdeServe("WWW_EndProgress", item.c_str(), &reply);
  return 0;
}
