#include "interaction/viewer.h"

#include <algorithm>
#include <cstdlib>

#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "scene/display_settings.h"
#include "scene/scene.h"

namespace uic {

Viewer::Viewer() {
  Resize(640, 480);
  PainterTarget& t = m_painter.Target();
  t.scale_x = t.scale_y = 1.0;
  t.offset_x = t.offset_y = 0.5;  // the target's origin is 0 after Resize
}

Viewer::~Viewer() = default;

void Viewer::Resize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int old_width = GetWidth(), old_height = GetHeight();
  const int dx = std::abs(width - old_width) / 2, dy = std::abs(height - old_height) / 2;
  m_offset_x += width > old_width ? dx : -dx;
  m_offset_y += height > old_height ? dy : -dy;
  m_buffer.Resize(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  m_painter.SetTarget(m_buffer.Plane(0));
}

void Viewer::Update(int x, int y, int w, int h) {
  const ViewerState* state = CurrentState();
  if (state == nullptr) return;
  DisplaySettings& ds = DisplaySettings::Get();
  m_painter_factor = PainterFactorForLevel(ds.painter_factor_level);

  const double sx = m_aspect_scale * m_zoom;
  if (state->m_mode == 0 && (m_interaction & kInteractionLockView) != 0 && m_image) {
    double ax = 0.0, ay = 0.0;
    if (m_lock_view_anchor.GetImagePosition(ax, ay, *m_image)) {
      m_offset_x = CentredOffset(GetWidth(), ax, sx);
      m_offset_y = CentredOffset(GetHeight(), ay, m_zoom);
    }
  }

  const ArrayMap<uint32_t>& buffer = m_buffer.Plane(0);
  m_painter.SetTarget(x, y, w, h, buffer);
  // The painter keeps its rectangle's origin in the offsets: whole-buffer coordinates.
  const int origin_x = std::clamp(x, 0, GetWidth()), origin_y = std::clamp(y, 0, GetHeight());
  PainterTarget& t = m_painter.Target();
  t.scale_x = sx;
  t.scale_y = m_zoom;
  t.offset_x = sx * 0.5 + m_offset_x - origin_x;
  t.offset_y = m_zoom * 0.5 + m_offset_y - origin_y;

  m_render_context.SetTarget(buffer.data, static_cast<int>(buffer.stride), GetWidth(), GetHeight(),
                             x, y, w, h);
  if (state->m_mode == 1) m_render_context.SetPrincipalPoint(GetWidth() / 2, GetHeight() / 2);

  if (ds.colors_changed) {
    if (Scene* scene = m_controller->GetScene()) {
      scene->ApplyBuiltinColors();
      ds.colors_changed = false;
    } else {
      Notify(2, "Viewer::Update: scene not set");
    }
  }

  switch (state->m_mode) {
    case 0:
      DrawImageView();
      break;
    case 1:
      DrawSceneView();
      break;
    default:
      Notify(2, "Viewer::Update: bad viewing mode %d", state->m_mode);
  }
}

void Viewer::Redraw() {
  if (!IsDrawable()) return;
  Update(0, 0, GetWidth(), GetHeight());
}

void Viewer::RedrawRect(const RubberBand& band, int margin) {
  if (!IsDrawable()) return;
  const int m = band.m_radius + margin;
  const int x = std::max(0, band.m_min_x - m), y = std::max(0, band.m_min_y - m);
  Update(x, y, std::max(0, band.m_max_x + m) - x, std::max(0, band.m_max_y + m) - y);
}

}  // namespace uic
