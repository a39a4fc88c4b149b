#include "geometry/corr_el.h"

#include "foundation/runtime/notify.h"

void MapImagePoint(double x, double y, const PerspectiveCamera& camera, int unit_mode,
                   bool shift_principal_point, bool undistort, bool about_principal_point,
                   double& u, double& v) {
  camera.PixelToCentered(x, y, u, v);
  const double px = camera.GetCenterPointX();
  const double py = camera.GetCenterPointY();
  const double sx = camera.GetPixelSizeX();
  const double sy = camera.GetPixelSizeY();
  if (undistort) {
    if (about_principal_point) {
      u -= px;
      v -= py;
    }
    const double* k = camera.GetDistortionCoefficients();
    if (k[0] != 0.0 || k[1] != 0.0) {
      const double r2 =
          camera.GetRdDim() != 0 ? u * u + v * v : (u * sx) * (u * sx) + (v * sy) * (v * sy);
      const double g = camera.GetDistortionModel()(r2, k, false);
      u *= g;
      v *= g;
    }
    if (about_principal_point) {
      u += px;
      v += py;
    }
  }
  if (shift_principal_point) {
    u -= px;
    v -= py;
  }
  switch (unit_mode) {
    case kCorrElMillimetres:
      u *= sx;
      v *= sy;
      break;
    case kCorrElNormalised: {
      const double f = camera.GetFocalLength();
      u = u * sx / f;
      v = v * sy / f;
      break;
    }
    case kCorrElFocalWidth: {
      const double d = camera.GetFocalLength() * camera.GetWidth();
      u /= d;
      v /= d;
      break;
    }
    default:
      break;
  }
}

CorrElMapper::CorrElMapper(const PerspectiveCamera& camera)
    : camera0_(camera), camera1_(camera), active_(&camera0_) {}

CorrElMapper::CorrElMapper(const PerspectiveCamera& camera0, const PerspectiveCamera& camera1)
    : camera0_(camera0), camera1_(camera1), active_(&camera0_) {}

void CorrElMapper::Map(const PerspectiveCamera& camera, double x, double y, double& u,
                       double& v) const {
  MapImagePoint(x, y, camera, m_unit_mode, m_shift_principal_point, m_remove_distortion,
                m_distortion_about_principal_point, u, v);
}

void CorrElMapper::MapPoint(double x, double y, double& u, double& v) const {
  Map(*active_, x, y, u, v);
}

bool CorrElMapper::MapCorrespondence(const SharedPtr<FeatureCorrespondence>& corr,
                                     CorrEl& out) const {
  out.corr = corr;
  const FeaturePoint2D& first = *corr->GetFirst();
  const FeaturePoint2D& second = *corr->GetSecond();
  Map(camera0_, first.x, first.y, out.x0, out.y0);
  Map(camera1_, second.x, second.y, out.x1, out.y1);
  return true;
}

bool CorrElMapper::MapFeaturePoint2D(const FeaturePoint2D& feature, CorrEl& out) const {
  Map(camera0_, feature.x, feature.y, out.x0, out.y0);
  out.x1 = 0.0;
  out.y1 = 0.0;
  return true;
}

CorrElFromCorrespondenceIcsCp::CorrElFromCorrespondenceIcsCp(const PerspectiveCamera& camera)
    : mapper_(camera), camera0_(camera), camera1_(camera) {}

CorrElFromCorrespondenceIcsCp::CorrElFromCorrespondenceIcsCp(const PerspectiveCamera& camera0,
                                                             const PerspectiveCamera& camera1)
    : mapper_(camera0), camera0_(camera0), camera1_(camera1) {}

namespace {

// Pixel position to mm about the camera's principal point.
void ToSensor(const PerspectiveCamera& camera, double x, double y, double& u, double& v) {
  camera.PixelToCentered(x, y, u, v);
  u = (u - camera.GetCenterPointX()) * camera.GetPixelSizeX();
  v = (v - camera.GetCenterPointY()) * camera.GetPixelSizeY();
}

}  // namespace

bool CorrElFromCorrespondenceIcsCp::operator()(const SharedPtr<FeatureCorrespondence>& corr,
                                               CorrEl& out) {
  out.corr = corr;
  const FeaturePoint2D& f0 = *corr->GetFirst();
  const FeaturePoint2D& f1 = *corr->GetSecond();

  double x0 = f0.x, y0 = f0.y;
  const SharedPtr<FeaturePoint3D>& point = f0.GetFPoint3D();
  if (point) {
    FeaturePoint2D projected;
    bool ok;
    switch (point->GetCS()) {
      case FeaturePoint3D::eSpherical:
        ok = mapper_.MapSphere(point, projected, true);
        break;
      case FeaturePoint3D::eCartesian:
        ok = mapper_.MapCartesian(point, projected, true);
        break;
      default:
        Notify(
            2,
            "CorrElFromCorrespondenceIcsCp::operator():type of coordinate system unknown: (%d) !",
            static_cast<int>(point->GetCS()));
        return false;
    }
    if (!ok) return false;
    x0 = projected.x;
    y0 = projected.y;
  }

  ToSensor(camera0_, x0, y0, out.x0, out.y0);
  ToSensor(camera1_, f1.x, f1.y, out.x1, out.y1);

  // Camera 0's setting decides the radius unit of both points.
  const bool per_pixel = camera0_.GetRdDim() != 0;
  auto radius2 = [per_pixel](const PerspectiveCamera& c, double u, double v) {
    if (!per_pixel) return u * u + v * v;
    const double pu = u / c.GetPixelSizeX(), pv = v / c.GetPixelSizeY();
    return pu * pu + pv * pv;
  };
  if (!point) {
    const double g = camera0_.GetDistortionModel()(radius2(camera0_, out.x0, out.y0),
                                                   camera0_.GetDistortionCoefficients(), false);
    out.x0 *= g;
    out.y0 *= g;
  }
  const double g = camera1_.GetDistortionModel()(radius2(camera1_, out.x1, out.y1),
                                                 camera1_.GetDistortionCoefficients(), false);
  out.x1 *= g;
  out.y1 *= g;
  return true;
}
