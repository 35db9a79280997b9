// Face and line sets into leaves: splitting, vertex order, bindings, bad
// indices and running out of memory; and the cube's default UVs.
#include <cmath>
#include <memory>
#include <vector>

#include "tests/support/testsupport.h"
#include "vrml/traverse.h"

namespace {

class FaceSetTest : public qmtest::SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    world = zvNewWorld("w.wrl");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(zvNewZvObj(world, &object, 0), ZV_OK);
    ASSERT_EQ(zvAddTopObject(object, "w.wrl"), ZV_OK);
    state = std::make_unique<QvState>(world);
    // A square in z = 0 with side 2, so that unnormalised normals show.
    add<QvCoordinate3>(QV_STACK_COORDINATE3)->point.values = {{{0, 0, 0}}, {{2, 0, 0}}, {{2, 2, 0}}, {{0, 2, 0}}};
  }
  void TearDown() override {
    state.reset();
    EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
    for (QvNode* n : nodes) delete n;
    SceneTest::TearDown();
  }
  template <typename T>
  T* add(int kind) {
    auto* n = new T;
    nodes.push_back(n);
    state->addElement(kind, n);
    return n;
  }
  // Diffuse reds 0.1, 0.2, ... name the material records.
  void materials(int count) {
    auto* m = add<QvMaterial>(QV_STACK_MATERIAL);
    m->diffuseColor.values.clear();
    for (int i = 0; i < count; ++i) m->diffuseColor.values.push_back({{0.1f * float(i + 1), 0, 0}});
  }
  int faces(std::vector<int32_t> coordIndex) {
    if (object->leaf) zvDeleteAllLeaf(object->leaf);
    object->leaf = nullptr;
    set.coordIndex.values = std::move(coordIndex);
    return qvCreateFaceLeaves(state.get(), &set, object);
  }
  std::vector<ZvFace*> leaves() {
    std::vector<ZvFace*> out;
    for (ZvLeaf* l = object->leaf; l; l = l->next) {
      EXPECT_EQ(l->type, ZV_LEAF_FACE);
      out.push_back(static_cast<ZvFace*>(l));
    }
    return out;
  }
  // Which square corner each vertex is.
  static std::vector<int> corners(const ZvFace* f) {
    std::vector<int> out;
    for (int i = 0; i < f->vertexCount; ++i) {
      const ZvSFVec3f& v = f->vertices[i];
      out.push_back(v.x == 0 ? (v.y == 0 ? 0 : 3) : (v.y == 0 ? 1 : 2));
    }
    return out;
  }
  static std::vector<int> records(const ZvShape* s) {
    std::vector<int> out;
    for (int i = 0; i < s->material.diffuse.count; ++i)
      out.push_back(int(std::lround(s->material.diffuse.values[i].r * 10)) - 1);
    return out;
  }
  ZvWorld* world = nullptr;
  ZvObj* object = nullptr;
  std::unique_ptr<QvState> state;
  std::vector<QvNode*> nodes;
  QvIndexedFaceSet set;
};

using V = std::vector<int>;

TEST_F(FaceSetTest, SplitsAtSeparatorsIntoFlatShadedFaces) {
  ASSERT_EQ(faces({0, 1, 2, -1, 2, 3, 0}), ZV_OK);
  auto f = leaves();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(corners(f[0]), (V{0, 1, 2}));
  EXPECT_EQ(corners(f[1]), (V{2, 3, 0}));
  for (ZvFace* face : f) {
    EXPECT_EQ(face->normalBinding, 7);
    ASSERT_EQ(face->normalCount, 3);
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(face->normals[i].z, 1);
    EXPECT_EQ(face->orthoNormalValid, 1);
    EXPECT_FLOAT_EQ(face->orthoNormal.z, 4);
    EXPECT_EQ(face->convex, 1);
    EXPECT_EQ(face->texture.materialBinding, 1);
    EXPECT_EQ(face->material.maxElement, 1);
    EXPECT_FLOAT_EQ(face->material.diffuse.values[0].g, 0.8f);
    EXPECT_EQ(face->texture.uvCount, 3);
  }
  ASSERT_EQ(faces({0, 1, 2, -1}), ZV_OK);
  EXPECT_EQ(leaves().size(), 1u);
}

