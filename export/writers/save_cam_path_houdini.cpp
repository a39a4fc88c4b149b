#include "export/writers/save_cam_path_houdini.h"

#include <fstream>
#include <vector>

namespace {

// An angle in degrees turned by 180 degrees, in (-180, 180] for angles in [-180, 180].
double Turned(double degrees) {
  const double a = degrees + 180.0;
  return a > 180.0 ? a - 360.0 : a;
}

void WriteTrack(std::ofstream& out, const char* name, const std::vector<double>& values) {
  out << "     {\n";
  out << "          name = " << name << '\n';
  out << "          lefttype = hold\n";
  out << "          righttype = hold\n";
  out << "          data = ";
  for (double v : values) out << v << ' ';
  out << '\n';
  out << "     }\n";
  out << '\n';
}

}  // namespace

bool SaveCamPathHoudini::Export(const CameraList& cameras, const PointList& /*points*/) {
  std::ofstream out;
  if (!StartExport("SaveCamPathHoudini", cameras, out)) return false;

  std::vector<double> tracks[6];
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3& c = camera->GetC();
    const vm::Vector3 a = GetCameraAnglesInDegrees(*camera);
    const double values[6] = {c.x, c.y, c.z, Turned(a.y), Turned(a.x), Turned(a.z)};
    for (int k = 0; k < 6; ++k) tracks[k].push_back(values[k]);
  }
  const FeatureImage& first = *cameras.front();
  const long long samples =
      static_cast<long long>(cameras.back()->GetImageIndex()) - first.GetImageIndex() + 1;
  const double fov =
      32.0 * first.GetFocalLength() / (double(first.GetWidth()) * first.GetPixelSizeX());
  const std::vector<double> fov_track(samples > 0 ? size_t(samples) : 0, fov);

  out << "{\n";
  out << "     rate = " << GetFramesPerSecond() << '\n';
  out << "     start = 0\n";
  out << "     tracklength = " << cameras.size() << '\n';
  out << "     tracks = 7\n";
  const char* names[6] = {"Px", "Py", "Pz", "Rx", "Ry", "Rz"};
  for (int k = 0; k < 6; ++k) WriteTrack(out, names[k], tracks[k]);
  WriteTrack(out, "FOV", fov_track);
  out << "     quaternions = xyz 1\n";
  out << "     3 4 5\n";
  out << "}\n";
  return FinishExport("SaveCamPathHoudini", out);
}
