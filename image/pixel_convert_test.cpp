#include "image/pixel_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace ImageFileIO {
namespace {

struct ReadCase {
  const char* name;
  ReadConverter convert;
  std::vector<uint8_t> raw;
  std::vector<uint32_t> expected;
};

// A little-endian word of three 10-bit components in bits 22-31, 12-21, 2-11.
std::vector<uint8_t> Words10(const std::vector<int>& components) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < components.size(); i += 3) {
    uint32_t w = 0;
    static const int kShift[3] = {22, 12, 2};
    for (size_t k = 0; k < 3 && i + k < components.size(); ++k)
      w |= uint32_t(components[i + k]) << kShift[k];
    for (int b = 0; b < 4; ++b) bytes.push_back(uint8_t(w >> (8 * b)));
  }
  return bytes;
}

TEST(PixelConvert, ReadConvertersMapRawBytesToPixels) {
  const std::vector<ReadCase> cases = {
      {"bits1", ConvertBits1, {0xA0}, {0, 0xFFFFFF, 0}},
      // 10 pixels: the last byte's high bits only.
      {"bits1 partial", ConvertBits1, {0xFF, 0x40}, {0, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF, 0}},
      {"gray8", ConvertGray8, {0x12, 0xFF}, {0x121212, 0xFFFFFF}},
      {"gray16 first", ConvertGray16First, {0x12, 0x34}, {0x121212}},
      {"gray16 second", ConvertGray16Second, {0x12, 0x34}, {0x343434}},
      // 5- and 6-bit channels repeat their high bits: full intensity is 255, 16 of 31 is 0x84.
      {"555",
       ConvertRGB555,
       {0xFF, 0x7F, 0x00, 0x7C, 0x1F, 0x80, 0x20, 0x40},
       {0xFFFFFF, 0xFF0000, 0x0000FF, 0x840800}},
      {"565", ConvertRGB565, {0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07}, {0xFFFFFF, 0xFF0000, 0x00FF00}},
      {"bgr24", ConvertBGR24, {1, 2, 3}, {0x030201}},
      {"rgb24", ConvertRGB24, {1, 2, 3}, {0x010203}},
      {"rgba32", ConvertRGBA32, {1, 2, 3, 4}, {0x04010203}},
      {"argb32", ConvertARGB32, {4, 1, 2, 3}, {0x04010203}},
      {"abgr32", ConvertABGR32, {4, 3, 2, 1}, {0x04010203}},
      {"identity", ConvertIdentity, {1, 2, 3, 4}, {0x04030201}},
      {"rgb48", ConvertRGB48First, {0x11, 0xAA, 0x22, 0xBB, 0x33, 0xCC}, {0x112233}},
      {"bgr48", ConvertBGR48First, {0x11, 0xAA, 0x22, 0xBB, 0x33, 0xCC}, {0x332211}},
      {"rgba64", ConvertRGBA64First, {0x11, 0, 0x22, 0, 0x33, 0, 0x44, 0}, {0x44112233}},
      {"rgb10", ConvertRGB10, {0x04, 0x00, 0xE0, 0xFF}, {0xFF8000}},
      {"rgb10 swapped", ConvertRGB10Swapped, {0xFF, 0xE0, 0x00, 0x04}, {0xFF8000}},
      // Word 0x8010_80EB: Cb 0x80, Y0 0x10, Cr 0x80, Y1 0xEB.
      {"cbycry8 grey", ConvertCbYCrY8, {0xEB, 0x80, 0x10, 0x80}, {0x101010, 0xEBEBEB}},
      // Cb 255, Y 0, Cr 128: blue only, (227 * 255 - 28992) >> 7 = 225.
      {"cbycry8 blue", ConvertCbYCrY8, {0x00, 0x80, 0x00, 0xFF}, {0x0000E1}},
      {"cbycry10 mid grey", ConvertCbYCrY10, Words10({512, 512, 512, 512}), {0x807F80, 0x807F80}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> out(c.expected.size(), 0xDEADBEEF);
    c.convert(out.data(), c.raw.data(), int32_t(out.size()));
    EXPECT_EQ(out, c.expected);
  }
}

TEST(PixelConvert, CbYCrY10TakesRowRemainderFromFurtherGroup) {
  // Seven pixels: one full group of six, then pixel 6 from the first three components of the next
  // group. Luma values differ per pixel so a wrong component index shows.
  std::vector<int> comps;
  const int y[7] = {100, 200, 300, 400, 500, 600, 700};
  for (int pair = 0; pair < 3; ++pair) {
    comps.insert(comps.end(), {512, y[2 * pair], 512, y[2 * pair + 1]});
  }
  comps.insert(comps.end(), {512, y[6], 512});
  std::vector<uint8_t> raw = Words10(comps);
  ASSERT_EQ(raw.size(), 20u);  // 4 x ceil(2 x 7 / 3)
  std::vector<uint32_t> out(7);
  ConvertCbYCrY10(out.data(), raw.data(), 7);
  for (int p = 0; p < 7; ++p) {
    int y16 = y[p] << 6;
    int red = ((359 * 32768) >> 8) + y16 - 45824;
    red >>= 8;
    red = red < 0 ? 0 : (red > 255 ? 255 : red);
    EXPECT_EQ((out[p] >> 16) & 0xFF, uint32_t(red)) << "pixel " << p;
  }
}

TEST(PixelConvert, PlanarYCbCrRules) {
  // 8-bit planar: mid grey stays, arithmetic shift rounds toward minus infinity (R = 255 - 179).
  {
    uint8_t yr[2] = {128, 255}, cb[2] = {128, 128}, cr[2] = {128, 0};
    PlanarRows rows{{yr, cb, cr}};
    uint32_t out[2];
    ConvertYCbCrRows8(out, reinterpret_cast<const uint8_t*>(&rows), 2);
    EXPECT_EQ(out[0], 0x808080u);
    EXPECT_EQ((out[1] >> 16) & 0xFF, 76u);
    PlanarRows grey{{yr, nullptr, nullptr}};
    ConvertYCbCrRows8(out, reinterpret_cast<const uint8_t*>(&grey), 2);
    EXPECT_EQ(out[1], 0xFFFFFFu);
  }
  // 16-bit planar.
  {
    int16_t yr[2] = {128 * 64, 255 * 64}, cb[2] = {0, 0}, cr[2] = {0, -128 * 64};
    PlanarRows rows{{yr, cb, cr}};
    uint32_t out[2];
    ConvertYCbCrRows16(out, reinterpret_cast<const uint8_t*>(&rows), 2);
    EXPECT_EQ(out[0], 0x808080u);
    EXPECT_EQ((out[1] >> 16) & 0xFF, 76u);
  }
  // 16-bit planar: each vector path (16 and 8 at a time, then a tail) against the scalar one,
  // over the clamps; 45 pixels leave a tail behind both vector widths.
  {
    constexpr int kCount = 45;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<int16_t> yr(kCount), cb(kCount), cr(kCount);
    for (int trial = 0; trial < 50; ++trial) {
      for (int i = 0; i < kCount; ++i) {
        const int scale = trial % 2 ? 1 : 4;  // wide values, then mostly in range
        yr[i] = int16_t(dist(rng) / scale + (scale == 4 ? 8192 : 0));
        cb[i] = int16_t(dist(rng) / scale);
        cr[i] = int16_t(dist(rng) / scale);
      }
      PlanarRows rows{{yr.data(), cb.data(), cr.data()}};
      const uint8_t* record = reinterpret_cast<const uint8_t*>(&rows);
      uint32_t scalar[kCount];
      ConvertYCbCrRows16By(YCbCr16Path::kScalar, scalar, record, kCount);
      for (YCbCr16Path path : {YCbCr16Path::kSse2, YCbCr16Path::kAvx2}) {
        uint32_t vector[kCount];
        ConvertYCbCrRows16By(path, vector, record, kCount);
        for (int i = 0; i < kCount; ++i)
          ASSERT_EQ(vector[i], scalar[i])
              << "trial " << trial << " path " << int(path) << " pixel " << i;
      }
      uint32_t best[kCount];
      ConvertYCbCrRows16(best, record, kCount);
      ASSERT_EQ(0, std::memcmp(best, scalar, sizeof best)) << "trial " << trial;
    }
  }
  // Grey and RGB planar 16-bit, with their clamps.
  {
    int16_t v[6] = {-33, -32, 6400, 16351, 16352, 32767};
    PlanarRows rows{{v, nullptr, nullptr}};
    uint32_t out[6];
    ConvertGrayRow16(out, reinterpret_cast<const uint8_t*>(&rows), 6);
    const uint32_t expected[6] = {0, 0, 0x646464, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], expected[i]) << i;
  }
  {
    int16_t p0[2] = {0, 255 * 64}, p1[2] = {0, 127 * 64}, p2[2] = {-8225, 127 * 64};
    PlanarRows rows{{p0, p1, p2}};
    uint32_t out[2];
    ConvertRGBRows16(out, reinterpret_cast<const uint8_t*>(&rows), 2);
    EXPECT_EQ(out[0], 0x008000u);
    EXPECT_EQ(out[1], 0xFFFFFFu);
  }
}

