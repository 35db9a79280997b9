// texture.cpp — textures on the polygons built for shape leaves: finding or
// reading the image by its local file name, its mask, default texture
// coordinates where the scene gives none, and the queue that holds texturing
// back while a world loads.
#include <cmath>
#include <string>
#include <vector>

#include "render/renderpriv.h"
#include "www/www.h"

namespace {

ZvObj* pending[ZV_PENDING_TEXTURES];
int pendingCount = 0;
// The batch program builds with textures applied directly; the interactive
// shell turns this off while a world arrives and loads them in one pass.
bool applyTextures = true;
ZvRenderMovieRefresh movieRefresh = nullptr;

ZvTexture* textureOf(ZvLeaf* leaf) { return &static_cast<ZvShape*>(leaf)->texture; }

// The texture registered under the file's name, or the file read as one.
RwTexture* findOrRead(const char* file, bool* fresh) {
  *fresh = false;
  if (RwTexture* t = rwFindNamedTexture(file)) return t;
  RwTexture* t = rwReadNamedTexture(file);
  *fresh = t != nullptr;
  return t;
}

// Attaches the leaf's mask to a texture just read. One already registered
// got its mask when it was read: reading the mask again for each of the
// thousands of faces that share a texture would cost a file read per face.
bool attachMask(ZvLeaf* leaf, RwTexture* texture, bool fresh) {
  if (!fresh) return true;
  const char* file = zvRenderLocalFile(textureOf(leaf)->mask);
  if (!file) return true;
  RwRaster* mask = rwReadMaskRaster(file);
  if (!mask) return true;  // an unreadable mask leaves the texture opaque
  bool ok = rwSetTextureMask(texture, mask) != 0;
  rwDestroyRaster(mask);  // the texture holds its own reference
  return ok;
}

// Picks the axes of the two texture coordinates: the largest extent first,
// the second largest next, equal extents in the order x, y, z.
void chooseAxes(const float d[3], int* first, int* second) {
  float dx = d[0], dy = d[1], dz = d[2];
  if (dx >= dy && dy >= dz) *first = 0, *second = 1;
  else if (dx >= dz && dz >= dy) *first = 0, *second = 2;
  else if (dy >= dx && dx >= dz) *first = 1, *second = 0;
  else if (dy >= dz && dz >= dx) *first = 1, *second = 2;
  else if (dz >= dx && dx >= dy) *first = 2, *second = 0;
  else *first = 2, *second = 1;
}

// Default coordinates within a box: scale2 is the second coordinate's range.
struct DefaultUV {
  float min[3], max[3];
  int a, b;
  float scale2;
  DefaultUV(const float lo[3], const float hi[3]) {
    float d[3];
    for (int i = 0; i < 3; ++i) {
      min[i] = lo[i];
      max[i] = hi[i];
      d[i] = std::fabs(hi[i] - lo[i]);
    }
    chooseAxes(d, &a, &b);
    scale2 = d[a] > 0 ? d[b] / d[a] : 1.0f;
  }
  float along(const float p[3], int axis, float scale) const {
    if (max[axis] == min[axis]) return 0.5f;
    return (p[axis] - min[axis]) / (max[axis] - min[axis]) * scale;
  }
  void at(const float p[3], float* u, float* v) const {
    *u = along(p, a, 1.0f);
    *v = along(p, b, scale2);
  }
};

bool defaultClumpUV(RwClump* clump) {
  int32_t n = rwGetClumpVertexCount(clump);
  if (n <= 0) return true;
  RwV3d lo, hi;
  if (!rwGetClumpBounds(clump, &lo, &hi)) return false;
  float min[3] = {lo.x, lo.y, lo.z}, max[3] = {hi.x, hi.y, hi.z};
  DefaultUV box(min, max);
  for (int32_t i = 1; i <= n; ++i) {
    RwV3d p;
    if (!rwGetClumpVertex(clump, i, &p)) return false;
    float xyz[3] = {p.x, p.y, p.z}, u, v;
    box.at(xyz, &u, &v);
    // The library's v runs down the image; ours runs up the shape, so the
    // image is handed over flipped within its range and comes out upright.
    if (!rwSetVertexUV(clump, i, u, box.scale2 - v)) return false;
  }
  return true;
}

int setTextureFn(RwPolygon* polygon, void* texture) {
  return rwSetPolygonTexture(polygon, static_cast<RwTexture*>(texture)) ? 1 : 0;
}

bool textureTree(RwClump* clump, RwTexture* texture, bool defaults) {
  if (!rwForAllPolygonsInClump(clump, setTextureFn, texture) && rwGetClumpPolygonCount(clump) > 0) return false;
  if (defaults && !defaultClumpUV(clump)) return false;
  for (RwClump* c = rwGetFirstChildClump(clump); c; c = rwGetNextSiblingClump(c))
    if (!textureTree(c, texture, defaults)) return false;
  return true;
}

// Texture application shared by the ascii text, cone side, circle, cylinder
// side and sphere setters; who is the setter's name.
int textureClump(ZvLeaf* leaf, const char* who) {
  std::string w = who;
  auto fail = [&](const char* what) {
    zvWarning("%s%s", w.c_str(), what);
    return ZV_FAIL;
  };
  auto* clump = leaf ? static_cast<RwClump*>(leaf->rendering) : nullptr;
  if (!clump) return fail(" : cannot find clump\n");
  const char* file = zvRenderLocalFile(textureOf(leaf)->texture);
  if (!file) {
    textureTree(clump, nullptr, false);
    return ZV_OK;
  }
  bool fresh;
  RwTexture* texture = findOrRead(file, &fresh);
  if (!texture) return fail(" : Texture filename is invalid.\n");
  if (!attachMask(leaf, texture, fresh)) return fail(" : Mismatch texture and mask.\n");
  if (!textureTree(clump, texture, true)) return fail(" : fail default texture.\n");
  return ZV_OK;
}

int walkParts(ZvLeaf* first, bool cone) {
  for (ZvLeaf* leaf = first; leaf; leaf = leaf->next) {
    int r;
    switch (leaf->type) {
      case ZV_LEAF_CONE_SIDE:
        r = cone ? zvRwSetConeSideTexture(leaf) : -2;
        break;
      case ZV_LEAF_CYLINDER_SIDE:
        r = cone ? -2 : zvRwSetCylinderSideTexture(leaf);
        break;
      case ZV_LEAF_CONE_BOTTOM:
        r = cone ? zvRwSetCircleTexture(leaf) : -2;
        break;
      case ZV_LEAF_CYLINDER_BOTTOM:
      case ZV_LEAF_CYLINDER_TOP:
        r = cone ? -2 : zvRwSetCircleTexture(leaf);
        break;
      default:
        r = -2;
    }
    if (r == -2) {
      zvWarning(cone ? "zvRwSetConeTexture: invalid leafType.\n" : "zvRwSetCylinderTexture: invalid leafType.\n");
      return ZV_FAIL;
    }
    if (r != ZV_OK) return ZV_FAIL;
  }
  return ZV_OK;
}

// A shape type's texture setter for a single leaf, or null for the kinds
// that take no texture (lines, points).
int applyLeaf(ZvLeaf* leaf, const char* who) {
  switch (leaf->type) {
    case ZV_LEAF_TEXT: return zvRwSetAsciiTextTexture(leaf);
    case ZV_LEAF_CONE_SIDE: return zvRwSetConeSideTexture(leaf);
    case ZV_LEAF_CONE_BOTTOM:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP: return zvRwSetCircleTexture(leaf);
    case ZV_LEAF_CYLINDER_SIDE: return zvRwSetCylinderSideTexture(leaf);
    case ZV_LEAF_FACE: return zvRwSetFaceTexture(leaf);
    case ZV_LEAF_LINE_SET:
    case ZV_LEAF_POINT_SET: return ZV_OK;
    case ZV_LEAF_SPHERE: return zvRwSetSphereTexture(leaf);
    default:
      zvWarning("%s : shape type is invalid.\n", who);
      return ZV_FAIL;
  }
}

}  // namespace

