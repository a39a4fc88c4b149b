// SequenceLoader: the frame source of an image cache. Given the name of one list entry
// it opens the file through the image-file library (the name may carry a format prefix, a
// frame selector ":n" or a byte-offset selector ":@n"), reports the picture size and the
// number of frames the file holds, and reads one picture into a raw frame buffer (format
// code 15, alignment kind 2) from which lines are handed out as 32-bit pixels with the
// picture's orientation applied. No file stays open between calls.
//
// Target views are 32-bit pixel views {pixels, row stride in pixels, width, height}.
// A loader is used by one thread at a time (the cache serialises decodes).
// Reads may throw "memory allocation failed" (const char*) when the line store cannot grow.
//
// DummySequenceLoader: the synthetic source; any name opens as one 640 x 480 picture and
// reading delivers no pixels.
#pragma once

#include <cstdint>

#include "foundation/numeric/array.h"
#include "image/raw_frame_buffer.h"

using PixelView = ArrayMap<uint32_t>;

class SequenceLoader {
 public:
  SequenceLoader() = default;
  virtual ~SequenceLoader() = default;
  SequenceLoader(const SequenceLoader&) = delete;
  SequenceLoader& operator=(const SequenceLoader&) = delete;

  // Opens name, writes the picture size and returns the number of frames in the file (0 when
  // it cannot be opened or the picture has no size). Fills the process-wide SequenceInfo.
  virtual int Open(int32_t* width, int32_t* height, const char* name);
  // Reads the picture into the line store; a transposed picture (codes 5 to 8) is stored
  // upright, its width and height swapped. 0, or -1 when the name cannot be opened or a row
  // cannot be read (the store then holds the rows read so far).
  virtual int Read(const char* name);

  // Converts count pixels (at most the stored width) of stored line `line` into dst,
  // reversed in place when mirror is set. 0, -2 for a line outside the picture, -1 for an
  // unknown pixel format.
  int ReadLine(uint32_t* dst, int32_t line, int32_t count, bool mirror);

  // Reads a whole picture into dst, oriented for display. The first min(width) columns of the
  // first min(height) stored lines are written; with a vertical flip they fill dst from its
  // last row upwards. Pixels outside that area are left as they were. 0, -1 when the read
  // fails, -3 when a line cannot be converted.
  int LoadFrame(const PixelView& dst, const char* name);

  // Interlaced fields. Each reads the picture once and delivers its top field (displayed even
  // lines) into `top` and its bottom field (displayed odd lines) into `bottom`; a null target
  // skips that field. 0, -1 when the read fails, -3 / -4 when a line of the first / second
  // field in reading order cannot be converted.
  // Half-height fields: row i = field line i.
  int LoadSplitFields(const PixelView* top, const PixelView* bottom, const char* name);
  // Full-height fields, the other field's lines interpolated (rounded-up byte-wise mean of
  // the neighbours; edge rows repeat their neighbour). An odd last row repeats the row above.
  int LoadLineDoubled(const PixelView* top, const PixelView* bottom, const char* name);
  // Half-height, half-width fields: target pixel j = mean of field pixels 2j and 2j+1.
  int LoadHalfSize(const PixelView* top, const PixelView* bottom, const char* name);

  const RawFrameBuffer& buffer() const { return buffer_; }
  // Orientation code of the last picture read (1 before the first read).
  int file_orientation() const { return file_orientation_; }

 private:
  void TurnUpright(int code);

 protected:
  // Field reads mark the stored picture as interlaced (chroma of planar layouts is then taken
  // from each line's own field); the marks stay for later reads.
  void MarkInterlaced() {
    buffer_.set_flags(buffer_.flags() | kRawInterlacedTop | kRawInterlacedBottom);
  }

  RawFrameBuffer buffer_;
  uint8_t file_orientation_ = 1;
};

class DummySequenceLoader : public SequenceLoader {
 public:
  static constexpr int32_t kWidth = 640;
  static constexpr int32_t kHeight = 480;
  int Open(int32_t* width, int32_t* height, const char* name) override;
  int Read(const char* name) override;
};

// Orientation codes (EXIF numbering): 1 as stored, 2 mirrored, 3 half turn, 4 flipped; 5 to 8
// are transposed layouts (5 transposed, 6 turned a quarter clockwise for display, 7
// transverse, 8 a quarter anticlockwise), whose display swaps width and height.
// Read turns transposed pictures upright in the line store itself, and Open reports their
// display size.
bool OrientationTransposes(int code);
// What is left to apply to the stored lines after Read: 1 for codes 5 to 8 (already upright)
// and for 0 or unknown codes, else the code. Codes 2 and 3 mirror every line, 3 and 4 flip the
// picture vertically.
int DisplayOrientation(int code);
inline bool OrientationMirrors(int code) {
  const int c = DisplayOrientation(code);
  return c == 2 || c == 3;
}
inline bool OrientationFlips(int code) {
  const int c = DisplayOrientation(code);
  return c == 3 || c == 4;
}

// Frames held by a raw frame file of equal frames (YUV4MPEG2, PAL-DV, NTSC-DV):
// (file size - first frame offset) / frame size when at least two whole frames fit, else 1
// (for YUV4MPEG2 the 6-byte frame line in front of the first frame offset counts too).
// Other formats, or no frame size, count as 1.
int32_t CountFramesInFile(uint32_t format_id, int64_t file_size, int64_t first_frame_offset,
                          int64_t frame_size);

// Rounded-up mean of two 32-bit pixels in each byte separately.
inline uint32_t AveragePixels(uint32_t a, uint32_t b) {
  return (a | b) - (((a ^ b) >> 1) & 0x7f7f7f7fu);
}
