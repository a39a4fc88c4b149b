#include "foundation/numeric/small_eigen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

double Det3(const Matrix3x3& R) {
  return R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1]) -
         R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0]) +
         R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
}

template <int N, class M>
void ExpectOrthonormalColumns(const M& Q, double tol) {
  for (int a = 0; a < N; ++a)
    for (int b = 0; b < N; ++b) {
      double s = 0;
      for (int i = 0; i < N; ++i) s += Q[i][a] * Q[i][b];
      EXPECT_NEAR(s, a == b ? 1.0 : 0.0, tol) << "columns " << a << ", " << b;
    }
}

// A·v = λ·v for every column v of V, the values ordered by magnitude.
template <int N, class M>
void ExpectEigenPairs(const M& A, const double* values, const M& V, double tol) {
  for (int j = 0; j < N; ++j) {
    if (j > 0) {
      EXPECT_GE(std::fabs(values[j - 1]), std::fabs(values[j]) - tol);
    }
    for (int i = 0; i < N; ++i) {
      double av = 0;
      for (int k = 0; k < N; ++k) av += A[i][k] * V[k][j];
      EXPECT_NEAR(av, values[j] * V[i][j], tol) << "pair " << j << " row " << i;
    }
  }
  ExpectOrthonormalColumns<N>(V, tol);
}

// Q·diag(d)·Qᵀ for a random rotation Q (3 × 3 or 4 × 4 via Householder
// reflections of random vectors).
template <int N, class M>
M SymmetricWithEigenvalues(std::mt19937& rng, const double* d) {
  std::normal_distribution<double> n(0.0, 1.0);
  M Q;
  for (int i = 0; i < N * N; ++i) Q.m[i] = (i % (N + 1) == 0) ? 1.0 : 0.0;
  for (int h = 0; h < 3; ++h) {
    double v[N], q = 0;
    for (double& e : v) {
      e = n(rng);
      q += e * e;
    }
    M H;
    for (int i = 0; i < N; ++i)
      for (int j = 0; j < N; ++j) H[i][j] = (i == j ? 1.0 : 0.0) - 2 * v[i] * v[j] / q;
    Q.Multiply(Q, H);
  }
  M A;
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j) {
      double s = 0;
      for (int k = 0; k < N; ++k) s += Q[i][k] * d[k] * Q[j][k];
      A[i][j] = s;
    }
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < i; ++j) A[i][j] = A[j][i];  // exactly symmetric
  return A;
}

TEST(SmallEigen, SortByMagnitudeDescending) {
  double v[] = {1, -3, 2, 3, 0, -4};
  SortByMagnitudeDescending(v, 6);
  const double want[] = {-4, -3, 3, 2, 1, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], want[i]);
  double t[] = {3, -3};
  SortByMagnitudeDescending(t, 2);
  EXPECT_EQ(t[0], 3);
}

TEST(SmallEigen, TwoByTwoExactCases) {
  struct Case {
    Matrix2x2 A;
    double values[2];
    Matrix2x2 V;
  };
  const Case cases[] = {
      {{{2, 0, 0, 1}}, {2, 1}, {{-1, 0, 0, -1}}},
      {{{1, 0, 0, 2}}, {2, 1}, {{0, -1, 1, 0}}},
      {{{-3, 0, 0, 1}}, {-3, 1}, {{1, 0, 0, 1}}},
      {{{0, 0, 0, 0}}, {0, 0}, {{1, 0, 0, 1}}},
  };
  for (const Case& c : cases) {
    Matrix2x2 V;
    double values[2];
    V.SymmetricEigen(values, c.A);
    EXPECT_EQ(values[0], c.values[0]);
    EXPECT_EQ(values[1], c.values[1]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(V.m[i], c.V.m[i]);
  }
}

TEST(SmallEigen, TwoByTwoRandom) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> u(-3, 3);
  for (int round = 0; round < 50; ++round) {
    const double b = u(rng);
    const Matrix2x2 A = {{u(rng), b, b, u(rng)}};
    Matrix2x2 V;
    double values[2];
    V.SymmetricEigen(values, A);
    ExpectEigenPairs<2>(A, values, V, 1e-12);
    EXPECT_EQ(V[0][0], V[1][1]);  // a rotation
    EXPECT_EQ(V[0][1], -V[1][0]);
  }
}

