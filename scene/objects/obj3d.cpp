#include "scene/objects/obj3d.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_format.h"
#include "scene/objects/serializer.h"

namespace Scene3D {

namespace {

constexpr int kWordsPerLine = 8;
// Words are read as they arrive; a stored count only bounds the loop.
constexpr size_t kInitialReserve = 4096;

char HexDigit(uint32_t v) {
  return "0123456789ABCDEF"[v & 0xf];
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void WriteObj3DField(const std::vector<uint32_t>& words, DataBaseOut& out) {
  const bool binary = out.IsBinary();
  const int32_t n = static_cast<int32_t>(words.size());
  out.PutKey(PF_KEY_OBJ3D);
  if (binary) {
    out.PutByte(PF_OBJECT_BEGIN);
    out.PutVarInt(n);
    for (uint32_t w : words) {
      out.Put4Chars(static_cast<char>(w >> 24), static_cast<char>(w >> 16),
                    static_cast<char>(w >> 8), static_cast<char>(w));
    }
    return;
  }
  out.PutByte(' ');
  out.PutByte('{');
  out.PutByte('\n');
  out.PutAInt(n);
  out.PutByte('\n');
  for (size_t i = 0; i < words.size(); ++i) {
    const uint32_t w = words[i];
    if (i > 0 && i % kWordsPerLine == 0) out.PutByte('\n');
    out.Put4Chars(HexDigit(w >> 28), HexDigit(w >> 24), HexDigit(w >> 20), HexDigit(w >> 16));
    out.Put4Chars(HexDigit(w >> 12), HexDigit(w >> 8), HexDigit(w >> 4), HexDigit(w));
  }
}

void WriteObj3D(const NHSObject& root, DataBaseOut& out) {
  Serializer::Writer writer;
  for (const NHSObject* c = root.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    if (!c->IsSceneObject()) continue;
    writer.Clear();
    NHSObject::WriteTree(*c, writer);
    WriteObj3DField(writer.Words(), out);
  }
  if (out.IsBinary()) {
    out.PutByte(PF_OBJECT_END);
  } else {
    out.PutByte('}');
    out.PutByte('\n');
  }
}

void ReadObj3DField(DataBaseIn& in, std::vector<uint32_t>& words) {
  const bool binary = in.IsBinary();
  int32_t n;
  if (binary) {
    if (in.GetByte() != PF_KEY_OBJ3D.id) throw "Scene3D::LoadObject: 3DObject id expected";
    if (in.GetByte() != PF_OBJECT_BEGIN) throw "Scene3D::LoadObject: missing separator";
    n = in.GetBInt();
  } else {
    char key[PF_MAX_KEY + 1];
    in.GetAToken(key, sizeof key);
    if (std::strcmp(key, PF_KEY_OBJ3D.name) != 0) {
      throw "Scene3D::LoadObject: 3DObject id expected";
    }
    in.SkipWhitespace();
    if (in.GetByte() != '{') throw "Scene3D::LoadObject: missing {";
    n = in.GetAInt();
  }
  if (n < 0 || n > kMaxObj3DWords) throw "Scene3D::LoadObject: invalid word count";

  words.clear();
  words.reserve(std::min(static_cast<size_t>(n), kInitialReserve));
  for (int32_t i = 0; i < n; ++i) {
    uint32_t w = 0;
    if (binary) {
      const uint8_t* b = in.Peek(4);
      w = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
          static_cast<uint32_t>(b[2]) << 8 | b[3];
      in.Skip(4);
    } else {
      if (i % kWordsPerLine == 0 && in.GetByte() != '\n') {
        throw "Scene3D::LoadObject: LF expected";
      }
      const uint8_t* d = in.Peek(8);
      for (int k = 0; k < 8; ++k) {
        const int v = HexValue(d[k]);
        if (v < 0) throw "Scene3D::LoadObject: hexadecimal digit expected";
        w = w << 4 | static_cast<uint32_t>(v);
      }
      in.Skip(8);
    }
    words.push_back(w);
  }
}

void LoadObject(NHSObject& root, DataBaseIn& in, NHSObjectFactory factory) {
  std::vector<uint32_t> words;
  ReadObj3DField(in, words);
  NHSObject* object = nullptr;
  try {
    Serializer::Reader reader(words);
    object = NHSObject::ReadTree(reader, factory);
  } catch (Serializer::Error) {
    throw "Scene3D::LoadObject: Object reconstruction error";
  }
  root.AddChild(object);
}

void LoadObjects(NHSObject& root, DataBaseIn& in, NHSObjectFactory factory) {
  for (;;) {
    if (in.IsBinary()) {
      if (*in.Peek(1) == PF_OBJECT_END) break;
    } else {
      in.SkipWhitespace();
      if (*in.Peek(1) == '}') break;
    }
    LoadObject(root, in, factory);
  }
  in.Skip(1);
}

}  // namespace Scene3D
