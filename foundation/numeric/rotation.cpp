// Rotations of the fixed-size matrices: from an axis and angle, from three
// angles, and the axis and angle of a rotation matrix.
#include <cmath>

#include "foundation/numeric/fixed_matrix.h"

void Matrix3x3::SetRotation(const vm::Vector3& axis, double angle) {
  const double q = axis.SquaredLength();
  if (!(q > 1e-24)) return;
  const double len = std::sqrt(q);
  const double x = axis.x / len, y = axis.y / len, z = axis.z / len;
  const double c = std::cos(angle), s = std::sin(angle), k = 1.0 - c;
  double* r = m;
  r[0] = x * x * k + c;
  r[1] = x * y * k - z * s;
  r[2] = x * z * k + y * s;
  r[3] = x * y * k + z * s;
  r[4] = y * y * k + c;
  r[5] = y * z * k - x * s;
  r[6] = x * z * k - y * s;
  r[7] = y * z * k + x * s;
  r[8] = z * z * k + c;
}

void Matrix3x3::SetRotationXYZ(double ax, double ay, double az) {
  const double sx = std::sin(ax), cx = std::cos(ax);
  const double sy = std::sin(ay), cy = std::cos(ay);
  const double sz = std::sin(az), cz = std::cos(az);
  double* r = m;
  r[0] = cz * cy;
  r[1] = cz * sy * sx - sz * cx;
  r[2] = cz * sy * cx + sz * sx;
  r[3] = sz * cy;
  r[4] = sz * sy * sx + cz * cx;
  r[5] = sz * sy * cx - cz * sx;
  r[6] = -sy;
  r[7] = cy * sx;
  r[8] = cy * cx;
}

double Matrix3x3::GetAxisAngle(vm::Vector3& axis) const {
  // Re-orthonormalise so that a slightly drifted rotation still gives a
  // consistent axis and angle.
  vm::Vector3 u{m[0], m[3], m[6]};
  u.Normalize();
  vm::Vector3 v{m[1], m[4], m[7]};
  v -= u * u.Dot(v);
  v.Normalize();
  const vm::Vector3 w = u.Cross(v);
  const double R[3][3] = {{u.x, v.x, w.x}, {u.y, v.y, w.y}, {u.z, v.z, w.z}};

  const vm::Vector3 k{R[2][1] - R[1][2], R[0][2] - R[2][0], R[1][0] - R[0][1]};
  const double kk = k.SquaredLength();
  if (!(kk < 1e-24)) {
    const double len = std::sqrt(kk);
    axis = {k.x / len, k.y / len, k.z / len};
    const double c = (R[0][0] + R[1][1] + R[2][2] - 1.0) / 2.0;
    return std::fabs(c) < 1.0 ? std::acos(c) : 0.0;
  }

  double dev = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double d = R[i][j] - (i == j ? 1.0 : 0.0);
      dev += d * d;
    }
  if (dev < 1e-24) {
    axis = {1.0, 0.0, 0.0};
    return 0.0;
  }

  // A half turn: the axis comes from the symmetric matrix (R + I)/2.
  const double X = (R[0][0] + 1.0) / 2.0, Y = (R[1][1] + 1.0) / 2.0, Z = (R[2][2] + 1.0) / 2.0;
  const double pxy = (R[0][1] + R[1][0]) / 4.0;
  const double pxz = (R[0][2] + R[2][0]) / 4.0;
  const double pyz = (R[1][2] + R[2][1]) / 4.0;
  const double half = std::sqrt(0.5);
  if (X > Y && X > Z) {
    if (X < 1e-12) {
      axis = {0.0, half, half};
    } else {
      const double sx = std::sqrt(X);
      axis = {sx, pxy / sx, pxz / sx};
    }
  } else if (Y > Z) {
    if (Y < 1e-12) {
      axis = {half, 0.0, half};
    } else {
      const double sy = std::sqrt(Y);
      axis = {pxy / sy, sy, pyz / sy};
    }
  } else {
    if (Z < 1e-12) {
      axis = {half, half, 0.0};
    } else {
      const double sz = std::sqrt(Z);
      axis = {pxz / sz, pyz / sz, sz};
    }
  }
  return 3.141592653589793;
}

void Matrix4x4::SetRotation(const vm::Vector3& axis, double angle) {
  if (!(axis.SquaredLength() > 1e-24)) return;
  Matrix3x3 R;
  R.SetRotation(axis, angle);
  SetRotationPart(R);
}

void Matrix4x4::SetRotationXYZ(double ax, double ay, double az) {
  Matrix3x3 R;
  R.SetRotationXYZ(ax, ay, az);
  SetRotationPart(R);
}

double Matrix4x4::GetAxisAngle(vm::Vector3& axis) const {
  Matrix3x3 R;
  R.SetFromMatrix3x4(*this);
  return R.GetAxisAngle(axis);
}
