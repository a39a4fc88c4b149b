#include "foundation/numeric/small_eigen.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "foundation/numeric/root_solver.h"

namespace {

double Dot4(const Vector4& a, const Vector4& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
}

// Divides by the length when the squared length is > 0; otherwise unchanged.
void Normalize4(Vector4& v) {
  const double q = Dot4(v, v);
  if (q > 0.0) {
    const double len = std::sqrt(q);
    for (double& e : v.v) e /= len;
  }
}

void Normalize3(vm::Vector3& v) {
  const double q = v.SquaredLength();
  if (q > 0.0) {
    const double len = std::sqrt(q);
    v = {v.x / len, v.y / len, v.z / len};
  }
}

// The unit vector orthogonal to three 4-vectors, from their 3 × 3 minors.
Vector4 Cross4(const Vector4& a, const Vector4& b, const Vector4& c) {
  auto minor = [&](int i, int j, int k) {
    return a[i] * (b[j] * c[k] - b[k] * c[j]) - a[j] * (b[i] * c[k] - b[k] * c[i]) +
           a[k] * (b[i] * c[j] - b[j] * c[i]);
  };
  Vector4 r = {{minor(1, 2, 3), -minor(0, 2, 3), minor(0, 1, 3), -minor(0, 1, 2)}};
  Normalize4(r);
  return r;
}

// A vector orthogonal to u (of u's length times the sine of its angle to
// the axis of u's smallest component), built from that component.
vm::Vector3 OrthogonalVector3(const vm::Vector3& u) {
  const double ax = std::fabs(u.x), ay = std::fabs(u.y), az = std::fabs(u.z);
  if (ax < ay && ax < az) return {0.0, u.z, -u.y};
  if (ay < ax && ay < az) return {u.z, 0.0, -u.x};
  // x and y tie at zero for a vector along z, where the z rule would give
  // the zero vector; the x rule gives a proper one.
  if (u.x == 0.0 && u.y == 0.0) return {0.0, u.z, -u.y};
  return {u.y, -u.x, 0.0};
}

vm::Vector3 Column3(const Matrix3x3& M, int j) {
  return {M[0][j], M[1][j], M[2][j]};
}
void SetColumn3(Matrix3x3& M, int j, const vm::Vector3& v) {
  M[0][j] = v.x;
  M[1][j] = v.y;
  M[2][j] = v.z;
}
Vector4 Column4(const Matrix4x4& M, int j) {
  return {{M[0][j], M[1][j], M[2][j], M[3][j]}};
}
void SetColumn4(Matrix4x4& M, int j, const Vector4& v) {
  for (int i = 0; i < 4; ++i) M[i][j] = v[i];
}

// A null vector that loses at least half its squared length when the
// eigenvectors already found are removed from it repeats their directions:
// a multiple eigenvalue that rounding split into close values gives nearly
// the same null vector for each of them.
bool IsRepeat(double remaining, double original) {
  return remaining <= 0.5 * original;
}

// The column for an eigenvector found from values[i]: i itself, or the next
// free one when a repeated value already filled it.
int NextFreeSlot(const bool* have, int n, int i) {
  for (int k = 0; k < n; ++k)
    if (!have[(i + k) % n]) return (i + k) % n;
  return i;
}

void RemoveComponents(Vector4& v, const Vector4* e, const bool* have) {
  for (int c = 0; c < 4; ++c) {
    if (!have[c]) continue;
    const double s = Dot4(e[c], v);
    for (int t = 0; t < 4; ++t) v[t] -= s * e[c][t];
  }
}

}  // namespace

void SortByMagnitudeDescending(double* values, int n) {
  for (int i = 0; i < n; ++i) {
    int best = i;
    for (int j = i + 1; j < n; ++j)
      if (std::fabs(values[j]) > std::fabs(values[best])) best = j;
    std::swap(values[i], values[best]);
  }
}

void SymmetricEigenvalues3x3(double* values, const Matrix3x3& A) {
  const double* a = A.m;
  const double trace = a[0] + a[4] + a[8];
  const double minors =
      (a[0] * a[4] - a[1] * a[3]) + (a[0] * a[8] - a[2] * a[6]) + (a[4] * a[8] - a[5] * a[7]);
  const double det = a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
                     a[2] * (a[3] * a[7] - a[4] * a[6]);
  const int n = SolveCubicMonic(values, -trace, minors, -det, true);
  SortByMagnitudeDescending(values, n);
  for (int i = n; i < 3; ++i) values[i] = 0.0;
}

