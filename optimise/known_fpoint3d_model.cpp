#include "optimise/known_fpoint3d_model.h"

#include <array>
#include <cmath>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/corr_el.h"

namespace {

using M3 = PanTiltRollRotation::M3;
using V3 = PanTiltRollRotation::V3;

M3 Mul(const M3& a, const M3& b) {
  M3 t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
  return t;
}

// The elementary rotations (rows listed) and their derivatives by the angle.
M3 RotPan(double p) {
  return {std::cos(p), 0, -std::sin(p), 0, 1, 0, std::sin(p), 0, std::cos(p)};
}
M3 DRotPan(double p) {
  return {-std::sin(p), 0, -std::cos(p), 0, 0, 0, std::cos(p), 0, -std::sin(p)};
}
M3 RotTilt(double t) {
  return {1, 0, 0, 0, std::cos(t), std::sin(t), 0, -std::sin(t), std::cos(t)};
}
M3 DRotTilt(double t) {
  return {0, 0, 0, 0, -std::sin(t), std::cos(t), 0, -std::cos(t), -std::sin(t)};
}
M3 RotRoll(double r) {
  return {std::cos(r), std::sin(r), 0, -std::sin(r), std::cos(r), 0, 0, 0, 1};
}
M3 DRotRoll(double r) {
  return {-std::sin(r), std::cos(r), 0, -std::cos(r), -std::sin(r), 0, 0, 0, 0};
}

void Sample(const FeaturePoint2D& feature, const CorrElMapper& mapper,
            std::vector<FPoint3DSample>& samples) {
  CorrEl element;
  mapper.MapFeaturePoint2D(feature, element);
  samples.push_back({element.x0, element.y0, feature.GetFPoint3D()});
}

}  // namespace

PanTiltRollRotation::PanTiltRollRotation(double pan, double tilt, double roll) {
  const M3 ry = RotPan(pan), rx = RotTilt(tilt), rz = RotRoll(roll);
  const M3 rzx = Mul(rz, rx);
  r = Mul(rzx, ry);
  d_pan = Mul(rzx, DRotPan(pan));
  d_tilt = Mul(Mul(rz, DRotTilt(tilt)), ry);
  d_roll = Mul(Mul(DRotRoll(roll), rx), ry);
}

PanTiltRollRotation::V3 PanTiltRollRotation::Apply(const M3& m, const V3& d) {
  return {m[0] * d[0] + m[1] * d[1] + m[2] * d[2], m[3] * d[0] + m[4] * d[1] + m[5] * d[2],
          m[6] * d[0] + m[7] * d[1] + m[8] * d[2]};
}

void GetCameraParameters(const PerspectiveCamera& camera, double out[9]) {
  GetCameraAngles(camera, out[0], out[1], out[2]);
  const vm::Vector3& c = camera.GetC();
  out[3] = c.x;
  out[4] = c.y;
  out[5] = c.z;
  out[6] = camera.GetFocalLength();
  out[7] = camera.GetPixelSizeX() * camera.GetCenterPointX();
  out[8] = camera.GetPixelSizeY() * camera.GetCenterPointY();
}

bool UsableForResection(const FeaturePoint2D& feature) {
  const SharedPtr<FeaturePoint3D>& point = feature.GetFPoint3D();
  return point && !point->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_PROTECTED);
}

// ---- camera parameters

void ModelKnownFPoint3DData::SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                     const PerspectiveCamera& camera, const uint32_t* mask) {
  m_samples.clear();
  if (mask != nullptr) m_parameter_mask = *mask;
  SetCamera(camera);
  CorrElMapper mapper(camera);
  mapper.m_unit_mode = kCorrElMillimetres;
  mapper.m_remove_distortion = true;
  mapper.m_shift_principal_point = (m_parameter_mask & kCamPrincipalPoint) == 0;
  mapper.m_distortion_about_principal_point = false;
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (feature && UsableForResection(*feature)) Sample(*feature, mapper, m_samples);
  }
}

void ModelKnownFPoint3DData::SetCamera(const PerspectiveCamera& camera) {
  GetCameraParameters(camera, m_fixed);
  if ((m_parameter_mask & kCamPrincipalPoint) == 0) m_fixed[7] = m_fixed[8] = 0.0;
  m_start_vector.clear();
  for (int b = 0; b < 9; ++b) {
    if (m_parameter_mask & kKnownFPoint3DParameterBits[b]) m_start_vector.push_back(m_fixed[b]);
  }
}

void ModelKnownFPoint3DData::GetModelInput(unsigned i, ModelKnownFPoint3DInput& out) const {
  out.point = m_samples[i].point.Get();
  if (out.point == nullptr) Notify(2, "ModelKnownFPoint3DData::GetModelInput: no 3D point set");
  for (int b = 0; b < 9; ++b) out.fixed[b] = m_fixed[b];
  out.m_parameter_mask = m_parameter_mask;
}

void ModelKnownFPoint3DData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_samples[i].x;
  out[1] = m_samples[i].y;
}

