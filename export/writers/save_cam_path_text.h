// SaveCamPathText: the plain text export of the camera path and the 3D points.
//
// A commented header naming the program and the creation time, then two lines per camera
// ("#timeindex " and the file index; then H0, V0, A, C, focal length in mm, horizontal
// field of view in degrees, pixel width and height in mm, tab-separated), then, when
// there are points, a commented point header and one "x\ty\tz" line per point followed by
// an empty line. The file always ends with one more empty line. Every number but the file
// index is written fixed with ten decimals, in the classic locale.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathText : public SaveCamPath {
 public:
  SaveCamPathText(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
