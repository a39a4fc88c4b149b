#include "image/dv_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/dv_tables.h"

namespace {

using DvDecoder::BlockState;
using DvDecoder::SegmentState;

constexpr int kBlockOffset[6] = {4, 18, 32, 46, 60, 70};
constexpr int kBlockBytes[6] = {14, 14, 14, 14, 10, 10};

// ---------------------------------------------------------------------------------------------
// A small DV segment encoder built on the decoder's own code table, for exact control of where
// each block's bits go.

struct Code {
  uint32_t bits;
  int length;
};

// Shortest code of every (run, amplitude) symbol and of the end of block.
class CodeBook {
 public:
  CodeBook() {
    for (uint32_t pattern = 0; pattern < 65536; ++pattern) {
      const DvTables::VlcEntry& e = DvTables::VlcLookup(pattern);
      Code code{pattern >> (16 - e.length), e.length};
      if (e.end_of_block) {
        end_of_block_ = code;
        continue;
      }
      auto key = std::make_pair(int{e.run}, int{e.amplitude});
      auto it = codes_.find(key);
      if (it == codes_.end() || it->second.length > code.length) codes_[key] = code;
    }
  }
  // A symbol the table has no single code for is written as a zero run and an amplitude.
  void Append(int run, int amplitude, std::vector<bool>& out) const {
    auto it = codes_.find({run, amplitude});
    if (it == codes_.end()) {
      AppendCode(codes_.at({run - 1, 0}), out);
      AppendCode(codes_.at({0, amplitude}), out);
      return;
    }
    AppendCode(it->second, out);
  }
  void AppendEnd(std::vector<bool>& out) const { AppendCode(end_of_block_, out); }

