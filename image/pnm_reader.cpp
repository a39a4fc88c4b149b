// PNM reader (P1 to P6). maxval selects 8 or 16-bit samples; samples of any maxval other than
// 255 and 65535 are scaled to the full range (maxval itself becomes white).
#include <algorithm>
#include <cstdint>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int64_t kMaxNumber = 2147483639;

bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int PeekByte(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, 1);
  return p ? *p : -1;
}

// Skips blanks and '#' comments. At the end of the input prints -3 and -4 and returns false.
bool SkipBlanks(ImageFileContext* ctx) {
  for (;;) {
    int c = PeekByte(ctx);
    if (c < 0) {
      ReportImageError(-3);
      ReportImageError(-4);
      return false;
    }
    if (c == '#') {
      do {
        ++ctx->read_pos;
        c = PeekByte(ctx);
      } while (c >= 0 && c != '\r' && c != '\n');
      continue;
    }
    if (!IsBlank(c)) return true;
    ++ctx->read_pos;
  }
}

// A decimal header number, or -1 when missing (no digit, or above kMaxNumber).
int64_t ReadNumber(ImageFileContext* ctx) {
  int64_t value = 0;
  int digits = 0;
  bool too_big = false;
  for (;;) {
    int c = PeekByte(ctx);
    if (c < 0) {
      ReportImageError(-3);
      break;
    }
    if (c < '0' || c > '9') break;
    ++ctx->read_pos;
    ++digits;
    if (!too_big) {
      value = value * 10 + (c - '0');
      if (value > kMaxNumber) too_big = true;
    }
  }
  if (too_big) {
    ReportImageError(-5);
    return -1;
  }
  return digits ? value : -1;
}

// P1 raster: '0' gives 0xFF (white), '1' gives 0x00; every other character is ignored.
const uint8_t* ReadAsciiBitmapRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  for (int32_t i = 0; i < count;) {
    int c = NextByte(ctx);
    if (c < 0) return nullptr;
    if (c == '0' || c == '1') scratch[i++] = c == '0' ? 0xFF : 0x00;
  }
  return scratch;
}

// ASCII numbers of one row; `wide` stores 16-bit values high byte first.
const uint8_t* ReadAsciiDecimalRow(uint8_t* scratch, ImageFileContext* ctx, int32_t numbers,
                                   bool wide) {
  const uint32_t max_value = wide ? 65535 : 255;
  for (int32_t n = 0; n < numbers; ++n) {
    int c;
    do {
      c = NextByte(ctx);
      if (c < 0) return nullptr;
    } while (c < '0' || c > '9');
    uint32_t value = 0;
    for (;;) {
      value = std::min<uint32_t>(value * 10 + uint32_t(c - '0'), 1000000);
      c = NextByte(ctx);
      if (c < '0' || c > '9') break;  // also at the end of the input
    }
    if (c < 0 && n + 1 < numbers) return nullptr;
    value = std::min(value, max_value);
    if (wide) {
      scratch[2 * n] = uint8_t(value >> 8);
      scratch[2 * n + 1] = uint8_t(value);
    } else {
      scratch[n] = uint8_t(value);
    }
  }
  return scratch;
}

const uint8_t* ReadAscii8Row(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  return ReadAsciiDecimalRow(scratch, ctx, count, false);
}

const uint8_t* ReadAscii16Row(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  return ReadAsciiDecimalRow(scratch, ctx, count / 2, true);
}

// maxval of a file whose samples need scaling, kept in decoder_state2.
int64_t ScaledMaxval(const ImageFileContext* ctx) {
  return reinterpret_cast<intptr_t>(ctx->decoder_state2);
}

// Scales a row of 8-bit (count bytes) or 16-bit big-endian samples from 0..maxval to 0..255,
// rounded; 16-bit samples get the 8-bit value in both bytes, the converters taking the first.
// Values above maxval count as maxval.
const uint8_t* ScaleRow(const uint8_t* row, uint8_t* scratch, int32_t count, bool wide,
                        int64_t maxval) {
  if (!row) return nullptr;
  if (wide) {
    for (int32_t i = 0; i + 1 < count; i += 2) {
      const int64_t v = std::min<int64_t>(row[i] << 8 | row[i + 1], maxval);
      scratch[i] = scratch[i + 1] = uint8_t((v * 255 + maxval / 2) / maxval);
    }
  } else {
    for (int32_t i = 0; i < count; ++i) {
      const int64_t v = std::min<int64_t>(row[i], maxval);
      scratch[i] = uint8_t((v * 255 + maxval / 2) / maxval);
    }
  }
  return scratch;
}

