// BMP reader: palette images (1, 4, 8 bits, RLE8, RLE4), 5-5-5 / 5-6-5 words, 24 and 32 bits.
#include <climits>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

inline int64_t LeInt32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                 (uint32_t(p[3]) << 24));
}

inline uint32_t LeWord(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline int32_t Padded(int64_t bytes) {
  return int32_t((bytes + 3) & ~int64_t(3));
}

// Palette rows of bits_per_index bits per pixel, padded to 4 bytes: the index bytes are read into
// the tail of the pixel row and expanded forwards.
const uint8_t* ReadPaletteRow(uint8_t* scratch, ImageFileContext* ctx, int bits_per_index) {
  const int32_t w = ctx->width;
  const int32_t bytes = int32_t((int64_t(w) * bits_per_index + 7) / 8);
  uint8_t* idx = scratch + 4 * int64_t(w) - bytes;
  if (!ReadBytes(ctx, idx, bytes) || !SkipBytes(ctx, Padded(bytes) - bytes)) return nullptr;
  uint32_t* out = reinterpret_cast<uint32_t*>(scratch);
  const uint32_t* pal = ctx->palette;
  switch (bits_per_index) {
    case 8:
      for (int32_t i = 0; i < w; ++i) out[i] = pal[idx[i]];
      break;
    case 4:
      for (int32_t i = 0; i < w; i += 2) {
        const uint8_t b = idx[i / 2];
        out[i] = pal[b >> 4];
        if (i + 1 < w) out[i + 1] = pal[b & 15];
      }
      break;
    default:
      for (int32_t i = 0; i < w; i += 8) {
        const uint8_t b = idx[i / 8];
        for (int32_t k = 0; k < 8 && i + k < w; ++k) out[i + k] = pal[(b >> (7 - k)) & 1];
      }
      break;
  }
  return scratch;
}

const uint8_t* ReadPalette8Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadPaletteRow(scratch, ctx, 8);
}
const uint8_t* ReadPalette4Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadPaletteRow(scratch, ctx, 4);
}
const uint8_t* ReadPalette1Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadPaletteRow(scratch, ctx, 1);
}

// RLE8 / RLE4 rows. run_count holds the pixels of a delta still to skip in the following rows.
const uint8_t* ReadRleRow(uint8_t* scratch, ImageFileContext* ctx, bool rle4) {
  const int32_t w = ctx->width;
  uint32_t* out = reinterpret_cast<uint32_t*>(scratch);
  const uint32_t* pal = ctx->palette;
  int32_t x = 0;
  if (ctx->run_count > 0) {
    const int32_t n = ctx->run_count < w ? ctx->run_count : w;
    for (int32_t i = 0; i < n; ++i) out[i] = pal[0];
    x = n;
    ctx->run_count -= n;
    if (x == w) return scratch;
  }
  for (;;) {
    const uint8_t* pair = Peek(ctx, 2);
    if (!pair) return nullptr;
    const int n = pair[0], v = pair[1];
    ctx->read_pos += 2;
    if (n > 0) {
      if (rle4 && n > w - x) return nullptr;
      const int32_t count = n < w - x ? n : w - x;  // RLE8 drops a run's surplus
      for (int32_t i = 0; i < count; ++i) {
        out[x + i] = rle4 ? pal[(i & 1) ? (v & 15) : (v >> 4)] : pal[v];
      }
      x += count;
    } else if (v == 0 || v == 1) {
      return x == w ? scratch : nullptr;
    } else if (v == 2) {
      const uint8_t* d = Peek(ctx, 2);
      if (!d) return nullptr;
      const int64_t skip = d[0] + int64_t(d[1]) * w;
      ctx->read_pos += 2;
      const int32_t fill = skip < w - x ? int32_t(skip) : w - x;
      for (int32_t i = 0; i < fill; ++i) out[x + i] = pal[0];
      x += fill;
      if (x == w) {
        const int64_t rest = skip - fill;
        if (rest > INT32_MAX) return nullptr;
        ctx->run_count = int32_t(rest);
        return scratch;
      }
    } else {
      // A literal of v pixels, padded to an even byte count. One longer than the rest of the row
      // fails the row rather than writing past it.
      if (v > w - x) return nullptr;
      const int bytes = rle4 ? (v + 1) / 2 : v;
      const uint8_t* lit = Peek(ctx, (bytes + 1) & ~1);
      if (!lit) return nullptr;
      for (int i = 0; i < v; ++i) {
        out[x + i] = rle4 ? pal[(i & 1) ? (lit[i / 2] & 15) : (lit[i / 2] >> 4)] : pal[lit[i]];
      }
      ctx->read_pos += (bytes + 1) & ~1;
      x += v;
    }
  }
}