void SymmetricEigenvalues4x4(double* values, const Matrix4x4& A) {
  auto e = [&](int i, int j) { return A[i][j]; };
  const double trace = e(0, 0) + e(1, 1) + e(2, 2) + e(3, 3);
  // Sums of the principal 2 × 2 and 3 × 3 minors.
  double m2 = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) m2 += e(i, i) * e(j, j) - e(i, j) * e(j, i);
  auto det3 = [&](int i, int j, int k) {
    return e(i, i) * (e(j, j) * e(k, k) - e(j, k) * e(k, j)) -
           e(i, j) * (e(j, i) * e(k, k) - e(j, k) * e(k, i)) +
           e(i, k) * (e(j, i) * e(k, j) - e(j, j) * e(k, i));
  };
  const double m3 = det3(1, 2, 3) + det3(0, 2, 3) + det3(0, 1, 3) + det3(0, 1, 2);
  // Determinant by expansion along the first row.
  auto minor0 = [&](int skip) {
    int c[3];
    for (int j = 0, k = 0; j < 4; ++j)
      if (j != skip) c[k++] = j;
    return e(1, c[0]) * (e(2, c[1]) * e(3, c[2]) - e(2, c[2]) * e(3, c[1])) -
           e(1, c[1]) * (e(2, c[0]) * e(3, c[2]) - e(2, c[2]) * e(3, c[0])) +
           e(1, c[2]) * (e(2, c[0]) * e(3, c[1]) - e(2, c[1]) * e(3, c[0]));
  };
  const double det =
      e(0, 0) * minor0(0) - e(0, 1) * minor0(1) + e(0, 2) * minor0(2) - e(0, 3) * minor0(3);
  const int n = SolveQuarticMonic(values, -trace, m2, -m3, det, true);
  SortByMagnitudeDescending(values, n);
  for (int i = n; i < 4; ++i) values[i] = 0.0;
}

void Matrix2x2::SymmetricEigen(double* values, const Matrix2x2& A) {
  const double a = A.m[0], b = A.m[1], d = A.m[3];
  const double mean = (a + d) / 2.0;
  const double D = mean * mean - a * d + b * b;
  double r = D > 0.0 ? std::sqrt(D) : 0.0;
  if (mean > 0.0) r = -r;
  values[0] = mean - r;
  values[1] = mean + r;
  const double l = values[0];
  const double f = (a - l) * (a - l) + b * b;
  const double g = (d - l) * (d - l) + b * b;
  double p, q;
  if (f > g) {
    const double s = std::sqrt(f);
    p = b / s;
    q = -(a - l) / s;
  } else if (g > 0.0) {
    const double s = std::sqrt(g);
    p = (d - l) / s;
    q = -b / s;
  } else {
    p = 1.0;
    q = 0.0;
  }
  m[0] = p;
  m[1] = -q;
  m[2] = q;
  m[3] = p;
}

int NullSpace2x2(double tol, vm::Vector2* out, const Matrix2x2& M) {
  const double* a = M.m;
  if (tol > a[0] * a[0] + a[1] * a[1] + a[2] * a[2] + a[3] * a[3]) {
    out[0] = {1.0, 0.0};
    out[1] = {0.0, 1.0};
    return 2;
  }
  // Each is orthogonal to one row; their sum or difference is the better
  // conditioned of the two.
  const vm::Vector2 u{a[3], -a[2]};
  const vm::Vector2 w{a[1], -a[0]};
  out[0] = u.Dot(w) > 0.0 ? u + w : w - u;
  return 1;
}

int NullSpace3x3(vm::Vector3* out, const Matrix3x3& M, double tol) {
  int top = 0;
  double norm = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double q = M[i][0] * M[i][0] + M[i][1] * M[i][1] + M[i][2] * M[i][2];
    if (i == 0 || q > norm) {
      top = i;
      norm = q;
    }
  }
  if (tol > norm) {
    out[0] = {1.0, 0.0, 0.0};
    out[1] = {0.0, 1.0, 0.0};
    out[2] = {0.0, 0.0, 1.0};
    return 3;
  }
  const double len = std::sqrt(norm);
  const vm::Vector3 n{M[top][0] / len, M[top][1] / len, M[top][2] / len};
  const vm::Vector3 b0 = OrthogonalVector3(n);
  const vm::Vector3 b1 = n.Cross(b0);
  Matrix2x2 P;
  for (int i = 0, k = 0; i < 3; ++i) {
    if (i == top) continue;
    const vm::Vector3 r{M[i][0], M[i][1], M[i][2]};
    P[k][0] = r.Dot(b0);
    P[k][1] = r.Dot(b1);
    ++k;
  }
  vm::Vector2 c[2];
  const int k = NullSpace2x2(norm * 1e-20, c, P);
  for (int j = 0; j < k; ++j) out[j] = b0 * c[j].x + b1 * c[j].y;
  return k;
}

