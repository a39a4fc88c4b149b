// Test helpers for the key-frame searches: a tracked sequence whose camera first turns on
// the spot and then moves sideways, and the reprojection error of a pair's correspondence
// under two cameras.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "geometry/corr_el.h"
#include "geometry/triangulate_two_view.h"
#include "geometry/two_view_scene_for_test.h"

namespace kxtest {

struct KeyFrameSequenceOptions {
  int frames = 8;
  int rotation_frames = 3;  // frames 0 .. rotation_frames - 1 only turn (pan) on the spot
  int points = 80;
  double noise_px = 0.3;    // Gaussian noise of every feature position
  double pan_step = 0.004;  // radians per frame while turning
  double step_mm = 100.0;   // sideways move per frame afterwards
  double drift_px = 0.3;    // step of a Gaussian random walk each track makes per frame
  double loss = 0.0;        // chance per frame that a live track ends
  uint32_t seed = 4;
};

// One feature image per frame (image index = frame), every image carrying the same
// initial camera (the first true camera: 720 x 576, 80 mm at 0.1 mm pixels, at the origin
// looking along +z). Points 4 to 8 m away are seen in every frame; each track is a chain
// of supported links from frame 0 until it ends, drifting like a tracked feature: with
// the defaults and a feature deviation of 0.5 px the turning pairs fit a homography and
// the F-inlier share of the moving pairs falls below 0.8 after a few frames. The images unlink
// their features when they go away.
class KeyFrameSequence {
 public:
  explicit KeyFrameSequence(const KeyFrameSequenceOptions& o = {}) {
    for (int k = 0; k < o.frames; ++k) {
      const int turned = std::min(k, o.rotation_frames - 1);
      const double moved = std::max(0, k - o.rotation_frames + 1) * o.step_mm;
      true_cameras.push_back(
          MakeCamera({moved, 0.0, 0.0}, RotationXYZ(0.0, o.pan_step * turned, 0.0), 80.0));
    }
    initial = true_cameras.front();
    for (int k = 0; k < o.frames; ++k) {
      auto image = SharedPtr<FeatureImage>::Make();
      static_cast<PerspectiveCamera&>(*image) = initial;
      image->SetImageIndex(k);
      images.push_back(image);
    }
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    features.assign(size_t(o.frames), {});
    while (int(points.size()) < o.points) {
      const double z = 4000.0 + 4000.0 * unit(rng);
      const vm::Vector3 p{(unit(rng) - 0.5) * 0.6 * z, (unit(rng) - 0.5) * 0.5 * z, z};
      std::vector<vm::Vector2> seen;
      for (const PerspectiveCamera& camera : true_cameras) {
        double u, v, depth;
        if (!camera.ProjectPoint(p, u, v, depth, true) || depth <= 0.0) break;
        seen.push_back({u, v});
      }
      if (int(seen.size()) < o.frames) continue;
      points.push_back(p);
      int end = o.frames;
      for (int k = 1; k < o.frames && end == o.frames; ++k)
        if (unit(rng) < o.loss) end = k;
      SharedPtr<FeaturePoint2D> previous;
      double walk_u = 0.0, walk_v = 0.0;
      for (int k = 0; k < o.frames; ++k) {
        if (k > 0) {
          walk_u += o.drift_px * gauss(rng);
          walk_v += o.drift_px * gauss(rng);
        }
        const double du = walk_u + o.noise_px * gauss(rng), dv = walk_v + o.noise_px * gauss(rng);
        SharedPtr<FeaturePoint2D> f;
        if (k < end) {
          FeatureImage& image = *images[size_t(k)];
          f = SharedPtr<FeaturePoint2D>::Make(&image, seen[size_t(k)].x + du,
                                              seen[size_t(k)].y + dv);
          image.AddFPoint2D(f);
          if (previous) {
            auto link = SharedPtr<FeatureCorrespondence>::Make(previous, f);
            link->SetFlags(FCORR_SUPPORT_TRUE);
            previous->SetSuccessor(link);
            f->SetPredecessor(link);
          }
        }
        features[size_t(k)].push_back(f);
        previous = f;
      }
    }
  }
  KeyFrameSequence(const KeyFrameSequence&) = delete;
  KeyFrameSequence& operator=(const KeyFrameSequence&) = delete;

  // The first n images.
  std::vector<SharedPtr<FeatureImage>> First(int n) const {
    return {images.begin(), images.begin() + n};
  }

  std::vector<PerspectiveCamera> true_cameras;
  PerspectiveCamera initial;
  std::vector<vm::Vector3> points;
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<std::vector<SharedPtr<FeaturePoint2D>>> features;  // [frame][point], null once ended
};

// The larger pixel error of the correspondence's two features against their point
// triangulated through the two cameras; 1e9 when it cannot be triangulated.
inline double ReprojectionError(const PerspectiveCamera& c0, const PerspectiveCamera& c1,
                                const SharedPtr<FeatureCorrespondence>& corr) {
  const CorrElMapper mapper(c0, c1);
  CorrEl e;
  if (!mapper.MapCorrespondence(corr, e)) return 1e9;
  double x[3];
  if (!TriangulateTwoViewLinear(x, &c0, &c1, e.x0, e.y0, e.x1, e.y1)) return 1e9;
  double worst = 0.0;
  const PerspectiveCamera* cameras[2] = {&c0, &c1};
  const FeaturePoint2D* features[2] = {corr->GetFirst().Get(), corr->GetSecond().Get()};
  for (int i = 0; i < 2; ++i) {
    double u, v, depth;
    cameras[i]->ProjectPoint(vm::Vector3{x[0], x[1], x[2]}, u, v, depth, false);
    worst = std::max(worst, std::hypot(u - features[i]->x, v - features[i]->y));
  }
  return worst;
}

}  // namespace kxtest
