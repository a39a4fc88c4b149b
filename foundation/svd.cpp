#include "foundation/svd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "foundation/aligned_buffer.h"
#include "foundation/dense_matrix.h"
#include "foundation/dense_vector.h"

namespace {

// √(a² + b²) without overflow.
inline double Pythag(double a, double b) {
  double absa = std::fabs(a), absb = std::fabs(b);
  if (absa > absb) {
    double t = absb / absa;
    return absa * std::sqrt(1.0 + t * t);
  }
  if (absb == 0.0) return 0.0;
  double t = absa / absb;
  return absb * std::sqrt(1.0 + t * t);
}

// |a| with the sign of b (b ≥ 0 gives +).
inline double Sign(double a, double b) {
  return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

}  // namespace

bool nr_svdcmp(double* a, int m, int n, size_t aStride, double* w, double* v, size_t vStride) {
  if (n <= 0) return true;
  auto A = [a, aStride](int r, int c) -> double& { return a[r * aStride + c]; };
  auto V = [v, vStride](int r, int c) -> double& { return v[r * vStride + c]; };
  AlignedBuffer<double> work;
  work.Allocate(static_cast<uint32_t>(n));
  double* rv1 = work.data;

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
        for (int j = l; j < n; ++j) {
          s = 0.0;
          for (int k = i; k < m; ++k) s += A(k, i) * A(k, j);
          f = s / h;
          for (int k = i; k < m; ++k) A(k, j) += f * A(k, i);
        }
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
        for (int j = l; j < m; ++j) {
          s = 0.0;
          for (int k = l; k < n; ++k) s += A(j, k) * A(i, k);
          for (int k = l; k < n; ++k) A(j, k) += s * rv1[k];
        }
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
        for (int j = l; j < n; ++j) {
          s = 0.0;
          for (int k = l; k < n; ++k) s += A(i, k) * V(k, j);
          for (int k = l; k < n; ++k) V(k, j) += s * V(k, i);
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
      for (int j = l; j < n; ++j) {
        s = 0.0;
        for (int k = l; k < m; ++k) s += A(k, i) * A(k, j);
        f = (s / A(i, i)) * g;
        for (int k = i; k < m; ++k) A(k, j) += f * A(k, i);
      }
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
        for (int i = l; i <= k; ++i) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = Pythag(f, g);
          w[i] = h;
          c = g / h;
          s = -f / h;
          for (int j = 0; j < m; ++j) {
            double y = A(j, nm), z = A(j, i);
            A(j, nm) = y * c + z * s;
            A(j, i) = z * c - y * s;
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
        std::fputs("no convergence in 30 nr_svdcmp iterations\n", stderr);
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
        for (int r = 0; r < n; ++r) {
          double p = V(r, j), q = V(r, i);
          V(r, j) = p * c + q * s;
          V(r, i) = q * c - p * s;
        }
        z = Pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          c = f / z;
          s = h / z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        for (int r = 0; r < m; ++r) {
          double p = A(r, j), q = A(r, i);
          A(r, j) = p * c + q * s;
          A(r, i) = q * c - p * s;
        }
      }
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
