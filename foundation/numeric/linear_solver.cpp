#include "foundation/numeric/linear_solver.h"

#include <cmath>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/dense_kernels.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"

namespace {

inline void Swap(double** rows, int i, int j) {
  double* t = rows[i];
  rows[i] = rows[j];
  rows[j] = t;
}

// Row among first..n-1 with the largest |row[c]|; the first wins on ties.
inline int PivotRow(double** rows, int first, int n, int c) {
  int best = first;
  double bestValue = std::fabs(rows[first][c]);
  for (int r = first + 1; r < n; ++r) {
    double v = std::fabs(rows[r][c]);
    if (v > bestValue) {
      bestValue = v;
      best = r;
    }
  }
  return best;
}

// row[j] -= (row[c] / p[c])·p[j] for first <= j < width.
inline void Reduce(double* row, const double* p, int c, int first, int width) {
  ScaleAddVector(p + first, -(row[c] / p[c]), row + first, row + first, width - first);
}

}  // namespace

bool GaussEliminate(double** rows, int width, int n) {
  int c = 0;
  // Pairs of columns while at least three rows take part.
  for (; c + 2 < n; c += 2) {
    int q = PivotRow(rows, c, n, c);
    Swap(rows, c, q);
    const double* p1 = rows[c];
    if (p1[c] == 0.0) return false;
    // The next row completely, the others in column c + 1 only, so that the
    // pivot of column c + 1 can be chosen.
    Reduce(rows[c + 1], p1, c, c + 1, width);
    for (int r = c + 2; r < n; ++r) rows[r][c + 1] -= (rows[r][c] / p1[c]) * p1[c + 1];
    int q2 = PivotRow(rows, c + 1, n, c + 1);
    int displaced = -1;
    if (q2 != c + 1) {
      // The new pivot row still lacks column c's reduction beyond c + 1; the
      // displaced row has it and needs only column c + 1's.
      Reduce(rows[q2], p1, c, c + 2, width);
      Swap(rows, c + 1, q2);
      displaced = q2;
    }
    const double* p2 = rows[c + 1];
    if (p2[c + 1] == 0.0) return false;
    int first = c + 2;
    int len = width - first;
    for (int r = c + 2; r < n; ++r) {
      double* row = rows[r];
      double s2 = -(row[c + 1] / p2[c + 1]);
      if (r == displaced) {
        ScaleAddVector(p2 + first, s2, row + first, row + first, len);
      } else {
        double s1 = -(row[c] / p1[c]);
        ScaleAddVector2(p1 + first, s1, s2, row + first, row + first, p2 + first, len);
      }
    }
  }
  if (c + 2 == n) {
    // The last two columns: swap only for a strictly larger value.
    if (std::fabs(rows[c + 1][c]) > std::fabs(rows[c][c])) Swap(rows, c, c + 1);
    if (rows[c][c] == 0.0) return false;
    Reduce(rows[c + 1], rows[c], c, c + 1, width);
  }
  return true;
}

bool Vector::Solve(const Matrix& A, const Vector& b) {
  uint32_t n = b.Size();
  if (size_ < n) Resize(n);
  if (n == 0) return true;
  Matrix aug(n, n + 1);
  AlignedBuffer<double*> rows;
  rows.Allocate(n);
  for (uint32_t i = 0; i < n; ++i) {
    double* row = aug.Row(i);
    CopyRows(static_cast<int>(n), n, row, n, A.Row(i), 1);
    row[n] = b[i];
    rows.data[i] = row;
  }
  if (!GaussEliminate(rows.data, static_cast<int>(n + 1), static_cast<int>(n))) return false;
  double* x = storage_.data;
  for (int i = static_cast<int>(n) - 1; i >= 0; --i) {
    const double* r = rows.data[i];
    if (r[i] == 0.0) return false;
    double even = 0.0, odd = 0.0;
    int j = i + 1;
    for (; j + 1 < static_cast<int>(n); j += 2) {
      even += r[j] * x[j];
      odd += r[j + 1] * x[j + 1];
    }
    if (j < static_cast<int>(n)) even += r[j] * x[j];
    x[i] = (r[n] - (even + odd)) / r[i];
  }
  return true;
}

// ---------------------------------------------------------------------------
// Sweep inversion

