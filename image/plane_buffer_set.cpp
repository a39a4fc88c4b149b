#include "image/plane_buffer_set.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

int64_t Stride16(int64_t width) {
  return (width + 15) & ~int64_t{15};
}

}  // namespace

void ChromaPlaneSize(int32_t chroma_format, int32_t width, int32_t height, int32_t* chroma_width,
                     int32_t* chroma_height) {
  int32_t w = 0, h = 0;
  switch (chroma_format) {
    case 2:
      w = (width + 1) / 2, h = (height + 1) / 2;
      break;
    case 3:
      w = (width + 3) / 4, h = height;
      break;
    case 4:
      w = (width + 1) / 2, h = height;
      break;
    case 5:
      w = width, h = (height + 1) / 2;
      break;
    case 6:
    case 7:
      w = width, h = height;
      break;
    default:
      break;
  }
  *chroma_width = w;
  *chroma_height = h;
}

PlaneBufferSet* AllocatePlaneBufferSet(int32_t width, int32_t height, int32_t chroma_format) {
  int32_t cw, ch;
  ChromaPlaneSize(chroma_format, width, height, &cw, &ch);
  const int64_t luma_stride = Stride16(width);
  const int64_t chroma_stride = Stride16(cw);
  // The upsamplers write up to 4 x chroma width samples.
  const int64_t scratch_stride = Stride16(std::max<int64_t>(width, int64_t{4} * cw) + 16);
  const int64_t luma_bytes = luma_stride * height;
  const int64_t chroma_bytes = chroma_stride * ch;
  const int64_t alpha_bytes = chroma_format == 7 ? luma_bytes : 0;
  const int64_t header = Stride16(sizeof(PlaneBufferSet));
  const int64_t total = header + luma_bytes + 2 * chroma_bytes + alpha_bytes + 2 * scratch_stride;
  void* block = std::aligned_alloc(16, size_t(Stride16(total)));
  if (!block) return nullptr;
  std::memset(block, 0, size_t(Stride16(total)));
  auto* set = static_cast<PlaneBufferSet*>(block);
  uint8_t* p = static_cast<uint8_t*>(block) + header;
  set->plane[0] = {p, int32_t(luma_stride), width, height};
  p += luma_bytes;
  if (cw > 0) {
    set->plane[1] = {p, int32_t(chroma_stride), cw, ch};
    p += chroma_bytes;
    set->plane[2] = {p, int32_t(chroma_stride), cw, ch};
    p += chroma_bytes;
  }
  if (alpha_bytes) {
    set->plane[3] = {p, int32_t(luma_stride), width, height};
    p += alpha_bytes;
  }
  set->chroma_row[0] = p;
  set->chroma_row[1] = p + scratch_stride;
  return set;
}

int32_t FreePlaneBufferSet(ImageFileContext* ctx) {
  std::free(ctx->decoder_state);
  ctx->decoder_state = nullptr;
  return 0;
}

}  // namespace ImageFileIO
