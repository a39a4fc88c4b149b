#include "export/writers/save_cam_path_truespace.h"

#include <cmath>
#include <fstream>
#include <iomanip>
#include <memory>
#include <string>

#include "export/writers/export_meshes.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "image/image_cache.h"
#include "scene/objects/mesh_objects.h"

namespace {

constexpr unsigned long kSceneId = 105229124;
constexpr unsigned long kCameraId = 105535764;
constexpr unsigned long kPolyMeshId = 105759709;
constexpr unsigned long kMeshUnitId = 105859709;
constexpr unsigned long kMeshMaterialId = 105959709;
constexpr unsigned long kBoneId = 106597090;
constexpr long kMaxChunkSize = 99999999;  // eight digits

// tan of half the angle that w (mm) spans at focal length f; infinite for f = 0 as the
// angle is then pi.
double HalfAngleTangent(double w, double f) {
  const double half = f == 0.0 ? 3.14159265358979323846 / 2.0 : std::atan(w / (2.0 * f));
  return std::tan(half);
}

// The tracking frame's position in the scene's: (-x/2, -z/2, -y/2).
vm::Vector3 Mapped(const vm::Vector3& p) {
  return {-0.5 * p.x, -0.5 * p.z, -0.5 * p.y};
}

// The last part of a file name after its last slash or backslash.
std::string FileNameOnly(const char* path) {
  if (path == nullptr) return std::string();
  const std::string text = path;
  const size_t at = text.find_last_of("/\\");
  return at == std::string::npos ? text : text.substr(at + 1);
}

}  // namespace

void WriteTransformRows(const Matrix3x4& m, std::ostream& out) {
  out << "Transform\n";
  for (int r = 0; r < 3; ++r) {
    out << m[r][0] << ' ' << m[r][1] << ' ' << m[r][2] << ' ' << m[r][3] << '\n';
  }
  out << "0 0 0 1\n";
}

void SaveCamPathTruespace::BeginChunk(std::ostream& out, const char* kind, double version,
                                      unsigned long id, unsigned long parent) {
  out << kind << " V" << std::fixed << std::setprecision(2) << version << std::defaultfloat
      << std::setprecision(6) << " Id " << id << " Parent " << parent << " Size 00000000\n";
  size_position_ = static_cast<std::streamoff>(out.tellp()) - 9;
}

bool SaveCamPathTruespace::EndChunk(std::ostream& out) {
  const std::streamoff end = out.tellp();
  const long size = static_cast<long>(end - size_position_ - 8);
  if (size > kMaxChunkSize) {
    // The field holds eight digits: a larger size would overwrite the chunk's first bytes.
    Notify(2, "SaveCamPathTruespace::Export: chunk of %ld bytes too large for \"%s\"", size,
           GetOutputPath().c_str());
    sizes_fit_ = false;
    return false;
  }
  out.seekp(size_position_);
  out << std::setw(8) << std::setfill('0') << size << std::setfill(' ');
  out.seekp(end);
  return true;
}

void SaveCamPathTruespace::WriteSceneObjects(std::ostream& out, const Matrix3x4& parent,
                                             const NHSObject& object) {
  if ((object.GetUIDFlags() & UID_FLAG_HIDDEN) != 0) return;
  Matrix3x4 g;
  g.Multiply(parent, object.GetTransform());
  if (object.GetUIDType() == NHS_TYPE_POLY_MESH) {
    if (const auto* mesh = dynamic_cast<const NHSObject_PolyMesh*>(&object)) {
      WritePolyMesh(out, g, *mesh);
    }
  } else if (const std::unique_ptr<NHSObject_PolyMesh> temporary = MakeExportMesh(object)) {
    WritePolyMesh(out, g, *temporary);
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteSceneObjects(out, g, *child);
  }
}