TEST(SmallEigen, ThreeByThreeExactCases) {
  Matrix3x3 A = {{1, 0, 0, 0, -5, 0, 0, 0, 2}};
  Matrix3x3 V;
  double values[3];
  V.SymmetricEigen(values, A);
  EXPECT_NEAR(values[0], -5, 1e-14);
  EXPECT_NEAR(values[1], 2, 1e-14);
  EXPECT_NEAR(values[2], 1, 1e-14);
  ExpectEigenPairs<3>(A, values, V, 1e-13);
  EXPECT_NEAR(Det3(V), 1.0, 1e-14);

  A = {{2, 0, 0, 0, 2, 0, 0, 0, 2}};
  A.SymmetricEigen(values, A);  // in place
  for (int i = 0; i < 3; ++i) EXPECT_EQ(values[i], 2.0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(A.m[i], i % 4 == 0 ? 1.0 : 0.0);
}

TEST(SmallEigen, ThreeByThreeRandomIncludingMultipleAndZeroEigenvalues) {
  std::mt19937 rng(3);
  const double spectra[][3] = {{3, -1, 0.5}, {3, 3, 1}, {-2, 1, 1},    {5, 0, 0},
                               {4, 2, 0},    {1, 1, 1}, {1e3, 1, 1e-3}};
  for (const auto& d : spectra) {
    for (int round = 0; round < 10; ++round) {
      SCOPED_TRACE(testing::Message() << d[0] << ", " << d[1] << ", " << d[2]);
      const Matrix3x3 A = SymmetricWithEigenvalues<3, Matrix3x3>(rng, d);
      Matrix3x3 V;
      double values[3];
      V.SymmetricEigen(values, A);
      ExpectEigenPairs<3>(A, values, V, 1e-6 * std::fabs(d[0]));
      EXPECT_NEAR(Det3(V), 1.0, 1e-6);
    }
  }
}

TEST(SmallEigen, FourByFourRandomIncludingMultipleAndZeroEigenvalues) {
  std::mt19937 rng(4);
  // Eigenvalues come from the characteristic quartic, so a k-fold value is
  // accurate to about the k-th root of the rounding error.
  const struct {
    double d[4];
    double tol;
  } spectra[] = {{{4, -3, 2, 1}, 1e-6}, {{3, 3, 1, -0.5}, 1e-6}, {{2, 2, 2, 1}, 1e-4},
                 {{5, 1, 0, 0}, 1e-6},  {{7, 0, 0, 0}, 1e-4},    {{-1, -1, -1, -1}, 1e-3}};
  for (const auto& c : spectra) {
    for (int round = 0; round < 10; ++round) {
      SCOPED_TRACE(testing::Message()
                   << c.d[0] << ", " << c.d[1] << ", " << c.d[2] << ", " << c.d[3]);
      const Matrix4x4 A = SymmetricWithEigenvalues<4, Matrix4x4>(rng, c.d);
      Matrix4x4 V;
      double values[4];
      V.SymmetricEigen(values, A);
      ExpectEigenPairs<4>(A, values, V, c.tol * std::fabs(c.d[0]));
    }
  }
}

TEST(SmallEigen, NullSpaces) {
  vm::Vector2 c[2];
  EXPECT_EQ(NullSpace2x2(1e-40, c, {{0, 0, 0, 0}}), 2);
  EXPECT_EQ(c[1], (vm::Vector2{0, 1}));
  ASSERT_EQ(NullSpace2x2(1e-40, c, {{1, 2, 2, 4}}), 1);
  EXPECT_EQ(c[0].x * 1 + c[0].y * 2, 0.0);
  EXPECT_NE(c[0].SquaredLength(), 0.0);

  // 3 × 3 of rank 1 and rank 2.
  vm::Vector3 v[3];
  const Matrix3x3 r1 = {{1, 2, 3, 2, 4, 6, -1, -2, -3}};
  ASSERT_EQ(NullSpace3x3(v, r1, 1e-40), 2);
  for (int j = 0; j < 2; ++j) {
    EXPECT_NEAR(v[j].Dot({1, 2, 3}), 0.0, 1e-14);
    EXPECT_GT(v[j].SquaredLength(), 0.1);
  }
  EXPECT_NEAR(v[0].Dot(v[1]), 0.0, 1e-14);
  const Matrix3x3 r2 = {{1, 0, 0, 0, 1, 0, 1, 1, 0}};
  ASSERT_EQ(NullSpace3x3(v, r2, 1e-40), 1);
  EXPECT_NEAR(v[0].x, 0.0, 1e-15);
  EXPECT_NEAR(v[0].y, 0.0, 1e-15);
  EXPECT_NE(v[0].z, 0.0);
  Matrix3x3 zero;
  for (double& e : zero.m) e = 0;
  EXPECT_EQ(NullSpace3x3(v, zero, 1e-40), 3);

  // 4 × 4 of rank 2 and rank 3; the null vector is unit and annuls A.
  Vector4 w[4];
  const Matrix4x4 a2 = {{1, 2, 3, 4, 0, 1, 0, 1, 1, 3, 3, 5, 2, 4, 6, 8}};
  ASSERT_EQ(NullSpace4x4(1e-40, w, a2), 2);
  const Matrix4x4 a3 = {{1, 2, 3, 4, 0, 1, 0, 1, 1, 3, 3, 5, 0, 0, 1, 0}};
  Vector4 n;
  ASSERT_EQ(n.SetNullVector(a3), 1);
  EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] + n[3] * n[3], 1.0, 1e-15);
  for (int i = 0; i < 4; ++i)
    EXPECT_NEAR(a3[i][0] * n[0] + a3[i][1] * n[1] + a3[i][2] * n[2] + a3[i][3] * n[3], 0.0, 1e-14);
  Matrix4x4 z4;
  z4.SetZero();
  EXPECT_EQ(n.SetNullVector(z4), 4);
  EXPECT_EQ(n[0], 1.0);
}

