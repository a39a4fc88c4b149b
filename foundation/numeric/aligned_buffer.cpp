#include "foundation/numeric/aligned_buffer.h"

#include <cstdlib>
#include <cstring>

const char* const kAllocationFailedMessage = "memory allocation failed";

namespace {
// Room in front of the data for the raw address, plus the rounding slack.
constexpr size_t kHeader = sizeof(void*) + 31;
constexpr size_t kByteLimit = 0xffffff00u;
}  // namespace

void* AlignedAllocate(size_t bytes) {
  if (bytes >= kByteLimit) throw kAllocationFailedMessage;
  void* raw = std::malloc(bytes + kHeader);
  if (raw == nullptr) throw kAllocationFailedMessage;
  uintptr_t address = (reinterpret_cast<uintptr_t>(raw) + kHeader) & ~static_cast<uintptr_t>(31);
  void* data = reinterpret_cast<void*>(address);
  std::memcpy(static_cast<char*>(data) - sizeof(void*), &raw, sizeof(void*));
  return data;
}

void AlignedRelease(void* data) {
  if (data == nullptr) return;
  void* raw;
  std::memcpy(&raw, static_cast<char*>(data) - sizeof(void*), sizeof(void*));
  std::free(raw);
}