void SaveCamPathTruespace::WritePolyMesh(std::ostream& out, const Matrix3x4& g,
                                         const NHSObject_PolyMesh& mesh) {
  const unsigned long n = mesh_number_;
  BeginChunk(out, "PolH", 0.08, kPolyMeshId + n, kSceneId);
  const char* name = UIDRegistry::Instance().GetName(mesh.GetUID());
  if (name != nullptr) {
    out << "Name " << name << '\n';
  } else {
    out << "Name polh_" << n << '\n';
  }
  out << "center " << 0.5 * g[0][3] << ' ' << 0.5 * g[2][3] << ' ' << -0.5 * g[1][3] << '\n';
  const char* axis_names[3] = {"x axis ", "y axis ", "z axis "};
  for (int k = 0; k < 3; ++k) {
    double c[3] = {g[0][k], g[1][k], g[2][k]};
    const double length2 = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
    if (length2 > 0.0) {
      const double length = std::sqrt(length2);
      for (double& v : c) v /= length;
    }
    out << axis_names[k] << -c[0] << ' ' << -c[2] << ' ' << -c[1] << '\n';
  }
  Matrix3x4 placed;
  for (int col = 0; col < 4; ++col) {
    placed[0][col] = -0.5 * g[0][col];
    placed[1][col] = -0.5 * g[2][col];
    placed[2][col] = -0.5 * g[1][col];
  }
  WriteTransformRows(placed, out);

  const std::vector<vm::Vector3>* vertices = GetMeshVertices(mesh);
  out << "World Vertices " << (vertices != nullptr ? vertices->size() : 0) << '\n';
  if (vertices != nullptr) {
    for (const vm::Vector3& v : *vertices) out << v.x << ' ' << v.y << ' ' << v.z << '\n';
  }
  out << "Texture Vertices 4\n0 0\n0 1\n1 1\n1 0\n";
  const int faces = CountExportFaces(mesh);
  // A lone face is written twice, the second time turned over, so that it shows from both
  // sides.
  out << "Faces " << (faces == 1 ? 2 : faces) << '\n';
  ForEachExportFace(mesh, [&](const NHSObject_PolyMesh::PolygonView& p) {
    out << "Face verts " << p.n << " flags 0 mat 0\n";
    for (int j = 0; j < p.n; ++j) out << '<' << p.vertices[j] << ',' << j % 4 << "> ";
    out << '\n';
    if (faces == 1) {
      out << "Face verts " << p.n << " flags 0 mat 0\n";
      for (int j = 0; j < p.n; ++j) out << '<' << p.vertices[p.n - 1 - j] << ',' << j % 4 << "> ";
      out << '\n';
    }
  });
  out << "DrawFlags 0\n";
  EndChunk(out);

  BeginChunk(out, "Unit", 0.01, kMeshUnitId + n, kPolyMeshId + n);
  out << "Units 2\n";
  EndChunk(out);

  const uint32_t color = mesh.GetColor();
  BeginChunk(out, "Mat1", 0.08, kMeshMaterialId + n, kPolyMeshId + n);
  out << "mat# 0\n";
  out << "shader: flat  facet: auto32\n";
  out << "rgb " << ((color >> 16) & 0xff) / 255.0 << ' ' << ((color >> 8) & 0xff) / 255.0 << ' '
      << (color & 0xff) / 255.0 << '\n';
  out << "alpha " << (color >> 24) / 255.0 << "  ka 0  ks 0.1  exp 0.44  ior 1  kd 0.9\n";
  EndChunk(out);
  // Each mesh its own ids, so that its unit and material name it as their parent.
  ++mesh_number_;
}

