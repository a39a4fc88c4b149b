#include "export/writers/save_cam_path_collada.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <memory>
#include <vector>

#include "export/writers/save_cam_path_collada_objects.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "scene/objects/nhs_object_scene.h"

namespace {

constexpr double kDegrees = 57.29577951308232;

struct Rotation {
  double x, y, z;  // degrees: tilt, -pan, -roll
};

// Full horizontal angle in degrees; 180 for a focal length of 0.
double FieldOfView(const FeatureImage& camera) {
  const double f = camera.GetFocalLength();
  if (f == 0.0) return 180.0;
  return 2.0 *
         std::atan(static_cast<double>(camera.GetWidth()) * camera.GetPixelSizeX() / (2.0 * f)) *
         kDegrees;
}

std::string Tabs(int n) {
  return std::string(size_t(n), '\t');
}

// One animation: a time source, an output source of `values` (stride = number of
// parameter names), LINEAR interpolation per value, the sampler and the channel.
void WriteAnimation(std::ostream& out, const std::string& id, const std::vector<float>& times,
                    const std::vector<double>& values, bool single_precision,
                    const std::vector<const char*>& params, const std::string& target) {
  const size_t n = times.size();
  const size_t stride = params.size();
  auto source_head = [&](const char* suffix, const char* array, size_t count) {
    out << Tabs(3) << "<source id=\"" << id << suffix << "\">\n";
    out << Tabs(4) << '<' << array << " count=\"" << count << "\" id=\"" << id << suffix
        << "-array\">";
  };
  auto source_tail = [&](const char* suffix, const char* type) {
    out << Tabs(4) << "<technique_common>\n";
    out << Tabs(5) << "<accessor count=\"" << n << "\" source=\"#" << id << suffix
        << "-array\" stride=\"" << stride << "\">\n";
    for (const char* name : params) {
      out << Tabs(6) << "<param type=\"" << type << '"';
      if (name != nullptr) out << " name=\"" << name << '"';
      out << "></param>\n";
    }
    out << Tabs(5) << "</accessor>\n";
    out << Tabs(4) << "</technique_common>\n";
    out << Tabs(3) << "</source>\n";
  };

  out << Tabs(2) << "<animation id=\"" << id << "\" name=\"" << id << "\">\n";

  out << Tabs(3) << "<source id=\"" << id << "-input\">\n";
  out << Tabs(4) << "<float_array count=\"" << n << "\" id=\"" << id << "-input-array\">";
  for (float t : times) out << t << ' ';
  out << "</float_array>\n";
  out << Tabs(4) << "<technique_common>\n";
  out << Tabs(5) << "<accessor count=\"" << n << "\" source=\"#" << id
      << "-input-array\" stride=\"1\">\n";
  out << Tabs(6) << "<param type=\"float\" name=\"TIME\"></param>\n";
  out << Tabs(5) << "</accessor>\n";
  out << Tabs(4) << "</technique_common>\n";
  out << Tabs(3) << "</source>\n";

  source_head("-output", "float_array", values.size());
  for (double v : values) {
    if (single_precision) {
      out << static_cast<float>(v) << ' ';
    } else {
      out << v << ' ';
    }
  }
  out << "</float_array>\n";
  source_tail("-output", "float");

  // Keys sit on every frame and carry no tangents: LINEAR keeps the keyed values, a
  // BEZIER curve without tangents is rejected by importers.
  source_head("-interpolation", "Name_array", values.size());
  for (size_t i = 0; i < values.size(); ++i) out << "LINEAR ";
  out << "</Name_array>\n";
  source_tail("-interpolation", "Name");

  out << Tabs(3) << "<sampler id=\"" << id << "-sampler\">\n";
  for (const char* input : {"INPUT", "OUTPUT", "INTERPOLATION"}) {
    std::string suffix = input;
    for (char& c : suffix) c = static_cast<char>(c - 'A' + 'a');
    out << Tabs(4) << "<input semantic=\"" << input << "\" source=\"#" << id << '-' << suffix
        << "\"/>\n";
  }
  out << Tabs(3) << "</sampler>\n";
  out << Tabs(3) << "<channel source=\"#" << id << "-sampler\" target=\"" << target << "\"/>\n";
  out << Tabs(2) << "</animation>\n";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

bool FormatIsoDateTime(std::string& text) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == std::time_t(-1) || ::localtime_r(&now, &local) == nullptr) return false;
  char buffer[512];
  // Digits and separators only: no locale reaches this pattern.
  const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
  if (length == 0) return false;
  text.assign(buffer, length);
  return true;
}

