// Gaussian blur (sigma 1 and 3) of 1280x720 and 1920x1080 float planes and a
// 3-level pyramid of the larger one, with 1 and 2 threads, side by side with
// OpenCV's GaussianBlur (same kernel length, edge pixels repeated) and two
// pyrDown steps; prints ours / OpenCV per case after the table.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "features/image_pyramid.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/worker_pool.h"
#include "image/filter_kernel.h"
#include "image/separable_convolution.h"
#include "ratio_reporter.h"

#ifdef KALVEX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

void Fill(const ArrayMap<float>& m) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(0.0f, 255.0f);
  for (uint32_t y = 0; y < m.height; ++y)
    for (uint32_t x = 0; x < m.width; ++x) m.data[x + size_t(y) * m.stride] = dist(rng);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int width : {1280, 1920})
    for (int sigma : {1, 3})
      for (int threads : {1, 2}) b->Args({sigma, threads, width});
  b->ArgNames({"sigma", "threads", "width"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

// 16:9 planes: 1280 wide gives 720 rows, 1920 wide 1080.
uint32_t HeightOf(int64_t width) {
  return static_cast<uint32_t>(width * 9 / 16);
}

void ThreadArgs(benchmark::internal::Benchmark* b) {
  b->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
}

void BM_GaussianBlur(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(1)));
  const uint32_t width = static_cast<uint32_t>(state.range(2)), height = HeightOf(width);
  Array<float, 1> src(width, height), dst(width, height);
  Fill(src.Plane(0));
  FilterKernel kernel;
  kernel.SetSigma(static_cast<float>(state.range(0)));
  for (auto _ : state) {
    SeparableConvolutionBatch batch;
    batch.Add(SeparableConvolution(dst.Plane(0), src.Plane(0), 0, 0, kernel, kernel, 1, 1));
    batch.Execute();
    benchmark::DoNotOptimize(dst.Data());
  }
  state.counters["taps"] = static_cast<double>(kernel.Size());
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_GaussianBlur)->Apply(Args);

void BM_Pyramid3(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  ImagePyramid pyramid;
  pyramid.AllocLevels(kWidth, kHeight, 3, 2, 2);
  Fill(pyramid.GetCPicture(0)->Plane(0));
  for (auto _ : state) {
    pyramid.ComputeLevels();
    benchmark::DoNotOptimize(pyramid.GetCPicture(2)->Data());
  }
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_Pyramid3)->Apply(ThreadArgs);

#ifdef KALVEX_HAVE_OPENCV
cv::Mat PeerInput(uint32_t width = kWidth, uint32_t height = kHeight) {
  cv::Mat m(static_cast<int>(height), static_cast<int>(width), CV_32F);
  Array<float, 1> a(width, height);
  Fill(a.Plane(0));
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) m.at<float>(y, x) = a.GetElement(x, y, 0);
  return m;
}

void BM_PeerGaussianBlur(benchmark::State& state) {
  cv::setNumThreads(static_cast<int>(state.range(1)));
  const uint32_t width = static_cast<uint32_t>(state.range(2));
  const cv::Mat src = PeerInput(width, HeightOf(width));
  cv::Mat dst;
  FilterKernel kernel;  // the same kernel length as ours
  kernel.SetSigma(static_cast<float>(state.range(0)));
  const int k = static_cast<int>(kernel.Size());
  const double sigma = static_cast<double>(state.range(0));
  for (auto _ : state) {
    cv::GaussianBlur(src, dst, cv::Size(k, k), sigma, sigma, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(dst.data);
  }
  state.counters["taps"] = k;
}
BENCHMARK(BM_PeerGaussianBlur)->Apply(Args);

void BM_PeerPyrDown3(benchmark::State& state) {
  cv::setNumThreads(static_cast<int>(state.range(0)));
  const cv::Mat src = PeerInput();
  cv::Mat level1, level2;
  for (auto _ : state) {
    cv::pyrDown(src, level1);
    cv::pyrDown(level1, level2);
    benchmark::DoNotOptimize(level2.data);
  }
}
BENCHMARK(BM_PeerPyrDown3)->Apply(ThreadArgs);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(
      "OpenCV", {{"BM_GaussianBlur", "BM_PeerGaussianBlur"}, {"BM_Pyramid3", "BM_PeerPyrDown3"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
