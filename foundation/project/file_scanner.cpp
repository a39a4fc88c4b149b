#include "foundation/project/file_scanner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr size_t kCompactAfter = 32768;  // read position beyond which data moves down
constexpr size_t kRefillTo = 49152;      // a refill stops once more than this is buffered

bool IsTokenByte(uint8_t c) {
  return c == '+' || c >= '-';
}

}  // namespace

FileScanner::FileScanner() : buffer_(new uint8_t[kBufferSize]) {}

FileScanner::~FileScanner() {
  Close();
  delete[] buffer_;
}

void FileScanner::Open(const char* path) {
  if (fd_ >= 0) throw "open: file already open";
  if (path == nullptr) throw "open: could not open file";
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw "open: could not open file";
  fd_ = fd;
  pos_ = 0;
  end_ = 0;
  total_ = 0;
  eof_ = false;
  line_ = 1;
}

void FileScanner::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

const uint8_t* FileScanner::TryPeek(size_t n) {
  if (end_ - pos_ >= n) return buffer_ + pos_;
  if (eof_ || fd_ < 0) return nullptr;
  if (pos_ > kCompactAfter || pos_ + n > kBufferSize) {
    std::memmove(buffer_, buffer_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  for (;;) {
    ssize_t got = 0;
    if (end_ < kBufferSize) {
      do {
        got = ::read(fd_, buffer_ + end_, kBufferSize - end_);
      } while (got < 0 && errno == EINTR);
    }
    if (got <= 0) {
      // End of the file (a read error ends the data as well).
      if (end_ - pos_ >= n) {
        eof_ = true;
        return buffer_ + pos_;
      }
      return nullptr;
    }
    end_ += static_cast<size_t>(got);
    total_ += static_cast<uint64_t>(got);
    if (end_ - pos_ >= n && end_ > kRefillTo) return buffer_ + pos_;
  }
}

const uint8_t* FileScanner::Peek(size_t n) {
  const uint8_t* p = TryPeek(n);
  if (p == nullptr) throw "unexpected end of file";
  return p;
}

bool FileScanner::AtEnd() {
  return TryPeek(1) == nullptr;
}

void FileScanner::SkipWhitespace() {
  for (;;) {
    if (pos_ == end_ && TryPeek(1) == nullptr) return;
    uint8_t c = buffer_[pos_];
    if (c > 32) return;
    if (c == '\n') ++line_;
    ++pos_;
  }
}

int FileScanner::GetBString(char* buffer, int size, int low, int high) {
  int n = 0;
  for (;;) {
    uint8_t c = GetByte();
    if (c >= low && c <= high) {
      if (c == '\n') ++line_;
      break;
    }
    if (n >= size - 1) throw "FileScanner::GetBString: buffer overflow";
    if (c == '\n') ++line_;
    buffer[n++] = static_cast<char>(c);
  }
  if (size > 0) buffer[n] = '\0';
  return n;
}

int FileScanner::GetAToken(char* buffer, int size) {
  SkipWhitespace();
  int n = 0;
  for (;;) {
    if (pos_ == end_ && TryPeek(1) == nullptr) break;
    uint8_t c = buffer_[pos_];
    if (!IsTokenByte(c)) break;
    if (n >= size - 1) throw "FileScanner::GetAToken: buffer overflow";
    buffer[n++] = static_cast<char>(c);
    ++pos_;
  }
  if (size > 0) buffer[n] = '\0';
  return n;
}

int32_t FileScanner::GetAInt() {
  char token[16];
  if (GetAToken(token, sizeof token) == 0 && AtEnd()) throw "unexpected end of file";
  const char* p = token;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') throw "FileScanner::GetAInt: invalid format";
    value = value * 10 + (*p - '0');
    if (value > int64_t{1} << 31) throw "FileScanner::GetAInt: invalid format";
  }
  if (negative) value = -value;
  if (value > INT32_MAX) throw "FileScanner::GetAInt: invalid format";
  return static_cast<int32_t>(value);
}

double FileScanner::GetAFloat() {
  char token[64];
  int n = GetAToken(token, sizeof token);
  if (n == 0 && AtEnd()) throw "unexpected end of file";
  const char* first = token;
  const char* last = token + n;
  bool negative = false;
  // from_chars takes no '+' and no sign before a sign; strtod-style input has at most one.
  if (first != last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
    if (first != last && (*first == '+' || *first == '-')) {
      throw "FileScanner::GetAFloat: invalid format";
    }
  }
  double value = 0;
  auto result = std::from_chars(first, last, value, std::chars_format::general);
  if (result.ec != std::errc()) throw "FileScanner::GetAFloat: invalid format";
  return negative ? -value : value;
}

int32_t FileScanner::GetBInt() {
  uint64_t u = 0;
  for (int i = 0;; ++i) {
    if (i == 5) throw "FileScanner::GetBInt: invalid format";
    uint8_t c = GetByte();
    u |= static_cast<uint64_t>(c >> 1) << (7 * i);
    if ((c & 1) == 0) break;
  }
  if (u > 0xffffffffu) throw "FileScanner::GetBInt: invalid format";
  uint32_t v = static_cast<uint32_t>(u);
  return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1u)));
}
