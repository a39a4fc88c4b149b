#include "features/feature_correlator_hbm.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "image/image_cache.h"
#include "image/take_time.h"

namespace {

constexpr int kBlockSize = 8;
constexpr int kIterations = 15;
constexpr int kQuarterCandidates = 3;
constexpr int kWideHalfRange = 4;

void ScalePosition(BlockMatchPosition& p, double s) {
  p.source_x *= s;
  p.source_y *= s;
  p.target_x *= s;
  p.target_y *= s;
}

int MatchOnLevel(BlockMatchPosition& p, const HBMLevelImages::Level& l, int range, int iterations) {
  return MatchBlockSAD(p, l.source, l.target, l.stride, l.width, l.height, kBlockSize, kBlockSize,
                       range, range, iterations);
}

}  // namespace

void TrackFeatureJob(void* /*context*/, void* item) {
  TrackFeatureItem& it = *static_cast<TrackFeatureItem*>(item);
  const HBMLevelImages& im = *it.images;
  const BlockMatchPosition start = it.position;
  BlockMatchPosition& p = it.position;
  auto half_and_full = [&](int half_range) {
    ScalePosition(p, 0.5);
    it.result = MatchOnLevel(p, im.level[1], half_range, 0);
    ScalePosition(p, 2.0);
    if (it.result < 0) return;
    it.result = MatchOnLevel(p, im.level[0], 2, kIterations);
  };
  BlockMatchPosition quarter = start;
  ScalePosition(quarter, 0.25);
  const HBMLevelImages::Level& l2 = im.level[2];
  BlockMatchCandidate candidates[kQuarterCandidates];
  auto search_quarter = [&](int count) {
    return SearchBlockCandidates(quarter, l2.source, l2.target, l2.stride, l2.width, l2.height,
                                 kBlockSize, kBlockSize, 8, 8, candidates, count);
  };
  // From the start without the quarter level: the smaller blocks, then the
  // full-resolution block alone, then a wider half-level search.
  auto from_start = [&]() {
    p = start;
    half_and_full(2);
    if (it.result >= 0) return;
    p = start;
    it.result = MatchOnLevel(p, im.level[0], 2, kIterations);
    if (it.result >= 0) return;
    p = start;
    half_and_full(kWideHalfRange);
  };
  int found = search_quarter(1);
  if (found == kBlockMatchOutside) {
    // A start moved on near the border: the quarter level searches around the feature's
    // own position instead, further inside. Where the quarter block does not fit there
    // either (within 16 pixels of the border) the finer ones still do, and a point in
    // view is not given up: searched without the coarse level, the estimate counts as a
    // second search and needs its predecessor's confirmation.
    quarter.target_x = quarter.source_x;
    quarter.target_y = quarter.source_y;
    found = search_quarter(1);
    if (found == kBlockMatchOutside) {
      it.retried = true;
      from_start();
      return;
    }
  }
  if (found < 0) {
    it.result = found;
    return;
  }
  auto from_candidate = [&](int k) {
    p = start;
    p.target_x = 4.0 * candidates[k].target_x;
    p.target_y = 4.0 * candidates[k].target_y;
  };
  from_candidate(0);
  half_and_full(2);
  if (it.result >= 0) return;
  it.retried = true;
  // The quarter block spans 32 x 32 pixels: where the scene moves unevenly (near depth
  // edges, on a receding floor) its best match may follow the surroundings, further from
  // the feature than the finer +-2 searches can return. When the finer levels fail from
  // there, the next quarter-level minima are followed down, then the predicted start
  // without the quarter level, and last the minima again with a wider half-level search.
  // Only the few jobs that get here search the quarter level again for its further minima.
  found = search_quarter(kQuarterCandidates);
  for (int k = 1; k < found; ++k) {
    from_candidate(k);
    half_and_full(2);
    if (it.result >= 0) return;
  }
  from_start();
  for (int k = 0; k < found && it.result < 0; ++k) {
    from_candidate(k);
    half_and_full(kWideHalfRange);
  }
}

