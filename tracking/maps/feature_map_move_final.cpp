// FeatureMapMove's end of a run: the final estimation, the refinement, the scale, the
// alignment to the map camera and the map RMSE.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/select_kth.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/auto_calib_adq.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/known_fpoint3d_model.h"
#include "optimise/optimizer_sparse_lm.h"
#include "tracking/maps/feature_map_move.h"

namespace {

using ImageList = std::vector<SharedPtr<FeatureImage>>;

// The sparse adjuster's mask for a metric adjustment: the focal length free only when it
// varies per frame (modes 0 and 1 fix it, others leave the bit), never the principal
// point or a free projection matrix.
uint32_t MetricMask(uint32_t mask, int estimate_focal) {
  if (estimate_focal == 0 || estimate_focal == 1) {
    mask &= ~uint32_t(kCamFocal);
  } else if (estimate_focal == 2) {
    mask |= kCamFocal;
  }
  return mask & ~(kCamPrincipalPoint | kCamProjectionMatrix);
}

// (X - C) . A: negative behind the camera.
double Depth(const PerspectiveCamera& camera, const vm::Vector3& x) {
  return (x - camera.GetC()).Dot(camera.GetA());
}

// The feature's 3D point when it is Cartesian and not removed, else null.
FeaturePoint3D* ValidCartesian(const SharedPtr<FeaturePoint2D>& feature) {
  FeaturePoint3D* point = feature ? feature->GetFPoint3D().Get() : nullptr;
  if (!point || point->GetCS() != FeaturePoint3D::eCartesian ||
      (point->GetFlags() & FP3D_FLAG_REMOVED)) {
    return nullptr;
  }
  return point;
}

double Rmse(const ImageList& images, bool verbose) {
  return std::sqrt(FeatureMapMove::GetMSE(images, true, verbose));
}

// The RMSE lines at debug level cost a pass over every feature: only when they show.
bool Debugging() {
  return NotifyContext::GetNotifyLevel() >= 5;
}

// Logs format at level 5 with the RMSE of images and their number.
void LogRmse(const char* format, const ImageList& images, bool verbose) {
  if (Debugging()) Notify(5, format, Rmse(images, verbose), int(images.size()));
}

// Adjusts every image of the list; a user's stop (the thrown iteration number) is logged
// with stopped_text and counts as a failed run.
bool RunAdjuster(BundleAdjuster& adjuster, const ImageList& images, const char* stopped_text) {
  try {
    return adjuster.Run(images, 0);
  } catch (unsigned iteration) {
    Notify(5, stopped_text, int(iteration));
    return false;
  }
}

bool HoldsCartesianPoint(const std::vector<SharedPtr<FeaturePoint3D>>& points) {
  for (const SharedPtr<FeaturePoint3D>& point : points) {
    if (point && point->GetCS() == FeaturePoint3D::eCartesian &&
        !(point->GetFlags() & FP3D_FLAG_REMOVED)) {
      return true;
    }
  }
  return false;
}

bool Contains(const ImageList& list, const SharedPtr<FeatureImage>& image) {
  for (const SharedPtr<FeatureImage>& i : list) {
    if (i == image) return true;
  }
  return false;
}

}  // namespace

