// OptimizerSparseLM<Model, Data, k>: Levenberg-Marquardt for bundle adjustment. The
// parameter vector holds every camera's block (equal size, camera order), then k
// parameters per point; each 2D measurement depends on one camera and one point, so the
// normal equations are [U W; W^T V] with V block-diagonal. Every step eliminates the
// points (Schur complement) and solves the reduced camera system, then back-substitutes
// the points. The iteration scheme and stop rules are the dense optimizer's
// (optimizer_lm.h) with these differences: no upper limit on the damping, a callback
// returning false ends without the final update and with false, and the final update is a
// Gauss-Newton step (damping 0, the camera diagonal kept at kGaugeDamping so that a free
// gauge does not make it singular), kept only when it lowers chi2; when even that step
// cannot be computed the converged parameters are the result.
//
// Storage is linear in the observations: V one k x k block per point, U one block per
// camera, W and W V^-1 one block per observation, and the reduced camera system by its
// lower envelope in a fill-reducing order (a band for a sequence whose points live over
// neighbouring frames, see reduced_camera_system.h). Where many cameras share many points
// and that envelope would cost far more than the observations, the reduced system is not
// formed: preconditioned conjugate gradients solve it through W and V^-1 (inexactly; each
// step is still tried on chi2). The per-camera, per-point and per-observation work runs on
// the worker pool; every sum is formed in a fixed order by one thread, so the result does
// not depend on the number of threads.
//
// What the optimizer needs of Data:
//   int GetParametersPerCamera(), GetNumberOfCameras(), GetParametersPerPoint(),
//       GetNumberOfPoints(), GetNumberOfParameters(), GetNumberOfMeasurements();
//   const std::vector<double>& GetParameters();           // the start vector
//   const std::vector<ModelSparseMeasurement>& GetMeasurements();
//   void GetModelInput(int i, Input& in);  // mask, held-first-camera flag, indices, counts
// and of Model:
//   bool ComputeWithGradient(const Input&, const std::vector<double>& a, ModelOutput r[2]);
// with r[0], r[1] the predicted x, y and their gradients over the measurement's camera
// block, then its k point parameters.
//
// Failures are thrown as const char* texts (see Optimize). A stop requested through the
// callback arrives as the unsigned iteration number (888 during the first evaluation).
//
// Schur elimination of the points: B. Triggs et al., "Bundle adjustment - a modern
// synthesis", Vision Algorithms 1999, section 6; Hartley and Zisserman, appendix A6.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/runtime/notify.h"
#include "optimise/callback.h"
#include "optimise/lm_stop_rule.h"
#include "optimise/model_kfpoint3d_sparse.h"
#include "optimise/optimizer_lm.h"
#include "optimise/parallel_chunks.h"
#include "optimise/reduced_camera_system.h"

namespace sparse_lm {

// Closed-form inverse of a k x k block (k = 2 or 3, row-major) by cofactors; a
// determinant of exactly 0 gives the identity. m may alias out.
template <int k>
void InvertBlock(const double* m, double* out) {
  double inv[k * k];
  double det;
  if constexpr (k == 2) {
    det = m[0] * m[3] - m[1] * m[2];
    inv[0] = m[3];
    inv[1] = -m[1];
    inv[2] = -m[2];
    inv[3] = m[0];
  } else {
    static_assert(k == 3, "point blocks have 2 or 3 parameters");
    inv[0] = m[4] * m[8] - m[5] * m[7];
    inv[1] = m[2] * m[7] - m[1] * m[8];
    inv[2] = m[1] * m[5] - m[2] * m[4];
    inv[3] = m[5] * m[6] - m[3] * m[8];
    inv[4] = m[0] * m[8] - m[2] * m[6];
    inv[5] = m[2] * m[3] - m[0] * m[5];
    inv[6] = m[3] * m[7] - m[4] * m[6];
    inv[7] = m[1] * m[6] - m[0] * m[7];
    inv[8] = m[0] * m[4] - m[1] * m[3];
    det = m[0] * inv[0] + m[1] * inv[3] + m[2] * inv[6];
  }
  for (int i = 0; i < k * k; ++i)
    out[i] = det == 0.0 ? (i % (k + 1) == 0 ? 1.0 : 0.0) : inv[i] / det;
}

// Reports an iteration to observer (step type 5, no image) and throws the iteration number
// when a stop is requested; true when there is no observer.
bool ReportIteration(const std::atomic<Callback*>& observer, unsigned iteration);

}  // namespace sparse_lm

template <class ModelT, class DataT, int k>
class OptimizerSparseLM {
 public:
  using Input = typename ModelT::InputType;
  static constexpr int kMaxCameraParameters = 12;
  // The least relative damping of the camera diagonal. A problem with a free gauge (the
  // scale of a scene with its first camera held, a global rotation) has a singular reduced
  // system when undamped, and rounding then decides between a refused pivot and a tiny one
  // that sends the step far along the free direction. This floor keeps the system positive
  // definite, so the final update solves like every other step, and moves a determined
  // step by about this relative amount.
  static constexpr double kGaugeDamping = 1e-9;
  // Conjugate gradients: the steps one solve is expected to take (to choose the solver),
  // the most it may take, and the residual it ends at, relative to the right-hand side.
  static constexpr double kExpectedCgSteps = 25.0;
  static constexpr int kIterativeFromUnknowns = 1000;  // smaller systems are factorised
  static constexpr int kMaxCgSteps = 500;
  static constexpr double kCgTolerance = 1e-2;

