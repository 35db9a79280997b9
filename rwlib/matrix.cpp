// matrix.cpp — row-vector matrices (p' = p * M) and the scratch stack.
#include <cmath>
#include <deque>

#include "rwlib/cpupriv.h"

namespace {

constexpr size_t kScratchDepth = 256;
std::deque<RwMatrix> gScratch;  // a deque: pushing keeps earlier tops in place

void setIdentity(RwMatrix* m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m->m[r][c] = r == c ? 1.0f : 0.0f;
}

int combine(RwMatrix* matrix, const RwMatrix& t, int how) {
  RwMatrix out;
  switch (how) {
    case RW_REPLACE: *matrix = t; return 1;
    case RW_PRECONCAT: rwMultiplyMatrix(&t, matrix, &out); break;
    case RW_POSTCONCAT: rwMultiplyMatrix(matrix, &t, &out); break;
    default: rwSetError(RW_E_BADPARAM); return 0;
  }
  *matrix = out;
  return 1;
}

}  // namespace

RwMatrix* rwPushScratchMatrix(void) {
  if (gScratch.size() >= kScratchDepth) {
    rwSetError(RW_E_STATE);
    return nullptr;
  }
  gScratch.emplace_back();
  setIdentity(&gScratch.back());
  return &gScratch.back();
}

int rwPopScratchMatrix(void) {
  if (gScratch.empty()) {
    rwSetError(RW_E_STATE);
    return 0;
  }
  gScratch.pop_back();
  return 1;
}

RwMatrix* rwScratchMatrix(void) { return gScratch.empty() ? nullptr : &gScratch.back(); }

int rwSetMatrixElement(RwMatrix* matrix, int row, int column, float value) {
  if (!matrix || row < 0 || row > 3 || column < 0 || column > 3) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  matrix->m[row][column] = value;
  return 1;
}

float rwGetMatrixElement(const RwMatrix* matrix, int row, int column) {
  if (!matrix || row < 0 || row > 3 || column < 0 || column > 3) {
    rwSetError(RW_E_BADPARAM);
    return 0.0f;
  }
  return matrix->m[row][column];
}

int rwIdentityMatrix(RwMatrix* matrix) {
  if (!matrix) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  setIdentity(matrix);
  return 1;
}

int rwTranslateMatrix(RwMatrix* matrix, float x, float y, float z, int how) {
  if (!matrix) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwMatrix t;
  setIdentity(&t);
  t.m[3][0] = x;
  t.m[3][1] = y;
  t.m[3][2] = z;
  return combine(matrix, t, how);
}

