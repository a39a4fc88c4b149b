#include "platform/string_compare.h"

namespace platform {
namespace {

int Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

}  // namespace

int CompareNoCaseN(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    int ca = Fold(static_cast<unsigned char>(a[i]));
    int cb = Fold(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
  return 0;
}

int CompareNoCase(const char* a, const char* b) {
  return CompareNoCaseN(a, b, static_cast<std::size_t>(-1));
}

}  // namespace platform
