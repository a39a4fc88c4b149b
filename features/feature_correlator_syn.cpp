#include "features/feature_correlator_syn.h"

#include <cmath>

#include "features/feature_image.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

struct SynShared {
  PerspectiveCamera reference;
  std::vector<vm::Vector3> scene;
  // Per scene point: the feature of the most recent image that saw it (empty: none).
  std::vector<SharedPtr<FeaturePoint2D>> point_map;
  RandomGenerator random{1937};
  int clone_counter = 0;
  FeatureCorrelatorSyn::Parameter built_with;
};

SynShared* g_shared = nullptr;

SynShared& Shared() {
  if (g_shared == nullptr) g_shared = new SynShared;
  return *g_shared;
}

// U in (0, 1).
double Uniform(RandomGenerator& random) {
  return (static_cast<double>(random.Next()) + 0.5) * (1.0 / 4294967296.0);
}

// Polar Box-Muller normal values with a cached second value.
class Gaussian {
 public:
  Gaussian(RandomGenerator& random, double mean, double sigma)
      : random_(random), mean_(mean), sigma_(sigma) {}
  double Next() {
    if (has_cached_) {
      has_cached_ = false;
      return cached_;
    }
    double u, v, s;
    do {
      u = (static_cast<double>(random_.Next()) + 0.5) * (1.0 / 2147483648.0) - 1.0;
      v = (static_cast<double>(random_.Next()) + 0.5) * (1.0 / 2147483648.0) - 1.0;
      s = u * u + v * v;
    } while (!(s < 1.0));
    const double f = std::sqrt(-2.0 * std::log(s) / s) * sigma_;
    cached_ = f * v + mean_;
    has_cached_ = true;
    return f * u + mean_;
  }

 private:
  RandomGenerator& random_;
  double mean_;
  double sigma_;
  double cached_ = 0.0;
  bool has_cached_ = false;
};

Matrix4x4 Identity4() {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = m[1][1] = m[2][2] = m[3][3] = 1.0;
  return m;
}

Matrix4x4 Rotation4(const vm::Vector3& axis, double angle) {
  Matrix4x4 m = Identity4();
  m.SetRotation(axis, angle);
  return m;
}

Matrix4x4 Translation4(const vm::Vector3& t) {
  Matrix4x4 m = Identity4();
  m[0][3] = t.x;
  m[1][3] = t.y;
  m[2][3] = t.z;
  return m;
}

