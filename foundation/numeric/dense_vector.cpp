#include "foundation/numeric/dense_vector.h"

#include <cstring>
#include <utility>

#include "foundation/numeric/dense_kernels.h"
#include "foundation/numeric/dense_matrix.h"

Vector::Vector(const Vector& other) {
  Resize(other.size_);
  if (size_ != 0) std::memcpy(storage_.data, other.storage_.data, size_ * sizeof(double));
}

Vector::Vector(Vector&& other) noexcept : storage_(std::move(other.storage_)), size_(other.size_) {
  other.size_ = 0;
}

Vector& Vector::operator=(const Vector& other) {
  if (this == &other) return *this;
  Resize(other.size_);
  if (size_ != 0) std::memcpy(storage_.data, other.storage_.data, size_ * sizeof(double));
  return *this;
}

Vector& Vector::operator=(Vector&& other) noexcept {
  if (this != &other) {
    storage_ = std::move(other.storage_);
    size_ = other.size_;
    other.size_ = 0;
  }
  return *this;
}

void Vector::Resize(uint32_t n) {
  if (n == size_) return;
  // Empty before the request, so a failure never leaves a size without storage.
  size_ = 0;
  storage_.Allocate(n);
  size_ = n;
}

double Vector::Dot(const Vector& v) const {
  return DotProduct(storage_.data, v.storage_.data, static_cast<int>(size_));
}

void Vector::SetZero() {
  if (size_ != 0) std::memset(storage_.data, 0, size_ * sizeof(double));
}

void Vector::Add(const Vector& a, const Vector& b) {
  Resize(a.size_);
  AddVectors(a.storage_.data, storage_.data, b.storage_.data, static_cast<int>(size_));
}

void Vector::Subtract(const Vector& a, const Vector& b) {
  Resize(a.size_);
  SubtractVectors(a.storage_.data, storage_.data, b.storage_.data, static_cast<int>(size_));
}

void Vector::Scale(const Vector& a, double s) {
  Resize(a.size_);
  ScaleVector(a.storage_.data, s, storage_.data, static_cast<int>(size_));
}

void Vector::Multiply(const Matrix& M, const Vector& v) {
  const double* mine = storage_.data;
  const double* theirs = v.storage_.data;
  bool overlap = size_ != 0 && v.size_ != 0 && mine < theirs + v.size_ && theirs < mine + size_;
  if (overlap) {
    Vector temp;
    temp.Multiply(M, v);
    *this = std::move(temp);
    return;
  }
  Resize(M.Rows());
  MultiplyRowsVector(M.Data(), 1, storage_.data, M.Stride(), v.storage_.data,
                     static_cast<int>(M.Cols()), static_cast<int>(M.Rows()));
}

void Vector::MultiplyTransposed(const Matrix& M, const Vector& v) {
  Resize(M.Cols());
  int n = static_cast<int>(size_);
  uint32_t rows = M.Rows();
  uint32_t r = 0;
  if (rows % 2 == 1) {
    ScaleVector(M.Row(0), v[0], storage_.data, n);
    r = 1;
  } else {
    SetZero();
  }
  for (; r + 1 < rows; r += 2) {
    ScaleAddVector2(M.Row(r), v[r], v[r + 1], storage_.data, storage_.data, M.Row(r + 1), n);
  }
}
