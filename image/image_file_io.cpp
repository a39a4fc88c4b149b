#include "image/image_file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ImageFileIO {
namespace {

struct PrefixEntry {
  const char* name;
  int32_t format_id;
};

// Lower case only, matched at the start of the path exactly up to the first colon.
constexpr PrefixEntry kPrefixes[] = {
    {"pbm", kFormatPNM},   {"pgm", kFormatPNM},     {"ppm", kFormatPNM},       {"pnm", kFormatPNM},
    {"tga", kFormatTGA},   {"bmp", kFormatBMP},     {"jpg", kFormatJPEG},      {"gif", kFormatGIF},
    {"dpx", kFormatDPX},   {"cin", kFormatCineon},  {"yuv", kFormatYUV4MPEG2}, {"tif", kFormatTIFF},
    {"cyuv", kFormatCYUV}, {"paldv", kFormatPALDV}, {"ntscdv", kFormatNTSCDV},
};

bool IsBlank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool PnmHeaderLooksValid(const uint8_t* b) {
  bool in_comment = false, in_number = false;
  int numbers = 0;
  for (int i = 2; i < 32; ++i) {
    uint8_t c = b[i];
    if (in_comment) {
      if (c == '\r' || c == '\n') in_comment = false;
    } else if (IsBlank(c)) {
      if (in_number) {
        in_number = false;
        if (++numbers == 2) return true;
      }
    } else if (c == '#') {
      in_comment = true;
    } else if (c >= '0' && c <= '9') {
      in_number = true;
    } else {
      return false;
    }
  }
  return true;
}

// Parsed form of an OpenRead path.
struct ParsedPath {
  int32_t prefix_id = 0;  // 0: none
  bool has_frame = false;
  bool has_offset = false;
  uint64_t number = 0;
  size_t name_begin = 0;
  size_t name_end = 0;
};

ParsedPath ParsePath(const char* path) {
  ParsedPath p;
  const size_t len = std::strlen(path);
  p.name_end = len;
  const char* first_colon = std::strchr(path, ':');
  size_t prefix_colon = 0;
  if (first_colon) {
    size_t plen = size_t(first_colon - path);
    for (const PrefixEntry& e : kPrefixes) {
      if (std::strlen(e.name) == plen && std::memcmp(path, e.name, plen) == 0) {
        p.prefix_id = e.format_id;
        prefix_colon = plen;
        p.name_begin = plen + 1;
        break;
      }
    }
  }
  const char* last_colon = std::strrchr(path, ':');
  if (last_colon && (p.prefix_id == 0 || size_t(last_colon - path) > prefix_colon)) {
    const char* s = last_colon + 1;
    bool offset = false;
    if (*s == '@') {
      offset = true;
      ++s;
    }
    uint64_t value = 0;
    const char* d = s;
    while (*d >= '0' && *d <= '9') value = value * 10 + uint64_t(*d++ - '0');
    if (*d == '\0') {
      p.has_offset = offset;
      p.has_frame = !offset;
      p.number = value;
      p.name_end = size_t(last_colon - path);
    }
  }
  return p;
}

void ResetBuffer(ImageFileContext* ctx) {
  ctx->read_pos = kLookBehind;
  ctx->fill_end = kLookBehind;
}

// Shared part of Peek and PeekUpTo: compacts and reads until n bytes are available. Returns false
// when the input ended (at_end set) before that.
bool Fill(ImageFileContext* ctx, int32_t n) {
  if (ctx->read_pos > 33280 || ctx->read_pos + n > kBufferSize) {
    int32_t start = ctx->read_pos - kLookBehind;
    if (start > ctx->fill_end) {
      ctx->fill_end = kLookBehind;
      ctx->read_pos = kLookBehind;
    } else {
      int32_t keep = ctx->fill_end - start;
      std::memmove(ctx->buffer, ctx->buffer + start, size_t(keep));
      ctx->fill_end = keep;
      ctx->read_pos = kLookBehind;
    }
  }
  while (ctx->fill_end - ctx->read_pos < n) {
    int64_t room = kBufferSize - ctx->fill_end;
    if (ctx->read_limit > 0) {
      int64_t left = ctx->read_limit - ctx->file_pos;
      if (left < room) room = left;
    }
    if (room <= 0) {
      ctx->at_end = 1;
      return false;
    }
    ssize_t got;
    do {
      got = ::read(ctx->descriptor, ctx->buffer + ctx->fill_end, size_t(room));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      ctx->at_end = 1;
      return false;
    }
    ctx->fill_end += int32_t(got);
    ctx->file_pos += got;
  }
  return true;
}

uint8_t* Scratch(ImageFileContext* ctx, size_t bytes) {
  if (ctx->scratch_size < bytes) {
    std::free(ctx->scratch);
    size_t size = (bytes + 15) & ~size_t(15);
    ctx->scratch = static_cast<uint8_t*>(std::aligned_alloc(16, size));
    ctx->scratch_size = ctx->scratch ? size : 0;
  }
  return ctx->scratch;
}

}  // namespace

