// What the bookmark tests share: a scratch directory for landmark.htm and
// the snapshots, a world with a person to take bookmarks in, and the list
// emptied before and after each test.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bookmark/bookmark.h"
#include "nav/nav.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"

namespace qmtest {

class BookmarkTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    zvVrmlInstallHooks();
    zvNavInstallHooks();
    zvSceneHooks().programDirectory = dataDir;
    char name[] = "/tmp/qm-bookmark-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    zvSetBookmarkDirectory(dir.c_str());
    zvDeleteAllBookmarks();
    zvBookmarkHooks() = ZvBookmarkHooks{};
  }
  void TearDown() override {
    zvDeleteAllBookmarks();
    zvSetBookmarkDirectory(nullptr);
    zvBookmarkHooks() = ZvBookmarkHooks{};
    for (ZvWorld* w : {world, other})
      if (w) {
        zvSetCurrentWorld(nullptr);
        EXPECT_EQ(zvDeleteWorld(w), ZV_OK);
      }
    std::filesystem::remove_all(dir);
    SceneTest::TearDown();
  }
  static const char* dataDir() {
    static std::string d =
        std::string(std::getenv("QUILLMOOR_SOURCE_DIR") ? std::getenv("QUILLMOOR_SOURCE_DIR") : ".") + "/data/";
    return d.c_str();
  }
  // A world read from text with its person, made current.
  ZvWorld* enter(const char* url, const char* title = nullptr) {
    ZvWorld* w = zvNewWorld(url);
    EXPECT_NE(w, nullptr);
    if (!w) return nullptr;
    zvSetCurrentWorld(w);
    EXPECT_EQ(zvParseVRMLString("#VRML V1.0 ascii\nSeparator { Cube { } }\n", url ? url : "x.wrl", w), ZV_OK)
        << sink.dump();
    zvComputeWorldBoundingBox(w);
    EXPECT_EQ(zvAddPersonToWorld(w), ZV_OK) << sink.dump();
    if (title) {
      zvFree(w->title);
      w->title = zvStrdup(title);
    }
    return w;
  }
  std::string path(const char* name) const { return dir + "/" + name; }
  std::string file() const {
    std::ifstream in(zvBookmarkFilePath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void writeFile(const std::string& text) const { std::ofstream(zvBookmarkFilePath(), std::ios::binary) << text; }
  static std::string header() {
    return "<TITLE>Personal 3D Bookmarks</TITLE>\n<H1>Personal 3D Bookmarks</H1>\n<DL><P>\n";
  }
  std::string dir;
  ZvWorld* world = nullptr;
  ZvWorld* other = nullptr;
};

}  // namespace qmtest
