#include "foundation/camera/camera_geometry.h"

#include <cmath>

#include "foundation/numeric/euler_angles.h"
#include "foundation/runtime/notify.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 57.29577951308232;

const char* CommentText(const char* comment) {
  return comment != nullptr ? comment : "no comment";
}

void SetIdentity(Matrix4x4& m) {
  m.SetZero();
  m[0][0] = m[1][1] = m[2][2] = m[3][3] = 1.0;
}

void SetTranslation(Matrix4x4& m, const vm::Vector3& t) {
  SetIdentity(m);
  m[0][3] = t.x;
  m[1][3] = t.y;
  m[2][3] = t.z;
}

void SetRotation4(Matrix4x4& m, const vm::Vector3& axis, double angle) {
  SetIdentity(m);
  m.SetRotation(axis, angle);
}

void SetMatrix3(Matrix3x3& m, double a00, double a01, double a02, double a10, double a11,
                double a12, double a20, double a21, double a22) {
  m[0][0] = a00;
  m[0][1] = a01;
  m[0][2] = a02;
  m[1][0] = a10;
  m[1][1] = a11;
  m[1][2] = a12;
  m[2][0] = a20;
  m[2][1] = a21;
  m[2][2] = a22;
}

// The three Givens rotations of the RQ split, multiplied into m from the
// right. rotate_when_either: a step rotates when either of its two elements
// is non-zero (otherwise only when both are); a step that does not rotate
// applies its sign flip all the same. The rotations are returned in g.
void GivensSteps(Matrix3x3& m, bool rotate_when_either, Matrix3x3* g) {
  auto rotates = [rotate_when_either](double a, double b) {
    return rotate_when_either ? (a != 0.0 || b != 0.0) : (a != 0.0 && b != 0.0);
  };
  // Zero M21 (the first step always rotates when either element is set).
  double c = 0.0, d = -1.0;
  if (m[2][1] != 0.0 || m[2][2] != 0.0) {
    const double r = std::sqrt(m[2][1] * m[2][1] + m[2][2] * m[2][2]);
    c = m[2][1] / r;
    d = -m[2][2] / r;
  }
  SetMatrix3(g[0], 1, 0, 0, 0, d, -c, 0, c, d);
  m.Multiply(m, g[0]);
  // Zero M20.
  double s = 0.0, gg = -1.0;
  if (rotates(m[2][0], m[2][2])) {
    const double r = std::sqrt(m[2][0] * m[2][0] + m[2][2] * m[2][2]);
    s = m[2][0] / r;
    gg = m[2][2] / r;
  }
  SetMatrix3(g[1], gg, 0, s, 0, 1, 0, -s, 0, gg);
  m.Multiply(m, g[1]);
  // Zero M10.
  double t = -1.0, o = 0.0;
  if (rotates(m[1][0], m[1][1])) {
    const double r = std::sqrt(m[1][0] * m[1][0] + m[1][1] * m[1][1]);
    t = m[1][1] / r;
    o = -m[1][0] / r;
  }
  SetMatrix3(g[2], t, -o, 0, o, t, 0, 0, 0, 1);
  m.Multiply(m, g[2]);
}

double WrapAngle(double a) {
  if (a > kPi) a -= 2.0 * kPi;
  if (a < -kPi) a += 2.0 * kPi;
  return a;
}

// c: a default camera holding `camera` expressed in the reference's frame.
void ToReferenceFrame(const PerspectiveCamera& camera, const PerspectiveCamera* reference,
                      PerspectiveCamera& c) {
  PerspectiveCamera r;
  if (reference != nullptr) r.CopyFrom(*reference, false);
  c.CopyFrom(camera, false);
  c.Transform(r.GetWorldToCameraMatrix());
}

}  // namespace

void GetProjectionMatrixFromCamera(const PerspectiveCamera& camera, Matrix3x4& p) {
  const vm::Vector3* rows[3] = {&camera.GetH(), &camera.GetV(), &camera.GetA()};
  for (int r = 0; r < 3; ++r) {
    p[r][0] = rows[r]->x;
    p[r][1] = rows[r]->y;
    p[r][2] = rows[r]->z;
    p[r][3] = -rows[r]->Dot(camera.GetC());
  }
}

