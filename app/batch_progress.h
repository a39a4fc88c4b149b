// BatchProgress: the progress of a batch run on the standard error stream, with the
// remaining time. On a terminal one line is rewritten in place; otherwise (a log file, a
// pipe) one line is written each time the run passes another tenth.
//
// It is also the log's output during a run: on a terminal the progress line is cleared
// before a log line and drawn again after it, so the two never share a line.
//
// Update and Output may be called from the tracking thread while Finish runs on the main
// thread: every write happens under one lock.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "foundation/runtime/notify.h"

class BatchProgress : public NotifyOutputFunction {
 public:
  // `terminal`: the stream is a terminal (rewrite one line).
  BatchProgress(std::FILE* out, bool terminal);

  // The run's fraction done (0..1); the clock starts at construction.
  void Update(double fraction);
  // Ends an updated line so that later text starts on a line of its own.
  void Finish();
  // One log line (the log's lock is held): the line and '\n', around an open progress
  // line as said above.
  void Output(const SharedPtr<NotifyMessage>& message) override;

  // "Time remaining: hh:mm:ss (Total: hh:mm:ss)" after `elapsed_ms` at `percent` (1..100):
  // s = elapsed / percent, remaining (100 - percent) * s, total 100 * s, each a time of day
  // that wraps after 24 hours; "N/A" for 0 %.
  static std::string RemainingTimeText(int percent, long long elapsed_ms);

 private:
  std::FILE* out_;
  bool terminal_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  int last_percent_ = -1;
  int last_tenth_ = 0;
  bool line_open_ = false;
  std::string line_;  // the progress text on the terminal line
};
