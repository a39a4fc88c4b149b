// uic::MetaCTracker: the tracking job as the interface sees it: the engine's
// CameraTrackingManager plus the scene shown in the viewers, the sequence description,
// and the machinery that runs a tracking run on a thread of its own.
//
// A run is a short program of steps (BuildStepList). Each step names the engine stages
// run for every frame of the range (mask bits 0x01 to 0x10, handed to Compute), the
// direction, an action before and after the frame loop, and which frames the interface is
// asked to show; bit 0x20 runs the final estimation and 0x40 the refinement once after the
// frame loop. The start operations copy the settings, build the program, configure the
// pool's components and start the thread; they return at once. The run ends with code 2
// in the message ring (plus 3 and 5 when it was stopped) and a call of
// SendTrackingMsgItems, after which the interface thread drains the ring with
// TrackingMsgHandler, which runs TrackingFinished (it joins the thread).
//
// Threads: the start operations, StopTracking, ConfigureTracking and the drain run on the
// interface thread; TrackingThread runs on the tracking thread and calls the hooks
// SetDesiredFrame, SendProgressMsg and SendTrackingMsgItems there. While a run is active
// the interface writes only the running and cancel flags; it must not change the images,
// the range or the settings. Destroying the tracker stops a run and joins the thread
// before any member dies.
//
// Failures: the engine's thrown texts (and any other exception) are caught at the frame
// loop, the final estimation and the refinement, logged, and the run goes on with the next
// part; every run, also one whose thread could not be created, ends with code 2.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "foundation/runtime/signal.h"
#include "interaction/sequence_property.h"
#include "interaction/tracking_callback.h"
#include "interaction/tracking_message_ring.h"
#include "interaction/tracking_settings.h"
#include "platform/thread.h"
#include "scene/objects/stored_object_factory.h"
#include "scene/scene.h"
#include "tracking/job/camera_tracking_manager.h"

