#pragma once

// Radial lens distortion of one camera from the 2D features of its image whose 3D points
// are known: K3, optionally K5, and optionally the camera's pose and intrinsics with them.
//
// A sample is a feature's distorted position in mm on the sensor about the camera's
// principal point (the centre its lens distortion is taken about) and its 3D point. The
// model predicts the residual u - s x (likewise v - s y) between the projection (u, v)
// of the point, in the same frame, and the undistorted measured position s (x, y) with
// s = 1 + K3 r^2 + K5 r^4, r^2 = x^2 + y^2; its measured values are 0, 0. An estimated
// principal point shifts the projection by its change from the camera's; the distortion
// stays about the principal point the camera had on entry.
//
// Parameters: K3; K5 when estimated; with the camera, pan, tilt, roll (radians), centre
// X, Y, Z, focal length, principal point x, y (mm), the order of the camera parameter
// mask (known_fpoint3d_model.h).

#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/known_fpoint3d_model.h"
#include "optimise/optimizer_lm.h"
#include "optimise/plain_estimator.h"

struct ModelRadDistKnownFPoint3DInput {
  double x = 0.0;
  double y = 0.0;
  const FeaturePoint3D* point = nullptr;
  const PerspectiveCamera* camera = nullptr;
  const double* camera_values = nullptr;  // the camera's nine parameters (GetCameraParameters)
  bool estimate_k5 = false;
  bool estimate_camera = false;
};

class ModelRadDistKnownFPoint3DData {
 public:
  // Stores the flags and the camera (SetCamera), then one sample per feature whose 3D
  // point exists and is not removed (protected points take part).
  void SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
               const PerspectiveCamera& camera, bool estimate_k5, bool estimate_camera);
  // Copies the camera (distortion included) and sets the start vector from it: K3, [K5],
  // [pan, tilt, roll, centre, focal length, principal point in mm].
  void SetCamera(const PerspectiveCamera& camera);

  unsigned GetNumberOfParameters() const { return static_cast<unsigned>(m_start_vector.size()); }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_start_vector; }
  void GetModelInput(unsigned i, ModelRadDistKnownFPoint3DInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start_vector = {0, 0, 0, 0, 0, 0, 0, 0, 10.0, 0, 0};
  PerspectiveCamera m_camera;
  double m_camera_values[9] = {};  // m_camera's parameters, in parameter order
  std::vector<FPoint3DSample> m_samples;
  bool m_estimate_k5 = false;
  bool m_estimate_camera = false;
};

class ModelRadDistKnownFPoint3D : public ModelWithGradient<ModelRadDistKnownFPoint3DInput, 2>,
                                  public Model<ModelRadDistKnownFPoint3DInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRadDistKnownFPoint3D"; }
  // Without K5 among the parameters the camera's own K5 takes part. False for a
  // parameter vector of the wrong length (logged), a missing point, an unknown coordinate
  // system (logged) or a point on the focal plane.
  bool ComputeWithGradient(const ModelRadDistKnownFPoint3DInput& input,
                           const std::vector<double>& parameters, ModelOutput out[2],
                           int mode) const;
};

class OptimizerLM_RadDistKnownFPoint3D
    : public OptimizerLM<ModelRadDistKnownFPoint3D, ModelRadDistKnownFPoint3DData> {};

class CameraEstimatorRadDistKnownFPoint3D : public PlainEstimator {
 public:
  // Fits K3 (and K5 with estimate_k5; else the camera keeps its K5) and, with
  // estimate_camera, the pose, focal length and principal point; the camera keeps its
  // distortion function and per-pixel setting. m_error accumulates chi2 per sample
  // (mm^2). False (level 2, camera unchanged) for a null camera, no feature with a 3D
  // point, or a fit that did not converge; the fit's const char* failures pass through.
  // Coefficients given per pixel are fitted in mm all the same, after a warning.
  bool Optimize(PerspectiveCamera* camera, const std::vector<SharedPtr<FeaturePoint2D>>& features,
                bool estimate_k5, bool estimate_camera);
};