// Size of the raw row of count pixels for the converters that may run in place.
struct InPlaceCase {
  const char* name;
  ReadConverter convert;
  int32_t (*raw_bytes)(int32_t count);
};

TEST(PixelConvert, InPlaceEqualsOutOfPlace) {
  const std::vector<InPlaceCase> cases = {
      {"bits1", ConvertBits1, [](int32_t n) { return (n + 7) / 8; }},
      {"gray8", ConvertGray8, [](int32_t n) { return n; }},
      {"gray16", ConvertGray16First, [](int32_t n) { return 2 * n; }},
      {"gray16b", ConvertGray16Second, [](int32_t n) { return 2 * n; }},
      {"555", ConvertRGB555, [](int32_t n) { return 2 * n; }},
      {"565", ConvertRGB565, [](int32_t n) { return 2 * n; }},
      {"bgr24", ConvertBGR24, [](int32_t n) { return 3 * n; }},
      {"rgb24", ConvertRGB24, [](int32_t n) { return 3 * n; }},
      {"rgba32", ConvertRGBA32, [](int32_t n) { return 4 * n; }},
      {"argb32", ConvertARGB32, [](int32_t n) { return 4 * n; }},
      {"abgr32", ConvertABGR32, [](int32_t n) { return 4 * n; }},
      {"identity", ConvertIdentity, [](int32_t n) { return 4 * n; }},
      {"rgb10", ConvertRGB10, [](int32_t n) { return 4 * n; }},
      {"rgb10s", ConvertRGB10Swapped, [](int32_t n) { return 4 * n; }},
      {"cbycry8", ConvertCbYCrY8, [](int32_t n) { return (2 * n + 3) & ~3; }},
      {"cbycry10", ConvertCbYCrY10, [](int32_t n) { return 4 * ((2 * n + 2) / 3); }},
  };
  std::mt19937 rng(7);
  for (const InPlaceCase& c : cases) {
    for (int32_t n = 1; n <= 40; ++n) {
      SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(n));
      const int32_t rb = c.raw_bytes(n);
      std::vector<uint8_t> raw(static_cast<size_t>(rb));
      for (uint8_t& b : raw) b = uint8_t(rng());
      std::vector<uint32_t> expected(static_cast<size_t>(n));
      c.convert(expected.data(), raw.data(), n);
      std::vector<uint32_t> row(static_cast<size_t>(n));
      uint8_t* tail = reinterpret_cast<uint8_t*>(row.data()) + 4 * n - rb;
      std::memcpy(tail, raw.data(), size_t(rb));
      c.convert(row.data(), tail, n);
      ASSERT_EQ(row, expected);
    }
  }
}