TEST_F(FaceSetTest, ShortFacesAreReportedAndBuiltWithoutNormal) {
  ASSERT_EQ(faces({0, 1, -1}), ZV_OK);
  EXPECT_TRUE(sink.hasText("QvFaceTable::initFaces(): 2 found a face with less than three vertices."));
  EXPECT_TRUE(sink.hasText("QvFaceTable::calcNormalOfFace(): a face has less than three vertices."));
  auto f = leaves();
  ASSERT_EQ(f.size(), 1u);
  ASSERT_EQ(f[0]->vertexCount, 2);
  ASSERT_EQ(f[0]->normalCount, 2);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(f[0]->normals[i].x + f[0]->normals[i].y + f[0]->normals[i].z, 0);
  EXPECT_EQ(f[0]->orthoNormalValid, 0);

  // Empty items count as faces but make no leaf.
  ASSERT_EQ(faces({-1, -1, 0, 1, 2}), ZV_OK);
  EXPECT_TRUE(sink.hasText("QvFaceTable::initFaces(): 0 found"));
  EXPECT_EQ(leaves().size(), 1u);
  ASSERT_EQ(faces({}), ZV_OK);
  EXPECT_TRUE(sink.hasText("QvFaceTable::initFaces(): no faces?"));
  EXPECT_EQ(object->leaf, nullptr);
}

TEST_F(FaceSetTest, ClockwiseReversesEachFaceAndItsPerVertexValues) {
  add<QvShapeHints>(QV_STACK_SHAPE_HINTS)->vertexOrdering.value = 1;
  materials(4);
  auto* binding = add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING);
  binding->value.value = QV_BINDING_PER_VERTEX_INDEXED;
  set.materialIndex.values = {3, 2, 1, -1};
  add<QvNormal>(QV_STACK_NORMAL)->vector.values = {{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, 1}}};
  add<QvNormalBinding>(QV_STACK_NORMAL_BINDING)->value.value = QV_BINDING_PER_VERTEX_INDEXED;
  set.normalIndex.values = {0, 1, 2, -1};
  add<QvTextureCoordinate2>(QV_STACK_TEXTURE_COORDINATE2)->point.values = {{{0.1f, 0}}, {{0.2f, 0}}, {{0.3f, 0}}};
  set.textureCoordIndex.values = {0, 1, 2, -1};

  ASSERT_EQ(faces({0, 1, 2, -1}), ZV_OK);
  ZvFace* f = leaves().at(0);
  EXPECT_EQ(corners(f), (V{2, 1, 0}));
  EXPECT_EQ(records(f), (V{1, 2, 3}));
  EXPECT_EQ(f->texture.materialBinding, 7);
  ASSERT_EQ(f->normalCount, 3);
  EXPECT_FLOAT_EQ(f->normals[0].z, 1);
  EXPECT_FLOAT_EQ(f->normals[2].x, 1);
  ASSERT_EQ(f->texture.uvCount, 3);
  EXPECT_FLOAT_EQ(f->texture.uv[0].x, 0.3f);
  EXPECT_FLOAT_EQ(f->texture.uv[2].x, 0.1f);

  // Unindexed, vertices are numbered as stored, so the records do not turn.
  binding->value.value = QV_BINDING_PER_VERTEX;
  ASSERT_EQ(faces({0, 1, 2, -1}), ZV_OK);
  EXPECT_EQ(records(leaves().at(0)), (V{0, 1, 2}));
}

TEST_F(FaceSetTest, BindingsThatCannotBeMetFailTheSet) {
  materials(3);
  auto* binding = add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING);
  binding->value.value = QV_BINDING_PER_FACE_INDEXED;
  set.materialIndex.values = {0, 1};
  EXPECT_EQ(faces({0, 1, 2, -1, 0, 2, 3, -1, 1, 2, 3}), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("QvFaceTable::setMaterialsPerFaceIndexed(): not enough color info for all faces."));
  EXPECT_TRUE(sink.hasText("QvIndexedFaceSet::createAndAddLeaves(): fails to set materials."));

  binding->value.value = QV_BINDING_PER_VERTEX_INDEXED;
  set.materialIndex.values = {0, 1, 2, -1, 0};
  EXPECT_EQ(faces({0, 1, 2, -1, 0, 2, 3}), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("QvFaceTable::setMaterialsPerVertexIndexedInFace(): run out of materialIndex."));

  binding->value.value = QV_BINDING_OVERALL;
  add<QvNormalBinding>(QV_STACK_NORMAL_BINDING)->value.value = QV_BINDING_OVERALL;
  EXPECT_EQ(faces({0, 1, 2}), ZV_FAIL);
  EXPECT_TRUE(sink.hasText(
      "QvFaceTable::setNormalsOfFacesOrVertices(): no normal is defined when normalBinding = OVERALL."));
  EXPECT_TRUE(sink.hasText("QvIndexedFaceSet::createAndAddLeaves(): fails to set normals."));

  state->popElement(QV_STACK_NORMAL_BINDING);
  state->popElement(QV_STACK_COORDINATE3);
  EXPECT_EQ(faces({0, 1, 2}), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("QvFaceTable::setCoords(): no Coordinate3 is defined."));
  EXPECT_TRUE(sink.hasText("QvIndexedFaceSet::createAndAddLeaves(): state info is insufficient."));
  EXPECT_EQ(object->leaf, nullptr);
}

