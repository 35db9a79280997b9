// Leaves: the builders, ownership on delete, chains on objects and the
// searches over them.
#include <vector>

#include "tests/support/testsupport.h"

namespace {

class LeafTest : public qmtest::TreeFixture {};
using Types = std::vector<int>;

// The types along a chain, which is then deleted.
Types consume(ZvLeaf* chain) {
  Types out;
  for (ZvLeaf* l = chain; l; l = l->next) out.push_back(l->type);
  zvDeleteAllLeaf(chain);
  return out;
}

std::vector<ZvLeaf*> handedOver;
void record(ZvLeaf* leaf) { handedOver.push_back(leaf); }

TEST_F(LeafTest, BuildersChainExactlyTheRequestedParts) {
  for (int hole : {12, 13, 17, 18, 21}) EXPECT_EQ(zvLeafSize(hole), 0);
  EXPECT_TRUE(sink.has(ZV_DEBUG_MESSAGE, "Undefined ZV leaf 21"));
  EXPECT_EQ(zvNewShape(12), nullptr);
  EXPECT_EQ(zvNewShape(ZV_LEAF_POINT_LIGHT), nullptr);  // its record is smaller than a shape
  EXPECT_EQ(zvNewCircleLeaf(ZV_LEAF_SPHERE, 1, 1), nullptr);

  EXPECT_EQ(consume(zvNewCylinder(ZV_PART_ALL, 2, 3, 4)), (Types{4, 6, 5}));
  EXPECT_EQ(consume(zvNewCylinder(ZV_PART_SIDES | ZV_PART_TOP | ZV_PART_BOTTOM, 2, 3, 4)), (Types{4, 6, 5}));
  EXPECT_EQ(consume(zvNewCone(ZV_PART_SIDES | ZV_PART_BOTTOM, 3, 4)), (Types{2, 3}));
  EXPECT_EQ(zvNewCone(ZV_PART_TOP, 3, 4), nullptr);
  // Each closing circle takes the radius of its own end.
  ZvLeaf* ends = zvNewCylinder(ZV_PART_TOP | ZV_PART_BOTTOM, 2, 3, 4);
  EXPECT_EQ(static_cast<ZvCircle*>(ends)->radius, 2);
  EXPECT_EQ(static_cast<ZvCircle*>(ends->next)->radius, 3);
  EXPECT_EQ(consume(ends), (Types{6, 5}));

  // One block per leaf: failing the n-th allocation leaves n-1 leaves made.
  const long base = memory.live();
  for (int fail = 0; fail < 3; ++fail) {
    memory.failAfter(fail);
    EXPECT_EQ(zvNewCylinder(ZV_PART_ALL, 1, 1, 1), nullptr) << fail;
    memory.failAfter(fail % 2);
    EXPECT_EQ(zvNewCone(ZV_PART_ALL, 1, 1), nullptr) << fail;
    EXPECT_EQ(memory.live(), base) << fail;
  }
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_ERROR, "zvNewShape: zvMalloc failed\n 5"));
}

TEST_F(LeafTest, PackedFacesCarryTheirArraysInOneBlock) {
  const long base = memory.live();
  ZvFace* face = zvNewPackedFaceLeaf(1, 4, 4, 4);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(memory.live(), base + 1);
  EXPECT_TRUE(face->flags & ZV_LEAF_PACKED_FACE);
  EXPECT_EQ(face->faceType, 1);
  ASSERT_EQ(face->vertexCount, 4);
  // The arrays are distinct, zeroed and writable to their ends.
  face->normals[0] = {0, 0, 1};
  face->vertices[3] = {1, 2, 3};
  face->texture.uv[3] = {0.5f, 0.5f};
  EXPECT_EQ(face->vertices[0].x, 0);
  EXPECT_EQ(face->normals[0].z, 1);
  EXPECT_EQ(face->vertices[3].z, 3);
  // The material too, until it is changed: then it moves to a block of its
  // own and the leaf still frees both.
  ASSERT_TRUE(face->flags & ZV_LEAF_PACKED_MATERIAL);
  ASSERT_EQ(face->material.transparency.count, 4);
  face->material.transparency.values[3] = 0.5f;
  EXPECT_EQ(memory.live(), base + 1);
  ZvSFColor red{1, 0, 0};
  ZvMFColor one{1, &red};
  ASSERT_EQ(zvSetLeafMaterialColor(face, &one, ZV_MAT_DIFFUSE), ZV_OK);
  EXPECT_FALSE(face->flags & ZV_LEAF_PACKED_MATERIAL);
  EXPECT_EQ(face->material.transparency.values[3], 0.5f);
  EXPECT_EQ(face->material.diffuse.values[0].r, 1);
  EXPECT_EQ(zvDeleteLeaf(face), nullptr);
  EXPECT_EQ(memory.live(), base);
  face = zvNewPackedFaceLeaf(1, 3, 3, 1);
  ASSERT_EQ(zvPackLeafMaterial(face, 3), ZV_OK);
  EXPECT_EQ(zvDeleteLeaf(face), nullptr);
  EXPECT_EQ(memory.live(), base);
  EXPECT_EQ(zvNewPackedFaceLeaf(1, 0, 1, 1), nullptr);
  memory.failAfter(0);
  EXPECT_EQ(zvNewPackedFaceLeaf(1, 3, 3, 1), nullptr);
  memory.failAfter(-1);
  EXPECT_EQ(memory.live(), base);
}

