// Applying the option record to the first tracking job: components, parameter blocks,
// the controller's settings, the image sequence and the pixel aspect.
#include <utility>

#include "app/commandline_parser_camera_tracking.h"
#include "features/feature_correlator_syn.h"
#include "features/harris.h"
#include "features/optical_flow_correlator.h"
#include "foundation/runtime/notify.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_ptrz.h"
#include "image/image_cache.h"
#include "interaction/controller.h"
#include "optimise/camera_estimator_ptrz.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/job/camera_tracking_pool.h"
#include "tracking/maps/feature_map_move.h"

namespace {

template <class Estimator>
void SetOptimizerBlock(const SharedPtr<CameraEstimator>& slot,
                       const CameraEstimatorOptimizerBlock& block) {
  auto* estimator = dynamic_cast<Estimator*>(slot.Get());
  if (estimator == nullptr) return;
  estimator->m_optimizer.m_tolerance = block.tolerance;
  estimator->m_optimizer.m_nMaxIterWithinTolerance = block.max_iter_within_tolerance;
  estimator->m_optimizer.m_nMaxBadIterations = block.max_bad_iterations;
  estimator->m_optimizer.m_nMaxIterations = block.max_iterations;
}

template <class T, class Base>
T* As(const SharedPtr<Base>& slot) {
  return dynamic_cast<T*>(slot.Get());
}

#define POOL_MSG(text) "CommandlineParserCameraTracking::ConfigureCTrackPool: " text

}  // namespace

bool CommandlineParserCameraTracking::ConfigureCTrackMgr(CameraTrackingManager* manager) {
  if (manager == nullptr) {
    Notify(2, "CommandlineParserCameraTracking::ConfigureCTrackMgr: ctrack manager NULL");
    return false;
  }
  if (!ConfigureCTrackPool(manager)) return false;
  manager->SetExportPointLimit(m_options.export_point_limit);
  // The scan format before the sequence: field modes 3 and 5 make two images per file.
  if (m_options.deinterlacing > 0 && m_options.deinterlacing <= 4) {
    ImageCache* cache = manager->GetImageCache();
    cache->SetTopFieldFirst(m_options.deinterlacing % 2 == 1);
    cache->SetFieldMode(m_options.deinterlacing <= 2 ? 4 : 5);
    cache->ClearCache();
  }
  if (!m_image_file_template.empty()) {
    manager->SetSequence(m_image_file_template.c_str(), m_options.first_frame, m_options.last_frame,
                         m_options.frame_step, nullptr, nullptr, nullptr);
  }
  if (m_options.pixel_aspect > 0.0) manager->SetPixelAspects(m_options.pixel_aspect, 0.0);
  Notify(5, "CommandlineParserCameraTracking::ConfigureCTrackMgr: finished");
  return true;
}

void CommandlineParserCameraTracking::ConfigureControllerSettings() {
  uic::Controller* controller = uic::Controller::Instance();
  TrackingSettings settings = *controller->GetTrackingSettings();
  settings.SetFromCorrelatorParameter(m_options.optical_flow);
  const FeatureMapMove::Parameter& block = m_options.free_move;
  // The free-motion block carries no switch for the outlier elimination and no mapping
  // error limit: both take the block's defaults.
  settings.m_perform_outlier_elimination = true;
  settings.m_max_mapping_error = 1.0;
  settings.m_prior_focal_length = block.m_prior_focal_35mm;
  settings.m_refinement_method = block.m_optMethod;
  settings.m_bundle_max_iter = block.m_ba_max_iter;
  controller->SetTrackingSettings(settings);
}

