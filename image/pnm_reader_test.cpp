#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

struct PnmCase {
  const char* name;
  std::vector<uint8_t> bytes;
  int32_t open_result;
  std::string stderr_text;
  std::string description;
  int32_t width, height;
  std::vector<uint32_t> pixels;
};

std::vector<uint8_t> With(const std::string& header, const std::vector<uint8_t>& raster) {
  std::vector<uint8_t> out = Bytes(header);
  Append(&out, raster);
  return out;
}

// Trailing bytes after the raster, so that the file holds the 32 bytes the probe needs.
std::vector<uint8_t> Padded(std::vector<uint8_t> bytes) {
  bytes.resize(bytes.size() + 20, 0);
  return bytes;
}

TEST(PnmReader, HeadersVariantsAndPixels) {
  std::vector<uint8_t> p6 = Bytes("P6\n# made by hand\n4 2\n255\n");
  for (int i = 0; i < 24; ++i) p6.push_back(uint8_t(i * 10));
  std::vector<uint32_t> p6_pixels;
  for (uint32_t i = 0; i < 8; ++i) {
    p6_pixels.push_back((30 * i) << 16 | (30 * i + 10) << 8 | (30 * i + 20));
  }
  const std::vector<PnmCase> cases = {
      {"P6 with comment", p6, 0, "", "PPM-24r", 4, 2, p6_pixels},
      // The three skipped bytes take the '#': the comment becomes header text.
      {"P6#",
       Bytes("P6# comment\n4 2\n255\n" + std::string(24, 'x')),
       -7,
       "Error -7\n",
       "",
       0,
       0,
       {}},
      {"P5 16-bit", With("P5\n1 1\n65535\n", {0x12, 0x34}), 0, "", "PGM-16r", 1, 1, {0x121212}},
      {"P2 16-bit", Bytes("P2\n1 1\n65535\n4660\n"), 0, "", "PGM-16a", 1, 1, {0x121212}},
      // Other digits in a P1 raster are ignored.
      {"P1", Bytes("P1\n2 2\n0 1 2\n1 0\n"), 0, "", "PBM-1a", 2, 2, {0xFFFFFF, 0, 0, 0xFFFFFF}},
      {"P4",
       With("P4\n10 1\n", {0xFF, 0x40}),
       0,
       "",
       "PBM-1r",
       10,
       1,
       {0, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF, 0}},
      // Samples scale from 0..maxval to 0..255 (rounded; above maxval counts as maxval).
      {"P5 maxval 100",
       With("P5 4 1 100\n", {0, 1, 100, 200}),
       0,
       "",
       "PGM-8r",
       4,
       1,
       {0, 0x030303, 0xFFFFFF, 0xFFFFFF}},
      {"P2 maxval 1", Bytes("P2 2 1 1\n0 1\n"), 0, "", "PGM-8a", 2, 1, {0, 0xFFFFFF}},
      {"P6 maxval 15", With("P6 1 1 15\n", {15, 8, 1}), 0, "", "PPM-24r", 1, 1, {0xFF8811}},
      {"P5 maxval 1000", With("P5 1 1 1000\n", {0x01, 0xF4}), 0, "", "PGM-16r", 1, 1, {0x808080}},
      {"P3 maxval 4095", Bytes("P3 1 1 4095 4095 0 2048 "), 0, "", "PPM-48a", 1, 1, {0xFF0080}},
      // The last number may end with the input.
      {"P3", Bytes("P3\n2 1\n255\n1 2 3\n4 5 6"), 0, "", "PPM-24a", 2, 1, {0x010203, 0x040506}},
      {"P3 16-bit", Bytes("P3 1 1 65535 4660 22136 39612 "), 0, "", "PPM-48a", 1, 1, {0x12569A}},
      {"P6 48-bit",
       With("P6\n1 1\n65535\n", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}),
       0,
       "",
       "PPM-48r",
       1,
       1,
       {0x113355}},
      {"zero width", Bytes("P5\n0 2\n255\n" + std::string(8, 'x')), -7, "Error -7\n", "", 0, 0, {}},
      {"width above limit",
       Bytes("P5\n3000000000 2\n255\n" + std::string(8, 'x')),
       -7,
       "Error -5\nError -7\n",
       "",
       0,
       0,
       {}},
      {"size overflow",
       Bytes("P6\n2000000000 2000000000\n255\n" + std::string(8, 'x')),
       -9,
       "Error -9\n",
       "",
       0,
       0,
       {}},
      {"no maxval",
       Bytes("P5\n2 2\n# nothing follows the comment .............\n"),
       -10,
       "Error -3\nError -4\nError -10\n",
       "",
       0,
       0,
       {}},
      {"no raw separator",
       Bytes("P5 2 2                                  255"),
       -13,
       "Error -3\nError -13\n",
       "",
       0,
       0,
       {}},
  };
  TempDir dir;
  for (const PnmCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("img"), c.bytes);
    testing::internal::CaptureStderr();
    Decoded d = Decode("pnm:" + dir.File("img"));  // no probe: files may be shorter than 32 bytes
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.stderr_text);
    ASSERT_EQ(d.open_result, c.open_result);
    if (c.open_result != 0) continue;
    EXPECT_EQ(d.description, c.description);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(d.orientation, 0);
    EXPECT_EQ(d.row_result, 0);
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

