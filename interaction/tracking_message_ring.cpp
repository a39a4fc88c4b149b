#include "interaction/tracking_message_ring.h"

#include <thread>

#include "foundation/runtime/notify.h"
#include "tracking/job/camera_tracking_pool.h"

namespace uic {

void TrackingMessageRing::Lock() {
  for (;;) {
    while (m_lock.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
    if (m_lock.exchange(0, std::memory_order_acquire) != 0) return;
  }
}

void TrackingMessageRing::Post(int32_t code) {
  Lock();
  m_codes[m_write] = code;
  m_write = (m_write + 1) % kSize;
  if (m_count < kSize) ++m_count;
  Unlock();
}

int32_t TrackingMessageRing::Take() {
  Lock();
  int32_t code = 0;
  if (m_count > 0) {
    code = m_codes[(m_write - m_count + kSize) % kSize];
    --m_count;
  }
  Unlock();
  return code;
}

int32_t TrackingMessageRing::Pending() {
  Lock();
  const int32_t count = m_count;
  Unlock();
  return count;
}

int HandleTrackingMessages(TrackingMessageRing& ring, TrackingMessageTarget& target) {
  for (;;) {
    const int32_t code = ring.Take();
    switch (code) {
      case 0:
        return 0;
      case eMsgProgress:
        target.EmitProgress();
        break;
      case eMsgTrackingFinished:
        target.TrackingFinished();
        break;
      case eMsgCorrelatorReset:
        target.ResetCorrelator();
        break;
      case eMsgUpdate:
      case eMsgDataChanged:
        target.EmitTrackingMessage(code);
        break;
      case eMsgSceneChanged:
        target.SetSceneData();
        target.EmitTrackingMessage(eMsgDataChanged);
        break;
      default:
        Notify(2, "MetaCTracker::TrackingMsgHandler: bad message type %d", code);
        break;
    }
  }
}

void ResetCurrentCorrelator(CameraTrackingPool& pool) {
  if (!pool.m_correlator) return;
  pool.m_correlator->Reset();
  if (pool.m_fmap) pool.m_fmap->SetCorrelatorTemplate(pool.m_correlator);
}

}  // namespace uic
