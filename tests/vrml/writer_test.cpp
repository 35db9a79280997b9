// The VRML writer: hand-built scene trees against the exact text written.
#include <cstdio>
#include <string>

#include <unistd.h>

#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

class WriterTest : public qmtest::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    zvDumpHooks() = ZvDumpHooks{};
    ASSERT_EQ(zvNewUrlHash(ZV_URL_BUCKETS, &world->urlTable), ZV_OK);
    zvAddWorldExitHandler(world, [](ZvWorld* w) {
      zvDeleteUrlHash(w->urlTable);
      w->urlTable = nullptr;
    });
  }
  void TearDown() override {
    zvDumpHooks() = ZvDumpHooks{};
    TreeFixture::TearDown();
  }
  ZvObj* node(int type, ZvLeaf* leaf = nullptr, ZvObj* parent = nullptr, const char* name = nullptr) {
    ZvObj* o = make(leaf, parent, name);
    o->nodeType = type;
    return o;
  }
  ZvObj* sphere(ZvObj* parent) { return node(ZV_NODE_SPHERE, zvNewSphereLeaf(), parent); }
  static void at(ZvObj* o, float x, float y, float z) {
    const float t[3] = {x, y, z};
    ASSERT_EQ(zvObjectTranslate(o, t, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  }
  // A face through the given points; a cube's size is the extent of its faces.
  static ZvFace* face(std::initializer_list<ZvSFVec3f> points) {
    ZvFace* f = zvNewFaceLeaf();
    f->vertexCount = int32_t(points.size());
    f->vertices = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f) * points.size()));
    int i = 0;
    for (const ZvSFVec3f& p : points) f->vertices[i++] = p;
    return f;
  }
  static ZvFace* unitCubeFace() { return face({{-1, -1, -1}, {1, 1, 1}}); }
  ZvUrlHash* file(const char* url, const char* local) { return zvNewUrlHashEntry(world->urlTable, url, local, 0); }
  static std::string read(FILE* f) {
    std::string text;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
    std::fclose(f);
    return text;
  }
  // What the writer wrote for the object, or for the whole world.
  std::string text(ZvObj* o, int expect = ZV_OK) {
    FILE* f = std::tmpfile();
    EXPECT_EQ(o ? zvDumpZvObjToFile(o, f) : zvDumpWorldToFile(world, f), expect);
    return read(f);
  }
  static void setColors(ZvLeaf* leaf, int attribute, std::initializer_list<ZvSFColor> colors) {
    ZvMFColor c{int32_t(colors.size()), const_cast<ZvSFColor*>(colors.begin())};
    ASSERT_EQ(zvSetLeafMaterialColor(leaf, &c, attribute), ZV_OK);
  }
};

const char* const kHeader =
    "#VRML V1.0 ascii\n#\n# this file is generated from ZV objects.\n"
    "# Quillmoor VRML writer, Copyright (C) 1995,1996 Tarnwick Corporation.\n\n";

