// The tracker's vertex objects over the current frame: polygon masks, reference lines and
// focal gizmos, with their vertex markers, and the mask or line being drawn.
#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"

namespace uic {

namespace {

constexpr uint32_t kHalfAlpha = 0x80FFFFFFu;

bool VertexSelected(const Vertex& v) {
  return (v.GetUIDFlags() & UID_FLAG_SELECTED) != 0;
}

}  // namespace

void ViewerBase::UndistortPoint(bool undistort, double& x, double& y) const {
  if (!undistort || !m_image || !m_results_readable) return;
  double ux = x, uy = y;
  m_image->Undistort(x, y, ux, uy, false);
  x = ux;
  y = uy;
}

void ViewerBase::PointerImagePosition(double& x, double& y) const {
  x = (m_mouse_x - m_offset_x + 0.5) / (m_zoom * m_aspect_scale) - 0.5;
  y = (m_mouse_y - m_offset_y + 0.5) / m_zoom - 0.5;
}

void ViewerBase::DrawVertexMarkers(const VertexObject& object, unsigned frame, bool undistort) {
  const DisplaySettings& ds = DisplaySettings::Get();
  for (const Vertex& v : object.GetVertices()) {
    vm::Vector3 p;
    const int kind = v.GetValue(&p, int(frame));
    if (kind == Vertex::kNoKeys) continue;
    const bool selected = VertexSelected(v);
    uint32_t colour = ds.SlotColor(selected ? DS_SLOT_SELECTION : DS_SLOT_VERTEX_MARKER);
    if (kind == Vertex::kInterpolated || kind == Vertex::kOutsideKeys) colour &= kHalfAlpha;
    UndistortPoint(undistort, p.x, p.y);
    DrawDot(p.x, p.y, selected ? 4.8 : 4.0, colour);
  }
}

void ViewerBase::DrawPolygonMasks() {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawPolygonMasks: tracking manager not set!");
    return;
  }
  const ViewerState* state = CurrentState();
  if (!m_image || state == nullptr) return;
  const bool undistort = (state->m_flags & eShowUndistorted) != 0;
  const unsigned frame = unsigned(m_image->GetImageIndex());
  const uint32_t mask_colour = DisplaySettings::Get().SlotColor(DS_SLOT_MASK);
  std::vector<vm::Vector3> positions;
  std::vector<PainterPoint> xy;
  for (const PolygonMask& mask : tracker->GetVertexObjectPool().GetPolygonMasks()) {
    if (mask.IsActiveAt(frame) == 0) continue;
    uint32_t outline = mask_colour, fill = mask_colour & kHalfAlpha;
    if (mask.TestFlags(VERTEX_OBJECT_HAS_COLOR)) {
      fill = mask.GetColor().ToARGB32();
      outline = fill | 0xFF000000u;
    }
    if (mask.GetVertexPositions(positions, frame) == 0) continue;
    for (vm::Vector3& p : positions) UndistortPoint(undistort, p.x, p.y);
    if (positions.size() >= 2) {
      xy.clear();
      for (const vm::Vector3& p : positions) xy.push_back({p.x, p.y});
      m_painter.FillPolygon(xy.data(), int(xy.size()), fill);
    }
    DrawPolyline(positions, true, 1.5, outline);
    DrawVertexMarkers(mask, frame, undistort);
  }

  // The mask being drawn.
  const DisplaySettings& ds = DisplaySettings::Get();
  positions.clear();
  for (const Vertex& v : m_mask_points) {
    vm::Vector3 p;
    if (v.GetValue(&p, int(frame)) == Vertex::kNoKeys) continue;
    UndistortPoint(undistort, p.x, p.y);
    positions.push_back({p.x, p.y, 0.0});
  }
  DrawPolyline(positions, false, 1.5, mask_colour);
  vm::Vector3 last;
  if (!m_mask_points.empty() &&
      m_mask_points.back().GetValue(&last, int(frame)) != Vertex::kNoKeys) {
    UndistortPoint(undistort, last.x, last.y);
    double px = 0.0, py = 0.0;
    PointerImagePosition(px, py);
    m_painter.DrawLine(last.x, last.y, px, py, 1.5, mask_colour);
  }
  const uint32_t marker = ds.SlotColor(DS_SLOT_VERTEX_MARKER);
  for (const Vertex& v : m_mask_points) {
    vm::Vector3 p;
    if (v.GetValue(&p, int(frame)) == Vertex::kNoKeys) continue;
    UndistortPoint(undistort, p.x, p.y);
    const bool selected = VertexSelected(v);
    DrawDot(p.x, p.y, selected ? 4.8 : 4.0, selected ? marker & kHalfAlpha : marker);
  }
}

