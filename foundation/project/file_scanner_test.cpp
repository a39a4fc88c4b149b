#include "foundation/project/file_scanner.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <functional>
#include <string>

#include "testing/temp_dir.h"
#include "testing/thrown.h"

namespace {

using kxtest::TempFile;
using kxtest::Thrown;

TEST(FileScannerTest, OpenFailures) {
  FileScanner scanner;
  EXPECT_EQ(Thrown([&] { scanner.Open("/nonexistent/kx/file.kpz"); }), "open: could not open file");
  TempFile file("x");
  scanner.Open(file.path());
  EXPECT_EQ(Thrown([&] { scanner.Open(file.path()); }), "open: file already open");
  scanner.Close();
  EXPECT_FALSE(scanner.IsOpen());
  scanner.Open(file.path());  // reusable after Close
  EXPECT_EQ(scanner.GetByte(), 'x');
  EXPECT_EQ(Thrown([&] { scanner.GetByte(); }), "unexpected end of file");
}

TEST(FileScannerTest, TokensAndStrings) {
  TempFile file("  \tKey12 {\r\n\"a}b-c\"\n+7 x\n");
  FileScanner in;
  in.Open(file.path());
  char buffer[16];
  EXPECT_EQ(in.GetAToken(buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "Key12");
  EXPECT_EQ(in.GetAToken(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "{");
  // '"' ends a token before it starts: an empty token, nothing consumed.
  EXPECT_EQ(in.GetAToken(buffer, sizeof buffer), 0);
  EXPECT_EQ(in.GetLine(), 2);
  EXPECT_EQ(in.GetByte(), '"');
  EXPECT_EQ(in.GetBString(buffer, sizeof buffer, '"', '"'), 5);
  EXPECT_STREQ(buffer, "a}b-c");
  EXPECT_EQ(in.GetAInt(), 7);
  in.SkipWhitespace();
  EXPECT_EQ(in.GetBString(buffer, 2, 0, 32), 1);
  EXPECT_STREQ(buffer, "x");
  EXPECT_EQ(in.GetLine(), 4);  // the LF terminator counted
  // The end of the file ends a token.
  EXPECT_EQ(in.GetAToken(buffer, sizeof buffer), 0);
  EXPECT_TRUE(in.AtEnd());
}

TEST(FileScannerTest, BufferOverflows) {
  TempFile file("ABCDEFGHIJKLMNOP abcdef\n");  // a 16-character token
  FileScanner in;
  in.Open(file.path());
  char buffer[16];
  EXPECT_EQ(Thrown([&] { in.GetAToken(buffer, sizeof buffer); }),
            "FileScanner::GetAToken: buffer overflow");
  in.Close();
  in.Open(file.path());
  EXPECT_EQ(Thrown([&] { in.GetBString(buffer, 10, 0, 32); }),
            "FileScanner::GetBString: buffer overflow");
}

TEST(FileScannerTest, AsciiNumbers) {
  struct Case {
    const char* text;
    bool is_int;
    double value;       // expected value when nothing is thrown
    const char* error;  // expected exception, or null
  };
  const Case cases[] = {
      {"12", true, 12, nullptr},
      {"-2147483648", true, -2147483648.0, nullptr},
      {"+2147483647", true, 2147483647, nullptr},
      {"2147483648", true, 0, "FileScanner::GetAInt: invalid format"},
      {"-2147483649", true, 0, "FileScanner::GetAInt: invalid format"},
      {"999999999999999", true, 0, "FileScanner::GetAInt: invalid format"},
      {"12a", true, 0, "FileScanner::GetAInt: invalid format"},
      {"1.5", true, 0, "FileScanner::GetAInt: invalid format"},
      {"-", true, 0, nullptr},
      {"}", true, 0, "FileScanner::GetAInt: invalid format"},
      {"1234567890123456", true, 0, "FileScanner::GetAToken: buffer overflow"},
      {"1.5x", false, 1.5, nullptr},
      {"-0.25", false, -0.25, nullptr},
      {"+3e2", false, 300, nullptr},
      {"1e-3", false, 0.001, nullptr},
      {"12345.678", false, 12345.678, nullptr},
      {"x1", false, 0, "FileScanner::GetAFloat: invalid format"},
      {"--1", false, 0, "FileScanner::GetAFloat: invalid format"},
      {"1e999", false, 0, "FileScanner::GetAFloat: invalid format"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.text);
    TempFile file(std::string(" ") + t.text + "\n");
    FileScanner in;
    in.Open(file.path());
    double value = -1;
    std::string error = Thrown([&] { value = t.is_int ? in.GetAInt() : in.GetAFloat(); });
    if (t.error != nullptr) {
      EXPECT_EQ(error, t.error);
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(value, t.value);
    }
  }
  // An empty token is the integer 0 but no real; at the end of the file both are missing.
  TempFile empty("\n\"");
  FileScanner in;
  in.Open(empty.path());
  EXPECT_EQ(in.GetAInt(), 0);
  EXPECT_EQ(Thrown([&] { in.GetAFloat(); }), "FileScanner::GetAFloat: invalid format");
  EXPECT_EQ(in.GetByte(), '"');
  EXPECT_EQ(Thrown([&] { in.GetAInt(); }), "unexpected end of file");
  EXPECT_EQ(Thrown([&] { in.GetAFloat(); }), "unexpected end of file");
}

TEST(FileScannerTest, Varints) {
  struct Case {
    std::string bytes;
    int32_t value;
    const char* error;
  };
  const Case cases[] = {
      {std::string("\x00", 1), 0, nullptr},
      {"\x02", -1, nullptr},
      {"\x04", 1, nullptr},
      {"\x12", -5, nullptr},
      {"\x01\x02", 64, nullptr},
      {"\xfe", -64, nullptr},
      {"\xb1\x08", 300, nullptr},
      {"\xaf\x08", -300, nullptr},
      {"\xfd\xff\xff\xff\x1e", INT32_MAX, nullptr},
      {"\xff\xff\xff\xff\x1e", INT32_MIN, nullptr},
      {"\xff\xff\xff\xff\x20", 0, "FileScanner::GetBInt: invalid format"},      // beyond 32 bits
      {"\x01\x01\x01\x01\x01\x02", 0, "FileScanner::GetBInt: invalid format"},  // 6 bytes
      {"\x01\x01", 0, "unexpected end of file"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(testing::PrintToString(t.bytes));
    TempFile file(t.bytes);
    FileScanner in;
    in.Open(file.path());
    int32_t value = 0;
    std::string error = Thrown([&] { value = in.GetBInt(); });
    EXPECT_EQ(error, t.error ? t.error : "");
    if (t.error == nullptr) {
      EXPECT_EQ(value, t.value);
    }
  }
}

TEST(FileScannerTest, LargeFileThroughTheWindow) {
  // Lines of varying length, so that window refills and moves fall inside tokens.
  std::string text;
  int lines = 0;
  for (int i = 0; text.size() < 5 * FileScanner::kBufferSize; ++i) {
    text += std::string(i % 37, ' ') + std::to_string(i) + "\n";
    ++lines;
  }
  TempFile file(text);
  FileScanner in;
  in.Open(file.path());
  for (int i = 0; i < lines; ++i) {
    ASSERT_EQ(in.GetAInt(), i);
    ASSERT_EQ(in.GetLine(), i + 1);
  }
  in.SkipWhitespace();
  EXPECT_EQ(in.GetLine(), lines + 1);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_EQ(Thrown([&] { in.Peek(1); }), "unexpected end of file");
}

TEST(FileScannerTest, PeekBeyondTheEndThrows) {
  TempFile file("abc");
  FileScanner in;
  in.Open(file.path());
  EXPECT_EQ(Thrown([&] { in.Peek(4); }), "unexpected end of file");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.Peek(3)), 3), "abc");
  EXPECT_EQ(Thrown([&] { in.Peek(FileScanner::kBufferSize + 1); }), "unexpected end of file");
}

}  // namespace
