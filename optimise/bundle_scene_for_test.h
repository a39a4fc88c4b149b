// Test helper: synthetic bundle-adjustment scenes made of feature images.
//
// Free motion: cameras on an arc about the origin look at a cloud of Cartesian points
// (mm); pure rotation: cameras at the origin turn and see direction points. Every point
// is seen by a window of consecutive cameras; its features in neighbouring images are
// linked by correspondences with the chosen flags. Positions get Gaussian pixel noise.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"

namespace kxtest {

struct BundleSceneSpec {
  int cameras = 6;
  int points = 40;
  int views = 6;               // consecutive cameras that see a point (at most cameras)
  double noise_px = 0.5;       // standard deviation of the pixel noise
  bool rotation_only = false;  // cameras at the origin, direction points
  uint32_t link_flags = FCORR_SUPPORT_TRUE | FCORR_SUPPORT_ROTATION | FCORR_SUPPORT_FREEMOVE;
  uint32_t seed = 7;
  double distortion = 0.0;  // relative radial distortion at the image corner
};

inline BundleSceneSpec SceneSpec(int cameras, int points, int views) {
  BundleSceneSpec spec;
  spec.cameras = cameras;
  spec.points = points;
  spec.views = views;
  return spec;
}

struct BundleScene {
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeaturePoint3D>> points;
  std::vector<PerspectiveCamera> true_cameras;
  std::vector<vm::Vector3> true_points;  // x, y, z (Cartesian) or azimuth, elevation, 0
  int observations = 0;
};

// World position that projects like a direction point (azimuth, elevation) seen from the
// origin.
inline vm::Vector3 DirectionToWorld(double azimuth, double elevation) {
  return {1000.0 * std::sin(azimuth), -1000.0 * std::tan(elevation), 1000.0 * std::cos(azimuth)};
}

// Projects world into image, adds the feature (moved by dx, dy pixels) that sees point
// and, when previous is set, the link from previous to it. Empty when the point is not in
// front of the camera.
inline SharedPtr<FeaturePoint2D> AddObservation(FeatureImage& image,
                                                const SharedPtr<FeaturePoint3D>& point,
                                                const vm::Vector3& world, double dx, double dy,
                                                const SharedPtr<FeaturePoint2D>& previous,
                                                uint32_t link_flags) {
  double x, y, depth;
  if (!image.ProjectPoint(world, x, y, depth, false) || depth <= 0.0) return {};
  SharedPtr<FeaturePoint2D> feature = SharedPtr<FeaturePoint2D>::Make(&image, x + dx, y + dy);
  feature->SetFPoint3D(point);
  image.AddFPoint2D(feature);
  if (previous) {
    SharedPtr<FeatureCorrespondence> link =
        SharedPtr<FeatureCorrespondence>::Make(previous, feature);
    link->SetFlags(link_flags);
    previous->SetSuccessor(link);
    feature->SetPredecessor(link);
  }
  return feature;
}

inline BundleScene MakeBundleScene(const BundleSceneSpec& spec) {
  BundleScene scene;
  std::mt19937 random(spec.seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, spec.noise_px);
  const int n = spec.cameras;
  for (int c = 0; c < n; ++c) {
    const double s = n > 1 ? static_cast<double>(c) / (n - 1) - 0.5 : 0.0;
    SharedPtr<FeatureImage> image = SharedPtr<FeatureImage>::Make();
    image->SetImageIndex(c);
    const double pan = (spec.rotation_only ? 0.6 : 0.5) * s + 0.02 * unit(random);
    const double tilt = 0.05 * unit(random);
    const double roll = 0.05 * unit(random);
    SetCameraPTRF(*image, pan, tilt, roll, 40.0 + 4.0 * unit(random));
    if (spec.distortion != 0.0) image->SetNormalizedK3(spec.distortion);
    if (!spec.rotation_only) {
      const vm::Vector3& a = image->GetA();
      SetCameraCentre(*image, {-5000.0 * a.x + 50.0 * unit(random),
                               -5000.0 * a.y + 50.0 * unit(random), -5000.0 * a.z});
    }
    scene.true_cameras.push_back(*image);
    scene.images.push_back(image);
  }
  const int views = std::min(spec.views, n);
  for (int j = 0; j < spec.points; ++j) {
    const int first = (j * (n - views + 1)) / std::max(1, spec.points);
    vm::Vector3 world;
    SharedPtr<FeaturePoint3D> point;
    if (spec.rotation_only) {
      // Directions inside the views of the window's middle camera.
      const double pan = 0.6 * ((first + 0.5 * (views - 1)) / std::max(1, n - 1) - 0.5);
      const double az = pan + 0.25 * unit(random);
      const double el = 0.2 * unit(random);
      world = DirectionToWorld(az, el);
      point = SharedPtr<FeaturePoint3D>::Make(az, el, 1000.0, FeaturePoint3D::eSpherical);
      scene.true_points.push_back({az, el, 0.0});
    } else {
      world = {800.0 * unit(random), 600.0 * unit(random), 800.0 * unit(random)};
      point =
          SharedPtr<FeaturePoint3D>::Make(world.x, world.y, world.z, FeaturePoint3D::eCartesian);
      scene.true_points.push_back(world);
    }
    scene.points.push_back(point);
    SharedPtr<FeaturePoint2D> previous;
    for (int c = first; c < first + views; ++c) {
      SharedPtr<FeaturePoint2D> feature =
          AddObservation(*scene.images[static_cast<size_t>(c)], point, world, noise(random),
                         noise(random), previous, spec.link_flags);
      if (!feature) continue;
      previous = feature;
      ++scene.observations;
    }
  }
  return scene;
}

// Moves every camera and point away from its position: angles by up to angle radians,
// centres and Cartesian points by up to distance mm, focal lengths by up to focal mm.
inline void PerturbBundleScene(BundleScene& scene, uint32_t seed, double angle, double distance,
                               double focal) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (SharedPtr<FeatureImage>& image : scene.images) {
    const vm::Vector3 c = image->GetC();
    SetCameraPTRF(*image, angle * unit(random), angle * unit(random), angle * unit(random),
                  image->GetFocalLength() + focal * unit(random));
    const bool at_origin = c.x == 0.0 && c.y == 0.0 && c.z == 0.0;
    if (!at_origin)
      SetCameraCentre(*image, {c.x + distance * unit(random), c.y + distance * unit(random),
                               c.z + distance * unit(random)});
  }
  for (SharedPtr<FeaturePoint3D>& point : scene.points) {
    if (point->GetCS() == FeaturePoint3D::eCartesian) {
      point->x += distance * unit(random);
      point->y += distance * unit(random);
      point->z += distance * unit(random);
    } else {
      point->x += angle * unit(random);
      point->y += angle * unit(random);
    }
  }
}

}  // namespace kxtest
