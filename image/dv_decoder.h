// Decoder of the video of 25 Mbit/s standard-definition DV frames (625/50 "PAL" and
// 525/60 "NTSC"), one DIF sequence (12,000 bytes) per call, into 8-bit planes that the caller
// owns:
//   luma   720 samples wide, row stride kLumaStride (576 rows PAL, 480 rows NTSC);
//   PAL    Cb and Cr 360 x 288 (4:2:0), row stride kChromaStridePAL;
//   NTSC   Cb and Cr 180 x 480 (4:1:1), row stride kChromaStrideNTSC.
// A call writes every macroblock of its sequence. No allocation, no global state: calls on
// different planes may run on different threads.
#pragma once

#include <cstdint>

namespace DvDecoder {

constexpr int kSequenceBytes = 12000;
constexpr int kSequencesPAL = 12;
constexpr int kSequencesNTSC = 10;
constexpr int kLumaStride = 720;
constexpr int kChromaStridePAL = 368;
constexpr int kChromaStrideNTSC = 192;
// Where the first video DIF block of a sequence starts (after the header, subcode and VAUX
// blocks and the first audio block).
constexpr int kFirstVideoByte = 560;

// Decodes DIF sequence `index` (0-11) of a PAL frame. Returns 0, or -1 when a video segment
// holds an invalid code (or the index is out of range): the macroblocks placed before it stay in
// the planes, the rest of the sequence keeps the planes' previous content.
int DecodeDVSequencePAL(const uint8_t* sequence, int index, uint8_t* luma, uint8_t* cb,
                        uint8_t* cr);
// The same for DIF sequence `index` (0-9) of an NTSC frame.
int DecodeDVSequenceNTSC(const uint8_t* sequence, int index, uint8_t* luma, uint8_t* cb,
                         uint8_t* cr);

// State of one 8 x 8 block while its AC coefficients are decoded.
struct BlockState {
  // Natural order; [0] holds DC + 257 (level-shifted). Zero in a new state; the inverse
  // transforms clear them again after use.
  int32_t coefficients[64] = {};
  int dct_mode;  // 0: 8-8, 1: 2-4-8
  const int32_t* multipliers;
  const uint8_t* scan;
  int bit_position;  // next unread bit of the data the block currently reads
  int bit_end;       // one past its last bit
  int scan_index;    // scan position of the last coefficient set (0: only DC so far)
  uint32_t pending;  // bits of an unfinished code, right-aligned, read before bit_position
  int pending_bits;
  bool finished;  // end of block reached
};

// One video segment: five macroblocks of six blocks (four luma, then Cr, then Cb).
struct SegmentState {
  BlockState blocks[5][6];
};

// Results of DecodeDVBlockAC.
constexpr int kBlockBitsExhausted = 1;
constexpr int kBlockEnded = 2;
constexpr int kBlockInvalid = 4;

// Decodes AC symbols of `block` from data[bit_position, bit_end) (after its pending bits)
// until the end of block (kBlockEnded; bit_position then stands after the end-of-block code),
// the end of the bits (kBlockBitsExhausted; an unfinished code is kept as pending bits), or a
// scan past coefficient 63 (kBlockInvalid). `data` must stay readable 8 bytes past the byte that
// holds bit bit_end - 1.
int DecodeDVBlockAC(BlockState& block, const uint8_t* data);

// Decodes the five DIF blocks (400 bytes) of one video segment into `segment` in three passes:
// each block within its own area, then bits left over within a macroblock, then bits left over
// within the segment, each time in block order. 0, or -1 on an invalid code. The blocks'
// coefficients must be zero on entry: a new state, or one whose blocks all went through the
// inverse transforms.
int DecodeVideoSegment(SegmentState& segment, const uint8_t* dif_blocks);

// Inverse transforms of one block to 8-bit samples clamped to 0..255. coefficients[0] is the
// level-shifted DC (DC + 257); the AC coefficients come from the multiplier tables. Both clear
// the coefficients. The 8-8 transform works in wrapping 16-bit arithmetic (coefficients and the
// scaled DC saturate to 16 bits first): within 1 of the exact transform on picture data.
void InverseDCT88(int stride, uint8_t* destination, int32_t* coefficients);
// The same transform one lane at a time, the reference the vector form matches bit for bit.
void InverseDCT88Scalar(int stride, uint8_t* destination, int32_t* coefficients);
void InverseDCT248(int32_t* coefficients, uint8_t* destination, int stride);

}  // namespace DvDecoder
