#include "export/writers/save_cam_path_collada_objects.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "export/writers/save_cam_path_collada.h"
#include "export/writers/user_objects_for_test.h"
#include "export/writers/writer_fixture_for_test.h"
#include "image/image_file_io.h"
#include "scene/objects/nhs_object_scene.h"
#include "testing/log_capture.h"

namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ColladaObjectsTest : public testing::Test {
 protected:
  // Exports the fixture's path with the scene's objects; the document, dates masked.
  std::string Write(SaveCamPathCollada& writer, const NHSObject& scene, bool expect = true) {
    writer.SetFramesPerSecond(25.0);
    writer.SetSceneObjects(&scene);
    EXPECT_EQ(writer.Export(kxtest::ThreeCameras(), kxtest::FourPoints()), expect);
    const std::string text = kxtest::ReadText(dir_.File("scene.dae"));
    return kxtest::MaskDates(
        kxtest::MaskDates(text, "<created>", "</created>", "dddd-dd-ddTdd:dd:dd"), "<modified>",
        "</modified>", "dddd-dd-ddTdd:dd:dd");
  }
  std::string Write(const NHSObject& scene) {
    SaveCamPathCollada writer(dir_.path().c_str(), "scene.dae");
    return Write(writer, scene);
  }
  kxtest::TempDir dir_;
};

TEST_F(ColladaObjectsTest, GoldenFileWithEveryKindOfObject) {
  kxtest::UserObjectScene objects;
  const std::string text = kxtest::WriteInBothLocales([&] { return Write(objects.scene); });
  const std::string golden =
      std::string(KALVEX_SOURCE_DIR) + "/testdata/export/collada_objects.dae";
  const char* update = std::getenv("KALVEX_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") std::ofstream(golden) << text;
  EXPECT_EQ(text, kxtest::ReadText(golden));
}

// What the copy keeps: the four convertible kinds with their subtrees, siblings reversed,
// hidden ones included; a kind without a polygon form drops its whole subtree.
TEST_F(ColladaObjectsTest, CopyHoldsTheConvertibleObjectsInReverseOrder) {
  kxtest::UserObjectScene objects;
  NHSObject_Scene root;
  CopyExportableObjects(&root, objects.scene);
  CopyExportableObjects(nullptr, objects.scene);  // nothing to add to
  ASSERT_EQ(root.CountChildren(), 1);
  const NHSObject& scene = *root.GetFirstChild();
  EXPECT_EQ(scene.GetUIDType(), NHS_TYPE_SCENE);
  std::vector<std::string> names;
  for (const NHSObject* o = scene.GetFirstChild(); o != nullptr; o = o->GetNextSibling()) {
    EXPECT_EQ(o->GetUIDType(), NHS_TYPE_POLY_MESH);
    names.push_back(GetExportObjectName(*o));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Camera", "Box", "My Photo", "Hidden"}));
  const NHSObject& rect = *scene.GetFirstChild();
  EXPECT_EQ(rect.GetColor(), objects.rect->GetColor());
  EXPECT_EQ(rect.GetTransform()[1][3], 20.0);
  const NHSObject& box = *rect.GetNextSibling();
  ASSERT_EQ(box.CountChildren(), 1);
  EXPECT_EQ(box.GetFirstChild()->GetTransform()[2][3], 15.0);
  EXPECT_TRUE(HasTexturedMesh(root));
  EXPECT_FALSE(HasTexturedMesh(box));
  EXPECT_EQ(GetMeshVertexCount(static_cast<const NHSObject_PolyMesh&>(box)), 8u);
}

TEST_F(ColladaObjectsTest, TexturesGoBesideTheDocumentNumberedFromZeroInEveryExport) {
  kxtest::UserObjectScene objects;
  SaveCamPathCollada writer(dir_.path().c_str(), "scene.dae");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const std::string text = Write(writer, objects.scene);
    EXPECT_EQ(writer.GetImageCounter(), 1u);
    EXPECT_NE(text.find("<init_from>./scene_0.png</init_from>"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("scene_1.png")));
  }
  // The texture's pixels, its alpha dropped.
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  ASSERT_EQ(ImageFileIO::OpenRead(ctx.get(), dir_.File("scene_0.png").c_str()), 0);
  ASSERT_EQ(ctx->width, 4);
  ASSERT_EQ(ctx->height, 2);
  uint32_t row[4];
  for (int y = 0; y < 2; ++y) {
    ASSERT_EQ(ImageFileIO::ReadRow(row, ctx.get()), 0);
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(row[x] & 0xffffff, kxtest::kPhotoPixels[4 * y + x] & 0xffffff) << x << ',' << y;
    }
  }
  ImageFileIO::Close(ctx.get());
}

