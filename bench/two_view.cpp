// Two-view geometry and camera resection on synthetic scenes with known cameras, side
// by side with OpenCV. Each problem has its own section: a scene, our pipeline, the
// peer's, and either counters on its benchmarks or a block in the summary printed after
// the benchmarks, with both sides' errors against the known cameras.
//
// Resection: 1000 points seen by a camera with an off-centre principal point, 0.5 px
// noise, 30 % of the observations replaced by outliers. Ours: RANSAC with the
// projection-matrix calculator (inliers up to 2 px), the camera taken from the best
// matrix, then its pose refined on the inliers with the focal length and principal
// point known. OpenCV: solvePnPRansac with the known calibration, the same 2 px and
// 0.99 confidence.
//
// Eight points: the fundamental matrix of 1000 correspondences (0.5 px noise) between
// two known cameras, our linear eight-point estimate beside findFundamentalMat with
// FM_8POINT and FM_RANSAC. Each reports its time and, as counters, its errors against
// the known cameras: the RMS epipolar distance of the noise-free projections (px) and
// the rotation and baseline-direction errors (degrees) of the relative camera from the
// estimate with the known calibration.
//
// Fundamental matrix by RANSAC: 1000 correspondences of points 4 to 8 m away seen by two
// 720 x 576 cameras (800 px focal length) that turn and translate, 0.5 px noise, 30 % of
// the pairs with their second point moved 8 to 40 px in a random direction (the known
// outliers). Ours: RandSampling with SampleCalculatorFMatrix and its own stopping rule;
// the residual is the mean of the two squared point-to-line distances, so an inlier
// bound of t px on each distance is m_threshold = t / sqrt(2). OpenCV: FM_RANSAC with the
// bound t on the larger distance and its defaults (0.99 confidence, at most 1000
// iterations). Both report inlier recall and precision against the known outliers, and
// time. A moved pair that happens to stay within t px of its true epipolar lines is
// counted as an outlier for both sides; the summary says how many there are. The row
// "ours/tb" runs our sampler for the textbook number of samples instead of its own
// adaptive count, to compare the cost per sample.
//
// Seven points: the minimal solvers on their own, SampleCalculatorFMatrix::CalcParameter
// against FM_7POINT on seven exact pairs.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/fmatrix.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_proj_matrix.h"
#include "geometry/two_view_tracks_for_test.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "testing/synthetic_scene_for_test.h"

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#endif

