#include "features/optical_flow_correlator.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "features/affine_feature_attribute.h"
#include "features/feature_image.h"
#include "features/tracking_masks.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "image/take_time.h"
#include "platform/console.h"

namespace {

int ThreadCount() {
  const int n = WorkerPool::GetNumberOfThreads();
  return n < 1 ? 1 : n;
}

}  // namespace

// ---- Set-up

FeatureCorrelatorOpticalFlow::FeatureCorrelatorOpticalFlow() {
  SetupTracker(1);
  InitCornerDetectors(1);
  border_x_ = border_y_ = 20;
  Init();
  Notify(5, "FeatureCorrelatorOpticalFlow::FeatureCorrelatorOpticalFlow: allocate shared buffers");
  for (int b = 0; b < 2; ++b) {
    intensity_[b] = SharedPtr<ImagePyramid>::Make();
    gradient_x_[b] = SharedPtr<ImagePyramid>::Make();
    gradient_y_[b] = SharedPtr<ImagePyramid>::Make();
  }
  to_track_.reserve(1024);
}

FeatureCorrelatorOpticalFlow::~FeatureCorrelatorOpticalFlow() = default;

void FeatureCorrelatorOpticalFlow::Reset() {
  FeatureCorrelator::Reset();
  for (auto& tracker : trackers_) tracker->Items().clear();
  parameter_.m_eigenvalue_threshold = parameter_.m_min_eigenvalue;
  step_ = 0;
  selected_count_ = 0;
  lost_count_ = 0;
  lost_spots_.clear();
}

SharedPtr<FeatureCorrelator> FeatureCorrelatorOpticalFlow::Clone() {
  Notify(2, "FeatureCorrelatorOpticalFlow::Clone: this method has side effects: dont use");
  platform::ConsolePrintf(stderr,
                          "simultaneous use of shared and non-shared pointer is not possible\n");
  return SharedPtr<FeatureCorrelator>();
}

int32_t FeatureCorrelatorOpticalFlow::GetCorrespondenceCount() const {
  return static_cast<int32_t>(GetCorrespondences().size());
}

double FeatureCorrelatorOpticalFlow::GetLostRatio() const {
  const double lost = lost_count_;
  const double sum = lost + static_cast<double>(GetCorrespondences().size());
  return sum == 0.0 ? 0.0 : lost / sum;
}

void FeatureCorrelatorOpticalFlow::SetParameter(const Parameter& parameter) {
  parameter_ = parameter;
  parameter_.Check();
  Init();
}

void FeatureCorrelatorOpticalFlow::Init() {
  Reset();
  Parameter& p = parameter_;
  if (p.m_window_width % 2 == 0) {
    ++p.m_window_width;
    Notify(2, "FeatureCorrelatorOpticalFlow::Init: Window width must be odd, changing to %d",
           static_cast<int>(p.m_window_width));
  }
  if (p.m_window_height % 2 == 0) {
    ++p.m_window_height;
    Notify(2, "FeatureCorrelatorOpticalFlow::Init: Window height must be odd, changing to %d",
           static_cast<int>(p.m_window_height));
  }
  if (p.m_window_width < 3) {
    p.m_window_width = 3;
    Notify(2,
           "FeatureCorrelatorOpticalFlow::Init: Window width must be at least three, changing to "
           "%d",
           static_cast<int>(p.m_window_width));
  }
  if (p.m_window_height < 3) {
    p.m_window_height = 3;
    Notify(2,
           "FeatureCorrelatorOpticalFlow::Init: Window height must be at least three, changing to "
           "%d",
           static_cast<int>(p.m_window_height));
  }
  smoothing_kernel_.SetSigma(p.m_smoothing_sigma);
  gradient_kernel_.SetFilter(FilterKernel::kDerivative, 0.8f);
  OpticalFlowPyramidDepth(p.m_search_range, p.m_window_width, p.m_window_height, &levels_,
                          &subsampling_);
  Notify(5,
         " FeatureCorrelatorOpticalFlow::Init: search range %d, no. of pyramid levels %d, "
         "subsampling %d",
         static_cast<int>(p.m_search_range), static_cast<int>(levels_),
         static_cast<int>(subsampling_));
  border_x_ = border_y_ = OpticalFlowBorder(static_cast<uint32_t>(smoothing_kernel_.Size()),
                                            static_cast<uint32_t>(gradient_kernel_.Size()), levels_,
                                            subsampling_, p.m_window_width, p.m_window_height);
  Notify(5, "FeatureCorrelatorOpticalFlow::Init: image border x: %d, y: %d", border_x_, border_y_);
}

