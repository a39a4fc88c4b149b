// Reads an image through the image-file library as the sequence loader does: open, every row
// (within a pixel budget, so a huge declared size costs no more than a small one), then the
// next image of the same stream, and close.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/image_file_io.h"

namespace fuzz {

// Rows of at most this many pixels in all are read per image.
constexpr int64_t kPixelBudget = int64_t{1} << 22;

inline void ReadRows(ImageFileIO::ImageFileContext* ctx) {
  if (ctx->width <= 0 || ctx->height <= 0) return;
  const int64_t rows =
      std::min<int64_t>(ctx->height, std::max<int64_t>(1, kPixelBudget / ctx->width));
  std::vector<uint32_t> row(size_t(ctx->width));
  for (int64_t y = 0; y < rows; ++y) {
    if (ImageFileIO::ReadRow(row.data(), ctx) != 0) return;
  }
}

inline void ReadImageFile(const char* path) {
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  if (ImageFileIO::OpenRead(ctx.get(), path) == 0) {
    ReadRows(ctx.get());
    if (ImageFileIO::OpenRead(ctx.get(), nullptr) == 0) ReadRows(ctx.get());
  }
  ImageFileIO::Close(ctx.get());
}

}  // namespace fuzz
