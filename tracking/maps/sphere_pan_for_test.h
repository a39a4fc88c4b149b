// Tripod pans with exactly known cameras, solved by the pure-rotation map, for its tests
// and its accuracy benchmark:
// - SyntheticCorrelatorPan: tracks from the synthetic correlator (a pan of so many
//   degrees per frame, optional zoom, Gaussian noise and outliers);
// - RenderedPan: a rendered sequence (one textured picture warped by K·R_k·K⁻¹) tracked
//   by the optical-flow correlator through the image cache, as the program tracks.
// Both run the per-frame stages (Init, Match, OutlierElimination, CameraEstimation);
// Solve runs the final estimation and, when asked, the refinement. PanErrors compares
// every camera with the truth, relative to the first camera.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/feature_image.h"
#include "features/optical_flow_correlator.h"
#include "foundation/camera/camera_geometry.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_hmatrix.h"
#include "geometry/sample_calculator_ptrz.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "optimise/camera_estimator_ptrz.h"
#include "testing/synthetic_sequence.h"
#include "tracking/maps/feature_map_sphere.h"

namespace kxtest {

struct SphereSolveOptions {
  bool homography = false;     // the sampler's calculator: homography, else pan/tilt/roll/zoom
  bool estimate_focal = true;  // the focal length is found by the final estimation
  bool final_ba = false;       // the final estimation ends with the sparse adjustment
  bool refine = false;         // the refinement runs after the final estimation
  // The sampler's inlier distance (pixels): about 3 times the standard deviation of a
  // feature position's difference between two frames, as a user sets it for the noise.
  double ransac_threshold = 0.8;
};

struct PanErrors {
  double angle_deg = 0.0;        // largest pan, tilt or roll error of a camera against the first
  double focal_rel = 0.0;        // largest relative focal-length error of any camera
  double first_focal_rel = 0.0;  // the first camera's (after the focal search)
  double rmse = 0.0;             // the map's RMSE after the last stage (pixels)
};

// Largest errors of images against truth, angles relative to each list's first camera.
inline PanErrors CompareWithTruth(const std::vector<SharedPtr<FeatureImage>>& images,
                                  const std::vector<PerspectiveCamera>& truth) {
  PanErrors e;
  constexpr double kDeg = 180.0 / M_PI;
  for (size_t n = 0; n < images.size() && n < truth.size(); ++n) {
    const double focal = std::abs(images[n]->GetFocalLength() / truth[n].GetFocalLength() - 1.0);
    e.focal_rel = std::max(e.focal_rel, focal);
    if (n == 0) {
      e.first_focal_rel = focal;
      continue;
    }
    double tp, tt, tr, ep, et, er;
    GetCameraAngles(truth[n], tp, tt, tr, &truth[0]);
    GetCameraAngles(*images[n], ep, et, er, images[0].Get());
    e.angle_deg = std::max({e.angle_deg, std::abs(tp - ep) * kDeg, std::abs(tt - et) * kDeg,
                            std::abs(tr - er) * kDeg});
  }
  return e;
}

// The pan from camera a to camera b, degrees.
inline double PanBetween(const PerspectiveCamera& a, const PerspectiveCamera& b) {
  double p, t, r;
  GetCameraAngles(b, p, t, r, &a);
  return std::abs(p) * 180.0 / M_PI;
}

// The sampler and the per-frame estimator the tracking driver installs.
inline void SetUpSphereMap(FeatureMapSphere& map, const SphereSolveOptions& o) {
  auto sampler = SharedPtr<RandSampling>::Make();
  if (o.homography) {
    sampler->SetSampleCalculator(SharedPtr<SampleCalculatorHMatrix>::Make());
  } else {
    sampler->SetSampleCalculator(SharedPtr<SampleCalculatorPTRZ>::Make());
  }
  RandSampling::Parameter parameter = sampler->GetParameter();
  parameter.m_threshold = o.ransac_threshold;
  sampler->SetParameter(parameter);
  map.SetOutlierDetector(sampler);
  map.SetCameraEstimator(SharedPtr<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>::Make());
  map.GetParameter().m_estimate_focal = o.estimate_focal;
  map.GetParameter().m_final_ba = o.final_ba;
}

// The final stages; false when one that ran failed.
inline bool SolveSphereMap(FeatureMapSphere& map, const SphereSolveOptions& o) {
  bool ok = map.FinalEstimation() || !(o.estimate_focal || o.final_ba);
  if (o.refine) ok = map.Refinement() && ok;
  return ok;
}

// 1000 pixels of 0.02 mm (a 20 mm lens on a 1280 x 720 image), turned and moved off the
// world axes so that nothing depends on an aligned first camera.
inline void SetSyntheticReferenceCamera(PerspectiveCamera& camera) {
  Matrix3x3 r;
  r.SetRotationXYZ(0.05, -0.2, 0.02);
  const vm::Vector3 h0{r[0][0], r[0][1], r[0][2]};
  const vm::Vector3 v0{r[1][0], r[1][1], r[1][2]};
  const vm::Vector3 a{r[2][0], r[2][1], r[2][2]};
  const double none[4] = {0, 0, 0, 0};
  camera.SetAll({100.0, -200.0, 50.0}, a, h0 * 1000.0, v0 * 1000.0, 1280, 720, 0.02, 0.02, none,
                none, Poly3);
}

struct SyntheticPanOptions {
  int frames = 8;
  double pan_deg = 1.0;  // per frame
  double tilt_deg = 0.3;
  double roll_deg = 0.2;
  double zoom_step = 0.0;  // the focal length grows by this share per frame
  double noise = 0.0;      // pixels
  double outliers = 0.0;   // share
  double k3 = 0.0;         // radial distortion of every camera (mm^-2)
  uint32_t points = 20000;
  uint32_t seed = 1937;
};

class SyntheticCorrelatorPan {
 public:
  SyntheticCorrelatorPan(const SyntheticPanOptions& p, const SphereSolveOptions& o) : options_(o) {
    templ_.GetParameter() = FeatureCorrelatorSyn::Parameter(
        p.points, 50000.0, 150000.0, p.pan_deg, p.tilt_deg, p.roll_deg, p.zoom_step, 0.5, 2.0, 0.0,
        0.0, p.noise, 50, nullptr, false, false, false, true, false, false, p.k3, 0.0, 0.0, 0.0,
        p.outliers, 15.0, p.seed);
    templ_.Init3DScene();
    for (int i = 0; i < p.frames; ++i) {
      auto image = SharedPtr<FeatureImage>::Make();
      image->SetImageIndex(i);
      SetSyntheticReferenceCamera(*image);
      images_.push_back(image);
    }
    SetUpSphereMap(map_, o);
  }
  ~SyntheticCorrelatorPan() {
    map_.Clear();
    correlators_.clear();
    for (auto& image : images_) image->ClearFPoints2D();
  }

