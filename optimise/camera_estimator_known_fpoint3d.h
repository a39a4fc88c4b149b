#pragma once

// Resection: one camera from the 2D features of its image whose 3D points are known.
// Features whose point is missing, removed or protected are left out. Both estimators
// run their fit with at most 100 iterations and 8 bad ones.
//
// m_error (PlainEstimator) accumulates chi2 per feature of every successful call: mm^2
// on the sensor for CameraEstimatorKnownFPoint3D, pixels^2 for
// CameraEstimatorPMatKnownFPoint3D. A failed call leaves the camera and m_error as they
// were; the fit's const char* failures (see OptimizerLM) pass through to the caller.

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/known_fpoint3d_model.h"
#include "optimise/plain_estimator.h"

// Writes a camera's pose and intrinsics: value holds pan, tilt, roll (radians, as
// GetCameraAngles gives them), centre X, Y, Z (mm), focal length (mm) and principal point
// x, y (pixels from the image centre). Image size, pixel size and the lens distortion
// (coefficients, per-pixel setting, function) stay.
void SetCameraFromParameters(PerspectiveCamera& camera, const double value[9]);

class CameraEstimatorKnownFPoint3D : public PlainEstimator {
 public:
  // Refines the parameters that *mask selects (null: none; bits in
  // known_fpoint3d_model.h) in place. The other parameters, the image size, pixel size
  // and lens distortion stay; an estimated principal point is stored back in pixels.
  // False (level-2 line) for a null camera, no usable feature, or a fit that did not
  // converge.
  bool Optimize(PerspectiveCamera* camera, const std::vector<SharedPtr<FeaturePoint2D>>& features,
                const uint32_t* mask);
};

class CameraEstimatorPMatKnownFPoint3D : public PlainEstimator {
 public:
  // Fits a free projection matrix, starting from the camera's own, and replaces the
  // camera's centre and axes by it; image size, pixel size and lens distortion stay.
  // False (level-2 line) for a null camera, no usable feature, or a fit that did not
  // converge.
  bool Optimize(PerspectiveCamera* camera, const std::vector<SharedPtr<FeaturePoint2D>>& features);
};
