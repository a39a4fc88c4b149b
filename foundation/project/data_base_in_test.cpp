#include "foundation/project/data_base_in.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "foundation/project/data_base.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/random_generator.h"

namespace {

using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::TempFile;
using kxtest::Thrown;

// Reads the next field's identifier the way an object reader does: the key (ascii) or
// the current field identifier (binary, then the result is null).
const char* NextField(DataBaseIn& in, char (&key)[16]) {
  if (in.IsBinary()) {
    in.SetFieldId(in.GetIdentifier());
    return nullptr;
  }
  in.GetAToken(key, sizeof key);
  return key;
}

// A small stored class: a named point with an id and nested child points.
struct Sample : DataBase {
  double xy[2] = {0, 0};
  int32_t id = 0;
  std::string name;
  std::vector<Sample> children;

  bool CheckForField(DataBaseIn& in, const char* key) override {
    if (in.IsField(key, PF_KEY_VEC2)) {
      in.GetVec2(xy);
    } else if (in.IsField(key, PF_KEY_ID)) {
      id = in.GetInt();
    } else if (in.IsField(key, PF_KEY_NAME)) {
      char buffer[PF_MAX_TEXT + 1];
      in.GetString(buffer, sizeof buffer);
      name = buffer;
    } else if (in.IsField(key, PF_KEY_FP2D)) {
      children.emplace_back();
      children.back().RestoreObject(in);
    } else {
      return false;
    }
    return true;
  }
};

// Writes a Sample tree as the object `key`, with an unknown field after "Id".
void WriteSample(ProjectBytes& w, const ProjectKey& key, const Sample& s, bool with_unknown) {
  w.Begin(key);
  w.Key(PF_KEY_NAME).Text(s.name).Eol();
  w.Key(PF_KEY_VEC2).Real(s.xy[0]).Real(s.xy[1]).Eol();
  w.Key(PF_KEY_ID).Int(s.id).Eol();
  if (with_unknown) {
    // An object of a newer program version, with a nested object inside.
    w.Begin(ProjectKey{"Future", 0x99});
    w.Key(PF_KEY_ID).Int(3).Eol();
    w.Begin(ProjectKey{"Deeper", 0x98});
    w.End();
    w.End();
  }
  for (const Sample& child : s.children) WriteSample(w, PF_KEY_FP2D, child, false);
  w.End();
}

Sample MakeTree() {
  Sample root;
  root.name = "root point";
  root.xy[0] = 1.5;
  root.xy[1] = -0.25;
  root.id = -70000;
  for (int i = 0; i < 3; ++i) {
    Sample child;
    child.name = "c" + std::to_string(i);
    child.xy[0] = 100.0 + i;
    child.xy[1] = 0.5 * i;
    child.id = i * 64;
    root.children.push_back(child);
  }
  return root;
}

void ExpectSameTree(const Sample& a, const Sample& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.xy[0], b.xy[0]);
  EXPECT_EQ(a.xy[1], b.xy[1]);
  EXPECT_EQ(a.id, b.id);
  ASSERT_EQ(a.children.size(), b.children.size());
  for (size_t i = 0; i < a.children.size(); ++i) ExpectSameTree(a.children[i], b.children[i]);
}

TEST(DataBaseInTest, HeaderErrors) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "DataBaseIn::Open: wrong magic number"},
      {"KLXQ\nVersion 1.0\n", "DataBaseIn::Open: wrong magic number"},
      {"KLXPKLXPKLXPKLXPKLXP\n", "DataBaseIn::Open: wrong magic number"},
      {"KLXP\nVersio 1.0\n", "DataBaseIn::Open: Version missing"},
      {"KLXP\n", "DataBaseIn::Open: Version missing"},
      {"KLXP\nVersion 2.0\nMode ascii\n", "DataBaseIn::Open: wrong version"},
      {"KLXP\nVersion 1.01\nMode ascii\n", "DataBaseIn::Open: wrong version"},
      {"KLXP\nVersion one\nMode ascii\n", "DataBaseIn::Open: wrong version"},
      {"KLXP\nVersion 1.0\nmode ascii\n", "DataBaseIn::Open: Mode missing"},
      {"KLXP\nVersion 1.0\nMode text\n", "DataBaseIn::Open: unknown Mode"},
      {"KLXP\nVersion 1.0\nMode binary\nEndianness big\n", "DataBaseIn::Open: Endianness missing"},
      {"KLXP\nVersion 1.0\nMode binary\nEndian middle\n", "DataBaseIn::Open: unknown Endian"},
      {"KLXP\nVersion 1.0\nMode binary\nEndian big \n", "DataBaseIn::Open: LF missing"},
      {"KLXP\nVersion 1.0\nMode binary\nEndian big", "unexpected end of file"},
      {"KLXP\nVersion 1.0\nMode ascii\n", ""},
      {"KLXP\r\nVersion 1.0\r\nMode binary\r\nEndian little\r\n", ""},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text);
    TempFile file(text);
    DataBaseIn in;
    EXPECT_EQ(Thrown([&] { in.Open(file.path()); }), error);
  }
  DataBaseIn in;
  EXPECT_EQ(Thrown([&] { in.Open("/nonexistent/kx/project.kpz"); }), "open: could not open file");
}

