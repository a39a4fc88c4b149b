// The JPEG decoding engine: Huffman-coded baseline and progressive data with
// 8-bit samples, decoded to rows of planar 16-bit samples (value x 64; the
// first component carries the level shift, the second and third stay centred
// on 0). The file reader parses the markers, fills the tables and layout of a
// JpegDecoder and drives the progressive scans; everything from the
// entropy-coded data onwards lives here.
//
// Corrupt entropy data is not detected as such: decoding goes on with the
// values that result, but no write ever leaves its block, plane or store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Byte input of the decoder (the image-file context or a memory block).
class JpegInput {
 public:
  virtual ~JpegInput() = default;
  // Address of the next unread byte; at least n bytes there unless the input
  // ends first. *available receives the number of valid bytes (may exceed n).
  // Null (and 0) when nothing is left.
  virtual const uint8_t* PeekUpTo(int n, int* available) = 0;
  // Moves the read position by n bytes. A negative n gives back bytes read
  // since the last PeekUpTo (or at most 8 bytes before it).
  virtual void Advance(int n) = 0;
  // Offset of the read position in the file, or -1 when unknown.
  virtual int64_t Position() const { return -1; }
};

// A JpegInput over bytes held in memory (tests, and data already loaded).
class JpegMemoryInput : public JpegInput {
 public:
  JpegMemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  const uint8_t* PeekUpTo(int n, int* available) override;
  void Advance(int n) override;
  int64_t Position() const override { return int64_t(pos_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Huffman lookup table. entries[] is indexed by the next 8 bits of the stream;
// see BuildHuffmanLookup for the packing. Codes of 9 to 16 bits are in the
// sorted long-code list (left-aligned 16-bit codes); the entry of their 8-bit
// prefix points to its part of the list, which is searched by bisection.
struct JpegHuffmanLookup {
  enum Kind : uint32_t { kNone = 0, kSymbol = 1, kValue = 2, kLong = 3 };
  // bits 0-7 symbol (run << 4 | size), bits 8-12 bits to consume (the code
  // length, or code plus value bits for kValue), bits 13-14 kind,
  // bits 16-31 the sign-extended value (kValue only); for kLong bits 16-23
  // the first list index of the prefix and bits 24-31 its code count less one.
  uint32_t entries[256];
  uint16_t long_code[256];
  uint8_t long_symbol[256];
  uint8_t long_length[256];
  int long_count;
};

// Builds *table from the 16 code-length counts and the symbol values of one
// DHT table (values holds the sum of the counts). Returns that sum, or -1 when
// it exceeds 256 or the counts describe more codes than fit their lengths.
int BuildHuffmanLookup(JpegHuffmanLookup* table, const uint8_t counts[16], const uint8_t* values);

// Prescales a quantisation table (64 entries, zig-zag order) for the inverse
// transform: entry k becomes q_k x 65536 x factor x 8 a_r a_c, rounded half
// away from zero (a_0 = 1, a_i = sqrt 2 cos(i pi / 16)).
void ScaleQuantTable(const uint8_t raw[64], int32_t scaled[64], double factor);

// 8x8 inverse transform (AAN factorisation, 16-bit arithmetic). coef holds 64
// coefficients in natural order at the prescaled scale; the result (64 x the
// sample value) is written as 8 rows of 8 with the given row stride (in
// elements). coef is cleared.
void InverseDCT8x8(int stride, int16_t* dst, int16_t* coef);
// The same transform one lane at a time: the reference the vector form must
// match bit for bit.
void InverseDCT8x8Scalar(int stride, int16_t* dst, int16_t* coef);
// Two blocks, a and b, each as InverseDCT8x8 (same output): together in AVX2
// registers where the processor has them, else one after the other.
void InverseDCT8x8Pair(int stride_a, int16_t* dst_a, int16_t* coef_a, int stride_b, int16_t* dst_b,
                       int16_t* coef_b);
// The AVX2 form; only for a processor that has AVX2.
void InverseDCT8x8PairAvx2(int stride_a, int16_t* dst_a, int16_t* coef_a, int stride_b,
                           int16_t* dst_b, int16_t* coef_b);

// The place (0 to 63) of the (n + 1)-th set bit of x, n <= 15; 64 when x has fewer set bits.
int JpegSelectBit(uint64_t x, int n);
// The same by the processor's bit deposit; only for a processor that has BMI2.
int JpegSelectBitBmi2(uint64_t x, int n);

// Horizontal chroma doubling of one row of n >= 1 samples; beyond the row the
// edge sample repeats. out receives 2n samples.
void UpsampleJpegChromaH(const int16_t* in, int n, int16_t* out);
// Vertical chroma doubling of 8 rows of n samples: rows[0..1] are the two rows
// above, rows[2..9] the rows to double, rows[10..11] the two rows below (a null
// context row repeats the edge row next to it). Writes 16 rows of n samples
// with the given stride.
void UpsampleJpegChromaV(const int16_t* const rows[12], int n, int16_t* out, int stride);

enum class JpegLayout { kGray, k444, k422, k440, k420 };

// One scan of a progressive file, as the reader derives it from the frame and
// scan headers.
struct JpegScan {
  int num_components = 0;
  int component[3] = {0, 0, 0};  // indices into JpegDecoder::component
  int ss = 0, se = 0, ah = 0, al = 0;
  int restart_interval = 0;  // in MCUs of this scan; 0 = none
};

class JpegDecoder {
 public:
  // Result codes.
  static constexpr int kRestartNotFound = -44;
  static constexpr int kDcRestartFailed = -87;
  static constexpr int kDcInputEnded = -88;
  static constexpr int kAcRestartFailed = -89;
  static constexpr int kAcInputEnded = -90;
  static constexpr int kUndefinedCode = -1;
  static constexpr int kTooLarge = -98;
  // The coefficient store of a progressive image is limited to this size.
  static constexpr uint64_t kMaxCoefficientBytes = uint64_t(1) << 30;

  struct Component {
    int id = 0;
    int h = 1, v = 1;      // sampling in blocks per MCU
    int quant = 0;         // quantisation table 0..2
    int dc_slot = 0;       // huffman[] index (2 x DC table)
    int ac_slot = 1;       // huffman[] index (2 x AC table + 1)
    int block_offset = 0;  // first block of this component in an MCU
    int32_t dc_pred = 0;
  };

  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Installs the standard Huffman and quantisation tables.
  void SetDefaultTables();

  // Sets the frame: size, layout and the number of components (1 or 3).
  // Returns 0, or kTooLarge when a progressive coefficient store would
  // exceed kMaxCoefficientBytes.
  int SetFrame(int width, int height, JpegLayout layout, bool progressive);

  // Prescales the three quantisation tables (after the DQT segments).
  void PrescaleTables();

  // Starts entropy decoding at the input's read position (the reader has
  // consumed the scan header). The input must outlive the decoding.
  void BeginEntropy(JpegInput* input);
  // Gives unread whole bytes back and leaves the input at the next unread byte.
  void EndEntropy();

  // Progressive scans into the coefficient store: 0 or a negative code.
  int DecodeProgressiveDC(const JpegScan& scan);
  int DecodeProgressiveAC(const JpegScan& scan);

  // Next image row: rows[0] the first component, rows[1], rows[2] the others
  // (null for grey). Each row holds at least `width` samples. False when the
  // data end before the row (also when its MCU row is cut short) or a restart
  // marker is missing; later calls then fail too.
  bool ReadRows(const int16_t* rows[3]);

  // Restart point: gives back buffered bytes, clears predictors and searches
  // the next RST marker. False when the input ends first.
  bool JpegRestart();
  void JpegReturnBufferedBytes();

  // Tables and layout, filled by the reader.
  uint8_t quant_raw[3][64];      // zig-zag order
  int32_t quant_scaled[3][64];   // zig-zag order
  JpegHuffmanLookup huffman[8];  // slot 2 x id + class (0 DC, 1 AC)
  Component component[3];
  int num_components = 0;
  int width = 0, height = 0;
  JpegLayout layout = JpegLayout::kGray;
  bool progressive = false;
  int mcu_width = 8, mcu_height = 8;
  int mcus_per_row = 0, mcu_rows = 0;
  int blocks_per_mcu = 0;
  uint8_t block_component[6] = {};
  int restart_interval = 0;  // MCUs between restart markers; <= 0 none

  // Coefficient store of a progressive image (zig-zag order per block).
  int16_t* coefficients() { return coefficients_.get(); }
  size_t coefficient_count() const { return coefficient_count_; }

 private:
  // Bit reader.
  void Refill();
  // A copy of the bit buffer in locals for the decoding loops (see the source).
  class LocalBits;
  bool EnsureWindow(int need);
  void GiveBackWholeBytes();
  void ResetBits();
  // True when decoding has used bits past the end of the input (fed as zeros).
  bool ConsumedBeyondInput() const;

  bool DecodeMcuRow(int slot);
  void DecodeHuffmanBlocks(int16_t (*blocks)[64]);
  void DequantizeStoredBlocks(size_t mcu, int16_t (*blocks)[64]);
  void PlaceBlocks(int16_t (*blocks)[64], int mcu_x, int slot);
  template <typename BlockFn>
  int ForEachScanBlock(const JpegScan& scan, int restart_error, int input_error, BlockFn fn);
  int DecodeAcFirst(LocalBits& in, const JpegHuffmanLookup& ac, int ss, int se, int16_t* coef);
  template <int (*Select)(uint64_t, int)>
  int DecodeAcRefine(LocalBits& in, const JpegHuffmanLookup& ac, int ss, int se, uint64_t band,
                     int16_t* coef);

  JpegInput* input_ = nullptr;
  const uint8_t* base_ = nullptr;  // window start (input's read position)
  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t bit_buffer_ = 0;  // left-aligned
  int bit_count_ = 0;
  int phantom_bytes_ = 0;     // zero bytes fed at a marker or the end of input
  bool input_ended_ = false;  // those zero bytes stand for input that is missing
  int eob_run_ = 0;

  std::unique_ptr<int16_t[]> coefficients_;
  size_t coefficient_count_ = 0;

  // Row production.
  int plane_width_ = 0;  // samples per row of the planes (MCU row width)
  std::vector<int16_t> luma_[2];
  std::vector<int16_t> chroma_[2][2];   // [slot][component] 8 rows, plane width
  std::vector<int16_t> chroma_pre_[2];  // decoded chroma before doubling
  std::vector<int16_t> chroma_above_[2];
  std::vector<int16_t> chroma_out_[2];  // 16 rows after vertical doubling
  bool slot_ok_[2] = {false, false};
  int row_ = 0;
  int current_slot_ = 0;
  int mcus_since_restart_ = 0;
  bool failed_ = false;
  size_t next_mcu_ = 0;
};
