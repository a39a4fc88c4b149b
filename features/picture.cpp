#include "features/picture.h"

#include <atomic>
#include <cstdio>

namespace picture_detail {

void ThrowRangeError(const char* operation, uint32_t x, uint32_t y, uint32_t band, uint32_t width,
                     uint32_t height, uint32_t bands) {
  // Every throw takes the next buffer of a process-wide ring: concurrent
  // throws never share one, and the text outlives its thread (pool items
  // carry exceptions back to the caller). A buffer is reused only after
  // kRing later failures.
  constexpr unsigned kRing = 64;
  static char messages[kRing][256];
  static std::atomic<unsigned> next{0};
  char* message = messages[next.fetch_add(1, std::memory_order_relaxed) % kRing];
  message[0] = 0;
  std::snprintf(message, 256, "CPicture::%s: %u, %u, %u outside range [%u, %u, %u]", operation, x,
                y, band, width, height, bands);
  throw static_cast<const char*>(message);
}

void* AllocateBlock(uint64_t bytes) {
  void* block = std::malloc(static_cast<size_t>(bytes) + 16);
  if (block == nullptr) throw kAllocationFailedMessage;
  return block;
}

}  // namespace picture_detail
