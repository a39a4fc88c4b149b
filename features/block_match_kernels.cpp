#include "features/block_match_kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>

#if defined(__SSE2__)
#include <immintrin.h>
#define KX_BLOCK_SSE2 1
#endif

namespace {

// Which form of the kernels runs: the portable one, SSE2, or the best the processor
// offers (AVX2 for the horizontal passes where present); all give the same bits.
enum class KernelPath { kScalar, kSse2, kBest };

#if KX_BLOCK_SSE2
const bool g_has_avx2 = __builtin_cpu_supports("avx2");
#endif

bool UseAVX2(KernelPath path) {
#if KX_BLOCK_SSE2
  return path == KernelPath::kBest && g_has_avx2;
#else
  (void)path;
  return false;
#endif
}

// Scratch memory of a kernel call: on the stack when it fits (the usual 8x8
// blocks and small ranges), otherwise on the heap.
template <class T, size_t N>
class Scratch {
 public:
  explicit Scratch(size_t n) {
    if (n > N) {
      heap_.reset(new T[n]);
      data_ = heap_.get();
    }
  }
  T* get() { return data_; }

 private:
  T local_[N];
  std::unique_ptr<T[]> heap_;
  T* data_ = local_;
};

// Asks for the cache line of p ahead of its use (no effect on results).
inline void Prefetch(const void* p) {
#if KX_BLOCK_SSE2
  _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#else
  (void)p;
#endif
}

// trunc() of a position as an int; far-off or non-finite values are pinned to
// a range that still lies outside every image, so no conversion overflows.
int TruncPos(double v) {
  if (!(v > -1.0e9)) return -1000000000;
  if (v > 1.0e9) return 1000000000;
  return static_cast<int>(v);
}

double Sinc(double x) {
  if (std::fabs(x) < 0.0001) {
    const double x2 = x * x;
    return 1.0 - x2 / 6.0 + x2 * x2 / 120.0;
  }
  return std::sin(x) / x;
}

double Weight(double t, double a, double radius) {
  if (a > 0.0) return a * Sinc(std::numbers::pi * a * t) * Sinc(std::numbers::pi * t / radius);
  return std::exp(a * t * t);
}

int16_t RoundSaturate(double v) {
  // The kernels' taps: std::round's result without its library call. v minus its
  // truncation is exact, so the comparisons with one half are too.
  if (v > -40000.0 && v < 40000.0) {
    int r = static_cast<int>(v);
    const double f = v - r;
    if (f >= 0.5) ++r;
    if (f <= -0.5) --r;
    return static_cast<int16_t>(std::clamp(r, -32768, 32767));
  }
  const double r = std::round(v);  // half away from zero
  if (r >= 32767.0) return 32767;
  if (r <= -32768.0) return -32768;
  return static_cast<int16_t>(r);
}

int16_t Saturate16(int32_t v) {
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

// Plain kernel of n taps for offsets -(n/2 - 1) .. n/2.
// Scales the n weights w (their sum given) to a plain kernel: sum 32768, the centre
// excess rule, rounded.
void ScalePlainKernel(double* w, int n, double sum, int16_t* taps) {
  const int first = -(n / 2 - 1);
  const double scale = 32768.0 / sum;
  for (int i = 0; i < n; ++i) w[i] *= scale;
  const int c = -first;  // index of offset 0
  if (w[c] > 32767.0) {
    const double excess = w[c] - 32767.0;
    w[c] = 32767.0;
    w[c - 1] += excess * 0.5;
    w[c + 1] += excess * 0.5;
  }
  if (w[c + 1] > 32767.0) {
    const double excess = w[c + 1] - 32767.0;
    w[c + 1] = 32767.0;
    w[c] += excess * 0.5;
    w[c + 2] += excess * 0.5;
  }
  for (int i = 0; i < n; ++i) taps[i] = RoundSaturate(w[i]);
}

// Scales the eight derivative weights d (the plain weights w, their sum given) to a
// derivative kernel: 16384 over the weight sum. The taps are the derivative of the
// normalised interpolation the plain kernel makes, so their DC part, d's sum times
// w over the sum, is taken out: the eight-tap window is not centred on the fraction,
// and without this a flat image had a slope in proportion to its brightness (up to
// 2.5 % of it per pixel for a = -0.15) that pulled the refinement off. The rounding
// residue goes to the offset-0 tap, so a flat image's slope is exactly zero.
void ScaleDerivativeKernel(const double* w, const double* d, double sum, int16_t* taps) {
  double dc = 0.0;
  for (int i = 0; i < 8; ++i) dc += d[i];
  dc /= sum;
  const double scale = 16384.0 / sum;
  int total = 0;
  for (int i = 0; i < 8; ++i) {
    taps[i] = RoundSaturate((d[i] - w[i] * dc) * scale);
    total += taps[i];
  }
  taps[3] = Saturate16(taps[3] - total);
}

void MakePlainKernel(double f, double a, int n, int16_t* taps) {
  const int first = -(n / 2 - 1);
  const double radius = n / 2;
  double w[8];
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    w[i] = Weight(f - (first + i), a, radius);
    sum += w[i];
  }
  ScalePlainKernel(w, n, sum, taps);
}

// Gathers the source pixels one filtered row needs, edge pixels repeated:
// out[j] = row[clamp(x0 + j, 0, width - 1)] for j < count.
void GatherRow(const uint32_t* row, int width, int x0, int count, uint32_t* out) {
  for (int j = 0; j < count; ++j) {
    const int x = std::clamp(x0 + j, 0, width - 1);
    out[j] = row[x];
  }
}

// Horizontal pass: out[4 i + c] = sat16((Σk px[i + k].c · taps[k]) >> 9).
template <int kTaps>
void FilterRowScalar(const uint32_t* px, int count, const int16_t* taps, int16_t* out) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(px);
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < 4; ++c) {
      int32_t sum = 0;
      for (int k = 0; k < kTaps; ++k) sum += b[(i + k) * 4 + c] * taps[k];
      out[i * 4 + c] = Saturate16(sum >> 9);
    }
  }
}

#if KX_BLOCK_SSE2
// Taps 2k and 2k + 1 as one 32-bit word (2k in the low half).
inline int TapPair(const int16_t* taps, int k) {
  return static_cast<int>(static_cast<uint16_t>(taps[2 * k]) |
                          (static_cast<uint32_t>(static_cast<uint16_t>(taps[2 * k + 1])) << 16));
}

// Taps 2k and 2k + 1 side by side in every 32-bit lane of pairs[k], the operand of
// one multiply-add over interleaved samples.
template <int kTaps>
void TapPairs(const int16_t* taps, __m128i* pairs) {
  for (int k = 0; k < kTaps / 2; ++k) pairs[k] = _mm_set1_epi32(TapPair(taps, k));
}

