// Feeds arbitrary bytes to the 2D track-file correlator as its track file and steps it over
// a few image pairs, as the tracking engine would, linking features as it reads them.
#include <cstdint>
#include <memory>
#include <vector>

#include "features/feature_image.h"
#include "features/track_file_correlator.h"
#include "fuzz/fuzz_input_file.h"

namespace {

constexpr int kImages = 6;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".ft2d");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = fuzz::WriteInput(data, size);
  std::vector<std::unique_ptr<FeatureImage>> images;
  for (int i = 0; i < kImages; ++i) {
    images.push_back(std::make_unique<FeatureImage>());
    images.back()->SetImageIndex(i);
  }
  {
    FeatureCorrelatorReadFT2DFile reader;
    reader.SetPath(path);
    for (int i = 0; i + 1 < kImages; ++i) {
      reader.SetFeatureImages(images[size_t(i)].get(), images[size_t(i) + 1].get());
      reader.Compute();
    }
  }
  // Features and their links hold each other: unlink before the images go.
  for (auto& image : images) image->ClearFPoints2D();
  return 0;
}
