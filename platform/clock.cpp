#include "platform/clock.h"

#include <time.h>

namespace platform {

std::int64_t ClockTicks() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t ClockFrequency() {
  return 1000000000;
}

double ClockSeconds() {
  return static_cast<double>(ClockTicks()) * 1e-9;
}

}  // namespace platform
