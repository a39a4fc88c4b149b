#include "interaction/controller.h"

#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"

namespace uic {

int ViewerGroup::AddViewer(ViewerBase* viewer) {
  m_viewers.push_back(viewer);
  if (m_main_viewer == nullptr) m_main_viewer = m_viewers.front();
  return static_cast<int>(m_viewers.size());
}

void ViewerGroup::UpdateViewers() {
  for (ViewerBase* viewer : m_viewers) viewer->Redraw();
}

void ViewerGroup::SetActiveViewer(ViewerBase* viewer) {
  for (ViewerBase* v : m_viewers) {
    if (v == viewer) {
      m_main_viewer = v;
      v->m_interaction |= ViewerBase::kInteractionActiveViewer;
    } else {
      v->m_interaction &= ~ViewerBase::kInteractionActiveViewer;
    }
  }
}

Scene* Global::GetScene() const {
  return m_tracker ? &m_tracker->GetScene() : nullptr;
}

bool Selection::HasSelectedVertices() const {
  return false;
}

void Selection::ZoomVertices(double) {}

void FPointTrackEdit::AddFPoint2D(double, double, FeatureImage*, CameraTrackingManager*) {}

Controller* Controller::Instance() {
  // Never destroyed: the tracker and the windows may still reach it during exit.
  static Controller* const instance = new Controller();
  return instance;
}

void Controller::SetTrackingSettings(const TrackingSettings& settings) {
  m_tracking_settings = settings;
  m_tracking_settings_changed.Emit();
}

const SequenceProperty& Controller::GetSequenceProperty() const {
  if (m_tracker != nullptr) return *m_tracker;
  static const SequenceProperty* const fallback = new SequenceProperty();
  return *fallback;
}

}  // namespace uic
