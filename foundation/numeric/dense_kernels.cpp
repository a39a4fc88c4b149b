#include "foundation/numeric/dense_kernels.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#define KX_DENSE_SSE2 1
#endif

namespace {

#if KX_DENSE_SSE2
const bool g_has_avx2 = __builtin_cpu_supports("avx2");
#endif

inline bool Misaligned(const void* p) {
  return (reinterpret_cast<uintptr_t>(p) & 15) != 0;
}

// One dot product in the fixed order, with the peel decided by the caller.
inline double DotOrdered(const double* a, const double* b, int n, bool peel) {
  if (n < 1) return 0.0;
  int i = 0;
  double head = 0.0;
  if (peel) {
    head = a[0] * b[0];
    i = 1;
  }
  double l0 = 0.0, l1 = 0.0, l2 = 0.0, l3 = 0.0;
  for (; i + 4 <= n; i += 4) {
    l0 += a[i] * b[i];
    l1 += a[i + 1] * b[i + 1];
    l2 += a[i + 2] * b[i + 2];
    l3 += a[i + 3] * b[i + 3];
  }
  if (i + 2 <= n) {
    l0 += a[i] * b[i];
    l1 += a[i + 1] * b[i + 1];
    i += 2;
  }
  double sum = (l0 + l2) + (l1 + l3);
  if (i < n) sum += a[i] * b[i];
  if (peel) sum = head + sum;
  return sum;
}

#if KX_DENSE_SSE2
inline double Finish(__m128d s0, __m128d s1, double tail, bool hasTail, double head, bool peel) {
  __m128d s = _mm_add_pd(s0, s1);
  double sum = _mm_cvtsd_f64(s) + _mm_cvtsd_f64(_mm_unpackhi_pd(s, s));
  if (hasTail) sum += tail;
  if (peel) sum = head + sum;
  return sum;
}
#endif

}  // namespace

namespace scalar_kernels {

double DotProduct(const double* a, const double* b, int n) {
  return DotOrdered(a, b, n, n >= 1 && Misaligned(a));
}

double DotProductUnrolled(const double* a, const double* b, int n) {
  double l[4] = {0.0, 0.0, 0.0, 0.0};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    l[0] += a[i] * b[i];
    l[1] += a[i + 1] * b[i + 1];
    l[2] += a[i + 2] * b[i + 2];
    l[3] += a[i + 3] * b[i + 3];
  }
  for (int lane = 0; i < n; ++i, ++lane) l[lane] += a[i] * b[i];
  return (l[0] + l[1]) + (l[2] + l[3]);
}

void DotProduct2(const double* a, const double* b, const double* p, int n, double out[2]) {
  bool peel = n >= 1 && Misaligned(a);
  out[0] = DotOrdered(a, p, n, peel);
  out[1] = DotOrdered(b, p, n, peel);
}

void DotProduct2x2(const double* a, const double* b, const double* c, const double* d, int n,
                   double out[4]) {
  bool peel = n >= 1 && Misaligned(a);
  out[0] = DotOrdered(a, c, n, peel);
  out[1] = DotOrdered(b, c, n, peel);
  out[2] = DotOrdered(a, d, n, peel);
  out[3] = DotOrdered(b, d, n, peel);
}

void AddVectors(const double* a, double* c, const double* b, int n) {
  for (int i = 0; i < n; ++i) c[i] = a[i] + b[i];
}

void SubtractVectors(const double* a, double* c, const double* b, int n) {
  for (int i = 0; i < n; ++i) c[i] = a[i] - b[i];
}

void ScaleVector(const double* a, double s, double* d, int n) {
  for (int i = 0; i < n; ++i) d[i] = s * a[i];
}

void ScaleAddVector(const double* a, double s, double* d, const double* y, int n) {
  for (int i = 0; i < n; ++i) d[i] = s * a[i] + y[i];
}