 private:
  static void AppendCode(Code c, std::vector<bool>& out) {
    for (int i = c.length - 1; i >= 0; --i) out.push_back((c.bits >> i) & 1);
  }
  std::map<std::pair<int, int>, Code> codes_;
  Code end_of_block_{};
};

const CodeBook& Codes() {
  static const CodeBook book;
  return book;
}

struct TestBlock {
  int dc = 0;  // -256..255
  int mode = 0;
  int klass = 0;
  std::vector<std::pair<int, int>> ac;  // (run, amplitude)
  bool end = true;                      // append an end of block
};

struct TestSegment {
  int qno[5] = {15, 15, 15, 15, 15};
  TestBlock blocks[5][6];
};

struct BitRange {
  int position, end;
};

void PutBit(uint8_t* data, int position, bool bit) {
  uint8_t mask = static_cast<uint8_t>(0x80u >> (position & 7));
  data[position >> 3] =
      static_cast<uint8_t>(bit ? data[position >> 3] | mask : data[position >> 3] & ~mask);
}

// Writes bits [*next, stream.size()) into the free ranges in order; returns false when they
// ran out first.
bool Spill(const std::vector<bool>& stream, size_t* next, std::vector<BitRange>& free,
           uint8_t* data) {
  for (BitRange& r : free) {
    while (*next < stream.size() && r.position < r.end)
      PutBit(data, r.position++, stream[(*next)++]);
    if (*next == stream.size()) return true;
  }
  return false;
}

// Places each block's bits as the decoder reads them back: own area first, then the free space
// of the macroblock, then that of the segment, each in block order.
std::array<uint8_t, 400> EncodeSegment(const TestSegment& segment) {
  std::array<uint8_t, 400> data{};
  std::vector<bool> streams[5][6];
  size_t next[5][6] = {};
  std::vector<BitRange> segment_free;
  for (int m = 0; m < 5; ++m) {
    uint8_t* dif = data.data() + 80 * m;
    dif[3] = static_cast<uint8_t>(segment.qno[m]);
    std::vector<BitRange> mb_free;
    std::vector<int> unfinished;
    for (int b = 0; b < 6; ++b) {
      const TestBlock& tb = segment.blocks[m][b];
      uint8_t* p = dif + kBlockOffset[b];
      int dc = tb.dc & 511;
      p[0] = static_cast<uint8_t>(dc >> 1);
      p[1] = static_cast<uint8_t>(((dc & 1) << 7) | (tb.mode << 6) | (tb.klass << 4));
      for (auto [run, amplitude] : tb.ac) Codes().Append(run, amplitude, streams[m][b]);
      if (tb.end) Codes().AppendEnd(streams[m][b]);
      int start = (80 * m + kBlockOffset[b]) * 8;
      std::vector<BitRange> area{{start + 12, start + kBlockBytes[b] * 8}};
      if (Spill(streams[m][b], &next[m][b], area, data.data()))
        mb_free.push_back(area[0]);
      else
        unfinished.push_back(b);
    }
    for (int b : unfinished)
      if (!Spill(streams[m][b], &next[m][b], mb_free, data.data())) break;
    for (const BitRange& r : mb_free)
      if (r.position < r.end) segment_free.push_back(r);
  }
  for (int m = 0; m < 5; ++m)
    for (int b = 0; b < 6; ++b)
      if (next[m][b] < streams[m][b].size() &&
          !Spill(streams[m][b], &next[m][b], segment_free, data.data()))
        return data;
  return data;
}

// The coefficients a block's symbols stand for (the first `count` symbols).
std::array<int32_t, 64> ExpectedCoefficients(const TestBlock& tb, int qno, size_t count) {
  std::array<int32_t, 64> c{};
  c[0] = tb.dc + 257;
  const int32_t* multipliers = DvTables::Multipliers((tb.mode << 6) | (tb.klass << 4) | qno);
  const uint8_t* scan = tb.mode ? DvTables::kScan248 : DvTables::kScan88;
  int index = 0;
  for (size_t i = 0; i < count && i < tb.ac.size(); ++i) {
    index += tb.ac[i].first + 1;
    c[scan[index]] = static_cast<int32_t>((int64_t{tb.ac[i].second} * multipliers[index]) >> 10);
  }
  return c;
}

std::array<int32_t, 64> Coefficients(const BlockState& b) {
  std::array<int32_t, 64> c;
  std::copy(b.coefficients, b.coefficients + 64, c.begin());
  return c;
}

std::vector<std::pair<int, int>> Symbols(int count, int amplitude) {
  std::vector<std::pair<int, int>> s;
  for (int i = 0; i < count; ++i) s.push_back({i % 2, (i % 3 == 0 ? -1 : 1) * amplitude});
  return s;
}

// ---------------------------------------------------------------------------------------------

TEST(DvTables, PlacementCases) {
  struct Case {
    bool pal;
    int s, k, m, column, row;
  };
  const Case cases[] = {
      {true, 0, 0, 0, 18, 6},  {true, 0, 0, 3, 0, 0},     {true, 11, 26, 4, 44, 11},
      {true, 5, 4, 1, 10, 34}, {false, 0, 0, 3, 0, 0},    {false, 0, 26, 4, 22, 28},
      {false, 9, 2, 1, 4, 35}, {false, 3, 13, 2, 15, 10},
  };
  for (const Case& c : cases) {
    DvTables::Placement p =
        c.pal ? DvTables::PlacementPAL(c.s, c.k, c.m) : DvTables::PlacementNTSC(c.s, c.k, c.m);
    EXPECT_EQ(p.column, c.column) << c.pal << " " << c.s << " " << c.k << " " << c.m;
    EXPECT_EQ(p.row, c.row) << c.pal << " " << c.s << " " << c.k << " " << c.m;
  }
}

// Every macroblock of the picture is placed exactly once per frame.
TEST(DvTables, PlacementCoversTheFrameOnce) {
  std::vector<int> pal(45 * 36), ntsc(23 * 60);
  for (int s = 0; s < 12; ++s)
    for (int k = 0; k < 27; ++k)
      for (int m = 0; m < 5; ++m) {
        DvTables::Placement p = DvTables::PlacementPAL(s, k, m);
        ASSERT_LT(p.column, 45);
        ASSERT_LT(p.row, 36);
        ++pal[p.row * 45 + p.column];
      }
  for (int s = 0; s < 10; ++s)
    for (int k = 0; k < 27; ++k)
      for (int m = 0; m < 5; ++m) {
        DvTables::Placement p = DvTables::PlacementNTSC(s, k, m);
        ASSERT_LT(p.column, 23);
        ASSERT_LT(p.row, 60);
        if (p.column == 22) {  // 16 lines high: rows r and r + 1
          ASSERT_EQ(p.row % 2, 0);
          ++ntsc[(p.row + 1) * 23 + 22];
        }
        ++ntsc[p.row * 23 + p.column];
      }
  for (int count : pal) EXPECT_EQ(count, 1);
  for (int count : ntsc) EXPECT_EQ(count, 1);
}

// The bound the decoder relies on to keep coefficients small on any data: amplitudes of at most
// 255 times multipliers below the limit.
TEST(DvTables, CoefficientsStayBounded) {
  for (uint32_t pattern = 0; pattern < 65536; ++pattern) {
    const DvTables::VlcEntry& e = DvTables::VlcLookup(pattern);
    ASSERT_GT(e.length, 0) << pattern;
    ASSERT_LE(std::abs(e.amplitude), 255) << pattern;
  }
  for (int table = 0; table < 128; ++table)
    for (int i = 0; i < 64; ++i)
      ASSERT_LT(std::abs(DvTables::Multipliers(table)[i]), DvTables::kMultiplierLimit)
          << table << " " << i;
}

// The inverse transforms against the transforms' definitions in floating point.
TEST(DvDecoder, InverseTransformsMatchTheirDefinition) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> ac(-60, 60), dc(-200, 200);
  auto c = [](int k) { return k == 0 ? std::sqrt(0.5) : 1.0; };
  for (int trial = 0; trial < 200; ++trial) {
    int mode = trial & 1;
    // Coefficients in the standard's units F; the decoder's inputs carry 8 x the transform's
    // scale factors.
    double f[64] = {};
    int32_t input[64] = {};
    int d = dc(random);
    input[0] = d + 257;
    f[0] = 4.0 * (d + 257) + 2.0;  // the DC path's level shift and rounding
    for (int i = 1; i < 64; ++i) {
      if (random() % 3) continue;
      int u = i >> 3, v = i & 7;
      f[i] = ac(random);
      double scale =
          mode == 0 ? DvTables::AanScale(u) * DvTables::AanScale(v) : DvTables::AanScale(v);
      input[i] = static_cast<int32_t>(std::lround(f[i] * 8.0 * scale));
    }
    uint8_t out[8 * 12];
    if (mode == 0)
      DvDecoder::InverseDCT88(12, out, input);
    else
      DvDecoder::InverseDCT248(input, out, 12);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        double p = 0;
        if (mode == 0) {
          for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v)
              p += f[u * 8 + v] * c(u) * c(v) / 4.0 * std::cos((2 * y + 1) * u * M_PI / 16) *
                   std::cos((2 * x + 1) * v * M_PI / 16);
        } else {
          // Rows 0-3: the sum of the two fields, 4-7: their difference.
          double sum = 0, difference = 0;
          int z = y >> 1;
          for (int h = 0; h < 4; ++h)
            for (int v = 0; v < 8; ++v) {
              double basis = c(h) * c(v) / 4.0 * std::cos((2 * z + 1) * h * M_PI / 8) *
                             std::cos((2 * x + 1) * v * M_PI / 16);
              sum += f[h * 8 + v] * basis;
              difference += f[(h + 4) * 8 + v] * basis;
            }
          p = (y & 1) ? (sum - difference) / 2 : (sum + difference) / 2;
          p *= 2.0;  // each field sample carries the sum's scale once
        }
        double expected = std::clamp(std::floor(p), 0.0, 255.0);
        ASSERT_NEAR(out[y * 12 + x], expected, 1.0)
            << "mode " << mode << " trial " << trial << " at " << x << "," << y;
      }
    for (int i = 0; i < 64; ++i) ASSERT_EQ(input[i], 0);  // cleared for the next block
  }
}

