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