void SaveCamPathCollada::WriteHeader(std::ostream& out) {
  std::string date = "not set";
  FormatIsoDateTime(date);
  out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  out << "<COLLADA version=\"1.4.0\" "
         "xmlns=\"http://www.collada.org/2005/11/COLLADASchema\">\n";
  out << "\t<asset>\n";
  out << "\t\t<contributor>\n";
  out << "\t\t\t<author>Collada 1.4.0 exporter for " << XmlEscape(ProductInfo::GetProductName())
      << " </author>\n";
  out << "\t\t\t<comments></comments>\n";
  out << "\t\t\t<copyright></copyright>\n";
  out << "\t\t</contributor>\n";
  out << "\t\t<created>" << date << "</created>\n";
  out << "\t\t<modified>" << date << "</modified>\n";
  out << "\t\t<unit meter=\"0.01\" name=\"centimeter\"/>\n";
  out << "\t\t<up_axis>Y_UP</up_axis>\n";
  out << "\t</asset>\n";
}

void SaveCamPathCollada::WriteLight(std::ostream& out, const std::string& name) {
  const std::string id = XmlEscape(name);
  out << "\t<library_lights>\n";
  out << "\t\t <light id=\"" << id << "\" name=\"" << id << "\">\n";
  out << "\t\t\t <technique_common>\n";
  out << "\t\t\t\t<point>\n";
  out << "\t\t\t\t\t<color>1.00000 1.00000 1.00000</color>\n";
  out << "\t\t\t\t\t<constant_attenuation>1.0</constant_attenuation>\n";
  out << "\t\t\t\t\t<linear_attenuation>0.0</linear_attenuation>\n";
  out << "\t\t\t\t\t<quadratic_attenuation>1.0</quadratic_attenuation>\n";
  out << "\t\t\t\t</point>\n";
  out << "\t\t\t</technique_common>\n";
  out << "\t\t</light>\n";
  out << "\t</library_lights>\n";
}