void FeatureCorrelatorOpticalFlow::SetupTracker(int n) {
  if (n < 1) n = 1;
  if (static_cast<size_t>(n) == trackers_.size()) return;
  trackers_.resize(static_cast<size_t>(n));
  for (auto& tracker : trackers_)
    if (!tracker) tracker = std::make_unique<Tracker>();
  Notify(5, "FeatureCorrelatorOpticalFlow::SetupTracker:  %d trackers", n);
}

void FeatureCorrelatorOpticalFlow::InitCornerDetectors(int n) {
  if (n < 1) n = 1;
  if (static_cast<size_t>(n) == detectors_.size()) return;
  detectors_.resize(static_cast<size_t>(n));
  for (auto& detector : detectors_)
    if (!detector) detector = std::make_unique<CornerDetector>();
  Notify(5, "FeatureCorrelatorOpticalFlow::InitCornerDetectors:  %d detectors", n);
}

void FeatureCorrelatorOpticalFlow::RunJobs(const std::vector<js::Job*>& jobs) {
  SharedWorkBuffer* buffer = GetSharedBuffer().Get();
  if (buffer == nullptr || buffer->capacity < 1) {
    for (js::Job* job : jobs) job->Run();
    return;
  }
  auto flush = [&] {
    const int count = buffer->count;
    buffer->count = 0;
    WorkerPool::ParallelFor(nullptr, buffer->jobs, sizeof(js::Job*), count, RunJobItem, false);
  };
  try {
    for (js::Job* job : jobs) {
      if (buffer->count >= buffer->capacity) flush();
      buffer->jobs[buffer->count++] = job;
    }
    flush();
  } catch (...) {
    buffer->count = 0;
    throw;
  }
}

// ---- Pyramids

bool FeatureCorrelatorOpticalFlow::ComputePyramid(FeatureImage* image, int b) {
  if (b < 0 || b > 1) {
    Notify(2, "FeatureCorrelatorOpticalFlow::ComputePyramid: bad index of pyramid buffer %d !", b);
    return false;
  }
  if (image == nullptr) return false;
  const std::string name = image->GetFileName();
  Notify(5,
         "FeatureCorrelatorOpticalFlow::ComputePyramid: image index %d, (\"%s\"), pyramid index "
         "%d, levels %d, subsample %d, grad kernel size %d, kernel size %d",
         image->GetImageIndex(), name.c_str(), b, static_cast<int>(levels_),
         static_cast<int>(subsampling_), static_cast<int>(gradient_kernel_.Size()),
         static_cast<int>(smoothing_kernel_.Size()));
  CPicture<uint8_t>* lum = image->GetLumPicture();
  if (lum == nullptr) return false;
  ImagePyramid& intensity = *intensity_[b];
  try {
    ComputeTrackerPyramids(lum->GetBand(0), levels_, subsampling_, smoothing_kernel_,
                           gradient_kernel_, &intensity, gradient_x_[b].Get(),
                           gradient_y_[b].Get());
  } catch (...) {
    image->ReleaseLumPicture();
    intensity.SetImageIndex(-1);
    throw;
  }
  image->ReleaseLumPicture();
  if (!name.empty()) intensity.SetName(name);
  intensity.SetImageIndex(image->GetImageIndex());
  return true;
}

TrackerPyramids FeatureCorrelatorOpticalFlow::Views(int b) const {
  return TrackerPyramidViews(*intensity_[b], *gradient_x_[b], *gradient_y_[b]);
}

// ---- Good features

void FeatureCorrelatorOpticalFlow::MarkMinDistance(int32_t x, int32_t y) {
  ::MarkMinDistance(mask_.Plane(0), x, y, parameter_.m_min_dist);
}

