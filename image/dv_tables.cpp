#include "image/dv_tables.h"

#include <array>
#include <cmath>
#include <vector>

namespace DvTables {
namespace {

struct CodeWord {
  uint16_t code;  // without the sign bit
  uint8_t length;
  uint8_t run;
  uint8_t amplitude;  // 0: no sign bit follows
};

// The explicit (run, amplitude) codes of the standard's AC code table. The escapes
// 1111110 rrrrrr (run r, amplitude 0), 1111111 aaaaaaaa (run 0, amplitude a) and the end of
// block 0110 follow by rule and are added by rule.
constexpr CodeWord kCodes[] = {
    {0b00, 2, 0, 1},
    {0b010, 3, 0, 2},
    {0b0111, 4, 1, 1},
    {0b1000, 4, 0, 3},
    {0b1001, 4, 0, 4},
    {0b10100, 5, 2, 1},
    {0b10101, 5, 1, 2},
    {0b10110, 5, 0, 5},
    {0b10111, 5, 0, 6},
    {0b110000, 6, 3, 1},
    {0b110001, 6, 4, 1},
    {0b110010, 6, 0, 7},
    {0b110011, 6, 0, 8},
    {0b1101000, 7, 5, 1},
    {0b1101001, 7, 6, 1},
    {0b1101010, 7, 2, 2},
    {0b1101011, 7, 1, 3},
    {0b1101100, 7, 1, 4},
    {0b1101101, 7, 0, 9},
    {0b1101110, 7, 0, 10},
    {0b1101111, 7, 0, 11},
    {0b11100000, 8, 7, 1},
    {0b11100001, 8, 8, 1},
    {0b11100010, 8, 9, 1},
    {0b11100011, 8, 10, 1},
    {0b11100100, 8, 3, 2},
    {0b11100101, 8, 4, 2},
    {0b11100110, 8, 2, 3},
    {0b11100111, 8, 1, 5},
    {0b11101000, 8, 1, 6},
    {0b11101001, 8, 1, 7},
    {0b11101010, 8, 0, 12},
    {0b11101011, 8, 0, 13},
    {0b11101100, 8, 0, 14},
    {0b11101101, 8, 0, 15},
    {0b11101110, 8, 0, 16},
    {0b11101111, 8, 0, 17},
    {0b111100000, 9, 11, 1},
    {0b111100001, 9, 12, 1},
    {0b111100010, 9, 13, 1},
    {0b111100011, 9, 14, 1},
    {0b111100100, 9, 5, 2},
    {0b111100101, 9, 6, 2},
    {0b111100110, 9, 3, 3},
    {0b111100111, 9, 4, 3},
    {0b111101000, 9, 2, 4},
    {0b111101001, 9, 2, 5},
    {0b111101010, 9, 1, 8},
    {0b111101011, 9, 0, 18},
    {0b111101100, 9, 0, 19},
    {0b111101101, 9, 0, 20},
    {0b111101110, 9, 0, 21},
    {0b111101111, 9, 0, 22},
    {0b1111100000, 10, 5, 3},
    {0b1111100001, 10, 3, 4},
    {0b1111100010, 10, 3, 5},
    {0b1111100011, 10, 2, 6},
    {0b1111100100, 10, 1, 9},
    {0b1111100101, 10, 1, 10},
    {0b1111100110, 10, 1, 11},
    {0b11111001110, 11, 0, 0},
    {0b11111001111, 11, 1, 0},
    {0b11111010000, 11, 6, 3},
    {0b11111010001, 11, 4, 4},
    {0b11111010010, 11, 3, 6},
    {0b11111010011, 11, 1, 12},
    {0b11111010100, 11, 1, 13},
    {0b11111010101, 11, 1, 14},
    {0b111110101100, 12, 2, 0},
    {0b111110101101, 12, 3, 0},
    {0b111110101110, 12, 4, 0},
    {0b111110101111, 12, 5, 0},
    {0b111110110000, 12, 7, 2},
    {0b111110110001, 12, 8, 2},
    {0b111110110010, 12, 9, 2},
    {0b111110110011, 12, 10, 2},
    {0b111110110100, 12, 7, 3},
    {0b111110110101, 12, 8, 3},
    {0b111110110110, 12, 4, 5},
    {0b111110110111, 12, 3, 7},
    {0b111110111000, 12, 2, 7},
    {0b111110111001, 12, 2, 8},
    {0b111110111010, 12, 2, 9},
    {0b111110111011, 12, 2, 10},
    {0b111110111100, 12, 2, 11},
    {0b111110111101, 12, 1, 15},
    {0b111110111110, 12, 1, 16},
    {0b111110111111, 12, 1, 17},
};

constexpr int kFirstBits = kVlcFirstBits;
constexpr int kSecondBits = kVlcSecondBits;

struct VlcBuilder {
  std::array<VlcEntry, 1 << kFirstBits> first{};
  std::array<int16_t, 1 << kFirstBits> second_index{};
  std::vector<VlcEntry> second;  // one table of 1 << kSecondBits entries per long prefix