TEST_F(FaceSetTest, DefaultMaterialBindingIsOverall) {
  materials(2);
  // No binding node, DEFAULT, and NONE (which the table does not take).
  for (int value : {-1, int(QV_BINDING_DEFAULT), int(QV_BINDING_NONE)}) {
    if (value >= 0) add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING)->value.value = value;
    ASSERT_EQ(faces({0, 1, 2, -1, 0, 2, 3}), ZV_OK);
    for (ZvFace* f : leaves()) {
      EXPECT_EQ(f->texture.materialBinding, 1);
      EXPECT_EQ(records(f), (V{0}));
    }
  }
  EXPECT_TRUE(sink.hasText("QvFaceTable::setInfoInQvMaterialBinding(): invalid value."));
}

TEST_F(FaceSetTest, PerVertexIndexedWithoutMaterialIndexFollowsCoordIndex) {
  materials(4);
  add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING)->value.value = QV_BINDING_PER_VERTEX_INDEXED;
  for (auto index : {std::vector<int32_t>{-1}, std::vector<int32_t>{}}) {
    set.materialIndex.values = index;
    ASSERT_EQ(faces({0, 1, 2, -1, 2, 3, 0}), ZV_OK);
    EXPECT_EQ(records(leaves().at(1)), (V{2, 3, 0}));
  }
  EXPECT_FALSE(sink.hasText("materialIndex")) << sink.dump();
}

TEST_F(FaceSetTest, BadIndicesAreReportedAndNeverFollowed) {
  materials(1);
  add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING)->value.value = QV_BINDING_PER_FACE_INDEXED;
  set.materialIndex.values = {0, 42, -3};
  add<QvNormal>(QV_STACK_NORMAL)->vector.values = {{{1, 0, 0}}};
  add<QvNormalBinding>(QV_STACK_NORMAL_BINDING)->value.value = QV_BINDING_PER_VERTEX_INDEXED;
  set.normalIndex.values = {1000, -5, 0, 7};
  add<QvTextureCoordinate2>(QV_STACK_TEXTURE_COORDINATE2)->point.values = {{{0.5f, 0}}, {{0.7f, 0}}};
  set.textureCoordIndex.values = {1, -3, 900};

  ASSERT_EQ(faces({0, 99, 1, -7, 2, -1, 5, 6, -1, 3, 2, 1, 0}), ZV_OK);
  EXPECT_TRUE(sink.hasText("QvFaceTable::initFace(): invalid coordinate index."));
  EXPECT_TRUE(sink.hasText("QvFaceTable::setMaterialsOfFacesOrVertices(): invalid material index."));
  auto f = leaves();  // the all-invalid middle face makes none
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(corners(f[0]), (V{0, 1, 2}));
  EXPECT_EQ(corners(f[1]), (V{3, 2, 1, 0}));
  ASSERT_EQ(f[0]->normalCount, 3);
  ASSERT_EQ(f[0]->texture.uvCount, 3);
  // Position 0 names coordinate 1 and normal 1000: the normal falls back to
  // the computed one; positions 2 and 4 point nowhere and take coordinate 0.
  EXPECT_FLOAT_EQ(f[0]->normals[0].z, 1);
  EXPECT_FLOAT_EQ(f[0]->normals[1].x, 1);
  EXPECT_FLOAT_EQ(f[0]->texture.uv[0].x, 0.7f);
  EXPECT_FLOAT_EQ(f[0]->texture.uv[1].x, 0.5f);
  EXPECT_FLOAT_EQ(f[0]->texture.uv[2].x, 0.5f);
}

TEST_F(FaceSetTest, TheObjectsCubeIsTheBoxOfTheVerticesWritten) {
  add<QvCoordinate3>(QV_STACK_COORDINATE3)->point.values = {
      {{-1, 5, 2}}, {{3, -2, 0}}, {{0, 0, -7}}, {{100, 100, 100}}};
  // Index 9 is left out of its face, and the unused far point out of the box.
  ASSERT_EQ(faces({0, 1, 2, -1, 2, 9, 1, -1}), ZV_OK);
  auto box = [&] {
    float b[6] = {};
    EXPECT_EQ(zvGetObjBoundingCube(object, b, b + 3), ZV_OK);
    return std::vector<float>(b, b + 6);
  };
  EXPECT_EQ(box(), (std::vector<float>{-1, -2, -7, 3, 5, 2}));
  object->flags &= ~uint32_t(ZV_OBJ_CUBE_VALID);
  EXPECT_EQ(box(), (std::vector<float>{-1, -2, -7, 3, 5, 2})) << "a walk over the leaves finds the same";
}

