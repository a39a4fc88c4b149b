#include "interaction/controller.h"

#include <cstdint>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "image/packed_string_list.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "interaction/viewer_base.h"
#include "scene/objects/nhs_object.h"
#include "scene/scene.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

constexpr double kMaxRadialDistortion = 0.2;
constexpr int kFrameStatusMilliseconds = 2000;

}  // namespace

Controller* Controller::Instance() {
  // Never destroyed: the tracker and the windows may still reach it during exit.
  static Controller* const instance = new Controller();
  return instance;
}

void Controller::TrackerMessages::OnMessage(const MetaCTracker&, TrackingMessageType type) {
  if (type == eMsgDataChanged || type == eMsgSceneChanged) {
    Controller::Instance()->EmitGlobalDataChanged();
  }
}

void Controller::SetCTracker(MetaCTracker* tracker) {
  MetaCTracker* const old = m_tracker;
  // The viewers' frames belong to the tracker that is replaced: none may outlive it.
  if (tracker != nullptr && tracker != old) ClearImages();
  Global::SetCTracker(tracker);
  if (m_tracker == old) return;
  SetMetaCTracker(m_tracker);
  m_tracker->m_message_signal.Connect(&m_tracker_messages, &TrackerMessages::OnMessage);
}

void Controller::SetTrackingSettings(const TrackingSettings& settings) {
  m_tracking_settings = settings;
  m_tracking_settings_changed.Emit();
}

void Controller::SetModified(bool modified) {
  m_modified = modified;
  m_need_save.Emit();
}

void Controller::SetCurrentFrame(int frame, bool force) {
  if (frame == m_current_frame && !force) return;
  ChangeCurrentFrame(frame);
}

void Controller::ChangeCurrentFrame(int frame) {
  Notify(5, "Controller::SetCurrentFrame: current frame set to %d", frame);
  m_current_frame = frame;
  SelectTrackPointsInFrame(frame);
  if (m_tracker != nullptr) {
    const SharedPtr<FeatureImage>& image = m_tracker->GetFImage(static_cast<unsigned>(frame));
    if (image && image->GetFileName()[0] != '\0') {
      SetStatusText(image->GetFileName(), kFrameStatusMilliseconds);
    }
  }
  m_current_frame_changed.Emit();
}

void Controller::SetInfoText(InfoEnum index, const std::string& text) {
  if (index == eInfoCursorPosition || index == eInfoEditHint) m_info_text[index] = text;
  m_info_changed.Emit(index);
}

const std::string& Controller::GetInfoText(InfoEnum index) const {
  static const std::string empty;
  return index == eInfoCursorPosition || index == eInfoEditHint ? m_info_text[index] : empty;
}

const SequenceProperty& Controller::GetSequenceProperty() const {
  if (m_tracker != nullptr) return *m_tracker;
  static const SequenceProperty* const fallback = new SequenceProperty();
  return *fallback;
}

void Controller::SetSequenceProperty(const SequenceProperty& p) {
  if (m_tracker == nullptr) return;
  if (m_tracker->SetSequenceProperty(p)) {
    Notify(5, "Controller::SetSequenceProperty:");
    m_sequence_changed.Emit();
  }
}

int Controller::SetSequence(SharedPtr<PackedStringList> list) {
  if (m_tracker == nullptr) return -1;
  ClearProject();
  const int result = m_tracker->SetSequence(std::move(list));
  if (result == 0) {
    ShowImage(m_tracker->GetImageList().empty() ? SharedPtr<FeatureImage>()
                                                : m_tracker->GetImageList()[0]);
    m_sequence_changed.Emit();
  }
  return result;
}

void Controller::ClearProject() {
  if (m_tracker == nullptr) return;
  m_tracker->Clear();
  m_tracker->ClearAllFPointsAndResetFMap(CameraTrackingManager::kClearAllTrackingData);
  ClearUndoStack();
  ClearImages();
  m_modified = false;
  m_need_save.Emit();
  m_sequence_changed.Emit();
  m_object_pool_changed.Emit();
}

double Controller::GetNormalizedK3() {
  ForgetDeadViewers();
  const FeatureImage* image = m_main_viewer ? m_main_viewer->GetFImage() : nullptr;
  if (image == nullptr) return 0.0;
  const uint32_t w = image->GetWidth();
  const uint32_t h = image->GetHeight();
  if (w == 0 || h == 0) {
    Notify(2, "MetaCamera::GetNormalizedK3: zero image size (%d x %d)", int(w), int(h));
    return 0.0;
  }
  // Integer halves, as SetNormalizedK3 takes them, so the two are exact inverses.
  const double hw = double(w / 2);
  const double hh = double(h / 2);
  return image->GetDistortionCoefficients()[0] * image->GetPixelSizeX() * image->GetPixelSizeY() *
         (hw * hw + hh * hh);
}

void Controller::SetRadialDistortion(double k, bool interpolate) {
  ForgetDeadViewers();
  FeatureImage* shown = m_main_viewer ? m_main_viewer->GetFImage() : nullptr;
  if (m_tracker == nullptr || shown == nullptr) return;
  // Written to refuse NaN as well: it would spread to every image.
  if (!(k >= -kMaxRadialDistortion && k <= kMaxRadialDistortion)) {
    Notify(5, "Controller::SetRadialDistortion: clipped radial distortion %g to [%g, %g]", k,
           -kMaxRadialDistortion, kMaxRadialDistortion);
    return;
  }
  shown->SetNormalizedK3(k);
  shown->SetFlags(FIMAGE_FLAG_LENS_KEY);
  if (interpolate) {
    m_tracker->InterpolateRadialDistortion();
  } else {
    for (const SharedPtr<FeatureImage>& image : m_tracker->GetImageList()) {
      if (!image || image->GetImageIndex() == shown->GetImageIndex()) continue;
      image->ClearFlags(FIMAGE_FLAG_LENS_KEY);
      image->SetNormalizedK3(k);
    }
  }
  m_main_viewer->Redraw();
}

