#include "image/pixel_convert.h"

#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <immintrin.h>

namespace ImageFileIO {
namespace {

inline uint32_t Pixel(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0) {
  return b | (g << 8) | (r << 16) | (a << 24);
}

inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

inline uint32_t Le16(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[3]) | (uint32_t(p[2]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[0]) << 24);
}

inline uint32_t Rgb10Word(uint32_t w) {
  return Pixel((w >> 24) & 0xFF, (w >> 14) & 0xFF, (w >> 4) & 0xFF);
}

// 8-bit packed YCbCr (full range, chroma centred on 128).
inline uint32_t YCbCr8Packed(int y, int cb, int cr) {
  int b = y + ((227 * cb - 28992) >> 7);
  int g = y - ((183 * cr + 88 * cb - 34560) >> 8);
  int r = y + ((359 * cr - 45824) >> 8);
  return Pixel(Clamp255(r), Clamp255(g), Clamp255(b));
}

// 10-bit packed YCbCr; arguments are the 10-bit values.
inline uint32_t YCbCr10Packed(int y10, int cb10, int cr10) {
  int y = y10 << 6, cb = cb10 << 6, cr = cr10 << 6;
  int b = (((227 * cb) >> 7) + y - 57984) >> 8;
  int g = (y - ((183 * cr + 88 * cb) >> 8) + 34560) >> 8;
  int r = (((359 * cr) >> 8) + y - 45824) >> 8;
  return Pixel(Clamp255(r), Clamp255(g), Clamp255(b));
}

// Component c of a group of little-endian 10-bit triples.
inline int Component10(const uint8_t* group, int c) {
  static constexpr int kShift[3] = {22, 12, 2};
  return int((Le32(group + 4 * (c / 3)) >> kShift[c % 3]) & 0x3FF);
}

inline PlanarRows LoadRows(const uint8_t* src) {
  PlanarRows rows;
  std::memcpy(&rows, src, sizeof rows);
  return rows;
}

}  // namespace

void ConvertBits1(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    bool set = (src[i >> 3] >> (7 - (i & 7))) & 1;
    dst[i] = set ? 0u : 0x00FFFFFFu;
  }
}

void ConvertGray8(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dst[i] = uint32_t(src[i]) * 0x010101u;
}

void ConvertGray16First(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dst[i] = uint32_t(src[2 * i]) * 0x010101u;
}

void ConvertGray16Second(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dst[i] = uint32_t(src[2 * i + 1]) * 0x010101u;
}

// 5- and 6-bit channels widened to 8 bits by repeating their high bits, so full intensity stays
// 255 (a plain shift would make white 248).
inline uint32_t Widen5(uint32_t v) {
  return v << 3 | v >> 2;
}
inline uint32_t Widen6(uint32_t v) {
  return v << 2 | v >> 4;
}

void ConvertRGB555(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t w = Le16(src + 2 * i);
    dst[i] = Pixel(Widen5((w >> 10) & 31), Widen5((w >> 5) & 31), Widen5(w & 31));
  }
}

void ConvertRGB565(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t w = Le16(src + 2 * i);
    dst[i] = Pixel(Widen5((w >> 11) & 31), Widen6((w >> 5) & 63), Widen5(w & 31));
  }
}

void ConvertBGR24(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 3 * i;
    dst[i] = Pixel(p[2], p[1], p[0]);
  }
}

void ConvertRGB24(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 3 * i;
    dst[i] = Pixel(p[0], p[1], p[2]);
  }
}

void ConvertRGBA32(uint32_t* dst, const uint8_t* src, int32_t count) {
  // As words: swap the red and blue bytes (a form the compiler vectorises).
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t w = Le32(src + 4 * i);
    dst[i] = (w & 0xFF00FF00u) | ((w >> 16) & 0xFFu) | ((w & 0xFFu) << 16);
  }
}

void ConvertARGB32(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 4 * i;
    dst[i] = Pixel(p[1], p[2], p[3], p[0]);
  }
}

void ConvertABGR32(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 4 * i;
    dst[i] = Pixel(p[3], p[2], p[1], p[0]);
  }
}

