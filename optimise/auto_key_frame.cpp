#include "optimise/auto_key_frame.h"

#include <algorithm>
#include <cmath>

#include "features/feature_image.h"
#include "features/image_list_error.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/fmatrix.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_hmatrix.h"
#include "optimise/bundle_adjuster_sparse.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/model_kfpoint3d_sparse.h"
#include "optimise/update_fpoint3d.h"

namespace AutoKeyFrame {
namespace {

using KeyFrame = KeyFrameSelect::KeyFrame;
using t_ListFCorr = std::vector<SharedPtr<FeatureCorrespondence>>;

// Smallest homography cost the Gibson score divides by.
constexpr double kMinHomographyCost = 1e-10;

long ImageIndex(const SharedPtr<FeatureImage>& image) {
  return image ? long(image->GetImageIndex()) : -1L;
}

bool Verbose() {
  return NotifyContext::GetNotifyLevel() >= 5;
}

// Runs the homography sampler on the pair's correspondences (camera1 the initial, camera2
// the current camera) and marks the support bits; returns the supported correspondences.
t_ListFCorr RunHSampler(RandSampling& sampler, const RandSampling::Parameter& parameter,
                        const PerspectiveCamera& camera1, const PerspectiveCamera& camera2,
                        const t_ListFCorr& corrs) {
  auto calculator = SharedPtr<SampleCalculatorHMatrix>::Make();
  calculator->SetInitCamera(camera1);
  calculator->SetCurrentCamera(camera2);
  sampler.SetParameter(parameter);
  sampler.SetSampleCalculator(calculator);
  sampler.SetCurrentCamera(camera2);
  sampler.SetCorrespondences(corrs);
  sampler.Run(FCORR_SUPPORT_TRUE);
  t_ListFCorr inliers;
  for (const SharedPtr<FeatureCorrespondence>& c : corrs) {
    if (c->GetFlags() & FCORR_SUPPORT_TRUE) inliers.push_back(c);
  }
  return inliers;
}

// Mean squared reprojection error (pixels^2) of a list, for the verbose log lines.
double ListRmse(const ImageList& list) {
  return std::sqrt(ImageListMSE(list, true, false));
}

// The trial reconstruction of a pair preferring F: triangulates its F inliers with the
// pair's cameras, adjusts both views and keeps the adjusted cameras and the adjuster's
// uncertainty results in the record. Both images get their cameras back and lose every
// 3D-point link.
void TrialReconstruction(KeyFrame& pair, const KeyFrameSelect& selector, const ImageList& list) {
  const KeyFrameSelect::Parameter& p = selector.GetParameter();
  const double sigma = selector.GetMaxStdDev();
  FeatureImage& image1 = *pair.m_fimage1;
  FeatureImage& image2 = *pair.m_fimage2;
  PerspectiveCamera kept1, kept2;
  kept1.CopyFrom(image1, false);
  kept2.CopyFrom(image2, false);
  image1.CopyFrom(pair.m_camera1, true);
  image2.CopyFrom(pair.m_camera2, true);

  const ImageList images{pair.m_fimage1, pair.m_fimage2};
  UpdateFPoint3D::PointList tmp_fpoint3d_list;
  UpdateFPoint3D update;
  update.SetParameter(p.m_update_parameter);
  update.SetMaxStdDev(sigma);
  update.Update3DFPMaximumLikelihood(pair.m_corr_list, images, tmp_fpoint3d_list, nullptr, nullptr,
                                     2, false, false, false);
  if (tmp_fpoint3d_list.size() < 7) {
    Notify(3,
           "KeyFrameSelect::AutoKeyFrame: Maximum Likelihood Estimation of F-Matrix failed for "
           "this keyframe, 3D points %d < 7",
           int(tmp_fpoint3d_list.size()));
  } else {
    BundleAdjusterSparse adjuster;
    BundleAdjusterSparse::Parameter bp;
    bp.m_parameter_mask &= ~(kCamFocal | kCamPrincipalPoint);
    if (selector.IsCalibrationUnknown()) {
      bp.m_parameter_mask |= kCamProjectionMatrix;
    } else {
      bp.m_parameter_mask &= ~kCamProjectionMatrix;
    }
    bp.m_estimate_model = 0;
    bp.m_max_std_dev = sigma;
    adjuster.SetParameter(bp);
    bool adjusted = false;
    try {
      adjusted = adjuster.Run(images, 0);
    } catch (unsigned iteration) {
      Notify(5, "KeyFrameSelect::AutoKeyFrame: stopped at iteration %d\n", int(iteration));
    }
    if (adjusted) {
      if (Verbose()) {
        const ImageList none;
        const ImageList& reconstructed =
            selector.GetReconstructedList() ? *selector.GetReconstructedList() : none;
        Notify(3, "KeyFrameSelect::AutoKeyFrame: after BA optimization RMSE %f [pel] over %d views",
               ListRmse(reconstructed), int(reconstructed.size()));
      }
      // The adjuster's results: mean deviation of the adjusted points, its final RMSE in
      // pixels, and its iteration count.
      pair.mean_sigma_3dfp = adjuster.m_mean_point_std_dev;
      pair.exp_est_error = adjuster.m_final_rmse;
      pair.m_rtco_measure = adjuster.m_iterations;
      Notify(5, "KeyFrameSelect::AutoKeyFrame: mean_sigma_3dfp=%f  tmp_fpoint3d_list.size()=%d",
             pair.mean_sigma_3dfp, int(tmp_fpoint3d_list.size()));
      Notify(5, "KeyFrameSelect::AutoKeyFrame: exp_est_error=%f", pair.exp_est_error);
    } else {
      Notify(3,
             "KeyFrameSelect::AutoKeyFrame: Maximum Likelihood Estimation of F-Matrix failed for "
             "this keyframe");
    }
    pair.m_num_fpoint3d = int(tmp_fpoint3d_list.size());
    pair.m_camera1.CopyFrom(image1, false);
    pair.m_camera2.CopyFrom(image2, false);
  }

  if (Verbose()) {
    Notify(5, "KeyFrameSelect::AutoKeyFrame: before_clear RMSE %f [pel] over %d views (all)",
           ListRmse(list), int(list.size()));
  }
  for (FeatureImage* image : {&image1, &image2}) {
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      if (f) f->SetFPoint3D(SharedPtr<FeaturePoint3D>());
    }
  }
  tmp_fpoint3d_list.clear();
  if (Verbose()) {
    Notify(5, "KeyFrameSelect::AutoKeyFrame: after_clear RMSE %f [pel] over %d views (all)",
           ListRmse(list), int(list.size()));
  }
  image1.CopyFrom(kept1, false);
  image2.CopyFrom(kept2, false);
}

}  // namespace

