#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

struct DpxShape {
  bool big_endian = true;
  uint32_t width = 2, height = 1;
  uint8_t descriptor = 50;
  uint8_t bits = 8;
  uint16_t orientation = 0;
  uint32_t data_offset = 1408;
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (big ? 24 - 8 * i : 8 * i));
}

std::vector<uint8_t> DpxHeader(const DpxShape& s) {
  std::vector<uint8_t> b(1408, 0);
  const char* magic = s.big_endian ? "SDPX" : "XPDS";
  std::copy(magic, magic + 4, b.begin());
  Put32(b, 4, s.data_offset, s.big_endian);
  b[768] = uint8_t(s.big_endian ? s.orientation >> 8 : s.orientation);
  b[769] = uint8_t(s.big_endian ? s.orientation : s.orientation >> 8);
  Put32(b, 772, s.width, s.big_endian);
  Put32(b, 776, s.height, s.big_endian);
  b[800] = s.descriptor;
  b[803] = s.bits;
  if (s.data_offset > 1408) b.resize(s.data_offset, 0);
  return b;
}

struct Opened {
  int32_t result;
  std::unique_ptr<ImageFileContext> ctx;
  std::vector<uint32_t> pixels;
};

Opened OpenAndRead(const std::vector<uint8_t>& bytes, const std::string& prefix = "",
                   const std::string& suffix = "") {
  TempDir dir;
  WriteFile(dir.File("f"), bytes);
  Opened o{0, std::make_unique<ImageFileContext>(), {}};
  o.result = OpenRead(o.ctx.get(), (prefix + dir.File("f") + suffix).c_str());
  if (o.result == 0) {
    std::vector<uint32_t> row(o.ctx->width);
    for (int r = 0; r < o.ctx->height; ++r) {
      if (ReadRow(row.data(), o.ctx.get()) != 0) break;
      o.pixels.insert(o.pixels.end(), row.begin(), row.end());
    }
  }
  Close(o.ctx.get());
  return o;
}

TEST(DpxReader, HeaderLayouts) {
  struct Case {
    DpxShape shape;
    int32_t row_bytes;
    int64_t frame_size;
    int orientation;
    const char* description;
  };
  auto shape = [](bool big, uint32_t w, uint32_t h, uint8_t descriptor, uint8_t bits,
                  uint16_t orientation) {
    DpxShape s;
    s.big_endian = big, s.width = w, s.height = h, s.descriptor = descriptor, s.bits = bits;
    s.orientation = orientation;
    return s;
  };
  const Case cases[] = {
      {shape(true, 2048, 1556, 50, 10, 0), 8192, 1408 + 1556 * 8192LL, 1, "DPX-RGB10"},
      {shape(false, 1920, 1080, 100, 10, 1), 5120, 1408 + 1080 * 5120LL, 2, "DPX-UYVY10"},
      {shape(false, 5, 2, 50, 8, 9), 16, 1408 + 2 * 16, 0, "DPX-RGB8"},
      {shape(true, 5, 2, 50, 16, 7), 32, 1408 + 2 * 32, 8, "DPX-RGB16"},
      {shape(true, 5, 2, 50, 12, 3), 32, 1408 + 2 * 32, 4, "DPX-RGB12"},
      {shape(true, 5, 2, 100, 8, 0), 12, 1408 + 2 * 12, 1, "DPX-UYVY8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    auto ctx = std::make_unique<ImageFileContext>();
    TempDir dir;
    WriteFile(dir.File("h.dpx"), DpxHeader(c.shape));
    ASSERT_EQ(OpenRead(ctx.get(), dir.File("h.dpx").c_str()), 0);
    EXPECT_EQ(ctx->row_bytes, c.row_bytes);
    EXPECT_EQ(ctx->frame_size, c.frame_size);
    EXPECT_EQ(ctx->first_frame_offset, 1408);
    EXPECT_EQ(ctx->orientation, c.orientation);
    EXPECT_STREQ(ctx->description, c.description);
    Close(ctx.get());
  }
}

TEST(DpxReader, Pixels) {
  // 8-bit rows are red, green, blue in either byte order; rows pad to 4 bytes.
  DpxShape s8;
  s8.big_endian = false, s8.width = 2, s8.height = 2, s8.bits = 8;
  std::vector<uint8_t> f8 = DpxHeader(s8);
  f8.insert(f8.end(), {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  Opened o8 = OpenAndRead(f8);
  ASSERT_EQ(o8.result, 0);
  EXPECT_EQ(o8.pixels, (std::vector<uint32_t>{0x010203, 0x040506, 0x070809, 0x0A0B0C}));

  // 16-bit little-endian samples: the high byte of each.
  DpxShape s16le;
  s16le.big_endian = false, s16le.width = 1, s16le.height = 1, s16le.bits = 16;
  std::vector<uint8_t> f16 = DpxHeader(s16le);
  f16.insert(f16.end(), {0x01, 0xA1, 0x02, 0xB2, 0x03, 0xC3, 0, 0});
  Opened o16 = OpenAndRead(f16);
  ASSERT_EQ(o16.result, 0);
  EXPECT_EQ(o16.pixels, (std::vector<uint32_t>{0xA1B2C3}));

  // 10-bit big-endian: red, green, blue in bits 22-31, 12-21, 2-11; the top 8 bits are kept.
  DpxShape s10;
  s10.width = 1, s10.height = 1, s10.bits = 10;
  std::vector<uint8_t> f10 = DpxHeader(s10);
  uint32_t word = (0x3FFu << 22) | (0x200u << 12) | (0x004u << 2);
  f10.insert(f10.end(),
             {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)});
  Opened o10 = OpenAndRead(f10);
  ASSERT_EQ(o10.result, 0);
  EXPECT_EQ(o10.pixels, (std::vector<uint32_t>{0xFF8001}));

  // Frames of equal files follow one another: frame 1 of two 1 x 1 16-bit files.
  DpxShape s16;
  s16.width = 1, s16.height = 1, s16.bits = 16;
  std::vector<uint8_t> two = DpxHeader(s16);
  two.insert(two.end(), {0x11, 0, 0x22, 0, 0x33, 0, 0, 0});
  std::vector<uint8_t> second = DpxHeader(s16);
  second.insert(second.end(), {0x44, 0, 0x55, 0, 0x66, 0, 0, 0});
  two.insert(two.end(), second.begin(), second.end());
  Opened frame1 = OpenAndRead(two, "dpx:", ":1");
  ASSERT_EQ(frame1.result, 0);
  EXPECT_EQ(frame1.pixels, (std::vector<uint32_t>{0x445566}));

  // A header whose image data starts beyond 1,408 bytes.
  DpxShape far = s8;
  far.data_offset = 2000;
  std::vector<uint8_t> ff = DpxHeader(far);
  ff.insert(ff.end(), {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  Opened of = OpenAndRead(ff);
  ASSERT_EQ(of.result, 0);
  EXPECT_EQ(of.pixels.size(), 4u);
  EXPECT_EQ(of.pixels[3], 0x0A0B0Cu);
}

TEST(DpxReader, RefusesBadHeaders) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t result;
  };
  DpxShape base;
  std::vector<Case> cases;
  std::vector<uint8_t> bad_magic = DpxHeader(base);
  bad_magic[0] = 'X';
  cases.push_back({"magic", bad_magic, -65});
  DpxShape d = base;
  d.descriptor = 51;
  cases.push_back({"descriptor", DpxHeader(d), -67});
  d = base;
  d.bits = 7;
  cases.push_back({"bit size", DpxHeader(d), -69});
  d = base;
  d.width = 0;
  cases.push_back({"zero width", DpxHeader(d), -68});
  d = base;
  d.width = 0x80000000u;
  d.height = 3;
  cases.push_back({"width beyond the library's sizes", DpxHeader(d), -68});
  d = base;
  d.width = 65536, d.height = 65536;
  cases.push_back({"too many pixels", DpxHeader(d), -68});
  std::vector<uint8_t> far = DpxHeader(base);
  Put32(far, 4, 100000, true);
  cases.push_back({"image data beyond the end", far, -66});
  std::vector<uint8_t> short_header = DpxHeader(base);
  short_header.resize(1000);
  cases.push_back({"short header", short_header, -64});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OpenAndRead(c.bytes, "dpx:").result, c.result);
  }
}