TEST_F(FaceSetTest, LineSetsMakeOneLeafPerPolyline) {
  QvIndexedLineSet lines;
  lines.coordIndex.values = {0, 1, 2, -1, 3, 0};
  ASSERT_EQ(qvCreateLineLeaves(state.get(), &lines, object), ZV_OK);
  std::vector<int> counts;
  for (ZvLeaf* l = object->leaf; l; l = l->next) {
    ASSERT_EQ(l->type, ZV_LEAF_LINE_SET);
    auto* line = static_cast<ZvLineSet*>(l);
    counts.push_back(line->pointCount);
    EXPECT_EQ(line->lineCount, 1);
    EXPECT_EQ(line->indices, nullptr);
    EXPECT_EQ(line->texture.uvCount, line->pointCount);
    EXPECT_EQ(line->texture.materialBinding, 1);
  }
  EXPECT_EQ(counts, (V{3, 2}));
  EXPECT_FLOAT_EQ(static_cast<ZvLineSet*>(object->leaf->next)->points[0].y, 2);

  state->popElement(QV_STACK_COORDINATE3);
  EXPECT_EQ(qvCreateLineLeaves(state.get(), &lines, object), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("QvLineTable::setCoords(): No Coordinate3 is defined."));
  EXPECT_TRUE(sink.hasText("QvIndexedLineSet::createAndAddLeaves(): State info is insufficient."));
}

TEST_F(FaceSetTest, RunningOutOfMemoryLeavesNoLeafAndNoBlock) {
  materials(4);
  add<QvMaterialBinding>(QV_STACK_MATERIAL_BINDING)->value.value = QV_BINDING_PER_VERTEX;
  add<QvTextureCoordinate2>(QV_STACK_TEXTURE_COORDINATE2)->point.values = {{{0.5f, 0}}, {{0.7f, 0}}};
  int failures = 0;
  for (long n = 0;; ++n) {
    long before = memory.live();
    memory.failAfter(n);
    int rc = faces({0, 1, 2, -1, 2, 3, 0});
    memory.failAfter(-1);
    if (rc == ZV_OK) break;
    ++failures;
    EXPECT_EQ(rc, ZV_NOMEM);
    EXPECT_EQ(object->leaf, nullptr);
    EXPECT_EQ(memory.live(), before) << "after failing allocation " << n;
    ASSERT_LT(n, 100);
  }
  // At least the shared texture record and the block of the set's faces.
  EXPECT_GE(failures, 2);
  EXPECT_TRUE(sink.hasText("QvIndexedFaceSet::createZvFace(): Couldn't allocate memory for ZvFace."));
  ASSERT_EQ(leaves().size(), 2u);
  for (ZvFace* face : leaves()) {
    EXPECT_TRUE(face->flags & ZV_LEAF_PACKED_FACE);
    EXPECT_EQ(face->texture.uvCount, face->vertexCount);
    EXPECT_EQ(face->normalCount, face->vertexCount);
  }
}

TEST_F(FaceSetTest, CubeFacesTakeFourCornersOnlyInsteadOfTheDefault) {
  ZvFace* face = zvNewFaceLeaf();
  ASSERT_NE(face, nullptr);
  ZvTexture* t = &face->texture;
  ASSERT_EQ(qvSetDefaultCubeUV(face), ZV_OK);  // no coordinates at all
  ASSERT_EQ(t->uvCount, 4);
  EXPECT_FLOAT_EQ(t->uv[2].x + t->uv[2].y, 2);
  EXPECT_FLOAT_EQ(t->uv[3].y, 1);

  for (float u : {0.0f, 0.5f}) {
    zvDeleteTexture(t);
    t->uv = static_cast<ZvSFVec2f*>(zvMalloc(sizeof(ZvSFVec2f)));
    t->uv[0] = {u, u};
    t->uvCount = 1;
    ASSERT_EQ(qvSetDefaultCubeUV(face), ZV_OK);
    EXPECT_EQ(t->uvCount, u == 0 ? 4 : 1);
  }
  EXPECT_EQ(qvSetDefaultCubeUV(nullptr), ZV_FAIL);
  zvDeleteLeaf(face);
}

}  // namespace
