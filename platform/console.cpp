#include "platform/console.h"

#include <cstdarg>
#include <string>

namespace platform {

std::mutex& ConsoleMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: usable during exit
  return *mutex;
}

int ConsolePrintf(std::FILE* stream, const char* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return n;
  }
  std::string large;
  const char* text = small;
  if (static_cast<size_t>(n) >= sizeof small) {
    large.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    text = large.data();
  }
  va_end(again);
  std::lock_guard<std::mutex> lock(ConsoleMutex());
  size_t written = std::fwrite(text, 1, static_cast<size_t>(n), stream);
  std::fflush(stream);
  return static_cast<int>(written);
}

}  // namespace platform