bool ModelKnownFPoint3D::ComputeWithGradient(const ModelKnownFPoint3DInput& input,
                                             const std::vector<double>& parameters,
                                             ModelOutput out[2], int mode) const {
  (void)mode;  // values and gradients are always both written
  if (input.point == nullptr) return false;
  double value[9];
  int index[9];
  size_t next = 0;
  for (int b = 0; b < 9; ++b) {
    if (input.m_parameter_mask & kKnownFPoint3DParameterBits[b]) {
      if (next >= parameters.size()) return false;
      index[b] = static_cast<int>(next);
      value[b] = parameters[next++];
    } else {
      index[b] = -1;
      value[b] = input.fixed[b];
    }
  }
  if (next != parameters.size()) return false;

  const FeaturePoint3D& p = *input.point;
  V3 d;
  bool cartesian = false;
  if (p.GetCS() == FeaturePoint3D::eCartesian) {
    d = {p.x - value[3], p.y - value[4], p.z - value[5]};
    cartesian = true;
  } else if (p.GetCS() == FeaturePoint3D::eSpherical) {
    d = {std::sin(p.x), -std::tan(p.y), std::cos(p.x)};
  } else {
    Notify(2, "ModelRTKKnownFPoint3D::ComputeWithGradient: unsupported coordinate system type: %d",
           static_cast<int>(p.GetCS()));
    return false;
  }

  const PanTiltRollRotation rot(value[0], value[1], value[2]);
  const M3& r = rot.r;
  const V3 xc = PanTiltRollRotation::Apply(r, d);
  if (xc[2] == 0.0) return false;  // on the focal plane: no image position
  const double f = value[6];
  const double iz = 1.0 / xc[2];
  out[0].value = f * xc[0] * iz + value[7];
  out[1].value = f * xc[1] * iz + value[8];

  const size_t n = parameters.size();
  out[0].gradient.assign(n, 0.0);
  out[1].gradient.assign(n, 0.0);
  // d(u, v) for a change g of (xc, yc, zc).
  auto chain = [&](int b, const V3& g) {
    if (index[b] < 0) return;
    PinholeDerivative(f, xc, iz, g, out[0].gradient[size_t(index[b])],
                      out[1].gradient[size_t(index[b])]);
  };
  chain(0, PanTiltRollRotation::Apply(rot.d_pan, d));
  chain(1, PanTiltRollRotation::Apply(rot.d_tilt, d));
  chain(2, PanTiltRollRotation::Apply(rot.d_roll, d));
  for (int k = 0; k < 3; ++k) {
    // d = point - centre: a change of the centre moves xc by minus column k of R.
    const V3 g = cartesian ? V3{-r[k], -r[3 + k], -r[6 + k]} : V3{0.0, 0.0, 0.0};
    chain(3 + k, g);
  }
  if (index[6] >= 0) {
    out[0].gradient[size_t(index[6])] = xc[0] * iz;
    out[1].gradient[size_t(index[6])] = xc[1] * iz;
  }
  if (index[7] >= 0) out[0].gradient[size_t(index[7])] = 1.0;
  if (index[8] >= 0) out[1].gradient[size_t(index[8])] = 1.0;
  return true;
}

// ---- free projection matrix

void ModelPMatKnownFPoint3DData::SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                         const PerspectiveCamera& camera) {
  m_samples.clear();
  SetCamera(camera);
  CorrElMapper mapper(camera);
  mapper.m_unit_mode = kCorrElPixels;
  mapper.m_remove_distortion = true;
  mapper.m_shift_principal_point = false;
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (feature && UsableForResection(*feature)) Sample(*feature, mapper, m_samples);
  }
}

void ModelPMatKnownFPoint3DData::SetCamera(const PerspectiveCamera& camera) {
  m_camera = camera;
  Matrix3x4 p;
  GetProjectionMatrixFromCamera(camera, p);
  m_start_vector.assign(p.m, p.m + 12);
}

void ModelPMatKnownFPoint3DData::GetModelInput(unsigned i, ModelPMatKnownFPoint3DInput& out) const {
  out.point = m_samples[i].point.Get();
  if (out.point == nullptr) Notify(2, "ModelPMatKnownFPoint3DData::GetModelInput: no 3D point set");
}

void ModelPMatKnownFPoint3DData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_samples[i].x;
  out[1] = m_samples[i].y;
}

bool ModelPMatKnownFPoint3D::ComputeWithGradient(const ModelPMatKnownFPoint3DInput& input,
                                                 const std::vector<double>& parameters,
                                                 ModelOutput out[2], int mode) const {
  (void)mode;
  if (parameters.size() != 12) {
    Notify(2, "ModelPMatKnownFPoint3D::ComputeWithGradient: bad number of parameters: %d",
           static_cast<int>(parameters.size()));
    return false;
  }
  if (input.point == nullptr) return false;
  const double x[4] = {input.point->x, input.point->y, input.point->z, 1.0};
  double abc[3];
  for (int r = 0; r < 3; ++r) {
    const double* row = parameters.data() + 4 * r;
    abc[r] = row[0] * x[0] + row[1] * x[1] + row[2] * x[2] + row[3];
  }
  if (abc[2] == 0.0) return false;  // on the focal plane: no image position
  const double c = abc[2];
  out[0].value = abc[0] / c;
  out[1].value = abc[1] / c;
  out[0].gradient.assign(12, 0.0);
  out[1].gradient.assign(12, 0.0);
  for (int j = 0; j < 4; ++j) {
    out[0].gradient[size_t(j)] = x[j] / c;
    out[0].gradient[size_t(8 + j)] = -abc[0] * x[j] / (c * c);
    out[1].gradient[size_t(4 + j)] = x[j] / c;
    out[1].gradient[size_t(8 + j)] = -abc[1] * x[j] / (c * c);
  }
  return true;
}
