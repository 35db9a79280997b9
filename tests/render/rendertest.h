// The renderer bridge under test: the library opened without GL, the
// reader, retrieval and bridge hooks installed, and small worlds read from
// text into a world the bridge constructs.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "render/render.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

// A 24-bit BMP of w x h pixels of one colour.
inline void writeBmp(const std::filesystem::path& p, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
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
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      size_t at = 54 + size_t(y) * size_t(row) + size_t(x) * 3;
      f[at] = b, f[at + 1] = g, f[at + 2] = r;
    }
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
}

// Reads a body as the world (see RenderTest::read), or stops the test with
// what was said.
#define ASSERT_READ(body) ASSERT_EQ(read(body), ZV_OK) << sink.dump()

class RenderTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    qmtest::SceneTest::SetUp();
    dir = std::filesystem::temp_directory_path() / ("qm-render-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "cache");
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    ASSERT_TRUE(rwOpen(device()));
    zvWwwInstallHooks();
    zvVrmlInstallHooks();
    zvRenderInstallHooks();
    zvVFloadAllPendingTextures();  // texturing on, queue empty
  }
  void TearDown() override {
    if (world) {
      zvSetCurrentWorld(nullptr);
      EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
      world = nullptr;
    }
    rwClose();
    if (!dir.empty()) std::filesystem::remove_all(dir);
    qmtest::SceneTest::TearDown();
  }
  virtual const char* device() { return "Null"; }

  std::string write(const std::string& name, const std::string& body) {
    auto p = dir / name;
    std::ofstream(p) << "#VRML V1.0 ascii\n" << body;
    return p.string();
  }
  // Reads and constructs the text as a world of its own. The reader
  // flattens a top-level Separator, so the body goes inside one: the nodes
  // in it become the world's top objects, each named by its DEF.
  int read(const std::string& body) {
    std::string path = write("world.wrl", "Separator {\n" + body + "\n}\n");
    if (world) zvDeleteWorld(world);
    world = zvNewWorld(zvPathToFileUrl(path.c_str()));
    zvSetCurrentWorld(world);
    return zvConstructWorld(path.c_str(), world);
  }
  ZvObj* named(const char* name) {
    ZvObj* found = nullptr;
    std::vector<ZvObj*> pending;
    for (ZvTopObjList* c = world->topObjects; c; c = c->next) pending.push_back(c->object);
    while (!pending.empty() && !found) {
      ZvObj* o = pending.back();
      pending.pop_back();
      if (o->strings[ZV_STR_NAME] && std::string(o->strings[ZV_STR_NAME]) == name) found = o;
      for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
    }
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  // The first object below o (o included) that carries a leaf.
  static ZvObj* leafObj(ZvObj* o) {
    while (o && !o->leaf && o->children) o = o->children->object;
    return o;
  }
  static RwClump* clumpOf(ZvObj* o) { return zvRenderGetLeafClump(leafObj(o)->leaf); }
  static int shown(ZvObj* o) { return rwGetClumpState(clumpOf(o)); }
  // One letter a named object: 'x' where its clump is on, '.' where off.
  std::string onOff(std::initializer_list<const char*> names) {
    std::string out;
    for (const char* name : names) out += shown(named(name)) == RW_ON ? 'x' : '.';
    return out;
  }
  static std::vector<RwClump*> children(RwClump* c) {
    std::vector<RwClump*> out;
    for (RwClump* k = rwGetFirstChildClump(c); k; k = rwGetNextSiblingClump(k)) out.push_back(k);
    return out;
  }
  ZvRenderingStruct* rs() { return zvRenderGetStruct(world); }

  std::filesystem::path dir;
  ZvWorld* world = nullptr;
};
