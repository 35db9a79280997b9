// render_bench.cpp — what the eye waits for.
//  BM_FirstFrameCages: the whole program as one process on the largest
//    corpus level, from exec to a written screenshot (read, GL set-up, build,
//    one frame, PNG), as a user launching it would wait.
//  BM_FrameCorpus: every corpus world read, given the person and built once;
//    then frames at 640 x 480 are timed. Median and worst of the per-world
//    medians are reported as counters (milliseconds).
//  BM_AsciiText100k: one AsciiText leaf of 100,000 characters (1,000 lines
//    of 100) built into the rendering library, without GL.
//  BM_FrameUnchanged25k / BM_FrameOneMoved25k: a generated world of 25,000
//    shapes over a wide grid, seen from one corner so some thousands are in
//    view; frames at 640 x 480 with nothing changed, and with one object
//    moved before each frame. The Away variants look away from the grid,
//    so what is left is the frame's own work, not the rasteriser's.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// A world written to the temporary directory, read and given the person.
ZvWorld* readGenerated(const std::string& name, const std::string& body) {
  std::string path = std::filesystem::temp_directory_path() / name;
  std::ofstream(path) << "#VRML V1.0 ascii\nSeparator {\n" << body << "}\n";
  ZvWorld* world = zvReadWorldFile(path.c_str(), nullptr);
  std::filesystem::remove(path);
  if (!world) return nullptr;
  if (zvAddPersonToWorld(world) != ZV_OK || zvAdjustPersonToActiveCamera(world->person) != ZV_OK) {
    zvDeleteWorld(world);
    return nullptr;
  }
  return world;
}

void setUpBridge() {
  zvSetReportSink(quiet, nullptr);
  zvInstallSubsystems();
  zvRenderInstallHooks();
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
}

// The object carrying the name anywhere in the world.
ZvObj* findNamed(ZvWorld* world, const char* name) {
  for (ZvTopObjList* c = world->topObjects; c; c = c->next)
    if (ZvObj* found = zvFindObjByName(c->object, name)) return found;
  return nullptr;
}

void BM_AsciiText100k(benchmark::State& state) {
  setUpBridge();
  const std::string line = "The quick brown fox jumps over the lazy dog; 0123456789 PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS!";
  std::string body = "DEF T AsciiText { string [";
  for (int i = 0; i < 1000; ++i) body += "\"" + line.substr(0, 100) + std::string(100 - std::min<size_t>(100, line.size()), '.') + "\",\n";
  body += "] }\n";
  if (zvRenderInitViewerOn("Null") != ZV_OK) {
    state.SkipWithError("cannot open the library");
    return;
  }
  ZvWorld* world = readGenerated("qm-bench-text.wrl", body);
  ZvObj* text = world ? findNamed(world, "T") : nullptr;
  if (!text) {
    state.SkipWithError("cannot read the text world");
    zvRenderCloseViewer();
    return;
  }
  zvRenderConstructWorldInViewer(world);
  zvRenderResume(world);
  for (auto _ : state) {
    state.PauseTiming();
    zvRenderDestroyPartInViewer(text);
    state.ResumeTiming();
    if (zvRenderConstructPartInViewer(text) != ZV_OK) state.SkipWithError("the text failed to build");
  }
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  zvRenderCloseViewer();
}
BENCHMARK(BM_AsciiText100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// 25,000 shapes on a 250 x 100 grid, 4 units apart, seen from its corner.
// A file holds at most 10,000 objects (two a shape here), so the shapes
// come in six inlines of their own.
ZvWorld* grid25k(bool away) {
  const char* shapes[] = {"Cube { width 1 height 1 depth 1 }", "Sphere { radius 0.5 }", "Cone { }",
                          "Cylinder { radius 0.5 }"};
  std::string body = std::string("PerspectiveCamera { position -2 1.6 -6 orientation 0 1 0 ") +
                     (away ? "0" : "3.14159") + " }\n"
                     "DirectionalLight { direction 0 -1 -1 }\n"
                     "DEF MOVER Separator { Translation { translation 0 0 -3 } Cube { } }\n";
  std::vector<std::string> parts;
  const int kParts = 6, kShapes = 25000;
  for (int part = 0; part < kParts; ++part) {
    std::string inl = "#VRML V1.0 ascii\nSeparator {\n";
    for (int i = part * kShapes / kParts; i < (part + 1) * kShapes / kParts; ++i) {
      int x = i % 250, z = i / 250;
      inl += "Separator { Translation { translation " + std::to_string(x * 4) + " 0 " + std::to_string(z * 4) +
             " } Material { diffuseColor " + std::to_string(x % 3 * 0.4) + " 0.5 " + std::to_string(z % 5 * 0.2) +
             " } " + shapes[i % 4] + " }\n";
    }
    parts.push_back(std::filesystem::temp_directory_path() / ("qm-bench-grid-" + std::to_string(part) + ".wrl"));
    std::ofstream(parts.back()) << inl << "}\n";
    body += "WWWInline { name \"" + parts.back() + "\" }\n";
  }
  ZvWorld* world = readGenerated("qm-bench-grid.wrl", body);
  for (const std::string& p : parts) std::filesystem::remove(p);
  return world;
}

void frames25k(benchmark::State& state, bool move, bool away) {
  setUpBridge();
  if (zvRenderInitViewer() != ZV_OK) {
    state.SkipWithError("no GL");
    return;
  }
  zvRenderSetViewSize(640, 480);
  ZvWorld* world = grid25k(away);
  ZvObj* mover = world ? findNamed(world, "MOVER") : nullptr;
  if (!mover) {
    state.SkipWithError("cannot read the generated world");
    zvRenderCloseViewer();
    return;
  }
  zvRenderConstructWorldInViewer(world);
  zvRenderResume(world);
  zvRenderSetCameraViewport(world, 0, 0, 640, 480);
  for (int i = 0; i < 30; ++i) zvRenderShowWorld(world);  // uploads and settles the batches
  float t = 0;
  for (auto _ : state) {
    if (move) {
      float p[3] = {0, 0.5f * std::sin(t += 0.1f), 0};
      zvObjectTranslate(mover, p, ZV_COORD_PARENT, ZV_TRANSFORM_SET);
    }
    zvRenderShowWorld(world);
  }
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  zvRenderCloseViewer();
}
void BM_FrameUnchanged25k(benchmark::State& state) { frames25k(state, false, false); }
void BM_FrameOneMoved25k(benchmark::State& state) { frames25k(state, true, false); }
void BM_FrameUnchanged25kAway(benchmark::State& state) { frames25k(state, false, true); }
void BM_FrameOneMoved25kAway(benchmark::State& state) { frames25k(state, true, true); }
BENCHMARK(BM_FrameUnchanged25k)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FrameOneMoved25k)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FrameUnchanged25kAway)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_FrameOneMoved25kAway)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
