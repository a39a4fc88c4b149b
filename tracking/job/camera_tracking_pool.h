// CameraTrackingPool: one instance of every exchangeable tracking component of a job
// (corner detectors, 2D correlators, guided matching, sample calculators, outlier
// detectors, camera estimators, feature maps), each created once and held shared, plus
// the "current" slots naming the instances a run uses (a second handle to one of the
// instances, or empty). The tracking manager derives from it; the command-line
// configuration and the tracking driver fill the current slots; CopyParameter takes over
// every parameter block of another pool.
//
// Lives as long as its manager; construction, configuration and CopyParameter run on the
// GUI thread before or between runs.
#pragma once

#include <string>
#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_correlator_hbm.h"
#include "features/feature_correlator_syn.h"
#include "features/foerstner.h"
#include "features/harris.h"
#include "features/meta_detector.h"
#include "features/optical_flow_correlator.h"
#include "features/track_file_correlator.h"
#include "foundation/runtime/shared_ptr.h"
#include "geometry/guided_matching.h"
#include "geometry/outlier_detector.h"
#include "geometry/outlier_detector_known_cam.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_hmatrix.h"
#include "geometry/sample_calculator_ptrz.h"
#include "geometry/sample_calculator_tknownrk.h"
#include "optimise/camera_estimator.h"
#include "optimise/camera_estimator_ptrz.h"
#include "tracking/maps/feature_map.h"

class FeatureMapMove;

// One export the command line asked for, run at the end of a batch run.
struct ExportRequest {
  std::string file_name;  // the option's value unchanged
  int type = 0;           // export type code of the export dispatcher
};

class CameraTrackingPool {
 public:
  // Creates every component; the current slots name Harris, the optical-flow correlator,
  // the pan/tilt/roll/zoom calculator and the free-motion map.
  CameraTrackingPool();
  virtual ~CameraTrackingPool();
  CameraTrackingPool(const CameraTrackingPool&) = delete;
  CameraTrackingPool& operator=(const CameraTrackingPool&) = delete;

  // Copies the parameter blocks of every component of other into this pool's components
  // (never handles, never the current slots).
  virtual void CopyParameter(const CameraTrackingPool& other);

  // A counted copy of the current feature map (null when empty).
  SharedPtr<FeatureMap> GetFeatureMap() const { return m_fmap; }
  // The free-motion map of slot m_fmap_move; null when the slot is empty or holds
  // another kind of map (the live map too, which shares the free-motion engine).
  FeatureMapMove* GetFreeMotionMap() const;
  // Whether map is the live free-motion map: the live slot's, or any of its kind.
  bool IsLiveMap(const FeatureMap* map) const;

  // ---- the slots (direct access is part of the interface)
  SharedPtr<MetaDetector> m_harris;
  SharedPtr<MetaDetector> m_foerstner;
  SharedPtr<MetaDetector> m_detector;  // current
  SharedPtr<FeatureCorrelator> m_correlator_syn;
  SharedPtr<FeatureCorrelator> m_correlator_optical_flow;
  SharedPtr<FeatureCorrelator> m_correlator_hbm;
  SharedPtr<FeatureCorrelator> m_correlator_read_ft2d;
  SharedPtr<FeatureCorrelator> m_correlator;  // current
  SharedPtr<GuidedMatching> m_guided_matching_hmatrix;
  SharedPtr<GuidedMatching> m_guided_matching_fmatrix;
  SharedPtr<GuidedMatching> m_guided_matching;  // current
  SharedPtr<SampleCalculator> m_sample_calculator_ptrz;
  SharedPtr<SampleCalculator> m_sample_calculator_tknownrk;
  SharedPtr<SampleCalculator> m_sample_calculator_fmatrix;
  SharedPtr<SampleCalculator> m_sample_calculator_hmatrix;
  SharedPtr<SampleCalculator> m_sample_calculator;  // current
  SharedPtr<OutlierDetector> m_outlier_detector;    // current
  SharedPtr<OutlierDetector> m_rand_sampling;
  SharedPtr<OutlierDetector> m_outlier_detector_known_cam;
  SharedPtr<CameraEstimator> m_camera_estimator_ptrz;
  SharedPtr<CameraEstimator> m_camera_estimator_rt;
  SharedPtr<FeatureMap> m_fmap;  // current
  SharedPtr<FeatureMap> m_fmap_move;
  // The live free-motion map; no configuration makes it current.
  SharedPtr<FeatureMap> m_fmap_move_live;
  SharedPtr<SharedWorkBuffer> m_shared_work_buffer;
  // Exports requested on the command line, run at the end of a batch run.
  std::vector<ExportRequest> m_export_list;
  // Batch mode: track as soon as the job is set up, export, exit.
  bool m_batch_mode = false;
  // Threads the shared work buffer is sized for.
  int m_num_threads = 1;
};