// Faces placed in a shared block: one allocation for all, each face still
// deleted on its own, and the block going with the last holder.
TEST_F(LeafTest, FacesOfASharedBlockAreDeletedInAnyOrder) {
  ZvObj* o = make();
  const long base = memory.live();
  const size_t quad = zvFaceLeafBytes(1, 4, 4, 4), tri = zvFaceLeafBytes(3, 3, 3, 1);
  ASSERT_GT(quad, 0u);
  EXPECT_EQ(quad % alignof(ZvFace), 0u);
  EXPECT_EQ(zvFaceLeafBytes(1, 0, 1, 1), 0u);
  ZvFaceBlock* block = zvNewFaceBlock(2 * quad + tri);
  ASSERT_NE(block, nullptr);
  ZvFace* f[3] = {zvPlaceFaceLeaf(block, 1, 4, 4, 4), zvPlaceFaceLeaf(block, 3, 3, 3, 1),
                  zvPlaceFaceLeaf(block, 1, 4, 4, 4)};
  for (ZvFace* face : f) ASSERT_NE(face, nullptr);
  EXPECT_EQ(zvPlaceFaceLeaf(block, 1, 1, 1, 1), nullptr);  // full
  EXPECT_EQ(memory.live(), base + 1);
  EXPECT_EQ(static_cast<void*>(f[1]->material.ambient.values), static_cast<void*>(f[1]->texture.uv + 3));
  EXPECT_EQ(f[1]->normalCount, 3);
  EXPECT_EQ(f[2]->material.maxElement, 4);
  // Every element of every face is writable without touching its neighbour.
  for (ZvFace* face : f) {
    for (int i = 0; i < face->vertexCount; ++i) face->vertices[i] = {float(i), 1, 2};
    for (int i = 0; i < face->normalCount; ++i) face->normals[i] = {0, 0, 1};
    for (int i = 0; i < face->texture.uvCount; ++i) face->texture.uv[i] = {0.5f, 0.5f};
    for (int i = 0; i < face->material.maxElement; ++i) face->material.transparency.values[i] = 0.25f;
  }
  EXPECT_EQ(f[0]->vertices[3].x, 3);
  EXPECT_EQ(f[1]->vertices[0].x, 0);
  zvReleaseFaceBlock(block);
  f[0]->next = f[1];
  f[1]->next = f[2];
  ASSERT_EQ(zvAttachLeaf(o, f[0]), ZV_OK);
  EXPECT_EQ(memory.live(), base + 1);

  // A script changes one face's colour: its material moves out, the block stays.
  ZvSFColor red{1, 0, 0};
  ZvMFColor one{1, &red};
  ASSERT_EQ(zvSetLeafMaterialColor(f[2], &one, ZV_MAT_DIFFUSE), ZV_OK);
  EXPECT_FALSE(f[2]->flags & ZV_LEAF_PACKED_MATERIAL);
  EXPECT_EQ(f[2]->material.transparency.values[3], 0.25f);
  // The middle face goes alone; its neighbours are untouched.
  f[0]->next = zvDeleteLeaf(f[1]);
  EXPECT_EQ(f[0]->next, f[2]);
  EXPECT_EQ(f[2]->vertices[3].x, 3);
  EXPECT_EQ(f[0]->material.transparency.values[3], 0.25f);
  EXPECT_GE(memory.live(), base + 1);
  // The rest go with the object's chain, and with them the block.
  zvDeleteAllLeaf(o->leaf);
  o->leaf = nullptr;
  EXPECT_EQ(memory.live(), base);

  // A block whose maker let go before any face was placed goes at once;
  // one whose faces went first waits for its maker.
  zvReleaseFaceBlock(zvNewFaceBlock(quad));
  EXPECT_EQ(memory.live(), base);
  block = zvNewFaceBlock(quad);
  EXPECT_EQ(zvDeleteLeaf(zvPlaceFaceLeaf(block, 1, 4, 4, 4)), nullptr);
  EXPECT_EQ(memory.live(), base + 1);
  zvReleaseFaceBlock(block);
  EXPECT_EQ(memory.live(), base);
  memory.failAfter(0);
  EXPECT_EQ(zvNewFaceBlock(quad), nullptr);
  memory.failAfter(-1);
}

