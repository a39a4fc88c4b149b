#include "foundation/numeric/fixed_matrix.h"

#include <cstring>

namespace {

// Determinant of the 3 × 3 minor of a row-major 4 × 4 matrix that remains
// after removing row sr and column sc.
double Minor3(const double* a, int sr, int sc) {
  int r[3], c[3];
  for (int i = 0, k = 0; i < 4; ++i)
    if (i != sr) r[k++] = i;
  for (int j = 0, k = 0; j < 4; ++j)
    if (j != sc) c[k++] = j;
  auto e = [&](int i, int j) { return a[4 * r[i] + c[j]]; };
  return e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1)) -
         e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0)) +
         e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
}

void SetIdentity4(double* m) {
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

// Inverse of a full row-major 4 × 4 a into out (which may be a).
bool Invert4(double* out, const double* a) {
  double cof[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const double minor = Minor3(a, i, j);
      cof[4 * i + j] = ((i + j) & 1) ? -minor : minor;
    }
  const double det = a[0] * cof[0] + a[1] * cof[1] + a[2] * cof[2] + a[3] * cof[3];
  if (det == 0.0) {
    SetIdentity4(out);
    return false;
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = cof[4 * j + i] / det;
  return true;
}

}  // namespace

// ---- Matrix2x2 ----

void Matrix2x2::Multiply(const Matrix2x2& A, const Matrix2x2& B) {
  const double* a = A.m;
  const double* b = B.m;
  const double t[4] = {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3],
                       a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3]};
  std::memcpy(m, t, sizeof t);
}

void Matrix2x2::MultiplyAtB(const Matrix2x2& A, const Matrix2x2& B) {
  const double* a = A.m;
  const double* b = B.m;
  const double t[4] = {a[0] * b[0] + a[2] * b[2], a[0] * b[1] + a[2] * b[3],
                       a[1] * b[0] + a[3] * b[2], a[1] * b[1] + a[3] * b[3]};
  std::memcpy(m, t, sizeof t);
}

void Matrix2x2::MultiplyABt(const double* a, const double* b) {
  double t[4];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      t[2 * i + j] =
          a[3 * i] * b[3 * j] + a[3 * i + 1] * b[3 * j + 1] + a[3 * i + 2] * b[3 * j + 2];
  std::memcpy(m, t, sizeof t);
}

// ---- Matrix3x3 ----

void Matrix3x3::SetIdentity() {
  for (int i = 0; i < 9; ++i) m[i] = (i % 4 == 0) ? 1.0 : 0.0;
}

Matrix3x3 Matrix3x3::operator*(double s) const {
  Matrix3x3 r;
  r.Scale(*this, s);
  return r;
}

void Matrix3x3::Scale(const Matrix3x3& A, double s) {
  for (int i = 0; i < 9; ++i) m[i] = A.m[i] * s;
}

void Matrix3x3::Negate(Matrix3x3& out) const {
  for (int i = 0; i < 9; ++i) out.m[i] = -m[i];
}

void Matrix3x3::Add(const Matrix3x3& A, const Matrix3x3& B) {
  for (int i = 0; i < 9; ++i) m[i] = A.m[i] + B.m[i];
}

void Matrix3x3::Transpose(const Matrix3x3& A) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t[3 * i + j] = A.m[3 * j + i];
  std::memcpy(m, t, sizeof t);
}

void Matrix3x3::Multiply(const Matrix3x3& A, const Matrix3x3& B) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * i + j] =
          A.m[3 * i] * B.m[j] + A.m[3 * i + 1] * B.m[3 + j] + A.m[3 * i + 2] * B.m[6 + j];
  std::memcpy(m, t, sizeof t);
}

void Matrix3x3::MultiplyAtB(const Matrix3x3& A, const Matrix3x3& B) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * i + j] = A.m[i] * B.m[j] + A.m[3 + i] * B.m[3 + j] + A.m[6 + i] * B.m[6 + j];
  std::memcpy(m, t, sizeof t);
}

void Matrix3x3::MultiplyABt(const Matrix3x3& A, const Matrix3x3& B) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * i + j] = A.m[3 * i] * B.m[3 * j] + A.m[3 * i + 1] * B.m[3 * j + 1] +
                     A.m[3 * i + 2] * B.m[3 * j + 2];
  std::memcpy(m, t, sizeof t);
}

void Matrix3x3::MultiplyABt(const Matrix3x4& A, const Matrix3x4& B) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * i + j] = A.m[4 * i] * B.m[4 * j] + A.m[4 * i + 1] * B.m[4 * j + 1] +
                     A.m[4 * i + 2] * B.m[4 * j + 2] + A.m[4 * i + 3] * B.m[4 * j + 3];
  std::memcpy(m, t, sizeof t);
}

void Matrix3x3::SetFromMatrix3x4(const Matrix3x4& M) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[3 * i + j] = M.m[4 * i + j];
}

void Matrix3x3::SetFromMatrix3x4(const Matrix4x4& M) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[3 * i + j] = M.m[4 * i + j];
}

