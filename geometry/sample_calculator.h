#pragma once

// SampleCalculator: the minimal solver plugged into the random sampler. It says how many
// elements a sample needs, builds an element from a correspondence in its own units, and
// turns one sample into zero or more hypotheses.
//
// Ownership: the calculator owns its hypotheses by value; the candidate list points into
// the calculator and is valid until the next CalcParameter. Keep a Clone to hold one
// longer.

#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set.h"

class SampleCalculator {
 public:
  virtual ~SampleCalculator() = default;
  // Elements one sample needs.
  virtual int GetSampleSize() const = 0;
  // Chi-square value that turns a variance into an inlier threshold: 9.21 for two
  // degrees of freedom, 6.63 for one.
  virtual double GetThresholdFactor() const = 0;
  // Empties the candidate list, then appends the hypotheses of the sample (elements in
  // increasing index order). A sample of the wrong size gives no hypothesis.
  virtual void CalcParameter(const std::vector<CorrEl*>& sample) = 0;
  // The element of a correspondence in this calculator's units; false to skip it.
  virtual bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) = 0;
  virtual void Print() const = 0;
  // Called after the camera copies changed; nothing in the base.
  virtual void InitCameraChanged() {}
  virtual void CurrentCameraChanged() {}

  // Full copies (distortion included), then the matching hook.
  void SetInitCamera(const PerspectiveCamera& camera);
  void SetCurrentCamera(const PerspectiveCamera& camera);
  const PerspectiveCamera& GetInitCamera() const { return m_init_camera; }
  const PerspectiveCamera& GetCurrentCamera() const { return m_current_camera; }

  // The hypotheses of the last CalcParameter.
  const std::vector<ParameterSet*>& GetParameterSets() const { return m_parameter_sets; }

 protected:
  std::vector<ParameterSet*> m_parameter_sets;
  PerspectiveCamera m_init_camera;
  PerspectiveCamera m_current_camera;
};

// The element the two-view solvers and guided matchers work on: both positions mapped
// with camera alone, in mm about its principal point with lens distortion removed (what a
// CorrElMapper of that camera gives with its default settings); out.corr := corr. False,
// out unchanged, when corr or one of its features is missing.
bool MapTwoViewCorrEl(const PerspectiveCamera& camera, const SharedPtr<FeatureCorrespondence>& corr,
                      CorrEl& out);
// The same for two bare pixel positions; out.corr stays.
void MapTwoViewPositions(const PerspectiveCamera& camera, double x0, double y0, double x1,
                         double y1, CorrEl& out);

// A row-major 3x3 matrix as three lines on the standard output, each value preceded by a
// blank.
void PrintMatrix3x3(const double m[9]);
