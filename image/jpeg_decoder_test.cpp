#include "image/jpeg_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <ostream>
#include <random>
#include <vector>

#include "image/jpeg_for_test.h"
#include "image/jpeg_tables.h"

using jpeg_test::Decode;
using jpeg_test::LoadFixture;
using jpeg_test::LoadPnm;

namespace {

// The transcribed standard tables against the zig-zag walk, the code-space
// rules and the tables the peer library writes into a quality-50 file.
TEST(JpegTables, MatchStandard) {
  // Zig-zag: anti-diagonals, alternating direction.
  int k = 0;
  for (int s = 0; s < 15; ++s) {
    for (int i = 0; i <= s; ++i) {
      const int r = (s % 2 == 0) ? s - i : i, c = s - r;
      if (r < 8 && c < 8) {
        EXPECT_EQ(kJpegZigZag[k], r * 8 + c) << "index " << k;
        ++k;
      }
    }
  }
  EXPECT_EQ(k, 64);

  struct Table {
    const uint8_t* bits;
    const uint8_t* values;
    int count;
  };
  const Table kTables[4] = {{kJpegStdDcLumaBits, kJpegStdDcLumaValues, 12},
                            {kJpegStdAcLumaBits, kJpegStdAcLumaValues, 162},
                            {kJpegStdDcChromaBits, kJpegStdDcChromaValues, 12},
                            {kJpegStdAcChromaBits, kJpegStdAcChromaValues, 162}};
  for (const Table& t : kTables) {
    int sum = 0;
    for (int i = 0; i < 16; ++i) sum += t.bits[i];
    EXPECT_EQ(sum, t.count);
    JpegHuffmanLookup lookup;
    EXPECT_EQ(BuildHuffmanLookup(&lookup, t.bits, t.values), t.count);
    if (t.count == 162) {
      // Every (run, size) pair with size 1..10, plus EOB and ZRL, exactly once.
      std::vector<int> seen(256, 0);
      for (int i = 0; i < 162; ++i) ++seen[t.values[i]];
      for (int v = 0; v < 256; ++v) {
        const bool expected = v == 0x00 || v == 0xF0 || ((v & 15) >= 1 && (v & 15) <= 10);
        EXPECT_EQ(seen[v], expected ? 1 : 0) << "symbol " << v;
      }
    }
  }

  // The peer writes exactly these tables at quality 50 without optimisation.
  const std::vector<uint8_t> file = LoadFixture("q50.jpg");
  int dqt = 0, dht = 0;
  for (const jpeg_test::Segment& seg : jpeg_test::Segments(file)) {
    size_t p = seg.offset + 4;
    if (seg.marker == 0xDB) {
      for (; p + 65 <= seg.end; p += 65, ++dqt) {
        const uint8_t* expected = (file[p] & 15) == 0 ? kJpegStdLumaQuant : kJpegStdChromaQuant;
        for (int i = 0; i < 64; ++i)
          EXPECT_EQ(file[p + 1 + i], expected[kJpegZigZag[i]]) << "DQT " << dqt << " " << i;
      }
    } else if (seg.marker == 0xC4) {
      while (p < seg.end) {
        const int slot = (file[p] & 15) * 2 + (file[p] >> 4);
        const Table& t = kTables[slot];
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + p + 1, file.begin() + p + 17),
                  std::vector<uint8_t>(t.bits, t.bits + 16));
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + p + 17, file.begin() + p + 17 + t.count),
                  std::vector<uint8_t>(t.values, t.values + t.count));
        p += 17 + t.count;
        ++dht;
      }
    }
  }
  EXPECT_EQ(dqt, 2);
  EXPECT_EQ(dht, 4);
}

