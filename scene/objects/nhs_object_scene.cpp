#include "scene/objects/nhs_object_scene.h"

NHSObject_Scene::~NHSObject_Scene() {
  SelectObject(0);
}

bool NHSObject_Scene::SelectObject(int32_t id) {
  if (id == selected_id_) return false;
  selected_id_ = id;
  return true;
}
