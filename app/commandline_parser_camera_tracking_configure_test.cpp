#include <gtest/gtest.h>

#include <vector>

#include "app/commandline_parser_camera_tracking.h"
#include "features/optical_flow_correlator.h"
#include "foundation/runtime/notify.h"
#include "geometry/rand_sampling.h"
#include "image/image_cache.h"
#include "interaction/controller.h"
#include "optimise/camera_estimator_ptrz.h"
#include "testing/log_capture.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/job/camera_tracking_pool.h"
#include "tracking/maps/feature_map_move.h"

namespace {

using Parser = CommandlineParserCameraTracking;

class ConfigurePoolTest : public ::testing::Test {
 protected:
  ConfigurePoolTest() : saved_level_(NotifyContext::GetNotifyLevel()) {}
  ~ConfigurePoolTest() override {
    NotifyContext::Instance().SetLevel(saved_level_);
    uic::Controller::Instance()->SetTrackingSettings(TrackingSettings());
  }
  void Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "kalvex");
    parser_.Parse(int(args.size()), args.data());
    ASSERT_FALSE(parser_.HasError());
  }
  FeatureMapMove& Move() { return *dynamic_cast<FeatureMapMove*>(pool_.m_fmap_move.Get()); }

  int saved_level_;
  Parser parser_;
  CameraTrackingPool pool_;
};

TEST_F(ConfigurePoolTest, DefaultsChooseFreeMotionWithTheOpticalFlowTracker) {
  Parse({"--export-text=cams.txt", "--batch-mode"});
  parser_.Options().thread_count = 2;
  ASSERT_TRUE(parser_.ConfigureCTrackPool(&pool_));

  EXPECT_EQ(pool_.m_detector, pool_.m_harris);
  EXPECT_EQ(pool_.m_correlator, pool_.m_correlator_optical_flow);
  EXPECT_EQ(pool_.m_sample_calculator, pool_.m_sample_calculator_fmatrix);
  EXPECT_EQ(pool_.m_guided_matching, pool_.m_guided_matching_fmatrix);
  EXPECT_EQ(pool_.m_outlier_detector, pool_.m_rand_sampling);
  auto* sampling = dynamic_cast<RandSampling*>(pool_.m_rand_sampling.Get());
  EXPECT_EQ(sampling->GetSampleCalculator(), pool_.m_sample_calculator_fmatrix);

  FeatureMapMove& move = Move();
  EXPECT_EQ(pool_.m_fmap, pool_.m_fmap_move);
  EXPECT_EQ(move.m_free_move, 1);
  EXPECT_EQ(move.GetCameraEstimator(), pool_.m_camera_estimator_ptrz);
  EXPECT_EQ(move.GetCorrelatorTemplate(), pool_.m_correlator_optical_flow);
  EXPECT_EQ(move.GetOutlierDetector(), pool_.m_rand_sampling);
  EXPECT_EQ(move.GetGuidedMatcher(), pool_.m_guided_matching_fmatrix);
  EXPECT_EQ(move.GetSphereParameter().m_link_mode, 1);

  if (!NotifyContext::Instance().LevelFixed()) {
    EXPECT_EQ(NotifyContext::GetNotifyLevel(), 2);  // warnings only by default
  }
  EXPECT_TRUE(pool_.m_batch_mode);
  EXPECT_EQ(pool_.m_num_threads, 2);
  ASSERT_TRUE(pool_.m_shared_work_buffer);
  EXPECT_EQ(pool_.m_shared_work_buffer->capacity, 6);
  EXPECT_EQ(pool_.m_shared_work_buffer->count, 0);
  EXPECT_EQ(pool_.m_correlator_optical_flow->GetSharedBuffer(), pool_.m_shared_work_buffer);
  ASSERT_EQ(pool_.m_export_list.size(), 1u);
  EXPECT_EQ(pool_.m_export_list[0].file_name, "cams.txt");
  EXPECT_EQ(pool_.m_export_list[0].type, 1);
}

TEST_F(ConfigurePoolTest, PanChoosesTheHomographyAndPureRotation) {
  Parse({"--est-method=pan"});
  ASSERT_TRUE(parser_.ConfigureCTrackPool(&pool_));
  EXPECT_EQ(pool_.m_sample_calculator, pool_.m_sample_calculator_hmatrix);
  EXPECT_EQ(pool_.m_guided_matching, pool_.m_guided_matching_hmatrix);
  EXPECT_EQ(Move().m_free_move, 0);
  EXPECT_EQ(Move().GetCameraEstimator(), pool_.m_camera_estimator_ptrz);
}

