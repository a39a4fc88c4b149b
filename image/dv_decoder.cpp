#include "image/dv_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/aan_idct16.h"
#include "image/dv_tables.h"

#include <immintrin.h>

namespace DvDecoder {
namespace {

constexpr int kDifBlockBytes = 80;
constexpr int kGroupBytes = 16 * kDifBlockBytes;  // one audio and 15 video DIF blocks
constexpr int kSegmentBytes = 5 * kDifBlockBytes;
constexpr int kBlockOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr int kBlockBytes[6] = {14, 14, 14, 14, 10, 10};

// Every buffer the bit readers read carries this many readable bytes past its last data byte.
constexpr int kReadSlack = 8;

// Up to 32 bits from data[position, end), most significant first, zeros past end. Reads the 8
// bytes from the one holding bit `position` (the buffers carry kReadSlack bytes of slack).
inline uint32_t PeekBits(const uint8_t* data, int position, int end) {
  if (position >= end) return 0;
  uint64_t window;
  std::memcpy(&window, data + (position >> 3), 8);
  window = __builtin_bswap64(window) << (position & 7);
  uint32_t bits = static_cast<uint32_t>(window >> 32);
  int available = end - position;
  return available >= 32 ? bits : bits & ~(0xFFFFFFFFu >> available);
}

// Appends bits to a zeroed byte buffer (with kReadSlack bytes of slack), most significant first.
struct BitSink {
  uint8_t* data;
  int bits = 0;
  void Append(const uint8_t* source, int position, int end) {
    while (position < end) {
      int n = std::min(end - position, 24);
      uint32_t value = PeekBits(source, position, position + n) >> (32 - n);
      uint32_t placed = value << (32 - n - (bits & 7));
      uint8_t* out = data + (bits >> 3);
      out[0] |= static_cast<uint8_t>(placed >> 24);
      out[1] |= static_cast<uint8_t>(placed >> 16);
      out[2] |= static_cast<uint8_t>(placed >> 8);
      out[3] |= static_cast<uint8_t>(placed);
      bits += n;
      position += n;
    }
  }
};

// Continues the unfinished blocks listed in `order` from the bits of `pool` (bit range
// [*position, end)), in order. Returns -1 on an invalid code.
int ContinueBlocks(BlockState* const* order, int count, const uint8_t* pool, int* position,
                   int end) {
  for (int i = 0; i < count; ++i) {
    BlockState& block = *order[i];
    if (block.finished) continue;
    block.bit_position = *position;
    block.bit_end = end;
    int result = DecodeDVBlockAC(block, pool);
    if (result == kBlockInvalid) return -1;
    *position = block.bit_position;
    if (result == kBlockBitsExhausted) break;  // the pool is used up
  }
  return 0;
}

inline int32_t Mul14(int32_t x, int32_t constant) {
  return static_cast<int32_t>((int64_t{x} * constant) >> 14);
}

constexpr int32_t K14(double v) {
  return static_cast<int32_t>(v * 16384.0 + (v < 0 ? -0.5 : 0.5));
}
constexpr int32_t kSqrt2 = K14(1.414213562);
constexpr int32_t k1_847 = K14(1.847759065);
constexpr int32_t k1_082 = K14(1.082392200);
constexpr int32_t kMinus2_613 = K14(-2.613125930);

// Scaled (AAN) 8-point inverse transform in place: x[k * step]; inputs carry the factors
// DvTables::AanScale(k), outputs come out at 2 * sqrt(2) x the orthonormal transform.
void InverseAan8(int32_t* x, int step) {
  if ((x[step] | x[2 * step] | x[3 * step] | x[4 * step] | x[5 * step] | x[6 * step] |
       x[7 * step]) == 0) {
    for (int k = 1; k < 8; ++k) x[k * step] = x[0];
    return;
  }
  int32_t t0 = x[0], t1 = x[2 * step], t2 = x[4 * step], t3 = x[6 * step];
  int32_t t10 = t0 + t2, t11 = t0 - t2;
  int32_t t13 = t1 + t3, t12 = Mul14(t1 - t3, kSqrt2) - t13;
  int32_t e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;

  int32_t t4 = x[step], t5 = x[3 * step], t6 = x[5 * step], t7 = x[7 * step];
  int32_t z13 = t6 + t5, z10 = t6 - t5, z11 = t4 + t7, z12 = t4 - t7;
  int32_t o7 = z11 + z13;
  int32_t o11 = Mul14(z11 - z13, kSqrt2);
  int32_t z5 = Mul14(z10 + z12, k1_847);
  int32_t o10 = Mul14(z12, k1_082) - z5;
  int32_t o12 = Mul14(z10, kMinus2_613) + z5;
  int32_t o6 = o12 - o7;
  int32_t o5 = o11 - o6;
  int32_t o4 = o10 + o5;

  x[0] = e0 + o7;
  x[7 * step] = e0 - o7;
  x[step] = e1 + o6;
  x[6 * step] = e1 - o6;
  x[2 * step] = e2 + o5;
  x[5 * step] = e2 - o5;
  x[4 * step] = e3 + o4;
  x[3 * step] = e3 - o4;
}

inline uint8_t ClampToByte(int32_t v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The two-field vertical transform: field line z of the sum and difference parts, with the
// 4-point basis sqrt(2) c(h) cos((2z + 1) h pi / 8) (c(0) = 1 / sqrt(2)), in 14 fractional bits.
struct FieldBasis {
  int32_t k[4][4];
  FieldBasis() {
    for (int z = 0; z < 4; ++z)
      for (int h = 0; h < 4; ++h) {
        double v = h == 0 ? 1.0 : std::sqrt(2.0) * std::cos((2 * z + 1) * h * M_PI / 8.0);
        k[z][h] = static_cast<int32_t>(std::lround(v * 16384.0));
      }
  }
};
const FieldBasis kFieldBasis;

void PlaceBlock(BlockState& block, uint8_t* destination, int stride) {
  if (block.dct_mode)
    InverseDCT248(block.coefficients, destination, stride);
  else
    InverseDCT88(stride, destination, block.coefficients);
}

// Sequence walk shared by both systems: decode each segment, then place its macroblocks.
template <typename Place>
int DecodeSequence(const uint8_t* sequence, Place place) {
  SegmentState segment;  // zero coefficients; placing a block clears its coefficients again
  for (int k = 0; k < 27; ++k) {
    const uint8_t* dif =
        sequence + kFirstVideoByte + (k / 3) * kGroupBytes + (k % 3) * kSegmentBytes;
    if (DecodeVideoSegment(segment, dif) != 0) return -1;
    for (int m = 0; m < 5; ++m) place(k, m, segment.blocks[m]);
  }
  return 0;
}

}  // namespace

int DecodeDVBlockAC(BlockState& block, const uint8_t* data) {
  const DvTables::VlcTable& vlc = DvTables::Vlc();
  // An unfinished code from the block's previous area first, one symbol at a time.
  while (block.pending_bits > 0) {
    int from_data = block.bit_end - block.bit_position;
    int available = block.pending_bits + std::max(from_data, 0);
    uint32_t bits = PeekBits(data, block.bit_position, block.bit_end);
    bits = (block.pending << (32 - block.pending_bits)) | (bits >> block.pending_bits);
    const DvTables::VlcEntry& symbol = DvTables::VlcLookup(vlc, bits >> 16);
    if (symbol.length > available) {
      // The code goes on beyond these bits: keep them for the continuation.
      block.pending = bits >> (32 - available);
      block.pending_bits = available;
      block.bit_position = block.bit_end;
      return kBlockBitsExhausted;
    }
    int from_pending = std::min<int>(symbol.length, block.pending_bits);
    block.pending_bits -= from_pending;
    block.pending &= block.pending_bits ? (1u << block.pending_bits) - 1 : 0;
    block.bit_position += symbol.length - from_pending;
    if (symbol.end_of_block) {
      block.finished = true;
      return kBlockEnded;
    }
    block.scan_index += symbol.run + 1;
    if (block.scan_index > 63) return kBlockInvalid;
    block.coefficients[block.scan[block.scan_index]] =
        (symbol.amplitude * block.multipliers[block.scan_index]) >> 10;
  }

  // Then straight from the data, the block's state in registers until the end.
  const int end = block.bit_end;
  const int32_t* multipliers = block.multipliers;
  const uint8_t* scan = block.scan;
  int32_t* coefficients = block.coefficients;
  int position = block.bit_position;
  int scan_index = block.scan_index;
  const auto lookup = [&vlc](uint32_t bits16) {
    const uint32_t prefix = bits16 >> DvTables::kVlcSecondBits;
    const DvTables::VlcEntry* symbol = &vlc.first[prefix];
    if (symbol->length == 0)
      symbol = &vlc.second[(vlc.second_index[prefix] << DvTables::kVlcSecondBits) |
                           (bits16 & ((1u << DvTables::kVlcSecondBits) - 1))];
    return symbol;
  };
  // Places the symbol's coefficient; a result when the block ends here, else 0.
  const auto apply = [&](const DvTables::VlcEntry* symbol) {
    if (symbol->end_of_block) {
      block.finished = true;
      return kBlockEnded;
    }
    scan_index += symbol->run + 1;
    if (scan_index > 63) return kBlockInvalid;
    coefficients[scan[scan_index]] = (symbol->amplitude * multipliers[scan_index]) >> 10;
    return 0;
  };
  int result = 0;
  while (result == 0) {
    if (position >= end) {
      result = kBlockBitsExhausted;
      break;
    }
    uint64_t window;
    std::memcpy(&window, data + (position >> 3), 8);
    window = __builtin_bswap64(window) << (position & 7);
    if (end - position >= 16) {
      // One load serves the codes that start within its first 41 of at least 57 valid bits;
      // those that start 16 bits or more before the end lie wholly within the area.
      const int stop = std::min(position + (64 - 7 - 16), end - 16);
      do {
        const DvTables::VlcEntry* symbol = lookup(static_cast<uint32_t>(window >> 48));
        position += symbol->length;
        window <<= symbol->length;
        result = apply(symbol);
      } while (result == 0 && position <= stop);
      continue;
    }
    // The area's last bits, with zeros past its end.
    const int available = end - position;
    const uint32_t bits16 = static_cast<uint32_t>(window >> 48) & ~(0xFFFFu >> available);
    const DvTables::VlcEntry* symbol = lookup(bits16);
    if (symbol->length > available) {
      // The code goes on beyond the area: keep its bits for the continuation.
      block.pending = bits16 >> (16 - available);
      block.pending_bits = available;
      position = end;
      result = kBlockBitsExhausted;
      break;
    }
    position += symbol->length;
    result = apply(symbol);
  }
  block.bit_position = position;
  block.scan_index = scan_index;
  return result;
}

int DecodeVideoSegment(SegmentState& segment, const uint8_t* input) {
  // A padded copy, so that the bit readers may read whole words past the last block.
  uint8_t dif_blocks[kSegmentBytes + kReadSlack] = {};
  std::memcpy(dif_blocks, input, kSegmentBytes);

  // Pass 1: every block within its own area.
  for (int m = 0; m < 5; ++m) {
    const uint8_t* dif = dif_blocks + m * kDifBlockBytes;
    int qno = dif[3] & 15;
    for (int b = 0; b < 6; ++b) {
      BlockState& block = segment.blocks[m][b];
      const uint8_t* p = dif + kBlockOffset[b];
      int dc = (p[0] << 1) | (p[1] >> 7);
      if (dc >= 256) dc -= 512;
      block.coefficients[0] = dc + 257;
      block.dct_mode = (p[1] >> 6) & 1;
      block.multipliers = DvTables::Multipliers((((p[1] >> 4) & 7) << 4) | qno);
      block.scan = block.dct_mode ? DvTables::kScan248 : DvTables::kScan88;
      int start = (m * kDifBlockBytes + kBlockOffset[b]) * 8;
      block.bit_position = start + 12;
      block.bit_end = start + kBlockBytes[b] * 8;
      block.scan_index = 0;
      block.pending = 0;
      block.pending_bits = 0;
      block.finished = false;
      if (DecodeDVBlockAC(block, dif_blocks) == kBlockInvalid) return -1;
    }
  }

  // Pass 2: within each macroblock, the bits after the ends of block go to the unfinished
  // blocks. What is left goes to the segment's pool for pass 3.
  uint8_t segment_pool[kSegmentBytes + kReadSlack] = {};
  BitSink segment_sink{segment_pool};
  bool any_unfinished = false;
  for (int m = 0; m < 5; ++m) {
    uint8_t pool[kDifBlockBytes + kReadSlack] = {};
    BitSink sink{pool};
    BlockState* unfinished[6];
    int unfinished_count = 0;
    for (int b = 0; b < 6; ++b) {
      BlockState& block = segment.blocks[m][b];
      if (block.finished)
        sink.Append(dif_blocks, block.bit_position, block.bit_end);
      else
        unfinished[unfinished_count++] = &block;
    }
    int position = 0;
    if (unfinished_count > 0 && sink.bits > 0) {
      if (ContinueBlocks(unfinished, unfinished_count, pool, &position, sink.bits) != 0) return -1;
    }
    for (int i = 0; i < unfinished_count; ++i) any_unfinished |= !unfinished[i]->finished;
    segment_sink.Append(pool, position, sink.bits);
  }

  // Pass 3: across the macroblocks of the segment, in macroblock and block order.
  if (any_unfinished && segment_sink.bits > 0) {
    BlockState* order[30];
    for (int m = 0; m < 5; ++m)
      for (int b = 0; b < 6; ++b) order[m * 6 + b] = &segment.blocks[m][b];
    int position = 0;
    if (ContinueBlocks(order, 30, segment_pool, &position, segment_sink.bits) != 0) return -1;
  }
  return 0;
}

namespace {

// The 8-8 transform runs in wrapping 16-bit arithmetic, eight samples to a register. Its
// multipliers are x + (x k >> 16) with k = -15377, 5400, -25354 and -27146 (0.765367,
// 1.082392, 0.613126, 0.585786): sqrt 2 = 2 - 0.585786 and 2.613126 = 2 + 0.613126.
struct DvMultipliers {
  static __m128i Sqrt2(__m128i x) {
    return _mm_sub_epi16(_mm_add_epi16(x, x), AanIdct16::MulFraction(x, -27146));
  }
  static __m128i Times2_613(__m128i x) {
    return _mm_add_epi16(_mm_add_epi16(x, x), AanIdct16::MulFraction(x, -25354));
  }
  static int16_t Sqrt2(int16_t x) { return int16_t(2 * x - AanIdct16::MulFraction(x, -27146)); }
  static int16_t Times2_613(int16_t x) {
    return int16_t(2 * x + AanIdct16::MulFraction(x, -25354));
  }
};

inline int16_t Saturate16(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

}  // namespace

void InverseDCT88Scalar(int stride, uint8_t* destination, int32_t* coefficients) {
  int16_t x[64];
  for (int i = 0; i < 64; ++i) x[i] = Saturate16(coefficients[i]);
  x[0] = Saturate16(coefficients[0] * 32 + 16);
  AanIdct16::Transform8x8Lanes<DvMultipliers>(x);
  for (int row = 0; row < 8; ++row) {
    uint8_t* out = destination + row * stride;
    for (int column = 0; column < 8; ++column) out[column] = ClampToByte(x[row * 8 + column] >> 6);
  }
  std::memset(coefficients, 0, 64 * sizeof(int32_t));
}

void InverseDCT88(int stride, uint8_t* destination, int32_t* coefficients) {
  __m128i r[8];
  const __m128i zero = _mm_setzero_si128();
  coefficients[0] = coefficients[0] * 32 + 16;
  for (int i = 0; i < 8; ++i) {
    __m128i* p = reinterpret_cast<__m128i*>(coefficients + 8 * i);
    r[i] = _mm_packs_epi32(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
    _mm_storeu_si128(p, zero);
    _mm_storeu_si128(p + 1, zero);
  }
  AanIdct16::Transform8x8<DvMultipliers>(r);
  for (int i = 0; i < 8; ++i) {
    const __m128i v = _mm_srai_epi16(r[i], 6);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + i * stride), _mm_packus_epi16(v, v));
  }
}

void InverseDCT248(int32_t* coefficients, uint8_t* destination, int stride) {
  int32_t x[64];
  for (int column = 0; column < 8; ++column) {
    int64_t sum[4], difference[4];
    for (int h = 0; h < 4; ++h) {
      sum[h] = coefficients[h * 8 + column];
      difference[h] = coefficients[(h + 4) * 8 + column];
    }
    if (column == 0) sum[0] = sum[0] * 32 + 16;
    for (int z = 0; z < 4; ++z) {
      int64_t s = 0, d = 0;
      for (int h = 0; h < 4; ++h) {
        s += sum[h] * kFieldBasis.k[z][h];
        d += difference[h] * kFieldBasis.k[z][h];
      }
      x[(2 * z) * 8 + column] = static_cast<int32_t>((s + d) >> 14);
      x[(2 * z + 1) * 8 + column] = static_cast<int32_t>((s - d) >> 14);
    }
  }
  for (int row = 0; row < 8; ++row) {
    InverseAan8(x + row * 8, 1);
    uint8_t* out = destination + row * stride;
    for (int column = 0; column < 8; ++column) out[column] = ClampToByte(x[row * 8 + column] >> 6);
  }
  std::memset(coefficients, 0, 64 * sizeof(int32_t));
}

int DecodeDVSequencePAL(const uint8_t* sequence, int index, uint8_t* luma, uint8_t* cb,
                        uint8_t* cr) {
  if (index < 0 || index >= kSequencesPAL) return -1;
  return DecodeSequence(sequence, [&](int k, int m, BlockState* blocks) {
    DvTables::Placement at = DvTables::PlacementPAL(index, k, m);
    uint8_t* y = luma + (16 * at.row) * kLumaStride + 16 * at.column;
    for (int b = 0; b < 4; ++b)
      PlaceBlock(blocks[b], y + 8 * (b >> 1) * kLumaStride + 8 * (b & 1), kLumaStride);
    int chroma = (8 * at.row) * kChromaStridePAL + 8 * at.column;
    PlaceBlock(blocks[4], cr + chroma, kChromaStridePAL);
    PlaceBlock(blocks[5], cb + chroma, kChromaStridePAL);
  });
}

int DecodeDVSequenceNTSC(const uint8_t* sequence, int index, uint8_t* luma, uint8_t* cb,
                         uint8_t* cr) {
  if (index < 0 || index >= kSequencesNTSC) return -1;
  return DecodeSequence(sequence, [&](int k, int m, BlockState* blocks) {
    DvTables::Placement at = DvTables::PlacementNTSC(index, k, m);
    uint8_t* y = luma + (8 * at.row) * kLumaStride + 32 * at.column;
    int chroma = (8 * at.row) * kChromaStrideNTSC + 8 * at.column;
    if (at.column <= 21) {
      for (int b = 0; b < 4; ++b) PlaceBlock(blocks[b], y + 8 * b, kLumaStride);
      PlaceBlock(blocks[4], cr + chroma, kChromaStrideNTSC);
      PlaceBlock(blocks[5], cb + chroma, kChromaStrideNTSC);
      return;
    }
    // Right edge: 16 x 16 luma; each chroma block covers 4 x 16, its left half above its
    // right half.
    for (int b = 0; b < 4; ++b)
      PlaceBlock(blocks[b], y + 8 * (b >> 1) * kLumaStride + 8 * (b & 1), kLumaStride);
    for (int c = 0; c < 2; ++c) {
      uint8_t block[64];
      PlaceBlock(blocks[4 + c], block, 8);
      uint8_t* plane = (c == 0 ? cr : cb) + chroma;
      for (int row = 0; row < 16; ++row)
        std::memcpy(plane + row * kChromaStrideNTSC, block + (row & 7) * 8 + (row >> 3) * 4, 4);
    }
  });
}

}  // namespace DvDecoder
