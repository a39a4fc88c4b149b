#pragma once

// The direction of the camera translation from two elements when rotation and
// calibration are known: a minimal solver for the random sampler and its hypothesis.
//
// Elements are in mm on the sensor about the principal point of the init camera, lens
// distortion removed, with the rotation already taken out. A hypothesis t = (tx, ty, tz)
// predicts the second position of a point seen at (x0, y0) and scale m as
// f (m x0 - tx, m y0 - ty) / (m f + tz): every element moves along the half-line from
// (x0, y0) towards the epipole. Meant for motions where all points move the same way
// in x and in y; elements that contradict each other give degenerate hypotheses.

#include <vector>

#include "foundation/tracks/bit_mask.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

class ParameterSetTKnownRK : public ParameterSet, public BitMask {
 public:
  // Squared pixel distance of (x1, y1) from the point of the epipolar half-line of
  // (x0, y0) nearest to it; (x0, y0) itself stands for that point when t is 0 or the
  // scale comes out negative or undefined (the element did not move). 1e6 when
  // degenerate.
  double GetSquaredError(const CorrEl& element) const override;
  // Always 0: the model has no weighted residual.
  double GetWeightedSquaredError(const CorrEl&) const override { return 0.0; }
  SharedPtr<ParameterSet> Clone() const override;

  // f (mm), sx, sy from camera; writes the focal length to the standard output.
  void SetRefCamera(const PerspectiveCamera& camera);

  double tx = 0.0, ty = 0.0, tz = 0.0;  // direction of the translation
  double f = 1.0;                       // focal length of the reference camera in mm
  double sx = 1.0, sy = 1.0;            // its pixel size in mm
  double k = 1.0;                       // scale of the hypothesis (printed only)
  bool degenerate = false;              // the sample elements contradict each other
};

// Sample size 2, threshold factor 9.21. Hypotheses: the translation towards the epipole
// of the two flow lines and its twin with tz and k negated, then a third one when the
// sample moved little: (0, 0, 0) when no coordinate grew by 0.5 mm or more, else
// (+-1, 0, 0) when y did not grow by that much, else (0, +-1, 0) when x did not.
class SampleCalculatorTKnownRK : public SampleCalculator, public BitMask {
 public:
  SampleCalculatorTKnownRK() : BitMask(7) {}
  int GetSampleSize() const override { return 2; }
  double GetThresholdFactor() const override { return 9.21; }
  void CalcParameter(const std::vector<CorrEl*>& sample) override;
  // Both positions through the init camera.
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override {
    return MapTwoViewCorrEl(m_init_camera, corr, out);
  }
  void Print() const override;
  void InitCameraChanged() override { SetRefCamera(m_init_camera); }
  void CurrentCameraChanged() override { SetRefCamera(m_current_camera); }

  const ParameterSetTKnownRK& GetSet(int i) const { return m_sets[i]; }

 private:
  void SetRefCamera(const PerspectiveCamera& camera) {
    for (ParameterSetTKnownRK& set : m_sets) set.SetRefCamera(camera);
  }

  ParameterSetTKnownRK m_sets[3];
};