bool ReadBytes(ImageFileContext* ctx, uint8_t* dst, int64_t count) {
  while (count > 0) {
    int32_t piece = count > 65536 ? 65536 : int32_t(count);
    const uint8_t* p = Peek(ctx, piece);
    if (!p) return false;
    std::memcpy(dst, p, size_t(piece));
    ctx->read_pos += piece;
    dst += piece;
    count -= piece;
  }
  return true;
}

ImageFileContext::~ImageFileContext() {
  std::free(scratch);
}

int32_t ProbeFormat(const uint8_t* b) {
  // The header block of a DIF sequence; its low three bits of bytes 4 to 7 are the track and
  // audio application ids, which writers set differently (1 for 4:1:1 NTSC), so they are not
  // tested.
  auto dv = [&](uint8_t b3) {
    return (b[0] & 0xF0) == 0x10 && b[1] == 0x07 && b[2] == 0x00 && b[3] == b3 &&
           (b[4] & 0x68) == 0x68 && (b[5] & 0xF8) == 0x78 && (b[6] & 0xF8) == 0x78 &&
           (b[7] & 0xF8) == 0x78 && b[8] == 0xFF;
  };
  if (dv(0xBF)) return kFormatPALDV;
  if (dv(0x3F)) return kFormatNTSCDV;
  if (std::memcmp(b, "YUV4MPEG2", 9) == 0) return kFormatYUV4MPEG2;
  if (std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) return kFormatPNG;
  if (std::memcmp(b, "GIF8", 4) == 0 &&
      (std::memcmp(b + 4, "7a", 2) == 0 || std::memcmp(b + 4, "9a", 2) == 0))
    return kFormatGIF;
  if (b[0] == 0x80 && b[1] == 0x2A && b[2] == 0x5F && b[3] == 0xD7) return kFormatCineon;
  if (std::memcmp(b, "SDPX", 4) == 0 || std::memcmp(b, "XPDS", 4) == 0) return kFormatDPX;
  if ((std::memcmp(b, "lcmp", 4) == 0 && std::memcmp(b + 4, "yuv\n", 4) == 0) ||
      (std::memcmp(b, "pmcl", 4) == 0 && std::memcmp(b + 4, "\nvuy", 4) == 0))
    return kFormatCYUV;
  if (std::memcmp(b, "VIEW", 4) == 0 || std::memcmp(b, "WEIV", 4) == 0) return kFormatPM;
  if (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0) return kFormatTIFF;
  if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF && b[3] >= 0xC0) return kFormatJPEG;
  if (b[0] == 'P' && b[1] >= '1' && b[1] <= '6' && PnmHeaderLooksValid(b)) return kFormatPNM;
  if (b[1] < 2 && ((b[2] >= 1 && b[2] <= 3) || (b[2] >= 9 && b[2] <= 11)) &&
      (b[16] == 1 || b[16] == 8 || b[16] == 16 || b[16] == 24 || b[16] == 32))
    return kFormatTGA;
  if (b[0] == 'B' && b[1] == 'M' && b[15] == 0 && b[16] == 0 && b[17] == 0) return kFormatBMP;
  return -1;
}

