// SaveCamPathFBX: the camera path and the 3D points as an ASCII FBX 6.1 scene.
//
// Three models: a null "Model::<product>_root" carrying a camera "<product>_Camera" and a
// mesh "<product>_FP3D_cloud" whose vertices are the points (mm, no polygons); a bind
// pose, the global axis settings, relations and connections, one take "Default Take" with
// the camera's translation (x, -y, -z) and rotation (roll, -pan, tilt in degrees) keyed
// once per camera at its image index, and the time line. Times are FBX units of
// 1/46186158000 s at the writer's frame rate. Numbers are written in the classic locale:
// six significant digits up to the take, then times without decimals and key values with
// ten. The camera's optics lines are fixed apart from the field of view and the focal
// length of the first camera.
#pragma once

#include <ostream>

#include "export/save_cam_path.h"

class SaveCamPathFBX : public SaveCamPath {
 public:
  SaveCamPathFBX(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;

  // The opening line of a model's property block and the 68 transform lines every model
  // carries (three tabs each); the caller adds its own lines and the closing line.
  static void WriteModelProperties(std::ostream& out);
  // The camera's 69 optics lines (two tabs each): the horizontal field of view in
  // degrees and the focal length in mm go out in the stream's current number form.
  static void WriteCameraProperties(std::ostream& out, double field_of_view, double focal);
  // The mesh's three display lines (three tabs each).
  static void WriteMeshProperties(std::ostream& out);

  // The FBX time of an image index at the given frame rate: whole units of
  // 1/46186158000 s, halves rounded up.
  static double KeyTime(int image_index, double frames_per_second);
};
