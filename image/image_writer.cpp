// Image writers: PNM (P5/P6), TGA, run-length TGA and PNG. Output is assembled in the context's
// buffer (fill_end = bytes waiting) and leaves it in blocks of exactly kWriteBlock bytes, except
// for the final write. The first write failure is kept in write_error: later rows are refused with
// it and Close returns it.
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/image_file_io.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kWriteFailed = -1;
constexpr int32_t kPngWriteError = -63;

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t done = ::write(fd, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    n -= size_t(done);
  }
  return true;
}

int32_t Fail(ImageFileContext* ctx, int32_t code) {
  if (ctx->write_error == 0) ctx->write_error = code;
  return ctx->write_error;
}

// Writes one block when a block's worth waits. false after a failed write (latched).
bool FlushBlock(ImageFileContext* ctx) {
  if (ctx->write_error) return false;
  if (ctx->fill_end < kWriteBlock) return true;
  if (!WriteAll(ctx->descriptor, ctx->buffer, kWriteBlock)) {
    Fail(ctx, kWriteFailed);
    return false;
  }
  ctx->fill_end -= kWriteBlock;
  std::memmove(ctx->buffer, ctx->buffer + kWriteBlock, size_t(ctx->fill_end));
  return true;
}

// Writes everything that waits.
int32_t FlushAll(ImageFileContext* ctx) {
  if (ctx->write_error) return ctx->write_error;
  if (ctx->fill_end > 0 && !WriteAll(ctx->descriptor, ctx->buffer, size_t(ctx->fill_end))) {
    return Fail(ctx, kWriteFailed);
  }
  ctx->fill_end = 0;
  return 0;
}

int32_t FinishBuffered(ImageFileContext* ctx) {
  return FlushAll(ctx);
}

// Room for a header of n bytes at the end of the waiting bytes.
uint8_t* ReserveHeader(ImageFileContext* ctx, int32_t n) {
  if (!FlushBlock(ctx) || ctx->fill_end + n > kBufferSize) return nullptr;
  uint8_t* at = ctx->buffer + ctx->fill_end;
  ctx->fill_end += n;
  return at;
}

// --- run-length TGA ---------------------------------------------------------------------------

template <typename T>
int32_t WriteRunLengthRow(const T* v, ImageFileContext* ctx, int value_bytes) {
  const int32_t w = ctx->width;
  int32_t i = 0;
  while (i < w) {
    // A stretch of at most about 640 bytes; a packet adds at most 1 + 128 x 3.
    if (!FlushBlock(ctx)) return ctx->write_error;
    if (kBufferSize - ctx->fill_end < 1024) return Fail(ctx, kWriteFailed);
    uint8_t* out = ctx->buffer + ctx->fill_end;
    uint8_t* const start = out;
    while (i < w && out - start < 640) {
      const int32_t m = w - i < 128 ? w - i : 128;
      int32_t k = 1;
      while (k < m && v[i + k] == v[i]) ++k;
      int32_t count;
      bool run = k >= 2;
      if (run) {
        count = k;
      } else {
        k = 1;
        while (k < m && v[i + k] != v[i + k - 1]) ++k;
        if (k < m) {
          count = k - 1;  // the equal pair that stopped it starts the next run
        } else {
          count = i + m < w ? m - 1 : m;
        }
      }
      *out++ = uint8_t(run ? 0x80 + (count - 1) : count - 1);
      for (int32_t j = 0; j < (run ? 1 : count); ++j) {
        const uint32_t value = uint32_t(v[i + j]);
        *out++ = uint8_t(value);
        if (value_bytes == 3) {
          *out++ = uint8_t(value >> 8);
          *out++ = uint8_t(value >> 16);
        }
      }
      i += count;
    }
    ctx->fill_end += int32_t(out - start);
  }
  return 0;
}

int32_t WriteRunLengthGreyRow(const uint8_t* row, ImageFileContext* ctx) {
  return WriteRunLengthRow(row, ctx, 1);
}

int32_t WriteRunLengthColourRow(const uint8_t* row, ImageFileContext* ctx) {
  return WriteRunLengthRow(reinterpret_cast<const uint32_t*>(row), ctx, 3);
}

// --- PNG --------------------------------------------------------------------------------------
// libpng reports errors by longjmp to the point recorded in its jump buffer: each group of libpng
// calls records its own, and no object with a destructor lives in a function that records one.

struct PngWriter {
  png_structp png;
  png_infop info;
  bool failed;
};