int NullSpace4x4(double tol, Vector4* out, const Matrix4x4& M) {
  int top = 0;
  double norm = 0.0;
  for (int i = 0; i < 4; ++i) {
    const double q = M[i][0] * M[i][0] + M[i][1] * M[i][1] + M[i][2] * M[i][2] + M[i][3] * M[i][3];
    if (i == 0 || q > norm) {
      top = i;
      norm = q;
    }
  }
  if (tol > norm) {
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) out[j][i] = (i == j) ? 1.0 : 0.0;
    return 4;
  }
  const double len = std::sqrt(norm);
  const double x = M[top][0] / len, y = M[top][1] / len, z = M[top][2] / len, w = M[top][3] / len;
  const Vector4 b[3] = {{{y, -x, w, -z}}, {{z, -w, -x, y}}, {{w, z, -y, -x}}};
  Matrix3x3 P;
  for (int i = 0, k = 0; i < 4; ++i) {
    if (i == top) continue;
    const Vector4 r = {{M[i][0], M[i][1], M[i][2], M[i][3]}};
    for (int j = 0; j < 3; ++j) P[k][j] = Dot4(r, b[j]);
    ++k;
  }
  vm::Vector3 c[3];
  const int k = NullSpace3x3(c, P, norm * 1e-20);
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < 4; ++i) out[j][i] = c[j].x * b[0][i] + c[j].y * b[1][i] + c[j].z * b[2][i];
  return k;
}

int Vector4::SetNullVector(const Matrix4x4& A) {
  Vector4 out[4];
  const int k = NullSpace4x4(1e-40, out, A);
  *this = out[0];
  Normalize4(*this);
  return k;
}

void OrthogonalVector4(const Vector4& a, const Vector4& b, Vector4& out) {
  auto m = [&](int i, int j) { return a[i] * b[j] - a[j] * b[i]; };
  const Vector4 v[4] = {{{0.0, -m(2, 3), m(1, 3), -m(1, 2)}},
                        {{-m(2, 3), 0.0, m(0, 3), -m(0, 2)}},
                        {{-m(1, 3), m(0, 3), 0.0, -m(0, 1)}},
                        {{-m(1, 2), m(0, 2), -m(0, 1), 0.0}}};
  Vector4 sum = v[0];
  for (int k = 1; k < 4; ++k) {
    const double s = Dot4(v[k], sum) > 0.0 ? 1.0 : -1.0;
    for (int i = 0; i < 4; ++i) sum[i] += s * v[k][i];
  }
  out = sum;
}

void Matrix3x3::SymmetricEigen(double* values, const Matrix3x3& A) {
  SymmetricEigenvalues3x3(values, A);
  vm::Vector3 e[3];
  bool have[3] = {false, false, false};
  int found = 0;
  for (int i = 0; i < 3 && found < 2; ++i) {
    Matrix3x3 B = A;
    for (int d = 0; d < 3; ++d) B[d][d] -= values[i];
    vm::Vector3 null[3];
    const int k = NullSpace3x3(null, B, 1e-40);
    for (int j = 0; j < k && found < 2; ++j) {
      const vm::Vector3 n = null[j];
      vm::Vector3 v = n;
      for (int c = 0; c < 3; ++c)
        if (have[c]) v -= e[c] * e[c].Dot(v);
      if (IsRepeat(v.SquaredLength(), n.SquaredLength())) continue;
      Normalize3(v);
      const int slot = NextFreeSlot(have, 3, i);
      e[slot] = v;
      have[slot] = true;
      ++found;
    }
  }
  // Too few directions (a multiple eigenvalue split by rounding): any unit
  // vector orthogonal to the one found completes the basis.
  if (found == 0) {  // only for input that is not finite
    e[0] = {1.0, 0.0, 0.0};
    have[0] = true;
    found = 1;
  }
  if (found == 1) {
    const int only = have[0] ? 0 : (have[1] ? 1 : 2);
    vm::Vector3 v = OrthogonalVector3(e[only]);
    Normalize3(v);
    const int slot = NextFreeSlot(have, 3, 0);
    e[slot] = v;
    have[slot] = true;
  }
  // The last column is the cross product of the other two in cyclic order,
  // which makes the matrix a proper rotation.
  const int last = NextFreeSlot(have, 3, 0);
  e[last] = e[(last + 1) % 3].Cross(e[(last + 2) % 3]);
  for (int j = 0; j < 3; ++j) SetColumn3(*this, j, e[j]);
}

