// Test helper: rasterises arenas into a small image as the render context's second phase
// does, one target row after the other.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "scene/render/draw_item_arena.h"
#include "scene/render/row_raster.h"

namespace kxtest {

struct TestImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  TestImage(int w, int h, std::uint32_t fill) : width(w), height(h), pixels(w * h, fill) {}
  std::uint32_t At(int x, int y) const { return pixels[y * width + x]; }
  // Pixels in row y equal to value.
  int CountInRow(int y, std::uint32_t value) const {
    int n = 0;
    for (int x = 0; x < width; ++x) n += At(x, y) == value;
    return n;
  }
};

// Sorts the arena for image.height × f sample rows and draws every row into image.
inline void RasterArenas(DrawItemArena* arenas, int n_arenas, int f, TestImage& image) {
  for (int a = 0; a < n_arenas; ++a) arenas[a].SortByRows(image.height * f);
  RowScratch scratch;
  scratch.Fit(image.width, f);
  for (int y = 0; y < image.height; ++y) {
    RasterTargetRow(arenas, n_arenas, y, f, image.width, image.pixels.data() + y * image.width,
                    scratch);
  }
}

// Expects the pixels of colour `color` to be the samples whose centres lie inside the
// rectangle of the given width around the segment from (ax, ay) to (bx, by), its ends square
// through the two points; samples within 1e-3 of the outline may go either way.
inline void ExpectLineCoverage(const TestImage& image, double ax, double ay, double bx, double by,
                               double width, std::uint32_t color) {
  const double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double along = ((x - ax) * dx + (y - ay) * dy) / len;
      const double across = std::fabs((x - ax) * dy - (y - ay) * dx) / len;
      const double margin = std::min({along, len - along, width / 2 - across});
      if (std::fabs(margin) < 1e-3) continue;
      EXPECT_EQ(image.At(x, y) == color, margin > 0) << x << "," << y;
    }
  }
}

}  // namespace kxtest
