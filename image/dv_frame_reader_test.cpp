#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/dv_decoder.h"
#include "image/dv_tables.h"
#include "image/image_file_io.h"
#include "image/image_for_test.h"

namespace ImageFileIO {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

// The first two DIF sequences of a frame by another encoder (testdata/dv/README.md); the rest of
// the frame is left zero, which does not decode.
std::vector<uint8_t> FixtureFrame(bool pal) {
  std::string path = std::string(KALVEX_SOURCE_DIR) + "/testdata/dv/" +
                     (pal ? "pal_sequences_0_1.dv" : "ntsc_sequences_0_1.dv");
  std::vector<uint8_t> frame((pal ? 12 : 10) * DvDecoder::kSequenceBytes, 0);
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (f) {
    EXPECT_EQ(std::fread(frame.data(), 1, 2 * DvDecoder::kSequenceBytes, f),
              size_t(2 * DvDecoder::kSequenceBytes));
    std::fclose(f);
  }
  return frame;
}

// The picture the fixture was made from, as RGB by the studio-range BT.601 rule (DV stores luma
// 16..235 and chroma 16..240).
void PatternRgb(int x, int y, bool pal, double rgb[3]) {
  double luma =
      128 + 50 * std::sin(x / 9.0 + y / 23.0) + 30 * std::cos(y / 7.0) * std::sin(x / 31.0);
  if (x >= 360 && (y & 1)) luma += 24;
  luma = std::clamp(std::round(luma), 16.0, 235.0);
  // Chroma samples sit at even (PAL: and even-line) luma positions.
  int cx = pal ? x & ~1 : x & ~3, cy = pal ? y & ~1 : y;
  auto chroma = [&](int k) {
    return std::round(128 +
                      60 * std::sin(cx / (40.0 + k * 13) + k) * std::cos(cy / (50.0 + k * 7)));
  };
  const double luma_full = (luma - 16) * 255 / 219;
  const double cb = (chroma(0) - 128) * 255 / 224, cr = (chroma(1) - 128) * 255 / 224;
  rgb[0] = luma_full + 1.402 * cr;
  rgb[1] = luma_full - 0.344136 * cb - 0.714136 * cr;
  rgb[2] = luma_full + 1.772 * cb;
}

// Reads every row of an open DV frame and compares the inside of the macroblocks of sequences 0
// and 1 with the picture (away from macroblock edges, where chroma interpolates into
// undecoded neighbours).
void ExpectFixturePicture(ImageFileContext* ctx, bool pal) {
  std::vector<uint32_t> image(size_t(ctx->width) * ctx->height);
  for (int y = 0; y < ctx->height; ++y)
    ASSERT_EQ(ReadRow(image.data() + size_t(y) * ctx->width, ctx), 0) << "row " << y;
  double sum = 0;
  int count = 0, worst = 0;
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < 27; ++k)
      for (int m = 0; m < 5; ++m) {
        DvTables::Placement p =
            pal ? DvTables::PlacementPAL(s, k, m) : DvTables::PlacementNTSC(s, k, m);
        int x0 = pal ? 16 * p.column : 32 * p.column, y0 = pal ? 16 * p.row : 8 * p.row;
        int w = pal || p.column == 22 ? 16 : 32, h = pal || p.column == 22 ? 16 : 8;
        for (int y = y0 + 3; y < y0 + h - 3; ++y)
          for (int x = x0 + 4; x < x0 + w - 4; ++x) {
            double rgb[3];
            PatternRgb(x, y, pal, rgb);
            uint32_t pixel = image[size_t(y) * ctx->width + x];
            int got[3] = {int(pixel >> 16 & 255), int(pixel >> 8 & 255), int(pixel & 255)};
            for (int c = 0; c < 3; ++c) {
              int d = int(std::abs(got[c] - std::clamp(rgb[c], 0.0, 255.0)));
              sum += d;
              ++count;
              worst = std::max(worst, d);
            }
          }
      }
  EXPECT_LT(sum / count, 2.5);
  EXPECT_LE(worst, 16);
}

TEST(DvFrameReader, PalFrameByProbe) {
  TempDir dir;
  WriteFile(dir.File("a.dv"), FixtureFrame(true));
  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(ctx.get(), dir.File("a.dv").c_str()), 0);
  EXPECT_EQ(ctx->format_id, uint32_t(kFormatPALDV));
  EXPECT_EQ(ctx->width, 720);
  EXPECT_EQ(ctx->height, 576);
  EXPECT_EQ(ctx->chroma_format, 2);
  EXPECT_EQ(ctx->chroma_flags, 0x10);
  EXPECT_EQ(ctx->frame_size, 144000);
  EXPECT_STREQ(ctx->description, "PAL-DV");
  ExpectFixturePicture(ctx.get(), true);
  Close(ctx.get());
}

// Frame n of a file of frames starts at n x 120,000 bytes. The fixture's writer sets the
// application ids of its header block to 1, which the probe must not mind.
TEST(DvFrameReader, NtscFrameByNumber) {
  TempDir dir;
  std::vector<uint8_t> frame = FixtureFrame(false);
  std::vector<uint8_t> file;
  for (int n = 0; n < 4; ++n) file.insert(file.end(), frame.begin(), frame.end());
  WriteFile(dir.File("b.dv"), file);
  EXPECT_EQ(ProbeFormat(frame.data()), int32_t(kFormatNTSCDV));
  for (const char* prefix : {"ntscdv:", ""}) {
    SCOPED_TRACE(prefix);
    auto ctx = std::make_unique<ImageFileContext>();
    ASSERT_EQ(OpenRead(ctx.get(), (prefix + dir.File("b.dv") + ":3").c_str()), 0);
    EXPECT_EQ(ctx->format_id, uint32_t(kFormatNTSCDV));
    EXPECT_EQ(ctx->height, 480);
    EXPECT_EQ(ctx->chroma_format, 3);
    EXPECT_EQ(ctx->frame_size, 120000);
    EXPECT_STREQ(ctx->description, "NTSC-DV");
    ExpectFixturePicture(ctx.get(), false);
    Close(ctx.get());
  }
}

// Frame offsets are 64-bit: frame 20,000 lies 2.88e9 bytes into a (sparse) file.
TEST(DvFrameReader, FrameBeyondTwoGigabytes) {
  TempDir dir;
  std::vector<uint8_t> frame = FixtureFrame(true);
  const int64_t offset = int64_t{20000} * 144000;
  int fd = ::open(dir.File("big.dv").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, frame.data(), frame.size(), offset), ssize_t(frame.size()));
  ::close(fd);
  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(ctx.get(), ("paldv:" + dir.File("big.dv") + ":20000").c_str()), 0);
  ExpectFixturePicture(ctx.get(), true);
  Close(ctx.get());
}

TEST(DvFrameReader, ShortFileFailsTheRow) {
  TempDir dir;
  std::vector<uint8_t> frame = FixtureFrame(true);
  frame.resize(100000);
  WriteFile(dir.File("short.dv"), frame);
  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(ctx.get(), dir.File("short.dv").c_str()), 0);
  std::vector<uint32_t> row(720);
  EXPECT_EQ(ReadRow(row.data(), ctx.get()), -22);
  Close(ctx.get());
}

}  // namespace
}  // namespace ImageFileIO
