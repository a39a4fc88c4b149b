// Shared helpers of the JPEG tests (compiled into the test program only).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "image/jpeg_test_util.h"

namespace jpeg_test {

std::vector<uint8_t> LoadFixture(const std::string& name) {
  std::ifstream f(std::string(KALVEX_SOURCE_DIR) + "/testdata/jpeg/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

Picture LoadPnm(const std::string& name) {
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

namespace {

uint8_t Clamp(int v) {
  return uint8_t(std::clamp(v, 0, 255));
}

}  // namespace

Picture Decode(const std::vector<uint8_t>& bytes, int* code, JpegReaderState* state) {
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
        out[x] = Clamp((rows[0][x] + 32) >> 6);
      } else if (st->info.rgb) {
        out[3 * x] = Clamp((rows[0][x] + 32) >> 6);
        out[3 * x + 1] = Clamp((rows[1][x] + 8224) >> 6);
        out[3 * x + 2] = Clamp((rows[2][x] + 8224) >> 6);
      } else {
        const int c = rows[0][x] + 32, cb = rows[1][x], cr = rows[2][x];
        out[3 * x] = Clamp((2048 * c + 2870 * cr) >> 17);
        out[3 * x + 1] = Clamp((2048 * c - 707 * cb - 1465 * cr) >> 17);
        out[3 * x + 2] = Clamp((512 * c + 907 * cb) >> 15);
      }
    }
  }
  return p;
}

long FindMarker(const std::vector<uint8_t>& b, int marker) {
  size_t pos = 2;
  while (pos + 4 <= b.size() && b[pos] == 0xFF) {
    if (b[pos + 1] == marker) return long(pos);
    if (b[pos + 1] == 0xDA) return -1;
    pos += 2 + (b[pos + 2] << 8 | b[pos + 3]);
  }
  return -1;
}

}  // namespace jpeg_test