const uint8_t* ReadRle8Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRleRow(scratch, ctx, false);
}
const uint8_t* ReadRle4Row(uint8_t* scratch, ImageFileContext* ctx, int32_t) {
  return ReadRleRow(scratch, ctx, true);
}

}  // namespace

int32_t OpenBMP(ImageFileContext* ctx) {
  const uint8_t* h = Peek(ctx, 54);
  if (!h) return int32_t(ReportImageError(-27));
  const int64_t width = LeInt32(h + 18);
  int64_t height = LeInt32(h + 22);
  ctx->orientation = 4;
  if (height < 0) {
    ctx->orientation = 1;
    height = -height;  // INT_MIN becomes 2^31 and fails the size check below
  }
  const int64_t data_offset = LeInt32(h + 10);
  if (data_offset >= 66552 || data_offset < 54) return int32_t(ReportImageError(-51));
  const int32_t d = int32_t(data_offset);
  h = Peek(ctx, d);
  if (!h) return int32_t(ReportImageError(-27));

  const int bits = h[28];
  const int compression = h[30];
  const int64_t palette_entries = (d - 54) / 4;
  if (palette_entries > 0 && bits <= 8) {
    if (palette_entries > 256) return int32_t(ReportImageError(-23));
    for (int64_t i = 0; i < palette_entries; ++i) {
      const uint8_t* e = h + 54 + 4 * i;
      ctx->palette[i] = uint32_t(e[0]) | (uint32_t(e[1]) << 8) | (uint32_t(e[2]) << 16);
    }
  }
  ctx->bits_per_pixel = uint8_t(bits);
  ctx->channels = 3;

  RowReader reader = ReadPaddedRow;
  ReadConverter converter = nullptr;
  int bytes_per_pixel = 0;  // of row_bytes
  bool compressed = false;
  switch (256 * compression + bits) {
    case 1:
      reader = ReadPalette1Row, bytes_per_pixel = 4, converter = ConvertIdentity;
      break;
    case 4:
      reader = ReadPalette4Row, bytes_per_pixel = 4, converter = ConvertIdentity;
      break;
    case 8:
      reader = ReadPalette8Row, bytes_per_pixel = 4, converter = ConvertIdentity;
      break;
    case 15:
    case 16:
      bytes_per_pixel = 2, converter = ConvertRGB555;
      break;
    case 24:
      bytes_per_pixel = 3, converter = ConvertBGR24;
      break;
    case 32:
      bytes_per_pixel = 4, converter = ConvertIdentity;
      break;
    case 264:
      reader = ReadRle8Row, bytes_per_pixel = 4, converter = ConvertIdentity, compressed = true;
      break;
    case 516:
      reader = ReadRle4Row, bytes_per_pixel = 4, converter = ConvertIdentity, compressed = true;
      break;
    case 784: {
      if (d < 66) return int32_t(ReportImageError(-94));
      const uint32_t r = LeWord(h + 54), g = LeWord(h + 58), b = LeWord(h + 62);
      bytes_per_pixel = 2;
      if (r == 0xF800 && g == 0x07E0 && b == 0x001F) {
        converter = ConvertRGB565;
      } else if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) {
        converter = ConvertRGB555;
        if (d == 70 && LeWord(h + 66) == 0x00008000) ctx->orientation = 1;
      } else {
        return int32_t(ReportImageError(-93));
      }
      break;
    }
    case 800: {
      if (d < 66) return int32_t(ReportImageError(-96));
      const uint32_t r = LeWord(h + 54), g = LeWord(h + 58), b = LeWord(h + 62);
      bytes_per_pixel = 4;
      if (r == 0x00FF0000 && g == 0x0000FF00 && b == 0x000000FF) {
        converter = ConvertIdentity;
      } else if (r == 0x000000FF && g == 0x0000FF00 && b == 0x00FF0000) {
        converter = ConvertRGBA32;
      } else if (r == 0x0000FF00 && g == 0x00FF0000 && b == 0xFF000000) {
        converter = ConvertARGB32;
      } else {
        return int32_t(ReportImageError(-95));
      }
      break;
    }
    default:
      return int32_t(ReportImageError(-21));
  }
  if (CheckImageSize(width, height, bytes_per_pixel, -21) != 0) return -21;
  ctx->read_pos += d;

  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->row_bytes = int32_t(width) * bytes_per_pixel;
  ctx->row_reader = reader;
  ctx->converter = converter;
  ctx->first_frame_offset = d;
  // Equal images follow one another only where rows have a fixed size in the file.
  const int64_t file_row = bits <= 8 ? (width * bits + 7) / 8 : width * bytes_per_pixel;
  ctx->frame_size = compressed ? 0 : d + height * Padded(file_row);
  if (compression == 0) {
    SetDescription(ctx, "BMP-%d", bits);
  } else {
    SetDescription(ctx, "BMP-%d%c", bits, compression == 3 ? 'v' : 'c');
  }
  return 0;
}

}  // namespace ImageFileIO
