// gl_batch.cpp — turning clumps into GPU meshes.
//
// A corner's normal, colour and coordinates belong to its polygon, so each
// corner is a vertex of its own unless another corner of the clump has all
// the same attributes; sharing those halves what the vertex stage does on
// smooth and flat meshes alike. Polygons with the same look go to the same
// part, so a mesh of a hundred thousand
// polygons still draws in a few calls; each clump's indices stay contiguous
// within a part, so a switched-off clump is a gap in a run, not a rebuild.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <tuple>

#include "rwlib/gl_priv.h"

bool operator<(const RwGlKey& a, const RwGlKey& b) {
  // Blended parts last, so the opaque ones come first in a mesh.
  return std::make_tuple(a.alpha, a.texture, a.both, a.lines) <
         std::make_tuple(b.alpha, b.texture, b.both, b.lines);
}

namespace {

bool sameKey(const RwGlKey& a, const RwGlKey& b) {
  return a.texture == b.texture && a.alpha == b.alpha && a.both == b.both && a.lines == b.lines;
}

uint8_t unitByte(float value) {
  if (!(value > 0.0f)) return 0;  // also NaN
  if (value >= 1.0f) return 255;
  return uint8_t(value * 255.0f + 0.5f);
}

RwGlBuilder::Bucket& bucketFor(RwGlBuilder& b, const RwGlKey& key) {
  if (b.lastBucket < b.buckets.size() && sameKey(b.buckets[b.lastBucket].key, key))
    return b.buckets[b.lastBucket];
  for (size_t i = 0; i < b.buckets.size(); ++i) {
    if (sameKey(b.buckets[i].key, key)) {
      b.lastBucket = i;
      return b.buckets[i];
    }
  }
  b.buckets.push_back({key, {}, {}, 0});
  b.lastBucket = b.buckets.size() - 1;
  return b.buckets.back();
}

void transformPoint(const RwV3d& p, const RwMatrix& m, float out[3]) {
  for (int j = 0; j < 3; ++j) out[j] = p.x * m.m[0][j] + p.y * m.m[1][j] + p.z * m.m[2][j] + m.m[3][j];
}

void transformNormal(const RwV3d& n, const float* normalMatrix, float out[3]) {
  if (!normalMatrix) {
    out[0] = n.x, out[1] = n.y, out[2] = n.z;
    return;
  }
  for (int j = 0; j < 3; ++j)
    out[j] = n.x * normalMatrix[j] + n.y * normalMatrix[3 + j] + n.z * normalMatrix[6 + j];
  float length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
  if (length > 1e-20f)
    for (int j = 0; j < 3; ++j) out[j] /= length;
}

// The vertex layout, for the vertex array bound now over the buffer bound now.
void setAttributes(void) {
  const GLsizei stride = sizeof(RwGlVertex);
  auto offset = [](size_t offset) { return reinterpret_cast<const void*>(offset); };
  gl.EnableVertexAttribArray(0);
  gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, offset(offsetof(RwGlVertex, position)));
  gl.EnableVertexAttribArray(1);
  gl.VertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride, offset(offsetof(RwGlVertex, normal)));
  gl.EnableVertexAttribArray(2);
  gl.VertexAttribPointer(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride, offset(offsetof(RwGlVertex, color)));
  gl.EnableVertexAttribArray(3);
  gl.VertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride, offset(offsetof(RwGlVertex, surface)));
  gl.EnableVertexAttribArray(4);
  gl.VertexAttribPointer(4, 2, GL_FLOAT, GL_FALSE, stride, offset(offsetof(RwGlVertex, uv)));
}

// Whether a part's polygons are seen through now: the sorted drawing wants
// their triangles kept. A texture that turns translucent only later (a mask
// set after the mesh was built) is drawn blended but unsorted until the
// mesh is next rebuilt.
bool mayBeTranslucent(const RwGlKey& key) {
  if (key.lines) return false;
  if (key.alpha) return true;
  RwGlTexture* texture = key.texture ? rwGlPrepareTexture(key.texture) : nullptr;
  return texture && texture->translucent;
}

void keepTriangles(RwGlPart& part, const std::vector<uint32_t>& indices, const std::vector<RwGlVertex>& vertices) {
  part.indices = indices;
  part.centroids.resize(indices.size());
  for (size_t t = 0; t + 2 < indices.size(); t += 3) {
    const float* a = vertices[indices[t]].position;
    const float* b = vertices[indices[t + 1]].position;
    const float* c = vertices[indices[t + 2]].position;
    for (int j = 0; j < 3; ++j) part.centroids[t + size_t(j)] = (a[j] + b[j] + c[j]) * (1.0f / 3.0f);
  }
}

