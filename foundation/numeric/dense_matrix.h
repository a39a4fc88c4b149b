// Dense row-major matrix of doubles.
//
// Element (r, c) is Data()[r·Stride() + c]. A matrix that owns its block has
// stride = cols rounded up to an even number, so with the 32-byte aligned
// block every row starts on a 16-byte boundary; the pad element of an
// odd-width row is never read or written by the operations here.
//
// A matrix may be laid over memory it does not own (the overlay constructor):
// any stride not below cols, never released. Operations that keep its
// dimensions work in that memory; one that changes them gives it a block of
// its own.
//
// Operand dimensions are not checked: the caller guarantees they agree.
// Allocation failure throws the constant character string "memory allocation
// failed" and leaves the matrix empty (0 × 0).
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/numeric/aligned_buffer.h"

class Vector;

class Matrix {
 public:
  Matrix() = default;
  // rows × cols, contents not initialised.
  Matrix(uint32_t rows, uint32_t cols) { Resize(rows, cols); }
  // Overlay over foreign memory (not owned, never released); stride >= cols.
  Matrix(double* data, uint32_t rows, uint32_t cols, uint32_t stride);
  // Same dimensions, own even stride, elements copied.
  Matrix(const Matrix& other);
  Matrix(Matrix&& other) noexcept;
  // Nothing for self-assignment; resized when the dimensions differ (an
  // overlay of equal dimensions receives the elements in its memory).
  Matrix& operator=(const Matrix& other);
  ~Matrix() = default;

  // Nothing when both dimensions are the current ones; else new stride,
  // dimensions and block (contents lost).
  void Resize(uint32_t rows, uint32_t cols);

  uint32_t Rows() const { return rows_; }
  uint32_t Cols() const { return cols_; }
  uint32_t Stride() const { return stride_; }
  double* Data() { return storage_.data; }
  const double* Data() const { return storage_.data; }
  double* Row(uint32_t r) { return storage_.data + static_cast<size_t>(r) * stride_; }
  const double* Row(uint32_t r) const { return storage_.data + static_cast<size_t>(r) * stride_; }
  double& operator()(uint32_t r, uint32_t c) { return Row(r)[c]; }
  const double& operator()(uint32_t r, uint32_t c) const { return Row(r)[c]; }

  // n × n identity (resized when the dimensions differ).
  void SetIdentity(uint32_t n);
  // Every element 0 (pads untouched).
  void SetZero();
  // this = A - B; takes A's dimensions.
  void Subtract(const Matrix& A, const Matrix& B);
  // this = A·Bᵀ: A is m × k, B is n × k, result m × n. This may be A or B.
  void MultiplyABt(const Matrix& A, const Matrix& B);
  // this = Aᵀ·B: A is k × m, B is k × n, result m × n. This may be A or B.
  void MultiplyAtB(const Matrix& A, const Matrix& B);

  // this = A⁻¹ for a symmetric A by the sweep operator with diagonal
  // pivoting; only the upper triangle of A is read. A is copied first unless
  // this is A. Returns false when A is exactly singular (contents then
  // undefined). No tolerance: nearly singular input gives huge values.
  bool InvertSymmetric(const Matrix& A);

  // A = U·diag(w)·Vᵀ with this = U (m × n), w (n values ≥ 0, unsorted) and V
  // (n × n, orthogonal). A is copied first unless this is A. m < n is
  // allowed. Returns false when some singular value did not converge in 30
  // sweeps (the message "no convergence in 30 nr_svdcmp iterations" is then
  // also written to stderr); the results are then as they stand.
  bool SVD(Vector& w, Matrix& V, const Matrix& A);

  // Eigen decomposition of the symmetric n × n A: d[i] is an eigenvalue and
  // column i of this matrix its unit eigenvector, in no particular order.
  // A is copied first unless this is A. Returns false when the iteration did
  // not converge (see nr_tqli).
  bool SymmetricEigen(Vector& d, const Matrix& A);

 private:
  void Product(const Matrix& A, const Matrix& B, bool transposeA);

  AlignedBuffer<double> storage_;
  uint32_t stride_ = 0;
  uint32_t rows_ = 0;
  uint32_t cols_ = 0;
};

// Bounds of `count` chunks of [0, total): bounds[0] = 0, bounds[count] =
// total, inner bounds ⌊total·i/count⌋ rounded up to even. Returns the largest
// chunk length, at least 2, rounded up to even.
uint32_t SplitRange(uint32_t* bounds, uint32_t count, uint32_t total);
// Number of chunks the blocked product cuts a dimension d into.
uint32_t ProductChunkCount(uint32_t d);
