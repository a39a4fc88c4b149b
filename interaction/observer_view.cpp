#include "interaction/observer_view.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "scene/scene.h"

namespace uic {

namespace {

constexpr double kPi = std::numbers::pi;

Matrix4x4 Identity() {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = m[1][1] = m[2][2] = m[3][3] = 1.0;
  return m;
}

Matrix4x4 Rotation(const vm::Vector3& axis, double angle) {
  Matrix4x4 m = Identity();
  m.SetRotation(axis, angle);
  return m;
}

Matrix4x4 Product(const Matrix4x4& a, const Matrix4x4& b) {
  Matrix4x4 m;
  m.Multiply(a, b);
  return m;
}

// M x (p, 1) divided by its fourth coordinate; the zero vector when that is 0.
vm::Vector3 TransformPoint(const Matrix4x4& M, const vm::Vector3& p) {
  Vector4 h;
  h.Multiply(M, p);
  if (h[3] == 0.0) return {0.0, 0.0, 0.0};
  return {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

Matrix4x4 WithoutTranslation(const Matrix4x4& M) {
  Matrix4x4 m = M;
  m[0][3] = m[1][3] = m[2][3] = 0.0;
  return m;
}

vm::Vector3 Normalised(vm::Vector3 v) {
  v.Normalize();
  return v;
}

// The orbit centre of the current scene, or the origin (logged with `who`).
vm::Vector3 OrbitCentre(const Scene* scene, const char* who) {
  if (scene == nullptr) {
    Notify(2, "%s: scene not set", who);
    return {0.0, 0.0, 0.0};
  }
  return scene->GetOrbitCenter();
}

Scene* CurrentScene() {
  return Controller::Instance()->GetScene();
}

}  // namespace

int ObserverView::MakePerspective(double fov, double aspect, double near, double far,
                                  Matrix4x4& P) {
  if (far - near == 0.0) return -1;
  if (aspect == 0.0) return -2;
  const double t = std::tan(fov * kPi / 360.0);
  if (t == 0.0) return -3;
  const double c = 1.0 / t;
  P.SetZero();
  P[0][0] = c / aspect;
  P[1][1] = c;
  P[2][2] = (near + far) / (far - near);
  P[2][3] = 2.0 * near * far / (far - near);
  P[3][2] = 1.0;
  // Depth gets the scale of x, so that depth and screen coordinates stay comparable.
  const double row2 = std::hypot(P[2][2], P[2][3]);
  if (row2 > 0.0) {
    const double s = std::fabs(P[0][0]) / row2;
    P[2][2] *= s;
    P[2][3] *= s;
  }
  return 0;
}

Matrix4x4 ObserverView::LookAt(const vm::Vector3& target, const vm::Vector3& eye,
                               const vm::Vector3& vertical) {
  const vm::Vector3 f = Normalised(target - eye);
  const vm::Vector3 s = Normalised(vertical.Cross(f));
  const vm::Vector3 u = Normalised(f.Cross(s));
  Matrix4x4 V = Identity();
  for (int c = 0; c < 3; ++c) {
    V[0][c] = s[c];
    V[1][c] = u[c];
    V[2][c] = f[c];
  }
  return V;
}

ObserverView::ObserverView(int type) : m_type(type) {
  m_orientation = Identity();
  m_projection = Identity();
}

void ObserverView::ResetObserver() {
  m_orientation = Rotation({1.0, 0.0, 0.0}, -0.2);
  if (Scene* scene = CurrentScene()) {
    scene->SetOrbitCenter({0.0, 0.0, 0.0});
  } else {
    Notify(2, "ViewerBase::ResetObserver: scene not set");
  }
  m_distance = 200.0;
  m_eye = {0.0, 0.0, -200.0};
  m_vertical = {0.0, 1.0, 0.0};
  UpdateProjectionMatrix();
}

void ObserverView::UpdateProjectionMatrix() {
  Matrix4x4 P;
  MakePerspective(15.0, 1.0, 0.1, 1000.0, P);
  const vm::Vector3 t =
      OrbitCentre(CurrentScene(), "ViewerBase::ObserverView::UpdateProjectionMatrix");
  Matrix4x4 T = Identity();
  T[0][3] = -m_eye.x;
  T[1][3] = -m_eye.y;
  T[2][3] = -m_eye.z;
  m_projection = Product(P, Product(LookAt(t, m_eye, m_vertical), T));
}

void ObserverView::UpdateProjection(const double motion[6]) {
  const vm::Vector3 p =
      TransformPoint(WithoutTranslation(m_orientation), {motion[3], motion[4], motion[5]});
  Scene* scene = CurrentScene();
  vm::Vector3 centre{0.0, 0.0, 0.0};
  if (scene != nullptr) {
    centre = scene->GetOrbitCenter() - p * 0.5;
    scene->SetOrbitCenter(centre);
  } else {
    Notify(2, "ViewerBase::ObserverView::UpdateProjection: scene not set");
  }
  SetDistance(m_distance);
  m_eye = {0.0, 0.0, -m_distance};
  m_vertical = {0.0, 1.0, 0.0};
  const Matrix4x4 Rx = Rotation({1.0, 0.0, 0.0}, -motion[0] * kPi / 360.0);
  const Matrix4x4 Ry = Rotation({0.0, 1.0, 0.0}, motion[1] * kPi / 360.0);
  const Matrix4x4 Rz = Rotation({0.0, 0.0, 1.0}, -motion[2] * kPi / 360.0);
  m_orientation = Product(m_orientation, Product(Rx, Product(Ry, Rz)));
  m_eye = TransformPoint(m_orientation, m_eye) + centre;
  m_vertical = TransformPoint(m_orientation, m_vertical);
  UpdateProjectionMatrix();
}

void ObserverView::UpdateTransform(const double motion[6], Scene* scene, bool grid) {
  if (scene == nullptr) {
    Notify(2, "ViewerBase::ObserverView::UpdateTransform: scene not set");
    return;
  }
  const vm::Vector3 c = scene->GetOrbitCenter();
  const vm::Vector3 d = m_eye - c;
  const vm::Vector3 h = Normalised(m_vertical.Cross(d));
  const Matrix4x4 Ra = Rotation(m_vertical, -motion[1] * kPi / 180.0);
  const Matrix4x4 Rb = Rotation(h, motion[0] * kPi / 180.0);
  const Matrix4x4 Rc = Rotation(d, -motion[2] * kPi / 180.0);
  Matrix4x4 M = Product(Ra, Product(Rb, Rc));
  const vm::Vector3 shift = (h * motion[3] + m_vertical * motion[4]) * 0.5;
  M[0][3] = shift.x;
  M[1][3] = shift.y;
  M[2][3] = shift.z;
  if (grid) {
    Matrix3x4 M34;
    std::copy(M.m, M.m + 12, M34.m);
    scene->TransformWCS(M34);
  } else {
    scene->TransformReconstruction(M);
  }
}

void ObserverView::UpdateCameraAttached(const PerspectiveCamera& camera) {
  const vm::Vector3 v0 = camera.V0();
  const vm::Vector3& C = camera.GetC();
  const vm::Vector3& A = camera.GetA();
  m_vertical = v0;
  if (Scene* scene = CurrentScene()) {
    scene->SetOrbitCenter(C + A * m_distance);
  } else {
    Notify(2, "ViewerBase::ObserverView::UpdateCameraAttached: scene not set");
  }
  m_eye = C + (-A - v0 * 0.4) * (0.4 * m_distance);
  UpdateProjectionMatrix();
}

void ObserverView::Transform(const Matrix4x4& M) {
  m_orientation = Product(WithoutTranslation(M), m_orientation);
  const double still[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  UpdateProjection(still);
}

void ObserverView::Turn(const vm::Vector3& axis, double angle) {
  m_orientation = Product(m_orientation, Rotation(axis, angle));
}

void ObserverView::SetDistance(double d) {
  m_distance = std::max(d, kMinDistance);
}

bool LockViewAnchor::GetImagePosition(double& x, double& y, const FeatureImage& image) const {
  switch (m_kind) {
    case ePoint3D: {
      double px = 0.0, py = 0.0, depth = 0.0;
      if (!image.ProjectPoint(m_position, px, py, depth, false) || !(depth > 0.0)) return false;
      x = px;
      y = py;
      return true;
    }
    case eTrack2D: {
      if (m_track.empty()) return false;
      const FeatureImage* first = m_track.front() ? m_track.front()->GetImage() : nullptr;
      const FeatureImage* last = m_track.back() ? m_track.back()->GetImage() : nullptr;
      if (first == nullptr || last == nullptr) return false;
      const int32_t index = image.GetImageIndex();
      if (index < first->GetImageIndex() || index > last->GetImageIndex()) return false;
      for (const SharedPtr<FeaturePoint2D>& f : m_track) {
        if (f && f->GetImage() == &image) {
          x = f->x;
          y = f->y;
          return true;
        }
      }
      return false;
    }
    default:
      return false;
  }
}

int CentredOffset(int size, double a, double scale) {
  return static_cast<int>(std::trunc(size * 0.5 - (a + 0.5) * scale + 0.5));
}

}  // namespace uic
