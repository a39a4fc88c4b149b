// Test helper: a painter drawing into a target framed by a margin of untouched pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/painter/overlay_painter.h"

namespace kxtest {

struct Canvas {
  // A width x height target inside a buffer with `margin` pixels on every side, all set to
  // `fill`; caller coordinates are target pixels.
  Canvas(int width, int height, int margin = 0, uint32_t fill = 0)
      : width(width),
        height(height),
        margin(margin),
        stride(width + 2 * margin),
        buffer(static_cast<size_t>(stride) * (height + 2 * margin), fill),
        fill(fill) {
    ArrayMap<uint32_t> whole(buffer.data(), stride, stride, height + 2 * margin);
    painter.SetTarget(margin, margin, width, height, whole);
    painter.Target().offset_x = painter.Target().offset_y = 0;
  }
  uint32_t At(int x, int y) const { return buffer[(y + margin) * stride + x + margin]; }
  uint32_t& Ref(int x, int y) { return buffer[(y + margin) * stride + x + margin]; }
  // Pixels of the target other than the fill.
  int Inked() const {
    int n = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) n += At(x, y) != fill;
    return n;
  }
  bool MarginUntouched() const {
    for (int y = -margin; y < height + margin; ++y)
      for (int x = -margin; x < width + margin; ++x)
        if ((x < 0 || y < 0 || x >= width || y >= height) && At(x, y) != fill) return false;
    return true;
  }
  // The target pixels only, row by row.
  std::vector<uint32_t> Pixels() const {
    std::vector<uint32_t> out;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) out.push_back(At(x, y));
    return out;
  }

  int width, height, margin, stride;
  std::vector<uint32_t> buffer;
  uint32_t fill;
  OverlayPainter painter;
};

}  // namespace kxtest
