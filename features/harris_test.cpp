#include "features/harris.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "features/coverage_render_for_test.h"
#include "foundation/tracks/feature_flags.h"

namespace {

// Opens the buffers for tests that set responses and products directly.
class HarrisProbe : public Harris {
 public:
  void SetSize(uint32_t w, uint32_t h) {
    width_ = w;
    height_ = h;
    InitBuffers();
    response_.FillBand(0, 0.0f);
  }
  CPicture<float>& response() { return response_; }
  CPicture<float>& xx() { return gxx_; }
  CPicture<float>& xy() { return gxy_; }
  CPicture<float>& yy() { return gyy_; }
};

using kxtest::Render;

// Squares of 12 pixels every 24 pixels on a background of 30; square k (raster order)
// gets contrast(k). Four corners each.
void SquareGrid(CPicture<unsigned char>& p, uint32_t w, uint32_t h,
                const std::function<int(int, int)>& value) {
  p.Resize(w, h, 1);
  p.FillBand(0, 30);
  for (uint32_t by = 0; by * 24 + 18 <= h; ++by)
    for (uint32_t bx = 0; bx * 24 + 18 <= w; ++bx)
      for (uint32_t y = 6 + by * 24; y < 18 + by * 24; ++y)
        for (uint32_t x = 6 + bx * 24; x < 18 + bx * 24; ++x)
          p.SetElement(static_cast<unsigned char>(value(bx, by)), x, y, 0);
}

TEST(HarrisTest, PrintsTheBlockOnStdout) {
  testing::internal::CaptureStdout();
  Harris::Parameter().Print();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Harris::Parameter:\n"
            "\t corner count max: \t 900\n"
            "\t gauss sigma: \t\t 0.700000\n"
            "\t relative minimum: \t 0.000010\n"
            "\t scale factor: \t\t 0.040000\n"
            "\t local max window size:  9\n"
            "\t adaptive: \t\t \"false\"\n"
            "\t adaptive window size: \t 32\n"
            "\t density_thresh: \t 0.500000\n"
            "\t corner count low: \t 800\n"
            "\t derivation gauss: \t \"false\"\n"
            "\t derivation gauss sigma: 1.000000\n"
            "\t border: \t\t0\n"
            "\t calculate covariance: false\n");
}

TEST(HarrisTest, SetParameterPrintsOutgoingBlockAndReinitialisesOnKernelChange) {
  HarrisProbe h;
  h.SetSize(20, 20);
  h.xx().FillBand(0, 1.0f);
  testing::internal::CaptureStdout();
  h.SetParameter(Harris::Parameter());  // no change
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(h.xx().GetElement(2, 10, 0), 1.0f);

  Harris::Parameter p;
  p.gauss_sigma = 1.0f;
  testing::internal::CaptureStdout();
  h.SetParameter(p);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_THAT(out, testing::HasSubstr("gauss sigma: \t\t 0.700000\n"));  // the old block
  EXPECT_EQ(h.SmoothingKernel().Size(), 7u);
  // The buffers were cleared again, now with a frame of 3.
  EXPECT_EQ(h.xx().GetElement(2, 10, 0), 0.0f);
  EXPECT_EQ(h.xx().GetElement(10, 17, 0), 0.0f);
  EXPECT_EQ(h.xx().GetElement(3, 10, 0), 1.0f);
}

TEST(HarrisTest, BlankPictureHalvesTheRelativeMinimumTenTimes) {
  CPicture<unsigned char> blank;
  blank.Resize(64, 48, 1);
  blank.FillBand(0, 128);
  Harris h;
  EXPECT_TRUE(h.Detect(blank).empty());
  EXPECT_EQ(h.MaximumResponse(), 0.0f);
  EXPECT_EQ(h.GetParameter().relative_minimum, 9.765625e-9f);
  // The adapted block now differs from the one the user gave.
  testing::internal::CaptureStdout();
  h.SetParameter(Harris::Parameter());
  EXPECT_THAT(testing::internal::GetCapturedStdout(),
              testing::HasSubstr("relative minimum: \t 0.000000\n"));
}

