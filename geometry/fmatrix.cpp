#include "geometry/fmatrix.h"

#include <cmath>
#include <cstdlib>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/small_eigen.h"
#include "foundation/runtime/notify.h"
#include "geometry/triangulate_two_view.h"

namespace {

void MapCorrespondences(const t_ListFCorr& correspondences, const PerspectiveCamera& camera1,
                        const PerspectiveCamera& camera2, std::vector<CorrEl>& out) {
  out.clear();
  const CorrElMapper mapper(camera1, camera2);
  for (const SharedPtr<FeatureCorrespondence>& corr : correspondences) {
    CorrEl element;
    if (mapper.MapCorrespondence(corr, element)) out.push_back(element);
  }
}

// (x, y, 1) through a row-major 3x3 matrix.
vm::Vector3 Apply(const double* m, double x, double y) {
  return {m[0] * x + m[1] * y + m[2], m[3] * x + m[4] * y + m[5], m[6] * x + m[7] * y + m[8]};
}

// The rows (0, -wz, wy), (wz, 0, -wx), (-wy, wx, 0).
Matrix3x3 CrossMatrix(const vm::Vector3& w) {
  return {{0.0, -w.z, w.y, w.z, 0.0, -w.x, -w.y, w.x, 0.0}};
}

vm::Vector3 Column(const Matrix3x3& m, int c) {
  return {m[0][c], m[1][c], m[2][c]};
}

// diag(f, f, 1) F diag(f, f, 1): the matrix for coordinates divided by f.
Matrix3x3 Calibrated(const double* f, double focal) {
  Matrix3x3 e;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      e[i][j] = f[3 * i + j] * (i < 2 ? focal : 1.0) * (j < 2 ? focal : 1.0);
  return e;
}

constexpr double kHugeDistance = 1e16;
constexpr double kHugeInverseDistance = 1e10;

}  // namespace

void HMatrix2D::SetCorrespondences(const t_ListFCorr& correspondences,
                                   const PerspectiveCamera& camera1,
                                   const PerspectiveCamera& camera2) {
  MapCorrespondences(correspondences, camera1, camera2, m_vecCorr);
  m_sx = camera1.GetPixelSizeX();
  m_sy = camera1.GetPixelSizeY();
}

double HMatrix2D::GetMSESymmetricDistance() const {
  if (m_vecCorr.empty()) return kHugeDistance;
  Matrix3x3 h, g;
  for (int i = 0; i < 9; ++i) h.m[i] = m[i];
  g.Invert(h);
  double sum = 0.0;
  for (const CorrEl& e : m_vecCorr) {
    const vm::Vector3 p = Apply(m, e.x0, e.y0);
    if (p.z == 0.0) {
      Notify(2,
             "HMatrix2D::GetMSESymmetricDistance: denominator == 0.0 , returning large distance!");
      return kHugeDistance;
    }
    const double du = (e.x1 - p.x / p.z) / m_sx, dv = (e.y1 - p.y / p.z) / m_sy;
    const vm::Vector3 q = Apply(g.m, e.x1, e.y1);
    if (q.z == 0.0) {
      Notify(2,
             "HMatrix2D::GetMSESymmetricDistance: denominator == 0.0 , returning large distance!");
      return kHugeInverseDistance;
    }
    const double bu = (e.x0 - q.x / q.z) / m_sx, bv = (e.y0 - q.y / q.z) / m_sy;
    sum += du * du + dv * dv + bu * bu + bv * bv;
  }
  const double n = static_cast<double>(m_vecCorr.size());
  const double mse = sum / (4.0 * n);
  Notify(5, "HMatrix2D::GetMSESymmetricDistance: m_vecCorr.size() = %d, MSE = %f [pel^2] RMSE=%f ",
         static_cast<int>(m_vecCorr.size()), mse, std::sqrt(mse));
  Notify(5, "HMatrix2D::GetMSESymmetricDistance: Expected RMSE= %f * Std Deviation",
         std::sqrt(1.0 - (2.0 * n + 8.0) / (4.0 * n)));
  return mse;
}

void FMatrix::SetCorrespondences(const t_ListFCorr& correspondences,
                                 const PerspectiveCamera& camera1,
                                 const PerspectiveCamera& camera2) {
  MapCorrespondences(correspondences, camera1, camera2, m_vecCorr);
  m_sx = camera1.GetPixelSizeX();
  m_sy = camera1.GetPixelSizeY();
}