void ConvertIdentity(uint32_t* dst, const uint8_t* src, int32_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    if (static_cast<const void*>(dst) == static_cast<const void*>(src)) return;
    std::memmove(dst, src, size_t(count) * 4);
  } else {
    for (int32_t i = 0; i < count; ++i) dst[i] = Le32(src + 4 * i);
  }
}

void ConvertRGB48First(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 6 * i;
    dst[i] = Pixel(p[0], p[2], p[4]);
  }
}

void ConvertBGR48First(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 6 * i;
    dst[i] = Pixel(p[4], p[2], p[0]);
  }
}

void ConvertRGBA64First(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + 8 * i;
    dst[i] = Pixel(p[0], p[2], p[4], p[6]);
  }
}

void ConvertRGB10(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dst[i] = Rgb10Word(Le32(src + 4 * i));
}

void ConvertRGB10Swapped(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) dst[i] = Rgb10Word(Be32(src + 4 * i));
}

void ConvertCbYCrY8(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; i += 2) {
    uint32_t w = Le32(src + 2 * i);  // read before the two pixels overwrite anything
    int cb = int(w >> 24), y0 = int((w >> 16) & 0xFF), cr = int((w >> 8) & 0xFF);
    int y1 = int(w & 0xFF);
    dst[i] = YCbCr8Packed(y0, cb, cr);
    if (i + 1 < count) dst[i + 1] = YCbCr8Packed(y1, cb, cr);
  }
}

void ConvertCbYCrY10(uint32_t* dst, const uint8_t* src, int32_t count) {
  // A row holds ceil(2 x count / 3) words. With an odd count the last pixel's Cr would lie one
  // component past them when 2 x count is a multiple of 3; it is taken as neutral then.
  const int64_t row_components = 3 * ((2 * int64_t(count) + 2) / 3);
  for (int32_t base = 0; base < count; base += 6) {
    const uint8_t* group = src + (base / 6) * 16;
    int left = count - base < 6 ? count - base : 6;
    // Components needed: 4 per pixel pair, 3 for a trailing single pixel.
    int needed = (left / 2) * 4 + (left & 1) * 3;
    int available = int(row_components - int64_t(base / 6) * 12);
    int c[12];
    for (int k = 0; k < needed; ++k) c[k] = k < available ? Component10(group, k) : 512;
    for (int p = 0; p < left; ++p) {
      int pair = p / 2;
      int y = c[4 * pair + 1 + 2 * (p & 1)];
      dst[base + p] = YCbCr10Packed(y, c[4 * pair], c[4 * pair + 2]);
    }
  }
}

namespace {

// Planar 8-bit rows to pixels by one sample rule; without chroma rows the grey converter.
template <typename Rule>
void ConvertPlanar8(uint32_t* dst, const uint8_t* src, int32_t count, ReadConverter grey,
                    Rule rule) {
  PlanarRows rows = LoadRows(src);
  const uint8_t* yr = static_cast<const uint8_t*>(rows.plane[0]);
  const uint8_t* cbr = static_cast<const uint8_t*>(rows.plane[1]);
  const uint8_t* crr = static_cast<const uint8_t*>(rows.plane[2]);
  if (!cbr || !crr) {
    grey(dst, yr, count);
    return;
  }
  for (int32_t i = 0; i < count; ++i) dst[i] = rule(yr[i], cbr[i], crr[i]);
}

// Studio (limited) range BT.601 in 16 fractional bits: luma 16..235 and chroma 16..240 span
// the full 0..255.
constexpr int kLumaGain = 76309;  // 255 / 219
inline int StudioLuma(int y) {
  return (y - 16) * kLumaGain + 32768;
}

}  // namespace

void ConvertYCbCrRows8(uint32_t* dst, const uint8_t* src, int32_t count) {
  ConvertPlanar8(dst, src, count, ConvertGray8, [](int y, int cb, int cr) {
    int b = y + ((3628 * cb - 463360) >> 11);
    int g = y + ((279040 - 707 * cb - 1465 * cr) >> 11);
    int r = y + ((2870 * cr - 366464) >> 11);
    return Pixel(Clamp255(r), Clamp255(g), Clamp255(b));
  });
}

