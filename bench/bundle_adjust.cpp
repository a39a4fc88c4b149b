// Sparse bundle adjustment of free camera motion against Ceres Solver on the same
// problems, three shapes of shot:
//   street   a camera dollies along a street and sees each point in a window of
//            consecutive frames (a banded reduced camera system);
//   orbit    a 360 degree orbit around a set: short tracks over 20 frames, re-acquired
//            where the orbit closes, with or without long-lived points seen in 58 % of
//            the frames;
//   random   unordered photographs: each point in 2 to 15 cameras chosen at random.
// 0.5 px noise. Both solvers get the same measurements (mm on the sensor), the same
// pinhole model with pan, tilt, roll, centre and focal length per camera and x, y, z per
// point, the same start values and the first camera held; Levenberg-Marquardt with the
// Schur complement (Ceres: SPARSE_SCHUR, ITERATIVE_SCHUR with the Schur-Jacobi
// preconditioner, and DENSE_SCHUR on the smaller streets), on the same number of threads.
//
// Every run happens in a child process, so its peak memory is its own: the counters give
// the final RMSE (px), the iterations, and the peak resident memory the solve added above
// the scene (MB). The time is the wall time of setting up and solving. The program
// restarts itself once with OMP_WAIT_POLICY=passive: the OpenMP runtime under Ceres'
// sparse Cholesky reads it when loaded, and its default spinning would bill idle waits to
// Ceres on a loaded machine.
//
// The streets of the first table run on KALVEX_BENCH_THREADS threads (default 4); the
// other problems on 1 and 2 threads and on every core (threads:0). A summary of ours
// against the faster Ceres solver follows the table.
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
#include <map>
#include <random>
#include <string>
#include <thread>
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

// A thread count of 0 means every core.
int Cores(int threads) {
  return threads > 0 ? threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

struct Scene {
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeaturePoint3D>> points;
};

// Adds the point at world to the scene, seen by the listed cameras in order with 0.5 px
// noise; features in consecutive frames are linked, a jump starts a new track.
void AddPoint(Scene& scene, const vm::Vector3& world, const std::vector<int>& cameras,
              std::mt19937& random, std::normal_distribution<double>& noise) {
  SharedPtr<FeaturePoint3D> point =
      SharedPtr<FeaturePoint3D>::Make(world.x, world.y, world.z, FeaturePoint3D::eCartesian);
  scene.points.push_back(point);
  SharedPtr<FeaturePoint2D> previous;
  int last = -2;
  for (int c : cameras) {
    if (c != last + 1) previous = {};
    last = c;
    SharedPtr<FeaturePoint2D> feature =
        kxtest::AddObservation(*scene.images[static_cast<size_t>(c)], point, world, noise(random),
                               noise(random), previous, FCORR_SUPPORT_TRUE);
    previous = feature;
  }
}

// A camera at distance from the origin looking at it along pan (turned by small tilt and
// roll).
SharedPtr<FeatureImage> LookAtOrigin(double pan, double tilt, double roll, double distance,
                                     double height) {
  SharedPtr<FeatureImage> image = SharedPtr<FeatureImage>::Make();
  SetCameraPTRF(*image, pan, tilt, roll, 30.0);
  const vm::Vector3& a = image->GetA();
  SetCameraCentre(*image, {-distance * a.x, -distance * a.y + height, -distance * a.z});
  return image;
}

// Moves every camera but the first and every point off its true value to give the
// solvers a start (the camera turns are relative to the true orientation).
void Perturb(Scene& scene, std::mt19937& random) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
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
}

// cameras frames 200 mm apart along x looking down z, with small turns; each point in
// front of the middle of its window of views frames, 3 to 6 m deep.
Scene MakeStreet(int cameras, int points, int views) {
  Scene scene;
  std::mt19937 random(17);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  views = std::min(views, cameras);
  for (int c = 0; c < cameras; ++c) {
    SharedPtr<FeatureImage> image = SharedPtr<FeatureImage>::Make();
    SetCameraPTRF(*image, 0.05 * unit(random), 0.03 * unit(random), 0.03 * unit(random), 30.0);
    SetCameraCentre(*image, {200.0 * c, 50.0 * unit(random), 50.0 * unit(random)});
    scene.images.push_back(image);
  }
  std::vector<int> seen;
  for (int j = 0; j < points; ++j) {
    const int first = static_cast<int>((static_cast<long>(j) * (cameras - views + 1)) / points);
    const double middle = 200.0 * (first + 0.5 * (views - 1));
    seen.clear();
    for (int c = first; c < first + views; ++c) seen.push_back(c);
    AddPoint(scene,
             {middle + 800.0 * unit(random), 1000.0 * unit(random), 4500.0 + 1500.0 * unit(random)},
             seen, random, noise);
  }
  Perturb(scene, random);
  return scene;
}