  struct Parameter {
    double m_tolerance = 0.001;         // relative gain that counts as a small step
    int m_nMaxIterWithinTolerance = 2;  // small steps in a row that end the iteration
    int m_nMaxBadIterations = 4;        // unchanged steps in a row that end it
    int m_nMaxIterations = 20;          // iteration limit
  };

  OptimizerSparseLM() = default;
  virtual ~OptimizerSparseLM() = default;

  // Called with 888 after the first evaluation (result ignored), after every iteration
  // with its number, and after the final update with the last iteration's number. False
  // ends the run without convergence (or makes Optimize return false after the final
  // update). The template's own hook returns true.
  virtual bool IterationCallback(unsigned iteration, const std::vector<double>& parameters,
                                 double chi2, unsigned measurements) {
    (void)iteration;
    (void)parameters;
    (void)chi2;
    (void)measurements;
    return true;
  }

  // The whole minimisation from the data's start vector. True when a stop rule other than
  // the iteration limit fired (chi2 < 1e-30 or at the rounding level of the measurements,
  // see IsExactFit; small steps; unchanged steps) and the final update succeeded; false when the
  // limit was reached or the hook refused (m_a then holds the last accepted parameters, no final
  // update). Throws "OptimizerSparseLM::Optimize: empty model data set" for data without
  // cameras, points, camera parameters or measurements, and
  // "OptimizerSparseLM::Optimze: numerical problems" when a step fails (a model refusing
  // a measurement, a singular reduced system).
  bool Optimize() {
    Notify(5, "OptimizerSparseLM::Optimize: Start!");
    if (m_data.GetParametersPerCamera() < 1 || m_data.GetNumberOfCameras() < 1 ||
        m_data.GetNumberOfPoints() < 1 || m_data.GetNumberOfParameters() < 1 ||
        m_data.GetNumberOfMeasurements() < 1) {
      Notify(2, "OptimizerSparseLM::Optimize: empty model data set");
      throw "OptimizerSparseLM::Optimize: empty model data set";
    }
    m_alambda = -1.0;
    m_structure_ready = false;
    if (!LMPara()) throw "OptimizerSparseLM::Optimze: can't get model parameter";
    Notify(5, "OptimizerSparseLM::Optimze: not using covariance matrix of input");
    LMStopRule stop_rule(1e300, m_parameters.m_tolerance, m_parameters.m_nMaxIterWithinTolerance,
                         m_parameters.m_nMaxBadIterations);
    const unsigned measurements = static_cast<unsigned>(m_data.GetNumberOfMeasurements());
    double measured_squares = 0.0;
    for (const ModelSparseMeasurement& m : m_data.GetMeasurements())
      measured_squares += m.x * m.x + m.y * m.y;
    bool converged = false;
    int iteration = 0;
    m_iterations = 0;
    for (; iteration < m_parameters.m_nMaxIterations; ++iteration) {
      if (!LMMin()) throw "OptimizerSparseLM::Optimze: numerical problems";
      m_iterations = iteration + 1;
      if (!IterationCallback(static_cast<unsigned>(iteration), m_a, m_chisq, measurements)) break;
      if (m_chisq < 1e-30) {
        Notify(5, "OptimizerSparseLM::Optimze: break: m_chisq < 1e-30");
        converged = true;
        break;
      }
      if (IsExactFit(m_chisq, measured_squares)) {
        Notify(5, "OptimizerSparseLM::Optimze: break: m_chisq at the rounding level (%g)", m_chisq);
        converged = true;
        break;
      }
      const LMStopRule::Verdict verdict = stop_rule.Update(m_chisq);
      if (stop_rule.SmallStepCounted())
        Notify(5, "OptimizerSparseLM::Optimze: break: %d. IterWithinTolerance %f",
               stop_rule.SmallSteps(), m_parameters.m_tolerance);
      if (verdict == LMStopRule::kSmallSteps) {
        Notify(5,
               "OptimizerSparseLM::Optimze: break: nIterWithinTolerance >= "
               "m_parameters.m_nMaxIterWithinTolerance (%d >= %d)",
               stop_rule.SmallSteps(), m_parameters.m_nMaxIterWithinTolerance);
        converged = true;
        break;
      }
      if (verdict == LMStopRule::kBadIterations) {
        Notify(5,
               "OptimizerSparseLM::Optimze: break: nbadIteration >= "
               "m_parameters.m_nMaxBadIterations (%d >= %d)",
               stop_rule.BadIterations(), m_parameters.m_nMaxBadIterations);
        converged = true;
        break;
      }
    }
    if (!converged) {
      if (m_parameters.m_nMaxIterations > 8)
        Notify(2, "OptimizerSparseLM::Optimze: no convergence within %d iteration steps,",
               m_parameters.m_nMaxIterations);
      return false;
    }
    Notify(5, "OptimizerSparseLM::Optimze: convergence achieved, do final update");
    m_alambda = 0.0;
    if (!LMMin()) {
      // The closing step has no damping, and a gauge that only the damping pinned down
      // (free projection matrices) can leave its system singular: the converged
      // parameters stand rather than the whole adjustment being lost.
      Notify(4,
             "OptimizerSparseLM::Optimze: no final update (undamped system not solvable), "
             "the converged parameters are kept");
      const double kept = m_prev_chisq;
      LMCoef(m_a);  // the blocks at the kept parameters, which the caller reads
      m_chisq = kept;
    }
    return IterationCallback(static_cast<unsigned>(iteration), m_a, m_chisq, measurements);
  }