bool FeatureCorrelatorOpticalFlow::SetupCornerDetectors(int b) {
  if (b < 0 || b > 1) {
    Notify(1, "FeatureCorrelatorOpticalFlow::SetupCornerDetectors: bad pyramid index %d", b);
    return false;
  }
  FeatureImage* image = b == 0 ? GetFirstImage() : GetSecondImage();
  if (image == nullptr) {
    Notify(2,
           "FeatureCorrelatorOpticalFlow::SetupCornerDetectors: feature image of pyramid %d not "
           "set.",
           b);
    return false;
  }
  const int32_t width = static_cast<int32_t>(image->GetWidth());
  const int32_t height = static_cast<int32_t>(image->GetHeight());
  if (width == 0 || height == 0) {
    Notify(2, "FeatureCorrelatorOpticalFlow::SetupCornerDetectors: bad image size (%dx%d)", width,
           height);
    return false;
  }
  const int64_t t = static_cast<int64_t>(detectors_.size());
  for (int64_t k = 0; k < t; ++k) {
    detectors_[k]->SetData(&parameter_, &border_x_, &border_y_, mask_.Plane(0),
                           gradient_x_[b]->GetCPicture(0)->Plane(0),
                           gradient_y_[b]->GetCPicture(0)->Plane(0));
    detectors_[k]->SetBand(0, width, static_cast<int32_t>(k * height / t),
                           static_cast<int32_t>((k + 1) * height / t) - 1);
  }
  return true;
}

