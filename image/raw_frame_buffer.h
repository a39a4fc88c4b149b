// RawFrameBuffer: the line store of a sequence loader. It holds one picture in one of
// seventeen pixel layouts (grey, planar YCbCr with several chroma subsamplings, packed
// 4:2:2, 16-, 24- and 32-bit RGB) and DecodeRawLine hands out single lines as 32-bit
// pixels 0x00RRGGBB (blue in the low byte, fourth byte 0).
//
// Format codes (w x h picture; divisions round down):
//   0 grey, 1 byte;  1 YCbCr 4:2:0 (chroma (w+1)/2 x (h+1)/2);  2 4:1:1 (chroma (w+3)/4 x h);
//   3 4:2:2 (chroma (w+1)/2 x h);  4 4:4:0 (chroma w x h, first h/2 rows used);
//   5 4:4:4;  6 4:4:4 plus a fourth plane (not read);
//   7 packed Y0 Cb Y1 Cr;  8 packed Cb Y0 Cr Y1;
//   9..12 16-bit little-endian RGB: 9 x555 blue low, 10 x555 red low, 11 565 blue low,
//         12 565 red low;
//   13 B,G,R;  14 R,G,B;  15 B,G,R,x;  16 R,G,B,x.
// Alignment kinds (row bytes, rows): 0 (1,1), 1 (4,1), 2 (16,1), 3 (16,8), 4 (16,16).
// A plane's row stride is its row bytes rounded up to the row alignment; its size is the
// stride times its height rounded up to the row alignment of heights. Planes follow each
// other in one 32-byte aligned block.
#pragma once

#include <cstdint>

#include "foundation/numeric/aligned_buffer.h"

// Flags read by the line decoder.
enum RawFrameFlags : uint32_t {
  kRawChromaSiting1 = 0x01,    // horizontal chroma siting (the 2x rules in the .cpp)
  kRawChromaSiting2 = 0x02,    // another horizontal siting; wins over 0x01
  kRawChromaHalfUp = 0x04,     // chroma sampled half a chroma line higher
  kRawChromaLineUp = 0x08,     // chroma sampled a whole chroma line higher
  kRawCrFromLineAbove = 0x10,  // the second chroma plane comes from the line above
  kRawInterlacedTop = 0x20,    // interlaced: chroma rows from the line's own field
  kRawInterlacedBottom = 0x40,
  kRawSwapChroma = 0x80,  // plane 2 is Cb and plane 1 Cr
};

struct RawPlane {
  uint8_t* data = nullptr;
  int32_t stride = 0;  // bytes
  int32_t width = 0;   // pixels
  int32_t height = 0;
};

class RawFrameBuffer {
 public:
  static constexpr int kMaxFormat = 16;

  RawFrameBuffer() = default;
  RawFrameBuffer(const RawFrameBuffer&) = delete;
  RawFrameBuffer& operator=(const RawFrameBuffer&) = delete;

  // Lays out the planes for a picture. False (buffer kept) when all four values equal the
  // current ones; otherwise replaces the block and returns true; contents are not kept.
  // Negative sizes count as 0; a code outside 0..16 gets no planes; a kind outside 0..4
  // counts as 0. Throws "memory allocation failed" (const char*) when the block cannot be
  // had; the buffer is then empty (no lines) and the next call allocates again.
  bool SetFormat(int32_t width, int32_t height, int32_t code, int32_t kind);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t format() const { return format_; }
  int32_t kind() const { return kind_; }
  uint32_t flags() const { return flags_; }
  void set_flags(uint32_t flags) { flags_ = flags; }
  const RawPlane& plane(int k) const { return planes_[k]; }
  // Start of stored row y of plane k (no range check).
  uint8_t* Row(int k, int32_t y) const {
    return planes_[k].data + static_cast<int64_t>(y) * planes_[k].stride;
  }
  // Bytes of the whole block.
  uint64_t size() const { return size_; }

 private:
  AlignedBuffer<uint8_t> storage_;
  uint64_t size_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t format_ = -1;
  int32_t kind_ = -1;
  uint32_t flags_ = 0;
  RawPlane planes_[4];
};

// Converts the first count pixels (at most the width) of stored line `line` into dst.
// 0 on success (also for a null dst), -2 when the line lies outside 0..height-1, -1 for a
// format code above 16.
int DecodeRawLine(const RawFrameBuffer& buffer, uint32_t* dst, int32_t line, int32_t count);

// One YCbCr triple to 0x00RRGGBB in fixed point (1/2048), chroma centred on 128, clamped.
uint32_t YCbCrToBGRA(int y, int cb, int cr);
