#include "export/writers/save_cam_path_blender.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <string>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"

namespace {

// value + 0.5 truncated toward zero, or `fallback` when that is no int.
bool RoundedInt(double value, int& out) {
  const double rounded = std::trunc(value + 0.5);
  if (!(rounded >= std::numeric_limits<int>::min() && rounded <= std::numeric_limits<int>::max())) {
    return false;
  }
  out = static_cast<int>(rounded);
  return true;
}

// The Y part of the pixel aspect (the X part is 100), from the first camera.
int PixelAspectY(const FeatureImage& first, const char* writer) {
  const double sx = first.GetPixelSizeX();
  int aspect = 100;
  if (sx == 0.0) {
    Notify(2, "%s: pixel size x == 0.0", writer);
  } else if (!RoundedInt(100.0 / sx * first.GetPixelSizeY(), aspect)) {
    Notify(2, "%s: pixel aspect %g:%g not written", writer, first.GetPixelSizeX(),
           first.GetPixelSizeY());
    aspect = 100;
  }
  return aspect;
}

int FrameRate(double fps) {
  int rate = 25;
  if (!RoundedInt(fps, rate)) {
    Notify(2, "SaveCamPathBlender::Export: frame rate %g not written, 25 instead", fps);
    rate = 25;
  }
  return rate;
}

// The focal length on a 32 mm wide image; 35 mm when the camera has no finite one (a
// zero width or pixel size would write "inf" or "nan" into the script).
double Lens(const FeatureImage& camera) {
  const double lens = camera.GetFocalLength() * 32.0 /
                      (camera.GetPixelSizeX() * static_cast<double>(camera.GetWidth()));
  if (std::isfinite(lens)) return lens;
  Notify(2, "SaveCamPathBlender::Export: camera %d has no finite lens, 35.0 written",
         static_cast<int>(camera.GetImageIndex()));
  return 35.0;
}

// Camera-to-world times diag(1, -1, -1, 1): the camera's y up in the image, z backwards.
// Written column by column, each as "[a,b,c,d", joined by "], ".
void WriteCameraMatrix(std::ostream& out, const FeatureImage& camera) {
  Matrix4x4 flip{};
  flip[0][0] = flip[3][3] = 1.0;
  flip[1][1] = flip[2][2] = -1.0;
  Matrix4x4 m;
  m.Multiply(camera.GetCameraToWorldMatrix(), flip);
  for (int i = 0; i < 4; ++i) {
    out << (i == 0 ? "[" : "], [");
    for (int j = 0; j < 4; ++j) {
      if (j != 0) out << ',';
      out << m[j][i];
    }
  }
}

// The comment lines every script starts with, after its own first line.
void WriteHead(std::ostream& out, const char* first_line) {
  out << first_line << '\n';
  out << "# " << SaveCamPath::GetCreatedBy() << '\n';
  out << "# Creation date: " << SaveCamPath::GetCreationDate() << '\n';
  out << "# USAGE: load this python script into Blender's text editor and execute the script "
         "with ALT-P\n";
  out << "#        use the 'render_" << SaveCamPath::GetCameraName()
      << "' for rendering your scene\n";
  out << "#        use the helper object '" << SaveCamPath::GetObjectName()
      << "_scene' to rotate, translate and scale the scene\n\n";
}

// "c%04ld"-style names of the 2.4x script's temporary objects.
std::string Numbered(char prefix, long n) {
  char text[32];
  std::snprintf(text, sizeof text, "%c%04ld", prefix, n);
  return text;
}

}  // namespace

bool SaveCamPathBlender::Export(const CameraList& cameras, const PointList& points) {
  if (version_ < 2.5f) return Export2Dot4(cameras, points);
  if (version_ > 2.5f) return Export2Dot6(cameras, points);
  return Export2Dot5(cameras, points);
}

bool SaveCamPathBlender::StartScript(const char* method, const CameraList& cameras,
                                     std::ofstream& out) const {
  if (cameras.empty()) {
    Notify(2, "SaveCamPathBlender::%s: empty camera list!", method);
    return false;
  }
  if (!OpenOutput(out)) {
    Notify(2, "SaveCamPathBlender::%s: open file \"%s\" failed !!", method,
           GetOutputPath().c_str());
    return false;
  }
  out << std::fixed << std::setprecision(6);
  return true;
}

bool SaveCamPathBlender::FinishScript(const char* method, std::ofstream& out) const {
  if (CloseOutput(out)) return true;
  Notify(2, "SaveCamPathBlender::%s: write file \"%s\" failed !!", method, GetOutputPath().c_str());
  return false;
}

