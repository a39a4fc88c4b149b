// Test helper for Caligari ASCII scenes (SaveCamPathTruespace): the chunks of a file,
// found by their size fields.
//
//   kxtest::WalkChunks(text)  every chunk from the 32-byte header on, each reached from the
//                             one before through its size; a size that does not land on
//                             the next header line or on the end marker fails the test
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kxtest {

struct CaligariChunk {
  std::string kind;
  std::string version;  // as written, e.g. "0.08"
  unsigned long id = 0;
  unsigned long parent = 0;
  long size = 0;
  size_t begin = 0;  // the header line's first byte
  size_t end = 0;    // one past the chunk's last byte: the next header
};

inline std::vector<CaligariChunk> WalkChunks(const std::string& text) {
  std::vector<CaligariChunk> chunks;
  const std::string marker = "END  V1.00 Id 0 Parent 0 Size 0";
  EXPECT_EQ(text.substr(0, 32), "Caligari V00.01ALH" + std::string(13, ' ') + "\n");
  size_t at = 32;
  while (at < text.size() && text.compare(at, marker.size(), marker) != 0) {
    CaligariChunk chunk;
    chunk.begin = at;
    char kind[8] = {};
    char version[8] = {};
    int used = 0;
    if (std::sscanf(text.c_str() + at, "%4s V%7s Id %lu Parent %lu Size %8ld%n", kind, version,
                    &chunk.id, &chunk.parent, &chunk.size, &used) != 5) {
      ADD_FAILURE() << "no chunk header at " << at << ": " << text.substr(at, 60);
      return chunks;
    }
    chunk.kind = kind;
    chunk.version = version;
    // The size counts the header's line end and the body.
    EXPECT_EQ(text[at + size_t(used)], '\n') << chunk.kind << " at " << at;
    chunk.end = at + size_t(used) + size_t(chunk.size);
    if (chunk.size <= 0 || chunk.end > text.size()) {
      ADD_FAILURE() << chunk.kind << " at " << at << " has the size " << chunk.size;
      return chunks;
    }
    chunks.push_back(chunk);
    at = chunk.end;
  }
  // The end marker closes the file, without a line end.
  EXPECT_EQ(text.substr(at), marker);
  return chunks;
}

}  // namespace kxtest
