#include "foundation/numeric/symmetric_eigen.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/numeric/dense_for_test.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"

namespace {

using kxtest::RandomOrthogonal;

Matrix WithEigenvalues(const std::vector<double>& lambda, std::mt19937& rng) {
  uint32_t n = static_cast<uint32_t>(lambda.size());
  Matrix Q = RandomOrthogonal(n, rng), A(n, n);
  for (uint32_t r = 0; r < n; ++r)
    for (uint32_t c = 0; c < n; ++c) {
      double x = 0;
      for (uint32_t p = 0; p < n; ++p) x += Q(r, p) * lambda[p] * Q(c, p);
      A(r, c) = x;
    }
  for (uint32_t r = 0; r < n; ++r)  // exactly symmetric
    for (uint32_t c = 0; c < r; ++c) A(r, c) = A(c, r);
  return A;
}

TEST(SymmetricEigenTest, DiagonalKeepsItsOrder) {
  Matrix A(3, 3), Z;
  A.SetZero();
  A(0, 0) = 1;
  A(1, 1) = 5;
  A(2, 2) = 2;
  Vector d;
  ASSERT_TRUE(Z.SymmetricEigen(d, A));
  EXPECT_EQ(d[0], 1.0);
  EXPECT_EQ(d[1], 5.0);
  EXPECT_EQ(d[2], 2.0);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(std::fabs(Z(r, c)), r == c ? 1.0 : 0.0);

  Matrix one(1, 1);
  one(0, 0) = -3.5;
  ASSERT_TRUE(one.SymmetricEigen(d, one));
  ASSERT_EQ(d.Size(), 1u);
  EXPECT_EQ(d[0], -3.5);
  EXPECT_EQ(one(0, 0), 1.0);
}

TEST(SymmetricEigenTest, EigenpairsOfTableOfMatrices) {
  std::mt19937 rng(5);
  std::vector<std::vector<double>> spectra = {
      {2, -1},
      {0, 0, 0},
      {1, 1, 1, 5},
      {3, -3, 1e-12, 7, 7},
      {1e6, 1, 1e-6, -1e3},
      {4, 3, 2, 1, 0, -1, -2, -3, -4, -5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
  for (const auto& lambda : spectra) {
    uint32_t n = static_cast<uint32_t>(lambda.size());
    Matrix A = WithEigenvalues(lambda, rng), Z;
    Vector d;
    ASSERT_TRUE(Z.SymmetricEigen(d, A)) << n;
    double scale = 1e-300;
    for (double l : lambda) scale = std::max(scale, std::fabs(l));
    double tol = 1e-13 * n * scale;
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t r = 0; r < n; ++r) {
        double av = 0;
        for (uint32_t c = 0; c < n; ++c) av += A(r, c) * Z(c, i);
        EXPECT_NEAR(av, d[i] * Z(r, i), tol) << n << " pair " << i;
      }
      for (uint32_t j = 0; j < n; ++j) {
        double zz = 0;
        for (uint32_t r = 0; r < n; ++r) zz += Z(r, i) * Z(r, j);
        EXPECT_NEAR(zz, i == j ? 1.0 : 0.0, 1e-13 * n);
      }
    }
    std::vector<double> got(d.Data(), d.Data() + n), want = lambda;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    for (uint32_t i = 0; i < n; ++i) EXPECT_NEAR(got[i], want[i], tol);
  }
}

TEST(SymmetricEigenTest, NonFiniteInputEndsAndReportsFailure) {
  Matrix A(3, 3), Z;
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) A(r, c) = 1.0 + r + c;
  A(1, 2) = A(2, 1) = std::numeric_limits<double>::quiet_NaN();
  Vector d;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Z.SymmetricEigen(d, A));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Too many iterations in nr_tqli\n"), std::string::npos);
}

}  // namespace
