// Test tracks for the two-view solvers: two synthetic cameras (two_view_scene_for_test.h)
// looking at a point cloud or a plane, the projections as linked feature pairs in two
// feature images, a share of them moved off to be outliers, and the true models in the solvers'
// element units (mm on the sensor about the principal point). Shared by the solver, sampler and
// guided-matching tests and the two-view benchmark.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "geometry/corr_el.h"
#include "geometry/sample_calculator.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/two_view_scene_for_test.h"

namespace kxtest {

// Where a camera sits: centre (mm) and rotation angles (radians, Rz Ry Rx; its rows are
// the camera's horizontal, vertical and viewing axes).
struct Pose {
  double cx, cy, cz;
  double ax, ay, az;
};

// The scene camera of a pose: focal length 80 mm at 0.1 mm pixels (800 pixels),
// principal point (xp, yp) pixels from the image centre.
inline PerspectiveCamera SceneCamera(const Pose& p, double xp = 0.0, double yp = 0.0) {
  return MakeCamera({p.cx, p.cy, p.cz}, RotationXYZ(p.ax, p.ay, p.az), 80.0, xp, yp);
}

// The rows H0, V0, A of a camera as a world-to-camera rotation.
inline Matrix3x3 CameraRotation(const PerspectiveCamera& c) {
  const vm::Vector3 h = c.H0(), v = c.V0(), a = c.GetA();
  return {{h.x, h.y, h.z, v.x, v.y, v.z, a.x, a.y, a.z}};
}

// The fundamental matrix of the pair in element units, scaled to unit Frobenius norm:
// K^-T [t]x R K^-1 with K = diag(f, f, 1) in mm, R = R1 R0^T, t = R1 (C0 - C1).
inline void TrueFundamental(const PerspectiveCamera& c0, const PerspectiveCamera& c1, double F[9]) {
  Matrix3x3 r0 = CameraRotation(c0), r1 = CameraRotation(c1), r;
  r.MultiplyABt(r1, r0);
  const vm::Vector3 d = c0.GetC() - c1.GetC();
  const double t[3] = {r1.m[0] * d.x + r1.m[1] * d.y + r1.m[2] * d.z,
                       r1.m[3] * d.x + r1.m[4] * d.y + r1.m[5] * d.z,
                       r1.m[6] * d.x + r1.m[7] * d.y + r1.m[8] * d.z};
  const double tx[9] = {0, -t[2], t[1], t[2], 0, -t[0], -t[1], t[0], 0};
  const double k0 = 1.0 / c0.GetFocalLength(), k1 = 1.0 / c1.GetFocalLength();
  const double kl[3] = {k1, k1, 1.0}, kr[3] = {k0, k0, 1.0};
  double norm = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double e = 0.0;
      for (int k = 0; k < 3; ++k) e += tx[3 * i + k] * r.m[3 * k + j];
      F[3 * i + j] = kl[i] * e * kr[j];
      norm += F[3 * i + j] * F[3 * i + j];
    }
  for (int i = 0; i < 9; ++i) F[i] /= std::sqrt(norm);
}

// |a/|a| -+ b/|b|| over nine values, the smaller of the two signs: 0 for proportional
// matrices.
inline double ProportionalDistance(const double a[9], const double b[9]) {
  double na = 0.0, nb = 0.0;
  for (int i = 0; i < 9; ++i) {
    na += a[i] * a[i];
    nb += b[i] * b[i];
  }
  na = std::sqrt(na);
  nb = std::sqrt(nb);
  double plus = 0.0, minus = 0.0;
  for (int i = 0; i < 9; ++i) {
    plus += std::pow(a[i] / na - b[i] / nb, 2);
    minus += std::pow(a[i] / na + b[i] / nb, 2);
  }
  return std::sqrt(std::min(plus, minus));
}