double FMatrix::GetMSESymmetricEpipolarDistance() const {
  if (m_vecCorr.empty()) {
    Notify(2, "FMatrix::GetMSESymmetricEpipolarDistance: no correspondences set");
    return 1e32;
  }
  double sum = 0.0;
  for (const CorrEl& c : m_vecCorr) {
    const vm::Vector3 l = Apply(m, c.x0, c.y0);
    const double ln = l.x * l.x + l.y * l.y;
    if (ln == 0.0) return 1e34;
    const vm::Vector3 l2 = {m[0] * c.x1 + m[3] * c.y1 + m[6], m[1] * c.x1 + m[4] * c.y1 + m[7],
                            m[2] * c.x1 + m[5] * c.y1 + m[8]};
    const double l2n = l2.x * l2.x + l2.y * l2.y;
    if (l2n == 0.0) return 1e36;
    const double e = c.x1 * l.x + c.y1 * l.y + l.z;
    const double a = e / ln, b = e / l2n;
    const double ax = a * l.x / m_sx, ay = a * l.y / m_sy;
    const double bx = b * l2.x / m_sx, by = b * l2.y / m_sy;
    sum += ax * ax + ay * ay + bx * bx + by * by;
  }
  return sum / (4.0 * static_cast<double>(m_vecCorr.size()));
}

int FMatrix::SortSVDSolution(Matrix3x3& u, double s[3], Matrix3x3& v) {
  int order[3];
  const bool has_nan = std::isnan(s[0]) || std::isnan(s[1]) || std::isnan(s[2]);
  if (!has_nan) {
    const int a = s[0] >= s[1] ? 0 : 1, b = 1 - a;
    if (s[2] <= s[a] && s[2] >= s[b]) {
      order[0] = a, order[1] = 2, order[2] = b;
    } else if (s[2] < s[b]) {
      order[0] = a, order[1] = b, order[2] = 2;
    } else {
      order[0] = 2, order[1] = a, order[2] = b;
    }
  } else {
    // Numbers first, decreasing and stable, then the NaNs in their order.
    Notify(2, "FMatrix::SortSVDSolution: this code should never be reached - something went wrong");
    int k = 0;
    for (int i = 0; i < 3; ++i)
      if (!std::isnan(s[i])) order[k++] = i;
    if (k == 2 && s[order[1]] > s[order[0]]) std::swap(order[0], order[1]);
    for (int i = 0; i < 3; ++i)
      if (std::isnan(s[i])) order[k++] = i;
  }
  const Matrix3x3 u0 = u, v0 = v;
  const double s0[3] = {s[0], s[1], s[2]};
  int small = 0;
  for (int c = 0; c < 3; ++c) {
    s[c] = s0[order[c]];
    for (int r = 0; r < 3; ++r) {
      u[r][c] = u0[r][order[c]];
      v[r][c] = v0[r][order[c]];
    }
    if (std::fabs(s[c]) < 1e-16) ++small;
  }
  return small;
}

bool FMatrix::GetEpipoles(const Matrix3x3& m, vm::Vector3& e, vm::Vector3& e2) {
  Matrix3x3 u, v;
  double s[3];
  u.SVD(s, v, m);
  e = Column(v, 2);
  e2 = Column(u, 2);
  return true;
}