bool FeatureMapMove::FinalEstimation() {
  if (m_free_move == 0) {
    const bool result = m_fmap_sphere.FinalEstimation();
    AdoptSphereResult();
    return result;
  }
  Notify(4, "FeatureMapMove::FinalEstimation: state %d", increm_bun_state);
  const bool estimate_projective =
      m_parameter.m_estimate_focal != 0 || m_parameter.m_estimate_principal != 0;

  // Frames before the first key frame, each resected from the frame after it. A frame
  // the reconstruction holds already (a rotation-only frame, or a second run) is not
  // taken twice: it would enter every adjustment twice.
  for (int p = int(m_fimage_list.size()) - 1; p >= 0; --p) {
    const SharedPtr<FeatureImage>& image = m_fimage_list[size_t(p)];
    if (p >= m_key1 || !image || Contains(m_incremental_list, image)) continue;
    ReverseCameraResectioning(p, estimate_projective);
    m_incremental_list.insert(m_incremental_list.begin(), image);
  }
  Notify(4, "FeatureMapMove::FinalEstimation: images %ld, incr. images %ld",
         long(m_fimage_list.size()), long(m_incremental_list.size()));
  if (Debugging()) {
    Notify(5, "FeatureMapMove::FinalEstimation: start_rmse=%f\n", Rmse(m_incremental_list, false));
  }

  BundleAdjusterSparse::Parameter& sparse = m_ba_sparse.GetParameter();
  m_rotation_only_result = false;
  // Refine mode needs a reconstruction to refine. A run whose key-frame search never
  // accepted a pair has an empty list too, but no points: it takes the last incremental
  // pass below, which gives every frame a rotation-only camera.
  if (m_incremental_list.empty() && m_fimage_list.size() >= 2 &&
      HoldsCartesianPoint(m_fpoint3d_list)) {
    Notify(4,
           "FeatureMapMove::FinalEstimation: m_incremental_list.size() == 0 && "
           "m_fimage_list.size() > 0 which => we are in refine mode!!");
    m_ba_interleave.GetParameter().m_estimate_focal = false;
    m_ba_interleave.GetParameter().m_estimate_principal_point = false;
    sparse.m_parameter_mask &= ~(kCamFocal | kCamPrincipalPoint);
    if (estimate_projective) {
      sparse.m_parameter_mask |= kCamProjectionMatrix;
    } else {
      sparse.m_parameter_mask &= ~uint32_t(kCamProjectionMatrix);
    }
    switch (DecodeOptMethod()) {
      case AdjusterMethod::kInterleave:
        m_bundle_adjuster = &m_ba_interleave;
        Notify(5, "FeatureMapMove::FinalEstimation: bundle adjust method = (Interleave)");
        break;
      case AdjusterMethod::kSparse:
      case AdjusterMethod::kSparseSubsetRefinement:
        sparse.m_max_iterations = m_parameter.m_ba_max_iter;
        m_bundle_adjuster = &m_ba_sparse;
        Notify(5, "FeatureMapMove::FinalEstimation: bundle adjust method = (Sparse)");
        break;
      case AdjusterMethod::kUnknown:
        Notify(2, "FeatureMapMove::FinalEstimation: Wrong m_parameter.m_optMethod!");
        return false;
    }
    Notify(4, "FeatureMapMove::FinalEstimation: copying fimages to m_incremental_list");
    for (const SharedPtr<FeatureImage>& image : m_fimage_list) {
      if (image) m_incremental_list.push_back(image);
    }
    // The frames hold a finished reconstruction. Started from state 0 or 2 the last
    // incremental pass below would empty the list again and nothing would be refined.
    increm_bun_state = e3DProjectionState;
    LogRmse("FeatureMapMove::FinalEstimation: RMSE %f [pel] over %d views", m_incremental_list,
            true);
  }

  Notify(5, "FeatureMapMove::FinalEstimation: 2D proj. state %s, init state %s",
         increm_bun_state == e2DProjectionState ? "true" : "false",
         increm_bun_state == eInitialisation ? "true" : "false");
  if (increm_bun_state == eInitialisation || increm_bun_state == e2DProjectionState) {
    IncrementalBundleAdjust(true);
  }

  m_fmap_sphere.ConvertToCartesian(4);
  int copied = 0, skipped = 0;
  {
    std::lock_guard lock(m_fpoint3d_lock);
    std::unordered_set<const FeaturePoint3D*> known;
    for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) known.insert(point.Get());
    // A second run meets the points it took over before: each enters the list once.
    for (const SharedPtr<FeaturePoint3D>& point : m_fmap_sphere.GetFPoint3DList()) {
      if (point && point->GetCS() == FeaturePoint3D::eCartesian &&
          known.insert(point.Get()).second) {
        // The conversion reset the point's index; the index is the list position.
        point->SetId(int32_t(m_fpoint3d_list.size()));
        m_fpoint3d_list.push_back(point);
        ++copied;
      } else {
        ++skipped;
      }
    }
  }
  Notify(5, "FeatureMapMove::FinalEstimation: %d of %d FP3Ds copied from m_fmap_sphere", copied,
         copied + skipped);
  if (increm_bun_state == eInitialisation || increm_bun_state == e2DProjectionState) {
    m_rotation_only_result = !m_incremental_list.empty();
    return true;
  }

  if (m_fpoint3d_list.size() < 7 || m_incremental_list.size() < 2) {
    Notify(3, "FeatureMapMove::FinalEstimation: failed");
    Notify(5,
           "FeatureMapMove::FinalEstimation: increm_bun_state= %d, m_fpoint3d_list.size() = %d, "
           "m_incremental_list.size() = %d",
           increm_bun_state, int(m_fpoint3d_list.size()), int(m_incremental_list.size()));
    return false;
  }
  Notify(4, "***** FeatureMapMove::FinalEstimation: ***********");

  auto adjust = [this]() {
    if (!m_bundle_adjuster) {
      Notify(2, "FeatureMapMove::FinalEstimation: no bundle adjuster chosen");
      return false;
    }
    return RunAdjuster(*m_bundle_adjuster, m_incremental_list,
                       "FeatureMapMove::FinalEstimation: stopped bundle adjust at iteration %d");
  };
  const bool skip_adjustments =
      m_parameter.m_ba_limit == eNever || m_parameter.m_ba_limit == eAdaptivLimit;
  if (skip_adjustments) {
    Notify(4, "FeatureMapMove:FinalEstimation: final bundle adjustment skipped");
  } else {
    LimitNumFPoint3D(m_incremental_list, 4000);
    Notify(4, adjust() ? "FeatureMapMove::FinalEstimation: final bundle adjust succeed!"
                       : "FeatureMapMove::FinalEstimation: final bundle adjust failed!");
    LogRmse("FeatureMapMove::FinalEstimation: after final optimization RMSE %f [pel] over %d views",
            m_incremental_list, true);
  }

  const int focal_mode = m_parameter.m_estimate_focal;
  Notify(4, "FeatureMapMove:FinalEstimation: para. estimate focal %d, principal %d", focal_mode,
         m_parameter.m_estimate_principal);
  if (estimate_projective) {
    LogRmse(
        "FeatureMapMove::FinalEstimation: projectiv test before MetricUpgrade: RMSE %f [pel] "
        "over %d views",
        m_incremental_list, false);
    Notify(5,
           "FeatureMapMove::FinalEstimation: MetricUpgrade with prior 35mm equiv. focal "
           "length %.2f mm",
           m_parameter.m_prior_focal_35mm);
    bool upgraded = false;
    try {
      AutoCalibADQ calibration;
      upgraded = calibration.MetricUpgrade(m_incremental_list, m_fpoint3d_list,
                                           m_parameter.m_prior_focal_35mm);
    } catch (const char* message) {
      Notify(2, "FeatureMapMove::FinalEstimation: auto calibration failed with error \"%s\"",
             message);
      return false;
    }
    if (!upgraded) {
      // The upgrade changes nothing when it fails: the projective result stays whole
      // rather than being scaled, resected or aligned as if it were metric.
      Notify(2,
             "FeatureMapMove::FinalEstimation: metric upgrade failed, the projective "
             "reconstruction is kept");
      return false;
    }
    LogRmse("FeatureMapMove::FinalEstimation: projectiv test: RMSE %f [pel] over %d views",
            m_incremental_list, false);
    if (focal_mode == 2 && m_parameter.m_estimate_principal == 2) {
      Notify(4, "FeatureMapMove::FinalEstimation: no final metric bundle adjustment performed!");
    } else {
      double mean_focal = 0.0;
      for (const SharedPtr<FeatureImage>& image : m_incremental_list) {
        mean_focal += image->GetFocalLength();
      }
      mean_focal /= double(m_incremental_list.size());
      Notify(4, "FeatureMapMove::FinalEstimation: mean_focal_length=%f", mean_focal);
      for (const SharedPtr<FeatureImage>& image : m_incremental_list) {
        uint32_t mask = kCamPose;
        if (focal_mode == 1 || focal_mode == 2) {
          image->SetCenterPointX(0.0);
          image->SetCenterPointY(0.0);
          if (focal_mode == 1) {
            image->SetFocalLength(mean_focal);
          } else {
            mask |= kCamFocal;
          }
        }
        const int index = image->GetImageIndex();
        try {
          CameraEstimatorKnownFPoint3D estimator;
          if (estimator.Optimize(image.Get(), image->GetFPoints2D(), &mask)) {
            Notify(4, "FeatureMapMove::FinalEstimation: resectioning of camera %d succeed", index);
          } else {
            Notify(2, "FeatureMapMove::FinalEstimation: resectioning of camera %d failed", index);
          }
        } catch (const char* message) {
          Notify(2,
                 "FeatureMapMove::FinalEstimation:: resectioning of camera %d failed with "
                 "message \"%s\"",
                 index, message);
        }
      }
      LogRmse(
          "FeatureMapMove::FinalEstimation: test after resectioning CenterPoint=0,0: RMSE %f "
          "[pel] over %d views",
          m_incremental_list, false);
      if (!m_parameter.m_keep_points_behind) {
        Notify(5, "FeatureMapMove::FinalEstimation: (1) remove %ld 3D points behind the camera",
               RemoveFPoint3DBehindCamera(m_incremental_list));
      }
      sparse.m_parameter_mask = MetricMask(sparse.m_parameter_mask, focal_mode);
      if (skip_adjustments) {
        Notify(4, "FeatureMapMove::FinalEstimation: final metric bundle adjustment skipped");
        LogRmse("FeatureMapMove::FinalEstimation: RMSE %f [pel] over %d views", m_incremental_list,
                true);
      } else {
        Notify(4, adjust() ? "FeatureMapMove::FinalEstimation: final metric bundle adjust succeed!"
                           : "FeatureMapMove::FinalEstimation: final metric bundle adjust failed!");
        LogRmse(
            "FeatureMapMove::FinalEstimation: after final metric optimization RMSE %f [pel] "
            "over %d views",
            m_incremental_list, true);
      }
      if (focal_mode == 1) SearchFocalLength();
    }
  }

  if (!m_parameter.m_keep_points_behind) {
    Notify(5, "FeatureMapMove::FinalEstimation: (2) remove %ld 3D points behind the camera",
           RemoveFPoint3DBehindCamera(m_incremental_list));
  }
  SearchAndApplyOptimalScaleFactor(m_incremental_list, m_fpoint3d_list, 0.0);
  AlignEstimationToCamera(m_camera);
  m_rmse = Rmse(m_incremental_list, false);
  const long first = m_incremental_list.empty() ? -1 : m_incremental_list.front()->GetImageIndex();
  const long last = m_incremental_list.empty() ? -1 : m_incremental_list.back()->GetImageIndex();
  Notify(3, "FeatureMapMove::FinalEstimation: frame %ld to %ld finished with RMSE %f [pel]", first,
         last, m_rmse);
  if (m_observer && !m_fimage_list.empty() && m_fimage_list.back()) {
    m_observer->UpdateVisualisation(4, m_fimage_list.back()->GetImageIndex());
  }
  return true;
}

