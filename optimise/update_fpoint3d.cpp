#include "optimise/update_fpoint3d.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "features/feature_correspondence_iterator.h"
#include "features/feature_image.h"
#include "features/image_list_error.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "geometry/key_frame_select.h"

namespace {

// New points a job collects before it takes the locks to append them.
constexpr size_t kAppendBatch = 64;

bool Supported(const FeatureCorrespondence* c) {
  return c != nullptr && (c->GetFlags() & FCORR_SUPPORT_TRUE) != 0;
}

bool IsCartesian(const SharedPtr<FeaturePoint3D>& p) {
  return p && p->GetCS() == FeaturePoint3D::eCartesian;
}

}  // namespace

struct UpdateFPoint3D::WorkRecord {
  Counts counts;
  TriangulationMultiView triangulation;
  std::vector<SharedPtr<FeaturePoint3D>> pending;  // new points not yet appended
};

struct UpdateFPoint3D::Context {
  const t_ListFCorr* corrs = nullptr;
  std::vector<int32_t> image_indices;  // sorted
  PointList* points = nullptr;
  ReadWriteSpinLock* point_lock = nullptr;
  const KeyFrameSelect::KeyFrame* key_frame = nullptr;
  unsigned num_images = 0;
  unsigned min_obs = 0;
  bool check_displacement = false;
  bool unlimited_chain = false;
  bool reverse = false;
  std::atomic<size_t> next{0};
  js::SpinLock append_lock;

  // The direction of travel: with reverse, later and earlier swap.
  FeaturePoint2D* Current(const FeatureCorrespondence* c) const {
    return (reverse ? c->GetFirst() : c->GetSecond()).Get();
  }
  FeaturePoint2D* Previous(const FeatureCorrespondence* c) const {
    return (reverse ? c->GetSecond() : c->GetFirst()).Get();
  }
  FeatureCorrespondence* Backward(const FeaturePoint2D* f) const {
    return (reverse ? f->GetSuccessor() : f->GetPredecessor()).Get();
  }
  bool InList(const FeaturePoint2D* f) const {
    const FeatureImage* image = f->GetImage();
    return image != nullptr &&
           std::binary_search(image_indices.begin(), image_indices.end(), image->GetImageIndex());
  }
};

UpdateFPoint3D::UpdateFPoint3D() {
  m_num_records = static_cast<unsigned>(std::max(1, WorkerPool::GetNumberOfThreads()));
  m_records = std::make_unique<WorkRecord[]>(m_num_records);
}

UpdateFPoint3D::~UpdateFPoint3D() = default;

bool UpdateFPoint3D::Update3DFPMaximumLikelihood(FeatureCorrespondenceIterator iterator,
                                                 const ImageList& images, PointList& points,
                                                 ReadWriteSpinLock* point_lock,
                                                 const KeyFrameSelect* key_frames, unsigned min_obs,
                                                 bool check_displacement, bool unlimited_chain) {
  t_ListFCorr corrs;
  for (SharedPtr<FeatureCorrespondence> c = iterator.Next(); c; c = iterator.Next())
    corrs.push_back(c);
  return Update3DFPMaximumLikelihood(corrs, images, points, point_lock, key_frames, min_obs,
                                     check_displacement, unlimited_chain, false);
}

