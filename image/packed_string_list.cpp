#include "image/packed_string_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr std::size_t RoundUp8(std::size_t n) {
  return (n + 7) & ~static_cast<std::size_t>(7);
}

constexpr const char kNoImage[] = "no image";

}  // namespace

PackedStringList::~PackedStringList() {
  std::free(buffer_start_);
}

char* PackedStringList::AllocEntry(std::size_t n) {
  constexpr std::size_t kLimit = std::numeric_limits<std::size_t>::max() / 4;
  if (n > kLimit) throw std::bad_alloc();
  const std::size_t rounded = RoundUp8(n);
  const std::size_t needed = rounded + sizeof(char*);
  const std::size_t size = BufferSize();
  const std::size_t taken = sizeof(char*) * static_cast<std::size_t>(count_) + used_;
  if (size - taken < needed) {
    std::size_t new_size = size == 0 ? kInitialBufferSize : size * 2;
    while (new_size - taken < needed) {
      if (new_size > kLimit) throw std::bad_alloc();
      new_size *= 2;
    }
    char* fresh = static_cast<char*>(std::malloc(new_size));
    if (fresh == nullptr) throw std::bad_alloc();
    char* fresh_end = fresh + new_size;
    // Entries keep their distance from the buffer end, so pointers move by the
    // difference of the two ends.
    char** old_pointers = Pointers();
    char** new_pointers = reinterpret_cast<char**>(fresh);
    for (std::int32_t i = 0; i < count_; ++i) {
      new_pointers[i] = fresh_end - (buffer_end_ - old_pointers[i]);
    }
    if (used_ > 0) std::memcpy(fresh_end - used_, buffer_end_ - used_, used_);
    std::free(buffer_start_);
    buffer_start_ = fresh;
    buffer_end_ = fresh_end;
  }
  used_ += rounded;
  char* entry = buffer_end_ - used_;
  Pointers()[count_] = entry;
  ++count_;
  return entry;
}

void PackedStringList::Append(const char* name, std::int32_t number, std::ptrdiff_t name_length,
                              const char* prefix, std::ptrdiff_t prefix_length) {
  const std::size_t name_bytes =
      name == nullptr
          ? 0
          : (name_length < 0 ? std::strlen(name) : static_cast<std::size_t>(name_length));
  const std::size_t prefix_bytes =
      prefix == nullptr
          ? 0
          : (prefix_length < 0 ? std::strlen(prefix) : static_cast<std::size_t>(prefix_length));
  char* entry = AllocEntry(sizeof(std::int32_t) + prefix_bytes + name_bytes + 1);
  std::memcpy(entry, &number, sizeof(number));
  char* text = entry + sizeof(number);
  if (prefix_bytes > 0) std::memcpy(text, prefix, prefix_bytes);
  if (name_bytes > 0) std::memcpy(text + prefix_bytes, name, name_bytes);
  text[prefix_bytes + name_bytes] = '\0';
}

std::int32_t PackedStringList::NumberOf(const char* entry) {
  if (entry == nullptr) return 0;
  std::int32_t number;
  std::memcpy(&number, entry, sizeof(number));
  return number;
}

const char* PackedStringList::GetEntryName(std::int32_t i) const {
  if (count_ == 0) return kNoImage;
  i = std::clamp(i, 0, count_ - 1);
  return Pointers()[i] + sizeof(std::int32_t);
}

std::int32_t PackedStringList::GetEntryNumber(std::int32_t i) const {
  if (count_ == 0) return 0;
  i = std::clamp(i, 0, count_ - 1);
  return NumberOf(Pointers()[i]);
}

const char* PackedStringList::GetEntry(std::int32_t i) const {
  if (i < 0 || i >= count_) return nullptr;
  return Pointers()[i];
}

std::int32_t PackedStringList::FindNumber(std::int32_t value) const {
  for (std::int32_t i = 0; i < count_; ++i) {
    if (NumberOf(Pointers()[i]) == value) return i;
  }
  return -1;
}

void PackedStringList::SortByNumber() {
  if (count_ < 2) return;
  char** p = Pointers();
  auto less = [](const char* a, const char* b) { return NumberOf(a) < NumberOf(b); };
  std::make_heap(p, p + count_, less);
  std::sort_heap(p, p + count_, less);
}