TEST(DataBaseInTest, RestoresObjectsInBothModesAndSkipsUnknownFields) {
  const Sample tree = MakeTree();
  for (bool binary : {false, true}) {
    for (const char* endian : {"big", "little"}) {
      if (!binary && std::string(endian) == "little") continue;
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + endian);
      ProjectBytes w(binary);
      if (binary) w.bytes().replace(w.bytes().find("big"), 3, endian);
      WriteSample(w, PF_KEY_FP3D, tree, true);
      w.Key(PF_KEY_ID).Int(77).Eol();  // something after the object
      TempFile file(w.bytes());

      DataBaseIn in;
      in.Open(file.path());
      EXPECT_EQ(in.IsBinary(), binary);
      char key[16];
      const char* name = NextField(in, key);
      EXPECT_TRUE(in.IsField(name, PF_KEY_FP3D));
      Sample restored;
      LogCapture log;
      restored.RestoreObject(in);
      ExpectSameTree(restored, tree);
      EXPECT_NE(log.text.find(binary ? "field id 0x99" : "field Future"), std::string::npos)
          << log.text;
      EXPECT_TRUE(in.IsField(NextField(in, key), PF_KEY_ID));
      EXPECT_EQ(in.GetInt(), 77);
      EXPECT_EQ(in.GetLine(), binary ? 5 : 29);
    }
  }
}

TEST(DataBaseInTest, ObjectErrors) {
  struct Case {
    bool binary;
    std::string body;
    const char* error;
  };
  const Case cases[] = {
      {false, " [\n}\n", "DataBase::RestoreObject: missing separator"},
      {true, "\x13\x11", "DataBase::RestoreObject: missing separator"},
      {false, " {\n\tVec2 1 2\n", "unexpected end of file"},
      {false, " {\n\tVec2 1", "unexpected end of file"},
      {true, "\x10\x41\x00\x00", "unexpected end of file"},
      {false, " {\n\tVec2 1 2\n\tName \"open text\n}\n", "unexpected end of file"},
      {false, " {\n\tName noquote\n}\n", "DataBaseIn::GetString: missing \""},
      {false, " {\n\tId 12a\n}\n", "FileScanner::GetAInt: invalid format"},
      {false, " {\n\tVeryLongFieldKey 1\n}\n", "FileScanner::GetAToken: buffer overflow"},
      {true, "\x10\x20\xff\xff\xff\xff\xff\x11", "FileScanner::GetBInt: invalid format"},
      {true, "\x10\x99\x04\x20\x02\x11",
       "DataBaseIn::SkipObject: unknown binary field is not an object"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.body);
    ProjectBytes w(t.binary);
    TempFile file(w.bytes() + t.body);
    DataBaseIn in;
    in.Open(file.path());
    Sample s;
    EXPECT_EQ(Thrown([&] { s.RestoreObject(in); }), t.error);
  }
  // A class that stores nothing of its own must say so.
  ProjectBytes w(false);
  TempFile file(w.bytes() + " {\n\tId 1\n}\n");
  DataBaseIn in;
  in.Open(file.path());
  DataBase plain;
  EXPECT_EQ(Thrown([&] { plain.RestoreObject(in); }),
            "DataBase::CheckForField: has to be implemented for the derived class");
}

TEST(DataBaseInTest, AsciiSkipsOneTokenTextOrBlock) {
  struct Case {
    const char* body;
    int32_t id;
    const char* name;
  };
  const Case cases[] = {
      {" {\n\tFuture 12\n\tId 5\n}\n", 5, ""},
      {" {\n\tFuture \"a } b {\"\n\tName \"n\"\n}\n", 0, "n"},
      {" {\n\tFuture { Name \"}\" { } }\n\tId 7\n}\n", 7, ""},
      {" {\n\tId 9\n\tFuture\n}\n", 9, ""},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.body);
    ProjectBytes w(false);
    TempFile file(w.bytes() + t.body);
    DataBaseIn in;
    in.Open(file.path());
    Sample s;
    LogCapture log;
    s.RestoreObject(in);
    EXPECT_EQ(s.id, t.id);
    EXPECT_EQ(s.name, t.name);
    EXPECT_NE(log.text.find("skip unknown: field Future"), std::string::npos) << log.text;
    in.SkipWhitespace();
    EXPECT_TRUE(in.AtEnd());
  }
}