// The same pass two taps at a time: the channels of pixels k and k + 1 are
// interleaved so that one multiply-add gives four exact 32-bit channel sums.
// With a second tap set (taps2, out2) both passes share the unpacked pixels.
template <int kTaps>
void FilterRowSSE2(const uint32_t* px, int count, const int16_t* taps, int16_t* out,
                   const int16_t* taps2 = nullptr, int16_t* out2 = nullptr) {
  const __m128i zero = _mm_setzero_si128();
  __m128i tapPairs[kTaps / 2], tapPairs2[kTaps / 2];
  TapPairs<kTaps>(taps, tapPairs);
  const bool two = taps2 != nullptr;
  if (two) TapPairs<kTaps>(taps2, tapPairs2);
  auto onePixel = [&](int i, __m128i* second) {
    __m128i acc = zero, acc2 = zero;
    for (int k = 0; k < kTaps / 2; ++k) {
      const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px + i + 2 * k));
      const __m128i w = _mm_unpacklo_epi8(p, zero);  // pixel k lanes 0-3, k + 1 lanes 4-7
      const __m128i inter = _mm_unpacklo_epi16(w, _mm_unpackhi_epi64(w, w));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(inter, tapPairs[k]));
      if (two) acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(inter, tapPairs2[k]));
    }
    *second = _mm_srai_epi32(acc2, 9);
    return _mm_srai_epi32(acc, 9);
  };
  int i = 0;
  __m128i b0, b1;
  for (; i + 1 < count; i += 2) {
    const __m128i a0 = onePixel(i, &b0), a1 = onePixel(i + 1, &b1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packs_epi32(a0, a1));
    if (two) _mm_storeu_si128(reinterpret_cast<__m128i*>(out2 + 4 * i), _mm_packs_epi32(b0, b1));
  }
  if (i < count) {
    const __m128i a0 = onePixel(i, &b0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packs_epi32(a0, zero));
    if (two) _mm_storel_epi64(reinterpret_cast<__m128i*>(out2 + 4 * i), _mm_packs_epi32(b0, zero));
  }
}
#endif

#if KX_BLOCK_SSE2
// 16 samples from p, unaligned.
__attribute__((target("avx2"))) inline __m256i Load16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Pixels p .. p + 3 with their channels widened to 16 bits.
__attribute__((target("avx2"))) inline __m256i Widen4(const uint32_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// FilterRowSSE2 four pixels at a time: the channels of the four pixels from k and
// from k + 1 are widened to 16 bits and interleaved, which leaves pixels i, i + 2 in
// the two lanes of one register and i + 1, i + 3 in the other; one multiply-add per
// tap pair and register gives the same exact 32-bit sums, and packing the two
// registers puts the four pixels back in order.
template <int kTaps>
__attribute__((target("avx2"), always_inline)) inline void FilterRowAVX2(
    const uint32_t* px, int count, const int16_t* taps, int16_t* out, const __m256i* tapPairs,
    const __m256i* tapPairs2, const int16_t* taps2, int16_t* out2) {
  const bool two = tapPairs2 != nullptr;
  int i = 0;
  // The last group reads up to pixel count + kTaps - 2, the last one the row has.
  for (; i + 4 <= count; i += 4) {
    __m256i even = _mm256_setzero_si256(), odd = even, even2 = even, odd2 = even;
    for (int k = 0; k < kTaps / 2; ++k) {
      const __m256i a = Widen4(px + i + 2 * k), b = Widen4(px + i + 2 * k + 1);
      const __m256i lo = _mm256_unpacklo_epi16(a, b), hi = _mm256_unpackhi_epi16(a, b);
      even = _mm256_add_epi32(even, _mm256_madd_epi16(lo, tapPairs[k]));
      odd = _mm256_add_epi32(odd, _mm256_madd_epi16(hi, tapPairs[k]));
      if (two) {
        even2 = _mm256_add_epi32(even2, _mm256_madd_epi16(lo, tapPairs2[k]));
        odd2 = _mm256_add_epi32(odd2, _mm256_madd_epi16(hi, tapPairs2[k]));
      }
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i),
                        _mm256_packs_epi32(_mm256_srai_epi32(even, 9), _mm256_srai_epi32(odd, 9)));
    if (two)
      _mm256_storeu_si256(
          reinterpret_cast<__m256i*>(out2 + 4 * i),
          _mm256_packs_epi32(_mm256_srai_epi32(even2, 9), _mm256_srai_epi32(odd2, 9)));
  }
  if (i < count)
    FilterRowSSE2<kTaps>(px + i, count - i, taps, out + 4 * i, taps2, two ? out2 + 4 * i : nullptr);
}

// Rows r = 0 .. n - 1: source pixels pxRows[r], output rows out + r * outStride (and
// out2 likewise); the taps are set up once for all of them.
template <int kTaps>
__attribute__((target("avx2"))) void FilterRowsAVX2(const uint32_t* const* pxRows, int n, int count,
                                                    const int16_t* taps, int16_t* out,
                                                    const int16_t* taps2, int16_t* out2,
                                                    ptrdiff_t outStride) {
  const bool two = taps2 != nullptr;
  __m256i tapPairs[kTaps / 2], tapPairs2[kTaps / 2];
  for (int k = 0; k < kTaps / 2; ++k) {
    tapPairs[k] = _mm256_set1_epi32(TapPair(taps, k));
    tapPairs2[k] = two ? _mm256_set1_epi32(TapPair(taps2, k)) : tapPairs[k];
  }
  for (int r = 0; r < n; ++r, out += outStride, out2 += two ? outStride : 0) {
    FilterRowAVX2<kTaps>(pxRows[r], count, taps, out, tapPairs, two ? tapPairs2 : nullptr, taps2,
                         out2);
  }
}

// The 16-bit samples ((sum >> 16) + 6, saturated) of two registers of 32-bit sums,
// packed per lane.
__attribute__((target("avx2"))) inline __m256i Finish16(__m256i l, __m256i h) {
  const __m256i six = _mm256_set1_epi32(6);
  return _mm256_packs_epi32(_mm256_add_epi32(_mm256_srai_epi32(l, 16), six),
                            _mm256_add_epi32(_mm256_srai_epi32(h, 16), six));
}

