// AutoKeyFrame: the automatic key-frame search, methods 1 to 5 of KeyFrameSelect. The
// free-motion map asks once per new image whether the pair (fixed first key image, newest
// image) or any pair evaluated before it will do as the start of a reconstruction.
//
// Each call evaluates the new pair once and records it in the selector's protocol: a
// homography and a fundamental matrix by MSAC, the GRIC of both models, a Gibson score,
// an eight-point refit of the fundamental matrix, two cameras by rectification and, when
// GRIC prefers the fundamental matrix, a trial reconstruction (point update and sparse
// bundle adjustment of the two views) whose uncertainty results go into the record. The
// trial leaves both images with their cameras as they were and without any 3D-point link.
// Then six criteria each name a pair of the protocol and the configured method accepts
// one of them, or none.
//
// It sits with the optimisers because of the trial reconstruction; the selector (geometry/)
// holds the records and the manual method. Log texts keep the selector's name
// ("KeyFrameSelect::AutoKeyFrame: ..."). Result codes as KeyFrameSelect's. Nothing throws
// (a user stop of the trial adjustment is caught and logged). Runs on the tracking thread.
//
// GRIC: P. H. S. Torr, "Geometric motion segmentation and model selection", Phil.
// Trans. R. Soc. A 356 (1998). Gibson score: S. Gibson et al., "Accurate camera
// calibration for off-line, video-based augmented reality", ISMAR 2002.
#pragma once

#include <vector>

#include "geometry/key_frame_select.h"

namespace AutoKeyFrame {

using ImageList = KeyFrameSelect::ImageList;
using Protocol = std::vector<KeyFrameSelect::KeyFrame>;

// The protocol positions the six criteria choose, -1 for none.
struct Criteria {
  int covariance = -1;    // smallest positive exp_est_error (first of equals)
  int gibson = -1;        // smallest positive gibson_score (first of equals)
  int intersection = -1;  // first pair where GRIC prefers the fundamental matrix
  // With force from the intersection on, the last pair preferring F whose
  // correspondences fell below 0.9 of the intersection pair's; without force only such a
  // later pair.
  int pollefeys = -1;
  int rtco = -1;  // first pair with 0 < m_rtco_measure < 0.1
  int gric = -1;  // first pair preferring F with an F-inlier share below max_inlier_ratio
};

// Geometric robust information criterion of a two-view model fitted to n
// correspondences: cost / sigma^2 + dimension n ln(lambda1) + parameters ln(lambda2 n).
// The fundamental matrix has dimension 3 and 7 parameters, the homography 2 and 8.
double Gric(double cost, double sigma, int n, int dimension, int parameters, double lambda1,
            double lambda2);

// True when GRIC prefers the fundamental matrix for the pair (GRIC_H > GRIC_F).
inline bool PrefersF(const KeyFrameSelect::KeyFrame& pair) {
  return pair.GRIC_H > pair.GRIC_F;
}

// w1 (1 - n1/n2) + w3 cost_f / (4 n) + w2 4 n / eH with n1 = n2 = n, eH the homography
// cost clamped at 1e-10 from below (with a level-2 warning).
double GibsonScore(const KeyFrameSelect::Parameter& parameter, int n, double cost_f, double cost_h);

// The criteria over a protocol (all comparisons strict).
Criteria FindCriteria(const Protocol& protocol, bool force, double max_inlier_ratio);

// Evaluates pair (its correspondences already searched) with the selector's parameters and
// feature deviation: fills its counts, costs, GRIC values, Gibson score, cameras and
// uncertainty results. list is the owner's image list (for log lines only).
void EvaluatePair(KeyFrameSelect::KeyFrame& pair, const KeyFrameSelect& selector,
                  const ImageList& list);

// The choice over the selector's protocol: 1 when no pair is a gric candidate (with force
// and a pair that prefers F, whatever its inlier share, the last such pair is accepted
// instead, by every method, so a shot whose tracks all fit F still gets a pair); else the
// configured method's pair is accepted (appended to the key-frame list, its cameras into
// its images, keeping their distortion) and 0 returned, or fallback when the method finds
// none. Methods 1 (covariance) and 2 (gibson) choose only with force. Method 4 (rtco)
// takes the gric pair when no pair meets its own test.
int Choose(KeyFrameSelect& selector, int fallback, bool force);

// The whole search for the pair (first, second) of list positions; force: choose now
// among the evaluated pairs (methods 1 and 2). Also forced when more than m_max_latency
// (>= 0) images of list lie beyond the owner's reconstructed images; the fallback code is
// then 3. 4 for positions outside list or a feature deviation that is not positive (level
// 2), 2 for fewer than 7 correspondences (the protocol unchanged).
int Run(KeyFrameSelect& selector, const ImageList& list, int first, int second, bool force);

}  // namespace AutoKeyFrame