int FeatureCorrelatorOpticalFlow::SelectGoodFeatures(int b, bool replace) {
  if (b < 0 || b > 1) {
    Notify(2, "FeatureCorrelatorOpticalFlow::SelectGoodFeatures: bad pyramid index %d", b);
    return 0;
  }
  const Array<float, 1>* level = intensity_[b]->GetCPicture(0);
  if (level == nullptr) return 0;
  if (level->Data() == nullptr && (level->Width() != 0 && level->Height() != 0)) {
    Notify(2, "FeatureCorrelatorOpticalFlow::SelectGoodFeatures: image 0 of pyramid %d not set", b);
    return 0;
  }
  if (level->Width() == 0 || level->Height() == 0) {
    Notify(2, "FeatureCorrelatorOpticalFlow::SelectGoodFeatures: image with zero size (%dx%d)",
           static_cast<int>(level->Width()), static_cast<int>(level->Height()));
    return 0;
  }
  FeatureImage* image = b == 0 ? GetFirstImage() : GetSecondImage();
  if (image == nullptr) {
    Notify(2,
           "FeatureCorrelatorOpticalFlow::SetupCornerDetectors: feature image of pyramid %d not "
           "set.",
           b);
    return 0;
  }
  mask_.Resize(level->Width(), level->Height());
  const ArrayMap<bool>& mask = mask_.Plane(0);
  for (uint32_t y = 0; y < mask.height; ++y)
    std::fill(mask.data + static_cast<size_t>(y) * mask.stride,
              mask.data + static_cast<size_t>(y) * mask.stride + mask.width, false);

  const int32_t frame = image->GetImageIndex();
  if (const TrackingMaskList* masks = GetTrackingMasks(image->GetCTrackMgr())) {
    std::vector<std::pair<double, double>> polygon;
    for (int pass = 0; pass < 2; ++pass)
      for (int m = 0; m < masks->GetMaskCount(); ++m) {
        const int property = masks->GetMaskProperty(m);
        const bool wanted = pass == 0 ? (property == TrackingMaskList::kExclude ||
                                         property == TrackingMaskList::kExcludeDetection)
                                      : property == TrackingMaskList::kInclude;
        if (!wanted || !masks->IsMaskActiveAt(m, frame)) continue;
        polygon.clear();
        masks->GetMaskPolygon(m, frame, &polygon);
        FillPolygonMask(polygon, mask, pass == 0, false);
      }
  }
  if (!replace) {
    for (const auto& feature : image->GetFPoints2D())
      MarkMinDistance(static_cast<int32_t>(feature->x + 0.5),
                      static_cast<int32_t>(feature->y + 0.5));
    // A spot whose feature was just lost would give the same untrackable corner again.
    const int32_t half =
        static_cast<int32_t>(std::max(parameter_.m_window_width, parameter_.m_window_height) / 2);
    for (const auto& [x, y] : lost_spots_) ::MarkMinDistance(mask, x, y, half);
  }

  // Detectors that were not given this image's data must not run.
  if (!SetupCornerDetectors(b)) return 0;
  std::vector<js::Job*> jobs;
  for (auto& detector : detectors_) jobs.push_back(detector.get());
  RunJobs(jobs);

  const double variance = 65025.0 / std::pow(10.0, parameter_.m_psnr / 10.0);
  Notify(5, "FeatureCorrelatorOpticalFlow::SelectGoodFeatures: PSNR %g dB, intensity var %g",
         parameter_.m_psnr, variance);
  if (replace) image->ClearManualOrAutoFPoints2D(false);

  int64_t marked = 0;
  for (const auto& feature : image->GetFPoints2D())
    if (feature->TestFlags(FP2D_FLAG_QUOTA)) ++marked;
  int64_t quota = static_cast<int64_t>(static_cast<float>(parameter_.m_corner_count) *
                                           parameter_.m_corner_count_factor -
                                       static_cast<float>(marked));

  // Best-first merge of the bands' sorted lists; on equal scores the upper band wins.
  std::vector<size_t> heads(detectors_.size(), 0);
  size_t total = 0;
  for (auto& detector : detectors_) total += detector->Candidates().size();
  bool accepted = false;
  float last_score = 0.0f;
  for (size_t n = 0; n < total; ++n) {
    size_t best = 0;
    for (size_t k = 1; k < detectors_.size(); ++k)
      if (detectors_[k]->Scores()[heads[k]].first > detectors_[best]->Scores()[heads[best]].first)
        best = k;
    const CornerDetector& detector = *detectors_[best];
    const CornerDetector::ScoredIndex pick = detector.Scores()[heads[best]++];
    if (pick.first < 0.0f) break;  // every list is at its sentinel
    const CornerCandidate& c = detector.Candidates()[static_cast<size_t>(pick.second)];
    if (mask.data[c.x + static_cast<size_t>(c.y) * mask.stride]) continue;
    MarkMinDistance(c.x, c.y);
    SharedPtr<FeaturePoint2D> feature = SharedPtr<FeaturePoint2D>::Make(image, c.x, c.y);
    feature->SetFlags(FP2D_FLAG_NEW_TRACK);
    if (quota > 0) {
      feature->SetFlags(FP2D_FLAG_QUOTA);
      --quota;
    } else {
      feature->ClearFlags(FP2D_FLAG_QUOTA);
    }
    if (!parameter_.m_set_covariance) {
      feature->ClearFlags(FP2D_FLAG_COVARIANCE);
    } else if (parameter_.m_covariance_value > 0.0f) {
      const float v = parameter_.m_covariance_value;
      feature->SetCoVariance(v, 0.0f, v);
    } else {
      const double d = static_cast<double>(c.gxx) * c.gyy - static_cast<double>(c.gxy) * c.gxy;
      if (d != 0.0) {
        const double s = 2.0 * variance / d;
        feature->SetCoVariance(static_cast<float>(s * c.gyy), static_cast<float>(-s * c.gxy),
                               static_cast<float>(s * c.gxx));
      }
    }
    if (parameter_.m_subpixel) {
      const float d = c.gyy * c.gxx - c.gxy * c.gxy;
      if (d != 0.0f) {
        const float v = c.sy1 + c.sx1, w = c.sy2 + c.sx2;
        feature->x = (c.gyy * v - c.gxy * w) / d;
        feature->y = (c.gxx * w - c.gxy * v) / d;
      }
    }
    accepted = true;
    last_score = pick.first;
    image->AddFPoint2D(feature);
    if (image->GetFPoints2D().size() >= parameter_.m_corner_count) break;
  }
  if (accepted && last_score > 0.0f)
    parameter_.m_eigenvalue_threshold =
        std::max(parameter_.m_min_eigenvalue, parameter_.m_threshold_factor * last_score);
  else
    parameter_.m_eigenvalue_threshold = parameter_.m_min_eigenvalue;
  selected_count_ = static_cast<uint32_t>(image->GetFPoints2D().size());
  return static_cast<int>(selected_count_);
}

// ---- Frame driver

int32_t FeatureCorrelatorOpticalFlow::Compute() {
  TakeTimeStart();
  if (GetFlags() & kModeTagged) return TrackTaggedFeatures();
  TrackFeatures();
  FindNewFeatures();
  return static_cast<int32_t>(GetCorrespondences().size());
}

void FeatureCorrelatorOpticalFlow::SwapPyramidBuffers() {
  std::swap(intensity_[0], intensity_[1]);
  std::swap(gradient_x_[0], gradient_x_[1]);
  std::swap(gradient_y_[0], gradient_y_[1]);
}