// Faces copied from a model: its header reaches every face, an overall
// material is one record in the block, and a script changing one face's
// colour leaves the others with the shared record.
TEST_F(LeafTest, FacesFromAModelShareTheBlocksMaterial) {
  ZvObj* o = make();
  const long base = memory.live();
  const size_t tri = zvFaceLeafBytes(3, 3, 3, 0);
  EXPECT_LT(tri, zvFaceLeafBytes(3, 3, 3, 1));
  ZvFaceBlock* block = zvNewFaceBlock(2 * tri + zvFaceLeafBytes(1, 4, 4, 4));
  ASSERT_NE(block, nullptr);
  ZvFace model{};
  model.owner = o;
  model.convex = 1;
  model.normalBinding = 7;
  EXPECT_EQ(zvPlaceFaceLeafAs(block, &model, 3, 3, 3, 0), nullptr);  // no record to share yet
  ASSERT_EQ(zvPlaceFaceBlockMaterial(block, &model), ZV_OK);
  EXPECT_EQ(zvPlaceFaceBlockMaterial(block, &model), ZV_FAIL);  // one a block
  model.material.diffuse.values[0] = {0, 1, 0};
  ZvFace* f[3] = {zvPlaceFaceLeafAs(block, &model, 3, 3, 3, 0), zvPlaceFaceLeafAs(block, &model, 3, 3, 3, 0),
                  zvPlaceFaceLeafAs(block, &model, 1, 4, 4, 4)};
  for (ZvFace* face : f) ASSERT_NE(face, nullptr);
  EXPECT_EQ(zvPlaceFaceLeafAs(block, &model, 3, 3, 3, 0), nullptr);  // full
  zvReleaseFaceBlock(block);
  EXPECT_EQ(memory.live(), base + 1);
  EXPECT_EQ(f[0]->material.diffuse.values, f[1]->material.diffuse.values);
  EXPECT_EQ(f[1]->material.diffuse.values[0].g, 1);
  EXPECT_NE(f[2]->material.diffuse.values, f[0]->material.diffuse.values);
  EXPECT_EQ(f[2]->material.maxElement, 4);
  EXPECT_EQ(f[1]->normalBinding, 7);
  EXPECT_EQ(f[1]->convex, 1);
  EXPECT_EQ(static_cast<void*>(f[1]->vertices), static_cast<void*>(f[1]->normals + 3));
  for (ZvFace* face : f) face->vertices[0] = {1, 1, 1};
  f[0]->next = f[1];
  f[1]->next = f[2];
  float lo[3] = {1, 1, 1};
  ASSERT_EQ(zvAttachFaceLeaves(o, f[0], lo, lo), ZV_OK);
  for (ZvFace* face : f) EXPECT_EQ(face->owner, o);

  ZvSFColor red{1, 0, 0};
  ZvMFColor one{1, &red};
  ASSERT_EQ(zvSetLeafMaterialColor(f[0], &one, ZV_MAT_DIFFUSE), ZV_OK);
  EXPECT_EQ(f[0]->material.diffuse.values[0].r, 1);
  EXPECT_EQ(f[1]->material.diffuse.values[0].g, 1);
  EXPECT_EQ(memory.live(), base + 1 + 6);  // f[0]'s arrays of its own
  // The face that shares goes first, then the rest with the block.
  f[0]->next = zvDeleteLeaf(f[1]);
  EXPECT_EQ(f[2]->material.maxElement, 4);
  zvDeleteAllLeaf(o->leaf);
  o->leaf = nullptr;
  EXPECT_EQ(memory.live(), base);
}

