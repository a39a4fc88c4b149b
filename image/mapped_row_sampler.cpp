#include "image/mapped_row_sampler.h"

#include <algorithm>
#include <climits>

#if defined(__SSE2__)
#include <immintrin.h>
#define KX_SAMPLER_SSE2 1
#else
#define KX_SAMPLER_SSE2 0
#endif

uint32_t BlendPixels(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, int32_t fx,
                     int32_t fy) {
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    const int32_t a = (p00 >> s) & 255, b = (p10 >> s) & 255;
    const int32_t c = (p01 >> s) & 255, d = (p11 >> s) & 255;
    const int32_t top = a * 64 + (((b - a) * fx) >> 10);
    const int32_t bottom = c * 64 + (((d - c) * fx) >> 10);
    const int32_t r = (top + (((bottom - top) * fy) >> 16) + 32) >> 6;
    out |= static_cast<uint32_t>(r) << s;
  }
  return out;
}

// All corner values are in units of 1/64: pixels ×64, half-pixels ×8, the
// centre ×1.
uint32_t FourTapPixel(const ArrayMap<unsigned int>& src, int64_t x, int64_t y, int32_t fx,
                      int32_t fy) {
  const unsigned int* rows[4];
  for (int j = 0; j < 4; ++j)
    rows[j] = src.data + static_cast<size_t>(y - 1 + j) * src.stride + (x - 1);
  const bool right = fx >= 32768, lower = fy >= 32768;
  const int32_t gx = fx & 0x7FFF, gy = fy & 0x7FFF;
  uint32_t out = 0;
  for (int s = 0; s < 32; s += 8) {
    int32_t n[4][4];
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) n[j][i] = (rows[j][i] >> s) & 255;
    auto h = [&](int j) { return 5 * (n[j][1] + n[j][2]) - n[j][0] - n[j][3]; };
    int32_t v[4];
    for (int i = 0; i < 4; ++i) v[i] = 5 * (n[1][i] + n[2][i]) - n[0][i] - n[3][i];
    const int32_t centre = 5 * (v[1] + v[2]) - v[0] - v[3];
    int32_t tl, tr, bl, br;
    if (!right && !lower) {
      tl = n[1][1] * 64, tr = h(1) * 8, bl = v[1] * 8, br = centre;
    } else if (right && !lower) {
      tl = h(1) * 8, tr = n[1][2] * 64, bl = centre, br = v[2] * 8;
    } else if (!right) {
      tl = v[1] * 8, tr = centre, bl = n[2][1] * 64, br = h(2) * 8;
    } else {
      tl = centre, tr = v[2] * 8, bl = h(2) * 8, br = n[2][2] * 64;
    }
    const int32_t top = tl + (((tr - tl) * gx) >> 15);
    const int32_t bottom = bl + (((br - bl) * gx) >> 15);
    const int32_t value = (top + (((bottom - top) * gy) >> 15) + 32) >> 6;
    out |= static_cast<uint32_t>(std::clamp(value, 0, 255)) << s;
  }
  return out;
}

