// faceset.cpp — IndexedFaceSet and IndexedLineSet into leaves. A set is read
// into a conversion table (coordinates, bindings, shape hints, and the index
// list split at -1 into items), every binding is resolved into per-item or
// per-vertex values, and then each face becomes one face leaf and each
// polyline one line leaf on the node's object. Also the four corners a
// cube's faces get when the scene gives no texture coordinates.
//
// Everything read from the file is hostile: every index is checked against
// the array it points into before it is used, and a bad one is reported and
// replaced, never followed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "vrml/traverse.h"

namespace {

// The table's binding codes. They outlive the conversion: the leaves keep
// them and the renderer reads them, so they are the scene model's numbers.
// After resolution only overall, per item indexed and per vertex indexed
// remain.
enum {
  kBindOverall = 1,
  kBindPerItem = 4,
  kBindPerItemIndexed = 5,
  kBindPerVertex = 6,
  kBindPerVertexIndexed = 7,
};

enum { kUnknownOrdering = 0, kClockwise = 1, kCounterClockwise = 2 };
enum { kUnknownShapeType = 0, kSolid = 1 };
enum { kUnknownFaceType = 0, kConvex = 1 };

// The face and line tables report the same events in slightly different
// words; users grep their logs for these, so each set keeps its own.
struct Texts {
  bool faces;
  const char* leafWho;
  const char* leafNoMemory;
  const char* materialBinding;
  const char* normalBinding;
  const char* shapeHints;
  const char* noCoordinate3;
  const char* noCoordinates;
  const char* stateInsufficient;
  const char* itemsInvalid;
  const char* badCoordinate;
  const char* noItems;
  const char* notEnoughColor;
  const char* runOutOfMaterialIndex;
  const char* badMaterialIndex;
  const char* overallWithoutNormal;
  const char* fewVerticesForNormal;
  const char* failMaterials;
  const char* failNormals;
};

const Texts kFaceTexts = {
    .faces = true,
    .leafWho = "QvIndexedFaceSet::createZvFace()",
    .leafNoMemory = "Couldn't allocate memory for ZvFace.",
    .materialBinding = "QvFaceTable::setInfoInQvMaterialBinding(): invalid value.",
    .normalBinding = "QvFaceTable::setInfoInQvNormalBinding(): invalid value.",
    .shapeHints = "QvFaceTable::setInfoInQvShapeHints(): invalid value.",
    .noCoordinate3 = "QvFaceTable::setCoords(): no Coordinate3 is defined.",
    .noCoordinates = "QvFaceTable::setCoords(): Coordinate3 has no coordinates.",
    .stateInsufficient = "QvIndexedFaceSet::createAndAddLeaves(): state info is insufficient.",
    .itemsInvalid = "QvIndexedFaceSet::createAndAddLeaves(): face info is invalid.",
    .badCoordinate = "QvFaceTable::initFace(): invalid coordinate index.",
    .noItems = "QvFaceTable::initFaces(): no faces?",
    .notEnoughColor = "QvFaceTable::setMaterialsPerFaceIndexed(): not enough color info for all faces.",
    .runOutOfMaterialIndex = "QvFaceTable::setMaterialsPerVertexIndexedInFace(): run out of materialIndex.",
    .badMaterialIndex = "QvFaceTable::setMaterialsOfFacesOrVertices(): invalid material index.",
    .overallWithoutNormal =
        "QvFaceTable::setNormalsOfFacesOrVertices(): no normal is defined when normalBinding = OVERALL.",
    .fewVerticesForNormal = "QvFaceTable::calcNormalOfFace(): a face has less than three vertices.",
    .failMaterials = "QvIndexedFaceSet::createAndAddLeaves(): fails to set materials.",
    .failNormals = "QvIndexedFaceSet::createAndAddLeaves(): fails to set normals.",
};

const Texts kLineTexts = {
    .faces = false,
    .leafWho = "QvIndexedLineSet::createZvLine",
    .leafNoMemory = "Couldn't allocate memory for ZvLine.",
    .materialBinding = "QvLineTable::setInfoInQvMaterialBinding(): Invalid value.",
    .normalBinding = "QvLineTable::setInfoInQvNormalBinding(): Invalid value.",
    .shapeHints = "QvLineTable::setInfoInQvShapeHints(): Invalid value.",
    .noCoordinate3 = "QvLineTable::setCoords(): No Coordinate3 is defined.",
    .noCoordinates = "QvLineTable::setCoords(): Coordinate3 has no coordinates.",
    .stateInsufficient = "QvIndexedLineSet::createAndAddLeaves(): State info is insufficient.",
    .itemsInvalid = "QvIndexedLineSet::createAndAddLeaves(): Line info is invalid.",
    .badCoordinate = "QvLineTable::initLine(): Invalid coordinate index.",
    .noItems = "QvLineTable::initLines(): no lines?",
    .notEnoughColor = "QvLineTable::setMaterialsPerLineIndexed(): not enough color info for all lines.",
    .runOutOfMaterialIndex = "QvLineTable::setMaterialsPerVertexIndexedInLine(): run out of materialIndex.",
    .badMaterialIndex = "QvLineTable::setMaterialsOfLinesOrVertices(): Invalid material index.",
    .overallWithoutNormal =
        "QvLineTable::setNormalsOfLinesOrVertices(): no normal is defined when normalBinding = OVERALL.",
    .fewVerticesForNormal = "QvLineTable::calcNormalOfLine(): a line has less than three vertices.",
    .failMaterials = "QvIndexedLineSet::createAndAddLeaves(): Fails to set materials.",
    .failNormals = "QvIndexedLineSet::createAndAddLeaves(): Fails to set normals.",
};

bool validIndex(int32_t value, size_t count) { return value >= 0 && size_t(value) < count; }

// The -1s of an index list, four at a time: the list is walked once more
// just for them, and a word at a time that walk was a tenth of a set's
// conversion. The list is shorter than INT32_MAX, so no lane overflows.
size_t countSeparators(const std::vector<int32_t>& list) {
  const int32_t* p = list.data();
  const size_t n = list.size();
  size_t i = 0, count = 0;
#ifdef __SSE2__
  const __m128i minus = _mm_set1_epi32(-1);
  __m128i lanes = _mm_setzero_si128();
  for (; i + 4 <= n; i += 4)
    lanes = _mm_sub_epi32(lanes, _mm_cmpeq_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), minus));
  alignas(16) uint32_t sums[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(sums), lanes);
  count = size_t(sums[0]) + sums[1] + sums[2] + sums[3];
