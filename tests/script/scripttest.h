// What the event and task tests share: a world with the script layer's
// hooks in place, a clock the test moves, and script files in a folder of
// their own.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "script/scriptpriv.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace qmtest {

// What a world's script answers, or "error: " and its message. Armed, it
// runs as a world's own evaluation does: at global level, under the limits.
inline std::string tclEval(ZvWorld* world, const std::string& text, bool armed = false) {
  Tcl_Interp* interp = zvScriptInterpOf(world);
  if (!interp) return "no interpreter";
  if (armed) zvScriptArmLimits(interp);
  int code = armed ? Tcl_EvalEx(interp, text.c_str(), -1, TCL_EVAL_GLOBAL) : Tcl_Eval(interp, text.c_str());
  return std::string(code == TCL_OK ? "" : "error: ") + Tcl_GetStringResult(interp);
}
inline std::string tclVar(ZvWorld* world, const char* name) {
  const char* v = Tcl_GetVar(zvScriptInterpOf(world), name, TCL_GLOBAL_ONLY);
  return v ? v : "<unset>";
}
inline void useDataDirectory() {
  if (const char* d = std::getenv("QUILLMOOR_DATA_DIR")) zvSetScriptDataDirectory(d);
}

inline uint64_t fakeNow = 0;
inline uint64_t fakeClock() { return fakeNow; }

class ScriptTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    useDataDirectory();
    dir = std::filesystem::temp_directory_path() / ("qm-script-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    zvWwwInstallHooks();
    zvScriptInstallHooks();
    fakeNow = 1000000;
    zvSetScriptClock(fakeClock);
    world = zvNewWorld(zvPathToFileUrl((dir / "w.wrl").c_str()));
    ASSERT_NE(world, nullptr);
    zvSetCurrentWorld(world);
  }
  void TearDown() override {
    if (world) {
      EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    }
    world = nullptr;
    zvSetScriptClock(nullptr);
    std::filesystem::remove_all(dir);
    SceneTest::TearDown();
  }
  ZvObj* make(ZvObj* parent = nullptr) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(world, &o, 1), ZV_OK);
    EXPECT_EQ(parent ? zvAddChild(parent, o) : zvAddTopObject(o, "w.wrl"), ZV_OK);
    return o;
  }
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  }
  // The world read from text in the file name, in place of the test's own.
  int readWorld(const std::string& name, const std::string& text) {
    zvVrmlInstallHooks();
    zvScriptInstallHooks();
    std::string path = file(name, text);
    zvDeleteWorld(world);
    world = zvNewWorld(zvPathToFileUrl(path.c_str()));
    zvSetCurrentWorld(world);
    return zvConstructWorld(path.c_str(), world);
  }
  std::string tcl(const std::string& text) { return tclEval(world, text); }
  std::filesystem::path dir;
  ZvWorld* world = nullptr;
};

}  // namespace qmtest