bool FeatureCorrelatorOpticalFlow::PreparePyramids(bool tagged) {
  FeatureImage* first = GetFirstImage();
  FeatureImage* second = GetSecondImage();
  const int previous = step_++;
  if (previous == 0) {
    if (!tagged && GetSharedBuffer()) InitCornerDetectors(ThreadCount());
    if (!ComputePyramid(first, 0)) return false;
    if (!tagged) {
      Notify(5,
             "FeatureCorrelatorOpticalFlow::TrackFeatures: tracker started with first and "
             "second frame");
      SelectGoodFeatures(0, first->GetFPoints2D().empty());
    }
  } else if (tagged || intensity_[1]->GetImageIndex() == first->GetImageIndex()) {
    SwapPyramidBuffers();
  }
  // Never track from another frame's pyramid.
  if (intensity_[0]->GetImageIndex() != first->GetImageIndex() && !ComputePyramid(first, 0))
    return false;
  if (!ComputePyramid(second, 1)) return false;
  if (intensity_[0]->GetImageIndex() != first->GetImageIndex() ||
      intensity_[1]->GetImageIndex() != second->GetImageIndex()) {
    const long p0 = intensity_[0]->GetImageIndex(), i0 = first->GetImageIndex();
    const long p1 = intensity_[1]->GetImageIndex(), i1 = second->GetImageIndex();
    if (tagged)
      Notify(2,
             "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: pyramid and image index mismatch "
             "%ld (%ld) or %ld (%ld)",
             p0, i0, p1, i1);
    else
      Notify(2,
             "FeatureCorrelatorOpticalFlow::TrackFeatures: pyramid and (image) index mismatch %ld "
             "(%ld) or %ld (%ld)",
             p0, i0, p1, i1);
  }
  if (!intensity_[0]->HasSameSize(*intensity_[1])) {
    if (tagged)
      Notify(2, "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: have different sizes");
    else
      Notify(2, "FeatureCorrelatorOpticalFlow::TrackFeatures: image size mismatch");
    return false;
  }
  for (auto& tracker : trackers_) tracker->Items().clear();
  if (GetSharedBuffer()) SetupTracker(ThreadCount());
  return true;
}

int FeatureCorrelatorOpticalFlow::RunTrackers() {
  // Deal the to-track list out in consecutive runs, in list order.
  const size_t n = to_track_.size(), t = trackers_.size();
  const size_t q = n / t;
  size_t next = 0;
  for (size_t k = 0; k < t; ++k) {
    const size_t remaining = n - next;
    const size_t take =
        k == 0 ? std::min(q, remaining) : (k + 1 == t ? remaining : std::min(q + 1, remaining));
    for (size_t i = 0; i < take; ++i, ++next) {
      const FeaturePoint2D& feature = *to_track_[next];
      TrackItem item;
      item.x = static_cast<float>(feature.x);
      item.y = static_cast<float>(feature.y);
      item.status = kTrackTrackable;
      item.attribute =
          parameter_.m_consistency_check != 0 ? GetAffineFeatureAttribute(feature) : nullptr;
      trackers_[k]->Items().push_back(item);
    }
  }
  const TrackerPyramids first = Views(0), second = Views(1);
  std::vector<js::Job*> jobs;
  for (auto& tracker : trackers_) {
    tracker->Setup(first, second, parameter_, subsampling_, levels_);
    jobs.push_back(tracker.get());
  }
  // Without the pool every tracker runs here, so no dealt-out feature is dropped.
  RunJobs(jobs);
  int tracked = 0;
  for (auto& tracker : trackers_) tracked += tracker->TrackedCount();
  return tracked;
}

