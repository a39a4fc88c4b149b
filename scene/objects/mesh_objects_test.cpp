#include "scene/objects/mesh_objects.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "scene/objects/draw_rules.h"
#include "scene/objects/recording_render_for_test.h"
#include "scene/objects/stored_words_for_test.h"
#include "scene/objects/texture_pow2.h"
#include "testing/temp_dir.h"

namespace {

using kxtest::RecordingRender;
using kxtest::Translation;
using kxtest::Words;
using vm::Vector3;

constexpr uint32_t kColor = 0x80336699;

void Select(const NHSObject& o) {
  UIDRegistry::Instance().SetSelected(o.GetUID(), true);
}

// A tetrahedron around the origin with outward faces.
void MakeTetrahedron(NHSObject_TriMesh& mesh) {
  mesh.Vertices() = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
  mesh.Triangles() = {
      {0, 1, 2, 0, 0, 0}, {0, 3, 1, 0, 0, 0}, {0, 2, 3, 0, 0, 0}, {1, 3, 2, 0, 0, 0}};
  mesh.SetColor(kColor);
}

TEST(TriMeshDraw, FrontInTheColourBackInTheOpaqueGreySelectedAsWireframe) {
  NHSObject_TriMesh mesh;
  MakeTetrahedron(mesh);
  RecordingRender r;
  mesh.Draw(r, Translation(0.5, 0.2, 6));
  ASSERT_EQ(r.polygons.size(), 4u);  // two-sided: every face drawn
  int fronts = 0;
  for (const auto& p : r.polygons) {
    const bool front = p.points[0].Dot(p.normal) < 0;
    fronts += front;
    EXPECT_EQ(p.color, front ? kColor : (GreyBlend(kColor) | 0xff000000));
    EXPECT_FALSE(p.one_sided);
    EXPECT_EQ(p.texture, nullptr);  // coordinates without a texture: untextured
  }
  EXPECT_GT(fronts, 0);
  EXPECT_LT(fronts, 4);
  EXPECT_TRUE(r.lines.empty());

  Select(mesh);
  r.Clear();
  mesh.Draw(r, Translation(0.5, 0.2, 6));
  EXPECT_TRUE(r.polygons.empty());
  EXPECT_EQ(r.lines.size(), 6u);
  EXPECT_EQ(r.DuplicateLines(), 0);
  EXPECT_EQ(r.lines[0].color, kColor | 0xff000000);
}

TEST(PolyMeshDraw, SharesItsParentsVerticesOverTheUsedRange) {
  NHSObject_MeshRoot root;
  for (int i = 0; i < 10; ++i) root.Vertices().push_back({double(i), double(i % 2), 1.0});
  root.Vertices()[5] = {1, 0, 0}, root.Vertices()[6] = {1, 1, 0}, root.Vertices()[7] = {0, 1, 0};
  root.Vertices()[4] = {0, 0, 0};
  auto* mesh = static_cast<NHSObject_PolyMesh*>(root.AddChild(new NHSObject_PolyMesh));
  mesh->SetColor(kColor);
  const uint32_t quad[] = {4, 5, 6, 7}, back[] = {7, 6, 5, 4}, outside[] = {4, 5, 99};
  mesh->AddPolygon(quad, 4, false, 0, nullptr);
  mesh->AddPolygon(back, 4, true, 0, nullptr);            // one-sided, seen from behind
  mesh->AddPolygon(back, 4, false, 0xff00ff00, nullptr);  // override on the back side
  mesh->AddPolygon(outside, 3, false, 0, nullptr);        // not in the parent's list: skipped
  RecordingRender r;
  mesh->Draw(r, Translation(0, 0, -5));  // the viewer at +z of the quad: (4,5,6,7) faces it
  EXPECT_EQ(r.Vertices().size(), 4u);    // vertices 4 .. 7 only
  ASSERT_EQ(r.polygons.size(), 3u);
  EXPECT_EQ(r.polygons[0].color, kColor);
  EXPECT_EQ(r.polygons[0].points[2], (Vector3{1, 1, -5}));
  EXPECT_EQ(r.polygons[1].color, GreyBlend(kColor));  // handed over; the renderer culls it
  EXPECT_TRUE(r.polygons[1].one_sided);
  EXPECT_EQ(r.polygons[2].color, 0xff00ff00u);

  // Selected: the wireframe alone, the shared quad edges once.
  Select(*mesh);
  r.Clear();
  mesh->Draw(r, Translation(0, 0, -5));
  EXPECT_TRUE(r.polygons.empty());
  EXPECT_EQ(r.lines.size(), 4u);

  // Without a vertex list of its own or a parent that has one, nothing is drawn.
  NHSObject_PolyMesh alone;
  alone.AddPolygon(quad, 4, false, 0, nullptr);
  r.Clear();
  alone.Draw(r, Translation(0, 0, 5));
  EXPECT_TRUE(r.polygons.empty() && r.lines.empty());
}

TEST(PolyMesh, AddPolygonKeepsAtMost64Corners) {
  NHSObject_PolyMesh mesh;
  uint32_t numbers[70];
  for (uint32_t i = 0; i < 70; ++i) numbers[i] = i;
  mesh.AddPolygon(numbers, 70, true, 0, nullptr);
  for (int i = 0; i < 300; ++i) mesh.AddPolygon(numbers, 3, false, 0, numbers);
  EXPECT_EQ(mesh.CountPolygons(), 301);
  int first = -1;
  mesh.ForEachPolygon([&](const NHSObject_PolyMesh::PolygonView& p) {
    if (first < 0) {
      first = p.n;
      EXPECT_EQ(p.vertices[63], 63u);
      EXPECT_EQ(p.tex[0], 0u);
    }
  });
  EXPECT_EQ(first, 64);
}

TEST(EditableMeshDraw, SelectedMarksEachVertexWithItsOwnId) {
  NHSObject_EditableTriQuadMesh mesh;
  for (Vector3 v : {Vector3{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}})
    mesh.AddVertex(v);
  mesh.AddFace(0, 1, 2, 3);
  mesh.AddFace(1, 4, 2);
  Select(mesh);
  RecordingRender r;
  mesh.Draw(r, Translation(0, 0, -4));
  ASSERT_EQ(r.polygons.size(), 2u);
  EXPECT_EQ(r.polygons[0].id, static_cast<uint32_t>(mesh.GetFaces()[0].uid));
  EXPECT_EQ(r.lines.size(), 6u);  // 4 + 3, edge 1-2 shared
  ASSERT_EQ(r.markers.size(), 5u);
  EXPECT_EQ(r.markers[4].id, static_cast<uint32_t>(mesh.GetVertices()[4].uid));
  EXPECT_EQ(r.markers[4].color, NHSObject_EditableTriQuadMesh::kMarkerColor);
  const int32_t vertex_id = mesh.GetVertices()[0].uid;
  EXPECT_EQ(UIDRegistry::Instance().GetObject(vertex_id), &mesh);
  mesh.Clear();
  EXPECT_EQ(UIDRegistry::Instance().GetObject(vertex_id), nullptr);
}

TEST(MeshChunks, GoldenWordsAndSaveLoadSave) {
  NHSObject_TriMesh mesh;
  mesh.SetColor(kColor);
  mesh.Vertices() = {{1, 0, 0}, {0, 1, 0}, {0, 0, 2}};
  mesh.Triangles() = {{0, 1, 2, 0, 0, 0}};
  const uint32_t one = 0x3f800000;
  EXPECT_EQ(kxtest::ClassWords(mesh),
            (Words{0x00020002, kColor, 1,          0x00010007, 3,   0x0003000a, one,
                   0,          0,      0x0003000a, 0,          one, 0,          0x0003000a,
                   0,          0,      0x40000000, 0x00030005, 0,   0,          0,
                   0x0006000b, 0,      1,          2,          0,   0,          0}));

  // Textured meshes of both kinds under a mesh root.
  NHSObject_MeshRoot root;
  root.Vertices() = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  auto* tri = static_cast<NHSObject_TriMesh*>(root.AddChild(new NHSObject_TriMesh));
  tri->Vertices() = root.Vertices();
  tri->Triangles() = {{0, 1, 2, 0, 1, 2}};
  tri->Coordinates() = {{0, 0}, {1, 0}, {0.5, 1}};
  const uint32_t pixels[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  tri->SetTexture(MakeTexturePow2(pixels, 4, 4, 2));
  auto* poly = static_cast<NHSObject_PolyMesh*>(root.AddChild(new NHSObject_PolyMesh));
  poly->Coordinates() = tri->Coordinates();
  poly->SetTexture(tri->GetTexture());
  const uint32_t corners[] = {0, 1, 2}, tex[] = {2, 1, 0};
  poly->AddPolygon(corners, 3, true, 0xff112233, tex);
  const Words first = kxtest::TreeWords(root);
  const auto back = kxtest::ReadBack(first);
  const auto again = kxtest::ReadBack(kxtest::TreeWords(*back));
  EXPECT_EQ(kxtest::TreeWords(*again), first);  // two loads: the child list turns twice
  const auto* loaded = dynamic_cast<const NHSObject_PolyMesh*>(again->GetFirstChild());
  ASSERT_NE(loaded, nullptr);
  ASSERT_TRUE(loaded->IsTextured());
  EXPECT_EQ(loaded->GetTexture()->pixels[5], 6u);
  loaded->ForEachPolygon([](const auto& p) { EXPECT_EQ(p.tex[0], 2u); });

  // Drawn textured: the coordinates of the first three corners.
  RecordingRender r;
  tri->Draw(r, Translation(0, 0, -3));
  ASSERT_EQ(r.polygons.size(), 1u);
  EXPECT_EQ(r.polygons[0].texture, tri->GetTexture().Get());
  EXPECT_EQ(r.polygons[0].uv, (std::vector<double>{0, 0, 1, 0, 0.5, 1}));
}

TEST(MeshChunks, DamagedDataIsRefusedOrItsBadFacesDropped) {
  const uint32_t one = 0x3f800000;
  const Words vertices = {0x00010007, 3, 0x0003000a, 0,          0, 0,   0x0003000a,
                          one,        0, 0,          0x0003000a, 0, one, 0};
  const Words no_texture = {0x00030005, 0, 0, 0};
  auto poly = [&](Words polygon, uint32_t count = 1) {
    Words w = {0x00020002, kColor, count};
    w.insert(w.end(), vertices.begin(), vertices.end());
    w.insert(w.end(), no_texture.begin(), no_texture.end());
    w.insert(w.end(), polygon.begin(), polygon.end());
    return w;
  };
  struct Case {
    const char* what;
    Words words;
    int error;
    int polygons;
  } cases[] = {
      {"good", poly({0x0009000d, 0, 3, 1, 0, 1, 2, 0, 0, 0}), 0, 1},
      {"longer polygon chunk", poly({0x000a000d, 0, 3, 1, 0, 1, 2, 0, 0, 0, 9}), 0, 1},
      {"vertex number outside", poly({0x0009000d, 0, 3, 1, 0, 1, 3, 0, 0, 0}), 0, 0},
      {"no corners", poly({0x0009000d, 0, 0, 0, 7, 7, 7, 7, 7, 7}), 0, 1},
      {"65 corners", poly({0x0009000d, 0, 65, 1, 0, 1, 2, 0, 0, 0}), Serializer::ERROR_TOO_SHORT,
       0},
      {"longer than its chunk", poly({0x0009000d, 0, 4, 1, 0, 1, 2, 0, 0, 0, 0, 0}),
       Serializer::ERROR_TOO_SHORT, 0},
      {"count beyond the data", poly({0x0009000d, 0, 3, 1, 0, 1, 2, 0, 0, 0}, 0x40000000),
       Serializer::ERROR_HEADER_PAST_END, 0},
  };
  for (const Case& c : cases) {
    NHSObject_PolyMesh mesh;
    EXPECT_EQ(kxtest::ReadClassWords(mesh, c.words), c.error) << c.what;
    if (c.error == 0) {
      // What loads writes back in a form that loads again, unchanged.
      const Words again = kxtest::ClassWords(mesh);
      NHSObject_PolyMesh copy;
      EXPECT_EQ(kxtest::ReadClassWords(copy, again), 0) << c.what;
      EXPECT_EQ(kxtest::ClassWords(copy), again) << c.what;
    }
    if (c.error == 0) {
      EXPECT_EQ(mesh.CountPolygons(), c.polygons) << c.what;
    }
  }

  NHSObject_MeshRoot root;
  EXPECT_EQ(kxtest::ReadClassWords(root, {0x00010007, 0xffffffff, 0x0003000a}),
            Serializer::ERROR_HEADER_PAST_END);
  // A pixel block of another size than width × height; a triangle outside the list.
  NHSObject_TriMesh tri;
  Words textured = {0x00020002, kColor, 0};
  textured.insert(textured.end(), vertices.begin(), vertices.end());
  Words short_block = textured;
  short_block.insert(short_block.end(), {0x00030005, 0, 2, 2, 0x00000004, 3, 1, 2, 3});
  EXPECT_EQ(kxtest::ReadClassWords(tri, short_block), Serializer::ERROR_TOO_SHORT);
  Words bad_triangle = {0x00020002, kColor, 2};
  bad_triangle.insert(bad_triangle.end(), vertices.begin(), vertices.end());
  bad_triangle.insert(bad_triangle.end(), no_texture.begin(), no_texture.end());
  bad_triangle.insert(bad_triangle.end(),
                      {0x0006000b, 0, 1, 2, 0, 0, 0, 0x0006000b, 0, 1, 0xffffffff, 0, 0, 0});
  EXPECT_EQ(kxtest::ReadClassWords(tri, bad_triangle), 0);
  EXPECT_EQ(tri.Triangles().size(), 1u);
}

TEST(TexturePow2, SizesCopiesAndCaps) {
  struct Case {
    uint32_t w, h;
    int lw, lh;
  } cases[] = {{512, 256, 9, 8},  {720, 576, 10, 10}, {1, 1, 0, 0},      {3, 5, 2, 3},
               {16384, 2, 13, 1}, {2, 40000, 1, 13},  {40000, 3, 13, 0}, {100000, 1, 13, 0}};
  for (const Case& c : cases) {
    const SharedPtr<NHSTexture> t = MakeTexturePow2(nullptr, c.w, c.w, c.h);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->log2_width, c.lw) << c.w << "x" << c.h;
    EXPECT_EQ(t->log2_height, c.lh) << c.w << "x" << c.h;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t->pixels) % 16, 0u);
  }
  EXPECT_FALSE(MakeTexturePow2(nullptr, 0, 0, 7));
  // A power-of-two picture is copied row by row from its stride.
  std::vector<uint32_t> source(600 * 256);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint32_t>(i * 2654435761u);
  const SharedPtr<NHSTexture> copy = MakeTexturePow2(source.data(), 600, 512, 256);
  for (uint32_t y : {0u, 77u, 255u}) {
    for (uint32_t x : {0u, 300u, 511u}) EXPECT_EQ(copy->pixels[y * 512 + x], source[y * 600 + x]);
  }
}

