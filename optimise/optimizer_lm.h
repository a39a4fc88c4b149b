// OptimizerLM<Model, Data>: Levenberg-Marquardt on the dense normal equations, for the
// small nonlinear fits of the tracking engine (one camera, one projection matrix, lens
// distortion, one 3D point ...). J^T J is formed whole, so the parameter vector must be
// short (a dozen or two); the number of samples is free.
//
// A model predicts, for one sample, k measured values and their gradients with respect
// to the n parameters. It derives from ModelWithGradient<Input, k> and Model<Input, k>
// (one shared ModelBase) and provides the non-virtual
//   bool ComputeWithGradient(const Input& input, const std::vector<double>& parameters,
//                            ModelOutput out[k], int mode);
// mode 0 writes the values, 1 the gradients, 2 both (the optimizer always asks for 2);
// false when the parameters do not fit the model or the geometry is degenerate.
//
// A data class holds the start parameters, the samples and what the samples share:
//   unsigned GetNumberOfParameters() const;          // n
//   unsigned GetNumberOfSamples() const;             // m
//   const std::vector<double>& GetStartVector() const;
//   GetModelInput(unsigned i, Input& out) const;     // a result, if any, is ignored
//   void GetMeasurement(unsigned i, double out[k]) const;
//
// Residuals are measured minus predicted, unweighted; chi2 is their sum of squares.
// Use: construct (a concrete optimizer derives from the template and adds nothing),
// optionally set m_nMaxIterations and m_nMaxBadIterations, fill m_data, call Optimize;
// on true read m_param_vector, m_chisq, m_num_samples and m_covariance (the inverse of
// J^T J at the result).
//
// Failures are thrown as const char* texts (see Optimize). A derived IterationCallback
// may throw anything else, e.g. an unsigned iteration number to stop on a user's request;
// such exceptions pass through unchanged. All scratch lives in the object, so optimizers
// run in parallel on different threads; one optimizer is used by one thread at a time.
//
// Levenberg-Marquardt: K. Levenberg, Q. Appl. Math. 2 (1944); D. W. Marquardt, SIAM
// J. Appl. Math. 11 (1963); the damping scheme of Numerical Recipes, section 15.5.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/runtime/notify.h"
#include "optimise/lm_stop_rule.h"

// One predicted value of a sample and its gradient (one entry per parameter, in
// parameter order).
struct ModelOutput {
  double value = 0.0;
  std::vector<double> gradient;
};

// Carries the sample input type and the number of measured values per sample.
template <class Input, int k>
class ModelBase {
 public:
  using InputType = Input;
  static constexpr int kNumMeasurements = k;
};

template <class Input, int k>
class Model : public virtual ModelBase<Input, k> {
 public:
  virtual ~Model() = default;
  // The concrete model's class name for messages.
  virtual const char* GetMyClassName() const {
    Notify(2, "Model::GetMyClassName: the derived classes must implement this method");
    return "Model";
  }
};

template <class Input, int k>
class ModelWithGradient : public virtual ModelBase<Input, k> {};

template <class ModelT, class DataT>
class OptimizerLM {
 public:
  using Input = typename ModelT::InputType;
  static constexpr int k = ModelT::kNumMeasurements;
  static constexpr double MAX_LAMBDA = 1000.0;
  static constexpr const char* kDampingOverflow = "OptimizerLM::LMMin: m_alambda>MAX_LAMBDA";

  OptimizerLM() = default;
  virtual ~OptimizerLM() = default;

  // Called with 888 after the first evaluation of a run (the result is ignored), after
  // every iteration with its number (from 0), and once more after the final pass with
  // the number of the last iteration. False ends the iteration (as converged), or, in
  // the call after the final pass, makes Optimize return false.
  virtual bool IterationCallback(unsigned iteration, const std::vector<double>& parameters,
                                 double chi2, unsigned samples) {
    (void)iteration;
    (void)parameters;
    (void)chi2;
    (void)samples;
    return true;
  }

