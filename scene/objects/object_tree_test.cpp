#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scene/objects/nhs_object.h"
#include "scene/objects/serializer.h"
#include "scene/objects/stored_object_for_test.h"
#include "testing/log_capture.h"

namespace {

using Words = std::vector<uint32_t>;

constexpr uint32_t kOne = 0x3f800000;  // 1.0f

// A node that counts the living instances, to see that a failed read leaves none.
struct Counted : NHSObject {
  explicit Counted(uint16_t type) : NHSObject(type) { ++live; }
  ~Counted() override { --live; }
  static inline int live = 0;
};

NHSObject* CreateCounted(uint16_t type) {
  return IsStoredObjectType(type) ? new Counted(type) : nullptr;
}

Words Write(const NHSObject& object) {
  Serializer::Writer writer;
  NHSObject::WriteTree(object, writer);
  return writer.Words();
}

std::unique_ptr<NHSObject> Read(const Words& words) {
  Serializer::Reader reader(words);
  return std::unique_ptr<NHSObject>(NHSObject::ReadTree(reader, kxtest::CreateBareObject));
}

// The Serializer::Error a read throws, or 0.
int ReadError(const Words& words) {
  try {
    Serializer::Reader reader(words);
    delete NHSObject::ReadTree(reader, CreateCounted);
  } catch (Serializer::Error e) {
    return e;
  }
  return 0;
}

// The object chunk of an unnamed identity node of `type` without properties and children.
Words ObjectChunk(uint32_t type, uint16_t size = 16) {
  Words w = {Serializer::MakeHeader(1, size), type, 0, 0, 0};
  const uint32_t identity[12] = {kOne, 0, 0, 0, 0, kOne, 0, 0, 0, 0, kOne, 0};
  w.insert(w.end(), identity, identity + 12);
  return w;
}

std::string Name(const NHSObject* object) {
  const char* name = UIDRegistry::Instance().GetName(object->GetUID());
  return name ? name : "(none)";
}

TEST(ObjectTreeTest, GoldenWordsOfANamedNode) {
  NHSObject node(NHS_TYPE_CONE);
  node.SetTransform(Matrix3x4{{1, 0, 0, 0.1, 0, 1, 0, -2.5, 0, 0, 1, 1e-50}});
  UIDRegistry::Instance().SetName(node.GetUID(), "Cone_7");
  const Words expected = {
      0x00100001, 15,         1,          0,          0,  // object chunk
      kOne,       0,          0,          0x3dcccccd, 0,    kOne,
      0,          0xc0200000, 0,          0,          kOne, 0,  // transform, floats
      0x00020003, 0x656e6f43, 0x0000375f,                       // "Cone_7"
  };
  EXPECT_EQ(Write(node), expected);
}

TEST(ObjectTreeTest, StringChunks) {
  struct Case {
    const char* text;
    Words words;
  };
  const Case cases[] = {
      {"", {0x00010003, 0}},
      {"abc", {0x00010003, 0x00636261}},
      {"abcd", {0x00020003, 0x64636261, 0}},
      {"abcdefgh", {0x00030003, 0x64636261, 0x68676665, 0}},
      {"\xff", {0x00010003, 0x000000ff}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.text);
    Serializer::Writer writer;
    writer.PutString(t.text);
    EXPECT_EQ(writer.Words(), t.words);
    Serializer::Reader reader(writer.Words());
    EXPECT_EQ(reader.ReadString(), t.text);
    EXPECT_EQ(reader.Remaining(), 0u);
  }

  // The text never runs past its chunk, even without a NUL inside it; a size-0 chunk is
  // the empty text; a byte-swapped stream reads with the swap flag.
  const Words unterminated = {0x00010003, 0x64636261, 0x68676665};
  Serializer::Reader reader(unterminated);
  EXPECT_EQ(reader.ReadString(), "abcd");
  const Words empty = {0x00000003};
  EXPECT_EQ(Serializer::Reader(empty).ReadString(), "");
  const Words swapped = {0x00020003, 0x61626364, 0x65000000};
  Serializer::Reader swapped_reader(swapped.data(), swapped.data() + swapped.size(), true);
  EXPECT_EQ(swapped_reader.ReadString(), "abcde");
}

TEST(ObjectTreeTest, ATreeComesBackWithItsChildrenReversed) {
  NHSObject root(NHS_TYPE_MESH_ROOT);
  NHSObject* a = root.AddChild(new NHSObject(NHS_TYPE_CUBOID));
  NHSObject* b = root.AddChild(new NHSObject(NHS_TYPE_SPHERE));  // list order: b, a
  a->AddChild(new NHSObject(NHS_TYPE_RECT));
  UIDRegistry::Instance().SetName(root.GetUID(), "Mesh_0");
  UIDRegistry::Instance().SetName(b->GetUID(), "Sphere_3");
  a->AddProperty(new NHSProperty_Name("a label"));
  root.SetTransform(Matrix3x4{{0, -1, 0, 0.1, 1, 0, 0, 2, 0, 0, 1, 3}});

  const Words words = Write(root);
  std::unique_ptr<NHSObject> copy = Read(words);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetUIDType(), NHS_TYPE_MESH_ROOT);
  EXPECT_EQ(Name(copy.get()), "Mesh_0");
  EXPECT_EQ(copy->GetTransform().m[3], static_cast<double>(0.1f));  // stored as a float
  EXPECT_EQ(copy->GetTransform().m[1], -1.0);
  const NHSObject* first = copy->GetFirstChild();
  ASSERT_NE(first, nullptr);
  const NHSObject* second = first->GetNextSibling();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->GetUIDType(), NHS_TYPE_CUBOID);
  EXPECT_EQ(second->GetUIDType(), NHS_TYPE_SPHERE);
  EXPECT_EQ(Name(first), "(none)");
  EXPECT_EQ(Name(second), "Sphere_3");
  ASSERT_NE(first->FindProperty(NHSProperty_Name::kKind), nullptr);
  EXPECT_STREQ(static_cast<NHSProperty_Name*>(first->FindProperty(1))->GetName(), "a label");
  ASSERT_NE(first->GetFirstChild(), nullptr);
  EXPECT_EQ(first->GetFirstChild()->GetUIDType(), NHS_TYPE_RECT);
  // Saved again, the order turns once more.
  EXPECT_EQ(Write(*Read(Write(*copy))), words);
}