void ConvertGray8Limited(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const int g = Clamp255(StudioLuma(src[i]) >> 16);
    dst[i] = Pixel(g, g, g);
  }
}

void ConvertYCbCrRows8Limited(uint32_t* dst, const uint8_t* src, int32_t count) {
  ConvertPlanar8(dst, src, count, ConvertGray8Limited, [](int luma, int cb, int cr) {
    const int y = StudioLuma(luma);
    cb -= 128;
    cr -= 128;
    const int r = (y + 104597 * cr) >> 16;
    const int g = (y - 25675 * cb - 53279 * cr) >> 16;
    const int b = (y + 132201 * cb) >> 16;
    return Pixel(Clamp255(r), Clamp255(g), Clamp255(b));
  });
}

namespace {

// Pixels [i, count) one at a time: the reference the vector forms match bit for bit.
void YCbCr16Scalar(uint32_t* dst, const int16_t* yr, const int16_t* cbr, const int16_t* crr,
                   int32_t i, int32_t count) {
  for (; i < count; ++i) {
    int c = yr[i] + 32, cb = cbr[i], cr = crr[i];
    int b = (512 * c + 907 * cb) >> 15;
    int g = (2048 * c - 707 * cb - 1465 * cr) >> 17;
    int r = (2048 * c + 2870 * cr) >> 17;
    dst[i] = Pixel(Clamp255(r), Clamp255(g), Clamp255(b));
  }
}

// Eight pixels at a time with the same 32-bit sums; the saturating packs are the clamps.
// (2048 * (y + 32) is written 2048 * y + 65536 so that y needs no widening.) Returns the first
// pixel left undone.
int32_t YCbCr16Sse2(uint32_t* dst, const int16_t* yr, const int16_t* cbr, const int16_t* crr,
                    int32_t i, int32_t count) {
  const __m128i k_b = _mm_setr_epi16(512, 907, 512, 907, 512, 907, 512, 907);
  const __m128i k_g = _mm_setr_epi16(2048, -707, 2048, -707, 2048, -707, 2048, -707);
  const __m128i k_g2 = _mm_setr_epi16(-1465, 0, -1465, 0, -1465, 0, -1465, 0);
  const __m128i k_r = _mm_setr_epi16(2048, 2870, 2048, 2870, 2048, 2870, 2048, 2870);
  const __m128i bias_b = _mm_set1_epi32(16384), bias_rg = _mm_set1_epi32(65536);
  const __m128i zero = _mm_setzero_si128(), alpha = _mm_setzero_si128();
  for (; i + 8 <= count; i += 8) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yr + i));
    const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cbr + i));
    const __m128i cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(crr + i));
    __m128i out[3];
    for (int half = 0; half < 2; ++half) {
      const __m128i ycb = half ? _mm_unpackhi_epi16(y, cb) : _mm_unpacklo_epi16(y, cb);
      const __m128i ycr = half ? _mm_unpackhi_epi16(y, cr) : _mm_unpacklo_epi16(y, cr);
      const __m128i cr0 = half ? _mm_unpackhi_epi16(cr, zero) : _mm_unpacklo_epi16(cr, zero);
      const __m128i b = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ycb, k_b), bias_b), 15);
      const __m128i g = _mm_srai_epi32(
          _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(ycb, k_g), _mm_madd_epi16(cr0, k_g2)),
                        bias_rg),
          17);
      const __m128i r = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(ycr, k_r), bias_rg), 17);
      if (half == 0) {
        out[0] = b;
        out[1] = g;
        out[2] = r;
      } else {
        out[0] = _mm_packs_epi32(out[0], b);
        out[1] = _mm_packs_epi32(out[1], g);
        out[2] = _mm_packs_epi32(out[2], r);
      }
    }
    const __m128i b8 = _mm_packus_epi16(out[0], out[0]);
    const __m128i g8 = _mm_packus_epi16(out[1], out[1]);
    const __m128i r8 = _mm_packus_epi16(out[2], out[2]);
    const __m128i bg = _mm_unpacklo_epi8(b8, g8), ra = _mm_unpacklo_epi8(r8, alpha);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), _mm_unpackhi_epi16(bg, ra));
  }
  return i;
}

