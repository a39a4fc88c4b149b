#include "image/sequence_loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/image_file_io.h"
#include "image/sequence_for_test.h"
#include "image/sequence_info.h"

namespace {

using ImageFileIO::testing_util::TempDir;
using sequence_test::StoredPixel;
using sequence_test::WriteTga;

struct Canvas {
  Canvas(int w, int h, uint32_t fill = 0xAAAAAAAA)
      : stride(w + 3), pixels(size_t(stride) * h, fill), view(pixels.data(), stride, w, h) {}
  uint32_t At(int x, int y) const { return pixels[size_t(y) * stride + x]; }
  uint32_t stride;
  std::vector<uint32_t> pixels;
  PixelView view;
};

TEST(SequenceLoader, OpenFillsSequenceInfo) {
  TempDir dir;
  const std::string path = dir.File("a.tga");
  WriteTga(path, 5, 3);
  SequenceLoader loader;
  int32_t w = 0, h = 0;
  EXPECT_EQ(loader.Open(&w, &h, path.c_str()), 1);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 3);
  const SequenceInfo& info = SequenceInfo::Instance();
  EXPECT_EQ(info.frame_count, 1);
  EXPECT_EQ(info.frame_rate, 25);
  EXPECT_EQ(info.duration, 0);
  EXPECT_EQ(info.width, 5);
  EXPECT_EQ(info.height, 3);
  EXPECT_EQ(info.file_name, path);
  EXPECT_EQ(info.state, 1);

  const std::string missing = dir.File("missing.tga");
  EXPECT_EQ(loader.Open(&w, &h, missing.c_str()), 0);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(loader.Read(missing.c_str()), -1);
  Canvas c(2, 2);
  EXPECT_EQ(loader.LoadFrame(c.view, missing.c_str()), -1);
}

TEST(SequenceLoader, DummySource) {
  DummySequenceLoader dummy;
  int32_t w = 0, h = 0;
  EXPECT_EQ(dummy.Open(&w, &h, "anything"), 1);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  Canvas c(4, 4, 0x12345678);
  EXPECT_EQ(dummy.LoadFrame(c.view, "anything"), 0);
  EXPECT_EQ(c.At(0, 0), 0x12345678u);  // no pixels delivered
}

TEST(SequenceLoader, RawFrameFileCounts) {
  const int64_t dv = 144000;
  struct Case {
    uint32_t format;
    int64_t size, first, frame;
    int32_t expected;
  };
  const Case cases[] = {
      {ImageFileIO::kFormatPALDV, 5 * dv, 0, dv, 5},
      {ImageFileIO::kFormatPALDV, dv + 100, 0, dv, 1},  // one frame and a few extra bytes
      {ImageFileIO::kFormatNTSCDV, 2 * 120000 - 1, 0, 120000, 1},
      // YUV4MPEG2: 50-byte header, frames of a 6-byte frame line and 994 bytes of pixels.
      {ImageFileIO::kFormatYUV4MPEG2, 50 + 3 * 1000, 56, 1000, 3},
      {ImageFileIO::kFormatYUV4MPEG2, 50 + 2 * 1000, 56, 1000, 2},
      {ImageFileIO::kFormatYUV4MPEG2, 50 + 2 * 1000 - 1, 56, 1000, 1},
      {ImageFileIO::kFormatTGA, 5 * dv, 0, dv, 1},                     // a still-image format
      {ImageFileIO::kFormatPALDV, 5 * dv, 0, 0, 1},                    // no frame size
      {ImageFileIO::kFormatPALDV, int64_t(3) << 40, 0, dv, 22906492},  // beyond 32-bit sizes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CountFramesInFile(c.format, c.size, c.first, c.frame), c.expected) << c.size;
  }
}

// A raw multi-frame file counts its frames from the file size; a frame selector reads one.
TEST(SequenceLoader, MultiFrameFile) {
  TempDir dir;
  const std::string clip = dir.File("clip.y4m");
  ImageFileIO::testing_util::WriteFile(clip, sequence_test::MakeGreyY4m(5));
  SequenceLoader loader;
  int32_t w = 0, h = 0;
  EXPECT_EQ(loader.Open(&w, &h, clip.c_str()), 5);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 4);
  Canvas first(8, 4), fifth(8, 4);
  ASSERT_EQ(loader.LoadFrame(first.view, clip.c_str()), 0);
  ASSERT_EQ(loader.LoadFrame(fifth.view, (clip + ":000004").c_str()), 0);
  EXPECT_LT(first.At(3, 2) & 0xFF, fifth.At(3, 2) & 0xFF);
  EXPECT_GT(fifth.At(3, 2) & 0xFF, 200u);  // luma 240
  ImageFileIO::testing_util::WriteFile(clip, sequence_test::MakeGreyY4m(1, 20));
  EXPECT_EQ(loader.Open(&w, &h, clip.c_str()), 1);  // one frame and a few extra bytes
}

TEST(SequenceLoader, OrientationCodes) {
  // Transposed codes are turned upright by Read, so nothing is left to apply to their lines.
  const int expected[10] = {1, 1, 2, 3, 4, 1, 1, 1, 1, 1};
  for (int code = 0; code < 10; ++code) {
    EXPECT_EQ(DisplayOrientation(code), expected[code]) << code;
    EXPECT_EQ(OrientationTransposes(code), code >= 5 && code <= 8) << code;
  }
  EXPECT_TRUE(OrientationMirrors(3) && OrientationFlips(3));  // a half turn
  EXPECT_FALSE(OrientationMirrors(4));
  EXPECT_FALSE(OrientationMirrors(7) || OrientationFlips(7));
}

