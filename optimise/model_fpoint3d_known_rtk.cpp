#include "optimise/model_fpoint3d_known_rtk.h"

#include <cmath>
#include <limits>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "geometry/triangulate_two_view.h"
#include "geometry/triangulation_multi_view.h"
#include "geometry/two_view_transfer.h"
#include "optimise/known_fpoint3d_model.h"

void ModelFPoint3DKnownRTKData::Clear() {
  m_samples.clear();
  m_cameras.clear();
  m_features.clear();
}

void ModelFPoint3DKnownRTKData::AddObservation(const SharedPtr<FeaturePoint2D>& feature,
                                               const PerspectiveCamera* camera, int start_flag) {
  m_start_flag = start_flag;
  CorrEl sample;
  const CorrElMapper mapper(*camera);
  mapper.MapFeaturePoint2D(*feature, sample);
  m_samples.push_back(sample);
  m_cameras.push_back(camera);
  m_features.push_back(feature);
  if (feature->GetFPoint3D()) m_coordinate_system = feature->GetFPoint3D()->GetCS();
}

bool ModelFPoint3DKnownRTKData::SetInitialParameters(const FeaturePoint3D& point) {
  m_coordinate_system = point.GetCS();
  if (m_coordinate_system == FeaturePoint3D::eCartesian) {
    m_parameters = {point.x, point.y, point.z};
  } else if (m_coordinate_system == FeaturePoint3D::eSpherical) {
    m_parameters = {point.x, point.y};
  } else {
    Notify(2, "ModelFPoint3DKnownRTKData::SetInitialParameters: unsupported coordinate system %d",
           static_cast<int>(m_coordinate_system));
    return false;
  }
  return true;
}

bool ModelFPoint3DKnownRTKData::FarthestPair(size_t& a, size_t& b) const {
  return FarthestCentrePair(
      m_cameras.size(), [this](size_t i) { return m_cameras[i]->GetC(); }, a, b);
}

bool ModelFPoint3DKnownRTKData::CalculateInitialParams() {
  if (m_coordinate_system != FeaturePoint3D::eCartesian) {
    Notify(2,
           "ModelFPoint3DKnownRTKData::CalculateInitialParams: not a cartesian 3D feature point");
    return false;
  }
  size_t a = 0, b = 1;
  if (!FarthestPair(a, b)) {
    Notify(3, "ModelFPoint3DKnownRTKData::CalculateInitialParams: m_vecXXX < 2");
    return false;
  }
  const CorrEl& sa = m_samples[a];
  const CorrEl& sb = m_samples[b];
  vm::Vector3 x;
  if (m_start_flag) {
    double out[3];
    if (!TriangulateTwoViewLinear(out, m_cameras[a], m_cameras[b], sa.x0, sa.y0, sb.x0, sb.y0)) {
      return false;
    }
    x = {out[0], out[1], out[2]};
  } else if (!TriangulateTwoViewPTR(x, *m_cameras[a], *m_cameras[b], sa.x0, sa.y0, sb.x0, sb.y0)) {
    return false;
  }
  m_parameters = {x.x, x.y, x.z};
  return true;
}

bool ModelFPoint3DKnownRTKData::CheckMinDist(double threshold) const {
  size_t a = 0, b = 1;
  if (!FarthestPair(a, b)) {
    Notify(3, "ModelFPoint3DKnownRTKData::CheckMinDist: m_vecXXX < 2");
    return false;
  }
  const PerspectiveCamera& ca = *m_cameras[a];
  const PerspectiveCamera& cb = *m_cameras[b];
  // The samples are about each principal point; the projection matrices work about the
  // image centre.
  const double xa = m_samples[a].x0 / ca.GetPixelSizeX() + ca.GetCenterPointX();
  const double ya = m_samples[a].y0 / ca.GetPixelSizeY() + ca.GetCenterPointY();
  const double xb = m_samples[b].x0 / cb.GetPixelSizeX() + cb.GetCenterPointX();
  const double yb = m_samples[b].y0 / cb.GetPixelSizeY() + cb.GetCenterPointY();
  Matrix3x4 pa, pb;
  GetProjectionMatrixFromCamera(ca, pa);
  GetProjectionMatrixFromCamera(cb, pb);
  Matrix3x3 ma, mb;
  ma.SetFromMatrix3x4(pa);
  mb.SetFromMatrix3x4(pb);
  return InfiniteHomographyParallax2(ma, mb, xa, ya, xb, yb) > threshold * threshold;
}

