#include "geometry/two_view_transfer.h"

#include <cmath>

#include "foundation/camera/camera_geometry.h"

namespace {

constexpr double kFar = 1e16;

// zoom f (row . p) / (W . p) with p the transferred point in camera-1 coordinates, or
// the first ray itself when the point lies behind camera 1. second_row picks V over U.
double Reproject(bool second_row, double pan, double tilt, double roll, double zoom,
                 const vm::Vector3& T, double f, double x0, double y0, double x1, double y1) {
  const PanTiltRollRows m(pan, tilt, roll);
  const double lambda = TwoViewDepth(pan, tilt, roll, zoom, T, f, x0, y0, x1, y1);
  const vm::Vector3 r1{x0, y0, f};
  const vm::Vector3 p = lambda <= 0.0 ? r1 : r1 * lambda - T;
  const double c = m.w.Dot(p);
  if (c == 0.0) return kFar;
  return zoom * f * (second_row ? m.v : m.u).Dot(p) / c;
}

}  // namespace

PanTiltRollRows::PanTiltRollRows(double pan, double tilt, double roll) {
  const double cp = std::cos(pan), sp = std::sin(pan);
  const double ct = std::cos(tilt), st = std::sin(tilt);
  const double cr = std::cos(roll), sr = std::sin(roll);
  u = {cp * cr + sp * st * sr, ct * sr, cp * st * sr - sp * cr};
  v = {sp * st * cr - cp * sr, ct * cr, cp * st * cr + sp * sr};
  w = {sp * ct, -st, cp * ct};
}

double TwoViewDepth(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                    double f, double x0, double y0, double x1, double y1) {
  const PanTiltRollRows m(pan, tilt, roll);
  const vm::Vector3 r1{x0, y0, f};
  // M (x1, y1, zoom f): M's columns are the rows of M^T.
  const vm::Vector3 r2 = m.u * x1 + m.v * y1 + m.w * (zoom * f);
  const double r11 = r1.Dot(r1), r22 = r2.Dot(r2), r12 = r1.Dot(r2);
  const double denominator = r11 * r22 - r12 * r12;
  if (denominator == 0.0) return kFar;
  return (r1.Dot(T) * r22 - r2.Dot(T) * r12) / denominator;
}

double TwoViewReprojectU(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                         double f, double x0, double y0, double x1, double y1) {
  return Reproject(false, pan, tilt, roll, zoom, T, f, x0, y0, x1, y1);
}

double TwoViewReprojectV(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                         double f, double x0, double y0, double x1, double y1) {
  return Reproject(true, pan, tilt, roll, zoom, T, f, x0, y0, x1, y1);
}

bool TriangulateTwoViewPTR(vm::Vector3& out, const PerspectiveCamera& c1,
                           const PerspectiveCamera& c2, double x0, double y0, double x1,
                           double y1) {
  double pan = 0.0, tilt = 0.0, roll = 0.0;
  GetCameraAngles(c2, pan, tilt, roll, &c1);
  // The first ray is c1's, so it takes c1's own focal length; zoom carries c2's.
  const double f = c1.GetFocalLength();
  if (f == 0.0) return false;
  const double zoom = c2.GetFocalLength() / f;
  const vm::Vector3 T = c1.WorldToCamera(c2.GetC());
  const double lambda = TwoViewDepth(pan, tilt, roll, zoom, T, f, x0, y0, x1, y1);
  if (lambda <= 0.0 || lambda == kFar) return false;
  out = c1.CameraToWorld(lambda * x0, lambda * y0, lambda * f);
  return true;
}
