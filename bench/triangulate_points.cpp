// Triangulating 10^5 and 10^6 random points spread evenly over a square: our
// BuildTriangleMeshFromPoints side by side with qhull's Delaunay triangulation ("qhull d Qt
// Qbb", the options of qdelaunay with triangulated output) through libqhull_r in this
// process. Both include copying the input and listing the triangles as point-number
// triples. Afterwards prints, for the 10^5 set, how many triangles each gave and how many
// of ours qhull lacks (our hull drops slivers with a far circumcentre, so ours may be fewer).
// bench-peer: libqhull-dev
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/ratio_reporter.h"
#include "scene/objects/point_triangulation.h"

#ifdef KALVEX_HAVE_QHULL
extern "C" {
#include <libqhull_r/qhull_ra.h>
}
#endif

namespace {

const std::vector<vm::Vector2>& Points(size_t n) {
  static std::vector<vm::Vector2> points;
  if (points.size() != n) {
    std::mt19937_64 random(55);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    points.resize(n);
    for (vm::Vector2& p : points) p = {unit(random), unit(random)};
  }
  return points;
}

void SizeArgs(benchmark::internal::Benchmark* b) {
  b->Arg(100000)->Arg(1000000)->ArgName("points")->UseRealTime()->Unit(benchmark::kMillisecond);
}

std::vector<PointTriangle> ours_out;

void BM_Triangulate(benchmark::State& state) {
  const std::vector<vm::Vector2>& points = Points(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    if (BuildTriangleMeshFromPoints(ours_out, points) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(ours_out.data());
  }
  state.counters["triangles"] = static_cast<double>(ours_out.size());
}
BENCHMARK(BM_Triangulate)->Apply(SizeArgs);

#ifdef KALVEX_HAVE_QHULL
std::vector<std::array<uint32_t, 3>> peer_out;

// Returns false when qhull fails.
bool QhullDelaunay(const std::vector<vm::Vector2>& points,
                   std::vector<std::array<uint32_t, 3>>& out) {
  std::vector<coordT> coordinates(2 * points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    coordinates[2 * i] = points[i].x;
    coordinates[2 * i + 1] = points[i].y;
  }
  qhT qh_storage;
  qhT* qh = &qh_storage;
  qh_zero(qh, stderr);
  char options[] = "qhull d Qt Qbb";
  const int code = qh_new_qhull(qh, 2, static_cast<int>(points.size()), coordinates.data(), False,
                                options, nullptr, stderr);
  out.clear();
  if (code == 0) {
    facetT* facet;
    vertexT *vertex, **vertexp;
    FORALLfacets {
      if (facet->upperdelaunay) continue;
      std::array<uint32_t, 3> t{};
      int k = 0;
      FOREACHvertex_(facet->vertices) {
        if (k < 3) t[k++] = static_cast<uint32_t>(qh_pointid(qh, vertex->point));
      }
      out.push_back(t);
    }
  }
  qh_freeqhull(qh, !qh_ALL);
  int curlong, totlong;
  qh_memfreeshort(qh, &curlong, &totlong);
  return code == 0;
}

void BM_PeerQhull(benchmark::State& state) {
  const std::vector<vm::Vector2>& points = Points(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    if (!QhullDelaunay(points, peer_out)) state.SkipWithError("qhull failed");
    benchmark::DoNotOptimize(peer_out.data());
  }
  state.counters["triangles"] = static_cast<double>(peer_out.size());
}
BENCHMARK(BM_PeerQhull)->Apply(SizeArgs);

void PrintAgreement() {
  const std::vector<vm::Vector2>& points = Points(100000);
  std::vector<PointTriangle> ours;
  std::vector<std::array<uint32_t, 3>> peer;
  if (BuildTriangleMeshFromPoints(ours, points) != 0 || !QhullDelaunay(points, peer)) return;
  std::vector<std::array<uint32_t, 3>> a, b;
  for (const PointTriangle& t : ours) a.push_back({t.a, t.b, t.c});
  for (auto& t : a) std::sort(t.begin(), t.end());
  for (auto& t : peer) std::sort(t.begin(), t.end());
  std::sort(a.begin(), a.end());
  std::sort(peer.begin(), peer.end());
  std::set_difference(a.begin(), a.end(), peer.begin(), peer.end(), std::back_inserter(b));
  std::printf("10^5 points: %zu triangles ours, %zu qhull, %zu of ours not in qhull's\n", a.size(),
              peer.size(), b.size());
}
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter("qhull", {{"BM_Triangulate", "BM_PeerQhull"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
#ifdef KALVEX_HAVE_QHULL
  PrintAgreement();
#endif
  benchmark::Shutdown();
  return 0;
}
