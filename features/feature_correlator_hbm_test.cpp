#include "features/feature_correlator_hbm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A colour texture with structure at several scales, so blocks are distinct at
// quarter, half and full resolution; shifted by (dx, dy).
std::vector<uint32_t> Texture(int w, int h, double dx, double dy) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x - dx, v = y - dy;
      const double c[3] = {
          128 + 50 * std::sin(0.071 * u + 0.043 * v) + 30 * std::cos(0.23 * v - 0.11 * u) +
              20 * std::sin(0.37 * u + 0.05 * v),
          128 + 45 * std::sin(0.053 * u - 0.081 * v + 1.0) + 35 * std::cos(0.29 * u + 0.13 * v) +
              15 * std::sin(0.41 * v - 0.2 * u),
          128 + 60 * std::cos(0.061 * u + 0.067 * v + 2.0) + 30 * std::sin(0.33 * v + 0.17 * u)};
      uint32_t p = 0;
      for (int k = 0; k < 3; ++k) p |= uint32_t(std::lround(c[k])) << (8 * k);
      px[size_t(y) * w + x] = p;
    }
  }
  return px;
}

// Full, half and quarter planes of one frame (width a multiple of 4, so the
// strides are the widths).
struct Frame {
  int w, h;
  std::vector<uint32_t> full, half, quarter;
  Frame(int w, int h, double dx, double dy) : w(w), h(h), full(Texture(w, h, dx, dy)) {
    half.resize(size_t(w / 2) * (h / 2));
    quarter.resize(size_t(w / 4) * (h / 4));
    HalveImageRGBA(half.data(), w / 2, full.data(), w, w, h);
    HalveImageRGBA(quarter.data(), w / 4, half.data(), w / 2, w / 2, h / 2);
  }
};

HBMLevelImages Levels(const Frame& s, const Frame& t) {
  HBMLevelImages im;
  const uint32_t* src[3] = {s.full.data(), s.half.data(), s.quarter.data()};
  const uint32_t* tgt[3] = {t.full.data(), t.half.data(), t.quarter.data()};
  for (int l = 0; l < 3; ++l) {
    im.level[l] = {src[l], tgt[l], s.w >> l, s.h >> l, s.w >> l};
  }
  return im;
}

TEST(TrackFeatureJobTest, RecoversKnownTranslations) {
  const Frame src(192, 160, 0, 0);
  struct Shift {
    double dx, dy, tol;
  };
  // The refinement stops once a step is below about 3e-4 px, which leaves a few
  // thousandths of a pixel even where the images match exactly.
  const Shift shifts[] = {
      {0, 0, 0.01}, {5, -3, 0.01}, {-9, 7, 0.01}, {2.4, 1.7, 0.05}, {-6.3, -4.8, 0.05}};
  for (const Shift& s : shifts) {
    const Frame tgt(192, 160, s.dx, s.dy);
    const HBMLevelImages im = Levels(src, tgt);
    for (auto [x, y] : {std::pair{96.0, 80.0}, std::pair{60.0, 100.0}, std::pair{130.5, 55.25}}) {
      TrackFeatureItem item;
      item.images = &im;
      item.position = {x, y, x, y};
      TrackFeatureJob(nullptr, &item);
      ASSERT_EQ(item.result, 0) << s.dx << "," << s.dy << " at " << x << "," << y;
      EXPECT_NEAR(item.position.target_x, x + s.dx, s.tol) << s.dx << "," << s.dy;
      EXPECT_NEAR(item.position.target_y, y + s.dy, s.tol) << s.dx << "," << s.dy;
      EXPECT_EQ(item.position.source_x, x);
      EXPECT_EQ(item.position.source_y, y);
    }
  }
}

TEST(TrackFeatureJobTest, FeaturesNearTheBorderAreLostAtTheQuarterLevel) {
  const Frame f(192, 160, 0, 0);
  const HBMLevelImages im = Levels(f, f);
  struct Case {
    double x, y;
    bool tracked;
  };
  // Quarter block origin trunc(x / 4) - 4 must be >= 0 and below width / 4 - 8.
  const Case cases[] = {{15.9, 80, false},  {16.0, 80, true},   {80, 15.0, false},
                        {80, 16.0, true},   {176.0, 80, false}, {175.9, 80, true},
                        {80, 144.0, false}, {80, 143.9, true}};
  for (const Case& c : cases) {
    TrackFeatureItem item;
    item.images = &im;
    item.position = {c.x, c.y, c.x, c.y};
    TrackFeatureJob(nullptr, &item);
    EXPECT_EQ(item.result >= 0, c.tracked) << c.x << "," << c.y << " result " << item.result;
  }
}

}  // namespace
