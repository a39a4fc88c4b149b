#include "image/gif_reader.h"

#include <cstring>
#include <new>
#include <vector>

#include "foundation/runtime/notify.h"
#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxRootBits = 11;  // a larger root cannot leave room for its own codes

struct GifState {
  int code_size = 0;
  int root_size = 0;
  uint32_t bit_buffer = 0;
  int bit_count = 0;
  int block_bytes_left = 0;  // unread bytes of the current data sub-block
  bool data_ended = false;   // the zero-length block was met
  int previous_code = 0;
  int first_byte = 0;
  bool first_code = false;  // the next code follows a clear code
  int next_free = 0;
  int row = -1;  // -1: not interlaced; otherwise the next row
  uint16_t prefix[kMaxCodes] = {};
  uint8_t suffix[kMaxCodes] = {};
  uint8_t stack[kMaxCodes + 1] = {};
  int stack_size = 0;
  int32_t width = 0;
  std::vector<uint8_t> image;  // one row, or the even rows of an interlaced image
};

// Next byte of the image data, crossing sub-blocks: the byte, -2 at the zero-length block,
// -1 when the input ends.
int NextDataByte(ImageFileContext* ctx, GifState* s) {
  if (s->data_ended) return -2;
  while (s->block_bytes_left == 0) {
    const uint8_t* p = Peek(ctx, 1);
    if (!p) return -1;
    int size = p[0];
    if (size == 0) {
      ++ctx->read_pos;
      s->data_ended = true;
      return -2;
    }
    if (!Peek(ctx, size + 1)) return -1;  // the size byte and the whole sub-block
    ++ctx->read_pos;
    s->block_bytes_left = size;
  }
  --s->block_bytes_left;
  return ctx->buffer[ctx->read_pos++];
}

void ResetTable(GifState* s) {
  const int clear = 1 << s->root_size;
  s->code_size = s->root_size + 1;
  s->next_free = clear + 2;
}

bool ReadImageRows(uint8_t* buffer, ImageFileContext* ctx, int32_t width, int first, int step,
                   int height) {
  for (int r = first; r < height; r += step)
    if (DecodeGIFLZW(buffer + int64_t{r / 2} * width, ctx, width) != 0) return false;
  return true;
}

}  // namespace

int32_t DecodeGIFLZW(uint8_t* destination, ImageFileContext* ctx, int32_t count) {
  auto* s = static_cast<GifState*>(ctx->decoder_state);
  if (!s) return -1;
  const int clear = 1 << s->root_size;
  const int end = clear + 1;
  int32_t delivered = 0;
  for (;;) {
    while (s->stack_size > 0 && delivered < count)
      destination[delivered++] = s->stack[--s->stack_size];
    if (delivered == count) return 0;

    while (s->bit_count < s->code_size) {
      // Data that end before the request is met leave rows without pixels: a failure, so the
      // frame is not taken for a picture.
      int byte = NextDataByte(ctx, s);
      if (byte < 0) return -1;
      s->bit_buffer |= uint32_t(byte) << s->bit_count;
      s->bit_count += 8;
    }
    const int code = int(s->bit_buffer & ((1u << s->code_size) - 1));
    if (code == end) {
      Notify(2, "Exit! n=%li", long(count - delivered));
      return -1;
    }
    s->bit_buffer >>= s->code_size;
    s->bit_count -= s->code_size;
    if (code == clear) {
      ResetTable(s);
      s->first_code = true;
      continue;
    }
    if (s->first_code) {
      s->first_code = false;
      destination[delivered++] = uint8_t(code);
      s->previous_code = code;
      s->first_byte = code & 0xFF;
      continue;
    }
    int walk = code;
    if (code >= s->next_free) {
      // A code defined by itself: the previous string plus its own first byte.
      s->stack[s->stack_size++] = uint8_t(s->first_byte);
      walk = s->previous_code;
    }
    // Damaged data can chain entries into a loop: no string is longer than the table.
    int steps = 0;
    while (walk >= clear) {
      if (++steps >= kMaxCodes || s->stack_size >= kMaxCodes) return -1;
      s->stack[s->stack_size++] = s->suffix[walk];
      walk = s->prefix[walk];
    }
    s->stack[s->stack_size++] = uint8_t(walk);
    if (s->next_free < (1 << s->code_size)) {
      s->prefix[s->next_free] = uint16_t(s->previous_code);
      s->suffix[s->next_free] = uint8_t(walk);
      ++s->next_free;
    }
    if (s->next_free >= (1 << s->code_size) && s->code_size < 12) ++s->code_size;
    s->previous_code = code;
    s->first_byte = walk;
  }
}