TEST(JpegHuffman, RejectsImpossibleTables) {
  JpegHuffmanLookup t;
  const uint8_t values[300] = {};
  uint8_t three_of_one_bit[16] = {3};  // only two 1-bit codes exist
  EXPECT_EQ(BuildHuffmanLookup(&t, three_of_one_bit, values), -1);
  uint8_t too_many[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255};
  too_many[14] = 2;  // 257 values
  EXPECT_EQ(BuildHuffmanLookup(&t, too_many, values), -1);
  // A long code still decodes through the list: 1 code of 1 bit, 1 of 12.
  uint8_t counts[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const uint8_t syms[2] = {0x01, 0x23};
  EXPECT_EQ(BuildHuffmanLookup(&t, counts, syms), 2);
  EXPECT_EQ(t.long_count, 1);
  EXPECT_EQ(t.long_code[0], 0x8000);  // 1 followed by eleven zeros, left-aligned
}

// The 16-bit transform against the exact inverse DCT (in units of 1/64).
TEST(JpegTransform, CloseToExactInverse) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> dist(-60, 60);
  double a[8];
  a[0] = 1;
  for (int i = 1; i < 8; ++i) a[i] = std::sqrt(2.0) * std::cos(i * M_PI / 16);
  double worst = 0, total = 0;
  for (int trial = 0; trial < 200; ++trial) {
    double f[64];
    int16_t coef[64];
    for (int i = 0; i < 64; ++i) {
      const int r = i >> 3, c = i & 7;
      f[i] = (r + c < 6 || trial % 4 == 0) ? dist(rng) * (i == 0 ? 8 : 1) : 0;
      coef[i] = int16_t(std::lround(f[i] * 8 * a[r] * a[c]));
    }
    int16_t out[8 * 10];
    InverseDCT8x8(10, out, coef);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(coef[i], 0);  // the block is cleared
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        double v = 0;
        for (int u = 0; u < 8; ++u)
          for (int w = 0; w < 8; ++w)
            v += (u ? 1 : M_SQRT1_2) * (w ? 1 : M_SQRT1_2) * f[u * 8 + w] *
                 std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * w * M_PI / 16);
        const double err = std::fabs(out[y * 10 + x] - 64 * v / 4);
        worst = std::max(worst, err);
        total += err;
      }
    }
  }
  EXPECT_LT(worst, 48.0);  // below one sample level
  EXPECT_LT(total / (200 * 64), 12.0);
}

// The vector transform against its one-lane twin, bit for bit, over ordinary
// blocks and over values that wrap the 16-bit sums.
TEST(JpegTransform, VectorFormMatchesScalarTwin) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE(trial);
    const int range = trial % 2 ? 32767 : 600;
    std::uniform_int_distribution<int> dist(-range, range);
    int16_t a[64], b[64];
    for (int i = 0; i < 64; ++i) a[i] = b[i] = int16_t((trial % 3 == 0 && i > 9) ? 0 : dist(rng));
    int16_t original[64];
    std::copy(std::begin(a), std::end(a), std::begin(original));
    int16_t out_vector[8 * 9], out_scalar[8 * 9];
    InverseDCT8x8(9, out_vector, a);
    InverseDCT8x8Scalar(9, out_scalar, b);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(out_vector[y * 9 + x], out_scalar[y * 9 + x]);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(a[i], 0);
    // Two blocks at once (the AVX2 form where present, and the AVX2 form itself when the
    // processor has it), with different strides: each must match its own scalar result.
    int16_t c[64], d[64], e[64];
    for (int i = 0; i < 64; ++i) c[i] = e[i] = int16_t(dist(rng));
    int16_t second_scalar[8 * 11];
    InverseDCT8x8Scalar(11, second_scalar, e);
    using PairFn = void (*)(int, int16_t*, int16_t*, int, int16_t*, int16_t*);
    std::vector<PairFn> forms = {InverseDCT8x8Pair};
    if (__builtin_cpu_supports("avx2")) forms.push_back(InverseDCT8x8PairAvx2);
    for (PairFn form : forms) {
      std::copy(std::begin(c), std::end(c), std::begin(d));
      int16_t first_copy[64];
      std::copy(std::begin(original), std::end(original), std::begin(first_copy));
      int16_t first[8 * 9], second[8 * 11];
      form(9, first, first_copy, 11, second, d);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          ASSERT_EQ(first[y * 9 + x], out_scalar[y * 9 + x]);
          ASSERT_EQ(second[y * 11 + x], second_scalar[y * 11 + x]);
        }
      for (int i = 0; i < 64; ++i) ASSERT_EQ(first_copy[i] | d[i], 0);
    }
  }
}

