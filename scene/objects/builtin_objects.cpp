#include "scene/objects/builtin_objects.h"

#include <cmath>
#include <mutex>
#include <shared_mutex>

#include "features/feature_image.h"
#include "foundation/numeric/point_transform.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "scene/display_settings.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/texture_pow2.h"
#include "scene/render/element_render.h"

using vm::Vector3;

namespace {

Vector3 Apply(const Matrix3x4& model, const Vector3& p) {
  Vector3 out;
  return TransformPoint(out, model, p);
}

}  // namespace

// ---- axes

void NHSObject_Cross3D::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const uint32_t id = PickId(*this);
  const Vector3 T = MatrixColumn(model, 3);
  for (int i = 0; i < 3; ++i) {
    const Vector3 E = MatrixColumn(model, i);
    renderer.DrawLine(T + E * start[i], T + E * end[i], line_width, colors[i], id);
    // The head's apex lies a tenth of the line beyond its end, its base at the end.
    const double L = end[i] - start[i];
    const double length = std::fabs(L);
    Matrix3x4 head = model;
    const Vector3 apex = T + E * (end[i] + 0.1 * L);
    for (int r = 0; r < 3; ++r) head[r][3] = apex[r];
    const uint32_t orientation = (i + 1) % 3 + (end[i] > start[i] ? 3 : 0);
    DrawCone(SurfaceColors{colors[i], 0}, id, 0.03 * length, 0.1 * length, 8, orientation, head,
             renderer);
  }
}

// ---- grid

void NHSObject_Grid::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  if (cells_u_ == 0 || cells_v_ == 0) return;
  const uint32_t color = IsSelected(*this) ? kSelectedColor : GetColor();
  const uint32_t id = PickId(*this);
  const uint32_t k = GetOrientation() % 3;
  const Vector3 A = MatrixColumn(model, static_cast<int>(k));
  const Vector3 B = MatrixColumn(model, static_cast<int>((k + 1) % 3));
  const double U = extent_u_, V = extent_v_;
  const float half_u = extent_u_ / 2.0f, half_v = extent_v_ / 2.0f;
  const Vector3 S = MatrixColumn(model, 3) - A * double(half_u) - B * double(half_v);
  for (uint32_t j = 0; j <= cells_v_; ++j) {
    const Vector3 p = S + B * (j * (V / cells_v_));
    renderer.DrawLine(p, p + A * U, line_width_, color, id);
  }
  for (uint32_t i = 0; i <= cells_u_; ++i) {
    const Vector3 p = S + A * (i * (U / cells_u_));
    renderer.DrawLine(p, p + B * V, line_width_, color, id);
  }
}

// ---- orbit centre

void NHSObject_OrbitCenter::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const uint32_t id = PickId(*this);
  const Vector3 T = MatrixColumn(model, 3);
  const double s = size;
  for (int i = 0; i < 3; ++i) {
    const Vector3 E = MatrixColumn(model, i);
    renderer.DrawLine(T - E * (0.5 * s), T - E * (0.1 * s), line_width, color, id);
    renderer.DrawLine(T + E * (0.5 * s), T + E * (0.1 * s), line_width, color, id);
  }
}

// ---- camera track

void NHSObject_CameraTrack::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const uint32_t id = PickId(*this);
  for (size_t i = 1; i < positions_.size(); ++i) {
    renderer.DrawLine(Apply(model, positions_[i - 1]), Apply(model, positions_[i]), line_width_,
                      GetColor(), id);
  }
}

// ---- camera

void NHSObject_Camera::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const uint32_t id = PickId(*this);
  const double w = half_width_, h = half_height_, d = depth_;
  const Vector3 K[4] = {Apply(model, {w, h, d}), Apply(model, {-w, h, d}),
                        Apply(model, {-w, -h, d}), Apply(model, {w, -h, d})};
  const Vector3 T = MatrixColumn(model, 3);
  for (int i = 0; i < 4; ++i) {
    renderer.DrawLine(T, K[i], line_width_, GetColor(), id);
    renderer.DrawLine(K[i], K[(i + 1) % 4], line_width_, GetColor(), id);
  }
  if (texture_) {
    static constexpr double kUV[6] = {1, 1, 0, 1, 0, 0};
    renderer.DrawPolygon(K, 4, kFrameColor, id, false, nullptr, texture_.Get(), kUV);
  }
}

void NHSObject_Camera::SetFromCamera(const FeatureImage& image, const Matrix4x4& scene_matrix,
                                     ImageCache* cache) {
  Matrix4x4 placed;
  placed.Multiply(scene_matrix, image.GetCameraToWorldMatrix());
  SetTransform(placed);
  depth_ = image.GetFocalLength() / 2.0;
  half_width_ = image.GetPixelSizeX() * image.GetWidth() / 4.0;
  half_height_ = image.GetPixelSizeY() * image.GetHeight() / 4.0;
  if (cache == nullptr) return;
  // Without a frame the old texture goes too: it would show another frame's picture.
  texture_ = SharedPtr<NHSTexture>();
  try {
    ImageCacheEntryPtr entry = cache->GetImage(image.GetImageIndex());
    if (entry && entry->error.load() == 0) {
      const ArrayMap<uint32_t>& half = entry->half_bgra;
      texture_ = MakeTexturePow2(half.data, half.stride, half.width, half.height);
    }
  } catch (...) {
    Notify(2, "NHSObject_Camera::SetFromCamera: frame %d not loaded", image.GetImageIndex());
  }
}

// ---- point cloud

uint32_t NHSObject_FeaturePoints::GetPointColor(uint32_t display_flags,
                                                const FeaturePoint3D& point) {
  return GetObjectDisplayColor(display_flags, point);
}

double NHSObject_FeaturePoints::GetPointSize(const FeaturePoint3D& point) {
  double size = DisplaySettings::Get().point_marker_size * 0.5;
  if (point.TestFlags(FP3D_FLAG_PROTECTED) && !point.TestFlags(FP3D_FLAG_REMOVED)) size *= 2.0;
  if (!point.TestFlags(FP3D_FLAG_SEEN)) size *= 0.75;
  return size;
}

void NHSObject_FeaturePoints::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const Vector3& C = GetC();
  const uint32_t display_flags = GetFlags();
  std::shared_lock<ReadWriteSpinLock> reading(*lock_);
  for (const SharedPtr<FeaturePoint3D>& p : *points_) {
    if (!p) continue;
    const uint32_t color = GetPointColor(display_flags, *p);
    if (color == 0) continue;
    // A direction point sits at distance z along its direction from the camera centre.
    const Vector3 position = p->GetCS() == FeaturePoint3D::eCartesian
                                 ? Vector3(*p)
                                 : C + SphericalDirection(p->x, p->y) * p->z;
    renderer.DrawMarker(Apply(model, position), 2, GetPointSize(*p), color + 0x01000000u,
                        static_cast<uint32_t>(p->GetUID()));
  }
}
