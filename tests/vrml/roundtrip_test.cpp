// Worlds of our own read, written out and read again: the second world must
// be the first one, object for object and leaf for leaf, within what the
// writer prints (three decimals, six for angles). The worlds in tests/data
// keep to what the writer is meant to carry over; what it drops by design
// (text, two-axis turns, most world settings) is left out of them.
#include <cmath>
#include <fstream>
#include <sstream>

#include "tests/vrml/loadtest.h"

namespace {

namespace fs = std::filesystem;

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
    numbers("background", &a->background.r, &b->background.r, 3);
    text("server", a->ownedText, b->ownedText);
    integer("background texture", a->backgroundTexture != nullptr, b->backgroundTexture != nullptr);
    if (a->backgroundTexture && b->backgroundTexture)
      text("background texture file", zvGetLocalFile(a->backgroundTexture), zvGetLocalFile(b->backgroundTexture));
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
  void numbers(const std::string& what, const float* a, const float* b, int n) {
    for (int i = 0; i < n; ++i) number(what + "[" + std::to_string(i) + "]", a[i], b[i]);
  }
  void integer(const std::string& what, long a, long b) {
    if (a != b) differ(what, std::to_string(a), std::to_string(b));
  }
  // Counted arrays of colours, vectors or floats, element by element.
  template <typename T>
  void array(const std::string& what, int na, const T* a, int nb, const T* b) {
    static_assert(sizeof(T) % sizeof(float) == 0);
    integer(what + " count", na, nb);
    const int per = int(sizeof(T) / sizeof(float));
    for (int i = 0; i < na && i < nb; ++i)
      numbers(what + "[" + std::to_string(i) + "]", reinterpret_cast<const float*>(&a[i]),
              reinterpret_cast<const float*>(&b[i]), per);
  }

