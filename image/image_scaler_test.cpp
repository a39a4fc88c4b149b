#include "image/image_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Config {
  int ratio;
  bool smoothing;
  int source_bits, target_bits;
};

std::vector<Config> AllConfigs() {
  std::vector<Config> all;
  const int bits[3][2] = {{8, 8}, {8, 16}, {32, 32}};
  for (const auto& b : bits) {
    all.push_back({0, true, b[0], b[1]});
    for (int ratio = 1; ratio <= 3; ++ratio) {
      for (bool smoothing : {false, true}) all.push_back({ratio, smoothing, b[0], b[1]});
    }
  }
  return all;
}

// A direct separable reference: horizontal taps around p(i) with clamped indices (and the
// first-pixel rules of 1:1 and plain 2:1), vertical taps with the same weights and clamped
// rows, result rounded down.
struct RefKernel {
  int in, out, pa, pb, pc, phases;
  int first[3], count[3], w[3][6];
  int first_rule;
};

RefKernel RefFor(int ratio, bool smoothing) {
  switch (ratio * 2 + (smoothing ? 1 : 0)) {
    case 1:
      return {1, 1, 1, 0, 1, 1, {-1}, {3}, {{64, 128, 64}}, 1};
    case 2:
      return {4,
              3,
              4,
              1,
              3,
              3,
              {-1, -1, -1},
              {3, 4, 3},
              {{32, 152, 72}, {8, 120, 120, 8}, {72, 152, 32}},
              0};
    case 3:
      return {4,
              3,
              4,
              2,
              3,
              3,
              {-2, -2, -2},
              {5, 4, 5},
              {{4, 52, 108, 76, 16}, {32, 96, 96, 32}, {16, 76, 108, 52, 4}},
              0};
    case 4:
      return {3, 2, 3, 0, 2, 2, {-1, -1}, {4, 4}, {{42, 118, 86, 10}, {10, 86, 118, 42}}, 0};
    case 5:
      return {3, 2, 3, 1, 2, 2, {-2, -2}, {5, 5}, {{6, 50, 98, 78, 24}, {24, 78, 98, 50, 6}}, 0};
    case 6:
      return {2, 1, 2, 0, 1, 1, {-1}, {4}, {{32, 96, 96, 32}}, 2};
    default:
      return {2, 1, 2, 0, 1, 1, {-2}, {6}, {{10, 42, 76, 76, 42, 10}}, 0};
  }
}

// Scales one lane (8-bit samples, sw x sh) to 8.8 values of tw x rows.
std::vector<uint32_t> Reference(const RefKernel& k, const std::vector<int>& src, int sw, int sh,
                                int rows) {
  const int tw = sw * k.out / k.in;
  std::vector<uint32_t> inter(size_t(tw) * sh);
  for (int y = 0; y < sh; ++y) {
    for (int i = 0; i < tw; ++i) {
      const int* row = &src[size_t(y) * sw];
      uint32_t v = 0;
      if (i == 0 && k.first_rule == 1) {
        v = 256 * row[0];
      } else if (i == 0 && k.first_rule == 2) {
        v = 128 * (row[0] + row[std::min(1, sw - 1)]);
      } else {
        const int p = (k.pa * i + k.pb) / k.pc, ph = i % k.phases;
        for (int t = 0; t < k.count[ph]; ++t)
          v += k.w[ph][t] * row[std::clamp(p + k.first[ph] + t, 0, sw - 1)];
      }
      inter[size_t(y) * tw + i] = v;
    }
  }
  std::vector<uint32_t> out(size_t(tw) * rows);
  for (int e = 0; e < rows; ++e) {
    const int p = (k.pa * e + k.pb) / k.pc, ph = e % k.phases;
    for (int x = 0; x < tw; ++x) {
      uint64_t v = 0;
      for (int t = 0; t < k.count[ph]; ++t)
        v += uint64_t(k.w[ph][t]) *
             inter[size_t(std::clamp(p + k.first[ph] + t, 0, sh - 1)) * tw + x];
      out[size_t(e) * tw + x] = uint32_t(v / 256);
    }
  }
  return out;
}