  // The per-frame stages; false when one of them failed.
  bool Track() {
    if (!map_.Init(images_[0])) return false;
    for (size_t k = 1; k < images_.size(); ++k) {
      correlators_.push_back(templ_.Clone());
      map_.SetCorrelatorTemplate(correlators_.back());
      if (!map_.Match(images_[k]) || !map_.OutlierElimination()) return false;
      map_.CameraEstimation();
    }
    return true;
  }
  bool Solve() { return SolveSphereMap(map_, options_); }

  PanErrors Errors() const {
    std::vector<PerspectiveCamera> truth(images_.size());
    for (size_t n = 0; n < truth.size(); ++n) templ_.GetCamera(int(n), truth[n]);
    PanErrors e = CompareWithTruth(images_, truth);
    e.rmse = map_.GetRMSE();
    return e;
  }
  double PanDegrees() const {
    PerspectiveCamera first, last;
    templ_.GetCamera(0, first);
    templ_.GetCamera(int(images_.size()) - 1, last);
    return PanBetween(first, last);
  }

  FeatureCorrelatorSyn templ_;
  FeatureMapSphere map_;
  std::vector<SharedPtr<FeatureImage>> images_;
  std::vector<SharedPtr<FeatureCorrelator>> correlators_;
  SphereSolveOptions options_;
};

struct RenderedPanOptions {
  int frames = 60;
  int width = 1280, height = 720;
  double focal = 1000.0;     // pixels
  double speed = 1.0;        // scales the turn between frames
  double start_focal = 0.0;  // the focal length (pixels) the images start with; 0: the true one
  uint32_t seed = 1;
};

class RenderedPan {
 public:
  class Owner : public FeatureImageOwner {
   public:
    ImageCache* GetImageCache() override { return &cache; }
    ImageCache cache;
  };

