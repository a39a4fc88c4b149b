// RenderContext: draws a scene tree into a rectangle of a 32-bit pixel buffer with the
// software renderer, on the worker pool.
//
// The viewer points it at a buffer (SetTarget), gives it the camera's 4 × 4 matrix
// (SetViewMatrix; the context renders with its rows 0, 1 and 3) and the principal point,
// and calls RenderScene. The scene is drawn over what the buffer holds: pixels no item
// covers keep their value; drawn pixels get alpha 0.
//
// A frame runs in two phases, both on every pool thread including the caller:
//   1. each pool item walks the whole tree and draws the nodes it claims (one at a time,
//      in walk order, through a shared counter; a node that draws in parts is claimed
//      part by part) into its own arena, then indexes it by row;
//   2. the target rows are split into one band per thread; each item rasterises rows of
//      its band and, when that runs out, takes the second half of the band with most rows
//      left. Every row is drawn from all arenas in arena order, so the pixels do not depend
//      on how nodes and rows were spread over the threads (except where two opaque items
//      have exactly equal depth on a sample).
// Arenas and row buffers are kept from frame to frame.
//
// RenderScene is called on one thread (the interface thread); the tree and the context
// must not change while it runs. Running out of memory while recording items throws
// std::bad_alloc and leaves the buffer unchanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/spin_lock.h"
#include "scene/render/draw_item_arena.h"
#include "scene/render/render_projection.h"
#include "scene/render/row_raster.h"

class NHSObject;
class NHSElementRender_SW;

// The row bands of the raster phase, claimed row by row under a spin lock.
class RowBands {
 public:
  // b bands over rows 0 .. rows − 1: band i gets rows i × rows / b to (i + 1) × rows / b − 1.
  void Split(int b, int rows);
  // The next row of band b; when b has none left, the second half of the band with the
  // most rows left (the first of equal ones) becomes band b's. −1 when no row is left.
  int Claim(int b);
  int Count() const { return static_cast<int>(bands_.size()); }

 private:
  struct Band {
    int next;
    int end;
  };
  js::SpinLock lock_;
  std::vector<Band> bands_;
};

class RenderContext {
 public:
  RenderContext();
  ~RenderContext();
  RenderContext(const RenderContext&) = delete;
  RenderContext& operator=(const RenderContext&) = delete;

  // Draws into the part of rectangle (x, y, w, h) that lies inside the buffer of
  // buffer_width × buffer_height pixels, rows `stride` pixels apart. An empty overlap
  // (or a stride below the buffer width) leaves no target: RenderScene then does nothing.
  void SetTarget(std::uint32_t* pixels, int stride, int buffer_width, int buffer_height, int x,
                 int y, int w, int h);
  // The camera's 4 × 4 matrix: the context renders with its rows 0, 1 and 3 (row 2 is not
  // used). The default gives the identity view.
  void SetViewMatrix(const Matrix4x4& m);
  const Matrix4x4& GetViewMatrix() const { return matrix_; }
  // The 3 × 4 matrix scenes are drawn with: rows 0, 1 and 3 of the view matrix.
  const Matrix3x4& GetRenderView() const { return view_; }
  // Buffer position of the optical axis.
  void SetPrincipalPoint(double x, double y);
  const double* GetPrincipalPoint() const { return principal_point_; }
  // Samples per pixel along each axis, 1 .. 16 (clamped).
  void SetSampleFactor(unsigned f);
  unsigned GetSampleFactor() const { return projection_.sample_factor; }
  // Light, ambient term and near distance may be changed through the projection.
  RenderProjection& Projection() { return projection_; }

  // Draws the tree below and including root into the target. Nothing for a null root, an
  // empty target, a degenerate view matrix or a target over 32767 samples wide or high.
  void RenderScene(const NHSObject* root);

 private:
  void BuildDrawItems(int item);
  void ClaimingWalk(NHSElementRender_SW& renderer, const NHSObject& node, const Matrix3x4& parent);
  void RasterBand(int band);

  RenderProjection projection_;
  std::vector<DrawItemArena> arenas_;
  std::vector<std::vector<ScreenPoint>> clip_scratch_;  // per pool item
  std::vector<RowScratch> row_scratch_;                 // per band
  RowBands bands_;
  std::uint32_t* target_ = nullptr;  // first pixel of the target rectangle
  std::int64_t stride_ = 0;          // pixels
  int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
  Matrix4x4 matrix_;
  Matrix3x4 view_;             // rows 0, 1 and 3 of matrix_
  Matrix3x4 normalised_view_;  // from RenderProjection::Setup
  double principal_point_[2] = {0.0, 0.0};
  const NHSObject* root_ = nullptr;
  std::atomic<std::int32_t> object_counter_{0};
};