// The vertical pass of output rows 0 .. bh - 1 over their first `count` samples (a
// multiple of 16),
// 16 at a time: rows k and k + 1 interleaved as in the SSE2 form, which leaves samples
// s .. s + 3 and s + 8 .. s + 11 in one register and the others in a second; packing
// the two puts them back in order. To16: ((sum >> 16) + 6) saturated to out16, and
// with a second tap set (taps2) the same from the same loaded rows to out16b. Else
// 8-bit samples clamp((sum + 1310720) >> 21, 0, 255) to out8.
template <int kTaps, bool To16>
__attribute__((target("avx2"))) void VerticalBlockAVX2(const int16_t* rows, int rowSamples, int bh,
                                                       int count, const int16_t* taps,
                                                       const int16_t* taps2, int16_t* out16,
                                                       int16_t* out16b, ptrdiff_t stride16,
                                                       uint8_t* out8, ptrdiff_t stride8) {
  const bool two = taps2 != nullptr;
  __m256i tapPairs[kTaps / 2], tapPairs2[kTaps / 2];
  for (int k = 0; k < kTaps / 2; ++k) {
    tapPairs[k] = _mm256_set1_epi32(TapPair(taps, k));
    tapPairs2[k] = two ? _mm256_set1_epi32(TapPair(taps2, k)) : tapPairs[k];
  }
  const __m256i bias = _mm256_set1_epi32(1310720);
  __m256i pending = _mm256_setzero_si256();  // 8-bit output: the previous 16 samples
  for (int j = 0; j < bh; ++j, out16 += stride16, out16b += two ? stride16 : 0, out8 += stride8) {
    const int16_t* base = rows + static_cast<ptrdiff_t>(j) * rowSamples;
    for (int s = 0; s < count; s += 16) {
      __m256i lo = _mm256_setzero_si256(), hi = lo, lo2 = lo, hi2 = lo;
      for (int k = 0; k < kTaps / 2; ++k) {
        const int16_t* r0 = base + static_cast<ptrdiff_t>(2 * k) * rowSamples + s;
        const __m256i a = Load16(r0), b = Load16(r0 + rowSamples);
        const __m256i l = _mm256_unpacklo_epi16(a, b), h = _mm256_unpackhi_epi16(a, b);
        lo = _mm256_add_epi32(lo, _mm256_madd_epi16(l, tapPairs[k]));
        hi = _mm256_add_epi32(hi, _mm256_madd_epi16(h, tapPairs[k]));
        if (two) {
          lo2 = _mm256_add_epi32(lo2, _mm256_madd_epi16(l, tapPairs2[k]));
          hi2 = _mm256_add_epi32(hi2, _mm256_madd_epi16(h, tapPairs2[k]));
        }
      }
      if constexpr (To16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out16 + s), Finish16(lo, hi));
        if (two) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out16b + s), Finish16(lo2, hi2));
      } else {
        // (sum >> 21) fits 16 bits; the unsigned pack clamps to 0 .. 255. Bytes go out 32
        // at a time; an odd last group of 16 alone.
        const __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo, bias), 21),
                                             _mm256_srai_epi32(_mm256_add_epi32(hi, bias), 21));
        if ((s & 16) == 0) {
          pending = v;
          if (s + 16 >= count) {
            const __m256i bytes = _mm256_packus_epi16(v, v);  // per lane: s..s+7 twice, s+8..
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out8 + s), _mm256_castsi256_si128(bytes));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out8 + s + 8),
                             _mm256_extracti128_si256(bytes, 1));
          }
        } else {
          const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(pending, v), 0xD8);
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out8 + s - 16), bytes);
        }
      }
    }
  }
}
#endif

// Filters the bh + kTaps - 1 source rows a block needs. Row r of `rows`
// (4 * bw samples) is source row clamp(y0 + r) filtered from column x0.
// A second tap set (taps2, rows2) filters the same source rows in the same pass.
template <int kTaps>
void FilterRows(const uint32_t* src, int stride, int width, int height, int x0, int y0, int bw,
                int bh, const int16_t* taps, int16_t* rows, KernelPath path,
                const int16_t* taps2 = nullptr, int16_t* rows2 = nullptr) {
  const int span = bw + kTaps - 1;
  const int n = bh + kTaps - 1;
  // Columns inside the image (with the pixel after them) are read in place, others
  // gathered with the edge pixels repeated; +1: the packed pass reads pixel pairs.
  const bool inside = x0 >= 0 && static_cast<int64_t>(x0) + span + 1 <= width;
  Scratch<uint32_t, 64 * 24> gathered(inside ? 0 : static_cast<size_t>(span + 1) * n);
  Scratch<const uint32_t*, 32> pxRows(n);
  for (int r = 0; r < n; ++r) {
    const int y = std::clamp(y0 + r, 0, height - 1);
    const uint32_t* row = src + static_cast<ptrdiff_t>(y) * stride;
    if (inside) {
      pxRows.get()[r] = row + x0;
      // A block's rows are usually not cached yet: ask for all of them before the
      // first is filtered, so their loads overlap.
      Prefetch(row + x0);
      Prefetch(row + x0 + span);
      continue;
    }
    uint32_t* g = gathered.get() + static_cast<ptrdiff_t>(r) * (span + 1);
    GatherRow(row, width, x0, span, g);
    g[span] = 0;
    pxRows.get()[r] = g;
  }
#if KX_BLOCK_SSE2
  if (UseAVX2(path)) {
    FilterRowsAVX2<kTaps>(pxRows.get(), n, bw, taps, rows, taps2, rows2,
                          static_cast<ptrdiff_t>(bw) * 4);
    return;
  }
#endif
  for (int r = 0; r < n; ++r) {
    const uint32_t* px = pxRows.get()[r];
    int16_t* out = rows + static_cast<ptrdiff_t>(r) * bw * 4;
    int16_t* out2 = taps2 != nullptr ? rows2 + static_cast<ptrdiff_t>(r) * bw * 4 : nullptr;
#if KX_BLOCK_SSE2
    if (path != KernelPath::kScalar) {
      FilterRowSSE2<kTaps>(px, bw, taps, out, taps2, out2);
      continue;
    }
#else
    (void)path;
#endif
    FilterRowScalar<kTaps>(px, bw, taps, out);
    if (taps2 != nullptr) FilterRowScalar<kTaps>(px, bw, taps2, out2);
  }
}

// Vertical pass of output row j: sums[s] = Σk rows[j + k][s] · taps[k] for samples
// first .. rowSamples - 1, in wrapping 32-bit arithmetic like the packed form (no
// kernel in use comes near the limit). A second tap set (taps2, sums2) is summed
// from the same loaded rows.
template <int kTaps>
void VerticalSums(const int16_t* rows, int rowSamples, int j, const int16_t* taps, int32_t* sums,
                  KernelPath path, int first, const int16_t* taps2 = nullptr,
                  int32_t* sums2 = nullptr) {
  const int16_t* base = rows + static_cast<ptrdiff_t>(j) * rowSamples;
  int s = first;
#if KX_BLOCK_SSE2
  if (path != KernelPath::kScalar) {
    __m128i tapPairs[kTaps / 2], tapPairs2[kTaps / 2];
    TapPairs<kTaps>(taps, tapPairs);
    const bool two = taps2 != nullptr;
    if (two) TapPairs<kTaps>(taps2, tapPairs2);
    // Rows k and k + 1 interleaved sample by sample: one multiply-add per pair.
    for (; s + 4 <= rowSamples; s += 4) {
      __m128i acc = _mm_setzero_si128(), acc2 = _mm_setzero_si128();
      for (int k = 0; k < kTaps / 2; ++k) {
        const int16_t* r0 = base + static_cast<ptrdiff_t>(2 * k) * rowSamples + s;
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r0 + rowSamples));
        const __m128i ab = _mm_unpacklo_epi16(a, b);
        acc = _mm_add_epi32(acc, _mm_madd_epi16(ab, tapPairs[k]));
        if (two) acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(ab, tapPairs2[k]));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + s), acc);
      if (two) _mm_storeu_si128(reinterpret_cast<__m128i*>(sums2 + s), acc2);
    }
  }
#else
  (void)path;
#endif
  for (int set = 0; set < (taps2 != nullptr ? 2 : 1); ++set) {
    const int16_t* t = set == 0 ? taps : taps2;
    int32_t* out = set == 0 ? sums : sums2;
    for (int q = s; q < rowSamples; ++q) {
      uint32_t sum = 0;
      for (int k = 0; k < kTaps; ++k) {
        sum += static_cast<uint32_t>(
            static_cast<int32_t>(base[static_cast<ptrdiff_t>(k) * rowSamples + q]) * t[k]);
      }
      out[q] = static_cast<int32_t>(sum);
    }
  }
}

