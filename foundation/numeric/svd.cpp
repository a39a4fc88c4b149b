#include "foundation/numeric/svd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/pythag.h"
#include "platform/console.h"

namespace {

using numeric::Pythag;
using numeric::Sign;

// sums[j] = Σ a[k][col]·a[k][j] over k = k0 .. m-1, for j = j0 .. n-1,
// accumulated in ascending k as a column-by-column loop would.
void ColumnSums(const double* a, size_t stride, int col, int k0, int m, int j0, int n,
                double* sums) {
  for (int j = j0; j < n; ++j) sums[j] = 0.0;
  for (int k = k0; k < m; ++k) {
    const double* row = a + k * stride;
    double akc = row[col];
    for (int j = j0; j < n; ++j) sums[j] += akc * row[j];
  }
}

// a[k][j] += f[j]·a[k][col] for k = k0 .. m-1, j = j0 .. n-1.
void ColumnUpdates(double* a, size_t stride, int col, int k0, int m, int j0, int n,
                   const double* f) {
  for (int k = k0; k < m; ++k) {
    double* row = a + k * stride;
    double akc = row[col];
    for (int j = j0; j < n; ++j) row[j] += f[j] * akc;
  }
}

// Each row j = first .. m-1 gets a[j][k] += (Σk' a[j][k']·a[i][k'])·r[k] for
// k = first .. n-1. Four rows at a time keep four sums in flight; each sum
// still runs in ascending k.
void RowUpdates(double* a, size_t stride, int i, int first, int m, int n, const double* r) {
  const double* ai = a + i * stride;
  int j = first;
  for (; j + 4 <= m; j += 4) {
    double* r0 = a + j * stride;
    double* r1 = r0 + stride;
    double* r2 = r1 + stride;
    double* r3 = r2 + stride;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int k = first; k < n; ++k) {
      s0 += r0[k] * ai[k];
      s1 += r1[k] * ai[k];
      s2 += r2[k] * ai[k];
      s3 += r3[k] * ai[k];
    }
    for (int k = first; k < n; ++k) {
      r0[k] += s0 * r[k];
      r1[k] += s1 * r[k];
      r2[k] += s2 * r[k];
      r3[k] += s3 * r[k];
    }
  }
  for (; j < m; ++j) {
    double* row = a + j * stride;
    double s = 0.0;
    for (int k = first; k < n; ++k) s += row[k] * ai[k];
    for (int k = first; k < n; ++k) row[k] += s * r[k];
  }
}

// Rotations (c[j], s[j]) of columns (j, j + 1) for j = first .. last, applied
// to every row in that order. Each row is a chain (column j + 1 of one
// rotation is column j of the next), so rows are taken four at a time to
// overlap the chains; every element sees the same operations either way.
void RotateRows(double* a, size_t stride, int rows, int first, int last, const double* c,
                const double* s) {
  if (last < first) return;
  int r = 0;
#if defined(__SSE2__)
  for (; r + 4 <= rows; r += 4) {
    double* r0 = a + r * stride;
    double* r1 = r0 + stride;
    double* r2 = r1 + stride;
    double* r3 = r2 + stride;
    __m128d p01 = _mm_set_pd(r1[first], r0[first]);
    __m128d p23 = _mm_set_pd(r3[first], r2[first]);
    for (int j = first; j <= last; ++j) {
      __m128d cj = _mm_set1_pd(c[j]), sj = _mm_set1_pd(s[j]);
      __m128d q01 = _mm_set_pd(r1[j + 1], r0[j + 1]);
      __m128d q23 = _mm_set_pd(r3[j + 1], r2[j + 1]);
      __m128d n01 = _mm_add_pd(_mm_mul_pd(p01, cj), _mm_mul_pd(q01, sj));
      __m128d n23 = _mm_add_pd(_mm_mul_pd(p23, cj), _mm_mul_pd(q23, sj));
      p01 = _mm_sub_pd(_mm_mul_pd(q01, cj), _mm_mul_pd(p01, sj));
      p23 = _mm_sub_pd(_mm_mul_pd(q23, cj), _mm_mul_pd(p23, sj));
      _mm_storel_pd(r0 + j, n01);
      _mm_storeh_pd(r1 + j, n01);
      _mm_storel_pd(r2 + j, n23);
      _mm_storeh_pd(r3 + j, n23);
    }
    _mm_storel_pd(r0 + last + 1, p01);
    _mm_storeh_pd(r1 + last + 1, p01);
    _mm_storel_pd(r2 + last + 1, p23);
    _mm_storeh_pd(r3 + last + 1, p23);
  }
#endif
  for (; r < rows; ++r) {
    double* row = a + r * stride;
    double p = row[first];
    for (int j = first; j <= last; ++j) {
      double q = row[j + 1];
      row[j] = p * c[j] + q * s[j];
      p = q * c[j] - p * s[j];
    }
    row[last + 1] = p;
  }
}

}  // namespace