  // Copies the counts from the data; throws when its point blocks are not k long.
  bool LMPara() {
    m_para_per_cam = m_data.GetParametersPerCamera();
    m_num_cameras = m_data.GetNumberOfCameras();
    m_num_points = m_data.GetNumberOfPoints();
    m_num_parameters = m_data.GetNumberOfParameters();
    const int per_point = m_data.GetParametersPerPoint();
    if (per_point != k) {
      Notify(2, " OptimizerSparseLM::Optimize: parameters/3D point not equal %ld (%ld)",
             static_cast<long>(k), static_cast<long>(per_point));
      throw " OptimizerSparseLM::Optimize: parameters/3D point not equal "
            "NUMBER_OF_POINT_PARAMETERS";
    }
    Notify(5,
           " OptimizerSparseLM::LMPara: para/cam %d, cameras %d, para/3D point %ld, 3D points "
           "%d, total params %d",
           m_para_per_cam, m_num_cameras, static_cast<long>(per_point), m_num_points,
           m_num_parameters);
    return true;
  }

  // The normal-equation blocks (U, W, V, e_a, e_b) and chi2 at parameters p. False when the
  // model refuses a measurement (blocks then undefined). Throws for a measurement whose
  // camera index is out of range or whose camera block is longer than 12.
  bool LMCoef(const std::vector<double>& p) {
    const int measurements = m_data.GetNumberOfMeasurements();
    Notify(5, "OptimizerSparseLM::LMCoef: n cam. params %d, n 3d point params %d, n meas %d",
           m_num_cameras * m_para_per_cam, k * m_num_points, 2 * measurements);
    if (!m_structure_ready) BuildStructure();
    const int pc = m_para_per_cam;
    const int row = pc + k;  // one Jacobian row: camera block, then point
    std::atomic<bool> refused{false};
    ParallelChunks(measurements, 256, [&](int begin, int end) {
      Input input{};
      ModelOutput result[2];
      const std::vector<ModelSparseMeasurement>& list = m_data.GetMeasurements();
      for (int i = begin; i < end && !refused.load(std::memory_order_relaxed); ++i) {
        m_data.GetModelInput(i, input);
        if (!m_model.ComputeWithGradient(input, p, result)) {
          refused.store(true);
          return;
        }
        const ModelSparseMeasurement& m = list[static_cast<size_t>(i)];
        m_residual[2 * static_cast<size_t>(i)] = m.x - result[0].value;
        m_residual[2 * static_cast<size_t>(i) + 1] = m.y - result[1].value;
        double* jac = m_jacobian.data() + static_cast<size_t>(i) * 2 * static_cast<size_t>(row);
        for (int r = 0; r < 2; ++r) {
          result[r].gradient.resize(static_cast<size_t>(row), 0.0);
          std::copy(result[r].gradient.begin(), result[r].gradient.end(), jac + r * row);
        }
      }
    });
    if (refused.load()) return false;

    double chisq = 0.0;
    for (int i = 0; i < measurements; ++i) {
      const double rx = m_residual[2 * static_cast<size_t>(i)];
      const double ry = m_residual[2 * static_cast<size_t>(i) + 1];
      chisq += rx * rx + ry * ry;
    }
    m_chisq = chisq;

    // Camera sums: U, e_a and the per-observation W of every free camera.
    const int held_cameras = m_held > 0 ? 1 : 0;
    ParallelChunks(m_num_cameras - held_cameras, 1, [&](int begin, int end) {
      for (int fc = begin; fc < end; ++fc) {
        const int c = fc + held_cameras;
        double* u = m_U.data() + static_cast<size_t>(fc) * pc * pc;
        double* ea = m_e_a.data() + static_cast<size_t>(fc) * pc;
        std::fill(u, u + pc * pc, 0.0);
        std::fill(ea, ea + pc, 0.0);
        for (int o = m_camera_start[c]; o < m_camera_start[c + 1]; ++o) {
          const int i = m_camera_obs[static_cast<size_t>(o)];
          const double* jac = Jacobian(i);
          const double* r = m_residual.data() + 2 * static_cast<size_t>(i);
          double* w = m_W.data() + static_cast<size_t>(i) * pc * k;
          for (int a = 0; a < pc; ++a) {
            const double ja0 = jac[a], ja1 = jac[row + a];
            ea[a] += ja0 * r[0] + ja1 * r[1];
            for (int b = 0; b < pc; ++b) u[a * pc + b] += ja0 * jac[b] + ja1 * jac[row + b];
            for (int t = 0; t < k; ++t) w[a * k + t] = ja0 * jac[pc + t] + ja1 * jac[row + pc + t];
          }
        }
      }
    });
    // Point sums: V and e_b.
    ParallelChunks(m_num_points, 64, [&](int begin, int end) {
      for (int j = begin; j < end; ++j) {
        double* v = m_V.data() + static_cast<size_t>(j) * k * k;
        double* eb = m_e_b.data() + static_cast<size_t>(j) * k;
        std::fill(v, v + k * k, 0.0);
        std::fill(eb, eb + k, 0.0);
        for (int o = m_point_start[j]; o < m_point_start[j + 1]; ++o) {
          const int i = m_point_obs[static_cast<size_t>(o)];
          const double* jp = Jacobian(i) + pc;
          const double* r = m_residual.data() + 2 * static_cast<size_t>(i);
          for (int a = 0; a < k; ++a) {
            eb[a] += jp[a] * r[0] + jp[row + a] * r[1];
            for (int b = 0; b < k; ++b) v[a * k + b] += jp[a] * jp[b] + jp[row + a] * jp[row + b];
          }
        }
      }
    });
    return true;
  }