void zvRenderSetMovieRefresh(ZvRenderMovieRefresh refresh) { movieRefresh = refresh; }

// ---------------------------------------------------------------------------
// Objects and leaves

int zvRenderSetObjTexture(ZvObj* object) {
  if (!object || !object->leaf || !zvIsShapeLeaf(object->leaf)) return ZV_OK;
  ZvLeaf* first = object->leaf;
  if (!textureOf(first)->texture) return ZV_OK;
  if (!applyTextures) return zvVFaddPendingTextures(object) == ZV_OK ? ZV_OK : ZV_FAIL;
  if (movieRefresh) movieRefresh(object);
  switch (first->type) {
    case ZV_LEAF_TEXT: return zvRwSetAsciiTextTexture(first);
    case ZV_LEAF_CONE_SIDE:
    case ZV_LEAF_CONE_BOTTOM: return zvRwSetConeTexture(first);
    case ZV_LEAF_CYLINDER_SIDE:
    case ZV_LEAF_CYLINDER_BOTTOM:
    case ZV_LEAF_CYLINDER_TOP: return zvRwSetCylinderTexture(first);
    case ZV_LEAF_FACE: return zvRwSetFaceSetTexture(first);
    case ZV_LEAF_LINE_SET:
    case ZV_LEAF_POINT_SET: return ZV_OK;
    case ZV_LEAF_SPHERE: return zvRwSetSphereTexture(first);
    default:
      zvWarning("zvRenderSetObjTexture : shape type is invalid.\n");
      return ZV_FAIL;
  }
}

