// Corner selection and tracking on a textured image and its copies moved by known
// sub-pixel translations and small affine maps, through the real pyramid filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <vector>

#include "features/good_features.h"
#include "features/image_pyramid.h"
#include "features/pyramid_tracker.h"
#include "image/filter_kernel.h"

namespace {

constexpr uint32_t kWidth = 320, kHeight = 240;

// A sum of random plane waves: texture at many scales, exact at any position.
struct WaveTexture {
  struct Wave {
    double kx, ky, phase, amplitude;
  };
  std::vector<Wave> waves;
  WaveTexture() {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 48; ++i) {
      const double f = 0.04 * std::pow(16.0, unit(rng));  // 0.04 .. 0.64 rad/px
      const double angle = 2.0 * M_PI * unit(rng);
      waves.push_back({f * std::cos(angle), f * std::sin(angle), 2.0 * M_PI * unit(rng),
                       9.0 / std::sqrt(f / 0.04)});
    }
  }
  double operator()(double x, double y) const {
    double v = 128.0;
    for (const Wave& w : waves) v += w.amplitude * std::sin(w.kx * x + w.ky * y + w.phase);
    return v;
  }
};

// p in the first image appears at A (p - c) + c + t in the second.
struct Warp {
  const char* name;
  double a[4];
  double tx, ty;
};

// Test output names the warp instead of dumping its bytes.
void PrintTo(const Warp& warp, std::ostream* os) {
  *os << warp.name;
}

void Render(const WaveTexture& texture, const Warp& warp, bool warped,
            Array<unsigned char, 1>* out) {
  out->Resize(kWidth, kHeight);
  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  const double det = warp.a[0] * warp.a[3] - warp.a[1] * warp.a[2];
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      double px = x, py = y;
      if (warped) {
        const double u = x - cx - warp.tx, v = y - cy - warp.ty;
        px = (warp.a[3] * u - warp.a[1] * v) / det + cx;
        py = (-warp.a[2] * u + warp.a[0] * v) / det + cy;
      }
      const double value = std::clamp(texture(px, py), 0.0, 255.0);
      out->Plane(0).data[x + y * out->Stride()] = static_cast<unsigned char>(std::lround(value));
    }
}

class AccuracyTest : public ::testing::TestWithParam<Warp> {};

TEST_P(AccuracyTest, TrackedFeaturesLandOnTheTruth) {
  const Warp warp = GetParam();
  static const WaveTexture texture;
  OpticalFlowParameter p;  // the default set-up
  uint32_t levels = 0, subsampling = 0;
  OpticalFlowPyramidDepth(p.m_search_range, p.m_window_width, p.m_window_height, &levels,
                          &subsampling);
  FilterKernel smoothing, gradient;
  smoothing.SetSigma(p.m_smoothing_sigma);
  gradient.SetFilter(FilterKernel::kDerivative, 0.8f);
  const int32_t border = OpticalFlowBorder(static_cast<uint32_t>(smoothing.Size()),
                                           static_cast<uint32_t>(gradient.Size()), levels,
                                           subsampling, p.m_window_width, p.m_window_height);

  Array<unsigned char, 1> image1, image2;
  Render(texture, warp, false, &image1);
  Render(texture, warp, true, &image2);
  ImagePyramid pyramids[6];
  ComputeTrackerPyramids(image1.Plane(0), levels, subsampling, smoothing, gradient, &pyramids[0],
                         &pyramids[1], &pyramids[2]);
  ComputeTrackerPyramids(image2.Plane(0), levels, subsampling, smoothing, gradient, &pyramids[3],
                         &pyramids[4], &pyramids[5]);

  // Corners of the first image, strongest first, 8 pixels apart.
  Array<bool, 1> mask(kWidth, kHeight);
  for (uint32_t i = 0; i < mask.Stride() * kHeight; ++i) mask.Data()[i] = false;
  GoodFeaturesDetector detector;
  detector.SetData(&p, &border, &border, mask.Plane(0), pyramids[1].GetCPicture(0)->Plane(0),
                   pyramids[2].GetCPicture(0)->Plane(0));
  detector.SetBand(0, kWidth, 0, kHeight - 1);
  detector.Work();
  PyramidTracker tracker;
  tracker.Setup(TrackerPyramidViews(pyramids[0], pyramids[1], pyramids[2]),
                TrackerPyramidViews(pyramids[3], pyramids[4], pyramids[5]), p, subsampling, levels);
  for (const auto& [score, index] : detector.Scores()) {
    if (score < 0.0f || tracker.Items().size() >= 300) break;
    const CornerCandidate& c = detector.Candidates()[index];
    if (mask.Plane(0).data[c.x + c.y * mask.Stride()]) continue;
    MarkMinDistance(mask.Plane(0), c.x, c.y, 8);
    tracker.Items().push_back({static_cast<float>(c.x), static_cast<float>(c.y), 1.0f, nullptr});
  }
  const std::vector<TrackItem> starts = tracker.Items();
  ASSERT_GE(starts.size(), 150u);
  const int tracked = tracker.TrackFeatureList();

  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  std::vector<double> errors;
  for (size_t k = 0; k < starts.size(); ++k) {
    const TrackItem& item = tracker.Items()[k];
    if (item.status != 0.0f) continue;
    const double u = starts[k].x - cx, v = starts[k].y - cy;
    const double tx = warp.a[0] * u + warp.a[1] * v + cx + warp.tx;
    const double ty = warp.a[2] * u + warp.a[3] * v + cy + warp.ty;
    errors.push_back(std::hypot(item.x - tx, item.y - ty));
  }
  ASSERT_EQ(errors.size(), static_cast<size_t>(tracked));
  // Features whose window leaves the image are lost; nearly all others are kept.
  EXPECT_GE(errors.size(), starts.size() * 8 / 10) << warp.name;
  std::sort(errors.begin(), errors.end());
  const double median = errors[errors.size() / 2];
  const double p95 = errors[errors.size() * 95 / 100];
  EXPECT_LE(median, 0.05) << warp.name;
  EXPECT_LE(p95, 0.2) << warp.name;
  std::printf("%-12s tracked %zu of %zu, median %.4f px, 95th %.4f px\n", warp.name, errors.size(),
              starts.size(), median, p95);
}

