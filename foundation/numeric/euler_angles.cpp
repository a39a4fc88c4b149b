#include "foundation/numeric/euler_angles.h"

#include <cmath>

namespace {

constexpr double kSingular = 1.6e-15;

}  // namespace

bool RotationToEulerAngles(const double* m16, int order, double* angles) {
  if (order < 0 || order > 31) {
    angles[0] = angles[1] = angles[2] = 0.0;
    return false;
  }
  static const int kSafe[4] = {0, 1, 2, 0};
  static const int kNext[4] = {1, 2, 0, 1};
  const bool rotating = (order & 1) != 0;
  const bool repetition = (order & 2) != 0;
  const int parity = (order >> 2) & 1;
  const int i = kSafe[(order >> 3) & 3];
  const int j = kNext[i + parity];
  const int k = kNext[i + 1 - parity];
  auto m = [m16](int r, int c) { return m16[4 * r + c]; };

  double x = 0.0, y = 0.0, z = 0.0;
  if (repetition) {
    const double sy = std::sqrt(m(i, j) * m(i, j) + m(i, k) * m(i, k));
    y = std::atan2(sy, m(i, i));
    if (sy > kSingular) {
      x = std::atan2(m(i, j), m(i, k));
      z = std::atan2(m(j, i), -m(k, i));
    } else {
      x = std::atan2(-m(j, k), m(j, j));
    }
  } else {
    const double cy = std::sqrt(m(i, i) * m(i, i) + m(j, i) * m(j, i));
    y = std::atan2(-m(k, i), cy);
    if (cy > kSingular) {
      x = std::atan2(m(k, j), m(k, k));
      z = std::atan2(m(j, i), m(i, i));
    } else {
      x = std::atan2(-m(j, k), m(j, j));
    }
  }
  if (parity != 0) {
    x = -x;
    y = -y;
    z = -z;
  }
  if (rotating) {
    const double t = x;
    x = z;
    z = t;
  }
  angles[0] = x;
  angles[1] = y;
  angles[2] = z;
  return true;
}
