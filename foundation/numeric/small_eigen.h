// Closed-form eigen problems and null spaces of 2 × 2, 3 × 3 and 4 × 4
// matrices. Eigenvalues come from the characteristic polynomial, eigenvectors
// from null spaces found by successive deflation. The member operations
// (SymmetricEigen, SVD, SetNullVector) are declared with the fixed-size types
// in fixed_matrix.h. No failure results: degenerate input gives unit axes,
// zero values or zero vectors.
#ifndef KALVEX_FOUNDATION_NUMERIC_SMALL_EIGEN_H_
#define KALVEX_FOUNDATION_NUMERIC_SMALL_EIGEN_H_

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"

// Reorders values[0..n−1] by decreasing absolute value (selection sort:
// position i receives the first of the largest among positions i … n−1).
void SortByMagnitudeDescending(double* values, int n);

// Eigenvalues of a symmetric matrix by decreasing magnitude.
void SymmetricEigenvalues3x3(double* values, const Matrix3x3& A);
void SymmetricEigenvalues4x4(double* values, const Matrix4x4& A);

// Basis vectors of the numerical null space (not normalised); at least one
// is always reported. When tol exceeds the largest squared row norm (the
// whole sum of squares for 2 × 2), the result is every unit axis. out needs
// room for 2, 3 or 4 vectors.
int NullSpace2x2(double tol, vm::Vector2* out, const Matrix2x2& M);
int NullSpace3x3(vm::Vector3* out, const Matrix3x3& M, double tol);
int NullSpace4x4(double tol, Vector4* out, const Matrix4x4& M);

// A vector orthogonal to a and b (not normalised).
void OrthogonalVector4(const Vector4& a, const Vector4& b, Vector4& out);

// min |A·x| subject to |x| = 1 for A with n columns: x1 = the best unit
// vector, x2 = the next best direction (both resized to n). A null x1 gives
// x2 the best vector; with neither output nothing is computed. Up to four
// columns use the eigen decomposition of AᵀA; more columns first eliminate
// n − 4 variables by symmetric elimination with diagonal pivoting, which
// gives A's exact null vector when it has one and otherwise an
// approximation. Returns false for fewer than two columns, a vanished pivot
// product or a zero vector after back substitution (outputs then undefined).
// Throws only when an allocation fails.
bool SolveHomogeneousLeastSquares(Vector* x1, Vector* x2, const Matrix& A);

#endif  // KALVEX_FOUNDATION_NUMERIC_SMALL_EIGEN_H_
