// Characters: the rotation an "xfm" gives, placement, the tree of objects,
// frames and steps against values worked out by hand, a skin that keeps its
// place, and files that must fail with a message and nothing left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "media/kinpriv.h"
#include "media/media.h"
#include "tests/support/testsupport.h"
#include "vrml/vrml.h"

namespace {

// An upper arm hanging from the root and a forearm with two sites (so a
// polygon bone), nine numbers a line: the elbow reads numbers 6, 7 and 8.
const char* const kArm =
    "anything before the body is skipped\n"
    "bgnbody\nname arm\n"
    "bgnsegment name upper scale 1 1 1\n"
    " bgnsite name base xfm 0 0 0 0 0 0 endsite\n"
    " bgnsite name elbow xfm 0 -1 0 0 0 0 endsite\n"
    "endsegment\n"
    "bgnsegment name lower scale 1 1 1\n"
    " bgnsite name base xfm 0 -1 0 0 0 0 # a b c d e f g endsite\n"
    " bgnsite name hand xfm 0 -2 0 0 0 0 endsite\n"
    " bgnsite name thumb xfm 0.5 -1.5 0 0 0 0 endsite\n"
    "endsegment\n"
    "root upper.base xfm 1 2 3 0 0 0\n"
    "bgnjoint name elbow connect upper.elbow lower.base limits -90 90 endjoint\n"
    "bgnhandle name grip endhandle\n"
    "endbody\n"
    "bgncapture\n"
    "bgninput name arm file 9 filename arm.mov endinput\n"
    "bgntarget object body arm.upper 0 0 1 endtarget\n"
    "bgntarget object joint arm.elbow 0 0 7 endtarget\n"
    "endcapture the rest of this line is skipped\n"
    "1 2 3 0 0 0 0 0 0\n"
    "1 2 4 0 0 90 90 0 0\n"
    "2 2 4 0 0 0 0 0 0\n";

const float kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const float kTurnZ[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};  // x to y
const float kTurnX[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};  // y to z
const float kTurnY[9] = {0, 0, -1, 0, 1, 0, 1, 0, 0};  // z to x

void expectMatrix(const float* actual, const float* expected, const char* what) {
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-5) << what << " element " << i;
}
void expectPoint(const float* actual, float x, float y, float z, const char* what) {
  EXPECT_NEAR(actual[0], x, 1e-5) << what;
  EXPECT_NEAR(actual[1], y, 1e-5) << what;
  EXPECT_NEAR(actual[2], z, 1e-5) << what;
}

class KinemationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kintestXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    world = zvNewWorld(("file://" + dir + "/world.wrl").c_str());
    ASSERT_NE(world, nullptr);
    zvKinInstallHooks();
  }
  void TearDown() override {
    zvDeleteWorld(world);
    std::system(("rm -rf " + dir).c_str());
  }
  std::string write(const char* name, const std::string& text) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
  }
  // A stick figure from text, as a top object.
  ZvObj* load(const std::string& text) {
    write("figure.wkn", text);
    ZvObj* character = nullptr;
    if (zvKinNew(world, "figure.wkn", nullptr, &character) != ZV_OK) return nullptr;
    zvAddTopObject(character, "figure.wkn");
    return character;
  }
  // The arm with its first from made to.
  static std::string edit(const std::string& from, const std::string& to) {
    std::string t = kArm;
    size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? t : t.replace(at, from.size(), to);
  }
  // The message a file fails with, and that it made nothing.
  std::string failure(const std::string& text) {
    sink.clear();
    int before = world->objectCount;
    EXPECT_EQ(load(text), nullptr);
    EXPECT_EQ(world->objectCount, before) << "objects left by a failed load";
    return sink.dump();
  }
  qmtest::RecordingSink sink;
  std::string dir;
  ZvWorld* world = nullptr;
};

