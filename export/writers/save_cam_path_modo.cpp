#include "export/writers/save_cam_path_modo.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <iomanip>

#include "export/file_io.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/split_path.h"
#include "image/image_cache.h"

namespace {

// The text inside a Perl '...' string: only '\' and the quote are special there.
std::string PerlSingleQuoted(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  return quoted;
}

// The text inside a Perl "..." string: no interpolation, no early end.
std::string PerlDoubleQuoted(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    if (c == '\\' || c == '"' || c == '$' || c == '@') quoted += '\\';
    quoted += c;
  }
  return quoted;
}

// The first file of the cache's sequence; empty without a cache or a list.
std::string SequenceFile(ImageCache* cache) {
  if (cache == nullptr || cache->GetNumFrames() == 0) return std::string();
  const char* name = cache->GetImageFileName(0);
  return name != nullptr ? std::string(name) : std::string();
}

const char* const kSubroutines =
    "sub getItemIdByName {\n"
    "\t($item_name) = @_;\n"
    "\t$n = lxq(\"query sceneservice item.N ?\");\n"
    "\tfor($i = 0;$i < $n; $i++) {\n"
    "\t\tmy $type = lxq(\"query sceneservice item.name ? $i\");\n"
    "\t\tif($type eq $item_name) {\n"
    "\t\t\t$item_id = lxq(\"query sceneservice item.Id ? $i\");\n"
    "\t\t\treturn $item_id;\n"
    "\t\t}\n"
    "\t}\n"
    "}\n"
    "sub getItemId {\n"
    "\t($item_name) = @_;\n"
    "\t$n = lxq(\"query sceneservice item.N ?\");\n"
    "\tfor($i = 0;$i < $n; $i++) {\n"
    "\t\tmy $type = lxq(\"query sceneservice item.type ? $i\");\n"
    "\t\tif($type eq $item_name) {\n"
    "\t\t\t$item_id = lxq(\"query sceneservice item.Id ? $i\");\n"
    "\t\t\treturn $item_id;\n"
    "\t\t}\n"
    "\t}\n"
    "}\n";

}  // namespace

std::string SaveCamPathModo::MapName(const std::string& sequence_file) {
  std::string directory, name, base;
  SplitPath(sequence_file.c_str(), &directory, &name);
  SplitFileExtension(name, &base, nullptr);
  size_t digits = 0;
  while (digits < base.size() &&
         std::isdigit(static_cast<unsigned char>(base[base.size() - 1 - digits]))) {
    ++digits;
  }
  return base.substr(0, base.size() - digits) + '[' + std::string(digits, '#') + ']';
}