void GetCameraFromProjectionMatrix(const Matrix3x4& p, PerspectiveCamera& camera) {
  const double n = std::sqrt(p[2][0] * p[2][0] + p[2][1] * p[2][1] + p[2][2] * p[2][2]);
  Matrix3x4 q;
  Matrix3x3 m_inv;
  if (n != 0.0) {
    q.Scale(p, 1.0 / n);
    Matrix3x3 m;
    m.SetFromMatrix3x4(q);
    if (!m_inv.Invert(m)) {
      Notify(2,
             "GetCameraFromProjectionMatrix: singular left 3x3 block, centre computed with the "
             "identity");
    }
  } else {
    Notify(2, "GetCameraFromProjectionMatrix: norm=0");
    for (double& x : q.m) x = 0.0;
    for (double& x : m_inv.m) x = 0.0;
  }
  const vm::Vector3 c = MultiplyMat3Vec3(m_inv, vm::Vector3{-q[0][3], -q[1][3], -q[2][3]});
  const vm::Vector3 a{q[2][0], q[2][1], q[2][2]};
  const vm::Vector3 h{q[0][0], q[0][1], q[0][2]};
  const vm::Vector3 v{q[1][0], q[1][1], q[1][2]};
  const double* k = camera.GetDistortionCoefficients();
  camera.Set(c, a, h, v, camera.GetWidth(), camera.GetHeight(), k[0], camera.GetPixelSizeX(),
             camera.GetPixelSizeY(), k[1], camera.GetRdDim(), camera.GetDistortionModel());
}

void SetCameraCentre(PerspectiveCamera& camera, const vm::Vector3& c) {
  const double* k = camera.GetDistortionCoefficients();
  camera.Set(c, camera.GetA(), camera.GetH(), camera.GetV(), camera.GetWidth(), camera.GetHeight(),
             k[0], camera.GetPixelSizeX(), camera.GetPixelSizeY(), k[1], camera.GetRdDim(),
             camera.GetDistortionModel());
}

void NormalizeCameraPose(PerspectiveCamera& camera) {
  camera.Transform(camera.GetWorldToCameraMatrix());
}

void GetCameraAngles(const PerspectiveCamera& camera, vm::Vector3& angles,
                     const PerspectiveCamera* reference) {
  PerspectiveCamera c;
  ToReferenceFrame(camera, reference, c);
  const Matrix4x4 m = c.GetCameraToWorldMatrix();
  double a[3];
  RotationToEulerAngles(m.m, kEulerOrderYXZRotating, a);
  angles = {WrapAngle(a[0]), WrapAngle(a[1]), WrapAngle(a[2])};
}

void GetCameraAngles(const PerspectiveCamera& camera, double& pan, double& tilt, double& roll,
                     const PerspectiveCamera* reference) {
  vm::Vector3 angles;
  GetCameraAngles(camera, angles, reference);
  pan = angles.x;
  tilt = angles.y;
  roll = angles.z;
}

void GetCameraAxes(const PerspectiveCamera& camera, double* axes,
                   const PerspectiveCamera* reference) {
  PerspectiveCamera c;
  ToReferenceFrame(camera, reference, c);
  const vm::Vector3 v[3] = {c.H0(), c.V0(), c.GetA()};
  for (int i = 0; i < 3; ++i) {
    axes[3 * i] = v[i].x;
    axes[3 * i + 1] = v[i].y;
    axes[3 * i + 2] = v[i].z;
  }
}

void SetCameraPTRF(PerspectiveCamera& camera, double pan, double tilt, double roll, double focal) {
  const vm::Vector3 h0 = camera.H0();
  const vm::Vector3 v0 = camera.V0();
  const vm::Vector3 a = camera.GetA();
  const vm::Vector3 c = camera.GetC();
  Matrix4x4 t, step;
  SetTranslation(t, c);
  SetRotation4(step, v0, pan);
  t.Multiply(t, step);
  SetRotation4(step, h0, tilt);
  t.Multiply(t, step);
  SetRotation4(step, a, roll);
  t.Multiply(t, step);
  SetTranslation(step, -c);
  t.Multiply(t, step);
  camera.Transform(t);
  camera.SetFocalLength(focal);
}

void SetCameraPTRZ(PerspectiveCamera& camera, double pan, double tilt, double roll, double zoom) {
  SetCameraPTRF(camera, pan, tilt, roll, camera.GetFocalLength() * zoom);
}

void GivensRQ(Matrix3x3& m) {
  Matrix3x3 g[3];
  GivensSteps(m, false, g);
  if (m[2][2] != 0.0) m.Scale(m, 1.0 / m[2][2]);
}

void DecomposeCameraMatrix(const PerspectiveCamera& camera, Matrix3x3& k, Matrix3x3& r,
                           vm::Vector3& t) {
  const vm::Vector3& h = camera.GetH();
  const vm::Vector3& v = camera.GetV();
  const vm::Vector3& a = camera.GetA();
  SetMatrix3(k, h.x, h.y, h.z, v.x, v.y, v.z, a.x, a.y, a.z);
  Matrix3x3 g[3];
  GivensSteps(k, true, g);
  // R = G3^T G2^T G1^T = (G1 G2 G3)^T.
  Matrix3x3 product;
  product.Multiply(g[0], g[1]);
  product.Multiply(product, g[2]);
  r.Transpose(product);
  t = -MultiplyMat3Vec3(r, camera.GetC());
}

