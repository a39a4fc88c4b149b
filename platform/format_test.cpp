#include "platform/format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace platform {
namespace {

TEST(FormatTest, TruncatesTerminatesAndReportsTheFullLength) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "%s-%ld", "frame", 1234L), 10);
  EXPECT_STREQ(buffer, "frame-1");
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "%d", 42), 2);
  EXPECT_STREQ(buffer, "42");
  EXPECT_EQ(FormatBounded(nullptr, 0, "%05d", 7), 5) << "size 0 only measures";
}

}  // namespace
}  // namespace platform