namespace {

// Links old to new (tracking forward) or new to old (reverse): the earlier end is
// always the one of the lower frame index.
SharedPtr<FeatureCorrespondence> Link(const SharedPtr<FeaturePoint2D>& old_feature,
                                      const SharedPtr<FeaturePoint2D>& new_feature, bool reverse) {
  SharedPtr<FeatureCorrespondence> link = SharedPtr<FeatureCorrespondence>::Make();
  link->SetScore(1.0f);
  link->SetFlags(link->GetFlags() | FCORR_SUPPORT_TRUE);
  if (!reverse) {
    link->SetFirst(old_feature);
    link->SetSecond(new_feature);
    old_feature->SetSuccessor(link);
    new_feature->SetPredecessor(link);
  } else {
    link->SetFirst(new_feature);
    link->SetSecond(old_feature);
    old_feature->SetPredecessor(link);
    new_feature->SetSuccessor(link);
  }
  return link;
}

SharedPtr<FeaturePoint2D> Successor(FeatureImage* image, const FeaturePoint2D& old_feature,
                                    const TrackItem& item) {
  SharedPtr<FeaturePoint2D> feature = SharedPtr<FeaturePoint2D>::Make(image, item.x, item.y);
  if (old_feature.TestFlags(FP2D_FLAG_COVARIANCE)) {
    const float* c = old_feature.GetCoVariance();
    feature->SetCoVariance(c[0], c[1], c[2]);
  }
  if (old_feature.TestFlags(FP2D_FLAG_QUOTA))
    feature->SetFlags(FP2D_FLAG_QUOTA);
  else
    feature->ClearFlags(FP2D_FLAG_QUOTA);
  return feature;
}

}  // namespace

void FeatureCorrelatorOpticalFlow::NoteLostSpot(double x, double y) {
  lost_spots_.emplace_back(static_cast<int32_t>(x + 0.5), static_cast<int32_t>(y + 0.5));
}

int FeatureCorrelatorOpticalFlow::TrackFeatures() {
  lost_count_ = 0;
  lost_spots_.clear();
  FeatureImage* first = GetFirstImage();
  FeatureImage* second = GetSecondImage();
  if (first == nullptr || second == nullptr) {
    Notify(2, "FeatureCorrelatorOpticalFlow::TrackFeatures: no images set !");
    return 0;
  }
  auto& correspondences = correspondences_;
  correspondences.clear();
  const bool reverse = (GetFlags() & kModeReverse) != 0;
  Notify(5,
         "FeatureCorrelatorOpticalFlow::TrackFeatures: images %d, %d, current step=%d, "
         "direction=%s",
         first->GetImageIndex(), second->GetImageIndex(), step_, reverse ? "reverse" : "forward");
  if (!PreparePyramids(false)) return 0;

  to_track_.clear();
  for (const auto& feature : first->GetFPoints2D())
    if (!feature->TestFlags(FP2D_FLAG_MANUAL)) to_track_.push_back(feature);
  const int n = static_cast<int>(to_track_.size());
  Notify(5,
         "FeatureCorrelatorOpticalFlow::TrackFeatures: %d features to track from pyramid \"%s\" "
         "to  \"%s\"",
         n, intensity_[0]->GetName().c_str(), intensity_[1]->GetName().c_str());
  const int tracked = RunTrackers();
  lost_count_ += static_cast<uint32_t>(n - tracked);
  second->ClearManualOrAutoFPoints2D(false);

  const int32_t second_frame = second->GetImageIndex();
  TakeTrackedFeatures(
      second, reverse, false,
      [&](const SharedPtr<FeaturePoint2D>& old_feature, const SharedPtr<FeaturePoint2D>& feature) {
        if (parameter_.m_consistency_check == 0) return;
        if (GetAffineFeatureAttribute(*old_feature) == nullptr)
          AddAffineFeatureAttribute(old_feature.Get());
        feature->SetAttribute(old_feature->GetAttribute());
        if (AffineFeatureAttribute* attribute = GetAffineFeatureAttribute(*feature)) {
          attribute->current_frame = second_frame;
          attribute->TakeSnapshot();
        }
      });
  Notify(4,
         "FeatureCorrelatorOpticalFlow::TrackFeatures: found %d corrs. (%d  fp of img no. %d, %d  "
         "fp of img no. %d, %d fp lost)",
         static_cast<int>(correspondences.size()), n, first->GetImageIndex(),
         static_cast<int>(second->GetFPoints2D().size()), second_frame,
         static_cast<int>(lost_count_));
  to_track_.clear();
  return tracked;
}

