// STAND-IN, replaced at merge by the tracking messages and progress being built in
// parallel (the tracking callback and the message ring). Only what the tracking driver and
// the batch end call is here, with the behaviour they rely on.
#pragma once

#include <atomic>
#include <cstdint>

#include "optimise/callback.h"

namespace uic {

class MetaCTracker;

// The run's progress and cancel observer (the feature map's Callback).
class TrackingCallback : public Callback {
 public:
  explicit TrackingCallback(MetaCTracker* owner);

  void UpdateVisualisation(int type, int image) override;
  bool IsStopRequested() override { return m_cancel.load(); }

  // Expected and done work 0, cancel off, display kind 0, weights for m frames.
  void Reset(int m);
  // A step's share of the expected work (2D on mask & 0x07, camera on 0x38, refinement on
  // 0x40).
  void AddExpectedWork(int mask, unsigned frames, unsigned reports);
  void SetCancel(bool cancel) { m_cancel.store(cancel); }
  void SetDisplayKind(int kind) { m_display_kind = kind; }
  int GetDisplayKind() const { return m_display_kind; }

 private:
  double m_expected_work = 0.0;
  double m_done_work = 0.0;
  std::atomic<bool> m_cancel{false};
  int32_t m_display_kind = 0;
  double m_weight_2d = 1.0;
  double m_weight_camera = 1.0;
  double m_weight_refinement = 3.0;
  MetaCTracker* m_owner;
};

// The 16-entry ring of message codes between the tracking thread and the interface thread;
// the oldest code is overwritten when 16 are pending.
class TrackingMessageRing {
 public:
  void Push(int32_t code);
  // The oldest pending code, 0 when none.
  int32_t Pop();

 private:
  void Lock();
  void Unlock() { m_lock.exchange(1); }

  int32_t m_codes[16] = {};
  std::atomic<int32_t> m_lock{1};
  int32_t m_count = 0;
  int32_t m_write = 0;
};

}  // namespace uic

namespace uic {
// 1 / (rmse + 1), 0.0001 for a negative rmse (no result).
inline double GetTrackQuality(double rmse) {
  return rmse < 0.0 ? 0.0001 : 1.0 / (rmse + 1.0);
}
}  // namespace uic
