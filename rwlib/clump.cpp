// clump.cpp — clumps: vertices, polygons, their place in a tree of clumps
// and a scene, and their transforms. Every change goes through rwTouch.
#include <algorithm>
#include <cmath>
#include <new>

#include "rwlib/cpupriv.h"

namespace {

// Hints are only hints: a hostile count must not reserve gigabytes.
constexpr int kMaxReserve = 1 << 16;
// Far beyond any real mesh, low enough that indices stay positive int32.
constexpr size_t kMaxVertices = 1u << 26;
constexpr size_t kMaxCorners = 1u << 27;

bool finite3(float x, float y, float z) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

void identity(RwMatrix* m) { rwIdentityMatrix(m); }

RwClump* newClump() {
  auto* clump = new (std::nothrow) RwClump();
  if (!clump) return nullptr;
  identity(&clump->matrix);
  clump->on = RW_ON;
  clump->hints = RW_HINT_BATCHED;
  return clump;
}

// Frees a clump and its subtree without touching its parent or scene. The
// subtree goes one clump at a time through its own children lists, so
// neither the depth of the tree nor memory for a stack can stop it.
void freeClump(RwClump* clump) {
  clump->parent = nullptr;
  while (clump) {
    if (!clump->children.empty()) {
      RwClump* child = clump->children.back();
      clump->children.pop_back();
      child->parent = clump;  // the way back up once its own subtree is gone
      clump = child;
      continue;
    }
    RwClump* up = clump->parent;
    if (RwScene* scene = clump->queuedIn) {
      auto& list = scene->touched;
      std::replace(list.begin(), list.end(), clump, static_cast<RwClump*>(nullptr));
    }
    rwGpuForgetClump(clump);
    for (RwPolygon& p : clump->polygons)
      if (p.texture) rwReleaseTexture(p.texture);
    rwPickForgetClump(clump);
    delete clump;
    clump = up;
  }
}

bool validVertex(const RwClump* clump, int32_t vertex) {
  return clump && vertex >= 1 && size_t(vertex) <= clump->vertices.size();
}

RwClump* copyTree(const RwClump* from) {
  RwClump* to = newClump();
  if (!to) return nullptr;
  try {
    to->vertices = from->vertices;
    to->corners = from->corners;
    to->cornerUV = from->cornerUV;
    std::deque<RwPolygon> polygons = from->polygons;  // references taken once it is whole
    for (RwPolygon& p : polygons) {
      p.clump = to;
      if (p.texture) ++p.texture->refs;
    }
    to->polygons = std::move(polygons);
    to->instances = from->instances;
    to->instanceMin = from->instanceMin;
    to->instanceMax = from->instanceMax;
    to->matrix = from->matrix;
    to->on = from->on;
    to->data = from->data;
    to->tag = from->tag;
    to->hints = from->hints;
    to->normalsValid = from->normalsValid;
    to->boundsValid = from->boundsValid;
    to->boundsMin = from->boundsMin;
    to->boundsMax = from->boundsMax;
    to->children.reserve(from->children.size());
    for (const RwClump* child : from->children) {
      RwClump* c = copyTree(child);
      if (!c) {
        freeClump(to);
        return nullptr;
      }
      c->parent = to;
      to->children.push_back(c);
    }
  } catch (const std::bad_alloc&) {
    freeClump(to);
    return nullptr;
  }
  return to;
}

}  // namespace

RwClump* rwCreateClump(int vertexCount, int polygonCount) {
  RwClump* clump = newClump();
  if (!clump) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  try {
    clump->vertices.reserve(size_t(std::clamp(vertexCount, 0, kMaxReserve)));
    clump->corners.reserve(size_t(std::clamp(polygonCount, 0, kMaxReserve)) * 4);
  } catch (const std::bad_alloc&) {
    delete clump;
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  return clump;
}

int rwDestroyClump(RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->parent)
    rwRemoveChildFromClump(clump);
  else if (clump->scene)
    rwRemoveClumpFromScene(clump);
  freeClump(clump);
  return 1;
}

