// Point and matrix helpers of the scene objects, the gizmo and the exporters. Matrices are
// row-major doubles: a 3 x 4 [R | t] is 12, a 3 x 3 is 9; a 4 x 4 counts by its top three
// rows where a 3 x 4 is read.
#ifndef KALVEX_FOUNDATION_NUMERIC_POINT_TRANSFORM_H_
#define KALVEX_FOUNDATION_NUMERIC_POINT_TRANSFORM_H_

#include "foundation/numeric/fixed_matrix.h"

// out = R p + t, each row summed as t_i + r_i0 p.x + r_i1 p.y + r_i2 p.z in that order (so
// results repeat bit for bit). out may be p. Returns out.
vm::Vector3& TransformPoint(vm::Vector3& out, const Matrix3x4& M, const vm::Vector3& p);
// out = H (q.x, q.y, 1), not divided.
vm::Vector3& TransformPoint2D(vm::Vector3& out, const Matrix3x3& H, const vm::Vector2& q);

// Copies a 3 x 4 matrix; into a 4 x 4 it fills the top three rows and leaves the last.
void CopyMatrix3x4(Matrix3x4& dst, const Matrix3x4& src);
void CopyMatrix3x4(Matrix4x4& dst, const Matrix3x4& src);

#endif  // KALVEX_FOUNDATION_NUMERIC_POINT_TRANSFORM_H_
