// Feeds arbitrary data to the readers of stored scene objects. The first byte chooses the
// road: 0 the word-chunk reader (NHSObject::ReadTree) over the remaining bytes taken as
// little-endian words; 1 and 2 the "Obj3D" fields of a binary or a text project file
// (Scene3D::LoadObjects), the remaining bytes being the body after the header.
//
// The readers may throw Serializer::Error (words) or their constant texts (fields); anything
// else (another exception, a crash, a sanitizer report, a hang) is a fault. What reads must
// also write back unchanged: written, read and written again twice, a tree gives the bytes
// it gave the first time (two loads, since every load reverses the child lists). Object
// classes not built yet are read as bare nodes of their type code.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "fuzz/fuzz_input_file.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/obj3d.h"
#include "scene/objects/serializer.h"
#include "scene/objects/stored_object_for_test.h"

namespace {

using Words = std::vector<uint32_t>;

constexpr char kTextHeader[] = "KLXP\nVersion 1.0\nMode ascii\n";
constexpr char kBinaryHeader[] = "KLXP\nVersion 1.0\nMode binary\nEndian big\n";

Words Write(const NHSObject& object) {
  Serializer::Writer writer;
  NHSObject::WriteTree(object, writer);
  return writer.Words();
}

// Reading words that the writer wrote must succeed.
std::unique_ptr<NHSObject> MustRead(const Words& words) {
  try {
    Serializer::Reader reader(words);
    return std::unique_ptr<NHSObject>(
        NHSObject::ReadTree(reader, kxtest::CreateStoredOrBareObject));
  } catch (Serializer::Error) {
    std::abort();
  }
}

void CheckWords(const NHSObject& tree) {
  const Words first = Write(tree);
  const Words second = Write(*MustRead(first));
  if (second.size() != first.size()) std::abort();
  if (Write(*MustRead(second)) != first) std::abort();
}

// The scratch file the fields are written back to.
const std::string& OutputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir && *dir ? dir : "/tmp") + "/kx_fuzz_out_" +
                    std::to_string(::getpid()) + ".kpz";
    std::atexit([] { std::remove(OutputPath().c_str()); });
    return p;
  }();
  return path;
}

std::string WriteFields(const NHSObject& root, bool binary) {
  DataBaseOut out;
  if (!out.Open(OutputPath().c_str(), binary ? 'b' : 'a')) std::abort();
  Scene3D::WriteObj3D(root, out);
  if (!out.Close()) std::abort();
  FILE* f = std::fopen(OutputPath().c_str(), "rb");
  if (f == nullptr) std::abort();
  std::string bytes;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

// Loading fields that the writer wrote must succeed.
void MustLoad(const std::string& file, NHSObject& root) {
  try {
    DataBaseIn in;
    in.Open(fuzz::WriteInput(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
    Scene3D::LoadObjects(root, in, kxtest::CreateStoredOrBareObject);
  } catch (const char*) {
    std::abort();
  }
}

void CheckFields(const NHSObject& root, bool binary) {
  const std::string first = WriteFields(root, binary);
  NHSObject_Scene second;
  MustLoad(first, second);
  const std::string second_bytes = WriteFields(second, binary);
  if (second_bytes.size() != first.size()) std::abort();
  NHSObject_Scene third;
  MustLoad(second_bytes, third);
  if (WriteFields(third, binary) != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Prepare(".kpz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int road = data[0] % 3;
  ++data;
  --size;
  if (road == 0) {
    Words words(size / 4);
    for (size_t i = 0; i < words.size(); ++i) {
      words[i] = data[4 * i] | data[4 * i + 1] << 8 | data[4 * i + 2] << 16 |
                 static_cast<uint32_t>(data[4 * i + 3]) << 24;
    }
    std::unique_ptr<NHSObject> tree;
    try {
      Serializer::Reader reader(words);
      tree.reset(NHSObject::ReadTree(reader, kxtest::CreateStoredOrBareObject));
    } catch (Serializer::Error) {
      return 0;
    }
    CheckWords(*tree);
    return 0;
  }

  const bool binary = road == 1;
  std::string file = binary ? kBinaryHeader : kTextHeader;
  file.append(reinterpret_cast<const char*>(data), size);
  NHSObject_Scene root;
  try {
    DataBaseIn in;
    in.Open(fuzz::WriteInput(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
    Scene3D::LoadObjects(root, in, kxtest::CreateStoredOrBareObject);
  } catch (const char*) {
    // The objects read before the failure stay; they must write back as well.
  }
  if (root.GetFirstChild() != nullptr) CheckFields(root, binary);
  return 0;
}