void HBMMovedStart(double x, double y, double dx, double dy, int32_t width, int32_t height,
                   double* start_x, double* start_y) {
  *start_x = x;
  *start_y = y;
  const double px = x + dx, py = y + dy;
  // The full-resolution block must fit around the start (the rule of MatchBlockSAD);
  // where the coarser ones do not, the job searches without them.
  const double bx = std::trunc(px) - kBlockSize / 2;
  const double by = std::trunc(py) - kBlockSize / 2;
  if (!(bx >= 0.0 && by >= 0.0 && bx < width - kBlockSize && by < height - kBlockSize)) return;
  *start_x = px;
  *start_y = py;
}

void HBMPredictedStart(double x, double y, const FeaturePoint2D* predecessor, int32_t width,
                       int32_t height, double* start_x, double* start_y) {
  if (predecessor == nullptr) {
    *start_x = x;
    *start_y = y;
    return;
  }
  HBMMovedStart(x, y, x - predecessor->x, y - predecessor->y, width, height, start_x, start_y);
}

void HBMMotionField::Add(double x, double y, double dx, double dy) {
  if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(dx) && std::isfinite(dy))) return;
  samples_.push_back({x, y, dx, dy});
  cells_.clear();
}

bool HBMMotionField::Predict(double x, double y, double* dx, double* dy) const {
  if (samples_.empty() || !std::isfinite(x) || !std::isfinite(y)) return false;
  if (cells_.empty()) {
    double max_x = samples_[0].x, max_y = samples_[0].y;
    min_x_ = max_x;
    min_y_ = max_y;
    for (const Sample& s : samples_) {
      min_x_ = std::min(min_x_, s.x);
      min_y_ = std::min(min_y_, s.y);
      max_x = std::max(max_x, s.x);
      max_y = std::max(max_y, s.y);
    }
    // Far-flung samples (not image positions) would make a huge grid: cap its size.
    columns_ = static_cast<int>(std::min((max_x - min_x_) / kRadius, 4096.0)) + 1;
    rows_ = static_cast<int>(std::min((max_y - min_y_) / kRadius, 4096.0)) + 1;
    cells_.assign(static_cast<size_t>(columns_) * rows_, {});
    for (int i = 0; i < static_cast<int>(samples_.size()); ++i) {
      const int cx = static_cast<int>(std::min((samples_[i].x - min_x_) / kRadius, columns_ - 1.0));
      const int cy = static_cast<int>(std::min((samples_[i].y - min_y_) / kRadius, rows_ - 1.0));
      cells_[static_cast<size_t>(cy) * columns_ + cx].push_back(i);
    }
  }
  const double fx = std::floor((x - min_x_) / kRadius), fy = std::floor((y - min_y_) / kRadius);
  if (fx < -1.0 || fy < -1.0 || fx > columns_ || fy > rows_) return false;
  const int cx = static_cast<int>(fx), cy = static_cast<int>(fy);
  // The kNeighbours nearest within the radius, by insertion into a short sorted list.
  std::pair<double, int> near[kNeighbours];
  int found = 0;
  for (int gy = std::max(cy - 1, 0); gy <= std::min(cy + 1, rows_ - 1); ++gy) {
    for (int gx = std::max(cx - 1, 0); gx <= std::min(cx + 1, columns_ - 1); ++gx) {
      for (int i : cells_[static_cast<size_t>(gy) * columns_ + gx]) {
        const double ex = samples_[i].x - x, ey = samples_[i].y - y;
        const double d2 = ex * ex + ey * ey;
        if (d2 > kRadius * kRadius) continue;
        if (found == kNeighbours && d2 >= near[found - 1].first) continue;
        int k = found < kNeighbours ? found++ : found - 1;
        for (; k > 0 && near[k - 1].first > d2; --k) near[k] = near[k - 1];
        near[k] = {d2, i};
      }
    }
  }
  if (found == 0) return false;
  double mx[kNeighbours], my[kNeighbours];
  for (int k = 0; k < found; ++k) {
    mx[k] = samples_[near[k].second].dx;
    my[k] = samples_[near[k].second].dy;
  }
  std::sort(mx, mx + found);
  std::sort(my, my + found);
  // An even count takes the mean of the middle two.
  *dx = 0.5 * (mx[(found - 1) / 2] + mx[found / 2]);
  *dy = 0.5 * (my[(found - 1) / 2] + my[found / 2]);
  return true;
}

