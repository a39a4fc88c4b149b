#include "foundation/numeric/svd.h"

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

using kxtest::MakeMatrix;
using kxtest::RandomOrthogonal;

// A = Q1[:, :p]·diag(s)·Q2[:, :p]ᵀ with p = s.size().
Matrix WithSingularValues(uint32_t m, uint32_t n, const std::vector<double>& s, std::mt19937& rng) {
  Matrix Q1 = RandomOrthogonal(m, rng), Q2 = RandomOrthogonal(n, rng);
  Matrix A(m, n);
  for (uint32_t r = 0; r < m; ++r)
    for (uint32_t c = 0; c < n; ++c) {
      double x = 0;
      for (size_t p = 0; p < s.size(); ++p) x += Q1(r, p) * s[p] * Q2(c, p);
      A(r, c) = x;
    }
  return A;
}

struct Case {
  const char* name;
  Matrix A;
  std::vector<double> expected;  // singular values when known, padded with zeros
};

void CheckDecomposition(const Case& c) {
  SCOPED_TRACE(c.name);
  const Matrix& A = c.A;
  uint32_t m = A.Rows(), n = A.Cols();
  Matrix U;
  Matrix V;
  Vector w;
  ASSERT_TRUE(U.SVD(w, V, A));
  ASSERT_EQ(U.Rows(), m);
  ASSERT_EQ(U.Cols(), n);
  ASSERT_EQ(V.Rows(), n);
  ASSERT_EQ(V.Cols(), n);
  ASSERT_EQ(w.Size(), n);
  double amax = 0, wmax = 0;
  for (uint32_t r = 0; r < m; ++r)
    for (uint32_t col = 0; col < n; ++col) amax = std::max(amax, std::fabs(A(r, col)));
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_GE(w[i], 0.0);
    wmax = std::max(wmax, w[i]);
  }
  double tol = 1e-13 * std::max(1u, std::max(m, n));
  for (uint32_t r = 0; r < m; ++r)
    for (uint32_t col = 0; col < n; ++col) {
      double x = 0;
      for (uint32_t i = 0; i < n; ++i) x += U(r, i) * w[i] * V(col, i);
      EXPECT_NEAR(x, A(r, col), tol * (amax + 1e-300)) << r << "," << col;
    }
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < n; ++j) {
      double vv = 0, uu = 0;
      for (uint32_t r = 0; r < n; ++r) vv += V(r, i) * V(r, j);
      EXPECT_NEAR(vv, i == j ? 1.0 : 0.0, tol) << "VᵀV " << i << "," << j;
      if (w[i] > 1e-10 * wmax && w[j] > 1e-10 * wmax) {
        for (uint32_t r = 0; r < m; ++r) uu += U(r, i) * U(r, j);
        EXPECT_NEAR(uu, i == j ? 1.0 : 0.0, tol) << "UᵀU " << i << "," << j;
      }
    }
  if (!c.expected.empty()) {
    std::vector<double> got(w.Data(), w.Data() + n), want = c.expected;
    want.resize(n, 0.0);
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    for (uint32_t i = 0; i < n; ++i) EXPECT_NEAR(got[i], want[i], tol * (wmax + 1e-300)) << i;
  }
}

