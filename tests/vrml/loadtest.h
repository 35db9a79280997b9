// What the tests that read whole worlds from files share: a scratch
// directory that also takes the program's cache, the reader's and
// retrieval's own hooks, and every world read deleted at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace qmtest {

// CTest tells where the tree is; run by hand, this file's own path does.
inline std::filesystem::path sourceDir() {
  if (const char* env = std::getenv("QUILLMOOR_SOURCE_DIR"); env && *env) return env;
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

class LoadTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    dir = std::filesystem::temp_directory_path() / ("qm-load-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    if (const char* old = std::getenv("XDG_CACHE_HOME")) savedCache = old, hadCache = true;
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    zvWwwInstallHooks();
    zvVrmlInstallHooks();
    zvReaderHooks() = ZvReaderHooks{};
    zvDumpHooks() = ZvDumpHooks{};
  }
  void TearDown() override {
    while (!worlds.empty()) drop(worlds.back());
    zvReaderHooks() = ZvReaderHooks{};
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    if (hadCache)
      setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
    else
      unsetenv("XDG_CACHE_HOME");
    SceneTest::TearDown();
  }
  // Reads the file into a new world, made current, as the browser opens one;
  // the reader's result goes to *result.
  ZvWorld* load(const std::filesystem::path& file, int* result) {
    ZvWorld* w = zvNewWorld(zvPathToFileUrl(file.c_str()));
    if (!w) return *result = ZV_NOMEM, nullptr;
    worlds.push_back(w);
    zvSetCurrentWorld(w);
    *result = zvConstructWorld(file.c_str(), w);
    return w;
  }
  void drop(ZvWorld* w) {
    if (!w) return;
    std::erase(worlds, w);
    if (zvGetCurrentWorld() == w) zvSetCurrentWorld(nullptr);
    EXPECT_EQ(zvDeleteWorld(w), ZV_OK);
  }
  std::filesystem::path dir;
  std::vector<ZvWorld*> worlds;

 private:
  std::string savedCache;
  bool hadCache = false;
};

}  // namespace qmtest
