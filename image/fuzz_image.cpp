// fuzz_image.cpp — libFuzzer entry: every input goes through the in-memory
// decoders, once by its magic bytes and once as each type, so that a
// mutation that breaks the magic still exercises the other parsers.
#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "scene/scene.h"

namespace {
void quiet(int, const char*, int, void*) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zvSetReportSink(quiet, nullptr);
  // A JPEG may declare a large grey image in a few bytes and get it; keep
  // such inputs small so the fuzzer spends its time on parsing.
  zvSetImageLimits(4096, 4 * 1024 * 1024);
  ZvImage image;
  if (zvDecodeImage(data, size, &image) == ZV_OK) {
    // Touch every byte, so that a short buffer shows up under ASan.
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < size_t(image.width) * size_t(image.height) * 4; ++i)
      sum = sum ^ image.pixels[i];
  }
  zvFreeImage(&image);
  if (size < 1) return 0;
  static const int kTypes[] = {ZV_IMAGE_GIF, ZV_IMAGE_JPEG, ZV_IMAGE_PNG, ZV_IMAGE_BMP};
  // The first byte picks the decoder; the rest is its input.
  zvDecodeImageAs(kTypes[data[0] % 4], data + 1, size - 1, &image);
  zvFreeImage(&image);
  return 0;
}
