// gl.cpp — drawing a scene into the camera being updated.
//
// A scene keeps one shared mesh of its batched clumps, baked into world
// coordinates, so a world of thousands of clumps draws in a handful of
// calls. Clumps without the batched hint, and batched ones that moved after
// they were baked, draw from meshes of their own with their transform, so an
// animated object never makes the world rebuild.
//
// A frame looks only at what changed: the clumps the scene's touched list
// names (and, when one moved or was switched, its subtree) have their
// transform and on state worked out again. Only when clumps came or went
// is the whole tree walked. What is in view, the runs of the shared mesh
// that are drawn and the order of translucent triangles are kept from frame
// to frame, and worked out again only when the camera or a clump changed.
// Clumps that are off or wholly outside the view only leave gaps in the
// index runs of the shared mesh that are drawn; software rasterisers spend
// much of a frame on vertices, so what is not seen is not sent. A batched
// clump that is new or whose polygons changed draws on its own until it has
// settled, and then joins the shared mesh at its next rebuild; rebuilds are
// spaced out so a world still loading does not rebuild every frame.
//
// Translucent triangles are drawn last, without writing depth, sorted back
// to front by their centroids' distance from the eye. Sorting goes by
// triangle rather than by clump: glass panes, water and leaves in one clump
// (or one batch) cross and overlap, and only a finer order draws them right
// from every side. Only the translucent subset is sorted, from centroids kept
// when the mesh was built, and only when the view or the scene changed;
// otherwise the last order, already in the meshes' sorted index buffers, is
// drawn again.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "rwlib/gl_priv.h"

