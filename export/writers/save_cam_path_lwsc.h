// SaveCamPathLWSC: the camera path and the 3D points as a LightWave scene ("LWSC", 1).
//
// A null object "<maker>Scene" parents one null "auto~k" per point, at (x, -y, z) with
// scale 0.1, and the camera, keyed per image index: position (Cx, -Cy, Cz), heading pan,
// pitch -tilt and bank -roll (degrees, against the world axes), and a zoom envelope of
// 1 / tan(vfov / 2). The render size and pixel ratio are the first camera's. Numbers are
// written in the stream's default form (as "%g"), in the classic locale; the file carries
// no comment.
//
// Failures: an empty camera list (no file), a file that cannot be created or a write that
// fails are logged at level 2 and give false.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathLWSC : public SaveCamPath {
 public:
  SaveCamPathLWSC(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  bool Export(const CameraList& cameras, const PointList& points) override;
};