bool SaveCamPathTruespace::Export(const CameraList& cameras, const PointList& points) {
  mesh_number_ = 0;
  sizes_fit_ = true;
  std::ofstream out;
  if (!StartExport("SaveCamPathTruespace", cameras, out)) return false;
  const FeatureImage& first = *cameras.front();
  ImageCache* cache = GetImageCache();
  const double fps = GetFramesPerSecond();
  const unsigned long frames = cameras.size();

  out << "Caligari V00.01ALH" << std::string(13, ' ') << '\n';

  BeginChunk(out, "Scen", 0.08, kSceneId, 0);
  out << "Name " << GetObjectName() << '\n';
  EndChunk(out);

  BeginChunk(out, "ROpt", 0.05, 0, kSceneId);
  out << "Raytrace enable 1\nResolution 2\n";
  out << "Width " << first.GetWidth() << '\n';
  out << "Height " << first.GetHeight() << '\n';
  out << "Antialias 1\nFramerate 1\nDepth 1\n";
  out << "Base framerate " << (fps == 24.0 ? 4 : fps == 30.0 ? 2 : 1) << '\n';
  out << "Options 301\nFlags 0\nFrame 2\nJPEG quality 90\nDepth focus 4\n";
  out << "Fieldrender flags " << (cache != nullptr && cache->HasTwoFieldsPerFrame() ? 1 : 0)
      << '\n';
  out << "Motionblur flags 9\nMotionblur frames 6\n";
  out << "Pixel aspect " << first.GetPixelSizeX() / first.GetPixelSizeY() << '\n';
  out << "Depth focal dist 15.0\nMotionblur length 1.0\nRender AA 0001\nRay depth limit 5\n"
         "Max ray depth 10\nRender quality 128\nRender mode 2\nOptions2 1\n";
  EndChunk(out);

  if (cache != nullptr) {
    BeginChunk(out, "Chan", 0.12, 105598674, kSceneId);
    out << "Name BackgroundImage\ntype Background\nflags 0 frames " << frames << '\n';
    for (unsigned long i = 0; i < frames; ++i) {
      const std::string name = FileNameOnly(cache->GetImageFileName(cameras[i]->GetImageIndex()));
      out << "time " << i << " acc 0 background: " << name.size() << name << " flags 1 \n";
      out << "\trgb 0.3,0.3,0.3 alpha 0 \n";
    }
    EndChunk(out);
  }

  BeginChunk(out, "Came", 0.02, kCameraId, kSceneId);
  out << "Name " << GetCameraName() << '\n';
  out << "center 0 0 0\nx axis 1 0 0\ny axis 0 1 0\nz axis 0 0 1\n";
  out << "Transform\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
  EndChunk(out);

  BeginChunk(out, "Unit", 0.01, 105659709, kCameraId);
  out << "Units 2\n";
  EndChunk(out);

  BeginChunk(out, "Chan", 0.12, 105098936, kCameraId);
  out << "Name CameraRotation\ntype Rotate\nflags 1 frames " << frames << '\n';
  for (unsigned long i = 0; i < frames; ++i) {
    double axes[9];  // H0, V0, A
    GetCameraAxes(*cameras[i], axes);
    Matrix3x3 m;
    for (int k = 0; k < 3; ++k) {
      m[0][k] = axes[k];
      m[1][k] = -axes[6 + k];
      m[2][k] = axes[3 + k];
    }
    vm::Vector3 a;
    const double t = m.GetAxisAngle(a);
    const double s = std::sin(t / 2.0);
    out << "time " << i << " acc 0 t 0 c 0 b 0 orientation " << std::cos(t / 2.0) << ' ' << -s * a.x
        << ' ' << -s * a.z << ' ' << -s * a.y << '\n';
  }
  EndChunk(out);

  double farthest = 0.0;
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3& c = camera->GetC();
    farthest = std::max(farthest, c.x * c.x + c.y * c.y + c.z * c.z);
  }
  if (farthest > 1e-8) {
    BeginChunk(out, "Chan", 0.12, 105598672, kCameraId);
    out << "Name CameraTranslation\ntype Move\nflags 1 frames " << frames << '\n';
    for (unsigned long i = 0; i < frames; ++i) {
      const vm::Vector3 p = Mapped(cameras[i]->GetC());
      out << "time " << i << " acc 0 t 0 c 0 b 0 position " << p.x << ' ' << p.y << ' ' << p.z
          << '\n';
    }
    EndChunk(out);
  }

  BeginChunk(out, "Chan", 0.12, 105598673, kCameraId);
  out << "Name CameraFocalLength\ntype Scale\nflags 1 frames " << frames << '\n';
  for (unsigned long i = 0; i < frames; ++i) {
    const FeatureImage& camera = *cameras[i];
    const double f = camera.GetFocalLength();
    out << "time " << i << " acc 0 t 0 c 0 b 0 size "
        << 3.35 * HalfAngleTangent(camera.GetWidth() * camera.GetPixelSizeX(), f) << ' '
        << 3.35 * HalfAngleTangent(camera.GetHeight() * camera.GetPixelSizeY(), f) << " 1\n";
  }
  EndChunk(out);

  for (size_t i = 0; i < points.size(); ++i) {
    const vm::Vector3 p = Mapped(points[i]);
    BeginChunk(out, "Bone", 0.05, kBoneId + i, kSceneId);
    out << "Name Point_" << i << '\n';
    out << "center " << p.x << ' ' << p.y << ' ' << p.z << '\n';
    out << "x axis 1 0 0\ny axis 0 1 0\nz axis 0 0 1\n";
    out << "Transform\n1 0 0 " << p.x << "\n0 1 0 " << p.y << "\n0 0 1 " << p.z << "\n0 0 0 1\n";
    EndChunk(out);
  }

  if (GetSceneObjects() != nullptr) {
    Matrix3x4 identity{};
    identity[0][0] = identity[1][1] = identity[2][2] = 1.0;
    WriteSceneObjects(out, identity, *GetSceneObjects());
  }

  out << "END  V1.00 Id 0 Parent 0 Size 0";
  const bool written = FinishExport("SaveCamPathTruespace", out);
  return written && sizes_fit_;
}