// Runs the scaler on random (or constant) data and compares with the reference bit for bit.
void CheckAgainstReference(const Config& c, int sw, int sh, int extra_rows, bool constant) {
  SCOPED_TRACE(testing::Message() << "ratio " << c.ratio << " smoothing " << c.smoothing << " bits "
                                  << c.source_bits << "/" << c.target_bits << " size " << sw << "x"
                                  << sh);
  ImageScalerPtr scaler = CreateImageScaler(c.ratio, c.source_bits, c.target_bits, c.smoothing);
  ASSERT_TRUE(scaler);
  const RefKernel k = RefFor(c.ratio, c.smoothing);
  const int tw = sw * k.out / k.in, th = sh * k.out / k.in + extra_rows;
  const int lanes = c.source_bits == 32 ? 4 : 1;
  std::mt19937 rng(sw * 131 + sh);
  std::vector<std::vector<int>> lane_data(lanes, std::vector<int>(size_t(sw) * sh));
  for (int l = 0; l < lanes; ++l)
    for (int& v : lane_data[l]) v = constant ? 37 * (l + 1) : int(rng() & 0xFF);

  std::vector<std::vector<uint32_t>> expected;
  for (int l = 0; l < lanes; ++l) expected.push_back(Reference(k, lane_data[l], sw, sh, th));

  const int tstride = tw + 5;
  if (c.source_bits == 32) {
    const int sstride = sw + 3;
    std::vector<uint32_t> src(size_t(sstride) * sh), dst(size_t(tstride) * th, 0xDEADBEEF);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) {
        uint32_t p = 0;
        for (int l = 0; l < 4; ++l) p |= uint32_t(lane_data[l][size_t(y) * sw + x]) << (8 * l);
        src[size_t(y) * sstride + x] = p;
      }
    ScaleImage(scaler.Get(), ArrayMap<uint32_t>(dst.data(), tstride, tw, th),
               ArrayMap<uint32_t>(src.data(), sstride, sw, sh));
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        for (int l = 0; l < 4; ++l)
          ASSERT_EQ((dst[size_t(y) * tstride + x] >> (8 * l)) & 0xFF,
                    expected[l][size_t(y) * tw + x] >> 8)
              << x << "," << y << " lane " << l;
    EXPECT_EQ(dst[tw], 0xDEADBEEFu);  // nothing beyond the scaled width
    return;
  }
  const int sstride = sw + 7;
  std::vector<uint8_t> src(size_t(sstride) * sh);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x)
      src[size_t(y) * sstride + x] = uint8_t(lane_data[0][size_t(y) * sw + x]);
  const ArrayMap<uint8_t> source(src.data(), sstride, sw, sh);
  if (c.target_bits == 8) {
    std::vector<uint8_t> dst(size_t(tstride) * th);
    ScaleImage(scaler.Get(), ArrayMap<uint8_t>(dst.data(), tstride, tw, th), source);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        ASSERT_EQ(dst[size_t(y) * tstride + x], expected[0][size_t(y) * tw + x] >> 8)
            << x << "," << y;
  } else {
    std::vector<uint16_t> dst(size_t(tstride) * th);
    ScaleImage(scaler.Get(), ArrayMap<uint16_t>(dst.data(), tstride, tw, th), source);
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x)
        ASSERT_EQ(dst[size_t(y) * tstride + x], expected[0][size_t(y) * tw + x]) << x << "," << y;
  }
}

TEST(ImageScaler, MatchesDirectReferenceInAllClasses) {
  for (const Config& c : AllConfigs()) {
    CheckAgainstReference(c, 23, 17, 0, false);
    CheckAgainstReference(c, 12, 6, 3, false);  // a taller target repeats the last rows
    CheckAgainstReference(c, 2, 2, 0, false);   // tiny images: every tap clamped
  }
}

TEST(ImageScaler, ConstantImagesStayExact) {
  for (const Config& c : AllConfigs()) CheckAgainstReference(c, 19, 13, 0, true);
  // The reference itself: a constant v gives 256 v everywhere.
  const std::vector<int> flat(20 * 10, 91);
  for (int ratio = 0; ratio <= 3; ++ratio)
    for (bool smoothing : {false, true}) {
      if (ratio == 0 && !smoothing) continue;
      for (uint32_t v : Reference(RefFor(ratio, smoothing), flat, 20, 10, 4))
        EXPECT_EQ(v, 91u * 256);
    }
}

TEST(ImageScaler, H21FirstIntermediateAndSizes) {
  ImageScalerPtr s = CreateImageScaler(3, 8, 16, false);
  ASSERT_TRUE(s);
  s->SetInputSize(5, 3);
  EXPECT_EQ(s->target_width(), 2);
  EXPECT_EQ(s->target_height(), 1);
  const uint8_t row[5] = {10, 20, 30, 40, 50};
  s->AddRow(row);
  EXPECT_EQ(s->ring_row(s->ring_rows() - 1)[0], 128 * (10 + 20));
  EXPECT_EQ(s->ring_row(s->ring_rows() - 1)[1], 32 * 20 + 96 * 30 + 96 * 40 + 32 * 50);
  // The rows above the image repeat the first row.
  EXPECT_EQ(s->ring_row(s->ring_rows() - 2)[0], 128 * (10 + 20));
  EXPECT_EQ(s->GetRowsReady(), 0);

  // The ring survives a new source size with the same target size, not another one.
  const void* block = s->ring_block();
  s->SetInputSize(4, 2);
  EXPECT_EQ(s->ring_block(), block);
  s->SetInputSize(8, 2);
  EXPECT_EQ(s->ring_block(), nullptr);
}

TEST(ImageScaler, InvalidCombinationsGiveNull) {
  EXPECT_FALSE(CreateImageScaler(0, 8, 8, false));
  EXPECT_FALSE(CreateImageScaler(3, 16, 16, false));
  EXPECT_FALSE(CreateImageScaler(3, 32, 8, false));
  EXPECT_FALSE(CreateImageScaler(4, 8, 8, true));
  EXPECT_FALSE(CreateImageScaler(-1, 8, 8, true));
  EXPECT_TRUE(CreateImageScaler(0, 32, 32, true));
}

}  // namespace