namespace {

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// One pixel by the definition, at a 16.16 position.
template <int N>
uint32_t SampleOne(const ArrayMap<unsigned int>& src, uint32_t border, int32_t fixed_x,
                   int32_t fixed_y) {
  const int64_t x = fixed_x >> 16, y = fixed_y >> 16;
  const int64_t w = src.width, h = src.height;
  auto at = [&](int64_t px, int64_t py) {
    return static_cast<uint64_t>(px) < static_cast<uint64_t>(w) &&
                   static_cast<uint64_t>(py) < static_cast<uint64_t>(h)
               ? src.data[static_cast<size_t>(py) * src.stride + static_cast<size_t>(px)]
               : border;
  };
  if (N == 1) return at(x, y);
  const int32_t fx = fixed_x & 0xFFFF, fy = fixed_y & 0xFFFF;
  if (N == 4 && x >= 1 && x + 2 < w && y >= 1 && y + 2 < h) return FourTapPixel(src, x, y, fx, fy);
  return BlendPixels(at(x, y), at(x + 1, y), at(x, y + 1), at(x + 1, y + 1), fx, fy);
}

// Where the filter needs no border: integer parts x in [lo_x, lo_x + range_x]
// and y in [lo_y, lo_y + range_y]; none when the source is too small.
struct Span {
  int64_t lo_x, lo_y;
  uint64_t range_x, range_y;
  bool any;
};

Span MakeSpan(int64_t lo_x, int64_t hi_x, int64_t lo_y, int64_t hi_y) {
  return {lo_x, lo_y, static_cast<uint64_t>(hi_x - lo_x), static_cast<uint64_t>(hi_y - lo_y),
          hi_x >= lo_x && hi_y >= lo_y};
}

// The positions of the four pixels of a record when all of them lie inside
// the span: the ends do, the positions being linear in k. Such positions are
// far from the 32-bit limits, so no clamping applies.
inline bool Inside(const MappedCoord& c, const Span& span, int32_t xs[4], int32_t ys[4]) {
  const int64_t x3 = c.x + int64_t{3} * c.dx, y3 = c.y + int64_t{3} * c.dy;
  auto out = [](int64_t p, int64_t lo, uint64_t range) -> int {  // int: one branch for all four
    return static_cast<uint64_t>((p >> 16) - lo) > range;
  };
  if (out(c.x, span.lo_x, span.range_x) | out(x3, span.lo_x, span.range_x) |
      out(c.y, span.lo_y, span.range_y) | out(y3, span.lo_y, span.range_y))
    return false;
  for (int k = 0; k < 4; ++k) {
    xs[k] = static_cast<int32_t>(c.x + int64_t{k} * c.dx);
    ys[k] = static_cast<int32_t>(c.y + int64_t{k} * c.dy);
  }
  return true;
}

const uint32_t* PixelAt(const ArrayMap<unsigned int>& src, int32_t x, int32_t y) {
  return src.data + static_cast<size_t>(y >> 16) * src.stride + static_cast<size_t>(x >> 16);
}

// Four pixels whose cells lie inside: the portable forms.
void NearestFour(uint32_t* out, const ArrayMap<unsigned int>& src, const MappedCoord&,
                 const int32_t xs[4], const int32_t ys[4]) {
  for (int k = 0; k < 4; ++k) out[k] = *PixelAt(src, xs[k], ys[k]);
}

void BlendFour(uint32_t* out, const ArrayMap<unsigned int>& src, const MappedCoord&,
               const int32_t xs[4], const int32_t ys[4]) {
  for (int k = 0; k < 4; ++k) {
    const uint32_t* p = PixelAt(src, xs[k], ys[k]);
    out[k] =
        BlendPixels(p[0], p[1], p[src.stride], p[src.stride + 1], xs[k] & 0xFFFF, ys[k] & 0xFFFF);
  }
}

void FourTapFour(uint32_t* out, const ArrayMap<unsigned int>& src, const MappedCoord&,
                 const int32_t xs[4], const int32_t ys[4]) {
  for (int k = 0; k < 4; ++k)
    out[k] = FourTapPixel(src, xs[k] >> 16, ys[k] >> 16, xs[k] & 0xFFFF, ys[k] & 0xFFFF);
}

#if KX_SAMPLER_SSE2

const bool g_has_avx2 = __builtin_cpu_supports("avx2");

// a + floor(d·f / 65536) on 16-bit lanes, f an unsigned 16-bit fraction: the
// signed high product reads f ≥ 32768 as f − 65536, which takes d off; it is
// added back.
inline __m128i AddScaled(__m128i a, __m128i d, __m128i f) {
  const __m128i product =
      _mm_add_epi16(_mm_mulhi_epi16(d, f), _mm_and_si128(d, _mm_srai_epi16(f, 15)));
  return _mm_add_epi16(a, product);
}

// The blend of two pixels' cells on 16-bit lanes (four channels each):
// top-left, top-right, bottom-left, bottom-right and the fractions per lane.
inline __m128i BlendTwo(__m128i p00, __m128i p10, __m128i p01, __m128i p11, __m128i fx,
                        __m128i fy) {
  // (b − a)·fx >> 10 = (64·(b − a))·fx >> 16, and 64·(b − a) fits 16 bits.
  const __m128i top =
      AddScaled(_mm_slli_epi16(p00, 6), _mm_slli_epi16(_mm_sub_epi16(p10, p00), 6), fx);
  const __m128i bottom =
      AddScaled(_mm_slli_epi16(p01, 6), _mm_slli_epi16(_mm_sub_epi16(p11, p01), 6), fx);
  const __m128i sum = AddScaled(top, _mm_sub_epi16(bottom, top), fy);
  return _mm_srai_epi16(_mm_add_epi16(sum, _mm_set1_epi16(32)), 6);
}

// The four positions of a record on 32-bit lanes, built in registers (a
// vector load of positions just stored as scalars would stall). Lanes wrap
// on overflow, which leaves the low 16 bits (the fractions) exact.
inline __m128i Positions(int32_t base, int32_t step) {
  const uint32_t b = static_cast<uint32_t>(base), d = static_cast<uint32_t>(step);
  return _mm_setr_epi32(static_cast<int32_t>(b), static_cast<int32_t>(b + d),
                        static_cast<int32_t>(b + 2 * d), static_cast<int32_t>(b + 3 * d));
}

// The two pixels at a (the left one in the low half).
inline __m128i Pair(const uint32_t* a) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a));
}

