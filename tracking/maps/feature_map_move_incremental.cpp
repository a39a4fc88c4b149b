// The incremental reconstruction of the free-motion map: the per-frame camera estimation,
// the state machine behind it (key-frame search, two-view start, resection, point update,
// windowed adjustment) and the rotation-only state that serves frames while no key-frame
// pair exists.
//
// Frames are addressed by their position in m_fimage_list, so a frame step other than 1,
// reverse tracking and recycled images work alike; image indices appear in messages only.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "features/feature_correspondence_iterator.h"
#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/search_key_frame.h"
#include "tracking/maps/feature_map_move.h"

// ---- collaborators

int FeatureMapMove::SearchKeyFramePair(int first, int second, bool force) {
  return FMapMove::SearchKeyFrame(m_keyframe_select, m_fimage_list, first, second, force);
}

const KeyFrameSelect::KeyFrame* FeatureMapMove::AcceptedKeyFrame() const {
  const std::vector<KeyFrameSelect::KeyFrame>& list = m_keyframe_select.GetKeyFrameList();
  return list.empty() ? nullptr : &list.front();
}

void FeatureMapMove::TriangulateKeyFrame(const KeyFrameSelect::KeyFrame& key,
                                         const ImageList& images, bool unlimited_chain) {
  m_update_fpoint3d.Update3DFPMaximumLikelihood(key.m_corr_list, images, m_fpoint3d_list,
                                                &m_fpoint3d_lock, nullptr, 2, false,
                                                unlimited_chain, false);
}

void FeatureMapMove::UpdateFramePoints(const SharedPtr<FeatureImage>& image, bool before_keyframe) {
  m_update_fpoint3d.Update3DFPMaximumLikelihood(
      FeatureCorrespondenceIterator(image.Get(), FCORR_SUPPORT_TRUE, true), m_incremental_list,
      m_fpoint3d_list, &m_fpoint3d_lock, before_keyframe ? &m_keyframe_select : nullptr,
      unsigned(m_parameter.m_min_views < 0 ? 0 : m_parameter.m_min_views), true, true);
}

bool FeatureMapMove::ResectFrame(int p, bool estimate_projective) {
  return ForwardCameraResectioning(p, estimate_projective);
}

bool FeatureMapMove::AdjustKeyFramePair() {
  return m_bundle_adjuster && m_bundle_adjuster->Run(m_incremental_list, 0);
}

bool FeatureMapMove::AdjustWindow() {
  return BundleAdjust();
}

int FeatureMapMove::PositionOf(const FeatureImage* image) const {
  for (size_t i = 0; i < m_fimage_list.size(); ++i) {
    if (m_fimage_list[i].Get() == image) return int(i);
  }
  return -1;
}

void FeatureMapMove::LogRMSE(const char* text, const ImageList& images) const {
  if (NotifyContext::GetNotifyLevel() < 5) return;
  Notify(5, text, std::sqrt(GetMSE(images, true, true)), int(images.size()));
}

// ---- stages

bool FeatureMapMove::CameraEstimation() {
  if (m_free_move == 0) {
    return OnSphere([](FeatureMapSphere& sphere) { return sphere.CameraEstimation(); });
  }
  Notify(4, "FeatureMapMove::CameraEstimation:");
  const int n = int(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapMove::CameraEstimation: no. of images %d < 2", n);
    return false;
  }
  const bool r = IncrementalBundleAdjust(false);
  const SharedPtr<FeatureImage> cur = GetCurrentFImage();
  if (m_observer && cur) {
    cur->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
    m_observer->UpdateVisualisation(3, cur->GetImageIndex());
  }
  return r;
}

