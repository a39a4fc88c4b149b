#include "export/save_cam_path.h"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "export/writer_support.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "foundation/tracks/feature_mapper.h"

SaveCamPath::SaveCamPath(const char* directory, const char* file_name) {
  if (directory != nullptr) {
    output_path_ = directory;
    output_path_ += '/';
  }
  if (file_name != nullptr) output_path_ += file_name;
}

SaveCamPath::~SaveCamPath() = default;

bool SaveCamPath::Export2DTrack(const SharedPtr<FeaturePoint2D>& /*feature*/) {
  return false;
}

bool SaveCamPath::Save2DTrack(const SharedPtr<FeaturePoint2D>& feature) {
  return Export2DTrack(feature);
}

SaveCamPath::FeaturePointList SaveCamPath::StableOrder(const CameraList& cameras,
                                                       const FeaturePointList& points) {
  // Points are appended by parallel jobs, so neither list position nor index repeats from
  // run to run; the tracks themselves do.
  std::unordered_map<const FeaturePoint3D*, size_t> rank;
  for (const SharedPtr<FeatureImage>& image : cameras) {
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      if (feature && feature->GetFPoint3D())
        rank.emplace(feature->GetFPoint3D().Get(), rank.size());
    }
  }
  std::vector<std::pair<size_t, size_t>> keys;  // rank (unseen: after all seen), position
  keys.reserve(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    const auto found = rank.find(points[i].Get());
    keys.emplace_back(found != rank.end() ? found->second : rank.size() + i, i);
  }
  std::sort(keys.begin(), keys.end());
  FeaturePointList ordered;
  ordered.reserve(points.size());
  for (const auto& key : keys) {
    if (points[key.second]) ordered.push_back(points[key.second]);
  }
  return ordered;
}

bool SaveCamPath::Save(const CameraList& cameras, const FeaturePointList& points) {
  if (cameras.empty()) throw "SaveCamPath::Save: empty camera list!";

  CameraList camera_list;
  camera_list.reserve(cameras.size());
  for (const SharedPtr<FeatureImage>& image : cameras) {
    SharedPtr<FeatureImage> copy = SharedPtr<FeatureImage>::Make(image->GetOwner());
    copy->SetImageIndex(image->GetImageIndex());
    copy->SetFileIndex(image->GetFileIndex());
    copy->CopyFrom(*image, false);
    camera_list.push_back(copy);
  }

  PointList point_list;
  if (!points.empty()) {
    // The mapper takes the tracked first image as it is, distortion included.
    const FeatureImage& first = *cameras.front();
    FeatureMapper mapper(first);
    const double radius = first.GetFocalLength() * distance_factor_;
    point_list.reserve(points.size());
    for (const SharedPtr<FeaturePoint3D>& point : StableOrder(cameras, points)) {
      if (point->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_NO_EXPORT)) continue;
      if (point->GetCS() != FeaturePoint3D::eSpherical) {
        point_list.push_back(vm::Vector3{point->x, point->y, point->z});
        continue;
      }
      FeaturePoint3D direction(*point);
      direction.z = radius;
      FeaturePoint3D cartesian(FeaturePoint3D::eCartesian);
      mapper.ToCartesian(direction, &cartesian);
      point_list.push_back(vm::Vector3{cartesian.x, cartesian.y, cartesian.z});
    }
  }

  if (coordinate_mode_ != 0) {
    Matrix4x4 m{};
    m[0][0] = m[1][1] = m[2][2] = m[3][3] = 1.0;
    if (coordinate_mode_ == 1) m[1][1] = m[2][2] = -1.0;
    for (SharedPtr<FeatureImage>& camera : camera_list) camera->Transform(m);
    for (vm::Vector3& p : point_list) {
      const Vector4 h = MultiplyMat4x4Vec4(m, Vector4{p.x, p.y, p.z, 1.0});
      if (h[3] == 0.0) {
        p = vm::Vector3{0.0, 0.0, 0.0};
      } else {
        p = vm::Vector3{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
      }
    }
  }

  return Export(camera_list, point_list);
}

std::string SaveCamPath::GetObjectName() {
  const std::string& maker = ProductInfo::GetMakerName();
  return maker.empty() ? std::string("Default") : maker;
}

std::string SaveCamPath::GetCameraName() {
  return GetObjectName() + "_cam";
}

std::string SaveCamPath::GetCreatedBy() {
  return "created by " + ProductInfo::GetMakerName() + ' ' + ProductInfo::GetProductName() + ' ' +
         ProductInfo::GetVersionString();
}

std::string SaveCamPath::GetCreationDate() {
  const std::time_t now = CreationTime();
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return std::string();
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&local, "%a %b %d %H:%M:%S %Y");
  return text.str();
}

vm::Vector3 SaveCamPath::GetCameraAnglesInDegrees(const PerspectiveCamera& camera) {
  constexpr double kDegrees = 57.29577951308232;
  vm::Vector3 angles;
  GetCameraAngles(camera, angles, nullptr);
  return vm::Vector3{angles.x * kDegrees, angles.y * kDegrees, angles.z * kDegrees};
}

bool SaveCamPath::OpenOutput(std::ofstream& out) const {
  out.imbue(std::locale::classic());
  out.open(output_path_, std::ios::out | std::ios::trunc);
  return out.is_open();
}

bool SaveCamPath::CloseOutput(std::ofstream& out) {
  out.flush();
  const bool written = out.good();
  out.close();
  return written && !out.fail();
}

bool SaveCamPath::StartExport(const char* writer, const CameraList& cameras,
                              std::ofstream& out) const {
  if (cameras.empty()) {
    Notify(2, "%s::Export: empty camera list!", writer);
    return false;
  }
  return OpenExport(writer, out);
}

bool SaveCamPath::OpenExport(const char* writer, std::ofstream& out) const {
  if (!OpenOutput(out)) {
    Notify(2, "%s::Export: open file \"%s\" failed !!", writer, output_path_.c_str());
    return false;
  }
  return true;
}

bool SaveCamPath::FinishExport(const char* writer, std::ofstream& out) const {
  if (CloseOutput(out)) return true;
  Notify(2, "%s::Export: write file \"%s\" failed !!", writer, output_path_.c_str());
  return false;
}
