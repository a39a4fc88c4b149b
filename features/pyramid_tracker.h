// The pyramidal Lucas-Kanade feature tracker job of the optical-flow correlator
// (FeatureCorrelatorOpticalFlow::Tracker): tracks a list of features from the first
// image into the second, coarse to fine through intensity and gradient pyramids,
// and optionally checks each result against the appearance the feature had where
// its track's window was taken (affine consistency check).
//
// Positions are pixels of level 0 with pixel centres on integers; level L works at
// the position divided by subsampling^L (no half-pixel shift). Every failure is a
// per-feature status code; nothing is thrown. A tracker reads the pyramids and its
// own parameter copy and writes only its items, its window buffers and the matrices
// of its items' attributes (an attribute belongs to one item of one tracker).
#pragma once

#include <cstdint>
#include <vector>

#include "features/optical_flow_parameter.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/worker_pool.h"

class AffineFeatureAttribute;
class FilterKernel;
class ImagePyramid;

// Status codes of a tracked item.
enum TrackStatus : int {
  kTrackTracked = 0,
  kTrackTrackable = 1,
  kTrackNotFound = -1,
  kTrackSmallDeterminant = -2,
  kTrackMaxIterations = -3,
  kTrackOutOfBounds = -4,
  kTrackLargeResidue = -5,
  kTrackNotDefined = -6,
  kTrackLargeDifference = -7,
};

// "tracked", "trackable", "not found", "small determinate", "exceed max iterations",
// "out of bounds", "large residue", "not defined", "large difference"; any other
// code "unknown".
const char* TrackStatusName(int status);

// One feature given to a tracker.
struct TrackItem {
  float x = 0.0f;  // first-image position; after the run the second-image position
                   // or (-1, -1) when lost
  float y = 0.0f;
  float status = kTrackTrackable;
  AffineFeatureAttribute* attribute = nullptr;  // not owned; null: no check
};

// Samples a w × h window of `level` whose sample (i, j) is the bilinear value at
// (x - w/2 + i, y - h/2 + j) (integer halves); samples outside the level read 0.
// dst: w × h floats, rows dst_stride apart.
void SampleWindow(const ArrayMap<float>& level, float x, float y, int w, int h, float* dst,
                  int dst_stride);

// Bilinear value at (x, y); 0 outside.
float SampleBilinear(const ArrayMap<float>& level, float x, float y);

// The levels of one frame's three pyramids, level 0 first, all of equal count.
struct TrackerPyramids {
  std::vector<ArrayMap<float>> intensity;
  std::vector<ArrayMap<float>> gradient_x;
  std::vector<ArrayMap<float>> gradient_y;
};

// Fills the tracker's pyramids of one frame from its 8-bit luminance: level 0 of
// `intensity` gets the values 0..255, low-passed in place with `smoothing` along x
// and y unless that kernel is the single tap 1; the coarser levels follow
// (ImagePyramid::ComputeLevels); level l of gradient_x is intensity level l
// convolved with `gradient` along x and `smoothing` along y, gradient_y the other
// way round, all levels in one batch. The pyramids are sized to `levels` levels at
// the subsampling in x and y. Throws "memory allocation failed".
void ComputeTrackerPyramids(const ArrayMap<unsigned char>& luminance, uint32_t levels,
                            uint32_t subsampling, const FilterKernel& smoothing,
                            const FilterKernel& gradient, ImagePyramid* intensity,
                            ImagePyramid* gradient_x, ImagePyramid* gradient_y);

// The level views of three pyramids of equal level count.
TrackerPyramids TrackerPyramidViews(ImagePyramid& intensity, ImagePyramid& gradient_x,
                                    ImagePyramid& gradient_y);

class PyramidTracker : public js::Job {
 public:
  PyramidTracker() { items_.reserve(1024); }

  // Prepares a run: the levels of the first and second frame (views that must stay
  // valid and unchanged until the run ended), a copy of the parameters, the
  // subsampling and the level count (at most the levels given). Invalidates the
  // cached first-image window.
  void Setup(const TrackerPyramids& first, const TrackerPyramids& second,
             const OpticalFlowParameter& parameter, uint32_t subsampling, uint32_t levels);

  std::vector<TrackItem>& Items() { return items_; }
  const std::vector<TrackItem>& Items() const { return items_; }

  // Tracks every item; returns and stores the number tracked successfully. Near the
  // border a coarse level measures the motion with the nearest window that fits; a
  // coarse level where no window fits or the system is singular passes its start
  // estimate down; only level 0 decides whether an item is lost.
  int TrackFeatureList();
  void Run() override { TrackFeatureList(); }
  int TrackedCount() const { return tracked_count_; }

  // One level of translational tracking from (x1, y1) of the first image; (x2, y2)
  // is the start and the result in the second image. Each Gauss-Newton step uses the
  // mean of the two images' gradients; a step below m_min_displacement, also on the
  // last allowed iteration, is convergence. Returns a status code.
  int TrackFeatureAt(float x1, float y1, float* x2, float* y2, int level);

  // The consistency check of (x2, y2) against the attribute's stored window and
  // matrix (CheckAppearance with band 0 of its window).
  int TrackFeatureAffine(AffineFeatureAttribute* attribute, float* x2, float* y2, int level);

  // The consistency check of (x2, y2) against a stored appearance window (band 0 of
  // an attribute's window picture, side s, centre at (s / 2, s / 2)) at the given
  // level (callers pass 0), in the mode m_consistency_check: 1 translation, 2
  // similarity, 3 affine (other modes take no step). matrix (a11, a12, a21, a22)
  // maps window offsets to image offsets; the similarity and affine modes update it.
  // (x2, y2) is updated. Returns a status code: 0, -2, -3, -4, -5 or -7 (the check
  // moved the position by more than m_affine_max_displacement_diff in x or y).
  int CheckAppearance(const ArrayMap<float>& window, double matrix[4], float* x2, float* y2,
                      int level);

  const OpticalFlowParameter& Parameter() const { return parameter_; }

 private:
  bool WindowOutside(float x, float y, int level) const;
  // Moves (x, y) at least the window size (else half of it) in from the level's border,
  // on each axis where the level is large enough.
  void MoveWindowInside(int level, float* x, float* y) const;
  bool BoxOutside(float x, float y, float hw, float hh, int level) const;
  // Computes the step at level; false when the system is singular.
  bool ComputeStep(float x1, float y1, float x2, float y2, int level, float* dx, float* dy);
  float Residue(float x2, float y2, int level);

  TrackerPyramids first_;
  TrackerPyramids second_;
  OpticalFlowParameter parameter_;
  uint32_t subsampling_ = 1;
  uint32_t levels_ = 1;
  int w_ = 0, h_ = 0, hw_ = 0, hh_ = 0;
  Array<float, 3> window_;  // first-image intensity, x- and y-gradient windows
  Array<float, 3> second_window_;
  // The position and level the window buffers were sampled at.
  float cached_x_ = -1e10f;
  float cached_y_ = -1e10f;
  int cached_level_ = -1;
  int tracked_count_ = 0;
  std::vector<TrackItem> items_;
  std::vector<uint32_t> order_;  // the visiting order of the items
};
