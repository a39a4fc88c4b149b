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
#include <string>
#include <vector>

#include "app/batch_progress.h"
#include "interaction/meta_ctracker.h"

// Exit codes of the program. kExitPartial: the exports were written, but the final
// reconstruction lacks some frames of the range (named on stderr).
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitPartial = 3 };

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

// What a finished run produced. Only the final reconstruction (the frames of the map's
// frame list that carry a measured error) counts as solved: cameras left from an earlier
// reconstruction of a restarted run are in another, unaligned frame of reference.
struct BatchSummary {
  int frames = 0;      // images in the tracked range
  int solved = 0;      // of those, images whose camera the final reconstruction holds
  double rmse = -1.0;  // the map's reprojection RMSE in pixels; negative: none
  int points = 0;      // 3D points not removed
  // File numbers of the images not solved, in range order (two fields share a number).
  std::vector<int> unsolved;
  // Images of the range with a camera from an earlier reconstruction.
  int other_reconstruction = 0;
  // The cameras carry rotations only: no frame pair had the parallax to solve the travel.
  bool rotation_only = false;
  bool HasResult() const { return solved > 0 && points > 0; }
  bool Complete() const { return solved == frames; }
};
BatchSummary SummariseRun(uic::MetaCTracker& tracker);

// "0-10, 12, 15-17": sorted numbers as ranges, duplicates once.
std::string NumberRangesText(std::vector<int> numbers);

// The export targets before any work: each path names no folder, its folder exists and is
// writable, and no two requests share a path. Every bad target is named on err with the
// reason; false when there is one.
bool CheckExportTargets(const std::vector<ExportRequest>& requests, std::FILE* err);

// The batch end: the summary line (the unsolved frames as ranges, a split result) on err,
// then every export request of the tracker, each failure named on err with its reason. No
// exports are written without a camera result. kExitOk when the whole range was solved and
// every export was written, kExitPartial when only part of it was solved, kExitFailed
// without a result or when an export failed.
int FinishBatchRun(uic::MetaCTracker& tracker, std::FILE* err);