// The 8-8 transform against its one-lane twin, bit for bit, from picture-like
// blocks up to the coefficient limit, where the coefficients saturate and the 16-bit sums wrap.
TEST(DvDecoder, InverseTransformMatchesScalarTwin) {
  std::mt19937 random(17);
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    const int range = trial % 2 ? (1 << 20) : 2000;
    std::uniform_int_distribution<int> value(-range, range);
    int32_t a[64], b[64];
    for (int i = 0; i < 64; ++i) a[i] = b[i] = (trial % 3 == 0 && i > 0) ? 0 : value(random);
    uint8_t out_vector[8 * 11], out_scalar[8 * 11];
    DvDecoder::InverseDCT88(11, out_vector, a);
    DvDecoder::InverseDCT88Scalar(11, out_scalar, b);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(out_vector[y * 11 + x], out_scalar[y * 11 + x]);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], 0);
  }
}

// Bits are borrowed first within the macroblock, then across the segment, in block order.
TEST(DvDecoder, SegmentPassesBorrowInBlockOrder) {
  struct Case {
    const char* name;
    int overflow_mb, overflow_blocks, symbols;
    bool truncated;
  };
  const Case cases[] = {
      {"no borrowing", -1, 0, 0, false},
      {"within the macroblock", 1, 1, 12, false},
      {"two blocks within the macroblock", 2, 2, 8, false},
      {"across macroblocks", 3, 6, 12, false},
      {"more than the segment holds", 0, 30, 63, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestSegment segment;
    int n = 0;
    for (int m = 0; m < 5; ++m) {
      segment.qno[m] = (m * 5 + 3) & 15;
      for (int b = 0; b < 6; ++b, ++n) {
        TestBlock& tb = segment.blocks[m][b];
        tb.dc = (n * 37) % 500 - 250;
        tb.mode = n % 3 == 0;
        tb.klass = n % 4;
        tb.ac = Symbols(2, 1);  // a short block leaves spare bits
      }
    }
    // The overflowing blocks carry long escape codes, so that codes straddle area ends.
    for (int i = 0; i < c.overflow_blocks; ++i) {
      int m = c.overflow_mb >= 0 ? (c.overflow_mb + (i / 6)) % 5 : 0;
      int b = i % 6;
      segment.blocks[m][b].ac = Symbols(c.symbols, 40 + i);
    }
    std::array<uint8_t, 400> data = EncodeSegment(segment);
    SegmentState decoded;
    ASSERT_EQ(DvDecoder::DecodeVideoSegment(decoded, data.data()), 0);
    int finished = 0;
    for (int m = 0; m < 5; ++m)
      for (int b = 0; b < 6; ++b) {
        const TestBlock& tb = segment.blocks[m][b];
        finished += decoded.blocks[m][b].finished;
        if (!c.truncated) {
          EXPECT_TRUE(decoded.blocks[m][b].finished) << m << " " << b;
          EXPECT_EQ(Coefficients(decoded.blocks[m][b]),
                    ExpectedCoefficients(tb, segment.qno[m], tb.ac.size()))
              << m << " " << b;
        }
      }
    if (c.truncated) {
      // Every block got its own area; the ones left unfinished keep a prefix of their
      // coefficients and zeros after it.
      EXPECT_LT(finished, 30);
      for (int m = 0; m < 5; ++m)
        for (int b = 0; b < 6; ++b) {
          const TestBlock& tb = segment.blocks[m][b];
          std::array<int32_t, 64> got = Coefficients(decoded.blocks[m][b]);
          bool matched = false;
          for (size_t count = 0; count <= tb.ac.size() && !matched; ++count)
            matched = got == ExpectedCoefficients(tb, segment.qno[m], count);
          EXPECT_TRUE(matched) << m << " " << b;
        }
    }
  }
}

// A scan beyond coefficient 63 stops the sequence: earlier segments stay placed, later ones keep
// the planes' content, and the next sequence decodes.
TEST(DvDecoder, InvalidCodeStopsOnlyItsSequence) {
  std::vector<uint8_t> frame(2 * DvDecoder::kSequenceBytes);
  TestSegment flat;
  for (auto& mb : flat.blocks)
    for (TestBlock& tb : mb) tb.dc = 40;  // (40 + 257) / 2 -> 148
  TestSegment bad = flat;
  bad.blocks[2][3].ac = {{40, 1}, {30, 1}};
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < 27; ++k) {
      std::array<uint8_t, 400> data = EncodeSegment(s == 0 && k == 1 ? bad : flat);
      std::copy(data.begin(), data.end(),
                frame.begin() + s * DvDecoder::kSequenceBytes + DvDecoder::kFirstVideoByte +
                    (k / 3) * 1280 + (k % 3) * 400);
    }
  std::vector<uint8_t> luma(720 * 576, 7), cb(368 * 288, 7), cr(368 * 288, 7);
  EXPECT_EQ(DvDecoder::DecodeDVSequencePAL(frame.data(), 0, luma.data(), cb.data(), cr.data()), -1);
  auto luma_at = [&](DvTables::Placement p) {
    return luma[(16 * p.row + 5) * 720 + 16 * p.column + 9];
  };
  auto cb_at = [&](DvTables::Placement p) { return cb[(8 * p.row + 3) * 368 + 8 * p.column + 2]; };
  for (int m = 0; m < 5; ++m) {
    EXPECT_EQ(luma_at(DvTables::PlacementPAL(0, 0, m)), 148);
    EXPECT_EQ(cb_at(DvTables::PlacementPAL(0, 0, m)), 148);
    EXPECT_EQ(luma_at(DvTables::PlacementPAL(0, 1, m)), 7);
    EXPECT_EQ(luma_at(DvTables::PlacementPAL(0, 26, m)), 7);
  }
  EXPECT_EQ(DvDecoder::DecodeDVSequencePAL(frame.data() + DvDecoder::kSequenceBytes, 1, luma.data(),
                                           cb.data(), cr.data()),
            0);
  EXPECT_EQ(luma_at(DvTables::PlacementPAL(1, 1, 0)), 148);
  EXPECT_EQ(DvDecoder::DecodeDVSequencePAL(frame.data(), 12, luma.data(), cb.data(), cr.data()),
            -1);
}

