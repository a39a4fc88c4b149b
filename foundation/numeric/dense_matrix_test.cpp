#include "foundation/numeric/dense_matrix.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/numeric/dense_kernels.h"
#include "foundation/runtime/worker_pool.h"

namespace {

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof(double)) == 0;
}

void Fill(Matrix& M, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (uint32_t r = 0; r < M.Rows(); ++r)
    for (uint32_t c = 0; c < M.Cols(); ++c) M(r, c) = u(rng);
}

TEST(DenseMatrixTest, StrideIsEvenAndRowsAligned) {
  struct Case {
    uint32_t rows, cols, stride;
  } cases[] = {{3, 5, 6}, {3, 6, 6}, {1, 1, 2}, {4, 0, 0}, {7, 9, 10}};
  for (const Case& c : cases) {
    Matrix M(c.rows, c.cols);
    EXPECT_EQ(M.Stride(), c.stride) << c.rows << "x" << c.cols;
    EXPECT_EQ(M.Rows(), c.rows);
    EXPECT_EQ(M.Cols(), c.cols);
    for (uint32_t r = 0; r < c.rows && c.cols; ++r)
      EXPECT_EQ(reinterpret_cast<uintptr_t>(M.Row(r)) % 16, 0u);
  }
}

TEST(DenseMatrixTest, SetZeroAndSubtractSpareThePad) {
  Matrix M(3, 5);
  for (uint32_t i = 0; i < 18; ++i) M.Data()[i] = 7.0;
  M.SetZero();
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 5; ++c) EXPECT_EQ(M(r, c), 0.0);
    EXPECT_EQ(M.Row(r)[5], 7.0);
  }
  Matrix A(3, 5), B(3, 5);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 5; ++c) {
      A(r, c) = r * 10.0 + c;
      B(r, c) = c;
    }
  M.Subtract(A, B);
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t c = 0; c < 5; ++c) EXPECT_EQ(M(r, c), r * 10.0);
    EXPECT_EQ(M.Row(r)[5], 7.0);
  }
  Matrix E(2, 4), F(2, 4), G;  // even width: one block operation
  for (uint32_t i = 0; i < 8; ++i) E.Data()[i] = i, F.Data()[i] = 1.0;
  G.Subtract(E, F);
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(G.Data()[i], i - 1.0);
}

TEST(DenseMatrixTest, IdentityCopyAndAssignment) {
  Matrix I;
  I.SetIdentity(3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) EXPECT_EQ(I(r, c), r == c ? 1.0 : 0.0);
  Matrix C(I);
  EXPECT_NE(C.Data(), I.Data());
  EXPECT_EQ(C(2, 2), 1.0);
  Matrix D(5, 5);
  D = I;
  EXPECT_EQ(D.Rows(), 3u);
  EXPECT_NE(D.Data(), I.Data());
  D = *&D;
  EXPECT_EQ(D(1, 1), 1.0);
}

TEST(DenseMatrixTest, OverlayWorksInForeignMemoryUntilResized) {
  double mem[2 * 3] = {0, 0, 0, 0, 0, 0};
  Matrix O(mem, 2, 2, 3);  // odd stride
  Matrix I;
  I.SetIdentity(2);
  O = I;
  EXPECT_EQ(O.Data(), mem);
  EXPECT_EQ(O.Stride(), 3u);
  EXPECT_EQ(mem[0], 1.0);
  EXPECT_EQ(mem[4], 1.0);
  O.Resize(2, 2);  // same dimensions: stays in place
  EXPECT_EQ(O.Data(), mem);
  O.SetIdentity(3);  // new dimensions: own block
  EXPECT_NE(O.Data(), mem);
  EXPECT_EQ(O.Stride(), 4u);
}

TEST(DenseMatrixTest, FailedAllocationLeavesMatrixEmpty) {
  Matrix M(4, 4);
  try {
    M.Resize(0x10000, 0x10000);
    FAIL();
  } catch (const char* text) {
    EXPECT_STREQ(text, "memory allocation failed");
  }
  EXPECT_EQ(M.Rows(), 0u);
  EXPECT_EQ(M.Cols(), 0u);
  EXPECT_EQ(M.Data(), nullptr);
  EXPECT_THROW(M.Resize(1, 0xffffffffu), const char*);
  EXPECT_EQ(M.Cols(), 0u);
  M.Resize(2, 2);  // usable again
  M.SetZero();
}

