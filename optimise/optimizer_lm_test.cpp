#include "optimise/optimizer_lm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "optimise/callback_for_test.h"
#include "testing/log_capture.h"
#include "testing/thrown.h"

namespace {

// Samples of any model: inputs, measured values, a start vector.
template <class Input, int k>
struct SampleData {
  unsigned GetNumberOfParameters() const { return n; }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(inputs.size()); }
  const std::vector<double>& GetStartVector() const { return start; }
  void GetModelInput(unsigned i, Input& out) const { out = inputs[i]; }
  void GetMeasurement(unsigned i, double out[k]) const {
    for (int j = 0; j < k; ++j) out[j] = measured[k * i + j];
  }
  unsigned n = 0;
  std::vector<double> start;
  std::vector<Input> inputs;
  std::vector<double> measured;
};

// y = a x + b.
class LineModel : public ModelWithGradient<double, 1>, public Model<double, 1> {
 public:
  const char* GetMyClassName() const override { return "LineModel"; }
  bool ComputeWithGradient(const double& x, const std::vector<double>& p, ModelOutput out[1], int) {
    out[0].value = p[0] * x + p[1];
    out[0].gradient = {x, 1.0};
    return true;
  }
};

// y = A exp(-l t).
class DecayModel : public ModelWithGradient<double, 1>, public Model<double, 1> {
 public:
  bool ComputeWithGradient(const double& t, const std::vector<double>& p, ModelOutput out[1], int) {
    const double e = std::exp(-p[1] * t);
    out[0].value = p[0] * e;
    out[0].gradient = {e, -p[0] * t * e};
    return true;
  }
};

// Two values per sample: the residuals of Rosenbrock's valley, minimum (1, 1).
class ValleyModel : public ModelWithGradient<int, 2>, public Model<int, 2> {
 public:
  bool ComputeWithGradient(const int&, const std::vector<double>& p, ModelOutput out[2], int) {
    out[0].value = 10.0 * (p[1] - p[0] * p[0]);
    out[0].gradient = {-20.0 * p[0], 10.0};
    out[1].value = 1.0 - p[0];
    out[1].gradient = {-1.0, 0.0};
    return true;
  }
};

using LineOptimizer = OptimizerLM<LineModel, SampleData<double, 1>>;

void FillLine(SampleData<double, 1>& data, const std::vector<double>& x,
              const std::vector<double>& y) {
  data.n = 2;
  data.start = {0.0, 0.0};
  data.inputs = x;
  data.measured = y;
}

TEST(OptimizerLMTest, LineFitMeetsClosedFormAndCanRunAgain) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5};
  const std::vector<double> y = {1.1, 2.9, 5.2, 7.1, 8.8, 11.2};
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i];
  }
  const double m = double(x.size()), det = m * sxx - sx * sx;
  const double a = (m * sxy - sx * sy) / det, b = (sxx * sy - sx * sxy) / det;
  double chi2 = 0;
  for (size_t i = 0; i < x.size(); ++i) chi2 += std::pow(y[i] - a * x[i] - b, 2);

  LineOptimizer opt;
  FillLine(opt.m_data, x, y);
  ASSERT_TRUE(opt.Optimize());
  EXPECT_NEAR(opt.m_param_vector[0], a, 1e-9);
  EXPECT_NEAR(opt.m_param_vector[1], b, 1e-9);
  EXPECT_NEAR(opt.m_chisq, chi2, 1e-9);
  EXPECT_EQ(opt.m_num_samples, 6u);
  // The covariance is the inverse of J^T J = [sxx sx; sx m].
  EXPECT_NEAR(opt.m_covariance(0, 0), m / det, 1e-12);
  EXPECT_NEAR(opt.m_covariance(0, 1), -sx / det, 1e-12);
  EXPECT_NEAR(opt.m_covariance(1, 1), sxx / det, 1e-12);
  EXPECT_EQ(opt.m_alambda, 0.0);

  // The same optimizer on other data: buffers follow the new sample count.
  FillLine(opt.m_data, {0, 10}, {3, -17});
  ASSERT_TRUE(opt.Optimize());
  EXPECT_NEAR(opt.m_param_vector[0], -2.0, 1e-9);
  EXPECT_NEAR(opt.m_param_vector[1], 3.0, 1e-9);
  EXPECT_EQ(opt.m_num_samples, 2u);
}