const uint8_t* ReadGIFRow(uint8_t* destination, ImageFileContext* ctx, int32_t row_bytes) {
  auto* s = static_cast<GifState*>(ctx->decoder_state);
  if (!s) return nullptr;
  const int32_t width = row_bytes / 4;
  uint8_t* image = s->image.data();
  const uint8_t* indices;
  if (s->row < 0) {
    if (DecodeGIFLZW(image, ctx, width) != 0) return nullptr;
    indices = image;
  } else {
    const int r = s->row;
    if (r == 0) {
      // Passes 1 to 3 hold the even rows: rows 0, 8, ... then 4, 12, ... then 2, 6, ...
      if (!ReadImageRows(image, ctx, width, 0, 8, ctx->height) ||
          !ReadImageRows(image, ctx, width, 4, 8, ctx->height) ||
          !ReadImageRows(image, ctx, width, 2, 4, ctx->height))
        return nullptr;
    }
    if (r % 2 == 0) {
      indices = image + int64_t{r / 2} * width;
    } else {
      // Pass 4 stores the odd rows in order; buffer row 0 has been handed out already.
      if (DecodeGIFLZW(image, ctx, width) != 0) return nullptr;
      indices = image;
    }
  }
  auto* pixels = reinterpret_cast<uint32_t*>(destination);
  for (int32_t i = 0; i < width; ++i) pixels[i] = ctx->palette[indices[i]];
  if (s->row >= 0) ++s->row;
  return destination;
}

int32_t CloseGIF(ImageFileContext* ctx) {
  auto* s = static_cast<GifState*>(ctx->decoder_state);
  if (!s) return 0;
  // Skip to the zero-length block, so the stream stands after the image data.
  if (!s->data_ended && SkipBytes(ctx, s->block_bytes_left)) {
    for (;;) {
      const uint8_t* p = Peek(ctx, 1);
      if (!p) break;
      int size = p[0];
      ++ctx->read_pos;
      if (size == 0 || !SkipBytes(ctx, size)) break;
    }
  }
  delete s;
  ctx->decoder_state = nullptr;
  return 0;
}

int32_t OpenGIF(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, 6);
  if (!p) return int32_t(ReportImageError(-53));
  const char version = char(p[4]);
  ctx->read_pos += 6;

  p = Peek(ctx, 7);
  if (!p) return int32_t(ReportImageError(-53));
  const uint8_t screen_flags = p[4];
  ctx->read_pos += 7;
  long colours = 0;
  if (screen_flags & 0x80) {
    const int entries = 2 << (screen_flags & 7);
    p = Peek(ctx, 3 * entries);
    if (!p) return int32_t(ReportImageError(-55));
    for (int i = 0; i < entries; ++i)
      ctx->palette[i] = uint32_t(p[3 * i]) << 16 | uint32_t(p[3 * i + 1]) << 8 | p[3 * i + 2];
    ctx->read_pos += 3 * entries;
    colours = entries;
  }

  for (;;) {
    p = Peek(ctx, 2);
    if (!p) return int32_t(ReportImageError(-56));
    const uint8_t block = p[0];
    ++ctx->read_pos;
    if (block == ';') return int32_t(ReportImageError(-57));
    if (block != '!') break;  // anything else is taken as the image separator
    ++ctx->read_pos;          // the extension's label
    for (;;) {
      p = Peek(ctx, 1);
      if (!p) return int32_t(ReportImageError(-58));
      const int size = p[0];
      ++ctx->read_pos;
      if (size == 0) break;
      if (!SkipBytes(ctx, size)) return int32_t(ReportImageError(-58));
    }
  }

  p = Peek(ctx, 9);
  if (!p) return int32_t(ReportImageError(-60));
  const int32_t width = p[4] | p[5] << 8;
  const int32_t height = p[6] | p[7] << 8;
  const uint8_t flags = p[8];
  ctx->read_pos += 9;
  if (flags & 0x80) {
    const int entries = 2 << (flags & 7);
    p = Peek(ctx, 3 * entries);
    if (!p) return int32_t(ReportImageError(-61));
    for (int i = 0; i < entries; ++i)
      ctx->palette[i] = uint32_t(p[3 * i]) << 16 | uint32_t(p[3 * i + 1]) << 8 | p[3 * i + 2];
    ctx->read_pos += 3 * entries;
    colours = entries;
  }
  // The interlace buffer holds width x (height + 1) / 2 bytes: keep it within the library's sizes.
  if (CheckImageSize(width, height, 4, -54) != 0) return -54;

  ctx->width = width;
  ctx->height = height;
  ctx->bits_per_pixel = 8;
  ctx->channels = 3;
  ctx->row_bytes = 4 * width;
  const bool interlaced = flags & 0x40;

  p = Peek(ctx, 1);
  if (!p) return int32_t(ReportImageError(-62));
  const int root_size = p[0];
  ctx->read_pos += 1;
  if (root_size > kMaxRootBits) return int32_t(ReportImageError(-59));

  auto* s = new (std::nothrow) GifState;
  if (!s) return int32_t(ReportImageError(-54));
  s->width = width;
  try {
    s->image.assign(interlaced ? size_t(width) * size_t((height + 1) / 2) : size_t(width), 0);
  } catch (...) {
    delete s;
    return int32_t(ReportImageError(-54));
  }
  s->root_size = root_size;
  ResetTable(s);
  s->row = interlaced ? 0 : -1;
  for (int i = 0; i < (1 << root_size); ++i) {
    s->prefix[i] = uint16_t(i);
    s->suffix[i] = 0;
  }
  ctx->decoder_state = s;
  ctx->close_hook = CloseGIF;
  ctx->row_reader = ReadGIFRow;
  ctx->converter = ConvertIdentity;
  SetDescription(ctx, "GIF8%ca-%ld", version, colours);
  return 0;
}

}  // namespace ImageFileIO