TEST_F(WriterTest, WorldSettingsThenTopObjectsButNotThePersonOrAuthoring) {
  world->title = zvStrdup("Demo \"one\"");
  world->viewerSpeed = 1.2f;
  world->ownedText = zvStrdup("host:1234");
  node(ZV_NODE_CUBE, unitCubeFace());
  world->person = node(ZV_NODE_SEPARATOR);
  sphere(world->person);
  ZvObj* authoring = node(ZV_NODE_SEPARATOR);
  node(ZV_NODE_PERSPECTIVE_CAMERA, zvNewPerspectiveCameraLeaf(), authoring, "ZvAuthoringCamera");
  std::string cube = "\t# S Cube\n\tMaterial{}\n\tCube{}\n\t# E Cube\n}\n";
  EXPECT_EQ(text(nullptr), std::string(kHeader) +
                             "Separator{\n"
                             "\tDEF Title Info{ string \"Demo \\\"one\\\"\" }\n"
                             "\tDEF ZvServer Info{ string \"host:1234\" }\n" + cube);

  world->viewerSpeed = 0.5f;
  world->background = {0.5f, 0, 0.25f};
  world->backgroundTexture = file("http://x/sky.gif", "/cache/sky.bmp");
  std::string path = "/tmp/qm-writer-" + std::to_string(::getpid()) + ".wrl";
  ASSERT_EQ(zvDumpWorld(world, path.c_str()), ZV_OK);
  EXPECT_EQ(read(std::fopen(path.c_str(), "rb")),
            std::string(kHeader) +
                "Separator{\n"
                "\tDEF Title Info{ string \"Demo \\\"one\\\"\" }\n"
                "\tDEF ViewerSpeed Info{ string \"0.500\" }\n"
                "\tDEF BackgroundColor Info{ string \"0.500 0.000 0.250\" }\n"
                "\tDEF BackgroundTexture Info{ string \"/cache/sky.bmp\" }\n"
                "\tDEF ZvServer Info{ string \"host:1234\" }\n" + cube);
  std::remove(path.c_str());

  EXPECT_EQ(zvDumpWorld(world, ""), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDumpWorld: filename is null."));
  EXPECT_EQ(zvDumpWorld(world, "/nonexistent-dir/x.wrl"), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvSFdumpFileOpen: cannot open the dump '/nonexistent-dir/x.wrl' file."));
}

TEST_F(WriterTest, TransformsAccumulatePerLevelAsTranslationAndSingleAxisRotation) {
  ZvObj* root = node(ZV_NODE_SEPARATOR);
  at(sphere(root), 1, 0, 0);
  ZvObj* turned = sphere(root);
  at(turned, 3, 0, 0);
  const float quarterY[9] = {0, 0, -1, 0, 1, 0, 1, 0, 0};
  ASSERT_EQ(zvObjectRotate(turned, quarterY, ZV_COORD_PARENT, ZV_TRANSFORM_SET), ZV_OK);
  ZvObj* inner = node(ZV_NODE_SEPARATOR, nullptr, root);
  at(inner, 3, 0, 0);
  at(sphere(inner), 1, 0, 0);  // a level of its own starts from nothing
  ZvObj* scaled = sphere(root);
  for (float& s : scaled->bcubeScale) s = 2;
  const std::string plain = "Material{}\n\tSphere{}\n\t# E Sphere\n";
  EXPECT_EQ(text(root),
            "# S Separator\nSeparator{\n"
            "\t# S Sphere\n\tTranslation{ translation 1.000 0.000 0.000 }\n\t" + plain +
            "\t# S Sphere\n\tTranslation{ translation 2.000 0.000 0.000 }\n"
            "\tRotation{ rotation 0 1 0 1.570796 }\n\t" + plain +
            "\t# S Separator\n\tRotation{ rotation 0 1 0 -1.570796 }\n\tSeparator{\n"
            "\t\t# S Sphere\n\t\tTranslation{ translation 1.000 0.000 0.000 }\n"
            "\t\tMaterial{}\n\t\tSphere{}\n\t\t# E Sphere\n\t}\n\t# E Separator\n"
            "\t# S Sphere\n\tTranslation{ translation -3.000 0.000 0.000 }\n"
            "\tScale{ scaleFactor 2.000 2.000 2.000 }\n\t" + plain +
            "}\n# E Separator\n");
}

TEST_F(WriterTest, ShapesWriteTheirNonDefaultFieldsAfterTextureAndMaterial) {
  ZvObj* root = node(ZV_NODE_GROUP);
  node(ZV_NODE_CONE, zvNewCone(ZV_PART_SIDES, 2, 2), root);
  node(ZV_NODE_CYLINDER, zvNewCylinder(ZV_PART_TOP | ZV_PART_BOTTOM, 1, 1, 3), root, "can");
  ZvSphere* ball = zvNewSphereLeaf();
  ball->radius = 0.5f;
  ball->texture.texture = file("wood.gif", "/cache/wood.bmp");
  ball->texture.wrapS = 1;
  setColors(ball, ZV_MAT_DIFFUSE, {{1, 0, 0}});
  node(ZV_NODE_SPHERE, ball, root, "my ball");
  ZvFace* box = face({{0, 0, 0}, {1, 2, 3}});
  setColors(box, ZV_MAT_DIFFUSE, {{1, 0.5f, 0}, {0.25f, 1, 10}});
  ZvMFFloat shine{1, new float[1]{0.5f}};
  ASSERT_EQ(zvSetLeafMaterialFloat(box, &shine, ZV_MAT_SHININESS), ZV_OK);
  delete[] shine.values;
  node(ZV_NODE_CUBE, box, root);
  EXPECT_EQ(text(root),
            "# S Group\nGroup{\n"
            "\t# S Cone\n\tMaterial{}\n\tCone{\n\t\tparts        SIDES\n\t\tbottomRadius 2.000\n\t}\n\t# E Cone\n"
            "\t# S Cylinder\n\tMaterial{}\n\tDEF can Cylinder{\n\t\tparts  ( TOP | BOTTOM )\n"
            "\t\theight  3.000\n\t}\n\t# E Cylinder\n"
            "\t# S Sphere\n\tTexture2{\n\t\tfilename  \"file:///cache/wood.bmp\"\n\t\twrapS     CLAMP\n\t}\n"
            "\tMaterial{\n\t\tdiffuseColor   [ 1 0 0 ]\n\t}\n"
            "\tDEF \"my ball\" Sphere{\n\t\tradius  0.500\n\t}\n\t# E Sphere\n"
            "\t# S Cube\n\tMaterial{\n"
            "\t\tdiffuseColor   [ 1.00 0.5  0,\n"
            "\t\t                 0.25 1.0 10 ]\n"
            "\t\tshininess      [ 0.5 ]\n\t}\n"
            "\tCube{\n\t\twidth   1.000\n\t\tdepth   3.000\n\t}\n\t# E Cube\n"
            "}\n# E Group\n");
}

TEST_F(WriterTest, LightsAndCamerasKeepTheirPlaceInTheTransforms) {
  ZvObj* root = node(ZV_NODE_GROUP);
  ZvLight* point = zvNewPointLight();
  point->on = 0;
  point->intensity = 0.5f;
  node(ZV_NODE_POINT_LIGHT, point, root);
  ZvSpotLight* spot = zvNewSpotLight();
  spot->color = {1, 0, 0};
  spot->dropOffRate = 0.25f;
  spot->cutOffAngle = 0.5f;
  node(ZV_NODE_SPOT_LIGHT, spot, root);
  node(ZV_NODE_DIRECTIONAL_LIGHT, zvNewDirectionalLight(), root);
  node(ZV_NODE_PERSPECTIVE_CAMERA, zvNewPerspectiveCameraLeaf(), root, "view");
  ZvCamera* ortho = zvNewOrthographicCameraLeaf();
  ortho->focalDistance = 10;
  ortho->height = 3;
  node(ZV_NODE_ORTHOGRAPHIC_CAMERA, ortho, root);
  const std::string location = "\t\tlocation    0 0 0 # CAUTION! It's different from the VRML default.\n";
  const std::string position =
      "\t\tposition      0 0 0 # CAUTION! It's different from the VRML default.\n"
      "\t\t# 'orientation' is realized above.\n";
  EXPECT_EQ(text(root),
            "# S Group\nGroup{\n"
            "\t# S PointLight\n\tPointLight{\n\t\ton           FALSE\n\t\tintensity    0.500\n" + location +
            "\t}\n\t# E PointLight\n"
            "\t# S SpotLight\n\tSpotLight{\n\t\tcolor        1.000 0.000 0.000\n" + location +
            "\t\tdropOffRate  0.250000\n\t\tcutOffAngle  0.500000\n\t}\n\t# E SpotLight\n"
            "\t# S DirectionalLight\n\tDirectionalLight{\n"
            "\t\t# 'direction' is realized by MatrixTransform above.\n\t}\n\t# E DirectionalLight\n"
            "\t# S PerspectiveCamera\n\tDEF view PerspectiveCamera{\n" + position +
            "\t}\n\t# E PerspectiveCamera\n"
            "\t# S OrthographicCamera\n\tOrthographicCamera{\n" + position +
            "\t\tfocalDistance  10.000\n\t\theight         3.000\n\t}\n\t# E OrthographicCamera\n"
            "}\n# E Group\n");
}

TEST_F(WriterTest, FaceAndLineSetsWriteCoordinatesBindingsAndIndices) {
  ZvFace* lower = face({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  ZvFace* upper = face({{1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  ZvObj* faces = node(ZV_NODE_INDEXED_FACE_SET, lower);
  ASSERT_EQ(zvAttachLeaf(faces, upper), ZV_OK);
  EXPECT_EQ(text(faces),
            "# S IndexedFaceSet\n"
            "Coordinate3{\n\tpoint [ 0 0 0,\n\t        1 0 0,\n\t        0 1 0,\n"
            "\t        1 0 0,\n\t        1 1 0,\n\t        0 1 0 ]\n}\n"
            "NormalBinding{}\nMaterial{}\nMaterialBinding{}\n"
            "IndexedFaceSet{\n\tcoordIndex [\n\t\t0, 1, 2, -1,\n\t\t3, 4, 5, -1 ]\n}\n"
            "# E IndexedFaceSet\n");

  // One material and one normal per face, the lower one facing away from
  // where its vertices would put it.
  setColors(lower, ZV_MAT_DIFFUSE, {{1, 0, 0}});
  setColors(upper, ZV_MAT_DIFFUSE, {{0, 1, 0}});
  lower->texture.materialBinding = upper->texture.materialBinding = 5;
  lower->normalBinding = upper->normalBinding = 5;
  lower->normalCount = 1;
  lower->normals = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f)));
  *lower->normals = {0, 0, -1};
  std::string perFace = text(faces);
  EXPECT_NE(perFace.find("Normal{\n\tvector [ 0 0 -1,\n\t         0 0  1 ]\n}\n"
                         "NormalBinding{\n\tvalue  PER_FACE\n}\n"
                         "Material{\n\tdiffuseColor   [ 1 0 0,\n\t                 0 1 0 ]\n}\n"
                         "MaterialBinding{\n\tvalue  PER_FACE\n}\n"),
            std::string::npos)
      << perFace;

  ZvLineSet* line = zvNewLineSetLeaf();
  line->pointCount = 3;
  line->points = static_cast<ZvSFVec3f*>(zvMalloc(3 * sizeof(ZvSFVec3f)));
  line->points[1] = {1, 0, 0};
  line->points[2] = {1, 1, 0};
  EXPECT_EQ(text(node(ZV_NODE_INDEXED_LINE_SET, line)),
            "# S IndexedLineSet\n"
            "Coordinate3{\n\tpoint [ 0 0 0,\n\t        1 0 0,\n\t        1 1 0 ]\n}\n"
            "Material{}\nMaterialBinding{}\n"
            "IndexedLineSet{\n\tcoordIndex        [\n\t\t0, 1, 2, -1 ]\n\tmaterialIndex      0\n}\n"
            "# E IndexedLineSet\n");
}

TEST_F(WriterTest, GroupingNodesWriteTheirChildrenInsideTheBraces) {
  ZvObj* root = node(ZV_NODE_GROUP);
  ZvObj* choice = node(ZV_NODE_SWITCH, nullptr, root);
  auto* which = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
  *which = 1;
  ASSERT_EQ(zvRegisterObjExtension(choice, zvSwitchWhichChild, which), ZV_OK);
  sphere(choice);
  sphere(choice);
  ZvObj* lod = node(ZV_NODE_LOD, nullptr, root);
  auto* ranges = static_cast<ZvLOD*>(zvMalloc(sizeof(ZvLOD)));
  *ranges = {2, static_cast<float*>(zvMalloc(2 * sizeof(float))), {0, 1, 0}};
  ranges->ranges[0] = 10;
  ranges->ranges[1] = 20;
  ASSERT_EQ(zvRegisterObjExtension(lod, zvLODNode, ranges), ZV_OK);
  sphere(lod);
  ZvObj* inlined = node(ZV_NODE_WWW_INLINE, nullptr, root);
  ASSERT_EQ(zvRegisterObjExtension(inlined, zvWWWInline, file("http://x/in.wrl", nullptr)), ZV_OK);
  node(ZV_NODE_CUBE, unitCubeFace(), inlined);
  ZvObj* anchor = node(ZV_NODE_WWW_ANCHOR, nullptr, root);
  ASSERT_EQ(zvRegisterObjExtension(anchor, zvWWWAnchor, file("http://x/next.wrl", nullptr)), ZV_OK);
  // A Group shares its level with its siblings; its children, kept relative
  // to it, are written in the level's frame.
  ZvObj* group = node(ZV_NODE_GROUP, nullptr, root);
  at(group, 1, 0, 0);
  at(sphere(group), 1, 0, 0);
  sphere(root);
  const std::string ball = "Material{}\n\t\tSphere{}\n\t\t# E Sphere\n";
  EXPECT_EQ(text(root),
            "# S Group\nGroup{\n"
            "\t# S Switch\n\tSwitch{\n\t\twhichChild 1\n"
            "\t\t# S Sphere\n\t\t" + ball + "\t\t# S Sphere\n\t\t" + ball + "\t}\n\t# E Switch\n"
            "\t# S LOD\n\tLOD{\n\t\trange  [10.000,\n\t\t        20.000]\n\t\tcenter 0.000 1.000 0.000\n"
            "\t\t# S Sphere\n\t\t" + ball + "\t}\n\t# E LOD\n"
            "\t# S WWWInline\n\tWWWInline{\n\t\tname \"http://x/in.wrl\"\n"
            "\t\t# 'bboxSize'   is unsupported yet.\n\t\t# 'bboxCenter' is unsupported yet.\n"
            "\t\t# S Cube\n\t\tMaterial{}\n\t\tCube{}\n\t\t# E Cube\n\t}\n\t# E WWWInline\n"
            "\t# S WWWAnchor\n\tWWWAnchor{\n\t\tname \"http://x/next.wrl\"\n\t}\n\t# E WWWAnchor\n"
            "\t# S Group\n\tTranslation{ translation 1.000 0.000 0.000 }\n\tGroup{\n"
            "\t\t# S Sphere\n\t\tTranslation{ translation 1.000 0.000 0.000 }\n\t\t" + ball + "\t}\n\t# E Group\n"
            "\t# S Sphere\n\tTranslation{ translation -2.000 0.000 0.000 }\n"
            "\tMaterial{}\n\tSphere{}\n\t# E Sphere\n"
            "}\n# E Group\n");
}

// The behaviour layer's handlers and tasks, as it would hand them over.
ZvUrlHash* scriptFile = nullptr;
void handlers(ZvObj*, ZvDumpHandlerSink sink, void* arg) {
  const ZvDumpHandler list[] = {
      {scriptFile, 0x1 | 0x2, "u", "f", 1, "door"},
      {nullptr, 0x1f8 | 0x10000, "v", "g", 0, nullptr},
      {nullptr, 0x150, "native", nullptr, 4, nullptr},  // not written
      {nullptr, 0x150 | 0x1, "w", "h", 2, ""},
      {nullptr, 0x8 | 0x4000, "x", "k", 7, nullptr},
  };
  for (const ZvDumpHandler& h : list) sink(&h, arg);
}
void tasks(ZvObj*, ZvDumpTaskSink sink, void* arg) {
  const ZvDumpTask list[] = {{1, scriptFile, 100, "p", "tick", 1}, {0, nullptr, 50, "t", nullptr, 4}};
  for (const ZvDumpTask& t : list) sink(&t, arg);
}

TEST_F(WriterTest, BehavioursComeFirstWithEventGroupsNamed) {
  scriptFile = file("a.tcl", "/s/a.tcl");
  zvDumpHooks().eachHandler = handlers;
  zvDumpHooks().eachTask = tasks;
  ZvSphere* leaf = zvNewSphereLeaf();
  leaf->flags = 0;
  ZvObj* o = node(ZV_NODE_SPHERE, leaf);
  o->strings[ZV_STR_COMMENT] = zvStrdup("hello");
  o->flags &= ~uint32_t(ZV_OBJ_COLLISION);
  auto* script = static_cast<ZvScript*>(zvMalloc(sizeof(ZvScript)));
  script->text = zvStrdup("proc a {} {}");
  ASSERT_EQ(zvRegisterObjExtension(o, zvScriptNode, script), ZV_OK);
  EXPECT_EQ(text(o, ZV_FAIL),
            "# S Sphere\n"
            "Script{\n\tprocedure  \"proc a {} {}\"\n\tscriptType TCL\n}\n"
            "Attributes{\n\tcomment   \"hello\"\n\tcollision FALSE\n\tmobile    FALSE\n"
            "\tbackface  FALSE\n\tgouraud   FALSE\n}\n"
            "EventHandler{\n\tfilename    \"file:///s/a.tcl\"\n\teventType  KEY\n\tuserData   \"u\"\n"
            "\tfunction   \"f\"\n\tscriptType TCL\n\tactionObject \"door\"\n}\n"
            "EventHandler{\n\teventType  ( BUTTON | PICK )\n\tuserData   \"v\"\n\tfunction   \"g\"\n"
            "\tscriptType PYTHON\n}\n"
            "EventHandler{\n\teventType  ( BUTTON_DOWN | KEY_DOWN )\n\tuserData   \"w\"\n\tfunction   \"h\"\n"
            "\tscriptType JAVA\n}\n"
            "EventHandler{\n\teventType  ( LEFT_BUTTON_UP | FRAME )\n\tuserData   \"x\"\n\tfunction   \"k\"\n}\n"
            "SporadicTask{\n\tmillisecond 50\n\tuserData    \"t\"\n\tscriptType  C\n\t# 'function' is CB.\n}\n"
            "PeriodicTask{\n\tfilename    \"file:///s/a.tcl\"\n\tmillisecond 100\n\tuserData    \"p\"\n"
            "\tscriptType  TCL\n\tfunction    \"tick\"\n}\n"
            "Material{}\nSphere{}\n# E Sphere\n");
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDumpScript(): unknwon script type."));
}

// Movies and sounds live in the media layer, which describes them.
ZvUrlHash* mediaFile = nullptr;
int movieOf(ZvMovie*, ZvDumpMovie* out) {
  *out = {mediaFile, 0, 4.0f, 64, 128, "hum.wav"};
  return 0;
}
int soundOf(ZvLeaf*, ZvDumpSound* out) {
  *out = {mediaFile, {0, 0, 0}, {0, 1, 0}, 1, 0};
  return 0;
}

TEST_F(WriterTest, MoviesMasksAndSoundsAreWrittenFromWhatTheirLayersTell) {
  mediaFile = file("clip.avi", "/cache/clip.avi");
  ZvObj* root = node(ZV_NODE_GROUP);
  ZvShape* screen = zvNewSphereLeaf();
  static int movie;
  screen->texture.movie = reinterpret_cast<ZvMovie*>(&movie);
  node(ZV_NODE_SPHERE, screen, root);
  ZvLeaf* masked = zvNewCone(ZV_PART_ALL, 1, 2);
  static_cast<ZvShape*>(masked)->texture.texture = file("a.gif", "/c/a.bmp");
  static_cast<ZvShape*>(masked)->texture.mask = file("m.gif", "/c/m.bmp");
  static_cast<ZvShape*>(masked)->texture.wrapT = 1;
  node(ZV_NODE_CONE, masked, root);
  ZvObj* speaker = node(ZV_NODE_AMBIENT_SOUND, nullptr, root);
  ASSERT_EQ(zvAttachLeaf(speaker, zvNewSoundLeaf()), ZV_OK);  // freed with its object
  const std::string before = text(root, ZV_FAIL);  // no media layer yet
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDumpZvObj(): the sound of 'AmbientSound' cannot be read."));
  EXPECT_EQ(before.find("Movie2"), std::string::npos);
  zvDumpHooks().movieOf = movieOf;
  zvDumpHooks().soundOf = soundOf;
  EXPECT_EQ(text(root),
            "# S Group\nGroup{\n"
            "\t# S Sphere\n\tMovie2{\n\t\tfilename  \"file:///cache/clip.avi\"\n\t\tautoPlay FALSE\n"
            "\t\toption   \"width 64, sound\\\"hum.wav\\\"\"\n\t}\n\tMaterial{}\n\tSphere{}\n\t# E Sphere\n"
            "\t# S Cone\n\tTransparentTexture2{\n\t\tfilename      \"file:///c/a.bmp\"\n"
            "\t\tmaskFilename  \"file:///c/m.bmp\"\n\t\twrapT        CLAMP\n\t}\n\tMaterial{}\n\tCone{}\n\t# E Cone\n"
            "\t# S AmbientSound\n\tAmbientSound{\n\t\tfilename   \"file:///cache/clip.avi\"\n"
            "\t\tbboxCenter 0.000 1.000 0.000\n\t\tloop       FALSE\n\t}\n\t# E AmbientSound\n"
            "}\n# E Group\n");
}

TEST_F(WriterTest, BadInputIsReportedAndTheRestStillWritten) {
  double d = 0;
  EXPECT_EQ(zvDumpFloat2Double(0.1f, &d), ZV_OK);
  EXPECT_EQ(d, 0.1);
  EXPECT_EQ(zvDumpFloat2Double(0.1f, nullptr), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "zvDumpFloat2Double(): argument pointer to QvTdouble is null."));
  EXPECT_EQ(zvDumpZvObj(nullptr), ZV_FAIL);
  EXPECT_EQ(zvDumpWorldToFile(nullptr, stdout), ZV_FAIL);

  ZvObj* root = node(ZV_NODE_GROUP);
  node(37, nullptr, root);  // AsciiText
  node(ZV_NODE_NONE, nullptr, root);
  ZvObj* odd = sphere(root);
  ASSERT_EQ(zvAttachLeaf(odd, zvNewPointLight()), ZV_OK);
  ZvSphere* far = zvNewSphereLeaf();
  far->texture.texture = file("http://x/unfetched.gif", nullptr);
  node(ZV_NODE_SPHERE, far, root);
  // A child list that leads back to the root must not write for ever.
  ZvObj* inner = node(ZV_NODE_GROUP, nullptr, root);
  auto* loop = static_cast<ZvObjList*>(zvMalloc(sizeof(ZvObjList)));
  loop->object = root;
  inner->children = loop;
  std::string written = text(root, ZV_FAIL);
  inner->children = nullptr;
  zvFree(loop);
  EXPECT_EQ(written.find("AsciiText"), std::string::npos);
  EXPECT_NE(written.find("\tSphere{}\n\t# E Sphere\n\t# S Sphere\n\tTexture2{}\n"), std::string::npos) << written;
  EXPECT_EQ(written.substr(written.size() - 12), "}\n# E Group\n");
  for (const char* message :
       {"zvDumpZvObj(): 'AsciiText' is non-supported ZvObj type.",
        "zvDumpZvObj(): No output is done for zvNULLVRMLType.", "zvDumpZvObj(): 'Sphere' carries a leaf of type 14.",
        "dumpAbs2UrlOfFileName(): zvGetLocalFile() failed.", "the object tree loops"})
    EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, message)) << message;

  // Out of a dump there is no level to keep transforms in, and no file.
  EXPECT_EQ(zvDumpZvObj(odd), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "dumpIsRT(): stack RT data is empty."));
  memory.failAfter(0);
  text(odd, ZV_FAIL);
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "dumpPushRT(): Couldn't allocate memory for STACKRT."));
}

}  // namespace
