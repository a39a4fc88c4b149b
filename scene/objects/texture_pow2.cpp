#include "scene/objects/texture_pow2.h"

#include <algorithm>
#include <cstring>

#include "foundation/numeric/array.h"
#include "image/image_transform.h"

namespace {

int CeilLog2(uint32_t size) {
  int k = 0;
  while (k < 24 && (uint64_t{1} << k) < size) ++k;
  return k;
}

}  // namespace

SharedPtr<NHSTexture> MakeTexturePow2(const uint32_t* source, uint32_t stride, uint32_t width,
                                      uint32_t height) {
  if (width == 0 || height == 0) return {};
  int lw = CeilLog2(width), lh = CeilLog2(height);
  if (lw >= 15) {
    while (lw > kMaxTextureLog2) {
      const uint64_t w_lead = width >> (lw - 4);
      const uint64_t h_lead = lh >= 4 ? uint64_t{height} >> (lh - 4) : uint64_t{height} << (4 - lh);
      if (w_lead >= h_lead && lh > 0) {
        --lh;
      } else {
        --lw;
      }
    }
  }
  lw = std::min(lw, kMaxTextureLog2);
  lh = std::min(lh, kMaxTextureLog2);
  const uint32_t tw = 1u << lw, th = 1u << lh;
  const size_t texels = size_t{tw} * th;

  SharedPtr<NHSTexture> texture = SharedPtr<NHSTexture>::MakeExtra(15 + 4 * texels);
  auto* extra = static_cast<unsigned char*>(texture.ExtraBytes());
  auto* pixels = reinterpret_cast<uint32_t*>(extra + (-reinterpret_cast<uintptr_t>(extra) & 15));
  texture->pixels = pixels;
  texture->log2_width = static_cast<uint8_t>(lw);
  texture->log2_height = static_cast<uint8_t>(lh);
  if (source == nullptr) return texture;
  if (tw == width && th == height) {
    for (uint32_t y = 0; y < th; ++y) {
      std::memcpy(pixels + size_t{y} * tw, source + size_t{y} * stride, 4 * size_t{tw});
    }
  } else {
    const ArrayMap<unsigned int> to(pixels, tw, tw, th);
    const ArrayMap<unsigned int> from(const_cast<uint32_t*>(source), stride, width, height);
    ScaleImageRect(to, from, static_cast<double>(width) / tw, static_cast<double>(height) / th, 0,
                   0, 2, 0);
  }
  return texture;
}
