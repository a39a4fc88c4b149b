#include "export/writers/save_cam_path_xsi.h"

#include <cmath>
#include <fstream>
#include <iomanip>

#include "export/writer_support.h"
#include "foundation/camera/camera_geometry.h"

namespace {

// The roll of the camera against a reference camera looking along -z with its image-down
// axis along -y (the default camera turned like the scene), in degrees through single
// precision as the format's readers have always received it.
double RollDegrees(const PerspectiveCamera& camera) {
  PerspectiveCamera reference;
  Matrix4x4 turn{};
  turn[0][0] = turn[3][3] = 1.0;
  turn[1][1] = turn[2][2] = -1.0;
  reference.Transform(turn);
  double pan = 0.0, tilt = 0.0, roll = 0.0;
  GetCameraAngles(camera, pan, tilt, roll, &reference);
  return double(float(roll) * 180.0f) * 0.3183098861837907;
}

// Writes the lines of one function curve: name, parameters, the key count and one key
// line per camera with the values `keys` writes.
template <typename Keys>
void WriteCurve(std::ostream& out, const char* indent, const std::string& owner,
                const std::string& head, const char* parameter, const char* dimension,
                const SaveCamPath::CameraList& cameras, int start, Keys keys) {
  const std::string inner = std::string(indent) + "    ";
  out << indent << head << '\n'
      << inner << '"' << owner << "\",\n"
      << inner << '"' << parameter << "\",\n"
      << inner << "\"LINEAR\",\n"
      << inner << dimension << '\n'
      << inner << cameras.size() << ",\n";
  for (size_t k = 0; k < cameras.size(); ++k) {
    out << inner << start + long(k) << ',';
    keys(*cameras[k]);
    out << '\n';
  }
  out << inner << "}\n";
}

}  // namespace

double SaveCamPathXsi::GetFieldOfView(const PerspectiveCamera& camera) {
  const double half_height = camera.GetPixelSizeY() * double(camera.GetHeight()) / 2.0;
  return 2.0 * std::atan2(half_height / camera.GetFocalLength(), 1.0) * 57.29577951308232;
}

bool SaveCamPathXsi::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathXsi", cameras, out)) return false;
  out << std::fixed << std::setprecision(6);

  const FeatureImage& first = *cameras.front();
  const long frames = long(cameras.back()->GetImageIndex()) - first.GetImageIndex() + 1;
  const int start = GetFileIndexNumbering() == 1 ? first.GetFileIndex() : 0;
  const std::string obj = GetObjectName();
  const std::string cam = GetCameraName();

  out << "xsi 0300txt 0032\n\n"
      << "SI_FileInfo {\n"
      << "    \"" << GetOutputPath() << "\",\n"
      << "    \"user\",\n"
      << "    \"" << GetCreationDate() << "\",\n"
      << "    \"" << GetCreatedBy() << "\",\n"
      << "    }\n\n"
      << "SI_Scene {\n"
      << "    \"FRAMES\",\n"
      << "    " << start << ',' << start + frames - 1 << ",\n"
      << "    " << GetFramesPerSecond() << ",\n"
      << "    }\n\n"
      << "SI_CoordinateSystem {\n"
         "    1;\n    0;\n    1;\n    0;\n    2;\n    5;\n    }\n\n"
         "SI_Angle {\n    0;\n    }\n\n";

  const vm::Vector3& c = first.GetC();
  const vm::Vector3& a = first.GetA();
  out << "SI_Camera " << cam << " {\n"
      << "    " << c.x * 0.1 << ',' << c.y * 0.1 << ',' << c.z * 0.1 << ";;\n"
      << "    " << (c.x + a.x) * 0.1 << ',' << (c.y + a.y) * 0.1 << ',' << (c.z + a.z) * 0.1
      << ";;\n"
      << "    " << RollDegrees(first) << ";\n"
      << "    " << GetFieldOfView(first) << ";\n"
      << "    " << 0.1 << ";\n"
      << "    " << 1000.0 << ";\n\n";

  WriteCurve(out, "    ", cam, "SI_FCurve " + cam + "-POSITION-XYZ {", "POSITION-XYZ", "3,1,",
             cameras, start, [&out](const FeatureImage& camera) {
               const vm::Vector3& p = camera.GetC();
               out << p.x * 0.1 << ',' << p.y * 0.1 << ',' << p.z * 0.1 << ',';
             });
  out << '\n';
  WriteCurve(out, "    ", cam, "SI_FCurve " + cam + "-INTEREST-XYZ {", "INTEREST-XYZ", "3,1,",
             cameras, start, [&out](const FeatureImage& camera) {
               const vm::Vector3& p = camera.GetC();
               const vm::Vector3& axis = camera.GetA();
               out << double(float(p.x + axis.x)) * 0.1 << ',' << double(float(p.y + axis.y)) * 0.1
                   << ',' << double(float(p.z + axis.z)) * 0.1 << ',';
             });
  out << '\n';
  WriteCurve(out, "    ", cam, "SI_FCurve " + cam + "-ROLL {", "ROLL", "1,1,", cameras, start,
             [&out](const FeatureImage& camera) {
               out << std::acos(-camera.V0().y) * 57.29577951308232 << ',';
             });
  out << '\n';
  WriteCurve(out, "    ", cam, "SI_FCurve " + cam + "-FOV {", "FOV", "1,1,", cameras, start,
             [&out](const FeatureImage& camera) { out << GetFieldOfView(camera) << ','; });
  out << '\n';

  out << "    SI_Constraint " << cam << "-UP_VECTOR {\n"
      << "        \"" << cam << "\",\n"
      << "        \"UP_VECTOR\",\n"
      << "        1,\n"
      << "        \"up_vector\",\n"
      << "        }\n"
      << "    }\n\n"
      << "SI_Ambience {\n"
      << "    0.3000; 0.3000; 0.3000;;\n"
      << "    }\n\n"
      << "SI_Model MDL-TopNull {\n"
      << "    SI_Model MDL-up_vector {\n";
  WriteCurve(out, "        ", "up_vector", "SI_FCurve up_vector-TRANSLATION-XYZ {",
             "TRANSLATION-XYZ", "3,1,", cameras, start, [&out](const FeatureImage& camera) {
               // One millimetre opposite to the image-down axis.
               const vm::Vector3& p = camera.GetC();
               const vm::Vector3 down = camera.V0();
               out << (p.x - down.x) * 0.1 << ',' << (p.y - down.y) * 0.1 << ','
                   << (p.z - down.z) * 0.1 << ',';
             });
  out << "        }\n\n";

  out << "    SI_Model MDL-All" << obj << "ScenePoints {\n"
      << "        SI_Transform SRT-All" << obj << "ScenePoints {\n"
      << "        1.00000,1.00000,1.00000,\n"
      << "        0.00000,0.00000,0.00000,\n"
      << "        0.00000,0.00000,0.00000,\n"
      << "        }\n";
  for (size_t i = 0; i < points.size(); ++i) {
    const vm::Vector3& p = points[i];
    out << "        SI_Model MDL-auto_" << i << " {\n"
        << "            SI_Transform SRT-auto_" << i << " {\n"
        << "                " << 0.1 << ',' << 0.1 << ',' << 0.1 << ",\n"
        << "                " << 0.0 << ',' << 0.0 << ',' << 0.0 << ",\n"
        << "                " << p.x * 0.1 << ',' << p.y * 0.1 << ',' << p.z * 0.1 << ",\n"
        << "                }\n"
        << "            }\n";
  }
  out << "        }\n"
      << "    }\n";

  return FinishExport("SaveCamPathXsi", out);
}