  void Add(uint32_t code, int length, VlcEntry entry) {
    entry.length = static_cast<uint8_t>(length);
    if (length <= kFirstBits) {
      uint32_t base = code << (kFirstBits - length);
      for (uint32_t i = 0; i < (1u << (kFirstBits - length)); ++i) first[base + i] = entry;
      return;
    }
    uint32_t prefix = code >> (length - kFirstBits);
    if (second_index[prefix] < 0) {
      second_index[prefix] = static_cast<int16_t>(second.size() >> kSecondBits);
      second.resize(second.size() + (1u << kSecondBits));
      first[prefix] = VlcEntry{0, 0, 0, false};
    }
    VlcEntry* table = second.data() + (size_t(second_index[prefix]) << kSecondBits);
    uint32_t rest = code & ((1u << (length - kFirstBits)) - 1);
    uint32_t base = rest << (16 - length);
    for (uint32_t i = 0; i < (1u << (16 - length)); ++i) table[base + i] = entry;
  }

  void AddSigned(uint32_t code, int length, int run, int amplitude) {
    if (amplitude == 0) {
      Add(code, length, VlcEntry{0, static_cast<uint8_t>(run), 0, false});
      return;
    }
    Add(code << 1, length + 1,
        VlcEntry{0, static_cast<uint8_t>(run), static_cast<int16_t>(amplitude), false});
    Add((code << 1) | 1, length + 1,
        VlcEntry{0, static_cast<uint8_t>(run), static_cast<int16_t>(-amplitude), false});
  }

