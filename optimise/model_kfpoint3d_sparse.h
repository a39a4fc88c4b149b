// The bundle-adjustment problems of the sparse optimizer (optimizer_sparse_lm.h): data
// objects that number the cameras of a list of feature images, the 3D points their
// features see and the observations, and the measurement functions with their gradients.
//
//   rotation only (R):  every camera turns about one common centre; camera parameters
//                       pan, tilt, roll, focal length; a point is a direction
//                       (FeaturePoint3D::eSpherical: azimuth x, elevation y), 2 values.
//   free motion (RT):   camera parameters pan, tilt, roll, centre x, y, z, focal length,
//                       or a free 3x4 projection matrix; a point is Cartesian, 3 values.
//
// The parameter vector holds every camera's block (equal size, camera order), then every
// point's block (point order). Which camera parameters are free is chosen by a mask
// (SparseCameraMask); a parameter whose bit is clear keeps the camera's stored value.
// Measurements are sensor millimetres about the principal point with the lens distortion
// removed, or (projection-matrix mode) undistorted pixels about the image centre.
//
// The data objects keep raw pointers to the images' 3D points: the points must outlive
// the run. Everything runs on the caller's thread; ComputeWithGradient only reads.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/optimizer_lm.h"

class FeatureImage;

// One used 2D observation.
struct ModelSparseMeasurement {
  double x = 0.0;  // mapped position (see the file comment)
  double y = 0.0;
  int point_index = 0;   // into the data's point list
  int camera_index = 0;  // position of the image in the list given to SetFImageList
  int weight_set = 0;    // 1 when the feature carries a covariance
  // The feature's inverse covariance, in mm^-2 (px^-2 in projection-matrix mode);
  // identity when it has none. Kept for callers; the optimizer does not weight by it.
  double weight[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
};

// What the measurement function of one observation needs.
struct ModelRKFPoint3DSparseInput {
  unsigned mask = 0;
  int held_first_camera = 0;  // always 0 for the rotation-only model
  int number_of_cameras = 0;
  int number_of_points = 0;
  int number_of_parameters = 0;
  int camera_index = 0;
  int point_index = 0;
  int parameters_per_camera = 0;
  int parameters_per_point = 0;
  double focal_length = 0.0;  // the camera's stored values, for parameters not free
  double pan = 0.0;
  double tilt = 0.0;
  double roll = 0.0;
};

struct ModelRTKFPoint3DSparseInput : ModelRKFPoint3DSparseInput {
  double centre[3] = {0.0, 0.0, 0.0};
};

// The fields and counts both data objects share.
class ModelKFPoint3DDataSparse {
 public:
  using ImageList = std::vector<SharedPtr<FeatureImage>>;

  const std::vector<FeaturePoint3D*>& GetFPoint3DList() const { return m_fpoint3d_list; }
  const std::vector<ModelSparseMeasurement>& GetMeasurements() const { return m_measurements; }
  // The start vector (cameras, then points); SetInitialParameters fills it.
  const std::vector<double>& GetParameters() const { return m_parameters; }
  int GetNumberOfParameters() const { return m_number_parameters; }
  int GetNumberOfCameras() const { return m_number_cameras; }
  int GetNumberOfPoints() const { return static_cast<int>(m_fpoint3d_list.size()); }
  int GetNumberOfMeasurements() const { return static_cast<int>(m_measurements.size()); }
  int GetParametersPerCamera() const { return m_parameters_per_camera; }
  int GetParametersPerPoint() const { return m_parameters_per_point; }
  unsigned GetMask() const { return m_mask; }
  // Points skipped by the last SetFImageList for their coordinate system.
  int GetNumberRejected() const { return m_number_rejected; }
  // Empties every list and zeroes the counts; the mask stays.
  void Clear();

 protected:
  ModelKFPoint3DDataSparse(unsigned mask, int parameters_per_point, int parameters_per_camera)
      : m_mask(mask),
        m_parameters_per_point(parameters_per_point),
        m_parameters_per_camera(parameters_per_camera) {}
  ~ModelKFPoint3DDataSparse() = default;

