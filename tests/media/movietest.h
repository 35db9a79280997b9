// What the movie tests share: the renderer bridge on the null device, the
// reader, retrieval, the script layer on a clock the test moves, and the
// movie textures installed; pictures written as strips of coloured frames.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/media.h"
#include "render/render.h"
#include "tests/script/scripttest.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace movietest {

struct Rgb {
  uint8_t r, g, b;
};

// A 24-bit BMP w pixels wide of frames squares stacked from the top, each
// of its own colour (cycling through colours).
inline void writeStripBmp(const std::filesystem::path& p, int w, int h, const std::vector<Rgb>& colours) {
  int row = (w * 3 + 3) / 4 * 4;
  std::vector<uint8_t> f(54 + size_t(row) * size_t(h), 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  f[0] = 'B', f[1] = 'M';
  put32(2, uint32_t(f.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  f[26] = 1, f[28] = 24;
  for (int y = 0; y < h; ++y) {  // file rows run bottom up
    int top = h - 1 - y;
    const Rgb& c = colours[size_t(top / (w > 0 ? w : 1)) % colours.size()];
    for (int x = 0; x < w; ++x) {
      size_t at = 54 + size_t(y) * size_t(row) + size_t(x) * 3;
      f[at] = c.b, f[at + 1] = c.g, f[at + 2] = c.r;
    }
  }
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

// A 24-bit Sun raster of w x h grey pixels.
inline void writeSunRaster(const std::filesystem::path& p, int w, int h) {
  auto be = [](std::vector<uint8_t>& f, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) f.push_back(uint8_t(v >> s));
  };
  std::vector<uint8_t> f;
  int row = (w * 3 + 1) / 2 * 2;
  for (uint32_t v : {0x59a66a95u, uint32_t(w), uint32_t(h), 24u, uint32_t(row * h), 1u, 0u, 0u}) be(f, v);
  f.resize(f.size() + size_t(row) * size_t(h), 0x80);
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

inline uint64_t now = 0;
inline uint64_t clock() { return now; }

class MovieFixture : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    qmtest::SceneTest::SetUp();
    qmtest::useDataDirectory();
    dir = std::filesystem::temp_directory_path() / ("qm-movie-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "cache");
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    ASSERT_TRUE(rwOpen("Null"));
    zvWwwInstallHooks();
    zvVrmlInstallHooks();
    zvScriptInstallHooks();
    zvRenderInstallHooks();
    zvMediaInstallMovies();
    zvVFloadAllPendingTextures();
    now = 1000000;
    zvSetScriptClock(clock);
  }
  void TearDown() override {
    if (world) {
      zvSetCurrentWorld(nullptr);
      EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
      world = nullptr;
    }
    zvRenderSetMovieRefresh(nullptr);
    zvReaderHooks().newMovie = nullptr;
    zvDumpHooks().movieOf = nullptr;
    zvSetScriptClock(nullptr);
    rwClose();
    std::filesystem::remove_all(dir);
    qmtest::SceneTest::TearDown();
  }
  // Reads and constructs the body as a world; its DEF names name its objects.
  int read(const std::string& body) {
    std::ofstream(dir / "world.wrl") << "#VRML V1.0 ascii\nSeparator {\n" << body << "\n}\n";
    return load(dir / "world.wrl");
  }
  int load(const std::filesystem::path& path) {
    if (world) zvDeleteWorld(world);
    world = zvNewWorld(zvPathToFileUrl(path.c_str()));
    zvSetCurrentWorld(world);
    return zvConstructWorld(path.c_str(), world);
  }
  // The first object under the named one that has a leaf.
  ZvObj* shape(const char* name) {
    std::vector<ZvObj*> pending;
    for (ZvTopObjList* c = world->topObjects; c; c = c->next) pending.push_back(c->object);
    while (!pending.empty()) {
      ZvObj* o = pending.back();
      pending.pop_back();
      if (o->strings[ZV_STR_NAME] && std::string(o->strings[ZV_STR_NAME]) == name) {
        while (o && !o->leaf && o->children) o = o->children->object;
        return o;
      }
      for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
    }
    ADD_FAILURE() << "no object " << name;
    return nullptr;
  }
  // Moves the clock and runs what fell due.
  void advance(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 5) {
      now += 5;
      zvWakeUpTask(world);
    }
  }
  std::string tcl(const std::string& text) { return qmtest::tclEval(world, text); }

  std::filesystem::path dir;
  ZvWorld* world = nullptr;
};

}  // namespace movietest