// A little-endian 8-bit RGB DPX of w x h whose stored row r holds StoredPixel(x, r); its
// orientation field f gives orientation code f + 1.
std::vector<uint8_t> MakeDpx(int w, int h, int orientation_field) {
  std::vector<uint8_t> b(1408, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  std::memcpy(b.data(), "XPDS", 4);
  put32(4, 1408);
  b[768] = uint8_t(orientation_field);
  put32(772, uint32_t(w));
  put32(776, uint32_t(h));
  b[800] = 50;  // RGB
  b[803] = 8;
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      const uint32_t p = StoredPixel(x, r);
      b.insert(b.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});  // red first
    }
    b.resize(b.size() + (4 - (3 * w) % 4) % 4, 0);
  }
  return b;
}

// Transposed orientations (EXIF 5 to 8) come out upright and never mirrored: the display is
// h x w, and each code maps display (x, y) to its own stored pixel.
TEST(SequenceLoader, TransposedOrientationsComeOutUpright) {
  TempDir dir;
  const int w = 4, h = 3;  // stored; displayed 3 wide and 4 high
  struct Case {
    int code;
    bool from_right, from_bottom;  // stored rows count from the display's right, columns from
                                   // its bottom
  };
  const Case cases[] = {{5, false, false}, {6, true, false}, {7, true, true}, {8, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::string path = dir.File("t.dpx");
    ImageFileIO::testing_util::WriteFile(path, MakeDpx(w, h, c.code - 1));
    SequenceLoader loader;
    int32_t dw = 0, dh = 0;
    ASSERT_EQ(loader.Open(&dw, &dh, path.c_str()), 1);
    EXPECT_EQ(dw, h);
    EXPECT_EQ(dh, w);
    Canvas canvas(h, w);
    ASSERT_EQ(loader.LoadFrame(canvas.view, path.c_str()), 0);
    EXPECT_EQ(loader.file_orientation(), c.code);
    for (int y = 0; y < w; ++y) {
      for (int x = 0; x < h; ++x) {
        const int stored_row = c.from_right ? h - 1 - x : x;
        const int stored_column = c.from_bottom ? w - 1 - y : y;
        EXPECT_EQ(canvas.At(x, y), StoredPixel(stored_column, stored_row)) << x << "," << y;
      }
    }
  }
  // Code 6 is a quarter turn clockwise of the stored picture: the stored top-left pixel is
  // displayed top right, the stored bottom-left top left.
  ImageFileIO::testing_util::WriteFile(dir.File("six.dpx"), MakeDpx(w, h, 5));
  SequenceLoader loader;
  Canvas canvas(h, w);
  ASSERT_EQ(loader.LoadFrame(canvas.view, dir.File("six.dpx").c_str()), 0);
  EXPECT_EQ(canvas.At(h - 1, 0), StoredPixel(0, 0));
  EXPECT_EQ(canvas.At(0, 0), StoredPixel(0, h - 1));
}

// Every orientation a TGA can state, read into a destination of the same size.
TEST(SequenceLoader, LoadFrameAppliesOrientation) {
  TempDir dir;
  const int w = 4, h = 3;
  struct Case {
    uint8_t bits;
    bool mirror, flip;
  };
  const Case cases[] = {
      {0x20, false, false}, {0x30, true, false}, {0x10, true, true}, {0x00, false, true}};
  for (const Case& c : cases) {
    const std::string path = dir.File("o.tga");
    WriteTga(path, w, h, c.bits);
    SequenceLoader loader;
    Canvas canvas(w, h);
    ASSERT_EQ(loader.LoadFrame(canvas.view, path.c_str()), 0);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int sx = c.mirror ? w - 1 - x : x;
        const int sy = c.flip ? h - 1 - y : y;
        EXPECT_EQ(canvas.At(x, y), StoredPixel(sx, sy)) << int(c.bits) << " " << x << "," << y;
      }
    }
  }
}

// A destination of another size gets the first stored lines and columns; with a flip they
// fill it from its last row upwards, so a taller destination keeps its top rows.
TEST(SequenceLoader, LoadFrameSizeMismatch) {
  TempDir dir;
  const std::string path = dir.File("m.tga");
  WriteTga(path, 4, 3, 0x00);  // bottom row first: flipped
  SequenceLoader loader;
  const uint32_t fill = 0xAAAAAAAA;
  Canvas tall(6, 5, fill);
  ASSERT_EQ(loader.LoadFrame(tall.view, path.c_str()), 0);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(tall.At(0, y), fill);
  for (int y = 2; y < 5; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(tall.At(x, y), StoredPixel(x, 4 - y));
    EXPECT_EQ(tall.At(4, y), fill);
  }
  Canvas small(2, 2, fill);
  ASSERT_EQ(loader.LoadFrame(small.view, path.c_str()), 0);
  EXPECT_EQ(small.At(1, 1), StoredPixel(1, 0));
  EXPECT_EQ(small.At(1, 0), StoredPixel(1, 1));
}

TEST(SequenceLoader, ReadLineMirrorsAndChecksRange) {
  TempDir dir;
  const std::string path = dir.File("r.tga");
  WriteTga(path, 5, 2);
  SequenceLoader loader;
  ASSERT_EQ(loader.Read(path.c_str()), 0);
  EXPECT_EQ(loader.buffer().format(), 15);
  EXPECT_EQ(loader.buffer().kind(), 2);
  uint32_t row[5];
  ASSERT_EQ(loader.ReadLine(row, 1, 5, true), 0);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(row[x], StoredPixel(4 - x, 1));
  ASSERT_EQ(loader.ReadLine(row, 0, 2, true), 0);  // only the first two, reversed
  EXPECT_EQ(row[0], StoredPixel(1, 0));
  EXPECT_EQ(loader.ReadLine(row, 2, 5, false), -2);
}

}  // namespace