void ScaleAddVector2(const double* a, double s1, double s2, double* d, const double* y,
                     const double* b, int n) {
  for (int i = 0; i < n; ++i) d[i] = (s2 * b[i] + s1 * a[i]) + y[i];
}

}  // namespace scalar_kernels

#if KX_DENSE_SSE2

double DotProduct(const double* a, const double* b, int n) {
  if (n < 1) return 0.0;
  bool peel = Misaligned(a);
  int i = 0;
  double head = 0.0;
  if (peel) {
    head = a[0] * b[0];
    i = 1;
  }
  __m128d s0 = _mm_setzero_pd(), s1 = _mm_setzero_pd();
  for (; i + 4 <= n; i += 4) {
    s0 = _mm_add_pd(s0, _mm_mul_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i)));
    s1 = _mm_add_pd(s1, _mm_mul_pd(_mm_loadu_pd(a + i + 2), _mm_loadu_pd(b + i + 2)));
  }
  if (i + 2 <= n) {
    s0 = _mm_add_pd(s0, _mm_mul_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i)));
    i += 2;
  }
  bool hasTail = i < n;
  return Finish(s0, s1, hasTail ? a[i] * b[i] : 0.0, hasTail, head, peel);
}

void DotProduct2(const double* a, const double* b, const double* p, int n, double out[2]) {
  if (n < 1) {
    out[0] = out[1] = 0.0;
    return;
  }
  bool peel = Misaligned(a);
  int i = 0;
  double ha = 0.0, hb = 0.0;
  if (peel) {
    ha = a[0] * p[0];
    hb = b[0] * p[0];
    i = 1;
  }
  __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd();
  __m128d b0 = _mm_setzero_pd(), b1 = _mm_setzero_pd();
  for (; i + 4 <= n; i += 4) {
    __m128d p0 = _mm_loadu_pd(p + i), p1 = _mm_loadu_pd(p + i + 2);
    a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(a + i), p0));
    a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(a + i + 2), p1));
    b0 = _mm_add_pd(b0, _mm_mul_pd(_mm_loadu_pd(b + i), p0));
    b1 = _mm_add_pd(b1, _mm_mul_pd(_mm_loadu_pd(b + i + 2), p1));
  }
  if (i + 2 <= n) {
    __m128d p0 = _mm_loadu_pd(p + i);
    a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(a + i), p0));
    b0 = _mm_add_pd(b0, _mm_mul_pd(_mm_loadu_pd(b + i), p0));
    i += 2;
  }
  bool hasTail = i < n;
  out[0] = Finish(a0, a1, hasTail ? a[i] * p[i] : 0.0, hasTail, ha, peel);
  out[1] = Finish(b0, b1, hasTail ? b[i] * p[i] : 0.0, hasTail, hb, peel);
}

