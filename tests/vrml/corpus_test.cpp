// Worlds from the shared corpus through the real load path: every file must
// read without a crash, in time and without leaking, and a few of them must
// hold exactly what their text says they hold.
//
// The corpus is not part of this tree; without it these tests are skipped.
#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "tests/vrml/loadtest.h"

namespace {

namespace fs = std::filesystem;

// $QUILLMOOR_CORPUS, else the corpus beside the source tree.
fs::path corpusRoot() {
  if (const char* env = std::getenv("QUILLMOOR_CORPUS"); env && *env) return env;
  return qmtest::sourceDir() / ".." / "shared" / "corpus" / "vrml1";
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
bool isWorldFile(const fs::path& p) {
  const std::string name = p.filename().string();
  return endsWith(name, ".wrl") || endsWith(name, ".wrl.gz") || endsWith(name, ".wrz");
}

class CorpusTest : public qmtest::LoadTest {
 protected:
  void SetUp() override {
    LoadTest::SetUp();
    root = corpusRoot();
    if (!fs::is_directory(root)) GTEST_SKIP() << "no corpus at " << root << " (set QUILLMOOR_CORPUS)";
  }

  std::vector<fs::path> corpusFiles() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file() && isWorldFile(e.path())) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  fs::path root;
};

// Per file, also under the sanitizers: the slowest file, the .wrz, takes
// about 0.15 s in the release build and 0.5 s with them.
constexpr double kSecondsPerFile = 5.0;

TEST_F(CorpusTest, EveryFileReadsInTimeWithoutLeaks) {
  const std::vector<fs::path> files = corpusFiles();
  // The corpus as it stands: 177 worlds, of them one gzip file and one .wrz.
  ASSERT_GE(files.size(), 177u);
  auto count = [&](const char* suffix) {
    return std::count_if(files.begin(), files.end(), [&](const fs::path& p) { return endsWith(p.string(), suffix); });
  };
  EXPECT_GE(count(".wrl.gz"), 1);
  EXPECT_GE(count(".wrz"), 1);

  // Every file must read. Two hold nothing but nodes we do not know (a Fog,
  // a Background): they are worlds with nothing in them.
  const std::set<std::string> empty = {
      "castle-engine__castle-game/data/levels/gate/gate_fog.wrl",
      "castle-engine__castle-game/data/skies/cages/test.wrl",
  };
  for (const fs::path& file : files) {
    const std::string name = file.lexically_relative(root).generic_string();
    SCOPED_TRACE(name);
    sink.clear();
    const long before = memory.live();
    const auto start = std::chrono::steady_clock::now();
    int r;
    ZvWorld* world = load(file, &r);
    ZvWorldSummary summary;
    zvSummarizeWorld(world, &summary);
    drop(world);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_LT(seconds, kSecondsPerFile) << name;
    EXPECT_EQ(memory.live(), before) << name << ": blocks left behind by the world";
    EXPECT_EQ(r, ZV_OK) << name << " was not read; last report: " << sink.last();
    // A world that reads holds something, unless it is one of the two.
    if (r == ZV_OK) {
      EXPECT_EQ(summary.objects > 0, !empty.count(name)) << name;
    }
  }
}

// ---------------------------------------------------------------------------
// Hand counts. Each number below was counted from the file's text, not by
// running the reader; the comment above each case says how. The rules that
// turn text into numbers are the reader's:
// - every shape, light, camera, Group, Separator, Switch, LOD,
//   TransformSeparator and WWWInline node becomes one object, wherever it
//   stands (children of a Switch included, whichever is chosen);
// - each USE makes the used subtree's objects again;
// - a top-level Separator is dissolved: its children become top objects;
// - property, transform, Info and unknown nodes make no object;
// - a Cube is 6 face leaves, a Cone with parts ALL a side and a bottom, a
//   Cylinder with ALL a side, a top and a bottom; an IndexedFaceSet one face
//   leaf per face of coordIndex (the runs between -1s, plus an unterminated
//   last run), an IndexedLineSet one line leaf per polyline, a PointSet one
//   point-set leaf;
// - "shapes" are the objects made by shape nodes (Cube, Cone, Cylinder,
//   Sphere, IndexedFaceSet, IndexedLineSet, PointSet, AsciiText).
// The corpus holds no image files, so every texture named is missing.

struct Expected {
  int objects = -1, tops = -1, shapes = -1;
  std::map<int, int> leaves;  // by leaf type; types not listed must be 0
  int lights = 0, cameras = 0, inlines = 0;
  int texturesMissing = 0;
};

bool isShapeNode(int type) {
  for (int shape : {ZV_NODE_CUBE, ZV_NODE_CONE, ZV_NODE_CYLINDER, ZV_NODE_SPHERE, ZV_NODE_INDEXED_FACE_SET,
                    ZV_NODE_INDEXED_LINE_SET, ZV_NODE_POINT_SET, ZV_NODE_ASCII_TEXT})
    if (type == shape) return true;
  return false;
}

class CorpusCountTest : public CorpusTest {
 protected:
  void check(const char* relative, const Expected& want) {
    SCOPED_TRACE(relative);
    const fs::path file = root / relative;
    ASSERT_TRUE(fs::exists(file)) << file;
    int r;
    ZvWorld* world = load(file, &r);
    ASSERT_EQ(r, ZV_OK) << sink.last();
    ZvWorldSummary s;
    zvSummarizeWorld(world, &s);
    int tops = 0, shapes = 0;
    std::vector<ZvObj*> pending;
    for (ZvTopObjList* c = world->topObjects; c; c = c->next, ++tops) pending.push_back(c->object);
    while (!pending.empty()) {
      ZvObj* o = pending.back();
      pending.pop_back();
      shapes += isShapeNode(o->nodeType);
      for (ZvObjList* c = o->children; c; c = c->next) pending.push_back(c->object);
    }
    EXPECT_EQ(s.objects, want.objects);
    EXPECT_EQ(tops, want.tops);
    EXPECT_EQ(shapes, want.shapes);
    for (int type = 0; type < 23; ++type) {
      auto it = want.leaves.find(type);
      EXPECT_EQ(s.leaves[type], it == want.leaves.end() ? 0 : it->second) << "leaves of type " << type;
    }
    EXPECT_EQ(s.lights, want.lights);
    EXPECT_EQ(s.cameras, want.cameras);
    EXPECT_EQ(s.inlines, want.inlines);
    EXPECT_EQ(s.texturesFound, 0);
    EXPECT_EQ(s.texturesMissing, want.texturesMissing);
  }
};

// Lights and a camera, a Switch of DEF'd Groups, and USEs of them.
//   Group                                   1 top object
//     NavigationInfo                        unknown: nothing
//     PerspectiveCamera                     1 camera
//     Switch { LightPoint LightSpot LightDir Objects }
//     Separator { USE LightPoint, USE LightSpot, USE Objects }
//     Separator { USE LightDir, USE Objects }
//     Separator { USE LightPoint, USE LightSpot, USE LightDir, USE Objects }
// LightPoint = Group { Material Coordinate3 PointSet PointLight }: 3 objects
// LightSpot  = Group { Material Coordinate3 PointSet SpotLight }: 3 objects
// LightDir   = Group { DirectionalLight }: 2 objects
// Objects    = Group { Cylinder, Cube, Sphere, Cone, Sphere (+ Material,
//              Translations, Texture2s) }: 6 objects, 5 shapes
// Uses: LightPoint 3, LightSpot 3, LightDir 3, Objects 4.
// Objects: Group 1 + camera 1 + Switch (1+3+3+2+6=15) + Separators
//   (1+3+3+6=13, 1+2+6=9, 1+3+3+2+6=15) = 54.
// Shapes: 4 x 5 + 3 x 1 + 3 x 1 PointSets = 26.
// Leaves: 4 x Objects = 4 cylinder sides, tops and bottoms, 24 faces,
//   8 spheres, 4 cone sides and bottoms; 6 point sets; 3 point, 3 spot and
//   3 directional lights; 1 perspective camera.
// Texture: only "../../textures/bricks2.jpg" (Texture2 {} names none).
TEST_F(CorpusCountTest, LightsCameraAndSwitchOfGroups) {
  Expected e;
  e.objects = 54, e.tops = 1, e.shapes = 26;
  e.leaves = {{ZV_LEAF_CYLINDER_SIDE, 4}, {ZV_LEAF_CYLINDER_TOP, 4}, {ZV_LEAF_CYLINDER_BOTTOM, 4},
              {ZV_LEAF_FACE, 24},         {ZV_LEAF_SPHERE, 8},       {ZV_LEAF_CONE_SIDE, 4},
              {ZV_LEAF_CONE_BOTTOM, 4},   {ZV_LEAF_POINT_SET, 6},    {ZV_LEAF_POINT_LIGHT, 3},
              {ZV_LEAF_SPOT_LIGHT, 3},    {ZV_LEAF_DIRECTIONAL_LIGHT, 3}, {ZV_LEAF_PERSPECTIVE_CAMERA, 1}};
  e.lights = 9, e.cameras = 1, e.texturesMissing = 1;
  check("castle-engine__demo-models/lights_materials/vrml_1/lights.wrl", e);
}

// A Blender export: three IndexedFaceSets defined inside a Switch and used
// once more each from a second Separator; the top Separator around both is
// dissolved, so the Switch and the second Separator are the 2 top objects.
// Faces: in each coordIndex every row of the text ends in -1 and no index
// follows the last -1 (checked with awk counting "-1" tokens between
// "coordIndex [" and "]", textureCoordIndex excluded, and by line numbers):
//   Cube     lines 66-102: 37 faces (24 quads and 13 triangles)
//   Cube_001 lines 168-173: 6 faces
//   Sphere   lines 253-316: 64 faces
// Every index is below its Coordinate3's point count (33, 8 and 58).
// 107 faces per copy, two copies: 214 face leaves, 6 IFS objects.
// Objects: Switch 1 + 3 x (Separator + IFS) = 7; second Separator 1 +
//   3 x (Separator + used Separator + IFS) = 10; 17 in all.
// Texture: flask_wall.png, named once (unquoted) and reached by both copies.
TEST_F(CorpusCountTest, FaceSetsOfABlenderExport) {
  Expected e;
  e.objects = 17, e.tops = 2, e.shapes = 6;
  e.leaves = {{ZV_LEAF_FACE, 214}};
  e.texturesMissing = 1;
  check("castle-engine__castle-game/data/items/models/flask_red.wrl", e);
}

// Gzip-compressed (read as text with zcat): a Group of four Separators, each
// holding RenderBefore (defined in the first, used in the others) and one
// cone or cylinder; an ordinary Info at the end.
// RenderBefore = Group {
//   IndexedLineSet { coordIndex [ 0, 1 ] }             1 polyline
//   TransformSeparator { DEF Krzyzyk Separator {
//     IndexedLineSet { coordIndex [ 0, 1, -1, 2, 3, ] }  2 polylines
//     PointSet { } } }
//   TransformSeparator { USE Krzyzyk  FontStyle  AsciiText } }
// = 11 objects (Group, ILS, 2 TransformSeparators, 2 Krzyzyk Separators
//   with an ILS and a PointSet each, AsciiText), 6 shapes, 5 line leaves,
//   2 point sets, 1 text leaf.
// The four own shapes: Cylinder (SIDES|ALL): ALL gives side, top, bottom;
//   Cone BOTTOM: bottom; Cone (SIDES|BOTTOM): side, bottom;
//   Cylinder (TOP|BOTTOM): top, bottom.
// Objects: Group 1 + 4 x (Separator 1 + 11 + 1) = 53; shapes 4 x 6 + 4 = 28.
TEST_F(CorpusCountTest, GzipLineSetsAndParts) {
  Expected e;
  e.objects = 53, e.tops = 1, e.shapes = 28;
  e.leaves = {{ZV_LEAF_LINE_SET, 20},     {ZV_LEAF_POINT_SET, 8},     {ZV_LEAF_TEXT, 4},
              {ZV_LEAF_CYLINDER_SIDE, 1}, {ZV_LEAF_CYLINDER_TOP, 2},  {ZV_LEAF_CYLINDER_BOTTOM, 2},
              {ZV_LEAF_CONE_SIDE, 1},     {ZV_LEAF_CONE_BOTTOM, 2}};
  check("castle-engine__demo-models/vrml_1/cones_gzip_compressed.wrl.gz", e);
}

// Inlines, nested and relative. inline_test.wrl is (grep -n WWWInline:
// lines 10, 14, 17, 20, 23, 32, 34; lines 26-30 are a commented-out one)
//   Group { WWWInline kings_head, Separator { 4 x WWWInline kings_head },
//           WWWInline relative_names, WWWInline kings_head }
// kings_head.wrl = Group { Switch { DirectionalLight }, Texture2 crown.png,
//   Cylinder { parts SIDES }, Texture2 { }, Separator { Scale Sphere },
//   Separator { DEF KingsEye Separator { Sphere } },
//   Separator { USE KingsEye }, DEF KingsNose Separator { Sphere } }
//   = 14 objects, 5 shapes (1 cylinder side, 4 spheres), 1 light.
// relative_names.wrl = WWWInline subdir1/relative_inline2.wrl
//   = WWWInline subdir2/texture_test.wrl
// texture_test.wrl = Group { Separator { Texture2 test_texture.png, Cone,
//   Cylinder, Sphere, Separator { Cube }, IndexedFaceSet with one face
//   (coordIndex [0,1,2,3,4], no -1) }, Sphere }
//   = 9 objects, 6 shapes; cone side and bottom, cylinder side, top and
//   bottom, 2 spheres, 6 + 1 faces.
// Inline objects: 7 in inline_test, 1 in each of the two relays = 9.
// Objects: Group 1 + 6 x (inline 1 + 14) + Separator 1 + 3 inlines + 9 = 104.
// Textures: crown.png (one URL for all 6 copies) and test_texture.png.
TEST_F(CorpusCountTest, InlinesNestedAndRelative) {
  Expected e;
  e.objects = 104, e.tops = 1, e.shapes = 6 * 5 + 6;
  e.leaves = {{ZV_LEAF_CYLINDER_SIDE, 7}, {ZV_LEAF_CYLINDER_TOP, 1}, {ZV_LEAF_CYLINDER_BOTTOM, 1},
              {ZV_LEAF_CONE_SIDE, 1},     {ZV_LEAF_CONE_BOTTOM, 1},  {ZV_LEAF_SPHERE, 6 * 4 + 2},
              {ZV_LEAF_FACE, 7},          {ZV_LEAF_DIRECTIONAL_LIGHT, 6}};
  e.lights = 6, e.inlines = 9, e.texturesMissing = 2;
  check("castle-engine__demo-models/vrml_1/inline_test.wrl", e);
}

// An unknown node among known ones, and top Separators dissolved.
//   PointLight                                     top 1
//   Separator { MatrixTransform
//     Separator { Separator { Group { Coordinate3 Normal NormalBinding }
//                             IndexedTriangleMesh (unknown) } } }
//     -> its child Separator is top 2, holding a Separator holding an
//        empty Group: 3 objects
//   Material
//   Separator { Transform PerspectiveCamera }      -> the camera is top 3
//   Separator { Switch { DEF Plane Separator { Coordinate3 IndexedFaceSet } }
//               Separator { Separator { MatrixTransform USE Plane } } }
//     -> Switch (top 4: Switch, Plane, IFS = 3 objects) and Separator
//        (top 5: Separator, Separator, Plane, IFS = 4 objects)
// Plane's coordIndex: 5 rows, each ending in -1: 5 faces, 2 copies.
// Objects: 1 + 3 + 1 + 3 + 4 = 12.
TEST_F(CorpusCountTest, UnknownNodeSkippedAndTopSeparatorsDissolved) {
  Expected e;
  e.objects = 12, e.tops = 5, e.shapes = 2;
  e.leaves = {{ZV_LEAF_FACE, 10}, {ZV_LEAF_POINT_LIGHT, 1}, {ZV_LEAF_PERSPECTIVE_CAMERA, 1}};
  e.lights = 1, e.cameras = 1;
  check("castle-engine__demo-models/shadow_volumes/star.wrl", e);
}

}  // namespace
