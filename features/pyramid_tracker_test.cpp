#include "features/pyramid_tracker.h"

#include "features/affine_feature_attribute.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Texture = std::function<float(double, double)>;

// A smooth texture with structure in every direction, bounded to 0..255.
float Texture1(double x, double y) {
  return static_cast<float>(128.0 + 35.0 * std::sin(0.23 * x + 0.12 * y + 0.3) +
                            25.0 * std::sin(-0.09 * x + 0.26 * y + 1.1) +
                            30.0 * std::cos(0.045 * x - 0.038 * y + 2.0) +
                            25.0 * std::sin(0.021 * x + 0.052 * y));
}

// Levels made by point sampling the texture at subsampling^L spacing, with central
// difference gradients; enough for the tracker, which only reads the levels.
struct TestPyramid {
  std::vector<std::unique_ptr<Array<float, 1>>> planes;
  TrackerPyramids views;

  TestPyramid(const Texture& f, uint32_t width, uint32_t height, uint32_t levels,
              uint32_t subsampling) {
    double scale = 1.0;
    for (uint32_t l = 0; l < levels; ++l) {
      auto intensity = std::make_unique<Array<float, 1>>(width, height);
      auto gx = std::make_unique<Array<float, 1>>(width, height);
      auto gy = std::make_unique<Array<float, 1>>(width, height);
      const ArrayMap<float>& in = intensity->Plane(0);
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
          // Box average over the footprint of the pixel on level 0: keeps the coarse
          // levels free of aliasing.
          const int n = static_cast<int>(scale);
          double sum = 0.0;
          for (int v = 0; v < n; ++v)
            for (int u = 0; u < n; ++u)
              sum += f(x * scale + u - 0.5 * (n - 1), y * scale + v - 0.5 * (n - 1));
          in.data[x + y * in.stride] = static_cast<float>(sum / (n * n));
        }
      for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
          auto at = [&](int px, int py) {
            px = px < 0 ? 0 : (px >= static_cast<int>(width) ? width - 1 : px);
            py = py < 0 ? 0 : (py >= static_cast<int>(height) ? height - 1 : py);
            return in.data[px + py * in.stride];
          };
          gx->Plane(0).data[x + y * in.stride] = 0.5f * (at(x + 1, y) - at(x - 1, y));
          gy->Plane(0).data[x + y * in.stride] = 0.5f * (at(x, y + 1) - at(x, y - 1));
        }
      views.intensity.push_back(intensity->Plane(0));
      views.gradient_x.push_back(gx->Plane(0));
      views.gradient_y.push_back(gy->Plane(0));
      planes.push_back(std::move(intensity));
      planes.push_back(std::move(gx));
      planes.push_back(std::move(gy));
      width /= subsampling;
      height /= subsampling;
      scale *= subsampling;
    }
  }
};

TEST(PyramidTrackerTest, StatusNames) {
  const std::pair<int, const char*> cases[] = {{0, "tracked"},
                                               {1, "trackable"},
                                               {-1, "not found"},
                                               {-2, "small determinate"},
                                               {-3, "exceed max iterations"},
                                               {-4, "out of bounds"},
                                               {-5, "large residue"},
                                               {-6, "not defined"},
                                               {-7, "large difference"},
                                               {2, "unknown"},
                                               {-8, "unknown"}};
  for (const auto& [code, name] : cases) EXPECT_STREQ(TrackStatusName(code), name) << code;
}

TEST(PyramidTrackerTest, SampleWindowIsBilinearAndZeroOutside) {
  Array<float, 1> pic(4, 3);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) pic.Plane(0).data[x + y * pic.Stride()] = x + 10.0f * y;
  float out[9];
  SampleWindow(pic.Plane(0), 1.25f, 1.5f, 3, 3, out, 3);
  // Left (0.25, 0.5): linear values reproduce the position.
  EXPECT_FLOAT_EQ(out[0], 0.25f + 5.0f);
  EXPECT_FLOAT_EQ(out[4], 1.25f + 15.0f);
  // Bottom row at y = 2.5 blends row 2 with zeros below.
  EXPECT_FLOAT_EQ(out[6], 0.5f * (0.75f * 20.0f + 0.25f * 21.0f));
  EXPECT_FLOAT_EQ(SampleBilinear(pic.Plane(0), -1.5f, 0.0f), 0.0f);
  EXPECT_FLOAT_EQ(SampleBilinear(pic.Plane(0), 3.0f, 2.0f), 23.0f);
}

struct Shift {
  float dx, dy;
  uint32_t levels, subsampling;
};

