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

// Marker segments of a file in order: offset of the 0xFF, marker, and the
// offset one past the segment (for SOS: past its entropy-coded data).
struct Segment {
  size_t offset;
  int marker;
  size_t end;
};
std::vector<Segment> Segments(const std::vector<uint8_t>& bytes);

// A minimal EXIF APP1 segment (marker included), little-endian, holding IFD0
// entries {tag, type, count, value or offset} and a data area placed after
// the directory; offsets in entries are relative to the data area and are
// adjusted.
struct ExifEntry {
  uint16_t tag, type;
  uint32_t count, value;
  bool value_in_data = false;
};
std::vector<uint8_t> MakeExifSegment(const std::vector<ExifEntry>& entries,
                                     const std::vector<uint8_t>& data);

// The file with `segment` inserted right after the start-of-image marker.
std::vector<uint8_t> InsertAfterSoi(const std::vector<uint8_t>& file,
                                    const std::vector<uint8_t>& segment);

}  // namespace jpeg_test
