#include "geometry/parameter_set.h"

namespace {

double Weighted(const SharedPtr<FeaturePoint2D>& feature, double ex, double ey) {
  if (!feature) return ex * ex + ey * ey;
  const Matrix2x2 w = feature->GetInverseCoVariance();
  return ex * (w.m[0] * ex + w.m[1] * ey) + ey * (w.m[2] * ex + w.m[3] * ey);
}

}  // namespace

double WeightedPairSquaredError(const CorrEl& element, double ex0, double ey0, double ex1,
                                double ey1) {
  const FeatureCorrespondence* corr = element.corr.Get();
  static const SharedPtr<FeaturePoint2D> kNone;
  return (Weighted(corr ? corr->GetFirst() : kNone, ex0, ey0) +
          Weighted(corr ? corr->GetSecond() : kNone, ex1, ey1)) /
         4.0;
}