TEST_F(ConfigurePoolTest, ParameterBlocksReachComponentsAndSettings) {
  Parse({"--ft-corner-count=500", "--ft-min-dist=11", "--ft-feature-consistency-check=affine"});
  parser_.Options().estimator.max_iterations = 7;
  parser_.Options().free_move.m_ba_max_iter = 40;
  parser_.Options().free_move.m_prior_focal_35mm = 35.0;
  ASSERT_TRUE(parser_.ConfigureCTrackPool(&pool_));

  for (const auto* slot : {&pool_.m_correlator_optical_flow, &pool_.m_correlator_hbm}) {
    const auto* flow = dynamic_cast<FeatureCorrelatorOpticalFlow*>(slot->Get());
    ASSERT_NE(flow, nullptr);
    EXPECT_EQ(flow->GetParameter().m_corner_count, 500u);
    EXPECT_EQ(flow->GetParameter().m_min_dist, 11);
  }
  EXPECT_EQ(Move().GetParameter().m_ba_max_iter, 40);
  EXPECT_EQ(
      dynamic_cast<CameraEstimatorPTRZ<OptimizerLM_PTRZ>*>(pool_.m_camera_estimator_ptrz.Get())
          ->m_optimizer.m_nMaxIterations,
      7);
  EXPECT_EQ(dynamic_cast<CameraEstimatorRT<OptimizerLM_RT>*>(pool_.m_camera_estimator_rt.Get())
                ->m_optimizer.m_nMaxIterations,
            7);

  const TrackingSettings& s = *uic::Controller::Instance()->GetTrackingSettings();
  EXPECT_EQ(s.m_max_corners, 500);
  EXPECT_NEAR(s.m_density, 1.5 - 11.0 / 21.0, 1e-12);
  EXPECT_EQ(s.m_consistency_check, 3);
  EXPECT_EQ(s.m_bundle_max_iter, 40);
  EXPECT_EQ(s.m_prior_focal_length, 35.0);
  EXPECT_EQ(s.m_refinement_method, 3);
  EXPECT_TRUE(s.m_perform_outlier_elimination);
}

TEST_F(ConfigurePoolTest, UnknownMethodWarnsAndSkipsTheRest) {
  struct Case {
    const char* label;
    void (*set)(CameraTrackingOptions&);
    const char* warning;
  };
  const Case cases[] = {
      {"detector", [](CameraTrackingOptions& o) { o.detector_method = 3; },
       "unknown detector method"},
      {"correspondence", [](CameraTrackingOptions& o) { o.correspondence_method = 13; },
       "unknown correspondence analysis method"},
      {"sampler", [](CameraTrackingOptions& o) { o.sampler_method = 5; },
       "unknown random sampler method"},
      {"outlier", [](CameraTrackingOptions& o) { o.outlier_method = 7; },
       "(2) unknown outlier detection method"},
      {"estimation", [](CameraTrackingOptions& o) { o.estimation_method = 9; },
       "(1) unknown estimation method"},
      {"estimation with a fixed sampler",
       [](CameraTrackingOptions& o) {
         o.estimation_method = 9;
         o.sampler_method = 2;
       },
       "(3) unknown estimation method"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    kxtest::LogCapture log(5);
    Parser parser;
    CameraTrackingPool pool;
    parser.Options().export_list.push_back({"x.txt", 1});
    c.set(parser.Options());
    EXPECT_TRUE(parser.ConfigureCTrackPool(&pool));
    EXPECT_TRUE(log.Has(c.warning));
    EXPECT_TRUE(pool.m_export_list.empty());
  }
}

TEST_F(ConfigurePoolTest, NullTargetsFail) {
  kxtest::LogCapture log(2);
  EXPECT_FALSE(parser_.ConfigureCTrackPool(nullptr));
  EXPECT_FALSE(parser_.ConfigureCTrackMgr(nullptr));
  EXPECT_TRUE(log.Has("ctrack pool NULL"));
  EXPECT_TRUE(log.Has("ctrack manager NULL"));
}

TEST_F(ConfigurePoolTest, ManagerWithoutSequenceOnlyConfiguresItsPool) {
  kxtest::LogCapture log(5);
  Parse({"--batch-mode"});
  CameraTrackingManager manager;
  EXPECT_TRUE(parser_.ConfigureCTrackMgr(&manager));
  EXPECT_TRUE(manager.m_batch_mode);
  EXPECT_EQ(manager.m_outlier_detector, manager.m_rand_sampling);
  EXPECT_FALSE(log.Has("sequence"));
}

TEST_F(ConfigurePoolTest, VerboseLevelOutlastsTheConfiguration) {
  if (NotifyContext::Instance().LevelFixed()) GTEST_SKIP() << "NFY_LEVEL fixes the level";
  Parse({"--verbose=info"});
  ASSERT_TRUE(parser_.ConfigureCTrackPool(&pool_));
  EXPECT_EQ(NotifyContext::GetNotifyLevel(), 4);
}

TEST_F(ConfigurePoolTest, PointLimitAndScanFormatReachTheJob) {
  struct Case {
    const char* deinterlacing;
    int field_mode;
    bool top_first;
  };
  const Case cases[] = {{"-d1", 4, true}, {"-d2", 4, false}, {"-d3", 5, true}, {"-d4", 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deinterlacing);
    CommandlineParserCameraTracking parser;
    std::vector<const char*> args = {"kalvex", "--limit-exported-3d-points=10", c.deinterlacing};
    parser.Parse(int(args.size()), args.data());
    ASSERT_FALSE(parser.HasError());
    CameraTrackingManager manager;
    EXPECT_TRUE(parser.ConfigureCTrackMgr(&manager));
    EXPECT_EQ(manager.GetExportPointLimit(), 10);
    EXPECT_EQ(manager.GetImageCache()->GetFieldMode(), c.field_mode);
    EXPECT_EQ(manager.GetImageCache()->TopFieldFirst(), c.top_first);
  }
}

}  // namespace
