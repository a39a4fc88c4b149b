// The result channel from the tracking thread to the interface thread: a ring of 16
// message codes that the thread fills while and after it runs, and the interface thread
// drains once the run has ended.
//
// When 16 codes are pending a further push overwrites the oldest one (a run pushes at
// most four). The ring's lock word (1 free, 0 taken) is taken by an atomic exchange in a
// busy loop and held only while one code is stored or removed; never while a code is
// handled.
//
// Codes: 1 progress, 2 tracking finished, 3 correlator reset, 4 update, 5 data changed,
// 7 scene changed. A run pushes 7 after each final estimation, 2 at its end, and 3 and 5
// after that when it was stopped.
#pragma once

#include <atomic>
#include <cstdint>

class CameraTrackingPool;

namespace uic {

enum TrackingMessageType {
  eMsgProgress = 1,
  eMsgTrackingFinished = 2,
  eMsgCorrelatorReset = 3,
  eMsgUpdate = 4,
  eMsgDataChanged = 5,
  eMsgSceneChanged = 7,
};

class TrackingMessageRing {
 public:
  static constexpr int kSize = 16;

  // Tracking thread: appends a code.
  void Post(int32_t code);
  // Interface thread: removes and returns the oldest code; 0 when none is pending.
  int32_t Take();
  int32_t Pending();

 private:
  void Lock();
  void Unlock() { m_lock.exchange(1, std::memory_order_release); }

  int32_t m_codes[kSize] = {};
  std::atomic<int32_t> m_lock{1};
  int32_t m_count = 0;
  int32_t m_write = 0;
};

// What the codes do, on the interface thread.
class TrackingMessageTarget {
 public:
  virtual void EmitProgress() = 0;                 // 1
  virtual void TrackingFinished() = 0;             // 2
  virtual void ResetCorrelator() = 0;              // 3
  virtual void EmitTrackingMessage(int code) = 0;  // 4 and 5
  virtual void SetSceneData() = 0;                 // 7, followed by message 5

 protected:
  ~TrackingMessageTarget() = default;
};

// Drains the ring oldest first, handing each code to target; a code outside the table
// is logged ("MetaCTracker::TrackingMsgHandler: bad message type %d") and skipped.
// Returns 0 when the ring is empty.
int HandleTrackingMessages(TrackingMessageRing& ring, TrackingMessageTarget& target);

// Code 3: the pool's current correlator is reset and handed to the current feature map
// again. Nothing without a correlator; the map step is skipped without a map.
void ResetCurrentCorrelator(CameraTrackingPool& pool);

}  // namespace uic
