// Bounded printf-style formatting with C99 vsnprintf semantics: at most size - 1
// characters are written, the result is always NUL-terminated when size > 0, and
// the return value is the length the full text would have had (negative only on an
// encoding error). Truncation is therefore detected by result >= size.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace platform {

int FormatBounded(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

int FormatBoundedV(char* buffer, std::size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

}  // namespace platform
