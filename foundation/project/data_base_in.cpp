#include "foundation/project/data_base_in.h"

#include <cstring>

namespace {

// Reads a header word ended by a byte of code 32 or less, after optional whitespace.
// Returns false when there is no such word of at most 15 characters.
bool ReadHeaderWord(FileScanner& in, char (&word)[16]) {
  try {
    in.SkipWhitespace();
    in.GetBString(word, sizeof word, 0, 32);
    return true;
  } catch (const char*) {
    return false;
  }
}

}  // namespace

void DataBaseIn::Open(const char* path) {
  FileScanner::Open(path);
  line_ = 1;
  char word[16];

  // A file that is too short or starts with anything else is simply not a project.
  if (!ReadHeaderWord(*this, word) || std::strcmp(word, PF_MAGIC) != 0) {
    throw "DataBaseIn::Open: wrong magic number";
  }

  if (!ReadHeaderWord(*this, word) || std::strcmp(word, "Version") != 0) {
    throw "DataBaseIn::Open: Version missing";
  }
  try {
    version_ = GetAFloat();
  } catch (const char*) {
    throw "DataBaseIn::Open: wrong version";
  }
  if (version_ != PF_VERSION) throw "DataBaseIn::Open: wrong version";

  if (!ReadHeaderWord(*this, word) || std::strcmp(word, "Mode") != 0) {
    throw "DataBaseIn::Open: Mode missing";
  }
  char token[16];
  try {
    GetAToken(token, sizeof token);
  } catch (const char*) {
    throw "DataBaseIn::Open: unknown Mode";
  }
  if (std::strcmp(token, "binary") == 0) {
    binary_ = true;
  } else if (std::strcmp(token, "ascii") == 0) {
    binary_ = false;
  } else {
    throw "DataBaseIn::Open: unknown Mode";
  }
  if (!binary_) {
    SkipWhitespace();
    return;
  }

  // Binary: "Endian big|little" and exactly one line end; the data follows at once.
  try {
    GetAToken(token, sizeof token);
  } catch (const char*) {
    throw "DataBaseIn::Open: Endianness missing";
  }
  if (std::strcmp(token, "Endian") != 0) throw "DataBaseIn::Open: Endianness missing";
  try {
    GetAToken(token, sizeof token);
  } catch (const char*) {
    throw "DataBaseIn::Open: unknown Endian";
  }
  if (std::strcmp(token, "big") == 0) {
    big_endian_ = true;
  } else if (std::strcmp(token, "little") == 0) {
    big_endian_ = false;
  } else {
    throw "DataBaseIn::Open: unknown Endian";
  }
  uint8_t c = GetByte();
  if (c == '\r') c = GetByte();
  if (c != '\n') throw "DataBaseIn::Open: LF missing";
  ++line_;
}

void DataBaseIn::ReadRootIdent() {
  if (binary_) {
    if (GetByte() != PF_KEY_CTRACKMGR.id) throw "DataBaseIn::Read: unexpected ident";
    return;
  }
  char token[16];
  try {
    GetAToken(token, sizeof token);
  } catch (const char*) {
    throw "DataBaseIn::Read: unexpected ident";
  }
  if (std::strcmp(token, PF_KEY_CTRACKMGR.name) != 0) throw "DataBaseIn::Read: unexpected ident";
}

bool DataBaseIn::IsField(const char* key, const ProjectKey& expected) const {
  if (key == nullptr) return binary_ && expected.id != PF_ASCII_ONLY && field_id_ == expected.id;
  return !binary_ && std::strcmp(key, expected.name) == 0;
}

uint8_t DataBaseIn::GetIdentifier() {
  if (!binary_) SkipWhitespace();
  return GetByte();
}

int32_t DataBaseIn::GetInt() {
  return binary_ ? GetBInt() : GetAInt();
}

double DataBaseIn::GetFloat() {
  if (!binary_) return GetAFloat();
  double value = DecodeSingle(Peek(4));
  Skip(4);
  return value;
}

void DataBaseIn::GetFloats(double* out, int n) {
  if (n <= 0) return;
  if (!binary_) {
    for (int i = 0; i < n; ++i) out[i] = GetAFloat();
    return;
  }
  const uint8_t* bytes = Peek(4 * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[i] = DecodeSingle(bytes + 4 * i);
  Skip(4 * static_cast<size_t>(n));
}

int DataBaseIn::GetString(char* buffer, int size) {
  uint8_t terminator = 0;
  if (!binary_) {
    SkipWhitespace();
    if (GetByte() != '"') throw "DataBaseIn::GetString: missing \"";
    terminator = '"';
  }
  int n = 0;
  for (;;) {
    uint8_t c = GetByte();
    if (c == '\n') ++line_;
    if (c == terminator) break;
    if (n < size - 1) buffer[n++] = static_cast<char>(c);
  }
  if (size > 0) buffer[n] = '\0';
  return n;
}

void DataBaseIn::SkipObject() {
  if (binary_) {
    // A binary value carries no length: only an object can be stepped over.
    if (*Peek(1) != PF_OBJECT_BEGIN) {
      throw "DataBaseIn::SkipObject: unknown binary field is not an object";
    }
    long depth = 0;
    do {
      const uint8_t c = GetByte();
      if (c == PF_OBJECT_BEGIN) {
        ++depth;
      } else if (c == PF_OBJECT_END) {
        --depth;
      }
    } while (depth > 0);
    return;
  }
  SkipWhitespace();
  const uint8_t first = *Peek(1);
  if (first == '"') {
    SkipQuoted();
    return;
  }
  if (first != '{') {
    SkipToken();
    return;
  }
  long depth = 0;
  do {
    const uint8_t c = *Peek(1);
    if (c == '"') {
      SkipQuoted();
      continue;
    }
    GetByte();
    if (c == '{') {
      ++depth;
    } else if (c == '}') {
      --depth;
    } else if (c == '\n') {
      ++line_;
    }
  } while (depth > 0);
}

void DataBaseIn::SkipQuoted() {
  GetByte();
  for (;;) {
    const uint8_t c = GetByte();
    if (c == '\n') ++line_;
    if (c == '"') return;
  }
}

void DataBaseIn::SkipToken() {
  // A field without a value must not take its object's closing mark.
  if (*Peek(1) == '}') return;
  // The bytes a token is made of; any other byte is stepped over alone, so the reader
  // always moves on.
  const uint8_t c = GetByte();
  if (c != '+' && c < 0x2d) {
    if (c == '\n') ++line_;
    return;
  }
  while (!AtEnd()) {
    const uint8_t next = *Peek(1);
    if (next != '+' && next < 0x2d) return;
    GetByte();
  }
}
