// The batch road without a window: a tracker whose interface hooks print progress and wake
// the main thread, the run itself, and the batch end (summary line, every export, exit
// code).
//
// The main thread plays the interface thread: it starts the run, sleeps until the
// tracking thread says messages are waiting, drains the ring (which joins the thread) and
// then ends the batch. Nothing waits for input and no window opens.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "app/batch_progress.h"
#include "interaction/meta_ctracker.h"

// Exit codes of the program.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

class BatchTracker : public uic::MetaCTracker {
 public:
  // progress may be null (no progress output); not owned.
  explicit BatchTracker(BatchProgress* progress) : progress_(progress) {}
  ~BatchTracker() override { StopAndJoin(); }

  void SendProgressMsg(double fraction) override;
  void SendTrackingMsgItems() override;
  void TrackingFinished() override;

  // Drains the ring each time the tracking thread posts, until the run has finished.
  void WaitForEnd();

 private:
  BatchProgress* progress_;
  std::mutex mutex_;
  std::condition_variable posted_;
  bool pending_ = false;
  bool finished_ = false;
};

// What a finished run produced.
struct BatchSummary {
  int frames = 0;      // images in the tracked range
  int solved = 0;      // of those, images whose camera a solver measured
  double rmse = -1.0;  // the map's reprojection RMSE in pixels; negative: none
  int points = 0;      // 3D points not removed
  bool HasResult() const { return solved > 0 && points > 0; }
};
BatchSummary SummariseRun(uic::MetaCTracker& tracker);

// The batch end: the summary line (and a warning for unsolved frames) on err, then every
// export request of the tracker, each failure named on err. No exports are written
// without a camera result. kExitOk only when there is a result and every export was
// written.
int FinishBatchRun(uic::MetaCTracker& tracker, std::FILE* err);
