// Fixed-size row-major matrices of doubles for rotations, rigid and affine
// transforms, projection matrices and covariances, and the homogeneous
// 4-vector.
//
// The types are plain arrays without constructors: their contents start
// undefined. M[r][c] is element (r, c); m[] is the row-major storage. Every
// product is formed in a temporary first, so the result may be one of the
// operands. Nothing allocates or throws; singular input gives the identity
// and false.
#ifndef KALVEX_FOUNDATION_NUMERIC_FIXED_MATRIX_H_
#define KALVEX_FOUNDATION_NUMERIC_FIXED_MATRIX_H_

#include "foundation/numeric/fixed_vector.h"

struct Matrix3x4;
struct Matrix4x4;

struct Matrix2x2 {
  double m[4];

  double* operator[](int r) { return m + 2 * r; }
  const double* operator[](int r) const { return m + 2 * r; }

  // this = A·B.
  void Multiply(const Matrix2x2& A, const Matrix2x2& B);
  // this = Aᵀ·B.
  void MultiplyAtB(const Matrix2x2& A, const Matrix2x2& B);
  // this = A·Bᵀ for 2 × 3 row-major operands (six doubles each).
  void MultiplyABt(const double* A, const double* B);

  // Eigen decomposition of the symmetric A = [a b; b d] (b read from the
  // upper element): values[0] has the larger magnitude and the sign of the
  // mean; this = [p −q; q p], column i the unit eigenvector of values[i].
  void SymmetricEigen(double* values, const Matrix2x2& A);
};

struct Matrix3x3 {
  double m[9];

  double* operator[](int r) { return m + 3 * r; }
  const double* operator[](int r) const { return m + 3 * r; }

  void SetIdentity();
  // A copy scaled by s.
  Matrix3x3 operator*(double s) const;
  // this = s·A.
  void Scale(const Matrix3x3& A, double s);
  // out = −this; out may be this.
  void Negate(Matrix3x3& out) const;
  // this = A + B.
  void Add(const Matrix3x3& A, const Matrix3x3& B);
  // this = Aᵀ.
  void Transpose(const Matrix3x3& A);
  // this = A·B.
  void Multiply(const Matrix3x3& A, const Matrix3x3& B);
  // this = Aᵀ·B.
  void MultiplyAtB(const Matrix3x3& A, const Matrix3x3& B);
  // this = A·Bᵀ.
  void MultiplyABt(const Matrix3x3& A, const Matrix3x3& B);
  // this = A·Bᵀ for 3 × 4 operands (a 3 × 3 result).
  void MultiplyABt(const Matrix3x4& A, const Matrix3x4& B);
  // this = the left 3 × 3 block of a matrix with rows of four.
  void SetFromMatrix3x4(const Matrix3x4& M);
  void SetFromMatrix3x4(const Matrix4x4& M);

  // Rotation by angle (radians, right-handed) about axis. An axis whose
  // squared length is not greater than 1e-24 leaves the matrix unchanged.
  void SetRotation(const vm::Vector3& axis, double angle);
  // Rz(az)·Ry(ay)·Rx(ax).
  void SetRotationXYZ(double ax, double ay, double az);
  // The unit axis and the angle in 0 … π of the rotation this matrix holds
  // (re-orthonormalised first). The identity gives (1, 0, 0) and 0.
  double GetAxisAngle(vm::Vector3& axis) const;

  // this = A⁻¹ by cofactors; A may be this. A determinant of exactly 0 sets
  // the identity and returns false.
  bool Invert(const Matrix3x3& A);

  // Eigen decomposition of the symmetric A: values[0..2] by decreasing
  // magnitude, this = the unit eigenvectors as columns, a proper rotation.
  // A may be this.
  void SymmetricEigen(double* values, const Matrix3x3& A);
  // this = U, s[0..2] decreasing, V with A = U·diag(s)·Vᵀ; V must not be A.
  // Singular values at or below s[0]·1e-13 become 0 and U is completed to a
  // rotation.
  void SVD(double* s, Matrix3x3& V, const Matrix3x3& A);
};