TEST(HarrisTest, SquareCornersAreMirrorSymmetricInRasterOrder) {
  CPicture<unsigned char> p;
  // Edges on pixel boundaries: corners at 30.5 and 70.5, the square centred on 50.5.
  Render(
      p, 101, 101, [](double x, double y) { return x > 30.5 && x < 70.5 && y > 30.5 && y < 70.5; },
      40, 200);
  Harris h;
  const MetaDetector::FeatureList& f = h.Detect(p);
  ASSERT_EQ(f.size(), 4u);
  const double corners[4][2] = {{30.5, 30.5}, {70.5, 30.5}, {30.5, 70.5}, {70.5, 70.5}};
  for (int i = 0; i < 4; ++i) {
    // The response peaks inside the corner, about 1.4 pixels along the diagonal.
    EXPECT_LT(std::hypot(f[i]->x - corners[i][0], f[i]->y - corners[i][1]), 2.5) << i;
    EXPECT_FALSE(f[i]->x == std::floor(f[i]->x)) << "sub-pixel position expected";
    EXPECT_EQ(f[i]->GetImage(), nullptr);
  }
  EXPECT_NEAR(f[0]->x + f[1]->x, 101.0, 1e-3);
  EXPECT_NEAR(f[0]->y + f[2]->y, 101.0, 1e-3);
  EXPECT_NEAR(f[0]->x, f[0]->y, 1e-3);
  EXPECT_NEAR(f[3]->x, f[3]->y, 1e-3);
}

TEST(HarrisTest, RotatedSquareCornersFollowSubPixelShifts) {
  const double c = std::cos(0.5), s = std::sin(0.5);
  std::vector<std::pair<double, double>> first;
  for (int k = 0; k < 4; ++k) {
    const double ox = 50.2 + 0.1 * k, oy = 50.7 + 0.07 * k;
    CPicture<unsigned char> p;
    Render(
        p, 100, 100,
        [&](double x, double y) {
          const double u = (x - ox) * c + (y - oy) * s, v = -(x - ox) * s + (y - oy) * c;
          return std::fabs(u) < 20 && std::fabs(v) < 20;
        },
        40, 200);
    Harris h;
    const MetaDetector::FeatureList& f = h.Detect(p);
    ASSERT_EQ(f.size(), 4u) << k;
    // True corners, in raster order: top, right, left, bottom.
    const double corner[4][2] = {{-20, -20}, {20, -20}, {-20, 20}, {20, 20}};
    std::vector<std::pair<double, double>> truth;
    for (const auto& q : corner)
      truth.push_back({ox + q[0] * c - q[1] * s, oy + q[0] * s + q[1] * c});
    std::sort(truth.begin(), truth.end(), [](auto& a, auto& b) { return a.second < b.second; });
    for (int i = 0; i < 4; ++i) {
      EXPECT_LT(std::hypot(f[i]->x - truth[i].first, f[i]->y - truth[i].second), 2.5);
      if (k == 0) {
        first.push_back({f[i]->x, f[i]->y});
      } else {  // the peak moves with the picture, to a fraction of a pixel
        EXPECT_NEAR(f[i]->x - first[i].first, 0.1 * k, 0.2) << k << " " << i;
        EXPECT_NEAR(f[i]->y - first[i].second, 0.07 * k, 0.2) << k << " " << i;
      }
    }
  }
}