double ModelFPoint3DKnownRTKData::ImageDistance(size_t i, const vm::Vector3& x) const {
  double u, v, depth;
  if (!m_cameras[i]->ProjectPoint(x, u, v, depth, false)) {
    return std::numeric_limits<double>::infinity();
  }
  return std::hypot(u - m_features[i]->x, v - m_features[i]->y);
}

bool ModelFPoint3DKnownRTKData::CheckMeanError(const vm::Vector3& x, double limit) const {
  if (m_cameras.empty()) return true;
  double sum = 0.0;
  for (size_t i = 0; i < m_cameras.size(); ++i) sum += ImageDistance(i, x);
  return sum / static_cast<double>(m_cameras.size()) <= limit;
}

bool ModelFPoint3DKnownRTKData::CheckMaxError(const vm::Vector3& x, double limit) const {
  for (size_t i = 0; i < m_cameras.size(); ++i) {
    if (!(ImageDistance(i, x) <= limit)) return false;
  }
  return true;
}

void ModelFPoint3DKnownRTKData::GetModelInput(unsigned i, ModelFPoint3DKnownRTKInput& out) const {
  out.camera = m_cameras[i];
  out.coordinate_system = m_coordinate_system;
}

void ModelFPoint3DKnownRTKData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_samples[i].x0;
  out[1] = m_samples[i].y0;
}

bool ModelFPoint3DKnownRTK::ComputeWithGradient(const ModelFPoint3DKnownRTKInput& input,
                                                const std::vector<double>& parameters,
                                                ModelOutput out[2], int mode) const {
  (void)mode;  // values and gradients are always both written
  const PerspectiveCamera& camera = *input.camera;
  const size_t n = parameters.size();
  out[0].gradient.assign(n, 0.0);
  out[1].gradient.assign(n, 0.0);

  if (input.coordinate_system == FeaturePoint3D::eCartesian) {
    if (n != 3) return false;
    Matrix3x4 p;
    GetProjectionMatrixFromCamera(camera, p);
    double h[3];
    for (int r = 0; r < 3; ++r) {
      h[r] = p[r][0] * parameters[0] + p[r][1] * parameters[1] + p[r][2] * parameters[2] + p[r][3];
    }
    if (h[2] == 0.0) return false;  // on the focal plane: no image position
    const double w = 1.0 / h[2];
    const double sx = camera.GetPixelSizeX(), sy = camera.GetPixelSizeY();
    out[0].value = sx * (h[0] * w - camera.GetCenterPointX());
    out[1].value = sy * (h[1] * w - camera.GetCenterPointY());
    for (int k = 0; k < 3; ++k) {
      out[0].gradient[size_t(k)] = sx * (p[0][k] * w - p[2][k] * h[0] * w * w);
      out[1].gradient[size_t(k)] = sy * (p[1][k] * w - p[2][k] * h[1] * w * w);
    }
    return true;
  }

  if (input.coordinate_system == FeaturePoint3D::eSpherical) {
    if (n != 2) return false;
    const double pan = parameters[0], tilt = parameters[1];
    double cos_tilt = std::cos(tilt);
    if (cos_tilt == 0.0) {
      Notify(2, "o_ModelFPoint3DKnownRTK::ComputeWithGradient: cos tilt = 0.0");
      cos_tilt = 1e-20;
    }
    using V3 = PanTiltRollRotation::V3;
    const V3 d{std::sin(pan), -std::sin(tilt) / cos_tilt, std::cos(pan)};
    const V3 d_pan{std::cos(pan), 0.0, -std::sin(pan)};
    const V3 d_tilt{0.0, -1.0 / (cos_tilt * cos_tilt), 0.0};
    const Matrix4x4 world_to_camera = camera.GetWorldToCameraMatrix();
    PanTiltRollRotation::M3 r;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r[size_t(3 * i + j)] = world_to_camera[i][j];
    const V3 xc = PanTiltRollRotation::Apply(r, d);
    if (xc[2] == 0.0) return false;
    const double f = camera.GetFocalLength();
    const double iz = 1.0 / xc[2];
    out[0].value = f * xc[0] * iz;
    out[1].value = f * xc[1] * iz;
    PinholeDerivative(f, xc, iz, PanTiltRollRotation::Apply(r, d_pan), out[0].gradient[0],
                      out[1].gradient[0]);
    PinholeDerivative(f, xc, iz, PanTiltRollRotation::Apply(r, d_tilt), out[0].gradient[1],
                      out[1].gradient[1]);
    return true;
  }

  Notify(2, "o_ModelFPoint3DKnownRTK::ComputeWithGradient: unsupported coordinate system type: %d",
         input.coordinate_system);
  return false;
}
