// face.cpp — a face set as one clump with a polygon per face leaf. Faces
// that share one material are marked so that it is computed once per clump.
#include "render/renderpriv.h"

namespace {

constexpr float kTinyNormal = 0.00001f;  // squared length below which a normal is left to the library

// Explicit normals by binding: 0 to 5 one normal for the whole face, 6 and 7
// one per vertex.
int setNormals(RwClump* clump, ZvFace* face, const int32_t* index, const char* who) {
  int binding = face->normalBinding;
  if (binding < 0 || binding > 7) return zvRenderError(who, "wrong normal binding type");
  bool perVertex = binding >= 6;
  if (perVertex && face->normalCount != face->vertexCount)
    return zvRenderError(who, "number of normal vectors isn't equal to number of vertices");
  if (!face->normals || face->normalCount < 1) return ZV_OK;
  for (int32_t i = 0; i < face->vertexCount; ++i) {
    const ZvSFVec3f& n = face->normals[perVertex ? i : 0];
    if (n.x * n.x + n.y * n.y + n.z * n.z < kTinyNormal) continue;
    if (!rwSetVertexNormal(clump, index[i], n.x, n.y, n.z)) return zvRenderError(who, "cannot set normal to vertex");
  }
  return ZV_OK;
}

bool sharesMaterial(const ZvFace* face) {
  return face->texture.materialBinding == 0 || face->texture.materialBinding == 1;
}

int addFaces(ZvObj* object, RwClump* clump, int32_t* index, const char* who) {
  bool firstMarked = false;
  for (ZvLeaf* l = object->leaf; l; l = l->next) {
    if (l->type != ZV_LEAF_FACE) return zvRenderError(who, "invalid leaf type");
    auto* face = static_cast<ZvFace*>(l);
    // The reader keeps faces of one or two usable corners; they have no area
    // to draw and the library takes no polygon of them.
    if (face->vertexCount < 3 || !face->vertices) continue;
    for (int32_t i = 0; i < face->vertexCount; ++i) {
      const ZvSFVec3f& v = face->vertices[i];
      index[i] = rwAddVertexToClump(clump, v.x, v.y, v.z);
      if (!index[i]) return zvRenderError(who, "cannot create vertex");
    }
    if (setNormals(clump, face, index, who) != ZV_OK) return ZV_FAIL;
    RwPolygon* polygon = rwAddPolygonToClump(clump, face->vertexCount, index);
    if (!polygon) return zvRenderError(who, "cannot add polygon to clump");
    face->rendering = polygon;
    if (!rwSetPolygonData(polygon, face)) return zvRenderError(who, "cannot set data to polygon");
    int32_t mark = 0;
    if (sharesMaterial(face)) {
      mark = !firstMarked ? 1 : face->next ? 2 : 3;
      firstMarked = true;
    }
    if (!rwSetPolygonTag(polygon, mark)) return zvRenderError(who, "cannot set tag to polygon");
    if (zvRenderSetFaceMaterial(face) != ZV_OK) return ZV_FAIL;
  }
  return ZV_OK;
}

// Destruction will not come this way: the handles go, and so does what
// texturing read for them.
void forgetFaces(ZvObj* object) {
  for (ZvLeaf* l = object->leaf; l; l = l->next) {
    l->rendering = nullptr;
    zvRenderDestroyLeafTexture(l);
  }
}

}  // namespace

int zvRwSetFace(ZvObj* object) {
  const char* who = "zvRwSetFace()";
  if (!object || !object->leaf) return ZV_FAIL;
  ZvRenderingStruct* rs = zvRenderStructOfObj(object);
  int64_t vertices = 0, polygons = 0;
  int32_t longest = 0;
  for (ZvLeaf* l = object->leaf; l; l = l->next) {
    if (l->type != ZV_LEAF_FACE) continue;
    auto* face = static_cast<ZvFace*>(l);
    if (face->vertexCount <= 0) continue;
    vertices += face->vertexCount;
    ++polygons;
    if (face->vertexCount > longest) longest = face->vertexCount;
  }
  auto clampHint = [](int64_t n) { return n > INT32_MAX ? INT32_MAX : int(n); };
  RwClump* clump = rwCreateClump(clampHint(vertices), clampHint(polygons));
  if (!clump) return zvRenderError(who, "cannot create clump");
  auto* index = static_cast<int32_t*>(zvMalloc(sizeof(int32_t) * size_t(longest > 0 ? longest : 1)));
  if (!index) {
    rwDestroyClump(clump);
    zvRenderError(who, "cannot allocate memory");
    return ZV_NOMEM;
  }
  ZvRenderKeptMaterial& kept = zvRenderKeptMaterial();
  kept = ZvRenderKeptMaterial{clump, false, {}};
  int r = addFaces(object, clump, index, who);
  zvFree(index);
  kept = ZvRenderKeptMaterial{};
  // The clump is reached through its faces' polygons; when no face had an
  // area there is nothing to draw and nothing that could find it again.
  ZvLeaf* built = object->leaf;
  while (built && !built->rendering) built = built->next;
  if (r == ZV_OK && !built) {
    rwDestroyClump(clump);
    return ZV_OK;
  }
  if (r == ZV_OK) {
    if (zvRenderHidden(object)) rwSetClumpState(clump, RW_OFF);
    if (!rwSetClumpTag(clump, 1))
      r = zvRenderError(who, "cannot set tag to clump");
    else if (!rwSetClumpData(clump, object))
      r = zvRenderError(who, "cannot set data to clump");
    else if (zvRenderTransformZvShape(built) != ZV_OK)
      r = ZV_FAIL;
    if (r == ZV_OK && zvRenderSetObjTexture(object) != ZV_OK) r = ZV_FAIL;
    if (r == ZV_OK && (!rs || !rs->scene || !rwAddClumpToScene(rs->scene, clump)))
      r = zvRenderError(who, "cannot add face to the world");
  }
  if (r != ZV_OK) {
    // Outside any scene nothing else would ever free the half-built clump.
    rwDestroyClump(clump);
    forgetFaces(object);
  }
  return r;
}
