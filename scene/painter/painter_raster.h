// Shared rasterising steps of the overlay painter's operations (internal to scene/painter).
#pragma once

#include <cmath>
#include <cstdint>

#include "scene/painter/overlay_painter.h"

namespace painter_raster {

inline constexpr uint32_t kWhole = 65536;  // full coverage or weight

// Coverage fraction in [0, 1] as a 16-bit weight (1.0 gives 65535, as the mixing rule has it).
inline uint32_t CoverageWeight(double fraction) {
  if (!(fraction > 0.0)) return 0;
  if (fraction >= 1.0) return kWhole;
  return static_cast<uint32_t>(fraction * 65535.99);
}

// Each byte becomes (colour·t + old·(256 − t)) >> 8, two bytes per 32-bit product.
inline uint32_t Mix(uint32_t old, uint32_t colour, uint32_t t) {
  const uint32_t u = 256 - t;
  const uint32_t rb = (((colour & 0xFF00FF) * t + (old & 0xFF00FF) * u) >> 8) & 0xFF00FF;
  const uint32_t ag = (((colour >> 8) & 0xFF00FF) * t + ((old >> 8) & 0xFF00FF) * u) & 0xFF00FF00;
  return rb | ag;
}

// A colour prepared for mixing: the alpha byte cleared, the opacity as (alpha + 1).
struct Ink {
  uint32_t rgb;
  uint32_t alpha1;  // 1..256

  explicit Ink(uint32_t colour) : rgb(colour & 0xFFFFFF), alpha1((colour >> 24) + 1) {}

  // Mixes one pixel with a coverage weight (0..65536).
  void Put(uint32_t* p, uint32_t coverage) const {
    if (coverage == 0) return;
    const uint32_t weight = alpha1 == 256 ? coverage : (coverage * alpha1) >> 8;
    if (weight >= kWhole) {
      *p = rgb;
      return;
    }
    *p = Mix(*p, rgb, weight >> 8);
  }
};

inline bool Transparent(uint32_t colour) {
  return (colour >> 24) == 0;
}

inline uint32_t* Pixel(const PainterTarget& t, int x, int y) {
  return t.pixels + static_cast<std::ptrdiff_t>(y) * t.stride + x;
}

inline int FloorInt(double v) {
  return static_cast<int>(std::floor(v));
}

// True when the target can be drawn into at all.
inline bool Drawable(const PainterTarget& t) {
  return t.pixels != nullptr && t.width > 0 && t.height > 0;
}

// Coordinates beyond this (in pixels) draw nothing: the fixed-point line code's range, and a
// bound that keeps every int conversion below safe.
inline constexpr double kCoordinateLimit = 32767.0;
inline bool InRange(double v) {
  return std::fabs(v) < kCoordinateLimit;
}

// Anti-aliased rectangle between target edges left <= right, top <= bottom.
void FillRectTarget(PainterTarget& t, double left, double right, double top, double bottom,
                    uint32_t colour);
// Disc of radius r (pixels) about a target position.
void FillDiscTarget(PainterTarget& t, double cx, double cy, double r, uint32_t colour);

}  // namespace painter_raster
