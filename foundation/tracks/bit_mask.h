#pragma once

// BitMask: a 32-bit flag word as a base class (features, 3D points, images).
// No virtual operations; the word starts at 0.
//
// Every access to the word is atomic (acquire reads, release writes and changes): the
// tracking thread marks images processed while the interface reads their flags to decide what
// to draw. Copies are plain.

#include <atomic>
#include <cstdint>

class BitMask {
 public:
  BitMask() = default;
  explicit BitMask(uint32_t flags) : flags_(flags) {}

  uint32_t GetFlags() const { return Word().load(std::memory_order_acquire); }
  // Replaces the whole word.
  void AssignFlags(uint32_t flags) { Word().store(flags, std::memory_order_release); }
  void SetFlags(uint32_t mask) { Word().fetch_or(mask, std::memory_order_acq_rel); }
  void ClearFlags(uint32_t mask) { Word().fetch_and(~mask, std::memory_order_acq_rel); }
  // True when any bit of mask is set.
  bool TestFlags(uint32_t mask) const { return (GetFlags() & mask) != 0; }

  // Steps the field of adjacent bits under mask to its next value in counting order
  // (mask 0x30: 0x00, 0x10, 0x20, 0x30, 0x00, ...); a single bit toggles. Bits outside
  // mask stay.
  void CycleBits(uint32_t mask) {
    uint32_t old = GetFlags();
    while (!Word().compare_exchange_weak(old, (old & ~mask) | (((old & mask) - mask) & mask),
                                         std::memory_order_acq_rel)) {
    }
  }

 private:
  std::atomic_ref<uint32_t> Word() const {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(flags_));
  }

  alignas(std::atomic_ref<uint32_t>::required_alignment) uint32_t flags_ = 0;
};