void Matrix4x4::SymmetricEigen(double* values, const Matrix4x4& A) {
  SymmetricEigenvalues4x4(values, A);
  Vector4 e[4];
  bool have[4] = {false, false, false, false};
  int found = 0;
  for (int i = 0; i < 4 && found < 3; ++i) {
    Matrix4x4 B = A;
    for (int d = 0; d < 4; ++d) B[d][d] -= values[i];
    Vector4 null[4];
    const int k = NullSpace4x4(1e-40, null, B);
    for (int j = 0; j < k && found < 3; ++j) {
      Vector4 v = null[j];
      RemoveComponents(v, e, have);
      if (IsRepeat(Dot4(v, v), Dot4(null[j], null[j]))) continue;
      Normalize4(v);
      const int slot = NextFreeSlot(have, 4, i);
      e[slot] = v;
      have[slot] = true;
      ++found;
    }
  }
  // Too few directions: complete with the unit axes that keep the most
  // length after removing the directions found.
  while (found < 3) {
    Vector4 best{};
    double best_q = -1.0;
    for (int axis = 0; axis < 4; ++axis) {
      Vector4 v{};
      v[axis] = 1.0;
      RemoveComponents(v, e, have);
      const double q = Dot4(v, v);
      if (q > best_q) {
        best_q = q;
        best = v;
      }
    }
    Normalize4(best);
    const int slot = NextFreeSlot(have, 4, 0);
    e[slot] = best;
    have[slot] = true;
    ++found;
  }
  const int last = NextFreeSlot(have, 4, 0);
  Vector4 rest[3];
  for (int j = 0, k = 0; j < 4; ++j)
    if (j != last) rest[k++] = e[j];
  e[last] = Cross4(rest[0], rest[1], rest[2]);
  for (int j = 0; j < 4; ++j) SetColumn4(*this, j, e[j]);
}

void Matrix3x3::SVD(double* s, Matrix3x3& V, const Matrix3x3& A) {
  Matrix3x3 N;
  N.MultiplyAtB(A, A);
  V.SymmetricEigen(s, N);
  Multiply(A, V);
  const double bound = s[0] > 0.0 ? s[0] * 1e-13 : 0.0;
  int r = 0;
  while (r < 3 && s[r] > bound) {
    s[r] = std::sqrt(s[r]);
    for (int i = 0; i < 3; ++i) (*this)[i][r] /= s[r];
    ++r;
  }
  if (r == 0) {
    SetColumn3(*this, 0, {1.0, 0.0, 0.0});
    s[0] = 0.0;
  }
  if (r <= 1) {
    vm::Vector3 u = OrthogonalVector3(Column3(*this, 0));
    Normalize3(u);
    SetColumn3(*this, 1, u);
    s[1] = 0.0;
  }
  if (r <= 2) {
    SetColumn3(*this, 2, Column3(*this, 0).Cross(Column3(*this, 1)));
    s[2] = 0.0;
  }
}

void Matrix4x4::SVD(double* s, Matrix4x4& V, const Matrix4x4& A) {
  Matrix4x4 N;
  N.MultiplyAtB(A, A);
  V.SymmetricEigen(s, N);
  Multiply(A, V);
  const double bound = s[0] > 0.0 ? s[0] * 1e-13 : 0.0;
  int r = 0;
  while (r < 4 && s[r] > bound) {
    s[r] = std::sqrt(s[r]);
    for (int i = 0; i < 4; ++i) (*this)[i][r] /= s[r];
    ++r;
  }
  if (r == 0) {
    SetColumn4(*this, 0, {{1.0, 0.0, 0.0, 0.0}});
    s[0] = 0.0;
  }
  if (r <= 1) {
    const Vector4 u = Column4(*this, 0);
    SetColumn4(*this, 1, {{-u[1], u[0], -u[3], u[2]}});
    s[1] = 0.0;
  }
  if (r <= 2) {
    Vector4 w;
    OrthogonalVector4(Column4(*this, 0), Column4(*this, 1), w);
    Normalize4(w);
    SetColumn4(*this, 2, w);
    s[2] = 0.0;
  }
  if (r <= 3) {
    SetColumn4(*this, 3, Cross4(Column4(*this, 0), Column4(*this, 1), Column4(*this, 2)));
    s[3] = 0.0;
  }
}

