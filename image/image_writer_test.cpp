#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using namespace testing_util;

// Writes rows (height x width pixels) as one image; returns the result of Close, or the first
// failing call's result.
int32_t WriteImage(const std::string& path, int32_t type, int32_t width, int32_t height,
                   int32_t bits, const std::vector<uint32_t>& pixels) {
  auto ctx = std::make_unique<ImageFileContext>();
  int32_t r = OpenWrite(ctx.get(), path.c_str(), type, width, height, bits);
  for (int32_t y = 0; r == 0 && y < height; ++y) {
    r = WriteRow(pixels.data() + size_t(y) * size_t(width), ctx.get());
  }
  int32_t closed = Close(ctx.get());
  return r != 0 ? r : closed;
}

std::vector<uint8_t> Tail(const std::vector<uint8_t>& bytes, size_t from) {
  return std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(from), bytes.end());
}

TEST(ImageWriter, ExactHeadersAndPixelBytes) {
  TempDir dir;
  const std::vector<uint32_t> six = {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112};
  ASSERT_EQ(WriteImage(dir.File("a.ppm"), kWritePNM, 3, 2, 24, six), 0);
  std::vector<uint8_t> ppm = ReadFile(dir.File("a.ppm"));
  ASSERT_EQ(ppm.size(), 32u + 18u);
  EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + 32), "P6\n          3          2\n  255\n");
  EXPECT_EQ(Tail(ppm, 32),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));

  ASSERT_EQ(WriteImage(dir.File("b.pgm"), kWritePNM, 1, 1, 48, {0x00102030}), 0);
  std::vector<uint8_t> p48 = ReadFile(dir.File("b.pgm"));
  EXPECT_EQ(std::string(p48.begin(), p48.begin() + 32), "P6\n          1          1\n65535\n");
  EXPECT_EQ(Tail(p48, 32), (std::vector<uint8_t>{0x10, 0, 0x20, 0, 0x30, 0}));

  ASSERT_EQ(WriteImage(dir.File("c.pgm"), kWritePNM, 1, 1, 16, {0xFFFFFF}), 0);
  std::vector<uint8_t> p16 = ReadFile(dir.File("c.pgm"));
  EXPECT_EQ(std::string(p16.begin(), p16.begin() + 3), "P5\n");
  EXPECT_EQ(Tail(p16, 32), (std::vector<uint8_t>{0xFF, 0x00}));

  // Grey TGA of pure red: (19 x 255 + 32) >> 6 = 76.
  ASSERT_EQ(WriteImage(dir.File("d.tga"), kWriteTGA, 2, 1, 8, {0xFF0000, 0x00FF00}), 0);
  std::vector<uint8_t> tga = ReadFile(dir.File("d.tga"));
  const std::vector<uint8_t> header = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x20};
  EXPECT_EQ(std::vector<uint8_t>(tga.begin(), tga.begin() + 18), header);
  EXPECT_EQ(Tail(tga, 18), (std::vector<uint8_t>{76, 143}));

  ASSERT_EQ(WriteImage(dir.File("e.tga"), kWriteTGA, 1, 1, 24, {0x010203}), 0);
  std::vector<uint8_t> tga24 = ReadFile(dir.File("e.tga"));
  EXPECT_EQ(tga24[2], 2);
  EXPECT_EQ(tga24[16], 24);
  EXPECT_EQ(Tail(tga24, 18), (std::vector<uint8_t>{3, 2, 1}));
}

std::vector<uint32_t> Grey(const std::vector<int>& values) {
  std::vector<uint32_t> out;
  for (int v : values) out.push_back(uint32_t(v) * 0x010101u);
  return out;
}