// Right-edge NTSC macroblocks are 16 x 16; each chroma block covers 4 x 16 samples, its left four
// columns above its right four.
TEST(DvDecoder, NtscRightEdgeChroma) {
  std::vector<uint8_t> sequence(DvDecoder::kSequenceBytes);
  TestSegment flat;
  TestSegment edge = flat;
  // Segment 24, macroblock 4 lies in column 22. Give its Cr block a horizontal ramp.
  edge.blocks[4][4].ac = {{0, 30}, {4, -12}};  // horizontal frequencies 1 and 3
  for (int k = 0; k < 27; ++k) {
    std::array<uint8_t, 400> data = EncodeSegment(k == 24 ? edge : flat);
    std::copy(data.begin(), data.end(),
              sequence.begin() + DvDecoder::kFirstVideoByte + (k / 3) * 1280 + (k % 3) * 400);
  }
  std::vector<uint8_t> luma(720 * 480), cb(192 * 480), cr(192 * 480);
  ASSERT_EQ(DvDecoder::DecodeDVSequenceNTSC(sequence.data(), 0, luma.data(), cb.data(), cr.data()),
            0);
  DvTables::Placement p = DvTables::PlacementNTSC(0, 24, 4);
  ASSERT_EQ(p.column, 22);

  // The same block through the transform alone.
  int32_t coefficients[64] = {};
  std::array<int32_t, 64> expected = ExpectedCoefficients(edge.blocks[4][4], 15, 2);
  std::copy(expected.begin(), expected.end(), coefficients);
  uint8_t block[64];
  DvDecoder::InverseDCT88(8, block, coefficients);
  ASSERT_NE(block[0], block[7]);
  for (int row = 0; row < 16; ++row)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(cr[(8 * p.row + row) * 192 + 176 + x], block[(row & 7) * 8 + (row >> 3) * 4 + x])
          << row << "," << x;
  EXPECT_EQ(cb[(8 * p.row + 9) * 192 + 178], 128);
  EXPECT_EQ(luma[(8 * p.row + 15) * 720 + 704 + 15], 128);
}

