#include "features/good_features.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Gradient planes with pseudo-random values everywhere (every window is a corner).
struct Gradients {
  Array<float, 1> gx, gy;
  Array<bool, 1> mask;
  Gradients(uint32_t w, uint32_t h) : gx(w, h), gy(w, h), mask(w, h) {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        gx.Plane(0).data[x + y * gx.Stride()] = 10.0f * std::sin(1.7f * x + 0.3f * y * y);
        gy.Plane(0).data[x + y * gy.Stride()] = 10.0f * std::cos(0.9f * x * y + 2.1f * y);
        mask.Plane(0).data[x + y * mask.Stride()] = false;
      }
  }
  double Sum(int cx, int cy, int hw, int hh, int what) const {
    double s = 0.0;
    for (int y = cy - hh; y <= cy + hh; ++y)
      for (int x = cx - hw; x <= cx + hw; ++x) {
        const double a = gx.Plane(0).data[x + y * gx.Stride()];
        const double b = gy.Plane(0).data[x + y * gy.Stride()];
        const double v[7] = {a * a, a * b, b * b, x * a * a, x * a * b, y * a * b, y * b * b};
        s += v[what];
      }
    return s;
  }
};

TEST(GoodFeaturesDetectorTest, WindowSumsMatchDirectSumsAndListIsSorted) {
  Gradients g(40, 30);
  OpticalFlowParameter p;
  p.m_window_width = 7;
  p.m_window_height = 5;
  p.m_subpixel = true;
  p.m_eigenvalue_threshold = 1.0f;
  int32_t border = 6;
  GoodFeaturesDetector d;
  d.SetData(&p, &border, &border, g.mask.Plane(0), g.gx.Plane(0), g.gy.Plane(0));
  d.SetBand(0, 40, 0, 29);
  d.Work();
  ASSERT_FALSE(d.Candidates().empty());
  for (const CornerCandidate& c : d.Candidates()) {
    const float* got = &c.gxx;
    const float sub[4] = {c.sx1, c.sx2, c.sy1, c.sy2};
    for (int q = 0; q < 3; ++q)
      EXPECT_NEAR(got[q], g.Sum(c.x, c.y, 3, 2, q), 1e-3 * (1 + std::fabs(got[q])));
    for (int q = 0; q < 4; ++q)
      EXPECT_NEAR(sub[q], g.Sum(c.x, c.y, 3, 2, q + 3), 1e-3 * (1 + std::fabs(sub[q])));
  }
  const auto& s = d.Scores();
  EXPECT_EQ(s.back(), GoodFeaturesDetector::kSentinel);
  EXPECT_EQ(s.size(), d.Candidates().size() + 1);
  for (size_t i = 1; i + 1 < s.size(); ++i) EXPECT_GE(s[i - 1].first, s[i].first);
}

TEST(GoodFeaturesDetectorTest, ScanRangeBorderBandAndMask) {
  struct Case {
    int32_t border, x_from, x_to, y_from, y_to;
    int expect_x0, expect_x1, expect_y0, expect_y1;
  } const cases[] = {
      // Border below the window half size: the scan stays a half window inside,
      // the inclusive end included (one pixel earlier than width - half).
      {0, 0, 40, 0, 29, 4, 35, 3, 26},
      {10, 0, 40, 0, 29, 10, 30, 10, 20},
      // A band of rows 5..12.
      {0, 0, 40, 5, 12, 4, 35, 5, 12},
  };
  for (const Case& c : cases) {
    Gradients g(40, 30);
    OpticalFlowParameter p;
    p.m_window_width = 9;
    p.m_window_height = 7;
    p.m_eigenvalue_threshold = 1.0f;
    GoodFeaturesDetector d;
    d.SetData(&p, &c.border, &c.border, g.mask.Plane(0), g.gx.Plane(0), g.gy.Plane(0));
    d.SetBand(c.x_from, c.x_to, c.y_from, c.y_to);
    d.Work();
    int x0 = 1000, x1 = -1, y0 = 1000, y1 = -1;
    for (const CornerCandidate& k : d.Candidates()) {
      x0 = std::min<int>(x0, k.x);
      x1 = std::max<int>(x1, k.x);
      y0 = std::min<int>(y0, k.y);
      y1 = std::max<int>(y1, k.y);
    }
    EXPECT_EQ(x0, c.expect_x0) << c.border;
    EXPECT_EQ(x1, c.expect_x1) << c.border;
    EXPECT_EQ(y0, c.expect_y0) << c.border;
    EXPECT_EQ(y1, c.expect_y1) << c.border;
  }
  // Masked pixels give no candidate; a high threshold gives none at all.
  Gradients g(40, 30);
  for (uint32_t y = 0; y < 30; ++y)
    for (uint32_t x = 0; x < 20; ++x) g.mask.Plane(0).data[x + y * g.mask.Stride()] = true;
  OpticalFlowParameter p;
  p.m_eigenvalue_threshold = 1.0f;
  int32_t border = 0;
  GoodFeaturesDetector d;
  d.SetData(&p, &border, &border, g.mask.Plane(0), g.gx.Plane(0), g.gy.Plane(0));
  d.SetBand(0, 40, 0, 29);
  d.Work();
  ASSERT_FALSE(d.Candidates().empty());
  for (const CornerCandidate& k : d.Candidates()) EXPECT_GE(k.x, 20);
  p.m_eigenvalue_threshold = 1e9f;
  d.Work();
  EXPECT_TRUE(d.Candidates().empty());
  EXPECT_EQ(d.Scores().size(), 1u);
}

