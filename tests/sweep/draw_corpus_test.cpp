// Every world of the shared corpus drawn through --screenshot: none may
// crash. Then each is drawn again in process and probed with picks on a grid:
// wherever a pick finds a polygon, the picture must show something other
// than the background there (picking and drawing must agree on what is in
// front of the camera).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image.h"
#include "nav/nav.h"
#include "render/render.h"
#include "rwlib/rwlib.h"
#include "scene/scene.h"
#include "shell/shell.h"
#include "tests/shell/runprogram.h"

namespace fs = std::filesystem;

namespace {

fs::path corpusDir() {
  const char* env = std::getenv("QUILLMOOR_CORPUS");
  if (env && *env) return env;
  return fs::path(QUILLMOOR_SOURCE_DIR) / "../shared/corpus/vrml1";
}

// Pixels that differ from the top-left one; -1 when the file does not decode.
long differingPixels(const fs::path& png) {
  std::ifstream in(png, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  ZvImage image{};
  if (bytes.empty() || zvDecodeImage(bytes.data(), bytes.size(), &image) != 0) return -1;
  long n = 0;
  const uint8_t* p = image.pixels;
  for (long i = 0; i < long(image.width) * image.height; ++i)
    if (std::abs(p[i * 4] - p[0]) + std::abs(p[i * 4 + 1] - p[1]) + std::abs(p[i * 4 + 2] - p[2]) > 12) ++n;
  zvFreeImage(&image);
  return n;
}

void quiet(int, const char*, int, void*) {}

struct Frame {
  RwDeviceContext dc;
  std::vector<uint8_t> pixels;
  int width = 0, height = 0;
};
int keepFrame(RwDeviceContext* dc, const RwImage* image, int, int) {
  auto* f = reinterpret_cast<Frame*>(dc);
  f->width = image->width, f->height = image->height;
  f->pixels.assign(image->pixels, image->pixels + size_t(image->stride) * image->height);
  return 1;
}

struct Probe {
  int hits = 0, shown = 0;
};

// Draws the world at 160 x 120 and picks on a 16 x 12 grid. Worlds with a
// backdrop image are left out: their background is not one colour.
Probe probe(const fs::path& path) {
  Probe result;
  ZvWorld* world = zvReadWorldFile(path.c_str(), nullptr);
  if (!world) return result;
  Frame frame;
  frame.dc.show = keepFrame;
  if (!world->backgroundTexture && zvAddPersonToWorld(world) == ZV_OK &&
      zvAdjustPersonToActiveCamera(world->person) == ZV_OK) {
    zvRenderSetViewSize(160, 120);
    zvRenderConstructWorldInViewer(world);
    zvRenderResume(world);
    zvRenderSetWindow(world, nullptr, &frame.dc);
    zvRenderSetCameraViewport(world, 0, 0, 160, 120);
    ZvRenderingStruct* rs = zvRenderGetStruct(world);
    if (zvRenderShowWorld(world) == ZV_OK && frame.width == 160 && rs) {
      const int back[3] = {int(world->background.r * 255), int(world->background.g * 255),
                           int(world->background.b * 255)};
      for (int gy = 0; gy < 12; ++gy)
        for (int gx = 0; gx < 16; ++gx) {
          int x = gx * 10 + 5, y = gy * 10 + 5;
          RwPickRecord pick{};
          if (!rwPickScene(rs->scene, x, y, zvRenderGetActiveRwCamera(world), &pick)) continue;
          ++result.hits;
          const uint8_t* p = frame.pixels.data() + (size_t(y) * 160 + x) * 4;
          if (std::abs(p[0] - back[0]) + std::abs(p[1] - back[1]) + std::abs(p[2] - back[2]) > 6) ++result.shown;
        }
    }
  }
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
  return result;
}

TEST(CorpusSweep, EveryWorldDraws) {
  fs::path corpus = corpusDir();
  std::error_code ec;
  if (!fs::is_directory(corpus, ec)) GTEST_SKIP() << "no corpus at " << corpus;
  fs::path dir = fs::temp_directory_path() / ("qm-sweep-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  std::vector<fs::path> worlds;
  for (auto& e : fs::recursive_directory_iterator(corpus, ec)) {
    std::string name = e.path().filename().string();
    if (e.is_regular_file() && (name.ends_with(".wrl") || name.ends_with(".wrl.gz") || name.ends_with(".wrz")))
      worlds.push_back(e.path());
  }
  std::sort(worlds.begin(), worlds.end());
  ASSERT_FALSE(worlds.empty());
  zvSetReportSink(quiet, nullptr);
  zvInstallSubsystems();
  zvRenderInstallHooks();
  zvNavInstallHooks();
  zvSceneHooks().programDirectory = zvDataDirectory;
  ASSERT_EQ(zvRenderInitViewer(), ZV_OK);
  int drawn = 0, unseen = 0, probed = 0;
  for (const fs::path& world : worlds) {
    fs::path png = dir / "frame.png";
    fs::remove(png, ec);
    auto r = qmtest::runProgram("--screenshot " + png.string() + " --size 160x120 '" + world.string() + "'");
    ASSERT_GE(r.status, 0) << world << " ended by a signal\n" << r.out;
    ASSERT_LE(r.status, 2) << world << "\n" << r.out;
    EXPECT_EQ(r.out.find("runtime error"), std::string::npos) << world << "\n" << r.out;
    if (r.status != 0) continue;
    ++drawn;
    EXPECT_GE(differingPixels(png), 0) << world << ": the PNG does not decode";
    Probe p = probe(world);
    if (p.hits > 0) ++probed;
    if (p.hits > 0 && p.shown * 2 < p.hits) {
      ++unseen;
      ADD_FAILURE() << world << ": " << p.hits << " picks hit, only " << p.shown << " show anything";
    }
  }
  fs::remove_all(dir, ec);
  zvRenderCloseViewer();
  std::printf("corpus sweep: %zu worlds, %d drawn, %d with something under the grid, %d where picks and pictures "
              "disagree\n", worlds.size(), drawn, probed, unseen);
  EXPECT_GT(probed, drawn / 2);
  EXPECT_GT(drawn, int(worlds.size() * 9 / 10));
}

}  // namespace