double Gric(double cost, double sigma, int n, int dimension, int parameters, double lambda1,
            double lambda2) {
  return cost / (sigma * sigma) + dimension * n * std::log(lambda1) +
         parameters * std::log(lambda2 * n);
}

double GibsonScore(const KeyFrameSelect::Parameter& parameter, int n, double cost_f,
                   double cost_h) {
  double eh = cost_h;
  if (eh < kMinHomographyCost) {
    Notify(2, "KeyFrameSelect::AutoKeyFrame: eh2=%g, should be > 0, setting to 1e-10", eh);
    eh = kMinHomographyCost;
  }
  const int n1 = n, n2 = n;
  const double score = parameter.m_gibson_w1 * (1.0 - double(n1) / n2) +
                       parameter.m_gibson_w3 * cost_f / (4.0 * n) +
                       parameter.m_gibson_w2 * 4.0 * n / eh;
  Notify(5, "KeyFrameSelect::AutoKeyFrame: n1: %d; n2: %d: gibson_score: %f", n1, n2, score);
  return score;
}

Criteria FindCriteria(const Protocol& protocol, bool force, double max_inlier_ratio) {
  Criteria c;
  const int size = int(protocol.size());
  for (int i = 0; i < size; ++i) {
    const KeyFrame& k = protocol[size_t(i)];
    if (k.exp_est_error > 0.0 &&
        (c.covariance < 0 || k.exp_est_error < protocol[size_t(c.covariance)].exp_est_error))
      c.covariance = i;
    if (k.gibson_score > 0.0 &&
        (c.gibson < 0 || k.gibson_score < protocol[size_t(c.gibson)].gibson_score))
      c.gibson = i;
    if (c.intersection < 0 && PrefersF(k)) c.intersection = i;
    if (c.rtco < 0 && k.m_rtco_measure > 0.0 && k.m_rtco_measure < 0.1) c.rtco = i;
    const size_t n = k.m_corr_list.size();
    const double share = n > 0 ? double(k.m_num_inliers_f) / double(n) : 0.0;
    if (c.gric < 0 && PrefersF(k) && share < max_inlier_ratio) c.gric = i;
  }
  c.pollefeys = force ? c.intersection : -1;
  if (c.intersection >= 0) {
    const double limit = 0.9 * double(protocol[size_t(c.intersection)].m_corr_list.size());
    for (int i = 0; i < size; ++i) {
      const KeyFrame& k = protocol[size_t(i)];
      if (double(k.m_corr_list.size()) < limit && PrefersF(k)) c.pollefeys = i;
    }
  }
  return c;
}

