// kinpriv.h — the records of a motion-captured character and the reader of
// its file, shared by the loader, the tests, the fuzzer and the benchmarks.
//
// Matrices are 3x3, row by row; points are row vectors (p·M), as in the
// scene model's transforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "scene/scene.h"

// Limits that keep a hostile file from costing more than a real one could.
enum {
  ZV_KIN_TOKEN_MAX = 99,          // characters in one token
  ZV_KIN_SEGMENTS_MAX = 10000,    // a body of people has a few dozen
  ZV_KIN_DEPTH_MAX = 256,         // segments from the root to the deepest one
  ZV_KIN_CHANNELS_MAX = 100000,   // numbers on one motion line
};
// Largest character file read at all.
constexpr size_t kZvKinFileMax = size_t(512) << 20;

struct ZvKinSite {
  std::string name;  // segment.site
  float rotation[9];
  float translation[3];
  int used;     // 1: the segment hangs from its parent through this site
  int partner;  // the site on the other side of a joint, or -1
  int segment;
};

struct ZvKinSegment {
  std::string name;
  float rotation[9];
  float attachTranspose[9];  // transposed rotation of the attachment site
  float position[3];
  int attach;   // attachment site (the root site for the root segment), or -1
  int parent;   // parent segment once placed, -1 for the root and the unplaced
  int depth;
  int placed;
  std::vector<int> sites;  // file order, without the attachment site
  int channel;             // the capture channel that drives it, or -1
  float* joint;            // 9 floats per frame while driven, owned by the body
};

struct ZvKinJoint {
  std::string name;
  int first, second;  // sites
};

struct ZvKinBody {
  std::string name;
  float rootRotation[9];
  float rootTranslation[3];
  int rootSite = -1, rootSegment = -1;
  std::vector<ZvKinSegment> segments;
  std::vector<ZvKinSite> sites;
  std::vector<ZvKinJoint> joints;
  std::unordered_map<std::string, int> segmentByName, siteByName, jointByName;
  std::vector<int> order;  // placed segments, every parent before its children
  int32_t channels = 0;
  int32_t frames = 0;
  float* frameRotation = nullptr;      // 9 per frame: the root's rotation
  float* frameDisplacement = nullptr;  // 3 per frame: root position minus the previous one
  ~ZvKinBody();
};

// The record that follows a character from frame to frame.
struct ZvKinPosition {
  int32_t frame;  // -1 before the first
  float matrix[9];  // inverse of the root rotation last applied
};

// Reads a whole character file held in memory: body, capture and motion,
// then the placement. Null after the messages of the failing part.
ZvKinBody* zvKinParse(const char* data, size_t size);
void zvKinFreeBody(ZvKinBody* body);

// The rotation an "xfm" gives for angles in degrees.
void zvKinXfmRotation(double rx, double ry, double rz, float out[9]);
// out = a·b; out may not alias a or b.
void zvKinMultiply(const float a[9], const float b[9], float out[9]);
void zvKinTranspose(const float a[9], float out[9]);

// While a script's skin is read from its local copy, the URL it came from:
// the character file it names resolves against that, not the copy.
const char* zvKinSkinUrlOverride(void);
void zvKinSetSkinUrlOverride(const char* url);  // null clears it
// Fills the reader's character hook and the scene's release hook.
void zvKinInstallHooks(void);
// The objects of a parsed body, on *object (a new object when null) with
// bones, or with the parts of a skin already read. Takes the body: on
// failure it is freed and the objects made are gone. 0, -1 or -5.
int zvKinBuild(ZvWorld* world, ZvKinBody* body, ZvObj* skin, ZvObj** object);
