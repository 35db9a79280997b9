// Worlds of our own read, written out and read again: the second world must
// be the first one, object for object and leaf for leaf, within what the
// writer prints (three decimals, six for angles). The worlds in tests/data
// keep to what the writer is meant to carry over; what it drops by design
// (text, two-axis turns, most world settings) is left out of them.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/testsupport.h"
#include "vrml/vrml.h"
#include "vrml/vrml.h"
#include "www/www.h"

namespace {

namespace fs = std::filesystem;

fs::path dataDir() {
  fs::path source;
  if (const char* env = std::getenv("QUILLMOOR_SOURCE_DIR"); env && *env)
    source = env;
  else
    source = fs::path(__FILE__).parent_path().parent_path().parent_path();
  return source / "tests" / "data";
}

// Values the writer printed come back within the printed precision; our
// worlds use numbers that print exactly, so float noise is all that is left.
bool near(double a, double b) {
  return std::fabs(a - b) <= 1e-4 * std::fmax(1.0, std::fmax(std::fabs(a), std::fabs(b)));
}

std::string nameOf(const ZvObj* o) {
  const char* type = zvNodeTypeName(o->nodeType);
  std::string s = type ? type : "?";
  if (o->strings[ZV_STR_NAME] && *o->strings[ZV_STR_NAME]) s += " \"" + std::string(o->strings[ZV_STR_NAME]) + "\"";
  return s;
}

std::vector<ZvObj*> childrenOf(const ZvObj* o) {
  std::vector<ZvObj*> out;
  for (ZvObjList* c = o->children; c; c = c->next) out.push_back(c->object);
  return out;
}

std::vector<ZvLeaf*> leavesOf(const ZvObj* o) {
  std::vector<ZvLeaf*> out;
  for (ZvLeaf* l = o->leaf; l; l = l->next) out.push_back(l);
  return out;
}

// Compares two worlds and records every difference, each with the path of
// the object it was found at.
class Compare {
 public:
  std::vector<std::string> differences;

  void worlds(ZvWorld* a, ZvWorld* b) {
    text("title", a->title, b->title);
    number("viewer speed", a->viewerSpeed, b->viewerSpeed);
    number("background r", a->background.r, b->background.r);
    number("background g", a->background.g, b->background.g);
    number("background b", a->background.b, b->background.b);
    text("server", a->ownedText, b->ownedText);
    if (!a->backgroundTexture != !b->backgroundTexture) {
      differ("background texture", a->backgroundTexture ? "set" : "none", b->backgroundTexture ? "set" : "none");
    } else if (a->backgroundTexture) {
      std::string fa = orEmpty(zvGetLocalFile(a->backgroundTexture)), fb = orEmpty(zvGetLocalFile(b->backgroundTexture));
      text("background texture file", fa.c_str(), fb.c_str());
    }
    std::vector<ZvObj*> ta, tb;
    for (ZvTopObjList* c = a->topObjects; c; c = c->next) ta.push_back(c->object);
    for (ZvTopObjList* c = b->topObjects; c; c = c->next) tb.push_back(c->object);
    list("", ta, tb);
  }

 private:
  std::string where;

  static std::string orEmpty(const char* s) { return s ? s : ""; }
  void differ(const std::string& what, const std::string& a, const std::string& b) {
    differences.push_back((where.empty() ? "world" : where) + ": " + what + ": " + a + " != " + b);
  }
  void text(const std::string& what, const char* a, const char* b) {
    if (orEmpty(a) != orEmpty(b)) differ(what, "\"" + orEmpty(a) + "\"", "\"" + orEmpty(b) + "\"");
  }
  void number(const std::string& what, double a, double b) {
    if (!near(a, b)) differ(what, std::to_string(a), std::to_string(b));
  }
  void integer(const std::string& what, long a, long b) {
    if (a != b) differ(what, std::to_string(a), std::to_string(b));
  }
  void vec3(const std::string& what, const ZvSFVec3f& a, const ZvSFVec3f& b) {
    number(what + ".x", a.x, b.x);
    number(what + ".y", a.y, b.y);
    number(what + ".z", a.z, b.z);
  }

