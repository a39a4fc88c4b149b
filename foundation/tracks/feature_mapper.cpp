#include "foundation/tracks/feature_mapper.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "foundation/runtime/notify.h"

namespace {

// Clears the camera's distortion while it lives, when asked to, and then puts the whole
// camera back as it was: every coefficient, RdDim and the model come back unchanged.
class DistortionOff {
 public:
  DistortionOff(PerspectiveCamera& camera, bool active) : camera_(camera) {
    if (!active) return;
    saved_.emplace(camera);
    camera.SetDistortion(0.0, 0.0, camera.GetRdDim(), camera.GetDistortionModel());
  }
  ~DistortionOff() { Restore(); }
  void Restore() {
    if (saved_) camera_ = *saved_;
    saved_.reset();
  }

 private:
  PerspectiveCamera& camera_;
  std::optional<PerspectiveCamera> saved_;
};

}  // namespace

vm::Vector3 SphericalDirection(double azimuth, double elevation) {
  vm::Vector3 d{std::sin(azimuth), -std::tan(elevation), std::cos(azimuth)};
  const double q = d.SquaredLength();
  if (q > 0.0) d *= 1.0 / std::sqrt(q);
  return d;
}

FeatureMapper::FeatureMapper(const PerspectiveCamera& camera) : camera_(camera) {
  // The copy brings RdDim (the unit of the coefficients); CopyFrom takes the size through
  // the source's virtual getters.
  camera_.CopyFrom(camera, false);
}

bool FeatureMapper::MapCartesian(const SharedPtr<FeaturePoint3D>& point, FeaturePoint2D& feature,
                                 bool ignore_distortion) {
  if (camera_.GetWidth() == 0 || camera_.GetHeight() == 0) {
    Notify(2, "FeatureMapper::MapCartesian: camera parameter not set!");
    return false;
  }
  if (!point) return false;
  const vm::Vector3 p{point->x, point->y, point->z};
  double x, y, depth;
  bool ok = camera_.ProjectPoint(p, x, y, depth, true);
  if (!ok || depth <= 0.0) return false;
  if (ignore_distortion) {
    DistortionOff off(camera_, true);
    ok = camera_.ProjectPoint(p, x, y, depth, true);
  }
  // Without distortion the point may fall outside the image: then, too, the feature
  // stays as it was.
  if (!ok) return false;
  feature.x = x;
  feature.y = y;
  feature.SetFPoint3D(point);
  return true;
}

bool FeatureMapper::MapSphere(const SharedPtr<FeaturePoint3D>& point, FeaturePoint2D& feature,
                              bool ignore_distortion) {
  if (camera_.GetWidth() == 0 || camera_.GetHeight() == 0) {
    Notify(2, "FeatureMapper::MapSphere: 3D->2D, camera parameter not set!");
    return false;
  }
  if (!point) return false;
  const vm::Vector3 p = camera_.GetC() + SphericalDirection(point->x, point->y);
  DistortionOff off(camera_, ignore_distortion);
  double x, y, depth;
  const bool ok = camera_.ProjectPoint(p, x, y, depth, !ignore_distortion);
  if (ok && depth > 0.0) {
    off.Restore();
    feature.x = x;
    feature.y = y;
    feature.SetFPoint3D(point);
    return true;
  }
  camera_.ProjectPoint(p, x, y, depth, false);
  Notify(5, "FeatureMapper::MapSphere: 3D->2D succ. %d, xu=%f, yu=%f, Pz %f, 3d id %d", 0, x, y,
         depth, point->GetId());
  const double* k = camera_.GetDistortionCoefficients();
  Notify(5, "k3=%e, k5=%e\n", k[0], k[1]);
  return false;
}

void FeatureMapper::BackProjectToSphere(const FeaturePoint2D& feature, FeaturePoint3D& point,
                                        bool ignore_distortion) {
  DistortionOff off(camera_, ignore_distortion);
  const vm::Vector3 r = camera_.GetViewingRay(feature.x, feature.y);
  const double length = r.Length();
  const double azimuth = std::atan2(r.x, r.z);
  // Clamped: rounding may put |r.y| a hair above |r|.
  const double elevation = length > 0.0 ? std::asin(std::clamp(-r.y / length, -1.0, 1.0)) : 0.0;
  const double radius = 5.0 * camera_.GetFocalLength();
  point = FeaturePoint3D(azimuth, elevation, radius, FeaturePoint3D::eSpherical);
}

void FeatureMapper::ToCartesian(const FeaturePoint3D& source, FeaturePoint3D* destination) {
  if (source.GetCS() == FeaturePoint3D::eCartesian) return;
  if (destination == nullptr) {
    Notify(2, "FeatureMapper::ToCartesian: destination NULL");
    return;
  }
  const vm::Vector3 p = camera_.GetC() + SphericalDirection(source.x, source.y) * source.z;
  *destination = FeaturePoint3D(p.x, p.y, p.z, FeaturePoint3D::eCartesian);
}

vm::Vector3 MultiplyMat3x4Vec4(const Matrix3x4& m, const Vector4& v) {
  vm::Vector3 r;
  for (int i = 0; i < 3; ++i) {
    r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2] + m[i][3] * v[3];
  }
  return r;
}

Vector4 MultiplyMat4x4Vec4(const Matrix4x4& m, const Vector4& v) {
  Vector4 r;
  for (int i = 0; i < 4; ++i) {
    r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2] + m[i][3] * v[3];
  }
  return r;
}
