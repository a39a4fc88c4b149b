#include "interaction/undo_commands.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <utility>

#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/scene.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

// Clears the selection of the scene the object hangs in (the gizmo must not follow an
// object that is about to leave or jump).
void DeselectOnScene(NHSObject* object) {
  NHSObject* root = object;
  while (root->GetParent() != nullptr) root = root->GetParent();
  if (auto* scene = dynamic_cast<NHSObject_Scene*>(root)) scene->SelectObject(0);
}

void SetRemoved(FeaturePoint3D& point, bool removed) {
  if (removed) {
    point.SetFlags(FP3D_FLAG_REMOVED);
  } else {
    point.ClearFlags(FP3D_FLAG_REMOVED);
  }
}

FeatureImage::FeatureList* ListOf(const FeaturePoint2D& feature) {
  FeatureImage* image = feature.GetImage();
  if (image == nullptr) return nullptr;
  return feature.TestFlags(FP2D_FLAG_ANCHOR) ? &image->GetAnchors() : &image->GetFPoints2D();
}

}  // namespace

NHSObject* FindSceneObject(int32_t id) {
  return dynamic_cast<NHSObject*>(UIDRegistry::Instance().GetObject(id));
}

// ---- scene objects ------------------------------------------------------------------

SceneObjectCreateDeleteCmd::~SceneObjectCreateDeleteCmd() {
  if (parent_id_ == 0) return;
  NHSObject* object = FindSceneObject(object_id_);
  if (object != nullptr && object->GetParent() == nullptr) delete object;
}

void SceneObjectCreateDeleteCmd::Undo() {
  NHSObject* object = FindSceneObject(object_id_);
  if (object == nullptr) return;
  DeselectOnScene(object);
  if (parent_id_ != 0) {
    NHSObject* parent = FindSceneObject(parent_id_);
    if (parent == nullptr) return;  // nowhere to go back to: keep owning it
    object->Unlink();
    parent->AddChild(object);
    parent_id_ = 0;
  } else {
    NHSObject* parent = object->GetParent();
    if (parent == nullptr) return;  // already out: nothing to take out
    parent_id_ = parent->GetUID();
    object->Unlink();
  }
  Controller::Instance()->UpdateViewers();
}

SceneObjectTransformCmd::SceneObjectTransformCmd(const NHSObject* object)
    : object_id_(object ? object->GetUID() : 0) {
  if (object != nullptr) transform_ = object->GetTransform();
}

void SceneObjectTransformCmd::Undo() {
  NHSObject* object = FindSceneObject(object_id_);
  if (object == nullptr) return;
  DeselectOnScene(object);
  std::swap(object->GetTransform(), transform_);
  Controller::Instance()->UpdateViewers();
}

// ---- the whole reconstruction ------------------------------------------------------

void SceneTransformCmd::Apply(const Matrix4x4& m) {
  if (scene_ == nullptr || tracker_ == nullptr) return;
  scene_->TransformReconstruction(m);
  tracker_->TransformScene(m.m);
  scene_->SetData(tracker_);
  tracker_->EmitTrackingMessage(eMsgDataChanged);
}

// ---- 3D points ----------------------------------------------------------------------

void SceneDeleteFPoint3DCmd::CreateCommand() {
  SharedPtr<FeatureMap> map = tracker_ ? tracker_->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2, "SceneDeleteFPoint3DCmd::CreateCommand: tracking manager or feature map not set!");
    return;
  }
  for (const SharedPtr<FeaturePoint3D>& p : map->GetFPoint3DList()) {
    if (p) records_.push_back({p, p->TestFlags(FP3D_FLAG_REMOVED)});
  }
}

void SceneDeleteFPoint3DCmd::Undo() {
  if (scene_ == nullptr || tracker_ == nullptr) return;
  for (Record& r : records_) {
    const bool now = r.point->TestFlags(FP3D_FLAG_REMOVED);
    SetRemoved(*r.point, r.removed);
    r.removed = now;
  }
  Controller::Instance()->UpdateViewers();
}

