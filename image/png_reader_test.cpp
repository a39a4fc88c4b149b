#include <png.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

struct PngSpec {
  int width = 1, height = 1, colour = PNG_COLOR_TYPE_RGB, depth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<png_byte> trns;
  std::vector<uint8_t> data;  // packed rows as libpng takes them
};

// Writes spec with libpng itself. No object with a destructor lives in this function.
bool WritePng(const char* path, const PngSpec* s) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(s->width), png_uint_32(s->height), s->depth, s->colour,
               s->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s->palette.empty()) png_set_PLTE(png, info, s->palette.data(), int(s->palette.size()));
  if (!s->trns.empty()) png_set_tRNS(png, info, s->trns.data(), int(s->trns.size()), nullptr);
  png_write_info(png, info);
  const size_t stride = s->data.size() / size_t(s->height);
  const int passes = s->interlaced ? png_set_interlace_handling(png) : 1;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < s->height; ++y) {
      png_write_row(png, s->data.data() + size_t(y) * stride);
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

struct PngCase {
  const char* name;
  PngSpec spec;
  std::string description;
  int channels;
  int32_t row_bytes;
  std::vector<uint32_t> pixels;
};

TEST(PngReader, ColourTypesAndDepths) {
  PngSpec rgb16{2,
                1,
                PNG_COLOR_TYPE_RGB,
                16,
                false,
                {},
                {},
                {0xAB, 0xCD, 1, 2, 3, 4,  //
                 5, 6, 7, 8, 9, 10}};
  PngSpec palette{
      3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {{10, 20, 30}, {40, 50, 60}}, {0, 128}, {0, 1, 1}};
  PngSpec grey2{5, 1, PNG_COLOR_TYPE_GRAY, 2, false, {}, {}, {0x1B, 0x40}};  // 0 1 2 3 1
  PngSpec grey1{3, 1, PNG_COLOR_TYPE_GRAY, 1, false, {}, {}, {0xA0}};
  PngSpec grey16{1, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {0x12, 0x34}};
  PngSpec grey_alpha{2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, {}, {}, {7, 0, 9, 255}};
  PngSpec rgba{1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, {}, {}, {1, 2, 3, 4}};
  PngSpec rgba16{1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, {}, {}, {1, 0, 2, 0, 3, 0, 4, 0}};
  const std::vector<PngCase> cases = {
      {"16-bit RGB", rgb16, "PNG-48", 3, 12, {0xAB0103, 0x050709}},
      // A palette with transparency still reads as three channels without alpha.
      {"palette with tRNS", palette, "PNG-8", 3, 9, {0x0A141E, 0x28323C, 0x28323C}},
      {"2-bit grey", grey2, "PNG-2", 1, 5, {0, 0x555555, 0xAAAAAA, 0xFFFFFF, 0x555555}},
      {"1-bit grey", grey1, "PNG-1", 1, 3, {0xFFFFFF, 0, 0xFFFFFF}},
      {"16-bit grey", grey16, "PNG-16", 1, 2, {0x121212}},
      {"grey with alpha", grey_alpha, "PNG-8", 1, 2, {0x070707, 0x090909}},
      {"RGBA", rgba, "PNG-32", 4, 4, {0x04010203}},
      {"RGBA 16-bit", rgba16, "PNG-64", 4, 8, {0x04010203}},
  };
  TempDir dir;
  for (const PngCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WritePng(dir.File("img.png").c_str(), &c.spec));
    Decoded d = Decode(dir.File("img.png"));
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.row_bytes, c.row_bytes);
    EXPECT_EQ(d.orientation, 1);
    EXPECT_EQ(d.row_result, 0);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

PngSpec Pattern(int width, int height, bool interlaced) {
  PngSpec s{width, height, PNG_COLOR_TYPE_RGB, 8, interlaced, {}, {}, {}};
  uint32_t x = 12345;
  for (int i = 0; i < 3 * width * height; ++i) {
    x = x * 1103515245 + 12345;  // noise compresses badly, so a cut file misses rows
    s.data.push_back(uint8_t(x >> 16));
  }
  return s;
}

TEST(PngReader, InterlacedEqualsProgressive) {
  TempDir dir;
  PngSpec plain = Pattern(13, 9, false), adam7 = Pattern(13, 9, true);
  ASSERT_TRUE(WritePng(dir.File("plain.png").c_str(), &plain));
  ASSERT_TRUE(WritePng(dir.File("adam7.png").c_str(), &adam7));
  Decoded a = Decode(dir.File("plain.png")), b = Decode(dir.File("adam7.png"));
  ASSERT_EQ(a.open_result, 0);
  ASSERT_EQ(b.open_result, 0);
  EXPECT_EQ(b.rows_read, 9);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_EQ(a.pixels[14], uint32_t(plain.data[42] << 16 | plain.data[43] << 8 | plain.data[44]));
}

TEST(PngReader, DamagedFiles) {
  TempDir dir;
  PngSpec big = Pattern(128, 128, false);  // several IDAT chunks
  ASSERT_TRUE(WritePng(dir.File("big.png").c_str(), &big));
  std::vector<uint8_t> bytes = ReadFile(dir.File("big.png"));
  // Cut in the middle of the image data: the open succeeds, a later row fails.
  WriteFile(dir.File("cut.png"),
            std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  testing::internal::CaptureStderr();
  Decoded cut = Decode(dir.File("cut.png"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(cut.open_result, 0);
  EXPECT_EQ(cut.row_result, -22);
  EXPECT_GT(cut.rows_read, 0);
  EXPECT_LT(cut.rows_read, 128);
  EXPECT_NE(err.find("Error -22\n"), std::string::npos);
  // Cut inside the header chunks: the open fails.
  WriteFile(dir.File("head.png"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(dir.File("head.png")).open_result, -29);
  err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error -29\n"), std::string::npos);
  // PNG has no frame size.
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(dir.File("big.png:2")).open_result, -78);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -78\n");
}

}  // namespace
}  // namespace ImageFileIO
