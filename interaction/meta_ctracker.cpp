#include "interaction/meta_ctracker.h"

#include <cmath>
#include <cstdio>
#include <exception>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_flags.h"
#include "tracking/maps/feature_map_move.h"

namespace uic {
namespace {

constexpr uint32_t kImageNotProcessed = FIMAGE_FLAG_NOT_PROCESSED;
constexpr uint32_t kCorrelatorReverse = 1;
constexpr uint32_t kCorrelatorTaggedOnly = 2;

void ThreadBody(void* tracker) {
  MetaCTracker::TrackingThread(static_cast<MetaCTracker*>(tracker));
}

// The camera step's mask: 0x30 plus the options of the settings.
int32_t CameraMask(const TrackingSettings& settings) {
  int32_t mask = eStepCamera | eStepFinal;
  if (settings.m_perform_outlier_elimination) mask |= eStepOutliers;
  if (settings.m_perform_final_refinement) mask |= eStepRefinement;
  return mask;
}

bool AnyStepTouchesResult(const std::vector<TrackingStep>& steps) {
  for (const TrackingStep& step : steps) {
    if (step.mask & eStepTouchesResult) return true;
  }
  return false;
}

// Frames in the range: (end - start + 1) / step, 0 for a step of 0.
int FramesInRange(int start, int end, int step) {
  if (step == 0) return 0;
  return (end - start + 1) / step;
}

}  // namespace

MetaCTracker::MetaCTracker() : m_tracking_callback(this) {}

MetaCTracker::~MetaCTracker() {
  StopAndJoin();
}

void MetaCTracker::StopAndJoin() {
  if (m_running.load()) StopTracking();
  if (m_thread) {
    m_thread->Join();
    m_thread.reset();
  }
}

void MetaCTracker::SetDesiredFrame(int /*frame*/) {}
void MetaCTracker::SendProgressMsg(double /*fraction*/) {}

void MetaCTracker::GetFrameRange(int* start, int* end, int* step) {
  *start = GetFrameStart();
  *end = GetFrameEnd();
  *step = GetFrameStep();
}

void MetaCTracker::SendTrackingMsgItems() {}
void MetaCTracker::OnConfigured() {}
void MetaCTracker::OnStartTracking() {}
void MetaCTracker::OnStopTracking() {}

std::vector<TrackingStep> MetaCTracker::BuildStepList(Program program,
                                                      const TrackingSettings& settings) {
  std::vector<TrackingStep> steps;
  switch (program) {
    case eRefinementOnly:
      steps.push_back({eStepRefinement, false, nullptr, nullptr, 0});
      break;
    case eManual:
      steps.push_back(
          {eStepTagged2D, false, &pre_manual_fp_track_forward, &post_manual_fp_track_reset, 1});
      steps.push_back(
          {eStepTagged2D, true, &pre_manual_fp_track_reverse, &post_manual_fp_track_reset, 1});
      steps.push_back({CameraMask(settings), false, &pre_camera_tracking_reset, nullptr, 1});
      break;
    case eAutomatic: {
      const int direction = settings.m_auto_fp2d_track_direction;
      if (direction == 0 || direction == 1) {
        steps.push_back({eStepAuto2D | CameraMask(settings), direction == 1, nullptr, nullptr, 2});
      } else if (direction == 2) {
        steps.push_back({eStepAuto2D, false, nullptr, nullptr, 1});
        steps.push_back(
            {eStepTagged2D, true, &pre_manual_fp_track_reverse, &post_manual_fp_track_reset, 1});
        steps.push_back({CameraMask(settings), false, &pre_camera_tracking_reset, nullptr, 1});
      }
      break;
    }
  }
  return steps;
}

void MetaCTracker::StartAutomaticTracking(const TrackingSettings& settings) {
  Start(eAutomatic, settings);
}

void MetaCTracker::StartManualTracking(const TrackingSettings& settings) {
  Start(eManual, settings);
}

void MetaCTracker::StartRefinement(const TrackingSettings& settings) {
  Start(eRefinementOnly, settings);
}

void MetaCTracker::Start(Program program, const TrackingSettings& settings) {
  // A second run would share the thread record, the ring and the images with the first.
  if (m_running.load() || m_thread) {
    Notify(2, "MetaCTracker::StartTracking: tracking is running, start ignored");
    return;
  }
  m_run_settings = settings;
  m_step_list = BuildStepList(program, m_run_settings);
  if (program == eAutomatic) {
    // The settings dump is for debugging: a run at the default level stays quiet.
    if (NotifyContext::GetNotifyLevel() >= 5) m_run_settings.Dump();
    EngineClearAllFPointsAndResetFMap(kClearResetMap | kClearPoints3D | kClearAutoLinks |
                                      kClearAutoFeatures);
  }
  ConfigureTracking(m_run_settings);
  StartTracking();
}

void MetaCTracker::StopTracking() {
  m_running.store(false);
  m_tracking_callback.SetCancel(true);
  OnStopTracking();
}

void MetaCTracker::ConfigureTracking(const TrackingSettings& settings) {
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (!map) {
    Notify(2, "MetaCTracker::ConfigureTracking: feature map not set!");
    return;
  }
  int start = 0, end = 0, step = 1;
  GetFrameRange(&start, &end, &step);
  m_tracking_callback.Reset(FramesInRange(start, end, step));
  map->SetObserver(&m_tracking_callback);

  FeatureMapMove* move = dynamic_cast<FeatureMapMove*>(m_fmap_move.Get());
  const bool pure_rotation = settings.m_camera_motion_constraint == 1;
  if (pure_rotation) {
    m_sample_calculator = m_sample_calculator_hmatrix;
    m_guided_matching = m_guided_matching_hmatrix;
    if (move) move->m_free_move = 0;
    Notify(5, "MetaCTracker::ConfigureTracking: pure rotation");
  } else {
    m_sample_calculator = m_sample_calculator_fmatrix;
    m_guided_matching = m_guided_matching_fmatrix;
    if (move) move->m_free_move = 1;
    Notify(5, "MetaCTracker::ConfigureTracking: free move");
  }

  if (m_correlator) m_correlator->Reset();
  settings.UpdateCorrelatorParameter(m_correlator.Get());
  map->SetCorrelatorTemplate(m_correlator);

  if (RandSampling* sampling = dynamic_cast<RandSampling*>(m_rand_sampling.Get())) {
    sampling->SetSampleCalculator(m_sample_calculator);
  }
  m_outlier_detector = m_rand_sampling;
  map->SetOutlierDetector(m_outlier_detector);
  map->SetGuidedMatcher(m_guided_matching);
  map->SetCameraEstimator(m_camera_estimator_ptrz);

  const bool rebuilds = AnyStepTouchesResult(m_step_list);
  if (rebuilds) {
    EngineInitCameras();
    m_scene.ClearData();
  }

  if (pure_rotation) {
    if (move) move->GetSphereParameter().m_ba_max_iterations = settings.m_bundle_max_iter;
  } else if (move) {
    FeatureMapMove::Parameter parameter = move->GetParameter();
    const int constraint = settings.m_focal_length_constraint;
    parameter.m_estimate_focal = constraint == 4 ? 0 : (constraint == 1 ? 1 : 2);
    if (rebuilds) EngineSetInitFocalLength(-1.0);
    Notify(5, "HHHH MetaCTracker::ConfigureTracking: fmap_para.m_estimate_focal %d",
           parameter.m_estimate_focal);
    if (rebuilds && constraint == 4) {
      EngineSetInitFocalLength(settings.m_prior_focal_length);
      Notify(5, "HHHH MetaCTracker::ConfigureTracking: fixed focal length %f [mm]",
             settings.m_prior_focal_length);
    } else if (rebuilds && (constraint == 2 || constraint == 3)) {
      EngineSetInitFocalLength(settings.m_prior_focal_length);
      Notify(5, "HHHH MetaCTracker::ConfigureTracking: init focal length %f [mm]",
             settings.m_prior_focal_length);
    }
    parameter.m_ba_max_iter = settings.m_bundle_max_iter;
    move->SetParameter(parameter);
  }
  OnConfigured();
}

bool MetaCTracker::StartTracking() {
  if (AnyStepTouchesResult(m_step_list)) EngineClearUndoStack();
  OnStartTracking();
  m_running.store(true);
  if (CreateTrackingThread()) return true;
  // Without this the interface would show a run that never ends.
  m_thread.reset();
  Notify(2, "MetaCTracker::StartTracking: the tracking thread could not be created");
  EndRunAtOnce();
  return false;
}

bool MetaCTracker::CreateTrackingThread() {
  m_thread = std::make_unique<platform::Thread>();
  return m_thread->Start(&ThreadBody, this);
}

void MetaCTracker::EndRunAtOnce() {
  m_running.store(false);
  PostTrackingMsg(eMsgTrackingFinished);
  SendTrackingMsgItems();
}

void MetaCTracker::ComputeFrame(unsigned index, int mask) {
  Compute(index, mask);
}

void MetaCTracker::ComputeFinalEstimation() {
  ComputeFinalCameraEstimation();
}

void MetaCTracker::ComputeRefinement() {
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if (map) map->Refinement();
}

void MetaCTracker::TrackingThread(MetaCTracker* tracker) {
  if (tracker == nullptr) {
    Notify(2, "MetaCTracker::TrackingThread: can't get camera tracking manager");
    return;
  }
  try {
    tracker->RunTrackingThread();
  } catch (...) {
    // A step action or hook threw: the run still has to end, or the interface waits forever.
    Notify(2, "MetaCTracker::TrackingThread: tracking aborted by an unexpected exception");
    tracker->EndRunAtOnce();
  }
}

namespace {

// Runs call and turns every exception into its message; true when nothing was thrown.
template <class Call>
bool CatchAll(Call&& call, const char** message) {
  try {
    call();
    return true;
  } catch (const char* text) {
    *message = text ? text : "";
  } catch (const std::exception& error) {
    static thread_local std::string what;
    what = error.what();
    *message = what.c_str();
  } catch (...) {
    *message = "unknown exception";
  }
  return false;
}

}  // namespace

void MetaCTracker::MarkFrames(int f, int start, int end, int step, bool reverse, bool lock) {
  for (; f <= end; f += step) {
    const int index = reverse ? end - f + start : f;
    if (index < start || index > end) break;
    const SharedPtr<FeatureImage>& image = GetFImage(unsigned(index));
    if (!image) {
      Notify(2, "MetaCTracker::TrackingThread: %s, bad image list access index %ld",
             lock ? "locking" : "unlocking", long(index));
      continue;
    }
    if (lock) {
      image->SetFlags(kImageNotProcessed);
    } else {
      image->ClearFlags(kImageNotProcessed);
    }
  }
}

void MetaCTracker::RunTrackingThread() {
  int start = 0, end = 0, step = 1;
  bool ready = true;
  if (!GetFeatureMap()) {
    Notify(2, "MetaCTracker::TrackingThread: feature map not set");
    ready = false;
  } else {
    GetFrameRange(&start, &end, &step);
    if (end <= start) {
      ready = false;
    } else {
      Notify(5, "MetaCTracker::TrackingThread: track from %d to %d with step %d", start, end, step);
      PerspectiveCamera* camera = GetInitCamera();
      if (camera == nullptr) {
        Notify(2, "MetaCTracker::TrackingThread: initial camera not set");
        ready = false;
      } else {
        Notify(5, "MetaCTracker::TrackingThread: start with initial focal %g [mm], fov %g [DEG]",
               camera->GetFocalLength(), camera->GetHorizontalFieldOfView() * 180.0 / M_PI);
      }
      if (ready && step == 0) {
        Notify(2, "MetaCTracker::TrackingThread: step size 0");
        ready = false;
      }
    }
  }
  if (!ready) {
    EndRunAtOnce();
    return;
  }

  const int frames = FramesInRange(start, end, step);
  m_tracking_callback.Reset(frames);
  for (const TrackingStep& s : m_step_list) {
    m_tracking_callback.AddExpectedWork(s.mask, frames, 20);
  }
  const bool files = m_image_cache.GetSourceKind() < 3;
  const bool prefetch = files && WorkerPool::GetNumberOfThreads() > 1;

  bool stopped = false;
  size_t next_step = 0;
  double work_before_step = 0.0;  // expected work of the steps already finished
  for (; next_step < m_step_list.size() && !stopped; ++next_step) {
    const TrackingStep& s = m_step_list[next_step];
    m_tracking_callback.SetDisplayKind(s.display_kind);
    if (s.pre) {
      std::lock_guard<std::shared_mutex> changing(m_result_lock);
      s.pre(this);
    }

    if (s.mask & eStepPerFrame) {
      m_first_image_index = 0;
      MarkFrames(start, start, end, step, s.reverse, true);
      for (int f = start; f <= end;) {
        int index = s.reverse ? end - f + start : f;
        if (index < start || index > end) break;
        if (prefetch) {
          const int next = s.reverse ? end - f - step + start : index + step;
          if (next >= start && next <= end) m_image_cache.Prefetch(next);
        }
        if (!m_running.load()) {
          stopped = true;
          // Unprocessed frames would otherwise stay hidden until the next run.
          MarkFrames(f, start, end, step, s.reverse, false);
          break;
        }
        const char* message = nullptr;
        if (!CatchAll(
                [&] {
                  std::lock_guard<std::shared_mutex> changing(m_result_lock);
                  ComputeFrame(unsigned(index), s.mask);
                },
                &message)) {
          Notify(2,
                 "MetaCTracker::TrackingThread: tracking steps (mask) %d failed for image %d with "
                 "message \"%s\"",
                 s.mask, index, message);
          MarkFrames(f, start, end, step, s.reverse, false);
          break;
        }
        if (!files && index + 1 > end) {
          EngineRecycleImages(10);
          f -= 10;
          index -= 10;
          const int count = int(GetImageList().size());
          MarkFrames(count - 10, count - 10, count - 1, 1, false, true);
        }
        const SharedPtr<FeatureImage>& done = GetFImage(unsigned(index));
        if (done) done->ClearFlags(kImageNotProcessed);
        f += step;
      }
    }

    if (s.mask & eStepFinal) {
      const char* message = nullptr;
      if (!CatchAll(
              [&] {
                std::lock_guard<std::shared_mutex> changing(m_result_lock);
                ComputeFinalEstimation();
              },
              &message)) {
        Notify(2, "MetaCTracker::TrackingThread: final estimation failed with message \"%s\"",
               message);
      }
      PostTrackingMsg(eMsgSceneChanged);
    }
    // Everything of the step but its refinement is done, whatever was reported.
    if (!stopped) {
      m_tracking_callback.CompleteWorkUpTo(
          work_before_step +
          m_tracking_callback.ExpectedWork(s.mask & ~eStepRefinement, frames, 20));
    }
    if ((s.mask & eStepRefinement) && m_running.load()) {
      const char* message = nullptr;
      if (!CatchAll(
              [&] {
                std::lock_guard<std::shared_mutex> changing(m_result_lock);
                ComputeRefinement();
              },
              &message)) {
        Notify(2, "MetaCTracker::TrackingThread: refinement failed with message \"%s\"", message);
      }
    }
    work_before_step += m_tracking_callback.ExpectedWork(s.mask, frames, 20);
    if (!stopped && m_running.load()) m_tracking_callback.CompleteWorkUpTo(work_before_step);
    if (s.post) {
      std::lock_guard<std::shared_mutex> changing(m_result_lock);
      s.post(this);
    }
  }
  if (!stopped && m_running.load()) m_tracking_callback.ReportFinished();

  m_running.store(false);
  PostTrackingMsg(eMsgTrackingFinished);
  if (stopped) {
    // The first unstarted step's post-action undoes what the earlier pre-actions set up.
    if (next_step < m_step_list.size() && m_step_list[next_step].post) {
      m_step_list[next_step].post(this);
    }
    m_progress_value = 0.0;
    PostTrackingMsg(eMsgCorrelatorReset);
    PostTrackingMsg(eMsgDataChanged);
  }
  SendTrackingMsgItems();
}

// ---- messages

void MetaCTracker::PostTrackingMsg(int32_t code) {
  m_ring.Post(code);
}

int MetaCTracker::TrackingMsgHandler(MetaCTracker* tracker) {
  return HandleTrackingMessages(tracker->m_ring, *tracker);
}

void MetaCTracker::EmitProgress() {
  m_progress_signal.Emit(m_progress_value);
}

void MetaCTracker::ResetCorrelator() {
  ResetCurrentCorrelator(*this);
}

void MetaCTracker::EmitTrackingMessage(int code) {
  m_message_signal.Emit(*this, MessageType(code));
}

void MetaCTracker::SetSceneData() {
  m_scene.SetData(this);
}

void MetaCTracker::TrackingFinished() {
  m_scene.SetData(this);
  if (m_thread) {
    m_thread->Join();
    m_thread.reset();
  }
}

// ---- step actions

void MetaCTracker::pre_manual_fp_track_forward(MetaCTracker* tracker) {
  if (tracker->m_correlator) {
    tracker->m_correlator->Reset();
    tracker->m_correlator->SetFlags(kCorrelatorTaggedOnly);
  }
  if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) map->ClearImages();
}

