#include "export/writers/save_cam_path_fbx.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "export/writer_support.h"
#include "foundation/runtime/product_info.h"

namespace {

constexpr double kDegrees = 57.29577951308232;

// The stream's number form after the first time value: key values with ten decimals.
// Every time value is written without decimals.
void WriteTime(std::ostream& out, double time) {
  out << std::fixed << std::setprecision(0) << time << std::setprecision(10);
}

// The values of one channel: translation (x, -y, -z) in mm or rotation in degrees.
struct CameraValues {
  double time;
  double t[3];
  double r[3];
};

// Writes the numbers `count` values long, `per_line` after the first line's extra one:
// after value i > 0 with i % per_line == 0 the line breaks before the next comma.
template <typename WriteValue>
void WriteWrapped(std::ostream& out, size_t count, size_t per_line, WriteValue write_value) {
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out << ',';
    write_value(i);
    if (i > 0 && i % per_line == 0) out << "\n\t\t";
  }
  out << '\n';
}

const char* const kAxes = "XYZ";
const char* const kAxisColors[] = {"1,0,0", "0,1,0", "0,0,1"};

// One take model: channels T, R and S, each X, Y, Z. Without keys (the point mesh) every
// channel holds its default; with keys (the camera) T and R are keyed per camera and S
// holds 1 from time 0 to the last time.
void WriteTakeModel(std::ostream& out, const std::string& model,
                    const std::vector<CameraValues>* keys, double last_time) {
  static const char* const kMeshRotation[] = {"180.000000000000000", "-0.000000000000000",
                                              "0.000000000000000"};
  out << "\t\tModel: \"" << model << "\" {\n"
      << "\t\t\tVersion: 1.1\n"
      << "\t\t\tChannel: \"Transform\" {\n";
  for (int group = 0; group < 3; ++group) {
    out << "\t\t\t\tChannel: \""
        << "TRS"[group] << "\" {\n";
    for (int axis = 0; axis < 3; ++axis) {
      out << "\t\t\t\t\tChannel: \"" << kAxes[axis] << "\" {\n"
          << "\t\t\t\t\t\tDefault: ";
      if (group == 0) {
        out << "0.000000000000000";
      } else if (group == 2) {
        out << "1.0";
      } else if (keys == nullptr) {
        out << kMeshRotation[axis];
      } else {
        out << keys->front().r[axis];
      }
      out << "\n\t\t\t\t\t\tKeyVer: 4005\n";
      if (keys != nullptr && group < 2) {
        out << "\t\t\t\t\t\tKeyCount: " << keys->size() << "\n\t\t\t\t\t\tKey: \n";
        for (size_t k = 0; k < keys->size(); ++k) {
          const CameraValues& key = (*keys)[k];
          out << "\t\t\t\t\t\t\t";
          WriteTime(out, key.time);
          out << ',' << (group == 0 ? key.t[axis] : key.r[axis]) << ",L";
          if (k + 1 < keys->size()) out << ',';
          out << '\n';
        }
      } else if (keys != nullptr) {
        out << "\t\t\t\t\t\tKeyCount: 2\n\t\t\t\t\t\tKey: \n"
            << "\t\t\t\t\t\t\t0,1.0,L,\n\t\t\t\t\t\t\t";
        WriteTime(out, last_time);
        out << ",1.0,L\n";
      }
      out << "\t\t\t\t\t\tColor: " << kAxisColors[axis] << "\n\t\t\t\t\t}\n";
    }
    out << "\t\t\t\t\tLayerType: " << group + 1 << "\n\t\t\t\t}\n";
  }
  out << "\t\t\t}\n\t\t}\n";
}

// The closing lines of a model's property block and the lines every model shares after it.
void WriteModelTail(std::ostream& out, int multi_take) {
  out << "\t\t}\n"
      << "\t\tMultiLayer: 0\n"
      << "\t\tMultiTake: " << multi_take << '\n'
      << "\t\tShading: Y\n"
      << "\t\tCulling: \"CullingOff\"\n";
}

}  // namespace

double SaveCamPathFBX::KeyTime(int image_index, double frames_per_second) {
  return std::floor(double(image_index) / frames_per_second * 46186158000.0 + 0.5);
}