// Chroma doubling keeps a flat area flat up to its edges (beyond them the edge
// sample repeats), so a one-colour picture keeps its colour in every pixel.
TEST(JpegUpsample, FlatAreaStaysFlatAtTheEdges) {
  for (int n : {1, 2, 3, 8}) {
    SCOPED_TRACE(n);
    std::vector<int16_t> row(size_t(n), 640), out(size_t(2 * n));
    UpsampleJpegChromaH(row.data(), n, out.data());
    EXPECT_EQ(out, std::vector<int16_t>(size_t(2 * n), 640));
  }
  std::vector<int16_t> row(8, 640);
  const int16_t* rows[12] = {};
  for (int i = 2; i < 10; ++i) rows[i] = row.data();
  std::vector<int16_t> col(8 * 16);
  UpsampleJpegChromaV(rows, 8, col.data(), 8);
  EXPECT_EQ(col, std::vector<int16_t>(8 * 16, 640));
  // A ramp keeps its ends: the first and last outputs stay near the edge samples.
  const std::vector<int16_t> ramp = {0, 64, 128, 192, 256, 320, 384, 448};
  std::vector<int16_t> doubled(16);
  UpsampleJpegChromaH(ramp.data(), 8, doubled.data());
  EXPECT_NEAR(doubled[0], 0, 16);
  EXPECT_NEAR(doubled[15], 448, 16);
}

// The doubling loops run many samples to a register (AVX2 or SSE2, chosen at run time); one
// sample at a time (a single column) they take the plain path. Wide random samples make the
// 16-bit wrapping show if a vector form widened or reordered anything.
TEST(JpegUpsample, WideRowsMatchOneSampleAtATime) {
  constexpr int kWidth = 53;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> dist(-32768, 32767);
  std::vector<std::vector<int16_t>> plane(12, std::vector<int16_t>(kWidth));
  for (auto& row : plane)
    for (auto& v : row) v = int16_t(dist(rng));
  const int16_t* rows[12];
  for (int k = 0; k < 12; ++k) rows[k] = plane[size_t(k)].data();
  std::vector<int16_t> wide(size_t(kWidth) * 16);
  UpsampleJpegChromaV(rows, kWidth, wide.data(), kWidth);
  for (int x = 0; x < kWidth; ++x) {
    const int16_t* column[12];
    for (int k = 0; k < 12; ++k) column[k] = rows[k] + x;
    int16_t single[16];
    UpsampleJpegChromaV(column, 1, single, 1);
    for (int r = 0; r < 16; ++r)
      ASSERT_EQ(wide[size_t(r) * kWidth + x], single[r]) << "column " << x << " row " << r;
  }
  // The horizontal doubling is the same filter: its inner outputs against the vertical one on
  // a run of twelve samples (two of context each side of eight).
  const std::vector<int16_t>& in = plane[0];
  std::vector<int16_t> doubled(2 * size_t(kWidth));
  UpsampleJpegChromaH(in.data(), kWidth, doubled.data());
  for (int j0 = 2; j0 + 10 <= kWidth; j0 += 8) {
    const int16_t* run[12];
    for (int k = 0; k < 12; ++k) run[k] = &in[size_t(j0 - 2 + k)];
    int16_t single[16];
    UpsampleJpegChromaV(run, 1, single, 1);
    for (int r = 0; r < 16; ++r)
      ASSERT_EQ(doubled[size_t(2 * j0 + r)], single[r]) << "sample " << j0 << " output " << r;
  }
}