  // One damped step at m_alambda (the first call of a run evaluates the start vector
  // first); with m_alambda 0 a Gauss-Newton step (see kGaugeDamping). Accepts the trial when chi2
  // decreases, otherwise raises the damping and rebuilds the blocks at the kept
  // parameters. False when the model refuses a measurement or the reduced system is
  // singular.
  bool LMMin() {
    if (m_alambda < 0.0) {
      m_alambda = 0.001;
      m_a = m_data.GetParameters();
      if (static_cast<int>(m_a.size()) != m_num_parameters) {
        m_a.resize(static_cast<size_t>(std::max(0, m_num_parameters)), 0.0);
        throw "OptimizerSparseLM::LMMin: no. of initial values different from no. of parameters";
      }
      if (!LMCoef(m_a)) return false;
      m_prev_chisq = m_chisq;
      IterationCallback(888, m_a, m_chisq, static_cast<unsigned>(m_data.GetNumberOfMeasurements()));
    }
    const int pc = m_para_per_cam;
    const int free = m_num_cameras * pc - m_held;
    m_delta_a.assign(static_cast<size_t>(std::max(0, free)), 0.0);
    m_delta_b.assign(static_cast<size_t>(k) * m_num_points, 0.0);

    const int free_cameras = free / std::max(1, pc);
    const double camera_damping = std::max(m_alambda, kGaugeDamping);
    for (int fc = 0; fc < free_cameras; ++fc) {
      double* u = m_U.data() + static_cast<size_t>(fc) * pc * pc;
      for (int a = 0; a < pc; ++a) u[a * pc + a] *= 1.0 + camera_damping;
    }
    // Point blocks: damp, invert in place, and Y = W V^-1 for every free observation.
    ParallelChunks(m_num_points, 64, [&](int begin, int end) {
      for (int j = begin; j < end; ++j) {
        double* v = m_V.data() + static_cast<size_t>(j) * k * k;
        for (int a = 0; a < k; ++a) v[a * k + a] *= 1.0 + m_alambda;
        sparse_lm::InvertBlock<k>(v, v);
        for (int o = m_point_start[j]; o < m_point_start[j + 1]; ++o) {
          const int i = m_point_obs[static_cast<size_t>(o)];
          if (!IsFree(i)) continue;
          const double* w = m_W.data() + static_cast<size_t>(i) * pc * k;
          double* y = m_Y.data() + static_cast<size_t>(i) * pc * k;
          for (int a = 0; a < pc; ++a)
            for (int t = 0; t < k; ++t) {
              double s = 0.0;
              for (int q = 0; q < k; ++q) s += w[a * k + q] * v[q * k + t];
              y[a * k + t] = s;
            }
        }
      }
    });

    if (m_iterative) {
      if (!SolveConjugateGradients()) {
        Notify(2, "OptimizerSparseLM::LMMin: InvertSymmetric of %ldx%ld matrix S failed",
               static_cast<long>(free), static_cast<long>(free));
        return false;
      }
    } else {
      FormReducedSystem();
      if (!m_system.Factor()) {
        Notify(2, "OptimizerSparseLM::LMMin: InvertSymmetric of %ldx%ld matrix S failed",
               static_cast<long>(free), static_cast<long>(free));
        return false;
      }
      m_system.Solve(m_rhs.data());
      for (int fc = 0; fc < free_cameras; ++fc)
        std::copy_n(m_rhs.data() + static_cast<size_t>(m_system.Position(fc)) * pc, pc,
                    m_delta_a.data() + static_cast<size_t>(fc) * pc);
    }
    // Points: delta_b = V^-1 (e_b - W^T delta_a).
    const int held_cameras = m_held > 0 ? 1 : 0;
    ParallelChunks(m_num_points, 64, [&](int begin, int end) {
      for (int j = begin; j < end; ++j) {
        double t[k];
        for (int a = 0; a < k; ++a) t[a] = m_e_b[static_cast<size_t>(j) * k + a];
        for (int o = m_point_start[j]; o < m_point_start[j + 1]; ++o) {
          const int i = m_point_obs[static_cast<size_t>(o)];
          if (!IsFree(i)) continue;
          const double* w = m_W.data() + static_cast<size_t>(i) * pc * k;
          const double* da =
              m_delta_a.data() + static_cast<size_t>(CameraOf(i) - held_cameras) * pc;
          for (int a = 0; a < pc; ++a)
            for (int q = 0; q < k; ++q) t[q] -= w[a * k + q] * da[a];
        }
        const double* vi = m_V.data() + static_cast<size_t>(j) * k * k;
        for (int a = 0; a < k; ++a) {
          double s = 0.0;
          for (int q = 0; q < k; ++q) s += vi[a * k + q] * t[q];
          m_delta_b[static_cast<size_t>(j) * k + a] = s;
        }
      }
    });

    const long deltas = static_cast<long>(m_delta_a.size() + m_delta_b.size()) + m_held;
    if (deltas != m_num_parameters) {
      Notify(2,
             "OptimizerSparseLM::LMMin: bad no. of deltas da %d, db %d, skip params %ld, params %d",
             static_cast<int>(m_delta_a.size()), static_cast<int>(m_delta_b.size()),
             static_cast<long>(m_held), m_num_parameters);
      throw "OptimizerSparseLM::LMMin: bad no. of deltas";
    }
    m_trial.resize(m_a.size());
    size_t written = 0;
    for (int i = 0; i < m_held; ++i, ++written) m_trial[written] = m_a[written];
    for (double d : m_delta_a) {
      m_trial[written] = m_a[written] + d;
      ++written;
    }
    for (double d : m_delta_b) {
      m_trial[written] = m_a[written] + d;
      ++written;
    }
    if (written != m_trial.size()) {
      Notify(2, "OptimizerSparseLM::LMMin: bad index %d, should be %d", static_cast<int>(written),
             static_cast<int>(m_trial.size()));
      throw "OptimizerSparseLM::LMMin: bad index";
    }
    if (!LMCoef(m_trial)) {
      Notify(2, "OptimizerSparseLM::LMMin: check of %ld new paramters failed",
             static_cast<long>(m_trial.size()));
      return false;
    }
    if (m_chisq < m_prev_chisq) {
      m_alambda *= 0.1;
      m_prev_chisq = m_chisq;
      m_a.swap(m_trial);
      return true;
    }
    m_alambda *= 10.0;
    m_chisq = m_prev_chisq;
    return LMCoef(m_a);
  }

