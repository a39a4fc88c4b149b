// uic::Controller: the one process-wide object through which windows, viewers, the
// timeline and undo commands reach the data of the current tracking job.
//
// It is made of parts: the viewer group (the viewers and which one is active), the
// global data (the current tracker), the status text, the selection and the feature
// track editing. Each part is reachable on its own through the Get* accessors.
//
// Interface thread only; never destroyed.
#pragma once

#include <string>
#include <vector>

#include "foundation/runtime/signal.h"
#include "interaction/tracking_settings.h"

class CameraTrackingManager;
class FeatureImage;
class Scene;

namespace uic {

class MetaCTracker;
class SequenceProperty;
class ViewerBase;

// The viewers of the interface, in the order they were added; the first one added is
// the main viewer until another is activated. Viewers are not owned.
class ViewerGroup : public HasSlots {
 public:
  virtual ~ViewerGroup() = default;

  // Appends viewer; returns the number of viewers.
  int AddViewer(ViewerBase* viewer);
  // Redraws every viewer in list order.
  void UpdateViewers();
  // Makes viewer the main (active) viewer; see the controller for the frame follow-up.
  void SetActiveViewer(ViewerBase* viewer);
  ViewerBase* GetMainViewer() const { return m_main_viewer; }
  const std::vector<ViewerBase*>& GetViewers() const { return m_viewers; }

 protected:
  std::vector<ViewerBase*> m_viewers;
  ViewerBase* m_main_viewer = nullptr;
};

// The current tracking job.
class Global {
 public:
  // The current tracker or null.
  MetaCTracker* GetCTracker() const { return m_tracker; }
  // The tracker's test scene or null.
  Scene* GetScene() const;

 protected:
  MetaCTracker* m_tracker = nullptr;
};

class Status {
 public:
  virtual ~Status() = default;
};

class Selection {
 public:
  virtual ~Selection() = default;
  Signal0 m_selection_changed;

  // At least one polygon-mask or line vertex is selected.
  bool HasSelectedVertices() const;
  // Scales the selected vertices about their mean by factor.
  void ZoomVertices(double factor);
};

class FPointTrackEdit : public HasSlots {
 public:
  // Slot of the viewers' add-feature request (x, y in pixels of image).
  void AddFPoint2D(double x, double y, FeatureImage* image, CameraTrackingManager* manager);
};

class Controller : public ViewerGroup,
                   public Global,
                   public Status,
                   public Selection,
                   public FPointTrackEdit {
 public:
  // The singleton, created on the first call.
  static Controller* Instance();

  // The current settings; callers copy them before they edit them.
  const TrackingSettings* GetTrackingSettings() const { return &m_tracking_settings; }
  // Copies every field and emits m_tracking_settings_changed.
  void SetTrackingSettings(const TrackingSettings& settings);

  int GetCurrentFrame() const { return m_current_frame; }
  // The tracker's sequence properties; without a tracker a process-wide default record.
  const SequenceProperty& GetSequenceProperty() const;

  Signal0 m_global_data_changed;
  Signal0 m_current_frame_changed;
  Signal0 m_status_changed;
  Signal0 m_tracking_settings_changed;
  Signal0 m_sequence_changed;
  Signal0 m_object_pool_changed;
  Signal0 m_viewer_mode_changed;
  Signal0 m_need_save;

 private:
  Controller() = default;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  int m_current_frame = -1;
  TrackingSettings m_tracking_settings;
};

}  // namespace uic