bool SaveCamPathBlender::Export2Dot4(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartScript("Export2Dot4", cameras, out)) return false;
  const FeatureImage& first = *cameras.front();
  const FeatureImage& last = *cameras.back();
  const std::string obj = GetObjectName();
  const std::string cam = GetCameraName();
  const std::string render = "render_" + cam;

  WriteHead(out, "# blender export ");
  out << "import Blender\n"
         "version = Blender.Get('version')\n"
         "from Blender import Camera, Object, Scene, NMesh\n"
         "from Blender import Mathutils\n"
         "from Blender.Mathutils import *\n"
         "scn = Scene.getCurrent()\n"
         "context = scn.getRenderingContext()\n";
  out << "context.imageSizeX(" << first.GetWidth() << ")\n";
  out << "context.imageSizeY(" << first.GetHeight() << ")\n";
  out << "context.aspectRatioX(" << 100 << ")\n";
  out << "context.aspectRatioY(" << PixelAspectY(first, "SaveCamPathBlender::Export") << ")\n";
  out << "context.framesPerSec(" << FrameRate(GetFramesPerSecond()) << ")\n";
  out << "context.startFrame(" << long(first.GetImageIndex()) + 1 << ")\n";
  out << "context.endFrame(" << long(last.GetImageIndex()) + 1 << ")\n";
  out << "context.enablePremultiply()\n"
         "context.enableSequencer(1)\n"
         "Blender.Set('curframe',1)\n"
         "\n"
         "#Camera Parameters\n";

  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const long n = long(camera->GetImageIndex()) + 1;
    const std::string cn = Numbered('c', n), on = Numbered('o', n);
    out << cn << " = Camera.New('persp')\n";
    out << cn << ".lens = " << Lens(*camera) << '\n';
    out << on << " = Object.New('Camera')\n";
    out << on << ".name = \"" << cam << n << "\"\n";
    out << on << ".setMatrix(Mathutils.Matrix(";
    WriteCameraMatrix(out, *camera);
    out << "])) \n";
    out << on << ".link(" << cn << ")\n";
    out << "scn.link(" << on << ")\n\n";
  }

  out << "\n#Render camera animated with IpoCurves\n"
         "crender = Camera.New('persp')\n"
         "crender.lens = 35.0\n"
         "crender.setDrawSize(1.0)\n"
         "orender = Object.New('Camera')\n";
  out << "orender.name = \"" << render << "\"\n";
  out << "orender.link(crender)\n"
         "scn.link(orender)\n"
         "scn.setCurrentCamera(orender)\n"
         "ipo = Blender.Ipo.New('Object','render_cam_objipo')\n"
         "orender.setIpo(ipo)\n";
  for (const char* curve : {"LocX", "LocY", "LocZ", "RotX", "RotY", "RotZ"}) {
    std::string variable = curve;
    for (char& c : variable) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out << variable << " = ipo.addCurve('" << curve << "')\n";
    out << variable << ".setInterpolation('Linear')\n";
  }
  out << "camipo = Blender.Ipo.New('Camera','render_cam_camipo')\n"
         "crender.setIpo(camipo)\n"
         "lenscurve = camipo.addCurve('Lens')\n"
         "lenscurve.setInterpolation('Linear')\n";

  const double pi = 3.14159265358979323846;
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const long n = long(camera->GetImageIndex()) + 1;
    const std::string cn = Numbered('c', n), on = Numbered('o', n);
    out << "locx.addBezier((" << n << ',' << on << ".LocX))\n";
    out << "locy.addBezier((" << n << ',' << on << ".LocY))\n";
    out << "locz.addBezier((" << n << ',' << on << ".LocZ))\n";
    out << "rotx.addBezier((" << n << ',' << on << ".RotX*18/" << pi << "))\n";
    out << "roty.addBezier((" << n << ',' << on << ".RotY*18/" << pi << "))\n";
    out << "rotz.addBezier((" << n << ',' << on << ".RotZ*18/" << pi << "))\n";
    out << "lenscurve.addBezier((" << n << ',' << cn << ".lens))\n";
  }

  // The temporary objects' names start with the camera name, the render camera's not.
  const size_t k = cam.size();
  out << "\nallob=Object.Get()\n"
         "for o in allob:\n";
  out << "   print o.name[:" << k << "]\n";
  out << "   if o.name[:" << k << "]=='" << cam << "':\n";
  out << "     scn.unlink(o)\n"
         "\n"
         "# 3D Feature Points\n";
  out << "ob=Object.New('Mesh','" << obj << "_FP3D_cloud')\n";
  out << "ob.setLocation(0.0,0.0,0.0)\n"
         "mesh=ob.getData()\n"
         "scn.link(ob)\n";
  for (const vm::Vector3& p : points) {
    out << "v=NMesh.Vert(" << p.x << ',' << p.y << ',' << p.z << " ) \n";
    out << "mesh.verts.append(v)\n";
  }
  out << "mesh.update()\n"
         "scn.update()\n"
         "\n"
         "# Scene Helper Object\n";
  out << "scene_dummy= Object.New('Empty','" << obj << "_scene')\n";
  out << "scene_dummy.setLocation(0.0, 0.0, 0.0) \n"
         "scn.link(scene_dummy)\n"
         "scene_dummy.makeParent([orender,ob])\n"
         "\n";
  out << "scene_dummy.setEuler([-" << pi << "/2.0, 0.0, 0.0])\n";
  out << "scene_dummy.SizeX=0.2\n"
         "scene_dummy.SizeY=0.2\n"
         "scene_dummy.SizeZ=0.2\n";

  return FinishScript("Export2Dot4", out);
}

