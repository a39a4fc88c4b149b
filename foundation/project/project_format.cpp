#include "foundation/project/project_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

int EncodeVarint(int32_t value, uint8_t out[PF_MAX_VARINT_BYTES]) {
  uint32_t u = value >= 0 ? 2u * static_cast<uint32_t>(value)
                          : 2u * static_cast<uint32_t>(-(value + 1)) + 1u;
  int n = 0;
  while (u >= 0x80) {
    out[n++] = static_cast<uint8_t>(((u & 0x7f) << 1) | 1);
    u >>= 7;
  }
  out[n++] = static_cast<uint8_t>(u << 1);
  return n;
}

void EncodeSingle(double value, uint8_t out[4]) {
  float f = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

double DecodeSingle(const uint8_t in[4]) {
  uint32_t bits = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                  static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

namespace {

// Writes `value` in exactly `width` digits (leading zeros kept).
char* PutDigits(char* p, long long value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return p + width;
}

int DigitCount(long long value) {
  int n = 1;
  while (value >= 10) {
    value /= 10;
    ++n;
  }
  return n;
}

long long PowerOf10(int k) {
  long long p = 1;
  while (k-- > 0) p *= 10;
  return p;
}

}  // namespace

int FormatAsciiInt(int32_t value, char out[PF_ASCII_NUMBER_SIZE]) {
  char* p = out;
  *p++ = ' ';
  long long v = value;
  if (v < 0) {
    *p++ = '-';
    v = -v;
  }
  p = PutDigits(p, v, DigitCount(v));
  *p = '\0';
  return static_cast<int>(p - out);
}

int FormatAsciiReal(double value, char out[PF_ASCII_NUMBER_SIZE]) {
  char* p = out;
  char* const end = out + PF_ASCII_NUMBER_SIZE - 1;
  *p++ = ' ';
  if (std::isnan(value)) {
    std::memcpy(p, "nan", 4);
    return 4;
  }
  if (value < 0) {
    *p++ = '-';
    value = -value;
  }
  if (value >= 10000 || value <= 0.0001) {
    if (value == 0) value = 0;  // no "-0"
    auto result = std::to_chars(p, end, value, std::chars_format::general, 8);
    p = result.ptr;
  } else if (value >= 1) {
    long long integer = static_cast<long long>(value);
    int digits = DigitCount(integer);
    int k = 8 - digits;
    long long scale = PowerOf10(k);
    long long fraction =
        static_cast<long long>((value - static_cast<double>(integer)) * scale + 0.5);
    p = PutDigits(p, integer, digits);
    if (fraction >= scale) {
      *p++ = '.';
      for (int i = 0; i < k; ++i) *p++ = '9';
    } else if (fraction != 0) {
      *p++ = '.';
      p = PutDigits(p, fraction, k);
    }
  } else {
    int zeros = value >= 0.1 ? 0 : value >= 0.01 ? 1 : value >= 0.001 ? 2 : 3;
    long long n = static_cast<long long>(value * static_cast<double>(PowerOf10(8 + zeros)) + 0.5);
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < zeros; ++i) *p++ = '0';
    if (n >= 100000000) {
      for (int i = 0; i < 8; ++i) *p++ = '9';
    } else {
      p = PutDigits(p, n / 10000, 4);
      if (n % 10000 != 0) p = PutDigits(p, n % 10000, 4);
    }
  }
  *p = '\0';
  return static_cast<int>(p - out);
}