TEST(TexturePow2, ResamplesLikeImageMagicksTriangleFilter) {
  const char* convert = "/usr/bin/convert";
  if (::access(convert, X_OK) != 0) GTEST_SKIP() << "ImageMagick is not installed";
  constexpr uint32_t w = 720, h = 576;
  std::vector<uint32_t> source(w * h);
  std::string rgba(4 * w * h, '\0');
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t r = x * 255 / (w - 1);
      const uint32_t g =
          static_cast<uint32_t>(127.5 + 127.5 * std::sin(x * 0.05) * std::cos(y * 0.07));
      const uint32_t b = ((x / 24 + y / 24) % 2) * 200 + 20;
      source[y * w + x] = 0xff000000 | r << 16 | g << 8 | b;
      const size_t at = 4 * (y * w + x);
      rgba[at] = static_cast<char>(r), rgba[at + 1] = static_cast<char>(g);
      rgba[at + 2] = static_cast<char>(b), rgba[at + 3] = '\xff';
    }
  }
  kxtest::TempDir dir;
  std::ofstream(dir.File("in.rgba"), std::ios::binary) << rgba;
  const std::string command = std::string(convert) + " -size 720x576 -depth 8 rgba:'" +
                              dir.File("in.rgba") + "' -filter Triangle -resize '1024x1024!' " +
                              "-depth 8 rgba:'" + dir.File("out.rgba") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(dir.File("out.rgba"), std::ios::binary);
  const std::string ref((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(ref.size(), 4u * 1024 * 1024);

  const SharedPtr<NHSTexture> t = MakeTexturePow2(source.data(), w, w, h);
  ASSERT_EQ(t->Width(), 1024);
  ASSERT_EQ(t->Height(), 1024);
  double sum = 0;
  for (size_t i = 0; i < 1024 * 1024; ++i) {
    const uint32_t p = t->pixels[i];
    for (int c = 0; c < 3; ++c) {
      const double ours = (p >> (16 - 8 * c)) & 0xff;
      const double theirs = static_cast<unsigned char>(ref[4 * i + c]);
      sum += (ours - theirs) * (ours - theirs);
    }
  }
  const double rmse = std::sqrt(sum / (3.0 * 1024 * 1024));
  EXPECT_LT(rmse, 2.0);
  RecordProperty("rmse", std::to_string(rmse));
  std::printf("MakeTexturePow2 against ImageMagick: RMSE %.3f grey levels\n", rmse);
}

}  // namespace
