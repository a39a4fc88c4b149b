// SaveCamPathHoudini: the camera path as a Houdini channel clip in text form (".clip").
//
// The clip's rate is the frame rate, it starts at 0 and holds seven tracks of one sample
// per camera: Px Py Pz (the centre in mm, no axis change), Rx Ry Rz (tilt, pan and roll
// in degrees plus 180, brought into (-180, 180]) and FOV. FOV holds the first camera's
// 32 x focal length / sensor width once per image index from the first camera's to the
// last camera's, so it can be longer than the other tracks when the range has gaps, and
// is empty when the last camera's index lies before the first one's. No 3D points. Every
// data value is followed by one blank. Numbers in the stream's default form (six
// significant digits), classic locale.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathHoudini : public SaveCamPath {
 public:
  SaveCamPathHoudini(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
