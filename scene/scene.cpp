#include "scene/scene.h"

#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "tracking/job/camera_tracking_manager.h"

void Scene::SetData(CameraTrackingManager* manager) {
  ClearResult();
  if (manager == nullptr) return;
  for (const SharedPtr<FeatureImage>& image : manager->GetImageList()) {
    if (image && image->GetMeanSquaredError() >= 0.0) ++num_cameras_;
  }
  SharedPtr<FeatureMap> map = manager->GetFeatureMap();
  if (map) num_points_ = map->CountValidFPoint3D();
}

void Scene::ClearData() {
  ClearResult();
  // Deselect first: deleting the selected object must not leave the selection naming it.
  SelectObject(0);
  NHSObject* next = nullptr;
  for (NHSObject* child = GetFirstChild(); child != nullptr; child = next) {
    next = child->GetNextSibling();
    if (child->IsSceneObject()) delete child;
  }
}

void Scene::SetFPoints3D(const std::vector<SharedPtr<FeaturePoint3D>>& points) {
  num_points_ = 0;
  for (const SharedPtr<FeaturePoint3D>& p : points) {
    if (p && !p->TestFlags(FP3D_FLAG_REMOVED)) ++num_points_;
  }
}

void Scene::ClearResult() {
  num_cameras_ = 0;
  num_points_ = 0;
}
