// DPX film scans: a 1,408-byte header in the byte order of its magic word, then RGB or CbYCrY
// 4:2:2 rows of 8, 10, 12 or 16 bits.
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kHeaderBytes = 1408;

uint32_t Load32(const uint8_t* p, bool big_endian) {
  return big_endian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                    : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
uint32_t Load16(const uint8_t* p, bool big_endian) {
  return big_endian ? uint32_t(p[0]) << 8 | p[1] : uint32_t(p[1]) << 8 | p[0];
}

int64_t RoundUp4(int64_t n) {
  return (n + 3) & ~int64_t{3};
}

// Little-endian 16-bit RGB samples: red, green, blue from the high bytes 1, 3 and 5 of the 6.
void ConvertRGB48LittleEndian(uint32_t* dst, const uint8_t* src, int32_t count) {
  for (int32_t i = 0; i < count; ++i, src += 6)
    dst[i] = uint32_t(src[1]) << 16 | uint32_t(src[3]) << 8 | src[5];
}

}  // namespace

int32_t OpenDPX(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, kHeaderBytes);
  if (!p) return int32_t(ReportImageError(-64));
  bool big_endian;
  if (std::memcmp(p, "XPDS", 4) == 0)
    big_endian = false;
  else if (std::memcmp(p, "SDPX", 4) == 0)
    big_endian = true;
  else
    return int32_t(ReportImageError(-65));
  uint8_t header[kHeaderBytes];
  std::memcpy(header, p, kHeaderBytes);
  ctx->read_pos += kHeaderBytes;

  const int64_t data_offset = Load32(header + 4, big_endian);
  if (data_offset > kHeaderBytes && !SkipBytes(ctx, data_offset - kHeaderBytes))
    return int32_t(ReportImageError(-66));

  const uint32_t orientation = Load16(header + 768, big_endian);
  ctx->orientation = uint8_t(orientation < 8 ? orientation + 1 : 0);
  const int64_t width = Load32(header + 772, big_endian);
  const int64_t height = Load32(header + 776, big_endian);
  const uint8_t descriptor = header[800];
  if (descriptor != 50 && descriptor != 100) return int32_t(ReportImageError(-67));
  const uint8_t bits = header[803];
  ctx->bits_per_pixel = bits;
  ctx->channels = 3;
  // Sizes are checked against the widest row layout (6 bytes per pixel).
  if (CheckImageSize(width, height, 6, -68) != 0) return -68;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);

  const int key = bits + (big_endian ? 100 : 0) + (descriptor == 100 ? 1000 : 0);
  int64_t row_bytes;
  ctx->row_reader = ReadPlainRow;
  switch (key) {
    case 8:
    case 108:
      row_bytes = RoundUp4(3 * width);
      // Bytes are red, green, blue in either byte order.
      ctx->converter = ConvertRGB24;
      break;
    case 10:
    case 110:
      row_bytes = 4 * width;
      ctx->converter = key == 10 ? ConvertRGB10 : ConvertRGB10Swapped;
      break;
    case 12:
    case 16:
    case 112:
    case 116:
      row_bytes = RoundUp4(6 * width);
      ctx->converter = key < 100 ? ConvertRGB48LittleEndian : ConvertRGB48First;
      break;
    case 1008:
    case 1108:
      row_bytes = RoundUp4(2 * width);
      ctx->converter = ConvertCbYCrY8;
      if (key == 1108) ctx->row_reader = ReadSwappedRow;
      break;
    case 1010:
    case 1110:
      row_bytes = 4 * ((2 * width + 2) / 3);
      ctx->converter = ConvertCbYCrY10;
      if (key == 1110) ctx->row_reader = ReadSwappedRow;
      break;
    default:
      return int32_t(ReportImageError(-69));
  }
  ctx->row_bytes = int32_t(row_bytes);
  ctx->first_frame_offset = kHeaderBytes;
  ctx->frame_size = kHeaderBytes + height * row_bytes;
  SetDescription(ctx, "DPX-%s%i", descriptor == 50 ? "RGB" : "UYVY", int{bits});
  return 0;
}

}  // namespace ImageFileIO