  // J_p^T J_p of point j (k x k, row-major) at the parameters of the last evaluation; after
  // Optimize, at the result.
  const double* GetPointBlock(int j) const { return m_V.data() + static_cast<size_t>(j) * k * k; }

  // The reduced camera system of the last step (its order and envelope).
  const ReducedCameraSystem& ReducedSystem() const { return m_system; }

  // How the reduced system is solved: factorised, or by conjugate gradients where that is
  // much cheaper (kChoose: from the structure, see BuildStructure), or either forced.
  enum class ReducedSolver { kChoose, kFactor, kConjugateGradients };
  ReducedSolver m_reduced_solver = ReducedSolver::kChoose;

  std::vector<double> m_a;      // current parameters; the result after Optimize
  std::vector<double> m_trial;  // the step being tried
  double m_alambda = -1.0;      // damping; -1 until the first step, 0 in the final update
  double m_prev_chisq = 0.0;    // chi2 of m_a
  double m_chisq = 0.0;         // chi2 of the last evaluation
  int m_para_per_cam = 0;
  int m_num_cameras = 0;
  int m_held = 0;  // leading parameters held fixed (the first camera's block, or 0)
  int m_num_points = 0;
  int m_num_parameters = 0;
  int m_iterations = 0;           // iterations of the last Optimize (the final update not counted)
  std::vector<double> m_delta_a;  // free camera increments of the last step
  std::vector<double> m_delta_b;  // point increments of the last step
  Parameter m_parameters;
  ModelT m_model;
  DataT m_data;

 private:
  int CameraOf(int i) const {
    return m_data.GetMeasurements()[static_cast<size_t>(i)].camera_index;
  }
  int PointOf(int i) const { return m_data.GetMeasurements()[static_cast<size_t>(i)].point_index; }
  bool IsFree(int i) const { return CameraOf(i) * m_para_per_cam >= m_held; }
  const double* Jacobian(int i) const {
    return m_jacobian.data() + static_cast<size_t>(i) * 2 * static_cast<size_t>(m_para_per_cam + k);
  }

  // Checks the measurements in order, takes the held count from the first one, indexes
  // the observations by camera and by point and sizes every work block. Once per run.
  void BuildStructure() {
    const int measurements = m_data.GetNumberOfMeasurements();
    Input input{};
    for (int i = 0; i < measurements; ++i) {
      m_data.GetModelInput(i, input);
      if (input.camera_index < 0 || input.camera_index >= m_num_cameras) {
        Notify(2, "OptimizerSparseLM::LMCoef: current_cam_para_index (%d) exceeds maximum (%d)",
               input.camera_index, m_num_cameras - 1);
        throw "OptimizerSparseLM::LMCoef: current_cam_para_index exceeds maximum";
      }
      if (input.parameters_per_camera > kMaxCameraParameters) {
        Notify(2, "OptimizerSparseLM::LMCoef: current_para_per_cam larger than max. %ld (%d)",
               static_cast<long>(kMaxCameraParameters), input.parameters_per_camera);
        throw "OptimizerSparseLM::LMCoef: current_para_per_cam larger than "
              "MAX_NUMBER_OF_CAMERA_PARAMETERS";
      }
      if (input.point_index < 0 || input.point_index >= m_num_points) {
        Notify(2, "OptimizerSparseLM::LMCoef: point index %d outside 0..%d", input.point_index,
               m_num_points - 1);
        throw "OptimizerSparseLM::LMCoef: point index exceeds maximum";
      }
      if (i == 0) m_held = input.held_first_camera ? m_para_per_cam : 0;
    }
    const int pc = m_para_per_cam;
    const size_t count = static_cast<size_t>(measurements);
    m_residual.assign(2 * count, 0.0);
    m_jacobian.assign(2 * count * static_cast<size_t>(pc + k), 0.0);
    m_W.assign(count * static_cast<size_t>(pc) * k, 0.0);
    m_Y.assign(count * static_cast<size_t>(pc) * k, 0.0);
    m_V.assign(static_cast<size_t>(m_num_points) * k * k, 0.0);
    m_e_b.assign(static_cast<size_t>(m_num_points) * k, 0.0);
    const int held_cameras = m_held > 0 ? 1 : 0;
    const int free_cameras = m_num_cameras - held_cameras;
    m_U.assign(static_cast<size_t>(std::max(0, free_cameras)) * pc * pc, 0.0);
    m_e_a.assign(static_cast<size_t>(std::max(0, free_cameras)) * pc, 0.0);
    m_rhs.assign(m_e_a.size(), 0.0);

    Index(
        m_num_cameras, [this](int i) { return CameraOf(i); }, m_camera_start, m_camera_obs);
    Index(
        m_num_points, [this](int i) { return PointOf(i); }, m_point_start, m_point_obs);
    // Coupling: the free cameras that share a point with each free camera.
    std::vector<int> start(static_cast<size_t>(std::max(0, free_cameras)) + 1, 0), neighbours;
    std::vector<int> seen(static_cast<size_t>(std::max(0, free_cameras)), -1);
    for (int fc = 0; fc < free_cameras; ++fc) {
      const int c = fc + held_cameras;
      for (int o = m_camera_start[c]; o < m_camera_start[c + 1]; ++o) {
        const int j = PointOf(m_camera_obs[static_cast<size_t>(o)]);
        for (int q = m_point_start[j]; q < m_point_start[j + 1]; ++q) {
          const int fcb = CameraOf(m_point_obs[static_cast<size_t>(q)]) - held_cameras;
          if (fcb < 0 || fcb == fc || seen[static_cast<size_t>(fcb)] == fc) continue;
          seen[static_cast<size_t>(fcb)] = fc;
          neighbours.push_back(fcb);
        }
      }
      start[static_cast<size_t>(fc) + 1] = static_cast<int>(neighbours.size());
    }
    // The reduced system's sums walk the observations by point and by camera; their other index
    // kept beside them.
    m_point_obs_camera.resize(m_point_obs.size());
    for (size_t o = 0; o < m_point_obs.size(); ++o)
      m_point_obs_camera[o] = std::max(-1, CameraOf(m_point_obs[o]) - held_cameras);
    m_camera_obs_point.resize(m_camera_obs.size());
    for (size_t o = 0; o < m_camera_obs.size(); ++o)
      m_camera_obs_point[o] = PointOf(m_camera_obs[o]);
    // Where most cameras share points with most others (an orbit's long-lived points,
    // photographs in no order) and forming and factorising the reduced system costs more
    // than conjugate gradients on it through W and V^-1, these solve it, in few steps
    // since every camera is close to every other, and keep memory linear in the
    // observations. A long sequence keeps the factorisation: there conjugate gradients
    // would need many steps to carry a change from one end to the other.
    double pairs = 0.0;  // observation pairs of a point, per point
    for (int j = 0; j < m_num_points; ++j) {
      const double m = m_point_start[j + 1] - m_point_start[j];
      pairs += 0.5 * m * (m + 1.0);
    }
    const double direct =
        pairs * pc * pc * k + ReducedCameraSystem::FactorWork(pc, start, neighbours);
    const double iterative = kExpectedCgSteps * 4.0 * measurements * pc * k;
    const bool dense_coupling =
        static_cast<double>(neighbours.size()) >= 0.25 * free_cameras * free_cameras;
    m_iterative = m_reduced_solver == ReducedSolver::kConjugateGradients ||
                  (m_reduced_solver == ReducedSolver::kChoose && dense_coupling &&
                   free_cameras * pc >= kIterativeFromUnknowns && direct > iterative);
    if (m_iterative) {
      m_system = ReducedCameraSystem();
      m_preconditioner.assign(static_cast<size_t>(free_cameras) * pc * pc, 0.0);
      m_point_work.assign(static_cast<size_t>(m_num_points) * k, 0.0);
    } else {
      m_system.SetCoupling(std::max(0, free_cameras), pc, start, neighbours);
    }
    m_structure_ready = true;
  }

