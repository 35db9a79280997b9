// bbox.cpp — the wire-frame box drawn around a selected object: a yellow
// outer box on the object's bounding cube and a blue one just inside it;
// and the extent a shape was actually drawn with, for shapes (text) whose
// size only the renderer knows.
#include <vector>

#include "render/renderpriv.h"

namespace {

// Quads of a box whose corners are numbered from base: x is the outer loop
// (minus, plus), then y, then z.
constexpr int32_t kFaces[6][4] = {
    {1, 2, 4, 3}, {5, 6, 8, 7}, {1, 2, 6, 5}, {3, 4, 8, 7}, {1, 3, 7, 5}, {2, 4, 8, 6},
};

bool addBox(RwClump* clump, int32_t base) {
  for (const auto& f : kFaces) {
    int32_t front[4], back[4];
    for (int i = 0; i < 4; ++i) {
      front[i] = f[i] + base;
      back[i] = f[3 - i] + base;
    }
    if (!rwAddPolygonToClump(clump, 4, front) || !rwAddPolygonToClump(clump, 4, back)) return false;
  }
  return true;
}

int build(ZvObj* object, ZvRenderingStruct* rs, RwClump* clump) {
  const char* who = "zvRenderSetBoundingBoxInViewer";
  float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  zvGetObjBoundingCube(object, min, max);
  float d[3], centre[3];
  for (int i = 0; i < 3; ++i) {
    d[i] = max[i] - min[i];
    if (d[i] == 0.0f) d[i] = 0.01f;  // a flat object still gets a visible box
    centre[i] = min[i] + d[i] / 2;
  }
  for (float shrink : {0.0f, 0.04f})
    for (int xi = 0; xi < 2; ++xi)
      for (int yi = 0; yi < 2; ++yi)
        for (int zi = 0; zi < 2; ++zi) {
          float hx = (d[0] - shrink) / 2, hy = (d[1] - shrink) / 2, hz = (d[2] - shrink) / 2;
          if (!rwAddVertexToClump(clump, xi ? hx : -hx, yi ? hy : -hy, zi ? hz : -hz))
            return zvRenderError(who, "cannot add vertex to clump");
        }
  if (!rwSetSurface(0.75f, 0.0f, 0.0f)) return zvRenderError(who, "cannot set surface");
  if (!rwSetSurfaceGeometrySampling(RW_WIREFRAME)) return zvRenderError(who, "cannot set surface geometry sampling");
  if (!rwSetSurfaceColor(1, 1, 0)) return zvRenderError(who, "cannot set surface color");
  if (!addBox(clump, 0)) return zvRenderError(who, "cannot add polygon to clump");
  if (!rwSetSurfaceColor(0, 0, 1)) return zvRenderError(who, "cannot set surface color");
  if (!addBox(clump, 8)) return zvRenderError(who, "cannot add polygon to clump");

  ZvScratchWRT m(object, who);
  if (!m.ok()) return ZV_FAIL;
  if (!rwTranslateMatrix(m.matrix(), centre[0], centre[1], centre[2], RW_PRECONCAT))
    return zvRenderError(who, "cannot translate matrix");
  if (!rwTransformClump(clump, m.matrix(), RW_REPLACE)) return zvRenderError(who, "cannot transform clump");
  if (!m.pop()) return ZV_FAIL;
  // It comes and goes with the selection: not worth merging into a batch.
  if (!rwRemoveHint(clump, RW_HINT_BATCHED)) return zvRenderError(who, "cannot remove hint from clump");
  if (!rwSetClumpData(clump, object)) return zvRenderError(who, "cannot set data to clump");
  if (!rwAddClumpToScene(rs->scene, clump)) return zvRenderError(who, "cannot add clump to scene");
  return ZV_OK;
}

}  // namespace

int zvRenderSetBoundingBoxInViewer(ZvObj* object) {
  const char* who = "zvRenderSetBoundingBoxInViewer";
  if (!object) return ZV_FAIL;
  if (zvGetObjExtension(object, zvRenderBoundingBox)) return ZV_OK;
  ZvRenderingStruct* rs = zvRenderStructOfObj(object);
  if (!rs || !rs->scene) return ZV_FAIL;
  RwClump* clump = rwCreateClump(16, 24);
  if (!clump) return zvRenderError(who, "cannot create clump");
  // The modelling state is shared with every other builder: leave it as found.
  RwSurfaceState saved{};
  rwGetSurfaceState(&saved);
  int r = build(object, rs, clump);
  rwSetSurfaceState(&saved);
  if (r == ZV_OK && zvRegisterObjExtension(object, zvRenderBoundingBox, clump) != ZV_OK) {
    zvRenderError(who, "cannot register bounding box");
    r = ZV_FAIL;
  }
  if (r != ZV_OK) rwDestroyClump(clump);
  return r;
}

int zvRenderDeleteBoundingBoxInViewer(ZvObj* object) {
  auto* clump = object ? static_cast<RwClump*>(zvGetObjExtension(object, zvRenderBoundingBox)) : nullptr;
  if (!clump) return ZV_OK;
  zvRemoveObjExtension(object, zvRenderBoundingBox);
  if (!rwDestroyClump(clump)) return zvRenderError("zvRenderDeleteBoundingBoxInViewer", "cannot destroy clump");
  return ZV_OK;
}

// ---------------------------------------------------------------------------
// Drawn extent of a shape

int zvRenderGetShapeWorldBounds(ZvLeaf* leaf, float min[3], float max[3]) {
  RwClump* root = zvRenderGetLeafClump(leaf);
  if (!root || !min || !max) return ZV_FAIL;
  bool any = false;
  // The clump and everything below it, each child placed by its own
  // local-to-world matrix: text is a tree of glyphs, not one mesh.
  std::vector<RwClump*> pending{root};
  while (!pending.empty()) {
    RwClump* c = pending.back();
    pending.pop_back();
    for (RwClump* child = rwGetFirstChildClump(c); child; child = rwGetNextSiblingClump(child))
      pending.push_back(child);
    RwV3d lo, hi;
    if (rwGetClumpVertexCount(c) == 0 || !rwGetClumpBounds(c, &lo, &hi)) continue;
    RwMatrix* m = rwPushScratchMatrix();
    if (!m) return zvRenderError("zvRenderGetShapeWorldBounds", "cannot push scratch matrix");
    bool placed = rwGetClumpLTM(c, m);
    for (int corner = 0; placed && corner < 8; ++corner) {
      RwV3d p{corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z};
      if (!rwTransformPoint(&p, m)) break;
      const float q[3] = {p.x, p.y, p.z};
      for (int i = 0; i < 3; ++i) {
        if (!any || q[i] < min[i]) min[i] = q[i];
        if (!any || q[i] > max[i]) max[i] = q[i];
      }
      any = true;
    }
    if (!rwPopScratchMatrix()) return zvRenderError("zvRenderGetShapeWorldBounds", "cannot pop scratch matrix");
  }
  return any ? ZV_OK : ZV_FAIL;
}
