#include "export/writers/save_cam_path_maya.h"

#include <fstream>
#include <vector>

#include "export/writer_support.h"

namespace {

const char* TimeUnit(double fps) {
  if (fps >= 23.99 && fps <= 24.01) return "film;";
  if ((fps >= 29.96 && fps <= 30.01) || (fps >= 59.94 && fps <= 60.01)) return "ntsc;";
  return "pal;";
}

// Values of one animation curve per camera, from the camera and its pan, tilt and roll in
// degrees.
struct Channel {
  const char* node_type;
  const char* name;
  double (*value)(const FeatureImage& camera, const vm::Vector3& degrees);
};

const Channel kChannels[] = {
    {"animCurveTU", "_focalLength",
     [](const FeatureImage& camera, const vm::Vector3&) { return camera.GetFocalLength(); }},
    {"animCurveTL", "_translateX",
     [](const FeatureImage& camera, const vm::Vector3&) { return camera.GetC().x; }},
    {"animCurveTL", "_translateY",
     [](const FeatureImage& camera, const vm::Vector3&) { return -camera.GetC().y; }},
    {"animCurveTL", "_translateZ",
     [](const FeatureImage& camera, const vm::Vector3&) { return -camera.GetC().z; }},
    {"animCurveTA", "_rotateX", [](const FeatureImage&, const vm::Vector3& a) { return a.y; }},
    {"animCurveTA", "_rotateY", [](const FeatureImage&, const vm::Vector3& a) { return -a.x; }},
    {"animCurveTA", "_rotateZ", [](const FeatureImage&, const vm::Vector3& a) { return -a.z; }},
};

}  // namespace

bool SaveCamPathMaya::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathMaya", cameras, out)) return false;
  const std::string obj = GetObjectName();
  const std::string node = obj + "Cam";
  const FeatureImage& first = *cameras.front();
  const FeatureImage& last = *cameras.back();
  const int f = first.GetImageIndex();
  const int l = last.GetImageIndex();
  const double width_mm = first.GetPixelSizeX() * double(first.GetWidth());
  const double height_mm = first.GetPixelSizeY() * double(first.GetHeight());
  const float aspect = float(double(float(width_mm)) / height_mm);

  std::string created_by = GetCreatedBy();
  created_by[0] = 'C';  // this format's header says "Created by"
  out << "//Maya ASCII 1.0 scene file\n"
      << "//" << created_by << '\n'
      << "//Creation date: " << GetCreationDate() << '\n'
      << "//Frame index in " << obj << ": " << f << " - " << l << '\n'
      << "//File index: " << first.GetFileIndex() << " - " << last.GetFileIndex() << '\n'
      << "// USAGE: import this maya script file into maya\n"
      << "//        use the '" << node << "' for rendering your scene\n"
      << "//        use the locator object '" << obj
      << "_scene' to rotate, translate and scale the scene\n\n"
      << "requires maya \"6.0\";\n"
         "//requires maya \"1.0\";\n"
      << "currentUnit -l millimeter -a degree -t " << TimeUnit(GetFramesPerSecond()) << '\n'
      << "playbackOptions -min " << f << " -max " << l << " -animationStartTime " << f
      << " -animationEndTime " << l << ";\n\n"
      << "// the five next lines set global render attributes\n"
         "select -ne defaultResolution;\n"
      << "\t setAttr \".w\" " << first.GetWidth() << ";\n"
      << "\t setAttr \".h\" " << first.GetHeight() << ";\n"
      << "\t setAttr \".dar\" " << aspect << ";\n"
      << "\t setAttr \".ldar\" yes;\n\n";

  out << "// the locator object '" << obj
      << "_scene' can be used to translate, rotate and scale the scene\n"
      << "createNode transform -n \"" << obj << "_scene\";\n"
      << "\t setAttr \".s\" -type \"double3\" 1.0 1.0 1.0;\n"
      << "createNode locator -n \"" << obj << "_scene_shape\" -p \"" << obj << "_scene\";\n"
      << "\t setAttr -k off \".v\";\n\n"
      << "// the camera and its animCurve\n"
      << "createNode transform -n \"" << node << "\" -p \"" << obj << "_scene\";\n"
      << "\t setAttr \".ro\" 2;\n"
      << "\t setAttr \".s\" -type \"double3\" 0.4 0.4 0.4;\n"
      << "createNode camera -n \"" << node << "_Shape\" -p \"" << node << "\";\n"
      << "\t setAttr -k off \".v\";\n"
      // Millimetres to inches with the literal the format has always used.
      << "\t setAttr \".cap\" -type \"double2\" " << float(width_mm * 0.03937007933143675) << ' '
      << float(height_mm * 0.03937007933143675) << ";\n"
      << "\t setAttr \".ff\" 0;\n"
      << "\t setAttr \".imn\" -type \"string\" \"" << node << "\";\n"
      << "\t setAttr \".den\" -type \"string\" \"" << node << "_depth\";\n"
      << "\t setAttr \".man\" -type \"string\" \"" << node << "_mask\";\n\n";

  std::vector<vm::Vector3> angles;
  angles.reserve(cameras.size());
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    angles.push_back(GetCameraAnglesInDegrees(*camera));
  }
  // The key array spans exactly the keys written; for the contiguous lists the dispatcher
  // hands over that is F .. L.
  const long key_last = long(f) + long(cameras.size()) - 1;
  for (const Channel& channel : kChannels) {
    out << "createNode " << channel.node_type << " -n \"" << node << channel.name << "\";\n";
    out << "\t setAttr -s " << key_last + 1 << " \".ktv[" << f << ':' << key_last << "]\" ";
    for (size_t k = 0; k < cameras.size(); ++k) {
      out << cameras[k]->GetImageIndex() << ' ' << channel.value(*cameras[k], angles[k]) << ' ';
    }
    out << ";\n";
  }

  const char* const kConnections[][2] = {{"translateX", "tx"}, {"translateY", "ty"},
                                         {"translateZ", "tz"}, {"rotateX", "rx"},
                                         {"rotateY", "ry"},    {"rotateZ", "rz"}};
  for (const auto& [curve, attribute] : kConnections) {
    out << "connectAttr \"" << node << '_' << curve << ".o\" \"" << node << '.' << attribute
        << "\";\n";
  }
  out << "connectAttr \"" << node << "_focalLength.o\" \"" << node << "_Shape.fl\";\n\n"
      << "createNode script -n \"animationScriptNode\";\n"
      << "\t setAttr \".a\" -type \"string\" (\n"
      << "\"playbackOptions -min " << f << " -max " << l << " -animationStartTime " << f
      << " -animationEndTime " << l << " -fps 25;\");\n"
      << "select -ne :time1;\n"
      << "\t setAttr \".o\" 0;\n\n"
      << "// 3D feature points";

  for (size_t i = 0; i < points.size(); ++i) {
    const vm::Vector3& p = points[i];
    out << "\ncreateNode transform -n \"auto_" << i << "\" -p \"" << obj << "_scene\";\n"
        << "\t setAttr \".t\" -type \"double3\" " << p.x << ' ' << -p.y << ' ' << -p.z << ";\n"
        << "\t setAttr \".s\" -type \"double3\" 0.05 0.05 0.05;\n"
        << "createNode locator -n \"auto_" << i << "Shape\" -p \"auto_" << i << "\";\n"
        << "\t setAttr -k off \".v\";";
  }
  out << '\n';

  return FinishExport("SaveCamPathMaya", out);
}
