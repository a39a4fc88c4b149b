#include "foundation/camera/perspective_camera.h"

#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/runtime/notify.h"
#include "platform/console.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Numbers in files are written with '.' whatever locale the user or the
// toolkit set: switch this thread to the C locale while writing.
class CNumericLocale {
 public:
  CNumericLocale() : c_locale_(newlocale(LC_ALL_MASK, "C", nullptr)) {
    if (c_locale_ != nullptr) previous_ = uselocale(c_locale_);
  }
  ~CNumericLocale() {
    if (c_locale_ == nullptr) return;
    uselocale(previous_);
    freelocale(c_locale_);
  }
  CNumericLocale(const CNumericLocale&) = delete;
  CNumericLocale& operator=(const CNumericLocale&) = delete;

 private:
  locale_t c_locale_;
  locale_t previous_ = nullptr;
};

double HalfExtent(uint32_t size) {
  return (double(size) - 1.0) * 0.5;
}

}  // namespace

double DefaultInitFocalLength() {
  return 50.0;
}

PerspectiveCamera::PerspectiveCamera() = default;
PerspectiveCamera::~PerspectiveCamera() = default;

const char* PerspectiveCamera::GetCameraType() const {
  return "MetaCamera";
}
uint32_t PerspectiveCamera::GetWidth() const {
  return width_;
}
uint32_t PerspectiveCamera::GetHeight() const {
  return height_;
}

void PerspectiveCamera::Set(const vm::Vector3& c, const vm::Vector3& a, const vm::Vector3& h,
                            const vm::Vector3& v, uint32_t width, uint32_t height, double k3,
                            double sx, double sy, double k5, int rd_dim,
                            RadialDistortionFunction model) {
  const double k[4] = {k3, k5, 0.0, 0.0};
  SetAll(c, a, h, v, width, height, sx, sy, k, further_, model);  // further_ stays
  rd_dim_ = rd_dim;
}

void PerspectiveCamera::SetAll(const vm::Vector3& c, const vm::Vector3& a, const vm::Vector3& h,
                               const vm::Vector3& v, uint32_t width, uint32_t height, double sx,
                               double sy, const double* k, const double* further,
                               RadialDistortionFunction model) {
  // Read the arrays before writing: they may be this camera's own.
  const double kk[4] = {k[0], k[1], k[2], k[3]};
  const double ff[2] = {further[0], further[1]};
  c_ = c;
  a_ = a;
  a_.Normalize();
  h_ = h;
  v_ = v;
  width_ = width;
  height_ = height;
  sx_ = sx;
  sy_ = sy;
  std::memcpy(k_, kk, sizeof(k_));
  std::memcpy(further_, ff, sizeof(further_));
  model_ = model != nullptr ? model : Poly3;
}

void PerspectiveCamera::CopyFrom(const PerspectiveCamera& other, bool keep_distortion) {
  const PerspectiveCamera& d = keep_distortion ? *this : other;
  SetAll(other.c_, other.a_, other.h_, other.v_, other.GetWidth(), other.GetHeight(), other.sx_,
         other.sy_, d.k_, d.further_, d.model_);
}

int PerspectiveCamera::ReadParameter(const char* path) {
  std::FILE* f = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (f == nullptr) {
    Notify(2, "PerspectiveCamera::ReadParameter: open file \"%s\" failed !",
           path != nullptr ? path : "(null)");
    return 0;
  }
  Notify(3, "PerspectiveCamera::ReadParameter: reading file \"%s\"", path);
  char line[256];
  while (std::fgets(line, sizeof(line), f) != nullptr) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (line[0] == ';') continue;
    platform::ConsolePrintf(stderr, "read: \"%s\"\n", line);
  }
  std::fclose(f);
  Notify(2, "MetaCamera::Readparameter: ReadParameter NOT supported anymore");
  return 0;
}

void PerspectiveCamera::SetPixelSize(double sx, double sy) {
  sx_ = sx;
  sy_ = sy;
}

double PerspectiveCamera::GetCenterPointX() const {
  return a_.Dot(h_);
}
double PerspectiveCamera::GetCenterPointY() const {
  return a_.Dot(v_);
}

void PerspectiveCamera::SetCenterPointX(double x) {
  h_ += a_ * (x - GetCenterPointX());
}
void PerspectiveCamera::SetCenterPointY(double y) {
  v_ += a_ * (y - GetCenterPointY());
}

vm::Vector3 PerspectiveCamera::H0() const {
  vm::Vector3 r = h_ - a_ * GetCenterPointX();
  if (!r.Normalize()) {
    Notify(2, "PerspectiveCamera::H0: Length is 0.0, , vector (%g, %g, %g)", r.x, r.y, r.z);
  }
  return r;
}