inline void BlendFourSse2(uint32_t* out, const ArrayMap<unsigned int>& src, const MappedCoord& c,
                          const int32_t xs[4], const int32_t ys[4]) {
  const size_t stride = src.stride;
  const uint32_t* p0 = PixelAt(src, xs[0], ys[0]);
  const uint32_t* p1 = PixelAt(src, xs[1], ys[1]);
  const uint32_t* p2 = PixelAt(src, xs[2], ys[2]);
  const uint32_t* p3 = PixelAt(src, xs[3], ys[3]);
  _mm_prefetch(reinterpret_cast<const char*>(p3 + 3 * stride), _MM_HINT_T0);  // see below
  // Left pixels of pixel 0 and 1 in the low half, right pixels in the high half.
  const __m128i top01 = _mm_unpacklo_epi32(Pair(p0), Pair(p1));
  const __m128i top23 = _mm_unpacklo_epi32(Pair(p2), Pair(p3));
  const __m128i bottom01 = _mm_unpacklo_epi32(Pair(p0 + stride), Pair(p1 + stride));
  const __m128i bottom23 = _mm_unpacklo_epi32(Pair(p2 + stride), Pair(p3 + stride));
  // Each pixel's fraction on its four channel lanes.
  const __m128i x = Positions(c.x, c.dx), y = Positions(c.y, c.dy);
  const __m128i x_lo = _mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i x_hi = _mm_shufflehi_epi16(x, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i y_lo = _mm_shufflelo_epi16(y, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i y_hi = _mm_shufflehi_epi16(y, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i fx01 = _mm_unpacklo_epi32(x_lo, x_lo), fx23 = _mm_unpackhi_epi32(x_hi, x_hi);
  const __m128i fy01 = _mm_unpacklo_epi32(y_lo, y_lo), fy23 = _mm_unpackhi_epi32(y_hi, y_hi);
  const __m128i zero = _mm_setzero_si128();
  const __m128i r01 =
      BlendTwo(_mm_unpacklo_epi8(top01, zero), _mm_unpackhi_epi8(top01, zero),
               _mm_unpacklo_epi8(bottom01, zero), _mm_unpackhi_epi8(bottom01, zero), fx01, fy01);
  const __m128i r23 =
      BlendTwo(_mm_unpacklo_epi8(top23, zero), _mm_unpackhi_epi8(top23, zero),
               _mm_unpacklo_epi8(bottom23, zero), _mm_unpackhi_epi8(bottom23, zero), fx23, fy23);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(r01, r23));
}

// The same on 256 bits: all four pixels in one register, pixels 0 and 1 in
// the low half.
__attribute__((target("avx2"))) inline __m256i AddScaled(__m256i a, __m256i d, __m256i f) {
  const __m256i product =
      _mm256_add_epi16(_mm256_mulhi_epi16(d, f), _mm256_and_si256(d, _mm256_srai_epi16(f, 15)));
  return _mm256_add_epi16(a, product);
}

__attribute__((target("avx2"))) inline __m128i PositionsAvx2(int32_t base, int32_t step) {
  return _mm_add_epi32(_mm_set1_epi32(base),
                       _mm_mullo_epi32(_mm_set1_epi32(step), _mm_setr_epi32(0, 1, 2, 3)));
}

__attribute__((target("avx2"))) inline __m256i Halves(__m128i low, __m128i high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

__attribute__((target("avx2"))) inline void BlendFourAvx2(uint32_t* out,
                                                          const ArrayMap<unsigned int>& src,
                                                          const MappedCoord& c, const int32_t xs[4],
                                                          const int32_t ys[4]) {
  const size_t stride = src.stride;
  const uint32_t* p0 = PixelAt(src, xs[0], ys[0]);
  const uint32_t* p1 = PixelAt(src, xs[1], ys[1]);
  const uint32_t* p2 = PixelAt(src, xs[2], ys[2]);
  const uint32_t* p3 = PixelAt(src, xs[3], ys[3]);
  // Tiles walk down the source row by row: ask for the cells a few rows below
  // ahead of their use (no effect on results).
  _mm_prefetch(reinterpret_cast<const char*>(p3 + 3 * stride), _MM_HINT_T0);
  const __m256i top =
      Halves(_mm_unpacklo_epi32(Pair(p0), Pair(p1)), _mm_unpacklo_epi32(Pair(p2), Pair(p3)));
  const __m256i bottom = Halves(_mm_unpacklo_epi32(Pair(p0 + stride), Pair(p1 + stride)),
                                _mm_unpacklo_epi32(Pair(p2 + stride), Pair(p3 + stride)));
  // The low 16 bits of position k on the four lanes of pixel k.
  const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5,  //
                                          8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13);
  const __m256i fx =
      _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(PositionsAvx2(c.x, c.dx)), spread);
  const __m256i fy =
      _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(PositionsAvx2(c.y, c.dy)), spread);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i p00 = _mm256_unpacklo_epi8(top, zero), p10 = _mm256_unpackhi_epi8(top, zero);
  const __m256i p01 = _mm256_unpacklo_epi8(bottom, zero), p11 = _mm256_unpackhi_epi8(bottom, zero);
  const __m256i upper =
      AddScaled(_mm256_slli_epi16(p00, 6), _mm256_slli_epi16(_mm256_sub_epi16(p10, p00), 6), fx);
  const __m256i lower =
      AddScaled(_mm256_slli_epi16(p01, 6), _mm256_slli_epi16(_mm256_sub_epi16(p11, p01), 6), fx);
  const __m256i sum = AddScaled(upper, _mm256_sub_epi16(lower, upper), fy);
  const __m256i r = _mm256_srai_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(32)), 6);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1)));
}

