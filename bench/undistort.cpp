// Removing the lens distortion of one 1920 x 1080 frame (no file input or output): our
// TransformImage through RadialDistortionMapper (bilinear) side by side with OpenCV's cv::remap
// (bilinear) on maps built once from the same lens model, on 1 and 2 threads, over a smooth
// picture. Prints the largest difference of one byte between the two results inside the
// picture. Most of our time is the resampling itself: an identity mapper costs nearly as much.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/ratio_reporter.h"
#include "export/undistorted_image_export.h"
#include "foundation/camera/radial_distortion.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/worker_pool.h"
#include "image/image_transform.h"

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A barrel lens of a wide shot: 8 % at the corners.
RadialDistortionParameters Lens() {
  const double r2 = 0.25 * (double(kWidth) * kWidth + double(kHeight) * kHeight);
  return {0.5 * kWidth - 0.5, 0.5 * kHeight - 0.5, 1, 1, {0.08 / r2, 0, 0, 0}, 1.0, Poly3};
}

const Array<uint32_t, 1>& Frame() {
  static Array<uint32_t, 1> frame(kWidth, kHeight);
  static bool filled = false;
  if (!filled) {
    const ArrayMap<uint32_t>& m = frame.Plane(0);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        m.data[size_t(y) * m.stride + x] = uint32_t(128 + 120 * std::sin(x * 0.05)) << 16 |
                                           uint32_t(128 + 120 * std::sin(y * 0.07 + x * 0.02))
                                               << 8 |
                                           uint32_t(128 + 120 * std::cos((x - y) * 0.03));
    filled = true;
  }
  return frame;
}

void ThreadArgs(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
}

Array<uint32_t, 1> ours_out(kWidth, kHeight);

void BM_Undistort(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  const RadialDistortionMapper mapper(Lens(), true);
  for (auto _ : state) {
    TransformImage(ours_out.Plane(0), 0, 0, Frame().Plane(0), mapper, 2, 0);
    benchmark::DoNotOptimize(ours_out.Plane(0).data);
  }
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_Undistort)->Apply(ThreadArgs);

#ifdef KALVEX_HAVE_OPENCV
cv::Mat peer_out;

void BM_PeerRemap(benchmark::State& state) {
  cv::setNumThreads(static_cast<int>(state.range(0)));
  const ArrayMap<uint32_t>& f = Frame().Plane(0);
  const cv::Mat src(kHeight, kWidth, CV_8UC4, f.data, size_t(f.stride) * 4);
  // The same source positions, in OpenCV's pixel-centre coordinates.
  cv::Mat map_x(kHeight, kWidth, CV_32F), map_y(kHeight, kWidth, CV_32F);
  const RadialDistortionMapper mapper(Lens(), true);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double sx = 0, sy = 0;
      mapper.Map(sx, sy, x, y);
      map_x.at<float>(y, x) = static_cast<float>(sx - 0.5);
      map_y.at<float>(y, x) = static_cast<float>(sy - 0.5);
    }
  }
  for (auto _ : state) {
    cv::remap(src, peer_out, map_x, map_y, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(peer_out.data);
  }
}
BENCHMARK(BM_PeerRemap)->Apply(ThreadArgs);

void PrintLargestDifference() {
  if (peer_out.empty()) return;
  const ArrayMap<uint32_t>& ours = ours_out.Plane(0);
  int largest = 0;
  for (int y = 2; y < kHeight - 2; ++y) {
    for (int x = 2; x < kWidth - 2; ++x) {
      const uint32_t a = ours.data[size_t(y) * ours.stride + x];
      const cv::Vec4b b = peer_out.at<cv::Vec4b>(y, x);
      for (int c = 0; c < 3; ++c)
        largest = std::max(largest, std::abs(int((a >> (8 * c)) & 255) - int(b[c])));
    }
  }
  std::printf("largest difference to cv::remap inside the frame: %d levels\n", largest);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter("OpenCV", {{"BM_Undistort", "BM_PeerRemap"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
#ifdef KALVEX_HAVE_OPENCV
  PrintLargestDifference();
#endif
  benchmark::Shutdown();
  return 0;
}
