// Test helper: a small synthetic scene with known cameras for the solver tests.
//
// Points fill a box about the world origin; the cameras stand on a circle around it,
// each one looking at the origin (with the default sizes every point of up to six
// cameras falls inside every image, and in front of it). The cameras have square
// pixels, no lens distortion, and given pan, tilt, roll, focal length and principal
// point. Observations are the exact projections plus optional Gaussian noise; in every
// camera but camera 0 a chosen share of them can be replaced by outliers (uniform in
// the image, at least 30 pixels from the true position). Everything is drawn from the scene's own
// RandomGenerator, so a scene is the same on every run.
//
// Use:
//   kxtest::SyntheticScene scene({.num_points = 40, .num_cameras = 3, .noise_px = 0.5});
//   scene.cameras[c]            known camera c (PerspectiveCamera); camera 1 has the
//                               off-centre principal point
//   scene.pans[c], tilts, rolls its angles, as GetCameraAngles gives them back
//   scene.points[i]             world point i (mm)
//   scene.exact[c][i]           exact pixel position of point i in camera c
//   scene.observed[c][i]        noisy / outlier pixel position
//   scene.outlier[c][i]         true when observed[c][i] is an outlier
//   scene.BuildFeatures();      FeatureImage objects (one per camera, its camera = the
//                               known one), one FeaturePoint2D per observation linked to
//                               its shared Cartesian FeaturePoint3D, and a
//                               FeatureCorrespondence between the features of the same
//                               point in consecutive images
//   scene.images[c], scene.points3d[i], scene.features[c][i], scene.Links(c)
// The FeatureImages unlink their features when the scene goes away.
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

struct SyntheticSceneOptions {
  int num_points = 40;
  int num_cameras = 2;
  double noise_px = 0.0;       // standard deviation of the observation noise
  double outlier_ratio = 0.0;  // share of observations (in cameras >= 1) made outliers
  uint32_t seed = 1;
  uint32_t width = 1000;  // image size in pixels
  uint32_t height = 800;
  double pixel_size = 0.01;     // mm, square pixels
  double focal_mm = 10.0;       // focal length of every camera
  double box_mm = 1000.0;       // points lie in [-box, box]^3
  double distance_mm = 5000.0;  // cameras' distance from the origin
  // Principal point (pixels from the image centre) of camera 1; the others have 0.
  double principal_x_px = 23.0;
  double principal_y_px = -17.0;
};

// A camera of the given size at centre, looking along the axes pan, tilt, roll give
// (SetCameraPTRF from the normalised pose), with focal length f (mm) and principal point
// (px, py) in pixels from the image centre.
inline PerspectiveCamera MakeSyntheticCamera(uint32_t width, uint32_t height, double pixel_size,
                                             const vm::Vector3& centre, double pan, double tilt,
                                             double roll, double f, double px, double py) {
  PerspectiveCamera camera;
  camera.Set(vm::Vector3{0, 0, 0}, vm::Vector3{0, 0, 1}, vm::Vector3{f / pixel_size, 0, 0},
             vm::Vector3{0, f / pixel_size, 0}, width, height, 0.0, pixel_size, pixel_size, 0.0, 0,
             nullptr);
  SetCameraPTRF(camera, pan, tilt, roll, f);
  SetCameraCentre(camera, centre);
  camera.SetCenterPointX(px);
  camera.SetCenterPointY(py);
  return camera;
}

