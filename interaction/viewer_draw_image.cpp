// The image view: the frame, its border, the 3D overlay through the frame's camera, the
// tracking overlays, the vertex objects, the label, the selection feedback and the overlay
// options (tool indicator, corner boxes) shared with the scene view.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"
#include "scene/scene.h"

namespace uic {

namespace {

// The painter's mapping replaced by view pixels (only the target origin kept) while alive.
// The viewer's mapping puts offset = s·0.5 + view offset − origin.
class ViewPixelMapping {
 public:
  ViewPixelMapping(PainterTarget& t, int view_offset_x, int view_offset_y)
      : t_(t), sx_(t.scale_x), sy_(t.scale_y), ox_(t.offset_x), oy_(t.offset_y) {
    t.scale_x = t.scale_y = 1.0;
    t.offset_x = ox_ - sx_ * 0.5 - view_offset_x;
    t.offset_y = oy_ - sy_ * 0.5 - view_offset_y;
  }
  ~ViewPixelMapping() {
    t_.scale_x = sx_;
    t_.scale_y = sy_;
    t_.offset_x = ox_;
    t_.offset_y = oy_;
  }
  ViewPixelMapping(const ViewPixelMapping&) = delete;
  ViewPixelMapping& operator=(const ViewPixelMapping&) = delete;

 private:
  PainterTarget& t_;
  double sx_, sy_, ox_, oy_;
};

}  // namespace

bool ViewerBase::IsPendingFrame() const {
  return !m_image || m_image->TestFlags(FIMAGE_FLAG_NOT_PROCESSED);
}

void ViewerBase::DrawImageView() {
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t background = ds.SlotColor(DS_SLOT_IMAGE_BACKGROUND);
  const bool pending = IsPendingFrame();
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawImageView: tracking manager not set!");
    return;
  }
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::DrawImageView: scene not set");
    return;
  }
  const ViewerState* state = CurrentState();
  if (state == nullptr) return;
  const int flags = state->m_flags;
  // A running tracking step may be changing any frame's camera, features, links and points:
  // what depends on them waits for a redraw after the step rather than block the interface.
  // The frame is then shown as stored, with its vertex objects where they were clicked.
  std::shared_lock<std::shared_mutex> reading(tracker->GetResultLock(), std::try_to_lock);
  m_results_readable = reading.owns_lock();

  // The point list is read under the map's lock inside SetFPoints3D.
  if (m_results_readable && !pending && m_image_changed && state->m_mode == 0 &&
      (flags & eShowPointCloudMask) != 0) {
    if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) {
      scene->SetFPoints3D(map);
      m_image_changed = false;
    }
  }

  if (m_image && (flags & eShowFrame) != 0) {
    const PerspectiveCamera& camera = *m_image;
    static const double kNone[4] = {0.0, 0.0, 0.0, 0.0};
    const double* k = m_results_readable ? camera.GetDistortionCoefficients() : kNone;
    const bool undistorted =
        m_results_readable && (k[0] != 0.0 || k[1] != 0.0) && (flags & eShowUndistorted) != 0;
    if (undistorted) {
      const double w = camera.GetWidth(), h = camera.GetHeight();
      const bool pixels = camera.GetRdDim() != 0;
      m_painter.SetRadialDistortion(
          camera.GetA().Dot(camera.GetH()) + (w - 1.0) / 2.0,
          camera.GetA().Dot(camera.GetV()) + (h - 1.0) / 2.0, pixels ? 1.0 : camera.GetPixelSizeX(),
          pixels ? 1.0 : camera.GetPixelSizeY(), k, camera.GetDistortionModel());
    }
    m_painter.SetDistortionOn(undistorted);
    m_painter.DrawCachedImage(tracker->GetImageCache(), m_image->GetImageIndex(), background);
    m_painter.SetDistortionOn(false);
  } else {
    m_painter.Clear(background);
  }

  if (m_image && m_results_readable) {
    const uint32_t border = ds.SlotColor(DS_SLOT_IMAGE_FRAME);
    const double w = m_image->GetWidth(), h = m_image->GetHeight();
    m_painter.DrawLine(-0.5, -100000.0, -0.5, 100000.0, 0.75, border);
    m_painter.DrawLine(w - 0.5, -100000.0, w - 0.5, 100000.0, 0.75, border);
    m_painter.DrawLine(-100000.0, -0.5, 100000.0, -0.5, 0.75, border);
    m_painter.DrawLine(-100000.0, h - 0.5, 100000.0, h - 0.5, 0.75, border);
  }

  if (!pending && m_results_readable) {
    if ((flags & eShowSceneOverFrame) != 0) {
      scene->UpdateObjectFlags(0, static_cast<uint32_t>(flags));
      Matrix3x4 p;
      GetProjectionMatrixFromCamera(*m_image, p);
      Matrix4x4 m;
      for (int c = 0; c < 4; ++c) {
        m[0][c] = p[0][c] * m_zoom * m_aspect_scale;
        m[1][c] = p[1][c] * m_zoom;
        m[2][c] = p[2][c];
        m[3][c] = p[2][c];
      }
      const double w = m_image->GetWidth(), h = m_image->GetHeight();
      m_centre_x = m_offset_x + static_cast<int>(std::trunc(w * m_aspect_scale * m_zoom / 2 + 0.5));
      m_centre_y = m_offset_y + static_cast<int>(std::trunc(h * m_zoom / 2 + 0.5));
      m_render_context.SetPrincipalPoint(m_centre_x, m_centre_y);
      m_render_context.SetViewMatrix(m);
      m_render_context.RenderScene(scene);
      m_view_changed = false;
    }
    if ((flags & (eShowAutoFeatures | eShowUserFeatures)) != 0) DrawFPoints();
    if ((flags & eShowAnchors) != 0) DrawAnchors();
    if ((flags & eShow3DLines) != 0) DrawPoints3D(false, true);
  }

  if (m_image) {
    if ((flags & eShowMasks) != 0) {
      DrawPolygonMasks();
      if (m_overlay_options.m_widget_text) DrawPolygonNameStrings();
    }
    if ((flags & eShowFocalGizmos) != 0) DrawFocalGizmos();
    if ((flags & eShowLines) != 0) DrawReferenceLines();
    DrawFrameLabel(false);
  }
  m_results_readable = true;
  DrawSelectionFeedback();
  if (m_overlay_options.m_tool_indicator) DrawToolIndicator();
  if (m_overlay_options.m_corner_boxes) DrawCornerBoxes();
}

