// The tracking engine's polygon masks as the correlators see them. The masks belong
// to the tracking manager (its vertex object pool), which a feature image knows as
// its owner (FeatureImageOwner); the engine implements TrackingMaskList over them and
// installs the lookup that finds an owner's list. Until a lookup is installed, no
// owner has masks.
//
// Mask properties: 0 keeps features out of its area for detection and tracking, 1
// for detection only, 2 re-admits its area.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

class FeatureImageOwner;

class TrackingMaskList {
 public:
  enum : int { kExclude = 0, kExcludeDetection = 1, kInclude = 2 };

  virtual ~TrackingMaskList() = default;
  // Number of masks; masks are numbered 0 .. count - 1 in list order.
  virtual int GetMaskCount() const = 0;
  // 0, 1 or 2.
  virtual int GetMaskProperty(int mask) const = 0;
  // Whether the mask is active at the frame (it has vertices and the frame lies in
  // its range).
  virtual bool IsMaskActiveAt(int mask, int32_t frame) const = 0;
  // Whether (x, y) lies inside the mask's polygon at the frame (even-odd rule).
  virtual bool IsInsideMask(int mask, double x, double y, int32_t frame) const = 0;
  // The polygon's vertex positions (x, y) at the frame, in order; vertices without a
  // position at that frame are left out.
  virtual void GetMaskPolygon(int mask, int32_t frame,
                              std::vector<std::pair<double, double>>* vertices) const = 0;
};

// Finds the mask list of an owner (null: none). Set once by the engine at start-up.
using TrackingMaskLookup = const TrackingMaskList* (*)(const FeatureImageOwner* owner);
void SetTrackingMaskLookup(TrackingMaskLookup lookup);

// The masks of the owner: null for a null owner, when no lookup is installed or when
// the lookup finds none.
const TrackingMaskList* GetTrackingMasks(const FeatureImageOwner* owner);
