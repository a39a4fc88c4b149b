// Test helper for the writers of user objects (COLLADA, trueSpace): a scene holding every
// kind of user object.
//
//   kxtest::UserObjectScene  a Scene (with its built-ins) and, added in this order:
//     rect    "Camera" (the camera node's id), orientation 0, corners (-20, -10, 20, 10),
//             moved by (10, 20, 30)
//     box     "Box", (0, 0, 0) to (50, 40, 30), turned 30 degrees about Y, moved by
//             (-100, 0, 500); its child cone "Box" (a second object of that name),
//             orientation 5, radius 10, height 25, 8 segments, moved by (25, 40, 15)
//             relative to the box
//     photo   "My Photo", a textured triangle mesh: 4 vertices, 2 triangles, texture
//             coordinates, a 4 x 2 texture of known pixels
//     hidden  "Hidden", a box with the hidden flag
//     pipe    "Pipe", a cylinder (no polygon form) with a child rect "Lost"
//     root    "Shared", a mesh root with a child polygon mesh "Poly" (one quad over the
//             root's 4 vertices)
//   kxtest::Rotation(y_degrees, t) a 3 x 4 transform turning about Y and moving by t
#pragma once

#include <cmath>

#include "scene/objects/curved_primitives.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"
#include "scene/objects/texture_pow2.h"
#include "scene/scene.h"

namespace kxtest {

inline Matrix3x4 Rotation(double y_degrees, vm::Vector3 t) {
  const double a = y_degrees * 3.14159265358979323846 / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  Matrix3x4 m{};
  const double rows[3][4] = {{c, 0, s, t.x}, {0, 1, 0, t.y}, {-s, 0, c, t.z}};
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 4; ++k) m[r][k] = rows[r][k];
  }
  return m;
}

// The 4 x 2 texture's pixels, 0xAARRGGBB, rows top first.
inline constexpr uint32_t kPhotoPixels[8] = {0xff102030, 0x80405060, 0x00708090, 0xffa0b0c0,
                                             0xffffffff, 0xff000000, 0xffff0000, 0xff00ff00};

struct UserObjectScene {
  Scene scene;
  NHSObject_Rect* rect;
  NHSObject_Cuboid* box;
  NHSObject_Cone* cone;
  NHSObject_TriMesh* photo;
  NHSObject_Cuboid* hidden;
  NHSObject_Cylinder* pipe;
  NHSObject_MeshRoot* root;
  NHSObject_PolyMesh* poly;

  UserObjectScene() {
    UIDRegistry& names = UIDRegistry::Instance();
    rect = new NHSObject_Rect;
    rect->SetCorners(-20, -10, 20, 10);
    rect->SetTransform(Rotation(0, {10, 20, 30}));
    rect->SetColor(0xff336699);
    names.SetName(rect->GetUID(), "Camera");
    scene.AddChild(rect);

    box = new NHSObject_Cuboid;
    box->SetCorners({0, 0, 0}, {50, 40, 30});
    box->SetTransform(Rotation(30, {-100, 0, 500}));
    box->SetColor(0xc0804020);
    names.SetName(box->GetUID(), "Box");
    scene.AddChild(box);
    cone = new NHSObject_Cone(5, 10, 25, 8);
    cone->SetTransform(Rotation(0, {25, 40, 15}));
    names.SetName(cone->GetUID(), "Box");
    box->AddChild(cone);

    photo = new NHSObject_TriMesh;
    photo->Vertices() = {{0, 0, 100}, {80, 0, 100}, {80, 60, 100}, {0, 60, 100}};
    photo->Coordinates() = {{0, 0}, {1, 0}, {1, 1}, {0.25, 0.75}};
    photo->Triangles() = {{0, 1, 2, 0, 1, 2}, {0, 2, 3, 0, 2, 3}};
    photo->SetTexture(MakeTexturePow2(kPhotoPixels, 4, 4, 2));
    names.SetName(photo->GetUID(), "My Photo");
    scene.AddChild(photo);

    hidden = new NHSObject_Cuboid;
    hidden->SetNodeFlags(UID_FLAG_HIDDEN, true);
    names.SetName(hidden->GetUID(), "Hidden");
    scene.AddChild(hidden);

    pipe = new NHSObject_Cylinder;
    names.SetName(pipe->GetUID(), "Pipe");
    scene.AddChild(pipe);
    auto* lost = new NHSObject_Rect;
    names.SetName(lost->GetUID(), "Lost");
    pipe->AddChild(lost);

    root = new NHSObject_MeshRoot;
    root->Vertices() = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
    root->SetTransform(Rotation(0, {0, 0, -50}));
    names.SetName(root->GetUID(), "Shared");
    scene.AddChild(root);
    poly = new NHSObject_PolyMesh;
    const uint32_t quad[4] = {0, 1, 2, 3};
    poly->AddPolygon(quad, 4, false, 0, nullptr);
    names.SetName(poly->GetUID(), "Poly");
    root->AddChild(poly);
  }
};

}  // namespace kxtest