TEST(SmallEigen, OrthogonalVector4) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int round = 0; round < 50; ++round) {
    const Vector4 a = {{u(rng), u(rng), u(rng), u(rng)}};
    const Vector4 b = {{u(rng), u(rng), u(rng), u(rng)}};
    Vector4 o;
    OrthogonalVector4(a, b, o);
    double oa = 0, ob = 0, oo = 0;
    for (int i = 0; i < 4; ++i) {
      oa += o[i] * a[i];
      ob += o[i] * b[i];
      oo += o[i] * o[i];
    }
    EXPECT_NEAR(oa, 0.0, 1e-14);
    EXPECT_NEAR(ob, 0.0, 1e-14);
    EXPECT_GT(oo, 1e-6);
  }
}

template <int N, class M>
void ExpectSvd(const M& A, const double* s, const M& U, const M& V, double tol) {
  for (int i = 0; i < N; ++i) {
    if (i > 0) {
      EXPECT_GE(s[i - 1], s[i]);
    }
    EXPECT_GE(s[i], 0.0);
    for (int j = 0; j < N; ++j) {
      double r = 0;
      for (int k = 0; k < N; ++k) r += U[i][k] * s[k] * V[j][k];
      EXPECT_NEAR(r, A[i][j], tol) << i << ", " << j;
    }
  }
  ExpectOrthonormalColumns<N>(U, tol);
  ExpectOrthonormalColumns<N>(V, tol);
}

