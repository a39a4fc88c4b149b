#include "foundation/numeric/linear_solver.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/numeric/dense_for_test.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"

namespace {

using kxtest::MakeMatrix;
using kxtest::MakeVector;

TEST(LinearSolverTest, SolveSmallCases) {
  Vector x;
  ASSERT_TRUE(x.Solve(MakeMatrix(2, 2, {0, 1, 1, 0}), MakeVector({2, 3})));
  EXPECT_EQ(x[0], 3.0);
  EXPECT_EQ(x[1], 2.0);

  EXPECT_FALSE(x.Solve(MakeMatrix(3, 3, {0, 1, 2, 0, 3, 4, 0, 5, 7}), MakeVector({1, 2, 3})));
  EXPECT_FALSE(x.Solve(MakeMatrix(2, 2, {1, 2, 2, 4}), MakeVector({1, 2})));  // zero last diagonal

  Vector big(5);
  for (uint32_t i = 0; i < 5; ++i) big[i] = 100.0 + i;
  ASSERT_TRUE(big.Solve(MakeMatrix(3, 3, {2, 0, 0, 0, 4, 0, 0, 0, 8}), MakeVector({2, 4, 8})));
  EXPECT_EQ(big.Size(), 5u);
  EXPECT_EQ(big[0], 1.0);
  EXPECT_EQ(big[2], 1.0);
  EXPECT_EQ(big[3], 103.0);

  Vector keep = MakeVector({7, 8});
  ASSERT_TRUE(keep.Solve(Matrix(), Vector()));
  EXPECT_EQ(keep.Size(), 2u);
  EXPECT_EQ(keep[1], 8.0);

  Vector self = MakeVector({5, 6});  // b is the result vector
  ASSERT_TRUE(self.Solve(MakeMatrix(2, 2, {1, 1, 1, -1}), self));
  EXPECT_EQ(self[0], 5.5);
  EXPECT_EQ(self[1], -0.5);
}

// Residuals of random systems of every size, including ones whose pivots
// leave the next row (row pairs displaced) and badly scaled rows.
TEST(LinearSolverTest, SolveRandomSystemsHasSmallResiduals) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> u(-1, 1);
  for (uint32_t n = 1; n <= 40; ++n) {
    for (int scaled = 0; scaled < 2; ++scaled) {
      Matrix A(n, n);
      Vector b(n);
      for (uint32_t r = 0; r < n; ++r) {
        double s = scaled ? std::pow(10.0, (r % 7) * 3.0 - 9.0) : 1.0;
        for (uint32_t c = 0; c < n; ++c) A(r, c) = u(rng) * s;
        b[r] = u(rng) * s;
      }
      Vector x;
      ASSERT_TRUE(x.Solve(A, b)) << n;
      Vector Ax;
      Ax.Multiply(A, x);
      for (uint32_t r = 0; r < n; ++r) {
        double rowNorm = 0;
        for (uint32_t c = 0; c < n; ++c) rowNorm += std::fabs(A(r, c) * x[c]);
        EXPECT_NEAR(Ax[r], b[r], 1e-11 * (rowNorm + std::fabs(b[r]))) << n << " " << r;
      }
    }
  }
}

TEST(LinearSolverTest, EliminationPivotsByRowOrder) {
  // Column 0 ties between rows 0 and 2: the first wins; column 1's pivot is
  // then row 2 (displaced pair).
  std::vector<double> m = {2,  1, 1, 1,  //
                           1,  1, 3, 2,  //
                           -2, 5, 1, 3};
  double* rows[3] = {&m[0], &m[4], &m[8]};
  ASSERT_TRUE(GaussEliminate(rows, 4, 3));
  EXPECT_EQ(rows[0], &m[0]);
  EXPECT_EQ(rows[1], &m[8]);
  EXPECT_EQ(rows[2], &m[4]);
  EXPECT_DOUBLE_EQ(rows[1][1], 6.0);  // 5 + 1
  EXPECT_DOUBLE_EQ(rows[1][2], 2.0);  // 1 + 1
  EXPECT_DOUBLE_EQ(rows[2][2], 2.5 - 0.5 * 2.0 / 6.0);

  // The last two columns swap only for a strictly larger value.
  std::vector<double> tie = {1, 2, 3, -1, 3, 4};
  double* tieRows[2] = {&tie[0], &tie[3]};
  ASSERT_TRUE(GaussEliminate(tieRows, 3, 2));
  EXPECT_EQ(tieRows[0], &tie[0]);
  EXPECT_EQ(tie[4], 5.0);
  std::vector<double> larger = {1, 2, 3, -2, 3, 4};
  double* largerRows[2] = {&larger[0], &larger[3]};
  ASSERT_TRUE(GaussEliminate(largerRows, 3, 2));
  EXPECT_EQ(largerRows[0], &larger[3]);
  EXPECT_EQ(larger[1], 3.5);
}

