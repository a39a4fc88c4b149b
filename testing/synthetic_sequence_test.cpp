#include "testing/synthetic_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct ShotCase {
  const char* name;
  synthetic::Shot shot;
  double distortion;
};

class SyntheticSequenceTest : public ::testing::TestWithParam<ShotCase> {
 protected:
  static synthetic::SequenceOptions Options(const ShotCase& c) {
    synthetic::SequenceOptions o;
    o.shot = c.shot;
    o.width = 320;
    o.height = 180;
    o.focal = 250.0;
    o.frames = 12;
    o.distortion = c.distortion;
    return o;
  }
};

TEST_P(SyntheticSequenceTest, BackprojectedPixelsProjectBack) {
  const synthetic::Sequence seq(Options(GetParam()));
  for (int k : {0, 5, 11})
    for (double y = 3.5; y < 180; y += 41.0)
      for (double x = 2.25; x < 320; x += 37.0) {
        synthetic::Vec3 X;
        ASSERT_TRUE(seq.Backproject(k, x, y, &X));
        double px, py;
        ASSERT_TRUE(seq.Truth(k, X, &px, &py)) << k << " " << x << " " << y;
        EXPECT_NEAR(px, x, 1e-6);
        EXPECT_NEAR(py, y, 1e-6);
      }
}

// Sampled at the true positions, a later frame shows what the first frame showed
// there; five pixels beside them mostly not.
TEST_P(SyntheticSequenceTest, FramesShowTheScenePointsAtTheirTruePositions) {
  const synthetic::Sequence seq(Options(GetParam()));
  const synthetic::Image a = seq.Render(0), b = seq.Render(4);
  auto at = [](const synthetic::Image& im, double x, double y) {
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    auto p = [&](int px, int py) {
      return static_cast<double>(im.pixels[static_cast<size_t>(py) * im.width + px]);
    };
    return (1 - fy) * ((1 - fx) * p(x0, y0) + fx * p(x0 + 1, y0)) +
           fy * ((1 - fx) * p(x0, y0 + 1) + fx * p(x0 + 1, y0 + 1));
  };
  std::vector<double> same, beside;
  for (const synthetic::Vec3& X : seq.ScenePoints(400, 3)) {
    double x0, y0, x1, y1;
    if (!seq.Truth(0, X, &x0, &y0) || !seq.Truth(4, X, &x1, &y1)) continue;
    if (x0 > 315 || y0 > 175 || x1 < 4 || y1 < 4 || x1 > 315 || y1 > 175) continue;
    same.push_back(std::fabs(at(a, x0, y0) - at(b, x1, y1)));
    beside.push_back(std::fabs(at(a, x0, y0) - at(b, x1 + 5.0, y1)));
  }
  ASSERT_GE(same.size(), 150u);
  // Share of points whose two samples agree within 4 levels.
  auto close = [](const std::vector<double>& d) {
    return static_cast<double>(std::count_if(d.begin(), d.end(), [](double v) { return v <= 4; })) /
           static_cast<double>(d.size());
  };
  EXPECT_GE(close(same), 0.85);
  EXPECT_LE(close(beside), 0.65);
}

TEST(SyntheticSequence, CamerasFollowTheShot) {
  synthetic::SequenceOptions o;
  o.shot = synthetic::Shot::kTripodPan;
  o.frames = 30;
  const synthetic::Sequence pan(o);
  o.shot = synthetic::Shot::kFreeMotion;
  const synthetic::Sequence free_motion(o);
  for (int k = 0; k < 30; ++k) {
    for (int a = 0; a < 3; ++a) EXPECT_EQ(pan.GetCamera(k).C[a], 0.0);
    // Rotations stay orthonormal.
    const synthetic::Mat3& R = free_motion.GetCamera(k).R;
    for (int r = 0; r < 3; ++r)
      EXPECT_NEAR(R[3 * r] * R[3 * r] + R[3 * r + 1] * R[3 * r + 1] + R[3 * r + 2] * R[3 * r + 2],
                  1.0, 1e-12);
  }
  EXPECT_GT(free_motion.GetCamera(29).C[2], free_motion.GetCamera(0).C[2] + 2.0);
}

INSTANTIATE_TEST_SUITE_P(Shots, SyntheticSequenceTest,
                         ::testing::Values(ShotCase{"pan", synthetic::Shot::kTripodPan, 0.0},
                                           ShotCase{"free", synthetic::Shot::kFreeMotion, 0.0},
                                           ShotCase{"free_barrel", synthetic::Shot::kFreeMotion,
                                                    -0.08}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
