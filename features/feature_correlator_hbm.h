// FeatureCorrelatorHBM: the hierarchical block-matching alternative to the optical-flow
// tracker. It keeps everything of FeatureCorrelatorOpticalFlow except the tracking: the
// parameter block, the pyramids, the good-features selection and the replacement of lost
// features. Tracking matches 8x8 blocks of the decoded colour frames of the image cache
// at quarter, half and full resolution, refines the last match to sub-pixel accuracy and
// cross-checks every feature that has a predecessor one frame beyond the first image by
// tracking that predecessor too: estimates within one pixel give their midpoint. An
// estimate the predecessor does not confirm, or one a second search found, is kept only
// when its match cost is plausible (see HBMCrossCheck).
//
// Tagged mode (mode bit 2) tracks only the features and anchors tagged with 0x20 and
// leaves the automatic tracks and the second image's features as they are; the
// correspondences of tagged passes accumulate until Reset, as in the optical-flow
// correlator.
//
// Frames come from the image cache of the first image's owner: frames c (first image)
// and d (second) are required, otherwise every feature is lost (level-2 log). The
// cross-check frame e = 2c - d is skipped when it is before the first or beyond the last
// frame, when it cannot be decoded, or when its size differs from frame c.
//
// Positions are in full-resolution pixel units (pixel i centred at i). A job reads only
// its HBMLevelImages (shared, read-only while jobs run) and writes only its own item, so
// the jobs of one frame step run on the worker pool without locks; features, links and
// lists change only on the calling thread.
#pragma once

#include <cstdint>
#include <vector>

#include "features/block_match_kernels.h"
#include "features/optical_flow_correlator.h"

// One comparison (source frame -> target frame) at three resolutions: level 0 full size,
// level 1 half size, level 2 quarter size. Width and height of level l are the full
// frame's shifted right by l; source and target share the level's row stride (pixels).
struct HBMLevelImages {
  struct Level {
    const uint32_t* source = nullptr;
    const uint32_t* target = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
  };
  Level level[3];
};

// One feature to track: the level images, source and target positions (the target is
// the estimate, refined level by level) and the result (negative: lost, see
// MatchBlockSAD).
struct TrackFeatureItem {
  const HBMLevelImages* images = nullptr;
  BlockMatchPosition position;
  int32_t result = -1;
  bool retried = false;  // set by the job when its first pass failed
};

// Worker-pool item function (context unused, item a TrackFeatureItem): quarter level
// with a search of +-8, half level +-2, full level +-2 with up to 15 refinement steps.
// Where the quarter-level block does not fit around the start (near the border) the
// job runs the finer levels from the start as below and counts as retried. When a finer
// level fails, the next two quarter-level minima are followed down, then the half and
// full levels run from the item's start, then the full level alone, and last the start
// and the quarter-level minima again with a half-level search of +-4. The item's result
// is that of the last level run; `retried` tells whether the first pass failed.
void TrackFeatureJob(void* context, void* item);

// Where the search for a feature at (x, y) of the first image starts: moved on by the
// motion from its predecessor one frame beyond (null: none, the start is (x, y)), unless
// the full-resolution block would not fit in a frame of width x height there. Smooth
// camera motion keeps the true position close to this start.
void HBMPredictedStart(double x, double y, const FeaturePoint2D* predecessor, int32_t width,
                       int32_t height, double* start_x, double* start_y);
// The same for a predicted motion (dx, dy): the start (x + dx, y + dy) unless the
// full-resolution block would not fit there, then (x, y).
void HBMMovedStart(double x, double y, double dx, double dy, int32_t width, int32_t height,
                   double* start_x, double* start_y);

// The motion of the features that have a predecessor (position minus predecessor), for
// predicting where a feature without one (a fresh corner) has moved: neighbours on the
// same surface move alike, so the search can start where they went instead of at the
// corner itself, which fast image motion leaves beyond the coarse search.
class HBMMotionField {
 public:
  static constexpr double kRadius = 48.0;  // pixels
  static constexpr int kNeighbours = 5;

  // A feature at (x, y) that moved by (dx, dy) since its predecessor.
  void Add(double x, double y, double dx, double dy);
  // The component-wise median motion of the (up to kNeighbours) nearest samples within
  // kRadius of (x, y); false (and no change) when there is none.
  bool Predict(double x, double y, double* dx, double* dy) const;

 private:
  struct Sample {
    double x, y, dx, dy;
  };
  std::vector<Sample> samples_;
  // Samples binned in square cells of kRadius, built on the first Predict.
  mutable std::vector<std::vector<int>> cells_;
  mutable double min_x_ = 0.0, min_y_ = 0.0;
  mutable int columns_ = 0, rows_ = 0;
};

// The cross-check of one feature: `own` is the feature's job, `predecessor` the job
// built from its predecessor (null: none). On success (x, y) is the kept estimate.
// "Plausible" below means an HBMMatchCost (full level of `own`'s images, from the
// feature's position) no higher than HBMBlockTexture there; without images nothing is
// plausible. Lost (false) when the own job failed, and else:
// - no predecessor: the own estimate, unless the own job was retried;
// - predecessor job failed: the own estimate when the own job was not retried and the
//   estimate is plausible;
// - within one pixel (squared distance up to 1.0): the midpoint; when either job was
//   retried, only if the midpoint is plausible;
// - further apart: the estimate with the lower cost, when that cost is at most half the
//   other's, its job was not retried and it is plausible.
bool HBMCrossCheck(const TrackFeatureItem& own, const TrackFeatureItem* predecessor, double* x,
                   double* y);

// How much the source's 8 x 8 block at (x, y) differs from itself moved by one pixel
// (HBMMatchCost on the source alone; the smaller of the x and y shifts).
int HBMBlockTexture(const HBMLevelImages::Level& level, double x, double y);

// Sum of absolute differences between 8 x 8 blocks centred on the source position in
// the level's source and on the target position in its target, both interpolated with
// the matcher's six-tap kernel.
int HBMMatchCost(const HBMLevelImages::Level& level, double source_x, double source_y,
                 double target_x, double target_y);

class FeatureCorrelatorHBM : public FeatureCorrelatorOpticalFlow {
 public:
  // The optical-flow set-up, except that corners are selected over 7 × 7 windows (with
  // the search range 15 that keeps their pyramid at two levels of 4): what it follows
  // must be a corner that lies inside its 8 × 8 block, not an edge there; a corner
  // measured over a larger window may have its structure outside the block.
  FeatureCorrelatorHBM();
  ~FeatureCorrelatorHBM() override = default;

  // Starts the interval clock; tagged mode: tracks the tagged features and returns the
  // number of correspondences made. Otherwise TrackFeatures, then FindNewFeatures when
  // the frames were available, prints the interval ("FeatureCorrelatorHBM::Compute") and
  // returns the number of entries of the correspondence list.
  int32_t Compute() override;
  // Tracks every feature of the first image into the second (replacing the second
  // image's automatic features); returns the number of correspondences made, 0 when an
  // image is missing.
  int32_t TrackFeatures();

 private:
  // The frame step shared by both modes; *frames_ready tells whether frames c and d
  // were delivered (and the second image's pyramid was built).
  int32_t Track(bool tagged, bool* frames_ready);
};
