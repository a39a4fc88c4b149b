#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(ConsoleTest, LinesFromManyThreadsStayWhole) {
  ::testing::internal::CaptureStderr();
  const std::string long_text(3000, 'q');  // longer than the formatting buffer on the stack
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &long_text] {
      for (int i = 0; i < 50; ++i) ConsolePrintf(stderr, "<%d %s>\n", t, long_text.c_str());
    });
  }
  for (auto& t : threads) t.join();
  const std::string out = ::testing::internal::GetCapturedStderr();
  size_t lines = 0;
  for (size_t pos = 0; pos < out.size();) {
    size_t end = out.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = out.substr(pos, end - pos);
    ASSERT_EQ(line.size(), 3000u + 4u);
    EXPECT_EQ(line.substr(3, 3000), long_text);
    ++lines;
    pos = end + 1;
  }
  EXPECT_EQ(lines, 200u);
}

}  // namespace
}  // namespace platform
