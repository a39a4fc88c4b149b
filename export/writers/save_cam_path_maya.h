// SaveCamPathMaya: the camera path and the 3D points as a Maya ASCII scene.
//
// The scene holds a locator transform GetObjectName() + "_scene" that carries
// everything, the camera transform GetObjectName() + "Cam" below it (rotate order zxy)
// with its camera shape, seven key-framed animation curves (focal length in mm,
// translation in mm, rotation in degrees) keyed at the image indices, a script node with
// the playback range, and one small locator "auto_<i>" per point. The scene is the
// tracking frame turned half a turn about X: y and z are negated and the angles follow.
// Reals are written in the stream's default form (six significant digits), in the classic
// locale. The scene's time unit follows the frame rate: film for 24, ntsc for 29.97,
// 30, 59.94 and 60, pal otherwise.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathMaya : public SaveCamPath {
 public:
  SaveCamPathMaya(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
