// Test helpers for the controller and its parts: a counting viewer in the controller's
// group, a recorder of the controller's notifications, and a job the controller owns.
#pragma once

#include <string>
#include <vector>

#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/viewer_for_test.h"

namespace kxtest {

inline uic::Controller& C() {
  return *uic::Controller::Instance();
}

// A counting viewer that is one of the controller's viewers while it lives.
class GroupViewer : public CountingViewer {
 public:
  GroupViewer() { uic::Controller::Instance()->AddViewer(this); }
  ~GroupViewer() override { uic::Controller::Instance()->RemoveViewer(this); }
};

// Appends the name of every notification the controller sends, in order.
class NotificationRecorder : public HasSlots {
 public:
  NotificationRecorder() {
    uic::Controller& c = *uic::Controller::Instance();
    c.m_global_data_changed.Connect(this, &NotificationRecorder::GlobalData);
    c.m_current_frame_changed.Connect(this, &NotificationRecorder::Frame);
    c.m_status_changed.Connect(this, &NotificationRecorder::Status);
    c.m_tracking_settings_changed.Connect(this, &NotificationRecorder::Settings);
    c.m_sequence_changed.Connect(this, &NotificationRecorder::Sequence);
    c.m_object_pool_changed.Connect(this, &NotificationRecorder::Pool);
    c.m_viewer_mode_changed.Connect(this, &NotificationRecorder::Mode);
    c.m_need_save.Connect(this, &NotificationRecorder::NeedSave);
    c.m_selection_changed.Connect(this, &NotificationRecorder::Selection);
    c.m_info_changed.Connect(this, &NotificationRecorder::Info);
  }
  void GlobalData() { names.push_back("global"); }
  void Frame() { names.push_back("frame"); }
  void Status() { names.push_back("status"); }
  void Settings() { names.push_back("settings"); }
  void Sequence() { names.push_back("sequence"); }
  void Pool() { names.push_back("pool"); }
  void Mode() { names.push_back("mode"); }
  void NeedSave() { names.push_back("need-save"); }
  void Selection() { names.push_back("selection"); }
  void Info(uic::Controller::InfoEnum index) { names.push_back("info" + std::to_string(index)); }

  std::vector<std::string> names;
};

// A fresh tracker with the test job (see TrackerJobData), handed to the controller, which
// owns it from then on. The selection and the undo history start empty, the current frame
// is 0 and the project unmodified.
struct ControllerJob : TrackerJobData {
  TempDir dir;
  uic::MetaCTracker* tracker = new uic::MetaCTracker();

  explicit ControllerJob(int width = 16, int height = 12) {
    Fill(*tracker, dir, width, height);
    tracker->GetScene().SetData(tracker);  // the scene shows the job's points
    uic::Controller& c = *uic::Controller::Instance();
    c.SetCTracker(tracker);
    c.DeselectAll(true);
    c.SetCurrentFrame(0, true);
    c.SetModified(false);
    ClearUndoStack();
  }
  // The controller gives its tracker up only to a new one; the job takes it back and
  // leaves the controller as constructed, so that no later test depends on this one.
  ~ControllerJob() {
    uic::Controller& c = *uic::Controller::Instance();
    c.DeselectAll(true);
    ClearUndoStack();
    uic::MetaCTracker* held = c.GetCTracker();  // a test may have replaced the job's
    c.SetMetaCTracker(nullptr);
    c.*Access::Member() = nullptr;
    delete held;
    c.SetCurrentFrame(-1, false);  // as constructed
    c.SetModified(false);
  }

 private:
  struct Access : uic::Global {
    static uic::MetaCTracker* uic::Global::*Member() { return &Access::m_tracker; }
  };
};

}  // namespace kxtest
