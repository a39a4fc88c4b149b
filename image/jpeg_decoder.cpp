#include "image/jpeg_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "image/aan_idct16.h"
#include "image/jpeg_tables.h"

#include <emmintrin.h>

namespace {

// Bytes of input the window must hold before an MCU, per block (a block's
// worst case is 64 codes of 16 bits plus 16 value bits, doubled by stuffing).
constexpr int kWindowPerBlock = 512;
// Progressive scans renew their window this close to its end.
constexpr int kScanWindow = 768;

const uint8_t kEmpty[8] = {};

// Predictor update; damaged data may run it beyond 32 bits, which wraps.
inline int32_t AddWrapping(int32_t a, int32_t b) {
  return int32_t(uint32_t(a) + uint32_t(b));
}

// The refill's fast path: when the eight bytes at cur hold no 0xFF (so no marker and no
// stuffed zero), as many whole bytes as fit enter the left-aligned buffer at once. False
// when the byte-by-byte path must run.
inline bool RefillWithoutMarkers(uint64_t& bits, int& count, const uint8_t*& cur,
                                 const uint8_t* end) {
  if (end - cur < 8) return false;
  uint64_t word;
  std::memcpy(&word, cur, 8);
  const uint64_t inv = ~word;
  if (((inv - 0x0101010101010101ull) & ~inv & 0x8080808080808080ull) != 0) return false;
  const int take = (64 - count) >> 3;
  const uint64_t be = __builtin_bswap64(word);
  bits |= (take == 8 ? be : (be >> (64 - 8 * take)) << (64 - 8 * take)) >> count;
  count += 8 * take;
  cur += take;
  return true;
}

// The T.81 value of s bits v: below half the range it is v - (2^s - 1). Arithmetic rather than
// a branch, as a coefficient's sign is a coin toss.
inline int32_t Extend(uint32_t v, int s) {
  if (s == 0) return 0;
  const int32_t below_half = int32_t(v - (1u << (s - 1))) >> 31;  // -1 or 0
  return int32_t(v) + (below_half & (1 - (1 << s)));
}

}  // namespace

// ---------------------------------------------------------------- input

const uint8_t* JpegMemoryInput::PeekUpTo(int /*n*/, int* available) {
  if (pos_ >= size_) {
    *available = 0;
    return nullptr;
  }
  *available = int(std::min<size_t>(size_ - pos_, 1 << 30));
  return data_ + pos_;
}

void JpegMemoryInput::Advance(int n) {
  if (n < 0 && size_t(-n) > pos_) {
    pos_ = 0;
  } else {
    pos_ += n;
  }
}

// ---------------------------------------------------------------- tables

int BuildHuffmanLookup(JpegHuffmanLookup* t, const uint8_t counts[16], const uint8_t* values) {
  std::memset(t->entries, 0, sizeof t->entries);
  t->long_count = 0;
  int total = 0;
  for (int i = 0; i < 16; ++i) total += counts[i];
  if (total > 256) return -1;
  uint32_t code = 0;
  int k = 0;
  for (int len = 1; len <= 16; ++len) {
    for (int i = 0; i < counts[len - 1]; ++i, ++k, ++code) {
      if (code >= (1u << len)) return -1;  // more codes than this length holds
      const uint8_t sym = values[k];
      if (len <= 8) {
        const int size = sym & 15;
        const uint32_t first = code << (8 - len), last = (code + 1) << (8 - len);
        for (uint32_t idx = first; idx < last; ++idx) {
          uint32_t e;
          if (size > 0 && len + size <= 8) {
            const uint32_t bits = (idx >> (8 - len - size)) & ((1u << size) - 1);
            const int32_t value = Extend(bits, size);
            e = sym | uint32_t(len + size) << 8 | JpegHuffmanLookup::kValue << 13 |
                uint32_t(uint16_t(int16_t(value))) << 16;
          } else {
            e = sym | uint32_t(len) << 8 | JpegHuffmanLookup::kSymbol << 13;
          }
          t->entries[idx] = e;
        }
      } else {
        // The list is in code order, so the codes of one prefix are neighbours: the entry
        // holds where they start and how many there are (less one).
        const int n = t->long_count++;
        uint32_t& e = t->entries[code >> (len - 8)];
        if (e == 0)
          e = JpegHuffmanLookup::kLong << 13 | uint32_t(n) << 16;
        else
          e += 1u << 24;
        t->long_code[n] = uint16_t(code << (16 - len));
        t->long_symbol[n] = sym;
        t->long_length[n] = uint8_t(len);
      }
    }
    code <<= 1;
  }
  return total;
}

void ScaleQuantTable(const uint8_t raw[64], int32_t scaled[64], double factor) {
  double a[8];
  a[0] = 1.0;
  for (int i = 1; i < 8; ++i) a[i] = std::sqrt(2.0) * std::cos(i * M_PI / 16.0);
  for (int k = 0; k < 64; ++k) {
    const int n = kJpegZigZag[k];
    const double v = raw[k] * 65536.0 * factor * 8.0 * a[n >> 3] * a[n & 7];
    scaled[k] = int32_t(std::lround(v));
  }
}

// ---------------------------------------------------------------- transform

namespace {

// sqrt 2 = 1 + 0.414214 and 2.613126 = 2 x 1.306563, each as x + (x k >> 16).
struct JpegMultipliers {
  static __m128i Sqrt2(__m128i x) { return AanIdct16::MulFraction(x, 27146); }
  static __m128i Times2_613(__m128i x) {
    return AanIdct16::MulFraction(_mm_add_epi16(x, x), 20091);
  }
  static int16_t Sqrt2(int16_t x) { return AanIdct16::MulFraction(x, 27146); }
  static int16_t Times2_613(int16_t x) { return AanIdct16::MulFraction(int16_t(2 * x), 20091); }
};

}  // namespace

