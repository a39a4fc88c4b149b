// Cineon film scans: a big-endian 1,024-byte header, then RGB rows of 8, 10, 12 or 16 bits.
#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kHeaderBytes = 1024;

uint32_t LoadBig32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

int64_t RoundUp4(int64_t n) {
  return (n + 3) & ~int64_t{3};
}

}  // namespace

int32_t OpenCIN(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, kHeaderBytes);
  if (!p) return int32_t(ReportImageError(-70));
  const int64_t data_offset = LoadBig32(p + 4);
  const uint8_t orientation = p[192];
  const uint8_t bits = p[198];
  const int64_t width = LoadBig32(p + 200);
  const int64_t height = LoadBig32(p + 204);
  ctx->read_pos += kHeaderBytes;
  if (data_offset > kHeaderBytes && !SkipBytes(ctx, data_offset - kHeaderBytes))
    return int32_t(ReportImageError(-71));

  ctx->orientation = uint8_t(orientation < 8 ? orientation + 1 : 0);
  ctx->bits_per_pixel = bits;
  ctx->channels = 3;
  ctx->row_reader = ReadPlainRow;
  int64_t row_bytes;
  switch (bits) {
    case 8:
      row_bytes = RoundUp4(3 * width);
      ctx->converter = ConvertRGB24;
      break;
    case 10:
      row_bytes = 4 * width;
      ctx->converter = ConvertRGB10Swapped;
      break;
    case 12:
    case 16:
      row_bytes = RoundUp4(6 * width);
      ctx->converter = ConvertRGB48First;
      break;
    default:
      return int32_t(ReportImageError(-72));
  }
  if (CheckImageSize(width, height, 6, -73) != 0) return -73;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->row_bytes = int32_t(row_bytes);
  ctx->first_frame_offset = kHeaderBytes;
  ctx->frame_size = kHeaderBytes + height * row_bytes;
  SetDescription(ctx, "CIN-RGB%i", int{bits});
  return 0;
}

}  // namespace ImageFileIO
