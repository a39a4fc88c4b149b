#include "foundation/numeric/dense_kernels.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof(double)) == 0;
}

// 16-byte aligned storage with room for an offset of one element.
struct Buf {
  explicit Buf(int n, std::mt19937& rng) : raw(n + 4) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (double& x : raw) x = u(rng) * std::pow(10.0, u(rng) * 6);
  }
  double* At(int offset) {
    auto p = reinterpret_cast<uintptr_t>(raw.data());
    double* base = raw.data() + ((p % 16) ? 1 : 0);
    return base + offset;
  }
  std::vector<double> raw;
};

// Packed and scalar forms agree bit for bit for every length and alignment,
// and stay close to the exact sum.
TEST(DenseKernelsTest, DotKernelsMatchScalarForm) {
  std::mt19937 rng(7);
  for (int n = 0; n < 40; ++n) {
    for (int off = 0; off < 2; ++off) {
      Buf a(n, rng), b(n, rng), c(n, rng), d(n, rng);
      double* pa = a.At(off);
      double* pb = b.At(off);
      double* pc = c.At(1 - off);
      double* pd = d.At(off);
      double x = DotProduct(pa, pc, n);
      EXPECT_TRUE(SameBits(x, scalar_kernels::DotProduct(pa, pc, n))) << n << " " << off;
      long double exact = 0, mag = 0;
      for (int i = 0; i < n; ++i) {
        exact += static_cast<long double>(pa[i]) * pc[i];
        mag += std::fabs(static_cast<long double>(pa[i]) * pc[i]);
      }
      EXPECT_NEAR(x, static_cast<double>(exact), 1e-14 * static_cast<double>(mag) + 1e-300);
      EXPECT_NEAR(DotProductUnrolled(pa, pc, n), static_cast<double>(exact),
                  1e-14 * static_cast<double>(mag) + 1e-300);

      double v2[2], s2[2];
      DotProduct2(pa, pb, pc, n, v2);
      scalar_kernels::DotProduct2(pa, pb, pc, n, s2);
      EXPECT_TRUE(SameBits(v2[0], s2[0]) && SameBits(v2[1], s2[1])) << n;
      EXPECT_TRUE(SameBits(v2[0], x)) << "a·p equals DotProduct(a, p)";

      double v4[4], s4[4];
      DotProduct2x2(pa, pb, pc, pd, n, v4);
      scalar_kernels::DotProduct2x2(pa, pb, pc, pd, n, s4);
      for (int i = 0; i < 4; ++i) EXPECT_TRUE(SameBits(v4[i], s4[i])) << n << " " << i;
      EXPECT_TRUE(SameBits(v4[0], x));
    }
  }
}

// The order is fixed: lanes 0/2 and 1/3 are paired before the tail is added.
TEST(DenseKernelsTest, DotSummationOrderIsFixed) {
  alignas(16) double a[5] = {1e16, 1.0, -1e16, 1.0, 1.0};
  alignas(16) double ones[5] = {1, 1, 1, 1, 1};
  // ((1e16 + -1e16) + (1 + 1)) + 1 = 3 exactly; a plain left-to-right sum gives 1.
  EXPECT_EQ(DotProduct(a, ones, 5), 3.0);
  EXPECT_EQ(scalar_kernels::DotProduct(a, ones, 5), 3.0);
}

TEST(DenseKernelsTest, ElementWiseKernelsMatchScalarFormInPlaceToo) {
  std::mt19937 rng(11);
  for (int n = 0; n < 20; ++n) {
    for (int off = 0; off < 2; ++off) {
      Buf a(n, rng), b(n, rng), y(n, rng);
      std::vector<double> d1(n + 2), d2(n + 2);
      auto check = [&](const char* what) {
        for (int i = 0; i < n; ++i) EXPECT_TRUE(SameBits(d1[i + off], d2[i + off])) << what << n;
      };
      AddVectors(a.At(off), d1.data() + off, b.At(0), n);
      scalar_kernels::AddVectors(a.At(off), d2.data() + off, b.At(0), n);
      check("add");
      SubtractVectors(a.At(off), d1.data() + off, b.At(0), n);
      scalar_kernels::SubtractVectors(a.At(off), d2.data() + off, b.At(0), n);
      check("sub");
      ScaleVector(a.At(off), 0.3, d1.data() + off, n);
      scalar_kernels::ScaleVector(a.At(off), 0.3, d2.data() + off, n);
      check("scale");
      ScaleAddVector(a.At(off), 1.7, d1.data() + off, y.At(1), n);
      scalar_kernels::ScaleAddVector(a.At(off), 1.7, d2.data() + off, y.At(1), n);
      check("scaleadd");
      // In place: the destination is also the added vector.
      ScaleAddVector2(a.At(off), 0.7, -1.3, d1.data() + off, d1.data() + off, b.At(1), n);
      scalar_kernels::ScaleAddVector2(a.At(off), 0.7, -1.3, d2.data() + off, d2.data() + off,
                                      b.At(1), n);
      check("scaleadd2");
      for (int i = 0; i < n; ++i) {
        double e = 0.3 * a.At(off)[i];
        e = 1.7 * a.At(off)[i] + y.At(1)[i];
        e = (-1.3 * b.At(1)[i] + 0.7 * a.At(off)[i]) + e;
        EXPECT_TRUE(SameBits(d1[i + off], e));
      }
    }
  }
}

