#include "tracking/maps/feature_map_move.h"

#include <cmath>
#include <cstdint>

#include "features/feature_correspondence_iterator.h"
#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_proj_matrix.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/known_fpoint3d_model.h"

namespace {

using CorrList = std::vector<SharedPtr<FeatureCorrespondence>>;
using FeatureList = std::vector<SharedPtr<FeaturePoint2D>>;

// The image's end (own) and the neighbour's end (other) of a link.
const SharedPtr<FeaturePoint2D>& OwnEnd(const FeatureCorrespondence& c, bool direction) {
  return direction ? c.GetSecond() : c.GetFirst();
}
const SharedPtr<FeaturePoint2D>& OtherEnd(const FeatureCorrespondence& c, bool direction) {
  return direction ? c.GetFirst() : c.GetSecond();
}

bool HasValidPoint(const FeaturePoint2D& f) {
  return f.GetFPoint3D() && (f.GetFPoint3D()->GetFlags() & FP3D_FLAG_REMOVED) == 0;
}

}  // namespace

void clear_freemove_links(SharedPtr<FeatureImage> image) {
  FeatureCorrespondenceIterator it(image.Get(), FCORR_SUPPORT_TRUE, true);
  for (SharedPtr<FeatureCorrespondence> c = it.Next(); c; c = it.Next()) {
    if (c->GetSecond()) c->GetSecond()->SetFPoint3D(nullptr);
    if (c->GetFirst()) c->GetFirst()->SetFPoint3D(nullptr);
    c->SetFlags(c->GetFlags() & ~uint32_t(FCORR_SUPPORT_FREEMOVE));
  }
}

void generate_fcorr_list_with_3dfp(FeatureImage* image, CorrList& out, bool direction) {
  FeatureCorrespondenceIterator it(image, FCORR_SUPPORT_TRUE, direction);
  for (SharedPtr<FeatureCorrespondence> c = it.Next(); c; c = it.Next()) {
    const SharedPtr<FeaturePoint2D>& own = OwnEnd(*c, direction);
    const SharedPtr<FeaturePoint2D>& other = OtherEnd(*c, direction);
    if (!own || !other) continue;
    const SharedPtr<FeaturePoint3D>& point = other->GetFPoint3D();
    // Only a Cartesian point carries along a track; a direction point belongs to the
    // rotation-only cameras.
    if (point && point->GetCS() == FeaturePoint3D::eCartesian && !own->GetFPoint3D()) {
      own->SetFPoint3D(point);
    }
    if (own->GetFPoint3D()) out.push_back(c);
  }
  const int index = image ? image->GetImageIndex() : -1;
  if (out.empty()) {
    Notify(2, "FeatureMapMove, generate_fcorr_list_with_3dfp: image index %d: empty 3D point list",
           index);
  } else {
    Notify(5, "FeatureMapMove, generate_fcorr_list_with_3dfp: image index %d: %d 3D points", index,
           int(out.size()));
  }
}

FeatureMapMove::FeatureMapMove() : m_keyframe_select(&m_incremental_list) {}

FeatureMapMove::~FeatureMapMove() = default;

void FeatureMapMove::SetParameter(const Parameter& p) {
  m_parameter = p;
  UpdateFPoint3DParameter u = p.m_update_parameter;
  u.m_estimate_focal = p.m_estimate_focal;
  u.m_estimate_principal = p.m_estimate_principal;
  m_update_parameter = u;
  m_update_fpoint3d.SetParameter(u);
  KeyFrameSelect::Parameter k = p.m_keyframe_parameter;
  k.m_focal_prior = p.m_prior_focal_35mm;
  k.m_update_parameter = u;
  m_keyframe_select.SetParameter(k);
}

double FeatureMapMove::GetMaxStdDev(const SharedPtr<OutlierDetector>& detector) {
  const auto* sampler = dynamic_cast<const RandSampling*>(detector.Get());
  if (!sampler) {
    Notify(2, "FeatureMapMove::GetMaxStdDev: unknwon outlier detector");
    return 0.3;
  }
  const RandSampling::Parameter& p = sampler->GetParameter();
  switch (p.m_threshold_mode) {
    case 0: {
      const SharedPtr<SampleCalculator>& calculator = sampler->GetSampleCalculator();
      // Without a calculator the sampler cannot run; its threshold then stands alone.
      const double factor = calculator ? calculator->GetThresholdFactor() : 1.0;
      return factor > 0.0 ? p.m_threshold / std::sqrt(factor) : 0.3;
    }
    case 1:
    case 2:
      return p.m_sigma;
    default:
      return 0.3;
  }
}

