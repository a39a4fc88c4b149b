#include "features/image_pyramid.h"

#include "foundation/runtime/notify.h"
#include "image/separable_convolution.h"

ImagePyramid::ImagePyramid() = default;

void ImagePyramid::AllocLevels(uint32_t width, uint32_t height, uint32_t levels,
                               uint32_t x_subsampling, uint32_t y_subsampling) {
  if (!levels_.empty()) {
    if (levels == levels_.size() && x_subsampling == x_subsampling_ &&
        y_subsampling == y_subsampling_ && levels_[0].Width() == width &&
        levels_[0].Height() == height)
      return;
    levels_.clear();
  }
  if (x_subsampling - 1u > 31u)
    Notify(2,
           "ImagePyramid::AllocLevels: bad subsampling factor x: %d, must be in the range "
           "[1..32], keep old value: %d",
           static_cast<int>(x_subsampling), static_cast<int>(x_subsampling_));
  else
    x_subsampling_ = x_subsampling;
  if (y_subsampling - 1u > 31u)
    Notify(2,
           "ImagePyramid::AllocLevels: bad subsampling factor y: %d, must be in the range "
           "[1..32], keep old value: %d",
           static_cast<int>(y_subsampling), static_cast<int>(y_subsampling_));
  else
    y_subsampling_ = y_subsampling;

  levels_.resize(levels);
  for (Array<float, 1>& level : levels_) {
    level.Resize(width, height);
    width /= x_subsampling_;
    height /= y_subsampling_;
  }
  x_kernel_.SetSigma(0.9f * static_cast<float>(x_subsampling_));
  y_kernel_.SetSigma(0.9f * static_cast<float>(y_subsampling_));
}

void ImagePyramid::ComputeLevels() {
  if (levels_.empty()) {
    Notify(2, "ImagePyramid::ComputeLevels: call AllocLevels first");
    return;
  }
  SeparableConvolutionBatch batch;
  for (size_t i = 0; i < levels_.size(); ++i) {
    const Array<float, 1>& level = levels_[i];
    if (level.Width() == 0 || level.Height() == 0) {
      Notify(2, "ImagePyramid::ComputeLevels: level %d has size %ux%u, not computed from it on",
             static_cast<int>(i), level.Width(), level.Height());
      return;
    }
    if (i == 0) continue;
    batch.Add(SeparableConvolution(level.Plane(0), levels_[i - 1].Plane(0), 0, 0, x_kernel_,
                                   y_kernel_, static_cast<int>(x_subsampling_),
                                   static_cast<int>(y_subsampling_)));
    batch.Execute();  // the next level reads this one
  }
}

Array<float, 1>* ImagePyramid::GetCPicture(int level) {
  if (static_cast<unsigned>(level) >= levels_.size()) {
    Notify(2, "ImagePyramid::GetCPicture: level %d out of range", level);
    return nullptr;
  }
  return &levels_[static_cast<size_t>(level)];
}

const Array<float, 1>* ImagePyramid::GetCPicture(int level) const {
  return const_cast<ImagePyramid*>(this)->GetCPicture(level);
}

bool ImagePyramid::HasSameSize(const ImagePyramid& other) const {
  if (levels_.size() != other.levels_.size()) return false;
  for (size_t i = 0; i < levels_.size(); ++i) {
    const Array<float, 1>& a = levels_[i];
    const Array<float, 1>& b = other.levels_[i];
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
      Notify(2,
             "ImagePyramid::HasSameSize: level %d have different image sizes: (%dx%dx%d) - "
             "(%dx%dx%d)",
             static_cast<int>(i), static_cast<int>(a.Width()), static_cast<int>(a.Height()), 1,
             static_cast<int>(b.Width()), static_cast<int>(b.Height()), 1);
      return false;
    }
  }
  return true;
}
