// Materials from scripts: one leaf, an object's own leaves and a subtree,
// the counting rules for colours and floats, the renderer seeing the
// change, and colour arrays that die with their handle or their world.

#include "tests/script/scripttest.h"
#include "tests/render/rendertest.h"

namespace {

class MaterialCommands : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    qmtest::useDataDirectory();
    // Handles die with their objects, as the script layer's hooks arrange.
    zvSceneHooks().deleteObjHandlers = zvScriptForgetObjHandles;
    ASSERT_EQ(read("DEF Box Separator { Material { diffuseColor 1 0 0 } Cube { } }\n"
                   "DEF Pair Separator { DEF Ball Separator { Sphere { } } DEF Top Separator { Cone { } } }\n"
                   "DEF Lamp PointLight { }"),
              ZV_OK)
        << sink.dump();
    ASSERT_NE(zvScriptInterpOf(world), nullptr) << sink.dump();
  }
  void TearDown() override {
    zvScriptExit(world, ZV_SCRIPT_TCL);
    RenderTest::TearDown();
  }
  std::string eval(const std::string& text) { return qmtest::tclEval(world, text); }
  std::string var(const char* name) { return qmtest::tclVar(world, name); }
  static std::string h(ZvObj* o) { return std::to_string(zvScriptHandleOf(o, ZV_HANDLE_OBJ)); }
  static std::string h(ZvLeaf* l) { return std::to_string(zvScriptHandleOf(l, ZV_HANDLE_LEAF)); }
  static const ZvMaterial& mat(ZvLeaf* l) { return static_cast<ZvShape*>(l)->material; }
  static RwSurfaceState surface(ZvLeaf* face) {
    RwSurfaceState s{};
    EXPECT_TRUE(rwGetPolygonSurface(static_cast<RwPolygon*>(face->rendering), &s));
    return s;
  }
};

TEST_F(MaterialCommands, SpecularSetIsReadBackAndColoursReachTheRenderer) {
  ZvLeaf* sphere = leafObj(named("Ball"))->leaf;
  std::string leaf = h(sphere);
  EXPECT_EQ(eval("zvSetPartSpecular " + leaf + " 0.25 0.5 1"), "");
  ASSERT_EQ(mat(sphere).specular.count, 1);
  EXPECT_FLOAT_EQ(mat(sphere).specular.values[0].g, 0.5f);
  EXPECT_EQ(eval("zvGetPartSpecular " + leaf + " r g b"), "1");
  EXPECT_EQ(var("r") + " " + var("g") + " " + var("b"), "0.250000 0.500000 1.000000");

  // A face of the red cube turns blue in the renderer, values given as a list.
  ZvLeaf* face = leafObj(named("Box"))->leaf;
  ASSERT_GT(surface(face).color[0], surface(face).color[2]);
  EXPECT_EQ(eval("zvSetPartDiffuse " + h(face) + " {0 0 1}"), "");
  EXPECT_GT(surface(face).color[2], surface(face).color[0]);
}

TEST_F(MaterialCommands, CountsNumbersAndAttributesAreChecked) {
  ZvLeaf* sphere = leafObj(named("Ball"))->leaf;
  std::string leaf = h(sphere);
  EXPECT_EQ(eval("zvSetPartDiffuse " + leaf + " 1 0"), "error: zvSetPartDiffuse:bad num of color[2]");
  EXPECT_EQ(eval("zvSetPartShininess " + leaf), "error: zvSetPartShininess:bad num of float[0]");
  EXPECT_EQ(eval("zvSetPartDiffuse " + leaf + " 1 x 0"), "error: zvSetPartDiffuse:bad number[x]");
  EXPECT_EQ(eval("zvSetPartEmissive " + leaf + " 1 nan 0"), "error: zvSetPartEmissive:bad number[nan]");
  EXPECT_FLOAT_EQ(mat(sphere).diffuse.values[0].g, 0.8f) << "a refused command leaves the leaf alone";
  EXPECT_EQ(eval("zvSetPartMaterial " + leaf + " 7 1"), "error: zvSetPartMaterial:bad attribute[7]");
  EXPECT_EQ(eval("zvSetPartMaterial " + leaf + " 5 0.5 0.5"), "");
  EXPECT_EQ(mat(sphere).shininess.count, 2);
  EXPECT_EQ(eval("zvSetPartMaterial " + leaf + " 6 {0.5 0.5 0.5}"), "");
  EXPECT_EQ(mat(sphere).transparency.count, 3);
  // The usage text's order: values as one list, then the attribute.
  EXPECT_EQ(eval("zvSetPartMaterial " + leaf + " {0 1 0 0 0 1} 2"), "");
  ASSERT_EQ(mat(sphere).diffuse.count, 2);
  EXPECT_FLOAT_EQ(mat(sphere).diffuse.values[1].b, 1.0f);
  EXPECT_EQ(eval("zvGetPartMaterial " + leaf + " 2 a b c d e f g"), "2");
  EXPECT_EQ(var("f") + var("g"), "1.000000<unset>");
  EXPECT_EQ(eval("zvGetPartMaterial " + leaf + " t 6"), "3");
  EXPECT_EQ(var("t"), "0.500000");
  // Handles of the wrong kind or forged.
  EXPECT_EQ(eval("zvSetPartSpecular 12a 1 1 1"), "error: zvSetPartSpecular:bad Parts or ZvObj[12a]");
  std::string obj = h(named("Ball"));
  EXPECT_EQ(eval("zvGetPartDiffuse " + obj), "error: zvGetPartDiffuse:bad Parts or ZvObj[" + obj + "]");
}