size_t FeatureMapMove::FocalSearchStride(size_t frames) {
  if (frames > kFocalSearchMaxFrames) return 0;
  const size_t stride = (frames + kFocalSearchTrialFrames - 1) / kFocalSearchTrialFrames;
  return std::clamp<size_t>(stride, 1, kFocalSearchMaxStride);
}

int FeatureMapMove::SearchFocalLength() {
  const size_t stride = FocalSearchStride(m_incremental_list.size());
  if (m_incremental_list.size() < 2 || stride == 0 || !HoldsCartesianPoint(m_fpoint3d_list)) {
    return 0;
  }
  ImageList trial_frames;
  for (size_t i = 0; i < m_incremental_list.size(); i += stride) {
    trial_frames.push_back(m_incremental_list[i]);
  }
  // Every trial starts from the same reconstruction, so each adjustment's result depends
  // on its focal length alone.
  std::vector<PerspectiveCamera> cameras;
  for (const SharedPtr<FeatureImage>& image : m_incremental_list) cameras.push_back(*image);
  std::vector<vm::Vector3> positions;
  std::vector<uint32_t> flags;
  for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) {
    positions.push_back(point ? vm::Vector3(*point) : vm::Vector3{});
    flags.push_back(point ? point->GetFlags() : 0u);
  }
  BundleAdjusterSparse::Parameter& sparse = m_ba_sparse.GetParameter();
  const uint32_t mask = sparse.m_parameter_mask;
  sparse.m_parameter_mask = MetricMask(mask, 1);
  const double f0 = m_incremental_list.front()->GetFocalLength();
  std::map<double, double> rmse;  // by log focal length
  int runs = 0;
  // The reconstruction as it came, every camera resected at focal length exp(u).
  auto place_at = [&](double u) {
    for (size_t i = 0; i < cameras.size(); ++i) {
      static_cast<PerspectiveCamera&>(*m_incremental_list[i]) = cameras[i];
    }
    for (size_t i = 0; i < positions.size(); ++i) {
      if (!m_fpoint3d_list[i]) continue;
      static_cast<vm::Vector3&>(*m_fpoint3d_list[i]) = positions[i];
      m_fpoint3d_list[i]->AssignFlags(flags[i]);
    }
    for (const SharedPtr<FeatureImage>& image : m_incremental_list) {
      image->SetFocalLength(std::exp(u));
      uint32_t pose = kCamPose;
      try {
        CameraEstimatorKnownFPoint3D().Optimize(image.Get(), image->GetFPoints2D(), &pose);
      } catch (const char*) {
        // The camera keeps its pose; the adjustment or the refinement places it.
      }
    }
  };
  auto adjust_at = [&](double u) {
    place_at(u);
    RunAdjuster(m_ba_sparse, trial_frames,
                "FeatureMapMove::SearchFocalLength: stopped bundle adjust at iteration %d");
    ++runs;
    const double r = Rmse(trial_frames, false);
    rmse[u] = std::isfinite(r) ? r : 1e300;
    Notify(5, "FeatureMapMove::SearchFocalLength: focal length %f mm, RMSE %f [pel]", std::exp(u),
           r);
    return rmse[u];
  };
  auto best = [&]() {
    auto b = rmse.begin();
    for (auto i = rmse.begin(); i != rmse.end(); ++i) {
      if (i->second < b->second) b = i;
    }
    return b;
  };

  const double u0 = std::log(f0), step = std::log(1.15);
  for (int k = -2; k <= 2; ++k) adjust_at(u0 + k * step);
  // Widen while the best lies at an end of the scan, up to about a factor 2 either way.
  for (int widen = 0; widen < 3; ++widen) {
    const double u = best()->first;
    if (u == rmse.begin()->first) {
      adjust_at(u - step);
    } else if (u == rmse.rbegin()->first) {
      adjust_at(u + step);
    } else {
      break;
    }
  }
  // Parabolic steps through the best value and its two neighbours.
  for (int refine = 0; refine < 4; ++refine) {
    auto b = best();
    if (b == rmse.begin() || std::next(b) == rmse.end()) break;
    const auto l = std::prev(b), r = std::next(b);
    const double x0 = l->first, x1 = b->first, x2 = r->first;
    const double y0 = l->second, y1 = b->second, y2 = r->second;
    const double den = (x1 - x0) * (y1 - y2) - (x1 - x2) * (y1 - y0);
    double u = x1;
    if (den != 0.0) {
      u = x1 - 0.5 * ((x1 - x0) * (x1 - x0) * (y1 - y2) - (x1 - x2) * (x1 - x2) * (y1 - y0)) / den;
    }
    u = std::clamp(u, x0 + 0.1 * (x1 - x0), x2 - 0.1 * (x2 - x1));
    if (std::fabs(u - x1) < std::log(1.001) || rmse.count(u)) break;
    adjust_at(u);
  }
  // The trials only choose the focal length: the reconstruction goes on as the upgrade
  // left it, resected at that focal length, and the refinement adjusts it as before (an
  // already adjusted one makes the refinement's per-camera steps fail loudly).
  const double chosen = best()->first;
  place_at(chosen);
  sparse.m_parameter_mask = mask;
  Notify(4,
         "FeatureMapMove::SearchFocalLength: focal length %f mm -> %f mm, RMSE %f [pel] after %d "
         "adjustments of %d frames",
         f0, std::exp(chosen), rmse[chosen], runs, int(trial_frames.size()));
  return runs;
}