void FeatureMapMove::SetCovarianceMatrices(const std::vector<SharedPtr<FeatureImage>>& images,
                                           double sigma) {
  const size_t first = images.size() > 2 ? images.size() - 1 : 0;
  const float variance = float(sigma * sigma);
  for (size_t i = first; i < images.size(); ++i) {
    if (!images[i]) continue;
    bool reached_end = true;
    for (const SharedPtr<FeaturePoint2D>& f : images[i]->GetFPoints2D()) {
      if (!f) continue;
      if (f->GetFlags() & FP2D_FLAG_COVARIANCE) {
        reached_end = false;
        break;
      }
      f->SetCoVariance(variance, 0.0f, variance);
    }
    if (reached_end) {
      Notify(5,
             "FeatureMapMove::SetCovarianceMatrices: FP2D have no covariance matrix assigned. "
             "Using settings from the random sampling options");
    }
  }
}

void FeatureMapMove::LendToSphere() {
  m_fmap_sphere.SetOutlierDetector(m_outlier_detector);
  m_fmap_sphere.SetCameraEstimator(m_estimator);
  m_fmap_sphere.SetCorrelatorTemplate(m_correlator_template);
  m_fmap_sphere.SetGuidedMatcher(m_guided_matcher);
  m_fmap_sphere.SetObserver(m_observer);
  m_fmap_sphere.SetManager(m_manager);
  m_fmap_sphere.SetFrameRate(m_frame_rate);
  // This map matched the frames; the embedded one works on the same list.
  m_fmap_sphere.SetImageList(m_fimage_list);
}

void FeatureMapMove::TakeSpherePoints() {
  m_fpoint3d_lock.LockWrite();
  m_fpoint3d_list = m_fmap_sphere.GetFPoint3DList();
  m_fpoint3d_lock.UnlockWrite();
}

bool FeatureMapMove::Init(SharedPtr<FeatureImage>& first) {
  if (m_free_move == 0) {
    // This map keeps the frames (its Match appends to them), the embedded one solves.
    FeatureMap::Init(first);
    return OnSphere([&](FeatureMapSphere& sphere) { return sphere.Init(first); });
  }
  FeatureMap::Init(first);
  for (const SharedPtr<FeatureImage>& image : m_fimage_list) clear_freemove_links(image);
  m_max_std_dev = GetMaxStdDev(m_outlier_detector);
  m_keyframe_select.SetMaxStdDev(m_max_std_dev);
  m_update_fpoint3d.SetMaxStdDev(m_max_std_dev);
  Notify(4, "***** FeatureMapMove::Init() set maximal standard deviation=%f", m_max_std_dev);
  m_incremental_list.clear();
  m_keyframe_select.Reset();
  increm_bun_state = eInitialisation;
  m_key1 = m_key2 = m_rotation_end = 0;
  m_fill_keyframe_gap = false;
  m_first_3d_index = adaptiv_skip_frames_counter = 0;
  m_rotation_only_result = false;
  return true;
}

