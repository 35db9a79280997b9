// kin_bench.cpp — characters: reading a 10,000-frame character file, and
// stepping a 30-segment figure one frame (target: under 0.1 ms a step).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "media/kinpriv.h"
#include "media/media.h"

namespace {

void quiet(int, const char*, int, void*) {}

// A chain of segments, each driven by its own three numbers, swinging on
// sine waves; the root walks along z.
std::string makeCharacter(int segments, int frames) {
  std::string text = "bgnbody name bench\n";
  char line[256];
  for (int s = 0; s < segments; ++s) {
    std::snprintf(line, sizeof line,
                  "bgnsegment name s%d scale 1 1 1 bgnsite name a xfm 0 %g 0 0 0 0 endsite"
                  " bgnsite name b xfm 0.1 %g 0 0 0 0 endsite endsegment\n",
                  s, -0.2 * s, -0.2 * (s + 1));
    text += line;
  }
  text += "root s0.a xfm 0 0 0 0 0 0\n";
  for (int s = 1; s < segments; ++s) {
    std::snprintf(line, sizeof line, "bgnjoint name j%d connect s%d.b s%d.a endjoint\n", s, s - 1, s);
    text += line;
  }
  int channels = 6 + 3 * (segments - 1);
  std::snprintf(line, sizeof line, "endbody\nbgncapture bgninput name bench file %d filename m endinput\n", channels);
  text += line;
  for (int s = 1; s < segments; ++s) {
    std::snprintf(line, sizeof line, "bgntarget object joint bench.j%d 0 0 %d endtarget\n", s, 7 + 3 * (s - 1));
    text += line;
  }
  text += "endcapture\n";
  for (int f = 0; f < frames; ++f) {
    std::snprintf(line, sizeof line, "0 %.4f %.4f 0 %.3f 0", 0.02 * std::sin(f * 0.3), 0.01 * f, 5 * std::sin(f * 0.1));
    text += line;
    for (int s = 1; s < segments; ++s) {
      std::snprintf(line, sizeof line, " %.3f %.3f %.3f", 20 * std::sin(f * 0.1 + s), 5 * std::cos(f * 0.2 + s),
                    10 * std::sin(f * 0.05 - s));
      text += line;
    }
    text += '\n';
  }
  return text;
}

void BM_KinLoad10000Frames(benchmark::State& state) {
  zvSetReportSink(quiet, nullptr);
  std::string text = makeCharacter(30, 10000);
  for (auto _ : state) {
    ZvKinBody* body = zvKinParse(text.data(), text.size());
    if (!body) std::abort();
    benchmark::DoNotOptimize(body);
    zvKinFreeBody(body);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["file_MB"] = double(text.size()) / (1 << 20);
}
BENCHMARK(BM_KinLoad10000Frames)->Unit(benchmark::kMillisecond);

void BM_KinStep30Segments(benchmark::State& state) {
  zvSetReportSink(quiet, nullptr);
  std::string text = makeCharacter(30, 1000);
  ZvWorld* world = zvNewWorld("file:///bench/world.wrl");
  ZvKinBody* body = zvKinParse(text.data(), text.size());
  ZvObj* character = nullptr;
  if (!world || !body || zvKinBuild(world, body, nullptr, &character) != ZV_OK) std::abort();
  zvAddTopObject(character, "bench.wkn");
  for (auto _ : state) {
    if (zvKinNextFrame(character) != ZV_OK) std::abort();
    // What the renderer asks for next: the moved objects' places.
    benchmark::DoNotOptimize(zvGetObjectWRT(character));
  }
  zvDeleteWorld(world);
}
BENCHMARK(BM_KinStep30Segments)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