MetaCTracker* ViewerBase::VertexObjectsToDraw(bool& undistort, unsigned& frame) {
  const ViewerState* state = CurrentState();
  if (!m_image || m_image->GetOwner() == nullptr || state == nullptr) return nullptr;
  undistort = (state->m_flags & eShowUndistorted) != 0;
  frame = unsigned(m_image->GetImageIndex());
  return m_controller->GetCTracker();
}

void ViewerBase::DrawReferenceLines() {
  bool undistort = false;
  unsigned frame = 0;
  MetaCTracker* tracker = VertexObjectsToDraw(undistort, frame);
  if (tracker == nullptr) return;
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t line_colour = ds.SlotColor(DS_SLOT_REFERENCE_LINE);
  std::vector<vm::Vector3> positions;
  for (const LineStrip& line : tracker->GetVertexObjectPool().GetLineStrips()) {
    const uint32_t colour =
        line.TestFlags(VERTEX_OBJECT_HAS_COLOR) ? line.GetColor().ToARGB32() : line_colour;
    if (line.GetVertexPositions(positions, frame) == 0) continue;
    for (vm::Vector3& p : positions) UndistortPoint(undistort, p.x, p.y);
    DrawPolyline(positions, true, 1.5, colour);
    DrawVertexMarkers(line, frame, undistort);
  }

  // The line being drawn: consecutive pairs are segments; an odd count follows the pointer.
  const size_t n = m_line_points.size();
  vm::Vector3 a, b;
  for (size_t i = 1; n > 1 && i < n; i += 2) {
    if (m_line_points[i - 1].GetValue(&a, int(frame)) == Vertex::kNoKeys ||
        m_line_points[i].GetValue(&b, int(frame)) == Vertex::kNoKeys)
      continue;
    UndistortPoint(undistort, a.x, a.y);
    UndistortPoint(undistort, b.x, b.y);
    m_painter.DrawLine(a.x, a.y, b.x, b.y, 1.0, line_colour);
  }
  if (n % 2 == 1 && m_line_points.back().GetValue(&a, int(frame)) != Vertex::kNoKeys) {
    UndistortPoint(undistort, a.x, a.y);
    double px = 0.0, py = 0.0;
    PointerImagePosition(px, py);
    m_painter.DrawLine(a.x, a.y, px, py, 1.5, line_colour);
  }
  for (const Vertex& v : m_line_points) {
    vm::Vector3 p;
    if (v.GetValue(&p, int(frame)) == Vertex::kNoKeys) continue;
    UndistortPoint(undistort, p.x, p.y);
    const bool selected = VertexSelected(v);
    DrawDot(p.x, p.y, selected ? 4.8 : 4.0,
            ds.SlotColor(selected ? DS_SLOT_SELECTION : DS_SLOT_VERTEX_MARKER));
  }
}

void ViewerBase::DrawFocalGizmos() {
  bool undistort = false;
  unsigned frame = 0;
  MetaCTracker* tracker = VertexObjectsToDraw(undistort, frame);
  if (tracker == nullptr) return;
  // Pairs in drawing order: vertex indices p0, p1, p2, p3 and the pair's colour.
  static const int kPairs[3][4] = {{0, 1, 2, 3}, {8, 9, 11, 10}, {4, 5, 6, 7}};
  static const uint32_t kColours[3] = {0xFF0000u, 0x00FF00u, 0x0000FFu};
  std::vector<vm::Vector3> positions;
  for (const FocalGizmo& gizmo : tracker->GetVertexObjectPool().GetFocalGizmos()) {
    if (gizmo.GetVertexPositions(positions, frame) != 12) continue;
    for (vm::Vector3& p : positions) UndistortPoint(undistort, p.x, p.y);
    for (int k = 0; k < 3; ++k) {
      const vm::Vector3& p0 = positions[size_t(kPairs[k][0])];
      const vm::Vector3& p1 = positions[size_t(kPairs[k][1])];
      const vm::Vector3& p2 = positions[size_t(kPairs[k][2])];
      const vm::Vector3& p3 = positions[size_t(kPairs[k][3])];
      const PainterPoint quad[4] = {{p0.x, p0.y}, {p1.x, p1.y}, {p3.x, p3.y}, {p2.x, p2.y}};
      m_painter.FillPolygon(quad, 4, 0x22000000u | kColours[k]);
      DrawPolyline({p0, p1}, true, 1.5, 0xFF000000u | kColours[k]);
      DrawPolyline({p2, p3}, true, 1.5, 0xFF000000u | kColours[k]);
      m_painter.DrawLine((p0.x + p2.x) / 2, (p0.y + p2.y) / 2, (p1.x + p3.x) / 2, (p1.y + p3.y) / 2,
                         1.0, 0x55000000u | kColours[k]);
    }
    DrawVertexMarkers(gizmo, frame, undistort);
  }
}

}  // namespace uic
