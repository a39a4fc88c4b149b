#pragma once

// Guided matching: re-estimates a two-view model (homography or fundamental matrix) from
// every stored correspondence and then tells, for a candidate pair of 2D features,
// whether the pair lies inside the model's search region: its residual under the model
// (ParameterSet::GetSquaredError, pixels^2) is below the square of a radius in pixels.
//
// Calling order: set the cameras, SetCorrespondences, ReEstimate, then IntoSearchRegion
// per candidate pair. Every point is mapped with camera 2 alone (mm about its principal
// point, lens distortion removed) and residuals take their pixel scale from it. The
// hypothesis changes only on a successful ReEstimate.

#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set.h"

class GuidedMatching {
 public:
  virtual ~GuidedMatching() = default;
  // The base versions log that they do nothing (level 2); ReEstimate and
  // IntoSearchRegion then answer false.
  virtual void SetCorrespondences(const t_ListFCorr& correspondences);
  virtual void SetCorrespondences(FeatureCorrespondenceIterator iterator);
  virtual bool ReEstimate();
  virtual bool IntoSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                                const SharedPtr<FeaturePoint2D>& second, double radius);

  SharedPtr<ParameterSet> m_parameter_set;  // the current hypothesis; null until estimated
  PerspectiveCamera m_camera1, m_camera2, m_camera3;
  std::vector<CorrEl> m_vecCorr;  // the elements of the last SetCorrespondences

 protected:
  // Replaces m_vecCorr with the mapped correspondences (those with both features).
  void MapCorrespondences(const t_ListFCorr& correspondences);
  // Residual of the pair under the current hypothesis < radius^2; false with message
  // (level 2) when there is no hypothesis or a feature is missing.
  bool InSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                      const SharedPtr<FeaturePoint2D>& second, double radius,
                      const char* message) const;
};

// The least-squares homography of at least four elements.
class GuidedMatchingHMatrix : public GuidedMatching {
 public:
  void SetCorrespondences(const t_ListFCorr& correspondences) override {
    MapCorrespondences(correspondences);
  }
  void SetCorrespondences(FeatureCorrespondenceIterator iterator) override;
  bool ReEstimate() override { return EstimateHMatrix(); }
  bool IntoSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                        const SharedPtr<FeaturePoint2D>& second, double radius) override;

  // Normal equations of the four-point system over all elements (h33 = 1). False, the
  // hypothesis kept, for fewer than four elements or singular normal equations.
  bool EstimateHMatrix();
};

// The eight-point fundamental matrix of at least eight elements. Takes its elements from
// an iterator only; the list form is the base one.
class GuidedMatchingFMatrix : public GuidedMatching {
 public:
  using GuidedMatching::SetCorrespondences;
  void SetCorrespondences(FeatureCorrespondenceIterator iterator) override;
  bool ReEstimate() override { return ReEstimateFMatrix(); }
  bool IntoSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                        const SharedPtr<FeaturePoint2D>& second, double radius) override;

  // False, the hypothesis kept, for fewer than eight elements.
  bool ReEstimateFMatrix();
};