int zvRenderSetLeafTexture(ZvLeaf* leaf) {
  if (!leaf || !zvIsShapeLeaf(leaf)) {
    zvWarning("zvRenderSetLeafTexture : shape type is invalid.\n");
    return ZV_FAIL;
  }
  if (!applyTextures) return zvVFaddPendingTextures(leaf->owner) == ZV_OK ? ZV_OK : ZV_FAIL;
  return applyLeaf(leaf, "zvRenderSetLeafTexture");
}

int zvRwSetAsciiTextTexture(ZvLeaf* leaf) { return textureClump(leaf, "zvRwSetAsciiTextTexture"); }
int zvRwSetConeSideTexture(ZvLeaf* leaf) { return textureClump(leaf, "zvRwSetConeSideTexture"); }
int zvRwSetCylinderSideTexture(ZvLeaf* leaf) { return textureClump(leaf, "zvRwSetCylinderSideTexture"); }
int zvRwSetCircleTexture(ZvLeaf* leaf) { return textureClump(leaf, "zvRwSetCircleTexture"); }
int zvRwSetSphereTexture(ZvLeaf* leaf) { return textureClump(leaf, "zvRwSetSphereTexture"); }
int zvRwSetConeTexture(ZvLeaf* first) { return walkParts(first, true); }
int zvRwSetCylinderTexture(ZvLeaf* first) { return walkParts(first, false); }

