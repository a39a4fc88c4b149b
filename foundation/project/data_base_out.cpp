#include "foundation/project/data_base_out.h"

#include <cmath>
#include <cstring>
#include <string>

#include "foundation/runtime/notify.h"

DataBaseOut::~DataBaseOut() {
  if (file_ != nullptr) std::fclose(file_);
}

bool DataBaseOut::Open(const char* path, char mode) {
  if (mode != 'a' && mode != 'b') {
    Notify(2, "DataBaseOut::Open: unknown output-mode should be 'a' or 'b'");
    return false;
  }
  if (file_ != nullptr) Close();
  if (path == nullptr) return false;
  // Binary stream in both modes: ascii lines end with LF only on every system.
  file_ = std::fopen(path, "wb");
  if (file_ == nullptr) return false;
  binary_ = mode == 'b';
  failed_ = false;
  level_ = 0;

  // "%.1f" of the version, by hand so that no locale can change the point.
  const long tenths = std::lround(PF_VERSION * 10.0);
  char number[PF_ASCII_NUMBER_SIZE];
  FormatAsciiInt(static_cast<int32_t>(tenths / 10), number);
  std::string header = std::string(PF_MAGIC) + "\nVersion" + number + "." +
                       static_cast<char>('0' + tenths % 10) + "\nMode " +
                       (binary_ ? "binary\nEndian big\n" : "ascii\n");
  Write(header.data(), header.size());
  return true;
}

bool DataBaseOut::Close() {
  if (file_ == nullptr) return false;
  if (std::fflush(file_) != 0 || std::ferror(file_)) failed_ = true;
  if (std::fclose(file_) != 0) failed_ = true;
  file_ = nullptr;
  return !failed_;
}

void DataBaseOut::Write(const void* data, size_t size) {
  if (file_ == nullptr || size == 0) return;
  if (std::fwrite(data, 1, size, file_) != size) failed_ = true;
}

void DataBaseOut::WriteText(const char* text) {
  Write(text, std::strlen(text));
}

void DataBaseOut::PutIndent() {
  if (binary_) return;
  static const char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  for (int n = level_; n > 0;) {
    const int chunk = n < 16 ? n : 16;
    Write(kTabs, static_cast<size_t>(chunk));
    n -= chunk;
  }
}

void DataBaseOut::BeginRoot() {
  if (binary_) {
    const uint8_t bytes[2] = {PF_KEY_KLX.id, PF_OBJECT_BEGIN};
    Write(bytes, 2);
  } else {
    WriteText(PF_KEY_KLX.name);
    WriteText(" {\n");
  }
}

void DataBaseOut::EndRoot() {
  if (binary_) {
    PutByte(PF_OBJECT_END);
  } else {
    WriteText("}\n");
  }
}

void DataBaseOut::PutKey(const ProjectKey& key) {
  if (binary_) {
    PutByte(key.id);
  } else {
    PutIndent();
    WriteText(key.name);
  }
}

void DataBaseOut::BeginObject(const ProjectKey& key) {
  PutKey(key);
  if (binary_) {
    PutByte(PF_OBJECT_BEGIN);
  } else {
    WriteText(" {\n");
    ++level_;
  }
}

void DataBaseOut::EndObject() {
  if (binary_) {
    PutByte(PF_OBJECT_END);
    return;
  }
  if (level_ > 0) --level_;
  PutIndent();
  WriteText("}\n");
}

void DataBaseOut::BeginArray() {
  if (binary_) {
    PutByte(PF_ARRAY_BEGIN);
  } else {
    WriteText(" [\n");
    ++level_;
  }
}

void DataBaseOut::EndArray() {
  if (binary_) {
    PutByte(PF_ARRAY_END);
    return;
  }
  if (level_ > 0) --level_;
  PutIndent();
  WriteText("]\n");
}

void DataBaseOut::PutArrayElement(const double xy[2], int32_t frame, bool more) {
  if (binary_) {
    PutByte(BIN_VECTOR2);
    PutFloats(xy, 2);
    PutInt(frame);
    return;
  }
  PutIndent();
  PutFloats(xy, 2);
  Write(" ", 1);
  PutAInt(frame);
  if (more) WriteText(" ,");
  Write("\n", 1);
}

void DataBaseOut::EndField() {
  if (!binary_) Write("\n", 1);
}

void DataBaseOut::PutByte(uint8_t byte) {
  Write(&byte, 1);
}

void DataBaseOut::PutAInt(int32_t value) {
  char text[PF_ASCII_NUMBER_SIZE];
  Write(text, static_cast<size_t>(FormatAsciiInt(value, text)));
}

void DataBaseOut::PutAFloat(double value) {
  char text[PF_ASCII_NUMBER_SIZE];
  Write(text, static_cast<size_t>(FormatAsciiReal(value, text)));
}

void DataBaseOut::PutVarInt(int32_t value) {
  uint8_t bytes[PF_MAX_VARINT_BYTES];
  Write(bytes, static_cast<size_t>(EncodeVarint(value, bytes)));
}

void DataBaseOut::Put4Chars(char c0, char c1, char c2, char c3) {
  const char chars[4] = {c0, c1, c2, c3};
  Write(chars, sizeof chars);
}

void DataBaseOut::PutInt(int32_t value) {
  if (binary_) {
    PutVarInt(value);
  } else {
    PutAInt(value);
  }
}

void DataBaseOut::PutFloat(double value) {
  PutFloats(&value, 1);
}

void DataBaseOut::PutFloats(const double* values, int n) {
  if (!binary_) {
    for (int i = 0; i < n; ++i) PutAFloat(values[i]);
    return;
  }
  // Vectors are short (a camera record's 3 reals, a colour's 4).
  uint8_t bytes[4 * 16];
  while (n > 0) {
    const int chunk = n < 16 ? n : 16;
    for (int i = 0; i < chunk; ++i) EncodeSingle(values[i], bytes + 4 * i);
    Write(bytes, 4 * static_cast<size_t>(chunk));
    values += chunk;
    n -= chunk;
  }
}

void DataBaseOut::PutString(const char* text) {
  if (text == nullptr) text = "";
  if (binary_) {
    Write(text, std::strlen(text) + 1);
  } else {
    // Ascii texts have no escape: a double quote inside would end the text early and make
    // the file unreadable, so it is stored as a single quote.
    WriteText(" \"");
    for (const char* quote; (quote = std::strchr(text, '"')) != nullptr; text = quote + 1) {
      Write(text, static_cast<size_t>(quote - text));
      Write("'", 1);
    }
    WriteText(text);
    Write("\"", 1);
  }
}

void DataBaseOut::WriteInt(const ProjectKey& key, int32_t value) {
  PutKey(key);
  PutInt(value);
  EndField();
}

void DataBaseOut::WriteFloat(const ProjectKey& key, double value) {
  PutKey(key);
  PutFloat(value);
  EndField();
}

void DataBaseOut::WriteFloats(const ProjectKey& key, const double* values, int n) {
  PutKey(key);
  PutFloats(values, n);
  EndField();
}

void DataBaseOut::WriteString(const ProjectKey& key, const char* text) {
  PutKey(key);
  PutString(text);
  EndField();
}
