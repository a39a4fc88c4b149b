#include "geometry/auto_calib_adq.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/root_solver.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"

namespace {

constexpr double kNoCost = 1e32;

// Position of Q(j, k), j <= k, in q = (Q11, Q12, Q13, Q14, Q22, Q23, Q24, Q33, Q34, Q44).
constexpr int kQIndex[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 6}, {2, 5, 7, 8}, {3, 6, 8, 9}};

void SetIdentity4(Matrix4x4& m) {
  m.SetZero();
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
}

// out = A·B for a 3x3 A and a 3x4 B.
Matrix3x4 Multiply3x3By3x4(const Matrix3x3& a, const Matrix3x4& b) {
  Matrix3x4 out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
    }
  }
  return out;
}

// out = A·B for a 3x4 A and a 4x4 B.
Matrix3x4 Multiply3x4By4x4(const Matrix3x4& a, const Matrix4x4& b) {
  Matrix3x4 out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c] + a[r][3] * b[3][c];
    }
  }
  return out;
}

// Squared Frobenius norm of M Q Mᵀ.
double ImageQuadricNorm2(const Matrix3x4& m, const Matrix4x4& q) {
  double sum = 0.0;
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      double w = 0.0;
      for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < 4; ++k) w += m[a][j] * q[j][k] * m[b][k];
      }
      sum += w * w;
    }
  }
  return sum;
}

Matrix4x4 QuadricFromVector(const double* q) {
  Matrix4x4 out;
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 4; ++k) out[j][k] = q[kQIndex[j][k]];
  }
  return out;
}

// Coefficients c[0..4] (c[i] of lambda^i) of det(B + lambda D), expanded over the 24
// permutations with linear entries.
void DeterminantPolynomial(const Matrix4x4& b, const Matrix4x4& d, double c[5]) {
  for (int i = 0; i < 5; ++i) c[i] = 0.0;
  int perm[4] = {0, 1, 2, 3};
  do {
    int inversions = 0;
    for (int i = 0; i < 4; ++i) {
      for (int j = i + 1; j < 4; ++j) inversions += perm[i] > perm[j] ? 1 : 0;
    }
    double poly[5] = {1.0, 0.0, 0.0, 0.0, 0.0};
    for (int r = 0; r < 4; ++r) {
      const double b0 = b[r][perm[r]];
      const double d1 = d[r][perm[r]];
      for (int deg = r + 1; deg >= 0; --deg) {
        poly[deg] = poly[deg] * b0 + (deg > 0 ? poly[deg - 1] * d1 : 0.0);
      }
    }
    const double sign = (inversions % 2) ? -1.0 : 1.0;
    for (int i = 0; i < 5; ++i) c[i] += sign * poly[i];
  } while (std::next_permutation(perm, perm + 4));
}

// H with H diag(1, 1, 1, 0) Hᵀ = Q for a rank-3 Q: the three largest singular directions
// scaled by the roots of their values, and (0, 0, 0, 1).
Matrix4x4 FactorQuadric(const Matrix4x4& q) {
  double s[4];
  Matrix4x4 u, v;
  u.SVD(s, v, q);
  int drop = 0;
  for (int i = 1; i < 4; ++i) {
    if (std::fabs(s[i]) < std::fabs(s[drop])) drop = i;
  }
  Matrix4x4 h;
  h.SetZero();
  int col = 0;
  for (int i = 0; i < 4; ++i) {
    if (i == drop) continue;
    const double root = std::sqrt(std::fabs(s[i]));
    for (int r = 0; r < 4; ++r) h[r][col] = root * u[r][i];
    ++col;
  }
  h[3][3] = 1.0;
  return h;
}

// Distance of the calibration matrices of M_i H from zero skew, unit aspect and a
// centred principal point, relative to their focal lengths.
double CalibrationCost(const std::vector<Matrix3x4>& views, const Matrix4x4& h) {
  double cost = 0.0;
  for (const Matrix3x4& m : views) {
    Matrix3x3 k;
    k.SetFromMatrix3x4(Multiply3x4By4x4(m, h));
    GivensRQ(k);
    if (k[0][0] == 0.0) return kNoCost;
    const double aspect = std::fabs(k[0][0]) - std::fabs(k[1][1]);
    const double centre = std::fabs(k[0][2]) + std::fabs(k[1][2]);
    cost += (aspect * aspect + centre * centre + k[0][1] * k[0][1]) / (k[0][0] * k[0][0]);
  }
  return cost;
}

