// Pictures written by the sequence, field and cache tests: small TGA files whose pixels
// tell where they came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_for_test.h"

namespace sequence_test {

// The colour of stored pixel (x, y) of picture `tag`: blue x, green y, red tag.
inline uint32_t StoredPixel(int x, int y, int tag = 7) {
  return (uint32_t(tag & 0xFF) << 16) | (uint32_t(y & 0xFF) << 8) | uint32_t(x & 0xFF);
}

// An uncompressed 24-bit TGA of w x h whose stored row r (in file order) holds
// StoredPixel(x, r, tag). `descriptor_bits` are bits 4 (right to left) and 5 (top first)
// of the image descriptor: 0x20 gives orientation 1, 0x30 2, 0x10 3, 0x00 4.
inline std::vector<uint8_t> MakeTga(int w, int h, uint8_t descriptor_bits, int tag = 7) {
  std::vector<uint8_t> b(18, 0);
  b[2] = 2;
  b[12] = uint8_t(w & 0xFF);
  b[13] = uint8_t(w >> 8);
  b[14] = uint8_t(h & 0xFF);
  b[15] = uint8_t(h >> 8);
  b[16] = 24;
  b[17] = descriptor_bits;
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      const uint32_t p = StoredPixel(x, r, tag);
      b.push_back(uint8_t(p));
      b.push_back(uint8_t(p >> 8));
      b.push_back(uint8_t(p >> 16));
    }
  }
  return b;
}

inline void WriteTga(const std::string& path, int w, int h, uint8_t descriptor_bits = 0x20,
                     int tag = 7) {
  ImageFileIO::testing_util::WriteFile(path, MakeTga(w, h, descriptor_bits, tag));
}

// A grey YUV4MPEG2 stream of `frames` 8 x 4 frames; frame f has luma 40 + 50 f, and
// `extra` stray bytes follow the last frame.
inline std::vector<uint8_t> MakeGreyY4m(int frames, int extra = 0) {
  const std::string header = "YUV4MPEG2 W8 H4 Cmono\n";
  std::vector<uint8_t> b(header.begin(), header.end());
  for (int f = 0; f < frames; ++f) {
    for (char c : std::string("FRAME\n")) b.push_back(uint8_t(c));
    b.insert(b.end(), 32, uint8_t(40 + 50 * f));
  }
  b.insert(b.end(), size_t(extra), uint8_t(0));
  return b;
}

}  // namespace sequence_test
