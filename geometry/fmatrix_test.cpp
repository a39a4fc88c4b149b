#include "geometry/fmatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/camera/camera_geometry.h"
#include "geometry/triangulate_two_view.h"
#include "geometry/two_view_scene_for_test.h"
#include "testing/log_capture.h"

#ifdef KALVEX_HAVE_EIGEN
#include <Eigen/Dense>
#endif

namespace {

using kxtest::MakeCamera;
using kxtest::RotationXYZ;

constexpr double kFocal = 30.0;  // mm

CorrEl El(double x0, double y0, double x1, double y1) {
  CorrEl e;
  e.x0 = x0, e.y0 = y0, e.x1 = x1, e.y1 = y1;
  return e;
}

// Two cameras with the same calibration (principal point off the centre) looking at a
// box of points; camera 0 is the world frame.
struct CalibratedPair : ::testing::Test {
  CalibratedPair()
      : c0(MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), kFocal, 20, -15)),
        c1(MakeCamera({400, 50, -30}, RotationXYZ(0.02, -0.1, 0.03), kFocal, 20, -15)),
        scene(kxtest::MakeTwoViewScene(c0, c1, 40)) {
    EstimatorFMatrix estimator;
    estimator.SetCorrespondences(scene.correspondences, c0, c1);
    EXPECT_TRUE(estimator.NormalizedEightPointAlgorithm(f));
    f.SetCorrespondences(scene.correspondences, c0, c1);
  }

  // Triangulates every element with the pair and expects each point back on its pixels.
  void ExpectReprojects(const PerspectiveCamera& a, const PerspectiveCamera& b) const {
    for (size_t i = 0; i < f.m_vecCorr.size(); ++i) {
      const CorrEl& e = f.m_vecCorr[i];
      double x[3];
      ASSERT_TRUE(TriangulateTwoViewLinear(x, &a, &b, e.x0, e.y0, e.x1, e.y1));
      double u, v, depth;
      a.ProjectPoint({x[0], x[1], x[2]}, u, v, depth, false);
      EXPECT_NEAR(u, scene.correspondences[i]->GetFirst()->x, 1e-5);
      EXPECT_NEAR(v, scene.correspondences[i]->GetFirst()->y, 1e-5);
      b.ProjectPoint({x[0], x[1], x[2]}, u, v, depth, false);
      EXPECT_NEAR(u, scene.correspondences[i]->GetSecond()->x, 1e-5);
      EXPECT_NEAR(v, scene.correspondences[i]->GetSecond()->y, 1e-5);
    }
  }

  // World-to-camera rotation (rows H0, V0, A).
  static Matrix3x3 Rotation(const PerspectiveCamera& c) {
    const vm::Vector3 h = c.H0(), v = c.V0(), a = c.GetA();
    return {{h.x, h.y, h.z, v.x, v.y, v.z, a.x, a.y, a.z}};
  }

  PerspectiveCamera c0, c1;
  kxtest::TwoViewScene scene;
  FMatrix f;
};

TEST_F(CalibratedPair, EightPointSatisfiesTheEpipolarConstraint) {
  ASSERT_EQ(f.m_vecCorr.size(), 40u);
  EXPECT_LT(f.GetMSESymmetricEpipolarDistance(), 1e-16);
  Matrix3x3 fm;
  for (int i = 0; i < 9; ++i) fm.m[i] = f.m[i];
  const double det = fm[0][0] * (fm[1][1] * fm[2][2] - fm[1][2] * fm[2][1]) -
                     fm[0][1] * (fm[1][0] * fm[2][2] - fm[1][2] * fm[2][0]) +
                     fm[0][2] * (fm[1][0] * fm[2][1] - fm[1][1] * fm[2][0]);
  EXPECT_NEAR(det, 0.0, 1e-15) << "rank 2";
  vm::Vector3 e, e2;
  EXPECT_TRUE(FMatrix::GetEpipoles(fm, e, e2));
  EXPECT_NEAR(MultiplyMat3Vec3(fm, e).Length(), 0.0, 1e-12);
  EXPECT_NEAR(MultiplyMat3TransposedVec3(fm, e2).Length(), 0.0, 1e-12);
  EXPECT_NEAR(e.Length(), 1.0, 1e-12);
  // The epipole in image 0 is camera 1's centre (400, 50, -30) seen from camera 0, in mm
  // about the principal point.
  EXPECT_NEAR(e.x / e.z, kFocal * 400 / -30, 1e-6);
  EXPECT_NEAR(e.y / e.z, kFocal * 50 / -30, 1e-6);
}

