#include "export/writers/save_cam_path_collada_objects.h"

#include <memory>
#include <ostream>

#include "export/file_io.h"
#include "export/writers/export_meshes.h"
#include "export/writers/save_cam_path_collada.h"
#include "foundation/runtime/notify.h"
#include "image/image_file_io.h"
#include "scene/objects/nhs_object_scene.h"

namespace {

std::string Tabs(int n) {
  return std::string(size_t(n), '\t');
}

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsPolyMesh(const NHSObject& object) {
  return dynamic_cast<const NHSObject_PolyMesh*>(&object) != nullptr;
}

// Every id the document derives from an object id.
std::vector<std::string> DerivedIds(const std::string& id) {
  const std::string tex = GetTextureId(id, 0);
  return {id,          id + "-geom", id + "-Pos", id + "-Pos-array", id + "-uvs", id + "-uvs-array",
          id + "-Vtx", tex,          tex + "-fx", tex + "-material"};
}

}  // namespace

void CopyExportableObjects(NHSObject* parent_copy, const NHSObject& source) {
  if (parent_copy == nullptr) return;
  std::unique_ptr<NHSObject> copy;
  if (source.GetUIDType() == NHS_TYPE_SCENE) {
    copy = std::make_unique<NHSObject_Scene>();
  } else {
    copy = MakeExportMesh(source);
  }
  if (copy == nullptr) return;  // the whole subtree stays out
  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SetName(copy->GetUID(), registry.GetName(source.GetUID()));
  NHSObject* added = parent_copy->AddChild(copy.release());
  for (const NHSObject* child = source.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    CopyExportableObjects(added, *child);
  }
}

bool HasPolyMesh(const NHSObject& object) {
  if (IsPolyMesh(object)) return true;
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    if (HasPolyMesh(*child)) return true;
  }
  return false;
}

const NHSTexture* GetObjectTexture(const NHSObject& object) {
  const auto* params = dynamic_cast<const NHSTextureParams*>(&object);
  return params != nullptr ? params->GetTexture().Get() : nullptr;
}

bool HasTexturedMesh(const NHSObject& object) {
  const auto* mesh = dynamic_cast<const NHSObject_PolyMesh*>(&object);
  if (mesh != nullptr && mesh->GetTexture() && !mesh->Coordinates().empty()) return true;
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    if (HasTexturedMesh(*child)) return true;
  }
  return false;
}

std::string GetExportObjectName(const NHSObject& object) {
  const char* name = UIDRegistry::Instance().GetName(object.GetUID());
  return name != nullptr && name[0] != '\0' ? name : "todo";
}