int HBMBlockTexture(const HBMLevelImages::Level& level, double x, double y) {
  HBMLevelImages::Level self = level;
  self.target = level.source;
  return std::min(HBMMatchCost(self, x, y, x + 1.0, y), HBMMatchCost(self, x, y, x, y + 1.0));
}

int HBMMatchCost(const HBMLevelImages::Level& level, double source_x, double source_y,
                 double target_x, double target_y) {
  uint32_t tpl[kBlockSize * kBlockSize], block[kBlockSize * kBlockSize];
  const double h = (kBlockSize - 1) * 0.5;
  ResampleBlock6(level.source, level.stride, level.width, level.height, tpl, kBlockSize, kBlockSize,
                 kBlockSize, source_x - h, source_y - h, 1.0);
  ResampleBlock6(level.target, level.stride, level.width, level.height, block, kBlockSize,
                 kBlockSize, kBlockSize, target_x - h, target_y - h, 1.0);
  return static_cast<int>(SumAbsDiffBGRA(tpl, block, kBlockSize * kBlockSize));
}

bool HBMCrossCheck(const TrackFeatureItem& own, const TrackFeatureItem* predecessor, double* x,
                   double* y) {
  if (own.result < 0) return false;
  const BlockMatchPosition& a = own.position;
  // An estimate nothing confirms stands on its own match: kept only when its cost is no
  // more than the feature's block differs from itself one pixel off. Estimates found by
  // a second search (the first pass failed) are kept only with the predecessor's
  // confirmation: on their own they are grossly wrong too often, and a gross error hurts
  // a camera solve far more than a lost track.
  auto plausible = [&](double tx, double ty) {
    if (own.images == nullptr) return false;
    const HBMLevelImages::Level& full = own.images->level[0];
    return HBMMatchCost(full, a.source_x, a.source_y, tx, ty) <=
           HBMBlockTexture(full, a.source_x, a.source_y);
  };
  auto keep = [&](double tx, double ty) {
    *x = tx;
    *y = ty;
    return true;
  };
  if (predecessor == nullptr) return !own.retried && keep(a.target_x, a.target_y);
  if (predecessor->result < 0)
    return !own.retried && plausible(a.target_x, a.target_y) && keep(a.target_x, a.target_y);
  const BlockMatchPosition& b = predecessor->position;
  const double dx = a.target_x - b.target_x, dy = a.target_y - b.target_y;
  if (dx * dx + dy * dy > 1.0) {
    // Apart: the estimate where the feature's block matches clearly better (at most half
    // the other's cost), if its job found it at the first pass.
    if (own.images == nullptr) return false;
    const HBMLevelImages::Level& full = own.images->level[0];
    const int own_cost = HBMMatchCost(full, a.source_x, a.source_y, a.target_x, a.target_y);
    const int other_cost = HBMMatchCost(full, a.source_x, a.source_y, b.target_x, b.target_y);
    const bool other_better = other_cost < own_cost;
    const BlockMatchPosition& best = other_better ? b : a;
    const int best_cost = std::min(own_cost, other_cost);
    if ((other_better ? predecessor->retried : own.retried) ||
        2 * best_cost > std::max(own_cost, other_cost) ||
        best_cost > HBMBlockTexture(full, a.source_x, a.source_y))
      return false;
    return keep(best.target_x, best.target_y);
  }
  const double mx = (a.target_x + b.target_x) * 0.5, my = (a.target_y + b.target_y) * 0.5;
  if ((own.retried || predecessor->retried) && !plausible(mx, my)) return false;
  return keep(mx, my);
}