const uint8_t* Peek(ImageFileContext* ctx, int32_t n) {
  if (ctx->fill_end - ctx->read_pos >= n) return ctx->buffer + ctx->read_pos;
  if (ctx->at_end || n > kMaxPeek || n < 0) return nullptr;
  if (!Fill(ctx, n)) return nullptr;
  return ctx->buffer + ctx->read_pos;
}

const uint8_t* PeekUpTo(ImageFileContext* ctx, int32_t n) {
  if (n > kMaxPeek) n = kMaxPeek;
  if (ctx->fill_end - ctx->read_pos >= n) return ctx->buffer + ctx->read_pos;
  if (ctx->at_end) {
    return ctx->read_pos - ctx->fill_end > 7 ? nullptr : ctx->buffer + ctx->read_pos;
  }
  if (Fill(ctx, n)) return ctx->buffer + ctx->read_pos;
  return ctx->fill_end - ctx->read_pos > 0 ? ctx->buffer + ctx->read_pos : nullptr;
}

int32_t SeekFrame(ImageFileContext* ctx, int64_t n) {
  if (ctx->frame_size == 0) return int32_t(ReportImageError(-78));
  int64_t offset;
  if (n < 0 || __builtin_mul_overflow(n, ctx->frame_size, &offset) ||
      __builtin_add_overflow(offset, ctx->first_frame_offset, &offset) ||
      ::lseek(ctx->descriptor, off_t(offset), SEEK_SET) != off_t(offset)) {
    return int32_t(ReportImageError(-79));
  }
  ctx->file_pos = offset;
  ctx->at_end = 0;
  ResetBuffer(ctx);
  return 0;
}

int32_t OpenRead(ImageFileContext* ctx, const char* path) {
  if (!path) {
    // Continue the stream: finish the previous image's decoder, keep the buffered input.
    if (ctx->close_hook) ctx->close_hook(ctx);
    ImageFileHead keep = *ctx;
    static_cast<ImageFileHead&>(*ctx) = ImageFileHead{};
    ctx->descriptor = keep.descriptor;
    ctx->at_end = keep.at_end;
    ctx->file_pos = keep.file_pos;
    ctx->read_limit = keep.read_limit;
    ctx->read_pos = keep.read_pos;
    ctx->fill_end = keep.fill_end;
    const uint8_t* head = Peek(ctx, 32);
    if (!head) return -3;
    int32_t id = ProbeFormat(head);
    if (id < 1 || id > 15 || id == kFormatNone) return -2;
    ctx->format_id = uint32_t(id);
    OpenRoutine open = FindOpenRoutine(id);
    if (!open) return -2;
    return open(ctx, nullptr);
  }

  static_cast<ImageFileHead&>(*ctx) = ImageFileHead{};
  ParsedPath parsed = ParsePath(path);
  // The file name between prefix and suffix; kept in a local copy for libraries that open by name.
  const size_t name_len = parsed.name_end - parsed.name_begin;
  char* name = static_cast<char*>(std::malloc(name_len + 1));
  if (!name) return -1;
  std::memcpy(name, path + parsed.name_begin, name_len);
  name[name_len] = '\0';

  int32_t result = 0;
  do {
    if (std::strcmp(name, "-") == 0) {
      ctx->descriptor = 0;
    } else {
      ctx->descriptor = ::open(name, O_RDONLY | O_CLOEXEC);
      if (ctx->descriptor < 0) {
        ctx->descriptor = -1;
        result = -1;
        break;
      }
    }
    if (parsed.has_offset && parsed.number != 0) {
      if (parsed.number > uint64_t(INT64_MAX) ||
          ::lseek(ctx->descriptor, off_t(parsed.number), SEEK_SET) != off_t(parsed.number)) {
        result = int32_t(ReportImageError(-79));
        break;
      }
      ctx->file_pos = int64_t(parsed.number);
    }
    int32_t id = parsed.prefix_id;
    if (id == 0) {
      const uint8_t* head = Peek(ctx, 32);
      if (!head) {
        result = -3;
        break;
      }
      id = ProbeFormat(head);
    }
    if (id < 1 || id > 15 || id == kFormatNone) {
      result = -2;
      break;
    }
    ctx->format_id = uint32_t(id);
    OpenRoutine open = FindOpenRoutine(id);
    if (!open) {
      result = -2;
      break;
    }
    result = open(ctx, name);
    if (result == 0 && parsed.has_frame && parsed.number != 0) {
      result = SeekFrame(ctx, int64_t(parsed.number & 0xFFFFFFFFu));
    }
  } while (false);
  std::free(name);
  return result;
}

