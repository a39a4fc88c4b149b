#include "scene/objects/serializer.h"

#include <cstring>

namespace Serializer {

namespace {

uint32_t FloatBits(double value) {
  const float f = static_cast<float>(value);
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

double FromFloatBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

uint32_t ByteSwap(uint32_t w) {
  return (w >> 24) | ((w >> 8) & 0xff00) | ((w << 8) & 0xff0000) | (w << 24);
}

}  // namespace

void Writer::PutTransform(const Matrix3x4& m) {
  for (double v : m.m) PutWord(FloatBits(v));
}

void Writer::PutString(const char* text) {
  size_t length = text == nullptr ? 0 : std::strlen(text);
  if (length > kMaxStringLength) length = kMaxStringLength;
  const size_t size = length / 4 + 1;
  PutHeader(CHUNK_STRING, static_cast<uint16_t>(size));
  const size_t first = words_.size();
  words_.resize(first + size, 0);
  // Packed byte by byte, so the stream is the same on any host.
  for (size_t i = 0; i < length; ++i) {
    words_[first + i / 4] |= static_cast<uint32_t>(static_cast<uint8_t>(text[i])) << (8 * (i % 4));
  }
}

void Writer::PutFloat(double value) {
  PutWord(FloatBits(value));
}

void Writer::PutVector2(const vm::Vector2& v) {
  PutFloat(v.x);
  PutFloat(v.y);
}

void Writer::PutVector3(const vm::Vector3& v) {
  PutFloat(v.x);
  PutFloat(v.y);
  PutFloat(v.z);
}

void Writer::PutBlock(const uint32_t* words, size_t count) {
  PutHeader(CHUNK_BLOCK, 0);
  PutWord(static_cast<uint32_t>(count));
  words_.insert(words_.end(), words, words + count);
}

Reader::Header Reader::ReadHeader() {
  if (pos_ == end_) throw ERROR_HEADER_PAST_END;
  const uint32_t w = *pos_++;
  return {static_cast<uint16_t>(w & 0xffff), static_cast<uint16_t>(w >> 16)};
}

uint32_t Reader::ReadWord() {
  if (pos_ == end_) throw ERROR_WORD_PAST_END;
  return *pos_++;
}

void Reader::Skip(size_t n) {
  if (n > Remaining()) throw ERROR_SKIP_PAST_END;
  pos_ += n;
}

void Reader::ReadTransform(Matrix3x4& out) {
  if (Remaining() < 12) throw ERROR_VALUE_PAST_END;
  for (double& v : out.m) v = FromFloatBits(*pos_++);
}

double Reader::ReadFloat() {
  if (pos_ == end_) throw ERROR_VALUE_PAST_END;
  return FromFloatBits(*pos_++);
}

vm::Vector2 Reader::ReadVector2() {
  if (Remaining() < 2) throw ERROR_VALUE_PAST_END;
  const double x = FromFloatBits(*pos_++);
  return {x, FromFloatBits(*pos_++)};
}

vm::Vector3 Reader::ReadVector3() {
  if (Remaining() < 3) throw ERROR_VALUE_PAST_END;
  const double x = FromFloatBits(*pos_++);
  const double y = FromFloatBits(*pos_++);
  return {x, y, FromFloatBits(*pos_++)};
}

Reader::Block Reader::ReadBlock() {
  const Header h = ReadHeader();
  if (h.kind != CHUNK_BLOCK) throw ERROR_WRONG_KIND;
  if (h.size != 0) throw ERROR_BLOCK_SIZE;
  const size_t count = ReadWord();
  const uint32_t* words = pos_;
  Skip(count);
  return {words, count};
}

uint16_t Reader::ReadChunk(uint16_t kind, uint16_t min_size) {
  const Header h = ReadHeader();
  if (h.kind != kind) throw ERROR_WRONG_KIND;
  if (h.size < min_size) throw ERROR_TOO_SHORT;
  return h.size;
}

std::string Reader::ReadString() {
  const Header h = ReadHeader();
  if (h.kind != CHUNK_STRING) throw ERROR_WRONG_KIND;
  const uint32_t* words = pos_;
  Skip(h.size);
  std::string text;
  for (size_t i = 0; i < size_t{h.size} * 4; ++i) {
    uint32_t w = words[i / 4];
    if (swap_strings_) w = ByteSwap(w);
    const char c = static_cast<char>((w >> (8 * (i % 4))) & 0xff);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

}  // namespace Serializer