#endif  // KX_SAMPLER_SSE2

// The n (up to four) pixels of a record that needs the border or the 32-bit
// clamp: out of line, so that the packed loop keeps its registers.
template <int N>
__attribute__((noinline)) void EdgeGroup(uint32_t* out, const ArrayMap<unsigned int>& src,
                                         uint32_t border, const MappedCoord& c, int n) {
  for (int k = 0; k < n; ++k)
    out[k] = SampleOne<N>(src, border, Clamp32(c.x + int64_t{k} * c.dx),
                          Clamp32(c.y + int64_t{k} * c.dy));
}

// Four pixels of one record whose cells lie inside, given also as positions
// (xs, ys) for the scalar address arithmetic.
using FourFunction = void (*)(uint32_t*, const ArrayMap<unsigned int>&, const MappedCoord&,
                              const int32_t*, const int32_t*);

// Inlined into each form of the row, so that its four-pixel kernel is too.
template <int N, FourFunction kFour>
__attribute__((always_inline)) inline void SampleRow(uint32_t* out,
                                                     const ArrayMap<unsigned int>& src,
                                                     uint32_t border, const MappedCoord* coords,
                                                     int count) {
  // Integer parts for which the filter's pixels all exist.
  const int64_t w = src.width, h = src.height;
  const Span span = N == 1   ? MakeSpan(0, w - 1, 0, h - 1)
                    : N == 2 ? MakeSpan(0, w - 2, 0, h - 2)
                             : MakeSpan(1, w - 3, 1, h - 3);
  int32_t xs[4], ys[4];
  for (int i = 0; i < count; i += 4) {
    const MappedCoord& c = coords[i >> 2];
    if (span.any && i + 4 <= count && Inside(c, span, xs, ys)) {
      kFour(out + i, src, c, xs, ys);
      continue;
    }
    EdgeGroup<N>(out + i, src, border, c, std::min(4, count - i));
  }
}

using RowFunction = void (*)(uint32_t*, const ArrayMap<unsigned int>&, uint32_t, const MappedCoord*,
                             int);

template <int N, FourFunction kFour>
void Row(uint32_t* out, const ArrayMap<unsigned int>& src, uint32_t border,
         const MappedCoord* coords, int count) {
  SampleRow<N, kFour>(out, src, border, coords, count);
}

#if KX_SAMPLER_SSE2
__attribute__((target("avx2"))) void BlendRowAvx2(uint32_t* out, const ArrayMap<unsigned int>& src,
                                                  uint32_t border, const MappedCoord* coords,
                                                  int count) {
  SampleRow<2, BlendFourAvx2>(out, src, border, coords, count);
}
#endif

RowFunction ChooseRow(int order, SamplerPath path) {
  switch (order) {
    case 1:
      return Row<1, NearestFour>;
    case 2:
#if KX_SAMPLER_SSE2
      if (path == SamplerPath::kBest && g_has_avx2) return BlendRowAvx2;
      if (path != SamplerPath::kPortable) return Row<2, BlendFourSse2>;
#endif
      return Row<2, BlendFour>;
    case 4:
      return Row<4, FourTapFour>;
    default:
      return nullptr;
  }
}

}  // namespace

void SampleMappedRow(int order, uint32_t* out, const ArrayMap<unsigned int>& source,
                     uint32_t border, const MappedCoord* coords, int count, SamplerPath path) {
  (void)path;
  if (const RowFunction row = ChooseRow(order, path)) row(out, source, border, coords, count);
}