namespace {

// ---- shared

constexpr double kInlierPx = 2.0;  // inlier bound of every RANSAC run

// Wall time of one call in ms, the fastest of a few.
template <class F>
double FastestMs(F f) {
  double best = 1e30;
  for (int i = 0; i < 7; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(
        best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
  }
  return best;
}

// The pixel position of a camera's principal point (OpenCV's cx, cy).
void PrincipalPointPx(const PerspectiveCamera& camera, double& cx, double& cy) {
  cx = (camera.GetWidth() - 1) / 2.0 + camera.GetCenterPointX();
  cy = (camera.GetHeight() - 1) / 2.0 + camera.GetCenterPointY();
}

#ifdef KALVEX_HAVE_OPENCV
// Image positions of the first and second features of corrs.
void Points(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs,
            std::vector<cv::Point2d>& p0, std::vector<cv::Point2d>& p1) {
  p0.clear();
  p1.clear();
  for (const auto& corr : corrs) {
    p0.emplace_back(corr->GetFirst()->x, corr->GetFirst()->y);
    p1.emplace_back(corr->GetSecond()->x, corr->GetSecond()->y);
  }
}

// x_mm = S x_px: pixels to mm about the principal point. A fundamental matrix for mm
// (ours) and one for pixels (OpenCV's, x1^T F x0 = 0) are related by F_px = S1^T F_mm S0.
cv::Matx33d PixelToMm(const PerspectiveCamera& camera) {
  double cx, cy;
  PrincipalPointPx(camera, cx, cy);
  const double sx = camera.GetPixelSizeX(), sy = camera.GetPixelSizeY();
  return cv::Matx33d(sx, 0, -sx * cx, 0, sy, -sy * cy, 0, 0, 1);
}

// x_px = T x_mm, the inverse of PixelToMm; F_mm = T1^T F_px T0.
cv::Matx33d MmToPixel(const PerspectiveCamera& camera) {
  double cx, cy;
  PrincipalPointPx(camera, cx, cy);
  return cv::Matx33d(1.0 / camera.GetPixelSizeX(), 0, cx, 0, 1.0 / camera.GetPixelSizeY(), cy, 0, 0,
                     1);
}
#endif

// ---- resection

namespace resection {

constexpr int kPoints = 1000;

// What a side got right or wrong against the known camera.
struct CameraErrors {
  double rotation_deg = 0.0;  // angle of R_est R_true^T
  double centre_mm = 0.0;
  double rmse_px = 0.0;    // reprojection error over the true inliers
  int missed_inliers = 0;  // true inliers not in the side's inlier set
  int kept_outliers = 0;   // outliers in it
  bool ok = false;
};

// Rows H0, V0, A of a camera: its world-to-camera rotation.
void Rotation(const PerspectiveCamera& camera, double r[9]) {
  const vm::Vector3 rows[3] = {camera.H0(), camera.V0(), camera.GetA()};
  for (int i = 0; i < 3; ++i) {
    r[3 * i] = rows[i].x;
    r[3 * i + 1] = rows[i].y;
    r[3 * i + 2] = rows[i].z;
  }
}

double RotationAngleDeg(const double a[9], const double b[9]) {
  double trace = 0.0;  // trace(A B^T)
  for (int i = 0; i < 9; ++i) trace += a[i] * b[i];
  const double c = std::max(-1.0, std::min(1.0, (trace - 1.0) / 2.0));
  return std::acos(c) * 180.0 / M_PI;
}

void PrintErrors(const char* who, const CameraErrors& e, double ms) {
  if (!e.ok) {
    std::printf("resection  %-7s failed\n", who);
    return;
  }
  std::printf(
      "resection  %-7s rotation %.5f deg, centre %.3f mm, rmse %.4f px, missed inliers %d, kept "
      "outliers %d, %.3f ms\n",
      who, e.rotation_deg, e.centre_mm, e.rmse_px, e.missed_inliers, e.kept_outliers, ms);
}

kxtest::SyntheticScene& Scene() {
  static kxtest::SyntheticScene* scene = [] {
    auto* s = new kxtest::SyntheticScene({.num_points = kPoints,
                                          .num_cameras = 2,
                                          .noise_px = 0.5,
                                          .outlier_ratio = 0.3,
                                          .seed = 11});
    s->BuildFeatures();
    return s;
  }();
  return *scene;
}

// The camera and inlier flags one side found; errors against camera 1 of the scene.
CameraErrors Measure(const PerspectiveCamera& camera, const std::vector<bool>& inlier) {
  const kxtest::SyntheticScene& scene = Scene();
  const PerspectiveCamera& truth = scene.cameras[1];
  CameraErrors e;
  e.ok = true;
  double r_est[9], r_true[9];
  Rotation(camera, r_est);
  Rotation(truth, r_true);
  e.rotation_deg = RotationAngleDeg(r_est, r_true);
  e.centre_mm = (camera.GetC() - truth.GetC()).Length();
  double sum = 0.0;
  int n = 0;
  for (size_t i = 0; i < scene.points.size(); ++i) {
    const bool outlier = scene.outlier[1][i];
    e.missed_inliers += !outlier && !inlier[i];
    e.kept_outliers += outlier && inlier[i];
    if (outlier) continue;
    double x = 0.0, y = 0.0, depth = 0.0;
    camera.ProjectPoint(scene.points[i], x, y, depth, false);
    sum += (x - scene.observed[1][i].x) * (x - scene.observed[1][i].x) +
           (y - scene.observed[1][i].y) * (y - scene.observed[1][i].y);
    ++n;
  }
  e.rmse_px = std::sqrt(sum / (2.0 * n));
  return e;
}

struct Result {
  PerspectiveCamera camera;
  std::vector<bool> inlier;
  bool ok = false;
};

// Ours. The calibration (focal length, principal point, size, pixel size) is known, the
// pose is not: the current camera handed to the sampler is the true one moved away.
Result Ours() {
  kxtest::SyntheticScene& scene = Scene();
  const PerspectiveCamera& truth = scene.cameras[1];
  PerspectiveCamera calibration = truth;
  SetCameraCentre(calibration, vm::Vector3{0, 0, 0});

  auto calculator = SharedPtr<SampleCalculatorProjMatrix>::Make();
  RandSampling sampler;
  sampler.SetSampleCalculator(calculator);
  RandSampling::Parameter parameter;
  parameter.m_threshold = kInlierPx / std::sqrt(2.0);  // the residual is half the square
  sampler.SetParameter(parameter);
  sampler.SetInitCamera(calibration);
  sampler.SetCurrentCamera(calibration);
  const std::vector<SharedPtr<FeatureCorrespondence>> links = scene.Links(1);
  sampler.SetCorrespondences(links);
  sampler.Run(FCORR_SUPPORT_FREEMOVE);
  Result result;
  SharedPtr<ParameterSet> best = sampler.GetParameterSet();
  if (!best) return result;

  // The matrix maps to pixels about the principal point; move it to the image centre and
  // give it the sign that puts the points in front.
  Matrix3x4 p = static_cast<const ParameterSetProjMatrix*>(best.Get())->m_p;
  const double px = calibration.GetCenterPointX(), py = calibration.GetCenterPointY();
  for (int c = 0; c < 4; ++c) {
    p[0][c] += px * p[2][c];
    p[1][c] += py * p[2][c];
  }
  const vm::Vector3& x0 = scene.points[0];
  if (p[2][0] * x0.x + p[2][1] * x0.y + p[2][2] * x0.z + p[2][3] < 0.0) p.Scale(p, -1.0);
  result.camera = calibration;
  GetCameraFromProjectionMatrix(p, result.camera);
  result.camera.SetFocalLength(calibration.GetFocalLength());
  result.camera.SetCenterPointX(px);
  result.camera.SetCenterPointY(py);

  std::vector<SharedPtr<FeaturePoint2D>> inliers;
  for (size_t i = 0; i < links.size(); ++i) {
    const bool in = (links[i]->GetFlags() & FCORR_SUPPORT_FREEMOVE) != 0;
    result.inlier.push_back(in);
    if (in) inliers.push_back(links[i]->GetSecond());
  }
  CameraEstimatorKnownFPoint3D estimator;
  const uint32_t pose = 0x7E000;
  try {
    result.ok = estimator.Optimize(&result.camera, inliers, &pose);
  } catch (const char*) {
    result.ok = false;
  }
  return result;
}

void BM_Resection_Ours(benchmark::State& state) {
  Scene();
  for (auto _ : state) benchmark::DoNotOptimize(Ours().ok);
}
BENCHMARK(BM_Resection_Ours)->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_OPENCV
Result Peer() {
  const kxtest::SyntheticScene& scene = Scene();
  const PerspectiveCamera& truth = scene.cameras[1];
  std::vector<cv::Point3d> object;
  std::vector<cv::Point2d> image;
  for (size_t i = 0; i < scene.points.size(); ++i) {
    object.emplace_back(scene.points[i].x, scene.points[i].y, scene.points[i].z);
    image.emplace_back(scene.observed[1][i].x, scene.observed[1][i].y);
  }
  const double f = truth.GetFocalLength() / truth.GetPixelSizeX();
  double cx, cy;
  PrincipalPointPx(truth, cx, cy);
  const cv::Matx33d k(f, 0, cx, 0, f, cy, 0, 0, 1);
  cv::Mat rvec, tvec;
  std::vector<int> inliers;
  Result result;
  result.ok = cv::solvePnPRansac(object, image, k, cv::noArray(), rvec, tvec, false, 1000,
                                 float(kInlierPx), 0.99, inliers);
  if (!result.ok) return result;
  cv::Matx33d r;
  cv::Rodrigues(rvec, r);
  const cv::Vec3d t(tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2));
  const cv::Vec3d c = -(r.t() * t);
  // Our camera with the peer's pose: axes are the rows of R.
  const vm::Vector3 h0{r(0, 0), r(0, 1), r(0, 2)}, v0{r(1, 0), r(1, 1), r(1, 2)},
      a{r(2, 0), r(2, 1), r(2, 2)};
  result.camera = truth;
  result.camera.Set(vm::Vector3{c[0], c[1], c[2]}, a, h0 * f + a * truth.GetCenterPointX(),
                    v0 * f + a * truth.GetCenterPointY(), truth.GetWidth(), truth.GetHeight(), 0.0,
                    truth.GetPixelSizeX(), truth.GetPixelSizeY(), 0.0, 0, nullptr);
  result.inlier.assign(scene.points.size(), false);
  for (int i : inliers) result.inlier[size_t(i)] = true;
  return result;
}

void BM_Resection_OpenCV(benchmark::State& state) {
  Scene();
  for (auto _ : state) benchmark::DoNotOptimize(Peer().ok);
}
BENCHMARK(BM_Resection_OpenCV)->Unit(benchmark::kMillisecond);
#endif

void Summarise() {
  std::printf("\nResection: %d points, 0.5 px noise, 30 %% outliers, inliers up to %.1f px\n",
              kPoints, kInlierPx);
  const Result ours = Ours();
  const double ours_ms = FastestMs([] { Ours(); });
  CameraErrors e;
  if (ours.ok) e = Measure(ours.camera, ours.inlier);
  PrintErrors("ours", e, ours_ms);
#ifdef KALVEX_HAVE_OPENCV
  const Result peer = Peer();
  const double peer_ms = FastestMs([] { Peer(); });
  CameraErrors p;
  if (peer.ok) p = Measure(peer.camera, peer.inlier);
  PrintErrors("OpenCV", p, peer_ms);
#else
  std::printf("resection  OpenCV not found\n");
#endif
}

}  // namespace resection

// ---- eight points

namespace eight_point {

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

struct SceneData {
  PerspectiveCamera c0 = MakeCamera({0, 0, 0}, 0, 0, 0);
  PerspectiveCamera c1 = MakeCamera({600, 80, -150}, 0.03, -0.12, 0.02);
  t_ListFCorr noisy, exact;
  SceneData() {
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

const SceneData& Scene() {
  static const SceneData scene;
  return scene;
}

double AngleDegrees(const vm::Vector3& a, const vm::Vector3& b) {
  const double c = a.Dot(b) / (a.Length() * b.Length());
  return std::acos(std::max(-1.0, std::min(1.0, c))) * 180.0 / M_PI;
}

// Errors of f (mm about the principal points) against the known cameras.
void Report(benchmark::State& state, const double f[9]) {
  const SceneData& s = Scene();
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

void BM_EightPoint_Ours(benchmark::State& state) {
  const SceneData& s = Scene();
  FMatrix out;
  for (auto _ : state) {
    EstimatorFMatrix estimator;
    estimator.SetCorrespondences(s.noisy, s.c0, s.c1);
    benchmark::DoNotOptimize(estimator.NormalizedEightPointAlgorithm(out));
  }
  Report(state, out.m);
}
BENCHMARK(BM_EightPoint_Ours)->Unit(benchmark::kMicrosecond);

#ifdef KALVEX_HAVE_OPENCV
void Peer(benchmark::State& state, int method) {
  const SceneData& s = Scene();
  std::vector<cv::Point2d> p0, p1;
  Points(s.noisy, p0, p1);
  cv::Mat f;
  for (auto _ : state) {
    f = cv::findFundamentalMat(p0, p1, method, 1.0, 0.999);
    benchmark::DoNotOptimize(f.data);
  }
  if (f.rows != 3) {
    state.SkipWithError("no fundamental matrix");
    return;
  }
  const cv::Matx33d f_mm = MmToPixel(s.c1).t() * cv::Matx33d(f) * MmToPixel(s.c0);
  Report(state, f_mm.val);
}

void BM_EightPoint_OpenCV(benchmark::State& state) {
  Peer(state, cv::FM_8POINT);
}
BENCHMARK(BM_EightPoint_OpenCV)->Unit(benchmark::kMicrosecond);

void BM_EightPoint_OpenCVRansac(benchmark::State& state) {
  Peer(state, cv::FM_RANSAC);
}
BENCHMARK(BM_EightPoint_OpenCVRansac)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace eight_point

// ---- fundamental matrix by RANSAC, seven points

namespace f_ransac {

constexpr int kPairs = 1000;
const kxtest::Pose kPose0{0, 0, 0, 0, 0, 0};
const kxtest::Pose kPose1{250, 60, 120, 0.04, -0.12, 0.02};

const kxtest::TwoViewTracks& Scene() {
  static const kxtest::TwoViewTracks* tracks =
      new kxtest::TwoViewTracks(kPose0, kPose1, kPairs, 0.3, false, 0.5, 3);
  return *tracks;
}

// Seven noise-free pairs of the same views.
const kxtest::TwoViewTracks& Seven() {
  static const kxtest::TwoViewTracks* tracks =
      new kxtest::TwoViewTracks(kPose0, kPose1, 7, 0.0, false, 0.0, 5);
  return *tracks;
}

struct Outcome {
  std::vector<bool> inlier;
  long hypotheses_drawn = 0;  // samples solved (ours only)
};

// The fundamental-matrix calculator, counting the samples it solves.
class CountingCalculator : public SampleCalculatorFMatrix {
 public:
  void CalcParameter(const std::vector<CorrEl*>& sample) override {
    ++calls;
    SampleCalculatorFMatrix::CalcParameter(sample);
  }
  long calls = 0;
};

// fixed_samples > 0: that many samples instead of the adaptive count.
Outcome Ours(int fixed_samples = 0) {
  const kxtest::TwoViewTracks& scene = Scene();
  auto calculator = SharedPtr<CountingCalculator>::Make();
  RandSampling sampler;
  sampler.SetSampleCalculator(calculator);
  RandSampling::Parameter parameter;
  parameter.m_threshold = kInlierPx / std::sqrt(2.0);
  if (fixed_samples > 0) {
    parameter.m_adaptive = false;
    parameter.m_max_searchs = fixed_samples;
  }
  sampler.SetParameter(parameter);
  sampler.SetInitCamera(scene.camera0);
  sampler.SetCurrentCamera(scene.camera1);
  sampler.SetCorrespondences(scene.corrs);
  sampler.Run(FCORR_SUPPORT_TRUE);
  Outcome out;
  for (const auto& corr : scene.corrs)
    out.inlier.push_back((corr->GetFlags() & FCORR_SUPPORT_TRUE) != 0);
  out.hypotheses_drawn = calculator->calls;
  return out;
}

void BM_FRansac_Ours(benchmark::State& state) {
  Scene();
  for (auto _ : state) benchmark::DoNotOptimize(Ours().inlier.size());
}
BENCHMARK(BM_FRansac_Ours)->Unit(benchmark::kMillisecond);

void BM_SevenPoint_Ours(benchmark::State& state) {
  const kxtest::TwoViewTracks& seven = Seven();
  SampleCalculatorFMatrix calculator;
  std::vector<CorrEl> elements;
  for (size_t i = 0; i < 7; ++i) elements.push_back(seven.Element(i, seven.camera1));
  const std::vector<CorrEl*> sample = kxtest::Pointers(elements);
  for (auto _ : state) {
    calculator.CalcParameter(sample);
    benchmark::DoNotOptimize(calculator.GetParameterSets().size());
  }
}
BENCHMARK(BM_SevenPoint_Ours)->Unit(benchmark::kMicrosecond);

#ifdef KALVEX_HAVE_OPENCV
Outcome Peer() {
  static std::vector<cv::Point2d> p0, p1;
  if (p0.empty()) Points(Scene().corrs, p0, p1);
  std::vector<uchar> mask;
  cv::findFundamentalMat(p0, p1, cv::FM_RANSAC, kInlierPx, 0.99, 1000, mask);
  Outcome out;
  for (uchar m : mask) out.inlier.push_back(m != 0);
  out.inlier.resize(p0.size(), false);
  return out;
}

void BM_FRansac_OpenCV(benchmark::State& state) {
  Scene();
  for (auto _ : state) benchmark::DoNotOptimize(Peer().inlier.size());
}
BENCHMARK(BM_FRansac_OpenCV)->Unit(benchmark::kMillisecond);

void BM_SevenPoint_OpenCV(benchmark::State& state) {
  std::vector<cv::Point2d> p0, p1;
  Points(Seven().corrs, p0, p1);
  for (auto _ : state) {
    cv::Mat f = cv::findFundamentalMat(p0, p1, cv::FM_7POINT);
    benchmark::DoNotOptimize(f.rows);
  }
}
BENCHMARK(BM_SevenPoint_OpenCV)->Unit(benchmark::kMicrosecond);
#endif

void PrintOutcome(const char* who, const Outcome& o, double ms) {
  const kxtest::TwoViewTracks& scene = Scene();
  int true_inliers = 0, found = 0, found_true = 0;
  for (size_t i = 0; i < scene.corrs.size(); ++i) {
    true_inliers += !scene.outlier[i];
    found += o.inlier[i];
    found_true += o.inlier[i] && !scene.outlier[i];
  }
  std::printf("%-7s recall %.4f (%d/%d), precision %.4f (%d/%d), %.3f ms", who,
              double(found_true) / true_inliers, found_true, true_inliers,
              found ? double(found_true) / found : 0.0, found_true, found, ms);
  if (o.hypotheses_drawn) std::printf(", %ld samples", o.hypotheses_drawn);
  std::printf("\n");
}

void Summarise() {
  const kxtest::TwoViewTracks& scene = Scene();
  int consistent = 0, outliers = 0;
  for (size_t i = 0; i < scene.corrs.size(); ++i) {
    if (!scene.outlier[i]) continue;
    ++outliers;
    // Both point-to-line distances within the bound: (d0^2 + d1^2)/4 below t^2/2.
    consistent += kxtest::TrueEpipolarResidual(scene, scene.Element(i, scene.camera1)) <
                  kInlierPx * kInlierPx / 2.0;
  }
  std::printf(
      "\nFundamental matrix by RANSAC: %d pairs, 0.5 px noise, %d outliers (%d of them "
      "within %.1f px of their true epipolar lines), inliers up to %.1f px\n",
      kPairs, outliers, consistent, kInlierPx, kInlierPx);
  const Outcome ours = Ours();
  PrintOutcome("ours", ours, FastestMs([] { Ours(); }));
  // The same sampler with the textbook count at 0.99 confidence for the inlier share it
  // found, ln(0.01) / ln(1 - w^7), the rule OpenCV stops by: the cost of one sample.
  int found = 0;
  for (bool in : ours.inlier) found += in;
  const double w = double(found) / kPairs;
  const int textbook = int(std::ceil(std::log(0.01) / std::log(1.0 - std::pow(w, 7))));
  PrintOutcome("ours/tb", Ours(textbook), FastestMs([textbook] { Ours(textbook); }));
#ifdef KALVEX_HAVE_OPENCV
  const Outcome peer = Peer();
  PrintOutcome("OpenCV", peer, FastestMs([] { Peer(); }));
#else
  std::printf("OpenCV not found\n");
#endif

  // The minimal solvers on exact data: solutions and the distance of the nearest one to
  // the true F (unit norm, sign-free).
  const kxtest::TwoViewTracks& seven = Seven();
  double truth[9];
  kxtest::TrueFundamental(seven.camera0, seven.camera1, truth);
  SampleCalculatorFMatrix calculator;
  std::vector<CorrEl> elements;
  for (size_t i = 0; i < 7; ++i) elements.push_back(seven.Element(i, seven.camera1));
  const std::vector<CorrEl*> sample = kxtest::Pointers(elements);
  calculator.CalcParameter(sample);
  double nearest = 1e30;
  for (const ParameterSet* p : calculator.GetParameterSets())
    nearest =
        std::min(nearest, kxtest::ProportionalDistance(
                              static_cast<const ParameterSetFMatrix*>(p)->m_fmatrix.m, truth));
  std::printf("\nSeven points, exact: ours %zu solution(s), nearest %.2e from the true F\n",
              calculator.GetParameterSets().size(), nearest);
#ifdef KALVEX_HAVE_OPENCV
  const cv::Matx33d f_px =
      PixelToMm(seven.camera1).t() * cv::Matx33d(truth) * PixelToMm(seven.camera1);
  std::vector<cv::Point2d> p0, p1;
  Points(seven.corrs, p0, p1);
  const cv::Mat f = cv::findFundamentalMat(p0, p1, cv::FM_7POINT);
  double peer_nearest = 1e30;
  for (int k = 0; k + 3 <= f.rows; k += 3) {
    double a[9];
    for (int i = 0; i < 9; ++i) a[i] = f.at<double>(k + i / 3, i % 3);
    peer_nearest = std::min(peer_nearest, kxtest::ProportionalDistance(a, f_px.val));
  }
  std::printf("Seven points, exact: OpenCV %d solution(s), nearest %.2e from the true F\n",
              f.rows / 3, peer_nearest);
#endif
}

}  // namespace f_ransac

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The sampler's progress lines and the rectification's printouts would swamp the tables.
  NotifyContext::SetNotifyLevel(1);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  resection::Summarise();
  f_ransac::Summarise();
  return 0;
}