vm::Vector3 PerspectiveCamera::V0() const {
  vm::Vector3 r = v_ - a_ * GetCenterPointY();
  if (!r.Normalize()) {
    Notify(2, "PerspectiveCamera::V0: Length is 0.0, vector (%g, %g, %g)", r.x, r.y, r.z);
  }
  return r;
}

double PerspectiveCamera::GetFocalLength() const {
  return (h_ - a_ * GetCenterPointX()).Length() * sx_;
}

void PerspectiveCamera::SetFocalLength(double f) {
  if (f <= 0.0 || sx_ <= 0.0 || sy_ <= 0.0) return;
  const double xp = GetCenterPointX();
  const double yp = GetCenterPointY();
  const vm::Vector3 h0 = H0();
  const vm::Vector3 v0 = V0();
  h_ = h0 * (f / sx_) + a_ * xp;
  v_ = v0 * (f / sy_) + a_ * yp;
}

double PerspectiveCamera::GetHorizontalFieldOfView() const {
  const double f = GetFocalLength();
  if (f == 0.0) return kPi;
  return 2.0 * std::atan(double(width_) * sx_ * 0.5 / f);
}

double PerspectiveCamera::GetVerticalFieldOfView() const {
  const double f = GetFocalLength();
  if (f == 0.0) return kPi;
  return 2.0 * std::atan(double(height_) * sy_ * 0.5 / f);
}

void PerspectiveCamera::SetHorizontalFieldOfView(double fov) {
  const double t = std::tan(fov * 0.5);
  if (2.0 * t == 0.0) return;
  SetFocalLength(sx_ / (2.0 * t) * double(width_));
}

double PerspectiveCamera::GetFocalLength35mmEquivalent() const {
  const double f = GetFocalLength();
  const double sensor = sx_ * double(width_);
  if (sensor == 0.0) {
    Notify(2, "MetaCamera::GetFocalLength35mmEquivalent: bad image width %d, or pixel size %g",
           int(width_), sx_);
    return f;
  }
  return f * 36.0 / sensor;
}

void PerspectiveCamera::SetFocalLength35mmEquivalent(double f35) {
  SetFocalLength(f35 * sx_ * double(width_) / 36.0);
}

double FocalLengthFrom35mmEquivalent(const PerspectiveCamera& camera, double f35) {
  return f35 * camera.GetPixelSizeX() * double(camera.GetWidth()) / 36.0;
}

double PerspectiveCamera::GetNormalFocalLength() const {
  const double w = double(width_) * sx_ * 0.5;
  const double h = double(height_) * sy_ * 0.5;
  return std::sqrt(w * w + h * h) / std::tan(0.40835);
}

double PerspectiveCamera::GetSensorWidth() const {
  if (width_ == 0) {
    Notify(2, "MetaCamera::GetSensorWidth: bad image width %d", int(width_));
    return 0.0;
  }
  return sx_ * double(width_);
}

double PerspectiveCamera::GetSensorHeight() const {
  if (height_ == 0) {
    Notify(2, "MetaCamera::GetSensorHeight: bad image height %d", int(height_));
    return 0.0;
  }
  return sy_ * double(height_);
}

double PerspectiveCamera::GetDiagonalSensorSize() const {
  if (width_ == 0 || height_ == 0) {
    Notify(2, "MetaCamera::GetDiagonalSensorSize: bad image size %d x %d", int(width_),
           int(height_));
    return 0.0;
  }
  const double w = sx_ * double(width_);
  const double h = sy_ * double(height_);
  return std::sqrt(h * h + w * w);
}

void PerspectiveCamera::SetDistortion(double k3, double k5, int rd_dim,
                                      RadialDistortionFunction model) {
  k_[0] = k3;
  k_[1] = k5;
  k_[2] = k_[3] = 0.0;
  rd_dim_ = rd_dim;
  model_ = model != nullptr ? model : Poly3;
}

void PerspectiveCamera::SetNormalizedK3(double k) {
  if (width_ == 0 || height_ == 0) {
    Notify(2, "MetaCamera::SetNormalizedK3: zero image size (%d x %d)", int(width_), int(height_));
    return;
  }
  // Integer halves: the corner of an odd-sized image is taken at the lower
  // whole pixel.
  const double hw = double(width_ / 2);
  const double hh = double(height_ / 2);
  k_[0] = k / (hh * hh + hw * hw) / (sx_ * sy_);
  k_[1] = k_[2] = k_[3] = 0.0;
  rd_dim_ = 0;
}