TEST(DataBaseInTest, LongTextsAreCut) {
  const std::string long_name(300, 'n');
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    ProjectBytes w(binary);
    w.Key(PF_KEY_NAME).Text(long_name).Eol();
    w.Key(PF_KEY_ID).Int(5).Eol();
    TempFile file(w.bytes());
    DataBaseIn in;
    in.Open(file.path());
    Sample s;
    char key[16];
    ASSERT_TRUE(s.CheckForField(in, NextField(in, key)));
    EXPECT_EQ(s.name, long_name.substr(0, PF_MAX_TEXT));
    ASSERT_TRUE(s.CheckForField(in, NextField(in, key)));
    EXPECT_EQ(s.id, 5);
    // Camera keys are fields of ascii files only; binary files hold one camera record.
    in.SetFieldId(PF_ASCII_ONLY);
    EXPECT_EQ(in.IsField(binary ? nullptr : "CVec", PF_KEY_CVEC), !binary);
  }
}

TEST(DataBaseInTest, EveryTruncationThrowsATextAndNeverCrashes) {
  const Sample tree = MakeTree();
  for (bool binary : {false, true}) {
    ProjectBytes w(binary);
    WriteSample(w, PF_KEY_FP3D, tree, true);
    const std::string whole = w.bytes();
    const size_t body = ProjectBytes(binary).bytes().size();
    // An ascii file cut only before its last LF is complete.
    const size_t end = binary ? whole.size() : whole.size() - 1;
    for (size_t cut = body; cut < end; ++cut) {
      TempFile file(whole.substr(0, cut));
      DataBaseIn in;
      in.Open(file.path());
      LogCapture log;
      std::string error = Thrown([&] {
        char key[16];
        NextField(in, key);
        Sample s;
        s.RestoreObject(in);
      });
      ASSERT_NE(error, "") << "binary " << binary << " cut " << cut;
    }
  }
}

TEST(DataBaseInTest, RandomBodiesThrowTextsOrEnd) {
  // Hostile input: random bytes after a valid header, biased towards the format's own
  // marks, must end in a thrown text or a finished object, never in a crash or a hang.
  RandomGenerator random(4711);
  const char alphabet[] = {0x10, 0x11, 0x13, 0x14, 0x41, 0x20, 0x22, 0x70, '{', '}',
                           '"',  ' ',  '\n', '1',  '-',  '.',  'I',  'd',  0,   0x7f};
  for (int round = 0; round < 300; ++round) {
    bool binary = round % 2 == 0;
    std::string bytes = ProjectBytes(binary).bytes() + (binary ? "\x10" : " {\n");
    int length = static_cast<int>(random.Next() % 64);
    for (int i = 0; i < length; ++i) {
      uint32_t r = random.Next();
      bytes += (r & 1) ? alphabet[(r >> 1) % sizeof alphabet] : static_cast<char>(r >> 8);
    }
    TempFile file(bytes);
    DataBaseIn in;
    in.Open(file.path());
    Sample s;
    LogCapture log;
    Thrown([&] { s.RestoreObject(in); });
  }
}

// Stands in for the tracking manager: records the order of the calls Read makes.
struct FakeManager : Sample {
  std::vector<std::string> calls;
  void Clear() { calls.push_back("Clear"); }
  void RestoreObject(DataBaseIn& in) override {
    calls.push_back("Restore");
    Sample::RestoreObject(in);
  }
  void PostProcessDataBaseIn() { calls.push_back("PostProcess"); }
};

TEST(DataBaseInTest, ReadChecksTheManagerIdentifier) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    ProjectBytes good(binary);
    Sample tree = MakeTree();
    WriteSample(good, PF_KEY_CTRACKMGR, tree, false);
    TempFile good_file(good.bytes());
    DataBaseIn in;
    in.Open(good_file.path());
    FakeManager manager;
    in.Read(manager);
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"Clear", "Restore", "PostProcess"}));
    EXPECT_EQ(manager.children.size(), 3u);

    ProjectBytes bad(binary);
    WriteSample(bad, PF_KEY_FIMAGE, tree, false);
    TempFile bad_file(bad.bytes());
    DataBaseIn in2;
    in2.Open(bad_file.path());
    FakeManager untouched;
    EXPECT_EQ(Thrown([&] { in2.Read(untouched); }), "DataBaseIn::Read: unexpected ident");
    EXPECT_TRUE(untouched.calls.empty());
  }
}

}  // namespace
