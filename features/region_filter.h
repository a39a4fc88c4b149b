// ImageFilter<float>: separable convolution of a one-band float picture with a pair of
// FilterKernels, first along the rows into a private intermediate picture, then along
// the columns into the output. Unlike SeparableConvolution it neither subsamples nor
// extends the picture at its edges: output pixels closer to an edge than half a kernel
// keep whatever the output held before (in place: the input's values).
//
// Each direction's work is cut into rectangular regions, one per job (HorizFilter,
// VertiFilter, both js::Jobs); the jobs run one after the other on the calling thread,
// all row work before any column work. Kernels of 3, 5 and 7 taps take unrolled loops
// that give exactly the result of the general formula.
//
// Not thread-safe: one filter is used by one thread at a time. The kernels must stay
// unchanged and alive during Convolve.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "features/picture.h"
#include "foundation/runtime/worker_pool.h"
#include "image/filter_kernel.h"

// A region of interest: top-left corner (x1, y1) and extent (sx, sy); the region
// reaches column x1 + sx and row y1 + sy inclusive. Ignored unless enabled.
struct ImageROI {
  int32_t x1 = 0;
  int32_t y1 = 0;
  int32_t sx = 0;
  int32_t sy = 0;
  bool enabled = false;

  // Clips the region to a width × height picture: the whole picture (0..width − 1,
  // 0..height − 1) when disabled; otherwise each bound the region gives replaces the
  // whole picture's only when it lies inside the picture. A region that ends before it
  // starts falls back to the whole picture with a level-2 message.
  void CalcClippedRegion(uint32_t width, uint32_t height, uint32_t& x1_out, uint32_t& x2_out,
                         uint32_t& y1_out, uint32_t& y2_out) const;

  // True when any of the five fields differs.
  bool IsDifferent(const ImageROI& other) const;
};

template <typename T>
class ImageFilter;

template <>
class ImageFilter<float> {
 public:
  // One job's inputs and region. Pointers are not owned.
  class RegionFilter {
   public:
    virtual ~RegionFilter() = default;

    // True when the job can run; otherwise false with a level-2 message: a missing
    // input, output or kernel (or a kernel without taps), input and output being one
    // picture, or pictures of different sizes.
    bool Check() const;

    const CPicture<float>* input = nullptr;
    const float* kernel = nullptr;  // taps, index 0 first
    uint32_t taps = 0;
    CPicture<float>* output = nullptr;
    int32_t x1 = 0, x2 = -1;  // columns of the region, inclusive
    int32_t y1 = 0, y2 = -1;  // rows of the region, inclusive
  };

  // Convolves the region's rows: output(x, y) = Σ c[K−1−i]·input(x − r + i, y) for the
  // region's columns at least r = K/2 from the left and right edges. A one-tap kernel
  // copies the region unchanged.
  class HorizFilter : public RegionFilter, public js::Job {
   public:
    void Work();
    void Run() override { Work(); }
  };

  // The same along the region's columns, for rows at least r from the top and bottom.
  class VertiFilter : public RegionFilter, public js::Job {
   public:
    void Work();
    void Run() override { Work(); }
  };

  // One job per direction, region of interest disabled.
  ImageFilter();
  ImageFilter(const ImageFilter&) = delete;
  ImageFilter& operator=(const ImageFilter&) = delete;

  // Replaces all jobs by n of each kind (at least one); the regions are recomputed at
  // the next Convolve.
  void SetNumberOfJobs(uint32_t n);

  // output = input convolved with row_kernel along the rows, then column_kernel along
  // the columns. input and output may be the same picture; another output is resized
  // to the input's size. When the input is narrower than the row kernel or lower than
  // the column kernel: a level-3 message, and the output becomes a copy of the input
  // (or stays as it is when both are one picture).
  void Convolve(const CPicture<float>& input, const FilterKernel& row_kernel,
                const FilterKernel& column_kernel, CPicture<float>& output);

  // Computes the job regions for the intermediate's size, when that size or the
  // enabled region of interest changed since the last call. A zero size logs at level
  // 2 and keeps the old regions.
  void SetupRegions();

  const CPicture<float>& Intermediate() const { return intermediate_; }
  const std::vector<std::unique_ptr<HorizFilter>>& HorizontalJobs() const { return horiz_; }
  const std::vector<std::unique_ptr<VertiFilter>>& VerticalJobs() const { return verti_; }

 private:
  CPicture<float> intermediate_;
  std::vector<std::unique_ptr<HorizFilter>> horiz_;
  std::vector<std::unique_ptr<VertiFilter>> verti_;
  ImageROI roi_;
  ImageROI last_roi_;
  uint32_t last_width_ = 0;
  uint32_t last_height_ = 0;
};