// Feature pairs in two images: pair i links feature i of image0 to feature i of image1.
// Outliers have their second feature moved; `outlier` marks them. The feature images
// own the features; the destructor breaks the track cycles.
struct TwoViewTracks {
  // n world points seen by both cameras (4 to 8 m in front of camera 0, or all at 6 m
  // when planar), projected with Gaussian noise of `noise` pixels. Each pair becomes an
  // outlier with probability outlier_share: its second feature moves 8 to 40 pixels in
  // a random direction.
  TwoViewTracks(const Pose& p0, const Pose& p1, int n, double outlier_share, bool planar,
                double noise = 0.0, uint32_t seed = 1)
      : camera0(SceneCamera(p0)), camera1(SceneCamera(p1)) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, noise > 0.0 ? noise : 1.0);
    while (static_cast<int>(corrs.size()) < n) {
      const double x = (unit(rng) - 0.5) * 0.8, y = (unit(rng) - 0.5) * 0.6;
      const double depth = planar ? 6000.0 : 4000.0 + 4000.0 * unit(rng);
      const vm::Vector3 w = camera0.CameraToWorld(x * depth, y * depth, depth);
      double u0, v0, u1, v1, d0, d1;
      if (!camera0.ProjectPoint(w, u0, v0, d0, true) || !camera1.ProjectPoint(w, u1, v1, d1, true))
        continue;
      if (d0 <= 0.0 || d1 <= 0.0) continue;
      if (noise > 0.0) {
        u0 += gauss(rng);
        v0 += gauss(rng);
        u1 += gauss(rng);
        v1 += gauss(rng);
      }
      const bool out = unit(rng) < outlier_share;
      if (out) {
        const double angle = 2.0 * M_PI * unit(rng), len = 8.0 + 32.0 * unit(rng);
        u1 += len * std::cos(angle);
        v1 += len * std::sin(angle);
      }
      Add(u0, v0, u1, v1, out);
    }
  }
  ~TwoViewTracks() {
    for (auto& f : firsts) UnlinkFromTrack(f);
  }
  TwoViewTracks(const TwoViewTracks&) = delete;
  TwoViewTracks& operator=(const TwoViewTracks&) = delete;

  void Add(double u0, double v0, double u1, double v1, bool out) {
    auto a = SharedPtr<FeaturePoint2D>::Make(&image0, u0, v0);
    auto b = SharedPtr<FeaturePoint2D>::Make(&image1, u1, v1);
    auto link = SharedPtr<FeatureCorrespondence>::Make(a, b);
    a->SetSuccessor(link);
    b->SetPredecessor(link);
    image0.AddFPoint2D(a);
    image1.AddFPoint2D(b);
    firsts.push_back(a);
    corrs.push_back(link);
    outlier.push_back(out);
  }

  // The element of pair i mapped with one camera (mm about its principal point).
  CorrEl Element(size_t i, const PerspectiveCamera& camera) const {
    CorrEl e;
    CorrElMapper(camera).MapCorrespondence(corrs[i], e);
    return e;
  }

  // The elements a calculator makes of the pairs (those it accepts).
  std::vector<CorrEl> Elements(SampleCalculator& calculator) const {
    std::vector<CorrEl> out;
    for (const auto& corr : corrs) {
      CorrEl e;
      if (calculator.MakeCorrEl(corr, e)) out.push_back(e);
    }
    return out;
  }

  PerspectiveCamera camera0, camera1;
  FeatureImage image0, image1;
  std::vector<SharedPtr<FeaturePoint2D>> firsts;
  t_ListFCorr corrs;
  std::vector<bool> outlier;
};

// A sample of every element of a list.
inline std::vector<CorrEl*> Pointers(std::vector<CorrEl>& elements) {
  std::vector<CorrEl*> out;
  for (CorrEl& e : elements) out.push_back(&e);
  return out;
}

// The symmetric epipolar distance (pixels^2) of an element of the tracks under their
// true fundamental matrix.
inline double TrueEpipolarResidual(const TwoViewTracks& tracks, const CorrEl& e) {
  ParameterSetFMatrix truth;
  TrueFundamental(tracks.camera0, tracks.camera1, truth.m_fmatrix.m);
  truth.SetScales(tracks.camera1);
  return truth.GetSquaredError(e);
}

}  // namespace kxtest
