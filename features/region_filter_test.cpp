#include "features/region_filter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

// Log lines at level 5 (lines keep their class and method).
struct LogCapture : kxtest::LogCapture {
  LogCapture() : kxtest::LogCapture(5) {}
};

void Fill(CPicture<float>& p, uint32_t w, uint32_t h, float seed) {
  p.Resize(w, h, 1);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      p.SetElement(seed + static_cast<float>((x * 7 + y * 13) % 17) * 0.37f, x, y, 0);
}

// The convolution written out plainly, with the sum in the same order (first the tap
// for the leftmost/topmost input pixel).
float RowAt(const CPicture<float>& in, const std::vector<float>& c, int x, int y) {
  const int k = static_cast<int>(c.size()), r = k / 2;
  float s = c[k - 1] * in.GetElement(x - r, y, 0);
  for (int i = 1; i < k; ++i) s += c[k - 1 - i] * in.GetElement(x - r + i, y, 0);
  return s;
}

TEST(ImageFilterTest, ConvolvesInteriorZeroesIntermediateEdgesAndKeepsOuterRows) {
  std::vector<size_t> lengths;
  for (float sigma : {0.4f, 0.7f, 1.0f, 1.3f, 1.8f}) {  // 3, 5, 7, 9 and 11 taps
    FilterKernel kernel;
    kernel.SetSigma(sigma);
    const std::vector<float>& c = kernel.Coefficients();
    const int k = static_cast<int>(c.size()), r = k / 2;
    lengths.push_back(c.size());
    CPicture<float> in, out;
    Fill(in, 13, 12, 1.0f);
    out.Resize(13, 12, 1);
    out.FillBand(0, -5.0f);
    ImageFilter<float> filter;
    filter.Convolve(in, kernel, kernel, out);

    // The row pass, then the column pass over an intermediate whose edge columns are 0.
    CPicture<float> mid;
    mid.Resize(13, 12, 1);
    mid.FillBand(0, 0.0f);
    for (int y = 0; y < 12; ++y)
      for (int x = r; x < 13 - r; ++x) mid.SetElement(RowAt(in, c, x, y), x, y, 0);
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 13; ++x) {
        float expected = -5.0f;  // rows within r of the top and bottom are not written
        if (y >= r && y < 12 - r) {
          expected = c[k - 1] * mid.GetElement(x, y - r, 0);
          for (int i = 1; i < k; ++i) expected += c[k - 1 - i] * mid.GetElement(x, y - r + i, 0);
        }
        ASSERT_EQ(out.GetElement(x, y, 0), expected) << "taps " << k << " at " << x << "," << y;
      }
    }
  }
  EXPECT_THAT(lengths, testing::ElementsAre(3, 5, 7, 9, 11));
}

TEST(ImageFilterTest, InPlaceMatchesSeparateOutputAndSeveralJobsMatchOne) {
  FilterKernel kernel;  // 5 taps
  CPicture<float> in, separate, in_place;
  Fill(in, 21, 17, 2.0f);
  separate.CopyFrom(in);  // same values in the untouched frame
  in_place.CopyFrom(in);
  ImageFilter<float> filter;
  filter.Convolve(in, kernel, kernel, separate);
  filter.Convolve(in_place, kernel, kernel, in_place);

  ImageFilter<float> split;
  split.SetNumberOfJobs(3);
  CPicture<float> three;
  three.CopyFrom(in);
  split.Convolve(three, kernel, kernel, three);
  ASSERT_EQ(split.HorizontalJobs().size(), 3u);
  EXPECT_EQ(split.HorizontalJobs()[0]->y2, 4);  // 17 rows: 5, 5 and 7
  EXPECT_EQ(split.HorizontalJobs()[2]->y1, 10);
  EXPECT_EQ(split.HorizontalJobs()[2]->y2, 16);
  EXPECT_EQ(split.VerticalJobs()[2]->x1, 14);  // 21 columns: 7 each
  for (uint32_t y = 0; y < 17; ++y)
    for (uint32_t x = 0; x < 21; ++x) {
      ASSERT_EQ(separate.GetElement(x, y, 0), in_place.GetElement(x, y, 0));
      ASSERT_EQ(three.GetElement(x, y, 0), in_place.GetElement(x, y, 0));
    }
  EXPECT_EQ(in_place.GetElement(5, 0, 0), in.GetElement(5, 0, 0));
  EXPECT_NE(in_place.GetElement(5, 5, 0), in.GetElement(5, 5, 0));
}

TEST(ImageFilterTest, KernelLargerThanPictureCopiesOrLeavesAlone) {
  FilterKernel wide;
  wide.SetSigma(1.0f);  // 7 taps
  FilterKernel narrow;  // 5 taps
  CPicture<float> in, out;
  Fill(in, 5, 9, 3.0f);
  CPicture<float> original;
  original.CopyFrom(in);
  ImageFilter<float> filter;
  {
    LogCapture log;
    filter.Convolve(in, wide, narrow, in);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_THAT(log.lines[0], testing::HasSubstr("(7x5 > 5x9), leaving the images as they are"));
  }
  {
    LogCapture log;
    filter.Convolve(in, wide, narrow, out);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_THAT(log.lines[0], testing::HasSubstr("(7x5 > 5x9), copying the image."));
  }
  for (uint32_t y = 0; y < 9; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      ASSERT_EQ(in.GetElement(x, y, 0), original.GetElement(x, y, 0));
      ASSERT_EQ(out.GetElement(x, y, 0), original.GetElement(x, y, 0));
    }
}