FeatureMapMove::AdjusterMethod FeatureMapMove::DecodeOptMethod() const {
  switch (m_parameter.m_optMethod) {
    case 0:
      return AdjusterMethod::kInterleave;
    case 2:
      return AdjusterMethod::kSparse;
    case 3:
    case 4:
    case 5:
      return AdjusterMethod::kSparseSubsetRefinement;
    default:
      return AdjusterMethod::kUnknown;
  }
}

BundleAdjuster* FeatureMapMove::RefinementAdjuster() {
  switch (DecodeOptMethod()) {
    case AdjusterMethod::kInterleave:
      return &m_ba_interleave;
    case AdjusterMethod::kSparseSubsetRefinement:
      m_ba_subset.SetParameter(m_ba_sparse.GetParameter());
      return &m_ba_subset;
    case AdjusterMethod::kSparse:
    case AdjusterMethod::kUnknown:
      break;
  }
  return &m_ba_sparse;
}

bool FeatureMapMove::Refinement() {
  if (m_free_move == 0) {
    const bool result = m_fmap_sphere.Refinement();
    AdoptSphereResult();
    return result;
  }
  Notify(5, "FeatureMapMove::Refinement: begin...");
  // Reset on every way out, a thrown error included.
  SparseObserverScope observer(OptimizerSparseLM_RTKFPoint3D::s_observer, m_observer);
  if (m_fimage_list.empty() || m_fpoint3d_list.empty()) {
    Notify(5, "FeatureMapMove::Refinement: empty image (%ld) or empty 3D point list (%ld)",
           long(m_fimage_list.size()), long(m_fpoint3d_list.size()));
    return false;
  }
  BundleAdjusterSparse::Parameter& sparse = m_ba_sparse.GetParameter();
  sparse.m_max_iterations = m_parameter.m_ba_max_iter;
  sparse.m_parameter_mask = MetricMask(sparse.m_parameter_mask, m_parameter.m_estimate_focal);
  Notify(5, "FeatureMapMove::Refinement: opt method %d", m_parameter.m_optMethod);
  BundleAdjuster* adjuster = RefinementAdjuster();
  LimitNumFPoint3D(m_incremental_list, 4000);
  bool result = false;
  try {
    result = adjuster->Run(m_incremental_list, 0);
    if (result) {
      Notify(5, "FeatureMapMove::Refinement: final metric bundle adjust succeed!");
    } else {
      Notify(2, "FeatureMapMove::Refinement: final metric bundle adjust failed!");
    }
    LogRmse(
        "FeatureMapMove::Refinement: after final metric optimization RMSE %f [pel] over %d views",
        m_incremental_list, true);
  } catch (unsigned iteration) {
    Notify(5, "FeatureMapMove::Refinement: stopped at iteration %d\n", int(iteration));
    result = false;
  }
  AlignEstimationToCamera(m_camera);
  m_rmse = Rmse(m_incremental_list, false);
  Notify(3, "FeatureMapMove::Refinement: finished with RMSE %f [pel] over %d views", m_rmse,
         int(m_incremental_list.size()));
  return result;
}

