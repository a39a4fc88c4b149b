// The fundamental matrix of 1000 synthetic correspondences (0.5 px noise) between two
// known cameras: our linear eight-point estimate beside OpenCV's findFundamentalMat with
// FM_8POINT and FM_RANSAC, on the same data in the same run. Each reports its time and,
// as counters, its errors against the known cameras: the RMS epipolar distance of the
// noise-free projections (px) and the rotation and baseline-direction errors (degrees)
// of the relative camera from the estimate with the known calibration.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#endif

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/fmatrix.h"

namespace {

constexpr int kPoints = 1000;
constexpr double kNoise = 0.5;   // px
constexpr double kFocal = 30.0;  // mm
constexpr double kPixel = 0.1;   // mm

PerspectiveCamera MakeCamera(const vm::Vector3& c, double ax, double ay, double az) {
  Matrix3x3 r;
  r.SetRotationXYZ(ax, ay, az);
  const vm::Vector3 h0{r[0][0], r[0][1], r[0][2]}, v0{r[1][0], r[1][1], r[1][2]},
      a{r[2][0], r[2][1], r[2][2]};
  PerspectiveCamera camera;
  const double f = kFocal / kPixel;
  camera.Set(c, a, h0 * f + a * 12.0, v0 * f + a * -7.0, 1920, 1080, 0.0, kPixel, kPixel, 0.0, 0,
             Poly3);
  return camera;
}

struct Scene {
  PerspectiveCamera c0 = MakeCamera({0, 0, 0}, 0, 0, 0);
  PerspectiveCamera c1 = MakeCamera({600, 80, -150}, 0.03, -0.12, 0.02);
  t_ListFCorr noisy, exact;
  Scene() {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::normal_distribution<double> noise(0.0, kNoise);
    while (static_cast<int>(noisy.size()) < kPoints) {
      const vm::Vector3 p{2500.0 * u(rng), 1500.0 * u(rng), 4000.0 + 1500.0 * u(rng)};
      double x0, y0, x1, y1, d0, d1;
      if (!c0.ProjectPoint(p, x0, y0, d0, true) || !c1.ProjectPoint(p, x1, y1, d1, true)) continue;
      auto link = [](double a, double b, double c, double d) {
        return SharedPtr<FeatureCorrespondence>::Make(
            SharedPtr<FeaturePoint2D>::Make(nullptr, a, b),
            SharedPtr<FeaturePoint2D>::Make(nullptr, c, d));
      };
      exact.push_back(link(x0, y0, x1, y1));
      noisy.push_back(link(x0 + noise(rng), y0 + noise(rng), x1 + noise(rng), y1 + noise(rng)));
    }
  }
};

const Scene& TheScene() {
  NotifyContext::SetNotifyLevel(1);  // the rectification's printouts are not measured
  static const Scene scene;
  return scene;
}

double AngleDegrees(const vm::Vector3& a, const vm::Vector3& b) {
  const double c = a.Dot(b) / (a.Length() * b.Length());
  return std::acos(std::max(-1.0, std::min(1.0, c))) * 180.0 / M_PI;
}

// Errors of f (mm about the principal points) against the known cameras.
void Report(benchmark::State& state, const double f[9]) {
  const Scene& s = TheScene();
  FMatrix fm;
  fm.SetCorrespondences(s.exact, s.c0, s.c1);
  fm.SetMatrix(f);
  state.counters["epi_rms_px"] = std::sqrt(2.0 * fm.GetMSESymmetricEpipolarDistance());
  PerspectiveCamera a = s.c0, b = s.c1;
  if (!fm.RectifyCAHVtoFMatrixKnownK(1, a, b)) {
    state.counters["pose"] = 0;
    return;
  }
  state.counters["pose"] = 1;
  state.counters["rot_err_deg"] =
      std::max({AngleDegrees(b.GetA(), s.c1.GetA()), AngleDegrees(b.H0(), s.c1.H0()),
                AngleDegrees(b.V0(), s.c1.V0())});
  state.counters["base_err_deg"] = AngleDegrees(b.GetC(), s.c1.GetC());
}

void BM_OursEightPoint(benchmark::State& state) {
  const Scene& s = TheScene();
  FMatrix out;
  for (auto _ : state) {
    EstimatorFMatrix estimator;
    estimator.SetCorrespondences(s.noisy, s.c0, s.c1);
    benchmark::DoNotOptimize(estimator.NormalizedEightPointAlgorithm(out));
  }
  Report(state, out.m);
}
BENCHMARK(BM_OursEightPoint)->Unit(benchmark::kMicrosecond);

#ifdef KALVEX_HAVE_OPENCV
void OpenCV(benchmark::State& state, int method) {
  const Scene& s = TheScene();
  std::vector<cv::Point2d> p0, p1;
  for (const auto& c : s.noisy) {
    p0.emplace_back(c->GetFirst()->x, c->GetFirst()->y);
    p1.emplace_back(c->GetSecond()->x, c->GetSecond()->y);
  }
  cv::Mat f;
  for (auto _ : state) {
    f = cv::findFundamentalMat(p0, p1, method, 1.0, 0.999);
    benchmark::DoNotOptimize(f.data);
  }
  if (f.rows != 3) {
    state.SkipWithError("no fundamental matrix");
    return;
  }
  // OpenCV's F is for pixels (x1^T F x0 = 0); ours for mm about the principal point:
  // F_mm = T^T F T with T taking mm to pixels.
  double t[2][3];
  const PerspectiveCamera* cams[2] = {&s.c0, &s.c1};
  for (int i = 0; i < 2; ++i) {
    t[i][0] = 1.0 / cams[i]->GetPixelSizeX();
    t[i][1] = (cams[i]->GetWidth() - 1) / 2.0 + cams[i]->GetCenterPointX();
    t[i][2] = (cams[i]->GetHeight() - 1) / 2.0 + cams[i]->GetCenterPointY();
  }
  auto T = [&](int i, int r, int c) {
    const double m[9] = {t[i][0], 0, t[i][1], 0, t[i][0], t[i][2], 0, 0, 1};
    return m[3 * r + c];
  };
  double out[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      double v = 0.0;
      for (int k = 0; k < 3; ++k)
        for (int l = 0; l < 3; ++l) v += T(1, k, r) * f.at<double>(k, l) * T(0, l, c);
      out[3 * r + c] = v;
    }
  Report(state, out);
}

void BM_OpenCV8Point(benchmark::State& state) {
  OpenCV(state, cv::FM_8POINT);
}
BENCHMARK(BM_OpenCV8Point)->Unit(benchmark::kMicrosecond);

void BM_OpenCVRansac(benchmark::State& state) {
  OpenCV(state, cv::FM_RANSAC);
}
BENCHMARK(BM_OpenCVRansac)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
