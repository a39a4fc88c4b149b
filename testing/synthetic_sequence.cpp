#include "testing/synthetic_sequence.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace synthetic {

namespace {

Vec3 Mul(const Mat3& m, const Vec3& v) {
  return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
          m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

Vec3 MulT(const Mat3& m, const Vec3& v) {
  return {m[0] * v[0] + m[3] * v[1] + m[6] * v[2], m[1] * v[0] + m[4] * v[1] + m[7] * v[2],
          m[2] * v[0] + m[5] * v[1] + m[8] * v[2]};
}

Mat3 MatMul(const Mat3& a, const Mat3& b) {
  Mat3 c{};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) c[r * 3 + j] += a[r * 3 + k] * b[k * 3 + j];
  return c;
}

// Camera turned by yaw (about y), then pitch (about x), then roll (about z).
Mat3 Rotation(double yaw, double pitch, double roll) {
  const double cy = std::cos(yaw), sy = std::sin(yaw);
  const double cp = std::cos(pitch), sp = std::sin(pitch);
  const double cr = std::cos(roll), sr = std::sin(roll);
  const Mat3 ry{cy, 0, -sy, 0, 1, 0, sy, 0, cy};
  const Mat3 rx{1, 0, 0, 0, cp, sp, 0, -sp, cp};
  const Mat3 rz{cr, sr, 0, -sr, cr, 0, 0, 0, 1};
  return MatMul(rz, MatMul(rx, ry));
}

// Index of texel (x, y) of a w × h texture: tiled when wrap, else clamped to the edge.
size_t TexelIndex(long x, long y, long w, long h, bool wrap) {
  if (wrap) {
    x = ((x % w) + w) % w;
    y = ((y % h) + h) % h;
  } else {
    x = std::clamp<long>(x, 0, w - 1);
    y = std::clamp<long>(y, 0, h - 1);
  }
  return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
}

// A texture of overlapping grey rectangles and discs (many corners at many sizes),
// softened by a small blur so that resampling does not alias. wrap: tileable.
std::vector<float> PaintTexture(int w, int h, bool wrap, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<float> t(static_cast<size_t>(w) * h);
  for (float& v : t) v = static_cast<float>(60.0 + 120.0 * unit(rng));
  const long shapes = static_cast<long>(w) * h / 500;
  auto put = [&](long x, long y, float v) {
    if (wrap) {
      x = ((x % w) + w) % w;
      y = ((y % h) + h) % h;
    } else if (x < 0 || y < 0 || x >= w || y >= h) {
      return;
    }
    t[static_cast<size_t>(y) * w + x] = v;
  };
  for (long s = 0; s < shapes; ++s) {
    // Sizes from 3 to 60 texels, small ones more often.
    const double size = 3.0 * std::pow(20.0, unit(rng));
    const long x0 = static_cast<long>(unit(rng) * w), y0 = static_cast<long>(unit(rng) * h);
    const float v = static_cast<float>(15.0 + 225.0 * unit(rng));
    if (unit(rng) < 0.6) {
      const long sw = static_cast<long>(size * (0.4 + unit(rng))) + 1;
      const long sh = static_cast<long>(size * (0.4 + unit(rng))) + 1;
      for (long y = y0; y < y0 + sh; ++y)
        for (long x = x0; x < x0 + sw; ++x) put(x, y, v);
    } else {
      const double r = 0.5 * size + 1.0;
      const long n = static_cast<long>(r) + 1;
      for (long y = -n; y <= n; ++y)
        for (long x = -n; x <= n; ++x)
          if (x * x + y * y <= r * r) put(x0 + x, y0 + y, v);
    }
  }
  // Fine grain, then a 3 × 3 binomial blur.
  std::normal_distribution<double> grain(0.0, 4.0);
  for (float& v : t) v += static_cast<float>(grain(rng));
  std::vector<float> tmp(t.size());
  auto at = [&](const std::vector<float>& img, long x, long y) {
    return img[TexelIndex(x, y, w, h, wrap)];
  };
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      tmp[static_cast<size_t>(y) * w + x] =
          0.25f * at(t, x - 1, y) + 0.5f * at(t, x, y) + 0.25f * at(t, x + 1, y);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      t[static_cast<size_t>(y) * w + x] =
          0.25f * at(tmp, x, y - 1) + 0.5f * at(tmp, x, y) + 0.25f * at(tmp, x, y + 1);
  return t;
}

float Bilinear(const std::vector<float>& t, int w, int h, double x, double y, bool wrap) {
  const double fx = std::floor(x), fy = std::floor(y);
  const double ax = x - fx, ay = y - fy;
  long x0 = static_cast<long>(fx), y0 = static_cast<long>(fy);
  auto at = [&](long px, long py) {
    return static_cast<double>(t[TexelIndex(px, py, w, h, wrap)]);
  };
  return static_cast<float>((1 - ay) * ((1 - ax) * at(x0, y0) + ax * at(x0 + 1, y0)) +
                            ay * ((1 - ax) * at(x0, y0 + 1) + ax * at(x0 + 1, y0 + 1)));
}

// An axis-aligned surface: the plane coordinate[axis] = value, limited to a box
// (planes of the room span the room). Texture coordinates are the two other world
// coordinates times texels_per_unit, shifted by an offset; shade darkens a face.
struct Face {
  int axis;
  double value;
  Vec3 lo, hi;
  double offset_u, offset_v, shade;
};

constexpr double kTexelsPerUnit = 24.0;
constexpr int kTextureSize = 1024;
constexpr double kPanDepth = 10.0;

}  // namespace

