#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

struct TgaHeader {
  int id_length = 0;
  int map_type = 0;
  int type = 2;
  int map_first = 0, map_length = 0, map_bits = 0;
  int width = 1, height = 1, depth = 24, descriptor = 0;
};

std::vector<uint8_t> Header(const TgaHeader& h) {
  std::vector<uint8_t> out = {uint8_t(h.id_length), uint8_t(h.map_type), uint8_t(h.type)};
  PutLe16(&out, uint32_t(h.map_first));
  PutLe16(&out, uint32_t(h.map_length));
  out.push_back(uint8_t(h.map_bits));
  PutLe32(&out, 0);  // x and y origin
  PutLe16(&out, uint32_t(h.width));
  PutLe16(&out, uint32_t(h.height));
  out.push_back(uint8_t(h.depth));
  out.push_back(uint8_t(h.descriptor));
  for (int i = 0; i < h.id_length; ++i) out.push_back(uint8_t('a' + i % 26));
  return out;
}

std::vector<uint8_t> Image(const TgaHeader& h, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out = Header(h);
  Append(&out, body);
  return out;
}

struct TgaCase {
  const char* name;
  std::vector<uint8_t> bytes;
  int32_t open_result;
  std::string description;
  int orientation;
  std::vector<uint32_t> pixels;
  int32_t row_result = 0;
};

TEST(TgaReader, VariantsOrientationAndRunLength) {
  TgaHeader rgb24;
  rgb24.width = 2;
  TgaHeader top_right = rgb24;
  top_right.descriptor = 0x30;
  TgaHeader grey;
  grey.type = 3, grey.depth = 8, grey.width = 2, grey.descriptor = 0x20;
  TgaHeader rgb16;
  rgb16.depth = 16, rgb16.descriptor = 0x10;
  TgaHeader rgb32;
  rgb32.depth = 32;
  TgaHeader mapped;  // 24-bit map of 2 entries starting at index 10
  mapped.map_type = 1, mapped.type = 1, mapped.depth = 8, mapped.width = 3;
  mapped.map_first = 10, mapped.map_length = 2, mapped.map_bits = 24, mapped.id_length = 5;
  // Run-length 24-bit, 3 x 2: a run of 4 crosses the end of the first row, then a literal of 2.
  TgaHeader rle24;
  rle24.type = 10, rle24.width = 3, rle24.height = 2;
  TgaHeader rle_grey = rle24;
  rle_grey.type = 11, rle_grey.depth = 8;
  TgaHeader rle32 = rle24;
  rle32.depth = 32;
  TgaHeader rle_mapped = mapped;
  rle_mapped.type = 9, rle_mapped.width = 2, rle_mapped.id_length = 0;
  TgaHeader bad_depth = rgb24;
  bad_depth.depth = 0;
  TgaHeader rle16 = rgb24;
  rle16.type = 10, rle16.depth = 16;
  TgaHeader zero_width = rgb24;
  zero_width.width = 0;
  TgaHeader bad_map = mapped;
  bad_map.map_bits = 8;
  TgaHeader rle_short = rle24;

  const std::vector<TgaCase> cases = {
      {"24-bit bottom-left",
       Image(rgb24, {1, 2, 3, 4, 5, 6}),
       0,
       "TGA-24",
       4,
       {0x030201, 0x060504}},
      {"top-right", Image(top_right, {1, 2, 3, 4, 5, 6}), 0, "TGA-24", 2, {0x030201, 0x060504}},
      {"grey top-left", Image(grey, {0x10, 0xF0}), 0, "TGA-8g", 1, {0x101010, 0xF0F0F0}},
      {"16-bit bottom-right", Image(rgb16, {0x1F, 0x80}), 0, "TGA-16", 3, {0x0000FF}},
      {"32-bit", Image(rgb32, {1, 2, 3, 4}), 0, "TGA-32", 4, {0x04030201}},
      {"colour map",
       Image(mapped, {1, 2, 3, 4, 5, 6, 10, 11, 0}),
       0,
       "TGA-8",
       4,
       {0x030201, 0x060504, 0}},
      {"rle 24",
       Image(rle24, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}),
       0,
       "TGA-24c",
       4,
       {0x030201, 0x030201, 0x030201, 0x030201, 0x060504, 0x090807}},
      {"rle grey",
       Image(rle_grey, {0x02, 1, 2, 3, 0x82, 9}),
       0,
       "TGA-8gc",
       4,
       {0x010101, 0x020202, 0x030303, 0x090909, 0x090909, 0x090909}},
      // A literal packet crossing the row end continues on the next row.
      {"rle 32 literal across rows",
       Image(rle32,
             {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0x81, 0, 0, 0, 0xFF}),
       0,
       "TGA-32c",
       4,
       {0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, 0xFF000000, 0xFF000000}},
      {"rle mapped",
       Image(rle_mapped, {9, 8, 7, 3, 2, 1, 0x81, 11}),
       0,
       "TGA-8c",
       4,
       {0x010203, 0x010203}},
      {"rle truncated",
       Image(rle_short, {0x85, 1, 2, 3}),
       0,
       "TGA-24c",
       4,
       {0x030201, 0x030201, 0x030201, 0x030201, 0x030201, 0x030201}},
      {"rle ends",
       Image(rle_short, {0x82, 1, 2, 3}),
       0,
       "TGA-24c",
       4,
       {0x030201, 0x030201, 0x030201},
       -22},
      {"depth 0", Image(bad_depth, {}), -14, "", 0, {}},
      {"rle 16-bit", Image(rle16, {}), -18, "", 0, {}},
      {"zero width", Image(zero_width, {}), -14, "", 0, {}},
      {"map entry size", Image(bad_map, {0, 0, 0, 0}), -17, "", 0, {}},
      {"short header", {0, 0, 2, 0, 0}, -48, "", 0, {}},
      {"short id", {40, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 'x'}, -28, "", 0, {}},
  };
  TempDir dir;
  for (const TgaCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("img"), c.bytes);
    Decoded d = DecodeExpectingOpen("tga:" + dir.File("img"), c.open_result);
    if (c.open_result != 0 || d.open_result != 0) continue;
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.orientation, c.orientation);
    EXPECT_EQ(d.row_result, c.row_result);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

