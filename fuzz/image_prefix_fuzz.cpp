// Feeds arbitrary bytes to each reader of the image-file library directly: the first byte
// chooses a format prefix (or none) and a path suffix (none, a frame number or a byte
// offset, the second byte giving the number); the rest is the file.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_image_read.h"
#include "fuzz/fuzz_input_file.h"

namespace {

const char* const kPrefixes[] = {
    "",     "pbm:", "pgm:", "ppm:", "pnm:", "tga:",  "bmp:",   "jpg:",
    "gif:", "dpx:", "cin:", "yuv:", "tif:", "cyuv:", "paldv:", "ntscdv:"};
constexpr int kPrefixCount = sizeof kPrefixes / sizeof kPrefixes[0];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".img");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int prefix = data[0] % kPrefixCount;
  const int suffix = (data[0] / kPrefixCount) % 3;
  const int number = data[1];
  std::string path = kPrefixes[prefix];
  path += fuzz::WriteInput(data + 2, size - 2);
  if (suffix == 1) path += ":" + std::to_string(number);
  if (suffix == 2) path += ":@" + std::to_string(number);
  fuzz::ReadImageFile(path.c_str());
  return 0;
}
