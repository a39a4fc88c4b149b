// Sparse bundle adjustment of free camera motion against Ceres Solver on the same
// problems: a camera dollies along a street and sees each point in about ten consecutive
// frames; 0.5 px noise. Both solvers get the same measurements (mm on the sensor), the
// same pinhole model with pan, tilt, roll, centre and focal length per camera and x, y, z
// per point, the same start values and the first camera held; Levenberg-Marquardt with
// the Schur complement (Ceres: SPARSE_SCHUR, and DENSE_SCHUR on the smaller problems), on
// the same number of threads.
//
// Every run happens in a child process, so its peak memory is its own: the counters give
// the final RMSE (px), the iterations, and the peak resident memory the solve added above
// the scene (MB). The time is the wall time of setting up and solving.
//
// KALVEX_BENCH_THREADS sets the thread count (default 4).
// bench-peer: libceres-dev
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/worker_pool.h"
#include "optimise/bundle_scene_for_test.h"
#include "optimise/callback_for_test.h"
#include "optimise/optimizer_sparse_lm.h"

#ifdef KALVEX_HAVE_CERES
#include <ceres/ceres.h>
#endif

namespace {

int Threads() {
  const char* text = std::getenv("KALVEX_BENCH_THREADS");
  const int n = text ? std::atoi(text) : 4;
  return n > 0 ? n : 4;
}

struct Scene {
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeaturePoint3D>> points;
};

// cameras frames 200 mm apart along x looking down z, with small turns; each point in
// front of the middle of its window of 10 frames, 3 to 6 m deep. The cameras and points
// are then moved off their true values to give the solvers a start.
Scene MakeStreet(int cameras, int points) {
  Scene scene;
  std::mt19937 random(17);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  const int views = std::min(10, cameras);
  for (int c = 0; c < cameras; ++c) {
    SharedPtr<FeatureImage> image = SharedPtr<FeatureImage>::Make();
    SetCameraPTRF(*image, 0.05 * unit(random), 0.03 * unit(random), 0.03 * unit(random), 30.0);
    SetCameraCentre(*image, {200.0 * c, 50.0 * unit(random), 50.0 * unit(random)});
    scene.images.push_back(image);
  }
  for (int j = 0; j < points; ++j) {
    const int first = static_cast<int>((static_cast<long>(j) * (cameras - views + 1)) / points);
    const double middle = 200.0 * (first + 0.5 * (views - 1));
    const vm::Vector3 world{middle + 800.0 * unit(random), 1000.0 * unit(random),
                            4500.0 + 1500.0 * unit(random)};
    SharedPtr<FeaturePoint3D> point =
        SharedPtr<FeaturePoint3D>::Make(world.x, world.y, world.z, FeaturePoint3D::eCartesian);
    scene.points.push_back(point);
    SharedPtr<FeaturePoint2D> previous;
    for (int c = first; c < first + views; ++c) {
      SharedPtr<FeaturePoint2D> feature =
          kxtest::AddObservation(*scene.images[static_cast<size_t>(c)], point, world, noise(random),
                                 noise(random), previous, FCORR_SUPPORT_TRUE);
      if (feature) previous = feature;
    }
  }
  for (size_t c = 1; c < scene.images.size(); ++c) {
    FeatureImage& image = *scene.images[c];
    const vm::Vector3 centre = image.GetC();
    SetCameraPTRF(image, 0.005 * unit(random), 0.005 * unit(random), 0.005 * unit(random),
                  image.GetFocalLength() + 0.5 * unit(random));
    SetCameraCentre(image, {centre.x + 20.0 * unit(random), centre.y + 20.0 * unit(random),
                            centre.z + 20.0 * unit(random)});
  }
  for (SharedPtr<FeaturePoint3D>& point : scene.points) {
    point->x += 30.0 * unit(random);
    point->y += 30.0 * unit(random);
    point->z += 30.0 * unit(random);
  }
  return scene;
}

// Resident memory: the current and the peak since the last reset, in kB.
long ProcStatus(const char* key) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long value = 0;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, key, n) == 0) value = std::atol(line + n);
  std::fclose(f);
  return value;
}

void ResetPeak() {
  FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
}

struct Outcome {
  double seconds = 0.0;
  double rmse_px = 0.0;
  double iterations = 0.0;
  double peak_mb = 0.0;
  double observations = 0.0;
  int ok = 0;
};