TEST(DenseKernelsTest, RowAndBlockKernels) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int cols = 1; cols <= 9; ++cols) {
    const int rows = 3;
    const size_t stride = cols + 3;
    std::vector<double> M(rows * stride), v(cols), out(rows * 2, 99.0);
    for (double& x : M) x = u(rng);
    for (double& x : v) x = u(rng);
    MultiplyRowsVector(M.data(), 2, out.data(), stride, v.data(), cols, rows);
    for (int r = 0; r < rows; ++r) {
      double e = 0;
      for (int j = 0; j < cols; ++j) e += M[r * stride + j] * v[j];
      EXPECT_NEAR(out[r * 2], e, 1e-15) << cols;
      EXPECT_EQ(out[r * 2 + 1], 99.0);
    }
    std::vector<double> dst(rows * (cols + 1), -5.0);
    CopyRows(cols, stride, dst.data(), cols + 1, M.data(), rows);
    for (int r = 0; r < rows; ++r) {
      for (int j = 0; j < cols; ++j) EXPECT_EQ(dst[r * (cols + 1) + j], M[r * stride + j]);
      EXPECT_EQ(dst[r * (cols + 1) + cols], -5.0);
    }
    std::vector<double> t(cols * 4, 0.0);
    TransposeBlock(stride, t.data(), 4, M.data(), cols, rows);
    for (int r = 0; r < rows; ++r)
      for (int j = 0; j < cols; ++j) EXPECT_EQ(t[j * 4 + r], M[r * stride + j]);
  }
}

TEST(DenseKernelsTest, TileElementsAreTheDotProducts) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int rows : {1, 2, 5}) {
    for (int cols : {1, 3, 4}) {
      const int k = 9;
      alignas(16) double A[5 * 10], B[4 * 10], T[5 * 6];
      for (double& x : A) x = u(rng);
      for (double& x : B) x = u(rng);
      MultiplyTileABt(B, T, 6, A, 10, 10, rows, cols, k);
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
          EXPECT_TRUE(SameBits(T[i * 6 + j], DotProduct(A + i * 10, B + j * 10, k)))
              << rows << "x" << cols << " " << i << "," << j;
    }
  }
}

// Blocks of four rows and columns and the rest around them land in place;
// the destination's padding stays untouched.
TEST(DenseKernelsTest, TransposeBlockOfEveryShape) {
  for (int h : {1, 3, 4, 5, 9}) {
    for (int w : {1, 4, 6, 9}) {
      const size_t srcStride = 11, dstStride = 12;
      std::vector<double> src(h * srcStride), dst(w * dstStride, -1.0);
      for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<double>(i);
      TransposeBlock(srcStride, dst.data(), dstStride, src.data(), w, h);
      for (int j = 0; j < w; ++j)
        for (size_t i = 0; i < dstStride; ++i)
          ASSERT_EQ(dst[j * dstStride + i], i < size_t(h) ? src[i * srcStride + j] : -1.0)
              << h << "x" << w << " at " << i << "," << j;
    }
  }
}

// Every tile element equals the portable dot product bit for bit, for tile
// shapes around the blocked path's 3 × 4 groups, inner lengths with and
// without a remaining pair or odd element, aligned and misaligned rows.
TEST(DenseKernelsTest, TilesOfEveryShapeMatchTheScalarDots) {
  std::mt19937 rng(11);
  for (int k : {1, 2, 3, 4, 5, 6, 7, 8, 13, 130}) {
    for (int offset : {0, 1}) {
      const int stride = 132;  // even: rows keep the alignment of the first
      Buf abuf(8 * stride, rng), bbuf(9 * stride, rng);
      double* A = abuf.At(offset);
      double* B = bbuf.At(offset);
      for (int rows = 1; rows <= 7; ++rows) {
        for (int cols : {1, 2, 3, 4, 5, 8, 9}) {
          std::vector<double> T(static_cast<size_t>(rows) * 10);
          MultiplyTileABt(B, T.data(), 10, A, stride, stride, rows, cols, k);
          for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) {
              // The odd last row pairs up B's rows, so its peel follows B.
              const double want =
                  (rows % 2 == 1 && i == rows - 1)
                      ? scalar_kernels::DotProduct(B + j * stride, A + i * stride, k)
                      : scalar_kernels::DotProduct(A + i * stride, B + j * stride, k);
              ASSERT_TRUE(SameBits(T[i * 10 + j], want))
                  << rows << "x" << cols << " k " << k << " offset " << offset << " at " << i << ","
                  << j;
            }
        }
      }
    }
  }
}

}  // namespace
