// Test helpers: fakes for the components a feature map consumes, recording what the map
// hands them.
//   OutlierDetectorForTest  keeps the cameras it is given; Run only counts.
//   CameraEstimatorForTest  the cameras stay in the base; Run counts and fails.
//   CorrelatorForTest       keeps the camera and images of each Compute and links every
//                           feature of the first image to a new feature at the same
//                           place in the second, carrying its 3D point.
#pragma once

#include <cstdint>
#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_image.h"
#include "geometry/outlier_detector.h"
#include "optimise/camera_estimator.h"

namespace kxtest {

class OutlierDetectorForTest : public OutlierDetector {
 public:
  void SetInitCamera(const PerspectiveCamera& camera) override {
    init_camera.CopyFrom(camera, false);
    ++init_calls;
  }
  void SetCurrentCamera(const PerspectiveCamera& camera) override {
    current_camera.CopyFrom(camera, false);
  }
  void SetRefCamera(const PerspectiveCamera& camera) override {
    ref_camera.CopyFrom(camera, false);
    ++ref_calls;
  }
  void SetCorrespondences(const std::vector<SharedPtr<FeaturePoint2D>>&, bool) override {}
  void SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>&) override {}
  void Run(uint32_t) override { ++runs; }

  PerspectiveCamera init_camera, current_camera, ref_camera;
  int init_calls = 0, ref_calls = 0, runs = 0;
};

class CameraEstimatorForTest : public CameraEstimator {
 public:
  bool Run(PerspectiveCamera*) override {
    ++runs;
    return false;
  }
  int runs = 0;
};

class CorrelatorForTest : public FeatureCorrelator {
 public:
  int32_t Compute() override {
    ++computes;
    seen_camera.CopyFrom(GetCamera(), false);
    seen_first = first_image_;
    seen_second = second_image_;
    correspondences_.clear();
    if (!first_image_ || !second_image_ || first_image_ == second_image_) return 0;
    for (const SharedPtr<FeaturePoint2D>& earlier : first_image_->GetFPoints2D()) {
      auto later = SharedPtr<FeaturePoint2D>::Make(second_image_, earlier->x, earlier->y);
      later->SetFPoint3D(earlier->GetFPoint3D());
      auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, later);
      earlier->SetSuccessor(link);
      later->SetPredecessor(link);
      second_image_->AddFPoint2D(later);
      correspondences_.push_back(link);
    }
    return static_cast<int32_t>(correspondences_.size());
  }
  SharedPtr<FeatureCorrelator> Clone() override { return nullptr; }

  int computes = 0;
  PerspectiveCamera seen_camera;
  FeatureImage* seen_first = nullptr;
  FeatureImage* seen_second = nullptr;
};

}  // namespace kxtest