// cameras on a circle of 6 m around a set of 3 m, one turn; long-lived points seen over
// 58 % of the turn, the others over 20 frames. Windows run on past the last frame into the
// first ones: tracks lost and found again where the orbit closes.
Scene MakeOrbit(int cameras, int points, int long_lived) {
  Scene scene;
  std::mt19937 random(23);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (int c = 0; c < cameras; ++c)
    scene.images.push_back(LookAtOrigin(2.0 * M_PI * c / cameras, 0.03 * unit(random),
                                        0.03 * unit(random), 6000.0 + 100.0 * unit(random),
                                        200.0 * unit(random)));
  std::vector<int> seen;
  for (int j = 0; j < points; ++j) {
    const bool lasting = j < long_lived;
    const int views = std::min(cameras, lasting ? (cameras * 58 + 50) / 100 : 20);
    const int first = lasting ? static_cast<int>(random() % static_cast<unsigned>(cameras))
                              : static_cast<int>((static_cast<long>(j) * cameras) / points);
    seen.clear();
    for (int v = 0; v < views; ++v) seen.push_back((first + v) % cameras);
    std::sort(seen.begin(), seen.end());
    AddPoint(scene, {1500.0 * unit(random), 1000.0 * unit(random), 1500.0 * unit(random)}, seen,
             random, noise);
  }
  Perturb(scene, random);
  return scene;
}

// cameras all around a set of 3 m, 5 to 7 m away at random heights and turns; each point
// in 2 to 15 of them chosen at random.
Scene MakeRandomAccess(int cameras, int points) {
  Scene scene;
  std::mt19937 random(29);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.5);
  for (int c = 0; c < cameras; ++c)
    scene.images.push_back(LookAtOrigin(M_PI * unit(random), 0.2 * unit(random),
                                        0.05 * unit(random), 6000.0 + 1000.0 * unit(random), 0.0));
  std::vector<int> seen;
  for (int j = 0; j < points; ++j) {
    const int views = 2 + static_cast<int>(random() % 14u);
    seen.clear();
    while (static_cast<int>(seen.size()) < views) {
      const int c = static_cast<int>(random() % static_cast<unsigned>(cameras));
      if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
    }
    std::sort(seen.begin(), seen.end());
    AddPoint(scene, {1500.0 * unit(random), 1000.0 * unit(random), 1500.0 * unit(random)}, seen,
             random, noise);
  }
  Perturb(scene, random);
  return scene;
}

enum Shape { kStreet, kOrbit, kRandom };

struct Problem {
  Shape shape;
  int cameras;
  int points;
  int views;  // street: frames per point; orbit: long-lived points
};