TEST(LinearSolverTest, InvertSymmetricSmallCases) {
  Matrix R;
  ASSERT_TRUE(R.InvertSymmetric(MakeMatrix(2, 2, {2, 0, 0, 4})));
  EXPECT_EQ(R(0, 0), 0.5);
  EXPECT_EQ(R(1, 1), 0.25);
  EXPECT_EQ(R(0, 1), 0.0);
  EXPECT_EQ(R(1, 0), 0.0);

  EXPECT_FALSE(R.InvertSymmetric(MakeMatrix(2, 2, {0, 1, 1, 0})));
  EXPECT_FALSE(R.InvertSymmetric(MakeMatrix(3, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1})));
  EXPECT_FALSE(R.InvertSymmetric(MakeMatrix(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 0})));

  // Lower triangle ignored: garbage below the diagonal.
  Matrix A = MakeMatrix(2, 2, {1, 2, 99, 1});
  ASSERT_TRUE(A.InvertSymmetric(A));
  EXPECT_NEAR(A(0, 0), -1.0 / 3, 1e-15);
  EXPECT_NEAR(A(0, 1), 2.0 / 3, 1e-15);
  EXPECT_NEAR(A(1, 0), 2.0 / 3, 1e-15);
  EXPECT_NEAR(A(1, 1), -1.0 / 3, 1e-15);

  ASSERT_TRUE(R.InvertSymmetric(MakeMatrix(1, 1, {-4})));
  EXPECT_EQ(R(0, 0), -0.25);
}

TEST(LinearSolverTest, InvertSymmetricRandomTimesInverseIsIdentity) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> u(-1, 1);
  for (uint32_t n = 1; n <= 25; ++n) {
    for (int kind = 0; kind < 3; ++kind) {
      // 0: positive definite, 1: indefinite, 2: badly scaled positive definite
      Matrix B(n, n), A(n, n);
      for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c) B(r, c) = u(rng);
      if (kind == 1) {
        for (uint32_t r = 0; r < n; ++r)
          for (uint32_t c = r; c < n; ++c) A(r, c) = A(c, r) = B(r, c);
      } else {
        A.MultiplyAtB(B, B);
        for (uint32_t r = 0; r < n; ++r) A(r, r) += 0.1;
        if (kind == 2) {
          for (uint32_t r = 0; r < n; ++r)
            for (uint32_t c = 0; c < n; ++c) A(r, c) *= std::pow(10.0, (r % 5 + c % 5) * 1.5);
        }
      }
      Matrix lowerGarbage(A);
      for (uint32_t r = 1; r < n; ++r)
        for (uint32_t c = 0; c < r; ++c) lowerGarbage(r, c) = 1e30;
      Matrix inv;
      ASSERT_TRUE(inv.InvertSymmetric(lowerGarbage)) << n << " " << kind;
      Matrix prod;
      prod.MultiplyABt(A, inv);  // inv is symmetric: A·inv
      for (uint32_t r = 0; r < n; ++r) {
        EXPECT_EQ(inv(r, r), inv(r, r));
        for (uint32_t c = 0; c < n; ++c) {
          EXPECT_EQ(inv(r, c), inv(c, r));
          double scale = 0;
          for (uint32_t l = 0; l < n; ++l) scale += std::fabs(A(r, l) * inv(l, c));
          EXPECT_NEAR(prod(r, c), r == c ? 1.0 : 0.0, 1e-9 * scale) << n << " " << kind;
        }
      }
    }
  }
}

}  // namespace
