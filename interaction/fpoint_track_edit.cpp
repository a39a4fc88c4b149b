#include "interaction/fpoint_track_edit.h"

#include <algorithm>
#include <cmath>

#include "features/feature_image.h"
#include "features/foerstner.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/triangulation_multi_view.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/feature_map_sphere.h"

namespace uic {

namespace {

int32_t FrameOf(const FeaturePoint2D& feature) {
  return FeatureImageFrameIndex(feature.GetImage());
}

// earlier -> later as one more step of a track.
void Link(const SharedPtr<FeaturePoint2D>& earlier, const SharedPtr<FeaturePoint2D>& later,
          uint32_t flags) {
  auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, later);
  link->SetFlags(flags);
  earlier->SetSuccessor(link);
  later->SetPredecessor(link);
}

// The later feature of feature's forward link, or null.
SharedPtr<FeaturePoint2D> Next(const FeaturePoint2D& feature) {
  const SharedPtr<FeatureCorrespondence>& link = feature.GetSuccessor();
  return link ? link->GetSecond() : SharedPtr<FeaturePoint2D>();
}

SharedPtr<FeaturePoint2D> Previous(const FeaturePoint2D& feature) {
  const SharedPtr<FeatureCorrespondence>& link = feature.GetPredecessor();
  return link ? link->GetFirst() : SharedPtr<FeaturePoint2D>();
}

bool Finite(const vm::Vector3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// The 3D estimate of the track's keys: triangulated (free motion) or a direction (pure
// rotation). False when it fails or is not finite.
bool EstimateKeyPoint(const std::vector<SharedPtr<FeaturePoint2D>>& track,
                      const std::vector<size_t>& keys, bool free_motion, vm::Vector3& out) {
  if (free_motion) {
    TriangulationMultiView triangulation;
    for (size_t k : keys) triangulation.AddObservation(*track[k], *track[k]->GetImage());
    if (!triangulation.Compute()) return false;
    out = triangulation.GetPoint();
    // Rays from one camera position meet nowhere: the solver then returns a point on or
    // behind a key camera, which no key sees.
    for (size_t k : keys) {
      double x, y, depth = 0.0;
      if (!track[k]->GetImage()->ProjectPoint(out, x, y, depth, false) || !(depth > 0.0)) {
        return false;
      }
    }
  } else {
    EstimatorSpherePoint3D estimator;
    for (size_t k : keys) estimator.AddFeatureCameraPair(track[k].Get(), track[k]->GetImage());
    if (!estimator.Compute3DPoint()) return false;
    out = estimator.GetResult();
  }
  return Finite(out);
}

}  // namespace

std::vector<SharedPtr<FeaturePoint2D>> CollectFeatureTrack(
    const SharedPtr<FeaturePoint2D>& feature) {
  std::vector<SharedPtr<FeaturePoint2D>> track;
  for (SharedPtr<FeaturePoint2D> f = GetFirstFPoint2DOfTrack(feature); f; f = Next(*f)) {
    track.push_back(f);
  }
  return track;
}

int update_feature_track_interpolation(const std::vector<SharedPtr<FeaturePoint2D>>& track,
                                       bool use_3d) {
  if (track.empty() || !track[0] || track[0]->GetImage() == nullptr) {
    Notify(2,
           "FPointTrackEdit: update_feature_track_interpolation: empty feature point list of "
           "image of first feature not set");
    return -1;
  }
  auto* manager = dynamic_cast<CameraTrackingManager*>(track[0]->GetImage()->GetOwner());
  SharedPtr<FeatureMap> map = manager ? manager->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2,
           "FPointTrackEdit: update_feature_track_interpolation: camera tracking manager "
           "and/or feature map null");
    return -1;
  }
  auto* move = dynamic_cast<FeatureMapMove*>(map.Get());
  if (move == nullptr) {
    Notify(2, "FPointTrackEdit: update_feature_track_interpolation: no free move feature map");
    return -1;
  }
  std::vector<size_t> keys;
  for (size_t i = 0; i < track.size(); ++i) {
    if (!track[i]) {
      Notify(2, "FPointTrackEdit: update_feature_track_interpolation: null feature in track");
      return -1;
    }
    // Only features of images carry a camera.
    if (track[i]->TestFlags(FP2D_FLAG_KEY_FEATURE) && track[i]->GetImage() != nullptr) {
      keys.push_back(i);
    }
  }
  if (keys.empty()) {
    Notify(2, "FPointTrackEdit: update_feature_track_interpolation: no key feature point found");
    return -1;
  }

  if (use_3d && keys.size() >= 2) {
    const bool free_motion = move->m_free_move != 0;
    vm::Vector3 p;
    if (!EstimateKeyPoint(track, keys, free_motion, p)) {
      Notify(2, "FPointTrackEdit: update_feature_track_interpolation: 3D point estimation failed");
      return -1;
    }
    if (track.size() >= 2) {
      SharedPtr<FeaturePoint3D> point = track[0]->GetFPoint3D();
      if (point) {
        point->SetFlags(FP3D_FLAG_INTERPOLATED);
        point->x = p.x;
        point->y = p.y;
        point->z = p.z;
      } else {
        point = SharedPtr<FeaturePoint3D>::Make(
            p.x, p.y, p.z, free_motion ? FeaturePoint3D::eCartesian : FeaturePoint3D::eSpherical);
        Notify(
            5,
            "FPointTrackEdit: update_feature_track_interpolation: add 3D point (%g,%g,%g) to FMap",
            p.x, p.y, p.z);
        point->SetFlags(FP3D_FLAG_LOCATOR);
        map->AddFPoint3D(point);
        for (const SharedPtr<FeaturePoint2D>& f : track) f->SetFPoint3D(point);
      }
    }
    size_t next_key = 0;
    for (size_t i = 0; i < track.size(); ++i) {
      if (next_key < keys.size() && keys[next_key] == i) {
        ++next_key;
        continue;
      }
      FeaturePoint2D& f = *track[i];
      if (f.GetImage() == nullptr) continue;
      const FeatureImage& image = *f.GetImage();
      if (!free_motion) {
        FeatureMapper mapper(image);
        if (f.GetFPoint3D()) mapper.MapSphere(f.GetFPoint3D(), f, false);
        continue;
      }
      double x = 0.0, y = 0.0, depth = 0.0;
      if (image.ProjectPoint(p, x, y, depth, false) && depth > 0.0) {
        f.x = x;
        f.y = y;
      }
    }
    return 0;
  }

  // 2D: held before the first key and after the last, linear between keys.
  const auto place = [](FeaturePoint2D& f, const FeaturePoint2D& at) {
    f.x = at.x;
    f.y = at.y;
  };
  for (size_t i = 0; i < keys.front(); ++i) place(*track[i], *track[keys.front()]);
  for (size_t k = 0; k + 1 < keys.size(); ++k) {
    const size_t a = keys[k], b = keys[k + 1];
    const FeaturePoint2D& fa = *track[a];
    const FeaturePoint2D& fb = *track[b];
    for (size_t j = a + 1; j < b; ++j) {
      const double s = double(j - a) / double(b - a);
      track[j]->x = fa.x + (fb.x - fa.x) * s;
      track[j]->y = fa.y + (fb.y - fa.y) * s;
    }
  }
  for (size_t i = keys.back() + 1; i < track.size(); ++i) {
    place(*track[i], *track[keys.back()]);
  }
  return 0;
}