namespace {

// Frames a batched clump stays unchanged before it joins the shared mesh.
constexpr uint32_t kSettleFrames = 3;
// Frames at least between two rebuilds of the shared mesh after the first.
constexpr uint32_t kRebuildGap = 10;
// Settled clumps drawing on their own that are worth a rebuild. A few cost
// a few draw calls; rebuilding a big world for them would stall a frame.
constexpr uint32_t kRebuildClumps = 32;
// The farthest the scene may stretch the far plane: near then rises to at
// most one unit.
constexpr float kMaxSceneDepth = 1e5f;

struct SceneRecord;

struct ClumpRecord {
  RwClump* clump;
  SceneRecord* scene;
  size_t index;  // in scene->clumps
  uint32_t geometryVersion;
  RwMatrix ltm;           // the transform it was last drawn with
  bool moved;             // its transform changed since it was first seen
  bool mayBake;           // batched, not moved, with polygons
  bool baked;             // its polygons are in the shared mesh
  uint32_t changedFrame;  // when its polygons or transform last changed
  uint32_t seenFrame;     // the last full walk that reached it
  uint32_t markedFrame;   // when it was last listed as changed
  bool on;                // it and all its ancestors are on
  size_t drawableAt, pendingAt, visibleAt;  // in the scene's sets, or SIZE_MAX
  std::vector<std::pair<uint32_t, uint32_t>> bakedRanges;  // (part, range) in the shared mesh
  bool bakedHasBounds;
  RwV3d bakedMin, bakedMax;  // world
  bool hasBox;               // this frame's world box, from the shared or its own mesh
  RwV3d boxMin, boxMax;
  RwGlMesh own;
  bool ownCurrent;
  uint32_t sortFrame, sortSlot;  // its own mesh's staging slot in the last sort
};

struct WalkItem {
  RwClump* clump;
  RwMatrix parent;  // the parent's transform to the world
  bool parentOn;    // the parent and all its ancestors are on
};

// Records by an index they keep of their own place: adding, removing and
// asking are constant time, so the sets follow single changes cheaply.
template <size_t ClumpRecord::*At>
struct RecordSet {
  std::vector<ClumpRecord*> items;
  void add(ClumpRecord* r) {
    if (r->*At != SIZE_MAX) return;
    items.push_back(r);
    r->*At = items.size() - 1;
  }
  void remove(ClumpRecord* r) {
    size_t at = r->*At;
    if (at == SIZE_MAX) return;
    items[at] = items.back();
    items[at]->*At = at;
    items.pop_back();
    r->*At = SIZE_MAX;
  }
  void put(ClumpRecord* r, bool in) { in ? add(r) : remove(r); }
};

// What a view is made from; the same camera over an unchanged scene sees
// the same clumps.
struct CameraKey {
  RwMatrix matrix;
  float ww, wh, nearClip, farClip;
  int projection;
};

struct View {
  RwMatrix viewProj;
  float planes[6][4];  // the view volume's sides, inside positive
  RwV3d eye, forward;
  bool parallel;
};

struct SceneRecord : RwGlRecord {
  RwScene* scene;
  std::vector<ClumpRecord*> clumps;
  RecordSet<&ClumpRecord::drawableAt> drawable;  // on, with polygons
  RecordSet<&ClumpRecord::pendingAt> pending;    // batched but drawn on their own
  std::vector<ClumpRecord*> changed;             // this frame's
  bool allChanged;                               // every box to be found again
  // Kept between frames and brought up to date by what changed: the view
  // and what is in it while the camera and the scene's box stay the same,
  // the shared mesh's runs in view, the order of translucent triangles.
  bool stale = true;      // all of it is to be made again
  bool runsStale = true;  // the runs are
  bool resort = true;     // the order is
  bool hasCamera = false;
  CameraKey camera;
  View view;
  std::vector<std::vector<GLsizei>> partCounts;  // per shared part: its runs in view
  std::vector<std::vector<const void*>> partOffsets;
  bool hasSceneBox;
  RwV3d sceneMin, sceneMax;  // of every drawable clump, world
  RwGlMesh shared;
  // The shared mesh's vertices laid out ahead of a first frame, while the
  // device was still coming up (rwGpuPrepareScene); dropped when anything
  // changed before that frame.
  std::unique_ptr<RwGlBuilder> prepared;
  size_t preparedCorners = 0;
  bool everBuilt;
  uint32_t frame, builtFrame;
  uint64_t deadIndices;  // of clumps that left the shared mesh since it was built
  uint64_t bakedCorners;  // polygon corners it was built from
  RecordSet<&ClumpRecord::visibleAt> visible;  // drawable and in view
  // Scratch, kept to spare allocations.
  std::vector<WalkItem> walk;
  // The back-to-front order of translucent triangles: runs of one mesh part
  // each, in the order drawn. Owner null is the shared mesh.
  struct SortTri {
    ClumpRecord* owner;
    uint32_t part, tri;
  };
  struct SortRun {
    ClumpRecord* owner;
    uint32_t part, first, count;  // first: in the mesh's sorted index buffer
  };
  std::vector<uint64_t> sortKeys;  // distance bits, then the SortTri's index
  std::vector<SortTri> sortTris;
  std::vector<std::vector<uint32_t>> sortStaging;  // per mesh slot
  std::vector<RwGlMesh*> sortMeshes;
  std::vector<SortRun> sortRuns;
};

void unbake(ClumpRecord* r) {
  if (!r->baked) return;
  for (auto [part, range] : r->bakedRanges) {
    RwGlRange& run = r->scene->shared.parts[part].ranges[range];
    r->scene->deadIndices += run.count;
    run.owner = nullptr;
  }
  r->bakedRanges.clear();
  r->baked = false;
  r->ownCurrent = false;
  r->scene->runsStale = true;
  r->scene->resort = true;
}

// The walk that laid the mesh out ahead consumed the scene's changes and
// listed nothing for the frame; once the layout goes, the frame has to walk
// everything again or it never looks at the clumps only that walk saw.
void dropPrepared(SceneRecord* s) {
  if (!s->prepared) return;
  s->prepared.reset();
  s->scene->treeChanged = true;
}

void detachClump(ClumpRecord* r) {
  SceneRecord* s = r->scene;
  s->stale = true;  // the lists kept between frames name it
  dropPrepared(s);  // its runs name it too
  unbake(r);
  s->drawable.remove(r);
  s->pending.remove(r);
  s->visible.remove(r);
  rwGlDeleteMesh(r->own);
  ClumpRecord* last = s->clumps.back();
  s->clumps[r->index] = last;
  last->index = r->index;
  s->clumps.pop_back();
  r->clump->gpu = nullptr;
  delete r;
}

// Lists the record as changed this frame: its box is found again, and
// whether it is in view.
void markChanged(SceneRecord* s, ClumpRecord* r) {
  if (r->markedFrame == s->frame) return;
  r->markedFrame = s->frame;
  s->changed.push_back(r);
}

void syncClump(SceneRecord* s, RwClump* clump, const RwMatrix& ltm, bool on) {
  auto* r = static_cast<ClumpRecord*>(clump->gpu);
  if (r && r->scene != s) {  // moved here from another scene
    detachClump(r);
    r = nullptr;
  }
  bool changed = false;
  if (!r) {
    auto made = std::make_unique<ClumpRecord>();
    s->clumps.push_back(made.get());
    r = made.release();
    r->clump = clump;
    r->scene = s;
    r->index = s->clumps.size() - 1;
    r->drawableAt = r->pendingAt = r->visibleAt = SIZE_MAX;
    clump->gpu = r;
    r->geometryVersion = clump->geometryVersion;
    r->ltm = ltm;
    r->changedFrame = s->frame;
    changed = true;
  } else {
    if (clump->geometryVersion != r->geometryVersion) {
      r->geometryVersion = clump->geometryVersion;
      r->changedFrame = s->frame;
      r->ownCurrent = false;
      unbake(r);
      changed = true;
    }
    if (memcmp(&ltm, &r->ltm, sizeof ltm) != 0) {
      r->ltm = ltm;
      r->moved = true;
      r->changedFrame = s->frame;
      unbake(r);
      changed = true;
    }
  }
  r->seenFrame = s->frame;
  // Copies stay copies: baking each into the shared mesh would multiply
  // what the GPU holds by their number.
  bool mayBake = (clump->hints & RW_HINT_BATCHED) && !r->moved && !clump->polygons.empty() && clump->instances.empty();
  if (!mayBake) unbake(r);
  bool drawable = on && !clump->polygons.empty();
  if (changed || mayBake != r->mayBake || on != r->on || drawable != (r->drawableAt != SIZE_MAX)) markChanged(s, r);
  r->mayBake = mayBake;
  r->on = on;
  s->drawable.put(r, drawable);
  s->pending.put(r, r->mayBake && !r->baked);
}

// Walks a subtree without recursion: worlds nest deeper than a stack likes.
void syncTree(SceneRecord* s, RwClump* root, const RwMatrix& parent, bool parentOn) {
  std::vector<WalkItem>& stack = s->walk;
  stack.clear();
  stack.push_back({root, parent, parentOn});
  while (!stack.empty()) {
    WalkItem item = stack.back();
    stack.pop_back();
    RwMatrix ltm;
    rwGlMultiply(item.clump->matrix, item.parent, ltm);
    bool on = item.parentOn && item.clump->on;
    syncClump(s, item.clump, ltm, on);
    for (size_t i = item.clump->children.size(); i-- > 0;)
      if (item.clump->children[i]) stack.push_back({item.clump->children[i], ltm, on});
  }
}

RwMatrix identityMatrix() {
  RwMatrix m = {};
  for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
  return m;
}

void syncEverything(SceneRecord* s) {
  const RwMatrix identity = identityMatrix();
  for (RwClump* clump : s->scene->clumps)
    if (clump) syncTree(s, clump, identity, true);
  // Clumps no longer in the scene.
  for (size_t i = s->clumps.size(); i-- > 0;)
    if (s->clumps[i]->seenFrame != s->frame) detachClump(s->clumps[i]);
  s->allChanged = true;
  s->stale = true;
}

// Brings the records up to date with what the scene's touched list names;
// false when that cannot be done from the list alone.
bool syncTouched(SceneRecord* s) {
  for (RwClump* clump : s->scene->touched) {
    if (!clump) continue;  // destroyed since
    const RwClump* top = clump;
    while (top->parent) top = top->parent;
    if (top->scene != s->scene) return false;
    RwMatrix parentLtm = identityMatrix();
    bool parentOn = true;
    if (clump->parent) {
      auto* p = static_cast<ClumpRecord*>(clump->parent->gpu);
      if (!p || p->scene != s) return false;
      parentLtm = p->ltm;
      parentOn = p->on;
    }
    // A new transform or on state reaches every descendant; new polygons
    // only the clump.
    if (clump->touched & (RW_TOUCH_TRANSFORM | RW_TOUCH_STATE)) {
      syncTree(s, clump, parentLtm, parentOn);
    } else {
      RwMatrix ltm;
      rwGlMultiply(clump->matrix, parentLtm, ltm);
      syncClump(s, clump, ltm, parentOn && clump->on);
    }
  }
  return true;
}

void syncScene(SceneRecord* s) {
  RwScene* scene = s->scene;
  if (scene->treeChanged || !syncTouched(s)) syncEverything(s);
  rwClearTouched(scene);
  scene->treeChanged = false;
}

struct Tally {
  uint32_t pending = 0;         // batched clumps drawn on their own
  uint32_t settled = 0;         // of which unchanged for kSettleFrames
  uint64_t settledCorners = 0;  // and their polygon corners
};

Tally tallyPending(const SceneRecord* s) {
  Tally tally;
  for (const ClumpRecord* r : s->pending.items) {
    ++tally.pending;
    if (s->frame - r->changedFrame >= kSettleFrames) {
      ++tally.settled;
      tally.settledCorners += r->clump->corners.size();
    }
  }
  return tally;
}

// The shared mesh's CPU half: every batched clump's polygons laid out in
// world coordinates. Returns the corners it was made from.
size_t buildShared(SceneRecord* s, RwGlBuilder& builder) {
  // Everything leaves first, so running out of memory halfway leaves every
  // clump drawing on its own rather than from a mesh it is no longer in.
  for (ClumpRecord* r : s->clumps) unbake(r);
  size_t corners = 0;
  for (ClumpRecord* r : s->clumps)
    if (r->mayBake) corners += r->clump->corners.size();
  rwGlReserve(builder, corners);
  for (ClumpRecord* r : s->clumps) {
    if (!r->mayBake) continue;
    rwGlAddClump(builder, r->clump, &r->ltm, r);
    r->bakedHasBounds = builder.clumpHasBounds;
    r->bakedMin = builder.clumpMin;
    r->bakedMax = builder.clumpMax;
  }
  return corners;
}

// Its GL half, and the records told where they went.
void finishShared(SceneRecord* s, RwGlBuilder& builder, size_t corners) {
  rwGlFinishMesh(builder, s->shared);
  try {
    for (uint32_t p = 0; p < s->shared.parts.size(); ++p) {
      const RwGlPart& part = s->shared.parts[p];
      for (uint32_t i = 0; i < part.ranges.size(); ++i)
        static_cast<ClumpRecord*>(part.ranges[i].owner)->bakedRanges.push_back({p, i});
    }
  } catch (const std::bad_alloc&) {
    // A mesh whose runs name clumps that do not know it could outlive them.
    for (ClumpRecord* r : s->clumps) r->bakedRanges.clear();
    rwGlDeleteMesh(s->shared);
    throw;
  }
  // Even a clump that gave no triangles counts as baked, or it would be
  // offered for the next rebuild forever.
  for (ClumpRecord* r : s->clumps) {
    if (!r->mayBake) continue;
    r->baked = true;
    r->ownCurrent = false;
    rwGlDeleteMesh(r->own);
  }
  s->pending.items.clear();  // every clump that may bake now has
  for (ClumpRecord* r : s->clumps) r->pendingAt = SIZE_MAX;
  s->allChanged = true;
  s->stale = true;
  s->deadIndices = 0;
  s->bakedCorners = corners;
  s->builtFrame = s->frame;
  s->everBuilt = true;
}

void rebuildShared(SceneRecord* s) {
  RwGlBuilder builder;
  size_t corners = buildShared(s, builder);
  finishShared(s, builder, corners);
}

bool wantsRebuild(const SceneRecord* s, const Tally& tally) {
  if (!s->everBuilt) return tally.pending > 0;
  if (s->frame - s->builtFrame < kRebuildGap) return false;
  bool worthIt = tally.settled >= kRebuildClumps ||
                 (tally.settled > 0 && tally.settledCorners * 4 >= s->bakedCorners);
  return worthIt || s->deadIndices > s->shared.indexCount / 2;
}

// ---------------------------------------------------------------------------
// The view

// Where a clump's polygons are this frame, in world coordinates.
void findBox(ClumpRecord* r) {
  r->hasBox = false;
  if (r->baked) {
    r->hasBox = r->bakedHasBounds;
    r->boxMin = r->bakedMin;
    r->boxMax = r->bakedMax;
    return;
  }
  if (!r->own.hasBounds) return;
  // The box of the transformed box: each axis of the transform stretches it.
  const RwMatrix& m = r->ltm;
  RwV3d centre = {(r->own.min.x + r->own.max.x) * 0.5f, (r->own.min.y + r->own.max.y) * 0.5f,
                  (r->own.min.z + r->own.max.z) * 0.5f};
  RwV3d half = {(r->own.max.x - r->own.min.x) * 0.5f, (r->own.max.y - r->own.min.y) * 0.5f,
                (r->own.max.z - r->own.min.z) * 0.5f};
  float c[3], h[3];
  for (int j = 0; j < 3; ++j) {
    c[j] = centre.x * m.m[0][j] + centre.y * m.m[1][j] + centre.z * m.m[2][j] + m.m[3][j];
    h[j] = half.x * std::fabs(m.m[0][j]) + half.y * std::fabs(m.m[1][j]) + half.z * std::fabs(m.m[2][j]);
  }
  r->boxMin = {c[0] - h[0], c[1] - h[1], c[2] - h[2]};
  r->boxMax = {c[0] + h[0], c[1] + h[1], c[2] + h[2]};
  r->hasBox = std::isfinite(c[0] + c[1] + c[2] + h[0] + h[1] + h[2]);
}

void growSceneBox(SceneRecord* s, const RwV3d& lo, const RwV3d& hi) {
  if (!s->hasSceneBox) {
    s->sceneMin = lo, s->sceneMax = hi;
    s->hasSceneBox = true;
    return;
  }
  s->sceneMin = {std::min(s->sceneMin.x, lo.x), std::min(s->sceneMin.y, lo.y), std::min(s->sceneMin.z, lo.z)};
  s->sceneMax = {std::max(s->sceneMax.x, hi.x), std::max(s->sceneMax.y, hi.y), std::max(s->sceneMax.z, hi.z)};
}

// The box of every clump that is on, kept for the far plane.
void findSceneBox(SceneRecord* s) {
  s->hasSceneBox = false;
  for (const ClumpRecord* r : s->drawable.items)
    if (r->hasBox) growSceneBox(s, r->boxMin, r->boxMax);
}

bool boxWithin(const RwV3d& lo, const RwV3d& hi, const SceneRecord* s) {
  return s->hasSceneBox && lo.x >= s->sceneMin.x && lo.y >= s->sceneMin.y && lo.z >= s->sceneMin.z &&
         hi.x <= s->sceneMax.x && hi.y <= s->sceneMax.y && hi.z <= s->sceneMax.z;
}

// The farthest the clumps that are on reach along the view direction, or 0.
float sceneDepth(const SceneRecord* s, const RwV3d& eye, const RwV3d& forward) {
  if (!s->hasSceneBox) return 0.0f;
  const RwV3d &lo = s->sceneMin, &hi = s->sceneMax;
  float depth = ((forward.x > 0 ? hi.x : lo.x) - eye.x) * forward.x +
                ((forward.y > 0 ? hi.y : lo.y) - eye.y) * forward.y +
                ((forward.z > 0 ? hi.z : lo.z) - eye.z) * forward.z;
  return std::isfinite(depth) ? std::max(depth, 0.0f) : 0.0f;
}

// World to clip. Camera space has +z ahead, +y up and screen-right along -x;
// the view window is half extents at distance 1 in perspective and the full
// extents in parallel.
bool makeView(const SceneRecord* s, const RwCamera* camera, View& view) {
  RwMatrix toCamera;
  if (!rwGlInvertAffine(camera->matrix, toCamera)) return false;
  float ww = camera->ww, wh = camera->wh;
  if (!(ww > 0.0f) || !(wh > 0.0f) || !std::isfinite(ww) || !std::isfinite(wh)) return false;
  view.eye = {camera->matrix.m[3][0], camera->matrix.m[3][1], camera->matrix.m[3][2]};
  view.forward = {camera->matrix.m[2][0], camera->matrix.m[2][1], camera->matrix.m[2][2]};
  float length = std::sqrt(view.forward.x * view.forward.x + view.forward.y * view.forward.y +
                           view.forward.z * view.forward.z);
  if (!(length > 0.0f)) return false;
  view.forward = {view.forward.x / length, view.forward.y / length, view.forward.z / length};
  view.parallel = camera->projection == RW_PARALLEL;

  // Far reaches past the scene so big worlds are not cut off; near follows
  // it so the depth buffer keeps its precision. Only so far, though: one
  // stray vertex a world puts at 1e30 would otherwise push near out past
  // everything else, or far to infinity.
  float farClip = std::isfinite(camera->farClip) && camera->farClip > 0.0f ? camera->farClip : 1000.0f;
  farClip = std::max(farClip, std::min(sceneDepth(s, view.eye, view.forward) * 1.01f, kMaxSceneDepth));
  float nearClip = std::isfinite(camera->nearClip) ? camera->nearClip : 0.0f;
  RwMatrix projection = {};
  if (view.parallel) {
    if (farClip <= nearClip) farClip = nearClip + 1.0f;
    projection.m[0][0] = -2.0f / ww;
    projection.m[1][1] = 2.0f / wh;
    projection.m[2][2] = 2.0f / (farClip - nearClip);
    projection.m[3][2] = -(farClip + nearClip) / (farClip - nearClip);
    projection.m[3][3] = 1.0f;
  } else {
    nearClip = std::max({nearClip, farClip * 1e-5f, 1e-6f});
    if (farClip <= nearClip) farClip = nearClip * 2.0f;
    projection.m[0][0] = -1.0f / ww;
    projection.m[1][1] = 1.0f / wh;
    projection.m[2][2] = (farClip + nearClip) / (farClip - nearClip);
    projection.m[3][2] = -2.0f * farClip * nearClip / (farClip - nearClip);
    projection.m[2][3] = 1.0f;
  }
  rwGlMultiply(toCamera, projection, view.viewProj);
  // Clip coordinates are p * viewProj; each side of the volume is a sum or
  // difference of the matrix's last column and another.
  const RwMatrix& m = view.viewProj;
  for (int side = 0; side < 6; ++side) {
    int axis = side / 2;
    float sign = side % 2 ? -1.0f : 1.0f;
    for (int i = 0; i < 4; ++i) view.planes[side][i] = m.m[i][3] + sign * m.m[i][axis];
  }
  return true;
}

bool boxInView(const View& view, const RwV3d& lo, const RwV3d& hi) {
  for (const float* p : view.planes) {
    float x = p[0] > 0 ? hi.x : lo.x, y = p[1] > 0 ? hi.y : lo.y, z = p[2] > 0 ? hi.z : lo.z;
    if (p[0] * x + p[1] * y + p[2] * z + p[3] < 0.0f) return false;
  }
  return true;
}

bool finite3(const RwV3d& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// What every surface program needs for a frame: the view and the lights.
void setFrameUniforms(const RwScene* scene, const View& view) {
  float pos[RW_GL_MAX_LIGHTS][4], dir[RW_GL_MAX_LIGHTS][4], color[RW_GL_MAX_LIGHTS][3];
  int count = 0;
  for (const RwLight* light : scene->lights) {
    if (count == RW_GL_MAX_LIGHTS) break;  // the rest are ignored
    if (!light || !light->on) continue;
    if (light->kind != RW_DIRECTIONAL && light->kind != RW_POINT && light->kind != RW_SPOT) continue;
    RwV3d v = light->vector;
    float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    bool aimed = light->kind != RW_POINT;
    if (aimed && !(length > 0.0f && std::isfinite(length))) continue;
    if (light->kind != RW_DIRECTIONAL && !finite3(light->position)) continue;
    float cone = std::clamp(std::isfinite(light->coneAngle) ? light->coneAngle : 180.0f, 0.0f, 180.0f);
    pos[count][0] = light->position.x;
    pos[count][1] = light->position.y;
    pos[count][2] = light->position.z;
    pos[count][3] = float(light->kind);
    dir[count][0] = aimed ? v.x / length : 0.0f;
    dir[count][1] = aimed ? v.y / length : 0.0f;
    dir[count][2] = aimed ? v.z / length : 0.0f;
    dir[count][3] = std::cos(cone * 0.017453292519943295f);
    float brightness = std::isfinite(light->brightness) ? std::max(light->brightness, 0.0f) : 0.0f;
    for (int c = 0; c < 3; ++c)
      color[count][c] = (std::isfinite(light->color[c]) ? std::max(light->color[c], 0.0f) : 0.0f) * brightness;
    ++count;
  }
  float ambient = std::isfinite(scene->ambient) ? std::max(scene->ambient, 0.0f) : 0.0f;
  for (const RwGlSurfaceProgram& p : rwGlPrograms.surface) {
    gl.UseProgram(p.program);
    gl.UniformMatrix4fv(p.viewProj, 1, GL_FALSE, &view.viewProj.m[0][0]);
    gl.Uniform1f(p.ambient, ambient);
    gl.Uniform3f(p.eye, view.eye.x, view.eye.y, view.eye.z);
    gl.Uniform3f(p.viewDir, view.forward.x, view.forward.y, view.forward.z);
    gl.Uniform1i(p.parallel, view.parallel ? 1 : 0);
    gl.Uniform1i(p.lightCount, count);
    if (count == 0) continue;
    gl.Uniform4fv(p.lightPos, count, &pos[0][0]);
    gl.Uniform4fv(p.lightDir, count, &dir[0][0]);
    gl.Uniform3fv(p.lightColor, count, &color[0][0]);
  }
}

// ---------------------------------------------------------------------------
// Drawing

// GL state is only touched when it differs from what was last set; the
// programs' own uniforms are remembered per program.
struct DrawState {
  int program = -1;
  int cull = -1;
  GLuint texture = 0;
  struct {
    int lit = -1, twoSided = -1;
    const ClumpRecord* model = nullptr;  // whose transform it holds; null: the world's
    bool modelSet = false;
  } of[2];
};

// Selects the program for a part and brings its state up to date. `owner`
// is the clump whose own mesh is drawn, or null for the shared mesh.
void setPartState(DrawState& st, const RwGlKey& key, const RwGlTexture* texture, const ClumpRecord* owner,
                  const float* normalMatrix) {
  int which = texture ? 1 : 0;
  const RwGlSurfaceProgram& p = rwGlPrograms.surface[which];
  auto& mine = st.of[which];
  if (which != st.program) {
    gl.UseProgram(p.program);
    st.program = which;
  }
  if (!mine.modelSet || mine.model != owner) {
    static const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    static const float unit[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    gl.UniformMatrix4fv(p.model, 1, GL_FALSE, owner ? &owner->ltm.m[0][0] : identity);
    gl.UniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, owner ? normalMatrix : unit);
    mine.model = owner;
    mine.modelSet = true;
  }
  int lit = key.lines ? 0 : 1;
  if (lit != mine.lit) {
    gl.Uniform1i(p.lit, lit);
    mine.lit = lit;
  }
  int twoSided = key.both ? 1 : 0;
  if (twoSided != mine.twoSided) {
    gl.Uniform1i(p.twoSided, twoSided);
    mine.twoSided = twoSided;
  }
  int cull = key.both ? 0 : 1;
  if (cull != st.cull) {
    if (cull) gl.Enable(GL_CULL_FACE);
    else gl.Disable(GL_CULL_FACE);
    st.cull = cull;
  }
  if (texture && texture->name != st.texture) {
    gl.BindTexture(GL_TEXTURE_2D, texture->name);
    st.texture = texture->name;
  }
}

// A part goes with the blended ones when its polygons or its texels are
// not opaque; the texture is looked at only when the part draws at all.
bool partBlends(const RwGlPart& part, RwGlTexture*& texture) {
  texture = part.key.texture ? rwGlPrepareTexture(part.key.texture) : nullptr;
  return part.key.alpha || (texture && texture->translucent);
}

// Whether the part draws in this pass from its own indices: blended parts
// with kept triangles draw in back-to-front order instead (drawSorted).
bool partPass(const RwGlPart& part, RwGlTexture*& texture, bool blendPass) {
  bool blends = partBlends(part, texture);
  return blends == blendPass && !(blends && part.sortable());
}

// Runs of consecutive indices of each shared part whose clumps are in view.
void listSharedRuns(SceneRecord* s) {
  const RwGlMesh& mesh = s->shared;
  s->partCounts.resize(mesh.parts.size());
  s->partOffsets.resize(mesh.parts.size());
  for (size_t p = 0; p < mesh.parts.size(); ++p) {
    std::vector<GLsizei>& counts = s->partCounts[p];
    std::vector<const void*>& offsets = s->partOffsets[p];
    counts.clear();
    offsets.clear();
    uint32_t runFirst = 0, runEnd = 0;
    for (const RwGlRange& range : mesh.parts[p].ranges) {
      auto* owner = static_cast<const ClumpRecord*>(range.owner);
      if (!owner || owner->visibleAt == SIZE_MAX) continue;
      if (runEnd == range.first && runEnd != runFirst) {
        runEnd += range.count;
        continue;
      }
      if (runEnd != runFirst) {
        counts.push_back(GLsizei(runEnd - runFirst));
        offsets.push_back(reinterpret_cast<const void*>(size_t(runFirst) * sizeof(uint32_t)));
      }
      runFirst = range.first;
      runEnd = range.first + range.count;
    }
    if (runEnd != runFirst) {
      counts.push_back(GLsizei(runEnd - runFirst));
      offsets.push_back(reinterpret_cast<const void*>(size_t(runFirst) * sizeof(uint32_t)));
    }
  }
}

void drawShared(SceneRecord* s, bool blendPass, DrawState& st) {
  const RwGlMesh& mesh = s->shared;
  if (!mesh.vao || s->partCounts.size() != mesh.parts.size()) return;
  bool bound = false;
  for (size_t p = 0; p < mesh.parts.size(); ++p) {
    const RwGlPart& part = mesh.parts[p];
    if (s->partCounts[p].empty()) continue;
    RwGlTexture* texture = nullptr;
    if (!partPass(part, texture, blendPass)) continue;
    if (!bound) {
      gl.BindVertexArray(mesh.vao);
      bound = true;
    }
    setPartState(st, part.key, texture, nullptr, nullptr);
    gl.MultiDrawElements(part.key.lines ? GL_LINES : GL_TRIANGLES, s->partCounts[p].data(), GL_UNSIGNED_INT,
                         s->partOffsets[p].data(), GLsizei(s->partCounts[p].size()));
  }
}

void drawOwn(ClumpRecord* r, bool blendPass, DrawState& st) {
  float normalMatrix[9];
  if (!rwGlNormalMatrix(r->ltm, normalMatrix)) return;  // flattened: nothing to see
  bool bound = false;
  for (const RwGlPart& part : r->own.parts) {
    RwGlTexture* texture = nullptr;
    if (!partPass(part, texture, blendPass)) continue;
    if (!bound) {
      // A mirroring transform turns the winding over.
      gl.FrontFace(rwGlDeterminant3(r->ltm) < 0.0f ? GL_CW : GL_CCW);
      gl.BindVertexArray(r->own.vao);
      bound = true;
    }
    setPartState(st, part.key, texture, r, normalMatrix);
    const void* first = reinterpret_cast<const void*>(size_t(part.first) * sizeof(uint32_t));
    GLenum mode = part.key.lines ? GL_LINES : GL_TRIANGLES;
    if (r->own.instanceCount)
      gl.DrawElementsInstanced(mode, GLsizei(part.count), GL_UNSIGNED_INT, first, GLsizei(r->own.instanceCount));
    else
      gl.DrawElements(mode, GLsizei(part.count), GL_UNSIGNED_INT, first);
  }
  if (bound) gl.FrontFace(GL_CCW);
}

// Floats as unsigned keys in the same order, negative ones included.
uint32_t orderBits(float d) {
  uint32_t u;
  memcpy(&u, &d, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

void collectTriangles(SceneRecord* s, const View& view, ClumpRecord* owner, const RwGlPart& part, uint32_t p,
                      uint32_t first, uint32_t count) {
  size_t kept = part.centroids.size() / 3;
  if (first >= kept) return;
  count = uint32_t(std::min<size_t>(count, kept - first));
  const RwMatrix* m = owner ? &owner->ltm : nullptr;
  const RwV3d& e = view.eye;
  const RwV3d& f = view.forward;
  for (uint32_t t = first; t < first + count; ++t) {
    const float* c = &part.centroids[size_t(t) * 3];
    float x = c[0], y = c[1], z = c[2];
    if (m) {
      float w[3];
      for (int j = 0; j < 3; ++j) w[j] = c[0] * m->m[0][j] + c[1] * m->m[1][j] + c[2] * m->m[2][j] + m->m[3][j];
      x = w[0], y = w[1], z = w[2];
    }
    float dx = x - e.x, dy = y - e.y, dz = z - e.z;
    float d = view.parallel ? dx * f.x + dy * f.y + dz * f.z : dx * dx + dy * dy + dz * dz;
    s->sortKeys.push_back(uint64_t(orderBits(d)) << 32 | uint64_t(s->sortTris.size()));
    s->sortTris.push_back({owner, p, t});
  }
}

// Orders the translucent triangles in view and writes each mesh's share of
// that order into its sorted index buffer.
void sortTranslucent(SceneRecord* s, const View& view) {
  s->sortKeys.clear();
  s->sortTris.clear();
  s->sortRuns.clear();
  s->sortMeshes.clear();
  for (uint32_t p = 0; p < s->shared.parts.size(); ++p) {
    const RwGlPart& part = s->shared.parts[p];
    if (!part.sortable()) continue;
    for (const RwGlRange& range : part.ranges) {
      auto* owner = static_cast<const ClumpRecord*>(range.owner);
      if (!owner || owner->visibleAt == SIZE_MAX || range.first < part.first) continue;
      collectTriangles(s, view, nullptr, part, p, (range.first - part.first) / 3, range.count / 3);
    }
  }
  for (ClumpRecord* r : s->visible.items) {
    if (r->baked || !r->own.vao) continue;
    for (uint32_t p = 0; p < r->own.parts.size(); ++p)
      if (r->own.parts[p].sortable()) collectTriangles(s, view, r, r->own.parts[p], p, 0, r->own.parts[p].count / 3);
  }
  if (s->sortKeys.empty()) return;
  std::sort(s->sortKeys.begin(), s->sortKeys.end(), std::greater<uint64_t>());

  // Each mesh gets a slot of staged indices, the shared mesh the first.
  auto slotOf = [&](ClumpRecord* owner) -> uint32_t {
    if (!owner) return 0;
    if (owner->sortFrame != s->frame) {
      owner->sortFrame = s->frame;
      owner->sortSlot = uint32_t(s->sortMeshes.size());
      s->sortMeshes.push_back(&owner->own);
    }
    return owner->sortSlot;
  };
  s->sortMeshes.push_back(&s->shared);
  for (auto& staged : s->sortStaging) staged.clear();
  for (uint64_t key : s->sortKeys) {
    const SceneRecord::SortTri& t = s->sortTris[key & 0xFFFFFFFFu];
    uint32_t slot = slotOf(t.owner);
    if (slot >= s->sortStaging.size()) s->sortStaging.resize(slot + 1);
    std::vector<uint32_t>& out = s->sortStaging[slot];
    if (s->sortRuns.empty() || s->sortRuns.back().owner != t.owner || s->sortRuns.back().part != t.part)
      s->sortRuns.push_back({t.owner, t.part, uint32_t(out.size()), 0});
    const RwGlMesh& mesh = *s->sortMeshes[slot];
    const uint32_t* corner = &mesh.parts[t.part].indices[size_t(t.tri) * 3];
    out.insert(out.end(), corner, corner + 3);
    s->sortRuns.back().count += 3;
  }
  for (size_t slot = 0; slot < s->sortMeshes.size(); ++slot)
    if (slot < s->sortStaging.size() && !s->sortStaging[slot].empty())
      rwGlUploadSorted(*s->sortMeshes[slot], s->sortStaging[slot]);  // a failure leaves it undrawn
}

void drawSorted(SceneRecord* s, DrawState& st) {
  const RwGlMesh* bound = nullptr;
  float normalMatrix[9];
  for (const SceneRecord::SortRun& run : s->sortRuns) {
    const RwGlMesh& mesh = run.owner ? run.owner->own : s->shared;
    if (!mesh.sortVao || run.part >= mesh.parts.size()) continue;
    const RwGlPart& part = mesh.parts[run.part];
    RwGlTexture* texture = nullptr;
    if (!partBlends(part, texture)) continue;  // its texture turned opaque: drawn with the opaque parts
    if (run.owner && !rwGlNormalMatrix(run.owner->ltm, normalMatrix)) continue;
    if (&mesh != bound) {
      gl.BindVertexArray(mesh.sortVao);
      gl.FrontFace(run.owner && rwGlDeterminant3(run.owner->ltm) < 0.0f ? GL_CW : GL_CCW);
      bound = &mesh;
    }
    setPartState(st, part.key, texture, run.owner, run.owner ? normalMatrix : nullptr);
    gl.DrawElements(GL_TRIANGLES, GLsizei(run.count), GL_UNSIGNED_INT,
                    reinterpret_cast<const void*>(size_t(run.first) * sizeof(uint32_t)));
  }
  gl.FrontFace(GL_CCW);
}

void drawPass(SceneRecord* s, bool blendPass) {
  DrawState st;
  drawShared(s, blendPass, st);
  for (ClumpRecord* r : s->visible.items)
    if (!r->baked && r->own.vao) drawOwn(r, blendPass, st);
}

bool ownSortable(const ClumpRecord* r) {
  for (const RwGlPart& part : r->own.parts)
    if (part.sortable()) return true;
  return false;
}

CameraKey cameraKey(const RwCamera* camera) {
  CameraKey key;
  memset(&key, 0, sizeof key);  // compared as bytes
  key.matrix = camera->matrix;
  key.ww = camera->ww, key.wh = camera->wh;
  key.nearClip = camera->nearClip, key.farClip = camera->farClip;
  key.projection = camera->projection;
  return key;
}

SceneRecord* sceneRecord(RwScene* scene) {
  auto* s = rwGlRecordOf<SceneRecord>(scene->gpu);
  if (!s) {
    s = new SceneRecord{};
    s->scene = scene;
    scene->treeChanged = true;  // records are made by a walk of everything
    rwGlTrackRecord(s, RW_GL_SCENE, &scene->gpu);
  }
  return s;
}

bool renderScene(RwScene* scene, RwCamera* camera) {
  if (!scene || !camera || !rwGlBindCamera(camera)) return false;
  SceneRecord* s = sceneRecord(scene);
  ++s->frame;
  s->changed.clear();
  s->allChanged = false;
  // What was laid out ahead holds only while nothing changed since.
  if (scene->treeChanged || !scene->touched.empty()) dropPrepared(s);
  syncScene(s);
  if (s->prepared) {
    std::unique_ptr<RwGlBuilder> prepared = std::move(s->prepared);
    finishShared(s, *prepared, s->preparedCorners);
  } else if (wantsRebuild(s, tallyPending(s))) {
    rebuildShared(s);
  }

  // Boxes, and own meshes, of what changed: of everything after a walk of
  // the whole tree or a rebuild.
  const std::vector<ClumpRecord*>& changed = s->allChanged ? s->drawable.items : s->changed;
  bool sceneGrew = false;
  for (ClumpRecord* r : changed) {
    if (r->drawableAt == SIZE_MAX) continue;
    if (!r->baked && !r->ownCurrent) {
      RwGlBuilder builder;
      rwGlAddClump(builder, r->clump, nullptr, r);
      if (rwGlFinishMesh(builder, r->own) && !r->clump->instances.empty()) rwGlAttachInstances(r->own, r->clump);
      r->ownCurrent = true;
      s->resort = true;  // its sorted indices went with the old mesh
    }
    findBox(r);
    if (!s->allChanged && r->hasBox && !boxWithin(r->boxMin, r->boxMax, s)) {
      growSceneBox(s, r->boxMin, r->boxMax);
      sceneGrew = true;
    }
  }
  // The scene's box only grows between full looks: a clump that moved
  // leaves its old place in it, which costs no more than a far plane a
  // little further off.
  if (s->allChanged) findSceneBox(s);

  CameraKey key = cameraKey(camera);
  bool newView = s->stale || !s->hasCamera || memcmp(&key, &s->camera, sizeof key) != 0;
  if (!newView && sceneGrew) {
    // The far plane follows the scene: a view that reaches further sees more.
    View grown;
    if (!makeView(s, camera, grown)) return false;
    newView = memcmp(&grown.viewProj, &s->view.viewProj, sizeof grown.viewProj) != 0;
  }
  if (newView) {
    // A new view: everything is looked at against it.
    s->hasCamera = false;
    if (!makeView(s, camera, s->view)) return false;
    s->camera = key;
    s->hasCamera = true;
    for (ClumpRecord* r : s->drawable.items) s->visible.put(r, r->hasBox && boxInView(s->view, r->boxMin, r->boxMax));
    for (size_t i = s->visible.items.size(); i-- > 0;)
      if (s->visible.items[i]->drawableAt == SIZE_MAX) s->visible.remove(s->visible.items[i]);
    s->stale = false;
    s->runsStale = s->resort = true;
  } else {
    // The same view: only what changed may have come into it or left it.
    for (ClumpRecord* r : s->changed) {
      bool in = r->drawableAt != SIZE_MAX && r->hasBox && boxInView(s->view, r->boxMin, r->boxMax);
      bool ownTranslucent = !r->baked && ownSortable(r);
      if (in != (r->visibleAt != SIZE_MAX)) {
        s->visible.put(r, in);
        if (r->baked) s->runsStale = s->resort = true;
      }
      if (ownTranslucent) s->resort = true;  // it may have moved past others
    }
  }
  if (s->runsStale) listSharedRuns(s);
  if (s->resort) sortTranslucent(s, s->view);
  s->runsStale = s->resort = false;
  gl.ActiveTexture(GL_TEXTURE0);
  setFrameUniforms(scene, s->view);

  drawPass(s, false);
  gl.Enable(GL_BLEND);
  gl.DepthMask(GL_FALSE);
  drawPass(s, true);
  DrawState st;
  drawSorted(s, st);
  gl.DepthMask(GL_TRUE);
  gl.Disable(GL_BLEND);
  gl.Disable(GL_CULL_FACE);
  gl.BindVertexArray(0);
  gl.UseProgram(0);
  return true;
}

}  // namespace

void rwGpuPrepareScene(RwScene* scene) {
  if (!scene) return;
  SceneRecord* s = nullptr;
  try {
    s = sceneRecord(scene);
    s->prepared.reset();  // an earlier layout may hold clumps where they were
    ++s->frame;
    s->changed.clear();
    s->allChanged = false;
    syncScene(s);
    if (!s->everBuilt && wantsRebuild(s, tallyPending(s))) {
      auto prepared = std::make_unique<RwGlBuilder>();
      s->preparedCorners = buildShared(s, *prepared);
      s->prepared = std::move(prepared);
    }
  } catch (const std::bad_alloc&) {
    if (s) s->prepared.reset();
  }
  // The frame still has to find every box and what is in view: let it walk
  // the whole tree again unless it finishes a prepared mesh, which makes it
  // look at everything anyway.
  if (!s || !s->prepared) scene->treeChanged = true;
}

bool rwGpuRenderScene(RwScene* scene, RwCamera* camera) {
  if (!rwGpuAwait()) return false;  // a device that never came up
  try {
    return renderScene(scene, camera);
  } catch (const std::bad_alloc&) {
    gl.DepthMask(GL_TRUE);
    gl.Disable(GL_BLEND);
    // What was kept between frames may be half made: look at everything
    // again next time.
    if (scene) scene->treeChanged = true;
    if (auto* s = scene ? rwGlRecordOf<SceneRecord>(scene->gpu) : nullptr) s->stale = true;
    rwSetError(RW_E_NOMEM);
    return false;
  }
}

void rwGlReleaseScene(RwGlRecord* header) {
  auto* s = static_cast<SceneRecord*>(header);
  for (ClumpRecord* r : s->clumps) {
    rwGlDeleteMesh(r->own);
    r->clump->gpu = nullptr;
    delete r;
  }
  s->clumps.clear();
  rwGlDeleteMesh(s->shared);
  rwGlUntrackRecord(header);
  delete s;
}

void rwGpuForgetScene(RwScene* scene) {
  if (scene && scene->gpu) rwGlReleaseScene(rwGlRecordOf<SceneRecord>(scene->gpu));
}

// Only the clump itself: whoever frees a tree forgets each of its clumps,
// and going down from each would cost the depth of the tree again.
void rwGpuForgetClump(RwClump* clump) {
  if (clump && clump->gpu) detachClump(static_cast<ClumpRecord*>(clump->gpu));
}