void FMatrix::RotationFromEMatrix(Matrix3x3& r, const Matrix3x3& e, const vm::Vector3& t) {
  // cof(E): element (i, j) is the cofactor of E's element (i, j).
  Matrix3x3 cof;
  for (int i = 0; i < 3; ++i) {
    const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
    for (int j = 0; j < 3; ++j) {
      const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      cof[i][j] = e[i1][j1] * e[i2][j2] - e[i1][j2] * e[i2][j1];
    }
  }
  Matrix3x3 te, rp;
  te.Multiply(CrossMatrix(t), e);
  te.Negate(te);
  rp.Add(cof, te);

  // Horn: N = sum B_i^T B_i over the columns; q its eigenvector of smallest magnitude.
  Matrix4x4 n;
  n.SetZero();
  for (int i = 0; i < 3; ++i) {
    vm::Vector3 b{0.0, 0.0, 0.0};
    b[i] = 1.0;
    const vm::Vector3 a = Column(rp, i);
    const vm::Vector3 d = a - b;
    const Matrix3x3 x = CrossMatrix(a + b);
    Matrix4x4 bi;
    bi[0][0] = 0.0;
    for (int k = 0; k < 3; ++k) {
      bi[0][k + 1] = -d[k];
      bi[k + 1][0] = d[k];
      for (int l = 0; l < 3; ++l) bi[k + 1][l + 1] = x[k][l];
    }
    Matrix4x4 btb;
    btb.MultiplyAtB(bi, bi);
    for (int k = 0; k < 16; ++k) n.m[k] += btb.m[k];
  }
  Matrix4x4 vectors;
  double values[4];
  vectors.SymmetricEigen(values, n);
  const double q0 = vectors[0][3], q1 = vectors[1][3], q2 = vectors[2][3], q3 = vectors[3][3];
  r[0][0] = q0 * q0 + q1 * q1 - q2 * q2 - q3 * q3;
  r[0][1] = 2.0 * (q1 * q2 - q0 * q3);
  r[0][2] = 2.0 * (q1 * q3 + q0 * q2);
  r[1][0] = 2.0 * (q1 * q2 + q0 * q3);
  r[1][1] = q0 * q0 - q1 * q1 + q2 * q2 - q3 * q3;
  r[1][2] = 2.0 * (q2 * q3 - q0 * q1);
  r[2][0] = 2.0 * (q1 * q3 - q0 * q2);
  r[2][1] = 2.0 * (q2 * q3 + q0 * q1);
  r[2][2] = q0 * q0 - q1 * q1 - q2 * q2 + q3 * q3;
}

int FMatrix::RectifyCAHVtoFMatrix(PerspectiveCamera& reference, PerspectiveCamera& second,
                                  int possibility, double focal_prior) const {
  double f = focal_prior > 0.0 ? FocalLengthFrom35mmEquivalent(reference, focal_prior)
                               : reference.GetNormalFocalLength();
  if (f <= 0.0) {
    Notify(2, "FMatrix::RectifyCAHVtoFMatrix: approx. focal <= 0.0, correct to %g", 10.0);
    f = 10.0;
  }
  const double fx = f / reference.GetPixelSizeX(), fy = f / reference.GetPixelSizeY();
  Matrix3x3 e = Calibrated(m, f);
  if (possibility > 2) e.Negate(e);

  vm::Vector3 ep, ep2;
  GetEpipoles(e, ep, ep2);
  Matrix3x3 mm;
  mm.Multiply(CrossMatrix(ep2), e);

  // Q = lambda M + e' v^T closest to the identity: the normal equations in (lambda, v).
  const vm::Vector3 a = MultiplyMat3TransposedVec3(mm, ep2);
  double norm_m = 0.0;
  for (double x : mm.m) norm_m += x * x;
  const double norm_e = ep2.SquaredLength();
  Matrix4x4 sys = {
      {norm_m, a.x, a.y, a.z, a.x, norm_e, 0.0, 0.0, a.y, 0.0, norm_e, 0.0, a.z, 0.0, 0.0, norm_e}};
  Matrix4x4 inv;
  inv.InvertSymmetric(sys);
  const double rhs[4] = {mm[0][0] + mm[1][1] + mm[2][2], ep2.x, ep2.y, ep2.z};
  double sol[4];
  for (int i = 0; i < 4; ++i) {
    sol[i] = 0.0;
    for (int j = 0; j < 4; ++j) sol[i] += inv[i][j] * rhs[j];
  }
  Matrix3x3 q;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) q[i][j] = sol[0] * mm[i][j] + ep2[i] * sol[j + 1];
  const double det = q[0][0] * (q[1][1] * q[2][2] - q[1][2] * q[2][1]) -
                     q[0][1] * (q[1][0] * q[2][2] - q[1][2] * q[2][0]) +
                     q[0][2] * (q[1][0] * q[2][1] - q[1][1] * q[2][0]);
  if (det <= 0.0) return 0;

  vm::Vector3 t = ep2 * (1.0 / ep2.Length());
  if (possibility % 2 == 1) t = -t;
  // The elements are about each camera's principal point: keep it in the calibration, so
  // the pair reprojects them (with it at the centre this is [diag(fx, fy, 1) | 0]).
  const Matrix3x3 k1 = {
      {fx, 0.0, reference.GetCenterPointX(), 0.0, fy, reference.GetCenterPointY(), 0.0, 0.0, 1.0}};
  const Matrix3x3 k2 = {
      {fx, 0.0, second.GetCenterPointX(), 0.0, fy, second.GetCenterPointY(), 0.0, 0.0, 1.0}};
  Matrix3x3 kq;
  kq.Multiply(k2, q);
  const vm::Vector3 kt = MultiplyMat3Vec3(k2, t);
  Matrix3x4 p2, p1;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      p2[i][j] = kq[i][j];
      p1[i][j] = k1[i][j];
    }
    p2[i][3] = kt[i];
    p1[i][3] = 0.0;
  }
  GetCameraFromProjectionMatrix(p2, second);
  GetCameraFromProjectionMatrix(p1, reference);

  long counter = 0;
  for (const CorrEl& c : m_vecCorr) {
    double x[3];
    if (TriangulateTwoViewLinear(x, &reference, &second, c.x0, c.y0, c.x1, c.y1)) ++counter;
  }
  if (NotifyContext::GetNotifyLevel() >= 5) {
    Notify(5, "FMatrix::RectifyCAHVtoFMatrix: possibilty %d, counter %ld", possibility, counter);
    PrintIntrinsic(reference, true, "FMatrix: reference camera");
    PrintIntrinsic(second, true, "FMatrix: possible camera");
    PrintPTRZF(second, &reference, "FMatrix: relative camera");
    PrintC(second, &reference, "FMatrix: relative camera");
  }
  return static_cast<int>(counter);
}

