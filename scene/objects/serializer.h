// The word-chunk stream of stored scene objects.
//
// A stream is a sequence of 32-bit words made of chunks. A chunk header is one word: the
// kind in its low 16 bits, the size in its high 16 bits, counting the words that follow
// and belong to the chunk (chunks nested after it, such as child objects, are not
// counted). A reader takes a chunk larger than it needs and skips the rest, so later
// versions may append words.
//
// Chunk kinds: 1 object, 2 an object class's data, 3 string, 4 counted block, 5 texture
// parameters, 7 vertex list, 9 texture coordinate, 10 vertex, 11 triangle, 13 polygon.
//
// The reader treats the stream as outside data: every read is bounded by the stream's end
// and every failure throws a Serializer::Error; nothing is allocated from a stored count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"

namespace Serializer {

enum ChunkKind : uint16_t {
  CHUNK_OBJECT = 1,
  CHUNK_CLASS_DATA = 2,
  CHUNK_STRING = 3,
  CHUNK_BLOCK = 4,
  CHUNK_TEXTURE_PARAMS = 5,
  CHUNK_VERTEX_LIST = 7,
  CHUNK_TEXTURE_COORD = 9,
  CHUNK_VERTEX = 10,
  CHUNK_TRIANGLE = 11,
  CHUNK_POLYGON = 13,
};

// Thrown by the reader and the class readers.
enum Error : int {
  ERROR_BAD_TYPE = 1,         // an object type no class has, or a property word other than 1
  ERROR_WRONG_KIND = 3,       // a chunk header of an unexpected kind
  ERROR_TOO_SHORT = 4,        // a chunk shorter than its reader needs
  ERROR_BLOCK_SIZE = 5,       // a counted block whose size field is not 0
  ERROR_HEADER_PAST_END = 6,  // a chunk header due at the end of the data
  ERROR_WORD_PAST_END = 8,    // a value word due at the end of the data
  ERROR_VALUE_PAST_END = 9,   // fewer words left than a transform, vector or float needs
  ERROR_SKIP_PAST_END = 10,   // a skip past the end of the data
  ERROR_TOO_DEEP = 11,        // objects nested deeper than a scene ever holds
};

// The longest text a string chunk holds: its size, length / 4 + 1, fits 16 bits.
inline constexpr size_t kMaxStringLength = 4 * 65535 - 1;

inline uint32_t MakeHeader(uint16_t kind, uint16_t size) {
  return kind | static_cast<uint32_t>(size) << 16;
}

class Writer {
 public:
  void Clear() { words_.clear(); }
  const std::vector<uint32_t>& Words() const { return words_; }

  void PutWord(uint32_t word) { words_.push_back(word); }
  void PutHeader(uint16_t kind, uint16_t size) { PutWord(MakeHeader(kind, size)); }
  // 12 words, row by row, each the IEEE bits of the value rounded to a float.
  void PutTransform(const Matrix3x4& m);
  // A string chunk: size length / 4 + 1, the bytes in order, four per word with the first
  // in the least significant byte, zero-padded (so always terminated inside the chunk).
  // Null writes the empty text; a text longer than kMaxStringLength is cut.
  void PutString(const char* text);
  // One word: the IEEE bits of the value rounded to a float.
  void PutFloat(double value);
  void PutVector2(const vm::Vector2& v);
  void PutVector3(const vm::Vector3& v);
  // A counted block: header (kind 4, size 0), the word count, then the words.
  void PutBlock(const uint32_t* words, size_t count);

 private:
  std::vector<uint32_t> words_;
};

class Reader {
 public:
  struct Header {
    uint16_t kind;
    uint16_t size;
  };

  // A view of [begin, end); the words must outlive the reader. swap_strings byte-reverses
  // the words of string chunks before their characters are taken (a stream from a host of
  // the other byte order); this program's loader always leaves it clear.
  Reader(const uint32_t* begin, const uint32_t* end, bool swap_strings = false)
      : pos_(begin), end_(end), swap_strings_(swap_strings) {}
  explicit Reader(const std::vector<uint32_t>& words)
      : Reader(words.data(), words.data() + words.size()) {}

  size_t Remaining() const { return static_cast<size_t>(end_ - pos_); }

  // Error 6 at the end of the data.
  Header ReadHeader();
  // Error 8 at the end of the data.
  uint32_t ReadWord();
  // Error 10 when fewer than n words are left; n = 0 does nothing.
  void Skip(size_t n);
  // Error 9 when fewer than 12 words are left; each float widened to a double.
  void ReadTransform(Matrix3x4& out);
  // A string chunk (else Error 3): the text up to its first NUL, and never beyond the
  // chunk's size x 4 bytes (Error 10 when the chunk passes the end). A chunk of size 0
  // is the empty text.
  std::string ReadString();

  // One word as a float, widened; Error 9 at the end of the data.
  double ReadFloat();
  // Two or three floats; Error 9 when fewer words are left.
  vm::Vector2 ReadVector2();
  vm::Vector3 ReadVector3();

  struct Block {
    const uint32_t* words;
    size_t count;
  };
  // A counted block: a header of kind 4 (else Error 3) and size 0 (else Error 5), the
  // word count, then the words, returned as a view and skipped (Error 10 past the end).
  Block ReadBlock();

  // The header of a chunk of `kind` (else Error 3) and at least `min_size` words (else
  // Error 4); returns its size. The caller reads min_size words and then skips the rest
  // (SkipRest), so that a longer chunk written by a later version loads.
  uint16_t ReadChunk(uint16_t kind, uint16_t min_size);
  void SkipRest(uint16_t size, uint16_t used) { Skip(size_t{size} - used); }

 private:
  const uint32_t* pos_;
  const uint32_t* end_;
  bool swap_strings_;
};

}  // namespace Serializer