struct Sequence::Scene {
  // Pan: the picture and its camera matrix (K with the principal point moved).
  std::vector<float> picture;
  int picture_w = 0, picture_h = 0;
  double picture_cx = 0.0, picture_cy = 0.0;
  // Free motion: the texture and its 2:1 reductions, for surfaces seen from afar.
  std::vector<std::vector<float>> texture;
  double focal = 1.0;
  std::vector<Face> faces;

  // Nearest hit along the ray origin + t·dir, t > 1e-9; face index or -1.
  int Hit(const Vec3& origin, const Vec3& dir, double* t_hit) const {
    int best = -1;
    double best_t = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < faces.size(); ++i) {
      const Face& f = faces[i];
      const double d = dir[f.axis];
      if (d == 0.0) continue;
      const double t = (f.value - origin[f.axis]) / d;
      if (!(t > 1e-9) || t >= best_t) continue;
      bool inside = true;
      for (int a = 0; a < 3 && inside; ++a) {
        if (a == f.axis) continue;
        const double p = origin[a] + t * dir[a];
        inside = p >= f.lo[a] && p <= f.hi[a];
      }
      if (!inside) continue;
      best = static_cast<int>(i);
      best_t = t;
    }
    *t_hit = best_t;
    return best;
  }

  // Texture value at p on a face seen along dir from distance t: texels per pixel there choose
  // the blend of two reductions (no aliasing of far surfaces).
  float Shade(int face, const Vec3& p, const Vec3& dir, double t) const {
    const Face& f = faces[face];
    const int ua = f.axis == 0 ? 2 : 0, va = f.axis == 1 ? 2 : 1;
    const double u = p[ua] * kTexelsPerUnit + f.offset_u;
    const double v = p[va] * kTexelsPerUnit + f.offset_v;
    // Seen at a grazing angle a pixel covers more texels along the slope.
    const double slant = std::max(std::fabs(dir[f.axis]), 0.05);
    const double footprint = std::max(1.0, t * kTexelsPerUnit / (focal * slant));
    const double level = std::min(std::log2(footprint), static_cast<double>(texture.size() - 1));
    const int l0 = static_cast<int>(level);
    const int l1 = std::min(l0 + 1, static_cast<int>(texture.size()) - 1);
    const double a = level - l0;
    auto sample = [&](int l) {
      const int size = kTextureSize >> l;
      const double scale = 1.0 / (1 << l);
      // Texel centres of level l sit between those of level l - 1.
      return static_cast<double>(Bilinear(texture[l], size, size, u * scale + 0.5 * scale - 0.5,
                                          v * scale + 0.5 * scale - 0.5, true));
    };
    const double value = a > 0.0 ? (1.0 - a) * sample(l0) + a * sample(l1) : sample(l0);
    return static_cast<float>(f.shade * value);
  }
};

bool Project(const Camera& camera, const Vec3& X, double* x, double* y) {
  const Vec3 d{X[0] - camera.C[0], X[1] - camera.C[1], X[2] - camera.C[2]};
  const Vec3 c = Mul(camera.R, d);
  if (!(c[2] > 1e-9)) return false;
  double u = c[0] / c[2], v = c[1] / c[2];
  const double s = 1.0 + camera.k1 * (u * u + v * v);
  u *= s;
  v *= s;
  *x = camera.K[0] * u + camera.K[2];
  *y = camera.K[4] * v + camera.K[5];
  return true;
}

