#include "scene/render/element_render.h"

#include "scene/objects/draw_rules.h"
#include "scene/objects/nhs_object.h"

NHSElementRender::~NHSElementRender() = default;

double NHSElementRender::ScaleAtDepth(double) {
  return 1.0;
}

void NHSElementRender::RenderSubtree(const Matrix3x4& parent, const NHSObject& node) {
  if (node.GetUIDFlags() & UID_FLAG_HIDDEN) return;
  Matrix3x4 model;
  model.Multiply(parent, node.GetTransform());
  node.Draw(*this, model);
  for (const NHSObject* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    RenderSubtree(model, *child);
  }
}

void NHSElementRender::DrawEdgeOnce(int a, int b, double width, std::uint32_t color,
                                    std::uint32_t pick_id) {
  if (!EdgeSlotTable(edge_slots_).AddEdgeOnce(a, b)) return;
  DrawLine(vertices_[a], vertices_[b], width, color, pick_id);
}
