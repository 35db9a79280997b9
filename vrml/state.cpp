// state.cpp — the traversal state and the transform maths of nodes.
#include <cmath>

#include "vrml/traverse.h"

QvState::QvState(ZvWorld* w) : world(w) {
  ZvTransform identity;
  zvTransformIdentity(&identity);
  addRT(QV_STACK_WORLD_RT, identity);
  addRT(QV_STACK_LOCAL_RT, identity);
}

void QvState::pop() {
  --depth;
  for (auto& s : stacks_)
    while (!s.empty() && s.back().depth > depth) s.pop_back();
}

void QvState::addElement(int kind, QvNode* node) {
  QvElement e{};
  e.depth = depth;
  e.node = node;
  stacks_[kind].push_back(e);
}

void QvState::addRT(int kind, const ZvTransform& rt) {
  QvElement e{};
  e.depth = depth;
  e.rt = rt;
  stacks_[kind].push_back(e);
}

QvElement* QvState::getTopElement(int kind) {
  auto& s = stacks_[kind];
  return s.empty() ? nullptr : &s.back();
}

void QvState::popElement(int kind) {
  auto& s = stacks_[kind];
  if (!s.empty()) s.pop_back();
}

void qvRotationTransform(ZvTransform* out, const float axis[3], float angle) {
  zvTransformIdentity(out);
  double x = axis[0], y = axis[1], z = axis[2];
  double len = std::sqrt(x * x + y * y + z * z);
  if (len < 1e-12 || angle == 0) return;  // no axis: no turn
  x /= len, y /= len, z /= len;
  double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  // Rows are the images of the axes under a right-handed turn about (x,y,z).
  double m[3][3] = {
      {t * x * x + c, t * x * y + s * z, t * x * z - s * y},
      {t * x * y - s * z, t * y * y + c, t * y * z + s * x},
      {t * x * z + s * y, t * y * z - s * x, t * z * z + c},
  };
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) out->m[r][k] = float(m[r][k]);
}

void qvTranslationTransform(ZvTransform* out, float x, float y, float z) {
  zvTransformIdentity(out);
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
}

void qvScaleTransform(ZvTransform* out, float x, float y, float z) {
  zvTransformIdentity(out);
  out->m[0][0] = x;
  out->m[1][1] = y;
  out->m[2][2] = z;
}
