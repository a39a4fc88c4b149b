#include "foundation/project/project_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/locale.h"

namespace {

TEST(ProjectFormatTest, VarintEncoding) {
  struct Case {
    int32_t value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {-1, {0x02}},
      {1, {0x04}},
      {-5, {0x12}},
      {2, {0x08}},  // "DeintMethod" 2 and 3 stand as 0x08 and 0x0c
      {3, {0x0c}},
      {63, {0xfc}},
      {-64, {0xfe}},
      {64, {0x01, 0x02}},
      {-65, {0x03, 0x02}},
      {300, {0xb1, 0x08}},
      {-300, {0xaf, 0x08}},
      {INT32_MAX, {0xfd, 0xff, 0xff, 0xff, 0x1e}},
      {INT32_MIN, {0xff, 0xff, 0xff, 0xff, 0x1e}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.value);
    uint8_t out[PF_MAX_VARINT_BYTES];
    int n = EncodeVarint(t.value, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + n), t.bytes);
  }
}

TEST(ProjectFormatTest, SinglesAreLittleEndian) {
  uint8_t bytes[4];
  EncodeSingle(1.0, bytes);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0, 0, 0x80, 0x3f}));
  EncodeSingle(-2.5, bytes);
  EXPECT_EQ(DecodeSingle(bytes), -2.5);
  EncodeSingle(0.1, bytes);  // rounded to float
  EXPECT_EQ(DecodeSingle(bytes), static_cast<double>(0.1f));
}

TEST(ProjectFormatTest, AsciiIntegers) {
  char out[PF_ASCII_NUMBER_SIZE];
  const std::pair<int32_t, const char*> cases[] = {
      {0, " 0"}, {-5, " -5"}, {12345, " 12345"}, {INT32_MIN, " -2147483648"}};
  for (const auto& [value, text] : cases) {
    int n = FormatAsciiInt(value, out);
    EXPECT_STREQ(out, text);
    EXPECT_EQ(n, static_cast<int>(std::string(text).size()));
  }
}

TEST(ProjectFormatTest, AsciiReals) {
  const std::pair<double, const char*> cases[] = {
      {1.5, " 1.5000000"},
      {2.0, " 2"},
      {123.25, " 123.25000"},
      {9.999999999, " 9.9999999"},  // no carry into the integer part
      {1234.5678, " 1234.5678"},
      {9999.99999, " 9999.9999"},
      {-3.25, " -3.2500000"},
      {0.5, " 0.5000"},
      {0.123456789, " 0.12345679"},
      {0.05, " 0.05000"},
      {0.0012345, " 0.0012345000"},
      {0.00012345678, " 0.00012345678"},
      {0.0999999999, " 0.099999999"},
      {-0.25, " -0.2500"},
      {0.0, " 0"},
      {-0.0, " 0"},
      {0.0001, " 0.0001"},
      {0.00005, " 5e-05"},
      {12345.678, " 12345.678"},
      {10000, " 10000"},
      {123456789.0, " 1.2345679e+08"},
      {-1e-20, " -1e-20"},
  };
  char out[PF_ASCII_NUMBER_SIZE];
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    FormatAsciiReal(value, out);
    EXPECT_STREQ(out, text);
  }
}

TEST(ProjectFormatTest, AsciiRealsIgnoreTheLocale) {
  // A locale with a decimal comma must not change what is written.
  std::string tiny, large;
  {
    kxtest::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma";
    char out[PF_ASCII_NUMBER_SIZE];
    FormatAsciiReal(0.00005, out);
    tiny = out;
    FormatAsciiReal(12345.678, out);
    large = out;
  }
  EXPECT_EQ(tiny, " 5e-05");
  EXPECT_EQ(large, " 12345.678");
}

TEST(ProjectFormatTest, AsciiRealsReadBackWithinEightDigits) {
  char out[PF_ASCII_NUMBER_SIZE];
  for (double v : {3.14159265358979, 0.000123456789, 0.98765432123, 8765.4321987, 1e-30, 6.02e23,
                   -42.4242424242}) {
    FormatAsciiReal(v, out);
    double back = std::strtod(out, nullptr);
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-7) << out;
  }
}

}  // namespace