Scene MakeScene(const Problem& p) {
  switch (p.shape) {
    case kOrbit:
      return MakeOrbit(p.cameras, p.points, p.views);
    case kRandom:
      return MakeRandomAccess(p.cameras, p.points);
    case kStreet:
      break;
  }
  return MakeStreet(p.cameras, p.points, p.views);
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

Outcome RunKalvex(const Scene& scene, int) {
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

Outcome RunCeres(const Scene& scene, int threads, ceres::LinearSolverType solver) {
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
  if (solver == ceres::ITERATIVE_SCHUR) options.preconditioner_type = ceres::SCHUR_JACOBI;
  options.num_threads = threads;
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
Outcome InChild(const Problem& problem, int threads, Solve solve) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Scene scene = MakeScene(problem);
    WorkerPool::SetNumberOfThreads(threads);
    const long base = ProcStatus("VmRSS:");
    ResetPeak();
    Outcome out = solve(scene, threads);
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

// Every outcome by solver and by problem name, for the summary.
std::map<std::string, std::map<std::string, Outcome>>& Outcomes() {
  static std::map<std::string, std::map<std::string, Outcome>> outcomes;
  return outcomes;
}

void Report(benchmark::State& state, const Outcome& out) {
  state.SetIterationTime(out.seconds);
  state.counters["rmse_px"] = out.rmse_px;
  state.counters["iterations"] = out.iterations;
  state.counters["peak_MB"] = out.peak_mb;
  state.counters["observations"] = out.observations;
  state.counters["converged"] = out.ok;
}

const char* ShapeName(Shape shape) {
  return shape == kOrbit ? "orbit" : shape == kRandom ? "random" : "street";
}

// Registers solver on problem at threads as "<solver>/<shape>_<cameras>x<points>/threads:n".
template <class Solve>
void Register(const char* solver, const Problem& problem, int threads, Solve solve) {
  const std::string shot = std::string(ShapeName(problem.shape)) + "_" +
                           std::to_string(problem.cameras) + "x" + std::to_string(problem.points);
  const std::string name = std::string(solver) + "/" + shot + "/threads:" + std::to_string(threads);
  benchmark::RegisterBenchmark(
      name.c_str(),
      [=](benchmark::State& state) {
        for (auto _ : state) {
          const Outcome out = InChild(problem, Cores(threads), solve);
          Outcomes()[shot + " threads:" + std::to_string(threads)][solver] = out;
          Report(state, out);
        }
      })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}

void RegisterAll() {
  const Problem streets[] = {
      {kStreet, 20, 500, 10}, {kStreet, 100, 5000, 10}, {kStreet, 300, 20000, 10}};
  const Problem shots[] = {{kOrbit, 600, 12500, 500},
                           {kOrbit, 600, 12000, 0},
                           {kRandom, 200, 20000, 0},
                           {kStreet, 2000, 50000, 20}};
  auto each = [&](const char* solver, auto solve, bool dense_only_small) {
    for (const Problem& p : streets) Register(solver, p, Threads(), solve);
    if (dense_only_small) return;
    Register(solver, {kStreet, 1000, 20000, 10}, Threads(), solve);
    for (const Problem& p : shots)
      for (int threads : {1, 2, 0}) Register(solver, p, threads, solve);
  };
  each(
      "Kalvex", [](const Scene& s, int) { return RunKalvex(s, 0); }, false);
#ifdef KALVEX_HAVE_CERES
  each(
      "CeresSparseSchur",
      [](const Scene& s, int threads) { return RunCeres(s, threads, ceres::SPARSE_SCHUR); }, false);
  each(
      "CeresIterativeSchur",
      [](const Scene& s, int threads) { return RunCeres(s, threads, ceres::ITERATIVE_SCHUR); },
      false);
  for (const Problem& p : {streets[0], streets[1]})
    Register("CeresDenseSchur", p, Threads(),
             [](const Scene& s, int threads) { return RunCeres(s, threads, ceres::DENSE_SCHUR); });
#endif
}

// Ours against the faster of the Ceres solvers, per problem and thread count.
void PrintSummary() {
  if (Outcomes().empty()) return;
  std::printf("\nCeres with OMP_WAIT_POLICY=%s; times in s, RMSE in px, peak in MB\n",
              std::getenv("OMP_WAIT_POLICY") ? std::getenv("OMP_WAIT_POLICY") : "(unset)");
  std::printf("%-32s %9s %9s %6s | %9s %9s %6s | %9s %9s %6s | %6s\n", "problem", "ours", "rmse",
              "peak", "sparse", "rmse", "peak", "iterat.", "rmse", "peak", "ratio");
  for (const auto& [shot, by_solver] : Outcomes()) {
    auto get = [&](const char* solver) {
      auto it = by_solver.find(solver);
      return it == by_solver.end() ? Outcome{} : it->second;
    };
    const Outcome ours = get("Kalvex"), sparse = get("CeresSparseSchur"),
                  iterative = get("CeresIterativeSchur");
    double fastest = 0.0;
    for (const Outcome& o : {sparse, iterative})
      if (o.seconds > 0.0 && (fastest == 0.0 || o.seconds < fastest)) fastest = o.seconds;
    std::printf("%-32s %9.2f %9.6f %6.0f | %9.2f %9.6f %6.0f | %9.2f %9.6f %6.0f | %6.2f\n",
                shot.c_str(), ours.seconds, ours.rmse_px, ours.peak_mb, sparse.seconds,
                sparse.rmse_px, sparse.peak_mb, iterative.seconds, iterative.rmse_px,
                iterative.peak_mb, fastest > 0.0 ? ours.seconds / fastest : 0.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The OpenMP runtime reads its settings when it is loaded, so the setting needs a fresh
  // process image.
  const char* policy = std::getenv("OMP_WAIT_POLICY");
  if (!policy || std::strcmp(policy, "passive") != 0) {
    setenv("OMP_WAIT_POLICY", "passive", 1);
    execv("/proc/self/exe", argv);
    std::perror("bench_bundle_adjust: restart with OMP_WAIT_POLICY=passive");
  }
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  return 0;
}
