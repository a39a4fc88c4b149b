// Dense products and SVD side by side with Eigen on the same matrices in the
// same run; prints our time, Eigen's time and their ratio per size.
// bench-peer: libeigen3-dev
#include <benchmark/benchmark.h>
#include <Eigen/Dense>

#include <cstdio>
#include <map>
#include <random>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "ratio_reporter.h"

namespace {

struct Operands {
  Matrix A, B;
  Eigen::MatrixXd eA, eB;
};

const Operands& Get(int n) {
  static std::map<int, Operands> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  Operands& o = cache[n];
  std::mt19937 rng(n);
  std::uniform_real_distribution<double> u(-1, 1);
  uint32_t un = static_cast<uint32_t>(n);
  o.A.Resize(un, un);
  o.B.Resize(un, un);
  o.eA.resize(n, n);
  o.eB.resize(n, n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      o.eA(r, c) = o.A(r, c) = u(rng);
      o.eB(r, c) = o.B(r, c) = u(rng);
    }
  return o;
}

void OursABt(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  Matrix R;
  for (auto _ : state) {
    R.MultiplyABt(o.A, o.B);
    benchmark::DoNotOptimize(R.Data());
  }
}
void EigenABt(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  Eigen::MatrixXd R;
  for (auto _ : state) {
    R.noalias() = o.eA * o.eB.transpose();
    benchmark::DoNotOptimize(R.data());
  }
}
void OursAtB(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  Matrix R;
  for (auto _ : state) {
    R.MultiplyAtB(o.A, o.B);
    benchmark::DoNotOptimize(R.Data());
  }
}
void EigenAtB(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  Eigen::MatrixXd R;
  for (auto _ : state) {
    R.noalias() = o.eA.transpose() * o.eB;
    benchmark::DoNotOptimize(R.data());
  }
}
void OursSVD(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  Matrix U, V;
  Vector w;
  for (auto _ : state) {
    U.SVD(w, V, o.A);
    benchmark::DoNotOptimize(w.Data());
  }
}
void EigenSVD(benchmark::State& state) {
  const Operands& o = Get(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Eigen::BDCSVD<Eigen::MatrixXd> svd(o.eA, Eigen::ComputeThinU | Eigen::ComputeThinV);
    benchmark::DoNotOptimize(svd.singularValues().data());
  }
}

}  // namespace

BENCHMARK(OursABt)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(EigenABt)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(OursAtB)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(EigenAtB)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(OursSVD)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(EigenSVD)->RangeMultiplier(2)->Range(8, 1024)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
#ifdef KX_PEER_AVX2
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
    std::fprintf(stderr, "this comparison needs a processor with AVX2 and FMA\n");
    return 0;
  }
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(
      "Eigen", {{"OursABt", "EigenABt"}, {"OursAtB", "EigenAtB"}, {"OursSVD", "EigenSVD"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
