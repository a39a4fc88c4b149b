#pragma once

// Test helpers for the stored classes: project-file bytes built with the format's
// encoders, a temporary file holding them, the text an action throws, and a log capture.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "foundation/data_base_in.h"
#include "foundation/notify.h"
#include "foundation/project_format.h"

namespace kxtest {

// Collects the log's lines while it lives.
class LogCapture : public NotifyOutputFunction {
 public:
  LogCapture() {
    // A fresh line first, so the next message is never folded into a repeat count.
    NotifyContext::SetOutputFunction(nullptr);
    Notify(0, "capture %p", static_cast<void*>(this));
    NotifyContext::SetOutputFunction(this);
  }
  ~LogCapture() override { NotifyContext::SetOutputFunction(&NotifyContext::Instance()); }
  void Output(const SharedPtr<NotifyMessage>& message) override {
    text += message->text;
    text += '\n';
  }
  bool Has(const std::string& part) const { return text.find(part) != std::string::npos; }
  std::string text;
};

class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    path_ =
        testing::TempDir() + "kx_fd_" + std::to_string(getpid()) + "_" + std::to_string(counter_++);
    FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
  static inline int counter_ = 0;
};

// The text an action throws, or "" when it throws nothing.
inline std::string Thrown(const std::function<void()>& action) {
  try {
    action();
  } catch (const char* text) {
    return text;
  }
  return "";
}

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

}  // namespace kxtest