bool Matrix3x3::Invert(const Matrix3x3& A) {
  const double* a = A.m;
  // Cofactors; the adjugate is their transpose.
  const double c00 = a[4] * a[8] - a[5] * a[7];
  const double c01 = -(a[3] * a[8] - a[5] * a[6]);
  const double c02 = a[3] * a[7] - a[4] * a[6];
  const double c10 = -(a[1] * a[8] - a[2] * a[7]);
  const double c11 = a[0] * a[8] - a[2] * a[6];
  const double c12 = -(a[0] * a[7] - a[1] * a[6]);
  const double c20 = a[1] * a[5] - a[2] * a[4];
  const double c21 = -(a[0] * a[5] - a[2] * a[3]);
  const double c22 = a[0] * a[4] - a[1] * a[3];
  const double det = a[0] * c00 + a[1] * c01 + a[2] * c02;
  if (det == 0.0) {
    SetIdentity();
    return false;
  }
  const double t[9] = {c00 / det, c10 / det, c20 / det, c01 / det, c11 / det,
                       c21 / det, c02 / det, c12 / det, c22 / det};
  std::memcpy(m, t, sizeof t);
  return true;
}

// ---- Matrix3x4 ----

void Matrix3x4::Scale(const Matrix3x4& P, double s) {
  for (int i = 0; i < 12; ++i) m[i] = P.m[i] * s;
}

void Matrix3x4::SetRotationPart(const Matrix3x3& R) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[4 * i + j] = R.m[3 * i + j];
}

void Matrix3x4::Multiply(const Matrix3x4& A, const Matrix3x4& B) {
  double t[12];
  for (int i = 0; i < 3; ++i) {
    const double* a = A.m + 4 * i;
    for (int j = 0; j < 4; ++j)
      t[4 * i + j] = a[0] * B.m[j] + a[1] * B.m[4 + j] + a[2] * B.m[8 + j];
    t[4 * i + 3] += a[3];
  }
  std::memcpy(m, t, sizeof t);
}

bool Matrix3x4::InvertAffine(const Matrix3x4& M) {
  Matrix3x3 R;
  R.SetFromMatrix3x4(M);
  const double t[3] = {M.m[3], M.m[7], M.m[11]};
  const bool ok = R.Invert(R);
  for (int i = 0; i < 3; ++i) {
    const double* r = R.m + 3 * i;
    m[4 * i] = r[0];
    m[4 * i + 1] = r[1];
    m[4 * i + 2] = r[2];
    m[4 * i + 3] = -(r[0] * t[0] + r[1] * t[1] + r[2] * t[2]);
  }
  return ok;
}

// ---- Matrix4x4 ----

void Matrix4x4::SetZero() {
  for (double& e : m) e = 0.0;
}

void Matrix4x4::Transpose(const Matrix4x4& A) {
  double t[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) t[4 * i + j] = A.m[4 * j + i];
  std::memcpy(m, t, sizeof t);
}

void Matrix4x4::Multiply(const Matrix4x4& A, const Matrix4x4& B) {
  double t[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      t[4 * i + j] = A.m[4 * i] * B.m[j] + A.m[4 * i + 1] * B.m[4 + j] +
                     A.m[4 * i + 2] * B.m[8 + j] + A.m[4 * i + 3] * B.m[12 + j];
  std::memcpy(m, t, sizeof t);
}

void Matrix4x4::MultiplyAtB(const Matrix4x4& A, const Matrix4x4& B) {
  double t[16];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      t[4 * i + j] = A.m[i] * B.m[j] + A.m[4 + i] * B.m[4 + j] + A.m[8 + i] * B.m[8 + j] +
                     A.m[12 + i] * B.m[12 + j];
  std::memcpy(m, t, sizeof t);
}

void Matrix4x4::SetRotationPart(const Matrix3x3& R) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[4 * i + j] = R.m[3 * i + j];
}

bool Matrix4x4::Invert(const Matrix4x4& A) {
  return Invert4(m, A.m);
}

bool Matrix4x4::InvertSymmetric(const Matrix4x4& A) {
  double s[16];
  for (int i = 0; i < 4; ++i)
    for (int j = i; j < 4; ++j) s[4 * i + j] = s[4 * j + i] = A.m[4 * i + j];
  return Invert4(m, s);
}

// ---- Vector4 and free helpers ----

void Vector4::Multiply(const Matrix4x4& M, const vm::Vector3& p) {
  double t[4];
  for (int i = 0; i < 4; ++i)
    t[i] = M.m[4 * i] * p.x + M.m[4 * i + 1] * p.y + M.m[4 * i + 2] * p.z + M.m[4 * i + 3];
  std::memcpy(v, t, sizeof t);
}

void Vector4::MultiplyTransposed(const Matrix3x4& M, const vm::Vector3& p) {
  double t[4];
  for (int j = 0; j < 4; ++j) t[j] = M.m[j] * p.x + M.m[4 + j] * p.y + M.m[8 + j] * p.z;
  std::memcpy(v, t, sizeof t);
}

vm::Vector3 MultiplyMat2x3TransposedVec2(const double* B, const vm::Vector2& s) {
  return {B[0] * s.x + B[3] * s.y, B[1] * s.x + B[4] * s.y, B[2] * s.x + B[5] * s.y};
}

vm::Vector3 MultiplyMat3Vec3(const Matrix3x3& M, const vm::Vector3& p) {
  const double* a = M.m;
  return {a[0] * p.x + a[1] * p.y + a[2] * p.z, a[3] * p.x + a[4] * p.y + a[5] * p.z,
          a[6] * p.x + a[7] * p.y + a[8] * p.z};
}

vm::Vector3 MultiplyMat3TransposedVec3(const Matrix3x3& M, const vm::Vector3& p) {
  const double* a = M.m;
  return {a[0] * p.x + a[3] * p.y + a[6] * p.z, a[1] * p.x + a[4] * p.y + a[7] * p.z,
          a[2] * p.x + a[5] * p.y + a[8] * p.z};
}