// ---- BrokenTrackEdit ------------------------------------------------------------------

void BrokenTrackEdit::MergeBrokenFeatureTracks() {
  if (m_current < 0 || size_t(m_current) >= m_candidates.size()) return;
  BrokenTrackCandidate& c = m_candidates[size_t(m_current)];
  if (!c.a1 || !c.b1 || !c.a2 || !c.b2) return;
  // Only a second track that starts after the first ends can continue it; anything else
  // would link a feature to an earlier frame.
  if (FrameOf(*c.a2) <= FrameOf(*c.b1)) {
    Notify(3,
           "BrokenTrackEdit::MergeBrokenFeatureTracks: Merge failed, Tracks can not be merged "
           "because they are overlapping");
    return;
  }
  Link(c.b1, c.a2, FCORR_SUPPORT_TRUE);
  c.merged = true;
  const SharedPtr<FeaturePoint3D>& p1 = c.b1->GetFPoint3D();
  const SharedPtr<FeaturePoint3D>& p2 = c.a2->GetFPoint3D();
  if (!p1 && !p2) return;
  if (p1 && p2 && p1->GetId() == p2->GetId()) {
    Notify(3, "BrokenTrackEdit::MergeBrokenFeatureTracks: Merge failed, Tracks are already merged");
    return;
  }
  const double extent1 = c.b1->GetFPoint3D() ? (*c.a1 - *c.b1).Length() : 0.0;
  const double extent2 = c.b2->GetFPoint3D() ? (*c.a2 - *c.b2).Length() : 0.0;
  const bool first_wins = extent1 > extent2;
  const SharedPtr<FeaturePoint2D>& winner_first = first_wins ? c.a1 : c.a2;
  const SharedPtr<FeaturePoint2D>& loser_first = first_wins ? c.a2 : c.a1;
  const SharedPtr<FeaturePoint2D>& loser_last = first_wins ? c.b2 : c.b1;
  SharedPtr<FeaturePoint3D> kept = winner_first->GetFPoint3D();
  if (const SharedPtr<FeaturePoint3D>& lost = loser_first->GetFPoint3D()) {
    if (lost != kept) lost->SetFlags(FP3D_FLAG_REMOVED);
  }
  if (!kept) {
    loser_first->SetFPoint3D(SharedPtr<FeaturePoint3D>());
    return;
  }
  // The losing track alone: its last feature is now linked on into the other track.
  for (SharedPtr<FeaturePoint2D> f = loser_first; f; f = Next(*f)) {
    f->SetFPoint3D(kept);
    if (f == loser_last) break;
  }
  c.b1->SetFPoint3D(kept);
}