void InverseDCT8x8Scalar(int stride, int16_t* dst, int16_t* coef) {
  alignas(16) int16_t a[64];
  std::memcpy(a, coef, sizeof a);
  std::memset(coef, 0, 64 * sizeof(int16_t));
  AanIdct16::Transform8x8Lanes<JpegMultipliers>(a);
  for (int r = 0; r < 8; ++r) std::memcpy(dst + r * stride, a + r * 8, 8 * sizeof(int16_t));
}

void InverseDCT8x8(int stride, int16_t* dst, int16_t* coef) {
  __m128i r[8];
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i) {
    r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coef + 8 * i), zero);
  }
  AanIdct16::Transform8x8<JpegMultipliers>(r);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * stride), r[i]);
}

namespace {
const bool g_has_avx2 = __builtin_cpu_supports("avx2");
}  // namespace

void InverseDCT8x8Pair(int stride_a, int16_t* dst_a, int16_t* coef_a, int stride_b, int16_t* dst_b,
                       int16_t* coef_b) {
  if (g_has_avx2) {
    InverseDCT8x8PairAvx2(stride_a, dst_a, coef_a, stride_b, dst_b, coef_b);
    return;
  }
  InverseDCT8x8(stride_a, dst_a, coef_a);
  InverseDCT8x8(stride_b, dst_b, coef_b);
}

// ---------------------------------------------------------------- upsampling

namespace {

// Two outputs for s_i from its neighbours (quarter sample before and after).
// Samples and intermediate sums are 16-bit, as in the vector form.
inline int16_t UpFirst(int16_t sm2, int16_t sm1, int16_t s, int16_t sp1, int16_t sp2) {
  return int16_t(s + int16_t(int16_t(sp2 - sp1) >> 5) - int16_t(int16_t(s + sm2) >> 4) -
                 int16_t(sp1 >> 3) + int16_t(sm1 >> 2));
}
inline int16_t UpSecond(int16_t sm2, int16_t sm1, int16_t s, int16_t sp1, int16_t sp2) {
  return int16_t(s + int16_t(int16_t(sm2 - sm1) >> 5) - int16_t(int16_t(s + sp2) >> 4) -
                 int16_t(sm1 >> 3) + int16_t(sp1 >> 2));
}

// One row pair of the vertical doubling from rows a..e (i-2 .. i+2), in
// 16-bit arithmetic so that it runs eight or sixteen samples at a time.
inline void UpsampleRowPairBody(const int16_t* __restrict a, const int16_t* __restrict b,
                                const int16_t* __restrict c, const int16_t* __restrict d,
                                const int16_t* __restrict e, int n, int16_t* __restrict o1,
                                int16_t* __restrict o2) {
  for (int x = 0; x < n; ++x) {
    const int16_t sm2 = a[x], sm1 = b[x], s = c[x], sp1 = d[x], sp2 = e[x];
    o1[x] = UpFirst(sm2, sm1, s, sp1, sp2);
    o2[x] = UpSecond(sm2, sm1, s, sp1, sp2);
  }
}

// The same loop compiled for SSE2 and for AVX2 (sixteen samples to a register); integer
// arithmetic, so both give the same samples.
void UpsampleRowPairSse2(const int16_t* a, const int16_t* b, const int16_t* c, const int16_t* d,
                         const int16_t* e, int n, int16_t* o1, int16_t* o2) {
  UpsampleRowPairBody(a, b, c, d, e, n, o1, o2);
}
__attribute__((target("avx2"))) void UpsampleRowPairAvx2(const int16_t* a, const int16_t* b,
                                                         const int16_t* c, const int16_t* d,
                                                         const int16_t* e, int n, int16_t* o1,
                                                         int16_t* o2) {
  UpsampleRowPairBody(a, b, c, d, e, n, o1, o2);
}

// The inner samples of the horizontal doubling, i in [begin, end) with two neighbours each side.
inline void UpsampleInnerBody(const int16_t* __restrict in, int begin, int end,
                              int16_t* __restrict out) {
  for (int i = begin; i < end; ++i) {
    const int16_t sm2 = in[i - 2], sm1 = in[i - 1], s = in[i], sp1 = in[i + 1], sp2 = in[i + 2];
    out[2 * i] = UpFirst(sm2, sm1, s, sp1, sp2);
    out[2 * i + 1] = UpSecond(sm2, sm1, s, sp1, sp2);
  }
}
void UpsampleInnerSse2(const int16_t* in, int begin, int end, int16_t* out) {
  UpsampleInnerBody(in, begin, end, out);
}
__attribute__((target("avx2"))) void UpsampleInnerAvx2(const int16_t* in, int begin, int end,
                                                       int16_t* out) {
  UpsampleInnerBody(in, begin, end, out);
}

}  // namespace

void UpsampleJpegChromaH(const int16_t* in, int n, int16_t* out) {
  auto at = [&](int i) -> int16_t { return in[std::clamp(i, 0, n - 1)]; };
  auto edge = [&](int i) {
    const int16_t sm2 = at(i - 2), sm1 = at(i - 1), s = in[i], sp1 = at(i + 1), sp2 = at(i + 2);
    out[2 * i] = UpFirst(sm2, sm1, s, sp1, sp2);
    out[2 * i + 1] = UpSecond(sm2, sm1, s, sp1, sp2);
  };
  const int inner_end = std::max(2, n - 2);
  for (int i = 0; i < std::min(2, n); ++i) edge(i);
  (g_has_avx2 ? UpsampleInnerAvx2 : UpsampleInnerSse2)(in, 2, inner_end, out);
  for (int i = std::max(inner_end, 2); i < n; ++i) edge(i);
}