const uint8_t* ReadScaledPlainRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  return ScaleRow(ReadPlainRow(scratch, ctx, count), scratch, count,
                  count > ctx->width * int64_t{ctx->channels}, ScaledMaxval(ctx));
}
const uint8_t* ReadScaledAscii8Row(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  return ScaleRow(ReadAscii8Row(scratch, ctx, count), scratch, count, false, ScaledMaxval(ctx));
}
const uint8_t* ReadScaledAscii16Row(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  return ScaleRow(ReadAscii16Row(scratch, ctx, count), scratch, count, true, ScaledMaxval(ctx));
}

struct PnmVariant {
  int key;
  char letter;
  int bits;
  int channels;
  bool raw;
  RowReader reader;
  int bytes_per_pixel_times8;  // row_bytes = width x this / 8, rounded up
  ReadConverter converter;
};

constexpr PnmVariant kVariants[] = {
    {1, 'B', 1, 1, false, ReadAsciiBitmapRow, 8, ConvertGray8},
    {2, 'G', 8, 1, false, ReadAscii8Row, 8, ConvertGray8},
    {3, 'P', 24, 3, false, ReadAscii8Row, 24, ConvertRGB24},
    {4, 'B', 1, 1, true, ReadPlainRow, 1, ConvertBits1},
    {5, 'G', 8, 1, true, ReadPlainRow, 8, ConvertGray8},
    {6, 'P', 24, 3, true, ReadPlainRow, 24, ConvertRGB24},
    {10, 'G', 16, 1, false, ReadAscii16Row, 16, ConvertGray16First},
    {11, 'P', 48, 3, false, ReadAscii16Row, 48, ConvertRGB48First},
    {13, 'G', 16, 1, true, ReadPlainRow, 16, ConvertGray16First},
    {14, 'P', 48, 3, true, ReadPlainRow, 48, ConvertRGB48First},
};

}  // namespace

int32_t OpenPNM(ImageFileContext* ctx) {
  const uint8_t* head = Peek(ctx, 8);
  if (!head) return int32_t(ReportImageError(-47));
  const int digit = head[1] - '0';
  ctx->read_pos += 3;  // 'P', the digit and the blank after it

  if (!SkipBlanks(ctx)) return int32_t(ReportImageError(-6));
  const int64_t width = ReadNumber(ctx);
  if (width <= 0) return int32_t(ReportImageError(-7));
  if (!SkipBlanks(ctx)) return int32_t(ReportImageError(-8));
  const int64_t height = ReadNumber(ctx);
  if (height <= 0) return int32_t(ReportImageError(-9));
  int64_t maxval = 1;
  if (digit != 1 && digit != 4) {
    if (!SkipBlanks(ctx)) return int32_t(ReportImageError(-10));
    maxval = ReadNumber(ctx);
    if (maxval < 0) return int32_t(ReportImageError(-11));
  }
  const bool raw = digit >= 4 && digit <= 6;
  if (raw) {
    if (NextByte(ctx) < 0) return int32_t(ReportImageError(-13));
  } else if (digit >= 1 && digit <= 3 && !SkipBlanks(ctx)) {
    return int32_t(ReportImageError(-12));
  }

  const int key = digit + (maxval >= 256 ? 8 : 0);
  const PnmVariant* v = nullptr;
  for (const PnmVariant& candidate : kVariants) {
    if (candidate.key == key) v = &candidate;
  }
  if (!v) return -1;
  if (CheckImageSize(width, height, (v->bytes_per_pixel_times8 + 7) / 8, -9) != 0) return -9;

  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->bits_per_pixel = uint8_t(v->bits);
  ctx->channels = uint8_t(v->channels);
  ctx->row_bytes = int32_t((width * v->bytes_per_pixel_times8 + 7) / 8);
  ctx->row_reader = v->reader;
  ctx->converter = v->converter;
  if (digit != 1 && digit != 4 && maxval != 255 && maxval != 65535 && maxval > 0) {
    ctx->decoder_state2 = reinterpret_cast<void*>(intptr_t{maxval});
    ctx->row_reader = v->raw                       ? ReadScaledPlainRow
                      : v->reader == ReadAscii8Row ? ReadScaledAscii8Row
                                                   : ReadScaledAscii16Row;
  }
  SetDescription(ctx, "P%cM-%d%c", v->letter, v->bits, v->raw ? 'r' : 'a');
  return 0;
}

}  // namespace ImageFileIO