TEST(SmallEigen, SingularValueDecompositions) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> u(-2, 2);
  for (int round = 0; round < 30; ++round) {
    Matrix3x3 A3, U3, V3;
    for (double& e : A3.m) e = u(rng);
    double s3[3];
    U3.SVD(s3, V3, A3);
    ExpectSvd<3>(A3, s3, U3, V3, 1e-7);
    Matrix4x4 A4, U4, V4;
    for (double& e : A4.m) e = u(rng);
    double s4[4];
    U4.SVD(s4, V4, A4);
    ExpectSvd<4>(A4, s4, U4, V4, 1e-7);
  }

  // Rank one: (σ, 0, 0) with U completed to a rotation.
  const Matrix3x3 r1 = {{2, 4, 4, 1, 2, 2, -2, -4, -4}};  // (2, 1, −2)·(1, 2, 2)
  Matrix3x3 U, V;
  double s[3];
  U.SVD(s, V, r1);
  EXPECT_NEAR(s[0], 9.0, 1e-12);
  EXPECT_EQ(s[1], 0.0);
  EXPECT_EQ(s[2], 0.0);
  ExpectSvd<3>(r1, s, U, V, 1e-12);
  EXPECT_NEAR(Det3(U), 1.0, 1e-14);

  Matrix3x3 zero;
  for (double& e : zero.m) e = 0;
  U.SVD(s, V, zero);
  ExpectSvd<3>(zero, s, U, V, 1e-15);
  EXPECT_EQ(U[0][0], 1.0);

  // Rank two and zero in 4 × 4.
  Matrix4x4 a2 = {{1, 2, 3, 4, 0, 1, 0, 1, 1, 3, 3, 5, 2, 4, 6, 8}};
  Matrix4x4 U4, V4;
  double s4[4];
  U4.SVD(s4, V4, a2);
  EXPECT_EQ(s4[2], 0.0);
  EXPECT_EQ(s4[3], 0.0);
  ExpectSvd<4>(a2, s4, U4, V4, 1e-7);
  Matrix4x4 z4;
  z4.SetZero();
  U4.SVD(s4, V4, z4);
  ExpectSvd<4>(z4, s4, U4, V4, 1e-15);
}

// |A·x| for a dense A and an n-vector x.
double ResidualNorm(const Matrix& A, const Vector& x) {
  double q = 0;
  for (uint32_t i = 0; i < A.Rows(); ++i) {
    double r = 0;
    for (uint32_t j = 0; j < A.Cols(); ++j) r += A(i, j) * x[j];
    q += r * r;
  }
  return std::sqrt(q);
}

// A random rows × n matrix whose columns satisfy every relation in nulls
// (each a vector v with A·v = 0): the last nonzero coefficient's column is
// made from the others, so a later relation may only change a later column.
Matrix WithNullVectors(std::mt19937& rng, uint32_t rows, uint32_t n,
                       const std::vector<std::vector<double>>& nulls) {
  std::uniform_real_distribution<double> u(-1, 1);
  Matrix A(rows, n);
  for (uint32_t i = 0; i < rows; ++i)
    for (uint32_t j = 0; j < n; ++j) A(i, j) = u(rng);
  for (const auto& v : nulls) {
    uint32_t last = n - 1;
    while (v[last] == 0) --last;
    for (uint32_t i = 0; i < rows; ++i) {
      double s = 0;
      for (uint32_t j = 0; j < last; ++j) s += v[j] * A(i, j);
      A(i, last) = -s / v[last];
    }
  }
  return A;
}

TEST(HomogeneousLeastSquares, RejectsTooFewColumnsAndVanishedPivots) {
  Vector x1, x2;
  EXPECT_FALSE(SolveHomogeneousLeastSquares(&x1, &x2, Matrix(6, 1)));
  EXPECT_FALSE(SolveHomogeneousLeastSquares(&x1, &x2, Matrix()));
  Matrix zero(6, 5);
  zero.SetZero();
  EXPECT_FALSE(SolveHomogeneousLeastSquares(&x1, nullptr, zero));
  EXPECT_TRUE(SolveHomogeneousLeastSquares(nullptr, nullptr, zero));
}

