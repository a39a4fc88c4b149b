// A colour of four doubles r, g, b, a, each nominally in 0 … 1, and its
// packed form 0xAARRGGBB (alpha in the top byte, then red, green, blue).
#ifndef KALVEX_FOUNDATION_NUMERIC_COLOR_RGBA_H_
#define KALVEX_FOUNDATION_NUMERIC_COLOR_RGBA_H_

#include <cstdint>

struct ColorRGBA {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  double a = 0.0;

  ColorRGBA() = default;
  ColorRGBA(double red, double green, double blue, double alpha)
      : r(red), g(green), b(blue), a(alpha) {}
  // Each component is the byte / 255.
  explicit ColorRGBA(uint32_t argb);
  // r, g, b from the word (its top byte ignored), a = alpha.
  ColorRGBA(uint32_t argb, double alpha);

  // Each component is clamped to 0 … 255 after scaling by 255 and rounding
  // half up; a NaN component packs as 0.
  uint32_t ToARGB32() const;
};

#endif  // KALVEX_FOUNDATION_NUMERIC_COLOR_RGBA_H_
