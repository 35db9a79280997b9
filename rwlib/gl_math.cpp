// gl_math.cpp — the few matrix operations the GL side needs per frame, kept
// here so drawing does not depend on the scratch-matrix machinery.
#include <algorithm>
#include <cmath>

#include "rwlib/gl_priv.h"

void rwGlMultiply(const RwMatrix& a, const RwMatrix& b, RwMatrix& out) {
  RwMatrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
  out = r;
}

// In double: a mirrored clump scaled very small keeps its sign, and a huge
// one does not overflow.
float rwGlDeterminant3(const RwMatrix& m) {
  double a[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = m.m[i][j];
  double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  return det < 0.0 ? -1.0f : det > 0.0 ? 1.0f : 0.0f;
}

bool rwGlInvertAffine(const RwMatrix& m, RwMatrix& out) { return rwInvertAffine(m, out); }

// Normals are made unit again after it, so only its direction matters: it
// is scaled to a largest element of one, which keeps the normals of tiny
// or huge clumps from underflowing or overflowing on their way.
bool rwGlNormalMatrix(const RwMatrix& m, float out[9]) {
  RwMatrix inverse;
  if (!rwInvertAffine(m, inverse)) return false;
  float largest = 0.0f;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) largest = std::max(largest, std::fabs(inverse.m[i][j]));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i * 3 + j] = inverse.m[j][i] / largest;
  return true;
}