Vec3 PixelRay(const Camera& camera, double x, double y) {
  const double ud = (x - camera.K[2]) / camera.K[0];
  const double vd = (y - camera.K[5]) / camera.K[4];
  double u = ud, v = vd;
  if (camera.k1 != 0.0) {
    // x_d = x_u (1 + k1 r_u²): fixed-point iteration on r_u.
    for (int i = 0; i < 30; ++i) {
      const double s = 1.0 + camera.k1 * (u * u + v * v);
      u = ud / s;
      v = vd / s;
    }
  }
  const Vec3 d = MulT(camera.R, Vec3{u, v, 1.0});
  const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  return {d[0] / n, d[1] / n, d[2] / n};
}

Sequence::Sequence(const SequenceOptions& options)
    : options_(options), scene_(std::make_unique<Scene>()) {
  std::mt19937 rng(options.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int n = std::max(1, options.frames);
  options_.frames = n;
  Mat3 K{options.focal,
         0,
         (options.width - 1) / 2.0,
         0,
         options.focal,
         (options.height - 1) / 2.0,
         0,
         0,
         1};
  // Hand-held unsteadiness: a few slow sines of random phase per axis.
  double phase[9];
  for (double& p : phase) p = 2.0 * M_PI * unit(rng);
  auto wobble = [&](int axis, double k) {
    return std::sin(0.31 * k + phase[3 * axis]) + 0.6 * std::sin(0.73 * k + phase[3 * axis + 1]) +
           0.3 * std::sin(1.9 * k + phase[3 * axis + 2]);
  };
  const double s = options.speed;
  if (options.shot == Shot::kTripodPan) {
    // Yaw speed rises from 6 to 22 px per frame at the centre (31 at the sides) and
    // falls again.
    std::vector<double> yaw(n, 0.0);
    for (int k = 1; k < n; ++k) {
      const double rise = std::sin(M_PI * k / n);
      yaw[k] = yaw[k - 1] + s * (0.006 + 0.016 * rise * rise) * 1000.0 / options.focal;
    }
    const double mid = yaw[n - 1] / 2.0;
    for (int k = 0; k < n; ++k) {
      Camera c;
      c.K = K;
      c.R = Rotation(yaw[k] - mid, s * 0.004 * wobble(1, k), s * 0.002 * wobble(2, k));
      c.C = {0, 0, 0};
      c.k1 = options.distortion;
      cameras_.push_back(c);
    }
    // The picture: the plane z = 1 of the world seen by a camera with this focal
    // length, large enough for every frame's corners.
    double lo_x = 0, hi_x = 0, lo_y = 0, hi_y = 0;
    for (const Camera& c : cameras_)
      for (int corner = 0; corner < 4; ++corner) {
        const double x = (corner & 1) ? options.width + 2.0 : -3.0;
        const double y = (corner & 2) ? options.height + 2.0 : -3.0;
        const Vec3 d = PixelRay(c, x, y);
        lo_x = std::min(lo_x, d[0] / d[2]);
        hi_x = std::max(hi_x, d[0] / d[2]);
        lo_y = std::min(lo_y, d[1] / d[2]);
        hi_y = std::max(hi_y, d[1] / d[2]);
      }
    // Sides of the frame seen straight on span the same height; edges curve outwards.
    Scene& sc = *scene_;
    sc.picture_cx = -lo_x * options.focal + 4.0;
    sc.picture_cy = -lo_y * options.focal + 4.0;
    sc.picture_w = static_cast<int>((hi_x - lo_x) * options.focal) + 9;
    sc.picture_h = static_cast<int>((hi_y - lo_y) * options.focal) + 9;
    sc.picture = PaintTexture(sc.picture_w, sc.picture_h, false, rng);
  } else {
    for (int k = 0; k < n; ++k) {
      const double t = s * k;
      Camera c;
      c.K = K;
      c.C = {1.2 * std::sin(0.045 * t + phase[0]) - 1.2 * std::sin(phase[0]),
             -0.2 + 0.08 * wobble(0, 0.5 * t), 0.12 * t};
      c.R = Rotation(0.12 * std::sin(0.05 * t) + 0.006 * wobble(1, t),
                     0.03 * std::sin(0.07 * t) + 0.004 * wobble(0, t), 0.003 * wobble(2, t));
      c.k1 = options.distortion;
      cameras_.push_back(c);
    }
    Scene& sc = *scene_;
    sc.focal = options.focal;
    sc.texture.push_back(PaintTexture(kTextureSize, kTextureSize, true, rng));
    for (int size = kTextureSize / 2; size >= 16; size /= 2) {
      const std::vector<float>& fine = sc.texture.back();
      std::vector<float> coarse(static_cast<size_t>(size) * size);
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const size_t i = static_cast<size_t>(2 * y) * (2 * size) + 2 * x;
          coarse[static_cast<size_t>(y) * size + x] =
              0.25f * (fine[i] + fine[i + 1] + fine[i + 2 * size] + fine[i + 2 * size + 1]);
        }
      sc.texture.push_back(std::move(coarse));
    }
    auto offset = [&] { return unit(rng) * kTextureSize; };
    const double inf = 1e9;
    // The room: floor, ceiling, side walls and back wall.
    sc.faces.push_back({1, 1.6, {-inf, 0, -inf}, {inf, 0, inf}, offset(), offset(), 0.9});
    sc.faces.push_back({1, -3.5, {-inf, 0, -inf}, {inf, 0, inf}, offset(), offset(), 0.7});
    sc.faces.push_back({0, -6.0, {0, -inf, -inf}, {0, inf, inf}, offset(), offset(), 0.8});
    sc.faces.push_back({0, 6.0, {0, -inf, -inf}, {0, inf, inf}, offset(), offset(), 0.85});
    sc.faces.push_back({2, 45.0, {-inf, -inf, 0}, {inf, inf, 0}, offset(), offset(), 1.0});
    // Boxes standing on the floor in front of the camera's path.
    for (int b = 0; b < 9; ++b) {
      const double w = 0.8 + 1.6 * unit(rng), d = 0.8 + 1.6 * unit(rng), h = 0.8 + 2.2 * unit(rng);
      const double x = -4.5 + 9.0 * unit(rng), z = 9.0 + 26.0 * unit(rng);
      const Vec3 lo{x - w / 2, 1.6 - h, z - d / 2}, hi{x + w / 2, 1.6, z + d / 2};
      const double shades[3] = {0.75, 1.0, 0.6};
      for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side)
          sc.faces.push_back(
              {axis, side ? hi[axis] : lo[axis], lo, hi, offset(), offset(), shades[axis]});
    }
  }
}

