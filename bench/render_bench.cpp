// render_bench.cpp — what the eye waits for.
//  BM_FirstFrameCages: the whole program as one process on the largest
//    corpus level, from exec to a written screenshot (read, GL set-up, build,
//    one frame, PNG), as a user launching it would wait.
//  BM_FrameCorpus: every corpus world read, given the person and built once;
//    then frames at 640 x 480 are timed. Median and worst of the per-world
//    medians are reported as counters (milliseconds).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "nav/nav.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "shell/shell.h"

extern char** environ;

namespace {

std::string corpusDir() {
  if (const char* env = std::getenv("QUILLMOOR_CORPUS")) return env;
  return std::string(QUILLMOOR_SOURCE_DIR) + "/../shared/corpus/vrml1";
}

void quiet(int, const char*, int, void*) {}

void BM_FirstFrameCages(benchmark::State& state) {
  std::string world = corpusDir() + "/castle-engine__castle-game/data/levels/cages/cages.wrl";
  if (!std::filesystem::exists(world)) {
    state.SkipWithError("no corpus");
    return;
  }
  std::string out = std::filesystem::temp_directory_path() / "qm-bench-cages.png";
  for (auto _ : state) {
    const char* argv[] = {QUILLMOOR_EXE, "--screenshot", out.c_str(), world.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, QUILLMOOR_EXE, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      state.SkipWithError("cannot start the program");
      return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the program failed");
      return;
    }
  }
  std::filesystem::remove(out);
}
BENCHMARK(BM_FirstFrameCages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

double frameMs(ZvWorld* world) {
  auto t0 = std::chrono::steady_clock::now();
  zvRenderShowWorld(world);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void BM_FrameCorpus(benchmark::State& state) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto& e : std::filesystem::recursive_directory_iterator(corpusDir(), ec)) {
    std::string p = e.path().string();
    if (e.is_regular_file() && (p.ends_with(".wrl") || p.ends_with(".gz") || p.ends_with(".wrz"))) files.push_back(p);
  }
  if (files.empty()) {
    state.SkipWithError("no corpus");
    return;
  }
  std::sort(files.begin(), files.end());
  zvSetReportSink(quiet, nullptr);
  zvInstallSubsystems();
  zvRenderInstallHooks();
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
  if (zvRenderInitViewer() != ZV_OK) {
    state.SkipWithError("no GL");
    return;
  }
  zvRenderSetViewSize(640, 480);
  std::vector<double> medians;
  std::string worst;
  double worstMs = 0;
  for (auto _ : state) {
    medians.clear();
    for (const std::string& path : files) {
      ZvWorld* world = zvReadWorldFile(path.c_str(), nullptr);
      if (!world) continue;
      if (zvAddPersonToWorld(world) == ZV_OK && zvAdjustPersonToActiveCamera(world->person) == ZV_OK) {
        zvRenderConstructWorldInViewer(world);
        zvRenderResume(world);
        zvRenderSetCameraViewport(world, 0, 0, 640, 480);
        frameMs(world);  // the first frame uploads the world
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) times.push_back(frameMs(world));
        std::sort(times.begin(), times.end());
        medians.push_back(times[2]);
        if (times[2] > worstMs) worstMs = times[2], worst = path;
      }
      zvSetCurrentWorld(nullptr);
      zvDeleteWorld(world);
    }
  }
  std::sort(medians.begin(), medians.end());
  if (!medians.empty()) {
    state.counters["worlds"] = double(medians.size());
    state.counters["median_ms"] = medians[medians.size() / 2];
    state.counters["worst_ms"] = medians.back();
    state.SetLabel("worst: " + std::filesystem::path(worst).filename().string());
  }
  zvRenderCloseViewer();
}
BENCHMARK(BM_FrameCorpus)->Unit(benchmark::kMillisecond)->Iterations(1);

// Picking under the pointer on the largest level: a pick per window point of
// a 32 x 24 grid over the 640 x 480 view, from the start viewpoint.
void BM_PickCages(benchmark::State& state) {
  std::string path = corpusDir() + "/castle-engine__castle-game/data/levels/cages/cages.wrl";
  zvSetReportSink(quiet, nullptr);
  zvInstallSubsystems();
  zvRenderInstallHooks();
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
  ZvWorld* world = std::filesystem::exists(path) ? zvReadWorldFile(path.c_str(), nullptr) : nullptr;
  if (!world || zvRenderInitViewerOn("Null") != ZV_OK || zvAddPersonToWorld(world) != ZV_OK ||
      zvAdjustPersonToActiveCamera(world->person) != ZV_OK) {
    state.SkipWithError("no corpus");
    return;
  }
  zvRenderSetViewSize(640, 480);
  zvRenderConstructWorldInViewer(world);
  zvRenderResume(world);
  ZvRenderingStruct* rs = zvRenderGetStruct(world);
  RwCamera* camera = zvRenderGetActiveRwCamera(world);
  RwPickRecord hit;
  rwPickScene(rs->scene, 320, 240, camera, &hit);  // the first pick builds the caches
  int i = 0, hits = 0;
  for (auto _ : state) {
    int x = (i % 32) * 20 + 10, y = (i / 32 % 24) * 20 + 10;
    hits += rwPickScene(rs->scene, x, y, camera, &hit);
    ++i;
  }
  state.counters["hit_fraction"] = i ? double(hits) / i : 0;
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  zvRenderCloseViewer();
}
BENCHMARK(BM_PickCages)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
