#include "geometry/triangulation_multi_view.h"

#include <algorithm>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/corr_el.h"

bool InvertSymmetric3x3(const Matrix3x3& a, Matrix3x3& out) {
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[1][2];
  const double c01 = a[0][2] * a[1][2] - a[0][1] * a[2][2];
  const double c02 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  if (det == 0.0) return false;
  const double c11 = a[0][0] * a[2][2] - a[0][2] * a[0][2];
  const double c12 = a[0][2] * a[0][1] - a[0][0] * a[1][2];
  const double c22 = a[0][0] * a[1][1] - a[0][1] * a[0][1];
  const double s = 1.0 / det;
  out = {{c00 * s, c01 * s, c02 * s, c01 * s, c11 * s, c12 * s, c02 * s, c12 * s, c22 * s}};
  return true;
}

double InfiniteHomographyParallax2(const Matrix3x3& ma, const Matrix3x3& mb, double xa, double ya,
                                   double xb, double yb) {
  Matrix3x3 ma_inverse;
  ma_inverse.Invert(ma);
  Matrix3x3 h;
  h.Multiply(mb, ma_inverse);
  const vm::Vector3 m = MultiplyMat3Vec3(h, vm::Vector3{xa, ya, 1.0});
  double u = m.x, v = m.y;
  if (m.z != 0.0) {
    u /= m.z;
    v /= m.z;
  }
  return (xb - u) * (xb - u) + (yb - v) * (yb - v);
}

TriangulationMultiView::TriangulationMultiView()
    : observations_(std::make_unique<Observation[]>(capacity_)) {}

TriangulationMultiView::~TriangulationMultiView() = default;

void TriangulationMultiView::Reset() {
  num_ = 0;
  point_given_ = false;
  computed_ = false;
  result_ = false;
  mean_squared_error_ = 1e16;
  max_squared_error_ = 0.0;
}

void TriangulationMultiView::SetPoint(const vm::Vector3& x) {
  x_ = x;
  point_given_ = true;
}

void TriangulationMultiView::AddObservation(const FeaturePoint2D& feature,
                                            const PerspectiveCamera& camera) {
  Observation o;
  MapImagePoint(feature.x, feature.y, camera, kCorrElMillimetres, false, true, false, o.x, o.y);
  o.x /= camera.GetPixelSizeX();
  o.y /= camera.GetPixelSizeY();
  if (feature.TestFlags(FP2D_FLAG_COVARIANCE)) {
    const Matrix2x2 w = feature.GetInverseCoVariance();
    o.w00 = w[0][0];
    o.w01 = w[0][1];
    o.w11 = w[1][1];
  } else {
    o.w00 = 1.0;
    o.w01 = 0.0;
    o.w11 = 1.0;
  }
  o.centre = camera.GetC();
  GetProjectionMatrixFromCamera(camera, o.p);
  Append(o);
}

void TriangulationMultiView::AddFPoint2D(const FeaturePoint2D* feature) {
  if (feature == nullptr || feature->GetImage() == nullptr) return;
  AddObservation(*feature, *feature->GetImage());
}

void TriangulationMultiView::Append(const Observation& o) {
  if (num_ == capacity_) {
    const unsigned grown = capacity_ * 2;
    auto buffer = std::make_unique<Observation[]>(grown);
    std::copy(observations_.get(), observations_.get() + num_, buffer.get());
    observations_ = std::move(buffer);
    capacity_ = grown;
  }
  observations_[num_++] = o;
}

bool TriangulationMultiView::LinearStart(vm::Vector3& x) const {
  Matrix4x4 n;
  n.SetZero();
  for (unsigned i = 0; i < num_; ++i) {
    const Observation& o = observations_[i];
    double a[4], b[4];
    for (int k = 0; k < 4; ++k) {
      a[k] = o.x * o.p[2][k] - o.p[0][k];
      b[k] = o.y * o.p[2][k] - o.p[1][k];
    }
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) {
        n[r][c] += o.w00 * a[r] * a[c] + o.w01 * (a[r] * b[c] + b[r] * a[c]) + o.w11 * b[r] * b[c];
      }
    }
  }
  Vector4 h;
  h.SetNullVector(n);
  if (h[3] == 0.0) return false;
  x = {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
  return true;
}

