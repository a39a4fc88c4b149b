#include "geometry/parameter_set_ptrz.h"

#include <algorithm>
#include <cmath>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/euler_angles.h"

namespace {

constexpr double kNoFit = 1e38;

Matrix4x4 Identity() {
  Matrix4x4 m;
  m.SetZero();
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
  return m;
}

Matrix4x4 RotationAbout(const vm::Vector3& axis, double angle) {
  Matrix4x4 m = Identity();
  m.SetRotation(axis, angle);
  return m;
}

// True when a / b overflows: |a| > |b| and |b / a| < 1e-38.
bool Overflows(double numerator, double denominator) {
  return std::abs(denominator) < std::abs(numerator) && std::abs(denominator / numerator) < 1e-38;
}

}  // namespace

ParameterSetPTRZ::ParameterSetPTRZ(const PerspectiveCamera& reference)
    : m_rotation(Identity()), m_ref_camera(reference) {
  NormalizeCameraPose(m_ref_camera);
}

bool ParameterSetPTRZ::MapPoint(double x, double y, double& u, double& v) const {
  const double f = m_ref_camera.GetFocalLength();
  const Matrix4x4& r = m_rotation;
  const vm::Vector3 p{x, y, f};
  // q = R^T p.
  const double qx = r[0][0] * p.x + r[1][0] * p.y + r[2][0] * p.z;
  const double qy = r[0][1] * p.x + r[1][1] * p.y + r[2][1] * p.z;
  const double qz = r[0][2] * p.x + r[1][2] * p.y + r[2][2] * p.z;
  const double zf = m_zoom * f;
  if (Overflows(zf * qx, qz) || Overflows(zf * qy, qz)) return false;
  u = zf * qx / qz;
  v = zf * qy / qz;
  return true;
}

double ParameterSetPTRZ::GetSquaredError(const CorrEl& element) const {
  double u = 0.0, v = 0.0;
  if (!MapPoint(element.x0, element.y0, u, v)) return kNoFit;
  const double dx = (element.x1 - u) / m_ref_camera.GetPixelSizeX();
  const double dy = (element.y1 - v) / m_ref_camera.GetPixelSizeY();
  return dx * dx + dy * dy;
}

double ParameterSetPTRZ::GetWeightedSquaredError(const CorrEl& element) const {
  double u = 0.0, v = 0.0;
  if (!element.corr || !element.corr->GetSecond() || !MapPoint(element.x0, element.y0, u, v))
    return kNoFit;
  const double dx = (element.x1 - u) / m_ref_camera.GetPixelSizeX();
  const double dy = (element.y1 - v) / m_ref_camera.GetPixelSizeY();
  const Matrix2x2 w = element.corr->GetSecond()->GetInverseCoVariance();
  return dx * (w[0][0] * dx + w[0][1] * dy) + dy * (w[1][0] * dx + w[1][1] * dy);
}

SharedPtr<ParameterSet> ParameterSetPTRZ::Clone() const {
  return SharedPtr<ParameterSetPTRZ>::Make(*this);
}

void ParameterSetPTRZ::SetPTRZ(double pan, double tilt, double roll, double zoom_factor) {
  PerspectiveCamera camera = m_ref_camera;
  camera.Transform(m_rotation);
  const vm::Vector3 a = camera.GetA(), h0 = camera.H0(), v0 = camera.V0();
  Matrix4x4 step;
  step.Multiply(RotationAbout(v0, pan), RotationAbout(h0, tilt));
  step.Multiply(step, RotationAbout(a, roll));
  m_rotation.Multiply(step, m_rotation);
  vm::Vector3 axis;
  const double angle = m_rotation.GetAxisAngle(axis);
  m_rotation.SetRotation(axis, angle);
  m_zoom *= zoom_factor;
}

void ParameterSetPTRZ::GetPTRZ(double* pan, double* tilt, double* roll, double* zoom) const {
  double angles[3];
  RotationToEulerAngles(m_rotation.m, kEulerOrderYXZRotating, angles);
  *pan = angles[0];
  *tilt = angles[1];
  *roll = angles[2];
  *zoom = m_zoom;
}

bool ParameterSetPTRZ::IsSimilar(const ParameterSetPTRZ& other, double angle_tolerance,
                                 double zoom_tolerance) const {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      if (std::abs(m_rotation[r][c] - other.m_rotation[r][c]) > angle_tolerance) return false;
    }
  }
  const double lo = std::min(m_zoom, other.m_zoom), hi = std::max(m_zoom, other.m_zoom);
  return std::abs(1.0 - lo / hi) <= zoom_tolerance;
}