std::string SaveCamPathModo::ScriptPath(const std::string& sequence_file) {
  const bool drive = sequence_file.size() >= 2 &&
                     std::isalpha(static_cast<unsigned char>(sequence_file[0])) &&
                     sequence_file[1] == ':';
  if (!drive && sequence_file.find('\\') == std::string::npos) return sequence_file;
  std::string path = sequence_file;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool SaveCamPathModo::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathModo", cameras, out)) return false;
  out << std::fixed << std::setprecision(10);

  const std::string sequence = ScriptPath(SequenceFile(GetImageCache()));
  if (sequence.empty()) {
    Notify(2, "SaveCamPathModo::Export: no image sequence; \"%s\" has no image map",
           GetOutputPath().c_str());
  }
  const FeatureImage& first = *cameras.front();
  const double focal = first.GetFocalLength();
  const double aperture_x = 2.0 * focal * std::tan(first.GetHorizontalFieldOfView() / 2.0);
  const double aperture_y = 2.0 * focal * std::tan(first.GetVerticalFieldOfView() / 2.0);
  const size_t n = cameras.size();

  out << "# perl\n";
  out << "# Modo export \n";
  out << "# " << GetCreatedBy() << '\n';
  out << "# Creation date: " << GetCreationDate() << '\n';
  out << "lx('scene.new');\n";
  out << "lx('item.create groupLocator {Kalvex_Scene}');\n";
  out << "$kal_sequence_id = &getItemIdByName(\"Kalvex_Scene\");\n";
  out << "lx('time.fpsCustom [" << GetRoundedFramesPerSecond() << "]');\n";
  out << "lx('time.range scene out:[" << n << "]');\n";
  out << "lx('time.range scene 0');\n";
  out << "$kal_render_id = &getItemId(\"polyRender\");\n";
  out << "lx('render.res [0] " << first.GetWidth() << "');\n";
  out << "lx('render.res [1] " << first.GetHeight() << "');\n";
  out << "lx(\"select.subItem $kal_render_id set "
         "textureLayer;locator;render;environment;mediaClip\");\n";
  out << "lx('item.channel first 0');\n";
  out << "lx('item.channel last " << n << "');\n";
  out << "lx('item.channel pAspect " << first.GetPixelSizeX() / first.GetPixelSizeY() << "');\n";
  out << "lx('item.create camera {Kalvex_Camera}');\n";
  out << "lx(\"item.parent {Kalvex_Camera} $kal_sequence_id 0 1\");\n";
  out << "lx('item.channel apertureX [" << aperture_x << " mm] set');\n";
  out << "lx('item.channel apertureY [" << aperture_y << " mm] set');\n";
  out << "lx('item.channel focalLen [" << focal << " mm] set');\n";
  out << "lx('anim.autoKey all');\n";
  out << "lx('render.camera {Kalvex_Camera}');\n";
  out << '\n';
  if (!sequence.empty()) {
    const std::string map = MapName(sequence);
    out << "lx('clip.addSequence \"" << PerlSingleQuoted(sequence) << "\"');\n";
    out << "$environment_id = &getItemId(\"environment\");\n";
    out << "lx(\"select.subItem $environment_id set "
           "textureLayer;locator;render;environment;mediaClip\");\n";
    out << "lx('shader.create constant');\n";
    out << "lx('item.setType {Image Map}');\n";
    out << "lx('texture.setIMap \"" << PerlSingleQuoted(map) << "\"');\n";
    out << "lx(\"texture.parent $environment_id 1\");\n";
    out << "$texture_id = &getItemIdByName(\"" << PerlDoubleQuoted(map)
        << " (Image) (Texture)\");\n";
    out << "lx(\"select.subItem $texture_id set ;locator\");\n";
    out << "lx(\"item.parent $texture_id $kal_sequence_id 0 1\");\n";
    out << "lx('item.channel txtrLocator$projType 5');\n";
    out << "lx('texture.setCamera {Kalvex_Camera}');\n";
  }
  out << "lx('select.item {Kalvex_Camera}');\n";
  out << '\n';

  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3& c = camera->GetC();
    const vm::Vector3 a = GetCameraAnglesInDegrees(*camera);
    out << "lx(\"select.time [ " << camera->GetImageIndex() << "] [0] [0]\");\n";
    out << "lx('transform.channel pos.X [" << c.x << " in] set');\n";
    out << "lx('transform.channel pos.Y [" << -c.y << " in] set');\n";
    out << "lx('transform.channel pos.Z [" << -c.z << " in] set');\n";
    out << "lx('transform.channel rot.X " << a.y << " set');\n";
    out << "lx('transform.channel rot.Y " << -a.x << " set');\n";
    out << "lx('transform.channel rot.Z " << -a.z << " set');\n";
    out << '\n';
  }

  out << "lx('edit.apply');\n";
  out << "lx('select.time [0 f] [0] [0]');\n";
  out << "lx('item.create locator {Kalvex Features}');\n";
  out << "$feature_parent_id = &getItemIdByName(\"Kalvex Features\");\n";
  out << "lx(\"item.parent $feature_parent_id $kal_sequence_id 0 1\");\n";
  out << '\n';

  for (size_t i = 0; i < points.size(); ++i) {
    const vm::Vector3& p = points[i];
    out << "lx(\"item.create locator FeaturePoint" << i << "\");\n";
    out << "lx('transform.channel pos.X [" << p.x << " in] set');\n";
    out << "lx('transform.channel pos.Y [" << -p.y << " in] set');\n";
    out << "lx('transform.channel pos.Z [" << -p.z << " in] set');\n";
    out << "lx('transform.channel scl.X 0.05 set');\n";
    out << "lx('transform.channel scl.Y 0.05 set');\n";
    out << "lx('transform.channel scl.Z 0.05 set');\n";
    out << "$feature_point_id = &getItemIdByName(\"FeaturePoint" << i << "\");\n";
    out << "lx(\"item.parent $feature_point_id $feature_parent_id\");\n";
    out << '\n';
  }
  out << "\n\n\n";
  out << kSubroutines;
  return FinishExport("SaveCamPathModo", out);
}