namespace {

// Column k of the symmetric matrix read from its upper triangle.
inline void ReadColumn(const double* a, size_t stride, int n, int k, double* out) {
  for (int i = 0; i < k; ++i) out[i] = a[i * stride + k];
  for (int i = k; i < n; ++i) out[i] = a[k * stride + i];
}

inline double& Upper(double* a, size_t stride, int i, int j) {
  return i <= j ? a[i * stride + j] : a[j * stride + i];
}

}  // namespace

bool SweepInvertSymmetric(double* a, size_t stride, int n) {
  if (n <= 0) return true;
  AlignedBuffer<double> work;
  size_t m = static_cast<size_t>(n) + (n & 1);
  work.Allocate(4 * m);
  double* u = work.data;  // column k before its sweep
  double* p = u + m;      // u / dk
  double* w = p + m;      // column l after the sweep of k
  double* q = w + m;      // w / dl
  AlignedBuffer<unsigned char> swept;
  swept.Allocate(static_cast<uint32_t>(n));
  for (int i = 0; i < n; ++i) swept.data[i] = 0;

  int left = n;
  while (left >= 2) {
    // First pivot: largest |a[k][k]| > 0 among the unswept.
    int k = -1;
    double best = 0.0;
    for (int i = 0; i < n; ++i) {
      if (swept.data[i]) continue;
      double v = std::fabs(a[i * stride + i]);
      if (v > best) {
        best = v;
        k = i;
      }
    }
    if (k < 0) return false;
    ReadColumn(a, stride, n, k, u);
    double dk = u[k];
    for (int i = 0; i < n; ++i) p[i] = u[i] / dk;
    // Second pivot from the diagonal as the first sweep leaves it.
    int l = -1;
    best = 0.0;
    for (int i = 0; i < n; ++i) {
      if (swept.data[i] || i == k) continue;
      double v = std::fabs(a[i * stride + i] - u[i] * p[i]);
      if (v > best) {
        best = v;
        l = i;
      }
    }
    if (l < 0) return false;
    ReadColumn(a, stride, n, l, w);
    for (int i = 0; i < n; ++i) w[i] -= u[i] * p[l];
    w[k] = p[l];
    double dl = w[l];
    for (int i = 0; i < n; ++i) q[i] = w[i] / dl;

    // Rank-two update of the upper triangle; the entries of rows and
    // columns k and l are overwritten below.
    for (int i = 0; i < n; ++i) {
      if (i == k || i == l) continue;
      double* row = a + i * stride;
      ScaleAddVector2(p + i, -u[i], -w[i], row + i, row + i, q + i, n - i);
    }
    for (int i = 0; i < n; ++i) {
      if (i == k || i == l) continue;
      Upper(a, stride, i, k) = p[i] - w[i] * q[k];
      Upper(a, stride, i, l) = q[i];
    }
    Upper(a, stride, k, k) = -1.0 / dk - p[l] * q[k];
    Upper(a, stride, k, l) = q[k];
    Upper(a, stride, l, l) = -1.0 / dl;
    swept.data[k] = swept.data[l] = 1;
    left -= 2;
  }
  if (left == 1) {
    int k = 0;
    while (swept.data[k]) ++k;
    ReadColumn(a, stride, n, k, u);
    double dk = u[k];
    if (dk == 0.0) return false;
    for (int i = 0; i < n; ++i) p[i] = u[i] / dk;
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      double* row = a + i * stride;
      ScaleAddVector(p + i, -u[i], row + i, row + i, n - i);
    }
    for (int i = 0; i < n; ++i) {
      if (i != k) Upper(a, stride, i, k) = p[i];
    }
    Upper(a, stride, k, k) = -1.0 / dk;
  }
  // The upper triangle holds -A⁻¹: negate and mirror.
  for (int i = 0; i < n; ++i) {
    double* row = a + i * stride;
    for (int j = i; j < n; ++j) {
      row[j] = -row[j];
      a[j * stride + i] = row[j];
    }
  }
  return true;
}

bool Matrix::InvertSymmetric(const Matrix& A) {
  if (this != &A) *this = A;
  return SweepInvertSymmetric(storage_.data, stride_, static_cast<int>(A.cols_));
}