void TriangulationMultiView::Refine() {
  double lambda = 0.001;
  double accepted_sum = 0.0;  // weighted error sum of the accepted point
  vm::Vector3 trial = x_;
  bool trial_better = false;  // the last tested trial decreased the sum
  double trial_d2 = 0.0, trial_max_d2 = 0.0;
  for (int pass = 0; pass < 12; ++pass) {
    const bool step = pass % 2 == 0;
    double e_sum = 0.0, d2_sum = 0.0, d2_max = 0.0;
    Matrix3x3 g_outer{};
    double g_e[3] = {0.0, 0.0, 0.0};
    for (unsigned i = 0; i < num_; ++i) {
      const Observation& o = observations_[i];
      double h[3];
      for (int r = 0; r < 3; ++r) {
        h[r] = o.p[r][0] * trial.x + o.p[r][1] * trial.y + o.p[r][2] * trial.z + o.p[r][3];
      }
      if (h[2] == 0.0) {
        e_sum += 1e10;
        continue;
      }
      const double u = h[0] / h[2], v = h[1] / h[2];
      const double rx = u - o.x, ry = v - o.y;
      const double wr0 = o.w00 * rx + o.w01 * ry, wr1 = o.w01 * rx + o.w11 * ry;
      const double e = rx * wr0 + ry * wr1;
      const double d2 = rx * rx + ry * ry;
      e_sum += e;
      d2_sum += d2;
      d2_max = std::max(d2_max, d2);
      if (!step) continue;
      double g[3];
      for (int k = 0; k < 3; ++k) {
        const double ju = (o.p[0][k] - u * o.p[2][k]) / h[2];
        const double jv = (o.p[1][k] - v * o.p[2][k]) / h[2];
        g[k] = 2.0 * (ju * wr0 + jv * wr1);
      }
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) g_outer[r][c] += g[r] * g[c];
        g_e[r] += g[r] * e;
      }
    }

    if (step) {
      x_ = trial;
      mean_squared_error_ = d2_sum / num_;
      max_squared_error_ = d2_max;
      accepted_sum = e_sum;
      trial_better = false;
      for (int k = 0; k < 3; ++k) g_outer[k][k] *= 1.0 + lambda;
      Matrix3x3 inverse;
      if (InvertSymmetric3x3(g_outer, inverse)) {
        const vm::Vector3 delta = MultiplyMat3Vec3(inverse, vm::Vector3{g_e[0], g_e[1], g_e[2]});
        trial = x_ - delta;
      } else {
        trial = x_;
      }
    } else if (e_sum >= accepted_sum) {
      trial_better = false;
      lambda *= 10.0;
      if (lambda > 2.0) break;
      trial = x_;
    } else {
      lambda *= 0.1;
      trial_better = true;
      trial_d2 = d2_sum;
      trial_max_d2 = d2_max;
    }
  }
  if (trial_better) {
    x_ = trial;
    mean_squared_error_ = trial_d2 / num_;
    max_squared_error_ = trial_max_d2;
  }
}

bool TriangulationMultiView::Compute() {
  if (computed_) return result_;
  computed_ = true;
  result_ = false;
  if (num_ < 2) return false;
  if (!point_given_ && !LinearStart(x_)) return false;
  Refine();
  result_ = true;
  return true;
}

vm::Vector3 TriangulationMultiView::GetPoint() {
  Compute();
  return x_;
}

double TriangulationMultiView::GetMeanSquaredError() {
  Compute();
  return mean_squared_error_;
}

double TriangulationMultiView::GetMaxSquaredError() {
  Compute();
  return max_squared_error_;
}

bool TriangulationMultiView::GetInformationMatrix(Matrix3x3& out) {
  if (!Compute()) return false;
  Matrix3x3 info{};
  for (unsigned i = 0; i < num_; ++i) {
    const Observation& o = observations_[i];
    double h[3];
    for (int r = 0; r < 3; ++r) {
      h[r] = o.p[r][0] * x_.x + o.p[r][1] * x_.y + o.p[r][2] * x_.z + o.p[r][3];
    }
    if (h[2] == 0.0) return false;
    const double u = h[0] / h[2], v = h[1] / h[2];
    double ju[3], jv[3];
    for (int k = 0; k < 3; ++k) {
      ju[k] = (o.p[0][k] - u * o.p[2][k]) / h[2];
      jv[k] = (o.p[1][k] - v * o.p[2][k]) / h[2];
    }
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        info[r][c] +=
            o.w00 * ju[r] * ju[c] + o.w01 * (ju[r] * jv[c] + jv[r] * ju[c]) + o.w11 * jv[r] * jv[c];
      }
    }
  }
  out = info;
  return true;
}

bool TriangulationMultiView::CheckMinDisplacement(double threshold) {
  size_t a = 0, b = 1;
  if (!FarthestCentrePair(
          num_, [this](size_t i) { return observations_[i].centre; }, a, b)) {
    Notify(3, "TriangulationMultiView::CheckMinDisplacement: num points < 2");
    return false;
  }
  const Observation& oa = observations_[a];
  const Observation& ob = observations_[b];
  Matrix3x3 ma, mb;
  ma.SetFromMatrix3x4(oa.p);
  mb.SetFromMatrix3x4(ob.p);
  return InfiniteHomographyParallax2(ma, mb, oa.x, oa.y, ob.x, ob.y) > threshold * threshold;
}
