// Feeds arbitrary bytes to the image-list rules: the input as an image list file, and its
// text split at the first zero byte (or its middle) as a given and a found name for
// sequence-name matching, extension and frame-selector tests.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "image/image_list.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* list = fuzz::WriteInput(data, size);
  const int32_t first = size > 0 ? int32_t(data[0] % 8) - 2 : -1;
  const int32_t last = size > 1 ? int32_t(data[1] % 64) - 2 : -1;
  ReadImageListFile(list, first, last);

  const char* text = reinterpret_cast<const char*>(data);
  const size_t split = std::find(text, text + size, '\0') != text + size
                           ? size_t(std::find(text, text + size, '\0') - text)
                           : size / 2;
  const std::string given(text, split);
  const std::string found(text + std::min(size, split + 1), text + size);
  MatchSequenceName(given.c_str(), found.c_str());
  size_t start = 0, end = 0;
  FindLastDigitRun(found.c_str(), &start, &end);
  HasExtension(given.c_str(), found.c_str());
  HasFrameSuffix(given.c_str());
  MakeFrameList(given.c_str(), int32_t(size % 40), first, last);
  return 0;
}