bool isZero(const RwV3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

// An empty table for one clump's corners, at most half full.
void resetShared(RwGlBuilder& b, size_t corners) {
  size_t size = 16;
  while (size < corners * 2) size *= 2;
  b.slots.assign(size, UINT32_MAX);
}

uint32_t shareVertex(RwGlBuilder& b, const RwGlVertex& v) {
  static_assert(sizeof(RwGlVertex) == 40, "vertices are compared as bytes");
  uint32_t words[10];
  memcpy(words, &v, sizeof words);
  uint64_t h = 1469598103934665603ull;
  for (uint32_t w : words) h = (h ^ w) * 1099511628211ull;
  size_t mask = b.slots.size() - 1;
  for (size_t i = size_t(h ^ (h >> 29)) & mask;; i = (i + 1) & mask) {
    uint32_t slot = b.slots[i];
    if (slot == UINT32_MAX) {
      b.slots[i] = uint32_t(b.vertices.size());
      b.vertices.push_back(v);
      return b.slots[i];
    }
    if (memcmp(&b.vertices[slot], &v, sizeof v) == 0) return slot;
  }
}

void growBounds(RwGlBuilder& b, const float p[3]) {
  if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return;
  if (!b.clumpHasBounds) {
    b.clumpMin = b.clumpMax = {p[0], p[1], p[2]};
    b.clumpHasBounds = true;
    return;
  }
  b.clumpMin = {std::min(b.clumpMin.x, p[0]), std::min(b.clumpMin.y, p[1]), std::min(b.clumpMin.z, p[2])};
  b.clumpMax = {std::max(b.clumpMax.x, p[0]), std::max(b.clumpMax.y, p[1]), std::max(b.clumpMax.z, p[2])};
}

}  // namespace

void rwGlReserve(RwGlBuilder& b, size_t corners) {
  b.vertices.reserve(b.vertices.size() + corners);
}

void rwGlAddClump(RwGlBuilder& b, RwClump* clump, const RwMatrix* bake, void* owner) {
  b.clumpHasBounds = false;
  if (!clump || clump->polygons.empty()) return;
  ++b.serial;
  bool vertexLit = false;
  for (const RwPolygon& polygon : clump->polygons)
    if (polygon.lightSampling == RW_VERTEX) vertexLit = true;
  if (vertexLit && !clump->normalsValid) rwUpdateVertexNormals(clump);

  float normalMatrix[9];
  const float* carry = nullptr;
  bool mirrored = false;
  if (bake) {
    if (!rwGlNormalMatrix(*bake, normalMatrix)) return;  // flattened to nothing: nothing to see
    carry = normalMatrix;
    mirrored = rwGlDeterminant3(*bake) < 0.0f;
  }
  const size_t vertexCount = clump->vertices.size();
  const size_t cornerCount = clump->corners.size();
  resetShared(b, cornerCount);

  for (const RwPolygon& polygon : clump->polygons) {
    bool lines = polygon.geometrySampling == RW_WIREFRAME;
    uint32_t count = polygon.count;
    if (count < (lines ? 2u : 3u)) continue;
    if (size_t(polygon.first) + count > cornerCount) continue;
    bool cornersValid = true;
    for (uint32_t k = 0; k < count; ++k)
      if (clump->corners[polygon.first + k] >= vertexCount) cornersValid = false;
    if (!cornersValid) continue;
    bool cornerUV = polygon.hasUV && clump->cornerUV.size() >= (size_t(polygon.first) + count) * 2;
    if (uint64_t(b.vertices.size()) + count >= UINT32_MAX) break;  // beyond what 32-bit indices reach

    RwGlKey key = {polygon.texture, uint8_t(unitByte(polygon.opacity) < 255), 
                   uint8_t(polygon.drawMode != RW_DRAW_FRONT), uint8_t(lines)};
    RwGlBuilder::Bucket& bucket = bucketFor(b, key);
    if (bucket.lastSerial != b.serial) {
      bucket.lastSerial = b.serial;
      bucket.ranges.push_back({owner, uint32_t(bucket.indices.size()), 0});
    }

    uint8_t color[4] = {unitByte(polygon.color[0]), unitByte(polygon.color[1]),
                        unitByte(polygon.color[2]), unitByte(polygon.opacity)};
    uint8_t surface[4] = {unitByte(polygon.ambient), unitByte(polygon.diffuse),
                          unitByte(polygon.specular), 0};
    b.cornerIndex.resize(count);
    for (uint32_t k = 0; k < count; ++k) {
      const RwVertex& vertex = clump->vertices[clump->corners[polygon.first + k]];
      RwGlVertex out;
      if (bake) transformPoint(vertex.p, *bake, out.position);
      else out.position[0] = vertex.p.x, out.position[1] = vertex.p.y, out.position[2] = vertex.p.z;
      const RwV3d& n = polygon.lightSampling == RW_VERTEX && !isZero(vertex.n) ? vertex.n : polygon.normal;
      transformNormal(n, carry, out.normal);
      std::copy_n(color, 4, out.color);
      std::copy_n(surface, 4, out.surface);
      if (cornerUV) {
        out.uv[0] = clump->cornerUV[(polygon.first + k) * 2];
        out.uv[1] = clump->cornerUV[(polygon.first + k) * 2 + 1];
      } else if (vertex.hasUV) {
        out.uv[0] = vertex.u, out.uv[1] = vertex.v;
      } else {
        out.uv[0] = out.uv[1] = 0.0f;
      }
      growBounds(b, out.position);
      b.cornerIndex[k] = shareVertex(b, out);
    }

    const uint32_t* index = b.cornerIndex.data();
    if (lines) {
      uint32_t edges = count == 2 ? 1 : count;
      for (uint32_t k = 0; k < edges; ++k) {
        bucket.indices.push_back(index[k]);
        bucket.indices.push_back(index[(k + 1) % count]);
      }
    } else {
      b.triangles.clear();
      rwTriangulate(clump, &polygon, b.triangles);
      for (size_t t = 0; t + 2 < b.triangles.size(); t += 3) {
        uint32_t i0 = b.triangles[t], i1 = b.triangles[t + 1], i2 = b.triangles[t + 2];
        if (i0 >= count || i1 >= count || i2 >= count) continue;
        // A mirroring transform turns the winding over; turn it back so the
        // front stays the side the normal points to.
        if (mirrored) std::swap(i1, i2);
        bucket.indices.push_back(index[i0]);
        bucket.indices.push_back(index[i1]);
        bucket.indices.push_back(index[i2]);
      }
    }
    bucket.ranges.back().count = uint32_t(bucket.indices.size()) - bucket.ranges.back().first;
  }
}