int SceneDeleteFPoint3DCmd::GetCommandSize() {
  SharedPtr<FeatureMap> map = tracker_ ? tracker_->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2, "SceneDeleteFPoint3DCmd::GetCommandSize: tracking manager or feature map not set!");
    return 36;
  }
  return 36 + 8 * static_cast<int>(map->GetFPoint3DList().size());
}

bool LimitNumFPoint3DExportCmd::Sort(PointList& exported, PointList& excluded,
                                     const char* where) const {
  SharedPtr<FeatureMap> map = tracker_ ? tracker_->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2, "%s: meta camera tracker or tracking manager or feature map not set!", where);
    return false;
  }
  for (const SharedPtr<FeaturePoint3D>& p : map->GetFPoint3DList()) {
    if (!p || p->TestFlags(FP3D_FLAG_REMOVED)) continue;
    (p->TestFlags(FP3D_FLAG_NO_EXPORT) ? excluded : exported).push_back(p);
  }
  return true;
}

void LimitNumFPoint3DExportCmd::CreateCommand() {
  Sort(exported_, excluded_, "LimitNumFPoint3DExportCmd::CreateCommand");
}

void LimitNumFPoint3DExportCmd::Undo() {
  if (tracker_ == nullptr) {
    Notify(2, "LimitNumFPoint3DExportCmd::Undo: meta camera tracker not set");
    return;
  }
  PointList exported, excluded;
  Sort(exported, excluded, "LimitNumFPoint3DExportCmd::Undo");
  for (const SharedPtr<FeaturePoint3D>& p : exported_) p->ClearFlags(FP3D_FLAG_NO_EXPORT);
  for (const SharedPtr<FeaturePoint3D>& p : excluded_) p->SetFlags(FP3D_FLAG_NO_EXPORT);
  exported_.swap(exported);
  excluded_.swap(excluded);
  if (SharedPtr<FeatureMap> map = tracker_->GetFeatureMap()) map->GetMSE();
  tracker_->EmitTrackingMessage(eMsgDataChanged);
  tracker_->GetScene().SetData(tracker_);
}

int LimitNumFPoint3DExportCmd::GetCommandSize() {
  SharedPtr<FeatureMap> map = tracker_ ? tracker_->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2,
           "LimitNumFPoint3DExportCmd::GetCommandSize: tracking manager or feature map not set!");
    return 72;
  }
  return 72 + 4 * static_cast<int>(map->GetFPoint3DList().size());
}

// ---- feature tracks -----------------------------------------------------------------

RemoveFeatureTracksCmd::RemoveFeatureTracksCmd(MetaCTracker* tracker,
                                               const std::vector<FeatureTrackSegment>& segments)
    : tracker_(tracker) {
  if (tracker_ == nullptr) return;
  std::set<const FeaturePoint2D*> seen;  // overlapping segments name a feature once
  for (const FeatureTrackSegment& segment : segments) {
    for (SharedPtr<FeaturePoint2D>& f : tracker_->CollectFeatureTrackSegment(segment)) {
      if (!seen.insert(f.Get()).second) continue;
      // Removing a feature cuts its own links too, so they are kept here.
      Record r{f, f->GetPredecessor(), f->GetSuccessor(), 0, false};
      if (const SharedPtr<FeaturePoint3D>& p = f->GetFPoint3D()) {
        r.removed = p->TestFlags(FP3D_FLAG_REMOVED);
      }
      if (FeatureImage::FeatureList* list = ListOf(*f)) {
        r.position = size_t(std::find(list->begin(), list->end(), f) - list->begin());
      }
      records_.push_back(std::move(r));
    }
  }
}

bool RemoveFeatureTracksCmd::Ready() const {
  if (tracker_ != nullptr && tracker_->GetFeatureMap()) return true;
  Notify(2, "RemoveFeatureTracksCmd::Redo: tracking manager or feature map not set");
  return false;
}

void RemoveFeatureTracksCmd::Notify3DChanged() {
  tracker_->GetScene().SetFPoints3D(tracker_->GetFeatureMap());
  tracker_->EmitTrackingMessage(eMsgDataChanged);
}