// A texture without coordinates is not drawn: alone it brings no material library, and a
// material is bound only where the library was written.
TEST_F(ColladaObjectsTest, TextureWithoutCoordinates) {
  struct Case {
    const char* name;
    bool with_textured_mesh;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"alone",
       false,
       {"<geometry id=\"Bare-geom\">", "<polylist  count=\"1\">"},
       {"<library_images>", "<library_materials>", "<bind_material>", "Bare-uvs"}},
      {"beside a textured mesh",
       true,
       {"<image id=\"Bare-0\"", "<material id=\"Bare-0-material\">", "target=\"#Bare-0-material\"",
        "<polylist  count=\"1\">", "<polylist  count=\"2\" material=\"My_Photo-0-symbol\">"},
       {"Bare-uvs"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<kxtest::UserObjectScene> objects;
    Scene own;
    Scene* scene = &own;
    if (c.with_textured_mesh) {
      objects = std::make_unique<kxtest::UserObjectScene>();
      scene = &objects->scene;
    }
    auto* bare = new NHSObject_TriMesh;
    bare->Vertices() = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    bare->Triangles() = {{0, 1, 2, 0, 0, 0}};
    bare->SetTexture(MakeTexturePow2(kxtest::kPhotoPixels, 4, 4, 2));
    UIDRegistry::Instance().SetName(bare->GetUID(), "Bare");
    scene->AddChild(bare);
    const std::string text = Write(*scene);
    for (const std::string& part : c.present) EXPECT_NE(text.find(part), std::string::npos) << part;
    for (const std::string& part : c.absent) EXPECT_EQ(text.find(part), std::string::npos) << part;
  }
}

TEST_F(ColladaObjectsTest, NamesBecomeXmlNamesAndIdsStayUnique) {
  struct Case {
    const char* text;
    const char* name;
  } cases[] = {{"Box", "Box"},
               {"My Photo", "My_Photo"},
               {"1st", "_1st"},
               {"", "_"},
               {"a<b&\"c'", "a_b__c_"},
               {"-x.y", "_-x.y"},
               {"W\xc3\xbcrfel", "W\xc3\xbcrfel"}};
  for (const Case& c : cases) EXPECT_EQ(XmlName(c.text), c.name) << c.text;

  // Two unnamed boxes, a name the camera node has, then one that the first's geometry id
  // has taken and one that the first's id has (the copy holds them in this order).
  Scene scene;
  for (const char* name :
       std::vector<const char*>{nullptr, nullptr, "Camera", "Camera_1-geom", "Camera_1"}) {
    auto* box = new NHSObject_Cuboid;
    UIDRegistry::Instance().SetName(box->GetUID(), name);
    scene.AddChild(box);
  }
  const std::string text = Write(scene);
  for (const char* id : {"todo", "todo_1", "Camera_1", "Camera_1-geom_1", "Camera_1_1"}) {
    EXPECT_EQ(Count(text, std::string("<node layer=\"L1\" id=\"") + id + '"'), 1) << id;
  }
  EXPECT_EQ(Count(text, "name=\"todo\""), 2);
  EXPECT_EQ(Count(text, "id=\"Camera\""), 1);
}

TEST_F(ColladaObjectsTest, LostTextureFailsTheExportButCompletesTheDocument) {
  kxtest::UserObjectScene objects;
  // A folder where the texture file should go.
  std::filesystem::create_directory(dir_.File("scene_0.png"));
  kxtest::LogCapture log(2);
  SaveCamPathCollada writer(dir_.path().c_str(), "scene.dae");
  const std::string text = Write(writer, objects.scene, false);
  EXPECT_NE(text.find("<init_from>./scene_0.png</init_from>"), std::string::npos);
  EXPECT_NE(text.find("</COLLADA>\n"), std::string::npos);
  EXPECT_TRUE(log.Has("write_image: writing \"" + dir_.File("scene_0.png") + "\" failed"));
  EXPECT_TRUE(log.Has("refers to texture files that were not written"));
}

}  // namespace