void PngWriteData(png_structp png, png_bytep data, size_t length) {
  ImageFileContext* ctx = static_cast<ImageFileContext*>(png_get_io_ptr(png));
  while (length > 0) {
    if (!FlushBlock(ctx)) png_error(png, "write failed");
    size_t room = size_t(kBufferSize - ctx->fill_end);
    size_t n = room < length ? room : length;
    std::memcpy(ctx->buffer + ctx->fill_end, data, n);
    ctx->fill_end += int32_t(n);
    data += n;
    length -= n;
  }
}

void PngFlush(png_structp png) {
  ImageFileContext* ctx = static_cast<ImageFileContext*>(png_get_io_ptr(png));
  if (FlushAll(ctx) != 0) png_error(png, "write failed");
}

int32_t WritePngRow(const uint8_t* row, ImageFileContext* ctx) {
  PngWriter* w = static_cast<PngWriter*>(ctx->decoder_state);
  if (w->failed) return Fail(ctx, kPngWriteError);
  if (setjmp(png_jmpbuf(w->png))) {
    w->failed = true;
    return Fail(ctx, kPngWriteError);
  }
  png_write_row(w->png, row);
  return 0;
}

// png_write_end; false after a libpng error.
bool EndPng(PngWriter* w) {
  if (setjmp(png_jmpbuf(w->png))) return false;
  png_write_end(w->png, w->info);
  return true;
}

int32_t FinishPng(ImageFileContext* ctx) {
  PngWriter* w = static_cast<PngWriter*>(ctx->decoder_state);
  if (w) {
    if (!w->failed && !EndPng(w)) Fail(ctx, kPngWriteError);
    png_destroy_write_struct(&w->png, &w->info);
    std::free(w);
    ctx->decoder_state = nullptr;
    ctx->decoder_state2 = nullptr;
  }
  return FlushAll(ctx);
}

bool StartPng(ImageFileContext* ctx, PngWriter* w, int depth) {
  if (setjmp(png_jmpbuf(w->png))) return false;
  png_set_write_fn(w->png, ctx, PngWriteData, PngFlush);
  png_set_compression_level(w->png, 5);
  png_set_IHDR(w->png, w->info, png_uint_32(ctx->width), png_uint_32(ctx->height), depth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w->png, w->info);
  return true;
}

int32_t OpenPngWriter(ImageFileContext* ctx) {
  const int depth = ctx->bits_per_pixel == 24 ? 8 : 16;
  ctx->write_converter = depth == 8 ? WriteRGB24 : WriteRGB48;
  ctx->row_bytes = ctx->width * (depth == 8 ? 3 : 6);
  ctx->row_writer = WritePngRow;
  PngWriter* w = static_cast<PngWriter*>(std::calloc(1, sizeof(PngWriter)));
  if (w) {
    w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    w->info = w->png ? png_create_info_struct(w->png) : nullptr;
  }
  if (!w || !w->info || !StartPng(ctx, w, depth)) {
    if (w) png_destroy_write_struct(&w->png, &w->info);
    std::free(w);
    return int32_t(ReportImageError(kPngWriteError));
  }
  ctx->decoder_state = w;
  ctx->decoder_state2 = w->info;
  ctx->close_hook = FinishPng;
  return 0;
}

}  // namespace

