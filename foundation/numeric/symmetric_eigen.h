// Eigen decomposition of a dense symmetric matrix (Householder reduction to
// tridiagonal form, then QL with implicit shifts), under
// Matrix::SymmetricEigen. Eigenvalues are not sorted.
#pragma once

#include <cstddef>

// Reduces the symmetric n × n array a (row stride `stride`) to tridiagonal
// form: diagonal d, subdiagonal e with e[0] = 0. a is replaced by the
// orthogonal matrix of the accumulated transformations.
void HouseholderTridiagonalize(size_t stride, double* a, int n, double* d, double* e);

// Eigenvalues of the tridiagonal matrix (d, e as HouseholderTridiagonalize
// leaves them) into d; the rotations are applied to the columns of z, so that
// z ends with the eigenvectors in its columns. After 30 sweeps on one value
// "Too many iterations in nr_tqli" and a line end go to stderr (once per
// value) and the iteration goes on, but only for a bounded number of further
// sweeps; a value still not converged then is left as it stands and the
// result is false.
bool nr_tqli(double* d, double* e, double* z, size_t zStride, int n);