void Resample6(const uint32_t* src, int stride, int width, int height, uint32_t* dst, int dstStride,
               int bw, int bh, double x, double y, double a, KernelPath path) {
  if (bw < 1 || bh < 1 || width < 1 || height < 1) return;
  const int ix = TruncPos(x), iy = TruncPos(y);
  int16_t hTaps[6], vTaps[6];
  MakeKernel6(x - std::trunc(x), a, hTaps);
  MakeKernel6(y - std::trunc(y), a, vTaps);
  Scratch<int16_t, 4 * 16 * 21> rows(static_cast<size_t>(4) * bw * (bh + 5));
  FilterRows<6>(src, stride, width, height, ix - 2, iy - 2, bw, bh, hTaps, rows.get(), path);
  Scratch<int32_t, 4 * 16> sums(static_cast<size_t>(4) * bw);
  // The packed vertical pass takes whole groups of four pixels, the rest below.
  const int packed = UseAVX2(path) ? 4 * bw - (4 * bw) % 16 : 0;
#if KX_BLOCK_SSE2
  if (packed > 0)
    VerticalBlockAVX2<6, false>(rows.get(), 4 * bw, bh, packed, vTaps, nullptr, nullptr, nullptr, 0,
                                reinterpret_cast<uint8_t*>(dst),
                                static_cast<ptrdiff_t>(dstStride) * 4);
  if (packed == 4 * bw) return;
#endif
  for (int j = 0; j < bh; ++j) {
    uint8_t* out = reinterpret_cast<uint8_t*>(dst + static_cast<ptrdiff_t>(j) * dstStride);
    VerticalSums<6>(rows.get(), 4 * bw, j, vTaps, sums.get(), path, packed);
    for (int s = packed; s < 4 * bw; ++s) {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(sums.get()[s]) + 1310720u) >> 21;
      out[s] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
}

// Vertical pass into a 16-bit block: ((sum) >> 16) + 6 per sample; a second tap
// set (vTaps2, dst2) is filtered from the same rows in the same pass.
void VerticalTo16(const int16_t* rows, int bw, int bh, const int16_t* vTaps, int16_t* dst,
                  int dstStride, KernelPath path, const int16_t* vTaps2 = nullptr,
                  int16_t* dst2 = nullptr) {
  Scratch<int32_t, 4 * 16> sums(static_cast<size_t>(4) * bw), sums2(static_cast<size_t>(4) * bw);
  const int packed = UseAVX2(path) ? 4 * bw - (4 * bw) % 16 : 0;
#if KX_BLOCK_SSE2
  if (packed > 0)
    VerticalBlockAVX2<8, true>(rows, 4 * bw, bh, packed, vTaps, vTaps2, dst, dst2, dstStride,
                               nullptr, 0);
  if (packed == 4 * bw) return;
#endif
  for (int j = 0; j < bh; ++j) {
    int16_t* out = dst + static_cast<ptrdiff_t>(j) * dstStride;
    int16_t* out2 = vTaps2 != nullptr ? dst2 + static_cast<ptrdiff_t>(j) * dstStride : nullptr;
    VerticalSums<8>(rows, 4 * bw, j, vTaps, sums.get(), path, packed, vTaps2, sums2.get());
    for (int s = packed; s < 4 * bw; ++s) out[s] = Saturate16((sums.get()[s] >> 16) + 6);
    if (vTaps2 == nullptr) continue;
    for (int s = packed; s < 4 * bw; ++s) out2[s] = Saturate16((sums2.get()[s] >> 16) + 6);
  }
}

void Resample8(const uint32_t* src, int stride, int width, int height, int16_t* dst, int dstStride,
               int bw, int bh, double x, double y, bool derivX, bool derivY, double a,
               KernelPath path) {
  if (bw < 1 || bh < 1 || width < 1 || height < 1) return;
  const int ix = TruncPos(x), iy = TruncPos(y);
  const double fx = x - std::trunc(x), fy = y - std::trunc(y);
  int16_t hTaps[8], vTaps[8];
  if (derivX) {
    MakeDerivativeKernel8(fx, a, hTaps);
  } else {
    MakeKernel8(fx, a, hTaps);
  }
  if (derivY) {
    MakeDerivativeKernel8(fy, a, vTaps);
  } else {
    MakeKernel8(fy, a, vTaps);
  }
  Scratch<int16_t, 4 * 16 * 23> rows(static_cast<size_t>(4) * bw * (bh + 7));
  FilterRows<8>(src, stride, width, height, ix - 3, iy - 3, bw, bh, hTaps, rows.get(), path);
  VerticalTo16(rows.get(), bw, bh, vTaps, dst, dstStride, path);
}

// MakeKernel8 and MakeDerivativeKernel8 for the same fraction and a <= 0, the
// Gaussian weights evaluated once for both (the same values, so the same taps).
void MakeKernelPair8(double f, double a, int16_t plain[8], int16_t derivative[8]) {
  if (a > 0.0) {
    MakeKernel8(f, a, plain);
    MakeDerivativeKernel8(f, a, derivative);
    return;
  }
  double w[8], d[8];
  double sum = 0.0;
  for (int i = 0; i < 8; ++i) {
    const double t = f - (i - 3);
    w[i] = std::exp(a * t * t);
    d[i] = 2.0 * a * t * w[i];
    sum += w[i];
  }
  ScaleDerivativeKernel(w, d, sum, derivative);
  ScalePlainKernel(w, 8, sum, plain);  // scales w in place
}

// The plain, x-derivative and y-derivative blocks at one position (rows
// contiguous, 4 * bw samples each): the same samples as three ResampleBlock8
// calls, with the kernels and the plain horizontal pass computed once.
void ResampleTriple8(const uint32_t* src, int stride, int width, int height, int bw, int bh,
                     double x, double y, double a, int16_t* plain, int16_t* dx, int16_t* dy) {
  const int ix = TruncPos(x), iy = TruncPos(y);
  const double fx = x - std::trunc(x), fy = y - std::trunc(y);
  int16_t px[8], dxTaps[8], py[8], dyTaps[8];
  MakeKernelPair8(fx, a, px, dxTaps);
  MakeKernelPair8(fy, a, py, dyTaps);
  const size_t rowSamples = static_cast<size_t>(4) * bw * (bh + 7);
  Scratch<int16_t, 4 * 16 * 23> rows(rowSamples), rowsDx(rowSamples);
  FilterRows<8>(src, stride, width, height, ix - 3, iy - 3, bw, bh, px, rows.get(),
                KernelPath::kBest, dxTaps, rowsDx.get());
  VerticalTo16(rows.get(), bw, bh, py, plain, 4 * bw, KernelPath::kBest, dyTaps, dy);
  VerticalTo16(rowsDx.get(), bw, bh, py, dx, 4 * bw, KernelPath::kBest);
}

uint32_t SumAbsDiffScalar(const uint32_t* a, const uint32_t* b, int n) {
  const uint8_t* pa = reinterpret_cast<const uint8_t*>(a);
  const uint8_t* pb = reinterpret_cast<const uint8_t*>(b);
  uint32_t sum = 0;
  for (int i = 0; i < 4 * n; ++i) sum += static_cast<uint32_t>(std::abs(pa[i] - pb[i]));
  return sum;
}

uint8_t CeilAverage(uint8_t a, uint8_t b) {
  return static_cast<uint8_t>((a | b) - ((a ^ b) >> 1));
}

}  // namespace

