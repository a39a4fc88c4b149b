// Atomic operations on plain 32-bit words: reference counts, counters and spin
// words that live inside records. Every operation is a full barrier
// (sequentially consistent), so callers need no extra fences.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// Adds 1 to *word and returns the new value.
inline std::int32_t AtomicIncrement(std::int32_t* word) {
  return std::atomic_ref<std::int32_t>(*word).fetch_add(1) + 1;
}

// Subtracts 1 from *word and returns the new value.
inline std::int32_t AtomicDecrement(std::int32_t* word) {
  return std::atomic_ref<std::int32_t>(*word).fetch_sub(1) - 1;
}

// Stores value into *word and returns the value it held before.
inline std::int32_t AtomicExchange(std::int32_t* word, std::int32_t value) {
  return std::atomic_ref<std::int32_t>(*word).exchange(value);
}

// Reads *word atomically without ordering (a "plain read" that is not a data race).
inline std::int32_t AtomicLoadRelaxed(const std::int32_t* word) {
  return std::atomic_ref<std::int32_t>(*const_cast<std::int32_t*>(word))
      .load(std::memory_order_relaxed);
}

}  // namespace platform
