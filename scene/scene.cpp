#include "scene/scene.h"

#include "tracking/camera_tracking_manager.h"

void Scene::SetData(CameraTrackingManager* manager) {
  ClearData();
  if (manager == nullptr) return;
  for (const SharedPtr<FeatureImage>& image : manager->GetImageList()) {
    if (image && image->GetMeanSquaredError() >= 0.0) ++num_cameras_;
  }
  SharedPtr<FeatureMap> map = manager->GetFeatureMap();
  if (map) num_points_ = map->CountValidFPoint3D();
}

void Scene::ClearData() {
  num_cameras_ = 0;
  num_points_ = 0;
}