bool UpdateFPoint3D::Update3DFPMaximumLikelihood(const t_ListFCorr& corrs, const ImageList& images,
                                                 PointList& points, ReadWriteSpinLock* point_lock,
                                                 const KeyFrameSelect* key_frames, unsigned min_obs,
                                                 bool check_displacement, bool unlimited_chain,
                                                 bool reverse) {
  const bool verbose = NotifyContext::GetNotifyLevel() >= 5;
  if (verbose)
    Notify(5,
           "UpdateFPoint3D::Update3DFPMaximumLikelihood: before optimization RMSE %f [pel] over "
           "%d views",
           std::sqrt(ImageListMSE(images, true, false)), static_cast<int>(images.size()));
  if (images.size() < 2) {
    Notify(2, "UpdateFPoint3D::Update3DFPMaximumLikelihood: image list less than 2 !");
    return false;
  }
  if (corrs.empty()) {
    Notify(2, "UpdateFPoint3D::Update3DFPMaximumLikelihood: correspondence list empty");
    return false;
  }

  Context context;
  context.corrs = &corrs;
  for (const SharedPtr<FeatureImage>& image : images)
    if (image) context.image_indices.push_back(image->GetImageIndex());
  std::sort(context.image_indices.begin(), context.image_indices.end());
  context.points = &points;
  context.point_lock = point_lock;
  if (key_frames != nullptr && !key_frames->GetKeyFrameList().empty())
    context.key_frame = &key_frames->GetKeyFrameList().front();
  context.num_images = static_cast<unsigned>(images.size());
  context.min_obs = min_obs;
  context.check_displacement = check_displacement;
  context.unlimited_chain = unlimited_chain;
  context.reverse = reverse;

  for (unsigned i = 0; i < m_num_records; ++i) {
    m_records[i].counts = Counts();
    m_records[i].triangulation.Reset();
    m_records[i].pending.clear();
  }
  WorkerPool::ParallelFor(
      static_cast<int>(m_num_records),
      [&](int i) { Job(context, m_records[static_cast<size_t>(i)]); }, false);

  Counts total;
  for (unsigned i = 0; i < m_num_records; ++i) {
    const Counts& c = m_records[i].counts;
    total.processed += c.processed;
    total.created += c.created;
    total.updated += c.updated;
    for (int k = 1; k <= kNumErrors; ++k) total.err[k] += c.err[k];
    total.longest_updated_chain = std::max(total.longest_updated_chain, c.longest_updated_chain);
    total.longest_new_chain = std::max(total.longest_new_chain, c.longest_new_chain);
  }
  m_last = total;

  Notify(5, "UpdateFPoint3D::Update3DFPMaximumLikelihood: finished:");
  if (key_frames != nullptr)
    Notify(4, "UpdateFPoint3D::Update3DFPMaximumLikelihood: keyframe_flag set!");
  ReportErrorCounters(total, static_cast<unsigned>(corrs.size()), min_obs);
  size_t num_points;
  if (point_lock != nullptr) point_lock->LockRead();
  num_points = points.size();
  if (point_lock != nullptr) point_lock->UnlockRead();
  Notify(5,
         "UpdateFPoint3D::Update3DFPMaximumLikelihood: 3DFP updated: %d   new: %d   total "
         "corresp. (current): %d   total 3DFP(global): %d",
         static_cast<int>(total.updated), static_cast<int>(total.created),
         static_cast<int>(total.processed), static_cast<int>(num_points));
  Notify(5,
         "UpdateFPoint3D::Update3DFPMaximumLikelihood: longest updated 3DFP chain: %d   longest "
         "new 3DFP chain: %d",
         static_cast<int>(total.longest_updated_chain), static_cast<int>(total.longest_new_chain));
  if (verbose)
    Notify(5,
           "UpdateFPoint3D::Update3DFPMaximumLikelihood: after optimization RMSE %f [pel] over "
           "%d views",
           std::sqrt(ImageListMSE(images, true, false)), static_cast<int>(images.size()));
  return true;
}

void UpdateFPoint3D::Job(Context& context, WorkRecord& record) const {
  const t_ListFCorr& corrs = *context.corrs;
  for (;;) {
    const size_t i = context.next.fetch_add(1, std::memory_order_relaxed);
    if (i >= corrs.size()) break;
    ProcessOne(context, record, corrs[i].Get());
    if (record.pending.size() >= kAppendBatch) Flush(context, record);
  }
  Flush(context, record);
}

void UpdateFPoint3D::Flush(Context& context, WorkRecord& record) {
  if (record.pending.empty()) return;
  context.append_lock.Lock();
  if (context.point_lock != nullptr) context.point_lock->LockWrite();
  for (SharedPtr<FeaturePoint3D>& point : record.pending) {
    point->SetId(static_cast<int32_t>(context.points->size()));
    context.points->push_back(point);
  }
  if (context.point_lock != nullptr) context.point_lock->UnlockWrite();
  context.append_lock.Unlock();
  record.pending.clear();
}