Outcome RunKalvex(const Scene& scene) {
  Outcome out;
  kxtest::CallbackForTest counter;
  SparseObserverScope scope(OptimizerSparseLM_RTKFPoint3D::s_observer, &counter);
  const auto start = std::chrono::steady_clock::now();
  OptimizerSparseLM_RTKFPoint3D opt;
  const unsigned mask = 0x7E002;
  opt.m_data.m_hold_first_camera = 1;
  opt.m_data.SetFImageList(scene.images, &mask);
  opt.m_data.SetInitialParameters(scene.images);
  try {
    out.ok = opt.Optimize() ? 1 : 0;
  } catch (const char* text) {
    std::fprintf(stderr, "kalvex: %s\n", text);
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.observations = opt.m_data.GetNumberOfMeasurements();
  out.rmse_px = std::sqrt(opt.m_chisq / (2.0 * out.observations)) / 0.1;
  out.iterations = counter.counts[5] - 2;  // less the start and the final update
  return out;
}

#ifdef KALVEX_HAVE_CERES
// The sparse model's free-motion measurement: x = f (m1.d)/(m3.d), y = f (m2.d)/(m3.d)
// with M = (Ry(pan) Rx(tilt) Rz(roll))^T and d = X - C.
struct PinholeResidual {
  double x, y;
  template <class T>
  bool operator()(const T* cam, const T* point, T* r) const {
    using std::cos;
    using std::sin;
    const T sp = sin(cam[0]), cp = cos(cam[0]);
    const T st = sin(cam[1]), ct = cos(cam[1]);
    const T sr = sin(cam[2]), cr = cos(cam[2]);
    const T d[3] = {point[0] - cam[3], point[1] - cam[4], point[2] - cam[5]};
    const T q0 = (sr * sp * st + cr * cp) * d[0] + sr * ct * d[1] + (sr * st * cp - sp * cr) * d[2];
    const T q1 = (sp * st * cr - sr * cp) * d[0] + cr * ct * d[1] + (st * cr * cp + sr * sp) * d[2];
    const T q2 = sp * ct * d[0] - st * d[1] + cp * ct * d[2];
    r[0] = T(x) - cam[6] * q0 / q2;
    r[1] = T(y) - cam[6] * q1 / q2;
    return true;
  }
};

Outcome RunCeres(const Scene& scene, ceres::LinearSolverType solver) {
  Outcome out;
  const auto start = std::chrono::steady_clock::now();
  ModelRTKFPoint3DDataSparse data;  // the same measurements and start values
  const unsigned mask = 0x7E002;
  data.SetFImageList(scene.images, &mask);
  data.SetInitialParameters(scene.images);
  std::vector<double> a = data.GetParameters();
  const int cameras = data.GetNumberOfCameras();
  ceres::Problem problem;
  for (const ModelSparseMeasurement& m : data.GetMeasurements()) {
    auto* cost =
        new ceres::AutoDiffCostFunction<PinholeResidual, 2, 7, 3>(new PinholeResidual{m.x, m.y});
    problem.AddResidualBlock(cost, nullptr, a.data() + 7 * m.camera_index,
                             a.data() + 7 * cameras + 3 * m.point_index);
  }
  problem.SetParameterBlockConstant(a.data());
  ceres::Solver::Options options;
  options.minimizer_type = ceres::TRUST_REGION;
  options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  options.linear_solver_type = solver;
  options.num_threads = Threads();
  options.max_num_iterations = 50;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.observations = data.GetNumberOfMeasurements();
  out.rmse_px = std::sqrt(2.0 * summary.final_cost / (2.0 * out.observations)) / 0.1;
  out.iterations = summary.num_successful_steps + summary.num_unsuccessful_steps;
  out.ok = summary.IsSolutionUsable() ? 1 : 0;
  return out;
}
#endif

// Runs one solve in a child process and returns what it measured.
template <class Solve>
Outcome InChild(int cameras, int points, Solve solve) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Scene scene = MakeStreet(cameras, points);
    WorkerPool::SetNumberOfThreads(Threads());
    const long base = ProcStatus("VmRSS:");
    ResetPeak();
    Outcome out = solve(scene);
    out.peak_mb = (ProcStatus("VmHWM:") - base) / 1024.0;
    const ssize_t written = write(fds[1], &out, sizeof out);
    _exit(written == static_cast<ssize_t>(sizeof out) ? 0 : 1);
  }
  close(fds[1]);
  Outcome out;
  const ssize_t got = read(fds[0], &out, sizeof out);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != static_cast<ssize_t>(sizeof out)) out = Outcome{};
  return out;
}

void Report(benchmark::State& state, const Outcome& out) {
  state.SetIterationTime(out.seconds);
  state.counters["rmse_px"] = out.rmse_px;
  state.counters["iterations"] = out.iterations;
  state.counters["peak_MB"] = out.peak_mb;
  state.counters["observations"] = out.observations;
  state.counters["converged"] = out.ok;
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({20, 500})->Args({100, 5000})->Args({300, 20000});
  b->ArgNames({"cameras", "points"})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
}

void BM_Kalvex(benchmark::State& state) {
  for (auto _ : state)
    Report(state, InChild(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                          [](const Scene& s) { return RunKalvex(s); }));
}
BENCHMARK(BM_Kalvex)->Apply(Sizes)->Args({1000, 20000});

#ifdef KALVEX_HAVE_CERES
void BM_CeresSparseSchur(benchmark::State& state) {
  for (auto _ : state)
    Report(state, InChild(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                          [](const Scene& s) { return RunCeres(s, ceres::SPARSE_SCHUR); }));
}
BENCHMARK(BM_CeresSparseSchur)->Apply(Sizes)->Args({1000, 20000});

void BM_CeresDenseSchur(benchmark::State& state) {
  for (auto _ : state)
    Report(state, InChild(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                          [](const Scene& s) { return RunCeres(s, ceres::DENSE_SCHUR); }));
}
BENCHMARK(BM_CeresDenseSchur)
    ->Args({20, 500})
    ->Args({100, 5000})
    ->ArgNames({"cameras", "points"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
