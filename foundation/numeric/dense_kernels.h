// Element kernels of the dense linear algebra: free functions on raw arrays
// of doubles that do the arithmetic two doubles at a time.
//
// The dot and element-wise kernels (those also declared in scalar_kernels)
// have a packed (SSE2) form and a portable scalar form that give bit-identical
// results; the packed form is used when the target has SSE2.
// The summation order of the dot kernels is fixed:
//   - when the first operand is not on a 16-byte boundary, element 0 is
//     peeled off and its product kept apart (`head`);
//   - four lanes accumulate elements i = 4q + lane (after the peel);
//   - a remaining pair goes into lanes 0 and 1;
//   - sum = ((lane0 + lane2) + (lane1 + lane3)), then + the product of an odd
//     last element, then head + sum.
// Element-wise kernels compute every element by the formula given; their
// destination may be one of their sources. Counts below 1 do nothing or
// yield 0. Strides are in elements.
#pragma once

#include <cstddef>

// Σ a[i]·b[i].
double DotProduct(const double* a, const double* b, int n);
// The same sum with four scalar products per step: lane i mod 4 accumulators
// summed as (lane0 + lane1) + (lane2 + lane3).
double DotProductUnrolled(const double* a, const double* b, int n);
// out[0] = a·p, out[1] = b·p in one pass (the peel follows a's alignment).
void DotProduct2(const double* a, const double* b, const double* p, int n, double out[2]);
// out = {a·c, b·c, a·d, b·d} in one pass (the peel follows a's alignment).
void DotProduct2x2(const double* a, const double* b, const double* c, const double* d, int n,
                   double out[4]);

// c[i] = a[i] + b[i].
void AddVectors(const double* a, double* c, const double* b, int n);
// c[i] = a[i] - b[i].
void SubtractVectors(const double* a, double* c, const double* b, int n);
// d[i] = s·a[i].
void ScaleVector(const double* a, double s, double* d, int n);
// d[i] = s·a[i] + y[i].
void ScaleAddVector(const double* a, double s, double* d, const double* y, int n);
// d[i] = (s2·b[i] + s1·a[i]) + y[i].
void ScaleAddVector2(const double* a, double s1, double s2, double* d, const double* y,
                     const double* b, int n);

// out[i·outStride] = Σj M[i·stride + j]·v[j] for i < rows. Rows of one to four
// columns are written as the explicit left-to-right sum of their products;
// longer rows use DotProductUnrolled.
void MultiplyRowsVector(const double* M, size_t outStride, double* out, size_t stride,
                        const double* v, int cols, int rows);
// Copies rows × cols elements between strided arrays (no overlap).
void CopyRows(int cols, size_t srcStride, double* dst, size_t dstStride, const double* src,
              int rows);
// dst[j·dstStride + i] = src[i·srcStride + j] for i < h, j < w.
void TransposeBlock(size_t srcStride, double* dst, size_t dstStride, const double* src, int w,
                    int h);
// T[i·tStride + j] = Σl A[i·aStride + l]·B[j·bStride + l] over l < k, for
// i < rows, j < cols. Pairs of rows and columns go through DotProduct2x2, an
// odd last column through DotProduct2(A rows, B column), an odd last row
// through DotProduct2(B columns, A row), the corner through DotProduct. When
// every row of A and B starts on a 16-byte boundary and the processor has
// AVX2, a blocked 256-bit path (chosen at run time) gives the same bits.
void MultiplyTileABt(const double* B, double* T, size_t tStride, const double* A, size_t aStride,
                     size_t bStride, int rows, int cols, int k);

// The portable forms, exposed so that tests can compare both paths.
namespace scalar_kernels {
double DotProduct(const double* a, const double* b, int n);
double DotProductUnrolled(const double* a, const double* b, int n);
void DotProduct2(const double* a, const double* b, const double* p, int n, double out[2]);
void DotProduct2x2(const double* a, const double* b, const double* c, const double* d, int n,
                   double out[4]);
void AddVectors(const double* a, double* c, const double* b, int n);
void SubtractVectors(const double* a, double* c, const double* b, int n);
void ScaleVector(const double* a, double s, double* d, int n);
void ScaleAddVector(const double* a, double s, double* d, const double* y, int n);
void ScaleAddVector2(const double* a, double s1, double s2, double* d, const double* y,
                     const double* b, int n);
}  // namespace scalar_kernels