void UpsampleJpegChromaV(const int16_t* const rows[12], int n, int16_t* out, int stride) {
  const int16_t* r[12];
  for (int i = 0; i < 12; ++i) r[i] = rows[i];
  // Missing context rows repeat the edge row next to them.
  if (!r[1]) r[1] = r[2];
  if (!r[0]) r[0] = r[1];
  if (!r[10]) r[10] = r[9];
  if (!r[11]) r[11] = r[10];
  for (int i = 0; i < 8; ++i) {
    // Rows i-2 .. i+2 of the doubled rows (the array starts two rows above).
    int16_t* o1 = out + (2 * i) * stride;
    (g_has_avx2 ? UpsampleRowPairAvx2 : UpsampleRowPairSse2)(r[i], r[i + 1], r[i + 2], r[i + 3],
                                                             r[i + 4], n, o1, o1 + stride);
  }
}

// ---------------------------------------------------------------- decoder

JpegDecoder::JpegDecoder() {
  std::memset(quant_raw, 0, sizeof quant_raw);
  std::memset(quant_scaled, 0, sizeof quant_scaled);
  std::memset(huffman, 0, sizeof huffman);
}

JpegDecoder::~JpegDecoder() = default;

void JpegDecoder::SetDefaultTables() {
  for (int k = 0; k < 64; ++k) {
    quant_raw[0][k] = kJpegStdLumaQuant[kJpegZigZag[k]];
    quant_raw[1][k] = kJpegStdChromaQuant[kJpegZigZag[k]];
    quant_raw[2][k] = kJpegStdChromaQuant[kJpegZigZag[k]];
  }
  BuildHuffmanLookup(&huffman[0], kJpegStdDcLumaBits, kJpegStdDcLumaValues);
  BuildHuffmanLookup(&huffman[1], kJpegStdAcLumaBits, kJpegStdAcLumaValues);
  BuildHuffmanLookup(&huffman[2], kJpegStdDcChromaBits, kJpegStdDcChromaValues);
  BuildHuffmanLookup(&huffman[3], kJpegStdAcChromaBits, kJpegStdAcChromaValues);
  BuildHuffmanLookup(&huffman[4], kJpegStdDcChromaBits, kJpegStdDcChromaValues);
  BuildHuffmanLookup(&huffman[5], kJpegStdAcChromaBits, kJpegStdAcChromaValues);
  BuildHuffmanLookup(&huffman[6], kJpegStdDcChromaBits, kJpegStdDcChromaValues);
  BuildHuffmanLookup(&huffman[7], kJpegStdAcChromaBits, kJpegStdAcChromaValues);
}

void JpegDecoder::PrescaleTables() {
  for (int t = 0; t < 3; ++t) ScaleQuantTable(quant_raw[t], quant_scaled[t], 1.0);
}

int JpegDecoder::SetFrame(int w, int h, JpegLayout l, bool prog) {
  width = w;
  height = h;
  layout = l;
  progressive = prog;
  int lh = 1, lv = 1;
  switch (l) {
    case JpegLayout::kGray:
    case JpegLayout::k444:
      break;
    case JpegLayout::k422:
      lh = 2;
      break;
    case JpegLayout::k440:
      lv = 2;
      break;
    case JpegLayout::k420:
      lh = lv = 2;
      break;
  }
  num_components = (l == JpegLayout::kGray) ? 1 : 3;
  mcu_width = 8 * lh;
  mcu_height = 8 * lv;
  mcus_per_row = (w + mcu_width - 1) / mcu_width;
  mcu_rows = (h + mcu_height - 1) / mcu_height;
  component[0].h = lh;
  component[0].v = lv;
  component[0].block_offset = 0;
  blocks_per_mcu = 0;
  for (int c = 0; c < num_components; ++c) {
    if (c > 0) component[c].h = component[c].v = 1;
    component[c].block_offset = blocks_per_mcu;
    for (int b = 0; b < component[c].h * component[c].v; ++b) block_component[blocks_per_mcu++] = c;
  }
  const uint64_t blocks = uint64_t(mcus_per_row) * uint64_t(mcu_rows) * blocks_per_mcu;
  if (prog) {
    if (blocks * 64 * sizeof(int16_t) > kMaxCoefficientBytes) return kTooLarge;
    coefficient_count_ = size_t(blocks) * 64;
    coefficients_.reset(new (std::nothrow) int16_t[coefficient_count_]());
    if (!coefficients_) return kTooLarge;
  }
  plane_width_ = mcus_per_row * mcu_width;
  const size_t pw = size_t(plane_width_);
  const int slots = (lv == 2) ? 2 : 1;
  for (int s = 0; s < slots; ++s) {
    luma_[s].assign(pw * mcu_height, 0);
    if (num_components == 3)
      for (int c = 0; c < 2; ++c) chroma_[s][c].assign(pw * 8, 0);
  }
  if (num_components == 3) {
    for (int c = 0; c < 2; ++c) {
      if (lh == 2) chroma_pre_[c].assign(size_t(mcus_per_row) * 8 * 8, 0);
      if (lv == 2) {
        chroma_above_[c].assign(pw * 2, 0);
        chroma_out_[c].assign(pw * 16, 0);
      }
    }
  }
  row_ = 0;
  next_mcu_ = 0;
  mcus_since_restart_ = 0;
  failed_ = false;
  return 0;
}

// ---------------------------------------------------------------- bit reader

void JpegDecoder::ResetBits() {
  bit_buffer_ = 0;
  bit_count_ = 0;
  phantom_bytes_ = 0;
  input_ended_ = false;
}

bool JpegDecoder::ConsumedBeyondInput() const {
  return input_ended_ && phantom_bytes_ * 8 > bit_count_;
}

void JpegDecoder::BeginEntropy(JpegInput* input) {
  input_ = input;
  base_ = cur_ = end_ = kEmpty;
  ResetBits();
  eob_run_ = 0;
  for (auto& c : component) c.dc_pred = 0;
}