void EvaluatePair(KeyFrame& pair, const KeyFrameSelect& selector, const ImageList& list) {
  const KeyFrameSelect::Parameter& p = selector.GetParameter();
  const double sigma = selector.GetMaxStdDev();
  const int n = int(pair.m_corr_list.size());
  // The images' cameras as they stand; the pair's cameras start as copies of them.
  PerspectiveCamera camera1, camera2;
  camera1.CopyFrom(*pair.m_fimage1, false);
  camera2.CopyFrom(*pair.m_fimage2, false);
  pair.m_camera1.CopyFrom(camera1, false);
  pair.m_camera2.CopyFrom(camera2, false);

  // Homography.
  RandSampling::Parameter hp;
  hp.m_scoring = 1;
  hp.m_threshold_mode = 1;
  hp.m_sigma = sigma;
  hp.m_max_searchs = 1000;
  hp.m_adaptive = false;
  hp.m_adaptive_max_searchs = 1000;
  hp.m_ratio = 0.99;
  RandSampling h_sampler;
  const t_ListFCorr h_inliers = RunHSampler(h_sampler, hp, camera1, camera2, pair.m_corr_list);
  pair.m_num_inliers_h = int(h_inliers.size());
  pair.m_cost_h = h_sampler.GetBestCost();
  HMatrix2D hmatrix;
  if (const SharedPtr<ParameterSetHMatrix> best =
          SharedPtrDynamicCast<ParameterSetHMatrix>(h_sampler.GetParameterSet())) {
    std::copy(best->m_hmatrix.m, best->m_hmatrix.m + 9, hmatrix.m);
  }
  hmatrix.SetCorrespondences(h_inliers, camera1, camera2);
  if (Verbose()) {
    Notify(5, "KeyFrameSelect::AutoKeyFrame: H-Matrix after RANSAC: %f",
           std::sqrt(hmatrix.GetMSESymmetricDistance()));
  }

  // Fundamental matrix, at half the deviation.
  FMatrix fmatrix;
  const t_ListFCorr f_inliers = pair.SampleFMatrix(sigma, fmatrix, pair.m_cost_f);
  pair.m_num_inliers_f = int(f_inliers.size());
  PrintC(camera1, nullptr, nullptr);
  PrintIntrinsic(camera1, false, nullptr);
  const double rmse_ransac = std::sqrt(fmatrix.GetMSESymmetricEpipolarDistance());
  Notify(4, "KeyFrameSelect::AutoKeyFrame: F-Matrix after RANSAC: %f", rmse_ransac);

  // GRIC: both costs over the same sigma^2, as the criterion's constants were set for.
  Notify(5, "KeyFrameSelect::AutoKeyFrame: ef2 %f", pair.m_cost_f);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: m_std_dev_max %f", sigma);
  Notify(5, "FMapFreeMove::SearchKeyFrame: eh2 %f", pair.m_cost_h);
  pair.GRIC_F = Gric(pair.m_cost_f, sigma, n, 3, 7, p.m_gric_lambda1, p.m_gric_lambda2);
  pair.GRIC_H = Gric(pair.m_cost_h, sigma, n, 2, 8, p.m_gric_lambda1, p.m_gric_lambda2);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: GRIC_F %f", pair.GRIC_F);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: GRIC_H %f", pair.GRIC_H);

  pair.gibson_score = GibsonScore(p, n, pair.m_cost_f, pair.m_cost_h);

  // Eight-point refit on the inliers, kept unless it fits worse.
  double ransac_matrix[9];
  std::copy(fmatrix.m, fmatrix.m + 9, ransac_matrix);
  EstimatorFMatrix estimator;
  estimator.SetCorrespondences(f_inliers, camera1, camera2);
  estimator.NormalizedEightPointAlgorithm(fmatrix);
  const double rmse_nepa = std::sqrt(fmatrix.GetMSESymmetricEpipolarDistance());
  Notify(5, "KeyFrameSelect::AutoKeyFrame: %d %d RMSESymmetricEpipolarDistance after NEPA: %f", 1,
         pair.m_num_inliers_f, rmse_nepa);
  if (rmse_nepa > rmse_ransac) {
    fmatrix.SetMatrix(ransac_matrix);
    Notify(5,
           "KeyFrameSelect::AutoKeyFrame: using RANSAC F-matrix (costs ransac %g, costs nepa %g)",
           rmse_ransac, rmse_nepa);
  } else {
    Notify(5, "KeyFrameSelect::AutoKeyFrame: using NEPA F-matrix (costs ransac %g, costs nepa %g)",
           rmse_ransac, rmse_nepa);
  }

  // The pair's cameras.
  Notify(5, "KeyFrameSelect::AutoKeyFrame: focal prior %g", p.m_focal_prior);
  const int distance = pair.m_fimage2->GetImageIndex() - pair.m_fimage1->GetImageIndex();
  if (selector.IsCalibrationUnknown()) {
    if (!fmatrix.RectifyCAHVtoFMatrixUnknownK(distance, pair.m_camera1, pair.m_camera2,
                                              p.m_focal_prior))
      Notify(2, "KeyFrameSelect::AutoKeyFrame: rectification failed (unknown K)");
  } else {
    if (!fmatrix.RectifyCAHVtoFMatrixKnownK(distance, pair.m_camera1, pair.m_camera2))
      Notify(2, "KeyFrameSelect::AutoKeyFrame: rectification failed (known K)");
  }

  pair.m_num_fpoint3d = 0;
  pair.mean_sigma_3dfp = pair.exp_est_error = pair.m_rtco_measure = -1.0;
  if (PrefersF(pair) && pair.m_num_inliers_f >= 7) TrialReconstruction(pair, selector, list);
}