bool FeatureMapMove::IncrementalBundleAdjust(bool final) {
  Notify(4, "FeatureMapMove::IncrementalBundleAdjust: begin incr. bundle adjust");
  const int n = int(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapMove::IncrementalBundleAdjust: no. of images < 2");
    return false;
  }
  const bool estimate_projective =
      m_parameter.m_estimate_focal != 0 || m_parameter.m_estimate_principal != 0;
  Notify(5, estimate_projective
                ? "FeatureMapMove::IncrementalBundleAdjust: estimate_projective = true"
                : "FeatureMapMove::IncrementalBundleAdjust: estimate_projective = false");

  // The incremental adjustment never frees the intrinsics; an unknown calibration is
  // carried by free projection matrices until the final estimation upgrades them.
  BundleAdjusterInterleave::Parameter& interleave = m_ba_interleave.GetParameter();
  interleave.m_estimate_focal = false;
  interleave.m_estimate_principal_point = false;
  unsigned& mask = m_ba_sparse.GetParameter().m_parameter_mask;
  mask &= ~(kCamFocal | kCamPrincipalPoint);
  if (estimate_projective) {
    mask |= kCamProjectionMatrix;
  } else {
    mask &= ~kCamProjectionMatrix;
  }

  switch (DecodeOptMethod()) {
    case AdjusterMethod::kInterleave:
      if (estimate_projective) {
        m_bundle_adjuster = &m_ba_subset;
      } else {
        m_bundle_adjuster = &m_ba_interleave;
      }
      Notify(4, "FeatureMapMove::IncrementalBundleAdjust: method Interleave");
      break;
    case AdjusterMethod::kSparse:
    case AdjusterMethod::kSparseSubsetRefinement:
      m_ba_sparse.GetParameter().m_max_iterations = m_parameter.m_ba_max_iter;
      m_bundle_adjuster = &m_ba_sparse;
      Notify(4, "FeatureMapMove::IncrementalBundleAdjust: method Sparse");
      break;
    case AdjusterMethod::kUnknown:
      Notify(2, "FeatureMapMove::IncrementalBundleAdjust:  Wrong m_parameter.m_optMethod!");
      return false;
  }

  if (increm_bun_state == e2DProjectionState) {
    Notify(4, "****** 2DProjectionState ********");
    Notify(2, "FeatureMapMove::IncrementalBundleAdjust: todo:e2DProjectionState");
    return IncrementalBA_2DProjState(final);
  }
  if (increm_bun_state == e3DProjectionState) {
    Notify(4, "****** 3DProjectionState ********");
  } else {
    // ---- initialisation: search the key-frame pair and reconstruct it
    m_incremental_list.clear();
    Notify(4, "FeatureMapMove::IncrementalBundleAdjust: initialization state");
    Notify(4, "FeatureMapMove::IncrementalBundleAdjust: DETERMINE KEYFRAME CANDIDATES **********");
    const KeyFrameSelect::Parameter& kp = m_keyframe_select.GetParameter();
    if (kp.m_method == KeyFrameSelect::eManual) {
      m_key1 = std::min(kp.m_first_keyframe, kp.m_second_keyframe);
    } else if (kp.m_first_keyframe > 1) {
      m_key1 = kp.m_first_keyframe;
    } else {
      // Signed on purpose: the default start -1 means the first frame.
      m_key1 = std::max(0, kp.m_search_start);
    }
    m_key2 = n - 1;
    m_rotation_end = n - 1;
    if (m_key1 >= m_key2) {
      Notify(5,
             "FeatureMapMove::IncrementalBundleAdjust: key 1 >= keyframe counter (%ld < %ld), key "
             "frame search in the next image",
             long(m_key1), long(m_key2));
      return true;
    }
    KeyFrameSelect::Parameter search = kp;
    search.m_estimate_focal = m_parameter.m_estimate_focal;
    search.m_estimate_principal = m_parameter.m_estimate_principal;
    m_keyframe_select.SetParameter(search);

    const int r = SearchKeyFramePair(m_key1, m_key2, final);
    switch (r) {
      case 0:
        Notify(5, "FeatureMapMove::IncrementalBundleAdjust: keyframe found (%d, %d)", m_key1,
               m_key2);
        break;
      case 2:
      case 3:
        Notify(5,
               "FeatureMapMove::IncrementalBundleAdjust: Couldn't find valid keyframe (%d, %d), "
               "switching to e2DProjectionState",
               m_key1, m_key2);
        if (final) return IncrementalBA_2DProjState(true);
        m_key1 = m_key2;
        m_keyframe_select.Reset();
        increm_bun_state = e2DProjectionState;
        return true;
      case 4:
        Notify(5,
               "FeatureMapMove::IncrementalBundleAdjust: Couldn't find valid keyframe (%d, %d), "
               "maybe the next image (wrong para)",
               m_key1, m_key2);
        return final ? IncrementalBA_2DProjState(true) : true;
      default:
        Notify(5,
               "FeatureMapMove::IncrementalBundleAdjust: Couldn't find valid keyframe (%d, %d), "
               "maybe the next image",
               m_key1, m_key2);
        return final ? IncrementalBA_2DProjState(true) : true;
    }

    const KeyFrameSelect::KeyFrame* key = AcceptedKeyFrame();
    if (!key || !key->m_fimage1 || !key->m_fimage2) {
      Notify(2, "FeatureMapMove::IncrementalBundleAdjust: empty keyframe list");
      return false;
    }
    Notify(5,
           "FeatureMapMove::IncrementalBundleAdjust: calculate initial 3D reconstruction between "
           "keyframes (%d, %d)",
           key->m_fimage1->GetImageIndex(), key->m_fimage2->GetImageIndex());
    m_incremental_list.push_back(key->m_fimage1);
    m_incremental_list.push_back(key->m_fimage2);
    TriangulateKeyFrame(*key, m_incremental_list, false);

    Notify(4, "FeatureMapMove::IncrementalBundleAdjust: bundle adjust between keyframes");
    if (m_fpoint3d_list.size() < 7) {
      Notify(2,
             "FeatureMapMove::IncrementalBundleAdjust: bundle adjustment of cameras failed (3D "
             "points %d < 7)",
             int(m_fpoint3d_list.size()));
      return false;
    }
    bool adjusted = false;
    try {
      adjusted = AdjustKeyFramePair();
    } catch (unsigned iteration) {
      Notify(4, "FeatureMapMove::IncrementalBundleAdjust: stopped bundle adjust at iteration %d",
             int(iteration));
    }
    if (adjusted) {
      Notify(4,
             "FeatureMapMove::IncrementalBundleAdjust: bundle adjust between keyframes succeed ");
    } else {
      Notify(2, "FeatureMapMove::IncrementalBundleAdjust: bundle adjust between keyframes failed");
    }
  }

  // ---- extension by the frames after the first key frame
  bool before_keyframe = increm_bun_state == eInitialisation || m_fill_keyframe_gap;
  if (before_keyframe) increm_bun_state = eInitialisation;
  const KeyFrameSelect::KeyFrame* key = AcceptedKeyFrame();
  if (!key || !key->m_fimage1 || !key->m_fimage2) {
    Notify(4, "FeatureMapMove::IncrementalBundleAdjust: empty keyframe list");
    return false;
  }
  const SharedPtr<FeatureImage> second_key = key->m_fimage2;
  const int first_position = PositionOf(key->m_fimage1.Get());
  if (first_position < 0) {
    Notify(2, "FeatureMapMove::IncrementalBundleAdjust: key frame %d not in the image list",
           key->m_fimage1->GetImageIndex());
    return false;
  }
  for (int p = first_position + 1; p < n; ++p) {
    // Once the reconstruction stands only the newest frame is new.
    if (increm_bun_state == e3DProjectionState) p = n - 1;
    const SharedPtr<FeatureImage> image = m_fimage_list[p];
    if (!image) continue;
    Notify(4,
           "FeatureMapMove::IncrementalBundleAdjust: incremential bundle adjustment to increasing "
           "frame no. %d",
           image->GetImageIndex());
    if (image == second_key) {
      ResectFrame(p, estimate_projective);
      before_keyframe = false;
      // The second key frame's own tracks refine the points over every frame resected so
      // far and start the tracks that begin between the key frames.
      UpdateFramePoints(image, false);
    } else {
      ResectFrame(p, estimate_projective);
      if (before_keyframe && !m_incremental_list.empty()) {
        m_incremental_list.pop_back();
        m_incremental_list.push_back(image);
        m_incremental_list.push_back(second_key);
      } else {
        m_incremental_list.push_back(image);
      }
      Notify(5, "FeatureMapMove::IncrementalBundleAdjust: incremental_list.size()=%d",
             int(m_incremental_list.size()));
      Notify(5, "FeatureMapMove::IncrementalBundleAdjust: increm_bun_state=%d", increm_bun_state);
      Notify(5, "FeatureMapMove::IncrementalBundleAdjust: before_keyframe=%d",
             int(before_keyframe));
      Notify(4, "FeatureMapMove::IncrementalBundleAdjust: update 3D reconstruction");
      UpdateFramePoints(image, before_keyframe);
    }
    AdjustWindow();
  }
  Notify(4, "FeatureMapMove::IncrementalBundleAdjust: switch to D projection state");
  increm_bun_state = e3DProjectionState;
  m_fill_keyframe_gap = false;
  return true;
}

