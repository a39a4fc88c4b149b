// SaveCamPathXsi: the camera path and the 3D points as a dotXSI 3.0 text scene.
//
// The dispatcher creates it with coordinate mode 1 and file-index numbering 1, so it
// receives cameras and points already turned half a turn about X and numbers its frames
// from the first camera's file index (from 0 with numbering 0). The scene describes one
// camera by position and interest point with LINEAR function curves for position,
// interest, roll and vertical field of view, keyed once per camera at frames start,
// start + 1, ...; an up-vector constraint driven by an animated null; one null model per
// point. Lengths are centimetres (mm x 0.1); reals are fixed with six decimals, in the
// classic locale. The scene's frame range spans the image indices of the first and last
// camera.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathXsi : public SaveCamPath {
 public:
  SaveCamPathXsi(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;

  // The full vertical angle of view in degrees, 2 atan2(sy x height / (2 f), 1); 180 for
  // a focal length of 0.
  static double GetFieldOfView(const PerspectiveCamera& camera);
};