TEST(PnmReader, TruncatedRastersFailTheirRow) {
  TempDir dir;
  const struct {
    std::vector<uint8_t> bytes;
    int32_t good_rows;
  } cases[] = {
      {With("P5\n4 2\n255\n", {1, 2, 3, 4, 5}), 1},
      {Bytes("P2\n2 2\n255\n1 2\n3"), 1},  // the input ends before the row's last number
      {Bytes("P1\n2 2\n0 1\n1                          "), 1},
  };
  for (const auto& c : cases) {
    WriteFile(dir.File("img"), c.bytes);
    testing::internal::CaptureStderr();
    Decoded d = Decode("pnm:" + dir.File("img"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error -22\n");
    EXPECT_EQ(d.open_result, 0);
    EXPECT_EQ(d.rows_read, c.good_rows);
    EXPECT_EQ(d.row_result, -22);
  }
}

TEST(PnmReader, PrefixSelectsReaderWithoutProbing) {
  TempDir dir;
  // "P6x" fails the probe's header check, but the reader skips those three bytes unexamined.
  WriteFile(dir.File("frame.raw"), Padded(With("P6x1 1 255 ", {1, 2, 3})));
  EXPECT_EQ(Decode(dir.File("frame.raw")).open_result, -2);
  Decoded d = Decode("ppm:" + dir.File("frame.raw"));
  ASSERT_EQ(d.open_result, 0);
  EXPECT_EQ(d.pixels, std::vector<uint32_t>{0x010203});
  // Upper-case and unknown prefixes are part of the file name, which is then probed.
  const std::vector<uint8_t> ppm = Padded(With("P6\n1 1\n255\n", {4, 5, 6}));
  for (const char* name : {"PPM:frame.raw", "png:x.png"}) {
    WriteFile(dir.path() + "/" + name, ppm);
    Decoded named = Decode(dir.path() + "/" + name);
    ASSERT_EQ(named.open_result, 0) << name;
    EXPECT_EQ(named.pixels, std::vector<uint32_t>{0x040506});
  }
  // A digit outside 1-6 reached through a prefix is refused silently.
  WriteFile(dir.File("seven"), Bytes("P7\n1 1\n255\n" + std::string(30, ' ')));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode("pnm:" + dir.File("seven")).open_result, -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // PNM sets no frame size: a frame number fails after the open.
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode(dir.File("frame.raw:0")).open_result, -2);
  WriteFile(dir.File("one.ppm"), ppm);
  EXPECT_EQ(Decode(dir.File("one.ppm:0")).open_result, 0);
  EXPECT_EQ(Decode(dir.File("one.ppm:1")).open_result, -78);
  testing::internal::GetCapturedStderr();
}

TEST(PnmReader, NullPathContinuesTheStream) {
  TempDir dir;
  std::vector<uint8_t> two = With("P5\n2 1\n255\n", {1, 2});
  Append(&two, Padded(With("P6\n1 1\n255\n", {7, 8, 9})));
  WriteFile(dir.File("two"), two);
  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(ctx.get(), dir.File("two").c_str()), 0);
  uint32_t row[2];
  ASSERT_EQ(ReadRow(row, ctx.get()), 0);
  EXPECT_EQ(row[1], 0x020202u);
  ASSERT_EQ(OpenRead(ctx.get(), nullptr), 0);
  EXPECT_STREQ(ctx->description, "PPM-24r");
  ASSERT_EQ(ReadRow(row, ctx.get()), 0);
  EXPECT_EQ(row[0], 0x070809u);
  EXPECT_EQ(OpenRead(ctx.get(), nullptr), -3);  // nothing follows
  Close(ctx.get());
}

TEST(PnmReader, StandardInput) {
  StdinFrom in(Padded(With("P5\n2 1\n255\n", {9, 10})));
  Decoded d = Decode("-");
  ASSERT_EQ(d.open_result, 0);
  EXPECT_EQ(d.pixels, (std::vector<uint32_t>{0x090909, 0x0A0A0A}));
}

}  // namespace
}  // namespace ImageFileIO