// Test output shows the shift and set-up instead of dumping the bytes.
void PrintTo(const Shift& s, std::ostream* os) {
  *os << "shift (" << s.dx << ", " << s.dy << "), " << s.levels << " levels, subsampling "
      << s.subsampling;
}

class TranslationTest : public ::testing::TestWithParam<Shift> {};

TEST_P(TranslationTest, RecoversKnownShift) {
  const Shift s = GetParam();
  TestPyramid first(Texture1, 160, 120, s.levels, s.subsampling);
  TestPyramid second([&](double x, double y) { return Texture1(x - s.dx, y - s.dy); }, 160, 120,
                     s.levels, s.subsampling);
  OpticalFlowParameter p;
  p.m_max_iterations = 30;
  p.m_min_displacement = 0.001f;
  PyramidTracker tracker;
  tracker.Setup(first.views, second.views, p, s.subsampling, s.levels);
  const float starts[][2] = {{60, 50}, {80.5f, 60.25f}, {100, 70}};
  for (const auto& xy : starts) tracker.Items().push_back({xy[0], xy[1], 1.0f, nullptr});
  EXPECT_EQ(tracker.TrackFeatureList(), 3);
  for (size_t k = 0; k < 3; ++k) {
    const TrackItem& item = tracker.Items()[k];
    EXPECT_EQ(item.status, 0.0f);
    EXPECT_NEAR(item.x, starts[k][0] + s.dx, 0.05) << k;
    EXPECT_NEAR(item.y, starts[k][1] + s.dy, 0.05) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Shifts, TranslationTest,
                         ::testing::Values(Shift{0.3f, -0.45f, 1, 1}, Shift{1.7f, 0.6f, 1, 1},
                                           Shift{-4.3f, 5.2f, 2, 2}, Shift{9.6f, -7.3f, 2, 4},
                                           Shift{0.0f, 0.0f, 2, 4}),
                         [](const auto& info) {
                           std::string n = "levels" + std::to_string(info.param.levels) + "_sub" +
                                           std::to_string(info.param.subsampling) + "_case" +
                                           std::to_string(info.index);
                           return n;
                         });

// One level, features on the same texture: the outcome for special set-ups.
struct StatusCase {
  const char* name;
  float x, y;     // feature position
  float checker;  // amplitude of a checkerboard added to the second image
  bool flat;      // both images constant
  uint32_t max_iterations;
  int expected;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.name;
}

class StatusTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, Status) {
  const StatusCase c = GetParam();
  Texture f1 = c.flat ? Texture([](double, double) { return 100.0f; }) : Texture(Texture1);
  // The checkerboard cancels in central differences: tracking is unchanged, only the
  // residue grows.
  Texture f2 = [&](double x, double y) {
    const float sign = (static_cast<long>(std::lround(x + y)) & 1) ? -1.0f : 1.0f;
    return f1(x - 0.4, y + 0.3) + sign * c.checker;
  };
  TestPyramid first(f1, 96, 64, 2, 2);
  TestPyramid second(f2, 96, 64, 2, 2);
  OpticalFlowParameter p;
  p.m_window_width = p.m_window_height = 9;
  p.m_max_iterations = c.max_iterations;
  PyramidTracker tracker;
  tracker.Setup(first.views, second.views, p, 2, 2);
  tracker.Items().push_back({c.x, c.y, 1.0f, nullptr});
  tracker.TrackFeatureList();
  const TrackItem& item = tracker.Items()[0];
  EXPECT_EQ(item.status, static_cast<float>(c.expected)) << c.name;
  if (c.expected != 0) {
    EXPECT_EQ(item.x, -1.0f);
    EXPECT_EQ(item.y, -1.0f);
  }
  EXPECT_EQ(tracker.TrackedCount(), c.expected == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, StatusTest,
                         ::testing::Values(StatusCase{"tracked", 40, 30, 0, false, 20, 0},
                                           // One step cannot settle a 0.5 px motion.
                                           StatusCase{"one iteration", 40, 30, 0, false, 1, -3},
                                           StatusCase{"flat", 40, 30, 0, true, 20, -2},
                                           // At level 1 the window (half size 4) reaches column
                                           // -1: that level is skipped, level 0 tracks.
                                           StatusCase{"coarse level at edge", 6, 30, 0, false, 20,
                                                      0},
                                           // At level 0 the window reaches column -1.
                                           StatusCase{"near edge", 3, 30, 0, false, 20, -4},
                                           StatusCase{"checkerboard", 40, 30, 200, false, 20, -5}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (ch == ' ') ch = '_';
                           return n;
                         });

TEST(PyramidTrackerTest, FlatCoarseLevelIsSkipped) {
  // A level-0 only texture: the coarse level is flat, the fine one textured. The
  // singular coarse level passes its estimate down and level 0 finds the motion.
  TestPyramid first(Texture1, 96, 64, 2, 2);
  TestPyramid second([](double x, double y) { return Texture1(x - 0.6, y + 0.4); }, 96, 64, 2, 2);
  for (auto* views : {&first.views, &second.views}) {
    const ArrayMap<float>& coarse = views->intensity[1];
    for (uint32_t y = 0; y < coarse.height; ++y)
      for (uint32_t x = 0; x < coarse.width; ++x) {
        coarse.data[x + y * coarse.stride] = 7.0f;
        views->gradient_x[1].data[x + y * coarse.stride] = 0.0f;
        views->gradient_y[1].data[x + y * coarse.stride] = 0.0f;
      }
  }
  PyramidTracker tracker;
  tracker.Setup(first.views, second.views, OpticalFlowParameter(), 2, 2);
  tracker.Items().push_back({40, 30, 1.0f, nullptr});
  tracker.TrackFeatureList();
  const TrackItem& item = tracker.Items()[0];
  EXPECT_EQ(item.status, 0.0f);
  EXPECT_NEAR(item.x, 40.6f, 0.05f);
  EXPECT_NEAR(item.y, 29.6f, 0.05f);
}

TEST(OpticalFlowParameterTest, PyramidDepth) {
  struct Case {
    uint32_t range, w, h, levels, subsampling;
  } const cases[] = {{15, 9, 9, 2, 4}, {4, 9, 9, 1, 1},   {13, 9, 9, 2, 2},
                     {27, 9, 9, 2, 8}, {100, 9, 9, 3, 8}, {15, 31, 9, 2, 4}};
  for (const Case& c : cases) {
    uint32_t levels = 0, subsampling = 0;
    OpticalFlowPyramidDepth(c.range, c.w, c.h, &levels, &subsampling);
    EXPECT_EQ(levels, c.levels) << c.range;
    EXPECT_EQ(subsampling, c.subsampling) << c.range;
  }
}

TEST(OpticalFlowParameterTest, Border) {
  // One level: smoothing half length plus the window half size.
  EXPECT_EQ(OpticalFlowBorder(5, 7, 1, 1, 9, 9), 2 + 4);
  // Two levels, subsampling 4: trunc((2 + 3) / 4 + 0.99) = 2, (2 + 4) * 4.
  EXPECT_EQ(OpticalFlowBorder(5, 7, 2, 4, 9, 9), 24);
  // The larger window side counts.
  EXPECT_EQ(OpticalFlowBorder(5, 7, 2, 4, 9, 15), 36);
  // Three levels, subsampling 8: n = trunc(5/8 + 0.99) = 1, then trunc(4/8 + 0.99) = 1.
  EXPECT_EQ(OpticalFlowBorder(5, 7, 3, 8, 9, 9), 5 * 64);
}

TEST(OpticalFlowParameterTest, CheckResetsWholeBlock) {
  OpticalFlowParameter p;
  p.m_corner_count = 7;
  p.m_psnr = 12.0;
  EXPECT_TRUE(p.Check());
  p.m_min_eigenvalue = NAN;
  EXPECT_TRUE(p.Check());
  p.m_min_eigenvalue = 0.5f;
  EXPECT_FALSE(p.Check());
  EXPECT_EQ(p.m_corner_count, 1000u);
  EXPECT_EQ(p.m_psnr, 30.0);
  EXPECT_EQ(p.m_min_eigenvalue, 100.0f);
  EXPECT_EQ(p.m_min_dist, 21);
  EXPECT_TRUE(p.m_set_covariance);
}

// The appearance window of side 17 around (cx, cy) of the texture, and a second image
// that shows the window's content mapped by m (offsets) and moved to (tx, ty).
struct AppearanceCase {
  const char* name;
  int mode;
  double m[4];
  float start_dx, start_dy;  // start of the check relative to the true position
  uint32_t max_iterations;
  int expected;
};

void PrintTo(const AppearanceCase& c, std::ostream* os) {
  *os << c.name;
}

class AppearanceTest : public ::testing::TestWithParam<AppearanceCase> {};

TEST_P(AppearanceTest, Check) {
  const AppearanceCase c = GetParam();
  const double cx = 70, cy = 60, tx = 72.4, ty = 58.7;
  const double det = c.m[0] * c.m[3] - c.m[1] * c.m[2];
  Texture second_texture = [&](double x, double y) {
    // Offset in the second image back to the window offset.
    const double u = x - tx, v = y - ty;
    const double i = (c.m[3] * u - c.m[1] * v) / det, j = (-c.m[2] * u + c.m[0] * v) / det;
    return Texture1(cx + i, cy + j);
  };
  TestPyramid first(Texture1, 140, 120, 1, 1);
  TestPyramid second(second_texture, 140, 120, 1, 1);
  Array<float, 1> window(17, 17);
  for (int j = 0; j < 17; ++j)
    for (int i = 0; i < 17; ++i)
      window.Plane(0).data[i + j * window.Stride()] = Texture1(cx + i - 8, cy + j - 8);
  OpticalFlowParameter p;
  p.m_consistency_check = c.mode;
  p.m_affine_max_iterations = c.max_iterations;
  p.m_min_displacement = 0.002f;
  p.m_affine_min_displacement = 0.004f;
  PyramidTracker tracker;
  tracker.Setup(first.views, second.views, p, 1, 1);
  double matrix[4] = {1, 0, 0, 1};
  float x2 = static_cast<float>(tx) + c.start_dx, y2 = static_cast<float>(ty) + c.start_dy;
  EXPECT_EQ(tracker.CheckAppearance(window.Plane(0), matrix, &x2, &y2, 0), c.expected) << c.name;
  if (c.expected == 0) {
    EXPECT_NEAR(x2, tx, 0.05) << c.name;
    EXPECT_NEAR(y2, ty, 0.05) << c.name;
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(matrix[k], c.m[k], 0.01) << c.name << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AppearanceTest,
    ::testing::Values(AppearanceCase{"translation", 1, {1, 0, 0, 1}, 0.4f, -0.3f, 20, 0},
                      AppearanceCase{
                          "similarity", 2, {1.02, -0.035, 0.035, 1.02}, 0.3f, 0.2f, 60, 0},
                      AppearanceCase{"affine", 3, {1.03, 0.02, -0.015, 0.97}, -0.3f, 0.2f, 30, 0},
                      // The check would move the position by 2 pixels, either way: too far.
                      AppearanceCase{"move right", 1, {1, 0, 0, 1}, -2.0f, 0.0f, 20, -7},
                      AppearanceCase{"move left", 1, {1, 0, 0, 1}, 2.0f, 0.0f, 20, -7},
                      AppearanceCase{"one iteration", 1, {1, 0, 0, 1}, 0.4f, 0.0f, 1, -3}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

TEST(PyramidTrackerTest, ConsistencyCheckRunsOnItemsWithAttribute) {
  TestPyramid first(Texture1, 140, 120, 2, 2);
  TestPyramid second([](double x, double y) { return Texture1(x - 1.3, y + 0.8); }, 140, 120, 2, 2);
  // A window showing the feature's true appearance, and one showing another place.
  AffineFeatureAttribute good(17), wrong(17);
  for (uint32_t j = 0; j < 17; ++j)
    for (uint32_t i = 0; i < 17; ++i) {
      good.window.SetElement(Texture1(60.0 + i - 8, 50.0 + j - 8), i, j, 0);
      wrong.window.SetElement(Texture1(90.0 + i - 8, 20.0 + j - 8), i, j, 0);
    }
  OpticalFlowParameter p;
  p.m_consistency_check = 1;
  PyramidTracker tracker;
  tracker.Setup(first.views, second.views, p, 2, 2);
  tracker.Items().push_back({60, 50, 1.0f, &good});
  tracker.Items().push_back({60, 50, 1.0f, &wrong});
  tracker.Items().push_back({60, 50, 1.0f, nullptr});
  EXPECT_EQ(tracker.TrackFeatureList(), 2);
  const auto& items = tracker.Items();
  EXPECT_EQ(items[0].status, 0.0f);
  EXPECT_EQ(items[0].attribute, &good);
  EXPECT_NEAR(items[0].x, 61.3, 0.05);
  EXPECT_LT(items[1].status, 0.0f);
  EXPECT_EQ(items[1].attribute, nullptr);
  EXPECT_EQ(items[1].x, -1.0f);
  EXPECT_EQ(items[2].status, 0.0f);
  // With the check off the attribute is not looked at.
  p.m_consistency_check = 0;
  tracker.Setup(first.views, second.views, p, 2, 2);
  tracker.Items()[1] = {60, 50, 1.0f, &wrong};
  tracker.Items().resize(2);
  tracker.Items()[0] = {60, 50, 1.0f, &good};
  EXPECT_EQ(tracker.TrackFeatureList(), 2);
}

}  // namespace
