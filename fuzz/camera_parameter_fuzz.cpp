// Feeds arbitrary bytes to the camera's parameter-file reader. The reader echoes the file's
// lines on the standard error stream, so the fuzzer runs it with that stream closed
// (-close_fd_mask=2; sanitizer reports still reach the fuzzer's own output).
#include <cstdint>

#include "foundation/camera/perspective_camera.h"
#include "fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".par");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PerspectiveCamera camera;
  camera.ReadParameter(fuzz::WriteInput(data, size));
  return 0;
}
