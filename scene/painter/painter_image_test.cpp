#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "image/image_cache.h"
#include "image/image_file_io.h"
#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_test_util.h"
#include "testing/temp_dir.h"

namespace {

using kxtest::Canvas;

// A 4 x 3 picture of distinct colours.
std::vector<uint32_t> Source() {
  std::vector<uint32_t> s;
  for (uint32_t i = 0; i < 12; ++i) s.push_back(0x00100000u * (i + 1) + 0x37);
  return s;
}

TEST(DrawImage, UnitScaleCopiesAndBackgroundFillsAround) {
  const auto src = Source();
  for (uint32_t background : {0u, 0xFF00FF00u}) {
    Canvas canvas(8, 6, 2, 0x12345678);
    canvas.painter.DrawImage(2, 1, 4, 3, src.data(), 4, 4, 3, background);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 8; ++x) {
        const bool in = x >= 2 && x < 6 && y >= 1 && y < 4;
        const uint32_t around = background ? 0x0000FF00u : 0x12345678u;
        EXPECT_EQ(canvas.At(x, y), in ? src[(y - 1) * 4 + x - 2] : around) << x << "," << y;
      }
    }
    EXPECT_TRUE(canvas.MarginUntouched());
  }
  // Missing the target: only the background.
  Canvas miss(8, 6, 0, 0x12345678);
  miss.painter.DrawImage(20, 1, 4, 3, src.data(), 4, 4, 3, 0xFF0000FF);
  for (uint32_t p : miss.Pixels()) EXPECT_EQ(p, 0x000000FFu);
}

TEST(DrawImage, NegativeExtentsAndOverhangsReadOnlyTheSource) {
  const auto src = Source();
  Canvas a(12, 9), b(12, 9);
  a.painter.DrawImage(1.5, 0.5, 9, 7, src.data(), 4, 4, 3, 0);
  b.painter.DrawImage(10.5, 7.5, -9, -7, src.data(), 4, 4, 3, 0);
  EXPECT_EQ(a.Pixels(), b.Pixels());
  // Scaled up and hanging over the target's right and bottom edges: a pixel is drawn when its
  // centre lies on the image, and every written pixel holds a source colour.
  for (int quality : {1, 2}) {
    Canvas over(10, 6, 2, 0x12345678);
    over.painter.Target().image_quality = quality;
    over.painter.DrawImage(5.3, 2.6, 8.4, 6.2, src.data(), 4, 4, 3, 0);
    EXPECT_TRUE(over.MarginUntouched());
    const std::set<uint32_t> colours(src.begin(), src.end());
    int written = 0;
    for (uint32_t p : over.Pixels()) {
      if (p == 0x12345678) continue;
      ++written;
      if (quality == 1) {
        EXPECT_TRUE(colours.count(p)) << std::hex << p;
      }
      EXPECT_NE(p & 0xFF, 0u) << std::hex << p;  // the border colour 0 never shows
    }
    EXPECT_EQ(written, 5 * 3);  // centres from (5.5, 2.5) on; [5.3, 13.7) x [2.6, 8.8)
  }
}

double One(double, const double*, bool) {
  return 1.0;
}

TEST(DrawCachedImage, StraightDistortedAndMissingFrames) {
  kxtest::TempDir dir;
  const std::string path = dir.File("frame.ppm");
  {
    auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
    ASSERT_EQ(ImageFileIO::OpenWrite(ctx.get(), path.c_str(), ImageFileIO::kWritePNM, 16, 12, 24),
              0);
    std::vector<uint32_t> row(16);
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) row[x] = uint32_t(x * 13) << 16 | uint32_t(y * 17) << 8 | 0x40;
      ASSERT_EQ(ImageFileIO::WriteRow(row.data(), ctx.get()), 0);
    }
    ASSERT_EQ(ImageFileIO::Close(ctx.get()), 0);
  }
  PackedStringListPtr list;
  list.Allocate();
  list->Append(path.c_str(), 0);
  ImageCache cache;
  ASSERT_EQ(cache.SetImageList(list, -1, -1), 0);

  Canvas straight(16, 12);
  straight.painter.DrawCachedImage(&cache, 0, 0);
  EXPECT_EQ(straight.At(5, 7), 5u * 13 << 16 | 7u * 17 << 8 | 0x40);
  EXPECT_EQ(straight.At(15, 11), 15u * 13 << 16 | 11u * 17 << 8 | 0x40);
  // Through a lens that changes nothing the frame looks the same, zoomed or not.
  const double k[4] = {0, 0, 0, 0};
  for (double scale : {1.0, 2.0}) {
    for (int quality : {1, 2}) {
      Canvas plain(24, 20), lens(24, 20);
      for (Canvas* c : {&plain, &lens}) {
        c->painter.Target().scale_x = c->painter.Target().scale_y = scale;
        c->painter.Target().offset_x = 3;
        c->painter.Target().offset_y = 2;
        c->painter.Target().image_quality = quality;
      }
      lens.painter.SetRadialDistortion(7.5, 5.5, 1, 1, k, One);
      lens.painter.SetDistortionOn(true);
      plain.painter.DrawCachedImage(&cache, 0, 0xFF000080);
      lens.painter.DrawCachedImage(&cache, 0, 0xFF000080);
      // Compared one source pixel inside the frame's edge, where the two resamplers treat the
      // outside differently (clamped or background).
      int compared = 0;
      for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 24; ++x) {
          const double u = (x + 0.5 - 3) / scale, v = (y + 0.5 - 2) / scale;
          if (u < 0.5 || u > 14.5 || v < 0.5 || v > 10.5) continue;
          ++compared;
          for (int s = 0; s < 24; s += 8) {
            const int d = int((plain.At(x, y) >> s) & 255) - int((lens.At(x, y) >> s) & 255);
            EXPECT_LE(std::abs(d), quality == 1 ? 0 : 1) << scale << " " << x << "," << y;
          }
        }
      }
      EXPECT_GT(compared, 100);
    }
  }
  // A frame the cache cannot give: a non-zero background fills, zero leaves the target.
  for (uint32_t background : {0u, 0xFF204060u}) {
    Canvas none(8, 6, 1, 0x12345678);
    none.painter.DrawCachedImage(&cache, 5, background);
    none.painter.DrawCachedImage(nullptr, 0, background);
    for (uint32_t p : none.Pixels()) EXPECT_EQ(p, background ? 0x00204060u : 0x12345678u);
    EXPECT_TRUE(none.MarginUntouched());
  }
}

}  // namespace
