#pragma once

// BitMask: a 32-bit flag word as a base class (features, 3D points, images).
// No virtual operations; the word starts at 0.

#include <cstdint>

class BitMask {
 public:
  BitMask() = default;
  explicit BitMask(uint32_t flags) : flags_(flags) {}

  uint32_t GetFlags() const { return flags_; }
  // Replaces the whole word.
  void AssignFlags(uint32_t flags) { flags_ = flags; }
  void SetFlags(uint32_t mask) { flags_ |= mask; }
  void ClearFlags(uint32_t mask) { flags_ &= ~mask; }
  // True when any bit of mask is set.
  bool TestFlags(uint32_t mask) const { return (flags_ & mask) != 0; }

  // Steps the field of adjacent bits under mask to its next value in counting order
  // (mask 0x30: 0x00, 0x10, 0x20, 0x30, 0x00, ...); a single bit toggles. Bits outside
  // mask stay.
  void CycleBits(uint32_t mask) { flags_ = (flags_ & ~mask) | (((flags_ & mask) - mask) & mask); }

 private:
  uint32_t flags_ = 0;
};