  // Fits the model from the data's start vector. True when the iteration converged
  // (chi2 < 1e-30 or at the rounding level of the measurements (IsExactFit),
  // m_nMaxIterWithinTolerance small steps, m_nMaxBadIterations steps
  // without improvement, a step rejected at the largest damping with a finite chi2 (the
  // fit at its minimum, the start's included), or a callback ended it) and the final pass ran;
  // false after m_nMaxIterations iterations without convergence (m_param_vector then holds the last
  // accepted parameters) or when the last callback refused. Every const char* failure inside a step
  // is thrown as "OptimizerLM::Optimize: numerical problems"
  // ("... at final update" in the final pass).
  bool Optimize() {
    static const char* const kProblems = "OptimizerLM::Optimize: numerical problems";
    static const char* const kFinalProblems =
        "OptimizerLM::Optimize: numerical problems at final update";
    LMStopRule stop_rule(1e38, m_tolerance, m_nMaxIterWithinTolerance, m_nMaxBadIterations);
    unsigned i = 0;
    m_alambda = -1.0;
    AllocateBuffers();
    const double measured_squares = SumOfSquaredMeasurements();
    bool converged = false;
    for (; static_cast<int>(i) < m_nMaxIterations; ++i) {
      if (StepOrThrow(kProblems) == kStalled) {
        Notify(5, "OptimizerLM::Optimize: no step improves the fit further, converged");
        converged = true;
        break;
      }
      if (!IterationCallback(i, m_param_vector, m_chisq, m_num_samples) || m_chisq < 1e-30 ||
          IsExactFit(m_chisq, measured_squares) || stop_rule.Update(m_chisq) != LMStopRule::kGoOn) {
        converged = true;
        break;
      }
    }
    if (!converged) return false;

    m_alambda = 0.0;
    StepOrThrow(kFinalProblems);
    return IterationCallback(i, m_param_vector, m_chisq, m_num_samples);
  }

  // One damped step (m_alambda > 0), or with m_alambda 0 the final pass, which only
  // inverts J^T J into m_covariance. The first call of a run (m_alambda < 0) evaluates
  // the start vector first. False only when the damped matrix cannot be inverted during
  // the iteration; throws const char* texts on the other failures.
  bool LMMin() {
    const unsigned n = m_num_parameters;
    if (m_alambda < 0.0) {
      m_alambda = 0.001;
      m_param_vector = m_data.GetStartVector();
      if (m_param_vector.size() != n) {
        m_param_vector.resize(n, 0.0);
        throw "OptimizerLM::LMMin: no. of parameters mismatch";
      }
      if (!LMCoef(m_param_vector, m_alpha, m_beta)) {
        Notify(2, "OptimizerLM::LMMin: Coef failed");
        throw "OptimizerLM::LMMin: Coef failed";
      }
      m_best_chisq = m_chisq;
      m_start_chisq = m_chisq;
      IterationCallback(888, m_param_vector, m_chisq, m_num_samples);
    }

    m_covariance = m_alpha;
    for (unsigned j = 0; j < n; ++j) m_covariance(j, j) *= 1.0 + m_alambda;
    if (!m_covariance.InvertSymmetric(m_covariance)) {
      bool some_diagonal = false;
      for (unsigned j = 0; j < n; ++j) some_diagonal = some_diagonal || m_alpha(j, j) > 1e-30;
      if (some_diagonal) {
        m_covariance = m_alpha;
        Notify(3, "OptimizerLM::LMMin: InvertSymmetric failed, but not all diagonal elements zero");
      } else {
        Notify(2, "OptimizerLM::LMMin: InvertSymmetric failed");
      }
      return m_alambda == 0.0;
    }
    m_delta.Multiply(m_covariance, m_beta);
    if (m_alambda == 0.0) return true;

    m_trial_vector.resize(n);
    for (unsigned j = 0; j < n; ++j) m_trial_vector[j] = m_param_vector[j] + m_delta[j];
    if (!LMCoef(m_trial_vector, m_covariance, m_delta)) {
      Notify(2, "OptimizerLM::LMMin: LMCoef error");
      throw "OptimizerLM::LMMin: LMCoef error";
    }
    if (m_chisq < m_best_chisq) {
      m_alambda *= 0.1;
      m_best_chisq = m_chisq;
      m_alpha = m_covariance;
      m_beta = m_delta;
      m_param_vector = m_trial_vector;
    } else {
      m_alambda *= 10.0;
      m_chisq = m_best_chisq;
    }
    // The caller tells a fit at its minimum from a failure and logs only the failure.
    if (m_alambda > MAX_LAMBDA) throw kDampingOverflow;
    return true;
  }