int FeatureCorrelatorOpticalFlow::TrackTaggedFeatures() {
  FeatureImage* first = GetFirstImage();
  FeatureImage* second = GetSecondImage();
  if (first == nullptr || second == nullptr) {
    Notify(2, "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: no images set !");
    return 0;
  }
  const bool reverse = (GetFlags() & kModeReverse) != 0;
  Notify(5, "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: current step=%d, direction=%s",
         step_, reverse ? "reverse" : "forward");
  if (!PreparePyramids(true)) return 0;

  to_track_.clear();
  for (const auto* list : {&first->GetFPoints2D(), &first->GetAnchors()})
    for (const auto& feature : *list)
      if (feature->TestFlags(FP2D_FLAG_TO_TRACK)) {
        // The re-tracked track replaces the old continuation.
        if (reverse)
          feature->SetPredecessor(SharedPtr<FeatureCorrespondence>());
        else
          feature->SetSuccessor(SharedPtr<FeatureCorrespondence>());
        to_track_.push_back(feature);
      }
  if (to_track_.empty()) {
    Notify(5,
           "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: nothing to track between image %d "
           "and %d",
           first->GetImageIndex(), second->GetImageIndex());
    return 0;
  }
  Notify(5,
         "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: %d of %d features to track from "
         "pyramid \"%s\" to  \"%s\"",
         static_cast<int>(to_track_.size()), static_cast<int>(first->GetFPoints2D().size()),
         intensity_[0]->GetName().c_str(), intensity_[1]->GetName().c_str());
  const int tracked = RunTrackers();

  TakeTrackedFeatures(
      second, reverse, true,
      [](const SharedPtr<FeaturePoint2D>& old_feature, const SharedPtr<FeaturePoint2D>& feature) {
        feature->SetAttribute(old_feature->GetAttribute());
        feature->SetFlags(old_feature->GetFlags());
        old_feature->ClearFlags(FP2D_FLAG_TO_TRACK);
      });
  to_track_.clear();
  return tracked;
}

void FeatureCorrelatorOpticalFlow::TakeTrackedFeatures(
    FeatureImage* second, bool reverse, bool tagged,
    const std::function<void(const SharedPtr<FeaturePoint2D>&, const SharedPtr<FeaturePoint2D>&)>&
        on_tracked) {
  const int32_t second_frame = second->GetImageIndex();
  const TrackingMaskList* masks = GetTrackingMasks(second->GetCTrackMgr());
  size_t next = 0;
  for (auto& tracker : trackers_) {
    for (const TrackItem& item : tracker->Items()) {
      if (next >= to_track_.size()) {
        if (tagged) {
          Notify(2,
                 "FeatureCorrelatorOpticalFlow::TrackTaggedFeatures: tracker features > features "
                 "of first image");
        } else {
          Notify(2,
                 "FeatureCorrelatorOpticalFlow::TrackFeatures: tracker features > features of "
                 "to track list");
        }
        return;
      }
      const SharedPtr<FeaturePoint2D>& old_feature = to_track_[next++];
      if (item.status != 0.0f) {
        if (!tagged) NoteLostSpot(old_feature->x, old_feature->y);
        continue;
      }
      if (IsMasked(masks, second_frame, item.x, item.y)) continue;
      SharedPtr<FeaturePoint2D> feature = Successor(second, *old_feature, item);
      second->AddFPoint2D(feature);
      correspondences_.push_back(Link(old_feature, feature, reverse));
      on_tracked(old_feature, feature);
    }
  }
}

bool FeatureCorrelatorOpticalFlow::IsMaskedForTracking(FeatureImage* image, double x, double y) {
  if (image == nullptr) return false;
  return IsMasked(GetTrackingMasks(image->GetCTrackMgr()), image->GetImageIndex(), x, y);
}

bool FeatureCorrelatorOpticalFlow::IsMasked(const TrackingMaskList* masks, int32_t frame, double x,
                                            double y) {
  if (masks == nullptr) return false;
  bool masked = false;
  for (int m = 0; m < masks->GetMaskCount(); ++m) {
    const int property = masks->GetMaskProperty(m);
    if (property == TrackingMaskList::kExcludeDetection) continue;
    if (!masks->IsMaskActiveAt(m, frame) || !masks->IsInsideMask(m, x, y, frame)) continue;
    if (property == TrackingMaskList::kInclude) return false;
    if (property == TrackingMaskList::kExclude) masked = true;
  }
  return masked;
}

