// Singular value decomposition of a dense row-major matrix (Householder
// bidiagonalisation and implicit-shift QR), under Matrix::SVD.
//
// Singular values are not sorted and columns are not permuted: callers rely
// on the order the iteration leaves them in. Never build this with
// -ffast-math: the convergence tests compare |x| + anorm with anorm exactly.
#pragma once

#include <cstddef>

// In place on raw arrays: a (m × n, row stride aStride) becomes U, w receives
// the n singular values (≥ 0 once converged) and v (n × n, row stride
// vStride) the orthogonal V, so that A = U·diag(w)·Vᵀ. m < n is allowed.
// When a value does not converge in 30 sweeps, "no convergence in 30
// nr_svdcmp iterations" and a line end go to stderr, the routine goes on with
// the next value, and the result is false.
bool nr_svdcmp(double* a, int m, int n, size_t aStride, double* w, double* v, size_t vStride);