bool SaveCamPathBlender::Export2Dot5(const CameraList& cameras, const PointList& points) {
  return ExportBpy(cameras, points, false);
}

bool SaveCamPathBlender::Export2Dot6(const CameraList& cameras, const PointList& points) {
  return ExportBpy(cameras, points, true);
}

bool SaveCamPathBlender::ExportBpy(const CameraList& cameras, const PointList& points, bool v26) {
  // Both scripts report under the 2.5x name.
  std::ofstream out;
  if (!StartScript("Export2Dot5", cameras, out)) return false;
  const FeatureImage& first = *cameras.front();
  const std::string obj = GetObjectName();
  const std::string render = "render_" + GetCameraName();

  WriteHead(out, "# blender export (blender version 2.5x)");
  out << "import bpy\n"
         "import mathutils\n"
         "import string\n"
         "import math\n"
         "scene = bpy.context.scene\n";
  out << "dummy = bpy.data.objects.new('" << obj << "_scene', None)\n";
  out << "dummy.location = (0.0, 0.0, 0.0)\n"
         "dummy.rotation_euler = (0.0, 0.0, 0.0)\n"
         "dummy.scale = (1.0, 1.0, 1.0)\n"
         "scene.objects.link(dummy)\n";
  out << "data = bpy.data.cameras.new('" << render << "')\n";
  out << "data.lens_unit = 'DEGREES'\n";
  out << "vcam = bpy.data.objects.new('" << render << "', data)\n";
  out << "vcam.location = (0.0, 0.0, 0.0)\n"
         "vcam.rotation_euler = (0.0, 0.0, 0.0)\n"
         "vcam.scale = (1.0, 1.0, 1.0)\n";
  if (!v26) out << "data.lens = 35.0\n";
  out << "data.shift_x = 0.0\n"
         "data.shift_y = 0.0\n"
         "data.dof_distance = 0.0\n"
         "data.clip_start = 0.1\n"
         "data.clip_end = 1000.0\n"
         "data.draw_size = 0.5\n"
         "scene.objects.link(vcam)\n"
         "vcam.parent = dummy\n";
  out << "data = bpy.data.meshes.new('" << obj << "_fp3d')\n";
  out << "mesh = bpy.data.objects.new('" << obj << "_fp3d', data)\n";
  out << "mesh.location = (0.0, 0.0, 0.0)\n"
         "mesh.rotation_euler = (0.0, 0.0, 0.0)\n"
         "mesh.scale = (1.0, 1.0, 1.0)\n"
         "scene.objects.link(mesh)\n"
         "mesh.parent = dummy\n";
  // The scene's own settings: assigning to bpy.types.RenderSettings would set attributes
  // of the type and never reach the scene.
  out << "render_settings = scene.render\n";
  out << "render_settings.resolution_x = " << first.GetWidth() << '\n';
  out << "render_settings.resolution_y = " << first.GetHeight() << '\n';
  out << "render_settings.pixel_aspect_x = " << 100 << '\n';
  out << "render_settings.pixel_aspect_y = "
      << PixelAspectY(first, "SaveCamPathBlender::Export2Dot5") << '\n';
  out << "render_settings.fps = " << FrameRate(GetFramesPerSecond()) << '\n';
  out << "\n#Camera Parameters\n";

  for (const SharedPtr<FeatureImage>& camera : cameras) {
    out << "scene.frame_set(" << camera->GetFileIndex() << ")\n";
    out << "vcam.data.lens = " << Lens(*camera) << '\n';
    // 2.5x and 2.61 build a Matrix from columns; 2.62 and later read Matrix() by rows but
    // still take a plain nested sequence given to matrix_world as columns.
    out << (v26 ? "vcam.matrix_world = (" : "vcam.matrix_world = mathutils.Matrix(");
    WriteCameraMatrix(out, *camera);
    out << "]) \n";
    out << "vcam.keyframe_insert('location')\n"
           "vcam.keyframe_insert('scale')\n"
           "vcam.keyframe_insert('rotation_euler')\n"
           "vcam.data.keyframe_insert('lens')\n";
  }
  out << '\n';
  if (!points.empty()) {
    out << "# 3D Feature Points\n"
           "verts = []\n";
    for (const vm::Vector3& p : points) {
      out << "verts.append((" << p.x << ',' << p.y << ',' << p.z << ")) \n";
    }
    out << "mesh.data.from_pydata(verts, [], [])\n"
           "mesh.data.update()\n"
           "\n";
  }

  return FinishScript("Export2Dot5", out);
}
