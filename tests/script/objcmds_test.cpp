// The object commands as a world's script uses them: moves that reach the
// renderer, names, variables, switches, attributes, parts, objects added
// and deleted, and the files a world may not read.

#include "tests/script/scripttest.h"

namespace {

int movedCount = 0, builtCount = 0;
int countMoved(ZvObj*) { return ++movedCount, 0; }
int countBuilt(ZvObj*) { return ++builtCount, 0; }

class ObjCmdsTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    char pattern[] = "/tmp/objcmdsXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
    zvSetScriptUserDirectory((dir + "/usr").c_str());
    ASSERT_NE(zvGetScriptUserDirectory(), nullptr);
    qmtest::useDataDirectory();
    zvWwwInstallHooks();  // worlds get their URL tables
    zvSceneHooks().renderAddMovedObj = countMoved;
    movedCount = 0;
    world = open("http://example.org/worlds/w.wrl");
  }
  void TearDown() override {
    for (ZvWorld* w : worlds) {
      zvScriptExit(w, ZV_SCRIPT_TCL);
      zvDeleteWorld(w);
    }
    std::system(("rm -rf " + dir).c_str());
    SceneTest::TearDown();
  }
  ZvWorld* open(const char* url) {
    ZvWorld* w = zvNewWorld(url);
    EXPECT_NE(w, nullptr);
    worlds.push_back(w);
    return w;
  }
  ZvObj* make(ZvObj* parent = nullptr, const char* name = nullptr, ZvLeaf* leaf = nullptr, ZvWorld* w = nullptr) {
    ZvObj* o = nullptr;
    EXPECT_EQ(zvNewZvObj(w ? w : world, &o, 1), 0);
    EXPECT_EQ(parent ? zvAddChild(parent, o) : zvAddTopObject(o, nullptr), 0);
    if (name) zvNameObject(o, name);
    if (leaf) {
      EXPECT_EQ(zvAttachLeaf(o, leaf), 0);
    }
    return o;
  }
  std::string eval(const std::string& text, ZvWorld* w = nullptr) { return qmtest::tclEval(w ? w : world, text); }
  std::string var(const char* name) { return qmtest::tclVar(world, name); }
  static std::string h(const void* record, int kind = ZV_HANDLE_OBJ) {
    return std::to_string(zvScriptHandleOf(record, kind));
  }
  void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

  std::string dir;
  ZvWorld* world = nullptr;
  std::vector<ZvWorld*> worlds;
};

TEST_F(ObjCmdsTest, MovesReachTheRendererAndReadBack) {
  ZvObj* car = make();
  ZvObj* wheel = make(car);
  std::string c = h(car), w = h(wheel);
  EXPECT_EQ(eval("zvTranslate " + c + " 1 2 3 1 0"), "");
  EXPECT_EQ(movedCount, 1);
  EXPECT_EQ(eval("zvGetObjWRT " + w + " x y z; list $x $y $z"), "1.000000 2.000000 3.000000");
  // A quarter turn about y in the parent's frame; the wheel then steps
  // along its own x axis, which now points along world -z.
  EXPECT_EQ(eval("zvObjectRotateAngle " + c + " 0 1.5707963 0 0 1"), "");
  EXPECT_EQ(eval("zvObjectTranslate " + w + " 1 0 0 0 1"), "");
  EXPECT_EQ(eval("zvGetObjWRT " + w + " x y z r0 r1 r2 r3 r4 r5 r6 r7 r8; format {%.2f %.2f %.2f %.2f} $x $y $z $r2"),
            "1.00 2.00 2.00 -1.00");
  EXPECT_EQ(eval("zvGetObjLRT " + w + " x y z; list $x $y $z"), "1.000000 0.000000 0.000000");
  // Setting the same world placement again is no move at all.
  movedCount = 0;
  EXPECT_EQ(eval("zvTranslate " + c + " 1 2 3 1 0"), "");
  EXPECT_EQ(movedCount, 0);
  EXPECT_EQ(eval("zvRotate " + c + " 0 1 0 -1 0 0 0 0 1 0 0; zvRotateAngleTranslate " + c + " 0 0 0 0 0 5 0 1"), "");
  EXPECT_EQ(eval("zvGetObjWRT " + c + " x y z a b c d e f g h i; list [expr {round($a)}] [expr {round($b)}] $z"),
            "0 1 8.000000");
  EXPECT_EQ(movedCount, 2);
  // Failures: an unknown coordinate system, a bad handle, the wrong count.
  EXPECT_EQ(eval("zvTranslate " + c + " 1 0 0 7 0"), "error: zvTranslate:[" + c + "] failed.");
  EXPECT_EQ(eval("zvTranslate 12a 1 0 0 0 0"), "error: zvTranslate:bad ZvObj[12a]");
  EXPECT_EQ(eval("zvTranslate " + c + " nan 0 0 0 1"), "error: zvTranslate:bad number[nan]");
  EXPECT_EQ(eval("zvTranslate " + c + " 1 2"),
            "error: zvTranslate:wrong args:zvTranslate ZvObj x y z  ZvCoordSystem  ZvTransferMode\n");
  EXPECT_EQ(eval("zvGetObjWRT " + c + " x y z a"),
            "error: zvGetObjWRT:wrong args:zvGetObjWRT ZvObj x y z  [rx ry rz rx1 ry1 rz1 rx2 ry2 rz2]\n");
}