  VlcBuilder() {
    second_index.fill(-1);
    for (const CodeWord& c : kCodes) AddSigned(c.code, c.length, c.run, c.amplitude);
    for (int run = 0; run < 64; ++run) AddSigned((0x7Eu << 6) | run, 13, run, 0);
    for (int amplitude = 0; amplitude < 256; ++amplitude)
      AddSigned((0x7Fu << 8) | amplitude, 15, 0, amplitude);
    Add(0x6, 4, VlcEntry{0, 0, 0, true});
  }
};

// Quantisation steps as powers of two for the four coefficient areas, by QNO plus the class
// offset; class 3 halves every step once more.
constexpr uint8_t kQuantShifts[22][4] = {
    {3, 3, 4, 4}, {3, 3, 4, 4}, {2, 3, 3, 4}, {2, 3, 3, 4}, {2, 2, 3, 3}, {2, 2, 3, 3},
    {1, 2, 2, 3}, {1, 2, 2, 3}, {1, 1, 2, 2}, {1, 1, 2, 2}, {0, 1, 1, 2}, {0, 1, 1, 2},
    {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},
};
constexpr int kClassOffset[4] = {6, 3, 0, 1};

int AreaOfScanPosition(int position) {
  if (position < 6) return 0;
  if (position < 21) return 1;
  if (position < 43) return 2;
  return 3;
}

double Cs(int m) {
  return std::cos(m * M_PI / 16.0);
}

// The standard's weighting factors w(k); a coefficient is weighted by w(h) w(v) / 2.
double WeightFactor(int k) {
  switch (k) {
    case 0:
      return 1.0;
    case 1:
      return Cs(4) / (4.0 * Cs(7) * Cs(2));
    case 2:
      return Cs(4) / (2.0 * Cs(6));
    case 3:
      return 1.0 / (2.0 * Cs(5));
    case 4:
      return 7.0 / 8.0;
    case 5:
      return Cs(4) / Cs(3);
    case 6:
      return Cs(4) / Cs(2);
    default:
      return Cs(4) / Cs(1);
  }
}

struct MultiplierTables {
  int32_t table[128][64];
  MultiplierTables() {
    for (int index = 0; index < 128; ++index) {
      int mode = (index >> 6) & 1;
      int klass = (index >> 4) & 3;
      int qno = index & 15;
      const uint8_t* scan = mode ? kScan248 : kScan88;
      table[index][0] = 0;
      for (int position = 1; position < 64; ++position) {
        int natural = scan[position];
        int row = natural >> 3;
        int column = natural & 7;
        int shift = kQuantShifts[qno + kClassOffset[klass]][AreaOfScanPosition(position)] +
                    (klass == 3 ? 1 : 0);
        double weight, scale;
        if (mode == 0) {
          weight = WeightFactor(row) * WeightFactor(column) / 2.0;
          scale = AanScale(row) * AanScale(column);
        } else {
          weight = WeightFactor(column) * WeightFactor(2 * (row & 3)) / 2.0;
          scale = AanScale(column);
        }
        // 8: the inverse transforms work at 8 x the DC path's unit (DC x 32 vs. DC / 4).
        double value = 1024.0 * std::ldexp(1.0, shift) * 8.0 * scale / weight;
        table[index][position] = static_cast<int32_t>(std::lround(value));
      }
    }
  }
};

}  // namespace

const VlcTable& Vlc() {
  static const VlcBuilder builder;
  static const VlcTable table = [] {
    VlcTable t{};
    for (int i = 0; i < (1 << kFirstBits); ++i) {
      t.first[i] = builder.first[i];
      t.second_index[i] = builder.second_index[i];
    }
    t.second = builder.second.data();
    return t;
  }();
  return table;
}

// clang-format off
const uint8_t kScan88[64] = {
     0,  1,  8, 16,  9,  2,  3, 10, 17, 24, 32, 25, 18, 11,  4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,  6,  7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};
const uint8_t kScan248[64] = {
     0, 32,  1, 33,  8, 40,  2, 34,  9, 41, 16, 48, 24, 56, 17, 49,
    10, 42,  3, 35,  4, 36, 11, 43, 18, 50, 25, 57, 26, 58, 19, 51,
    12, 44,  5, 37,  6, 38, 13, 45, 20, 52, 27, 59, 28, 60, 21, 53,
    14, 46,  7, 39, 15, 47, 22, 54, 29, 61, 30, 62, 23, 55, 31, 63,
};
// clang-format on

double AanScale(int k) {
  return k == 0 ? 1.0 : std::sqrt(2.0) * Cs(k);
}

const int32_t* Multipliers(int table_index) {
  static const MultiplierTables tables;
  return tables.table[table_index & 127];
}

Placement PlacementPAL(int s, int k, int m) {
  static constexpr int kColumnBase[5] = {18, 9, 27, 0, 36};
  static constexpr int kOffset[5] = {2, 6, 8, 0, 4};
  static constexpr int kRowInColumn[6] = {0, 1, 2, 2, 1, 0};
  int column = kColumnBase[m] + k / 3;
  int row = kRowInColumn[k % 6] + 3 * ((s + kOffset[m]) % 12);
  return Placement{static_cast<uint8_t>(column), static_cast<uint8_t>(row)};
}

Placement PlacementNTSC(int s, int k, int m) {
  static constexpr int kColumnBase[5] = {9, 4, 13, 0, 18};
  static constexpr int kOffset[5] = {2, 6, 8, 0, 4};
  static constexpr int kRowInColumn[12] = {0, 1, 2, 3, 4, 5, 5, 4, 3, 2, 1, 0};
  int i = (s + kOffset[m]) % 10;
  int kk = (m == 1 || m == 2) ? k + 3 : k;
  int column = kColumnBase[m] + kk / 6;
  int z = kRowInColumn[kk % 12];
  int row = column > 21 ? 2 * z + 6 * i : z + 6 * i;
  return Placement{static_cast<uint8_t>(column), static_cast<uint8_t>(row)};
}

}  // namespace DvTables