namespace {

// A frame of the cache fit for matching: delivered and decoded without error.
ImageCacheEntryPtr FetchFrame(ImageCache* cache, int64_t frame) {
  if (cache == nullptr || frame < 0 || frame > INT32_MAX) return ImageCacheEntryPtr();
  ImageCacheEntryPtr entry = cache->GetImage(static_cast<int32_t>(frame));
  if (entry && entry->error.load() != 0) return ImageCacheEntryPtr();
  return entry;
}

// Frames matched against each other must share sizes and strides.
bool SameLayout(const ImageCacheEntry& a, const ImageCacheEntry& b) {
  return a.bgra.width == b.bgra.width && a.bgra.height == b.bgra.height &&
         a.bgra.stride == b.bgra.stride && a.half_bgra.width == b.half_bgra.width &&
         a.half_bgra.height == b.half_bgra.height && a.half_bgra.stride == b.half_bgra.stride;
}

}  // namespace

FeatureCorrelatorHBM::FeatureCorrelatorHBM() {
  Parameter p = GetParameter();
  p.m_window_width = p.m_window_height = 7;
  p.m_search_range = 15;
  SetParameter(p);
}

int32_t FeatureCorrelatorHBM::Compute() {
  TakeTimeStart();
  bool ready = false;
  if (TestFlags(kModeTagged)) return Track(true, &ready);
  Track(false, &ready);
  // Without the second frame (or its pyramid) a selection would search stale data.
  if (ready) FindNewFeatures();
  TakeTime("FeatureCorrelatorHBM::Compute");
  return static_cast<int32_t>(GetCorrespondences().size());
}

int32_t FeatureCorrelatorHBM::TrackFeatures() {
  bool ready = false;
  return Track(false, &ready);
}