struct Matrix3x4 {
  double m[12];

  double* operator[](int r) { return m + 4 * r; }
  const double* operator[](int r) const { return m + 4 * r; }

  // this = s·P.
  void Scale(const Matrix3x4& P, double s);
  // this = A·B with both taken as 4 × 4 transforms whose last row is (0, 0, 0, 1);
  // A or B may be this.
  void Multiply(const Matrix3x4& A, const Matrix3x4& B);
  // Left 3 × 3 block := R; the last column is unchanged.
  void SetRotationPart(const Matrix3x3& R);
  // this = [R⁻¹ | −R⁻¹·t] for M = [R | t]; a singular R gives R⁻¹ = I and
  // false. M may be this.
  bool InvertAffine(const Matrix3x4& M);
};

struct Matrix4x4 {
  double m[16];

  double* operator[](int r) { return m + 4 * r; }
  const double* operator[](int r) const { return m + 4 * r; }

  void SetZero();
  // this = Aᵀ.
  void Transpose(const Matrix4x4& A);
  // this = A·B.
  void Multiply(const Matrix4x4& A, const Matrix4x4& B);
  // this = Aᵀ·B (A = B gives the normal matrix).
  void MultiplyAtB(const Matrix4x4& A, const Matrix4x4& B);
  // Upper-left 3 × 3 block := R; the rest is unchanged.
  void SetRotationPart(const Matrix3x3& R);

  // Upper-left 3 × 3 := Matrix3x3::SetRotation(axis, angle), the rest
  // unchanged; a degenerate axis leaves the whole matrix unchanged.
  void SetRotation(const vm::Vector3& axis, double angle);
  // Upper-left 3 × 3 := Rz(az)·Ry(ay)·Rx(ax), the rest unchanged.
  void SetRotationXYZ(double ax, double ay, double az);
  // Axis and angle of the upper-left 3 × 3 block.
  double GetAxisAngle(vm::Vector3& axis) const;

  // this = A⁻¹ by cofactors; A may be this. A determinant of exactly 0 sets
  // the identity and returns false.
  bool Invert(const Matrix4x4& A);
  // The same for a symmetric A, reading only its upper triangle.
  bool InvertSymmetric(const Matrix4x4& A);

  // Eigen decomposition of the symmetric A: values[0..3] by decreasing
  // magnitude, this = the unit eigenvectors as columns. A may be this.
  void SymmetricEigen(double* values, const Matrix4x4& A);
  // this = U, s[0..3] decreasing, V with A = U·diag(s)·Vᵀ; V must not be A.
  void SVD(double* s, Matrix4x4& V, const Matrix4x4& A);
};

struct Vector4 {
  double v[4];

  double& operator[](int i) { return v[i]; }
  double operator[](int i) const { return v[i]; }

  // this = M·(v, 1) for a 4 × 4 M; the homogeneous result is not divided.
  void Multiply(const Matrix4x4& M, const vm::Vector3& v);
  // this = Mᵀ·v for a 3 × 4 M.
  void MultiplyTransposed(const Matrix3x4& M, const vm::Vector3& v);

  // this = a unit null vector of A (the zero vector when none could be
  // normalised); returns the dimension of the null space found, 1 to 4.
  int SetNullVector(const Matrix4x4& A);
};

// Bᵀ·s for a 2 × 3 row-major B (six doubles).
vm::Vector3 MultiplyMat2x3TransposedVec2(const double* B, const vm::Vector2& s);
// M·v and Mᵀ·v.
vm::Vector3 MultiplyMat3Vec3(const Matrix3x3& M, const vm::Vector3& v);
vm::Vector3 MultiplyMat3TransposedVec3(const Matrix3x3& M, const vm::Vector3& v);

#endif  // KALVEX_FOUNDATION_NUMERIC_FIXED_MATRIX_H_
