#include "interaction/observer_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>
#include <glm/glm.hpp>
#include <numbers>

#include "interaction/viewer_for_test.h"
#include "scene/scene.h"
#include "testing/log_capture.h"

namespace {

using uic::ObserverView;

constexpr double kPi = std::numbers::pi;

// GLM is column-major: element (row r, column c) is g[c][r].
double At(const glm::dmat4& g, int r, int c) {
  return g[c][r];
}

void ExpectNear(const Matrix4x4& m, const glm::dmat4& g, double tol) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m[r][c], At(g, r, c), tol) << r << "," << c;
}

void ExpectNear(const vm::Vector3& v, const glm::dvec3& g, double tol) {
  EXPECT_NEAR(v.x, g.x, tol);
  EXPECT_NEAR(v.y, g.y, tol);
  EXPECT_NEAR(v.z, g.z, tol);
}

glm::dvec3 G(const vm::Vector3& v) {
  return {v.x, v.y, v.z};
}

// The perspective as the observer defines it, from GLM's left-handed one: the same first,
// second and fourth rows; the third row (which GLM writes with a negative offset) taken
// with the opposite sign of its offset and scaled to the first row's length.
glm::dmat4 ReferencePerspective(double fov_deg, double aspect, double n, double f) {
  glm::dmat4 g = glm::perspectiveLH_NO(glm::radians(fov_deg), aspect, n, f);
  const double a = At(g, 2, 2), b = -At(g, 2, 3);
  const double s = std::fabs(At(g, 0, 0)) / std::hypot(a, b);
  g[2][2] = a * s;
  g[3][2] = b * s;
  return g;
}

// projection = perspective x look-at x translation, with GLM's left-handed look-at (rows s,
// u, f, looking along +f) as the reference.
glm::dmat4 ReferenceProjection(const glm::dvec3& eye, const glm::dvec3& centre,
                               const glm::dvec3& up) {
  return ReferencePerspective(15.0, 1.0, 0.1, 1000.0) * glm::lookAtLH(eye, centre, up);
}

TEST(ObserverPerspective, WorkedValuesAndReference) {
  Matrix4x4 P;
  ASSERT_EQ(ObserverView::MakePerspective(15, 1, 0.1, 1000, P), 0);
  EXPECT_NEAR(P[0][0], 7.595754, 1e-6);
  EXPECT_NEAR(P[1][1], 7.595754, 1e-6);
  EXPECT_NEAR(P[2][2], 7.448278, 1e-6);
  EXPECT_NEAR(P[2][3], 1.489507, 1e-6);
  EXPECT_EQ(P[3][2], 1.0);
  ExpectNear(P, ReferencePerspective(15, 1, 0.1, 1000), 1e-12);

  ASSERT_EQ(ObserverView::MakePerspective(60, 1.5, 2, 50, P), 0);
  ExpectNear(P, ReferencePerspective(60, 1.5, 2, 50), 1e-12);
}

TEST(ObserverPerspective, DegenerateInputsLeaveTheMatrix) {
  struct Case {
    double fov, aspect, n, f;
    int code;
  };
  for (const Case& c : {Case{15, 1, 5, 5, -1}, Case{15, 0, 0.1, 1000, -2},
                        Case{0, 1, 0.1, 1000, -3}, Case{15, 0, 3, 3, -1}}) {
    Matrix4x4 P;
    for (double& x : P.m) x = 42.0;
    EXPECT_EQ(ObserverView::MakePerspective(c.fov, c.aspect, c.n, c.f, P), c.code);
    for (double x : P.m) EXPECT_EQ(x, 42.0);
  }
}

TEST(ObserverLookAt, MatchesReferenceAndDegenerateGivesZeroRows) {
  const vm::Vector3 eye{3, -2, 7}, target{-1, 4, 0.5}, up{0.2, 1, -0.1};
  const Matrix4x4 V = ObserverView::LookAt(target, eye, up);
  glm::dmat4 g = glm::lookAtLH(G(eye), G(target), G(up));
  g[3] = glm::dvec4(0, 0, 0, 1);  // rotation only
  ExpectNear(V, g, 1e-12);

  for (const Matrix4x4& D : {ObserverView::LookAt(eye, eye, up),
                             ObserverView::LookAt({0, 5, 0}, {0, 0, 0}, {0, 1, 0})}) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(D[0][c], 0.0);  // s = v x f = 0
    EXPECT_EQ(D[3][3], 1.0);
  }
}

class ObserverWithScene : public ::testing::Test {
 protected:
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current{&tracker};
  Scene& scene = tracker.GetScene();
  const double still[6] = {0, 0, 0, 0, 0, 0};
};