void FeatureMapMove::GetMSE() {
  m_rmse = Rmse(m_incremental_list, false);
}

void FeatureMapMove::AdoptSphereResult() {
  // A pure-rotation map that never held the frames has no result to give.
  if (m_fmap_sphere.GetFImageList().empty()) return;
  {
    std::lock_guard lock(m_fpoint3d_lock);
    m_fpoint3d_list = m_fmap_sphere.GetFPoint3DList();
  }
  m_rmse = m_fmap_sphere.GetRMSE();
}

double FeatureMapMove::SearchAndApplyOptimalScaleFactor(const ImageList& images,
                                                        const PointList& points, double scale) {
  if (images.empty() || !images.front()) return 0.0;
  const PerspectiveCamera& first = *images.front();
  if (scale == 0.0) {
    std::vector<double> depths;
    long behind = 0;
    for (const SharedPtr<FeatureImage>& image : images) {
      if (!image) continue;
      for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
        const FeaturePoint3D* point = ValidCartesian(feature);
        if (!point) continue;
        const double depth = Depth(*image, *point);
        depths.push_back(std::fabs(depth));
        if (depth < 0.0) ++behind;
      }
    }
    const int n = int(depths.size());
    if (n == 0) return 0.0;
    // The smaller half: far outliers do not pull the scale.
    const int b = (n + 1) / 2;
    SelectKthSmallest(depths.data(), n, b);
    double qr = 0.0;
    for (int i = 0; i < b; ++i) qr += depths[size_t(i)];
    Notify(5, "FeatureMapMove::SearchAndApplyOptimalScaleFactor: QR: %f", qr);
    const double sum_distance = qr / b;
    Notify(10, "FeatureMapMove::SearchAndApplyOptimalScaleFactor: sum_distance:%f", sum_distance);
    const double nom = 5.0 * first.GetFocalLength();
    Notify(10, "FeatureMapMove::SearchAndApplyOptimalScaleFactor: nom: %f", nom);
    scale = sum_distance > 0.0 ? nom / sum_distance : 0.0;
    if (behind > n - behind) {
      Notify(10,
             "FeatureMapMove::SearchAndApplyOptimalScaleFactor: majority of 3DFP are behind the "
             "camera => neg. scale");
      scale = -scale;
    }
  }
  Notify(10, "FeatureMapMove::SearchAndApplyOptimalScaleFactor: scale:: %f", scale);
  // All depths zero, a zero focal length or an overflow would collapse the scene onto
  // one point or fill it with inf/NaN.
  if (scale == 0.0 || !std::isfinite(scale)) {
    Notify(2,
           "FeatureMapMove::SearchAndApplyOptimalScaleFactor: no usable scale (%f), the "
           "reconstruction is left unscaled",
           scale);
    return 0.0;
  }
  const vm::Vector3 c0 = first.GetC();
  for (const SharedPtr<FeatureImage>& image : images) {
    if (image) SetCameraCentre(*image, c0 + (image->GetC() - c0) * scale);
  }
  const double s2 = scale * scale;
  for (const SharedPtr<FeaturePoint3D>& point : points) {
    if (!point || point->GetCS() != FeaturePoint3D::eCartesian) continue;
    static_cast<vm::Vector3&>(*point) = c0 + (*point - c0) * scale;
    double covariance[9];
    for (int i = 0; i < 9; ++i) covariance[i] = point->GetCoVarianceMatrix().m[i] * s2;
    point->SetCoVariance(covariance);
  }
  return scale;
}

