#pragma once

// Least-squares models of a camera that turns about its centre and zooms, between two
// images: the second-image position of every first-image point under pan, tilt, roll
// and zoom (ModelPTRZ, at a known focal length) or with the focal length as fifth
// parameter (ModelPTRZF). Rotation convention of two_view_transfer.h; elements are
// pan/tilt/roll elements (CorrElFromCorrespondenceIcsCp): mm about each principal point,
// undistorted. The measurement of an element is its (x1, y1).

#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"
#include "geometry/corr_el.h"
#include "optimise/optimizer_lm.h"

// The pan/tilt/roll elements of the correspondences between a (earlier end) and b, in
// list order; correspondences missing an end or refused by the builder are left out.
void MakePanTiltRollElements(const t_ListFCorr& list, const PerspectiveCamera& a,
                             const PerspectiveCamera& b, std::vector<CorrEl>& elements);

struct ModelPTRZInput {
  double x0 = 0.0;
  double y0 = 0.0;
  double f = 0.0;  // focal length of the first image, mm
};

struct ModelPTRZFInput {
  double x0 = 0.0;
  double y0 = 0.0;
};

// Start vector (pan, tilt, roll, zoom) = (0, 0, 0, 1); the elements; the focal length f.
class ModelPTRZData {
 public:
  ModelPTRZData();
  ~ModelPTRZData();

  // f := a's focal length; the elements of the correspondences between a (earlier end)
  // and b (later end), in list order, skipping those the element builder refuses. A null
  // camera leaves no elements (a level-2 line).
  void SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                          const PerspectiveCamera* b);
  // The same for the iterator's correspondences, in order.
  void SetCorrespondences(FeatureCorrespondenceIterator iterator, const PerspectiveCamera* a,
                          const PerspectiveCamera* b);
  // f := camera's focal length.
  void SetFocalLength(const PerspectiveCamera& camera);

  unsigned GetNumberOfParameters() const { return static_cast<unsigned>(m_start.size()); }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_elements.size()); }
  const std::vector<double>& GetStartVector() const { return m_start; }
  void GetModelInput(unsigned i, ModelPTRZInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start;
  std::vector<CorrEl> m_elements;
  double m_f = 0.0;
};

// Start vector (pan, tilt, roll, zoom, f) = (0, 0, 0, 1, 10); the elements.
class ModelPTRZFData {
 public:
  ModelPTRZFData();
  ~ModelPTRZFData();

  // As ModelPTRZData's list form, without the focal length.
  void SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                          const PerspectiveCamera* b);
  void SetInitialParameters(double pan, double tilt, double roll, double zoom, double f);

  unsigned GetNumberOfParameters() const { return static_cast<unsigned>(m_start.size()); }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_elements.size()); }
  const std::vector<double>& GetStartVector() const { return m_start; }
  void GetModelInput(unsigned i, ModelPTRZFInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start;
  std::vector<CorrEl> m_elements;
};

// u = z f (U.r) / (W.r), v = z f (V.r) / (W.r) with r = (x0, y0, f); analytic gradients
// by pan, tilt, roll, zoom. False for a parameter vector not four long or a ray at right
// angles to the second camera's viewing axis (W.r = 0).
class ModelPTRZ : public ModelWithGradient<ModelPTRZInput, 2>, public Model<ModelPTRZInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelPTRZ"; }
  bool ComputeWithGradient(const ModelPTRZInput& input, const std::vector<double>& p,
                           ModelOutput out[2], int mode);
};

// ModelPTRZ with f the fifth parameter. A parameter vector not five long is logged at
// level 2 and refused (false), as is W.r = 0.
class ModelPTRZF : public ModelWithGradient<ModelPTRZFInput, 2>, public Model<ModelPTRZFInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelPTRZF"; }
  bool ComputeWithGradient(const ModelPTRZFInput& input, const std::vector<double>& p,
                           ModelOutput out[2], int mode);
};

class OptimizerLM_PTRZ : public OptimizerLM<ModelPTRZ, ModelPTRZData> {};
class OptimizerLM_PTRZF : public OptimizerLM<ModelPTRZF, ModelPTRZFData> {};
