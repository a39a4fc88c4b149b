#include "features/feature_correspondence_iterator.h"

#include <cstdint>

#include "features/feature_image.h"

SharedPtr<FeatureCorrespondence> FeatureCorrespondenceIterator::Next() {
  if (image_ == nullptr) return SharedPtr<FeatureCorrespondence>();
  const FeatureImage::FeatureList& features = image_->GetFPoints2D();
  while (position_ < features.size()) {
    const SharedPtr<FeaturePoint2D>& f = features[position_++];
    if (!f) continue;
    const SharedPtr<FeatureCorrespondence>& link =
        direction_ ? f->GetPredecessor() : f->GetSuccessor();
    if (link && CorrespondenceFlagsMatch(link->GetFlags(), static_cast<uint32_t>(mask_))) {
      return link;
    }
  }
  return SharedPtr<FeatureCorrespondence>();
}
