// traverse.h — walking a parsed node graph into the scene model. Property
// nodes do not become objects: they change the traversal state, which the
// next shape or grouping object consumes.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "vrml/qvnodes.h"

// The element stacks, by kind.
enum QvStackKind {
  QV_STACK_COORDINATE3 = 0,
  QV_STACK_MATERIAL_BINDING = 1,
  QV_STACK_MATERIAL = 2,
  QV_STACK_NORMAL_BINDING = 3,
  QV_STACK_NORMAL = 4,
  QV_STACK_SHAPE_HINTS = 5,
  QV_STACK_TRANSPARENT_TEXTURE2 = 6,
  QV_STACK_TEXTURE2 = 7,
  QV_STACK_TEXTURE2_TRANSFORM = 8,
  QV_STACK_TEXTURE_COORDINATE2 = 9,
  QV_STACK_WWW_ANCHOR = 10,
  QV_STACK_WWW_INLINE = 11,
  QV_STACK_WORLD_RT = 12,
  QV_STACK_LOCAL_RT = 13,
  QV_STACK_SCRIPT = 14,
  QV_STACK_ATTRIBUTES = 15,
  QV_STACK_EVENT_HANDLER = 16,
  QV_STACK_SPORADIC_TASK = 17,
  QV_STACK_PERIODIC_TASK = 18,
  QV_STACK_CALENDAR_TASK = 19,
  QV_STACK_SCALE = 20,
  QV_STACK_MOVIE2 = 21,
  QV_STACK_FONT_STYLE = 22,
  QV_STACK_COUNT = 23,
};

struct QvElement {
  int depth;
  QvNode* node;     // the property node (not owned)
  ZvTransform rt;   // the WorldRT and LocalRT kinds
};

class QvState {
 public:
  explicit QvState(ZvWorld* world);
  ZvWorld* world;
  int depth = 0;
  // The URL of the file being read: names inside it resolve against it.
  std::string baseUrl;
  // How many inlines deep this file sits, and the files above it, so that
  // a file that inlines itself is stopped.
  int inlineDepth = 0;
  std::vector<std::string> inlineChain;

  void push() { ++depth; }
  void pop();
  void addElement(int kind, QvNode* node);
  void addRT(int kind, const ZvTransform& rt);
  QvElement* getTopElement(int kind);
  QvNode* topNode(int kind) {
    QvElement* e = getTopElement(kind);
    return e ? e->node : nullptr;
  }
  void popElement(int kind);
  std::vector<QvElement>& stack(int kind) { return stacks_[kind]; }

 private:
  std::vector<QvElement> stacks_[QV_STACK_COUNT];
};

// Traverses one node: 0 success, -1 failure (the node's objects deleted),
// 1 when the traversal was aborted. object is the node's object or null.
int qvTraverse(QvNode* node, QvState* state, ZvObj** object);

// Fills a shape leaf's texture and material records from the state.
// withCoords false leaves the texture coordinates out (face sets take them
// per vertex themselves).
int qvSetLeafTexture(QvState* state, ZvShape* leaf, const char* who, bool withCoords = true);
int qvSetLeafMaterial(QvState* state, ZvShape* leaf);
// The Material node in effect, if any.
QvMaterial* qvStateMaterial(QvState* state);

// Registers a file name met in the file: resolved against the file's own
// URL, entered in the world's URL table. Null on failure (reported).
ZvUrlHash* qvLoadFile(QvState* state, const char* who, const char* name);

// Face and line sets: one face leaf per face, one line leaf per polyline,
// attached to the object. 0, -1, or -5 when memory runs out.
int qvCreateFaceLeaves(QvState* state, QvIndexedFaceSet* node, ZvObj* object);
int qvCreateLineLeaves(QvState* state, QvIndexedLineSet* node, ZvObj* object);
// A Cube's faces take these four corners when the scene gives only the
// single default texture coordinate.
int qvSetDefaultCubeUV(ZvShape* face);

// Transform maths shared by traversal and the face conversion.
void qvRotationTransform(ZvTransform* out, const float axis[3], float angle);
void qvTranslationTransform(ZvTransform* out, float x, float y, float z);
void qvScaleTransform(ZvTransform* out, float x, float y, float z);
// Normal of three points: (p1 - p0) x (p2 - p0), normalised; false when
// they are in one line. Inline: a face set asks it of nearly every face.
inline bool qvThreePointNormal(const float p0[3], const float p1[3], const float p2[3], float n[3]) {
  double a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  double b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  double len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  if (len < 1e-20) return false;
  for (int i = 0; i < 3; ++i) n[i] = float(c[i] / len);
  return true;
}
