#include "interaction/tracking_callback.h"

#include <algorithm>

#include "foundation/runtime/notify.h"

namespace uic {

TrackingCallback::TrackingCallback(TrackingCallbackOwner* owner) : m_owner(owner) {
  if (owner == nullptr) Notify(1, "TrackingCallback::TrackingCallback: camera tracking panel null");
}

void TrackingCallback::Reset(int frames) {
  m_expected_work = 0.0;
  m_done_work = 0.0;
  SetCancel(false);
  m_display_kind = eDisplayNone;
  const double m = frames;
  m_weight_2d = 1.0;
  m_weight_camera = 1.0 + 0.005 * m;
  m_weight_refinement = (1.0 + 0.001 * m) * m * 0.05;
}

double TrackingCallback::ExpectedWork(int mask, int frames, int reports) const {
  const double n = static_cast<unsigned>(frames);
  double work = 0.0;
  if (mask & 0x07) work += m_weight_2d * n;
  if (mask & 0x38) work += m_weight_camera * n;
  if (mask & 0x40) work += m_weight_refinement * static_cast<unsigned>(reports);
  return work;
}

void TrackingCallback::AddExpectedWork(int mask, int frames, int reports) {
  m_expected_work += ExpectedWork(mask, frames, reports);
}

void TrackingCallback::CompleteWorkUpTo(double work) {
  if (work > m_done_work) m_done_work = work;
  if (m_expected_work == 0.0) return;
  m_owner->SendProgressMsg(std::clamp(m_done_work / m_expected_work, 0.0, 0.99));
}

void TrackingCallback::ReportFinished() {
  m_owner->SendProgressMsg(1.0);
}

void TrackingCallback::UpdateVisualisation(int type, int image) {
  Notify(5, "TrackingCallback::UpdateVisualisation: processing step type: %ld, image index: %ld",
         static_cast<long>(type), static_cast<long>(image));
  const bool show = m_show_frames && image >= 0;
  switch (type) {
    case 0:
    case 1:
      if (show && m_display_kind == eDisplay2D) m_owner->SetDesiredFrame(image);
      m_done_work += m_weight_2d;
      break;
    case 3:
    case 4:
      if (show && m_display_kind == eDisplayCamera) m_owner->SetDesiredFrame(image);
      m_done_work += m_weight_camera;
      break;
    case 5:
      m_done_work += m_weight_refinement;
      break;
    default:
      break;
  }
  if (m_expected_work == 0.0) return;
  m_owner->SendProgressMsg(std::clamp(m_done_work / m_expected_work, 0.0, 0.99));
}

}  // namespace uic
