// gl.cpp — drawing a scene into the camera being updated.
//
// A scene keeps one shared mesh of its batched clumps, baked into world
// coordinates, so a world of thousands of clumps draws in a handful of
// calls. Clumps without the batched hint, and batched ones that moved after
// they were baked, draw from meshes of their own with their transform, so an
// animated object never makes the world rebuild.
//
// Every frame walks the clump tree once: it works out each clump's
// transform and whether it and all its ancestors are on, and notices what
// changed since the last frame by the clump's versions and its transform.
// Switching clumps on and off only changes which index runs of the shared
// mesh are drawn. A batched clump that is new or whose polygons changed
// draws on its own until it has settled, and then joins the shared mesh at
// its next rebuild; rebuilds are spaced out so a world still loading does
// not rebuild every frame.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "rwlib/gl_priv.h"

namespace {

// Frames a batched clump stays unchanged before it joins the shared mesh.
constexpr uint32_t kSettleFrames = 3;
// Frames at least between two rebuilds of the shared mesh after the first.
constexpr uint32_t kRebuildGap = 10;

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
  uint32_t seenFrame, visibleFrame;
  std::vector<std::pair<uint32_t, uint32_t>> bakedRanges;  // (part, range) in the shared mesh
  RwGlMesh own;
  bool ownCurrent;
};

struct SceneRecord : RwGlRecord {
  RwScene* scene;
  std::vector<ClumpRecord*> clumps;
  RwGlMesh shared;
  bool everBuilt;
  uint32_t frame, builtFrame;
  uint64_t deadIndices;  // of clumps that left the shared mesh since it was built
  // Per-frame scratch, kept to spare allocations.
  std::vector<ClumpRecord*> visible;
  std::vector<GLsizei> counts;
  std::vector<const void*> offsets;
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
}

void detachClump(ClumpRecord* r) {
  SceneRecord* s = r->scene;
  unbake(r);
  rwGlDeleteMesh(r->own);
  ClumpRecord* last = s->clumps.back();
  s->clumps[r->index] = last;
  last->index = r->index;
  s->clumps.pop_back();
  r->clump->gpu = nullptr;
  delete r;
}

struct Tally {
  uint32_t pending = 0;  // batched clumps drawn on their own
  uint32_t settled = 0;  // of which unchanged for kSettleFrames
};

void syncClump(SceneRecord* s, RwClump* clump, const RwMatrix& ltm, bool visible, Tally& tally) {
  auto* r = static_cast<ClumpRecord*>(clump->gpu);
  if (r && r->scene != s) {  // moved here from another scene
    detachClump(r);
    r = nullptr;
  }
  if (!r) {
    r = new ClumpRecord{};
    r->clump = clump;
    r->scene = s;
    r->index = s->clumps.size();
    s->clumps.push_back(r);
    clump->gpu = r;
    r->geometryVersion = clump->geometryVersion;
    r->ltm = ltm;
    r->changedFrame = s->frame;
  } else {
    if (clump->geometryVersion != r->geometryVersion) {
      r->geometryVersion = clump->geometryVersion;
      r->changedFrame = s->frame;
      r->ownCurrent = false;
      unbake(r);
    }
    if (memcmp(&ltm, &r->ltm, sizeof ltm) != 0) {
      r->ltm = ltm;
      r->moved = true;
      r->changedFrame = s->frame;
      unbake(r);
    }
  }
  r->seenFrame = s->frame;
  r->mayBake = (clump->hints & RW_HINT_BATCHED) && !r->moved && !clump->polygons.empty();
  if (!r->mayBake) unbake(r);
  if (r->mayBake && !r->baked) {
    ++tally.pending;
    if (s->frame - r->changedFrame >= kSettleFrames) ++tally.settled;
  }
  if (visible && !clump->polygons.empty()) {
    r->visibleFrame = s->frame;
    s->visible.push_back(r);
  }
}