void PrintIntrinsic(const PerspectiveCamera& camera, bool full, const char* comment) {
  Notify(4, "PrintIntrinsic: \"%s\"", CommentText(comment));
  const double sx = camera.GetPixelSizeX();
  const double sy = camera.GetPixelSizeY();
  if (full) {
    Matrix3x3 k, r;
    vm::Vector3 t;
    DecomposeCameraMatrix(camera, k, r, t);
    Notify(4, "FocalLengthX  in [pel] / [mm] : %f / %f", k[0][0], k[0][0] * sx);
    Notify(4, "FocalLengthY  in [pel] / [mm] : %f / %f", k[1][1], k[1][1] * sy);
    Notify(4, "Pixel Skew    in [pel] : %f", k[0][1]);
    Notify(4, "CenterPointX  in [pel] : %f", k[0][2]);
    Notify(4, "CenterPointY  in [pel] : %f", k[1][2]);
  } else {
    Notify(4, "FocalLength   in [mm]    : %f", camera.GetFocalLength());
    Notify(4, "CenterPointX  in [pel]   : %f", camera.GetCenterPointX());
    Notify(4, "CenterPointY  in [pel]   : %f", camera.GetCenterPointY());
  }
  const bool pixels = camera.GetRdDim() != 0;
  const double* kd = camera.GetDistortionCoefficients();
  Notify(4, "RadiaDistork3 in %s : %f", pixels ? "[pel^-2]" : "[mm^-2]", kd[0]);
  Notify(4, "PixelSizeX    in [mm/pel]: %f", sx);
  Notify(4, "PixelSizeY    in [mm/pel]: %f", sy);
  Notify(4, "RadialDistk5  in %s : %f", pixels ? "[pel^-4]" : "[mm^-4]", kd[1]);
}

void PrintPTRZF(const PerspectiveCamera& camera, const PerspectiveCamera* previous,
                const char* comment) {
  Notify(4, "PrintPTRZF: \"%s\"", CommentText(comment));
  const double deg = kDegreesPerRadian;
  vm::Vector3 c;
  GetCameraAngles(camera, c, nullptr);
  if (previous == nullptr) {
    Notify(4, "* pan[deg] %f tilt[deg]: %f roll[deg]: %f", c.x * deg, c.y * deg, c.z * deg);
    return;
  }
  vm::Vector3 local, p;
  GetCameraAngles(camera, local, previous);
  GetCameraAngles(*previous, p, nullptr);
  Notify(4, "***************************");
  Notify(4, "* PrintPTRZ: estimated parameters:");
  Notify(4, "* local:");
  Notify(4, "* pan[deg] %f tilt[deg]: %f roll[deg]: %f", local.x * deg, local.y * deg,
         local.z * deg);
  Notify(4, "* global:");
  Notify(4, "* pan[deg]:   %f + %f = %f", (c.x - p.x) * deg, p.x * deg, c.x * deg);
  Notify(4, "* tilt[deg]:  %f + %f = %f", (c.y - p.y) * deg, p.y * deg, c.y * deg);
  Notify(4, "* roll[deg]:  %f + %f = %f", (c.z - p.z) * deg, p.z * deg, c.z * deg);
  const double fc = camera.GetFocalLength();
  const double fp = previous->GetFocalLength();
  Notify(4, "* cur. focal[mm]:  %f, prev. focal[mm]:  %f, zoom: %f/%f", fc, fp, fc, fp);
  Notify(4, "**************************");
}

void PrintC(const PerspectiveCamera& camera, const PerspectiveCamera* previous,
            const char* comment) {
  Notify(4, "PrintC: \"%s\"", CommentText(comment));
  const vm::Vector3& c = camera.GetC();
  if (previous == nullptr) {
    Notify(4, "* cx: %f cy: %f cz: %f", c.x, c.y, c.z);
    return;
  }
  const vm::Vector3 local = previous->WorldToCamera(c);
  const vm::Vector3& cp = previous->GetC();
  const double len = c.Length();
  const double u = len != 0.0 ? 1.0 / len : 0.0;
  Notify(4, "*********************************");
  Notify(4, "* camera parameters:");
  Notify(4, "* local:");
  Notify(4, "* cx: %f cy: %f cz: %f", local.x, local.y, local.z);
  Notify(4, "* global:");
  Notify(4, "* cx (norm):  %f + %f = %f (%f)", c.x - cp.x, cp.x, c.x, c.x * u);
  Notify(4, "* cy (norm):  %f + %f = %f (%f)", c.y - cp.y, cp.y, c.y, c.y * u);
  Notify(4, "* cz (norm):  %f + %f = %f (%f)", c.z - cp.z, cp.z, c.z, c.z * u);
  Notify(4, "******************************************************");
}
