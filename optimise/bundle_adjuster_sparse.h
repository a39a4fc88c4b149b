// BundleAdjusterSparse: one joint sparse Levenberg-Marquardt adjustment of all cameras and
// points of an image list, for free camera motion (Cartesian points) or for a camera
// turning about a fixed centre (direction points). The free camera parameters are chosen
// by a mask (camera_parameter_mask.h).
//
// Progress and cancellation go through the sparse optimizer's process-wide observers
// (OptimizerSparseLM_RTKFPoint3D::s_observer and the rotation-only twin); the adjuster
// never sets them. A user's stop arrives as the thrown unsigned iteration number and
// passes through Optimize with cameras and points unchanged; const char* failures are
// caught and make Optimize return false with cameras and points unchanged.
#pragma once

#include "optimise/bundle_adjuster.h"
#include "optimise/camera_parameter_mask.h"

class BundleAdjusterSparse : public BundleAdjuster {
 public:
  struct Parameter {
    int m_max_iterations = -1;   // when >= 0, the optimizer's iteration limit (else 20)
    double m_max_std_dev = 0.2;  // carried for the callers; not read here
    int m_estimate_model = 0;    // 0 free motion (OptimizeRT), 1 rotation only (OptimizeR)
    unsigned m_parameter_mask = kCamMaskAdjusterDefault;  // pan, tilt, roll, centre, f
  };

  ~BundleAdjusterSparse() override;
  void AddFImage(const SharedPtr<FeatureImage>& image) override;
  void SetFImageList(const ImageList& list) override;
  // Drops the first size - n images of the list for good when n < size, then adjusts
  // the list with the chosen model. True when the optimizer converged. Cameras and points
  // are written back also when it did not converge (the result is then false).
  bool Optimize(unsigned n) override;
  // n = 0 means the whole list.
  bool Run(const ImageList& list, unsigned n) override;
  virtual Parameter& GetParameter() { return m_parameter; }
  virtual const Parameter& GetParameter() const { return m_parameter; }
  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }

  // One adjustment of m_fimage_list with the free-motion or the rotation-only model.
  // Both throw const char* failures, which Optimize catches.
  bool OptimizeRT();
  bool OptimizeR();

  const ImageList& GetFImageList() const { return m_fimage_list; }

  double m_pixel_width = 1.0;  // the first image's sx and sy at the last run
  double m_pixel_height = 1.0;
  // Results of the last adjustment that wrote back, -1.0 before: the mean standard
  // deviation of the adjusted points (the square root of the mean diagonal of
  // sigma^2 (J_p^T J_p)^-1 per point, sigma^2 = chi2 / (measurements - parameters);
  // mm, or radians for direction points), the final RMSE in pixels and the number of
  // iterations.
  double m_mean_point_std_dev = -1.0;
  double m_final_rmse = -1.0;
  double m_iterations = -1.0;
  Parameter m_parameter;

 protected:
  ImageList m_fimage_list;
};