TEST_F(ObjCmdsTest, NamesFindObjectsByPathAndBySearch) {
  ZvObj* car = make(nullptr, "car");
  ZvObj* wheel = make(car, "wheel");
  ZvObj* hub = make(wheel);
  make(nullptr, "house");
  EXPECT_EQ(eval("zvNameObject " + h(hub) + " hub"), "hub");
  EXPECT_EQ(eval("zvGetObjByName car.wheel.hub"), h(hub));
  EXPECT_EQ(eval("zvGetObjByName " + h(car) + " wheel.hub"), h(hub));
  EXPECT_EQ(eval("zvGetObjByName " + h(car) + " hub"), "0");  // a path, not a search
  EXPECT_EQ(eval("zvGetObjByName " + h(car) + " hub -r"), h(hub));
  EXPECT_EQ(eval("zvSetObjName " + h(wheel) + " tyre; zvGetObjByName car.wheel"), "0");
  EXPECT_EQ(eval("zvGetObjByName car.tyre"), h(wheel));
  EXPECT_EQ(eval("zvGetObjByName nothing"), "0");
  EXPECT_EQ(eval("zvGetObjByName 99999 hub -r"), "error: zvGetObjByName:bad ZvObj[99999]");
  // Another world's objects are not this world's script's to touch.
  ZvObj* theirs = make(nullptr, "car", nullptr, open("http://example.org/other.wrl"));
  EXPECT_EQ(eval("zvSetObjName " + h(theirs) + " mine"), "error: zvSetObjName:bad ZvObj[" + h(theirs) + "]");
  EXPECT_STREQ(zvGetObjName(theirs), "car");
}

TEST_F(ObjCmdsTest, VariablesAreTextAndMisuseOnlyFailsTheCommand) {
  std::string o = h(make());
  const std::string hostile = "[exec ls] $HOME";
  EXPECT_EQ(eval("zvNewVariable " + o + " speed 12"), "12");
  EXPECT_EQ(eval("zvNewVariable " + o + " fixed 5 ro"), "5");
  EXPECT_EQ(eval("zvSetVariable " + o + " speed {" + hostile + "}"), hostile);
  EXPECT_EQ(eval("zvGetVariable " + o + " speed"), hostile);
  EXPECT_EQ(eval("zvSetVariable " + o + " fixed 6"), "error: zvSetVariable [fixed] failed.");
  EXPECT_TRUE(sink.hasText("permision denied")) << sink.dump();
  EXPECT_EQ(eval("zvGetVariable " + o + " fixed"), "5");
  EXPECT_EQ(eval("zvNewVariable " + o + " speed 1"), "error: zvNewVariable:zvNewObjValue failed.");
  EXPECT_EQ(eval("zvNewVariable " + o + " long " + std::string(300, 'x')),
            "error: zvNewVariable:zvNewObjValue failed.");
  EXPECT_EQ(eval("zvDelVariable " + o + " speed"), "");
  EXPECT_EQ(eval("zvGetVariable " + o + " speed"), "error: zvGetVariable [speed] failed.");
  EXPECT_EQ(eval("zvDelVariable " + o + " speed"), "error: zvDelVariable:speed failed.");
  EXPECT_EQ(zvReportFailed(), 0) << sink.dump();  // the script's mistake, not the program's
}

TEST_F(ObjCmdsTest, SwitchesShowOneChild) {
  ZvObj* sw = make();
  sw->nodeType = ZV_NODE_SWITCH;
  ZvObj* child[3] = {make(sw), make(sw), make(sw)};
  std::string s = h(sw);
  EXPECT_EQ(eval("zvSwitchObj " + s + " 1"), "0");
  for (int i = 0; i < 3; ++i) EXPECT_EQ((child[i]->flags & ZV_OBJ_VISIBLE) != 0, i == 1) << i;
  EXPECT_EQ(eval("zvGetSwitchObjInfo " + s + " cur max; list $cur $max"), "1 3");
  EXPECT_EQ(eval("zvSetSwitchObjByNo " + s + " -3"), "0");
  EXPECT_TRUE(child[0]->flags & child[2]->flags & ZV_OBJ_VISIBLE);
  EXPECT_EQ(eval("zvGetSwitchObjByNo " + s + " 2"), h(child[2]));
  EXPECT_EQ(eval("zvGetSwitchObjByNo " + s + " 5"), "0");
  EXPECT_EQ(eval("zvSwitchObj " + h(child[0]) + " 0"), "-1");  // nothing to choose from
}

