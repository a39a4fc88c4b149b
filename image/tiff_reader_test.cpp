#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

struct TiffSpec {
  uint32_t width, height;
  uint16_t bits, samples;
  uint32_t tile;       // 0: strips of two rows
  uint16_t alpha = 0;  // the kind of the fourth sample (EXTRASAMPLE_*), with samples 4
};

// Sample value of channel c at (x, y), as 8 bits; 16-bit files store it times 257.
uint32_t Sample(uint32_t x, uint32_t y, uint32_t c) {
  return (x * 13 + y * 7 + c * 50) & 0xFF;
}

bool WriteTiff(const std::string& path, const TiffSpec& s) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  if (s.samples == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &s.alpha);
  const size_t bytes = s.bits / 8;
  auto put = [&](std::vector<uint8_t>* buf, size_t at, uint32_t v) {
    if (bytes == 2) {
      const uint16_t wide = uint16_t(v * 257);
      std::memcpy(buf->data() + at, &wide, 2);  // libtiff takes native 16-bit samples
    } else {
      (*buf)[at] = uint8_t(v);
    }
  };
  bool ok = true;
  if (s.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
    std::vector<uint8_t> tile(size_t(s.tile) * s.tile * s.samples * bytes);
    for (uint32_t ty = 0; ty < s.height; ty += s.tile) {
      for (uint32_t tx = 0; tx < s.width; tx += s.tile) {
        for (uint32_t y = 0; y < s.tile; ++y)
          for (uint32_t x = 0; x < s.tile; ++x)
            for (uint32_t c = 0; c < s.samples; ++c)
              put(&tile, ((y * s.tile + x) * s.samples + c) * bytes, Sample(tx + x, ty + y, c));
        ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
    std::vector<uint8_t> row(size_t(s.width) * s.samples * bytes);
    for (uint32_t y = 0; y < s.height; ++y) {
      for (uint32_t x = 0; x < s.width; ++x)
        for (uint32_t c = 0; c < s.samples; ++c)
          put(&row, (x * s.samples + c) * bytes, Sample(x, y, c));
      ok = ok && TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
  }
  TIFFClose(tif);
  return ok;
}

TEST(TiffReader, StripsTilesAndDepths) {
  const struct {
    const char* name;
    TiffSpec spec;
    const char* description;
  } cases[] = {
      {"rgb strips", {5, 7, 8, 3, 0}, "TIFF-24"},
      {"rgb tiles", {20, 18, 8, 3, 16}, "TIFF-24"},
      {"rgb 16-bit", {4, 3, 16, 3, 0}, "TIFF-48"},
      {"grey", {3, 3, 8, 1, 0}, "TIFF-8"},
      // Colour comes as stored, with alpha beside it, also where alpha is unassociated.
      {"rgba unassociated", {5, 7, 8, 4, 0, EXTRASAMPLE_UNASSALPHA}, "TIFF-32"},
      {"rgba associated", {5, 7, 8, 4, 0, EXTRASAMPLE_ASSOCALPHA}, "TIFF-32"},
      {"rgba 16-bit unassociated", {4, 3, 16, 4, 0, EXTRASAMPLE_UNASSALPHA}, "TIFF-64"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteTiff(dir.File("img.tif"), c.spec));
    Decoded d = Decode(dir.File("img.tif"));
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.channels, 4);
    EXPECT_EQ(d.orientation, 1);
    ASSERT_EQ(d.rows_read, int32_t(c.spec.height));
    for (uint32_t y = 0; y < c.spec.height; ++y) {
      for (uint32_t x = 0; x < c.spec.width; ++x) {
        const uint32_t r = Sample(x, y, 0);
        const uint32_t g = c.spec.samples == 1 ? r : Sample(x, y, 1);
        const uint32_t b = c.spec.samples == 1 ? r : Sample(x, y, 2);
        const uint32_t a = c.spec.samples == 4 ? Sample(x, y, 3) : 0xFF;
        ASSERT_EQ(d.pixels[y * c.spec.width + x], a << 24 | r << 16 | g << 8 | b) << x << "," << y;
      }
    }
  }
}

TEST(TiffReader, OpenedByNameOnly) {
  TempDir dir;
  ASSERT_TRUE(WriteTiff(dir.File("img.tif"), {2, 2, 8, 3, 0}));
  StdinFrom in(ReadFile(dir.File("img.tif")));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode("-").open_result, -91);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -91\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(dir.File("img.tif:1")).open_result, -78);
  // A file that only starts like a TIFF.
  std::vector<uint8_t> fake = {'I', 'I', '*', 0, 0xFF, 0xFF, 0xFF, 0x7F};
  fake.resize(64, 0);
  WriteFile(dir.File("fake.tif"), fake);
  EXPECT_EQ(Decode(dir.File("fake.tif")).open_result, -91);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error -78\n"), std::string::npos);
  EXPECT_NE(err.find("Error -91\n"), std::string::npos);
}

}  // namespace
}  // namespace ImageFileIO
