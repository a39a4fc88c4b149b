// FeatureCorrelatorOpticalFlow: the main 2D tracker, a pyramidal Lucas-Kanade
// tracker with minimum-eigenvalue corner selection, an optional appearance
// consistency check along each track, and replacement of lost features.
//
// Per frame step the engine calls SetCamera, SetFeatureImages(first, second) and
// Compute. Automatic mode tracks every feature of the first image not placed by the
// user into the second image, links old and new features by correspondences (always
// from the lower to the higher frame index) and selects new corners in the second
// image when too many were lost. Tagged mode (mode bit 2) tracks only the features
// and anchors tagged with 0x20 and accumulates its correspondences until Reset.
//
// Each frame's intensity and gradient pyramids are built once and reused as the
// first image's pyramids of the next step. The trackers and corner detectors run on
// the worker pool through the shared work buffer when one is set, else on the
// calling thread. One thread at a time uses a correlator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "features/feature_correlator.h"
#include "features/good_features.h"
#include "features/image_pyramid.h"
#include "features/optical_flow_parameter.h"
#include "features/pyramid_tracker.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "image/filter_kernel.h"

class FeatureImage;
class TrackingMaskList;

class FeatureCorrelatorOpticalFlow : public FeatureCorrelator {
 public:
  using Parameter = OpticalFlowParameter;
  using Tracker = PyramidTracker;
  using CornerDetector = GoodFeaturesDetector;

  // Default parameters, one tracker and one corner detector, border 20 until Init,
  // then Init; six empty pyramids.
  FeatureCorrelatorOpticalFlow();
  ~FeatureCorrelatorOpticalFlow() override;

  // Clears the correspondences and mode flags, empties the trackers' items, resets
  // the adaptive threshold to m_min_eigenvalue and the step, selected and lost
  // counts to 0.
  void Reset() override;
  // Tagged mode: TrackTaggedFeatures and its result. Otherwise TrackFeatures, then
  // FindNewFeatures; returns the number of correspondences.
  int32_t Compute() override;
  // Not supported: logs and gives a null handle.
  SharedPtr<FeatureCorrelator> Clone() override;
  uint32_t GetLostCount() const override { return lost_count_; }
  int32_t GetCorrespondenceCount() const override;
  // lost / (lost + correspondences); 0 when both are 0.
  double GetLostRatio() const override;

  // Copies the block, checks it (a bad block becomes the defaults) and runs Init.
  void SetParameter(const Parameter& parameter);
  const Parameter& GetParameter() const { return parameter_; }
  // Resets (through the virtual slot), corrects the window size, sets up the kernels
  // and derives pyramid levels, subsampling and border.
  void Init();

  // Resize the tracker and corner-detector lists to n jobs (at least 1).
  void SetupTracker(int n);
  void InitCornerDetectors(int n);
  size_t TrackerCount() const { return trackers_.size(); }
  size_t CornerDetectorCount() const { return detectors_.size(); }

  uint32_t GetPyramidLevels() const { return levels_; }
  uint32_t GetSubsampling() const { return subsampling_; }
  int32_t GetBorderX() const { return border_x_; }
  int32_t GetBorderY() const { return border_y_; }
  uint32_t GetSelectedCount() const { return selected_count_; }
  int32_t GetStepCount() const { return step_; }
  // Buffer b (0 or 1) of the intensity, x- and y-gradient pyramids.
  const SharedPtr<ImagePyramid>& GetIntensityPyramid(int b) const { return intensity_[b & 1]; }
  const SharedPtr<ImagePyramid>& GetGradientXPyramid(int b) const { return gradient_x_[b & 1]; }
  const SharedPtr<ImagePyramid>& GetGradientYPyramid(int b) const { return gradient_y_[b & 1]; }

  // Fills image with new corners from buffer b's pyramids (0: first image, 1:
  // second); replace removes its automatic features first. Returns the image's
  // feature count afterwards, 0 on failure.
  int SelectGoodFeatures(int b, bool replace);
  // Hands each corner detector its data and band for buffer b; false (logged) when
  // the image of b is missing or has no size.
  bool SetupCornerDetectors(int b);
  // Marks the minimum-distance square around (x, y) in the occupancy mask.
  void MarkMinDistance(int32_t x, int32_t y);

  int TrackFeatures();
  int TrackTaggedFeatures();
  bool NeedsNewFeatures();
  int FindNewFeatures();
  // Builds buffer b's pyramids from the image's luminance picture.
  bool ComputePyramid(FeatureImage* image, int b);
  // Gives the feature a new appearance attribute taken from the pyramid buffer of its
  // image; false (no attribute) when the image or its pyramid is missing or the
  // window does not lie inside the image.
  bool AddAffineFeatureAttribute(FeaturePoint2D* feature);
  // Selects the features a run would start with in image; returns its count.
  int PreviewFeatures(FeatureImage* image);
  // Whether (x, y) of image lies in an active exclusion mask (property 0) and in no
  // active re-admitting mask (property 2).
  bool IsMaskedForTracking(FeatureImage* image, double x, double y);

 protected:
  // For a correlator that replaces the tracking but keeps this frame driver's state.
  void IncrementStepCount() { ++step_; }
  void SetLostCount(uint32_t lost) { lost_count_ = lost; }
  // Exchanges the three pyramid buffer pairs: the previous second image's pyramids
  // become the first image's.
  void SwapPyramidBuffers();
  // Where a feature of the first image was lost in this step: the next selection in
  // the second image keeps off that spot (it just proved untrackable), for one step.
  void NoteLostSpot(double x, double y);
  void ClearLostSpots() { lost_spots_.clear(); }

 private:
  // Runs the jobs: through the shared work buffer on the pool, else one after the
  // other on the calling thread.
  void RunJobs(const std::vector<js::Job*>& jobs);
  // The shared part of both tracking modes up to the tracker run; false: stop with 0.
  bool PreparePyramids(bool tagged);
  int RunTrackers();
  // After RunTrackers: for every feature of the to-track list whose tracker item
  // succeeded outside the masks, adds its successor to the second image, links the two
  // and calls on_tracked(old feature, new feature). Logs (with the tagged or the
  // automatic mode's text) when the trackers hold more items than the list.
  void TakeTrackedFeatures(FeatureImage* second, bool reverse, bool tagged,
                           const std::function<void(const SharedPtr<FeaturePoint2D>&,
                                                    const SharedPtr<FeaturePoint2D>&)>& on_tracked);
  TrackerPyramids Views(int b) const;
  static bool IsMasked(const TrackingMaskList* masks, int32_t frame, double x, double y);

  Parameter parameter_;
  int32_t step_ = 0;
  uint32_t selected_count_ = 0;
  uint32_t lost_count_ = 0;
  uint32_t levels_ = 1;
  uint32_t subsampling_ = 1;
  int32_t border_x_ = 20;
  int32_t border_y_ = 20;
  SharedPtr<ImagePyramid> intensity_[2];
  SharedPtr<ImagePyramid> gradient_x_[2];
  SharedPtr<ImagePyramid> gradient_y_[2];
  std::vector<std::unique_ptr<CornerDetector>> detectors_;
  std::vector<std::unique_ptr<Tracker>> trackers_;
  FilterKernel smoothing_kernel_;
  FilterKernel gradient_kernel_;
  Array<bool, 1> mask_;
  std::vector<SharedPtr<FeaturePoint2D>> to_track_;
  std::vector<std::pair<int32_t, int32_t>> lost_spots_;
};