namespace {

// Moves camera2's centre to C1 + (C2 - C1) s with s = focal length (mm) * |d| * 0.2.
void ScaleBaseline(int frame_distance, const PerspectiveCamera& camera1,
                   PerspectiveCamera& camera2) {
  const double s = camera1.GetFocalLength() * std::abs(frame_distance) * 0.2;
  SetCameraCentre(camera2, camera1.GetC() + (camera2.GetC() - camera1.GetC()) * s);
}

}  // namespace

bool FMatrix::RectifyCAHVtoFMatrixUnknownK(int frame_distance, PerspectiveCamera& camera1,
                                           PerspectiveCamera& camera2, double focal_prior) const {
  int best = -1;
  PerspectiveCamera kept1 = camera1, kept2 = camera2;
  for (int possibility = 1; possibility <= 4; ++possibility) {
    PerspectiveCamera c1 = camera1, c2 = camera2;
    const int count = RectifyCAHVtoFMatrix(c1, c2, possibility, focal_prior);
    if (count > best) {
      best = count;
      kept1 = c1;
      kept2 = c2;
    }
  }
  ScaleBaseline(frame_distance, kept1, kept2);
  camera1 = kept1;
  camera2 = kept2;
  return best > 0;
}

bool FMatrix::RectifyCAHVtoEMatrix(const PerspectiveCamera& reference, PerspectiveCamera& second,
                                   int type) const {
  const double f = reference.GetFocalLength();
  Matrix3x3 e = Calibrated(m, f);
  double norm = 0.0;
  for (double x : e.m) norm += x * x;
  norm = std::sqrt(norm);
  if (norm > 0.0) e.Scale(e, std::sqrt(2.0) / norm);

  Matrix3x3 et, u, v;
  double s[3];
  et.Transpose(e);
  u.SVD(s, v, et);
  if (SortSVDSolution(u, s, v) > 1) Notify(5, "ERROR: rank of E is not 2");
  vm::Vector3 t = Column(v, 2);

  if (type < 1 || type > 4) {
    Notify(2, "FMatrix::RectifyCAHVtoEMatrix: There are only 4 possible cameras");
    type = 1;
  }
  if (type == 2 || type == 4) t = -t;
  if (type >= 3) e.Negate(e);

  Matrix3x3 r;
  RotationFromEMatrix(r, e, t);

  // The second camera in the reference's frame: centre -R^T t, axes the rows of R.
  const vm::Vector3 c = -MultiplyMat3TransposedVec3(r, t);
  const vm::Vector3 rc = reference.GetC();
  const vm::Vector3 cw = reference.CameraToWorld(c.x, c.y, c.z);
  const vm::Vector3 h0 = reference.CameraToWorld(r[0][0], r[0][1], r[0][2]) - rc;
  const vm::Vector3 v0 = reference.CameraToWorld(r[1][0], r[1][1], r[1][2]) - rc;
  const vm::Vector3 a = reference.CameraToWorld(r[2][0], r[2][1], r[2][2]) - rc;
  const double sx = reference.GetPixelSizeX(), sy = reference.GetPixelSizeY();
  second.SetAll(cw, a, h0 * (f / sx), v0 * (f / sy), reference.GetWidth(), reference.GetHeight(),
                sx, sy, reference.GetDistortionCoefficients(), reference.GetFurtherValues(),
                reference.GetDistortionModel());
  second.SetFocalLength(f);
  second.SetCenterPointX(reference.GetCenterPointX());
  second.SetCenterPointY(reference.GetCenterPointY());

  if (m_vecCorr.empty()) {
    Notify(2, "FMatrix::RectifyCAHVtoEMatrix: no correspondences set");
    return false;
  }
  int count1 = 0, count2 = 0;
  for (const CorrEl& el : m_vecCorr) {
    const vm::Vector3 p0{el.x0 / f, el.y0 / f, 1.0}, p1{el.x1 / f, el.y1 / f, 1.0};
    const vm::Vector3 ax = t.Cross(p1);
    if (MultiplyMat3Vec3(e, p0).Dot(ax) < 0.0) ++count1;
    if (p1.Cross(MultiplyMat3Vec3(r, p0)).Dot(ax) < 0.0) ++count2;
  }
  Notify(10, "CamPosCheck %d firstcheck: %d secondcheck: %d", type, count1, count2);
  const size_t n = m_vecCorr.size();
  if (2 * static_cast<size_t>(count1) > n || 2 * static_cast<size_t>(count2) > n) return false;
  PrintPTRZF(second, &reference, nullptr);
  PrintC(second, &reference, nullptr);
  return true;
}