  RenderedPan(const RenderedPanOptions& p, const SphereSolveOptions& o) : options_(o) {
    synthetic::SequenceOptions so;
    so.shot = synthetic::Shot::kTripodPan;
    so.width = p.width;
    so.height = p.height;
    so.frames = p.frames;
    so.focal = p.focal;
    so.speed = p.speed;
    so.seed = p.seed;
    sequence_ = std::make_unique<synthetic::Sequence>(so);
    dir_ = (std::filesystem::temp_directory_path() /
            ("kx_rendered_pan_" + std::to_string(getpid()) + "_" + std::to_string(Counter()++)))
               .string();
    std::filesystem::create_directories(dir_);
    PackedStringListPtr list;
    list.Allocate();
    // A 36 mm wide sensor.
    const double pixel = 36.0 / p.width;
    const double none[4] = {0, 0, 0, 0};
    const double start = p.start_focal > 0.0 ? p.start_focal : p.focal;
    for (int k = 0; k < p.frames; ++k) {
      const synthetic::Image frame = sequence_->Render(k);
      const std::string path = dir_ + "/f" + std::to_string(k) + ".pgm";
      std::ofstream out(path, std::ios::binary);
      out << "P5\n" << frame.width << " " << frame.height << "\n255\n";
      out.write(reinterpret_cast<const char*>(frame.pixels.data()),
                std::streamsize(frame.pixels.size()));
      out.close();
      list->Append(path.c_str(), 0);

      const synthetic::Camera& c = sequence_->GetCamera(k);
      const vm::Vector3 h0{c.R[0], c.R[1], c.R[2]};
      const vm::Vector3 v0{c.R[3], c.R[4], c.R[5]};
      const vm::Vector3 a{c.R[6], c.R[7], c.R[8]};
      PerspectiveCamera truth;
      truth.SetAll({0, 0, 0}, a, h0 * p.focal, v0 * p.focal, uint32_t(p.width), uint32_t(p.height),
                   pixel, pixel, none, none, Poly3);
      truth_.push_back(truth);

      auto image = SharedPtr<FeatureImage>::Make(&owner_);
      image->SetImageIndex(k);
      image->SetAll({0, 0, 0}, {0, 0, 1}, {start, 0, 0}, {0, start, 0}, uint32_t(p.width),
                    uint32_t(p.height), pixel, pixel, none, none, Poly3);
      images_.push_back(image);
    }
    owner_.cache.SetImageList(list, -1, -1);
    correlator_ = SharedPtr<FeatureCorrelatorOpticalFlow>::Make();
    SetUpSphereMap(map_, o);
  }
  ~RenderedPan() {
    map_.Clear();
    correlator_ = nullptr;
    for (auto& image : images_) image->ClearFPoints2D();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  RenderedPan(const RenderedPan&) = delete;
  RenderedPan& operator=(const RenderedPan&) = delete;

  bool Track() {
    if (!map_.Init(images_[0])) return false;
    map_.SetCorrelatorTemplate(correlator_);
    for (size_t k = 1; k < images_.size(); ++k) {
      if (!map_.Match(images_[k]) || !map_.OutlierElimination()) return false;
      map_.CameraEstimation();
    }
    return true;
  }
  bool Solve() { return SolveSphereMap(map_, options_); }

  PanErrors Errors() const {
    PanErrors e = CompareWithTruth(images_, truth_);
    e.rmse = map_.GetRMSE();
    return e;
  }
  // The pan from the first to the last frame, degrees.
  double PanDegrees() const { return PanBetween(truth_.front(), truth_.back()); }

  Owner owner_;
  std::unique_ptr<synthetic::Sequence> sequence_;
  std::string dir_;
  std::vector<PerspectiveCamera> truth_;
  std::vector<SharedPtr<FeatureImage>> images_;
  SharedPtr<FeatureCorrelatorOpticalFlow> correlator_;
  FeatureMapSphere map_;
  SphereSolveOptions options_;

 private:
  static int& Counter() {
    static int n = 0;
    return n;
  }
};

}  // namespace kxtest
