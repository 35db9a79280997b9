// gl_math.cpp — the few matrix operations the GL side needs per frame, kept
// here so drawing does not depend on the scratch-matrix machinery.
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

float rwGlDeterminant3(const RwMatrix& m) {
  return m.m[0][0] * (m.m[1][1] * m.m[2][2] - m.m[1][2] * m.m[2][1]) -
         m.m[0][1] * (m.m[1][0] * m.m[2][2] - m.m[1][2] * m.m[2][0]) +
         m.m[0][2] * (m.m[1][0] * m.m[2][1] - m.m[1][1] * m.m[2][0]);
}

namespace {

// Inverse of the upper 3x3, row-major; false when singular.
bool invert3(const RwMatrix& m, float out[3][3]) {
  float det = rwGlDeterminant3(m);
  if (!std::isfinite(det) || std::fabs(det) < 1e-30f) return false;
  float inv = 1.0f / det;
  out[0][0] = (m.m[1][1] * m.m[2][2] - m.m[1][2] * m.m[2][1]) * inv;
  out[0][1] = (m.m[0][2] * m.m[2][1] - m.m[0][1] * m.m[2][2]) * inv;
  out[0][2] = (m.m[0][1] * m.m[1][2] - m.m[0][2] * m.m[1][1]) * inv;
  out[1][0] = (m.m[1][2] * m.m[2][0] - m.m[1][0] * m.m[2][2]) * inv;
  out[1][1] = (m.m[0][0] * m.m[2][2] - m.m[0][2] * m.m[2][0]) * inv;
  out[1][2] = (m.m[0][2] * m.m[1][0] - m.m[0][0] * m.m[1][2]) * inv;
  out[2][0] = (m.m[1][0] * m.m[2][1] - m.m[1][1] * m.m[2][0]) * inv;
  out[2][1] = (m.m[0][1] * m.m[2][0] - m.m[0][0] * m.m[2][1]) * inv;
  out[2][2] = (m.m[0][0] * m.m[1][1] - m.m[0][1] * m.m[1][0]) * inv;
  return true;
}

}  // namespace

bool rwGlInvertAffine(const RwMatrix& m, RwMatrix& out) {
  float r[3][3];
  if (!invert3(m, r)) return false;
  RwMatrix o = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) o.m[i][j] = r[i][j];
  // p = q * M  =>  q = (p - t) * R^-1
  for (int j = 0; j < 3; ++j)
    o.m[3][j] = -(m.m[3][0] * r[0][j] + m.m[3][1] * r[1][j] + m.m[3][2] * r[2][j]);
  o.m[3][3] = 1.0f;
  out = o;
  return true;
}

bool rwGlNormalMatrix(const RwMatrix& m, float out[9]) {
  float r[3][3];
  if (!invert3(m, r)) return false;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i * 3 + j] = r[j][i];
  return true;
}