void BrokenTrackEdit::MergeAllBrokenFeatureTracks() {
  for (size_t i = 0; i < m_candidates.size(); ++i) {
    m_current = int(i);
    MergeBrokenFeatureTracks();
  }
}

// ---- FPointTrackEdit ------------------------------------------------------------------

FPointTrackEdit::~FPointTrackEdit() = default;

void FPointTrackEdit::AddFPoint2D(double x, double y, FeatureImage* image,
                                  CameraTrackingManager* manager) {
  if (image == nullptr) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: image not set");
    return;
  }
  if (manager == nullptr) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: tracking manager not set");
    return;
  }
  if (!manager->GetFeatureMap()) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: feature map not set");
    return;
  }
  const bool refine = TestFlags(kRefine);
  Notify(5, "FPointTrackEdit::AddFPoint2D: creation mode %d, refine %d", m_creation_mode,
         int(refine));
  const auto snap = [this, image](FeaturePoint2D* feature) {
    Notify(5, "FPointTrackEdit::AddFPoint2D: index %d, foerst. index %d, num. feats. %d",
           image->GetImageIndex(), m_cached_image_index, int(m_corners.size()));
    RefineFPoint2D(feature);
  };

  if (m_creation_mode == eSingleFeature || m_creation_mode == eSingleAnchor) {
    auto f = SharedPtr<FeaturePoint2D>::Make(image, x, y);
    f->SetFlags(FP2D_FLAG_MANUAL | FP2D_FLAG_KEY_FEATURE | FP2D_FLAG_TO_TRACK);
    if (m_creation_mode == eSingleFeature) {
      image->AddFPoint2D(f);
    } else {
      // The anchor flag is what files and undo tell anchors from features by.
      f->SetFlags(FP2D_FLAG_ANCHOR);
      image->AddAnchor(f);
    }
    if (refine) snap(f.Get());
    return;
  }
  if (m_creation_mode != eTrack && m_creation_mode != eAnchorTrack) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: unkown creation mode %d", m_creation_mode);
    return;
  }

  const int start = manager->GetFrameStart();
  const int end = manager->GetFrameEnd();
  const int step = manager->GetFrameStep();
  if (step <= 0) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: tracking manager frame step <= 0 (%d) not supported",
           step);
    return;
  }
  if (start > end) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: start > end (%d, > %d) not supported", start, end);
    return;
  }
  if ((end - start + 1) / step < 2) {
    Notify(2, "FPointTrackEdit::AddFPoint2D: no. of images (%d) < 2", (end - start + 1) / step);
    return;
  }
  const bool anchors = m_creation_mode == eAnchorTrack;
  std::vector<SharedPtr<FeaturePoint2D>> track;
  for (int frame = start; frame <= end; frame += step) {
    const SharedPtr<FeatureImage>& frame_image = frame < int(manager->GetImageList().size())
                                                     ? manager->GetImageList()[size_t(frame)]
                                                     : SharedPtr<FeatureImage>();
    if (!frame_image) {
      Notify(2, "FPointTrackEdit::AddFPoint2D: no image for frame %d, skipped", frame);
      continue;
    }
    auto f = SharedPtr<FeaturePoint2D>::Make(frame_image.Get(), x, y);
    f->SetFlags(FP2D_FLAG_MANUAL);
    if (frame_image.Get() == image) f->SetFlags(FP2D_FLAG_KEY_FEATURE);
    if (anchors) {
      f->SetFlags(FP2D_FLAG_ANCHOR);
      frame_image->AddAnchor(f);
    } else {
      frame_image->AddFPoint2D(f);
    }
    if (refine && frame_image.Get() == image) snap(f.Get());
    if (!track.empty()) Link(track.back(), f, anchors ? 0u : FCORR_FLAGS_USER_LINK);
    track.push_back(std::move(f));
  }
  update_feature_track_interpolation(track, anchors && manager->HasCameraTrackingResult());
}

