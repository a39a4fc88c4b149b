#include "foundation/numeric/fixed_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// Naive row-major product of an (n × k) and a (k × p) matrix with explicit
// transposition flags, the reference for every fixed-size product.
void NaiveProduct(double* out, const double* a, int ar, int ac, bool ta, const double* b, int br,
                  int bc, bool tb) {
  const int n = ta ? ac : ar, k = ta ? ar : ac, p = tb ? br : bc;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < p; ++j) {
      double s = 0.0;
      for (int l = 0; l < k; ++l) {
        const double x = ta ? a[l * ac + i] : a[i * ac + l];
        const double y = tb ? b[j * bc + l] : b[l * bc + j];
        s += x * y;
      }
      out[i * p + j] = s;
    }
}

template <class M>
M Random(std::mt19937& rng) {
  std::uniform_real_distribution<double> d(-2.0, 2.0);
  M r;
  for (double& e : r.m) e = d(rng);
  return r;
}

template <size_t N>
void ExpectNear(const double (&got)[N], const double* want, double tol = 1e-12) {
  for (size_t i = 0; i < N; ++i) EXPECT_NEAR(got[i], want[i], tol) << "element " << i;
}

TEST(FixedMatrix, ProductsMatchNaiveLoopsAndMayAliasOperands) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const Matrix2x2 a2 = Random<Matrix2x2>(rng), b2 = Random<Matrix2x2>(rng);
    const Matrix3x3 a3 = Random<Matrix3x3>(rng), b3 = Random<Matrix3x3>(rng);
    const Matrix3x4 a34 = Random<Matrix3x4>(rng), b34 = Random<Matrix3x4>(rng);
    const Matrix4x4 a4 = Random<Matrix4x4>(rng), b4 = Random<Matrix4x4>(rng);
    double want[16];

    Matrix2x2 r2 = a2;
    r2.Multiply(r2, b2);
    NaiveProduct(want, a2.m, 2, 2, false, b2.m, 2, 2, false);
    ExpectNear(r2.m, want);
    r2 = b2;
    r2.MultiplyAtB(a2, r2);
    NaiveProduct(want, a2.m, 2, 2, true, b2.m, 2, 2, false);
    ExpectNear(r2.m, want);
    r2.MultiplyABt(a34.m, b34.m);  // two 2 × 3 operands
    NaiveProduct(want, a34.m, 2, 3, false, b34.m, 2, 3, true);
    ExpectNear(r2.m, want);

    Matrix3x3 r3 = a3;
    r3.Multiply(r3, b3);
    NaiveProduct(want, a3.m, 3, 3, false, b3.m, 3, 3, false);
    ExpectNear(r3.m, want);
    r3 = b3;
    r3.Multiply(a3, r3);
    ExpectNear(r3.m, want);
    r3 = a3;
    r3.MultiplyAtB(r3, b3);
    NaiveProduct(want, a3.m, 3, 3, true, b3.m, 3, 3, false);
    ExpectNear(r3.m, want);
    r3 = b3;
    r3.MultiplyABt(a3, r3);
    NaiveProduct(want, a3.m, 3, 3, false, b3.m, 3, 3, true);
    ExpectNear(r3.m, want);
    r3.MultiplyABt(a34, b34);
    NaiveProduct(want, a34.m, 3, 4, false, b34.m, 3, 4, true);
    ExpectNear(r3.m, want);

    // 3 × 4 transforms compose as 4 × 4 ones with the row (0, 0, 0, 1) added.
    double a44[16] = {}, b44[16] = {};
    std::copy(a34.m, a34.m + 12, a44);
    std::copy(b34.m, b34.m + 12, b44);
    a44[15] = b44[15] = 1.0;
    NaiveProduct(want, a44, 4, 4, false, b44, 4, 4, false);
    Matrix3x4 r34 = a34;
    r34.Multiply(r34, b34);
    ExpectNear(r34.m, want);
    r34 = b34;
    r34.Multiply(a34, r34);
    ExpectNear(r34.m, want);
    r3 = a3;
    r3.Transpose(r3);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_EQ(r3[i][j], a3[j][i]);

    Matrix4x4 r4 = a4;
    r4.Multiply(r4, b4);
    NaiveProduct(want, a4.m, 4, 4, false, b4.m, 4, 4, false);
    ExpectNear(r4.m, want);
    r4 = b4;
    r4.Multiply(a4, r4);
    ExpectNear(r4.m, want);
    r4 = a4;
    r4.MultiplyAtB(r4, r4);
    NaiveProduct(want, a4.m, 4, 4, true, a4.m, 4, 4, false);
    ExpectNear(r4.m, want);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_EQ(r4[i][j], r4[j][i]) << "normal matrix is symmetric";
    r4 = a4;
    r4.Transpose(r4);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_EQ(r4[i][j], a4[j][i]);
  }
}