bool CommandlineParserCameraTracking::ConfigureCTrackPool(CameraTrackingPool* pool) {
  if (pool == nullptr) {
    Notify(2, POOL_MSG("ctrack pool NULL"));
    return false;
  }
  const CameraTrackingOptions& o = m_options;
  pool->m_batch_mode = o.batch_mode;
  pool->m_num_threads = o.thread_count;

  // Yields to NFY_LEVEL. Without "verbose" a run shows warnings only: the notices are the
  // engine's working notes.
  NotifyContext::SetNotifyLevel(o.verbose_level >= 0 ? o.verbose_level : 2);

  if (auto* harris = As<Harris>(pool->m_harris)) harris->SetParameter(o.harris);
  if (auto* syn = As<FeatureCorrelatorSyn>(pool->m_correlator_syn)) syn->SetParameter(o.synthetic);
  if (auto* flow = As<FeatureCorrelatorOpticalFlow>(pool->m_correlator_optical_flow)) {
    flow->SetParameter(o.optical_flow);
  }
  if (auto* hbm = As<FeatureCorrelatorOpticalFlow>(pool->m_correlator_hbm)) {
    hbm->SetParameter(o.optical_flow);
  }
  if (auto* ptrz = As<SampleCalculatorPTRZ>(pool->m_sample_calculator_ptrz)) {
    ptrz->SetParameter(o.ptrz);
  }

  ConfigureControllerSettings();

  switch (o.detector_method) {
    case 0:
    case 2:
      pool->m_detector = pool->m_harris;
      break;
    case 1:
      pool->m_detector = pool->m_foerstner;
      break;
    default:
      Notify(2, POOL_MSG("unknown detector method"));
      return true;
  }

  switch (o.correspondence_method) {
    case 10:
      pool->m_correlator = pool->m_correlator_syn;
      break;
    case 11:
      pool->m_correlator = pool->m_correlator_optical_flow;
      break;
    case 12:
      pool->m_correlator = pool->m_correlator_hbm;
      break;
    default:
      Notify(2, POOL_MSG("unknown correspondence analysis method"));
      return true;
  }

  auto use = [pool](const SharedPtr<SampleCalculator>& calculator,
                    const SharedPtr<GuidedMatching>& matcher) {
    pool->m_sample_calculator = calculator;
    pool->m_guided_matching = matcher;
  };
  switch (o.sampler_method) {
    case 0:
      if (o.estimation_method == 7) {
        use(pool->m_sample_calculator_hmatrix, pool->m_guided_matching_hmatrix);
      } else if (o.estimation_method == 8) {
        use(pool->m_sample_calculator_fmatrix, pool->m_guided_matching_fmatrix);
      } else {
        Notify(2, POOL_MSG("(1) unknown estimation method"));
        return true;
      }
      break;
    case 1:
      Notify(5, POOL_MSG("using the trans. sample calculator"));
      use(pool->m_sample_calculator_tknownrk, nullptr);
      break;
    case 2:
      Notify(5, POOL_MSG("using the ptrz sample calculator"));
      use(pool->m_sample_calculator_ptrz, nullptr);
      break;
    case 3:
      Notify(5, POOL_MSG("using the F-matrix sample calculator"));
      use(pool->m_sample_calculator_fmatrix, pool->m_guided_matching_fmatrix);
      break;
    case 4:
      Notify(5, POOL_MSG("using the H-matrix sample calculator"));
      use(pool->m_sample_calculator_hmatrix, pool->m_guided_matching_hmatrix);
      break;
    default:
      Notify(2, POOL_MSG("unknown random sampler method"));
      return true;
  }

  if (auto* sampling = As<RandSampling>(pool->m_rand_sampling)) {
    sampling->SetParameter(o.sampling);
    sampling->SetSampleCalculator(pool->m_sample_calculator);
  }

  switch (o.outlier_method) {
    case 5:
      Notify(5, POOL_MSG("using  the Known Camera - outlier detector"));
      pool->m_outlier_detector = pool->m_outlier_detector_known_cam;
      break;
    case 6:
      Notify(5, POOL_MSG("using  the Random Sampling - outlier detector"));
      pool->m_outlier_detector = pool->m_rand_sampling;
      break;
    default:
      Notify(2, POOL_MSG("(2) unknown outlier detection method"));
      return true;
  }

  if (!pool->m_correlator) {
    Notify(2, POOL_MSG("correlator null"));
    return true;
  }
  if (!pool->m_outlier_detector) {
    Notify(2, POOL_MSG("outlierdetector null"));
    return true;
  }
  if (!pool->m_fmap) {
    Notify(2, POOL_MSG("fmap free move null"));
    return true;
  }

  // Not the live map, which keeps its own settings.
  FeatureMapMove* move = pool->GetFreeMotionMap();
  if (move != nullptr) {
    move->GetSphereParameter() = o.sphere;
    move->SetParameter(o.free_move);
  }

  FeatureMap& map = *pool->m_fmap;
  map.SetCorrelatorTemplate(pool->m_correlator);
  map.SetOutlierDetector(pool->m_outlier_detector);
  if (pool->m_guided_matching) map.SetGuidedMatcher(pool->m_guided_matching);

  SetOptimizerBlock<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>(pool->m_camera_estimator_ptrz,
                                                           o.estimator);
  SetOptimizerBlock<CameraEstimatorRT<OptimizerLM_RT>>(pool->m_camera_estimator_rt, o.estimator);

  if (o.estimation_method == 7 || o.estimation_method == 8) {
    if (move != nullptr) {
      move->SetCameraEstimator(pool->m_camera_estimator_ptrz);
      move->m_free_move = o.estimation_method == 8 ? 1 : 0;
    }
  } else {
    Notify(2, POOL_MSG("(3) unknown estimation method"));
    return true;
  }

  if (pool->m_num_threads > 1) {
    pool->m_shared_work_buffer = SharedPtr<SharedWorkBuffer>::Make(3 * pool->m_num_threads);
    if (pool->m_correlator_optical_flow) {
      pool->m_correlator_optical_flow->SetSharedBuffer(pool->m_shared_work_buffer);
    } else {
      Notify(2, POOL_MSG("optical flow correlator null"));
    }
  }

  pool->m_export_list = o.export_list;
  return true;
}