void DotProduct2x2(const double* a, const double* b, const double* c, const double* d, int n,
                   double out[4]) {
  if (n < 1) {
    out[0] = out[1] = out[2] = out[3] = 0.0;
    return;
  }
  bool peel = Misaligned(a);
  int i = 0;
  double hac = 0.0, hbc = 0.0, had = 0.0, hbd = 0.0;
  if (peel) {
    hac = a[0] * c[0];
    hbc = b[0] * c[0];
    had = a[0] * d[0];
    hbd = b[0] * d[0];
    i = 1;
  }
  __m128d ac0 = _mm_setzero_pd(), ac1 = _mm_setzero_pd();
  __m128d bc0 = _mm_setzero_pd(), bc1 = _mm_setzero_pd();
  __m128d ad0 = _mm_setzero_pd(), ad1 = _mm_setzero_pd();
  __m128d bd0 = _mm_setzero_pd(), bd1 = _mm_setzero_pd();
  for (; i + 4 <= n; i += 4) {
    __m128d va0 = _mm_loadu_pd(a + i), vb0 = _mm_loadu_pd(b + i);
    __m128d vc0 = _mm_loadu_pd(c + i), vd0 = _mm_loadu_pd(d + i);
    ac0 = _mm_add_pd(ac0, _mm_mul_pd(va0, vc0));
    bc0 = _mm_add_pd(bc0, _mm_mul_pd(vb0, vc0));
    ad0 = _mm_add_pd(ad0, _mm_mul_pd(va0, vd0));
    bd0 = _mm_add_pd(bd0, _mm_mul_pd(vb0, vd0));
    __m128d va1 = _mm_loadu_pd(a + i + 2), vb1 = _mm_loadu_pd(b + i + 2);
    __m128d vc1 = _mm_loadu_pd(c + i + 2), vd1 = _mm_loadu_pd(d + i + 2);
    ac1 = _mm_add_pd(ac1, _mm_mul_pd(va1, vc1));
    bc1 = _mm_add_pd(bc1, _mm_mul_pd(vb1, vc1));
    ad1 = _mm_add_pd(ad1, _mm_mul_pd(va1, vd1));
    bd1 = _mm_add_pd(bd1, _mm_mul_pd(vb1, vd1));
  }
  if (i + 2 <= n) {
    __m128d va0 = _mm_loadu_pd(a + i), vb0 = _mm_loadu_pd(b + i);
    __m128d vc0 = _mm_loadu_pd(c + i), vd0 = _mm_loadu_pd(d + i);
    ac0 = _mm_add_pd(ac0, _mm_mul_pd(va0, vc0));
    bc0 = _mm_add_pd(bc0, _mm_mul_pd(vb0, vc0));
    ad0 = _mm_add_pd(ad0, _mm_mul_pd(va0, vd0));
    bd0 = _mm_add_pd(bd0, _mm_mul_pd(vb0, vd0));
    i += 2;
  }
  bool t = i < n;
  out[0] = Finish(ac0, ac1, t ? a[i] * c[i] : 0.0, t, hac, peel);
  out[1] = Finish(bc0, bc1, t ? b[i] * c[i] : 0.0, t, hbc, peel);
  out[2] = Finish(ad0, ad1, t ? a[i] * d[i] : 0.0, t, had, peel);
  out[3] = Finish(bd0, bd1, t ? b[i] * d[i] : 0.0, t, hbd, peel);
}

namespace {
// Runs an element-wise operation: element 0 alone when the destination is
// not on a 16-byte boundary, then pairs, then an odd last element.
template <typename Pair, typename One>
inline void ElementWise(double* d, int n, Pair pair, One one) {
  if (n < 1) return;
  int i = 0;
  if (Misaligned(d)) {
    one(0);
    i = 1;
  }
  for (; i + 2 <= n; i += 2) pair(i);
  if (i < n) one(i);
}
}  // namespace

void AddVectors(const double* a, double* c, const double* b, int n) {
  ElementWise(
      c, n,
      [&](int i) { _mm_storeu_pd(c + i, _mm_add_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i))); },
      [&](int i) { c[i] = a[i] + b[i]; });
}

void SubtractVectors(const double* a, double* c, const double* b, int n) {
  ElementWise(
      c, n,
      [&](int i) { _mm_storeu_pd(c + i, _mm_sub_pd(_mm_loadu_pd(a + i), _mm_loadu_pd(b + i))); },
      [&](int i) { c[i] = a[i] - b[i]; });
}

void ScaleVector(const double* a, double s, double* d, int n) {
  __m128d vs = _mm_set1_pd(s);
  ElementWise(
      d, n, [&](int i) { _mm_storeu_pd(d + i, _mm_mul_pd(vs, _mm_loadu_pd(a + i))); },
      [&](int i) { d[i] = s * a[i]; });
}

void ScaleAddVector(const double* a, double s, double* d, const double* y, int n) {
  __m128d vs = _mm_set1_pd(s);
  ElementWise(
      d, n,
      [&](int i) {
        _mm_storeu_pd(d + i, _mm_add_pd(_mm_mul_pd(vs, _mm_loadu_pd(a + i)), _mm_loadu_pd(y + i)));
      },
      [&](int i) { d[i] = s * a[i] + y[i]; });
}