// Gives the image the pose and axes of camera; size, pixel size and the whole distortion
// (further coefficients included) stay the image's own.
void SetPose(FeatureImage& image, const vm::Vector3& c, const PerspectiveCamera& camera) {
  const PerspectiveCamera own = static_cast<const PerspectiveCamera&>(image);
  image.SetAll(c, camera.GetA(), camera.GetH(), camera.GetV(), own.GetWidth(), own.GetHeight(),
               own.GetPixelSizeX(), own.GetPixelSizeY(), own.GetDistortionCoefficients(),
               own.GetFurtherValues(), own.GetDistortionModel());
}

}  // namespace

AutoCalibADQ::AutoCalibADQ()
    : m_min_focal_factor(0.3f), m_max_focal_factor(3.0f), m_focal_factor_step(0.1f) {
  Reset();
}

void AutoCalibADQ::Reset() {
  SetIdentity4(m_transform);
  m_best_cost = kNoCost;
}

void AutoCalibADQ::EstimateDualQuadric(const std::vector<Matrix3x4>& normalised) {
  const uint32_t views = static_cast<uint32_t>(normalised.size());
  if (views < 2) return;
  Matrix a(6 * views, 10);
  for (int step = 0; step < 60; ++step) {
    const double e = 1e-4 * std::exp(0.395 * step);
    // Aspect, focal (twice), skew, principal point (twice); view weight 1.
    const double weight[6] = {1.0 / 0.2, 1.0 / e, 1.0 / e, 1.0 / 0.01, 1.0 / 0.1, 1.0 / 0.1};
    for (uint32_t i = 0; i < views; ++i) {
      const Matrix3x4& m = normalised[i];
      // coef[a][b][.]: the coefficients of q in w_ab = m_a Q m_bᵀ.
      double coef[3][3][10];
      for (int ra = 0; ra < 3; ++ra) {
        for (int rb = 0; rb < 3; ++rb) {
          for (int j = 0; j < 4; ++j) {
            for (int k = j; k < 4; ++k) {
              coef[ra][rb][kQIndex[j][k]] =
                  j == k ? m[ra][j] * m[rb][j] : m[ra][j] * m[rb][k] + m[ra][k] * m[rb][j];
            }
          }
        }
      }
      for (int c = 0; c < 10; ++c) {
        const double row[6] = {coef[0][0][c] - coef[1][1][c],
                               coef[0][0][c] - coef[2][2][c],
                               coef[1][1][c] - coef[2][2][c],
                               coef[0][1][c],
                               coef[0][2][c],
                               coef[1][2][c]};
        for (int r = 0; r < 6; ++r) a(6 * i + r, c) = row[r] * weight[r];
      }
    }
    Matrix u, v;
    Vector w;
    u.SVD(w, v, a);
    uint32_t ia = 0, ib = 0;
    double smallest = 1e16, second = 1e16;
    for (uint32_t i = 0; i < w.Size(); ++i) {
      if (std::fabs(w[i]) < smallest) {
        smallest = std::fabs(w[i]);
        ia = i;
      }
    }
    for (uint32_t i = 0; i < w.Size(); ++i) {
      if (i != ia && std::fabs(w[i]) < second) {
        second = std::fabs(w[i]);
        ib = i;
      }
    }
    double qa[10], qb[10];
    for (int c = 0; c < 10; ++c) {
      qa[c] = v(c, ia);
      qb[c] = v(c, ib);
    }
    Matrix4x4 q = QuadricFromVector(qa);
    if (views == 2) {
      // A weight whose pencil has no real root gives no rank-3 quadric: skip it.
      Matrix4x4 chosen;
      if (!ChooseQuadricOnPencil(q, QuadricFromVector(qb), normalised, chosen)) continue;
      q = chosen;
    }
    const Matrix4x4 h = FactorQuadric(q);
    const double cost = CalibrationCost(normalised, h);
    if (cost < m_best_cost) {
      m_transform = h;
      m_best_cost = cost;
    }
  }
}

