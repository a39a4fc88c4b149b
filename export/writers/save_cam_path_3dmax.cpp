#include "export/writers/save_cam_path_3dmax.h"

#include <cstdio>
#include <fstream>
#include <iomanip>

#include "export/writer_support.h"

bool SaveCamPath3DMax::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPath3DMax", cameras, out)) return false;
  out << std::fixed << std::setprecision(6);
  const std::string camera_name = GetCameraName();
  const FeatureImage& first = *cameras.front();

  out << "-- maxscript export \n"
      << "-- " << GetCreatedBy() << '\n'
      << "-- Creation date: " << GetCreationDate() << '\n'
      << "-- USAGE: execute this max script into 3dmax\n"
      << "--        use the camera '" << camera_name << "' for rendering your scene\n"
      << "--        use the helper object 'scene_dummy' to rotate, translate and scale the "
         "scene\n\n"
      << "-- set custom units\n"
         "units.DisplayType = #metric\n"
         "units.MetricType = #millimeters\n\n"
         "-- a dummy you can use to translate, rotate and scale the scene\n"
         "root = point cross:off centermarker:off pos:[0.0, 0.0, 0.0] name:\"scene_dummy\"\n\n"
         "-- the camera and its keyframes\n"
      << "renderWidth = " << first.GetWidth() << '\n'
      << "renderHeight = " << first.GetHeight() << '\n'
      << "renderPixelAspect = " << first.GetPixelSizeX() / first.GetPixelSizeY() << '\n'
      << "frameRate = " << GetFramesPerSecond() << '\n'
      << "animationRange = interval " << first.GetImageIndex() << "f "
      << cameras.back()->GetImageIndex() << "f\n\n"
      << "in coordsys world animate on \n"
         "( \n"
      << "c = freecamera name:\"" << camera_name << "\" parent:$scene_dummy\n"
      << "c.nearclip = 0.0\n"
         "c.clipManually = true\n";

  for (const SharedPtr<FeatureImage>& camera : cameras) {
    // The pose with the camera's y and viewing axes reversed: the program's cameras look
    // along their negative z axis with y up.
    const Matrix4x4 pose = camera->GetPoseMatrix();
    const int n = camera->GetImageIndex();
    out << "-- use input image with frame number (" << camera->GetFileIndex()
        << ") as environment map\n";
    out << "at time " << n << "f c.rotation = (matrix3 ";
    for (int row = 0; row < 3; ++row) {
      out << '[' << pose[row][0] << ',' << -pose[row][1] << ',' << -pose[row][2] << "] ";
    }
    out << "[0,0,0]).rotationpart \n";
    const vm::Vector3& c = camera->GetC();
    out << "at time " << n << "f c.position = [" << c.x << ',' << c.y << ',' << c.z << "] \n";
    out << "at time " << n << "f c.fov = " << HorizontalFieldOfViewDegrees(*camera) << '\n';
  }
  out << ")\n\n";

  if (!points.empty()) {
    const std::string cloud = GetObjectName() + "_FP3D_cloud";
    out << "-- 3D Feature Points\n"
        << "point cross:off centermarker:off pos:[0.0, 0.0, 0.0] name:\"" << cloud
        << "\" parent:$scene_dummy\n";
    long number = 0;
    for (const vm::Vector3& p : points) {
      char name[32];
      std::snprintf(name, sizeof name, "fp3d_auto_%05ld", ++number);
      out << "point cross:off centermarker:on pos:[" << p.x << ',' << p.y << ',' << p.z
          << "] name:\"" << name << "\" parent:$" << cloud << '\n';
    }
    out << '\n';
  }
  out << "root.rotation = eulerAngles -90 -180 -180\n\n";

  return FinishExport("SaveCamPath3DMax", out);
}
