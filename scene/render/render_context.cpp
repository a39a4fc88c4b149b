#include "scene/render/render_context.h"

#include <algorithm>
#include <mutex>

#include "foundation/runtime/worker_pool.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/element_render_sw.h"
#include "scene/render/translucency.h"

namespace {

constexpr std::size_t kClipPoints = 256;

}  // namespace

void RowBands::Split(int b, int rows) {
  bands_.resize(static_cast<std::size_t>(std::max(b, 0)));
  for (int i = 0; i < b; ++i) {
    bands_[i] = {static_cast<int>(static_cast<std::int64_t>(i) * rows / b),
                 static_cast<int>(static_cast<std::int64_t>(i + 1) * rows / b)};
  }
}

int RowBands::Claim(int b) {
  std::lock_guard<js::SpinLock> hold(lock_);
  Band& own = bands_[b];
  if (own.end - own.next >= 1) return own.next++;
  int victim = -1, most = 0;
  for (int i = 0; i < static_cast<int>(bands_.size()); ++i) {
    const int left = bands_[i].end - bands_[i].next;
    if (left > most) {
      most = left;
      victim = i;
    }
  }
  if (victim < 0) return -1;
  Band& v = bands_[victim];
  const int mid = (v.next + v.end) >> 1;
  own = {mid, v.end};
  v.end = mid;
  return own.next++;
}

RenderContext::RenderContext() {
  const double identity_view[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0};
  Matrix4x4 m;
  std::copy(identity_view, identity_view + 16, m.m);
  SetViewMatrix(m);
  normalised_view_ = view_;
}

RenderContext::~RenderContext() = default;  // the arenas release their buffers

void RenderContext::SetTarget(std::uint32_t* pixels, int stride, int buffer_width,
                              int buffer_height, int x, int y, int w, int h) {
  const std::int64_t left = std::max<std::int64_t>(x, 0);
  const std::int64_t top = std::max<std::int64_t>(y, 0);
  const std::int64_t right = std::min<std::int64_t>(static_cast<std::int64_t>(x) + w, buffer_width);
  const std::int64_t bottom =
      std::min<std::int64_t>(static_cast<std::int64_t>(y) + h, buffer_height);
  if (pixels == nullptr || left >= right || top >= bottom || stride < buffer_width) {
    target_ = nullptr;
    x0_ = y0_ = width_ = height_ = 0;
    stride_ = 0;
    return;
  }
  x0_ = static_cast<int>(left);
  y0_ = static_cast<int>(top);
  width_ = static_cast<int>(right - left);
  height_ = static_cast<int>(bottom - top);
  stride_ = stride;
  target_ = pixels + top * stride_ + left;
}

void RenderContext::SetViewMatrix(const Matrix4x4& m) {
  matrix_ = m;
  static constexpr int kRows[3] = {0, 1, 3};
  for (int r = 0; r < 3; ++r) std::copy(m[kRows[r]], m[kRows[r]] + 4, view_[r]);
}

void RenderContext::SetPrincipalPoint(double x, double y) {
  principal_point_[0] = x;
  principal_point_[1] = y;
}

void RenderContext::SetSampleFactor(unsigned f) {
  projection_.sample_factor = std::clamp<unsigned>(f, 1, TranslucencyTable::kMaxSampleFactor);
}

void RenderContext::RenderScene(const NHSObject* root) {
  if (root == nullptr || target_ == nullptr || width_ == 0 || height_ == 0) return;
  const int threads = std::max(1, WorkerPool::GetNumberOfThreads());
  root_ = root;
  if (!projection_.Setup(normalised_view_, view_, principal_point_, x0_, y0_, width_, height_)) {
    return;
  }
  if (arenas_.size() != static_cast<std::size_t>(threads)) arenas_.resize(threads);
  for (DrawItemArena& arena : arenas_) arena.Reset();
  if (clip_scratch_.size() < arenas_.size()) clip_scratch_.resize(arenas_.size());
  // Room for large outlines from the start: the threads' clip buffers then lie kilobytes
  // apart, and no two threads write the same cache line with every polygon they clip.
  for (std::vector<ScreenPoint>& clip : clip_scratch_) clip.reserve(kClipPoints);
  object_counter_.store(0, std::memory_order_relaxed);
  WorkerPool::ParallelFor(
      threads, [this](int item) { BuildDrawItems(item); }, false);

  object_counter_.store(0, std::memory_order_relaxed);
  const int bands = std::min(threads, height_);
  bands_.Split(bands, height_);
  if (row_scratch_.size() < static_cast<std::size_t>(bands)) row_scratch_.resize(bands);
  WorkerPool::ParallelFor(
      bands, [this](int band) { RasterBand(band); }, false);
}

void RenderContext::BuildDrawItems(int item) {
  NHSElementRender_SW renderer(arenas_[item], projection_, &object_counter_, &clip_scratch_[item]);
  ClaimingWalk(renderer, *root_, normalised_view_);
  arenas_[item].SortByRows(projection_.height);
}

void RenderContext::ClaimingWalk(NHSElementRender_SW& renderer, const NHSObject& node,
                                 const Matrix3x4& parent) {
  if (node.GetUIDFlags() & UID_FLAG_HIDDEN) return;  // not counted: every thread skips it
  // A node of several parts is handed out part by part, so that the threads share it.
  const int parts = std::max(1, node.DrawParts());
  Matrix3x4 model;
  bool have_model = false;
  for (int part = 0; part < parts; ++part) {
    if (!renderer.ClaimObject()) continue;
    if (!have_model) model.Multiply(parent, node.GetTransform());
    have_model = true;
    if (parts == 1) {
      node.Draw(renderer, model);
    } else {
      node.DrawPart(renderer, model, part);
    }
  }
  if (node.GetFirstChild() == nullptr) return;  // unclaimed leaves cost no product
  if (!have_model) model.Multiply(parent, node.GetTransform());
  for (const NHSObject* child = node.GetFirstChild(); child; child = child->GetNextSibling()) {
    ClaimingWalk(renderer, *child, model);
  }
}

void RenderContext::RasterBand(int band) {
  const int f = static_cast<int>(projection_.sample_factor);
  RowScratch& scratch = row_scratch_[band];
  scratch.Fit(width_, f);
  for (int y = bands_.Claim(band); y >= 0; y = bands_.Claim(band)) {
    RasterTargetRow(arenas_.data(), static_cast<int>(arenas_.size()), y, f, width_,
                    target_ + y * stride_, scratch);
  }
}
