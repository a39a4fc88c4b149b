#include "scene/plane_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

#include "foundation/tracks/feature_point.h"
#include "scene/objects/primitives.h"
#include "testing/log_capture.h"

#ifdef KALVEX_HAVE_EIGEN
#include <Eigen/Dense>
#endif

namespace {

using vm::Vector3;

// Owns the points of a selection and hands out the pointer list the fit takes.
struct Selection {
  std::vector<std::unique_ptr<FeaturePoint3D>> owned;
  std::vector<const FeaturePoint3D*> points;

  Selection() = default;
  Selection(std::initializer_list<Vector3> list) {
    for (const Vector3& p : list) Add(p);
  }
  void Add(const Vector3& p) {
    owned.push_back(std::make_unique<FeaturePoint3D>(p.x, p.y, p.z, FeaturePoint3D::eCartesian));
    points.push_back(owned.back().get());
  }
};

Vector3 Column(const Matrix3x3& M, int i) {
  return {M.m[i], M.m[3 + i], M.m[6 + i]};
}

void ExpectNear(const Vector3& got, const Vector3& want, double tolerance) {
  EXPECT_NEAR(got.x, want.x, tolerance);
  EXPECT_NEAR(got.y, want.y, tolerance);
  EXPECT_NEAR(got.z, want.z, tolerance);
}

// Columns unit and orthogonal, a × b = normal, and the sign rules a.x ≥ 0, b.y ≥ 0.
void ExpectRightHandedFrame(const PlaneFit& fit) {
  const Vector3 a = Column(fit.rotation, 0), b = Column(fit.rotation, 1),
                n = Column(fit.rotation, 2);
  EXPECT_NEAR(a.Length(), 1, 1e-12);
  EXPECT_NEAR(b.Length(), 1, 1e-12);
  EXPECT_NEAR(a.Dot(b), 0, 1e-12);
  ExpectNear(a.Cross(b), n, 1e-12);
  EXPECT_GE(a.x, 0);
  EXPECT_GE(b.y, 0);
}

// A point set in a tilted plane: a rectangle-ish cloud (half sizes w, h) turned by phi in
// the plane, with `noise` off the plane.
Selection TiltedCloud(int n, double w, double h, double phi, double noise, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::normal_distribution<double> off(0, noise);
  const Vector3 e0 = Vector3{2, 1, 0.5} * (1 / std::sqrt(5.25));
  Vector3 e1 = Vector3{-1, 2, 1};
  e1 = (e1 - e0 * e1.Dot(e0)) * (1 / (e1 - e0 * e1.Dot(e0)).Length());
  const Vector3 normal = e0.Cross(e1);
  const Vector3 origin{10, -4, 30};
  Selection s;
  for (int i = 0; i < n; ++i) {
    const double x = w * unit(rng), y = h * unit(rng);
    const double xr = x * std::cos(phi) - y * std::sin(phi);
    const double yr = x * std::sin(phi) + y * std::cos(phi);
    s.Add(origin + e0 * xr + e1 * yr + normal * (noise > 0 ? off(rng) : 0.0));
  }
  return s;
}

TEST(PlaneFit, AxisAlignedRectangle) {
  for (const bool three : {false, true}) {
    SCOPED_TRACE(three);
    Selection s = three ? Selection{{4, 0, 1}, {0, 0, 1}, {0, 2, 1}}
                        : Selection{{0, 0, 1}, {4, 0, 1}, {4, 2, 1}, {0, 2, 1}};
    PlaneFit fit;
    ASSERT_EQ(fit_plane_random_sampling(s.points, fit), 0);
    ExpectNear(fit.centre, {2, 1, 1}, 1e-12);
    EXPECT_NEAR(fit.half_size[0], 2, 1e-12);
    EXPECT_NEAR(fit.half_size[1], 1, 1e-12);
    ExpectNear(Column(fit.rotation, 0), {1, 0, 0}, 1e-12);
    ExpectNear(Column(fit.rotation, 1), {0, 1, 0}, 1e-12);
    ExpectNear(Column(fit.rotation, 2), {0, 0, 1}, 1e-12);
  }
}

TEST(PlaneFit, RefusalsLeaveTheOutputUntouched) {
  struct Case {
    const char* what;
    Selection s;
    int code;
  };
  Case cases[] = {
      {"none", {}, -1},
      {"two", {{0, 0, 0}, {1, 0, 0}}, -1},
      {"two coincide (first pair)", {{1, 1, 1}, {1, 1, 1}, {3, 0, 0}}, -4},
      {"two coincide (other pair)", {{1, 1, 1}, {3, 0, 0}, {3, 0, 0}}, -4},
      {"on a line", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, -4},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlaneFit fit;
    fit.centre = {7, 7, 7};
    for (double& v : fit.rotation.m) v = 7;
    fit.half_size[0] = fit.half_size[1] = 7;
    EXPECT_EQ(fit_plane_random_sampling(c.s.points, fit), c.code);
    ExpectNear(fit.centre, {7, 7, 7}, 0);
    for (double v : fit.rotation.m) EXPECT_EQ(v, 7);
    EXPECT_EQ(fit.half_size[0], 7);
    EXPECT_EQ(fit.half_size[1], 7);
    if (c.s.points.size() >= 3) {
      EXPECT_EQ(gen_approx_plane(c.s.points, 0xffffffff), nullptr);
    }
  }
}

// Four or more points need not span a plane; the frame must stay a rotation.
TEST(PlaneFit, CollinearAndCoincidentSetsKeepAnOrthonormalFrame) {
  Selection line{{0, 0, 0}, {1, 2, 3}, {2, 4, 6}, {5, 10, 15}};
  Selection spot{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
  for (Selection* s : {&line, &spot}) {
    PlaneFit fit;
    ASSERT_EQ(fit_plane_random_sampling(s->points, fit), 0);
    ExpectRightHandedFrame(fit);
    EXPECT_TRUE(std::isfinite(fit.centre.x + fit.centre.y + fit.centre.z));
  }
}

#ifdef KALVEX_HAVE_EIGEN
TEST(PlaneFit, NormalIsTheLastSingularVectorOfTheCentredPoints) {
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    Selection s = TiltedCloud(60, 8, 3, 0.3 * seed, 0.05, seed);
    Eigen::MatrixXd A(s.points.size(), 3);
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (const FeaturePoint3D* p : s.points) mean += Eigen::Vector3d(p->x, p->y, p->z);
    mean /= static_cast<double>(s.points.size());
    for (size_t i = 0; i < s.points.size(); ++i) {
      A.row(static_cast<Eigen::Index>(i)) =
          Eigen::Vector3d(s.points[i]->x, s.points[i]->y, s.points[i]->z) - mean;
    }
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeThinV);
    const Eigen::Vector3d want = svd.matrixV().col(2);

    PlaneFit fit;
    ASSERT_EQ(fit_plane_random_sampling(s.points, fit), 0);
    const Vector3 n = Column(fit.rotation, 2);
    EXPECT_NEAR(std::abs(n.x * want.x() + n.y * want.y() + n.z * want.z()), 1.0, 1e-9);
    ExpectRightHandedFrame(fit);
    // The centre lies in the plane through the mean.
    EXPECT_NEAR((fit.centre - Vector3{mean.x(), mean.y(), mean.z()}).Dot(n), 0, 1e-9);
  }
}
#endif

