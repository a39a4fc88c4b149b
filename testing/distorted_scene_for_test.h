// Test helper: a metric synthetic scene moved into a projective frame by a known 4x4
// map, for the metric upgrade and the stages that run it. The features are the exact
// projections, so the projective cameras reproject them exactly.
//
//   kxtest::DistortedScene distorted(cameras, scale_of_map);
//   distorted.scene             the SyntheticScene (features built); its images and
//                               points hold the projective reconstruction
//   distorted.map               the map D
//   distorted.Positions()       points then camera centres, as they are now
//   distorted.TruePositions()   the same, as shot
//   Distance(a, b)              Euclidean distance
#pragma once

#include <cmath>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "testing/synthetic_scene_for_test.h"

namespace kxtest {

// A metric scene whose cameras and points were moved into a projective frame by a known
// 4x4 map D (cameras P D, points D^-1 X).
struct DistortedScene {
  static constexpr double kUnit = 1.0;

  explicit DistortedScene(int cameras, double scale_of_map)
      : scene({.num_points = 30,
               .num_cameras = cameras,
               .box_mm = 1000.0 * kUnit,
               .distance_mm = 5000.0 * kUnit,
               .principal_x_px = 0.0,
               .principal_y_px = 0.0}) {
    // Turn the cameras a little, each its own way: optical axes that all meet in one
    // point leave the focal lengths undetermined.
    for (size_t c = 0; c < scene.cameras.size(); ++c) {
      SetCameraPTRZ(scene.cameras[c], 0.08 * double(c % 3) - 0.05, 0.06 * double(c % 2) - 0.03, 0.0,
                    1.0);
    }
    // The observations follow the turned cameras.
    for (size_t c = 0; c < scene.cameras.size(); ++c) {
      for (size_t i = 0; i < scene.points.size(); ++i) {
        double x = 0.0, y = 0.0, depth = 0.0;
        scene.cameras[c].ProjectPoint(scene.points[i], x, y, depth, false);
        scene.exact[c][i] = scene.observed[c][i] = vm::Vector2{x, y};
      }
    }
    scene.BuildFeatures();
    const double d[16] = {1.1,  0.2, -0.1, 300.0, 0.05, 0.9,   0.3,  -200.0,
                          -0.2, 0.1, 1.2,  500.0, 1e-5, -2e-5, 3e-5, 1.0};
    for (int i = 0; i < 16; ++i) map.m[i] = scale_of_map * d[i];
    Matrix4x4 inverse;
    inverse.Invert(map);
    for (const SharedPtr<FeatureImage>& image : scene.images) {
      Matrix3x4 p, q;
      GetProjectionMatrixFromCamera(*image, p);
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
          q[r][c] = 0.0;
          for (int k = 0; k < 4; ++k) q[r][c] += p[r][k] * map[k][c];
        }
      }
      GetCameraFromProjectionMatrix(q, *image);
    }
    for (const SharedPtr<FeaturePoint3D>& point : scene.points3d) {
      Vector4 x;
      x.Multiply(inverse, *point);
      static_cast<vm::Vector3&>(*point) = vm::Vector3{x[0] / x[3], x[1] / x[3], x[2] / x[3]};
    }
  }

  // Every point and camera centre, for the distance ratios.
  std::vector<vm::Vector3> Positions() const {
    std::vector<vm::Vector3> out;
    for (const SharedPtr<FeaturePoint3D>& point : scene.points3d) out.push_back(*point);
    for (const SharedPtr<FeatureImage>& image : scene.images) out.push_back(image->GetC());
    return out;
  }
  std::vector<vm::Vector3> TruePositions() const {
    std::vector<vm::Vector3> out = scene.points;
    for (const PerspectiveCamera& camera : scene.cameras) out.push_back(camera.GetC());
    return out;
  }

  SyntheticScene scene;
  Matrix4x4 map;
};

inline double Distance(const vm::Vector3& a, const vm::Vector3& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

}  // namespace kxtest
