// STAND-IN, replaced at merge (see tracking_messages_standin.h): the callback, the ring and
// the tracker's message handling, reduced to what the batch run needs.
#include "interaction/tracking_messages_standin.h"

#include <algorithm>

#include "foundation/runtime/notify.h"
#include "interaction/meta_ctracker.h"

namespace uic {

TrackingCallback::TrackingCallback(MetaCTracker* owner) : m_owner(owner) {
  if (owner == nullptr) Notify(1, "TrackingCallback::TrackingCallback: camera tracking panel null");
}

void TrackingCallback::Reset(int m) {
  m_expected_work = 0.0;
  m_done_work = 0.0;
  m_cancel.store(false);
  m_display_kind = 0;
  m_weight_2d = 1.0;
  m_weight_camera = 1.0 + 0.005 * m;
  m_weight_refinement = (1.0 + 0.001 * m) * m * 0.05;
}

void TrackingCallback::AddExpectedWork(int mask, unsigned frames, unsigned reports) {
  if (mask & 0x07) m_expected_work += m_weight_2d * frames;
  if (mask & 0x38) m_expected_work += m_weight_camera * frames;
  if (mask & 0x40) m_expected_work += m_weight_refinement * reports;
}

void TrackingCallback::UpdateVisualisation(int type, int image) {
  if (type == 0 || type == 1) {
    if (image >= 0 && m_display_kind == 1) m_owner->SetDesiredFrame(image);
    m_done_work += m_weight_2d;
  } else if (type == 3 || type == 4) {
    if (image >= 0 && m_display_kind == 2) m_owner->SetDesiredFrame(image);
    m_done_work += m_weight_camera;
  } else if (type == 5) {
    m_done_work += m_weight_refinement;
  }
  if (m_expected_work == 0.0) return;
  m_owner->SendProgressMsg(std::clamp(m_done_work / m_expected_work, 0.0, 0.99));
}

void TrackingMessageRing::Lock() {
  for (;;) {
    while (m_lock.load() == 0) {
    }
    if (m_lock.exchange(0) != 0) return;
  }
}

void TrackingMessageRing::Push(int32_t code) {
  Lock();
  m_codes[m_write] = code;
  m_write = (m_write + 1) & 15;
  if (m_count < 16) ++m_count;
  Unlock();
}

int32_t TrackingMessageRing::Pop() {
  Lock();
  int32_t code = 0;
  if (m_count > 0) {
    code = m_codes[(m_write - m_count + 16) & 15];
    --m_count;
  }
  Unlock();
  return code;
}

void MetaCTracker::PostTrackingMsg(int32_t code) {
  m_ring.Push(code);
}

int MetaCTracker::TrackingMsgHandler(MetaCTracker* tracker) {
  for (;;) {
    const int32_t code = tracker->m_ring.Pop();
    switch (code) {
      case 0:
        return 0;
      case eMsgProgress:
        tracker->m_progress_signal.Emit(tracker->m_progress_value);
        break;
      case eMsgTrackingFinished:
        tracker->TrackingFinished();
        break;
      case eMsgCorrelatorReset:
        if (tracker->m_correlator) {
          tracker->m_correlator->Reset();
          if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) {
            map->SetCorrelatorTemplate(tracker->m_correlator);
          }
        }
        break;
      case eMsgUpdate:
        tracker->m_message_signal.Emit(*tracker, eMsgUpdate);
        break;
      case eMsgSceneChanged:
        tracker->m_scene.SetData(tracker);
        tracker->m_message_signal.Emit(*tracker, eMsgDataChanged);
        break;
      case eMsgDataChanged:
        tracker->m_message_signal.Emit(*tracker, eMsgDataChanged);
        break;
      default:
        Notify(2, "MetaCTracker::TrackingMsgHandler: bad message type %d", code);
        break;
    }
  }
}

void MetaCTracker::TrackingFinished() {
  m_scene.SetData(this);
  if (m_thread) {
    m_thread->Join();
    m_thread.reset();
  }
}

}  // namespace uic