void HalveImageRGBA(uint32_t* dst, int dstStride, const uint32_t* src, int srcStride, int width,
                    int height) {
  if (width < 2 || height < 2) return;
  const int outW = width / 2, outH = height / 2;
  if (width < 4) {
    for (int k = 0; k < outH; ++k) {
      const uint8_t* r0 =
          reinterpret_cast<const uint8_t*>(src + static_cast<ptrdiff_t>(2 * k) * srcStride);
      const uint8_t* r1 = r0 + static_cast<ptrdiff_t>(srcStride) * 4;
      uint8_t* out = reinterpret_cast<uint8_t*>(dst + static_cast<ptrdiff_t>(k) * dstStride);
      for (int c = 0; c < 4; ++c) {
        out[c] = CeilAverage(CeilAverage(r0[c], r0[4 + c]), CeilAverage(r1[c], r1[4 + c]));
      }
    }
    return;
  }
#if KX_BLOCK_SSE2
  // The filter's taps in pairs, (-1, 3), (14, 14), (3, -1), for multiply-adds.
  const __m128i zero = _mm_setzero_si128();
  const __m128i pairs[3] = {_mm_set1_epi32(static_cast<int>(0x0003FFFFu)),
                            _mm_set1_epi32(0x000E000E),
                            _mm_set1_epi32(static_cast<int>(0xFFFF0003u))};
#endif
  // Ring of six horizontally filtered rows: filtered row i sits in slot i % 6.
  const int rowSamples = 4 * outW;
  std::unique_ptr<int16_t[]> ring(new int16_t[static_cast<size_t>(6) * rowSamples]);
  const int lastRow = 2 * outH - 1;
  auto filterRow = [&](int i, int16_t* out) {
    const uint8_t* p =
        reinterpret_cast<const uint8_t*>(src + static_cast<ptrdiff_t>(i) * srcStride);
    for (int c = 0; c < 4; ++c) {
      out[c] = static_cast<int16_t>(16 * (p[c] + p[4 + c]));
      const int e = 2 * outW - 2;
      out[4 * (outW - 1) + c] = static_cast<int16_t>(16 * (p[4 * e + c] + p[4 * (e + 1) + c]));
    }
    int k = 1;
#if KX_BLOCK_SSE2
    // Source pixels 2k - 2 .. 2k + 3 as three pairs, each pair's channels interleaved
    // for one multiply-add with two taps: exact 32-bit sums, which fit 16 bits.
    const uint32_t* row = src + static_cast<ptrdiff_t>(i) * srcStride;
    auto one = [&](int col) {
      __m128i sum = _mm_setzero_si128();
      for (int t = 0; t < 3; ++t) {
        const __m128i w = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 2 * col - 2 + 2 * t)), zero);
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(_mm_unpacklo_epi16(w, _mm_unpackhi_epi64(w, w)), pairs[t]));
      }
      return sum;
    };
    for (; k + 2 <= outW - 1; k += 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k),
                       _mm_packs_epi32(one(k), one(k + 1)));
    }
#endif
    for (; k < outW - 1; ++k) {
      const uint8_t* q = p + 4 * (2 * k - 2);
      for (int c = 0; c < 4; ++c) {
        out[4 * k + c] = static_cast<int16_t>(-q[c] + 3 * q[4 + c] + 14 * q[8 + c] +
                                              14 * q[12 + c] + 3 * q[16 + c] - q[20 + c]);
      }
    }
  };
  int filtered = -1;  // highest source row filtered so far
  for (int k = 0; k < outH; ++k) {
    const int need = std::min(2 * k + 3, lastRow);
    while (filtered < need) {
      ++filtered;
      filterRow(filtered, ring.get() + static_cast<ptrdiff_t>(filtered % 6) * rowSamples);
    }
    const int16_t* r[6];
    for (int t = 0; t < 6; ++t) {
      const int i = std::clamp(2 * k - 2 + t, 0, lastRow);
      r[t] = ring.get() + static_cast<ptrdiff_t>(i % 6) * rowSamples;
    }
    uint8_t* out = reinterpret_cast<uint8_t*>(dst + static_cast<ptrdiff_t>(k) * dstStride);
    int s = 0;
#if KX_BLOCK_SSE2
    // Rows 0 and 1, 2 and 3, 4 and 5 interleaved sample by sample: one multiply-add per
    // pair of rows, exact 32-bit sums; the unsigned pack clamps to 0 .. 255.
    const __m128i bias = _mm_set1_epi32(512);
    for (; s + 8 <= rowSamples; s += 8) {
      __m128i lo = bias, hi = bias;
      for (int t = 0; t < 3; ++t) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[2 * t] + s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[2 * t + 1] + s));
        lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pairs[t]));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pairs[t]));
      }
      const __m128i v = _mm_packs_epi32(_mm_srai_epi32(lo, 10), _mm_srai_epi32(hi, 10));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + s), _mm_packus_epi16(v, v));
    }
#endif
    for (; s < rowSamples; ++s) {
      const int v =
          (-r[0][s] + 3 * r[1][s] + 14 * r[2][s] + 14 * r[3][s] + 3 * r[4][s] - r[5][s] + 512) >>
          10;
      out[s] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
}

void MakeKernel6(double f, double a, int16_t taps[6]) {
  MakePlainKernel(f, a, 6, taps);
}

void MakeKernel8(double f, double a, int16_t taps[8]) {
  MakePlainKernel(f, a, 8, taps);
}

void MakeDerivativeKernel8(double f, double a, int16_t taps[8]) {
  double w[8], d[8];
  double sum = 0.0;
  for (int i = 0; i < 8; ++i) {
    const double t = f - (i - 3);
    w[i] = Weight(t, a, 4.0);
    sum += w[i];
    d[i] = 2.0 * a * t * std::exp(a * t * t);
  }
  ScaleDerivativeKernel(w, d, sum, taps);
}

void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a) {
  Resample6(src, stride, width, height, dst, dstStride, bw, bh, x, y, a, KernelPath::kBest);
}

void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a) {
  Resample8(src, stride, width, height, dst, dstStride, bw, bh, x, y, derivX, derivY, a,
            KernelPath::kBest);
}

uint32_t SumAbsDiffBGRA(const uint32_t* a, const uint32_t* b, int n) {
#if KX_BLOCK_SSE2
  __m128i acc = _mm_setzero_si128();
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    acc = _mm_add_epi64(acc, _mm_sad_epu8(va, vb));
  }
  const uint32_t packed = static_cast<uint32_t>(_mm_cvtsi128_si32(acc)) +
                          static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc)));
  return packed + SumAbsDiffScalar(a + i, b + i, n - i);
#else
  return SumAbsDiffScalar(a, b, n);
#endif
}

// Asks for the cache lines of the window's part inside the image: the rows of a search
// window are usually not cached yet, and asking for all before copying any lets their
// fetching overlap.
static void PrefetchBlockWindow(const uint32_t* image, int stride, int width, int height, int left,
                                int top, int ww, int wh) {
  if (ww < 1 || wh < 1) return;
  const int64_t x0 = std::max<int64_t>(left, 0);
  const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(left) + ww, width);
  const int64_t y1 = std::min<int64_t>(static_cast<int64_t>(top) + wh, height);
  if (x0 >= x1) return;
  for (int64_t y = std::max(top, 0); y < y1; ++y) {
    for (int64_t x = x0; x < x1; x += 16) Prefetch(image + y * stride + x);
    Prefetch(image + y * stride + x1 - 1);
  }
}

