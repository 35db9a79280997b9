// Leaves into clumps: what each builder makes, how it is tagged, and what a
// destroyed world leaves behind (nothing).
#include <cmath>

#include "tests/render/rendertest.h"

namespace {

const char* kThreeFaces =
    "DEF F Separator { Coordinate3 { point [0 0 0, 1 0 0, 1 1 0, 0 1 0, 2 0 0] }\n"
    "  IndexedFaceSet { coordIndex [0, 1, 2, -1, 0, 2, 3, -1, 1, 4, 2, -1] } }\n";

// Marked polygons unless each face has its material: then each its colour.
TEST_F(RenderTest, FaceSetIsOneClumpWithMarkedPolygons) {
  ASSERT_READ(std::string(kThreeFaces) +
              "DEF ONE Separator { Coordinate3 { point [0 0 0, 1 0 0, 1 1 0] }\n"
              "  IndexedFaceSet { coordIndex [0, 1, 2] } }\n"
              "DEF PER Separator { Coordinate3 { point [0 0 0, 1 0 0, 1 1 0, 0 1 0] }\n"
              "  Material { diffuseColor [1 0 0, 0 1 0] } MaterialBinding { value PER_FACE }\n"
              "  IndexedFaceSet { coordIndex [0, 1, 2, -1, 0, 2, 3] } }\n");
  ZvObj* o = leafObj(named("F"));
  RwClump* clump = clumpOf(o);
  ASSERT_NE(clump, nullptr);
  EXPECT_EQ(rwGetClumpData(clump), o);
  EXPECT_EQ(rwGetClumpTag(clump), 1);
  EXPECT_EQ(zvRenderGetClumpLeaf(o, clump), o->leaf);
  EXPECT_EQ(rwGetClumpScene(clump), rs()->scene);
  EXPECT_EQ(rwGetClumpPolygonCount(clump), 3);
  int32_t mark = 1;
  for (ZvLeaf* l = o->leaf; l; l = l->next, ++mark) {
    auto* p = static_cast<RwPolygon*>(l->rendering);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(rwGetPolygonData(p), l);
    EXPECT_EQ(rwGetPolygonTag(p), mark);
    EXPECT_EQ(rwGetPolygonClump(p), clump);
  }
  EXPECT_EQ(rwGetPolygonTag(static_cast<RwPolygon*>(leafObj(named("ONE"))->leaf->rendering)), 1);
  for (ZvLeaf* l = leafObj(named("PER"))->leaf; l; l = l->next)
    EXPECT_EQ(rwGetPolygonTag(static_cast<RwPolygon*>(l->rendering)), 0);
  // The second face is green.
  RwSurfaceState s{};
  ASSERT_TRUE(rwGetPolygonSurface(static_cast<RwPolygon*>(leafObj(named("PER"))->leaf->next->rendering), &s));
  EXPECT_FLOAT_EQ(s.color[1], 1.0f);
  EXPECT_LT(s.color[0], 0.5f);
}

TEST_F(RenderTest, FaceNormalsByBinding) {
  ASSERT_READ("DEF F Separator { Coordinate3 { point [0 0 0, 1 0 0, 1 1 0] } IndexedFaceSet { coordIndex [0, 1, 2] } }");
  ZvObj* o = leafObj(named("F"));
  auto* face = static_cast<ZvFace*>(o->leaf);
  ASSERT_EQ(zvRenderDestroyPartInViewer(o), ZV_OK);
  EXPECT_EQ(face->rendering, nullptr);
  // Per vertex with one normal short: refused, and nothing left half built.
  face->normalBinding = 6;
  face->normalCount = 2;
  EXPECT_EQ(zvRwSetFace(o), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRwSetFace() : number of normal vectors isn't equal to number of vertices"));
  EXPECT_EQ(face->rendering, nullptr);
  face->normalBinding = 9;
  EXPECT_EQ(zvRwSetFace(o), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("wrong normal binding type"));
  face->normalBinding = 1;
  face->normalCount = 1;
  EXPECT_EQ(zvRwSetFace(o), ZV_OK);
  EXPECT_EQ(rwGetClumpScene(clumpOf(o)), rs()->scene);
}

TEST_F(RenderTest, LineSetSegmentsArePlacedAndTagged) {
  ASSERT_READ("DEF L Separator { Coordinate3 { point [0 0 0, 2 0 0, 2 0 3, 5 5 5] }\n"
              "  IndexedLineSet { coordIndex [0, 1, 2, -1, 3] } }\n");
  ZvObj* o = leafObj(named("L"));
  ZvLeaf* first = o->leaf;
  ASSERT_NE(first->next, nullptr);
  auto* clump = static_cast<RwClump*>(first->rendering);
  EXPECT_EQ(rwGetClumpData(clump), nullptr);
  EXPECT_EQ(zvRenderGetClumpLeaf(o, clump), first);
  std::vector<RwClump*> segs = children(clump);
  ASSERT_EQ(segs.size(), 2u);
  RwV3d lo, hi;
  // Each segment a thin cylinder from its point to the next.
  ASSERT_TRUE(rwGetClumpBounds(segs[0], &lo, &hi));
  EXPECT_EQ(rwGetClumpTag(segs[0]), 0);
  EXPECT_EQ(rwGetClumpData(segs[0]), o);
  EXPECT_NEAR(lo.x, 0, 1e-4);
  EXPECT_NEAR(hi.x, 2, 1e-4);
  EXPECT_LT(hi.y - lo.y, 0.11f);
  ASSERT_TRUE(rwGetClumpBounds(segs[1], &lo, &hi));
  EXPECT_EQ(rwGetClumpTag(segs[1]), 1);
  EXPECT_NEAR(lo.z, 0, 1e-4);
  EXPECT_NEAR(hi.z, 3, 1e-4);
  EXPECT_NEAR(lo.x + hi.x, 4, 1e-4);
  // A polyline of one point makes an empty clump, still in the scene.
  auto* single = static_cast<RwClump*>(first->next->rendering);
  EXPECT_TRUE(children(single).empty());
  EXPECT_EQ(rwGetClumpTag(single), 2);
  EXPECT_EQ(rwGetClumpScene(single), rs()->scene);
  // A segment of no length fails the whole line set.
  ASSERT_EQ(read("DEF L Separator { Coordinate3 { point [1 1 1, 1 1 1] } IndexedLineSet { coordIndex [0, 1] } }"),
            ZV_FAIL);
  EXPECT_TRUE(sink.hasText("the length of the line is zero"));
  EXPECT_EQ(leafObj(named("L"))->leaf->rendering, nullptr);
}

TEST_F(RenderTest, PointSetChildrenAndModelledShapes) {
  ASSERT_READ("DEF P Separator { Coordinate3 { point [0 0 0, 1 0 0, 0 2 0] } PointSet { } }\n"
              "DEF C Cone { }\nDEF Y Cylinder { }\nDEF S Sphere { radius 2 }\n");
  ZvObj* p = leafObj(named("P"));
  std::vector<RwClump*> points = children(clumpOf(p));
  ASSERT_EQ(points.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rwGetClumpTag(points[i]), i);
    EXPECT_EQ(rwGetClumpData(points[i]), p);
  }
  // Cones and cylinders: a clump per part, tagged with the part's place.
  ZvObj* cone = named("C");
  int n = 1;
  for (ZvLeaf* l = cone->leaf; l; l = l->next, ++n) {
    auto* c = static_cast<RwClump*>(l->rendering);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(zvRenderGetClumpLeaf(cone, c), l);
    EXPECT_EQ(rwGetClumpData(c), cone);
  }
  EXPECT_EQ(n, 3);
  int parts = 0;
  for (ZvLeaf* l = named("Y")->leaf; l; l = l->next) parts += l->rendering != nullptr;
  EXPECT_EQ(parts, 3);
  RwV3d lo, hi;
  ASSERT_TRUE(rwGetClumpBounds(clumpOf(named("S")), &lo, &hi));
  EXPECT_NEAR(hi.y, 2, 1e-3);
  EXPECT_NEAR(lo.y, -2, 1e-3);
}

TEST_F(RenderTest, LightsAndCamerasCarryTheirLeaves) {
  ASSERT_READ("DEF PL PointLight { location 1 2 3 }\nDEF SL SpotLight { cutOffAngle 1.0 }\n"
              "DEF DL DirectionalLight { on FALSE }\n"
              "DEF PC PerspectiveCamera { heightAngle 4.0 }\nDEF OC OrthographicCamera { height 3 }\n");
  for (const char* name : {"PL", "SL", "DL"}) {
    ZvLeaf* leaf = named(name)->leaf;
    auto* light = static_cast<RwLight*>(leaf->rendering);
    ASSERT_NE(light, nullptr) << name;
    EXPECT_EQ(rwGetLightData(light), leaf);
  }
  EXPECT_EQ(rwGetLightState(static_cast<RwLight*>(named("DL")->leaf->rendering)), RW_OFF);
  // A height angle past a half turn has a negative tangent: the widest window.
  float w, h;
  ASSERT_EQ(zvRenderGetCameraViewWindow(named("PC"), &w, &h), ZV_OK);
  EXPECT_FLOAT_EQ(w, 1024.0f);
  EXPECT_FLOAT_EQ(h, 768.0f);
  ASSERT_EQ(zvRenderGetCameraViewWindow(named("OC"), &w, &h), ZV_OK);
  EXPECT_FLOAT_EQ(h, 3.0f);
  EXPECT_EQ(rwGetCameraProjection(static_cast<RwCamera*>(named("OC")->leaf->rendering)), RW_PARALLEL);
  EXPECT_EQ(zvRenderGetCameraViewWindow(named("PL"), &w, &h), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("specified obj is not a camera"));
}

TEST_F(RenderTest, PersonBuildsOnlyLightsAndCameras) {
  ASSERT_READ("DEF ME Separator { DEF BODY Sphere { } DEF EYE PerspectiveCamera { } DEF LAMP PointLight { } }");
  ZvObj* me = named("ME");
  ASSERT_EQ(zvRenderDestroyPartInViewer(me), ZV_OK);
  world->person = me;
  ASSERT_EQ(zvSceneHooks().renderConstructObj(me), ZV_OK);
  EXPECT_EQ(named("BODY")->leaf->rendering, nullptr);
  EXPECT_NE(named("EYE")->leaf->rendering, nullptr);
  EXPECT_NE(named("LAMP")->leaf->rendering, nullptr);
  EXPECT_EQ(rs()->renderingEnabled, 1);
}

// Every handle is cleared when the world's structure goes, and a world can
// be built again and again (run under ASan for the dangling ones).
TEST_F(RenderTest, DestroyClearsEveryHandleAndRebuilds) {
  std::string body = std::string(kThreeFaces) +
                     "DEF T Transform { translation 1 0 0 } DEF C Cone { }\nDEF PC PerspectiveCamera { }\n"
                     "DEF PL PointLight { }\nDEF L Separator { Coordinate3 { point [0 0 0, 1 1 1] } IndexedLineSet { coordIndex [0, 1] } }\n";
  ASSERT_READ(body);
  ASSERT_EQ(zvRenderSetBoundingBoxInViewer(named("C")), ZV_OK);
  ASSERT_EQ(zvRenderAddObjToTransferedObjList(named("C")), ZV_OK);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(zvRenderDestroyWorldInViewer(world), ZV_OK);
    EXPECT_EQ(world->viewer, nullptr);
    std::vector<ZvObj*> pending;
    for (ZvTopObjList* c = world->topObjects; c; c = c->next) pending.push_back(c->object);
    while (!pending.empty()) {
      ZvObj* o = pending.back();
      pending.pop_back();
      for (ZvLeaf* l = o->leaf; l; l = l->next) EXPECT_EQ(l->rendering, nullptr);
      EXPECT_EQ(zvGetObjExtension(o, zvRenderBoundingBox), nullptr);
      EXPECT_TRUE(o->flags & ZV_OBJ_NOT_QUEUED);
      for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
    }
    ASSERT_EQ(zvRenderConstructWorldInViewer(world), ZV_OK) << sink.dump();
    EXPECT_NE(clumpOf(named("F")), nullptr);
  }
  // Deleting one object takes its renderer objects with it.
  int before = rwGetSceneClumpCount(rs()->scene);
  ASSERT_EQ(zvDeleteZvObj(named("L")), ZV_OK);
  EXPECT_EQ(rwGetSceneClumpCount(rs()->scene), before - 1);
}