TEST(FixedMatrix, MatrixVectorProducts) {
  Matrix4x4 M;
  for (int i = 0; i < 16; ++i) M.m[i] = i + 1;
  Vector4 r;
  r.Multiply(M, {1, 2, 3});
  // Rows dotted with (1, 2, 3, 1); not divided by the last element.
  const double want4[4] = {1 + 4 + 9 + 4, 5 + 12 + 21 + 8, 9 + 20 + 33 + 12, 13 + 28 + 45 + 16};
  ExpectNear(r.v, want4, 0);

  Matrix3x4 P;
  for (int i = 0; i < 12; ++i) P.m[i] = i + 1;
  r.MultiplyTransposed(P, {1, -1, 2});
  const double wantT[4] = {1 - 5 + 18, 2 - 6 + 20, 3 - 7 + 22, 4 - 8 + 24};
  ExpectNear(r.v, wantT, 0);

  const double B[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(MultiplyMat2x3TransposedVec2(B, {2, -1}), (vm::Vector3{-2, -1, 0}));

  Matrix3x3 A;
  for (int i = 0; i < 9; ++i) A.m[i] = i + 1;
  EXPECT_EQ(MultiplyMat3Vec3(A, {1, 0, -1}), (vm::Vector3{-2, -2, -2}));
  EXPECT_EQ(MultiplyMat3TransposedVec3(A, {1, 0, -1}), (vm::Vector3{-6, -6, -6}));
}

TEST(FixedMatrix, BlockCopiesScaleAndZero) {
  Matrix4x4 M;
  for (int i = 0; i < 16; ++i) M.m[i] = i;
  Matrix3x3 R;
  R.SetFromMatrix3x4(M);
  const double want[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
  ExpectNear(R.m, want, 0);

  Matrix3x4 T;
  for (int i = 0; i < 12; ++i) T.m[i] = 100 + i;
  R.SetFromMatrix3x4(T);
  const double want34[9] = {100, 101, 102, 104, 105, 106, 108, 109, 110};
  ExpectNear(R.m, want34, 0);

  R.SetIdentity();
  R = R * 3.0;
  T.SetRotationPart(R);
  const double wantT[12] = {3, 0, 0, 103, 0, 3, 0, 107, 0, 0, 3, 111};
  ExpectNear(T.m, wantT, 0);
  M.SetRotationPart(R);
  const double wantM[16] = {3, 0, 0, 3, 0, 3, 0, 7, 0, 0, 3, 11, 12, 13, 14, 15};
  ExpectNear(M.m, wantM, 0);

  R.Scale(R, -0.5);
  EXPECT_EQ(R[1][1], -1.5);
  T.Scale(T, 2.0);
  EXPECT_EQ(T[2][3], 222);
  M.SetZero();
  for (double e : M.m) EXPECT_EQ(e, 0.0);

  Matrix3x3 A, B, N;
  for (int i = 0; i < 9; ++i) A.m[i] = i - 4.0, B.m[i] = 10.0 * i;
  A.Negate(N);
  N.Add(N, B);  // the sum may alias an operand
  for (int i = 0; i < 9; ++i) EXPECT_EQ(N.m[i], 10.0 * i - (i - 4.0));
  A.Negate(A);
  EXPECT_EQ(A[0][0], 4.0);
}

TEST(FixedMatrix, InversesOfRandomMatricesGiveIdentityProducts) {
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    const Matrix3x3 a3 = Random<Matrix3x3>(rng);
    Matrix3x3 i3 = a3;
    ASSERT_TRUE(i3.Invert(i3));  // in place
    Matrix3x3 p3;
    p3.Multiply(a3, i3);
    Matrix3x3 id3;
    id3.SetIdentity();
    ExpectNear(p3.m, id3.m, 1e-9);

    const Matrix4x4 a4 = Random<Matrix4x4>(rng);
    Matrix4x4 i4 = a4;
    ASSERT_TRUE(i4.Invert(i4));
    Matrix4x4 p4;
    p4.Multiply(i4, a4);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_NEAR(p4[i][j], i == j ? 1.0 : 0.0, 1e-9);

    // Symmetric: only the upper triangle is read.
    Matrix4x4 s;
    s.MultiplyAtB(a4, a4);
    Matrix4x4 upper = s;
    for (int i = 1; i < 4; ++i)
      for (int j = 0; j < i; ++j) upper[i][j] = 1e300;
    Matrix4x4 is;
    ASSERT_TRUE(is.InvertSymmetric(upper));
    Matrix4x4 full;
    ASSERT_TRUE(full.Invert(s));
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(is.m[i], full.m[i], 1e-9 * (1 + std::fabs(full.m[i])));
  }
}

TEST(FixedMatrix, SingularMatricesGiveIdentityAndFalse) {
  Matrix3x3 a3 = {{1, 2, 3, 1, 2, 3, 4, 5, 7}};  // two equal rows
  EXPECT_FALSE(a3.Invert(a3));
  Matrix3x3 id3;
  id3.SetIdentity();
  ExpectNear(a3.m, id3.m, 0);

  Matrix4x4 a4 = {{1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 0, 1, 0, 1}};
  Matrix4x4 r4;
  EXPECT_FALSE(r4.Invert(a4));
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(r4[i][j], i == j ? 1.0 : 0.0);
  Matrix4x4 z;
  z.SetZero();
  EXPECT_FALSE(r4.InvertSymmetric(z));
  EXPECT_EQ(r4[3][3], 1.0);
  EXPECT_EQ(r4[0][3], 0.0);
}

TEST(FixedMatrix, InvertAffine) {
  Matrix3x4 M = {{1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3}};
  ASSERT_TRUE(M.InvertAffine(M));
  const double want[12] = {1, 0, 0, -1, 0, 1, 0, -2, 0, 0, 1, -3};
  ExpectNear(M.m, want, 0);

  // A general affine map composed with its inverse is the identity map.
  std::mt19937 rng(3);
  const Matrix3x4 A = Random<Matrix3x4>(rng);
  Matrix3x4 B;
  ASSERT_TRUE(B.InvertAffine(A));
  const vm::Vector3 p{0.3, -1.2, 2.5};
  double y[3], z[3];
  for (int i = 0; i < 3; ++i) y[i] = A[i][0] * p.x + A[i][1] * p.y + A[i][2] * p.z + A[i][3];
  for (int i = 0; i < 3; ++i) z[i] = B[i][0] * y[0] + B[i][1] * y[1] + B[i][2] * y[2] + B[i][3];
  EXPECT_NEAR(z[0], p.x, 1e-9);
  EXPECT_NEAR(z[1], p.y, 1e-9);
  EXPECT_NEAR(z[2], p.z, 1e-9);

  // A singular block gives R⁻¹ = I and still the translation rule.
  Matrix3x4 S = {{1, 1, 0, 5, 1, 1, 0, 6, 0, 0, 0, 7}};
  EXPECT_FALSE(S.InvertAffine(S));
  const double wantS[12] = {1, 0, 0, -5, 0, 1, 0, -6, 0, 0, 1, -7};
  ExpectNear(S.m, wantS, 0);
}

}  // namespace