TEST(KinemationMath, XfmAnglesTurnAboutTheirAxesCounterClockwise) {
  float m[9];
  zvKinXfmRotation(0, 0, 90, m);
  expectMatrix(m, kTurnZ, "rz 90");
  zvKinXfmRotation(90, 0, 0, m);
  expectMatrix(m, kTurnX, "rx 90");
  zvKinXfmRotation(0, 90, 0, m);
  expectMatrix(m, kTurnY, "ry 90");
  // With all three: z first, then y, then x, worked out by hand.
  zvKinXfmRotation(90, 90, 90, m);
  const float all[9] = {0, 0, 1, 0, -1, 0, 1, 0, 0};
  expectMatrix(m, all, "90 90 90");
  float zy[9], zyx[9];
  zvKinMultiply(kTurnZ, kTurnY, zy);
  zvKinMultiply(zy, kTurnX, zyx);
  expectMatrix(zyx, all, "z, y, x one after the other");
  float product[9];
  zvKinMultiply(kTurnZ, kTurnX, product);
  const float zx[9] = {0, 0, 1, -1, 0, 0, 0, -1, 0};
  expectMatrix(product, zx, "z then x");
}

TEST_F(KinemationTest, ReadsPlacesAndBuildsTheArm) {
  std::string text = kArm;
  ZvKinBody* body = zvKinParse(text.data(), text.size());
  ASSERT_NE(body, nullptr) << sink.dump();
  EXPECT_EQ(body->frames, 3);
  EXPECT_EQ(body->channels, 9);
  const ZvKinSegment& lower = body->segments[1];
  expectPoint(lower.position, 0, -1, 0, "forearm hangs at the elbow");
  EXPECT_EQ(lower.channel, 7);
  EXPECT_EQ(body->segments[0].joint, nullptr);  // a "body" target drives nothing
  expectMatrix(lower.joint + 9, kTurnX, "frame 1 bends the elbow");
  expectPoint(body->frameDisplacement + 0, 0, 0, 0, "frame 0 from the root xfm");
  expectPoint(body->frameDisplacement + 3, 0, 0, 1, "frame 1");
  expectPoint(body->frameDisplacement + 6, 1, 0, 0, "frame 2");
  expectMatrix(body->frameRotation + 9, kTurnZ, "root turn of frame 1");
  zvKinFreeBody(body);

  ZvObj* arm = load(kArm);
  ASSERT_NE(arm, nullptr) << sink.dump();
  EXPECT_STREQ(zvGetObjName(arm), "upper");
  expectPoint(arm->lrt.m[3], 1, 2, 3, "root at its xfm");
  // One site: a line to it; two: a polygon from the origin through both.
  ZvObj* upperBone = zvFindObjByName(arm, "upper.bone");
  ASSERT_NE(upperBone, nullptr);
  ASSERT_EQ(upperBone->leaf->type, ZV_LEAF_LINE_SET);
  auto* line = static_cast<ZvLineSet*>(upperBone->leaf);
  ASSERT_EQ(line->pointCount, 2);
  expectPoint(&line->points[1].x, 0, -1, 0, "line to the elbow");
  EXPECT_FLOAT_EQ(line->material.ambient.values[0].g, 8.0f);
  ZvObj* forearm = zvFindObjByName(arm, "lower");
  ZvObj* lowerBone = zvFindObjByName(arm, "lower.bone");
  ASSERT_TRUE(forearm && lowerBone);
  EXPECT_EQ(lowerBone->parent, forearm);
  ASSERT_EQ(lowerBone->leaf->type, ZV_LEAF_FACE);
  auto* face = static_cast<ZvFace*>(lowerBone->leaf);
  ASSERT_EQ(face->vertexCount, 3);
  expectPoint(&face->vertices[2].x, 0.5f, -0.5f, 0, "thumb from the elbow");
  expectPoint(&face->normals[0].x, 0, 0, 1, "normal of the first three");
  int current = 0, count = 0;
  ASSERT_EQ(zvKinGetFrame(arm, &current, &count), ZV_OK);
  EXPECT_EQ(current, -1);
  EXPECT_EQ(count, 3);
}

