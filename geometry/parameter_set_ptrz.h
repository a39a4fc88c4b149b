#pragma once

// ParameterSetPTRZ: one pan/tilt/roll/zoom hypothesis between two images of a camera that
// turns about its centre. A first-image point p = (x, y, f) (mm about the principal
// point, f the reference camera's focal length) appears in the second image at
// z f (q.x, q.y) / q.z with q = R^T p. R takes second-camera directions into the first
// camera's frame: R = Ry(pan) Rx(tilt) Rz(roll) (two_view_transfer.h).

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set.h"

class ParameterSetPTRZ : public ParameterSet {
 public:
  // Identity rotation, zoom 1; the reference camera is moved to its own canonical pose
  // (focal length, principal point, pixel size and distortion kept).
  explicit ParameterSetPTRZ(const PerspectiveCamera& reference);
  ParameterSetPTRZ(const ParameterSetPTRZ&) = default;
  ParameterSetPTRZ& operator=(const ParameterSetPTRZ&) = default;

  // The second-image position of first-image point (x, y), mm. False when q.z is
  // negligible against z f q.x or z f q.y (the point maps to infinity).
  bool MapPoint(double x, double y, double& u, double& v) const;
  // ((x1 - u) / sx)^2 + ((y1 - v) / sy)^2 in pixels^2 of the reference camera (not
  // halved); 1e38 when the point does not map.
  double GetSquaredError(const CorrEl& element) const override;
  // The same displacement weighted by the later feature's inverse covariance; 1e38 when
  // the point does not map or the element has no later feature.
  double GetWeightedSquaredError(const CorrEl& element) const override;
  SharedPtr<ParameterSet> Clone() const override;

  // One update step (radians): R := Rot(V0, pan) Rot(H0, tilt) Rot(A, roll) R with the
  // axes of the hypothesis camera before the step, R made exactly orthonormal again;
  // zoom *= zoom_factor.
  void SetPTRZ(double pan, double tilt, double roll, double zoom_factor);
  // The hypothesis as pan, tilt, roll (Euler code 17 of R) and zoom.
  void GetPTRZ(double* pan, double* tilt, double* roll, double* zoom) const;
  // Every rotation entry within angle_tolerance and |1 - min(z, z') / max(z, z')| within
  // zoom_tolerance.
  bool IsSimilar(const ParameterSetPTRZ& other, double angle_tolerance,
                 double zoom_tolerance) const;

  Matrix4x4 m_rotation;
  double m_zoom = 1.0;
  PerspectiveCamera m_ref_camera;
};