// Makes the protocol's record at chosen the accepted pair: its images take the pair's
// cameras. Returns 0.
int Accept(KeyFrameSelect& selector, int chosen) {
  const KeyFrame candidate = selector.GetProtocol()[size_t(chosen)];
  candidate.m_fimage1->CopyFrom(candidate.m_camera1, true);
  candidate.m_fimage2->CopyFrom(candidate.m_camera2, true);
  selector.AppendKeyFrame(candidate);
  return 0;
}

int Choose(KeyFrameSelect& selector, int fallback, bool force) {
  const KeyFrameSelect::Parameter& p = selector.GetParameter();
  const Protocol& protocol = selector.GetProtocol();
  const Criteria c = FindCriteria(protocol, force, p.m_max_inlier_ratio);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_covariance: %d", c.covariance);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_gibson: %d", c.gibson);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_FGRIC_HGRIC_intersection: %d",
         c.intersection);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_pollefeys: %d", c.pollefeys);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_rtco: %d", c.rtco);
  Notify(5, "KeyFrameSelect::AutoKeyFrame: best_keyframe_gric: %d", c.gric);
  if (c.gric < 0) {
    // Tracks that all fit one fundamental matrix never pass the inlier-share test, and
    // a shot that never finds a pair ends rotation-only however far the camera moved. At
    // the last chance (forced) the widest pair that GRIC prefers as two views is taken.
    if (!force || c.intersection < 0) return 1;
    int widest = int(protocol.size()) - 1;
    while (!PrefersF(protocol[size_t(widest)])) --widest;
    Notify(4,
           "KeyFrameSelect::AutoKeyFrame: no pair passes the inlier-share test, the last "
           "chance takes the widest pair that prefers F: %d",
           widest);
    return Accept(selector, widest);
  }

  int chosen = c.gric;
  switch (p.m_method) {
    case KeyFrameSelect::eCovariance:
      if (!force || c.covariance < 0) return fallback;
      chosen = c.covariance;
      break;
    case KeyFrameSelect::eGibson:
      if (!force || c.gibson < 0) return fallback;
      chosen = c.gibson;
      break;
    case KeyFrameSelect::ePollefeys:
      if (c.pollefeys < 0) return fallback;
      chosen = c.pollefeys;
      break;
    case KeyFrameSelect::eRtco:
      // The third uncertainty result is the adjuster's iteration count, which never lies
      // in (0, 0.1): without a pair of its own the method keeps the gric pair.
      if (c.rtco >= 0) chosen = c.rtco;
      break;
    default:
      break;
  }
  return Accept(selector, chosen);
}