bool SaveCamPathCollada::Export(const CameraList& cameras, const PointList& points) {
  image_counter_ = 0;
  textures_written_ = true;
  object_ids_.clear();
  std::ofstream out;
  if (!StartExport("SaveCamPathCollada", cameras, out)) return false;
  // A private copy of the user's objects, each a polygon mesh; it dies with this call.
  std::unique_ptr<NHSObject_Scene> objects;
  if (GetSceneObjects() != nullptr) {
    objects = std::make_unique<NHSObject_Scene>();
    CopyExportableObjects(objects.get(), *GetSceneObjects());
  }
  const std::string scene = XmlEscape(ProductInfo::GetMakerName() + "Scene");
  if (objects) {
    // The objects' ids must not meet any other id of the document.
    std::set<std::string> taken = {"Camera-instance", "Spot",           scene,
                                   scene + "Node",    "PointCloudNode", "Camera"};
    for (const char* animation : {"Camera-rotateX", "Camera-rotateY", "Camera-rotateZ",
                                  "Camera-translate", "Camera-xfov"}) {
      for (const char* suffix : {"", "-input", "-input-array", "-output", "-output-array",
                                 "-interpolation", "-interpolation-array", "-sampler"}) {
        taken.insert(std::string(animation) + suffix);
      }
    }
    for (size_t i = 0; i < points.size(); ++i) taken.insert("auto_" + std::to_string(i));
    AssignObjectIds(*objects, taken);
  }
  out << std::fixed << std::setprecision(6);
  WriteHeader(out);

  // "inf" or "nan" would make the document invalid: keep the keys' time base positive.
  double fps = GetFramesPerSecond();
  if (!(fps > 0.0 && std::isfinite(fps))) {
    Notify(2, "SaveCamPathCollada::Export: frame rate %g, keys written at 25 per second", fps);
    fps = 25.0;
  }
  const size_t n = cameras.size();
  std::vector<Rotation> rotations;
  std::vector<float> times;
  rotations.reserve(n);
  times.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const vm::Vector3 angles = GetCameraAnglesInDegrees(*cameras[i]);  // pan, tilt, roll
    rotations.push_back({angles.y, -angles.x, -angles.z});
    times.push_back(static_cast<float>(double(i) / fps));
  }

  out << "\t<library_animations>\n";
  for (const char axis : {'X', 'Y', 'Z'}) {
    std::vector<double> angles;
    angles.reserve(n);
    for (const Rotation& r : rotations)
      angles.push_back(axis == 'X' ? r.x : axis == 'Y' ? r.y : r.z);
    const std::string id = std::string("Camera-rotate") + axis;
    WriteAnimation(out, id, times, angles, true, {"ANGLE"},
                   std::string("Camera/rotate") + axis + ".ANGLE");
  }
  std::vector<double> centres;
  std::vector<double> fovs;
  centres.reserve(3 * n);
  fovs.reserve(n);
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3& c = camera->GetC();
    centres.insert(centres.end(), {c.x, -c.y, -c.z});
    fovs.push_back(FieldOfView(*camera));
  }
  WriteAnimation(out, "Camera-translate", times, centres, false, {"X", "Y", "Z"},
                 "Camera/translate");
  WriteAnimation(out, "Camera-xfov", times, fovs, false, {nullptr}, "Camera-instance/xfov");
  out << "\t</library_animations>\n";

  const FeatureImage& first = *cameras.front();
  double aspect = (double(first.GetWidth()) * first.GetPixelSizeX()) /
                  (double(first.GetHeight()) * first.GetPixelSizeY());
  if (!std::isfinite(aspect)) {
    Notify(2, "SaveCamPathCollada::Export: image without height, aspect ratio 1 written");
    aspect = 1.0;
  }
  out << "\t<library_cameras>\n";
  out << "\t\t<camera id=\"Camera-instance\" name=\"Camera-instance\">\n";
  out << "\t\t\t<optics>\n";
  out << "\t\t\t\t<technique_common>\n";
  out << "\t\t\t\t\t<perspective>\n";
  out << "\t\t\t\t\t\t<xfov sid=\"xfov\">" << fovs.front() << "</xfov>\n";
  out << "\t\t\t\t\t\t<aspect_ratio>" << aspect << "</aspect_ratio>\n";
  out << "\t\t\t\t\t\t<znear>0.1</znear>\n";
  out << "\t\t\t\t\t\t<zfar>10000.0</zfar>\n";
  out << "\t\t\t\t\t</perspective>\n";
  out << "\t\t\t\t</technique_common>\n";
  out << "\t\t\t</optics>\n";
  out << "\t\t</camera>\n";
  out << "\t</library_cameras>\n";

  const bool with_materials = objects && HasTexturedMesh(*objects);
  if (with_materials) {
    out << "\t<library_images>\n";
    WriteImages(out, *objects);
    out << "\t</library_images>\n";
    out << "\t<library_effects>\n";
    WriteEffects(out, *objects);
    out << "\t</library_effects>\n";
    out << "\t<library_materials>\n";
    WriteMaterials(out, *objects);
    out << "\t</library_materials>\n";
  }

  WriteLight(out, "Spot");

  // An empty geometry library is invalid: written only when it holds a geometry.
  if (objects && HasPolyMesh(*objects)) {
    out << "\t<library_geometries>\n";
    WriteGeometries(out, *objects);
    out << "\t</library_geometries>\n";
  }

  out << "\t<library_visual_scenes>\n";
  out << "\t\t<visual_scene id=\"" << scene << "\" name=\"" << scene << "\">\n";
  out << "\t\t\t<node id=\"" << scene << "Node\" name=\"" << scene << "Node\" type=\"NODE\">\n";
  out << '\n';
  out << "\t\t\t\t<node id=\"PointCloudNode\" name=\"PointCloudNode\" type=\"NODE\">\n";
  out << "\t\t\t\t\t<translate>0 0 0</translate>\n";
  out << '\n';
  size_t i = 0;
  for (const vm::Vector3& p : points) {
    out << "\t\t\t\t\t<node id=\"auto_" << i << "\" name=\"auto_" << i << "\" type=\"NODE\">\n";
    out << "\t\t\t\t\t\t<translate>" << p.x << ' ' << -p.y << ' ' << -p.z << "</translate>\n";
    out << "\t\t\t\t\t</node>\n";
    out << '\n';
    ++i;
  }
  out << "\t\t\t\t</node>\n";
  const vm::Vector3& c = first.GetC();
  const Rotation& r = rotations.front();
  out << "\t\t\t\t<node layer=\"L1\" id=\"Camera\" name=\"Camera\">\n";
  out << "\t\t\t\t\t<translate sid=\"translate\">" << c.x << ' ' << -c.y << ' ' << -c.z
      << "</translate>\n";
  out << "\t\t\t\t\t<rotate sid=\"rotateY\"> 0 1 0 " << r.y << "</rotate>\n";
  out << "\t\t\t\t\t<rotate sid=\"rotateX\"> 1 0 0 " << r.x << "</rotate>\n";
  out << "\t\t\t\t\t<rotate sid=\"rotateZ\"> 0 0 1 " << r.z << "</rotate>\n";
  out << "\t\t\t\t\t<scale sid=\"scale\"> 1.00000 1.00000 1.00000 </scale>\n";
  out << "\t\t\t\t\t<instance_camera url=\"#Camera-instance\" />\n";
  out << "\t\t\t\t</node>\n";
  if (objects) WriteMeshNodes(out, *objects, with_materials);
  out << "\t\t\t</node>\n";
  out << "\t\t</visual_scene>\n";
  out << "\t</library_visual_scenes>\n";
  out << "\t<scene>\n";
  out << "\t\t<instance_visual_scene url=\"#" << scene << "\"/>\n";
  out << "\t</scene>\n";
  out << "</COLLADA>\n";

  if (!FinishExport("SaveCamPathCollada", out)) return false;
  if (!textures_written_) {
    Notify(2, "SaveCamPathCollada::Export: \"%s\" refers to texture files that were not written",
           GetOutputPath().c_str());
    return false;
  }
  return true;
}