bool FeatureMapMove::OutlierElimination() {
  if (m_free_move == 0) {
    return OnSphere([](FeatureMapSphere& sphere) { return sphere.OutlierElimination(); });
  }
  if (!m_outlier_detector) {
    Notify(2, "FeatureMapMove::OutlierElimination: outlier detector not set");
    return false;
  }
  if (!m_estimator) {
    Notify(2, "FeatureMapMove::OutlierElimination: estimator not set");
    return false;
  }
  Notify(4, "***** FeatureMapMove::OutlierElimination: **********");
  if (m_fimage_list.size() < 2) {
    Notify(2, "FeatureMapMove::OutlierElimination: no. of images %d < 2",
           int(m_fimage_list.size()));
    return false;
  }
  const SharedPtr<FeatureImage> cur = m_fimage_list.back();
  const SharedPtr<FeatureImage>& prev = m_fimage_list[m_fimage_list.size() - 2];
  if (!cur || !prev) {
    Notify(2, "FeatureMapMove::OutlierElimination: image is null");
    return false;
  }
  const int linked = cur->CountCorrespondences(true);
  if (linked < 7) {
    Notify(2, "FeatureMapMove::OutlierElimination: image %d: no. of correspondences %d < 7",
           cur->GetImageIndex(), linked);
    return false;
  }
  SetCovarianceMatrices(m_fimage_list, m_max_std_dev);

  Notify(4, "FeatureMapMove::OutlierElimination: ***** OUTLIER DETECTION **********");
  m_outlier_detector->SetCurrentCamera(*prev);
  m_outlier_detector->SetCorrespondences(cur->GetFPoints2D(), true);
  m_outlier_detector->Run(FCORR_SUPPORT_TRUE);
  cur->SetStatistic(0, m_outlier_detector->m_num_supported);
  cur->SetStatistic(1, m_outlier_detector->m_num_unsupported);

  Notify(4, "***** FeatureMapMove::OutlierElimination: **** GUIDED MATCHING **********");
  RunGuidedMatcher(1);

  if (m_parameter.m_point_update_mode == 2) {
    // The points are triangulated from the camera the matcher worked with. An image never
    // matched has no such camera and keeps its own.
    if (const PerspectiveCamera* match = cur->GetMatchCamera()) cur->CopyFrom(*match, false);
    m_update_fpoint3d.Update3DFPMaximumLikelihood(
        FeatureCorrespondenceIterator(cur.Get(), FCORR_SUPPORT_TRUE, true), m_fimage_list,
        m_fpoint3d_list, &m_fpoint3d_lock, nullptr, 4, true, true);
  }

  // A feature the user placed keeps its track whatever the detector decided.
  int manual = 0, overwritten = 0;
  for (const SharedPtr<FeaturePoint2D>& f : cur->GetFPoints2D()) {
    if (!f || !(f->GetFlags() & FP2D_FLAG_MANUAL)) continue;
    ++manual;
    const SharedPtr<FeatureCorrespondence>& link = f->GetPredecessor();
    if (link && !(link->GetFlags() & FCORR_SUPPORT_TRUE)) {
      link->SetFlags(link->GetFlags() | FCORR_SUPPORT_TRUE);
      ++overwritten;
    }
  }
  if (overwritten > 0) {
    Notify(4,
           "FeatureMapMove::OutlierElimination: overwrite support (FCORR_SUPPORT_TRUE) for %d of "
           "%d manual feature points",
           overwritten, manual);
  }
  Notify(4, "FeatureMapMove::OutlierElimination: stores %d fimages", int(m_fimage_list.size()));
  if (m_observer) m_observer->UpdateVisualisation(2, cur->GetImageIndex());
  return true;
}

void FeatureMapMove::GetKeyFramePair(std::vector<int>& keys) const {
  keys = {m_key1, m_key2};
}

int FeatureMapMove::SetIncrementalList(const std::vector<SharedPtr<FeatureImage>>& images) {
  m_incremental_list = images;
  return int(m_incremental_list.size());
}