// A 17x9 4:2:0 picture of flat chroma keeps it in every pixel, edges included:
// beyond the picture's 9x5 chroma samples the edge repeats.
TEST(JpegDecoder, ChromaEdgesRepeatTheEdgeSample) {
  JpegDecoder d;
  d.SetDefaultTables();
  d.quant_raw[1][0] = 1;  // chroma DC step 1: a stored DC of 80 gives 80 x 8 = 640
  for (int c = 0; c < 3; ++c) d.component[c].quant = c == 0 ? 0 : 1;
  ASSERT_EQ(d.SetFrame(17, 9, JpegLayout::k420, true), 0);
  d.PrescaleTables();
  ASSERT_EQ(d.coefficient_count(), 2u * 6 * 64);
  for (int mcu = 0; mcu < 2; ++mcu) d.coefficients()[(mcu * 6 + 4) * 64] = 80;  // Cb DC
  for (int y = 0; y < 9; ++y) {
    const int16_t* rows[3];
    ASSERT_TRUE(d.ReadRows(rows)) << y;
    for (int x = 0; x < 17; ++x) {
      EXPECT_EQ(rows[1][x], 640) << x << "," << y;
      EXPECT_EQ(rows[2][x], 0) << x << "," << y;  // Cr stays neutral
    }
  }
}

// A file without DHT segments decodes with the standard tables (which the
// quality-50 fixture uses), and garbage before a restart marker is skipped.
TEST(JpegDecoder, DefaultTablesAndGarbageBeforeRestart) {
  const std::vector<uint8_t> file = LoadFixture("q50.jpg");
  std::vector<uint8_t> stripped;
  size_t from = 0;
  for (const jpeg_test::Segment& seg : jpeg_test::Segments(file)) {
    if (seg.marker != 0xC4) continue;
    stripped.insert(stripped.end(), file.begin() + from, file.begin() + seg.offset);
    from = seg.end;
  }
  stripped.insert(stripped.end(), file.begin() + from, file.end());
  ASSERT_LT(stripped.size(), file.size());
  int code_a, code_b;
  EXPECT_EQ(Decode(file, &code_a).pixels, Decode(stripped, &code_b).pixels);
  EXPECT_EQ(code_a, 0);
  EXPECT_EQ(code_b, 0);

  std::vector<uint8_t> rst = LoadFixture("b420_rst.jpg");
  const std::vector<uint8_t> clean = rst;
  int inserted = 0;
  for (size_t i = rst.size() - 2; i > 2 && inserted < 3; --i) {
    if (rst[i] == 0xFF && rst[i + 1] >= 0xD0 && rst[i + 1] <= 0xD7) {
      rst.insert(rst.begin() + i, {0x12, 0x00, 0xFF, 0x00, 0x5A});
      ++inserted;
    }
  }
  ASSERT_EQ(inserted, 3);
  const jpeg_test::Picture expected = Decode(clean, &code_a);
  EXPECT_EQ(Decode(rst, &code_b).pixels, expected.pixels);
  EXPECT_EQ(code_b, 0);
}

// Without its last DC refinement scan a progressive file keeps every DC value
// one bit short.
TEST(JpegDecoder, MissingDcRefinementLeavesDcOneBitShort) {
  const std::vector<uint8_t> file = LoadFixture("p_b420.jpg");
  std::vector<uint8_t> cut;
  size_t last_dc_refine = 0, end = 0;
  for (const jpeg_test::Segment& seg : jpeg_test::Segments(file)) {
    if (seg.marker != 0xDA) continue;
    const size_t len = file[seg.offset + 2] << 8 | file[seg.offset + 3];
    const uint8_t* tail = &file[seg.offset + 2 + len - 3];
    if (tail[0] == 0 && tail[1] == 0 && (tail[2] >> 4) != 0) {
      last_dc_refine = seg.offset;
      end = seg.end;
    }
  }
  ASSERT_GT(last_dc_refine, 0u);
  cut.assign(file.begin(), file.begin() + last_dc_refine);
  cut.insert(cut.end(), file.begin() + end, file.end());
  JpegReaderState full, shorter;
  int code;
  Decode(file, &code, &full);
  ASSERT_EQ(code, 0);
  Decode(cut, &code, &shorter);
  ASSERT_EQ(code, 0);
  ASSERT_EQ(full.decoder.coefficient_count(), shorter.decoder.coefficient_count());
  int odd = 0;
  for (size_t i = 0; i < full.decoder.coefficient_count(); i += 64) {
    const int f = full.decoder.coefficients()[i], s = shorter.decoder.coefficients()[i];
    EXPECT_EQ(f >> 1, s) << "block " << i / 64;
    odd += f & 1;
  }
  EXPECT_GT(odd, 0);  // the refinement did carry bits
}