TEST(TgaReader, ColourMapLimits) {
  TempDir dir;
  TgaHeader h;
  h.map_type = 1, h.type = 1, h.depth = 8, h.map_first = 10, h.map_bits = 32, h.width = 1;
  for (int length : {246, 247}) {
    h.map_length = length;
    std::vector<uint8_t> bytes = Header(h);
    bytes.resize(bytes.size() + size_t(4 * length), 0x7F);
    bytes.push_back(255);
    WriteFile(dir.File("img"), bytes);
    testing::internal::CaptureStderr();
    Decoded d = Decode(dir.File("img"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(d.open_result, length == 246 ? 0 : -15);
    if (length == 246) {
      EXPECT_EQ(d.pixels, std::vector<uint32_t>{0x7F7F7F7F});
    }
  }
  // A map that the file does not hold.
  h.map_length = 100;
  WriteFile(dir.File("img"), Header(h));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode("tga:" + dir.File("img")).open_result, -16);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -16\n");
}

TEST(TgaReader, FramesAndOffsets) {
  TempDir dir;
  TgaHeader h;
  h.id_length = 3, h.map_type = 1, h.type = 2, h.map_length = 2, h.map_bits = 24, h.width = 2;
  // Three equal images, each with its header, identification and (unused) colour map.
  std::vector<uint8_t> file;
  for (uint8_t frame = 0; frame < 3; ++frame) {
    Append(&file, Image(h, {0, 0, 0, 0, 0, 0, frame, 1, 2, frame, 3, 4}));
  }
  WriteFile(dir.File("seq.tga"), file);
  for (int frame = 0; frame < 3; ++frame) {
    Decoded d = Decode(dir.File("seq.tga:" + std::to_string(frame)));
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.pixels[0], 0x020100u + uint32_t(frame)) << frame;
  }
  // A byte offset: the image starts 1,024 bytes into the file.
  std::vector<uint8_t> shifted(1024, 0xEE);
  Append(&shifted, file);
  WriteFile(dir.File("a.tga"), shifted);
  Decoded d = Decode(dir.File("a.tga:@1024"));
  ASSERT_EQ(d.open_result, 0);
  EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0x020100, 0x040300}));
}

}  // namespace
}  // namespace ImageFileIO
