// Image blits of the overlay painter: a scaled 32-bit image and a frame of the image cache.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "image/image_cache.h"
#include "image/image_transform.h"
#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_ops.h"
#include "scene/painter/painter_raster.h"

using namespace painter_raster;

namespace {

void FillBlock(PainterTarget& t, int x0, int y0, int x1, int y1, uint32_t rgb) {
  for (int y = std::max(y0, 0); y < std::min(y1, t.height); ++y)
    std::fill(Pixel(t, std::max(x0, 0), y), Pixel(t, std::min(x1, t.width), y), rgb);
}

void FillBackground(PainterTarget& t, uint32_t background) {
  if (background != 0 && Drawable(t)) FillBlock(t, 0, 0, t.width, t.height, background & 0xFFFFFF);
}

// Destination pixels [first, end) of one axis for the image edges lo < hi: those whose centre
// lies on the image, so none samples outside the source; the source position of the first
// one's leading edge.
struct Axis {
  int first = 0;
  int end = 0;
  double step = 0;
  double origin = 0;
};

Axis MakeAxis(double lo, double hi, int target_size, int source_size) {
  Axis a;
  a.first = static_cast<int>(std::max(std::floor(lo + 0.5), 0.0));
  a.end = static_cast<int>(std::min(std::floor(hi + 0.5), static_cast<double>(target_size)));
  a.step = source_size / (hi - lo);
  a.origin = (a.first - lo) * a.step;
  if (a.end > a.first) {
    const double centre = a.origin + 0.5 * a.step;
    const double fits = std::ceil((source_size - centre) / a.step);
    if (fits < a.end - a.first) a.end = a.first + static_cast<int>(std::max(fits, 0.0));
  }
  return a;
}

}  // namespace

namespace painter_ops {

void DrawImage(PainterTarget& t, double x, double y, double width, double height,
               const uint32_t* source, int source_stride, int source_width, int source_height,
               uint32_t background) {
  if (!Drawable(t) || source == nullptr || source_width <= 0 || source_height <= 0 ||
      source_stride < source_width)
    return;
  double left = t.scale_x * x + t.offset_x, right = left + t.scale_x * width;
  double top = t.scale_y * y + t.offset_y, bottom = top + t.scale_y * height;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (!(right > left) || !(bottom > top)) return;
  constexpr double kFar = 1e9;  // keeps every pixel index within int
  if (!(std::fabs(left) < kFar && std::fabs(right) < kFar && std::fabs(top) < kFar &&
        std::fabs(bottom) < kFar))
    return;
  const Axis ax = MakeAxis(left, right, t.width, source_width);
  const Axis ay = MakeAxis(top, bottom, t.height, source_height);
  if (ax.end <= ax.first || ay.end <= ay.first) {
    FillBackground(t, background);
    return;
  }
  if (background != 0) {
    const uint32_t rgb = background & 0xFFFFFF;
    FillBlock(t, 0, 0, t.width, ay.first, rgb);
    FillBlock(t, 0, ay.end, t.width, t.height, rgb);
    FillBlock(t, 0, ay.first, ax.first, ay.end, rgb);
    FillBlock(t, ax.end, ay.first, t.width, ay.end, rgb);
  }
  const ArrayMap<unsigned int> destination(
      Pixel(t, ax.first, ay.first), static_cast<uint32_t>(t.stride),
      static_cast<uint32_t>(ax.end - ax.first), static_cast<uint32_t>(ay.end - ay.first));
  const ArrayMap<unsigned int> picture(
      const_cast<uint32_t*>(source), static_cast<uint32_t>(source_stride),
      static_cast<uint32_t>(source_width), static_cast<uint32_t>(source_height));
  ScaleImageRect(destination, picture, ax.step, ay.step, ax.origin, ay.origin,
                 t.image_quality < 2 ? 1 : 2, background & 0xFFFFFF);
}

void DrawCachedImage(PainterTarget& t, ImageCache* cache, int frame, uint32_t background) {
  if (!Drawable(t)) return;
  ImageCacheEntryPtr entry;
  if (cache != nullptr) {
    try {
      entry = cache->GetImage(frame);
    } catch (const std::bad_alloc&) {
      entry = ImageCacheEntryPtr();  // drawn as a missing frame
    } catch (const char*) {
      entry = ImageCacheEntryPtr();
    }
  }
  if (!entry || entry->bgra.data == nullptr || entry->bgra.width == 0 || entry->bgra.height == 0) {
    FillBackground(t, background);
    return;
  }
  const ArrayMap<uint32_t>& picture = entry->bgra;
  if (!t.distortion_on || t.distortion_function == nullptr) {
    // Image pixel (0, 0) centred on caller point (0, 0).
    DrawImage(t, -0.4999, -0.4999, picture.width, picture.height, picture.data,
              static_cast<int>(picture.stride), static_cast<int>(picture.width),
              static_cast<int>(picture.height), background);
    return;
  }
  if (t.scale_x == 0 || t.scale_y == 0) return;
  // Target pixel x samples caller position u = (x + 0.5 − offset) / scale, at source position
  // u + 0.4999 from the picture's corner, as the straight path does; the mapper divides by the
  // scale.
  const RadDistMapper mapper(1.0 / t.scale_x, 1.0 / t.scale_y, t);
  const ArrayMap<unsigned int> destination(t.pixels, static_cast<uint32_t>(t.stride),
                                           static_cast<uint32_t>(t.width),
                                           static_cast<uint32_t>(t.height));
  TransformImage(destination, 0.5 + 0.4999 * t.scale_x - t.offset_x,
                 0.5 + 0.4999 * t.scale_y - t.offset_y, picture, mapper,
                 t.image_quality < 2 ? 1 : 2, background & 0xFFFFFF);
}

}  // namespace painter_ops
