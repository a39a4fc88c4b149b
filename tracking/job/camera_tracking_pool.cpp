#include "tracking/job/camera_tracking_pool.h"

#include <algorithm>
#include <type_traits>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/feature_map_move_live.h"

namespace {

// The optimiser's iteration settings, copied together.
template <class Optimizer>
void CopyIterationSettings(Optimizer& to, const Optimizer& from) {
  to.m_tolerance = from.m_tolerance;
  to.m_nMaxIterWithinTolerance = from.m_nMaxIterWithinTolerance;
  to.m_nMaxBadIterations = from.m_nMaxBadIterations;
  to.m_nMaxIterations = from.m_nMaxIterations;
}

// The component of a slot as its class; null when the slot is empty or holds another
// class (a chooser may have put anything into a slot).
template <class T, class Slot>
T* As(const SharedPtr<Slot>& slot) {
  return dynamic_cast<T*>(slot.Get());
}

}  // namespace

CameraTrackingPool::CameraTrackingPool() {
  m_foerstner = SharedPtr<Foerstner>::Make();
  m_harris = SharedPtr<Harris>::Make();
  m_detector = m_harris;
  m_correlator_syn = SharedPtr<FeatureCorrelatorSyn>::Make();
  m_correlator_optical_flow = SharedPtr<FeatureCorrelatorOpticalFlow>::Make();
  m_correlator_hbm = SharedPtr<FeatureCorrelatorHBM>::Make();
  m_correlator_read_ft2d = SharedPtr<FeatureCorrelatorReadFT2DFile>::Make();
  m_correlator = m_correlator_optical_flow;
  m_guided_matching_fmatrix = SharedPtr<GuidedMatchingFMatrix>::Make();
  m_guided_matching_hmatrix = SharedPtr<GuidedMatchingHMatrix>::Make();
  m_sample_calculator_ptrz = SharedPtr<SampleCalculatorPTRZ>::Make();
  m_sample_calculator_tknownrk = SharedPtr<SampleCalculatorTKnownRK>::Make();
  m_sample_calculator_fmatrix = SharedPtr<SampleCalculatorFMatrix>::Make();
  m_sample_calculator_hmatrix = SharedPtr<SampleCalculatorHMatrix>::Make();
  m_sample_calculator = m_sample_calculator_ptrz;
  m_rand_sampling = SharedPtr<RandSampling>::Make();
  m_outlier_detector_known_cam = SharedPtr<OutlierDetectorKnownCam>::Make();
  m_camera_estimator_ptrz = SharedPtr<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>::Make();
  m_camera_estimator_rt = SharedPtr<CameraEstimatorRT<OptimizerLM_RT>>::Make();
  m_fmap_move = SharedPtr<FeatureMapMove>::Make();
  m_fmap_move_live = SharedPtr<FeatureMapMoveLive>::Make();
  m_fmap = m_fmap_move;
}

FeatureMapMove* CameraTrackingPool::GetFreeMotionMap() const {
  FeatureMapMove* move = As<FeatureMapMove>(m_fmap_move);
  return move && !IsLiveMap(move) ? move : nullptr;
}

bool CameraTrackingPool::IsLiveMap(const FeatureMap* map) const {
  return map && (map == m_fmap_move_live.Get() || dynamic_cast<const FeatureMapMoveLive*>(map));
}