bool nr_svdcmp(double* a, int m, int n, size_t aStride, double* w, double* v, size_t vStride) {
  if (n <= 0) return true;
  auto A = [a, aStride](int r, int c) -> double& { return a[r * aStride + c]; };
  auto V = [v, vStride](int r, int c) -> double& { return v[r * vStride + c]; };
  // rv1, a row of sums, and the rotations of one sweep (cosines and sines
  // for V and for A, or the cancelling rotations with their columns).
  AlignedBuffer<double> work;
  work.Allocate(6 * static_cast<uint64_t>(n));
  double* rv1 = work.data;
  double* sums = rv1 + n;
  double* cv = sums + n;
  double* sv = cv + n;
  double* ca = sv + n;
  double* sa = ca + n;

  double g = 0.0, scale = 0.0, anorm = 0.0, s, f, h;
  int l = 0;
  // Householder reduction to bidiagonal form.
  for (int i = 0; i < n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = s = scale = 0.0;
    if (i < m) {
      for (int k = i; k < m; ++k) scale += std::fabs(A(k, i));
      if (scale != 0.0) {
        for (int k = i; k < m; ++k) {
          A(k, i) /= scale;
          s += A(k, i) * A(k, i);
        }
        f = A(i, i);
        g = -Sign(std::sqrt(s), f);
        h = f * g - s;
        A(i, i) = f - g;
        // Column sums and updates run along the rows (each element sees the
        // same operations in the same order as column by column).
        ColumnSums(a, aStride, i, i, m, l, n, sums);
        for (int j = l; j < n; ++j) sums[j] = sums[j] / h;
        ColumnUpdates(a, aStride, i, i, m, l, n, sums);
        for (int k = i; k < m; ++k) A(k, i) *= scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i < m && i != n - 1) {
      for (int k = l; k < n; ++k) scale += std::fabs(A(i, k));
      if (scale != 0.0) {
        for (int k = l; k < n; ++k) {
          A(i, k) /= scale;
          s += A(i, k) * A(i, k);
        }
        f = A(i, l);
        g = -Sign(std::sqrt(s), f);
        h = f * g - s;
        A(i, l) = f - g;
        for (int k = l; k < n; ++k) rv1[k] = A(i, k) / h;
        RowUpdates(a, aStride, i, l, m, n, rv1);
        for (int k = l; k < n; ++k) A(i, k) *= scale;
      }
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  // Accumulation of the right-hand transformations.
  l = n;
  for (int i = n - 1; i >= 0; --i) {
    if (i < n - 1) {
      if (g != 0.0) {
        // Double division against underflow.
        for (int j = l; j < n; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;
        for (int j = l; j < n; ++j) sums[j] = 0.0;
        for (int k = l; k < n; ++k) {
          double aik = A(i, k);
          const double* vk = &V(k, 0);
          for (int j = l; j < n; ++j) sums[j] += aik * vk[j];
        }
        for (int k = l; k < n; ++k) {
          double* vk = &V(k, 0);
          double vki = vk[i];
          for (int j = l; j < n; ++j) vk[j] += sums[j] * vki;
        }
      }
      for (int j = l; j < n; ++j) V(i, j) = V(j, i) = 0.0;
    }
    V(i, i) = 1.0;
    g = rv1[i];
    l = i;
  }
  // Accumulation of the left-hand transformations.
  for (int i = std::min(m, n) - 1; i >= 0; --i) {
    l = i + 1;
    g = w[i];
    for (int j = l; j < n; ++j) A(i, j) = 0.0;
    if (g != 0.0) {
      g = 1.0 / g;
      ColumnSums(a, aStride, i, l, m, l, n, sums);
      for (int j = l; j < n; ++j) sums[j] = (sums[j] / A(i, i)) * g;
      ColumnUpdates(a, aStride, i, i, m, l, n, sums);
      for (int j = i; j < m; ++j) A(j, i) *= g;
    } else {
      for (int j = i; j < m; ++j) A(j, i) = 0.0;
    }
    A(i, i) += 1.0;
  }
  // Diagonalisation of the bidiagonal form.
  bool converged = true;
  for (int k = n - 1; k >= 0; --k) {
    for (int its = 0;; ++its) {
      bool cancel = true;
      int nm = 0;
      for (l = k; l >= 0; --l) {
        nm = l - 1;
        // rv1[0] is always 0, so l = 0 always splits; stopping there also
        // keeps non-finite input from reading in front of w.
        if (l == 0 || std::fabs(rv1[l]) + anorm == anorm) {
          cancel = false;
          break;
        }
        if (std::fabs(w[nm]) + anorm == anorm) break;
      }
      if (cancel) {
        double c = 0.0;
        s = 1.0;
        int last = l;  // rotations of columns (nm, i) for i = l .. last - 1
        for (int i = l; i <= k; ++i) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = Pythag(f, g);
          w[i] = h;
          c = g / h;
          s = -f / h;
          ca[i] = c;
          sa[i] = s;
          last = i + 1;
        }
        for (int j = 0; j < m; ++j) {
          double* row = &A(j, 0);
          for (int i = l; i < last; ++i) {
            double y = row[nm], z = row[i];
            row[nm] = y * ca[i] + z * sa[i];
            row[i] = z * ca[i] - y * sa[i];
          }
        }
      }
      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          for (int j = 0; j < n; ++j) V(j, k) = -V(j, k);
        }
        break;
      }
      if (its == 30) {
        platform::ConsolePrintf(stderr, "no convergence in 30 nr_svdcmp iterations\n");
        converged = false;
        break;
      }
      // Shift from the bottom 2 × 2 minor.
      double x = w[l];
      nm = k - 1;
      double y = w[nm];
      g = rv1[nm];
      h = rv1[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = Pythag(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + Sign(g, f))) - h)) / x;
      // One QR sweep.
      double c = 1.0;
      s = 1.0;
      for (int j = l; j <= nm; ++j) {
        int i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = Pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        cv[j] = c;
        sv[j] = s;
        z = Pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          c = f / z;
          s = h / z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        ca[j] = c;
        sa[j] = s;
      }
      // The sweep's rotations, row by row in the order they were made.
      RotateRows(v, vStride, n, l, nm, cv, sv);
      RotateRows(a, aStride, m, l, nm, ca, sa);
      rv1[l] = 0.0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  return converged;
}

bool Matrix::SVD(Vector& w, Matrix& V, const Matrix& A) {
  if (this != &A) *this = A;
  uint32_t n = cols_;
  if (V.rows_ != n || V.cols_ != n) V.Resize(n, n);
  if (w.Size() != n) w.Resize(n);
  return nr_svdcmp(storage_.data, static_cast<int>(rows_), static_cast<int>(n), stride_, w.Data(),
                   V.storage_.data, V.stride_);
}