#endif
  for (; i < n; ++i) count += p[i] == -1;
  return count;
}

// One material record: element i of each of the Material node's arrays, the
// last element when an array is shorter, the VRML default when it is empty.
struct MaterialRecord {
  ZvSFColor ambient, diffuse, specular, emissive;
  float shininess, transparency;
};

class MaterialSource {
 public:
  explicit MaterialSource(const QvMaterial* node = nullptr) : node_(node) {
    if (!node) return;
    for (size_t n : {node->ambientColor.values.size(), node->diffuseColor.values.size(),
                     node->specularColor.values.size(), node->emissiveColor.values.size(),
                     node->shininess.values.size(), node->transparency.values.size()})
      count_ = std::max(count_, n);
  }
  size_t count() const { return count_; }

  // The records of a set's material, each worked out the first time a
  // face asks for it: a set makes a leaf per face, and the faces of a mesh
  // share their records (one per vertex where colours follow coordIndex).
  // The table keeps its capacity from set to set.
  void cache() {
    cacheable_ = count_ <= kCached;
    if (cacheable_) ready().assign(count_, 0);
  }
  const MaterialRecord& at(size_t i) {
    if (cacheable_ && i < count_ && ready()[i]) return records()[i];
    return fill(i);
  }

 private:
  __attribute__((noinline)) const MaterialRecord& fill(size_t i) {
    if (cacheable_ && i < count_) {
      if (records().size() < count_) records().resize(count_);
      records()[i] = compute(i);
      ready()[i] = 1;
      return records()[i];
    }
    scratch_ = compute(i);
    return scratch_;
  }
  MaterialRecord compute(size_t i) const {
    MaterialRecord r{{0.2f, 0.2f, 0.2f}, {0.8f, 0.8f, 0.8f}, {0, 0, 0}, {0, 0, 0}, 0.2f, 0};
    if (!node_) return r;
    color(node_->ambientColor.values, i, &r.ambient);
    color(node_->diffuseColor.values, i, &r.diffuse);
    color(node_->specularColor.values, i, &r.specular);
    color(node_->emissiveColor.values, i, &r.emissive);
    scalar(node_->shininess.values, i, &r.shininess);
    scalar(node_->transparency.values, i, &r.transparency);
    return r;
  }

  // Past this many records a table would cost more to clear for every set
  // than the records it saves.
  static constexpr size_t kCached = 1 << 16;
  static void color(const std::vector<QvVec3>& v, size_t i, ZvSFColor* out) {
    if (v.empty()) return;
    const QvVec3& c = v[std::min(i, v.size() - 1)];
    *out = {c.v[0], c.v[1], c.v[2]};
  }
  static void scalar(const std::vector<float>& v, size_t i, float* out) {
    if (!v.empty()) *out = v[std::min(i, v.size() - 1)];
  }
  static std::vector<MaterialRecord>& records() {
    static std::vector<MaterialRecord> v;
    return v;
  }
  static std::vector<uint8_t>& ready() {
    static std::vector<uint8_t> v;
    return v;
  }
  const QvMaterial* node_;
  size_t count_ = 1;  // without a Material node: one default record
  bool cacheable_ = false;
  MaterialRecord scratch_;
};

struct IndexLists {
  const std::vector<int32_t>& coord;
  const std::vector<int32_t>& material;
  const std::vector<int32_t>& normal;
  const std::vector<int32_t>& texture;
};

