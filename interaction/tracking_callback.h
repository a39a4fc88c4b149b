// uic::TrackingCallback: the observer the tracking engine reports to during a run. It
// weighs every finished frame and refinement iteration, turns the sum into a progress
// fraction and asks its owner (the tracker) to show the frame being processed; its stop
// flag is the run's cancel request.
//
// Work units of a run with M frames (M = frame range / step, integer division): a 2D
// tracking frame 1, a camera frame 1 + 0.005 M, a refinement iteration
// (1 + 0.001 M) x M x 0.05. The driver announces each step's share with AddExpectedWork
// before the step runs.
//
// Threads: UpdateVisualisation and IsStopRequested run on the tracking thread, so the
// owner's hooks are called there and must pass the work on to the interface thread. The
// stop flag is set from the interface thread.
#pragma once

#include <atomic>

#include "optimise/callback.h"

namespace uic {

// What the callback needs of the tracker that owns it.
class TrackingCallbackOwner {
 public:
  // Show this image index (called on the tracking thread).
  virtual void SetDesiredFrame(int index) = 0;
  // The run's progress, 0 .. 0.99 (called on the tracking thread).
  virtual void SendProgressMsg(double fraction) = 0;

 protected:
  ~TrackingCallbackOwner() = default;
};

class TrackingCallback : public Callback {
 public:
  // Display kinds: which reports move the shown frame.
  enum DisplayKind { eDisplayNone = 0, eDisplay2D = 1, eDisplayCamera = 2 };

  // owner must not be null (a programming error, reported as fatal).
  explicit TrackingCallback(TrackingCallbackOwner* owner);

  // Step types 0 and 1 (2D tracking of a frame), 3 and 4 (camera of a frame) add their
  // weight and, when frames are shown, the index is not negative and the display kind
  // matches (1 for 2D, 2 for camera), ask the owner to show the frame; 5 (a refinement
  // iteration) adds its weight; others add nothing. Then, once work is expected, the
  // owner hears done / expected limited to [0, 0.99].
  void UpdateVisualisation(int type, int image) override;
  bool IsStopRequested() override { return m_cancel.load(std::memory_order_relaxed); }

  // A new run over `frames` frames (M): no work expected or done, not cancelled, display
  // kind 0, the weights for M.
  void Reset(int frames);
  // A step's share: frames x the 2D weight when mask has a bit of 0x07, frames x the
  // camera weight for 0x38, reports x the refinement weight for 0x40. Counts are taken
  // as unsigned.
  void AddExpectedWork(int mask, int frames, int reports);
  // The share AddExpectedWork adds for these arguments.
  double ExpectedWork(int mask, int frames, int reports) const;
  // A stage ended: the work done becomes at least `work` (the expected work of the stages
  // finished so far), so a stage that needed fewer reports than expected (a refinement
  // that converged early) does not leave the progress behind; the owner hears the new
  // fraction, limited to [0, 0.99].
  void CompleteWorkUpTo(double work);
  // The run is over: the owner hears 1.
  void ReportFinished();

  void SetCancel(bool cancel) { m_cancel.store(cancel, std::memory_order_relaxed); }
  void SetDisplayKind(int kind) { m_display_kind = kind; }
  int GetDisplayKind() const { return m_display_kind; }
  // The display settings' "show frames while tracking" switch (on by default).
  void SetShowFrames(bool show) { m_show_frames = show; }
  double GetExpectedWork() const { return m_expected_work; }
  double GetDoneWork() const { return m_done_work; }
  double GetWeight2D() const { return m_weight_2d; }
  double GetWeightCamera() const { return m_weight_camera; }
  double GetWeightRefinement() const { return m_weight_refinement; }

 private:
  double m_expected_work = 0.0;
  double m_done_work = 0.0;
  std::atomic<bool> m_cancel{false};
  int m_display_kind = eDisplayNone;
  double m_weight_2d = 1.0;
  double m_weight_camera = 1.0;
  double m_weight_refinement = 3.0;
  TrackingCallbackOwner* m_owner;
  bool m_show_frames = true;
};

}  // namespace uic
