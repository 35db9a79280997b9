// fuzz_wave.cpp — libFuzzer entry: any bytes as a WAVE file. Opening must
// fail cleanly or give a data range inside the bytes, and reading every
// payload (twice round, as a looping voice does) must stay inside it.
#include <cstdio>

#include "media/soundpriv.h"
#include "scene/scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    zvSetReportSink([](int, const char*, int, void*) {}, nullptr);
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!in) return 0;
  ZvWaveFile wave;
  if (zvWaveOpenStream(in, "fuzz", &wave) == 0) {
    if (wave.dataStart < 12 || wave.dataEnd > long(size) || wave.dataStart >= wave.dataEnd) __builtin_trap();
    int16_t out[4048];
    for (int round = 0; round < 2; ++round) {
      wave.position = wave.dataStart;
      for (;;) {
        int frames = zvWaveReadPayload(&wave, 4048, 300, out);
        if (frames <= 0) break;
        if (frames * wave.blockAlign > 4048 || wave.position > wave.dataEnd) __builtin_trap();
      }
    }
  }
  std::fclose(in);
  return 0;
}
