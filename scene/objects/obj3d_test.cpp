#include "scene/objects/obj3d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_bytes_for_test.h"
#include "scene/objects/curved_primitives.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/primitives.h"
#include "scene/objects/serializer.h"
#include "scene/objects/stored_object_for_test.h"
#include "scene/objects/stored_words_for_test.h"
#include "scene/objects/texture_pow2.h"

namespace {

using kxtest::TempFile;
using kxtest::Thrown;

std::string Header(bool binary) {
  return kxtest::ProjectBytes(binary).bytes();
}

// The file body `write` produces, header left out.
std::string Body(bool binary, const std::function<void(DataBaseOut&)>& write) {
  return kxtest::WrittenBytes(binary, write).substr(Header(binary).size());
}

// Loads the fields of a body until the closing mark; the thrown text or "".
std::string Load(bool binary, const std::string& body, NHSObject& root,
                 NHSObjectFactory factory = kxtest::CreateBareObject) {
  TempFile file(Header(binary) + body);
  return Thrown([&] {
    DataBaseIn in;
    in.Open(file.path());
    Scene3D::LoadObjects(root, in, factory);
    if (!binary) in.SkipWhitespace();
    if (!in.AtEnd()) throw "bytes after the closing mark";
  });
}

std::vector<uint16_t> ChildTypes(const NHSObject& root) {
  std::vector<uint16_t> types;
  for (const NHSObject* c = root.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    types.push_back(c->GetUIDType());
  }
  return types;
}

TEST(Obj3DTest, FieldBytesInBothModes) {
  std::vector<uint32_t> nine;
  for (uint32_t i = 0; i < 9; ++i) nine.push_back(0xA0B0C0D0u + i);
  const std::string binary = Body(true, [&](DataBaseOut& out) {
    Scene3D::WriteObj3DField({0x01020304, 0xA0B0C0D0}, out);
    Scene3D::WriteObj3DField({}, out);
  });
  EXPECT_EQ(binary, std::string("\xa0\x10\x08\x01\x02\x03\x04\xa0\xb0\xc0\xd0"
                                "\xa0\x10\x00",
                                14));
  const std::string text = Body(false, [&](DataBaseOut& out) {
    Scene3D::WriteObj3DField(nine, out);
    Scene3D::WriteObj3DField({0x0000000f}, out);
  });
  EXPECT_EQ(text,
            "Obj3D {\n 9\n"
            "A0B0C0D0A0B0C0D1A0B0C0D2A0B0C0D3A0B0C0D4A0B0C0D5A0B0C0D6A0B0C0D7\n"
            "A0B0C0D8"
            "Obj3D {\n 1\n0000000F");
}

TEST(Obj3DTest, ObjectsComeBackInReverseOrderAfterTheManagersObject) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    NHSObject_Scene scene;
    NHSObject* a = scene.AddChild(new NHSObject(NHS_TYPE_CUBOID));
    scene.AddChild(new NHSObject(NHS_TYPE_GRID));  // built-in: not stored
    NHSObject* b = scene.AddChild(new NHSObject(NHS_TYPE_CONE));
    a->AddChild(new NHSObject(NHS_TYPE_SPHERE));
    UIDRegistry::Instance().SetName(b->GetUID(), "Cone_0");
    const std::string body =
        Body(binary, [&](DataBaseOut& out) { Scene3D::WriteObj3D(scene, out); });
    EXPECT_EQ(body.back(), binary ? '\x11' : '\n');

    NHSObject_Scene loaded;
    EXPECT_EQ(Load(binary, body, loaded), "");
    EXPECT_EQ(ChildTypes(loaded), (std::vector<uint16_t>{NHS_TYPE_CUBOID, NHS_TYPE_CONE}));
    EXPECT_EQ(ChildTypes(*loaded.GetFirstChild()), std::vector<uint16_t>{NHS_TYPE_SPHERE});
    EXPECT_STREQ(
        UIDRegistry::Instance().GetName(loaded.GetFirstChild()->GetNextSibling()->GetUID()),
        "Cone_0");

    // No user objects: the closing mark alone.
    NHSObject_Scene empty;
    empty.AddChild(new NHSObject(NHS_TYPE_CAMERA));
    const std::string closing =
        Body(binary, [&](DataBaseOut& out) { Scene3D::WriteObj3D(empty, out); });
    EXPECT_EQ(closing, binary ? "\x11" : "}\n");
    EXPECT_EQ(Load(binary, closing, empty), "");
    EXPECT_EQ(empty.CountChildren(), 1);
  }
}

// Words as the text form holds them: an LF before the 1st, 9th, 17th, .. word.
std::string TextWords(const std::vector<uint32_t>& words, bool lower) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    char hex[9];
    std::snprintf(hex, sizeof hex, lower ? "%08x" : "%08X", words[i]);
    text += (i % 8 == 0 ? "\n" : "") + std::string(hex);
  }
  return text;
}

// The 17 words of an unnamed identity cuboid.
std::vector<uint32_t> CuboidWords() {
  NHSObject cube(NHS_TYPE_CUBOID);
  Serializer::Writer writer;
  NHSObject::WriteTree(cube, writer);
  return writer.Words();
}

