// The field operations of SequenceLoader.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/sequence_loader.h"

namespace {

uint32_t* RowOf(const PixelView* view, int64_t row) {
  return view->data + row * view->stride;
}

void CopyRow(const PixelView* view, int64_t to, int64_t from, int32_t width) {
  std::memcpy(RowOf(view, to), RowOf(view, from), static_cast<size_t>(width) * 4);
}

void AverageRows(const PixelView* view, int64_t to, int64_t a, int64_t b, int32_t width) {
  uint32_t* out = RowOf(view, to);
  const uint32_t* pa = RowOf(view, a);
  const uint32_t* pb = RowOf(view, b);
  for (int32_t x = 0; x < width; ++x) out[x] = AveragePixels(pa[x], pb[x]);
}

// Smallest of the picture size and the sizes of the given targets.
int32_t Smallest(int64_t picture, const PixelView* a, const PixelView* b, bool widths) {
  int64_t v = picture;
  for (const PixelView* t : {a, b}) {
    if (t) v = std::min<int64_t>(v, widths ? t->width : t->height);
  }
  return static_cast<int32_t>(std::max<int64_t>(v, 0));
}

// With a vertical flip the stored even lines are the displayed bottom field and targets fill
// upwards; the operations below therefore work on (even target, odd target) and a row map.
struct Fields {
  bool mirror;
  bool flip;
  const PixelView* even;
  const PixelView* odd;
};

Fields FieldTargets(int orientation, const PixelView* top, const PixelView* bottom) {
  const bool flip = OrientationFlips(orientation);
  return {OrientationMirrors(orientation), flip, flip ? bottom : top, flip ? top : bottom};
}

}  // namespace

int SequenceLoader::LoadSplitFields(const PixelView* top, const PixelView* bottom,
                                    const char* name) {
  if (Read(name) != 0) return -1;
  MarkInterlaced();
  const auto [mirror, flip, even, odd] = FieldTargets(file_orientation_, top, bottom);
  const int32_t width = Smallest(buffer_.width(), top, bottom, true);
  const int32_t n = Smallest(buffer_.height() / 2, top, bottom, false);
  for (int32_t i = 0; i < n; ++i) {
    const int64_t row = flip ? n - 1 - i : i;
    if (even && ReadLine(RowOf(even, row), 2 * i, width, mirror) != 0) return -3;
    if (odd && ReadLine(RowOf(odd, row), 2 * i + 1, width, mirror) != 0) return -4;
  }
  return 0;
}

int SequenceLoader::LoadLineDoubled(const PixelView* top, const PixelView* bottom,
                                    const char* name) {
  if (Read(name) != 0) return -1;
  MarkInterlaced();
  const auto [mirror, flip, even, odd] = FieldTargets(file_orientation_, top, bottom);
  const int32_t width = Smallest(buffer_.width(), top, bottom, true);
  const int32_t r = Smallest(buffer_.height(), top, bottom, false);
  const int32_t pairs = r / 2;
  // A plain copy for the lambda: clang 14 cannot capture a structured binding.
  const bool upwards = flip;
  auto R = [&](int64_t k) { return upwards ? r - 1 - k : k; };
  for (int32_t i = 0; i < pairs; ++i) {
    if (even) {
      if (ReadLine(RowOf(even, R(2 * i)), 2 * i, width, mirror) != 0) return -3;
      if (i > 0) AverageRows(even, R(2 * i - 1), R(2 * i - 2), R(2 * i), width);
      if (i == pairs - 1) CopyRow(even, R(2 * i + 1), R(2 * i), width);
    }
    if (odd) {
      if (ReadLine(RowOf(odd, R(2 * i + 1)), 2 * i + 1, width, mirror) != 0) return -4;
      if (i == 0) {
        CopyRow(odd, R(0), R(1), width);
      } else {
        AverageRows(odd, R(2 * i), R(2 * i - 1), R(2 * i + 1), width);
      }
    }
  }
  // An odd last row would otherwise stay unwritten: repeat its neighbour.
  if ((r & 1) && r >= 2) {
    for (const PixelView* t : {even, odd}) {
      if (t) CopyRow(t, R(r - 1), R(r - 2), width);
    }
  }
  return 0;
}

int SequenceLoader::LoadHalfSize(const PixelView* top, const PixelView* bottom, const char* name) {
  if (Read(name) != 0) return -1;
  MarkInterlaced();
  const auto [mirror, flip, even, odd] = FieldTargets(file_orientation_, top, bottom);
  const int32_t width = Smallest(buffer_.width() / 2, top, bottom, true);
  const int32_t n = Smallest(buffer_.height() / 2, top, bottom, false);
  std::vector<uint32_t> line(static_cast<size_t>(std::max(buffer_.width(), 1)));
  for (int32_t i = 0; i < n; ++i) {
    const int64_t row = flip ? n - 1 - i : i;
    for (int k = 0; k < 2; ++k) {
      const PixelView* target = k == 0 ? even : odd;
      if (!target) continue;
      if (ReadLine(line.data(), 2 * i + k, 2 * width, mirror) != 0) return k == 0 ? -3 : -4;
      uint32_t* out = RowOf(target, row);
      for (int32_t j = 0; j < width; ++j) out[j] = AveragePixels(line[2 * j], line[2 * j + 1]);
    }
  }
  return 0;
}