void RemoveFeatureTracksCmd::Undo() {
  if (!Ready()) return;
  for (const Record& r : records_) {
    FeaturePoint2D& f = *r.feature;
    if (r.predecessor) {
      f.SetPredecessor(r.predecessor);
      if (r.predecessor->GetFirst()) r.predecessor->GetFirst()->SetSuccessor(r.predecessor);
    }
    if (r.successor) {
      f.SetSuccessor(r.successor);
      if (r.successor->GetSecond()) r.successor->GetSecond()->SetPredecessor(r.successor);
    }
    if (const SharedPtr<FeaturePoint3D>& p = f.GetFPoint3D()) SetRemoved(*p, r.removed);
  }
  // Back into the lists at their old places: in ascending place, so that each insertion
  // finds the features before it already there.
  std::vector<size_t> order(records_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    return records_[a].position < records_[b].position;
  });
  for (size_t k : order) {
    const Record& r = records_[k];
    FeatureImage::FeatureList* list = ListOf(*r.feature);
    if (list == nullptr) continue;
    list->insert(list->begin() + std::ptrdiff_t(std::min(r.position, list->size())), r.feature);
  }
  Notify3DChanged();
}

void RemoveFeatureTracksCmd::Redo() {
  if (!Ready()) return;
  for (const Record& r : records_) {
    if (FeatureImage* image = r.feature->GetImage()) image->RemoveFPoint2D(r.feature);
  }
  Notify3DChanged();
}

int RemoveFeatureTracksCmd::GetCommandSize() {
  return 32 + 8 * static_cast<int>(records_.size());
}

// ---- vertex objects -----------------------------------------------------------------

VertexObjectPoolCmd::VertexObjectPoolCmd(VertexObjectPool* pool, int kind)
    : pool_(pool), kind_(kind) {
  if (pool_ == nullptr) return;
  snapshot_ = std::make_unique<VertexObjectPool>(*pool_);
  snapshot_->ClearSelection();
}

VertexObjectPoolCmd::~VertexObjectPoolCmd() = default;

void VertexObjectPoolCmd::Undo() {
  if (pool_ == nullptr || !snapshot_) return;
  pool_->GetPolygonMasks().swap(snapshot_->GetPolygonMasks());
  pool_->GetLineStrips().swap(snapshot_->GetLineStrips());
  pool_->GetFocalGizmos().swap(snapshot_->GetFocalGizmos());
  snapshot_->ClearSelection();
  Controller::Instance()->UpdateViewers();
}

int VertexObjectPoolCmd::GetCommandSize() {
  long bytes = 20;
  if (snapshot_) {
    const auto add = [&bytes](const VertexObject& object, size_t object_size) {
      bytes += long(object_size + object.GetName().size());
      for (const Vertex& v : object.GetVertices()) {
        bytes += long(sizeof(Vertex) + size_t(v.GetNumKeys()) * sizeof(o_Curve<vm::Vector3>::Key));
      }
    };
    for (const PolygonMask& m : snapshot_->GetPolygonMasks()) add(m, sizeof m);
    for (const LineStrip& l : snapshot_->GetLineStrips()) add(l, sizeof l);
    for (const FocalGizmo& g : snapshot_->GetFocalGizmos()) add(g, sizeof g);
  }
  return bytes > INT32_MAX ? INT32_MAX : int(bytes);
}

// ---- labels -------------------------------------------------------------------------

const char* GetCommandLabel(Command* cmd) {
  if (cmd == nullptr) return "unknown";
  if (auto* pool = dynamic_cast<VertexObjectPoolCmd*>(cmd)) {
    switch (pool->GetKind()) {
      case 0:
        return "Create Polygon Object";
      case 1:
        return "Move Polygon Object";
      case 2:
        return "Delete Polygon Object";
      default:
        return "unknown";
    }
  }
  if (dynamic_cast<SceneTransformCmd*>(cmd)) return "Scene transform";
  if (dynamic_cast<SceneDeleteFPoint3DCmd*>(cmd)) return "Delete 3D points";
  if (const char* moved = GetMovedCommandLabel(cmd)) return moved;
  if (dynamic_cast<RemoveFeatureTracksCmd*>(cmd)) return "Remove feature tracks";
  if (dynamic_cast<LimitNumFPoint3DExportCmd*>(cmd)) return "3D export";
  return "unknown";
}

}  // namespace uic
