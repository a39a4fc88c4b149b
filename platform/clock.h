// Monotonic high-resolution clock for timing and the program clock. Never jumps
// with changes of the wall-clock time.
#pragma once

#include <cstdint>

namespace platform {

// Current value of the monotonic counter, in ticks.
std::int64_t ClockTicks();

// Ticks per second of ClockTicks (constant for the life of the process).
std::int64_t ClockFrequency();

// Current value of the monotonic counter in seconds (only differences mean anything).
double ClockSeconds();

}  // namespace platform