// A vertex as the table holds it. coord is -1 when the file's index was out
// of range; such a vertex takes part in the numbering of positions but never
// reaches a leaf.
struct Vertex {
  int32_t coord;
  int32_t tex;
  int32_t material;
  int32_t normal;  // into the Normal node, -1: the item's computed normal
};

// A face or polyline: its vertices are vertices[first .. first + count), in
// stored (counter-clockwise) order; pos is where its entries start in
// coordIndex.
struct Item {
  size_t pos;
  size_t first;
  int32_t count;
  int32_t valid = 0;  // vertices with a usable coordinate
  int32_t material = 0;
  int32_t normal = -1;
  int8_t computedState = 0;  // 0 not tried, 1 computed, 2 cannot be computed
  bool vertexWithoutNormal = false;  // a usable vertex that will need the computed one
  float computed[3] = {0, 0, 0};
};

// The box of every face vertex written, as the object's cube would find
// it walking them afterwards; the object takes it with the faces.
struct Box {
  float min[3], max[3];
  bool any = false;
  // Written out axis by axis, not as a loop: with constant indices a copy
  // of the box can live in registers.
  void add(const float p[3]) {
    if (!any) {
      min[0] = max[0] = p[0];
      min[1] = max[1] = p[1];
      min[2] = max[2] = p[2];
      any = true;
      return;
    }
    // As conditional moves: which vertex extends the box is random.
    min[0] = p[0] < min[0] ? p[0] : min[0];
    max[0] = p[0] > max[0] ? p[0] : max[0];
    min[1] = p[1] < min[1] ? p[1] : min[1];
    max[1] = p[1] > max[1] ? p[1] : max[1];
    min[2] = p[2] < min[2] ? p[2] : min[2];
    max[2] = p[2] > max[2] ? p[2] : max[2];
  }
};

class SetTable {
 public:
  SetTable(const Texts& texts, const IndexLists& lists) : t_(texts), ix_(lists) {}

  int gather(QvState* state);
  int split();
  bool empty() const { return items_.empty(); }
  bool resolveMaterials();
  bool resolveNormals();
  int buildLeaves(QvState* state, ZvObj* object);

 private:
  void readBindings(QvState* state);
  void readShapeHints(QvState* state);
  void addItem(size_t pos, size_t count);
  // Where vertex j of an item came from in coordIndex (and so in the other
  // index lists): reversed items read their entries backwards.
  size_t position(const Item& item, size_t j) const {
    return item.pos + (clockwise_ ? size_t(item.count) - 1 - j : j);
  }
  int32_t checkedMaterial(int32_t index);
  const float* computedNormal(Item& item);

  ZvShape* newLeaf(Item& item, const ZvShape* texture, QvState* state, Box& box);
  static void copyTextureRecord(ZvTexture* t, const ZvShape* from) {
    t->texture = from->texture.texture;
    t->mask = from->texture.mask;
    std::copy(std::begin(from->texture.transform), std::end(from->texture.transform), t->transform);
    t->wrapS = from->texture.wrapS;
    t->wrapT = from->texture.wrapT;
  }
  bool makeModel(const ZvShape* texture, ZvObj* object);
  static bool lineArrays(ZvLineSet* line, int32_t n, int32_t materials);
  void putMaterial(ZvMaterial* m, int32_t k, int32_t record);
  ZvSFVec3f normalOf(Item& item, int32_t index);

  const Texts& t_;
  const IndexLists& ix_;
  int materialCode_ = kBindOverall;
  int normalCode_ = kBindPerVertexIndexed;
  bool clockwise_ = false;
  bool convex_ = true;
  const QvVec3* points_ = nullptr;
  size_t pointCount_ = 0;
  const QvVec3* normals_ = nullptr;
  size_t normalCount_ = 0;
  const QvVec2* texCoords_ = nullptr;
  size_t texCount_ = 0;
  MaterialSource materials_;
  // Scratch lists that keep their capacity from set to set: freeing large
  // blocks between the many small leaf records makes the allocator sort
  // its free lists again and again.
  std::vector<Item>& items_ = scratchItems();
  static std::vector<Item>& scratchItems() {
    static std::vector<Item> v;
    v.clear();
    return v;
  }
  // Written whole by addItem, so never cleared.
  Vertex* vertices_ = nullptr;
  size_t vertexCount_ = 0;
  static Vertex* scratchVertices(size_t n) {
    static std::unique_ptr<Vertex[]> v;
    static size_t capacity = 0;
    if (n > capacity) {
      v.reset(new (std::nothrow) Vertex[n]);
      capacity = v ? n : 0;
    }
    return v.get();
  }
  size_t used_ = 0;  // vertices handed to items so far
  // How addItem takes each vertex's normal and texture coordinate index:
  // neither can be wrong in a way that is reported, so they are read in
  // the same pass as the coordinates.
  enum { kNormalNone, kNormalInOrder, kNormalIndexed } normalIndices_ = kNormalNone;
  bool texIndexed_ = false;
  bool texByIndex_ = false;  // the first texture index is not -1
  size_t faceBytes_ = 0;  // the block the set's faces will take
  ZvFaceBlock* block_ = nullptr;  // where the faces are placed
  // What every face of the set starts as; with an overall material its
  // arrays point at the block's one record, which all the faces share.
  ZvFace model_{};
  bool sharedMaterial_ = false;
  bool badMaterialReported_ = false;
};