Sequence::~Sequence() = default;

Image Sequence::Render(int frame) const {
  Image image;
  image.width = options_.width;
  image.height = options_.height;
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  const Camera& c = cameras_[frame];
  const Scene& sc = *scene_;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      double v = 0.0;
      if (options_.shot == Shot::kTripodPan) {
        // The pixel's area, 3 × 3 samples: toward the frame's sides the picture is seen
        // shrunk, and point samples would alias differently from frame to frame.
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) {
            const Vec3 d = PixelRay(c, x + i / 3.0, y + j / 3.0);
            const double px = options_.focal * d[0] / d[2] + sc.picture_cx;
            const double py = options_.focal * d[1] / d[2] + sc.picture_cy;
            v += Bilinear(sc.picture, sc.picture_w, sc.picture_h, px, py, false) / 9.0;
          }
      } else {
        const Vec3 d = PixelRay(c, x, y);
        double t = 0.0;
        const int face = sc.Hit(c.C, d, &t);
        if (face >= 0)
          v = sc.Shade(face, Vec3{c.C[0] + t * d[0], c.C[1] + t * d[1], c.C[2] + t * d[2]}, d, t);
      }
      image.pixels[static_cast<size_t>(y) * image.width + x] =
          static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
  return image;
}

bool Sequence::Backproject(int frame, double x, double y, Vec3* X) const {
  const Camera& c = cameras_[frame];
  const Vec3 d = PixelRay(c, x, y);
  double t = kPanDepth;
  if (options_.shot == Shot::kFreeMotion && scene_->Hit(c.C, d, &t) < 0) return false;
  *X = {c.C[0] + t * d[0], c.C[1] + t * d[1], c.C[2] + t * d[2]};
  return true;
}

bool Sequence::Truth(int frame, const Vec3& X, double* x, double* y) const {
  const Camera& c = cameras_[frame];
  if (!Project(c, X, x, y)) return false;
  if (!(*x >= 0.0 && *y >= 0.0 && *x <= options_.width - 1.0 && *y <= options_.height - 1.0))
    return false;
  if (options_.shot == Shot::kTripodPan) return true;
  const Vec3 d{X[0] - c.C[0], X[1] - c.C[1], X[2] - c.C[2]};
  const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  const Vec3 dir{d[0] / distance, d[1] / distance, d[2] / distance};
  double t = 0.0;
  scene_->Hit(c.C, dir, &t);
  return t >= distance * (1.0 - 1e-7) - 1e-7;
}

std::vector<Vec3> Sequence::ScenePoints(int count, uint32_t seed) const {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ux(0.0, options_.width - 1.0);
  std::uniform_real_distribution<double> uy(0.0, options_.height - 1.0);
  std::vector<Vec3> points;
  for (int tries = 0; static_cast<int>(points.size()) < count && tries < 20 * count; ++tries) {
    Vec3 X;
    if (Backproject(0, ux(rng), uy(rng), &X)) points.push_back(X);
  }
  return points;
}

}  // namespace synthetic
