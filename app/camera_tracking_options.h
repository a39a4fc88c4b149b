// CameraTrackingOptions: what the command line and configuration files set for the first
// tracking job, with the parameter blocks the job's components are configured from.
//
// A plain record: filled while the arguments are parsed (before any window exists),
// applied once by CommandlineParserCameraTracking::ConfigureCTrackMgr. The defaults are
// the program's compiled defaults; fields without an option keep them.
#pragma once

#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/harris.h"
#include "features/optical_flow_parameter.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_ptrz.h"
#include "tracking/job/camera_tracking_pool.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/feature_map_sphere.h"

// The iteration settings of the camera estimators' optimiser.
struct CameraEstimatorOptimizerBlock {
  double tolerance = 0.001;           // relative improvement that counts as a small step
  int max_iter_within_tolerance = 2;  // small steps that end the iteration
  int max_bad_iterations = 4;         // steps without improvement that end it
  int max_iterations = 20;            // iteration limit
};

struct CameraTrackingOptions {
  CameraTrackingOptions();

  int first_frame = -1;  // -1: the first existing image
  int last_frame = -1;   // -1: the last existing image
  int frame_step = 1;
  int deinterlacing = 0;  // 0 progressive .. 4 both fields, bottom field first
  std::vector<ExportRequest> export_list;
  int export_point_limit = -1;  // -1: no limit
  std::string log_file_path;
  std::string batch_project_template;
  int detector_method = 0;  // 0 or 2 Harris, 1 Foerstner
  Harris::Parameter harris;
  FeatureCorrelatorSyn::Parameter synthetic;
  OpticalFlowParameter optical_flow;
  RandSampling::Parameter sampling;
  SampleCalculatorPTRZ::Parameter ptrz;
  CameraEstimatorOptimizerBlock estimator;
  FeatureMapSphere::Parameter sphere{1};
  FeatureMapMove::Parameter free_move;
  std::string sequence_text1;  // handed to the sequence set-up as null
  std::string sequence_text2;
  bool batch_mode = false;
  int estimation_method = 8;       // 7 pure rotation, 8 free motion
  int outlier_method = 6;          // 5 known camera, 6 random sampling
  int sampler_method = 0;          // 0 by the estimation method, 1..4 a fixed calculator
  int correspondence_method = 11;  // 10 synthetic, 11 optical flow, 12 block matching
  int thread_count = -1;           // set by start-up to the worker pool's size
  double pixel_aspect = -1.0;      // not positive: not given
  int verbose_level = -1;          // log level chosen with "verbose"; -1: warnings
};