void UpdateFPoint3D::ProcessOne(Context& context, WorkRecord& record,
                                const FeatureCorrespondence* q) const {
  Counts& counts = record.counts;
  if (q == nullptr) {
    ++counts.err[7];
    return;
  }
  FeaturePoint2D* prev = context.Previous(q);
  FeaturePoint2D* cur = context.Current(q);
  if (prev == nullptr) {
    ++counts.err[6];
    return;
  }
  if (cur == nullptr) {
    ++counts.err[9];
    return;
  }
  if (!Supported(q)) {
    ++counts.err[8];
    return;
  }
  const SharedPtr<FeaturePoint3D> prev_point = prev->GetFPoint3D();
  const SharedPtr<FeaturePoint3D> cur_point = cur->GetFPoint3D();
  if ((prev_point || cur_point) && (q->GetFlags() & FCORR_SUPPORT_FREEMOVE) == 0 &&
      IsCartesian(prev_point ? prev_point : cur_point)) {
    ++counts.err[12];
    return;
  }

  // Observations back along the supported track; images outside the list are passed over.
  TriangulationMultiView& tri = record.triangulation;
  tri.Reset();
  tri.AddFPoint2D(cur);
  FeaturePoint2D* f = prev;
  const FeatureCorrespondence* c = q;
  while (Supported(c)) {
    if (context.InList(f)) tri.AddFPoint2D(f);
    c = context.Backward(f);
    if (Supported(c)) {
      f = context.Previous(c);
      if (f == nullptr) break;
    }
  }

  FeaturePoint2D* partner = nullptr;
  if (context.key_frame != nullptr && f != nullptr) {
    for (const SharedPtr<FeatureCorrespondence>& k : context.key_frame->m_corr_list) {
      if (Supported(k.Get()) && k->GetFirst().Get() == f && k->GetSecond()) {
        tri.AddFPoint2D(k->GetSecond().Get());
        partner = k->GetSecond().Get();
      }
    }
  }
  ++counts.processed;

  const bool cartesian_prev = IsCartesian(prev_point);
  const bool cartesian_cur = IsCartesian(cur_point);
  if (cartesian_prev) {
    tri.SetPoint(*prev_point);
  } else if (cartesian_cur) {
    tri.SetPoint(*cur_point);
  } else {
    if (tri.GetNumObservations() < context.min_obs) {
      ++counts.err[11];
      return;
    }
    if (context.check_displacement && !tri.CheckMinDisplacement(m_parameter.m_min_displacement)) {
      ++counts.err[5];
      return;
    }
  }
  if (!tri.Compute()) {
    ++counts.err[3];
    return;
  }
  const vm::Vector3 x = tri.GetPoint();
  const double mse = tri.GetMeanSquaredError();
  const unsigned n = tri.GetNumObservations();
  const double max2 = m_parameter.m_max_map_error * m_parameter.m_max_map_error;
  const bool manual = cur->TestFlags(FP2D_FLAG_MANUAL);

  if (!(mse < max2)) {
    if (!prev_point && !cur_point) {
      ++counts.err[2];
    } else if (manual) {
      ++counts.err[15];
    } else {
      ++counts.err[10];
      if (cur_point) {
        Notify(4,
               "UpdateFPoint3D::Update3DFPMaximumLikelihood_mt_job: REMOVED FP x:%f, y:%f, No:%d",
               cur->x, cur->y, static_cast<int>(cur_point->GetId()));
        cur_point->SetFlags(FP3D_FLAG_REMOVED);
        cur_point->SetStateWord(0, cur_point->GetStateWord(0) | FP3D_STATE_REMOVED_BY_UPDATE);
      }
    }
    return;
  }

  Matrix3x3 information, covariance;
  if (!tri.GetInformationMatrix(information) || !InvertSymmetric3x3(information, covariance))
    return;

  if (cartesian_prev || cartesian_cur) {
    const SharedPtr<FeaturePoint3D>& p = cartesian_prev ? prev_point : cur_point;
    p->x = x.x;
    p->y = x.y;
    p->z = x.z;
    p->SetCoVariance(covariance.m);
    if (cartesian_prev) {
      cur->SetFPoint3D(p);
    } else {
      prev->SetFPoint3D(p);
      if (prev->GetImage() != nullptr)
        p->SetImageIndex(static_cast<uint32_t>(prev->GetImage()->GetImageIndex()));
      p->SetNumMeasurements(n);
    }
    if (p->TestFlags(FP3D_FLAG_REMOVED)) ++counts.err[18];
    ++counts.updated;
    counts.longest_updated_chain = std::max(counts.longest_updated_chain, n);
    return;
  }

  const SharedPtr<FeaturePoint3D>& old = prev_point ? prev_point : cur_point;
  if (old && old->TestFlags(FP3D_FLAG_REMOVED)) ++counts.err[18];
  if (tri.GetMaxSquaredError() > max2) {
    ++counts.err[13];
    if (!manual) return;
    ++counts.err[14];
  }
  SharedPtr<FeaturePoint3D> point =
      SharedPtr<FeaturePoint3D>::Make(x.x, x.y, x.z, FeaturePoint3D::eCartesian);
  if (cur->GetImage() != nullptr)
    point->SetImageIndex(static_cast<uint32_t>(cur->GetImage()->GetImageIndex()));
  point->SetNumMeasurements(n);
  point->SetCoVariance(covariance.m);
  if (manual) point->SetFlags(FP3D_FLAG_FROM_MANUAL);
  cur->SetFPoint3D(point);

  // Link the track behind the current feature; the chain does not test list membership.
  unsigned k = context.num_images - 1;
  c = context.Backward(cur);
  f = prev;
  while (Supported(c) && k > 0) {
    if (f->GetFPoint3D()) ++counts.err[17];
    f->SetFPoint3D(point);
    if (!context.unlimited_chain) --k;
    c = context.Backward(f);
    if (c != nullptr) {
      f = context.Previous(c);
      if (f == nullptr) break;
    }
  }
  if (partner != nullptr) {
    partner->SetFPoint3D(point);
    point->SetStateWord(0, point->GetStateWord(0) | FP3D_STATE_KEY_FRAME_PARTNER);
  }
  record.pending.push_back(point);
  ++counts.created;
  counts.longest_new_chain = std::max(counts.longest_new_chain, n);
}

