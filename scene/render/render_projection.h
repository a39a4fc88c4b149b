// RenderProjection: how a renderer maps view coordinates to the samples of its target,
// clips against the near plane and shades flat faces. Every concrete renderer and the
// render context carry one.
//
// View coordinates: the viewer at the origin looking along +z, x to the right, y down on
// the screen. A view point (x, y, z) projects to the sample position
// (X, Y) = (offset + x s, offset + y s) with the depth value s = focal / max(z, near);
// samples are the target's pixels times the sample factor F, sample (X, Y) has its centre
// at integer X, Y. Geometry nearer than `near_distance` is clipped away.
//
// Plain data: copied into each thread's renderer, never shared while it changes.
#pragma once

#include <cstdint>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "scene/render/draw_item.h"

struct RenderProjection {
  vm::Vector3 light{0.0, 0.0, 0.7};  // light direction times the diffuse strength
  double offset_x = 0.0;             // sample position of the optical axis
  double offset_y = 0.0;
  double ambient = 0.3;
  double near_distance = 1.0;
  double focal = 1.0;    // in samples
  double x_limit = 0.5;  // width − 0.5
  double y_limit = 0.5;  // height − 0.5
  int width = 1;         // target width in samples
  int height = 1;        // target height in samples
  unsigned sample_factor = 1;

  // Prepares the block for a target rectangle (x0, y0, w, h) of a buffer whose optical
  // axis is at buffer position principal_point, and writes the view matrix it renders
  // with: rows 0 and 1 of view, row 2 scaled by d = sqrt(sqrt(q0 q1) / q2) (q the squared
  // lengths of the rows' 3 × 3 parts), so that depths are measured in the units of the
  // first two rows. A point with (a, b, c) = view × point and image position
  // (u, v) = (a / c, b / c) + principal point lands at sample ((u − x0 − 0.5) F,
  // (v − y0 − 0.5) F). False, with nothing changed, when d is not a positive finite number
  // (a degenerate view matrix) or the target is empty or more than kMaxSampleExtent
  // samples wide or high: nothing can be drawn then.
  bool Setup(Matrix3x4& out, const Matrix3x4& view, const double principal_point[2], int x0, int y0,
             int w, int h);

  ScreenPoint Project(const vm::Vector3& p) const;

  // Projects the segment a–b after cutting it at the near plane; the cut end gets the
  // depth value focal / near. The outputs keep the inputs' order. False when both ends
  // lie nearer than the near distance.
  bool ClipSegment(ScreenPoint& a, ScreenPoint& b, const vm::Vector3& va,
                   const vm::Vector3& vb) const;

  // Cuts the outline of n points at the near plane (each edge crossing it contributes its
  // crossing point, each point in front contributes itself) and projects it, walking it
  // backwards from point n − 1 when reverse is set. out needs room for 2 n points.
  // Returns the number of points written; the target is not consulted.
  int ClipOutline(ScreenPoint* out, const vm::Vector3* points, int n, bool reverse) const;

  struct Rect {
    int x, y, w, h;  // sample columns and rows
  };
  // Cuts the outline of n points at the near plane and projects it, walking it backwards
  // when reverse is set. out needs room for 2 n points. Returns the number of points
  // written (0 when fewer than 3 remain or the outline misses the target), rotated so that
  // the first has the smallest Y, and in rect the samples it may cover.
  int ClipPolygon(Rect& rect, ScreenPoint* out, const vm::Vector3* points, int n,
                  bool reverse) const;

  // Pixels per view unit at view depth z: focal / (F × max(z, near)).
  double ScaleAtDepth(double z) const;

  // Flat shading of a face with normal N: ambient + |light · N| (1 − ambient) / |N|, or
  // the ambient term alone for a one-sided face lit from behind or a zero normal.
  double ShadeFactor(const vm::Vector3& normal, bool one_sided) const;
};

// The normal a polygon is drawn with: the one given, or (P0 − P1) × (P1 − P2). The
// polygon shows its back to the viewer when P1 · N ≥ 0.
inline vm::Vector3 FaceNormal(const vm::Vector3* points, const vm::Vector3* normal) {
  return normal ? *normal : (points[0] - points[1]).Cross(points[1] - points[2]);
}

// Colour values of spans (shade factor applied) and of lines. Alpha 0xff is opaque (alpha
// byte 0 written); any other alpha is a translucent layer of weight alpha >> 4 (0 counts
// as 1).
ItemColor ShadeColor(std::uint32_t color, double shade);
ItemColor MakeLineColor(std::uint32_t color);
