// Stored object trees: NHSObject::WriteTree and NHSObject::ReadTree, and the name property's
// chunk.

#include <cmath>
#include <memory>
#include <string>

#include "foundation/runtime/notify.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/serializer.h"

namespace {

// The object chunk's words after its header: type, name flag, property count, child
// count and the 12 transform words.
constexpr uint16_t kObjectChunkSize = 16;

NHSObject* ReadTreeAt(Serializer::Reader& reader, NHSObjectFactory factory, int depth) {
  if (depth > NHSObject::kMaxStoredDepth) throw Serializer::ERROR_TOO_DEEP;
  const Serializer::Reader::Header h = reader.ReadHeader();
  if (h.kind != Serializer::CHUNK_OBJECT) throw Serializer::ERROR_WRONG_KIND;
  if (h.size < kObjectChunkSize) throw Serializer::ERROR_TOO_SHORT;
  const uint32_t type = reader.ReadWord();
  NHSObject* created = type <= 0xffff ? factory(static_cast<uint16_t>(type)) : nullptr;
  if (created == nullptr) throw Serializer::ERROR_BAD_TYPE;
  // Owned here until the whole subtree has been read: a failure anywhere destroys it.
  std::unique_ptr<NHSObject> object(created);

  const uint32_t has_name = reader.ReadWord();
  const uint32_t num_properties = reader.ReadWord();
  const uint32_t num_children = reader.ReadWord();
  Matrix3x4& transform = object->GetTransform();
  reader.ReadTransform(transform);
  for (double v : transform.m) {
    if (!std::isfinite(v)) {
      // Stored data, not trusted: a transform that is not finite would spread into every
      // point drawn below it.
      Notify(2, "NHSObject::ReadTree: transform not finite, identity used");
      transform = Matrix3x4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}};
      break;
    }
  }
  reader.Skip(h.size - kObjectChunkSize);

  if (has_name != 0) {
    UIDRegistry::Instance().SetName(object->GetUID(), reader.ReadString().c_str());
  }
  object->Deserialize(reader);
  // The counts are not trusted either: each item reads at least one word, so a false count
  // ends at the end of the data.
  for (uint32_t i = 0; i < num_properties; ++i) {
    if (reader.ReadWord() != NHSProperty_Name::kKind) throw Serializer::ERROR_BAD_TYPE;
    auto property = std::make_unique<NHSProperty_Name>();
    property->Read(reader);
    object->AddProperty(property.release());
  }
  for (uint32_t i = 0; i < num_children; ++i) {
    object->AddChild(ReadTreeAt(reader, factory, depth + 1));
  }
  return object.release();
}

}  // namespace

void NHSProperty_Name::Write(Serializer::Writer& writer) const {
  writer.PutString(name_);
}

void NHSProperty_Name::Read(Serializer::Reader& reader) {
  SetName(reader.ReadString().c_str());
}

void NHSObject::WriteTree(const NHSObject& object, Serializer::Writer& writer) {
  const char* stored_name = UIDRegistry::Instance().GetName(object.GetUID());
  const bool has_name = stored_name != nullptr;
  const std::string name = has_name ? stored_name : "";
  writer.PutHeader(Serializer::CHUNK_OBJECT, kObjectChunkSize);
  writer.PutWord(object.GetUIDType());
  writer.PutWord(has_name ? 1 : 0);
  writer.PutWord(static_cast<uint32_t>(object.CountProperties()));
  writer.PutWord(static_cast<uint32_t>(object.CountChildren()));
  writer.PutTransform(object.GetTransform());
  if (has_name) writer.PutString(name.c_str());
  object.Serialize(writer);
  for (const NHSProperty* p = object.GetFirstProperty(); p != nullptr; p = p->GetNext()) {
    writer.PutWord(static_cast<uint32_t>(p->GetKind()));
    p->Write(writer);
  }
  for (const NHSObject* c = object.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    WriteTree(*c, writer);
  }
}

NHSObject* NHSObject::ReadTree(Serializer::Reader& reader, NHSObjectFactory factory) {
  return ReadTreeAt(reader, factory, 0);
}