bool rwGlFinishMesh(RwGlBuilder& b, RwGlMesh& mesh) {
  rwGlDeleteMesh(mesh);
  rwGlOutOfMemory();  // errors from before are not this mesh's
  std::sort(b.buckets.begin(), b.buckets.end(),
            [](const RwGlBuilder::Bucket& x, const RwGlBuilder::Bucket& y) { return x.key < y.key; });
  size_t total = 0;
  for (const auto& bucket : b.buckets) total += bucket.indices.size();
  if (total == 0 || b.vertices.empty()) {
    b = RwGlBuilder{};
    return false;
  }
  uint32_t placed = 0;
  try {
    for (auto& bucket : b.buckets) {
      if (bucket.indices.empty()) continue;
      RwGlPart part;
      part.key = bucket.key;
      part.first = placed;
      part.count = uint32_t(bucket.indices.size());
      for (const RwGlRange& range : bucket.ranges)
        if (range.count > 0) part.ranges.push_back({range.owner, part.first + range.first, range.count});
      if (mayBeTranslucent(part.key)) keepTriangles(part, bucket.indices, b.vertices);
      placed += part.count;
      mesh.parts.push_back(std::move(part));
    }
  } catch (const std::bad_alloc&) {
    mesh = RwGlMesh{};  // no buffers yet; half a list of parts is no mesh
    throw;
  }
  mesh.indexCount = total;

  mesh.hasBounds = true;
  mesh.min = mesh.max = {b.vertices[0].position[0], b.vertices[0].position[1], b.vertices[0].position[2]};
  for (const RwGlVertex& v : b.vertices) {
    mesh.min.x = std::min(mesh.min.x, v.position[0]), mesh.max.x = std::max(mesh.max.x, v.position[0]);
    mesh.min.y = std::min(mesh.min.y, v.position[1]), mesh.max.y = std::max(mesh.max.y, v.position[1]);
    mesh.min.z = std::min(mesh.min.z, v.position[2]), mesh.max.z = std::max(mesh.max.z, v.position[2]);
  }

  gl.GenVertexArrays(1, &mesh.vao);
  gl.GenBuffers(1, &mesh.vbo);
  gl.GenBuffers(1, &mesh.ibo);
  gl.BindVertexArray(mesh.vao);
  gl.BindBuffer(GL_ARRAY_BUFFER, mesh.vbo);
  gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(b.vertices.size() * sizeof(RwGlVertex)), b.vertices.data(),
                GL_STATIC_DRAW);
  // Each part's indices go straight from their bucket to their place.
  gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.ibo);
  gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(total * sizeof(uint32_t)), nullptr, GL_STATIC_DRAW);
  size_t at = 0;
  for (const auto& bucket : b.buckets) {
    if (bucket.indices.empty()) continue;
    gl.BufferSubData(GL_ELEMENT_ARRAY_BUFFER, GLintptr(at * sizeof(uint32_t)),
                     GLsizeiptr(bucket.indices.size() * sizeof(uint32_t)), bucket.indices.data());
    at += bucket.indices.size();
  }
  setAttributes();
  gl.BindVertexArray(0);
  gl.BindBuffer(GL_ARRAY_BUFFER, 0);
  b = RwGlBuilder{};
  if (rwGlOutOfMemory()) {  // drawing from buffers that are not there would read nothing sane
    rwGlDeleteMesh(mesh);
    return false;
  }
  return true;
}