void SetTable::readBindings(QvState* state) {
  if (auto* b = static_cast<QvMaterialBinding*>(state->topNode(QV_STACK_MATERIAL_BINDING))) {
    switch (b->value.value) {
      case QV_BINDING_DEFAULT:
      case QV_BINDING_OVERALL: materialCode_ = kBindOverall; break;
      case QV_BINDING_PER_PART:
      case QV_BINDING_PER_FACE: materialCode_ = kBindPerItem; break;
      case QV_BINDING_PER_PART_INDEXED:
      case QV_BINDING_PER_FACE_INDEXED: materialCode_ = kBindPerItemIndexed; break;
      case QV_BINDING_PER_VERTEX: materialCode_ = kBindPerVertex; break;
      case QV_BINDING_PER_VERTEX_INDEXED: materialCode_ = kBindPerVertexIndexed; break;
      default:
        zvMessage("%s", t_.materialBinding);
        materialCode_ = kBindOverall;
    }
  }
  if (auto* b = static_cast<QvNormalBinding*>(state->topNode(QV_STACK_NORMAL_BINDING))) {
    switch (b->value.value) {
      case QV_BINDING_DEFAULT: normalCode_ = kBindPerVertexIndexed; break;
      case QV_BINDING_OVERALL: normalCode_ = kBindOverall; break;
      case QV_BINDING_PER_PART:
      case QV_BINDING_PER_FACE: normalCode_ = kBindPerItem; break;
      case QV_BINDING_PER_PART_INDEXED:
      case QV_BINDING_PER_FACE_INDEXED: normalCode_ = kBindPerItemIndexed; break;
      case QV_BINDING_PER_VERTEX: normalCode_ = kBindPerVertex; break;
      case QV_BINDING_PER_VERTEX_INDEXED: normalCode_ = kBindPerVertexIndexed; break;
      default:
        zvMessage("%s", t_.normalBinding);
        normalCode_ = kBindPerVertexIndexed;
    }
  }
}

// Only the vertex order and the convex hint reach the leaves; shapeType is
// still checked so that a bad value is reported where the user expects it.
void SetTable::readShapeHints(QvState* state) {
  auto* hints = static_cast<QvShapeHints*>(state->topNode(QV_STACK_SHAPE_HINTS));
  if (!hints) return;
  switch (hints->vertexOrdering.value) {
    case kClockwise: clockwise_ = true; break;
    case kUnknownOrdering:
    case kCounterClockwise: clockwise_ = false; break;
    default:
      zvMessage("%s", t_.shapeHints);
      clockwise_ = true;
  }
  if (hints->shapeType.value != kUnknownShapeType && hints->shapeType.value != kSolid)
    zvMessage("%s", t_.shapeHints);
  switch (hints->faceType.value) {
    case kUnknownFaceType: convex_ = false; break;
    case kConvex: convex_ = true; break;
    default:
      zvMessage("%s", t_.shapeHints);
      convex_ = true;
  }
}

int SetTable::gather(QvState* state) {
  readBindings(state);
  readShapeHints(state);
  auto* coords = static_cast<QvCoordinate3*>(state->topNode(QV_STACK_COORDINATE3));
  if (!coords) {
    zvMessage("%s", t_.noCoordinate3);
    return ZV_FAIL;
  }
  if (coords->point.values.empty()) {
    zvMessage("%s", t_.noCoordinates);
    return ZV_FAIL;
  }
  // The nodes outlive the conversion, so the table reads their arrays in
  // place rather than copying them.
  points_ = coords->point.values.data();
  pointCount_ = coords->point.values.size();
  if (auto* n = static_cast<QvNormal*>(state->topNode(QV_STACK_NORMAL))) {
    normals_ = n->vector.values.data();
    normalCount_ = n->vector.values.size();
  }
  static const QvVec2 kDefaultUV{{0, 0}};
  auto* tc = static_cast<QvTextureCoordinate2*>(state->topNode(QV_STACK_TEXTURE_COORDINATE2));
  if (tc && !tc->point.values.empty()) {
    texCoords_ = tc->point.values.data();
    texCount_ = tc->point.values.size();
  } else {
    texCoords_ = &kDefaultUV;
    texCount_ = 1;
  }
  materials_ = MaterialSource(qvStateMaterial(state));
  materials_.cache();
  return ZV_OK;
}