bool FeatureMapMove::IncrementalBA_2DProjState(bool final) {
  const int n = int(m_fimage_list.size());
  if (final) m_rotation_end = m_key2;
  Notify(5, "FeatureMapMove::IncrementalBA_2DProjState() latency = %d",
         n - int(m_incremental_list.size()));

  // Rotation-only cameras for the frames not yet in the reconstruction, the search's new
  // start included: it may become the first key frame, which must be in the list.
  const int m = int(m_incremental_list.size());
  if (RotationOnlyCameras() && m <= m_rotation_end && m_rotation_end < n) {
    m_fmap_sphere.SetCameraEstimator(m_estimator);
    for (int p = m; p <= m_rotation_end; ++p) {
      SharedPtr<FeatureImage> image = m_fimage_list[p];
      if (!image) {
        Notify(2, "FeatureMapMove::IncrementalBA_2DProjState: no image at position %d", p);
        continue;
      }
      m_fmap_sphere.AppendImage(image);
      FeatureCorrespondenceIterator it(image.Get(), FCORR_SUPPORT_TRUE, true);
      for (SharedPtr<FeatureCorrespondence> c = it.Next(); c; c = it.Next()) {
        c->SetFlags(c->GetFlags() | FCORR_SUPPORT_ROTATION);
      }
      m_fmap_sphere.Update3DLinks(image);
      // The first frame of the rotation-only list keeps its camera.
      if (m_fmap_sphere.GetFImageList().size() > 1) m_fmap_sphere.EstimateCurrentCamera();
      m_incremental_list.push_back(image);
      Notify(4,
             "FeatureMapMove::IncrementalBA_2DProjState: ESTIMATE ROTATION successful! Frame "
             "Index: %d, Index: %d, rotational views: %d, total views %d",
             image->GetImageIndex(), image->GetImageIndex(),
             int(m_fmap_sphere.GetFImageList().size()), int(m_incremental_list.size()));
      LogRMSE(
          "FeatureMapMove::IncrementalBA_2DProjState: after optimization RMSE %f [pel] over %d "
          "views",
          m_incremental_list);
    }
  }
  if (final) return true;

  m_key2 = n - 1;
  const int r = SearchKeyFramePair(m_key1, m_key2, false);
  switch (r) {
    case 0:
      Notify(5,
             "FeatureMapMove::IncrementalBA_2DProjState: keyframe found (%d, %d), switching to "
             "e3DProjectionState",
             m_key1, m_key2);
      m_first_3d_index = m_key1;
      increm_bun_state = e3DProjectionState;
      break;
    case 2:
    case 3:
      Notify(5,
             "FeatureMapMove::IncrementalBA_2DProjState: Couldn't find valid keyframe (%d, %d), "
             "switching to e2DProjectionState",
             m_key1, m_key2);
      m_keyframe_select.Reset();
      m_key1 = m_rotation_end = m_key2;
      return true;
    case 4:
      Notify(5,
             "FeatureMapMove::IncrementalBA_2DProjState: Couldn't find valid keyframe (%d, %d), "
             "maybe the next image (wrong para)",
             m_key1, m_key2);
      return true;
    default:
      Notify(5,
             "FeatureMapMove::IncrementalBA_2DProjState: Couldn't find valid keyframe (%d, %d), "
             "maybe the next image",
             m_key1, m_key2);
      return true;
  }

  LogRMSE(
      "FeatureMapMove::IncrementalBA_2DProjState: after optimization RMSE %f [pel] over %d "
      "views",
      m_incremental_list);
  Notify(4,
         "***** FeatureMapMove::IncrementalBA_2DProjState() ***** CALCULATE INITIAL 3D "
         "RECONSTRUCTION BETWEEN KEYFRAMES **********");
  const KeyFrameSelect::KeyFrame* key = AcceptedKeyFrame();
  if (!key || !key->m_fimage1 || !key->m_fimage2) {
    Notify(2, "FeatureMapMove::IncrementalBA_2DProjState: empty key frame list");
    return false;
  }
  const int first = PositionOf(key->m_fimage1.Get());
  const int second = PositionOf(key->m_fimage2.Get());
  if (first < 0 || second < 0) {
    Notify(2, "FeatureMapMove::IncrementalBA_2DProjState: keys %d, %d out of range [0, %d]",
           key->m_fimage1->GetImageIndex(), key->m_fimage2->GetImageIndex(), n - 1);
    return false;
  }
  TriangulateKeyFrame(*key, {key->m_fimage1, key->m_fimage2}, true);
  m_incremental_list.push_back(key->m_fimage2);
  m_fill_keyframe_gap = second - first > 1;
  if (NotifyContext::GetNotifyLevel() >= 5) {
    LogRMSE(
        "FeatureMapMove::IncrementalBA_2DProjState: after optimization RMSE %f [pel] over %d "
        "views",
        m_incremental_list);
    LogRMSE(
        "FeatureMapMove::IncrementalBA_2DProjState: after optimization RMSE %f [pel] over %d "
        "views (all)",
        m_fimage_list);
  }
  return true;
}
