// The Harris detector on a 1920 × 1080 picture, beside OpenCV's cornerHarris (the
// response alone) and goodFeaturesToTrack with the Harris measure (response, maxima and
// selection) on the same picture in the same run; prints the times and the ratios.
// Both sides run on one thread.
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "features/harris.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Squares of random size and brightness on a noisy background: corners everywhere.
const cv::Mat& Frame() {
  static cv::Mat frame = [] {
    cv::Mat m(kHeight, kWidth, CV_8UC1);
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> noise(0, 7), level(20, 235), pos(0, 1 << 20), side(6, 40);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        m.at<unsigned char>(y, x) = static_cast<unsigned char>(60 + noise(rng));
    for (int i = 0; i < 3000; ++i) {
      const int s = side(rng), x0 = pos(rng) % (kWidth - s), y0 = pos(rng) % (kHeight - s);
      const int v = level(rng);
      for (int y = y0; y < y0 + s; ++y)
        for (int x = x0; x < x0 + s; ++x)
          m.at<unsigned char>(y, x) = static_cast<unsigned char>(v + noise(rng));
    }
    return m;
  }();
  return frame;
}

const CPicture<unsigned char>& Picture() {
  static CPicture<unsigned char> picture;
  if (picture.Width() == 0) {
    picture.Resize(kWidth, kHeight, 1);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) picture.SetElement(Frame().at<unsigned char>(y, x), x, y, 0);
  }
  return picture;
}

void OursHarris(benchmark::State& state) {
  Harris harris;
  size_t corners = 0;
  for (auto _ : state) {
    corners = harris.Detect(Picture()).size();
    benchmark::DoNotOptimize(corners);
  }
  state.counters["corners"] = static_cast<double>(corners);
}

void PeerCornerHarris(benchmark::State& state) {
  cv::setNumThreads(1);
  cv::Mat response;
  for (auto _ : state) {
    cv::cornerHarris(Frame(), response, 5, 5, 0.04);
    benchmark::DoNotOptimize(response.data);
  }
}

void PeerGoodFeatures(benchmark::State& state) {
  cv::setNumThreads(1);
  std::vector<cv::Point2f> corners;
  for (auto _ : state) {
    cv::goodFeaturesToTrack(Frame(), corners, 900, 1e-5, 4.0, cv::noArray(), 5, true, 0.04);
    benchmark::DoNotOptimize(corners.data());
  }
  state.counters["corners"] = static_cast<double>(corners.size());
}

// Prints our time against each peer's after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto ours = times_.find("OursHarris");
    if (ours == times_.end()) return;
    std::printf("\n%-18s %12s %12s %8s\n", "peer", "ours ms", "peer ms", "ratio");
    for (const char* peer : {"PeerCornerHarris", "PeerGoodFeatures"}) {
      auto it = times_.find(peer);
      if (it == times_.end()) continue;
      std::printf("%-18s %12.3f %12.3f %8.2f\n", peer, ours->second, it->second,
                  ours->second / it->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

BENCHMARK(OursHarris)->Unit(benchmark::kMillisecond);
BENCHMARK(PeerCornerHarris)->Unit(benchmark::kMillisecond);
BENCHMARK(PeerGoodFeatures)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
