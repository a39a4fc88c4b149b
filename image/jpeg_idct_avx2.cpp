// The JPEG inverse transform two blocks at a time, one block in each 128-bit half of an AVX2
// register. The whole file is compiled for AVX2 (image/CMakeLists.txt) so that the shared pass
// template instantiates for the wide type here; callers reach it only after checking the
// processor (InverseDCT8x8Pair).

#include "image/aan_idct16.h"
#include "image/jpeg_decoder.h"

namespace {

// A distinct type, so that the shared template's instances for it live in this file alone.
struct Ymm {
  __m256i v;
};

inline Ymm Add(Ymm a, Ymm b) {
  return {_mm256_add_epi16(a.v, b.v)};
}
inline Ymm Sub(Ymm a, Ymm b) {
  return {_mm256_sub_epi16(a.v, b.v)};
}
inline Ymm MulFraction(Ymm x, int16_t k) {
  return {_mm256_add_epi16(x.v, _mm256_mulhi_epi16(x.v, _mm256_set1_epi16(k)))};
}

// The decoder's two products (see InverseDCT8x8), on both blocks at once.
struct JpegMultipliersAvx2 {
  static Ymm Sqrt2(Ymm x) { return MulFraction(x, 27146); }
  static Ymm Times2_613(Ymm x) { return MulFraction(Add(x, x), 20091); }
};

// The unpacks work within each half, so each block is transposed on its own.
void Transpose(Ymm* r) {
  const __m256i a0 = _mm256_unpacklo_epi16(r[0].v, r[1].v);
  const __m256i a1 = _mm256_unpackhi_epi16(r[0].v, r[1].v);
  const __m256i a2 = _mm256_unpacklo_epi16(r[2].v, r[3].v);
  const __m256i a3 = _mm256_unpackhi_epi16(r[2].v, r[3].v);
  const __m256i a4 = _mm256_unpacklo_epi16(r[4].v, r[5].v);
  const __m256i a5 = _mm256_unpackhi_epi16(r[4].v, r[5].v);
  const __m256i a6 = _mm256_unpacklo_epi16(r[6].v, r[7].v);
  const __m256i a7 = _mm256_unpackhi_epi16(r[6].v, r[7].v);
  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  r[0].v = _mm256_unpacklo_epi64(b0, b4);
  r[1].v = _mm256_unpackhi_epi64(b0, b4);
  r[2].v = _mm256_unpacklo_epi64(b1, b5);
  r[3].v = _mm256_unpackhi_epi64(b1, b5);
  r[4].v = _mm256_unpacklo_epi64(b2, b6);
  r[5].v = _mm256_unpackhi_epi64(b2, b6);
  r[6].v = _mm256_unpacklo_epi64(b3, b7);
  r[7].v = _mm256_unpackhi_epi64(b3, b7);
}

}  // namespace

void InverseDCT8x8PairAvx2(int stride_a, int16_t* dst_a, int16_t* coef_a, int stride_b,
                           int16_t* dst_b, int16_t* coef_b) {
  Ymm r[8];
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef_a + 8 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef_b + 8 * i));
    r[i].v = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coef_a + 8 * i), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coef_b + 8 * i), zero);
  }
  AanIdct16::Pass<JpegMultipliersAvx2>(r);
  Transpose(r);
  AanIdct16::Pass<JpegMultipliersAvx2>(r);
  Transpose(r);
  for (int i = 0; i < 8; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst_a + i * stride_a),
                     _mm256_castsi256_si128(r[i].v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst_b + i * stride_b),
                     _mm256_extracti128_si256(r[i].v, 1));
  }
}