  // Counting sort of the observations by key (stable: measurement order inside a key).
  template <class Key>
  void Index(int keys, Key key, std::vector<int>& start, std::vector<int>& list) {
    const int measurements = m_data.GetNumberOfMeasurements();
    start.assign(static_cast<size_t>(keys) + 1, 0);
    for (int i = 0; i < measurements; ++i) ++start[static_cast<size_t>(key(i)) + 1];
    for (int c = 0; c < keys; ++c) start[c + 1] += start[c];
    list.resize(static_cast<size_t>(measurements));
    std::vector<int> next(start.begin(), start.end() - 1);
    for (int i = 0; i < measurements; ++i) list[static_cast<size_t>(next[key(i)]++)] = i;
  }

  // N = U - Y W^T (the reduced system with the sign that makes it positive definite) and
  // its right-hand side e_a - Y e_b (in the system's order), camera by camera.
  void FormReducedSystem() {
    const int pc = m_para_per_cam;
    const int held_cameras = m_held > 0 ? 1 : 0;
    ParallelChunks(m_system.Blocks(), 1, [&](int begin, int end) {
      for (int fc = begin; fc < end; ++fc) {
        const int c = fc + held_cameras;
        const int place = m_system.Position(fc);
        m_system.ZeroBlockRow(place);
        const double* u = m_U.data() + static_cast<size_t>(fc) * pc * pc;
        double* rhs = m_rhs.data() + static_cast<size_t>(place) * pc;
        for (int a = 0; a < pc; ++a) {
          const int r = place * pc + a;
          double* row = m_system.Row(r);
          const int start = m_system.RowStart(r);
          for (int b = 0; b <= a; ++b) row[place * pc + b - start] = u[a * pc + b];
          rhs[a] = m_e_a[static_cast<size_t>(fc) * pc + a];
        }
        for (int o = m_camera_start[c]; o < m_camera_start[c + 1]; ++o) {
          const int i = m_camera_obs[static_cast<size_t>(o)];
          const int j = m_camera_obs_point[static_cast<size_t>(o)];
          const double* y = m_Y.data() + static_cast<size_t>(i) * pc * k;
          const double* eb = m_e_b.data() + static_cast<size_t>(j) * k;
          for (int a = 0; a < pc; ++a) {
            double s = 0.0;
            for (int t = 0; t < k; ++t) s += y[a * k + t] * eb[t];
            rhs[a] -= s;
          }
          for (int q = m_point_start[j]; q < m_point_start[j + 1]; ++q) {
            const int fcb = m_point_obs_camera[static_cast<size_t>(q)];
            if (fcb < 0) continue;
            const int place_b = m_system.Position(fcb);
            if (place_b > place) continue;
            const int ib = m_point_obs[static_cast<size_t>(q)];
            // W transposed, so that a row of the block is one pass over contiguous columns
            // (the products summed in the same order as term by term).
            const double* w = m_W.data() + static_cast<size_t>(ib) * pc * k;
            double wt[k][kMaxCameraParameters];
            for (int b = 0; b < pc; ++b)
              for (int t = 0; t < k; ++t) wt[t][b] = w[b * k + t];
            for (int a = 0; a < pc; ++a) {
              const int r = place * pc + a;
              double* row = m_system.Row(r) - m_system.RowStart(r) + place_b * pc;
              const int columns = fcb == fc ? a + 1 : pc;
              const double* ya = y + a * k;
              for (int b = 0; b < columns; ++b) {
                double s = ya[0] * wt[0][b];
                for (int t = 1; t < k; ++t) s += ya[t] * wt[t][b];
                row[b] -= s;
              }
            }
          }
        }
      }
    });
  }