TEST(ImageWriter, RunLengthPackets) {
  std::vector<int> all_different(130);
  for (int i = 0; i < 130; ++i) all_different[size_t(i)] = i;
  const struct {
    const char* name;
    std::vector<int> row;
    std::vector<int> packets;  // header counts: +n run of n, -n literal of n
  } cases[] = {
      {"200 equal", std::vector<int>(200, 9), {128, 72}},
      {"130 different", all_different, {-127, -3}},
      {"ends in a pair", {1, 2, 3, 3}, {-2, 2}},
      {"single", {5}, {-1}},
      {"two different", {5, 6}, {-2}},
      {"pair inside", {1, 2, 2, 3}, {-1, 2, -1}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int32_t w = int32_t(c.row.size());
    ASSERT_EQ(WriteImage(dir.File("r.tga"), kWriteTGARLE, w, 1, 8, Grey(c.row)), 0);
    std::vector<uint8_t> file = ReadFile(dir.File("r.tga"));
    EXPECT_EQ(file[2], 11);
    std::vector<int> packets;
    size_t at = 18;
    while (at < file.size()) {
      const int h = file[at++];
      if (h >= 128) {
        packets.push_back(h - 127);
        at += 1;
      } else {
        packets.push_back(-(h + 1));
        at += size_t(h + 1);
      }
    }
    EXPECT_EQ(at, file.size());
    EXPECT_EQ(packets, c.packets);
    // The reader gives the row back.
    Decoded d = Decode("tga:" + dir.File("r.tga"));
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.description, "TGA-8gc");
    EXPECT_EQ(d.pixels, Grey(c.row));
  }
}

std::vector<uint32_t> TestPicture(int32_t w, int32_t h) {
  std::vector<uint32_t> px;
  uint32_t x = 99;
  for (int32_t i = 0; i < w * h; ++i) {
    x = x * 1664525 + 1013904223;
    // Stretches of equal pixels between noise, so that both run and literal packets appear.
    px.push_back((i / 7) % 3 == 0 ? 0x00336699u : (x >> 8) & 0xFFFFFF);
  }
  return px;
}

uint32_t GreyOf(uint32_t p) {
  uint32_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
  return ((9 * b + 36 * g + 19 * r + 32) >> 6) * 0x010101u;
}

uint32_t Grey16Of(uint32_t p) {
  uint32_t b = p & 0xFF, g = (p >> 8) & 0xFF, r = (p >> 16) & 0xFF;
  return ((76 * r + 144 * g + 36 * b) >> 8) * 0x010101u;
}

