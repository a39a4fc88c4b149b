#pragma once

// The project-file writer: header and the primitives of both modes (see
// project_format.h for the bytes).
//
// Use: Open(path, 'a' or 'b') creates the file and writes the header; BeginRoot, the
// stored objects, EndRoot; Close() tells whether everything reached the file. Each stored
// class has a writer function beside its restore code that composes these primitives
// (WriteCamera, WriteFeaturePoint2D, ...). Ascii files end their lines with LF only and
// never depend on the locale.
//
// Write errors (a full disk, a closed descriptor) are remembered: Good() turns false at
// the first failed write and stays false, and Close() returns false after any failure or
// when the final flush fails. Nothing throws.

#include <cstdint>
#include <cstdio>

#include "foundation/project/project_format.h"

class DataBaseOut {
 public:
  DataBaseOut() = default;
  // Closes a file still open (its result is lost: callers that care call Close).
  ~DataBaseOut();
  DataBaseOut(const DataBaseOut&) = delete;
  DataBaseOut& operator=(const DataBaseOut&) = delete;

  // mode 'a' writes ascii, 'b' binary; the file is created or truncated. Another mode
  // logs "DataBaseOut::Open: unknown output-mode should be 'a' or 'b'" (level 2) and
  // creates nothing; so does a null path. A file still open is closed first. Writes the header;
  // returns whether a file is open.
  bool Open(const char* path, char mode);
  // Flushes and closes; true when every write and the close succeeded. False also when no
  // file was open.
  bool Close();

  bool IsOpen() const { return file_ != nullptr; }
  bool IsBinary() const { return binary_; }
  // False after the first failed write.
  bool Good() const { return file_ != nullptr && !failed_; }

  // ---- structure
  // The root block "KLX": its content is not indented.
  void BeginRoot();
  void EndRoot();
  // Field key: binary its identifier, ascii the indentation and the name.
  void PutKey(const ProjectKey& key);
  // An object: its key and the opening mark (ascii " {", LF; the indentation grows).
  void BeginObject(const ProjectKey& key);
  // The closing mark (ascii: indentation back by one, "}", LF).
  void EndObject();
  // An array's marks (ascii " [", LF and the indentation grows; "]" on its own line).
  void BeginArray();
  void EndArray();
  // One element of a vertex's "Data" array: binary BIN_VECTOR2, two singles and the frame
  // varint; ascii one indented line of the two reals, a blank and the frame integer, and
  // " ," when more elements follow.
  void PutArrayElement(const double xy[2], int32_t frame, bool more);
  // Ends a field's line (ascii LF; nothing in binary).
  void EndField();
  // Ascii only: the indentation of the current level (array elements start with it).
  void PutIndent();

  // ---- values, each in the current mode
  void PutInt(int32_t value);
  void PutFloat(double value);
  // n reals; binary: n singles in one write.
  void PutFloats(const double* values, int n);
  // A text; null writes an empty text. Ascii has no escape, so a double quote in the text
  // is written as a single quote (the file stays readable).
  void PutString(const char* text);
  // A raw byte (binary marks such as an array element's identifier).
  void PutByte(uint8_t byte);
  // The binary integer form in either mode: the zig-zag varint of EncodeVarint, 1 to 5
  // bytes (stored word streams give their lengths this way).
  void PutVarInt(int32_t value);
  // Four characters as they are, c0 first.
  void Put4Chars(char c0, char c1, char c2, char c3);
  // The ascii forms: a blank and the number (FormatAsciiInt, FormatAsciiReal).
  void PutAInt(int32_t value);
  void PutAFloat(double value);

  // ---- whole fields: key, value(s), end of line
  void WriteInt(const ProjectKey& key, int32_t value);
  void WriteFloat(const ProjectKey& key, double value);
  void WriteFloats(const ProjectKey& key, const double* values, int n);
  void WriteString(const ProjectKey& key, const char* text);

 private:
  void Write(const void* data, size_t size);
  void WriteText(const char* text);

  FILE* file_ = nullptr;
  int level_ = 0;
  bool binary_ = false;
  bool failed_ = false;
};
