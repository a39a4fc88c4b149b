#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/image_file_io.h"
#include "image/image_for_test.h"
#include "testing/log_capture.h"

namespace ImageFileIO {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

std::vector<uint8_t> Header(const char* chroma, bool swapped) {
  std::string text = std::string("lcmpyuv\n") + chroma + "\n";
  std::vector<uint8_t> b(text.begin(), text.end());
  b.insert(b.end(), {0, 0, 0, 64, 0, 0, 0, 48, 0, 0, 0, 0});
  if (swapped)
    for (size_t i = 0; i < b.size(); i += 4)
      std::swap(b[i], b[i + 3]), std::swap(b[i + 1], b[i + 2]);
  b.resize(64, 0);
  return b;
}

// The header is recognised in either byte order, but the coded data cannot be decoded: the
// reader says so with its own code.
TEST(CyuvReader, RecognisedButUnsupported) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string prefix;
    int32_t result;
  };
  std::vector<uint8_t> other = Header("420", false);
  other[8] = '9';
  std::vector<uint8_t> short_header = Header("422", false);
  short_header.resize(20);
  const Case cases[] = {
      {"4:2:0", Header("420", false), "", -99},
      {"byte-swapped 4:4:4", Header("444", true), "", -99},
      {"unknown chroma word", other, "cyuv:", -85},
      {"short header", short_header, "cyuv:", -84},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("c.cyuv"), c.bytes);
    auto ctx = std::make_unique<ImageFileContext>();
    kxtest::LogCapture log;
    EXPECT_EQ(OpenRead(ctx.get(), (c.prefix + dir.File("c.cyuv")).c_str()), c.result);
    EXPECT_EQ(log.Has("coded CYUV data is not supported"), c.result == -99);  // the log, not stderr
    Close(ctx.get());
  }
}

}  // namespace
}  // namespace ImageFileIO