TEST(PixelConvert, WriteConverters) {
  const uint32_t px[2] = {0x00FF0000, 0x00102030};
  uint8_t gray[2];
  WriteGray8(gray, px, 2);
  EXPECT_EQ(gray[0], 76);  // pure red
  uint8_t g16[2];
  const uint32_t white = 0xFFFFFFFF;
  WriteGray16(g16, &white, 1);
  EXPECT_EQ(g16[0], 0xFF);
  EXPECT_EQ(g16[1], 0x00);
  uint8_t rgb[3], bgr[3], rgb48[6];
  WriteRGB24(rgb, px + 1, 1);
  WriteBGR24(bgr, px + 1, 1);
  WriteRGB48(rgb48, px + 1, 1);
  EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 3), (std::vector<uint8_t>{0x10, 0x20, 0x30}));
  EXPECT_EQ(std::vector<uint8_t>(bgr, bgr + 3), (std::vector<uint8_t>{0x30, 0x20, 0x10}));
  EXPECT_EQ(std::vector<uint8_t>(rgb48, rgb48 + 6),
            (std::vector<uint8_t>{0x10, 0, 0x20, 0, 0x30, 0}));
}

TEST(PixelConvert, HorizontalUpsamplers) {
  const uint8_t s[2] = {10, 20};
  uint8_t out[8];
  UpsampleChroma2(s, 2, out, 0);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{10, 15, 20, 20}));
  UpsampleChroma2(s, 2, out, 0x04);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{10, 13, 18, 20}));
  const uint8_t t[2] = {0, 8};
  UpsampleChroma4(2, t, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{0, 2, 4, 6, 8, 8, 8, 8}));
}

