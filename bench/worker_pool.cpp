// Cost of WorkerPool::ParallelFor per job and per item, and the speed-up of a
// CPU-bound loop over 1, 2 and all processors.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/runtime/worker_pool.h"
#include "platform/environment.h"

namespace {

void EmptyItem(void*, void*) {}

// Pool sizes 1, 2 and all processors (without repeats on small machines).
void PoolSizes(benchmark::internal::Benchmark* b) {
  std::vector<int> sizes = {1, 2, platform::OnlineProcessorCount()};
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  for (int n : sizes) b->Arg(n);
  b->ArgName("threads")->UseRealTime();
}

// One job with one empty item per thread: the fixed cost of waking the pool.
void BM_ParallelForPerJob(benchmark::State& state) {
  const int threads = WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    WorkerPool::ParallelFor(nullptr, nullptr, 1, threads, &EmptyItem, false);
  }
  state.counters["jobs/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_ParallelForPerJob)->Apply(PoolSizes);

// Many empty items in one job: the cost of claiming one item.
void BM_ParallelForPerItem(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  constexpr int kItems = 100000;
  for (auto _ : state) {
    WorkerPool::ParallelFor(nullptr, nullptr, 1, kItems, &EmptyItem, false);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_ParallelForPerItem)->Apply(PoolSizes);

// A CPU-bound loop in bands: each band sums a slowly converging series.
constexpr int kBands = 256;
constexpr int kTermsPerBand = 20000;

struct Bands {
  double sums[kBands];
};

void SumBand(void* context, void* item) {
  const auto band = static_cast<int>(reinterpret_cast<std::intptr_t>(item));
  double sum = 0.0;
  for (int k = 0; k < kTermsPerBand; ++k) {
    const double x = band * kTermsPerBand + k + 1.0;
    sum += std::sin(x) / x;
  }
  static_cast<Bands*>(context)->sums[band] = sum;
}

double SerialSeconds() {
  static const double seconds = [] {
    Bands bands;
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
      const auto start = std::chrono::steady_clock::now();
      for (int b = 0; b < kBands; ++b) SumBand(&bands, reinterpret_cast<void*>(std::intptr_t{b}));
      benchmark::DoNotOptimize(bands.sums[0]);
      best = std::min(
          best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
  }();
  return seconds;
}

// "speed-up" = time of the plain serial loop / time through the pool.
void BM_CpuBoundLoop(benchmark::State& state) {
  WorkerPool::SetNumberOfThreads(static_cast<int>(state.range(0)));
  const double serial = SerialSeconds();
  Bands bands;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    WorkerPool::ParallelFor(&bands, nullptr, 1, kBands, &SumBand, false);
    benchmark::DoNotOptimize(bands.sums[0]);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["speed-up"] = serial * static_cast<double>(state.iterations()) / seconds;
  WorkerPool::SetNumberOfThreads(0);
}
BENCHMARK(BM_CpuBoundLoop)->Apply(PoolSizes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
