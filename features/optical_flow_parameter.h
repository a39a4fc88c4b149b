// The parameter block of the pyramidal optical-flow correlator
// (FeatureCorrelatorOpticalFlow::Parameter) and the set-up arithmetic derived from
// it: pyramid depth and subsampling from the search range, and the image border in
// which no corner is selected.
//
// A plain value record: the correlator keeps a working copy, each tracker job a copy
// of its own. Units: pixels for sizes, distances and displacements; intensities are
// 0..255 floats; m_psnr in dB.
#pragma once

#include <cstdint>

struct OpticalFlowParameter {
  // All defaults (they pass Check).
  OpticalFlowParameter() { Check(); }

  // True when m_min_eigenvalue is not below 1 (a NaN passes). Otherwise logs
  // (levels 2 and 3), replaces the whole block by the defaults and returns false.
  bool Check();

  uint32_t m_corner_count = 1000;  // features a selection fills an image up to
  int32_t m_min_dist = 21;         // half side of the no-new-feature square
  // Tracking window (made odd, at least 3). 15 × 15 with the search range below gives
  // two levels at subsampling 8: hand-held and panning shots move up to some 30 pixels
  // per frame at 1280 × 720. The coarse level must hold that motion well inside its
  // half window (4 px at 1/8 scale); at subsampling 4 a fast pan's 31 px come to the
  // edge of the window and the finer level starts off a local minimum.
  uint32_t m_window_width = 15;
  uint32_t m_window_height = 15;
  float m_min_eigenvalue = 100.0f;        // lowest corner threshold; below 1 is invalid
  float m_eigenvalue_threshold = 100.0f;  // current adaptive corner threshold
  float m_threshold_factor = 0.3f;        // adaptive threshold = factor × last accepted score
  float m_min_determinant = 0.01f;        // smallest determinant of the 2x2 tracking system
  float m_min_displacement = 0.01f;       // convergence limit of one tracking step
  uint32_t m_max_iterations = 30;         // iterations per pyramid level
  float m_max_residue = 10.0f;            // largest mean absolute window difference
  int32_t m_consistency_check = 0;        // 0 none, 1 translation, 2 similarity, 3 affine
  int32_t m_affine_window_size = 15;      // side of the stored appearance window (+ 2)
  uint32_t m_affine_max_iterations = 10;
  float m_affine_max_residue = 10.0f;
  float m_affine_min_displacement = 0.02f;      // corner convergence limit of the check
  float m_affine_max_displacement_diff = 1.5f;  // largest shift the check may add
  float m_lost_ratio = 0.0f;                    // fraction of features that may be lost
  uint32_t m_search_range = 40;                 // largest expected motion; sets the pyramid depth
  double m_psnr = 30.0;                         // assumed peak signal-to-noise ratio
  bool m_subpixel = false;                      // refine selected corners to sub-pixel positions
  int32_t m_corner_measure = 1;                 // 1 minimum eigenvalue, 2 Foerstner roundness
  float m_smoothing_sigma = 0.7f;               // low pass before the pyramid is built
  float m_covariance_value = 0.0f;              // > 0: fixed isotropic covariance of new features
  bool m_set_covariance = true;                 // give new features a covariance
  float m_corner_count_factor = 1.0f;           // share of m_corner_count marked with 0x1000
};

// Pyramid levels and subsampling for a search range and a window of
// min(width, height) pixels: c = range / (min / 2) in single precision; c < 1 gives
// (1, 1), c <= 3 (2, 2), c <= 5 (2, 4), c <= 9 (2, 8), else subsampling 8 with
// levels = trunc(ln(7c + 1) / ln 8 + 0.99).
void OpticalFlowPyramidDepth(uint32_t search_range, uint32_t window_width, uint32_t window_height,
                             uint32_t* levels, uint32_t* subsampling);

// The image border: n = smoothing taps / 2, levels - 1 times
// n = trunc((n + gradient taps / 2) / subsampling + 0.99) (in reals), then
// (n + max(window) / 2) × subsampling^(levels - 1).
int32_t OpticalFlowBorder(uint32_t smoothing_taps, uint32_t gradient_taps, uint32_t levels,
                          uint32_t subsampling, uint32_t window_width, uint32_t window_height);