TEST_F(KinemationTest, StepsMoveTurnAndWrapAsWorkedOutByHand) {
  ZvObj* arm = load(kArm);
  ZvObj* forearm = arm ? zvFindObjByName(arm, "lower") : nullptr;
  ASSERT_TRUE(arm && forearm) << sink.dump();
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);  // frame 0: no displacement
  expectPoint(arm->lrt.m[3], 1, 2, 3, "frame 0");
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);  // frame 1: turned, one forward in z, elbow bent
  expectMatrix(&arm->lrt.m[0][0], kTurnZ, "frame 1 root");
  expectPoint(arm->lrt.m[3], 1, 2, 4, "frame 1 root");
  expectMatrix(&forearm->lrt.m[0][0], kTurnX, "frame 1 elbow");
  // The elbow at (0,-1,0) in the root's frame, turned x to y.
  expectPoint(zvGetObjectWRT(forearm)->m[3], 2, 2, 4, "frame 1 elbow in the world");
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);  // frame 2: straight again, one along x
  expectMatrix(&arm->lrt.m[0][0], kIdentity, "frame 2 root");
  expectPoint(arm->lrt.m[3], 2, 2, 4, "frame 2 root");
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);  // past the last: frame 0, whose step is nothing
  int current = -2;
  zvKinGetFrame(arm, &current, nullptr);
  EXPECT_EQ(current, 0);
  ASSERT_EQ(zvKinPrevFrame(arm), ZV_OK);  // before the first: the last, its step taken back
  zvKinGetFrame(arm, &current, nullptr);
  EXPECT_EQ(current, 2);
  expectPoint(arm->lrt.m[3], 1, 2, 4, "back to the last frame");
  // Setting a frame poses without moving.
  ASSERT_EQ(zvKinSetFrame(arm, 1), ZV_OK);
  expectPoint(arm->lrt.m[3], 1, 2, 4, "set frame keeps the place");
  expectMatrix(&forearm->lrt.m[0][0], kTurnX, "set frame 1 elbow");
  sink.clear();
  EXPECT_EQ(zvKinSetFrame(arm, -1), -4);
  EXPECT_EQ(zvKinSetFrame(arm, 3), -4);
  EXPECT_TRUE(sink.hasText("KinSetFrame: out of range (max_frame = 3)")) << sink.dump();
  zvKinGetFrame(arm, &current, nullptr);
  EXPECT_EQ(current, 1);
  expectMatrix(&arm->lrt.m[0][0], kTurnZ, "out of range changes nothing");
}

TEST_F(KinemationTest, ATurnGivenByTheWorldStaysAndSteersTheSteps) {
  ZvObj* arm = load(kArm);
  ASSERT_NE(arm, nullptr) << sink.dump();
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);
  ASSERT_EQ(zvObjectRotate(arm, kTurnY, ZV_COORD_OWN, ZV_TRANSFORM_SET), ZV_OK);
  ASSERT_EQ(zvKinNextFrame(arm), ZV_OK);
  // The frame's turn on top of the world's, and the step (0,0,1) turned z to x.
  float expected[9];
  zvKinMultiply(kTurnZ, kTurnY, expected);
  expectMatrix(&arm->lrt.m[0][0], expected, "frame 1 on the world's turn");
  expectPoint(arm->lrt.m[3], 2, 2, 3, "step along the turned axis");
}

TEST_F(KinemationTest, TheStepHookHearsLocalStepsOnly) {
  static int heard[2];
  heard[0] = heard[1] = 0;
  ZvKinStepHook before = zvKinSetStepHook([](ZvObj*, int direction) { ++heard[direction == ZV_KIN_STEP_BACK]; });
  ZvObj* arm = load(kArm);
  ASSERT_NE(arm, nullptr);
  zvKinNextFrame(arm);
  zvKinPrevFrame(arm);
  EXPECT_EQ(zvKinReceiveStep(arm, ZV_KIN_STEP_FORWARD), ZV_OK);
  EXPECT_EQ(zvKinReceiveStep(arm, 7), ZV_OK);  // unknown: nothing
  zvKinSetStepHook(before);
  EXPECT_EQ(heard[0], 1);
  EXPECT_EQ(heard[1], 1);
  int current;
  zvKinGetFrame(arm, &current, nullptr);
  EXPECT_EQ(current, 0);
  ZvObj* plain = nullptr;
  zvNewZvObj(world, &plain, 0);
  EXPECT_EQ(zvKinReceiveStep(plain, ZV_KIN_STEP_FORWARD), ZV_FAIL);
  zvDeleteZvObj(plain);
}

