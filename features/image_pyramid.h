// ImagePyramid: a stack of single-band float levels. Level 0 is written by
// the user at full size; level i (i ≥ 1) is level i−1 pre-filtered with a
// Gaussian of sigma 0.9·factor and subsampled by the factor in x and y, so
// its pixel (x, y) is centred on pixel (sx·x, sy·y) of level i−1 (edge pixels
// repeated outward). Level sizes: each level is the previous one divided by
// the factors with truncation.
//
// Name and image index are labels for the pyramid's user; the pyramid never
// reads them. Level pointers from GetCPicture stay valid until AllocLevels
// changes the level count, size or factors. One thread at a time; finished
// pyramids may be read concurrently.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/numeric/array.h"
#include "image/filter_kernel.h"

class ImagePyramid {
 public:
  // No levels, Gaussian kernels of sigma 0.7, factors 2 and 2, empty name,
  // image index −1.
  ImagePyramid();

  // Sizes `levels` levels for a level 0 of width × height with the factors
  // (each 1 to 32; a bad factor is logged at level 2 and the stored one kept).
  // Nothing changes when the count, the factors and level 0's size are the
  // current ones. Sets the kernels' sigma to 0.9·factor. Throws "memory
  // allocation failed".
  void AllocLevels(uint32_t width, uint32_t height, uint32_t levels, uint32_t x_subsampling,
                   uint32_t y_subsampling);

  // Fills levels 1 and up from level 0, one level after the other. Without
  // levels logs at level 2 and does nothing. A level of zero width or height
  // (more levels than the image can be reduced) is refused with a level-2
  // message: it and the levels after it are not computed.
  void ComputeLevels();

  // The level, or null with a level-2 message when level is out of range.
  Array<float, 1>* GetCPicture(int level);
  const Array<float, 1>* GetCPicture(int level) const;

  // Same level count and every level of the same width and height; a level
  // that differs is logged at level 2.
  bool HasSameSize(const ImagePyramid& other) const;

  int NumberOfLevels() const { return static_cast<int>(levels_.size()); }
  uint32_t XSubsampling() const { return x_subsampling_; }
  uint32_t YSubsampling() const { return y_subsampling_; }
  const FilterKernel& XKernel() const { return x_kernel_; }
  const FilterKernel& YKernel() const { return y_kernel_; }
  const std::string& GetName() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  int GetImageIndex() const { return image_index_; }
  void SetImageIndex(int index) { image_index_ = index; }

 private:
  std::vector<Array<float, 1>> levels_;
  FilterKernel x_kernel_;
  FilterKernel y_kernel_;
  uint32_t x_subsampling_ = 2;
  uint32_t y_subsampling_ = 2;
  std::string name_;
  int image_index_ = -1;
};