// Right-handed: a positive angle turns y towards z about x, z towards x
// about y, and x towards y about z.
int rwRotateMatrix(RwMatrix* matrix, float ax, float ay, float az, float degrees, int how) {
  double len = std::sqrt(double(ax) * ax + double(ay) * ay + double(az) * az);
  if (!matrix || !(len > 0.0) || !std::isfinite(len) || !std::isfinite(degrees)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  double x = ax / len, y = ay / len, z = az / len;
  double a = degrees * M_PI / 180.0;
  double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
  RwMatrix r;
  setIdentity(&r);
  // Row i is the image of axis i (the transpose of the column-vector form).
  r.m[0][0] = float(t * x * x + c);
  r.m[0][1] = float(t * x * y + s * z);
  r.m[0][2] = float(t * x * z - s * y);
  r.m[1][0] = float(t * x * y - s * z);
  r.m[1][1] = float(t * y * y + c);
  r.m[1][2] = float(t * y * z + s * x);
  r.m[2][0] = float(t * x * z + s * y);
  r.m[2][1] = float(t * y * z - s * x);
  r.m[2][2] = float(t * z * z + c);
  return combine(matrix, r, how);
}

int rwScaleMatrix(RwMatrix* matrix, float x, float y, float z, int how) {
  if (!matrix) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwMatrix t;
  setIdentity(&t);
  t.m[0][0] = x;
  t.m[1][1] = y;
  t.m[2][2] = z;
  return combine(matrix, t, how);
}

int rwMultiplyMatrix(const RwMatrix* a, const RwMatrix* b, RwMatrix* out) {
  if (!a || !b || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwMatrix r;  // out may be a or b
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += double(a->m[i][k]) * b->m[k][j];
      r.m[i][j] = float(sum);
    }
  *out = r;
  return 1;
}

// Gauss-Jordan in double with partial pivoting; a pivot small against the
// matrix's own scale counts as singular (a zero scale in a transform).
int rwInvertMatrix(const RwMatrix* matrix, RwMatrix* out) {
  if (!matrix || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  double a[4][8];
  double scale = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      a[i][j] = matrix->m[i][j];
      a[i][j + 4] = i == j ? 1.0 : 0.0;
      scale = std::fmax(scale, std::fabs(a[i][j]));
    }
  if (!(scale > 0.0) || !std::isfinite(scale)) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  for (int col = 0; col < 4; ++col) {
    int pivot = col;
    for (int r = col + 1; r < 4; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (std::fabs(a[pivot][col]) <= 1e-12 * scale) {
      rwSetError(RW_E_BADPARAM);
      return 0;
    }
    if (pivot != col)
      for (int j = 0; j < 8; ++j) std::swap(a[pivot][j], a[col][j]);
    double inv = 1.0 / a[col][col];
    for (int j = 0; j < 8; ++j) a[col][j] *= inv;
    for (int r = 0; r < 4; ++r) {
      if (r == col || a[r][col] == 0.0) continue;
      double f = a[r][col];
      for (int j = 0; j < 8; ++j) a[r][j] -= f * a[col][j];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = float(a[i][j + 4]);
  return 1;
}

int rwTransformPoint(RwV3d* point, const RwMatrix* m) {
  if (!point || !m) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwV3d p = *point;
  point->x = p.x * m->m[0][0] + p.y * m->m[1][0] + p.z * m->m[2][0] + m->m[3][0];
  point->y = p.x * m->m[0][1] + p.y * m->m[1][1] + p.z * m->m[2][1] + m->m[3][1];
  point->z = p.x * m->m[0][2] + p.y * m->m[1][2] + p.z * m->m[2][2] + m->m[3][2];
  return 1;
}

int rwTransformVector(RwV3d* vector, const RwMatrix* m) {
  if (!vector || !m) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwV3d p = *vector;
  vector->x = p.x * m->m[0][0] + p.y * m->m[1][0] + p.z * m->m[2][0];
  vector->y = p.x * m->m[0][1] + p.y * m->m[1][1] + p.z * m->m[2][1];
  vector->z = p.x * m->m[0][2] + p.y * m->m[1][2] + p.z * m->m[2][2];
  return 1;
}

int rwNormalize(RwV3d* v) {
  if (!v) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  double len = std::sqrt(double(v->x) * v->x + double(v->y) * v->y + double(v->z) * v->z);
  if (!(len > 0.0) || !std::isfinite(len)) return 0;
  v->x = float(v->x / len);
  v->y = float(v->y / len);
  v->z = float(v->z / len);
  return 1;
}

float rwDotProduct(const RwV3d* a, const RwV3d* b) {
  if (!a || !b) return 0.0f;
  return a->x * b->x + a->y * b->y + a->z * b->z;
}

int rwCrossProduct(const RwV3d* a, const RwV3d* b, RwV3d* out) {
  if (!a || !b || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  RwV3d r = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
  *out = r;
  return 1;
}

int rwSubtractVector(const RwV3d* a, const RwV3d* b, RwV3d* out) {
  if (!a || !b || !out) {
    rwSetError(RW_E_BADPARAM);
    return 0;
  }
  *out = RwV3d{a->x - b->x, a->y - b->y, a->z - b->z};
  return 1;
}

float rwLength(const RwV3d* v) {
  if (!v) return 0.0f;
  return float(std::sqrt(double(v->x) * v->x + double(v->y) * v->y + double(v->z) * v->z));
}
