// uic::Controller: the one process-wide object through which windows, viewers, the
// timeline and undo commands reach the data of the current tracking job.
//
// It is made of parts, each in its own header: the viewer group (the viewers and which
// one is active), the global data (the current tracker), the status text, the selection
// and the feature track editing. Each part is reachable on its own through the Get*
// accessors. It holds the current frame, the project-modified flag and the current
// tracking settings, and announces every change through its signals (each emitted once
// per change, after the change).
//
// Operations that need the tracker, the main viewer or an image do nothing (or return the
// neutral value) without them. Interface thread only; never destroyed.
#pragma once

#include <string>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/signal.h"
#include "interaction/fpoint_track_edit.h"
#include "interaction/global.h"
#include "interaction/selection.h"
#include "interaction/status.h"
#include "interaction/tracking_message_ring.h"
#include "interaction/tracking_settings.h"
#include "interaction/viewer_group.h"

class PackedStringList;

namespace uic {

class SequenceProperty;

class Controller : public ViewerGroup,
                   public Global,
                   public Status,
                   public Selection,
                   public FPointTrackEdit {
 public:
  enum InfoEnum { eInfoCursorPosition = 0, eInfoEditHint = 1 };

  // The singleton, created on the first call and never destroyed.
  static Controller* Instance();

  // The parts; null when called on a null controller.
  ViewerGroup* GetViewerGroup() { return this; }
  Global* GetGlobal() { return this; }
  Status* GetStatus() { return this; }
  Selection* GetSelection() { return this; }

  // The tracker (see Global::SetCTracker); the track editing records its undo commands
  // on the same tracker.
  void SetCTracker(MetaCTracker* tracker);

  // The current settings; callers copy them before they edit them.
  const TrackingSettings* GetTrackingSettings() const { return &m_tracking_settings; }
  // Copies every field and emits m_tracking_settings_changed.
  void SetTrackingSettings(const TrackingSettings& settings);

  bool IsModified() const { return m_modified; }
  // Stores the flag and emits m_need_save.
  void SetModified(bool modified);

  int GetCurrentFrame() const { return m_current_frame; }
  // Makes frame current: the selected features follow their tracks into it, the status
  // shows the frame's file name for 2000 ms and m_current_frame_changed is sent. The
  // current frame again does nothing unless force is set.
  void SetCurrentFrame(int frame, bool force);

  // Stores text under index (another index stores nothing) and sends m_info_changed.
  void SetInfoText(InfoEnum index, const std::string& text);
  const std::string& GetInfoText(InfoEnum index) const;

  // The tracker's sequence properties; without a tracker a process-wide default record.
  const SequenceProperty& GetSequenceProperty() const;
  // Applies p to the tracker; m_sequence_changed when that changed anything.
  void SetSequenceProperty(const SequenceProperty& p);
  // ClearProject, then the tracker takes the list; on success every viewer shows image 0
  // and m_sequence_changed is sent. The tracker's result (MetaCTracker::SetSequence), -1
  // without tracker.
  int SetSequence(SharedPtr<PackedStringList> list);
  // Empties the job, its results and the undo history; the viewers show no image; not
  // modified. Sends m_need_save, m_sequence_changed, m_object_pool_changed.
  void ClearProject();

  // Lens distortion at the image corner, independent of units: K3 sx sy ((w/2)^2 +
  // (h/2)^2) of the main viewer's image (the inverse of SetNormalizedK3); 0 without one.
  double GetNormalizedK3();
  // k in [-0.2, 0.2] (else a debug line and no change) becomes the shown image's lens key
  // (normalised K3); then either the images between lens keys are interpolated, or every
  // other image loses its lens key and takes k. The main viewer is redrawn.
  void SetRadialDistortion(double k, bool interpolate);
  // No lens keys and no distortion (K3 = K5 = 0, model kept) on any image.
  void ClearRadialDistortion();

  // A reference line in the main viewer; modified.
  void AddReferenceLine();
  // Removes every reference line, undoably; modified.
  void DeleteAllReferenceLines();
  // Selects the ground grid with the given gizmo parts; sends the selection notification.
  void SelectGroundGrid(bool rotate, bool scale, bool translate);
  // Asks the frame cache to load frame in the background; 0 without tracker.
  int PrefetchFrame(int frame);
  // Deletes what is selected, undoably: 2D features with their whole tracks, 3D points
  // (marked removed), user scene objects, mask and line vertices. When anything was
  // deleted: modified, the selection cleared, the pool and selection notifications, the
  // viewers redrawn; otherwise nothing is sent.
  void DeleteSelection();

  void EmitObjectPoolChanged() { m_object_pool_changed.Emit(); }
  void EmitViewerModeChanged() { m_viewer_mode_changed.Emit(); }
  void EmitCurrentFrameChanged() { m_current_frame_changed.Emit(); }
  void EmitSequenceChanged() { m_sequence_changed.Emit(); }
  // Results changed as a whole (after a run's data-changed or scene-changed message and
  // after a project load): curves and views rebuild.
  void EmitGlobalDataChanged() { m_global_data_changed.Emit(); }

  Signal0 m_global_data_changed;
  Signal0 m_current_frame_changed;
  Signal0 m_status_changed;
  Signal0 m_tracking_settings_changed;
  Signal0 m_sequence_changed;
  Signal0 m_object_pool_changed;
  Signal0 m_viewer_mode_changed;
  Signal0 m_need_save;
  Signal1<InfoEnum> m_info_changed;

 private:
  friend class ViewerGroup;
  Controller() = default;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Forwards the tracker's data-changed and scene-changed messages as
  // m_global_data_changed.
  class TrackerMessages : public HasSlots {
   public:
    void OnMessage(const MetaCTracker& tracker, TrackingMessageType type);
  };

  // Steps of a frame change after the equality test (SetActiveViewer runs them too).
  void ChangeCurrentFrame(int frame);

  TrackerMessages m_tracker_messages;

  int m_current_frame = -1;
  TrackingSettings m_tracking_settings;
  std::string m_info_text[2];
  bool m_modified = false;
};

}  // namespace uic
