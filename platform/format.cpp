#include "platform/format.h"

#include <cstdio>

namespace platform {

int FormatBoundedV(char* buffer, std::size_t size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

int FormatBounded(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}

}  // namespace platform
