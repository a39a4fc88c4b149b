#include "export/writers/export_time.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/export_fixture_for_test.h"

namespace {

TEST(ExportTimeTest, CreationDateHasFixedFieldsAndEnglishNames) {
  struct Case {
    std::tm time;
    const char* text;
  } cases[] = {
      {{9, 5, 8, 1, 11, 126, 2, 0, 0, 0, nullptr}, "Tue Dec 01 08:05:09 2026\n"},
      {{0, 0, 0, 31, 0, 80, 4, 0, 0, 0, nullptr}, "Thu Jan 31 00:00:00 1980\n"},
      // Out-of-range fields are clamped rather than overflowing the line.
      {{99, 99, 99, 99, 42, 9000, 9, 0, 0, 0, nullptr}, "Sat Dec 99 99:99:99 9999\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatCreationDate(c.time), c.text);
  // The current time in both forms (MaskDates checks the form).
  kxtest::MaskDates("<" + CurrentCreationDate(), "<", "\n", "Aaa Aaa dd dd:dd:dd dddd");
  std::string iso = "untouched";
  ASSERT_TRUE(FormatIsoDateTime(iso));
  kxtest::MaskDates("<" + iso + ">", "<", ">", "dddd-dd-ddTdd:dd:dd");
}

}  // namespace