std::vector<uint8_t> CineonHeader(uint8_t bits, uint32_t width, uint32_t height,
                                  uint8_t orientation = 0) {
  std::vector<uint8_t> b(1024, 0);
  b[0] = 0x80, b[1] = 0x2A, b[2] = 0x5F, b[3] = 0xD7;
  Put32(b, 4, 1024, true);
  b[192] = orientation;
  b[198] = bits;
  Put32(b, 200, width, true);
  Put32(b, 204, height, true);
  return b;
}

TEST(CineonReader, PixelsAndErrors) {
  std::vector<uint8_t> f8 = CineonHeader(8, 1, 2, 1);
  f8.insert(f8.end(), {1, 2, 3, 0, 4, 5, 6, 0});
  Opened o8 = OpenAndRead(f8);
  ASSERT_EQ(o8.result, 0);
  EXPECT_EQ(o8.ctx->frame_size, 1024 + 2 * 4);
  EXPECT_EQ(o8.ctx->orientation, 2);
  EXPECT_STREQ(o8.ctx->description, "CIN-RGB8");
  EXPECT_EQ(o8.pixels, (std::vector<uint32_t>{0x010203, 0x040506}));

  std::vector<uint8_t> f10 = CineonHeader(10, 1, 1);
  uint32_t word = (0x100u << 22) | (0x3FCu << 12) | (0x00Cu << 2);
  f10.insert(f10.end(),
             {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)});
  Opened o10 = OpenAndRead(f10);
  ASSERT_EQ(o10.result, 0);
  EXPECT_EQ(o10.pixels, (std::vector<uint32_t>{0x40FF03}));

  EXPECT_EQ(OpenAndRead(CineonHeader(7, 1, 1), "cin:").result, -72);
  EXPECT_EQ(OpenAndRead(CineonHeader(8, 0, 1), "cin:").result, -73);
  EXPECT_EQ(OpenAndRead(CineonHeader(16, 0xFFFFFFFFu, 0xFFFFFFFFu), "cin:").result, -73);
  std::vector<uint8_t> short_header = CineonHeader(8, 1, 1);
  short_header.resize(600);
  EXPECT_EQ(OpenAndRead(short_header, "cin:").result, -70);
}

}  // namespace
}  // namespace ImageFileIO
