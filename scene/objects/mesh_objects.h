// Mesh objects: the mesh root (a shared vertex list), the triangle mesh, the polygon mesh
// and the editable triangle/quad mesh, with their shared vertex list and texture parts.
//
// Stored chunks (kind, size): vertex list header (7, 1: count) then one vertex (10, 3:
// x, y, z) each; texture parameters (5, 3: coordinate count, texture width and height, 0
// without texture) then one coordinate (9, 2: u, v) each and, with a texture, its pixels as
// a counted block; triangle-mesh header (2, 2: colour, count) and triangles (11, 6: a, b,
// c, ta, tb, tc); polygon-mesh header (2, 2: colour, count) and polygons (13, 2n + 3:
// colour override, n, one-sided flag, n vertex numbers, n texture numbers). Order: header,
// vertex list, texture parameters, faces. Longer chunks load, their extra words skipped.
//
// Stored meshes are outside data: counts larger than the words left could hold throw
// Serializer::Error 6 before anything is allocated; a polygon of more than 64 corners or
// longer than its chunk throws Error 4, as does a pixel block that is not exactly width ×
// height pixels; faces whose vertex or texture numbers lie outside their lists are dropped
// with a level-2 log line (a polygon mesh drawing its parent's vertices checks them when
// drawing instead).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/nhs_texture.h"

class NHSVertexList {
 public:
  virtual ~NHSVertexList() = default;
  std::vector<vm::Vector3>& Vertices() { return vertices_; }
  const std::vector<vm::Vector3>& Vertices() const { return vertices_; }

  void SerializeVertices(Serializer::Writer& writer) const;
  void DeserializeVertices(Serializer::Reader& reader);

 protected:
  std::vector<vm::Vector3> vertices_;
};

class NHSTextureParams {
 public:
  // Texture coordinates: 0 .. 1 spans the texture's width and height.
  std::vector<vm::Vector2>& Coordinates() { return uv_; }
  const std::vector<vm::Vector2>& Coordinates() const { return uv_; }
  const SharedPtr<NHSTexture>& GetTexture() const { return texture_; }
  void SetTexture(SharedPtr<NHSTexture> texture) { texture_ = std::move(texture); }
  // A texture is drawn when one is set and there is at least one coordinate.
  bool IsTextured() const { return texture_ && !uv_.empty(); }

  void SerializeTexture(Serializer::Writer& writer) const;
  // A stored picture replaces the texture (through MakeTexturePow2); none keeps it.
  void DeserializeTexture(Serializer::Reader& reader);

 protected:
  std::vector<vm::Vector2> uv_;
  SharedPtr<NHSTexture> texture_;
};

// Vertices shared by the polygon meshes below it; draws nothing.
class NHSObject_MeshRoot : public NHSObject, public NHSVertexList {
 public:
  NHSObject_MeshRoot() : NHSObject(NHS_TYPE_MESH_ROOT) {}
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;
};

class NHSObject_TriMesh : public NHSObject, public NHSVertexList, public NHSTextureParams {
 public:
  struct Triangle {
    uint32_t a, b, c;     // vertex numbers
    uint32_t ta, tb, tc;  // texture-coordinate numbers
  };

  NHSObject_TriMesh() : NHSObject(NHS_TYPE_TRI_MESH) {}
  // Faces two-sided: the front in the colour, the back in its opaque grey blend. Selected:
  // the wireframe only, each edge once, in the colour made opaque.
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  std::vector<Triangle>& Triangles() { return triangles_; }
  const std::vector<Triangle>& Triangles() const { return triangles_; }

 private:
  std::vector<Triangle> triangles_;
};

class NHSObject_Rect;
class NHSObject_Cuboid;
class NHSObject_Cone;

class NHSObject_PolyMesh : public NHSObject, public NHSVertexList, public NHSTextureParams {
 public:
  static constexpr int kMaxCorners = 64;

  NHSObject_PolyMesh() : NHSObject(NHS_TYPE_POLY_MESH) {}

