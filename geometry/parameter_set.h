#pragma once

// ParameterSet: one model hypothesis of a robust estimation (a homography, a fundamental
// matrix, a projection matrix ...). It measures how well an element fits and copies
// itself.

#include "foundation/runtime/shared_ptr.h"
#include "geometry/corr_el.h"

class ParameterSet {
 public:
  virtual ~ParameterSet() = default;
  // Squared image distance in pixels^2 (already halved or quartered as the model
  // states); compared directly with the sampler's inlier threshold.
  virtual double GetSquaredError(const CorrEl& element) const = 0;
  // The same displacements weighted by the inverse covariance of the features (reached
  // through element.corr, so only for elements that have one); compared with a
  // chi-square value.
  virtual double GetWeightedSquaredError(const CorrEl& element) const = 0;
  // A new, independent copy in its own shared block.
  virtual SharedPtr<ParameterSet> Clone() const = 0;
};

// The covariance-weighted residual of the two-view models: (e0^T W0 e0 + e1^T W1 e1) / 4
// with e0 = (ex0, ey0), e1 = (ex1, ey1) displacements in pixels and W0, W1 the inverse
// covariances of the correspondence's earlier and later feature. A missing correspondence
// or feature weighs with the identity.
double WeightedPairSquaredError(const CorrEl& element, double ex0, double ey0, double ex1,
                                double ey1);
