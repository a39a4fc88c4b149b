#include "tracking/job/camera_tracking_pool.h"

#include <gtest/gtest.h>

#include "testing/log_capture.h"
#include "testing/pool_threads.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/feature_map_move_live.h"

namespace {

template <class T, class Slot>
T* As(const SharedPtr<Slot>& slot) {
  return dynamic_cast<T*>(slot.Get());
}

TEST(CameraTrackingPoolTest, NewPoolHoldsEveryComponentAndItsCurrentChoices) {
  CameraTrackingPool pool;
  EXPECT_NE(As<Harris>(pool.m_harris), nullptr);
  EXPECT_NE(As<Foerstner>(pool.m_foerstner), nullptr);
  EXPECT_NE(As<FeatureCorrelatorSyn>(pool.m_correlator_syn), nullptr);
  EXPECT_NE(As<FeatureCorrelatorOpticalFlow>(pool.m_correlator_optical_flow), nullptr);
  EXPECT_NE(As<FeatureCorrelatorHBM>(pool.m_correlator_hbm), nullptr);
  EXPECT_NE(As<FeatureCorrelatorReadFT2DFile>(pool.m_correlator_read_ft2d), nullptr);
  EXPECT_NE(As<GuidedMatchingHMatrix>(pool.m_guided_matching_hmatrix), nullptr);
  EXPECT_NE(As<GuidedMatchingFMatrix>(pool.m_guided_matching_fmatrix), nullptr);
  EXPECT_NE(As<SampleCalculatorPTRZ>(pool.m_sample_calculator_ptrz), nullptr);
  EXPECT_NE(As<SampleCalculatorTKnownRK>(pool.m_sample_calculator_tknownrk), nullptr);
  EXPECT_NE(As<SampleCalculatorFMatrix>(pool.m_sample_calculator_fmatrix), nullptr);
  EXPECT_NE(As<SampleCalculatorHMatrix>(pool.m_sample_calculator_hmatrix), nullptr);
  EXPECT_NE(As<RandSampling>(pool.m_rand_sampling), nullptr);
  EXPECT_NE(As<OutlierDetectorKnownCam>(pool.m_outlier_detector_known_cam), nullptr);
  EXPECT_NE((As<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>(pool.m_camera_estimator_ptrz)), nullptr);
  EXPECT_NE((As<CameraEstimatorRT<OptimizerLM_RT>>(pool.m_camera_estimator_rt)), nullptr);
  EXPECT_NE(As<FeatureMapMove>(pool.m_fmap_move), nullptr);
  EXPECT_EQ(As<FeatureMapMoveLive>(pool.m_fmap_move), nullptr);
  EXPECT_NE(As<FeatureMapMoveLive>(pool.m_fmap_move_live), nullptr);

  EXPECT_EQ(pool.m_detector, pool.m_harris);
  EXPECT_EQ(pool.m_correlator, pool.m_correlator_optical_flow);
  EXPECT_EQ(pool.m_sample_calculator, pool.m_sample_calculator_ptrz);
  EXPECT_EQ(pool.m_fmap, pool.m_fmap_move);
  EXPECT_EQ(pool.GetFeatureMap(), pool.m_fmap_move);
  EXPECT_FALSE(pool.m_guided_matching);
  EXPECT_FALSE(pool.m_outlier_detector);
  EXPECT_FALSE(pool.m_shared_work_buffer);
  EXPECT_TRUE(pool.m_export_list.empty());
  EXPECT_FALSE(pool.m_batch_mode);
  EXPECT_EQ(pool.m_num_threads, 1);

  pool.m_fmap = nullptr;
  EXPECT_FALSE(pool.GetFeatureMap());
}

// The live map is a free-motion map by its class; the pool tells them apart.
TEST(CameraTrackingPoolTest, LiveMapIsNeverTakenForTheFreeMotionMap) {
  CameraTrackingPool pool;
  EXPECT_EQ(pool.GetFreeMotionMap(), pool.m_fmap_move.Get());
  EXPECT_TRUE(pool.IsLiveMap(pool.m_fmap_move_live.Get()));
  EXPECT_FALSE(pool.IsLiveMap(pool.m_fmap_move.Get()));
  EXPECT_FALSE(pool.IsLiveMap(nullptr));

  // A live map in the free-motion slot is found by its kind and is no free-motion map.
  pool.m_fmap_move = SharedPtr<FeatureMapMoveLive>::Make();
  EXPECT_TRUE(pool.IsLiveMap(pool.m_fmap_move.Get()));
  EXPECT_EQ(pool.GetFreeMotionMap(), nullptr);
}

TEST(CameraTrackingPoolTest, CopyParameterTakesEveryBlockButNoHandles) {
  CameraTrackingPool source, copy;
  Harris::Parameter harris = As<Harris>(source.m_harris)->GetParameter();
  harris.corner_count_max = 123;
  As<Harris>(source.m_harris)->SetParameter(harris);
  RandSampling::Parameter sampling;
  sampling.m_threshold = 2.5;
  sampling.m_max_searchs = 77;
  As<RandSampling>(source.m_rand_sampling)->SetParameter(sampling);
  As<OutlierDetectorKnownCam>(source.m_outlier_detector_known_cam)->m_threshold = 3.25;
  auto* rt = As<CameraEstimatorRT<OptimizerLM_RT>>(source.m_camera_estimator_rt);
  rt->m_optimizer.m_nMaxIterations = 55;
  rt->m_optimizer.m_tolerance = 1e-7;
  OpticalFlowParameter flow =
      As<FeatureCorrelatorOpticalFlow>(source.m_correlator_optical_flow)->GetParameter();
  flow.m_corner_count = 321;
  As<FeatureCorrelatorOpticalFlow>(source.m_correlator_optical_flow)->SetParameter(flow);
  auto* move = As<FeatureMapMove>(source.m_fmap_move);
  FeatureMapMove::Parameter p = move->GetParameter();
  p.m_ba_window = 17;
  move->SetParameter(p);
  move->GetSphereParameter().m_direction_distance = 1234.0;
  // A chooser's choice in the copy survives.
  copy.m_correlator = copy.m_correlator_syn;
  copy.m_detector = copy.m_foerstner;

  // The live map keeps its own settings even where the free-motion map's block sits.
  const SharedPtr<FeatureMap> move_slot = copy.m_fmap_move;
  copy.m_fmap_move = SharedPtr<FeatureMapMoveLive>::Make();

  kxtest::PoolThreads threads(1);
  copy.CopyParameter(source);

  EXPECT_EQ(As<Harris>(copy.m_harris)->GetParameter().corner_count_max, 123u);
  EXPECT_EQ(As<RandSampling>(copy.m_rand_sampling)->GetParameter().m_threshold, 2.5);
  EXPECT_EQ(As<RandSampling>(copy.m_rand_sampling)->GetParameter().m_max_searchs, 77);
  EXPECT_EQ(As<OutlierDetectorKnownCam>(copy.m_outlier_detector_known_cam)->m_threshold, 3.25);
  auto* copy_rt = As<CameraEstimatorRT<OptimizerLM_RT>>(copy.m_camera_estimator_rt);
  EXPECT_EQ(copy_rt->m_optimizer.m_nMaxIterations, 55);
  EXPECT_EQ(copy_rt->m_optimizer.m_tolerance, 1e-7);
  EXPECT_EQ(As<FeatureCorrelatorOpticalFlow>(copy.m_correlator_optical_flow)
                ->GetParameter()
                .m_corner_count,
            321u);
  // The block-matching correlator takes the optical-flow block of its own slot.
  EXPECT_NE(As<FeatureCorrelatorOpticalFlow>(copy.m_correlator_hbm)->GetParameter().m_corner_count,
            321u);
  const auto* copy_live = As<FeatureMapMoveLive>(copy.m_fmap_move);
  EXPECT_EQ(copy_live->GetParameter().m_ba_window, FeatureMapMove::Parameter().m_ba_window);
  EXPECT_EQ(copy_live->GetParameter().m_estimate_focal, 0);
  copy.m_fmap_move = move_slot;
  copy.CopyParameter(source);
  auto* copy_move = As<FeatureMapMove>(copy.m_fmap_move);
  EXPECT_EQ(copy_move->GetParameter().m_ba_window, 17);
  EXPECT_EQ(copy_move->GetSphereParameter().m_direction_distance, 1234.0);

  EXPECT_EQ(copy.m_correlator, copy.m_correlator_syn);
  EXPECT_EQ(copy.m_detector, copy.m_foerstner);
  EXPECT_NE(copy.m_harris, source.m_harris);
  EXPECT_EQ(source.m_correlator, source.m_correlator_optical_flow);
  EXPECT_FALSE(copy.m_shared_work_buffer);
  EXPECT_EQ(copy.m_num_threads, 1);
}

TEST(CameraTrackingPoolTest, CopyParameterSizesTheSharedBufferByTheWorkerPool) {
  CameraTrackingPool source, copy;
  {
    kxtest::PoolThreads threads(4);
    copy.CopyParameter(source);
  }
  ASSERT_TRUE(copy.m_shared_work_buffer);
  EXPECT_EQ(copy.m_num_threads, 4);
  EXPECT_EQ(copy.m_shared_work_buffer->capacity, 12);
  EXPECT_EQ(copy.m_shared_work_buffer->count, 0);
  EXPECT_NE(copy.m_shared_work_buffer->jobs, nullptr);
  EXPECT_EQ(copy.m_correlator_optical_flow->GetSharedBuffer(), copy.m_shared_work_buffer);
  EXPECT_FALSE(copy.m_correlator_hbm->GetSharedBuffer());

  // Without an optical-flow correlator the buffer is made but handed to nobody.
  CameraTrackingPool bare;
  SharedPtr<FeatureCorrelator> flow = bare.m_correlator_optical_flow;
  bare.m_correlator_optical_flow = nullptr;
  kxtest::LogCapture log(5);
  {
    kxtest::PoolThreads threads(2);
    bare.CopyParameter(source);
  }
  EXPECT_TRUE(log.Has("CameraTrackingPool::CopyParameter: optical flow correlator null"));
  ASSERT_TRUE(bare.m_shared_work_buffer);
  EXPECT_EQ(bare.m_shared_work_buffer->capacity, 6);
  EXPECT_FALSE(flow->GetSharedBuffer());
}

}  // namespace