void CopyBlockWindow(const uint32_t* image, int stride, int width, int height, int left, int top,
                     int ww, int wh, uint32_t* dst) {
  if (ww < 1 || wh < 1) return;
  const int64_t x0 = std::max<int64_t>(left, 0);
  const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(left) + ww, width);
  PrefetchBlockWindow(image, stride, width, height, left, top, ww, wh);
  for (int r = 0; r < wh; ++r) {
    uint32_t* out = dst + static_cast<ptrdiff_t>(r) * ww;
    const int64_t y = static_cast<int64_t>(top) + r;
    if (y < 0 || y >= height || x0 >= x1) {
      std::memset(out, 0, sizeof(uint32_t) * ww);
      continue;
    }
    const int64_t before = x0 - left;
    const int64_t inside = x1 - x0;
    std::memset(out, 0, sizeof(uint32_t) * before);
    std::memcpy(out + before, image + y * stride + x0, sizeof(uint32_t) * inside);
    std::memset(out + before + inside, 0, sizeof(uint32_t) * (ww - before - inside));
  }
}

void BlockCrossSums(const int16_t* s, const int16_t* t, const int16_t* gx, const int16_t* gy, int n,
                    int64_t sums[20]) {
  for (int i = 0; i < 20; ++i) sums[i] = 0;
  for (int p = 0; p < n; ++p) {
    for (int c = 0; c < 4; ++c) {
      const int i = 4 * p + c;
      const int64_t e = static_cast<int32_t>(s[i]) - t[i];
      const int64_t x = gx[i], y = gy[i];
      sums[4 * kSumEGx + c] += e * x;
      sums[4 * kSumEGy + c] += e * y;
      sums[4 * kSumGxGx + c] += x * x;
      sums[4 * kSumGxGy + c] += x * y;
      sums[4 * kSumGyGy + c] += y * y;
    }
  }
}

namespace {

// BlockCrossSums for the refinement's own blocks, whose samples are bounded: plain
// samples lie in 6 .. 8168 (positive Gaussian kernels of an 8-bit image), so e fits 16
// bits, and derivative samples within +-4500 (the derivative kernels of the smoothing
// steps in use). Two pixels' channels are paired for one multiply-add each; 32-bit
// partial sums over at most 16 pixels (below 2^30) are widened before they could
// overflow, so the sums are exactly BlockCrossSums'.
void RefineCrossSums(const int16_t* s, const int16_t* t, const int16_t* gx, const int16_t* gy,
                     int n, int64_t sums[20]) {
#if KX_BLOCK_SSE2
  for (int i = 0; i < 20; ++i) sums[i] = 0;
  // Lanes B0 G0 R0 A0 B1 G1 R1 A1 -> B0 B1 G0 G1 R0 R1 A0 A1.
  auto pairUp = [](__m128i v) { return _mm_unpacklo_epi16(v, _mm_unpackhi_epi64(v, v)); };
  auto load = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  int p = 0;
  while (p + 2 <= n) {
    __m128i acc[5];
    for (__m128i& a : acc) a = _mm_setzero_si128();
    for (int k = 0; k < 8 && p + 2 <= n; ++k, p += 2) {
      const __m128i e = pairUp(_mm_sub_epi16(load(s + 4 * p), load(t + 4 * p)));
      const __m128i x = pairUp(load(gx + 4 * p)), y = pairUp(load(gy + 4 * p));
      acc[kSumEGx] = _mm_add_epi32(acc[kSumEGx], _mm_madd_epi16(e, x));
      acc[kSumEGy] = _mm_add_epi32(acc[kSumEGy], _mm_madd_epi16(e, y));
      acc[kSumGxGx] = _mm_add_epi32(acc[kSumGxGx], _mm_madd_epi16(x, x));
      acc[kSumGxGy] = _mm_add_epi32(acc[kSumGxGy], _mm_madd_epi16(x, y));
      acc[kSumGyGy] = _mm_add_epi32(acc[kSumGyGy], _mm_madd_epi16(y, y));
    }
    for (int kind = 0; kind < 5; ++kind) {
      alignas(16) int32_t part[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(part), acc[kind]);
      for (int c = 0; c < 4; ++c) sums[4 * kind + c] += part[c];
    }
  }
  if (p < n) {
    int64_t tail[20];
    BlockCrossSums(s + 4 * p, t + 4 * p, gx + 4 * p, gy + 4 * p, n - p, tail);
    for (int i = 0; i < 20; ++i) sums[i] += tail[i];
  }
#else
  BlockCrossSums(s, t, gx, gy, n, sums);
#endif
}

#if KX_BLOCK_SSE2
// Per 128-bit lane: B0 G0 R0 A0 B1 G1 R1 A1 -> B0 B1 G0 G1 R0 R1 A0 A1.
__attribute__((target("avx2"))) inline __m256i PairUp(__m256i v) {
  return _mm256_unpacklo_epi16(v, _mm256_unpackhi_epi64(v, v));
}

// (a + b) >> 1 per 16-bit sample, as (a >> 1) + (b >> 1) + (a & b & 1): the same value
// without a 16-bit overflow.
__attribute__((target("avx2"))) inline __m256i Mean16(__m256i a, __m256i b) {
  return _mm256_add_epi16(_mm256_add_epi16(_mm256_srai_epi16(a, 1), _mm256_srai_epi16(b, 1)),
                          _mm256_and_si256(_mm256_and_si256(a, b), _mm256_set1_epi16(1)));
}

// RefineCrossSums with the gradients gx = (sdx + tdx) >> 1, gy = (sdy + tdy) >> 1 formed
// on the way (Mean16), four pixels at a time (n a multiple of 4). Each 128-bit lane sums
// two pixels a step as the SSE2 form does, at most 16 pixels before the sums are widened.
__attribute__((target("avx2"))) void RefineSumsAVX2(const int16_t* s, const int16_t* t,
                                                    const int16_t* sdx, const int16_t* tdx,
                                                    const int16_t* sdy, const int16_t* tdy, int n,
                                                    int64_t sums[20]) {
  for (int i = 0; i < 20; ++i) sums[i] = 0;
  for (int p = 0; p < n;) {
    __m256i acc[5];
    for (__m256i& a : acc) a = _mm256_setzero_si256();
    for (int k = 0; k < 8 && p < n; ++k, p += 4) {
      const __m256i e = PairUp(_mm256_sub_epi16(Load16(s + 4 * p), Load16(t + 4 * p)));
      const __m256i x = PairUp(Mean16(Load16(sdx + 4 * p), Load16(tdx + 4 * p)));
      const __m256i y = PairUp(Mean16(Load16(sdy + 4 * p), Load16(tdy + 4 * p)));
      acc[kSumEGx] = _mm256_add_epi32(acc[kSumEGx], _mm256_madd_epi16(e, x));
      acc[kSumEGy] = _mm256_add_epi32(acc[kSumEGy], _mm256_madd_epi16(e, y));
      acc[kSumGxGx] = _mm256_add_epi32(acc[kSumGxGx], _mm256_madd_epi16(x, x));
      acc[kSumGxGy] = _mm256_add_epi32(acc[kSumGxGy], _mm256_madd_epi16(x, y));
      acc[kSumGyGy] = _mm256_add_epi32(acc[kSumGyGy], _mm256_madd_epi16(y, y));
    }
    for (int kind = 0; kind < 5; ++kind) {
      alignas(32) int32_t part[8];
      _mm256_store_si256(reinterpret_cast<__m256i*>(part), acc[kind]);
      for (int c = 0; c < 4; ++c) sums[4 * kind + c] += static_cast<int64_t>(part[c]) + part[4 + c];
    }
  }
}
#endif

}  // namespace

