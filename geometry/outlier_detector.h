#pragma once

// OutlierDetector: takes a set of correspondences, finds the model they agree on and
// marks each correspondence supported or not in its own flag word.
//
// Calling order: SetInitCamera and SetCurrentCamera, one of the SetCorrespondences, Run
// with the support bits to set (FCORR_SUPPORT_*), then GetParameterSet and the two
// counts.

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set.h"

// The links of the given features towards the previous image (direction true) or the
// next one, in feature order; features without such a link (or null) are passed over.
inline std::vector<SharedPtr<FeatureCorrespondence>> CollectFeatureLinks(
    const std::vector<SharedPtr<FeaturePoint2D>>& features, bool direction) {
  std::vector<SharedPtr<FeatureCorrespondence>> links;
  links.reserve(features.size());
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (!feature) continue;
    const SharedPtr<FeatureCorrespondence>& link =
        direction ? feature->GetPredecessor() : feature->GetSuccessor();
    if (link) links.push_back(link);
  }
  return links;
}

class OutlierDetector {
 public:
  // Empties the element list.
  virtual ~OutlierDetector() { m_corr_els.clear(); }
  virtual void SetInitCamera(const PerspectiveCamera& camera) = 0;
  virtual void SetCurrentCamera(const PerspectiveCamera& camera) = 0;
  virtual void SetRefCamera(const PerspectiveCamera& camera) = 0;
  // From each feature its link towards the previous image (direction true) or the next
  // image (false); features without that link are skipped.
  virtual void SetCorrespondences(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                  bool direction) = 0;
  virtual void SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs) = 0;
  // Estimates and marks the correspondences with mask.
  virtual void Run(uint32_t mask) = 0;
  // The model of the last run; null in the base and when none was found.
  virtual SharedPtr<ParameterSet> GetParameterSet() { return nullptr; }

  int m_num_supported = 0;         // supported elements of the last run
  int m_num_unsupported = 0;       // unsupported elements of the last run
  std::vector<CorrEl> m_corr_els;  // the elements of the current estimation
};
