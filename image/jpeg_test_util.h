// Helpers shared by the JPEG tests: fixtures and whole-image decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/jpeg_reader.h"

namespace jpeg_test {

std::vector<uint8_t> LoadFixture(const std::string& name);

struct Picture {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;  // width x height x channels
};

// A binary PGM or PPM file.
Picture LoadPnm(const std::string& name);

// Opens and decodes a whole JPEG held in memory; *code receives the open's
// result, or -22 when a row failed.
Picture Decode(const std::vector<uint8_t>& bytes, int* code, JpegReaderState* state = nullptr);

// Offset of the first segment with this marker (its 0xFF), or -1.
long FindMarker(const std::vector<uint8_t>& bytes, int marker);

}  // namespace jpeg_test