// The smallest bounding rectangle of points in the plane z = 0: some side of it runs along
// a hull edge, so trying the direction of every pair of points finds it.
struct Box2D {
  double area, w, h;
};
Box2D BruteForceMinimumRectangle(const std::vector<Vector3>& p) {
  Box2D best{HUGE_VAL, 0, 0};
  for (size_t i = 0; i < p.size(); ++i) {
    for (size_t j = i + 1; j < p.size(); ++j) {
      Vector3 d = p[j] - p[i];
      if (d.Length() == 0) continue;
      d = d * (1 / d.Length());
      const Vector3 e{-d.y, d.x, 0};
      double lx = HUGE_VAL, hx = -HUGE_VAL, ly = HUGE_VAL, hy = -HUGE_VAL;
      for (const Vector3& q : p) {
        lx = std::min(lx, q.Dot(d));
        hx = std::max(hx, q.Dot(d));
        ly = std::min(ly, q.Dot(e));
        hy = std::max(hy, q.Dot(e));
      }
      if ((hx - lx) * (hy - ly) < best.area) best = {(hx - lx) * (hy - ly), hx - lx, hy - ly};
    }
  }
  return best;
}

TEST(PlaneFit, RectangleAreaWithinTheTurnStepOfTheMinimum) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE(trial);
    const double phi = std::numbers::pi * (unit(rng) + 1), w = 6 + 4 * unit(rng),
                 h = 3 + 2 * unit(rng);
    Selection s;
    std::vector<Vector3> flat;
    for (int i = 0; i < 30; ++i) {
      const double x = w * unit(rng), y = h * unit(rng);
      flat.push_back(
          {x * std::cos(phi) - y * std::sin(phi), x * std::sin(phi) + y * std::cos(phi), 0});
      s.Add(flat.back() + Vector3{0, 0, 2});
    }
    const Box2D best = BruteForceMinimumRectangle(flat);
    PlaneFit fit;
    ASSERT_EQ(fit_plane_random_sampling(s.points, fit), 0);
    ExpectRightHandedFrame(fit);
    const double area = 4 * fit.half_size[0] * fit.half_size[1];
    // The best rectangle turned by up to half a step (π/64) has a bounding box of area
    // wh + (w² + h²) sin δ cos δ, which bounds the chosen turn's area.
    const double delta = std::numbers::pi / 64;
    EXPECT_GE(area, best.area * (1 - 1e-9));
    EXPECT_LE(
        area,
        best.area + (best.w * best.w + best.h * best.h) * std::sin(delta) * std::cos(delta) + 1e-9);
    // Every point lies in the rectangle.
    const Vector3 a = Column(fit.rotation, 0), b = Column(fit.rotation, 1);
    for (const FeaturePoint3D* p : s.points) {
      EXPECT_LE(std::abs((*p - fit.centre).Dot(a)), fit.half_size[0] + 1e-9);
      EXPECT_LE(std::abs((*p - fit.centre).Dot(b)), fit.half_size[1] + 1e-9);
    }
  }
}

