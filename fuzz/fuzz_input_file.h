// The per-process scratch file a fuzz target writes each input to, for readers that open
// their input by name. It lives in $TMPDIR (or /tmp) and is removed at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/runtime/notify.h"

namespace fuzz {

// Sets the file's name once (call from LLVMFuzzerInitialize); `extension` includes the dot.
inline const std::string& InputPath(const char* extension = nullptr) {
  static std::string path;
  if (path.empty() && extension) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir && *dir ? dir : "/tmp") + "/kx_fuzz_" + std::to_string(::getpid()) +
           extension;
    std::atexit([] { std::remove(InputPath().c_str()); });
  }
  return path;
}

// Writes the input to the file; aborts (a harness fault, not a finding) when it cannot.
inline const char* WriteInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path.c_str();
}

// The common set-up of LLVMFuzzerInitialize: the log keeps quiet (warnings about bad input
// would flood the output; fatal messages still abort) and the input file gets its name.
inline void Prepare(const char* extension) {
  NotifyContext::SetNotifyLevel(1);
  InputPath(extension);
}

}  // namespace fuzz
