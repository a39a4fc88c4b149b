// PerspectiveCamera: the CAHV pinhole camera with radial lens distortion.
//
// C is the projection centre (mm, world), A the unit viewing axis, H and V the
// horizontal and vertical vectors in pixels: H = focal length in pixels * H0 +
// principal point x * A, likewise V. The principal point (xp, yp) = (A.H, A.V)
// is in pixels relative to the image centre ((width-1)/2, (height-1)/2); pixel
// centres lie on integers. sx, sy are the pixel size in mm per pixel. The
// distortion model (see radial_distortion.h) works on the radius in mm unless
// RdDim is non-zero, then in pixels.
//
// A camera is a value: copying copies every member and the name. No locking:
// one writer at a time; concurrent reads of an unchanged camera are safe.
// Failures are level-2 log messages; each operation says what it falls back to;
// nothing throws.
//
// Some operations read the image size through the virtual GetWidth/GetHeight
// (derived classes may report another size), the others read the members; each
// says which.
#ifndef KALVEX_FOUNDATION_CAMERA_PERSPECTIVE_CAMERA_H_
#define KALVEX_FOUNDATION_CAMERA_PERSPECTIVE_CAMERA_H_

#include <cstdint>

#include "foundation/camera/radial_distortion.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/meta.h"

class DataBaseIn;
class DataBaseOut;

// What image remapping needs to apply a camera's lens distortion.
struct RadialDistortionParameters {
  double principal_x;   // pixel coordinates: xp + (width-1)/2
  double principal_y;   // yp + (height-1)/2
  double pixel_size_x;  // sx, or 1.0 when the radius is measured in pixels
  double pixel_size_y;
  double k[4];
  double scale;  // 1.0
  RadialDistortionFunction model;
};

// The 35 mm-equivalent focal length assumed before a camera is known.
double DefaultInitFocalLength();

class PerspectiveCamera : public Meta {
 public:
  // 720 x 576, C = 0, A = (0,0,1), H = (720,0,0), V = (0,576,0), sx = sy = 0.1,
  // no distortion, model Poly3, RdDim 0, no name.
  PerspectiveCamera();
  PerspectiveCamera(const PerspectiveCamera&) = default;
  PerspectiveCamera& operator=(const PerspectiveCamera&) = default;
  ~PerspectiveCamera() override;

  // ---- virtual interface (derived image classes override size and restore)
  virtual const char* GetCameraType() const;  // "MetaCamera"
  virtual uint32_t GetWidth() const;
  virtual uint32_t GetHeight() const;
  // ProjectPoint without the inside check; logs a failure. Returns ok.
  virtual bool ProjectPCS(const vm::Vector3& p, double& x, double& y) const;
  // Sets everything but the two further values; A is normalised (a zero axis
  // stays zero), k[2] = k[3] = 0. A null model means Poly3.
  virtual void Set(const vm::Vector3& c, const vm::Vector3& a, const vm::Vector3& h,
                   const vm::Vector3& v, uint32_t width, uint32_t height, double k3, double sx,
                   double sy, double k5, int rd_dim, RadialDistortionFunction model);
  // Takes the other camera's pose, size (through its virtual getters) and
  // pixel size; the distortion (coefficients, further values, model) is this
  // camera's own when keep_distortion is set, else the other's. RdDim and the
  // name stay.
  virtual void CopyFrom(const PerspectiveCamera& other, bool keep_distortion);
  // Parameter files are no longer supported: echoes the file's non-comment
  // lines on stderr and logs so. The camera does not change; returns 0.
  virtual int ReadParameter(const char* path);
  // Restores one stored field of the camera from a project file and returns true, or
  // returns false for a field it does not know (see data_base.h; defined in
  // camera_restore.cpp). Derived stored classes forward their own unknown fields here.
  virtual bool CheckForField(DataBaseIn& in, const char* key);

  // ---- members
  const vm::Vector3& GetC() const { return c_; }
  const vm::Vector3& GetA() const { return a_; }
  const vm::Vector3& GetH() const { return h_; }
  const vm::Vector3& GetV() const { return v_; }
  double GetPixelSizeX() const { return sx_; }
  double GetPixelSizeY() const { return sy_; }
  // k[0] = K3 (1/mm^2 or 1/pel^2), k[1] = K5, k[2], k[3] further coefficients.
  const double* GetDistortionCoefficients() const { return k_; }
  // Two values without meaning here; they travel with the camera.
  const double* GetFurtherValues() const { return further_; }
  RadialDistortionFunction GetDistortionModel() const { return model_; }
  int GetRdDim() const { return rd_dim_; }

  // Sets everything but RdDim; A normalised as in Set. A null model means Poly3.
  void SetAll(const vm::Vector3& c, const vm::Vector3& a, const vm::Vector3& h,
              const vm::Vector3& v, uint32_t width, uint32_t height, double sx, double sy,
              const double* k, const double* further, RadialDistortionFunction model);

