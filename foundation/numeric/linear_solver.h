// Direct solvers on raw row-major arrays, under Vector::Solve and
// Matrix::InvertSymmetric (declared with their classes).
//
// Neither has a tolerance: only an exact zero pivot counts as singular, so
// nearly singular input gives very large values. Neither throws except for
// allocation failure ("memory allocation failed").
#pragma once

#include <cstddef>

// Reduces the n × width system behind the row pointers `rows` to upper
// triangular form by Gaussian elimination with partial pivoting (the row
// pointers are permuted, the rows are not moved). Columns are eliminated two
// at a time. Returns false at an exactly zero pivot; the last diagonal
// element is left for the back substitution to test.
bool GaussEliminate(double** rows, int width, int n);

// Inverts the symmetric n × n array in place by the sweep operator with
// diagonal pivoting (largest |a[k][k]| > 0 first, two pivots per step). Reads
// only the upper triangle; on success both triangles hold the inverse.
// Returns false when no usable pivot is left (contents then undefined).
bool SweepInvertSymmetric(double* data, size_t stride, int n);