int Run(KeyFrameSelect& selector, const ImageList& list, int first, int second, bool force) {
  const long size = long(list.size());
  if (first < 0 || second < 0 || first >= size || second >= size) {
    Notify(5, "KeyFrameSelect::AutoKeyFrame: key frames %ld, %ld out of range [0, %ld]",
           long(first), long(second), size);
    return 4;
  }
  const double sigma = selector.GetMaxStdDev();
  if (!(sigma > 0.0)) {
    // GRIC divides the costs by sigma^2 and the samplers' thresholds scale with it.
    Notify(2, "KeyFrameSelect::AutoKeyFrame: feature standard deviation %g not positive", sigma);
    return 4;
  }
  KeyFrame pair(list[size_t(first)], list[size_t(second)]);
  const unsigned n = pair.SearchCorrespondences();
  if (n < 7) {
    Notify(2, "KeyFrameSelect::AutoKeyFrame: key frames %ld, %ld, found %ld correspondences",
           long(first), long(second), long(n));
    return 2;
  }
  const Protocol& protocol = selector.GetProtocol();
  size_t n_max = 0;
  for (const KeyFrame& record : protocol) n_max = std::max(n_max, record.m_corr_list.size());
  Notify(5, "KeyFrameSelect::AutoKeyFrame: first_keyframe index = %d, second_keyframe index = %d",
         first, second);
  Notify(5,
         "KeyFrameSelect::AutoKeyFrame: first_keyframe frame index = %d, second_keyframe frame "
         "index = %d",
         int(ImageIndex(pair.m_fimage1)), int(ImageIndex(pair.m_fimage2)));

  const KeyFrameSelect::Parameter& p = selector.GetParameter();
  int r = 1;
  const long reconstructed =
      selector.GetReconstructedList() ? long(selector.GetReconstructedList()->size()) : 0L;
  if (p.m_max_latency >= 0 && size - reconstructed > p.m_max_latency) {
    r = 3;
    force = true;
  }
  if (double(n) < p.m_min_corr_ratio * double(n_max) && !force) r = 2;
  Notify(5, "KeyFrameSelect::AutoKeyFrame: No. of keyframes in protocol = %d",
         int(protocol.size()));
  Notify(5, "KeyFrameSelect::AutoKeyFrame: No. of keyframes to evaluate this time = %d", 1);

  EvaluatePair(pair, selector, list);
  selector.AppendToProtocol(pair);
  return Choose(selector, r, force);
}

}  // namespace AutoKeyFrame