CameraTrackingPool::~CameraTrackingPool() {
  // The buffer first, then the components from the last slot to the first: a map goes
  // before the correlators, estimators and detectors it holds handles to.
  m_export_list.clear();
  m_shared_work_buffer = nullptr;
  m_fmap_move_live = nullptr;
  m_fmap_move = nullptr;
  m_fmap = nullptr;
  m_camera_estimator_rt = nullptr;
  m_camera_estimator_ptrz = nullptr;
  m_outlier_detector_known_cam = nullptr;
  m_rand_sampling = nullptr;
  m_outlier_detector = nullptr;
  m_sample_calculator = nullptr;
  m_sample_calculator_hmatrix = nullptr;
  m_sample_calculator_fmatrix = nullptr;
  m_sample_calculator_tknownrk = nullptr;
  m_sample_calculator_ptrz = nullptr;
  m_guided_matching = nullptr;
  m_guided_matching_fmatrix = nullptr;
  m_guided_matching_hmatrix = nullptr;
  m_correlator = nullptr;
  m_correlator_read_ft2d = nullptr;
  m_correlator_hbm = nullptr;
  m_correlator_optical_flow = nullptr;
  m_correlator_syn = nullptr;
  m_detector = nullptr;
  m_foerstner = nullptr;
  m_harris = nullptr;
}

void CameraTrackingPool::CopyParameter(const CameraTrackingPool& other) {
  if (auto* to = As<Foerstner>(m_foerstner)) {
    if (const auto* from = As<Foerstner>(other.m_foerstner)) to->SetParameter(from->GetParameter());
  }
  if (auto* to = As<Harris>(m_harris)) {
    if (const auto* from = As<Harris>(other.m_harris)) to->SetParameter(from->GetParameter());
  }
  if (auto* to = As<FeatureCorrelatorSyn>(m_correlator_syn)) {
    if (auto* from = As<FeatureCorrelatorSyn>(other.m_correlator_syn)) {
      to->SetParameter(from->GetParameter());
    }
  }
  // The block-matching correlator takes the optical-flow block too (it is one).
  for (auto slot :
       {&CameraTrackingPool::m_correlator_optical_flow, &CameraTrackingPool::m_correlator_hbm}) {
    auto* to = As<FeatureCorrelatorOpticalFlow>(this->*slot);
    const auto* from = As<FeatureCorrelatorOpticalFlow>(other.*slot);
    if (to && from) to->SetParameter(from->GetParameter());
  }
  static_assert(std::is_trivially_copyable_v<RandSampling::Parameter>,
                "the sampler's block is copied whole");
  if (auto* to = As<RandSampling>(m_rand_sampling)) {
    if (const auto* from = As<RandSampling>(other.m_rand_sampling)) {
      to->SetParameter(from->GetParameter());
    }
  }
  if (auto* to = As<OutlierDetectorKnownCam>(m_outlier_detector_known_cam)) {
    if (const auto* from = As<OutlierDetectorKnownCam>(other.m_outlier_detector_known_cam)) {
      to->m_threshold = from->m_threshold;
    }
  }
  using PTRZ = CameraEstimatorPTRZ<OptimizerLM_PTRZ>;
  using RT = CameraEstimatorRT<OptimizerLM_RT>;
  if (auto* to = As<PTRZ>(m_camera_estimator_ptrz)) {
    if (const auto* from = As<PTRZ>(other.m_camera_estimator_ptrz)) {
      CopyIterationSettings(to->m_optimizer, from->m_optimizer);
    }
  }
  if (auto* to = As<RT>(m_camera_estimator_rt)) {
    if (const auto* from = As<RT>(other.m_camera_estimator_rt)) {
      CopyIterationSettings(to->m_optimizer, from->m_optimizer);
    }
  }
  // The live map keeps its own settings.
  if (FeatureMapMove* to = GetFreeMotionMap()) {
    if (FeatureMapMove* from = other.GetFreeMotionMap()) {
      to->GetSphereParameter() = from->GetSphereParameter();
      to->SetParameter(from->GetParameter());
    }
  }

  // An unsized worker pool (0) runs everything on the caller: one thread.
  m_num_threads = std::max(1, WorkerPool::GetNumberOfThreads());
  if (m_num_threads < 2) return;
  m_shared_work_buffer = SharedPtr<SharedWorkBuffer>::Make(3 * m_num_threads);
  if (!m_correlator_optical_flow) {
    Notify(2, "CameraTrackingPool::CopyParameter: optical flow correlator null");
    return;
  }
  m_correlator_optical_flow->SetSharedBuffer(m_shared_work_buffer);
}
