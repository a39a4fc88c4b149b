#include "scene/objects/nhs_object_scene.h"

#include "scene/objects/nhs_object_handle.h"

namespace {

NHSObject* FindNode(int32_t id) {
  return id == 0 ? nullptr : dynamic_cast<NHSObject*>(UIDRegistry::Instance().GetObject(id));
}

}  // namespace

NHSObject_Scene::~NHSObject_Scene() {
  SelectObject(0);
}

bool NHSObject_Scene::SelectObject(int32_t id) {
  NHSObject* node = FindNode(id);
  if (node == nullptr) id = 0;
  if (id == 0 && selected_id_ == 0) return false;
  if (gizmo_ != nullptr && node == gizmo_) return false;
  const bool changed = id != selected_id_;
  if (changed) {
    if (NHSObject* old = FindNode(selected_id_)) old->SetSelectedRecursive(false);
  }
  if (id == 0) {
    NHSObject_Handle* gizmo = gizmo_;
    gizmo_ = nullptr;
    selected_id_ = 0;
    delete gizmo;
    return changed;
  }
  if (changed) node->SetSelectedRecursive(true);
  if (gizmo_ == nullptr) {
    gizmo_ = new NHSObject_Handle;
    AddChild(gizmo_);
  }
  Matrix3x4 placed;
  node->GetGlobalTransform(placed, true);
  gizmo_->SetTransform(placed);
  selected_id_ = id;
  return changed;
}