TEST(HarrisTest, SubPixelFitOfQuadraticPeaks) {
  HarrisProbe h;
  h.SetSize(12, 12);
  struct Case {
    double x0, y0, a, b, c;  // R = 1000 − a·dx² − b·dy² − c·dx·dy around (x0, y0)
    uint32_t column, row;
    bool ok;
  } cases[] = {
      {5.0, 5.0, 3.0, 2.0, 0.0, 5, 5, true},  // symmetric: the integer position
      {5.3, 4.8, 3.0, 2.0, 0.0, 5, 5, true},      {5.4, 5.45, 2.0, 3.0, 1.5, 5, 5, true},  // tilted
      {5.0, 5.0, 3.0, 0.0, 0.0, 5, 5, false},   // a ridge along y
      {5.0, 5.0, 3.0, -2.0, 0.0, 5, 5, false},  // a saddle
      {6.5, 5.0, 1.0, 1.0, 0.0, 5, 5, false},   // more than a pixel away
      {0.0, 5.0, 3.0, 2.0, 0.0, 0, 5, false},   // no neighbours on the left
      {11.0, 11.0, 3.0, 2.0, 0.0, 11, 11, false},
  };
  for (const Case& t : cases) {
    for (uint32_t y = 0; y < 12; ++y)
      for (uint32_t x = 0; x < 12; ++x) {
        const double dx = x - t.x0, dy = y - t.y0;
        h.response().SetElement(
            static_cast<float>(1000.0 - t.a * dx * dx - t.b * dy * dy - t.c * dx * dy), x, y, 0);
      }
    double x = -1, y = -1;
    ASSERT_EQ(h.ComputeSubPixelMax(t.column, t.row, &x, &y), t.ok) << t.x0 << "," << t.y0;
    if (t.ok) {
      EXPECT_NEAR(x, t.x0, 1e-4);
      EXPECT_NEAR(y, t.y0, 1e-4);
    }
  }
}

TEST(HarrisDeathTest, NullOutputIsAProgrammingError) {
  HarrisProbe h;
  h.SetSize(8, 8);
  double x;
  EXPECT_DEATH(h.ComputeSubPixelMax(3, 3, &x, nullptr), "output parameter == NULL");
}

TEST(HarrisTest, CovarianceIsTheInverseTensor) {
  HarrisProbe h;
  h.SetSize(8, 8);
  h.xx().SetElement(4.0f, 2, 4, 0);
  h.xy().SetElement(0.0f, 2, 4, 0);
  h.yy().SetElement(1.0f, 2, 4, 0);
  Matrix2x2 c = h.ComputeCovariance(2.4, 3.6);  // nearest pixel (2, 4)
  EXPECT_EQ(c.m[0], 0.25);
  EXPECT_EQ(c.m[1], 0.0);
  EXPECT_EQ(c.m[2], 0.0);
  EXPECT_EQ(c.m[3], 1.0);
  h.xy().SetElement(2.0f, 2, 4, 0);  // det 0
  c = h.ComputeCovariance(2.0, 4.0);
  EXPECT_EQ(c.m[0], 1.0);
  EXPECT_EQ(c.m[1], 0.0);
  EXPECT_EQ(c.m[3], 1.0);
}

TEST(HarrisTest, CovariancesShrinkWithContrast) {
  Harris::Parameter p;
  p.calculate_covariance = true;
  double variance[2];
  int i = 0;
  for (int high : {70, 190}) {
    CPicture<unsigned char> pic;
    Render(
        pic, 60, 60, [](double x, double y) { return x > 20.5 && y > 20.5; }, 50, high);
    Harris h;
    h.SetParameter(p);
    const MetaDetector::FeatureList& f = h.Detect(pic);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0]->TestFlags(FP2D_FLAG_COVARIANCE));
    const float* cov = f[0]->GetCoVariance();
    EXPECT_GT(cov[0], 0.0f);
    EXPECT_GT(cov[2], 0.0f);
    variance[i++] = cov[0] + cov[2];
  }
  // Seven times the contrast: a tensor 49 times larger, a covariance 49 times smaller.
  EXPECT_NEAR(variance[0] / variance[1], 49.0, 1.0);
}

TEST(HarrisTest, CornerCountFollowsTheTarget) {
  CPicture<unsigned char> p;
  // 720 squares of distinct contrasts: 2880 corners.
  SquareGrid(p, 720, 576,
             [](int bx, int by) { return 40 + (by * 30 + bx) * 37 % 720 * 200 / 720; });
  for (uint32_t target : {100u, 900u, 1900u}) {
    Harris::Parameter par;
    par.corner_count_max = target;
    Harris h;
    testing::internal::CaptureStdout();
    h.SetParameter(par);
    testing::internal::GetCapturedStdout();
    const size_t n = h.Detect(p).size();
    EXPECT_LT(n, target);
    EXPECT_GT(n, target * 8 / 10);
    EXPECT_GT(h.GetParameter().relative_minimum, 1e-5f);  // raised, and kept
  }
}

