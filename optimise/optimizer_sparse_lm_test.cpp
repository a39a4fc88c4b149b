#include "optimise/optimizer_sparse_lm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "optimise/bundle_scene_for_test.h"
#include "optimise/callback_for_test.h"
#include "testing/log_capture.h"
#include "testing/pool_threads.h"
#include "testing/thrown.h"

namespace {

using kxtest::BundleScene;
using kxtest::BundleSceneSpec;
using kxtest::MakeBundleScene;

// Data objects whose start vector a test may change.
class RTData : public ModelRTKFPoint3DDataSparse {
 public:
  std::vector<double>& Start() { return m_parameters; }
};
class RData : public ModelRKFPoint3DDataSparse {
 public:
  std::vector<double>& Start() { return m_parameters; }
};
using RTOptimizer = OptimizerSparseLM<ModelRTKFPoint3DSparse, RTData, 3>;
using ROptimizer = OptimizerSparseLM<ModelRKFPoint3DSparse, RData, 2>;

// chi2 of a data object at parameters a, straight from the model.
template <class ModelT, class DataT>
double ChiSquare(const DataT& data, const std::vector<double>& a) {
  ModelT model;
  typename ModelT::InputType in{};
  ModelOutput result[2];
  double chisq = 0.0;
  for (int i = 0; i < data.GetNumberOfMeasurements(); ++i) {
    data.GetModelInput(i, in);
    EXPECT_TRUE(model.ComputeWithGradient(in, a, result));
    const ModelSparseMeasurement& m = data.GetMeasurements()[static_cast<size_t>(i)];
    chisq += (m.x - result[0].value) * (m.x - result[0].value) +
             (m.y - result[1].value) * (m.y - result[1].value);
  }
  return chisq;
}

// The step of the normal equations written out densely, as the textbook Schur complement:
// U, W (free camera parameters x all point parameters), V, Y = W V^-1,
// S = Y W^T - U, delta_a = S^-1 (Y e_b - e_a), delta_b = V^-1 (e_b - W^T delta_a).
template <class ModelT, class DataT, int k>
void DenseReferenceStep(const DataT& data, const std::vector<double>& a, double lambda, bool held,
                        std::vector<double>& delta_a, std::vector<double>& delta_b) {
  const int pc = data.GetParametersPerCamera();
  const int points = data.GetNumberOfPoints();
  const int skip = held ? pc : 0;
  const uint32_t nc = static_cast<uint32_t>(data.GetNumberOfCameras() * pc - skip);
  const uint32_t np = static_cast<uint32_t>(k * points);
  Matrix u(nc, nc), w(nc, np), v(np, np);
  u.SetZero();
  w.SetZero();
  v.SetZero();
  std::vector<double> ea(nc, 0.0), eb(np, 0.0);
  ModelT model;
  typename ModelT::InputType in{};
  ModelOutput result[2];
  for (int i = 0; i < data.GetNumberOfMeasurements(); ++i) {
    data.GetModelInput(i, in);
    ASSERT_TRUE(model.ComputeWithGradient(in, a, result));
    const ModelSparseMeasurement& m = data.GetMeasurements()[static_cast<size_t>(i)];
    const double r[2] = {m.x - result[0].value, m.y - result[1].value};
    std::vector<int> cols;  // -1: held
    for (int j = 0; j < pc; ++j) {
      const int col = in.camera_index * pc + j - skip;
      cols.push_back(col);
    }
    for (int j = 0; j < k; ++j) cols.push_back(static_cast<int>(nc) + in.point_index * k + j);
    const int n = pc + k;
    for (int s = 0; s < n; ++s) {
      const bool s_cam = s < pc;
      if (s_cam && cols[s] < 0) continue;
      double g = 0.0;
      for (int row = 0; row < 2; ++row) g += result[row].gradient[s] * r[row];
      if (s_cam)
        ea[cols[s]] += g;
      else
        eb[cols[s] - nc] += g;
      for (int t = 0; t < n; ++t) {
        const bool t_cam = t < pc;
        if (t_cam && cols[t] < 0) continue;
        double h = 0.0;
        for (int row = 0; row < 2; ++row) h += result[row].gradient[s] * result[row].gradient[t];
        if (s_cam && t_cam) u(cols[s], cols[t]) += h;
        if (s_cam && !t_cam) w(cols[s], cols[t] - nc) += h;
        if (!s_cam && !t_cam) v(cols[s] - nc, cols[t] - nc) += h;
      }
    }
  }
  for (uint32_t j = 0; j < nc; ++j) u(j, j) *= 1.0 + lambda;
  for (uint32_t j = 0; j < np; ++j) v(j, j) *= 1.0 + lambda;
  Matrix v_inv(np, np);
  v_inv.SetZero();
  for (int j = 0; j < points; ++j) {
    Matrix block(k, k);
    for (int s = 0; s < k; ++s)
      for (int t = 0; t < k; ++t) block(s, t) = v(j * k + s, j * k + t);
    ASSERT_TRUE(block.InvertSymmetric(block));
    for (int s = 0; s < k; ++s)
      for (int t = 0; t < k; ++t) v_inv(j * k + s, j * k + t) = block(s, t);
  }
  Matrix y(nc, np);
  for (uint32_t r = 0; r < nc; ++r)
    for (uint32_t c = 0; c < np; ++c) {
      double s = 0.0;
      for (uint32_t q = 0; q < np; ++q) s += w(r, q) * v_inv(q, c);
      y(r, c) = s;
    }
  Matrix s;
  s.MultiplyABt(y, w);
  for (uint32_t r = 0; r < nc; ++r)
    for (uint32_t c = 0; c < nc; ++c) s(r, c) -= u(r, c);
  ASSERT_TRUE(s.InvertSymmetric(s));
  std::vector<double> rhs(nc);
  for (uint32_t r = 0; r < nc; ++r) {
    double sum = -ea[r];
    for (uint32_t c = 0; c < np; ++c) sum += y(r, c) * eb[c];
    rhs[r] = sum;
  }
  delta_a.assign(nc, 0.0);
  for (uint32_t r = 0; r < nc; ++r)
    for (uint32_t c = 0; c < nc; ++c) delta_a[r] += s(r, c) * rhs[c];
  std::vector<double> t(eb);
  for (uint32_t c = 0; c < np; ++c)
    for (uint32_t r = 0; r < nc; ++r) t[c] -= w(r, c) * delta_a[r];
  delta_b.assign(np, 0.0);
  for (uint32_t r = 0; r < np; ++r)
    for (uint32_t c = 0; c < np; ++c) delta_b[r] += v_inv(r, c) * t[c];
}

double MaxAbs(const std::vector<double>& v) {
  double m = 0.0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

void ExpectSameStep(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  const double scale = MaxAbs(want);
  ASSERT_GT(scale, 0.0);
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_NEAR(got[i], want[i], 1e-9 * scale) << "entry " << i;
}

struct SceneCase {
  const char* name;
  bool rotation_only;
  unsigned mask;
  bool held;
};

std::string CaseName(const testing::TestParamInfo<SceneCase>& info) {
  return info.param.name;
}

const SceneCase kSceneCases[] = {
    {"MotionAll", false, 0x7E002, false},     {"MotionAllHeld", false, 0x7E002, true},
    {"MotionNoFocal", false, 0x7E000, false}, {"MotionCentreFocalHeld", false, 0x70002, true},
    {"MotionProjection", false, 0x10, true},  {"RotationAll", true, 0xE002, false},
    {"RotationNoFocal", true, 0xE000, false}, {"RotationPanFocal", true, 0x4002, false},
};

// Moves the free start values: angles and direction points by about 0.01 rad, centres
// and Cartesian points by about 30 mm, focal lengths by about 2 mm, matrix entries by
// about 3 %. The held camera stays.
template <class DataT>
void PerturbStart(DataT& data, bool held, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double>& a = data.Start();
  const int pc = data.GetParametersPerCamera();
  const unsigned mask = data.GetMask();
  for (int c = held ? 1 : 0; c < data.GetNumberOfCameras(); ++c) {
    double* block = a.data() + c * pc;
    if (mask & SparseCameraMask::kProjection) {
      for (int j = 0; j < 12; ++j) block[j] *= 1.0 + 3e-2 * unit(random);
      continue;
    }
    int n = 0;
    for (unsigned bit : {SparseCameraMask::kPan, SparseCameraMask::kTilt, SparseCameraMask::kRoll})
      if (mask & bit) block[n++] += 0.01 * unit(random);
    if (data.GetParametersPerPoint() == 3)
      for (unsigned bit :
           {SparseCameraMask::kCentreX, SparseCameraMask::kCentreY, SparseCameraMask::kCentreZ})
        if (mask & bit) block[n++] += 30.0 * unit(random);
    if (mask & SparseCameraMask::kFocal) block[n++] += 2.0 * unit(random);
  }
  const double step = data.GetParametersPerPoint() == 3 ? 30.0 : 0.01;
  for (size_t i = static_cast<size_t>(data.GetNumberOfCameras() * pc); i < a.size(); ++i)
    a[i] += step * unit(random);
}

class SparseSceneTest : public testing::TestWithParam<SceneCase> {};

// Started away from the truth, the adjustment converges to a chi2 no larger than that of
// the true cameras and points (the injected noise), and a held first camera never moves.
TEST_P(SparseSceneTest, ReachesTheNoiseAndKeepsTheHeldCamera) {
  const SceneCase& c = GetParam();
  BundleSceneSpec spec = kxtest::SceneSpec(8, 60, 5);
  spec.noise_px = 0.5;
  spec.rotation_only = c.rotation_only;
  BundleScene scene = MakeBundleScene(spec);
  auto run = [&](auto& opt) {
    opt.m_data.SetFImageList(scene.images, &c.mask);
    opt.m_data.SetInitialParameters(scene.images);
    using Model = std::decay_t<decltype(opt.m_model)>;
    const double truth = ChiSquare<Model>(opt.m_data, opt.m_data.GetParameters());
    PerturbStart(opt.m_data, c.held, 11);
    const std::vector<double> start = opt.m_data.GetParameters();
    const double before = ChiSquare<Model>(opt.m_data, start);
    ASSERT_GT(before, 5.0 * truth);
    ASSERT_TRUE(opt.Optimize());
    EXPECT_LE(opt.m_chisq, truth);
    EXPECT_GE(opt.m_chisq, 0.5 * truth);
    EXPECT_DOUBLE_EQ(ChiSquare<Model>(opt.m_data, opt.m_a), opt.m_chisq);
    const int pc = opt.m_data.GetParametersPerCamera();
    if (c.held) {
      EXPECT_EQ(opt.m_held, pc);
      for (int j = 0; j < pc; ++j) EXPECT_EQ(opt.m_a[j], start[j]) << j;
    } else {
      EXPECT_EQ(opt.m_held, 0);
    }
    const double units = (c.mask & SparseCameraMask::kProjection) ? 1.0 : 0.1;  // px, mm
    const double rmse_px = std::sqrt(opt.m_chisq / (2.0 * scene.observations)) / units;
    EXPECT_LT(rmse_px, spec.noise_px);
    EXPECT_GT(rmse_px, 0.6 * spec.noise_px);
  };
  if (c.rotation_only) {
    ROptimizer opt;
    run(opt);
  } else {
    RTOptimizer opt;
    opt.m_data.m_hold_first_camera = c.held ? 1 : 0;
    run(opt);
  }
}

// Noise-free observations: from several starts the adjustment ends converged with chi2 at
// the rounding level of the measurements.
TEST_P(SparseSceneTest, ExactSceneConverges) {
  const SceneCase& c = GetParam();
  BundleSceneSpec spec = kxtest::SceneSpec(8, 60, 5);
  spec.noise_px = 0.0;
  spec.rotation_only = c.rotation_only;
  BundleScene scene = MakeBundleScene(spec);
  auto run = [&](auto& opt, uint32_t seed) {
    opt.m_data.SetFImageList(scene.images, &c.mask);
    opt.m_data.SetInitialParameters(scene.images);
    PerturbStart(opt.m_data, c.held, seed);
    double measured = 0.0;
    for (const ModelSparseMeasurement& m : opt.m_data.GetMeasurements())
      measured += m.x * m.x + m.y * m.y;
    bool converged = false;
    ASSERT_EQ(kxtest::Thrown([&] { converged = opt.Optimize(); }), "");
    EXPECT_TRUE(converged);
    EXPECT_LE(opt.m_chisq, 1e-22 * measured);
  };
  for (uint32_t seed : {47u, 48u, 49u, 50u}) {
    SCOPED_TRACE(seed);
    if (c.rotation_only) {
      ROptimizer opt;
      run(opt, seed);
    } else {
      RTOptimizer opt;
      opt.m_data.m_hold_first_camera = c.held ? 1 : 0;
      run(opt, seed);
    }
  }
}

// The block-sparse step equals the dense textbook step, on the first step and on the
// next one from wherever the first left the damping.
TEST_P(SparseSceneTest, StepMatchesTheDenseReference) {
  const SceneCase& c = GetParam();
  BundleSceneSpec spec = kxtest::SceneSpec(5, 24, 3);
  spec.rotation_only = c.rotation_only;
  BundleScene scene = MakeBundleScene(spec);
  auto check = [&](auto& opt, auto reference) {
    opt.m_data.SetFImageList(scene.images, &c.mask);
    opt.m_data.SetInitialParameters(scene.images);
    PerturbStart(opt.m_data, c.held, 5);
    ASSERT_TRUE(opt.LMPara());
    opt.m_alambda = -1.0;
    std::vector<double> a = opt.m_data.GetParameters();
    double lambda = 0.001;
    for (int step = 0; step < 2; ++step) {
      SCOPED_TRACE(step);
      ASSERT_TRUE(opt.LMMin());
      std::vector<double> da, db;
      reference(opt.m_data, a, lambda, c.held, da, db);
      ExpectSameStep(opt.m_delta_a, da);
      ExpectSameStep(opt.m_delta_b, db);
      a = opt.m_a;
      lambda = opt.m_alambda;
    }
  };
  if (c.rotation_only) {
    ROptimizer opt;
    check(opt, DenseReferenceStep<ModelRKFPoint3DSparse, RData, 2>);
  } else {
    RTOptimizer opt;
    opt.m_data.m_hold_first_camera = c.held ? 1 : 0;
    check(opt, DenseReferenceStep<ModelRTKFPoint3DSparse, RTData, 3>);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenes, SparseSceneTest, testing::ValuesIn(kSceneCases), CaseName);

// Cameras listed out of sequence: the reduced system takes its own order, keeps a narrow
// envelope, and the step is still the dense textbook step.
TEST(OptimizerSparseLMTest, CamerasOutOfSequenceStepMatchesTheDenseReference) {
  BundleScene scene = MakeBundleScene(kxtest::SceneSpec(30, 150, 3));
  std::shuffle(scene.images.begin(), scene.images.end(), std::mt19937(3));
  const unsigned mask = 0x7E002;
  RTOptimizer opt;
  opt.m_data.m_hold_first_camera = 1;
  opt.m_data.SetFImageList(scene.images, &mask);
  opt.m_data.SetInitialParameters(scene.images);
  PerturbStart(opt.m_data, true, 8);
  ASSERT_TRUE(opt.LMPara());
  opt.m_alambda = -1.0;
  std::vector<double> a = opt.m_data.GetParameters();
  double lambda = 0.001;
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(opt.LMMin());
    std::vector<double> da, db;
    DenseReferenceStep<ModelRTKFPoint3DSparse, RTData, 3>(opt.m_data, a, lambda, true, da, db);
    ExpectSameStep(opt.m_delta_a, da);
    ExpectSameStep(opt.m_delta_b, db);
    a = opt.m_a;
    lambda = opt.m_alambda;
  }
  const size_t n = static_cast<size_t>(opt.ReducedSystem().Size());
  EXPECT_LT(opt.ReducedSystem().StoredElements(), n * (n + 1) / 4);
}

// With its first camera held a free-motion scene still has a free scale, so the undamped
// reduced system of the final update is singular and rounding decides how a plain
// factorisation fares. On every start the final update must solve in the sparse path and
// try the step the dense textbook formulas give at the gauge damping.
TEST(OptimizerSparseLMTest, FinalUpdateSolvesWithAFreeScale) {
  class Recorder : public RTOptimizer {
   public:
    bool IterationCallback(unsigned, const std::vector<double>& a, double chi2, unsigned) override {
      before_final = last;
      last = {a, chi2};
      return true;
    }
    std::pair<std::vector<double>, double> last, before_final;
  };
  BundleScene scene = MakeBundleScene(kxtest::SceneSpec(12, 150, 5));
  const unsigned mask = 0x7E000;  // pan, tilt, roll, centre x, y, z
  constexpr int pc = 6;
  for (uint32_t seed : {21u, 22u, 23u, 24u, 25u, 26u}) {
    SCOPED_TRACE(seed);
    Recorder opt;
    opt.m_data.m_hold_first_camera = 1;
    opt.m_data.SetFImageList(scene.images, &mask);
    opt.m_data.SetInitialParameters(scene.images);
    PerturbStart(opt.m_data, true, seed);
    if (seed == 21u) {  // the scale is free: chi2 does not change when it doubles
      const std::vector<double>& start = opt.m_data.GetParameters();
      std::vector<double> doubled = start;
      const int cameras = opt.m_data.GetNumberOfCameras();
      const double* held = start.data() + 3;
      for (int c = 1; c < cameras; ++c)
        for (int i = 0; i < 3; ++i) doubled[c * pc + 3 + i] = 2.0 * start[c * pc + 3 + i] - held[i];
      for (size_t p = static_cast<size_t>(cameras * pc); p < doubled.size(); ++p)
        doubled[p] = 2.0 * start[p] - held[(p - cameras * pc) % 3];
      const double chi2 = ChiSquare<ModelRTKFPoint3DSparse>(opt.m_data, start);
      EXPECT_NEAR(ChiSquare<ModelRTKFPoint3DSparse>(opt.m_data, doubled), chi2, 1e-9 * chi2);
    }
    bool converged = false;
    ASSERT_EQ(kxtest::Thrown([&] { converged = opt.Optimize(); }), "");
    ASSERT_TRUE(converged);
    const auto& [iterated, chi2_iterated] = opt.before_final;
    EXPECT_LE(opt.m_chisq, chi2_iterated);
    std::vector<double> da, db;
    DenseReferenceStep<ModelRTKFPoint3DSparse, RTData, 3>(opt.m_data, iterated,
                                                          RTOptimizer::kGaugeDamping, true, da, db);
    // The reference damps the points too, which pins the scale elsewhere and moves weakly
    // determined directions by about 1e-5: compare the camera steps less their difference
    // along the free scale (the centres from the held one).
    ASSERT_EQ(opt.m_delta_a.size(), da.size());
    std::vector<double> difference(da.size()), scale(da.size(), 0.0);
    double along = 0.0, norm = 0.0;
    for (size_t i = 0; i < da.size(); ++i) {
      difference[i] = opt.m_delta_a[i] - da[i];
      if (i % pc >= 3 && i % pc < 6) scale[i] = iterated[pc + i] - iterated[i % pc];
      along += difference[i] * scale[i];
      norm += scale[i] * scale[i];
    }
    for (size_t i = 0; i < da.size(); ++i)
      EXPECT_NEAR(difference[i] - along / norm * scale[i], 0.0, 1e-4 * MaxAbs(da)) << i;
  }
}

// ------------------------------------------------------------------ a toy problem

// One parameter per camera, two per point: x = p0 + u * camera, y = p1, with u a
// different constant for each observation, so there is no gauge freedom. The model can be
// frozen (values never change), report gradients scaled by a factor, or refuse.
struct ToyInput {
  unsigned mask = 0;
  int held_first_camera = 0;
  int camera_index = 0;
  int point_index = 0;
  int parameters_per_camera = 1;
  int number_of_cameras = 0;
  double u = 0.0;
};

class ToyModel : public ModelWithGradient<ToyInput, 2>, public Model<ToyInput, 2> {
 public:
  bool ComputeWithGradient(const ToyInput& in, const std::vector<double>& a,
                           ModelOutput result[2]) const {
    if (refuse) return false;
    const double camera = a[static_cast<size_t>(in.camera_index)];
    const double* point = a.data() + in.number_of_cameras + 2 * in.point_index;
    result[0].value = frozen ? 0.0 : point[0] + in.u * camera;
    result[1].value = frozen ? 0.0 : point[1];
    result[0].gradient = {gradient_scale * in.u, gradient_scale, 0.0};
    result[1].gradient = {0.0, 0.0, gradient_scale};
    return true;
  }
  bool frozen = false;
  bool refuse = false;
  double gradient_scale = 1.0;
};

struct ToyData {
  int GetParametersPerCamera() const { return parameters_per_camera; }
  int GetNumberOfCameras() const { return cameras; }
  int GetParametersPerPoint() const { return parameters_per_point; }
  int GetNumberOfPoints() const { return points; }
  int GetNumberOfParameters() const { return cameras + 2 * points; }
  int GetNumberOfMeasurements() const { return static_cast<int>(measurements.size()); }
  const std::vector<double>& GetParameters() const { return start; }
  const std::vector<ModelSparseMeasurement>& GetMeasurements() const { return measurements; }
  void GetModelInput(int i, ToyInput& in) const {
    const ModelSparseMeasurement& m = measurements[static_cast<size_t>(i)];
    in.held_first_camera = held;
    in.camera_index = m.camera_index;
    in.point_index = m.point_index;
    in.parameters_per_camera = parameters_per_camera;
    in.number_of_cameras = cameras;
    in.u = 1.0 + 0.37 * i;
  }

  // Cameras see every point; measured values from the solution (camera c = 0.1 c + 1,
  // point j = (j, -j)); the start vector is the solution plus offset.
  void Fill(int n_cameras, int n_points, double offset) {
    cameras = n_cameras;
    points = n_points;
    measurements.clear();
    std::vector<double> solution;
    for (int c = 0; c < cameras; ++c) solution.push_back(0.1 * c + 1.0);
    for (int j = 0; j < points; ++j) {
      solution.push_back(j);
      solution.push_back(-j);
    }
    for (int c = 0; c < cameras; ++c)
      for (int j = 0; j < points; ++j) {
        ModelSparseMeasurement m;
        m.camera_index = c;
        m.point_index = j;
        const double u = 1.0 + 0.37 * static_cast<double>(measurements.size());
        m.x = solution[static_cast<size_t>(cameras + 2 * j)] + u * solution[static_cast<size_t>(c)];
        m.y = solution[static_cast<size_t>(cameras + 2 * j + 1)];
        measurements.push_back(m);
      }
    start = solution;
    for (double& s : start) s += offset;
  }

  int cameras = 0;
  int points = 0;
  int parameters_per_camera = 1;
  int parameters_per_point = 2;
  int held = 0;
  std::vector<double> start;
  std::vector<ModelSparseMeasurement> measurements;
};

class ToyOptimizer : public OptimizerSparseLM<ToyModel, ToyData, 2> {
 public:
  bool IterationCallback(unsigned iteration, const std::vector<double>&, double chi2,
                         unsigned) override {
    calls.push_back(iteration);
    // Converged: the final update's trial is refused.
    if (refuse_final_update && chi2 < 1e-20 && iteration != 888u) m_model.refuse = true;
    return refuse_from < 0 || static_cast<int>(iteration) < refuse_from || iteration == 888u;
  }
  std::vector<unsigned> calls;
  int refuse_from = -1;
  bool refuse_final_update = false;
};

// A final update that cannot be made keeps the converged result instead of throwing it
// away with the whole adjustment.
TEST(OptimizerSparseLMTest, FailedFinalUpdateKeepsTheConvergedParameters) {
  ToyOptimizer opt;
  opt.m_data.Fill(3, 4, 0.5);
  opt.refuse_final_update = true;
  kxtest::LogCapture log(5);
  EXPECT_TRUE(opt.Optimize()) << log.text;
  EXPECT_TRUE(opt.m_model.refuse);
  EXPECT_TRUE(log.Has("no final update")) << log.text;
  EXPECT_LT(opt.m_chisq, 1e-20);
  ToyOptimizer plain;
  plain.m_data.Fill(3, 4, 0.5);
  ASSERT_TRUE(plain.Optimize());
  for (size_t i = 0; i < opt.m_a.size(); ++i) EXPECT_NEAR(opt.m_a[i], plain.m_a[i], 1e-9) << i;
}

// The stop rules and their messages.
TEST(OptimizerSparseLMTest, StopRules) {
  {
    SCOPED_TRACE("a start at the solution stops on chi2 < 1e-30 and still updates");
    ToyOptimizer opt;
    opt.m_data.Fill(3, 4, 0.0);
    kxtest::LogCapture log(5);
    EXPECT_TRUE(opt.Optimize());
    EXPECT_TRUE(log.Has("OptimizerSparseLM::Optimze: break: m_chisq < 1e-30"));
    EXPECT_TRUE(log.Has("OptimizerSparseLM::Optimze: convergence achieved, do final update"));
    EXPECT_EQ(opt.calls, (std::vector<unsigned>{888u, 0u, 0u}));
  }
  {
    SCOPED_TRACE("a linear problem converges in two small steps");
    ToyOptimizer opt;
    opt.m_data.Fill(3, 4, 0.5);
    kxtest::LogCapture log(5);
    EXPECT_TRUE(opt.Optimize());
    EXPECT_LT(opt.m_chisq, 1e-20);
    EXPECT_NEAR(opt.m_a[1], 1.1, 1e-9);
  }
  {
    SCOPED_TRACE("four unchanged steps after the first end the run, the damping unbounded");
    ToyOptimizer opt;
    opt.m_model.frozen = true;
    opt.m_data.Fill(2, 3, 1.0);
    opt.m_parameters.m_nMaxBadIterations = 8;
    kxtest::LogCapture log(5);
    EXPECT_TRUE(opt.Optimize());
    EXPECT_TRUE(log.Has("break: nbadIteration >= m_parameters.m_nMaxBadIterations (8 >= 8)"));
    EXPECT_EQ(opt.calls.size(), 1u + 9u + 1u);  // 888, iterations 0..8, final
    EXPECT_EQ(opt.m_a, opt.m_data.start);
  }
  {
    SCOPED_TRACE("wrong gradients keep every gain large: the limit ends the run");
    for (int limit : {8, 9}) {
      ToyOptimizer opt;
      opt.m_model.gradient_scale = 10.0;
      opt.m_data.Fill(2, 3, 1.0);
      opt.m_parameters.m_nMaxIterations = limit;
      kxtest::LogCapture log(5);
      EXPECT_FALSE(opt.Optimize());
      EXPECT_EQ(log.Has("no convergence within 9 iteration steps,"), limit == 9) << limit;
      EXPECT_FALSE(log.Has("convergence achieved")) << limit;
      EXPECT_EQ(opt.calls.size(), 1u + static_cast<size_t>(limit));
    }
  }
  {
    SCOPED_TRACE("a hook that refuses ends without the final update");
    ToyOptimizer opt;
    opt.m_model.gradient_scale = 10.0;
    opt.m_data.Fill(2, 3, 1.0);
    opt.refuse_from = 2;
    kxtest::LogCapture log;
    EXPECT_FALSE(opt.Optimize());
    EXPECT_EQ(opt.calls, (std::vector<unsigned>{888u, 0u, 1u, 2u}));
  }
}

// Held first camera in the toy problem: its parameter keeps its start value, which then
// biases the others, and the log's delta count leaves it out.
TEST(OptimizerSparseLMTest, HeldCameraKeepsItsStartValue) {
  ToyOptimizer opt;
  opt.m_data.Fill(3, 4, 0.5);
  opt.m_data.held = 1;
  EXPECT_TRUE(opt.Optimize());
  EXPECT_EQ(opt.m_a[0], opt.m_data.start[0]);
  EXPECT_NE(opt.m_a[1], opt.m_data.start[1]);
  EXPECT_EQ(opt.m_delta_a.size(), 2u);
  EXPECT_EQ(opt.m_delta_b.size(), 8u);
}

// Failures and their texts.
TEST(OptimizerSparseLMTest, FailuresThrowTheirTexts) {
  struct Case {
    const char* name;
    void (*spoil)(ToyOptimizer&);
    const char* text;
  };
  const Case cases[] = {
      {"no measurements", [](ToyOptimizer& o) { o.m_data.measurements.clear(); },
       "OptimizerSparseLM::Optimize: empty model data set"},
      {"no camera parameters", [](ToyOptimizer& o) { o.m_data.parameters_per_camera = 0; },
       "OptimizerSparseLM::Optimize: empty model data set"},
      {"point blocks of 3", [](ToyOptimizer& o) { o.m_data.parameters_per_point = 3; },
       " OptimizerSparseLM::Optimize: parameters/3D point not equal NUMBER_OF_POINT_PARAMETERS"},
      {"camera index out of range",
       [](ToyOptimizer& o) { o.m_data.measurements.back().camera_index = 3; },
       "OptimizerSparseLM::LMCoef: current_cam_para_index exceeds maximum"},
      {"camera block above 12", [](ToyOptimizer& o) { o.m_data.parameters_per_camera = 13; },
       "OptimizerSparseLM::LMCoef: current_para_per_cam larger than "
       "MAX_NUMBER_OF_CAMERA_PARAMETERS"},
      {"start vector too short", [](ToyOptimizer& o) { o.m_data.start.pop_back(); },
       "OptimizerSparseLM::LMMin: no. of initial values different from no. of parameters"},
      {"model refuses", [](ToyOptimizer& o) { o.m_model.refuse = true; },
       "OptimizerSparseLM::Optimze: numerical problems"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ToyOptimizer opt;
    opt.m_data.Fill(3, 4, 0.5);
    c.spoil(opt);
    kxtest::LogCapture log;
    EXPECT_EQ(kxtest::Thrown([&] { opt.Optimize(); }), c.text);
  }
  // A camera without measurements leaves the reduced system singular.
  ToyOptimizer opt;
  opt.m_data.Fill(3, 4, 0.5);
  opt.m_data.measurements.erase(opt.m_data.measurements.begin() + 4,
                                opt.m_data.measurements.begin() + 8);
  kxtest::LogCapture log;
  EXPECT_EQ(kxtest::Thrown([&] { opt.Optimize(); }),
            "OptimizerSparseLM::Optimze: numerical problems");
  EXPECT_TRUE(log.Has("InvertSymmetric of 3x3 matrix S failed"));
}

// ------------------------------------------------------------------ the concrete classes

// The process-wide observer sees every iteration; a stop arrives as the iteration number
// (888 in the first evaluation), and the observer is uninstalled on every way out.
TEST(OptimizerSparseLMTest, ObserverReportsAndStops) {
  BundleSceneSpec spec = kxtest::SceneSpec(4, 20, 3);
  BundleScene scene = MakeBundleScene(spec);
  kxtest::PerturbBundleScene(scene, 9, 0.01, 20.0, 1.0);
  auto make = [&](auto& opt) {
    opt.m_data.SetFImageList(scene.images, nullptr);
    opt.m_data.SetInitialParameters(scene.images);
  };
  {
    OptimizerSparseLM_RTKFPoint3D opt;
    make(opt);
    kxtest::CallbackForTest observer;
    {
      SparseObserverScope scope(OptimizerSparseLM_RTKFPoint3D::s_observer, &observer);
      EXPECT_TRUE(opt.Optimize());
    }
    EXPECT_EQ(OptimizerSparseLM_RTKFPoint3D::s_observer.load(), nullptr);
    EXPECT_GE(observer.counts[5], 3);
    EXPECT_EQ(observer.reports.front(), std::make_pair(5, -1));
  }
  struct Stop {
    int after;
    unsigned thrown;
  };
  for (const Stop& s : {Stop{1, 888u}, Stop{3, 1u}}) {
    SCOPED_TRACE(s.after);
    kxtest::CallbackForTest observer(s.after);
    unsigned thrown = 0;
    {
      OptimizerSparseLM_RTKFPoint3D opt;
      make(opt);
      SparseObserverScope scope(OptimizerSparseLM_RTKFPoint3D::s_observer, &observer);
      try {
        opt.Optimize();
      } catch (unsigned iteration) {
        thrown = iteration;
      }
    }
    EXPECT_EQ(thrown, s.thrown);
    EXPECT_EQ(OptimizerSparseLM_RTKFPoint3D::s_observer.load(), nullptr);
    EXPECT_EQ(observer.counts[5], s.after);
  }
}

// The same scene gives bit-identical results on one thread and on four.
TEST(OptimizerSparseLMTest, ThreadCountDoesNotChangeTheResult) {
  BundleSceneSpec spec = kxtest::SceneSpec(24, 400, 8);
  BundleScene scene = MakeBundleScene(spec);
  kxtest::PerturbBundleScene(scene, 4, 0.01, 20.0, 1.0);
  std::vector<double> results[2];
  for (int run = 0; run < 2; ++run) {
    kxtest::PoolThreads threads(run == 0 ? 1 : 4);
    OptimizerSparseLM_RTKFPoint3D opt;
    opt.m_data.SetFImageList(scene.images, nullptr);
    opt.m_data.SetInitialParameters(scene.images);
    opt.Optimize();
    results[run] = opt.m_a;
  }
  EXPECT_EQ(results[0], results[1]);
}

// Conjugate gradients on the reduced system end where the factorisation ends, and give
// the same bits on one thread and on four.
TEST(OptimizerSparseLMTest, ConjugateGradientsReachTheSameMinimum) {
  using Solver = OptimizerSparseLM_RTKFPoint3D::ReducedSolver;
  BundleScene scene = MakeBundleScene(kxtest::SceneSpec(24, 400, 8));
  kxtest::PerturbBundleScene(scene, 4, 0.01, 20.0, 1.0);
  struct Run {
    Solver solver;
    int threads;
    double chi2 = 0.0;
    std::vector<double> result;
  };
  Run runs[] = {{Solver::kFactor, 1, 0.0, {}},
                {Solver::kConjugateGradients, 1, 0.0, {}},
                {Solver::kConjugateGradients, 4, 0.0, {}}};
  for (Run& run : runs) {
    kxtest::PoolThreads threads(run.threads);
    OptimizerSparseLM_RTKFPoint3D opt;
    opt.m_reduced_solver = run.solver;
    opt.m_data.SetFImageList(scene.images, nullptr);
    opt.m_data.SetInitialParameters(scene.images);
    EXPECT_TRUE(opt.Optimize());
    run.chi2 = opt.m_chisq;
    run.result = opt.m_a;
  }
  // The inexact steps stop the iteration elsewhere: the same RMSE to five digits.
  EXPECT_NEAR(runs[1].chi2, runs[0].chi2, 1e-4 * runs[0].chi2);
  EXPECT_EQ(runs[1].result, runs[2].result);
}

}  // namespace