TEST(ImageFilterTest, PictureWithoutBandsIsLeftAlone) {
  CPicture<float> empty, out;
  empty.Resize(9, 9, 0);
  ImageFilter<float> filter;
  filter.Convolve(empty, FilterKernel(), FilterKernel(), empty);
  filter.Convolve(empty, FilterKernel(), FilterKernel(), out);
  EXPECT_TRUE(out.HasSameSize(empty));
}

TEST(ImageFilterTest, OneTapJobCopiesWithoutApplyingTheTap) {
  CPicture<float> in, out;
  Fill(in, 6, 4, 1.5f);
  out.Resize(6, 4, 1);
  out.FillBand(0, 0.0f);
  const float tap = 2.0f;
  ImageFilter<float>::HorizFilter row;
  row.input = &in;
  row.output = &out;
  row.kernel = &tap;
  row.taps = 1;
  row.x1 = 0, row.x2 = 5, row.y1 = 0, row.y2 = 3;
  row.Run();
  ImageFilter<float>::VertiFilter column;
  CPicture<float> out2;
  out2.Resize(6, 4, 1);
  column.input = &out;
  column.output = &out2;
  column.kernel = &tap;
  column.taps = 1;
  column.x1 = 0, column.x2 = 5, column.y1 = 0, column.y2 = 3;
  column.Run();
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 6; ++x) ASSERT_EQ(out2.GetElement(x, y, 0), in.GetElement(x, y, 0));
}

TEST(ImageFilterTest, CheckRejectsMissingSameAndMismatchedPictures) {
  CPicture<float> a, b, c;
  a.Resize(4, 4, 1);
  b.Resize(4, 4, 1);
  c.Resize(5, 4, 1);
  const float tap = 1.0f;
  struct Case {
    CPicture<float>* in;
    CPicture<float>* out;
    const float* kernel;
    const char* message;
  } cases[] = {
      {nullptr, &b, &tap, "images and/or kernel null pointer"},
      {&a, &b, nullptr, "images and/or kernel null pointer"},
      {&a, &a, &tap, "input and output image are the same"},
      {&a, &c, &tap, "different sizes (4x4x1),(5x4x1)"},
  };
  for (const Case& t : cases) {
    LogCapture log;
    ImageFilter<float>::HorizFilter job;
    job.input = t.in;
    job.output = t.out;
    job.kernel = t.kernel;
    job.taps = 1;
    EXPECT_FALSE(job.Check());
    job.Run();                        // logs and writes nothing
    ASSERT_EQ(log.lines.size(), 3u);  // Check's message twice, then the job's
    EXPECT_THAT(log.lines[0], testing::HasSubstr(t.message));
    EXPECT_THAT(log.lines[2], testing::HasSubstr("HorizFilter::Work: Check failed"));
  }
  ImageFilter<float>::HorizFilter good;
  good.input = &a;
  good.output = &b;
  good.kernel = &tap;
  good.taps = 1;
  EXPECT_TRUE(good.Check());
}

TEST(ImageROITest, ClipsToThePicture) {
  struct Case {
    ImageROI roi;
    uint32_t x1, x2, y1, y2;
    bool bad;
  } cases[] = {
      {{10, 20, 30, 40, false}, 0, 99, 0, 79, false},   // disabled: whole picture
      {{10, 20, 30, 40, true}, 10, 40, 20, 60, false},  // inside
      {{10, 0, 500, 10, true}, 10, 99, 0, 10, false},   // x2 outside: kept at 99
      {{-5, 0, 20, 10, true}, 0, 15, 0, 10, false},     // x1 outside, x2 from the region
      {{50, 0, -20, 10, true}, 0, 99, 0, 79, true},     // ends before it starts
      {{0, 70, 10, -30, true}, 0, 99, 0, 79, true},
  };
  for (const Case& t : cases) {
    LogCapture log;
    uint32_t x1, x2, y1, y2;
    t.roi.CalcClippedRegion(100, 80, x1, x2, y1, y2);
    EXPECT_EQ(x1, t.x1);
    EXPECT_EQ(x2, t.x2);
    EXPECT_EQ(y1, t.y1);
    EXPECT_EQ(y2, t.y2);
    EXPECT_EQ(log.lines.size(), t.bad ? 1u : 0u);
    if (t.bad) {
      EXPECT_THAT(log.lines[0], testing::HasSubstr("x1,x2: 0,99, y1,y2: 0,79"));
    }
  }
  ImageROI a, b;
  EXPECT_FALSE(a.IsDifferent(b));
  b.sy = 1;
  EXPECT_TRUE(a.IsDifferent(b));
}

}  // namespace
