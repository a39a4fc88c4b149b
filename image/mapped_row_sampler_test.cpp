#include "image/mapped_row_sampler.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

namespace {

// Pixel (x, y) of the source at a 16.16 position, written out from the
// definition one pixel at a time.
uint32_t Reference(int order, const ArrayMap<unsigned int>& s, uint32_t border, int64_t fx_pos,
                   int64_t fy_pos) {
  const int32_t px = static_cast<int32_t>(std::clamp<int64_t>(fx_pos, INT32_MIN, INT32_MAX));
  const int32_t py = static_cast<int32_t>(std::clamp<int64_t>(fy_pos, INT32_MIN, INT32_MAX));
  const int64_t x = px >> 16, y = py >> 16, w = s.width, h = s.height;
  auto at = [&](int64_t i, int64_t j) {
    return i >= 0 && i < w && j >= 0 && j < h ? s.data[j * s.stride + i] : border;
  };
  if (order == 1) return at(x, y);
  if (order == 4 && x >= 1 && x + 2 < w && y >= 1 && y + 2 < h)
    return FourTapPixel(s, x, y, px & 0xFFFF, py & 0xFFFF);
  return BlendPixels(at(x, y), at(x + 1, y), at(x, y + 1), at(x + 1, y + 1), px & 0xFFFF,
                     py & 0xFFFF);
}

TEST(MappedRowSampler, BlendPixelsRoundsPerChannel) {
  struct Case {
    uint32_t p00, p10, p01, p11;
    int32_t fx, fy;
    uint32_t expected;
  } cases[] = {
      {0x00FF8000, 0x00FF8000, 0x00FF8000, 0x00FF8000, 12345, 54321, 0x00FF8000},
      {0, 0xFFFFFFFF, 0, 0xFFFFFFFF, 32768, 0, 0x80808080},  // (0 + 8160 + 32) >> 6 = 128
      {0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 65535, 0xFFFFFFFF},
      {0xFFFFFFFF, 0, 0, 0, 65535, 65535, 0},
      // Channels apart: bytes never carry into each other.
      {0x01FF0010, 0x02000020, 0x01FF0010, 0x02000020, 32768, 32768, 0x02800018},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BlendPixels(c.p00, c.p10, c.p01, c.p11, c.fx, c.fy), c.expected)
        << std::hex << c.p00 << " " << c.p10 << " fx " << std::dec << c.fx;
}

// Every form against the definition, over random cells inside, across the
// edges and far outside (border), random steps, and rows whose length is no
// multiple of four.
TEST(MappedRowSampler, EveryFormMatchesTheDefinition) {
  std::mt19937 rng(48);
  const uint32_t border = 0x5A3C1E0F;
  const struct {
    uint32_t width, height;
  } sizes[] = {{1, 1}, {2, 2}, {3, 5}, {4, 4}, {37, 23}, {200, 9}};
  for (const auto& size : sizes) {
    Array<unsigned int, 1> image(size.width, size.height);
    const ArrayMap<unsigned int>& source = image.Plane(0);
    for (uint32_t y = 0; y < size.height; ++y)
      for (uint32_t x = 0; x < size.width; ++x) source.data[y * source.stride + x] = rng();
    const int64_t w = int64_t{size.width} << 16, h = int64_t{size.height} << 16;
    for (int trial = 0; trial < 300; ++trial) {
      const int count = 1 + static_cast<int>(rng() % 37);
      std::vector<MappedCoord> coords((count + 3) / 4);
      for (MappedCoord& c : coords) {
        switch (rng() % 4) {
          case 0:  // near the source, steps below a pixel
            c = {static_cast<int32_t>(int64_t(rng() % (w + 6 * 65536)) - 3 * 65536),
                 static_cast<int32_t>(int64_t(rng() % (h + 6 * 65536)) - 3 * 65536),
                 static_cast<int32_t>(rng() % 131072) - 65536,
                 static_cast<int32_t>(rng() % 131072) - 65536};
            break;
          case 1:  // inside with larger steps
            c = {static_cast<int32_t>(rng() % w), static_cast<int32_t>(rng() % h),
                 static_cast<int32_t>(rng() % 400000) - 200000,
                 static_cast<int32_t>(rng() % 40000) - 20000};
            break;
          case 2:  // far out, where steps would leave 32 bits
            c = {INT32_MAX - static_cast<int32_t>(rng() % 65536), INT32_MIN,
                 static_cast<int32_t>(rng()), static_cast<int32_t>(rng())};
            break;
          default:  // anything
            c = {static_cast<int32_t>(rng()), static_cast<int32_t>(rng()),
                 static_cast<int32_t>(rng()), static_cast<int32_t>(rng())};
        }
      }
      for (int order : {1, 2, 4}) {
        std::vector<uint32_t> expected(count);
        for (int i = 0; i < count; ++i) {
          const MappedCoord& c = coords[i / 4];
          expected[i] = Reference(order, source, border, c.x + int64_t{i % 4} * c.dx,
                                  c.y + int64_t{i % 4} * c.dy);
        }
        for (SamplerPath path : {SamplerPath::kBest, SamplerPath::kSse2, SamplerPath::kPortable}) {
          std::vector<uint32_t> out(count + 1, 0xDEADBEEF);
          SampleMappedRow(order, out.data(), source, border, coords.data(), count, path);
          for (int i = 0; i < count; ++i)
            ASSERT_EQ(out[i], expected[i])
                << "order " << order << " path " << static_cast<int>(path) << " size " << size.width
                << "x" << size.height << " pixel " << i;
          ASSERT_EQ(out[count], 0xDEADBEEF) << "wrote past the row";
        }
      }
    }
  }
}

}  // namespace