// ---------------------------------------------------------------------------------------------
// Frames written by an independent encoder (see testdata/dv/README.md), against the picture they
// were made from.

double PatternLuma(int x, int y) {
  double v = 128 + 50 * std::sin(x / 9.0 + y / 23.0) + 30 * std::cos(y / 7.0) * std::sin(x / 31.0);
  if (x >= 360 && (y & 1)) v += 24;
  return std::clamp(std::round(v), 16.0, 235.0);
}
double PatternChroma(int x, int y, int k) {
  return std::round(128 + 60 * std::sin(x / (40.0 + k * 13) + k) * std::cos(y / (50.0 + k * 7)));
}

struct Difference {
  double sum = 0;
  int count = 0, max = 0;
  void Add(int a, double b) {
    int d = static_cast<int>(std::abs(a - b));
    sum += d;
    ++count;
    max = std::max(max, d);
  }
};

std::vector<uint8_t> ReadFixture(const std::string& name) {
  std::string path = std::string(KALVEX_SOURCE_DIR) + "/testdata/dv/" + name;
  std::vector<uint8_t> data(2 * DvDecoder::kSequenceBytes);
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (f) {
    EXPECT_EQ(std::fread(data.data(), 1, data.size(), f), data.size());
    std::fclose(f);
  }
  return data;
}