TEST(ImageWriter, RoundTripsThroughReaders) {
  // 300 x 200 pixels: every format's output crosses at least one 65,536-byte block.
  const int32_t w = 300, h = 200;
  const std::vector<uint32_t> picture = TestPicture(w, h);
  const struct {
    const char* name;
    int32_t type, bits;
    const char* description;
    uint32_t (*expect)(uint32_t);
  } cases[] = {
      {"pnm 8", kWritePNM, 8, "PGM-8r", GreyOf},
      {"pnm 16", kWritePNM, 16, "PGM-16r", Grey16Of},
      {"pnm 24", kWritePNM, 24, "PPM-24r", [](uint32_t p) { return p; }},
      {"pnm 48", kWritePNM, 48, "PPM-48r", [](uint32_t p) { return p; }},
      {"tga 8", kWriteTGA, 8, "TGA-8g", GreyOf},
      {"tga 24", kWriteTGA, 24, "TGA-24", [](uint32_t p) { return p; }},
      {"rle 8", kWriteTGARLE, 8, "TGA-8gc", GreyOf},
      {"rle 24", kWriteTGARLE, 24, "TGA-24c", [](uint32_t p) { return p; }},
      {"png 24", kWritePNG, 24, "PNG-24", [](uint32_t p) { return p; }},
      {"png 48", kWritePNG, 48, "PNG-48", [](uint32_t p) { return p; }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(WriteImage(dir.File("img"), c.type, w, h, c.bits, picture), 0);
    Decoded d = Decode(dir.File("img"));
    ASSERT_EQ(d.open_result, 0);
    EXPECT_EQ(d.description, c.description);
    ASSERT_EQ(d.rows_read, h);
    if (c.type == kWriteTGA || c.type == kWriteTGARLE) {
      EXPECT_EQ(d.orientation, 1);
    }
    for (size_t i = 0; i < picture.size(); ++i) {
      ASSERT_EQ(d.pixels[i] & 0xFFFFFF, c.expect(picture[i])) << i;
    }
  }
}

TEST(ImageWriter, OpenErrors) {
  TempDir dir;
  auto ctx = std::make_unique<ImageFileContext>();
  const struct {
    int32_t type, bits, width;
    int32_t result;
  } cases[] = {
      {kWritePNM, 32, 2, -1},
      {kWriteTGA, 16, 2, -1},
      {kWriteTGARLE, 32, 2, -1},
      {kWritePNG, 8, 2, -1},
      {3, 24, 2, -2},
      {11, 24, 2, -2},
      {kWritePNM, 24, 0, -1},
      {kWriteTGA, 24, 70000, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OpenWrite(ctx.get(), dir.File("x").c_str(), c.type, c.width, 2, c.bits), c.result)
        << c.type << " " << c.bits;
    EXPECT_EQ(Close(ctx.get()), 0);
  }
  EXPECT_EQ(OpenWrite(ctx.get(), dir.File("no/such/dir").c_str(), kWritePNM, 1, 1, 24), -1);
  Close(ctx.get());
}

TEST(ImageWriter, WriteErrorsAreReported) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const std::vector<uint32_t> picture = TestPicture(300, 200);
  for (int32_t type : {kWritePNM, kWriteTGA, kWriteTGARLE, kWritePNG}) {
    SCOPED_TRACE(type);
    // Large: a row fails once the first block is due, and every later row too.
    auto ctx = std::make_unique<ImageFileContext>();
    ASSERT_EQ(OpenWrite(ctx.get(), "/dev/full", type, 300, 200, 24), 0);
    int32_t first_failure = 0, failures = 0;
    for (int y = 0; y < 200; ++y) {
      int32_t r = WriteRow(picture.data() + 300 * y, ctx.get());
      if (r != 0 && first_failure == 0) first_failure = r;
      failures += r != 0;
    }
    EXPECT_LT(first_failure, 0);
    EXPECT_GT(failures, 10);
    EXPECT_EQ(Close(ctx.get()), first_failure);
    // Small: everything waits until Close, whose final write fails.
    EXPECT_LT(WriteImage("/dev/full", type, 4, 4, 24, TestPicture(4, 4)), 0);
  }
}

TEST(ImageWriter, StandardOutputStaysOpen) {
  TempDir dir;
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int file = ::open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  ::dup2(file, 1);
  ::close(file);
  const int32_t result = WriteImage("-", kWritePNM, 1, 1, 8, {0x808080});
  const bool still_open = ::fcntl(1, F_GETFD) != -1;
  ::dup2(saved, 1);
  ::close(saved);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(still_open);
  std::vector<uint8_t> out = ReadFile(dir.File("out"));
  ASSERT_EQ(out.size(), 33u);
  EXPECT_EQ(out[32], 0x80);
}

TEST(ImageWriter, StreamOfImagesAndFileMode) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenWrite(ctx.get(), dir.File("two").c_str(), kWritePNM, 2, 1, 24), 0);
  const uint32_t first[2] = {0x010203, 0x040506};
  ASSERT_EQ(WriteRow(first, ctx.get()), 0);
  ASSERT_EQ(OpenWrite(ctx.get(), nullptr, kWritePNG, 1, 1, 24), 0);
  const uint32_t second = 0x0A0B0C;
  ASSERT_EQ(WriteRow(&second, ctx.get()), 0);
  ASSERT_EQ(Close(ctx.get()), 0);
  ::umask(old_mask);
  struct stat st;
  ASSERT_EQ(::stat(dir.File("two").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  auto in = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(in.get(), dir.File("two").c_str()), 0);
  uint32_t row[2];
  ASSERT_EQ(ReadRow(row, in.get()), 0);
  EXPECT_EQ(row[1], 0x040506u);
  ASSERT_EQ(OpenRead(in.get(), nullptr), 0);
  EXPECT_STREQ(in->description, "PNG-24");
  ASSERT_EQ(ReadRow(row, in.get()), 0);
  EXPECT_EQ(row[0], 0x0A0B0Cu);
  Close(in.get());
}

}  // namespace
}  // namespace ImageFileIO
