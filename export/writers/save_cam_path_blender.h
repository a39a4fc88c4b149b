// SaveCamPathBlender: the camera path and the 3D points as a Python script for Blender.
//
// The version chooses the script: below 2.5 the 2.4x script (module Blender, Python 2),
// above 2.5 the 2.6x script, otherwise (exactly 2.5, or NaN) the 2.5x script (module bpy).
// Cameras and points stay in the tracking coordinate system (mm); the scripts create an
// empty helper object "<maker>_scene" that parents a render camera "render_<maker>_cam"
// and the point mesh. Values every script shares:
//   lens          f * 32 / (sx * W) (the focal length on a 32 mm wide image); a camera
//                 without a finite lens gets 35.0 and a level-2 warning;
//   pixel aspect  100 : (int)(100 / sx * sy + 0.5) of the first camera, 100 : 100 when sx
//                 is 0 (warning);
//   frame rate    (int)(fps + 0.5);
//   camera matrix camera-to-world (columns H0, V0, A, C) times diag(1, -1, -1, 1), so the
//                 camera's y looks up in the image and its z backwards, given as four
//                 column groups: the 2.4x and 2.5x scripts pass them to Matrix(), the 2.6x
//                 script assigns them to matrix_world as a plain sequence, which every
//                 release since reads as columns.
// Keys: the 2.4x script keys image index + 1, the bpy scripts the file index. Every
// number is fixed with six decimals, in the classic locale.
//
// Failures: an empty camera list (no file), a file that cannot be created or a write that
// fails are logged at level 2 and give false.
#pragma once

#include <fstream>

#include "export/save_cam_path.h"

class SaveCamPathBlender : public SaveCamPath {
 public:
  SaveCamPathBlender(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // 2.4, 2.5 or 2.6 from the dispatcher; not checked.
  void SetVersion(float version) { version_ = version; }
  float GetVersion() const { return version_; }

  bool Export(const CameraList& cameras, const PointList& points) override;

  bool Export2Dot4(const CameraList& cameras, const PointList& points);
  bool Export2Dot5(const CameraList& cameras, const PointList& points);
  bool Export2Dot6(const CameraList& cameras, const PointList& points);

 private:
  // The 2.5x and 2.6x scripts; they differ in the lens default and the matrix constructor.
  bool ExportBpy(const CameraList& cameras, const PointList& points, bool v26);

  // The base's start and end of an export, with the script writer's name in the messages
  // ("SaveCamPathBlender::<method>: ..."); the stream is switched to six fixed decimals.
  bool StartScript(const char* method, const CameraList& cameras, std::ofstream& out) const;
  bool FinishScript(const char* method, std::ofstream& out) const;

  float version_ = 2.5f;
};
