#include "interaction/global.h"

#include <algorithm>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"
#include "tracking/maps/feature_map.h"

namespace uic {

Global::~Global() {
  delete m_tracker;
}

void Global::SetCTracker(MetaCTracker* tracker) {
  Notify(5, "uic::Global::SetCTracker: new tracking manager set");
  if (tracker == nullptr) {
    Notify(2, "uic::Global::SetCTracker: tracker is Null");
    return;
  }
  if (tracker == m_tracker) {
    Notify(2, "uic::Global::SetCTracker: new tracker = old tracker");
    return;
  }
  // The undo commands hold the old tracker: they go first. The old tracker's destructor
  // joins a running tracking thread.
  MetaCTracker* old = m_tracker;
  m_tracker = tracker;
  if (old != nullptr) ClearUndoStack();
  delete old;
  m_tracker->UpdateSequenceProperty();
}

Scene* Global::GetScene() const {
  return m_tracker ? &m_tracker->GetScene() : nullptr;
}

int Global::GetNumberOfImages() const {
  return m_tracker ? static_cast<int>(m_tracker->GetImageList().size()) : 0;
}

int Global::GetStartFrame() const {
  return m_tracker ? m_tracker->GetFrameStart() : 0;
}

int Global::GetEndFrame() const {
  return m_tracker ? m_tracker->GetFrameEnd() : 0;
}

void Global::SetStartFrame(int frame) {
  if (m_tracker == nullptr) return;
  const int end = m_tracker->GetFrameEnd();
  if (frame >= 0) m_tracker->SetFrameRange(std::min(frame, end), end, m_tracker->GetFrameStep());
  static_cast<Controller&>(*this).m_current_frame_changed.Emit();
}

void Global::SetEndFrame(int frame) {
  if (m_tracker == nullptr) return;
  const int start = m_tracker->GetFrameStart();
  // A negative frame is refused as given, before it could be raised to the start.
  if (frame >= 0)
    m_tracker->SetFrameRange(start, std::max(frame, start), m_tracker->GetFrameStep());
  static_cast<Controller&>(*this).m_current_frame_changed.Emit();
}

void Global::SetFPoint3DExportMode(int mode, int n) {
  if (m_tracker == nullptr) return;
  SharedPtr<FeatureMap> map = m_tracker->GetFeatureMap();
  if (!map) return;
  if (mode == 1) {
    map->MarkFPoint3DExport(n);
    return;
  }
  if (mode < 0 || mode > 5) return;
  UIDRegistry& registry = UIDRegistry::Instance();
  for (const SharedPtr<FeaturePoint3D>& p : map->GetFPoint3DList()) {
    if (!p) continue;
    bool exported = true;
    switch (mode) {
      case 2:
        exported = registry.IsSelected(p->GetUID());
        break;
      case 3:
        exported = p->GetName() != nullptr && p->GetName()[0] != '\0';
        break;
      case 4:
        exported = p->TestFlags(FP3D_FLAG_LOCATOR);
        break;
      case 5:
        exported = !p->TestFlags(FP3D_FLAG_LOCATOR);
        break;
      default:
        break;
    }
    if (exported) {
      p->ClearFlags(FP3D_FLAG_NO_EXPORT);
    } else {
      p->SetFlags(FP3D_FLAG_NO_EXPORT);
    }
  }
}

}  // namespace uic
