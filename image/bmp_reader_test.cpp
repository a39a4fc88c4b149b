#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

struct BmpShape {
  int32_t width = 1, height = 1;
  int bits = 24, compression = 0;
  std::vector<uint32_t> masks;    // written right after the 54-byte header
  std::vector<uint32_t> palette;  // 0x00RRGGBB words
  std::vector<uint8_t> data;
};

std::vector<uint8_t> Bmp(const BmpShape& s) {
  const uint32_t d = uint32_t(54 + 4 * s.masks.size() + 4 * s.palette.size());
  std::vector<uint8_t> out = {'B', 'M'};
  PutLe32(&out, uint32_t(d + s.data.size()));
  PutLe32(&out, 0);
  PutLe32(&out, d);
  PutLe32(&out, 40);
  PutLe32(&out, uint32_t(s.width));
  PutLe32(&out, uint32_t(s.height));
  PutLe16(&out, 1);
  PutLe16(&out, uint32_t(s.bits));
  PutLe32(&out, uint32_t(s.compression));
  for (int i = 0; i < 5; ++i) PutLe32(&out, 0);
  for (uint32_t m : s.masks) PutLe32(&out, m);
  for (uint32_t p : s.palette) PutLe32(&out, p);
  Append(&out, s.data);
  return out;
}

const std::vector<uint32_t> kPalette = {0x000000, 0x112233, 0x445566, 0x778899};

struct BmpCase {
  const char* name;
  BmpShape shape;
  int32_t open_result;
  std::string description;
  int orientation;
  std::vector<uint32_t> pixels;
  int32_t row_result = 0;
};

