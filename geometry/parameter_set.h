#pragma once

// ParameterSet: one model hypothesis of a robust estimation (a homography, a fundamental
// matrix, a projection matrix ...). It measures how well an element fits and copies
// itself.

#include "foundation/camera/perspective_camera.h"
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

// Base of the two-view hypotheses whose residual is one offset per image, in pixels
// through the reference camera's scales. Derived supplies
//   bool Offsets(const CorrEl&, double& ex0, double& ey0, double& ex1, double& ey1) const
// and answers false for an element it cannot measure (both residuals are then 1e38).
template <class Derived>
class PairOffsetParameterSet : public ParameterSet {
 public:
  // (ex0^2 + ey0^2 + ex1^2 + ey1^2) / 4.
  double GetSquaredError(const CorrEl& element) const override {
    double ex0, ey0, ex1, ey1;
    if (!Self().Offsets(element, ex0, ey0, ex1, ey1)) return 1e38;
    return (ex0 * ex0 + ey0 * ey0 + ex1 * ex1 + ey1 * ey1) / 4.0;
  }
  // WeightedPairSquaredError of the offsets.
  double GetWeightedSquaredError(const CorrEl& element) const override {
    double ex0, ey0, ex1, ey1;
    if (!Self().Offsets(element, ex0, ey0, ex1, ey1)) return 1e38;
    return WeightedPairSquaredError(element, ex0, ey0, ex1, ey1);
  }
  SharedPtr<ParameterSet> Clone() const override { return SharedPtr<Derived>::Make(Self()); }

  // Scales 1/sx, 1/sy of camera.
  void SetScales(const PerspectiveCamera& camera) {
    m_xscale = 1.0 / camera.GetPixelSizeX();
    m_yscale = 1.0 / camera.GetPixelSizeY();
  }

  double m_xscale = 0.9374999999970703;  // pixels per mm (1/1.06666666667 until set)
  double m_yscale = 1.0;

 private:
  const Derived& Self() const { return static_cast<const Derived&>(*this); }
};
