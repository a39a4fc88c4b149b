#include "scene/plane_fit.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_point.h"
#include "scene/objects/primitives.h"

using vm::Vector3;

namespace {

constexpr int kTurns = 16;

Vector3 Column(const Matrix3x3& M, int i) {
  return {M.m[i], M.m[3 + i], M.m[6 + i]};
}

}  // namespace

int fit_plane_random_sampling(const std::vector<const FeaturePoint3D*>& points, PlaneFit& fit) {
  const size_t n = points.size();
  if (n < 3) return -1;
  Vector3 m{0, 0, 0};
  for (const FeaturePoint3D* p : points) m += *p;
  m *= 1.0 / static_cast<double>(n);

  Vector3 u, v;
  if (n == 3) {
    const Vector3& p0 = *points[0];
    const Vector3& p1 = *points[1];
    const Vector3& p2 = *points[2];
    const Vector3 normal = (p0 - p1).Cross(p2 - p1);
    const Vector3 along = p0 - p1;
    const double ln = normal.Length(), la = along.Length();
    if (ln == 0.0 || la == 0.0) return -4;
    u = along * (1.0 / la);
    v = (normal * (1.0 / ln)).Cross(u);
  } else {
    Matrix3x3 S{};
    for (const FeaturePoint3D* p : points) {
      const Vector3 d = *p - m;
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) S.m[3 * r + c] += d[r] * d[c];
      }
    }
    // Unit eigenvectors as the columns of a rotation, also for a rank-deficient S (points
    // on one line or one spot), so the axes below stay orthonormal.
    double values[3];
    Matrix3x3 E;
    E.SymmetricEigen(values, S);
    u = Column(E, 0);
    v = Column(E, 1);
  }

  // Smallest bounding rectangle over the turns; a later turn wins only when strictly
  // smaller.
  double lo_x[kTurns], hi_x[kTurns], lo_y[kTurns], hi_y[kTurns];
  Vector3 uj[kTurns], vj[kTurns];
  for (int j = 0; j < kTurns; ++j) {
    const double theta = j * std::numbers::pi / 32.0;
    const double c = std::cos(theta), s = std::sin(theta);
    uj[j] = u * c + v * s;
    vj[j] = v * c - u * s;
    lo_x[j] = lo_y[j] = HUGE_VAL;
    hi_x[j] = hi_y[j] = -HUGE_VAL;
  }
  for (const FeaturePoint3D* p : points) {
    const Vector3 d = *p - m;
    for (int j = 0; j < kTurns; ++j) {
      const double x = d.Dot(uj[j]), y = d.Dot(vj[j]);
      lo_x[j] = std::min(lo_x[j], x);
      hi_x[j] = std::max(hi_x[j], x);
      lo_y[j] = std::min(lo_y[j], y);
      hi_y[j] = std::max(hi_y[j], y);
    }
  }
  int best = 0;
  double best_area = HUGE_VAL;
  for (int j = 0; j < kTurns; ++j) {
    const double area = (hi_x[j] - lo_x[j]) * (hi_y[j] - lo_y[j]);
    if (area < best_area) {
      best_area = area;
      best = j;
    }
  }

  Vector3 a = uj[best], b = vj[best];
  double h0 = (hi_x[best] - lo_x[best]) / 2, h1 = (hi_y[best] - lo_y[best]) / 2;
  const Vector3 centre =
      m + a * ((hi_x[best] + lo_x[best]) / 2) + b * ((hi_y[best] + lo_y[best]) / 2);
  if (std::abs(b.y) + std::abs(a.x) < std::abs(a.y) + std::abs(b.x)) {
    std::swap(a, b);
    std::swap(h0, h1);
  }
  if (a.x < 0) a = -a;
  if (b.y < 0) b = -b;
  const Vector3 normal = a.Cross(b);

  fit.centre = centre;
  for (int r = 0; r < 3; ++r) {
    fit.rotation.m[3 * r + 0] = a[r];
    fit.rotation.m[3 * r + 1] = b[r];
    fit.rotation.m[3 * r + 2] = normal[r];
  }
  fit.half_size[0] = h0;
  fit.half_size[1] = h1;
  return 0;
}

NHSObject_Rect* gen_approx_plane(const std::vector<const FeaturePoint3D*>& points, uint32_t color) {
  Notify(5, "Scene: gen_approx_plane: from %d points", static_cast<int>(points.size()));
  PlaneFit fit;
  if (fit_plane_random_sampling(points, fit) < 0) return nullptr;
  auto* rect = new NHSObject_Rect();
  rect->SetCorners(-fit.half_size[0], -fit.half_size[1], fit.half_size[0], fit.half_size[1]);
  rect->SetColor(color);
  rect->SetOrientation(0);
  Matrix3x4& t = rect->GetTransform();
  t.SetRotationPart(fit.rotation);
  t.m[3] = fit.centre.x;
  t.m[7] = fit.centre.y;
  t.m[11] = fit.centre.z;
  return rect;
}
