// Scene: the 3D scene of one tracking job as the viewers show it.
//
// Built so far: the scene root with the user objects below it (the objects a user adds or
// a project brings back, type codes 12 .. 23) and the result summary the scene is filled
// from (solved cameras and the 3D points that are not removed), kept as counts; the
// built-in objects and the renderer join later. SetData refills the summary from a job's
// result, ClearData empties it and deletes the user objects.
//
// Interface thread only (and the batch end, which runs after the tracking thread ended).
#pragma once

#include <cstddef>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "scene/objects/nhs_object_scene.h"

class CameraTrackingManager;
class FeaturePoint3D;

class Scene : public NHSObject_Scene {
 public:
  // Rebuilds the summary from the job's result: the cameras of the images a solver
  // measured (mean squared error not negative) and the current map's points without the
  // removed flag, read under the map's read lock. A null job empties it. User objects stay.
  void SetData(CameraTrackingManager* manager);
  // Forgets the result and deletes every user object (after clearing the selection).
  void ClearData();
  // The point cloud from a 3D-point list: the points without the removed flag.
  void SetFPoints3D(const std::vector<SharedPtr<FeaturePoint3D>>& points);

  std::size_t NumCameras() const { return num_cameras_; }
  std::size_t NumPoints() const { return num_points_; }

 private:
  void ClearResult();

  std::size_t num_cameras_ = 0;
  std::size_t num_points_ = 0;
};