  // Evaluates every sample at parameters a: alpha = J^T J, beta = J^T r, m_jacobian and
  // m_chisq. False (alpha, beta and m_chisq unchanged) when the model refuses a sample;
  // throws when there are no samples.
  bool LMCoef(const std::vector<double>& a, Matrix& alpha, Vector& beta) {
    const unsigned n = m_num_parameters;
    const unsigned m = m_num_samples;
    if (m == 0) {
      Notify(2, "o_Optimizer::LMCoef: zero sample dimension (%d) or no measurements (%d)", k,
             static_cast<int>(m));
      throw "o_Optimizer::LMCoef: zero sample dimension or no measurements";
    }
    for (ModelOutput& out : m_outputs) out.gradient.assign(n, 0.0);
    m_residual.Resize(static_cast<uint32_t>(k) * m);
    Input input{};
    double measured[k];
    for (unsigned i = 0; i < m; ++i) {
      m_data.GetModelInput(i, input);
      if (!m_model.ComputeWithGradient(input, a, m_outputs.data(), 2)) return false;
      m_data.GetMeasurement(i, measured);
      for (int j = 0; j < k; ++j) {
        const unsigned row = static_cast<unsigned>(k) * i + static_cast<unsigned>(j);
        std::vector<double>& gradient = m_outputs[j].gradient;
        gradient.resize(n, 0.0);  // a model that resized it must not make us read past it
        m_residual[row] = measured[j] - m_outputs[j].value;
        double* jacobian_row = m_jacobian.Row(row);
        for (unsigned p = 0; p < n; ++p) jacobian_row[p] = gradient[p];
      }
    }
    alpha.MultiplyAtB(m_jacobian, m_jacobian);
    beta.MultiplyTransposed(m_jacobian, m_residual);
    m_chisq = m_residual.Dot(m_residual);
    return true;
  }

  // Takes n and m from the data and sizes the matrices; a matrix keeps its block when its
  // dimensions stay (contents are not kept).
  void AllocateBuffers() {
    m_num_parameters = m_data.GetNumberOfParameters();
    m_num_samples = m_data.GetNumberOfSamples();
    const unsigned n = m_num_parameters;
    m_alpha.Resize(n, n);
    m_covariance.Resize(n, n);
    m_jacobian.Resize(static_cast<uint32_t>(k) * m_num_samples, n);
    m_beta.Resize(n);
    m_delta.Resize(n);
  }

  std::vector<double> m_param_vector;  // current parameters; the result after Optimize
  std::vector<double> m_trial_vector;  // parameters of the step being tried
  Matrix m_alpha;                      // J^T J at the current parameters
  Matrix m_jacobian;                   // row k i + j: gradient of value j of sample i
  // The damped J^T J and its inverse during a step; after the final pass the inverse of
  // J^T J (J^T J itself when that is singular).
  Matrix m_covariance;
  Vector m_beta;               // J^T r at the current parameters
  Vector m_delta;              // the step
  double m_alambda = -1.0;     // damping: -1 before a run, 0 in the final pass
  double m_best_chisq = 0.0;   // chi2 of the current parameters
  double m_start_chisq = 0.0;  // chi2 of the start vector
  double m_chisq = 0.0;        // chi2 of the last evaluation (best after a rejected step)
  unsigned m_num_parameters = 0;
  unsigned m_num_samples = 0;
  double m_tolerance = 0.001;         // relative improvement that counts as a small step
  int m_nMaxIterWithinTolerance = 2;  // small steps that end the iteration
  int m_nMaxBadIterations = 4;        // steps without improvement that end it
  int m_nMaxIterations = 20;          // iteration limit
  ModelT m_model;
  DataT m_data;

 private:
  double SumOfSquaredMeasurements() const {
    double sum = 0.0;
    double measured[k];
    for (unsigned i = 0; i < m_num_samples; ++i) {
      m_data.GetMeasurement(i, measured);
      for (int j = 0; j < k; ++j) sum += measured[j] * measured[j];
    }
    return sum;
  }

  enum StepResult { kStepped, kStalled };
  // One LMMin step; a refused step and every const char* failure inside it are thrown as
  // problem. A step rejected at the largest damping with a finite chi2 is kStalled: no
  // step of any length lowers chi2 any more, so the fit sits at its minimum and is
  // converged, not failed. That holds after an improvement (exact data reach the minimum
  // in one step, sooner than the bad-iteration rule can count its rejections) and just as
  // well for a start already at the minimum (a camera the adjustment before placed); the
  // parameters are then the start's, no worse than it. Only a chi2 that is not a number
  // at all makes the damping's overflow a failure.
  StepResult StepOrThrow(const char* problem) {
    bool ok = false;
    try {
      ok = LMMin();
    } catch (const char* text) {
      if (text == kDampingOverflow) {
        if (std::isfinite(m_best_chisq) && m_best_chisq <= m_start_chisq) return kStalled;
        Notify(2, "OptimizerLM::LMMin: m_alambda  > MAX_LAMBDA, %g > %g", m_alambda, MAX_LAMBDA);
      }
      throw problem;
    }
    if (!ok) throw problem;
    return kStepped;
  }

  std::array<ModelOutput, k> m_outputs;
  Vector m_residual;
};
