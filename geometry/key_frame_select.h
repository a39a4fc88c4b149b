// KeyFrameSelect: chooses the key-frame pair from which a free-motion reconstruction
// starts, two images far enough apart for a stable two-view geometry, and gives the pair
// two cameras derived from a robustly estimated fundamental matrix. The pair is either
// named by the user (method 0) or chosen automatically by one of five criteria.
//
// Parameter is the selector's settings, a plain record copied whole; the free-motion map
// keeps one inside its own parameter block and copies it in.
#pragma once

#include "geometry/update_fpoint3d_parameter.h"

class KeyFrameSelect {
 public:
  // Selection methods (Parameter::m_method).
  enum Method {
    eManual = 0,      // "manual": the pair (m_first_keyframe, m_second_keyframe)
    eCovariance = 1,  // "covariance": smallest expected estimation error, when forced
    eGibson = 2,      // "gibson": smallest Gibson score, when forced
    ePollefeys = 3,   // "pollefeys": correspondences fell below 0.9 of the first F pair's
    eRtco = 4,        // "rtco": first pair with a small third uncertainty measure
    eGric = 5,        // "gric": first pair where GRIC prefers F, with few F inliers
  };

  struct Parameter {
    int m_method = eGric;
    // The owner's focal-length and principal-point estimation modes (0 = fixed); the
    // calibration counts as unknown when either is non-zero.
    int m_estimate_focal = 1;
    int m_estimate_principal = 0;
    // Prior focal length in mm, 35 mm equivalent; <= 0 means none.
    double m_focal_prior = -11.0;
    // When >= 0, a choice is forced once more than this many images lie beyond the
    // owner's reconstructed images.
    int m_max_latency = -1;
    // The manual pair, as list positions.
    int m_first_keyframe = 0;
    int m_second_keyframe = 1;
    // Where the free-motion map starts an automatic search (not read by the selector).
    int m_search_start = -1;
    // Restart threshold on the correspondence count.
    double m_min_corr_ratio = 0.5;
    // GRIC constants: ln(lambda1) weighs n times the model's dimension, ln(lambda2 n) the
    // model's parameter count.
    double m_gric_lambda1 = 8.0;
    double m_gric_lambda2 = 4.0;
    // Carried with the block; the selection does not use it.
    double m_threshold_factor = 2.0;
    // Gibson weights: correspondence loss, homography term, fundamental-matrix term.
    double m_gibson_w1 = 3.0;
    double m_gibson_w2 = 10.0;
    double m_gibson_w3 = 1.0;
    // Settings of the point triangulation in the trial maximum-likelihood step.
    UpdateFPoint3DParameter m_update_parameter;
    // The gric criterion needs an F-inlier share below this.
    double m_max_inlier_ratio = 0.8;
  };
};
