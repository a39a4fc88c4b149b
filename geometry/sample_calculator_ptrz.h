#pragma once

// SampleCalculatorPTRZ: the minimal solver of a camera that turns about its centre and
// zooms. From two correspondences it finds up to m_max_solutions pan/tilt/roll/zoom
// hypotheses by a best-first search over linearised update steps: each step turns the
// predicted rays by a small rotation and scales the focal length by a root of a
// quadratic, so that both samples' predictions move onto their targets.
//
// Elements are pan/tilt/roll elements of the current camera (mm about the principal
// point, undistorted); all coordinates are those of the current camera, the init camera
// is not used.

#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set_ptrz.h"
#include "geometry/sample_calculator.h"

class SampleCalculatorPTRZ : public SampleCalculator {
 public:
  struct Parameter {
    Parameter(int max_steps, double accept_residual, double max_zoom_step, double max_angle_step,
              int max_bad_steps, int max_solutions, int single_root_step)
        : m_max_steps(max_steps),
          m_accept_residual(accept_residual),
          m_max_zoom_step(max_zoom_step),
          m_max_angle_step(max_angle_step),
          m_max_bad_steps(max_bad_steps),
          m_max_solutions(max_solutions),
          m_single_root_step(single_root_step) {}

    int m_max_steps;           // a chain is expanded while its step count is below this
    double m_accept_residual;  // pixels: a hypothesis below this is a solution
    double m_max_zoom_step;    // a step's zoom factor lies in [1 / this, this]
    double m_max_angle_step;   // largest absolute angle of one step, radians
    int m_max_bad_steps;       // steps in a row without improvement that end a chain
    int m_max_solutions;       // the search ends with this many solutions
    int m_single_root_step;    // from this step count on only the zoom root nearest 1
  };

  // One open hypothesis of the search.
  struct Node {
    double predictions[4];  // the two samples' first points under the hypothesis, mm
    ParameterSetPTRZ hypothesis;
    double residual;           // pixels
    double previous_residual;  // the residual of the node it came from (1e38 at the start)
    int steps;                 // 1 for the start node
    int bad_steps;             // steps in a row without improvement
  };

  SampleCalculatorPTRZ();

  int GetSampleSize() const override { return 2; }
  double GetThresholdFactor() const override { return 9.21; }
  // Exactly two elements; otherwise a line on the standard error stream and no hypothesis.
  void CalcParameter(const std::vector<CorrEl*>& sample) override;
  // The pan/tilt/roll element with the current camera at both ends.
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override;
  // The solutions, angles in degrees, on the standard output.
  void Print() const override;

  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }
  const Parameter& GetParameter() const { return m_parameter; }
  const std::vector<ParameterSetPTRZ>& GetSolutions() const { return m_solutions; }

  // The quadratic in the zoom factor L of one expansion: F = zoom * focal length,
  // p0, p1 the predictions and q0, q1 the targets (x, y pairs, mm). Its roots are the L
  // for which the four linearised equations have a common small rotation; coeffs[0] is
  // the leading coefficient, F^2 |p1 - p0|^2.
  static void ZoomQuadratic(double F, const double* p0, const double* p1, const double* q0,
                            const double* q1, double coeffs[3]);

 private:
  void SearchSolutions(const CorrEl& e0, const CorrEl& e1);
  double Residual(const double* predictions, const CorrEl& e0, const CorrEl& e1) const;

  std::vector<ParameterSetPTRZ> m_solutions;
  Parameter m_parameter;
};
