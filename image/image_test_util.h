// Helpers shared by the image-file library tests: a private temporary directory and file I/O.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ImageFileIO::testing_util {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "kx_image_XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    EXPECT_NE(made, nullptr);
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

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

}  // namespace ImageFileIO::testing_util
