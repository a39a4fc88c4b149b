#include "foundation/numeric/color_rgba.h"

namespace {

uint32_t ToByte(double c) {
  if (c <= 0.0) return 0;
  if (c >= 1.0) return 255;
  if (!(c > 0.0)) return 0;  // NaN: converting it to an integer is undefined
  return static_cast<uint32_t>(c * 255.0 + 0.5);
}

}  // namespace

ColorRGBA::ColorRGBA(uint32_t argb)
    : r(((argb >> 16) & 0xff) / 255.0),
      g(((argb >> 8) & 0xff) / 255.0),
      b((argb & 0xff) / 255.0),
      a((argb >> 24) / 255.0) {}

ColorRGBA::ColorRGBA(uint32_t argb, double alpha)
    : r(((argb >> 16) & 0xff) / 255.0),
      g(((argb >> 8) & 0xff) / 255.0),
      b((argb & 0xff) / 255.0),
      a(alpha) {}

uint32_t ColorRGBA::ToARGB32() const {
  return (ToByte(a) << 24) | (ToByte(r) << 16) | (ToByte(g) << 8) | ToByte(b);
}