int FeatureMapMove::ProjectionOutlierDetection(const SharedPtr<FeatureImage>& image,
                                               FeatureImage* neighbour, FeatureList* out,
                                               bool direction) {
  if (m_fimage_list.size() < 2) {
    Notify(2, "FeatureMapMove::ProjectionOutlierDetection: num images < 2");
    return 0;
  }
  if (!out) {
    Notify(2, "FeatureMapMove::ProjectionOutlierDetection: list for supported features NULL");
    return 0;
  }
  if (!image || !neighbour) {
    Notify(2, "FeatureMapMove::ProjectionOutlierDetection: image is Null");
    return 0;
  }
  CorrList list;
  generate_fcorr_list_with_3dfp(image.Get(), list, direction);
  Notify(5, "FeatureMapMove::ProjectionOutlierDetection: frame %ld, no. of 3D points %ld",
         long(image->GetImageIndex()), long(list.size()));
  image->CopyFrom(*neighbour, true);
  if (list.size() < 6) {
    Notify(2,
           "FeatureMapMove::ProjectionOutlierDetection: incremental bundle adjustment to "
           "increasing frame %d, no. of 3D points %d < 6",
           image->GetImageIndex(), int(list.size()));
    return 0;
  }

  Notify(4, "FeatureMapMove::ProjectionOutlierDetection: RANSAC projection matrix");
  auto calculator = SharedPtr<SampleCalculatorProjMatrix>::Make();
  calculator->SetInitCamera(*image);
  calculator->SetCurrentCamera(*image);
  RandSampling sampler;
  sampler.SetSampleCalculator(calculator);
  RandSampling::Parameter p;
  p.m_scoring = 1;
  p.m_ratio = 0.95;
  p.m_max_searchs = 1000;
  p.m_min_searchs = 900;
  p.m_threshold_mode = 1;
  p.m_sigma = 3.0 * m_max_std_dev;
  sampler.SetParameter(p);
  sampler.SetCurrentCamera(*image);
  // The calculator measures a link's later feature; walking backwards the image's own
  // feature is the earlier one, so the sampler gets reversed copies and its marks are
  // carried back.
  CorrList sampled;
  if (direction) {
    sampled = list;
  } else {
    for (const SharedPtr<FeatureCorrespondence>& c : list) {
      auto copy = SharedPtr<FeatureCorrespondence>::Make(c->GetSecond(), c->GetFirst());
      copy->SetFlags(c->GetFlags());
      sampled.push_back(copy);
    }
  }
  sampler.SetCorrespondences(sampled);
  sampler.Run(FCORR_SUPPORT_FREEMOVE);
  if (!direction) {
    for (size_t i = 0; i < list.size(); ++i) {
      const uint32_t mark = sampled[i]->GetFlags() & FCORR_SUPPORT_FREEMOVE;
      list[i]->SetFlags((list[i]->GetFlags() & ~uint32_t(FCORR_SUPPORT_FREEMOVE)) | mark);
    }
  }
  image->SetStatistic(4, sampler.m_num_supported);
  image->SetStatistic(5, sampler.m_num_unsupported);

  out->clear();
  // Spread of the inliers over a 4 x 4 grid, for the log only.
  int grid[4][4] = {};
  long counted = 0;
  const double width = image->GetWidth(), height = image->GetHeight();
  FeatureCorrespondenceIterator it(image.Get(), FCORR_SUPPORT_TRUE, direction);
  for (SharedPtr<FeatureCorrespondence> c = it.Next(); c; c = it.Next()) {
    ++counted;
    const SharedPtr<FeaturePoint2D>& own = OwnEnd(*c, direction);
    if (!own) continue;
    if (c->GetFlags() & FCORR_SUPPORT_FREEMOVE) {
      if (!HasValidPoint(*own)) continue;
      out->push_back(own);
      if (width > 0 && height > 0) {
        const double col = std::floor(own->x * 4.0 / width);
        const double row = std::floor(own->y * 4.0 / height);
        if (col >= 0 && col < 4 && row >= 0 && row < 4) ++grid[int(row)][int(col)];
      }
    } else {
      if (HasValidPoint(*own)) {
        c->SetFlags(c->GetFlags() & ~uint32_t(FCORR_SUPPORT_FREEMOVE | FCORR_SUPPORT_TRUE));
      }
      own->SetFPoint3D(nullptr);
    }
  }
  int reg_counter = 0;
  for (const auto& row : grid) {
    for (int n : row) reg_counter += n > 2;
  }
  Notify(5,
         "FeatureMapMove::ProjectionOutlierDetection: reg_counter=%d, subrec.size()=%d corrs %ld",
         reg_counter, int(out->size()), counted);
  return int(list.size());
}

