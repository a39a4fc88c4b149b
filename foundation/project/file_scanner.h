#pragma once

// Buffered reading and tokenizing of a file through a 64 KB window.
//
// Errors are thrown as constant texts (const char*): "unexpected end of file" and the
// messages named at each operation. Nothing read is trusted: numbers are range-checked
// and every buffer is bounded. Numbers never depend on the locale.
//
// The line counter starts at 1 when a file is opened and counts the LF bytes consumed as
// whitespace, inside texts and as string terminators.

#include <cstddef>
#include <cstdint>

class FileScanner {
 public:
  static constexpr size_t kBufferSize = 65536;

  FileScanner();
  virtual ~FileScanner();
  FileScanner(const FileScanner&) = delete;
  FileScanner& operator=(const FileScanner&) = delete;

  // Opens `path` read-only. Throws "open: file already open" while a file is open and
  // "open: could not open file" when the file cannot be opened.
  void Open(const char* path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Address of n unread bytes, not consumed; valid until the next read operation.
  // Throws "unexpected end of file" when the file ends first.
  const uint8_t* Peek(size_t n);
  // The next byte, consumed.
  uint8_t GetByte() {
    if (pos_ == end_) Peek(1);
    return buffer_[pos_++];
  }
  // Consumes n bytes (that Peek made available).
  void Skip(size_t n) { pos_ += n; }
  // True when no unread byte is left.
  bool AtEnd();

  // Consumes bytes of code 32 or less; stops at the end of the file.
  void SkipWhitespace();

  // Copies bytes into buffer until one whose code lies in [low, high]; the terminator is
  // consumed and not stored. More than size - 1 bytes before it throw
  // "FileScanner::GetBString: buffer overflow". Returns the number of bytes stored.
  int GetBString(char* buffer, int size, int low, int high);

  // Skips whitespace, then copies bytes while they are "+" or of code 0x2d ("-") or
  // higher; the first other byte (not consumed) or the end of the file ends the token.
  // A token of size characters or more throws "FileScanner::GetAToken: buffer overflow".
  // Returns the token length.
  int GetAToken(char* buffer, int size);

  // A decimal integer token of at most 15 characters: optional sign, digits; an empty
  // token is 0 (at the end of the file it throws "unexpected end of file"). Anything else,
  // or a value outside 32 bits, throws "FileScanner::GetAInt: invalid format".
  int32_t GetAInt();
  // A real token of at most 63 characters; its longest valid prefix is converted. Throws
  // "FileScanner::GetAFloat: invalid format" when no character converts or the value is
  // out of range, and "unexpected end of file" when the file ends before the token.
  double GetAFloat();
  // A zig-zag varint of at most 5 bytes whose value fits 32 bits; anything longer or
  // larger throws "FileScanner::GetBInt: invalid format".
  int32_t GetBInt();

  long GetLine() const { return line_; }

 protected:
  long line_ = 1;

 private:
  const uint8_t* TryPeek(size_t n);

  int fd_ = -1;
  size_t pos_ = 0;
  size_t end_ = 0;
  uint64_t total_ = 0;
  bool eof_ = false;
  uint8_t* buffer_;
};