// The same sums sixteen pixels at a time. The unpacks and packs work within each 128-bit half,
// so pixels 0-7 and 8-15 stay in their own halves until the final cross-half permute.
__attribute__((target("avx2"))) int32_t YCbCr16Avx2(uint32_t* dst, const int16_t* yr,
                                                    const int16_t* cbr, const int16_t* crr,
                                                    int32_t i, int32_t count) {
  const __m256i k_b = _mm256_set1_epi32(907 << 16 | 512);
  const __m256i k_g = _mm256_set1_epi32(int32_t(uint32_t(uint16_t(-707)) << 16 | 2048));
  const __m256i k_g2 = _mm256_set1_epi32(int32_t(uint16_t(-1465)));
  const __m256i k_r = _mm256_set1_epi32(2870 << 16 | 2048);
  const __m256i bias_b = _mm256_set1_epi32(16384), bias_rg = _mm256_set1_epi32(65536);
  const __m256i zero = _mm256_setzero_si256();
  for (; i + 16 <= count; i += 16) {
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yr + i));
    const __m256i cb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cbr + i));
    const __m256i cr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(crr + i));
    __m256i out[3];
    for (int half = 0; half < 2; ++half) {
      const __m256i ycb = half ? _mm256_unpackhi_epi16(y, cb) : _mm256_unpacklo_epi16(y, cb);
      const __m256i ycr = half ? _mm256_unpackhi_epi16(y, cr) : _mm256_unpacklo_epi16(y, cr);
      const __m256i cr0 = half ? _mm256_unpackhi_epi16(cr, zero) : _mm256_unpacklo_epi16(cr, zero);
      const __m256i b =
          _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(ycb, k_b), bias_b), 15);
      const __m256i g = _mm256_srai_epi32(
          _mm256_add_epi32(
              _mm256_add_epi32(_mm256_madd_epi16(ycb, k_g), _mm256_madd_epi16(cr0, k_g2)), bias_rg),
          17);
      const __m256i r =
          _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(ycr, k_r), bias_rg), 17);
      if (half == 0) {
        out[0] = b;
        out[1] = g;
        out[2] = r;
      } else {
        out[0] = _mm256_packs_epi32(out[0], b);
        out[1] = _mm256_packs_epi32(out[1], g);
        out[2] = _mm256_packs_epi32(out[2], r);
      }
    }
    const __m256i b8 = _mm256_packus_epi16(out[0], out[0]);
    const __m256i g8 = _mm256_packus_epi16(out[1], out[1]);
    const __m256i r8 = _mm256_packus_epi16(out[2], out[2]);
    const __m256i bg = _mm256_unpacklo_epi8(b8, g8), ra = _mm256_unpacklo_epi8(r8, zero);
    const __m256i lo = _mm256_unpacklo_epi16(bg, ra), hi = _mm256_unpackhi_epi16(bg, ra);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                        _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 8),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
  }
  return i;
}

const bool g_has_avx2 = __builtin_cpu_supports("avx2");

}  // namespace

void ConvertYCbCrRows16By(YCbCr16Path path, uint32_t* dst, const uint8_t* src, int32_t count) {
  PlanarRows rows = LoadRows(src);
  const int16_t* yr = static_cast<const int16_t*>(rows.plane[0]);
  const int16_t* cbr = static_cast<const int16_t*>(rows.plane[1]);
  const int16_t* crr = static_cast<const int16_t*>(rows.plane[2]);
  int32_t i = 0;
  if (path == YCbCr16Path::kAvx2 && g_has_avx2) i = YCbCr16Avx2(dst, yr, cbr, crr, i, count);
  if (path != YCbCr16Path::kScalar) i = YCbCr16Sse2(dst, yr, cbr, crr, i, count);
  YCbCr16Scalar(dst, yr, cbr, crr, i, count);
}

