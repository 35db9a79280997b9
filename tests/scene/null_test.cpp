// Every entry point of the model answers null arguments with a failure,
// never a crash; the sanitiser build makes a stray dereference fatal.
#include "tests/support/testsupport.h"

namespace {

class NullArgumentTest : public qmtest::SceneTest {};

TEST_F(NullArgumentTest, EveryEntryPointFailsCleanly) {
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  EXPECT_EQ(zvNewHash(10, nullptr, zvIdHashFunc), ZV_FAIL);
  EXPECT_EQ(zvNewHashEntry(nullptr, "k", 1, nullptr), ZV_FAIL);
  EXPECT_EQ(zvLookupHash(nullptr, "k", 1, nullptr), ZV_FAIL);
  EXPECT_EQ(zvRemoveHashEntry(nullptr, "k", 1), ZV_FAIL);
  EXPECT_EQ(zvFindHashKey(nullptr, nullptr, nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvForEachHash(nullptr, nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvFilterHash(nullptr, nullptr, nullptr), ZV_FAIL);
  zvDeleteHash(nullptr);

  EXPECT_EQ(zvNewZvObj(nullptr, nullptr, 1), ZV_FAIL);
  ZvObj* out = nullptr;
  EXPECT_EQ(zvNewZvObj(nullptr, &out, 1), ZV_FAIL);
  EXPECT_EQ(zvAddChild(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvAddTopObject(nullptr, "f"), ZV_FAIL);
  EXPECT_EQ(zvNextChild(nullptr), nullptr);
  EXPECT_EQ(zvNextTopObject(nullptr), nullptr);
  EXPECT_EQ(zvObjAssignId(nullptr, 3), ZV_FAIL);
  EXPECT_EQ(zvGetObjById(nullptr, 3), nullptr);
  EXPECT_EQ(zvCutZvObj(nullptr), ZV_FAIL);
  EXPECT_EQ(zvClearZvObjContents(nullptr), ZV_FAIL);
  EXPECT_EQ(zvIsSolid(nullptr), 0);
  EXPECT_EQ(zvGetSwitchObjNum(nullptr), 0);
  EXPECT_EQ(zvGetSwitchObjNo(nullptr), 0);
  EXPECT_EQ(zvGetSwitchObjByNo(nullptr, 0), nullptr);
  EXPECT_EQ(zvSetSwitchObjByNo(nullptr, 0), ZV_FAIL);
  EXPECT_EQ(zvAddZvObjToZvMFObj(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvRemoveZvObjFromZvMFObj(nullptr, nullptr), ZV_FAIL);
  zvClearZvMFObj(nullptr);

  EXPECT_EQ(zvInitWorld(nullptr, 10, "u"), ZV_FAIL);
  EXPECT_EQ(zvClearWorld(nullptr), ZV_FAIL);
  EXPECT_EQ(zvAddWorldExitHandler(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvConstructWorld(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvAddPersonToWorld(nullptr), ZV_FAIL);
  zvComputeWorldBoundingBox(nullptr);

  EXPECT_EQ(zvAttachLeaf(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvDeleteLeaf(nullptr), nullptr);
  zvDeleteAllLeaf(nullptr);
  EXPECT_EQ(zvDeleteTexture(nullptr), ZV_FAIL);
  EXPECT_EQ(zvIsShapeObj(nullptr), 0);
  EXPECT_EQ(zvFindLeafByType(nullptr, ZV_LEAF_SPHERE), nullptr);
  EXPECT_EQ(zvGetNthLeaf(nullptr, 0), nullptr);
  EXPECT_EQ(zvSetLeafMaterial(nullptr, nullptr, ZV_MAT_DIFFUSE), ZV_FAIL);
  EXPECT_EQ(zvGetLeafMaterial(nullptr, ZV_MAT_DIFFUSE), nullptr);
  EXPECT_EQ(zvSetObjAllDiffuse(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetObjAllShininess(nullptr), nullptr);
  EXPECT_EQ(zvApplyObjAllMaterial(nullptr), ZV_FAIL);
  zvDeleteZvMFColor(nullptr);
  EXPECT_EQ(zvGFcopyMFVec3f(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGFnewCopyMFInt32(nullptr), nullptr);
  zvGFdeleteMFFloat(nullptr);
  zvGFdeleteMFString(nullptr);
  EXPECT_NE(zvGFaddMFString(nullptr, nullptr), ZV_OK);

  EXPECT_EQ(zvNameObject(nullptr, "n"), nullptr);
  EXPECT_EQ(zvGetObjName(nullptr), nullptr);
  EXPECT_EQ(zvGetObjComment(nullptr), nullptr);
  EXPECT_EQ(zvGetObjByName(nullptr), nullptr);
  EXPECT_EQ(zvGetObjByName("a.b"), nullptr);  // no current world
  EXPECT_EQ(zvGetObjByPath(nullptr, "a"), nullptr);
  EXPECT_EQ(zvFindObjByName(nullptr, "a"), nullptr);

  EXPECT_EQ(zvRegisterObjExtension(nullptr, zvLODNode, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetObjExtension(nullptr, zvLODNode), nullptr);
  EXPECT_EQ(zvRemoveObjExtension(nullptr, zvLODNode), ZV_FAIL);
  zvRemoveAllObjExtension(nullptr);
  EXPECT_NE(zvReleaseObjExtension(nullptr), ZV_OK);
  EXPECT_EQ(allocAndCopyZvObjExtensionForLOD(nullptr, nullptr), ZV_FAIL);
  EXPECT_EQ(zvNewObjValue(nullptr, ZV_VALUE_INT, "v", "1", 1), nullptr);
  EXPECT_EQ(zvSetObjValue(nullptr, ZV_VALUE_INT, "v", "1"), nullptr);
  EXPECT_EQ(zvGetObjValue(nullptr, ZV_VALUE_INT, nullptr), nullptr);
  EXPECT_EQ(zvDeleteObjValue(nullptr, ZV_VALUE_INT, "v"), ZV_FAIL);
  zvDeleteAllObjValue(nullptr);

  void* value = nullptr;
  EXPECT_EQ(zvGetObjAttribute(nullptr, 4, &value), ZV_FAIL);
  EXPECT_EQ(zvSetObjAttribute(nullptr, 4, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetLightAttribute(nullptr, 0, &value), ZV_FAIL);
  EXPECT_EQ(zvSetLightAttribute(nullptr, 0, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetCameraAttribute(nullptr, 0, &value), ZV_FAIL);
  EXPECT_EQ(zvSetCameraAttribute(nullptr, 0, nullptr), ZV_FAIL);
  float xyz[3];
  EXPECT_EQ(zvGetCameraPosition(nullptr, xyz), ZV_FAIL);

  float mn[3], mx[3];
  EXPECT_NE(zvGetObjBoundingCube(nullptr, mn, mx), ZV_OK);
  zvInvalidateBoundingCube(nullptr);
  EXPECT_EQ(zvObjectRotateTrans(nullptr, nullptr, ZV_COORD_OWN, 0), ZV_FAIL);
  EXPECT_EQ(zvObjectRotate(nullptr, nullptr, ZV_COORD_OWN, 0), ZV_FAIL);
  EXPECT_EQ(zvObjectTranslate(nullptr, nullptr, ZV_COORD_OWN, 0), ZV_FAIL);
  EXPECT_EQ(zvGetObjectWRT(nullptr), nullptr);
  EXPECT_EQ(zvValidateChildWRT(nullptr), ZV_FAIL);
  EXPECT_EQ(zvIsPointInObjBox(nullptr, nullptr), 0);

  // Objects with the arguments present but pointing at nothing useful.
  ZvWorld* world = zvNewWorld(nullptr);
  ASSERT_NE(world, nullptr);
  ZvObj* o = nullptr;
  ASSERT_EQ(zvNewZvObj(world, &o, 0), ZV_OK);
  EXPECT_EQ(zvAddChild(o, o), ZV_FAIL);
  EXPECT_EQ(zvSetObjAttribute(o, 4, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetObjByPath(o, nullptr), nullptr);
  EXPECT_EQ(zvObjectRotate(o, nullptr, ZV_COORD_WORLD, 0), ZV_FAIL);
  EXPECT_EQ(zvDeleteZvObj(o), ZV_OK);
  EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
}

}  // namespace
