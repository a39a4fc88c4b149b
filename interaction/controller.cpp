#include "interaction/controller.h"

namespace uic {

Controller* Controller::Instance() {
  // Never destroyed: the tracker and the windows may still reach it during exit.
  static Controller* const instance = new Controller();
  return instance;
}

void Controller::SetTrackingSettings(const TrackingSettings& settings) {
  m_tracking_settings = settings;
  m_tracking_settings_changed.Emit();
}

}  // namespace uic