  // N x for the reduced system N = U - W V^-1 W^T (U and V^-1 as damped for the step),
  // through the observations: per point V^-1 W^T x, then per camera.
  void MultiplyReduced(const std::vector<double>& x, std::vector<double>& out) {
    const int pc = m_para_per_cam;
    const int held_cameras = m_held > 0 ? 1 : 0;
    ParallelChunks(m_num_points, 64, [&](int begin, int end) {
      for (int j = begin; j < end; ++j) {
        double t[k] = {};
        for (int o = m_point_start[j]; o < m_point_start[j + 1]; ++o) {
          const int fc = m_point_obs_camera[static_cast<size_t>(o)];
          if (fc < 0) continue;
          const double* w =
              m_W.data() + static_cast<size_t>(m_point_obs[static_cast<size_t>(o)]) * pc * k;
          const double* xc = x.data() + static_cast<size_t>(fc) * pc;
          for (int a = 0; a < pc; ++a)
            for (int q = 0; q < k; ++q) t[q] += w[a * k + q] * xc[a];
        }
        const double* vi = m_V.data() + static_cast<size_t>(j) * k * k;
        double* s = m_point_work.data() + static_cast<size_t>(j) * k;
        for (int a = 0; a < k; ++a) {
          double sum = 0.0;
          for (int q = 0; q < k; ++q) sum += vi[a * k + q] * t[q];
          s[a] = sum;
        }
      }
    });
    ParallelChunks(m_num_cameras - held_cameras, 1, [&](int begin, int end) {
      for (int fc = begin; fc < end; ++fc) {
        const double* u = m_U.data() + static_cast<size_t>(fc) * pc * pc;
        const double* xc = x.data() + static_cast<size_t>(fc) * pc;
        double* y = out.data() + static_cast<size_t>(fc) * pc;
        for (int a = 0; a < pc; ++a) {
          double sum = 0.0;
          for (int b = 0; b < pc; ++b) sum += u[a * pc + b] * xc[b];
          y[a] = sum;
        }
        const int c = fc + held_cameras;
        for (int o = m_camera_start[c]; o < m_camera_start[c + 1]; ++o) {
          const int i = m_camera_obs[static_cast<size_t>(o)];
          const double* w = m_W.data() + static_cast<size_t>(i) * pc * k;
          const double* s = m_point_work.data() +
                            static_cast<size_t>(m_camera_obs_point[static_cast<size_t>(o)]) * k;
          for (int a = 0; a < pc; ++a)
            for (int q = 0; q < k; ++q) y[a] -= w[a * k + q] * s[q];
        }
      }
    });
  }

