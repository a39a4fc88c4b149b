// OverlayPainter: anti-aliased 2D drawing into a buffer of 32-bit 0xAARRGGBB words, for the
// overlays of the image view and the timeline and the captions of exported frames.
//
// Coordinates: a caller point (x, y) lands at target position (scale_x·x + offset_x,
// scale_y·y + offset_y); target pixel column i covers [i, i + 1), rows alike. With the
// distortion switch on, the operations that say so first move a point p to c + s·(p − c), with
// s = function(r², k, inverse) and r² = (factor_x·(p.x − c.x))² + (factor_y·(p.y − c.y))².
// Widths, radii and arm lengths "in pixels" are target pixels and ignore the scales.
//
// Colours: alpha 0 draws nothing (Clear and image backgrounds excepted); otherwise a pixel is
// mixed with the weight coverage·(alpha + 1)/256 (FillPolygon: coverage·alpha/256; bitmap text:
// its own ink levels), each byte as (colour·t + old·(256 − t)) >> 8 with t = weight >> 8. The
// colour's alpha byte enters the mix as 0 (bitmap text excepted), so a full opaque write stores
// the colour with alpha byte 0.
//
// Every operation clips to the target and writes nothing outside it; non-positive sizes, zero
// scales and coordinates beyond the fixed-point range (32767 pixels) draw nothing. A painter is
// used by one thread at a time; operations allocate only to grow the painter's reusable scratch.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/camera/radial_distortion.h"
#include "foundation/numeric/array.h"
#include "image/meta_mapper.h"

class ImageCache;

struct PainterPoint {
  double x;
  double y;
};

// The part of the painter every operation reads: the buffer, the mapping, the lens distortion,
// the bitmap font and the image quality, plus scratch storage the operations reuse.
struct PainterTarget {
  uint32_t* pixels = nullptr;  // first pixel of the target rectangle; not owned
  int stride = 0;              // in pixels
  int width = 0;
  int height = 0;

  double offset_x = 0.0;
  double offset_y = 0.0;
  double scale_x = 1.0;
  double scale_y = 1.0;

  double distortion_centre_x = 0.0;
  double distortion_centre_y = 0.0;
  double distortion_factor_x = 1.0;
  double distortion_factor_y = 1.0;
  double distortion_k[4] = {0.0, 0.0, 0.0, 0.0};
  RadialDistortionFunction distortion_function = nullptr;
  bool distortion_on = false;

  int font = 0;           // 0: 8 x 16 cells, 1: 6 x 13 cells, other: no bitmap text
  int image_quality = 1;  // below 2: nearest-pixel resampling, else bilinear

  // Reused scratch of FillPolygon (grown on the heap, never shrunk).
  struct PolygonEdge {
    double x;      // x (shifted half a pixel left) at sub-row position y0
    double y0;     // upper end, in sub-row units (4·y − 0.5)
    double slope;  // change of x per sub-row unit
    int first;     // first sub-row crossed
    int end;       // one past the last sub-row crossed
  };
  std::vector<PolygonEdge> polygon_edges;
  std::vector<int> polygon_active;
  std::vector<double> polygon_crossings;
  std::vector<int32_t> polygon_coverage;
};

// The drawing operations, in table order. Each takes the target first; coordinates in caller
// units unless named otherwise.
struct PainterOps {
  void (*Clear)(PainterTarget& t, uint32_t colour);
  void (*DrawLine)(PainterTarget& t, double x1, double y1, double x2, double y2, double width_px,
                   uint32_t colour);
  void (*DrawPolyline)(PainterTarget& t, const PainterPoint* points, int count, bool closed,
                       double width_px, uint32_t colour, bool round_joins);
  // Dash length 0 draws solid; otherwise bit k (mod 16) of the pattern covers dash_length
  // pixels along the frame.
  void (*DrawRect)(PainterTarget& t, double x1, double y1, double x2, double y2, double width_px,
                   uint32_t colour, int dash_length, uint16_t dash_pattern);
  void (*FillRect)(PainterTarget& t, double x, double y, double width, double height,
                   uint32_t colour);
  void (*DrawCircle)(PainterTarget& t, double cx, double cy, double radius_px, double ring_px,
                     uint32_t colour);
  void (*FillCircle)(PainterTarget& t, double cx, double cy, double radius_px, uint32_t colour);
  void (*FillEllipse)(PainterTarget& t, double cx, double cy, double rx, double ry,
                      uint32_t colour);
  void (*FillPolygon)(PainterTarget& t, const PainterPoint* points, int count, uint32_t colour);
  void (*DrawText)(PainterTarget& t, double x, double y, const char* chars, int count,
                   uint32_t colour);
  // A background other than 0 fills the target around the image (alpha byte 0).
  void (*DrawImage)(PainterTarget& t, double x, double y, double width, double height,
                    const uint32_t* source, int source_stride, int source_width, int source_height,
                    uint32_t background);
  // The frame's full-size picture with pixel (0, 0) centred on caller point (0, 0), through the
  // lens distortion when it is on; a frame the cache cannot give fills with the background.
  void (*DrawCachedImage)(PainterTarget& t, ImageCache* cache, int frame, uint32_t background);
  void (*DrawCross)(PainterTarget& t, double cx, double cy, double arm_x_px, double arm_y_px,
                    double stroke_px, uint32_t colour);
};

