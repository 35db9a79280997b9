// material.cpp — the renderer's surface, colour and opacity from a leaf's
// VRML material, applied to the polygons built for the leaf.
#include "render/renderpriv.h"

namespace {

ZvRenderKeptMaterial kept{};

// Element i of a counted array, its last element past the end, black (or 0)
// when it is empty.
ZvSFColor colorAt(const ZvMFColor& a, int i) {
  if (a.count <= 0 || !a.values) return ZvSFColor{0, 0, 0};
  return a.values[i < a.count ? i : a.count - 1];
}

float floatAt(const ZvMFFloat& a, int i) {
  if (a.count <= 0 || !a.values) return 0.0f;
  return a.values[i < a.count ? i : a.count - 1];
}

float sum(const ZvSFColor& c) { return c.r + c.g + c.b; }

void compute(ZvRenderMaterial* out, const ZvSFColor& A, const ZvSFColor& D, const ZvSFColor& S, const ZvSFColor& E,
             float transparency) {
  out->ambient = (sum(E) + sum(A)) * 0.25f;
  out->diffuse = sum(D) * 0.25f;
  out->specular = sum(S) * 0.25f;
  float c[3] = {E.r + D.r + A.r, E.g + D.g + A.g, E.b + D.b + A.b};
  float m = c[0] > c[1] ? c[0] : c[1];
  m = m > c[2] ? m : c[2];
  for (int k = 0; k < 3; ++k) out->color[k] = m > 0 ? c[k] / m : 0.0f;
  out->opacity = 1.0f - transparency;
}

// A leaf that got no material (a cone or cylinder whose parts the reader
// could not name) is drawn as if its scene had named none: the default.
const ZvMaterial* drawnMaterial(const ZvMaterial* m) {
  static ZvSFColor ambient{0.2f, 0.2f, 0.2f}, diffuse{0.8f, 0.8f, 0.8f}, black{0, 0, 0};
  static float shininess = 0.2f, transparency = 0;
  static const ZvMaterial kDefault{1, {1, &ambient}, {1, &diffuse}, {1, &black}, {1, &black},
                                   {1, &shininess}, {1, &transparency}, {0, nullptr}};
  return m && m->maxElement > 0 ? m : &kDefault;
}

int sampling(const ZvLeaf* leaf) {
  return static_cast<const ZvShape*>(leaf)->flags & ZV_LEAF_GOURAUD ? RW_VERTEX : RW_FACET;
}

struct Apply {
  const ZvRenderMaterial* material;
  bool failed;
};

int applyFn(RwPolygon* polygon, void* arg) {
  auto* a = static_cast<Apply*>(arg);
  if (zvRwSetMaterialToPolygon(polygon, a->material) != ZV_OK) {
    a->failed = true;
    return 0;
  }
  return 1;
}

bool applyToClump(RwClump* clump, const ZvRenderMaterial* material) {
  Apply a{material, false};
  rwForAllPolygonsInClump(clump, applyFn, &a);
  return !a.failed;
}

// Cone side, cylinder side, circles and spheres: one material for the clump.
int setWholeClump(ZvLeaf* leaf, const char* who) {
  auto* clump = static_cast<RwClump*>(leaf->rendering);
  if (!clump) return ZV_OK;
  ZvRenderMaterial m;
  if (zvRwCalcMaterial(&m, drawnMaterial(&static_cast<ZvShape*>(leaf)->material), 0) != ZV_OK) return ZV_FAIL;
  m.lightSampling = sampling(leaf);
  if (!applyToClump(clump, &m)) return zvRenderError(who, "cannot set material to all polygons in clump");
  return ZV_OK;
}

bool perVertex(int binding) { return binding == 6 || binding == 7; }

}  // namespace

ZvRenderKeptMaterial& zvRenderKeptMaterial(void) { return kept; }

int zvRwCalcMaterial(ZvRenderMaterial* out, const ZvMaterial* material, int index) {
  if (!out || !material) return ZV_FAIL;
  if (material->maxElement <= 0) {
    zvRenderError("zvRwCalcMaterial", "max element number of material attributes is set to zero");
    return ZV_FAIL;
  }
  int i = index % material->maxElement;
  if (i < 0) i += material->maxElement;
  compute(out, colorAt(material->ambient, i), colorAt(material->diffuse, i), colorAt(material->specular, i),
          colorAt(material->emissive, i), floatAt(material->transparency, i));
  out->lightSampling = RW_FACET;
  return ZV_OK;
}