void SetTable::addItem(size_t pos, size_t count) {
  if (t_.faces && count < 3)
    zvMessage("%s: %d %s", "QvFaceTable::initFaces()", int(count), "found a face with less than three vertices.");
  const int32_t* coords = ix_.coord.data();
  const std::vector<int32_t>& ni = ix_.normal;
  const std::vector<int32_t>& ti = ix_.texture;
  Vertex* v = vertices_ + used_;
  int32_t valid = 0;
  bool withoutNormal = false;
  for (size_t j = 0; j < count; ++j) {
    const size_t p = pos + (clockwise_ ? count - 1 - j : j);
    int32_t c = coords[p];
    if (!validIndex(c, pointCount_)) {
      zvMessage("%s", t_.badCoordinate);
      c = -1;
    }
    valid += c >= 0;
    int32_t normal = -1;
    if (normalIndices_ == kNormalIndexed)
      normal = p < ni.size() && validIndex(ni[p], normalCount_) ? ni[p] : -1;
    else if (normalIndices_ == kNormalInOrder)
      normal = used_ + j < normalCount_ ? int32_t(used_ + j) : -1;
    withoutNormal |= c >= 0 && normal < 0;
    const int32_t tex = texIndexed_ && p < ti.size() && validIndex(ti[p], texCount_) ? ti[p] : 0;
    v[j] = {c, tex, 0, normal};
  }
  if (t_.faces && valid > 0) {
    // The counts the leaves will have once the bindings are resolved.
    const bool materialPerVertex = materialCode_ == kBindPerVertex || materialCode_ == kBindPerVertexIndexed;
    const bool normalPerVertex = normalCode_ == kBindPerVertex || normalCode_ == kBindPerVertexIndexed;
    faceBytes_ += zvFaceLeafBytes(normalPerVertex ? valid : 1, valid, valid,
                                  materialPerVertex ? valid : materialCode_ == kBindOverall ? 0 : 1);
  }
  // Written in place, field by field: an item put together on the stack
  // and copied in whole stalled on reading back its narrow fields.
  Item& item = items_.emplace_back();
  item.pos = pos;
  item.first = used_;
  item.count = int32_t(count);
  item.valid = valid;
  item.vertexWithoutNormal = withoutNormal;
  used_ += count;
}

int SetTable::split() {
  const std::vector<int32_t>& ci = ix_.coord;
  // Leaf counts are 32-bit; a longer list cannot describe a usable set.
  if (ci.size() > size_t(INT32_MAX)) return ZV_FAIL;
  size_t separators = countSeparators(ci);
  size_t itemCount = separators + (!ci.empty() && ci.back() != -1 ? 1 : 0);
  if (itemCount == 0) {
    zvMessage("%s", t_.noItems);
    return ZV_OK;
  }
  try {
    items_.reserve(itemCount);
  } catch (const std::bad_alloc&) {
    return ZV_NOMEM;
  }
  vertexCount_ = ci.size() - separators;
  vertices_ = scratchVertices(vertexCount_);
  if (!vertices_ && vertexCount_) return ZV_NOMEM;
  const std::vector<int32_t>& ni = ix_.normal;
  const std::vector<int32_t>& ti = ix_.texture;
  // The usual normal list is the lone -1 of a file that gave none: every
  // vertex keeps the computed normal.
  if (normalCode_ == kBindPerVertex)
    normalIndices_ = kNormalInOrder;
  else if (normalCode_ == kBindPerVertexIndexed && !(ni.size() == 1 && !validIndex(ni[0], normalCount_)))
    normalIndices_ = kNormalIndexed;
  texIndexed_ = !(ti.size() == 1 && !validIndex(ti[0], texCount_));
  texByIndex_ = !ti.empty() && ti[0] != -1;
  size_t start = 0;
  for (size_t p = 0; p < ci.size(); ++p) {
    if (ci[p] != -1) continue;
    addItem(start, p - start);
    start = p + 1;
  }
  if (start < ci.size()) addItem(start, ci.size() - start);
  return ZV_OK;
}

// A material index the file got wrong falls back to the first record; one
// report per set is enough to point at the node.
int32_t SetTable::checkedMaterial(int32_t index) {
  if (validIndex(index, materials_.count())) return index;
  if (!badMaterialReported_) zvMessage("%s", t_.badMaterialIndex);
  badMaterialReported_ = true;
  return 0;
}

bool SetTable::resolveMaterials() {
  const std::vector<int32_t>& mi = ix_.material;
  switch (materialCode_) {
    case kBindOverall:
      return true;
    case kBindPerItem:
      for (size_t i = 0; i < items_.size(); ++i)
        items_[i].material = checkedMaterial(i <= size_t(INT32_MAX) ? int32_t(i) : -1);
      materialCode_ = kBindPerItemIndexed;
      return true;
    case kBindPerItemIndexed:
      if (mi.size() < items_.size()) {
        zvMessage("%s", t_.notEnoughColor);
        return false;
      }
      for (size_t i = 0; i < items_.size(); ++i) items_[i].material = checkedMaterial(mi[i]);
      return true;
    case kBindPerVertex:
      for (size_t k = 0; k < vertexCount_; ++k)
        vertices_[k].material = checkedMaterial(k <= size_t(INT32_MAX) ? int32_t(k) : -1);
      materialCode_ = kBindPerVertexIndexed;
      return true;
    case kBindPerVertexIndexed: {
      // VRML 1.0 lets an indexed binding without its own indices fall back
      // on coordIndex; worlds from other browsers rely on it.
      const std::vector<int32_t>& source =
          mi.empty() || (mi.size() == 1 && mi[0] == -1) ? ix_.coord : mi;
      for (Item& item : items_) {
        if (item.pos + size_t(item.count) > source.size()) {
          zvMessage("%s", t_.runOutOfMaterialIndex);
          return false;
        }
        for (size_t j = 0; j < size_t(item.count); ++j)
          vertices_[item.first + j].material = checkedMaterial(source[position(item, j)]);
      }
      return true;
    }
  }
  return false;
}

