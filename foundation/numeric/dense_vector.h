// Dense vector of doubles in a 32-byte aligned block.
//
// A value type: copies own their elements. Operations whose result takes an
// operand's size give the vector that size first; when the size changes the
// vector gets a new block and its old contents are lost. Operand sizes are
// not checked: the caller guarantees they agree. Allocation failure throws
// the constant character string "memory allocation failed" and leaves the
// vector empty (size 0).
#pragma once

#include <cstdint>

#include "foundation/numeric/aligned_buffer.h"

class Matrix;

class Vector {
 public:
  Vector() = default;
  // n elements, contents not initialised.
  explicit Vector(uint32_t n) { Resize(n); }
  Vector(const Vector& other);
  Vector(Vector&& other) noexcept;
  Vector& operator=(const Vector& other);
  Vector& operator=(Vector&& other) noexcept;
  ~Vector() = default;

  // Nothing when n equals the size; else a new block of n elements (contents lost).
  void Resize(uint32_t n);

  uint32_t Size() const { return size_; }
  double* Data() { return storage_.data; }
  const double* Data() const { return storage_.data; }
  double& operator[](uint32_t i) { return storage_.data[i]; }
  const double& operator[](uint32_t i) const { return storage_.data[i]; }

  // Σ this[i]·v[i] over this vector's size.
  double Dot(const Vector& v) const;
  void SetZero();
  // this = a + b; takes a's size.
  void Add(const Vector& a, const Vector& b);
  // this = a - b; takes a's size.
  void Subtract(const Vector& a, const Vector& b);
  // this = s·a; takes a's size.
  void Scale(const Vector& a, double s);
  // this = M·v; takes M's row count. May be called with v being this vector
  // (or overlapping it): the product is then formed in a temporary.
  void Multiply(const Matrix& M, const Vector& v);
  // this = Mᵀ·v; takes M's column count. This vector must not share storage
  // with M or v.
  void MultiplyTransposed(const Matrix& M, const Vector& v);

  // Solves A·x = b for x (this) by Gaussian elimination with partial
  // pivoting. n = b's size; A supplies its first n rows and columns. A vector
  // smaller than n is resized to n, a larger one keeps its size and receives
  // the solution in its first n elements. b may be this vector. Returns false
  // for an exactly singular system (no tolerance); the result may then be
  // partly written. n = 0 returns true and changes nothing.
  bool Solve(const Matrix& A, const Vector& b);

 private:
  AlignedBuffer<double> storage_;
  uint32_t size_ = 0;
};
