#include "features/tracking_masks.h"

#include <atomic>

namespace {
std::atomic<TrackingMaskLookup> g_lookup{nullptr};
}  // namespace

void SetTrackingMaskLookup(TrackingMaskLookup lookup) {
  g_lookup.store(lookup);
}

const TrackingMaskList* GetTrackingMasks(const FeatureImageOwner* owner) {
  const TrackingMaskLookup lookup = g_lookup.load();
  if (owner == nullptr || lookup == nullptr) return nullptr;
  return lookup(owner);
}
