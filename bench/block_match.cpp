// One block-matching frame step on 1280x720 colour frames with 1000 features: the
// quarter images of both frames, then one track job per feature on the worker pool
// (1 and 2 threads). Also the cost of one 8x8 search alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "features/block_match_kernels.h"
#include "features/feature_correlator_hbm.h"
#include "foundation/runtime/worker_pool.h"

namespace {

constexpr int kW = 1280, kH = 720;

std::vector<uint32_t> Texture(int w, int h, double dx, double dy) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x - dx, v = y - dy;
      const double c[3] = {128 + 60 * std::sin(0.071 * u + 0.043 * v) + 40 * std::cos(0.23 * v),
                           128 + 60 * std::sin(0.053 * u - 0.081 * v) + 40 * std::cos(0.29 * u),
                           128 + 60 * std::cos(0.061 * u + 0.067 * v) + 40 * std::sin(0.33 * v)};
      uint32_t p = 0;
      for (int k = 0; k < 3; ++k) p |= uint32_t(std::lround(c[k])) << (8 * k);
      px[size_t(y) * w + x] = p;
    }
  }
  return px;
}

struct Frame {
  std::vector<uint32_t> full, half, quarter;
  Frame(double dx, double dy) : full(Texture(kW, kH, dx, dy)), half(size_t(kW / 2) * (kH / 2)) {
    HalveImageRGBA(half.data(), kW / 2, full.data(), kW, kW, kH);
    quarter.resize(size_t(kW / 4) * (kH / 4));
  }
};

void BM_FrameStep(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  Frame a(0, 0), b(3.4, -2.2);
  HBMLevelImages im;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> px(20, kW - 20), py(20, kH - 20);
  std::vector<TrackFeatureItem> items(1000);
  std::vector<BlockMatchPosition> start(items.size());
  for (auto& s : start) {
    s.source_x = s.target_x = px(rng);
    s.source_y = s.target_y = py(rng);
  }
  for (auto _ : state) {
    HalveImageRGBA(a.quarter.data(), kW / 4, a.half.data(), kW / 2, kW / 2, kH / 2);
    HalveImageRGBA(b.quarter.data(), kW / 4, b.half.data(), kW / 2, kW / 2, kH / 2);
    const uint32_t* src[3] = {a.full.data(), a.half.data(), a.quarter.data()};
    const uint32_t* tgt[3] = {b.full.data(), b.half.data(), b.quarter.data()};
    for (int l = 0; l < 3; ++l) im.level[l] = {src[l], tgt[l], kW >> l, kH >> l, kW >> l};
    for (size_t i = 0; i < items.size(); ++i) items[i] = {&im, start[i], -1};
    WorkerPool::ParallelFor(nullptr, items.data(), sizeof(TrackFeatureItem),
                            static_cast<int>(items.size()), &TrackFeatureJob, false);
    benchmark::DoNotOptimize(items.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(items.size()));
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_FrameStep)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("threads")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One quarter-level search (8x8 block, +-8) without refinement.
void BM_SearchQuarter(benchmark::State& state) {
  Frame a(0, 0), b(3.4, -2.2);
  BlockMatchPosition p{};
  for (auto _ : state) {
    p = {100.0, 80.0, 100.0, 80.0};
    benchmark::DoNotOptimize(
        MatchBlockSAD(p, a.half.data(), b.half.data(), kW / 2, kW / 2, kH / 2, 8, 8, 8, 8, 0));
  }
}
BENCHMARK(BM_SearchQuarter);

// The full-level search with up to 15 refinement steps.
void BM_SearchRefineFull(benchmark::State& state) {
  Frame a(0, 0), b(0.4, -0.2);
  BlockMatchPosition p{};
  for (auto _ : state) {
    p = {400.0, 300.0, 400.0, 300.0};
    benchmark::DoNotOptimize(
        MatchBlockSAD(p, a.full.data(), b.full.data(), kW, kW, kH, 8, 8, 2, 2, 15));
  }
}
BENCHMARK(BM_SearchRefineFull);

}  // namespace

BENCHMARK_MAIN();
