#include "image/take_time.h"

#include <cstdint>
#include <cstdio>

#include "platform/clock.h"
#include "platform/console.h"

namespace {

std::int64_t g_frequency = 1;
std::int64_t g_start = 0;
int g_calls = 0;
double g_sum_ms = 0;
double g_sum_ticks = 0;
double g_sum_rate = 0;

}  // namespace

void TakeTimeStart() {
  g_frequency = platform::ClockFrequency();
  g_start = platform::ClockTicks();
}

void TakeTime(const char* label) {
  const std::int64_t ticks = platform::ClockTicks() - g_start;
  const float ms =
      static_cast<float>(static_cast<double>(ticks) * 1000.0 / static_cast<double>(g_frequency));
  const float rate = 1000.0f / ms;
  if (g_calls == 0) {
    g_calls = 1;
    return;
  }
  g_sum_ms += ms;
  g_sum_ticks += static_cast<double>(ticks);
  g_sum_rate += rate;
  platform::ConsolePrintf(
      stdout,
      "TakeTime: %s: %.2f ms, mean %.2f ms, (%e cpu cycles, mean %e), fps %.2f Hz, mean fps "
      "%.2f Hz\n",
      label, static_cast<double>(ms), g_sum_ms / g_calls, static_cast<double>(ticks),
      g_sum_ticks / g_calls, static_cast<double>(rate), g_sum_rate / g_calls);
  std::fflush(stdout);
  ++g_calls;
}
