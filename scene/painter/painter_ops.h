// The painter operations kept in their own files (internal to scene/painter); the table of
// OverlayPainter points at them. Arguments as in PainterOps.
#pragma once

#include <cstdint>

#include "scene/painter/overlay_painter.h"

namespace painter_ops {

void DrawRect(PainterTarget& t, double x1, double y1, double x2, double y2, double width_px,
              uint32_t colour, int dash_length, uint16_t dash_pattern);
void FillPolygon(PainterTarget& t, const PainterPoint* points, int count, uint32_t colour);
void DrawText(PainterTarget& t, double x, double y, const char* chars, int count, uint32_t colour);
void DrawImage(PainterTarget& t, double x, double y, double width, double height,
               const uint32_t* source, int source_stride, int source_width, int source_height,
               uint32_t background);
void DrawCachedImage(PainterTarget& t, ImageCache* cache, int frame, uint32_t background);

}  // namespace painter_ops