// M (x, 1) divided by its homogeneous coordinate; a zero one gives the origin.
vm::Vector3 TransformPoint(const Matrix4x4& m, const vm::Vector3& x) {
  Vector4 h;
  h.Multiply(m, x);
  if (h[3] == 0.0) return {0.0, 0.0, 0.0};
  return {h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

bool PointParametersDiffer(const FeatureCorrelatorSyn::Parameter& a,
                           const FeatureCorrelatorSyn::Parameter& b) {
  return a.m_nf != b.m_nf || a.m_p_r2 != b.m_p_r2 || a.m_r1 != b.m_r1 || a.m_r2 != b.m_r2 ||
         a.m_dist != b.m_dist || a.m_grid != b.m_grid;
}

const char* TrueFalse(bool b) {
  return b ? "true" : "false";
}

}  // namespace

FeatureCorrelatorSyn::Parameter::Parameter(uint32_t nf, double r1, double r2, double pan_deg,
                                           double tilt_deg, double roll_deg, double dz, double zlb,
                                           double zub, double po, double to, double std_d,
                                           uint32_t p_r2, const vm::Vector3* translation, bool cc,
                                           bool s3d, bool covariance, bool dist, bool grid,
                                           bool cube, double k3, double k5, double principal_x,
                                           double principal_y, double outlier, double max_deviation,
                                           uint32_t seed)
    : m_nf(nf),
      m_r1(r1),
      m_r2(r2 == 0.0 ? r1 : r2),
      m_dp(pan_deg * kDegToRad),
      m_dt(tilt_deg * kDegToRad),
      m_dr(roll_deg * kDegToRad),
      m_dz(dz),
      m_zlb(zlb),
      m_zub(zub),
      m_po(po),
      m_to(to),
      m_std_d(std_d),
      m_p_r2(p_r2),
      m_cc(cc),
      m_s3d(s3d),
      m_covariance(covariance),
      m_dist(dist),
      m_grid(grid),
      m_cube(cube),
      m_k3(k3),
      m_k5(k5),
      m_principal_x(principal_x),
      m_principal_y(principal_y),
      m_outlier(outlier),
      m_max_deviation(max_deviation),
      m_seed(seed) {
  if (translation != nullptr) {
    m_tx = translation->x;
    m_ty = translation->y;
    m_tz = translation->z;
  }
}

FeatureCorrelatorSyn::FeatureCorrelatorSyn() {
  Shared();
}

FeatureCorrelatorSyn::~FeatureCorrelatorSyn() {
  UnlinkCorrespondences();
}

const std::vector<vm::Vector3>& FeatureCorrelatorSyn::GetScene() {
  return Shared().scene;
}

const PerspectiveCamera& FeatureCorrelatorSyn::GetReferenceCamera() {
  return Shared().reference;
}

int32_t FeatureCorrelatorSyn::Compute() {
  // SetFeatureImages has reported a missing image.
  if (second_image_ == nullptr || (k_ == 0 && first_image_ == nullptr)) return 0;
  if (Shared().scene.empty()) {
    UnlinkCorrespondences();
    Init3DScene();
  }
  if (k_ == 0) CreateImageFeatures(first_image_, 0);
  CreateImageFeatures(second_image_, k_ + 1);
  return static_cast<int32_t>(correspondences_.size());
}

SharedPtr<FeatureCorrelator> FeatureCorrelatorSyn::Clone() {
  SynShared& shared = Shared();
  auto clone = SharedPtr<FeatureCorrelatorSyn>::Make();
  clone->k_ = shared.clone_counter++;
  clone->parameter_ = parameter_;
  return clone;
}

void FeatureCorrelatorSyn::OnNewFeatureImages() {
  if (k_ == 0 && first_image_ != nullptr) Shared().reference.CopyFrom(*first_image_, false);
}

void FeatureCorrelatorSyn::UnlinkCorrespondences() {
  for (const SharedPtr<FeatureCorrespondence>& link : correspondences_) {
    if (!link) continue;
    if (link->GetFirst()) link->GetFirst()->SetSuccessor(nullptr);
    if (link->GetSecond()) link->GetSecond()->SetPredecessor(nullptr);
  }
}

void FeatureCorrelatorSyn::Init3DScene() {
  SynShared& shared = Shared();
  Parameter& p = parameter_;
  if (p.m_seed != 0) {
    Notify(4, "FeatureCorrelatorSyn::Init3DScene: setting fixed seed=%d",
           static_cast<int>(p.m_seed));
    shared.random.Seed(p.m_seed);
  }
  // A seeded scene is drawn again even when the points would be the same: reusing it
  // would leave the generator where the seeding put it, so the noise of a run would
  // depend on whether an earlier run in the process had built the scene.
  if (p.m_seed != 0 || PointParametersDiffer(p, shared.built_with)) {
    shared.built_with = p;
    shared.scene.clear();
  }
  shared.clone_counter = 0;
  k_ = 0;
  if (!shared.scene.empty()) return;
  // The map refers to the old scene's points.
  shared.point_map.clear();

  Notify(4,
         "FeatureCorrelatorSyn::Init3DScene: create %d new 3D points with parameter: r1: %.1f, r2: "
         "%.1f, perc. on r2: %.1f, dist.: %s\n",
         static_cast<int>(p.m_nf), static_cast<double>(static_cast<float>(p.m_r1)),
         static_cast<double>(static_cast<float>(p.m_r2)),
         static_cast<double>(static_cast<float>(p.m_p_r2)), TrueFalse(p.m_dist));
  if (p.m_p_r2 > 100) {
    Notify(2,
           "FeatureCorrelatorSyn::Init3DScene: bad parameter percentage on radius 2 (%u), set to "
           "50 !",
           p.m_p_r2);
    p.m_p_r2 = 50;
  }

  RandomGenerator& random = shared.random;
  std::vector<vm::Vector3>& scene = shared.scene;
  const double n_points = static_cast<double>(p.m_nf);
  const double r1 = p.m_r1, r2 = p.m_r2;
  if (p.m_cube) {
    const int m = static_cast<int>(std::sqrt(n_points / 6.0));
    const double side = r2 - r1, h = side / 2.0, step = side / m;
    for (int i = 0; i < m; ++i) {
      const double a = i * step - h;
      for (int j = 0; j < m; ++j) {
        const double b = j * step;
        scene.push_back({b - h, a, r1});
        scene.push_back({b - h, a, r2});
        scene.push_back({h, a, r1 + b});
        scene.push_back({-h, a, r1 + b});
        scene.push_back({a, h, r1 + b});
        scene.push_back({a, -h, r1 + b});
      }
    }
  } else if (p.m_grid) {
    // Rings of latitude (the poles left out) with points along each ring.
    auto rings = [&](double m, bool offset, double radius, bool random_radius) {
      if (!(m > 1.0)) return;
      const int k = static_cast<int>(m);
      const double o = offset ? 0.5 : 0.0;
      for (int i = 1; i <= k - 2; ++i) {
        for (int j = 0; j <= k - 1; ++j) {
          const double theta = (i + o) * kPi / m;
          const double phi = (j + o) * kTwoPi / m;
          const double rho = random_radius ? r1 + Uniform(random) * (r2 - r1) : radius;
          scene.push_back({rho * std::sin(theta) * std::cos(phi), rho * std::cos(theta),
                           rho * std::sin(theta) * std::sin(phi)});
        }
      }
    };
    if (!p.m_dist) {
      rings(std::sqrt(p.m_p_r2 * n_points / 100.0), true, r2, false);
      rings(std::sqrt((100.0 - p.m_p_r2) * n_points / 100.0), false, r1, false);
    } else {
      rings(std::sqrt(n_points), false, r1, true);
    }
  } else {
    // Uniform directions on the sphere.
    scene.reserve(p.m_nf);
    for (uint32_t i = 0; i < p.m_nf; ++i) {
      double rho;
      if (p.m_dist) {
        rho = r1 + Uniform(random) * (r2 - r1);
      } else {
        rho = (i % 100) < 100 - p.m_p_r2 ? r1 : r2;
      }
      const double a = (static_cast<double>(random.Next()) + 0.5) * 1.4629180792671596e-09;
      const double b = std::asin(2.0 * Uniform(random) - 1.0);
      Matrix4x4 m = Identity4();
      m.SetRotationXYZ(b, a, 0.0);
      scene.push_back(TransformPoint(m, {0.0, 0.0, rho}));
    }
  }
}

void FeatureCorrelatorSyn::GetCamera(int n, PerspectiveCamera& camera) const {
  const Parameter& p = parameter_;
  const PerspectiveCamera& ref = Shared().reference;
  const double nu = n;
  const vm::Vector3 c_ref = ref.GetC();
  const vm::Vector3 h0 = ref.H0(), v0 = ref.V0();

  // Pan about R's vertical axis, tilt about its horizontal axis, roll about its view axis.
  Matrix4x4 m;
  m.Multiply(Rotation4(v0, nu * p.m_dp), Rotation4(h0, nu * p.m_dt));
  m.Multiply(m, Rotation4(ref.GetA(), nu * p.m_dr));
  m.Multiply(m, Translation4(-c_ref));
  camera.CopyFrom(ref, false);
  camera.Transform(m);

  const vm::Vector3 w = ref.GetA() * p.m_po + v0 * p.m_to;
  const vm::Vector3 q = TransformPoint(camera.GetCameraToWorldMatrix(), w);
  camera.Transform(Translation4(c_ref + q));

  double zoom = 1.0;
  // The zoom cycle needs a factor 1 + dz above 0 and positive bounds; anything else
  // (or a cycle too long to count) leaves the focal length as it is.
  const double g = std::fabs(p.m_dz) > 1e-38 && p.m_dz > -1.0 ? 1.0 / std::log(1.0 + p.m_dz) : 0.0;
  const double lo_steps = -std::log(p.m_zlb) * g;
  const double hi_steps = std::log(p.m_zub) * g;
  const bool zoom_ok = g != 0.0 && std::isfinite(lo_steps) && std::isfinite(hi_steps) &&
                       std::fabs(lo_steps) < 1e6 && std::fabs(hi_steps) < 1e6;
  if (std::fabs(p.m_dz) > 1e-38 && !zoom_ok) {
    Notify(2,
           "FeatureCorrelatorSyn::GetCamera: zoom step %g with bounds %g, %g gives no zoom cycle",
           p.m_dz, p.m_zlb, p.m_zub);
  }
  if (zoom_ok) {
    const int lo = static_cast<int>(lo_steps);
    const int hi = static_cast<int>(hi_steps);
    const int period = 2 * (hi + lo);
    const int r = period != 0 ? n % period : 0;
    int e;
    if (r <= lo) {
      e = -r;
    } else if (r <= period - hi) {
      e = r - 2 * lo;
    } else {
      e = period - r;
    }
    zoom = std::pow(1.0 + p.m_dz, e);
  }
  camera.SetFocalLength(ref.GetFocalLength() * zoom);
  camera.Transform(Translation4({nu * p.m_tx, nu * p.m_ty, nu * p.m_tz}));

  if (camera.GetRdDim() == 0) {
    Notify(5, "FeatureCorrelatorSyn::GetCamera: RdDim in [mm]");
  } else {
    Notify(2, "FeatureCorrelatorSyn::GetCamera: RdDim not in [mm]");
  }
  camera.SetDistortion(p.m_k3, p.m_k5, camera.GetRdDim(), camera.GetDistortionModel());
  camera.SetCenterPointX(p.m_principal_x);
  camera.SetCenterPointY(p.m_principal_y);

  Notify(3, "FeatureCorrelatorSyn::GetCamera: generated camera parameters for image no %d", n);
  Notify(3, "pan = %.4f [deg], tilt = %.4f [deg], roll = %.4f [deg], zoom = %.4f",
         nu * p.m_dp * kRadToDeg, nu * p.m_dt * kRadToDeg, nu * p.m_dr * kRadToDeg, zoom);
  Notify(3, "dx = %.4f [mm], dy = %.4f [mm], dz  = %.4f [mm]", nu * p.m_tx, nu * p.m_ty,
         nu * p.m_tz);
  Notify(3, "focal [mm] =  %.4lf, k3 [mm^-2] =  %e,  k5 [mm^-4] =  %e", camera.GetFocalLength(),
         camera.GetDistortionCoefficients()[0], camera.GetDistortionCoefficients()[1]);
  Notify(3, "principal point = (%.2f, %.2f) [pel]", camera.GetCenterPointX(),
         camera.GetCenterPointY());
}

void FeatureCorrelatorSyn::CreateImageFeatures(FeatureImage* image, int n) {
  if (image == nullptr) {
    Notify(2, "FeatureCorrelatorSyn::CreateImageFeatures: input image == NULL");
    return;
  }
  SynShared& shared = Shared();
  const Parameter& p = parameter_;
  const double sigma = p.m_std_d;
  Gaussian gauss(shared.random, 0.0, sigma);
  image->ClearFPoints2D();
  std::vector<SharedPtr<FeaturePoint2D>> local_map(shared.scene.size());
  PerspectiveCamera camera;
  if (p.m_cc) {
    Notify(8, "FeatureCorrelatorSyn::CreateImageFeatures: use preset camera from disk");
    camera = n == 0 ? shared.reference : camera_;
  } else {
    Notify(8, "FeatureCorrelatorSyn::CreateImageFeatures: use calculated camera");
    GetCamera(n, camera);
  }
  correspondences_.clear();

  Notify(9, "FeatureCorrelatorSyn::CreateImageFeatures: parameters:");
  Notify(9, "nf: %d, r: %.1f, r2: %.1f", static_cast<int>(p.m_nf), p.m_r1, p.m_r2);
  Notify(9, "dp: %.1f, dt: %.1f, dr: %.1f, dz: %.1f", p.m_dp * kRadToDeg, p.m_dt * kRadToDeg,
         p.m_dr * kRadToDeg, p.m_dz);
  Notify(9, "zlb: %.1f, zub: %.1f, po: %.1f, to: %.1f", p.m_zlb, p.m_zub, p.m_po, p.m_to);
  Notify(9, "std d: %.2f, p r2: %d", p.m_std_d, static_cast<int>(p.m_p_r2));
  Notify(9, "tx: %.1f, ty: %.1f, tz: %.1f", p.m_tx, p.m_ty, p.m_tz);
  Notify(9, "flags cc: %s, s3d %s", TrueFalse(p.m_cc), TrueFalse(p.m_s3d));
  Notify(9, "outlier: %.2f percent, with max. %.2f deviation", p.m_outlier, p.m_max_deviation);

  // The first image of a run starts new tracks: the map may still hold the features of a
  // previous run, which must not become predecessors.
  const bool link_to_previous = n != 0;
  const double mark_limit = 2.326 * sigma;
  const vm::Vector3 c_ref = shared.reference.GetC();
  int outliers = 0, inliers = 0, old_points = 0, new_points = 0;
  for (size_t s = 0; s < shared.scene.size(); ++s) {
    const vm::Vector3 world = shared.scene[s] + c_ref;
    double x, y, depth;
    if (!camera.ProjectPoint(world, x, y, depth, true) || !(depth > 0.0)) continue;
    const double u0 = Uniform(shared.random);
    bool marked = false;
    if ((n & 2) != 0 && u0 < p.m_outlier) {
      ++outliers;
      const double dx = Uniform(shared.random) * 2.0 * p.m_max_deviation - p.m_max_deviation;
      const double dy = Uniform(shared.random) * 2.0 * p.m_max_deviation - p.m_max_deviation;
      x += dx;
      y += dy;
      marked = std::fabs(dx) > mark_limit || std::fabs(dy) > mark_limit;
    } else {
      ++inliers;
      if (sigma != 0.0) {
        x += gauss.Next();
        y += gauss.Next();
      }
    }
    if (!camera.IsInsideImage(x, y)) continue;

    auto feature = SharedPtr<FeaturePoint2D>::Make(image, x, y);
    if (marked) feature->SetFlags(0x1);
    if (p.m_covariance) {
      const float variance = static_cast<float>(sigma * sigma);
      feature->SetCoVariance(variance, 0.0f, variance);
    }
    image->AddFPoint2D(feature);
    local_map[s] = feature;

    if (!link_to_previous || s >= shared.point_map.size() || !shared.point_map[s]) continue;
    const SharedPtr<FeaturePoint2D>& earlier = shared.point_map[s];
    auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, feature);
    link->SetScore(0.0f);
    correspondences_.push_back(link);
    earlier->SetSuccessor(link);
    feature->SetPredecessor(link);
    if (p.m_s3d) {
      if (earlier->GetFPoint3D()) {
        feature->SetFPoint3D(earlier->GetFPoint3D());
        ++old_points;
      } else {
        auto point =
            SharedPtr<FeaturePoint3D>::Make(world.x, world.y, world.z, FeaturePoint3D::eCartesian);
        point->SetId(new_points++);
        earlier->SetFPoint3D(point);
        feature->SetFPoint3D(point);
      }
    }
  }
  shared.point_map.swap(local_map);

  Notify(4,
         "FeatureCorrelatorSyn::CreateImageFeatures: created %d 2D feature points for image no: "
         "%d, number of correspondences established: %d",
         static_cast<int>(image->GetFPoints2D().size()), n,
         static_cast<int>(correspondences_.size()));
  if (p.m_s3d) {
    Notify(5,
           "FeatureCorrelatorSyn::CreateImageFeatures: set 3D coordinates: %d old, create %d new "
           "3D features",
           old_points, new_points);
  }
  if ((n & 2) != 0) {
    const int total = outliers + inliers;
    Notify(4, "FeatureCorrelatorSyn::CreateImageFeatures: no. of outlier: %d = %.2f percent",
           outliers, total > 0 ? static_cast<double>(outliers) / total : 0.0);
  }
}