int zvRwSetFaceSetTexture(ZvLeaf* first) {
  for (ZvLeaf* leaf = first; leaf; leaf = leaf->next) {
    // Faces without area were never built; there is nothing to texture.
    if (leaf->type == ZV_LEAF_FACE && !leaf->rendering) continue;
    if (leaf->type != ZV_LEAF_FACE || zvRwSetFaceTexture(leaf) != ZV_OK) {
      zvWarning(leaf == first ? "zvRwSetFaceSetTexture : fail first texture.\n"
                              : "zvRwSetFaceSetTexture : fail texturize.\n");
      return ZV_FAIL;
    }
  }
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Faces

int zvRwSetFaceTexture(ZvLeaf* leaf) {
  auto* polygon = leaf ? static_cast<RwPolygon*>(leaf->rendering) : nullptr;
  if (!polygon) {
    zvWarning("zvRwSetFaceTexture : cannot find polygon\n");
    return ZV_FAIL;
  }
  auto* face = static_cast<ZvFace*>(leaf);
  ZvTexture* t = &face->texture;
  const char* file = zvRenderLocalFile(t->texture);
  if (!file) {
    rwSetPolygonTexture(polygon, nullptr);
    return ZV_OK;
  }
  bool allZero = true;
  for (int32_t i = 0; i < t->uvCount && t->uv && allZero; ++i) allZero = t->uv[i].x == 0 && t->uv[i].y == 0;
  if (allZero) {
    if (t->uvCount != face->vertexCount || !t->uv || !face->vertices) {
      zvWarning("zvRwSetFaceTexture : cannot set default UV.\n");
      return ZV_FAIL;
    }
    float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    zvGetObjBoundingCube(leaf->owner, min, max);
    DefaultUV box(min, max);
    for (int32_t i = 0; i < face->vertexCount; ++i) {
      float p[3] = {face->vertices[i].x, face->vertices[i].y, face->vertices[i].z};
      box.at(p, &t->uv[i].x, &t->uv[i].y);
    }
  }
  const float* x = t->transform;
  if (!(x[0] == 1 && x[1] == 0 && x[2] == 0 && x[3] == 1 && x[4] == 0 && x[5] == 0)) {
    for (int32_t i = 0; i < t->uvCount && t->uv; ++i) {
      float u = t->uv[i].x, v = t->uv[i].y;
      t->uv[i].x = x[0] * u + x[2] * v + x[4];
      t->uv[i].y = x[1] * u + x[3] * v + x[5];
    }
    // Applied once: texturing the face again must not turn it twice.
    const float identity[6] = {1, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i) t->transform[i] = identity[i];
  }
  bool fresh;
  RwTexture* texture = findOrRead(file, &fresh);
  if (!texture) {
    zvWarning("zvRwSetFaceTexture : Texture filename %s is invalid.\n", file);
    return ZV_FAIL;
  }
  if (!attachMask(leaf, texture, fresh)) {
    zvWarning("zvRwSetFaceTexture : Mismatch texture and mask.\n");
    return ZV_FAIL;
  }
  if (!rwSetPolygonTexture(polygon, texture)) {
    zvWarning("zvRwSetFaceTexture : cannot map texture\n");
    return ZV_FAIL;
  }
  int corners = rwGetPolygonVertexCount(polygon);
  if (t->uvCount < corners || !t->uv || zvRwTexturizePolygon(polygon, corners, t->uv) != ZV_OK) {
    zvWarning("zvRwSetFaceTexture : cannot set uv\n");
    return ZV_FAIL;
  }
  return ZV_OK;
}

int zvRwTexturizePolygon(RwPolygon* polygon, int count, const ZvSFVec2f* uv) {
  if (!polygon || count <= 0 || !uv) return ZV_FAIL;
  float minU = 9999, maxU = -9999, minV = 9999, maxV = -9999;
  for (int i = 0; i < count; ++i) {
    minU = std::fmin(minU, uv[i].x);
    maxU = std::fmax(maxU, uv[i].x);
    minV = std::fmin(minV, uv[i].y);
    maxV = std::fmax(maxV, uv[i].y);
  }
  // The library repeats an image at most 32 times across one polygon; the
  // comparison is written so that a NaN coordinate fails it too.
  float floorU = std::floor(minU), ceilV = std::ceil(maxV);
  if (!(std::ceil(maxU) - floorU <= 32)) {
    zvWarning("zvRwTexturizePolygon : It is impossible to mapping texture for u range.");
    return ZV_FAIL;
  }
  if (!(ceilV - std::floor(minV) <= 32)) {
    zvWarning("zvRwTexturizePolygon : It is impossible to mapping texture for v range.");
    return ZV_FAIL;
  }
  std::vector<float> pairs(size_t(count) * 2);
  for (int i = 0; i < count; ++i) {
    pairs[size_t(i) * 2] = uv[i].x - floorU;
    pairs[size_t(i) * 2 + 1] = ceilV - uv[i].y;
  }
  if (!rwSetPolygonUV(polygon, count, pairs.data())) {
    zvWarning("zvRwTexturizePolygon : cannot mapping texture.\n");
    return ZV_FAIL;
  }
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Destroying

int zvRenderDestroyLeafTexture(ZvLeaf* leaf) {
  if (!leaf || !zvIsShapeLeaf(leaf)) return ZV_OK;
  ZvTexture* t = textureOf(leaf);
  // Only what is already local: destroying must never start a download.
  struct {
    ZvUrlHash* entry;
    const char* failure;
  } refs[] = {{t->texture, "cannot destroy texture"}, {t->mask, "cannot destroy mask texture"}};
  for (const auto& ref : refs) {
    if (!ref.entry || !ref.entry->local_filename) continue;
    RwTexture* texture = rwFindNamedTexture(ref.entry->local_filename);
    if (texture && !rwDestroyTexture(texture)) return zvRenderError("zvRenderDestroyLeafTexture", ref.failure);
  }
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Pending textures

int zvVFaddPendingTextures(ZvObj* object) {
  if (!object) return ZV_FAIL;
  if (pendingCount >= ZV_PENDING_TEXTURES) return zvRenderError("zvVFaddPendingTextures", "cannot add pending textures");
  pending[pendingCount++] = object;
  return ZV_OK;
}

int zvVFloadAllPendingTextures(void) {
  applyTextures = true;
  // An object textured here may queue nothing new (textures are on), but
  // take the queue first all the same so that the loop sees a fixed list.
  std::vector<ZvObj*> queued(pending, pending + pendingCount);
  pendingCount = 0;
  int result = ZV_OK;
  for (ZvObj* o : queued)
    if (zvRenderSetObjTexture(o) != ZV_OK) {
      zvWarning("zvVFloadAllPendingTextures : cannot load textures");
      result = ZV_FAIL;
    }
  return result;
}

void zvVFresetPendingTextures(void) {
  pendingCount = 0;
  applyTextures = false;
}

int zvVFpendingTextureCount(void) { return pendingCount; }

void zvRenderForgetPendingTexturesOf(ZvObj* object) {
  int kept = 0;
  for (int i = 0; i < pendingCount; ++i)
    if (pending[i] != object) pending[kept++] = pending[i];
  pendingCount = kept;
}

void zvRenderForgetPendingTexturesOfWorld(const ZvWorld* world) {
  int kept = 0;
  for (int i = 0; i < pendingCount; ++i)
    if (pending[i]->world != world) pending[kept++] = pending[i];
  pendingCount = kept;
}
