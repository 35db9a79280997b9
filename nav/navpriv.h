// navpriv.h — what the navigation files share and nobody else needs: the
// small vector helpers, the distance rules of the segment tests, affine
// inverses and the hooks record's storage.
#pragma once

#include <cmath>

#include "nav/nav.h"

namespace zvnav {

constexpr float kEps = 0.00001f;

inline float dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline void sub(const float a[3], const float b[3], float out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = a[i] - b[i];
}
inline void cross(const float a[3], const float b[3], float out[3]) {
  float x = a[1] * b[2] - a[2] * b[1], y = a[2] * b[0] - a[0] * b[2], z = a[0] * b[1] - a[1] * b[0];
  out[0] = x, out[1] = y, out[2] = z;
}
inline float length(const float a[3]) { return std::sqrt(dot(a, a)); }
inline bool normalize(float a[3]) {
  float l = length(a);
  if (!(l > 0) || !std::isfinite(l)) return false;
  a[0] /= l, a[1] /= l, a[2] /= l;
  return true;
}

// A candidate at parameter t is taken unless it lies behind the start or
// not nearer than what is already known (-1: nothing yet).
inline bool acceptable(float t, float known) {
  if (!(t > -kEps)) return false;  // also refuses NaN
  return known == -1.0f || t < known + kEps;
}

// The inverse of an affine transform whose rotation part may carry a scale
// (Transform nodes with a scale factor put it there); false when singular.
bool invertAffine(const ZvTransform* t, ZvTransform* out);

// Start and end taken into the object's leaf coordinates: the inverse of
// its world transform, then divided by its scale factors.
bool toLeafSpace(ZvObj* object, const float start[3], const float end[3], float p[3], float q[3]);

// The world's navigation record, made (gravity and collision on) when it
// has none; null when memory runs out.
ZvNavigation* navigationRecord(ZvWorld* world);

// The world point at parameter t of the segment.
inline void pointAt(const float start[3], const float end[3], float t, float out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = start[i] + t * (end[i] - start[i]);
}

// Roots of a t^2 + b t + c = 0 in ascending order; how many (0 to 2).
int solveQuadratic(float a, float b, float c, float roots[2]);

}  // namespace zvnav
