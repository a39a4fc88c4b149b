// Polygon masks and reference lines drawn in the image view point by point, and the
// generated default shapes: the viewer's lists of points being drawn and their hand-over
// to the tracker's vertex-object pool as one undoable step each.
#include <cmath>
#include <numbers>
#include <string>

#include "foundation/numeric/color_rgba.h"
#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

// A point being drawn: one key at the frame shown.
Vertex PointAt(int frame, const vm::Vector3& position) {
  Vertex v;
  v.SetKey(frame, {position.x, position.y, 0.0});
  return v;
}

// Names of new masks and lines hold at most 15 characters.
std::string ShortName(const char* prefix, long number) {
  std::string name = prefix + std::to_string(number);
  if (name.size() > 15) name.resize(15);
  return name;
}

}  // namespace

void ViewerBase::AppendMaskPoint(const vm::Vector3& position) {
  if (!m_image) return;
  m_mask_points.push_back(PointAt(m_image->GetImageIndex(), position));
  m_controller->SetModified(true);
}

void ViewerBase::AppendLinePoint(const vm::Vector3& position) {
  if (!m_image) return;
  m_line_points.push_back(PointAt(m_image->GetImageIndex(), position));
  m_controller->SetModified(true);
}

void ViewerBase::RemoveLastMaskPoint() {
  if (!m_image || m_mask_points.size() < 2) return;
  m_mask_points.pop_back();
  m_controller->SetModified(true);
}

void ViewerBase::BeginPolygonMask() {
  ClosePolygonMask();
  Redraw();
  m_interaction = kInteractionMask;
}

void ViewerBase::ClosePolygonMask() {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::ClosePolygonMask: tracking manager not set!");
    return;
  }
  if (m_mask_points.size() >= 3) {
    VertexObjectPool& pool = tracker->GetVertexObjectPool();
    PushCommand(new VertexObjectPoolCmd(&pool, 0));
    const int frame = m_image ? m_image->GetImageIndex() : m_controller->GetCurrentFrame();
    PolygonMask* mask =
        pool.AddPolygonMask(m_controller->GetNumberOfImages(), m_mask_points, frame);
    if (mask != nullptr) {
      mask->SetName(ShortName("Mask_", m_mask_counter).c_str());
      // Bytes / 255, as the colour is stored; the slot's alpha is not the mask's.
      mask->SetColor(ColorRGBA(DisplaySettings::Get().SlotColor(DS_SLOT_MASK), 0.5));
      mask->SetFlags(1);
      ++m_mask_counter;
    }
  }
  m_mask_points.clear();
  m_controller->DeselectAll(false);
  m_interaction &= ~kInteractionMask;
  RestoreCursor();
  m_controller->EmitObjectPoolChanged();
}

void ViewerBase::AddRegularPolygonMask(unsigned n) {
  if (!m_image || n <= 2) return;
  const int h2 = int(m_image->GetHeight()) / 2, w2 = int(m_image->GetWidth()) / 2;
  const double r = 0.6 * h2;
  for (unsigned i = 0; i < n; ++i) {
    const double t = 2.0 * std::numbers::pi * i / n;
    AppendMaskPoint({w2 + r * std::sin(t), h2 + r * std::cos(t), 0.0});
  }
  ClosePolygonMask();
}

void ViewerBase::BeginReferenceLine() {
  ViewerState* state = CurrentState();
  if (state == nullptr) return;
  state->m_flags |= eShowLines;
  m_message.Emit(*this, eDisplayFlagsChanged);
  m_interaction |= kInteractionLine | kInteractionLine2;
  SetCursorShape(10);
}

void ViewerBase::CloseReferenceLine() {
  m_interaction &= ~(kInteractionLine | kInteractionLine2);
  RestoreCursor();
  if (m_line_points.size() % 2 == 1) m_line_points.pop_back();
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::CloseReferenceLine: tracking manager not set!");
    return;
  }
  if (m_line_points.size() >= 2) {
    VertexObjectPool& pool = tracker->GetVertexObjectPool();
    PushCommand(new VertexObjectPoolCmd(&pool, 0));
    const int frame = m_image ? m_image->GetImageIndex() : m_controller->GetCurrentFrame();
    LineStrip* line =
        pool.AddLineStrip(m_line_points, frame, 0, m_controller->GetNumberOfImages() - 1);
    if (line != nullptr) {
      line->SetName(ShortName("Line_", long(pool.GetLineStrips().size()) - 1).c_str());
      line->SetColor(ColorRGBA(DisplaySettings::Get().SlotColor(DS_SLOT_REFERENCE_LINE), 1.0));
      line->AssignFlags(1);
    }
  }
  m_line_points.clear();
  m_controller->DeselectAll(false);
  m_interaction &= ~kInteractionLine;
  RestoreCursor();
  m_controller->EmitObjectPoolChanged();
}

void ViewerBase::AddReferenceLine() {
  if (!m_image) return;
  MetaCTracker* tracker = m_controller->GetCTracker();
  const size_t k = tracker ? tracker->GetVertexObjectPool().GetLineStrips().size() : 0;
  const double a = double(k) * 0.08726646259971649;  // 5 degrees per line already there
  const int h2 = int(m_image->GetHeight()) / 2, w2 = int(m_image->GetWidth()) / 2;
  const double L = 0.7 * h2;
  BeginReferenceLine();
  AppendLinePoint({w2 + L * std::sin(a), h2 - L * std::cos(a), 0.0});
  AppendLinePoint({w2 - L * std::sin(a), h2 + L * std::cos(a), 0.0});
  CloseReferenceLine();
  Redraw();
}

void ViewerBase::InsertMaskVertex(const vm::Vector3& position) {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::InsertMaskVertex: tracking manager not set!");
    return;
  }
  const int frame = m_image ? m_image->GetImageIndex() : m_controller->GetCurrentFrame();
  if (tracker->GetVertexObjectPool().InsertMaskVertex(position, frame) < 0) {
    Notify(2, "ViewerBase::InsertMaskVertex: failed");
  }
}

}  // namespace uic
