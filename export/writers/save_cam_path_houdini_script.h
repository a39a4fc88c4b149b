// SaveCamPathHoudiniScript: the camera path and the 3D points as a Houdini command
// script (hscript, ".cmd").
//
// Run in Houdini, the script sets the frame rate and the range 0 .. N-1, creates in /obj
// a null "<maker>_scene" turned by 180 degrees about Z, below it the camera
// GetCameraName() with the first camera's resolution, pixel aspect, focal length and
// aperture (sensor width, mm) and pose, keys the camera's tx ty tz rx ry rz at frames 0 ..
// N-1 (the camera's place in the list, not its image index), and one null
// "FeaturePoint<j>" per point, also below the scene null, laid out in rows of ten in the
// network editor. Positions are the tracking system's mm without any axis change; the
// scene null's turn is the only adjustment. rx is tilt + 180 degrees, ry pan, rz roll;
// the static rx of the camera line is brought into (-180, 180], the keys are not. Numbers
// in the stream's default form (six significant digits), classic locale.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathHoudiniScript : public SaveCamPath {
 public:
  SaveCamPathHoudiniScript(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