  // delta_a from N delta_a = e_a - Y e_b by conjugate gradients, preconditioned by the
  // Cholesky factors of N's camera blocks. Ends at a residual of kCgTolerance of the
  // right-hand side or after kMaxCgSteps; the step is then tried like any other. False
  // when a camera block is not positive definite.
  bool SolveConjugateGradients() {
    const int pc = m_para_per_cam;
    const int held_cameras = m_held > 0 ? 1 : 0;
    const int free_cameras = m_num_cameras - held_cameras;
    const size_t n = static_cast<size_t>(free_cameras) * pc;
    std::atomic<bool> singular{false};
    ParallelChunks(free_cameras, 1, [&](int begin, int end) {
      for (int fc = begin; fc < end; ++fc) {
        const int c = fc + held_cameras;
        double* rhs = m_rhs.data() + static_cast<size_t>(fc) * pc;
        double* m = m_preconditioner.data() + static_cast<size_t>(fc) * pc * pc;
        std::copy_n(m_U.data() + static_cast<size_t>(fc) * pc * pc, pc * pc, m);
        std::copy_n(m_e_a.data() + static_cast<size_t>(fc) * pc, pc, rhs);
        for (int o = m_camera_start[c]; o < m_camera_start[c + 1]; ++o) {
          const int i = m_camera_obs[static_cast<size_t>(o)];
          const double* y = m_Y.data() + static_cast<size_t>(i) * pc * k;
          const double* w = m_W.data() + static_cast<size_t>(i) * pc * k;
          const double* eb = m_e_b.data() + static_cast<size_t>(PointOf(i)) * k;
          for (int a = 0; a < pc; ++a) {
            for (int q = 0; q < k; ++q) rhs[a] -= y[a * k + q] * eb[q];
            for (int b = 0; b <= a; ++b) {
              double sum = 0.0;
              for (int q = 0; q < k; ++q) sum += y[a * k + q] * w[b * k + q];
              m[a * pc + b] -= sum;
            }
          }
        }
        // In-place Cholesky of the lower triangle.
        for (int a = 0; a < pc; ++a) {
          for (int b = 0; b <= a; ++b) {
            double sum = m[a * pc + b];
            for (int q = 0; q < b; ++q) sum -= m[a * pc + q] * m[b * pc + q];
            if (a == b) {
              if (!(sum > 0.0)) singular.store(true);
              m[a * pc + a] = std::sqrt(std::max(sum, 0.0));
            } else {
              m[a * pc + b] = sum / m[b * pc + b];
            }
          }
        }
      }
    });
    if (singular.load()) return false;
    auto precondition = [&](const std::vector<double>& r, std::vector<double>& z) {
      ParallelChunks(free_cameras, 16, [&](int begin, int end) {
        for (int fc = begin; fc < end; ++fc) {
          const double* m = m_preconditioner.data() + static_cast<size_t>(fc) * pc * pc;
          double* zc = z.data() + static_cast<size_t>(fc) * pc;
          const double* rc = r.data() + static_cast<size_t>(fc) * pc;
          for (int a = 0; a < pc; ++a) {
            double sum = rc[a];
            for (int q = 0; q < a; ++q) sum -= m[a * pc + q] * zc[q];
            zc[a] = sum / m[a * pc + a];
          }
          for (int a = pc - 1; a >= 0; --a) {
            double sum = zc[a];
            for (int q = a + 1; q < pc; ++q) sum -= m[q * pc + a] * zc[q];
            zc[a] = sum / m[a * pc + a];
          }
        }
      });
    };
    auto dot = [n](const std::vector<double>& a, const std::vector<double>& b) {
      double sum = 0.0;
      for (size_t i = 0; i < n; ++i) sum += a[i] * b[i];
      return sum;
    };
    std::vector<double>& x = m_delta_a;
    std::vector<double> r(m_rhs.begin(), m_rhs.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<double> z(n), p(n), q(n);
    std::fill(x.begin(), x.end(), 0.0);
    const double goal = kCgTolerance * kCgTolerance * dot(r, r);
    precondition(r, z);
    p = z;
    double rz = dot(r, z);
    for (int step = 0; step < kMaxCgSteps && dot(r, r) > goal; ++step) {
      MultiplyReduced(p, q);
      const double pq = dot(p, q);
      if (!(pq > 0.0)) break;  // no more descent within rounding
      const double alpha = rz / pq;
      for (size_t i = 0; i < n; ++i) {
        x[i] += alpha * p[i];
        r[i] -= alpha * q[i];
      }
      precondition(r, z);
      const double rz_next = dot(r, z);
      const double beta = rz_next / rz;
      rz = rz_next;
      for (size_t i = 0; i < n; ++i) p[i] = z[i] + beta * p[i];
    }
    return true;
  }

  bool m_structure_ready = false;
  bool m_iterative = false;              // conjugate gradients instead of the factorisation
  std::vector<double> m_preconditioner;  // Cholesky factor of N's block per free camera
  std::vector<double> m_point_work;      // k per point: V^-1 W^T x of a product

  std::vector<double> m_residual;  // 2 per measurement: measured - predicted
  std::vector<double> m_jacobian;  // 2 rows of (camera block + k) per measurement
  std::vector<double> m_U;         // pc x pc per free camera
  std::vector<double> m_V;         // k x k per point; V^-1 after the damping of a step
  std::vector<double> m_W;         // pc x k per observation (free cameras)
  std::vector<double> m_Y;         // W V^-1 per observation (free cameras)
  std::vector<double> m_e_a;       // J_c^T r per free camera
  std::vector<double> m_e_b;       // J_p^T r per point
  std::vector<double> m_rhs;       // e_a - Y e_b
  std::vector<int> m_camera_start, m_camera_obs;  // observations by camera
  std::vector<int> m_point_start, m_point_obs;    // observations by point
  std::vector<int> m_point_obs_camera;            // free camera of m_point_obs[o] (-1: held)
  std::vector<int> m_camera_obs_point;            // point of m_camera_obs[o]
  ReducedCameraSystem m_system;
};

// Rotation-only adjustment (direction points). The hook reports each iteration to
// s_observer and throws the iteration number when a stop is requested.
class OptimizerSparseLM_RKFPoint3D
    : public OptimizerSparseLM<ModelRKFPoint3DSparse, ModelRKFPoint3DDataSparse, 2> {
 public:
  bool IterationCallback(unsigned iteration, const std::vector<double>&, double,
                         unsigned) override {
    return sparse_lm::ReportIteration(s_observer, iteration);
  }
  // The process-wide observer of rotation-only adjustments; null outside the stages that
  // install one (through SparseObserverScope).
  static std::atomic<Callback*> s_observer;
};

// Free-motion adjustment (Cartesian points); its own observer, as above.
class OptimizerSparseLM_RTKFPoint3D
    : public OptimizerSparseLM<ModelRTKFPoint3DSparse, ModelRTKFPoint3DDataSparse, 3> {
 public:
  bool IterationCallback(unsigned iteration, const std::vector<double>&, double,
                         unsigned) override {
    return sparse_lm::ReportIteration(s_observer, iteration);
  }
  static std::atomic<Callback*> s_observer;
};

// Installs an observer for the lifetime of the scope and restores the previous one on
// every way out (return, throw, stop).
class SparseObserverScope {
 public:
  SparseObserverScope(std::atomic<Callback*>& slot, Callback* observer)
      : slot_(slot), previous_(slot.exchange(observer)) {}
  ~SparseObserverScope() { slot_.store(previous_); }
  SparseObserverScope(const SparseObserverScope&) = delete;
  SparseObserverScope& operator=(const SparseObserverScope&) = delete;

 private:
  std::atomic<Callback*>& slot_;
  Callback* previous_;
};
