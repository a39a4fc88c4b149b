// The scaled (AAN) 8-point inverse DCT in wrapping 16-bit arithmetic, eight lanes to an SSE2
// register (one row of a block per register), and the 8 x 8 transpose between the two passes.
// The JPEG and DV decoders share it; they differ only in how they form two of the products,
// which a multiplier set supplies, on registers and on single lanes:
//   static __m128i Sqrt2(__m128i x);       static int16_t Sqrt2(int16_t x);       // x sqrt 2
//   static __m128i Times2_613(__m128i x);  static int16_t Times2_613(int16_t x);  // x 2.613126
// The other two are x + (x k >> 16) with k = -15377 (0.765367) and 5400 (1.082392). Wrapping
// sums give the exact result whenever the result itself fits 16 bits, whatever the order.
#pragma once

#include <cstdint>

#include <immintrin.h>

namespace AanIdct16 {

// (x * k) >> 16 on eight lanes.
inline __m128i MulHigh(__m128i x, int16_t k) {
  return _mm_mulhi_epi16(x, _mm_set1_epi16(k));
}
// x + ((x * k) >> 16): x times 1 + k / 65536.
inline __m128i MulFraction(__m128i x, int16_t k) {
  return _mm_add_epi16(x, MulHigh(x, k));
}

// One lane: (x * k) >> 16 and x + ((x * k) >> 16), wrapping to 16 bits.
inline int16_t MulHigh(int16_t x, int16_t k) {
  return int16_t((int32_t{x} * k) >> 16);
}
inline int16_t MulFraction(int16_t x, int16_t k) {
  return int16_t(x + MulHigh(x, k));
}

// Wrapping sums on eight lanes or on one.
inline __m128i Add(__m128i a, __m128i b) {
  return _mm_add_epi16(a, b);
}
inline __m128i Sub(__m128i a, __m128i b) {
  return _mm_sub_epi16(a, b);
}
inline int16_t Add(int16_t a, int16_t b) {
  return int16_t(a + b);
}
inline int16_t Sub(int16_t a, int16_t b) {
  return int16_t(a - b);
}

// One pass in place, on registers (T = __m128i) or single lanes (T = int16_t): d[k] holds input
// k on entry, output k on return.
template <typename Multipliers, typename T>
inline void Pass(T* d) {
  const T t10 = Add(d[0], d[4]), t11 = Sub(d[0], d[4]);
  const T t13 = Add(d[2], d[6]);
  const T t12 = Sub(Multipliers::Sqrt2(Sub(d[2], d[6])), t13);
  const T e0 = Add(t10, t13), e3 = Sub(t10, t13), e1 = Add(t11, t12), e2 = Sub(t11, t12);

  const T z13 = Add(d[5], d[3]), z10 = Sub(d[5], d[3]);
  const T z11 = Add(d[1], d[7]), z12 = Sub(d[1], d[7]);
  const T o7 = Add(z11, z13);
  const T o11 = Multipliers::Sqrt2(Sub(z11, z13));
  // With z5 = 0.765367 (z12 - z10): o12 = 1.082392 z12 + z5, o10 = -z5 - 2.613126 z10, the
  // usual AAN odd part with its 1.847759 = 0.765367 + 1.082392 folded in.
  const T z5 = MulFraction(Sub(z12, z10), -15377);
  const T o10 = Sub(Sub(T{}, z5), Multipliers::Times2_613(z10));
  const T o12 = Add(MulFraction(z12, 5400), z5);
  const T o6 = Sub(o12, o7), o5 = Sub(o11, o6), o4 = Add(o10, o5);

  d[0] = Add(e0, o7);
  d[7] = Sub(e0, o7);
  d[1] = Add(e1, o6);
  d[6] = Sub(e1, o6);
  d[2] = Add(e2, o5);
  d[5] = Sub(e2, o5);
  d[4] = Add(e3, o4);
  d[3] = Sub(e3, o4);
}

// The 2-D transform of a block of 64 samples in rows, one lane at a time: the reference the
// vector form matches bit for bit.
template <typename Multipliers>
inline void Transform8x8Lanes(int16_t* block) {
  int16_t d[8];
  for (int column = 0; column < 8; ++column) {
    for (int k = 0; k < 8; ++k) d[k] = block[8 * k + column];
    Pass<Multipliers>(d);
    for (int k = 0; k < 8; ++k) block[8 * k + column] = d[k];
  }
  for (int row = 0; row < 8; ++row) Pass<Multipliers>(block + 8 * row);
}

inline void Transpose8x8(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The 2-D transform of a block held as eight rows: columns, then rows; the result comes back
// in rows.
template <typename Multipliers>
inline void Transform8x8(__m128i* r) {
  Pass<Multipliers>(r);
  Transpose8x8(r);
  Pass<Multipliers>(r);
  Transpose8x8(r);
}

}  // namespace AanIdct16