void ViewerBase::DrawFrameLabel(bool scene_view) {
  if (!m_image) return;
  char text[32];
  std::snprintf(text, sizeof text, "Image: %04ld", long(m_image->GetImageIndex()));
  if (m_overlay_options.m_widget_text) {
    DrawText(10.0, 20.0, 200, 200, 200, text);
    return;
  }
  const DisplaySettings& ds = DisplaySettings::Get();
  const double sx = m_zoom * m_aspect_scale;
  if (scene_view) {
    m_painter.DrawText((10.25 - m_offset_x) / sx, (10.25 - m_offset_y) / m_zoom, text,
                       int(std::strlen(text)), ds.SlotColor(DS_SLOT_SCENE_LABEL));
  } else {
    m_painter.DrawText((10 - m_offset_x + 0.5) / sx - 0.5, (10 - m_offset_y + 0.5) / m_zoom - 0.5,
                       text, int(std::strlen(text)), ds.SlotColor(DS_SLOT_IMAGE_LABEL));
  }
}

void ViewerBase::DrawSelectionFeedback() {
  const double* r = m_select_rect;
  if ((m_interaction & kInteractionRectangle) != 0) {
    const double x0 = std::min(r[0], r[2]), x1 = std::max(r[0], r[2]);
    const double y0 = std::min(r[1], r[3]), y1 = std::max(r[1], r[3]);
    if (x1 != x0 && y1 != y0) m_painter.FillRect(x0, y0, x1 - x0, y1 - y0, 0x20303030u);
    DrawRectOutline(r[0], r[1], r[2], r[3], 1.0, 0xFFFFFFFFu, 3, 0x5555);
    DrawRectOutline(r[0], r[1], r[2], r[3], 1.0, 0xFF000000u, 3, 0xAAAA);
  }
  if ((m_interaction & kInteractionCircle) != 0) {
    m_painter.DrawCircle(r[2], r[3], m_rubber_band.m_radius, 1.0, 0xFFFFFFFFu);
  }
}

void ViewerBase::DrawToolIndicator() {
  ViewPixelMapping view(m_painter.Target(), m_offset_x, m_offset_y);
  const double x = GetWidth() - 25, y = 25;
  uint32_t ring = 0xFF555555u;
  switch (m_tool) {
    case 1:
      ring = 0xAAFF0055u;
      break;
    case 2:
      ring = 0xAA0055FFu;
      break;
    case 3:
    case 4:
      ring = 0xAA00FF55u;
      break;
    default:
      break;
  }
  m_painter.FillCircle(x, y, 10.0, 0xFF555555u);
  m_painter.DrawCircle(x, y, 10.0, 4.0, ring);
  if (m_overlay_options.m_widget_text && m_tool >= 1 && m_tool <= 4) {
    static const char* const kLetters[] = {"T", "S", "R", "R"};
    DrawText(GetWidth() - 29, 29, kLetters[m_tool - 1]);
  }
}

void ViewerBase::DrawCornerBoxes() {
  ViewPixelMapping view(m_painter.Target(), m_offset_x, m_offset_y);
  const uint32_t c = m_overlay_options.GetBackgroundColor();
  m_painter.FillRect(0, 0, 108, 30, c);
  m_painter.FillRect(0, 0, 100, 38, c);
  m_painter.FillCircle(100, 30, 8.0, c);
  const ViewerState* state = CurrentState();
  if (state != nullptr && state->m_mode == 1) {
    const double h = GetHeight();
    m_painter.FillRect(0, h - 30, 68, 30, c);
    m_painter.FillRect(0, h - 38, 60, 22, c);
    m_painter.FillCircle(60, h - 30, 8.0, c);
  }
}

void ViewerBase::DrawPolygonNameStrings() {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawPolygonNameStrings: tracking manager not set!");
    return;
  }
  if (!m_image) return;
  std::vector<vm::Vector3> positions;
  for (const PolygonMask& mask : tracker->GetVertexObjectPool().GetPolygonMasks()) {
    if (mask.GetVertexPositions(positions, unsigned(m_image->GetImageIndex())) == 0) continue;
    double mx = 0.0, my = 0.0;
    for (const vm::Vector3& p : positions) {
      mx += p.x;
      my += p.y;
    }
    mx /= double(positions.size());
    my /= double(positions.size());
    const double x = std::trunc(m_zoom * m_aspect_scale * (mx + 0.5) - 0.5 + m_offset_x);
    const double y = std::trunc((my + 0.5) * m_zoom - 0.5 + m_offset_y);
    DrawText(x, y, 200, 200, 200, mask.GetName());
  }
}

}  // namespace uic
