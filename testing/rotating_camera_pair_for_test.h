// Test helper: two images of a camera that turns about its centre (pan, tilt, roll),
// zooms and, optionally, moves, with known scene points seen in both.
//
// The first camera is 720 x 576 pixels of 0.1 mm with f = 72 mm in both directions (the
// pan/tilt/roll models take one focal length for x and y) and an optional principal point; the
// second is a copy turned by SetCameraPTRZ and moved by `move` (mm, in the first camera's frame).
// Points lie 2 to 10 m in front of the first camera and inside both images. The later positions get
// optional Gaussian noise; a share of them becomes outliers, at least 20 pixels from the true
// position. Everything comes from the pair's own RandomGenerator, so a pair is the same on every
// run.
//
// Use:
//   kxtest::RotatingCameraPair pair({.pan = 0.05, .zoom = 1.1, .noise_px = 0.2});
//   pair.first, pair.second       the cameras
//   pair.links[i]                 correspondence i (earlier feature in pair.earlier,
//                                 later one in pair.later, linked both ways)
//   pair.outlier[i], pair.points[i]
//   FeatureCorrespondenceIterator(&pair.later, 1, true) walks the links
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/random_generator.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"

namespace kxtest {

struct RotatingCameraPairOptions {
  double pan = 0.0;
  double tilt = 0.0;
  double roll = 0.0;
  double zoom = 1.0;
  vm::Vector3 move{0.0, 0.0, 0.0};  // centre of the second camera, first camera's frame
  int num_points = 30;
  double noise_px = 0.0;
  double outlier_ratio = 0.0;
  double principal_x_px = 0.0;
  double principal_y_px = 0.0;
  uint32_t seed = 7;
};

class RotatingCameraPair {
 public:
  explicit RotatingCameraPair(const RotatingCameraPairOptions& o) : random_(o.seed) {
    first.Set({0, 0, 0}, {0, 0, 1}, {720, 0, 0}, {0, 720, 0}, 720, 576, 0.0, 0.1, 0.1, 0.0, 0,
              nullptr);
    first.SetCenterPointX(o.principal_x_px);
    first.SetCenterPointY(o.principal_y_px);
    second = first;
    SetCameraPTRZ(second, o.pan, o.tilt, o.roll, o.zoom);
    SetCameraCentre(second, first.CameraToWorld(o.move.x, o.move.y, o.move.z));
    const int num_outliers = static_cast<int>(o.outlier_ratio * o.num_points + 0.5);
    for (int tries = 0; static_cast<int>(points.size()) < o.num_points && tries < 100000; ++tries) {
      const double x0 = Uniform(20.0, first.GetWidth() - 21.0);
      const double y0 = Uniform(20.0, first.GetHeight() - 21.0);
      const vm::Vector3 point =
          first.GetC() + first.GetViewingRay(x0, y0) * Uniform(2000.0, 10000.0);
      double x1 = 0.0, y1 = 0.0, depth = 0.0;
      if (!second.ProjectPoint(point, x1, y1, depth, true) || depth <= 0.0) continue;
      const bool is_outlier = static_cast<int>(points.size()) < num_outliers;
      if (is_outlier) {
        double ox = 0.0, oy = 0.0;
        do {
          ox = Uniform(0.0, second.GetWidth() - 1.0);
          oy = Uniform(0.0, second.GetHeight() - 1.0);
        } while (std::hypot(ox - x1, oy - y1) < 20.0);
        x1 = ox;
        y1 = oy;
      } else if (o.noise_px > 0.0) {
        x1 += o.noise_px * Gaussian();
        y1 += o.noise_px * Gaussian();
      }
      SharedPtr<FeaturePoint2D> a = SharedPtr<FeaturePoint2D>::Make(&earlier, x0, y0);
      SharedPtr<FeaturePoint2D> b = SharedPtr<FeaturePoint2D>::Make(&later, x1, y1);
      earlier.AddFPoint2D(a);
      later.AddFPoint2D(b);
      SharedPtr<FeatureCorrespondence> link = SharedPtr<FeatureCorrespondence>::Make(a, b);
      a->SetSuccessor(link);
      b->SetPredecessor(link);
      links.push_back(link);
      outlier.push_back(is_outlier);
      points.push_back(point);
    }
  }

  PerspectiveCamera first;
  PerspectiveCamera second;
  FeatureImage earlier;
  FeatureImage later;
  std::vector<SharedPtr<FeatureCorrespondence>> links;
  std::vector<bool> outlier;
  std::vector<vm::Vector3> points;

 private:
  double Uniform(double lo, double hi) { return lo + (hi - lo) * (random_.Next() / 4294967296.0); }
  double Gaussian() {
    const double u1 = (random_.Next() + 1.0) / 4294967297.0;
    const double u2 = random_.Next() / 4294967296.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
  }

  RandomGenerator random_;
};

}  // namespace kxtest