TEST_F(MaterialCommands, ObjectFormsReachOwnLeavesOrTheWholeSubtree) {
  ZvObj* pair = named("Pair");
  ZvLeaf* sphere = leafObj(named("Ball"))->leaf;
  ZvLeaf* cone = leafObj(named("Top"))->leaf;
  // The group carries no shape of its own: the plain form changes nothing
  // (the reader gave every shape the default material).
  EXPECT_EQ(eval("zvSetObjMaterial " + h(pair) + " 2 0 1 0"), "");
  EXPECT_FLOAT_EQ(mat(sphere).diffuse.values[0].r, 0.8f);
  EXPECT_EQ(eval("zvSetObjAllMaterial " + h(pair) + " 2 0 1 0"), "");
  for (ZvLeaf* l : {sphere, cone, cone->next}) {
    ASSERT_EQ(mat(l).diffuse.count, 1);
    EXPECT_FLOAT_EQ(mat(l).diffuse.values[0].g, 1.0f);
  }
  EXPECT_EQ(eval("zvSetObjMaterial " + h(leafObj(named("Top"))) + " 5 0.75"), "");
  EXPECT_FLOAT_EQ(mat(cone).shininess.values[0], 0.75f);
  EXPECT_FLOAT_EQ(mat(cone->next).shininess.values[0], 0.75f);
  EXPECT_FLOAT_EQ(mat(sphere).shininess.values[0], 0.2f);
  // The subtree's first answer, depth first: the ball before the cone.
  EXPECT_EQ(eval("zvSetPartSpecular " + h(cone) + " 1 1 1; zvSetPartSpecular " + h(sphere) + " 0.5 0.5 0.5 0 0 0"), "");
  EXPECT_EQ(eval("zvGetObjMaterial " + h(pair) + " 3 r g b"), "2");
  EXPECT_EQ(var("g"), "0.500000");
  // A light has no material: setting is a no-op, reading fails.
  std::string lamp = h(named("Lamp"));
  EXPECT_EQ(eval("zvSetObjMaterial " + lamp + " 2 1 1 1"), "");
  EXPECT_EQ(eval("zvGetObjMaterial " + lamp + " 2 r"), "error: zvGetObjMaterial:no material[" + lamp + "]");
}

TEST_F(MaterialCommands, ColourArraysAreBoundedAndDieWithTheirHandle) {
  std::string a = eval("zvNewZvMFColor 2");
  ASSERT_NE(a.rfind("error", 0), 0u) << a;
  EXPECT_EQ(eval("zvSetZvMFColor " + a + " 1 0.1 0.2 0.3"), "");
  EXPECT_EQ(eval("zvGetZvMFColor " + a + " 1 r g b"), "");
  EXPECT_EQ(var("r") + var("g") + var("b"), "0.1000000.2000000.300000");
  EXPECT_EQ(eval("zvSetZvMFColor " + a + " 2 1 1 1"), "error: zvSetZvMFColor:2 too big.");
  EXPECT_EQ(eval("zvGetZvMFColor " + a + " 5 r"), "error: zvGetZvMFColor:5 too big.");
  EXPECT_EQ(eval("zvGetZvMFColor " + a + " -1 r"), "error: zvGetZvMFColor:bad number[-1]");
  EXPECT_EQ(eval("zvNewZvMFColor -1"), "error: zvNewZvMFColor:bad size[-1]");
  EXPECT_EQ(eval("zvNewZvMFColor 100000000"), "error: zvNewZvMFColor:bad size[100000000]");
  EXPECT_EQ(eval("zvDeleteZvMFColor " + a), "");
  EXPECT_EQ(eval("zvGetZvMFColor " + a + " 0 r"), "error: zvGetZvMFColor:bad ZvMFColor[" + a + "]");
  // One left behind goes with the interpreter (the fixture counts blocks).
  std::string kept = eval("zvNewZvMFColor 3");
  zvScriptExit(world, ZV_SCRIPT_TCL);
  EXPECT_EQ(zvScriptHandleRecord(kept.c_str(), ZV_HANDLE_COLORS), nullptr);
}

}  // namespace
