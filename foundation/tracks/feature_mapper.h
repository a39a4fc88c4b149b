#pragma once

// FeatureMapper: carries 3D points into one image and back, with its own copy of the
// image's camera.
//
// A spherical point (FeaturePoint3D::eSpherical) holds azimuth x and elevation y in
// radians and a radius z in mm; its direction is d = normalise(sin x, -tan y, cos x) and
// its position C + z d around the camera centre C. (tan y grows without bound near
// +-pi/2: points straight above or below the camera do not map.)
//
// With ignore_distortion an operation works as if the lens had no distortion: it clears
// the camera's coefficients for the call and then restores the camera's distortion
// exactly (all coefficients, RdDim and the model). A mapper therefore must not be used
// from two threads at once. Failures give false (with the messages below) and leave the
// 2D feature untouched.

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/tracks/feature_point.h"

class FeatureMapper {
 public:
  // A full copy of camera (pose, size through its virtual getters, distortion with its
  // RdDim).
  explicit FeatureMapper(const PerspectiveCamera& camera);

  // Projects a Cartesian point (mm) into the image; it must fall inside the image in
  // front of the camera. On success the feature gets the pixel position and is linked
  // to the point (SetFPoint3D). A camera of width or height 0 logs "camera parameter not
  // set!" (level 2). An empty point gives false.
  bool MapCartesian(const SharedPtr<FeaturePoint3D>& point, FeaturePoint2D& feature,
                    bool ignore_distortion);
  // The same for a spherical point, projected at unit distance along its direction (the
  // radius is not used). With ignore_distortion the inside check is skipped. A failure
  // logs the projection at level 5.
  bool MapSphere(const SharedPtr<FeaturePoint3D>& point, FeaturePoint2D& feature,
                 bool ignore_distortion);
  // Makes point the spherical point seen at the feature's position: azimuth
  // atan2(r.x, r.z), elevation asin(-r.y / |r|) of the viewing ray r, radius 5 times the
  // focal length in mm. The point is assigned a new point: flags, Id, name, covariance
  // and axes are reset, its UID id stays.
  void BackProjectToSphere(const FeaturePoint2D& feature, FeaturePoint3D& point,
                           bool ignore_distortion);
  // Makes destination the Cartesian point C + z d of a spherical source (assigned a new
  // point like above). A Cartesian source changes nothing; a null destination logs
  // (level 2).
  void ToCartesian(const FeaturePoint3D& source, FeaturePoint3D* destination);

  const PerspectiveCamera& GetCamera() const { return camera_; }

 private:
  // Settings kept with the mapper; no operation uses them.
  [[maybe_unused]] double reserved_[3] = {3.0, 10.0, 1e10};
  PerspectiveCamera camera_;
};

// The unit direction of a spherical point (left as is when its length is 0).
vm::Vector3 SphericalDirection(double azimuth, double elevation);

// M v for a row-major 3x4 matrix (a projection matrix) and a homogeneous 4-vector.
vm::Vector3 MultiplyMat3x4Vec4(const Matrix3x4& m, const Vector4& v);
// M v for a row-major 4x4 matrix.
Vector4 MultiplyMat4x4Vec4(const Matrix4x4& m, const Vector4& v);
