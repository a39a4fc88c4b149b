// BundleAdjuster: the interface through which the feature maps and the key-frame
// selection refine the cameras of a list of feature images together with the 3D points
// their features observe. Cameras and points are changed in place. Implementations:
// BundleAdjusterSparse (bundle_adjuster_sparse.h) and the adjusters built on it.
//
// Image lists are ordered; the images belong to the tracking job (the list only holds
// references). Everything runs on the calling thread.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"

class FeatureImage;

class BundleAdjuster {
 public:
  using ImageList = std::vector<SharedPtr<FeatureImage>>;

  virtual ~BundleAdjuster();
  // Appends one image to the adjuster's list.
  virtual void AddFImage(const SharedPtr<FeatureImage>& image) = 0;
  // Replaces the list.
  virtual void SetFImageList(const ImageList& list) = 0;
  // Adjusts the current list (an implementation may restrict itself to the last n images).
  virtual bool Optimize(unsigned n) = 0;
  // SetFImageList(list), then Optimize(n).
  virtual bool Run(const ImageList& list, unsigned n) = 0;

  // Mean squared reprojection error per image coordinate over every feature of the
  // listed images that links a 3D point (direction points placed from the first image's
  // camera centre), projected with the image's camera: pixels^2, or mm^2 on the sensor
  // when in_pixels is false. Each image with a measurement stores its mean squared error
  // and its numbers of Cartesian and direction points in its statistics. 1e30 for an
  // empty list or when nothing was measured.
  static double GetMSE(const ImageList& list, bool in_pixels);
};
