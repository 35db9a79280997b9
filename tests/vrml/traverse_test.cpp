// Small worlds read through the real entry points into the scene model.
#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>

#include "tests/vrml/loadtest.h"

namespace {

struct Seen {
  std::vector<std::string> handlers;
  std::vector<uint32_t> masks;
  std::vector<ZvObj*> created;  // objects told CREATE_NOTIFY
  std::vector<std::string> scripts;
  std::vector<int> soundKinds;
  int gravity = -1;
};
Seen* seen = nullptr;

class TraverseTest : public qmtest::LoadTest {
 protected:
  void SetUp() override {
    LoadTest::SetUp();
    seen = &record;
    ZvReaderHooks& h = zvReaderHooks();
    h.addEventHandler = [](ZvObj*, const ZvHandlerDesc* d) {
      seen->handlers.push_back(d->function);
      seen->masks.push_back(d->mask);
      return 0;
    };
    h.callEventHandler = [](ZvObj* o, uint32_t type) {
      if (type == 0x800) seen->created.push_back(o);
      return 0;
    };
    h.scriptEval = [](ZvWorld*, const char* p, int) { return seen->scripts.push_back(p), 0; };
    h.addSound = [](ZvObj*, const ZvSoundDesc* d) { return seen->soundKinds.push_back(d->kind), 0; };
    h.setGravity = [](ZvWorld*, int on) { seen->gravity = on; };
  }
  void TearDown() override {
    LoadTest::TearDown();
    seen = nullptr;
  }
  std::string write(const std::string& name, const std::string& body) {
    auto p = dir / name;
    std::ofstream(p) << "#VRML V1.0 ascii\n" << body;
    return p.string();
  }
  // Reads the text as a file of its own into a fresh world.
  int read(const std::string& body, const std::string& name = "world.wrl") {
    drop(world);
    int result;
    world = load(write(name, body), &result);
    return result;
  }
  std::vector<ZvObj*> tops() const {
    std::vector<ZvObj*> out;
    for (ZvTopObjList* c = world->topObjects; c; c = c->next) out.push_back(c->object);
    return out;
  }
  static ZvSFColor diffuse(ZvObj* o) {
    ZvMFColor* c = zvGetObjAllDiffuse(o);
    return c && c->count ? c->values[0] : ZvSFColor{-1, -1, -1};
  }
  ZvWorld* world = nullptr;
  Seen record;
};

TEST_F(TraverseTest, GroupsShareStateSeparatorsIsolateIt) {
  ASSERT_EQ(read("Material { diffuseColor 1 0 0 } Group { Cube { } } Sphere { }"), ZV_OK);
  auto t = tops();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(diffuse(t[0]).r, 1);
  EXPECT_EQ(diffuse(t[1]).r, 1);
  ASSERT_EQ(read("Separator { Material { diffuseColor 1 0 0 } Cube { } } Sphere { }"), ZV_OK);
  t = tops();
  ASSERT_EQ(t.size(), 2u);  // the top Separator was flattened away
  EXPECT_EQ(t[0]->nodeType, ZV_NODE_CUBE);
  EXPECT_EQ(diffuse(t[0]).r, 1);
  EXPECT_FLOAT_EQ(diffuse(t[1]).r, 0.8f);
}

TEST_F(TraverseTest, TransformsPlaceObjectsAndSurviveFlattening) {
  ASSERT_EQ(read("Translation { translation 1 0 0 }\n"
                 "Separator { Translation { translation 0 2 0 } DEF A Cube { } }\n"
                 "Group { Translation { translation 0 0 3 } DEF B Sphere { } }\n"
                 "DEF C Cone { }\n"
                 "Scale { scaleFactor 2 2 2 } DEF D Cube { } DEF E Cube { }"),
            ZV_OK);
  auto place = [&](const char* name) { return zvGetObjectWRT(zvGetObjByName(name))->m[3]; };
  ASSERT_NE(zvGetObjByName("A"), nullptr);
  EXPECT_FLOAT_EQ(place("A")[0], 1);
  EXPECT_FLOAT_EQ(place("A")[1], 2);
  ZvObj* b = zvFindObjByName(tops()[1], "B");
  ASSERT_NE(b, nullptr);
  const float* pb = zvGetObjectWRT(b)->m[3];
  EXPECT_FLOAT_EQ(pb[0], 1);
  EXPECT_FLOAT_EQ(pb[2], 3);
  // A Group does not isolate: the cone after it is moved by its insides.
  EXPECT_FLOAT_EQ(place("C")[0], 1);
  EXPECT_FLOAT_EQ(place("C")[2], 3);
  // A Scale reaches only the next object.
  EXPECT_FLOAT_EQ(zvGetObjByName("D")->bcubeScale[0], 2);
  EXPECT_FLOAT_EQ(zvGetObjByName("E")->bcubeScale[0], 1);
}

TEST_F(TraverseTest, CubesAreSixFacesWithTheirCorners) {
  ASSERT_EQ(read("Cube { width 4 }"), ZV_OK);
  ZvObj* cube = tops().at(0);
  int faces = 0;
  for (ZvLeaf* l = cube->leaf; l; l = l->next) {
    ASSERT_EQ(l->type, ZV_LEAF_FACE);
    auto* f = static_cast<ZvFace*>(l);
    ASSERT_EQ(f->vertexCount, 4);
    ASSERT_EQ(f->texture.uvCount, 4);
    EXPECT_EQ(f->texture.uv[2].x, 1);
    EXPECT_EQ(f->texture.uv[2].y, 1);
    ++faces;
  }
  EXPECT_EQ(faces, 6);
  float mn[3], mx[3];
  ASSERT_EQ(zvGetObjBoundingCube(cube, mn, mx), ZV_OK);
  EXPECT_FLOAT_EQ(mx[0], 2);
  EXPECT_FLOAT_EQ(mn[1], -1);
  ASSERT_EQ(read("TextureCoordinate2 { point [ 0.5 0.5 ] } Cube { }"), ZV_OK);
  auto* f = static_cast<ZvFace*>(tops().at(0)->leaf);
  ASSERT_EQ(f->texture.uvCount, 1);
  EXPECT_FLOAT_EQ(f->texture.uv[0].x, 0.5f);
}

TEST_F(TraverseTest, BehavioursReachTheirSeams) {
  // The outer Separator is flattened away, so Door becomes a top object.
  ASSERT_EQ(read("Separator {\n"
                 "Attributes { comment \"the door\" solid FALSE }\n"
                 "EventHandler { function \"open\" eventType RIGHT_BUTTON_DOWN }\n"
                 "EventHandler { function \"knock\" eventType BUTTON_DOWN }\n"
                 "Script { procedure \"set x 1\" scriptType TCL }\n"
                 "DEF Door Separator { Cube { } }\n"
                 "DEF Gravity Info { string \"ON\" } }"),
            ZV_OK);
  ZvObj* door = tops().at(0);
  EXPECT_STREQ(zvGetObjComment(door), "the door");
  EXPECT_FALSE(door->flags & ZV_OBJ_SOLID);
  EXPECT_EQ(zvGetObjByName("Door"), door);
  ASSERT_EQ(record.handlers.size(), 2u);
  EXPECT_EQ(std::count(record.created.begin(), record.created.end(), door), 1);
  EXPECT_EQ(record.scripts, std::vector<std::string>{"set x 1"});
  // A right press is a pick; the button-down group keeps left and middle.
  EXPECT_EQ(record.masks[0] + record.masks[1], 0x10000u + (16u | 64u | 0x10000u));
  EXPECT_EQ(record.gravity, 0);
}

TEST_F(TraverseTest, SettingsLightsCamerasSounds) {
  ASSERT_EQ(read("DEF Title Info { string \"A\" } DEF Title Info { string \"B\" }\n"
                 "DEF BackgroundColor Info { string \"0.1 0.2 0.3\" }\n"
                 "DEF ViewerSpeed Info { string \"fast\" }\n"
                 "PerspectiveCamera { position 0 0 10 heightAngle 0.5 }\n"
                 "PointLight { location 0 5 0 on FALSE }\n"
                 "AmbientSound { filename \"door.WAV\" } AmbientSound { filename \"door.wav\" }\n"
                 "Texture2 { filename \"a.gif\" } TransparentTexture2 { filename \"b.gif\" } Sphere { }"),
            ZV_OK);
  EXPECT_STREQ(world->title, "A");
  EXPECT_FLOAT_EQ(world->background.b, 0.3f);
  EXPECT_FLOAT_EQ(world->viewerSpeed, 1.2f);
  EXPECT_TRUE(sink.hasText("fails to get ViewerSpeed value."));
  ZvObj* cam = zvGetCameraFromCameraTable(world, 3);
  ASSERT_NE(cam, nullptr);
  EXPECT_FLOAT_EQ(zvGetObjectWRT(cam)->m[3][2], 10);
  EXPECT_FLOAT_EQ(static_cast<ZvCamera*>(cam->leaf)->height, 0.5f);
  ZvObj* lamp = tops().at(1);
  EXPECT_FLOAT_EQ(zvGetObjectWRT(lamp)->m[3][1], 5);
  EXPECT_EQ(static_cast<ZvLight*>(lamp->leaf)->on, 0);
  EXPECT_EQ(record.soundKinds, (std::vector<int>{0, 1}));
  EXPECT_TRUE(sink.hasText("Unknown '.WAV' suffixes of filename."));
  EXPECT_TRUE(sink.hasText("Texture2 and TransparentTexture2 is exist."));
  EXPECT_EQ(static_cast<ZvShape*>(tops().back()->leaf)->texture.texture, nullptr);
}

// Cameras aimed by direction and up, as some exporters write them: the view
// axis (-z) goes along the direction, +y along up made square to it; an up
// along the direction still gives a proper turn; no direction leaves the
// orientation in charge.
TEST_F(TraverseTest, CamerasAimedByDirectionAndUp) {
  ASSERT_EQ(read("PerspectiveCamera { direction 2 0 0 up 1 1 0 gravityUp 0 0 1 }\n"
                 "OrthographicCamera { direction 0 0 -3 up 0 0 1 }\n"
                 "PerspectiveCamera { direction 0 0 0 orientation 0 1 0 1.5708 }"),
            ZV_OK);
  auto t = tops();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_FALSE(sink.hasText("gravityUp"));
  auto row = [&](int obj, int r) {
    const auto* m = zvGetObjectWRT(t[obj]);
    return std::array<float, 3>{m->m[r][0], m->m[r][1], m->m[r][2]};
  };
  auto near = [](std::array<float, 3> a, std::array<float, 3> b) {
    return std::fabs(a[0] - b[0]) < 1e-5f && std::fabs(a[1] - b[1]) < 1e-5f && std::fabs(a[2] - b[2]) < 1e-5f;
  };
  EXPECT_TRUE(near(row(0, 2), {-1, 0, 0}));  // z is behind the eye
  EXPECT_TRUE(near(row(0, 1), {0, 1, 0}));   // up lost its part along the direction
  EXPECT_TRUE(near(row(0, 0), {0, 0, 1}));   // right = direction x up
  for (int obj = 0; obj < 2; ++obj) {
    std::array<float, 3> x = row(obj, 0), y = row(obj, 1), z = row(obj, 2);
    float cross[3] = {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]};
    EXPECT_TRUE(near({cross[0], cross[1], cross[2]}, z)) << "object " << obj << " is not a right-handed turn";
  }
  EXPECT_TRUE(near(row(1, 2), {0, 0, 1}));
  EXPECT_TRUE(near(row(2, 2), {1, 0, 0}));  // a quarter turn about y, from the orientation
}