void rwGlDeleteMesh(RwGlMesh& mesh) {
  if (mesh.vao) gl.DeleteVertexArrays(1, &mesh.vao);
  if (mesh.vbo) gl.DeleteBuffers(1, &mesh.vbo);
  if (mesh.ibo) gl.DeleteBuffers(1, &mesh.ibo);
  if (mesh.sortVao) gl.DeleteVertexArrays(1, &mesh.sortVao);
  if (mesh.sortIbo) gl.DeleteBuffers(1, &mesh.sortIbo);
  if (mesh.instanceVbo) gl.DeleteBuffers(1, &mesh.instanceVbo);
  mesh = RwGlMesh{};
}

bool rwGlAttachInstances(RwGlMesh& mesh, const RwClump* clump) {
  if (!mesh.vao || clump->instances.empty() || clump->instances.size() > UINT32_MAX) return false;
  rwGlOutOfMemory();
  static_assert(sizeof(RwV3d) == 3 * sizeof(float), "offsets go to the GPU as they are");
  gl.GenBuffers(1, &mesh.instanceVbo);
  gl.BindVertexArray(mesh.vao);
  gl.BindBuffer(GL_ARRAY_BUFFER, mesh.instanceVbo);
  gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(clump->instances.size() * sizeof(RwV3d)), clump->instances.data(),
                GL_STATIC_DRAW);
  gl.EnableVertexAttribArray(5);
  gl.VertexAttribPointer(5, 3, GL_FLOAT, GL_FALSE, sizeof(RwV3d), nullptr);
  gl.VertexAttribDivisor(5, 1);
  gl.BindVertexArray(0);
  gl.BindBuffer(GL_ARRAY_BUFFER, 0);
  if (rwGlOutOfMemory()) {
    rwGlDeleteMesh(mesh);
    return false;
  }
  mesh.instanceCount = uint32_t(clump->instances.size());
  const RwV3d &lo = clump->instanceMin, &hi = clump->instanceMax;
  mesh.min = {mesh.min.x + lo.x, mesh.min.y + lo.y, mesh.min.z + lo.z};
  mesh.max = {mesh.max.x + hi.x, mesh.max.y + hi.y, mesh.max.z + hi.z};
  for (RwGlPart& part : mesh.parts) {
    part.indices = {};
    part.centroids = {};
  }
  return true;
}

bool rwGlUploadSorted(RwGlMesh& mesh, const std::vector<uint32_t>& indices) {
  if (!mesh.vbo || indices.empty()) return false;
  rwGlOutOfMemory();
  if (!mesh.sortVao) {
    gl.GenVertexArrays(1, &mesh.sortVao);
    gl.GenBuffers(1, &mesh.sortIbo);
    gl.BindVertexArray(mesh.sortVao);
    gl.BindBuffer(GL_ARRAY_BUFFER, mesh.vbo);
    setAttributes();
    gl.BindBuffer(GL_ARRAY_BUFFER, 0);
    mesh.sortCapacity = 0;
  }
  gl.BindVertexArray(mesh.sortVao);
  gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.sortIbo);
  if (indices.size() > mesh.sortCapacity) {
    // Grown with room to spare: the translucent set in view changes as the
    // viewer walks, and a buffer made anew each frame would stall.
    mesh.sortCapacity = std::max(indices.size(), mesh.sortCapacity * 2);
    gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(mesh.sortCapacity * sizeof(uint32_t)), nullptr, GL_DYNAMIC_DRAW);
  }
  gl.BufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, GLsizeiptr(indices.size() * sizeof(uint32_t)), indices.data());
  gl.BindVertexArray(0);
  if (rwGlOutOfMemory()) {
    gl.DeleteVertexArrays(1, &mesh.sortVao);
    gl.DeleteBuffers(1, &mesh.sortIbo);
    mesh.sortVao = mesh.sortIbo = 0;
    mesh.sortCapacity = 0;
    return false;
  }
  return true;
}
