// PackedStringList: a growable list of variable-size entries in one heap buffer,
// used for every file list (image files of a sequence, list files, frames of a
// multi-frame file) and for command-line tokens. Held by SharedPtr and never changed
// once handed to the image cache.
//
// Layout: the array of entry pointers grows upwards from the buffer start, the
// entries grow downwards from the buffer end, each rounded up to 8 bytes (so every
// entry starts 8-byte aligned). The first entry lies at the very end of the buffer.
// The buffer starts at 8192 bytes and doubles when full; entry pointers handed out
// stay valid only until the next growth, so build a list completely before reading it.
//
// A file-list entry is a 32-bit signed number (frame number, list-file line number or
// file index) followed by the name's characters and a NUL. Token lists store the
// characters and the NUL alone (AllocEntry).
//
// Allocation failure throws std::bad_alloc. Not thread-safe while being built; a
// finished list may be read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/runtime/shared_ptr.h"

class PackedStringList {
 public:
  static constexpr std::size_t kInitialBufferSize = 8192;

  PackedStringList() = default;
  ~PackedStringList();
  PackedStringList(const PackedStringList&) = delete;
  PackedStringList& operator=(const PackedStringList&) = delete;

  // Reserves an entry of n bytes (uninitialised) and returns its first byte.
  char* AllocEntry(std::size_t n);

  // Adds the file-list entry {number, prefix, name, NUL}. A negative name_length (or
  // prefix_length) means that text is NUL-terminated and is measured; a null prefix
  // adds nothing.
  void Append(const char* name, std::int32_t number, std::ptrdiff_t name_length = -1,
              const char* prefix = nullptr, std::ptrdiff_t prefix_length = 0);

  // The name of file-list entry i; i is clamped to the valid range. "no image" for an
  // empty list.
  const char* GetEntryName(std::int32_t i) const;
  // The number of file-list entry i (i clamped as above); 0 for an empty list.
  std::int32_t GetEntryNumber(std::int32_t i) const;
  // The raw bytes of entry i (for token lists); null when i is out of range.
  const char* GetEntry(std::int32_t i) const;

  // Index of the first entry whose number equals value; -1 when there is none.
  std::int32_t FindNumber(std::int32_t value) const;

  // Orders the entry pointers by the entries' numbers, ascending (heap sort; equal
  // numbers end in no defined order). The entry bytes do not move.
  void SortByNumber();

  std::int32_t Count() const { return count_; }
  // The entry a directory search started from (0 unless set).
  std::int32_t CurrentIndex() const { return current_index_; }
  void SetCurrentIndex(std::int32_t index) { current_index_ = index; }
  // Size of the entry buffer in bytes (0 before the first entry).
  std::size_t BufferSize() const { return static_cast<std::size_t>(buffer_end_ - buffer_start_); }

 private:
  char** Pointers() const { return reinterpret_cast<char**>(buffer_start_); }
  static std::int32_t NumberOf(const char* entry);

  char* buffer_start_ = nullptr;
  char* buffer_end_ = nullptr;
  std::size_t used_ = 0;    // bytes taken by entries at the back of the buffer
  std::int32_t count_ = 0;  // number of entries
  std::int32_t current_index_ = 0;
};

using PackedStringListPtr = SharedPtr<PackedStringList>;
