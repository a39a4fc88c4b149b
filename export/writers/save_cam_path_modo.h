// SaveCamPathModo: the solved scene as a Perl script of Modo commands (lx and lxq).
//
// The script starts a new scene with a group locator "Kalvex_Scene", sets the frame rate
// (rounded to a whole number), the time range 0 .. N and the render size, creates the
// camera "Kalvex_Camera" with the first camera's pixel aspect, aperture (sensor size, mm)
// and focal length, loads the image sequence as an image map projected from the camera
// onto the environment, keys the camera at every camera's image index, and adds one
// small locator "FeaturePoint<i>" per 3D point below the locator "Kalvex Features". Two
// Perl subroutines at the end find items by name and by type.
//
// Axes and units: the writer turns the tracking system by 180 degrees about X itself
// (positions x,-y,-z; rotations tilt,-pan,-roll in degrees); the mm values are written
// with Modo's unit "in", as the importing scenes expect. Numbers are fixed with ten
// decimals, classic locale.
//
// The image sequence is the first file of the image cache (SetImageCache). Without a
// cache or a sequence the clip and image-map commands are left out (logged at level 2).
// The path keeps its separators; only a Windows path (a backslash or a drive letter) has
// every '/' written as '\'. Every path and name taken from the file system is escaped for
// the Perl string it is written into, so a quote, a backslash or a '$' in a folder or file
// name reaches Modo as it is and cannot end the string. Modo's own double quotes around
// the clip path and the map name are not escaped: a double quote in them still splits
// that command's argument.
#pragma once

#include <string>

#include "export/save_cam_path.h"

class SaveCamPathModo : public SaveCamPath {
 public:
  SaveCamPathModo(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  // False with a level-2 log for an empty camera list (no file), a file that cannot be
  // created, or a write that fails.
  bool Export(const CameraList& cameras, const PointList& points) override;

  // The image-map name of a sequence file: the file name without directory and extension,
  // its trailing run of digits written as as many '#' between "[" and "]":
  // "d/shot_0001.png" gives "shot_[####]", "shot.png" "shot[]", "0001.png" "[####]".
  static std::string MapName(const std::string& sequence_file);
  // The sequence file as the script names it: a Windows path (with a backslash or a drive
  // letter) with every '/' turned into '\', any other path as it is.
  static std::string ScriptPath(const std::string& sequence_file);
};
