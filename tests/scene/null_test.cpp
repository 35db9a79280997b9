// Every entry point of the model answers null arguments with a failure,
// never a crash; the sanitiser build makes a stray dereference fatal.
#include <utility>

#include "tests/support/testsupport.h"

namespace {

class NullArgumentTest : public qmtest::SceneTest {};

#define FAILS(call) {#call, (call) == ZV_FAIL}
#define NOTOK(call) {#call, (call) != ZV_OK}
#define NONE(call) {#call, (call) == nullptr}
#define ZERO(call) {#call, (call) == 0}

TEST_F(NullArgumentTest, EveryEntryPointFailsCleanly) {
  zvSetDebugFlag(ZV_DEBUG_WARNING, 0);
  ZvObj* out = nullptr;
  void* value = nullptr;
  float xyz[3], mn[3], mx[3];
  const std::pair<const char*, bool> answers[] = {
      FAILS(zvNewHash(10, nullptr, zvIdHashFunc)), FAILS(zvNewHashEntry(nullptr, "k", 1, nullptr)),
      FAILS(zvLookupHash(nullptr, "k", 1, nullptr)), FAILS(zvRemoveHashEntry(nullptr, "k", 1)),
      FAILS(zvFindHashKey(nullptr, nullptr, nullptr, nullptr)), FAILS(zvForEachHash(nullptr, nullptr, nullptr)),
      FAILS(zvFilterHash(nullptr, nullptr, nullptr)),

      FAILS(zvNewZvObj(nullptr, nullptr, 1)), FAILS(zvNewZvObj(nullptr, &out, 1)),
      FAILS(zvAddChild(nullptr, nullptr)), FAILS(zvAddTopObject(nullptr, "f")),
      NONE(zvNextChild(nullptr)), NONE(zvNextTopObject(nullptr)),
      FAILS(zvObjAssignId(nullptr, 3)), NONE(zvGetObjById(nullptr, 3)),
      FAILS(zvCutZvObj(nullptr)), FAILS(zvClearZvObjContents(nullptr)), ZERO(zvIsSolid(nullptr)),
      ZERO(zvGetSwitchObjNum(nullptr)), ZERO(zvGetSwitchObjNo(nullptr)),
      NONE(zvGetSwitchObjByNo(nullptr, 0)), FAILS(zvSetSwitchObjByNo(nullptr, 0)),
      FAILS(zvAddZvObjToZvMFObj(nullptr, nullptr)), FAILS(zvRemoveZvObjFromZvMFObj(nullptr, nullptr)),

      FAILS(zvInitWorld(nullptr, 10, "u")), FAILS(zvClearWorld(nullptr)),
      FAILS(zvAddWorldExitHandler(nullptr, nullptr)), FAILS(zvConstructWorld(nullptr, nullptr)),
      FAILS(zvAddPersonToWorld(nullptr)),

      FAILS(zvAttachLeaf(nullptr, nullptr)), NONE(zvDeleteLeaf(nullptr)), FAILS(zvDeleteTexture(nullptr)),
      ZERO(zvIsShapeObj(nullptr)), NONE(zvFindLeafByType(nullptr, ZV_LEAF_SPHERE)),
      NONE(zvGetNthLeaf(nullptr, 0)), FAILS(zvSetLeafMaterial(nullptr, nullptr, ZV_MAT_DIFFUSE)),
      NONE(zvGetLeafMaterial(nullptr, ZV_MAT_DIFFUSE)), FAILS(zvSetObjAllDiffuse(nullptr, nullptr)),
      NONE(zvGetObjAllShininess(nullptr)), FAILS(zvApplyObjAllMaterial(nullptr)),
      FAILS(zvGFcopyMFVec3f(nullptr, nullptr)), NONE(zvGFnewCopyMFInt32(nullptr)),
      NOTOK(zvGFaddMFString(nullptr, nullptr)),

      NONE(zvNameObject(nullptr, "n")), NONE(zvGetObjName(nullptr)), NONE(zvGetObjComment(nullptr)),
      NONE(zvGetObjByName(nullptr)), NONE(zvGetObjByName("a.b")),  // no current world
      NONE(zvGetObjByPath(nullptr, "a")), NONE(zvFindObjByName(nullptr, "a")),

      FAILS(zvRegisterObjExtension(nullptr, zvLODNode, nullptr)), NONE(zvGetObjExtension(nullptr, zvLODNode)),
      FAILS(zvRemoveObjExtension(nullptr, zvLODNode)), NOTOK(zvReleaseObjExtension(nullptr)),
      FAILS(allocAndCopyZvObjExtensionForLOD(nullptr, nullptr)),
      NONE(zvNewObjValue(nullptr, ZV_VALUE_INT, "v", "1", 1)), NONE(zvSetObjValue(nullptr, ZV_VALUE_INT, "v", "1")),
      NONE(zvGetObjValue(nullptr, ZV_VALUE_INT, nullptr)), FAILS(zvDeleteObjValue(nullptr, ZV_VALUE_INT, "v")),

      FAILS(zvGetObjAttribute(nullptr, 4, &value)), FAILS(zvSetObjAttribute(nullptr, 4, nullptr)),
      FAILS(zvGetLightAttribute(nullptr, 0, &value)), FAILS(zvSetLightAttribute(nullptr, 0, nullptr)),
      FAILS(zvGetCameraAttribute(nullptr, 0, &value)), FAILS(zvSetCameraAttribute(nullptr, 0, nullptr)),
      FAILS(zvGetCameraPosition(nullptr, xyz)),

      NOTOK(zvGetObjBoundingCube(nullptr, mn, mx)),
      FAILS(zvObjectRotateTrans(nullptr, nullptr, ZV_COORD_OWN, 0)),
      FAILS(zvObjectRotate(nullptr, nullptr, ZV_COORD_OWN, 0)),
      FAILS(zvObjectTranslate(nullptr, nullptr, ZV_COORD_OWN, 0)), NONE(zvGetObjectWRT(nullptr)),
      FAILS(zvValidateChildWRT(nullptr)), ZERO(zvIsPointInObjBox(nullptr, nullptr)),
  };
  for (const auto& [call, answered] : answers) EXPECT_TRUE(answered) << call;
  zvDeleteHash(nullptr);
  zvClearZvMFObj(nullptr);
  zvComputeWorldBoundingBox(nullptr);
  zvDeleteAllLeaf(nullptr);
  zvDeleteZvMFColor(nullptr);
  zvGFdeleteMFFloat(nullptr);
  zvGFdeleteMFString(nullptr);
  zvRemoveAllObjExtension(nullptr);
  zvDeleteAllObjValue(nullptr);
  zvInvalidateBoundingCube(nullptr);

  // An object with the arguments present but pointing at nothing useful.
  ZvWorld* world = zvNewWorld(nullptr);
  ASSERT_NE(world, nullptr);
  ASSERT_EQ(zvNewZvObj(world, &out, 0), ZV_OK);
  EXPECT_EQ(zvAddChild(out, out), ZV_FAIL);
  EXPECT_EQ(zvSetObjAttribute(out, 4, nullptr), ZV_FAIL);
  EXPECT_EQ(zvGetObjByPath(out, nullptr), nullptr);
  EXPECT_EQ(zvObjectRotate(out, nullptr, ZV_COORD_WORLD, 0), ZV_FAIL);
  EXPECT_EQ(zvDeleteZvObj(out), ZV_OK);
  EXPECT_EQ(zvDeleteWorld(world), ZV_OK);
}

}  // namespace
