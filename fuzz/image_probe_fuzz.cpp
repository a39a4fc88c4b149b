// Feeds arbitrary bytes to the image-file library as a file without a format prefix, so the
// probe picks the reader. A negative result is the library's contract; a crash, a hang or a
// sanitizer report is a fault.
#include <cstdint>

#include "foundation/runtime/notify.h"
#include "fuzz/fuzz_image_read.h"
#include "fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  NotifyContext::SetNotifyLevel(1);
  fuzz::InputPath(".img");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ReadImageFile(fuzz::WriteInput(data, size));
  return 0;
}
