#include "features/affine_feature_attribute.h"

AffineFeatureAttribute::AffineFeatureAttribute(uint32_t side) {
  window.Resize(side, side, 3);
}

void AffineFeatureAttribute::TakeSnapshot() {
  Snapshot s;
  s.reference_x = reference_x;
  s.reference_y = reference_y;
  for (int k = 0; k < 4; ++k) s.matrix[k] = matrix[k];
  s.current_frame = current_frame;
  history.push_back(s);
}

AffineFeatureAttribute* GetAffineFeatureAttribute(const FeaturePoint2D& feature) {
  return dynamic_cast<AffineFeatureAttribute*>(feature.GetAttribute().Get());
}
