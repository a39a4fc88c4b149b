#pragma once

// OutlierDetectorKnownCam: the outlier detector for two images whose cameras are already
// known. Each correspondence's first point is placed where the two viewing rays come
// closest (or at infinity when that lies behind the previous camera), projected into the
// current camera, and compared with the second point: within m_threshold pixels the
// correspondence is supported, otherwise it is an outlier.
//
// Cameras (full copies, distortion included; the setter names are the interface's):
//   SetInitCamera      the init camera and the previous camera (the earlier image)
//   SetCurrentCamera   the match camera: both points of every element are mapped with it
//                      (mm about the principal point, distortion removed)
//   SetRefCamera       the current camera (the image whose correspondences are tested)
// After every run the previous camera becomes the current camera, so consecutive runs
// compare consecutive images.

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "geometry/outlier_detector.h"

class OutlierDetectorKnownCam : public OutlierDetector {
 public:
  void SetInitCamera(const PerspectiveCamera& camera) override;
  void SetCurrentCamera(const PerspectiveCamera& camera) override;
  void SetRefCamera(const PerspectiveCamera& camera) override;
  // Elements of each feature's link to the previous image (direction true) or the next
  // one (false); features without that link, or links missing an end, are skipped.
  void SetCorrespondences(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                          bool direction) override;
  // The same for a list of correspondences.
  void SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs) override;
  // Marks every element: supported ones get the mask bits (mask 0: their flag word is
  // cleared), outliers lose them (mask 0: their word stays). m_num_supported and
  // m_num_unsupported count what was marked. An empty list marks nothing and sets both
  // counts to 0. Distances in the current camera's pixels.
  void Run(uint32_t mask) override;

  double m_threshold = 0.8;  // pixels; supported when strictly below

 private:
  PerspectiveCamera m_init_camera;
  PerspectiveCamera m_match_camera;
  PerspectiveCamera m_current_camera;
  PerspectiveCamera m_previous_camera;
};