int32_t ReadRow(uint32_t* dst, ImageFileContext* ctx) {
  const int64_t row_bytes = ctx->row_bytes;
  const int64_t dst_bytes = int64_t(ctx->width) * 4;
  uint8_t* scratch = nullptr;
  if (dst) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(dst);
    const int64_t misalign = int64_t(address % 4);
    if (row_bytes + misalign <= dst_bytes &&
        (address + dst_bytes - row_bytes - misalign) % 4 == 0) {
      scratch = reinterpret_cast<uint8_t*>(dst) + (dst_bytes - row_bytes - misalign);
    }
  }
  if (!scratch) scratch = Scratch(ctx, size_t(row_bytes > 0 ? row_bytes : 1));
  const uint8_t* raw =
      (scratch && ctx->row_reader) ? ctx->row_reader(scratch, ctx, ctx->row_bytes) : nullptr;
  if (!raw) return int32_t(ReportImageError(-22));
  if (dst && ctx->converter) ctx->converter(dst, raw, ctx->width);
  return 0;
}

int32_t Close(ImageFileContext* ctx) {
  int32_t result = 0;
  if (ctx->close_hook) {
    result = ctx->close_hook(ctx);
    ctx->close_hook = nullptr;
  }
  if (ctx->write_error && result == 0) result = ctx->write_error;
  if (ctx->descriptor > 2) ::close(ctx->descriptor);
  ctx->descriptor = -1;
  std::free(ctx->scratch);
  ctx->scratch = nullptr;
  ctx->scratch_size = 0;
  return result;
}

bool ImageSizeFits(int64_t width, int64_t height, int64_t bytes_per_pixel) {
  const int64_t bpp = bytes_per_pixel > 4 ? bytes_per_pixel : 4;
  return width > 0 && height > 0 && width <= INT32_MAX / bpp && height <= INT32_MAX / 4 / width;
}

int32_t CheckImageSize(int64_t width, int64_t height, int64_t bytes_per_pixel, int32_t code) {
  return ImageSizeFits(width, height, bytes_per_pixel) ? 0 : int32_t(ReportImageError(code));
}

const uint8_t* ReadPlainRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  if (count < kMaxPeek + 1) {
    const uint8_t* p = Peek(ctx, count);
    if (!p) return nullptr;
    ctx->read_pos += count;
    return p;
  }
  return ReadBytes(ctx, scratch, count) ? scratch : nullptr;
}

const uint8_t* ReadSwappedRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  const uint8_t* p = ReadPlainRow(scratch, ctx, count);
  if (!p) return nullptr;
  SwapBytes32(count / 4, p, scratch);
  return scratch;
}

const uint8_t* ReadPaddedRow(uint8_t* scratch, ImageFileContext* ctx, int32_t count) {
  const int32_t padded = int32_t((int64_t(count) + 3) & ~int64_t(3));
  if (padded < kMaxPeek + 1) {
    const uint8_t* p = Peek(ctx, padded);
    if (!p) return nullptr;
    ctx->read_pos += padded;
    return p;
  }
  if (!ReadBytes(ctx, scratch, count)) return nullptr;
  return SkipBytes(ctx, padded - count) ? scratch : nullptr;
}

bool SkipBytes(ImageFileContext* ctx, int64_t n) {
  while (n > 0) {
    int32_t piece = n > 65536 ? 65536 : int32_t(n);
    if (!Peek(ctx, piece)) return false;
    ctx->read_pos += piece;
    n -= piece;
  }
  return true;
}

void SetDescription(ImageFileContext* ctx, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(ctx->description, sizeof ctx->description, fmt, args);
  va_end(args);
}

}  // namespace ImageFileIO