TEST_F(ObserverWithScene, ResetLooksAtTheOrigin) {
  scene.SetOrbitCenter({4, 5, 6});
  ObserverView view;
  view.ResetObserver();
  EXPECT_EQ(scene.GetOrbitCenter(), (vm::Vector3{0, 0, 0}));
  EXPECT_EQ(view.m_eye, (vm::Vector3{0, 0, -200}));
  EXPECT_EQ(view.m_distance, 200.0);
  ExpectNear(view.m_projection, ReferenceProjection({0, 0, -200}, {0, 0, 0}, {0, 1, 0}), 1e-12);
  Vector4 o;
  o.Multiply(view.m_projection, {0, 0, 0});
  EXPECT_NEAR(o[0] / o[3], 0.0, 1e-12);
  EXPECT_NEAR(o[1] / o[3], 0.0, 1e-12);
  EXPECT_GT(o[3], 0.0);  // in front

  // The first update applies the reset's tilt: eye = Rx(-0.2) (0, 0, -200).
  view.UpdateProjection(still);
  const glm::dmat4 Rx = glm::rotate(glm::dmat4(1.0), -0.2, glm::dvec3(1, 0, 0));
  const glm::dvec3 eye = glm::dvec3(Rx * glm::dvec4(0, 0, -200, 1));
  ExpectNear(view.m_eye, eye, 1e-9);
  ExpectNear(view.m_projection,
             ReferenceProjection(eye, {0, 0, 0}, glm::dvec3(Rx * glm::dvec4(0, 1, 0, 1))), 1e-9);
}

TEST_F(ObserverWithScene, OrbitTurnsHalfADegreePerUnit) {
  ObserverView view;
  view.ResetObserver();
  view.m_orientation = ObserverView::LookAt({0, 0, 1}, {0, 0, 0}, {0, 1, 0});  // identity
  const double motion[6] = {40, -30, 20, 0, 0, 0};
  view.UpdateProjection(motion);
  const glm::dmat4 R = glm::rotate(glm::dmat4(1.0), -40 * kPi / 360, glm::dvec3(1, 0, 0)) *
                       glm::rotate(glm::dmat4(1.0), -30 * kPi / 360, glm::dvec3(0, 1, 0)) *
                       glm::rotate(glm::dmat4(1.0), -20 * kPi / 360, glm::dvec3(0, 0, 1));
  ExpectNear(view.m_orientation, R, 1e-12);
  ExpectNear(view.m_eye, glm::dvec3(R * glm::dvec4(0, 0, -200, 1)), 1e-9);
  ExpectNear(view.m_vertical, glm::dvec3(R * glm::dvec4(0, 1, 0, 1)), 1e-12);

  // 360 units are half a turn about x: the observer ends behind the centre, upside down.
  view.m_orientation = ObserverView::LookAt({0, 0, 1}, {0, 0, 0}, {0, 1, 0});
  const double half_turn[6] = {360, 0, 0, 0, 0, 0};
  view.UpdateProjection(half_turn);
  ExpectNear(view.m_eye, {0, 0, 200}, 1e-9);
  ExpectNear(view.m_vertical, {0, -1, 0}, 1e-12);
}

TEST_F(ObserverWithScene, PanMovesCentreAndEyeAgainstTheHorizontal) {
  ObserverView view;
  view.ResetObserver();
  view.UpdateProjection(still);
  const vm::Vector3 eye = view.m_eye;
  const vm::Vector3 h{view.m_orientation[0][0], view.m_orientation[1][0], view.m_orientation[2][0]};
  const double pan[6] = {0, 0, 0, 10, 0, 0};
  view.UpdateProjection(pan);
  ExpectNear(scene.GetOrbitCenter(), G(h * -5.0), 1e-12);
  ExpectNear(view.m_eye, G(eye + h * -5.0), 1e-9);
}

TEST_F(ObserverWithScene, DistanceNeverBelowThreeAfterAnUpdate) {
  ObserverView view;
  view.ResetObserver();
  view.m_distance = 0.5;
  view.UpdateProjection(still);
  EXPECT_EQ(view.m_distance, ObserverView::kMinDistance);
  EXPECT_NEAR(glm::length(G(view.m_eye)), 3.0, 1e-12);
  view.SetDistance(-7);
  EXPECT_EQ(view.m_distance, 3.0);
}

TEST_F(ObserverWithScene, TransformMovesGridOrReconstructionOneDegreePerUnit) {
  ObserverView view;
  view.ResetObserver();
  view.UpdateProjection(still);
  const Matrix3x4 before = scene.GetGrid()->GetTransform();

  // A full turn in degrees leaves the grid where it was.
  const double full_turn[6] = {360, 0, 0, 0, 0, 0};
  view.UpdateTransform(full_turn, &scene, true);
  for (int i = 0; i < 12; ++i)
    EXPECT_NEAR(scene.GetGrid()->GetTransform().m[i], before.m[i], 1e-12);

  // A quarter turn about the vertical plus a pan along the observer's horizontal.
  const glm::dvec3 v = G(view.m_vertical), d = G(view.m_eye);
  const glm::dvec3 h = glm::normalize(glm::cross(v, d));
  const double motion[6] = {0, 90, 0, 4, 2, 0};
  view.UpdateTransform(motion, &scene, false);
  glm::dmat4 M = glm::rotate(glm::dmat4(1.0), -kPi / 2, v);
  M[3] = glm::dvec4(0.5 * (4.0 * h + 2.0 * v), 1.0);
  ExpectNear(scene.GetSceneMatrix(), M, 1e-12);
  EXPECT_EQ(view.m_eye, (vm::Vector3{d.x, d.y, d.z}));  // the observer stays

  kxtest::LogCapture log(5);
  view.UpdateTransform(motion, nullptr, true);
  EXPECT_TRUE(log.Has("ViewerBase::ObserverView::UpdateTransform: scene not set"));
}

