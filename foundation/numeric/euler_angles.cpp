#include "foundation/numeric/euler_angles.h"

#include <cmath>

namespace {

// Rotating Y, X, Z: M = Ry(a) Rx(b) Rz(c).
void YXZRotating(const double* m, double* angles) {
  const double s = std::sqrt(m[2] * m[2] + m[10] * m[10]);  // M02, M22
  if (s > 1.6e-15) {
    angles[0] = std::atan2(m[2], m[10]);  // M02, M22
    angles[1] = std::atan2(-m[6], s);     // -M12
    angles[2] = std::atan2(m[4], m[5]);   // M10, M11
  } else {
    // Gimbal lock: the viewing axis is vertical; put the whole turn into c.
    angles[0] = 0.0;
    angles[1] = std::atan2(-m[6], s);
    angles[2] = std::atan2(-m[1], m[0]);  // -M01, M00
  }
}

}  // namespace

bool RotationToEulerAngles(const double* m16, int order, double* angles) {
  switch (order) {
    case kEulerOrderYXZRotating:
      YXZRotating(m16, angles);
      return true;
    default:
      angles[0] = angles[1] = angles[2] = 0.0;
      return false;
  }
}
