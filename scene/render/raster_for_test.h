// Test helper: rasterises arenas into a small image as the render context's second phase
// does, one target row after the other.
#pragma once

#include <cstdint>
#include <vector>

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

}  // namespace kxtest
