#include "scene/objects/mesh_objects.h"

#include <algorithm>

#include "foundation/numeric/point_transform.h"
#include "foundation/runtime/notify.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/serializer.h"
#include "scene/objects/texture_pow2.h"
#include "scene/render/element_render.h"

using vm::Vector2;
using vm::Vector3;

namespace {

constexpr uint16_t kVertexListSize = 1;
constexpr uint16_t kVertexSize = 3;
constexpr uint16_t kTextureSize = 3;
constexpr uint16_t kCoordinateSize = 2;
constexpr uint16_t kMeshHeaderSize = 2;
constexpr uint16_t kTriangleSize = 6;
constexpr uint16_t kPolygonMinSize = 9;

// A stored count of records that each take at least `words` words: more than the data
// left can hold is refused before anything is sized from it.
size_t CheckedCount(const Serializer::Reader& reader, uint32_t count, size_t words) {
  if (count > reader.Remaining() / words) throw Serializer::ERROR_HEADER_PAST_END;
  return count;
}

struct MeshColors {
  uint32_t front, back, outline;
};

// Triangle and polygon meshes: selected, the wireframe alone.
MeshColors FaceMeshColors(const NHSObject& mesh, bool opaque_back) {
  const uint32_t c = mesh.GetColor();
  if (IsSelected(mesh)) return {0, 0, c | 0xff000000};
  return {c, GreyBlend(c) | (opaque_back ? 0xff000000 : 0), 0};
}

// uv of the first three corners, or null when the face is drawn untextured.
const double* FaceUV(const NHSTextureParams& params, const uint32_t* tex, double* uv) {
  if (!params.IsTextured()) return nullptr;
  const std::vector<Vector2>& c = params.Coordinates();
  for (int i = 0; i < 3; ++i) {
    if (tex[i] >= c.size()) return nullptr;
    uv[2 * i] = c[tex[i]].x;
    uv[2 * i + 1] = c[tex[i]].y;
  }
  return uv;
}

// Two-sided face: the front colour when it faces the viewer, the back colour when it turns
// its back, nothing edge-on or for a colour of 0.
void DrawFace(NHSElementRender& r, const Vector3* p, int n, uint32_t front, uint32_t back,
              uint32_t id, bool one_sided, const NHSTexture* texture, const double* uv) {
  const Vector3 normal = FaceNormal(p[0], p[1], p[2]);
  const double facing = FacingValue(p[0], normal);
  const uint32_t color = facing < 0 ? front : (facing > 0 ? back : 0);
  if (color != 0) r.DrawPolygon(p, n, color, id, one_sided, &normal, uv ? texture : nullptr, uv);
}

// The header, vertex list and texture parameters that both face meshes begin with; reading
// gives the stored face count.
template <class Mesh>
void WriteMeshStart(const Mesh& mesh, uint32_t faces, Serializer::Writer& writer) {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kMeshHeaderSize);
  writer.PutWord(mesh.GetColor());
  writer.PutWord(faces);
  mesh.SerializeVertices(writer);
  mesh.SerializeTexture(writer);
}

template <class Mesh>
uint32_t ReadMeshStart(Mesh& mesh, Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kMeshHeaderSize);
  mesh.SetColor(reader.ReadWord());
  const uint32_t count = reader.ReadWord();
  reader.SkipRest(size, kMeshHeaderSize);
  mesh.DeserializeVertices(reader);
  mesh.DeserializeTexture(reader);
  return count;
}

}  // namespace

// ---- vertex list

void NHSVertexList::SerializeVertices(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_VERTEX_LIST, kVertexListSize);
  writer.PutWord(static_cast<uint32_t>(vertices_.size()));
  for (const Vector3& v : vertices_) {
    writer.PutHeader(Serializer::CHUNK_VERTEX, kVertexSize);
    writer.PutVector3(v);
  }
}

void NHSVertexList::DeserializeVertices(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_VERTEX_LIST, kVertexListSize);
  const uint32_t count = reader.ReadWord();
  reader.SkipRest(size, kVertexListSize);
  vertices_.assign(CheckedCount(reader, count, 1 + kVertexSize), Vector3{});
  for (Vector3& v : vertices_) {
    const uint16_t s = reader.ReadChunk(Serializer::CHUNK_VERTEX, kVertexSize);
    v = reader.ReadVector3();
    reader.SkipRest(s, kVertexSize);
  }
}

// ---- texture parameters