  // How one model takes its observations from the images.
  struct Collect {
    const char* class_name;              // for the log lines
    int unit_mode;                       // mapping units: 0 mm, 1 pixels
    bool shift_principal_point;          // measure from the principal point
    bool need_support;                   // only features whose links carry 0x60
    int coordinate_system;               // the points' required coordinate system
    const char* coordinate_system_name;  // for the log line of rejected points
    bool weight_in_mm;                   // convert the feature's weight to mm^-2
    bool log_focal_lengths;
    int parameters_per_camera;
    int held_parameters;  // left out of the logged parameter count
  };
  // Rebuilds the point list, the measurements (counting rejected points), the cameras'
  // stored values and the counts from the images; sizes the start vector (zeros).
  void Rebuild(const ImageList& list, const Collect& how);
  // Fills the common input fields of measurement i.
  void FillInput(int i, ModelRKFPoint3DSparseInput& in) const;

  std::vector<FeaturePoint3D*> m_fpoint3d_list;
  std::vector<double> m_parameters;
  int m_number_parameters = 0;
  int m_number_cameras = 0;
  std::vector<ModelSparseMeasurement> m_measurements;
  std::vector<double> m_focal_lengths;          // per camera, mm
  std::vector<std::array<double, 3>> m_angles;  // per camera: pan, tilt, roll (radians)
  unsigned m_mask;
  int m_parameters_per_point;
  int m_parameters_per_camera;
  int m_number_rejected = 0;
};

// Rotation-only data: direction points, mask 0xE802 by default (pan, tilt, roll, f).
class ModelRKFPoint3DDataSparse : public ModelKFPoint3DDataSparse {
 public:
  ModelRKFPoint3DDataSparse() : ModelKFPoint3DDataSparse(kCamMaskRotationModelDefault, 2, 4) {}
  ~ModelRKFPoint3DDataSparse() { Clear(); }

  // Rebuilds everything from the images; a null mask keeps the stored one. Only features
  // whose 3D point is not removed and whose predecessor or successor link carries a
  // flag in 0x60 are used; points that are not directions are skipped and counted. The
  // principal-point bits (0x4, 0x8) have no parameter in this model: they are cleared
  // with a warning.
  void SetFImageList(const ImageList& list, const unsigned* mask);
  // Writes the cameras' and points' current values into the start vector; call right
  // after SetFImageList with the same list.
  void SetInitialParameters(const ImageList& list);
  void GetModelInput(int i, ModelRKFPoint3DSparseInput& in) const { FillInput(i, in); }
  // Free parameters per camera for a mask: the bits pan, tilt, roll and focal length.
  static int ParametersPerCamera(unsigned mask);
};

// Free-motion data: Cartesian points, mask 0x7E802 by default (pan, tilt, roll, centre,
// f); with the projection bit 12 parameters per camera (the matrix row by row).
class ModelRTKFPoint3DDataSparse : public ModelKFPoint3DDataSparse {
 public:
  ModelRTKFPoint3DDataSparse() : ModelKFPoint3DDataSparse(kCamMaskMotionModelDefault, 3, 7) {}
  ~ModelRTKFPoint3DDataSparse() { Clear(); }

  // As the rotation-only twin, but every feature with a non-removed point is used and
  // points that are not Cartesian are skipped and counted.
  void SetFImageList(const ImageList& list, const unsigned* mask);
  void SetInitialParameters(const ImageList& list);
  void GetModelInput(int i, ModelRTKFPoint3DSparseInput& in) const;
  static int ParametersPerCamera(unsigned mask);

  // When set, the optimizer keeps the first camera's parameters fixed.
  int m_hold_first_camera = 0;

 private:
  std::vector<std::array<double, 3>> m_centres;  // per camera
};

// Measurement functions. result[0] and result[1] receive the image x and y and their
// gradients: the camera block's free parameters first (in the order of
// SetInitialParameters), then the point's parameters. False when the point lies in the
// camera's focal plane (a zero denominator) or the values are not finite.
class ModelRKFPoint3DSparse : public ModelWithGradient<ModelRKFPoint3DSparseInput, 2>,
                              public Model<ModelRKFPoint3DSparseInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRKFPoint3DSparse"; }
  bool ComputeWithGradient(const ModelRKFPoint3DSparseInput& in,
                           const std::vector<double>& parameters, ModelOutput result[2]) const;
};

class ModelRTKFPoint3DSparse : public ModelWithGradient<ModelRTKFPoint3DSparseInput, 2>,
                               public Model<ModelRTKFPoint3DSparseInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRTKFPoint3DSparse"; }
  bool ComputeWithGradient(const ModelRTKFPoint3DSparseInput& in,
                           const std::vector<double>& parameters, ModelOutput result[2]) const;
};
