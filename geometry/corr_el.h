#pragma once

// Estimation elements: a correspondence between two frames with both image positions
// already in the units an estimator works in, and the mappers that build them.
//
// Positions are pixels with the origin on the top-left pixel centre on input. The
// mappers hold their own camera copies (distortion included), so the cameras they were
// made from may change or go away afterwards.

#include <cstdint>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"

// One element of an estimation. x0, y0 lie in the earlier image, x1, y1 in the later one
// (0, 0 for an element made from a single feature), in the units of the mapper that made
// it. corr is the correspondence the element stands for (null for a single feature); the
// features and their 3D points are reached through it.
struct CorrEl {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  SharedPtr<FeatureCorrespondence> corr;
};

// Unit modes of CorrElMapper and MapImagePoint.
enum CorrElUnitMode : int {
  kCorrElMillimetres = 0,  // on the sensor: times sx, sy
  kCorrElPixels = 1,       // unchanged (any unknown mode behaves so)
  kCorrElNormalised = 2,   // u sx / f, v sy / f with f the focal length in mm
  kCorrElFocalWidth = 3,   // u / (f width), v / (f width)
};

// Maps pixel (x, y) of camera into (u, v), in this order:
//  1. centre: x - (width - 1)/2, y - (height - 1)/2 (the camera's virtual size getters);
//  2. when undistort is set and the camera's K3 or K5 is non-zero (only these two
//     decide): multiply by the camera's distortion function (distorted to ideal) at
//     r2 = (u sx)^2 + (v sy)^2, or u^2 + v^2 when the camera measures its distortion in
//     pixels; with about_principal_point the point is taken about the principal point
//     (A.H, A.V) for this step;
//  3. when shift_principal_point is set: subtract the principal point;
//  4. units by unit_mode (CorrElUnitMode).
void MapImagePoint(double x, double y, const PerspectiveCamera& camera, int unit_mode,
                   bool shift_principal_point, bool undistort, bool about_principal_point,
                   double& u, double& v);

// Builds elements from correspondences with two camera copies: camera 0 maps the earlier
// feature, camera 1 the later one. Defaults: millimetres, principal-point shift on,
// distortion removal on, distortion about the image centre. Change the public settings
// after construction.
class CorrElMapper {
 public:
  // Both copies equal camera.
  explicit CorrElMapper(const PerspectiveCamera& camera);
  CorrElMapper(const PerspectiveCamera& camera0, const PerspectiveCamera& camera1);
  CorrElMapper(const CorrElMapper&) = delete;
  CorrElMapper& operator=(const CorrElMapper&) = delete;

  // The camera MapPoint uses: 0 or 1 (anything else selects camera 0).
  void SetActiveCamera(int index) { active_ = index == 1 ? &camera1_ : &camera0_; }
  const PerspectiveCamera& GetCamera(int index) const { return index == 1 ? camera1_ : camera0_; }

  // MapImagePoint with the active camera and this mapper's settings.
  void MapPoint(double x, double y, double& u, double& v) const;
  // out.corr := corr; the earlier feature through camera 0 into x0, y0, the later one
  // through camera 1 into x1, y1. Always true; corr must have both features.
  bool MapCorrespondence(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) const;
  // The feature through camera 0 into x0, y0; x1 = y1 = 0; out.corr stays. Always true.
  bool MapFeaturePoint2D(const FeaturePoint2D& feature, CorrEl& out) const;

  int m_unit_mode = kCorrElMillimetres;
  bool m_shift_principal_point = true;
  bool m_remove_distortion = true;
  bool m_distortion_about_principal_point = false;

 private:
  void Map(const PerspectiveCamera& camera, double x, double y, double& u, double& v) const;

  PerspectiveCamera camera0_;
  PerspectiveCamera camera1_;
  const PerspectiveCamera* active_;
};

// Builds pan/tilt/roll elements: both positions in mm about each camera's principal
// point, lens distortion removed. When the earlier feature links a 3D point, the first
// position is that point projected into image 0 without distortion (it is already
// ideal); else the earlier feature's own position, undistorted. Camera 0's per-pixel
// distortion setting decides the radius unit for both points.
class CorrElFromCorrespondenceIcsCp {
 public:
  // One camera for both ends, or camera 0 and camera 1.
  explicit CorrElFromCorrespondenceIcsCp(const PerspectiveCamera& camera);
  CorrElFromCorrespondenceIcsCp(const PerspectiveCamera& camera0, const PerspectiveCamera& camera1);
  CorrElFromCorrespondenceIcsCp(const CorrElFromCorrespondenceIcsCp&) = delete;
  CorrElFromCorrespondenceIcsCp& operator=(const CorrElFromCorrespondenceIcsCp&) = delete;

  // False when the 3D point does not project (behind the camera or outside image 0), or
  // has an unknown coordinate system (logged at level 2: the value comes from the
  // project file); the element is then to be skipped. corr must have both features.
  // Not for concurrent use (the mapper switches its distortion off per call).
  bool operator()(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out);

 private:
  FeatureMapper mapper_;
  PerspectiveCamera camera0_;
  PerspectiveCamera camera1_;
};