void JpegDecoder::Refill() {
  if (phantom_bytes_ == 0 && RefillWithoutMarkers(bit_buffer_, bit_count_, cur_, end_)) return;
  while (bit_count_ <= 56) {
    uint32_t b = 0;
    if (phantom_bytes_ == 0 && cur_ < end_) {
      b = *cur_;
      if (b != 0xFF) {
        ++cur_;
      } else if (cur_ + 1 < end_ && cur_[1] == 0) {
        cur_ += 2;
      } else {
        b = 0;                            // a marker: feed zeros and stay before it
        input_ended_ = cur_ + 1 >= end_;  // a lone 0xFF is the last byte there is
        ++phantom_bytes_;
      }
    } else {
      // The window holds all that is left (EnsureWindow), so this is the end of the input.
      if (phantom_bytes_ == 0) input_ended_ = true;
      ++phantom_bytes_;
    }
    bit_buffer_ |= uint64_t(b) << (56 - bit_count_);
    bit_count_ += 8;
  }
}

namespace {

// The codes of more than 8 bits, by bisection in the list of their prefix. Returns the symbol
// and consumes its code from the left-aligned bits; -1 for a code no table entry has (one bit is
// consumed so that decoding moves on).
inline int DecodeLongSymbol(const JpegHuffmanLookup& t, uint32_t entry, uint64_t& bits,
                            int& count) {
  if (((entry >> 13) & 3) == JpegHuffmanLookup::kLong) {
    const uint16_t peek = uint16_t(bits >> 48);
    int lo = (entry >> 16) & 0xFF, hi = lo + int(entry >> 24), found = -1;
    while (lo <= hi) {
      const int mid = (lo + hi) >> 1;
      if (t.long_code[mid] <= peek) {
        found = mid;
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    if (found >= 0) {
      const int len = t.long_length[found];
      if (((peek ^ t.long_code[found]) >> (16 - len)) == 0) {
        bits <<= len;
        count -= len;
        return t.long_symbol[found];
      }
    }
  }
  bits <<= 1;
  count -= 1;
  return -1;
}

}  // namespace

// The bit reader for the decoding loops: the bit buffer and its count in locals, so that
// they stay in registers through a block; the members are brought up to date around every
// call that reads or moves them, and when the copy goes out of scope.
class JpegDecoder::LocalBits {
 public:
  explicit LocalBits(JpegDecoder& d) : d_(d), bits_(d.bit_buffer_), count_(d.bit_count_) {}
  ~LocalBits() { Store(); }
  LocalBits(const LocalBits&) = delete;
  LocalBits& operator=(const LocalBits&) = delete;

  int count() const { return count_; }
  uint32_t Peek8() const { return uint32_t(bits_ >> 56); }
  void RefillBelow(int n) {
    if (count_ >= n) return;
    if (d_.phantom_bytes_ == 0 && RefillWithoutMarkers(bits_, count_, d_.cur_, d_.end_)) return;
    Store();
    d_.Refill();
    Load();
  }
  // n bits that are known to be buffered.
  uint32_t Take(int n) {
    const uint32_t v = n == 0 ? 0 : uint32_t(bits_ >> (64 - n));
    bits_ <<= n;
    count_ -= n;
    return v;
  }
  // n bits (0 to 16), refilling first when fewer are buffered.
  uint32_t Get(int n) {
    if (n == 0) return 0;
    RefillBelow(n);
    return Take(n);
  }
  // Returns the symbol and consumes its code (refilling below 16 bits); -1 for a code no
  // table entry has.
  int Symbol(const JpegHuffmanLookup& t) {
    RefillBelow(16);
    return SymbolOf(t, t.entries[Peek8()]);
  }
  // The symbol of entry e of t, looked up on the buffered bits: consumes its code only (the
  // value bits of a kValue entry stay); -1 for a code no table entry has.
  int SymbolOf(const JpegHuffmanLookup& t, uint32_t e) {
    const uint32_t kind = (e >> 13) & 3;
    if (kind == JpegHuffmanLookup::kSymbol || kind == JpegHuffmanLookup::kValue) {
      const int len = (e >> 8) & 31;
      Take(kind == JpegHuffmanLookup::kValue ? len - (e & 15) : len);
      return int(e & 0xFF);
    }
    return LongSymbol(t, e);
  }
  int LongSymbol(const JpegHuffmanLookup& t, uint32_t e) {
    return DecodeLongSymbol(t, e, bits_, count_);
  }
  // Brings the members up to date, and back.
  void Store() {
    d_.bit_buffer_ = bits_;
    d_.bit_count_ = count_;
  }
  void Load() {
    bits_ = d_.bit_buffer_;
    count_ = d_.bit_count_;
  }

 private:
  JpegDecoder& d_;
  uint64_t bits_;
  int count_;
};

void JpegDecoder::GiveBackWholeBytes() {
  const int whole = bit_count_ / 8;
  const int phantom = std::min(whole, phantom_bytes_);
  for (int i = phantom; i < whole; ++i) {
    const uint32_t byte = uint32_t(bit_buffer_ >> (64 - bit_count_ + 8 * i)) & 0xFF;
    cur_ -= (byte == 0xFF) ? 2 : 1;
  }
  bit_count_ -= whole * 8;
  if (bit_count_ == 0)
    bit_buffer_ = 0;
  else
    bit_buffer_ &= ~uint64_t(0) << (64 - bit_count_);
  phantom_bytes_ = 0;
  input_ended_ = false;
}

void JpegDecoder::JpegReturnBufferedBytes() {
  GiveBackWholeBytes();
  bit_buffer_ = 0;
  bit_count_ = 0;
}

void JpegDecoder::EndEntropy() {
  JpegReturnBufferedBytes();
  if (input_) input_->Advance(int(cur_ - base_));
  base_ = cur_ = end_ = kEmpty;
}

// Makes sure at least `need` bytes are in the window when the input has them.
// False when no byte is left at all.
bool JpegDecoder::EnsureWindow(int need) {
  if (end_ - cur_ >= need) return true;
  GiveBackWholeBytes();
  input_->Advance(int(cur_ - base_));
  int avail = 0;
  const uint8_t* p = input_->PeekUpTo(need, &avail);
  if (!p || avail <= 0) {
    base_ = cur_ = end_ = kEmpty;
    return false;
  }
  base_ = cur_ = p;
  end_ = p + avail;
  return true;
}

bool JpegDecoder::JpegRestart() {
  JpegReturnBufferedBytes();
  for (auto& c : component) c.dc_pred = 0;
  eob_run_ = 0;
  for (;;) {
    if (end_ - cur_ < 2 && !EnsureWindow(kScanWindow)) return false;
    if (end_ - cur_ < 2) {
      // One byte left and no more input.
      cur_ = end_;
      EnsureWindow(kScanWindow);
      return false;
    }
    if (cur_[0] == 0xFF && cur_[1] >= 0xD0 && cur_[1] <= 0xD7) {
      cur_ += 2;
      return true;
    }
    ++cur_;
  }
}

namespace {

// Bit k set when coefficient k of the block is nonzero.
inline uint64_t NonzeroMask(const int16_t* coef) {
  const __m128i zero = _mm_setzero_si128();
  uint64_t zeros = 0;
  for (int i = 0; i < 64; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i + 8));
    const __m128i eq = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    zeros |= uint64_t(uint32_t(_mm_movemask_epi8(eq))) << i;
  }
  return ~zeros;
}

// Bits lo..63 (lo <= 63) and bits 0..hi - 1 (hi <= 64).
inline uint64_t BitsFrom(int lo) {
  return ~uint64_t(0) << lo;
}
inline uint64_t BitsBelow(int hi) {
  return hi >= 64 ? ~uint64_t(0) : (uint64_t(1) << hi) - 1;
}

}  // namespace

