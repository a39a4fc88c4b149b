// SaveCamPath3DMax: the camera path and the 3D points as a MAXScript file.
//
// Run inside the 3D program the script sets millimetre units, creates a point helper
// "scene_dummy" that carries the whole scene, a free camera named GetCameraName() keyed
// once per camera at its image index (rotation, position, horizontal field of view; the
// comment above each key names the image's file index), and, when there are points, a
// point helper GetObjectName() + "_FP3D_cloud" with one child point "fp3d_auto_%05d" per
// point, numbered from 1. The script finally turns the scene dummy upright. Every real
// number is written fixed with six decimals, in the classic locale; lengths are in mm.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPath3DMax : public SaveCamPath {
 public:
  SaveCamPath3DMax(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
