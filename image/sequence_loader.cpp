#include "image/sequence_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/runtime/notify.h"
#include "image/image_file_io.h"
#include "image/sequence_info.h"

namespace {

// One opened picture; the library context (with its input buffer) lives on the caller's
// stack for the duration of one call and is closed when it is left.
struct ReadImage {
  explicit ReadImage(const char* name) {
    if (!name || ImageFileIO::OpenRead(&ctx, name) != 0) {
      Notify(2, "ReadImage: Could not open image file \"%s\"", name ? name : "");
      return;
    }
    orientation = ctx.orientation;
    width = ctx.width;
    height = ctx.height;
    frames = 1;
    if (ctx.frame_size != 0 && ctx.descriptor >= 0) {
      struct stat st;
      if (::fstat(ctx.descriptor, &st) == 0) {
        frames = CountFramesInFile(ctx.format_id, static_cast<int64_t>(st.st_size),
                                   ctx.first_frame_offset, ctx.frame_size);
      }
    }
  }
  // The library wants Close also after a failed open (it may hold a descriptor).
  ~ReadImage() { ImageFileIO::Close(&ctx); }
  ReadImage(const ReadImage&) = delete;
  ReadImage& operator=(const ReadImage&) = delete;

  ImageFileIO::ImageFileContext ctx;
  int orientation = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t frames = 0;
};

}  // namespace

int DisplayOrientation(int code) {
  if (code < 1 || code > 4) return 1;  // 5 to 8: Read has turned the picture upright already
  return code;
}

bool OrientationTransposes(int code) {
  return code >= 5 && code <= 8;
}

int32_t CountFramesInFile(uint32_t format_id, int64_t file_size, int64_t first_frame_offset,
                          int64_t frame_size) {
  if (frame_size <= 0) return 1;
  if (format_id != ImageFileIO::kFormatYUV4MPEG2 && format_id != ImageFileIO::kFormatPALDV &&
      format_id != ImageFileIO::kFormatNTSCDV) {
    return 1;
  }
  int64_t bytes = file_size - first_frame_offset;
  // A YUV4MPEG2 stream's first frame offset lies behind the first "FRAME\n" line, so its last
  // frame ends those 6 bytes short of a whole frame size; without them the last frame would
  // be lost from the count.
  if (format_id == ImageFileIO::kFormatYUV4MPEG2) bytes += 6;
  if (bytes / 2 < frame_size) return 1;
  return static_cast<int32_t>(std::min<int64_t>(bytes / frame_size, INT32_MAX));
}

int SequenceLoader::Open(int32_t* width, int32_t* height, const char* name) {
  ReadImage image(name);
  if (OrientationTransposes(image.orientation)) std::swap(image.width, image.height);
  if (width) *width = image.width;
  if (height) *height = image.height;
  const int32_t count = (image.width != 0 && image.height != 0) ? image.frames : 0;
  SequenceInfo& info = SequenceInfo::Instance();
  info.Clear();
  info.frame_count = count;
  info.second_count = 0;
  info.frame_rate = 25;
  info.duration = count / 25;
  info.width = image.width;
  info.height = image.height;
  info.file_name = name ? name : "";
  info.state = 1;
  return count;
}

int SequenceLoader::Read(const char* name) {
  ReadImage image(name);
  if (image.frames == 0) return -1;
  file_orientation_ = static_cast<uint8_t>(image.orientation);
  buffer_.SetFormat(image.width, image.height, 15, 2);
  for (int32_t y = 0; y < image.height; ++y) {
    if (ImageFileIO::ReadRow(reinterpret_cast<uint32_t*>(buffer_.Row(0, y)), &image.ctx) != 0) {
      return -1;
    }
  }
  if (OrientationTransposes(file_orientation_)) TurnUpright(file_orientation_);
  return 0;
}

// Codes 5 to 8 store the picture transposed (EXIF orientation): stored row r and column c are
// display column and row, counted from the right (6, 7) and from the bottom (7, 8). The line
// store is rebuilt with the display's lines, its width and height swapped.
void SequenceLoader::TurnUpright(int code) {
  const int32_t w = buffer_.width(), h = buffer_.height();
  std::vector<uint32_t> stored(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int32_t y = 0; y < h; ++y) {
    std::memcpy(stored.data() + static_cast<size_t>(y) * w, buffer_.Row(0, y),
                static_cast<size_t>(w) * 4);
  }
  buffer_.SetFormat(h, w, 15, 2);
  const bool from_right = code == 6 || code == 7, from_bottom = code == 7 || code == 8;
  for (int32_t y = 0; y < w; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(buffer_.Row(0, y));
    const int32_t column = from_bottom ? w - 1 - y : y;
    for (int32_t x = 0; x < h; ++x) {
      const int32_t row = from_right ? h - 1 - x : x;
      out[x] = stored[static_cast<size_t>(row) * w + column];
    }
  }
}

int SequenceLoader::ReadLine(uint32_t* dst, int32_t line, int32_t count, bool mirror) {
  count = std::min(count, buffer_.width());
  const int result = DecodeRawLine(buffer_, dst, line, count);
  if (result != 0) return result;
  if (mirror && dst && count > 1) std::reverse(dst, dst + count);
  return 0;
}

int SequenceLoader::LoadFrame(const PixelView& dst, const char* name) {
  if (Read(name) != 0) return -1;
  const bool mirror = OrientationMirrors(file_orientation_);
  const bool flip = OrientationFlips(file_orientation_);
  const int32_t width = std::min<int64_t>(dst.width, buffer_.width());
  const int32_t rows = std::min<int64_t>(dst.height, buffer_.height());
  for (int32_t y = 0; y < rows; ++y) {
    const int64_t row = flip ? static_cast<int64_t>(dst.height) - 1 - y : y;
    if (ReadLine(dst.data + row * dst.stride, y, width, mirror) != 0) return -3;
  }
  return 0;
}

int DummySequenceLoader::Open(int32_t* width, int32_t* height, const char*) {
  if (width) *width = kWidth;
  if (height) *height = kHeight;
  return 1;
}

int DummySequenceLoader::Read(const char*) {
  return 0;
}