int32_t FeatureCorrelatorHBM::Track(bool tagged, bool* frames_ready) {
  *frames_ready = false;
  if (first_image_ == nullptr || second_image_ == nullptr) {
    Notify(2, "FeatureCorrelatorHBM::TrackFeatures: no images set !");
    return 0;
  }
  // Tagged passes collect their correspondences until Reset.
  if (!tagged) {
    correspondences_.clear();
    ClearLostSpots();
  }

  // The pyramids serve only the corner selection, which tagged passes never run. Later
  // steps reuse the previous second image's pyramids as the first image's.
  bool pyramid_ok = true;
  if (!tagged) {
    if (GetStepCount() == 0) {
      if (GetSharedBuffer()) InitCornerDetectors(WorkerPool::GetNumberOfThreads());
      ComputePyramid(first_image_, 0);
      Notify(5, "FeatureCorrelatorHBM::TrackFeatures: tracker started with first and second frame");
      SelectGoodFeatures(0, first_image_->GetFPoints2D().empty());
    } else {
      SwapPyramidBuffers();
    }
    IncrementStepCount();
    pyramid_ok = ComputePyramid(second_image_, 1);
  } else {
    IncrementStepCount();
  }

  const bool reverse = TestFlags(kModeReverse);
  std::vector<SharedPtr<FeaturePoint2D>> to_track;
  if (tagged) {
    for (const FeatureImage::FeatureList* list :
         {&first_image_->GetFPoints2D(), &first_image_->GetAnchors()}) {
      for (const SharedPtr<FeaturePoint2D>& f : *list) {
        if (!f->TestFlags(FP2D_FLAG_TO_TRACK)) continue;
        // The re-tracked track replaces the old continuation.
        if (reverse) {
          f->SetPredecessor(SharedPtr<FeatureCorrespondence>());
        } else {
          f->SetSuccessor(SharedPtr<FeatureCorrespondence>());
        }
        to_track.push_back(f);
      }
    }
  } else {
    to_track = first_image_->GetFPoints2D();
  }
  const int n = static_cast<int>(to_track.size());
  const int32_t c = first_image_->GetImageIndex();
  const int32_t d = second_image_->GetImageIndex();
  Notify(5, "FeatureCorrelatorHBM::TrackFeatures: %d features to track form image %ld to image %d",
         n, static_cast<long>(c), d);

  if (!tagged) second_image_->ClearManualOrAutoFPoints2D(false);
  if (n == 0) {
    if (!tagged) SetLostCount(0);
    *frames_ready = pyramid_ok;
    return 0;
  }

  FeatureImageOwner* owner = first_image_->GetCTrackMgr();
  ImageCache* cache = owner != nullptr ? owner->GetImageCache() : nullptr;
  const ImageCacheEntryPtr frame_c = FetchFrame(cache, c);
  const ImageCacheEntryPtr frame_d = FetchFrame(cache, d);
  if (!frame_c || !frame_d || !SameLayout(*frame_c, *frame_d)) {
    Notify(2,
           "FeatureCorrelatorHBM::TrackFeatures: frames %d and %d not available, %d features lost",
           c, d, n);
    if (!tagged) SetLostCount(static_cast<uint32_t>(n));
    return 0;
  }

  // Quarter images of c, d and e in one block; their stride is the full stride / 4.
  const ImageCacheEntry& fc = *frame_c;
  const int32_t width = static_cast<int32_t>(fc.bgra.width);
  const int32_t height = static_cast<int32_t>(fc.bgra.height);
  const size_t quarter_stride = fc.bgra.stride / 4;
  const size_t quarter_size = quarter_stride * static_cast<size_t>(height / 4);
  std::unique_ptr<uint32_t[]> quarters(new uint32_t[3 * quarter_size + 1]());
  uint32_t* quarter[3] = {quarters.get(), quarters.get() + quarter_size,
                          quarters.get() + 2 * quarter_size};
  auto halve = [&](const ImageCacheEntry& entry, uint32_t* dst) {
    HalveImageRGBA(dst, static_cast<int>(quarter_stride), entry.half_bgra.data,
                   static_cast<int>(entry.half_bgra.stride),
                   static_cast<int>(entry.half_bgra.width),
                   static_cast<int>(entry.half_bgra.height));
  };
  auto levels = [&](HBMLevelImages& li, const ImageCacheEntry& s, const uint32_t* sq,
                    const ImageCacheEntry& t, const uint32_t* tq) {
    li.level[0] = {s.bgra.data, t.bgra.data, width, height, static_cast<int32_t>(fc.bgra.stride)};
    li.level[1] = {s.half_bgra.data, t.half_bgra.data, width >> 1, height >> 1,
                   static_cast<int32_t>(fc.half_bgra.stride)};
    li.level[2] = {sq, tq, width >> 2, height >> 2, static_cast<int32_t>(quarter_stride)};
  };
  halve(fc, quarter[0]);
  halve(*frame_d, quarter[1]);
  HBMLevelImages from_c, from_e;
  levels(from_c, fc, quarter[0], *frame_d, quarter[1]);

  // The cross-check frame, one step beyond c away from d.
  const int64_t e = 2 * static_cast<int64_t>(c) - d;
  ImageCacheEntryPtr frame_e = FetchFrame(cache, e);
  if (frame_e && !SameLayout(fc, *frame_e)) frame_e = ImageCacheEntryPtr();
  if (frame_e) {
    halve(*frame_e, quarter[2]);
    levels(from_e, *frame_e, quarter[2], *frame_d, quarter[1]);
  }

  // Each feature's predecessor one frame beyond c, if it has one.
  std::vector<const FeaturePoint2D*> predecessor(n, nullptr);
  for (int i = 0; i < n; ++i) {
    const FeaturePoint2D& f = *to_track[i];
    const SharedPtr<FeatureCorrespondence>& link = reverse ? f.GetSuccessor() : f.GetPredecessor();
    if (!link) continue;
    const SharedPtr<FeaturePoint2D>& p = reverse ? link->GetSecond() : link->GetFirst();
    if (p && FeatureImageFrameIndex(p->GetImage()) == e) predecessor[i] = p.Get();
  }
  std::vector<TrackFeatureItem> jobs;
  jobs.reserve(2 * static_cast<size_t>(n));
  // Features without a predecessor start where their neighbours with one moved.
  HBMMotionField motion;
  for (int i = 0; i < n; ++i) {
    const FeaturePoint2D* p = predecessor[i];
    if (p != nullptr)
      motion.Add(to_track[i]->x, to_track[i]->y, to_track[i]->x - p->x, to_track[i]->y - p->y);
  }
  std::vector<BlockMatchPosition> start(n);
  for (int i = 0; i < n; ++i) {
    const FeaturePoint2D& f = *to_track[i];
    double x = f.x, y = f.y, dx = 0.0, dy = 0.0;
    if (predecessor[i] != nullptr) {
      HBMPredictedStart(f.x, f.y, predecessor[i], width, height, &x, &y);
    } else if (motion.Predict(f.x, f.y, &dx, &dy)) {
      HBMMovedStart(f.x, f.y, dx, dy, width, height, &x, &y);
    }
    start[i] = {f.x, f.y, x, y};
    jobs.push_back({&from_c, start[i], -1});
  }
  std::vector<int> predecessor_job(n, -1);
  if (frame_e) {
    for (int i = 0; i < n; ++i) {
      if (predecessor[i] == nullptr) continue;
      predecessor_job[i] = static_cast<int>(jobs.size());
      // Two frames of motion: the search starts where the feature's own job starts.
      jobs.push_back({&from_e,
                      {predecessor[i]->x, predecessor[i]->y, start[i].target_x, start[i].target_y},
                      -1});
    }
  }
  WorkerPool::ParallelFor(nullptr, jobs.data(), sizeof(TrackFeatureItem),
                          static_cast<int>(jobs.size()), &TrackFeatureJob, false);

  int32_t made = 0;
  for (int i = 0; i < n; ++i) {
    double x = 0.0, y = 0.0;
    const TrackFeatureItem* pred = predecessor_job[i] >= 0 ? &jobs[predecessor_job[i]] : nullptr;
    const SharedPtr<FeaturePoint2D>& old = to_track[i];
    if (!HBMCrossCheck(jobs[i], pred, &x, &y)) {
      if (!tagged) NoteLostSpot(old->x, old->y);
      continue;
    }
    SharedPtr<FeaturePoint2D> fresh = SharedPtr<FeaturePoint2D>::Make(second_image_, x, y);
    if (old->TestFlags(FP2D_FLAG_COVARIANCE)) {
      const float* cv = old->GetCoVariance();
      fresh->SetCoVariance(cv[0], cv[1], cv[2]);
    }
    second_image_->AddFPoint2D(fresh);
    // Links run from the lower to the higher frame index.
    SharedPtr<FeatureCorrespondence> link =
        reverse ? SharedPtr<FeatureCorrespondence>::Make(fresh, old)
                : SharedPtr<FeatureCorrespondence>::Make(old, fresh);
    link->SetScore(1.0f);
    link->SetFlags(FCORR_SUPPORT_TRUE);
    if (reverse) {
      old->SetPredecessor(link);
      fresh->SetSuccessor(link);
    } else {
      old->SetSuccessor(link);
      fresh->SetPredecessor(link);
    }
    if (tagged) {
      // The tag and the user flags move on to the new end of the track.
      fresh->SetFlags(old->GetFlags());
      old->ClearFlags(FP2D_FLAG_TO_TRACK);
    }
    correspondences_.push_back(link);
    ++made;
  }
  if (!tagged) SetLostCount(static_cast<uint32_t>(n - made));
  *frames_ready = pyramid_ok;
  return made;
}
