#include "platform/string_compare.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

TEST(StringCompareTest, FoldsAsciiCaseOnly) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"DeBuG_03", "debug_03", 0},
      {"abc", "ABD", -1},
      {"abc", "ab", 1},
      {"", "", 0},
      {"_", "A", -1},        // lower-case folding puts "_" before letters, unlike strcmp
      {"\xC4", "\xE4", -1},  // non-ASCII bytes are not folded
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareNoCase(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ(Sign(CompareNoCase(c.b, c.a)), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST(StringCompareTest, BoundedCompareStopsAfterN) {
  EXPECT_EQ(CompareNoCaseN("HELP-me", "help-you", 5), 0);
  EXPECT_NE(CompareNoCaseN("HELP-me", "help-you", 6), 0);
  EXPECT_EQ(CompareNoCaseN("ab", "AB", 10), 0);
  EXPECT_EQ(CompareNoCaseN("x", "y", 0), 0);
}

}  // namespace
}  // namespace platform
