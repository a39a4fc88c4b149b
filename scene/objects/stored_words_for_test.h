// Test helper: an object's stored words and their read-back through the object factory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/objects/nhs_object.h"
#include "scene/objects/serializer.h"
#include "scene/objects/stored_object_factory.h"

namespace kxtest {

using Words = std::vector<uint32_t>;

// The class's own data chunks (Serialize).
inline Words ClassWords(const NHSObject& object) {
  Serializer::Writer writer;
  object.Serialize(writer);
  return writer.Words();
}

inline Words TreeWords(const NHSObject& object) {
  Serializer::Writer writer;
  NHSObject::WriteTree(object, writer);
  return writer.Words();
}

// The tree read back through CreateStoredObject; throws Serializer::Error.
inline std::unique_ptr<NHSObject> ReadBack(const Words& words) {
  Serializer::Reader reader(words);
  return std::unique_ptr<NHSObject>(NHSObject::ReadTree(reader, CreateStoredObject));
}

// Deserialize over `words`: the Serializer::Error thrown, or 0; all words must be used.
inline int ReadClassWords(NHSObject& object, const Words& words) {
  try {
    Serializer::Reader reader(words);
    object.Deserialize(reader);
    return reader.Remaining() == 0 ? 0 : -1;
  } catch (Serializer::Error e) {
    return e;
  }
}

inline uint32_t FloatWord(float f) {
  uint32_t w;
  static_assert(sizeof w == sizeof f);
  __builtin_memcpy(&w, &f, sizeof w);
  return w;
}

}  // namespace kxtest
