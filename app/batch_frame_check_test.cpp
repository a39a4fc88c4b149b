#include "app/batch_frame_check.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

std::string Pgm(int width, int height) {
  return "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
         std::string(size_t(width * height), '\x80');
}

TEST(CheckSequenceFramesTest, NamesUnreadableAndOddSizedFrames) {
  kxtest::LogCapture log(2);
  kxtest::TempDir dir;
  const std::string frames[] = {
      Pgm(8, 6),
      Pgm(8, 6),
      Pgm(10, 6),                    // another size
      Pgm(8, 6).substr(0, 30),       // truncated inside the pixels
      "\x13\x37 random bytes \x01",  // no picture at all
      Pgm(8, 6),
  };
  PackedStringList files;
  for (int i = 0; i < 6; ++i) {
    const std::string name = dir.File("f" + std::to_string(i) + ".pgm");
    kxtest::WriteFile(name, frames[i]);
    files.Append(name.c_str(), 10 + i);
  }
  files.Append(dir.File("missing.pgm").c_str(), 16);

  const SequenceFrameCheck check = CheckSequenceFrames(files);
  EXPECT_EQ(check.width, 8);
  EXPECT_EQ(check.height, 6);
  ASSERT_EQ(check.other_size.size(), 1u);
  EXPECT_EQ(check.other_size[0].number, 12);
  EXPECT_EQ(check.other_size[0].what, "10 x 6");
  ASSERT_EQ(check.unreadable.size(), 3u);
  EXPECT_EQ(check.unreadable[0].number, 13);
  EXPECT_FALSE(check.unreadable[0].what.empty());
  EXPECT_EQ(check.unreadable[1].number, 14);
  EXPECT_EQ(check.unreadable[2].number, 16);
  EXPECT_EQ(check.unreadable[2].file, dir.File("missing.pgm"));
}

TEST(CheckSequenceFramesTest, NothingReadableHasNoSize) {
  kxtest::LogCapture log(2);
  PackedStringList files;
  files.Append("/nonexistent/a.pgm", 0);
  const SequenceFrameCheck check = CheckSequenceFrames(files);
  EXPECT_EQ(check.width, 0);
  EXPECT_EQ(check.unreadable.size(), 1u);
  EXPECT_TRUE(check.other_size.empty());
}

}  // namespace
