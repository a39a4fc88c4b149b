// The fixed property lines of the FBX models.
#include <cstring>

#include "export/writers/save_cam_path_fbx.h"

namespace {

// One row of a property table: every name of the '|'-separated list gets its own line
// with the row's type, flags and value. A null value (object properties) writes no comma.
struct PropertyRow {
  const char* names;
  const char* type;
  const char* flags;
  const char* value;
};

// Marks the two camera values that follow the solve.
const char kFieldOfView[] = "<field of view>";
const char kFocalLength[] = "<focal length>";

const PropertyRow kTransformBlock[] = {
    {"QuaternionInterpolate", "bool", "", "0"},
    {"Visibility", "Visibility", "A+", "1"},
    {"Lcl Translation", "Lcl Translation", "A+",
     "0.000000000000000,0.000000000000000,0.000000000000000"},
    {"Lcl Rotation", "Lcl Rotation", "A+", "0.000000000000000,0.000000000000000,0.000000000000000"},
    {"Lcl Scaling", "Lcl Scaling", "A+", "1.000000000000000,1.000000000000000,1.000000000000000"},
    {"RotationOffset|RotationPivot|ScalingOffset|ScalingPivot", "Vector3D", "", "0,0,0"},
    {"TranslationActive", "bool", "", "0"},
    {"TranslationMin|TranslationMax", "Vector3D", "", "0,0,0"},
    {"TranslationMinX|TranslationMinY|TranslationMinZ|TranslationMaxX|TranslationMaxY|"
     "TranslationMaxZ",
     "bool", "", "0"},
    {"RotationOrder", "enum", "", "0"},
    {"RotationSpaceForLimitOnly", "bool", "", "0"},
    {"AxisLen", "double", "", "10"},
    {"PreRotation|PostRotation", "Vector3D", "", "0,0,0"},
    {"RotationActive", "bool", "", "0"},
    {"RotationMin|RotationMax", "Vector3D", "", "0,0,0"},
    {"RotationMinX|RotationMinY|RotationMinZ|RotationMaxX|RotationMaxY|RotationMaxZ", "bool", "",
     "0"},
    {"RotationStiffnessX|RotationStiffnessY|RotationStiffnessZ|MinDampRangeX|MinDampRangeY|"
     "MinDampRangeZ|MaxDampRangeX|MaxDampRangeY|MaxDampRangeZ|MinDampStrengthX|"
     "MinDampStrengthY|MinDampStrengthZ|MaxDampStrengthX|MaxDampStrengthY|MaxDampStrengthZ|"
     "PreferedAngleX|PreferedAngleY|PreferedAngleZ",
     "double", "", "0"},
    {"InheritType", "enum", "", "0"},
    {"ScalingActive", "bool", "", "0"},
    {"ScalingMin|ScalingMax", "Vector3D", "", "1,1,1"},
    {"ScalingMinX|ScalingMinY|ScalingMinZ|ScalingMaxX|ScalingMaxY|ScalingMaxZ", "bool", "", "0"},
    {"GeometricTranslation|GeometricRotation", "Vector3D", "", "0,0,0"},
    {"GeometricScaling", "Vector3D", "", "1,1,1"},
    {"LookAtProperty|UpVectorProperty", "object", "", nullptr},
    {"Show|NegativePercentShapeSupport", "bool", "", "1"},
    {"DefaultAttributeIndex", "int", "", "0"},
};

// The optics keep the values the format's readers have always been given, whatever the
// sequence's real size: only the field of view and the focal length follow the solve.
const PropertyRow kCameraLines[] = {
    {"Color", "Color", "A", "0.8,0.8,0.8"},
    {"Size", "double", "", "100"},
    {"Look", "enum", "", "1"},
    {"Roll", "Roll", "A+", "0"},
    {"FieldOfView", "FieldOfView", "A+", kFieldOfView},
    {"FieldOfViewX|FieldOfViewY", "FieldOfView", "A+", "1"},
    {"FocalLength", "Real", "A+", kFocalLength},
    {"OpticalCenterX|OpticalCenterY", "Real", "A+", "0.000000"},
    {"BackgroundColor", "Color", "A+", "0,0,0"},
    {"TurnTable", "Real", "A+", "0"},
    {"DisplayTurnTableIcon", "bool", "", "1"},
    {"Motion Blur Intensity", "Real", "A+", "1"},
    {"UseMotionBlur", "bool", "", "0"},
    {"UseRealTimeMotionBlur", "bool", "", "1"},
    {"ResolutionMode", "enum", "", "0"},
    {"ApertureMode", "enum", "", "2"},
    {"GateFit|CameraFormat", "enum", "", "0"},
    {"AspectW", "double", "", "720"},
    {"AspectH", "double", "", "576"},
    {"PixelAspectRatio", "double", "", "2"},
    {"UseFrameColor", "bool", "", "0"},
    {"FrameColor", "ColorRGB", "", "0.3,0.3,0.3"},
    {"ShowName|ShowGrid", "bool", "", "1"},
    {"ShowOpticalCenter", "bool", "", "0"},
    {"ShowAzimut", "bool", "", "1"},
    {"ShowTimeCode", "bool", "", "0"},
    {"NearPlane|FarPlane", "double", "", "0.100000"},
    {"FilmWidth|FilmHeight", "double", "", "1.0"},
    {"FilmAspectRatio", "double", "", "1.250000"},
    {"FilmSqueezeRatio", "double", "", "1"},
    {"FilmFormatIndex", "enum", "", "0"},
    {"ViewFrustum", "bool", "", "1"},
    {"ViewFrustumNearFarPlane", "bool", "", "0"},
    {"ViewFrustumBackPlaneMode", "enum", "", "2"},
    {"BackPlaneDistance", "double", "", "100"},
    {"BackPlaneDistanceMode", "enum", "", "0"},
    {"ViewCameraToLookAt", "bool", "", "1"},
    {"LockMode|LockInterestNavigation|FitImage|Crop", "bool", "", "0"},
    {"Center|KeepRatio", "bool", "", "1"},
    {"BackgroundMode", "enum", "", "0"},
    {"BackgroundAlphaTreshold", "double", "", "0.5"},
    {"ForegroundTransparent", "bool", "", "1"},
    {"DisplaySafeArea", "bool", "", "0"},
    {"SafeAreaDisplayStyle", "enum", "", "1"},
    {"SafeAreaAspectRatio", "double", "", "1.250000"},
    {"Use2DMagnifierZoom", "bool", "", "0"},
    {"2D Magnifier Zoom", "Real", "A+", "100"},
    {"2D Magnifier X|2D Magnifier Y", "Real", "A+", "50"},
    {"CameraProjectionType", "enum", "", "0"},
    {"UseRealTimeDOFAndAA|UseDepthOfField", "bool", "", "0"},
    {"FocusSource", "enum", "", "0"},
    {"FocusAngle", "double", "", "3.5"},
    {"FocusDistance", "double", "", "200"},
    {"UseAntialiasing", "bool", "", "0"},
    {"AntialiasingIntensity", "double", "", "0.77777"},
    {"UseAccumulationBuffer", "bool", "", "0"},
    {"FrameSamplingCount", "int", "", "7"},
};

const PropertyRow kMeshLines[] = {
    {"Color", "Color", "A", "0.8,0.8,0.8"},
    {"Size", "double", "", "100"},
    {"Look", "enum", "", "1"},
};

template <size_t n>
void WriteRows(std::ostream& out, const char* tabs, const PropertyRow (&rows)[n],
               double field_of_view = 0.0, double focal = 0.0) {
  for (const PropertyRow& row : rows) {
    const char* name = row.names;
    while (true) {
      const char* end = std::strchr(name, '|');
      const size_t length = end != nullptr ? size_t(end - name) : std::strlen(name);
      out << tabs << "Property: \"";
      out.write(name, std::streamsize(length));
      out << "\", \"" << row.type << "\", \"" << row.flags << '"';
      if (row.value == kFieldOfView) {
        out << ',' << field_of_view;
      } else if (row.value == kFocalLength) {
        out << ',' << focal;
      } else if (row.value != nullptr) {
        out << ',' << row.value;
      }
      out << '\n';
      if (end == nullptr) break;
      name = end + 1;
    }
  }
}

}  // namespace

void SaveCamPathFBX::WriteModelProperties(std::ostream& out) {
  out << "\t\tProperties60:  {\n";
  WriteRows(out, "\t\t\t", kTransformBlock);
}

void SaveCamPathFBX::WriteCameraProperties(std::ostream& out, double field_of_view, double focal) {
  WriteRows(out, "\t\t", kCameraLines, field_of_view, focal);
}

void SaveCamPathFBX::WriteMeshProperties(std::ostream& out) {
  WriteRows(out, "\t\t\t", kMeshLines);
}
