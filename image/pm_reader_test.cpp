#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

std::vector<uint8_t> Pm(bool big_endian, uint32_t planes, uint32_t rows, uint32_t cols,
                        uint32_t bands, uint32_t form, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = Bytes(big_endian ? "VIEW" : "WEIV");
  for (uint32_t w : {planes, rows, cols, bands, form, 0u}) {
    big_endian ? PutBe32(&out, w) : PutLe32(&out, w);
  }
  Append(&out, data);
  return out;
}

TEST(PmReader, VariantsAndErrors) {
  // Colour: one 4-byte word per pixel, rows stepped by 12 bytes per pixel.
  std::vector<uint8_t> colour_be = {0xFF, 3, 2, 1};
  colour_be.resize(12, 0xEE);
  Append(&colour_be, {0x80, 6, 5, 4});
  colour_be.resize(24, 0xEE);
  std::vector<uint8_t> colour_le = {1, 2, 3, 0x40};
  colour_le.resize(12, 0xEE);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t open_result;
    std::string description;
    std::vector<uint32_t> pixels;
  } cases[] = {
      {"grey 16 LE",
       Pm(false, 1, 1, 2, 1, 0x8002, {0x12, 0x34, 0x56, 0x78}),
       0,
       "PM-16(LE)",
       {0x343434, 0x787878}},
      {"grey 16 BE",
       Pm(true, 1, 1, 2, 1, 0x8002, {0x12, 0x34, 0x56, 0x78}),
       0,
       "PM-16(BE)",
       {0x121212, 0x565656}},
      {"grey 8 BE", Pm(true, 1, 2, 1, 1, 0x8001, {7, 9}), 0, "PM-8(BE)", {0x070707, 0x090909}},
      {"grey 8 LE", Pm(false, 1, 1, 1, 1, 0x8001, {7}), 0, "PM-8(LE)", {0x070707}},
      {"colour BE",
       Pm(true, 3, 2, 1, 1, 0x8004, colour_be),
       0,
       "PM-24(BE)",
       {0xFF010203, 0x80040506}},
      {"colour LE", Pm(false, 3, 1, 1, 1, 0x8004, colour_le), 0, "PM-24(LE)", {0x40010203}},
      {"two bands", Pm(true, 1, 1, 1, 2, 0x8001, {0}), -82, "", {}},
      {"five planes", Pm(true, 5, 1, 1, 1, 0x8001, {0}), -82, "", {}},
      {"form", Pm(true, 1, 1, 1, 1, 0x8008, {0}), -82, "", {}},
      {"negative width", Pm(true, 1, 1, 0xFFFFFFFF, 1, 0x8001, {0}), -82, "", {}},
      {"colour of one byte", Pm(true, 3, 1, 1, 1, 0x8001, {0, 0, 0}), -83, "", {}},
      {"four planes", Pm(true, 4, 1, 1, 1, 0x8004, std::vector<uint8_t>(16, 0)), -83, "", {}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = c.bytes;
    bytes.resize(bytes.size() < 32 ? 32 : bytes.size(), 0);  // the probe wants 32 bytes
    WriteFile(dir.File("img.pm"), bytes);
    Decoded d = DecodeExpectingOpen(dir.File("img.pm"), c.open_result);
    if (c.open_result != 0 || d.open_result != 0) continue;
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.orientation, 1);
    EXPECT_EQ(d.row_result, 0);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

}  // namespace
}  // namespace ImageFileIO
