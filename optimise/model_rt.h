#pragma once

// Least-squares model of a camera that turns (pan, tilt, roll) and moves in a direction
// (a, b, 1) / |(a, b, 1)| between two images at a common focal length: the second-image
// position of each correspondence's point, placed at the closest approach of the two
// viewing rays (TwoViewReprojectU/V). Units as in model_ptrz.h.

#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "geometry/corr_el.h"
#include "optimise/optimizer_lm.h"

struct ModelRTInput {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  SharedPtr<FeatureCorrespondence> corr;
  double f = 0.0;             // focal length, mm
  int* depth_sign = nullptr;  // where the model records the sample's depth sign
};

// Start vector (pan, tilt, roll, a, b) = 0; a camera; the elements; the focal length.
class ModelRTData {
 public:
  ModelRTData();
  ~ModelRTData();

  // f := a's focal length; the elements as ModelPTRZData builds them. A null camera
  // leaves no elements (a level-2 line).
  void SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                          const PerspectiveCamera* b);
  void SetCorrespondences(FeatureCorrespondenceIterator iterator, const PerspectiveCamera* a,
                          const PerspectiveCamera* b);

  unsigned GetNumberOfParameters() const { return static_cast<unsigned>(m_start.size()); }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_elements.size()); }
  const std::vector<double>& GetStartVector() const { return m_start; }
  void GetModelInput(unsigned i, ModelRTInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start;
  PerspectiveCamera m_camera;
  std::vector<CorrEl> m_elements;
  double m_f = 10.0;
  // Per element: -1 when the last evaluation put its point behind the first camera,
  // else +1 (0 before any evaluation). Read by nothing in the solver; kept for
  // diagnostics.
  mutable std::vector<int> m_depth_signs;
};

// Central-difference gradients: steps 1e-6 for the angles, 10 for a and b.
class ModelRT : public ModelWithGradient<ModelRTInput, 2>, public Model<ModelRTInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRT"; }
  bool ComputeWithGradient(const ModelRTInput& input, const std::vector<double>& p,
                           ModelOutput out[2], int mode);
  // (a, b, 1) / sqrt(a^2 + b^2 + 1); the zero vector (and a level-2 line) for a = b = 0.
  static vm::Vector3 GetTransFromAB(double a, double b);
};

class OptimizerLM_RT : public OptimizerLM<ModelRT, ModelRTData> {};