TEST_F(TraverseTest, ConeAndCylinderParts) {
  ASSERT_EQ(read("Cone { parts ( SIDES | ALL ) } Cone { parts ALL } Cylinder { parts ( TOP | BOTTOM ) }"), ZV_OK);
  auto t = tops();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_TRUE(sink.hasText("QvCone::setTextureAndMaterial(): unknown parts."));
  auto count = [](ZvObj* o) {
    int n = 0;
    for (ZvLeaf* l = o->leaf; l; l = l->next) ++n;
    return n;
  };
  EXPECT_EQ(count(t[1]), 2);
  EXPECT_EQ(count(t[2]), 2);
  EXPECT_EQ(t[2]->leaf->type, ZV_LEAF_CYLINDER_TOP);
}

TEST_F(TraverseTest, InlinesTakeTheirOwnRangesAndStopLoops) {
  write("part.wrl", "Sphere { } Cube { }");
  write("self.wrl", "Cube { } WWWInline { name \"self.wrl\" }");
  ASSERT_EQ(read("WWWInline { name \"part.wrl\" } WWWInline { name \"missing.wrl\" }\n"
                 "WWWInline { name \"part.wrl\" } WWWInline { name \"self.wrl\" }"),
            ZV_OK);
  auto t = tops();
  ASSERT_EQ(t.size(), 3u);  // the missing one is dropped
  ASSERT_NE(t[0]->children, nullptr);
  EXPECT_EQ(t[0]->children->object->id, -20000);
  EXPECT_EQ(t[1]->children->object->id, -40000);  // the third inline of the file
  EXPECT_TRUE(sink.hasText("recursion too deep, node skipped."));
  // Each object knows its inline URL, absolute.
  const char* url = nullptr;
  ASSERT_EQ(zvGetUrlNameOfWWW(t[0], zvWWWInline, &url), ZV_OK);
  EXPECT_NE(std::string(url).find("file:///"), std::string::npos);
}

