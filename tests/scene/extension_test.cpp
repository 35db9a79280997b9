// Extensions: one cell per type, who owns which data when an object goes
// away, and the copies made for duplicated objects.
#include "tests/support/testsupport.h"

namespace {

class ExtensionTest : public qmtest::TreeFixture {
 protected:
  ZvObj* node(int type) {
    ZvObj* o = make();
    o->nodeType = type;
    return o;
  }
};

ZvLOD* newLOD() {
  auto* lod = static_cast<ZvLOD*>(zvMalloc(sizeof(ZvLOD)));
  lod->rangeCount = 2;
  lod->ranges = static_cast<float*>(zvMalloc(2 * sizeof(float)));
  lod->ranges[1] = 20.0f;
  return lod;
}
int32_t* newChoice() { return static_cast<int32_t*>(zvMalloc(sizeof(int32_t))); }
int hookCalls;
int countingHook(ZvObj*) { return ++hookCalls, 0; }

TEST_F(ExtensionTest, OneCellPerTypeAndDeletionReleasesOwnedDataEvenWhenASubsystemFails) {
  ZvObj* o = make();
  int32_t mine = 3;
  EXPECT_EQ(zvRegisterObjExtension(o, zvSwitchWhichChild, &mine), ZV_OK);
  EXPECT_EQ(zvRegisterObjExtension(o, zvSwitchWhichChild, &mine), ZV_FAIL);
  EXPECT_EQ(zvRegisterObjExtension(o, zvLODNode, newLOD()), ZV_OK);
  EXPECT_EQ(zvGetObjExtension(o, zvSwitchWhichChild), &mine);
  EXPECT_EQ(zvRemoveObjExtension(o, zvLODNode), ZV_OK);  // record and ranges go too
  EXPECT_EQ(zvRemoveObjExtension(o, zvLODNode), ZV_FAIL);
  EXPECT_EQ(zvRemoveObjExtension(o, zvSwitchWhichChild), ZV_OK);  // &mine is not freed
  EXPECT_EQ(o->extensions, nullptr);

  ZvObj* lod = node(ZV_NODE_LOD);
  ASSERT_EQ(zvRegisterObjExtension(lod, zvLODNode, newLOD()), ZV_OK);
  ASSERT_EQ(zvRegisterObjExtension(lod, zvSwitchWhichChild, newChoice()), ZV_OK);
  ASSERT_NE(zvNewObjValue(lod, ZV_VALUE_STRING, "label", "near", 1), nullptr);
  ZvObj* sw = node(ZV_NODE_SWITCH);
  ASSERT_EQ(zvRegisterObjExtension(sw, zvSwitchWhichChild, newChoice()), ZV_OK);
  hookCalls = 0;
  zvSceneHooks().releaseKinemation = countingHook;
  zvSceneHooks().releaseAuthInfo = countingHook;
  zvSceneHooks().renderRemoveBoundingBox = countingHook;
  EXPECT_EQ(zvDeleteZvObj(lod), ZV_OK);
  EXPECT_EQ(zvDeleteZvObj(sw), ZV_OK);
  EXPECT_EQ(hookCalls, 6);
  ZvObj* other = node(ZV_NODE_SWITCH);
  ASSERT_EQ(zvRegisterObjExtension(other, zvSwitchWhichChild, newChoice()), ZV_OK);
  zvSceneHooks().releaseAuthInfo = [](ZvObj*) { return ++hookCalls, -1; };
  EXPECT_EQ(zvReleaseObjExtension(other), ZV_FAIL);
  EXPECT_EQ(other->extensions, nullptr);  // the fixture finds no block left
  zvSceneHooks() = ZvSceneHooks{};
}

TEST_F(ExtensionTest, CopiesAreDeepAndRefuseCellsOfAnotherType) {
  ZvObj *from = node(ZV_NODE_LOD), *to = node(ZV_NODE_LOD);
  ZvLOD* lod = newLOD();
  ZvScript script{zvStrdup("proc go {} {}"), &script};
  ASSERT_EQ(zvRegisterObjExtension(from, zvLODNode, lod), ZV_OK);
  ASSERT_EQ(zvRegisterObjExtension(from, zvScriptNode, &script), ZV_OK);
  ASSERT_NE(zvNewObjValue(from, ZV_VALUE_FLOAT, "speed", "2.5", 0), nullptr);
  ASSERT_NE(zvNewObjValue(from, ZV_VALUE_STRING, "speed", "fast", 1), nullptr);
  ZvObjExtension *lodCell = from->extensions, *scriptCell = lodCell->next, *valueCell = scriptCell->next;

  EXPECT_EQ(allocAndCopyZvObjExtensionForLOD(to, scriptCell), ZV_FAIL);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "allocAndCopyZvObjExtensionForLOD : not LOD."));
  ASSERT_EQ(allocAndCopyZvObjExtensionForLOD(to, lodCell), ZV_OK);
  ASSERT_EQ(allocAndCopyZvObjExtensionForScript(to, scriptCell), ZV_OK);
  ASSERT_EQ(allocAndCopyZvObjExtensionForObjVal(to, valueCell), ZV_OK);
  auto* copy = static_cast<ZvLOD*>(zvGetObjExtension(to, zvLODNode));
  EXPECT_NE(copy->ranges, lod->ranges);
  EXPECT_FLOAT_EQ(copy->ranges[1], 20.0f);
  auto* s = static_cast<ZvScript*>(zvGetObjExtension(to, zvScriptNode));
  EXPECT_NE(s->text, script.text);
  EXPECT_STREQ(s->text, "proc go {} {}");
  EXPECT_EQ(s->data, &script);
  EXPECT_EQ(zvSetObjValue(to, ZV_VALUE_FLOAT, "speed", "1"), nullptr);  // still read-only
  EXPECT_STREQ(zvGetObjValue(to, ZV_VALUE_FLOAT, "speed"), "2.500000");

  EXPECT_EQ(allocAndCopyZvObjExtensionForLOD(to, lodCell), ZV_FAIL);  // one LOD cell only
  ZvObj* third = node(ZV_NODE_LOD);
  memory.failAfter(1);  // the record, but not its ranges
  EXPECT_EQ(allocAndCopyZvObjExtensionForLOD(third, lodCell), ZV_NOMEM);
  memory.failAfter(-1);
  EXPECT_TRUE(sink.has(ZV_DEBUG_WARNING, "allocAndCopyZvObjExtensionForLOD : cannot allocate memory."));
  EXPECT_EQ(third->extensions, nullptr);
  // The script registered by hand lives on the stack: take it off first.
  zvRemoveObjExtension(from, zvScriptNode);
  zvFree(script.text);
}

}  // namespace
