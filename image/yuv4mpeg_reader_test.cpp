#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"
#include "image/pixel_convert.h"

namespace ImageFileIO {
namespace {

using testing_util::Bytes;
using testing_util::TempDir;
using testing_util::WriteFile;

// The pixel the (studio range) YCbCr converter makes of one sample triple.
uint32_t Rgb(uint8_t y, uint8_t cb, uint8_t cr) {
  PlanarRows rows{{&y, &cb, &cr}};
  uint32_t pixel;
  ConvertYCbCrRows8Limited(&pixel, reinterpret_cast<const uint8_t*>(&rows), 1);
  return pixel;
}

struct Opened {
  int32_t result;
  std::unique_ptr<ImageFileContext> ctx = std::make_unique<ImageFileContext>();
};

Opened Open(const TempDir& dir, const std::vector<uint8_t>& bytes, const std::string& suffix = "",
            const std::string& prefix = "") {
  WriteFile(dir.File("v.y4m"), bytes);
  Opened o;
  o.result = OpenRead(o.ctx.get(), (prefix + dir.File("v.y4m") + suffix).c_str());
  return o;
}

TEST(Yuv4mpegReader, HeaderTokens) {
  struct Case {
    const char* header;
    int32_t result;
    int chroma_format, chroma_flags, channels, bits;
    int64_t frame_size;
    const char* description;
  };
  const Case cases[] = {
      {"YUV4MPEG2 W720 H576 F25:1 Ip A128:117 C420paldv\nFRAME\n", 0, 2, 0x10, 3, 12, 622086,
       "YUV4MPEG_420"},
      {"YUV4MPEG2 W4 H2 C444alpha\nFRAME\n", 0, 7, 0, 4, 32, 4 * 8 + 6, "YUV4MPEG_444"},
      {"YUV4MPEG2 W4 H2\nFRAME\n", 0, 2, 0, 3, 12, 12 + 6, "YUV4MPEG_420"},
      {"YUV4MPEG2 W4 H2 It C420jpeg XYSCSS=420JPEG\nFRAME\n", 0, 2, 0x0E, 3, 12, 18,
       "YUV4MPEG_420"},
      {"YUV4MPEG2 W4 H2 Ib C420mpeg2\nFRAME\n", 0, 2, 0x09, 3, 12, 18, "YUV4MPEG_420"},
      {"YUV4MPEG2\tW8\tH2\tC411\nFRAME\n", 0, 3, 0, 3, 12, 24 + 6, "YUV4MPEG_411"},
      {"YUV4MPEG2 W4 H2 C422\nFRAME\n", 0, 4, 0, 3, 16, 16 + 6, "YUV4MPEG_422"},
      {"YUV4MPEG2 W4 H2 Cmono\nFRAME\n", 0, 1, 0, 1, 8, 8 + 6, "YUV4MPEG_400"},
      {"YUV4MPEG2 W4 H2 C444\nFRAME\n", 0, 6, 0, 3, 24, 24 + 6, "YUV4MPEG_444"},
      {"YUV4MPEG3 W4 H2\nFRAME\n", -101, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2 C420\nFRAME\n", -105, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2 Iz\nFRAME\n", -106, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2 F25\nFRAME\n", -104, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2 A1\nFRAME\n", -103, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2 Q1\nFRAME\n", -108, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2\nFRAMX\n", -110, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4 H2\nFRAME Ib\n", -112, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 H2\nFRAME\n", -113, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W4\nFRAME\n", -114, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W0 H2\nFRAME\n", -113, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W99999999999 H99999999999\nFRAME\n", -113, 0, 0, 0, 0, 0, ""},
      {"YUV4MPEG2 W65536 H65536\nFRAME\n", -114, 0, 0, 0, 0, 0, ""},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    std::vector<uint8_t> file = Bytes(c.header);
    file.resize(file.size() + 64, 0);  // room for a small frame
    Opened o = Open(dir, file, "", "yuv:");
    EXPECT_EQ(o.result, c.result);
    if (o.result == 0) {
      const std::string header(c.header);
      EXPECT_EQ(o.ctx->chroma_format, c.chroma_format);
      EXPECT_EQ(o.ctx->chroma_flags, c.chroma_flags);
      EXPECT_EQ(o.ctx->channels, c.channels);
      EXPECT_EQ(o.ctx->bits_per_pixel, c.bits);
      EXPECT_EQ(o.ctx->frame_size, c.frame_size);
      EXPECT_EQ(o.ctx->first_frame_offset, int64_t(header.size()));
      EXPECT_STREQ(o.ctx->description, c.description);
    }
    Close(o.ctx.get());
  }
}

// Planes are read luma, Cb, Cr; flat chroma upsamples to itself, so every pixel is known.
TEST(Yuv4mpegReader, FramesOfEveryChromaLayout) {
  struct Case {
    const char* chroma;
    int chroma_width, chroma_height;  // of a 6 x 4 picture
  };
  const Case cases[] = {{"420jpeg", 3, 2}, {"420paldv", 3, 2}, {"411", 2, 4},
                        {"422", 3, 4},     {"444", 6, 4},      {"444alpha", 6, 4}};
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chroma);
    const int w = 6, h = 4;
    std::vector<uint8_t> file = Bytes(std::string("YUV4MPEG2 W6 H4 C") + c.chroma + "\n");
    for (int frame = 0; frame < 2; ++frame) {
      auto text = Bytes("FRAME\n");
      file.insert(file.end(), text.begin(), text.end());
      for (int i = 0; i < w * h; ++i) file.push_back(uint8_t(40 + 7 * i + frame));
      const int chroma = c.chroma_width * c.chroma_height;
      file.insert(file.end(), chroma, uint8_t(90 + frame));   // Cb
      file.insert(file.end(), chroma, uint8_t(170 - frame));  // Cr
      if (std::string(c.chroma) == "444alpha") file.insert(file.end(), w * h, 255);
    }
    // Frame 1 by its number, and by reading on past frame 0.
    for (int start = 0; start < 2; ++start) {
      Opened o = Open(dir, file, start ? ":1" : "");
      ASSERT_EQ(o.result, 0);
      std::vector<uint32_t> row(w);
      for (int frame = start; frame < 2; ++frame)
        for (int y = 0; y < h; ++y) {
          ASSERT_EQ(ReadRow(row.data(), o.ctx.get()), 0);
          for (int x = 0; x < w; ++x)
            EXPECT_EQ(row[x], Rgb(uint8_t(40 + 7 * (y * w + x) + frame), uint8_t(90 + frame),
                                  uint8_t(170 - frame)))
                << "frame " << frame << " at " << x << "," << y;
        }
      Close(o.ctx.get());
    }
  }
}

TEST(Yuv4mpegReader, MonoAndTruncatedFrames) {
  TempDir dir;
  std::vector<uint8_t> mono = Bytes("YUV4MPEG2 W3 H2 Cmono\nFRAME\n");
  mono.insert(mono.end(), {10, 20, 30, 40, 50, 60});
  Opened o = Open(dir, mono);
  ASSERT_EQ(o.result, 0);
  std::vector<uint32_t> row(3);
  ASSERT_EQ(ReadRow(row.data(), o.ctx.get()), 0);
  ASSERT_EQ(ReadRow(row.data(), o.ctx.get()), 0);
  EXPECT_EQ(row[2], 0x333333u);  // studio range: (60 - 16) x 255 / 219 = 51
  Close(o.ctx.get());

  std::vector<uint8_t> cut = Bytes("YUV4MPEG2 W8 H8\nFRAME\n");
  cut.resize(cut.size() + 50, 128);  // a 4:2:0 frame needs 96 bytes
  Opened t = Open(dir, cut);
  ASSERT_EQ(t.result, 0);
  std::vector<uint32_t> row8(8);
  EXPECT_EQ(ReadRow(row8.data(), t.ctx.get()), -22);
  Close(t.ctx.get());
}

// XCOLORRANGE=FULL takes samples as full range; LIMITED, or no tag, as studio range (16..235
// luma, 16..240 chroma), where BT.601 red is 81, 90, 240.
TEST(Yuv4mpegReader, ColourRange) {
  struct Case {
    const char* tag;
    std::vector<uint32_t> pixels;  // of Y Cb Cr: 16 128 128, 235 128 128, 81 90 240; mono 235
  };
  const Case cases[] = {
      {"", {0x000000, 0xFFFFFF, 0xFF0000, 0xFFFFFF}},
      {" XCOLORRANGE=LIMITED", {0x000000, 0xFFFFFF, 0xFF0000, 0xFFFFFF}},
      {" XCOLORRANGE=FULL", {0x101010, 0xEBEBEB, 0xEE0E0E, 0xEBEBEB}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    std::vector<uint8_t> file = Bytes(std::string("YUV4MPEG2 W3 H1 C444") + c.tag + "\nFRAME\n");
    file.insert(file.end(), {16, 235, 81, 128, 128, 90, 128, 128, 240});
    Opened o = Open(dir, file);
    ASSERT_EQ(o.result, 0);
    std::vector<uint32_t> row(3);
    ASSERT_EQ(ReadRow(row.data(), o.ctx.get()), 0);
    for (int x = 0; x < 3; ++x) {
      for (int shift : {0, 8, 16})
        EXPECT_NEAR(int(row[x] >> shift & 255), int(c.pixels[x] >> shift & 255), 1) << x;
    }
    Close(o.ctx.get());
    std::vector<uint8_t> mono = Bytes(std::string("YUV4MPEG2 W1 H1 Cmono") + c.tag + "\nFRAME\n");
    mono.push_back(235);
    mono.insert(mono.end(), 32, 0);  // the probe reads 32 bytes
    Opened m = Open(dir, mono);
    ASSERT_EQ(m.result, 0);
    ASSERT_EQ(ReadRow(row.data(), m.ctx.get()), 0);
    EXPECT_EQ(row[0], c.pixels[3]);
    Close(m.ctx.get());
  }
}

// Frame offsets are 64-bit: a frame beyond 2 GiB of a (sparse) file is found.
TEST(Yuv4mpegReader, FramesBeyondTwoGigabytes) {
  TempDir dir;
  const std::string header = "YUV4MPEG2 W720 H576 C420jpeg\n";
  const int64_t frame_size = 720 * 576 * 3 / 2 + 6;
  const int64_t frame = 4000;  // 2.49e9 bytes in
  const int64_t offset = int64_t(header.size()) + frame * frame_size;
  ASSERT_GT(offset, int64_t{1} << 31);
  int fd = ::open(dir.File("big.y4m").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> start = Bytes(header + "FRAME\n");
  ASSERT_EQ(::pwrite(fd, start.data(), start.size(), 0), ssize_t(start.size()));
  std::vector<uint8_t> frame_bytes = Bytes("FRAME\n");
  frame_bytes.resize(frame_size, 0);
  std::fill(frame_bytes.begin() + 6, frame_bytes.begin() + 6 + 720, 77);  // first luma row
  std::fill(frame_bytes.begin() + 6 + 720 * 576, frame_bytes.end(), 128);
  ASSERT_EQ(::pwrite(fd, frame_bytes.data(), frame_bytes.size(), offset),
            ssize_t(frame_bytes.size()));
  ::close(fd);

  auto ctx = std::make_unique<ImageFileContext>();
  ASSERT_EQ(OpenRead(ctx.get(), (dir.File("big.y4m") + ":4000").c_str()), 0);
  std::vector<uint32_t> row(720);
  ASSERT_EQ(ReadRow(row.data(), ctx.get()), 0);
  EXPECT_EQ(row[0], Rgb(77, 128, 128));
  EXPECT_EQ(row[719], Rgb(77, 128, 128));
  Close(ctx.get());
}

}  // namespace
}  // namespace ImageFileIO
