#pragma once

// Test helpers for the stored classes: project-file bytes built with the format's
// encoders, and (through testing/) a temporary file holding them, the text an action
// throws, and a log capture.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_format.h"
#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"
#include "testing/thrown.h"

namespace kxtest {

// Project-file bytes in either mode: header, then what the calls add.
class ProjectBytes {
 public:
  explicit ProjectBytes(bool binary) : binary_(binary) {
    out_ =
        binary ? "KLXP\nVersion 1.0\nMode binary\nEndian big\n" : "KLXP\nVersion 1.0\nMode ascii\n";
  }
  bool binary() const { return binary_; }
  ProjectBytes& Begin(const ProjectKey& key) {
    if (binary_) {
      out_ += static_cast<char>(key.id);
      out_ += static_cast<char>(PF_OBJECT_BEGIN);
    } else {
      out_ += std::string(level_++, '\t') + key.name + " {\n";
    }
    return *this;
  }
  ProjectBytes& End() {
    if (binary_) {
      out_ += static_cast<char>(PF_OBJECT_END);
    } else {
      out_ += std::string(--level_, '\t') + "}\n";
    }
    return *this;
  }
  // A field key: the identifier (binary) or the indented name (ascii).
  ProjectBytes& Key(const ProjectKey& key) {
    if (binary_) {
      out_ += static_cast<char>(key.id);
    } else {
      out_ += std::string(level_, '\t') + key.name;
    }
    return *this;
  }
  ProjectBytes& Byte(uint8_t b) {
    out_ += static_cast<char>(b);
    return *this;
  }
  ProjectBytes& Int(int32_t v) {
    if (binary_) {
      uint8_t bytes[PF_MAX_VARINT_BYTES];
      out_.append(reinterpret_cast<char*>(bytes), EncodeVarint(v, bytes));
    } else {
      char text[PF_ASCII_NUMBER_SIZE];
      out_.append(text, FormatAsciiInt(v, text));
    }
    return *this;
  }
  ProjectBytes& Real(double v) {
    if (binary_) {
      uint8_t bytes[4];
      EncodeSingle(v, bytes);
      out_.append(reinterpret_cast<char*>(bytes), 4);
    } else {
      char text[PF_ASCII_NUMBER_SIZE];
      out_.append(text, FormatAsciiReal(v, text));
    }
    return *this;
  }
  ProjectBytes& Text(const std::string& s) {
    if (binary_) {
      out_ += s;
      out_ += '\0';
    } else {
      out_ += " \"" + s + "\"";
    }
    return *this;
  }
  // Ends a field line (ascii only).
  ProjectBytes& Eol() {
    if (!binary_) out_ += '\n';
    return *this;
  }
  // Raw bytes as they stand.
  ProjectBytes& Raw(const std::string& s) {
    out_ += s;
    return *this;
  }
  std::string& bytes() { return out_; }

 private:
  bool binary_;
  int level_ = 0;
  std::string out_;
};

// Reads the key of the object that the bytes start with, the way the parent's reader
// does before it restores the object: true when it is `key`.
inline bool ReadObjectKey(DataBaseIn& in, const ProjectKey& key) {
  if (in.IsBinary()) {
    in.SetFieldId(in.GetIdentifier());
    return in.IsField(nullptr, key);
  }
  char name[PF_MAX_KEY + 1];
  in.GetAToken(name, sizeof name);
  return in.IsField(name, key);
}

// The file DataBaseOut makes in the given mode (header included) with what write adds.
inline std::string WrittenBytes(bool binary, const std::function<void(DataBaseOut&)>& write) {
  TempDir dir;
  const std::string path = dir.File("written.kpz");
  DataBaseOut out;
  EXPECT_TRUE(out.Open(path.c_str(), binary ? 'b' : 'a'));
  write(out);
  EXPECT_TRUE(out.Close());
  return ReadText(path);
}

}  // namespace kxtest