bool FeatureMapMove::CameraResectioning(const SharedPtr<FeatureImage>& image,
                                        FeatureImage* neighbour, bool estimate_projective,
                                        bool direction) {
  if (!image) {
    Notify(4, "FeatureMapMove::CameraResectioning: image is Null");
    return false;
  }
  const int index = image->GetImageIndex();
  Notify(4, "FeatureMapMove::CameraResectioning: image %ld", long(index));
  if (neighbour) image->CopyFrom(*neighbour, true);
  CorrList list;
  generate_fcorr_list_with_3dfp(image.Get(), list, direction);
  if (list.size() < 6) {
    Notify(2,
           "FeatureMapMove::CameraResectioning: incremental bundle adjustment to increasing "
           "frame no. of 3D points %d < 6",
           int(list.size()));
    return false;
  }
  Notify(4, "FeatureMapMove::CameraResectioning: image %ld, RANSAC projection matrix", long(index));
  FeatureList features;
  const int m = ProjectionOutlierDetection(image, neighbour, &features, direction);
  Notify(4, "FeatureMapMove::CameraResectioning: begin resectioning for image %d, %s", index,
         direction ? "forward" : "reverse");
  Notify(5, "FeatureMapMove::CameraResectioning: resectioning uses %d 2D features of %d 3D FPs",
         int(features.size()), m);

  for (;;) {
    try {
      bool ok;
      if (estimate_projective) {
        CameraEstimatorPMatKnownFPoint3D estimator;
        ok = estimator.Optimize(image.Get(), features);
      } else {
        CameraEstimatorKnownFPoint3D estimator;
        const uint32_t mask = kCamPose;
        ok = estimator.Optimize(image.Get(), features, &mask);
      }
      if (ok) {
        Notify(4, "FeatureMapMove::CameraResectioning: resectioning of camera %d succeed", index);
      } else {
        Notify(2, "FeatureMapMove::CameraResectioning: resectioning of camera %d failed", index);
      }
    } catch (const char* message) {
      Notify(2,
             "FeatureMapMove::CameraResectioning: resectioning of camera %d failed with message "
             "\"%s\"",
             index, message);
    }
    if (!m_parameter.m_guided_resectioning) return true;

    Notify(4, "FeatureMapMove::CameraResectioning GUIDED RESECTIONING MATCHING");
    FeatureImage* prev = nullptr;
    for (const SharedPtr<FeatureImage>& candidate : m_fimage_list) {
      if (candidate && candidate->GetImageIndex() == index - 1) {
        prev = candidate.Get();
        break;
      }
    }
    if (!prev) return true;
    int ended = 0, started = 0, merged = 0;
    const double limit = m_parameter.m_guided_resectioning_dist;
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      if (!f || f->GetPredecessor() || f->GetFPoint3D()) continue;
      const bool first_started = started == 0;
      ++started;
      for (const SharedPtr<FeaturePoint2D>& g : prev->GetFPoints2D()) {
        if (!g || g->GetSuccessor() || !g->GetFPoint3D()) continue;
        if (first_started) ++ended;
        double x, y, depth;
        if (!image->ProjectPoint(*g->GetFPoint3D(), x, y, depth, true)) {
          continue;
        }
        if (std::hypot(x - f->x, y - f->y) >= limit) continue;
        f->SetFPoint3D(g->GetFPoint3D());
        auto link = SharedPtr<FeatureCorrespondence>::Make(g, f);
        link->SetFlags(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE);
        g->SetSuccessor(link);
        f->SetPredecessor(link);
        features.push_back(f);
        ++merged;
        break;
      }
    }
    Notify(4,
           "FeatureMapMove::CameraResectioning: guided resectioning: frame %ld, %d feature "
           "tracks ended, %d tracks started, %d tracks merged",
           long(index), ended, started, merged);
    if (merged == 0) return true;
  }
}

namespace {

// The log texts of one of the two resection entry points.
struct ResectionTexts {
  const char* no_image;
  const char* image;
  const char* no_neighbour;
  const char* images;
};

bool ResectFromNeighbour(FeatureMapMove& map, const FeatureMap::ImageList& list, int p,
                         bool estimate_projective, bool forward, const ResectionTexts& texts) {
  if (p < 0 || p >= int(list.size()) || !list[p]) {
    Notify(2, texts.no_image, p);
    return false;
  }
  const SharedPtr<FeatureImage>& image = list[p];
  Notify(5, texts.image, long(image->GetImageIndex()));
  const int q = forward ? p - 1 : p + 1;
  if (q < 0 || q >= int(list.size()) || !list[q]) {
    Notify(5, texts.no_neighbour, long(image->GetImageIndex()));
    return false;
  }
  Notify(5, texts.images, long(image->GetImageIndex()), long(list[q]->GetImageIndex()));
  return map.CameraResectioning(image, list[q].Get(), estimate_projective, forward);
}

}  // namespace

bool FeatureMapMove::ForwardCameraResectioning(int p, bool estimate_projective) {
  static const ResectionTexts kTexts = {
      "FeatureMapMove::ForwardCameraResectioning: no image at position %d",
      "FeatureMapMove::ForwardCameraResectioning: image %ld",
      "FeatureMapMove::ForwardCameraResectioning: try to access image before %ld",
      "FeatureMapMove::ForwardCameraResectioning: images %ld %ld"};
  return ResectFromNeighbour(*this, m_fimage_list, p, estimate_projective, true, kTexts);
}