std::string XmlName(const std::string& text) {
  if (text.empty()) return "_";
  std::string name;
  name.reserve(text.size() + 1);
  if (!IsNameStart(static_cast<unsigned char>(text[0]))) name += '_';
  for (char c : text) name += IsNameChar(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

std::string GetTextureId(const std::string& id, unsigned index) {
  return id + "-" + std::to_string(index);
}

unsigned GetMeshVertexCount(const NHSObject_PolyMesh& mesh) {
  const std::vector<vm::Vector3>* vertices = GetMeshVertices(mesh);
  return vertices != nullptr ? static_cast<unsigned>(vertices->size()) : 0;
}

Matrix4x4 FlipYZRows(const Matrix4x4& m) {
  Matrix4x4 flip{};
  flip.SetZero();
  flip[0][0] = 1.0;
  flip[1][1] = -1.0;
  flip[2][2] = -1.0;
  flip[3][3] = 1.0;
  Matrix4x4 flipped;
  flipped.Multiply(flip, m);
  return flipped;
}

bool write_image(const NHSTexture& texture, const std::string& path) {
  if (path.empty()) return false;
  Notify(5, "write_image: save texture \"%s\"", path.c_str());
  Notify(3, "write_image: save texture \"%s\"", path.c_str());
  if (texture.pixels == nullptr) {
    Notify(2, "write_image: texture for \"%s\" has no pixels", path.c_str());
    return false;
  }
  const int width = texture.Width();
  const int height = texture.Height();
  // The context holds a large buffer: off the stack.
  const auto context = std::make_unique<ImageFileIO::ImageFileContext>();
  int32_t result = ImageFileIO::OpenWrite(context.get(), path.c_str(), ImageFileIO::kWritePNG,
                                          width, height, 24);
  for (int y = 0; result == 0 && y < height; ++y) {
    result = ImageFileIO::WriteRow(texture.pixels + size_t(y) * size_t(width), context.get());
  }
  const int32_t closed = ImageFileIO::Close(context.get());
  if (result == 0) result = closed;
  if (result != 0) {
    Notify(2, "write_image: writing \"%s\" failed (%d)", path.c_str(), static_cast<int>(result));
    return false;
  }
  return true;
}

void SaveCamPathCollada::AssignObjectIds(const NHSObject& root, std::set<std::string>& taken) {
  if (IsPolyMesh(root)) {
    const std::string name = XmlName(GetExportObjectName(root));
    std::string id = name;
    auto is_free = [&](const std::string& candidate) {
      for (const std::string& derived : DerivedIds(candidate)) {
        if (taken.count(derived) != 0) return false;
      }
      return true;
    };
    for (unsigned n = 1; !is_free(id); ++n) id = name + "_" + std::to_string(n);
    for (std::string& derived : DerivedIds(id)) taken.insert(std::move(derived));
    object_ids_[&root] = id;
  }
  for (const NHSObject* child = root.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    AssignObjectIds(*child, taken);
  }
}

std::string SaveCamPathCollada::ObjectId(const NHSObject& object) const {
  const auto found = object_ids_.find(&object);
  return found != object_ids_.end() ? found->second : XmlName(GetExportObjectName(object));
}

char SaveCamPathCollada::SplitOutputPath(std::string* directory, std::string* file) const {
  const std::string& path = GetOutputPath();
  const size_t at = path.find_last_of("/\\");
  if (directory != nullptr)
    *directory = at == std::string::npos ? std::string() : path.substr(0, at);
  if (file != nullptr) *file = at == std::string::npos ? path : path.substr(at + 1);
  return at == std::string::npos ? '/' : path[at];
}

std::string SaveCamPathCollada::TextureFileName() const {
  std::string directory, file, base;
  SplitOutputPath(&directory, &file);
  SplitFileExtension(file, &base, nullptr);
  return base + "_" + std::to_string(image_counter_) + ".png";
}

std::string SaveCamPathCollada::TexturePath(const std::string& file_name) const {
  std::string directory;
  const char separator = SplitOutputPath(&directory, nullptr);
  return directory.empty() ? file_name : directory + separator + file_name;
}

void SaveCamPathCollada::WriteImages(std::ostream& out, const NHSObject& object) {
  if (const NHSTexture* texture = GetObjectTexture(object)) {
    const std::string tex = GetTextureId(ObjectId(object), 0);
    const std::string file = TextureFileName();
    ++image_counter_;
    out << Tabs(2) << "<image id=\"" << tex << "\" name=\"" << tex << "\">\n";
    out << Tabs(3) << "<init_from>./" << XmlEscape(file) << "</init_from>\n";
    if (!write_image(*texture, TexturePath(file))) textures_written_ = false;
    out << Tabs(2) << "</image>\n";
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteImages(out, *child);
  }
}

void SaveCamPathCollada::WriteEffects(std::ostream& out, const NHSObject& object) const {
  if (GetObjectTexture(object) != nullptr) {
    const std::string tex = GetTextureId(ObjectId(object), 0);
    out << Tabs(2) << "<effect id=\"" << tex << "-fx\">\n";
    out << Tabs(3) << "<profile_COMMON>\n";
    out << Tabs(4) << "<newparam sid=\"" << tex << "-surface\">\n";
    out << Tabs(5) << "<surface type=\"2D\">\n";
    out << Tabs(6) << "<init_from>" << tex << "</init_from>\n";
    out << Tabs(5) << "</surface>\n";
    out << Tabs(4) << "</newparam>\n";
    out << Tabs(4) << "<newparam sid=\"" << tex << "-sampler\">\n";
    out << Tabs(5) << "<sampler2D>\n";
    out << Tabs(6) << "<source>" << tex << "-surface</source>\n";
    out << Tabs(5) << "</sampler2D>\n";
    out << Tabs(4) << "</newparam>\n";
    out << Tabs(4) << "<technique sid=\"" << tex << "-technique\">\n";
    out << Tabs(5) << "<phong>\n";
    out << Tabs(6) << "<diffuse>\n";
    out << Tabs(7) << "<texture texture=\"" << tex << "-sampler\" texcoord=\"UVSET0\"/>\n";
    out << Tabs(6) << "</diffuse>\n";
    out << Tabs(5) << "</phong>\n";
    out << Tabs(4) << "</technique>\n";
    out << Tabs(3) << "</profile_COMMON>\n";
    out << Tabs(2) << "</effect>\n";
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteEffects(out, *child);
  }
}

void SaveCamPathCollada::WriteMaterials(std::ostream& out, const NHSObject& object) const {
  if (GetObjectTexture(object) != nullptr) {
    const std::string tex = GetTextureId(ObjectId(object), 0);
    out << Tabs(2) << "<material id=\"" << tex << "-material\">\n";
    out << Tabs(3) << "<instance_effect url=\"#" << tex << "-fx\"/>\n";
    out << Tabs(2) << "</material>\n";
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteMaterials(out, *child);
  }
}

void SaveCamPathCollada::WriteGeometries(std::ostream& out, const NHSObject& object) const {
  if (const auto* mesh = dynamic_cast<const NHSObject_PolyMesh*>(&object)) {
    const std::string id = ObjectId(*mesh);
    const std::vector<vm::Vector3>* vertices = GetMeshVertices(*mesh);
    const size_t v = vertices != nullptr ? vertices->size() : 0;
    const std::vector<vm::Vector2>& uvs = mesh->Coordinates();
    const bool with_coordinates = !uvs.empty() && mesh->GetTexture();
    out << Tabs(2) << "<geometry id=\"" << id << "-geom\">\n";
    out << Tabs(3) << "<mesh>\n";
    out << Tabs(4) << "<source id=\"" << id << "-Pos\">\n";
    out << Tabs(5) << "<float_array id=\"" << id << "-Pos-array\" count=\"" << 3 * v << "\">\n";
    for (size_t k = 0; k < v; ++k) {
      const vm::Vector3& p = (*vertices)[k];
      out << Tabs(6) << p.x << ' ' << p.y << ' ' << p.z << '\n';
    }
    out << Tabs(5) << "</float_array>\n";
    out << Tabs(5) << "<technique_common>\n";
    out << Tabs(6) << "<accessor source=\"#" << id << "-Pos-array\" count=\"" << v
        << "\" stride=\"3\">\n";
    for (const char* axis : {"X", "Y", "Z"}) {
      out << Tabs(7) << "<param name=\"" << axis << "\" type=\"float\"/>\n";
    }
    out << Tabs(6) << "</accessor>\n";
    out << Tabs(5) << "</technique_common>\n";
    out << Tabs(4) << "</source>\n";
    if (with_coordinates) {
      out << Tabs(4) << "<source id=\"" << id << "-uvs\">\n";
      out << Tabs(5) << "<float_array id=\"" << id << "-uvs-array\" count=\"" << 2 * uvs.size()
          << "\" >\n";
      // The texture's rows run downwards, the document's t upwards.
      for (const vm::Vector2& uv : uvs) out << Tabs(6) << uv.x << ' ' << 1.0 - uv.y << '\n';
      out << Tabs(5) << "</float_array>\n";
      out << Tabs(5) << "<technique_common>\n";
      out << Tabs(6) << "<accessor source=\"#" << id << "-uvs-array\" count=\"" << uvs.size()
          << "\" stride=\"2\">\n";
      out << Tabs(7) << "<param name=\"S\" type=\"float\"/>\n";
      out << Tabs(7) << "<param name=\"T\" type=\"float\"/>\n";
      out << Tabs(6) << "</accessor>\n";
      out << Tabs(5) << "</technique_common>\n";
      out << Tabs(4) << "</source>\n";
    }
    out << Tabs(4) << "<vertices id=\"" << id << "-Vtx\">\n";
    out << Tabs(5) << "<input semantic=\"POSITION\" source=\"#" << id << "-Pos\"/>\n";
    out << Tabs(4) << "</vertices>\n";
    const int polygons = CountExportFaces(*mesh);
    if (polygons > 0) {
      out << Tabs(4) << "<polylist  count=\"" << polygons << '"';
      if (with_coordinates) out << " material=\"" << GetTextureId(id, 0) << "-symbol\"";
      out << ">\n";
      out << Tabs(5) << "<input semantic=\"VERTEX\" source=\"#" << id << "-Vtx\" offset=\"0\"/>\n";
      if (with_coordinates) {
        out << Tabs(5) << "<input semantic=\"TEXCOORD\" source=\"#" << id
            << "-uvs\" offset=\"1\" set=\"0\" />\n";
      }
      out << Tabs(5) << "<vcount>";
      ForEachExportFace(*mesh,
                        [&](const NHSObject_PolyMesh::PolygonView& p) { out << p.n << ' '; });
      out << "</vcount>\n";
      out << Tabs(5) << "<p>";
      ForEachExportFace(*mesh, [&](const NHSObject_PolyMesh::PolygonView& p) {
        for (int j = 0; j < p.n; ++j) {
          out << p.vertices[j] << ' ';
          if (with_coordinates) out << p.tex[j] << ' ';
        }
      });
      out << "</p>\n";
      out << Tabs(4) << "</polylist>\n";
    }
    out << Tabs(3) << "</mesh>\n";
    out << Tabs(2) << "</geometry>\n";
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteGeometries(out, *child);
  }
}

void SaveCamPathCollada::WriteMeshNodes(std::ostream& out, const NHSObject& object,
                                        bool with_materials, int tabs, bool nested) const {
  int child_tabs = tabs;
  const bool is_mesh = IsPolyMesh(object);
  if (is_mesh) {
    const std::string id = ObjectId(object);
    const Matrix3x4& t = object.GetTransform();
    Matrix4x4 local;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) local[r][c] = t[r][c];
    }
    local[3][0] = local[3][1] = local[3][2] = 0.0;
    local[3][3] = 1.0;
    // The outermost node turns the tracking frame into the document's; a nested node lies
    // in its parent's frame, which already is turned.
    const Matrix4x4 m = nested ? local : FlipYZRows(local);
    out << Tabs(tabs) << "<node layer=\"L1\" id=\"" << id << "\" name=\""
        << XmlName(GetExportObjectName(object)) << "\">\n";
    for (int r = 0; r < 4; ++r) {
      out << (r == 0 ? Tabs(tabs + 1) + "<matrix>" : Tabs(tabs + 2) + "      ");
      out << m[r][0] << ' ' << m[r][1] << ' ' << m[r][2] << ' ' << m[r][3] << '\n';
    }
    out << Tabs(tabs + 1) << "</matrix>\n";
    out << Tabs(tabs + 1) << "<instance_geometry url=\"#" << id << "-geom\">\n";
    // Only a written material library has something to bind.
    if (with_materials && GetObjectTexture(object) != nullptr) {
      const std::string tex = GetTextureId(id, 0);
      out << Tabs(tabs + 2) << "<bind_material>\n";
      out << Tabs(tabs + 3) << "<technique_common>\n";
      out << Tabs(tabs + 4) << "<instance_material symbol=\"" << tex << "-symbol\" target=\"#"
          << tex << "-material\"/>\n";
      out << Tabs(tabs + 3) << "</technique_common>\n";
      out << Tabs(tabs + 2) << "</bind_material>\n";
    }
    out << Tabs(tabs + 1) << "</instance_geometry>\n";
    // A child's transform is relative to this mesh: its node goes inside this one.
    child_tabs = tabs + 1;
  }
  for (const NHSObject* child = object.GetFirstChild(); child != nullptr;
       child = child->GetNextSibling()) {
    WriteMeshNodes(out, *child, with_materials, child_tabs, nested || is_mesh);
  }
  if (is_mesh) out << Tabs(tabs) << "</node>\n";
}