  void list(const std::string& parent, const std::vector<ZvObj*>& a, const std::vector<ZvObj*>& b) {
    where = parent;
    integer("objects", long(a.size()), long(b.size()));
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) object(parent + "/" + std::to_string(i) + ":" + nameOf(a[i]), a[i], b[i]);
  }

  void object(const std::string& path, ZvObj* a, ZvObj* b) {
    where = path;
    if (a->nodeType != b->nodeType) {
      differ("node type", nameOf(a), nameOf(b));
      return;
    }
    text("name", a->strings[ZV_STR_NAME], b->strings[ZV_STR_NAME]);
    const uint32_t kAttributes = ZV_OBJ_VISIBLE | ZV_OBJ_GRASP | ZV_OBJ_SOLID | ZV_OBJ_COLLISION | ZV_OBJ_MOBILE;
    integer("attribute flags", a->flags & kAttributes, b->flags & kAttributes);
    for (int i = 0; i < 3; ++i) number("scale[" + std::to_string(i) + "]", a->bcubeScale[i], b->bcubeScale[i]);
    const ZvTransform* wa = zvGetObjectWRT(a);
    const ZvTransform* wb = zvGetObjectWRT(b);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c)
        number("world transform[" + std::to_string(r) + "][" + std::to_string(c) + "]", wa->m[r][c], wb->m[r][c]);
    extensions(a, b);