// From the first three usable vertices in stored order. Tried once per
// item; the leaves read the cached result.
const float* SetTable::computedNormal(Item& item) {
  if (item.computedState == 0) {
    item.computedState = 2;
    const float* p[3];
    int found = 0;
    for (size_t j = 0; j < size_t(item.count) && found < 3; ++j) {
      int32_t c = vertices_[item.first + j].coord;
      if (c >= 0) p[found++] = points_[c].v;
    }
    if (found < 3)
      zvMessage("%s", t_.fewVerticesForNormal);
    else if (qvThreePointNormal(p[0], p[1], p[2], item.computed))
      item.computedState = 1;
  }
  return item.computedState == 1 ? item.computed : nullptr;
}

bool SetTable::resolveNormals() {
  const std::vector<int32_t>& ni = ix_.normal;
  switch (normalCode_) {
    case kBindOverall:
      if (normalCount_ == 0) {
        zvMessage("%s", t_.overallWithoutNormal);
        return false;
      }
      return true;
    case kBindPerItem:
      for (size_t i = 0; i < items_.size(); ++i) items_[i].normal = i < normalCount_ ? int32_t(i) : -1;
      normalCode_ = kBindPerItemIndexed;
      break;
    case kBindPerItemIndexed:
      for (size_t i = 0; i < items_.size(); ++i)
        items_[i].normal = i < ni.size() && validIndex(ni[i], normalCount_) ? ni[i] : -1;
      break;
    case kBindPerVertex:  // addItem has taken the vertices' normals in order
      normalCode_ = kBindPerVertexIndexed;
      break;
    case kBindPerVertexIndexed:  // and their indexed normals
      break;
  }
  for (Item& item : items_) {
    bool needed = normalCode_ == kBindPerItemIndexed ? item.normal < 0 : item.vertexWithoutNormal;
    if (needed) computedNormal(item);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Leaves. Vertices whose coordinate index was bad are left out of the leaf
// altogether; every per-vertex array of a leaf skips the same ones, so the
// arrays stay the same length as the leaf's vertex array. A face and all
// its arrays are one allocation: a set makes a leaf per face, and the
// allocator's time, not the arithmetic, was most of the conversion.

__attribute__((always_inline)) inline void SetTable::putMaterial(ZvMaterial* m, int32_t k, int32_t record) {
  const MaterialRecord& r = materials_.at(size_t(record));
  m->ambient.values[k] = r.ambient;
  m->diffuse.values[k] = r.diffuse;
  m->specular.values[k] = r.specular;
  m->emissive.values[k] = r.emissive;
  m->shininess.values[k] = r.shininess;
  m->transparency.values[k] = r.transparency;
}

// A normal that could not be found is stored as (0, 0, 0): the renderer
// leaves such a vertex to its own shading, while a missing array would make
// the per-vertex count disagree with the vertex count.
inline ZvSFVec3f SetTable::normalOf(Item& item, int32_t index) {
  const float* v = index >= 0                  ? normals_[index].v
                   : item.computedState == 1 ? item.computed
                                             : computedNormal(item);
  return v ? ZvSFVec3f{v[0], v[1], v[2]} : ZvSFVec3f{0, 0, 0};
}

ZvShape* SetTable::newLeaf(Item& item, const ZvShape* texture, QvState* state, Box& box) {
  const int32_t n = item.valid;
  const bool materialPerVertex = materialCode_ == kBindPerVertexIndexed;
  const bool normalPerVertex = normalCode_ == kBindPerVertexIndexed;
  ZvShape* leaf;
  if (t_.faces) {
    const int materials = materialPerVertex ? n : sharedMaterial_ ? 0 : 1;
    leaf = zvPlaceFaceLeafAs(block_, &model_, normalPerVertex ? n : 1, n, n, materials);
  } else {
    leaf = zvNewLineSetLeaf();
    if (leaf && !lineArrays(static_cast<ZvLineSet*>(leaf), n, materialPerVertex ? n : 1)) {
      zvDeleteLeaf(leaf);
      return nullptr;
    }
  }
  if (!leaf) return nullptr;

  ZvTexture* t = &leaf->texture;
  if (texture->texture.movie) {
    // A movie record belongs to one leaf, so it cannot be shared.
    if (qvSetLeafTexture(state, leaf, t_.leafWho, false) != ZV_OK) {
      zvDeleteLeaf(leaf);
      return nullptr;
    }
  } else if (!t_.faces) {  // a face has it from the model
    copyTextureRecord(t, texture);
  }
  ZvMaterial* m = &leaf->material;
  ZvFace* face = t_.faces ? static_cast<ZvFace*>(leaf) : nullptr;
  ZvSFVec3f* points = face ? face->vertices : static_cast<ZvLineSet*>(leaf)->points;
  if (!face) {
    t->materialBinding = materialCode_;
    m->maxElement = materialPerVertex ? n : 1;
  }
  if (!materialPerVertex && !(face && sharedMaterial_))
    putMaterial(m, 0, materialCode_ == kBindOverall ? 0 : item.material);
  if (face && !normalPerVertex)
    face->normals[0] = normalOf(item, normalCode_ == kBindOverall ? 0 : item.normal);

  // A file that indexes its texture coordinates uses them; otherwise each
  // vertex takes the coordinate of its own number, or the last one.
  const bool indexed = texByIndex_;
  const Vertex* v = &vertices_[item.first];
  // The set's box is grown in a copy of its own for the face's vertices:
  // the set's is handed on when the faces are attached, so the compiler
  // keeps it in memory, and every vertex waited on its last store.
  Box grown = box;
  int32_t k = 0;
  for (int32_t j = 0; j < item.count; ++j) {
    if (v[j].coord < 0) continue;
    const QvVec3& c = points_[v[j].coord];
    points[k] = {c.v[0], c.v[1], c.v[2]};
    if (face) grown.add(c.v);
    const QvVec2& uv = texCoords_[indexed ? size_t(v[j].tex) : std::min(size_t(v[j].coord), texCount_ - 1)];
    t->uv[k] = {uv.v[0], uv.v[1]};
    if (materialPerVertex) putMaterial(m, k, v[j].material);
    if (face && normalPerVertex) face->normals[k] = normalOf(item, v[j].normal);
    ++k;
  }
  box = grown;
  if (face && normalPerVertex) {
    // The renderer wants a facet normal even for smooth faces: the first
    // corner that is not degenerate gives it, left unnormalised.
    const ZvSFVec3f* p = face->vertices;
    for (int32_t i = 0; i + 2 < n; ++i) {
      float a[3] = {p[i + 1].x - p[i].x, p[i + 1].y - p[i].y, p[i + 1].z - p[i].z};
      float b[3] = {p[i + 2].x - p[i].x, p[i + 2].y - p[i].y, p[i + 2].z - p[i].z};
      ZvSFVec3f cross{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
      const float eps = 0.00001f;
      if (std::abs(cross.x) > eps || std::abs(cross.y) > eps || std::abs(cross.z) > eps) {
        face->orthoNormal = cross;
        face->orthoNormalValid = 1;
        break;
      }
    }
  }
  return leaf;
}

bool SetTable::makeModel(const ZvShape* texture, ZvObj* object) {
  ZvFace& f = model_;
  f.type = ZV_LEAF_FACE;
  f.owner = object;
  f.flags = ZV_LEAF_GOURAUD | ZV_LEAF_PACKED_FACE;
  if (texture->texture.movie) {
    const float identity[6] = {1, 0, 0, 1, 0, 0};
    std::copy(std::begin(identity), std::end(identity), f.texture.transform);
  } else {
    copyTextureRecord(&f.texture, texture);
  }
  f.texture.materialBinding = materialCode_;
  f.faceType = 1;
  f.normalBinding = normalCode_;
  f.convex = convex_ ? 1 : 0;
  sharedMaterial_ = materialCode_ == kBindOverall;
  if (sharedMaterial_) {
    if (zvPlaceFaceBlockMaterial(block_, &f) != ZV_OK) return false;
    putMaterial(&f.material, 0, 0);
  }
  return true;
}

// A line leaf holds one polyline; its normals only served the checks. Its
// arrays are blocks of their own, as everywhere else in the model.
bool SetTable::lineArrays(ZvLineSet* line, int32_t n, int32_t materials) {
  line->points = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f) * size_t(n)));
  if (!line->points) return false;
  line->pointCount = n;
  line->lineCount = 1;
  line->texture.uv = static_cast<ZvSFVec2f*>(zvMalloc(sizeof(ZvSFVec2f) * size_t(n)));
  if (!line->texture.uv) return false;
  line->texture.uvCount = n;
  return zvPackLeafMaterial(line, materials) == ZV_OK;
}

