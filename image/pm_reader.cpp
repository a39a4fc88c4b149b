// PM reader: grey images of 1 or 2 bytes per sample and colour images of one 4-byte word per pixel.
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {

int32_t OpenPM(ImageFileContext* ctx) {
  const uint8_t* h = Peek(ctx, 28);
  if (!h) return int32_t(ReportImageError(-80));
  bool big_endian;
  if (std::memcmp(h, "VIEW", 4) == 0) {
    big_endian = true;
  } else if (std::memcmp(h, "WEIV", 4) == 0) {
    big_endian = false;
  } else {
    return int32_t(ReportImageError(-81));
  }
  auto word = [&](int offset) -> int64_t {
    const uint8_t* p = h + offset;
    uint32_t v = big_endian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                                  (uint32_t(p[2]) << 8) | uint32_t(p[3])
                            : uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                                  (uint32_t(p[3]) << 24);
    return int32_t(v);
  };
  const int64_t planes = word(4), height = word(8), width = word(12), bands = word(16);
  const int64_t form = word(20);
  ctx->channels = uint8_t(planes);
  ctx->orientation = 1;
  if (bands != 1 || (planes != 1 && planes != 3 && planes != 4) ||
      (form != 0x8001 && form != 0x8002 && form != 0x8004)) {
    return int32_t(ReportImageError(-82));
  }
  const int s = int(form & 0xF);
  if (CheckImageSize(width, height, s * planes, -82) != 0) return -82;

  ReadConverter converter = nullptr;
  switch (s + 16 * planes + (big_endian ? 0x100 : 0)) {
    case 0x011:
    case 0x111:
      converter = ConvertGray8;
      break;
    case 0x012:
      converter = ConvertGray16Second;
      break;
    case 0x112:
      converter = ConvertGray16First;
      break;
    case 0x034:
      converter = ConvertRGBA32;
      break;
    case 0x134:
      converter = ConvertABGR32;
      break;
    default:
      return int32_t(ReportImageError(-83));
  }
  ctx->read_pos += 28;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->bits_per_pixel = uint8_t(s <= 2 ? 8 * s * planes : 8 * planes);
  // Colour rows are stepped by the full stated size; each pixel is read as one 4-byte word.
  ctx->row_bytes = int32_t(s * width * planes);
  ctx->row_reader = ReadPlainRow;
  ctx->converter = converter;
  SetDescription(ctx, "PM-%d(%cE)", int(ctx->bits_per_pixel), big_endian ? 'B' : 'L');
  return 0;
}

}  // namespace ImageFileIO