bool FMatrix::RectifyCAHVtoFMatrixKnownK(int frame_distance, PerspectiveCamera& camera1,
                                         PerspectiveCamera& camera2) const {
  int passed = 0;
  for (int type = 1; type <= 4; ++type) {
    PerspectiveCamera c1 = camera1, c2 = camera2;
    if (!RectifyCAHVtoEMatrix(c1, c2, type)) continue;
    ++passed;
    ScaleBaseline(frame_distance, c1, c2);
    camera1 = c1;
    camera2 = c2;
  }
  if (passed == 1) return true;
  Notify(4, " FMatrix::RectifyCAHVtoFMatrixKnownK No unique initial guess from F-Matrix found");
  return false;
}

void EstimatorFMatrix::SetCorrespondences(const t_ListFCorr& correspondences,
                                          const PerspectiveCamera& camera1,
                                          const PerspectiveCamera& camera2) {
  MapCorrespondences(correspondences, camera1, camera2, m_vecCorr);
}

bool EstimatorFMatrix::NormalizedEightPointAlgorithm(FMatrix& out) const {
  Notify(4, "EstimatorFMatrix::NormalizedEightPointAlgorithm:  m_vecCorr.size = %d",
         static_cast<int>(m_vecCorr.size()));
  if (m_vecCorr.size() < 8) {
    Notify(2, "EstimatorFMatrix::NormalizedEightPointAlgorithm: correspondence size less than 8");
    Notify(2, "              missing call of EstimatorFMatrix::SetCorrespondences");
    return false;
  }
  Matrix a(static_cast<uint32_t>(m_vecCorr.size()), 9);
  for (uint32_t i = 0; i < a.Rows(); ++i) {
    const CorrEl& c = m_vecCorr[i];
    const double row[9] = {c.x1 * c.x0, c.x1 * c.y0, c.x1, c.y1 * c.x0, c.y1 * c.y0,
                           c.y1,        c.x0,        c.y0, 1.0};
    for (uint32_t j = 0; j < 9; ++j) a(i, j) = row[j];
  }
  Vector f;
  if (!SolveHomogeneousLeastSquares(&f, nullptr, a)) {
    Notify(2, "EstimatorFMatrix::NormalizedEightPointAlgorithm: no least-squares solution");
    return false;
  }
  Matrix3x3 fm, u, v;
  for (int i = 0; i < 9; ++i) fm.m[i] = f[static_cast<uint32_t>(i)];
  double s[3];
  u.SVD(s, v, fm);
  int smallest = 0;
  for (int i = 1; i < 3; ++i)
    if (s[i] < s[smallest]) smallest = i;
  s[smallest] = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double x = 0.0;
      for (int k = 0; k < 3; ++k) x += u[i][k] * s[k] * v[j][k];
      out.m[3 * i + j] = x;
    }
  return true;
}
