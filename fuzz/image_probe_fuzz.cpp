// Feeds arbitrary bytes to the image-file library as a file without a format prefix, so the
// probe picks the reader, then (for pictures of a modest size) to the sequence loader, which
// orients the picture and splits its fields. A negative result is the library's contract; a
// crash, a hang or a sanitizer report is a fault.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_image_read.h"
#include "fuzz/fuzz_input_file.h"
#include "image/sequence_loader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".img");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* path = fuzz::WriteInput(data, size);
  fuzz::ReadImageFile(path);
  SequenceLoader loader;
  int32_t width = 0, height = 0;
  if (loader.Open(&width, &height, path) > 0 && width > 0 && height > 0 &&
      int64_t{width} * height <= fuzz::kPixelBudget / 4) {
    std::vector<uint32_t> frame(size_t(width) * size_t(height));
    const PixelView view(frame.data(), uint32_t(width), uint32_t(width), uint32_t(height));
    loader.LoadFrame(view, path);
    loader.LoadLineDoubled(&view, nullptr, path);
  }
  return 0;
}
