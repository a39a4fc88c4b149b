#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/dense_for_test.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "foundation/numeric/dense_matrix.h"

namespace {

using kxtest::MakeVector;

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof(double)) == 0;
}

TEST(DenseVectorTest, ElementWiseOperationsTakeTheOperandSize) {
  Vector a = MakeVector({1, 2, 3}), b = MakeVector({4, 5, 6}), r(7);
  r.Add(a, b);
  ASSERT_EQ(r.Size(), 3u);
  EXPECT_EQ(r[2], 9.0);
  r.Subtract(a, b);
  EXPECT_EQ(r[0], -3.0);
  r.Scale(a, 2.0);
  EXPECT_EQ(r[1], 4.0);
  EXPECT_EQ(a.Dot(b), 32.0);
  r.SetZero();
  EXPECT_EQ(r[2], 0.0);
  a.Add(a, b);  // in place
  EXPECT_EQ(a[0], 5.0);
  Vector c(a);
  EXPECT_NE(c.Data(), a.Data());
  EXPECT_EQ(c[2], 9.0);
}

TEST(DenseVectorTest, FailedResizeLeavesVectorEmpty) {
  Vector v(3);
  EXPECT_THROW(v.Resize(0x20000000u), const char*);
  EXPECT_EQ(v.Size(), 0u);
  EXPECT_EQ(v.Data(), nullptr);
}

TEST(DenseVectorTest, MultiplyAndMultiplyTransposed) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-1, 1);
  for (uint32_t rows : {1u, 2u, 3u, 6u, 7u}) {
    for (uint32_t cols : {1u, 2u, 3u, 4u, 5u, 9u}) {
      Matrix M(rows, cols);
      for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c) M(r, c) = u(rng);
      Vector x(cols), y(rows);
      for (uint32_t i = 0; i < cols; ++i) x[i] = u(rng);
      for (uint32_t i = 0; i < rows; ++i) y[i] = u(rng);
      Vector mx;
      mx.Multiply(M, x);
      ASSERT_EQ(mx.Size(), rows);
      for (uint32_t r = 0; r < rows; ++r) {
        double e = 0;
        for (uint32_t c = 0; c < cols; ++c) e += M(r, c) * x[c];
        EXPECT_NEAR(mx[r], e, 1e-15);
      }
      // Result is the operand itself: same values through a temporary.
      if (rows == cols) {
        Vector self(x);
        self.Multiply(M, self);
        for (uint32_t r = 0; r < rows; ++r) EXPECT_TRUE(SameBits(self[r], mx[r]));
      }
      // Mᵀ·y: odd row counts start from y[0]·row 0, then pairs of rows.
      Vector mty;
      mty.MultiplyTransposed(M, y);
      ASSERT_EQ(mty.Size(), cols);
      for (uint32_t c = 0; c < cols; ++c) {
        double e = 0;
        uint32_t r = 0;
        if (rows % 2) {
          e = y[0] * M(0, c);
          r = 1;
        }
        for (; r < rows; r += 2) e = (y[r + 1] * M(r + 1, c) + y[r] * M(r, c)) + e;
        EXPECT_TRUE(SameBits(mty[c], e)) << rows << "x" << cols;
      }
    }
  }
}

}  // namespace