int SetTable::buildLeaves(QvState* state, ZvObj* object) {
  // The texture record is the same for every leaf of the set: it is read
  // from the state once, into a scratch leaf, and copied. Reading it per
  // leaf would copy the whole TextureCoordinate2 into each of them.
  ZvShape* texture = zvNewShape(t_.faces ? ZV_LEAF_FACE : ZV_LEAF_LINE_SET);
  if (!texture || qvSetLeafTexture(state, texture, t_.leafWho, false) != ZV_OK) {
    if (texture) zvDeleteLeaf(texture);
    zvMessage("%s: %s", t_.leafWho, t_.leafNoMemory);
    return ZV_NOMEM;
  }
  if (t_.faces) {
    // All faces of the set in one block: the set's leaves are made together
    // and mostly go together, and one allocation instead of one per face is
    // what made large worlds slow to read and to free.
    const size_t bytes = faceBytes_;
    block_ = bytes ? zvNewFaceBlock(bytes) : nullptr;
    if (bytes && (!block_ || !makeModel(texture, object))) {
      zvReleaseFaceBlock(block_);
      block_ = nullptr;
      zvDeleteLeaf(texture);
      zvMessage("%s: %s", t_.leafWho, t_.leafNoMemory);
      return ZV_NOMEM;
    }
  }
  ZvLeaf* head = nullptr;
  ZvLeaf* tail = nullptr;
  int result = ZV_OK;
  // Grown face by face in registers: kept in the table, it was stored and
  // loaded again for every face.
  Box box;
  for (Item& item : items_) {
    if (item.valid == 0) continue;  // the face goes only when nothing is left of it
    ZvShape* leaf = newLeaf(item, texture, state, box);
    if (!leaf) {
      zvMessage("%s: %s", t_.leafWho, t_.leafNoMemory);
      result = ZV_NOMEM;
      break;
    }
    (tail ? tail->next : head) = leaf;
    tail = leaf;
  }
  zvDeleteLeaf(texture);
  if (result != ZV_OK) {
    while (head) head = zvDeleteLeaf(head);
  }
  // From here the faces alone keep the block.
  zvReleaseFaceBlock(block_);
  block_ = nullptr;
  if (result != ZV_OK) return result;
  // One attach for the whole chain: attaching leaf by leaf would walk the
  // growing chain each time.
  if (head && box.any) return zvAttachFaceLeaves(object, head, box.min, box.max);
  if (head) return zvAttachLeaf(object, head);
  return ZV_OK;
}