void MetaCTracker::pre_manual_fp_track_reverse(MetaCTracker* tracker) {
  tracker->EngineSetFPoint2DBitMask(0, FP2D_FLAG_TO_TRACK, false);
  const long tagged = tracker->EngineSetFPoint2DBitMask(1, FP2D_FLAG_TO_TRACK, true);
  Notify(5, "MetaCTracker::pre_manual_fp_track_reverse: tagged %ld features to track reverse",
         tagged);
  if (tracker->m_correlator) {
    tracker->m_correlator->Reset();
    tracker->m_correlator->SetFlags(kCorrelatorTaggedOnly | kCorrelatorReverse);
  }
  if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) map->ClearImages();
}

void MetaCTracker::post_manual_fp_track_reset(MetaCTracker* tracker) {
  if (tracker->m_correlator) {
    tracker->m_correlator->Reset();
    tracker->m_correlator->ClearFlags(kCorrelatorReverse);
  }
  const long cleared = tracker->EngineSetFPoint2DBitMask(0, FP2D_FLAG_TO_TRACK, false);
  Notify(5, "MetaCTracker::post_manual_fp_track_reset: clear to track tag of %ld features",
         cleared);
}

void MetaCTracker::pre_camera_tracking_reset(MetaCTracker* tracker) {
  int bits = 2;
  if (tracker->m_run_settings.m_perform_outlier_elimination) bits |= 0x40;
  tracker->EngineClearAllFPointsAndResetFMap(bits);
  if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) map->ClearImages();
}

}  // namespace uic