int32_t rwAddVertexToClump(RwClump* clump, float x, float y, float z) {
  if (!clump || !finite3(x, y, z)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->vertices.size() >= kMaxVertices) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  try {
    RwVertex v{};
    v.p = RwV3d{x, y, z};
    clump->vertices.push_back(v);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  rwTouch(clump, RW_TOUCH_GEOMETRY);
  return int32_t(clump->vertices.size());
}

// A zero normal takes the explicit one away, so the vertex goes back to the
// mean of its polygons.
int rwSetVertexNormal(RwClump* clump, int32_t vertex, float nx, float ny, float nz) {
  if (!validVertex(clump, vertex) || !finite3(nx, ny, nz)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwVertex& v = clump->vertices[size_t(vertex) - 1];
  RwV3d n{nx, ny, nz};
  if (rwNormalize(&n)) {
    v.n = n;
    v.hasNormal = 1;
  } else {
    v.n = RwV3d{0.0f, 0.0f, 0.0f};
    v.hasNormal = 0;
  }
  rwTouch(clump, RW_TOUCH_GEOMETRY);
  return 1;
}

int rwSetVertexUV(RwClump* clump, int32_t vertex, float u, float v) {
  if (!validVertex(clump, vertex) || !std::isfinite(u) || !std::isfinite(v)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwVertex& vx = clump->vertices[size_t(vertex) - 1];
  vx.u = u;
  vx.v = v;
  vx.hasUV = 1;
  rwTouch(clump, RW_TOUCH_GEOMETRY);
  return 1;
}

int32_t rwGetClumpVertexCount(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return int32_t(clump->vertices.size());
}

int rwGetClumpVertex(const RwClump* clump, int32_t vertex, RwV3d* out) {
  if (!validVertex(clump, vertex) || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  *out = clump->vertices[size_t(vertex) - 1].p;
  return 1;
}

// An empty clump has no bounds: 0 with no error.
int rwGetClumpBounds(const RwClump* clump, RwV3d* min, RwV3d* max) {
  if (!clump || !min || !max) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->vertices.empty()) {
    rwSetError(RW_E_NONE);
    return 0;
  }
  rwUpdateBounds(const_cast<RwClump*>(clump));
  *min = clump->boundsMin;
  *max = clump->boundsMax;
  if (!clump->instances.empty()) {
    const RwV3d &lo = clump->instanceMin, &hi = clump->instanceMax;
    *min = {min->x + lo.x, min->y + lo.y, min->z + lo.z};
    *max = {max->x + hi.x, max->y + hi.y, max->z + hi.z};
  }
  return 1;
}

int rwAddClumpInstances(RwClump* clump, int count, const RwV3d* offsets) {
  if (!clump || count < 0 || (count > 0 && !offsets)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  for (int i = 0; i < count; ++i)
    if (!std::isfinite(offsets[i].x) || !std::isfinite(offsets[i].y) || !std::isfinite(offsets[i].z)) {
      rwSetError(RW_E_BADPARAM);
      return 0;
    }
  if (count == 0) return 1;
  try {
    clump->instances.insert(clump->instances.end(), offsets, offsets + count);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  RwV3d& lo = clump->instanceMin;
  RwV3d& hi = clump->instanceMax;
  if (size_t(count) == clump->instances.size()) lo = hi = offsets[0];
  for (int i = 0; i < count; ++i) {
    const RwV3d& o = offsets[i];
    lo = {std::min(lo.x, o.x), std::min(lo.y, o.y), std::min(lo.z, o.z)};
    hi = {std::max(hi.x, o.x), std::max(hi.y, o.y), std::max(hi.z, o.z)};
  }
  rwTouch(clump, RW_TOUCH_GEOMETRY);
  return 1;
}

int32_t rwGetClumpInstanceCount(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return int32_t(clump->instances.size());
}

int rwGetClumpInstance(const RwClump* clump, int32_t index, RwV3d* out) {
  if (!clump || !out || index < 0 || size_t(index) >= clump->instances.size()) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  *out = clump->instances[size_t(index)];
  return 1;
}

RwPolygon* rwNewPolygon(RwClump* clump, int count, const uint32_t* corners) {
  if (clump->corners.size() + size_t(count) > kMaxCorners) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  size_t first = clump->corners.size();
  try {
    clump->corners.insert(clump->corners.end(), corners, corners + count);
    clump->cornerUV.resize(clump->corners.size() * 2, 0.0f);
    clump->polygons.emplace_back();
  } catch (const std::bad_alloc&) {
    clump->corners.resize(first);
    clump->cornerUV.resize(first * 2);
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  RwPolygon& p = clump->polygons.back();
  const RwSurfaceState* s = rwCurrentSurface();
  p = RwPolygon{};
  p.clump = clump;
  p.first = uint32_t(first);
  p.count = uint32_t(count);
  p.normal = rwNewellNormal(clump, p.first, p.count);
  if (!rwNormalize(&p.normal)) p.normal = RwV3d{0.0f, 0.0f, 0.0f};
  p.ambient = s->ambient;
  p.diffuse = s->diffuse;
  p.specular = s->specular;
  for (int i = 0; i < 3; ++i) p.color[i] = s->color[i];
  p.opacity = s->opacity;
  p.lightSampling = int16_t(s->lightSampling);
  p.geometrySampling = int16_t(s->geometrySampling);
  p.drawMode = RW_DRAW_BOTH;
  p.index = uint32_t(clump->polygons.size() - 1);
  rwTouch(clump, RW_TOUCH_GEOMETRY);
  return &p;
}

RwPolygon* rwAddPolygonToClump(RwClump* clump, int count, const int32_t* vertices) {
  if (!clump || !vertices || count < 3 || size_t(count) > kMaxCorners) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  std::vector<uint32_t> corners;
  try {
    corners.resize(size_t(count));
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return nullptr;
  }
  for (int i = 0; i < count; ++i) {
    if (!validVertex(clump, vertices[i])) {
      rwSetError(RW_E_BADPARAM);
      return nullptr;
    }
    corners[size_t(i)] = uint32_t(vertices[i] - 1);
  }
  return rwNewPolygon(clump, count, corners.data());
}

int32_t rwGetClumpPolygonCount(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return int32_t(clump->polygons.size());
}

int rwSetClumpState(RwClump* clump, int on) {
  if (!clump || (on != RW_ON && on != RW_OFF)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->on != on) {
    clump->on = on;
    rwTouch(clump, RW_TOUCH_STATE);
  }
  return 1;
}

int rwGetClumpState(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return clump->on;
}

int rwSetClumpData(RwClump* clump, void* data) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  clump->data = data;
  return 1;
}

void* rwGetClumpData(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  return clump->data;
}

int rwSetClumpTag(RwClump* clump, int32_t tag) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  clump->tag = tag;
  return 1;
}

int32_t rwGetClumpTag(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  return clump->tag;
}

int rwTransformClump(RwClump* clump, const RwMatrix* matrix, int combine) {
  if (!clump || !matrix) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(matrix->m[r][c])) {
        rwSetError(RW_E_BADPARAM);
        return 0;
      }
  switch (combine) {
    case RW_REPLACE: clump->matrix = *matrix; break;
    case RW_PRECONCAT: rwMultiplyMatrix(matrix, &clump->matrix, &clump->matrix); break;
    case RW_POSTCONCAT: rwMultiplyMatrix(&clump->matrix, matrix, &clump->matrix); break;
    default: rwSetError(RW_E_BADPARAM); return 0;
  }
  rwTouch(clump, RW_TOUCH_TRANSFORM);
  return 1;
}

int rwGetClumpMatrix(const RwClump* clump, RwMatrix* out) {
  if (!clump || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  *out = clump->matrix;
  return 1;
}

void rwComputeLTM(const RwClump* clump, RwMatrix* out) {
  *out = clump->matrix;
  for (const RwClump* p = clump->parent; p; p = p->parent) rwMultiplyMatrix(out, &p->matrix, out);
}

int rwGetClumpLTM(const RwClump* clump, RwMatrix* out) {
  if (!clump || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  rwComputeLTM(clump, out);
  return 1;
}

int rwRemoveHint(RwClump* clump, int hint) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if (clump->hints & uint32_t(hint)) {
    clump->hints &= ~uint32_t(hint);
    rwTouch(clump, RW_TOUCH_TREE);  // it leaves its batch
  }
  return 1;
}

int rwAddHint(RwClump* clump, int hint) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  if ((clump->hints & uint32_t(hint)) != uint32_t(hint)) {
    clump->hints |= uint32_t(hint);
    rwTouch(clump, RW_TOUCH_TREE);
  }
  return 1;
}

int rwForAllPolygonsInClump(RwClump* clump, int (*fn)(RwPolygon* polygon, void* arg), void* arg) {
  if (!clump || !fn) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  // By index: fn may add polygons, and the deque keeps earlier ones in place.
  for (size_t i = 0; i < clump->polygons.size(); ++i)
    if (fn(&clump->polygons[i], arg) != 1) {
      rwSetError(RW_E_NONE);
      return 0;
    }
  return 1;
}

RwClump* rwDuplicateClump(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  RwClump* copy = copyTree(clump);
  if (!copy) rwSetError(RW_E_NOMEM);
  return copy;
}

int rwAddChildToClump(RwClump* parent, RwClump* child) {
  if (!parent || !child) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  for (const RwClump* a = parent; a; a = a->parent)
    if (a == child) {  // it would become its own ancestor
      rwSetError(RW_E_BADPARAM);
      return 0;
    }
  if (child->parent == parent) return 1;
  try {
    parent->children.reserve(parent->children.size() + 1);
  } catch (const std::bad_alloc&) {
    rwSetError(RW_E_NOMEM);
    return 0;
  }
  if (child->parent) rwRemoveChildFromClump(child);
  if (child->scene) rwRemoveClumpFromScene(child);
  parent->children.push_back(child);
  child->parent = parent;
  rwTouch(parent, RW_TOUCH_TREE);
  rwTouch(child, RW_TOUCH_TRANSFORM);  // its LTM now goes through the parent
  return 1;
}

int rwRemoveChildFromClump(RwClump* child) {
  if (!child || !child->parent) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwClump* parent = child->parent;
  rwTouch(parent, RW_TOUCH_TREE);
  auto it = std::find(parent->children.begin(), parent->children.end(), child);
  if (it != parent->children.end()) parent->children.erase(it);
  child->parent = nullptr;
  rwTouch(child, RW_TOUCH_TRANSFORM);
  return 1;
}

RwClump* rwGetClumpParent(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  return clump->parent;
}

RwClump* rwGetFirstChildClump(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  return clump->children.empty() ? nullptr : clump->children.front();
}

RwClump* rwGetNextSiblingClump(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  if (!clump->parent) return nullptr;
  const auto& siblings = clump->parent->children;
  auto it = std::find(siblings.begin(), siblings.end(), clump);
  if (it == siblings.end() || ++it == siblings.end()) return nullptr;
  return *it;
}

RwClump* rwFindTaggedClump(const RwClump* parent, int32_t tag) {
  if (!parent) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  for (RwClump* c : parent->children)
    if (c->tag == tag) return c;
  return nullptr;
}

RwScene* rwGetClumpScene(const RwClump* clump) {
  if (!clump) {
    rwSetError(RW_E_BADPARAM);
    return nullptr;
  }
  while (clump->parent) clump = clump->parent;
  return clump->scene;
}