bool AutoCalibADQ::ChooseQuadricOnPencil(const Matrix4x4& qa, const Matrix4x4& qb,
                                         const std::vector<Matrix3x4>& views, Matrix4x4& chosen) {
  Matrix4x4 d;
  for (int i = 0; i < 16; ++i) d.m[i] = qa.m[i] - qb.m[i];
  double c[5];
  DeterminantPolynomial(qb, d, c);
  double roots[4];
  const int n = SolveQuartic(roots, c[4], c[3], c[2], c[1], c[0], false);
  double best = kNoCost;
  bool found = false;
  for (int r = 0; r < n; ++r) {
    Matrix4x4 q;
    for (int i = 0; i < 16; ++i) q.m[i] = qb.m[i] + roots[r] * d.m[i];
    for (const Matrix3x4& m : views) {
      if (ImageQuadricNorm2(m, q) == 0.0) throw "AutoCalibADQ::MetricUpgrade: Frobenius test zero";
    }
    double t[3] = {std::fabs(q[0][0]), std::fabs(q[1][1]), std::fabs(q[2][2])};
    std::sort(t, t + 3, std::greater<double>());
    double s[4];
    Matrix4x4 u, v;
    u.SVD(s, v, q);
    double z = 0.0;
    for (int k = 0; k < 3; ++k) z += (t[k] - s[k]) * (t[k] - s[k]);
    if (z < best) {
      best = z;
      chosen = q;
      found = true;
    }
  }
  return found;
}