TEST(BmpReader, VariantsAndRunLengthRows) {
  const uint32_t p0 = kPalette[0], p1 = kPalette[1], p2 = kPalette[2], p3 = kPalette[3];
  const std::vector<BmpCase> cases = {
      {"24-bit padded rows",
       {2, 2, 24, 0, {}, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}},
       0,
       "BMP-24",
       4,
       {0x030201, 0x060504, 0x090807, 0x0C0B0A}},
      {"negative height is top-down",
       {1, -2, 24, 0, {}, {}, {1, 2, 3, 0, 4, 5, 6, 0}},
       0,
       "BMP-24",
       1,
       {0x030201, 0x060504}},
      {"32-bit", {1, 1, 32, 0, {}, {}, {1, 2, 3, 4}}, 0, "BMP-32", 4, {0x04030201}},
      {"8-bit palette", {3, 1, 8, 0, {}, kPalette, {1, 2, 3, 0}}, 0, "BMP-8", 4, {p1, p2, p3}},
      {"4-bit palette",
       {3, 1, 4, 0, {}, kPalette, {0x12, 0x30, 0, 0}},
       0,
       "BMP-4",
       4,
       {p1, p2, p3}},
      {"1-bit palette",
       {10, 1, 1, 0, {}, kPalette, {0x80, 0x40, 0, 0}},
       0,
       "BMP-1",
       4,
       {p1, p0, p0, p0, p0, p0, p0, p0, p0, p1}},
      {"565 bit fields",
       {1, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, {0xFF, 0xFF, 0, 0}},
       0,
       "BMP-16v",
       4,
       {0xFFFFFF}},
      // A 5-5-5 file with a fourth mask 0x8000 at a data offset of 70 is stored top row first.
      {"555 with alpha mask",
       {1, 2, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}, {}, {0x00, 0x7C, 0, 0, 0x1F, 0, 0, 0}},
       0,
       "BMP-16v",
       1,
       {0xFF0000, 0x0000FF}},
      {"32-bit RGBA fields",
       {1, 1, 32, 3, {0xFF, 0xFF00, 0xFF0000}, {}, {1, 2, 3, 4}},
       0,
       "BMP-32v",
       4,
       {0x04010203}},
      {"32-bit ARGB fields",
       {1, 1, 32, 3, {0xFF00, 0xFF0000, 0xFF000000}, {}, {4, 1, 2, 3}},
       0,
       "BMP-32v",
       4,
       {0x04010203}},
      // Row 0: run of 2, then a delta (1, 1) skipping 5 pixels: 2 in this row, 3 in the next.
      {"rle8 delta across rows",
       {4, 3, 8, 1, {}, kPalette, {2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 4, 3, 0, 1}},
       0,
       "BMP-8c",
       4,
       {p1, p1, p0, p0, p0, p0, p0, p2, p3, p3, p3, p3}},
      // Surplus of a run is dropped, and so are runs after the row is full.
      {"rle8 surplus dropped",
       {2, 1, 8, 1, {}, kPalette, {5, 1, 3, 2, 0, 0}},
       0,
       "BMP-8c",
       4,
       {p1, p1}},
      {"rle8 literal",
       {3, 1, 8, 1, {}, kPalette, {0, 3, 3, 2, 1, 0, 0, 1}},
       0,
       "BMP-8c",
       4,
       {p3, p2, p1}},
      {"rle4 run and literal",
       {6, 1, 4, 2, {}, kPalette, {3, 0x12, 0, 3, 0x32, 0x10, 0, 1}},
       0,
       "BMP-4c",
       4,
       {p1, p2, p1, p3, p2, p1}},
      {"rle8 literal longer than row",
       {2, 1, 8, 1, {}, kPalette, {0, 3, 1, 1, 1, 0}},
       0,
       "BMP-8c",
       4,
       {},
       -22},
      {"rle4 run longer than row",
       {2, 1, 4, 2, {}, kPalette, {3, 0x11, 0, 0}},
       0,
       "BMP-4c",
       4,
       {},
       -22},
      {"rle4 run after full row",
       {2, 1, 4, 2, {}, kPalette, {2, 0x11, 1, 0x11, 0, 0}},
       0,
       "BMP-4c",
       4,
       {},
       -22},
      {"rle row ended early", {3, 1, 8, 1, {}, kPalette, {2, 1, 0, 0}}, 0, "BMP-8c", 4, {}, -22},
      {"height INT_MIN", {1, INT_MIN, 24, 0, {}, {}, {0, 0, 0, 0}}, -21, "", 0, {}},
      {"zero width", {0, 1, 24, 0, {}, {}, {0, 0, 0, 0}}, -21, "", 0, {}},
      {"huge width", {INT_MAX, 1, 24, 0, {}, {}, {0, 0, 0, 0}}, -21, "", 0, {}},
      {"bit count", {1, 1, 7, 0, {}, {}, {0, 0, 0, 0}}, -21, "", 0, {}},
      {"palette too long",
       {1, 1, 8, 0, {}, std::vector<uint32_t>(257, 0), {0, 0, 0, 0}},
       -23,
       "",
       0,
       {}},
      {"16-bit fields missing", {1, 1, 16, 3, {}, {}, {0, 0, 0, 0}}, -94, "", 0, {}},
      {"16-bit masks", {1, 1, 16, 3, {0xF00, 0xF0, 0xF}, {}, {0, 0, 0, 0}}, -93, "", 0, {}},
      {"32-bit masks", {1, 1, 32, 3, {0xF00, 0xF0, 0xF}, {}, {0, 0, 0, 0}}, -95, "", 0, {}},
      {"32-bit fields missing", {1, 1, 32, 3, {}, {}, {0, 0, 0, 0}}, -96, "", 0, {}},
  };
  TempDir dir;
  for (const BmpCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("img.bmp"), Bmp(c.shape));
    Decoded d = DecodeExpectingOpen(dir.File("img.bmp"), c.open_result);
    if (c.open_result != 0 || d.open_result != 0) continue;
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.orientation, c.orientation);
    EXPECT_EQ(d.width, c.shape.width);
    EXPECT_EQ(d.height, c.shape.height < 0 ? -c.shape.height : c.shape.height);
    EXPECT_EQ(d.row_result, c.row_result);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

TEST(BmpReader, HeaderLimits) {
  TempDir dir;
  // A data offset at or beyond the buffer is refused before anything is read.
  std::vector<uint8_t> far = Bmp({1, 1, 24, 0, {}, {}, {0, 0, 0, 0}});
  far[10] = 0x18, far[11] = 0x04, far[12] = 0x01;  // 66,584
  WriteFile(dir.File("far.bmp"), far);
  // A header shorter than 54 bytes.
  std::vector<uint8_t> short_header = Bmp({});
  short_header.resize(40);
  WriteFile(dir.File("short.bmp"), short_header);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(dir.File("far.bmp")).open_result, -51);
  EXPECT_EQ(Decode("bmp:" + dir.File("short.bmp")).open_result, -27);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -51\nError -27\n");
}

TEST(BmpReader, NoPaletteLeavesContextPaletteAlone) {
  TempDir dir;
  WriteFile(dir.File("a.bmp"), Bmp({1, 1, 24, 0, {}, {}, {1, 2, 3, 0}}));
  auto ctx = std::make_unique<ImageFileContext>();
  ctx->palette[5] = 0x123456;
  ASSERT_EQ(OpenRead(ctx.get(), dir.File("a.bmp").c_str()), 0);
  EXPECT_EQ(ctx->palette[5], 0x123456u);
  EXPECT_EQ(ctx->frame_size, 54 + 4);
  Close(ctx.get());
}

}  // namespace
}  // namespace ImageFileIO
