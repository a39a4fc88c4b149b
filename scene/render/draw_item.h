// Draw items: the screen-space records the software renderer makes of every marker, line
// and polygon span, kept back to back in a DrawItemArena and rasterised one row at a time.
//
// Rows and columns are in sample pixels (the target's pixels times the sample factor);
// the sample of column x, row y has its centre at (x, y). Depth values are s = focal / z:
// larger is nearer, 0 is nothing drawn. A sample takes a value only when it is strictly
// greater than the depth row's, so of two opaque items at equal depth the first drawn stays.
//
// Colour values (ItemColor): high word 0 is opaque and the low word is the pixel written;
// otherwise the value is one translucent layer as four 16-bit accumulator lanes, from the
// lowest: blue, green, red and the count lane (1024 + weight). Translucent items add their
// lanes to the accumulator row and never write depth, so translucent layers are tested
// against opaque geometry only and blend as a mean whatever their order.
//
// Items are plain records (trivially copyable: the arena may move them when it grows);
// NHSDrawItem::RasterRow dispatches on the record's kind. Row numbers are 16-bit: a
// target holds at most kMaxSampleExtent samples in each direction.
#pragma once

#include <cstdint>
#include <type_traits>

#include "scene/render/nhs_texture.h"

using ItemColor = std::uint64_t;

inline bool IsTranslucent(ItemColor c) {
  return (c >> 32) != 0;
}

// Largest sample width or height of a target.
constexpr int kMaxSampleExtent = 32767;

// One row's buffers, owned by the thread that rasterises the row.
struct RowBuffers {
  float* depth = nullptr;          // one depth value per sample
  std::uint32_t* color = nullptr;  // the target row or a sample row, 0xAARRGGBB
  std::uint64_t* accum = nullptr;  // translucent accumulator lanes per sample
};

// Adds one translucent layer to a sample's accumulator. The count lane's upper six bits
// count layers; a sample that holds 63 layers takes no more, so the lanes never carry
// into each other (63 layers of the largest lanes still fit in 16 bits).
inline void AddLayer(std::uint64_t& accum, std::uint64_t layer) {
  if ((accum >> 58) < 63) accum += layer;
}

struct NHSDrawItem {
  enum Kind : std::uint32_t { kMarker, kLine, kSpanSeg, kTexSpanSeg };

  std::uint32_t record_size;  // bytes this record occupies in the arena
  std::int16_t first_row;     // first sample row covered
  std::int16_t end_row;       // end sample row (exclusive)
  Kind kind;
  ItemColor color;

  // Draws the item's span of sample row y (length samples) into the row buffers; a
  // missing colour or accumulator row leaves it undrawn.
  void RasterRow(const RowBuffers& row, int y, int length) const;

 protected:
  // Rows are clamped to 0 .. kMaxSampleExtent so that they fit the 16-bit fields.
  NHSDrawItem(std::uint32_t size, Kind k, int first, int end, ItemColor c);
};

// Marker shapes.
enum : std::uint32_t {
  kMarkerSquare = 0,
  kMarkerDiamond = 1,
  kMarkerOctagon = 2,
  kMarkerCross = 3
};

// A square, diamond, octagon or cross of half-size w around a sample, at one depth.
// Always opaque.
struct NHSDrawItem_Marker : NHSDrawItem {
  std::int32_t center_x;
  std::int32_t center_y;
  std::int32_t half_size;
  std::uint32_t shape;
  float depth;

  NHSDrawItem_Marker(int first, int end, int cx, int cy, int w, std::uint32_t shape_code, float s,
                     ItemColor c);
  void RasterRow(const RowBuffers& row, int y, int length) const;
};

struct ScreenPoint {
  double x;
  double y;
  double s;  // depth value
};

// A line of half-width factor k (half-width = k × length) from P to Q with square ends
// through P and Q; P.y ≤ Q.y.
struct NHSDrawItem_Line : NHSDrawItem {
  ScreenPoint p;
  ScreenPoint q;
  double k;
  double inv_dy;  // 1 / (Q.y − P.y), 0 when equal

  NHSDrawItem_Line(int first, int end, const ScreenPoint& from, const ScreenPoint& to,
                   double half_width_factor, ItemColor c);
  void RasterRow(const RowBuffers& row, int y, int length) const;
};

// A polygon span between two vertex rows: its left and right edges extended to row 0
// with their slopes per row (s is the depth value), and the depth slope along a row.
struct NHSDrawItem_SpanSeg : NHSDrawItem {
  double left_x;   // left edge X at row 0
  double left_s;   // left edge s at row 0
  double right_x;  // right edge X at row 0
  double right_s;  // right edge s at row 0
  double left_dx;  // per row
  double left_ds;
  double right_dx;
  double right_ds;
  double dsdx;  // depth change per sample along a row

  NHSDrawItem_SpanSeg(int first, int end, double lx, double ls, double rx, double rs, double ldx,
                      double lds, double rdx, double rds, double ds_dx, ItemColor c);
  void RasterRow(const RowBuffers& row, int y, int length) const;

 protected:
  // Columns [x0, x1) of row y and the depth value at x0; false when empty.
  bool Columns(int y, int length, int& x0, int& x1, double& s0) const;
};

// A perspective-correct textured span: Tu · (X, Y, 1) / s and Tv · (X, Y, 1) / s are the
// texture coordinates of sample (X, Y) in texels × 2^18 (exact at segment ends, linear in
// between; see tex_span.h). Colour value: opaque 0xffffffff copies the texels, another
// opaque colour tints them ((texel × colour) >> 8 per channel, alpha 0), a translucent
// layer scales its lanes by the texel ((texel × (lane >> 1)) >> 7).
struct NHSDrawItem_TexSpanSeg : NHSDrawItem_SpanSeg {
  double tu[3];
  double tv[3];
  NHSTexture texture;

  NHSDrawItem_TexSpanSeg(int first, int end, double lx, double ls, double rx, double rs, double ldx,
                         double lds, double rdx, double rds, double ds_dx, ItemColor c,
                         const double* tu3, const double* tv3, const NHSTexture& tex);
  void RasterRow(const RowBuffers& row, int y, int length) const;
};

static_assert(std::is_trivially_copyable_v<NHSDrawItem_Marker>);
static_assert(std::is_trivially_copyable_v<NHSDrawItem_Line>);
static_assert(std::is_trivially_copyable_v<NHSDrawItem_TexSpanSeg>);

// Columns [x0, x1) covered by a span from xl to xr: ceil(xl) (at least 0) to ceil(xr) − 1
// (below length). False when empty or not a number; safe for any double.
bool SpanColumns(double xl, double xr, int length, int& x0, int& x1);
