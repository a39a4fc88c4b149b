// Helpers shared by the image-file library tests: decoding a file, standard input from bytes,
// byte packing; the generic file helpers come from testing/temp_dir.h.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "testing/temp_dir.h"

namespace ImageFileIO::testing_util {

using kxtest::Bytes;
using kxtest::ReadFile;
using kxtest::TempDir;
using kxtest::WriteFile;

// Replaces standard input by the given bytes (through a pipe) for the lifetime of the object.
class StdinFrom {
 public:
  explicit StdinFrom(const std::vector<uint8_t>& bytes) {
    saved_ = ::dup(0);
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    if (!bytes.empty()) {
      EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    ::close(fds[1]);
    ::dup2(fds[0], 0);
    ::close(fds[0]);
  }
  ~StdinFrom() {
    ::dup2(saved_, 0);
    ::close(saved_);
  }

 private:
  int saved_;
};

// Everything a test wants to know about one image read through OpenRead and ReadRow.
struct Decoded {
  int32_t open_result = 0;
  int32_t row_result = 0;  // the first failing ReadRow, or 0
  int32_t rows_read = 0;
  std::string description;
  int32_t width = 0, height = 0;
  int channels = 0, orientation = 0, bits = 0;
  int32_t row_bytes = 0;
  std::vector<uint32_t> pixels;  // rows_read x width, in file order
};

inline Decoded Decode(const std::string& path) {
  auto ctx = std::make_unique<ImageFileContext>();
  Decoded d;
  d.open_result = OpenRead(ctx.get(), path.c_str());
  if (d.open_result == 0) {
    d.description = ctx->description;
    d.width = ctx->width;
    d.height = ctx->height;
    d.channels = ctx->channels;
    d.orientation = ctx->orientation;
    d.bits = ctx->bits_per_pixel;
    d.row_bytes = ctx->row_bytes;
    std::vector<uint32_t> row(size_t(ctx->width));
    for (int32_t y = 0; y < ctx->height; ++y) {
      d.row_result = ReadRow(row.data(), ctx.get());
      if (d.row_result != 0) break;
      d.pixels.insert(d.pixels.end(), row.begin(), row.end());
      ++d.rows_read;
    }
  }
  Close(ctx.get());
  return d;
}

// Decodes the file with standard error captured and expects `open_result` from opening it;
// a failure must also print "Error <result>" on standard error.
inline Decoded DecodeExpectingOpen(const std::string& path, int32_t open_result) {
  ::testing::internal::CaptureStderr();
  Decoded d = Decode(path);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(d.open_result, open_result);
  if (open_result != 0) {
    EXPECT_EQ(err, "Error " + std::to_string(open_result) + "\n");
  }
  return d;
}

inline void Append(std::vector<uint8_t>* out, const std::vector<uint8_t>& more) {
  out->insert(out->end(), more.begin(), more.end());
}

inline void PutLe16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}

inline void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

inline void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out->push_back(uint8_t(v >> s));
}

}  // namespace ImageFileIO::testing_util