void NHSTextureParams::SerializeTexture(Serializer::Writer& writer) const {
  const uint32_t w = texture_ ? static_cast<uint32_t>(texture_->Width()) : 0;
  const uint32_t h = texture_ ? static_cast<uint32_t>(texture_->Height()) : 0;
  writer.PutHeader(Serializer::CHUNK_TEXTURE_PARAMS, kTextureSize);
  writer.PutWord(static_cast<uint32_t>(uv_.size()));
  writer.PutWord(w);
  writer.PutWord(h);
  for (const Vector2& c : uv_) {
    writer.PutHeader(Serializer::CHUNK_TEXTURE_COORD, kCoordinateSize);
    writer.PutVector2(c);
  }
  if (w != 0 && h != 0) writer.PutBlock(texture_->pixels, size_t{w} * h);
}

void NHSTextureParams::DeserializeTexture(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_TEXTURE_PARAMS, kTextureSize);
  const uint32_t count = reader.ReadWord();
  const uint32_t w = reader.ReadWord();
  const uint32_t h = reader.ReadWord();
  reader.SkipRest(size, kTextureSize);
  uv_.assign(CheckedCount(reader, count, 1 + kCoordinateSize), Vector2{});
  for (Vector2& c : uv_) {
    const uint16_t s = reader.ReadChunk(Serializer::CHUNK_TEXTURE_COORD, kCoordinateSize);
    c = reader.ReadVector2();
    reader.SkipRest(s, kCoordinateSize);
  }
  if (w == 0 || h == 0) return;
  const Serializer::Reader::Block block = reader.ReadBlock();
  if (block.count != uint64_t{w} * h) throw Serializer::ERROR_TOO_SHORT;
  texture_ = MakeTexturePow2(block.words, w, w, h);
}

// ---- mesh root

void NHSObject_MeshRoot::Serialize(Serializer::Writer& writer) const {
  SerializeVertices(writer);
}

void NHSObject_MeshRoot::Deserialize(Serializer::Reader& reader) {
  DeserializeVertices(reader);
}

// ---- triangle mesh

void NHSObject_TriMesh::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const size_t n_vertices = vertices_.size();
  if (n_vertices == 0) return;
  const MeshColors colors = FaceMeshColors(*this, true);
  std::vector<Vector3>& buffer = renderer.Vertices();
  buffer.resize(n_vertices);
  for (size_t i = 0; i < n_vertices; ++i) TransformPoint(buffer[i], model, vertices_[i]);
  if (colors.outline != 0) EdgeSlotTable(renderer.EdgeSlots()).Reset(static_cast<int>(n_vertices));
  const uint32_t id = PickId(*this);
  for (const Triangle& t : triangles_) {
    if (t.a >= n_vertices || t.b >= n_vertices || t.c >= n_vertices) continue;
    const int a = static_cast<int>(t.a), b = static_cast<int>(t.b), c = static_cast<int>(t.c);
    if (colors.outline != 0) {
      renderer.DrawEdgeOnce(a, b, 1.0, colors.outline, id);
      renderer.DrawEdgeOnce(b, c, 1.0, colors.outline, id);
      renderer.DrawEdgeOnce(c, a, 1.0, colors.outline, id);
    }
    if (colors.front == 0) continue;
    const Vector3 p[3] = {buffer[a], buffer[b], buffer[c]};
    const uint32_t tex[3] = {t.ta, t.tb, t.tc};
    double uv[6];
    DrawFace(renderer, p, 3, colors.front, colors.back, id, false, texture_.Get(),
             FaceUV(*this, tex, uv));
  }
}

void NHSObject_TriMesh::Serialize(Serializer::Writer& writer) const {
  WriteMeshStart(*this, static_cast<uint32_t>(triangles_.size()), writer);
  for (const Triangle& t : triangles_) {
    writer.PutHeader(Serializer::CHUNK_TRIANGLE, kTriangleSize);
    for (uint32_t w : {t.a, t.b, t.c, t.ta, t.tb, t.tc}) writer.PutWord(w);
  }
}

void NHSObject_TriMesh::Deserialize(Serializer::Reader& reader) {
  const uint32_t count = ReadMeshStart(*this, reader);
  triangles_.clear();
  triangles_.reserve(CheckedCount(reader, count, 1 + kTriangleSize));
  const size_t n_vertices = vertices_.size(), n_uv = uv_.size();
  size_t dropped = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t s = reader.ReadChunk(Serializer::CHUNK_TRIANGLE, kTriangleSize);
    Triangle t;
    for (uint32_t* w : {&t.a, &t.b, &t.c, &t.ta, &t.tb, &t.tc}) *w = reader.ReadWord();
    reader.SkipRest(s, kTriangleSize);
    const bool bad_vertex = t.a >= n_vertices || t.b >= n_vertices || t.c >= n_vertices;
    const bool bad_tex = n_uv != 0 && (t.ta >= n_uv || t.tb >= n_uv || t.tc >= n_uv);
    if (bad_vertex || bad_tex) {
      ++dropped;
      continue;
    }
    triangles_.push_back(t);
  }
  if (dropped != 0) {
    Notify(2,
           "NHSObject_TriMesh::Deserialize: %zu triangles with numbers outside the lists dropped",
           dropped);
  }
}

