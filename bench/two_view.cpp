// Two-view geometry and camera resection on synthetic scenes with known cameras, side
// by side with OpenCV. Each problem has its own section: a scene, our pipeline, the
// peer's, and a line in the summary after the benchmarks with both sides' errors
// against the known cameras.
//
// Resection: 1000 points seen by a camera with an off-centre principal point, 0.5 px
// noise, 30 % of the observations replaced by outliers. Ours: RANSAC with the
// projection-matrix calculator (inliers up to 2 px), the camera taken from the best
// matrix, then its pose refined on the inliers with the focal length and principal
// point known. OpenCV: solvePnPRansac with the known calibration, the same 2 px and
// 0.99 confidence.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_proj_matrix.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "testing/synthetic_scene_for_test.h"

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#endif

namespace {

// ---- shared measures

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

void PrintErrors(const char* problem, const char* who, const CameraErrors& e, double ms) {
  if (!e.ok) {
    std::printf("%-10s %-7s failed\n", problem, who);
    return;
  }
  std::printf(
      "%-10s %-7s rotation %.5f deg, centre %.3f mm, rmse %.4f px, missed inliers %d, kept "
      "outliers %d, %.3f ms\n",
      problem, who, e.rotation_deg, e.centre_mm, e.rmse_px, e.missed_inliers, e.kept_outliers, ms);
}

// ---- resection

constexpr int kResectionPoints = 1000;
constexpr double kInlierPx = 2.0;

kxtest::SyntheticScene& ResectionScene() {
  static kxtest::SyntheticScene* scene = [] {
    auto* s = new kxtest::SyntheticScene({.num_points = kResectionPoints,
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
  const kxtest::SyntheticScene& scene = ResectionScene();
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

struct ResectionResult {
  PerspectiveCamera camera;
  std::vector<bool> inlier;
  bool ok = false;
};

// Ours. The calibration (focal length, principal point, size, pixel size) is known, the
// pose is not: the current camera handed to the sampler is the true one moved away.
ResectionResult OurResection() {
  kxtest::SyntheticScene& scene = ResectionScene();
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
  ResectionResult result;
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
  ResectionScene();
  for (auto _ : state) benchmark::DoNotOptimize(OurResection().ok);
}
BENCHMARK(BM_Resection_Ours)->Unit(benchmark::kMillisecond);

#ifdef KALVEX_HAVE_OPENCV
ResectionResult PeerResection() {
  const kxtest::SyntheticScene& scene = ResectionScene();
  const PerspectiveCamera& truth = scene.cameras[1];
  std::vector<cv::Point3d> object;
  std::vector<cv::Point2d> image;
  for (size_t i = 0; i < scene.points.size(); ++i) {
    object.emplace_back(scene.points[i].x, scene.points[i].y, scene.points[i].z);
    image.emplace_back(scene.observed[1][i].x, scene.observed[1][i].y);
  }
  const double f = truth.GetFocalLength() / truth.GetPixelSizeX();
  const double cx = (truth.GetWidth() - 1) / 2.0 + truth.GetCenterPointX();
  const double cy = (truth.GetHeight() - 1) / 2.0 + truth.GetCenterPointY();
  const cv::Matx33d k(f, 0, cx, 0, f, cy, 0, 0, 1);
  cv::Mat rvec, tvec;
  std::vector<int> inliers;
  ResectionResult result;
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
  ResectionScene();
  for (auto _ : state) benchmark::DoNotOptimize(PeerResection().ok);
}
BENCHMARK(BM_Resection_OpenCV)->Unit(benchmark::kMillisecond);
#endif

// Wall time of one call in ms, the fastest of a few.
template <class F>
double FastestMs(F f) {
  double best = 1e30;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(
        best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
  }
  return best;
}

void SummariseResection() {
  std::printf("\nResection: %d points, 0.5 px noise, 30 %% outliers, inliers up to %.1f px\n",
              kResectionPoints, kInlierPx);
  const ResectionResult ours = OurResection();
  const double ours_ms = FastestMs([] { OurResection(); });
  CameraErrors e;
  if (ours.ok) e = Measure(ours.camera, ours.inlier);
  PrintErrors("resection", "ours", e, ours_ms);
#ifdef KALVEX_HAVE_OPENCV
  const ResectionResult peer = PeerResection();
  const double peer_ms = FastestMs([] { PeerResection(); });
  CameraErrors p;
  if (peer.ok) p = Measure(peer.camera, peer.inlier);
  PrintErrors("resection", "OpenCV", p, peer_ms);
#else
  std::printf("resection  OpenCV not found\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  NotifyContext::SetNotifyLevel(1);  // the sampler's progress lines would swamp the tables
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  SummariseResection();
  return 0;
}