class SyntheticScene {
 public:
  explicit SyntheticScene(const SyntheticSceneOptions& options = {})
      : options_(options), random_(options.seed) {
    const SyntheticSceneOptions& o = options_;
    for (int i = 0; i < o.num_points; ++i) {
      points.push_back({Uniform(-o.box_mm, o.box_mm), Uniform(-o.box_mm, o.box_mm),
                        Uniform(-o.box_mm, o.box_mm)});
    }
    for (int c = 0; c < o.num_cameras; ++c) {
      // Around the origin on a ring, a little above it, looking at it: the camera looks
      // along A = -C/|C|, reached by pan then tilt from the normalised pose.
      const double pan = -0.5 + 0.35 * c;
      const double tilt = 0.1 - 0.05 * c;
      const double roll = 0.03 * (c % 3) - 0.02;
      const double px = c == 1 ? o.principal_x_px : 0.0;
      const double py = c == 1 ? o.principal_y_px : 0.0;
      PerspectiveCamera camera =
          MakeSyntheticCamera(o.width, o.height, o.pixel_size, vm::Vector3{0, 0, 0}, pan, tilt,
                              roll, o.focal_mm, px, py);
      SetCameraCentre(camera, camera.GetA() * -o.distance_mm);
      cameras.push_back(camera);
      pans.push_back(pan);
      tilts.push_back(tilt);
      rolls.push_back(roll);

      exact.emplace_back();
      observed.emplace_back();
      outlier.emplace_back();
      for (const vm::Vector3& p : points) {
        double x = 0.0, y = 0.0, depth = 0.0;
        camera.ProjectPoint(p, x, y, depth, false);
        exact.back().push_back({x, y});
        double ox = x + o.noise_px * Gaussian(), oy = y + o.noise_px * Gaussian();
        const bool is_outlier = c >= 1 && Uniform(0.0, 1.0) < o.outlier_ratio;
        if (is_outlier) {
          // At least 30 pixels from the truth, inside the image.
          do {
            ox = Uniform(0.0, o.width - 1.0);
            oy = Uniform(0.0, o.height - 1.0);
          } while (std::hypot(ox - x, oy - y) < 30.0);
        }
        observed.back().push_back({ox, oy});
        outlier.back().push_back(is_outlier);
      }
    }
  }
  SyntheticScene(const SyntheticScene&) = delete;
  SyntheticScene& operator=(const SyntheticScene&) = delete;

  // Builds the feature objects (see the file comment); once.
  void BuildFeatures() {
    if (!images.empty()) return;
    for (const vm::Vector3& p : points) {
      points3d.push_back(
          SharedPtr<FeaturePoint3D>::Make(p.x, p.y, p.z, FeaturePoint3D::eCartesian));
    }
    for (size_t c = 0; c < cameras.size(); ++c) {
      auto image = SharedPtr<FeatureImage>::Make();
      static_cast<PerspectiveCamera&>(*image) = cameras[c];
      image->SetImageIndex(static_cast<int32_t>(c));
      features.emplace_back();
      for (size_t i = 0; i < points.size(); ++i) {
        auto feature =
            SharedPtr<FeaturePoint2D>::Make(image.Get(), observed[c][i].x, observed[c][i].y);
        feature->SetFPoint3D(points3d[i]);
        image->AddFPoint2D(feature);
        features.back().push_back(feature);
        if (c > 0) {
          const SharedPtr<FeaturePoint2D>& before = features[c - 1][i];
          auto link = SharedPtr<FeatureCorrespondence>::Make(before, feature);
          before->SetSuccessor(link);
          feature->SetPredecessor(link);
        }
      }
      images.push_back(image);
    }
  }

  // The correspondences from image c - 1 into image c, in point order (c >= 1).
  std::vector<SharedPtr<FeatureCorrespondence>> Links(size_t c) const {
    std::vector<SharedPtr<FeatureCorrespondence>> out;
    for (const SharedPtr<FeaturePoint2D>& f : features[c]) out.push_back(f->GetPredecessor());
    return out;
  }

  // Uniform in [lo, hi) and standard normal (Box-Muller), from the scene's generator.
  double Uniform(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(random_.Next()) / 4294967296.0);
  }
  double Gaussian() {
    const double u1 = 1.0 - Uniform(0.0, 1.0);  // (0, 1]
    const double u2 = Uniform(0.0, 1.0);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
  }

  const SyntheticSceneOptions& Options() const { return options_; }

  std::vector<PerspectiveCamera> cameras;
  std::vector<double> pans, tilts, rolls;  // the angles each camera was turned by
  std::vector<vm::Vector3> points;
  std::vector<std::vector<vm::Vector2>> exact;
  std::vector<std::vector<vm::Vector2>> observed;
  std::vector<std::vector<bool>> outlier;

  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeaturePoint3D>> points3d;
  std::vector<std::vector<SharedPtr<FeaturePoint2D>>> features;

 private:
  SyntheticSceneOptions options_;
  RandomGenerator random_;
};

}  // namespace kxtest