int RefineBlockSubPixel(BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt,
                        int stride, int width, int height, int bw, int bh, int iterations) {
  if (bw < 1 || bh < 1) return kBlockMatchBadSize;
  if (iterations < 1) return kBlockMatchOk;
  const double hw = (bw - 1) * 0.5, hh = (bh - 1) * 0.5;
  const int n = bw * bh;
  const size_t samples = static_cast<size_t>(4) * n;
  Scratch<int16_t, 4 * 64> S(samples), sdx(samples), sdy(samples), T(samples), tdx(samples),
      tdy(samples), Gx(samples), Gy(samples);
  static const double kWeight[4] = {1.0, 2.0, 1.0, 1.0};  // B, G, R, A
  double ox = 0.0, oy = 0.0;
  double sourceA = 0.0;  // the smoothing the source blocks were sampled with; 0: none yet
  for (int i = 0;; ++i) {
    const double a = i < 7 ? -0.15 - 0.08 * i : -0.8;
    // The source blocks depend only on the smoothing, constant from the eighth step on.
    if (a != sourceA) {
      ResampleTriple8(src, stride, width, height, bw, bh, pos.source_x - hw, pos.source_y - hh, a,
                      S.get(), sdx.get(), sdy.get());
      sourceA = a;
    }
    const double tx0 = pos.target_x - hw + ox, ty0 = pos.target_y - hh + oy;
    ResampleTriple8(tgt, stride, width, height, bw, bh, tx0, ty0, a, T.get(), tdx.get(), tdy.get());
    int64_t sums[20];
#if KX_BLOCK_SSE2
    if (g_has_avx2 && n % 4 == 0) {
      RefineSumsAVX2(S.get(), T.get(), sdx.get(), tdx.get(), sdy.get(), tdy.get(), n, sums);
    } else
#endif
    {
      for (size_t k = 0; k < samples; ++k) {
        Gx.get()[k] = static_cast<int16_t>((sdx.get()[k] + tdx.get()[k]) >> 1);
        Gy.get()[k] = static_cast<int16_t>((sdy.get()[k] + tdy.get()[k]) >> 1);
      }
      RefineCrossSums(S.get(), T.get(), Gx.get(), Gy.get(), n, sums);
    }
    double b1 = 0.0, b2 = 0.0, gxx = 0.0, gxy = 0.0, gyy = 0.0;
    for (int c = 0; c < 4; ++c) {
      b1 += kWeight[c] * static_cast<double>(sums[4 * kSumEGx + c]);
      b2 += kWeight[c] * static_cast<double>(sums[4 * kSumEGy + c]);
      gxx += kWeight[c] * static_cast<double>(sums[4 * kSumGxGx + c]);
      gxy += kWeight[c] * static_cast<double>(sums[4 * kSumGxGy + c]);
      gyy += kWeight[c] * static_cast<double>(sums[4 * kSumGyGy + c]);
    }
    const double det = gxx * gyy - gxy * gxy;
    if (!(det >= 1.0)) return kBlockMatchSingular;
    const double stepX = 0.5 * (gyy * b1 - gxy * b2) / det;
    const double stepY = 0.5 * (gxx * b2 - gxy * b1) / det;
    ox += stepX;
    oy += stepY;
    if (ox * ox + oy * oy > 4.0) return kBlockMatchMovedFar;
    if (stepX * stepX + stepY * stepY < 1e-7 || i + 1 >= iterations) {
      pos.target_x += ox;
      pos.target_y += oy;
      return kBlockMatchOk;
    }
  }
}

namespace {

#if KX_BLOCK_SSE2
// SearchCosts' sums for blocks 8 pixels wide (bh up to 16): a block row is one 32-byte
// register, so the template stays in registers and the costs are summed straight from
// the window's rows, no strips copied. The sums are SumAbsDiffBGRA's.
__attribute__((target("avx2"))) void SearchCosts8AVX2(const uint32_t* tpl, int bh,
                                                      const uint32_t* window, int ww, int rangeX,
                                                      int rangeY, int* cost) {
  __m256i t[16];
  for (int r = 0; r < bh; ++r)
    t[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tpl + 8 * r));
  for (int dx = -rangeX; dx <= rangeX; ++dx) {
    int* column = cost + static_cast<ptrdiff_t>(dx + rangeX) * (2 * rangeY + 1);
    // Window row r + 2 + dy + rangeY holds block row r at offset dy.
    const uint32_t* first = window + 2 * static_cast<ptrdiff_t>(ww) + dx + rangeX + 2;
    for (int dy = -rangeY; dy <= rangeY; ++dy) {
      const uint32_t* block = first + static_cast<ptrdiff_t>(dy + rangeY) * ww;
      __m256i acc = _mm256_setzero_si256();
      for (int r = 0; r < bh; ++r) {
        const __m256i b = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(block + static_cast<ptrdiff_t>(r) * ww));
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(t[r], b));
      }
      const __m128i half =
          _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
      const uint32_t sad = static_cast<uint32_t>(_mm_cvtsi128_si32(half)) +
                           static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(half, half)));
      column[dy + rangeY] = static_cast<int>(sad) + 4 * (std::abs(dx) + std::abs(dy));
    }
  }
}
#endif

// The integer search's costs, SAD + 4 (|dx| + |dy|), for every offset of +-rangeX, +-rangeY
// around the target's block origin (bx, by): cost[(dx + rangeX) * (2 rangeY + 1) + dy +
// rangeY]. The caller has checked the block size, the origin and the ranges (> 0 in one).
void SearchCosts(const BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt,
                 int stride, int width, int height, int bw, int bh, int bx, int by, int rangeX,
                 int rangeY, int* cost) {
  const int ww = bw + 2 * rangeX + 4, wh = bh + 2 * rangeY + 4;
  Scratch<uint32_t, 28 * 28> window(static_cast<size_t>(ww) * wh);
  CopyBlockWindow(tgt, stride, width, height, bx - rangeX - 2, by - rangeY - 2, ww, wh,
                  window.get());
  const int n = bw * bh;
  Scratch<uint32_t, 64> tpl(n);
  ResampleBlock6(src, stride, width, height, tpl.get(), bw, bw, bh, pos.source_x - (bw - 1) * 0.5,
                 pos.source_y - (bh - 1) * 0.5, 1.0);
#if KX_BLOCK_SSE2
  if (bw == 8 && bh <= 16 && g_has_avx2) {
    SearchCosts8AVX2(tpl.get(), bh, window.get(), ww, rangeX, rangeY, cost);
    return;
  }
#endif
  const int stripRows = 2 * rangeY + bh;
  Scratch<uint32_t, 24 * 8> strip(static_cast<size_t>(stripRows) * bw);
  for (int dx = -rangeX; dx <= rangeX; ++dx) {
    for (int r = 0; r < stripRows; ++r) {
      std::memcpy(strip.get() + static_cast<ptrdiff_t>(r) * bw,
                  window.get() + static_cast<ptrdiff_t>(r + 2) * ww + dx + rangeX + 2,
                  sizeof(uint32_t) * bw);
    }
    int* column = cost + static_cast<ptrdiff_t>(dx + rangeX) * (2 * rangeY + 1);
    for (int dy = -rangeY; dy <= rangeY; ++dy) {
      const uint32_t* block = strip.get() + static_cast<ptrdiff_t>(dy + rangeY) * bw;
      column[dy + rangeY] =
          static_cast<int>(SumAbsDiffBGRA(tpl.get(), block, n)) + 4 * (std::abs(dx) + std::abs(dy));
    }
  }
}