// ---- polygon mesh

void NHSObject_PolyMesh::AddPolygon(const uint32_t* vertices, int n, bool one_sided,
                                    uint32_t override_color, const uint32_t* tex) {
  n = std::clamp(n, 0, kMaxCorners);
  const size_t need = words_.size() + 2 + 2 * static_cast<size_t>(n);
  if (need > words_.capacity()) {
    words_.reserve(std::max(need, words_.capacity() == 0 ? size_t{1024} : 2 * words_.capacity()));
  }
  words_.push_back(override_color);
  words_.push_back(static_cast<uint32_t>(n) | (one_sided ? 0x10000u : 0u));
  words_.insert(words_.end(), vertices, vertices + n);
  if (tex != nullptr) {
    words_.insert(words_.end(), tex, tex + n);
  } else {
    words_.insert(words_.end(), static_cast<size_t>(n), 0u);
  }
}

int NHSObject_PolyMesh::CountPolygons() const {
  int count = 0;
  ForEachPolygon([&](const PolygonView&) { ++count; });
  return count;
}

void NHSObject_PolyMesh::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const std::vector<Vector3>* source = &vertices_;
  if (source->empty()) {
    const auto* parent = dynamic_cast<const NHSVertexList*>(GetParent());
    if (parent == nullptr) return;
    source = &parent->Vertices();
  }
  // Polygons whose numbers lie outside the source are skipped (the parent's list is only
  // known here).
  const size_t n_source = source->size();
  auto usable = [&](const PolygonView& p) {
    if (p.n < 3) return false;
    for (int i = 0; i < p.n; ++i) {
      if (p.vertices[i] >= n_source) return false;
    }
    return true;
  };
  size_t lo = n_source, hi = 0;
  ForEachPolygon([&](const PolygonView& p) {
    if (!usable(p)) return;
    for (int i = 0; i < p.n; ++i) {
      lo = std::min<size_t>(lo, p.vertices[i]);
      hi = std::max<size_t>(hi, p.vertices[i]);
    }
  });
  if (lo >= hi) return;
  std::vector<Vector3>& buffer = renderer.Vertices();
  buffer.resize(hi - lo + 1);
  for (size_t i = 0; i < buffer.size(); ++i) TransformPoint(buffer[i], model, (*source)[lo + i]);

  const MeshColors colors = FaceMeshColors(*this, false);
  if (colors.outline != 0) EdgeSlotTable(renderer.EdgeSlots()).Reset(static_cast<int>(hi - lo + 1));
  const uint32_t id = PickId(*this);
  ForEachPolygon([&](const PolygonView& p) {
    if (!usable(p)) return;
    int local[kMaxCorners];
    Vector3 points[kMaxCorners];
    for (int i = 0; i < p.n; ++i) {
      local[i] = static_cast<int>(p.vertices[i] - lo);
      points[i] = buffer[local[i]];
    }
    if (colors.outline != 0) {
      for (int i = 0, prev = p.n - 1; i < p.n; prev = i++) {
        renderer.DrawEdgeOnce(local[prev], local[i], 1.0, colors.outline, id);
      }
    }
    if (colors.front == 0 && colors.back == 0) return;
    const uint32_t front = p.override_color != 0 ? p.override_color : colors.front;
    const uint32_t back = p.override_color != 0 ? p.override_color : colors.back;
    double uv[6];
    DrawFace(renderer, points, p.n, front, back, id, p.one_sided, texture_.Get(),
             FaceUV(*this, p.tex, uv));
  });
}

void NHSObject_PolyMesh::Serialize(Serializer::Writer& writer) const {
  WriteMeshStart(*this, static_cast<uint32_t>(CountPolygons()), writer);
  ForEachPolygon([&](const PolygonView& p) {
    // A polygon of fewer than 3 corners is padded to the 9 words every reader needs, so
    // that what is written always loads.
    const int size = std::max(2 * p.n + 3, int{kPolygonMinSize});
    writer.PutHeader(Serializer::CHUNK_POLYGON, static_cast<uint16_t>(size));
    writer.PutWord(p.override_color);
    writer.PutWord(static_cast<uint32_t>(p.n));
    writer.PutWord(p.one_sided ? 1 : 0);
    for (int i = 0; i < p.n; ++i) writer.PutWord(p.vertices[i]);
    for (int i = 0; i < p.n; ++i) writer.PutWord(p.tex[i]);
    for (int i = 2 * p.n + 3; i < size; ++i) writer.PutWord(0);
  });
}