namespace uic {

class MetaCTracker;

// Step-mask bits.
enum TrackingStepBits : int32_t {
  eStepAuto2D = 0x03,                                       // automatic 2D feature tracking
  eStepTagged2D = CameraTrackingManager::kStepMatchTagged,  // the features tagged for tracking
  eStepOutliers = CameraTrackingManager::kStepOutliers,     // outlier elimination
  eStepCamera = CameraTrackingManager::kStepCamera,         // camera estimation
  eStepFinal = 0x20,          // final estimation, once after the frame loop
  eStepRefinement = 0x40,     // refinement, once after the frame loop
  eStepPerFrame = 0x1F,       // the bits handed to Compute for every frame
  eStepTouchesResult = 0x3F,  // a step with one of these rebuilds the result
};

struct TrackingStep {
  using Action = void (*)(MetaCTracker*);
  int32_t mask = 0;
  bool reverse = false;  // the frame loop runs from the end of the range to its start
  Action pre = nullptr;
  Action post = nullptr;
  // 0 show nothing, 1 the frames 2D tracking reports, 2 the frames camera estimation
  // reports.
  int32_t display_kind = 0;
};

class MetaCTracker : public CameraTrackingManager,
                     public HasSlots,
                     public SequenceProperty,
                     public TrackingCallbackOwner,
                     public TrackingMessageTarget {
 public:
  using MessageType = TrackingMessageType;
  enum Program { eAutomatic, eManual, eRefinementOnly };

  MetaCTracker();
  // Stops a run in progress and joins the thread (also one that ended but was not yet
  // joined) before any member is destroyed.
  ~MetaCTracker() override;

  // ---- hooks (empty here; the interface's bridge overrides the first four)
  void SetDesiredFrame(int frame) override;
  void SendProgressMsg(double fraction) override;
  virtual void GetFrameRange(int* start, int* end, int* step);
  virtual void SendTrackingMsgItems();
  // Closes a run on the interface thread: fills the scene from the result and joins the
  // thread.
  void TrackingFinished() override;
  virtual void OnConfigured();
  virtual void OnStartTracking();
  virtual void OnStopTracking();

  // ---- runs (interface thread)
  // Each copies settings into the run settings, builds the program, configures and starts
  // the thread. A start while a run is active (or its thread not yet joined) logs a
  // warning and changes nothing. The automatic start first dumps the settings to stderr
  // and clears the automatic features, correspondences, 3D points and the map.
  void StartAutomaticTracking(const TrackingSettings& settings);
  void StartManualTracking(const TrackingSettings& settings);
  void StartRefinement(const TrackingSettings& settings);
  // running := false, cancel := true (the optimisers poll it), then OnStopTracking. The
  // thread ends at the next frame boundary.
  void StopTracking();
  bool IsTracking() const { return m_running.load(); }
  // The tracking thread holds it exclusively while a step may change the images' features,
  // anchors and links (a frame's stages, the final estimation, the refinement, the step
  // actions); the viewers read those under its shared side with try_lock_shared and leave
  // them out of a redraw that would have to wait.
  std::shared_mutex& GetResultLock() { return m_result_lock; }
  // Wires the current map to the correlator, outlier detector, guided matching and camera
  // estimator the settings ask for, applies the feature settings to the correlator and
  // installs the callback as the map's observer.
  void ConfigureTracking(const TrackingSettings& settings);
  // Sets running and starts the thread. A thread that cannot be created clears running,
  // logs a warning and ends the run at once with code 2. False then.
  bool StartTracking();
  // The thread's body (on the tracking thread).
  static void TrackingThread(MetaCTracker* tracker);

  // The step program of a start operation for the given settings.
  static std::vector<TrackingStep> BuildStepList(Program program, const TrackingSettings& settings);

  // ---- step actions
  static void pre_manual_fp_track_forward(MetaCTracker* tracker);
  static void pre_manual_fp_track_reverse(MetaCTracker* tracker);
  static void post_manual_fp_track_reset(MetaCTracker* tracker);
  static void pre_camera_tracking_reset(MetaCTracker* tracker);

  // ---- messages
  // Pushes a code into the ring (tracking thread).
  void PostTrackingMsg(int32_t code);
  // Drains the ring oldest first and handles every code (interface thread); returns 0.
  static int TrackingMsgHandler(MetaCTracker* tracker);

  // ---- what the message codes do (interface thread)
  void EmitProgress() override;
  void ResetCorrelator() override;
  void EmitTrackingMessage(int code) override;
  void SetSceneData() override;

  // ---- sequence (interface thread, between runs; meta_ctracker_sequence.cpp)
  using CameraTrackingManager::SetSequence;
  // Takes a new image list: SetImageFileList, then the undo stack, the scene and every
  // feature, point and link are cleared, the scene refilled and the description derived
  // from the first image. 0; 1 for a null or empty list; else SetImageFileList's code
  // (nothing else changes then).
  int SetSequence(SharedPtr<PackedStringList> list);
  // Derives the sequence description from image 0 and the known formats and sets the
  // cameras' pixel sizes for it. Nothing without images.
  void UpdateSequenceProperty();
  // Applies the user's interlacing, anamorphic flag, image and sensor aspect, frame rate
  // and sensor diagonal from p (its other fields are ignored); a new interlacing mode
  // rebuilds the images and clears every result and the undo stack. Sends message 5;
  // true when anything changed.
  bool SetSequenceProperty(const SequenceProperty& p);
  // Keeps at most n 3D points for export (user points are always kept), undoably.
  void LimitNumFPoint3DExport(int n);

  // ---- project files (interface thread, between runs; meta_ctracker_project.cpp)
  // Writes the job and the scene's user objects as a text (ascii) or binary project. The
  // file is written next to path under a temporary name and renamed over path only when
  // every byte reached it, so a failed save leaves an existing project as it was. False,
  // with a warning, for a null path or when the file cannot be created or written.
  bool SaveProject(const char* path, bool ascii);
  // Reads a project into this (new) tracker: the job, its image list, the scene and the
  // user objects (made by factory). False, with one warning naming the file, the error and
  // the line, on any failure; the tracker then keeps what was restored before it.
  bool LoadProject(const char* path, NHSObjectFactory factory = CreateStoredObject);

  // ---- exports (interface thread, or the batch end; meta_ctracker_export.cpp)
  // Writes the camera path in the format of `type` through FileIO::SaveCameraTracking
  // Manager, with this tracker's scene as the source of the exported user objects.
  // Returns and throws what that returns and throws.
  bool ExportCameraPath(const char* directory, const char* file_name, int type);

  Scene& GetScene() { return m_scene; }
  const std::vector<TrackingStep>& GetStepList() const { return m_step_list; }
  const TrackingSettings& GetRunSettings() const { return m_run_settings; }
  double GetProgressValue() const { return m_progress_value; }
  TrackingCallback& GetTrackingCallback() { return m_tracking_callback; }

  // Emitted with code 5 when the tracker's data changed.
  Signal2<const MetaCTracker&, MessageType> m_message_signal;
  // The progress value, on code 1.
  Signal1<double> m_progress_signal;

 protected:
  // The engine's parts of a run, virtual so that a test can stand in for the engine.
  // One frame: Compute(index, mask).
  virtual void ComputeFrame(unsigned index, int mask);
  virtual void ComputeFinalEstimation();
  virtual void ComputeRefinement();
  // Starts the thread on the record; false when it cannot be created.
  virtual bool CreateTrackingThread();
  // Stops a run in progress and waits for its thread. A derived class whose overrides the
  // thread calls calls it first in its destructor, before its own members die.
  void StopAndJoin();

 private:
  void Start(Program program, const TrackingSettings& settings);
  void RunTrackingThread();
  // Sets (lock) or clears flag 8 on the images of a frame loop over [start, end] from
  // frame f on; a missing image is a warning.
  void MarkFrames(int f, int start, int end, int step, bool reverse, bool lock);
  void EndRunAtOnce();

  // Calls into manager operations being completed in parallel (one place to adapt).
  void EngineClearAllFPointsAndResetFMap(int bits);
  void EngineInitCameras();
  void EngineSetInitFocalLength(double focal35);
  long EngineSetFPoint2DBitMask(int selector, uint32_t bits, bool set);
  void EngineRecycleImages(unsigned n);
  void EngineClearUndoStack();

  TrackingCallback m_tracking_callback;
  Scene m_scene;
  TrackingSettings m_run_settings;
  std::vector<TrackingStep> m_step_list;
  std::atomic<bool> m_running{false};
  std::shared_mutex m_result_lock;
  double m_progress_value = 0.0;
  std::unique_ptr<platform::Thread> m_thread;
  TrackingMessageRing m_ring;
};

}  // namespace uic
