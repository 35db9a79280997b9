// Matrix order and inversion: the library's row-vector convention, checked
// by where points land.
#include <gtest/gtest.h>

#include "rwlib/rwlib.h"

namespace {

RwV3d moved(RwV3d p, const RwMatrix& m) {
  rwTransformPoint(&p, &m);
  return p;
}

void expectNear(RwV3d a, RwV3d b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

TEST(RwMatrix, PreconcatActsFirstPostconcatLast) {
  RwMatrix m;
  rwIdentityMatrix(&m);
  rwTranslateMatrix(&m, 10, 0, 0, RW_REPLACE);
  // Pre: rotate first (x -> y about z), then translate.
  RwMatrix pre = m;
  ASSERT_TRUE(rwRotateMatrix(&pre, 0, 0, 1, 90, RW_PRECONCAT));
  expectNear(moved({1, 0, 0}, pre), {10, 1, 0});
  // Post: translate first, then rotate the translated point.
  RwMatrix post = m;
  ASSERT_TRUE(rwRotateMatrix(&post, 0, 0, 1, 90, RW_POSTCONCAT));
  expectNear(moved({1, 0, 0}, post), {0, 11, 0});
  // rwMultiplyMatrix(a, b) applies a then b.
  RwMatrix a, b, ab;
  rwScaleMatrix(rwIdentityMatrix(&a) ? &a : nullptr, 2, 2, 2, RW_REPLACE);
  rwTranslateMatrix(rwIdentityMatrix(&b) ? &b : nullptr, 0, 5, 0, RW_REPLACE);
  rwMultiplyMatrix(&a, &b, &ab);
  expectNear(moved({1, 1, 1}, ab), {2, 7, 2});
}

TEST(RwMatrix, RotationsAreRightHanded) {
  RwMatrix m;
  rwIdentityMatrix(&m);
  rwRotateMatrix(&m, 1, 0, 0, 90, RW_REPLACE);
  expectNear(moved({0, 1, 0}, m), {0, 0, 1});
  rwRotateMatrix(&m, 0, 1, 0, 90, RW_REPLACE);
  expectNear(moved({0, 0, 1}, m), {1, 0, 0});
  EXPECT_FALSE(rwRotateMatrix(&m, 0, 0, 0, 30, RW_REPLACE));
  EXPECT_EQ(rwGetError(), RW_E_BADPARAM);
}

TEST(RwMatrix, InverseUndoesAndSingularFails) {
  RwMatrix m, inv, both;
  rwIdentityMatrix(&m);
  rwScaleMatrix(&m, 2, 3, 0.5f, RW_POSTCONCAT);
  rwRotateMatrix(&m, 1, 2, 3, 40, RW_POSTCONCAT);
  rwTranslateMatrix(&m, -4, 7, 1, RW_POSTCONCAT);
  ASSERT_TRUE(rwInvertMatrix(&m, &inv));
  rwMultiplyMatrix(&m, &inv, &both);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(both.m[r][c], r == c ? 1.0f : 0.0f, 1e-5f);
  expectNear(moved(moved({3, -2, 9}, m), inv), {3, -2, 9}, 1e-4f);

  rwScaleMatrix(&m, 1, 0, 1, RW_POSTCONCAT);
  EXPECT_FALSE(rwInvertMatrix(&m, &inv));
}

TEST(RwMatrix, ScratchStackKeepsEarlierTops) {
  RwMatrix* a = rwPushScratchMatrix();
  ASSERT_NE(a, nullptr);
  rwTranslateMatrix(a, 1, 2, 3, RW_REPLACE);
  for (int i = 0; i < 100; ++i) ASSERT_NE(rwPushScratchMatrix(), nullptr);
  EXPECT_EQ(rwGetMatrixElement(a, 3, 1), 2.0f);  // still where it was
  for (int i = 0; i < 100; ++i) rwPopScratchMatrix();
  EXPECT_EQ(rwScratchMatrix(), a);
  rwPopScratchMatrix();
  EXPECT_EQ(rwScratchMatrix(), nullptr);
  EXPECT_FALSE(rwPopScratchMatrix());
  EXPECT_FALSE(rwSetMatrixElement(a, 4, 0, 1.0f));
}

}  // namespace
