#include "foundation/project/data_base_out.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "foundation/project/data_base.h"
#include "foundation/project/position_table.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/project/project_root.h"
#include "foundation/runtime/shared_ptr.h"
#include "testing/locale.h"

namespace {

using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::TempDir;

// One object with every kind of value, nested, written by the writer and by the test's
// byte builder: the two must agree byte for byte.
void WriteSample(DataBaseOut& out) {
  out.BeginRoot();
  out.BeginObject(PF_KEY_CTRACKMGR);
  out.WriteString(PF_KEY_NAME, "point \xc3\xa9 1");
  out.WriteInt(PF_KEY_ID, -70000);
  out.WriteFloat(PF_KEY_PIXEL_SIZE_X, 0.00005);
  const double xyz[3] = {12345.678, -1234.5678, 0.5};
  out.WriteFloats(PF_KEY_VEC3, xyz, 3);
  out.BeginObject(PF_KEY_VERT);
  out.PutKey(PF_KEY_DATA);
  out.BeginArray();
  const double a[2] = {1.5, 2.0}, b[2] = {-3.0, 0.123456789};
  out.PutArrayElement(a, 10, true);
  out.PutArrayElement(b, -1, false);
  out.EndArray();
  out.EndObject();
  out.EndObject();
  out.EndRoot();
}

std::string ExpectedSample(bool binary) {
  ProjectBytes w(binary);
  if (binary) {
    w.Byte(PF_KEY_KLX.id).Byte(PF_OBJECT_BEGIN);
  } else {
    w.Raw("KLX {\n");
  }
  w.Begin(PF_KEY_CTRACKMGR);
  w.Key(PF_KEY_NAME).Text("point \xc3\xa9 1").Eol();
  w.Key(PF_KEY_ID).Int(-70000).Eol();
  w.Key(PF_KEY_PIXEL_SIZE_X).Real(0.00005).Eol();
  w.Key(PF_KEY_VEC3).Real(12345.678).Real(-1234.5678).Real(0.5).Eol();
  w.Begin(PF_KEY_VERT);
  if (binary) {
    w.Key(PF_KEY_DATA).Byte(PF_ARRAY_BEGIN);
    w.Byte(BIN_VECTOR2).Real(1.5).Real(2.0).Int(10);
    w.Byte(BIN_VECTOR2).Real(-3.0).Real(0.123456789).Int(-1);
    w.Byte(PF_ARRAY_END);
  } else {
    w.Raw(
        "\t\tData [\n"
        "\t\t\t 1.5000000 2  10 ,\n"
        "\t\t\t -3 0.12345679  -1\n"
        "\t\t]\n");
  }
  w.End();
  w.End();
  w.Raw(binary ? std::string(1, char(PF_OBJECT_END)) : "}\n");
  return w.bytes();
}

TEST(DataBaseOutTest, WritesTheFormatByteForByteInBothModes) {
  // Numbers never depend on the locale.
  kxtest::DecimalCommaLocale comma;
  TempDir dir;
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ascii");
    const std::string path = dir.File(binary ? "b.kpz" : "a.kpz");
    DataBaseOut out;
    ASSERT_TRUE(out.Open(path.c_str(), binary ? 'b' : 'a'));
    EXPECT_EQ(out.IsBinary(), binary);
    WriteSample(out);
    EXPECT_TRUE(out.Good());
    EXPECT_TRUE(out.Close());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(kxtest::ReadText(path), ExpectedSample(binary));
  }
}

// What the writer writes, the reader reads: a field of each kind inside the root block.
struct Fields : DataBase {
  std::string name;
  int32_t id = 0;
  double real = 0, vec[3] = {0, 0, 0};
  bool CheckForField(DataBaseIn& in, const char* key) override {
    if (in.IsField(key, PF_KEY_NAME)) {
      char text[PF_MAX_TEXT + 1];
      in.GetString(text, sizeof text);
      name = text;
    } else if (in.IsField(key, PF_KEY_ID)) {
      id = in.GetInt();
    } else if (in.IsField(key, PF_KEY_FLGS)) {
      real = in.GetFloat();
    } else if (in.IsField(key, PF_KEY_VEC3)) {
      in.GetVec3(vec);
    } else {
      return false;
    }
    return true;
  }
};