TEST_F(KinemationTest, DeleteForgetsTheBodyButKeepsThePose) {
  ZvObj* arm = load(kArm);
  ASSERT_NE(arm, nullptr);
  zvKinNextFrame(arm);
  zvKinNextFrame(arm);
  ASSERT_EQ(zvKinDelete(arm), ZV_OK);
  expectMatrix(&arm->lrt.m[0][0], kTurnZ, "pose kept");
  EXPECT_EQ(zvGetObjExtension(zvFindObjByName(arm, "lower"), zvKinemationSegment), nullptr);
  sink.clear();
  EXPECT_EQ(zvKinNextFrame(arm), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("zvKinSetFrame: cannot get kinemation body.")) << sink.dump();
  EXPECT_EQ(zvKinSetFrame(arm, 0), ZV_FAIL);
  EXPECT_TRUE(sink.hasText("KinSetFrame: cannot get kinemation body.")) << sink.dump();
}

TEST_F(KinemationTest, ASkinKeepsItsPlaceAndFollowsTheSegments) {
  write("arm.wkn", kArm);
  std::string skin = write("skin.wrl",
                           "#VRML V1.0 ascii\n"
                           "Separator {\n"
                           "  DEF Kinemation Info { string \"arm.wkn\" }\n"
                           "  DEF upper Separator { Cube { width 0.2 height 1 depth 0.2 } }\n"
                           "  DEF lower Separator { Translation { translation 0 -1.5 0 } Sphere { radius 0.2 } }\n"
                           "}\n");
  // Read as a world, the file is the character.
  ZvWorld* shown = zvNewWorld(("file://" + skin).c_str());
  ASSERT_EQ(zvParseVRML(skin.c_str(), shown), ZV_OK) << sink.dump();
  ASSERT_NE(shown->topObjects, nullptr);
  ZvObj* arm = shown->topObjects->object;
  ASSERT_NE(zvGetObjExtension(arm, zvKinemationBody), nullptr) << sink.dump();
  ZvObj* forearm = zvFindObjByName(arm, "lower");
  ASSERT_NE(forearm, nullptr);
  ZvObj* ball = nullptr;
  for (ZvObjList* c = forearm->children; c; c = c->next)
    if (c->object->nodeType == ZV_NODE_SPHERE) ball = c->object;
  ASSERT_NE(ball, nullptr);
  expectPoint(zvGetObjectWRT(ball)->m[3], 0, -1.5f, 0, "where the skin put it");
  ASSERT_EQ(zvKinSetFrame(arm, 1), ZV_OK);
  // (-1,-2.5,-3) from the elbow, bent x, placed at the elbow, turned z,
  // placed at the root: worked out on paper.
  expectPoint(zvGetObjectWRT(ball)->m[3], -1, 1, 0.5f, "frame 1");
  zvDeleteWorld(shown);
  // A part missing from the skin fails the character, and the file is read
  // as plain VRML instead.
  write("bare.wrl", "#VRML V1.0 ascii\nSeparator { DEF Kinemation Info { string \"arm.wkn\" }\n"
                    "DEF upper Separator { Cube {} } }\n");
  sink.clear();
  ZvWorld* other = zvNewWorld(("file://" + dir + "/bare.wrl").c_str());
  ASSERT_EQ(zvParseVRML((dir + "/bare.wrl").c_str(), other), ZV_OK) << sink.dump();
  EXPECT_TRUE(sink.hasText("MakeSkin: zvGetObjByName failed.")) << sink.dump();
  ASSERT_NE(other->topObjects, nullptr);
  EXPECT_EQ(zvGetObjExtension(other->topObjects->object, zvKinemationBody), nullptr);
  zvDeleteWorld(other);
}

