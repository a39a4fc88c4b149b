#include "export/writers/save_cam_path_houdini_script.h"

#include <cmath>
#include <fstream>
#include <string>

#include "foundation/runtime/product_info.h"

bool SaveCamPathHoudiniScript::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathHoudiniScript", cameras, out)) return false;

  // The maker name as it is: an empty one gives "_scene" (the camera still gets
  // "Default_cam").
  const std::string scene = ProductInfo::GetMakerName() + "_scene";
  const std::string cam = GetCameraName();
  const FeatureImage& first = *cameras.front();
  const double focal = first.GetFocalLength();
  const double fov =
      2.0 * std::atan(double(first.GetWidth()) * first.GetPixelSizeX() / (2.0 * focal));
  const double aperture = 2.0 * focal * std::tan(fov / 2.0);
  const vm::Vector3& c0 = first.GetC();
  const vm::Vector3 a0 = GetCameraAnglesInDegrees(first);
  double rx0 = a0.y + 180.0;
  if (rx0 > 180.0) rx0 -= 360.0;

  out << "fps " << GetFramesPerSecond() << '\n';
  out << "frange 0 " << cameras.size() - 1 << '\n';
  out << "opcf /obj\n";
  out << "opadd null " << scene << '\n';
  out << "opparm " << scene << " r (0 0 180)\n";
  out << "oplocate -x 0 -y 0 " << scene << '\n';
  out << "objparent off\n";
  out << "opadd cam " << cam << '\n';
  out << "oplocate -x 0 -y -1 " << cam << '\n';
  out << "opwire " << scene << " -0 " << cam << '\n';
  out << "opparm " << cam << " res ( " << first.GetWidth() << ' ' << first.GetHeight() << " )\n";
  out << "opparm " << cam << " aspect " << first.GetPixelSizeX() / first.GetPixelSizeY() << '\n';
  out << "opparm " << cam << " focal (" << focal << " ) aperture (" << aperture
      << ") rOrd ( xyz )\n";
  out << "viewcamera -c " << cam << " Build.pane1.world.persp1 \n";
  out << "opparm " << cam << " t (" << c0.x << ' ' << c0.y << ' ' << c0.z << ") r (" << rx0 << ' '
      << a0.x << ' ' << a0.z << ")\n";
  out << "chadd " << cam << " tx ty tz rx ry rz\n";

  for (size_t i = 0; i < cameras.size(); ++i) {
    const vm::Vector3& c = cameras[i]->GetC();
    const vm::Vector3 a = GetCameraAnglesInDegrees(*cameras[i]);
    const double values[6] = {c.x, c.y, c.z, a.y + 180.0, a.x, a.z};
    const char* channels[6] = {"tx", "ty", "tz", "rx", "ry", "rz"};
    out << "fcur " << i << '\n';
    for (int k = 0; k < 6; ++k) {
      out << "chkey -f " << i << " -v " << values[k] << ' ' << cam << '/' << channels[k] << '\n';
    }
    out << "chcommit\n";
  }

  // Rows of ten in the network editor, starting two rows below the scene null.
  int column = 0;
  int row = -2;
  for (size_t j = 0; j < points.size(); ++j) {
    const std::string name = "FeaturePoint" + std::to_string(j);
    const vm::Vector3& p = points[j];
    out << "opadd null " << name << '\n';
    out << "oplocate -x " << column << " -y " << row << ' ' << name << '\n';
    out << "opwire " << scene << " -0 " << name << '\n';
    out << "opparm " << name << " s (1 1 1)\n";
    out << "opparm " << name << " t (" << p.x << ' ' << p.y << ' ' << p.z << " )\n";
    if (++column == 10) {
      column = 0;
      --row;
    }
  }
  out << "opcf /\n";
  return FinishExport("SaveCamPathHoudiniScript", out);
}