// ---------------------------------------------------------------- blocks

void JpegDecoder::DecodeHuffmanBlocks(int16_t (*blocks)[64]) {
  LocalBits in(*this);
  for (int b = 0; b < blocks_per_mcu; ++b) {
    Component& comp = component[block_component[b]];
    const int32_t* q = quant_scaled[comp.quant];
    int16_t* blk = blocks[b];
    // With at least 32 bits buffered, a code of up to 8 bits and its up to 15 value bits are
    // there without another refill.
    in.RefillBelow(32);
    int32_t difference;
    const uint32_t d = huffman[comp.dc_slot].entries[in.Peek8()];
    const uint32_t dc_kind = (d >> 13) & 3;
    if (dc_kind == JpegHuffmanLookup::kValue) {
      in.Take((d >> 8) & 31);
      difference = int16_t(d >> 16);
    } else if (dc_kind == JpegHuffmanLookup::kSymbol) {
      in.Take((d >> 8) & 31);
      const int size = d & 15;
      difference = Extend(in.Take(size), size);
    } else {
      const int s = in.LongSymbol(huffman[comp.dc_slot], d);
      const int size = s < 0 ? 0 : std::min(s & 15, 16);
      difference = Extend(in.Get(size), size);
    }
    comp.dc_pred = AddWrapping(comp.dc_pred, difference);
    blk[0] = int16_t((int64_t(comp.dc_pred) * q[0]) >> 16);
    const JpegHuffmanLookup& ac = huffman[comp.ac_slot];
    for (int k = 1; k < 64;) {
      in.RefillBelow(32);
      const uint32_t e = ac.entries[in.Peek8()];
      const uint32_t kind = (e >> 13) & 3;
      if (kind == JpegHuffmanLookup::kValue) {
        in.Take((e >> 8) & 31);
        k += (e >> 4) & 15;
        if (k > 63) break;
        const int32_t value = int16_t(e >> 16);
        blk[kJpegZigZag[k]] = int16_t((int64_t(value) * q[k] + 32768) >> 16);
        ++k;
        continue;
      }
      // Not a kValue entry here, so a kSymbol entry's length is its code's.
      const int sym = kind == JpegHuffmanLookup::kSymbol ? (in.Take((e >> 8) & 31), int(e & 0xFF))
                                                         : in.LongSymbol(ac, e);
      if (sym <= 0) break;  // end of block (or an undefined code)
      const int run = sym >> 4, sz = sym & 15;
      if (sz == 0) {
        k += 16;  // run of 16 zeros (or a meaningless symbol)
        continue;
      }
      k += run;
      if (k > 63) break;
      const int32_t value = Extend(in.Get(sz), sz);
      blk[kJpegZigZag[k]] = int16_t((int64_t(value) * q[k] + 32768) >> 16);
      ++k;
    }
  }
}

void JpegDecoder::DequantizeStoredBlocks(size_t mcu, int16_t (*blocks)[64]) {
  const int16_t* src = coefficients_.get() + mcu * blocks_per_mcu * 64;
  for (int b = 0; b < blocks_per_mcu; ++b, src += 64) {
    const int32_t* q = quant_scaled[component[block_component[b]].quant];
    int16_t* blk = blocks[b];
    blk[0] = int16_t((int64_t(src[0]) * q[0]) >> 16);
    // A zero coefficient gives (0 + 32768) >> 16 = 0, which the cleared block already holds,
    // so only the nonzero ones are visited.
    for (uint64_t nonzero = NonzeroMask(src) & ~uint64_t(1); nonzero; nonzero &= nonzero - 1) {
      const int k = __builtin_ctzll(nonzero);
      blk[kJpegZigZag[k]] = int16_t((int64_t(src[k]) * q[k] + 32768) >> 16);
    }
  }
}