namespace {

// Copies column j of the eigenvector matrix V (n × n, row-major with rows of
// n) into x.
void TakeColumn(Vector& x, const double* V, uint32_t n, uint32_t j) {
  x.Resize(n);
  for (uint32_t i = 0; i < n; ++i) x[i] = V[i * n + j];
}

}  // namespace

bool SolveHomogeneousLeastSquares(Vector* x1, Vector* x2, const Matrix& A) {
  const uint32_t n = A.Cols();
  if (n < 2) return false;
  if (!x1) std::swap(x1, x2);
  if (!x1) return true;

  if (n <= 4) {
    // AᵀA straight into a fixed-size matrix, then its eigenvectors; the
    // values are non-negative, so the last columns belong to the smallest.
    double values[4];
    double eigen[16];
    if (n == 2) {
      Matrix2x2 N, V;
      Matrix overlay(N.m, 2, 2, 2);
      overlay.MultiplyAtB(A, A);
      V.SymmetricEigen(values, N);
      std::copy(V.m, V.m + 4, eigen);
    } else if (n == 3) {
      Matrix3x3 N, V;
      Matrix overlay(N.m, 3, 3, 3);
      overlay.MultiplyAtB(A, A);
      V.SymmetricEigen(values, N);
      std::copy(V.m, V.m + 9, eigen);
    } else {
      Matrix4x4 N, V;
      Matrix overlay(N.m, 4, 4, 4);
      overlay.MultiplyAtB(A, A);
      V.SymmetricEigen(values, N);
      std::copy(V.m, V.m + 16, eigen);
    }
    TakeColumn(*x1, eigen, n, n - 1);
    if (x2) TakeColumn(*x2, eigen, n, n - 2);
    return true;
  }

  Matrix N;
  N.MultiplyAtB(A, A);
  // Symmetric elimination of n − 4 variables. p[i] is the row and column of
  // N at position i.
  std::vector<uint32_t> p(n);
  for (uint32_t i = 0; i < n; ++i) p[i] = i;
  auto at = [&](uint32_t i, uint32_t j) -> double& { return N(p[i], p[j]); };
  double product = 1.0;
  for (uint32_t k = 0; k + 4 < n; ++k) {
    uint32_t best = k + 1;
    for (uint32_t i = k + 2; i < n; ++i)
      if (std::fabs(at(i, i)) > std::fabs(at(best, best))) best = i;
    std::swap(p[k], p[best]);
    const double pivot = at(k, k);
    product *= std::fabs(pivot);
    if (!(product > 0.0)) return false;
    for (uint32_t i = k + 1; i < n; ++i) {
      const double f = at(i, k) / pivot;
      for (uint32_t j = k + 1; j < n; ++j) at(i, j) -= f * at(k, j);
    }
  }
  // The remaining 4 × 4 block.
  Matrix4x4 S, V;
  for (uint32_t a = 0; a < 4; ++a)
    for (uint32_t b = 0; b < 4; ++b) S[a][b] = at(n - 4 + a, n - 4 + b);
  double values[4];
  V.SymmetricEigen(values, S);

  auto solve = [&](Vector& x, int column) {
    x.Resize(n);
    for (uint32_t j = n - 4; j < n; ++j) x[p[j]] = V[j - (n - 4)][column];
    for (uint32_t i = n - 4; i-- > 0;) {
      double s = 0.0;
      for (uint32_t j = i + 1; j < n; ++j) s += at(i, j) * x[p[j]];
      x[p[i]] = -s / at(i, i);
    }
    double q = 0.0;
    for (uint32_t i = 0; i < n; ++i) q += x[i] * x[i];
    if (!(q > 0.0)) return false;
    const double len = std::sqrt(q);
    for (uint32_t i = 0; i < n; ++i) x[i] /= len;
    return true;
  };
  if (!solve(*x1, 3)) return false;
  if (x2 && !solve(*x2, 2)) return false;
  return true;
}
