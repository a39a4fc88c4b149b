// SaveCamPathCarrara: the camera path and the 3D points for Carrara, a text of
// four-letter keywords in nested blocks indented by two blanks a level.
//
// "<maker>_Export {" holds an "Imag {" block (camera name, image size, the frame rate
// rounded to a whole number, the number and range of the first and last cameras' image
// indices) and an "Obje {" block with a "Path {" of one "PKey" line per camera (k from
// 0, the centre as x,-y,z, the angles as pan,-tilt,-roll in degrees), an empty "Zoom {"
// and one "Trak {" per 3D point ("AutoFeature_<j>", the position as x,-y,z). Keywords
// without a value keep their trailing blank. Numbers in the stream's default form (six
// significant digits), classic locale.
#pragma once

#include "export/save_cam_path.h"

class SaveCamPathCarrara : public SaveCamPath {
 public:
  SaveCamPathCarrara(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;
};