// The first minimum in the search's visiting order: dx-major; for an odd block width
// every second dy first, then the ones between.
int BestOffset(const int* cost, int bw, int rangeX, int rangeY, int* bestDx, int* bestDy) {
  int best = INT_MAX;
  *bestDx = *bestDy = 0;
  const int column = 2 * rangeY + 1;
  auto visit = [&](int dx, int dy) {
    const int c = cost[(dx + rangeX) * column + dy + rangeY];
    if (c < best) {
      best = c;
      *bestDx = dx;
      *bestDy = dy;
    }
  };
  for (int dx = -rangeX; dx <= rangeX; ++dx) {
    if (bw % 2 == 0) {
      for (int dy = -rangeY; dy <= rangeY; ++dy) visit(dx, dy);
    } else {
      for (int dy = -rangeY; dy <= rangeY; dy += 2) visit(dx, dy);
      for (int dy = -rangeY + 1; dy <= rangeY; dy += 2) visit(dx, dy);
    }
  }
  return best;
}

// The origin of the block centred on the target; false when it leaves the image (the
// block may not reach the last column or row).
bool BlockOrigin(const BlockMatchPosition& pos, int width, int height, int bw, int bh, int* bx,
                 int* by) {
  *bx = TruncPos(pos.target_x) - bw / 2;
  *by = TruncPos(pos.target_y) - bh / 2;
  return !(*bx < 0 || *by < 0 || *bx >= width - bw || *by >= height - bh);
}

}  // namespace

int MatchBlockSAD(BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt, int stride,
                  int width, int height, int bw, int bh, int rangeX, int rangeY, int iterations) {
  if (bw < 1 || bh < 1) return kBlockMatchBadSize;
  int bx = 0, by = 0;
  if (!BlockOrigin(pos, width, height, bw, bh, &bx, &by)) return kBlockMatchOutside;
  rangeX = std::max(rangeX, 0);
  rangeY = std::max(rangeY, 0);
  int result = INT_MAX;
  if (rangeX > 0 || rangeY > 0) {
    Scratch<int, 17 * 17> cost(static_cast<size_t>(2 * rangeX + 1) * (2 * rangeY + 1));
    SearchCosts(pos, src, tgt, stride, width, height, bw, bh, bx, by, rangeX, rangeY, cost.get());
    int bestDx = 0, bestDy = 0;
    result = BestOffset(cost.get(), bw, rangeX, rangeY, &bestDx, &bestDy);
    pos.target_x = bx + bestDx + (bw - 1) * 0.5;
    pos.target_y = by + bestDy + (bh - 1) * 0.5;
  }
  if (iterations >= 1) {
    result = RefineBlockSubPixel(pos, src, tgt, stride, width, height, bw, bh, iterations);
  }
  return result;
}

int SearchBlockCandidates(const BlockMatchPosition& pos, const uint32_t* src, const uint32_t* tgt,
                          int stride, int width, int height, int bw, int bh, int rangeX, int rangeY,
                          BlockMatchCandidate* out, int count) {
  if (bw < 1 || bh < 1) return kBlockMatchBadSize;
  int bx = 0, by = 0;
  if (!BlockOrigin(pos, width, height, bw, bh, &bx, &by)) return kBlockMatchOutside;
  rangeX = std::max(rangeX, 0);
  rangeY = std::max(rangeY, 0);
  if (count < 1) return 0;
  const int columns = 2 * rangeX + 1, column = 2 * rangeY + 1;
  Scratch<int, 17 * 17> cost(static_cast<size_t>(columns) * column);
  int kept = 0;
  auto keep = [&](int dx, int dy, int c) {
    out[kept++] = {bx + dx + (bw - 1) * 0.5, by + dy + (bh - 1) * 0.5, c};
  };
  if (rangeX == 0 && rangeY == 0) {
    out[0] = {pos.target_x, pos.target_y, INT_MAX};
    return 1;
  }
  SearchCosts(pos, src, tgt, stride, width, height, bw, bh, bx, by, rangeX, rangeY, cost.get());
  int bestDx = 0, bestDy = 0;
  const int bestCost = BestOffset(cost.get(), bw, rangeX, rangeY, &bestDx, &bestDy);
  keep(bestDx, bestDy, bestCost);
  int keptDx[64], keptDy[64];
  keptDx[0] = bestDx;
  keptDy[0] = bestDy;
  count = std::min(count, 64);
  auto at = [&](int dx, int dy) { return cost.get()[(dx + rangeX) * column + dy + rangeY]; };
  while (kept < count) {
    // The cheapest strict local minimum not next to one kept (ties: dx-major order).
    int best = INT_MAX, candDx = 0, candDy = 0;
    for (int dx = -rangeX; dx <= rangeX; ++dx) {
      for (int dy = -rangeY; dy <= rangeY; ++dy) {
        const int c = at(dx, dy);
        if (c >= best) continue;
        bool near = false;
        for (int k = 0; k < kept && !near; ++k)
          near = std::abs(dx - keptDx[k]) <= 1 && std::abs(dy - keptDy[k]) <= 1;
        if (near) continue;
        bool minimum = true;
        for (int ny = std::max(dy - 1, -rangeY); ny <= std::min(dy + 1, rangeY) && minimum; ++ny)
          for (int nx = std::max(dx - 1, -rangeX); nx <= std::min(dx + 1, rangeX); ++nx)
            if ((nx != dx || ny != dy) && at(nx, ny) <= c) {
              minimum = false;
              break;
            }
        if (!minimum) continue;
        best = c;
        candDx = dx;
        candDy = dy;
      }
    }
    if (best == INT_MAX) break;
    keptDx[kept] = candDx;
    keptDy[kept] = candDy;
    keep(candDx, candDy, best);
  }
  return kept;
}

namespace scalar_kernels {

uint32_t SumAbsDiffBGRA(const uint32_t* a, const uint32_t* b, int n) {
  return SumAbsDiffScalar(a, b, n);
}

void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a) {
  Resample6(src, stride, width, height, dst, dstStride, bw, bh, x, y, a, KernelPath::kScalar);
}

void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a) {
  Resample8(src, stride, width, height, dst, dstStride, bw, bh, x, y, derivX, derivY, a,
            KernelPath::kScalar);
}

}  // namespace scalar_kernels

namespace sse2_kernels {

void ResampleBlock6(const uint32_t* src, int stride, int width, int height, uint32_t* dst,
                    int dstStride, int bw, int bh, double x, double y, double a) {
  Resample6(src, stride, width, height, dst, dstStride, bw, bh, x, y, a, KernelPath::kSse2);
}

void ResampleBlock8(const uint32_t* src, int stride, int width, int height, int16_t* dst,
                    int dstStride, int bw, int bh, double x, double y, bool derivX, bool derivY,
                    double a) {
  Resample8(src, stride, width, height, dst, dstStride, bw, bh, x, y, derivX, derivY, a,
            KernelPath::kSse2);
}

}  // namespace sse2_kernels