TEST(DenseMatrixTest, SplitRangeBounds) {
  struct Case {
    uint32_t total, count;
    std::vector<uint32_t> bounds;
    uint32_t largest;
  } cases[] = {{300, 3, {0, 100, 200, 300}, 100},
               {100, 2, {0, 50, 100}, 50},
               {101, 2, {0, 50, 101}, 52},
               {103, 2, {0, 52, 103}, 52},
               {8, 1, {0, 8}, 8},
               {1, 1, {0, 1}, 2},
               {7, 1, {0, 7}, 8}};
  for (const Case& c : cases) {
    std::vector<uint32_t> b(c.count + 1);
    EXPECT_EQ(SplitRange(b.data(), c.count, c.total), c.largest) << c.total;
    EXPECT_EQ(b, c.bounds) << c.total;
    EXPECT_EQ(ProductChunkCount(c.total), c.count) << c.total;
  }
  EXPECT_EQ(ProductChunkCount(31), 1u);
  EXPECT_EQ(ProductChunkCount(32), 2u);
  EXPECT_EQ(ProductChunkCount(255), 2u);
  EXPECT_EQ(ProductChunkCount(256), 2u);
  EXPECT_EQ(ProductChunkCount(384), 3u);
  EXPECT_EQ(ProductChunkCount(1024), 8u);
}

// Naive reference in long double.
Matrix Naive(const Matrix& A, const Matrix& B, bool transposeA) {
  uint32_t m = transposeA ? A.Cols() : A.Rows();
  uint32_t k = transposeA ? A.Rows() : A.Cols();
  uint32_t n = transposeA ? B.Cols() : B.Rows();
  Matrix R(m, n);
  for (uint32_t i = 0; i < m; ++i)
    for (uint32_t j = 0; j < n; ++j) {
      long double s = 0;
      for (uint32_t l = 0; l < k; ++l)
        s += static_cast<long double>(transposeA ? A(l, i) : A(i, l)) *
             (transposeA ? B(l, j) : B(j, l));
      R(i, j) = static_cast<double>(s);
    }
  return R;
}

void ExpectNear(const Matrix& R, const Matrix& E, uint32_t k) {
  ASSERT_EQ(R.Rows(), E.Rows());
  ASSERT_EQ(R.Cols(), E.Cols());
  for (uint32_t i = 0; i < R.Rows(); ++i)
    for (uint32_t j = 0; j < R.Cols(); ++j)
      ASSERT_NEAR(R(i, j), E(i, j), 1e-15 * (k + 1)) << i << "," << j;
}

TEST(DenseMatrixTest, ProductsMatchNaiveLoops) {
  std::mt19937 rng(42);
  const uint32_t sizes[] = {1, 2, 7, 8, 9, 31, 33, 64, 130, 257, 300};
  for (uint32_t m : sizes) {
    for (uint32_t k : {1u, 8u, 33u, 300u}) {
      uint32_t n = sizes[(m + k) % 11];
      if (static_cast<uint64_t>(m) * n * k > 3000000) n = 9;
      Matrix A(m, k), B(n, k);
      Fill(A, rng);
      Fill(B, rng);
      Matrix R;
      R.MultiplyABt(A, B);
      ExpectNear(R, Naive(A, B, false), k);
      Matrix At(k, m), Bt(k, n);
      Fill(At, rng);
      Fill(Bt, rng);
      R.MultiplyAtB(At, Bt);
      ExpectNear(R, Naive(At, Bt, true), k);
    }
  }
}

TEST(DenseMatrixTest, ProductsOnOverlaysWithOddStrides) {
  std::mt19937 rng(9);
  for (uint32_t m : {5u, 40u}) {
    uint32_t k = 37, n = 34;
    std::vector<double> ma(m * 41), mb(n * 39), mc(m * 35 + 1);
    Matrix A(ma.data() + 1, m, k, 41), B(mb.data(), n, k, 39);
    Fill(A, rng);
    Fill(B, rng);
    Matrix R(mc.data() + 1, m, n, 35);
    R.MultiplyABt(A, B);
    EXPECT_EQ(R.Data(), mc.data() + 1);
    ExpectNear(R, Naive(A, B, false), k);
    std::vector<double> ta(k * 43), tb(k * 35);
    Matrix At(ta.data() + 1, k, m, 43), Bt(tb.data(), k, n, 35);
    Fill(At, rng);
    Fill(Bt, rng);
    Matrix R2;
    R2.MultiplyAtB(At, Bt);
    ExpectNear(R2, Naive(At, Bt, true), k);
  }
}