// Draws the segment between two target positions with the thick-line rasteriser (no caps).
void PaintThickLine(PainterTarget& t, double x1, double y1, double x2, double y2, double width_px,
                    uint32_t colour);
// Moves a caller point through the lens distortion (when on) and the mapping.
void MapPainterPoint(const PainterTarget& t, double& x, double& y);

class OverlayPainter {
 public:
  // Zeroed painter, scales 1, colour 0xFFFFFFFF, image quality 1, font 0; SetupBackend(gl).
  explicit OverlayPainter(bool gl = false);

  // Stores gl; without GL fills the table with the software operations and returns false.
  // There is no GL back end: with gl set the table stays empty.
  bool SetupBackend(bool gl);
  // Nothing to do for the software back end.
  void CheckNoGL(int width, int height);

  // The whole buffer becomes the target; the previous target origin is folded back into the
  // offsets.
  void SetTarget(const ArrayMap<uint32_t>& buffer);
  // The rectangle of the buffer (clipped to it) becomes the target; the offsets move by the
  // change of origin so callers keep whole-buffer coordinates.
  void SetTarget(int x, int y, int width, int height, const ArrayMap<uint32_t>& buffer);
  void SetRadialDistortion(double centre_x, double centre_y, double factor_x, double factor_y,
                           const double k[4], RadialDistortionFunction function);
  void SetDistortionOn(bool on) { target_.distortion_on = on; }

  PainterTarget& Target() { return target_; }
  const PainterOps& Ops() const { return ops_; }
  bool IsGL() const { return gl_; }

  void Clear(uint32_t colour) { Call(ops_.Clear, colour); }
  void DrawLine(double x1, double y1, double x2, double y2, double width_px, uint32_t colour) {
    Call(ops_.DrawLine, x1, y1, x2, y2, width_px, colour);
  }
  void DrawPolyline(const PainterPoint* points, int count, bool closed, double width_px,
                    uint32_t colour, bool round_joins) {
    Call(ops_.DrawPolyline, points, count, closed, width_px, colour, round_joins);
  }
  void DrawRect(double x1, double y1, double x2, double y2, double width_px, uint32_t colour,
                int dash_length, uint16_t dash_pattern) {
    Call(ops_.DrawRect, x1, y1, x2, y2, width_px, colour, dash_length, dash_pattern);
  }
  void FillRect(double x, double y, double width, double height, uint32_t colour) {
    Call(ops_.FillRect, x, y, width, height, colour);
  }
  void DrawCircle(double cx, double cy, double radius_px, double ring_px, uint32_t colour) {
    Call(ops_.DrawCircle, cx, cy, radius_px, ring_px, colour);
  }
  void FillCircle(double cx, double cy, double radius_px, uint32_t colour) {
    Call(ops_.FillCircle, cx, cy, radius_px, colour);
  }
  void FillEllipse(double cx, double cy, double rx, double ry, uint32_t colour) {
    Call(ops_.FillEllipse, cx, cy, rx, ry, colour);
  }
  void FillPolygon(const PainterPoint* points, int count, uint32_t colour) {
    Call(ops_.FillPolygon, points, count, colour);
  }
  void DrawText(double x, double y, const char* chars, int count, uint32_t colour) {
    Call(ops_.DrawText, x, y, chars, count, colour);
  }
  void DrawImage(double x, double y, double width, double height, const uint32_t* source,
                 int source_stride, int source_width, int source_height, uint32_t background) {
    Call(ops_.DrawImage, x, y, width, height, source, source_stride, source_width, source_height,
         background);
  }
  void DrawCachedImage(ImageCache* cache, int frame, uint32_t background) {
    Call(ops_.DrawCachedImage, cache, frame, background);
  }
  void DrawCross(double cx, double cy, double arm_x_px, double arm_y_px, double stroke_px,
                 uint32_t colour) {
    Call(ops_.DrawCross, cx, cy, arm_x_px, arm_y_px, stroke_px, colour);
  }

  // The stroke font scaled into the box (x, y, width, height) in caller units: the advances of
  // all characters fill the width, the em square (32 font units) the height, the baseline at
  // y + height/2. Round caps and joins of line_width_px; characters outside 32..127 draw as
  // 'X'; nothing for a null or empty string or alpha 0.
  void DrawStrokeText(double x, double y, double width, double height, double line_width_px,
                      const char* text, uint32_t colour);

  uint32_t colour = 0xFFFFFFFF;  // the owner's current colour; the operations take their own

 private:
  template <typename F, typename... A>
  void Call(F f, A... args) {
    if (f) f(target_, args...);
  }

  bool gl_ = false;
  PainterOps ops_{};
  PainterTarget target_;
  int origin_x_ = 0;  // target rectangle origin in the buffer
  int origin_y_ = 0;
};

// The image-view mapping of DrawCachedImage: (x, y) → c + s·((x·inverse_scale_x,
// y·inverse_scale_y) − c) with the target's distortion centre, factors and function (s = 1
// without a function). Reads the target; owns nothing.
class RadDistMapper : public MetaMapper {
 public:
  RadDistMapper(double inverse_scale_x, double inverse_scale_y, const PainterTarget& target)
      : inverse_scale_x_(inverse_scale_x), inverse_scale_y_(inverse_scale_y), target_(target) {}
  void Map(double& x_out, double& y_out, double x, double y) const override;

 private:
  double inverse_scale_x_;
  double inverse_scale_y_;
  const PainterTarget& target_;
};