TEST(Obj3DTest, DamagedFieldsAreRefused) {
  const std::string cuboid = TextWords(CuboidWords(), false);
  const std::string no_second_lf = cuboid.substr(0, 65) + cuboid.substr(66);
  struct Case {
    bool binary;
    std::string body;
    const char* error;
  };
  const Case cases[] = {
      {false, "\tObj3D {\n 17" + TextWords(CuboidWords(), true) + "\n}\n", ""},
      {false, "Obj3D { 17" + cuboid + "}\n", ""},
      {true, "\xa1\x10\x00\x11", "Scene3D::LoadObject: 3DObject id expected"},
      {true, "\xa0\x12\x00\x11", "Scene3D::LoadObject: missing separator"},
      {true, "\xa0\x10\x02\x11", "Scene3D::LoadObject: invalid word count"},
      // A count of 2^26 + 1 words.
      {true, "\xa0\x10\x05\x01\x01\x80", "Scene3D::LoadObject: invalid word count"},
      // 2^26 words promised, one there: read as they come, then the end.
      {true, std::string("\xa0\x10\x01\x01\x01\x80\x00\x10\x00\x01", 10), "unexpected end of file"},
      {true, std::string("\xa0\x10\x04\x00\x10\x00\x02\x11", 8),
       "Scene3D::LoadObject: Object reconstruction error"},
      {false, "Obj3E {\n 0\n}\n", "Scene3D::LoadObject: 3DObject id expected"},
      {false, "Obj3D\n 0\n}\n", "Scene3D::LoadObject: missing {"},
      {false, "Obj3D { -1\n}\n", "Scene3D::LoadObject: invalid word count"},
      {false, "Obj3D { 1 00100001}\n", "Scene3D::LoadObject: LF expected"},
      {false, "Obj3D { 17" + no_second_lf + "}\n", "Scene3D::LoadObject: LF expected"},
      {false, "Obj3D { 1\n0010000g}\n", "Scene3D::LoadObject: hexadecimal digit expected"},
      {false, "Obj3D { 1\n0010 001}\n", "Scene3D::LoadObject: hexadecimal digit expected"},
      {false, "Obj3D { 17" + cuboid.substr(0, 100), "unexpected end of file"},
      {false, "Obj3D { 1\n00100002}\n", "Scene3D::LoadObject: Object reconstruction error"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.body);
    NHSObject_Scene root;
    EXPECT_EQ(Load(t.binary, t.body, root), t.error);
    EXPECT_EQ(root.CountChildren(), *t.error ? 0 : 1);
  }
}

// Each stored class in a project field: the field holds the object's tree words (whose
// class-data words the classes' own tests fix), and it loads back to the same bytes.
TEST(Obj3DTest, EveryStoredClassLoadsBackToTheSameField) {
  auto* cone = new NHSObject_Cone(5, 1.5, 5.0, 20);
  auto* rect = new NHSObject_Rect;
  rect->SetCorners(-2, -1, 3, 4);
  auto* box = new NHSObject_Cuboid;
  box->SetCorners({0, 0, 0}, {1, 2, 3});
  auto* root = new NHSObject_MeshRoot;
  root->Vertices() = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  auto* poly = new NHSObject_PolyMesh;
  const uint32_t corners[] = {0, 1, 2};
  poly->AddPolygon(corners, 3, false, 0, nullptr);
  root->AddChild(poly);
  auto* tri = new NHSObject_TriMesh;
  tri->Vertices() = root->Vertices();
  tri->Triangles() = {{0, 1, 2, 0, 1, 1}};
  tri->Coordinates() = {{0, 0}, {1, 1}};
  const uint32_t pixels[2] = {0xff000000, 0xffffffff};
  tri->SetTexture(MakeTexturePow2(pixels, 2, 2, 1));
  NHSObject* objects[] = {
      cone, rect, box, new NHSObject_Cylinder, new NHSObject_Sphere, new NHSObject_Torus,
      root, tri};
  for (NHSObject* object : objects) {
    SCOPED_TRACE(object->GetUIDType());
    NHSObject_Scene scene;
    scene.AddChild(object);
    const std::vector<uint32_t> words = kxtest::TreeWords(*object);
    const std::vector<uint32_t> data = kxtest::ClassWords(*object);
    ASSERT_GE(words.size(), 17 + data.size());
    EXPECT_EQ(words[0], 0x00100001u);
    EXPECT_EQ(words[1], object->GetUIDType());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), words.begin() + 17));
    for (bool binary : {false, true}) {
      const std::string body =
          Body(binary, [&](DataBaseOut& out) { Scene3D::WriteObj3D(scene, out); });
      if (!binary) {
        EXPECT_EQ(body,
                  "Obj3D {\n " + std::to_string(words.size()) + TextWords(words, false) + "}\n");
      }
      NHSObject_Scene loaded;
      ASSERT_EQ(Load(binary, body, loaded, CreateStoredObject), "");
      ASSERT_EQ(loaded.CountChildren(), 1);
      EXPECT_EQ(kxtest::TreeWords(*loaded.GetFirstChild()), words);
      EXPECT_EQ(Body(binary, [&](DataBaseOut& out) { Scene3D::WriteObj3D(loaded, out); }), body);
    }
  }
}

}  // namespace
