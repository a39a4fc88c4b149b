#include "foundation/numeric/point_transform.h"

#include <cstring>

vm::Vector3& TransformPoint(vm::Vector3& out, const Matrix3x4& M, const vm::Vector3& p) {
  double r[3];
  for (int i = 0; i < 3; ++i) {
    const double* row = M[i];
    double x = row[3];
    x = row[0] * p.x + x;
    x = row[1] * p.y + x;
    x = row[2] * p.z + x;
    r[i] = x;
  }
  out = {r[0], r[1], r[2]};
  return out;
}

vm::Vector3& TransformPoint2D(vm::Vector3& out, const Matrix3x3& H, const vm::Vector2& q) {
  out = {H[0][0] * q.x + H[0][1] * q.y + H[0][2], H[1][0] * q.x + H[1][1] * q.y + H[1][2],
         H[2][0] * q.x + H[2][1] * q.y + H[2][2]};
  return out;
}

void CopyMatrix3x4(Matrix3x4& dst, const Matrix3x4& src) {
  std::memmove(dst.m, src.m, sizeof src.m);
}

void CopyMatrix3x4(Matrix4x4& dst, const Matrix3x4& src) {
  std::memmove(dst.m, src.m, sizeof src.m);
}