const double kRot = 0.75 * M_PI / 180.0;

INSTANTIATE_TEST_SUITE_P(Warps, AccuracyTest,
                         ::testing::Values(Warp{"sub-pixel", {1, 0, 0, 1}, 0.25, -0.4},
                                           Warp{"small", {1, 0, 0, 1}, 3.6, 2.3},
                                           Warp{"large", {1, 0, 0, 1}, -9.7, 6.1},
                                           Warp{"rotation",
                                                {std::cos(kRot) * 1.005, -std::sin(kRot) * 1.005,
                                                 std::sin(kRot) * 1.005, std::cos(kRot) * 1.005},
                                                2.2,
                                                -1.3},
                                           Warp{"shear", {1.0, 0.01, -0.005, 0.995}, -1.6, 0.7}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

// Points seeded at their true first-image position, tracked with the pyramids the
// correlator builds; every point whose level-0 window fits in both images is kept.
struct SeededCase {
  const char* name;
  uint32_t window, levels, subsampling, iterations;  // window 0: the default set-up
  Warp warp;
  int margin;  // points this far from the border; 0: an interior grid
};

class SeededAtTruthTest : public ::testing::TestWithParam<SeededCase> {};

TEST_P(SeededAtTruthTest, KeepsEveryTrackablePoint) {
  SeededCase c = GetParam();
  static const WaveTexture texture;
  OpticalFlowParameter p;
  if (c.window == 0) {
    c.window = p.m_window_width;
    c.iterations = p.m_max_iterations;
    OpticalFlowPyramidDepth(p.m_search_range, p.m_window_width, p.m_window_height, &c.levels,
                            &c.subsampling);
  }
  p.m_window_width = p.m_window_height = c.window;
  p.m_max_iterations = c.iterations;
  FilterKernel smoothing, gradient;
  smoothing.SetSigma(p.m_smoothing_sigma);
  gradient.SetFilter(FilterKernel::kDerivative, 0.8f);
  Array<unsigned char, 1> image1, image2;
  Render(texture, c.warp, false, &image1);
  Render(texture, c.warp, true, &image2);
  ImagePyramid pyramids[6];
  ComputeTrackerPyramids(image1.Plane(0), c.levels, c.subsampling, smoothing, gradient,
                         &pyramids[0], &pyramids[1], &pyramids[2]);
  ComputeTrackerPyramids(image2.Plane(0), c.levels, c.subsampling, smoothing, gradient,
                         &pyramids[3], &pyramids[4], &pyramids[5]);
  PyramidTracker tracker;
  tracker.Setup(TrackerPyramidViews(pyramids[0], pyramids[1], pyramids[2]),
                TrackerPyramidViews(pyramids[3], pyramids[4], pyramids[5]), p, c.subsampling,
                c.levels);

  const double cx = kWidth / 2.0, cy = kHeight / 2.0;
  auto truth = [&](double x, double y, double* tx, double* ty) {
    const double u = x - cx, v = y - cy;
    *tx = c.warp.a[0] * u + c.warp.a[1] * v + cx + c.warp.tx;
    *ty = c.warp.a[2] * u + c.warp.a[3] * v + cy + c.warp.ty;
  };
  // Both windows must fit at level 0, in the first and in the second image.
  const double fit = c.window / 2 + 1.0;
  auto inside = [&](double x, double y) {
    return x >= fit && y >= fit && x <= kWidth - 1 - fit && y <= kHeight - 1 - fit;
  };
  std::vector<std::pair<float, float>> starts;
  auto add = [&](int x, int y) {
    double tx, ty;
    truth(x, y, &tx, &ty);
    if (inside(x, y) && inside(tx, ty)) starts.emplace_back(x, y);
  };
  if (c.margin == 0) {
    for (int y = 40; y < static_cast<int>(kHeight) - 40; y += 13)
      for (int x = 40; x < static_cast<int>(kWidth) - 40; x += 13) add(x, y);
  } else {
    for (int x = c.margin; x < static_cast<int>(kWidth) - c.margin; x += 7) {
      add(x, c.margin);
      add(x, kHeight - 1 - c.margin);
    }
    for (int y = c.margin; y < static_cast<int>(kHeight) - c.margin; y += 7) {
      add(c.margin, y);
      add(kWidth - 1 - c.margin, y);
    }
  }
  ASSERT_GE(starts.size(), 40u);
  for (const auto& [x, y] : starts) tracker.Items().push_back({x, y, 1.0f, nullptr});
  tracker.TrackFeatureList();
  int wrong = 0;
  std::vector<double> errors;
  for (size_t k = 0; k < starts.size(); ++k) {
    const TrackItem& item = tracker.Items()[k];
    if (item.status != 0.0f) {
      ++wrong;
      continue;
    }
    double tx, ty;
    truth(starts[k].first, starts[k].second, &tx, &ty);
    errors.push_back(std::hypot(item.x - tx, item.y - ty));
  }
  // A point or two where the texture is weak may fail; no more.
  EXPECT_LE(wrong, static_cast<int>(starts.size()) / 50) << c.name << " of " << starts.size();
  if (!errors.empty()) {
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors[errors.size() / 2], 0.05) << c.name;
  }
}

const Warp kIdentity{"identity", {1, 0, 0, 1}, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, SeededAtTruthTest,
    ::testing::Values(
        // 21 × 21, three levels at subsampling 2 and 30 iterations; a motion of 20 px.
        SeededCase{"large_motion",
                   21,
                   3,
                   2,
                   30,
                   {"", {std::cos(kRot), -std::sin(kRot), std::sin(kRot), std::cos(kRot)}, 16, -12},
                   0},
        // The default set-up follows a fast pan: 31 px per frame with a slight roll.
        SeededCase{
            "defaults_fast_pan",
            0,
            0,
            0,
            0,
            {"", {std::cos(0.003), -std::sin(0.003), std::sin(0.003), std::cos(0.003)}, 31, 2},
            0},
        // The coarse levels cannot hold the window near the border; level 0 can.
        SeededCase{"near_border", 21, 3, 2, 30, {"", {1, 0, 0, 1}, 1.3, -0.8}, 12},
        // There the motion comes from the nearest coarse windows that fit.
        SeededCase{"near_border_large_motion", 21, 3, 2, 30, {"", {1, 0, 0, 1}, 13.6, -9.2}, 12},
        // Motion toward the near border: the coarse windows keep room for it.
        SeededCase{"toward_border", 21, 3, 2, 30, {"", {1, 0, 0, 1}, -8.5, 7.5}, 25},
        // Full Gauss-Newton steps settle a 1.7 px motion within four iterations.
        SeededCase{"few_iterations", 9, 1, 1, 4, {"", {1, 0, 0, 1}, 1.4, -0.9}, 0},
        // Settling on the last allowed iteration is convergence.
        SeededCase{"one_iteration", 9, 2, 4, 1, kIdentity, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
