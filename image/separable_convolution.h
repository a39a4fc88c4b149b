// Separable convolution of single-band float planes, optionally subsampled,
// spread over the worker pool in small rectangular bands.
//
// A SeparableConvolution describes one job: destination D, source S, offsets,
// a horizontal kernel cx (Kx taps) and a vertical kernel cy (Ky taps), and
// steps sx, sy. For 0 ≤ x < D.width, 0 ≤ y < D.height:
//
//   D(x, y) = Σ_{j=0..Ky-1} cy[Ky-1-j] · R(sy·y + oy + j, x)
//   R(r, x) = Σ_{i=0..Kx-1} cx[Kx-1-i] · S(clampC(sx·x + ox + i), clampR(r))
//
// with ox = x offset − (Kx−1)/2, oy = y offset − (Ky−1)/2 and the clamps to
// the source's columns and rows (edge pixels repeated outward). That is a true
// convolution centred on source pixel (sx·x + x offset, sy·y + y offset) for
// odd kernels. Products and sums are single precision, accumulated in the
// order of increasing i and j, each R rounded to float: the result is the same
// bit for bit on every code path and for any number of threads.
//
// Requirements (checked by assertions in debug builds; a job breaking them is
// skipped in release builds): both kernels hold at least one tap, steps are at
// least 1, the source is not empty. The kernels and the source stay unchanged
// until Execute returns. Destination and source may share memory (the job
// then goes through a private work buffer). Only the destination's width ×
// height pixels are written, never its row padding.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/array.h"
#include "image/filter_kernel.h"

class SeparableConvolution {
 public:
  // The kernels are referenced, not copied: they must outlive the batch run.
  SeparableConvolution(const ArrayMap<float>& destination, const ArrayMap<float>& source,
                       int x_offset, int y_offset, const FilterKernel& horizontal,
                       const FilterKernel& vertical, int x_step, int y_step);
  // Copies the description; the copy starts with an empty work buffer.
  SeparableConvolution(const SeparableConvolution& other);
  SeparableConvolution& operator=(const SeparableConvolution&) = delete;
  SeparableConvolution(SeparableConvolution&&) noexcept = default;
  SeparableConvolution& operator=(SeparableConvolution&&) noexcept = default;

  // Work split: Nc = (W−1)/125 + 1 column bands of at most 128 columns and
  // Nr = (sy·H−1)/(192 − 2·sy − Ky) + 1 row bands (0 for an empty destination).
  uint32_t ColumnBands() const { return column_bands_; }
  uint32_t RowBands() const { return row_bands_; }

 private:
  friend class SeparableConvolutionBatch;
  friend struct SeparableConvolutionBands;
  bool Valid() const;

  Array<float, 1> work_;
  ArrayMap<float> destination_;
  ArrayMap<float> target_;  // where the bands write: destination_ or work_'s plane
  ArrayMap<float> source_;
  int32_t x_origin_;
  int32_t y_origin_;
  const std::vector<float>* horizontal_;
  const std::vector<float>* vertical_;
  int32_t x_step_;
  int32_t y_step_;
  uint32_t column_bands_ = 0;
  uint32_t row_bands_ = 0;
  // First row of each row band, then the height: never decreasing, so bands
  // neither overlap nor leave rows out.
  std::vector<uint32_t> row_bounds_;
};

enum class ConvolutionPath { kBest, kFourLanes, kPortable };

class SeparableConvolutionBatch {
 public:
  // Copies the job into the queue.
  void Add(const SeparableConvolution& job) { jobs_.push_back(job); }
  size_t Size() const { return jobs_.size(); }

  // Runs every queued job on the worker pool (the caller takes part; inline
  // when the pool is busy) and returns when all are written; then empties the
  // queue. Jobs of one run must not read what another job of the run writes.
  // Throws "memory allocation failed" when a buffer cannot be had (the queue
  // is emptied all the same).
  void Execute();

  // For tests and benchmarks: the code path the band workers take. All give
  // the same bits; kBest picks the widest vector path the processor has.
  static void UsePath(ConvolutionPath path);

 private:
  friend struct SeparableConvolutionBands;
  static void BandWorker(void* context, void* item);

  int32_t unit_counter_ = 0;
  std::vector<SeparableConvolution> jobs_;
  // Scratch sizes of one band worker call, for the largest queued job.
  uint32_t max_source_columns_ = 0;
  uint32_t max_source_rows_ = 0;  // rounded up to a multiple of 4
  uint32_t max_taps_ = 0;
};