TEST(DataBaseOutTest, TheReaderReadsWhatTheWriterWrote) {
  TempDir dir;
  const int32_t ints[] = {0, 1, -1, 64, -5, 2147483647, -2147483647 - 1};
  const double reals[] = {0.0, 1.0, -9.999999999, 0.05, 123.25, 1e-7, -3.5e12};
  for (bool binary : {false, true}) {
    for (size_t i = 0; i < std::size(ints); ++i) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(ints[i]) + " " +
                   std::to_string(reals[i]));
      const std::string path = dir.File("f.kpz");
      DataBaseOut out;
      ASSERT_TRUE(out.Open(path.c_str(), binary ? 'b' : 'a'));
      out.BeginRoot();
      out.BeginObject(PF_KEY_CTRACKMGR);
      out.WriteString(PF_KEY_NAME, "a \"quoted\" name");
      out.WriteInt(PF_KEY_ID, ints[i]);
      out.WriteFloat(PF_KEY_FLGS, reals[i]);
      const double v[3] = {reals[i], -reals[i], 0.25};
      out.WriteFloats(PF_KEY_VEC3, v, 3);
      out.EndObject();
      out.EndRoot();
      ASSERT_TRUE(out.Close());

      DataBaseIn in;
      in.Open(path.c_str());
      ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_KLX));
      ASSERT_EQ(in.GetIdentifier(), binary ? uint8_t{PF_OBJECT_BEGIN} : uint8_t{'{'});
      ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_CTRACKMGR));
      Fields fields;
      fields.RestoreObject(in);
      EXPECT_TRUE(AtBlockEnd(in));
      // Ascii has no escape for a double quote.
      EXPECT_EQ(fields.name, binary ? "a \"quoted\" name" : "a 'quoted' name");
      EXPECT_EQ(fields.id, ints[i]);
      const double tolerance = std::abs(reals[i]) * (binary ? 1e-7 : 1e-8);
      EXPECT_NEAR(fields.real, reals[i], tolerance);
      EXPECT_NEAR(fields.vec[1], -reals[i], tolerance);
      EXPECT_EQ(fields.vec[2], 0.25);
    }
  }
}

// The varint form is written in either mode (a stored word stream gives its length so);
// the reader's GetBInt takes every 32-bit value back.
TEST(DataBaseOutTest, VarIntsAndFourCharsInBothModes) {
  const int32_t values[] = {0, 1, -1, 63, -63, 64, -64, 300, -300, INT32_MAX, INT32_MIN};
  std::string bodies[2];
  for (bool binary : {false, true}) {
    bodies[binary] = kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
                       for (int32_t v : values) out.PutVarInt(v);
                       out.Put4Chars('A', '0', '\n', 'f');
                     }).substr(ProjectBytes(binary).bytes().size());
  }
  EXPECT_EQ(bodies[0], bodies[1]);
  ASSERT_GE(bodies[1].size(), 4u);
  EXPECT_EQ(bodies[1].substr(bodies[1].size() - 4), "A0\nf");

  kxtest::TempFile file(ProjectBytes(true).bytes() + bodies[1]);
  DataBaseIn in;
  in.Open(file.path());
  for (int32_t v : values) EXPECT_EQ(in.GetBInt(), v);
}

TEST(DataBaseOutTest, OpenFailures) {
  TempDir dir;
  const std::string path = dir.File("x.kpz");
  DataBaseOut out;
  {
    LogCapture log(5);
    EXPECT_FALSE(out.Open(path.c_str(), 'x'));
    EXPECT_TRUE(log.Has("DataBaseOut::Open: unknown output-mode should be 'a' or 'b'"));
  }
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(::access(path.c_str(), F_OK), -1);
  EXPECT_FALSE(out.Open(dir.File("missing/x.kpz").c_str(), 'a'));
  EXPECT_FALSE(out.Open(nullptr, 'b'));
  EXPECT_FALSE(out.Close());
}

TEST(DataBaseOutTest, WriteErrorsAreReported) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  for (char mode : {'a', 'b'}) {
    SCOPED_TRACE(mode);
    DataBaseOut out;
    ASSERT_TRUE(out.Open("/dev/full", mode));
    out.BeginRoot();
    // More than a stream buffer, so the failure shows before the close too.
    for (int i = 0; i < 20000; ++i) out.WriteString(PF_KEY_NAME, "a name of some length");
    EXPECT_FALSE(out.Good());
    out.EndRoot();
    EXPECT_FALSE(out.Close());
  }
  // A small save fails at the final flush.
  DataBaseOut out;
  ASSERT_TRUE(out.Open("/dev/full", 'a'));
  EXPECT_FALSE(out.Close());
}

struct Item {
  int value;
};

TEST(PositionTableTest, CountsOnlyNonNullEntries) {
  std::vector<SharedPtr<Item>> list;
  for (int i = 0; i < 6; ++i)
    list.push_back(i % 3 == 1 ? SharedPtr<Item>() : SharedPtr<Item>::Make(Item{i}));
  const PositionTable table(list);
  EXPECT_EQ(table.size(), 4u);
  const int expected[] = {0, -1, 1, 2, -1, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(table.Find(list[i].Get()), expected[i]) << i;
  Item other{9};
  EXPECT_EQ(table.Find(&other), -1);
  EXPECT_EQ(table.Find(nullptr), -1);
}

}  // namespace