TEST(HomogeneousLeastSquares, SixByFiveExample) {
  std::mt19937 rng(12);
  const Matrix A = WithNullVectors(rng, 6, 5, {{1, 1, 0, 0, -1}});
  Vector x1, x2;
  ASSERT_TRUE(SolveHomogeneousLeastSquares(&x1, &x2, A));
  ASSERT_EQ(x1.Size(), 5u);
  const double r = 1 / std::sqrt(3.0), s = x1[0] > 0 ? 1 : -1;
  const double want[5] = {r, r, 0, 0, -r};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(s * x1[i], want[i], 1e-12);
  EXPECT_EQ(x2.Size(), 5u);
  EXPECT_NEAR(x2.Dot(x2), 1.0, 1e-12);

  // Only x2 given: it receives the best vector.
  Vector only;
  ASSERT_TRUE(SolveHomogeneousLeastSquares(nullptr, &only, A));
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(std::fabs(only[i]), std::fabs(want[i]), 1e-12);
}

TEST(HomogeneousLeastSquares, SmallColumnCountsGiveBestAndNextBest) {
  std::mt19937 rng(13);
  std::normal_distribution<double> g(0, 1);
  for (uint32_t n = 2; n <= 4; ++n) {
    for (int round = 0; round < 10; ++round) {
      Matrix A(n + 3, n);
      for (uint32_t i = 0; i < A.Rows(); ++i)
        for (uint32_t j = 0; j < n; ++j) A(i, j) = g(rng);
      Vector x1, x2;
      ASSERT_TRUE(SolveHomogeneousLeastSquares(&x1, &x2, A));
      ASSERT_EQ(x1.Size(), n);
      EXPECT_NEAR(x1.Dot(x1), 1.0, 1e-12);
      EXPECT_NEAR(x2.Dot(x2), 1.0, 1e-12);
      EXPECT_NEAR(x1.Dot(x2), 0.0, 1e-9);
      // No unit vector does better than x1, and none orthogonal to x1 better
      // than x2.
      for (int t = 0; t < 20; ++t) {
        Vector y(n);
        for (uint32_t j = 0; j < n; ++j) y[j] = g(rng);
        y.Scale(y, 1 / std::sqrt(y.Dot(y)));
        EXPECT_LE(ResidualNorm(A, x1), ResidualNorm(A, y) + 1e-9);
        Vector z;
        z.Scale(x1, -y.Dot(x1));
        z.Add(y, z);
        z.Scale(z, 1 / std::sqrt(z.Dot(z)));
        EXPECT_LE(ResidualNorm(A, x2), ResidualNorm(A, z) + 1e-9);
      }
    }
  }
  // An exact null vector in three columns.
  const Matrix A = WithNullVectors(rng, 5, 3, {{1, -2, 2}});
  Vector x1;
  ASSERT_TRUE(SolveHomogeneousLeastSquares(&x1, nullptr, A));
  const double s = x1[0] > 0 ? 1.0 : -1.0;
  EXPECT_NEAR(s * x1[0], 1.0 / 3, 1e-9);
  EXPECT_NEAR(s * x1[1], -2.0 / 3, 1e-9);
  EXPECT_NEAR(s * x1[2], 2.0 / 3, 1e-9);
}

TEST(HomogeneousLeastSquares, ManyColumnsFindExactNullVectors) {
  std::mt19937 rng(14);
  for (uint32_t n = 5; n <= 9; ++n) {
    std::vector<double> v(n), w(n, 0.0);
    for (uint32_t j = 0; j < n; ++j) v[j] = 1.0 + j;
    w[0] = 1;
    w[1] = -1;
    // One null vector, then a two-dimensional null space.
    for (int dims = 1; dims <= 2; ++dims) {
      const Matrix A =
          dims == 1 ? WithNullVectors(rng, n + 2, n, {v}) : WithNullVectors(rng, n + 2, n, {w, v});
      Vector x1, x2;
      ASSERT_TRUE(SolveHomogeneousLeastSquares(&x1, &x2, A)) << n;
      EXPECT_NEAR(x1.Dot(x1), 1.0, 1e-12);
      EXPECT_LT(ResidualNorm(A, x1), 1e-9) << n;
      if (dims == 2) {
        EXPECT_LT(ResidualNorm(A, x2), 1e-9) << n;
        EXPECT_LT(std::fabs(x1.Dot(x2)), 0.999) << "two different directions";
      }
    }
  }
}

}  // namespace