void ConvertYCbCrRows16(uint32_t* dst, const uint8_t* src, int32_t count) {
  ConvertYCbCrRows16By(YCbCr16Path::kAvx2, dst, src, count);
}

void ConvertGrayRow16(uint32_t* dst, const uint8_t* src, int32_t count) {
  PlanarRows rows = LoadRows(src);
  const int16_t* yr = static_cast<const int16_t*>(rows.plane[0]);
  for (int32_t i = 0; i < count; ++i) dst[i] = uint32_t(Clamp255((yr[i] + 32) >> 6)) * 0x010101u;
}

void ConvertRGBRows16(uint32_t* dst, const uint8_t* src, int32_t count) {
  PlanarRows rows = LoadRows(src);
  const int16_t* p0 = static_cast<const int16_t*>(rows.plane[0]);
  const int16_t* p1 = static_cast<const int16_t*>(rows.plane[1]);
  const int16_t* p2 = static_cast<const int16_t*>(rows.plane[2]);
  for (int32_t i = 0; i < count; ++i) {
    int r = Clamp255((p0[i] + 32) >> 6);
    int g = Clamp255((p1[i] + 8224) >> 6);
    int b = Clamp255((p2[i] + 8224) >> 6);
    dst[i] = Pixel(r, g, b);
  }
}

// --- write converters ------------------------------------------------------------------------

void WriteGray8(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t p = src[i];
    uint32_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
    dst[i] = uint8_t((9 * b + 36 * g + 19 * r + 32) >> 6);
  }
}

void WriteGray16(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t p = src[i];
    uint32_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
    uint32_t v = 76 * r + 144 * g + 36 * b;
    dst[2 * i] = uint8_t(v >> 8);
    dst[2 * i + 1] = uint8_t(v);
  }
}

void WriteRGB24(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t p = src[i];
    dst[3 * i] = uint8_t(p >> 16);
    dst[3 * i + 1] = uint8_t(p >> 8);
    dst[3 * i + 2] = uint8_t(p);
  }
}

void WriteBGR24(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t p = src[i];
    dst[3 * i] = uint8_t(p);
    dst[3 * i + 1] = uint8_t(p >> 8);
    dst[3 * i + 2] = uint8_t(p >> 16);
  }
}

void WriteRGB48(uint8_t* dst, const uint32_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t p = src[i];
    uint8_t* d = dst + 6 * i;
    d[0] = uint8_t(p >> 16);
    d[1] = 0;
    d[2] = uint8_t(p >> 8);
    d[3] = 0;
    d[4] = uint8_t(p);
    d[5] = 0;
  }
}

// --- chroma -----------------------------------------------------------------------------------

void UpsampleChroma2(const uint8_t* src, int32_t n, uint8_t* dst, int flags) {
  if (n <= 0) return;
  if (flags & 0x04) {
    *dst++ = src[0];
    for (int32_t i = 0; i + 1 < n; ++i) {
      int a = src[i], b = src[i + 1];
      *dst++ = uint8_t((3 * a + b + 2) >> 2);
      *dst++ = uint8_t((a + 3 * b + 2) >> 2);
    }
    *dst = src[n - 1];
  } else {
    for (int32_t i = 0; i + 1 < n; ++i) {
      *dst++ = src[i];
      *dst++ = uint8_t((src[i] + src[i + 1] + 1) >> 1);
    }
    dst[0] = dst[1] = src[n - 1];
  }
}

void UpsampleChroma4(int32_t n, const uint8_t* src, uint8_t* dst) {
  if (n <= 0) return;
  for (int32_t i = 0; i + 1 < n; ++i) {
    int b = src[i], c = src[i + 1];
    *dst++ = uint8_t(b);
    *dst++ = uint8_t((c + 3 * b + 1) >> 2);
    *dst++ = uint8_t((b + c) >> 1);
    *dst++ = uint8_t((b + 3 * c) >> 2);
  }
  dst[0] = dst[1] = dst[2] = dst[3] = src[n - 1];
}