TEST_F(ObserverWithScene, AttachedBehindTheCamera) {
  PerspectiveCamera camera;
  camera.Set({1, 2, 3}, {0, 0.6, 0.8}, {700, 0, 0}, {0, 640, -480}, 720, 576, 0, 0.1, 0.1, 0, 0,
             nullptr);
  ObserverView view;
  view.ResetObserver();
  view.UpdateCameraAttached(camera);
  const glm::dvec3 C{1, 2, 3}, A{0, 0.6, 0.8}, V0 = G(camera.V0());
  ExpectNear(scene.GetOrbitCenter(), C + 200.0 * A, 1e-9);
  ExpectNear(view.m_eye, C - 80.0 * A - 32.0 * V0, 1e-9);
  ExpectNear(view.m_projection, ReferenceProjection(C - 80.0 * A - 32.0 * V0, C + 200.0 * A, V0),
             1e-9);
}

TEST_F(ObserverWithScene, TransformTurnsTheObserverWithTheWorld) {
  ObserverView view;
  view.ResetObserver();
  view.UpdateProjection(still);
  const glm::dvec3 eye = G(view.m_eye);
  const glm::dmat4 R = glm::rotate(glm::dmat4(1.0), 0.7, glm::dvec3(0.3, 1, 0.2));
  Matrix4x4 M;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) M[r][c] = At(R, r, c);
  M[0][3] = 50;  // the translation does not turn the observer
  view.Transform(M);
  ExpectNear(view.m_eye, glm::dvec3(R * glm::dvec4(eye, 1.0)), 1e-9);
}

TEST_F(ObserverWithScene, WithoutSceneTheCentreIsTheOrigin) {
  ObserverView view;
  {
    kxtest::CurrentTracker none(nullptr);
    kxtest::LogCapture log(5);
    view.ResetObserver();
    view.UpdateProjection(still);
    EXPECT_TRUE(log.Has("ViewerBase::ResetObserver: scene not set"));
    EXPECT_TRUE(log.Has("ViewerBase::ObserverView::UpdateProjection: scene not set"));
    EXPECT_TRUE(log.Has("ViewerBase::ObserverView::UpdateProjectionMatrix: scene not set"));
  }
  EXPECT_NEAR(glm::length(G(view.m_eye)), 200.0, 1e-9);
}

TEST(LockViewAnchor, PositionPerKind) {
  FeatureImage images[4];
  for (int i = 0; i < 4; ++i) images[i].SetImageIndex(10 + i);
  uic::LockViewAnchor anchor;
  double x = -1, y = -1;
  EXPECT_FALSE(anchor.GetImagePosition(x, y, images[0]));

  // A track over frames 11 and 12.
  anchor.m_kind = uic::LockViewAnchor::eTrack2D;
  EXPECT_FALSE(anchor.GetImagePosition(x, y, images[1]));  // empty track
  anchor.m_track = {SharedPtr<FeaturePoint2D>::Make(&images[1], 99.5, 49.5),
                    SharedPtr<FeaturePoint2D>::Make(&images[2], 7, 8)};
  EXPECT_FALSE(anchor.GetImagePosition(x, y, images[0]));
  EXPECT_FALSE(anchor.GetImagePosition(x, y, images[3]));
  ASSERT_TRUE(anchor.GetImagePosition(x, y, images[2]));
  EXPECT_EQ(x, 7.0);
  EXPECT_EQ(y, 8.0);

  // A 3D point: projected in front of the default camera, refused behind it.
  anchor.m_kind = uic::LockViewAnchor::ePoint3D;
  anchor.m_position = {0, 0, 100};
  ASSERT_TRUE(anchor.GetImagePosition(x, y, images[0]));
  double px = 0, py = 0, depth = 0;
  images[0].ProjectPoint(anchor.m_position, px, py, depth, false);
  EXPECT_EQ(x, px);
  EXPECT_EQ(y, py);
  anchor.m_position = {0, 0, -100};
  EXPECT_FALSE(anchor.GetImagePosition(x, y, images[0]));
}

TEST(LockViewAnchor, CentredOffsetTruncates) {
  EXPECT_EQ(uic::CentredOffset(640, 99.5, 1.0), 220);
  EXPECT_EQ(uic::CentredOffset(480, 49.5, 1.0), 190);
  EXPECT_EQ(uic::CentredOffset(100, 200.0, 1.0), -150);  // trunc(-150.0)
  EXPECT_EQ(uic::CentredOffset(101, 200.2, 1.0), -149);  // trunc(-149.7), not floor
}

}  // namespace