TEST(DvDecoder, PalFramesOfAnotherEncoder) {
  std::vector<uint8_t> data = ReadFixture("pal_sequences_0_1.dv");
  std::vector<uint8_t> luma(720 * 576), cb(368 * 288), cr(368 * 288);
  Difference y, c;
  for (int s = 0; s < 2; ++s) {
    ASSERT_EQ(DvDecoder::DecodeDVSequencePAL(data.data() + s * DvDecoder::kSequenceBytes, s,
                                             luma.data(), cb.data(), cr.data()),
              0);
    for (int k = 0; k < 27; ++k)
      for (int m = 0; m < 5; ++m) {
        DvTables::Placement p = DvTables::PlacementPAL(s, k, m);
        for (int j = 0; j < 16; ++j)
          for (int i = 0; i < 16; ++i) {
            int x = 16 * p.column + i, yy = 16 * p.row + j;
            y.Add(luma[yy * 720 + x], PatternLuma(x, yy));
          }
        for (int j = 0; j < 8; ++j)
          for (int i = 0; i < 8; ++i) {
            int x = 8 * p.column + i, yy = 8 * p.row + j;
            c.Add(cb[yy * 368 + x], PatternChroma(2 * x, 2 * yy, 0));
            c.Add(cr[yy * 368 + x], PatternChroma(2 * x, 2 * yy, 1));
          }
      }
  }
  EXPECT_LT(y.sum / y.count, 1.0);
  EXPECT_LE(y.max, 4);
  EXPECT_LT(c.sum / c.count, 1.0);
  EXPECT_LE(c.max, 4);
}

TEST(DvDecoder, NtscFramesOfAnotherEncoder) {
  std::vector<uint8_t> data = ReadFixture("ntsc_sequences_0_1.dv");
  std::vector<uint8_t> luma(720 * 480), cb(192 * 480), cr(192 * 480);
  Difference y, c;
  for (int s = 0; s < 2; ++s) {
    ASSERT_EQ(DvDecoder::DecodeDVSequenceNTSC(data.data() + s * DvDecoder::kSequenceBytes, s,
                                              luma.data(), cb.data(), cr.data()),
              0);
    for (int k = 0; k < 27; ++k)
      for (int m = 0; m < 5; ++m) {
        DvTables::Placement p = DvTables::PlacementNTSC(s, k, m);
        bool edge = p.column == 22;
        int width = edge ? 16 : 32, height = edge ? 16 : 8;
        for (int j = 0; j < height; ++j)
          for (int i = 0; i < width; ++i) {
            int x = 32 * p.column + i, yy = 8 * p.row + j;
            y.Add(luma[yy * 720 + x], PatternLuma(x, yy));
          }
        for (int j = 0; j < height; ++j)
          for (int i = 0; i < (edge ? 4 : 8); ++i) {
            int x = 8 * p.column + i, yy = 8 * p.row + j;
            c.Add(cb[yy * 192 + x], PatternChroma(4 * x, yy, 0));
            c.Add(cr[yy * 192 + x], PatternChroma(4 * x, yy, 1));
          }
      }
  }
  EXPECT_LT(y.sum / y.count, 1.0);
  EXPECT_LE(y.max, 4);
  EXPECT_LT(c.sum / c.count, 1.0);
  EXPECT_LE(c.max, 4);
}

// Damaged data never reads or writes outside the sequence and the planes: random bytes, and
// frames of the other encoder with bits flipped.
TEST(DvDecoder, DamagedDataIsSafe) {
  std::mt19937 random(5);
  const std::vector<uint8_t> pal = ReadFixture("pal_sequences_0_1.dv");
  const std::vector<uint8_t> ntsc = ReadFixture("ntsc_sequences_0_1.dv");
  std::vector<uint8_t> luma(720 * 576), cb(368 * 288), cr(368 * 288);
  int failed = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const bool is_pal = trial % 2;
    std::vector<uint8_t> sequence((is_pal ? pal : ntsc).begin(),
                                  (is_pal ? pal : ntsc).begin() + DvDecoder::kSequenceBytes);
    if (trial < 10) {
      for (uint8_t& b : sequence) b = uint8_t(random());
    } else {
      for (int flips = 0; flips < 1 + trial; ++flips)
        sequence[random() % sequence.size()] ^= uint8_t(1u << (random() % 8));
    }
    int result = is_pal ? DvDecoder::DecodeDVSequencePAL(sequence.data(), 0, luma.data(), cb.data(),
                                                         cr.data())
                        : DvDecoder::DecodeDVSequenceNTSC(sequence.data(), 0, luma.data(),
                                                          cb.data(), cr.data());
    ASSERT_TRUE(result == 0 || result == -1);
    failed += result != 0;
  }
  EXPECT_GT(failed, 0);
  EXPECT_LT(failed, 60);
}

}  // namespace
