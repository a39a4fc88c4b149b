#include "geometry/triangulate_two_view.h"

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"

namespace {

// Rows u P[2] - P[0] and v P[2] - P[1] for one camera, with (u, v) in image-centred
// pixels.
void AddRows(const PerspectiveCamera& camera, double x, double y, Matrix4x4& a, int row) {
  Matrix3x4 p;
  GetProjectionMatrixFromCamera(camera, p);
  const double u = x / camera.GetPixelSizeX() + camera.GetCenterPointX();
  const double v = y / camera.GetPixelSizeY() + camera.GetCenterPointY();
  for (int j = 0; j < 4; ++j) {
    a[row][j] = u * p[2][j] - p[0][j];
    a[row + 1][j] = v * p[2][j] - p[1][j];
  }
}

}  // namespace

bool TriangulateTwoViewLinear(double out[3], const PerspectiveCamera* camera0,
                              const PerspectiveCamera* camera1, double x0, double y0, double x1,
                              double y1) {
  Matrix4x4 a;
  AddRows(*camera0, x0, y0, a, 0);
  AddRows(*camera1, x1, y1, a, 2);
  Matrix4x4 ata;
  ata.MultiplyAtB(a, a);
  Vector4 x;
  x.SetNullVector(ata);
  if (x[3] == 0.0) {
    out[0] = out[1] = out[2] = 0.0;
    return false;
  }
  for (int i = 0; i < 3; ++i) out[i] = x[i] / x[3];
  return true;
}