void PerspectiveCamera::ApplyDistortion(double x, double y, double& xo, double& yo, bool centred,
                                        bool inverse) const {
  if (k_[0] == 0.0 && k_[1] == 0.0 && k_[2] == 0.0 && k_[3] == 0.0) {
    xo = x;
    yo = y;
    return;
  }
  double cx = GetCenterPointX();
  double cy = GetCenterPointY();
  if (!centred) {
    cx += HalfExtent(GetWidth());
    cy += HalfExtent(GetHeight());
  }
  const double dx = x - cx;
  const double dy = y - cy;
  double r2;
  if (rd_dim_ == 0) {
    const double mx = sx_ * dx;
    const double my = sy_ * dy;
    r2 = mx * mx + my * my;
  } else {
    r2 = dx * dx + dy * dy;
  }
  const double g = model_(r2, k_, inverse);
  xo = cx + g * dx;
  yo = cy + g * dy;
}

void PerspectiveCamera::Undistort(double x, double y, double& xo, double& yo, bool centred) const {
  ApplyDistortion(x, y, xo, yo, centred, false);
}

void PerspectiveCamera::Distort(double x, double y, double& xo, double& yo, bool centred) const {
  ApplyDistortion(x, y, xo, yo, centred, true);
}

void PerspectiveCamera::GetRadialDistortionParameters(RadialDistortionParameters& out) const {
  out.principal_x = GetCenterPointX() + HalfExtent(width_);
  out.principal_y = GetCenterPointY() + HalfExtent(height_);
  out.pixel_size_x = rd_dim_ != 0 ? 1.0 : sx_;
  out.pixel_size_y = rd_dim_ != 0 ? 1.0 : sy_;
  std::memcpy(out.k, k_, sizeof(out.k));
  out.scale = 1.0;
  out.model = model_;
}

bool PerspectiveCamera::ProjectPoint(const vm::Vector3& p, double& x, double& y, double& depth,
                                     bool check_inside) const {
  const vm::Vector3 d = p - c_;
  depth = a_.Dot(d);
  if (depth >= -1e-30 && depth <= 1e-30) {
    x = y = 0.0;
    return false;
  }
  const double u = h_.Dot(d) / depth;
  const double v = v_.Dot(d) / depth;
  double du, dv;
  Distort(u, v, du, dv, true);
  CenteredToPixel(du, dv, x, y);
  if (check_inside && !IsInsideImage(x, y)) {
    x = y = 0.0;
    return false;
  }
  return true;
}

bool PerspectiveCamera::ProjectPCS(const vm::Vector3& p, double& x, double& y) const {
  double depth;
  const bool ok = ProjectPoint(p, x, y, depth, false);
  if (!ok) Notify(2, "MetaCamera::ProjectPCS(p,x,y): division by zero");
  return ok;
}

bool PerspectiveCamera::IsInsideImage(double x, double y) const {
  return x >= 0.0 && x <= double(width_) - 1.0 && y >= 0.0 && y <= double(height_) - 1.0;
}

void PerspectiveCamera::PixelToCentered(double x, double y, double& xo, double& yo) const {
  xo = x - HalfExtent(GetWidth());
  yo = y - HalfExtent(GetHeight());
}

void PerspectiveCamera::CenteredToPixel(double x, double y, double& xo, double& yo) const {
  xo = x + HalfExtent(GetWidth());
  yo = y + HalfExtent(GetHeight());
}

vm::Vector3 PerspectiveCamera::GetViewingRay(double x, double y) const {
  double cx, cy, u, v;
  PixelToCentered(x, y, cx, cy);
  Undistort(cx, cy, u, v, true);
  // Normals of the two planes through C that contain the ray.
  const vm::Vector3 p = a_ * u - h_;
  const vm::Vector3 q = a_ * v - v_;
  vm::Vector3 dir = p.Cross(q);
  dir.Normalize();
  return dir;
}

vm::Vector3 PerspectiveCamera::WorldToCamera(const vm::Vector3& p) const {
  const vm::Vector3 d = p - c_;
  return {H0().Dot(d), V0().Dot(d), a_.Dot(d)};
}

vm::Vector3 PerspectiveCamera::CameraToWorld(double x, double y, double z) const {
  return c_ + H0() * x + V0() * y + a_ * z;
}

Matrix4x4 PerspectiveCamera::GetCameraToWorldMatrix() const {
  const vm::Vector3 cols[4] = {H0(), V0(), a_, c_};
  Matrix4x4 m;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) m[r][c] = cols[c][r];
  }
  m[3][0] = m[3][1] = m[3][2] = 0.0;
  m[3][3] = 1.0;
  return m;
}