TEST(PlaneFit, AxisNearerWorldXComesFirst) {
  // A long rectangle along y: the first axis is still the one nearer x, with its half size.
  Selection s{{0, 0, 0}, {1, 0, 0}, {1, 6, 0}, {0, 6, 0}};
  PlaneFit fit;
  ASSERT_EQ(fit_plane_random_sampling(s.points, fit), 0);
  ExpectNear(Column(fit.rotation, 0), {1, 0, 0}, 1e-12);
  ExpectNear(Column(fit.rotation, 1), {0, 1, 0}, 1e-12);
  EXPECT_NEAR(fit.half_size[0], 0.5, 1e-12);
  EXPECT_NEAR(fit.half_size[1], 3, 1e-12);
}

TEST(GenApproxPlane, RectanglePlacedOnThePointsAndLogged) {
  Selection s = TiltedCloud(40, 5, 2, 0.4, 0, 3);
  kxtest::LogCapture log(5);
  std::unique_ptr<NHSObject_Rect> rect(gen_approx_plane(s.points, 0xff112233));
  ASSERT_NE(rect, nullptr);
  EXPECT_TRUE(log.Has("Scene: gen_approx_plane: from 40 points"));
  EXPECT_EQ(rect->GetColor(), 0xff112233u);
  EXPECT_EQ(rect->GetOrientation(), 0u);
  EXPECT_EQ(rect->GetParent(), nullptr);
  EXPECT_EQ(UIDRegistry::Instance().GetName(rect->GetUID()), nullptr);
  EXPECT_FLOAT_EQ(rect->s0(), -rect->s1());
  EXPECT_FLOAT_EQ(rect->t0(), -rect->t1());
  // Each point, taken into the rectangle's frame, lies in its plane and within its corners.
  Matrix3x4 inverse;
  ASSERT_TRUE(inverse.InvertAffine(rect->GetTransform()));
  for (const FeaturePoint3D* p : s.points) {
    const Vector3 q{
        inverse.m[0] * p->x + inverse.m[1] * p->y + inverse.m[2] * p->z + inverse.m[3],
        inverse.m[4] * p->x + inverse.m[5] * p->y + inverse.m[6] * p->z + inverse.m[7],
        inverse.m[8] * p->x + inverse.m[9] * p->y + inverse.m[10] * p->z + inverse.m[11]};
    EXPECT_NEAR(q.z, 0, 1e-9);
    EXPECT_LE(std::abs(q.x), rect->s1() + 1e-5);
    EXPECT_LE(std::abs(q.y), rect->t1() + 1e-5);
  }
}

}  // namespace