// Walks the tree without recursion: worlds nest deeper than a stack likes.
void syncScene(SceneRecord* s, Tally& tally) {
  struct Item {
    RwClump* clump;
    RwMatrix parent;
    bool parentOn;
  };
  RwMatrix identity = {};
  for (int i = 0; i < 4; ++i) identity.m[i][i] = 1.0f;
  std::vector<Item> stack;
  for (size_t i = s->scene->clumps.size(); i-- > 0;)
    if (s->scene->clumps[i]) stack.push_back({s->scene->clumps[i], identity, true});
  while (!stack.empty()) {
    Item item = stack.back();
    stack.pop_back();
    RwMatrix ltm;
    rwGlMultiply(item.clump->matrix, item.parent, ltm);
    bool on = item.parentOn && item.clump->on;
    syncClump(s, item.clump, ltm, on, tally);
    for (size_t i = item.clump->children.size(); i-- > 0;)
      if (item.clump->children[i]) stack.push_back({item.clump->children[i], ltm, on});
  }
  // Clumps no longer in the scene.
  for (size_t i = s->clumps.size(); i-- > 0;)
    if (s->clumps[i]->seenFrame != s->frame) detachClump(s->clumps[i]);
}

void rebuildShared(SceneRecord* s) {
  for (ClumpRecord* r : s->clumps) {
    r->bakedRanges.clear();
    r->baked = false;
  }
  RwGlBuilder builder;
  for (ClumpRecord* r : s->clumps)
    if (r->mayBake) rwGlAddClump(builder, r->clump, &r->ltm, r);
  rwGlFinishMesh(builder, s->shared);
  for (uint32_t p = 0; p < s->shared.parts.size(); ++p) {
    const RwGlPart& part = s->shared.parts[p];
    for (uint32_t i = 0; i < part.ranges.size(); ++i)
      static_cast<ClumpRecord*>(part.ranges[i].owner)->bakedRanges.push_back({p, i});
  }
  // Even a clump that gave no triangles counts as baked, or it would be
  // offered for the next rebuild forever.
  for (ClumpRecord* r : s->clumps) {
    if (!r->mayBake) continue;
    r->baked = true;
    r->ownCurrent = false;
    rwGlDeleteMesh(r->own);
  }
  s->deadIndices = 0;
  s->builtFrame = s->frame;
  s->everBuilt = true;
}

bool wantsRebuild(const SceneRecord* s, const Tally& tally) {
  if (!s->everBuilt) return tally.pending > 0;
  if (s->frame - s->builtFrame < kRebuildGap) return false;
  return tally.settled > 0 || s->deadIndices > s->shared.indexCount / 2;
}

// ---------------------------------------------------------------------------
// The view

struct View {
  RwMatrix viewProj;
  RwV3d eye, forward;
  bool parallel;
};