TEST_F(KinemationTest, MalformedFilesFailWithTheirMessage) {
  std::string arm = kArm;
  std::string crlf;
  for (char c : arm) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_NE(failure(crlf).find("Kinemation bod file seems corrupted. 0"), std::string::npos);
  EXPECT_NE(failure("").find("Kinemation bod file seems corrupted. 0"), std::string::npos);
  // Motion: nothing after the capture.
  EXPECT_NE(failure(arm.substr(0, arm.find("\n1 2 3 0") + 1)).find("zvLineCount failed"), std::string::npos);
  const struct {
    const char *from, *to, *message;
  } edits[] = {
      {"name arm", "label arm", "corrupted. 2"},
      {"scale 1 1 1", "scale 1 1", "incorrect segment declaration"},
      {"name lower", "name upper", "incorrect segment declaration"},
      {"name hand xfm 0", "name hand xfm x", "incorrect segment declaration"},
      {"# a b c d e f g endsite", "# a b c d e f endsite", "incorrect segment declaration"},
      {"root upper.base", "root upper.nowhere", "incorrect root declaration"},
      {"lower.base limits", "lower.hip limits", "incorrect joint declaration"},
      // A joint back into the root would give the root a parent.
      {"upper.elbow lower.base", "lower.hand upper.base", "incorrect joint declaration"},
      {"bgnhandle name grip endhandle\nendbody", "bgnhandle", "incorrect handles"},
      {"bgnhandle", "handle", "incorrect handles"},
      // Capture: a channel past the line, an unknown joint, too few channels.
      {"0 0 7 endtarget", "0 0 9 endtarget", "parseCapFile failed"},
      {"arm.elbow 0", "arm.knee 0", "parseCapFile failed"},
      {"joint arm.elbow", "joint elbow", "parseCapFile failed"},
      {"file 9", "file 5", "parseCapFile failed"},
      {"file 9", "file 9.0", "parseCapFile failed"},
      {"endcapture", "endcaptur", "parseCapFile failed"},
      // The last channel would read the one after it, which is not there.
      {"0 0 7 endtarget", "0 0 8 endtarget", "zvKinNew: zvLoadMov failed."},
      // Motion: a number missing, a word for a number.
      {"2 2 4 0 0 0 0 0 0", "2 2 4 0 0 0 0 0", "zvLoadMov failed"},
      {"2 2 4 0 0 0", "2 2 4 nan 0 0", "zvLoadMov failed"},
      // A segment with nothing to draw to has no bone.
      {" bgnsite name hand xfm 0 -2 0 0 0 0 endsite\n bgnsite name thumb xfm 0.5 -1.5 0 0 0 0 endsite\n", "",
       "MakeKinLeaf: Undefined 'no shape'."},
  };
  for (const auto& e : edits) {
    std::string message = failure(edit(e.from, e.to));
    EXPECT_NE(message.find(e.message), std::string::npos) << e.from << " -> " << e.to << ": " << message;
  }
}

TEST_F(KinemationTest, LimitsHoldAgainstHostileSizes) {
  std::string arm = kArm;
  // A token of 100 characters is not one.
  std::string longName(100, 'x');
  EXPECT_NE(failure(edit("name arm", "name " + longName)).find("corrupted. 2"), std::string::npos);
  EXPECT_NE(load(edit("name arm", "name " + longName.substr(0, 99))), nullptr) << sink.dump();
  // A million empty lines claim a million frames: refused before any table
  // is made for them.
  std::string lines = arm.substr(0, arm.find("\n1 2 3 0") + 1) + std::string(1000000, '\n');
  EXPECT_NE(failure(lines).find("zvLoadMov failed"), std::string::npos);
  // A huge channel count is refused outright.
  EXPECT_NE(failure(edit("file 9", "file 99999999999999999999")).find("parseCapFile failed"), std::string::npos);
  // A chain deeper than any body.
  std::string deep = "bgnbody name chain\n";
  const int depth = ZV_KIN_DEPTH_MAX + 2;
  for (int i = 0; i < depth; ++i)
    deep += "bgnsegment name s" + std::to_string(i) +
            " scale 1 1 1 bgnsite name a xfm 0 0 0 0 0 0 endsite bgnsite name b xfm 0 1 0 0 0 0 endsite endsegment\n";
  deep += "root s0.a xfm 0 0 0 0 0 0\n";
  for (int i = 1; i < depth; ++i)
    deep += "bgnjoint name j" + std::to_string(i) + " connect s" + std::to_string(i - 1) + ".b s" + std::to_string(i) +
            ".a endjoint\n";
  deep += "endbody bgncapture bgninput name c file 6 filename c endinput endcapture\n0 0 0 0 0 0\n";
  EXPECT_NE(failure(deep).find("incorrect tree structure"), std::string::npos);
}

TEST_F(KinemationTest, OutOfMemoryLeavesNothing) {
  std::string text = kArm;
  for (long n = 0; n < 40; ++n) {
    qmtest::CountingAllocator allocator;
    allocator.failAfter(n);
    ZvKinBody* body = zvKinParse(text.data(), text.size());
    ZvObj* character = nullptr;
    int r = body ? zvKinBuild(world, body, nullptr, &character) : ZV_FAIL;
    if (r == ZV_OK) zvDeleteZvObj(character);
    EXPECT_EQ(allocator.live(), 0) << "after " << n << " allocations";
  }
}

}  // namespace