TEST(SvdTest, DecomposesTableOfMatrices) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<Case> cases;
  cases.push_back({"diag(3,-2)", MakeMatrix(2, 2, {3, 0, 0, -2}), {3, 2}});
  cases.push_back({"1x1", MakeMatrix(1, 1, {-5}), {5}});
  cases.push_back({"zero 3x2", MakeMatrix(3, 2, {0, 0, 0, 0, 0, 0}), {0, 0}});
  cases.push_back({"2x3 wide", MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6}), {}});
  cases.push_back({"row 1x4", MakeMatrix(1, 4, {1, -2, 2, 4}), {5}});
  cases.push_back({"column 4x1", MakeMatrix(4, 1, {1, -2, 2, 4}), {5}});
  cases.push_back({"4x3 known", WithSingularValues(4, 3, {4, 2, 0.5}, rng), {4, 2, 0.5}});
  cases.push_back({"rank 1 5x4", WithSingularValues(5, 4, {3}, rng), {3}});
  cases.push_back({"rank 2 6x6", WithSingularValues(6, 6, {7, 1e-3}, rng), {7, 1e-3}});
  cases.push_back(
      {"repeated 5x5", WithSingularValues(5, 5, {2, 2, 2, 1, 1}, rng), {2, 2, 2, 1, 1}});
  cases.push_back({"badly scaled",
                   WithSingularValues(6, 5, {1e8, 1e3, 1, 1e-4, 1e-9}, rng),
                   {1e8, 1e3, 1, 1e-4, 1e-9}});
  cases.push_back({"3x5 known", WithSingularValues(3, 5, {9, 4, 1}, rng), {9, 4, 1}});
  Matrix R(30, 20), W(20, 30);
  for (uint32_t r = 0; r < 30; ++r)
    for (uint32_t c = 0; c < 20; ++c) R(r, c) = u(rng), W(c, r) = u(rng);
  cases.push_back({"random 30x20", R, {}});
  cases.push_back({"random 20x30", W, {}});
  // Large enough that the factors are rotated in strips of columns and the
  // rotations are applied in several batches; rank deficiency adds the
  // cancelling rotations.
  std::vector<double> spread(40);
  for (size_t i = 0; i < spread.size(); ++i) spread[i] = std::pow(0.8, static_cast<double>(i));
  cases.push_back({"rank 40 190x170", WithSingularValues(190, 170, spread, rng), spread});
  Matrix big(170, 190);
  for (uint32_t r = 0; r < 170; ++r)
    for (uint32_t c = 0; c < 190; ++c) big(r, c) = u(rng);
  cases.push_back({"random 170x190", big, {}});
  // Exact zeros of a bidiagonal input stay exact zeros of the bidiagonal
  // form: on the diagonal each forces a chain of cancelling rotations, and
  // either kind leaves a step without a reflection.
  auto bidiagonal = [&](uint32_t m, uint32_t n, uint32_t zeroDiagonalEvery,
                        uint32_t zeroSuperdiagonalEvery) {
    Matrix B(m, n);
    B.SetZero();
    for (uint32_t i = 0; i < n; ++i) {
      B(i, i) = i % zeroDiagonalEvery == 7 ? 0.0 : u(rng);
      if (i + 1 < n) B(i, i + 1) = i % zeroSuperdiagonalEvery == 11 ? 0.0 : u(rng);
    }
    return B;
  };
  cases.push_back({"bidiagonal with zeros 60x50", bidiagonal(60, 50, 20, 1000), {}});
  cases.push_back({"bidiagonal with zeros 150x140", bidiagonal(150, 140, 20, 25), {}});
  for (const Case& c : cases) CheckDecomposition(c);
}

TEST(SvdTest, SignGoesIntoTheVectorsAndInPlaceWorks) {
  Matrix A = MakeMatrix(2, 2, {3, 0, 0, -2});
  Matrix V;
  Vector w;
  ASSERT_TRUE(A.SVD(w, V, A));  // this is A
  EXPECT_DOUBLE_EQ(w[0], 3.0);
  EXPECT_DOUBLE_EQ(w[1], 2.0);
  EXPECT_DOUBLE_EQ(A(0, 0) * V(0, 0), 1.0);
  EXPECT_DOUBLE_EQ(A(1, 1) * V(1, 1), -1.0);
}

TEST(SvdTest, NonFiniteInputEndsAndReportsFailure) {
  Matrix A = MakeMatrix(3, 3, {1, 2, 3, 4, std::numeric_limits<double>::quiet_NaN(), 6, 7, 8, 9});
  Matrix U, V;
  Vector w;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(U.SVD(w, V, A));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no convergence in 30 nr_svdcmp iterations\n"), std::string::npos);
}

}  // namespace