void JpegDecoder::PlaceBlocks(int16_t (*blocks)[64], int mcu_x, int slot) {
  const int pw = plane_width_;
  int16_t* luma = luma_[slot].data() + mcu_x * mcu_width;
  const int lh = component[0].h;
  int stride[6];
  int16_t* dst[6];
  for (int b = 0; b < blocks_per_mcu; ++b) {
    const int c = block_component[b];
    if (c == 0) {
      blocks[b][0] = int16_t(blocks[b][0] + 8192);  // level shift of the first component
      const int i = b, bx = i % lh, by = i / lh;
      stride[b] = pw;
      dst[b] = luma + by * 8 * pw + bx * 8;
    } else if (lh == 2) {
      stride[b] = mcus_per_row * 8;
      dst[b] = chroma_pre_[c - 1].data() + mcu_x * 8;
    } else {
      stride[b] = pw;
      dst[b] = chroma_[slot][c - 1].data() + mcu_x * 8;
    }
  }
  // Two blocks at a time where the processor allows.
  int b = 0;
  for (; b + 2 <= blocks_per_mcu; b += 2)
    InverseDCT8x8Pair(stride[b], dst[b], blocks[b], stride[b + 1], dst[b + 1], blocks[b + 1]);
  if (b < blocks_per_mcu) InverseDCT8x8(stride[b], dst[b], blocks[b]);
}

bool JpegDecoder::DecodeMcuRow(int slot) {
  alignas(16) int16_t blocks[6][64];
  std::memset(blocks, 0, sizeof blocks);
  for (int mx = 0; mx < mcus_per_row; ++mx, ++next_mcu_) {
    if (progressive) {
      if (next_mcu_ >= size_t(mcus_per_row) * mcu_rows) return false;
      DequantizeStoredBlocks(next_mcu_, blocks);
    } else {
      if (restart_interval > 0 && mcus_since_restart_ == restart_interval) {
        if (!JpegRestart()) {
          std::fprintf(stderr, "Error %li\n", long(kRestartNotFound));
          return false;
        }
        mcus_since_restart_ = 0;
      }
      if (!EnsureWindow(kWindowPerBlock * blocks_per_mcu)) return false;
      DecodeHuffmanBlocks(blocks);
      // A file cut short: the MCU took bits that are not there, so its rows have no data.
      if (ConsumedBeyondInput()) return false;
      ++mcus_since_restart_;
    }
    PlaceBlocks(blocks, mx, slot);
  }
  if (num_components == 3 && component[0].h == 2) {
    // Beyond the picture's own chroma columns the edge sample repeats, as in every reference
    // decoder; the samples of the MCU padding are not the picture's.
    const int cw = mcus_per_row * 8, used = (width + 1) / 2;
    for (int c = 0; c < 2; ++c)
      for (int r = 0; r < 8; ++r)
        UpsampleJpegChromaH(chroma_pre_[c].data() + r * cw, used,
                            chroma_[slot][c].data() + size_t(r) * plane_width_);
  }
  return true;
}

bool JpegDecoder::ReadRows(const int16_t* rows[3]) {
  if (failed_ || row_ >= mcu_rows * mcu_height || (!input_ && !progressive)) return false;
  const int pw = plane_width_;
  const bool vertical = component[0].v == 2 && num_components == 3;
  const int m = row_ / mcu_height, r = row_ % mcu_height;
  if (r == 0) {
    if (!vertical) {
      current_slot_ = 0;
      if (!DecodeMcuRow(0)) failed_ = true;
    } else {
      if (m == 0) {
        slot_ok_[0] = DecodeMcuRow(0);
        for (auto& a : chroma_above_) std::fill(a.begin(), a.end(), 0);
      } else {
        const int prev = (m - 1) & 1;
        for (int c = 0; c < 2; ++c)
          std::memcpy(chroma_above_[c].data(), chroma_[prev][c].data() + 6 * size_t(pw),
                      2 * size_t(pw) * sizeof(int16_t));
      }
      current_slot_ = m & 1;
      if (!slot_ok_[current_slot_]) failed_ = true;
      const bool has_next = m + 1 < mcu_rows;
      const int next = (m + 1) & 1;
      slot_ok_[next] = has_next && !failed_ && DecodeMcuRow(next);
      if (!failed_) {
        // Chroma rows 8m - 2 .. 8m + 9 around this MCU row; above the first and below the last
        // row of the picture's own chroma (or of the decoded data) the edge row repeats.
        const int first = 8 * m;
        const int last = std::min((height + 1) / 2, slot_ok_[next] ? first + 10 : first + 8) - 1;
        for (int c = 0; c < 2; ++c) {
          const int16_t* in[12];
          for (int k = 0; k < 12; ++k) {
            const int j = std::clamp(first + k - 2, 0, std::max(last, first));
            if (j < first)
              in[k] = chroma_above_[c].data() + size_t(j - (first - 2)) * pw;
            else if (j < first + 8)
              in[k] = chroma_[current_slot_][c].data() + size_t(j - first) * pw;
            else
              in[k] = chroma_[next][c].data() + size_t(j - first - 8) * pw;
          }
          UpsampleJpegChromaV(in, pw, chroma_out_[c].data(), pw);
        }
      }
    }
    if (failed_) return false;
  }
  const int s = current_slot_;
  rows[0] = luma_[s].data() + size_t(r) * pw;
  if (num_components == 3) {
    for (int c = 0; c < 2; ++c)
      rows[1 + c] =
          vertical ? chroma_out_[c].data() + size_t(r) * pw : chroma_[s][c].data() + size_t(r) * pw;
  } else {
    rows[1] = rows[2] = nullptr;
  }
  ++row_;
  return true;
}

// ---------------------------------------------------------------- progressive