TEST_F(ObjCmdsTest, AttributesByNumber) {
  ZvObj* o = make();
  std::string t = h(o);
  EXPECT_EQ(eval("zvSetObjAttribute " + t + " 4 door; zvGetObjAttribute " + t + " 4 v; set v"), "door");
  uint32_t before = o->flags;
  EXPECT_EQ(eval("zvSetObjAttribute " + t + " 16 1; zvGetObjAttribute " + t + " 16 v; set v"), "1");
  EXPECT_EQ(o->flags, before | ZV_OBJ_MOBILE);
  EXPECT_EQ(eval("zvGetObjAttribute " + t + " 99 v"), "error: zvGetObjAttribute:bad attribute[99]");

  ZvObj* lamp = make(nullptr, nullptr, zvNewPointLight());
  std::string l = h(lamp);
  EXPECT_EQ(eval("zvSetLightAttribute " + l + " 2 {0.25 0.5 1}; zvGetLightAttribute " + l + " 2 c; set c"),
            "0.250000 0.500000 1.000000");
  EXPECT_EQ(static_cast<ZvLight*>(lamp->leaf)->color.g, 0.5f);
  EXPECT_EQ(eval("zvSetLightAttribute " + l + " 0 0; zvGetLightAttribute " + l + " 0 on; set on"), "0");
  EXPECT_EQ(eval("zvSetLightAttribute " + l + " 2 {1 2}"), "error: zvSetLightAttribute:bad value[1 2]");
  EXPECT_EQ(eval("zvGetLightAttribute " + l + " 5 v"), "error: zvGetLightAttribute:bad attribute[5]");
  EXPECT_TRUE(sink.hasText("zvGetLightAttribute : wrong attribute name"));

  ZvObj* eye = make(nullptr, nullptr, zvNewPerspectiveCameraLeaf());
  std::string e = h(eye);
  EXPECT_EQ(eval("zvSetCameraAttribute " + e + " 0 {1 2 3}; zvGetCameraAttribute " + e + " 0 p; set p"),
            "1.000000 2.000000 3.000000");
  EXPECT_EQ(eval("zvSetCameraAttribute " + e + " 5 {0 0 1}"), "");
  EXPECT_EQ(world->background.b, 1.0f);
  EXPECT_EQ(eval("zvGetCameraAttribute " + e + " 3 v"), "error: zvGetCameraAttribute:bad attribute[3]");
  EXPECT_EQ(eval("zvSetCameraAttribute " + e + " 6 sky.gif"), "");
  ASSERT_NE(world->backgroundTexture, nullptr);  // resolved against the world
  EXPECT_STREQ(zvGetUrl(world->backgroundTexture), "http://example.org/worlds/sky.gif");
  EXPECT_EQ(eval("zvSetCameraAttribute " + e + " 6 file:///etc/secret.gif"),
            "error: zvSetCameraAttribute:bad value[file:///etc/secret.gif]");
  EXPECT_EQ(eval("zvGetCameraAttribute " + l + " 0 v"), "error: zvGetCameraAttribute:bad attribute[0]");
}

TEST_F(ObjCmdsTest, PartsByNumberAndByType) {
  ZvObj* cone = make(nullptr, nullptr, zvNewCone(ZV_PART_ALL, 1, 2));
  ZvLeaf* bottom = cone->leaf->next;
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(eval("zvGetObjPart " + h(cone) + " 1"), h(bottom, ZV_HANDLE_LEAF));
  EXPECT_EQ(eval("zvGetFaceObjPart " + h(cone) + " " + std::to_string(bottom->type)), h(bottom, ZV_HANDLE_LEAF));
  EXPECT_EQ(eval("zvGetFaceObjPart " + h(cone) + " 11"), "0");
  EXPECT_EQ(eval("zvGetObjPart " + h(bottom, ZV_HANDLE_LEAF) + " 0"),
            "error: zvGetObjPart:bad ZvObj[" + h(bottom, ZV_HANDLE_LEAF) + "]");
}

