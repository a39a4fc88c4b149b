// Hand editing of 2D feature tracks, the controller's fifth part.
//
// uic::FPointTrackEdit places features and locator points (anchors) where the user
// clicks, as a single feature or as a whole track over the frame range that is filled in
// between the frames the user placed it in (its key features); snaps a new feature to the
// nearest Foerstner corner; interpolates a track between its keys, in 2D or through a 3D
// point when a camera solution exists; and removes tracks or parts of them with undo.
// uic::BrokenTrackEdit joins two tracks of one scene point into one.
//
// Interface thread only; features are not edited while a tracking run is active.
// Failures are level-2 warnings with the data unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/signal.h"
#include "foundation/tracks/bit_mask.h"

class CameraTrackingManager;
class FeatureImage;
class FeaturePoint2D;

namespace uic {

class MetaCTracker;

// Two tracks of the same scene point: first and last feature of each.
struct BrokenTrackCandidate {
  SharedPtr<FeaturePoint2D> a1, b1;  // the first track
  SharedPtr<FeaturePoint2D> a2, b2;  // the second track
  bool merged = false;
};

class BrokenTrackEdit : public HasSlots {
 public:
  virtual ~BrokenTrackEdit() = default;

  // Joins the current candidate's tracks when the second starts after the first ends
  // (otherwise the "overlapping" notice and no change): B1 is linked to A2, and when the
  // tracks carry different 3D points, the point of the track with the larger 2D extent
  // is kept and the other marked removed.
  virtual void MergeBrokenFeatureTracks();
  // Makes each candidate current in turn and merges it.
  virtual void MergeAllBrokenFeatureTracks();

  // Nothing in the program fills the list; a caller places candidates here.
  std::vector<BrokenTrackCandidate>& GetCandidates() { return m_candidates; }
  // The current candidate: an index into the list, -1 for none.
  void SetCurrentCandidate(int index) { m_current = index; }

 protected:
  std::vector<BrokenTrackCandidate> m_candidates;
  int m_current = -1;
};

class FPointTrackEdit : public BitMask, public BrokenTrackEdit {
 public:
  // Flag bit: snap a newly placed feature to the nearest corner.
  enum : uint32_t { kRefine = 0x2 };
  // What AddFPoint2D creates.
  enum CreationMode : int32_t {
    eSingleFeature = 0,  // one feature in the clicked image
    eSingleAnchor = 1,   // one anchor (locator point) in the clicked image
    eTrack = 2,          // a linked feature in every frame of the range
    eAnchorTrack = 3,    // a linked anchor in every frame, with a 3D point when solved
  };
  // Operations of RemoveFeatureTracks.
  enum RemoveOperation : int32_t {
    eRemoveBefore = 0,  // the part of the track before the feature
    eRemoveAfter = 1,   // the part after it
    eRemoveFeature = 2,
    eRemoveTrack = 3,
  };

  FPointTrackEdit() = default;
  ~FPointTrackEdit() override;

  // The tracker whose undo commands the removals record (may be null: no undo).
  void SetMetaCTracker(MetaCTracker* tracker) { m_ctracker = tracker; }
  MetaCTracker* GetMetaCTracker() const { return m_ctracker; }
  void SetCreationMode(int mode) { m_creation_mode = mode; }
  int GetCreationMode() const { return m_creation_mode; }
  double GetSnapRadius() const { return m_snap_radius; }

  // Slot of the viewers' add-feature request (x, y in pixels of image): creates what the
  // creation mode says, keyed at image.
  void AddFPoint2D(double x, double y, FeatureImage* image, CameraTrackingManager* manager);
  // Moves feature to the nearest cached corner when it lies strictly within the snap
  // radius (25 pixels); the cache is rebuilt for the feature's image when needed.
  bool RefineFPoint2D(FeaturePoint2D* feature);
  // Fills the corner cache with the Foerstner corners of image; returns their number.
  int UpdateFoerstnerFeatures(FeatureImage* image);
  int GetCachedImageIndex() const { return m_cached_image_index; }
  const std::vector<SharedPtr<FeaturePoint2D>>& GetCorners() const { return m_corners; }
  // Re-interpolates feature's whole track (see update_feature_track_interpolation).
  int UpdateTrackInterpolation(FeaturePoint2D* feature, bool use_3d);
  // Removes, for each listed feature, the part of its track the operation names; one
  // undo command for all of them when a tracker is set.
  void RemoveFeatureTracks(const std::vector<SharedPtr<FeaturePoint2D>>& features, int operation,
                           CameraTrackingManager* manager);

 private:
  MetaCTracker* m_ctracker = nullptr;
  int32_t m_creation_mode = eSingleFeature;
  std::vector<SharedPtr<FeaturePoint2D>> m_corners;
  int32_t m_cached_image_index = 0;
  double m_snap_radius = 25.0;
};

// The track from its first to its last feature (following the links whatever their
// flags).
std::vector<SharedPtr<FeaturePoint2D>> CollectFeatureTrack(
    const SharedPtr<FeaturePoint2D>& feature);

// Places the features of track between its key features. With use_3d and two or more
// keys, through the 3D point triangulated from the keys (free motion) or estimated as a
// direction (pure rotation): the track's point is created or moved there and every other
// feature goes to its projection. Otherwise in 2D: linearly between consecutive keys,
// held at the first key before it and at the last after it. 0, or -1 with a warning and
// nothing changed (no image, manager, free-motion map or key; a failed 3D estimate).
int update_feature_track_interpolation(const std::vector<SharedPtr<FeaturePoint2D>>& track,
                                       bool use_3d);

}  // namespace uic