TEST(HarrisTest, AdaptiveModeSpreadsCornersOverTheTiles) {
  CPicture<unsigned char> p;
  // Strong corners on the left half, faint ones on the right.
  SquareGrid(p, 720, 576, [](int bx, int by) {
    return bx < 15 ? 150 + (bx * 7 + by * 3) % 50 : 40 + (bx + by) % 10;
  });
  Harris::Parameter par;
  par.corner_count_max = 400;
  {
    Harris h;
    testing::internal::CaptureStdout();
    h.SetParameter(par);
    testing::internal::GetCapturedStdout();
    for (const auto& f : h.Detect(p)) ASSERT_LT(f->x, 360.0);
  }
  par = Harris::Parameter();
  par.adaptive = true;
  Harris h;
  testing::internal::CaptureStdout();
  h.SetParameter(par);
  testing::internal::GetCapturedStdout();
  const MetaDetector::FeatureList& f = h.Detect(p);
  // 23 × 18 tiles of 32, 2 corners each; two passes of at most 3 per tile.
  EXPECT_LE(f.size(), 2u * 23 * 18 * 3);
  std::vector<int> per_tile(23 * 18, 0);
  for (const auto& q : f) {
    const int tx = static_cast<int>(q->x + 0.5) / 32, ty = static_cast<int>(q->y + 0.5) / 32;
    if (tx < 23 && ty < 18) ++per_tile[ty * 23 + tx];
  }
  for (int ty = 0; ty < 17; ++ty)
    for (int tx = 0; tx < 22; ++tx) EXPECT_GE(per_tile[ty * 23 + tx], 1) << tx << "," << ty;

  // A tile far larger than the picture is one partial tile with a quota of 0: only the
  // strongest response (and its equals) is kept.
  const size_t tiled = f.size();
  par.adaptive_window_size = 4000000000u;
  testing::internal::CaptureStdout();
  h.SetParameter(par);
  testing::internal::GetCapturedStdout();
  const size_t one_tile = h.Detect(p).size();
  EXPECT_GE(one_tile, 1u);
  EXPECT_LT(one_tile, tiled / 10);
}

TEST(HarrisTest, WiderBorderClearsTheGradientsOfTheLastPicture) {
  CPicture<unsigned char> p;
  SquareGrid(p, 96, 72, [](int bx, int by) { return 100 + 20 * bx + by; });
  Harris h;
  h.Detect(p);
  ASSERT_NE(h.GradientX().GetElement(6, 10, 0), 0);  // left edge of the first square
  Harris::Parameter par;
  par.border = 7;
  testing::internal::CaptureStdout();
  h.SetParameter(par);
  testing::internal::GetCapturedStdout();
  h.Detect(p);
  EXPECT_EQ(h.GradientX().GetElement(6, 10, 0), 0);
  EXPECT_NE(h.GradientX().GetElement(7, 10, 0), 0);
}

TEST(HarrisTest, NothingWithoutSizedBuffersOrOnTinyPictures) {
  CPicture<unsigned char> p;
  Render(
      p, 40, 40, [](double x, double y) { return x > 15.5 && y > 15.5; }, 0, 200);
  Harris constructed(p);
  EXPECT_TRUE(constructed.GetFeatures().empty());  // OnNewImage not called yet
  constructed.OnNewImage();
  EXPECT_EQ(constructed.GetFeatures().size(), 1u);

  Harris none;
  EXPECT_EQ(none.Compute(), 0u);  // no picture

  for (uint32_t size : {1u, 2u, 4u, 5u}) {
    CPicture<unsigned char> tiny;
    Render(
        tiny, size, size, [](double x, double y) { return x > 1.5 && y > 1.5; }, 0, 255);
    Harris h;
    Harris::Parameter par;
    par.local_max_window_size = 1;
    testing::internal::CaptureStdout();
    h.SetParameter(par);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(h.Detect(tiny).empty()) << size;
  }
}

}  // namespace
