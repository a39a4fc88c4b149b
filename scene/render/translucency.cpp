#include "scene/render/translucency.h"

namespace {

// Channel c (0 blue, 1 green, 2 red) of a pixel blended with its accumulator lane.
inline std::uint32_t Blend(TranslucencyTable::Weights w, std::uint64_t accum, std::uint32_t pixel,
                           int c) {
  const std::uint32_t lane = static_cast<std::uint32_t>(accum >> (16 * c)) & 0xffff;
  const std::uint32_t background = (pixel >> (8 * c)) & 0xff;
  return (w.layers * lane + w.background * background) >> 16;
}

}  // namespace

const TranslucencyTable& TranslucencyTable::Get() {
  static const TranslucencyTable table;
  return table;
}

TranslucencyTable::TranslucencyTable() {
  Build();
}

void TranslucencyTable::Build() {
  for (std::uint32_t j = 0; j < 64; ++j) {
    const std::uint32_t a = j == 0 ? 0 : (j == 1 ? 0x7fff : 0x8000 / j);
    for (std::uint32_t n = 0; n < 1024; ++n) {
      entries_[j * 1024 + n] = {static_cast<std::uint16_t>(0xffff - ((n * a) >> 3)),
                                static_cast<std::uint16_t>(a)};
    }
  }
}

void TranslucencyTable::ResolveRow(std::uint32_t* color, std::uint64_t* accum, int length) const {
  for (int i = 0; i < length; ++i) {
    const std::uint64_t acc = accum[i];
    const std::uint32_t count = static_cast<std::uint32_t>(acc >> 48);
    if (count == 0) continue;
    const Weights w = entries_[count];
    const std::uint32_t pixel = color[i];
    color[i] =
        Blend(w, acc, pixel, 2) << 16 | Blend(w, acc, pixel, 1) << 8 | Blend(w, acc, pixel, 0);
    accum[i] = 0;
  }
}

namespace {

// Blue | green << 16 and red of a pixel, the layout of the sums.
inline std::uint32_t BlueGreen(std::uint32_t p) {
  return (p & 0xff) | (p & 0xff00) << 8;
}
inline std::uint32_t Red(std::uint32_t p) {
  return (p >> 16) & 0xff;
}

// The F samples of each pixel without translucent layers: kF > 0 fixes F at compile time.
template <int kF>
void SumOpaqueSamples(std::uint32_t* sums, const std::uint32_t* samples, const float* depth,
                      const std::uint32_t* target, int f, int length) {
  if (kF > 0) f = kF;
  for (int x = 0; x < length; ++x) {
    const std::uint32_t background = target[x];
    std::uint32_t bg = 0, r = 0;
    for (int i = x * f, end = i + f; i < end; ++i) {
      const std::uint32_t p = depth[i] > 0.0f ? samples[i] : background;
      bg += BlueGreen(p);
      r += Red(p);
    }
    sums[2 * x] += bg;
    sums[2 * x + 1] += r;
  }
}

}  // namespace

void TranslucencyTable::DownsampleRow(std::uint32_t* sums, const std::uint32_t* samples,
                                      const float* depth, const std::uint32_t* target,
                                      std::uint64_t* accum, int f, int length) const {
  if (accum == nullptr) {
    if (f == 2) {
      SumOpaqueSamples<2>(sums, samples, depth, target, f, length);
    } else {
      SumOpaqueSamples<0>(sums, samples, depth, target, f, length);
    }
    return;
  }
  for (int x = 0; x < length; ++x) {
    std::uint32_t b = 0, g = 0, r = 0;
    for (int i = x * f, end = i + f; i < end; ++i) {
      const std::uint32_t pixel = depth[i] > 0.0f ? samples[i] : target[x];
      const std::uint64_t acc = accum[i];
      const std::uint32_t count = static_cast<std::uint32_t>(acc >> 48);
      if (count == 0) {
        b += pixel & 0xff;
        g += (pixel >> 8) & 0xff;
        r += (pixel >> 16) & 0xff;
      } else {
        const Weights w = entries_[count];
        b += Blend(w, acc, pixel, 0);
        g += Blend(w, acc, pixel, 1);
        r += Blend(w, acc, pixel, 2);
        accum[i] = 0;
      }
    }
    sums[2 * x] += b | g << 16;
    sums[2 * x + 1] += r;
  }
}

void AverageSampleSums(std::uint32_t* sums, std::uint32_t* target, int n, int length) {
  // Multiplier and shift per sample count: sum × m >> s ≈ sum / N.
  static constexpr std::uint32_t kMul[17] = {0, 1,  1,  85, 1,  51, 21, 9, 1,
                                             7, 25, 23, 21, 19, 9,  17, 1};
  static constexpr std::uint32_t kShift[17] = {0, 0, 1, 8, 2, 8, 7, 6, 3, 6, 8, 8, 8, 8, 7, 8, 4};
  if (n <= 0) return;
  for (int x = 0; x < length; ++x) {
    const std::uint32_t bg = sums[2 * x];
    std::uint32_t b = bg & 0xffff, g = bg >> 16, r = sums[2 * x + 1];
    if (n <= 16) {
      b = (b * kMul[n]) >> kShift[n];
      g = (g * kMul[n]) >> kShift[n];
      r = (r * kMul[n]) >> kShift[n];
    } else {
      b /= n;
      g /= n;
      r /= n;
    }
    target[x] = r << 16 | g << 8 | b;
    sums[2 * x] = 0;
    sums[2 * x + 1] = 0;
  }
}
