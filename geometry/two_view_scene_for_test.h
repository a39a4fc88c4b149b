// Test helper: a synthetic scene seen by two pinhole cameras, with the correspondences
// between their projections.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "features/feature_correlator.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"

namespace kxtest {

// A 720 x 576 camera at centre c, world-to-camera rotation r (rows H0, V0, A), focal
// length f mm, 0.1 mm pixels, principal point (px, py) pixels from the image centre.
inline PerspectiveCamera MakeCamera(const vm::Vector3& c, const Matrix3x3& r, double f,
                                    double px = 0.0, double py = 0.0, double k3 = 0.0) {
  const vm::Vector3 h0{r[0][0], r[0][1], r[0][2]}, v0{r[1][0], r[1][1], r[1][2]},
      a{r[2][0], r[2][1], r[2][2]};
  PerspectiveCamera camera;
  camera.Set(c, a, h0 * (f / 0.1) + a * px, v0 * (f / 0.1) + a * py, 720, 576, k3, 0.1, 0.1, 0.0, 0,
             Poly3);
  return camera;
}

inline Matrix3x3 RotationXYZ(double ax, double ay, double az) {
  Matrix3x3 r;
  r.SetRotationXYZ(ax, ay, az);
  return r;
}

struct TwoViewScene {
  PerspectiveCamera camera0, camera1;
  std::vector<vm::Vector3> points;
  t_ListFCorr correspondences;
};

// n points in a box 2 to 4 m in front of camera 0 (the world origin looking along +z),
// projected into both cameras (lens distortion applied) with Gaussian noise of sigma
// pixels; points outside either image are skipped.
inline TwoViewScene MakeTwoViewScene(const PerspectiveCamera& camera0,
                                     const PerspectiveCamera& camera1, int n, double sigma = 0.0,
                                     unsigned seed = 7) {
  TwoViewScene scene{camera0, camera1, {}, {}};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, sigma > 0.0 ? sigma : 1.0);
  while (static_cast<int>(scene.points.size()) < n) {
    const vm::Vector3 p{1200.0 * u(rng), 900.0 * u(rng), 3000.0 + 1000.0 * u(rng)};
    double x0, y0, x1, y1, d0, d1;
    if (!camera0.ProjectPoint(p, x0, y0, d0, true) || !camera1.ProjectPoint(p, x1, y1, d1, true))
      continue;
    if (d0 <= 0.0 || d1 <= 0.0) continue;
    if (sigma > 0.0) {
      x0 += sigma * noise(rng), y0 += sigma * noise(rng);
      x1 += sigma * noise(rng), y1 += sigma * noise(rng);
    }
    scene.points.push_back(p);
    scene.correspondences.push_back(
        SharedPtr<FeatureCorrespondence>::Make(SharedPtr<FeaturePoint2D>::Make(nullptr, x0, y0),
                                               SharedPtr<FeaturePoint2D>::Make(nullptr, x1, y1)));
  }
  return scene;
}

}  // namespace kxtest
