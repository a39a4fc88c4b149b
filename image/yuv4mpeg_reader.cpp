// YUV4MPEG2 streams: a text header line, then frames of planar 8-bit samples, each behind a
// parameterless FRAME line.
#include <algorithm>
#include <cstring>

#include "image/image_file_io.h"
#include "image/plane_buffer_set.h"

namespace ImageFileIO {
namespace {

constexpr int32_t kTokenWindow = 256;
constexpr int32_t kFrameHeaderWindow = 64;

bool IsBlank(uint8_t c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(uint8_t c) {
  return c >= '0' && c <= '9';
}

// Parses decimal digits at p[*i], stopping at limit; saturates instead of overflowing.
int64_t ParseDigits(const uint8_t* p, int32_t* i, int32_t limit) {
  int64_t value = 0;
  while (*i < limit && IsDigit(p[*i])) {
    if (value < (int64_t{1} << 40)) value = value * 10 + (p[*i] - '0');
    ++*i;
  }
  return value;
}

struct ChromaTag {
  const char* word;
  uint8_t format;
  uint8_t flags;
  uint8_t channels;
};
// Tested in this order: "444" is a prefix of "444alpha".
constexpr ChromaTag kChromaTags[] = {
    {"mono", 1, 0, 1}, {"420jpeg", 2, 0x0C, 3}, {"420mpeg2", 2, 0x08, 3}, {"420paldv", 2, 0x10, 3},
    {"411", 3, 0, 3},  {"422", 4, 0, 3},        {"444alpha", 7, 0, 4},    {"444", 6, 0, 3},
};

const uint8_t* ReadYUV4MPEG2Row(uint8_t* /*scratch*/, ImageFileContext* ctx, int32_t /*count*/) {
  auto* set = static_cast<PlaneBufferSet*>(ctx->decoder_state);
  if (!set) return nullptr;
  if (ctx->run_value == 0) {
    if (set->frame_header_pending) {
      const int32_t header = ctx->run_count;  // the FRAME line's length
      if (!SkipBytes(ctx, header)) return nullptr;
    }
    for (const PlaneBufferSet::Plane& plane : set->plane) {
      if (!plane.data) continue;
      for (int32_t row = 0; row < plane.rows; ++row)
        if (!ReadBytes(ctx, plane.data + int64_t{row} * plane.stride, plane.width)) return nullptr;
    }
    set->frame_header_pending = true;
  }
  const int32_t y = ctx->run_value;
  const PlaneBufferSet::Plane& cb = set->plane[1];
  const PlaneBufferSet::Plane& cr = set->plane[2];
  const int flags = ctx->chroma_flags & 0x0F;
  switch (ctx->chroma_format) {
    case 2: {
      UpsampleChroma420(y, set->chroma_row[0], cb.data, cb.stride, cb.width, cb.rows, flags);
      // PAL DV siting: Cr lies one line below Cb.
      const int32_t cr_row = (ctx->chroma_flags & 0x10) ? y - 1 : y;
      UpsampleChroma420(cr_row, set->chroma_row[1], cr.data, cr.stride, cr.width, cr.rows, flags);
      set->rows.plane[1] = set->chroma_row[0];
      set->rows.plane[2] = set->chroma_row[1];
      break;
    }
    case 3:
      UpsampleChroma4(cb.width, cb.data + int64_t{y} * cb.stride, set->chroma_row[0]);
      UpsampleChroma4(cr.width, cr.data + int64_t{y} * cr.stride, set->chroma_row[1]);
      set->rows.plane[1] = set->chroma_row[0];
      set->rows.plane[2] = set->chroma_row[1];
      break;
    case 4:
      UpsampleChroma2(cb.data + int64_t{y} * cb.stride, cb.width, set->chroma_row[0], flags);
      UpsampleChroma2(cr.data + int64_t{y} * cr.stride, cr.width, set->chroma_row[1], flags);
      set->rows.plane[1] = set->chroma_row[0];
      set->rows.plane[2] = set->chroma_row[1];
      break;
    case 6:
    case 7:
      set->rows.plane[1] = cb.data + int64_t{y} * cb.stride;
      set->rows.plane[2] = cr.data + int64_t{y} * cr.stride;
      break;
    default:
      return nullptr;
  }
  set->rows.plane[0] = set->plane[0].data + int64_t{y} * set->plane[0].stride;
  ctx->run_value = y + 1 < ctx->height ? y + 1 : 0;
  return reinterpret_cast<const uint8_t*>(&set->rows);
}

}  // namespace

int32_t OpenYUV4MPEG2(ImageFileContext* ctx) {
  const uint8_t* p = Peek(ctx, 9);
  if (!p) return int32_t(ReportImageError(-100));
  if (std::memcmp(p, "YUV4MPEG2", 9) != 0) return int32_t(ReportImageError(-101));
  ctx->read_pos += 9;
  int64_t header_length = 9;
  int64_t width = -1, height = -1;
  int32_t chroma_format = 2, channels = 3, flags = 0;
  bool full_range = false;  // without an XCOLORRANGE comment the samples are studio range

  // Token by token up to the line feed. A short file is read as far as it goes (a whole frame
  // may be smaller than the token window).
  for (;;) {
    p = PeekUpTo(ctx, kTokenWindow);
    int32_t available = p ? std::min(ctx->fill_end - ctx->read_pos, kTokenWindow) : 0;
    if (available <= 0) return int32_t(ReportImageError(-102));
    int32_t i = 0;
    while (i < available && IsBlank(p[i])) ++i;
    if (i == available) {
      if (available < kTokenWindow) return int32_t(ReportImageError(-102));
      ctx->read_pos += i;  // a long run of blanks
      header_length += i;
      continue;
    }
    if (p[i] == '\n') {
      ctx->read_pos += i + 1;
      header_length += i + 1;
      break;
    }
    const uint8_t letter = p[i++];
    switch (letter) {
      case 'W':
        width = ParseDigits(p, &i, available);
        break;
      case 'H':
        height = ParseDigits(p, &i, available);
        break;
      case 'C': {
        const ChromaTag* found = nullptr;
        for (const ChromaTag& tag : kChromaTags) {
          size_t n = std::strlen(tag.word);
          if (i + int32_t(n) <= available && std::memcmp(p + i, tag.word, n) == 0) {
            found = &tag;
            i += int32_t(n);
            break;
          }
        }
        if (!found) return int32_t(ReportImageError(-105));
        chroma_format = found->format;
        channels = found->channels;
        flags = (flags & 0x03) | found->flags;
        break;
      }
      case 'I':
        if (i >= available) return int32_t(ReportImageError(-106));
        switch (p[i++]) {
          case 'b':
            flags += 1;
            break;
          case 't':
            flags += 2;
            break;
          case 'p':
          case '?':
            break;
          default:
            return int32_t(ReportImageError(-106));
        }
        break;
      case 'F':
      case 'A': {
        ParseDigits(p, &i, available);
        if (i >= available || p[i] != ':')
          return int32_t(ReportImageError(letter == 'F' ? -104 : -103));
        ++i;
        ParseDigits(p, &i, available);
        break;
      }
      case 'X': {
        int32_t start = i - 1;
        while (i < available && !IsBlank(p[i]) && p[i] != '\n') ++i;
        if (i - start >= kTokenWindow || i == available) return int32_t(ReportImageError(-107));
        static constexpr char kRange[] = "XCOLORRANGE=";
        constexpr int32_t kRangeLength = sizeof kRange - 1;
        if (i - start > kRangeLength && std::memcmp(p + start, kRange, kRangeLength) == 0) {
          const int32_t value = start + kRangeLength, length = i - value;
          if (length == 4 && std::memcmp(p + value, "FULL", 4) == 0) full_range = true;
          if (length == 7 && std::memcmp(p + value, "LIMITED", 7) == 0) full_range = false;
        }
        break;
      }
      default:
        return int32_t(ReportImageError(-108));
    }
    ctx->read_pos += i;
    header_length += i;
  }

  // The first frame header: "FRAME" and a line feed, no parameters.
  p = PeekUpTo(ctx, kFrameHeaderWindow);
  int32_t available = p ? std::min(ctx->fill_end - ctx->read_pos, kFrameHeaderWindow) : 0;
  if (available < 6) return int32_t(ReportImageError(-109));
  if (std::memcmp(p, "FRAME", 5) != 0) return int32_t(ReportImageError(-110));
  int32_t end = 5;
  while (end < available && p[end] >= '!') ++end;
  if (end == available) return int32_t(ReportImageError(-111));
  if (p[end] != '\n') return int32_t(ReportImageError(-112));
  const int32_t frame_header = end + 1;
  ctx->read_pos += frame_header;

  if (width <= 0) return int32_t(ReportImageError(-113));
  if (height <= 0) return int32_t(ReportImageError(-114));
  if (CheckImageSize(width, 1, 4, -113) != 0) return -113;
  if (CheckImageSize(width, height, 4, -114) != 0) return -114;
  ctx->width = int32_t(width);
  ctx->height = int32_t(height);
  ctx->channels = uint8_t(channels);
  ctx->chroma_format = uint8_t(chroma_format);
  ctx->chroma_flags = uint8_t(flags);
  ctx->orientation = 1;
  ctx->first_frame_offset = header_length + frame_header;

  int32_t cw, ch;
  ChromaPlaneSize(chroma_format, ctx->width, ctx->height, &cw, &ch);
  const int64_t luma = int64_t{ctx->width} * ctx->height;
  const int64_t chroma = int64_t{cw} * ch;
  ctx->frame_size = luma + 2 * chroma + (chroma_format == 7 ? luma : 0) + frame_header;
  switch (chroma_format) {
    case 1:
      ctx->bits_per_pixel = 8;
      break;
    case 4:
    case 5:
      ctx->bits_per_pixel = 16;
      break;
    case 6:
    case 7:
      ctx->bits_per_pixel = uint8_t(8 * channels);
      break;
    default:
      ctx->bits_per_pixel = 12;
      break;
  }
  static constexpr const char* kNames[8] = {"", "00", "20", "11", "22", "40", "44", "44"};
  SetDescription(ctx, "YUV4MPEG_4%s", kNames[chroma_format]);

  if (chroma_format == 1) {
    ctx->row_reader = ReadPlainRow;
    ctx->converter = full_range ? ConvertGray8 : ConvertGray8Limited;
    ctx->row_bytes = ctx->width;
    return 0;
  }
  PlaneBufferSet* set = AllocatePlaneBufferSet(ctx->width, ctx->height, chroma_format);
  if (!set) return int32_t(ReportImageError(-113));
  ctx->decoder_state = set;
  ctx->close_hook = FreePlaneBufferSet;
  ctx->row_reader = ReadYUV4MPEG2Row;
  ctx->converter = full_range ? ConvertYCbCrRows8 : ConvertYCbCrRows8Limited;
  ctx->row_bytes = int32_t(sizeof(PlanarRows));
  ctx->run_value = 0;
  ctx->run_count = frame_header;
  return 0;
}

}  // namespace ImageFileIO