int FPointTrackEdit::UpdateFoerstnerFeatures(FeatureImage* image) {
  Notify(5, "FPointTrackEdit::UpdateFoerstnerFeatures:");
  m_corners.clear();
  if (image == nullptr) {
    Notify(2, "FPointTrackEdit::UpdateFoerstnerFeatures: image null");
    return 0;
  }
  CPicture<uint8_t>* luminance = image->GetLumPicture();
  if (luminance == nullptr) {
    Notify(2, "FPointTrackEdit::UpdateFoerstnerFeatures: can't get luminance of image %d",
           image->GetImageIndex());
    return 0;
  }
  Foerstner detector;
  m_corners = detector.Detect(*luminance);
  image->ReleaseLumPicture();
  m_cached_image_index = image->GetImageIndex();
  Notify(5, "FPointTrackEdit::UpdateFoerstnerFeatures: image index %d, %d features",
         m_cached_image_index, int(m_corners.size()));
  return static_cast<int>(m_corners.size());
}

bool FPointTrackEdit::RefineFPoint2D(FeaturePoint2D* feature) {
  if (feature == nullptr) {
    Notify(2, "FPointTrackEdit::RefineFPoint2D: 2D feature null");
    return false;
  }
  FeatureImage* image = feature->GetImage();
  if (image == nullptr) {
    Notify(2, "FPointTrackEdit::RefineFPoint2D: image of 2D feature null");
    return false;
  }
  if (m_cached_image_index != image->GetImageIndex() || m_corners.empty()) {
    UpdateFoerstnerFeatures(image);
  }
  const FeaturePoint2D* nearest = nullptr;
  double best = 1e16;
  for (const SharedPtr<FeaturePoint2D>& corner : m_corners) {
    const double d2 = (*corner - *feature).SquaredLength();
    if (d2 < best) {
      best = d2;
      nearest = corner.Get();
    }
  }
  if (nearest == nullptr || !(m_snap_radius * m_snap_radius > best)) return false;
  Notify(5, "FPointTrackEdit::RefineFPoint2D: refine 2D feature (%g,%g) -> (%g,%g)", feature->x,
         feature->y, nearest->x, nearest->y);
  feature->x = nearest->x;
  feature->y = nearest->y;
  return true;
}

int FPointTrackEdit::UpdateTrackInterpolation(FeaturePoint2D* feature, bool use_3d) {
  SharedPtr<FeaturePoint2D> handle =
      feature ? SharedPtr<FeaturePoint2D>::FromPlainPointer(feature) : SharedPtr<FeaturePoint2D>();
  return update_feature_track_interpolation(
      handle ? CollectFeatureTrack(handle) : std::vector<SharedPtr<FeaturePoint2D>>(), use_3d);
}

void FPointTrackEdit::RemoveFeatureTracks(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                          int operation, CameraTrackingManager* manager) {
  if (features.empty() || manager == nullptr) return;
  Notify(9, "FPointTrackEdit::RemoveFeatureTracks: remove_operation %d, num %ld", operation,
         long(features.size()));
  std::vector<FeatureTrackSegment> segments;
  for (const SharedPtr<FeaturePoint2D>& f : features) {
    if (!f) continue;
    SharedPtr<FeaturePoint2D> first, last;
    switch (operation) {
      case eRemoveBefore:
        first = GetFirstFPoint2DOfTrack(f);
        last = Previous(*f);
        break;
      case eRemoveAfter:
        first = Next(*f);
        last = GetLastFPoint2DOfTrack(f);
        break;
      case eRemoveFeature:
        first = last = f;
        break;
      case eRemoveTrack:
        first = GetFirstFPoint2DOfTrack(f);
        last = GetLastFPoint2DOfTrack(f);
        break;
      default:
        Notify(2,
               "FPointTrackEdit::RemoveFeatureTracks: unknown feature point remove operation %ld",
               long(operation));
        return;
    }
    if (!first || !last) continue;
    const FeatureTrackSegment segment{first.Get(), last.Get()};
    // Two selected features of one track name it once.
    const bool known = std::any_of(segments.begin(), segments.end(), [&](const auto& s) {
      return s.first == segment.first && s.last == segment.last;
    });
    if (!known) segments.push_back(segment);
  }
  if (segments.empty()) return;
  if (m_ctracker != nullptr) {
    PushCommand(new RemoveFeatureTracksCmd(m_ctracker, segments));
  } else {
    Notify(2, "FPointTrackEdit::RemoveFeatureTracks: MetaCTracker not set, no undo");
  }
  manager->RemoveFeatureTracks(segments);
}

}  // namespace uic