int zvRwCalcMeanMaterial(ZvRenderMaterial* out, const ZvMaterial* material, int first, int count) {
  if (!out || !material) return ZV_FAIL;
  if (count <= 0) return zvRenderError("zvRwCalcMeanMaterial", "the number of vertex is zero");
  ZvSFColor A{0, 0, 0}, D{0, 0, 0}, S{0, 0, 0}, E{0, 0, 0};
  float T = 0;
  auto add = [](ZvSFColor& to, const ZvSFColor& c) {
    to.r += c.r;
    to.g += c.g;
    to.b += c.b;
  };
  for (int k = 0; k < count; ++k) {
    int i = first + k;
    add(A, colorAt(material->ambient, i));
    add(D, colorAt(material->diffuse, i));
    add(S, colorAt(material->specular, i));
    add(E, colorAt(material->emissive, i));
    T += floatAt(material->transparency, i);
  }
  float n = float(count);
  auto mean = [n](ZvSFColor c) { return ZvSFColor{c.r / n, c.g / n, c.b / n}; };
  ZvMaterial one{};
  ZvSFColor a = mean(A), d = mean(D), s = mean(S), e = mean(E);
  float t = T / n;
  one.maxElement = 1;
  one.ambient = {1, &a};
  one.diffuse = {1, &d};
  one.specular = {1, &s};
  one.emissive = {1, &e};
  one.transparency = {1, &t};
  return zvRwCalcMaterial(out, &one, 0);
}

int zvRwSetMaterialToPolygon(RwPolygon* polygon, const ZvRenderMaterial* m) {
  const char* who = "zvRwSetMaterialToPolygon";
  if (!polygon || !m) return ZV_FAIL;
  if (!rwSetPolygonSurface(polygon, m->ambient, m->diffuse, m->specular))
    return zvRenderError(who, "cannot set polygon surface");
  if (!rwSetPolygonColor(polygon, m->color[0], m->color[1], m->color[2]))
    return zvRenderError(who, "cannot set polygon color");
  if (!rwSetPolygonOpacity(polygon, m->opacity)) return zvRenderError(who, "cannot set polygon opacity");
  if (!rwSetPolygonLightSampling(polygon, m->lightSampling))
    return zvRenderError(who, "cannot set polygon light sampling");
  return ZV_OK;
}

int zvRenderSetMaterial(ZvLeaf* leaf) {
  if (!leaf) return ZV_FAIL;
  if (leaf->type < ZV_LEAF_TEXT || leaf->type > ZV_LEAF_SPHERE)
    return zvRenderError("zvRenderSetMaterial", "invalid shape type");
  if (!leaf->rendering) return ZV_OK;
  switch (leaf->type) {
    case ZV_LEAF_TEXT: return ZV_OK;
    case ZV_LEAF_CONE_SIDE: return zvRenderSetConeSideMaterial(leaf);
    case ZV_LEAF_CYLINDER_SIDE: return zvRenderSetCylinderSideMaterial(leaf);
    case ZV_LEAF_FACE: return zvRenderSetFaceMaterial(leaf);
    case ZV_LEAF_LINE_SET: return zvRenderSetLineMaterial(leaf);
    case ZV_LEAF_POINT_SET: return zvRenderSetPointSetMaterial(leaf);
    case ZV_LEAF_SPHERE: return zvRenderSetSphereMaterial(leaf);
    default: return zvRenderSetCircleMaterial(leaf);  // 3, 5, 6 and 7
  }
}

int zvRenderSetConeSideMaterial(ZvLeaf* leaf) { return setWholeClump(leaf, "zvRenderSetConeSideMaterial"); }
int zvRenderSetCircleMaterial(ZvLeaf* leaf) { return setWholeClump(leaf, "zvRenderSetCircleMaterial"); }
int zvRenderSetCylinderSideMaterial(ZvLeaf* leaf) { return setWholeClump(leaf, "zvRenderSetCylinderSideMaterial"); }
int zvRenderSetSphereMaterial(ZvLeaf* leaf) { return setWholeClump(leaf, "zvRenderSetSphereMaterial"); }