  void list(const std::string& parent, const std::vector<ZvObj*>& a, const std::vector<ZvObj*>& b) {
    where = parent;
    integer("objects", long(a.size()), long(b.size()));
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) object(parent + "/" + std::to_string(i) + ":" + nameOf(a[i]), a[i], b[i]);
  }

  void object(const std::string& path, ZvObj* a, ZvObj* b) {
    where = path;
    if (a->nodeType != b->nodeType) return differ("node type", nameOf(a), nameOf(b));
    text("name", a->strings[ZV_STR_NAME], b->strings[ZV_STR_NAME]);
    const uint32_t kAttributes = ZV_OBJ_VISIBLE | ZV_OBJ_GRASP | ZV_OBJ_SOLID | ZV_OBJ_COLLISION | ZV_OBJ_MOBILE;
    integer("attribute flags", a->flags & kAttributes, b->flags & kAttributes);
    numbers("scale", a->bcubeScale, b->bcubeScale, 3);
    for (int r = 0; r < 4; ++r)
      numbers("world transform row " + std::to_string(r), zvGetObjectWRT(a)->m[r], zvGetObjectWRT(b)->m[r], 3);
    auto* wa = static_cast<int32_t*>(zvGetObjExtension(a, zvSwitchWhichChild));
    auto* wb = static_cast<int32_t*>(zvGetObjExtension(b, zvSwitchWhichChild));
    integer("which child", wa ? *wa : -100, wb ? *wb : -100);
    auto* da = static_cast<ZvLOD*>(zvGetObjExtension(a, zvLODNode));
    auto* db = static_cast<ZvLOD*>(zvGetObjExtension(b, zvLODNode));
    integer("LOD record", da != nullptr, db != nullptr);
    if (da && db) {
      array("LOD ranges", da->rangeCount, da->ranges, db->rangeCount, db->ranges);
      numbers("LOD center", da->center, db->center, 3);
    }
    std::vector<ZvLeaf*> la = leavesOf(a), lb = leavesOf(b);
    integer("leaves", long(la.size()), long(lb.size()));
    for (size_t i = 0; i < la.size() && i < lb.size(); ++i) {
      where = path + " leaf " + std::to_string(i);
      if (la[i]->type != lb[i]->type)
        integer("leaf type", la[i]->type, lb[i]->type);
      else
        leaf(la[i], lb[i]);
    }
    list(path, childrenOf(a), childrenOf(b));
  }

  void shape(const ZvShape* a, const ZvShape* b) {
    integer("shape flags", a->flags & (ZV_LEAF_GOURAUD | ZV_LEAF_BACKFACE), b->flags & (ZV_LEAF_GOURAUD | ZV_LEAF_BACKFACE));
    const ZvMaterial &ma = a->material, &mb = b->material;
    array("ambient", ma.ambient.count, ma.ambient.values, mb.ambient.count, mb.ambient.values);
    array("diffuse", ma.diffuse.count, ma.diffuse.values, mb.diffuse.count, mb.diffuse.values);
    array("specular", ma.specular.count, ma.specular.values, mb.specular.count, mb.specular.values);
    array("emissive", ma.emissive.count, ma.emissive.values, mb.emissive.count, mb.emissive.values);
    array("shininess", ma.shininess.count, ma.shininess.values, mb.shininess.count, mb.shininess.values);
    array("transparency", ma.transparency.count, ma.transparency.values, mb.transparency.count,
          mb.transparency.values);
    integer("material binding", a->texture.materialBinding, b->texture.materialBinding);
    integer("texture", a->texture.texture != nullptr, b->texture.texture != nullptr);
    array("uv", a->texture.uvCount, a->texture.uv, b->texture.uvCount, b->texture.uv);
  }

  // One numeric field of two leaves of the same type.
  template <typename T, typename M>
  void field(const char* what, const ZvLeaf* a, const ZvLeaf* b, M T::*m) {
    number(what, static_cast<const T*>(a)->*m, static_cast<const T*>(b)->*m);
  }

  void leaf(const ZvLeaf* a, const ZvLeaf* b) {
    if (zvIsShapeLeaf(a)) shape(static_cast<const ZvShape*>(a), static_cast<const ZvShape*>(b));
    switch (a->type) {
      case ZV_LEAF_SPHERE:
        field("radius", a, b, &ZvSphere::radius);
        break;
      case ZV_LEAF_CONE_SIDE:
        field("bottom radius", a, b, &ZvConeSide::bottomRadius);
        field("height", a, b, &ZvConeSide::height);
        break;
      case ZV_LEAF_CONE_BOTTOM: case ZV_LEAF_CYLINDER_TOP: case ZV_LEAF_CYLINDER_BOTTOM: case ZV_LEAF_CIRCLE:
        field("radius", a, b, &ZvCircle::radius);
        field("height", a, b, &ZvCircle::height);
        break;
      case ZV_LEAF_CYLINDER_SIDE:
        field("top radius", a, b, &ZvCylinderSide::topRadius);
        field("bottom radius", a, b, &ZvCylinderSide::bottomRadius);
        field("height", a, b, &ZvCylinderSide::height);
        break;
      case ZV_LEAF_FACE: {
        auto *fa = static_cast<const ZvFace*>(a), *fb = static_cast<const ZvFace*>(b);
        array("vertices", fa->vertexCount, fa->vertices, fb->vertexCount, fb->vertices);
        array("normals", fa->normalCount, fa->normals, fb->normalCount, fb->normals);
        integer("normal binding", fa->normalBinding, fb->normalBinding);
        break;
      }
      case ZV_LEAF_LINE_SET: {
        auto *sa = static_cast<const ZvLineSet*>(a), *sb = static_cast<const ZvLineSet*>(b);
        array("points", sa->pointCount, sa->points, sb->pointCount, sb->points);
        break;
      }
      case ZV_LEAF_SPOT_LIGHT:
        field("drop-off rate", a, b, &ZvSpotLight::dropOffRate);
        field("cut-off angle", a, b, &ZvSpotLight::cutOffAngle);
        [[fallthrough]];
      case ZV_LEAF_POINT_LIGHT: case ZV_LEAF_DIRECTIONAL_LIGHT:
        field("on", a, b, &ZvLight::on);
        field("intensity", a, b, &ZvLight::intensity);
        numbers("color", &static_cast<const ZvLight*>(a)->color.r, &static_cast<const ZvLight*>(b)->color.r, 3);
        break;
      case ZV_LEAF_ORTHOGRAPHIC_CAMERA: case ZV_LEAF_PERSPECTIVE_CAMERA:
        field("focal distance", a, b, &ZvCamera::focalDistance);
        field("height", a, b, &ZvCamera::height);
        break;
      default:
        differ("leaf of a type these worlds do not hold", std::to_string(a->type), "");
    }
  }
};

class RoundTripTest : public qmtest::LoadTest {
 protected:
  ZvWorld* read(const fs::path& file) {
    int result;
    ZvWorld* w = load(file, &result);
    EXPECT_EQ(result, ZV_OK) << file << " was not read: " << sink.dump();
    return result == ZV_OK ? w : nullptr;
  }

  // Reads the world, writes it, reads what was written, and compares.
  void roundTrip(const std::string& name) {
    const fs::path source = qmtest::sourceDir() / "tests" / "data" / name;
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
