// Lines written directly on the standard streams (outside the log). Each call
// formats the whole text first and writes it under one process-wide lock, so lines
// from different threads never interleave.
#pragma once

#include <cstdio>
#include <mutex>

namespace platform {

// printf to stream (stdout or stderr) as one uninterrupted write; returns the number of
// characters written or a negative value on error.
int ConsolePrintf(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The lock ConsolePrintf holds while it writes. Hold it to write several pieces that
// must stay together; do not call ConsolePrintf while holding it.
std::mutex& ConsoleMutex();

}  // namespace platform