void growBox(RwV3d& lo, RwV3d& hi, bool& any, const RwV3d& p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return;
  if (!any) {
    lo = hi = p;
    any = true;
    return;
  }
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

// The farthest any drawn vertex lies along the view direction, or 0.
float sceneDepth(const SceneRecord* s, const RwV3d& eye, const RwV3d& forward) {
  RwV3d lo = {}, hi = {};
  bool any = false;
  if (s->shared.hasBounds) {
    growBox(lo, hi, any, s->shared.min);
    growBox(lo, hi, any, s->shared.max);
  }
  for (const ClumpRecord* r : s->visible) {
    if (r->baked || !r->own.hasBounds) continue;
    for (int c = 0; c < 8; ++c) {
      RwV3d p = {c & 1 ? r->own.max.x : r->own.min.x, c & 2 ? r->own.max.y : r->own.min.y,
                 c & 4 ? r->own.max.z : r->own.min.z};
      const RwMatrix& m = r->ltm;
      RwV3d w = {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
                 p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
                 p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
      growBox(lo, hi, any, w);
    }
  }
  if (!any) return 0.0f;
  float depth = 0.0f;
  for (int c = 0; c < 8; ++c) {
    RwV3d p = {c & 1 ? hi.x : lo.x, c & 2 ? hi.y : lo.y, c & 4 ? hi.z : lo.z};
    float d = (p.x - eye.x) * forward.x + (p.y - eye.y) * forward.y + (p.z - eye.z) * forward.z;
    depth = std::max(depth, d);
  }
  return std::isfinite(depth) ? depth : 0.0f;
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
  // it so the depth buffer keeps its precision.
  float farClip = std::isfinite(camera->farClip) && camera->farClip > 0.0f ? camera->farClip : 1000.0f;
  farClip = std::max(farClip, sceneDepth(s, view.eye, view.forward) * 1.01f);
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
  return true;
}

bool finite3(const RwV3d& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void setLights(const RwScene* scene) {
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
  const RwGlSurfaceProgram& p = rwGlPrograms.surface;
  gl.Uniform1i(p.lightCount, count);
  if (count == 0) return;
  gl.Uniform4fv(p.lightPos, count, &pos[0][0]);
  gl.Uniform4fv(p.lightDir, count, &dir[0][0]);
  gl.Uniform3fv(p.lightColor, count, &color[0][0]);
}

// ---------------------------------------------------------------------------
// Drawing

// GL state is only touched when it differs from what was last set.
struct DrawState {
  int cull = -1, textured = -1, lit = -1;
  GLuint texture = 0;
};

void setPartState(DrawState& st, const RwGlKey& key, const RwGlTexture* texture) {
  const RwGlSurfaceProgram& p = rwGlPrograms.surface;
  int cull = key.both ? 0 : 1;
  if (cull != st.cull) {
    if (cull) gl.Enable(GL_CULL_FACE);
    else gl.Disable(GL_CULL_FACE);
    st.cull = cull;
  }
  int textured = texture ? 1 : 0;
  if (textured != st.textured) {
    gl.Uniform1i(p.textured, textured);
    st.textured = textured;
  }
  if (texture && texture->name != st.texture) {
    gl.BindTexture(GL_TEXTURE_2D, texture->name);
    st.texture = texture->name;
  }
  int lit = key.lines ? 0 : 1;
  if (lit != st.lit) {
    gl.Uniform1i(p.lit, lit);
    st.lit = lit;
  }
}

// A part goes with the blended ones when its polygons or its texels are
// not opaque; the texture is looked at only when the part draws at all.
bool partPass(const RwGlPart& part, RwGlTexture*& texture) {
  texture = part.key.texture ? rwGlPrepareTexture(part.key.texture) : nullptr;
  return part.key.alpha || (texture && texture->translucent);
}

void drawShared(SceneRecord* s, bool blendPass, DrawState& st) {
  const RwGlMesh& mesh = s->shared;
  if (!mesh.vao) return;
  bool bound = false;
  for (const RwGlPart& part : mesh.parts) {
    // Runs of consecutive indices whose clumps are drawn this frame.
    s->counts.clear();
    s->offsets.clear();
    uint32_t runFirst = 0, runEnd = 0;
    for (const RwGlRange& range : part.ranges) {
      auto* owner = static_cast<const ClumpRecord*>(range.owner);
      if (!owner || owner->visibleFrame != s->frame) continue;
      if (runEnd == range.first && runEnd != runFirst) {
        runEnd += range.count;
        continue;
      }
      if (runEnd != runFirst) {
        s->counts.push_back(GLsizei(runEnd - runFirst));
        s->offsets.push_back(reinterpret_cast<const void*>(size_t(runFirst) * sizeof(uint32_t)));
      }
      runFirst = range.first;
      runEnd = range.first + range.count;
    }
    if (runEnd != runFirst) {
      s->counts.push_back(GLsizei(runEnd - runFirst));
      s->offsets.push_back(reinterpret_cast<const void*>(size_t(runFirst) * sizeof(uint32_t)));
    }
    if (s->counts.empty()) continue;
    RwGlTexture* texture = nullptr;
    if (partPass(part, texture) != blendPass) continue;
    if (!bound) {
      gl.BindVertexArray(mesh.vao);
      bound = true;
    }
    setPartState(st, part.key, texture);
    gl.MultiDrawElements(part.key.lines ? GL_LINES : GL_TRIANGLES, s->counts.data(), GL_UNSIGNED_INT,
                         s->offsets.data(), GLsizei(s->counts.size()));
  }
}

void drawOwn(ClumpRecord* r, bool blendPass, DrawState& st) {
  const RwGlSurfaceProgram& p = rwGlPrograms.surface;
  float normalMatrix[9];
  if (!rwGlNormalMatrix(r->ltm, normalMatrix)) return;  // flattened: nothing to see
  bool bound = false;
  for (const RwGlPart& part : r->own.parts) {
    RwGlTexture* texture = nullptr;
    if (partPass(part, texture) != blendPass) continue;
    if (!bound) {
      gl.UniformMatrix4fv(p.model, 1, GL_FALSE, &r->ltm.m[0][0]);
      gl.UniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, normalMatrix);
      gl.FrontFace(rwGlDeterminant3(r->ltm) < 0.0f ? GL_CW : GL_CCW);
      gl.BindVertexArray(r->own.vao);
      bound = true;
    }
    setPartState(st, part.key, texture);
    gl.DrawElements(part.key.lines ? GL_LINES : GL_TRIANGLES, GLsizei(part.count), GL_UNSIGNED_INT,
                    reinterpret_cast<const void*>(size_t(part.first) * sizeof(uint32_t)));
  }
  if (bound) {
    gl.FrontFace(GL_CCW);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const float unit[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    gl.UniformMatrix4fv(p.model, 1, GL_FALSE, identity);
    gl.UniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, unit);
  }
}

void drawPass(SceneRecord* s, bool blendPass) {
  DrawState st;
  drawShared(s, blendPass, st);
  for (ClumpRecord* r : s->visible)
    if (!r->baked && r->own.vao) drawOwn(r, blendPass, st);
}

}  // namespace

bool rwGpuRenderScene(RwScene* scene, RwCamera* camera) {
  if (!scene || !camera || !rwGlBindCamera(camera)) return false;
  auto* s = rwGlRecordOf<SceneRecord>(scene->gpu);
  if (!s) {
    s = new SceneRecord{};
    s->scene = scene;
    rwGlTrackRecord(s, RW_GL_SCENE, &scene->gpu);
  }
  ++s->frame;
  s->visible.clear();
  Tally tally;
  syncScene(s, tally);
  if (wantsRebuild(s, tally)) rebuildShared(s);
  for (ClumpRecord* r : s->visible) {
    if (r->baked || r->ownCurrent) continue;
    RwGlBuilder builder;
    rwGlAddClump(builder, r->clump, nullptr, r);
    rwGlFinishMesh(builder, r->own);
    r->ownCurrent = true;
  }

  View view;
  if (!makeView(s, camera, view)) return false;
  const RwGlSurfaceProgram& p = rwGlPrograms.surface;
  gl.UseProgram(p.program);
  gl.ActiveTexture(GL_TEXTURE0);
  gl.UniformMatrix4fv(p.viewProj, 1, GL_FALSE, &view.viewProj.m[0][0]);
  const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const float unit[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  gl.UniformMatrix4fv(p.model, 1, GL_FALSE, identity);
  gl.UniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, unit);
  gl.Uniform1f(p.ambient, std::isfinite(scene->ambient) ? std::max(scene->ambient, 0.0f) : 0.0f);
  gl.Uniform3f(p.eye, view.eye.x, view.eye.y, view.eye.z);
  gl.Uniform3f(p.viewDir, view.forward.x, view.forward.y, view.forward.z);
  gl.Uniform1i(p.parallel, view.parallel ? 1 : 0);
  setLights(scene);

  drawPass(s, false);
  gl.Enable(GL_BLEND);
  gl.DepthMask(GL_FALSE);
  drawPass(s, true);
  gl.DepthMask(GL_TRUE);
  gl.Disable(GL_BLEND);
  gl.Disable(GL_CULL_FACE);
  gl.BindVertexArray(0);
  gl.UseProgram(0);
  return true;
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

// A clump goes with its children, whether or not each is forgotten too.
void rwGpuForgetClump(RwClump* clump) {
  if (!clump) return;
  std::vector<RwClump*> stack = {clump};
  while (!stack.empty()) {
    RwClump* c = stack.back();
    stack.pop_back();
    if (c->gpu) detachClump(static_cast<ClumpRecord*>(c->gpu));
    for (RwClump* child : c->children)
      if (child) stack.push_back(child);
  }
}