TEST(EstimatorFMatrixTest, NeedsEightElements) {
  FMatrix out;
  out.m[0] = 42.0;
  EstimatorFMatrix estimator;
  for (int i = 0; i < 7; ++i) estimator.m_vecCorr.push_back(El(i, i * i, i + 1, 2 * i - 3));
  {
    kxtest::LogCapture log(5);
    EXPECT_FALSE(estimator.NormalizedEightPointAlgorithm(out));
    EXPECT_TRUE(log.Has("correspondence size less than 8"));
    EXPECT_TRUE(log.Has("              missing call of EstimatorFMatrix::SetCorrespondences"));
  }
  EXPECT_EQ(out.m[0], 42.0);
  estimator.m_vecCorr.push_back(El(3, -1, 2, 5));
  EXPECT_TRUE(estimator.NormalizedEightPointAlgorithm(out));
  EXPECT_NE(out.m[0], 42.0);
}

TEST_F(CalibratedPair, CheiralityPicksTheTypeWithPointsInFront) {
  int passing = 0;
  for (int type = 1; type <= 4; ++type) {
    SCOPED_TRACE(type);
    PerspectiveCamera second = c1;
    const bool pass = f.RectifyCAHVtoEMatrix(c0, second, type);
    int in_front = 0;
    for (const CorrEl& e : f.m_vecCorr) {
      double x[3], u, v, d0, d1;
      TriangulateTwoViewLinear(x, &c0, &second, e.x0, e.y0, e.x1, e.y1);
      c0.ProjectPoint({x[0], x[1], x[2]}, u, v, d0, false);
      second.ProjectPoint({x[0], x[1], x[2]}, u, v, d1, false);
      if (d0 > 0 && d1 > 0) ++in_front;
    }
    EXPECT_EQ(pass, 2 * in_front > static_cast<int>(f.m_vecCorr.size()));
    passing += pass;
    if (pass) {
      const Matrix3x3 r = Rotation(second), want = Rotation(c1);
      for (int i = 0; i < 9; ++i) EXPECT_NEAR(r.m[i], want.m[i], 1e-9);
      const vm::Vector3 dir = c1.GetC() * (1.0 / c1.GetC().Length());
      EXPECT_NEAR((second.GetC() - dir).Length(), 0.0, 1e-9) << "a unit baseline";
      EXPECT_NEAR(second.GetFocalLength(), kFocal, 1e-9);
      EXPECT_NEAR(second.GetCenterPointX(), 20.0, 1e-9);
      EXPECT_NEAR(second.GetCenterPointY(), -15.0, 1e-9);
    }
  }
  EXPECT_EQ(passing, 1);
}

TEST_F(CalibratedPair, KnownCalibrationGivesTheScaledPairThatReprojects) {
  PerspectiveCamera a = c0, b = c1;
  ASSERT_TRUE(f.RectifyCAHVtoFMatrixKnownK(-2, a, b));
  EXPECT_NEAR((a.GetC() - c0.GetC()).Length(), 0.0, 0.0) << "the reference stays";
  EXPECT_NEAR(b.GetC().Length(), kFocal * 2 * 0.2, 1e-9);
  ExpectReprojects(a, b);
}

