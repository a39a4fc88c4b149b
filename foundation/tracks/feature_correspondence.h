#pragma once

// FeatureCorrespondence: the link from a 2D feature of one frame (first, the earlier
// end) to the feature of the next frame that shows the same scene point (second, the
// later end). A chain of links is a 2D track. The earlier feature holds the link as its
// successor, the later one as its predecessor, and the link holds both features: the
// cycle is broken only by UnlinkFromTrack (or by clearing the handles by hand).
//
// Flags: bit 0 is FCORR_SUPPORT_TRUE (the link is an inlier of the current
// estimation); further support bits in feature_flags.h.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"

class FeatureCorrespondence {
 public:
  // Both ends empty (or referenced), score 0, flags FCORR_SUPPORT_TRUE.
  FeatureCorrespondence() = default;
  FeatureCorrespondence(const SharedPtr<FeaturePoint2D>& first,
                        const SharedPtr<FeaturePoint2D>& second);
  FeatureCorrespondence(const FeatureCorrespondence&) = default;
  FeatureCorrespondence& operator=(const FeatureCorrespondence&) = default;
  // Releases second, then first.
  ~FeatureCorrespondence();

  const SharedPtr<FeaturePoint2D>& GetFirst() const { return first_; }
  const SharedPtr<FeaturePoint2D>& GetSecond() const { return second_; }
  void SetFirst(const SharedPtr<FeaturePoint2D>& feature) { first_ = feature; }
  void SetSecond(const SharedPtr<FeaturePoint2D>& feature) { second_ = feature; }

  // The tracker's matching score (a restored link has 1.0).
  float GetScore() const { return score_; }
  void SetScore(float score) { score_ = score; }
  uint32_t GetFlags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }

 private:
  SharedPtr<FeaturePoint2D> first_;
  SharedPtr<FeaturePoint2D> second_;
  float score_ = 0.0f;
  uint32_t flags_ = FCORR_SUPPORT_TRUE;
};

// "x0\ty0\tx1\ty1\tscore" (earlier position, later position, score) in the stream's
// current number format, without a line end; nothing when an end is missing.
std::ostream& operator<<(std::ostream& out, const FeatureCorrespondence& link);

// The support test of links: a non-zero mask matches when flags and mask share a bit;
// mask 0 matches only flags 0.
inline bool CorrespondenceFlagsMatch(uint32_t flags, uint32_t mask) {
  return mask != 0 ? (flags & mask) != 0 : flags == 0;
}

// ---- Track walking. "Forward" follows successors, "backward" predecessors.

// The last feature reached from feature while the link and its far end exist (feature
// itself when it has no link). feature must not be null.
FeaturePoint2D* FindTrackEnd(FeaturePoint2D* feature, bool backward);

// The same walk on handles. Unless ignore_mask is set, the walk stops before a link whose
// flags do not match mask (CorrespondenceFlagsMatch). An empty start gives an empty
// handle.
SharedPtr<FeaturePoint2D> WalkTrack(const SharedPtr<FeaturePoint2D>& start, uint32_t mask,
                                    bool ignore_mask, bool backward);
SharedPtr<FeaturePoint2D> GetFirstFPoint2DOfTrack(const SharedPtr<FeaturePoint2D>& feature);
SharedPtr<FeaturePoint2D> GetLastFPoint2DOfTrack(const SharedPtr<FeaturePoint2D>& feature);

// The frame index of an image (FeatureImage supplies it; it offers the two-argument form
// of FindTrackPointInImage).
using FrameIndexOf = int32_t (*)(const FeatureImage* image);

// The feature of start's track that lies in the frame frame_index, or an empty handle.
// start needs an owning image. The direction is chosen once: backward when frame_index is
// below start's frame (compared as unsigned numbers), else forward; the walk returns the
// first feature whose image has that index and gives up at the track's end. start itself
// is never the answer. Features without an image on the way do not match.
SharedPtr<FeaturePoint2D> FindTrackPointInImage(const SharedPtr<FeaturePoint2D>& start,
                                                int32_t frame_index, FrameIndexOf index_of);

// Cuts the feature out of its track: the earlier neighbour's successor and the feature's
// predecessor are cleared, then the later neighbour's predecessor and the feature's
// successor. The links die when nobody else holds them. False for an empty handle.
bool UnlinkFromTrack(const SharedPtr<FeaturePoint2D>& feature);

// Walks the links of a list of features (an image's feature list) in list order: for each
// feature its link in the chosen direction, when it exists and its flags match mask
// (CorrespondenceFlagsMatch). direction false: each feature's successor (the feature is
// the earlier end); true: its predecessor. A small value object; it holds no reference to
// the list, which must outlive the walk, and each copy walks on its own.
class FeatureCorrespondenceIterator {
 public:
  using FeatureList = std::vector<SharedPtr<FeaturePoint2D>>;

  // features may be null (an empty walk).
  FeatureCorrespondenceIterator(const FeatureList* features, uint32_t mask, bool direction)
      : mask_(mask), features_(features), direction_(direction) {}

  // The next passing link, or an empty handle when no further feature has one.
  SharedPtr<FeatureCorrespondence> Next();

 private:
  uint32_t mask_;
  const FeatureList* features_;
  size_t position_ = 0;
  bool direction_;
};
