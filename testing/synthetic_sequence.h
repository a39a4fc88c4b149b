// Image sequences with exactly known cameras and the true image position of every
// scene point, made on demand for tests and benchmarks (never stored as files).
//
// Two kinds of shot:
// - a tripod pan: the camera turns about its fixed centre; every frame is one large
//   textured picture warped by the homography K·R_k·K⁻¹ (the picture is what a
//   camera with the same K sees at R = identity, extended beyond the frame);
// - free motion: the camera moves and turns through a scene of textured
//   axis-aligned planes (floor, walls) and boxes, rendered by ray casting.
// Either may add barrel distortion.
//
// Conventions: pixel centres on integers, x to the right, y down; camera frame x
// right, y down, z forward. A world point X projects to K·R·(X − C), then the radial
// distortion x_d = x_u·(1 + k1·r²) with (x_u, y_u) and r in normalised coordinates
// (pixels minus the principal point, over the focal length); k1 < 0 is barrel.
// Frames are 8-bit luminance, rows `width` bytes apart. All results are
// deterministic for given options (no global state; thread-safe for reading).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace synthetic {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<double, 9>;  // row-major

struct Camera {
  Mat3 K{};         // focal length (pixels) and principal point; no skew
  Mat3 R{};         // world to camera rotation
  Vec3 C{};         // centre in the world
  double k1 = 0.0;  // radial distortion; 0: none
};

// Pixel of world point X; false when X is not in front of the camera.
bool Project(const Camera& camera, const Vec3& X, double* x, double* y);
// Unit world direction of the ray through pixel (x, y), distortion removed.
Vec3 PixelRay(const Camera& camera, double x, double y);

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // luminance, rows width apart
};

enum class Shot { kTripodPan, kFreeMotion };

struct SequenceOptions {
  Shot shot = Shot::kFreeMotion;
  int width = 1280, height = 720;
  int frames = 40;
  double focal = 1000.0;    // pixels
  double distortion = 0.0;  // k1; e.g. -0.08 for a visible barrel
  double speed = 1.0;       // scales the motion between frames
  uint32_t seed = 1;        // texture and scene layout
};

class Sequence {
 public:
  explicit Sequence(const SequenceOptions& options);
  ~Sequence();
  Sequence(const Sequence&) = delete;
  Sequence& operator=(const Sequence&) = delete;

  const SequenceOptions& Options() const { return options_; }
  int Frames() const { return options_.frames; }
  int Width() const { return options_.width; }
  int Height() const { return options_.height; }
  const Camera& GetCamera(int frame) const { return cameras_[frame]; }

  // Frame k, rendered now (a 1280×720 free-motion frame takes some 0.1 s).
  Image Render(int frame) const;

  // The scene point seen at pixel (x, y) of a frame: false where the ray meets
  // nothing. Pan: the point lies 10 units along the ray (any depth gives the same
  // image positions for a camera that only turns).
  bool Backproject(int frame, double x, double y, Vec3* X) const;

  // The true pixel of X in a frame: false when X is behind the camera, outside the
  // image or hidden by another surface.
  bool Truth(int frame, const Vec3& X, double* x, double* y) const;

  // `count` scene points seen in frame 0, spread evenly over the image at random.
  std::vector<Vec3> ScenePoints(int count, uint32_t seed) const;

  struct Scene;  // the rendered world (picture or planes and boxes)

 private:
  SequenceOptions options_;
  std::vector<Camera> cameras_;
  std::unique_ptr<Scene> scene_;
};

}  // namespace synthetic