TEST_F(LeafTest, DeletingAChainFreesWhatItOwnsAndSparesWhatOtherModulesHold) {
  handedOver.clear();
  zvSceneHooks().deleteLeafMedia = record;
  zvSceneHooks().deleteSoundLeaf = record;
  const long base = memory.live();
  ZvText* text = zvNewTextLeaf();
  text->text = zvStrdup("two\nlines");
  text->texture.uvCount = 2;
  text->texture.uv = static_cast<ZvSFVec2f*>(zvMalloc(2 * sizeof(ZvSFVec2f)));
  ZvLineSet* lines = zvNewLineSetLeaf();
  lines->points = static_cast<ZvSFVec3f*>(zvMalloc(sizeof(ZvSFVec3f)));
  lines->indices = static_cast<int32_t*>(zvMalloc(sizeof(int32_t)));
  ZvSFColor red{1, 0, 0};
  ZvMFColor reds{1, &red};
  ASSERT_EQ(zvSetLeafMaterialColor(lines, &reds, ZV_MAT_EMISSIVE), ZV_OK);
  ZvCamera* camera = zvNewPerspectiveCameraLeaf();
  ZvLight* light = zvNewDirectionalLight();
  ZvSoundLeaf* sound = zvNewSoundLeaf();
  text->next = lines;
  lines->next = camera;
  camera->next = light;
  light->next = sound;
  ZvSphere* sphere = zvNewSphereLeaf();
  sound->next = sphere;
  zvDeleteAllLeaf(text);
  EXPECT_EQ(memory.live(), base + 3);  // only the camera, light and sound records
  EXPECT_FLOAT_EQ(camera->focalDistance, 5.0f);  // the sanitiser guards the read
  EXPECT_EQ(light->type, ZV_LEAF_DIRECTIONAL_LIGHT);
  EXPECT_EQ(handedOver, (std::vector<ZvLeaf*>{text, lines, sound, sphere}));
  zvSceneHooks().deleteSoundLeaf = nullptr;
  zvDeleteLeaf(sound);  // with no sound module the record is simply freed
  zvFree(camera);
  zvFree(light);
}

TEST_F(LeafTest, SearchesTakeOwnLeavesFirstThenChildrenDepthFirst) {
  ZvObj* top = make();
  ZvObj* deep = make(nullptr, make(nullptr, top));
  ZvObj* second = make(zvNewCone(ZV_PART_ALL, 1, 1), top);
  ZvLeaf* face = zvNewFaceLeaf();
  ASSERT_EQ(zvAttachLeaf(top, face), ZV_OK);
  ASSERT_EQ(zvAttachLeaf(deep, zvNewCone(ZV_PART_BOTTOM, 1, 1)), ZV_OK);
  ASSERT_EQ(zvAttachLeaf(deep, zvNewSphereLeaf()), ZV_OK);
  EXPECT_EQ(deep->leaf->next->owner, deep);
  EXPECT_EQ(zvAttachLeaf(top, face), ZV_FAIL);  // twice would close a ring

  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_CONE_BOTTOM), deep->leaf);
  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_CONE_SIDE), second->leaf);
  EXPECT_EQ(zvFindLeafByType(top, ZV_LEAF_SPOT_LIGHT), nullptr);
  // n counts within one object's chain; the subtree answers only when the
  // object's own chain is too short.
  EXPECT_EQ(zvGetNthLeaf(top, 0), face);
  EXPECT_EQ(zvGetNthLeaf(top, 1), deep->leaf->next);
  EXPECT_EQ(zvGetNthLeaf(top, 2), nullptr);

  // Nesting deeper than the thread stack allows.
  ZvObj* root = make();
  ZvObj* o = root;
  for (int i = 0; i < 200000; ++i) o = make(nullptr, o);
  zvAttachLeaf(o, zvNewSphereLeaf());
  EXPECT_EQ(zvFindLeafByType(root, ZV_LEAF_SPHERE), o->leaf);
}

}  // namespace