#ifdef KALVEX_HAVE_EIGEN
// The textbook decomposition E = U diag(1, 1, 0) V^T: R = U W V^T or U W^T V^T,
// t = +-u3, the candidate with the first point in front of both cameras.
TEST_F(CalibratedPair, RotationAndBaselineAgreeWithAnIndependentDecomposition) {
  Eigen::Matrix3d e;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      e(i, j) = f.m[3 * i + j] * (i < 2 ? kFocal : 1.0) * (j < 2 ? kFocal : 1.0);
  Eigen::JacobiSVD<Eigen::Matrix3d> svd(e, Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d u = svd.matrixU(), v = svd.matrixV(), w;
  if (u.determinant() < 0) u = -u;
  if (v.determinant() < 0) v = -v;
  w << 0, -1, 0, 1, 0, 0, 0, 0, 1;
  const CorrEl& el = f.m_vecCorr[0];
  const Eigen::Vector3d p0(el.x0 / kFocal, el.y0 / kFocal, 1),
      p1(el.x1 / kFocal, el.y1 / kFocal, 1);
  Eigen::Matrix3d best_r;
  Eigen::Vector3d best_t;
  int found = 0;
  for (const Eigen::Matrix3d& r : {Eigen::Matrix3d(u * w * v.transpose()),
                                   Eigen::Matrix3d(u * w.transpose() * v.transpose())}) {
    for (double sign : {1.0, -1.0}) {
      const Eigen::Vector3d t = sign * u.col(2);
      // Depths z0, z1 with z1 p1 = z0 R p0 + t, by least squares.
      Eigen::Matrix<double, 3, 2> m;
      m.col(0) = r * p0;
      m.col(1) = -p1;
      const Eigen::Vector2d z = m.colPivHouseholderQr().solve(-t);
      if (z(0) > 0 && z(1) > 0) best_r = r, best_t = t, ++found;
    }
  }
  ASSERT_EQ(found, 1);

  PerspectiveCamera a = c0, b = c1;
  ASSERT_TRUE(f.RectifyCAHVtoFMatrixKnownK(1, a, b));
  const Matrix3x3 r = Rotation(b);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(r[i][j], best_r(i, j), 1e-9);
  // t = -R C with |C| = f * 0.2.
  const vm::Vector3 t = MultiplyMat3Vec3(r, b.GetC()) * (-1.0 / (kFocal * 0.2));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(t[i], best_t(i), 1e-9);
}
#endif

TEST(FMatrixKnownKTest, FailsUnlessExactlyOneTypePasses) {
  // Forward motion with the point on the epipole: every cheirality product is 0, so all
  // four types pass; the cameras end on type 4.
  FMatrix f;
  const double m[9] = {0, -1, 0, 1, 0, 0, 0, 0, 0};
  f.SetMatrix(m);
  f.m_vecCorr.push_back(El(1, 2, 0, 0));
  const PerspectiveCamera c0 = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), kFocal);
  const PerspectiveCamera far = MakeCamera({5, 5, 5}, RotationXYZ(0.3, 0, 0), kFocal);
  PerspectiveCamera a = c0, b = far, type4 = far;
  EXPECT_TRUE(f.RectifyCAHVtoEMatrix(c0, type4, 4));
  {
    kxtest::LogCapture log(5);
    EXPECT_FALSE(f.RectifyCAHVtoFMatrixKnownK(1, a, b));
    EXPECT_TRUE(log.Has(
        " FMatrix::RectifyCAHVtoFMatrixKnownK No unique initial guess from F-Matrix found"));
  }
  EXPECT_NEAR((b.GetA() - type4.GetA()).Length(), 0.0, 1e-12);

  // No elements: no type passes and the cameras stay.
  f.m_vecCorr.clear();
  a = c0, b = far;
  {
    kxtest::LogCapture log(5);
    EXPECT_FALSE(f.RectifyCAHVtoFMatrixKnownK(1, a, b));
    EXPECT_TRUE(log.Has("FMatrix::RectifyCAHVtoEMatrix: no correspondences set"));
  }
  EXPECT_EQ(b.GetC(), far.GetC());
  EXPECT_EQ(b.GetA(), far.GetA());
}

TEST_F(CalibratedPair, UnknownCalibrationKeepsTheFirstBestPossibility) {
  // The 35 mm equivalent of the true focal length: f 36 / (sx width).
  const double f35 = kFocal * 36 / (0.1 * 720);
  PerspectiveCamera a = c0, b = c1;
  ASSERT_TRUE(f.RectifyCAHVtoFMatrixUnknownK(3, a, b, f35));
  EXPECT_NEAR(a.GetFocalLength(), kFocal, 1e-9);
  EXPECT_NEAR(a.GetC().Length(), 0.0, 1e-12);
  EXPECT_NEAR(a.GetCenterPointX(), 20.0, 1e-9);
  EXPECT_NEAR(a.GetCenterPointY(), -15.0, 1e-9);

  // Possibilities 1 and 2 differ in the sign of the baseline only; every element
  // triangulates, so the first one is kept and its baseline scaled.
  PerspectiveCamera r1 = c0, s1 = c1, r2 = c0, s2 = c1;
  const int n = static_cast<int>(f.m_vecCorr.size());
  EXPECT_EQ(f.RectifyCAHVtoFMatrix(r1, s1, 1, f35), n);
  EXPECT_EQ(f.RectifyCAHVtoFMatrix(r2, s2, 2, f35), n);
  EXPECT_NEAR((b.GetC() - s1.GetC() * (kFocal * 3 * 0.2)).Length(), 0.0, 1e-9);
  EXPECT_NEAR((s1.GetC() + s2.GetC()).Length(), 0.0, 1e-9);
  EXPECT_NEAR((s1.GetA() - s2.GetA()).Length(), 0.0, 1e-12);
}