int createLeaves(QvState* state, const IndexLists& lists, ZvObj* object, const Texts& texts) {
  SetTable table(texts, lists);
  if (table.gather(state) != ZV_OK) {
    zvMessage("%s", texts.stateInsufficient);
    return ZV_FAIL;
  }
  int result = table.split();
  if (result != ZV_OK) {
    zvMessage("%s", texts.itemsInvalid);
    return result;
  }
  if (table.empty()) return ZV_OK;
  if (!table.resolveMaterials()) {
    zvMessage("%s", texts.failMaterials);
    return ZV_FAIL;
  }
  if (!table.resolveNormals()) {
    zvMessage("%s", texts.failNormals);
    return ZV_FAIL;
  }
  return table.buildLeaves(state, object);
}

}  // namespace

int qvCreateFaceLeaves(QvState* state, QvIndexedFaceSet* node, ZvObj* object) {
  if (!state || !node || !object) {
    zvWarning("qvCreateFaceLeaves: NULL specified.\n");
    return ZV_FAIL;
  }
  IndexLists lists{node->coordIndex.values, node->materialIndex.values, node->normalIndex.values,
                   node->textureCoordIndex.values};
  return createLeaves(state, lists, object, kFaceTexts);
}

int qvCreateLineLeaves(QvState* state, QvIndexedLineSet* node, ZvObj* object) {
  if (!state || !node || !object) {
    zvWarning("qvCreateLineLeaves: NULL specified.\n");
    return ZV_FAIL;
  }
  IndexLists lists{node->coordIndex.values, node->materialIndex.values, node->normalIndex.values,
                   node->textureCoordIndex.values};
  return createLeaves(state, lists, object, kLineTexts);
}

int qvSetDefaultCubeUV(ZvShape* face) {
  if (!face) {
    zvWarning("qvSetDefaultCubeUV: NULL specified.\n");
    return ZV_FAIL;
  }
  ZvTexture* t = &face->texture;
  // No coordinates at all and the single (0, 0) of an empty state are the
  // same default; anything the file gave is kept.
  bool isDefault = t->uvCount <= 0 || (t->uvCount == 1 && t->uv && t->uv[0].x == 0 && t->uv[0].y == 0);
  if (!isDefault) return ZV_OK;
  auto* uv = static_cast<ZvSFVec2f*>(zvMalloc(sizeof(ZvSFVec2f) * 4));
  if (!uv) {
    zvMessage("%s: Couldn't allocate memory for uv.vecs", "setDefaultTextureUVForCube");
    return ZV_NOMEM;
  }
  uv[0] = {0, 0};
  uv[1] = {1, 0};
  uv[2] = {1, 1};
  uv[3] = {0, 1};
  if (t->uvCount > 0) zvFree(t->uv);
  t->uv = uv;
  t->uvCount = 4;
  return ZV_OK;
}