TEST(DenseMatrixTest, AliasedResultsEqualSeparateOnes) {
  std::mt19937 rng(1);
  for (uint32_t n : {5u, 40u}) {
    Matrix A(n, n), B(n, n);
    Fill(A, rng);
    Fill(B, rng);
    Matrix expectAA, expectAB, expectAtB;
    expectAA.MultiplyABt(A, A);
    expectAB.MultiplyABt(A, B);
    expectAtB.MultiplyAtB(A, B);
    Matrix X(A);
    X.MultiplyABt(X, X);
    Matrix Y(A);
    Y.MultiplyABt(Y, B);
    Matrix Z(B);
    Z.MultiplyAtB(A, Z);
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t j = 0; j < n; ++j) {
        EXPECT_TRUE(SameBits(X(i, j), expectAA(i, j)));
        EXPECT_TRUE(SameBits(Y(i, j), expectAB(i, j)));
        EXPECT_TRUE(SameBits(Z(i, j), expectAtB(i, j)));
      }
  }
}

TEST(DenseMatrixTest, ZeroDimensionGivesZeroMatrix) {
  Matrix A(4, 0), B(3, 0), R(2, 2);
  R.MultiplyABt(A, B);
  EXPECT_EQ(R.Rows(), 4u);
  EXPECT_EQ(R.Cols(), 3u);
  for (uint32_t i = 0; i < 4; ++i)
    for (uint32_t j = 0; j < 3; ++j) EXPECT_EQ(R(i, j), 0.0);
  Matrix C(0, 3), D(0, 2);
  R.MultiplyAtB(C, D);
  EXPECT_EQ(R.Rows(), 3u);
  EXPECT_EQ(R.Cols(), 2u);
  EXPECT_EQ(R(2, 1), 0.0);
}

// Small dimensions use the even/odd plain loops; 8 × 8 is one tile computed
// by the tile kernel. Checked bit for bit against both formulas.
TEST(DenseMatrixTest, PlainLoopsBelowEightOneTileAtEight) {
  std::mt19937 rng(2);
  Matrix A(7, 300), B(7, 300), R;
  Fill(A, rng);
  Fill(B, rng);
  R.MultiplyABt(A, B);
  for (uint32_t i = 0; i < 7; ++i)
    for (uint32_t j = 0; j < 7; ++j) {
      double even = 0, odd = 0;
      for (uint32_t l = 0; l < 300; l += 2) {
        even += A(i, l) * B(j, l);
        odd += A(i, l + 1) * B(j, l + 1);
      }
      EXPECT_TRUE(SameBits(R(i, j), even + odd));
    }
  Matrix C(8, 8), D(8, 8);
  Fill(C, rng);
  Fill(D, rng);
  R.MultiplyABt(C, D);
  for (uint32_t i = 0; i < 8; ++i)
    for (uint32_t j = 0; j < 8; ++j)
      EXPECT_TRUE(SameBits(R(i, j), DotProduct(C.Row(i), D.Row(j), 8)));
  R.MultiplyAtB(C, D);
  for (uint32_t i = 0; i < 8; ++i)
    for (uint32_t j = 0; j < 8; ++j) {
      alignas(16) double ci[8], dj[8];
      for (uint32_t l = 0; l < 8; ++l) ci[l] = C(l, i), dj[l] = D(l, j);
      EXPECT_TRUE(SameBits(R(i, j), DotProduct(ci, dj, 8)));
    }
}

// With more than 100 pool threads the tiles are shared out through the
// pool; blocks merge their k tiles under their lock words.
TEST(DenseMatrixTest, ProductOnManyPoolThreadsMatchesSerial) {
  std::mt19937 rng(31);
  Matrix A(1280, 32), B(1280, 32), At(32, 1280);
  Fill(A, rng);
  Fill(B, rng);
  Fill(At, rng);
  Matrix serialABt, serialAtB;
  serialABt.MultiplyABt(A, B);
  serialAtB.MultiplyAtB(At, At);
  int before = WorkerPool::GetNumberOfThreads();
  ASSERT_GT(WorkerPool::SetNumberOfThreads(120), 100);
  Matrix parallelABt, parallelAtB;
  parallelABt.MultiplyABt(A, B);
  parallelAtB.MultiplyAtB(At, At);
  WorkerPool::SetNumberOfThreads(before);
  for (uint32_t i = 0; i < 1280; ++i)
    for (uint32_t j = 0; j < 1280; ++j) {
      // Two k tiles per block: either merge order gives the same sum.
      ASSERT_TRUE(SameBits(parallelABt(i, j), serialABt(i, j))) << i << "," << j;
      ASSERT_TRUE(SameBits(parallelAtB(i, j), serialAtB(i, j))) << i << "," << j;
    }
}

}  // namespace
