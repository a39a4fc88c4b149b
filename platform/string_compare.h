// Case-insensitive comparison of byte strings. Only the ASCII letters A-Z and
// a-z are folded (bytes >= 128 compare as they are), whatever the locale.
#pragma once

#include <cstddef>

namespace platform {

// Compares a and b ignoring ASCII case; returns <0, 0 or >0 like strcmp, comparing
// letters in lower case. Neither may be null.
int CompareNoCase(const char* a, const char* b);

// As CompareNoCase, looking at no more than the first n bytes of either string.
int CompareNoCaseN(const char* a, const char* b, std::size_t n);

}  // namespace platform