TEST_F(TraverseTest, DepthAndLoopsAcrossInlinesAreBounded) {
  // Each file inlines the next through a "sub/.." detour back to itself.
  std::filesystem::create_directories(dir / "sub");
  write("loop.wrl", "Cube { } WWWInline { name \"sub/../loop.wrl\" } WWWInline { name \"sub/../loop.wrl\" }");
  ASSERT_EQ(read("WWWInline { name \"loop.wrl\" }"), ZV_OK);
  EXPECT_TRUE(sink.hasText("recursion too deep, node skipped."));
  EXPECT_LT(world->objectCount, 20);
  // USE builds a depth the reader never saw in one node.
  std::string text = "DEF L0 Separator { Cube { } }\n";
  for (int i = 1; i < 8; ++i) {
    text += "DEF L" + std::to_string(i) + " Separator {";
    for (int k = 0; k < 100; ++k) text += " Separator {";
    text += " USE L" + std::to_string(i - 1);
    for (int k = 0; k < 100; ++k) text += " }";
    text += " }\n";
  }
  sink.clear();
  ASSERT_EQ(read(text), ZV_OK);
  EXPECT_TRUE(sink.hasText("recursion too deep, node skipped."));
}

TEST_F(TraverseTest, TextAfterTheLastNodeIsReportedAndTheWorldKept) {
  ASSERT_EQ(read("Cube { }\nSphere { } # done\n\n  } 12\nCone { }\n"), ZV_OK);
  EXPECT_EQ(tops().size(), 2u);  // the Cone after the stray text is not read
  EXPECT_TRUE(sink.hasText("Extra characters ('}') found in input\n\tfile: "));
  EXPECT_TRUE(sink.hasText("Occurred at line 5"));
  // After an unknown node too; white space and comments alone say nothing.
  sink.clear();
  ASSERT_EQ(read("Cube { } Fog { } , "), ZV_OK);
  EXPECT_TRUE(sink.hasText("Extra characters (',') found in input"));
  sink.clear();
  ASSERT_EQ(read("Cube { }\n# trailing comment without an end of line"), ZV_OK);
  EXPECT_FALSE(sink.hasText("Extra characters"));
  EXPECT_FALSE(sink.hasText("EOF reached"));
}

TEST_F(TraverseTest, FilesThatCannotBeReadFailCleanly) {
  EXPECT_EQ(read(""), ZV_FAIL);                   // no node at all
  EXPECT_EQ(read("Fog { color 1 1 1 }"), ZV_OK);    // nothing we know: an empty world
  EXPECT_EQ(world->topObjects, nullptr);
  EXPECT_EQ(read("Separator { Cube { } "), ZV_FAIL);  // a cut file is refused whole
  EXPECT_EQ(read("Cube { } Sphere { radius x }"), ZV_FAIL);  // so is one bad top-level node
  EXPECT_TRUE(sink.hasText("Expected '}'; got EOF"));
  EXPECT_EQ(zvConstructWorld((dir / "nowhere.wrl").c_str(), world), ZV_FAIL);
}

}  // namespace
