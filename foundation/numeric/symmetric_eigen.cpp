#include "foundation/numeric/symmetric_eigen.h"

#include <cmath>
#include <cstdio>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/pythag.h"
#include "platform/console.h"

namespace {

using numeric::Pythag;
using numeric::Sign;

// Sweeps allowed on one eigenvalue after the message, so that input that
// never converges (non-finite values) cannot keep the loop going for ever.
constexpr int kMaxSweeps = 30 + 270;

}  // namespace

void HouseholderTridiagonalize(size_t stride, double* a, int n, double* d, double* e) {
  if (n <= 0) return;
  auto A = [a, stride](int r, int c) -> double& { return a[r * stride + c]; };
  for (int i = n - 1; i >= 1; --i) {
    int l = i - 1;
    double h = 0.0, scale = 0.0;
    if (l > 0) {
      for (int k = 0; k <= l; ++k) scale += std::fabs(A(i, k));
      if (scale == 0.0) {
        e[i] = A(i, l);
      } else {
        for (int k = 0; k <= l; ++k) {
          A(i, k) /= scale;
          h += A(i, k) * A(i, k);
        }
        double f = A(i, l);
        double g = -Sign(std::sqrt(h), f);
        e[i] = scale * g;
        h -= f * g;
        A(i, l) = f - g;
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          A(j, i) = A(i, j) / h;
          g = 0.0;
          for (int k = 0; k <= j; ++k) g += A(j, k) * A(i, k);
          for (int k = j + 1; k <= l; ++k) g += A(k, j) * A(i, k);
          e[j] = g / h;
          f += e[j] * A(i, j);
        }
        double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) {
          f = A(i, j);
          e[j] = g = e[j] - hh * f;
          for (int k = 0; k <= j; ++k) A(j, k) -= (f * e[k] + g * A(i, k));
        }
      }
    } else {
      e[i] = A(i, l);
    }
    d[i] = h;
  }
  d[0] = 0.0;
  e[0] = 0.0;
  for (int i = 0; i < n; ++i) {
    if (d[i] != 0.0) {
      for (int j = 0; j < i; ++j) {
        double g = 0.0;
        for (int k = 0; k < i; ++k) g += A(i, k) * A(k, j);
        // Unsigned index: GCC 12 at -O3 misreads the signed form of this loop.
        for (size_t k = 0; k < static_cast<size_t>(i); ++k)
          a[k * stride + j] -= g * a[k * stride + i];
      }
    }
    d[i] = A(i, i);
    A(i, i) = 1.0;
    for (int j = 0; j < i; ++j) A(j, i) = A(i, j) = 0.0;
  }
}

bool nr_tqli(double* d, double* e, double* z, size_t zStride, int n) {
  if (n <= 0) return true;
  auto Z = [z, zStride](int r, int c) -> double& { return z[r * zStride + c]; };
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0.0;
  bool converged = true;
  for (int l = 0; l < n; ++l) {
    int iter = 0;
    int m;
    do {
      for (m = l; m < n - 1; ++m) {
        double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
        if (std::fabs(e[m]) + dd == dd) break;
      }
      if (m == l) break;
      if (iter == kMaxSweeps) {
        converged = false;
        break;
      }
      if (iter++ == 30) platform::ConsolePrintf(stderr, "Too many iterations in nr_tqli\n");
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = Pythag(g, 1.0);
      g = d[m] - d[l] + e[l] / (g + Sign(r, g));
      double s = 1.0, c = 1.0, p = 0.0;
      int i;
      for (i = m - 1; i >= l; --i) {
        double f = s * e[i];
        double b = c * e[i];
        e[i + 1] = (r = Pythag(f, g));
        if (r == 0.0) {
          d[i + 1] -= p;
          e[m] = 0.0;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        d[i + 1] = g + (p = s * r);
        g = c * r - b;
        for (int k = 0; k < n; ++k) {
          f = Z(k, i + 1);
          Z(k, i + 1) = s * Z(k, i) + c * f;
          Z(k, i) = c * Z(k, i) - s * f;
        }
      }
      if (r == 0.0 && i >= l) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    } while (m != l);
  }
  return converged;
}

bool Matrix::SymmetricEigen(Vector& d, const Matrix& A) {
  if (this != &A) *this = A;
  uint32_t n = rows_;
  if (d.Size() != n) d.Resize(n);
  AlignedBuffer<double> e;
  e.Allocate(n);
  HouseholderTridiagonalize(stride_, storage_.data, static_cast<int>(n), d.Data(), e.data);
  return nr_tqli(d.Data(), e.data, storage_.data, stride_, static_cast<int>(n));
}