TEST_F(ObjCmdsTest, DeletedObjectsLeaveNoHandles) {
  ZvObj* car = make();
  ZvObj* wheel = make(car);
  std::string c = h(car), w = h(wheel);
  // Deleting its own object and then its parent from inside a handler: the
  // handle dies first, so the script's next use of it is refused.
  ASSERT_EQ(eval("proc gone {o e d} { zvDelObj $o; catch {zvDelObj $o} m; set ::msg $m; zvDelObj " + c + " }"), "");
  ZvEvent event{};
  int answer = 0;
  EXPECT_EQ(zvScriptTclEvalFunction(world, 1, "gone", wheel, &event, "", &answer), 0) << sink.dump();
  EXPECT_EQ(var("msg"), "zvDelObj:bad ZvObj[" + w + "]");
  EXPECT_EQ(eval("zvGetObjWRT " + c + " x y z"), "error: zvGetObjWRT:bad ZvObj[" + c + "]");
  EXPECT_EQ(world->topObjects, nullptr);
  world->person = make();
  EXPECT_EQ(eval("zvDelObj " + h(world->person)), "error: zvDelObj:" + h(world->person) + " failed.");
}

TEST_F(ObjCmdsTest, ObjectsFromTextGoWhereAsked) {
  std::string first = eval("zvAddObjFromStr 0 {Separator { DEF box Cube {} DEF ball Sphere {} }}");
  ASSERT_NE(first, "0");
  EXPECT_EQ(first, eval("zvGetObjByName box"));  // the Separator is flattened away
  EXPECT_NE(eval("zvGetObjByName ball"), "0");
  ZvObj* sep = make();
  sep->nodeType = ZV_NODE_SEPARATOR;
  EXPECT_NE(eval("zvAddObjFromStr " + h(sep) + " {#VRML V1.0 ascii\nSphere {}}"), "0");
  EXPECT_NE(sep->children, nullptr);
  ZvObj* group = make();
  EXPECT_EQ(eval("zvAddObjFromStr " + h(group) + " {Cube {}}"),
            "error: zvAddObjFromStr:Can't add child to [" + h(group) + "], must be a Separator.");
  // A world already built builds what is added to it at once.
  int viewer = 0;
  world->viewer = &viewer;
  zvSceneHooks().renderConstructObj = countBuilt;
  EXPECT_NE(eval("zvAddObjFromStr 0 {Cube {} Sphere {}}"), "0");
  world->viewer = nullptr;
  EXPECT_EQ(builtCount, 2);
  std::string broken = eval("zvAddObjFromStr 0 \"garbage \\{\"");
  EXPECT_EQ(broken.rfind("error: zvAddObjFromStr:[", 0), 0u) << broken;
  EXPECT_EQ(broken.substr(broken.size() - 9), "] failed.");
  EXPECT_NE(eval("zvGetObjByName box"), "0");  // what was there stays
}

TEST_F(ObjCmdsTest, FilesOnlyFromWhereTheWorldMayRead) {
  const std::string cube = "#VRML V1.0 ascii\nDEF fromfile Cube {}\n";
  std::string usr = zvGetScriptUserDirectory();
  write(usr + "/mine.wrl", cube);
  write(dir + "/outside.wrl", cube);
  ASSERT_EQ(symlink((dir + "/outside.wrl").c_str(), (usr + "/link.wrl").c_str()), 0);
  EXPECT_NE(eval("zvAddObjFromFile 0 " + usr + "/mine.wrl"), "0");
  // A world from the network names no local file outside the user files.
  for (std::string name : {dir + "/outside.wrl", "file://" + dir + "/outside.wrl", usr + "/link.wrl",
                           usr + "/../outside.wrl"}) {
    EXPECT_EQ(eval("zvAddObjFromFile 0 " + name), "error: zvAddObjFromFile:[" + name + "] failed.");
    EXPECT_TRUE(sink.hasText("may not read " + name)) << sink.dump();
  }
  // Its relative names are its own URLs: fetched, never read from disk.
  EXPECT_EQ(eval("zvAddObjFromFile 0 ../outside.wrl"), "error: zvAddObjFromFile:[../outside.wrl] failed.");
  EXPECT_TRUE(sink.hasText("no fetcher for http://example.org/outside.wrl")) << sink.dump();
  // A world that is a local file reads beside itself, and not above.
  ZvWorld* local = open(("file://" + dir + "/w/world.wrl").c_str());
  ASSERT_EQ(system(("mkdir -p " + dir + "/w").c_str()), 0);
  write(dir + "/w/part.wrl", cube);
  EXPECT_NE(eval("zvAddObjFromFile 0 part.wrl", local), "0");
  EXPECT_EQ(local->topObjects->object->strings[ZV_STR_NAME], std::string("fromfile"));
  EXPECT_EQ(eval("zvAddObjFromFile 0 ../outside.wrl", local),
            "error: zvAddObjFromFile:[../outside.wrl] failed.");
}

}  // namespace
