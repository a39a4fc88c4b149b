// PNG reader on libpng. libpng reports errors by longjmp to the point recorded in its jump buffer:
// every group of libpng calls records its own point, and no object with a destructor lives in a
// function that records one.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

struct PngState {
  png_structp png;
  png_infop info;
  // Interlaced files are decoded whole at open; rows are then served from here.
  uint8_t* image;
  int32_t next_row;
  bool failed;  // a libpng error left the read structure unusable
};

// libpng read callback: copies from the context's input buffer, refilling it as needed.
void ReadData(png_structp png, png_bytep out, size_t length) {
  ImageFileContext* ctx = static_cast<ImageFileContext*>(png_get_io_ptr(png));
  while (length > 0) {
    if (!Peek(ctx, 1)) png_error(png, "unexpected end of PNG data");
    size_t available = size_t(ctx->fill_end - ctx->read_pos);
    size_t n = available < length ? available : length;
    std::memcpy(out, ctx->buffer + ctx->read_pos, n);
    ctx->read_pos += int32_t(n);
    out += n;
    length -= n;
  }
}

int32_t ClosePng(ImageFileContext* ctx) {
  PngState* state = static_cast<PngState*>(ctx->decoder_state);
  if (!state) return 0;
  int32_t result = 0;
  if (setjmp(png_jmpbuf(state->png))) {
    std::fputs("error in png_destroy_read_struct\n", stderr);
    result = -29;
  } else {
    png_destroy_read_struct(&state->png, &state->info, nullptr);
  }
  std::free(state->image);
  std::free(state);
  ctx->decoder_state = nullptr;
  ctx->decoder_state2 = nullptr;
  return result;
}

const uint8_t* ReadPngRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  PngState* state = static_cast<PngState*>(ctx->decoder_state);
  if (state->image) {
    if (state->next_row >= ctx->height) return nullptr;
    return state->image + int64_t(state->next_row++) * count;
  }
  if (state->failed) return nullptr;
  if (setjmp(png_jmpbuf(state->png))) {
    state->failed = true;
    return nullptr;
  }
  png_read_row(state->png, scratch, nullptr);
  return scratch;
}

// The libpng calls of the open. Returns 0 or -29 (not yet printed).
int32_t OpenGroup(ImageFileContext* ctx, PngState* state) {
  png_structp png = state->png;
  png_infop info = state->info;
  if (setjmp(png_jmpbuf(png))) {
    state->failed = true;
    return -29;
  }
  png_set_read_fn(png, ctx, ReadData);
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  const bool wide = depth == 16;
  switch (colour) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_strip_alpha(png);
      [[fallthrough]];
    case PNG_COLOR_TYPE_GRAY:
      if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
      ctx->channels = 1;
      ctx->bits_per_pixel = uint8_t(depth);
      ctx->row_bytes = int32_t(wide ? 2 * width : width);
      ctx->converter = wide ? ConvertGray16First : ConvertGray8;
      break;
    case PNG_COLOR_TYPE_RGB:
      ctx->channels = 3;
      ctx->bits_per_pixel = uint8_t(3 * depth);
      ctx->row_bytes = int32_t(wide ? 6 * width : 3 * width);
      ctx->converter = wide ? ConvertRGB48First : ConvertRGB24;
      break;
    case PNG_COLOR_TYPE_PALETTE:
      png_set_palette_to_rgb(png);
      png_set_strip_alpha(png);
      ctx->channels = 3;
      ctx->bits_per_pixel = uint8_t(depth);
      ctx->row_bytes = int32_t(3 * width);
      ctx->converter = ConvertRGB24;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      ctx->channels = 4;
      ctx->bits_per_pixel = uint8_t(4 * depth);
      ctx->row_bytes = int32_t(wide ? 8 * width : 4 * width);
      ctx->converter = wide ? ConvertRGBA64First : ConvertRGBA32;
      break;
    default:
      return -29;
  }
  if (!ImageSizeFits(width, height, wide ? 8 : 4)) return -29;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->orientation = 1;
  const int passes = interlace != PNG_INTERLACE_NONE ? png_set_interlace_handling(png) : 1;
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(ctx->row_bytes)) return -29;
  if (passes > 1) {
    state->image = static_cast<uint8_t*>(std::calloc(size_t(height), size_t(ctx->row_bytes)));
    if (!state->image) return -29;
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, state->image + size_t(y) * size_t(ctx->row_bytes), nullptr);
      }
    }
  }
  return 0;
}

}  // namespace

int32_t OpenPNG(ImageFileContext* ctx) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return int32_t(ReportImageError(-29));
  png_infop info = png_create_info_struct(png);
  PngState* state = static_cast<PngState*>(std::calloc(1, sizeof(PngState)));
  if (!info || !state) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    std::free(state);
    return int32_t(ReportImageError(-29));
  }
  state->png = png;
  state->info = info;
  ctx->decoder_state = state;
  ctx->decoder_state2 = info;
  ctx->close_hook = ClosePng;
  ctx->row_reader = ReadPngRow;
  const int32_t result = OpenGroup(ctx, state);
  if (result != 0) return int32_t(ReportImageError(result));
  SetDescription(ctx, "PNG-%d", int(ctx->bits_per_pixel));
  return 0;
}

}  // namespace ImageFileIO
