// Textured triangle meshes cut from the camera image: the mesh's vertices, projected into
// the current frame, are laid out in a power-of-two texture, and every triangle's texels are
// painted from the frame through the perspective of the 3D triangle, so that the mesh shows
// the filmed surface in the 3D view.
//
// Coordinates: a vertex's 2D point q is its projection in image-centred pixels without
// distortion (GetProjectionMatrixFromCamera, divided by w). Texel (tx, ty) = T · (q.x, q.y,
// 1) with the texel map T (last row 0, 0, 1); texel k covers the texel-space coordinates
// around the integer k. Frames and textures are 32-bit 0xAARRGGBB views (the cache's BGRA
// planes carry alpha 0, and so does the texture painted from them).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/array.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "scene/render/nhs_texture.h"

class NHSObject_TriMesh;
class PerspectiveCamera;

// A texture side made from the image is at most this many texels, so that a wide spread of
// points (a vertex near the camera plane) cannot ask for a texture of gigabytes.
inline constexpr uint32_t kMeshTextureMaxSide = 4096;

// Three vertex numbers of a mesh triangle, in its drawing order.
struct MeshTriangle {
  uint32_t a, b, c;
};

struct MeshTextureLayout {
  SharedPtr<NHSTexture> texture;  // every texel 0
  Matrix3x3 texel_map;            // T, for the texture's actual size
};

// Lays the points (at least 2) out in a new texture: of 8 turns θ = kπ/16 the one whose
// bounding box, scaled into power-of-two sides of at least range + 4 texels, covers the most
// of the texture (the first on a tie); the wider side becomes the texture's x. The box then
// fills the texture with a 2-texel margin on each side, stretched independently in x and y
// (a zero range scales by 1). Sides are capped at kMeshTextureMaxSide; T is computed for
// the sizes the texture really has. Throws std::bad_alloc when the texture cannot be had.
MeshTextureLayout LayoutMeshTexture(const std::vector<vm::Vector2>& q);

// The frame's colour at (x, y), pixel centres on integers: bilinear between the four
// pixels around it with weights rounded to 1/256, each channel (alpha too) on its own.
// Outside the image the border pixels are extended; an image one pixel wide or high reads
// that one column or row; an empty image gives 0.
uint32_t SampleBilinear32(double x, double y, const ArrayMap<const uint32_t>& image);

// Boundary flags of a triangle (a, b, c): an edge that belongs to no other triangle.
enum : unsigned {
  MESH_EDGE_AB = 1,
  MESH_EDGE_BC = 2,
  MESH_EDGE_CA = 4,
};

// Paints one triangle's texels from the frame. Q holds the vertices' 2D points as columns
// (q.x; q.y; 1), X their positions minus the camera centre as columns, T the texel map.
// A texel maps to the frame through M = [H; V; A] · X · Q⁻¹ · T⁻¹ (the camera's H, V and A
// as rows), then the camera's distortion and the image centre ((width − 1) / 2,
// (height − 1) / 2 of the camera's size); texels whose ray runs behind the camera
// (h2 ≤ 0) keep their value. Boundary edges are pushed 5 texels outward, away from the
// mesh's texel-space centroid, so that the texture's filter does not pull the empty
// texture into the mesh's rim. A degenerate triangle (Q or T singular) paints nothing.
void PaintTextureTriangle(const ArrayMap<uint32_t>& texture, const ArrayMap<const uint32_t>& frame,
                          const PerspectiveCamera& camera, const Matrix3x3& Q, const Matrix3x3& X,
                          const Matrix3x3& T, unsigned boundary, const vm::Vector2& centroid);

// Textures a mesh that already holds its vertices: `q` the vertices' 2D points, `points`
// their world positions, `triangles` the faces in order (every number below q.size()). Sets the
// texture, appends one texture coordinate per vertex (u = (tx + 0.5) / W, v = (ty + 0.5) / H) and
// the records (a, b, c, a, b, c), and paints each triangle in order (later ones overwrite shared
// texels). False, the mesh untouched, when the texture cannot be allocated (or fewer than
// 2 points are given); the caller then finishes the mesh untextured.
bool TextureMeshFromFrame(NHSObject_TriMesh& mesh, const std::vector<vm::Vector2>& q,
                          const std::vector<vm::Vector3>& points,
                          const std::vector<MeshTriangle>& triangles,
                          const PerspectiveCamera& camera, const ArrayMap<const uint32_t>& frame);