TEST(FMatrixRectifyTest, FocalLengthFromPriorNormalLensOrTen) {
  PerspectiveCamera normal = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), kFocal);
  PerspectiveCamera empty;
  empty.Set({0, 0, 0}, {0, 0, 1}, {300, 0, 0}, {0, 300, 0}, 0, 0, 0, 0.1, 0.1, 0, 0, Poly3);
  struct Case {
    const char* name;
    PerspectiveCamera camera;
    double prior, want;
    bool warns;
  };
  const Case cases[] = {
      {"35 mm prior", normal, 15.0, 30.0, false},
      {"no prior: normal lens", normal, -11.0, normal.GetNormalFocalLength(), false},
      {"no size: 10 mm", empty, -11.0, 10.0, true},
  };
  FMatrix f;
  const double m[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  f.SetMatrix(m);
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    PerspectiveCamera reference = t.camera, second = t.camera;
    kxtest::LogCapture log(5);
    f.RectifyCAHVtoFMatrix(reference, second, 2, t.prior);
    EXPECT_NEAR(reference.GetFocalLength(), t.want, 1e-9);
    EXPECT_EQ(log.Has("FMatrix::RectifyCAHVtoFMatrix: approx. focal <= 0.0, correct to 10"),
              t.warns);
  }
}

TEST(FMatrixTest, SortSVDSolutionOrdersValuesAndColumns) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    double s[3];
    int order[3];  // source column of each result column
    int small;
    bool warns;
  };
  const Case cases[] = {
      {"3 1 2", {3, 1, 2}, {0, 2, 1}, 0, false},
      {"1 2 3", {1, 2, 3}, {2, 1, 0}, 0, false},
      {"2 3 1", {2, 3, 1}, {1, 0, 2}, 0, false},
      {"ties keep the first", {2, 2, 1}, {0, 1, 2}, 0, false},
      {"two tiny", {0, 1e-20, 5}, {2, 1, 0}, 2, false},
      {"NaN first", {nan, 1, 2}, {2, 1, 0}, 0, true},
      {"NaN middle", {4, nan, 5}, {2, 0, 1}, 0, true},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    Matrix3x3 u, v;
    for (int i = 0; i < 9; ++i) u.m[i] = i, v.m[i] = 10 + i;
    const Matrix3x3 u0 = u, v0 = v;
    double s[3] = {t.s[0], t.s[1], t.s[2]};
    kxtest::LogCapture log(5);
    EXPECT_EQ(FMatrix::SortSVDSolution(u, s, v), t.small);
    for (int c = 0; c < 3; ++c) {
      const double want = t.s[t.order[c]];
      if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(s[c]));
      } else {
        EXPECT_EQ(s[c], want);
      }
      for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(u[r][c], u0[r][t.order[c]]);
        EXPECT_EQ(v[r][c], v0[r][t.order[c]]);
      }
    }
    EXPECT_EQ(log.Has("FMatrix::SortSVDSolution: this code should never be reached"), t.warns);
  }
}

