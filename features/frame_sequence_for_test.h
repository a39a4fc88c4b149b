// Test helper: a short image sequence on disk, read through an image cache, with one
// feature image per frame, as a tracking job holds them; and single features to add.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/runtime/shared_ptr.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"

namespace kxtest {

// The owner a feature image asks for its frames.
class CacheOwner : public FeatureImageOwner {
 public:
  ImageCache* GetImageCache() override { return &cache; }
  ImageCache cache;
};

// Frames 0 .. frames - 1, each written by write(out, k) as a file with the given
// extension in the test's temporary directory (removed again at the end), listed in
// the owner's cache; the feature images are width x height, without distortion.
class FrameSequence {
 public:
  using FrameWriter = std::function<void(std::ofstream& out, int k)>;

  FrameSequence(int frames, int width, int height, const char* extension,
                const FrameWriter& write) {
    PackedStringListPtr list;
    list.Allocate();
    for (int k = 0; k < frames; ++k) {
      const std::string path = ::testing::TempDir() + "kx_frames_" + std::to_string(getpid()) +
                               "_" + std::to_string(counter_++) + "." + extension;
      std::ofstream out(path, std::ios::binary);
      write(out, k);
      out.close();
      paths_.push_back(path);
      list->Append(path.c_str(), 0);
    }
    EXPECT_EQ(owner_.cache.SetImageList(list, -1, -1), 0);
    for (int k = 0; k < frames; ++k) {
      images_.push_back(SharedPtr<FeatureImage>::Make(&owner_));
      FeatureImage& image = *images_.back();
      image.SetImageIndex(k);
      image.Set(image.GetC(), image.GetA(), image.GetH(), image.GetV(), width, height, 0.0,
                image.GetPixelSizeX(), image.GetPixelSizeY(), 0.0, 0, image.GetDistortionModel());
    }
  }
  ~FrameSequence() {
    // Features and their links form cycles: unlink before the images go.
    for (auto& image : images_) {
      image->ClearFPoints2D();
      image->ClearAnchors();
    }
    for (const auto& path : paths_) std::remove(path.c_str());
  }
  FrameSequence(const FrameSequence&) = delete;
  FrameSequence& operator=(const FrameSequence&) = delete;

  FeatureImage* operator[](int k) { return images_[k].Get(); }
  CacheOwner* owner() { return &owner_; }

 private:
  CacheOwner owner_;
  std::vector<SharedPtr<FeatureImage>> images_;
  std::vector<std::string> paths_;
  static inline int counter_ = 0;
};

// Adds a feature at (x, y) with the given flags to the image's feature list.
inline SharedPtr<FeaturePoint2D> AddFeature(FeatureImage* image, double x, double y,
                                            uint32_t flags = 0) {
  SharedPtr<FeaturePoint2D> f = SharedPtr<FeaturePoint2D>::Make(image, x, y);
  f->AssignFlags(flags);
  image->AddFPoint2D(f);
  return f;
}

}  // namespace kxtest
