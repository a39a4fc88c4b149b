// MetaDetector: the interface of the interest-point detectors (Harris, Foerstner).
// A detector converts the picture it is given into a private one-band luminance
// picture, finds points on it with Compute and keeps them as a list of FeaturePoint2D
// (sub-pixel positions in pixels, pixel centres on integers, no owning image).
//
// GetFeatures runs Compute only when the recompute flag is set: SetImage sets it, and
// so do the implementations' parameter setters when the parameters change. Whether a
// finished computation clears it is the implementation's choice.
//
// One thread at a time; no locking.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "features/picture.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"

class MetaDetector {
 public:
  using FeatureList = std::vector<SharedPtr<FeaturePoint2D>>;

  // No luminance picture, empty list, recompute flag set.
  MetaDetector();
  // Recompute flag set, then SetImage(picture).
  explicit MetaDetector(const CPicture<unsigned char>& picture);
  virtual ~MetaDetector();
  MetaDetector(const MetaDetector&) = delete;
  MetaDetector& operator=(const MetaDetector&) = delete;

  // Fills the feature list from the luminance picture; returns the number of features.
  virtual uint32_t Compute() = 0;
  // Called by Detect after a new picture has been set.
  virtual void OnNewImage() {}

  // Replaces the luminance picture by a conversion of picture: one band is copied, of
  // two bands band 0 is taken, three bands are weighted (38, 75, 15)/128 with rounding,
  // four bands 0.3, 0.59, 0.11 (band 3 ignored). Any other band count writes
  // " MetaDetector::MetaDetector: bad no. of bands: <count>" on stderr and gives a
  // luminance picture of zeros. Clears the feature list and sets the recompute flag.
  void SetImage(const CPicture<unsigned char>& picture);

  // Clears the list and runs Compute when the recompute flag is set; returns the list,
  // valid until the next SetImage, recomputation or destruction.
  const FeatureList& GetFeatures();

  // SetImage(picture), OnNewImage(), GetFeatures().
  const FeatureList& Detect(const CPicture<unsigned char>& picture);

  // The luminance picture, or null before the first picture.
  const CPicture<unsigned char>* GetLuminancePicture() const { return luminance_.get(); }
  bool NeedsRecompute() const { return recompute_; }

 protected:
  std::unique_ptr<CPicture<unsigned char>> luminance_;
  FeatureList features_;
  bool recompute_ = true;
};

// destination = the luminance of source, one band of the source's size: band 0 of a
// one- or two-band source, (38·b0 + 75·b1 + 15·b2 + 64) >> 7 of three or more bands.
// A source without bands gives zeros.
void MakeLuminancePicture(CPicture<unsigned char>& destination,
                          const CPicture<unsigned char>& source);