bool AutoCalibADQ::MetricUpgrade(const std::vector<SharedPtr<FeatureImage>>& images,
                                 const std::vector<SharedPtr<FeaturePoint3D>>& points,
                                 double focal35) {
  if (images.size() < 2) throw "AutoCalibADQ::MetricUpgrade: at least 2 views are needed";
  const PerspectiveCamera& first = *images[0];
  double c =
      focal35 > 0.0 ? FocalLengthFrom35mmEquivalent(first, focal35) : first.GetNormalFocalLength();
  if (c <= 0.0) {
    c = 10.0;
    Notify(2, "AutoCalibADQ::MetricUpgrade: approx. focal <= 0.0, correct to %g", c);
  } else {
    Notify(3, "AutoCalibADQ::MetricUpgrade: approx. focal %g mm", c);
  }
  Reset();

  std::vector<Matrix3x4> projections(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    GetProjectionMatrixFromCamera(*images[i], projections[i]);
  }
  std::vector<Matrix3x4> normalised(images.size());
  // The factors are single-precision values summed in double: 0.3 ... 2.9.
  for (double h = m_min_focal_factor; h <= m_max_focal_factor; h += m_focal_factor_step) {
    const double f = h * c;
    const double sx = first.GetPixelSizeX(), sy = first.GetPixelSizeY();
    if (sx == 0.0 || sy == 0.0) throw "AutoCalibADQ::MetricUpgrade: zero pixel size";
    Matrix3x3 k;
    for (double& x : k.m) x = 0.0;
    k[0][0] = f / sx;
    k[1][1] = f / sy;
    k[2][2] = 1.0;
    Matrix3x3 k_inv;
    k_inv.Invert(k);
    for (size_t i = 0; i < images.size(); ++i) {
      normalised[i] = Multiply3x3By3x4(k_inv, projections[i]);
    }
    EstimateDualQuadric(normalised);
  }
  if (m_best_cost >= kNoCost) {
    Notify(2, "AutoCalibADQ::MetricUpgrade: no estimate of the dual quadric found");
    return false;
  }

  // The new cameras, computed beside the images.
  Notify(5,
         "FrameIndex: FocalLengthX[mm], FocalLengthY[mm], AspectRatio, Pixel Skew[pel], "
         "CenterPointX[pel], CenterPointY[pel]");
  std::vector<PerspectiveCamera> cameras;
  cameras.reserve(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    cameras.push_back(static_cast<const PerspectiveCamera&>(*images[i]));
    PerspectiveCamera& camera = cameras.back();
    const Matrix3x4 p = Multiply3x4By4x4(projections[i], m_transform);
    GetCameraFromProjectionMatrix(p, camera);
    Matrix3x3 k;
    k.SetFromMatrix3x4(p);
    GivensRQ(k);
    if (k[0][0] == 0.0) {
      Notify(2, "AutoCalibADQ::MetricUpgrade: Kt[0][0] zero");
      return false;
    }
    Notify(5, "COMPARE %d: %f, %f, %f, %f, %f, %f", int(images[i]->GetImageIndex()),
           std::fabs(camera.GetPixelSizeX() * k[0][0]), std::fabs(camera.GetPixelSizeY() * k[1][1]),
           std::fabs(k[1][1] / k[0][0]), k[0][1], k[0][2], k[1][2]);
  }

  // Turn the frame so that the first camera's axes become the coordinate axes.
  double axes[9];
  GetCameraAxes(cameras[0], axes);
  Matrix3x3 rows;
  for (int i = 0; i < 9; ++i) rows.m[i] = axes[i];
  Matrix3x3 r;
  r.Invert(rows);
  Matrix4x4 r4;
  SetIdentity4(r4);
  r4.SetRotationPart(r);
  for (PerspectiveCamera& camera : cameras) {
    Matrix3x4 p;
    GetProjectionMatrixFromCamera(camera, p);
    GetCameraFromProjectionMatrix(Multiply3x4By4x4(p, r4), camera);
  }

  Matrix4x4 tr, w;
  tr.Multiply(m_transform, r4);
  if (!w.Invert(tr)) {
    Notify(2, "AutoCalibADQ::MetricUpgrade: singular transform, reconstruction unchanged");
    return false;
  }
  std::vector<vm::Vector3> moved(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    if (!points[i]) continue;
    Vector4 x;
    x.Multiply(w, *points[i]);
    moved[i] = vm::Vector3{x[0] / x[3], x[1] / x[3], x[2] / x[3]};
  }

  // Commit.
  for (size_t i = 0; i < images.size(); ++i) SetPose(*images[i], cameras[i].GetC(), cameras[i]);
  for (size_t i = 0; i < points.size(); ++i) {
    if (!points[i]) continue;
    static_cast<vm::Vector3&>(*points[i]) = moved[i];
  }

  const double share = GetShareBehind(images, points);
  if (share > 0.5) {
    Notify(5,
           "AutoCalibADQ::MetricUpgrade: most (%f %%) of %ld 3D points behind camera, transform "
           "solution",
           share * 100.0, long(points.size()));
    for (const SharedPtr<FeaturePoint3D>& point : points) {
      if (!point) continue;
      point->x = -point->x;
      point->y = -point->y;
      point->z = -point->z;
    }
    for (const SharedPtr<FeatureImage>& image : images) SetPose(*image, -image->GetC(), *image);
  }
  return true;
}

double AutoCalibADQ::GetShareBehind(const std::vector<SharedPtr<FeatureImage>>& images,
                                    const std::vector<SharedPtr<FeaturePoint3D>>& points) {
  if (images.empty() || points.empty()) return 0.0;
  for (const SharedPtr<FeaturePoint3D>& point : points) {
    if (point) point->SetFlags(FP3D_FLAG_TEMP_MARK);
  }
  long counted = 0, behind = 0;
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    const vm::Vector3& a = image->GetA();
    const vm::Vector3& c = image->GetC();
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      FeaturePoint3D* point = feature ? feature->GetFPoint3D().Get() : nullptr;
      if (!point || point->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_PROTECTED) ||
          !point->TestFlags(FP3D_FLAG_TEMP_MARK)) {
        continue;
      }
      ++counted;
      const double depth = a.x * (point->x - c.x) + a.y * (point->y - c.y) + a.z * (point->z - c.z);
      if (depth <= 0.0) ++behind;
      point->ClearFlags(FP3D_FLAG_TEMP_MARK);
    }
  }
  for (const SharedPtr<FeaturePoint3D>& point : points) {
    if (point) point->ClearFlags(FP3D_FLAG_TEMP_MARK);
  }
  return counted == 0 ? 0.0 : double(behind) / double(counted);
}
