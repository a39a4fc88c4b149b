// Fixed tables of the 25 Mbit/s DV video format (IEC 61834-2, SMPTE 314M): the variable-length
// code of the AC coefficients, the two scan orders, the quantisation steps and weights folded into
// the coefficient multipliers, and the macroblock placement (super-block shuffling).
#pragma once

#include <cstdint>

namespace DvTables {

// One decoded VLC symbol. length counts every bit of the code, the sign bit included.
struct VlcEntry {
  uint8_t length;  // 0: the pattern continues in a second-level table (see VlcLookup)
  uint8_t run;     // zero coefficients skipped before this one (the scan advances run + 1)
  int16_t amplitude;
  bool end_of_block;
};

// The code table as two levels: the first 7 bits of a pattern, then, for the longer codes, the
// next 9 bits in the table of that prefix.
constexpr int kVlcFirstBits = 7;
constexpr int kVlcSecondBits = 16 - kVlcFirstBits;
struct VlcTable {
  VlcEntry first[1 << kVlcFirstBits];
  int16_t second_index[1 << kVlcFirstBits];
  const VlcEntry*
      second;  // second_index[prefix] << kVlcSecondBits is where a prefix's table starts
};
const VlcTable& Vlc();

// Looks up the symbol at the head of `bits16` (the next 16 bits of the stream, most significant
// bit first; bits past the end of the data must be zero). The common codes resolve through one
// 7-bit first-level access. Every 16-bit pattern decodes: the code is complete.
inline const VlcEntry& VlcLookup(const VlcTable& table, uint32_t bits16) {
  const VlcEntry& entry = table.first[(bits16 >> kVlcSecondBits) & ((1u << kVlcFirstBits) - 1)];
  if (entry.length != 0) return entry;
  const int index = table.second_index[(bits16 >> kVlcSecondBits) & ((1u << kVlcFirstBits) - 1)];
  return table.second[(index << kVlcSecondBits) | (bits16 & ((1u << kVlcSecondBits) - 1))];
}
inline const VlcEntry& VlcLookup(uint32_t bits16) {
  return VlcLookup(Vlc(), bits16);
}

// Scan orders: scan position -> natural index (row * 8 + column). In the 2-4-8 layout rows 0-3
// hold the coefficients of the sum of the two fields, rows 4-7 those of their difference.
extern const uint8_t kScan88[64];
extern const uint8_t kScan248[64];

// Coefficient multipliers with 10 fractional bits, indexed by scan position, for the table
// index (dct_mode << 6) | (class_number << 4) | qno (128 tables). A coefficient is
// (amplitude * multiplier) >> 10; the result carries 8 x the scale of the DC path of the inverse
// transforms (DC coefficient x 32), with the transforms' own scale factors folded in. Every
// multiplier is below kMultiplierLimit in magnitude, so that with amplitudes up to 255 a
// coefficient stays below 2^18 whatever the data: the transforms' 32-bit sums cannot overflow.
constexpr int32_t kMultiplierLimit = 1 << 20;
const int32_t* Multipliers(int table_index);

// The basis weights of the inverse transforms, as the multipliers assume them (for tests):
// the 8-point factor of index k of the scaled (AAN) transform, 1 for k = 0.
double AanScale(int k);

// Macroblock placement: for DIF sequence s, video segment k (0-26) and macroblock m (0-4) of the
// segment, the macroblock column and row. PAL: columns 0-44 (16 pixels), rows 0-35 (16 lines).
// NTSC: columns 0-21 hold 32 x 8 macroblocks at row * 8; column 22 holds 16 x 16 macroblocks,
// whose row (still counted in 8 lines) is even.
struct Placement {
  uint8_t column;
  uint8_t row;
};
Placement PlacementPAL(int s, int k, int m);
Placement PlacementNTSC(int s, int k, int m);

}  // namespace DvTables