namespace {

// kSelectInByte[b][n]: the place of the (n + 1)-th set bit of byte b (8 when it has fewer).
struct SelectInByte {
  uint8_t at[256][8];
  constexpr SelectInByte() : at() {
    for (int b = 0; b < 256; ++b) {
      int n = 0;
      for (int i = 0; i < 8; ++i) at[b][i] = 8;
      for (int i = 0; i < 8; ++i)
        if (b >> i & 1) at[b][n++] = uint8_t(i);
    }
  }
};
constexpr SelectInByte kSelectInByte;

}  // namespace

int JpegSelectBit(uint64_t x, int n) {
  // Without branches on the count: the bytes' running bit counts pick the byte, a table the bit
  // in it.
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  uint64_t s = x - ((x >> 1) & 0x5555555555555555ull);
  s = (s & 0x3333333333333333ull) + ((s >> 2) & 0x3333333333333333ull);
  s = (s + (s >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  const uint64_t running = s * kOnes;  // byte i: set bits in bytes 0..i (at most 64)
  // Flags the bytes whose running count is at most n: they come first, and count the bytes
  // wholly before the one that holds the bit.
  const uint64_t at_most = ((uint64_t(n) * kOnes | kHigh) - running) & kHigh;
  const int byte = int(((at_most >> 7) * kOnes) >> 56);
  if (byte == 8) return 64;
  const int before = int(((running << 8) >> (8 * byte)) & 0xFF);
  return 8 * byte + kSelectInByte.at[(x >> (8 * byte)) & 0xFF][n - before];
}

namespace {
// Where the processor has a quick bit deposit (not the early AMD cores that microcode it).
const bool g_fast_pdep =
    __builtin_cpu_supports("bmi2") && !__builtin_cpu_is("znver1") && !__builtin_cpu_is("znver2");
}  // namespace

__attribute__((target("bmi,bmi2"))) int JpegSelectBitBmi2(uint64_t x, int n) {
  const uint64_t bit = _pdep_u64(uint64_t(1) << n, x);
  return bit ? int(_tzcnt_u64(bit)) : 64;
}

template <typename BlockFn>
int JpegDecoder::ForEachScanBlock(const JpegScan& scan, int restart_error, int input_error,
                                  BlockFn fn) {
  int since_restart = 0;
  LocalBits in(*this);
  // The bit buffer lives in `in` through the scan; the restart and the window renewal work on
  // the members, so they are brought up to date around those two.
  auto step = [&]() -> int {
    if (scan.restart_interval > 0 && since_restart == scan.restart_interval) {
      in.Store();
      const bool found = JpegRestart();
      in.Load();
      if (!found) {
        std::fprintf(stderr, "Error %li\n", long(restart_error));
        return restart_error;
      }
      since_restart = 0;
    }
    if (end_ - cur_ < kScanWindow) {
      in.Store();
      const bool more = EnsureWindow(kScanWindow);
      in.Load();
      if (!more) {
        std::fprintf(stderr, "Error %li\n", long(input_error));
        return input_error;
      }
    }
    ++since_restart;
    return 0;
  };
  int16_t* const store = coefficients_.get();
  if (scan.num_components == 1) {
    const int c = scan.component[0];
    const Component& comp = component[c];
    const int hmax = component[0].h, vmax = component[0].v;
    // Blocks that hold image samples of this component.
    const int cw = (width * comp.h + hmax - 1) / hmax, ch = (height * comp.v + vmax - 1) / vmax;
    const int bw = (cw + 7) / 8, bh = (ch + 7) / 8;
    // Sampling factors are 1 or 2, so the block's MCU and place in it come from shifts.
    const int hs = comp.h == 2, vs = comp.v == 2;
    const size_t mcu_size = size_t(blocks_per_mcu) * 64;
    for (int by = 0; by < bh; ++by) {
      const int my = by >> vs;
      const bool row_inside = my < mcu_rows;
      int16_t* const row = store + size_t(my) * mcus_per_row * mcu_size +
                           size_t(comp.block_offset + (by & vs) * comp.h) * 64;
      for (int bx = 0; bx < bw; ++bx) {
        if (int rc = step()) return rc;
        const int mx = bx >> hs;
        if (!row_inside || mx >= mcus_per_row) continue;
        int16_t* const coef = row + size_t(mx) * mcu_size + size_t(bx & hs) * 64;
        // The blocks of one component lie an MCU apart: ask for the one four MCUs on (an
        // address only, which may lie past the store's end; a prefetch never faults).
        const uintptr_t ahead = reinterpret_cast<uintptr_t>(coef) + 4 * mcu_size * sizeof(int16_t);
        __builtin_prefetch(reinterpret_cast<const void*>(ahead), 1);
        __builtin_prefetch(reinterpret_cast<const void*>(ahead + 64), 1);
        if (int rc = fn(in, c, coef)) return rc;
      }
    }
    return 0;
  }
  for (int my = 0; my < mcu_rows; ++my) {
    for (int mx = 0; mx < mcus_per_row; ++mx) {
      if (int rc = step()) return rc;
      const size_t mcu = size_t(my) * mcus_per_row + mx;
      for (int i = 0; i < scan.num_components; ++i) {
        const int c = scan.component[i];
        const Component& comp = component[c];
        for (int b = 0; b < comp.h * comp.v; ++b) {
          const size_t index = (mcu * blocks_per_mcu + comp.block_offset + b) * 64;
          if (int rc = fn(in, c, store + index)) return rc;
        }
      }
    }
  }
  return 0;
}

int JpegDecoder::DecodeProgressiveDC(const JpegScan& scan) {
  if (!coefficients_) return kDcInputEnded;
  for (auto& c : component) c.dc_pred = 0;
  const bool refine = scan.ah != 0;
  return ForEachScanBlock(scan, kDcRestartFailed, kDcInputEnded,
                          [&](LocalBits& in, int c, int16_t* coef) {
                            if (refine) {
                              coef[0] = int16_t(coef[0] * 2 + int(in.Get(1)));
                            } else {
                              Component& comp = component[c];
                              const int s = in.Symbol(huffman[comp.dc_slot]);
                              const int size = s < 0 ? 0 : std::min(s & 15, 16);
                              comp.dc_pred = AddWrapping(comp.dc_pred, Extend(in.Get(size), size));
                              coef[0] = int16_t(comp.dc_pred);
                            }
                            return 0;
                          });
}

int JpegDecoder::DecodeProgressiveAC(const JpegScan& scan) {
  if (!coefficients_) return kAcInputEnded;
  eob_run_ = 0;
  const int ss = scan.ss, se = std::min(scan.se, 63);
  if (scan.ah == 0) {
    return ForEachScanBlock(scan, kAcRestartFailed, kAcInputEnded,
                            [&](LocalBits& in, int c, int16_t* coef) {
                              if (eob_run_ > 0) {
                                --eob_run_;
                                return 0;
                              }
                              return DecodeAcFirst(in, huffman[component[c].ac_slot], ss, se, coef);
                            });
  }
  const uint64_t band = BitsFrom(ss) & BitsBelow(se + 1);
  auto refine = [&](auto select) {
    return ForEachScanBlock(scan, kAcRestartFailed, kAcInputEnded,
                            [&](LocalBits& in, int c, int16_t* coef) {
                              return DecodeAcRefine<decltype(select)::value>(
                                  in, huffman[component[c].ac_slot], ss, se, band, coef);
                            });
  };
  if (g_fast_pdep)
    return refine(std::integral_constant<int (*)(uint64_t, int), JpegSelectBitBmi2>());
  return refine(std::integral_constant<int (*)(uint64_t, int), JpegSelectBit>());
}

// The first scan of a band in one block (not inside an end-of-band run). Codes whose value bits
// fit the lookup are decoded with their value in one step.
__attribute__((always_inline)) inline int JpegDecoder::DecodeAcFirst(LocalBits& in,
                                                                     const JpegHuffmanLookup& ac,
                                                                     int ss, int se,
                                                                     int16_t* coef) {
  for (int k = ss; k <= se;) {
    in.RefillBelow(32);
    const uint32_t e = ac.entries[in.Peek8()];
    const uint32_t kind = (e >> 13) & 3;
    if (kind == JpegHuffmanLookup::kValue) {
      const int len = (e >> 8) & 31;
      k += (e >> 4) & 15;
      if (k > se) {
        in.Take(len - int(e & 15));  // the code only: its value has no place in the band
        break;
      }
      in.Take(len);
      coef[k++] = int16_t(e >> 16);
      continue;
    }
    const int sym = in.SymbolOf(ac, e);
    if (sym < 0) {
      std::fprintf(stderr, "\nUndefined code occured\n");
      return kUndefinedCode;
    }
    const int r = sym >> 4, s = sym & 15;
    if (s) {
      k += r;
      if (k > se) break;
      coef[k++] = int16_t(Extend(in.Get(s), s));
    } else if (r < 15) {
      eob_run_ = (1 << r) + int(in.Get(r)) - 1;
      break;
    } else {
      k += 16;
    }
  }
  return 0;
}

// A refinement scan of a band in one block. The nonzero coefficients of the band are found once
// from the block (a coefficient's place is visited once per scan, and only the new values are
// written behind the walk), so the walk jumps from one to the next instead of testing each.
template <int (*Select)(uint64_t, int)>
__attribute__((always_inline)) inline int JpegDecoder::DecodeAcRefine(LocalBits& in,
                                                                      const JpegHuffmanLookup& ac,
                                                                      int ss, int se, uint64_t band,
                                                                      int16_t* coef) {
  const uint64_t nonzero = NonzeroMask(coef) & band;
  // A nonzero coefficient's next bit moves it away from zero; arithmetic rather than
  // branches, as the bits and signs are coin tosses.
  auto correct = [&](uint64_t which) {
    while (which) {
      // One refill for up to 48 bits.
      in.RefillBelow(48);
      for (int n = 0; n < 48 && which; ++n) {
        int16_t* c = coef + __builtin_ctzll(which);
        which &= which - 1;
        const int bit = int(in.Take(1));
        const int sign = (*c > 0) - (*c < 0);
        *c = int16_t(*c * 2 + bit * sign);
      }
    }
  };
  int k = ss;
  if (eob_run_ == 0) {
    for (; k <= se; ++k) {
      in.RefillBelow(32);
      const uint32_t e = ac.entries[in.Peek8()];
      const uint32_t kind = (e >> 13) & 3;
      int sym, value = 0;
      if (kind == JpegHuffmanLookup::kValue && (e & 15) == 1) {
        // The usual symbol, size 1: its sign bit came with the code.
        in.Take((e >> 8) & 31);
        sym = int(e & 0xFF);
        value = int16_t(e >> 16);
      } else {
        sym = in.SymbolOf(ac, e);
        if (sym < 0) {
          std::fprintf(stderr, "\nUndefined code occured\n");
          return kUndefinedCode;
        }
        if (sym & 15) {
          value = in.Get(1) ? 1 : -1;
        } else if ((sym >> 4) < 15) {
          eob_run_ = (1 << (sym >> 4)) + int(in.Get(sym >> 4));
          break;
        }
      }
      // The new value goes to the (r + 1)-th zero-history place from k; the nonzero ones
      // passed on the way take a correction bit each. Past the band k ends at se + 1.
      const int p = std::min(Select(~nonzero & band & BitsFrom(k), sym >> 4), se + 1);
      correct(nonzero & BitsFrom(k) & BitsBelow(p));
      k = p;
      if (value && k <= se) coef[k] = int16_t(value);
    }
  }
  if (eob_run_ > 0) {
    if (k <= se) correct(nonzero & BitsFrom(k));
    --eob_run_;
  }
  return 0;
}
