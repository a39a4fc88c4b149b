#include "app/log_file_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "testing/temp_dir.h"

namespace {

SharedPtr<NotifyMessage> Line(const char* text) {
  auto line = SharedPtr<NotifyMessage>::Make();
  line->level = 3;
  line->length = int32_t(std::strlen(text));
  std::memcpy(line->text, text, size_t(line->length) + 1);
  return line;
}

TEST(LogFileWriterTest, WritesEachLineWithLineFeedAndFlushesIt) {
  kxtest::TempDir dir;
  const std::string path = dir.File("kalvex.log");
  LogFileWriter writer;
  writer.Output(Line("before any file"));  // closed: dropped, no crash
  ASSERT_TRUE(writer.Open(path));
  writer.Output(Line("Notice: first"));
  // Only the stored length counts: a text longer than its length is cut there.
  auto cut = Line("Warning: second and more");
  cut->length = 15;
  writer.Output(cut);
  // Read while the writer still holds the file: every line is already on disk.
  EXPECT_EQ(kxtest::ReadText(path), "Notice: first\nWarning: second\n");
}

TEST(LogFileWriterTest, ReopeningClosesTheOldFileAndStartsTheNewOneEmpty) {
  kxtest::TempDir dir;
  LogFileWriter writer;
  ASSERT_TRUE(writer.Open(dir.File("a.log")));
  writer.Output(Line("to a"));
  ASSERT_TRUE(writer.Open(dir.File("b.log")));
  writer.Output(Line("to b"));
  EXPECT_EQ(kxtest::ReadText(dir.File("a.log")), "to a\n");
  EXPECT_EQ(kxtest::ReadText(dir.File("b.log")), "to b\n");
  // Opened for writing, not appending: the same file again starts empty.
  ASSERT_TRUE(writer.Open(dir.File("a.log")));
  EXPECT_EQ(kxtest::ReadText(dir.File("a.log")), "");

  // A file that cannot be made leaves the writer closed, the previous file closed too.
  EXPECT_FALSE(writer.Open(dir.File("no/such/folder.log")));
  EXPECT_FALSE(writer.IsOpen());
  writer.Output(Line("dropped"));
  EXPECT_EQ(kxtest::ReadText(dir.File("a.log")), "");
}

TEST(LogFileWriterDeathTest, AFatalLineReachesTheFileBeforeTheProcessEnds) {
  if (NotifyContext::Instance().LevelFixed()) GTEST_SKIP() << "NFY_LEVEL is set";
  kxtest::TempDir dir;
  const std::string path = dir.File("fatal.log");
  EXPECT_DEATH(
      {
        LogFileWriter writer;
        writer.Open(path);
        NotifyContext::SetOutputFunction(&writer);
        Notify(1, "Broken::Invariant: index %d out of range", 7);
      },
      "");
  EXPECT_EQ(kxtest::ReadText(path), "Fatal: index 7 out of range\n");
}

}  // namespace