TEST(OptimizerLMTest, NonlinearModelsReachTheirMinima) {
  OptimizerLM<DecayModel, SampleData<double, 1>> decay;
  decay.m_data.n = 2;
  decay.m_data.start = {4.0, 0.5};
  for (int i = 0; i < 10; ++i) {
    decay.m_data.inputs.push_back(0.5 * i);
    decay.m_data.measured.push_back(5.0 * std::exp(-0.7 * 0.5 * i));
  }
  ASSERT_TRUE(decay.Optimize());
  EXPECT_NEAR(decay.m_param_vector[0], 5.0, 1e-6);
  EXPECT_NEAR(decay.m_param_vector[1], 0.7, 1e-6);

  OptimizerLM<ValleyModel, SampleData<int, 2>> valley;
  valley.m_data.n = 2;
  valley.m_data.start = {0.5, 0.5};
  valley.m_data.inputs = {0};
  valley.m_data.measured = {0.0, 0.0};
  ASSERT_TRUE(valley.Optimize());
  EXPECT_NEAR(valley.m_param_vector[0], 1.0, 1e-6);
  EXPECT_NEAR(valley.m_param_vector[1], 1.0, 1e-6);
  EXPECT_LT(valley.m_chisq, 1e-12);
}

TEST(OptimizerLMTest, OptimizersRunInParallel) {
  auto run = [](double slope) {
    LineOptimizer opt;
    std::vector<double> x, y;
    for (int i = 0; i < 50; ++i) {
      x.push_back(i);
      y.push_back(slope * i + std::sin(i));
    }
    FillLine(opt.m_data, x, y);
    opt.Optimize();
    return opt.m_param_vector;
  };
  std::vector<std::vector<double>> serial, parallel(4);
  for (int t = 0; t < 4; ++t) serial.push_back(run(t));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < 20; ++r) parallel[t] = run(t);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(serial, parallel);
}

TEST(OptimizerLMTest, ModelNames) {
  kxtest::LogCapture log(5);
  Model<int, 1> bare;
  EXPECT_STREQ(bare.GetMyClassName(), "Model");
  EXPECT_TRUE(log.Has("Model::GetMyClassName: the derived classes must implement this method"));
  LineModel line;
  const Model<double, 1>& as_model = line;
  EXPECT_STREQ(as_model.GetMyClassName(), "LineModel");
}

// A model whose chi2 follows a script, one entry per evaluation (the last entry repeats):
// one sample, measured 0, predicted sqrt(script[e]), gradient `gradient`.
struct ScriptModel : ModelWithGradient<int, 1>, Model<int, 1> {
  bool ComputeWithGradient(const int&, const std::vector<double>&, ModelOutput out[1], int) {
    const int e = evaluations++;
    if (e == refuse_at) return false;
    out[0].value = std::sqrt(script[std::min<size_t>(e, script.size() - 1)]);
    out[0].gradient = gradient;
    return true;
  }
  std::vector<double> script;
  std::vector<double> gradient = {1.0};
  int evaluations = 0;
  int refuse_at = -1;
};

// Records every callback; refuses the call number refuse_call (0 = the 888 call); with an
// observer it reports and stops like an interactive optimizer.
class ScriptOptimizer : public OptimizerLM<ScriptModel, SampleData<int, 1>> {
 public:
  bool IterationCallback(unsigned iteration, const std::vector<double>&, double,
                         unsigned) override {
    calls.push_back(iteration);
    if (observer != nullptr) {
      observer->UpdateVisualisation(5, -1);
      if (observer->IsStopRequested()) throw iteration;
    }
    return static_cast<int>(calls.size()) - 1 != refuse_call;
  }
  std::vector<unsigned> calls;
  int refuse_call = -1;
  Callback* observer = nullptr;
};

void SetUpScript(ScriptOptimizer& opt, std::vector<double> script) {
  opt.m_model.script = std::move(script);
  opt.m_data.n = static_cast<unsigned>(opt.m_model.gradient.size());
  opt.m_data.start.assign(opt.m_data.n, 0.25);
  opt.m_data.inputs = {0};
  opt.m_data.measured = {0.0};
}

std::vector<double> Halving(int n) {
  std::vector<double> v;
  for (int i = 0; i < n; ++i) v.push_back(std::ldexp(1.0, -i));
  return v;
}

struct RunCase {
  const char* name;
  std::vector<double> script;
  std::string outcome;  // "true", "false" or the thrown text
  std::vector<unsigned> calls;
  int evaluations;
  std::string log = "";
  int max_bad = 4;
  int refuse_call = -1;
  int refuse_at = -1;
  std::vector<double> gradient = {1.0};
  bool no_samples = false;
  bool wrong_start = false;
};

