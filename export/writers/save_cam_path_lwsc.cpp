#include "export/writers/save_cam_path_lwsc.h"

#include <cmath>
#include <fstream>

#include "foundation/runtime/product_info.h"

namespace {

// 1 / tan(vfov / 2), through the vertical angle in degrees so that the last digits match
// the ones LightWave users already have.
double ZoomFactor(const FeatureImage& camera) {
  const double height = static_cast<double>(camera.GetHeight());
  const double vfov = 114.59155902616465 *
                      std::atan(camera.GetPixelSizeY() * height / (2.0 * camera.GetFocalLength()));
  return 1.0 / std::tan(0.008726646259971648 * vfov);
}

}  // namespace

bool SaveCamPathLWSC::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathLWSC", cameras, out)) return false;
  const FeatureImage& first = *cameras.front();
  const FeatureImage& last = *cameras.back();
  const int first_frame = first.GetImageIndex();
  const int last_frame = last.GetImageIndex();

  out << "LWSC\n1\n\n";
  out << "FirstFrame " << first_frame << '\n';
  out << "LastFrame  " << last_frame << '\n';
  out << "FrameStep  " << 1 << '\n';
  out << "PreviewFirstFrame " << first_frame << '\n';
  out << "PreviewLastFrame  " << last_frame << '\n';
  out << "PreviewFrameStep  " << 1 << '\n';
  out << "FramesPerSecond " << GetFramesPerSecond() << '\n';
  out << "\nShowMotionPath 1\nLayoutGrid 8\nGridSize 10.0\n";
  out << "AddNullObject " << ProductInfo::GetMakerName() << "Scene\n";
  out << "ShowObject 1 1\nObjectMotion (unnamed)\n9\n1\n"
         "0 0 0 0 0 0 1 1 1 \n"
         "0 0 0 0 0 \n"
         "EndBehavior 1\n"
         "ShadowOptions 7\n";

  size_t k = 0;
  for (const vm::Vector3& p : points) {
    out << "AddNullObject auto~" << k++ << '\n';
    out << "ShowObject 1 1\nObjectMotion (unnamed)\n9\n1\n";
    out << p.x << ' ' << -p.y << ' ' << p.z << " 0 0 0 0.1 0.1 0.1\n";
    out << "0 0 0.0 0.0 0.0\nEndBehavior 1\nParentObject 1\nShadowOptions 7\n"
           "LockedChannels 4095\n";
  }

  out << "ShowCamera 1 4\nCameraMotion (unnamed)\n9\n" << cameras.size() << '\n';
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3 angles = GetCameraAnglesInDegrees(*camera);  // pan, tilt, roll
    const vm::Vector3& c = camera->GetC();
    out << c.x << ' ' << -c.y << ' ' << c.z << ' ' << angles.x << ' ' << -angles.y << ' '
        << -angles.z << " 1 1 1 \n";
    out << camera->GetImageIndex() << " 0 0 0 0\n";
  }
  out << "EndBehavior 1\nLockedChannels 4095\nParentObject 1\n";
  out << "ZoomFactor (envelope)\n1\n" << cameras.size() << '\n';
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    out << ZoomFactor(*camera) << '\n';
    out << camera->GetImageIndex() << " 0 0 0 0\n";
  }
  out << "EndBehavior 1\n";
  out << "CustomSize " << first.GetWidth() << ' ' << first.GetHeight() << '\n';
  out << "Resolution 1\nPixelAspectRatio -1\n";
  out << "CustomPixelRatio " << first.GetPixelSizeX() / first.GetPixelSizeY() << '\n';
  out << "9\n";

  return FinishExport("SaveCamPathLWSC", out);
}
