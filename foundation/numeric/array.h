// Two-dimensional data: ArrayMap<T>, a non-owning view of one plane, and
// Array<T, n>, n planes of equal size in one 32-byte aligned block.
//
// Element (x, y) of a view is data[x + y·stride]. Rows of an Array are padded
// to a multiple of 16 bytes (4 elements for 4-byte types, 16 for bool); plane
// k starts k·stride·height elements into the block. Views handed out by an
// Array die when it is resized or destroyed.
//
// The checked accessors throw a formatted text as `const char*` (catch it as
// such). The text lives in a per-thread buffer of 256 bytes, one per
// operation and element type, overwritten by the next failure of the same
// operation on that thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "foundation/numeric/aligned_buffer.h"

template <typename T>
struct ArrayMap {
  ArrayMap() = default;
  ArrayMap(T* data, uint32_t stride, uint32_t width, uint32_t height)
      : data(data), stride(stride), width(width), height(height) {}

  // Element (x, y); throws "ArrayMap::GetElement: %u, %u outside range [%u, %u]"
  // when x >= width or y >= height.
  T& GetElement(uint32_t x, uint32_t y) const {
    if (x >= width || y >= height) {
      static thread_local char message[256];
      message[0] = 0;
      std::snprintf(message, sizeof message, "ArrayMap::GetElement: %u, %u outside range [%u, %u]",
                    x, y, width, height);
      throw static_cast<const char*>(message);
    }
    return data[x + static_cast<size_t>(y) * stride];
  }

  // Copies the overlapping region (the smaller width × the smaller height)
  // of `other` into this view, row by row; nothing when either is empty.
  void CopyFrom(const ArrayMap<T>& other) const {
    uint32_t w = width < other.width ? width : other.width;
    uint32_t h = height < other.height ? height : other.height;
    if (w == 0 || h == 0 || data == other.data) return;
    if (stride == w && other.stride == w) {
      std::memmove(data, other.data, static_cast<size_t>(w) * h * sizeof(T));
      return;
    }
    for (uint32_t y = 0; y < h; ++y)
      std::memmove(data + static_cast<size_t>(y) * stride,
                   other.data + static_cast<size_t>(y) * other.stride, w * sizeof(T));
  }

  T* data = nullptr;
  uint32_t stride = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

template <typename T, unsigned n>
class Array {
  static_assert(n >= 1, "an array has at least one plane");
  static_assert(16 % sizeof(T) == 0, "rows are padded to 16 bytes");

 public:
  // Elements per 16 bytes: the row stride is a multiple of this.
  static constexpr uint32_t kStrideStep = 16 / sizeof(T);

  Array() = default;
  // width × height per plane, contents not initialised.
  Array(uint32_t width, uint32_t height) { Resize(width, height); }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;
  Array(Array&& other) noexcept : storage_(std::move(other.storage_)) {
    for (unsigned k = 0; k < n; ++k) {
      planes_[k] = other.planes_[k];
      other.planes_[k] = ArrayMap<T>();
    }
  }
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      storage_ = std::move(other.storage_);
      for (unsigned k = 0; k < n; ++k) {
        planes_[k] = other.planes_[k];
        other.planes_[k] = ArrayMap<T>();
      }
    }
    return *this;
  }
  virtual ~Array() { storage_.Free(); }

  // Nothing when the size is the current one; otherwise a new block (contents
  // lost). Throws "memory allocation failed"; the array is then empty.
  void Resize(uint32_t width, uint32_t height) {
    if (width == planes_[0].width && height == planes_[0].height) return;
    // Empty first, so that a failure leaves no view into a released block.
    for (unsigned k = 0; k < n; ++k) planes_[k] = ArrayMap<T>();
    storage_.Free();
    uint64_t stride = (static_cast<uint64_t>(width) + kStrideStep - 1) / kStrideStep * kStrideStep;
    uint64_t plane = stride * height;  // stride ≤ 2³², height < 2³²: no overflow
    if (stride > UINT32_MAX || (plane != 0 && plane >= AlignedBuffer<T>::kLimit / n))
      throw kAllocationFailedMessage;
    storage_.Allocate(plane * n);
    for (unsigned k = 0; k < n; ++k)
      planes_[k] =
          ArrayMap<T>(storage_.data + k * plane, static_cast<uint32_t>(stride), width, height);
  }

  // Resizes to the other array's size and copies every plane.
  void CopyFrom(const Array& other) {
    if (this == &other) return;
    Resize(other.planes_[0].width, other.planes_[0].height);
    for (unsigned k = 0; k < n; ++k) planes_[k].CopyFrom(other.planes_[k]);
  }

  // Element (x, y) of a plane; throws "Array::GetElement: %u, %u, %u outside
  // range [%u, %u, %u]" (x, y, plane, width, height, n) when out of range.
  T GetElement(uint32_t x, uint32_t y, uint32_t plane) const {
    if (!Inside(x, y, plane)) {
      static thread_local char message[256];
      message[0] = 0;
      std::snprintf(message, sizeof message,
                    "Array::GetElement: %u, %u, %u outside range [%u, %u, %u]", x, y, plane,
                    planes_[0].width, planes_[0].height, n);
      throw static_cast<const char*>(message);
    }
    return planes_[plane].data[x + static_cast<size_t>(y) * planes_[plane].stride];
  }

  // Stores element (x, y) of a plane; throws "Array::SetElement: ..." like
  // GetElement when out of range (nothing is written).
  void SetElement(const T& value, uint32_t x, uint32_t y, uint32_t plane) {
    if (!Inside(x, y, plane)) {
      static thread_local char message[256];
      message[0] = 0;
      std::snprintf(message, sizeof message,
                    "Array::SetElement: %u, %u, %u outside range [%u, %u, %u]", x, y, plane,
                    planes_[0].width, planes_[0].height, n);
      throw static_cast<const char*>(message);
    }
    planes_[plane].data[x + static_cast<size_t>(y) * planes_[plane].stride] = value;
  }

  // The view of plane k (k < n): data, stride, width, height.
  const ArrayMap<T>& Plane(unsigned k) const { return planes_[k]; }
  uint32_t Width() const { return planes_[0].width; }
  uint32_t Height() const { return planes_[0].height; }
  uint32_t Stride() const { return planes_[0].stride; }
  // Start of the block (plane 0).
  T* Data() const { return planes_[0].data; }

 private:
  bool Inside(uint32_t x, uint32_t y, uint32_t plane) const {
    return x < planes_[0].width && y < planes_[0].height && plane < n;
  }

  AlignedBuffer<T> storage_;
  ArrayMap<T> planes_[n];
};