void Controller::ClearRadialDistortion() {
  if (m_tracker == nullptr) return;
  for (const SharedPtr<FeatureImage>& image : m_tracker->GetImageList()) {
    if (!image) continue;
    image->ClearFlags(FIMAGE_FLAG_LENS_KEY);
    image->SetDistortion(0.0, 0.0, image->GetRdDim(), image->GetDistortionModel());
  }
  m_object_pool_changed.Emit();
  UpdateViewers();
}

void Controller::AddReferenceLine() {
  ForgetDeadViewers();
  if (m_main_viewer == nullptr) return;
  m_main_viewer->AddReferenceLine();
  m_modified = true;
  m_need_save.Emit();
  m_object_pool_changed.Emit();
}

void Controller::DeleteAllReferenceLines() {
  if (m_tracker == nullptr) return;
  VertexObjectPool& pool = m_tracker->GetVertexObjectPool();
  PushCommand(new VertexObjectPoolCmd(&pool, 2));
  pool.ClearLineStrips();
  m_object_pool_changed.Emit();
  UpdateViewers();
  SetModified(true);
}

void Controller::SelectGroundGrid(bool rotate, bool scale, bool translate) {
  if (m_tracker == nullptr) return;
  m_tracker->GetScene().SelectGroundGrid(rotate, scale, translate);
  m_selection_changed.Emit();
}

int Controller::PrefetchFrame(int frame) {
  if (m_tracker == nullptr) return 0;
  return m_tracker->GetImageCache()->Prefetch(frame);
}

void Controller::DeleteSelection() {
  Notify(8, "Controller::DeleteSelection:");
  Scene* scene = GetScene();
  if (m_tracker == nullptr || scene == nullptr) {
    Notify(2, "Controller::DeleteSelection: scene (%ld) or tracking manager (%ld) not set!",
           long(reinterpret_cast<intptr_t>(scene)), long(reinterpret_cast<intptr_t>(m_tracker)));
    return;
  }
  UIDRegistry& registry = UIDRegistry::Instance();
  bool deleted = false;

  std::vector<UIDBase*> selected;
  registry.CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D, UID_TYPE_FEATURE_POINT_2D);
  if (!selected.empty()) {
    std::vector<SharedPtr<FeaturePoint2D>> features;
    for (UIDBase* object : selected) {
      auto* feature = dynamic_cast<FeaturePoint2D*>(object);
      if (feature == nullptr) continue;
      if (SharedPtr<FeaturePoint2D> f = SharedPtr<FeaturePoint2D>::FromPlainPointer(feature)) {
        features.push_back(std::move(f));
      }
    }
    FPointTrackEdit edit;
    edit.SetMetaCTracker(m_tracker);
    edit.RemoveFeatureTracks(features, FPointTrackEdit::eRemoveTrack, m_tracker);
    Notify(8, "Controller::DeleteSelection: 2d feature tracks");
    deleted = true;
  }

  selected.clear();
  registry.CollectSelected(selected, UID_TYPE_FEATURE_POINT_3D, UID_TYPE_FEATURE_POINT_3D);
  if (!selected.empty()) {
    Notify(8, "Controller::DeleteSelection: 3d feature points");
    PushCommand(new SceneDeleteFPoint3DCmd(m_tracker, scene));
    scene->DeleteSelected3DPoints();
    deleted = true;
  }

  selected.clear();
  registry.CollectSelected(selected, UID_TYPE_SCENE_OBJECT_FIRST, UID_TYPE_SCENE_OBJECT_LAST);
  // By id: a refused command deletes its object, and with it any selected child.
  std::vector<int32_t> object_ids;
  for (UIDBase* entry : selected) object_ids.push_back(entry->GetUID());
  for (int32_t id : object_ids) {
    NHSObject* object = FindSceneObject(id);
    if (object == nullptr || object->GetParent() == nullptr) continue;
    scene->SelectObject(0);
    const int32_t parent_id = object->GetParent()->GetUID();
    // Out of the scene before the push: a refused command then deletes the detached
    // object at once instead of leaving it in the scene.
    object->Unlink();
    PushCommand(new SceneObjectCreateDeleteCmd(object->GetUID(), parent_id));
    Notify(8, "Controller::DeleteSelection: scene object");
    deleted = true;
  }

  selected.clear();
  registry.CollectSelected(selected, UID_TYPE_VERTEX, UID_TYPE_VERTEX);
  if (!selected.empty()) {
    VertexObjectPool& pool = m_tracker->GetVertexObjectPool();
    PushCommand(new VertexObjectPoolCmd(&pool, 2));
    pool.DeleteSelection(selected);
    deleted = true;
  }

  if (!deleted) return;
  SetModified(true);
  DeselectAll(false);
  m_object_pool_changed.Emit();
  m_selection_changed.Emit();
  UpdateViewers();
}

}  // namespace uic