void NHSObject_PolyMesh::Deserialize(Serializer::Reader& reader) {
  const uint32_t count = ReadMeshStart(*this, reader);
  words_.clear();
  CheckedCount(reader, count, 1 + kPolygonMinSize);
  const bool keep_tex = IsTextured();
  const size_t n_vertices = vertices_.size(), n_uv = uv_.size();
  size_t dropped = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t s = reader.ReadChunk(Serializer::CHUNK_POLYGON, kPolygonMinSize);
    const uint32_t override_color = reader.ReadWord();
    const uint32_t n = reader.ReadWord();
    const bool one_sided = reader.ReadWord() != 0;
    if (n > kMaxCorners || 2 * n + 3 > s) throw Serializer::ERROR_TOO_SHORT;
    uint32_t numbers[2 * kMaxCorners];
    for (uint32_t j = 0; j < 2 * n; ++j) numbers[j] = reader.ReadWord();
    reader.SkipRest(s, static_cast<uint16_t>(2 * n + 3));
    // Without vertices of its own the mesh draws its parent's, checked when drawing.
    bool bad = false;
    for (uint32_t j = 0; j < n; ++j) {
      bad |= n_vertices != 0 && numbers[j] >= n_vertices;
      bad |= keep_tex && numbers[n + j] >= n_uv;
    }
    if (bad) {
      ++dropped;
      continue;
    }
    AddPolygon(numbers, static_cast<int>(n), one_sided, override_color,
               keep_tex ? numbers + n : nullptr);
  }
  if (dropped != 0) {
    Notify(2,
           "NHSObject_PolyMesh::Deserialize: %zu polygons with numbers outside the lists dropped",
           dropped);
  }
}

// ---- editable mesh

NHSObject_EditableTriQuadMesh::~NHSObject_EditableTriQuadMesh() {
  Clear();
}

int NHSObject_EditableTriQuadMesh::AddVertex(const Vector3& position) {
  vertices_.push_back({UIDRegistry::Instance().Register(this, 0), position});
  return static_cast<int>(vertices_.size()) - 1;
}

int NHSObject_EditableTriQuadMesh::AddFace(int32_t a, int32_t b, int32_t c, int32_t d) {
  faces_.push_back({UIDRegistry::Instance().Register(this, 0), a, b, c, d});
  return static_cast<int>(faces_.size()) - 1;
}

void NHSObject_EditableTriQuadMesh::Clear() {
  for (const Vertex& v : vertices_) UIDRegistry::Instance().Unregister(v.uid);
  for (const Face& f : faces_) UIDRegistry::Instance().Unregister(f.uid);
  vertices_.clear();
  faces_.clear();
}

void NHSObject_EditableTriQuadMesh::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const int n_vertices = static_cast<int>(vertices_.size());
  if (n_vertices == 0) return;
  const bool selected = IsSelected(*this);
  const SurfaceColors colors = GetSurfaceColors(*this);
  const uint32_t back = selected ? colors.fill : GreyBlend(GetColor());
  std::vector<Vector3>& buffer = renderer.Vertices();
  buffer.resize(vertices_.size());
  for (int i = 0; i < n_vertices; ++i) TransformPoint(buffer[i], model, vertices_[i].position);
  if (selected) EdgeSlotTable(renderer.EdgeSlots()).Reset(n_vertices);
  const uint32_t id = PickId(*this);
  for (const Face& f : faces_) {
    const int corners[4] = {f.a, f.b, f.c, f.d};
    const int n = f.d >= 0 ? 4 : 3;
    bool bad = false;
    for (int i = 0; i < n; ++i) bad |= corners[i] < 0 || corners[i] >= n_vertices;
    if (bad) continue;
    Vector3 p[4];
    for (int i = 0; i < n; ++i) p[i] = buffer[corners[i]];
    if (selected) {
      for (int i = 0; i < n; ++i) {
        renderer.DrawEdgeOnce(corners[i], corners[(i + 1) % n], 1.0, colors.outline, id);
      }
    }
    DrawFace(renderer, p, n, colors.fill, back, static_cast<uint32_t>(f.uid), false, nullptr,
             nullptr);
  }
  if (!selected) return;
  for (int i = 0; i < n_vertices; ++i) {
    renderer.DrawMarker(buffer[i], kMarkerShape, kMarkerSize, kMarkerColor,
                        static_cast<uint32_t>(vertices_[i].uid));
  }
}