  // ---- conversions for the exporters (polygon_mesh_conversion.cpp)
  // Each builds the polygon mesh of a user object, leaving the source unchanged. The result
  // has an id of its own (type 21, registered for the mesh's lifetime), the source's colour
  // and a copy of its transform, no parent, children or properties, override colour 0 on
  // every polygon and a polygon buffer of exactly its records' size. The source's registry
  // name is copied, except by the rectangle conversion, which leaves the mesh unnamed.
  //
  // Faces carry no normals: a face's normal is (P0 − P1) × (P1 − P2) of its first three
  // vertices (the facing rule of draw_rules.h), and for the closed solids it points out of
  // the solid. Walk the faces with ForEachPolygon; vertex numbers index Vertices(), texture
  // numbers Coordinates() (meaningful only when IsTextured()).
  //
  // Triangle mesh: vertices and coordinates copied, texture shared; one two-sided triangle
  // per triangle, in order, with its texture numbers when the mesh is textured, else zeros.
  explicit NHSObject_PolyMesh(const NHSObject_TriMesh& source);
  // Rectangle (orientation o, k = o mod 3): four vertices with s along object axis k, t
  // along axis k + 1 and 0 along the third: (s1, t1), (s0, t1), (s1, t0), (s0, t0). For
  // k = 2 this runs s along Z and t along X (the drawing runs them the other way round);
  // exported files depend on this order. One two-sided quad (0, 1, 3, 2), or (2, 3, 1, 0)
  // for o = 3 .. 5.
  explicit NHSObject_PolyMesh(const NHSObject_Rect& source);
  // Box (minimum m, maximum M): vertex j takes M on axis i when bit i of j is set, else m.
  // Six one-sided quads: (0, 2, 3, 1) minimum z, (4, 5, 7, 6) maximum z, (0, 1, 5, 4)
  // minimum y, (2, 6, 7, 3) maximum y, (0, 4, 6, 2) minimum x, (1, 3, 7, 5) maximum x.
  explicit NHSObject_PolyMesh(const NHSObject_Cuboid& source);
  // Cone (orientation o, radius r, height h, n segments; g = o mod 3): vertex 0 the apex at
  // the origin, vertices 1 .. n the base ring as DrawCone draws it (x along axis g, y along
  // g + 1, the height along g + 2; for o = 3 .. 5 y and the height negated). One one-sided
  // base polygon (1, 2, .., n), then n one-sided sides (0, 1, n), (0, 2, 1) .. (0, n, n − 1).
  // n = 0 gives the apex alone, an empty base record and no sides; n = 1 or 2 gives
  // degenerate faces, which exporters must tolerate.
  explicit NHSObject_PolyMesh(const NHSObject_Cone& source);

  // Draws with its own vertices, or its parent's when it has none and the parent holds a
  // vertex list; only the vertex range its polygons use is transformed. Polygons take the
  // colour override on both sides when set, else the colour in front and its grey blend
  // behind; each keeps its one-sided flag. Selected: the wireframe only, each edge once.
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  // Appends a polygon of the first min(n, 64) vertex numbers (fewer than 3 draw nothing),
  // with texture numbers or zeros when tex is null. override_color 0: none.
  void AddPolygon(const uint32_t* vertices, int n, bool one_sided, uint32_t override_color,
                  const uint32_t* tex);

  // A polygon record, read in place.
  struct PolygonView {
    uint32_t override_color;
    int n;
    bool one_sided;
    const uint32_t* vertices;
    const uint32_t* tex;
  };
  int CountPolygons() const;
  // Calls f(PolygonView) for each polygon in order.
  template <class F>
  void ForEachPolygon(F&& f) const {
    for (size_t at = 0; at < words_.size();) {
      const int n = static_cast<int>(words_[at + 1] & 0xffff);
      f(PolygonView{words_[at], n, (words_[at + 1] >> 16) != 0, &words_[at + 2],
                    &words_[at + 2 + n]});
      at += 2 + 2 * static_cast<size_t>(n);
    }
  }

 private:
  // Records of 2 + 2n words: override, n | one-sided << 16, vertex numbers, texture numbers.
  std::vector<uint32_t> words_;
};

// A mesh whose single vertices and faces can be picked: each has an id of its own (that
// resolves to the mesh). Drawn, never stored.
class NHSObject_EditableTriQuadMesh : public NHSObject {
 public:
  struct Vertex {
    int32_t uid;
    vm::Vector3 position;
  };
  struct Face {
    int32_t uid;
    int32_t a, b, c, d;  // d = -1: a triangle
  };

  NHSObject_EditableTriQuadMesh() : NHSObject(NHS_TYPE_EDITABLE_MESH) {}
  ~NHSObject_EditableTriQuadMesh() override;

  // Faces two-sided with the surface colours, each with its own id; selected: the
  // wireframe, each edge once, and an octagon marker at each vertex with the vertex's id.
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // Register a new id for the record; return its index.
  int AddVertex(const vm::Vector3& position);
  int AddFace(int32_t a, int32_t b, int32_t c, int32_t d = -1);
  // Unregisters every vertex and face id and empties both lists.
  void Clear();

  const std::vector<Vertex>& GetVertices() const { return vertices_; }
  const std::vector<Face>& GetFaces() const { return faces_; }

  static constexpr uint32_t kMarkerColor = 0xff7070f0;
  static constexpr unsigned kMarkerShape = 2;  // octagon
  static constexpr double kMarkerSize = 4.0;

 private:
  std::vector<Vertex> vertices_;
  std::vector<Face> faces_;
};