TEST(PixelConvert, InterpolateChroma2D) {
  const uint8_t f[2] = {0, 80}, g[2] = {80, 160};
  uint8_t out[4];
  InterpolateChroma2D(g, out, f, 0, 0, 2);  // on row f, phases 0 and 4
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 40, 80, 80}));
  InterpolateChroma2D(g, out, f, 0, 4, 2);  // half way to row g
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{40, 80, 120, 120}));
  InterpolateChroma2D(g, out, f, -2, 0, 2);  // a quarter sample before s[0]: clamped at 0
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 20);
}

TEST(PixelConvert, UpsampleChroma420StaysInField) {
  // Chroma rows of the top field hold 100, those of the bottom field 200; every luma row of an
  // interlaced frame must see only its own field's value, also at the first and last rows.
  const int32_t cw = 4, ch = 4, luma_rows = 8;
  std::vector<uint8_t> plane(size_t(cw * ch));
  for (int r = 0; r < ch; ++r)
    for (int x = 0; x < cw; ++x) plane[size_t(r * cw + x)] = (r & 1) ? 200 : 100;
  for (int flags : {0x01, 0x02, 0x01 | 0x08, 0x02 | 0x04 | 0x08}) {
    for (int32_t y = 0; y < luma_rows; ++y) {
      uint8_t out[2 * cw];
      UpsampleChroma420(y, out, plane.data(), cw, cw, ch, flags);
      for (uint8_t v : out) ASSERT_EQ(v, (y & 1) ? 200 : 100) << "flags " << flags << " row " << y;
    }
  }
  // Progressive: luma row 1 lies half way between chroma rows 0 and 1.
  uint8_t out[2 * cw];
  UpsampleChroma420(1, out, plane.data(), cw, cw, ch, 0);
  EXPECT_EQ(out[0], 150);
  UpsampleChroma420(0, out, plane.data(), cw, cw, ch, 0);
  EXPECT_EQ(out[0], 100);
  UpsampleChroma420(7, out, plane.data(), cw, cw, ch, 0);
  EXPECT_EQ(out[0], 200);
}

TEST(PixelConvert, PlanarHelpersAndSwap) {
  const uint8_t luma[2] = {1, 255};
  int16_t wide[2];
  WidenLuma16(2, luma, wide);
  EXPECT_EQ(wide[0], 64);
  EXPECT_EQ(wide[1], 255 * 64);
  const uint8_t chroma[2] = {129, 130};
  int16_t c16[4];
  WidenChroma16(chroma, 2, c16);
  EXPECT_EQ(std::vector<int16_t>(c16, c16 + 4), (std::vector<int16_t>{64, 80, 112, 128}));
  const uint8_t centre[1] = {100}, above[1] = {0}, below[1] = {200};
  uint8_t up[1], down[1];
  InterpolateChromaRows(1, centre, up, down, above, below);
  EXPECT_EQ(up[0], 75);
  EXPECT_EQ(down[0], 125);
  uint8_t words[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SwapBytes32(2, words, words);
  EXPECT_EQ(std::vector<uint8_t>(words, words + 8), (std::vector<uint8_t>{4, 3, 2, 1, 8, 7, 6, 5}));
}

TEST(PixelConvert, ReportImageErrorPrintsAndReturnsCode) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReportImageError(-22), -22);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -22\n");
}

}  // namespace
}  // namespace ImageFileIO