void ScaleAddVector2(const double* a, double s1, double s2, double* d, const double* y,
                     const double* b, int n) {
  __m128d v1 = _mm_set1_pd(s1), v2 = _mm_set1_pd(s2);
  ElementWise(
      d, n,
      [&](int i) {
        __m128d t =
            _mm_add_pd(_mm_mul_pd(v2, _mm_loadu_pd(b + i)), _mm_mul_pd(v1, _mm_loadu_pd(a + i)));
        _mm_storeu_pd(d + i, _mm_add_pd(t, _mm_loadu_pd(y + i)));
      },
      [&](int i) { d[i] = (s2 * b[i] + s1 * a[i]) + y[i]; });
}

#else  // portable build: the scalar forms are the kernels

double DotProduct(const double* a, const double* b, int n) {
  return scalar_kernels::DotProduct(a, b, n);
}
void DotProduct2(const double* a, const double* b, const double* p, int n, double out[2]) {
  scalar_kernels::DotProduct2(a, b, p, n, out);
}
void DotProduct2x2(const double* a, const double* b, const double* c, const double* d, int n,
                   double out[4]) {
  scalar_kernels::DotProduct2x2(a, b, c, d, n, out);
}
void AddVectors(const double* a, double* c, const double* b, int n) {
  scalar_kernels::AddVectors(a, c, b, n);
}
void SubtractVectors(const double* a, double* c, const double* b, int n) {
  scalar_kernels::SubtractVectors(a, c, b, n);
}
void ScaleVector(const double* a, double s, double* d, int n) {
  scalar_kernels::ScaleVector(a, s, d, n);
}
void ScaleAddVector(const double* a, double s, double* d, const double* y, int n) {
  scalar_kernels::ScaleAddVector(a, s, d, y, n);
}
void ScaleAddVector2(const double* a, double s1, double s2, double* d, const double* y,
                     const double* b, int n) {
  scalar_kernels::ScaleAddVector2(a, s1, s2, d, y, b, n);
}

#endif

double DotProductUnrolled(const double* a, const double* b, int n) {
  return scalar_kernels::DotProductUnrolled(a, b, n);
}

void MultiplyRowsVector(const double* M, size_t outStride, double* out, size_t stride,
                        const double* v, int cols, int rows) {
  if (rows < 1) return;
  switch (cols) {
    case 1:
      for (int i = 0; i < rows; ++i, M += stride) out[i * outStride] = M[0] * v[0];
      break;
    case 2:
      for (int i = 0; i < rows; ++i, M += stride) out[i * outStride] = M[0] * v[0] + M[1] * v[1];
      break;
    case 3:
      for (int i = 0; i < rows; ++i, M += stride)
        out[i * outStride] = M[0] * v[0] + M[1] * v[1] + M[2] * v[2];
      break;
    case 4:
      for (int i = 0; i < rows; ++i, M += stride)
        out[i * outStride] = M[0] * v[0] + M[1] * v[1] + M[2] * v[2] + M[3] * v[3];
      break;
    default:
      for (int i = 0; i < rows; ++i, M += stride)
        out[i * outStride] = DotProductUnrolled(M, v, cols);
      break;
  }
}

void CopyRows(int cols, size_t srcStride, double* dst, size_t dstStride, const double* src,
              int rows) {
  if (cols < 1 || rows < 1) return;
  size_t c = static_cast<size_t>(cols);
  if (srcStride == c && dstStride == c) {
    std::memcpy(dst, src, c * static_cast<size_t>(rows) * sizeof(double));
    return;
  }
  for (int r = 0; r < rows; ++r, dst += dstStride, src += srcStride) {
    switch (cols) {
      case 4:
        dst[3] = src[3];
        [[fallthrough]];
      case 3:
        dst[2] = src[2];
        [[fallthrough]];
      case 2:
        dst[1] = src[1];
        [[fallthrough]];
      case 1:
        dst[0] = src[0];
        break;
      default:
        std::memcpy(dst, src, c * sizeof(double));
        break;
    }
  }
}