bool SaveCamPathFBX::Export(const CameraList& cameras, const PointList& points) {
  std::ofstream out;
  if (!StartExport("SaveCamPathFBX", cameras, out)) return false;
  const std::time_t moment = CreationTime();
  std::tm local{};
  ::localtime_r(&moment, &local);
  const int year = local.tm_year + 1900, month = local.tm_mon + 1, day = local.tm_mday;

  const std::string& product = ProductInfo::GetProductName();
  const std::string version = ProductInfo::GetVersionString();
  const std::string root = "Model::" + product + "_root";
  const std::string camera_model = "Model::" + product + "_Camera";
  const std::string cloud = "Model::" + product + "_FP3D_cloud";
  const double fps = GetFramesPerSecond();

  std::vector<CameraValues> keys;
  keys.reserve(cameras.size());
  for (const SharedPtr<FeatureImage>& camera : cameras) {
    const vm::Vector3 degrees = GetCameraAnglesInDegrees(*camera);  // pan, tilt, roll
    const vm::Vector3& c = camera->GetC();
    keys.push_back({KeyTime(camera->GetImageIndex(), fps),
                    {c.x, -c.y, -c.z},
                    {degrees.z, -degrees.x, degrees.y}});
  }
  const double last_time = keys.back().time;

  out << "; FBX 6.1.0 project file\n"
      << "; Created by Kalvex 1.2\n\n"
      << "FBXHeaderExtension:  {\n"
      << "\tFBXHeaderVersion: 1003\n"
      << "\tFBXVersion: 6100\n"
      << "\tCreationTimeStamp:  {\n"
      << "\t\tVersion: 1000\n"
      << "\t\tYear: " << year << "\n\t\tMonth: " << month << "\n\t\tDay: " << day
      << "\n\t\tHour: " << local.tm_hour << "\n\t\tMinute: " << local.tm_min
      << "\n\t\tSecond: " << local.tm_sec << "\n\t\tMillisecond: 0\n"
      << "\t}\n"
      << "\tCreator: \"" << product << ' ' << version << " FBX Exporter\"\n"
      << "}\n"
      << "CreationTime: \"" << year << '-' << month << '-' << day << ' ' << local.tm_hour << ':'
      << local.tm_min << ':' << local.tm_sec << ":000\"\n"
      << "Creator: \"" << product << ' ' << version << "\"\n\n";

  out << "Definitions:  {\n"
      << "\tVersion: 100\n"
      << "\tCount: 6\n";
  for (const auto& [type, count] :
       {std::pair{"Model", 3}, {"Geometry", 1}, {"Pose", 1}, {"GlobalSettings", 1}}) {
    out << "\tObjectType: \"" << type << "\" {\n\t\tCount: " << count << "\n\t}\n";
  }
  out << "}\n\n";

  out << "Objects:  {\n"
      << "\tModel: \"" << root << "\", \"Null\" {\n"
      << "\t\tVersion: 232\n";
  WriteModelProperties(out);
  WriteModelTail(out, 1);
  out << "\t\tTypeFlags: \"Null\"\n"
      << "\t}\n";

  const FeatureImage& first = *cameras.front();
  out << "\tModel: \"" << camera_model << "\", \"Camera\" {\n"
      << "\tVersion: 232\n";
  WriteModelProperties(out);
  WriteCameraProperties(out, first.GetHorizontalFieldOfView() * kDegrees, first.GetFocalLength());
  WriteModelTail(out, 0);
  out << "\t\tTypeFlags: \"Camera\"\n"
      << "\t\tGeometryVersion: 124\n"
      << "\t\tPosition: 0.000000,0.000000,0.000000\n"
      << "\t\tUp: 0.000000,1.000000,0.000000\n"
      << "\t\tLookAt: -1.000000,0.000000,0.000000\n"
      << "\t\tShowInfoOnMoving: 1\n"
      << "\t\tShowAudio: 0\n"
      << "\t\tAudioColor: 0,1,0\n"
      << "\t\tCameraOrthoZoom: 1\n"
      << "\t}\n";

  out << "\tModel: \"" << cloud << "\", \"Mesh\" {\n"
      << "\t\tVersion: 232\n";
  WriteModelProperties(out);
  WriteMeshProperties(out);
  WriteModelTail(out, 1);
  out << "\t\tVertices: ";
  WriteWrapped(out, points.size(), 7,
               [&](size_t i) { out << points[i].x << ',' << points[i].y << ',' << points[i].z; });
  out << "\t\tPolygonVertexIndex: \n"
      << "\t\tEdges: \n"
      << "\t\tGeometryVersion: 124\n"
      << "\t\tLayerElementNormal: 0 {\n"
      << "\t\t\tVersion: 101\n"
      << "\t\t\tName: \"\"\n"
      << "\t\t\tMappingInformationType: \"ByVertice\"\n"
      << "\t\t\tReferenceInformationType: \"Direct\"\n"
      << "\t\t\tNormals: ";
  WriteWrapped(out, points.size(), 6, [&](size_t) { out << "0.0"; });
  out << "\t\t}\n";
  for (const auto& [layer, version, mapping] :
       {std::tuple{0, 102, "ByPolygon"}, std::tuple{1, 101, "ByEdge"}}) {
    out << "\t\tLayerElementSmoothing: " << layer << " {\n"
        << "\t\t\tVersion: " << version << '\n'
        << "\t\t\tName: \"\"\n"
        << "\t\t\tMappingInformationType: \"" << mapping << "\"\n"
        << "\t\t\tReferenceInformationType: \"Direct\"\n"
        << "\t\t\tSmoothing: \n"
        << "\t\t}\n";
  }
  out << "\t\tLayer: 0 {\n"
      << "\t\t\tVersion: 100\n"
      << "\t\t\tLayerElement:  {\n"
      << "\t\t\t\tType: \"LayerElementNormal\"\n"
      << "\t\t\t\tTypedIndex: 0\n"
      << "\t\t\t}\n"
      << "\t\t}\n"
      << "\t}\n";

  out << "\tPose: \"Pose::BIND_POSES\", \"BindPose\" {\n"
      << "\t\tType: \"BindPose\"\n"
      << "\t\tVersion: 100\n"
      << "\t\tProperties60:  {\n"
      << "\t\t}\n"
      << "\t\tNbPoseNodes: 2\n"
      << "\t\tPoseNode:  {\n"
      << "\t\t\tNode: \"" << root << "\"\n"
      << "\t\t\tMatrix: 1.000000000000000,0.000000000000000,0.000000000000000,"
         "0.000000000000000,0.000000000000000,1.000000000000000,0.000000000000000,"
         "0.000000000000000,0.000000000000000,0.000000000000000,1.000000000000000,"
         "0.000000000000000,0.000000000000000,0.000000000000000,0.000000000000000,"
         "1.000000000000000\n"
      << "\t\t}\n"
      << "\t\tPoseNode:  {\n"
      << "\t\t\tNode: \"" << cloud
      << "\"\n"
      // Half a turn about X, with the rounding residue the format has always carried.
      << "\t\t\tMatrix: 1.000000000000000,0.000000000000000,0.000000000000000,"
         "0.000000000000000,0.000000000000000,1.000000002980232,0.000000041326413,"
         "0.000000000000000,0.000000000000000,-0.000000041326413,-1.000000002980232,"
         "0.000000000000000,0.000000000000000,0.000000000000000,0.000000000000000,"
         "1.000000000000000\n"
      << "\t\t}\n"
      << "\t}\n"
      << "\tGlobalSettings:  {\n"
      << "\t\tVersion: 1000\n"
      << "\t\tProperties60:  {\n"
      << "\t\t\tProperty: \"UpAxis\", \"int\", \"\",1\n"
      << "\t\t\tProperty: \"UpAxisSign\", \"int\", \"\",1\n"
      << "\t\t\tProperty: \"FrontAxis\", \"int\", \"\",2\n"
      << "\t\t\tProperty: \"FrontAxisSign\", \"int\", \"\",1\n"
      << "\t\t\tProperty: \"CoordAxis\", \"int\", \"\",0\n"
      << "\t\t\tProperty: \"CoordAxisSign\", \"int\", \"\",1\n"
      << "\t\t\tProperty: \"UnitScaleFactor\", \"double\", \"\",100\n"
      << "\t\t}\n"
      << "\t}\n"
      << "}\n";

  out << "Relations:  {\n"
      << "\tModel: \"" << root << "\", \"Null\" {\n\t}\n"
      << "\tModel: \"" << cloud << "\", \"Mesh\" {\n\t}\n"
      << "\tModel: \"" << camera_model << "\", \"Camera\" {\n\t}\n"
      << "}\n"
      << "Connections:  {\n"
      << "\tConnect: \"OO\", \"" << root << "\", \"Model::Scene\"\n"
      << "\tConnect: \"OO\", \"" << cloud << "\", \"" << root << "\"\n"
      << "\tConnect: \"OO\", \"" << camera_model << "\", \"" << root << "\"\n"
      << "}\n";

  out << "Takes:  {\n"
      << "\tCurrent: \"Default Take\"\n"
      << "\tTake: \"Default Take\" {\n"
      << "\t\tFileName: \"Default_Take.tak\"\n"
      << "\t\tLocalTime: 0,";
  WriteTime(out, last_time);
  out << "\n\t\tReferenceTime: 0,";
  WriteTime(out, last_time);
  out << '\n';
  WriteTakeModel(out, cloud, nullptr, last_time);
  WriteTakeModel(out, camera_model, &keys, last_time);
  out << "\t}\n"
      << "}\n";

  out << "Version5:  {\n"
      << "\tAmbientRenderSettings:  {\n"
      << "\t\tVersion: 101\n"
      << "\t\tAmbientLightColor: 0.0,0.0,0.0,0\n"
      << "\t}\n"
      << "\tFogOptions:  {\n"
      << "\t\tFogEnable: 0\n"
      << "\t\tFogMode: 0\n"
      << "\t\tFogDensity: 0.000\n"
      << "\t\tFogStart: 0.000\n"
      << "\t\tFogEnd: 0.000\n"
      << "\t\tFogColor: 0.1,0.2,0.4,1\n"
      << "\t}\n"
      << "\tSettings:  {\n"
      << "\t\tFrameRate: \"";
  WriteTime(out, fps);
  out << "\"\n"
      << "\t\tTimeFormat: 1\n"
      << "\t\tSnapOnFrames: 0\n"
      << "\t\tReferenceTimeIndex: -1\n"
      << "\t\tTimeLineStartTime: 0\n"
      << "\t\tTimeLineStopTime: ";
  WriteTime(out, last_time);
  out << "\n\t}\n"
      << "\tRendererSetting:  {\n"
      << "\t\tDefaultCamera: \"" << product << "_Camera\"\n"
      << "\t\tDefaultViewingMode: 0\n"
      << "\t}\n"
      << "}\n";

  return FinishExport("SaveCamPathFBX", out);
}
