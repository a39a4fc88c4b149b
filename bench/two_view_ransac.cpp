// The seven-point fundamental matrix inside the random sampler, side by side with
// OpenCV's findFundamentalMat on the same synthetic pair of views.
//
// Scene: 1000 correspondences of points 4 to 8 m away seen by two 720 x 576 cameras
// (800 px focal length) that turn and translate, 0.5 px noise, 30 % of the pairs with
// their second point moved 8 to 40 px in a random direction (the known outliers).
// Ours: RandSampling with SampleCalculatorFMatrix and its own stopping rule; the residual
// is the mean of the two squared point-to-line distances, so an inlier bound of t px on
// each distance is m_threshold = t / sqrt(2). OpenCV: FM_RANSAC with the bound t on the
// larger distance and its defaults (0.99 confidence, at most 1000 iterations). Both
// report inlier recall and precision against the known outliers, and time. A moved pair
// that happens to stay within t px of its true epipolar lines is counted as an outlier
// for both sides; the summary says how many there are. The row "ours/tb" runs our
// sampler for the textbook number of samples instead of its own adaptive count, to
// compare the cost per sample.
//
// The minimal solvers on their own: SampleCalculatorFMatrix::CalcParameter against
// FM_7POINT on seven exact pairs.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "foundation/runtime/notify.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/two_view_tracks_for_test.h"

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#endif

namespace {

constexpr int kPairs = 1000;
constexpr double kInlierPx = 2.0;
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
Outcome OurRansac(int fixed_samples = 0) {
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
  for (auto _ : state) benchmark::DoNotOptimize(OurRansac().inlier.size());
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
void Points(const kxtest::TwoViewTracks& tracks, std::vector<cv::Point2d>& p0,
            std::vector<cv::Point2d>& p1) {
  p0.clear();
  p1.clear();
  for (const auto& corr : tracks.corrs) {
    p0.emplace_back(corr->GetFirst()->x, corr->GetFirst()->y);
    p1.emplace_back(corr->GetSecond()->x, corr->GetSecond()->y);
  }
}

Outcome PeerRansac() {
  static std::vector<cv::Point2d> p0, p1;
  if (p0.empty()) Points(Scene(), p0, p1);
  std::vector<uchar> mask;
  cv::findFundamentalMat(p0, p1, cv::FM_RANSAC, kInlierPx, 0.99, 1000, mask);
  Outcome out;
  for (uchar m : mask) out.inlier.push_back(m != 0);
  out.inlier.resize(p0.size(), false);
  return out;
}

void BM_FRansac_OpenCV(benchmark::State& state) {
  Scene();
  for (auto _ : state) benchmark::DoNotOptimize(PeerRansac().inlier.size());
}
BENCHMARK(BM_FRansac_OpenCV)->Unit(benchmark::kMillisecond);

void BM_SevenPoint_OpenCV(benchmark::State& state) {
  std::vector<cv::Point2d> p0, p1;
  Points(Seven(), p0, p1);
  for (auto _ : state) {
    cv::Mat f = cv::findFundamentalMat(p0, p1, cv::FM_7POINT);
    benchmark::DoNotOptimize(f.rows);
  }
}
BENCHMARK(BM_SevenPoint_OpenCV)->Unit(benchmark::kMicrosecond);
#endif

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
  const Outcome ours = OurRansac();
  PrintOutcome("ours", ours, FastestMs([] { OurRansac(); }));
  // The same sampler with the textbook count at 0.99 confidence for the inlier share it
  // found, ln(0.01) / ln(1 - w^7), the rule OpenCV stops by: the cost of one sample.
  int found = 0;
  for (bool in : ours.inlier) found += in;
  const double w = double(found) / kPairs;
  const int textbook = int(std::ceil(std::log(0.01) / std::log(1.0 - std::pow(w, 7))));
  PrintOutcome("ours/tb", OurRansac(textbook), FastestMs([textbook] { OurRansac(textbook); }));
#ifdef KALVEX_HAVE_OPENCV
  const Outcome peer = PeerRansac();
  PrintOutcome("OpenCV", peer, FastestMs([] { PeerRansac(); }));
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
  // The true F in pixels: x_mm = S x_px with S = [sx 0 -sx cx; 0 sy -sy cy; 0 0 1].
  const PerspectiveCamera& c = seven.camera1;
  const double cx = (c.GetWidth() - 1) / 2.0 + c.GetCenterPointX();
  const double cy = (c.GetHeight() - 1) / 2.0 + c.GetCenterPointY();
  const cv::Matx33d s(c.GetPixelSizeX(), 0, -c.GetPixelSizeX() * cx, 0, c.GetPixelSizeY(),
                      -c.GetPixelSizeY() * cy, 0, 0, 1);
  const cv::Matx33d f_mm(truth);
  const cv::Matx33d f_px = s.t() * f_mm * s;
  std::vector<cv::Point2d> p0, p1;
  Points(seven, p0, p1);
  const cv::Mat f = cv::findFundamentalMat(p0, p1, cv::FM_7POINT);
  double peer_nearest = 1e30;
  for (int k = 0; k + 3 <= f.rows; k += 3) {
    double a[9], b[9];
    for (int i = 0; i < 9; ++i) {
      a[i] = f.at<double>(k + i / 3, i % 3);
      b[i] = f_px.val[i];
    }
    peer_nearest = std::min(peer_nearest, kxtest::ProportionalDistance(a, b));
  }
  std::printf("Seven points, exact: OpenCV %d solution(s), nearest %.2e from the true F\n",
              f.rows / 3, peer_nearest);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  NotifyContext::SetNotifyLevel(1);  // the sampler's progress lines would swamp the tables
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Summarise();
  return 0;
}