void InterpolateChroma2D(const uint8_t* row_g, uint8_t* dst, const uint8_t* row_f, int p, int w,
                         int32_t n) {
  if (n <= 0) return;
  for (int32_t i = 0; i + 1 < n; ++i) {
    int f0 = row_f[i], f1 = row_f[i + 1], g0 = row_g[i], g1 = row_g[i + 1];
    for (int q = p; q <= p + 4; q += 4) {
      int vf = 8 * f0 + q * (f1 - f0);
      int vg = 8 * g0 + q * (g1 - g0);
      *dst++ = uint8_t(Clamp255(((8 - w) * vf + w * vg + 32) >> 6));
    }
  }
  int f = row_f[n - 1], g = row_g[n - 1];
  dst[0] = dst[1] = uint8_t(Clamp255(((8 - w) * f + w * g + 4) >> 3));
}

void UpsampleChroma420(int32_t y, uint8_t* dst, const uint8_t* plane, int32_t stride,
                       int32_t chroma_width, int32_t chroma_height, int flags) {
  const bool interlaced = (flags & 0x03) != 0;
  const int32_t e = (flags & 0x08) ? 2 * y - 1 : 2 * y;
  int32_t f = e >> 2;
  int32_t g = f + 1;
  if (interlaced && ((f ^ y) & 1)) {
    f -= 1;
  }
  if (interlaced) g = f + 2;
  auto clamp_row = [&](int32_t row) {
    if (row < 0) return interlaced ? (row & 1) : 0;
    if (row > chroma_height - 1)
      return interlaced ? chroma_height - 2 + (row & 1) : chroma_height - 1;
    return row;
  };
  f = clamp_row(f);
  g = clamp_row(g);
  // A field of one row leaves nothing to clamp into; stay inside the plane.
  if (f < 0) f = 0;
  if (g < 0) g = 0;
  int w = 0;
  if (g > f && 4 * f < e) {
    w = e - 4 * f;
    if (g == f + 1) w *= 2;
  }
  const uint8_t* rf = plane + std::ptrdiff_t(f) * stride;
  if (w == 0) {
    UpsampleChroma2(rf, chroma_width, dst, flags);
  } else {
    const uint8_t* rg = plane + std::ptrdiff_t(g) * stride;
    InterpolateChroma2D(rg, dst, rf, (flags & 0x04) ? -2 : 0, w, chroma_width);
  }
}

void WidenLuma16(int32_t n, const uint8_t* src, int16_t* dst) {
  for (int32_t i = 0; i < n; ++i) dst[i] = int16_t(src[i] << 6);
}

void InterpolateChromaRows(int32_t n, const uint8_t* centre, uint8_t* out_above, uint8_t* out_below,
                           const uint8_t* above, const uint8_t* below) {
  for (int32_t i = 0; i < n; ++i) {
    int c = centre[i];
    out_above[i] = uint8_t((3 * c + above[i] + 2) >> 2);
    out_below[i] = uint8_t((3 * c + below[i] + 2) >> 2);
  }
}

void WidenChroma16(const uint8_t* src, int32_t n, int16_t* dst) {
  for (int32_t i = 0; i < n; ++i) {
    int c = src[i] - 128;
    int prev = (i > 0 ? src[i - 1] : src[0]) - 128;
    dst[2 * i] = int16_t(16 * (prev + 3 * c));
    if (i + 1 < n) {
      int next = src[i + 1] - 128;
      dst[2 * i + 1] = int16_t(16 * (3 * c + next));
    } else {
      dst[2 * i + 1] = int16_t(64 * c);
    }
  }
}

void SwapBytes32(int32_t count, const void* src, void* dst) {
  const uint8_t* s = static_cast<const uint8_t*>(src);
  uint8_t* d = static_cast<uint8_t*>(dst);
  for (int32_t i = 0; i < count; ++i, s += 4, d += 4) {
    uint8_t b0 = s[0], b1 = s[1], b2 = s[2], b3 = s[3];
    d[0] = b3;
    d[1] = b2;
    d[2] = b1;
    d[3] = b0;
  }
}

long ReportImageError(long code) {
  // One stdio call per line: the stream's own lock keeps threads from interleaving within it.
  std::fprintf(stderr, "Error %li\n", code);
  return code;
}

}  // namespace ImageFileIO