bool FeatureCorrelatorOpticalFlow::NeedsNewFeatures() {
  FeatureImage* second = GetSecondImage();
  const uint32_t c = selected_count_;
  const uint32_t m = second ? static_cast<uint32_t>(second->GetFPoints2D().size()) : 0;
  if (m > c) {
    Notify(3,
           "FeatureCorrelatorOpticalFlow::NeedsNewFeatures: second image has more features than "
           "detected before (%d > %d)",
           static_cast<int>(m), static_cast<int>(c));
    return true;
  }
  return static_cast<float>(c - m) > static_cast<float>(c) * parameter_.m_lost_ratio;
}

int FeatureCorrelatorOpticalFlow::FindNewFeatures() {
  FeatureImage* second = GetSecondImage();
  if (second == nullptr) return 0;
  if (NeedsNewFeatures()) {
    Notify(4,
           "FeatureCorrelatorOpticalFlow::FindNewFeatures: corner count %d, lost features %d (more "
           "than %g,attempting find new features",
           static_cast<int>(selected_count_), static_cast<int>(lost_count_),
           static_cast<double>(parameter_.m_lost_ratio));
    if (GetSharedBuffer()) InitCornerDetectors(ThreadCount());
    SelectGoodFeatures(1, false);
  }
  return static_cast<int>(second->GetFPoints2D().size());
}

bool FeatureCorrelatorOpticalFlow::AddAffineFeatureAttribute(FeaturePoint2D* feature) {
  const int32_t side = parameter_.m_affine_window_size + 2;
  if (feature == nullptr || side < 1) return false;
  FeatureImage* image = feature->GetImage();
  if (image == nullptr) {
    Notify(2,
           "FeatureCorrelatorOpticalFlow::AddAffineFeatureAttribute: feature image of feature "
           "point not set");
    return false;
  }
  const int32_t frame = image->GetImageIndex();
  const int b = intensity_[0]->GetImageIndex() == frame ? 0 : 1;
  if (intensity_[b]->GetImageIndex() != frame) {
    Notify(2,
           "FeatureCorrelatorOpticalFlow::AddAffineFeatureAttribute: could not get corresponding "
           "pyramid, index missmatch");
    return false;
  }
  const ArrayMap<float>& in = intensity_[b]->GetCPicture(0)->Plane(0);
  const ArrayMap<float>& gx = gradient_x_[b]->GetCPicture(0)->Plane(0);
  const ArrayMap<float>& gy = gradient_y_[b]->GetCPicture(0)->Plane(0);
  const int64_t h = side / 2;
  const int64_t cx = static_cast<int64_t>(feature->x), cy = static_cast<int64_t>(feature->y);
  // A window reaching outside the image gets no attribute; the feature is tracked
  // without the check.
  if (!(std::fabs(feature->x) < 1e9 && std::fabs(feature->y) < 1e9) || cx - h < 0 || cy - h < 0 ||
      cx + h >= static_cast<int64_t>(in.width) || cy + h >= static_cast<int64_t>(in.height)) {
    Notify(5,
           "FeatureCorrelatorOpticalFlow::AddAffineFeatureAttribute: window at (%g, %g) outside "
           "the image",
           feature->x, feature->y);
    return false;
  }
  SharedPtr<AffineFeatureAttribute> attribute =
      SharedPtr<AffineFeatureAttribute>::Make(static_cast<uint32_t>(side));
  attribute->reference_x = attribute->reference_y = (side + 2) / 2;
  const ArrayMap<float> bands[3] = {attribute->window.GetBand(0), attribute->window.GetBand(1),
                                    attribute->window.GetBand(2)};
  const ArrayMap<float>* sources[3] = {&in, &gx, &gy};
  for (int k = 0; k < 3; ++k)
    for (int64_t j = -h; j <= h; ++j)
      for (int64_t i = -h; i <= h; ++i)
        bands[k].data[(i + h) + (j + h) * bands[k].stride] =
            sources[k]->data[(cx + i) + (cy + j) * sources[k]->stride];
  attribute->window_frame = frame;
  feature->SetAttribute(attribute);
  return true;
}

int FeatureCorrelatorOpticalFlow::PreviewFeatures(FeatureImage* image) {
  if (image == nullptr) return 0;
  image->ClearManualOrAutoFPoints2D(false);
  Init();
  SetFeatureImages(image, image);
  if (GetSharedBuffer()) InitCornerDetectors(ThreadCount());
  if (ComputePyramid(image, 0)) SelectGoodFeatures(0, true);
  return static_cast<int>(image->GetFPoints2D().size());
}
