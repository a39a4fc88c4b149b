#include <gtest/gtest.h>

#include <vector>

#include "image/sequence_for_test.h"
#include "image/sequence_loader.h"

namespace {

using ImageFileIO::testing_util::TempDir;
using sequence_test::StoredPixel;
using sequence_test::WriteTga;

struct Canvas {
  Canvas(int w, int h)
      : stride(w + 1), pixels(size_t(stride) * h, kFill), view(pixels.data(), stride, w, h) {}
  uint32_t At(int x, int y) const { return pixels[size_t(y) * stride + x]; }
  static constexpr uint32_t kFill = 0xAAAAAAAA;
  uint32_t stride;
  std::vector<uint32_t> pixels;
  PixelView view;
};

TEST(InterlacedFields, AverageRoundsUpPerByte) {
  EXPECT_EQ(AveragePixels(0x00010203, 0x00020304), 0x00020304u);
  EXPECT_EQ(AveragePixels(0xFF00FF00, 0xFF00FF00), 0xFF00FF00u);
  EXPECT_EQ(AveragePixels(0xFF000000, 0x00000000), 0x80000000u);  // no carry between bytes
  EXPECT_EQ(AveragePixels(0x000000FF, 0x00000001), 0x00000080u);
}

TEST(InterlacedFields, SplitFields) {
  TempDir dir;
  const std::string path = dir.File("f.tga");
  WriteTga(path, 4, 9);  // odd height: four lines per field
  SequenceLoader loader;
  Canvas top(4, 4), bottom(4, 4);
  ASSERT_EQ(loader.LoadSplitFields(&top.view, nullptr, path.c_str()), 0);
  ASSERT_EQ(loader.LoadSplitFields(nullptr, &bottom.view, path.c_str()), 0);
  EXPECT_EQ(loader.buffer().flags() & 0x60, 0x60u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(top.At(3, i), StoredPixel(3, 2 * i));
    EXPECT_EQ(bottom.At(3, i), StoredPixel(3, 2 * i + 1));
  }
  EXPECT_EQ(loader.LoadSplitFields(&top.view, nullptr, dir.File("none.tga").c_str()), -1);
}

// With a flipped picture the top target still receives the displayed even lines, in
// display order (the stored odd lines, read from the bottom up).
TEST(InterlacedFields, FlippedPictureKeepsDisplayOrder) {
  TempDir dir;
  const std::string path = dir.File("flip.tga");
  WriteTga(path, 3, 6, 0x00);  // orientation 4
  SequenceLoader loader;
  Canvas top(3, 3), bottom(3, 3), doubled(3, 6);
  ASSERT_EQ(loader.LoadSplitFields(&top.view, &bottom.view, path.c_str()), 0);
  for (int i = 0; i < 3; ++i) {
    // displayed row k = stored line 5 - k
    EXPECT_EQ(top.At(0, i), StoredPixel(0, 5 - 2 * i));
    EXPECT_EQ(bottom.At(0, i), StoredPixel(0, 5 - (2 * i + 1)));
  }
  ASSERT_EQ(loader.LoadLineDoubled(&doubled.view, nullptr, path.c_str()), 0);
  EXPECT_EQ(doubled.At(1, 0), StoredPixel(1, 5));
  EXPECT_EQ(doubled.At(1, 1), AveragePixels(StoredPixel(1, 5), StoredPixel(1, 3)));
  EXPECT_EQ(doubled.At(1, 5), StoredPixel(1, 1));
}

TEST(InterlacedFields, LineDoubled) {
  TempDir dir;
  for (int h : {8, 9}) {
    const std::string path = dir.File("d.tga");
    WriteTga(path, 3, h);
    SequenceLoader loader;
    Canvas top(3, h), bottom(3, h);
    ASSERT_EQ(loader.LoadLineDoubled(&top.view, &bottom.view, path.c_str()), 0);
    const int pairs = h / 2;
    for (int i = 0; i < pairs; ++i) {
      EXPECT_EQ(top.At(2, 2 * i), StoredPixel(2, 2 * i));
      EXPECT_EQ(bottom.At(2, 2 * i + 1), StoredPixel(2, 2 * i + 1));
      if (i > 0) {
        EXPECT_EQ(top.At(2, 2 * i - 1),
                  AveragePixels(StoredPixel(2, 2 * i - 2), StoredPixel(2, 2 * i)));
        EXPECT_EQ(bottom.At(2, 2 * i),
                  AveragePixels(StoredPixel(2, 2 * i - 1), StoredPixel(2, 2 * i + 1)));
      }
    }
    EXPECT_EQ(top.At(0, 2 * pairs - 1), StoredPixel(0, 2 * pairs - 2));  // last pair repeats
    EXPECT_EQ(bottom.At(0, 0), StoredPixel(0, 1));                       // row 0 repeats line 1
    if (h & 1) {  // the odd last row repeats the row above, never stays unwritten
      EXPECT_EQ(top.At(1, h - 1), top.At(1, h - 2));
      EXPECT_EQ(bottom.At(1, h - 1), bottom.At(1, h - 2));
    }
  }
}

TEST(InterlacedFields, HalfSize) {
  TempDir dir;
  const std::string path = dir.File("h.tga");
  WriteTga(path, 5, 6);
  SequenceLoader loader;
  Canvas top(2, 3), bottom(2, 3);
  ASSERT_EQ(loader.LoadHalfSize(&top.view, &bottom.view, path.c_str()), 0);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 2; ++j) {
      EXPECT_EQ(top.At(j, i),
                AveragePixels(StoredPixel(2 * j, 2 * i), StoredPixel(2 * j + 1, 2 * i)));
      EXPECT_EQ(bottom.At(j, i),
                AveragePixels(StoredPixel(2 * j, 2 * i + 1), StoredPixel(2 * j + 1, 2 * i + 1)));
    }
  }
  EXPECT_EQ(top.At(2, 0), Canvas::kFill);  // padding column untouched
}

}  // namespace
