// Helpers shared by the JPEG tests: fixtures and whole-image decodes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
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

// ---- definitions

inline std::vector<uint8_t> LoadFixture(const std::string& name) {
  std::ifstream f(std::string(KALVEX_SOURCE_DIR) + "/testdata/jpeg/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline Picture LoadPnm(const std::string& name) {
  const std::vector<uint8_t> b = LoadFixture(name);
  Picture p;
  int maxval = 0, pos = 0;
  char magic[3] = {};
  std::sscanf(reinterpret_cast<const char*>(b.data()), "%2s %d %d %d%n", magic, &p.width, &p.height,
              &maxval, &pos);
  p.channels = magic[1] == '6' ? 3 : 1;
  p.pixels.assign(b.begin() + pos + 1, b.end());
  return p;
}

namespace detail {

inline uint8_t Clamp(int v) {
  return uint8_t(std::clamp(v, 0, 255));
}

}  // namespace detail

inline Picture Decode(const std::vector<uint8_t>& bytes, int* code, JpegReaderState* state) {
  JpegReaderState local;
  JpegReaderState* st = state ? state : &local;
  JpegMemoryInput input(bytes.data(), bytes.size());
  Picture p;
  *code = OpenJpegStream(&input, st);
  if (*code != 0) return p;
  p.width = st->info.width;
  p.height = st->info.height;
  p.channels = st->info.channels;
  p.pixels.resize(size_t(p.width) * p.height * p.channels);
  for (int y = 0; y < p.height; ++y) {
    const int16_t* rows[3];
    if (!st->decoder.ReadRows(rows)) {
      *code = -22;
      return p;
    }
    uint8_t* out = &p.pixels[size_t(y) * p.width * p.channels];
    for (int x = 0; x < p.width; ++x) {
      if (p.channels == 1) {
        out[x] = detail::Clamp((rows[0][x] + 32) >> 6);
      } else if (st->info.rgb) {
        out[3 * x] = detail::Clamp((rows[0][x] + 32) >> 6);
        out[3 * x + 1] = detail::Clamp((rows[1][x] + 8224) >> 6);
        out[3 * x + 2] = detail::Clamp((rows[2][x] + 8224) >> 6);
      } else {
        const int c = rows[0][x] + 32, cb = rows[1][x], cr = rows[2][x];
        out[3 * x] = detail::Clamp((2048 * c + 2870 * cr) >> 17);
        out[3 * x + 1] = detail::Clamp((2048 * c - 707 * cb - 1465 * cr) >> 17);
        out[3 * x + 2] = detail::Clamp((512 * c + 907 * cb) >> 15);
      }
    }
  }
  return p;
}

inline long FindMarker(const std::vector<uint8_t>& b, int marker) {
  size_t pos = 2;
  while (pos + 4 <= b.size() && b[pos] == 0xFF) {
    if (b[pos + 1] == marker) return long(pos);
    if (b[pos + 1] == 0xDA) return -1;
    pos += 2 + (b[pos + 2] << 8 | b[pos + 3]);
  }
  return -1;
}

inline std::vector<Segment> Segments(const std::vector<uint8_t>& b) {
  std::vector<Segment> out;
  size_t pos = 2;
  while (pos + 4 <= b.size() && b[pos] == 0xFF) {
    const int marker = b[pos + 1];
    if (marker == 0xD9) {
      out.push_back({pos, marker, pos + 2});
      break;
    }
    size_t end = pos + 2 + (b[pos + 2] << 8 | b[pos + 3]);
    if (marker == 0xDA) {
      while (end + 1 < b.size() &&
             !(b[end] == 0xFF && b[end + 1] != 0 && (b[end + 1] < 0xD0 || b[end + 1] > 0xD7)))
        ++end;
    }
    out.push_back({pos, marker, end});
    pos = end;
  }
  return out;
}

inline std::vector<uint8_t> MakeExifSegment(const std::vector<ExifEntry>& entries,
                                            const std::vector<uint8_t>& data) {
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto u16 = [&](uint32_t v) {
    tiff.push_back(uint8_t(v));
    tiff.push_back(uint8_t(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const uint32_t data_start = uint32_t(8 + 2 + 12 * entries.size() + 4);
  u16(uint32_t(entries.size()));
  for (const ExifEntry& e : entries) {
    u16(e.tag);
    u16(e.type);
    u32(e.count);
    u32(e.value_in_data ? e.value + data_start : e.value);
  }
  u32(0);
  tiff.insert(tiff.end(), data.begin(), data.end());
  std::vector<uint8_t> seg = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  seg.insert(seg.end(), tiff.begin(), tiff.end());
  const size_t len = seg.size() - 2;
  seg[2] = uint8_t(len >> 8);
  seg[3] = uint8_t(len);
  return seg;
}

inline std::vector<uint8_t> InsertAfterSoi(const std::vector<uint8_t>& file,
                                           const std::vector<uint8_t>& segment) {
  std::vector<uint8_t> out(file.begin(), file.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), file.begin() + 2, file.end());
  return out;
}

}  // namespace jpeg_test
