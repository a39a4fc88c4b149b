#include "platform/environment.h"

#include <stdlib.h>
#include <unistd.h>

namespace platform {

std::optional<std::string> GetEnvironmentVariable(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

int OnlineProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  if (n < 1) return 1;
  if (n > 1 << 20) return 1 << 20;
  return static_cast<int>(n);
}

}  // namespace platform