int zvRenderSetFaceMaterial(ZvLeaf* leaf) {
  const char* who = "zvRenderSetFaceMaterial";
  auto* polygon = leaf ? static_cast<RwPolygon*>(leaf->rendering) : nullptr;
  if (!polygon) return ZV_OK;
  auto* face = static_cast<ZvFace*>(leaf);
  RwClump* clump = rwGetPolygonClump(polygon);
  int32_t mark = rwGetPolygonTag(polygon);
  bool building = clump && !rwGetClumpData(clump);
  ZvRenderMaterial m;
  if ((mark == 2 || mark == 3) && building && kept.clump == clump && kept.valid) {
    m = kept.material;
  } else {
    int r = perVertex(face->texture.materialBinding)
                ? zvRwCalcMeanMaterial(&m, drawnMaterial(&face->material), 0, face->vertexCount)
                : zvRwCalcMaterial(&m, drawnMaterial(&face->material), 0);
    if (r != ZV_OK) return r;
    m.lightSampling = sampling(leaf);
  }
  if (zvRwSetMaterialToPolygon(polygon, &m) != ZV_OK) return zvRenderError(who, "cannot set material");
  if (mark == 1 && building && kept.clump == clump) {
    kept.material = m;
    kept.valid = true;
  }
  if (mark == 3 && kept.clump == clump) kept.valid = false;
  return ZV_OK;
}

// Children tagged 0 .. count - 1 (segments, points) each get material(tag).
// One pass over the children in order: a point set has thousands of them,
// and looking each tag up by itself would be quadratic.
template <typename MaterialOf>
int applyToTaggedChildren(RwClump* clump, int32_t count, MaterialOf&& materialOf, const char* who) {
  int32_t found = 0;
  for (RwClump* c = rwGetFirstChildClump(clump); c; c = rwGetNextSiblingClump(c)) {
    int32_t tag = rwGetClumpTag(c);
    if (tag < 0 || tag >= count) continue;
    ZvRenderMaterial m;
    int r = materialOf(tag, &m);
    if (r != ZV_OK) return r;
    m.lightSampling = RW_FACET;
    if (!applyToClump(c, &m)) return zvRenderError(who, "cannot set material to all polygons in clump");
    ++found;
  }
  if (found < count) return zvRenderError(who, "cannot find tagged clump");
  return ZV_OK;
}

int zvRenderSetLineMaterial(ZvLeaf* leaf) {
  auto* clump = leaf ? static_cast<RwClump*>(leaf->rendering) : nullptr;
  if (!clump) return ZV_OK;
  auto* line = static_cast<ZvLineSet*>(leaf);
  int binding = line->texture.materialBinding;
  int32_t segments = line->pointCount > 1 ? line->pointCount - 1 : 0;
  if (segments == 0) return ZV_OK;
  ZvRenderMaterial once{};
  if (!perVertex(binding) && binding != 2 && binding != 3 &&
      zvRwCalcMaterial(&once, drawnMaterial(&line->material), 0) != ZV_OK)
    return ZV_FAIL;
  return applyToTaggedChildren(
      clump, segments,
      [&](int32_t i, ZvRenderMaterial* m) {
        if (perVertex(binding)) return zvRwCalcMeanMaterial(m, drawnMaterial(&line->material), i, 2);
        if (binding == 2 || binding == 3) return zvRwCalcMaterial(m, drawnMaterial(&line->material), i);
        *m = once;
        return int(ZV_OK);
      },
      "zvRenderSetLineMaterial");
}

int zvRenderSetPointSetMaterial(ZvLeaf* leaf) {
  auto* clump = leaf ? static_cast<RwClump*>(leaf->rendering) : nullptr;
  if (!clump) return ZV_OK;
  auto* points = static_cast<ZvPointSet*>(leaf);
  int binding = points->texture.materialBinding;
  if (points->pointCount <= 0) return ZV_OK;
  ZvRenderMaterial once{};
  bool shared = binding == 0 || binding == 1;
  if (shared && zvRwCalcMaterial(&once, drawnMaterial(&points->material), 0) != ZV_OK) return ZV_FAIL;
  return applyToTaggedChildren(
      clump, points->pointCount,
      [&](int32_t i, ZvRenderMaterial* m) {
        if (!shared) return zvRwCalcMaterial(m, drawnMaterial(&points->material), i);
        *m = once;
        return int(ZV_OK);
      },
      "zvRenderSetPointSetMaterial");
}
