// FeatureCorrespondenceIterator: walks the track links of one image's 2D features in
// feature order, keeping those whose support flags match a mask. The solver stages create
// one on the spot and hand it by value to the outlier detectors, estimators and point
// updates, which collect its links into their own lists.
//
// direction false: each feature's link to the next image (the feature is the earlier
// end); true: its link to the previous image (the feature is the later end).
// Mask test (CorrespondenceFlagsMatch): a link passes when its flag word shares a bit with
// the mask; mask 0 passes only links whose flag word is 0. Support bits: feature_flags.h.
//
// A small value object: it holds no reference on the image, which must outlive the walk
// and keep its feature list unchanged meanwhile; each copy walks on its own.
#pragma once

#include <cstddef>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"

class FeatureImage;

class FeatureCorrespondenceIterator {
 public:
  // Positioned at the image's first 2D feature. image may be null (an empty walk).
  FeatureCorrespondenceIterator(FeatureImage* image, int mask, bool direction)
      : mask_(mask), image_(image), direction_(direction) {}

  // The next passing link, or an empty handle when no further feature has one.
  SharedPtr<FeatureCorrespondence> Next();

 private:
  int mask_;
  FeatureImage* image_;
  size_t position_ = 0;
  bool direction_;
};