bool FeatureMapMove::ReverseCameraResectioning(int p, bool estimate_projective) {
  static const ResectionTexts kTexts = {
      "FeatureMapMove::ReverseCameraResectioning: no image at position %d",
      "FeatureMapMove::ReverseCameraResectioning: image %ld",
      "FeatureMapMove::ReverseCameraResectioning: try to access image after %ld",
      "FeatureMapMove::ReverseCameraResectioning: images %ld %ld"};
  return ResectFromNeighbour(*this, m_fimage_list, p, estimate_projective, false, kTexts);
}

bool FeatureMapMove::BundleAdjust() {
  Notify(4, "FeatureMapMove::BundleAdjust: begin incremental bundle adjustment");
  std::vector<SharedPtr<FeatureImage>> w = m_incremental_list;
  const long s = long(w.size());
  long count = 0;
  bool skip = false;
  switch (m_parameter.m_ba_limit) {
    case eOnlyFinal:
    case eNever:
      skip = true;
      break;
    case eAdaptivLimit:
      if (s <= m_first_3d_index) {
        skip = true;
        break;
      }
      count = s - m_first_3d_index;
      if (count < 2) {
        skip = true;
        break;
      }
      {
        if (count < s) w.erase(w.begin(), w.end() - count);
        // floor(count * 0.1) equals count / 10 for every realistic count.
        const int skip_length = int(count / 10);
        Notify(5,
               "FeatureMapMove::BundleAdjust: eAdaptivLimit: tmp_incre_list.size=%ld, "
               "ba_size=%ld, skip_length=%d, adaptiv_skip_frames_counter=%d\n",
               long(w.size()), count, skip_length, adaptiv_skip_frames_counter);
        if (skip_length >= 1 && adaptiv_skip_frames_counter < skip_length) {
          ++adaptiv_skip_frames_counter;
          skip = true;
        } else {
          adaptiv_skip_frames_counter = 0;
        }
      }
      break;
    case eManualLimit:
      count = m_parameter.m_ba_window;
      break;
    case eMinimalLimit:
      count = LastLongestNewChain();
      if (count == 0) skip = true;
      break;
    default:  // eUnlimited: every image
      break;
  }
  if (skip) {
    Notify(4, "FeatureMapMove::BundleAdjust: incremental bundle adjust skipped");
    return true;
  }
  if (!m_bundle_adjuster) {
    Notify(2, "FeatureMapMove::BundleAdjust: no bundle adjuster chosen");
    return true;
  }
  try {
    if (m_bundle_adjuster->Run(w, unsigned(count < 0 ? 0 : count))) {
      Notify(4, "FeatureMapMove::BundleAdjust: incremental bundle adjust succeeded");
    } else {
      Notify(4, "FeatureMapMove::BundleAdjust: incremental bundle adjust failed");
    }
  } catch (unsigned iteration) {
    Notify(4, "FeatureMapMove::BundleAdjust: stopped bundle adjust at iteration %d",
           int(iteration));
    Notify(4, "FeatureMapMove::BundleAdjust: incremental bundle adjust failed");
  } catch (int iteration) {
    Notify(4, "FeatureMapMove::BundleAdjust: stopped bundle adjust at iteration %d", iteration);
    Notify(4, "FeatureMapMove::BundleAdjust: incremental bundle adjust failed");
  }
  return true;
}

void FeatureMapMove::LimitNumFPoint3D(const std::vector<SharedPtr<FeatureImage>>&, int n) {
  const unsigned c = CountValidFPoint3D();
  if (c <= 5000) {
    Notify(5, "FeatureMapMove::LimitNumFPoint3D: no. 3D points already %d", int(c));
    return;
  }
  PointList subset;
  SelectFPoint3DSubset(m_fimage_list, m_fpoint3d_list, subset, n);
  for (const SharedPtr<FeaturePoint3D>& point : subset) {
    if (point) point->SetFlags(FP3D_FLAG_TEMP_MARK);
  }
  // Protected points are the user's: never thinned out.
  for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) {
    if (point && !(point->GetFlags() & (FP3D_FLAG_TEMP_MARK | FP3D_FLAG_PROTECTED))) {
      point->SetFlags(FP3D_FLAG_REMOVED);
    }
  }
  for (const SharedPtr<FeaturePoint3D>& point : subset) {
    if (point) point->ClearFlags(FP3D_FLAG_TEMP_MARK);
  }
}
