// SaveCamPathCollada: the camera path, its optics and the 3D points as a COLLADA 1.4
// document (".dae", Y up).
//
// The camera node "Camera" carries translate (Cx, -Cy, -Cz), then rotations about Y (-pan),
// X (tilt) and Z (-roll) in degrees, against the world axes: the tracking system turned by
// 180 degrees about X. Five animations drive them and the camera's horizontal field of
// view (degrees; 180 for a focal length of 0), one key per camera at i / fps seconds
// (single precision), LINEAR between keys. The points are nodes "auto_i" at (x, -y, -z)
// under "PointCloudNode". Lengths stay in mm although the asset declares centimetres, as
// importers of earlier exports expect. Every number is fixed with six decimals, in the
// classic locale; names are XML-escaped.
//
// The user's scene objects, their images, effects, materials, geometries and nodes, join
// the document at the places Export marks; until the scene has them the document holds no
// geometry library (an empty one is invalid).
//
// Failures: an empty camera list (no file), a file that cannot be created or a write that
// fails are logged at level 2 and give false.
#pragma once

#include <iosfwd>
#include <string>

#include "export/save_cam_path.h"

class SaveCamPathCollada : public SaveCamPath {
 public:
  SaveCamPathCollada(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  bool Export(const CameraList& cameras, const PointList& points) override;

  // The XML declaration, the opening root element and the asset block.
  static void WriteHeader(std::ostream& out);
  // One point light with id and name `name` (escaped).
  static void WriteLight(std::ostream& out, const std::string& name);
};

// `text` with &, <, >, " and ' replaced by their XML entities.
std::string XmlEscape(const std::string& text);

// The current local time as "%Y-%m-%dT%H:%M:%S" into `text`; false, `text` untouched, when
// the time is not available.
bool FormatIsoDateTime(std::string& text);