TEST_F(RenderTest, AsciiTextLaysOutEveryLine) {
  // Glyphs of our own: 'A' one em wide, 'B' half an em, no space glyph.
  std::filesystem::create_directories(dir / "lib" / "fonts");
  std::ofstream(dir / "lib/fonts/065.rwx") << "clump tag 100\nv 0 0 0\nv 1 0 0\nv 1 1 0\np 1 2 3\nend\n";
  std::ofstream(dir / "lib/fonts/066.rwx") << "clump tag 50\nv 0 0 0\nv 0.5 0 0\nv 0.5 1 0\np 1 2 3\nend\n";
  static std::string programDir;
  programDir = dir.string();  // no trailing separator: one is added
  zvSceneHooks().programDirectory = [] { return programDir.c_str(); };
  ASSERT_READ("DEF T AsciiText { string [\"AB\", \"A?B\"] justification CENTER spacing 2 }\n"
              "DEF E AsciiText { string \"\" }\n");
  ZvObj* t = named("T");
  auto* text = static_cast<ZvText*>(t->leaf);
  // One clump a distinct glyph, in the order first used, scaled to the
  // font size and drawn at each place the text uses it.
  std::vector<RwClump*> glyphs = children(clumpOf(t));
  ASSERT_EQ(glyphs.size(), 2u);  // '?' has no glyph and only advances
  EXPECT_EQ(rwGetClumpTag(glyphs[0]), 100);
  EXPECT_EQ(rwGetClumpTag(glyphs[1]), 50);
  float size = text->font.size;
  RwMatrix m;
  ASSERT_TRUE(rwGetClumpMatrix(glyphs[0], &m));
  EXPECT_NEAR(m.m[0][0], size, 1e-4);
  EXPECT_NEAR(m.m[3][0], 0, 1e-6);
  auto expectPlaces = [](RwClump* g, std::vector<std::pair<float, float>> want) {
    ASSERT_EQ(rwGetClumpInstanceCount(g), int32_t(want.size()));
    for (int32_t i = 0; i < int32_t(want.size()); ++i) {
      RwV3d at{};
      EXPECT_TRUE(rwGetClumpInstance(g, i, &at));
      EXPECT_TRUE(std::fabs(at.x - want[i].first) < 1e-4 && std::fabs(at.y - want[i].second) < 1e-4)
          << i << ": " << at.x << "," << at.y;
    }
  };
  // Line one, 1.5 em wide, centred: A at -0.75 em, B after it. Line two:
  // A, ? (0.3 em), B = 1.8 em wide; B sits after 1.3 em, two ems down.
  expectPlaces(glyphs[0], {{-0.75f, 0}, {-0.9f, -2}});
  expectPlaces(glyphs[1], {{0.25f, 0}, {-0.9f + 1.3f, -2}});
  // The text's box covers every copy: both lines, in the glyphs' frame.
  RwV3d lo, hi;
  ASSERT_TRUE(rwGetClumpBounds(glyphs[0], &lo, &hi));
  EXPECT_TRUE(std::fabs(lo.x + 0.9f) < 1e-4 && std::fabs(hi.x - 0.25f) < 1e-4 && std::fabs(lo.y + 2) < 1e-4 &&
              std::fabs(hi.y - 1) < 1e-4)
      << lo.x << "," << lo.y << " " << hi.x << "," << hi.y;
  EXPECT_TRUE(children(clumpOf(named("E"))).empty());
  // A first character without a glyph cannot be drawn at all.
  static_cast<ZvText*>(t->leaf)->text[0] = 'Z';
  ASSERT_EQ(zvRenderDestroyPartInViewer(t), ZV_OK);
  EXPECT_EQ(zvRenderConstructPartInViewer(t), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvRwSetAsciiText() : cannot create ascii text"));
  EXPECT_EQ(t->leaf->rendering, nullptr);
}

// A two-sided shape gets a back-side copy that is picked as its front; a
// hidden one is built switched off.
TEST_F(RenderTest, SolidTwoSidedAndHiddenShapes) {
  ASSERT_READ("DEF S Sphere { }\nDEF C Cone { }");
  ZvObj* s = named("S");
  RwClump* c = clumpOf(s);
  int polygons = rwGetClumpPolygonCount(c);
  int32_t off = 0;
  ASSERT_EQ(zvSetObjAttribute(s, 14, &off), ZV_OK);  // through the model's hook
  std::vector<RwClump*> back = children(c);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(rwGetClumpPolygonCount(back[0]), polygons);
  EXPECT_FALSE(s->flags & ZV_OBJ_SOLID);
  ASSERT_EQ(zvRenderSetObjLeafMode(s, 0), ZV_OK);  // again: still one copy
  EXPECT_EQ(children(c).size(), 1u);
  ASSERT_EQ(zvRenderSetObjLeafMode(s, 1), ZV_OK);
  EXPECT_TRUE(children(c).empty());
  EXPECT_TRUE(s->flags & ZV_OBJ_SOLID);
  for (const char* name : {"S", "C"}) {
    ZvObj* o = named(name);
    ASSERT_EQ(zvRenderSetObjLeafMode(o, 0), ZV_OK);
    ZvLeaf* last = o->leaf;
    while (last->next) last = last->next;
    back = children(zvRenderGetLeafClump(last));
    ASSERT_EQ(back.size(), 1u) << name;
    EXPECT_EQ(zvRenderGetClumpLeaf(o, back[0]), last) << name;
  }
  ASSERT_EQ(zvRenderDestroyPartInViewer(s), ZV_OK);
  s->flags &= ~uint32_t(ZV_OBJ_VISIBLE);
  ASSERT_EQ(zvRenderConstructPartInViewer(s), ZV_OK);
  EXPECT_EQ(shown(s), RW_OFF);
}

}  // namespace
