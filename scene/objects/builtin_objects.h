// The built-in objects of a scene root: they show the tracking result and the world frame
// and are never stored (the base's empty Serialize and Deserialize).
//
//   NHSObject_Cross3D        the world axes: one line per axis with a cone head at its end
//   NHSObject_Grid           the ground grid
//   NHSObject_OrbitCenter    a cross with its middle left open
//   NHSObject_Camera         the solved camera: frustum lines, its frame on the far side
//   NHSObject_CameraTrack    the camera path as a polyline
//   NHSObject_FeaturePoints  the 3D points of a feature map, shown in place
//
// Every line and polygon carries the object's id as pick id; point markers carry each
// point's own id.
//
// Threads: built and changed on the interface thread; Draw runs on the renderer's threads
// and only reads, except that the point cloud takes the point list's read lock for its walk
// (the tracking thread changes that list as a writer).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/spin_lock.h"
#include "foundation/tracks/bit_mask.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/primitives.h"
#include "scene/render/nhs_texture.h"

class FeatureImage;
class FeaturePoint3D;
class ImageCache;

// A line width in pixels.
class NHSLineWidth {
 public:
  explicit NHSLineWidth(float width = 1.0f) : line_width_(width) {}
  float GetLineWidth() const { return line_width_; }
  void SetLineWidth(float width) { line_width_ = width; }

 protected:
  float line_width_;
};

// Orientation k (mod 3) spans the grid on object axes k and (k + 1) mod 3; extents are in
// object units along those axes, centred on the origin.
class NHSObject_Grid : public NHSObject, public NHSLineWidth, public NHSOrientation {
 public:
  static constexpr uint32_t kSelectedColor = 0xffc2c2c2;

  NHSObject_Grid() : NHSObject(NHS_TYPE_GRID) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // Cells along the first axis (u) and the second (v); a count of 0 draws nothing.
  void SetCells(uint32_t u, uint32_t v) {
    cells_u_ = u;
    cells_v_ = v;
  }
  void SetExtents(float u, float v) {
    extent_u_ = u;
    extent_v_ = v;
  }

 private:
  uint32_t cells_v_ = 1;
  uint32_t cells_u_ = 1;
  float extent_u_ = 1.0f;
  float extent_v_ = 1.0f;
};

class NHSObject_Camera : public NHSObject, public NHSLineWidth {
 public:
  static constexpr uint32_t kFrameColor = 0x00ffffff;

  NHSObject_Camera() : NHSObject(NHS_TYPE_CAMERA) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // Places the object at the solved camera of `image`, moved by `scene_matrix` (transform =
  // scene matrix x camera-to-world), with the far rectangle at half the focal length and
  // half the sensor size, so the frustum shows the camera's field of view. With a cache
  // the frame's half-size picture becomes the texture; when the cache has no frame the old
  // texture is dropped (it shows another frame). Without a cache the texture stays.
  void SetFromCamera(const FeatureImage& image, const Matrix4x4& scene_matrix, ImageCache* cache);

  double GetHalfWidth() const { return half_width_; }
  double GetHalfHeight() const { return half_height_; }
  double GetDepth() const { return depth_; }
  const NHSTexture* GetTexture() const { return texture_.Get(); }

 private:
  double half_width_ = 1.0;
  double half_height_ = 1.0;
  double depth_ = 1.0;
  SharedPtr<NHSTexture> texture_;
};

class NHSObject_CameraTrack : public NHSObject, public NHSLineWidth {
 public:
  NHSObject_CameraTrack() : NHSObject(NHS_TYPE_CAMERA_TRACK) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  std::vector<vm::Vector3>& GetPositions() { return positions_; }
  const std::vector<vm::Vector3>& GetPositions() const { return positions_; }

 private:
  std::vector<vm::Vector3> positions_;
};

// The point list it shows is a feature map's, guarded by that map's lock; it starts with an
// own empty list. The camera (the base) is the one direction points are seen from; the flag
// word (BitMask) is the view's display flag word, which chooses the point colours.
class NHSObject_FeaturePoints : public NHSObject, public PerspectiveCamera, public BitMask {
 public:
  using PointList = std::vector<SharedPtr<FeaturePoint3D>>;

  NHSObject_FeaturePoints() : NHSObject(NHS_TYPE_FEATURE_POINTS) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // The colour of a point under the display flags, 0 when it is not drawn
  // (GetObjectDisplayColor).
  static uint32_t GetPointColor(uint32_t display_flags, const FeaturePoint3D& point);
  // Marker half-size in pixels: half the display settings' point size, doubled for a
  // protected point that is not removed, times 0.75 for a point not seen in the current
  // image.
  static double GetPointSize(const FeaturePoint3D& point);

  // Shows `points` (guarded by `lock`, both outliving their use here); the pair must stay
  // valid until the next SetPoints or UseOwnPoints.
  void SetPoints(const PointList& points, ReadWriteSpinLock& lock) {
    points_ = &points;
    lock_ = &lock;
  }
  void UseOwnPoints() { SetPoints(own_points_, own_lock_); }
  const PointList& GetPoints() const { return *points_; }
  ReadWriteSpinLock& GetLock() const { return *lock_; }

 private:
  PointList own_points_;
  mutable ReadWriteSpinLock own_lock_;
  const PointList* points_ = &own_points_;
  ReadWriteSpinLock* lock_ = &own_lock_;
};

class NHSObject_Cross3D : public NHSObject {
 public:
  NHSObject_Cross3D() : NHSObject(NHS_TYPE_CROSS3D) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // Axis i runs from start[i] to end[i] along object axis i; an end below the start turns
  // its arrow head round.
  double start[3] = {0.0, 0.0, 0.0};
  double end[3] = {1.0, 1.0, 1.0};
  float line_width = 1.0f;
  uint32_t colors[3] = {0xffff0000, 0xff00ff00, 0xff0000ff};
};

class NHSObject_OrbitCenter : public NHSObject {
 public:
  NHSObject_OrbitCenter() : NHSObject(NHS_TYPE_ORBIT_CENTER) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  float size = 1.0f;
  float line_width = 1.0f;
  uint32_t color = 0xffaaaaaa;  // its own, not the node colour
};
