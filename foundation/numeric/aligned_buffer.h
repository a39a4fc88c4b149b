// 32-byte aligned heap blocks under vectors, matrices and arrays.
//
// A block is taken with room for the elements plus a small header: the data
// address is the raw address rounded up to 32 bytes, and the raw address sits
// in the pointer-sized word just in front of the data, so that one release
// routine (AlignedRelease) frees every block whatever its element type.
//
// Limits: a block holds fewer than 0xffffff00 bytes of elements, that is
// fewer than 0x1fffffe0 doubles or 0x3fffffc0 four-byte elements. A request
// at or above the limit, or one the heap refuses, throws the constant
// character string "memory allocation failed" and leaves the buffer empty.
#pragma once

#include <cstddef>
#include <cstdint>

// The text thrown by every failed block request.
extern const char* const kAllocationFailedMessage;

// Takes a block of `bytes` bytes whose address is a multiple of 32. Throws
// kAllocationFailedMessage when bytes >= 0xffffff00 or the heap refuses.
// bytes == 0 is a valid request for a block holding no element.
void* AlignedAllocate(size_t bytes);

// Frees a block from AlignedAllocate; a null pointer is ignored.
void AlignedRelease(void* data);

template <typename T>
class AlignedBuffer {
 public:
  // Largest element count plus one that a block may hold.
  static constexpr uint32_t kLimit = static_cast<uint32_t>(0xffffff00u / sizeof(T));

  AlignedBuffer() = default;
  ~AlignedBuffer() { Free(); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  AlignedBuffer(AlignedBuffer&& other) noexcept : data(other.data), capacity(other.capacity) {
    other.data = nullptr;
    other.capacity = 0;
  }
  AlignedBuffer& operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
      Free();
      data = other.data;
      capacity = other.capacity;
      other.data = nullptr;
      other.capacity = 0;
    }
    return *this;
  }

  // Releases the current block (if owned), then for n > 0 takes a new block
  // of n elements. Contents are not kept. Throws "memory allocation failed"
  // (the buffer is then empty).
  void Allocate(uint64_t n) {
    Free();
    if (n == 0) return;
    if (n >= kLimit) throw kAllocationFailedMessage;
    data = static_cast<T*>(AlignedAllocate(static_cast<size_t>(n) * sizeof(T)));
    capacity = static_cast<uint32_t>(n);
  }

  // Releases the block when it is owned (capacity non-zero); data becomes null.
  void Free() {
    if (capacity != 0) AlignedRelease(data);
    data = nullptr;
    capacity = 0;
  }

  // Points the buffer at memory it does not own (capacity 0, never released).
  void SetForeign(T* foreign) {
    Free();
    data = foreign;
  }

  T* data = nullptr;
  uint32_t capacity = 0;
};