const char* const kProblems = "OptimizerLM::Optimize: numerical problems";

class OptimizerLMRunTest : public testing::TestWithParam<RunCase> {};

TEST_P(OptimizerLMRunTest, FollowsStopRules) {
  const RunCase& c = GetParam();
  ScriptOptimizer opt;
  opt.m_model.gradient = c.gradient;
  opt.m_model.refuse_at = c.refuse_at;
  SetUpScript(opt, c.script);
  opt.m_nMaxBadIterations = c.max_bad;
  opt.refuse_call = c.refuse_call;
  if (c.no_samples) opt.m_data.inputs.clear();
  if (c.wrong_start) opt.m_data.start.push_back(0.0);
  kxtest::LogCapture log(5);
  bool result = false;
  const std::string thrown = kxtest::Thrown([&] { result = opt.Optimize(); });
  EXPECT_EQ(thrown.empty() ? (result ? "true" : "false") : thrown, c.outcome);
  EXPECT_EQ(opt.calls, c.calls);
  EXPECT_EQ(opt.m_model.evaluations, c.evaluations);
  if (!c.log.empty()) {
    EXPECT_TRUE(log.Has(c.log)) << log.text;
  }
  // A converged fit warns of nothing.
  if (c.outcome == "true") EXPECT_FALSE(log.Has("MAX_LAMBDA")) << log.text;
  if (c.outcome == "true" && c.script.size() == 1) {
    EXPECT_EQ(opt.m_param_vector, opt.m_data.start);  // every step was rejected
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptimizerLMRunTest,
    testing::Values(
        RunCase{"TinyChi2EndsAtOnce", {1.0, 1e-31}, "true", {888, 0, 0}, 2},
        // The first rejection meets best = 1e38 and is no bad iteration; four more are.
        RunCase{"AllStepsRejected", {1.0}, "true", {888, 0, 1, 2, 3, 4, 4}, 6},
        RunCase{"EqualChi2IsRejected", {4.0, 2.0, 2.0}, "true", {888, 0, 1, 2, 3, 4, 4}, 6},
        RunCase{"TwoSmallSteps", {2.0, 1.0, 0.9995, 0.999}, "true", {888, 0, 1, 2, 2}, 4},
        RunCase{"RejectionBetweenSmallSteps",
                {2.0, 1.0, 0.9995, 1.2, 0.999},
                "true",
                {888, 0, 1, 2, 3, 3},
                5},
        RunCase{"LargeStepResetsSmallCount",
                {2.0, 1.0, 0.9995, 0.5, 0.4999, 0.4998},
                "true",
                {888, 0, 1, 2, 3, 4, 4},
                6},
        RunCase{"IterationLimit",
                Halving(30),
                "false",
                {888, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                21},
        // Damping 0.001 ... 1000 passes; the seventh rejection raises it to 10000. A start
        // that no step improves on is at its minimum (a camera an adjustment placed
        // before): converged, its parameters kept, no warning.
        RunCase{"DampingAboveLimitAtTheStart",
                {1.0},
                "true",
                {888, 0, 1, 2, 3, 4, 5, 6},
                8,
                "OptimizerLM::Optimize: no step improves the fit further, converged",
                8},
        // A chi2 that is not a number never improves either, and that is a failure.
        RunCase{"DampingAboveLimitWithoutAFiniteChi2",
                {std::nan("")},
                kProblems,
                {888, 0, 1, 2, 3, 4, 5},
                8,
                "OptimizerLM::LMMin: m_alambda  > MAX_LAMBDA, 10000 > 1000",
                8},
        // One step reaches the minimum: the damping passes its limit before eight rejections
        // count as bad iterations. The fit improved, so it is converged.
        RunCase{"DampingAboveLimitAfterAnImprovement",
                {2.0, 1.0},
                "true",
                {888, 0, 1, 2, 3, 4, 5, 6, 7, 8},
                10,
                "OptimizerLM::Optimize: no step improves the fit further, converged",
                8},
        RunCase{"CallbackEndsAfterIterationZero", {1.0}, "true", {888, 0, 0}, 2, "", 4, 1},
        RunCase{"CallbackRefusesFinalCall", {1.0, 1e-31}, "false", {888, 0, 0}, 2, "", 4, 2},
        RunCase{"NoSamples",
                {1.0},
                kProblems,
                {},
                0,
                "o_Optimizer::LMCoef: zero sample dimension (1) or no measurements (0)",
                4,
                -1,
                -1,
                {1.0},
                true},
        RunCase{"WrongStartSize", {1.0}, kProblems, {}, 0, "", 4, -1, -1, {1.0}, false, true},
        RunCase{"FirstSampleRefused",
                {1.0},
                kProblems,
                {},
                1,
                "OptimizerLM::LMMin: Coef failed",
                4,
                -1,
                0},
        RunCase{"TrialSampleRefused",
                {1.0},
                kProblems,
                {888},
                2,
                "OptimizerLM::LMMin: LMCoef error",
                4,
                -1,
                1},
        RunCase{"SingularDampedMatrix",
                {1.0},
                kProblems,
                {888},
                1,
                "OptimizerLM::LMMin: InvertSymmetric failed",
                4,
                -1,
                -1,
                {0.0}}),
    [](const testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// Exact data ends at the rounding level of chi2, where the relative gains are noise: a
// chi2 at most 1e-22 times the squared measurements counts as converged, anything above
// keeps the usual rules (and their failures).
TEST(OptimizerLMTest, RoundingLevelOfTheMeasurementsCountsAsConverged) {
  const struct {
    const char* name;
    double measured;
    std::vector<double> chi2;  // per evaluation, the last repeats
    std::string outcome;
    std::vector<unsigned> calls;
  } cases[] = {
      {"constant at rounding level", 1.0, {1e-24}, "true", {888, 0, 0}},
      {"reached after a step", 1.0, {1.0, 1e-3, 1e-24}, "true", {888, 0, 1, 1}},
      // Not at the rounding level: the iteration runs on until no damping helps, where a
      // start no step improves on is its minimum.
      {"constant above it", 1.0, {1e-20}, "true", {888, 0, 1, 2, 3, 4, 5, 6}},
      {"small measurements", 1e-4, {1e-24}, "true", {888, 0, 1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptOptimizer opt;
    // The model predicts sqrt(script): chi2 c needs the script entry (measured - sqrt c)^2.
    std::vector<double> script;
    for (double chi2 : c.chi2) script.push_back(std::pow(c.measured - std::sqrt(chi2), 2.0));
    SetUpScript(opt, script);
    opt.m_data.measured = {c.measured};
    opt.m_nMaxBadIterations = 8;
    kxtest::LogCapture log;
    bool result = false;
    const std::string thrown = kxtest::Thrown([&] { result = opt.Optimize(); });
    EXPECT_EQ(thrown.empty() ? (result ? "true" : "false") : thrown, c.outcome);
    EXPECT_EQ(opt.calls, c.calls);
  }
}

TEST(OptimizerLMTest, SingularFinalPassKeepsNormalMatrix) {
  // J = (1 1): damped J^T J is regular, J^T J itself is singular.
  ScriptOptimizer opt;
  opt.m_model.gradient = {1.0, 1.0};
  SetUpScript(opt, {1.0, 1e-31});
  kxtest::LogCapture log(5);
  EXPECT_TRUE(opt.Optimize());
  EXPECT_TRUE(log.Has("InvertSymmetric failed, but not all diagonal elements zero"));
  for (unsigned r = 0; r < 2; ++r) {
    for (unsigned c = 0; c < 2; ++c) EXPECT_EQ(opt.m_covariance(r, c), 1.0);
  }
}

TEST(OptimizerLMTest, StopRequestArrivesAsIterationNumber) {
  const struct {
    int stop_after;
    unsigned stopped_at;  // 888: during the first evaluation
  } cases[] = {{1, 888}, {2, 0}, {4, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stop_after);
    kxtest::CallbackForTest observer(c.stop_after);
    ScriptOptimizer opt;
    opt.observer = &observer;
    SetUpScript(opt, Halving(30));
    try {
      opt.Optimize();
      ADD_FAILURE() << "no stop";
    } catch (unsigned iteration) {
      EXPECT_EQ(iteration, c.stopped_at);
    }
    EXPECT_EQ(observer.counts[5], c.stop_after);
  }

  // Without a stop every evaluation step is reported, the final pass included.
  kxtest::CallbackForTest observer;
  ScriptOptimizer opt;
  opt.observer = &observer;
  SetUpScript(opt, {1.0});
  EXPECT_TRUE(opt.Optimize());
  EXPECT_EQ(observer.counts[5], 7);
  EXPECT_EQ(observer.reports.back(), std::make_pair(5, -1));
}

}  // namespace