    std::vector<ZvLeaf*> la = leavesOf(a), lb = leavesOf(b);
    integer("leaves", long(la.size()), long(lb.size()));
    for (size_t i = 0; i < la.size() && i < lb.size(); ++i) {
      where = path + " leaf " + std::to_string(i);
      if (la[i]->type != lb[i]->type) {
        integer("leaf type", la[i]->type, lb[i]->type);
        continue;
      }
      leaf(la[i], lb[i]);
    }
    list(path, childrenOf(a), childrenOf(b));
  }

  void extensions(ZvObj* a, ZvObj* b) {
    auto* wa = static_cast<int32_t*>(zvGetObjExtension(a, zvSwitchWhichChild));
    auto* wb = static_cast<int32_t*>(zvGetObjExtension(b, zvSwitchWhichChild));
    integer("which child", wa ? *wa : -100, wb ? *wb : -100);
    auto* da = static_cast<ZvLOD*>(zvGetObjExtension(a, zvLODNode));
    auto* db = static_cast<ZvLOD*>(zvGetObjExtension(b, zvLODNode));
    if (!da != !db) {
      differ("LOD record", da ? "set" : "none", db ? "set" : "none");
    } else if (da) {
      integer("LOD ranges", da->rangeCount, db->rangeCount);
      for (int i = 0; i < da->rangeCount && i < db->rangeCount; ++i)
        number("LOD range " + std::to_string(i), da->ranges[i], db->ranges[i]);
      for (int i = 0; i < 3; ++i) number("LOD center " + std::to_string(i), da->center[i], db->center[i]);
    }
  }

  void colors(const std::string& what, const ZvMFColor& a, const ZvMFColor& b) {
    integer(what + " count", a.count, b.count);
    for (int i = 0; i < a.count && i < b.count; ++i) {
      const std::string at = what + "[" + std::to_string(i) + "]";
      number(at + ".r", a.values[i].r, b.values[i].r);
      number(at + ".g", a.values[i].g, b.values[i].g);
      number(at + ".b", a.values[i].b, b.values[i].b);
    }
  }
  void floats(const std::string& what, const ZvMFFloat& a, const ZvMFFloat& b) {
    integer(what + " count", a.count, b.count);
    for (int i = 0; i < a.count && i < b.count; ++i)
      number(what + "[" + std::to_string(i) + "]", a.values[i], b.values[i]);
  }
  void points(const std::string& what, int na, const ZvSFVec3f* a, int nb, const ZvSFVec3f* b) {
    integer(what + " count", na, nb);
    for (int i = 0; i < na && i < nb; ++i) vec3(what + "[" + std::to_string(i) + "]", a[i], b[i]);
  }

  void shape(const ZvShape* a, const ZvShape* b) {
    integer("shape flags", a->flags & (ZV_LEAF_GOURAUD | ZV_LEAF_BACKFACE), b->flags & (ZV_LEAF_GOURAUD | ZV_LEAF_BACKFACE));
    colors("ambient", a->material.ambient, b->material.ambient);
    colors("diffuse", a->material.diffuse, b->material.diffuse);
    colors("specular", a->material.specular, b->material.specular);
    colors("emissive", a->material.emissive, b->material.emissive);
    floats("shininess", a->material.shininess, b->material.shininess);
    floats("transparency", a->material.transparency, b->material.transparency);
    integer("material binding", a->texture.materialBinding, b->texture.materialBinding);
    integer("texture", a->texture.texture != nullptr, b->texture.texture != nullptr);
    integer("uv count", a->texture.uvCount, b->texture.uvCount);
    for (int i = 0; i < a->texture.uvCount && i < b->texture.uvCount; ++i) {
      number("uv[" + std::to_string(i) + "].u", a->texture.uv[i].x, b->texture.uv[i].x);
      number("uv[" + std::to_string(i) + "].v", a->texture.uv[i].y, b->texture.uv[i].y);
    }
  }

  void leaf(const ZvLeaf* a, const ZvLeaf* b) {
    if (zvIsShapeLeaf(a)) shape(static_cast<const ZvShape*>(a), static_cast<const ZvShape*>(b));
    switch (a->type) {
      case ZV_LEAF_SPHERE:
        number("radius", static_cast<const ZvSphere*>(a)->radius, static_cast<const ZvSphere*>(b)->radius);
        break;
      case ZV_LEAF_CONE_SIDE: {
        auto *ca = static_cast<const ZvConeSide*>(a), *cb = static_cast<const ZvConeSide*>(b);
        number("bottom radius", ca->bottomRadius, cb->bottomRadius);
        number("height", ca->height, cb->height);
        break;
      }
      case ZV_LEAF_CONE_BOTTOM: case ZV_LEAF_CYLINDER_TOP: case ZV_LEAF_CYLINDER_BOTTOM: case ZV_LEAF_CIRCLE: {
        auto *ca = static_cast<const ZvCircle*>(a), *cb = static_cast<const ZvCircle*>(b);
        number("radius", ca->radius, cb->radius);
        number("height", ca->height, cb->height);
        break;
      }
      case ZV_LEAF_CYLINDER_SIDE: {
        auto *ca = static_cast<const ZvCylinderSide*>(a), *cb = static_cast<const ZvCylinderSide*>(b);
        number("top radius", ca->topRadius, cb->topRadius);
        number("bottom radius", ca->bottomRadius, cb->bottomRadius);
        number("height", ca->height, cb->height);
        break;
      }
      case ZV_LEAF_FACE: {
        auto *fa = static_cast<const ZvFace*>(a), *fb = static_cast<const ZvFace*>(b);
        points("vertices", fa->vertexCount, fa->vertices, fb->vertexCount, fb->vertices);
        points("normals", fa->normalCount, fa->normals, fb->normalCount, fb->normals);
        integer("normal binding", fa->normalBinding, fb->normalBinding);
        break;
      }
      case ZV_LEAF_LINE_SET: {
        auto *sa = static_cast<const ZvLineSet*>(a), *sb = static_cast<const ZvLineSet*>(b);
        points("points", sa->pointCount, sa->points, sb->pointCount, sb->points);
        break;
      }
      case ZV_LEAF_SPOT_LIGHT: {
        auto *sa = static_cast<const ZvSpotLight*>(a), *sb = static_cast<const ZvSpotLight*>(b);
        number("drop-off rate", sa->dropOffRate, sb->dropOffRate);
        number("cut-off angle", sa->cutOffAngle, sb->cutOffAngle);
      }
        [[fallthrough]];
      case ZV_LEAF_POINT_LIGHT: case ZV_LEAF_DIRECTIONAL_LIGHT: {
        auto *la = static_cast<const ZvLight*>(a), *lb = static_cast<const ZvLight*>(b);
        integer("on", la->on, lb->on);
        number("intensity", la->intensity, lb->intensity);
        number("color.r", la->color.r, lb->color.r);
        number("color.g", la->color.g, lb->color.g);
        number("color.b", la->color.b, lb->color.b);
        break;
      }
      case ZV_LEAF_ORTHOGRAPHIC_CAMERA: case ZV_LEAF_PERSPECTIVE_CAMERA: {
        auto *ca = static_cast<const ZvCamera*>(a), *cb = static_cast<const ZvCamera*>(b);
        number("focal distance", ca->focalDistance, cb->focalDistance);
        number("height", ca->height, cb->height);
        break;
      }
      default:
        differ("leaf of a type these worlds do not hold", std::to_string(a->type), "");
    }
  }
};

class RoundTripTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    qmtest::SceneTest::SetUp();
    dir = fs::temp_directory_path() / ("qm-roundtrip-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    if (const char* old = std::getenv("XDG_CACHE_HOME")) savedCache = old, hadCache = true;
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    zvWwwInstallHooks();
    zvVrmlInstallHooks();
    zvReaderHooks() = ZvReaderHooks{};
    zvDumpHooks() = ZvDumpHooks{};
  }
  void TearDown() override {
    zvSetCurrentWorld(nullptr);
    for (ZvWorld* w : {first, second}) {
      if (w) {
        EXPECT_EQ(zvDeleteWorld(w), ZV_OK);
      }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    if (hadCache)
      setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
    else
      unsetenv("XDG_CACHE_HOME");
    qmtest::SceneTest::TearDown();
  }

  ZvWorld* read(const fs::path& file) {
    ZvWorld* w = zvNewWorld(zvPathToFileUrl(file.c_str()));
    if (!w) return nullptr;
    zvSetCurrentWorld(w);
    if (zvConstructWorld(file.c_str(), w) != ZV_OK) {
      ADD_FAILURE() << file << " was not read: " << sink.dump();
      zvSetCurrentWorld(nullptr);
      zvDeleteWorld(w);
      return nullptr;
    }
    return w;
  }

  // Reads the world, writes it, reads what was written, and compares.
  void roundTrip(const std::string& name) {
    const fs::path source = dataDir() / name;
    ASSERT_TRUE(fs::exists(source)) << source;
    first = read(source);
    ASSERT_NE(first, nullptr);
    ASSERT_GT(first->topObjectCount, 0) << "nothing to compare in " << name;
    const fs::path written = dir / name;
    sink.clear();
    ASSERT_EQ(zvDumpWorld(first, written.c_str()), ZV_OK) << sink.dump();
    // Nothing in our worlds should make the writer complain.
    EXPECT_EQ(sink.count(ZV_DEBUG_WARNING), 0) << sink.dump();
    std::ifstream in(written);
    std::stringstream text;
    text << in.rdbuf();
    second = read(written);
    ASSERT_NE(second, nullptr) << text.str();
    Compare compare;
    compare.worlds(first, second);
    std::string all;
    for (const std::string& d : compare.differences) all += "  " + d + "\n";
    EXPECT_TRUE(compare.differences.empty()) << compare.differences.size() << " differences:\n"
                                             << all << "written:\n"
                                             << text.str();
  }

  fs::path dir;
  std::string savedCache;
  bool hadCache = false;
  ZvWorld* first = nullptr;
  ZvWorld* second = nullptr;
};

TEST_F(RoundTripTest, ShapesMaterialsNamesAndPlacement) { roundTrip("roundtrip_shapes.wrl"); }

TEST_F(RoundTripTest, LightsAndCameras) { roundTrip("roundtrip_lights.wrl"); }

TEST_F(RoundTripTest, GroupingNodes) { roundTrip("roundtrip_groups.wrl"); }

TEST_F(RoundTripTest, FaceAndLineSets) { roundTrip("roundtrip_sets.wrl"); }

TEST_F(RoundTripTest, WorldSettings) { roundTrip("roundtrip_settings.wrl"); }

// A Group's children are kept relative to the Group; the writer must put
// them back in the frame of the Group's level.
TEST_F(RoundTripTest, GroupAwayFromTheOrigin) { roundTrip("roundtrip_group_moved.wrl"); }

}  // namespace