TEST(ObjectTreeTest, Errors) {
  Words named = ObjectChunk(NHS_TYPE_CUBOID);
  named[2] = 1;  // name flag
  named.insert(named.end(), {0x00020003, 0x64636261, 0});
  Words with_child = ObjectChunk(NHS_TYPE_CUBOID);
  with_child[4] = 1;  // one child
  Words bad_property = ObjectChunk(NHS_TYPE_CUBOID);
  bad_property[3] = 1;  // one property
  bad_property.insert(bad_property.end(), {2, 0x00010003, 0});
  Words long_chunk = ObjectChunk(NHS_TYPE_CUBOID, 20);
  long_chunk.insert(long_chunk.end(), {7, 7, 7, 7});
  Words name_not_a_string = ObjectChunk(NHS_TYPE_CUBOID);
  name_not_a_string[2] = 1;
  name_not_a_string.insert(name_not_a_string.end(), {0x00010002, 0});

  struct Case {
    const char* what;
    Words words;
    int error;
  };
  const Case cases[] = {
      {"a longer object chunk", long_chunk, 0},
      {"a named object", named, 0},
      {"object chunk too short", ObjectChunk(NHS_TYPE_CUBOID, 15), Serializer::ERROR_TOO_SHORT},
      {"type 13", ObjectChunk(13), Serializer::ERROR_BAD_TYPE},
      {"type 23", ObjectChunk(23), Serializer::ERROR_BAD_TYPE},
      {"type beyond 16 bits", ObjectChunk(0x10000 + NHS_TYPE_CUBOID), Serializer::ERROR_BAD_TYPE},
      {"the scene root", ObjectChunk(NHS_TYPE_SCENE), Serializer::ERROR_BAD_TYPE},
      {"wrong kind", {0x00100002}, Serializer::ERROR_WRONG_KIND},
      {"empty", {}, Serializer::ERROR_HEADER_PAST_END},
      {"cut before the name flag", Words(named.begin(), named.begin() + 2),
       Serializer::ERROR_WORD_PAST_END},
      {"cut inside the transform", Words(named.begin(), named.begin() + 10),
       Serializer::ERROR_VALUE_PAST_END},
      {"cut inside the name", Words(named.begin(), named.end() - 1),
       Serializer::ERROR_SKIP_PAST_END},
      {"cut before the extra words", Words(long_chunk.begin(), long_chunk.end() - 1),
       Serializer::ERROR_SKIP_PAST_END},
      {"cut before the child", with_child, Serializer::ERROR_HEADER_PAST_END},
      {"property word not 1", bad_property, Serializer::ERROR_BAD_TYPE},
      {"name chunk of another kind", name_not_a_string, Serializer::ERROR_WRONG_KIND},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    EXPECT_EQ(ReadError(t.words), t.error);
    EXPECT_EQ(Counted::live, 0);  // a partly read tree is destroyed
  }
}

TEST(ObjectTreeTest, NestingIsCapped) {
  // A chain of objects, each the one child of the one before.
  auto chain = [](int depth) {
    Words words;
    for (int i = 0; i <= depth; ++i) {
      Words object = ObjectChunk(NHS_TYPE_CUBOID);
      object[4] = i < depth ? 1 : 0;
      words.insert(words.end(), object.begin(), object.end());
    }
    return words;
  };
  EXPECT_EQ(ReadError(chain(NHSObject::kMaxStoredDepth)), 0);
  EXPECT_EQ(ReadError(chain(NHSObject::kMaxStoredDepth + 1)), Serializer::ERROR_TOO_DEEP);
  EXPECT_EQ(Counted::live, 0);
}

TEST(ObjectTreeTest, ATransformThatIsNotFiniteBecomesTheIdentity) {
  Words words = ObjectChunk(NHS_TYPE_CUBOID);
  words[5 + 3] = 0x7fc00000;  // NaN
  words[5 + 7] = 0x40000000;  // 2.0
  kxtest::LogCapture log;
  std::unique_ptr<NHSObject> object = Read(words);
  EXPECT_EQ(object->GetTransform().m[3], 0.0);
  EXPECT_EQ(object->GetTransform().m[7], 0.0);
  EXPECT_TRUE(log.Has("transform not finite"));
}

}  // namespace