long FeatureMapMove::RemoveFPoint3DBehindCamera(const ImageList& images) {
  long removed = 0;
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      FeaturePoint3D* point = ValidCartesian(feature);
      if (!point || (point->GetFlags() & FP3D_FLAG_PROTECTED)) continue;
      if (Depth(*image, *point) <= 0.0) {
        point->SetFlags(FP3D_FLAG_REMOVED);
        ++removed;
      }
    }
  }
  return removed;
}

void FeatureMapMove::AlignEstimationToCamera(const PerspectiveCamera& reference) {
  if (m_incremental_list.empty() || !m_incremental_list.front()) {
    Notify(2, "FeatureMapMove::AlignEstimationToCamera: empty incremental image list");
    return;
  }
  Matrix4x4 t;
  t.Multiply(reference.GetCameraToWorldMatrix(),
             m_incremental_list.front()->GetWorldToCameraMatrix());
  for (const SharedPtr<FeatureImage>& image : m_incremental_list) {
    if (image) image->Transform(t);
  }
  for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) {
    if (!point || point->GetCS() == FeaturePoint3D::eSpherical) continue;
    Vector4 x;
    x.Multiply(t, *point);
    static_cast<vm::Vector3&>(*point) = x[3] == 0.0
                                            ? vm::Vector3{0.0, 0.0, 0.0}
                                            : vm::Vector3{x[0] / x[3], x[1] / x[3], x[2] / x[3]};
  }
}