void UpdateFPoint3D::ReportErrorCounters(const Counts& counts, unsigned n, unsigned min_obs) const {
  const double map_error = m_parameter.m_max_map_error;
  // Rare means below an exact quarter of the correspondences (3 of 10 is not, 2 is).
  const auto level = [&](unsigned value) {
    return static_cast<uint64_t>(value) * 4 < static_cast<uint64_t>(n) ? 5 : 2;
  };
  if (NotifyContext::GetNotifyLevel() >= 2) {
    const unsigned* e = counts.err;
    if (e[1]) Notify(level(e[1]), "err1: CalculateInitialParams failed (%u/%u times)", e[1], n);
    if (e[2])
      Notify(level(e[2]),
             "err2: mean maperror > m_parameter.m_max_map_error (%f) pel (%u/%u times)", map_error,
             e[2], n);
    if (e[3]) Notify(level(e[3]), "err3: Triangulation failed (%u/%u times)", e[3], n);
    if (e[4]) Notify(level(e[4]), "err4: FP1 or FP2 = NULL (%u/%u times)", e[4], n);
    if (e[5])
      Notify(level(e[5]),
             "err5: displacement <  m_parameter.m_min_displacement = %f pel (%u/%u times))",
             m_parameter.m_min_displacement, e[5], n);
    if (e[6]) Notify(level(e[6]), "err6: first feature point == NULL (%u/%u times)", e[6], n);
    if (e[7]) Notify(level(e[7]), "err7: first correspondence == NULL (%u/%u times)", e[7], n);
    if (e[8]) Notify(level(e[8]), "err8: GetSupport != FCORR_SUPPORT_TRUE (%u/%u times)", e[8], n);
    if (e[9]) Notify(level(e[9]), "err9: second feature point == NULL (%u/%u times)", e[9], n);
    if (e[10])
      Notify(level(e[10]),
             "err10: removed FP3D because mean maperror > m_parameter.m_max_map_error= %f pel "
             "(%u/%u times)",
             map_error, e[10], n);
    if (e[11])
      Notify(level(e[11]), "err11: NumOfMeasurePoints < %d (%u/%u times)",
             static_cast<int>(min_obs), e[11], n);
    if (e[12])
      Notify(level(e[12]), "err12: has FP3D but GetSupport != FCORR_SUPPORT_FREEMOVE (%u/%u times)",
             e[12], n);
    if (e[13])
      Notify(level(e[13]),
             "err13: strict maperror > m_parameter.m_max_map_error = %f pel (%u/%u times)",
             map_error, e[13], n);
    if (e[14])
      Notify(level(e[14]),
             "err14: MANUAL FP: didn't apply strict maperror > m_parameter.m_max_map_error = %f "
             "pel because feature point is manual feature (%u/%u times)",
             map_error, e[14], n);
    if (e[15])
      Notify(level(e[15]),
             "err15: MANUAL FP: tried to removed FP3D because mean maperror > "
             "m_parameter.m_max_map_error= %f pel but feature point is manual feature (%u/%u "
             "times)",
             map_error, e[15], n);
    if (e[16])
      Notify(level(e[16]),
             "err16: MANUAL FP: mean maperror > m_parameter.m_max_map_error = %f pel but feature "
             "point is manual feature (%u/%u times)",
             map_error, e[16], n);
    if (e[18]) Notify(level(e[18]), "err18: triangulate removed 3D points (%u/%u times)", e[18], n);
  }
  if (counts.err[17])
    Notify(2,
           "UpdateFPoint3D::Update3DFPMaximumLikelihood: err17: CREATE A NEW BUT FOUND AN OLD "
           "3DFP (%u/%u times)",
           counts.err[17], n);
}