TEST(GoodFeaturesDetectorTest, Measures) {
  // One window sum per measure: an isotropic corner, an edge, and a round but weak
  // corner (the roundness measure ignores the threshold).
  Array<float, 1> gx(3, 3), gy(3, 3);
  Array<bool, 1> mask(3, 3);
  struct Case {
    int measure;
    float gx, gy;    // the same gradient at every pixel of the 3 × 3 window...
    bool alternate;  // ...or alternating between (gx, 0) and (0, gy)
    float threshold;
    bool accepted;
  } const cases[] = {
      {1, 10, 10, true, 50, true},
      {1, 10, 10, false, 1, false},  // an edge: smaller eigenvalue 0
      {2, 1, 1, true, 1e6f, true},
      {2, 10, 10, false, 1, false},
  };
  for (const Case& c : cases) {
    for (uint32_t i = 0; i < 9; ++i) {
      const bool odd = c.alternate && (i % 2 == 1);
      const bool even = c.alternate && (i % 2 == 0);
      gx.Plane(0).data[i % 3 + i / 3 * gx.Stride()] = odd ? 0.0f : c.gx;
      gy.Plane(0).data[i % 3 + i / 3 * gy.Stride()] = even ? 0.0f : c.gy;
      mask.Plane(0).data[i % 3 + i / 3 * mask.Stride()] = false;
    }
    OpticalFlowParameter p;
    p.m_window_width = p.m_window_height = 3;
    p.m_corner_measure = c.measure;
    p.m_eigenvalue_threshold = c.threshold;
    int32_t border = 1;
    GoodFeaturesDetector d;
    d.SetData(&p, &border, &border, mask.Plane(0), gx.Plane(0), gy.Plane(0));
    d.SetBand(0, 3, 0, 2);
    d.Work();
    ASSERT_EQ(d.Candidates().size(), c.accepted ? 1u : 0u) << c.measure;
    if (!c.accepted) continue;
    // Alternating: gxx = 5 gx², gyy = 4 gy², gxy = 0.
    const double gxx = 5.0 * c.gx * c.gx, gyy = 4.0 * c.gy * c.gy;
    const double expected = c.measure == 1 ? std::min(gxx, gyy) : gxx * gyy / (gxx + gyy);
    EXPECT_NEAR(d.Scores()[0].first, expected, 1e-3) << c.measure;
  }
}

TEST(MaskTest, MarkMinDistanceClipsToTheMask) {
  Array<bool, 1> mask(10, 8);
  for (uint32_t i = 0; i < mask.Stride() * 8; ++i) mask.Data()[i] = false;
  MarkMinDistance(mask.Plane(0), 1, 6, 2);
  int count = 0;
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 10; ++x) {
      const bool in = x <= 3 && y >= 4;
      EXPECT_EQ(mask.Plane(0).data[x + y * mask.Stride()], in) << x << "," << y;
      count += in;
    }
  EXPECT_EQ(count, 16);
  MarkMinDistance(mask.Plane(0), -10, -10, 2);  // nothing inside: no write
}

std::vector<std::pair<int, int>> Filled(const Array<bool, 1>& m) {
  std::vector<std::pair<int, int>> cells;
  for (uint32_t y = 0; y < m.Height(); ++y)
    for (uint32_t x = 0; x < m.Width(); ++x)
      if (m.Plane(0).data[x + y * m.Stride()]) cells.emplace_back(x, y);
  return cells;
}

TEST(MaskTest, FillPolygon) {
  Array<bool, 1> mask(30, 30);
  auto clear = [&] {
    for (uint32_t i = 0; i < mask.Stride() * 30; ++i) mask.Data()[i] = false;
  };
  clear();
  // A triangle from y = 10 to y = 20 fills rows 11 to 20.
  FillPolygonMask({{5.0, 10.0}, {25.0, 20.0}, {2.0, 20.0}}, mask.Plane(0), true, false);
  int min_row = 100, max_row = -1;
  for (auto [x, y] : Filled(mask)) {
    min_row = std::min(min_row, y);
    max_row = std::max(max_row, y);
  }
  EXPECT_EQ(min_row, 11);
  EXPECT_EQ(max_row, 20);
  // A square from (2.5, 3.5) to (6.5, 7.5): columns 3..5 (strictly right of 2, up to
  // 6 excluded), rows 4..7.
  clear();
  FillPolygonMask({{2.5, 3.5}, {6.5, 3.5}, {6.5, 7.5}, {2.5, 7.5}}, mask.Plane(0), true, false);
  std::vector<std::pair<int, int>> expected;
  for (int y = 4; y <= 7; ++y)
    for (int x = 3; x <= 5; ++x) expected.emplace_back(x, y);
  EXPECT_EQ(Filled(mask), expected);
  // Clearing a hole in it; or-mode keeps what is set; fewer than 3 vertices: nothing.
  FillPolygonMask({{3.5, 4.5}, {5.5, 4.5}, {5.5, 6.5}, {3.5, 6.5}}, mask.Plane(0), false, false);
  EXPECT_EQ(Filled(mask).size(), expected.size() - 2);
  FillPolygonMask({{3.5, 4.5}, {5.5, 4.5}, {5.5, 6.5}, {3.5, 6.5}}, mask.Plane(0), false, true);
  EXPECT_EQ(Filled(mask).size(), expected.size() - 2);
  FillPolygonMask({{0.0, 0.0}, {29.0, 29.0}}, mask.Plane(0), true, false);
  EXPECT_EQ(Filled(mask).size(), expected.size() - 2);
  // A polygon far outside and around the mask: clipped, fills everything.
  FillPolygonMask({{-1e6, -1e6}, {1e6, -1e6}, {1e6, 1e6}, {-1e6, 1e6}}, mask.Plane(0), true, false);
  EXPECT_EQ(Filled(mask).size(), 30u * 30u);
}

}  // namespace