int32_t OpenWrite(ImageFileContext* ctx, const char* path, int32_t type, int32_t width,
                  int32_t height, int32_t bits) {
  int descriptor;
  int32_t waiting = 0;
  if (!path) {
    // Continue the stream: finish the previous image (PNG trailer, waiting bytes) first.
    if (ctx->close_hook) ctx->close_hook(ctx);
    descriptor = ctx->descriptor;
    waiting = ctx->write_error ? 0 : ctx->fill_end;
  } else if (std::strcmp(path, "-") == 0) {
    descriptor = 1;
  } else {
    descriptor = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) return -1;
  }
  static_cast<ImageFileHead&>(*ctx) = ImageFileHead{};
  ctx->descriptor = descriptor;
  ctx->fill_end = waiting;
  ctx->read_pos = 0;
  ctx->width = width;
  ctx->height = height;
  ctx->bits_per_pixel = uint8_t(bits);
  ctx->format_id = uint32_t(type);
  ctx->close_hook = FinishBuffered;

  if (type != kWritePNM && type != kWriteTGA && type != kWritePNG && type != kWriteTGARLE) {
    return -2;
  }
  const bool tga = type == kWriteTGA || type == kWriteTGARLE;
  bool bits_ok;
  switch (type) {
    case kWritePNM:
      bits_ok = bits == 8 || bits == 16 || bits == 24 || bits == 48;
      break;
    case kWritePNG:
      bits_ok = bits == 24 || bits == 48;
      break;
    default:
      bits_ok = bits == 8 || bits == 24;
      break;
  }
  // TGA stores its sizes in 16 bits.
  if (!bits_ok || !ImageSizeFits(width, height, 8) || (tga && (width > 65535 || height > 65535))) {
    return -1;
  }

  if (type == kWritePNG) return OpenPngWriter(ctx);

  if (type == kWritePNM) {
    uint8_t* header = ReserveHeader(ctx, 32);
    if (!header) return Fail(ctx, kWriteFailed);
    char text[33];
    std::snprintf(text, sizeof text, "P%c\n%11ld%11ld\n%5d\n", bits <= 16 ? '5' : '6', long(width),
                  long(height), bits == 8 || bits == 24 ? 255 : 65535);
    std::memcpy(header, text, 32);
    static constexpr WriteConverter kConverters[] = {WriteGray8, WriteGray16, WriteRGB24,
                                                     WriteRGB48};
    ctx->write_converter = kConverters[bits == 8 ? 0 : bits == 16 ? 1 : bits == 24 ? 2 : 3];
    ctx->row_bytes = width * (bits / 8);
    return 0;
  }

  const bool grey = bits <= 8;
  const int image_type = (type == kWriteTGARLE ? 8 : 0) + (grey ? 3 : 2);
  uint8_t* h = ReserveHeader(ctx, 18);
  if (!h) return Fail(ctx, kWriteFailed);
  std::memset(h, 0, 18);
  h[2] = uint8_t(image_type);
  h[12] = uint8_t(width);
  h[13] = uint8_t(width >> 8);
  h[14] = uint8_t(height);
  h[15] = uint8_t(height >> 8);
  h[16] = uint8_t(bits);
  h[17] = 0x20;  // top-left origin
  switch (image_type) {
    case 2:
      ctx->write_converter = WriteBGR24;
      ctx->row_bytes = 3 * width;
      break;
    case 3:
      ctx->write_converter = WriteGray8;
      ctx->row_bytes = width;
      break;
    case 10:
      ctx->row_writer = WriteRunLengthColourRow;
      ctx->row_bytes = 4 * width;
      break;
    default:  // 11
      ctx->write_converter = WriteGray8;
      ctx->row_writer = WriteRunLengthGreyRow;
      ctx->row_bytes = width;
      break;
  }
  return 0;
}

int32_t WriteRow(const uint32_t* pixels, ImageFileContext* ctx) {
  if (ctx->write_error) return ctx->write_error;
  if (ctx->row_writer) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(pixels);
    if (ctx->write_converter) {
      // The converted row may be longer than the pixels (48-bit rows).
      const size_t bytes =
          size_t(ctx->row_bytes > 4 * ctx->width ? ctx->row_bytes : 4 * ctx->width);
      if (ctx->scratch_size < bytes) {
        std::free(ctx->scratch);
        const size_t size = (bytes + 15) & ~size_t(15);
        ctx->scratch = static_cast<uint8_t*>(std::aligned_alloc(16, size));
        ctx->scratch_size = ctx->scratch ? size : 0;
        if (!ctx->scratch) return Fail(ctx, kWriteFailed);
      }
      ctx->write_converter(ctx->scratch, pixels, ctx->width);
      row = ctx->scratch;
    }
    return ctx->row_writer(row, ctx);
  }
  if (!ctx->write_converter) return Fail(ctx, kWriteFailed);
  const int32_t bytes_per_pixel = ctx->bits_per_pixel / 8;
  int32_t left = ctx->width;
  while (left > 0) {
    if (!FlushBlock(ctx)) return ctx->write_error;
    int32_t n = left;
    if (ctx->fill_end + int64_t(n) * bytes_per_pixel > kBufferSize) {
      n = ((kBufferSize - ctx->fill_end) / bytes_per_pixel) & ~7;
    }
    ctx->write_converter(ctx->buffer + ctx->fill_end, pixels, n);
    ctx->fill_end += n * bytes_per_pixel;
    pixels += n;
    left -= n;
  }
  return 0;
}

}  // namespace ImageFileIO
