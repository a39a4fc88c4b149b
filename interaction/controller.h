// uic::Controller: the one process-wide object through which windows, viewers, the
// timeline and undo commands reach the data of the current tracking job.
//
// Built so far: the current tracking settings and their change notification. The
// settings are the defaults until the command line or the window sets them; every run
// takes a copy.
//
// Interface thread only; never destroyed.
#pragma once

#include "foundation/runtime/signal.h"
#include "interaction/tracking_settings.h"

namespace uic {

class Controller {
 public:
  // The singleton, created on the first call.
  static Controller* Instance();

  // The current settings; callers copy them before they edit them.
  const TrackingSettings* GetTrackingSettings() const { return &m_tracking_settings; }
  // Copies every field and emits m_tracking_settings_changed.
  void SetTrackingSettings(const TrackingSettings& settings);

  Signal0 m_tracking_settings_changed;

 private:
  Controller() = default;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  TrackingSettings m_tracking_settings;
};

}  // namespace uic