Matrix4x4 PerspectiveCamera::GetWorldToCameraMatrix() const {
  const vm::Vector3 rows[3] = {H0(), V0(), a_};
  Matrix4x4 m;
  for (int r = 0; r < 3; ++r) {
    m[r][0] = rows[r].x;
    m[r][1] = rows[r].y;
    m[r][2] = rows[r].z;
    m[r][3] = -rows[r].Dot(c_);
  }
  m[3][0] = m[3][1] = m[3][2] = 0.0;
  m[3][3] = 1.0;
  return m;
}

void PerspectiveCamera::TransformRows(const double* m) {
  auto rotate = [m](const vm::Vector3& p) {
    return vm::Vector3{m[0] * p.x + m[1] * p.y + m[2] * p.z, m[4] * p.x + m[5] * p.y + m[6] * p.z,
                       m[8] * p.x + m[9] * p.y + m[10] * p.z};
  };
  a_ = rotate(a_);
  h_ = rotate(h_);
  v_ = rotate(v_);
  c_ = rotate(c_) + vm::Vector3{m[3], m[7], m[11]};
}

void PerspectiveCamera::Transform(const Matrix3x4& m) {
  TransformRows(m.m);
}
void PerspectiveCamera::Transform(const Matrix4x4& m) {
  TransformRows(m.m);
}

bool PerspectiveCamera::Describe(const char* path, int version, bool append) const {
  std::FILE* f = path != nullptr ? std::fopen(path, append ? "a" : "w") : nullptr;
  if (f == nullptr) {
    Notify(2, "MetaCamera::Describe: error open file \"%s\"", path != nullptr ? path : "(null)");
    return false;
  }
  const CNumericLocale c_locale;
  const char* type = GetCameraType();
  const char* name = GetName();
  std::fprintf(f, ";CAHV %d.%d\n", version / 10, version % 10);
  std::fprintf(f, ";\n");
  std::fprintf(f, "; Camera-type: %s\n", type != nullptr ? type : "not set");
  std::fprintf(f, "; Camera-name: %s\n", name != nullptr ? name : "not set");
  std::fprintf(f, ";\n");
  std::fprintf(f, ";\n");
  const struct {
    const char* header;
    const vm::Vector3& v;
  } vectors[] = {
      {";\tCx\tCy\tCz\t[mm]\n", c_},
      {";\tAx\tAy\tAz\t[unit vector]\n", a_},
      {";\tHx\tHy\tHz\t[pel]\n", h_},
      {";\tVx\tVy\tVz\t[pel]\n", v_},
  };
  for (const auto& row : vectors) {
    std::fputs(row.header, f);
    std::fprintf(f, "\t%.5f\t%.5f\t%.5f\n", row.v.x, row.v.y, row.v.z);
  }
  std::fprintf(f, ";\tRadialdistortion\n");
  if (version == 10) {
    std::fprintf(f, ";\tK3 [1/(mm)^2]\n");
    std::fprintf(f, "\t%f\n", k_[0]);
  } else {
    std::fprintf(f, ";\tK3 [1/(mm)^2]\tK5 [1/(mm)^4]\n\n");
    std::fprintf(f, "\t%f\t%f\n", k_[0], k_[1]);
  }
  std::fprintf(f, ";\tPixelSize\t[mm/pel]\n");
  std::fprintf(f, ";\tsx\tsy\n");
  std::fprintf(f, "\t%f\t%f\n", sx_, sy_);
  std::fprintf(f, ";\tPictureSize\t[pel]\n");
  std::fprintf(f, ";\tWidth\tHeight\n");
  std::fprintf(f, "\t%d\t%d\n", int(GetWidth()), int(GetHeight()));
  std::fprintf(f, ";\n");
  std::fprintf(f, ";\tIntrinsic parameters:\n");
  std::fprintf(f, ";\n");
  std::fprintf(f, ";\tCenterPoint\t[pel]\n");
  std::fprintf(f, ";\tsx\tsy\n");
  std::fprintf(f, ";\t%f\t%f\n", GetCenterPointX(), GetCenterPointY());
  std::fprintf(f, ";\n");
  std::fprintf(f, ";\tFocalLength\t[mm]\n");
  std::fprintf(f, ";\t%f\n", GetFocalLength());
  std::fprintf(f, ";\n");
  std::fprintf(f, ";\tdistortion function\t(0:Poly3, 1:Poly5, 2:Fisheye)\n");
  std::fprintf(f, "\t%d\n", GetRadDistType(model_));
  const bool write_failed = std::ferror(f) != 0;
  const bool close_failed = std::fclose(f) != 0;
  if (write_failed || close_failed) {
    Notify(2, "MetaCamera::Describe: error writing file \"%s\"", path);
    return false;
  }
  return true;
}