  // ---- intrinsics (members unless said otherwise)
  // H and V stay, so the focal length in mm changes with sx.
  void SetPixelSize(double sx, double sy);
  // Principal point (A.H, A.V) in pixels from the image centre.
  double GetCenterPointX() const;
  double GetCenterPointY() const;
  // Move the principal point along A; the axes stay.
  void SetCenterPointX(double x);
  void SetCenterPointY(double y);
  // Unit image axes in the world; a zero-length axis gives the zero vector
  // and a warning.
  vm::Vector3 H0() const;
  vm::Vector3 V0() const;
  // |H - xp A| * sx in mm.
  double GetFocalLength() const;
  // Keeps axes and principal point; f <= 0 or a non-positive pixel size
  // changes nothing.
  void SetFocalLength(double f);
  // Radians; pi when the focal length is exactly 0.
  double GetHorizontalFieldOfView() const;
  double GetVerticalFieldOfView() const;
  void SetHorizontalFieldOfView(double fov);
  // f * 36 / (sx * width); f itself with a warning when sx * width is 0.
  double GetFocalLength35mmEquivalent() const;
  void SetFocalLength35mmEquivalent(double f35);
  // Focal length giving the diagonal field of view of a 50 mm lens on 35 mm
  // film.
  double GetNormalFocalLength() const;
  // Sensor extent in mm; 0 with a warning for a zero size.
  double GetSensorWidth() const;
  double GetSensorHeight() const;
  double GetDiagonalSensorSize() const;

  // ---- distortion
  // k = (K3, K5, 0, 0); a null model means Poly3.
  void SetDistortion(double k3, double k5, int rd_dim, RadialDistortionFunction model);
  // K3 from the relative distortion k at the image corner (radius in mm);
  // the model stays, RdDim becomes 0. A zero size changes nothing (warning).
  void SetNormalizedK3(double k);
  // Distorted -> ideal and ideal -> distorted positions. centred: the point is
  // relative to the image centre; otherwise in pixel coordinates (the centre
  // through the virtual size getters).
  void Undistort(double x, double y, double& xo, double& yo, bool centred) const;
  void Distort(double x, double y, double& xo, double& yo, bool centred) const;
  void GetRadialDistortionParameters(RadialDistortionParameters& out) const;

  // ---- projection
  // Pixel coordinates of world point p (distorted). depth = A.(p - C) is
  // always written. Fails (x = y = 0) when |depth| <= 1e-30, or, with
  // check_inside, when the point falls outside the image. A point behind the
  // camera projects like any other: callers test the depth.
  bool ProjectPoint(const vm::Vector3& p, double& x, double& y, double& depth,
                    bool check_inside) const;
  // 0 <= x <= width-1 and 0 <= y <= height-1 (members).
  bool IsInsideImage(double x, double y) const;
  // Through the virtual size getters.
  void PixelToCentered(double x, double y, double& xo, double& yo) const;
  void CenteredToPixel(double x, double y, double& xo, double& yo) const;
  // Unit world direction of the ray through a pixel.
  vm::Vector3 GetViewingRay(double x, double y) const;

  // ---- pose
  vm::Vector3 WorldToCamera(const vm::Vector3& p) const;
  vm::Vector3 CameraToWorld(double x, double y, double z) const;
  // Columns H0, V0, A, C; last row (0, 0, 0, 1).
  Matrix4x4 GetCameraToWorldMatrix() const;
  Matrix4x4 GetPoseMatrix() const { return GetCameraToWorldMatrix(); }
  // Rows (H0, -H0.C), (V0, -V0.C), (A, -A.C), (0, 0, 0, 1).
  Matrix4x4 GetWorldToCameraMatrix() const;
  // M = [R | t]: A, H, V rotated, C = R C + t. A is not renormalised.
  void Transform(const Matrix3x4& m);
  void Transform(const Matrix4x4& m);

  // ---- text output
  // Writes the CAHV text file; version is major * 10 + minor (the camera
  // exports write 11). With append the text goes after the file's contents (one file
  // holding several cameras). Returns false (with a warning) when the file cannot be
  // written.
  bool Describe(const char* path, int version, bool append = false) const;

 protected:
  uint32_t width_ = 720;
  uint32_t height_ = 576;
  vm::Vector3 c_{0.0, 0.0, 0.0};
  vm::Vector3 a_{0.0, 0.0, 1.0};
  vm::Vector3 h_{720.0, 0.0, 0.0};
  vm::Vector3 v_{0.0, 576.0, 0.0};
  double sx_ = 0.1;
  double sy_ = 0.1;
  double k_[4] = {0.0, 0.0, 0.0, 0.0};
  double further_[2] = {0.0, 0.0};
  RadialDistortionFunction model_ = Poly3;
  int rd_dim_ = 0;

 private:
  void TransformRows(const double* m);
  void ApplyDistortion(double x, double y, double& xo, double& yo, bool centred,
                       bool inverse) const;
};

// f35 * sx * width / 36 in mm for this camera (width through the virtual
// getter); the camera does not change.
double FocalLengthFrom35mmEquivalent(const PerspectiveCamera& camera, double f35);

// Writes the camera's stored fields, the counterpart of PerspectiveCamera::CheckForField
// (defined in camera_restore.cpp): binary one record, ascii eleven named fields; the size
// through the virtual getters, the model by its id (a function outside the model table
// is stored as Poly3). The further coefficients, RdDim and the name are not stored.
void WriteCamera(DataBaseOut& out, const PerspectiveCamera& camera);

#endif  // KALVEX_FOUNDATION_CAMERA_PERSPECTIVE_CAMERA_H_
