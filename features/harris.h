// Harris: the corner detector of the MetaDetector family.
//
// Integer 5 × 5 gradient operators (derivative taps −2..2 along one axis, a box of 5
// along the other) give the structure-tensor products, which a Gaussian smooths; the
// response is R = det − k·trace². Corners are local maxima of R above a threshold that
// adapts itself to a target corner count (or, in adaptive mode, a quota per image
// tile), refined to sub-pixel positions by a quadratic fit to R; on request each gets
// the inverse structure tensor as its position covariance (pixel²). Corners come out in
// raster order of their integer maxima.
//
// The relative minimum of the parameter block adapts with every non-adaptive
// computation and stays as the starting value for the next picture. The recompute flag
// is never cleared: every GetFeatures computes again.
//
// Buffers are sized by OnNewImage (Detect calls it); until then, or while their size
// does not match the luminance picture, Compute finds nothing.
//
// One thread at a time; no locking.
#pragma once

#include <cstdint>

#include "features/meta_detector.h"
#include "features/picture.h"
#include "features/region_filter.h"
#include "foundation/numeric/fixed_matrix.h"
#include "image/filter_kernel.h"

class Harris : public MetaDetector {
 public:
  struct Parameter {
    // Target upper bound of corners per picture; in adaptive mode 0 means: corner count
    // low per tile.
    uint32_t corner_count_max = 900;
    // Sigma of the Gaussian that smooths the gradient products.
    float gauss_sigma = 0.7f;
    // Response threshold as a fraction of the picture's maximum response (adapted).
    float relative_minimum = 1e-5f;
    // k of the response.
    float scale_factor = 0.04f;
    // Side of the square window of the local-maximum test.
    uint32_t local_max_window_size = 9;
    bool adaptive = false;
    // Tile side in pixels in adaptive mode.
    uint32_t adaptive_window_size = 32;
    float density_thresh = 0.5f;  // stored, printed and compared only
    // Corners per tile in adaptive mode when corner count max is 0.
    uint32_t corner_count_low = 800;
    // Products of the plain derivative gradients instead of the 5 × 5 operators.
    bool derivation_gauss = false;
    float derivation_gauss_sigma = 1.0f;  // stored, printed and compared only
    // Frame of pixels left out of the gradients (at least 2 always is).
    uint32_t border = 0;
    bool calculate_covariance = false;

    // Prints the block on stdout, one line per field after a title line.
    void Print() const;
    // True when any field differs (floats compared for equality: a NaN always differs).
    bool IsDifferent(const Parameter& other) const;
  };

  Harris();
  // Converts the picture; buffers stay 0 × 0 until OnNewImage.
  explicit Harris(const CPicture<unsigned char>& picture);

  // Applies a new block: on a change prints the outgoing block and sets the recompute
  // flag; re-initialises the buffers when the adaptive mode, the smoothing kernel's
  // length or the border changes.
  void SetParameter(const Parameter& parameter);
  const Parameter& GetParameter() const { return parameter_; }

  // Detects the corners; returns their number.
  uint32_t Compute() override;
  // Sizes the buffers to the luminance picture.
  void OnNewImage() override;

  // (Re)allocates the buffers and clears their frames.
  void InitBuffers();
  // Counts the pixels whose response exceeds threshold and is not exceeded within the
  // local-maximum window (plateaus count every pixel) and marks them in the mask.
  uint32_t CountLocalMaxima(float threshold);
  // A threshold from a 200-bin histogram of R^¼ over the marked maxima, so that fewer
  // than corner count max of them lie above it.
  float ComputeHistogramThreshold(float threshold, float maximum_response);
  // The tile-wise selection of adaptive mode: leaves the selected maxima in the mask.
  void ComputeAdaptive();
  // Quadratic fit to the 3 × 3 responses around (column, row): *x, *y the refined
  // position; false when the fit has no maximum within a pixel or the pixel has no
  // neighbours on some side. x and y must not be null.
  bool ComputeSubPixelMax(uint32_t column, uint32_t row, double* x, double* y) const;
  // The inverse of the smoothed structure tensor at the pixel nearest (x, y); the
  // identity where it is singular.
  Matrix2x2 ComputeCovariance(double x, double y) const;

  // Buffers, for inspection.
  const CPicture<int32_t>& GradientX() const { return gx_; }
  const CPicture<int32_t>& GradientY() const { return gy_; }
  const CPicture<float>& ProductXX() const { return gxx_; }
  const CPicture<float>& ProductXY() const { return gxy_; }
  const CPicture<float>& ProductYY() const { return gyy_; }
  const CPicture<float>& Response() const { return response_; }
  const CPicture<unsigned char>& Mask() const { return mask_; }
  float MaximumResponse() const { return maximum_response_; }
  const FilterKernel& SmoothingKernel() const { return kernel_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

 protected:
  Parameter parameter_;
  CPicture<int32_t> gx_, gy_;
  CPicture<float> gxx_, gxy_, gyy_;
  CPicture<float> response_;
  float maximum_response_ = 0.0f;
  CPicture<unsigned char> mask_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  FilterKernel kernel_;
  ImageFilter<float> filter_;
  CPicture<unsigned char> adaptive_mask_;

 private:
  void ComputeGradients();
  void ComputeProducts();
  void ComputeResponse();
  float AdjustThreshold(float threshold);
};
