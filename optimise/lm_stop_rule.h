// LMStopRule: the convergence bookkeeping the Levenberg-Marquardt optimizers share.
// After every iteration the optimizer hands over the iteration's chi2; the rule tracks
// the best chi2 so far, the run of small relative improvements and the run of
// iterations without improvement, and says when either run is long enough.
#pragma once

// Relative chi2 of an exact fit: at most this times the sum of the squared measurements.
// A fit to noise-free data ends with residuals at the rounding level of the measurements
// (chi2 ratios of about 1e-31 for resections and bundle adjustments); there the relative
// gains of the iteration are rounding noise, so they neither count as small steps nor stop
// the damping from rising, and the run would fail although the fit is perfect. 1e-22 is a
// relative residual of 1e-11: about 1e5 times double rounding, and still ten orders of
// magnitude in chi2 below real measurement noise (0.001 px in a 1000 px image gives 1e-12).
inline constexpr double kExactFitChi2Ratio = 1e-22;

// True when chisq is at the rounding level of measurements whose squares sum to
// sum_squared_measurements.
inline bool IsExactFit(double chisq, double sum_squared_measurements) {
  return chisq <= kExactFitChi2Ratio * sum_squared_measurements;
}

class LMStopRule {
 public:
  enum Verdict {
    kGoOn,           // no rule fired
    kSmallSteps,     // max_small_steps improvements of at most tolerance in a row
    kBadIterations,  // max_bad iterations in a row with chi2 exactly unchanged
  };

  // start_best: the chi2 the first iteration is compared with (a huge value, so the
  // first iteration never counts as small or bad).
  LMStopRule(double start_best, double tolerance, int max_small_steps, int max_bad)
      : best_(start_best),
        tolerance_(tolerance),
        max_small_steps_(max_small_steps),
        max_bad_(max_bad) {}

  // Records one iteration. A decrease resets the bad count; the relative gain
  // d = 1 - chi2/best then counts as bad (d = 0 exactly, as after a rejected step),
  // small (0 < d <= tolerance) or large (resets the small count); d < 0 changes
  // neither count.
  Verdict Update(double chisq) {
    small_step_counted_ = false;
    if (chisq < best_) bad_iterations_ = 0;
    const double d = 1.0 - chisq / best_;
    best_ = chisq;
    if (d == 0.0) {
      ++bad_iterations_;
    } else if (d > 0.0 && d <= tolerance_) {
      ++small_steps_;
      small_step_counted_ = true;
    } else if (d > tolerance_) {
      small_steps_ = 0;
    }
    if (small_steps_ >= max_small_steps_) return kSmallSteps;
    if (bad_iterations_ >= max_bad_) return kBadIterations;
    return kGoOn;
  }

  int SmallSteps() const { return small_steps_; }
  int BadIterations() const { return bad_iterations_; }
  // True when the last Update counted a small step.
  bool SmallStepCounted() const { return small_step_counted_; }

 private:
  double best_;
  double tolerance_;
  int max_small_steps_;
  int max_bad_;
  int small_steps_ = 0;
  int bad_iterations_ = 0;
  bool small_step_counted_ = false;
};