#if KX_DENSE_SSE2
namespace {
// 4 × 4 blocks through registers, the rest element by element.
__attribute__((target("avx2"))) void TransposeBlockAvx2(size_t srcStride, double* dst,
                                                        size_t dstStride, const double* src, int w,
                                                        int h) {
  int i = 0;
  for (; i + 4 <= h; i += 4) {
    const double* s0 = src + i * srcStride;
    int j = 0;
    for (; j + 4 <= w; j += 4) {
      __m256d r0 = _mm256_loadu_pd(s0 + j), r1 = _mm256_loadu_pd(s0 + srcStride + j);
      __m256d r2 = _mm256_loadu_pd(s0 + 2 * srcStride + j);
      __m256d r3 = _mm256_loadu_pd(s0 + 3 * srcStride + j);
      __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
      __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
      double* d = dst + j * dstStride + i;
      _mm256_storeu_pd(d, _mm256_permute2f128_pd(t0, t2, 0x20));
      _mm256_storeu_pd(d + dstStride, _mm256_permute2f128_pd(t1, t3, 0x20));
      _mm256_storeu_pd(d + 2 * dstStride, _mm256_permute2f128_pd(t0, t2, 0x31));
      _mm256_storeu_pd(d + 3 * dstStride, _mm256_permute2f128_pd(t1, t3, 0x31));
    }
    for (; j < w; ++j)
      for (int r = 0; r < 4; ++r) dst[j * dstStride + i + r] = s0[r * srcStride + j];
  }
  for (; i < h; ++i) {
    const double* s = src + i * srcStride;
    for (int j = 0; j < w; ++j) dst[j * dstStride + i] = s[j];
  }
}
}  // namespace
#endif

void TransposeBlock(size_t srcStride, double* dst, size_t dstStride, const double* src, int w,
                    int h) {
#if KX_DENSE_SSE2
  if (g_has_avx2) {
    TransposeBlockAvx2(srcStride, dst, dstStride, src, w, h);
    return;
  }
#endif
  for (int i = 0; i < h; ++i) {
    const double* s = src + i * srcStride;
    for (int j = 0; j < w; ++j) dst[j * dstStride + i] = s[j];
  }
}

#if KX_DENSE_SSE2
namespace {

// Tile elements as 256-bit dot products: accumulator lane q holds the terms
// l ≡ q (mod 4), a remaining pair goes into lanes 0 and 1, and the lanes are
// summed as ((l0 + l2) + (l1 + l3)) before the odd last term: the order of
// DotOrdered without a peel, so the same bits as the two-wide kernels.
// kRows rows of A against kCols rows of B at once; no fused multiply-add.
template <int kRows, int kCols>
__attribute__((target("avx2"))) inline void TileBlockAvx2(const double* const* a,
                                                          const double* const* b, int k, double* T,
                                                          size_t tStride) {
  __m256d acc[kRows][kCols];
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) acc[r][c] = _mm256_setzero_pd();
  int l = 0;
  for (; l + 4 <= k; l += 4) {
    __m256d va[kRows];
    for (int r = 0; r < kRows; ++r) va[r] = _mm256_loadu_pd(a[r] + l);
    for (int c = 0; c < kCols; ++c) {
      __m256d vb = _mm256_loadu_pd(b[c] + l);
      for (int r = 0; r < kRows; ++r)
        acc[r][c] = _mm256_add_pd(acc[r][c], _mm256_mul_pd(va[r], vb));
    }
  }
  const bool pair = l + 2 <= k;
  const int last = pair ? l + 2 : l;
  const bool odd = last < k;
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) {
      __m128d lo = _mm256_castpd256_pd128(acc[r][c]);
      __m128d hi = _mm256_extractf128_pd(acc[r][c], 1);
      if (pair) lo = _mm_add_pd(lo, _mm_mul_pd(_mm_loadu_pd(a[r] + l), _mm_loadu_pd(b[c] + l)));
      __m128d s = _mm_add_pd(lo, hi);
      double sum = _mm_cvtsd_f64(s) + _mm_cvtsd_f64(_mm_unpackhi_pd(s, s));
      if (odd) sum += a[r][last] * b[c][last];
      T[r * tStride + c] = sum;
    }
  }
}

