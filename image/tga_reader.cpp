// TGA reader: colour-mapped, grey and true-colour images, plain and run-length.
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

inline int32_t Le16(const uint8_t* p) {
  return int32_t(p[0]) | (int32_t(p[1]) << 8);
}

// Palette index, 8-bit index, grey byte, or stored pixel of value_bytes bytes.
enum class TgaValue { kPalette, kGrey, kBgr, kBgra };

// Reads one pixel value, or returns false at the end of the input.
bool ReadValue(ImageFileContext* ctx, TgaValue kind, uint32_t* pixel) {
  const int size = kind == TgaValue::kBgr ? 3 : (kind == TgaValue::kBgra ? 4 : 1);
  const uint8_t* p = Peek(ctx, size);
  if (!p) return false;
  ctx->read_pos += size;
  switch (kind) {
    case TgaValue::kPalette:
      *pixel = ctx->palette[p[0]];
      break;
    case TgaValue::kGrey:
      *pixel = uint32_t(p[0]) * 0x010101u;
      break;
    case TgaValue::kBgr:
      *pixel = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
      break;
    case TgaValue::kBgra:
      *pixel =
          uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
      break;
  }
  return true;
}

// Packets may run over the end of a row: run_count keeps the pixels still owed (positive for a
// run of run_value, negative for literal pixels).
const uint8_t* ReadRunLengthRow(uint8_t* scratch, ImageFileContext* ctx, TgaValue kind) {
  uint32_t* out = reinterpret_cast<uint32_t*>(scratch);
  for (int32_t x = 0; x < ctx->width;) {
    if (ctx->run_count == 0) {
      int h = NextByte(ctx);
      if (h < 0) return nullptr;
      if (h >= 128) {
        uint32_t value;
        if (!ReadValue(ctx, kind, &value)) return nullptr;
        ctx->run_value = int32_t(value);
        ctx->run_count = h - 127;
      } else {
        ctx->run_count = -(h + 1);
      }
    }
    if (ctx->run_count > 0) {
      int32_t n = ctx->width - x < ctx->run_count ? ctx->width - x : ctx->run_count;
      for (int32_t i = 0; i < n; ++i) out[x + i] = uint32_t(ctx->run_value);
      x += n;
      ctx->run_count -= n;
    } else {
      uint32_t value;
      if (!ReadValue(ctx, kind, &value)) return nullptr;
      out[x++] = value;
      ++ctx->run_count;
    }
  }
  return scratch;
}

const uint8_t* ReadRlePaletteRow(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRunLengthRow(scratch, ctx, TgaValue::kPalette);
}
const uint8_t* ReadRleGreyRow(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRunLengthRow(scratch, ctx, TgaValue::kGrey);
}
const uint8_t* ReadRle24Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRunLengthRow(scratch, ctx, TgaValue::kBgr);
}
const uint8_t* ReadRle32Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRunLengthRow(scratch, ctx, TgaValue::kBgra);
}

// 8-bit indices, unpadded, expanded through the palette. The indices are read into the tail of the
// pixel row and expanded forwards.
const uint8_t* ReadPalette8Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  const int32_t w = ctx->width;
  uint8_t* idx = scratch + 3 * int64_t(w);
  if (!ReadBytes(ctx, idx, w)) return nullptr;
  uint32_t* out = reinterpret_cast<uint32_t*>(scratch);
  for (int32_t i = 0; i < w; ++i) out[i] = ctx->palette[idx[i]];
  return scratch;
}

struct TgaVariant {
  int key;  // image type + 16 x depth
  int channels;
  RowReader reader;
  int bytes_per_pixel;  // row_bytes = width x this
  int file_bytes_per_pixel;
  ReadConverter converter;
};

constexpr TgaVariant kVariants[] = {
    {129, 3, ReadPalette8Row, 4, 1, ConvertIdentity},
    {131, 1, ReadPlainRow, 1, 1, ConvertGray8},
    {137, 3, ReadRlePaletteRow, 4, 0, ConvertIdentity},
    {139, 1, ReadRleGreyRow, 4, 0, ConvertIdentity},
    {242, 3, ReadPlainRow, 2, 2, ConvertRGB555},
    {258, 3, ReadPlainRow, 2, 2, ConvertRGB555},
    {386, 3, ReadPlainRow, 3, 3, ConvertBGR24},
    {394, 3, ReadRle24Row, 4, 0, ConvertIdentity},
    {514, 4, ReadPlainRow, 4, 4, ConvertIdentity},
    {522, 4, ReadRle32Row, 4, 0, ConvertIdentity},
};

}  // namespace

int32_t OpenTGA(ImageFileContext* ctx) {
  const uint8_t* h = Peek(ctx, 18);
  if (!h) return int32_t(ReportImageError(-48));
  const int id_length = h[0];
  h = Peek(ctx, 18 + id_length);
  if (!h) return int32_t(ReportImageError(-28));
  uint8_t header[18];
  std::memcpy(header, h, 18);
  std::memcpy(ctx->image_id, h + 18, size_t(id_length));
  ctx->image_id[id_length] = '\0';
  ctx->read_pos += 18 + id_length;

  const int32_t width = Le16(header + 12);
  const int32_t height = Le16(header + 14);
  static constexpr uint8_t kOrientation[4] = {4, 3, 1, 2};  // by descriptor bits 5 (top), 4 (right)
  ctx->orientation = kOrientation[(header[17] >> 4) & 3];
  const int depth = header[16];
  if (depth < 1 || depth > 32) return int32_t(ReportImageError(-14));

  int64_t map_bytes = 0;
  if (header[1] == 1) {
    const int first = Le16(header + 3);
    const int length = Le16(header + 5);
    const int entry_bits = header[7];
    if (first + length > 256) return int32_t(ReportImageError(-15));
    for (int i = 0; i < first; ++i) ctx->palette[i] = 0;
    map_bytes = int64_t(length) * ((entry_bits + 7) / 8);
    const uint8_t* map = Peek(ctx, int32_t(map_bytes));
    if (!map) return int32_t(ReportImageError(-16));
    switch (entry_bits) {
      case 15:
      case 16:
        ConvertRGB555(ctx->palette + first, map, length);
        break;
      case 24:
        ConvertBGR24(ctx->palette + first, map, length);
        break;
      case 32:
        ConvertIdentity(ctx->palette + first, map, length);
        break;
      default:
        return int32_t(ReportImageError(-17));
    }
    ctx->read_pos += int32_t(map_bytes);
  }

  ctx->bits_per_pixel = uint8_t(depth);
  const int type = header[2];
  const TgaVariant* v = nullptr;
  for (const TgaVariant& candidate : kVariants) {
    if (candidate.key == type + 16 * depth) v = &candidate;
  }
  if (!v) return int32_t(ReportImageError(-18));
  if (CheckImageSize(width, height, v->bytes_per_pixel, -14) != 0) return -14;

  ctx->width = width;
  ctx->height = height;
  ctx->channels = uint8_t(v->channels);
  ctx->row_bytes = width * v->bytes_per_pixel;
  ctx->row_reader = v->reader;
  ctx->converter = v->converter;
  if (type <= 3) {
    // Images of equal size follow one another, each with its header, identification and map.
    ctx->first_frame_offset = 18 + id_length + map_bytes;
    ctx->frame_size = ctx->first_frame_offset + int64_t(height) * width * v->file_bytes_per_pixel;
  }
  SetDescription(ctx, "TGA-%d%s%s", depth, (type & 7) == 3 ? "g" : "", (type & 8) ? "c" : "");
  return 0;
}

}  // namespace ImageFileIO