// Decodes agree with the peer library's within what the different inverse
// transforms and chroma filters allow, edges included (both repeat the edge
// chroma sample): mean absolute difference below 0.75, largest 4 levels.
struct PeerCase {
  const char* jpeg;
  const char* reference;
};

void PrintTo(const PeerCase& c, std::ostream* os) {
  *os << c.jpeg << " against " << c.reference;
}

class PeerComparison : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerComparison, MatchesReferenceDecode) {
  const PeerCase& pc = GetParam();
  int code;
  const jpeg_test::Picture ours = Decode(LoadFixture(pc.jpeg), &code);
  ASSERT_EQ(code, 0);
  const jpeg_test::Picture ref = LoadPnm(pc.reference);
  ASSERT_EQ(ours.width, ref.width);
  ASSERT_EQ(ours.height, ref.height);
  ASSERT_EQ(ours.channels, ref.channels);
  ASSERT_EQ(ours.pixels.size(), ref.pixels.size());
  double sum = 0;
  int worst = 0;
  for (size_t i = 0; i < ref.pixels.size(); ++i) {
    const int d = std::abs(int(ours.pixels[i]) - int(ref.pixels[i]));
    sum += d;
    worst = std::max(worst, d);
  }
  EXPECT_LT(sum / double(ref.pixels.size()), 0.75) << pc.jpeg;
  EXPECT_LE(worst, 4) << pc.jpeg;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PeerComparison,
    ::testing::Values(PeerCase{"s420.jpg", "s420.pnm"}, PeerCase{"s422.jpg", "s422.pnm"},
                      PeerCase{"s440.jpg", "s440.pnm"}, PeerCase{"b444.jpg", "b444.pnm"},
                      PeerCase{"gray.jpg", "gray.pnm"}, PeerCase{"s420_17x9.jpg", "s420_17x9.pnm"},
                      PeerCase{"one1x1.jpg", "one1x1.pnm"}),
    [](const ::testing::TestParamInfo<PeerCase>& info) {
      std::string name = info.param.jpeg;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// Progressive and restart-interval variants made from a baseline file carry
// the same coefficients, so they decode to exactly the same pixels.
TEST(JpegDecoder, VariantsDecodeIdentically) {
  const char* const kPairs[][2] = {{"b420.jpg", "p_b420.jpg"},     {"b422.jpg", "p_b422.jpg"},
                                   {"b440.jpg", "p_b440.jpg"},     {"b444.jpg", "p_b444.jpg"},
                                   {"gray.jpg", "p_gray.jpg"},     {"odd17x9.jpg", "p_odd17x9.jpg"},
                                   {"b420.jpg", "p_b420_rst.jpg"}, {"b420.jpg", "b420_rst.jpg"}};
  for (const auto& pair : kPairs) {
    int code_a, code_b;
    const jpeg_test::Picture a = Decode(LoadFixture(pair[0]), &code_a);
    const jpeg_test::Picture b = Decode(LoadFixture(pair[1]), &code_b);
    ASSERT_EQ(code_a, 0) << pair[0];
    ASSERT_EQ(code_b, 0) << pair[1];
    EXPECT_EQ(a.width, b.width) << pair[1];
    EXPECT_EQ(a.height, b.height) << pair[1];
    EXPECT_TRUE(a.pixels == b.pixels) << pair[1];
  }
}

// Finding the n-th set bit: both forms against a walk over the bits, for sparse, dense and
// random words, n up to 15, including words with too few bits set.
TEST(JpegSelectBit, BothFormsMatchABitWalk) {
  std::mt19937_64 rng(3);
  std::vector<uint64_t> words = {0,
                                 1,
                                 uint64_t(1) << 63,
                                 ~uint64_t(0),
                                 0x8000000000000001ull,
                                 0x00FF00000000FF00ull,
                                 0xAAAAAAAAAAAAAAAAull};
  for (int i = 0; i < 300; ++i) {
    const uint64_t a = rng(), b = rng(), c = rng();
    words.push_back(i % 3 == 0 ? a & b & c : i % 3 == 1 ? a | b : a);
  }
  const bool bmi2 = __builtin_cpu_supports("bmi2");
  for (const uint64_t x : words) {
    for (int n = 0; n <= 15; ++n) {
      int expected = 64;
      for (int i = 0, seen = 0; i < 64; ++i)
        if ((x >> i & 1) && seen++ == n) {
          expected = i;
          break;
        }
      ASSERT_EQ(JpegSelectBit(x, n), expected) << std::hex << x << " n " << std::dec << n;
      if (bmi2) {
        ASSERT_EQ(JpegSelectBitBmi2(x, n), expected) << std::hex << x << " n " << std::dec << n;
      }
    }
  }
}

// Damaged copies of every progressive and restart fixture decode to exactly the samples they
// gave when these figures were taken: the decoding loops may be rewritten for speed, but not
// what they make of a bit stream, broken ones included. Each figure folds the open's code, the
// rows delivered and their 16-bit samples of the clean file and of 48 copies with 1 to 4 bytes
// of the entropy-coded data changed.
uint64_t Fold(uint64_t h, uint64_t v) {
  return (h ^ v) * 0x100000001b3ull;
}

uint64_t DecodeDigest(const std::vector<uint8_t>& bytes) {
  JpegMemoryInput input(bytes.data(), bytes.size());
  JpegReaderState st;
  uint64_t h = Fold(0xcbf29ce484222325ull, uint64_t(int64_t(OpenJpegStream(&input, &st))));
  const int channels = st.info.channels == 3 ? 3 : 1;
  const int16_t* rows[3];
  for (int y = 0; y < st.info.height && st.decoder.ReadRows(rows); ++y) {
    h = Fold(h, uint64_t(y));
    for (int c = 0; c < channels; ++c)
      for (int x = 0; x < st.info.width; ++x) h = Fold(h, uint16_t(rows[c][x]));
  }
  return h;
}

TEST(JpegDecoder, DamagedDecodesStayPinned) {
  struct Pinned {
    const char* name;
    uint64_t digest;
  };
  const Pinned kPinned[] = {
      {"p_b420.jpg", 0x5bbc6ad6cc0aa426ull},     {"p_b422.jpg", 0x09eac2a5853060c0ull},
      {"p_b440.jpg", 0x5aef6636f0785ae4ull},     {"p_b444.jpg", 0xbd44307f55a4caefull},
      {"p_gray.jpg", 0x0bfbc4c52a62ce0eull},     {"p_odd17x9.jpg", 0xb8777910df56f644ull},
      {"p_b420_rst.jpg", 0xc998308823ae74eeull}, {"b420_rst.jpg", 0x5910827a82e2b959ull},
      {"b420.jpg", 0xc4aaaf5b5185d95full},
  };
  for (const Pinned& p : kPinned) {
    SCOPED_TRACE(p.name);
    const std::vector<uint8_t> file = LoadFixture(p.name);
    const std::vector<jpeg_test::Segment> segments = jpeg_test::Segments(file);
    size_t data = 0;
    for (const jpeg_test::Segment& seg : segments)
      if (seg.marker == 0xDA && data == 0)
        data = seg.offset + 2 + (file[seg.offset + 2] << 8 | file[seg.offset + 3]);
    ASSERT_GT(data, 0u);
    std::mt19937 rng(5);
    uint64_t h = DecodeDigest(file);
    for (int trial = 0; trial < 48; ++trial) {
      std::vector<uint8_t> bad = file;
      for (int i = 0; i <= trial % 4; ++i) {
        const size_t at = data + rng() % (bad.size() - 2 - data);
        bad[at] = trial % 2 == 0 ? uint8_t(rng()) : uint8_t(bad[at] ^ (1 << (rng() % 8)));
      }
      h = Fold(h, DecodeDigest(bad));
    }
    EXPECT_EQ(h, p.digest);
  }
}

}  // namespace
