// Scene: the 3D scene of one tracking job as the viewers show it.
//
// Built so far: the result summary the scene is filled from (solved cameras and the 3D
// points that are not removed), kept as counts; the scene graph, its objects and the
// renderer join later. SetData refills it from a job's result, ClearData empties it.
//
// Interface thread only (and the batch end, which runs after the tracking thread ended).
#pragma once

#include <cstddef>

class CameraTrackingManager;

class Scene {
 public:
  // Rebuilds the scene from the job's result: the cameras of the images a solver measured
  // (mean squared error not negative) and the current map's points without the removed
  // flag, read under the map's read lock. A null job empties the scene.
  void SetData(CameraTrackingManager* manager);
  // Empties the point cloud and the camera track.
  void ClearData();

  std::size_t NumCameras() const { return num_cameras_; }
  std::size_t NumPoints() const { return num_points_; }

 private:
  std::size_t num_cameras_ = 0;
  std::size_t num_points_ = 0;
};