template <int kRows>
__attribute__((target("avx2"))) void TileRowsAvx2(const double* B, double* T, size_t tStride,
                                                  const double* A, size_t aStride, size_t bStride,
                                                  int cols, int k) {
  const double* a[kRows];
  for (int r = 0; r < kRows; ++r) a[r] = A + r * aStride;
  int j = 0;
  for (; j + 4 <= cols; j += 4) {
    const double* b[4] = {B + j * bStride, B + (j + 1) * bStride, B + (j + 2) * bStride,
                          B + (j + 3) * bStride};
    TileBlockAvx2<kRows, 4>(a, b, k, T + j, tStride);
  }
  for (; j < cols; ++j) {
    const double* b[1] = {B + j * bStride};
    TileBlockAvx2<kRows, 1>(a, b, k, T + j, tStride);
  }
}

// Whether every row of A and B starts on a 16-byte boundary, so that no dot
// product peels its first element.
bool RowsAligned(const double* A, size_t aStride, const double* B, size_t bStride) {
  return !Misaligned(A) && !Misaligned(B) && aStride % 2 == 0 && bStride % 2 == 0;
}

}  // namespace
#endif

void MultiplyTileABt(const double* B, double* T, size_t tStride, const double* A, size_t aStride,
                     size_t bStride, int rows, int cols, int k) {
#if KX_DENSE_SSE2
  if (g_has_avx2 && k >= 1 && RowsAligned(A, aStride, B, bStride)) {
    int i = 0;
    for (; i + 3 <= rows; i += 3)
      TileRowsAvx2<3>(B, T + i * tStride, tStride, A + i * aStride, aStride, bStride, cols, k);
    if (rows - i == 2)
      TileRowsAvx2<2>(B, T + i * tStride, tStride, A + i * aStride, aStride, bStride, cols, k);
    else if (rows - i == 1)
      TileRowsAvx2<1>(B, T + i * tStride, tStride, A + i * aStride, aStride, bStride, cols, k);
    return;
  }
#endif
  double out[4];
  int i = 0;
  for (; i + 2 <= rows; i += 2) {
    const double* a0 = A + i * aStride;
    const double* a1 = a0 + aStride;
    double* t0 = T + i * tStride;
    double* t1 = t0 + tStride;
    int j = 0;
    for (; j + 2 <= cols; j += 2) {
      const double* b0 = B + j * bStride;
      DotProduct2x2(a0, a1, b0, b0 + bStride, k, out);
      t0[j] = out[0];
      t1[j] = out[1];
      t0[j + 1] = out[2];
      t1[j + 1] = out[3];
    }
    if (j < cols) {
      DotProduct2(a0, a1, B + j * bStride, k, out);
      t0[j] = out[0];
      t1[j] = out[1];
    }
  }
  if (i < rows) {
    const double* a0 = A + i * aStride;
    double* t0 = T + i * tStride;
    int j = 0;
    for (; j + 2 <= cols; j += 2) {
      const double* b0 = B + j * bStride;
      DotProduct2(b0, b0 + bStride, a0, k, out);
      t0[j] = out[0];
      t0[j + 1] = out[1];
    }
    if (j < cols) t0[j] = DotProduct(a0, B + j * bStride, k);
  }
}
