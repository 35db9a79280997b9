// The renderer bridge under test: the library opened without GL, the
// reader, retrieval and bridge hooks installed, and small worlds read from
// text into a world the bridge constructs.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "render/render.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

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
  static std::vector<RwClump*> children(RwClump* c) {
    std::vector<RwClump*> out;
    for (RwClump* k = rwGetFirstChildClump(c); k; k = rwGetNextSiblingClump(k)) out.push_back(k);
    return out;
  }
  ZvRenderingStruct* rs() { return zvRenderGetStruct(world); }

  std::filesystem::path dir;
  ZvWorld* world = nullptr;
};