TEST(FMatrixTest, RotationFromEMatrixRecoversRAndItsTwist) {
  struct Case {
    const char* name;
    vm::Vector3 axis;
    double angle;
    vm::Vector3 t;
  };
  const Case cases[] = {
      {"small turn", {0.2, 1, 0.1}, 0.15, {0.6, 0.0, 0.8}},
      {"large turn", {1, -1, 2}, 2.5, {-0.48, 0.6, 0.64}},
      {"no turn", {0, 0, 1}, 0.0, {1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Matrix3x3 r, tx, e, got;
    r.SetIdentity();
    r.SetRotation(c.axis, c.angle);
    tx = {{0, -c.t.z, c.t.y, c.t.z, 0, -c.t.x, -c.t.y, c.t.x, 0}};
    e.Multiply(tx, r);
    FMatrix::RotationFromEMatrix(got, e, c.t);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(got.m[i], r.m[i], 1e-8);
    // -E gives the rotation turned half way round t: (2 t t^T - I) R.
    Matrix3x3 twist, ne;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) twist[i][j] = 2 * c.t[i] * c.t[j] - (i == j ? 1 : 0);
    twist.Multiply(twist, r);
    e.Negate(ne);
    FMatrix::RotationFromEMatrix(got, ne, c.t);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(got.m[i], twist.m[i], 1e-8);
  }
}

TEST(HMatrix2DTest, SymmetricDistanceAndSentinels) {
  HMatrix2D h;
  EXPECT_EQ(h.GetMSESymmetricDistance(), 1e16);
  // Identity: a point 0.2 mm off at 0.1 mm pixels is 2 px off both ways.
  h.m_sx = h.m_sy = 0.1;
  h.m_vecCorr = {El(0, 0, 0.2, 0)};
  EXPECT_NEAR(h.GetMSESymmetricDistance(), 2.0, 1e-12);
  // w = x0 + 1 forward, w' = 1 - x1 backward.
  const double m[9] = {1, 0, 0, 0, 1, 0, 1, 0, 1};
  for (int i = 0; i < 9; ++i) h.m[i] = m[i];
  struct Case {
    const char* name;
    CorrEl e;
    double want;
  };
  const Case cases[] = {{"forward at infinity", El(-1, 0, 0, 0), 1e16},
                        {"backward at infinity", El(0, 0, 1, 0), 1e10}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    h.m_vecCorr = {El(0.5, 0, 1.0 / 3.0, 0), t.e};
    kxtest::LogCapture log(5);
    EXPECT_EQ(h.GetMSESymmetricDistance(), t.want);
    EXPECT_TRUE(log.Has(
        "HMatrix2D::GetMSESymmetricDistance: denominator == 0.0 , returning large distance!"));
  }
}

TEST(FMatrixTest, SymmetricEpipolarDistanceAndSentinels) {
  FMatrix f;
  {
    kxtest::LogCapture log(5);
    EXPECT_EQ(f.GetMSESymmetricEpipolarDistance(), 1e32);
    EXPECT_TRUE(log.Has("FMatrix::GetMSESymmetricEpipolarDistance: no correspondences set"));
  }
  struct Case {
    const char* name;
    double m[9];
    double want;
  };
  const Case cases[] = {
      // Sideways motion: epipolar lines are rows; each point is 0.2 mm = 2 px off.
      {"two pixels each way", {0, 0, 0, 0, 0, -1, 0, 1, 0}, 2.0},
      {"no line in image 1", {0, 0, 0, 0, 0, 0, 0, 0, 1}, 1e34},
      {"no line in image 0", {0, 0, 1, 0, 0, 0, 0, 0, 0}, 1e36},
  };
  f.m_sx = f.m_sy = 0.1;
  f.m_vecCorr = {El(0, 0, 0, 0.2)};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    f.SetMatrix(t.m);
    EXPECT_NEAR(f.GetMSESymmetricEpipolarDistance(), t.want, 1e-12 * t.want);
  }
}

TEST(FMatrixTest, SetCorrespondencesMapsToMillimetresAboutThePrincipalPoint) {
  const PerspectiveCamera c0 = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), kFocal, 10, -5);
  PerspectiveCamera c1 = MakeCamera({0, 0, 0}, RotationXYZ(0, 0, 0), kFocal);
  c1.SetPixelSize(0.2, 0.3);
  const t_ListFCorr list = {SharedPtr<FeatureCorrespondence>::Make(
      SharedPtr<FeaturePoint2D>::Make(nullptr, 369.5, 282.5),
      SharedPtr<FeaturePoint2D>::Make(nullptr, 359.5, 289.5))};
  FMatrix f;
  HMatrix2D h;
  EstimatorFMatrix est;
  f.SetCorrespondences(list, c0, c1);
  h.SetCorrespondences(list, c0, c1);
  est.SetCorrespondences(list, c0, c1);
  for (const std::vector<CorrEl>* v : {&f.m_vecCorr, &h.m_vecCorr, &est.m_vecCorr}) {
    ASSERT_EQ(v->size(), 1u);
    EXPECT_NEAR((*v)[0].x0, 0.0, 1e-12);
    EXPECT_NEAR((*v)[0].y0, 0.0, 1e-12);
    EXPECT_NEAR((*v)[0].x1, 0.0, 1e-12);
    EXPECT_NEAR((*v)[0].y1, 0.6, 1e-12);
  }
  EXPECT_EQ(f.m_sx, 0.1);
  EXPECT_EQ(h.m_sy, 0.1);
}

}  // namespace
